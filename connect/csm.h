// The communication support modules as the sessions see them: whether an
// association has a module chain that encodes or decodes its data, and the
// chain's send, receive, close and abort. csm_stub.cc stands in until the
// module loader is built: no association has a chain.
#pragma once

#include "connect/asf_assoc.h"
#include "platform/api.h"

TV_BEGIN_C

int csm_has_chain(const AsfAssociation* assoc);
int csm_encodes(const AsfAssociation* assoc);
int csm_decodes(const AsfAssociation* assoc);
int csm_entry_has_csm(const AsfServerEntry* entry);
int csm_send(AsfControlBlock* cb, AsfPacketBuffer* buf);
int csm_receive(AsfControlBlock* cb, AsfPacketBuffer** buf);
int csm_close(AsfControlBlock* cb);
int csm_abort(AsfControlBlock* cb);
int csm_put_buffer(AsfAssociation* assoc, AsfPacketBuffer* buf);

TV_END_C
