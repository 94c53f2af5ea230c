// The object detail header on mounted media: written by the write mounts,
// its part size filled in when a written part ends, and checked by the
// read mounts against the part's detail row. The byte layout is in
// smdtlhdr.cc.
#include <cstdlib>
#include <cstring>

#include "base/msgfile.h"
#include "storage/catalog/smc_dev.h"
#include "storage/catalog/smc_odt.h"
#include "storage/catalog/smc_pool.h"
#include "storage/command/sm_trace.h"
#include "storage/datapath/smdevmgt.h"
#include "storage/datapath/smdtlhdr.h"
#include "storage/datapath/smfilter.h"
#include "storage/datapath/smtape.h"

TevHeaderMedium tevMountMedium(const zarHandle* handle, TevMount* mount) {
  TevHeaderMedium m{mount->type, mount->descriptor, handle->filterId, mount};
  return m;
}

int writeDetailHdr(zarHandle* handle, TevMount* mount, TevObjectInfo* info) {
  if (handle == nullptr || mount == nullptr || info == nullptr ||
      handle->currentObject == nullptr) {
    return 22;
  }
  const XbsaObjectDescriptor* object = handle->currentObject;
  uint64_t copy = 0;
  tevUInt64ToU64(&copy, &info->copyId);
  int32_t part = 0;
  if (dsmGetNextDetailSeq(handle, static_cast<int64_t>(copy), &part) != 0) return 3;
  TevObjectDetail detail{};
  detail.volumeId = mount->volume.volumeId;
  detail.volumeSeq = mount->volume.numberOfObjects + 1;
  detail.copyId = info->copyId;
  detail.partNumber = part;
  detail.partSize = 0;

  TevPool pool{};
  if (zarGetPoolName(handle, mount->poolId, &pool) != 0) pool.pool_name[0] = '\0';
  TevObjectDetailHeader header;
  tevFillDetailHdr(&header, object, static_cast<uint32_t>(info->version), part, mount->poolId,
                   pool.pool_name, mount->volume.volumeId);
  size_t length = 0;
  unsigned char* bytes =
      tevBuildDetailHdr(&header, object->objectSpaceName, object->pathName, &length);
  if (bytes == nullptr) return 88002;
  const TevHeaderMedium medium = tevMountMedium(handle, mount);
  const long count = tevWriteToMedium(&medium, bytes, length);
  std::free(bytes);
  if (count < 0) {
    sm_trace(137, __FILE_NAME__, __LINE__, SM_KIND_ISAM, SM_MSG(88029), static_cast<int>(length),
             static_cast<int>(count));
    if (mount->type == DEV_TYPE_STDIO || mount->type == DEV_TYPE_CLOUD) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", SM_MSG(88432));
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "'%s'.", get_filter_errmsg());
    }
    return 3;
  }
  if (static_cast<size_t>(count) != length) return 19;
  // The header's last block goes onto the tape at once.
  if (mount->type == DEV_TYPE_TAPE && tape_FLUSH(mount) < 0) return 3;

  info->status = OBJ_STATUS_WRITING;
  int rc = zarPutObjectInfo(handle, info->copyId, info);
  if (rc != 0) return rc;
  rc = zarPutObjDetail(handle, &detail);
  if (rc != 0) return rc;
  ++mount->volume.numberOfObjects;
  return 0;
}

int updateDetailHdr(zarHandle* handle, TevMount* mount) {
  static const char kName[] = "updateDetailHdr";
  if (handle == nullptr || handle->headerRewrite == 0) return 0;
  if (handle->currentObject == nullptr) {
    SM_TRACE(137, "%s", SM_MSG(88186));
    return 22;
  }
  if (mount == nullptr) return 22;
  if (mount->type == DEV_TYPE_FILE &&
      tevRewriteHdrPartSize(mount->descriptor, handle->partBytes) != 0) {
    return 3;
  }
  TevObjectDetail detail{};
  detail.copyId = handle->currentObject->copyId;
  detail.partNumber = handle->partNumber;
  // The part keeps the position on its volume that its header write gave
  // it; only the volume and the size are written.
  if (zarGetObjDetail(handle, &detail) != 0) detail.volumeSeq = 0;
  detail.volumeId = mount->volume.volumeId;
  detail.partSize = handle->partBytes;
  const int rc = zarUpdateObjDetail(handle, &detail);
  if (rc != 0) {
    SM_TRACE(137, "%s: zarUpdateObjDetail failed with rc = %d ", kName, rc);
    return 3;
  }
  handle->headerRewrite = 0;
  handle->partBytes = 0;
  return 0;
}

bool readDetailHdr(zarHandle* handle, TevMount* mount, TevObjectDetail* detail) {
  if (handle == nullptr || mount == nullptr || detail == nullptr) return false;
  const TevHeaderMedium medium = tevMountMedium(handle, mount);
  return tevReadDetailHdrFrom(handle, &medium, detail);
}

int readMountDetailHdr(zarHandle* handle, TevMount* mount, TevObjectDetail* detail) {
  if (handle == nullptr || mount == nullptr || detail == nullptr) return 22;
  // A TAPE volume is searched for the part's header, from behind the label
  // to the end of the recorded data; on every other medium the header must
  // be the one at the medium's position.
  if (mount->type == DEV_TYPE_TAPE) return tapeFindDetailHdr(handle, mount, detail);
  return readDetailHdr(handle, mount, detail) ? 0 : 3;
}
