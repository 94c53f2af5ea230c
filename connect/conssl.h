// The security-toolkit loader and the TLS operations the socket driver
// calls for "socssl".
#pragma once

#include <stdint.h>

#include "connect/transport.h"
#include "platform/api.h"

TV_BEGIN_C

// The key-store settings of conssl.cfg.
typedef struct ConsslConfig {
  char key_store[513];
  char stash[513];  // empty: no stash file
} ConsslConfig;

// Reads TARVELONDIR/etc/conssl.cfg (absent: the defaults): 0, or -1 when
// it cannot be read or TARVELONDIR is unset.
int conssl_read_config(ConsslConfig* config);
// 1 while the toolkit is loaded with an open environment.
int conssl_toolkit_loaded(void);

int conssl_load_toolkit(AsfControlBlock* cb);
int conssl_unload_toolkit(void);
int conssl_open_client(AsfDriver* d, int fd, AsfControlBlock* cb);
int conssl_open_server(AsfDriver* d, int fd, AsfControlBlock* cb);
int conssl_read(AsfDriver* d, void* buf, int32_t length, int32_t* count, AsfControlBlock* cb);
int conssl_write(AsfDriver* d, const void* buf, int32_t length, int32_t* count,
                 AsfControlBlock* cb);
int conssl_close(AsfDriver* d, int fd);

TV_END_C
