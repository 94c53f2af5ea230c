// The catalog's administration commands through the built zutev: EXPORT,
// INIT, IMPORT, UNLOCK and DETAIL on a temporary installation. The rows come
// from unload files that a python3 writer makes from fixed values; stored
// rows are read back by a python3 reader of the ".dat" record slots, and
// the DETAIL report is rendered by python3 from the same values.
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/zutev_tree.h"
#include "tests/support/child_process.h"

namespace {

namespace fs = std::filesystem;
using zutevtest::Msg;
using zutevtest::Tree;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Writes the unload files of a catalog into the directory argv[1]; argv[2]
// names the fixture. Every column is followed by '|'.
const char kWriter[] = R"(
import os, sys
d, which = sys.argv[1], sys.argv[2]
os.makedirs(d, exist_ok=True)

def write(name, rows):
    with open(os.path.join(d, name + '.unl'), 'w', newline='') as f:
        for r in rows:
            f.write(''.join(str(c) + '|' for c in r) + '\n')

def path_hash(s):
    v = 7877
    for b in s.encode('latin-1'):
        v = (v * 7919 + (b - 256 if b > 127 else b)) % (1 << 64)
    return v - (1 << 64) if v >= (1 << 63) else v

# A 1,024-character path whose hash prints negative.
p1 = '/data/' + 'q' * 1010
n = 0
while path_hash(p1 + '%08d' % n) >= 0:
    n += 1
p1 = p1 + '%08d' % n
assert len(p1) == 1024 and path_hash(p1) < 0

paths = [[4000000001, path_hash(p1), 'F', 3000000002, 1700000100, 'N' * 1024, p1]]
pools = [[1, 'TAPEPOOL'], [2, 'Archive Pool 2']]
if which.startswith('full'):
    paths.append([4000000002, path_hash('/db/log'), 'D', 0, 0, 'space2', '/db/log'])
    objects = [
        [0, 'I', 4000000001, '3 GiB object', 'info text', 'UTF-8', 'tevsrv', 'app', 0,
         3000000001, 1, 3221225472, 0, 4294967295, 0, 0, 1700000000, 0],
        [1, 'L', 4000000001, 'd' * 256, 'i' * 512, 'e' * 31, 'o' * 64, 'a' * 64, 12,
         3000000002, 2, 0, 1, 7, 4294967295, 3, 1700000100, -1700000200],
        [0, 'X', 4000000002, '', '', '', '', '', -3, 3000000003, 1, 1, 0, 0, 0, -1, 0, 0],
    ]
    details = [[70, 1, 3000000001, 1, 3000000000], [70, 2, 3000000001, 2, 221225472],
               [71, 1, 3000000002, 1, 4294967296]]
    volumes = [
        [3, 0, 70, 'TEV_DISK_VOL', '/backup/dev1', 4, 'TEV VERSION 1.8',
         '2023-11-14 22:13:20', '2023-11-14 22:13:21', 2, 0, 1700000123, 'I', 1, -5, 'FILE',
         'Windows'],
        [4, 1, 71, 'L' * 80, '/' + 'p' * 255, 5, 'V' * 18, 'c' * 20, 'm' * 20, -1, 7,
         -1700000000, 'X', -2, 2147483647, 'CLOUD', 'P' * 32],
    ]
    devices = [
        ['/backup/dev1', 'r' * 120, 'w' * 120, 3, 'FILE', 0, 65536, 5368709120, 0, 'I',
         1700000000, 4, 0, '', '', '', '', '', '', ''],
        ['/backup/dev1', 'r' * 120, 'w' * 120, 4, 'FILE', 0, 65536, 5368709120, 0, 'I',
         1700000001, 5, 0, '', '', '', '', '', '', ''],
        ['n' * 120, 'read it', 'write it', 1, 'CLOUD', 1, 1048576, 8589934592, 3000000000, 'B',
         1700000300, 6, 9, 'u' * 128, 's' * 128, 'x' * 128, 'y' * 128, 'z' * 128, 'h' * 256,
         'c' * 256],
    ]
    serial = [[900000000000, 71, 500, 0, 2, 4000000002]]
else:
    # What a process leaves when it dies in the middle of its work: a busy
    # device and volume and objects in use (one of them without its path
    # row).
    objects = [
        [0, 'I', 4000000001, 'idle', '', '', '', '', 0, 3000000001, 1, 5, 0, 0, 0, 0,
         1700000000, 0],
        [0, 'B', 4000000001, 'read', '', '', '', '', 7, 3000000002, 2, 5, 0, 0, 0, 1,
         1700000100, 1700000400],
        [1, 'L', 999, 'lost', '', '', '', '', 7, 3000000003, 1, 0, 0, 0, 0, 0, 1700000200,
         1700000500],
    ]
    details = []
    volumes = [[7, 1, 70, 'TEV_DISK_VOL', '/backup/busy', 4, 'TEV VERSION 1.8', 'c', 'm', 1, 0,
                1700000600, 'B', 0, 100, 'FILE', 'Windows']]
    devices = [
        ['/backup/busy', '', '', 3, 'FILE', 0, 65536, 0, 0, 'B', 1700000700, 4, 7, '', '', '',
         '', '', '', ''],
        ['/backup/idle', '', '', 3, 'FILE', 0, 65536, 0, 0, 'I', 1700000800, 4, 0, '', '', '',
         '', '', '', ''],
    ]
    serial = [[3000000003, 70, 600, 0, 2, 4000000001]]

if which == 'fullbig':
    # Enough long path rows for an unload file of well over 64 KiB.
    for i in range(100):
        p = '/big/%04d/' % i + 'b' * 1000
        paths.append([5000000000 + i, path_hash(p), 'F', 0, 0, 'N' * 1024, p])
write('serial', serial)
write('pool', pools)
write('object_path', paths)
write('object', objects)
write('object_detail', details)
write('volume', volumes)
write('device', devices)
# Lock and session rows that the import must leave alone.
write('lock', [[1, 'TEV VERSION 0.1', 99, 99]])
write('session', [[77, 77]])
)";

// Prints the active rows of the tables named after the catalog directory
// (argv[1]), one line per row, fields joined by '|'; with "slots" the
// device rows' command slot tails instead.
const char kReader[] = R"(
import struct, sys
layouts = {
    'lock': (36, '>q20sii'), 'session': (8, '>ii'),
    'object': (992, '>ic q256s512s31s64s64siqiIIIIiqq'),
    'device': (1838, '>120s256s256si5siqqqcqii128s128s128s128s128s256s256s'),
    'volume': (472, '>iii80s256si18s20s20siiqcii5s32s'),
}
cat = sys.argv[1]
for table in sys.argv[2:]:
    if table == 'slots':
        data = open(cat + '/device.dat', 'rb').read()
        for i in range(len(data) // 1839):
            s = data[i * 1839:(i + 1) * 1839]
            if s[-1] == 0x0A:
                print(s[240:376] == b' ' * 136, s[496:632] == b' ' * 136)
        continue
    reclen, fmt = layouts[table]
    data = open(cat + '/' + table + '.dat', 'rb').read()
    for i in range(len(data) // (reclen + 1)):
        s = data[i * (reclen + 1):(i + 1) * (reclen + 1)]
        if s[-1] != 0x0A:
            continue
        out = []
        for f in struct.unpack(fmt, s[:reclen]):
            if isinstance(f, bytes):
                f = f.decode('latin-1').rstrip(' ')[:40]
            out.append(str(f))
        print(table + ':' + '|'.join(out))
)";

// The DETAIL report as the command must print it, from the lock and
// session rows on disk and the fixture's values (TZ=UTC).
const char kDetail[] = R"(
import struct, sys, datetime
cat, location, objects_head, devices_head, busy = sys.argv[1:6]
def rows(table, reclen, fmt):
    data = open(cat + '/' + table + '.dat', 'rb').read()
    z = reclen + 1
    return [struct.unpack(fmt, data[i * z:i * z + reclen]) for i in range(len(data) // z)
            if data[i * z + reclen] == 0x0A]
def when(t):
    return datetime.datetime.fromtimestamp(t, datetime.timezone.utc).strftime('%Y-%m-%d %H:%M:%S')
lock_id, _, owner, adm = rows('lock', 36, '>q20sii')[0]
out = '\nTarvelon Tevrin Storage Manager State:\n\n'
out += '    TEV Unique ID    : %d\n' % lock_id
out += '    Catalog Location : %s\n' % location
out += '    Catalog State    : %s\n' % ('Locked' if owner else 'Unlocked')
out += '    Catalog Owner    : %d\n' % owner
out += '    Catalog Lock Mode: %s\n' % ('Admin' if adm else 'Regular')
out += '\n\nSessions:\n    Session ID       Process ID\n'
sessions = rows('session', 8, '>ii')
for s, p in sessions:
    out += '    %-16d %-16d\n' % (s, p)
if not sessions:
    out += 'Empty SESSION table.\n'
if busy == 'yes':
    p1 = '/data/' + 'q' * 1010
    out += '\n\n%s\n\n' % objects_head
    name = 'N' * 1024
    path = [r for r in open('src/object_path.unl').read().split('\n') if r][0].split('|')[6]
    out += '%7d %12d %s %-21s %-s\n' % (7, 3000000002, when(1700000400), name, path)
    bad = 'Invalid Reference to Path ID = 999.'
    out += '%7d %12d %s %-21s %-s\n' % (7, 3000000003, when(1700000500), bad, bad)
    out += '%s\n\n' % devices_head
    out += '%7d %s %s\n' % (7, when(1700000700), '/backup/busy')
    out += '\n\n'
sys.stdout.write(out)
)";

class CatalogAdmin : public ::testing::Test {
 protected:
  void SetUp() override {
    t_.env()["TZ"] = "UTC";
    cat_ = t_.dir().Path("etc/tev");
  }

  tevtest::RunResult Py(const char* script, const std::vector<std::string>& args) {
    std::vector<std::string> all = {"-c", script};
    all.insert(all.end(), args.begin(), args.end());
    tevtest::RunOptions opt;
    opt.env = {{"PATH", "/usr/bin:/bin"}};
    opt.cwd = t_.dir().path();
    tevtest::RunResult r = tevtest::RunProgram(tevtest::Python(), all, opt);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r;
  }
  // The python writer's unload files in <dir>.
  void WriteFixture(const std::string& dir, const std::string& which) {
    Py(kWriter, {t_.dir().Path(dir), which});
  }
  std::string Rows(const std::vector<std::string>& tables) {
    std::vector<std::string> args = {cat_};
    args.insert(args.end(), tables.begin(), tables.end());
    return Py(kReader, args).out;
  }
  std::string P(const std::string& rel) const { return t_.dir().Path(rel); }
  // Copies a fixture directory to the export directory.
  void ToExportDir(const std::string& from) {
    fs::remove_all(P("tev_catalog.exp"));
    fs::copy(P(from), P("tev_catalog.exp"), fs::copy_options::recursive);
  }
  void Import(const std::string& from) {
    ToExportDir(from);
    auto r = t_.Run({"-C", "IMPORT", "-y"});
    ASSERT_EQ(r.exit_code, 0) << r.err << t_.ActLog();
    fs::remove_all(P("tev_catalog.exp"));
  }
  // EXPORT into a new export directory, moved afterwards to <to>.
  void Export(const std::string& to) {
    auto r = t_.Run({"-C", "EXPORT"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    fs::rename(P("tev_catalog.exp"), P(to));
  }
  // The catalog driver, run to its end with the installation's settings.
  tevtest::RunResult Driver(const std::vector<std::string>& calls) {
    tevtest::RunOptions opt;
    opt.env = t_.env();
    opt.env["TEV_LOCK_TIMEOUT"] = "2";
    return tevtest::RunProgram(tevtest::BuiltProgram("catalog_driver"), calls, opt);
  }
  // A process that takes the catalog lock as session 7, writes its session
  // row and is killed with SIGKILL.
  void LockAndDie() {
    std::vector<std::string> env;
    for (const auto& [k, v] : t_.env()) env.push_back(k + "=" + v);
    tevtest::Child c({tevtest::BuiltProgram("catalog_driver"), "open", "gettevid", "setsession",
                      "7", "lock", "insertsession", "ready"},
                     env);
    std::string all;
    for (std::string line; !(line = c.ReadLine()).empty() && line != "ready 0";) all += line + "\n";
    EXPECT_TRUE(Has(all, "lock 0\n") && Has(all, "insertsession 0\n")) << all;
    c.Kill();
    c.Wait();
  }

  Tree t_;
  std::string cat_;
};

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> out;
  size_t from = 0;
  for (size_t at; (at = line.find('|', from)) != std::string::npos; from = at + 1) {
    out.push_back(line.substr(from, at - from));
  }
  return out;
}

constexpr const char* kCopied[] = {"pool", "object_path", "object", "object_detail", "volume",
                                   "device"};

// Tables 4 to 9 of two export directories are the same bytes; their serial
// rows differ in the session counter only, which grew.
void ExpectSameExport(const std::string& a, const std::string& b) {
  for (const char* table : kCopied) {
    SCOPED_TRACE(table);
    EXPECT_EQ(tevtest::ReadFile(b + "/" + table + ".unl"),
              tevtest::ReadFile(a + "/" + table + ".unl"));
  }
  std::vector<std::string> before = Split(tevtest::ReadFile(a + "/serial.unl"));
  std::vector<std::string> after = Split(tevtest::ReadFile(b + "/serial.unl"));
  ASSERT_EQ(before.size(), 6u);
  ASSERT_EQ(after.size(), 6u);
  for (size_t i = 0; i < 6; ++i) {
    if (i == 2) {
      EXPECT_GT(std::stoll(after[i]), std::stoll(before[i]));
    } else {
      EXPECT_EQ(after[i], before[i]) << "column " << i;
    }
  }
}

TEST_F(CatalogAdmin, ExportInitImportExportKeepsEveryRow) {
  WriteFixture("src", "full");
  Import("src");
  for (const char* table : {"serial", "pool", "object_path", "object", "object_detail", "volume",
                            "device"}) {
    EXPECT_TRUE(Has(t_.ActLog(), Msg(87403, (std::string("tev_catalog.exp/") + table + ".unl")
                                                .c_str())))
        << table;
  }
  // The new catalog's own lock and session rows stayed.
  const std::string kept = Rows({"lock", "session"});
  EXPECT_TRUE(Has(kept, "|TEV VERSION 1.8|")) << kept;
  EXPECT_FALSE(Has(kept, "lock:1|")) << kept;
  EXPECT_FALSE(Has(kept, "session:77|")) << kept;
  // Command slots: the imported 120 characters, then blanks.
  EXPECT_EQ(Rows({"slots"}), "True True\nTrue True\nTrue True\n");

  Export("first");
  for (const char* table : {"lock", "serial", "session", "pool", "object_path", "object",
                            "object_detail", "volume", "device"}) {
    EXPECT_TRUE(fs::exists(P(std::string("first/") + table + ".unl"))) << table;
  }
  ExpectSameExport(P("src"), P("first"));
  // New ids continue after the imported counters.
  auto d = Driver({"open", "gettevid", "serial", "1", "1", "serial", "2", "1"});
  EXPECT_TRUE(Has(d.out, "serial 0 900000000001\nserial 0 72\n")) << d.out << d.err;

  auto r = t_.Run({"-C", "INIT", "-y"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  Import("first");
  Export("second");
  ExpectSameExport(P("first"), P("second"));
}

TEST_F(CatalogAdmin, ExportMovesAnOldDirectoryAsideAndNeverOntoAnother) {
  auto r = t_.Run({"-C", "EXPORT"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  t_.dir().WriteFile("tev_catalog.exp/mine", "kept");

  // Every name the rename can pick in the next seconds exists already (an
  // empty directory, which a plain rename would replace).
  std::vector<std::string> blockers;
  for (time_t now = time(nullptr), s = now - 1; s <= now + 30; ++s) {
    char name[64];
    struct tm tm {};
    gmtime_r(&s, &tm);
    strftime(name, sizeof name, "tev_catalog.exp.%Y%m%d.%H%M%S", &tm);
    t_.dir().MakeDir(name);
    blockers.push_back(name);
  }
  r = t_.Run({"-C", "EXPORT"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  const std::string log = t_.ActLog();
  EXPECT_TRUE(Has(log, Msg(87400, "tev_catalog.exp"))) << log;
  EXPECT_TRUE(Has(log, "Cannot rename the old export directory to tev_catalog.exp.")) << log;
  EXPECT_TRUE(Has(r.err, "Cannot rename the old export directory")) << r.err;
  EXPECT_EQ(t_.dir().ReadFile("tev_catalog.exp/mine"), "kept");
  for (const std::string& b : blockers) EXPECT_TRUE(fs::is_empty(P(b))) << b;

  for (const std::string& b : blockers) fs::remove(P(b));
  r = t_.Run({"-C", "EXPORT"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_FALSE(Has(r.err, "renamed")) << r.err;
  const std::string after = t_.ActLog().substr(log.size());
  const std::string said = "The old export directory was renamed to ";
  const size_t at = after.find(said);
  ASSERT_NE(at, std::string::npos) << after;
  const std::string moved = after.substr(at + said.size(), after.find('\n', at) - at - said.size());
  EXPECT_TRUE(moved.starts_with("tev_catalog.exp.")) << moved;
  EXPECT_EQ(t_.dir().ReadFile(moved + "/mine"), "kept");
  EXPECT_FALSE(fs::exists(P("tev_catalog.exp/mine")));
  EXPECT_TRUE(fs::exists(P("tev_catalog.exp/device.unl")));
}

TEST_F(CatalogAdmin, ExportRefusesAValueThatWouldNotLoadBack) {
  WriteFixture("src", "full");
  // No unload file can carry a '|' inside a value: the stored row is
  // changed on disk after the import.
  std::string object = tevtest::ReadFile(P("src/object.unl"));
  object.replace(object.find("3 GiB object"), 12, "3 GiB objecX");
  tevtest::WriteFile(P("src/object.unl"), object);
  Import("src");
  // Turn the X into '|' in the stored row.
  Py(R"(
import sys
p = sys.argv[1] + '/object.dat'
data = bytearray(open(p, 'rb').read())
at = data.find(b'3 GiB objecX')
data[at + 11] = ord('|')
open(p, 'wb').write(bytes(data))
)",
     {cat_});
  auto r = t_.Run({"-C", "EXPORT"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(Has(t_.ActLog(), "Row 1 of table object holds '|' or a line feed in column obj_desc"))
      << t_.ActLog();
  EXPECT_FALSE(fs::exists(P("tev_catalog.exp/object.unl")));
  EXPECT_TRUE(fs::exists(P("tev_catalog.exp/device.unl")));
}

TEST_F(CatalogAdmin, ExportOnAFullDiskFailsAndLeavesNoTruncatedFile) {
  WriteFixture("src", "fullbig");
  Import("src");
  // A file size limit of 64 KiB: the catalog's small tables and the
  // activity log (started anew) fit, the object_path table's unload file
  // does not.
  fs::remove(P("act.log"));
  tevtest::RunOptions opt;
  opt.env = t_.env();
  opt.cwd = t_.dir().path();
  auto r = tevtest::RunProgram(
      "/bin/sh", {"-c", "trap '' XFSZ; ulimit -f 128; exec \"$0\" -C EXPORT", zutevtest::Zutev()},
      opt);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  const std::string log = t_.ActLog();
  EXPECT_TRUE(Has(log, Msg(88052, "tev_catalog.exp/object_path.unl"))) << log;
  EXPECT_TRUE(Has(log, "OS Error = 27")) << log;
  EXPECT_FALSE(fs::exists(P("tev_catalog.exp/object_path.unl")));
  EXPECT_TRUE(fs::exists(P("tev_catalog.exp/pool.unl")));
}

struct Refusal {
  const char* name;
  const char* table;  // the file changed
  const char* line;   // its only line; null: the export directory is missing
  std::vector<int> messages;
};

TEST(CatalogImport, RefusesBadFilesAndSaysWhy) {
  const std::string command121(121, 'r');
  const std::string command120(120, 'r');
  const std::string device = "/d|" + command120 + "|w|3|FILE|0|1|0|0|I|0|4|0||||||||";
  const std::string long_device = "/d|" + command121 + "|w|3|FILE|0|1|0|0|I|0|4|0||||||||";
  const Refusal cases[] = {
      {"missing directory", nullptr, nullptr, {88008, 88116}},
      {"one column short", "pool", "1|", {88119, 88117, 88116}},
      {"command of 121 characters", "device", long_device.c_str(), {88161, 88117, 88116}},
      {"not a number", "pool", "one|TAPEPOOL|", {88117, 88116}},
      {"extra column ignored", "pool", "1|TAPEPOOL|extra|more", {}},
      {"command of 120 characters", "device", device.c_str(), {}},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.name);
    Tree t;
    if (c.line != nullptr) {
      for (const char* table : {"serial", "pool", "object_path", "object", "object_detail",
                                "volume", "device"}) {
        t.dir().WriteFile(std::string("tev_catalog.exp/") + table + ".unl", "");
      }
      t.dir().WriteFile("tev_catalog.exp/serial.unl", "0|0|0|0|0|0|\n");
      t.dir().WriteFile(std::string("tev_catalog.exp/") + c.table + ".unl",
                        std::string(c.line) + "\n");
    }
    auto r = t.Run({"-C", "IMPORT", "-y"});
    const std::string log = t.ActLog();
    EXPECT_EQ(r.exit_code, c.messages.empty() ? 0 : 255) << r.err;
    for (int m : c.messages) {
      std::string expected = m == 88008   ? Msg(m, "tev_catalog.exp")
                             : m == 88117 ? Msg(m, c.table)
                             : m == 88161 ? Msg(m, command121.c_str(), 120)
                                          : Msg(m);
      EXPECT_TRUE(Has(log, expected)) << m << "\n" << log;
    }
    if (c.messages.empty()) {
      auto e = t.Run({"-C", "EXPORT"});
      ASSERT_EQ(e.exit_code, 0);
      const std::string unl = t.dir().ReadFile(std::string("tev_catalog.exp/") + c.table + ".unl");
      EXPECT_EQ(unl, std::string(c.table) == "pool" ? "1|TAPEPOOL|\n" : device + "\n");
    }
  }
}

TEST_F(CatalogAdmin, UnlockAfterAKilledProcessAndDetailBeforeAndAfter) {
  WriteFixture("src", "busy");
  Import("src");
  LockAndDie();

  const std::string location = cat_ + "/";
  auto r = t_.Run({"-C", "DETAIL"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, Py(kDetail, {cat_, location, Msg(87017), Msg(87011), "yes"}).out);
  EXPECT_TRUE(Has(r.out, "Locked\n    Catalog Owner    : 7\n")) << r.out;

  r = t_.Run({"-C", "UNLOCK"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  const std::string rows = Rows({"lock", "session", "device", "volume", "object"});
  EXPECT_TRUE(Has(rows, "|TEV VERSION 1.8|0|0\n")) << rows;
  EXPECT_FALSE(Has(rows, "session:")) << rows;
  // Every status idle, every time stamp of an object 0; the session ids
  // that the rows name stay.
  EXPECT_FALSE(Has(rows, "|B|")) << rows;
  EXPECT_FALSE(Has(rows, "|L|")) << rows;
  EXPECT_TRUE(Has(rows, "|I|1700000700|4|7|")) << rows;
  EXPECT_TRUE(Has(rows, "volume:7|1|70|TEV_DISK_VOL|/backup/busy|4|TEV VERSION 1.8|c|m|1|0|"
                        "1700000600|I|")) << rows;
  EXPECT_TRUE(Has(rows, "|7|3000000002|2|5|0|0|0|1|1700000100|0\n")) << rows;
  EXPECT_TRUE(Has(rows, "|7|3000000003|1|0|0|0|0|0|1700000200|0\n")) << rows;

  r = t_.Run({"-C", "DETAIL"});
  EXPECT_EQ(r.out, Py(kDetail, {cat_, location, Msg(87017), Msg(87011), "no"}).out);
  EXPECT_TRUE(Has(r.out, "Unlocked\n    Catalog Owner    : 0\n")) << r.out;
}

TEST_F(CatalogAdmin, UnlockOfAnOlderCatalogClearsOnlyTheLockRow) {
  WriteFixture("src", "busy");
  Import("src");
  LockAndDie();
  Py(R"(
import sys
p = sys.argv[1] + '/lock.dat'
data = open(p, 'rb').read().replace(b'TEV VERSION 1.8', b'TEV VERSION 1.7')
open(p, 'wb').write(data)
)",
     {cat_});
  const std::string before = Rows({"session", "device", "volume", "object"});
  auto r = t_.Run({"-C", "UNLOCK"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(Has(Rows({"lock"}), "|TEV VERSION 1.7|0|0\n"));
  EXPECT_EQ(Rows({"session", "device", "volume", "object"}), before);
  EXPECT_TRUE(Has(before, "session:7|")) << before;
}

TEST_F(CatalogAdmin, DetailOfAMissingCatalogCreatesIt) {
  auto r = t_.Run({"-C", "DETAIL"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  const std::string location = cat_ + "/";
  EXPECT_TRUE(Has(t_.ActLog(), Msg(87401, location.c_str()))) << t_.ActLog();
  EXPECT_TRUE(Has(t_.ActLog(), Msg(87402, location.c_str()))) << t_.ActLog();
  EXPECT_EQ(r.out, Py(kDetail, {cat_, location, "", "", "no"}).out);
  EXPECT_TRUE(Has(r.out, "Regular\n\n\nSessions:\n    Session ID       Process ID\n"
                         "Empty SESSION table.\n"))
      << r.out;
  // The new catalog's lock was given back.
  EXPECT_TRUE(Has(Rows({"lock"}), "|TEV VERSION 1.8|0|0\n"));
}

}  // namespace
