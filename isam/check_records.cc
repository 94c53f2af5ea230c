// The check of the data records and of the tail pages of variable-length
// records.

#include <algorithm>
#include <cstring>
#include <vector>

#include "isam/bigendian.h"
#include "isam/buffer_pool.h"
#include "isam/check_state.h"
#include "isam/header.h"
#include "isam/records.h"
#include "isam/tail_page.h"
#include "isam/thread_state.h"

namespace isam {

namespace {

constexpr unsigned char kActive = 0x0A;
constexpr unsigned char kTailType = 0x7C;

// Follows the tail chain of a variable-length record, noting its pages.
// 1 when the record can be read whole, 0 when it fails without an error
// number, -1 when it fails with one.
int FollowChain(int64_t recnum, std::vector<uint32_t>* pages) {
  CheckState& c = ck();
  IsamThreadState& st = is_state();
  unsigned char trailer[7];
  if (datatrailer(recnum, trailer) != 7) return st.iserrno != 0 ? -1 : 0;
  if (trailer[0] != kActive) return 0;
  uint32_t ptr = ldu32(trailer + 3);
  // A chain longer than the file has nodes loops.
  for (int64_t steps = 0; ptr != 0; ++steps) {
    uint32_t node = tp_node(ptr);
    if (node == 0 || node > c.nodecount) return 0;
    if (steps > c.nodecount) return is_damage();
    pages->push_back(node);
    IsamBuffer* g = tailpage(node);
    if (g == nullptr) return -1;
    int64_t next = tailnext(g);
    is_release(g);
    if (next < 0) return -1;
    ptr = static_cast<uint32_t>(next);
  }
  return dataread(recnum, st.recbuf.get()) >= 0 ? 1 : -1;
}

// The pages of a readable record are tail pages; those of a record that
// cannot be read are kept apart, so that letting the record go lets its
// pages go too.
int VariableRecord(int64_t recnum) {
  CheckState& c = ck();
  std::vector<uint32_t> pages;
  int r = FollowChain(recnum, &pages);
  for (uint32_t node : pages) (r > 0 ? c.tails : c.badtails).Set(node);
  return r;
}

// Reads one record: 1 active, 0 deleted, -1 bad.
int Record(int64_t recnum) {
  IsamThreadState& st = is_state();
  st.iserrno = 0;
  st.isiocode = 0;
  // Slots past the end of the ".dat" file hold nothing.
  if (recnum > ck().datrecords) return 0;
  if (ck().varlen) return VariableRecord(recnum);
  if (dataread(recnum, st.recbuf.get()) >= 0) return 1;
  return st.iserrno != 0 ? -1 : 0;
}

// The next page above node that a record's chain reaches, or 0.
int64_t NextPage(int64_t node) {
  CheckState& c = ck();
  int64_t a = c.tails.Next(node);
  int64_t b = c.badtails.Next(node);
  return a == 0 ? b : b == 0 ? a : std::min(a, b);
}

}  // namespace

void ck_records() {
  CheckState& c = ck();
  IsamThreadState& st = is_state();
  ck_print("Checking data file records.\n");
  // Slots past the end of the ".dat" file hold nothing.
  int64_t last = c.reccount < c.datrecords ? c.reccount : c.datrecords;
  for (int64_t n = 1; n <= last; ++n) {
    int r = Record(n);
    if (r > 0) {
      c.active.Set(n);
    } else {
      if (r < 0) ck_error("bad data record");
      // A slot still marked active that cannot be read: the free-record
      // repair takes it back.
      st.iserrno = 0;
      if (n <= c.datrecords && datatest(n) == 1) c.badrecs.Set(n);
    }
  }
  st.iserrno = 0;
  st.isiocode = 0;
}

void ck_tailpages() {
  CheckState& c = ck();
  const TailParams& t = is_state().tail;
  for (int64_t node = NextPage(0); node != 0; node = NextPage(node)) {
    if (c.tails.Get(node)) c.inuse.Set(node);
    IsamBuffer* g = is_readbuffer(static_cast<uint32_t>(node));
    if (g == nullptr) {
      ck_iserror();
      continue;
    }
    int findings = 0;
    auto corrupt = [&]() {
      ck_print("Corrupt variable length record storage page, index node %ld\n",
               static_cast<long>(node));
      ++findings;
    };
    if (g->data[TP_MARKER] != '~' || g->data[TP_MARKER + 1] != '&' || g->type != kTailType) {
      corrupt();
    }
    int count = pg_count(g);
    if (count == 0) corrupt();
    int64_t total = 0;
    bool badslot = false;
    for (int i = 0; i < count && 4 * i <= t.s - TP_DATA; ++i) {
      int len = static_cast<int16_t>(pg_slotlen(g, i));
      int off = static_cast<int16_t>(pg_slotoff(g, i));
      if (len < 0 || len > t.e || (len != 0 && (off < 0 || off > t.n - 1))) badslot = true;
      total += len;
    }
    if (badslot) corrupt();
    if (total > t.e) corrupt();
    int f = pg_free(g);
    if (f < 0 || f >= t.e) corrupt();
    // A page the library itself would refuse is reported too.
    if (findings == 0 && !pg_sound(g)) corrupt();
    if (f > 0 && c.tails.Get(node)) c.tailfree += f;
    is_release(g);
  }
}

}  // namespace isam
