// The process-wide state of the SQL client runtime: the sqlca, the status
// record with its SQLSTATE, the SqliRuntime record, the diagnostics area
// read by GET DIAGNOSTICS, and the SQLSTATE mapping file "vroxmsg.pam".
//
// Mapping file "vroxmsg.pam" (big-endian), found in the message directory:
//
//   offset  size    content
//   0       6       magic "vrox00"
//   6       4       record count N (int32)
//   10      13 x N  records: SQL code (int32), message number (int32),
//                   SQLSTATE (5 characters)
//
// Records are in descending order of SQL code. Message number 0 means the
// code's own message describes the condition.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "connect/asf_records.h"
#include "platform/api.h"
#include "sqltypes/int8.h"

TV_BEGIN_C

typedef struct SqlcaWarn {
  char sqlwarn0, sqlwarn1, sqlwarn2, sqlwarn3, sqlwarn4, sqlwarn5, sqlwarn6, sqlwarn7;
} SqlcaWarn;

// The sqlca of generated programs: one per process.
typedef struct Sqlca {
  int32_t sqlcode;
  char sqlerrm[72];
  char sqlerrp[8];
  int32_t sqlerrd[6];
  SqlcaWarn sqlwarn;
} Sqlca;

extern TV_API Sqlca sqlca;

// Return code of most runtime operations and its SQLSTATE ("00000" none,
// "******" a server-supplied SQLSTATE still to come).
typedef struct SqliStatusRecord {
  int32_t code;
  char sqlstate[6];
} SqliStatusRecord;

extern SqliStatusRecord sqli_status;

typedef struct SqliDiagEntry {
  char sqlstate[6];
  int32_t code;
  char server[256];
  char connection[256];
  int32_t message_length;
  char message[8192];
  char sqlca_message[256];
} SqliDiagEntry;

typedef struct SqliDiagArea {
  int32_t count;
  SqliDiagEntry* entries;  // follow the area in the same block
} SqliDiagArea;

// The fields of the sqlca that a reply loop keeps from its first error.
typedef struct SqliSavedSqlca {
  int32_t sqlcode;
  char sqlerrm[72];
  char sqlerrp[8];
  int32_t sqlerrd[6];
  SqlcaWarn sqlwarn;
} SqliSavedSqlca;

struct SqliConnection;
struct SqliHashTable;
struct SqliCursor;
struct SqliValueList;

typedef int (*SqliPamCallback)(const char* challenge, char* answer, int32_t type);

// Option flags of the runtime.
enum {
  SQLI_OPT_DBSTMT = 0x0001,
  SQLI_OPT_AUTOFREE = 0x0002,
  SQLI_OPT_AUTOFREE_OFF = 0x0004,
  SQLI_OPT_DEFPREP = 0x0008,
  SQLI_OPT_REVOKE = 0x0040,
  SQLI_OPT_RESET_DONE = 0x0080,
  SQLI_OPT_BLANKS_NOT_NULL = 0x0100,
};

typedef struct SqliRuntime {
  unsigned char* transfer_buffer;
  unsigned char* converted_buffer;
  int32_t text_buffer_size;
  unsigned char* text_buffer;
  int32_t dbansiwarn_pending;
  int32_t large_value_count;
  int16_t outstanding;  // a request was sent and its reply is not fully read
  struct SqliConnection* current;
  // Filled by reply 86; the connectivity layer reads it as a start request
  // (server, option argument = database, name and mode argument = the two
  // further texts).
  AsfStartRequest redirect;
  int16_t redirect_pending;
  struct SqliHashTable* descriptor_names;
  int32_t startup_guard;
  int16_t lvarchar_mode;
  SqliDiagArea* diag;
  char server_name[256];
  char connection_name[256];
  uint16_t options;
  int16_t connection_statement;
  int32_t diag_capacity;
  void* statement_list;
  Int8Value last_serial8;
  char client_file[504];
  int32_t client_file_offset;
  int32_t client_file_fd;
  int32_t saved_flag;
  SqliSavedSqlca saved;
  char message_params[500];
  struct SqliValueList* cached_lists[2];
  SqliPamCallback pam_callback;
  int64_t last_bigserial;
} SqliRuntime;

// GET DIAGNOSTICS item record.
typedef struct SqliDiagItem {
  void* data;
  int16_t item;
  int16_t host_type;
  int32_t host_length;
  unsigned char unused[40];
} SqliDiagItem;

// One SQLSTATE mapping entry.
typedef struct SqliStateMap {
  int32_t code;
  char sqlstate[6];
  int32_t message;
} SqliStateMap;

SqliRuntime* sqli_runtime_get(void);
void sqli_runtime_init(SqliRuntime* rt);
int32_t sqli_sqlca_reset(SqliRuntime* rt);
TV_API void _iqseterr(int32_t code);
void sqli_set_asf_error(int32_t code, int32_t secondary, const char* text);
// Converts the server's error parameter text, in the message-parameter
// area (at most 499 bytes) and its copy in sqlerrm (at most 71), from the
// server's code set to the client's; nothing without a converter.
void sqli_param_from_server(SqliRuntime* rt);
int sqli_diag_update(SqliRuntime* rt);
int sqli_diag_warning(const char* state, SqliRuntime* rt);
int sqli_diag_server_state(const char* state, int32_t length, const char* text);
void sqli_diag_clear(SqliRuntime* rt);
int sqli_diag_grow(SqliRuntime* rt);
void sqli_warn_server(int32_t bits, SqliRuntime* rt);
int sqli_warn_client(int32_t kind);
int32_t sqli_warn_msgno(const char* state);
int32_t sqli_sqlstate_lookup(char* out, int32_t code, const char* current);
void sqli_sqlstate_set(SqliRuntime* rt);
int sqli_sqlstate_load(SqliStateMap** table, int32_t* count);
TV_API int32_t sqli_diag_get(void* ignored, SqliDiagItem* items, int32_t n);
TV_API char* zel_get_msg_param(void);
void sqli_sqlca_save(const Sqlca* ca, SqliRuntime* rt);
TV_API void sqli_stop_whenever(void);
void sqli_sqlca_dump(const char* heading, int32_t os_error);
void sqli_set_names(const char* server, const char* connection);
void sqli_flag_dbstmt(SqliRuntime* rt);
void sqli_flag_revoke(SqliRuntime* rt);
void sqli_flag_connstmt(SqliRuntime* rt);
void* sqli_buf_renew(void* old, int32_t size);
void* sqli_buf_ensure(void* buffer, int32_t current, int32_t wanted);
int32_t sqli_msg_subst(int32_t number, char* out, const char* param);

// Host-to-host value conversion through an SqlValue: 0 or an error;
// types -1 or 200 and up give -486.
int32_t sqli_host_convert(const void* src, int32_t src_type, int32_t src_len, void* dst,
                          int32_t dst_type, int32_t dst_len);

// Forgets this thread's loaded mapping table (tests change the file).
void sqli_sqlstate_forget(void);

TV_END_C
