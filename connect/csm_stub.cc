// Stand-in of the communication support modules: no association has a
// module chain, so every test answers "no chain" and the sessions send and
// receive on their own paths.
#include "connect/csm.h"

#include "connect/asfutil.h"

TV_BEGIN_C

int csm_has_chain(const AsfAssociation*) { return 0; }
int csm_encodes(const AsfAssociation*) { return 0; }
int csm_decodes(const AsfAssociation*) { return 0; }
int csm_entry_has_csm(const AsfServerEntry*) { return 0; }

int csm_send(AsfControlBlock* cb, AsfPacketBuffer*) { return ASF_ERROR(cb, -25546, 0), -1; }
int csm_receive(AsfControlBlock* cb, AsfPacketBuffer**) { return ASF_ERROR(cb, -25546, 0), -1; }
int csm_close(AsfControlBlock*) { return 0; }
int csm_abort(AsfControlBlock*) { return 0; }

int csm_put_buffer(AsfAssociation* assoc, AsfPacketBuffer* buf) {
  return asf_buffer_put(assoc, ASF_BF_SEND, buf);
}

TV_END_C
