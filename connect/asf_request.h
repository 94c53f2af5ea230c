// The control block and the request records of the service call.
//
// A caller fills an AsfRequest (a type 0 to 22 and that type's body) and
// passes it with an AsfControlBlock to asf_service_request. Every body is
// padded to the size that asf_request_init zeroes for its type.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/api.h"

TV_BEGIN_C

struct AsfAssociation;
struct AsfRequest;
struct AsfControlBlock;
struct AsfPacketBuffer;

typedef void (*AsfCallback)(struct AsfControlBlock* cb, struct AsfRequest* request);

typedef struct AsfControlBlock {
  int32_t error;     // 0, a negative error, or a positive completion code
  int32_t os_error;  // the secondary code
  char text[428];
  struct AsfAssociation* assoc;
  int32_t mode;        // 1 synchronous, 2 asynchronous
  int32_t timeout_ms;  // -1: none
  AsfCallback callback;
  int32_t reserved;
  char file[16];  // where the error was recorded
  int16_t line;
} AsfControlBlock;

// Completion codes of the error word.
enum {
  ASF_IN_PROGRESS = 1,
  ASF_ABORTED_PENDING = 2,
  ASF_TIMEOUT = 6,
  ASF_REFUSED = 7,
  ASF_SETUP_FAILED = 8,
  ASF_MUX_REFUSED = 10,
  ASF_REDIRECTED = 128,
};

// Request types.
enum {
  ASF_INIT = 0, ASF_LISTEN = 1, ASF_LOOKUP = 2, ASF_CONNECT = 3, ASF_ACCEPT = 4,
  ASF_RESPOND = 5, ASF_SEND = 6, ASF_RECV = 7, ASF_INTERRUPT = 8, ASF_RELEASE = 9,
  ASF_ASSOCABORT = 10, ASF_WAIT = 11, ASF_ATTRIBUTE = 12, ASF_HANDOVER = 13,
  ASF_GETBUFFER = 16, ASF_SPECIAL_ACCEPT = 20, ASF_REACCEPT = 21, ASF_ACCEPT_SHARED = 22,
  ASF_MAX_TYPE = 22,
};

// Session information carried by listen, connect, accept and respond.
typedef struct AsfSessionInfo {
  char server_type[8];
  int32_t level;  // -1: 61
  char protocol[8];
  int32_t word;   // -1: 1
  unsigned char rest[16];
} AsfSessionInfo;

// How a target is named.
typedef struct AsfTarget {
  int32_t kind;  // 1 address text, 3 database@server, 7 none
  char* text;
} AsfTarget;

// 40-byte driver-configuration entry of the init request.
typedef struct AsfDriverConfig {
  char name[8];
  int32_t value1;
  char text[24];
  int32_t value2;
} AsfDriverConfig;

typedef struct AsfInitBody {  // type 0
  uint32_t flags;             // 0x10 initialise, 0x10000 take over
  int32_t setting1, setting2, setting3;
  int32_t entry_count;
  AsfDriverConfig* entries;
  int32_t setting4;
  void* setting_ptr;
  void* listener_user;
  struct AsfAssociation* listener_out;
  void* server_user;
  struct AsfAssociation* server_out;
  void* client_user;
  struct AsfAssociation* client_out;
  unsigned char pad[16];
} AsfInitBody;

typedef struct AsfListenBody {  // type 1
  int32_t mode;
  struct AsfAssociation* listener;
  unsigned char* flag_area;
  int32_t auth_mode;
  AsfTarget target;
  AsfSessionInfo info;
} AsfListenBody;

typedef struct AsfLookupBody {  // type 2
  int32_t mode;
  AsfTarget target;
  void* unused1;
  void* unused2;
  void* server_list;  // out: AsfServerList*
  void* env_list;
} AsfLookupBody;

typedef struct AsfConnectBody {  // type 3
  uint32_t flags;
  AsfTarget target;
  int32_t retry;
  unsigned char* flag_area;
  struct AsfAssociation* parent;
  void* conn_record;  // AsfConnRecord*
  void* env_list;
  void* credential;   // SqliConnCred*
  void* server_record;  // out
  void* option_list;    // out
  void* cred_answer;    // out
  struct AsfAssociation* assoc;  // out
  AsfSessionInfo info;
} AsfConnectBody;

typedef struct AsfAcceptBody {  // types 4, 20, 21, 22
  uint32_t flags;
  unsigned char* flag_area;
  void* conn_record;  // out
  void* option_list;  // out
  void* credential;   // out
  struct AsfAssociation* assoc;  // out; for 21 the association to re-accept
  AsfSessionInfo info;
} AsfAcceptBody;

typedef struct AsfRespondBody {  // type 5
  int32_t code;  // 0 accept, 7 reject, 128 redirect
  AsfSessionInfo info;
  void* conn_record;
  void* option_list;  // out
  void* credential;
} AsfRespondBody;

typedef struct AsfDataBody {  // types 6 and 7
  uint32_t flags;
  int16_t value;  // -1
  struct AsfPacketBuffer* buffer;
  unsigned char pad[8];
} AsfDataBody;

typedef struct AsfReleaseBody {  // type 9
  int32_t code;
  int16_t value;
  void* pointer;
  unsigned char pad[8];
} AsfReleaseBody;

typedef struct AsfFlagsBody {  // types 8, 10, 11, 13, 17
  uint32_t flags;  // abort: 0 orderly, 0x8000 abortive, 0x18000 at once
  unsigned char pad[12];
} AsfFlagsBody;

typedef struct AsfAttributeBody {  // type 12
  int32_t code;
  void* value;
} AsfAttributeBody;

typedef struct AsfGetBufferBody {  // type 16
  uint32_t flags;
  struct AsfPacketBuffer* buffer;  // out
} AsfGetBufferBody;

typedef struct AsfReservedBody {  // types 14 and 15
  unsigned char raw[24];
} AsfReservedBody;

typedef union AsfRequestBody {
  AsfInitBody init;
  AsfListenBody listen;
  AsfLookupBody lookup;
  AsfConnectBody connect;
  AsfAcceptBody accept;
  AsfRespondBody respond;
  AsfDataBody data;
  AsfReleaseBody release;
  AsfFlagsBody flags;
  AsfAttributeBody attribute;
  AsfGetBufferBody get_buffer;
  AsfReservedBody reserved;
  unsigned char raw[144];
} AsfRequestBody;

typedef struct AsfRequest {
  int32_t type;
  AsfRequestBody body;
} AsfRequest;

// The one entry of the layer: 0, or -1 with the error in the control block.
TV_API int asf_service_request(AsfControlBlock* cb, AsfRequest* request);
// Stores the type and zeroes that type's body: 0, or -1 (types 18, 19 and
// above 22; the record is left as it was).
TV_API int asf_request_init(int32_t type, AsfRequest* request);
// The body bytes that asf_request_init zeroes for a type, or -1.
int32_t asf_request_body_size(int32_t type);

TV_END_C

#ifdef __cplusplus
static_assert(sizeof(AsfSessionInfo) == 40);
static_assert(sizeof(AsfInitBody) == 112);
static_assert(sizeof(AsfListenBody) == 88);
static_assert(sizeof(AsfLookupBody) == 56);
static_assert(sizeof(AsfConnectBody) == 144);
static_assert(sizeof(AsfAcceptBody) == 88);
static_assert(sizeof(AsfRespondBody) == 72);
static_assert(sizeof(AsfDataBody) == 24);
static_assert(sizeof(AsfReleaseBody) == 24);
static_assert(sizeof(AsfFlagsBody) == 16);
static_assert(sizeof(AsfAttributeBody) == 16);
static_assert(sizeof(AsfGetBufferBody) == 16);
static_assert(sizeof(AsfDriverConfig) == 40);
static_assert(offsetof(AsfRequest, body) == 8);
#endif
