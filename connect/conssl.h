// The security-toolkit loader and the TLS operations the socket driver
// calls for "socssl".
#pragma once

#include <stdint.h>

#include "connect/transport.h"
#include "platform/api.h"

TV_BEGIN_C

int conssl_load_toolkit(AsfControlBlock* cb);
int conssl_unload_toolkit(void);
int conssl_open_client(AsfDriver* d, int fd, AsfControlBlock* cb);
int conssl_open_server(AsfDriver* d, int fd, AsfControlBlock* cb);
int conssl_read(AsfDriver* d, void* buf, int32_t length, int32_t* count, AsfControlBlock* cb);
int conssl_write(AsfDriver* d, const void* buf, int32_t length, int32_t* count,
                 AsfControlBlock* cb);
int conssl_close(AsfDriver* d, int fd);

TV_END_C
