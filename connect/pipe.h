// Entry functions of the pipe drivers' protocol-table rows.
#include <stddef.h>
#pragma once

#include "connect/break_control.h"
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

// The named-pipe driver's protocol-table rows.
int npipe_init(AsfControlBlock* cb, AsfRequest* r, int32_t id, const char* name);
int npipe_shutdown(AsfControlBlock* cb, AsfRequest* r);
int npipe_connect(AsfDriver* d, AsfTransportRequest* tr, AsfControlBlock* cb);
int npipe_listen(AsfDriver* d, AsfTransportRequest* tr, int32_t mode, AsfControlBlock* cb);
int npipe_import(AsfDriver* d, struct AsfArena* arena, AsfControlBlock* cb);
int npipe_resolve(const char* text, AsfAddress* out, AsfControlBlock* cb, AsfDriver* d, int32_t r);
int npipe_describe_peer(const AsfAddress* peer, AsfAddressBlock** out, AsfDriver* d,
                        AsfControlBlock* cb);
// The pipe name of a target address (two backslashes, "." or the host,
// then PIPE and the service, separated by backslashes): 0, or -1.
int npipe_name(const AsfAddress* target, char* name, size_t room);
// The socket path that stands for a pipe name of this host: 0, or -1 for
// another host's pipe or a path too long for a socket.
int npipe_socket_path(const char* name, char* path, size_t room);
// The busy-pipe retry loop of a connect: 0 with the connected handle, or
// -1 (-908 stored).
int npipe_open(const char* path, void* record, AsfControlBlock* cb, int* fd_out);

TV_END_C
