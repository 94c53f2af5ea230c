// Socket-library wrappers.
#include "connect/sockets.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

TV_BEGIN_C

int sock_select(int n, fd_set* r, fd_set* w, fd_set* x, struct timeval* tv) {
  return select(n, r, w, x, tv);
}
int sock_accept(int fd, struct sockaddr* addr, socklen_t* len) {
  return accept4(fd, addr, len, SOCK_CLOEXEC);
}
int sock_bind(int fd, const struct sockaddr* addr, socklen_t len) { return bind(fd, addr, len); }
int sock_close(int fd) { return close(fd); }
int sock_connect(int fd, const struct sockaddr* addr, socklen_t len) {
  return connect(fd, addr, len);
}
int sock_ioctl(int fd, unsigned long request, int* value) { return ioctl(fd, request, value); }
int sock_listen(int fd, int backlog) { return listen(fd, backlog); }
ssize_t sock_recv(int fd, void* buf, size_t n, int flags) { return recv(fd, buf, n, flags); }
ssize_t sock_send(int fd, const void* buf, size_t n, int flags) {
  return send(fd, buf, n, flags | MSG_NOSIGNAL);
}
int sock_setopt(int fd, int level, int name, const void* value, socklen_t len) {
  return setsockopt(fd, level, name, value, len);
}
int sock_shutdown(int fd, int how) { return shutdown(fd, how); }
int sock_set_nbio(int fd, int on) {
  errno = 0;
  int value = on ? 1 : 0;
  return ioctl(fd, FIONBIO, &value) == 0 ? 0 : 1;
}
int sock_socket(int family, int type, int protocol) {
  return socket(family, type | SOCK_CLOEXEC, protocol);
}

TV_END_C
