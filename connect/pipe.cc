// The pipe driver ("ipcpip"): the client starts the server program as a
// child joined to it by two anonymous pipes; the started server finds its
// client on its standard input and output.
//
// Descriptor record, also the 16-byte export block (machine byte order):
//   0 descriptor read from, 4 descriptor written to, 8 id of the server
//   child (connecting side), 12 end-of-file reads in a row
#include "connect/pipe.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "connect/asfutil.h"
#include "connect/driver.h"

namespace {

struct PipeRecord {
  int32_t read_fd;
  int32_t write_fd;
  int32_t child;
  int32_t eof_count;
};
static_assert(sizeof(PipeRecord) == 16, "the export block is 16 bytes");

constexpr uint32_t kPipeBuffer = 4096;
constexpr int32_t kEofPatience = 512;

// The resolved program and its argument vector, per thread.
struct ResolveArea {
  char program[400];
  char file_name[400];
  char server[400];
  char host[400];
  char* argv[4];
};
thread_local ResolveArea t_resolve;

// The association and driver that receive wake-ups on this thread.
struct WakeTarget {
  AsfAssociation* assoc;
  AsfDriver* driver;
};
thread_local WakeTarget t_wake = {nullptr, nullptr};

PipeRecord* Record(AsfDriver* d) { return static_cast<PipeRecord*>(d->record); }

void WakeHandler(int) {
  os_set_interrupt_handler(15, WakeHandler);
  AsfAssociation* a = t_wake.assoc;
  if (!asf_assoc_valid(a)) return;
  AsfPacketBuffer* x = a->buffers[ASF_BUF_XRECV];
  if (x == nullptr) return;
  x->data[0] = 'B';
  x->position = x->data;
  x->left = 1;
}

// Writes with SIGPIPE held back on this thread, so a reader that went away
// is an EPIPE failure instead of the end of the process.
ssize_t WriteNoSignal(int fd, const char* p, size_t n) {
  sigset_t pipe_only, old;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  sigset_t pending;
  sigemptyset(&pending);
  pthread_sigmask(SIG_BLOCK, &pipe_only, &old);
  bool was_pending = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE);
  ssize_t rc;
  do {
    rc = write(fd, p, n);
  } while (rc < 0 && errno == EINTR);
  int err = errno;
  if (rc < 0 && err == EPIPE && !was_pending) {
    struct timespec zero = {0, 0};
    while (sigtimedwait(&pipe_only, nullptr, &zero) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  errno = err;
  return rc;
}

void CloseFd(int fd) {
  if (fd >= 0) close(fd);
}

// The words of this program's command line, from the kernel's copy.
std::string CommandLineWords(int* count) {
  *count = 0;
  std::string all;
  int fd = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return all;
  char chunk[4096];
  ssize_t n;
  while ((n = read(fd, chunk, sizeof chunk)) > 0) all.append(chunk, static_cast<size_t>(n));
  close(fd);
  std::string joined;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    if (!joined.empty() || *count > 0) joined += ' ';
    joined.append(all, start, end - start);
    ++*count;
    start = end + 1;
  }
  return joined;
}

// The child side of the connect: arranges standard input and output on
// the two pipes and runs the server program. Only async-signal-safe calls.
[[noreturn]] void ForkBackend(int a_read, int a_write, int b_read, int b_write, const char* program,
                              char* const* argv, const char* exec_message, size_t exec_length) {
  static const char kSetup[] = "_iforkbackend: trouble setup pipes\n";
  close(a_read);
  close(b_write);
  if (b_read != 0) {
    if (a_write == 0) {
      int moved = fcntl(a_write, F_DUPFD, 3);
      if (moved < 0) {
        (void)!write(2, kSetup, sizeof kSetup - 1);
        _exit(1);
      }
      close(a_write);
      a_write = moved;
    }
    close(0);
    if (dup2(b_read, 0) < 0) {
      (void)!write(2, kSetup, sizeof kSetup - 1);
      _exit(1);
    }
    close(b_read);
  }
  if (a_write != 1) {
    close(1);
    if (dup2(a_write, 1) < 0) {
      (void)!write(2, kSetup, sizeof kSetup - 1);
      _exit(1);
    }
    close(a_write);
  }
  close_range(3, ~0U, 0);
  setpgid(0, 0);
  execv(program, argv);
  (void)!write(2, exec_message, exec_length);
  _exit(1);
}

// Waits and switches modes before a send or receive; 0 ready, -1 failed
// (the error is stored).
int Prepare(AsfDriver* d, int fd, int32_t timeout, int kind, AsfControlBlock* cb) {
  PipeRecord* r = Record(d);
  if (timeout >= 0) {
    if (timeout == 0 && !(d->flags & DRV_NONBLOCKING)) {
      if (drv_set_nonblocking(d, r->read_fd, cb) != 0 || drv_set_nonblocking(d, r->write_fd, cb) != 0) {
        return -1;
      }
    }
    int w = drv_wait(fd, 0, timeout, kind);
    if (w == 0) return ASF_ERROR(cb, ASF_TIMEOUT, 0), -1;
    if (w < 0) return ASF_ERROR(cb, -25580, errno), -1;
  } else if (d->flags & DRV_NONBLOCKING) {
    if (drv_set_blocking(d, r->read_fd, cb) != 0 || drv_set_blocking(d, r->write_fd, cb) != 0) return -1;
  }
  return 0;
}

int PipeAccept(AsfDriver*, AsfAssociation* assoc, AsfAddressBlock** peer, AsfControlBlock* cb) {
  if (!asf_assoc_valid(assoc) || assoc->transport == nullptr) return ASF_ERROR(cb, -25546, 0), -1;
  AsfDriver* d = &assoc->transport->driver;
  if (drv_select_ops(d) != 0) return ASF_ERROR(cb, -25503, 0), -1;
  auto* r = static_cast<PipeRecord*>(std::calloc(1, sizeof(PipeRecord)));
  if (r == nullptr) return ASF_ERROR(cb, -406, ENOMEM), -1;
  *r = {0, 1, 0, 0};
  d->record = r;
  auto fail = [&]() {
    std::free(r);
    d->record = nullptr;
    return -1;
  };
  if (pipe_describe_peer(&d->second, peer, d, cb) != 0) return fail();
  d->flags |= DRV_ACCEPTED;
  if (d->buffer_size == 0) d->buffer_size = kPipeBuffer;
  if (drv_alloc_buffers(d, assoc, cb) != 0) {
    d->record = r;
    return fail();
  }
  d->first_recv_flags |= 3;
  if (d->ops.arm_interrupt(assoc, d) == 0) d->flags |= DRV_INTERRUPT_ARMED;
  return 0;
}

int PipeSend(AsfDriver* d, AsfPacketBuffer* buf, AsfControlBlock* cb, AsfTransport*) {
  AsfAssociation* a = cb->assoc;
  PipeRecord* r = Record(d);
  if (r == nullptr || buf == nullptr) return ASF_ERROR(cb, -25546, 0), -1;
  auto back = [&]() {
    if (buf->marker != -2) drv_return_buffer(a, ASF_BF_SEND, buf);
  };
  int32_t timeout = cb->timeout_ms;
  if (Prepare(d, r->write_fd, timeout, 5, cb) != 0) {
    if (timeout >= 0) back();
    return -1;
  }
  while (buf->left > 0) {
    ssize_t n = WriteNoSignal(r->write_fd, buf->position, buf->left);
    if (n < 0) {
      int err = errno;
      if (err == EAGAIN || err == EWOULDBLOCK) return ASF_ERROR(cb, ASF_TIMEOUT, 0), -1;
      return ASF_ERROR(cb, -25586, err), -1;
    }
    buf->position += n;
    buf->left -= static_cast<uint32_t>(n);
  }
  back();
  return 0;
}

int PipeRecv(AsfDriver* d, AsfPacketBuffer** bufp, AsfControlBlock* cb, AsfTransport*) {
  AsfAssociation* a = cb->assoc;
  PipeRecord* r = Record(d);
  if (r == nullptr || bufp == nullptr) return ASF_ERROR(cb, -25546, 0), -1;
  AsfPacketBuffer* buf = *bufp;
  bool from_slot = false;
  if (buf == nullptr) {
    if (asf_buffer_get(a, ASF_BF_RECV, &buf) != 0) return ASF_ERROR(cb, -25567, 0), -1;
    from_slot = true;
  }
  auto fail = [&](int code, int err) {
    if (from_slot) drv_return_buffer(a, ASF_BF_RECV, buf);
    if (code != 0) ASF_ERROR(cb, code, err);
    return -1;
  };
  auto got = [&](size_t n) {
    buf->position = buf->data;
    buf->left = static_cast<uint32_t>(n);
    r->eof_count = 0;
    *bufp = buf;
    return 0;
  };
  if ((d->first_recv_flags & 2) && (d->flags & DRV_ACCEPTED)) {
    d->first_recv_flags &= ~3u;
    int count = 0;
    std::string words = CommandLineWords(&count);
    if (count >= 4) {
      // The words are the connection request; they must fit the buffer.
      if (words.size() > buf->size) return fail(-25591, 0);
      std::memcpy(buf->data, words.data(), words.size());
      return got(words.size());
    }
    ssize_t n;
    do {
      n = read(r->read_fd, buf->data, buf->size);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
      std::snprintf(cb->text, sizeof cb->text, "read");
      return fail(-25591, n < 0 ? errno : 0);
    }
    return got(static_cast<size_t>(n));
  }
  int32_t timeout = cb->timeout_ms;
  if (Prepare(d, r->read_fd, timeout, 4, cb) != 0) return fail(0, 0);
  for (;;) {
    ssize_t n;
    do {
      n = read(r->read_fd, buf->data, buf->size);
    } while (n < 0 && errno == EINTR);
    if (n > 0) return got(static_cast<size_t>(n));
    if (n < 0) {
      int err = errno;
      if (err == EAGAIN || err == EWOULDBLOCK) return fail(ASF_TIMEOUT, 0);
      return fail(-25587, err);
    }
    ++r->eof_count;
    if (timeout != 0) {
      r->eof_count = 0;
      return fail(-25587, 0);
    }
    if (r->eof_count > kEofPatience + 1) {
      r->eof_count = 0;
      return fail(-25587, 0);
    }
    if (r->eof_count <= kEofPatience) return fail(ASF_TIMEOUT, 0);
    // Many ends of file in a row: give the writer a moment, then read once more.
    int w = drv_wait(r->read_fd, 0, 10, 1);
    if (w < 0) return fail(-25580, errno);
    if (w == 0) {
      r->eof_count = 0;
      return fail(ASF_TIMEOUT, 0);
    }
  }
}

int PipeInterrupt(AsfDriver* d, AsfPacketBuffer* buf, AsfControlBlock* cb, AsfTransport*) {
  PipeRecord* r = Record(d);
  if ((d->flags & DRV_CONNECTING) && r != nullptr && r->child > 0) os_wake_thread(r->child, 15);
  drv_return_buffer(cb->assoc, ASF_BF_SEND | ASF_BF_EXPEDITED, buf);
  return 0;
}

int PipeExpedited(AsfDriver*, AsfPacketBuffer** buf, AsfControlBlock* cb) {
  if (asf_buffer_get(cb->assoc, ASF_BF_RECV | ASF_BF_EXPEDITED, buf) != 0) {
    return ASF_ERROR(cb, -25579, 0), -1;
  }
  return 0;
}

int PipeClose(AsfDriver* d, uint32_t flags, AsfControlBlock* cb) {
  PipeRecord* r = Record(d);
  if (r == nullptr) return 0;
  if (t_wake.driver == d) t_wake = {nullptr, nullptr};
  if (!(flags & TL_CLOSE_KEEP_OPEN)) {
    d->flags |= DRV_CLOSING;
    CloseFd(r->read_fd);
    if (r->write_fd != r->read_fd) CloseFd(r->write_fd);
  }
  drv_free_buffers(d, cb);
  d->record = nullptr;
  return 0;
}

void KeepAcrossExec(int fd, bool keep) {
  int flags = fcntl(fd, F_GETFD);
  if (flags < 0) return;
  fcntl(fd, F_SETFD, keep ? (flags & ~FD_CLOEXEC) : (flags | FD_CLOEXEC));
}

int PipeExport(AsfDriver* d, AsfArena* arena, int32_t* error_pair) {
  PipeRecord* r = Record(d);
  void* block = r != nullptr ? asf_arena_alloc(arena, 16, nullptr) : nullptr;
  if (block == nullptr) {
    if (error_pair != nullptr) {
      error_pair[0] = -1;
      error_pair[1] = errno;
    }
    return -1;
  }
  std::memcpy(block, r, 16);
  // The program that takes the association over gets both ends across exec.
  KeepAcrossExec(r->read_fd, true);
  KeepAcrossExec(r->write_fd, true);
  return 0;
}

int PipeDescriptors(AsfDriver* d, AsfTlAttribute* request) {
  PipeRecord* r = Record(d);
  if (r == nullptr || request == nullptr || request->result == nullptr) return -1;
  int* pair = static_cast<int*>(request->result);
  pair[0] = r->read_fd;
  pair[1] = r->write_fd;
  return 0;
}

int PipeWait(AsfDriver*, int32_t, AsfControlBlock* cb, AsfTransport*) { return drv_unsupported(cb); }

int PipeArm(AsfAssociation* assoc, AsfDriver* d) {
  t_wake = {assoc, d};
  os_set_interrupt_handler(15, WakeHandler);
  return 0;
}

int PipeInitSlot(AsfControlBlock* cb, AsfRequest* r, int32_t id, const char* name) {
  return pipe_init(cb, r, id, name);
}
int PipeShutdownSlot(AsfControlBlock* cb, AsfRequest* r) { return pipe_shutdown(cb, r); }

const AsfDriverOps kPipeOps = {PipeInitSlot, PipeShutdownSlot, pipe_connect, pipe_listen, PipeAccept,
                               PipeSend, PipeRecv, PipeInterrupt, PipeExpedited, PipeClose,
                               PipeExport, pipe_import, PipeDescriptors, PipeWait, pipe_resolve,
                               pipe_describe_peer, nullptr, nullptr, nullptr, nullptr, PipeArm,
                               nullptr};

}  // namespace

TV_BEGIN_C

const AsfDriverOps* pipe_ops(void) { return &kPipeOps; }

int pipe_init(AsfControlBlock*, AsfRequest* r, int32_t, const char*) {
  if (r == nullptr) return 0;
  const AsfInitBody& b = r->body.init;
  if ((b.flags & 0x10) && (b.flags & 4) && b.setting2 != 0) {
    asf_break_setup();
  }
  return 0;
}

int pipe_shutdown(AsfControlBlock*, AsfRequest*) { return 0; }

int pipe_resolve(const char* text, AsfAddress* out, AsfControlBlock* cb, AsfDriver*, int32_t) {
  if (text == nullptr || std::strlen(text) > 399) return ASF_ERROR(cb, -25591, 0), -1;
  char work[400];
  std::strcpy(work, text);
  char* first = std::strchr(work, '|');
  char* last = std::strrchr(work, '|');
  if (first == nullptr || last == first || first == work) return ASF_ERROR(cb, -25591, 0), -1;
  *first = '\0';
  *last = '\0';
  const char* program = first + 1;
  if (*program == '\0') return ASF_ERROR(cb, -25591, 0), -1;
  ResolveArea& ra = t_resolve;
  std::snprintf(ra.program, sizeof ra.program, "%s", program);
  const char* slash = std::strrchr(program, '/');
  std::snprintf(ra.file_name, sizeof ra.file_name, "%s", slash != nullptr ? slash + 1 : program);
  std::snprintf(ra.host, sizeof ra.host, "%s", work);
  ra.server[0] = '\0';
  ra.argv[0] = ra.file_name;
  ra.argv[1] = ra.server;
  ra.argv[2] = ra.host;
  ra.argv[3] = nullptr;
  if (out != nullptr) std::snprintf(out->text, sizeof out->text, "%.399s", ra.program);
  return 0;
}

int pipe_connect(AsfDriver* d, AsfTransportRequest* tr, AsfControlBlock* cb) {
  d->flags |= DRV_CONNECTING;
  if (drv_select_ops(d) != 0) return ASF_ERROR(cb, -25503, 0), -1;
  if (tr == nullptr) return ASF_ERROR(cb, -25563, 0), -1;
  if (pipe_host_check(tr->address.text, cb) != 0) return -1;
  if (tr->address.kind == 1) {
    if (pipe_resolve(tr->address.text, &d->target, cb, d, 0) != 0) return -1;
    const char* server = tr->entry != nullptr && tr->entry->server_name != nullptr ? tr->entry->server_name : "";
    std::snprintf(t_resolve.server, sizeof t_resolve.server, "%s", server);
  }
  d->buffer_size = kPipeBuffer;
  const char* program = t_resolve.program;
  if (access(program, X_OK) != 0) {
    int err = errno;
    std::snprintf(cb->text, sizeof cb->text, "%s", program);
    return ASF_ERROR(cb, -25584, err), -1;
  }
  struct stat st;
  if (stat(program, &st) != 0 || !S_ISREG(st.st_mode)) {
    std::snprintf(cb->text, sizeof cb->text, "%s", program);
    return ASF_ERROR(cb, -25584, EACCES), -1;
  }
  int a[2], b[2];
  if (pipe2(a, O_CLOEXEC) != 0) return ASF_ERROR(cb, -1250, errno), -1;
  if (pipe2(b, O_CLOEXEC) != 0) {
    int err = errno;
    close(a[0]);
    close(a[1]);
    return ASF_ERROR(cb, -1250, err), -1;
  }
  for (int fd : {a[0], b[1]}) fcntl(fd, F_SETPIPE_SZ, static_cast<int>(kPipeBuffer));
  char message[600];
  int length = std::snprintf(message, sizeof message, "_pipe connect: Error execing '%s'\n", program);
  if (length < 0) length = 0;
  if (length >= static_cast<int>(sizeof message)) length = sizeof message - 1;
  pid_t child = fork();
  if (child < 0) {
    int err = errno;
    for (int fd : {a[0], a[1], b[0], b[1]}) close(fd);
    return ASF_ERROR(cb, -1250, err), -1;
  }
  if (child == 0) {
    ForkBackend(a[0], a[1], b[0], b[1], program, t_resolve.argv, message, static_cast<size_t>(length));
  }
  close(a[1]);
  close(b[0]);
  auto* r = static_cast<PipeRecord*>(std::calloc(1, sizeof(PipeRecord)));
  if (r == nullptr) {
    close(a[0]);
    close(b[1]);
    return ASF_ERROR(cb, -406, ENOMEM), -1;
  }
  *r = {a[0], b[1], static_cast<int32_t>(child), 0};
  d->record = r;
  if (drv_alloc_buffers(d, cb->assoc, cb) != 0) {
    close(a[0]);
    close(b[1]);
    std::free(r);
    d->record = nullptr;
    return -1;
  }
  return 0;
}

int pipe_listen(AsfDriver* d, AsfTransportRequest*, int32_t, AsfControlBlock* cb) {
  if (drv_select_ops(d) != 0) return ASF_ERROR(cb, -25503, 0), -1;
  d->buffer_size = kPipeBuffer;
  return 0;
}

int pipe_import(AsfDriver* d, AsfArena* arena, AsfControlBlock* cb) {
  void* block = asf_arena_take(arena, 16);
  if (block == nullptr) return ASF_ERROR(cb, -1, errno), -1;
  auto* r = static_cast<PipeRecord*>(std::calloc(1, sizeof(PipeRecord)));
  if (r == nullptr) return ASF_ERROR(cb, -406, ENOMEM), -1;
  std::memcpy(r, block, 16);
  if (fcntl(r->read_fd, F_GETFD) < 0 || fcntl(r->write_fd, F_GETFD) < 0) {
    std::free(r);
    return ASF_ERROR(cb, -25546, EBADF), -1;
  }
  KeepAcrossExec(r->read_fd, false);
  KeepAcrossExec(r->write_fd, false);
  d->record = r;
  if (d->buffer_size == 0) d->buffer_size = kPipeBuffer;
  if (drv_alloc_buffers(d, cb->assoc, cb) != 0) {
    std::free(r);
    d->record = nullptr;
    return -1;
  }
  if (drv_select_ops(d) != 0) {
    drv_free_buffers(d, cb);
    return ASF_ERROR(cb, -25503, 0), -1;
  }
  if (PipeArm(cb->assoc, d) == 0) d->flags |= DRV_INTERRUPT_ARMED;
  return 0;
}

int pipe_describe_peer(const AsfAddress*, AsfAddressBlock** out, AsfDriver*, AsfControlBlock* cb) {
  if (out == nullptr) return ASF_ERROR(cb, -25563, 0), -1;
  char host[256];
  if (rhostname(host, sizeof host) != 0) return ASF_ERROR(cb, -406, errno), -1;
  char text[300];
  std::snprintf(text, sizeof text, "%s%s%s%s", host, "|", "|", "ipcpip");
  char* copy = asf_strdup(1, text);
  if (copy == nullptr) return ASF_ERROR(cb, -406, ENOMEM), -1;
  AsfAddressBlock* block = *out;
  if (block == nullptr) {
    block = static_cast<AsfAddressBlock*>(std::calloc(1, sizeof(AsfAddressBlock)));
    if (block == nullptr) {
      std::free(copy);
      return ASF_ERROR(cb, -406, ENOMEM), -1;
    }
  }
  std::free(block->text);
  block->kind = 8;
  block->text = copy;
  *out = block;
  return 0;
}

TV_END_C
