// Connections of the SQL runtime: the connection records, the process-wide
// connection state, CONNECT, DISCONNECT, SET CONNECTION, the implicit
// connection, and the start-up exchanges that open a connection.
#pragma once

#include <stdint.h>

#include "connect/asf_records.h"
#include "platform/api.h"
#include "sqlruntime/runtime.h"
#include "sqlruntime/stream.h"

TV_BEGIN_C

typedef void (*SqliBreakCallback)(int32_t state);

typedef struct SqliConnection {
  char* target;
  char* name;
  int16_t cred_kind;  // 0 none, 1 user and password, 16 credential handle
  char* user;
  char* password;
  void* credential;
  int32_t concurrent;
  unsigned char caps[16];
  int32_t level;
  char server_version[12];
  int32_t db_open;
  int16_t props[6];  // from sqlwarn1, 2 (ANSI mode), 3, 4, 6, 7
  int16_t optofc;
  int16_t optmsg;
  void* statements;
  int32_t last_cursor_flags;
  int16_t saved_outstanding;
  int32_t release_after_execute;
  int16_t dormant;
  SqliMessageStream* stream;
  unsigned char flag_area[8];
  char* server_name;
  void* saved_statement_list;
  int32_t break_timeout;
  SqliBreakCallback break_callback;
  char* delimident;
  struct SqliConnection* next;
  int32_t in_use;
  int32_t xact_event;  // -1 when none is pending
  int16_t xact_value;
  int32_t unpadded_varchar;
} SqliConnection;

// Capability tests.
#define SQLI_CAP(c, byte, bit) (((c)->caps[(byte)] & (bit)) != 0)
#define SQLI_CAP_OPTOFC(c) SQLI_CAP(c, 0, 0x80)
#define SQLI_CAP_XTYPES(c) SQLI_CAP(c, 0, 0x20)
#define SQLI_CAP_LONGTEXT(c) SQLI_CAP(c, 7, 0x02)

typedef struct SqliUserPair {
  char* user;
  char* password;
} SqliUserPair;

typedef struct SqliConnUser {
  int16_t kind;  // 1
  SqliUserPair* pair;
} SqliConnUser;

typedef struct SqliConnUserCred {
  int16_t kind;  // 2
  void* credential;
} SqliConnUserCred;

typedef struct SqliXactEvent {
  int32_t event;
  int16_t value;
} SqliXactEvent;

// Kinds of CONNECT and DISCONNECT.
enum {
  SQLI_CONN_NAMED = 0, SQLI_CONN_DEFAULT = 1, SQLI_CONN_ALL = 2, SQLI_CONN_CURRENT = 3,
  SQLI_CONN_DBOPEN = 4, SQLI_CONN_TAPE = 5,
};

#define SQLI_TAPE_NAME "__NULL_ZQTAPE__"

// Exported connection calls.
TV_API int32_t sqli_connect_open(void* ignored, int32_t kind, const char* target, const char* name,
                                 void* credentials, int32_t concurrent);
TV_API int32_t sqli_connect_close(int32_t kind, const char* name, int32_t mode, int32_t skip_reset);
TV_API int32_t sqli_connect_set(int32_t kind, const char* name, int32_t dormant);
TV_API int32_t sqlstart(void);
TV_API int32_t sqlbreak(void);
TV_API int32_t sqldetach(void);
TV_API int32_t sqlexit(void);
TV_API int32_t sqlbreakcallback(int32_t timeout, SqliBreakCallback callback);
TV_API int32_t sqlsignal(int32_t ignored1, void* ignored2, int32_t mode);
TV_API char* zel_getcur_conn_name(void);
TV_API int32_t zel_xactevent(SqliXactEvent* out);
TV_API SqliConnUser* zel_alloc_conn_user(const char* user, const char* password);
TV_API void zel_free_conn_user(SqliConnUser** user);
TV_API SqliConnUserCred* zel_alloc_conn_cred(void* credential);
TV_API void zel_free_conn_cred(SqliConnUserCred** cred);
TV_API int32_t sqli_setdormant(int32_t value);
TV_API int32_t zel_isuvq(void);
TV_API int32_t zel_getserowner(char* buffer);
TV_API int32_t zel_pam_callback(SqliPamCallback callback);

// Internal steps.
int32_t sqli_conn_ensure(void);
SqliConnection* sqli_conn_make(const char* target, const char* name, void* credentials,
                               int32_t concurrent);
void sqli_conn_free(SqliConnection* c);
int sqli_conn_unlink(SqliConnection* c);
SqliConnection* sqli_conn_find(const char* name);
void sqli_conn_make_current(SqliConnection* c);
int sqli_conn_claim(SqliConnection* c);
int sqli_conn_leave_check(SqliConnection* c, int32_t error);
int sqli_conn_close(SqliConnection* c, int32_t mode);
void sqli_conn_open_failed(SqliConnection* c, int32_t kind);
int32_t sqli_default_open(void);
int32_t sqli_connect_close_wrap(void);
int32_t sqli_conn_redirect(void);
int sqli_conn_is_implicit(void);

// Start-up exchanges.
int sqli_asf_start(void);
char* sqli_conn_dbpath(void);
int sqli_asf_connect(SqliConnection* c, AsfStartRequest* redirect, int32_t dbopen_kind,
                     SqliRuntime* rt, int32_t tape_kind, uint32_t extra_flags);
int sqli_conn_check_reply(SqliConnCred* answer);
int32_t sqli_conn_start(SqliConnection* c);
int sqli_conn_server_info(SqliConnection* c);
int sqli_version_exchange(SqliRuntime* rt, SqliConnection* c, int32_t level);
int sqli_local_handshake(SqliConnection* c);
int sqli_pam_exchange(SqliConnection* c);
int sqli_conn_send_env(SqliConnection* c);
int sqli_env_message(SqliConnection* c, int32_t count, const char* const* names,
                     const char* const* values);
int sqli_conn_break(AsfAssociation* assoc);
int sqli_conn_orderly_release(AsfAssociation* assoc);
int sqli_conn_release(AsfAssociation* assoc, int32_t mode);
void sqli_reply_redirect(SqliMessageStream* s);

// The retry count and time-out that a connect request uses.
int32_t sqli_conn_retry_count(void);
int32_t sqli_conn_timeout_ms(void);

// Process-wide connection state (for the replies and the tests).
SqliConnection* sqli_conn_list(void);
SqliConnection* sqli_conn_default(void);
int32_t sqli_conn_mode(void);

TV_END_C
