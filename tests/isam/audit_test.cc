// The audit trail: isaudit's name and state rules, and the records the
// record calls append, read back by an independent parser of the format.

#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "isam/bigendian.h"
#include "isam/header.h"
#include "tests/isam/record_fixture.h"
#include "tests/support/test_support.h"

namespace {

using isamtest::Rec;
using isamtest::RecordTest;

class AuditTest : public RecordTest {
 protected:
  int Audit(int fd, const std::string& name, int mode) {
    std::string buf = name;
    buf.resize(256);
    int rc = isaudit(fd, buf.data(), mode);
    got_ = buf.c_str();
    flag_ = buf[0];
    return rc;
  }
  uint32_t AuditWord() {
    std::string b = Bytes(rname_ + ".idx");
    return isam::ldu32(reinterpret_cast<const unsigned char*>(b.data()) + isam::HDR_AUDITNODE);
  }
  // The parser's lines for a trail.
  std::vector<std::string> Parse(const std::string& path, const std::string& form,
                                 const std::string& reclen = "") {
    std::vector<std::string> args = {tevtest::SourceDir() + "/tests/isam/audit_parse.py", path,
                                     form};
    if (!reclen.empty()) args.push_back(reclen);
    tevtest::RunResult r = tevtest::RunProgram(tevtest::Python(), args);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    std::vector<std::string> lines;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  static std::string Hex(const unsigned char* p, int len) {
    static const char* d = "0123456789abcdef";
    std::string s;
    for (int i = 0; i < len; ++i) {
      s += d[p[i] >> 4];
      s += d[p[i] & 15];
    }
    return s;
  }
  // The expected line without the time, which is checked apart.
  static std::string Line(char type, int recnum, const unsigned char* rec, int len) {
    std::ostringstream o;
    o << type << " " << (getpid() & 0xFFFF) << " " << (getuid() & 0xFFFF) << " " << recnum << " "
      << len << " " << Hex(rec, len);
    return o.str();
  }
  static std::string WithoutTime(const std::string& line, time_t t0, time_t t1) {
    std::istringstream in(line);
    std::string type, rest;
    long when = 0;
    in >> type >> when;
    std::getline(in, rest);
    EXPECT_GE(when, static_cast<long>(t0) & 0xFFFFFFFF);
    EXPECT_LE(when, static_cast<long>(t1) & 0xFFFFFFFF);
    return type + rest;
  }

  std::string got_;
  char flag_ = 0;
};

TEST_F(AuditTest, NameAndStateRules) {
  std::string trail = Name("trail");
  EXPECT_EQ(Audit(fd_, "", AU_GETNAME), -1);
  EXPECT_EQ(iserrno, EBADARG);
  EXPECT_EQ(Audit(fd_, "", AU_START), -1);
  EXPECT_EQ(iserrno, EBADARG);
  ASSERT_EQ(Audit(fd_, "", AU_INFO), 0);
  EXPECT_EQ(flag_, 0);

  std::string dir = Name("");
  std::string n127 = dir + std::string(127 - dir.size(), 'a');
  std::string n128 = n127 + "b";
  EXPECT_EQ(Audit(fd_, n128, AU_SETNAME), -1);
  EXPECT_EQ(iserrno, EBADARG);
  ASSERT_EQ(Audit(fd_, n127, AU_SETNAME), 0) << iserrno;
  ASSERT_EQ(Audit(fd_, "", AU_GETNAME), 0);
  EXPECT_EQ(got_, n127);
  struct stat sb;
  ASSERT_EQ(stat(n127.c_str(), &sb), 0);  // made, for its owner only
  EXPECT_EQ(sb.st_mode & 0777, 0600u);
  uint32_t node = AuditWord();
  EXPECT_GT(node, 2u);
  EXPECT_EQ(node & 0x80000000u, 0u);

  ASSERT_EQ(Audit(fd_, "", AU_START), 0);
  EXPECT_EQ(AuditWord(), node | 0x80000000u);
  ASSERT_EQ(Audit(fd_, "", AU_INFO), 0);
  EXPECT_EQ(flag_, 1);
  EXPECT_EQ(Audit(fd_, trail, AU_SETNAME), -1);  // not while auditing
  EXPECT_EQ(iserrno, EBADARG);
  ASSERT_EQ(Audit(fd_, "", AU_STOP), 0);
  ASSERT_EQ(Audit(fd_, trail, AU_SETNAME), 0);  // the same node takes it
  EXPECT_EQ(AuditWord(), node);
  ASSERT_EQ(Audit(fd_, "", AU_GETNAME), 0);
  EXPECT_EQ(got_, trail);
  ASSERT_EQ(Audit(fd_, "", AU_START), 0);
  EXPECT_EQ(Audit(fd_, "", 9), 0);  // other modes do nothing

  // Setting an empty name frees the node: a later name takes it again.
  ASSERT_EQ(Audit(fd_, "", AU_STOP), 0);
  ASSERT_EQ(Audit(fd_, "", AU_SETNAME), 0);
  EXPECT_EQ(AuditWord(), 0u);
  EXPECT_EQ(Audit(fd_, "", AU_GETNAME), -1);
  EXPECT_EQ(iserrno, EBADARG);
  ASSERT_EQ(Audit(fd_, trail, AU_SETNAME), 0);
  EXPECT_EQ(AuditWord(), node);

  // A read-only isfd may ask, not change.
  int in = Open(IS_MANULOCK, IS_INPUT);
  EXPECT_EQ(Audit(in, "", AU_GETNAME), 0);
  EXPECT_EQ(Audit(in, "", AU_START), -1);
  EXPECT_EQ(iserrno, ENOTOPEN);

  // Erasing the pair removes its trail.
  ASSERT_EQ(isclose(in), 0);
  ASSERT_EQ(isclose(fd_), 0);
  fd_ = -1;
  ASSERT_EQ(iserase(rname_.c_str()), 0);
  EXPECT_NE(access(trail.c_str(), F_OK), 0);
  EXPECT_EQ(access(n127.c_str(), F_OK), 0);  // no longer named
}

TEST_F(AuditTest, FixedLengthTrailHoldsAllFourKinds) {
  std::string trail = Name("fixed.aud");
  ASSERT_EQ(Audit(fd_, trail, AU_SETNAME), 0);
  Rec before(1, 1, "quiet");
  ASSERT_EQ(iswrite(fd_, before.b), 0);  // auditing still off
  ASSERT_EQ(Audit(fd_, "", AU_START), 0);
  time_t t0 = time(nullptr);
  Rec a(2, 5, "added"), b(3, 5, "other"), w(2, 6, "rewritten");
  ASSERT_EQ(iswrite(fd_, a.b), 0);
  int na = isrecnum;
  ASSERT_EQ(iswrite(fd_, b.b), 0);
  int nb = isrecnum;
  Rec k(2, 0);
  ASSERT_EQ(isread(fd_, k.b, IS_EQUAL), 0);
  ASSERT_EQ(isrewcurr(fd_, w.b), 0);
  ASSERT_EQ(isdelrec(fd_, nb), 0);
  ASSERT_EQ(iswrite(fd_, Rec(2, 0).b), -1);  // a refused insert writes nothing
  time_t t1 = time(nullptr);
  std::vector<std::string> lines = Parse(trail, "fixed", "20");
  std::vector<std::string> want = {Line('a', na, a.b, 20), Line('a', nb, b.b, 20),
                                   Line('r', na, a.b, 20), Line('w', na, w.b, 20),
                                   Line('d', nb, b.b, 20)};
  ASSERT_EQ(lines.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(WithoutTime(lines[i], t0, t1), want[i]);
  EXPECT_EQ(Bytes(trail).size(), 5u * (14 + 21));
}

TEST_F(AuditTest, VariableLengthRecordsCarryTheirLength) {
  std::string v = Name("v"), trail = Name("v.aud");
  IsamKeyDesc kd = isamtest::IntKeyAt(0, 0);
  isrecsize = 10;
  int fd = isbuild(v.c_str(), 100, &kd, IS_INOUT | IS_VARLEN | IS_MANULOCK);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(Audit(fd, trail, AU_SETNAME), 0);
  ASSERT_EQ(Audit(fd, "", AU_START), 0);
  unsigned char rec[100];
  for (int i = 0; i < 100; ++i) rec[i] = static_cast<unsigned char>(i + 1);
  isrecsize = 30;
  ASSERT_EQ(iswrite(fd, rec), 0);
  std::string bytes = Bytes(trail);
  ASSERT_EQ(bytes.size(), 16u + 31u);
  EXPECT_EQ(bytes.substr(0, 2), "aa");
  EXPECT_EQ(bytes[14], 0);
  EXPECT_EQ(bytes[15], 31);
  EXPECT_EQ(bytes.back(), '\n');
  time_t t0 = time(nullptr) - 1;
  ASSERT_EQ(isread(fd, rec, IS_FIRST), 0);
  unsigned char longer[100];
  std::copy(rec, rec + 100, longer);
  longer[50] = 0xEE;
  isrecsize = 80;
  ASSERT_EQ(isrewcurr(fd, longer), 0);
  ASSERT_EQ(isdelcurr(fd), 0);
  std::vector<std::string> lines = Parse(trail, "varlen");
  ASSERT_EQ(lines.size(), 4u);
  time_t t1 = time(nullptr);
  EXPECT_EQ(WithoutTime(lines[1], t0, t1), Line('r', 1, rec, 30));
  EXPECT_EQ(WithoutTime(lines[2], t0, t1), Line('w', 1, longer, 80));
  EXPECT_EQ(WithoutTime(lines[3], t0, t1), Line('d', 1, longer, 80));
  ASSERT_EQ(isclose(fd), 0);
}

TEST_F(AuditTest, AnUnopenableTrailStopsTheChange) {
  std::string trail = Name("gone.aud");
  ASSERT_EQ(Audit(fd_, trail, AU_SETNAME), 0);
  ASSERT_EQ(Audit(fd_, "", AU_START), 0);
  ASSERT_EQ(unlink(trail.c_str()), 0);
  Rec r(1, 1);
  EXPECT_EQ(iswrite(fd_, r.b), -1);
  EXPECT_EQ(iserrno, ENOENT);
  EXPECT_EQ(isiocode, 19);
  ASSERT_EQ(Audit(fd_, "", AU_STOP), 0);
  EXPECT_EQ(Scan(), std::vector<int>{});
}

}  // namespace

namespace {

// Another user of the file (here a second thread, which has descriptors
// and locks of its own like another process) renames the trail while this
// thread has the old one open: the next change goes to the new one.
TEST_F(AuditTest, ATrailRenamedElsewhereIsFollowed) {
  std::string first = Name("first.aud"), second = Name("second.aud");
  ASSERT_EQ(Audit(fd_, first, AU_SETNAME), 0);
  ASSERT_EQ(Audit(fd_, "", AU_START), 0);
  ASSERT_EQ(iswrite(fd_, Rec(1, 1).b), 0);
  std::string name = rname_;
  int rc = -1;
  std::thread other([&] {
    int fd = isopen(name.c_str(), IS_INOUT | IS_MANULOCK);
    std::string buf = second;
    rc = fd >= 0 && isaudit(fd, nullptr, AU_STOP) == 0 && isaudit(fd, buf.data(), AU_SETNAME) == 0 &&
                 isaudit(fd, nullptr, AU_START) == 0 && isclose(fd) == 0
             ? 0
             : iserrno;
  });
  other.join();
  ASSERT_EQ(rc, 0);
  ASSERT_EQ(iswrite(fd_, Rec(2, 1).b), 0);
  EXPECT_EQ(Bytes(first).size(), 14u + 21u);
  EXPECT_EQ(Bytes(second).size(), 14u + 21u);
}

}  // namespace
