// The session an association carries: directly over the transport for
// server types "raw", "dr" and "dw", else through the session layer with
// its packets and multiplexing; and the connection handshake, the request
// in binary or text form and the replies.
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
  void* csm;  // the communication support module chain, when one is set up
} AsfSession;

// Room of the session-layer context behind the session record.
#define ASF_SL_CONTEXT_SIZE 256

typedef struct AsfSessionAttr {
  int32_t code;
  void* value;
} AsfSessionAttr;

// 1 when the server type uses the transport directly.
int sess_is_direct(const char* server_type);

// Client handshake: connects the session of cb's association to the
// server entry with the connect body's record, option list and
// credential; `shared`, when given, is an association whose multiplexed
// connection the new session may join.
int sess_start(AsfControlBlock* cb, AsfServerEntry* entry, AsfConnectBody* body,
               AsfIdentity* global_identity, AsfIdentity* identity, AsfAssociation* shared);
// A listening session on the entry's address.
int sess_listen(AsfControlBlock* cb, AsfServerEntry* entry, AsfListenBody* body);
// Accepts on the listener cb names into body->assoc (made by the caller),
// reading the request into the accept body and the peer into identity.
int sess_accept(AsfControlBlock* cb, AsfAcceptBody* body, AsfIdentity* identity);
// The server's first reply when a module authenticates the peer (110 and
// the negotiated level); the modules then negotiate over the session and
// sess_respond sends the answer (111) through the module chain.
int sess_module_accept(AsfControlBlock* cb, AsfAcceptBody* body, AsfIdentity* identity);
// Client side after the modules' negotiation: reads the server's answer
// (111, two acceptance bytes, the binary record) into the outputs; the
// record replaces the connect body's server record.
int sess_cred_exchange(AsfControlBlock* cb, SqliConnCred** answer, AsfOptionList** options,
                       AsfIdentity* identity, AsfConnectBody* body);
// Sends the connection reply on an accepted session.
int sess_respond(AsfControlBlock* cb, AsfRespondBody* body, AsfIdentity* global_identity);
int sess_send(AsfControlBlock* cb, AsfDataBody* body);
int sess_recv(AsfControlBlock* cb, AsfDataBody* body);
int sess_release(AsfControlBlock* cb, int32_t code, AsfRequest* body);
int sess_interrupt(AsfControlBlock* cb, AsfFlagsBody* body);
int sess_attributes(AsfControlBlock* cb, AsfSessionAttr* attr);
int sess_export(AsfControlBlock* cb, AsfArena* arena);
int sess_import(AsfControlBlock* cb, AsfArena* arena);

TV_END_C
