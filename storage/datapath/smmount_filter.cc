#include "storage/datapath/smmount_filter.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "base/fields.h"
#include "base/msgfile.h"
#include "storage/command/sm_trace.h"
#include "storage/datapath/smcloud.h"
#include "storage/datapath/smdevmgt.h"
#include "storage/datapath/smfilter.h"
#include "storage/datapath/smnames.h"

namespace {

// Where a CLOUD device keeps a part.
constexpr char kCloudTarget[] = "@obj_name@/@short_name@.@obj_id@.@obj_part@";

// The cloud clients as filter main functions; each frees its request when
// it is done with it.
int S3Main(int32_t filter_id, void* argument) {
  auto* args = static_cast<CloudClientArgs*>(argument);
  const int rc = cloudS3ClientStart(filter_id, args);
  std::free(args);
  return rc;
}
int SwiftMain(int32_t filter_id, void* argument) {
  auto* args = static_cast<CloudClientArgs*>(argument);
  const int rc = cloudSwiftClientStart(filter_id, args);
  std::free(args);
  return rc;
}

void StartFilterTrace(const zarHandle* handle) {
  const TevConfig* cfg = handle->config != nullptr ? handle->config : zarGetConfig();
  if (cfg == nullptr) return;
  start_filter_trace(cfg->barDebugLog, cfg->debugLevel);
}

int StartProgram(zarHandle* handle, const TevDevice* device, const TevObjectDetail* detail,
                 bool writing) {
  const char* pattern = writing ? device->stdioWrite : device->stdioRead;
  char* expanded = expandStdioArg(pattern, handle->currentObject, detail);
  if (expanded == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88430), pattern);
    return 3;
  }
  const std::string command = std::string(device->name) + " " + expanded;
  std::free(expanded);
  SM_TRACE(136, "command = '%s'.", command.c_str());
  StartFilterTrace(handle);
  if (create_filter(writing ? FILTER_PROCESS_WRITE : FILTER_PROCESS_READ, FILTER_PIPE_SIZE,
                    command.c_str(), nullptr, nullptr, &handle->filterId) != 0) {
    handle->filterId = -1;
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88431), command.c_str());
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "'%s'.", get_filter_errmsg());
    return 3;
  }
  return 0;
}

int StartCloudClient(zarHandle* handle, const TevDevice* device, const TevObjectDetail* detail,
                     bool writing) {
  char* target = expandStdioArg(kCloudTarget, handle->currentObject, detail);
  if (target == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR,
              writing ? "ERROR: Cannot allocate name for taget name"
                      : "Cannot allocate name for taget name");
    return 3;
  }
  auto* args = static_cast<CloudClientArgs*>(std::calloc(1, sizeof(CloudClientArgs)));
  if (args == nullptr) {
    std::free(target);
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, "%s", SM_MSG(88002));
    return 3;
  }
  args->mode = writing ? CLOUD_MODE_PUT : CLOUD_MODE_GET;
  args->provider = device->cloudProvider == 1 ? 1 : 2;
  stncopy(device->url, args->url, sizeof args->url);
  stncopy(device->user, args->user, sizeof args->user);
  stncopy(device->password, args->password, sizeof args->password);
  stncopy(device->container, args->container, sizeof args->container);
  stncopy(target, args->targetName, sizeof args->targetName);
  std::free(target);
  FilterMain client = SwiftMain;
  if (device->cloudProvider == 1) {
    SM_TRACE(134, "S3 Type Cloud.");
    args->partSize = static_cast<int32_t>(static_cast<uint32_t>(device->partSize));
    client = S3Main;
  } else {
    SM_TRACE(134, "SWIFT Type Cloud.");
  }
  StartFilterTrace(handle);
  if (create_filter(writing ? FILTER_THREAD_WRITE : FILTER_THREAD_READ, FILTER_PIPE_SIZE,
                    nullptr, client, args, &handle->filterId) != 0) {
    // No thread took the request.
    std::free(args);
    handle->filterId = -1;
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "ERROR: Failed to start Cloud client.");
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "'%s'.", get_filter_errmsg());
    return 3;
  }
  return 0;
}

}  // namespace

int tevStartMountFilter(zarHandle* handle, const TevDevice* device,
                        const TevObjectDetail* detail, bool writing) {
  if (device->type == DEV_TYPE_CLOUD) return StartCloudClient(handle, device, detail, writing);
  return StartProgram(handle, device, detail, writing);
}
