// Helpers shared by the collection modules (not exported).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "sqltypes/collection.h"

// The allocator of collection blocks. Tests replace it to hand out blocks
// that are not 8-byte aligned (the C library's never are not).
struct CollAllocator {
  void* (*alloc)(size_t size);
  void (*release)(void* block);
};
extern CollAllocator coll_allocator;

void* coll_alloc(size_t size);
void coll_release(void* block);

// A data block of n bytes (n + 4 are reserved): the data starts 4 bytes in
// when the block is not 8-byte aligned, and *shifted tells so. Null when
// out of memory.
char* coll_data_alloc(size_t n, bool* shifted);
// Frees data made by coll_data_alloc.
void coll_data_free(char* data, bool shifted);
// Frees the record's data when it owns it, and drops ownership.
void coll_drop_data(SqliCollection* coll);

inline uint32_t coll_get32(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}
inline void coll_put32(void* p, uint32_t v) {
  auto* b = static_cast<unsigned char*>(p);
  for (int i = 0; i < 4; i++) b[i] = static_cast<unsigned char>(v >> (24 - 8 * i));
}

inline bool coll_is_colltype(int t) { return t >= SQLSET && t <= SQLCOLLECTION; }

// The description operations work on: the client's, else the server's.
const CollTypeInfo* coll_info(const SqliCollection* coll);
// The element's type entry of a collection (entry 1, or 0 with fewer than
// 2 entries); null without one.
const CollTypeEntry* coll_elem_entry(const CollTypeInfo* info);
// Field n (from 1) of a ROW description; null when there is none.
const CollTypeEntry* coll_row_field(const CollTypeInfo* info, int n);
bool coll_is_row(const CollTypeInfo* info);
// Stored size of an element of this type: the stored Decimal size for
// DECIMAL, MONEY, DATETIME and INTERVAL, else `len`.
int32_t coll_elem_size(const CollTypeEntry* e, int32_t len);
// Hash of one element of that type.
uint32_t coll_elem_hash(int type, const char* data, int32_t len);
uint32_t coll_string_hash(const char* data, int32_t len);
uint32_t coll_fold(const char* data, int32_t len);
// Counts the elements of the packed data into cl_cardinality.
int coll_count(SqliCollection* coll);
// Recomputes cl_hashvalue by walking the elements.
int coll_rehash(SqliCollection* coll);

// Whether len bytes at p hold a whole stored value of the type (declared
// length `length`), so that loading it reads nothing beyond them.
bool coll_elem_fits(int type, int16_t length, const char* p, int32_t len);

// Packed header helpers.
// Padding b of a header whose first byte is at p.
inline int coll_hdr_pad(const void* p) {
  const uintptr_t r = (reinterpret_cast<uintptr_t>(p) + 3) % 8;
  return r == 0 ? 3 : static_cast<int>(11 - r);
}
// The header's length word (either form); -1 for a damaged header.
int64_t coll_hdr_length(const char* packed);
// Size of a packed value: its length word + 2 (3 for a null value).
int64_t coll_packed_size(const char* packed);
// The same for a value within n bytes: -1 when its header or its length
// reaches past them.
int64_t coll_packed_size_n(const char* packed, int64_t n);
// Whether a nested value within n bytes is null or holds its data inline:
// element data never holds addresses (references, record images).
inline bool coll_inline_form(const char* p, int64_t n) {
  if (n < 3) return false;
  if (p[2] != 0) return true;
  const int b = coll_hdr_pad(p);
  if (b + 8 > n) return false;
  const uint32_t kind = coll_get32(p + b);
  return (kind & (CF_REF | CF_IMAGE)) == 0;
}
// Null test of a packed nested value.
inline bool coll_hdr_isnull(const char* packed) { return packed[2] != 0; }

// Derives the description of an element or field (zel_coll_subtypeinfo)
// into a new block; null when there is none or out of memory.
CollTypeInfo* coll_subinfo(const CollTypeInfo* info, int field, int* rc);
