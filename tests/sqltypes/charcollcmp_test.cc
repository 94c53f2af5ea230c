// Collated comparison of counted strings in a locale without a collation
// order: bytes, with the shorter text padded with blanks.

#include "sqltypes/charcollcmp.h"

#include <gtest/gtest.h>

namespace {

TEST(CharCollCmp, BlankPaddedByteOrder) {
  struct Case {
    const char* a;
    int alen;
    const char* b;
    int blen;
    int want;
  } cases[] = {
      {"ab  ", 4, "ab", 2, 0},      // trailing blanks do not count
      {"", 0, "a", 1, -1},          // empty first
      {"a", 1, nullptr, 5, 1},      // a null text is empty
      {"\0zz", 3, "   ", 3, 0},     // NUL-led and all-blank: both empty
      {"   ", 3, "a", 1, -1},
      {"ab", 2, "ab\x01", 3, 1},    // a byte below the blank sorts first
      {"ab", 2, "abc", 3, -1},
      {"\xe9", 1, "z", 1, 1},       // unsigned bytes
      {"abd", 3, "abc ", 4, 1},
  };
  for (const Case& c : cases) {
    int32_t status = 99;
    EXPECT_EQ(rcharcollcmp(nullptr, c.a, c.alen, c.b, c.blen, &status), c.want)
        << c.a << " / " << (c.b ? c.b : "(null)");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(rcharcollcmp(nullptr, c.b, c.blen, c.a, c.alen, nullptr), -c.want);
  }
}

}  // namespace
