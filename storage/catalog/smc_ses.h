// The session table: one row per session that has the catalog open.
//
// Session row (8 bytes; key unique on ses_sessionid):
//   offset length column         type
//   0      4      ses_sessionid  int4
//   4      4      ses_processid  int4
#pragma once

#include <cstdint>
#include <cstdio>

#include "storage/catalog/smcatalog.h"

struct zarHandle;

enum : int32_t { SMC_SESSION_RECLEN = 8 };

extern const CatalogColumnDesc smcSessionColumns[];

int zarCreateSessionTab(zarHandle* handle);
// Writes the row {session id, this process}: 0, or 19.
int smcInsertSession(zarHandle* handle, int32_t session_id);
// Removes the session's mounts, its marks on device and object rows and its
// row. Always 0, so that the session close goes on.
int smcDeleteSession(zarHandle* handle);
int smcDumpSessionTab(FILE* stream, char delimiter);
