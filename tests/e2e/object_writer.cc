// Test driver: stores one backup object in the catalog that its environment
// names, as the write path leaves it: an idle object row with its size,
// one detail row per part, and on a FILE device one part file per part
// behind its object detail header. Prints the object's copy id.
//
//   object_writer DEVICE SPACE PATH DATAFILE PARTSIZE [COPYID [KIND]]
//
// DEVICE is a device name already in the catalog (its volume takes the
// parts); the data of DATAFILE is cut into parts of PARTSIZE bytes (an
// empty file gives one empty part). Exit 0, or 2 after printing the
// failing step on standard error.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "storage/catalog/smc_lock.h"
#include "storage/catalog/smc_pool.h"
#include "storage/catalog/smcatalog.h"
#include "storage/command/config.h"
#include "storage/datapath/smdevmgt.h"
#include "storage/datapath/smdtlhdr.h"
#include "storage/datapath/smnames.h"
#include "storage/datapath/smobject.h"
#include "storage/datapath/smpartfile.h"
#include "storage/datapath/smsession.h"
#include "storage/datapath/smtranid.h"
#include "storage/datapath/smvolume.h"

namespace {

int Fail(const char* step, int rc) {
  std::fprintf(stderr, "%s %d\n", step, rc);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) return Fail("usage", 0);
  const char* device = argv[1];
  const std::string data = [&] {
    std::ifstream in(argv[4], std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }();
  const size_t part_size = std::strtoull(argv[5], nullptr, 10);
  const uint64_t given = argc > 6 ? std::strtoull(argv[6], nullptr, 10) : 0;
  const char kind = argc > 7 ? argv[7][0] : 'R';
  if (part_size == 0) return Fail("partsize", 0);

  if (int rc = zarLoadConfig(0); rc != 0) return Fail("zarLoadConfig", rc);
  zarHandle* h = nullptr;
  int created = 0;
  if (int rc = zarOpenSession(&h, 0, &created); rc != 0) return Fail("zarOpenSession", rc);
  if (created) {
    zarCatalogUnlockTables(h);
    smcReleaseCatalogLock(h);
  }
  TevVolume volume{};
  if (int rc = zarFindDeviceVolume(h, device, &volume); rc != 0) {
    return Fail("zarFindDeviceVolume", rc);
  }

  auto* object = static_cast<XbsaObjectDescriptor*>(std::calloc(1, sizeof(XbsaObjectDescriptor)));
  std::snprintf(object->objectSpaceName, sizeof object->objectSpaceName, "%s", argv[2]);
  std::snprintf(object->pathName, sizeof object->pathName, "%s", argv[3]);
  object->objectKind[0] = kind;
  tevSetDefaultOwner(&object->owner);
  std::snprintf(object->description, sizeof object->description, "%s", "test object");
  h->currentObject = object;
  UInt64Pair id{};
  tevU64ToUInt64(&id, given);
  if (int rc = zarInsertObject(h, id, given != 0 ? 1 : 0); rc != 0) {
    return Fail("zarInsertObject", rc);
  }
  id = object->copyId;
  uint64_t copy = 0;
  tevUInt64ToU64(&copy, &id);
  TevObjectInfo info{};
  if (int rc = zarGetObjectInformation(h, copy, &info); rc != 0) {
    return Fail("zarGetObjectInformation", rc);
  }
  TevPool pool{};
  zarGetPoolName(h, static_cast<int32_t>(volume.poolId), &pool);

  const size_t parts = data.empty() ? 1 : (data.size() + part_size - 1) / part_size;
  for (size_t index = 0; index < parts; ++index) {
    const int32_t part = static_cast<int32_t>(index + 1);
    const std::string bytes = data.substr(index * part_size, part_size);
    TevObjectDetail detail{};
    detail.copyId = id;
    detail.partNumber = part;
    detail.volumeId = volume.volumeId;
    detail.partSize = static_cast<int64_t>(bytes.size());
    if (int rc = zarPutObjDetail(h, &detail); rc != 0) return Fail("zarPutObjDetail", rc);
    if (volume.type == DEV_TYPE_FILE) {
      char name[2048];
      if (int rc = zarGenFileName(h, name, sizeof name, &volume, info.fileName, &detail);
          rc != 0) {
        return Fail("zarGenFileName", rc);
      }
      TevObjectDetailHeader header{};
      tevFillDetailHdr(&header, object, static_cast<uint32_t>(info.version), part,
                       static_cast<int32_t>(volume.poolId), pool.pool_name, volume.volumeId);
      header.partSize = static_cast<int64_t>(bytes.size());
      size_t length = 0;
      unsigned char* head =
          tevBuildDetailHdr(&header, object->objectSpaceName, object->pathName, &length);
      const int fd = openSubDir(name, O_WRONLY | O_CREAT | O_EXCL, 0660);
      if (head == nullptr || fd < 0) return Fail("part file", fd);
      const bool ok = write(fd, head, length) == static_cast<ssize_t>(length) &&
                      write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
      std::free(head);
      close(fd);
      if (!ok) return Fail("write", errno);
    }
  }

  info.status = OBJ_STATUS_IDLE;
  info.userCount = 0;
  tevU64ToUInt64(&info.size, data.size());
  if (int rc = zarPutObjectInfo(h, id, &info); rc != 0) return Fail("zarPutObjectInfo", rc);
  if (int rc = zarDeleteTxn(h); rc != 0) return Fail("zarDeleteTxn", rc);
  h->transactionId = 0;
  zarCloseSession(h);
  std::printf("%" PRIu64 "\n", copy);
  return 0;
}
