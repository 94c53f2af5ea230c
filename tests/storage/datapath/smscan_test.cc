// Device SCAN and PURGE on FILE devices: objects written through the object
// writer in one catalog are registered again from their headers in a fresh
// one; damaged files are reported and left alone; PURGE drops the objects
// whose files are gone. Headers are checked with python3's struct module.
#include "storage/datapath/smscan.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "storage/catalog/smc_lock.h"
#include "storage/catalog/smc_obj.h"
#include "storage/catalog/smc_odt.h"
#include "storage/datapath/smapi.h"
#include "storage/datapath/smdevmgt.h"
#include "storage/datapath/smmount.h"
#include "storage/datapath/smobject.h"
#include "storage/datapath/smsession.h"
#include "tests/storage/config_env.h"
#include "tests/storage/datapath/catalog_session.h"

namespace {

using tevtest::PatternData;
using tevtest::DumpRows;
using tevtest::Row;

// Volume id (bytes 72-75) and header text (88) of a part file.
const char kHeaderIds[] = R"PY(
import struct, sys
data = open(sys.argv[1], 'rb').read()
vol, = struct.unpack('<I', data[72:76])
text = data[88:184].rstrip(b'\0').decode()
print('%d|%s' % (vol, text))
)PY";

// Rewrites bytes of a file: argv[2] offset, argv[3] the struct format,
// argv[4..] the values (integers).
const char kPatch[] = R"PY(
import struct, sys
path, at, fmt = sys.argv[1], int(sys.argv[2]), sys.argv[3]
data = bytearray(open(path, 'rb').read())
b = struct.pack(fmt, *[int(v) for v in sys.argv[4:]])
data[at:at + len(b)] = b
open(path, 'wb').write(bytes(data))
)PY";

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class Scan : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = std::make_unique<tevtest::ConfigEnv>();
    const tevtest::TempInstall& in = env_->install();
    ASSERT_EQ(symlink((tevtest::BuildTree() + "/lxr").c_str(), in.Path("lxr").c_str()), 0);
    ASSERT_EQ(mkdir(in.Path("cat").c_str(), 0770), 0);
    env_->Set("TEV_CATALOG_PATH", in.Path("cat"));
    env_->Set("TEV_LOCK_TIMEOUT", "5");
    env_->Set("TEV_DEBUG", "9");
    env_->Set("TEV_DEBUG_LOG", in.Path("debug.log"));
    env_->Set("TEV_QA_LIMIT_WRT", "1");
    Open();
  }
  void TearDown() override {
    Close();
    env_.reset();
  }
  void Open() {
    tevSetDefaultOwner(&owner_);
    tevClearSecurityToken(&token_);
    ASSERT_EQ(tevInit(&hn_, &token_, &owner_, nullptr), 0);
    ASSERT_EQ(find_bsa_handle(static_cast<uint32_t>(hn_), &h_, __FILE_NAME__, __LINE__), 0);
  }
  void Close() {
    if (h_ != nullptr) {
      if (h_->transactionId != 0) tevEndTxn(hn_, 2);
      EXPECT_EQ(tevTerminate(hn_), 0);
    }
    h_ = nullptr;
    destroy_bsa_handles(0);
  }
  // Ends the session and starts one on a new, empty catalog.
  void FreshCatalog() {
    Close();
    ASSERT_EQ(rename(Path("cat").c_str(), Path("cat.old").c_str()), 0);
    ASSERT_EQ(mkdir(Path("cat").c_str(), 0770), 0);
    Open();
  }

  std::string Path(const std::string& rel) const { return env_->install().Path(rel); }
  std::string ActLog() const { return env_->install().ReadFile("act.log"); }

  uint32_t AddDevice(const std::string& name, int32_t type = DEV_TYPE_FILE) {
    TevDevice d{};
    std::snprintf(d.name, sizeof d.name, "%s", name.c_str());
    d.type = type;
    d.poolId = 1;
    d.priority = DEV_PRIO_HIGHEST;
    EXPECT_EQ(zarInsertDevice(h_, &d), 0) << name;
    return static_cast<uint32_t>(d.volumeId);
  }

  uint64_t WriteObject(const std::string& space, const std::string& path, const std::string& data,
                       size_t block = 100000) {
    EXPECT_EQ(tevBeginTxn(hn_), 0);
    auto* d = static_cast<XbsaObjectDescriptor*>(std::calloc(1, sizeof(XbsaObjectDescriptor)));
    std::snprintf(d->objectSpaceName, sizeof d->objectSpaceName, "%s", space.c_str());
    std::snprintf(d->pathName, sizeof d->pathName, "%s", path.c_str());
    d->objectKind[0] = 'R';
    tevSetDefaultOwner(&d->owner);
    EXPECT_EQ(set_bsa_handle_object(h_->handleNumber, d), 0);
    EXPECT_EQ(zarInsertObject(h_, UInt64Pair{0, 0}, 0), 0);
    const uint64_t copy = (static_cast<uint64_t>(d->copyId.high) << 32) | d->copyId.low;
    h_->writePoolId = 1;
    EXPECT_EQ(smcAcquireCatalogLock(h_), 0);
    EXPECT_EQ(zarVolumeWriteMount(h_), 0);
    EXPECT_EQ(smcReleaseCatalogLock(h_), 0);
    for (size_t at = 0; at < data.size(); at += block) {
      EXPECT_EQ(zarWriteData(h_, data.data() + at, std::min(block, data.size() - at)), 0);
    }
    EXPECT_EQ(smcAcquireCatalogLock(h_), 0);
    EXPECT_EQ(zarUnmountVolume(h_), 0);
    EXPECT_EQ(zarEndObject(h_), 0);
    EXPECT_EQ(smcReleaseCatalogLock(h_), 0);
    EXPECT_EQ(tevEndTxn(hn_, 1), 0);
    return copy;
  }

  // The object read as object DUMP does; empty on a failure.
  std::string Dump(uint64_t copy) {
    std::string out;
    std::vector<char> buffer(65536);
    XbsaObjectDescriptor d{};
    d.copyId = UInt64Pair{static_cast<uint32_t>(copy >> 32), static_cast<uint32_t>(copy)};
    XbsaDataBlock block{static_cast<uint32_t>(buffer.size()), 0, buffer.data()};
    int rc = tevGetObject(hn_, &d, &block);
    while (rc == BSA_RC_MORE_DATA || rc == BSA_RC_NO_MORE_DATA) {
      out.append(buffer.data(), block.numBytes);
      if (rc == BSA_RC_NO_MORE_DATA) break;
      rc = tevGetData(hn_, &block);
    }
    if (rc == BSA_RC_MORE_DATA || rc == BSA_RC_NO_MORE_DATA || rc == BSA_RC_ABORT_SYSTEM_ERROR) {
      EXPECT_EQ(tevEndData(hn_), 0);
    }
    EXPECT_EQ(rc, BSA_RC_NO_MORE_DATA) << copy;
    return out;
  }

  int RunScan(const std::string& dev) {
    EXPECT_EQ(smcAcquireCatalogLock(h_), 0);
    const int rc = zarDeviceScan(h_, dev.c_str());
    EXPECT_EQ(smcReleaseCatalogLock(h_), 0);
    EXPECT_EQ(h_->currentObject, nullptr);
    EXPECT_EQ(h_->scanFlag, 0);
    return rc;
  }
  int RunPurge(const std::string& dev) {
    EXPECT_EQ(smcAcquireCatalogLock(h_), 0);
    const int rc = zarDevicePurge(h_, dev.c_str());
    EXPECT_EQ(smcReleaseCatalogLock(h_), 0);
    return rc;
  }

  std::vector<std::string> HeaderIds(const std::string& file) {
    tevtest::RunResult r = tevtest::RunProgram(tevtest::Python(), {"-c", kHeaderIds, file});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    std::string out = r.out;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    const size_t bar = out.find('|');
    if (bar == std::string::npos) return {};
    return {out.substr(0, bar), out.substr(bar + 1)};
  }
  void Patch(const std::string& file, int at, const std::string& fmt,
             const std::vector<std::string>& values) {
    std::vector<std::string> args = {"-c", kPatch, file, std::to_string(at), fmt};
    args.insert(args.end(), values.begin(), values.end());
    tevtest::RunResult r = tevtest::RunProgram(tevtest::Python(), args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }

  static Row ObjectRow(uint64_t copy) {
    for (const Row& r : DumpRows(smcDumpObjectTab)) {
      if (r[tevtest::kObjCopyId] == std::to_string(copy)) return r;
    }
    return {};
  }
  // {volume, part, size} of each detail row of the copy.
  static std::vector<std::vector<std::string>> Details(uint64_t copy) {
    std::vector<std::vector<std::string>> out;
    for (const Row& r : DumpRows(smcDumpDetailTab)) {
      if (r[tevtest::kDetCopy] == std::to_string(copy)) {
        out.push_back({r[tevtest::kDetVol], r[tevtest::kDetPart], r[tevtest::kDetSize]});
      }
    }
    return out;
  }

  std::unique_ptr<tevtest::ConfigEnv> env_;
  XbsaObjectOwner owner_;
  XbsaSecurityToken token_;
  int64_t hn_ = 0;
  zarHandle* h_ = nullptr;
};

struct Written {
  uint64_t copy;
  std::string path;   // path name
  std::string data;
  std::vector<std::string> files;
  std::string version;
};

// Objects of catalog A registered again in a fresh catalog B from their
// headers: rows under the old copy ids and versions, detail rows on B's
// volume, sizes; the headers now name B's volume; the data reads back; a
// second scan changes nothing.
TEST_F(Scan, FreshCatalogGetsItsObjectsBackFromTheDevice) {
  const std::string dev = Path("Dev");
  const uint32_t vol_a = AddDevice(dev);
  // An existing file makes the second object's version 2.
  env_->install().WriteFile("Dev/srv/one/rootdbs.1.1", "not a part");
  std::vector<Written> objects = {
      {0, "/srv/big", PatternData(2200010, 7), {}, "1"},   // three parts: 1.1 MB, 1.1 MB, 10
      {0, "/srv/one", PatternData(5000, 3), {}, "2"},
      {0, "/a/b/c/d/e", PatternData(1, 5), {}, "1"},
  };
  for (Written& w : objects) {
    w.copy = WriteObject("/rootdbs", w.path, w.data);
    const size_t parts = Details(w.copy).size();
    for (size_t p = 1; p <= parts; ++p) {
      w.files.push_back(dev + w.path + "/rootdbs." + w.version + "." + std::to_string(p));
    }
    ASSERT_EQ(ObjectRow(w.copy)[tevtest::kObjVersion], w.version);
  }
  ASSERT_EQ(objects[0].files.size(), 3u);
  std::map<std::string, std::string> bytes;
  for (const Written& w : objects) {
    for (const std::string& f : w.files) bytes[f] = tevtest::ReadFile(f);
  }

  FreshCatalog();
  AddDevice(Path("Other"));
  const uint32_t vol_b = AddDevice(dev);
  ASSERT_NE(vol_a, vol_b);
  for (const Written& w : objects) ASSERT_TRUE(ObjectRow(w.copy).empty());

  const std::string log_before = ActLog();
  EXPECT_EQ(RunScan(dev), 0);
  const std::string log = ActLog().substr(log_before.size());
  const std::string v = std::to_string(vol_b);
  for (const Written& w : objects) {
    SCOPED_TRACE(w.path);
    const Row row = ObjectRow(w.copy);
    ASSERT_FALSE(row.empty());
    EXPECT_EQ(row[tevtest::kObjVersion], w.version);
    EXPECT_EQ(row[tevtest::kObjBytesLo], std::to_string(w.data.size()));
    EXPECT_EQ(Count(log, "Object " + w.path + " was registered again under copy id 0:" +
                             std::to_string(w.copy) + "."),
              1u);
    std::vector<std::vector<std::string>> want;
    for (size_t p = 1; p <= w.files.size(); ++p) {
      const size_t size = w.files.size() == 1 ? w.data.size() : p < 3 ? 1100000 : 10;
      want.push_back({v, std::to_string(p), std::to_string(size)});
      const std::vector<std::string> ids = HeaderIds(w.files[p - 1]);
      EXPECT_EQ(ids, (std::vector<std::string>{
                         v, v + " 0 " + std::to_string(w.copy) + " " + std::to_string(p) + ":"}));
      EXPECT_NE(log.find("Part " + std::to_string(p) + " of object 0:" + std::to_string(w.copy) +
                         " was registered."),
                std::string::npos);
      // Only the volume id and the text changed.
      std::string before = bytes[w.files[p - 1]], after = tevtest::ReadFile(w.files[p - 1]);
      ASSERT_EQ(before.size(), after.size());
      before.replace(72, 4, 4, '\0');
      after.replace(72, 4, 4, '\0');
      before.replace(88, 96, 96, '\0');
      after.replace(88, 96, 96, '\0');
      EXPECT_TRUE(before == after);
    }
    EXPECT_EQ(Details(w.copy), want);
  }
  // The stray file of catalog A's first version is reported, not registered.
  EXPECT_NE(log.find("Read from the medium failed: 192 bytes wanted, result 10."),
            std::string::npos);
  for (const Written& w : objects) EXPECT_TRUE(Dump(w.copy) == w.data) << w.path;

  // A second scan finds everything in place.
  const std::vector<Row> objects_before = DumpRows(smcDumpObjectTab);
  const std::vector<Row> details_before = DumpRows(smcDumpDetailTab);
  std::map<std::string, std::string> files_before;
  for (const Written& w : objects) {
    for (const std::string& f : w.files) files_before[f] = tevtest::ReadFile(f);
  }
  const std::string again_before = ActLog();
  EXPECT_EQ(RunScan(dev), 0);
  const std::string again = ActLog().substr(again_before.size());
  EXPECT_EQ(DumpRows(smcDumpObjectTab), objects_before);
  EXPECT_EQ(DumpRows(smcDumpDetailTab), details_before);
  for (const auto& [f, b] : files_before) EXPECT_TRUE(tevtest::ReadFile(f) == b) << f;
  EXPECT_EQ(Count(again, "is registered already."), 5u);
  for (const Written& w : objects) {
    for (size_t p = 1; p <= w.files.size(); ++p) {
      EXPECT_NE(again.find("Part of object 0:" + std::to_string(w.copy) + ", number " +
                           std::to_string(p) + ", is registered already."),
                std::string::npos);
    }
  }
  EXPECT_EQ(again.find("was registered."), std::string::npos);
}

// Files that fail a check are reported and left as they are; the catalog
// does not change.
TEST_F(Scan, DamagedFilesAreReportedAndLeftAlone) {
  const std::string dev = Path("Dev");
  const uint32_t vol = AddDevice(dev);
  const uint64_t copy = WriteObject("/rootdbs", "/srv/x", PatternData(3000));
  const uint64_t other = WriteObject("/rootdbs", "/srv/y", PatternData(2000));
  const std::string good = tevtest::ReadFile(dev + "/srv/x/rootdbs.1.1");
  const std::string good_y = tevtest::ReadFile(dev + "/srv/y/rootdbs.1.1");
  const std::string c = std::to_string(copy);
  const std::string o = std::to_string(other);

  struct Case {
    std::string name;        // file under the device, "/srv/x/..."
    int at;                  // patch offset; -1 none
    std::string fmt;
    std::vector<std::string> values;
    std::string reported;    // text in the activity log
    size_t cut = 0;          // keep only these bytes
  } cases[] = {
      {"/srv/x/rootdbs.1.1", 0, "<I", {"1234"}, "has no object header."},
      {"/srv/x/rootdbs.1.1", 4, "<I", {"2"}, "has version 2, which is not supported."},
      {"/srv/x/rootdbs.1.1", 4, "<I", {"4"}, "has version 4, which is not supported."},
      {"/srv/x/rootdbs.1.1", 40, "<i", {"-1"}, "", 0},  // pool alone -1: fine
      {"/srv/x/rootdbs.1.1", 184, "<I", {"0"}, "has no object header."},
      {"/srv/x/rootdbs.1.1", 184, "<I", {"2147483648"}, "has no object header."},
      {"/srv/x/rootdbs.1.1", 188, "<I", {"1025"}, "has no object header."},
      {"/srv/x/rootdbs.1.1", 184, "<I", {"3"}, "has no object header."},  // no NUL at its end
      {"/srv/x/rootdbs.1.1", -1, "", {}, "Read from the medium failed", 100},
      {"/srv/x/rootdbs.1.1", -1, "", {}, "Read from the medium failed", 195},
      // The copy id of another path.
      {"/srv/x/rootdbs.1.1", 8, "<Q", {o}, "belongs to another object in the catalog (/srv/y)."},
      // Another version than the catalog's: the file name must follow it.
      {"/srv/x/rootdbs.2.1", 20, "<I", {"2"}, "has version 1 in the catalog."},
      // Renamed.
      {"/srv/x/rootdbs.1.7", -1, "", {}, "does not match its header, which names " + dev +
                                             "/srv/x/rootdbs.1.1."},
  };
  // Both ids -1 (volume and pool).
  std::vector<Case> all(std::begin(cases), std::end(cases));
  all.push_back({"/srv/x/rootdbs.1.1", 0, "", {}, "names no volume and no pool."});
  for (const Case& k : all) {
    SCOPED_TRACE(k.name + " @" + std::to_string(k.at) + " " + k.reported);
    ASSERT_EQ(unlink((dev + "/srv/x/rootdbs.1.1").c_str()), 0);
    std::string content = good;
    if (k.cut != 0) content = content.substr(0, k.cut);
    const std::string file = dev + k.name;
    tevtest::WriteFile(file, content);
    if (k.at > 0 || (k.at == 0 && !k.fmt.empty())) Patch(file, k.at, k.fmt, k.values);
    if (k.at == 0 && k.fmt.empty()) {
      Patch(file, 40, "<i", {"-1"});
      Patch(file, 72, "<i", {"-1"});
    }
    const std::string damaged = tevtest::ReadFile(file);
    const std::vector<Row> objects = DumpRows(smcDumpObjectTab);
    const std::vector<Row> details = DumpRows(smcDumpDetailTab);
    const std::string before = ActLog();
    RunScan(dev);
    const std::string log = ActLog().substr(before.size());
    if (!k.reported.empty()) {
      EXPECT_NE(log.find(k.reported), std::string::npos) << log;
    }
    EXPECT_EQ(log.find("was registered"), std::string::npos) << log;
    EXPECT_EQ(DumpRows(smcDumpObjectTab), objects);
    EXPECT_EQ(DumpRows(smcDumpDetailTab), details);
    EXPECT_TRUE(tevtest::ReadFile(file) == damaged);
    EXPECT_TRUE(tevtest::ReadFile(dev + "/srv/y/rootdbs.1.1") == good_y);
    if (k.name != "/srv/x/rootdbs.1.1") {
      ASSERT_EQ(rename(file.c_str(), (dev + "/srv/x/rootdbs.1.1").c_str()), 0);
    }
  }
  (void)vol;
  (void)c;
  // No volume has the path.
  EXPECT_EQ(RunScan(Path("Nowhere")), BSA_RC_NO_MATCH);
}

// PURGE: an object one of whose part files is gone leaves the catalog with
// all its details; the others stay; a detail without its object goes.
TEST_F(Scan, PurgeDropsObjectsWhoseFilesAreGone) {
  const std::string dev = Path("Dev");
  const uint32_t vol = AddDevice(dev);
  const uint64_t big = WriteObject("/rootdbs", "/srv/big", PatternData(2200010, 7));
  const uint64_t keep = WriteObject("/rootdbs", "/srv/keep", PatternData(4000, 2));
  const uint64_t lone = WriteObject("/rootdbs", "/srv/lone", PatternData(10, 4));
  ASSERT_EQ(Details(big).size(), 3u);
  ASSERT_EQ(unlink((dev + "/srv/big/rootdbs.1.2").c_str()), 0);
  // The object row of "lone" is gone; its detail row stays behind.
  ASSERT_EQ(smcAcquireCatalogLock(h_), 0);
  ASSERT_EQ(dsmDeleteObject(h_, static_cast<int64_t>(lone)), 0);
  ASSERT_EQ(smcReleaseCatalogLock(h_), 0);
  ASSERT_EQ(Details(lone).size(), 1u);

  const std::string before = ActLog();
  EXPECT_EQ(RunPurge(dev), 0);
  const std::string log = ActLog().substr(before.size());
  EXPECT_TRUE(ObjectRow(big).empty());
  EXPECT_TRUE(Details(big).empty());
  EXPECT_TRUE(Details(lone).empty());
  EXPECT_FALSE(ObjectRow(keep).empty());
  EXPECT_EQ(Details(keep).size(), 1u);
  EXPECT_NE(log.find("Cannot open file " + dev + "/srv/big/rootdbs.1.2."), std::string::npos);
  EXPECT_EQ(Count(log, "Object 0:" + std::to_string(big) +
                           " was removed from the catalog; its files are gone."),
            1u);
  EXPECT_NE(log.find("Object 0:" + std::to_string(lone) +
                     " has no object row; its part 1 was removed from the catalog."),
            std::string::npos);
  EXPECT_TRUE(Dump(keep) == PatternData(4000, 2));
  // A second purge finds nothing to do.
  const std::vector<Row> details = DumpRows(smcDumpDetailTab);
  EXPECT_EQ(RunPurge(dev), 0);
  EXPECT_EQ(DumpRows(smcDumpDetailTab), details);
  EXPECT_EQ(RunPurge(Path("Nowhere")), BSA_RC_NO_MATCH);
  (void)vol;
}

}  // namespace

namespace {

// The parts of one object on two devices, found later parts first: the
// size is the sum of every part registered, whatever the order.
TEST_F(Scan, SizeCountsPartsFoundInAnyOrder) {
  const std::string dev = Path("Dev");
  AddDevice(dev);
  const std::string data = PatternData(2200010, 11);
  const uint64_t copy = WriteObject("/rootdbs", "/srv/split", data);
  ASSERT_EQ(Details(copy).size(), 3u);
  FreshCatalog();
  const std::string dev2 = Path("Dev2");
  const uint32_t vol = AddDevice(dev);
  const uint32_t vol2 = AddDevice(dev2);
  // Part 1 lies on the second device.
  ASSERT_EQ(mkdir((dev2 + "/srv").c_str(), 0770), 0);
  ASSERT_EQ(mkdir((dev2 + "/srv/split").c_str(), 0770), 0);
  ASSERT_EQ(rename((dev + "/srv/split/rootdbs.1.1").c_str(),
                   (dev2 + "/srv/split/rootdbs.1.1").c_str()),
            0);
  EXPECT_EQ(RunScan(dev), 0);
  EXPECT_EQ(ObjectRow(copy)[tevtest::kObjBytesLo], "1100010");
  EXPECT_NE(ActLog().find("the highest part is 2 but 1 parts are registered."),
            std::string::npos);
  EXPECT_EQ(RunScan(dev2), 0);
  EXPECT_EQ(ObjectRow(copy)[tevtest::kObjBytesLo], std::to_string(data.size()));
  const std::string v = std::to_string(vol), v2 = std::to_string(vol2);
  std::vector<std::vector<std::string>> details = Details(copy);
  std::sort(details.begin(), details.end(),
            [](const auto& a, const auto& b) { return a[1] < b[1]; });
  EXPECT_EQ(details, (std::vector<std::vector<std::string>>{
                         {v2, "1", "1100000"}, {v, "2", "1100000"}, {v, "3", "10"}}));
  EXPECT_TRUE(Dump(copy) == data);
}

}  // namespace

namespace {

// A device name with "\" separators, as the command line gives it: the
// scan walks the same directory and finds the part.
TEST_F(Scan, BackslashDeviceNameWalksTheSameTree) {
  const std::string dev = Path("Dev");
  AddDevice(dev);
  const std::string data = PatternData(900, 6);
  const uint64_t copy = WriteObject("/rootdbs", "/srv/bs", data);
  FreshCatalog();
  std::string typed = dev;
  for (size_t i = 1; i < typed.size(); ++i) {
    if (typed[i] == '/') typed[i] = '\\';
  }
  AddDevice(typed);
  EXPECT_EQ(RunScan(typed), 0);
  EXPECT_EQ(ObjectRow(copy)[tevtest::kObjBytesLo], "900");
  EXPECT_EQ(Details(copy).size(), 1u);
}

}  // namespace
