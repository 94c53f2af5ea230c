// Steps shared by the set-up handlers.
#pragma once

#include "connect/asfapi_internal.h"

TV_BEGIN_C

// The synchronous connect loop over a server list (freed here): 0 or -1.
int al_connect_loop(AsfControlBlock* cb, AsfConnectBody* body, AsfServerList* list,
                    int64_t start, int32_t budget);
// Aborts the state record's association at once, keeping cb's error.
void al_abort_at_once(AsfControlBlock* cb, AsfAssocState* st);
// Takes over the associations a parent program handed over.
int al_takeover_all(AsfControlBlock* cb, AsfInitBody* body);
// The module configuration loader of this build.
int al_csm_ensure_config(void);
// Peer authentication of an accepted association: 0, or -1 with the error.
int al_peer_auth(AsfControlBlock* cb, AsfAssocState* st, int32_t mode);
// Puts "user@host" of the peer into the control block's text.
void al_peer_text(AsfControlBlock* cb, AsfAssocState* st);

TV_END_C
