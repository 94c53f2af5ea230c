// Services of other subsystems that the storage-manager command calls and
// that are not part of this tree yet. Each declaration has the signature its
// owner provides; this header goes away as the owners land.
#pragma once

#include <cstdint>
#include <ctime>

#include "isam/isam.h"
#include "platform/api.h"

TV_BEGIN_C

TV_END_C

// The catalog's pool table.
struct zarHandle;
struct TevPool {
  int32_t pool_id;
  char pool_name[28];
};
// 0, 17 when no pool has the name, 19 on a failure.
int zarGetPoolId(zarHandle* handle, const char* name, TevPool* pool);
