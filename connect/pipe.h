// Entry functions of the pipe drivers' protocol-table rows.
#pragma once

#include "connect/transport.h"

TV_BEGIN_C

int pipe_init(AsfControlBlock* cb, AsfRequest* r, int32_t id, const char* name);
int pipe_shutdown(AsfControlBlock* cb, AsfRequest* r);
int pipe_connect(AsfDriver* d, AsfTransportRequest* tr, AsfControlBlock* cb);
int pipe_listen(AsfDriver* d, AsfTransportRequest* tr, int32_t mode, AsfControlBlock* cb);
int pipe_import(AsfDriver* d, struct AsfArena* arena, AsfControlBlock* cb);
int pipe_resolve(const char* text, AsfAddress* out, AsfControlBlock* cb, AsfDriver* d, int32_t r);
int pipe_describe_peer(const AsfAddress* peer, AsfAddressBlock** out, AsfDriver* d,
                       AsfControlBlock* cb);

TV_END_C
