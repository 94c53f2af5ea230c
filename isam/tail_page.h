// Operations on one tail page (layout in tail_page.cc), used by the tail
// chains of variable-length records and by the check utility.
#pragma once

#include <cstdint>

#include "isam/buffer_pool.h"

namespace isam {

enum TailPageField : int {
  TP_MARKER = 2,
  TP_NEXT = 4,
  TP_PREV = 8,
  TP_FREE = 12,
  TP_FIRSTFREE = 14,
  TP_CONT = 16,
  TP_FLAGS = 20,
  TP_COUNT = 21,
  TP_CLASS = 22,
  TP_DATA = 23,
};

inline constexpr int kTailClassNone = 255;

int pg_count(const IsamBuffer* g);
int pg_free(const IsamBuffer* g);
int pg_firstfree(const IsamBuffer* g);
int pg_slotlen(const IsamBuffer* g, int slot);
int pg_slotoff(const IsamBuffer* g, int slot);
uint32_t pg_next(const IsamBuffer* g);
uint32_t pg_prev(const IsamBuffer* g);

// Checks a page's marker, counts and directory against the node size.
bool pg_sound(const IsamBuffer* g);

int slotalloc(IsamBuffer* g, int len);
int slotresize(IsamBuffer* g, int slot, int len);
int slotstore(IsamBuffer* g, int slot, const unsigned char* bytes, int len);
int slotfree(IsamBuffer* g, int slot);
int slotcopy(const IsamBuffer* g, int slot, unsigned char* buf, int len);
int tailsetnext(uint32_t cont, IsamBuffer* g);
void tailclearnext(IsamBuffer* g);

enum { PS_OWN = 1, PS_MOVE = 2 };
// Stores one piece; with a page, PS_OWN makes this call refile it.
int64_t piecestore(const unsigned char* bytes, int len, uint32_t cont, IsamBuffer* g, int slot,
                   int flags);
// A page with room for a piece of len bytes, held; nullptr on error.
IsamBuffer* pagefind(int len);
// Files the page on the list of its class, or frees it; releases it.
int pagerefile(IsamBuffer* g);

inline uint32_t tp_node(uint32_t ptr) { return ptr & 0xFFFFFF; }
inline int tp_slot(uint32_t ptr) { return static_cast<int>(ptr >> 24); }

}  // namespace isam
