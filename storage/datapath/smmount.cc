// The mount list, the unmount, the block read of the read path and the
// object writer.
#include "storage/datapath/smmount.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/msgfile.h"
#include "storage/command/sm_fileio.h"
#include "storage/command/sm_trace.h"
#include "storage/command/sm_util.h"
#include "storage/datapath/smdevmgt.h"
#include "storage/datapath/smdtlhdr.h"
#include "storage/datapath/smfilter.h"
#include "storage/datapath/smtape.h"
#include "storage/datapath/smvolume.h"
#include "storage/catalog/smc_lock.h"

namespace {

uint64_t ToU64(UInt64Pair pair) { return (static_cast<uint64_t>(pair.high) << 32) | pair.low; }
UInt64Pair ToPair(uint64_t v) {
  return UInt64Pair{static_cast<uint32_t>(v >> 32), static_cast<uint32_t>(v)};
}

// Writes a TAPE mount's device row and volume row with the busy state.
void WriteTapeRows(zarHandle* handle, TevMount* mount) {
  smcModifyDevice(handle, mount);
  zarPutVolumeInfo(handle, &mount->volume);
}

}  // namespace

TevMount* addMountList(zarHandle* handle, TevDevice* device) {
  if (handle == nullptr || device == nullptr) return nullptr;
  device->busy = 1;
  device->volume.status = VOL_STATUS_BUSY;
  auto* mount = static_cast<TevMount*>(sm_zalloc(sizeof(TevMount)));
  if (mount == nullptr) {
    SM_TRACE(137, "%s", SM_MSG(88002));
    return nullptr;
  }
  *mount = *device;
  if (mount->type == DEV_TYPE_TAPE &&
      (smcModifyDevice(handle, mount) != 0 || zarPutVolumeInfo(handle, &mount->volume) != 0)) {
    void* p = mount;
    sm_free(&p);
    return nullptr;
  }
  int32_t status = LL_OK;
  ll_insert(handle->mountList, mount, &status);
  if (status != LL_OK) {
    void* p = mount;
    sm_free(&p);
    SM_TRACE(137, "%s", SM_MSG(88002));
    return nullptr;
  }
  return mount;
}

int removeMountList(zarHandle* handle, TevMount* mount) {
  if (handle == nullptr || mount == nullptr) return -1;
  int rc = 0;
  mount->busy = 0;
  mount->volume.status = VOL_STATUS_IDLE;
  switch (mount->type) {
    case DEV_TYPE_FILE:
      if (mount->descriptor >= 0) sm_close(mount->descriptor);
      mount->descriptor = -1;
      break;
    case DEV_TYPE_STDIO:
    case DEV_TYPE_CLOUD:
      // A writing program or upload that failed has not stored the part.
      if (handle->filterId >= 0 && destroy_filter(handle->filterId) != 0) rc = 3;
      handle->filterId = -1;
      break;
    case DEV_TYPE_TAPE:
      WriteTapeRows(handle, mount);
      tapeReleaseMedium(mount);
      break;
    default:
      break;
  }
  if (handle->currentMount == mount) handle->currentMount = nullptr;
  int32_t status = LL_OK;
  ll_remove(handle->mountList, mount, &status);
  if (status != LL_OK) {
    SM_TRACE(137, "%s", SM_MSG(88009));
    return -1;
  }
  void* p = mount;
  sm_free(&p);
  return rc;
}

int zarUnmountVolume(zarHandle* handle) {
  static const char kName[] = "zarUnmountVolume";
  if (handle == nullptr) return 22;
  TevMount* mount = handle->currentMount;
  if (mount == nullptr) return 0;
  SM_TRACE(136, "%s: enter", kName);
  int rc = 0;
  if (mount->type == DEV_TYPE_TAPE) {
    // A TAPE mount stays in the list, idle, for a later read of its volume.
    zarPutVolumeInfo(handle, &mount->volume);
    mount->busy = 0;
    handle->currentMount = nullptr;
  } else {
    const bool written = handle->headerRewrite != 0;
    if (written && updateDetailHdr(handle, mount) != 0) {
      rc = 3;
    } else {
      // A written part file is on the disk before it counts as stored.
      if (written && mount->type == DEV_TYPE_FILE && fdatasync(mount->descriptor) != 0) {
        SM_TRACE(137, "%s: fdatasync failed with errno %d.", kName, errno);
        rc = 3;
      }
      if (removeMountList(handle, mount) != 0) rc = 3;
      handle->currentMount = nullptr;
    }
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, static_cast<unsigned>(rc));
  return rc;
}

long readZAR(zarHandle* handle, XbsaDataBlock* block) {
  // Once per block: no trace text is formatted unless the debug log wants it.
  const bool traced = handle != nullptr && handle->config != nullptr &&
                      handle->config->debugLevel != 0;
  if (traced) SM_TRACE(136, "%s: enter", "readZAR");
  if (handle == nullptr || handle->currentMount == nullptr || block == nullptr ||
      (block->bufferPtr == nullptr && block->bufferLen > 0)) {
    SM_TRACE(136, "readZAR: ERROR: Invalid Handle or Device.");
    return -1;
  }
  TevMount* mount = handle->currentMount;
  // Never more than the object still owes: what lies beyond is not its data.
  const uint64_t due = ToU64(handle->objectBytes);
  const size_t want = due < block->bufferLen ? static_cast<size_t>(due) : block->bufferLen;
  long count = 0;
  if (want > 0) {
    switch (mount->type) {
      case DEV_TYPE_FILE:
        count = static_cast<long>(sm_read_all(mount->descriptor, block->bufferPtr, want));
        break;
      case DEV_TYPE_TAPE:
        count = tape_read(mount, block->bufferPtr, want);
        break;
      case DEV_TYPE_STDIO:
      case DEV_TYPE_CLOUD: {
        size_t got = 0;
        count = read_from_filter(handle->filterId, block->bufferPtr, want, &got) != 0
                    ? -1
                    : static_cast<long>(got);
        break;
      }
      default:
        count = -1;
        break;
    }
  }
  if (count < 0) {
    SM_TRACE(137, SM_MSG(88028), static_cast<int>(want), static_cast<int>(count));
    return count;
  }
  handle->objectBytes = ToPair(due - static_cast<uint64_t>(count));
  handle->partBytes -= count;
  block->numBytes = static_cast<uint32_t>(count);
  if (traced) SM_TRACE(136, "%s: return %d (0x%02x)", "readZAR", static_cast<int>(count),
                       static_cast<unsigned>(count));
  return count;
}

namespace {

// Ends the current part and mounts the next one.
int NextPart(zarHandle* handle) {
  int rc = smcAcquireCatalogLock(handle);
  if (rc != 0) return rc;
  rc = zarUnmountVolume(handle);
  if (rc == 0) rc = zarVolumeWriteMount(handle);
  smcReleaseCatalogLock(handle);
  return rc;
}

// The data bytes an S3 part can still take: the S3 client holds a whole
// part, header included, in a cache of the device's part size. false: no
// bound.
bool S3Room(const zarHandle* handle, const TevMount* mount, int64_t* room) {
  if (mount->type != DEV_TYPE_CLOUD || mount->cloudProvider != 1) return false;
  const auto part_size = static_cast<int32_t>(static_cast<uint32_t>(mount->partSize));
  if (part_size <= 0 || handle->currentObject == nullptr) return false;
  const int64_t header = TEV_DTLHDR_SIZE +
                         static_cast<int64_t>(std::strlen(handle->currentObject->objectSpaceName)) +
                         1 + static_cast<int64_t>(std::strlen(handle->currentObject->pathName)) +
                         1;
  *room = part_size - header - handle->partBytes;
  return true;
}

// Writes one block into the current part.
int WriteBlock(zarHandle* handle, const void* data, size_t length) {
  TevMount* mount = handle->currentMount;
  bool whole = false;
  int filter_rc = 0;
  switch (mount->type) {
    case DEV_TYPE_FILE:
      whole = sm_write_all(mount->descriptor, data, length) == static_cast<ssize_t>(length);
      break;
    case DEV_TYPE_STDIO:
    case DEV_TYPE_CLOUD:
      filter_rc = write_to_filter(handle->filterId, data, length);
      whole = filter_rc == 0;
      break;
    case DEV_TYPE_TAPE:
      whole = tape_write(mount, data, length) == static_cast<long>(length);
      break;
    default:
      break;
  }
  if (!whole) {
    SM_TRACE(137, SM_MSG(88029), static_cast<int>(length), -1);
    // A cloud client that gave up on the part (refused, failed) has closed
    // its pipe: the writer learns it here as the broken pipe.
    if (mount->type == DEV_TYPE_CLOUD && filter_rc == FILTER_BROKEN_PIPE) {
      return FILTER_BROKEN_PIPE;
    }
    return 3;
  }
  handle->objectBytes = ToPair(ToU64(handle->objectBytes) + length);
  handle->partBytes += static_cast<int64_t>(length);
  handle->bytesWritten += static_cast<int64_t>(length);
  handle->headerRewrite = 1;
  return 0;
}

}  // namespace

int zarWriteData(zarHandle* handle, const void* data, size_t length) {
  if (handle == nullptr || (data == nullptr && length > 0)) return 22;
  if (handle->currentMount == nullptr) return 5;
  if (length == 0) return 0;
  // A part that has reached the write limit ends when more data comes, so
  // an object never ends with an empty part.
  if (handle->writeLimit != 0 && handle->partBytes >= handle->writeLimit) {
    const int rc = NextPart(handle);
    if (rc != 0) return rc;
  }
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (length > 0) {
    // An S3 part ends before header and data pass the part size; the
    // block goes on in the next part.
    // A part too small for its header takes the block whole, and its
    // upload fails.
    int64_t room = 0;
    bool bounded = S3Room(handle, handle->currentMount, &room);
    if (bounded && room <= 0 && handle->partBytes > 0) {
      const int rc = NextPart(handle);
      if (rc != 0) return rc;
      bounded = S3Room(handle, handle->currentMount, &room);
    }
    size_t chunk = length;
    if (bounded && room > 0 && static_cast<uint64_t>(room) < chunk) {
      chunk = static_cast<size_t>(room);
    }
    const int rc = WriteBlock(handle, bytes, chunk);
    if (rc != 0) return rc;
    bytes += chunk;
    length -= chunk;
  }
  return 0;
}
