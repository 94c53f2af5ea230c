// Socket-library wrappers of the socket driver. Each is the BSD call of the
// same role; a failure leaves errno as the system set it. Interrupted
// calls are not retried here: the driver decides.
#pragma once

#include <stddef.h>
#include <sys/select.h>
#include <sys/socket.h>

#include "platform/api.h"

TV_BEGIN_C

int sock_select(int n, fd_set* r, fd_set* w, fd_set* x, struct timeval* tv);
int sock_accept(int fd, struct sockaddr* addr, socklen_t* len);
int sock_bind(int fd, const struct sockaddr* addr, socklen_t len);
int sock_close(int fd);
int sock_connect(int fd, const struct sockaddr* addr, socklen_t len);
int sock_ioctl(int fd, unsigned long request, int* value);
int sock_listen(int fd, int backlog);
ssize_t sock_recv(int fd, void* buf, size_t n, int flags);
ssize_t sock_send(int fd, const void* buf, size_t n, int flags);
int sock_setopt(int fd, int level, int name, const void* value, socklen_t len);
int sock_shutdown(int fd, int how);
// Switches non-blocking mode: 0 success, 1 failure (errno cleared first).
int sock_set_nbio(int fd, int on);
// A stream socket of the family, close-on-exec.
int sock_socket(int family, int type, int protocol);

TV_END_C
