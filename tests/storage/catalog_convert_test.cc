// Conversion of older catalogs on real files. A python3 writer builds the
// rows of the older layouts from fixed values, byte by byte after the
// layout tables; the test writes them into ISAM tables of those record
// lengths and opens the catalog. The same python3 script builds the rows
// the converted tables must hold, which are compared with the ".dat" record
// slots.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/fields.h"
#include "isam/isam.h"
#include "storage/catalog/smc_convert.h"
#include "storage/catalog/smc_lock.h"
#include "storage/catalog/smcatalog.h"
#include "storage/command/config.h"
#include "storage/datapath/smhandle.h"
#include "tests/storage/catalog_handle.h"
#include "tests/storage/config_env.h"
#include "tests/support/test_support.h"

namespace {

// argv: mode ("old" or "new"), version minor (3, 6, 7), variant. Prints
// "T <table> <record length>" and then one "R <hex>" line per row.
const char kOracle[] = R"(
import struct, sys
mode, minor, variant = sys.argv[1], int(sys.argv[2]), sys.argv[3]

def put(row, off, data):
    row[off:off + len(data)] = data
def text(s, n):
    b = s.encode('latin-1')
    assert len(b) <= n
    return b + b' ' * (n - len(b))
def path_hash(s):
    v = 7877
    for b in s.encode('latin-1'):
        v = (v * 7919 + (b - 256 if b > 127 else b)) % (1 << 64)
    return v - (1 << 64) if v >= (1 << 63) else v

devices = [
    dict(name='/backup/dev1', r='r' * 120, w='write cmd', prio=3, type='FILE', block=65536,
         media=5368709120, status='I', ts=0x80000001, pool=4, sess=0),
    dict(name='/backup/dev2', r='', w='', prio=4, type='TAPE', block=1024, media=0,
         status='B', ts=1700000000, pool=5, sess=9),
]
volumes = [
    dict(sess=3, tx=0, id=70, label='TEV_DISK_VOL', path='/backup/dev1', pool=5,
         version='TEV VERSION 1.3', crea='2023-11-14', mod='2023-11-15', nobj=2, life=0,
         ts=-2147483647, status='I', hi=1, lo=-5, type='FILE', platform='Windows'),
    dict(sess=4, tx=1, id=71, label='L' * 80, path='/' + 'p' * 255, pool=6, version='V' * 18,
         crea='c' * 20, mod='m' * 20, nobj=-1, life=7, ts=1700000000, status='X', hi=-2,
         lo=2147483647, type='TAPE', platform='P' * 32),
]
objects = [
    dict(tx=0, status='I', kind='F', space='space1', path='/data/a', desc='first', info='i1',
         enc='UTF-8', owner='own', app='app', sess=0, copy=11, version=1, lo=3221225472, hi=0,
         rlo=1, rhi=0, users=0, ctime=1700000500, ts=-2147483647),
    dict(tx=1, status='L', kind='F', space='space1', path='/data/a', desc='d' * 256,
         info='i' * 512, enc='e' * 31, owner='o' * 64, app='a' * 64, sess=12, copy=12,
         version=2, lo=0, hi=1, rlo=4294967295, rhi=7, users=3, ctime=1700000100, ts=0),
    dict(tx=0, status='X', kind='DB', space='space2', path='/data/' + 'b' * 1018, desc='',
         info='', enc='', owner='', app='', sess=-3, copy=13, version=1, lo=1, hi=0, rlo=0,
         rhi=0, users=-1, ctime=1600000000, ts=5),
]
serial = (13, 71, 5, 0, 2)
if variant == 'dupvol':
    volumes.append(dict(volumes[0], label='duplicate'))
if variant == 'dupobj':
    objects.append(dict(objects[2], path='/data/c', copy=11))

def old_device(d):
    if minor == 3:
        row = bytearray(397)
        put(row, 385, struct.pack('>I', d['ts']))
        put(row, 389, struct.pack('>ii', d['pool'], d['sess']))
    elif minor == 6:
        row = bytearray(401)
        put(row, 385, struct.pack('>q', d['ts']))
        put(row, 393, struct.pack('>ii', d['pool'], d['sess']))
    else:
        return new_device(d)[:686]
    put(row, 0, text(d['name'], 120) + text(d['r'], 120) + text(d['w'], 120))
    put(row, 360, struct.pack('>i', d['prio']) + text(d['type'], 4))
    put(row, 368, struct.pack('>qq', d['block'], d['media']) + d['status'].encode())
    return row

def new_device(d):
    row = bytearray(1838)
    put(row, 0, text(d['name'], 120) + text(d['r'], 256) + text(d['w'], 256))
    put(row, 632, struct.pack('>i', d['prio']) + text(d['type'], 5) + struct.pack('>i', 0))
    put(row, 645, struct.pack('>qqq', d['block'], d['media'], 0) + d['status'].encode())
    put(row, 670, struct.pack('>qii', d['ts'], d['pool'], d['sess']))
    return row

def vol_common(v, row, at):
    put(row, 0, struct.pack('>iii', v['sess'], v['tx'], v['id']))
    put(row, 12, text(v['label'], 80) + text(v['path'], 256))
    put(row, at, text(v['version'], 18) + text(v['crea'], 20) + text(v['mod'], 20))
    put(row, at + 58, struct.pack('>ii', v['nobj'], v['life']))

def old_volume(v):
    if minor == 7:
        return new_volume(v, True)
    row = bytearray(463 if minor == 3 else 467)
    vol_common(v, row, 348)
    if minor == 3:
        put(row, 414, struct.pack('>i', v['ts']))
        at = 418
    else:
        put(row, 414, struct.pack('>q', v['ts']))
        at = 422
    put(row, at, v['status'].encode() + struct.pack('>ii', v['hi'], v['lo']))
    put(row, at + 9, text(v['type'], 4) + text(v['platform'], 32))
    if variant == 'shortvol':
        row = row[:400]
    return row

def new_volume(v, keeps_pool):
    row = bytearray(472)
    vol_common(v, row, 352)
    put(row, 348, struct.pack('>i', v['pool'] if keeps_pool else 0))
    put(row, 418, struct.pack('>q', v['ts']) + v['status'].encode())
    put(row, 427, struct.pack('>ii', v['hi'], v['lo']) + text(v['type'], 5))
    put(row, 440, text(v['platform'], 32))
    return row

def old_object(o):
    row = bytearray(3026)
    put(row, 0, struct.pack('>i', o['tx']) + o['status'].encode() + text(o['kind'], 2))
    put(row, 7, text(o['space'], 1024) + text(o['path'], 1024) + text(o['desc'], 256))
    put(row, 2311, text(o['info'], 512) + text(o['enc'], 31) + text(o['owner'], 64))
    put(row, 2918, text(o['app'], 64))
    put(row, 2982, struct.pack('>iqiIIIIiii', o['sess'], o['copy'], o['version'], o['lo'],
                               o['hi'], o['rlo'], o['rhi'], o['users'], o['ctime'], o['ts']))
    return row

def new_object(o, path_id):
    row = bytearray(992)
    put(row, 0, struct.pack('>i', o['tx']) + o['status'].encode() + struct.pack('>q', path_id))
    put(row, 13, text(o['desc'], 256) + text(o['info'], 512) + text(o['enc'], 31))
    put(row, 812, text(o['owner'], 64) + text(o['app'], 64))
    put(row, 940, struct.pack('>iqiIIIIiqq', o['sess'], o['copy'], o['version'], o['lo'],
                              o['hi'], o['rlo'], o['rhi'], o['users'], o['ctime'], o['ts']))
    return row

def show(name, reclen, rows):
    print('T', name, reclen)
    for r in rows:
        assert len(r) == reclen, (name, len(r), reclen)
        print('R', bytes(r).hex())

if mode == 'old':
    show('device', {3: 397, 6: 401, 7: 686}[minor], [old_device(d) for d in devices])
    vrows = [old_volume(v) for v in volumes]
    show('volume', len(vrows[0]), vrows)
    if minor == 3:
        show('object', 3026, [old_object(o) for o in objects])
        show('serial', 24, [struct.pack('>qiiii', *serial)])
else:
    show('device', 1838, [new_device(d) for d in devices])
    show('volume', 472, [new_volume(v, minor == 7) for v in volumes])
    if minor == 3:
        ids, paths, rows = {}, [], []
        for o in objects:
            if o['path'] not in ids:
                ids[o['path']] = len(ids) + 1
                paths.append(dict(id=ids[o['path']], o=o, recent=None))
            p = paths[ids[o['path']] - 1]
            # The newest object by creation time is the active one.
            if p['recent'] is None or o['ctime'] >= p['recent']['ctime']:
                p['recent'] = o
            rows.append(new_object(o, ids[o['path']]))
        show('object', 992, rows)
        prows = []
        for p in paths:
            row = bytearray(2081)
            put(row, 0, struct.pack('>qq', p['id'], path_hash(p['o']['path'])))
            put(row, 16, p['o']['kind'][0].encode())
            put(row, 17, struct.pack('>qq', p['recent']['copy'], p['recent']['ctime']))
            put(row, 33, text(p['o']['space'], 1024) + text(p['o']['path'], 1024))
            prows.append(row)
        show('object_path', 2081, prows)
        show('serial', 32, [struct.pack('>qiiiiq', *serial, len(paths))])
)";

struct Table {
  int reclen = 0;
  std::vector<std::string> rows;  // hex
};
using Tables = std::map<std::string, Table>;

class CatalogConvert : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("AFDEBUG");
    env_ = std::make_unique<tevtest::ConfigEnv>();
    const tevtest::TempInstall& in = env_->install();
    for (const char* dir : {"msg", "lxr"}) {
      ASSERT_EQ(symlink((tevtest::BuildTree() + "/" + dir).c_str(), in.Path(dir).c_str()), 0);
    }
    dir_ = in.Path("cat");
    env_->Set("TEV_CATALOG_PATH", dir_);
    env_->Set("TEV_LOCK_TIMEOUT", "2");
    ASSERT_EQ(zarLoadConfig(0), 0);
  }
  void TearDown() override {
    for (zarHandle* h : handles_) {
      zarCloseDatabase(h);
      tevtest::FreeCatalogHandle(h);
    }
  }
  zarHandle* NewHandle() {
    handles_.push_back(tevtest::NewCatalogHandle());
    return handles_.back();
  }
  std::string Path(const std::string& table) const { return dir_ + "/" + table; }
  // The activity log (written through a descriptor that stays open, so it
  // is never removed between cases; a case reads what it added).
  std::string ActLog() const {
    return env_->install().Exists("act.log") ? env_->install().ReadFile("act.log") : "";
  }
  // Closes the handles and erases the catalog directory.
  void Restart() {
    TearDown();
    handles_.clear();
    std::filesystem::remove_all(dir_);
  }

  static Tables Oracle(const std::string& mode, int minor, const std::string& variant) {
    tevtest::RunOptions opt;
    opt.env = {{"PATH", "/usr/bin:/bin"}};
    auto r = tevtest::RunProgram(tevtest::Python(),
                                 {"-c", kOracle, mode, std::to_string(minor), variant}, opt);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    Tables out;
    std::istringstream in(r.out);
    std::string kind, name;
    Table* current = nullptr;
    while (in >> kind) {
      if (kind == "T") {
        in >> name;
        current = &out[name];
        in >> current->reclen;
      } else {
        std::string hex;
        in >> hex;
        current->rows.push_back(hex);
      }
    }
    return out;
  }

  // The active record slots of a table as hex.
  std::vector<std::string> Slots(const std::string& table, int reclen) const {
    const std::string data = tevtest::ReadFile(Path(table) + ".dat");
    std::vector<std::string> rows;
    const size_t z = static_cast<size_t>(reclen) + 1;
    for (size_t at = 0; at + z <= data.size(); at += z) {
      if (data[at + z - 1] != 0x0A) continue;
      static const char kHex[] = "0123456789abcdef";
      std::string hex;
      for (size_t i = 0; i < z - 1; ++i) {
        const auto c = static_cast<unsigned char>(data[at + i]);
        hex += kHex[c >> 4];
        hex += kHex[c & 15];
      }
      rows.push_back(hex);
    }
    return rows;
  }
  void ExpectTables(const Tables& expected) const {
    for (const auto& [name, t] : expected) {
      SCOPED_TRACE(name);
      EXPECT_EQ(Slots(name, t.reclen), t.rows);
    }
  }

  std::string Marker() const {
    std::vector<std::string> rows = Slots("lock", 36);
    if (rows.empty()) return "";
    std::string marker;
    for (size_t i = 16; i < 56; i += 2) {
      marker += static_cast<char>(std::stoi(rows[0].substr(i, 2), nullptr, 16));
    }
    return marker.substr(0, marker.find_last_not_of(' ') + 1);
  }
  void SetMarker(const std::string& marker) {
    const int fd = isopen(Path("lock").c_str(), IS_INOUT | IS_EXCLLOCK);
    ASSERT_GE(fd, 0);
    unsigned char row[36];
    ASSERT_EQ(isread(fd, row, IS_FIRST), 0);
    stchar(marker.c_str(), reinterpret_cast<char*>(row + 8), 20);
    ASSERT_EQ(isrewcurr(fd, row), 0);
    ASSERT_EQ(isclose(fd), 0);
  }
  // A table of the given record length without keys, holding the rows.
  void WriteTable(const std::string& table, const Table& t) {
    iserase(Path(table).c_str());
    IsamKeyDesc none{};
    const int fd = isbuild(Path(table).c_str(), t.reclen, &none, IS_INOUT | IS_EXCLLOCK);
    ASSERT_GE(fd, 0) << table;
    for (const std::string& hex : t.rows) {
      std::string row;
      for (size_t i = 0; i < hex.size(); i += 2) {
        row += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
      }
      ASSERT_EQ(iswrite(fd, row.data()), 0) << table;
    }
    ASSERT_EQ(isclose(fd), 0);
  }
  // A catalog of release 1.<minor>: a new catalog whose changed tables are
  // replaced by tables of the old layout.
  Tables MakeOldCatalog(int minor, const std::string& variant = "") {
    zarHandle* h = NewHandle();
    EXPECT_EQ(zarCatalogCreate(h), 0);
    EXPECT_EQ(smcReleaseCatalogLock(h), 0);
    EXPECT_EQ(zarCloseDatabase(h), 0);
    Tables old = Oracle("old", minor, variant);
    for (const auto& [name, t] : old) WriteTable(name, t);
    if (minor == 3) {
      EXPECT_EQ(iserase(Path("object_path").c_str()), 0);
    }
    SetMarker("TEV VERSION 1." + std::to_string(minor));
    return old;
  }
  bool SavedPairsLeft() const {
    for (const auto& e : std::filesystem::directory_iterator(dir_)) {
      if (e.path().filename().string().find("_V_1_") != std::string::npos) return true;
    }
    return false;
  }
  // Deletes the last row of an old table (the row that broke the step).
  void DeleteLastRow(const std::string& table) {
    const int fd = isopen(Path(table).c_str(), IS_INOUT | IS_EXCLLOCK);
    ASSERT_GE(fd, 0);
    std::vector<unsigned char> row(4096);
    ASSERT_EQ(isread(fd, row.data(), IS_LAST), 0);
    ASSERT_EQ(isdelcurr(fd), 0);
    ASSERT_EQ(isclose(fd), 0);
  }

  std::unique_ptr<tevtest::ConfigEnv> env_;
  std::string dir_;
  std::vector<zarHandle*> handles_;
};

TEST_F(CatalogConvert, OlderCatalogsOpenInTheCurrentLayout) {
  for (int minor : {3, 6, 7}) {
    SCOPED_TRACE(minor);
    Restart();
    const size_t logged = ActLog().size();
    MakeOldCatalog(minor);
    zarHandle* h = NewHandle();
    ASSERT_EQ(zarOpenDatabase(h), 0) << ActLog();
    EXPECT_EQ(Marker(), "TEV VERSION 1.8");
    ExpectTables(Oracle("new", minor, ""));
    EXPECT_FALSE(SavedPairsLeft());
    const std::string log = ActLog().substr(logged);
    const size_t start =
        log.find("Converting the catalog from version 1." + std::to_string(minor) +
                 " to version 1.8.");
    EXPECT_NE(start, std::string::npos) << log;
    EXPECT_NE(log.find("The catalog conversion succeeded.", start), std::string::npos) << log;
    // The catalog lock is free again and the catalog opens as it is.
    EXPECT_EQ(Slots("lock", 36)[0].substr(56), "0000000000000000");
    zarHandle* again = NewHandle();
    EXPECT_EQ(zarOpenDatabase(again), 0);
  }
}

TEST_F(CatalogConvert, UnknownOlderVersionKeepsItsMarkerWithTablesHeldExclusively) {
  MakeOldCatalog(7);
  const std::vector<std::string> devices = Slots("device", 686);
  SetMarker("TEV VERSION 1.4");
  zarHandle* h = NewHandle();
  // The tables of a 1.4 marker are not converted: the device table of
  // shorter rows cannot be opened.
  EXPECT_NE(zarOpenDatabase(h), 0);
  EXPECT_EQ(Marker(), "TEV VERSION 1.4");
  EXPECT_EQ(Slots("device", 686), devices);

  // With tables of the current layout the open holds 2 to 9 exclusively.
  Restart();
  MakeOldCatalog(7);
  zarHandle* maker = NewHandle();
  ASSERT_EQ(zarOpenDatabase(maker), 0);
  ASSERT_EQ(zarCloseDatabase(maker), 0);
  SetMarker("TEV VERSION 1.4");
  zarHandle* four = NewHandle();
  ASSERT_EQ(zarOpenDatabase(four), 0);
  EXPECT_EQ(Marker(), "TEV VERSION 1.4");
  for (int32_t id = 2; id <= 9; ++id) {
    SCOPED_TRACE(id);
    ASSERT_GE(four->tableFd[id], 0);
    // An exclusive open refuses a second one.
    tevtest::RunOptions opt;
    for (const char* name : {"TARVELONDIR", "ZIVEVODAREVEZO", "BAR_ACT_LOG", "TEV_CATALOG_PATH",
                             "PATH", "HOME", "TMPDIR", "ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
      if (const char* v = std::getenv(name)) opt.env[name] = v;
    }
    opt.env["TEV_LOCK_TIMEOUT"] = "1";
    auto r = tevtest::RunProgram(tevtest::BuiltProgram("catalog_driver"),
                                 {"tableopen", std::to_string(id), "2"}, opt);
    EXPECT_EQ(r.out, "tableopen 19\n") << r.err;
    if (id == 3) break;  // two tables show it; each try waits a second
  }
}

struct Failure {
  const char* name;
  int minor;
  const char* variant;
  std::vector<std::string> logged;
  const char* mend;  // table whose last row goes; null: not mended
};

TEST_F(CatalogConvert, FailedStepComesBackAndConvertsOnceMended) {
  const Failure cases[] = {
      {"duplicate volume id",
       6,
       "dupvol",
       {"A row could not be inserted into the volume table.", "Volume ID = 70.",
        "The catalog conversion failed; the catalog keeps its earlier version."},
       "volume"},
      {"duplicate copy id",
       3,
       "dupobj",
       {"A row could not be inserted into the object table.", "Object ID = 11.",
        "The catalog conversion failed; the catalog keeps its earlier version."},
       "object"},
      {"volume table shorter than its layout",
       6,
       "shortvol",
       {"Cannot read catalog table " + std::string("VOLPATH") + "_V_1_6."},
       nullptr},
  };
  for (const Failure& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    const size_t logged = ActLog().size();
    const Tables old = MakeOldCatalog(c.minor, c.variant);
    zarHandle* h = NewHandle();
    EXPECT_NE(zarOpenDatabase(h), 0);
    EXPECT_EQ(Marker(), "TEV VERSION 1." + std::to_string(c.minor));
    // Every old table is back as it was, and nothing the step built stays.
    ExpectTables(old);
    EXPECT_FALSE(SavedPairsLeft());
    if (c.minor == 3) {
      EXPECT_FALSE(std::filesystem::exists(Path("object_path") + ".dat"));
    }
    const std::string log = ActLog().substr(logged);
    for (std::string text : c.logged) {
      const size_t at = text.find("VOLPATH");
      if (at != std::string::npos) text.replace(at, 7, Path("volume"));
      EXPECT_NE(log.find(text), std::string::npos) << text << "\n" << log;
    }
    if (c.mend == nullptr) continue;
    DeleteLastRow(c.mend);
    zarHandle* again = NewHandle();
    ASSERT_EQ(zarOpenDatabase(again), 0) << ActLog();
    EXPECT_EQ(Marker(), "TEV VERSION 1.8");
    ExpectTables(Oracle("new", c.minor, ""));
    EXPECT_FALSE(SavedPairsLeft());
  }
}

TEST_F(CatalogConvert, InterruptedStepStartsAgainFromItsSavedTables) {
  const Tables old = MakeOldCatalog(6);
  // A run that ended after moving the device table aside and building part
  // of the new one.
  ASSERT_EQ(isrename(Path("device").c_str(), (Path("device") + "_V_1_6").c_str()), 0);
  WriteTable("device", Table{1838, {std::string(3676, '0')}});
  zarHandle* h = NewHandle();
  ASSERT_EQ(zarOpenDatabase(h), 0) << ActLog();
  ExpectTables(Oracle("new", 6, ""));
  EXPECT_FALSE(SavedPairsLeft());
}

}  // namespace
