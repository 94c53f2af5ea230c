// Key descriptions, key comparison and the encoding of key entries.

#include <cfloat>
#include <cstring>
#include <string>
#include <vector>

#include "base/fields.h"
#include "isam/bigendian.h"
#include "isam/key_desc.h"
#include "isam/key_entry.h"
#include "tests/isam/isam_fixture.h"

namespace isamtest {
namespace {

using isam::IsamKeyEntry;

IsamKeyDesc Desc(int flags, std::vector<IsamKeyPart> parts) {
  IsamKeyDesc kd{};
  kd.flags = static_cast<int16_t>(flags);
  kd.nparts = static_cast<int16_t>(parts.size());
  int keylen = 0;
  for (size_t i = 0; i < parts.size() && i < std::size(kd.parts); ++i) {
    kd.parts[i] = parts[i];
    keylen += parts[i].len;
  }
  kd.keylen = static_cast<int16_t>(keylen);
  return kd;
}

IsamKeyEntry Key(const std::string& bytes, int32_t ptr = 0) {
  IsamKeyEntry e;
  std::memcpy(e.key, bytes.data(), bytes.size());
  e.pointer = ptr;
  return e;
}

std::string Hex(const unsigned char* p, int n) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (int i = 0; i < n; ++i) {
    if (i) s += ' ';
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

TEST(KeyCompare, CompositeAndDescendingParts) {
  const std::string five("abcd\0\0\0\5", 8), six("abcd\0\0\0\6", 8);
  IsamKeyDesc up = Desc(0, {{0, 4, 0}, {4, 4, 2}});
  IsamKeyDesc down = Desc(0, {{0, 4, 0}, {4, 4, 2 | IS_DESCENDING}});
  EXPECT_EQ(isam::is_keycompare(Key(five), Key(six), up, 0), -1);
  EXPECT_EQ(isam::is_keycompare(Key(five), Key(six), down, 0), 1);
  EXPECT_EQ(isam::is_keycompare(Key(five), Key(five), down, 0), 0);
}

TEST(KeyCompare, ByteLimitCutsCharacterPartsOnly) {
  IsamKeyDesc chars = Desc(0, {{0, 4, 0}});
  EXPECT_EQ(isam::is_keycompare(Key("abXX"), Key("abYY"), chars, 2), 0);
  EXPECT_EQ(isam::is_keycompare(Key("abXX"), Key("abYY"), chars, 3), -1);
  // A 32-bit part compares all four bytes even when two remain.
  IsamKeyDesc ints = Desc(0, {{0, 4, 2}});
  EXPECT_EQ(isam::is_keycompare(Key(std::string("\0\0\0\1", 4)), Key(std::string("\0\0\0\2", 4)),
                                ints, 2),
            -1);
}

TEST(KeyCompare, FloatingNullsSortFirst) {
  IsamKeyDesc dbl = Desc(0, {{0, 8, 3}});
  IsamKeyEntry null = Key(std::string(8, '\xff'));
  IsamKeyEntry low;
  double v = -1.0e300;
  std::memcpy(low.key, &v, 8);
  EXPECT_EQ(isam::is_keycompare(null, low, dbl, 0), -1);
  EXPECT_EQ(isam::is_keycompare(low, null, dbl, 0), 1);
  EXPECT_EQ(isam::is_keycompare(null, null, dbl, 0), 0);
  IsamKeyDesc flt = Desc(0, {{0, 4, 4}});
  IsamKeyEntry fnull = Key(std::string(4, '\xff'));
  IsamKeyEntry fmin;
  float f = -FLT_MAX;
  std::memcpy(fmin.key, &f, 4);
  EXPECT_EQ(isam::is_keycompare(fnull, fmin, flt, 0), -1);
}

TEST(KeyCompare, CollatedPartsIgnoreTrailingBlanksAndOtherTypesAreEqual) {
  IsamKeyDesc coll = Desc(0, {{0, 4, 7}});
  // Blanks only and a NUL first byte both count as empty.
  EXPECT_EQ(isam::is_keycompare(Key("    "), Key(std::string("\0xyz", 4)), coll, 0), 0);
  EXPECT_EQ(isam::is_keycompare(Key("ab  "), Key("abc "), coll, 0), -1);
  IsamKeyDesc other = Desc(0, {{0, 4, 5}, {4, 4, 16}});
  EXPECT_EQ(isam::is_keycompare(Key("aaaaaaaa"), Key("zzzzzzzz"), other, 0), 0);
}

TEST(KeyBuild, PartsLaidEndToEnd) {
  IsamKeyDesc kd = Desc(0, {{6, 2, 0}, {0, 3, 0}});
  IsamKeyEntry e;
  e.pointer = 9;
  e.dupno = 3;
  isam::is_buildkey(reinterpret_cast<const unsigned char*>("abcdefgh"), &e, kd);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(e.key), 5), "ghabc");
  EXPECT_EQ(e.pointer, 0);
  EXPECT_EQ(e.dupno, 0);
}

class KeyEntryTest : public PairTest {
 protected:
  void SetUp() override { ASSERT_NE(Make("k", 64), nullptr) << Errno(); }

  // Encodes the keys one after another as one node's entries.
  std::string Encode(const IsamKeyDesc& kd, const std::vector<IsamKeyEntry>& keys,
                     std::vector<int>* lengths) {
    unsigned char area[1024] = {};
    IsamKeyEntry prev;
    int off = 0;
    for (size_t i = 0; i < keys.size(); ++i) {
      IsamKeyEntry e = keys[i];
      isam::is_compress(&prev, &e, kd, i == 0 ? isam::KC_FIRST : isam::KC_NORMAL);
      int next = isam::is_putentry(e, area, off, kd);
      EXPECT_EQ(next - off, e.entrylen);
      lengths->push_back(e.entrylen);
      off = next;
      prev = e;
    }
    return std::string(reinterpret_cast<char*>(area), static_cast<size_t>(off));
  }
};

TEST_F(KeyEntryTest, LeadAndTrailEncodingIsByteExact) {
  IsamKeyDesc kd = Desc(IS_LEADCOMP | IS_TRAILCOMP, {{0, 8, 0}});
  std::vector<int> lens;
  std::string bytes = Encode(kd, {Key("ab      ", 0x11), Key("abc     ", 0x22)}, &lens);
  ASSERT_EQ(lens, (std::vector<int>{8, 7}));
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  EXPECT_EQ(Hex(p, 15), "00 06 61 62 00 00 00 11 02 05 63 00 00 00 22");
  // Both decode back to the full keys.
  IsamKeyEntry e;
  int next = isam::is_getentry(p, 0, 15, &e, kd);
  EXPECT_EQ(next, 8);
  next = isam::is_getentry(p, next, 15, &e, kd);
  EXPECT_EQ(next, 15);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(e.key), 8), "abc     ");
  EXPECT_EQ(e.pointer, 0x22);
  EXPECT_EQ(e.lead, 2);
  EXPECT_EQ(e.trail, 5);
}

TEST_F(KeyEntryTest, DuplicateEntriesHoldNumberAndPointerOnly) {
  IsamKeyDesc kd = Desc(IS_DUPS | IS_DUPCOMP, {{0, 3, 0}});
  IsamKeyEntry a = Key("xyz", 7), b = Key("xyz", 8);
  b.dupno = 1;
  std::vector<int> lens;
  std::string bytes = Encode(kd, {a, b}, &lens);
  ASSERT_EQ(lens, (std::vector<int>{11, 8}));
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  EXPECT_EQ(Hex(p, 19), "78 79 7a 00 00 00 00 80 00 00 07 00 00 00 01 00 00 00 08");
  IsamKeyEntry e;
  int next = isam::is_getentry(p, 0, 19, &e, kd);
  EXPECT_EQ(e.flags, isam::KE_NEXT_REPEATS);
  EXPECT_EQ(e.pointer, 7);
  EXPECT_EQ(isam::is_getentry(p, next, 19, &e, kd), 19);
  EXPECT_EQ(e.flags, isam::KE_REPEATS_PREVIOUS);
  EXPECT_EQ(e.dupno, 1);
  EXPECT_EQ(e.pointer, 8);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(e.key), 3), "xyz");
}

TEST_F(KeyEntryTest, TwoByteDuplicateNumbersReadSigned) {
  isam::is_state().curfile->header[isam::HDR_DUPWIDTH] = 2;
  IsamKeyDesc kd = Desc(IS_DUPS, {{0, 2, 0}});
  IsamKeyEntry a = Key("ab", 5);
  a.dupno = -2;
  unsigned char area[16] = {};
  isam::is_compress(&a, &a, kd, isam::KC_FIRST);
  EXPECT_EQ(isam::is_putentry(a, area, 0, kd), 8);
  EXPECT_EQ(Hex(area, 8), "61 62 ff fe 00 00 00 05");
  IsamKeyEntry e;
  EXPECT_EQ(isam::is_getentry(area, 0, 8, &e, kd), 8);
  EXPECT_EQ(e.dupno, -2);
}

TEST_F(KeyEntryTest, DamagedEntriesAreRefused) {
  IsamKeyDesc kd = Desc(IS_LEADCOMP | IS_TRAILCOMP, {{0, 8, 0}});
  struct Case {
    const char* what;
    std::string bytes;
    int off;
  } cases[] = {
      {"counts beyond the key", std::string("\x00\x09" "\0\0\0\1", 6), 0},
      {"lead over a first entry", std::string("\x02\x06" "ab\0\0\0\1", 8), 0},
      {"entry past the end", std::string("\x00\x00" "abcdefgh\0\0", 12), 0},
      {"lead near the maximum", std::string("\x00\x06" "ab\0\0\0\1" "\xff\x00", 10), 8},
  };
  for (const Case& c : cases) {
    IsamKeyEntry e;
    const auto* p = reinterpret_cast<const unsigned char*>(c.bytes.data());
    int start = 0;
    if (c.off > 0) start = isam::is_getentry(p, 0, static_cast<int>(c.bytes.size()), &e, kd);
    EXPECT_EQ(isam::is_getentry(p, start, static_cast<int>(c.bytes.size()), &e, kd), -1) << c.what;
  }
}

TEST_F(KeyEntryTest, LastEntryWithAndWithoutCompression) {
  for (int flags : {0, IS_LEADCOMP | IS_TRAILCOMP | IS_DUPCOMP | IS_DUPS}) {
    IsamKeyDesc kd = Desc(flags, {{0, 4, 0}});
    std::vector<int> lens;
    std::string bytes = Encode(kd, {Key("aaaa", 1), Key("aabb", 2), Key("aabb", 3)}, &lens);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    int end = static_cast<int>(bytes.size());
    IsamKeyEntry e;
    EXPECT_EQ(isam::is_lastentry(p, end, end, &e, kd), lens[0] + lens[1]) << flags;
    EXPECT_EQ(e.pointer, 3);
    EXPECT_EQ(isam::is_lastentry(p, lens[0] + lens[1], end, &e, kd), lens[0]);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(e.key), 4), "aabb");
    EXPECT_EQ(isam::is_lastentry(p, 0, end, &e, kd), -1);
  }
}

TEST(KeyDescCheck, BadDescriptionsGive103) {
  struct Case {
    const char* what;
    IsamKeyDesc kd;
    int rc;
  } cases[] = {
      {"nine parts", Desc(0, std::vector<IsamKeyPart>(9, IsamKeyPart{0, 1, 0})), -1},
      {"no parts", Desc(0, {}), -1},
      {"type 2 of length 3", Desc(0, {{0, 3, 2}}), -1},
      {"key length 121", Desc(0, {{0, 61, 0}, {61, 60, 0}}), -1},
      {"key length 120", Desc(0, {{0, 60, 0}, {60, 60, 0}}), 0},
      {"past the record", Desc(0, {{190, 11, 0}}), -1},
      {"type 14", Desc(0, {{0, 4, 14}}), -1},
      {"free-size type 48", Desc(0, {{0, 5, 48}}), 0},
      {"descending 13", Desc(0, {{0, 8, 13 | IS_DESCENDING}}), 0},
  };
  for (Case& c : cases) {
    isam::is_state().iserrno = 0;
    EXPECT_EQ(isam::is_checkkeydesc(&c.kd, 200), c.rc) << c.what;
    EXPECT_EQ(isam::is_state().iserrno, c.rc == 0 ? 0 : EBADKEYDESC) << c.what;
  }
}

TEST(KeyDescDisk, RoundTripsFlagsAndEmptyDescription) {
  IsamKeyDesc kd = Desc(IS_DUPS | IS_LEADCOMP, {{4, 300, 0}, {0, 4, 2 | IS_DESCENDING}});
  kd.root = 77;
  unsigned char buf[64] = {};
  isam::is_putkeydesc(kd, buf);
  EXPECT_EQ(Hex(buf, 17), "00 11 00 00 00 4d 02 81 2c 00 04 00 00 04 00 00 82");
  IsamKeyDesc back;
  ASSERT_EQ(isam::is_getkeydesc(buf, 64, &back), 0);
  EXPECT_EQ(back.flags, IS_DUPS | IS_LEADCOMP);
  EXPECT_EQ(back.parts[0].len, 300);
  EXPECT_EQ(back.keylen, 304);
  EXPECT_EQ(isam::is_samekeydesc(kd, back), 0);
  EXPECT_EQ(back.root, 77);

  IsamKeyDesc none = Desc(0, {});
  isam::is_putkeydesc(none, buf);
  ASSERT_EQ(isam::is_getkeydesc(buf, 64, &back), 0);
  EXPECT_EQ(back.nparts, 0);
  EXPECT_EQ(back.parts[0].start, 0);
  EXPECT_EQ(back.parts[0].len, 2);
  EXPECT_EQ(back.parts[0].type, 1);
  // A length that no number of parts gives, or one past the node.
  isam::st16(9, buf);
  EXPECT_EQ(isam::is_getkeydesc(buf, 64, &back), -1);
  isam::st16(12, buf);
  EXPECT_EQ(isam::is_getkeydesc(buf, 11, &back), -1);
}

class KeyChainTest : public PairTest {
 protected:
  void SetUp() override {
    sf_ = Make("chain", 200);
    ASSERT_NE(sf_, nullptr) << Errno();
  }
  isam::IsamSharedFile* sf_ = nullptr;
  int Indexes() { return isam::ld16(sf_->header + isam::HDR_NINDEXES); }
};

TEST_F(KeyChainTest, AddFindRemoveAcrossChainedNodes) {
  // 8-part descriptions take 47 bytes: 21 fit in the first node.
  std::vector<IsamKeyDesc> descs;
  for (int i = 0; i < 30; ++i) {
    std::vector<IsamKeyPart> parts;
    for (int p = 0; p < 8; ++p) parts.push_back({static_cast<int16_t>(i + p), 1, 0});
    descs.push_back(Desc(i % 2 ? IS_DUPS : 0, parts));
    ASSERT_EQ(isam::is_addkeydesc(&descs.back()), 0) << i << " " << Errno();
    EXPECT_GT(descs.back().root, 2);
  }
  EXPECT_EQ(Indexes(), 30);
  uint32_t second = isam::ldu32(sf_->header + isam::HDR_KEYDESCNODE);
  EXPECT_EQ(second, 2u);

  Close(sf_);
  sf_ = Open("chain");
  ASSERT_NE(sf_, nullptr);
  for (int i = 0; i < 30; ++i) {
    IsamKeyDesc got{};
    ASSERT_EQ(isam::is_findkeydesc(&got, i + 1), i + 1);
    EXPECT_EQ(isam::is_samekeydesc(got, descs[i]), 0) << i;
    EXPECT_EQ(got.flags, descs[i].flags);
    EXPECT_EQ(got.root, descs[i].root);
    IsamKeyDesc probe = descs[i];
    probe.flags = 0;
    probe.root = 0;
    EXPECT_EQ(isam::is_findkeydesc(&probe, 0), i + 1);
    EXPECT_EQ(probe.root, descs[i].root);
  }
  IsamKeyDesc got{};
  EXPECT_EQ(isam::is_findkeydesc(&got, 31), -1);

  // An identical description is refused; removal closes the gap.
  IsamKeyDesc again = descs[25];
  EXPECT_EQ(isam::is_addkeydesc(&again), -1);
  EXPECT_EQ(Errno(), EKEYEXISTS);
  ASSERT_EQ(isam::is_delkeydesc(&descs[3]), 0);
  EXPECT_EQ(Indexes(), 29);
  ASSERT_EQ(isam::is_findkeydesc(&got, 4), 4);
  EXPECT_EQ(isam::is_samekeydesc(got, descs[4]), 0);
  EXPECT_EQ(isam::is_delkeydesc(&descs[3]), -1);
  EXPECT_EQ(Errno(), EBADKEYDESC);
  // The freed room in the first node takes the next description.
  IsamKeyDesc fresh = Desc(0, {{100, 8, 13}});
  ASSERT_EQ(isam::is_addkeydesc(&fresh), 0);
  ASSERT_EQ(isam::is_findkeydesc(&got, 21), 21);
  EXPECT_EQ(isam::is_samekeydesc(got, fresh), 0);
}

TEST_F(KeyChainTest, DescriptionWithoutPartsHasNoRoot) {
  IsamKeyDesc none = Desc(IS_DUPS, {});
  uint32_t last = isam::is_hdrget32(isam::HDR_LASTNODE);
  ASSERT_EQ(isam::is_addkeydesc(&none), 0);
  EXPECT_EQ(none.root, 0);
  EXPECT_EQ(none.flags, 0);
  EXPECT_EQ(isam::is_hdrget32(isam::HDR_LASTNODE), last);
  IsamKeyDesc bad = Desc(0, {{0, 3, 1}});
  EXPECT_EQ(isam::is_addkeydesc(&bad), -1);
  EXPECT_EQ(Errno(), EBADKEYDESC);
}

TEST_F(KeyChainTest, DamagedChainIsRefused) {
  // A chain that loops back on itself.
  isam::IsamBuffer* b = isam::is_readbuffer(2);
  ASSERT_NE(b, nullptr);
  isam::st32(2, b->data + 2);
  isam::is_releasedirty(b);
  IsamKeyDesc got{};
  EXPECT_EQ(isam::is_findkeydesc(&got, 1), -1);
  EXPECT_EQ(Errno(), EBADFILE);
}

}  // namespace
}  // namespace isamtest
