// The check of the free lists: record numbers, node numbers and the class
// lists of tail pages with free space.

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

constexpr unsigned char kRecordListType = 0xFF;
constexpr unsigned char kNodeListType = 0xFE;

// A list node's entries, or false when its used count is out of bounds.
bool ListEntries(IsamBuffer* b, unsigned char type, std::vector<uint32_t>* out, uint32_t* next) {
  int n = ck().n;
  int used = b->used;
  if (used < 6 || used > n - 3 || b->type != type) return false;
  *next = ldu32(b->data + 2);
  out->clear();
  for (int off = 6; off + 4 <= used; off += 4) out->push_back(ldu32(b->data + off));
  return true;
}

void MarkWorkNodesInUse() {
  CheckState& c = ck();
  for (int64_t n = c.worknodes.Next(0); n != 0; n = c.worknodes.Next(n)) c.inuse.Set(n);
}

// The class a tail page belongs on, as the library files it (5: empty).
int PageClass(const IsamBuffer* g) {
  const TailParams& t = is_state().tail;
  int count = pg_count(g);
  int f = pg_free(g);
  if (count == 0 || f == t.e - 4 * count) return 5;
  if (count == 255) {
    bool empty = false;
    for (int i = 0; i < count; ++i) empty = empty || pg_slotlen(g, i) == 0;
    if (!empty) return 0;
  }
  return f > 0 ? (f - 1) / t.w : 0;
}

}  // namespace

void ck_reclist() {
  CheckState& c = ck();
  IsamThreadState& st = is_state();
  ck_print("Checking data record and index node free lists.\n");
  c.worknodes.ClearAll();
  c.workrecs.ClearAll();
  int64_t bad = 0, dup = 0, missing = 0;
  bool damaged = false;
  for (int64_t r = static_cast<int64_t>(is_hdrget32(HDR_LASTREC)) + 1; r <= c.reccount; ++r) {
    if (c.active.Get(r)) ++dup;
    c.workrecs.Set(r);
  }
  std::vector<uint32_t> entries;
  uint32_t node = is_hdrget32(HDR_FREERECS);
  while (node != 0) {
    if (node < 1 || node > c.nodecount) {
      ck_error("bad index node");
      damaged = true;
      c.noderepair = REPAIR_DAMAGED;
      break;
    }
    if (c.inuse.Get(node) || c.worknodes.Get(node)) {
      ck_error("duplicate index node");
      damaged = true;
      c.noderepair = REPAIR_DAMAGED;
      break;
    }
    c.worknodes.Set(node);
    IsamBuffer* b = is_readbuffer(node);
    if (b == nullptr) {
      ck_iserror();
      damaged = true;
      break;
    }
    uint32_t next = 0;
    bool ok = ListEntries(b, kRecordListType, &entries, &next);
    is_release(b);
    if (!ok) {
      ck_error("bad data record free list format");
      damaged = true;
      break;
    }
    for (uint32_t r : entries) {
      if (r < 1 || r > c.reccount) {
        ++bad;
      } else if (c.workrecs.Get(r) || c.active.Get(r)) {
        ++dup;
      } else {
        c.workrecs.Set(r);
      }
    }
    node = next;
  }
  missing = c.reccount - c.active.CountUnion(c.workrecs, c.reccount);
  st.iserrno = 0;
  bool finding = false;
  auto count = [&](int64_t n, const char* text) {
    if (n == 0) return;
    ck_error(text, static_cast<long>(n));
    finding = true;
  };
  count(bad, "%ld bad data record pointer(s)");
  count(dup, "%ld duplicate data record pointer(s)");
  count(missing, "%ld missing data record pointer(s)");
  // Slots marked active whose records cannot be read: only the free-record
  // repair, which clears them, lets a read in record-number order past them.
  count(c.badrecs.Count(c.reccount), "%ld unreadable data record(s)");
  if (!finding && !damaged) {
    MarkWorkNodesInUse();
    return;
  }
  c.recrepair = REPAIR_DAMAGED;
  if (ck_ask("Fix data record free list ")) {
    c.recrepair = REPAIR_CHOSEN;
  } else {
    MarkWorkNodesInUse();
  }
}

void ck_spacelists() {
  CheckState& c = ck();
  IsamThreadState& st = is_state();
  bool damaged = false;
  c.worknodes.ClearAll();
  for (int cls = 0; cls <= 4 && !damaged; ++cls) {
    uint32_t before = 0;
    uint32_t page = is_hdrget32(HDR_CLASSHEADS + 4 * cls);
    while (page != 0) {
      // Only pages that hold pieces of records belong on the lists, each
      // once.
      bool kept = c.tails.Get(page) || (c.badtails.Get(page) && c.recrepair != REPAIR_CHOSEN);
      if (page > c.nodecount || !kept || c.worknodes.Get(page)) {
        damaged = true;
        break;
      }
      c.worknodes.Set(page);
      IsamBuffer* g = tailpage(page);
      if (g == nullptr) {
        ck_iserror();
        damaged = true;
        break;
      }
      // The head's back link is left as it was when the page became the
      // head; the library never reads it there, so it is not judged.
      bool wrong = g->data[TP_CLASS] != cls || PageClass(g) != cls ||
                   (before != 0 && pg_prev(g) != before);
      uint32_t next = pg_next(g);
      is_release(g);
      if (wrong) {
        damaged = true;
        break;
      }
      before = page;
      page = next;
    }
  }
  st.iserrno = 0;
  if (!damaged) return;
  c.spacerepair = REPAIR_DAMAGED;
  if (ck_ask("Fix variable length storage free lists ")) c.spacerepair = REPAIR_CHOSEN;
}

void ck_nodelist() {
  CheckState& c = ck();
  IsamThreadState& st = is_state();
  // Pages of unreadable records stay while those records do.
  if (c.recrepair != REPAIR_CHOSEN) {
    for (int64_t n = c.badtails.Next(0); n != 0; n = c.badtails.Next(n)) c.inuse.Set(n);
  }
  c.worknodes.ClearAll();
  int64_t bad = 0, dup = 0, missing = 0;
  bool damaged = false;
  for (int64_t n = static_cast<int64_t>(is_hdrget32(HDR_LASTNODE)) + 1; n <= c.nodecount; ++n) {
    if (c.inuse.Get(n)) ++dup;
    c.worknodes.Set(n);
  }
  std::vector<uint32_t> entries;
  uint32_t node = is_hdrget32(HDR_FREENODES);
  while (node != 0) {
    if (node < 1 || node > c.nodecount) {
      ++bad;
      break;
    }
    if (c.inuse.Get(node) || c.worknodes.Get(node)) {
      ++dup;
      break;
    }
    c.worknodes.Set(node);
    IsamBuffer* b = is_readbuffer(node);
    if (b == nullptr) {
      ck_iserror();
      damaged = true;
      break;
    }
    uint32_t next = 0;
    bool ok = ListEntries(b, kNodeListType, &entries, &next);
    is_release(b);
    if (!ok) {
      ck_error("bad index free list format");
      damaged = true;
      break;
    }
    for (uint32_t n : entries) {
      if (n < 1 || n > c.nodecount) {
        ++bad;
      } else if (c.worknodes.Get(n) || c.inuse.Get(n)) {
        ++dup;
      } else {
        c.worknodes.Set(n);
      }
    }
    node = next;
  }
  missing = c.nodecount - c.inuse.CountUnion(c.worknodes, c.nodecount);
  st.iserrno = 0;
  bool finding = false;
  auto count = [&](int64_t n, const char* text) {
    if (n == 0) return;
    ck_error(text, static_cast<long>(n));
    finding = true;
  };
  count(bad, "%ld bad index node pointer(s)");
  count(dup, "%ld duplicate index node pointer(s)");
  count(missing, "%ld missing index node pointer(s)");
  // Anything but missing numbers makes the list unsafe to draw on.
  if (bad > 0 || dup > 0 || damaged || c.noderepair == REPAIR_DAMAGED) c.nodelistunsafe = true;
  if (!finding && !damaged) {
    c.noderepair = c.nodelistunsafe ? REPAIR_DAMAGED : REPAIR_SOUND;
    if (!c.nodelistunsafe) return;
  }
  c.noderepair = REPAIR_DAMAGED;
  if (ck_ask("Fix index node free list ")) c.noderepair = REPAIR_CHOSEN;
}

}  // namespace isam
