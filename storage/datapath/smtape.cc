// TAPE media (see smtape.h).
#include "storage/datapath/smtape.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/fields.h"
#include "base/msgfile.h"
#include "storage/catalog/smc_dev.h"
#include "storage/catalog/smc_lock.h"
#include "storage/catalog/smc_pool.h"
#include "storage/command/sm_fileio.h"
#include "storage/command/sm_trace.h"
#include "storage/command/typed_list.h"
#include "storage/datapath/smdevmgt.h"
#include "storage/datapath/smdtlhdr.h"
#include "storage/datapath/smmount.h"
#include "storage/datapath/smvolume.h"

namespace {

uint64_t ToU64(UInt64Pair pair) { return (static_cast<uint64_t>(pair.high) << 32) | pair.low; }
UInt64Pair ToPair(uint64_t v) {
  return UInt64Pair{static_cast<uint32_t>(v >> 32), static_cast<uint32_t>(v)};
}

uint64_t MediaSize(const TevMount* m) {
  return (static_cast<uint64_t>(m->mediaSizeHigh) << 32) | m->mediaSizeLow;
}
uint64_t BytesFree(const TevMount* m) { return ToU64(m->volume.bytesFree); }
void SetBytesFree(TevMount* m, uint64_t v) { m->volume.bytesFree = ToPair(v); }
void LowerBytesFree(TevMount* m, uint64_t by) {
  const uint64_t free = BytesFree(m);
  SetBytesFree(m, by >= free ? 0 : free - by);
}

// A usable blocking state: an open medium, a block size and a buffer.
bool Ready(const TevMount* m) {
  return m != nullptr && m->blockSize > 0 && m->tapeBuffer != nullptr && m->descriptor >= 0 &&
         m->bufferFill <= static_cast<uint64_t>(m->blockSize);
}

unsigned char* Buffer(TevMount* m) { return static_cast<unsigned char*>(m->tapeBuffer); }

// The setting of the environment, or the default.
const char* Console() {
  const char* c = std::getenv("TEV_OPERATOR_CONSOLE");
  return c != nullptr && *c != '\0' ? c : "/dev/console";
}
int WaitSeconds() {
  const char* w = std::getenv("TEV_OPERATOR_WAIT");
  if (w == nullptr || *w == '\0') return 30;
  char* end = nullptr;
  const long v = std::strtol(w, &end, 10);
  return end != w && *end == '\0' && v >= 0 && v <= 3600 ? static_cast<int>(v) : 30;
}

// Closes the media of the devices of a list, except the one a mount took,
// then destroys the list.
void DestroyDevices(TypedList** list) {
  int32_t status = LL_OK;
  for (auto* d = static_cast<TevDevice*>(ll_first(*list, &status)); d != nullptr;
       d = static_cast<TevDevice*>(ll_next(*list, &status))) {
    tapeReleaseMedium(d);
  }
  ll_destroy(list, 1, &status);
  *list = nullptr;
}

bool ListFailed(int32_t status) {
  return status != LL_OK && status != LL_EMPTY && status != LL_END;
}

}  // namespace

// ---- Medium ----------------------------------------------------------------

int tapeControl(TevMount* mount, int mode) {
  if (mount == nullptr) return -1;
  if (mode != 2) return 0;
  if (mount->blockSize <= 0) return -1;
  if (mount->tapeBuffer == nullptr) {
    const int fd = open(mount->name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      SM_TRACE(137, "tapeControl: cannot open tape '%s', errno %d.", mount->name, errno);
      return -1;
    }
    void* buffer = std::calloc(1, static_cast<size_t>(mount->blockSize));
    if (buffer == nullptr) {
      sm_close(fd);
      return -1;
    }
    mount->descriptor = fd;
    mount->tapeBuffer = buffer;
  }
  mount->bufferFill = 0;
  return lseek(mount->descriptor, 0, SEEK_SET) == 0 ? 0 : -1;
}

void tapeReleaseMedium(TevMount* mount) {
  if (mount == nullptr || mount->tapeBuffer == nullptr) return;
  if (mount->descriptor >= 0) sm_close(mount->descriptor);
  mount->descriptor = -1;
  std::free(mount->tapeBuffer);
  mount->tapeBuffer = nullptr;
  mount->bufferFill = 0;
}

// ---- Blocking --------------------------------------------------------------

long tape_write(TevMount* mount, const void* data, size_t length) {
  if (!Ready(mount) || (data == nullptr && length > 0)) return -1;
  const uint64_t block = static_cast<uint64_t>(mount->blockSize);
  const bool limited = MediaSize(mount) != 0;
  if (limited && block > BytesFree(mount)) {
    SetBytesFree(mount, 0);
    return 0;
  }
  const auto* from = static_cast<const unsigned char*>(data);
  size_t taken = 0;
  if (mount->bufferFill > 0) {
    const size_t room = static_cast<size_t>(block - mount->bufferFill);
    const size_t n = length < room ? length : room;
    std::memcpy(Buffer(mount) + mount->bufferFill, from, n);
    mount->bufferFill += n;
    taken = n;
    if (mount->bufferFill < block) return static_cast<long>(taken);
    const ssize_t put = sm_write_all(mount->descriptor, Buffer(mount), static_cast<size_t>(block));
    if (put < 0) {
      if (errno == ENOSPC) {
        SetBytesFree(mount, 0);
        return static_cast<long>(taken);
      }
      return static_cast<long>(put);
    }
    LowerBytesFree(mount, static_cast<uint64_t>(put));
    if (put == 0) {
      SetBytesFree(mount, 0);
      return static_cast<long>(taken);
    }
    if (static_cast<uint64_t>(put) != block) return -1;
    mount->bufferFill = 0;
  }
  uint64_t rest = length - taken;
  // The whole 64-bit count of bytes free limits what goes on the medium.
  if (limited && rest > BytesFree(mount)) rest = BytesFree(mount);
  const uint64_t whole = rest - rest % block;
  if (whole > 0) {
    const ssize_t put = sm_write_all(mount->descriptor, from + taken, static_cast<size_t>(whole));
    if (put < 0) {
      if (errno == ENOSPC) {
        SetBytesFree(mount, 0);
        return static_cast<long>(taken);
      }
      return static_cast<long>(put);
    }
    LowerBytesFree(mount, static_cast<uint64_t>(put));
    if (static_cast<uint64_t>(put) < whole) {
      SetBytesFree(mount, 0);
      return static_cast<long>(taken + static_cast<size_t>(put));
    }
    taken += static_cast<size_t>(whole);
  }
  const size_t tail = static_cast<size_t>(rest - whole);
  std::memcpy(Buffer(mount), from + taken, tail);
  mount->bufferFill = tail;
  taken += tail;
  return static_cast<long>(taken);
}

int tape_FLUSH(TevMount* mount) {
  if (mount == nullptr) return -1;
  if (mount->bufferFill == 0) return 0;
  if (!Ready(mount)) return -1;
  const size_t block = static_cast<size_t>(mount->blockSize);
  const size_t fill = static_cast<size_t>(mount->bufferFill);
  std::memset(Buffer(mount) + fill, 0, block - fill);
  const ssize_t put = sm_write_all(mount->descriptor, Buffer(mount), block);
  SM_TRACE(129, "tape_FLUSH:FD(%d) flushing(%d) flushed(%d)", mount->descriptor,
           static_cast<int>(fill), static_cast<int>(put));
  if (put != static_cast<ssize_t>(block)) return -1;
  LowerBytesFree(mount, block);
  mount->bufferFill = 0;
  return 0;
}

size_t tape_readBuffered(TevMount* mount, void* buffer, size_t length) {
  if (mount == nullptr || mount->tapeBuffer == nullptr || mount->bufferFill == 0) return 0;
  const size_t fill = static_cast<size_t>(mount->bufferFill);
  const size_t n = length < fill ? length : fill;
  std::memcpy(buffer, Buffer(mount), n);
  std::memmove(Buffer(mount), Buffer(mount) + n, fill - n);
  mount->bufferFill = fill - n;
  return n;
}

long tape_read(TevMount* mount, void* buffer, size_t length) {
  if (!Ready(mount) || (buffer == nullptr && length > 0)) return -1;
  auto* to = static_cast<unsigned char*>(buffer);
  size_t total = tape_readBuffered(mount, to, length);
  const size_t block = static_cast<size_t>(mount->blockSize);
  size_t rest = length - total;
  const size_t whole = rest - rest % block;
  if (whole > 0) {
    const ssize_t got = sm_read_all(mount->descriptor, to + total, whole);
    if (got < 0) return static_cast<long>(got);
    total += static_cast<size_t>(got);
    if (static_cast<size_t>(got) < whole) return static_cast<long>(total);
    rest -= whole;
  }
  if (rest > 0) {
    const ssize_t got = sm_read_all(mount->descriptor, Buffer(mount), block);
    if (got < 0) return static_cast<long>(got);
    mount->bufferFill = static_cast<uint64_t>(got);
    total += tape_readBuffered(mount, to + total, rest);
  }
  return static_cast<long>(total);
}

int tape_saveBuffer(TevMount* mount, void** buffer, uint64_t* fill) {
  if (mount == nullptr || buffer == nullptr || fill == nullptr || mount->blockSize <= 0) return -1;
  void* fresh = std::calloc(1, static_cast<size_t>(mount->blockSize));
  if (fresh == nullptr) return -1;
  *buffer = mount->tapeBuffer;
  *fill = mount->bufferFill;
  mount->tapeBuffer = fresh;
  mount->bufferFill = 0;
  return 0;
}

int tape_restoreBuffer(TevMount* mount, void* buffer, uint64_t fill) {
  if (mount == nullptr) return -1;
  std::free(mount->tapeBuffer);
  mount->tapeBuffer = buffer;
  mount->bufferFill = fill;
  return 0;
}

// ---- Label and header search -----------------------------------------------

int readTapeLabel(zarHandle* handle, TevMount* device) {
  if (handle == nullptr || device == nullptr) return 0;
  device->volume = TevVolume{};
  if (tapeControl(device, 2) != 0) return 0;
  char label[TEV_TAPE_LABEL_SIZE + 1] = {};
  const long count = tape_read(device, label, TEV_TAPE_LABEL_SIZE);
  SM_TRACE(129, "zarHndl(0x%x) tape_read: dev(%s) blksize(%d) label(%s) numRead(%d)",
           static_cast<unsigned>(reinterpret_cast<uintptr_t>(handle)), device->name,
           static_cast<int>(device->blockSize), label, static_cast<int>(count));
  tapeControl(device, 0);
  if (count < 0) {
    sm_trace(137, __FILE_NAME__, __LINE__, SM_KIND_ISAM, SM_MSG(88028),
             static_cast<int>(device->blockSize), static_cast<int>(count));
    return 0;
  }
  if (count == 0) return 3;
  long id = 0;
  if (count != TEV_TAPE_LABEL_SIZE || std::sscanf(label, "ZAR VOLID=%ld", &id) != 1) return 2;
  device->volume.volumeId = static_cast<uint32_t>(id);
  return zarGetVolumeInfo(handle, &device->volume) == 0 ? 4 : 0;
}

namespace {

// Stands the medium at the stream offset: the block that holds it is read
// into the tape buffer and the bytes before the offset are dropped.
bool SeekStream(TevMount* mount, uint64_t offset) {
  const uint64_t block = static_cast<uint64_t>(mount->blockSize);
  const uint64_t start = offset - offset % block;
  if (lseek(mount->descriptor, static_cast<off_t>(start), SEEK_SET) < 0) return false;
  mount->bufferFill = 0;
  if (offset == start) return true;
  const ssize_t got = sm_read_all(mount->descriptor, Buffer(mount), static_cast<size_t>(block));
  if (got < static_cast<ssize_t>(offset - start)) return false;
  mount->bufferFill = static_cast<uint64_t>(got);
  unsigned char skip[1];
  for (uint64_t n = offset - start; n > 0; --n) tape_readBuffered(mount, skip, 1);
  return true;
}

}  // namespace

int tapeFindDetailHdr(zarHandle* handle, TevMount* mount, TevObjectDetail* detail) {
  if (handle == nullptr || mount == nullptr || detail == nullptr) return 22;
  if (!Ready(mount)) return 3;
  struct stat st;
  if (fstat(mount->descriptor, &st) != 0) return 3;
  const uint64_t end = static_cast<uint64_t>(st.st_size);
  const uint64_t block = static_cast<uint64_t>(mount->blockSize);
  const off_t at = lseek(mount->descriptor, 0, SEEK_CUR);
  if (at < 0) return 3;
  // The first header follows the label; later ones begin on a block.
  uint64_t offset = static_cast<uint64_t>(at) - mount->bufferFill;
  for (;;) {
    // Fewer bytes than a header are left: the recorded data ends here.
    if (offset + TEV_DTLHDR_SIZE > end) return 3;
    if (!SeekStream(mount, offset)) return 3;
    if (readDetailHdr(handle, mount, detail)) {
      tapeControl(mount, 0);
      // The header's last block is padded: the data begins on the next one.
      mount->bufferFill = 0;
      return 0;
    }
    offset = offset - offset % block + block;
  }
}

// ---- Operator --------------------------------------------------------------

int todoOperatorMessage(const char* format, ...) {
  // Appended: a console file keeps every message, not only the last.
  FILE* console = std::fopen(Console(), "a");
  if (console == nullptr) return 8;
  va_list args;
  va_start(args, format);
  std::vfprintf(console, format, args);
  va_end(args);
  std::fclose(console);
  char text[1024];
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  SM_TRACE(2048, SM_MSG(88063), text);
  return 0;
}

int todoWait(int* retry) {
  rsleep(WaitSeconds());
  if (retry != nullptr) *retry = 1;
  return 0;
}

// ---- Read mount ------------------------------------------------------------

int readMountTape(zarHandle* handle, TevVolume* volume) {
  if (handle == nullptr || handle->mountList == nullptr || volume == nullptr) return 22;
  int32_t status = LL_OK;
  for (auto* m = static_cast<TevMount*>(ll_first(handle->mountList, &status)); m != nullptr;
       m = static_cast<TevMount*>(ll_next(handle->mountList, &status))) {
    if (m->type != DEV_TYPE_TAPE || m->volume.volumeId != volume->volumeId) continue;
    if (m->busy != 0) {
      sm_trace(2048, __FILE_NAME__, __LINE__, SM_KIND_ISAM, SM_MSG(88037),
               static_cast<int>(volume->volumeId));
      return 19;
    }
    if (m->volumeFull != 2) {
      if (tapeControl(m, 2) != 0) return 3;
      // Behind the label again: the header search starts there.
      char label[TEV_TAPE_LABEL_SIZE];
      if (tape_read(m, label, sizeof label) != TEV_TAPE_LABEL_SIZE) return 3;
    }
    m->busy = 1;
    handle->currentMount = m;
    return 0;
  }
  if (ListFailed(status)) {
    SM_TRACE(2048, SM_MSG(88048), static_cast<int>(status));
    return 3;
  }
  if (volume->status != VOL_STATUS_IDLE) {
    sm_trace(2048, __FILE_NAME__, __LINE__, SM_KIND_ISAM, SM_MSG(88037),
             static_cast<int>(volume->volumeId));
    return 19;
  }

  for (;;) {
    TypedList* devices = nullptr;
    int rc = zarGetDeviceList(handle, 2, static_cast<int32_t>(volume->lifecycle), 0, &devices);
    if (rc != 0) {
      SM_TRACE(2048, "%s", SM_MSG(88012));
      return rc;
    }
    TevDevice* found = nullptr;
    TevDevice* candidate = nullptr;
    status = LL_OK;
    for (auto* d = static_cast<TevDevice*>(ll_first(devices, &status)); d != nullptr && !found;
         d = static_cast<TevDevice*>(ll_next(devices, &status))) {
      if (d->type != DEV_TYPE_TAPE) continue;
      d->descriptor = -1;
      d->tapeBuffer = nullptr;
      const int label = readTapeLabel(handle, d);
      if (label == 4 && d->volume.volumeId == volume->volumeId) {
        found = d;
      } else if (label != 0) {
        candidate = d;
      }
    }
    if (!found && ListFailed(status)) {
      DestroyDevices(&devices);
      SM_TRACE(2048, SM_MSG(88048), static_cast<int>(status));
      return 3;
    }
    if (found != nullptr) {
      if (tapeControl(found, 2) != 0) {
        DestroyDevices(&devices);
        return 3;
      }
      char label[TEV_TAPE_LABEL_SIZE];
      tape_read(found, label, sizeof label);
      TevMount* mount = addMountList(handle, found);
      if (mount == nullptr) {
        tapeControl(found, 0);
        DestroyDevices(&devices);
        SM_TRACE(2048, "%s", SM_MSG(88002));
        return 19;
      }
      // The mount owns the medium now.
      found->descriptor = -1;
      found->tapeBuffer = nullptr;
      found->bufferFill = 0;
      DestroyDevices(&devices);
      handle->currentMount = mount;
      return 0;
    }
    if (candidate == nullptr) {
      // An idle mount of the session gives its drive.
      TevMount* idle = nullptr;
      int32_t ms = LL_OK;
      for (auto* m = static_cast<TevMount*>(ll_first(handle->mountList, &ms)); m != nullptr;
           m = static_cast<TevMount*>(ll_next(handle->mountList, &ms))) {
        if (m->busy == 0) {
          idle = m;
          break;
        }
      }
      if (idle != nullptr) {
        removeMountList(handle, idle);
        DestroyDevices(&devices);
        rc = zarGetDeviceList(handle, 2, static_cast<int32_t>(volume->lifecycle), 0, &devices);
        if (rc != 0) return rc;
        status = LL_OK;
        for (auto* d = static_cast<TevDevice*>(ll_first(devices, &status)); d != nullptr;
             d = static_cast<TevDevice*>(ll_next(devices, &status))) {
          d->descriptor = -1;
          d->tapeBuffer = nullptr;
          if (d->type == DEV_TYPE_TAPE && candidate == nullptr) candidate = d;
        }
        if (candidate == nullptr && ListFailed(status)) {
          DestroyDevices(&devices);
          SM_TRACE(2048, SM_MSG(88048), static_cast<int>(status));
          return 3;
        }
      }
    }
    if (candidate == nullptr) {
      DestroyDevices(&devices);
      TevPool pool{};
      if (zarGetPoolName(handle, static_cast<int32_t>(volume->poolId), &pool) != 0) {
        pool.pool_name[0] = '\0';
      }
      sm_trace(2048, __FILE_NAME__, __LINE__, SM_KIND_ISAM, SM_MSG(88035), pool.pool_name);
      return 19;
    }

    // Ask the operator, with the drive busy and the volume "B" meanwhile,
    // and the catalog free for others during the wait.
    zarDeviceUpdateStatus(handle, candidate, 1);
    volume->status = VOL_STATUS_BUSY;
    zarPutVolumeInfo(handle, volume);
    smcReleaseCatalogLock(handle);
    todoOperatorMessage("The volume can not be found.\n");
    todoOperatorMessage("Please mount volume: (%s) on device: (%s)\n", volume->label,
                        candidate->name);
    int retry = 0;
    todoWait(&retry);
    smcAcquireCatalogLock(handle);
    zarDeviceUpdateStatus(handle, candidate, 0);
    volume->status = VOL_STATUS_IDLE;
    zarPutVolumeInfo(handle, volume);
    DestroyDevices(&devices);
  }
}

// ---- Volume change ---------------------------------------------------------

int tapeVolumeChange(zarHandle* handle) {
  if (handle == nullptr || handle->currentMount == nullptr) return 22;
  TevMount* mount = handle->currentMount;
  while (mount != nullptr && mount->type == DEV_TYPE_TAPE && mount->volumeFull == 1) {
    if (tape_FLUSH(mount) == 0) return 0;
    void* pending = nullptr;
    uint64_t fill = 0;
    if (tape_saveBuffer(mount, &pending, &fill) != 0) return 19;
    int rc = zarUnmountVolume(handle);
    if (rc == 0) rc = zarVolumeWriteMount(handle);
    if (rc != 0) {
      std::free(pending);
      return rc;
    }
    mount = handle->currentMount;
    if (mount == nullptr || tape_restoreBuffer(mount, pending, fill) != 0) {
      std::free(pending);
      return 19;
    }
  }
  return 0;
}
