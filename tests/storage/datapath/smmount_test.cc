// Objects written through the write mounts and the object writer on FILE
// and STDIO devices, read back through the storage-manager API across their
// parts; the stored parts checked with python3's struct module.
#include "storage/datapath/smmount.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "storage/catalog/smc_lock.h"
#include "storage/catalog/smc_obj.h"
#include "storage/catalog/smc_odt.h"
#include "storage/datapath/smapi.h"
#include "storage/datapath/smdevmgt.h"
#include "storage/datapath/smdtlhdr.h"
#include "storage/datapath/smfilter.h"
#include "storage/datapath/smobject.h"
#include "storage/datapath/smsession.h"
#include "tests/storage/config_env.h"
#include "tests/storage/datapath/catalog_session.h"

namespace {

using tevtest::PatternData;
using tevtest::DumpRows;
using tevtest::PythonExecutable;
using tevtest::Row;

// Prints the header fields of a stored part, read with struct: magic,
// version, copy id, kind, object version, part, marker, size, pool, pool
// name, volume, text, n1, n2, the names, and the length of the rest;
// argv[2], when given, is a file the rest must equal ("same"/"differs").
const char kReadHeader[] = R"PY(
import struct, sys
data = open(sys.argv[1], 'rb').read()
f = struct.unpack('<IIQ4sIIIQI28sIIq96sII', data[:192])
n1, n2 = f[14], f[15]
names = data[192:192 + n1 + n2]
rest = data[192 + n1 + n2:]
out = ['%x' % f[0], f[1], f[2], f[3].rstrip(b'\0').decode(), f[4], f[5], '%x' % f[6], f[7], f[8],
       f[9].rstrip(b'\0').decode(), f[10], f[13].rstrip(b'\0').decode(), n1, n2,
       names[:n1 - 1].decode(), names[n1:n1 + n2 - 1].decode(), len(rest)]
if len(sys.argv) > 2:
  out.append('same' if rest == open(sys.argv[2], 'rb').read() else 'differs')
print('|'.join(str(x) for x in out))
)PY";

// Rewrites a stored part's header: version (argv[2]) and text (argv[3]);
// with version 2 the header is remade in the 184-byte layout, names and
// data kept.
const char kRewriteHeader[] = R"PY(
import struct, sys
path, version, text = sys.argv[1], int(sys.argv[2]), sys.argv[3].encode()
data = bytearray(open(path, 'rb').read())
if version == 2:
  f = list(struct.unpack('<IIQ4sIIIQI28sIIq96sII', bytes(data[:192])))
  head = struct.pack('<IIQ4sIIIQI28sIi96sII', f[0], 2, f[2], f[3], f[4], f[5], f[6], f[7], f[8],
                     f[9], f[10], 1234567, text.ljust(96, b'\0'), f[14], f[15])
  data = head + data[192:]
else:
  data[4:8] = struct.pack('<I', version)
  data[88:184] = text.ljust(96, b'\0')
open(path, 'wb').write(data)
)PY";

struct Dumped {
  int rc = -1;                  // the last call's result
  std::string data;
  std::vector<int> rcs;         // every tevGetObject / tevGetData result
  std::vector<uint32_t> sizes;  // bytes filled with each
};

class Mounts : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = std::make_unique<tevtest::ConfigEnv>();
    const tevtest::TempInstall& in = env_->install();
    ASSERT_EQ(symlink((tevtest::BuildTree() + "/lxr").c_str(), in.Path("lxr").c_str()), 0);
    env_->Set("TEV_LOCK_TIMEOUT", "5");
    env_->Set("TEV_DEBUG", "9");
    env_->Set("TEV_DEBUG_LOG", in.Path("debug.log"));
    env_->Set("BAR_DEBUG_LOG", in.Path("filter.log"));
    Configure();
    tevSetDefaultOwner(&owner_);
    tevClearSecurityToken(&token_);
    ASSERT_EQ(tevInit(&hn_, &token_, &owner_, nullptr), 0);
    ASSERT_EQ(find_bsa_handle(static_cast<uint32_t>(hn_), &h_, __FILE_NAME__, __LINE__), 0);
    // Without the new catalog's default device each test's devices are the
    // only ones of their pools.
    ASSERT_EQ(zarDeleteDevices(h_, (env_->install().path() + "/backups").c_str(), 0), 0);
  }
  void TearDown() override {
    if (h_ != nullptr) {
      if (h_->transactionId != 0) tevEndTxn(hn_, 2);
      EXPECT_EQ(tevTerminate(hn_), 0);
    }
    destroy_bsa_handles(0);
    EXPECT_EQ(filter_lib_state()->filtersInUse, 0);
    env_.reset();
  }
  virtual void Configure() {}

  std::string Path(const std::string& rel) const { return env_->install().Path(rel); }
  std::string ActLog() const { return env_->install().ReadFile("act.log"); }
  std::string DebugLog() const { return env_->install().ReadFile("debug.log"); }

  // Adds a device of pool 1 (or another); its volume id in vol_.
  TevDevice AddDevice(const std::string& name, int32_t type, int32_t priority, int32_t pool = 1,
                      const std::string& write_args = "", const std::string& read_args = "") {
    TevDevice d{};
    std::snprintf(d.name, sizeof d.name, "%s", name.c_str());
    std::snprintf(d.stdioWrite, sizeof d.stdioWrite, "%s", write_args.c_str());
    std::snprintf(d.stdioRead, sizeof d.stdioRead, "%s", read_args.c_str());
    d.type = type;
    d.poolId = pool;
    d.priority = priority;
    EXPECT_EQ(zarInsertDevice(h_, &d), 0) << name;
    vol_ = static_cast<uint32_t>(d.volumeId);
    return d;
  }
  std::string FileDevice(const std::string& rel, int32_t priority = DEV_PRIO_LOW,
                         int32_t pool = 1) {
    const std::string dir = Path(rel);
    AddDevice(dir, DEV_TYPE_FILE, priority, pool);
    return dir;
  }

  // Starts an object of the pool in a transaction and mounts its first
  // part: the mount's result.
  int BeginObject(const std::string& space, const std::string& path, int32_t pool = 1) {
    EXPECT_EQ(tevBeginTxn(hn_), 0);
    auto* d = static_cast<XbsaObjectDescriptor*>(std::calloc(1, sizeof(XbsaObjectDescriptor)));
    std::snprintf(d->objectSpaceName, sizeof d->objectSpaceName, "%s", space.c_str());
    std::snprintf(d->pathName, sizeof d->pathName, "%s", path.c_str());
    d->objectKind[0] = 'R';
    tevSetDefaultOwner(&d->owner);
    EXPECT_EQ(set_bsa_handle_object(h_->handleNumber, d), 0);
    EXPECT_EQ(zarInsertObject(h_, UInt64Pair{0, 0}, 0), 0);
    copy_ = (static_cast<uint64_t>(d->copyId.high) << 32) | d->copyId.low;
    h_->writePoolId = pool;
    EXPECT_EQ(smcAcquireCatalogLock(h_), 0);
    const int rc = zarVolumeWriteMount(h_);
    EXPECT_EQ(smcReleaseCatalogLock(h_), 0);
    return rc;
  }
  // Writes the data in blocks, ends the part and the object, commits.
  void FinishObject(const std::string& data, size_t block) {
    for (size_t at = 0; at < data.size(); at += block) {
      ASSERT_EQ(zarWriteData(h_, data.data() + at, std::min(block, data.size() - at)), 0);
    }
    ASSERT_EQ(smcAcquireCatalogLock(h_), 0);
    EXPECT_EQ(zarUnmountVolume(h_), 0);
    EXPECT_EQ(zarEndObject(h_), 0);
    EXPECT_EQ(smcReleaseCatalogLock(h_), 0);
    EXPECT_EQ(tevEndTxn(hn_, 1), 0);
  }
  uint64_t WriteObject(const std::string& space, const std::string& path,
                       const std::string& data, size_t block = 1000) {
    EXPECT_EQ(BeginObject(space, path), 0);
    FinishObject(data, block);
    return copy_;
  }

  // Reads the object as object DUMP does.
  Dumped Dump(uint64_t copy, uint32_t buffer_size) {
    Dumped out;
    std::vector<char> buffer(buffer_size);
    XbsaObjectDescriptor d{};
    d.copyId = UInt64Pair{static_cast<uint32_t>(copy >> 32), static_cast<uint32_t>(copy)};
    XbsaDataBlock block{buffer_size, 0, buffer.data()};
    int rc = tevGetObject(hn_, &d, &block);
    for (;;) {
      out.rcs.push_back(rc);
      if (rc != BSA_RC_MORE_DATA && rc != BSA_RC_NO_MORE_DATA) break;
      out.sizes.push_back(block.numBytes);
      out.data.append(buffer.data(), block.numBytes);
      if (rc == BSA_RC_NO_MORE_DATA) break;
      rc = tevGetData(hn_, &block);
    }
    out.rc = rc;
    if (rc == BSA_RC_MORE_DATA || rc == BSA_RC_NO_MORE_DATA || rc == BSA_RC_ABORT_SYSTEM_ERROR) {
      EXPECT_EQ(tevEndData(hn_), 0);
    }
    return out;
  }

  static std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> f;
    size_t from = 0;
    for (size_t at; (at = line.find('|', from)) != std::string::npos; from = at + 1) {
      f.push_back(line.substr(from, at - from));
    }
    std::string last = line.substr(from);
    while (!last.empty() && last.back() == '\n') last.pop_back();
    f.push_back(last);
    return f;
  }
  // The header fields of a stored part (see kReadHeader).
  std::vector<std::string> Header(const std::string& file, const std::string& data) {
    const std::string expected = Path("expected.bin");
    tevtest::WriteFile(expected, data);
    tevtest::RunResult r =
        tevtest::RunProgram(PythonExecutable(), {"-c", kReadHeader, file, expected});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return Fields(r.out);
  }
  void RewriteHeader(const std::string& file, int version, const std::string& text) {
    tevtest::RunResult r =
        tevtest::RunProgram(PythonExecutable(), {"-c", kRewriteHeader, file,
                                                std::to_string(version), text});
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }

  static Row ObjectRow(uint64_t copy) {
    for (const Row& r : DumpRows(smcDumpObjectTab)) {
      if (r[tevtest::kObjCopyId] == std::to_string(copy)) return r;
    }
    return {};
  }
  // Part number and size of each detail row of the copy.
  static std::vector<std::pair<std::string, std::string>> Details(uint64_t copy) {
    std::vector<std::pair<std::string, std::string>> parts;
    for (const Row& r : DumpRows(smcDumpDetailTab)) {
      if (r[tevtest::kDetCopy] == std::to_string(copy)) {
        parts.emplace_back(r[tevtest::kDetPart], r[tevtest::kDetSize]);
      }
    }
    return parts;
  }
  // Sets the object row's size (the object idle).
  void SetSize(uint64_t copy, uint64_t size) {
    ASSERT_EQ(smcAcquireCatalogLock(h_), 0);
    auto* d = static_cast<XbsaObjectDescriptor*>(std::calloc(1, sizeof(XbsaObjectDescriptor)));
    ASSERT_EQ(set_bsa_handle_object(h_->handleNumber, d), 0);
    TevObjectInfo info{};
    ASSERT_EQ(zarGetObjectInformation(h_, copy, &info), 0);
    info.size = UInt64Pair{static_cast<uint32_t>(size >> 32), static_cast<uint32_t>(size)};
    info.status = OBJ_STATUS_IDLE;
    EXPECT_EQ(zarPutObjectInfo(h_, info.copyId, &info), 0);
    set_bsa_handle_object(h_->handleNumber, nullptr);
    EXPECT_EQ(smcReleaseCatalogLock(h_), 0);
  }

  std::unique_ptr<tevtest::ConfigEnv> env_;
  XbsaObjectOwner owner_;
  XbsaSecurityToken token_;
  int64_t hn_ = 0;
  zarHandle* h_ = nullptr;
  uint64_t copy_ = 0;
  uint32_t vol_ = 0;
};

constexpr uint32_t kBuf = 4096;

// FILE objects of 0 bytes, 1 byte, an exact multiple of the buffer and a
// ragged size: the part file carries the header and the data, its size is
// filled in, the rows say "I" and the size, and the read gives the bytes
// back with 14 for every full block and 18 for the last.
TEST_F(Mounts, FileObjectsRoundTripBehindTheirHeaders) {
  const std::string dev = FileDevice("Dev");
  for (size_t size : {size_t{0}, size_t{1}, size_t{3 * kBuf}, size_t{3 * kBuf + 17}}) {
    SCOPED_TRACE(size);
    const std::string data = PatternData(size, static_cast<unsigned>(size));
    const std::string path = "/srv/o" + std::to_string(size);
    const uint64_t copy = WriteObject("/rootdbs", path, data, 1000);
    const std::string file = dev + path + "/rootdbs.1.1";
    const std::vector<std::string> h = Header(file, data);
    const std::string text = std::to_string(vol_) + " 0 " + std::to_string(copy) + " 1:";
    const std::vector<std::string> want = {
        "4f474143", "3", std::to_string(copy), "R", "1", "1", "ffffffff", std::to_string(size),
        "1", "DBSPOOL", std::to_string(vol_), text, "9", std::to_string(path.size() + 1), "/rootdbs", path,
        std::to_string(size), "same"};
    EXPECT_EQ(h, want);

    const Row row = ObjectRow(copy);
    ASSERT_FALSE(row.empty());
    EXPECT_EQ(row[tevtest::kObjStatus], "I");
    EXPECT_EQ(row[tevtest::kObjBytesLo], std::to_string(size));
    EXPECT_EQ(row[tevtest::kObjTxid], "0");
    EXPECT_EQ(Details(copy), (std::vector<std::pair<std::string, std::string>>{
                                 {"1", std::to_string(size)}}));

    const Dumped d = Dump(copy, kBuf);
    EXPECT_EQ(d.rc, BSA_RC_NO_MORE_DATA);
    EXPECT_TRUE(d.data == data);
    std::vector<int> rcs(d.rcs.size() - 1, BSA_RC_MORE_DATA);
    rcs.push_back(BSA_RC_NO_MORE_DATA);
    EXPECT_EQ(d.rcs, rcs);
    // Full blocks while more follows; an exact multiple ends with 0 bytes.
    EXPECT_EQ(d.sizes.back(), size % kBuf);
    EXPECT_EQ(d.rcs.size(), size / kBuf + 1);
    EXPECT_EQ(ObjectRow(copy)[tevtest::kObjStatus], "I");
  }
  EXPECT_EQ(h_->currentMount, nullptr);
}

// An existing part file makes the writer take the next free version; the
// row is rewritten and the header carries it; the file found stays as it
// was.
TEST_F(Mounts, ExistingPartFileMakesTheNextVersion) {
  const std::string dev = FileDevice("Dev");
  env_->install().WriteFile("Dev/srv/x/rootdbs.1.1", "someone else's");
  env_->install().WriteFile("Dev/srv/x/rootdbs.2.1", "and another");
  const std::string data = PatternData(5000);
  const uint64_t copy = WriteObject("/rootdbs", "/srv/x", data);
  EXPECT_EQ(tevtest::ReadFile(dev + "/srv/x/rootdbs.1.1"), "someone else's");
  EXPECT_EQ(tevtest::ReadFile(dev + "/srv/x/rootdbs.2.1"), "and another");
  const std::vector<std::string> h = Header(dev + "/srv/x/rootdbs.3.1", data);
  ASSERT_EQ(h.size(), 18u);
  EXPECT_EQ(h[4], "3");
  EXPECT_EQ(h[17], "same");
  EXPECT_EQ(ObjectRow(copy)[tevtest::kObjVersion], "3");
  EXPECT_NE(DebugLog().find("Version for object incresed to 3."), std::string::npos);
  EXPECT_TRUE(Dump(copy, kBuf).data == data);
}

class LimitedMounts : public Mounts {
  void Configure() override { env_->Set("TEV_QA_LIMIT_WRT", "1"); }
};

// With a write limit of 1 MB the object is cut into parts; a block that
// spans a part's end is topped up from the next part and comes full.
TEST_F(LimitedMounts, PartsOnFileAndStdioReadBackAcrossTheirEnds) {
  const std::string dev = FileDevice("Dev", DEV_PRIO_LOW, 1);
  const std::string dir = Path("stdio");
  ASSERT_EQ(mkdir(dir.c_str(), 0770), 0);
  AddDevice("dd", DEV_TYPE_STDIO, DEV_PRIO_LOW, 2, "of=" + dir + "/@obj_id@.@obj_part@ status=none",
            "if=" + dir + "/@obj_id@.@obj_part@ status=none");
  // Parts of 1,100,000, 1,100,000 and 10 bytes: the block that spans the
  // end of part 2 is topped up with all of part 3 and is still short.
  const std::string data = PatternData(2200010, 7);
  const size_t block = 100000;
  const std::vector<std::pair<std::string, std::string>> parts = {
      {"1", "1100000"}, {"2", "1100000"}, {"3", "10"}};

  for (int32_t pool : {1, 2}) {
    SCOPED_TRACE(pool);
    ASSERT_EQ(BeginObject("/rootdbs", "/srv/big", pool), 0);
    FinishObject(data, block);
    const uint64_t copy = copy_;
    EXPECT_EQ(Details(copy), parts);
    for (int part = 1; part <= 3; ++part) {
      const std::string file = pool == 1
                                   ? dev + "/srv/big/rootdbs.1." + std::to_string(part)
                                   : dir + "/" + std::to_string(copy) + "." + std::to_string(part);
      const std::vector<std::string> h =
          Header(file, data.substr((part - 1) * 1100000, part < 3 ? 1100000 : 10));
      ASSERT_EQ(h.size(), 18u) << file;
      EXPECT_EQ(h[5], std::to_string(part));
      // Only a FILE part's header is given its size.
      EXPECT_EQ(h[7], pool == 1 ? parts[part - 1].second : "0");
      EXPECT_EQ(h[17], "same");
    }
    const uint32_t buffer = 128 * 1024;
    const Dumped d = Dump(copy, buffer);
    EXPECT_EQ(d.rc, BSA_RC_NO_MORE_DATA);
    EXPECT_TRUE(d.data == data);
    for (size_t i = 0; i + 1 < d.sizes.size(); ++i) EXPECT_EQ(d.sizes[i], buffer) << i;
    EXPECT_EQ(d.sizes.back(), data.size() % buffer);
  }
}

// A STDIO device whose program stores each part: header and data per part,
// part size 0 in the header, the sizes in the detail rows.
TEST_F(Mounts, StdioObjectsRoundTripThroughTheDeviceProgram) {
  const std::string dir = Path("stdio");
  ASSERT_EQ(mkdir(dir.c_str(), 0770), 0);
  AddDevice("dd", DEV_TYPE_STDIO, DEV_PRIO_LOW, 1, "of=" + dir + "/@obj_id@.@obj_part@ status=none",
            "if=" + dir + "/@obj_id@.@obj_part@ status=none");
  for (size_t size : {size_t{0}, size_t{1}, size_t{2 * kBuf}}) {
    SCOPED_TRACE(size);
    const std::string data = PatternData(size, 3);
    const uint64_t copy = WriteObject("/rootdbs", "/srv/s" + std::to_string(size), data, 777);
    const std::vector<std::string> h = Header(dir + "/" + std::to_string(copy) + ".1", data);
    ASSERT_EQ(h.size(), 18u);
    EXPECT_EQ(h[7], "0");
    EXPECT_EQ(h[17], "same");
    EXPECT_EQ(Details(copy), (std::vector<std::pair<std::string, std::string>>{
                                 {"1", std::to_string(size)}}));
    const Dumped d = Dump(copy, kBuf);
    EXPECT_EQ(d.rc, BSA_RC_NO_MORE_DATA);
    EXPECT_TRUE(d.data == data);
  }
}

// A device program that fails leaves no stored part behind a success.
TEST_F(Mounts, FailingStdioWriterFailsThePart) {
  AddDevice("false", DEV_TYPE_STDIO, DEV_PRIO_LOW, 1, "x", "x");
  ASSERT_EQ(BeginObject("/rootdbs", "/srv/f"), 0);
  // The program has ended: the data finds the pipe closed, or the end of
  // the part finds the program's failure.
  const std::string data = PatternData(100);
  const int wrc = zarWriteData(h_, data.data(), data.size());
  ASSERT_EQ(smcAcquireCatalogLock(h_), 0);
  const int urc = zarUnmountVolume(h_);
  EXPECT_EQ(smcReleaseCatalogLock(h_), 0);
  EXPECT_TRUE(wrc == 3 || urc == 3) << wrc << " " << urc;
  EXPECT_EQ(urc, 3);
  EXPECT_EQ(h_->currentMount, nullptr);
  EXPECT_EQ(h_->filterId, -1);
}

// Damaged catalogs and media: missing and surplus parts, a header naming
// another part, header versions, a header text of three numbers.
TEST_F(LimitedMounts, ReadsRefuseWhatDoesNotMatchTheCatalog) {
  const std::string dev = FileDevice("Dev");
  const std::string data = PatternData(2000000, 9);
  // Parts of 1,500,000 and 500,000 bytes.
  const uint64_t copy = WriteObject("/rootdbs", "/srv/d", data, 500000);
  ASSERT_EQ(Details(copy).size(), 2u);

  SetSize(copy, data.size() + 10);
  Dumped d = Dump(copy, 128 * 1024);
  EXPECT_EQ(d.rc, BSA_RC_ABORT_SYSTEM_ERROR);
  EXPECT_NE(ActLog().find("A part of the object is missing."), std::string::npos);

  SetSize(copy, 1000);
  d = Dump(copy, 128 * 1024);
  EXPECT_EQ(d.rcs, std::vector<int>{BSA_RC_ABORT_SYSTEM_ERROR});
  EXPECT_NE(ActLog().find("A further part exists after all bytes of the object were read."),
            std::string::npos);
  SetSize(copy, data.size());
  EXPECT_TRUE(Dump(copy, 128 * 1024).data == data);

  const std::string part1 = dev + "/srv/d/rootdbs.1.1";
  const std::string original = tevtest::ReadFile(part1);
  const std::string v = std::to_string(vol_), c = std::to_string(copy);
  const std::string good = v + " 0 " + c + " 1:";
  const std::string other = "The header on the medium names another volume";
  struct Case {
    int version;
    std::string text;
    std::string traced;  // empty: the part reads
  } cases[] = {
      {3, v + " 0 " + c + " 2:", other},                    // names part 2
      {3, std::to_string(vol_ + 1) + " 0 " + c + " 1:", other},  // another volume
      {3, v + " 1 " + c + " 1:", other},                    // another copy
      {3, v + " 0 " + c + ":", "Invalid number of fields in old header"},
      {1, good, "Header version 1 is invalid, should be $d or lower."},
      {4, good, "Header version 4 is invalid, should be $d or lower."},
      {2, good, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text + " v" + std::to_string(c.version));
    tevtest::WriteFile(part1, original);
    RewriteHeader(part1, c.version, c.text);
    const std::string act_before = ActLog();
    const std::string debug_before = DebugLog();
    XbsaObjectDescriptor o{};
    o.copyId = UInt64Pair{static_cast<uint32_t>(copy >> 32), static_cast<uint32_t>(copy)};
    if (c.traced.empty()) {
      EXPECT_TRUE(Dump(copy, 128 * 1024).data == data);
      continue;
    }
    EXPECT_EQ(tevGetObject(hn_, &o, nullptr), BSA_RC_ABORT_SYSTEM_ERROR);
    EXPECT_EQ(h_->currentMount, nullptr);  // the medium is unmounted
    EXPECT_EQ(ObjectRow(copy)[tevtest::kObjStatus], "B");
    const std::string act = ActLog().substr(act_before.size());
    EXPECT_NE(act.find("The header of volume TEV_DISK_VOL does not match the catalog."),
              std::string::npos);
    EXPECT_NE(DebugLog().substr(debug_before.size()).find(c.traced), std::string::npos);
    EXPECT_EQ(tevEndData(hn_), 0);
  }
}

// Objects in use: one being read cannot be deleted; once ended it can, with
// its parts.
TEST_F(Mounts, DeleteWaitsForTheReader) {
  const std::string dev = FileDevice("Dev");
  const uint64_t copy = WriteObject("/rootdbs", "/srv/r", PatternData(3000));
  const UInt64Pair id{static_cast<uint32_t>(copy >> 32), static_cast<uint32_t>(copy)};
  XbsaObjectDescriptor o{};
  o.copyId = id;
  ASSERT_EQ(tevGetObject(hn_, &o, nullptr), 0);
  EXPECT_STREQ(o.pathName, "/srv/r");
  EXPECT_EQ(o.status, 2u);
  EXPECT_EQ(tevDeleteObject(hn_, id), BSA_RC_OPERATION_NOT_AUTHORIZED);
  EXPECT_EQ(tevEndData(hn_), 0);
  EXPECT_EQ(tevDeleteObject(hn_, id), 0);
  EXPECT_EQ(access((dev + "/srv/r/rootdbs.1.1").c_str(), F_OK), -1);
  EXPECT_TRUE(ObjectRow(copy).empty());
  EXPECT_EQ(tevDeleteObject(hn_, id), BSA_RC_NO_MATCH);
}

// The API's call order: an object read needs a handle, a descriptor and a
// block; transactions open once.
TEST_F(Mounts, CallsOutOfOrderAreRefused) {
  XbsaDataBlock block{16, 0, nullptr};
  EXPECT_EQ(tevGetObject(hn_, nullptr, &block), BSA_RC_NULL_POINTER);
  EXPECT_EQ(tevGetData(hn_, nullptr), BSA_RC_NULL_DATABLOCKPTR);
  XbsaObjectDescriptor o{};
  o.copyId = UInt64Pair{0, 999};
  EXPECT_EQ(tevGetObject(hn_ + 100, &o, nullptr), BSA_RC_NO_MATCH);
  EXPECT_EQ(tevGetObject(hn_, &o, nullptr), BSA_RC_NO_MATCH);
  EXPECT_EQ(tevEndData(hn_), BSA_RC_NO_MATCH);
  EXPECT_EQ(tevEndTxn(hn_, 1), BSA_RC_BAD_CALL_SEQUENCE);
  EXPECT_EQ(tevBeginTxn(hn_), 0);
  EXPECT_EQ(tevBeginTxn(hn_), BSA_RC_BAD_CALL_SEQUENCE);
  EXPECT_EQ(tevEndTxn(hn_, 2), 0);  // nothing inserted: nothing to roll back
  // A write mount outside a transaction, or over a current mount.
  FileDevice("Dev");
  ASSERT_EQ(BeginObject("/rootdbs", "/srv/q"), 0);
  EXPECT_EQ(zarVolumeWriteMount(h_), BSA_RC_BAD_CALL_SEQUENCE);
  EXPECT_EQ(zarWriteData(h_, nullptr, 1), BSA_RC_NULL_POINTER);
  FinishObject("x", 1);
  EXPECT_EQ(zarWriteData(h_, "x", 1), BSA_RC_BAD_CALL_SEQUENCE);
  EXPECT_EQ(zarVolumeWriteMount(h_), BSA_RC_BAD_CALL_SEQUENCE);  // no transaction
  EXPECT_EQ(zarVolumeWriteMount(nullptr), BSA_RC_BAD_HANDLE);
}

// The write mount's choice of device: READ-ONLY devices never; a device
// that cannot take the part is passed over for the next of its priority;
// a device answering 3 ends the search; none gives 88035 and 19.
TEST_F(Mounts, WriteMountChoosesAmongThePoolsDevices) {
  const std::string ro = FileDevice("ro", DEV_PRIO_READONLY, 1);
  const std::string bad = FileDevice("high_a", DEV_PRIO_HIGH, 1);
  const std::string good = FileDevice("high_b", DEV_PRIO_HIGH, 1);
  const std::string low = FileDevice("low", DEV_PRIO_LOW, 1);
  // The first HIGH device's directory is now a file: its part cannot be made.
  ASSERT_EQ(rmdir(bad.c_str()), 0);
  tevtest::WriteFile(bad, "not a directory");
  const uint64_t copy = WriteObject("/rootdbs", "/srv/w", PatternData(10));
  EXPECT_EQ(access((good + "/srv/w/rootdbs.1.1").c_str(), F_OK), 0);
  EXPECT_EQ(access((low + "/srv/w").c_str(), F_OK), -1);
  EXPECT_EQ(access((ro + "/srv/w").c_str(), F_OK), -1);
  EXPECT_NE(ActLog().find("Cannot create " + bad + "/srv/w/rootdbs.1.1."), std::string::npos);
  EXPECT_EQ(Details(copy).size(), 1u);

  // Pool 2: a STDIO device that cannot start answers 3, and the LOW FILE
  // device after it is not tried.
  AddDevice("no-such-program-here", DEV_TYPE_STDIO, DEV_PRIO_HIGH, 2, "x", "x");
  const std::string low2 = FileDevice("low2", DEV_PRIO_LOW, 2);
  EXPECT_EQ(BeginObject("/rootdbs", "/srv/v", 2), 3);
  EXPECT_EQ(h_->currentMount, nullptr);
  EXPECT_EQ(access((low2 + "/srv").c_str(), F_OK), -1);
  EXPECT_NE(ActLog().find("Cannot start the device program 'no-such-program-here x'."),
            std::string::npos);
  EXPECT_EQ(tevEndTxn(hn_, 2), 0);

  // Pool 3: only a READ-ONLY device.
  FileDevice("ro3", DEV_PRIO_READONLY, 3);
  EXPECT_EQ(BeginObject("/rootdbs", "/srv/u", 3), BSA_RC_NO_RESOURCES);
  EXPECT_NE(ActLog().find("No device of pool EXTPOOL can take the volume."), std::string::npos);
  EXPECT_EQ(tevEndTxn(hn_, 2), 0);
}

}  // namespace

namespace {

// A later part whose file exists cannot raise the object's version (part 1
// carries it in its name): the device cannot take the part.
TEST_F(LimitedMounts, LaterPartNeverRenamesTheObject) {
  const std::string dev = FileDevice("Dev");
  env_->install().WriteFile("Dev/srv/p/rootdbs.1.2", "someone else's");
  ASSERT_EQ(BeginObject("/rootdbs", "/srv/p"), 0);
  const std::string block = PatternData(100000);
  for (int i = 0; i < 11; ++i) ASSERT_EQ(zarWriteData(h_, block.data(), block.size()), 0);
  EXPECT_EQ(zarWriteData(h_, block.data(), block.size()), BSA_RC_NO_RESOURCES);
  EXPECT_EQ(h_->currentMount, nullptr);
  EXPECT_EQ(tevtest::ReadFile(dev + "/srv/p/rootdbs.1.2"), "someone else's");
  EXPECT_EQ(ObjectRow(copy_)[tevtest::kObjVersion], "1");
  EXPECT_NE(ActLog().find("Cannot create " + dev + "/srv/p/rootdbs.1.2."), std::string::npos);
  EXPECT_EQ(tevEndTxn(hn_, 2), 0);
}

}  // namespace
