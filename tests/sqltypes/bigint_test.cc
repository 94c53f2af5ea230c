#include "sqltypes/bigint.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The stored form is the exact big-endian two's complement; the random
// values are compared with Python's struct.pack('>q') by decimal_oracle.
TEST(Bigint, StoredFormBoundaries) {
  struct Case {
    int64_t value;
    const char* bytes;
  } cases[] = {
      {0, "\x00\x00\x00\x00\x00\x00\x00\x00"},
      {1, "\x00\x00\x00\x00\x00\x00\x00\x01"},
      {-1, "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"},
      {INT64_MAX, "\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF"},
      {BIGINT_NULL, "\x80\x00\x00\x00\x00\x00\x00\x00"},
      {-INT64_MAX, "\x80\x00\x00\x00\x00\x00\x00\x01"},
      {0x0102030405060708, "\x01\x02\x03\x04\x05\x06\x07\x08"},
  };
  for (const Case& c : cases) {
    char field[10] = "@@@@@@@@@";
    stbigint(c.value, field + 1);
    EXPECT_EQ(std::string(field + 1, 8), std::string(c.bytes, 8)) << c.value;
    EXPECT_EQ(field[0], '@');
    EXPECT_EQ(field[9], '\0');
    int64_t back = 12345;
    ldbigint(&back, field + 1);  // unaligned on purpose
    EXPECT_EQ(back, c.value);
  }
}

}  // namespace
