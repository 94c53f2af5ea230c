// Device types, device insert with its checks, the default device, the
// device list and the device status.
#include "storage/datapath/smdevmgt.h"

#include <strings.h>

#include <cstring>
#include <string>

#include "base/fields.h"
#include "base/msgfile.h"
#include "storage/catalog/pending_calls.h"
#include "storage/catalog/smc_dev.h"
#include "storage/command/config.h"
#include "storage/command/pending_bodies.h"
#include "storage/command/sm_path.h"
#include "storage/command/sm_trace.h"

const DeviceType zarDeviceTypeTable[DEVICE_TYPE_COUNT] = {
    {0, "TEV_INVALID"}, {1, "FILE"}, {2, "TAPE"}, {3, "STDIO"}, {4, "CLOUD"}, {5, "TEV_INVALID"},
};

const char* zarDeviceTypeName(int32_t type) {
  if (type >= DEV_TYPE_FILE && type <= DEV_TYPE_CLOUD) return zarDeviceTypeTable[type].name;
  return zarDeviceTypeTable[0].name;
}

int32_t zarDeviceTypeCode(const char* name) {
  if (name == nullptr) return -1;
  for (int32_t t = DEV_TYPE_FILE; t <= DEV_TYPE_CLOUD; ++t) {
    if (strcasecmp(name, zarDeviceTypeTable[t].name) == 0) return zarDeviceTypeTable[t].code;
  }
  return -1;
}

int zarInsertDevice(zarHandle* handle, TevDevice* device) {
  if (device == nullptr || device->name[0] == '\0' || device->poolId == 0 ||
      device->type < DEV_TYPE_FILE || device->type > DEV_TYPE_CLOUD) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, "%s", SM_MSG(88186));
    return 3;
  }
  if (device->type == DEV_TYPE_FILE) {
    // The path keeps the case the user typed: file names on this platform
    // are case-sensitive, so lower-casing would name another directory.
    if (sm_mkdirp(device->name, 0770) != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, SM_MSG(88135), device->name);
      return -1;
    }
  }
  if (device->priority == DEV_PRIO_HIGHEST) {
    const int rc = zarDemoteHighestDevice(handle, device->poolId);
    if (rc != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88112), device->poolId);
      return rc;
    }
  }
  return smcInsertDevice(handle, device);
}

void zarCreateDefaultDevice(zarHandle* handle) {
  const TevConfig* cfg = zarGetConfig();
  TevDevice device{};
  std::string name = cfg != nullptr && cfg->installDir != nullptr ? cfg->installDir : "";
  while (!name.empty() && name.back() == '/') name.pop_back();
  name += "/backups";
  stncopy(name.c_str(), device.name, sizeof device.name);
  device.type = DEV_TYPE_FILE;
  device.priority = DEV_PRIO_LOW;
  device.poolId = 1;
  device.descriptor = -1;
  if (zarInsertDevice(handle, &device) == 0) {
    device.poolId = 2;
    if (zarInsertDevice(handle, &device) == 0) return;
  }
  SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ISAM, SM_MSG(88162), device.name);
}

int zarGetDeviceList(zarHandle* handle, int32_t status, int32_t pool_id, int32_t session_id,
                     TypedList** list) {
  return smcGetDeviceList(handle, status, pool_id, session_id, list);
}

int zarDeviceUpdateStatus(zarHandle* handle, TevDevice* device, int32_t busy) {
  if (handle == nullptr || device == nullptr) return 22;
  SM_TRACE(135, "New Status = %d.", busy);
  if (device->busy == busy) {
    SM_TRACE(131, "New and Old status are the same. Nothing to do.");
    return 0;
  }
  device->busy = busy;
  return smcModifyDevice(handle, device);
}
