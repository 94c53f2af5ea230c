#include "base/conn_calls.h"

#include <unistd.h>

int os_close(int fd) { return ::close(fd); }

int tv_getgid(void) { return 0; }

void asf_noop(void*, ...) {}
