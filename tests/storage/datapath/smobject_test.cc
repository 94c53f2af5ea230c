#include "storage/datapath/smobject.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "storage/datapath/smdevmgt.h"
#include "storage/datapath/smnames.h"
#include "storage/datapath/smtranid.h"
#include "storage/datapath/smvolume.h"
#include "tests/storage/datapath/catalog_session.h"

namespace {

using tevtest::Row;

class Objects : public tevtest::CatalogSession {
 protected:
  void SetUp() override {
    // Create times and timestamp texts in UTC, so that the expected values
    // come from plain arithmetic.
    const char* tz = std::getenv("TZ");
    saved_tz_ = tz != nullptr ? tz : "";
    had_tz_ = tz != nullptr;
    setenv("TZ", "UTC", 1);
    tzset();
    tevtest::CatalogSession::SetUp();
  }
  void TearDown() override {
    tevtest::CatalogSession::TearDown();
    if (had_tz_) {
      setenv("TZ", saved_tz_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

  // Makes a descriptor with the names the current object.
  void SetObject(const std::string& space, const std::string& path, char kind = 'R') {
    auto* d = static_cast<XbsaObjectDescriptor*>(std::calloc(1, sizeof(XbsaObjectDescriptor)));
    std::snprintf(d->objectSpaceName, sizeof d->objectSpaceName, "%s", space.c_str());
    std::snprintf(d->pathName, sizeof d->pathName, "%s", path.c_str());
    d->objectKind[0] = kind;
    tevSetDefaultOwner(&d->owner);
    std::snprintf(d->description, sizeof d->description, "%s", "backup");
    ASSERT_EQ(set_bsa_handle_object(h_->handleNumber, d), 0);
  }

  // Inserts an object with a copy id from the serial table; its copy id.
  uint64_t Insert(const std::string& space, const std::string& path) {
    SetObject(space, path);
    EXPECT_EQ(zarInsertObject(h_, UInt64Pair{0, 0}, 0), 0);
    return CurrentId();
  }
  uint64_t CurrentId() const {
    uint64_t id = 0;
    tevUInt64ToU64(&id, &h_->currentObject->copyId);
    return id;
  }
  // A blank current object for the calls that read a row into it.
  void ClearObject() { SetObject("", ""); }

  void AddDetail(uint64_t copy, int32_t part, uint32_t volume, int64_t size = 100) {
    TevObjectDetail d{};
    tevU64ToUInt64(&d.copyId, copy);
    d.partNumber = part;
    d.volumeId = volume;
    d.partSize = size;
    ASSERT_EQ(zarPutObjDetail(h_, &d), 0);
  }

  static Row ObjectRow(uint64_t copy) {
    for (const Row& r : Dump(smcDumpObjectTab)) {
      if (r[tevtest::kObjCopyId] == std::to_string(copy)) return r;
    }
    return {};
  }
  static std::vector<std::string> DetailsOf(uint64_t copy) {
    std::vector<std::string> parts;
    for (const Row& r : Dump(smcDumpDetailTab)) {
      if (r[tevtest::kDetCopy] == std::to_string(copy)) parts.push_back(r[tevtest::kDetPart]);
    }
    return parts;
  }

  void SetStatus(uint64_t copy, int32_t status, int32_t users = 0) {
    TevObjectInfo info{};
    info.status = status;
    info.userCount = users;
    UInt64Pair pair{};
    tevU64ToUInt64(&pair, copy);
    ASSERT_EQ(zarPutObjectInfo(h_, pair, &info), 0);
  }

  // `find DIR` sorted, the directory's own path cut from every line.
  std::string Find(const std::string& dir) const {
    tevtest::RunOptions opt;
    opt.env = {{"PATH", "/usr/bin:/bin"}};
    tevtest::RunResult r = tevtest::RunProgram("/usr/bin/find", {dir}, opt);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    std::vector<std::string> lines;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) lines.push_back(line.substr(dir.size()));
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (const std::string& l : lines) out += l + "\n";
    return out;
  }

  // A FILE device below the installation; its volume id.
  uint32_t FileDevice(const std::string& name) {
    TevDevice d{};
    std::snprintf(d.name, sizeof d.name, "%s", name.c_str());
    d.type = DEV_TYPE_FILE;
    d.poolId = 1;
    d.priority = DEV_PRIO_LOW;
    EXPECT_EQ(zarInsertDevice(h_, &d), 0);
    return static_cast<uint32_t>(d.volumeId);
  }

  std::string saved_tz_;
  bool had_tz_ = false;
};

TEST_F(Objects, VersionsCountPerPathAndPathRowsAreMadeOnFirstUse) {
  const uint64_t a1 = Insert("/rootdbs", "/srv/0");
  const uint64_t a2 = Insert("/rootdbs", "/srv/0");
  const uint64_t b1 = Insert("/rootdbs", "/srv/1");
  const uint64_t a3 = Insert("/rootdbs", "/srv/0");
  EXPECT_EQ((std::vector<uint64_t>{a1, a2, b1, a3}), (std::vector<uint64_t>{1, 2, 3, 4}));
  const struct {
    uint64_t copy;
    const char* version;
  } expected[] = {{a1, "1"}, {a2, "2"}, {b1, "1"}, {a3, "3"}};
  for (const auto& e : expected) {
    const Row r = ObjectRow(e.copy);
    ASSERT_FALSE(r.empty()) << e.copy;
    EXPECT_EQ(r[tevtest::kObjVersion], e.version) << e.copy;
    EXPECT_EQ(r[tevtest::kObjTxid], "1");
    EXPECT_EQ(r[tevtest::kObjUsers], "0");
    EXPECT_EQ(r[tevtest::kObjStamp], "0");
  }
  EXPECT_EQ(ObjectRow(a1)[tevtest::kObjPathId], ObjectRow(a3)[tevtest::kObjPathId]);
  EXPECT_NE(ObjectRow(a1)[tevtest::kObjPathId], ObjectRow(b1)[tevtest::kObjPathId]);
  EXPECT_EQ(Dump(smcDumpObjectPathTab).size(), 2u);

  // During a device scan the scan version is kept.
  h_->scanFlag = 1;
  h_->scanVersion = 7;
  EXPECT_EQ(ObjectRow(Insert("/rootdbs", "/srv/1"))[tevtest::kObjVersion], "7");
  h_->scanVersion = 0;
  EXPECT_EQ(ObjectRow(Insert("/rootdbs", "/srv/1"))[tevtest::kObjVersion], "8");
  h_->scanFlag = 0;
}

TEST_F(Objects, BadArgumentsAddNothing) {
  SetObject("", "/p");
  EXPECT_EQ(zarInsertObject(h_, UInt64Pair{0, 0}, 0), 21);
  SetObject("/s", "");
  EXPECT_EQ(zarInsertObject(h_, UInt64Pair{0, 0}, 0), 21);
  SetObject("/s", "/p");
  EXPECT_EQ(zarInsertObject(h_, UInt64Pair{0, 0}, 1), 19);
  EXPECT_EQ(zarInsertObject(h_, UInt64Pair{0x80000000u, 0}, 1), 19);
  EXPECT_EQ(zarInsertObject(nullptr, UInt64Pair{0, 0}, 0), 6);
  ASSERT_EQ(zarFreeCurrentObject(h_->handleNumber), 0);
  EXPECT_EQ(h_->currentObject, nullptr);
  EXPECT_EQ(zarInsertObject(h_, UInt64Pair{0, 0}, 0), 22);
  EXPECT_TRUE(Dump(smcDumpObjectTab).empty());
}

TEST_F(Objects, GivenCopyIdIsKeptAndTheSerialContinuesAboveIt) {
  SetObject("/rootdbs", "/srv/0");
  // 2001-02-03 04:05:06 UTC: a given id keeps a create time it comes with.
  const int32_t created[9] = {6, 5, 4, 3, 1, 101, 0, 0, 0};
  std::memcpy(h_->currentObject->createTime, created, sizeof created);
  ASSERT_EQ(zarInsertObject(h_, UInt64Pair{0, 500}, 1), 0);
  EXPECT_EQ(CurrentId(), 500u);
  EXPECT_EQ(ObjectRow(500)[tevtest::kObjCreate], "981173106");
  EXPECT_EQ(Insert("/rootdbs", "/srv/0"), 501u);
  // A given id that exists is refused.
  SetObject("/rootdbs", "/srv/9");
  EXPECT_EQ(zarInsertObject(h_, UInt64Pair{0, 500}, 1), 13);
  EXPECT_EQ(Dump(smcDumpObjectTab).size(), 2u);
  // A given id below the highest leaves the serial where it is.
  SetObject("/rootdbs", "/srv/9");
  ASSERT_EQ(zarInsertObject(h_, UInt64Pair{0, 100}, 1), 0);
  EXPECT_EQ(Insert("/rootdbs", "/srv/0"), 502u);
}

TEST_F(Objects, DuplicateSerialCopyIdIsRepairedAboveTheHighest) {
  for (int i = 0; i < 3; ++i) Insert("/rootdbs", "/srv/0");
  // The serial set back by hand: its next id, 2, is taken.
  ASSERT_EQ(dsmSetCurrentSerial(h_, SMC_SER_COPYID, 1), 0);
  EXPECT_EQ(Insert("/rootdbs", "/srv/1"), 4u);
  EXPECT_EQ(Insert("/rootdbs", "/srv/1"), 5u);
  EXPECT_EQ(Dump(smcDumpObjectTab).size(), 5u);
  EXPECT_EQ(ObjectRow(4)[tevtest::kObjVersion], "1");
}

TEST_F(Objects, CommitClearsTheMarksAndAbortRemovesRowsAndDetails) {
  const uint32_t vol = FileDevice(Path("Dev"));
  const uint64_t kept = Insert("/rootdbs", "/srv/0");
  AddDetail(kept, 1, vol);
  ASSERT_EQ(zarDeleteTxn(h_), 0);
  EXPECT_EQ(ObjectRow(kept)[tevtest::kObjTxid], "0");

  const uint64_t gone = Insert("/rootdbs", "/srv/0");
  AddDetail(gone, 1, vol);
  AddDetail(gone, 2, vol);
  ASSERT_EQ(zarAbortTxn(h_), 0);
  EXPECT_TRUE(ObjectRow(gone).empty());
  EXPECT_TRUE(DetailsOf(gone).empty());
  EXPECT_FALSE(ObjectRow(kept).empty());
  EXPECT_EQ(DetailsOf(kept), (std::vector<std::string>{"1"}));
}

TEST_F(Objects, InformationFillsTheDescriptorAndTheRecord) {
  SetObject("/rootdbs", "/srv/0", 'C');
  h_->currentObject->size = UInt64Pair{1, 5};
  std::snprintf(h_->currentObject->objectInfo, sizeof h_->currentObject->objectInfo, "info");
  ASSERT_EQ(zarInsertObject(h_, UInt64Pair{0, 0}, 0), 0);
  const uint64_t id = CurrentId();
  const int64_t created = std::stoll(ObjectRow(id)[tevtest::kObjCreate]);

  ClearObject();
  TevObjectInfo info{};
  ASSERT_EQ(zarGetObjectInformation(h_, id, &info), 0);
  const XbsaObjectDescriptor* d = h_->currentObject;
  EXPECT_STREQ(d->objectSpaceName, "/rootdbs");
  EXPECT_STREQ(d->pathName, "/srv/0");
  EXPECT_EQ(d->objectKind[0], 'C');
  EXPECT_EQ(d->status, 2u);
  EXPECT_EQ(d->version, 1u);
  EXPECT_EQ(d->size.high, 1u);
  EXPECT_EQ(d->size.low, 5u);
  EXPECT_STREQ(d->description, "backup");
  EXPECT_STREQ(d->objectInfo, "info");
  EXPECT_STREQ(d->owner.bsaObjectOwner, "TARVELON");
  EXPECT_STREQ(d->owner.appObjectOwner, "tarvelon");
  // Create time as local (here UTC) calendar fields.
  const time_t t = static_cast<time_t>(created);
  struct tm utc {};
  gmtime_r(&t, &utc);
  EXPECT_EQ(d->createTime[5], utc.tm_year);
  EXPECT_EQ(d->createTime[3], utc.tm_mday);
  EXPECT_EQ(d->createTime[2], utc.tm_hour);
  EXPECT_EQ(d->createTime[0], utc.tm_sec);

  EXPECT_STREQ(info.fileName, "/srv/0/rootdbs.1");
  EXPECT_EQ(info.version, 1);
  EXPECT_EQ(info.size.high, 1u);
  EXPECT_EQ(info.size.low, 5u);
  EXPECT_EQ(info.sessionId, h_->sessionId);
  EXPECT_EQ(info.userCount, 0);
  EXPECT_EQ(info.timestamp, 0);
  EXPECT_STREQ(info.timestampText, "1970-01-01 00:00:00");

  SetStatus(id, OBJ_STATUS_READING, 1);
  TevObjectInfo busy{};
  ASSERT_EQ(zarGetObjectInformation(h_, id, &busy), 0);
  const time_t stamp = static_cast<time_t>(busy.timestamp);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", gmtime_r(&stamp, &utc));
  EXPECT_STREQ(busy.timestampText, text);
  EXPECT_EQ(busy.status, OBJ_STATUS_READING);

  TevObjectInfo none{};
  EXPECT_EQ(zarGetObjectInformation(h_, id + 1, &none), 17);
  EXPECT_EQ(zarGetObjectInformation(h_, id, nullptr), 22);
}

TEST_F(Objects, StatusCodesWriteTheirLettersAndNewRowsTakeTheLastOne) {
  const uint64_t id = Insert("/rootdbs", "/srv/0");
  const struct {
    int32_t code;
    const char* letter;
    bool stamped;
  } cases[] = {{1, "L", true}, {2, "B", true}, {3, "X", true}, {0, "I", false}, {3, "X", true}};
  for (const auto& c : cases) {
    const int64_t before = static_cast<int64_t>(std::time(nullptr));
    SetStatus(id, c.code);
    const int64_t after = static_cast<int64_t>(std::time(nullptr));
    const Row r = ObjectRow(id);
    EXPECT_EQ(r[tevtest::kObjStatus], c.letter) << c.code;
    const int64_t stamp = std::stoll(r[tevtest::kObjStamp]);
    if (c.stamped) {
      EXPECT_GE(stamp, before);
      EXPECT_LE(stamp, after);
    } else {
      EXPECT_EQ(stamp, 0);
    }
    TevObjectInfo info{};
    info.status = 99;
    ClearObject();
    ASSERT_EQ(zarGetObjectInformation(h_, id, &info), 0);
    EXPECT_EQ(info.status, c.code);
  }
  // Another code keeps the letter last set; so does a new row.
  SetStatus(id, 9);
  EXPECT_EQ(ObjectRow(id)[tevtest::kObjStatus], "X");
  EXPECT_EQ(ObjectRow(Insert("/rootdbs", "/srv/0"))[tevtest::kObjStatus], "X");
  SetStatus(id, 0);
}

TEST_F(Objects, EndingAReadDropsOneReaderAndAWriteStoresTheSize) {
  const uint64_t id = Insert("/rootdbs", "/srv/0");
  SetStatus(id, OBJ_STATUS_READING, 2);
  ASSERT_EQ(zarEndObject(h_), 0);
  EXPECT_EQ(h_->currentObject, nullptr);
  Row r = ObjectRow(id);
  EXPECT_EQ(r[tevtest::kObjStatus], "B");
  EXPECT_EQ(r[tevtest::kObjUsers], "1");
  EXPECT_NE(r[tevtest::kObjStamp], "0");

  SetObject("", "");
  tevU64ToUInt64(&h_->currentObject->copyId, id);
  ASSERT_EQ(zarEndObject(h_), 0);
  r = ObjectRow(id);
  EXPECT_EQ(r[tevtest::kObjStatus], "I");
  EXPECT_EQ(r[tevtest::kObjUsers], "0");
  EXPECT_EQ(r[tevtest::kObjStamp], "0");

  SetStatus(id, OBJ_STATUS_WRITING);
  SetObject("", "");
  tevU64ToUInt64(&h_->currentObject->copyId, id);
  h_->objectBytes = UInt64Pair{2, 7};
  ASSERT_EQ(zarEndObject(h_), 0);
  r = ObjectRow(id);
  EXPECT_EQ(r[tevtest::kObjStatus], "I");
  EXPECT_EQ(r[tevtest::kObjBytesHi], "2");
  EXPECT_EQ(r[tevtest::kObjBytesLo], "7");
  EXPECT_EQ(h_->objectBytes.high, 0u);
  EXPECT_EQ(h_->objectBytes.low, 0u);

  EXPECT_EQ(zarEndObject(h_), 0);  // no current object
  EXPECT_EQ(zarEndObject(nullptr), 22);
}

TEST_F(Objects, DetailsCountAndUpdate) {
  const uint32_t vol = FileDevice(Path("Dev"));
  const uint64_t id = Insert("/rootdbs", "/srv/0");
  const uint64_t other = Insert("/rootdbs", "/srv/1");
  AddDetail(id, 1, vol, 10);
  AddDetail(other, 1, vol, 1000);
  AddDetail(id, 2, vol, 20);
  AddDetail(id, 5, vol, int64_t{30} << 32);
  int32_t highest = -1, count = -1;
  int64_t total = -1;
  ASSERT_EQ(zarObjectCheckDetails(h_, id, &highest, &count, &total), 0);
  EXPECT_EQ(highest, 5);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(total, 30 + (int64_t{30} << 32));
  highest = count = -1;
  total = -1;
  EXPECT_EQ(zarObjectCheckDetails(h_, other + 1, &highest, &count, &total), 17);
  EXPECT_EQ(highest, -1);
  EXPECT_EQ(count, -1);
  EXPECT_EQ(total, -1);

  TevObjectDetail d{};
  tevU64ToUInt64(&d.copyId, id);
  d.partNumber = 2;
  ASSERT_EQ(zarGetObjDetail(h_, &d), 0);
  EXPECT_EQ(d.volumeId, vol);
  EXPECT_EQ(d.partSize, 20);
  d.partSize = 25;
  d.volumeSeq = 3;
  ASSERT_EQ(zarUpdateObjDetail(h_, &d), 0);
  TevObjectDetail back{};
  back.copyId = d.copyId;
  back.partNumber = 2;
  ASSERT_EQ(zarGetObjDetail(h_, &back), 0);
  EXPECT_EQ(back.partSize, 25);
  EXPECT_EQ(back.volumeSeq, 3);
  d.partNumber = 3;
  EXPECT_EQ(zarGetObjDetail(h_, &d), 17);
  EXPECT_EQ(zarUpdateObjDetail(h_, &d), 17);
  d.volumeId = 0;
  EXPECT_EQ(zarPutObjDetail(h_, &d), 3);
}

TEST_F(Objects, DeletingAFileCopyRemovesItsPartsAndTheDirectoriesItLeavesEmpty) {
  const std::string dev = Path("Dev");
  const uint32_t vol = FileDevice(dev);
  const uint64_t a = Insert("/rootdbs", "/srv/0");
  const uint64_t b = Insert("/rootdbs", "/srv/1");
  AddDetail(a, 1, vol);
  AddDetail(a, 2, vol);
  AddDetail(b, 1, vol);
  ASSERT_EQ(zarDeleteTxn(h_), 0);
  // The parts as the FILE write path names them: device directory, path
  // name, object-space name, version, part.
  for (const char* part : {"/srv/0/rootdbs.1.1", "/srv/0/rootdbs.1.2", "/srv/1/rootdbs.1.1"}) {
    env_->install().WriteFile(std::string("Dev") + part, "part");
  }
  const std::string all =
      "\n/srv\n/srv/0\n/srv/0/rootdbs.1.1\n/srv/0/rootdbs.1.2\n/srv/1\n/srv/1/rootdbs.1.1\n";
  ASSERT_EQ(Find(dev), all);

  // Being read: nothing goes.
  SetStatus(a, OBJ_STATUS_READING, 1);
  EXPECT_EQ(zarDeleteObject(h_, a), 29);
  EXPECT_NE(ActLog().find("The object is in use and cannot be deleted."), std::string::npos);
  EXPECT_EQ(Find(dev), all);
  EXPECT_FALSE(ObjectRow(a).empty());
  EXPECT_EQ(DetailsOf(a).size(), 2u);

  SetStatus(a, OBJ_STATUS_IDLE);
  ASSERT_EQ(zarDeleteObject(h_, a), 0);
  EXPECT_EQ(Find(dev), "\n/srv\n/srv/1\n/srv/1/rootdbs.1.1\n");
  EXPECT_TRUE(ObjectRow(a).empty());
  EXPECT_TRUE(DetailsOf(a).empty());
  EXPECT_EQ(DetailsOf(b).size(), 1u);

  ASSERT_EQ(zarDeleteObject(h_, b), 0);
  EXPECT_EQ(Find(dev), "\n");
  EXPECT_TRUE(Dump(smcDumpObjectTab).empty());
  EXPECT_TRUE(Dump(smcDumpDetailTab).empty());

  EXPECT_EQ(zarDeleteObject(h_, b), 17);
  EXPECT_EQ(zarDeleteObject(h_, 0), 22);
  EXPECT_EQ(zarDeleteObject(nullptr, b), 6);
}

// INIT with the delete-files option: every object goes with its parts; an
// object in use ends the walk with its code.
TEST_F(Objects, DroppingTheObjectsRemovesEveryCopyAndStopsAtOneInUse) {
  const std::string dev = Path("Dev");
  const uint32_t vol = FileDevice(dev);
  const uint64_t a = Insert("/rootdbs", "/srv/0");
  const uint64_t b = Insert("/rootdbs", "/srv/1");
  AddDetail(a, 1, vol);
  AddDetail(b, 1, vol);
  ASSERT_EQ(zarDeleteTxn(h_), 0);
  for (const char* part : {"/srv/0/rootdbs.1.1", "/srv/1/rootdbs.1.1"}) {
    env_->install().WriteFile(std::string("Dev") + part, "part");
  }
  SetStatus(b, OBJ_STATUS_READING, 1);
  EXPECT_EQ(dropFileObjects(h_), 29);
  EXPECT_FALSE(ObjectRow(b).empty());
  SetStatus(b, OBJ_STATUS_IDLE);
  EXPECT_EQ(dropFileObjects(h_), 0);
  EXPECT_EQ(Find(dev), "\n");
  EXPECT_TRUE(Dump(smcDumpObjectTab).empty());
  EXPECT_TRUE(Dump(smcDumpDetailTab).empty());
  EXPECT_EQ(dropFileObjects(h_), 0);
}

TEST_F(Objects, DirectoryCleanUpNeverRemovesTheDeviceDirectory) {
  // A device named with a trailing separator and an object path name
  // without a leading one: the walk reaches "." and stops there.
  const std::string dev = Path("DevR") + "/";
  const uint32_t vol = FileDevice(dev);
  const uint64_t id = Insert("/obj", "rel/x");
  AddDetail(id, 1, vol);
  env_->install().WriteFile("DevR/rel/x/obj.1.1", "part");
  ASSERT_EQ(zarDeleteObject(h_, id), 0);
  EXPECT_EQ(Find(dev), "\n");
  EXPECT_TRUE(ObjectRow(id).empty());
  // A path name that climbs out of the device directory removes only its
  // part file.
  env_->install().MakeDir("outside/empty");
  const uint64_t up = Insert("/obj", "/../outside/empty");
  AddDetail(up, 1, vol);
  env_->install().WriteFile("outside/empty/obj.1.1", "part");
  ASSERT_EQ(zarDeleteObject(h_, up), 0);
  EXPECT_EQ(Find(Path("outside")), "\n/empty\n");
}

TEST_F(Objects, StdioCopyRunsTheDropProgramPerPartWithoutAShell) {
  // A device program on PATH that records its arguments.
  const std::string log = Path("drop.log");
  env_->install().WriteFile("bin/tevdrop_t", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; "
                                             "done >> " + log + "\necho --- >> " + log + "\n");
  ASSERT_EQ(chmod(Path("bin/tevdrop_t").c_str(), 0755), 0);
  struct PathGuard {
    std::string saved = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    ~PathGuard() { setenv("PATH", saved.c_str(), 1); }
  } path_guard;
  setenv("PATH", (Path("bin") + ":/usr/bin:/bin").c_str(), 1);

  TevDevice dev{};
  std::snprintf(dev.name, sizeof dev.name, "%s", "tevdrop_t");
  std::snprintf(dev.stdioDrop, sizeof dev.stdioDrop, "%s",
                "@obj_id@ @obj_part@ @obj_name@ \"@obj_space@ here\"");
  dev.type = DEV_TYPE_STDIO;
  dev.poolId = 1;
  dev.priority = DEV_PRIO_LOW;
  ASSERT_EQ(zarInsertDevice(h_, &dev), 0);
  // A path name that a shell would run commands from.
  const std::string path =
      "/x;touch${IFS}" + Path("pwned1") + "/$(touch${IFS}" + Path("pwned2") + ")";
  const uint64_t id = Insert("/space", path);
  AddDetail(id, 1, static_cast<uint32_t>(dev.volumeId));
  AddDetail(id, 2, static_cast<uint32_t>(dev.volumeId));
  ASSERT_EQ(zarDeleteObject(h_, id), 0);

  const std::string args = std::to_string(id) + "\n%d\n" + path + "\n/space here\n---\n";
  char part1[512], part2[512];
  std::snprintf(part1, sizeof part1, args.c_str(), 1);
  std::snprintf(part2, sizeof part2, args.c_str(), 2);
  EXPECT_EQ(env_->install().ReadFile("drop.log"), std::string(part1) + part2);
  EXPECT_FALSE(env_->install().Exists("pwned1"));
  EXPECT_FALSE(env_->install().Exists("pwned2"));
  EXPECT_TRUE(ObjectRow(id).empty());
  EXPECT_TRUE(DetailsOf(id).empty());
}

TEST_F(Objects, CloudCopyWhoseDeviceIsGoneStillLosesItsRows) {
  TevDevice gone{};
  std::snprintf(gone.name, sizeof gone.name, "%s", "s3gone");
  gone.type = DEV_TYPE_CLOUD;
  gone.poolId = 1;
  TevVolume vol{};
  ASSERT_EQ(zarVolumeMakeNew(h_, &gone, &vol), 0);
  const uint64_t id = Insert("/space", "/srv/0");
  AddDetail(id, 1, vol.volumeId);
  ASSERT_EQ(zarDeleteObject(h_, id), 0);
  EXPECT_NE(DebugLog().find("ERROR: Cannot find suitable device"), std::string::npos);
  EXPECT_TRUE(ObjectRow(id).empty());
  EXPECT_TRUE(DetailsOf(id).empty());

  // With its device in the pool the client is asked to delete the part.
  TevDevice s3{};
  std::snprintf(s3.name, sizeof s3.name, "%s", "s3here");
  s3.type = DEV_TYPE_CLOUD;
  s3.cloudProvider = 1;
  s3.poolId = 1;
  s3.priority = DEV_PRIO_LOW;
  ASSERT_EQ(zarInsertDevice(h_, &s3), 0);
  const uint64_t id2 = Insert("/space", "/srv/0");
  AddDetail(id2, 1, static_cast<uint32_t>(s3.volumeId));
  ASSERT_EQ(zarDeleteObject(h_, id2), 0);
  EXPECT_NE(DebugLog().find("S3 Type Cloud."), std::string::npos);
  EXPECT_TRUE(ObjectRow(id2).empty());
}

}  // namespace
