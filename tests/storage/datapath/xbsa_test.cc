#include "storage/datapath/xbsa.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace {

TEST(PairOperations, TheDocumentedCases) {
  UInt64Pair p{};
  tevMBytesToUInt64(&p, 4096);
  EXPECT_EQ(p.high, 1u);
  EXPECT_EQ(p.low, 0u);
  tevMBytesToUInt64(&p, 2047);
  EXPECT_EQ(p.high, 0u);
  EXPECT_EQ(p.low, 0x7FF00000u);

  uint32_t mb = 0;
  const UInt64Pair four_gb{1, 0};
  tevUInt64ToMBytes(&mb, &four_gb);
  EXPECT_EQ(mb, 4096u);

  struct {
    UInt64Pair in;
    uint32_t value;
    UInt64Pair out;
  } const subtract[] = {
      {{1, 0}, 1, {0, 0xFFFFFFFF}},
      {{0, 0}, 1, {0, 0xFFFFFFFF}},  // no borrow from a high word of 0
      {{2, 5}, 5, {2, 0}},
  };
  for (const auto& c : subtract) {
    UInt64Pair v = c.in;
    tevUInt64Subtract(&v, c.value);
    EXPECT_EQ(v.high, c.out.high);
    EXPECT_EQ(v.low, c.out.low);
  }
  tevUInt64Subtract(nullptr, 1);

  const UInt64Pair five{0, 5};
  EXPECT_EQ(tevUInt64Compare(&five, 5), 0);
  EXPECT_EQ(tevUInt64Compare(&five, 6), 1);
  EXPECT_EQ(tevUInt64Compare(&five, 4), -1);
  for (uint32_t v : {0u, 1u, 0xFFFFFFFFu}) EXPECT_EQ(tevUInt64Compare(&four_gb, v), -1);
  EXPECT_EQ(tevUInt64Compare(nullptr, 0), 1);
}

// Every operation against plain 64-bit arithmetic on random values.
TEST(PairOperations, AgreeWithSixtyFourBitArithmetic) {
  std::mt19937_64 rng(20261210);
  for (int i = 0; i < 100000; ++i) {
    const uint64_t x = rng() >> (rng() % 64);
    const uint32_t v = static_cast<uint32_t>(rng() >> (rng() % 64));

    UInt64Pair p{};
    tevU64ToUInt64(&p, x);
    uint64_t back = 0;
    tevUInt64ToU64(&back, &p);
    ASSERT_EQ(back, x);

    tevMBytesToUInt64(&p, v);
    tevUInt64ToU64(&back, &p);
    ASSERT_EQ(back, uint64_t{v} * 1048576u);

    tevU64ToUInt64(&p, x);
    uint32_t mb = 0;
    tevUInt64ToMBytes(&mb, &p);
    ASSERT_EQ(mb, static_cast<uint32_t>(x / 1048576u));

    const int expected_compare = x > v ? -1 : (x == v ? 0 : 1);
    ASSERT_EQ(tevUInt64Compare(&p, v), expected_compare) << x << " " << v;

    tevUInt64Subtract(&p, v);
    tevUInt64ToU64(&back, &p);
    if (x >= v || x >> 32 != 0) {
      ASSERT_EQ(back, x - v);
    } else {
      // Below zero with a high word of 0: only the low word wraps.
      ASSERT_EQ(back, (x - v) & 0xFFFFFFFFu);
    }
  }
}

TEST(ApiRecords, OwnerTokenAndDescriptorLayout) {
  XbsaObjectOwner owner;
  std::memset(&owner, 'x', sizeof owner);
  tevSetDefaultOwner(&owner);
  EXPECT_STREQ(owner.bsaObjectOwner, "TARVELON");
  EXPECT_STREQ(owner.appObjectOwner, "tarvelon");

  XbsaSecurityToken token;
  std::memset(&token, 0x5A, sizeof token);
  tevClearSecurityToken(&token);
  const XbsaSecurityToken zero{};
  EXPECT_EQ(std::memcmp(&token, &zero, sizeof token), 0);

  // Offsets summed from the field widths of the layout table.
  EXPECT_EQ(sizeof(XbsaObjectDescriptor), 3128u);
  EXPECT_EQ(offsetof(XbsaObjectDescriptor, owner), 4u);
  EXPECT_EQ(offsetof(XbsaObjectDescriptor, objectSpaceName), 132u);
  EXPECT_EQ(offsetof(XbsaObjectDescriptor, pathName), 1156u);
  EXPECT_EQ(offsetof(XbsaObjectDescriptor, createTime), 2180u);
  EXPECT_EQ(offsetof(XbsaObjectDescriptor, size), 2300u);
  EXPECT_EQ(offsetof(XbsaObjectDescriptor, status), 2344u);
  EXPECT_EQ(offsetof(XbsaObjectDescriptor, description), 2360u);
  EXPECT_EQ(offsetof(XbsaObjectDescriptor, objectInfo), 2616u);
}

}  // namespace
