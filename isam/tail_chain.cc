// Tail chains of variable-length records. A tail of T bytes is cut into
// pieces of at most P bytes: every piece but the last is exactly P bytes,
// alone in its page (slot 0), and that page's continuation points at the
// next piece; the last piece (1..P bytes) may share its page.

#include <algorithm>

#include "isam/records.h"
#include "isam/tail_page.h"
#include "isam/thread_state.h"

namespace isam {

namespace {

// Longest chain a record of the current file can have; a longer walk is a
// loop in a damaged file.
int MaxPieces() {
  const IsamThreadState& st = is_state();
  return (st.curfile->maxlen - st.curfile->minlen) / st.tail.p + 2;
}

// The page of a piece, with its slot checked and its continuation noted.
IsamBuffer* PieceAt(uint32_t ptr, int64_t* next) {
  IsamBuffer* g = tailpage(tp_node(ptr));
  if (g == nullptr) return nullptr;
  if (tp_slot(ptr) >= pg_count(g)) {
    is_release(g);
    is_damage();
    return nullptr;
  }
  *next = tailnext(g);
  if (*next < 0) {
    is_release(g);
    return nullptr;
  }
  return g;
}

void Split(int len, int* last, int* full) {
  int p = is_state().tail.p;
  *last = len % p == 0 ? p : len % p;
  *full = (len - *last) / p;
}

// Stores full pieces from..to-1 in new pages in front of the chain at q.
int64_t StoreFullPieces(const unsigned char* bytes, int from, int to, int64_t q) {
  int p = is_state().tail.p;
  for (int j = to - 1; j >= from && q >= 0; --j) {
    q = piecestore(bytes + static_cast<int64_t>(j) * p, p, static_cast<uint32_t>(q), nullptr, 0, 0);
  }
  return q;
}

// Points the full-piece page of ptr at cont.
int Relink(uint32_t ptr, uint32_t cont) {
  IsamBuffer* g = tailpage(tp_node(ptr));
  if (g == nullptr) return -1;
  if (tailsetnext(cont, g) != 0) {
    is_release(g);
    return -1;
  }
  is_releasedirty(g);
  return 0;
}

}  // namespace

int64_t tailstore(const unsigned char* bytes, int len) {
  int last, full;
  Split(len, &last, &full);
  int64_t p = piecestore(bytes + static_cast<int64_t>(full) * is_state().tail.p, last, 0,
                         nullptr, 0, 0);
  if (p < 0) return -1;
  return StoreFullPieces(bytes, 0, full, p);
}

int tailread(uint32_t ptr, unsigned char* buf, int len) {
  int total = 0;
  for (int pieces = 0; pieces < MaxPieces(); ++pieces) {
    int64_t next;
    IsamBuffer* g = PieceAt(ptr, &next);
    if (g == nullptr) return -1;
    total += slotcopy(g, tp_slot(ptr), buf + total, len - total);
    is_release(g);
    if (total == len || next == 0) return total;
    ptr = static_cast<uint32_t>(next);
  }
  return is_damage();
}

int tailfree(uint32_t ptr) {
  for (int pieces = 0; pieces < MaxPieces(); ++pieces) {
    int64_t next;
    IsamBuffer* g = PieceAt(ptr, &next);
    if (g == nullptr) return -1;
    if (slotfree(g, tp_slot(ptr)) != 0) {
      is_release(g);
      return -1;
    }
    if (pagerefile(g) != 0) return -1;
    if (next == 0) return 0;
    ptr = static_cast<uint32_t>(next);
  }
  return is_damage();
}

int64_t tailrewrite(uint32_t ptr, const unsigned char* bytes, int len) {
  if (len == 0) return ptr == 0 ? 0 : (tailfree(ptr) != 0 ? -1 : 0);
  if (ptr == 0) return tailstore(bytes, len);
  const int p = is_state().tail.p;
  int last, full;
  Split(len, &last, &full);
  const unsigned char* lastbytes = bytes + static_cast<int64_t>(full) * p;

  int64_t next;
  IsamBuffer* g = PieceAt(ptr, &next);
  if (g == nullptr) return -1;
  if (next == 0) {
    // One old piece: it keeps the new last piece (moving when it must), and
    // the full pieces go into new pages in front of it.
    int64_t q = piecestore(lastbytes, last, 0, g, tp_slot(ptr), PS_OWN | PS_MOVE);
    if (q < 0) return -1;
    return StoreFullPieces(bytes, 0, full, q);
  }

  // Several old pieces: overwrite full pieces in place while both go on.
  uint32_t cur = ptr;
  uint32_t lastover = 0;
  int i = 0;
  int pieces = 0;
  while (next != 0 && i < full) {
    if (++pieces > MaxPieces()) {
      is_release(g);
      return is_damage();
    }
    if (piecestore(bytes + static_cast<int64_t>(i) * p, p, 0, g, tp_slot(cur), PS_OWN) < 0) {
      return -1;
    }
    lastover = cur;
    cur = static_cast<uint32_t>(next);
    ++i;
    g = PieceAt(cur, &next);
    if (g == nullptr) return -1;
  }

  // The new full pieces ran out first: free the old pieces up to the old
  // last piece.
  while (next != 0) {
    if (++pieces > MaxPieces()) {
      is_release(g);
      return is_damage();
    }
    if (slotfree(g, tp_slot(cur)) != 0) {
      is_release(g);
      return -1;
    }
    if (pagerefile(g) != 0) return -1;
    cur = static_cast<uint32_t>(next);
    g = PieceAt(cur, &next);
    if (g == nullptr) return -1;
  }

  // cur is the old last piece: it takes the new last piece, new full pieces
  // go in front of it, and the last overwritten page points at whichever
  // comes first (the last piece may have moved).
  int64_t q = piecestore(lastbytes, last, 0, g, tp_slot(cur), PS_OWN | PS_MOVE);
  if (q < 0) return -1;
  q = StoreFullPieces(bytes, i, full, q);
  if (q < 0) return -1;
  if (lastover == 0) return q;
  if (Relink(lastover, static_cast<uint32_t>(q)) != 0) return -1;
  return ptr;
}

}  // namespace isam
