// The communication support modules as the sessions see them: whether an
// association has a module chain that encodes or decodes its data, and the
// chain's send, receive, close and abort, and the calls a module library
// is entered through (its entry table's slots).
#pragma once

#include <stdint.h>

#include "connect/asf_assoc.h"
#include "connect/csm_config.h"
#include "platform/api.h"

TV_BEGIN_C

// What the framework hands every negotiation step: the server entry the
// association is set up for and the callbacks a module may use.
typedef struct CsmContext {
  const char* server_name;
  const char* address;
  AsfServerEntry* entry;
  void* callbacks[2];  // the trust check, the message lookup
} CsmContext;

// The slots of the entry table, in order after the version word.
typedef int (*CsmTerminateFn)(void** module, char* text);
typedef int (*CsmStartFn)(void* instance, uint32_t* flags, CsmStatus* status);
typedef int (*CsmConnectFn)(void** instance, void* module, CsmContext* context, CsmBuffer* input,
                            CsmBuffer** output, int32_t zero, const char* options, CsmStatus* status);
typedef int (*CsmAcceptFn)(void** instance, void* module, CsmContext* context, CsmBuffer* input,
                           CsmBuffer** output, const char* options, CsmStatus* status);
typedef int (*CsmTransformFn)(void* instance, CsmBuffer* input, CsmBuffer** output, CsmStatus* status);
typedef int (*CsmAbortFn)(void* instance, const char* reason, CsmStatus* status);
typedef int (*CsmReleaseFn)(void* instance, CsmBuffer* buffer, CsmStatus* status);
enum {
  CSM_SLOT_TERMINATE, CSM_SLOT_START, CSM_SLOT_CONNECT, CSM_SLOT_ACCEPT, CSM_SLOT_ENCODE,
  CSM_SLOT_DECODE, CSM_SLOT_CLOSE, CSM_SLOT_ABORT, CSM_SLOT_RELEASE
};

// Builds the association's chain for the entry's csm value and runs the
// connect or accept negotiation over its session: 0, or -1 with the error
// in the control block.
int csm_connect(AsfControlBlock* cb, AsfServerEntry* entry);
int csm_accept(AsfControlBlock* cb, AsfServerEntry* entry);
// Frees an association's chain without telling the module's peer.
void csm_forget(AsfAssociation* assoc);

int csm_has_chain(const AsfAssociation* assoc);
int csm_encodes(const AsfAssociation* assoc);
int csm_decodes(const AsfAssociation* assoc);
int csm_entry_has_csm(const AsfServerEntry* entry);
int csm_send(AsfControlBlock* cb, AsfPacketBuffer* buf);
int csm_receive(AsfControlBlock* cb, AsfPacketBuffer** buf);
int csm_close(AsfControlBlock* cb);
int csm_abort(AsfControlBlock* cb);
// The module at one end of the chain (0 top, 1 bottom) releases a buffer
// it produced: 0, or -1 (-14576 no chain, -14579 bad end or the chain is
// busy, -14577 no module there, -14510 no buffer, -14578 the module
// releases nothing, or the module's error).
int csm_release_buffer(AsfControlBlock* cb, CsmBuffer* buffer, int32_t end);
int csm_put_buffer(AsfAssociation* assoc, AsfPacketBuffer* buf);

TV_END_C
