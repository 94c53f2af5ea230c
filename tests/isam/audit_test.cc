// The audit trail: isaudit's name and state rules, and the records the
// record calls append, read back by an independent parser of the format.

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/os_accounts.h"
#include "isam/bigendian.h"
#include "isam/header.h"
#include "platform/accounts.h"
#include "tests/isam/child.h"
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
    // The writer's 16-bit id is the accounts layer's (never the uid cut
    // to 16 bits; a large uid is mapped, as the mapped-id test shows).
    o << type << " " << (getpid() & 0xFFFF) << " " << tv_getuid() << " " << recnum << " "
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

namespace {

// Mode 0 creates a missing trail for its owner, takes an existing file as
// it is (its contents stay) and refuses a directory at once.
TEST_F(AuditTest, SettingANameCreatesOrTakesTheTrail) {
  std::string kept = Name("kept.aud");
  tevtest::WriteFile(kept, "earlier\n");
  ASSERT_EQ(chmod(kept.c_str(), 0640), 0);
  ASSERT_EQ(Audit(fd_, kept, AU_SETNAME), 0) << iserrno;
  EXPECT_EQ(iserrno, 0);
  struct stat sb;
  ASSERT_EQ(stat(kept.c_str(), &sb), 0);
  EXPECT_EQ(sb.st_mode & 0777, 0640u);
  ASSERT_EQ(Audit(fd_, "", AU_START), 0);
  ASSERT_EQ(iswrite(fd_, Rec(1, 1).b), 0);
  std::string bytes = Bytes(kept);
  EXPECT_EQ(bytes.substr(0, 8), "earlier\n");
  EXPECT_EQ(bytes.size(), 8u + 14u + 21u);
  ASSERT_EQ(Audit(fd_, "", AU_STOP), 0);

  std::string dir = Name("adir");
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  EXPECT_EQ(Audit(fd_, dir, AU_SETNAME), -1);
  EXPECT_EQ(iserrno, EISDIR);
  ASSERT_EQ(Audit(fd_, "", AU_GETNAME), 0);
  EXPECT_EQ(got_, kept);  // the old name stays

  std::string missing = Name("nodir/x.aud");
  EXPECT_EQ(Audit(fd_, missing, AU_SETNAME), -1);
  EXPECT_EQ(iserrno, ENOENT);
}

// Out of descriptors, the trail is still made: the creation closes idle
// data files and tries once more.
TEST_F(AuditTest, SettingANameWhenOutOfDescriptors) {
  std::string trail = Name("emfile.aud");
  std::string buf = trail;
  int fd = fd_;
  isamtest::ChildResult r = isamtest::RunChild([&]() -> int {
    if (int rc = isamtest::UseEveryDescriptor(); rc != 0) return rc;
    if (isaudit(fd, buf.data(), AU_SETNAME) != 0) {
      fprintf(stderr, "iserrno %d\n", iserrno);
      return 13;
    }
    struct stat sb;
    if (stat(trail.c_str(), &sb) != 0 || (sb.st_mode & 0777) != 0600) return 14;
    return 0;
  });
  EXPECT_EQ(r.exit_code, 0) << r.err;
}

// Every directory from the root to path can be searched by other accounts.
bool SearchableByOthers(std::string path) {
  while (!path.empty()) {
    struct stat sb;
    if (stat(path.c_str(), &sb) != 0 || !(sb.st_mode & S_IXOTH)) return false;
    size_t slash = path.rfind('/');
    path = path.substr(0, slash == std::string::npos ? 0 : slash);
  }
  return true;
}

// A process whose uid does not fit 16 bits takes its id from the user-id
// map; that id, not the uid's low 16 bits (another account's id), names the
// writer in the trail. The writer runs as such an account in a mount
// namespace whose password file knows it.
TEST_F(AuditTest, AMappedUserIdNamesTheWriter) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run as another account";
  if (tevtest::RunProgram("/usr/bin/unshare", {"--mount", "/bin/true"}).exit_code != 0) {
    GTEST_SKIP() << "no mount namespace here";
  }
  uid_t big = 100000;
  while (getpwuid(big) != nullptr) ++big;
  ASSERT_NE(big & 0xFFFF, 0xFFFFu);
  const std::string server = "tvaudit", account = "tvaudit";
  std::string work = Name("big");
  ASSERT_EQ(mkdir(work.c_str(), 0700), 0);
  ASSERT_EQ(chmod(dir_.path().c_str(), 0711), 0);
  if (!SearchableByOthers(dir_.path())) GTEST_SKIP() << "temporary directory closed to others";

  // The map hands out ids after the seed.
  std::string reg = work + "/reg";
  tevtest::RunOptions opts;
  opts.env = {{"TARVELON_REGISTRY", reg}, {"ZIVEVODAREVEZO", server}};
  std::string users = "HKLM\\SOFTWARE\\Tarvelon\\Velkor\\" + server + "\\Security\\Users";
  ASSERT_EQ(tevtest::RunProgram(tevtest::BuiltProgram("tvreg"),
                                {"set", users, "UIDSeed", "dword", "4000"}, opts)
                .exit_code,
            0);
  std::string passwd = Bytes("/etc/passwd");
  tevtest::WriteFile(work + "/passwd", passwd + account + ":x:" + std::to_string(big) + ":" +
                                           std::to_string(big) + "::/nonexistent:/bin/sh\n");
  std::string ids = std::to_string(big) + ":" + std::to_string(big);
  ASSERT_EQ(tevtest::RunProgram("/bin/chown", {"-R", ids, work}).exit_code, 0);

  std::string pair = work + "/p", trail = work + "/p.aud";
  tevtest::RunResult r = tevtest::RunProgram(
      "/usr/bin/unshare",
      {"--mount", "/bin/sh", "-c",
       "mount --bind \"$0\" /etc/passwd && exec /usr/bin/setpriv --reuid=" + std::to_string(big) +
           " --regid=" + std::to_string(big) + " --clear-groups \"$@\"",
       work + "/passwd", tevtest::BuiltProgram("audit_probe"), pair, trail},
      opts);
  ASSERT_EQ(r.exit_code, 0) << r.err;

  // The id the accounts layer's map holds for the account.
  setenv("TARVELON_REGISTRY", reg.c_str(), 1);
  setenv("ZIVEVODAREVEZO", server.c_str(), 1);
  uint16_t mapped = 0;
  int found = uidmap_get((tvp::ComputerName() + "\\" + account).c_str(), &mapped);
  unsetenv("TARVELON_REGISTRY");
  unsetenv("ZIVEVODAREVEZO");
  ASSERT_EQ(found, 1);
  EXPECT_EQ(mapped, 4001);
  EXPECT_EQ(r.out, std::to_string(mapped) + "\n");

  std::vector<std::string> lines = Parse(trail, "fixed", "20");
  ASSERT_EQ(lines.size(), 1u);
  std::istringstream in(lines[0]);
  std::string type;
  long when = 0, pid = 0, uid = 0;
  in >> type >> when >> pid >> uid;
  EXPECT_EQ(type, "a");
  EXPECT_EQ(uid, mapped);
  EXPECT_NE(uid, static_cast<long>(big & 0xFFFF));
}

}  // namespace
