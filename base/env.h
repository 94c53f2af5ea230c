// Environment resolution of the client libraries.
//
// A lookup merges, in this order of precedence: the process environment,
// the user's file $HOME/.tarvelon (home directory from the password
// database), the system file $TARVELONDIR/etc/tarvelon.rc (default
// /usr/tarvelon), and the built-in defaults of the 221 known variables.
// The environment files are read once per thread, at the thread's first
// lookup. Values are borrowed: callers never free them.
//
// Lookups set rthreadstatus (base/thread_state.h): 0, -4 for a value
// longer than the variable's maximum, -7 for no name.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "base/thread_state.h"
#include "platform/api.h"

TV_BEGIN_C

// Rows of the built-in table that callers pass to ggetenv_idx. The row
// numbers are fixed.
#define ENVROW_DBDATE 6
#define ENVROW_DBLANG 9
#define ENVROW_DBMONEY 10
#define ENVROW_DBPATH 11
#define ENVROW_DBTEMP 13
#define ENVROW_DBTIME 14
#define ENVROW_DBTODAY 15
#define ENVROW_ENVIGNORE 18
#define ENVROW_TARVELONDIR 23
#define ENVROW_ZIVEVODAREVEZO 24
#define ENVROW_TARVELONSQLHOSTS 25
#define ENVROW_ZEL_NOZEROMDY 34
#define ENVROW_ZEL_USE_PREC_16 37
#define ENVROW_SQDEBUG 44
#define ENVROW_SQLIDEBUG 45
#define ENVROW_DBNLS 49
#define ENVROW_LANG 51
#define ENVROW_LC_COLLATE 52
#define ENVROW_LC_CTYPE 53
#define ENVROW_LC_MONETARY 54
#define ENVROW_LC_NUMERIC 55
#define ENVROW_LC_TIME 56
#define ENVROW_IGNORE_UNDERFLOW 58
#define ENVROW_GL_DATE 61
#define ENVROW_GL_DATETIME 62
#define ENVROW_GL_USEGLU 64
#define ENVROW_DB_LOCALE 65
#define ENVROW_CLIENT_LOCALE 66
#define ENVROW_DBCENTURY 74
#define ENVROW_ZEL_FREE_FD 118
#define ENVROW_ZEL_NOT_STRICT_THOUS_SEP 159
#define ENVROW_ZEL_CHARSUB_ALLOWED 170
#define ENVROW_COUNT 221

// One row of the built-in table.
typedef struct EnvVarDef {
  const char* name;
  const char* def;    // default value, or null
  int32_t flag;       // 0 or 1, copied into the loaded entry
  int32_t maxlen;     // largest accepted value length in bytes; 0 no limit
} EnvVarDef;

// The built-in table: ENVROW_COUNT rows followed by an end row (null name).
const EnvVarDef* osenv_table(void);

// The variable's value, or null.
TV_API char* ggetenv(const char* name);
TV_API char* ggetenv_ses(const char* name, void* unused);
// row: the name's row in the built-in table, or -1 to search by name.
char* ggetenv_idx(const char* name, int32_t row);

// Puts "name=value" into the process environment (nothing after '=' for a
// null value) and keeps the string for the life of the thread. 0, or -2.
int gsetenv(const char* name, const char* value);

// 1 when ZEL_CHARSUB_ALLOWED holds a positive decimal number, else 0.
int rcharsubok(void);

// Environment snapshots sent to a database server. 0, or -1 (the snapshot
// is then freed).
int renvlist_all(EnvSnapshot* snap);
int renvlist_conn(EnvSnapshot* snap, const char* dbpath);
void renvlist_free(EnvSnapshot* snap);

// The maximum length of a known variable; -1 for none or an unknown name.
int32_t osenv_maxlen(const char* name);
// Prints the formatted text and a newline on the stream (standard error
// when null) and flushes it; nothing for an empty or null format.
void osenv_print(FILE* stream, const char* fmt, ...)
    __attribute__((format(printf, 2, 3)));
// A new text "dir/name suffix" (dir and '/' left out for a null dir); null
// with rthreadstatus -4 when there is nothing to join, -2 without memory.
char* osenv_path(const char* dir, const char* name, const char* suffix);
// The current user's domain (on this platform the host name), a backslash
// and the account name, in a buffer of the thread; unchanged (empty at the
// thread's start) while os_userinit has registered no user, and empty when
// the two do not fit the buffer together.
#define OSENV_USERNAME_SIZE 80
TV_API char* os_username(void);
// A new copy of the current user's home directory, or null (status -3 when
// the account has none, -2 without memory).
char* osenv_homedir(void);

TV_END_C
