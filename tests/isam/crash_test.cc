// Fault injection: a writer child (crash_writer.cc) changes a pair until the
// test kills it with SIGKILL at a random instant, or a sound pair is damaged
// field by field. Then, as an operator would after a crash:
// - opening the pair and reading it in every order gives known codes and
//   never crashes;
// - the check without answers changes no byte;
// - the repair (every question answered yes) ends with 0 and a second check
//   finds nothing;
// - every row flushed and not touched since reads back by key unchanged, a
//   touched key reads one of its own rows or nothing, and every index and
//   the record-number order hold the same rows.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "isam/bigendian.h"
#include "isam/check.h"
#include "isam/header.h"
#include "isam/isam.h"
#include "isam/tail_page.h"
#include "tests/isam/check_fixture.h"
#include "tests/isam/child.h"
#include "tests/isam/crash_rows.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

namespace {

using isamtest::Row;

constexpr int kKeys = 300;

// What the writer's reports say about each key.
struct Outcome {
  std::map<int32_t, int32_t> durable;             // key -> version on disk for sure
  std::set<int32_t> touched;                      // keys changed since then
  std::map<int32_t, std::set<int32_t>> versions;  // every version written
  bool closed = false;
  std::string failure;  // an "X" report
};

// Reads the reports. In exclusive mode what an isflush wrote is on disk;
// in shared mode every finished call writes its changes.
Outcome Replay(const std::string& reports, bool excl) {
  Outcome o;
  std::map<int32_t, int32_t> now;
  char kind = 0;
  int32_t a = 0, v = 0;
  std::istringstream in(reports);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::istringstream f(line);
    std::string tag;
    f >> tag;
    if (tag == "B") {
      std::string k;
      f >> k >> a >> v;
      kind = k[0];
      o.touched.insert(a);
      o.versions[a].insert(v);
    } else if (tag == "E") {
      if (kind == 'D') {
        now.erase(a);
      } else {
        now[a] = v;
      }
      if (!excl) {
        o.durable = now;
        o.touched.clear();
      }
    } else if (tag == "F" || tag == "C") {
      o.durable = now;
      o.touched.clear();
      o.closed = tag == "C";
    } else if (tag == "X") {
      o.failure = line;
    }
  }
  return o;
}

bool KnownCode(int rc) {
  return rc == 0 || (iserrno >= 100 && iserrno <= 171) || (iserrno > 0 && iserrno < 134);
}

// The three orders of the pair: index 1, index 2, record numbers.
IsamKeyDesc Order(int i) {
  return i == 0 ? isamtest::UniqueKey() : i == 1 ? isamtest::DupKey() : IsamKeyDesc{};
}

// In a child: opens the pair and reads it every way, bounded; 0 when every
// call gave 0 or a known error code.
int ReadEveryWay(const std::string& name, bool var) {
  int fd = isopen(name.c_str(), IS_INPUT | (var ? IS_VARLEN : 0) | IS_MANULOCK);
  if (fd < 0) return KnownCode(fd) ? 0 : 1;
  std::string buf(isamtest::kMaxRow, '\0');
  for (int i = 0; i < 3; ++i) {
    IsamKeyDesc kd = Order(i);
    for (int dir : {IS_NEXT, IS_PREVIOUS}) {
      int rc = isstart(fd, &kd, 0, &buf[0], dir == IS_NEXT ? IS_FIRST : IS_LAST);
      if (!KnownCode(rc)) return 2;
      for (int steps = 0; rc == 0 && steps < 4 * kKeys; ++steps) {
        rc = isread(fd, &buf[0], dir);
        if (!KnownCode(rc)) return 3;
      }
    }
  }
  IsamKeyDesc kd = Order(0);
  isstart(fd, &kd, 0, &buf[0], IS_FIRST);
  for (int32_t a = 0; a <= kKeys; ++a) {
    isam::st32(static_cast<uint32_t>(a), reinterpret_cast<unsigned char*>(&buf[0]));
    if (!KnownCode(isread(fd, &buf[0], IS_EQUAL))) return 4;
  }
  isclose(fd);
  return 0;
}

struct CheckResult {
  int rc = -2;
  std::string out;
};

// Runs the check in a child of the test process (as the catalog's check
// runs it in its own process), with no answers on standard input or with
// every question answered yes.
CheckResult CheckPair(const std::string& name, bool yes) {
  std::fflush(stdout);  // nothing of the test's own output in the child's
  isamtest::ChildResult c = isamtest::RunChild([&] {
    // The check prints on standard output: the child's goes where its
    // standard error is collected.
    dup2(2, 1);
    int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    dup2(null, 0);
    isck_answeryes = yes ? 1 : 0;
    int rc = ischeck(name.c_str());
    fflush(stdout);
    return rc == 0 ? 0 : 1;
  });
  return {c.exit_code, c.err};
}

class CrashTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("TARVELONDIR", tevtest::BuildTree().c_str(), 1); }

  std::string Idx() const { return name_ + ".idx"; }
  std::string Dat() const { return name_ + ".dat"; }
  std::string Files() const { return tevtest::ReadFile(Idx()) + "|" + tevtest::ReadFile(Dat()); }

  void Build(const std::string& base, bool var) {
    name_ = dir_.Path(base);
    var_ = var;
    IsamKeyDesc kd = isamtest::UniqueKey();
    int mode = IS_INOUT | IS_EXCLLOCK;
    int reclen = isamtest::kFixedRow;
    if (var) {
      mode |= IS_VARLEN;
      isrecsize = isamtest::kMinRow;
      reclen = isamtest::kMaxRow;
    }
    int fd = isbuild(name_.c_str(), reclen, &kd, mode);
    ASSERT_GE(fd, 0) << iserrno;
    IsamKeyDesc dup = isamtest::DupKey();
    ASSERT_EQ(isaddindex(fd, &dup), 0) << iserrno;
    ASSERT_EQ(isclose(fd), 0);
  }

  // Starts the writer; kill_after_us > 0 kills it after that long.
  Outcome Write(bool excl, int bufs, uint32_t seed, int ops, int kill_after_us) {
    std::vector<std::string> args = {tevtest::BuiltProgram("isam_crash_writer"),
                                     name_,
                                     excl ? "excl" : "shared",
                                     var_ ? "var" : "fixed",
                                     std::to_string(seed),
                                     std::to_string(ops),
                                     std::to_string(kKeys)};
    if (kill_after_us <= 0) args.push_back("close");
    tevtest::Child writer(args, {"ISAMBUFS=" + std::to_string(bufs)});
    std::string reports;
    if (kill_after_us > 0) {
      // The delay counts from the writer's first report, when it has
      // started working on the pair.
      reports = writer.ReadLine() + "\n";
      std::this_thread::sleep_for(std::chrono::microseconds(kill_after_us));
      writer.Kill();
    }
    reports += writer.ReadAll();
    int status = writer.Wait();
    Outcome o = Replay(reports, excl);
    EXPECT_EQ(o.failure, "");
    if (kill_after_us > 0) {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    } else {
      EXPECT_TRUE(o.closed);
    }
    return o;
  }

  // The operator's course after a crash or damage.
  void Recover(const Outcome& o) {
    isamtest::ChildResult reader = isamtest::RunChild([this] { return ReadEveryWay(name_, var_); });
    EXPECT_EQ(reader.exit_code, 0) << "signal " << reader.signal << " " << reader.err;

    std::string before = Files();
    CheckResult no = CheckPair(name_, false);
    EXPECT_EQ(no.rc, 0) << no.out;
    EXPECT_EQ(Files(), before) << no.out;

    CheckResult yes = CheckPair(name_, true);
    EXPECT_EQ(yes.rc, 0) << yes.out;
    if (yes.out.find("? yes") != std::string::npos) ++repaired_;
    CheckResult again = CheckPair(name_, false);
    EXPECT_EQ(again.rc, 0);
    bool clean = again.out.find("ERROR") == std::string::npos &&
                 again.out.find("? ") == std::string::npos &&
                 again.out.find("Corrupt") == std::string::npos;
    EXPECT_TRUE(clean) << "repair:\n" << yes.out << "\nthen:\n" << again.out;
    Verify(o);
  }

  // Reads one row by key into row; 0 or iserrno.
  int ReadKey(int fd, int32_t a, std::string* row) {
    std::string buf(isamtest::kMaxRow, '\0');
    isam::st32(static_cast<uint32_t>(a), reinterpret_cast<unsigned char*>(&buf[0]));
    if (isread(fd, &buf[0], IS_EQUAL) != 0) return iserrno;
    *row = buf.substr(0, static_cast<size_t>(isrecsize));
    return 0;
  }

  std::set<std::pair<int, std::string>> Scan(int fd, int order) {
    std::set<std::pair<int, std::string>> rows;
    std::string buf(isamtest::kMaxRow, '\0');
    IsamKeyDesc kd = Order(order);
    EXPECT_EQ(isstart(fd, &kd, 0, &buf[0], IS_FIRST), 0) << iserrno;
    int steps = 0;
    while (isread(fd, &buf[0], IS_NEXT) == 0 && ++steps < 10 * kKeys) {
      rows.insert({isrecnum, buf.substr(0, static_cast<size_t>(isrecsize))});
    }
    EXPECT_EQ(iserrno, EENDFILE) << "order " << order;
    return rows;
  }

  void Verify(const Outcome& o) {
    int fd = isopen(name_.c_str(), IS_INPUT | (var_ ? IS_VARLEN : 0) | IS_MANULOCK);
    ASSERT_GE(fd, 0) << iserrno;
    IsamKeyDesc kd = Order(0);
    std::string buf(isamtest::kMaxRow, '\0');
    ASSERT_EQ(isstart(fd, &kd, 0, &buf[0], IS_FIRST), 0);
    int found = 0;
    for (int32_t a = 1; a <= kKeys; ++a) {
      std::string row;
      int rc = ReadKey(fd, a, &row);
      EXPECT_TRUE(rc == 0 || rc == ENORECORD) << "key " << a << ": " << rc;
      found += rc == 0 ? 1 : 0;
      auto d = o.durable.find(a);
      if (o.touched.count(a) == 0) {
        if (d == o.durable.end()) {
          EXPECT_EQ(rc, ENORECORD) << "key " << a << " was deleted or never written";
        } else {
          EXPECT_EQ(rc, 0) << "key " << a << " lost";
          EXPECT_EQ(row, Row(a, d->second, var_)) << "key " << a << " changed";
        }
      } else if (rc == 0) {
        // Never another key's row; one of its own versions, except that a
        // variable-length row rewritten when the writer died may hold its
        // new fixed part (written through) with the tail bytes its pages
        // had on disk (the pages wait in the pool): counted, not refused.
        EXPECT_EQ(isam::ld32(reinterpret_cast<const unsigned char*>(row.data())), a);
        int32_t v = isam::ld32(reinterpret_cast<const unsigned char*>(row.data()) + 8);
        EXPECT_EQ(o.versions.at(a).count(v), 1u) << "key " << a << " version " << v;
        if (row != Row(a, v, var_)) {
          EXPECT_TRUE(var_) << "key " << a << " torn";
          ++torn_;
        }
      }
    }
    auto byunique = Scan(fd, 0);
    EXPECT_EQ(Scan(fd, 1), byunique);
    EXPECT_EQ(Scan(fd, 2), byunique);
    // Key 0 is none of the writer's: a damage may bring a cleared row back.
    size_t phantom = 0;
    for (const auto& r : byunique)
      phantom += isam::ld32(reinterpret_cast<const unsigned char*>(r.second.data())) == 0;
    EXPECT_EQ(byunique.size() - phantom, static_cast<size_t>(found));
    EXPECT_EQ(isclose(fd), 0);
  }

  tevtest::TempInstall dir_;
  std::string name_;
  bool var_ = false;
  int torn_ = 0;
  int repaired_ = 0;
};

TEST_F(CrashTest, WriterKilledAtRandomInstants) {
  struct Config {
    bool excl;
    bool var;
    int bufs;
  };
  const Config configs[] = {
      {true, false, 4},   {true, false, 16}, {true, false, 64}, {true, true, 4},
      {true, true, 16},   {true, true, 64},  {false, false, 4}, {false, false, 16},
      {false, false, 64}, {false, true, 4},  {false, true, 16}, {false, true, 64},
  };
  std::mt19937 rng(20261210);
  int run = 0;
  for (int round = 0; round < 2; ++round) {
    for (const Config& c : configs) {
      uint32_t seed = rng();
      int delay = 1 + static_cast<int>(rng() % 250000);
      SCOPED_TRACE(std::string(c.excl ? "exclusive" : "shared") + (c.var ? " variable" : " fixed") +
                   " pool " + std::to_string(c.bufs) + " seed " + std::to_string(seed) +
                   " kill after " + std::to_string(delay) + " us");
      Build("c" + std::to_string(run++), c.var);
      Outcome o = Write(c.excl, c.bufs, seed, 3000, delay);
      Recover(o);
      if (HasFailure()) return;
    }
  }
  std::printf("%d runs, %d repaired, %d rows torn by the kill\n", run, repaired_, torn_);
}

// In a child: rows 1..n written and flushed, then the calls of then()
// without a flush, and the child ends as if killed: what the pool held is
// lost. The outcome of that course.
Outcome Scripted(const std::string& name, bool var, int n, const std::function<bool(int fd)>& then,
                 std::set<int32_t> touched) {
  isamtest::ChildResult r = isamtest::RunChild([&]() -> int {
    int fd = isopen(name.c_str(), IS_INOUT | IS_EXCLLOCK | (var ? IS_VARLEN : 0));
    if (fd < 0) return 10;
    for (int32_t a = 1; a <= n; ++a) {
      std::string row = Row(a, 1, var);
      isrecsize = static_cast<int>(row.size());
      if (iswrite(fd, row.data()) != 0) return 11;
    }
    if (isflush(fd) != 0) return 12;
    if (!then(fd)) return 13;
    _exit(0);
  });
  EXPECT_EQ(r.exit_code, 0) << r.err;
  Outcome o;
  for (int32_t a = 1; a <= n; ++a) {
    if (touched.count(a) == 0) o.durable[a] = 1;
  }
  for (int32_t a : touched) o.versions[a] = {1};
  o.touched = std::move(touched);
  return o;
}

// Deletes key a by reading it and deleting the current row, as the catalog
// does.
bool DeleteKey(int fd, int32_t a, bool var) {
  std::string buf = Row(a, 1, var);
  buf.resize(isamtest::kMaxRow);
  return isread(fd, &buf[0], IS_EQUAL) == 0 && isdelcurr(fd) == 0;
}

bool InsertKey(int fd, int32_t a, bool var) {
  std::string row = Row(a, 1, var);
  isrecsize = static_cast<int>(row.size());
  return iswrite(fd, row.data()) == 0;
}

// A row deleted and its number taken by a new row, killed before the index
// nodes reached the disk: the old key's entry points at the new row. The
// repair must rebuild the indexes from the rows.
TEST_F(CrashTest, EntryOfADeletedRowPointsAtItsSuccessor) {
  Build("reuse", false);
  Outcome o =
      Scripted(name_, false, 50,
               [](int fd) {
                 int before = 0;
                 std::string buf = Row(7, 1, false);
                 if (isread(fd, &buf[0], IS_EQUAL) != 0) return false;
                 before = isrecnum;
                 return isdelcurr(fd) == 0 && InsertKey(fd, 299, false) && isrecnum == before;
               },
               {7, 299});
  CheckResult r = CheckPair(name_, true);
  EXPECT_NE(r.out.find("1 bad data record pointer(s)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Remake index ? yes"), std::string::npos) << r.out;
  Recover(o);
  int fd = isopen(name_.c_str(), IS_INPUT | IS_MANULOCK);
  std::string row;
  EXPECT_EQ(ReadKey(fd, 7, &row), ENORECORD);
  EXPECT_EQ(ReadKey(fd, 299, &row), 0);
  EXPECT_EQ(row, Row(299, 1, false));
  isclose(fd);
}

// A row written under a number still on the flushed free-record list, its
// tail never on disk: the slot is active and cannot be read. The repair
// clears it, and a read in record-number order reaches the end.
TEST_F(CrashTest, UnreadableRowIsClearedByTheRepair) {
  Build("tail", true);
  Outcome o = Scripted(name_, true, 40,
                       [](int fd) {
                         if (!DeleteKey(fd, 11, true) || isflush(fd) != 0) return false;
                         return InsertKey(fd, 293, true);
                       },
                       {11, 293});
  std::string before = Files();
  CheckResult no = CheckPair(name_, false);
  EXPECT_NE(no.out.find("\nERROR: 1 unreadable data record(s)\n"), std::string::npos) << no.out;
  EXPECT_NE(no.out.find("Fix data record free list ? \n"), std::string::npos) << no.out;
  EXPECT_EQ(Files(), before);
  CheckResult yes = CheckPair(name_, true);
  EXPECT_NE(yes.out.find("Clearing unreadable data record 11; its contents are lost.\n"),
            std::string::npos)
      << yes.out;
  Recover(o);
  int fd = isopen(name_.c_str(), IS_INPUT | IS_VARLEN | IS_MANULOCK);
  std::string row;
  EXPECT_EQ(ReadKey(fd, 293, &row), ENORECORD);
  EXPECT_EQ(Scan(fd, 2).size(), 39u);
  isclose(fd);
}

// A sound pair damaged field by field.
class DamageTest : public CrashTest {
 protected:
  // A pair the writer filled and closed; its files are kept.
  void MakeSound(bool var) {
    Build(var ? "sv" : "sf", var);
    sound_ = Write(true, 16, var ? 7 : 8, 900, 0);
    idx_ = tevtest::ReadFile(Idx());
    dat_ = tevtest::ReadFile(Dat());
  }
  uint32_t At(const std::string& file, int64_t off) const {
    return isam::ldu32(reinterpret_cast<const unsigned char*>(file.data()) + off);
  }
  void Put(const std::string& path, int64_t off, const std::string& bytes) {
    std::string f = tevtest::ReadFile(path);
    f.replace(static_cast<size_t>(off), bytes.size(), bytes);
    tevtest::WriteFile(path, f);
  }
  static std::string Be32(uint32_t v) {
    unsigned char b[4];
    isam::st32(v, b);
    return std::string(reinterpret_cast<char*>(b), 4);
  }
  static int64_t Node(uint32_t n) { return (static_cast<int64_t>(n) - 1) * 1024; }
  // The root of index i (1 or 2), from the key-description node.
  uint32_t Root(int i) const {
    int64_t entry = Node(At(idx_, isam::HDR_KEYDESCNODE)) + 6;
    if (i == 2) entry += isam::ld16(reinterpret_cast<const unsigned char*>(idx_.data()) + entry);
    return At(idx_, entry + 2);
  }

  Outcome sound_;
  std::string idx_, dat_;
};

TEST_F(DamageTest, AimedDamagesAreRepairedWithoutLoss) {
  for (bool var : {false, true}) {
    MakeSound(var);
    uint32_t lastnode = At(idx_, isam::HDR_LASTNODE);
    uint32_t lastrec = At(idx_, isam::HDR_LASTREC);
    uint32_t root1 = Root(1), root2 = Root(2);
    ASSERT_GT(idx_[Node(root1) + 1022], 0) << "index 1 should have a branch root";
    uint32_t leaf = At(idx_, Node(root1) + 2 + 4);
    uint32_t freelist = At(idx_, isam::HDR_FREERECS);
    ASSERT_NE(freelist, 0u);
    uint32_t freerec = At(idx_, Node(freelist) + 6);
    int slot = var ? isamtest::kMinRow + 7 : isamtest::kFixedRow + 1;
    int flag = var ? isamtest::kMinRow : isamtest::kFixedRow;
    struct Case {
      const char* name;
      std::function<void()> damage;
      bool fixed = false;  // run on the fixed-length pair too
    };
    std::vector<Case> cases = {
        {"last node number 1", [&] { Put(Idx(), isam::HDR_LASTNODE, Be32(1)); }, true},
        {"last node number one too low",
         [&] { Put(Idx(), isam::HDR_LASTNODE, Be32(lastnode - 1)); }},
        {"last node number halved", [&] { Put(Idx(), isam::HDR_LASTNODE, Be32(lastnode / 2)); }},
        {"last node number far too high",
         [&] { Put(Idx(), isam::HDR_LASTNODE, Be32(0x7FFFFFF0)); }},
        {"last record number far too high",
         [&] { Put(Idx(), isam::HDR_LASTREC, Be32(0x7FFFFFF0)); }, true},
        {"last record number halved", [&] { Put(Idx(), isam::HDR_LASTREC, Be32(lastrec / 2)); }},
        {"free-record list head at an index root",
         [&] { Put(Idx(), isam::HDR_FREERECS, Be32(root1)); }, true},
        {"free-node list head at an index root",
         [&] { Put(Idx(), isam::HDR_FREENODES, Be32(root2)); }},
        {"class-list head at an index root",
         [&] { Put(Idx(), isam::HDR_CLASSHEADS + 4, Be32(root1)); }},
        {"child pointer to another index", [&] { Put(Idx(), Node(root1) + 2 + 4, Be32(root2)); }},
        {"child pointer past the file",
         [&] { Put(Idx(), Node(root1) + 2 + 4, Be32(lastnode + 40)); }, true},
        {"leaf used count emptied", [&] { Put(Idx(), Node(leaf), std::string("\0\x02", 2)); },
         true},
        {"leaf used count too large", [&] { Put(Idx(), Node(leaf), std::string("\x03\xF0", 2)); }},
        {"deleted slot made active",
         [&] { Put(Dat(), (static_cast<int64_t>(freerec) - 1) * slot + flag, "\x0A"); }, true},
    };
    for (const Case& c : cases) {
      if (!var && !c.fixed) continue;
      SCOPED_TRACE(std::string(var ? "variable: " : "fixed: ") + c.name);
      tevtest::WriteFile(Idx(), idx_);
      tevtest::WriteFile(Dat(), dat_);
      c.damage();
      Recover(sound_);
      if (HasFailure()) return;
    }
  }
}

}  // namespace
