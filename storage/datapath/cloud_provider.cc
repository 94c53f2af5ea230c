#include "storage/datapath/cloud_provider.h"

#include <strings.h>

const CloudProvider zarCloudProviderTable[CLOUD_PROVIDER_COUNT] = {
    {0, "TEV_INVALID"}, {1, "S3"}, {2, "SWIFT"}};

int zarCloudProviderCode(const char* name) {
  if (name == nullptr) return 0;
  // Row 0 is no provider: its name matches nothing.
  for (int i = 1; i < CLOUD_PROVIDER_COUNT; ++i) {
    if (strcasecmp(name, zarCloudProviderTable[i].name) == 0) return zarCloudProviderTable[i].code;
  }
  return 0;
}
