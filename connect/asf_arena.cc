// The flattening arena of a hand-over.
//
// Blocks are laid out one after another from offset 0; with flag bit 0
// clear every block starts at a multiple of 4. All numbers are in the
// machine's byte order (both ends are the same program).
//
//   string block:  int32 length (counting the NUL; 0 for no text), bytes
//   record block:  the record's bytes, pointers replaced by int64 offsets
//                  (-1 for none)
//
// The reader trusts nothing it reads: every offset and length must lie
// inside the arena, so a damaged block fails the read.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "connect/asfutil.h"

namespace {

int32_t Rounded(const AsfArena* arena, int32_t n) {
  if (arena->flags & 1u) return n;
  return (n + 3) & ~3;
}

}  // namespace

TV_BEGIN_C

AsfArena* asf_arena_new(uint32_t flags, int64_t cls, void* base, int32_t size) {
  if (!(flags & 1u) && (reinterpret_cast<uintptr_t>(base) & 3u) != 0) return nullptr;
  auto* arena = static_cast<AsfArena*>(std::calloc(1, sizeof(AsfArena)));
  if (arena == nullptr) return nullptr;
  arena->flags = flags;
  arena->cls = cls;
  arena->base = static_cast<unsigned char*>(base);
  arena->size = size < 0 ? 0 : size;
  arena->used = 0;
  return arena;
}

int asf_arena_free(AsfArena* arena) {
  if (arena == nullptr) return -1;
  std::free(arena);
  return 0;
}

void* asf_arena_alloc(AsfArena* arena, int32_t n, int64_t* offset) {
  errno = 0;
  if (offset != nullptr) *offset = -1;
  if (arena == nullptr || n <= 0) return nullptr;
  if (arena->size - arena->used < n) {
    errno = ENOMEM;
    return nullptr;
  }
  void* block = arena->base + arena->used;
  if (offset != nullptr) *offset = arena->used;
  int64_t used = static_cast<int64_t>(arena->used) + Rounded(arena, n);
  arena->used = static_cast<int32_t>(used > arena->size ? arena->size : used);
  return block;
}

void* asf_arena_take(AsfArena* arena, int32_t n) {
  if (arena == nullptr || n <= 0 || arena->used < 0 || arena->size - arena->used < n) {
    errno = ENOMEM;
    return nullptr;
  }
  int64_t offset = 0;
  return asf_arena_alloc(arena, n, &offset);
}

int asf_arena_put_string(AsfArena* arena, const char* text, int64_t* offset) {
  int32_t length = text != nullptr ? static_cast<int32_t>(std::strlen(text) + 1) : 0;
  auto* block = static_cast<unsigned char*>(asf_arena_alloc(arena, length + 4, offset));
  if (block == nullptr) {
    if (offset != nullptr) *offset = -1;
    return -1;
  }
  std::memcpy(block, &length, 4);
  if (length > 0) std::memcpy(block + 4, text, static_cast<size_t>(length));
  return 0;
}

int asf_arena_get_string(AsfArena* arena, int64_t offset, char** text) {
  if (text == nullptr) return -1;
  *text = nullptr;
  if (offset == -1) return 0;
  if (arena == nullptr || offset < 0 || offset > static_cast<int64_t>(arena->size) - 4) {
    errno = EINVAL;
    return -1;
  }
  int32_t length = 0;
  std::memcpy(&length, arena->base + offset, 4);
  if (length < 0 || length > arena->size - offset - 4) {
    errno = EINVAL;
    return -1;
  }
  if (length > 0) {
    const char* bytes = reinterpret_cast<const char*>(arena->base + offset + 4);
    // A text block must end with its NUL and hold no earlier one.
    if (bytes[length - 1] != '\0' || std::memchr(bytes, '\0', static_cast<size_t>(length)) !=
                                         bytes + length - 1) {
      errno = EINVAL;
      return -1;
    }
    *text = static_cast<char*>(std::malloc(static_cast<size_t>(length)));
    if (*text == nullptr) {
      errno = ENOMEM;
      return -1;
    }
    std::memcpy(*text, bytes, static_cast<size_t>(length));
  }
  if (offset == arena->used) {
    int64_t used = offset + Rounded(arena, length + 4);
    arena->used = static_cast<int32_t>(used > arena->size ? arena->size : used);
  }
  return 0;
}

TV_END_C
