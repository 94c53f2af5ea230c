// TAPE media: the blocking layer on file-backed mounts (checked against
// dd's blocking of the same stream), labels, and reads of objects on
// file-backed TAPE volumes through the storage-manager API, with the
// operator prompt sent to a file.
#include "storage/datapath/smtape.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "storage/catalog/smc_dev.h"
#include "storage/catalog/smc_lock.h"
#include "storage/catalog/smc_obj.h"
#include "storage/catalog/smc_odt.h"
#include "storage/catalog/smc_vol.h"
#include "storage/datapath/smapi.h"
#include "storage/datapath/smdevmgt.h"
#include "storage/datapath/smdtlhdr.h"
#include "storage/datapath/smmount.h"
#include "storage/datapath/smobject.h"
#include "storage/datapath/smvolume.h"
#include "tests/storage/config_env.h"
#include "tests/storage/datapath/catalog_session.h"

namespace {

using tevtest::PatternData;
using tevtest::DumpRows;
using tevtest::Row;

// A hand-made TAPE mount on a file: block size, one-block buffer, the
// descriptor open with the flags.
struct FileTape {
  TevMount m{};
  FileTape(const std::string& path, int flags, int64_t block) {
    m.type = DEV_TYPE_TAPE;
    m.blockSize = block;
    m.descriptor = open(path.c_str(), flags | O_CLOEXEC, 0660);
    m.tapeBuffer = std::calloc(1, static_cast<size_t>(block));
  }
  ~FileTape() { tapeReleaseMedium(&m); }
  uint64_t Free() const {
    return (static_cast<uint64_t>(m.volume.bytesFree.high) << 32) | m.volume.bytesFree.low;
  }
};

off_t FileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

class TapeBlocks : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = std::make_unique<tevtest::TempInstall>(); }
  std::string Path(const std::string& rel) const { return dir_->Path(rel); }
  std::unique_ptr<tevtest::TempInstall> dir_;
};

// The Part's cases: 100 bytes with blocks of 64 write one block straight
// and keep 36, which the flush pads with 28 zero bytes; reading 100 takes
// one block straight and one through the buffer, keeping 28.
TEST_F(TapeBlocks, WriteKeepsTheRaggedEndAndFlushPadsIt) {
  const std::string image = Path("tape");
  const std::string data = PatternData(200);
  {
    FileTape t(image, O_WRONLY | O_CREAT | O_TRUNC, 64);
    EXPECT_EQ(tape_write(&t.m, data.data(), 100), 100);
    EXPECT_EQ(t.m.bufferFill, 36u);
    EXPECT_EQ(FileSize(image), 64);
    EXPECT_EQ(tape_FLUSH(&t.m), 0);
    EXPECT_EQ(t.m.bufferFill, 0u);
    EXPECT_EQ(tape_FLUSH(&t.m), 0);  // nothing left: nothing written
  }
  const std::string tape = tevtest::ReadFile(image);
  ASSERT_EQ(tape.size(), 128u);
  EXPECT_TRUE(tape.substr(0, 100) == data.substr(0, 100));
  EXPECT_TRUE(tape.substr(100) == std::string(28, '\0'));

  FileTape r(image, O_RDONLY, 64);
  char got[100];
  EXPECT_EQ(tape_read(&r.m, got, 100), 100);
  EXPECT_TRUE(std::string(got, 100) == data.substr(0, 100));
  EXPECT_EQ(r.m.bufferFill, 28u);
  EXPECT_EQ(lseek(r.m.descriptor, 0, SEEK_CUR), 128);
  // The buffered bytes come first; the end of the data gives fewer.
  EXPECT_EQ(tape_read(&r.m, got, 50), 28);
  EXPECT_EQ(tape_read(&r.m, got, 50), 0);
}

// Writes of many sizes give the bytes dd gives when it blocks the plain
// stream with conv=sync; reading them back in other sizes gives the stream.
TEST_F(TapeBlocks, ImageEqualsDdBlockingOfTheStream) {
  for (int64_t block : {1, 7, 64, 512}) {
    SCOPED_TRACE(block);
    const std::string image = Path("tape" + std::to_string(block));
    std::string stream;
    uint32_t x = static_cast<uint32_t>(block);
    {
      FileTape t(image, O_WRONLY | O_CREAT | O_TRUNC, block);
      for (int i = 0; i < 60; ++i) {
        x = x * 1103515245u + 12345;
        const std::string piece = PatternData((x >> 16) % 1500, x);
        ASSERT_EQ(tape_write(&t.m, piece.data(), piece.size()), static_cast<long>(piece.size()));
        stream += piece;
      }
      ASSERT_EQ(tape_FLUSH(&t.m), 0);
    }
    const std::string plain = Path("plain");
    tevtest::WriteFile(plain, stream);
    const std::string blocked = Path("blocked");
    tevtest::RunResult dd = tevtest::RunProgram(
        "/bin/dd", {"if=" + plain, "of=" + blocked, "bs=" + std::to_string(block), "conv=sync",
                    "status=none"});
    ASSERT_EQ(dd.exit_code, 0) << dd.err;
    EXPECT_TRUE(tevtest::ReadFile(image) == tevtest::ReadFile(blocked));

    FileTape r(image, O_RDONLY, block);
    std::string back;
    std::vector<char> buf(3000);
    while (back.size() < stream.size()) {
      x = x * 1103515245u + 12345;
      const size_t want = std::min<size_t>((x >> 16) % 2500 + 1, stream.size() - back.size());
      const long got = tape_read(&r.m, buf.data(), want);
      ASSERT_EQ(got, static_cast<long>(want));
      back.append(buf.data(), want);
    }
    EXPECT_TRUE(back == stream);
  }
}

// The end of the medium: by capacity (bytes free against the whole 64-bit
// count), never with a media size of 0, and by ENOSPC.
TEST_F(TapeBlocks, EndOfTheMedium) {
  const std::string image = Path("tape");
  const std::string data = PatternData(300);
  {
    FileTape t(image, O_WRONLY | O_CREAT | O_TRUNC, 64);
    t.m.mediaSizeLow = 1000;
    t.m.volume.bytesFree = UInt64Pair{0, 63};
    EXPECT_EQ(tape_write(&t.m, data.data(), 10), 0);
    EXPECT_EQ(t.Free(), 0u);
    EXPECT_EQ(FileSize(image), 0);
  }
  {
    FileTape t(image, O_WRONLY | O_CREAT | O_TRUNC, 64);
    t.m.mediaSizeLow = 1000;
    t.m.volume.bytesFree = UInt64Pair{0, 150};
    EXPECT_EQ(tape_write(&t.m, data.data(), 300), 150);
    EXPECT_EQ(FileSize(image), 128);
    EXPECT_EQ(t.m.bufferFill, 22u);
    EXPECT_EQ(t.Free(), 22u);
  }
  {
    // More than 4 GB free: nothing is cut.
    FileTape t(image, O_WRONLY | O_CREAT | O_TRUNC, 64);
    t.m.mediaSizeHigh = 2;
    t.m.volume.bytesFree = UInt64Pair{1, 10};
    EXPECT_EQ(tape_write(&t.m, data.data(), 300), 300);
    EXPECT_EQ(t.Free(), (uint64_t{1} << 32) + 10 - 256);
  }
  {
    // Media size 0: bytes free do not count.
    FileTape t(image, O_WRONLY | O_CREAT | O_TRUNC, 64);
    EXPECT_EQ(tape_write(&t.m, data.data(), 300), 300);
    EXPECT_EQ(tape_write(&t.m, data.data(), 300), 300);
    EXPECT_EQ(FileSize(image), 576);
  }
  {
    FileTape t("/dev/full", O_WRONLY, 64);
    ASSERT_GE(t.m.descriptor, 0);
    t.m.volume.bytesFree = UInt64Pair{0, 5000};
    EXPECT_EQ(tape_write(&t.m, data.data(), 100), 0);
    EXPECT_EQ(t.Free(), 0u);
    EXPECT_EQ(t.m.bufferFill, 0u);
    t.m.volume.bytesFree = UInt64Pair{0, 5000};
    EXPECT_EQ(tape_write(&t.m, data.data(), 30), 30);  // kept in the buffer
    EXPECT_EQ(tape_write(&t.m, data.data(), 100), 34);
    EXPECT_EQ(t.Free(), 0u);
    EXPECT_EQ(tape_FLUSH(&t.m), -1);
  }
}

// The buffer handed aside and given back keeps its bytes.
TEST_F(TapeBlocks, SavedBufferComesBack) {
  FileTape t(Path("tape"), O_WRONLY | O_CREAT | O_TRUNC, 64);
  ASSERT_EQ(tape_write(&t.m, "abcdef", 6), 6);
  void* saved = nullptr;
  uint64_t fill = 0;
  ASSERT_EQ(tape_saveBuffer(&t.m, &saved, &fill), 0);
  EXPECT_EQ(fill, 6u);
  EXPECT_EQ(t.m.bufferFill, 0u);
  EXPECT_NE(t.m.tapeBuffer, saved);
  ASSERT_EQ(tape_restoreBuffer(&t.m, saved, fill), 0);
  ASSERT_EQ(tape_FLUSH(&t.m), 0);
  EXPECT_TRUE(tevtest::ReadFile(Path("tape")) == "abcdef" + std::string(58, '\0'));
}

// ---- Volumes in a catalog ---------------------------------------------------

std::string Label(uint32_t volume) {
  std::string l = "ZAR VOLID=" + std::to_string(volume);
  l.resize(TEV_TAPE_LABEL_SIZE, '\0');
  return l;
}

class TapeVolumes : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = std::make_unique<tevtest::ConfigEnv>();
    const tevtest::TempInstall& in = env_->install();
    ASSERT_EQ(symlink((tevtest::BuildTree() + "/lxr").c_str(), in.Path("lxr").c_str()), 0);
    env_->Set("TEV_LOCK_TIMEOUT", "5");
    env_->Set("TEV_DEBUG", "9");
    env_->Set("TEV_DEBUG_LOG", in.Path("debug.log"));
    env_->Set("TEV_OPERATOR_CONSOLE", in.Path("console"));
    env_->Set("TEV_OPERATOR_WAIT", "1");
    tevSetDefaultOwner(&owner_);
    tevClearSecurityToken(&token_);
    ASSERT_EQ(tevInit(&hn_, &token_, &owner_, nullptr), 0);
    ASSERT_EQ(find_bsa_handle(static_cast<uint32_t>(hn_), &h_, __FILE_NAME__, __LINE__), 0);
  }
  void TearDown() override {
    if (h_ != nullptr) {
      if (h_->transactionId != 0) tevEndTxn(hn_, 2);
      EXPECT_EQ(tevTerminate(hn_), 0);
    }
    destroy_bsa_handles(0);
    env_.reset();
  }
  std::string Path(const std::string& rel) const { return env_->install().Path(rel); }
  std::string DebugLog() const { return env_->install().ReadFile("debug.log"); }

  // A TAPE device of pool 1 on the image path: its volume.
  TevVolume AddTape(const std::string& image, int64_t block) {
    TevDevice d{};
    std::snprintf(d.name, sizeof d.name, "%s", image.c_str());
    d.type = DEV_TYPE_TAPE;
    d.poolId = 1;
    d.priority = DEV_PRIO_LOW;
    d.blockSize = block;
    EXPECT_EQ(zarInsertDevice(h_, &d), 0);
    TevVolume v{};
    v.volumeId = static_cast<uint32_t>(d.volumeId);
    EXPECT_EQ(zarGetVolumeInfo(h_, &v), 0);
    return v;
  }

  // Writes a tape image as the system's code writes a TAPE part: the label,
  // the header (with the detail row), the data, the last block flushed; the
  // object row then ends idle with the data's size.
  uint64_t WriteTape(const std::string& image, const TevVolume& volume, int64_t block,
                     const std::string& data, const std::string& path) {
    EXPECT_EQ(tevBeginTxn(hn_), 0);
    auto* d = static_cast<XbsaObjectDescriptor*>(std::calloc(1, sizeof(XbsaObjectDescriptor)));
    std::snprintf(d->objectSpaceName, sizeof d->objectSpaceName, "/rootdbs");
    std::snprintf(d->pathName, sizeof d->pathName, "%s", path.c_str());
    d->objectKind[0] = 'R';
    tevSetDefaultOwner(&d->owner);
    EXPECT_EQ(set_bsa_handle_object(h_->handleNumber, d), 0);
    EXPECT_EQ(zarInsertObject(h_, UInt64Pair{0, 0}, 0), 0);
    const uint64_t copy = (static_cast<uint64_t>(d->copyId.high) << 32) | d->copyId.low;
    EXPECT_EQ(smcAcquireCatalogLock(h_), 0);
    TevObjectInfo info{};
    EXPECT_EQ(zarGetObjectInformation(h_, copy, &info), 0);
    {
      FileTape t(image, O_WRONLY | O_CREAT | O_TRUNC, block);
      t.m.volume = volume;
      t.m.poolId = 1;
      const std::string label = Label(volume.volumeId);
      EXPECT_EQ(tape_write(&t.m, label.data(), label.size()), 80);
      EXPECT_EQ(writeDetailHdr(h_, &t.m, &info), 0);
      EXPECT_EQ(tape_write(&t.m, data.data(), data.size()), static_cast<long>(data.size()));
      EXPECT_EQ(tape_FLUSH(&t.m), 0);
      h_->headerRewrite = 1;
      h_->partNumber = 1;
      h_->partBytes = static_cast<int64_t>(data.size());
      EXPECT_EQ(updateDetailHdr(h_, &t.m), 0);
    }
    h_->objectBytes = UInt64Pair{0, static_cast<uint32_t>(data.size())};
    EXPECT_EQ(zarEndObject(h_), 0);
    EXPECT_EQ(smcReleaseCatalogLock(h_), 0);
    EXPECT_EQ(tevEndTxn(hn_, 1), 0);
    return copy;
  }

  // Reads the object as object DUMP does: the first failing result, or
  // the data with 18.
  int Dump(uint64_t copy, std::string* out) {
    std::vector<char> buffer(1000);
    XbsaObjectDescriptor d{};
    d.copyId = UInt64Pair{static_cast<uint32_t>(copy >> 32), static_cast<uint32_t>(copy)};
    XbsaDataBlock block{static_cast<uint32_t>(buffer.size()), 0, buffer.data()};
    int rc = tevGetObject(hn_, &d, &block);
    while (rc == BSA_RC_MORE_DATA || rc == BSA_RC_NO_MORE_DATA) {
      out->append(buffer.data(), block.numBytes);
      if (rc == BSA_RC_NO_MORE_DATA) break;
      rc = tevGetData(hn_, &block);
    }
    if (rc == BSA_RC_MORE_DATA || rc == BSA_RC_NO_MORE_DATA || rc == BSA_RC_ABORT_SYSTEM_ERROR) {
      EXPECT_EQ(tevEndData(hn_), 0);
    }
    return rc;
  }

  TevMount* TapeMount(uint32_t volume) {
    int32_t status = 0;
    for (auto* m = static_cast<TevMount*>(ll_first(h_->mountList, &status)); m != nullptr;
         m = static_cast<TevMount*>(ll_next(h_->mountList, &status))) {
      if (m->type == DEV_TYPE_TAPE && m->volume.volumeId == volume) return m;
    }
    return nullptr;
  }

  // Descriptors of this process open on the path, or on a file of that
  // path since replaced.
  static int OpenMedia(const std::string& path) {
    int n = 0;
    for (int fd = 0; fd < 4096; ++fd) {
      char target[PATH_MAX];
      const std::string link = "/proc/self/fd/" + std::to_string(fd);
      const ssize_t len = readlink(link.c_str(), target, sizeof target - 1);
      if (len <= 0) continue;
      const std::string t(target, static_cast<size_t>(len));
      if (t == path || t == path + " (deleted)") ++n;
    }
    return n;
  }

  static std::string VolumeStatus(uint32_t volume) {
    for (const Row& r : DumpRows(smcDumpVolumeTab)) {
      if (r[tevtest::kVolId] == std::to_string(volume)) return r[tevtest::kVolStatus];
    }
    return "";
  }

  std::unique_ptr<tevtest::ConfigEnv> env_;
  XbsaObjectOwner owner_;
  XbsaSecurityToken token_;
  int64_t hn_ = 0;
  zarHandle* h_ = nullptr;
};

// The label of the tape in a drive: 4 with its volume, 3 empty, 2 short
// or not a label, 0 no such volume or no tape.
TEST_F(TapeVolumes, LabelsNameTheirVolumes) {
  const std::string image = Path("tape");
  const TevVolume v = AddTape(image, 64);
  struct Case {
    std::string content;  // "-" no file
    int rc;
  } cases[] = {
      {Label(v.volumeId), 4},
      {Label(v.volumeId) + PatternData(500), 4},
      {"", 3},
      {Label(v.volumeId).substr(0, 79), 2},
      {"ZAR VOLUME=1" + std::string(68, '\0'), 2},
      {Label(v.volumeId + 1000), 0},
      {"-", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content.substr(0, 20));
    unlink(image.c_str());
    if (c.content != "-") tevtest::WriteFile(image, c.content);
    TevDevice d{};
    std::snprintf(d.name, sizeof d.name, "%s", image.c_str());
    d.type = DEV_TYPE_TAPE;
    d.blockSize = 64;
    d.descriptor = -1;
    EXPECT_EQ(readTapeLabel(h_, &d), c.rc);
    if (c.rc == 4) {
      EXPECT_EQ(d.volume.volumeId, v.volumeId);
      EXPECT_STREQ(d.volume.path, image.c_str());
    }
    tapeReleaseMedium(&d);
  }
  EXPECT_EQ(readTapeLabel(nullptr, nullptr), 0);
}

// An object on a file-backed TAPE volume reads back through the API; the
// mount stays for the next read; a busy mount and a volume no drive can
// hold are refused at once, without a prompt.
TEST_F(TapeVolumes, ObjectsReadBackBehindTheLabel) {
  for (int64_t block : {64, 1000, 4096}) {
    SCOPED_TRACE(block);
    const std::string image = Path("tape" + std::to_string(block));
    const TevVolume v = AddTape(image, block);
    const std::string data = PatternData(5000, static_cast<unsigned>(block));
    const uint64_t copy = WriteTape(image, v, block, data, "/srv/t" + std::to_string(block));
    std::string got;
    EXPECT_EQ(Dump(copy, &got), BSA_RC_NO_MORE_DATA);
    EXPECT_TRUE(got == data);
    TevMount* m = TapeMount(v.volumeId);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->busy, 0);
    got.clear();
    EXPECT_EQ(Dump(copy, &got), BSA_RC_NO_MORE_DATA);
    EXPECT_TRUE(got == data);
    EXPECT_EQ(TapeMount(v.volumeId), m);  // the same mount again

    // Busy in this session.
    m->busy = 1;
    TevVolume again = v;
    EXPECT_EQ(smcAcquireCatalogLock(h_), 0);
    EXPECT_EQ(readMountTape(h_, &again), BSA_RC_NO_RESOURCES);
    EXPECT_EQ(smcReleaseCatalogLock(h_), 0);
    m->busy = 0;
    EXPECT_NE(DebugLog().find("Volume " + std::to_string(v.volumeId) + " is in use."),
              std::string::npos);
    // The session ends its mounts: the drive is free for the next block size.
    EXPECT_EQ(smcAcquireCatalogLock(h_), 0);
    EXPECT_EQ(removeMountList(h_, m), 0);
    EXPECT_EQ(smcReleaseCatalogLock(h_), 0);
    ASSERT_EQ(unlink(image.c_str()), 0);
  }
  // No readable tape and no idle mount: 19 at once, nobody asked.
  TevVolume lost = AddTape(Path("gone"), 64);
  EXPECT_EQ(smcAcquireCatalogLock(h_), 0);
  EXPECT_EQ(readMountTape(h_, &lost), BSA_RC_NO_RESOURCES);
  EXPECT_EQ(smcReleaseCatalogLock(h_), 0);
  EXPECT_NE(DebugLog().find("No device of pool DBSPOOL can take the volume."),
            std::string::npos);
  EXPECT_EQ(access(Path("console").c_str(), F_OK), -1);
}

// The wrong tape in the drive: the operator is asked; during the wait the
// drive and the volume are busy in the catalog and another process can take
// the catalog lock (the operator's helper below only puts the right tape in
// once that process has read both tables under the lock); once the right
// tape is in, the read completes.
TEST_F(TapeVolumes, OperatorMountsTheVolume) {
  const std::string image = Path("tape");
  const TevVolume v = AddTape(image, 64);
  const TevVolume other = AddTape(Path("tape2"), 64);
  const std::string data = PatternData(3000, 9);
  const uint64_t copy = WriteTape(image, v, 64, data, "/srv/op");
  const std::string right = tevtest::ReadFile(image);
  // The other volume's tape is in the first drive; the second drive is empty.
  tevtest::WriteFile(image, Label(other.volumeId));
  // A session that did not create the catalog: the creator's keeps the
  // tables to itself.
  ASSERT_EQ(tevTerminate(hn_), 0);
  destroy_bsa_handles(0);
  h_ = nullptr;
  ASSERT_EQ(tevInit(&hn_, &token_, &owner_, nullptr), 0);
  ASSERT_EQ(find_bsa_handle(static_cast<uint32_t>(hn_), &h_, __FILE_NAME__, __LINE__), 0);

  // Another process on the catalog: takes the lock, dumps the device and
  // volume tables, lets the lock go.
  tevtest::RunOptions opts;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string kv = *e;
    const size_t eq = kv.find('=');
    if (eq != std::string::npos) opts.env[kv.substr(0, eq)] = kv.substr(eq + 1);
  }
  opts.timeout_seconds = 60;
  const std::vector<std::string> args = {
      "open", "gettevid", "setsession", std::to_string(h_->sessionId + 100), "lock",
      "dump", std::to_string(SMC_TAB_DEVICE), "|", "dump", std::to_string(SMC_TAB_VOLUME), "|",
      "unlock"};
  tevtest::RunResult during;

  std::atomic<bool> done{false};
  std::thread operator_thread([&] {
    const std::string console = Path("console");
    while (!done) {
      const std::string text = tevtest::ReadFile(console);
      if (text.find("Please mount volume") != std::string::npos) {
        during = tevtest::RunProgram(tevtest::BuiltProgram("catalog_driver"), args, opts);
        tevtest::WriteFile(image + ".new", right);
        rename((image + ".new").c_str(), image.c_str());
        return;
      }
      usleep(20000);
    }
  });
  std::string got;
  const int rc = Dump(copy, &got);
  done = true;
  operator_thread.join();
  EXPECT_EQ(rc, BSA_RC_NO_MORE_DATA);
  EXPECT_TRUE(got == data);
  EXPECT_EQ(VolumeStatus(v.volumeId), "B");  // mounted, kept for the session
  const std::string console = tevtest::ReadFile(Path("console"));
  EXPECT_NE(console.find("The volume can not be found.\n"), std::string::npos);
  EXPECT_NE(console.find("Please mount volume: (TEV_DISK_VOL) on device: (" + image + ")\n"),
            std::string::npos);
  // Every scan opened the tape in the drive; only the mount's medium is
  // still open (a tape taken out shows as deleted).
  EXPECT_EQ(OpenMedia(image), 1);
  TevMount* m = TapeMount(v.volumeId);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(smcAcquireCatalogLock(h_), 0);
  EXPECT_EQ(removeMountList(h_, m), 0);
  EXPECT_EQ(smcReleaseCatalogLock(h_), 0);
  EXPECT_EQ(OpenMedia(image), 0);

  // What the other process saw while the operator was asked.
  ASSERT_EQ(during.exit_code, 0) << during.err;
  EXPECT_NE(during.out.find("\nlock 0\n"), std::string::npos) << during.out << during.err;
  EXPECT_NE(during.out.find("\nunlock 0\n"), std::string::npos) << during.out;
  std::string drive, volume, spare;
  std::istringstream lines(during.out);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> f;
    size_t from = 0;
    for (size_t at; (at = line.find('|', from)) != std::string::npos; from = at + 1) {
      f.push_back(line.substr(from, at - from));
    }
    if (f.size() == 20 && f[tevtest::kDevName] == image) drive = f[tevtest::kDevStatus];
    if (f.size() == 20 && f[tevtest::kDevName] == Path("tape2")) spare = f[tevtest::kDevStatus];
    if (f.size() > tevtest::kVolStatus && f[tevtest::kVolId] == std::to_string(v.volumeId)) {
      volume = f[tevtest::kVolStatus];
    }
  }
  EXPECT_EQ(drive, "B") << during.out;
  EXPECT_EQ(volume, "B") << during.out;
  EXPECT_EQ(spare, "I") << during.out;
}

// A tape whose recorded data ends before the part's header: the search
// ends there and the read fails.
TEST_F(TapeVolumes, HeaderSearchEndsWithTheData) {
  const std::string image = Path("tape");
  const TevVolume v = AddTape(image, 64);
  const uint64_t copy = WriteTape(image, v, 64, PatternData(500), "/srv/cut");
  for (size_t keep : {size_t{80}, size_t{200}}) {
    SCOPED_TRACE(keep);
    tevtest::WriteFile(image, tevtest::ReadFile(image).substr(0, keep));
    std::string got;
    EXPECT_EQ(Dump(copy, &got), BSA_RC_ABORT_SYSTEM_ERROR);
    TevMount* m = TapeMount(v.volumeId);
    if (m != nullptr) {
      EXPECT_EQ(smcAcquireCatalogLock(h_), 0);
      EXPECT_EQ(removeMountList(h_, m), 0);
      EXPECT_EQ(smcReleaseCatalogLock(h_), 0);
    }
  }
}

// The session's end gives the drive and the volume back: the next session
// reads the volume again.
TEST_F(TapeVolumes, SessionEndFreesTheVolume) {
  const std::string image = Path("tape");
  const TevVolume v = AddTape(image, 64);
  const std::string data = PatternData(700, 4);
  const uint64_t copy = WriteTape(image, v, 64, data, "/srv/again");
  for (int session = 0; session < 2; ++session) {
    std::string got;
    EXPECT_EQ(Dump(copy, &got), BSA_RC_NO_MORE_DATA);
    EXPECT_TRUE(got == data);
    EXPECT_EQ(VolumeStatus(v.volumeId), "B");
    EXPECT_EQ(tevTerminate(hn_), 0);
    destroy_bsa_handles(0);
    h_ = nullptr;
    EXPECT_EQ(VolumeStatus(v.volumeId), "I");
    ASSERT_EQ(tevInit(&hn_, &token_, &owner_, nullptr), 0);
    ASSERT_EQ(find_bsa_handle(static_cast<uint32_t>(hn_), &h_, __FILE_NAME__, __LINE__), 0);
  }
}

// The volume change of a full TAPE mount flushes its last block.
TEST_F(TapeVolumes, VolumeChangeFlushesTheFullVolume) {
  const std::string image = Path("tape");
  FileTape t(image, O_WRONLY | O_CREAT | O_TRUNC, 64);
  ASSERT_EQ(tape_write(&t.m, "xyz", 3), 3);
  t.m.volumeFull = 1;
  h_->currentMount = &t.m;
  EXPECT_EQ(tapeVolumeChange(h_), 0);
  h_->currentMount = nullptr;
  EXPECT_TRUE(tevtest::ReadFile(image) == "xyz" + std::string(61, '\0'));
  EXPECT_EQ(tapeVolumeChange(h_), BSA_RC_NULL_POINTER);
}

}  // namespace
