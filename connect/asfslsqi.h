// The session layer: session packets with a 6-byte header between the
// sessions and the transport, the connection handshake in them, and the
// multiplexing of up to 64 sessions over one transport connection.
//
// Session packet header (big-endian):
//   0 u16 total length with the header (at most 2,056; data packets 7 or
//     more), 2 u8 type, 3 u8 flags (first-session request and reply: bit 7
//     multiplexing, bits 0-6 the sender's level; multiplexed packets: the
//     slot), 4 u16 the sender's buffer size in replies, else 0.
// No header below level 60. A text request travels as "sq" and the header
// in 8 base64-variant characters; an unframed text request starts "sqle".
// Types: 1 request, 2 accepted, 3 refused, 6 data, 10 further session,
// 11 further session accepted, 12 further session refused (also the
// 22-byte refusal of a connection without a "sqlmux" listener), 13
// redirected, 14 further request on an accepted association.
#pragma once

#include <stdint.h>

#include "connect/asf_assoc.h"
#include "connect/transport.h"
#include "platform/api.h"

TV_BEGIN_C

#define SL_MAX_PACKET 2056
#define SL_HEADER 6
#define SL_SLOTS 64

enum {
  SL_ST_LISTENING = 1, SL_ST_SENDING = 10, SL_ST_SENDING_REST = 11, SL_ST_READING_REPLY = 12,
  SL_ST_COMPLETED = 13, SL_ST_ACCEPTING = 15, SL_ST_READING_REQUEST = 16,
  SL_ST_REQUEST_READ = 17, SL_ST_REPLYING = 18, SL_ST_ESTABLISHED = 20,
  SL_ST_LAST_BUFFER = 40, SL_ST_RELEASED = 50, SL_ST_FAILED = 100,
};

enum { SL_HEADERS = 1, SL_MULTIPLEXED = 2, SL_HANDSHAKE = 4 };
enum { SL_FORM_TEXT = 256, SL_FORM_BINARY = 512 };

struct SlMuxControl;
struct SlMuxRequest;

// The session-layer part of an association's session memory.
typedef struct SlSessionContext {
  int32_t state;
  uint32_t flags;
  int32_t form;
  int32_t cls;       // connect class 1, 2 or 4
  int32_t slot;
  int32_t level;     // this session's level
  struct SlMuxControl* mux;
  struct SlMuxRequest* queued;
  AsfPacketBuffer* data;  // received data handed out (the session's own)
  AsfPacketBuffer* send;  // the session's send buffer on a shared connection
  AsfPacketBuffer* xsend;
  int32_t is_listener_mux;  // a listener on "sqlmux"
  struct SlMuxListener* mux_listener;
} SlSessionContext;

// Listen set-up: listen body's level; the address's protocol "sqlmux"
// makes a multiplexed listener with no transport.
int sl_session_setup(AsfControlBlock* cb, AsfTransportRequest* tr, int32_t level);
// Client handshake. cls_form: class (1, 2, 4) plus form (256, 512). The
// reply data (allocated) in *reply on state 20 or a completion code
// 7/128 (cb->error); -1 otherwise.
int sl_connect(AsfControlBlock* cb, int32_t cls_form, AsfTransportRequest* tr, int32_t level,
               AsfPacketBuffer* request, AsfPacketBuffer** reply, AsfAssociation* shared,
               int32_t multiplex);
// Server: reads the connection request on the new association. cb names
// the listener; on return the request data (allocated, NUL-terminated)
// and the peer record.
int sl_accept(AsfControlBlock* cb, AsfAssociation* assoc, AsfPacketBuffer** request,
              AsfAddressBlock** peer);
int sl_respond(AsfControlBlock* cb, int32_t cls, int32_t code, AsfPacketBuffer* reply);
int sl_send(AsfControlBlock* cb, AsfPacketBuffer* buf);
int sl_recv(AsfControlBlock* cb, AsfPacketBuffer** buf);
int sl_interrupt(AsfControlBlock* cb);
int sl_release(AsfControlBlock* cb, int32_t code, AsfPacketBuffer* buf);
// Attribute queries: code 9 fills the value record {pointer to the
// connection's session count, pointer to the context's flags}; codes 2 and
// 258 do nothing; others go to the transport.
typedef struct SlMuxAttribute {
  int32_t* session_count;
  uint32_t* flags;
} SlMuxAttribute;
int sl_attributes(AsfControlBlock* cb, int32_t code, void* value);
// The connection's session count: -1 without one.
int32_t sl_session_count(AsfAssociation* assoc);
// The slot of the session holding the receive role on the connection of
// `assoc`, or -1 when none holds it.
int32_t sl_receiver_slot(AsfAssociation* assoc);
// The level negotiated on the session's connection.
int32_t sl_level(AsfAssociation* assoc);

// Hand-over of a session's layer state: the export block, its import
// into the taken-over association, and the connection record made once
// the transport has been imported.
int sl_export(AsfControlBlock* cb, struct AsfArena* arena);
int sl_import(AsfControlBlock* cb, struct AsfArena* arena);
int sl_import_transport(AsfControlBlock* cb);

// A packet buffer of n bytes of its own (freed with sl_buffer_free).
AsfPacketBuffer* sl_buffer_new(uint32_t n);
void sl_buffer_free(AsfPacketBuffer* buf);

// Header helpers.
void sl_put_header(unsigned char* out, int32_t length, int32_t type, int32_t flags,
                   int32_t last);

TV_END_C
