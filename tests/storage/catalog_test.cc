// The catalog core on real files: creation and layout, open from another
// process, table locks, the catalog lock and the id counters across
// processes, pools, sessions, the four dumps, the version check and the
// drop. Expected rows and unload lines come from a python3 reader of the
// ".dat" record slots, expected keys from the table layouts as specified.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/fields.h"
#include "isam/isam.h"
#include "sqltypes/bigint.h"
#include "storage/catalog/smc_dev.h"
#include "storage/catalog/smc_lock.h"
#include "storage/catalog/smc_obj.h"
#include "storage/catalog/smc_odt.h"
#include "storage/catalog/smc_vol.h"
#include "storage/command/sm_util.h"
#include "storage/catalog/smc_pool.h"
#include "storage/catalog/smc_ses.h"
#include "storage/catalog/smcatalog.h"
#include "storage/command/config.h"
#include "storage/command/typed_list.h"
#include "storage/datapath/smhandle.h"
#include "tests/storage/catalog_handle.h"
#include "tests/storage/config_env.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

namespace {

using tevtest::Child;
using tevtest::ConfigEnv;

const char* const kTables[] = {"lock",          "serial", "session", "pool",  "object_path",
                               "object",        "object_detail", "volume", "device"};

// Reads the active slots of a ".dat" file (record length + 1 bytes, the
// last byte 0x0A for an active record) and prints each row unpacked with a
// struct format, its fields joined by a delimiter (blank-padded text
// without its trailing blanks) and followed by it.
const char kRowReader[] = R"(
import struct, sys
args = sys.argv[1:]
for g in range(0, len(args), 4):
    path, reclen, fmt, delim = args[g], int(args[g + 1]), args[g + 2], args[g + 3]
    delim = '\t' if delim == 'tab' else delim
    data = open(path, 'rb').read()
    z = reclen + 1
    for i in range(len(data) // z):
        slot = data[i * z:(i + 1) * z]
        if slot[-1] != 0x0A:
            continue
        out = ''
        for f in struct.unpack(fmt, slot[:reclen]):
            if isinstance(f, bytes):
                f = f.decode('latin-1').rstrip(' ')
            out += str(f) + delim
        print(out)
    print('@@')
)";

class CatalogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("AFDEBUG");
    env_ = std::make_unique<ConfigEnv>();
    const tevtest::TempInstall& in = env_->install();
    // Messages and locale data from the build's tree.
    for (const char* dir : {"msg", "lxr"}) {
      ASSERT_EQ(symlink((tevtest::BuildTree() + "/" + dir).c_str(), in.Path(dir).c_str()), 0);
    }
    dir_ = in.Path("cat/a/b");
    env_->Set("TEV_CATALOG_PATH", dir_);
    env_->Set("TEV_LOCK_TIMEOUT", "2");
    env_->Set("TEV_DEBUG", "1");
    env_->Set("TEV_DEBUG_LOG", in.Path("debug.log"));
    ASSERT_EQ(zarLoadConfig(0), 0);
    h_ = tevtest::NewCatalogHandle();
  }
  void TearDown() override {
    for (zarHandle* h : {h_, h2_}) {
      if (h != nullptr) zarCloseDatabase(h);
      tevtest::FreeCatalogHandle(h);
    }
  }

  std::string Table(const std::string& name) const { return dir_ + "/" + name; }
  bool PairExists(const std::string& name) const {
    struct stat st;
    return stat((Table(name) + ".idx").c_str(), &st) == 0 &&
           stat((Table(name) + ".dat").c_str(), &st) == 0;
  }
  std::string ActLog() const { return env_->install().ReadFile("act.log"); }
  std::string DebugLog() const { return env_->install().ReadFile("debug.log"); }

  // The rows of tables as the python reader renders them, one text per
  // {table, record length, struct format, delimiter}.
  struct RowSpec {
    std::string table;
    int reclen;
    std::string fmt;
    std::string delim = "|";
  };
  std::vector<std::string> PyRowsMany(const std::vector<RowSpec>& specs) const {
    std::vector<std::string> args = {"-c", kRowReader};
    for (const RowSpec& r : specs) {
      args.insert(args.end(), {Table(r.table) + ".dat", std::to_string(r.reclen), r.fmt, r.delim});
    }
    tevtest::RunOptions opt;
    opt.env = {{"PATH", "/usr/bin:/bin"}};
    tevtest::RunResult r = tevtest::RunProgram(tevtest::Python(), args, opt);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    std::vector<std::string> texts;
    size_t from = 0;
    for (size_t at; (at = r.out.find("@@\n", from)) != std::string::npos; from = at + 3) {
      texts.push_back(r.out.substr(from, at - from));
    }
    texts.resize(specs.size());
    return texts;
  }
  std::string PyRows(const std::string& table, int reclen, const std::string& fmt,
                     const std::string& delim = "|") const {
    return PyRowsMany({{table, reclen, fmt, delim}})[0];
  }
  // The lock row straight from the bytes of its slot (the python reader
  // renders it the same way; this one is quicker to start).
  std::string LockRow() const {
    const std::string raw = tevtest::ReadFile(Table("lock") + ".dat");
    for (size_t at = 0; at + 37 <= raw.size(); at += 37) {
      if (raw[at + 36] != 0x0A) continue;
      auto be = [&](size_t off, int n) {
        uint64_t v = 0;
        for (int i = 0; i < n; ++i) v = v << 8 | static_cast<unsigned char>(raw[at + off + i]);
        return v;
      };
      std::string version = raw.substr(at + 8, 20);
      version.erase(version.find_last_not_of(' ') + 1);
      return std::to_string(static_cast<int64_t>(be(0, 8))) + "|" + version + "|" +
             std::to_string(static_cast<int32_t>(be(28, 4))) + "|" +
             std::to_string(static_cast<int32_t>(be(32, 4))) + "|\n";
    }
    return "";
  }
  std::string SerialRow() const { return PyRows("serial", 32, ">qiiiiq"); }

  std::vector<std::string> DriverEnv(const std::vector<std::string>& extra = {}) const {
    std::vector<std::string> env;
    for (const char* name : {"TARVELONDIR", "ZIVEVODAREVEZO", "BAR_ACT_LOG", "TEV_CATALOG_PATH",
                             "TEV_LOCK_TIMEOUT", "TEV_DEBUG", "TEV_DEBUG_LOG", "PATH", "HOME",
                             "TMPDIR", "TARVELON_REGISTRY", "ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
      if (const char* v = std::getenv(name)) env.push_back(std::string(name) + "=" + v);
    }
    for (const std::string& e : extra) {
      const std::string name = e.substr(0, e.find('=') + 1);
      std::erase_if(env, [&](const std::string& x) { return x.starts_with(name); });
      env.push_back(e);
    }
    return env;
  }
  std::vector<std::string> DriverArgs(const std::vector<std::string>& calls) const {
    std::vector<std::string> args = {tevtest::BuiltProgram("catalog_driver")};
    args.insert(args.end(), calls.begin(), calls.end());
    return args;
  }
  // Runs the driver to its end; its standard output.
  tevtest::RunResult Driver(const std::vector<std::string>& calls,
                            const std::vector<std::string>& extra = {}) const {
    tevtest::RunOptions opt;
    for (const std::string& e : DriverEnv(extra)) {
      opt.env[e.substr(0, e.find('='))] = e.substr(e.find('=') + 1);
    }
    std::vector<std::string> args = DriverArgs(calls);
    const std::string program = args.front();
    args.erase(args.begin());
    return tevtest::RunProgram(program, args, opt);
  }
  // Starts the driver beside the test and reads its lines until one starts
  // with the given text (the line is returned; "" when the child ended).
  std::unique_ptr<Child> StartDriver(const std::vector<std::string>& calls,
                                     const std::vector<std::string>& extra = {}) const {
    return std::make_unique<Child>(DriverArgs(calls), DriverEnv(extra));
  }
  static std::string WaitLine(Child& c, const std::string& start) {
    for (;;) {
      std::string line = c.ReadLine();
      if (line.empty() || line.starts_with(start)) return line;
    }
  }

  // A new catalog whose tables are closed again and whose lock is free.
  void MakeCatalog() {
    ASSERT_EQ(zarCatalogCreate(h_), 0);
    ASSERT_EQ(smcReleaseCatalogLock(h_), 0);
    ASSERT_EQ(zarCloseDatabase(h_), 0);
  }
  // A handle with the catalog open as a session open leaves it.
  zarHandle* OpenSession(int32_t session_id) {
    zarHandle* h = tevtest::NewCatalogHandle();
    EXPECT_EQ(zarOpenDatabase(h), 0);
    EXPECT_EQ(zarGetTEVid(h), 0);
    h->sessionId = session_id;
    return h;
  }

  std::unique_ptr<ConfigEnv> env_;
  std::string dir_;
  zarHandle* h_ = nullptr;
  zarHandle* h2_ = nullptr;
};

// Key layouts of the nine tables: {flags, {start, length, type}...} per
// index, from the table descriptions.
struct ExpectedIndex {
  int dups;
  std::vector<std::array<int, 3>> parts;
};
struct ExpectedTable {
  int id;
  int reclen;
  std::vector<ExpectedIndex> indexes;  // empty: record order only
};

TEST_F(CatalogTest, CreateMakesNineTablesInTheirLayout) {
  const int64_t before = time(nullptr);
  ASSERT_EQ(zarCatalogCreate(h_), 0);
  const int64_t after = time(nullptr);
  for (const char* t : kTables) EXPECT_TRUE(PairExists(t)) << t;

  const ExpectedTable expected[] = {
      {1, 36, {}},
      {2, 32, {}},
      {3, 8, {{0, {{0, 4, 2}}}}},
      {4, 28, {{0, {{0, 4, 2}}}, {0, {{4, 24, 0}}}}},
      {5, 2081, {{0, {{0, 8, 13}}}, {1, {{8, 8, 13}}}}},
      {6, 992, {{0, {{944, 8, 13}}}, {1, {{5, 8, 13}, {952, 4, 2}}}}},
      {7, 28, {{1, {{8, 8, 13}}}}},
      {8, 472, {{0, {{8, 4, 2}}}, {1, {{92, 120, 0}}}, {1, {{4, 4, 2}, {0, 4, 2}}}}},
      {9, 1838, {{1, {{0, 120, 0}}}, {1, {{682, 4, 2}}}, {1, {{678, 4, 2}, {632, 4, 2}}}}},
  };
  for (const ExpectedTable& t : expected) {
    SCOPED_TRACE(kTables[t.id - 1]);
    IsamDictInfo info{};
    ASSERT_EQ(isindexinfo(h_->tableFd[t.id], &info, 0), 0);
    EXPECT_EQ(info.reclen, t.reclen);
    EXPECT_EQ(info.nindexes & 0x7FFF, t.indexes.empty() ? 1 : static_cast<int>(t.indexes.size()));
    for (size_t k = 0; k < t.indexes.size(); ++k) {
      IsamKeyDesc key{};
      ASSERT_EQ(isindexinfo(h_->tableFd[t.id], &key, static_cast<int>(k + 1)), 0);
      EXPECT_EQ(key.flags & IS_DUPS, t.indexes[k].dups) << "index " << k + 1;
      ASSERT_EQ(key.nparts, static_cast<int>(t.indexes[k].parts.size())) << "index " << k + 1;
      for (int p = 0; p < key.nparts; ++p) {
        EXPECT_EQ(key.parts[p].start, t.indexes[k].parts[p][0]);
        EXPECT_EQ(key.parts[p].len, t.indexes[k].parts[p][1]);
        EXPECT_EQ(key.parts[p].type, t.indexes[k].parts[p][2]);
      }
    }
  }

  // The first rows, as a reader of the files sees them.
  const std::string lock = PyRows("lock", 36, ">q20sii");
  EXPECT_EQ(lock, LockRow());
  long long id = 0;
  char version[32] = {};
  int sessid = -9, isadm = -9;
  ASSERT_EQ(std::sscanf(lock.c_str(), "%lld|%31[^|]|%d|%d|\n", &id, version, &sessid, &isadm), 4)
      << lock;
  EXPECT_GE(id, before);
  EXPECT_LE(id, after);
  EXPECT_STREQ(version, "TEV VERSION 1.8");
  EXPECT_EQ(sessid, 1);
  EXPECT_EQ(isadm, 0);
  // The marker is blank-padded to 20 bytes.
  std::string raw = env_->install().ReadFile("cat/a/b/lock.dat");
  ASSERT_GE(raw.size(), 37u);
  EXPECT_EQ(raw.substr(8, 20), std::string("TEV VERSION 1.8     "));
  EXPECT_EQ(raw[36], '\n');
  // The default device's volume took volume id 1.
  EXPECT_EQ(SerialRow(), "0|1|0|0|0|0|\n");
  EXPECT_EQ(h_->sessionId, 1);
  EXPECT_EQ(zarGetConfig()->smId, id);
  EXPECT_EQ(h_->catalogOpen, 1);
}

TEST_F(CatalogTest, PairInTheWayStopsCreateAndKeepsEarlierTables) {
  ASSERT_EQ(mkdir(env_->install().Path("cat").c_str(), 0777), 0);
  ASSERT_EQ(mkdir(env_->install().Path("cat/a").c_str(), 0777), 0);
  ASSERT_EQ(mkdir(dir_.c_str(), 0777), 0);
  IsamKeyDesc key{};
  key.nparts = 1;
  key.parts[0] = {0, 4, 2};
  key.keylen = 4;
  int fd = isbuild(Table("object").c_str(), 10, &key, IS_INOUT | IS_EXCLLOCK);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(isclose(fd), 0);

  EXPECT_EQ(zarCatalogCreate(h_), -1);
  EXPECT_EQ(h_->catalogOpen, 0);
  EXPECT_NE(ActLog().find("Cannot create a table of the new catalog."), std::string::npos);
  for (const char* t : {"lock", "serial", "session", "pool", "object_path", "object"}) {
    EXPECT_TRUE(PairExists(t)) << t;
  }
  for (const char* t : {"object_detail", "volume", "device"}) EXPECT_FALSE(PairExists(t)) << t;
}

TEST_F(CatalogTest, OpenCountsTheTablesItFinds) {
  // No table at all, then a catalog that another process can open.
  ASSERT_EQ(zarOpenDatabase(h_), 88114);
  zarCloseDatabase(h_);
  MakeCatalog();
  tevtest::RunResult r = Driver({"open", "gettevid"});
  EXPECT_EQ(r.out, "open 0\ngettevid 0 " + std::to_string(zarGetConfig()->smId) + "\n") << r.err;

  // A second open of one handle does nothing; a table opened twice is 13.
  ASSERT_EQ(zarOpenDatabase(h_), 0);
  EXPECT_EQ(zarOpenDatabase(h_), 0);
  EXPECT_EQ(zarCatalogTableOpen(h_, 4, SMC_OPEN_MANUAL), 13);
  ASSERT_EQ(zarCloseDatabase(h_), 0);
  for (int32_t id = 1; id <= 9; ++id) EXPECT_EQ(h_->tableFd[id], -1);

  // Some pairs gone.
  ASSERT_EQ(iserase(Table("volume").c_str()), 0);
  ASSERT_EQ(iserase(Table("pool").c_str()), 0);
  EXPECT_EQ(zarOpenDatabase(h_), 88115);
}

TEST_F(CatalogTest, TableIdsOutsideOneToNineAreRefused) {
  MakeCatalog();
  for (int32_t id : {0, 10}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(zarCatalogTableOpen(h_, id, SMC_OPEN_MANUAL), 3);
    EXPECT_EQ(smcCatalogTableClose(h_, id), 3);
    EXPECT_EQ(smcCatalogTableLock(h_, id), 3);
    EXPECT_EQ(smcCatalogTableUnlock(h_, id), 3);
    EXPECT_EQ(smcCatalogTableDrop(h_, id), 3);
    EXPECT_EQ(smcCatalogTableRename(h_, id, Table("x").c_str()), 3);
  }
  const std::string log = ActLog();
  EXPECT_NE(log.find("Catalog table id 0 is not between 1 and 9."), std::string::npos) << log;
  EXPECT_NE(log.find("Catalog table id 10 is not between 1 and 9."), std::string::npos);
  for (const char* t : kTables) EXPECT_TRUE(PairExists(t)) << t;
}

TEST_F(CatalogTest, TableHeldByAnotherProcessTimesOut) {
  MakeCatalog();
  {
    // Held open exclusively: the open gives up after the time-out plus one
    // tries.
    auto child = StartDriver({"tableopen", "4", "1", "ready"});
    ASSERT_EQ(WaitLine(*child, "ready"), "ready 0");
    EXPECT_EQ(zarCatalogTableOpen(h_, 4, SMC_OPEN_MANUAL), 19);
    EXPECT_EQ(h_->tableFd[4], -1);
    EXPECT_NE(ActLog().find("Cannot lock catalog table lock."), std::string::npos);
    EXPECT_NE(DebugLog().find("lock_timeout=3, Timeout, because the catalog table is locked."),
              std::string::npos)
        << DebugLog();
  }
  {
    // Its whole-file lock held: the lock gives up after the time-out's tries.
    auto child = StartDriver({"tableopen", "4", "2", "tablelock", "4", "ready"});
    ASSERT_EQ(WaitLine(*child, "ready"), "ready 0");
    ASSERT_EQ(zarCatalogTableOpen(h_, 4, SMC_OPEN_MANUAL), 0);
    EXPECT_EQ(smcCatalogTableLock(h_, 4), 19);
    EXPECT_NE(ActLog().find("Cannot lock catalog table " + Table("pool") + "."),
              std::string::npos);
    EXPECT_NE(DebugLog().find("lock_timeout=2, Timeout, because the catalog table is locked."),
              std::string::npos);
    child->Kill();
    child->Wait();
    EXPECT_EQ(smcCatalogTableLock(h_, 4), 0);
    EXPECT_EQ(smcCatalogTableUnlock(h_, 4), 0);
  }
}

TEST_F(CatalogTest, NewCatalogStaysExclusiveUntilItsCreatorCloses) {
  ASSERT_EQ(zarCatalogCreate(h_), 0);
  zarCatalogUnlockTables(h_);
  tevtest::RunResult r = Driver({"open"});
  EXPECT_EQ(r.out, "open 19\n");
  ASSERT_EQ(smcReleaseCatalogLock(h_), 0);
  ASSERT_EQ(zarCloseDatabase(h_), 0);
  EXPECT_EQ(Driver({"open"}).out, "open 0\n");
}

TEST_F(CatalogTest, CatalogLockOwnerAndProtocolErrors) {
  ASSERT_EQ(zarCatalogCreate(h_), 0);
  // The creating session owns the new catalog's lock.
  EXPECT_EQ(smcAcquireCatalogLock(h_), 3);
  EXPECT_NE(ActLog().find("Invalid request."), std::string::npos);
  ASSERT_EQ(smcReleaseCatalogLock(h_), 0);
  ASSERT_EQ(zarCloseDatabase(h_), 0);

  h2_ = OpenSession(2);
  ASSERT_EQ(zarOpenDatabase(h_), 0);
  EXPECT_EQ(smcAcquireCatalogLock(h2_), 0);
  EXPECT_NE(LockRow().find("|2|0|"), std::string::npos) << LockRow();
  EXPECT_EQ(smcAcquireCatalogLock(h2_), 3);   // relock by the owner
  EXPECT_EQ(smcReleaseCatalogLock(h_), 3);    // unlock by another session
  EXPECT_EQ(smcLockMgr(h2_, SMC_LOCK | SMC_UNLOCK), 3);
  EXPECT_EQ(smcReleaseCatalogLock(h2_), 0);
  EXPECT_NE(LockRow().find("|0|0|"), std::string::npos);

  // Administrator mode: -1 and the process id; a regular lock meanwhile is
  // refused at once, also from another process.
  EXPECT_EQ(smcLockMgr(h_, SMC_LOCK | SMC_LOCK_ADMIN), 0);
  EXPECT_NE(LockRow().find("|-1|" + std::to_string(getpid()) + "|"), std::string::npos);
  EXPECT_EQ(smcAcquireCatalogLock(h2_), 3);
  EXPECT_EQ(Driver({"open", "gettevid", "setsession", "7", "lock"}).out,
            "open 0\ngettevid 0 " + std::to_string(zarGetConfig()->smId) +
                "\nsetsession 0\nlock 3\n");
  EXPECT_NE(ActLog().find("The catalog is locked by an administrator."), std::string::npos);
  EXPECT_EQ(smcLockMgr(h_, SMC_UNLOCK | SMC_LOCK_ADMIN), 0);
  EXPECT_NE(LockRow().find("|0|0|"), std::string::npos);

  // A lock row of another catalog: refused unless in administrator mode.
  zarGetConfig()->smId += 1;
  EXPECT_EQ(smcAcquireCatalogLock(h2_), 3);
  EXPECT_NE(ActLog().find("The catalog lock belongs to another catalog."), std::string::npos);
  EXPECT_EQ(smcLockMgr(h2_, SMC_LOCK | SMC_LOCK_ADMIN), 0);
  EXPECT_EQ(smcLockMgr(h2_, SMC_UNLOCK | SMC_LOCK_ADMIN), 0);
  zarGetConfig()->smId -= 1;

  // Without an open lock table.
  zarHandle* bare = tevtest::NewCatalogHandle();
  EXPECT_EQ(smcAcquireCatalogLock(bare), 3);
  tevtest::FreeCatalogHandle(bare);
}

TEST_F(CatalogTest, CatalogLockWaitsForAnotherProcess) {
  MakeCatalog();
  h2_ = OpenSession(1);
  {
    // The owner keeps it: the waiter ends after the time-out with 88120.
    auto owner = StartDriver({"open", "gettevid", "setsession", "5", "lock", "ready"});
    ASSERT_EQ(WaitLine(*owner, "lock"), "lock 0");
    EXPECT_EQ(smcAcquireCatalogLock(h2_), 19);
    EXPECT_NE(ActLog().find("Session 1 waited too long for the catalog lock held by session 5."),
              std::string::npos);
  }
  // A process that ended while owning the lock leaves it set.
  EXPECT_NE(LockRow().find("|5|0|"), std::string::npos);
  h2_->sessionId = 5;
  ASSERT_EQ(smcReleaseCatalogLock(h2_), 0);

  // The owner lets go while a waiter (with a long time-out) waits.
  auto owner = StartDriver({"open", "gettevid", "setsession", "6", "lock", "sleepms", "1500",
                            "unlock", "ready"});
  ASSERT_EQ(WaitLine(*owner, "lock"), "lock 0");
  tevtest::RunResult waiter =
      Driver({"open", "gettevid", "setsession", "7", "lock"}, {"TEV_LOCK_TIMEOUT=60"});
  EXPECT_TRUE(waiter.out.ends_with("lock 0\n")) << waiter.out << waiter.err;
  EXPECT_EQ(WaitLine(*owner, "unlock"), "unlock 0");
  EXPECT_NE(LockRow().find("|7|0|"), std::string::npos) << LockRow();
}

TEST_F(CatalogTest, RelockWithAfdebugWaitsForADebugger) {
  MakeCatalog();
  auto child = StartDriver({"open", "gettevid", "setsession", "3", "lock", "lock"}, {"AFDEBUG=1"});
  ASSERT_EQ(WaitLine(*child, "lock"), "lock 0");
  const std::string line = "TEV pid = " + std::to_string(child->pid()) + ", waiting for debugger";
  bool seen = false;
  for (int i = 0; i < 600 && !seen; ++i) {
    seen = ActLog().find(line) != std::string::npos;
    if (!seen) usleep(50000);
  }
  EXPECT_TRUE(seen) << ActLog();
}

TEST_F(CatalogTest, FourProcessesShareTheCopyIdCounter) {
  MakeCatalog();
  std::vector<std::unique_ptr<Child>> children;
  for (int i = 0; i < 4; ++i) children.push_back(StartDriver({"open", "serial", "1", "5000"}));
  std::vector<long long> ids;
  for (auto& c : children) {
    std::string out = c->ReadAll();
    size_t pos = 0;
    int failures = 0;
    while ((pos = out.find("serial ", pos)) != std::string::npos) {
      int rc = -1;
      long long v = 0;
      std::sscanf(out.c_str() + pos, "serial %d %lld", &rc, &v);
      if (rc != 0) ++failures;
      ids.push_back(v);
      pos += 7;
    }
    EXPECT_EQ(failures, 0);
  }
  std::sort(ids.begin(), ids.end());
  ASSERT_EQ(ids.size(), 20000u);
  for (size_t i = 0; i < ids.size(); ++i) ASSERT_EQ(ids[i], static_cast<long long>(i + 1));
  EXPECT_EQ(SerialRow(), "20000|1|0|0|0|0|\n");
}

TEST_F(CatalogTest, CountersWrapRefuseAndSet) {
  ASSERT_EQ(zarCatalogCreate(h_), 0);
  int64_t v = 0;
  // Session ids wrap to 1.
  ASSERT_EQ(dsmSetCurrentSerial(h_, SMC_SER_SESSION, 2147483647), 0);
  EXPECT_EQ(dsmSerialMgr(h_, SMC_SER_SESSION, &v), 0);
  EXPECT_EQ(v, 1);
  EXPECT_NE(ActLog().find("Resetting Session numbers to 1."), std::string::npos);
  // Other counters stop at their limit, and a negative counter is refused.
  ASSERT_EQ(dsmSetCurrentSerial(h_, SMC_SER_POOL, 2147483647), 0);
  EXPECT_EQ(dsmSerialMgr(h_, SMC_SER_POOL, &v), 19);
  EXPECT_NE(ActLog().find("Bad serial number requested."), std::string::npos);
  ASSERT_EQ(dsmSetCurrentSerial(h_, SMC_SER_COPYID, INT64_MAX), 0);
  EXPECT_EQ(dsmSerialMgr(h_, SMC_SER_COPYID, &v), 19);
  {
    unsigned char row[32];
    const int fd = h_->tableFd[SMC_TAB_SERIAL];
    ASSERT_EQ(isread(fd, row, IS_FIRST), 0);
    stlong(-5, row + 8);  // volume counter
    ASSERT_EQ(isrewcurr(fd, row), 0);
  }
  EXPECT_EQ(dsmSerialMgr(h_, SMC_SER_VOLUME, &v), 19);
  // A set counter gives its value + 1 next.
  ASSERT_EQ(dsmSetCurrentSerial(h_, SMC_SER_COPYID, 41), 0);
  EXPECT_EQ(dsmSerialMgr(h_, SMC_SER_COPYID, &v), 0);
  EXPECT_EQ(v, 42);
  EXPECT_EQ(dsmSetCurrentSerial(h_, SMC_SER_PATH, 5), 19);
  EXPECT_NE(ActLog().find("Unknown request type."), std::string::npos);
  EXPECT_EQ(dsmSetCurrentSerial(h_, SMC_SER_POOL, -1), 19);
  EXPECT_EQ(dsmSetCurrentSerial(h_, SMC_SER_POOL, 2147483648LL), 19);
  EXPECT_EQ(dsmSerialMgr(h_, 7, &v), 19);
  EXPECT_NE(ActLog().find("BUG!: Bad serial number requested."), std::string::npos);
  EXPECT_EQ(SerialRow(), "42|-5|1|0|2147483647|0|\n");
}

std::string PoolList(zarHandle* h) {
  TypedList* list = nullptr;
  EXPECT_EQ(zarGetPoolList(h, &list), 0);
  std::string all;
  int32_t status = 0;
  for (void* e = ll_first(list, &status); e != nullptr && status == LL_OK;
       e = ll_next(list, &status)) {
    const auto* p = static_cast<const TevPool*>(e);
    all += std::to_string(p->pool_id) + ":" + p->pool_name + " ";
  }
  ll_destroy(&list, 1, &status);
  return all;
}

TEST_F(CatalogTest, PoolsAddListFindAndDelete) {
  ASSERT_EQ(zarCatalogCreate(h_), 0);
  EXPECT_EQ(PoolList(h_), "1:DBSPOOL 2:LOGPOOL 3:EXTPOOL ");

  TevPool tape{0, "TAPEPOOL"};
  ASSERT_EQ(zarInsertPool(h_, &tape), 0);
  EXPECT_EQ(tape.pool_id, 4);
  EXPECT_EQ(PyRows("pool", 28, ">i24s"), "1|TAPEPOOL|\n");

  TevPool builtin{0, "LOGPOOL"};
  EXPECT_EQ(zarInsertPool(h_, &builtin), 0);
  EXPECT_EQ(builtin.pool_id, 0);
  EXPECT_EQ(zarDeletePool(h_, "LOGPOOL"), 3);
  EXPECT_NE(ActLog().find("A built-in pool cannot be deleted."), std::string::npos);

  TevPool again{0, "TAPEPOOL"};
  EXPECT_EQ(zarInsertPool(h_, &again), 19);
  EXPECT_NE(ActLog().find("A pool of that name exists already."), std::string::npos);
  TevPool disk{0, "DISKPOOL"};
  ASSERT_EQ(zarInsertPool(h_, &disk), 0);
  EXPECT_EQ(disk.pool_id, 6);  // the duplicate spent stored id 2
  EXPECT_EQ(PyRows("pool", 28, ">i24s"), "1|TAPEPOOL|\n3|DISKPOOL|\n");
  EXPECT_EQ(PoolList(h_), "1:DBSPOOL 2:LOGPOOL 3:EXTPOOL 4:TAPEPOOL 6:DISKPOOL ");

  struct Case {
    const char* name;
    int rc;
    int id;
  } const by_name[] = {{"TAPEPOOL", 0, 4}, {"DISKPOOL", 0, 6},  {"EXTPOOL", 0, 3},
                       {"tapepool", 17, 0}, {"dbspool", 17, 0}, {"NOSUCH", 17, 0}};
  for (const Case& c : by_name) {
    TevPool p{};
    EXPECT_EQ(zarGetPoolId(h_, c.name, &p), c.rc) << c.name;
    EXPECT_EQ(p.pool_id, c.id) << c.name;
  }
  struct IdCase {
    int id;
    int rc;
    const char* name;
  } const by_id[] = {{6, 0, "DISKPOOL"}, {2, 0, "LOGPOOL"}, {5, 17, ""}, {4, 0, "TAPEPOOL"}};
  for (const IdCase& c : by_id) {
    TevPool p{};
    EXPECT_EQ(zarGetPoolName(h_, c.id, &p), c.rc) << c.id;
    EXPECT_STREQ(p.pool_name, c.name) << c.id;
  }

  // Configured pool names resolve through the catalog.
  TevConfig* cfg = zarGetConfig();
  std::snprintf(cfg->dbsPoolName, sizeof cfg->dbsPoolName, "TAPEPOOL");
  std::snprintf(cfg->logPoolName, sizeof cfg->logPoolName, "LOGPOOL");
  EXPECT_EQ(zarLoadPoolsFromConfig(h_, cfg), 0);
  EXPECT_EQ(cfg->dbsPoolId, 4);
  std::snprintf(cfg->logPoolName, sizeof cfg->logPoolName, "UNKNOWN");
  EXPECT_EQ(zarLoadPoolsFromConfig(h_, cfg), 17);
  EXPECT_NE(ActLog().find("Pool UNKNOWN does not exist."), std::string::npos);

  EXPECT_EQ(zarDeletePool(h_, "NOSUCH"), 17);
  EXPECT_NE(ActLog().find("No pool of that name exists."), std::string::npos);
  EXPECT_EQ(zarDeletePool(h_, "TAPEPOOL"), 0);
  EXPECT_EQ(PyRows("pool", 28, ">i24s"), "3|DISKPOOL|\n");
  EXPECT_EQ(PoolList(h_), "1:DBSPOOL 2:LOGPOOL 3:EXTPOOL 6:DISKPOOL ");
}

TEST_F(CatalogTest, ClosingASessionRemovesOnlyItsOwnRowsAndMarks) {
  ASSERT_EQ(zarCatalogCreate(h_), 0);
  ASSERT_EQ(smcInsertSession(h_, 1), 0);
  ASSERT_EQ(smcInsertSession(h_, 2), 0);
  EXPECT_EQ(smcInsertSession(h_, 2), 19);  // the key is unique

  // Device rows of sessions 1 and 2.
  for (int32_t session : {1, 2}) {
    unsigned char row[1838];
    std::memset(row, ' ', sizeof row);
    stchar(("dev" + std::to_string(session)).c_str(), reinterpret_cast<char*>(row), 120);
    stlong(3, row + 632);
    stlong(1, row + 678);
    stlong(session, row + 682);
    ASSERT_EQ(iswrite(h_->tableFd[SMC_TAB_DEVICE], row), 0);
  }
  // Object rows: the handle remembers both record numbers, but the second
  // now belongs to session 2 (its own row was rolled back and the number
  // reused).
  for (int32_t session : {1, 2}) {
    unsigned char row[992] = {};
    stlong(session, row + 940);
    stbigint(100 + session, row + 944);
    ASSERT_EQ(iswrite(h_->tableFd[SMC_TAB_OBJECT], row), 0);
    auto* recnum = static_cast<int32_t*>(std::malloc(sizeof(int32_t)));
    *recnum = isrecnum;
    int32_t status = 0;
    ll_insert(h_->objectList, recnum, &status);
  }
  h_->sessionId = 1;
  EXPECT_EQ(smcDeleteSession(h_), 0);
  const std::vector<std::string> rows =
      PyRowsMany({{"session", 8, ">ii"},
                  {"device", 1838, ">120s256s256si5x4x8x8x8x1x8xii1152x"},
                  {"object", 992, ">940xiq40x"}});
  EXPECT_EQ(rows[0], "2|" + std::to_string(getpid()) + "|\n");
  // The new catalog's default device (no session) stays too.
  const std::string def = env_->install().Path("backups");
  EXPECT_EQ(rows[1], def + "|||2|1|0|\n" + def + "|||2|2|0|\ndev1|||3|1|0|\ndev2|||3|1|2|\n");
  EXPECT_EQ(rows[2], "0|101|\n2|102|\n");
}

TEST_F(CatalogTest, DumpsMatchTheStoredRows) {
  ASSERT_EQ(zarCatalogCreate(h_), 0);
  ASSERT_EQ(smcReleaseCatalogLock(h_), 0);
  TevPool tape{0, "TAPE POOL"};
  ASSERT_EQ(zarInsertPool(h_, &tape), 0);
  int64_t v = 0;
  ASSERT_EQ(dsmSetCurrentSerial(h_, SMC_SER_COPYID, 5000000000LL), 0);
  ASSERT_EQ(dsmSerialMgr(h_, SMC_SER_SESSION, &v), 0);
  ASSERT_EQ(zarCloseDatabase(h_), 0);

  // Empty tables say so on standard error, and only for standard output.
  tevtest::RunResult r = Driver({"dump", "3", "tab"});
  EXPECT_EQ(r.out, "dump 0\n");
  EXPECT_EQ(r.err, "Empty SESSION table.\n");
  const std::string file = env_->install().Path("session.unl");
  r = Driver({"dumpfile", "3", "|", file});
  EXPECT_EQ(r.out, "dumpfile 0\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(env_->install().ReadFile("session.unl"), "");

  // Rows with both delimiters, against the python reader.
  h2_ = OpenSession(9);
  ASSERT_EQ(smcInsertSession(h2_, 9), 0);
  struct Dump {
    int id;
    const char* table;
    int reclen;
    const char* fmt;
  } const dumps[] = {{1, "lock", 36, ">q20sii"},
                     {2, "serial", 32, ">qiiiiq"},
                     {3, "session", 8, ">ii"},
                     {4, "pool", 28, ">i24s"}};
  std::vector<RowSpec> specs;
  for (const Dump& d : dumps) {
    for (const char* delim : {"|", "tab"}) specs.push_back({d.table, d.reclen, d.fmt, delim});
  }
  const std::vector<std::string> expected = PyRowsMany(specs);
  for (size_t i = 0; i < specs.size(); ++i) {
    SCOPED_TRACE(specs[i].table + " " + specs[i].delim);
    r = Driver({"dump", std::to_string(dumps[i / 2].id), specs[i].delim});
    EXPECT_EQ(r.out, expected[i] + "dump 0\n");
    EXPECT_EQ(r.err, "");
  }
  EXPECT_EQ(expected[6], "1|TAPE POOL|\n");
  EXPECT_EQ(expected[2], "5000000000|1|1|0|1|0|\n");
  EXPECT_NE(expected[4].find("9|" + std::to_string(getpid()) + "|"), std::string::npos);

  // A table that cannot be opened.
  ASSERT_EQ(zarCloseDatabase(h2_), 0);
  ASSERT_EQ(iserase(Table("pool").c_str()), 0);
  r = Driver({"dump", "4", "|"});
  EXPECT_EQ(r.out, "dump 19\n");
  EXPECT_EQ(r.err, "isbuild: Cannot open the Pool table '" + Table("pool") + "'. iserrno = 2.\n");
}

TEST_F(CatalogTest, VersionMarkersDecideTheOpen) {
  struct Parse {
    const char* marker;
    int rc;
    int major;
    int minor;
  } const parses[] = {{"TEV VERSION 1.8", 0, 0, 0},    {"TEV VERSION 1.9", 1, 0, 0},
                      {"TEV VERSION 2.0", 1, 0, 0},    {"TEV VERSION 18", 1, 0, 0},
                      {"garbage.", 1, 0, 0},           {"TEV VERSION 1.3", -1, 1, 3},
                      {"TEV VERSION 1.8xyz", -1, 1, 8}, {"TEV VERSION 0.9", -1, 0, 9},
                      {"TEV VERSION -1.12", -1, -1, 12}};
  for (const Parse& p : parses) {
    int32_t major = 0, minor = 0;
    EXPECT_EQ(smcParseVersion(p.marker, &major, &minor), p.rc) << p.marker;
    EXPECT_EQ(major, p.major) << p.marker;
    EXPECT_EQ(minor, p.minor) << p.marker;
  }

  MakeCatalog();
  auto set_marker = [&](const char* marker) {
    zarHandle* h = tevtest::NewCatalogHandle();
    ASSERT_EQ(zarCatalogTableOpen(h, 1, SMC_OPEN_EXCLUSIVE), 0);
    unsigned char row[36];
    ASSERT_EQ(isread(h->tableFd[1], row, IS_FIRST), 0);
    stchar(marker, reinterpret_cast<char*>(row + 8), 20);
    ASSERT_EQ(isrewcurr(h->tableFd[1], row), 0);
    zarCloseDatabase(h);
    tevtest::FreeCatalogHandle(h);
  };
  struct Open {
    const char* marker;
    int rc;
    const char* logged;
  } const opens[] = {
      {"TEV VERSION 1.9", 3,
       "The catalog version 'TEV VERSION 1.9' is newer than 'TEV VERSION 1.8' or cannot be read."},
      {"TEV VERSION 2.0", 3, "The catalog version 'TEV VERSION 2.0' is newer"},
      {"TEV VERSION 18", 3, "The catalog is incomplete or its version marker cannot be read."},
      // Tables of the current layout under a 1.3 marker: the 1.3 step cannot
      // build the object_path table that is there already.
      {"TEV VERSION 1.3", -1, "Converting the catalog from version 1.3 to version 1.8."},
  };
  for (const Open& o : opens) {
    SCOPED_TRACE(o.marker);
    set_marker(o.marker);
    zarHandle* h = tevtest::NewCatalogHandle();
    EXPECT_EQ(zarOpenDatabase(h), o.rc);
    EXPECT_EQ(h->catalogOpen, 0);
    zarCloseDatabase(h);
    tevtest::FreeCatalogHandle(h);
    EXPECT_NE(ActLog().find(o.logged), std::string::npos) << ActLog();
  }
  const std::string log = ActLog();
  const size_t unreadable = log.find("The catalog is incomplete or its version marker");
  ASSERT_NE(unreadable, std::string::npos);
  EXPECT_NE(log.find("The catalog version 'TEV VERSION 18' is newer", unreadable),
            std::string::npos);
  // The refused conversion gives the administrator lock back.
  EXPECT_NE(log.find("The catalog conversion failed; the catalog keeps its earlier version."),
            std::string::npos);
  EXPECT_NE(LockRow().find("|TEV VERSION 1.3|0|0|"), std::string::npos) << LockRow();

  // A lock table already open in the handle (the open found the catalog
  // made meanwhile) is checked where it is.
  set_marker("TEV VERSION 1.8");
  ASSERT_EQ(zarCatalogTableOpen(h_, 1, SMC_OPEN_MANUAL), 0);
  EXPECT_EQ(smcCatalogCheckVersion(h_), 0);
  ASSERT_EQ(smcCatalogTableClose(h_, 1), 0);

  // Without a lock table.
  ASSERT_EQ(iserase(Table("lock").c_str()), 0);
  EXPECT_EQ(smcCatalogCheckVersion(h_), 88113);
}

TEST_F(CatalogTest, DamagedLockTableIsReportedNotRead) {
  MakeCatalog();
  // A lock pair whose rows are longer than the lock row.
  ASSERT_EQ(iserase(Table("lock").c_str()), 0);
  IsamKeyDesc none{};
  int fd = isbuild(Table("lock").c_str(), 300, &none, IS_INOUT | IS_EXCLLOCK);
  ASSERT_GE(fd, 0);
  std::string row(300, 'x');
  ASSERT_EQ(iswrite(fd, row.data()), 0);
  ASSERT_EQ(isclose(fd), 0);
  EXPECT_EQ(zarOpenDatabase(h_), 19);
  EXPECT_NE(ActLog().find("Cannot build or open catalog table " + Table("lock") + "."),
            std::string::npos);
  EXPECT_EQ(h_->tableFd[1], -1);

  // A lock table without its row.
  ASSERT_EQ(iserase(Table("lock").c_str()), 0);
  fd = isbuild(Table("lock").c_str(), 36, &none, IS_INOUT | IS_EXCLLOCK);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(isclose(fd), 0);
  EXPECT_EQ(zarOpenDatabase(h_), 19);
  EXPECT_NE(ActLog().find("Cannot read catalog table lock."), std::string::npos);
}

TEST_F(CatalogTest, SerialTableOfTheOldLayoutKeepsItsCounters) {
  MakeCatalog();
  // A serial table of five counters (24-byte rows).
  ASSERT_EQ(iserase(Table("serial").c_str()), 0);
  IsamKeyDesc none{};
  int fd = isbuild(Table("serial").c_str(), 24, &none, IS_INOUT | IS_EXCLLOCK);
  ASSERT_GE(fd, 0);
  unsigned char old[24];
  stbigint(7000000000LL, old);
  for (int i = 0; i < 4; ++i) stlong(11 + i, old + 8 + 4 * i);
  ASSERT_EQ(iswrite(fd, old), 0);
  ASSERT_EQ(isclose(fd), 0);

  EXPECT_EQ(smcSerialTabMigrateFrom3To6(h_, 1, 3), 0);
  EXPECT_TRUE(PairExists("serial_V_1_3"));
  EXPECT_EQ(SerialRow(), "7000000000|11|12|13|14|0|\n");
  int64_t v = 0;
  EXPECT_EQ(dsmSerialMgr(h_, SMC_SER_PATH, &v), 0);
  EXPECT_EQ(v, 1);
}

TEST(CatalogTimestamp, LocalTimeWithASpacePaddedYear) {
  const char* old = std::getenv("TZ");
  const std::string saved = old != nullptr ? old : "";
  setenv("TZ", "UTC", 1);
  tzset();
  struct Case {
    int64_t seconds;
    const char* text;
  } const cases[] = {{0, "1970-01-01 00:00:00"},
                     {951782400, "2000-02-29 00:00:00"},
                     {4102444799LL, "2099-12-31 23:59:59"},
                     {-62135596800LL, "   1-01-01 00:00:00"}};
  for (const Case& c : cases) EXPECT_STREQ(smcFormatTimestamp(c.seconds), c.text) << c.seconds;
  if (old != nullptr) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

TEST_F(CatalogTest, DropErasesEveryPair) {
  MakeCatalog();
  ASSERT_EQ(iserase(Table("pool").c_str()), 0);
  ASSERT_EQ(iserase(Table("volume").c_str()), 0);
  zarHandle* h = tevtest::NewCatalogHandle();
  ASSERT_EQ(zarCatalogTableOpen(h, 1, SMC_OPEN_MANUAL), 0);
  ASSERT_EQ(zarGetTEVid(h), 0);
  h->sessionId = 3;
  EXPECT_EQ(zarCatalogDrop(h, 0), 0);
  tevtest::FreeCatalogHandle(h);
  for (const char* t : kTables) EXPECT_FALSE(PairExists(t)) << t;
  struct stat st;
  EXPECT_EQ(stat(dir_.c_str(), &st), 0);
}

TEST_F(CatalogTest, DropFailsWhileAnotherProcessHoldsATable) {
  MakeCatalog();
  auto child = StartDriver({"tableopen", "6", "1", "ready"});
  ASSERT_EQ(WaitLine(*child, "ready"), "ready 0");
  zarHandle* h = tevtest::NewCatalogHandle();
  ASSERT_EQ(zarCatalogTableOpen(h, 1, SMC_OPEN_MANUAL), 0);
  ASSERT_EQ(zarGetTEVid(h), 0);
  h->sessionId = 3;
  EXPECT_EQ(zarCatalogDrop(h, 0), 3);
  tevtest::FreeCatalogHandle(h);
  EXPECT_TRUE(PairExists("object"));
  for (const char* t : kTables) {
    if (std::string(t) != "object") {
      EXPECT_FALSE(PairExists(t)) << t;
    }
  }
}

}  // namespace

// Object rows as an object insert writes them: version, path id and copy id
// through the catalog's calls, the row through the handle's object file.
// The record number of the new row.
int InsertObject(zarHandle* h, const std::string& path, int64_t create_time, uint64_t bytes,
                 int64_t* copy_id = nullptr) {
  int32_t version = -1;
  EXPECT_EQ(dsmGetObjectVersion(h, "/space", path.c_str(), &version), 0);
  int64_t id = 0;
  EXPECT_EQ(dsmSerialMgr(h, 1, &id), 0);
  int64_t path_id = 0;
  int rc = smcGetPathId(h, path.c_str(), "/space", &path_id);
  if (rc == 17) rc = smcObjPathInsert(h, path.c_str(), "/space", "file", &path_id);
  EXPECT_EQ(rc, 0);
  unsigned char row[SMC_OBJECT_RECLEN] = {};
  stlong(1, row);
  row[4] = 'I';
  stbigint(path_id, row + 5);
  stchar("", reinterpret_cast<char*>(row + 13), 927);
  stlong(h->sessionId, row + 940);
  stbigint(id, row + 944);
  stlong(version + 1, row + 952);
  stlong(static_cast<int32_t>(bytes & 0xffffffffu), row + 956);
  stlong(static_cast<int32_t>(bytes >> 32), row + 960);
  stbigint(create_time, row + 976);
  EXPECT_EQ(iswrite(h->tableFd[SMC_TAB_OBJECT], row), 0);
  if (copy_id != nullptr) *copy_id = id;
  return isrecnum;
}

void InsertDetail(zarHandle* h, int32_t vol, int64_t copy_id, int32_t part, int64_t size) {
  unsigned char row[SMC_DETAIL_RECLEN] = {};
  stlong(vol, row);
  stlong(part, row + 4);
  stbigint(copy_id, row + 8);
  stlong(part, row + 16);
  stbigint(size, row + 20);
  ASSERT_EQ(iswrite(h->tableFd[SMC_TAB_DETAIL], row), 0);
}

// 512 letters: "a" where the bit count of the index is even, else "b"
// (swapped for the second); behind any common prefix both hash alike.
std::string Thue(bool swapped) {
  std::string s;
  for (int i = 0; i < 512; ++i) {
    const bool even = __builtin_popcount(static_cast<unsigned>(i)) % 2 == 0;
    s += (even != swapped) ? 'a' : 'b';
  }
  return s;
}

TEST_F(CatalogTest, ObjectVersionsActiveObjectAndTransactionEnds) {
  MakeCatalog();
  h2_ = OpenSession(4);
  int64_t keep = -5;
  EXPECT_EQ(zarObjectGetHighestId(h2_, &keep), 0);
  EXPECT_EQ(keep, -5);

  int64_t c1 = 0, c2 = 0, c3 = 0, c4 = 0;
  const int r1 = InsertObject(h2_, "/p/one", 2000, 10, &c1);
  const int r2 = InsertObject(h2_, "/p/one", 1000, 10, &c2);
  InsertObject(h2_, "/p/other", 3000, 10, &c3);
  InsertObject(h2_, "/p/other", 3000, 10);
  const int r4 = InsertObject(h2_, "/p/other", 3000, 10, &c4);
  int32_t version = 0;
  ASSERT_EQ(dsmGetObjectVersion(h2_, "/space", "/p/one", &version), 0);
  EXPECT_EQ(version, 2);
  ASSERT_EQ(dsmGetObjectVersion(h2_, "/space", "/p/none", &version), 0);
  EXPECT_EQ(version, 0);
  EXPECT_EQ(zarObjectGetHighestId(h2_, &keep), 0);
  EXPECT_EQ(keep, c4);

  // Commit the newer first, then the older: the newer stays active and the
  // older still loses its transaction mark.
  EXPECT_EQ(smcUnlockObject(h2_, r1, 1), 0);
  EXPECT_EQ(smcUnlockObject(h2_, r2, 1), 0);
  // An equal creation time wins.
  int64_t other_path = 0;
  ASSERT_EQ(smcGetPathId(h2_, "/p/other", nullptr, &other_path), 0);
  EXPECT_EQ(smcSetActiveObject(h2_, other_path, c3, 3000), 0);
  EXPECT_EQ(smcUnlockObject(h2_, r4, 1), 0);
  InsertDetail(h2_, 1, c4, 1, 5);
  EXPECT_EQ(smcUnlockObject(h2_, r4, 7), 3);
  EXPECT_NE(ActLog().find("Invalid request."), std::string::npos);
  ASSERT_EQ(zarCloseDatabase(h2_), 0);
  tevtest::FreeCatalogHandle(h2_);
  h2_ = nullptr;

  // obj_txid, copy id, version; path rows: id, recent id, recent ts.
  const std::vector<std::string> rows =
      PyRowsMany({{"object", 992, ">i940xqi36x"}, {"object_path", 2081, ">q9xqq2048x"}});
  EXPECT_EQ(rows[0], "0|" + std::to_string(c1) + "|1|\n0|" + std::to_string(c2) + "|2|\n1|" +
                         std::to_string(c3) + "|1|\n1|" + std::to_string(c3 + 1) + "|2|\n0|" +
                         std::to_string(c4) + "|3|\n");
  EXPECT_EQ(rows[1], "1|" + std::to_string(c1) + "|2000|\n2|" + std::to_string(c4) + "|3000|\n");

  // A roll back deletes the row and its details; a row no longer present
  // gives 0.
  h2_ = OpenSession(4);
  EXPECT_EQ(smcUnlockObject(h2_, r4, 2), 0);
  EXPECT_EQ(smcUnlockObject(h2_, r4, 2), 0);
  EXPECT_EQ(smcUnlockObject(h2_, r4, 1), 0);
  int32_t part = 0;
  EXPECT_EQ(dsmGetNextDetailSeq(h2_, c4, &part), 0);
  EXPECT_EQ(part, 1);
  EXPECT_EQ(PyRows("object", 992, ">944xq40x"),
            std::to_string(c1) + "|\n" + std::to_string(c2) + "|\n" + std::to_string(c3) + "|\n" +
                std::to_string(c3 + 1) + "|\n");
}

// A session keeps its commit file of the object table and the key
// descriptions of its tables from one call to the next. What another
// writer changed in between must be what the next call sees, and nothing
// may stay open once the session closes its catalog.
TEST_F(CatalogTest, CommitsSeeOtherWritersAndLeaveNothingOpen) {
  MakeCatalog();
  h2_ = OpenSession(4);
  int64_t c1 = 0, c2 = 0, c3 = 0, c4 = 0;
  const int r1 = InsertObject(h2_, "/k/one", 1000, 10, &c1);
  const int r2 = InsertObject(h2_, "/k/two", 2000, 10, &c2);
  ASSERT_EQ(smcUnlockObject(h2_, r1, 1), 0);

  // Another writer (a thread has files of its own, as a process has)
  // deletes the second object and inserts a third, which takes the freed
  // record number, and a fourth.
  int r3 = 0;
  std::thread other([&] {
    zarHandle* h = OpenSession(5);
    EXPECT_EQ(dsmDeleteObject(h, c2), 0);
    r3 = InsertObject(h, "/k/three", 3000, 10, &c3);
    InsertObject(h, "/k/two", 4000, 10, &c4);
    EXPECT_EQ(zarCloseDatabase(h), 0);
    tevtest::FreeCatalogHandle(h);
  });
  other.join();
  ASSERT_EQ(r3, r2);
  ASSERT_EQ(c3, c2 + 1);
  ASSERT_EQ(c4, c2 + 2);

  // The commit of that record number commits the third object; "/k/two"
  // has its version 1 again, and the copy ids go on after the other's.
  EXPECT_EQ(smcUnlockObject(h2_, r2, 1), 0);
  int32_t version = 0;
  ASSERT_EQ(dsmGetObjectVersion(h2_, "/space", "/k/two", &version), 0);
  EXPECT_EQ(version, 1);
  int64_t next = 0;
  ASSERT_EQ(dsmSerialMgr(h2_, SMC_SER_COPYID, &next), 0);
  EXPECT_EQ(next, c4 + 1);
  ASSERT_EQ(zarCloseDatabase(h2_), 0);

  // obj_txid and copy id; path rows: id, recent id, recent ts.
  const std::vector<std::string> rows =
      PyRowsMany({{"object", 992, ">i940xq40x"}, {"object_path", 2081, ">q9xqq2048x"}});
  EXPECT_EQ(rows[0], "0|" + std::to_string(c1) + "|\n0|" + std::to_string(c3) + "|\n1|" +
                         std::to_string(c4) + "|\n");
  EXPECT_EQ(rows[1], "1|" + std::to_string(c1) + "|1000|\n2|0|0|\n3|" + std::to_string(c3) +
                         "|3000|\n");

  // Closed means closed: another process can open the object table alone,
  // and the catalog can be dropped.
  auto child = StartDriver({"tableopen", "6", "1", "ready"});
  EXPECT_EQ(WaitLine(*child, "tableopen"), "tableopen 0");
  child.reset();
  tevtest::FreeCatalogHandle(h2_);
  h2_ = OpenSession(4);
  const int r5 = InsertObject(h2_, "/k/five", 5000, 10);
  ASSERT_EQ(smcUnlockObject(h2_, r5, 1), 0);
  EXPECT_EQ(zarCatalogDrop(h2_, 0), 0);
  for (const char* t : kTables) EXPECT_FALSE(PairExists(t)) << t;
}

TEST_F(CatalogTest, CollidingPathsGetRowsOfTheirOwn) {
  const std::string a = Thue(false), b = Thue(true);
  ASSERT_EQ(sm_hash_string(("/x/" + a).c_str()), sm_hash_string(("/x/" + b).c_str()));
  ASSERT_EQ(sm_hash_string((a + a).c_str()), sm_hash_string((b + a).c_str()));
  MakeCatalog();
  h2_ = OpenSession(4);
  const std::vector<std::string> names = {"/x/" + a, "/x/" + b, a + a, a + b, b + a, b + b};
  std::vector<int64_t> ids;
  for (const std::string& n : names) {
    int64_t id = 0;
    ASSERT_EQ(smcGetPathId(h2_, n.c_str(), nullptr, &id), 17);
    ASSERT_EQ(smcObjPathInsert(h2_, n.c_str(), "/s", "file", &id), 0);
    ids.push_back(id);
  }
  for (size_t i = 0; i < names.size(); ++i) {
    int64_t id = 0;
    EXPECT_EQ(smcGetPathId(h2_, names[i].c_str(), nullptr, &id), 0);
    EXPECT_EQ(id, ids[i]);
  }
  EXPECT_EQ(ids, (std::vector<int64_t>{1, 2, 3, 4, 5, 6}));
}

TEST_F(CatalogTest, DetailPartsAndVolumes) {
  MakeCatalog();
  h2_ = OpenSession(4);
  InsertDetail(h2_, 7, 20, 1, 100);
  InsertDetail(h2_, 7, 30, 5, 1);
  InsertDetail(h2_, 7, 20, 2, 6000000000LL);
  InsertDetail(h2_, 7, 10, 1, 1);
  InsertDetail(h2_, 7, 20, 3, 1);
  int32_t part = -1;
  EXPECT_EQ(dsmGetNextDetailSeq(h2_, 99, &part), 0);
  EXPECT_EQ(part, 1);
  EXPECT_EQ(dsmGetNextDetailSeq(h2_, 20, &part), 0);
  EXPECT_EQ(part, 4);
  unsigned char row[SMC_DETAIL_RECLEN] = {};
  stbigint(20, row + 8);
  stlong(2, row + 16);
  EXPECT_EQ(dsmFetchDetail(h2_, row), 0);
  int64_t size = 0;
  ldbigint(&size, row + 20);
  EXPECT_EQ(size, 6000000000LL);
  stbigint(10, row + 8);
  stlong(2, row + 16);
  EXPECT_EQ(dsmFetchDetail(h2_, row), 17);
  EXPECT_EQ(smcDeleteDetails(99), 0);
  EXPECT_EQ(smcDeleteDetails(20), 0);
  EXPECT_EQ(PyRows("object_detail", 28, ">8xqi8x"), "30|5|\n10|1|\n");

  // Volumes: two paths alike in their first 120 characters, rows of two
  // transactions.
  const std::string base(130, 'v');
  struct Vol {
    int32_t session, txid, id;
    std::string path;
  } const vols[] = {{4, 1, 11, base + "1"}, {4, 1, 12, base + "2"}, {5, 1, 13, "/other"}};
  for (const Vol& v : vols) {
    unsigned char vrow[SMC_VOLUME_RECLEN] = {};
    stlong(v.session, vrow);
    stlong(v.txid, vrow + 4);
    stlong(v.id, vrow + 8);
    stchar(v.path.c_str(), reinterpret_cast<char*>(vrow + 92), 256);
    vrow[426] = 'B';
    ASSERT_EQ(iswrite(h2_->tableFd[SMC_TAB_VOLUME], vrow), 0);
  }
  for (const Vol& v : vols) {
    unsigned char vrow[SMC_VOLUME_RECLEN] = {};
    stchar(v.path.c_str(), reinterpret_cast<char*>(vrow + 92), 256);
    ASSERT_EQ(smcFetchVolumeByPath(h2_, vrow), 0);
    EXPECT_EQ(ldlong(vrow + 8), v.id);
    std::memset(vrow, 0, sizeof vrow);
    stlong(v.id, vrow + 8);
    ASSERT_EQ(smcFetchVolume(h2_, vrow), 0);
    EXPECT_EQ(ldlong(vrow), v.session);
  }
  unsigned char vrow[SMC_VOLUME_RECLEN] = {};
  stchar(base.c_str(), reinterpret_cast<char*>(vrow + 92), 256);
  EXPECT_EQ(smcFetchVolumeByPath(h2_, vrow), 17);
  EXPECT_EQ(smcVolumeClearTxn(h2_, 1, 4), 0);
  EXPECT_EQ(smcVolumeClearTxn(nullptr, 1, 4), 22);
  EXPECT_EQ(smcVolumeTabUnlockAll(12), 0);
  // The default device's volume (session 1) first.
  EXPECT_EQ(PyRows("volume", 472, ">ii418xs45x"), "1|1|I|\n4|0|B|\n4|0|I|\n5|1|B|\n");
}

TEST_F(CatalogTest, DevicesInsertAndFindByNameAndPool) {
  MakeCatalog();
  // The insert finds or makes each device's volume through the handle's
  // tables. The new catalog's default device holds the first two row slots
  // (pools 1 and 2, no session).
  ASSERT_EQ(zarOpenDatabase(h_), 0);
  const std::string def = env_->install().Path("backups");
  // A CLOUD device with a media size above 4 GiB and a read command of the
  // full 120 characters.
  TevDevice dev{};
  std::snprintf(dev.name, sizeof dev.name, "%s", "/dev/a");
  const std::string cmd(120, 'r');
  std::snprintf(dev.readCmd, sizeof dev.readCmd, "%s", cmd.c_str());
  std::snprintf(dev.writeCmd, sizeof dev.writeCmd, "%s", "w x");
  std::snprintf(dev.user, sizeof dev.user, "%s", "key");
  std::snprintf(dev.url, sizeof dev.url, "%s", "https://127.0.0.1:1");
  std::snprintf(dev.container, sizeof dev.container, "%s", "bucket");
  dev.type = 4;
  dev.cloudProvider = 1;
  dev.priority = 4;
  dev.blockSize = 65536;
  dev.mediaSizeHigh = 1;  // 4 GiB + 7
  dev.mediaSizeLow = 7;
  dev.partSize = 5000000000LL;
  dev.poolId = 1;
  dev.timestamp = 1700000000;
  dev.sessionId = 9;
  EXPECT_EQ(smcInsertDevice(h_, &dev), 0);
  // The same name in the same pool: 3 and nothing changes; in another
  // pool a second row; another name in the first pool.
  dev.priority = 2;
  EXPECT_EQ(smcInsertDevice(h_, &dev), 3);
  dev.poolId = 2;
  dev.type = 2;
  EXPECT_EQ(smcInsertDevice(h_, &dev), 0);
  TevDevice other{};
  std::snprintf(other.name, sizeof other.name, "%s", "/dev/b");
  other.type = 1;
  other.priority = 3;
  other.poolId = 1;
  EXPECT_EQ(smcInsertDevice(h_, &other), 0);
  EXPECT_EQ(smcInsertDevice(h_, &other), 3);
  // The rows below are changed straight in their file: nothing of the
  // table may stay open in this process meanwhile.
  ASSERT_EQ(zarCloseDatabase(h_), 0);
  // One volume per device path, whatever its pools.
  EXPECT_EQ(PyRows("volume", 472, ">8xi80x256s124x"),
            "1|" + def + "|\n2|/dev/a|\n3|/dev/b|\n");

  // Columns with each command slot split after its first 120 bytes, so
  // anything but blanks behind the command shows.
  const std::string fmt = ">120s120s136s120s136si5siqQq1sqii128s128s128s128s128s256s256s";
  EXPECT_EQ(PyRows("device", 1838, fmt),
            def + "|||||2|FILE|0|0|0|0|I|0|1|0||||||||\n" + def +
            "|||||2|FILE|0|0|0|0|I|0|2|0||||||||\n"
            "/dev/a|" + cmd + "||w x||4|CLOUD|1|65536|4294967303|5000000000|I|1700000000|1|9|key|||||"
            "https://127.0.0.1:1|bucket|\n"
            "/dev/a|" + cmd + "||w x||2|TAPE|1|65536|4294967303|5000000000|I|1700000000|2|9|key|||||"
            "https://127.0.0.1:1|bucket|\n"
            "/dev/b|||||3|FILE|0|0|0|0|I|0|1|0||||||||\n");

  // Find: the row of the name in the pool, left open for a rewrite; another
  // pool, a prefix of the name and an unknown name are not found.
  struct Case {
    const char* name;
    int32_t pool;
    int rc;
  } const cases[] = {{"/dev/a", 2, 0}, {"/dev/a", 1, 0}, {"/dev/b", 1, 0}, {"/dev/a", 3, 17},
                     {"/dev/b", 2, 17}, {"/dev/", 1, 17},  {"/dev/c", 1, 17}, {"/dev/ab", 1, 17}};
  for (const Case& c : cases) {
    TevDevice key{};
    std::snprintf(key.name, sizeof key.name, "%s", c.name);
    char status[2] = {'x', 'x'};
    unsigned char row[SMC_DEVICE_RECLEN] = {};
    EXPECT_EQ(dsmFindDevice(&key, c.pool, status, row, 1), c.rc) << c.name << " " << c.pool;
    if (c.rc == 0) {
      EXPECT_EQ(std::string(status), "I");
      EXPECT_EQ(ldlong(row + 678), c.pool);
      char name[121];
      ldchar(reinterpret_cast<const char*>(row), 120, name);
      EXPECT_STREQ(name, c.name);
    }
    EXPECT_EQ(smcDevTabClose(), 0);
  }

  // Busy marks as a mount leaves them (straight into the row slots), then
  // reset for session 9 and for every session.
  {
    FILE* f = std::fopen((Table("device") + ".dat").c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    for (long slot = 2; slot < 5; ++slot) {
      ASSERT_EQ(std::fseek(f, slot * 1839 + 669, SEEK_SET), 0);
      ASSERT_EQ(std::fputc('B', f), 'B');
    }
    ASSERT_EQ(std::fclose(f), 0);
  }
  EXPECT_EQ(smcDevTabResetStatus(9), 0);
  EXPECT_EQ(PyRows("device", 1838, ">669x1s8xii1152x"),
            "I|1|0|\nI|2|0|\nI|1|9|\nI|2|9|\nB|1|0|\n");
  EXPECT_EQ(smcDevTabResetStatus(0), 0);
  EXPECT_EQ(PyRows("device", 1838, ">669x1s8xii1152x"),
            "I|1|0|\nI|2|0|\nI|1|9|\nI|2|9|\nI|1|0|\n");

  // Listing through a session's table, first row busy again.
  {
    FILE* f = std::fopen((Table("device") + ".dat").c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fseek(f, 2 * 1839 + 669, SEEK_SET), 0);
    ASSERT_EQ(std::fputc('B', f), 'B');
    ASSERT_EQ(std::fclose(f), 0);
  }
  h2_ = OpenSession(4);
  struct ListCase {
    int32_t status, pool, session;
    std::string names;  // name:pool of each listed device
  } const lists[] = {{0, 0, 0, def + ":1 " + def + ":2 /dev/a:1 /dev/a:2 /dev/b:1 "},
                     {1, 0, 0, "/dev/a:1 "},
                     {2, 0, 0, def + ":1 " + def + ":2 /dev/a:2 /dev/b:1 "},
                     {0, 2, 0, def + ":2 /dev/a:2 "},
                     {0, 0, 9, "/dev/a:1 /dev/a:2 "},
                     {2, 1, 9, ""}};
  for (const ListCase& c : lists) {
    TypedList* list = nullptr;
    ASSERT_EQ(smcGetDeviceList(h2_, c.status, c.pool, c.session, &list), 0);
    std::string names;
    int32_t st = 0;
    for (void* e = ll_first(list, &st); e != nullptr && st == LL_OK; e = ll_next(list, &st)) {
      const auto* d = static_cast<const TevDevice*>(e);
      names += std::string(d->name) + ":" + std::to_string(d->poolId) + " ";
      if (c.status == 1) {
        // Every column of the first row back, the media size above 4 GiB.
        EXPECT_EQ(std::string(d->readCmd), cmd);
        EXPECT_STREQ(d->writeCmd, "w x");
        EXPECT_STREQ(d->url, "https://127.0.0.1:1");
        EXPECT_STREQ(d->container, "bucket");
        EXPECT_STREQ(d->user, "key");
        EXPECT_EQ(d->type, 4);
        EXPECT_EQ(d->priority, 4);
        EXPECT_EQ(d->cloudProvider, 1u);
        EXPECT_EQ(d->blockSize, 65536);
        EXPECT_EQ(d->mediaSizeHigh, 1u);
        EXPECT_EQ(d->mediaSizeLow, 7u);
        EXPECT_EQ(d->partSize, 5000000000LL);
        EXPECT_EQ(d->sessionId, 9);
        EXPECT_EQ(d->busy, 1);
        EXPECT_EQ(d->descriptor, -1);
        const time_t t = 1700000000;
        struct tm tm {};
        char text[21];
        ASSERT_NE(localtime_r(&t, &tm), nullptr);
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
        EXPECT_STREQ(d->timestampText, text);
      }
    }
    EXPECT_EQ(names, c.names) << c.status << " " << c.pool << " " << c.session;
    ll_destroy(&list, 1, &st);
  }
  EXPECT_EQ(smcGetDeviceList(h2_, 0, 0, 0, nullptr), 22);
}

TEST_F(CatalogTest, ObjectListingAndDumpsOfTheObjectTables) {
  MakeCatalog();
  env_->Set("TZ", "UTC");
  tzset();
  h2_ = OpenSession(4);
  testing::internal::CaptureStdout();
  EXPECT_EQ(zarListObjects(), 0);
  const std::string empty = testing::internal::GetCapturedStdout();
  int64_t c1 = 0, c2 = 0;
  InsertObject(h2_, "/p/one", 86400 * 365, 1536, &c1);
  InsertObject(h2_, "/p/two", 1700000000, 3ULL << 30, &c2);
  {
    unsigned char prow[SMC_PATH_RECLEN];
    // A hash at or above 2^63 is dumped negative.
    int64_t big_id = 0;
    ASSERT_EQ(smcObjPathInsert(h2_, "/p/neg", "/s", "dir", &big_id), 0);
    ASSERT_EQ(smcFetchObjectPath(h2_, big_id, prow), 0);
  }
  InsertDetail(h2_, 3, c2, 1, 3LL << 30);
  testing::internal::CaptureStdout();
  EXPECT_EQ(zarListObjects(), 0);
  const std::string listing = testing::internal::GetCapturedStdout();
  ASSERT_EQ(zarCloseDatabase(h2_), 0);
  tevtest::FreeCatalogHandle(h2_);
  h2_ = nullptr;

  const char kList[] = R"(
import datetime, struct, sys
c1, c2 = int(sys.argv[1]), int(sys.argv[2])
head = '\nObject ID            Created                   Size MB Name\n'
def line(c, t, b, name, v):
    d = datetime.datetime.fromtimestamp(t, datetime.timezone.utc)
    ts = '%4d-%02d-%02d %02d:%02d:%02d' % (d.year, d.month, d.day, d.hour, d.minute, d.second)
    mb = struct.unpack('f', struct.pack('f', float(b >> 10)))[0] * struct.unpack('f', struct.pack('f', 1.0/1024))[0]
    mb = struct.unpack('f', struct.pack('f', mb))[0]
    return '%-20d %19s %10.1f %s.%d\n' % (c, ts, mb, name, v)
print(head + '|' + head + 'Objects in the catalog:' + line(c1, 86400*365, 1536, '/p/one/space', 1)
      + line(c2, 1700000000, 3 << 30, '/p/two/space', 1), end='')
)";
  tevtest::RunResult py =
      tevtest::RunProgram(tevtest::Python(), {"-c", kList, std::to_string(c1), std::to_string(c2)});
  ASSERT_EQ(py.exit_code, 0) << py.err;
  EXPECT_EQ(empty + "|" + listing, py.out);

  // The dumps against the python reader: unsigned size words, signed hash.
  const std::vector<std::string> expected =
      PyRowsMany({{"object_path", 2081, ">qqcqq1024s1024s", "tab"},
                  {"object", 992, ">icq256s512s31s64s64siqiIIIIiqq", "tab"},
                  {"object_detail", 28, ">iiqiq", "tab"}});
  struct {
    int id;
    size_t index;
  } const dumps[] = {{5, 0}, {6, 1}, {7, 2}};
  for (const auto& d : dumps) {
    tevtest::RunResult r = Driver({"dump", std::to_string(d.id), "tab"});
    EXPECT_EQ(r.out, expected[d.index] + "dump 0\n") << d.id;
  }
  EXPECT_NE(expected[1].find("\t3221225472\t0\t"), std::string::npos);
  for (const char* t : {"volume", "device"}) {
    (void)t;
  }
  // The volume table holds the new catalog's default device's volume.
  tevtest::RunResult r = Driver({"dump", "8", "tab"});
  EXPECT_EQ(r.out, PyRows("volume", 472, ">iii80s256si18s20s20siiq1sii5s32s", "tab") + "dump 0\n");
  EXPECT_EQ(r.err, "");
}
