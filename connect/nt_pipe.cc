// The named-pipe driver ("ipcnmp"). A named pipe of this host is a
// Unix-domain stream socket: the pipe "\\.\PIPE\<service>" is the socket
// "tvpipe/<service>" in the temporary directory, made by the listener with
// mode 0666 so that everyone may connect. A pipe is busy while the
// listener's backlog is full (a non-blocking connect answers EAGAIN).
#include <fcntl.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "connect/asfutil.h"
#include "connect/driver.h"
#include "connect/pipe.h"
#include "platform/temp_dir.h"

namespace {

enum { NP_LISTENING = 2, NP_ACCEPTING = 3, NP_SENDING = 4, NP_RECEIVING = 5 };

struct NpRecord {
  int32_t handle;  // the connected pipe, or the listener's socket
  int32_t busy;    // set while a connect waits for a busy pipe
  int32_t state;
  char path[sizeof(sockaddr_un::sun_path)];  // the socket a listener made
};

constexpr uint32_t kMinBuffer = 32768;
constexpr uint32_t kReadLimit = 4096;
constexpr int kBacklog = 16;

NpRecord* Record(AsfDriver* d) { return static_cast<NpRecord*>(d->record); }

NpRecord* NewRecord() {
  auto* r = static_cast<NpRecord*>(std::calloc(1, sizeof(NpRecord)));
  if (r != nullptr) r->handle = -1;
  return r;
}

uint32_t BufferSize(const AsfServerEntry* e) {
  uint32_t size = e != nullptr && e->options.buffer_size > 0 ? static_cast<uint32_t>(e->options.buffer_size) : 0;
  return size < kMinBuffer ? kMinBuffer : size;
}

// An environment number; unset or empty gives the default.
long EnvNumber(const char* name, long fallback) {
  const char* v = std::getenv(name);
  if (v == nullptr || *v == '\0') return fallback;
  return std::strtol(v, nullptr, 10);
}

bool FillSocketAddress(const char* path, sockaddr_un* sa) {
  std::memset(sa, 0, sizeof *sa);
  sa->sun_family = AF_UNIX;
  if (std::strlen(path) >= sizeof sa->sun_path) return false;
  std::strcpy(sa->sun_path, path);
  return true;
}

// One non-blocking connect: 0 with the connected socket, else -1 with errno
// (EAGAIN: the pipe is busy).
int OpenOnce(const char* path, int* fd_out) {
  sockaddr_un sa;
  if (!FillSocketAddress(path, &sa)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  int rc;
  do {
    rc = connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    int err = errno;
    close(fd);
    errno = err;
    return -1;
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    int err = errno;
    close(fd);
    errno = err;
    return -1;
  }
  *fd_out = fd;
  return 0;
}

// Makes the listening socket of a pipe name (the folder too); 0 or -1.
int CreateListener(NpRecord* r, const char* path) {
  std::string dir(path);
  dir.resize(dir.rfind('/'));
  if (mkdir(dir.c_str(), 01777) == 0) chmod(dir.c_str(), 01777);
  else if (errno != EEXIST) return -1;
  sockaddr_un sa;
  if (!FillSocketAddress(path, &sa)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int rc = bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  if (rc != 0 && errno == EADDRINUSE) {
    // A socket file nobody serves any more is taken over; a live one is not.
    int probe = -1;
    if (OpenOnce(path, &probe) == 0) {
      close(probe);
      close(fd);
      errno = EADDRINUSE;
      return -1;
    }
    if (errno == ECONNREFUSED) {
      unlink(path);
      rc = bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    } else {
      errno = EADDRINUSE;
    }
  }
  if (rc != 0 || chmod(path, 0666) != 0 || listen(fd, kBacklog) != 0) {
    int err = errno;
    close(fd);
    errno = err;
    return -1;
  }
  r->handle = fd;
  std::strcpy(r->path, path);
  return 0;
}

int TargetPath(const AsfAddress* target, char* path, size_t room) {
  char name[600];
  if (npipe_name(target, name, sizeof name) != 0) return -1;
  return npipe_socket_path(name, path, room);
}

int NpAccept(AsfDriver* listener, AsfAssociation* assoc, AsfAddressBlock**, AsfControlBlock* cb) {
  NpRecord* lr = Record(listener);
  if (lr == nullptr || !asf_assoc_valid(assoc) || assoc->transport == nullptr) {
    return ASF_ERROR(cb, -25546, 0), -1;
  }
  lr->state = NP_ACCEPTING;
  if (lr->handle < 0) {
    char path[sizeof(sockaddr_un::sun_path)];
    if (TargetPath(&listener->target, path, sizeof path) != 0 || CreateListener(lr, path) != 0) {
      return ASF_ERROR(cb, -25573, errno), -1;
    }
  }
  int fd;
  do {
    fd = accept4(lr->handle, nullptr, nullptr, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return ASF_ERROR(cb, -25580, errno), -1;
  AsfDriver* d = &assoc->transport->driver;
  NpRecord* r = NewRecord();
  if (r == nullptr) {
    close(fd);
    return ASF_ERROR(cb, -406, ENOMEM), -1;
  }
  r->handle = fd;
  r->state = NP_LISTENING;
  d->record = r;
  d->flags |= DRV_ACCEPTED;
  if (d->buffer_size == 0) d->buffer_size = listener->buffer_size;
  if (drv_alloc_buffers(d, assoc, cb) != 0) {
    close(fd);
    std::free(r);
    d->record = nullptr;
    return -1;
  }
  return 0;
}

int NpSend(AsfDriver* d, AsfPacketBuffer* buf, AsfControlBlock* cb, AsfTransport*) {
  NpRecord* r = Record(d);
  if (r == nullptr || buf == nullptr) return ASF_ERROR(cb, -25546, 0), -1;
  r->state = NP_SENDING;
  while (buf->left > 0) {
    ssize_t n = send(r->handle, buf->position, buf->left, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int err = errno;
      if (buf->marker != -2) drv_return_buffer(cb->assoc, ASF_BF_SEND, buf);
      return ASF_ERROR(cb, -25586, err), -1;
    }
    buf->position += n;
    buf->left -= static_cast<uint32_t>(n);
  }
  if (buf->marker != -2) drv_return_buffer(cb->assoc, ASF_BF_SEND, buf);
  return 0;
}

int NpRecv(AsfDriver* d, AsfPacketBuffer** bufp, AsfControlBlock* cb, AsfTransport*) {
  NpRecord* r = Record(d);
  if (r == nullptr || bufp == nullptr) return ASF_ERROR(cb, -25546, 0), -1;
  r->state = NP_RECEIVING;
  AsfPacketBuffer* buf = *bufp;
  bool from_slot = false;
  if (buf == nullptr) {
    if (asf_buffer_get(cb->assoc, ASF_BF_RECV, &buf) != 0 || buf == nullptr) {
      return ASF_ERROR(cb, -25567, 0), -1;
    }
    from_slot = true;
  }
  auto fail = [&](int code, int err) {
    if (from_slot) drv_return_buffer(cb->assoc, ASF_BF_RECV, buf);
    return ASF_ERROR(cb, code, err), -1;
  };
  // A caller's time-out is kept as with the other drivers.
  if (cb->timeout_ms >= 0) {
    int w = drv_wait(r->handle, 0, cb->timeout_ms, 4);
    if (w == 0) return fail(ASF_TIMEOUT, 0);
    if (w < 0) return fail(-25580, errno);
  }
  size_t room = buf->size < kReadLimit ? buf->size : kReadLimit;
  ssize_t n;
  do {
    n = recv(r->handle, buf->data, room, 0);
  } while (n < 0 && errno == EINTR);
  if (n > 0) {
    buf->position = buf->data;
    buf->left = static_cast<uint32_t>(n);
    *bufp = buf;
    return 0;
  }
  return fail(-25580, n < 0 ? errno : 0);
}

int NpClose(AsfDriver* d, uint32_t, AsfControlBlock* cb) {
  NpRecord* r = Record(d);
  if (r == nullptr) return 0;
  if (r->handle >= 0) close(r->handle);
  // The listener that made the socket takes it away with it.
  if (r->path[0] != '\0') unlink(r->path);
  d->flags |= DRV_CLOSING;
  drv_free_buffers(d, cb);
  d->record = nullptr;
  if (cb != nullptr) {
    cb->error = 0;
    cb->os_error = 0;
  }
  return 0;
}

int Unsupported(AsfControlBlock* cb) { return drv_unsupported(cb); }
int NpInterrupt(AsfDriver*, AsfPacketBuffer*, AsfControlBlock* cb, AsfTransport*) { return Unsupported(cb); }
int NpExpedited(AsfDriver*, AsfPacketBuffer**, AsfControlBlock* cb) { return Unsupported(cb); }
int NpExport(AsfDriver*, AsfArena*, int32_t* pair) {
  if (pair != nullptr) {
    pair[0] = -25592;
    pair[1] = 0;
  }
  return -1;
}
int NpImportSlot(AsfDriver* d, AsfArena* arena, AsfControlBlock* cb) { return npipe_import(d, arena, cb); }
int NpDescriptors(AsfDriver*, AsfTlAttribute*) { return -25592; }
int NpWait(AsfDriver*, int32_t, AsfControlBlock* cb, AsfTransport*) { return Unsupported(cb); }
int NpReserved() { return 0; }
int NpToNative(const AsfAddress* address, void* native) {
  return npipe_name(address, static_cast<char*>(native), 600);
}
int NpFromNative(const void*, AsfAddress*, int32_t) { return -1; }
int NpOptions(AsfDriver*, int, uint32_t) { return 0; }
int NpArm(AsfAssociation*, AsfDriver*) { return -1; }
int NpInitSlot(AsfControlBlock* cb, AsfRequest* r, int32_t id, const char* name) {
  return npipe_init(cb, r, id, name);
}
int NpShutdownSlot(AsfControlBlock* cb, AsfRequest* r) { return npipe_shutdown(cb, r); }

const AsfDriverOps kNamedPipeOps = {NpInitSlot, NpShutdownSlot, npipe_connect, npipe_listen, NpAccept,
                                    NpSend, NpRecv, NpInterrupt, NpExpedited, NpClose, NpExport,
                                    NpImportSlot, NpDescriptors, NpWait, npipe_resolve,
                                    npipe_describe_peer, NpReserved, NpToNative, NpFromNative,
                                    NpOptions, NpArm, NpReserved};

}  // namespace

TV_BEGIN_C

const AsfDriverOps* namedpipe_ops(void) { return &kNamedPipeOps; }

int npipe_init(AsfControlBlock*, AsfRequest*, int32_t, const char*) { return 0; }
int npipe_shutdown(AsfControlBlock*, AsfRequest*) { return 0; }
int npipe_import(AsfDriver*, AsfArena*, AsfControlBlock* cb) { return Unsupported(cb); }
int npipe_describe_peer(const AsfAddress*, AsfAddressBlock**, AsfDriver*, AsfControlBlock*) { return 0; }

int npipe_resolve(const char* text, AsfAddress* out, AsfControlBlock* cb, AsfDriver*, int32_t) {
  if (text == nullptr || *text == '\0' || std::strlen(text) > 399) return ASF_ERROR(cb, -25591, 0), -1;
  const char* first = std::strchr(text, '|');
  const char* last = std::strrchr(text, '|');
  if (first == nullptr || last == first) return ASF_ERROR(cb, -25591, 0), -1;
  // Kept as host "|" service.
  std::snprintf(out->text, sizeof out->text, "%.*s", static_cast<int>(last - text), text);
  return 0;
}

int npipe_name(const AsfAddress* target, char* name, size_t room) {
  const char* bar = std::strchr(target->text, '|');
  if (bar == nullptr) return -1;
  std::string host(target->text, static_cast<size_t>(bar - target->text));
  char self[256];
  std::string middle;
  if (rhostname(self, sizeof self) == 0) {
    self[15] = '\0';
    std::string shortened = host.substr(0, 15);
    middle = strcasecmp(shortened.c_str(), self) == 0 ? "." : host;
  }
  int n = std::snprintf(name, room, "\\\\%s\\PIPE\\%s", middle.c_str(), bar + 1);
  return n >= 0 && static_cast<size_t>(n) < room ? 0 : -1;
}

int npipe_socket_path(const char* name, char* path, size_t room) {
  static const char kLocal[] = "\\\\.\\PIPE\\";
  if (std::strncmp(name, kLocal, sizeof kLocal - 1) != 0) return -1;
  const char* service = name + sizeof kLocal - 1;
  if (*service == '\0' || std::strchr(service, '/') != nullptr || std::strchr(service, '\\') != nullptr) {
    return -1;
  }
  std::string p = tvp::TempDir() + "tvpipe/" + service;
  if (p.size() >= room || p.size() >= sizeof(sockaddr_un::sun_path)) return -1;
  std::strcpy(path, p.c_str());
  return 0;
}

int npipe_connect(AsfDriver* d, AsfTransportRequest* tr, AsfControlBlock* cb) {
  d->flags |= DRV_CONNECTING;
  if (drv_select_ops(d) != 0) return ASF_ERROR(cb, -25503, 0), -1;
  if (tr == nullptr) return ASF_ERROR(cb, -25563, 0), -1;
  NpRecord* r = NewRecord();
  if (r == nullptr) return ASF_ERROR(cb, -406, ENOMEM), -1;
  auto fail = [&](int code, int err) {
    std::free(r);
    return ASF_ERROR(cb, code, err), -1;
  };
  if (tr->address.kind == 1 && npipe_resolve(tr->address.text, &d->target, cb, d, 0) != 0) {
    return fail(-908, 0);
  }
  char path[sizeof(sockaddr_un::sun_path)];
  if (TargetPath(&d->target, path, sizeof path) != 0) return fail(-908, ENAMETOOLONG);
  int fd = -1;
  if (OpenOnce(path, &fd) != 0) {
    if (errno != EAGAIN) return fail(-25580, errno);
    r->busy = 1;
    if (npipe_open(path, r, cb, &fd) != 0) {
      std::free(r);
      return -1;
    }
    r->busy = 0;
  }
  r->handle = fd;
  d->record = r;
  d->buffer_size = BufferSize(tr->entry);
  if (drv_alloc_buffers(d, cb->assoc, cb) != 0) {
    close(fd);
    std::free(r);
    d->record = nullptr;
    return -1;
  }
  return 0;
}

int npipe_open(const char* path, void* record, AsfControlBlock* cb, int* fd_out) {
  (void)record;
  long interval = EnvNumber("QORV_NPIPE_CONN_TIMEOUT", 3);
  long tries = EnvNumber("QORV_NPIPE_CONN_RETRY", 60);
  if (interval < 0) interval = 0;
  for (long k = 0;;) {
    os_sleep(static_cast<int32_t>(interval));
    if (OpenOnce(path, fd_out) == 0) return 0;
    if (errno != EAGAIN) return ASF_ERROR(cb, -908, errno), -1;
    if (++k >= tries) return ASF_ERROR(cb, -908, EAGAIN), -1;
  }
}

int npipe_listen(AsfDriver* d, AsfTransportRequest* tr, int32_t mode, AsfControlBlock* cb) {
  if (mode != 0 && mode != 2) return 0;
  if (mode == 2 && d->record != nullptr) return 0;
  d->flags |= DRV_LISTENER;
  NpRecord* r = NewRecord();
  if (r == nullptr) return ASF_ERROR(cb, -406, ENOMEM), -1;
  if (drv_select_ops(d) != 0) {
    std::free(r);
    return ASF_ERROR(cb, -25503, 0), -1;
  }
  if (mode == 0 && tr != nullptr && tr->address.kind == 1) {
    if (npipe_resolve(tr->address.text, &d->target, cb, d, 0) != 0) {
      std::free(r);
      return -1;
    }
  }
  d->buffer_size = BufferSize(tr != nullptr ? tr->entry : nullptr);
  r->state = NP_LISTENING;
  // The socket is made now, so that clients that come before the first
  // accept wait in its backlog.
  char path[sizeof(sockaddr_un::sun_path)];
  if (TargetPath(&d->target, path, sizeof path) != 0 || CreateListener(r, path) != 0) {
    int err = errno;
    std::free(r);
    return ASF_ERROR(cb, -25573, err), -1;
  }
  d->record = r;
  return 0;
}

TV_END_C
