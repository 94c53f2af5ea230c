// The layer's common services: the error setter, allocation and freeing of
// associations and their records, packet-buffer slots, the password
// scrambler, the debug switch, the flattening arena and thin wrappers of
// the operating system.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "connect/asf_assoc.h"
#include "platform/api.h"

TV_BEGIN_C

// Records the error and where it was found; returns the code.
int32_t asf_set_error(AsfControlBlock* cb, int32_t code, int32_t os_error, const char* file,
                      int32_t line);
#define ASF_ERROR(cb, code, os) asf_set_error((cb), (code), (os), asf_basename(__FILE__), __LINE__)
const char* asf_basename(const char* path);

char* asf_strdup(int64_t cls, const char* text);

AsfAssociation* asf_assoc_new(AsfControlBlock* cb, int32_t kind, AsfAssociation* parent);
int asf_assoc_free(AsfAssociation* assoc);
int asf_assoc_kind(const AsfAssociation* assoc, AsfAssociation** parent);
int asf_session_attach(AsfControlBlock* cb, int32_t reuse, const char* server_type,
                       const char* protocol);
int asf_session_detach(AsfAssociation* assoc);
int asf_transport_alloc(AsfControlBlock* cb);
int asf_transport_free(AsfAssociation* assoc);
int asf_transport_share(AsfAssociation* from, AsfAssociation* to);

// Packet-buffer slot flags.
enum { ASF_BF_SEND = 1, ASF_BF_RECV = 2, ASF_BF_EXPEDITED = 4, ASF_BF_KEEP = 16 };
int asf_buffer_put(AsfAssociation* assoc, uint32_t flags, AsfPacketBuffer* buf);
int asf_buffer_get(AsfAssociation* assoc, uint32_t flags, AsfPacketBuffer** buf);
int32_t asf_handover_size(const AsfAssociation* assoc);

// Freeing and copying; a null record does nothing.
void asf_free_server_list_class(int64_t cls, AsfServerList* list);
TV_API void asf_free_server_list(AsfServerList* list);
void asf_free_server_entry(int64_t cls, AsfServerEntry* entry, int32_t free_entry);
AsfServerEntry* asf_dup_server_entry(int64_t cls, const AsfServerEntry* entry);
void asf_free_connect_body(int64_t cls, AsfConnRecord* record);
void asf_free_start_request(int64_t cls, SqliConnCred* cred);
void asf_free_conn_cred(int64_t cls, SqliConnCred* cred);
void asf_free_option_list(int64_t cls, AsfOptionList* list);
void asf_free_identity(int64_t cls, AsfIdentity* identity);
// Overwrites a password text with zero bytes over its length, at most 128.
void asf_wipe_password(char* text);

// Mode 0 hides, mode 1 restores a password buffer of `length` bytes.
void asf_scramble_password(unsigned char* dst, unsigned char* src, int32_t length,
                           int32_t mode);

int asf_debug_init(void);
int asf_debug_setup(void);
void asf_debug_header(FILE* stream, const char* setting);

// The flattening arena of a hand-over.
typedef struct AsfArena {
  uint32_t flags;  // bit 0: packed; clear: blocks start at multiples of 4
  int64_t cls;
  unsigned char* base;
  int32_t size;
  int32_t used;
} AsfArena;

AsfArena* asf_arena_new(uint32_t flags, int64_t cls, void* base, int32_t size);
int asf_arena_free(AsfArena* arena);
void* asf_arena_alloc(AsfArena* arena, int32_t n, int64_t* offset);
int asf_arena_put_string(AsfArena* arena, const char* text, int64_t* offset);
int asf_arena_get_string(AsfArena* arena, int64_t offset, char** text);
// The block of n bytes at the read position, which then passes over it;
// null (errno ENOMEM) when the arena holds fewer bytes.
void* asf_arena_take(AsfArena* arena, int32_t n);

// Operating-system wrappers.
int os_mutex_create(OsMutex** holder, const char* name, int32_t flags);
int os_mutex_destroy(OsMutex* holder);
int os_mutex_lock(OsMutex* holder);
int os_mutex_unlock(OsMutex* holder);
int os_cond_create(void** object, const char* name);
void* os_calloc(int64_t cls, size_t n);
int os_free(int64_t cls, void* p);
void* os_realloc(int64_t cls, void* p, size_t n);
void os_sleep(int32_t seconds);
TV_API int rhostname(char* buf, int32_t length);
int os_wake_thread(int64_t thread_id, int32_t code);

// Interrupt slots: 15 the pipe wake-up (SIGUSR1), 16 urgent data (SIGURG),
// 20 break (SIGINT).
typedef void (*OsInterruptHandler)(int slot);
#define OS_INTERRUPT_SLOTS 32
OsInterruptHandler os_set_interrupt_handler(int32_t slot, OsInterruptHandler handler);

typedef struct AsfUserRecord {
  char name[256];
  char password[8];
  int32_t uid;
  int32_t gid;
  char home[512];
  char shell[64];
} AsfUserRecord;
int os_user_record(int32_t uid, AsfUserRecord* out);

// The current directory in the internal code set: 0, or -1.
int asf_getcwd(char* buf, int32_t size);

TV_END_C
