// A fixture for the record calls: pair "r" of 20-byte records with a
// unique index on the integer at byte 0 (index 1) and an index with
// duplicates on the integer at byte 4 (index 2); bytes 8-19 are payload.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "isam/bigendian.h"
#include "isam/isam.h"
#include "tests/isam/isfd_fixture.h"

namespace isamtest {

inline IsamKeyDesc IntKeyAt(int start, int flags) {
  IsamKeyDesc kd = {};
  kd.flags = static_cast<int16_t>(flags);
  kd.nparts = 1;
  kd.parts[0] = {static_cast<int16_t>(start), 4, 2};
  return kd;
}

struct Rec {
  unsigned char b[20] = {};
  Rec() = default;
  Rec(int a, int dup, const char* text = "") {
    isam::st32(static_cast<uint32_t>(a), b);
    isam::st32(static_cast<uint32_t>(dup), b + 4);
    std::strncpy(reinterpret_cast<char*>(b + 8), text, 12);
  }
  int a() const { return isam::ld32(b); }
  int dup() const { return isam::ld32(b + 4); }
};

class RecordTest : public IsfdTest {
 protected:
  void SetUp() override {
    IsfdTest::SetUp();
    rname_ = Name("r");
    IsamKeyDesc primary = IntKeyAt(0, 0);
    fd_ = isbuild(rname_.c_str(), 20, &primary, IS_INOUT | IS_EXCLLOCK);
    ASSERT_GE(fd_, 0) << iserrno;
    IsamKeyDesc second = IntKeyAt(4, IS_DUPS);
    ASSERT_EQ(isaddindex(fd_, &second), 0) << iserrno;
    ASSERT_EQ(isclose(fd_), 0);
    fd_ = Open(IS_MANULOCK);
  }
  int Open(int lockmode, int access = IS_INOUT) {
    return isopen(rname_.c_str(), access | lockmode);
  }
  // Writes records (a, dup) and returns their record numbers.
  std::vector<int> Write(std::initializer_list<std::pair<int, int>> recs) {
    std::vector<int> nums;
    for (auto [a, d] : recs) {
      Rec r(a, d, "x");
      EXPECT_EQ(iswrite(fd_, r.b), 0) << iserrno;
      nums.push_back(isrecnum);
    }
    return nums;
  }
  // Reads with mode; the key field a() of the record, or -iserrno.
  int Read(int mode, Rec* key = nullptr) {
    Rec r = key != nullptr ? *key : Rec();
    if (isread(fd_, r.b, mode) != 0) return -iserrno;
    return r.a();
  }
  void Start(int index, int mode, Rec key = Rec(), int keylen = 0) {
    IsamKeyDesc kd = index == 1 ? IntKeyAt(0, 0) : index == 2 ? IntKeyAt(4, 0) : IsamKeyDesc{};
    ASSERT_EQ(isstart(fd_, &kd, keylen, key.b, mode), 0) << iserrno;
  }
  // The key fields a() in the order of a full scan of the current index.
  std::vector<int> Scan(int first = IS_FIRST, int next = IS_NEXT) {
    std::vector<int> out;
    for (int v = Read(first); v >= 0; v = Read(next)) out.push_back(v);
    return out;
  }

  std::string rname_;
  int fd_ = -1;
};

}  // namespace isamtest
