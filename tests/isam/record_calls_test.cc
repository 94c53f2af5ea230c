// The record calls through their public interface: positioning, reading in
// every mode, the end and no-current chains with their status codes, and
// changes that keep every index in step with the data.

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "isam/thread_state.h"
#include "tests/isam/record_fixture.h"

namespace {

using isamtest::IntKeyAt;
using isamtest::Rec;
using isamtest::RecordTest;
using V = std::vector<int>;

TEST_F(RecordTest, StartThenNextPreviousAndTheEnds) {
  Write({{30, 1}, {10, 2}, {20, 3}});
  Start(1, IS_FIRST);
  EXPECT_EQ(Read(IS_NEXT), 10);  // not read yet: the first record itself
  EXPECT_EQ(Read(IS_NEXT), 20);
  EXPECT_EQ(Read(IS_CURRENT), 20);
  EXPECT_EQ(Read(IS_PREVIOUS), 10);
  EXPECT_EQ(Read(IS_PREVIOUS), -EENDFILE);

  Start(1, IS_LAST);
  EXPECT_EQ(Read(IS_PREVIOUS), 30);
  Start(1, IS_LAST);
  EXPECT_EQ(Read(IS_NEXT), -EENDFILE);
  EXPECT_EQ(Status(), "10/10");

  EXPECT_EQ(Read(IS_LAST), 30);
  EXPECT_EQ(isrecnum, 1);
  EXPECT_EQ(isrecsize, 20);
  EXPECT_EQ(Scan(), (V{10, 20, 30}));
  EXPECT_EQ(Scan(IS_LAST, IS_PREVIOUS), (V{30, 20, 10}));

  Rec k(20, 0);
  EXPECT_EQ(Read(IS_EQUAL, &k), 20);
  EXPECT_EQ(Read(IS_GREATER, &k), 30);
  Rec k2(15, 0);
  EXPECT_EQ(Read(IS_GREATER_EQUAL, &k2), 20);
  Start(1, IS_GREATER_EQUAL, k2);
  EXPECT_EQ(Read(IS_NEXT), 20);
}

TEST_F(RecordTest, EndAndNoCurrentChainsSetStatus46) {
  Write({{1, 1}, {2, 1}});
  EXPECT_EQ(Read(IS_LAST), 2);
  EXPECT_EQ(Read(IS_NEXT), -EENDFILE);
  EXPECT_EQ(Status(), "10/10");
  EXPECT_EQ(Read(IS_NEXT), -ENOCURRENT);
  EXPECT_EQ(Status(), "21/46");
  EXPECT_EQ(Read(IS_CURRENT), -ENOCURRENT);
  EXPECT_EQ(Status(), "21/43");  // the read before ended with 112, not 110

  EXPECT_EQ(Read(IS_LAST), 2);
  EXPECT_EQ(Read(IS_NEXT), -EENDFILE);
  EXPECT_EQ(Read(IS_PREVIOUS), -ENOCURRENT);
  EXPECT_EQ(Status(), "21/46");

  Rec missing(7, 0);
  EXPECT_EQ(Read(IS_EQUAL, &missing), -ENORECORD);
  EXPECT_EQ(Status(), "23/23");
  EXPECT_EQ(Read(IS_NEXT), -ENOCURRENT);
  EXPECT_EQ(Status(), "21/46");
  EXPECT_EQ(Read(IS_FIRST), 1);
  EXPECT_EQ(Status(), "00/00");
}

TEST_F(RecordTest, EqualKeysSetStatus02) {
  Write({{1, 5}, {2, 5}, {3, 6}});
  Start(2, IS_FIRST);
  EXPECT_EQ(Read(IS_NEXT), 1);
  EXPECT_EQ(Status(), "02/02");
  EXPECT_EQ(Read(IS_NEXT), 2);
  EXPECT_EQ(Status(), "00/00");
  EXPECT_EQ(Read(IS_PREVIOUS), 1);
  EXPECT_EQ(Status(), "00/00");  // nothing equal before the first
  EXPECT_EQ(Read(IS_LAST), 3);
  EXPECT_EQ(Read(IS_PREVIOUS), 2);
  EXPECT_EQ(Status(), "02/02");
  // A prefix of the key: the first of the equal ones.
  Rec k(0, 5);
  Start(2, IS_EQUAL, k, 2);
  EXPECT_EQ(Read(IS_NEXT), 1);
  // Writing a second equal key reports it too.
  Rec r(4, 6, "y");
  ASSERT_EQ(iswrite(fd_, r.b), 0);
  EXPECT_EQ(Status(), "02/02");
}

TEST_F(RecordTest, RewriteCollisionLeavesDataAndIndexesAlone) {
  Write({{1, 10}, {2, 20}, {3, 30}});
  Rec k(2, 0);
  ASSERT_EQ(Read(IS_EQUAL, &k), 2);
  Rec changed(3, 99, "clash");  // key 3 belongs to another record
  EXPECT_EQ(isrewcurr(fd_, changed.b), -1);
  EXPECT_EQ(iserrno, EDUPLICATE);
  EXPECT_EQ(Status(), "22/22");
  EXPECT_EQ(Scan(), (V{1, 2, 3}));
  Start(2, IS_FIRST);
  EXPECT_EQ(Scan(IS_NEXT), (V{1, 2, 3}));
  Rec again(2, 0);
  ASSERT_EQ(isread(fd_, again.b, IS_EQUAL), -1);  // index 2 is current: key 0 absent
  Start(1, IS_FIRST);
  ASSERT_EQ(Read(IS_EQUAL, &k), 2);
  Rec now(2, 0);
  ASSERT_EQ(isread(fd_, now.b, IS_CURRENT), 0);
  EXPECT_EQ(now.dup(), 20);
  EXPECT_STREQ(reinterpret_cast<char*>(now.b + 8), "x");

  // A rewrite that moves both keys: the position follows the record.
  Rec moved(9, 5, "moved");
  ASSERT_EQ(isrewcurr(fd_, moved.b), 0) << iserrno;
  EXPECT_EQ(Read(IS_CURRENT), 9);
  EXPECT_EQ(Read(IS_PREVIOUS), 3);
  EXPECT_EQ(Scan(), (V{1, 3, 9}));
  Start(2, IS_FIRST);
  EXPECT_EQ(Scan(IS_NEXT), (V{9, 1, 3}));
}

TEST_F(RecordTest, DeletesAndReuseOfNumbers) {
  V nums = Write({{1, 1}, {2, 1}, {3, 1}, {4, 1}});
  Rec k(2, 0);
  ASSERT_EQ(Read(IS_EQUAL, &k), 2);
  ASSERT_EQ(isdelcurr(fd_), 0) << iserrno;
  EXPECT_EQ(Read(IS_CURRENT), -ENOCURRENT);
  EXPECT_EQ(Read(IS_NEXT), 3);
  EXPECT_EQ(isdelcurr(fd_), 0);
  EXPECT_EQ(Read(IS_PREVIOUS), 1);

  EXPECT_EQ(isdelrec(fd_, nums[3]), 0);
  EXPECT_EQ(isdelrec(fd_, nums[3]), -1);
  EXPECT_EQ(iserrno, ENORECORD);
  EXPECT_EQ(isdelrec(fd_, 0), -1);
  EXPECT_EQ(Status(), "23/23");
  EXPECT_EQ(isdelrec(fd_, 99), -1);
  EXPECT_EQ(iserrno, ENORECORD);
  EXPECT_EQ(Scan(), (V{1}));

  // Freed numbers come back.
  V again = Write({{5, 1}, {6, 1}, {7, 1}});
  std::vector<int> sorted = again;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, (V{2, 3, 4}));
  IsamDictInfo info;
  ASSERT_EQ(isindexinfo(fd_, &info, 0), 0);
  EXPECT_EQ(info.nrecords, 4);
}

TEST_F(RecordTest, RecordNumberOrder) {
  Write({{1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}, {7, 0}});
  ASSERT_EQ(isdelrec(fd_, 6), 0);
  IsamKeyDesc none = {};
  none.flags = 0x7F;
  isrecnum = 5;
  ASSERT_EQ(isstart(fd_, &none, 0, nullptr, IS_EQUAL), 0);
  EXPECT_EQ(none.flags, 0);
  EXPECT_EQ(Read(IS_NEXT), 5);
  EXPECT_EQ(Read(IS_NEXT), 7);  // 6 is gone
  EXPECT_EQ(Read(IS_NEXT), -EENDFILE);
  isrecnum = 5;
  ASSERT_EQ(isstart(fd_, &none, 0, nullptr, IS_GREATER), 0);
  EXPECT_EQ(isrecnum, 7);
  isrecnum = 6;
  EXPECT_EQ(isstart(fd_, &none, 0, nullptr, IS_EQUAL), -1);
  EXPECT_EQ(iserrno, ENORECORD);
  isrecnum = 8;
  EXPECT_EQ(isstart(fd_, &none, 0, nullptr, IS_GREATER_EQUAL), -1);
  EXPECT_EQ(iserrno, ENORECORD);
  EXPECT_EQ(Scan(IS_LAST, IS_PREVIOUS), (V{7, 5, 4, 3, 2, 1}));
  EXPECT_EQ(Scan(), (V{1, 2, 3, 4, 5, 7}));
  // Deleting the current record: the next read moves past it.
  EXPECT_EQ(Read(IS_FIRST), 1);
  ASSERT_EQ(isdelcurr(fd_), 0);
  EXPECT_EQ(Read(IS_CURRENT), -ENOCURRENT);
  EXPECT_EQ(Read(IS_NEXT), 2);
}

TEST_F(RecordTest, RefusedArguments) {
  Write({{1, 1}});
  Rec r;
  IsamKeyDesc primary = IntKeyAt(0, 0);
  IsamKeyDesc unknown = IntKeyAt(8, 0);
  struct Case {
    const char* what;
    std::function<int()> call;
    int err;
  } cases[] = {
      {"read mode 8", [&] { return isread(fd_, r.b, 8); }, EBADARG},
      {"read lock bits 0x600", [&] { return isread(fd_, r.b, IS_FIRST | 0x600); }, EBADARG},
      {"read lock bits 0x800", [&] { return isread(fd_, r.b, IS_FIRST | 0x800); }, EBADARG},
      {"start IS_NEXT", [&] { return isstart(fd_, &primary, 0, r.b, IS_NEXT); }, EBADARG},
      {"start IS_CURRENT", [&] { return isstart(fd_, &primary, 0, r.b, IS_CURRENT); }, EBADARG},
      {"start negative length", [&] { return isstart(fd_, &primary, -1, r.b, IS_EQUAL); }, EBADARG},
      {"start no such index", [&] { return isstart(fd_, &unknown, 0, r.b, IS_FIRST); }, EBADKEYDESC},
      {"rewrite without current", [&] { return isrewcurr(fd_, r.b); }, ENOCURRENT},
      {"delete without current", [&] { return isdelcurr(fd_); }, ENOCURRENT},
      {"duplicate key", [&] { Rec d(1, 2); return iswrite(fd_, d.b); }, EDUPLICATE},
      {"bad isfd", [&] { return isread(77, r.b, IS_FIRST); }, ENOTOPEN},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(isstart(fd_, &primary, 0, nullptr, IS_FIRST), 0);
    EXPECT_EQ(c.call(), -1) << c.what;
    EXPECT_EQ(iserrno, c.err) << c.what;
  }
  IsamKeyDesc wrong = IntKeyAt(0, 0);
  wrong.parts[0].len = 2;
  EXPECT_EQ(isstart(fd_, &wrong, 0, r.b, IS_FIRST), -1);
  EXPECT_EQ(iserrno, EBADKEYDESC);
  // A key length beyond the index's key.
  EXPECT_EQ(isstart(fd_, &unknown, 0, r.b, IS_FIRST), -1);
  IsamKeyDesc second = IntKeyAt(4, 0);
  EXPECT_EQ(isstart(fd_, &second, 5, r.b, IS_EQUAL), -1);
  EXPECT_EQ(iserrno, EBADARG);
  EXPECT_EQ(isstart(fd_, &second, 0, r.b, IS_FIRST), 0);
  EXPECT_EQ(second.flags, IS_DUPS);
}

TEST_F(RecordTest, AccessRefusalsNameTheCall) {
  Write({{1, 1}});
  ASSERT_EQ(isclose(fd_), 0);
  Rec r(1, 1);
  IsamKeyDesc primary = IntKeyAt(0, 0);
  int in = Open(IS_MANULOCK, IS_INPUT);
  int out = Open(IS_MANULOCK, IS_OUTPUT);
  ASSERT_GE(in, 0);
  ASSERT_GE(out, 0);
  struct Case {
    const char* what;
    std::function<int()> call;
    const char* status;
  } cases[] = {
      {"read write-only", [&] { return isread(out, r.b, IS_FIRST); }, "90/47"},
      {"start write-only", [&] { return isstart(out, &primary, 0, r.b, IS_FIRST); }, "90/47"},
      {"write read-only", [&] { return iswrite(in, r.b); }, "90/48"},
      {"rewrite read-only", [&] { return isrewcurr(in, r.b); }, "90/49"},
      {"delete read-only", [&] { return isdelcurr(in); }, "90/49"},
      {"delrec read-only", [&] { return isdelrec(in, 1); }, "90/49"},
      {"rewrite write-only", [&] { return isrewcurr(out, r.b); }, "90/49"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.call(), -1) << c.what;
    EXPECT_EQ(iserrno, ENOTOPEN) << c.what;
    EXPECT_EQ(Status(), c.status) << c.what;
  }
  Rec w(2, 2);
  EXPECT_EQ(iswrite(out, w.b), 0);
  EXPECT_EQ(isread(in, r.b, IS_LAST), 0);
  EXPECT_EQ(r.a(), 2);
}

TEST_F(RecordTest, VariableLengthRecords) {
  std::string v = Name("v");
  IsamKeyDesc kd = IntKeyAt(0, 0);
  isrecsize = 8;
  int fd = isbuild(v.c_str(), 3000, &kd, IS_INOUT | IS_VARLEN | IS_MANULOCK);
  ASSERT_GE(fd, 0) << iserrno;
  std::vector<unsigned char> big(3000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<unsigned char>(i * 7);
  for (int len : {8, 9, 1500, 3000}) {
    isam::st32(static_cast<uint32_t>(len), big.data());
    isrecsize = len;
    ASSERT_EQ(iswrite(fd, big.data()), 0) << len;
  }
  for (int len : {7, 3001}) {
    isrecsize = len;
    EXPECT_EQ(iswrite(fd, big.data()), -1);
    EXPECT_EQ(iserrno, EBADARG);
    EXPECT_EQ(std::string(isstatus_b, 2), "44");
  }
  std::vector<unsigned char> got(3000);
  isam::st32(1500, got.data());
  ASSERT_EQ(isread(fd, got.data(), IS_EQUAL), 0);
  EXPECT_EQ(isrecsize, 1500);
  EXPECT_TRUE(std::equal(got.begin() + 4, got.begin() + 1500, big.begin() + 4));
  // Shrink it and grow it again through rewrites.
  isrecsize = 10;
  ASSERT_EQ(isrewcurr(fd, got.data()), 0);
  ASSERT_EQ(isread(fd, got.data(), IS_CURRENT), 0);
  EXPECT_EQ(isrecsize, 10);
  isrecsize = 2999;
  isam::st32(1500, big.data());
  ASSERT_EQ(isrewcurr(fd, big.data()), 0);
  ASSERT_EQ(isread(fd, got.data(), IS_CURRENT), 0);
  EXPECT_EQ(isrecsize, 2999);
  EXPECT_TRUE(std::equal(got.begin(), got.begin() + 2999, big.begin()));
  ASSERT_EQ(isdelcurr(fd), 0);
  ASSERT_EQ(isclose(fd), 0);
}

}  // namespace
