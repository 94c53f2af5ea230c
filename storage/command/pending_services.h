// The catalog's pool look-up, which the configuration loader calls and which
// arrives with the catalog. The declaration has the signature its owner
// provides; this header goes away when the catalog lands.
#pragma once

#include <cstdint>

struct zarHandle;
struct TevPool {
  int32_t pool_id;
  char pool_name[28];
};
// 0, 17 when no pool has the name, 19 on a failure.
int zarGetPoolId(zarHandle* handle, const char* name, TevPool* pool);
