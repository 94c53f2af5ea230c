// The working state of the check utility (one check at a time per process)
// and its steps. Private to the check files.
#pragma once

#include <cstdint>
#include <set>
#include <vector>

#include "isam/isam.h"

namespace isam {

// One bit per number from 1 to count. The numbers the files can really hold
// (up to the dense limit) are bits of a bitmap of limit / 8 + 1 bytes; the
// few numbers above it that damaged pointers or header fields name are kept
// in a set, so that a count raised by a damaged header field never sizes
// the work.
class CheckBitmap {
 public:
  bool Reset(int64_t count, int64_t dense);
  bool Get(int64_t n) const;
  void Set(int64_t n);
  void Clear(int64_t n);
  void ClearAll();
  // Numbers 1..count set.
  int64_t Count(int64_t count) const;
  // Numbers 1..count set here or in other (a bitmap of the same limits).
  int64_t CountUnion(const CheckBitmap& other, int64_t count) const;
  // The lowest set number above n, or 0 when there is none.
  int64_t Next(int64_t n) const;
  // The highest set number up to limit, or 0 when there is none.
  int64_t Last(int64_t limit) const;

 private:
  int64_t count_ = 0;
  int64_t dense_ = 0;
  std::vector<unsigned char> bits_;
  std::set<int64_t> sparse_;
};

enum { REPAIR_SOUND = 0, REPAIR_DAMAGED = 1, REPAIR_CHOSEN = 2 };
enum { ACTION_NONE = 0, ACTION_DELETE = 1, ACTION_RECREATE = 2 };

struct CheckState {
  int n = 0;              // node size
  bool varlen = false;
  int64_t nodecount = 0;
  int64_t reccount = 0;
  int64_t datrecords = 0; // records the ".dat" file holds
  int64_t filenodes = 0;  // whole nodes the ".idx" file holds
  CheckBitmap inuse;      // nodes in use
  CheckBitmap tails;      // tail pages
  CheckBitmap badtails;   // pages reached only by records that cannot be read
  CheckBitmap worknodes;  // nodes of one index or list
  CheckBitmap active;     // active records
  CheckBitmap badrecs;    // records flagged active whose read failed
  CheckBitmap workrecs;   // records of one index or list
  std::vector<unsigned char> actions;  // index number -> action
  int64_t remaderoot = 0;  // the highest root of an index to be remade

  int64_t badnodes = 0, dupnodes = 0, badrecptrs = 0, duprecptrs = 0;
  int64_t walked = 0;
  int level = 0, deepest = 0;
  int64_t tailfree = 0;
  bool damaged = false, disorder = false;
  int noderepair = REPAIR_SOUND, recrepair = REPAIR_SOUND, spacerepair = REPAIR_SOUND;
  // Bad or duplicate entries (not only missing ones) on the free-node list.
  bool nodelistunsafe = false;

  void ResetCounters() {
    badnodes = dupnodes = badrecptrs = duprecptrs = walked = 0;
    level = deepest = 0;
    damaged = disorder = false;
  }
};

CheckState& ck();

// Output: a line (or part of one) on standard output, flushed.
void ck_print(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// "\nERROR: <text>\n".
void ck_error(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Prints the ISAM error of a failed operation and clears iserrno and
// isiocode; nothing when iserrno is 0.
void ck_iserror();
// Asks a yes-or-no question ("? " is added); true for yes.
bool ck_ask(const char* prompt);

// The steps; each returns 0, or -1 when the check must end.
int ck_dictionary();
void ck_records();
void ck_tailpages();
int ck_indexes();
void ck_reclist();
void ck_spacelists();
void ck_nodelist();
void ck_repairs();
void ck_indexactions();

}  // namespace isam
