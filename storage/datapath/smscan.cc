// Device SCAN and PURGE (see smscan.h).
//
// A part file of a FILE device is named volume path, path name, object-space
// name, ".<object version>.<part number>"; its first 192 bytes are the
// object detail header (layout in smdtlhdr.cc), followed by the two names.
// The scan trusts a file only when its header is of version 3, its names
// are of sane lengths and end in their NUL, and the name the header implies
// is the file's own path.
#include "storage/datapath/smscan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "base/fields.h"
#include "base/msgfile.h"
#include "base/os_files.h"
#include "isam/isam.h"
#include "sqltypes/bigint.h"
#include "storage/catalog/smc_obj.h"
#include "storage/catalog/smc_odt.h"
#include "storage/command/sm_fileio.h"
#include "storage/command/sm_trace.h"
#include "storage/datapath/smdtlhdr.h"
#include "storage/datapath/smnames.h"
#include "storage/datapath/smobject.h"
#include "storage/datapath/smvolume.h"

namespace {

// Longest name a header may carry, with its NUL (the descriptor's fields).
constexpr uint32_t kMaxNameLength = 1024;

// Object-detail row columns (smc_odt.h).
constexpr int kDetVolId = 0;
constexpr int kDetCopyId = 8;
constexpr int kDetCopySeq = 16;

uint32_t High(uint64_t v) { return static_cast<uint32_t>(v >> 32); }
uint32_t Low(uint64_t v) { return static_cast<uint32_t>(v); }
UInt64Pair ToPair(uint64_t v) { return UInt64Pair{High(v), Low(v)}; }

void StoreLe32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// Two paths are the same when they differ at most in the separators "/"
// and "\".
bool SamePath(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const bool sep_a = *a == '/' || *a == '\\';
    const bool sep_b = *b == '/' || *b == '\\';
    if (sep_a != sep_b || (!sep_a && *a != *b)) return false;
    if (*a == '\0') return true;
  }
}

// The name as the file system takes it: "\\" of a device name typed on
// the command line is the separator "/".
std::string FsPath(const std::string& path) {
  std::string out = path;
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

// A directory entry (not followed when it is a symbolic link, so a link
// cannot lead the walk round in a circle).
bool IsDirectory(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The file of one entry, closed on every way out.
struct OpenFile {
  int fd;
  explicit OpenFile(const char* path) : fd(open(path, O_RDWR | O_CLOEXEC)) {}
  ~OpenFile() {
    if (fd >= 0) sm_close(fd);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
};

// Clears the handle's scan flag on every way out of an insert.
struct ScanFlag {
  zarHandle* handle;
  ScanFlag(zarHandle* h, int32_t version) : handle(h) {
    handle->scanFlag = 1;
    handle->scanVersion = version;
  }
  ~ScanFlag() { handle->scanFlag = 0; }
  ScanFlag(const ScanFlag&) = delete;
  ScanFlag& operator=(const ScanFlag&) = delete;
};

// What ScanFile answers for a file that took no catalog step.
constexpr int kNoStep = -1000;

// Registers one part file. The code of the last catalog step taken, or
// kNoStep when the file failed its checks before any.
int ScanFile(zarHandle* handle, TevVolume* volume, const std::string& path) {
  SM_ACTLOG(SM_ACT_NOTIFY, SM_KIND_PLAIN, SM_MSG(87450), path.c_str());
  OpenFile file(path.c_str());
  if (file.fd < 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88052), path.c_str());
    return kNoStep;
  }
  unsigned char raw[TEV_DTLHDR_SIZE];
  const ssize_t got = sm_read_all(file.fd, raw, sizeof raw);
  if (got != static_cast<ssize_t>(sizeof raw)) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, SM_MSG(88028), TEV_DTLHDR_SIZE,
              static_cast<int>(got));
    return kNoStep;
  }
  XbsaObjectDescriptor* object = handle->currentObject;
  *object = XbsaObjectDescriptor{};
  TevObjectDetailHeader header;
  size_t header_size = 0;
  const int parsed = tevParseDetailHdr(raw, sizeof raw, &header, &header_size);
  if (parsed == 1) {
    SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_PLAIN, SM_MSG(88403), path.c_str());
    return kNoStep;
  }
  if (parsed != 0 || header.version != TEV_DTLHDR_VERSION) {
    SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_PLAIN, SM_MSG(88404), path.c_str(),
              static_cast<int>(header.version));
    return kNoStep;
  }
  // The name lengths come from the file: names that cannot be a part's
  // are no header of this system.
  const uint32_t n1 = header.objectSpaceNameLength, n2 = header.pathNameLength;
  if (n1 == 0 || n2 == 0 || n1 > kMaxNameLength || n2 > kMaxNameLength) {
    SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_PLAIN, SM_MSG(88403), path.c_str());
    return kNoStep;
  }
  char names[2 * kMaxNameLength];
  const ssize_t named = sm_read_all(file.fd, names, size_t{n1} + n2);
  if (named != static_cast<ssize_t>(n1 + n2)) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, SM_MSG(88028), static_cast<int>(n1 + n2),
              static_cast<int>(named));
    return kNoStep;
  }
  if (names[n1 - 1] != '\0' || names[n1 + n2 - 1] != '\0') {
    SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_PLAIN, SM_MSG(88403), path.c_str());
    return kNoStep;
  }
  const char* space_name = names;
  const char* path_name = names + n1;
  if (header.volumeId == 0xFFFFFFFFu && header.poolId == -1) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88402), path.c_str());
    return kNoStep;
  }
  char implied[3 * kMaxNameLength + 64];
  std::snprintf(implied, sizeof implied, "%s%s%s.%d.%d", volume->path, path_name, space_name,
                static_cast<int>(header.objectVersion), header.partNumber);
  if (!SamePath(implied, path.c_str())) {
    SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_PLAIN, SM_MSG(88401), path.c_str(), implied);
    return kNoStep;
  }

  const uint64_t copy = header.copyId;
  TevObjectInfo info{};
  int rc = zarGetObjectInformation(handle, copy, &info);
  if (rc == 17) {
    *object = XbsaObjectDescriptor{};
    object->copyId = ToPair(copy);
    if (header.partNumber == 1) object->size = ToPair(static_cast<uint64_t>(header.partSize));
    object->status = 2;
    object->version = header.objectVersion;
    const time_t created = static_cast<time_t>(header.createTime);
    struct tm t {};
    if (localtime_r(&created, &t) != nullptr) {
      const int32_t fields[9] = {t.tm_sec, t.tm_min,  t.tm_hour, t.tm_mday, t.tm_mon,
                                 t.tm_year, t.tm_wday, t.tm_yday, t.tm_isdst};
      std::memcpy(object->createTime, fields, sizeof fields);
    }
    tevSetDefaultOwner(&object->owner);
    // Each name ends in its NUL within its 1,024 bytes (checked above).
    std::memcpy(object->objectSpaceName, space_name, n1);
    std::memcpy(object->pathName, path_name, n2);
    object->objectKind[0] = header.objectKind[0];
    {
      ScanFlag scanning(handle, static_cast<int32_t>(header.objectVersion));
      rc = zarInsertObject(handle, ToPair(copy), 1);
    }
    if (rc != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88107), "object");
      return rc;
    }
    rc = zarGetObjectInformation(handle, copy, &info);
    if (rc != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "object");
      return rc;
    }
    SM_ACTLOG(SM_ACT_NOTIFY, SM_KIND_PLAIN, SM_MSG(87452), path_name, High(copy), Low(copy));
  } else if (rc != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "object");
    return rc;
  } else {
    if (std::strcmp(object->pathName, path_name) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88405), High(copy), Low(copy),
                object->pathName);
      return rc;
    }
    if (static_cast<uint32_t>(info.version) != header.objectVersion) {
      SM_ACTLOG(SM_ACT_NOTIFY, SM_KIND_PLAIN, SM_MSG(88406), High(copy), Low(copy),
                static_cast<int>(info.version));
      return rc;
    }
    SM_TRACE(135, "Object ID %d is in the catalog, but compatible, scan continues.",
             static_cast<int>(Low(copy)));
    TevObjectDetail known{};
    known.copyId = ToPair(copy);
    known.partNumber = header.partNumber;
    if (zarGetObjDetail(handle, &known) == 0) {
      SM_ACTLOG(SM_ACT_NOTIFY, SM_KIND_PLAIN, SM_MSG(87454), High(copy), Low(copy),
                header.partNumber);
      return rc;
    }
  }

  TevObjectDetail detail{};
  detail.volumeId = volume->volumeId;
  detail.volumeSeq = 0;
  detail.copyId = ToPair(copy);
  detail.partNumber = header.partNumber;
  detail.partSize = header.partSize;
  rc = zarPutObjDetail(handle, &detail);
  if (rc != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88107), "object");
    return rc;
  }
  SM_ACTLOG(SM_ACT_NOTIFY, SM_KIND_PLAIN, SM_MSG(87455), header.partNumber, High(copy), Low(copy));

  // The object's size is the sum of its parts found so far, whatever order
  // they are found in.
  int32_t highest = 0, count = 0;
  int64_t total = 0;
  rc = zarObjectCheckDetails(handle, copy, &highest, &count, &total);
  if (rc == 0) {
    if (header.partNumber > 1 && highest != count) {
      SM_ACTLOG(SM_ACT_NOTIFY, SM_KIND_PLAIN, SM_MSG(88408), High(copy), Low(copy), highest,
                count);
    }
    info.size = ToPair(static_cast<uint64_t>(total));
    rc = zarPutObjectInfo(handle, info.copyId, &info);
  }
  if (rc != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88107), "object");
    return rc;
  }

  // A part found on another volume than its header names now belongs to
  // the scanned one.
  if (header.volumeId != volume->volumeId) {
    StoreLe32(raw + 72, volume->volumeId);
    char text[TEV_DTLHDR_TEXT_SIZE] = {};
    std::snprintf(text, sizeof text, "%ld %d %d %d:",
                  static_cast<long>(static_cast<int32_t>(volume->volumeId)),
                  static_cast<int32_t>(High(copy)), static_cast<int32_t>(Low(copy)),
                  header.partNumber);
    std::memcpy(raw + 88, text, sizeof text);
    const ssize_t put =
        lseek(file.fd, 0, SEEK_SET) == 0 ? sm_write_all(file.fd, raw, sizeof raw) : -1;
    if (put != static_cast<ssize_t>(sizeof raw)) {
      SM_TRACE(137, SM_MSG(88029), TEV_DTLHDR_SIZE, static_cast<int>(put));
    }
  }
  return 0;
}

}  // namespace

int zarDevicePathScan(zarHandle* handle, TevVolume* volume, const char* directory) {
  if (handle == nullptr || volume == nullptr || directory == nullptr ||
      handle->currentObject == nullptr) {
    return 22;
  }
  SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_PLAIN, SM_MSG(87451), directory);
  const std::string pattern = FsPath(directory) + "/*";
  OsDirHandle* dir = os_opendir(pattern.c_str());
  if (dir == nullptr) return 3;
  int result = 0;
  // Entries come in name order.
  for (OsDirEntry* entry; (entry = os_readdir(dir)) != nullptr;) {
    const char* name = entry->name;
    if (name == nullptr || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    const std::string path = FsPath(directory) + "/" + name;
    if (IsDirectory(path)) {
      zarDevicePathScan(handle, volume, path.c_str());
      continue;
    }
    const int rc = ScanFile(handle, volume, path);
    if (rc != kNoStep) result = rc;
  }
  os_closedir(dir);
  return result;
}

int zarDeviceScan(zarHandle* handle, const char* device_path) {
  if (handle == nullptr || device_path == nullptr) return 22;
  TevVolume volume{};
  if (zarFindDeviceVolume(handle, device_path, &volume) != 0) return 17;
  auto* object = static_cast<XbsaObjectDescriptor*>(std::calloc(1, sizeof(XbsaObjectDescriptor)));
  if (object == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, "%s", SM_MSG(88002));
    return 88002;
  }
  std::free(handle->currentObject);
  handle->currentObject = object;
  const int rc = zarDevicePathScan(handle, &volume, device_path);
  std::free(handle->currentObject);
  handle->currentObject = nullptr;
  return rc;
}

int zarDevicePurge(zarHandle* handle, const char* device_path) {
  if (handle == nullptr || device_path == nullptr) return 22;
  TevVolume volume{};
  int rc = zarFindDeviceVolume(handle, device_path, &volume);
  if (rc != 0) return rc;
  if (handle->currentObject == nullptr) {
    handle->currentObject =
        static_cast<XbsaObjectDescriptor*>(std::calloc(1, sizeof(XbsaObjectDescriptor)));
    if (handle->currentObject == nullptr) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, "%s", SM_MSG(88002));
      return 88002;
    }
  }
  const int fd = handle->tableFd[SMC_TAB_DETAIL];
  IsamKeyDesc key{};
  if (isindexinfo(fd, &key, 1) != 0) {
    SM_TRACE(2048, SM_MSG(88063), "could not locate detail index");
    return 19;
  }
  unsigned char row[SMC_DETAIL_RECLEN] = {};
  if (isstart(fd, &key, 0, row, IS_GREATER_EQUAL) != 0) {
    if (iserrno == ENORECORD || iserrno == EENDFILE) return 0;  // no detail rows at all
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "object_detail");
    return -1;
  }
  for (;;) {
    if (isread(fd, row, IS_NEXT) != 0) {
      if (iserrno == EENDFILE || iserrno == ENORECORD) return 0;
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "object_detail");
      return 19;
    }
    if (static_cast<uint32_t>(ldlong(row + kDetVolId)) != volume.volumeId) continue;
    int64_t copy_id = 0;
    ldbigint(&copy_id, row + kDetCopyId);
    const uint64_t copy = static_cast<uint64_t>(copy_id);
    const int32_t part = ldlong(row + kDetCopySeq);
    SM_TRACE(135, "Analizing Object id = %ld, seq = %d.", static_cast<long>(copy_id),
             static_cast<int>(part));
    TevObjectInfo info{};
    rc = zarGetObjectInformation(handle, copy, &info);
    if (rc == 17) {
      SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_PLAIN, SM_MSG(88407), High(copy), Low(copy),
                static_cast<int>(part));
      if (isdelcurr(fd) != 0) {
        SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88108), "object_detail");
        return 19;
      }
      continue;
    }
    if (rc != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88110), "object");
      return rc;
    }
    TevObjectDetail detail{};
    detail.volumeId = volume.volumeId;
    detail.copyId = ToPair(copy);
    detail.partNumber = part;
    char name[1024];
    if (zarGenFileName(handle, name, sizeof name, &volume, info.fileName, &detail) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88165), 1024);
      continue;
    }
    const int part_fd = open(FsPath(name).c_str(), O_RDONLY | O_CLOEXEC);
    if (part_fd >= 0) {
      SM_TRACE(135, "File '%s' for object Id %ld found.", name, static_cast<long>(copy_id));
      sm_close(part_fd);
      continue;
    }
    SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_PLAIN, SM_MSG(88052), name);
    rc = dsmDeleteObject(handle, copy_id);
    if (rc != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88108), "object");
      return rc;
    }
    rc = smcDeleteDetails(copy_id);
    if (rc != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88108), "object_detail");
      return rc;
    }
    SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_PLAIN, SM_MSG(87453), High(copy), Low(copy));
  }
}
