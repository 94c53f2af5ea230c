// The B-tree of an index: search, stepping, insert with node splits and
// delete. Every operation works on the current file, the thread's position
// (is_state().pos) and its current key entry (is_state().curkey), which
// holds the entry that the path's leaf level points at.
#pragma once

#include "isam/isam.h"
#include "isam/key_entry.h"

namespace isam {

enum SearchMode { BT_EXACT = 0, BT_GREATER = 1, BT_INSERT = 2 };
enum StepDir { BT_FORWARD = 2, BT_BACKWARD = 3 };
enum EndFlags { END_BEFORE_FIRST = 1, END_AFTER_LAST = 2, END_EMPTY = 3 };

// Finds the first entry greater than k over n key bytes (0: all) in mode
// BT_EXACT (an equal key counts as greater, unless it has a smaller
// duplicate number in an index with duplicates), BT_GREATER (an equal key
// counts as smaller) or BT_INSERT (the insert point after every equal key;
// k's duplicate number is raised above theirs, and an equal key in an index
// without duplicates gives 100). The leaf depth, or -1 with iserrno.
int is_search(IsamKeyEntry* k, const IsamKeyDesc& kd, int n, int mode);

// Positions on the first entry (last = 0), or after the last (last = 1).
// 0, or -1 with iserrno.
int is_firstlast(const IsamKeyDesc& kd, int last);

// Moves one entry forward or backward: 0, the end flags when an end is
// reached (or was reached already in that direction), -1 with iserrno.
int is_step(const IsamKeyDesc& kd, int dir);

// Finds the saved current position again when the path is invalid. The
// read and current-deleted flags are cleared when the entry found is not
// the saved one. 0, or -1 when there is no position (or the current entry
// was deleted and readmode is 4, the current-record read).
int is_refind(const IsamKeyDesc& kd, int readmode);

// Sets the duplicate flag of the position when the neighbour in the
// direction has the current key. 0, or -1 with iserrno.
int is_dupstatus(const IsamKeyDesc& kd, int dir);

// 1 when the path points after the last entry of the whole index.
int is_atindexend();

// Inserts the entry (key and record number); its duplicate number is set
// to the one given. 0, or -1 (100 for a duplicate key in an index without
// duplicates). The path is invalid afterwards.
int is_insertkey(IsamKeyEntry* e, const IsamKeyDesc& kd);
// Inserts e before the current entry of the level pos.depth, splitting
// nodes as needed; 0 or -1.
int is_insertentry(const IsamKeyEntry& e, const IsamKeyDesc& kd);

// Deletes the entry with e's key and record number; 0, or -1 (111 when
// there is none). The path is invalid afterwards.
int is_deletekey(const IsamKeyEntry& e, const IsamKeyDesc& kd);
// Removes the current entry of the level pos.depth, freeing nodes that
// become empty (never the root); 0 or -1.
int is_removeentry(const IsamKeyDesc& kd);

}  // namespace isam
