// Records that the connectivity layer allocates, copies, frees and hands
// over: identities, credentials, start requests, option lists, connection
// records, server entries and server lists. Declared once here, in the
// field order the layer and its wire and hand-over formats use.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "connect/asf_request.h"
#include "platform/api.h"

TV_BEGIN_C

// A process's identity (96 bytes; travels whole in a hand-over).
typedef struct AsfIdentity {
  int64_t first;         // 0  (low 32 bits travel in a connection request)
  int32_t pid;           // 8
  int32_t second;        // 12
  char* host;            // 16
  char* computer;        // 24
  char* cwd;             // 32
  int32_t uid;           // 40
  int32_t gid;           // 44
  void* pointer_slot;    // 48
  char* text56;          // 56 (does not travel)
  int32_t umask;         // 64
  char* program;         // 72 (does not travel)
  unsigned char slot80[8];  // 80
  char* text88;          // 88
} AsfIdentity;

// The client's environment as sent to a server.
typedef struct AsfOptionList {
  int32_t count;
  char** names;
  char** values;
} AsfOptionList;

// The server-start part of a received connection request.
typedef struct AsfStartRequest {
  int32_t kind;
  uint32_t flags;
  char* server;
  char* option_arg;
  char* name;
  char* mode_arg;
  char* group_arg;
  char* group_name;
} AsfStartRequest;

typedef struct AsfTextList {
  uint32_t count;
  char** texts;
} AsfTextList;

typedef struct AsfCredentialEntry {
  int32_t code;
  int32_t length;
  unsigned char* bytes;
} AsfCredentialEntry;

typedef struct AsfCredentialData {
  int32_t subkind;              // 0
  int32_t pad4;
  union {
    AsfTextList* list;          // 8, subkind 1
    unsigned char settings[6];  // 8..13, subkind 2
  } u;
  int32_t values[3];            // 16, 20, 24
  int32_t entry_count;          // 28
  AsfCredentialEntry* entries;  // 32
  unsigned char pad40[16];
} AsfCredentialData;

// A credential as the layer sees it: kind 1 an AsfStartRequest, kind 2 an
// AsfCredentialData, kind -1 an AsfRawBlock.
typedef struct SqliConnCred {
  int16_t kind;
  void* data;
} SqliConnCred;

typedef struct AsfRawBlock {
  unsigned char* bytes;
  int32_t length;
} AsfRawBlock;

// User and password of a connection or a server entry.
typedef struct AsfCredentials {
  int32_t kind;  // 0 none, 1 user and password, 16, 17 current user
  char* user;
  char* password;
  int32_t word1;
  int64_t word2;
} AsfCredentials;

typedef struct AsfConnRecord {
  char program[12];
  char* name1;
  char* name2;
  char* name3;
  int32_t values[3];
  int32_t cred_kind;
  char* user;
  char* password;
  int32_t trust_flags;
  void* trust_pointer;
  AsfSessionInfo info;
} AsfConnRecord;

typedef struct AsfServerOptions {
  uint8_t security;
  uint8_t netrc;
  uint32_t kl_flags;  // bit 0 k, bit 1 l=0, bit 2 l=1..4
  int32_t buffer_size;
  uint8_t m;
  char g[129];
  char e[129];
  uint8_t rotation;
  int32_t i;
  char* csm;
  char* pam_service;
  int32_t pam_mode;
  int32_t send_timeout;
  int32_t recv_timeout;
  char a[256];
  char* cfd;
  char cltbind[256];
} AsfServerOptions;

typedef struct AsfServerEntry {
  char server_type[8];
  char protocol[8];
  char* server_name;
  char* database;
  int32_t address_kind;
  char* address;
  int32_t cred_kind;
  char* user;
  char* password;
  int32_t word1;
  int64_t word2;
  int32_t entry_code;
  AsfServerOptions options;
} AsfServerEntry;

#define ASF_SERVER_LIST_MAX 101
typedef struct AsfServerList {
  int32_t count;
  AsfServerEntry entries[ASF_SERVER_LIST_MAX];
} AsfServerList;

TV_END_C

#ifdef __cplusplus
static_assert(sizeof(AsfIdentity) == 96);
static_assert(offsetof(AsfIdentity, pid) == 8 && offsetof(AsfIdentity, host) == 16 &&
              offsetof(AsfIdentity, computer) == 24 && offsetof(AsfIdentity, cwd) == 32 &&
              offsetof(AsfIdentity, uid) == 40 && offsetof(AsfIdentity, gid) == 44 &&
              offsetof(AsfIdentity, pointer_slot) == 48 && offsetof(AsfIdentity, text56) == 56 &&
              offsetof(AsfIdentity, umask) == 64 && offsetof(AsfIdentity, program) == 72 &&
              offsetof(AsfIdentity, slot80) == 80 && offsetof(AsfIdentity, text88) == 88);
static_assert(sizeof(AsfStartRequest) == 56);
static_assert(sizeof(AsfCredentialData) == 56);
static_assert(offsetof(AsfCredentialData, u) == 8 && offsetof(AsfCredentialData, values) == 16 &&
              offsetof(AsfCredentialData, entry_count) == 28 &&
              offsetof(AsfCredentialData, entries) == 32);
static_assert(sizeof(AsfCredentialEntry) == 16);
#endif
