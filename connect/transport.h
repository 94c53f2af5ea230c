// The transport layer: one byte-stream transport per association over a
// driver chosen by the protocol table ("ipcpip", "ipcnmp", "soctcp",
// "socssl"), the packet buffers that carry data between the session and
// the driver, and the 22-slot driver operation table.
#pragma once

#include <stdint.h>

#include "connect/asf_records.h"
#include "connect/asf_request.h"
#include "platform/api.h"

TV_BEGIN_C

struct AsfAssociation;
struct AsfArena;
struct AsfDriver;
struct AsfTransport;

typedef struct AsfPacketBuffer {
  char* position;      // next byte to send or read
  uint32_t left;       // bytes still to send or read; free room when empty
  int32_t marker;      // -2: never put back into the slot after a send
  int64_t reserved;
  char* data;
  uint32_t size;
  uint32_t start_offset;  // room kept in front for the session header
} AsfPacketBuffer;

// How a target or peer is named: kind 1 an address text, 2 a numeric peer
// address, 8 a peer host name; text is host "|" service "|" protocol.
typedef struct AsfAddressBlock {
  int32_t kind;
  char* text;
} AsfAddressBlock;

// A socket address as the driver keeps it.
typedef struct AsfSockAddr {
  unsigned char addr[16];  // IPv4 in the first 4 bytes
  uint16_t port;           // network byte order
  uint16_t family;         // 2 IPv4, 23 IPv6
  uint32_t scope_id;
} AsfSockAddr;

// A driver's view of an address: the socket form, or a text for the pipe
// drivers (program, pipe host and service).
typedef struct AsfAddress {
  AsfSockAddr sock;
  char text[528];
} AsfAddress;

// What a connect or listen asks of the transport.
typedef struct AsfTransportRequest {
  AsfAddressBlock address;
  AsfServerEntry* entry;  // options of the server entry, or null
} AsfTransportRequest;

// tl_attribute's request: code and result.
typedef struct AsfTlAttribute {
  int32_t code;
  void* result;  // code 12 style queries: int[2] descriptors
} AsfTlAttribute;

typedef struct AsfDriverOps {
  int (*init)(AsfControlBlock* cb, AsfRequest* init, int32_t protocol_id, const char* name);
  int (*shutdown)(AsfControlBlock* cb, AsfRequest* request);
  int (*connect)(struct AsfDriver* d, AsfTransportRequest* tr, AsfControlBlock* cb);
  int (*listen)(struct AsfDriver* d, AsfTransportRequest* tr, int32_t mode, AsfControlBlock* cb);
  int (*accept)(struct AsfDriver* listener, struct AsfAssociation* assoc, AsfAddressBlock** peer,
                AsfControlBlock* cb);
  int (*send)(struct AsfDriver* d, AsfPacketBuffer* buf, AsfControlBlock* cb,
              struct AsfTransport* t);
  int (*recv)(struct AsfDriver* d, AsfPacketBuffer** buf, AsfControlBlock* cb,
              struct AsfTransport* t);
  int (*interrupt)(struct AsfDriver* d, AsfPacketBuffer* buf, AsfControlBlock* cb,
                   struct AsfTransport* t);
  int (*expedited)(struct AsfDriver* d, AsfPacketBuffer** buf, AsfControlBlock* cb);
  int (*close)(struct AsfDriver* d, uint32_t flags, AsfControlBlock* cb);
  int (*export_)(struct AsfDriver* d, struct AsfArena* arena, int32_t* error_pair);
  int (*import)(struct AsfDriver* d, struct AsfArena* arena, AsfControlBlock* cb);
  int (*descriptors)(struct AsfDriver* d, AsfTlAttribute* request);
  int (*wait)(struct AsfDriver* d, int32_t timeout, AsfControlBlock* cb, struct AsfTransport* t);
  int (*resolve)(const char* text, AsfAddress* out, AsfControlBlock* cb, struct AsfDriver* d,
                 int32_t retry);
  int (*describe_peer)(const AsfAddress* peer, AsfAddressBlock** out, struct AsfDriver* d,
                       AsfControlBlock* cb);
  int (*reserved16)(void);
  int (*to_native)(const AsfAddress* address, void* native);
  int (*from_native)(const void* native, AsfAddress* out, int32_t family);
  int (*set_options)(struct AsfDriver* d, int fd, uint32_t bits);
  int (*arm_interrupt)(struct AsfAssociation* assoc, struct AsfDriver* d);
  int (*reserved21)(void);
} AsfDriverOps;

// Driver flags.
enum {
  DRV_CONNECTING = 1, DRV_ACCEPTED = 2, DRV_CLOSING = 0x20, DRV_LISTENER = 0x40,
  DRV_NONBLOCKING = 0x80, DRV_INTERRUPT_ARMED = 0x100,
  // The last plain read filled its buffer, so more is likely waiting: a
  // read under a time-out tries the socket before it waits. Kept in this
  // process only (never exported).
  DRV_RECV_FILLED = 0x200,
};

typedef struct AsfDriver {
  uint32_t flags;
  AsfDriverOps ops;
  void* record;  // the driver's descriptor record
  int32_t protocol_id;
  char protocol_name[8];
  char kind_name[12];
  uint32_t options_applied;  // 4 keep-alive, 8 linger, 0x10 no-delay
  uint32_t buffer_size;
  uint32_t first_recv_flags;
  AsfPacketBuffer* owned[4];  // the packet buffers the driver made
  AsfAddress target;
  AsfAddress second;
} AsfDriver;

// Transport states.
enum {
  TL_NEW = 0, TL_FAILED = 1, TL_LISTENING = 2, TL_CONNECTING = 3, TL_ACCEPTING = 4,
  TL_OPEN = 6, TL_CLOSED = 7, TL_EXPORTED = 8, TL_IMPORTING = 9,
};

typedef struct AsfTransport {
  uint32_t flags;  // 1|0x10 listening, 2 connecting, 4 a driver call failed, 8 exported
  int32_t state;
  int32_t protocol_index;
  AsfDriver driver;
  uint32_t buffer_size;
} AsfTransport;

typedef struct AsfAddressFamily {
  int64_t family;
  const char* name;
} AsfAddressFamily;

typedef struct AsfProtocolEntry {
  const char* name;
  int32_t id;
  const AsfAddressFamily* family;
  const char* kind_name;
  int (*init)(AsfControlBlock* cb, AsfRequest* init, int32_t protocol_id, const char* name);
  int (*shutdown)(AsfControlBlock* cb, AsfRequest* request);
  int (*connect)(AsfDriver* d, AsfTransportRequest* tr, AsfControlBlock* cb);
  int (*listen)(AsfDriver* d, AsfTransportRequest* tr, int32_t mode, AsfControlBlock* cb);
  int (*import)(AsfDriver* d, struct AsfArena* arena, AsfControlBlock* cb);
  int (*resolve)(const char* text, AsfAddress* out, AsfControlBlock* cb, AsfDriver* d,
                 int32_t retry);
  int (*describe_peer)(const AsfAddress* peer, AsfAddressBlock** out, AsfDriver* d,
                       AsfControlBlock* cb);
} AsfProtocolEntry;

// Close flags.
enum { TL_CLOSE_ABORTIVE = 0x8000, TL_CLOSE_LISTENER = 512, TL_CLOSE_KEEP_OPEN = 0x100 };

int tl_find_protocol(const char* address);
int tl_protocol_table(const AsfProtocolEntry** out);
int tl_connect(AsfControlBlock* cb, AsfTransportRequest* tr);
int tl_listen(AsfControlBlock* cb, AsfTransportRequest* tr, int32_t mode);
int tl_accept(AsfControlBlock* cb, struct AsfAssociation* assoc, AsfAddressBlock** peer);
int tl_send(AsfControlBlock* cb, AsfPacketBuffer* buf);
int tl_recv(AsfControlBlock* cb, AsfPacketBuffer** buf);
int tl_interrupt(AsfControlBlock* cb, AsfPacketBuffer* buf);
int tl_wait(AsfControlBlock* cb, int32_t timeout);
int tl_attribute(AsfControlBlock* cb, AsfTlAttribute* request);
int tl_export(AsfControlBlock* cb, struct AsfArena* arena);
int tl_import(AsfControlBlock* cb, struct AsfArena* arena);
int tl_close(AsfControlBlock* cb, uint32_t flags);
int tl_init_drivers(AsfControlBlock* cb, AsfRequest* init);
int tl_shutdown_drivers(AsfControlBlock* cb, AsfRequest* request);

// A peer record made by a driver: its text and the record.
void asf_free_address_block(AsfAddressBlock* block);

TV_END_C
