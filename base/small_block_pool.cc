// Small-block pool.
//
// Memory layout (offsets from the start of a block):
//   0   8  next block of the chain (null at the end)
//   8   2  free bytes of the block (signed 16-bit); always the last ones
//  16   .. pieces
// An ordinary block is 1016 bytes, so its next piece starts at
// 1016 - free. The pool's handle has the same shape as a block header
// (first-block pointer, free 0) and lies in the first block at offset 16;
// 32 bytes are kept for it, so the first block starts with 968 free bytes.
// The chain stays in descending order of free bytes, so a piece goes into
// the block with the least room that still holds it.

#include <cstdint>
#include <cstdlib>

#include "base/keep_alive.h"
#include "base/thread_state.h"

struct SmallBlockPool {
  SmallBlockPool* next;
  int16_t free;
};

namespace {

constexpr int32_t kBlockSize = 1016;
constexpr int32_t kHeaderSize = 16;
constexpr int32_t kHandleRoom = 32;
constexpr int32_t kLargePiece = 500;  // pieces of this size and up get a block of their own

static_assert(sizeof(SmallBlockPool) <= kHeaderSize);

char* Bytes(SmallBlockPool* b) { return reinterpret_cast<char*>(b); }

SmallBlockPool* NewBlock(size_t bytes) {
  void* p = std::calloc(1, bytes);
  tvbase::KeepAlive(p);
  return static_cast<SmallBlockPool*>(p);
}

// Inserts block into the chain after `from`, past every block with more free
// bytes than its own.
void Insert(SmallBlockPool* from, SmallBlockPool* block) {
  SmallBlockPool* prev = from;
  while (prev->next != nullptr && prev->next->free > block->free) prev = prev->next;
  block->next = prev->next;
  prev->next = block;
}

}  // namespace

SmallBlockPool* rpool_create(void) {
  SmallBlockPool* block = NewBlock(kBlockSize);
  if (block == nullptr) return nullptr;
  auto* handle = reinterpret_cast<SmallBlockPool*>(Bytes(block) + kHeaderSize);
  handle->next = block;
  handle->free = 0;
  block->next = nullptr;
  block->free = static_cast<int16_t>(kBlockSize - kHeaderSize - kHandleRoom);
  return handle;
}

void* rpool_alloc(int32_t size, SmallBlockPool* pool) {
  if (pool == nullptr || size < 0) return nullptr;
  // A block of n + 16 bytes must be representable; refuse sizes for which
  // rounding or the header would overflow.
  if (size > INT32_MAX - kHeaderSize - 7) return nullptr;
  const int32_t n = (size + 7) & ~7;

  SmallBlockPool* prev = pool;
  SmallBlockPool* cur = pool->next;
  while (cur != nullptr && cur->next != nullptr && cur->next->free >= n) {
    prev = cur;
    cur = cur->next;
  }
  if (cur != nullptr && cur->free >= n && cur->free != 0) {
    char* piece = Bytes(cur) + (kBlockSize - cur->free);
    cur->free = static_cast<int16_t>(cur->free - n);
    prev->next = cur->next;
    Insert(prev, cur);
    return piece;
  }

  SmallBlockPool* block;
  if (n < kLargePiece) {
    block = NewBlock(kBlockSize);
    if (block == nullptr) return nullptr;
    block->free = static_cast<int16_t>(kBlockSize - kHeaderSize - n);
  } else {
    block = NewBlock(static_cast<size_t>(n) + kHeaderSize);
    if (block == nullptr) return nullptr;
    block->free = 0;
  }
  Insert(pool, block);
  return Bytes(block) + kHeaderSize;
}

void* rpool_getmem(int32_t size) { return rpool_alloc(size, rthreadpool); }
