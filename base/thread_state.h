// Per-thread runtime record and process-wide client state of the client
// libraries.
//
// Almost all state of the client libraries is per thread, so that several
// threads can use them without locks. Every thread reaches its
// ThreadRuntimeRecord through one thread-local pointer; the record is made
// zeroed (message-file descriptor -1) by the first call that needs it and is
// never freed: other threads may keep pointers into its pools and texts.
// Subsystems that need per-thread state of their own keep it in their own
// thread_local variables.
//
// ClientState is the one process-wide record, made by rclientstate() on
// first use. SmallBlockPool hands out small zeroed pieces that are never
// returned one by one. StringList is a growable list of owned strings.
#pragma once

#include <stdint.h>

#include "platform/api.h"

TV_BEGIN_C

// Bits of ThreadRuntimeRecord.flags.
#define TR_DBTODAY_CONVERTING 0x2  // DBTODAY is being converted
#define TR_DBTODAY_VALID 0x4       // the DBTODAY offset is in effect
#define TR_DBTODAY_UNUSED 0x8      // DBTODAY was looked at and is not in use
#define TR_DESCFLAG 0x10           // set by rsetdescflag, stays set
#define TR_USE_DTENV_READ 0x20     // USE_DTENV was looked up
#define TR_USE_DTENV_ON 0x40       // USE_DTENV is exactly "1"
#define TR_PREC16_ON 0x80          // ZEL_USE_PREC_16 is exactly "1"
#define TR_PREC16_READ 0x100       // ZEL_USE_PREC_16 was looked up

// Size in bytes of a Decimal of the SQL data types (16-bit exponent, 16-bit
// sign, 16-bit digit-pair count, 16 digit bytes).
#define TR_DECIMAL_BYTES 22

// The DBTODAY offset: an INTERVAL DAY(9) TO SECOND (qualifier 3914)
// followed by the bytes of its Decimal. Only the SQL data types read or
// write the Decimal; they copy it in and out with memcpy.
typedef struct TrIntervalCell {
  int16_t qualifier;
  unsigned char decimal[TR_DECIMAL_BYTES];
} TrIntervalCell;

struct SmallBlockPool;

typedef struct ThreadRuntimeRecord {
  void* fixed_current_time;  // a Decimal taken as "now" when set; never set here
  int32_t today_stamp;       // clock / 900 when cached_today was computed
  TrIntervalCell dbtoday_offset;
  int32_t cached_today;      // today's DATE as last computed
  int32_t shifted_today;     // today's DATE shifted by the DBTODAY offset
  unsigned char dbtoday_parts[4];  // century, year, month, day
  struct SmallBlockPool* msg_pool;  // pool for message texts, made on first use
  int32_t sql_status;        // rgeterror / rseterror
  char* conv_buf;            // decimal-to-text conversion buffer
  int32_t conv_buf_size;     // at least 80 once made
  int16_t pattern_flag;      // escape flag of pattern comparisons
  uint32_t flags;            // TR_* bits
  int32_t init_status;       // rgetinitstat: 0, -1280 after a failed locale start-up
  int32_t gl_error;          // rgetglerror / rsetglerror
  char* install_dir;         // TARVELONDIR read once, else "/usr/tarvelon"
  char msg_override[268];    // when not empty, the one message file; never filled here
  int32_t msg_fd;            // open message file, -1 when none
  int32_t msg_entry_count;   // index entries of the open message file
  char msg_current_file[260];  // name of the open message file; empty forces a reopen
  char msg_path[260];        // where message-file paths are built
  int32_t msg_cached_number; // number whose text msg_cache holds
  char* msg_buf;             // text buffer of the message lookup
  int32_t msg_buf_size;      // 512 when made, grown as needed
  int16_t msg_long_entries;  // 1 for 10-byte index entries
  int32_t msg_entries_per_read;  // entry count, at most 8
  int16_t msg_entry_size;    // 8 or 10
  char* msg_index_page;      // 80 bytes: the index entries read last
  char* msg_cache;           // 160 bytes: text of msg_cached_number
  int32_t mode;              // value-format mode of the connection (rsetmode)
  int32_t comparison_mode;   // stays 0 here
} ThreadRuntimeRecord;

// Thread-local variables with fixed initial values.
extern TV_API thread_local int16_t rthreadansi;   // ANSI flag [0]
extern TV_API thread_local struct SmallBlockPool* rthreadpool;  // current pool [null]
extern TV_API thread_local unsigned char rthreadnullpat[8];  // null pattern [all 0xFF]
// Status word of the string, environment and operating-system helpers:
// 0 success, -2 no memory, -3 no current user, -4 too long or nothing to
// join, -7 no name.
extern TV_API thread_local int32_t rthreadstatus;

// The thread's record, made on first use; null when it cannot be made (the
// next call tries again).
ThreadRuntimeRecord* rthreadrec(void);
// A new zeroed record with the descriptor -1, not installed; null on failure.
ThreadRuntimeRecord* rthreadrec_new(void);

int32_t rgeterror(void);            // SQL status word; -406 without a record
int32_t rseterror(int32_t value);   // stores it (nothing without a record); returns value
int32_t rgetglerror(void);          // locale error word; -406 without a record
int32_t rsetglerror(int32_t value); // stores it when there is a record; returns value
void rsetansi(int32_t value);       // low 16 bits into the ANSI flag
void rsetmode(int32_t value);       // the mode word; nothing without a record
void rsetdescflag(void);            // sets TR_DESCFLAG
int32_t rtestdescflag(void);        // TR_DESCFLAG (0x10) or 0; 0 without a record
int32_t rgetinitstat(void);         // start-up status; 0 without a record

// The process-wide client state.
typedef struct ClientState {
  void* dir_ring;          // first open directory scan, null when none
  int32_t connected;       // connection flag of the SQL client runtime
  unsigned char class_table[258];  // copy of the 8-bit class table
  unsigned char lower_map[256];    // copy of the lower-case map
  unsigned char upper_map[256];    // copy of the upper-case map
  int32_t status;          // rclientstatus: 0, -1281 when the locale start-up failed
  int32_t server;          // 1 in a server-side process (swaps the wire-trace tags)
} ClientState;

// The state, made on the first call (which also starts the wire trace and
// the locale). Null when it cannot be made, or when the locale start-up of
// the first call fails; the state stays published, and later calls return
// it. The first call must not run in two threads at once: make it before
// starting threads.
ClientState* rclientstate(void);
void rclientstate_init(ClientState* cs);
int32_t rclientstatus(void);

// Small-block pool: pieces are zeroed, aligned to 8 bytes, and live until
// the process ends.
typedef struct SmallBlockPool SmallBlockPool;
SmallBlockPool* rpool_create(void);
// A piece of at least size bytes from the pool; null for a null pool, a
// negative size, a size too large for a block, or no memory.
void* rpool_alloc(int32_t size, SmallBlockPool* pool);
// rpool_alloc from the thread's current pool (rthreadpool); null without one.
void* rpool_getmem(int32_t size);

// A growable list of owned strings.
typedef struct StringList {
  uint32_t count;
  uint32_t capacity;
  char** strings;
} StringList;

StringList* rstrlist_new(void);  // room for 16; null on failure
int32_t rstrlist_add(StringList* list, const char* s);   // index, or -1
int32_t rstrlist_find(const StringList* list, const char* s);  // index, or -1
void rstrlist_free(StringList* list);

// Name/value pairs (an environment snapshot).
typedef struct EnvSnapshot {
  int32_t count;
  const char** names;  // static names, not owned
  char** values;       // owned
} EnvSnapshot;

// The value paired with the first name equal to name, or null.
char* rlistfind(const char* name, const EnvSnapshot* list);

TV_END_C
