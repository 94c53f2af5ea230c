// The device table's row operations on a real catalog: modify, demotion of
// a pool's HIGHEST device, add-or-modify, delete in one pool, in every pool
// and with the device's volume and the objects on it, and the table dump
// through the built zutev. Expected rows come from a python3 reader of the
// ".dat" record slots laid out by the column table of the device row.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/fields.h"
#include "isam/block_map.h"
#include "isam/isam.h"
#include "sqltypes/bigint.h"
#include "storage/catalog/smc_dev.h"
#include "storage/catalog/smc_lock.h"
#include "storage/catalog/smc_obj.h"
#include "storage/catalog/smc_odt.h"
#include "storage/catalog/smc_vol.h"
#include "storage/catalog/smcatalog.h"
#include "storage/command/config.h"
#include "storage/command/typed_list.h"
#include "storage/datapath/smhandle.h"
#include "tests/e2e/zutev_tree.h"
#include "tests/storage/catalog_handle.h"
#include "tests/storage/config_env.h"
#include "tests/support/test_support.h"

// Reads past the first 1,024 bytes of a file whose path ends with this
// text fail with EIO. The test is linked so that the ISAM library's reads
// come here first; while a file fails, the library's mapped reads are
// turned off (isam::is_mapreads), so that every read is a pread.
const char* failingReads = nullptr;

extern "C" ssize_t __real_pread64(int fd, void* buf, size_t count, off_t offset);
extern "C" ssize_t __wrap_pread64(int fd, void* buf, size_t count, off_t offset) {
  if (failingReads != nullptr && offset >= 1024) {
    char target[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t len = readlink(link.c_str(), target, sizeof target - 1);
    if (len > 0 && std::string_view(target, static_cast<size_t>(len)).ends_with(failingReads)) {
      errno = EIO;
      return -1;
    }
  }
  return __real_pread64(fd, buf, count, offset);
}

namespace {

// Renders every active slot (record length 1838 + the 0x0A marker) of a
// device ".dat" as a dump line: the twenty columns of the row, text without
// trailing blanks (a command from the first 120 bytes of its 256-byte
// slot), integers signed, each followed by the delimiter. A command slot
// whose last 136 bytes are not all blanks adds "UNPADDED".
const char kDeviceReader[] = R"(
import struct, sys
path, delim = sys.argv[1], sys.argv[2]
delim = '\t' if delim == 'tab' else delim
cols = [(0, 120, 's'), (120, 120, 's'), (376, 120, 's'), (632, 4, '>i'), (636, 5, 's'),
        (641, 4, '>i'), (645, 8, '>q'), (653, 8, '>q'), (661, 8, '>q'), (669, 1, 's'),
        (670, 8, '>q'), (678, 4, '>i'), (682, 4, '>i'), (686, 128, 's'), (814, 128, 's'),
        (942, 128, 's'), (1070, 128, 's'), (1198, 128, 's'), (1326, 256, 's'), (1582, 256, 's')]
data = open(path, 'rb').read()
for i in range(len(data) // 1839):
    slot = data[i * 1839:(i + 1) * 1839]
    if slot[1838] != 0x0A:
        continue
    out = ''
    for off, n, kind in cols:
        raw = slot[off:off + n]
        if kind == 's':
            out += raw.decode('latin-1').rstrip(' ')
        else:
            out += str(struct.unpack(kind, raw)[0])
        out += delim
    if slot[240:376] != b' ' * 136 or slot[496:632] != b' ' * 136:
        out += 'UNPADDED'
    print(out)
)";

template <size_t N>
void Put(char (&field)[N], const std::string& text) {
  std::snprintf(field, N, "%s", text.c_str());
}

TevDevice Device(const std::string& name, int32_t pool, int32_t priority, int32_t type = 1) {
  TevDevice d{};
  Put(d.name, name);
  d.poolId = pool;
  d.priority = priority;
  d.type = type;
  return d;
}

class DeviceTableTest : public ::testing::Test {
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
    env_->Set("TEV_DEBUG", "2");
    env_->Set("TEV_DEBUG_LOG", in.Path("debug.log"));
    ASSERT_EQ(zarLoadConfig(0), 0);
    h_ = tevtest::NewCatalogHandle();
    ASSERT_EQ(zarCatalogCreate(h_), 0);
    ASSERT_EQ(smcReleaseCatalogLock(h_), 0);
    ASSERT_EQ(zarCloseDatabase(h_), 0);
    ASSERT_EQ(zarOpenDatabase(h_), 0);
    ASSERT_EQ(zarGetTEVid(h_), 0);
    h_->sessionId = 4;
    // The cases start from empty device and volume tables: the default
    // device of a new catalog goes from both its pools, with its volume.
    ASSERT_EQ(zarDeleteDevices(h_, in.Path("backups").c_str(), -1), 0);
    ASSERT_EQ(Rows(), "");
  }
  void TearDown() override {
    if (h_ != nullptr) zarCloseDatabase(h_);
    tevtest::FreeCatalogHandle(h_);
    smcDevTabClose();
  }

  std::string ActLog() const { return env_->install().ReadFile("act.log"); }
  std::string DebugLog() const { return env_->install().ReadFile("debug.log"); }
  std::string DatFile(const std::string& table) const { return dir_ + "/" + table + ".dat"; }

  // The device rows as the python reader renders them.
  std::string Rows(const std::string& delim = "|") const {
    tevtest::RunResult r =
        tevtest::RunProgram(tevtest::Python(), {"-c", kDeviceReader, DatFile("device"), delim});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r.out;
  }
  // Name, pool, priority and status of every row in record order, read
  // straight from the slots (quicker than starting the python reader).
  std::string Brief() const {
    const std::string raw = tevtest::ReadFile(DatFile("device"));
    std::string out;
    for (size_t at = 0; at + 1839 <= raw.size(); at += 1839) {
      if (raw[at + 1838] != 0x0A) continue;
      std::string name = raw.substr(at, 120);
      name.erase(name.find_last_not_of(' ') + 1);
      auto int4 = [&](size_t off) {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = v << 8 | static_cast<unsigned char>(raw[at + off + i]);
        return std::to_string(static_cast<int32_t>(v));
      };
      out += name + ":" + int4(678) + ":" + int4(632) + ":" + raw[at + 669] + " ";
    }
    return out;
  }
  // The pieces of text ended by sep (a last piece without it is dropped).
  static std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> out;
    size_t from = 0;
    for (size_t at; (at = text.find(sep, from)) != std::string::npos; from = at + 1) {
      out.push_back(text.substr(from, at - from));
    }
    return out;
  }
  static std::vector<std::string> Lines(const std::string& text) { return Split(text, '\n'); }
  static std::vector<std::string> Fields(const std::string& line) { return Split(line, '|'); }
  // Descriptors of this process open on the device table's data file.
  int OpenDeviceFiles() const {
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    if (d == nullptr) return -1;
    while (dirent* e = readdir(d)) {
      char target[PATH_MAX];
      const std::string link = std::string("/proc/self/fd/") + e->d_name;
      const ssize_t len = readlink(link.c_str(), target, sizeof target - 1);
      if (len > 0 && std::string(target, static_cast<size_t>(len)) == DatFile("device")) ++n;
    }
    closedir(d);
    return n;
  }
  // Changes the row of the name and pool through the row operations' file,
  // as a mount does.
  template <typename Change>
  static void ChangeRow(const std::string& name, int32_t pool, Change change) {
    TevDevice key = Device(name, pool, 0);
    unsigned char row[SMC_DEVICE_RECLEN];
    ASSERT_EQ(dsmFindDevice(&key, pool, nullptr, row, 1), 0);
    change(row);
    ASSERT_EQ(smcDevTabRewrite(row), 0);
    ASSERT_EQ(smcDevTabClose(), 0);
  }
  // The device of the name and pool as the session's list gives it.
  TevDevice Listed(const std::string& name, int32_t pool) const {
    TypedList* list = nullptr;
    EXPECT_EQ(smcGetDeviceList(h_, 0, pool, 0, &list), 0);
    TevDevice out{};
    int32_t st = 0;
    for (void* e = ll_first(list, &st); e != nullptr && st == LL_OK; e = ll_next(list, &st)) {
      const auto* d = static_cast<const TevDevice*>(e);
      if (name == d->name) out = *d;
    }
    ll_destroy(&list, 1, &st);
    EXPECT_EQ(out.name, name);
    return out;
  }

  std::unique_ptr<tevtest::ConfigEnv> env_;
  std::string dir_;
  zarHandle* h_ = nullptr;
};

TEST_F(DeviceTableTest, ModifyWritesItsColumnsAndKeepsTheRest) {
  TevDevice dev = Device("/dev/c", 1, 3, 4);
  Put(dev.readCmd, std::string(120, 'r'));
  Put(dev.writeCmd, "write it");
  Put(dev.user, "key");
  Put(dev.password, "secret");
  Put(dev.stdioRead, "cat");
  Put(dev.url, "https://127.0.0.1:9");
  Put(dev.container, "bucket");
  dev.cloudProvider = 2;
  dev.blockSize = 65536;
  dev.mediaSizeHigh = 3;  // 12 GiB + 5
  dev.mediaSizeLow = 5;
  dev.partSize = 5000000000LL;
  dev.timestamp = 1700000000;
  ASSERT_EQ(smcInsertDevice(h_, &dev), 0);
  TevDevice second = Device("/dev/c", 2, 2);
  ASSERT_EQ(smcInsertDevice(h_, &second), 0);
  const std::string inserted = Rows();
  const std::string rrr(120, 'r');
  EXPECT_EQ(inserted,
            "/dev/c|" + rrr + "|write it|3|CLOUD|2|65536|12884901893|5000000000|I|1700000000|1|0|"
            "key|secret|cat|||https://127.0.0.1:9|bucket|\n"
            "/dev/c|||2|FILE|0|0|0|0|I|0|2|0||||||||\n");

  // A listed device written back unchanged leaves its row as it was, the
  // media size above 4 GiB included.
  TevDevice listed = Listed("/dev/c", 1);
  EXPECT_EQ(listed.mediaSizeHigh, 3u);
  EXPECT_EQ(listed.mediaSizeLow, 5u);
  EXPECT_EQ(smcModifyDevice(h_, &listed), 0);
  EXPECT_EQ(Rows(), inserted);

  // Every field changed: status, priority, commands, media size, session
  // and timestamp are written; type, provider, sizes, credentials, STDIO
  // commands, URL and container stay.
  Put(listed.readCmd, "r2");
  Put(listed.writeCmd, std::string(120, 'w'));
  Put(listed.user, "other");
  Put(listed.password, "other");
  Put(listed.stdioRead, "other");
  Put(listed.stdioWrite, "other");
  Put(listed.stdioDrop, "other");
  Put(listed.url, "other");
  Put(listed.container, "other");
  listed.type = 2;
  listed.cloudProvider = 1;
  listed.blockSize = 1;
  listed.partSize = 1;
  listed.priority = 1;
  listed.mediaSizeHigh = 0xffffffffu;
  listed.mediaSizeLow = 0xfffffffeu;
  listed.sessionId = 12;
  listed.timestamp = 1800000000;
  listed.busy = 1;
  EXPECT_EQ(smcModifyDevice(h_, &listed), 0);
  EXPECT_EQ(Lines(Rows())[0], "/dev/c|r2|" + std::string(120, 'w') +
                                  "|1|CLOUD|2|65536|-2|5000000000|B|1800000000|1|12|key|secret|cat|||"
                                  "https://127.0.0.1:9|bucket|");
  EXPECT_NE(DebugLog().find("Priority for device '/dev/c' changed to 'READ-ONLY' from 'HIGH'."),
            std::string::npos);
  EXPECT_NE(DebugLog().find("Status for device '/dev/c' changed to 'B'."), std::string::npos);
  listed = Listed("/dev/c", 1);
  EXPECT_EQ(listed.mediaSizeHigh, 0xffffffffu);
  EXPECT_EQ(listed.mediaSizeLow, 0xfffffffeu);
  EXPECT_EQ(listed.busy, 1);
  listed.busy = 0;
  EXPECT_EQ(smcModifyDevice(h_, &listed), 0);
  EXPECT_EQ(Fields(Lines(Rows())[0])[9], "I");

  // Refusals change nothing and leave the device file closed.
  const std::string before = Rows();
  const int open_files = OpenDeviceFiles();
  struct Refusal {
    TevDevice device;
    int rc;
  } const refusals[] = {{Device("", 1, 3), -1},
                        {Device("/dev/c", 0, 3), -1},
                        {Device("/dev/c", 3, 3), 17},
                        {Device("/dev/", 1, 3), 17},
                        {Device("/dev/none", 1, 3), 17}};
  for (Refusal r : refusals) {
    EXPECT_EQ(smcModifyDevice(h_, &r.device), r.rc) << r.device.name << " " << r.device.poolId;
    EXPECT_EQ(OpenDeviceFiles(), open_files) << r.device.name;
  }
  EXPECT_EQ(Rows(), before);
  EXPECT_NE(ActLog().find("A pool (-g) is required."), std::string::npos);
  // Modify and add-or-modify of a present device leave the file closed too.
  TevDevice again = Listed("/dev/c", 2);
  EXPECT_EQ(zarAddModDevice(h_, &again), 0);
  EXPECT_EQ(OpenDeviceFiles(), open_files);
}

TEST_F(DeviceTableTest, OneHighestDevicePerPool) {
  // Pool 2's HIGHEST row is the last entry of the pool-and-priority order.
  for (const TevDevice& d : {Device("a", 1, 4), Device("b", 1, 2), Device("c", 2, 4),
                             Device("d", 2, 3), Device("e", 1, 3)}) {
    TevDevice copy = d;
    ASSERT_EQ(smcInsertDevice(h_, &copy), 0);
  }
  TevDevice d = Listed("d", 2);
  d.priority = 4;
  EXPECT_EQ(smcModifyDevice(h_, &d), 0);
  EXPECT_EQ(Brief(), "a:1:4:I b:1:2:I c:2:3:I d:2:4:I e:1:3:I ");
  TevDevice b = Listed("b", 1);
  b.priority = 4;
  EXPECT_EQ(smcModifyDevice(h_, &b), 0);
  EXPECT_EQ(Brief(), "a:1:3:I b:1:4:I c:2:3:I d:2:4:I e:1:3:I ");
  // Setting HIGHEST again demotes nothing.
  EXPECT_EQ(smcModifyDevice(h_, &b), 0);
  EXPECT_EQ(Brief(), "a:1:3:I b:1:4:I c:2:3:I d:2:4:I e:1:3:I ");

  // Two HIGHEST rows of one pool (as an older catalog may hold them) and a
  // HIGH row: both HIGHEST rows are demoted, the other pool's stays.
  ChangeRow("a", 1, [](unsigned char* row) { stlong(4, row + 632); });
  EXPECT_EQ(Brief(), "a:1:4:I b:1:4:I c:2:3:I d:2:4:I e:1:3:I ");
  EXPECT_EQ(zarDemoteHighestDevice(h_, 1), 0);
  EXPECT_EQ(Brief(), "a:1:3:I b:1:3:I c:2:3:I d:2:4:I e:1:3:I ");
  EXPECT_EQ(zarDemoteHighestDevice(h_, 1), 0);
  EXPECT_EQ(zarDemoteHighestDevice(h_, 7), 0);

  // A demotion that cannot run: the modify gives its result, logs 88112
  // and rewrites nothing.
  zarHandle* closed = tevtest::NewCatalogHandle();
  TevDevice c = Listed("c", 2);
  c.priority = 4;
  c.busy = 1;
  EXPECT_EQ(zarDemoteHighestDevice(closed, 2), 19);
  EXPECT_EQ(smcModifyDevice(closed, &c), 19);
  tevtest::FreeCatalogHandle(closed);
  EXPECT_NE(ActLog().find("Cannot demote the HIGHEST device of pool 2."), std::string::npos);
  EXPECT_EQ(Brief(), "a:1:3:I b:1:3:I c:2:3:I d:2:4:I e:1:3:I ");
}

TEST_F(DeviceTableTest, DeleteIdleRowsOfANameAsTyped) {
  for (const TevDevice& d : {Device("Tape", 1, 3), Device("Tape", 2, 3), Device("Tape", 3, 3),
                             Device("Tape2", 1, 3), Device("Tap", 1, 3), Device("other", 1, 3)}) {
    TevDevice copy = d;
    ASSERT_EQ(smcInsertDevice(h_, &copy), 0);
  }
  ChangeRow("Tape", 2, [](unsigned char* row) { row[669] = 'B'; });
  const int open_files = OpenDeviceFiles();
  struct Step {
    const char* name;
    int32_t pool;
    int rc;
    const char* rows;     // name:pool:priority:status of the rows left
    const char* message;  // logged by the step, or null
  } const steps[] = {
      // Selector 0: idle rows of every pool go, the busy one stays.
      {"Tape", 0, 0, "Tape:2:3:B Tape2:1:3:I Tap:1:3:I other:1:3:I ",
       "Device Tape is in use and was not deleted."},
      {"Tape", 0, 17, "Tape:2:3:B Tape2:1:3:I Tap:1:3:I other:1:3:I ",
       "No device named Tape was deleted; every one is in use."},
      {"tape", 0, 17, "Tape:2:3:B Tape2:1:3:I Tap:1:3:I other:1:3:I ",
       "Device tape does not exist."},
      // A pool selector keeps the other pools' rows.
      {"other", 2, 17, "Tape:2:3:B Tape2:1:3:I Tap:1:3:I other:1:3:I ",
       "No device named other was deleted"},
      {"other", 1, 0, "Tape:2:3:B Tape2:1:3:I Tap:1:3:I ", nullptr},
      {"Tap", 0, 0, "Tape:2:3:B Tape2:1:3:I ", nullptr},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(std::string(s.name) + " " + std::to_string(s.pool));
    const size_t log_size = ActLog().size();
    EXPECT_EQ(zarDeleteDevices(h_, s.name, s.pool), s.rc);
    EXPECT_EQ(Brief(), s.rows);
    if (s.message != nullptr) {
      EXPECT_NE(ActLog().find(s.message, log_size), std::string::npos) << ActLog();
    }
    EXPECT_EQ(OpenDeviceFiles(), open_files);
  }
  EXPECT_EQ(zarDeleteDevices(h_, std::string(121, 'x').c_str(), 0), 17);
  EXPECT_EQ(smcDevTabResetStatus(0), 0);
  EXPECT_EQ(zarDeleteDevices(h_, "Tape", 2), 0);
  EXPECT_EQ(Brief(), "Tape2:1:3:I ");
}

// Object and detail rows written as an object insert leaves them.
int64_t InsertObject(zarHandle* h, const std::string& path) {
  int64_t id = 0, path_id = 0;
  EXPECT_EQ(dsmSerialMgr(h, 1, &id), 0);
  EXPECT_EQ(smcObjPathInsert(h, path.c_str(), "/space", "file", &path_id), 0);
  unsigned char row[SMC_OBJECT_RECLEN] = {};
  stlong(1, row);
  row[4] = 'I';
  stbigint(path_id, row + 5);
  stchar("", reinterpret_cast<char*>(row + 13), 927);
  stbigint(id, row + SMC_OBJ_COPYID);
  stlong(1, row + 952);
  EXPECT_EQ(iswrite(h->tableFd[SMC_TAB_OBJECT], row), 0);
  return id;
}

void InsertDetail(zarHandle* h, int32_t volume, int64_t copy_id, int32_t part) {
  unsigned char row[SMC_DETAIL_RECLEN] = {};
  stlong(volume, row);
  stlong(part, row + 4);
  stbigint(copy_id, row + 8);
  stlong(part, row + 16);
  stbigint(1000, row + 20);
  ASSERT_EQ(iswrite(h->tableFd[SMC_TAB_DETAIL], row), 0);
}

void InsertVolume(zarHandle* h, int32_t id, const std::string& path) {
  unsigned char row[SMC_VOLUME_RECLEN] = {};
  stlong(id, row + SMC_VOL_VOLID);
  stchar(path.c_str(), reinterpret_cast<char*>(row + SMC_VOL_PATH), SMC_VOL_PATH_LEN);
  row[SMC_VOL_STATUS] = 'I';
  ASSERT_EQ(iswrite(h->tableFd[SMC_TAB_VOLUME], row), 0);
}

TEST_F(DeviceTableTest, DeleteWithTheVolumeAndItsObjects) {
  InsertVolume(h_, 1, "/d/vol");
  InsertVolume(h_, 2, "/d/other");
  InsertVolume(h_, 3, "/d/bare");
  const int64_t c1 = InsertObject(h_, "/o/1");
  const int64_t c2 = InsertObject(h_, "/o/2");
  const int64_t c3 = InsertObject(h_, "/o/3");
  InsertDetail(h_, 1, c1, 1);
  InsertDetail(h_, 2, c2, 1);
  InsertDetail(h_, 2, c3, 1);
  InsertDetail(h_, 1, c1, 2);
  InsertDetail(h_, 1, c3, 2);
  for (int32_t pool : {1, 2}) {
    TevDevice d = Device("/d/vol", pool, 3);
    ASSERT_EQ(smcInsertDevice(h_, &d), 0);
  }
  TevDevice keep = Device("/d/other", 1, 3);
  ASSERT_EQ(smcInsertDevice(h_, &keep), 0);

  EXPECT_EQ(zarDeleteDevices(h_, "/d/vol", -1), 0);
  EXPECT_EQ(Brief(), "/d/other:1:3:I ");
  const std::string python = tevtest::Python();
  auto rows = [&](const std::string& table, int reclen, const std::string& fmt) {
    const char reader[] = R"(
import struct, sys
path, reclen, fmt = sys.argv[1], int(sys.argv[2]), sys.argv[3]
data = open(path, 'rb').read()
for i in range(len(data) // (reclen + 1)):
    slot = data[i * (reclen + 1):(i + 1) * (reclen + 1)]
    if slot[reclen] == 0x0A:
        print(*struct.unpack(fmt, slot[:reclen]), sep='|')
)";
    tevtest::RunResult r = tevtest::RunProgram(
        python, {"-c", reader, DatFile(table), std::to_string(reclen), fmt});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r.out;
  };
  // Copy ids of the objects and the details left, ids of the volumes.
  EXPECT_EQ(rows("object", SMC_OBJECT_RECLEN, ">944xq40x"), std::to_string(c2) + "\n");
  EXPECT_EQ(rows("object_detail", SMC_DETAIL_RECLEN, ">iiqiq"),
            "2|1|" + std::to_string(c2) + "|1|1000\n");
  EXPECT_EQ(rows("volume", SMC_VOLUME_RECLEN, ">8xi460x"), "2\n3\n");

  // A volume without devices: its row goes and the result is 0; then the
  // name has no volume left.
  EXPECT_EQ(zarDeleteDevices(h_, "/d/bare", -1), 0);
  EXPECT_EQ(rows("volume", SMC_VOLUME_RECLEN, ">8xi460x"), "2\n");
  EXPECT_EQ(zarDeleteDevices(h_, "/d/bare", -1), 17);
  EXPECT_NE(ActLog().find("Device /d/bare does not exist."), std::string::npos);

  // A part whose object cannot be deleted fails the walk: 3, and the
  // volume and device rows stay.
  InsertDetail(h_, 2, 0x100000007LL, 1);
  EXPECT_EQ(zarDeleteDevices(h_, "/d/other", -1), 3);
  EXPECT_NE(ActLog().find("Object 1:7 could not be deleted"), std::string::npos) << ActLog();
  EXPECT_EQ(rows("volume", SMC_VOLUME_RECLEN, ">8xi460x"), "2\n");
  EXPECT_EQ(Brief(), "/d/other:1:3:I ");
  EXPECT_EQ(rows("object", SMC_OBJECT_RECLEN, ">944xq40x"), "");
}

TEST_F(DeviceTableTest, DetailReadErrorEndsTheWalk) {
  InsertVolume(h_, 1, "/d/vol");
  const int64_t c1 = InsertObject(h_, "/o/1");
  // Parts on another volume fill the first 1,024 bytes of the data file;
  // the part on the device's volume lies behind them.
  for (int32_t part = 1; part <= 40; ++part) InsertDetail(h_, 9, 77, part);
  InsertDetail(h_, 1, c1, 1);
  TevDevice d = Device("/d/vol", 1, 3);
  ASSERT_EQ(smcInsertDevice(h_, &d), 0);
  // Every read of the detail rows' data file past its first block fails
  // with an I/O error, again and again (closing the tables first drops
  // what the library keeps of the file).
  ASSERT_EQ(zarCloseDatabase(h_), 0);
  ASSERT_EQ(zarOpenDatabase(h_), 0);
  failingReads = "/object_detail.dat";
  isam::is_mapreads = false;
  const int rc = zarDeleteDevices(h_, "/d/vol", -1);
  failingReads = nullptr;
  isam::is_mapreads = true;
  EXPECT_EQ(rc, 3);
  EXPECT_NE(ActLog().find("Cannot read catalog table object_detail."), std::string::npos);
  EXPECT_EQ(Brief(), "/d/vol:1:3:I ");
}

// The version look-up of an object insert tells "no objects for this path"
// (version 0, the insert makes version 1) from an object table it cannot
// read: that must fail the insert, not hand out version 1 a second time.
TEST_F(DeviceTableTest, ObjectVersionFailsWhenTheObjectIndexCannotBeRead) {
  InsertObject(h_, "/o/1");
  int64_t path_id = 0;
  ASSERT_EQ(smcObjPathInsert(h_, "/o/empty", "/space", "file", &path_id), 0);
  struct Case {
    const char* path;
    int32_t version;  // when the index reads
  } cases[] = {{"/o/1", 1}, {"/o/empty", 0}, {"/o/none", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    int32_t version = -7;
    EXPECT_EQ(dsmGetObjectVersion(h_, "/space", c.path, &version), 0);
    EXPECT_EQ(version, c.version);
  }
  EXPECT_EQ(ActLog().find("Cannot read catalog table object."), std::string::npos);

  // Every read of the object index's nodes fails with an I/O error; the
  // path table still reads.
  ASSERT_EQ(zarCloseDatabase(h_), 0);
  ASSERT_EQ(zarOpenDatabase(h_), 0);
  failingReads = "/object.idx";
  isam::is_mapreads = false;
  for (const char* path : {"/o/1", "/o/empty"}) {
    SCOPED_TRACE(path);
    int32_t version = -7;
    EXPECT_EQ(dsmGetObjectVersion(h_, "/space", path, &version), 19);
    EXPECT_EQ(version, -7);
  }
  // A path without a path row needs no object read.
  int32_t version = -7;
  EXPECT_EQ(dsmGetObjectVersion(h_, "/space", "/o/none", &version), 0);
  EXPECT_EQ(version, 0);
  failingReads = nullptr;
  isam::is_mapreads = true;
  EXPECT_NE(ActLog().find("Cannot read catalog table object."), std::string::npos) << ActLog();

  ASSERT_EQ(zarCloseDatabase(h_), 0);
  ASSERT_EQ(zarOpenDatabase(h_), 0);
  EXPECT_EQ(dsmGetObjectVersion(h_, "/space", "/o/1", &version), 0);
  EXPECT_EQ(version, 1);
}

// The command's table dump reaches the device rows: TAB-delimited lines as
// the python reader renders them, nothing on standard error.
TEST_F(DeviceTableTest, ZutevDumpsTheDeviceTableWithTabs) {
  zutevtest::Tree tree;
  tree.env()["TEV_CATALOG_PATH"] = dir_;
  ASSERT_EQ(zarCloseDatabase(h_), 0);
  tevtest::RunResult r = tree.Run({"-S", "DUMP", "device"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Empty DEVICE table.\n");

  ASSERT_EQ(zarOpenDatabase(h_), 0);
  TevDevice a = Device("/dev/tab", 1, 4, 3);
  Put(a.readCmd, std::string(120, 'q'));
  Put(a.stdioWrite, "dd of=/dev/null");
  a.mediaSizeHigh = 0x80000000u;  // a byte count at or above 2^63 dumps negative
  a.partSize = 7;
  a.timestamp = -1;
  a.sessionId = 3;
  ASSERT_EQ(smcInsertDevice(h_, &a), 0);
  TevDevice b = Device("/dev/other", 2, 1, 2);
  ASSERT_EQ(smcInsertDevice(h_, &b), 0);
  ASSERT_EQ(zarCloseDatabase(h_), 0);
  r = tree.Run({"-S", "DUMP", "device"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, Rows("tab"));
  for (const std::string& line : Lines(r.out)) {
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 20) << line;
  }
  EXPECT_NE(r.out.find("\t-9223372036854775808\t7\tI\t-1\t1\t3\t"), std::string::npos) << r.out;
}

}  // namespace
