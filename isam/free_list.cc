// Free lists of record numbers and of ".idx" node numbers. Each list is a
// chain of ".idx" nodes:
//
//   bytes    field
//   0-1      bytes in use: 6 plus 4 per entry
//   2-5      next list node (the head before this one), 0 at the end
//   6..      32-bit entries in the order they were added
//   N-3      0xFF on the free-record list, 0xFE on the free-node list
//   N-2      0x7F
//
// An entry is added only while the bytes in use plus 4 stay below N - 3
// (253 entries in a 1024-byte node). The header holds the list heads (bytes
// 25-28 records, 29-32 nodes) and the last numbers used (33-36, 37-40).

#include <cerrno>

#include "isam/bigendian.h"
#include "isam/buffer_pool.h"
#include "isam/header.h"
#include "isam/records.h"
#include "isam/thread_state.h"

namespace isam {

namespace {

int HeadField(int kind) { return kind == FREE_RECORD ? HDR_FREERECS : HDR_FREENODES; }
int LastField(int kind) { return kind == FREE_RECORD ? HDR_LASTREC : HDR_LASTNODE; }
unsigned char Mark(int kind) { return kind == FREE_RECORD ? 0xFF : 0xFE; }

// A number that may stand on the list: records from 1, nodes from 2 (node
// 1 holds the header), none beyond the last number used.
bool Plausible(int64_t v, int kind) {
  int64_t last = is_hdrget32(LastField(kind));
  return v >= (kind == FREE_RECORD ? 1 : 2) && v <= last;
}

// Reads a list node and checks its bytes in use.
IsamBuffer* ListNode(uint32_t node, int kind) {
  if (!Plausible(node, FREE_NODE)) {
    is_damage();
    return nullptr;
  }
  IsamBuffer* b = is_readbuffer(node);
  if (b == nullptr) return nullptr;
  int n = is_state().tail.n;
  if (b->used < 6 || b->used > n - 4 || (b->used - 6) % 4 != 0 || b->type != Mark(kind)) {
    is_release(b);
    is_damage();
    return nullptr;
  }
  return b;
}

// A number past the last one: the last number grows by one.
int64_t NextNumber(int kind) {
  uint32_t last = is_hdrget32(LastField(kind));
  if (last >= 0x7FFFFFFF) return is_fail(EBADFILE);
  is_hdrput32(LastField(kind), last + 1);
  return last + 1;
}

}  // namespace

int64_t freetake(int kind) {
  IsamThreadState& st = is_state();
  for (int guard = 0; guard < 1 << 20; ++guard) {
    uint32_t head = is_hdrget32(HeadField(kind));
    if (head == 0) break;
    int saved_errno = st.iserrno, saved_io = st.isiocode;
    IsamBuffer* b = ListNode(head, kind);
    if (b == nullptr) {
      // An unreadable list counts as empty.
      st.iserrno = saved_errno;
      st.isiocode = saved_io;
      break;
    }
    uint16_t used = b->used - 4;
    uint32_t v = ldu32(b->data + used);
    if (used > 2) {
      is_nodesetused(b, used);
      is_releasedirty(b);
      if (!Plausible(v, kind)) return is_damage();
      return v;
    }
    // The node held no entries: what was read is its link.
    if (v != 0 && !Plausible(v, FREE_NODE)) {
      is_release(b);
      return is_damage();
    }
    is_hdrput32(HeadField(kind), v);
    is_release(b);
    if (kind == FREE_NODE) return head;
    if (freeput(head, FREE_NODE) != 0) return -1;
  }
  return NextNumber(kind);
}

int freeput(int64_t x, int kind) {
  IsamThreadState& st = is_state();
  int n = st.tail.n;
  if (!Plausible(x, kind)) return is_damage();
  if (x == is_hdrget32(LastField(kind))) {
    is_hdrput32(LastField(kind), static_cast<uint32_t>(x - 1));
    return 0;
  }
  uint32_t head = is_hdrget32(HeadField(kind));
  if (head != 0) {
    IsamBuffer* b = ListNode(head, kind);
    if (b == nullptr) return -1;
    if (b->used + 4 < n - 3) {
      st32(static_cast<uint32_t>(x), b->data + b->used);
      is_nodesetused(b, b->used + 4);
      is_releasedirty(b);
      return 0;
    }
    is_release(b);
  }
  int64_t node = x;
  if (kind == FREE_RECORD) {
    node = freetake(FREE_NODE);
    if (node < 0) return -1;
  }
  IsamBuffer* b = is_newbuffer(static_cast<uint32_t>(node));
  if (b == nullptr) return -1;
  is_nodesetused(b, 6);
  st32(head, b->data + 2);
  is_nodesettype(b, Mark(kind));
  is_nodesetlevel(b, 0x7F);
  if (kind == FREE_RECORD) {
    st32(static_cast<uint32_t>(x), b->data + 6);
    is_nodesetused(b, 10);
  }
  is_releasedirty(b);
  is_hdrput32(HeadField(kind), static_cast<uint32_t>(node));
  return 0;
}

}  // namespace isam

namespace isam {

int64_t freecount(int kind) {
  int64_t count = 0;
  uint32_t node = is_hdrget32(HeadField(kind));
  // A list longer than the file has nodes loops back on itself.
  int64_t limit = is_hdrget32(HDR_LASTNODE);
  for (int64_t seen = 0; node != 0; ++seen) {
    if (seen >= limit) return is_damage();
    IsamBuffer* b = ListNode(node, kind);
    if (b == nullptr) return -1;
    count += (b->used - 6) / 4;
    node = ldu32(b->data + 2);
    is_release(b);
  }
  return count;
}

}  // namespace isam
