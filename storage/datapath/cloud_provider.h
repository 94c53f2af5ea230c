// Cloud providers. A device row stores the provider's code; 1 selects the
// S3 client, any other value the Swift client.
#pragma once

#include <cstdint>

struct CloudProvider {
  int32_t code;
  char name[16];
};

enum { CLOUD_PROVIDER_COUNT = 3 };
// {0 "TEV_INVALID"}, {1 "S3"}, {2 "SWIFT"}.
extern const CloudProvider zarCloudProviderTable[CLOUD_PROVIDER_COUNT];

// 1 or 2 for "S3" or "SWIFT" in any case; 0 for any other name.
int zarCloudProviderCode(const char* name);
