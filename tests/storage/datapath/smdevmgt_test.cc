#include "storage/datapath/smdevmgt.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "storage/datapath/smvolume.h"
#include "tests/storage/datapath/catalog_session.h"

namespace {

using tevtest::Row;

bool IsDir(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TevDevice Device(const std::string& name, int32_t type, int32_t pool, int32_t priority) {
  TevDevice d{};
  std::snprintf(d.name, sizeof d.name, "%s", name.c_str());
  d.type = type;
  d.poolId = pool;
  d.priority = priority;
  d.descriptor = -1;
  return d;
}

std::vector<Row> RowsNamed(const std::vector<Row>& rows, size_t col, const std::string& name) {
  std::vector<Row> out;
  for (const Row& r : rows) {
    if (r.size() > col && r[col] == name) out.push_back(r);
  }
  return out;
}

class Devices : public tevtest::CatalogSession {};

TEST(DeviceTypes, NamesAndCodes) {
  const struct {
    int32_t code;
    const char* name;
  } names[] = {{-1, "TEV_INVALID"}, {0, "TEV_INVALID"}, {1, "FILE"},  {2, "TAPE"},
               {3, "STDIO"},        {4, "CLOUD"},       {5, "TEV_INVALID"}, {99, "TEV_INVALID"}};
  for (const auto& c : names) EXPECT_STREQ(zarDeviceTypeName(c.code), c.name) << c.code;
  const struct {
    const char* name;
    int32_t code;
  } codes[] = {{"file", 1}, {"FILE", 1}, {"Tape", 2}, {"stdio", 3}, {"cLoUd", 4},
               {"TEV_INVALID", -1}, {"", -1}, {"FILES", -1}, {"FIL", -1}};
  for (const auto& c : codes) EXPECT_EQ(zarDeviceTypeCode(c.name), c.code) << c.name;
  EXPECT_EQ(zarDeviceTypeCode(nullptr), -1);
}

TEST(VolumeStatus, LettersBothWays) {
  const struct {
    char letter;
    int32_t code;
  } read[] = {{'I', 1}, {'B', 2}, {'L', 3}, {'X', 0}, {' ', 0}, {'i', 0}};
  for (const auto& c : read) EXPECT_EQ(zarVolumeStatusCode(c.letter), c.code) << c.letter;
  const struct {
    int32_t code;
    char letter;
  } written[] = {{1, 'I'}, {2, 'B'}, {3, 'L'}, {0, 'X'}, {4, 'X'}, {-1, 'X'}};
  for (const auto& c : written) EXPECT_EQ(zarVolumeStatusLetter(c.code), c.letter) << c.code;
}

TEST_F(Devices, NewCatalogHoldsTheDefaultDeviceInPoolsOneAndTwo) {
  const std::string name = Path("backups");
  EXPECT_TRUE(IsDir(name));
  const std::vector<Row> devices = Dump(smcDumpDeviceTab);
  ASSERT_EQ(devices.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(devices[i][tevtest::kDevName], name);
    EXPECT_EQ(devices[i][tevtest::kDevType], "FILE");
    EXPECT_EQ(devices[i][tevtest::kDevPriority], "2");
    EXPECT_EQ(devices[i][tevtest::kDevStatus], "I");
  }
  std::vector<std::string> pools = {devices[0][tevtest::kDevPool], devices[1][tevtest::kDevPool]};
  std::sort(pools.begin(), pools.end());
  EXPECT_EQ(pools, (std::vector<std::string>{"1", "2"}));
  // One volume for the one directory.
  const std::vector<Row> volumes = Dump(smcDumpVolumeTab);
  ASSERT_EQ(volumes.size(), 1u);
  EXPECT_EQ(volumes[0][tevtest::kVolPath], name);
  EXPECT_EQ(volumes[0][tevtest::kVolPool], "1");

  TypedList* list = nullptr;
  ASSERT_EQ(zarGetDeviceList(h_, 0, 2, 0, &list), 0);
  int32_t status = 0;
  auto* d = static_cast<TevDevice*>(ll_first(list, &status));
  ASSERT_NE(d, nullptr);
  EXPECT_STREQ(d->name, name.c_str());
  EXPECT_EQ(d->poolId, 2);
  EXPECT_EQ(ll_next(list, &status), nullptr);
  // The flag it has already: nothing to write.
  EXPECT_EQ(zarDeviceUpdateStatus(h_, d, 0), 0);
  ll_destroy(&list, 1, &status);
}

// An installation directory named with a trailing separator: the default
// device's name still joins it to "backups" with exactly one "/".
class DevicesOfASlashedInstallation : public tevtest::CatalogSession {
  void Configure() override { env_->Set("TARVELONDIR", env_->install().path() + "//"); }
};

TEST_F(DevicesOfASlashedInstallation, DefaultDeviceNameHasOneSeparator) {
  const std::vector<Row> devices = Dump(smcDumpDeviceTab);
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0][tevtest::kDevName], Path("backups"));
  EXPECT_TRUE(IsDir(Path("backups")));
}

TEST_F(Devices, FileDeviceMakesItsDirectoryAsTypedAndItsVolume) {
  const std::string name = Path("Dir/DevA");
  TevDevice d = Device(name, DEV_TYPE_FILE, 1, DEV_PRIO_HIGH);
  ASSERT_EQ(zarInsertDevice(h_, &d), 0);
  EXPECT_TRUE(IsDir(name));
  EXPECT_FALSE(IsDir(Path("dir")));

  const std::vector<Row> devices = RowsNamed(Dump(smcDumpDeviceTab), tevtest::kDevName, name);
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0][tevtest::kDevType], "FILE");
  EXPECT_EQ(devices[0][tevtest::kDevPriority], "3");
  EXPECT_EQ(devices[0][tevtest::kDevPool], "1");
  const std::vector<Row> volumes = RowsNamed(Dump(smcDumpVolumeTab), tevtest::kVolPath, name);
  ASSERT_EQ(volumes.size(), 1u);
  const Row& v = volumes[0];
  EXPECT_EQ(v[tevtest::kVolLabel], "TEV_DISK_VOL");
  EXPECT_EQ(v[tevtest::kVolVersion], "TEV VERSION 1.8");
  EXPECT_EQ(v[tevtest::kVolPlatform], "Windows");
  // Both dates are today's in the default date format.
  char today[16];
  const time_t now = time(nullptr);
  struct tm local {};
  std::strftime(today, sizeof today, "%m/%d/%Y", localtime_r(&now, &local));
  EXPECT_EQ(v[7], today);
  EXPECT_EQ(v[8], today);
  EXPECT_EQ(v[tevtest::kVolStatus], "I");
  EXPECT_EQ(v[tevtest::kVolTxid], "1");
  EXPECT_EQ(v[tevtest::kVolType], "FILE");
  EXPECT_EQ(v[tevtest::kVolSession], std::to_string(h_->sessionId));
  EXPECT_EQ(v[tevtest::kVolId], std::to_string(d.volumeId));

  // The volume reads back by id and by path.
  TevVolume byId{};
  byId.volumeId = static_cast<uint32_t>(d.volumeId);
  ASSERT_EQ(zarGetVolumeInfo(h_, &byId), 0);
  EXPECT_STREQ(byId.path, name.c_str());
  EXPECT_EQ(byId.type, DEV_TYPE_FILE);
  EXPECT_EQ(byId.status, 1);
  TevVolume byPath{};
  ASSERT_EQ(zarFindDeviceVolume(h_, name.c_str(), &byPath), 0);
  EXPECT_EQ(byPath.volumeId, byId.volumeId);
  EXPECT_EQ(zarFindDeviceVolume(h_, (name + "x").c_str(), &byPath), 17);

  // A directory that is there already is taken as it is.
  env_->install().MakeDir("Exists");
  TevDevice e = Device(Path("Exists"), DEV_TYPE_FILE, 2, DEV_PRIO_LOW);
  EXPECT_EQ(zarInsertDevice(h_, &e), 0);
  // The same device in the same pool again is refused and adds nothing.
  const size_t rows = Dump(smcDumpDeviceTab).size();
  EXPECT_EQ(zarInsertDevice(h_, &e), 3);
  EXPECT_EQ(Dump(smcDumpDeviceTab).size(), rows);
}

TEST_F(Devices, RefusedRecordsAddNothing) {
  env_->install().WriteFile("plain", "x");
  const std::vector<Row> before = Dump(smcDumpDeviceTab);
  TevDevice under_file = Device(Path("plain/sub"), DEV_TYPE_FILE, 1, DEV_PRIO_LOW);
  EXPECT_EQ(zarInsertDevice(h_, &under_file), -1);
  EXPECT_NE(ActLog().find("Cannot create the directory " + Path("plain/sub")), std::string::npos)
      << ActLog();

  const struct {
    const char* what;
    TevDevice device;
  } invalid[] = {
      {"empty name", Device("", DEV_TYPE_FILE, 1, DEV_PRIO_LOW)},
      {"pool 0", Device(Path("p0"), DEV_TYPE_FILE, 0, DEV_PRIO_LOW)},
      {"type 5", Device(Path("t5"), 5, 1, DEV_PRIO_LOW)},
      {"type 0", Device(Path("t0"), 0, 1, DEV_PRIO_LOW)},
  };
  for (const auto& c : invalid) {
    TevDevice d = c.device;
    EXPECT_EQ(zarInsertDevice(h_, &d), 3) << c.what;
  }
  EXPECT_NE(ActLog().find("Invalid request."), std::string::npos);
  EXPECT_EQ(Dump(smcDumpDeviceTab), before);
  EXPECT_FALSE(IsDir(Path("p0")));
  EXPECT_EQ(Dump(smcDumpVolumeTab).size(), 1u);
}

TEST_F(Devices, SecondHighestDeviceLeavesTheFirstHigh) {
  TevDevice a = Device(Path("A"), DEV_TYPE_FILE, 1, DEV_PRIO_HIGHEST);
  TevDevice b = Device(Path("B"), DEV_TYPE_FILE, 1, DEV_PRIO_HIGHEST);
  TevDevice c = Device(Path("C"), DEV_TYPE_FILE, 2, DEV_PRIO_HIGHEST);
  ASSERT_EQ(zarInsertDevice(h_, &a), 0);
  ASSERT_EQ(zarInsertDevice(h_, &c), 0);
  ASSERT_EQ(zarInsertDevice(h_, &b), 0);
  const std::vector<Row> rows = Dump(smcDumpDeviceTab);
  EXPECT_EQ(RowsNamed(rows, tevtest::kDevName, Path("A"))[0][tevtest::kDevPriority], "3");
  EXPECT_EQ(RowsNamed(rows, tevtest::kDevName, Path("B"))[0][tevtest::kDevPriority], "4");
  // Another pool's HIGHEST device stays.
  EXPECT_EQ(RowsNamed(rows, tevtest::kDevName, Path("C"))[0][tevtest::kDevPriority], "4");
}

TEST_F(Devices, FailedVolumeCreationLeavesNoDeviceRow) {
  const std::vector<Row> devices = Dump(smcDumpDeviceTab);
  const std::vector<Row> volumes = Dump(smcDumpVolumeTab);
  // The volume counter at its limit: no new volume id can be had.
  ASSERT_EQ(dsmSetCurrentSerial(h_, SMC_SER_VOLUME, 0x7FFFFFFF), 0);
  TevDevice d = Device(Path("NoVolume"), DEV_TYPE_FILE, 1, DEV_PRIO_LOW);
  EXPECT_NE(zarInsertDevice(h_, &d), 0);
  EXPECT_EQ(Dump(smcDumpDeviceTab), devices);
  EXPECT_EQ(Dump(smcDumpVolumeTab), volumes);
  // A device of a path that has a volume needs no new one.
  TevDevice again = Device(Path("backups"), DEV_TYPE_FILE, 3, DEV_PRIO_LOW);
  EXPECT_EQ(zarInsertDevice(h_, &again), 0);
  EXPECT_EQ(Dump(smcDumpDeviceTab).size(), devices.size() + 1);
}

TEST_F(Devices, VolumeUpdateChangesOnlyLabelTimestampAndStatus) {
  TevVolume v{};
  ASSERT_EQ(zarFindDeviceVolume(h_, Path("backups").c_str(), &v), 0);
  const Row before = Dump(smcDumpVolumeTab)[0];
  const struct {
    int32_t code;
    const char* letter;
    int32_t read_back;
  } cases[] = {{2, "B", 2}, {3, "L", 3}, {7, "X", 0}, {1, "I", 1}};
  for (const auto& c : cases) {
    TevVolume w = v;
    w.status = c.code;
    std::snprintf(w.label, sizeof w.label, "LABEL%d", c.code);
    std::snprintf(w.path, sizeof w.path, "%s", "/elsewhere");
    w.poolId = 9;
    ASSERT_EQ(zarPutVolumeInfo(h_, &w), 0);
    const Row after = Dump(smcDumpVolumeTab)[0];
    EXPECT_EQ(after[tevtest::kVolStatus], c.letter);
    EXPECT_EQ(after[tevtest::kVolLabel], "LABEL" + std::to_string(c.code));
    EXPECT_EQ(after[tevtest::kVolPath], before[tevtest::kVolPath]);
    EXPECT_EQ(after[tevtest::kVolPool], before[tevtest::kVolPool]);
    EXPECT_EQ(after[tevtest::kVolTxid], before[tevtest::kVolTxid]);
    TevVolume r{};
    r.volumeId = v.volumeId;
    ASSERT_EQ(zarGetVolumeInfo(h_, &r), 0);
    EXPECT_EQ(r.status, c.read_back);
  }
  TevVolume missing{};
  missing.volumeId = 999;
  EXPECT_EQ(zarPutVolumeInfo(h_, &missing), 19);
  EXPECT_EQ(zarGetVolumeInfo(h_, &missing), 19);
  EXPECT_EQ(zarGetVolumeInfo(h_, nullptr), 22);
  EXPECT_EQ(zarPutVolumeInfo(nullptr, &missing), 22);
}

}  // namespace
