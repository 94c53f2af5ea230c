// Fuzz target of the collection readers: damaged stored forms (their
// leading length word within the bytes given) through ldcollection, and
// damaged inline packed values through zel_coll_put_col, each then walked
// with zel_coll_next, changed and folded. Any error is fine; a crash or a
// read past the bytes is not.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "sqltypes/collection.h"
#include "sqltypes/collection_internal.h"

namespace {

void Exercise(SqliCollection* c) {
  CollCursor k;
  if (zel_coll_curs_attach(c, &k) != 0) return;
  for (int i = 0; i < 64; i++) {
    char* p = nullptr;
    int32_t n = 0;
    if (zel_coll_next(c, &k, &p, &n) != 0) break;
    if (i == 1) zel_coll_delete(c, &k, 0);
  }
  zel_coll_curs_detach(c, &k);
  zel_coll_tuple(c);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 1 << 16) return 0;
  const int mode = data[0];
  data++;
  size--;
  if ((mode & 1) == 0) {
    // Stored form: the length word tells how many bytes follow.
    std::vector<char> buf(size + 4);
    coll_put32(buf.data(), static_cast<uint32_t>(size));
    memcpy(buf.data() + 4, data, size);
    SqliCollection c;
    memset(&c, 0, sizeof c);
    if (ldcollection(buf.data(), &c, 1, (mode & 2) != 0) == 0) Exercise(&c);
    zel_coll_free(&c);
    return 0;
  }
  // Packed inline value over a description of a list or row of INTEGER
  // and VARCHAR; references and record images hold addresses of this
  // process and never come from outside.
  alignas(8) static char packed[1 << 16 | 64];
  memcpy(packed, data, size);
  if (size < 3) return 0;
  if (packed[2] == 0) {
    const int b = coll_hdr_pad(packed);
    if (static_cast<size_t>(b) + 8 > size) return 0;
    const uint32_t flags = coll_get32(packed + b);
    if ((flags & (CF_REF | CF_IMAGE)) != 0) return 0;
    const int64_t n = coll_packed_size(packed);
    if (n < 0 || n > static_cast<int64_t>(size)) return 0;
  }
  CollTypeInfo* info = coll_typeinfo_alloc(3);
  info->ti_entry[0].type = static_cast<uint16_t>((mode & 2) != 0 ? SQLROW : SQLLIST);
  info->ti_entry[1].level_no = 1;
  info->ti_entry[1].type = static_cast<uint16_t>((mode & 4) != 0 ? SQLINT : SQLVCHAR);
  info->ti_entry[1].length = 4;
  info->ti_entry[2].level_no = 1;
  info->ti_entry[2].type = SQLVCHAR;
  info->ti_entry[2].length = 10;
  info->ti_count = static_cast<int16_t>((mode & 2) != 0 ? 3 : 2);
  SqliCollection c;
  zel_coll_init(&c, info, 1, nullptr, 0);
  if (zel_coll_put_col(&c, packed) == 0) Exercise(&c);
  zel_coll_free(&c);
  free(info);
  return 0;
}
