// Key descriptions: checking them, their form on disk and the chain of
// key-description nodes of the current file.
#pragma once

#include "isam/isam.h"

namespace isam {

// Length of a key description's entry on disk.
inline int is_keydesclen(int nparts) { return 7 + 5 * nparts; }

// 1 for the part types whose length is free (7, 16, 32, ... 112).
int is_freesizetype(int type);
// 0 when both have the same parts (start, length and type); else -1.
int is_samekeydesc(const IsamKeyDesc& a, const IsamKeyDesc& b);
// 1 when a part is a collated character part (type 7).
int is_hascollated(const IsamKeyDesc& kd);
// Checks the parts against the record length and sets the key length; 0,
// or -1 with iserrno 103.
int is_checkkeydesc(IsamKeyDesc* kd, int reclen);

// Encodes kd as a key-description entry (is_keydesclen bytes).
void is_putkeydesc(const IsamKeyDesc& kd, unsigned char* out);
// Decodes the entry at in, which has room bytes left in its node; 0, or -1
// when the entry is damaged.
int is_getkeydesc(const unsigned char* in, int room, IsamKeyDesc* kd);

// n > 0: copies description n into kd. n = 0: finds the description with
// kd's parts and fills in its flags, key length and root. n < 0: finds it
// and removes it from the chain. The index number, or -1: with iserrno 103
// for a bad description, 105 or an I/O error for a damaged chain, and
// iserrno left alone when there is no such description. A found
// description whose parts do not fit the record gives 105, unless
// as_stored is set (the check utility judges descriptions itself).
int is_findkeydesc(IsamKeyDesc* kd, int n, bool as_stored = false);
// Makes the index's empty root (none without parts) and appends kd to the
// chain; kd->root is set. 0, or -1 (103 bad, 108 an identical one exists).
int is_addkeydesc(IsamKeyDesc* kd);
// Removes the description from the chain; 0, or -1 (103 when none).
int is_delkeydesc(IsamKeyDesc* kd);

}  // namespace isam
