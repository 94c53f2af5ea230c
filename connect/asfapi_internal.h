// Internal steps of the service call, shared by the association handlers.
#pragma once

#include "connect/asf_assoc.h"

TV_BEGIN_C

typedef int (*AsfHandler)(AsfControlBlock* cb, AsfAssocState* st, AsfRequest* request);
typedef int (*AsfConfirm)(AsfControlBlock* cb, AsfAssocState* st);

typedef struct AsfServiceEntry {
  AsfHandler handler;
  AsfConfirm confirm;
} AsfServiceEntry;

typedef struct AsfStateCell {
  int32_t next;
  int32_t verdict;  // 0 allowed, -1 refused
} AsfStateCell;

// The cell of request type `type` (3 to 22) in state `state` (0 to 8).
const AsfStateCell* asf_state_cell(int32_t type, int32_t state);
// The pending slot a request type uses, or -1.
int al_pending_slot(int32_t type);

int asf_request_begin(int32_t type, AsfControlBlock* cb, AsfRequest* request,
                      AsfAssocState** st, AsfControlBlock** work);
int asf_request_end(int32_t type, AsfControlBlock* work);
AsfAssociation* asf_assoc_for_request(AsfControlBlock* cb, AsfRequest* request);

// The association whose embedded state record this is.
AsfAssociation* asf_assoc_of_state(AsfAssocState* st);
// Frees the records a state record holds: all of them, or (all 0) those a
// release frees for the association's kind.
void asf_state_free_records(AsfAssocState* st, int all);
// Frees an association with everything it still holds.
void asf_assoc_destroy(AsfAssociation* assoc);
// List operations under the list's mutex.
int asf_list_insert(OsMutex* mutex, AsfAssociation** head, int32_t* count, AsfAssociation* assoc);
int asf_list_remove(AsfAssociation* assoc);
// Performs an abort: session released, off its list, state 7.
int asf_perform_abort(AsfControlBlock* cb, AsfAssocState* st, AsfRequest* abort);

// Handlers of this layer.
int al_send(AsfControlBlock* cb, AsfAssocState* st, AsfRequest* request);
int al_recv(AsfControlBlock* cb, AsfAssocState* st, AsfRequest* request);
int al_interrupt(AsfControlBlock* cb, AsfAssocState* st, AsfRequest* request);
int al_wait(AsfControlBlock* cb, AsfAssocState* st, AsfRequest* request);
int al_release(AsfControlBlock* cb, AsfAssocState* st, AsfRequest* request);
int al_abort(AsfControlBlock* cb, AsfAssocState* st, AsfRequest* request);
int al_attribute(AsfControlBlock* cb, AsfAssocState* st, AsfRequest* request);
int al_get_buffer(AsfControlBlock* cb, AsfAssocState* st, AsfRequest* request);

// Set-up handlers.
int al_init(AsfControlBlock* cb, AsfAssocState* st, AsfRequest* request);
int al_listen(AsfControlBlock* cb, AsfAssocState* st, AsfRequest* request);
int al_lookup(AsfControlBlock* cb, AsfAssocState* st, AsfRequest* request);
int al_connect(AsfControlBlock* cb, AsfAssocState* st, AsfRequest* request);
int al_accept(AsfControlBlock* cb, AsfAssocState* st, AsfRequest* request);
int al_respond(AsfControlBlock* cb, AsfAssocState* st, AsfRequest* request);
int al_special_accept(AsfControlBlock* cb, AsfAssocState* st, AsfRequest* request);
int al_accept_move(AsfControlBlock* cb, AsfAssocState* st, AsfRequest* request);
int al_accept_shared(AsfControlBlock* cb, AsfAssocState* st, AsfRequest* request);
int al_handover(AsfControlBlock* cb, AsfAssocState* st, AsfRequest* request);
int al_connect_confirm(AsfControlBlock* cb, AsfAssocState* st);
int al_accept_confirm(AsfControlBlock* cb, AsfAssocState* st);
int al_respond_confirm(AsfControlBlock* cb, AsfAssocState* st);

TV_END_C
