// The association handle, its state record with the four pending-request
// slots, and the process-wide AsfGlobal record.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "connect/asf_records.h"
#include "connect/asf_request.h"
#include "connect/transport.h"
#include "platform/api.h"

TV_BEGIN_C

#define ASF_MAGIC 0x41534652u  // 'A' 'S' 'F' 'R'
#define ASF_CHECK 0x52415346u  // 'R' 'A' 'S' 'F'

// Association kinds.
enum { ASF_INITIATOR = 1, ASF_RESPONDER = 2, ASF_LISTENER = 3 };

// Association states.
enum {
  ASF_ST_NEW = 0, ASF_ST_ESTABLISHED = 1, ASF_ST_SETUP = 2, ASF_ST_ABORT_PENDING = 4,
  ASF_ST_RELEASE_PENDING = 5, ASF_ST_RELEASED = 6, ASF_ST_ABORTED = 7, ASF_ST_FAILED = 8,
};

// Pending-request slots, in this order.
enum { ASF_SLOT_OUT = 0, ASF_SLOT_IN = 1, ASF_SLOT_ABORT = 2, ASF_SLOT_EXPEDITED = 3, ASF_SLOTS = 4 };

// Packet-buffer slots of the handle, in this order.
enum { ASF_BUF_RECV = 0, ASF_BUF_SEND = 1, ASF_BUF_XRECV = 2, ASF_BUF_XSEND = 3 };

#define ASF_THREADED 0x10u

typedef struct OsMutex OsMutex;

typedef struct AsfPendingSlot {
  AsfControlBlock* caller;
  AsfRequest* request;
  AsfControlBlock block;  // the handler runs on this copy
  int32_t busy;
} AsfPendingSlot;

struct AsfAssociation;

typedef struct AsfAssocState {
  int32_t kind;
  int32_t state;
  char field1[8];
  char field2[8];
  struct AsfAssociation* prev;
  struct AsfAssociation* next;
  struct AsfAssociation* parent;
  struct AsfAssociation* children;
  int32_t child_count;
  unsigned char* flag_area;  // byte 0 closed flag, byte 1 interrupt byte
  AsfConnRecord* conn_record;
  SqliConnCred* credential;  // credential record or credential answer
  AsfOptionList* option_list;
  AsfServerEntry* server_entry;
  // Connect-loop bookkeeping.
  AsfServerList* server_list;
  int32_t entry_index;
  int64_t start_time;
  int32_t budget;
  int32_t retry_count;
  int64_t slice_start;
  int32_t next_wait;
  int32_t slice;
  AsfCallback saved_callback;
  int32_t auth_mode;
  int32_t session_level;
  AsfIdentity peer;
  int32_t peer_uid;
  int32_t peer_gid;
  char* message;
  AsfPendingSlot slots[ASF_SLOTS];
  AsfRequest saved_abort;
  AsfControlBlock saved_abort_block;
  int32_t handover_fd;
  int32_t handover_open;
} AsfAssocState;

struct AsfSession;

typedef struct AsfAssociation {
  uint32_t magic;
  int32_t kind;
  int32_t session_owner;  // 16 while the association owns its session
  uint32_t flags;         // 0x10 threaded; other bits are the caller's
  unsigned char own_irq[2];
  unsigned char* user;    // the caller's 2-byte flag area
  struct AsfAssociation* parent;
  AsfAssocState* state;
  int32_t state_size;
  struct AsfSession* session;
  int32_t session_size;
  void* sl_context;
  int32_t sl_context_offset;
  int32_t sl_context_size;
  AsfTransport* transport;
  int32_t transport_size;
  AsfDriver* driver;        // the transport's driver, once opened
  AsfDriverOps* ops;
  OsMutex* mutex;           // "asf_assoc"
  char server_type[8];
  char protocol[8];
  int32_t header_room;      // 6 once a session is attached
  AsfPacketBuffer* buffers[4];  // receive, send, expedited receive, expedited send
  uint32_t check;
  AsfAssocState embedded;
} AsfAssociation;

typedef struct AsfGlobal {
  int32_t word;
  int32_t handover_flag;
  AsfAssociation* clients;
  AsfAssociation* listeners;
  AsfAssociation* servers;
  uint32_t init_flags;
  int32_t setting2;
  int32_t setting3;
  int32_t zero_word;
  int32_t setting4;
  void* setting_ptr;
  OsMutex* mutex;  // "asf_global"
  int32_t client_count;
  int32_t server_count;
  int32_t listener_count;
  void* mux_listeners;  // SlMuxListener list head
  void* pointers[5];
  int32_t setting1;
  int32_t setting1_current;
  AsfIdentity identity;
  int32_t entry_count;
  AsfDriverConfig* entries;
  void* modules;  // loaded communication support modules
  int32_t words[2];
  uint32_t debug_categories;
  uint32_t debug_details;
  FILE* debug_stream;
  void* tl_block;  // the transport layer's process block
} AsfGlobal;

// 1 when the handle is neither null nor all ones and carries its magic.
int asf_assoc_valid(const AsfAssociation* assoc);

// The process's global record, or null before init.
AsfGlobal* asf_global_get(void);
// Init and hand-over install and drop it.
void asf_global_set(AsfGlobal* global);

TV_END_C
