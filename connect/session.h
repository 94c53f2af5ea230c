// The session an association carries. This holds the direct path of server
// types "raw", "dr" and "dw" over the transport; the session layer with its
// packets and multiplexing joins it behind the same calls.
#pragma once

#include <stdint.h>

#include "connect/asf_assoc.h"
#include "connect/asfutil.h"
#include "platform/api.h"

TV_BEGIN_C

// Session states.
enum {
  SESS_LISTENING = 1, SESS_CONNECTING = 10, SESS_ESTABLISHED = 20, SESS_RELEASING = 40,
  SESS_RELEASED = 50, SESS_EXPORTED = 60, SESS_IMPORTED = 61, SESS_FAILED = 100,
};

typedef struct AsfDataFormat {
  int32_t words[6];
} AsfDataFormat;

typedef struct AsfSession {
  int32_t state;
  int32_t selector;  // -1 direct over the transport, else the level
  int32_t connect_kind;
  int32_t unused;
  AsfSessionInfo info;
  AsfDataFormat format;
  int32_t peer_level;
  void* link;
} AsfSession;

// Room of the session-layer context behind the session record.
#define ASF_SL_CONTEXT_SIZE 256

typedef struct AsfSessionAttr {
  int32_t code;
  void* value;
} AsfSessionAttr;

// 1 when the server type uses the transport directly.
int sess_is_direct(const char* server_type);
int sess_send(AsfControlBlock* cb, AsfDataBody* body);
int sess_recv(AsfControlBlock* cb, AsfDataBody* body);
int sess_release(AsfControlBlock* cb, int32_t code, AsfRequest* body);
int sess_interrupt(AsfControlBlock* cb, AsfFlagsBody* body);
int sess_attributes(AsfControlBlock* cb, AsfSessionAttr* attr);
int sess_export(AsfControlBlock* cb, AsfArena* arena);
int sess_import(AsfControlBlock* cb, AsfArena* arena);

TV_END_C
