// Services of other subsystems that the storage-manager command calls and
// that are not part of this tree yet. Each declaration has the signature its
// owner provides; this header goes away as the owners land.
#pragma once

#include <cstdint>
#include <ctime>

#include "isam/isam.h"
#include "platform/api.h"

TV_BEGIN_C

// Message lookup: the text of a storage-manager message, never null (a
// fallback "Message %d not found.\n" when the message file lacks it).
char* smGetMsg(int32_t number);
// Adapts the conversion specifications of a message text in place.
char* rldmsg_fmtspecxtf(char* text, int32_t* status);

// Local calendar fields of a 64-bit time; all nine fields -1 when the time
// cannot be converted; null only for a null pointer.
struct tm* zel_localtime(const int64_t* seconds, struct tm* out);

// Security start-up of the process: 0, or a failure code (1 when
// ZIVEVODAREVEZO is not set).
int os_userinit(void);

TV_END_C

// The catalog's pool table.
struct zarHandle;
struct TevPool {
  int32_t pool_id;
  char pool_name[28];
};
// 0, 17 when no pool has the name, 19 on a failure.
int zarGetPoolId(zarHandle* handle, const char* name, TevPool* pool);
