// Keys of an index: built from the parts of a record and compared part by
// part. Character parts compare as unsigned bytes (type 0) or under the
// collation (type 7); integers are big-endian and signed; floating parts
// are in machine order, all 0xFF bytes being the null that sorts first.
// The accepted free-form types compare equal.

#include <cstring>

#include "base/fields.h"
#include "isam/bigendian.h"
#include "isam/collation.h"
#include "isam/key_entry.h"
#include "sqltypes/bigint.h"
#include "sqltypes/charcollcmp.h"

namespace isam {
namespace {

template <typename T>
int Order(T a, T b) {
  return a < b ? -1 : a > b ? 1 : 0;
}

int NullableOrder(double a, bool anull, double b, bool bnull) {
  if (anull || bnull) return anull == bnull ? 0 : anull ? -1 : 1;
  return Order(a, b);
}

// Collated parts use the client locale's collation.
GlLocale* CollationLocale() { return is_collationlocale(); }

inline int ComparePart(const unsigned char* a, const unsigned char* b, int type, int len, int n) {
  switch (type) {
    case 0: {
      int m = len < n ? len : n;
      int r = std::memcmp(a, b, static_cast<size_t>(m));
      return r < 0 ? -1 : r > 0 ? 1 : 0;
    }
    case 1:
      return Order(ld16(a), ld16(b));
    case 2:
      return Order(ld32(a), ld32(b));
    case 3: {
      int16_t an = 0, bn = 0;
      double x = lddblnull(a, &an), y = lddblnull(b, &bn);
      return NullableOrder(x, an != 0, y, bn != 0);
    }
    case 4: {
      int16_t an = 0, bn = 0;
      float x = ldfltnull(a, &an), y = ldfltnull(b, &bn);
      return NullableOrder(x, an != 0, y, bn != 0);
    }
    case 7: {
      int m = len < n ? len : n;
      return rcharcollcmp(CollationLocale(), reinterpret_cast<const char*>(a), m,
                          reinterpret_cast<const char*>(b), m, nullptr);
    }
    case 13: {
      int64_t x = 0, y = 0;
      ldbigint(&x, a);
      ldbigint(&y, b);
      return Order(x, y);
    }
    default:
      return 0;
  }
}

}  // namespace

int is_keycompare(const IsamKeyEntry& a, const IsamKeyEntry& b, const IsamKeyDesc& kd, int n) {
  return is_keycmpbytes(a.key, b.key, kd, n);
}

int is_keycmpbytes(const unsigned char* a, const unsigned char* b, const IsamKeyDesc& kd, int n) {
  if (n <= 0) n = kd.keylen;
  int off = 0;
  int r = 0;
  for (int i = 0; r == 0 && n > 0 && i < kd.nparts && i < IS_MAXPARTS; ++i) {
    const IsamKeyPart& part = kd.parts[i];
    int len = part.len;
    // A part that would run past the key buffer ends the comparison.
    if (len < 0 || off + len > IS_MAXKEYLEN) break;
    r = ComparePart(a + off, b + off, part.type & 0x7F, len, n);
    if (part.type & IS_DESCENDING) r = -r;
    n -= len;
    off += len;
  }
  return r;
}

void is_buildkey(const unsigned char* record, IsamKeyEntry* e, const IsamKeyDesc& kd) {
  *e = IsamKeyEntry{};
  int off = 0;
  for (int i = 0; i < kd.nparts && i < IS_MAXPARTS; ++i) {
    const IsamKeyPart& part = kd.parts[i];
    if (part.len <= 0 || part.start < 0 || off + part.len > IS_MAXKEYLEN) continue;
    std::memcpy(e->key + off, record + part.start, static_cast<size_t>(part.len));
    off += part.len;
  }
}

}  // namespace isam
