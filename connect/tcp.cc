// The socket driver: "soctcp", and "socssl" through the TLS operations.
#include "connect/tcp.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "base/env.h"
#include "base/os_files.h"
#include "connect/asfutil.h"
#include "connect/conssl.h"
#include "connect/driver.h"
#include "connect/sockets.h"

namespace {

constexpr uint16_t kFamily4 = 2;
constexpr uint16_t kFamily6 = 23;
constexpr int kWildcardListenBacklog = 512;

thread_local int32_t t_connect_attempts = 0;

// This thread's urgent-data target.
struct UrgentTarget {
  AsfAssociation* assoc;
  AsfDriver* driver;
};
thread_local UrgentTarget t_urgent = {nullptr, nullptr};

TcpRecord* Record(AsfDriver* d) { return static_cast<TcpRecord*>(d->record); }

bool Ssl(const AsfDriver* d) { return d->protocol_id == 19; }

int NativeFamily(uint16_t family) { return family == kFamily6 ? AF_INET6 : AF_INET; }

template <typename F>
auto Retry(F f) {
  decltype(f()) rc;
  do {
    rc = f();
  } while (rc < 0 && errno == EINTR);
  return rc;
}

// 1 for an IPv4-mapped IPv6 address.
bool V4Mapped(const AsfSockAddr& a) {
  static const unsigned char prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  return a.family == kFamily6 && std::memcmp(a.addr, prefix, 12) == 0;
}

// An IPv4-compatible address other than :: and ::1.
bool V4Compatible(const AsfSockAddr& a) {
  static const unsigned char zeros[16] = {};
  if (a.family != kFamily6 || std::memcmp(a.addr, zeros, 12) != 0) return false;
  if (std::memcmp(a.addr, zeros, 16) == 0) return false;
  return !(std::memcmp(a.addr, zeros, 15) == 0 && a.addr[15] == 1);
}

void MapToV6(AsfSockAddr& a) {
  if (a.family != kFamily4) return;
  unsigned char v4[4];
  std::memcpy(v4, a.addr, 4);
  std::memset(a.addr, 0, 16);
  a.addr[10] = a.addr[11] = 0xff;
  std::memcpy(a.addr + 12, v4, 4);
  a.family = kFamily6;
}

bool IsLoopback(const AsfSockAddr& a) {
  static const unsigned char v6loop[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  if (a.family == kFamily4) return a.addr[0] == 127 && a.addr[1] == 0 && a.addr[2] == 0 && a.addr[3] == 1;
  if (std::memcmp(a.addr, v6loop, 16) == 0) return true;
  return V4Mapped(a) && a.addr[12] == 127 && a.addr[13] == 0 && a.addr[14] == 0 && a.addr[15] == 1;
}

bool IsAny(const AsfSockAddr& a) {
  static const unsigned char zeros[16] = {};
  return std::memcmp(a.addr, zeros, a.family == kFamily4 ? 4 : 16) == 0;
}

bool AllOf(const char* s, const char* allowed) {
  for (; *s != '\0'; ++s) {
    if (std::strchr(allowed, *s) == nullptr) return false;
  }
  return true;
}

// A private control block whose errors are not reported.
AsfControlBlock QuietBlock(AsfControlBlock* cb) {
  AsfControlBlock q{};
  if (cb != nullptr) q.assoc = cb->assoc;
  return q;
}

// The urgent-data handler of interrupt slot 16.
void UrgentHandler(int) {
  AsfAssociation* a = t_urgent.assoc;
  AsfDriver* d = t_urgent.driver;
  if (!asf_assoc_valid(a) || d == nullptr || d->record == nullptr) return;
  int fd = Record(d)->fd;
  AsfPacketBuffer* x = a->buffers[ASF_BUF_XRECV];
  if (x == nullptr) return;
  for (;;) {
    ssize_t n = Retry([&] { return recv(fd, x->data, 1, MSG_OOB); });
    if (n == 1) {
      x->position = x->data;
      x->left = 1;
      return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // The urgent byte is not at the head yet: drop ordinary data up to it.
      ssize_t m = Retry([&] { return recv(fd, x->data, x->size, MSG_DONTWAIT); });
      if (m > 0) continue;
    }
    x->left = 1;
    return;
  }
}

uint32_t BufferSize(const AsfServerEntry* e) {
  if (e != nullptr && e->options.buffer_size > 0) return static_cast<uint32_t>(e->options.buffer_size);
  return 4096;
}

void SetTimeout(int fd, int name, int32_t seconds) {
  struct timeval tv = {seconds, 0};
  Retry([&] { return sock_setopt(fd, SOL_SOCKET, name, &tv, sizeof tv); });
}

// Copies a text, cut to the room of the destination.
void CopyText(char* dst, size_t room, const char* src) {
  size_t n = strnlen(src, room - 1);
  std::memcpy(dst, src, n);
  dst[n] = '\0';
}

// A host (-930) or service (-931) that cannot be resolved, named in the
// message text.
int Unresolved(AsfControlBlock* cb, int32_t code, const char* name) {
  CopyText(cb->text, sizeof cb->text, name);
  ASF_ERROR(cb, code, 0);
  return -1;
}

void CloseQuietly(int fd) {
  if (fd >= 0) Retry([&] { return sock_close(fd); });
}

// Keeps the connected socket in a new driver record, opens TLS for
// "socssl" (client or server side) and gives the association its buffers;
// on failure everything is closed again.
int FinishSocket(AsfDriver* d, int fd, AsfAssociation* assoc, bool server, AsfControlBlock* cb) {
  auto* record = static_cast<TcpRecord*>(std::calloc(1, sizeof(TcpRecord)));
  if (record == nullptr) {
    CloseQuietly(fd);
    return ASF_ERROR(cb, -406, ENOMEM), -1;
  }
  record->fd = fd;
  d->record = record;
  bool tls_failed = Ssl(d) && (server ? conssl_open_server(d, fd, cb) : conssl_open_client(d, fd, cb)) != 0;
  if (tls_failed || drv_alloc_buffers(d, assoc, cb) != 0) {
    if (Ssl(d)) conssl_close(d, fd);
    std::free(record);
    d->record = nullptr;
    CloseQuietly(fd);
    return -1;
  }
  return 0;
}

}  // namespace

TV_BEGIN_C

int32_t tcp_connect_attempts(void) { return t_connect_attempts; }

int tcp_ipv6_disabled(void) {
  // Any value, the empty one too.
  if (std::getenv("ZEL_DISABLE_IPV6") != nullptr || ggetenv_idx("ZEL_DISABLE_IPV6", 180) != nullptr) {
    return 0;
  }
  const char* dir = ggetenv_idx("TARVELONDIR", ENVROW_TARVELONDIR);
  if (dir != nullptr && *dir != '\0') {
    char path[4200];
    std::snprintf(path, sizeof path, "%s/etc/ZEL_DISABLE_IPV6", dir);
    if (access(path, F_OK) == 0) return 0;
  }
  return -1;
}

int tcp_address_family(void) {
  static int family = 0;
  static std::once_flag once;
  std::call_once(once, [] {
    family = kFamily4;
    if (tcp_ipv6_disabled() == 0) return;
    int fd = sock_socket(AF_INET6, SOCK_STREAM, 0);
    if (fd >= 0) {
      close(fd);
      family = kFamily6;
    }
  });
  return family;
}

int tcp_sockaddr_size(void) {
  return tcp_address_family() == kFamily6 ? static_cast<int>(sizeof(sockaddr_in6))
                                          : static_cast<int>(sizeof(sockaddr_in));
}

int tcp_sockaddr_len(int family) {
  return family == kFamily6 && tcp_address_family() == kFamily6 ? 28 : 16;
}

void* tcp_sockaddr_alloc(void) {
  return std::calloc(1, static_cast<size_t>(tcp_sockaddr_size()));
}

int tcp_fill_any(void* native, int family, int wildcard, uint16_t port, int size) {
  if (native == nullptr) return -1;
  std::memset(native, 0, static_cast<size_t>(size));
  if (family == kFamily6) {
    if (size < static_cast<int>(sizeof(sockaddr_in6))) return -1;
    auto* s6 = static_cast<sockaddr_in6*>(native);
    s6->sin6_family = AF_INET6;
    s6->sin6_port = port;
    if (wildcard == 1) s6->sin6_addr = in6addr_any;
    return 0;
  }
  auto* s4 = static_cast<sockaddr_in*>(native);
  s4->sin_family = AF_INET;
  s4->sin_port = port;
  if (wildcard == 1) s4->sin_addr.s_addr = htonl(INADDR_ANY);
  return 0;
}

int tcp_parse_numeric(const char* text, AsfSockAddr* out) {
  std::memset(out->addr, 0, sizeof out->addr);
  if (tcp_address_family() == kFamily6 && inet_pton(AF_INET6, text, out->addr) == 1) {
    out->family = kFamily6;
    return 0;
  }
  if (inet_pton(AF_INET, text, out->addr) == 1) {
    out->family = kFamily4;
    return 0;
  }
  return -1;
}

int tcp_numeric_text(int family, const void* addr, char* text, int size) {
  int af = family == kFamily6 ? AF_INET6 : AF_INET;
  return inet_ntop(af, addr, text, static_cast<socklen_t>(size)) != nullptr ? 0 : -1;
}

int tcp_service_lookup(const char* name, const char* protocol, TcpServiceRecord* out) {
  for (int attempt = 1; attempt <= 31; ++attempt) {
    struct servent entry, *result = nullptr;
    char buf[1024];
    int rc = getservbyname_r(name, protocol, &entry, buf, sizeof buf, &result);
    if (rc == 0 && result != nullptr) {
      std::snprintf(out->name, sizeof out->name, "%s", name);
      out->port = static_cast<uint16_t>(result->s_port);
      std::strcpy(out->protocol, "tcp");
      return 0;
    }
    // A name that is not there is final; only a failing look-up repeats.
    if (rc == 0) return -1;
    if (attempt >= 17 && attempt <= 30) os_sleep(1);
  }
  return -1;
}

int tcp_forward_lookup(const char* name, TcpHostRecord* out, int* error, int family, int flags) {
  int dummy;
  if (error == nullptr) error = &dummy;
  *error = 0;
  if (name == nullptr) {
    *error = EAI_NONAME;
    return -1;
  }
  while (std::isspace(static_cast<unsigned char>(*name))) ++name;
  char trimmed[256];
  std::snprintf(trimmed, sizeof trimmed, "%s", name);
  for (size_t n = std::strlen(trimmed); n > 0 && std::isspace(static_cast<unsigned char>(trimmed[n - 1]));) {
    trimmed[--n] = '\0';
  }
  bool v6 = tcp_address_family() == kFamily6;
  int asked[2] = {family, family == kFamily6 ? kFamily4 : kFamily6};
  int tries = v6 ? 2 : 1;
  if (!v6) asked[0] = kFamily4;
  for (int i = 0; i < tries; ++i) {
    struct addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = NativeFamily(static_cast<uint16_t>(asked[i]));
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_ADDRCONFIG;
    if (v6 && (flags & 2048) && hints.ai_family == AF_INET6) hints.ai_flags |= AI_V4MAPPED;
    struct addrinfo* res = nullptr;
    int rc = getaddrinfo(trimmed, nullptr, &hints, &res);
    if (rc != 0) {
      *error = rc;
      continue;
    }
    for (struct addrinfo* p = res; p != nullptr; p = p->ai_next) {
      if (p->ai_family == AF_INET6) {
        auto* s6 = reinterpret_cast<sockaddr_in6*>(p->ai_addr);
        bool link_local = s6->sin6_addr.s6_addr[0] == 0xfe && (s6->sin6_addr.s6_addr[1] & 0xc0) == 0x80;
        if (link_local && s6->sin6_scope_id == 0) continue;
        std::snprintf(out->name, sizeof out->name, "%s", trimmed);
        out->family = kFamily6;
        out->length = 16;
        std::memcpy(out->addr, &s6->sin6_addr, 16);
        out->scope_id = s6->sin6_scope_id;
        freeaddrinfo(res);
        return 0;
      }
      if (p->ai_family == AF_INET) {
        auto* s4 = reinterpret_cast<sockaddr_in*>(p->ai_addr);
        std::snprintf(out->name, sizeof out->name, "%s", trimmed);
        out->family = kFamily4;
        out->length = 4;
        std::memset(out->addr, 0, 16);
        std::memcpy(out->addr, &s4->sin_addr, 4);
        out->scope_id = 0;
        freeaddrinfo(res);
        return 0;
      }
    }
    freeaddrinfo(res);
    *error = EAI_NONAME;
  }
  return -1;
}

int tcp_lookup_host_retry(const char* name, TcpHostRecord* out, void*, int family, int flags) {
  int error = 0;
  if (tcp_forward_lookup(name, out, &error, family, flags) == 0) return 0;
  for (int repetition = 1; repetition <= 30 && error == EAI_AGAIN; ++repetition) {
    if (repetition >= 17) os_sleep(1);
    if (tcp_forward_lookup(name, out, &error, family, flags) == 0) return 0;
  }
  return -1;
}

int tcp_reverse_lookup(const void* addr, int length, int family, uint32_t scope_id,
                       TcpHostRecord* out) {
  sockaddr_storage ss;
  std::memset(&ss, 0, sizeof ss);
  socklen_t len;
  if (family == kFamily6) {
    auto* s6 = reinterpret_cast<sockaddr_in6*>(&ss);
    s6->sin6_family = AF_INET6;
    std::memcpy(&s6->sin6_addr, addr, 16);
    s6->sin6_scope_id = scope_id;
    len = sizeof *s6;
  } else {
    auto* s4 = reinterpret_cast<sockaddr_in*>(&ss);
    s4->sin_family = AF_INET;
    std::memcpy(&s4->sin_addr, addr, 4);
    len = sizeof *s4;
  }
  char host[NI_MAXHOST];
  if (getnameinfo(reinterpret_cast<sockaddr*>(&ss), len, host, sizeof host, nullptr, 0,
                  NI_NAMEREQD) != 0) {
    errno = EHOSTUNREACH;
    return -1;
  }
  CopyText(out->name, sizeof out->name, host);
  out->family = static_cast<uint16_t>(family);
  out->length = length;
  std::memset(out->addr, 0, 16);
  std::memcpy(out->addr, addr, static_cast<size_t>(length > 16 ? 16 : length));
  out->scope_id = scope_id;
  return 0;
}

int tcp_lookup_address(const void* addr, int length, int family, int, TcpHostRecord* out) {
  return tcp_reverse_lookup(addr, length, family, 0, out) == 0 ? 0 : -1;
}

int tcp_to_native(const AsfAddress* address, void* native) {
  const AsfSockAddr& a = address->sock;
  if (a.family == kFamily6) {
    sockaddr_in6 s6;
    std::memset(&s6, 0, sizeof s6);
    s6.sin6_family = AF_INET6;
    s6.sin6_port = a.port;
    std::memcpy(&s6.sin6_addr, a.addr, 16);
    s6.sin6_scope_id = a.scope_id;
    std::memcpy(native, &s6, sizeof s6);
    return static_cast<int>(sizeof s6);
  }
  sockaddr_in s4;
  std::memset(&s4, 0, sizeof s4);
  s4.sin_family = AF_INET;
  s4.sin_port = a.port;
  std::memcpy(&s4.sin_addr, a.addr, 4);
  std::memcpy(native, &s4, sizeof s4);
  return static_cast<int>(sizeof s4);
}

int tcp_from_native(const void* native, AsfAddress* out, int32_t) {
  sa_family_t af;
  std::memcpy(&af, native, sizeof af);
  AsfSockAddr& a = out->sock;
  std::memset(&a, 0, sizeof a);
  if (af == AF_INET6) {
    sockaddr_in6 s6;
    std::memcpy(&s6, native, sizeof s6);
    a.family = kFamily6;
    a.port = s6.sin6_port;
    std::memcpy(a.addr, &s6.sin6_addr, 16);
    a.scope_id = s6.sin6_scope_id;
    return 0;
  }
  if (af == AF_INET) {
    sockaddr_in s4;
    std::memcpy(&s4, native, sizeof s4);
    a.family = kFamily4;
    a.port = s4.sin_port;
    std::memcpy(a.addr, &s4.sin_addr, 4);
    return 0;
  }
  return -1;
}

int tcp_resolve(const char* text, AsfAddress* out, AsfControlBlock* cb, AsfDriver*, int32_t retry) {
  if (text == nullptr || std::strlen(text) > 527) return ASF_ERROR(cb, -25591, 0), -1;
  char work[528];
  std::strcpy(work, text);
  char* last = std::strrchr(work, '|');
  if (last == nullptr) return ASF_ERROR(cb, -25591, 0), -1;
  *last = '\0';
  char* first = std::strchr(work, '|');
  if (first == nullptr) return ASF_ERROR(cb, -25591, 0), -1;
  *first = '\0';
  char* host = work;
  char* service = first + 1;
  while (std::isspace(static_cast<unsigned char>(*service))) ++service;
  AsfSockAddr& a = out->sock;
  std::memset(&a, 0, sizeof a);
  if (*service == '\0') {
    a.port = 0;
  } else if (os_all_digits(service)) {
    long port = std::strtol(service, nullptr, 10);
    if (port > 65535) return Unresolved(cb, -931, service);
    a.port = htons(static_cast<uint16_t>(port));
  } else {
    TcpServiceRecord service_record;
    if (tcp_service_lookup(service, "tcp", &service_record) != 0) return Unresolved(cb, -931, service);
    a.port = service_record.port;
  }
  if (*host == '*') ++host;
  bool v6 = tcp_address_family() == kFamily6;
  if (*host != '\0' && AllOf(host, "0123456789.")) {
    if (inet_pton(AF_INET, host, a.addr) != 1) {
      return Unresolved(cb, -930, host);
    }
    a.family = kFamily4;
  } else if (*host == '\0' || (std::strchr(host, ':') != nullptr &&
                               AllOf(host, "0123456789abcdefABCDEF:."))) {
    if (*host == '\0') {
      a.family = v6 ? kFamily6 : kFamily4;
    } else if (tcp_parse_numeric(host, &a) != 0) {
      return Unresolved(cb, -930, host);
    }
  } else {
    TcpHostRecord h;
    int family = v6 && !retry ? kFamily6 : kFamily4;
    if (tcp_lookup_host_retry(host, &h, nullptr, family, v6 ? 2048 : 0) != 0) {
      return Unresolved(cb, -930, host);
    }
    a.family = h.family;
    std::memcpy(a.addr, h.addr, 16);
    a.scope_id = h.family == kFamily6 ? h.scope_id : 0;
  }
  return 0;
}

uint32_t tcp_option_bits(const AsfServerOptions* options) {
  uint32_t bits = 0x0D;
  if (options == nullptr) return bits;
  if (options->kl_flags & 1u) bits |= 2;
  if (options->kl_flags & 2u) bits |= 0x10;
  if (options->kl_flags & 4u) bits |= 0x20;
  return bits;
}

int tcp_set_options(AsfDriver* d, int fd, uint32_t bits) {
  int one = 1;
  Retry([&] { return sock_setopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one); });
  if (bits & 2) {
    if (Retry([&] { return sock_setopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one); }) == 0) {
      d->options_applied |= 4;
    }
  }
  struct linger lg = {1, 60};
  if (bits & 0x10) lg.l_linger = 0;
  else if (bits & 0x20) lg.l_linger = 4;
  if (Retry([&] { return sock_setopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg); }) == 0 &&
      lg.l_linger != 0) {
    d->options_applied |= 8;
  }
  if (Retry([&] { return sock_setopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one); }) == 0) {
    d->options_applied |= 0x10;
  }
  return 0;
}

int tcp_init(AsfControlBlock* cb, AsfRequest* init, int32_t protocol_id, const char*) {
  // The toolkit is loaded only when "socssl" is started by name.
  if (protocol_id == 19 && init != nullptr && init->body.init.entries != nullptr) {
    for (int32_t i = 0; i < init->body.init.entry_count; ++i) {
      const AsfDriverConfig& e = init->body.init.entries[i];
      if (std::strncmp(e.name, "socssl", 8) == 0 && e.value1 != 0) {
        return conssl_load_toolkit(cb) == 0 ? 0 : -1;
      }
    }
  }
  return 0;
}

int tcp_shutdown(AsfControlBlock*, AsfRequest*) {
  conssl_unload_toolkit();
  return 0;
}

int tcp_connect(AsfDriver* d, AsfTransportRequest* tr, AsfControlBlock* cb) {
  d->flags |= DRV_CONNECTING;
  if (drv_select_ops(d) != 0) return ASF_ERROR(cb, -25503, 0), -1;
  if (Ssl(d) && conssl_load_toolkit(cb) != 0) return -1;
  const AsfServerEntry* entry = tr->entry;
  int32_t retry = 0;
  int fd = -1;
  for (;;) {
    if (tr->address.kind == 1 && tcp_resolve(tr->address.text, &d->target, cb, d, retry) != 0) {
      return -1;
    }
    d->buffer_size = BufferSize(entry);
    AsfSockAddr target = d->target.sock;
    AsfAddress local{};
    bool bind_local = false;
    if (entry != nullptr && entry->options.cltbind[0] != '\0') {
      char text[300];
      std::snprintf(text, sizeof text, "%s|0|soctcp", entry->options.cltbind);
      AsfControlBlock quiet = QuietBlock(cb);
      if (tcp_resolve(text, &local, &quiet, d, 0) == 0) {
        bind_local = true;
        if (tcp_address_family() == kFamily6 && local.sock.family != target.family) {
          MapToV6(local.sock);
          MapToV6(target);
          d->target.sock = target;
        }
      }
    }
    fd = Retry([&] { return sock_socket(NativeFamily(target.family), SOCK_STREAM, 0); });
    if (fd < 0) return ASF_ERROR(cb, -25574, errno), -1;
    if (bind_local) {
      sockaddr_storage ls;
      int len = tcp_to_native(&local, &ls);
      Retry([&] { return sock_bind(fd, reinterpret_cast<sockaddr*>(&ls), static_cast<socklen_t>(len)); });
    }
    if (sock_set_nbio(fd, 1) != 0) {
      int err = errno;
      CloseQuietly(fd);
      return ASF_ERROR(cb, -25580, err), -1;
    }
    sockaddr_storage ts;
    int tlen = tcp_to_native(&d->target, &ts);
    ++t_connect_attempts;
    int rc = Retry([&] { return sock_connect(fd, reinterpret_cast<sockaddr*>(&ts), static_cast<socklen_t>(tlen)); });
    int err = rc == 0 ? 0 : errno;
    if (rc != 0 && err == EINPROGRESS) {
      int32_t ms = cb->timeout_ms > 0 ? cb->timeout_ms : 20000;
      int w = drv_wait(fd, 0, ms, 2);
      sockaddr_storage peer;
      socklen_t plen = sizeof peer;
      if (w > 0 && getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &plen) == 0) {
        rc = 0;
      } else {
        int soerr = 0;
        socklen_t slen = sizeof soerr;
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &soerr, &slen);
        err = w == 0 ? ETIMEDOUT : (soerr != 0 ? soerr : errno);
      }
    }
    if (rc == 0) break;
    if (retry || target.family == kFamily4 || V4Mapped(target) || V4Compatible(target)) {
      CloseQuietly(fd);
      return ASF_ERROR(cb, -908, err), -1;
    }
    CloseQuietly(fd);
    retry = 1;
  }
  sockaddr_storage ls;
  socklen_t llen = sizeof ls;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&ls), &llen) == 0) {
    tcp_from_native(&ls, &d->second, 0);
  }
  if (sock_set_nbio(fd, 0) != 0) {
    int err = errno;
    CloseQuietly(fd);
    return ASF_ERROR(cb, -25580, err), -1;
  }
  tcp_set_options(d, fd, tcp_option_bits(entry != nullptr ? &entry->options : nullptr));
  if (entry != nullptr && entry->options.send_timeout > 0) SetTimeout(fd, SO_SNDTIMEO, entry->options.send_timeout);
  if (entry != nullptr && entry->options.recv_timeout > 0) SetTimeout(fd, SO_RCVTIMEO, entry->options.recv_timeout);
  return FinishSocket(d, fd, cb->assoc, false, cb);
}

int tcp_listen(AsfDriver* d, AsfTransportRequest* tr, int32_t mode, AsfControlBlock* cb) {
  if (mode == 2) return 0;  // listening again on a socket that still listens
  if (mode != 0) return 0;
  d->flags |= DRV_LISTENER;
  auto* record = static_cast<TcpRecord*>(std::calloc(1, sizeof(TcpRecord)));
  if (record == nullptr) return ASF_ERROR(cb, -406, ENOMEM), -1;
  auto fail = [&](int code, int err) {
    std::free(record);
    if (code != 0) ASF_ERROR(cb, code, err);
    return -1;
  };
  if (drv_select_ops(d) != 0) return fail(-25503, 0);
  if (Ssl(d) && conssl_load_toolkit(cb) != 0) return fail(0, 0);
  if (tr == nullptr || tr->address.kind != 1) return fail(0, 0);
  if (tcp_resolve(tr->address.text, &d->target, cb, d, 0) != 0) return fail(0, 0);
  d->buffer_size = BufferSize(tr->entry);
  if (d->protocol_id != 1 && d->protocol_id != 19) return fail(-25503, 0);
  uint16_t family = d->target.sock.family;
  bool wildcard = tr->address.text[0] == '*';
  bool v6_any = wildcard && tcp_address_family() == kFamily6 && family == kFamily6;
  if (wildcard && !v6_any) family = kFamily4;
  int fd = Retry([&] { return sock_socket(NativeFamily(family), SOCK_STREAM, 0); });
  if (fd < 0) return fail(-25574, errno);
  uint32_t bits = tcp_option_bits(tr->entry != nullptr ? &tr->entry->options : nullptr);
  tcp_set_options(d, fd, bits);
  sockaddr_storage ls;
  std::memset(&ls, 0, sizeof ls);
  socklen_t len;
  if (wildcard) {
    len = family == kFamily6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    tcp_fill_any(&ls, family, 1, d->target.sock.port, static_cast<int>(len));
    if (v6_any) {
      int off = 0;
      Retry([&] { return sock_setopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off); });
    }
  } else {
    len = static_cast<socklen_t>(tcp_to_native(&d->target, &ls));
  }
  if (Retry([&] { return sock_bind(fd, reinterpret_cast<sockaddr*>(&ls), len); }) != 0) {
    int err = errno;
    CloseQuietly(fd);
    return fail(-25572, err);
  }
  if (sock_listen(fd, kWildcardListenBacklog) != 0) {
    int err = errno;
    CloseQuietly(fd);
    return fail(-25572, err);
  }
  sockaddr_storage bound;
  socklen_t blen = sizeof bound;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &blen) == 0) {
    tcp_from_native(&bound, &d->second, 0);
  }
  record->fd = fd;
  record->option_bits = bits;
  d->record = record;
  return 0;
}

int tcp_accept(AsfDriver* listener, AsfAssociation* assoc, AsfAddressBlock** peer,
               AsfControlBlock* cb) {
  if (!asf_assoc_valid(assoc) || assoc->transport == nullptr) {
    std::snprintf(cb->text, sizeof cb->text, "%s#%d", asf_basename(__FILE__), __LINE__);
    return ASF_ERROR(cb, -25546, 0), -1;
  }
  AsfDriver* d = &assoc->transport->driver;
  TcpRecord* lr = Record(listener);
  if (lr == nullptr) return ASF_ERROR(cb, -25546, 0), -1;
  sockaddr_storage ps;
  socklen_t plen = sizeof ps;
  int fd = Retry([&] { return sock_accept(lr->fd, reinterpret_cast<sockaddr*>(&ps), &plen); });
  if (fd < 0) return ASF_ERROR(cb, -25573, errno), -1;
  tcp_from_native(&ps, &d->second, 0);
  if (d->ops.describe_peer == nullptr || d->ops.describe_peer(&d->second, peer, d, cb) != 0) {
    CloseQuietly(fd);
    return -1;
  }
  d->flags |= DRV_ACCEPTED;
  tcp_set_options(d, fd, lr->option_bits);
  return FinishSocket(d, fd, assoc, true, cb);
}

int tcp_describe_peer(const AsfAddress* peer, AsfAddressBlock** out, AsfDriver* d,
                      AsfControlBlock* cb) {
  if (out == nullptr) return ASF_ERROR(cb, -25563, 0), -1;
  AsfAddressBlock* block = *out;
  if (block == nullptr) {
    block = static_cast<AsfAddressBlock*>(std::calloc(1, sizeof(AsfAddressBlock)));
    if (block == nullptr) return ASF_ERROR(cb, -406, ENOMEM), -1;
  }
  const AsfSockAddr& a = peer->sock;
  char host[NI_MAXHOST];
  int kind = 8;
  if (IsLoopback(a)) {
    std::strcpy(host, "localhost");
  } else if (IsAny(a)) {
    std::strcpy(host, "WILDCARD");
  } else if (tcp_same_address(&a, &d->second.sock) == 0 &&
             tcp_same_address(&d->second.sock, &d->target.sock) == 0) {
    if (rhostname(host, sizeof host) != 0) {
      if (*out == nullptr) std::free(block);
      return ASF_ERROR(cb, -406, errno), -1;
    }
  } else {
    TcpHostRecord h;
    int length = a.family == kFamily6 ? 16 : 4;
    if (!(cb->mode & 0x100) && tcp_lookup_address(a.addr, length, a.family, 0, &h) == 0) {
      CopyText(host, sizeof host, h.name);
    } else {
      tcp_numeric_text(a.family, a.addr, host, sizeof host);
      kind = 2;
    }
  }
  char text[NI_MAXHOST + 32];
  std::snprintf(text, sizeof text, "%s|%d|%s", host, ntohs(a.port), d->protocol_name);
  char* copy = asf_strdup(1, text);
  if (copy == nullptr) {
    if (*out == nullptr) std::free(block);
    return ASF_ERROR(cb, -406, ENOMEM), -1;
  }
  std::free(block->text);
  block->kind = kind;
  block->text = copy;
  *out = block;
  return 0;
}

int tcp_send(AsfDriver* d, AsfPacketBuffer* buf, AsfControlBlock* cb, AsfTransport*) {
  AsfAssociation* a = cb->assoc;
  TcpRecord* r = Record(d);
  if (r == nullptr || buf == nullptr) return ASF_ERROR(cb, -25546, 0), -1;
  int fd = r->fd;
  auto back = [&]() {
    if (buf->marker != -2) drv_return_buffer(a, ASF_BF_SEND, buf);
  };
  int32_t timeout = cb->timeout_ms;
  if (timeout >= 0) {
    if (timeout == 0 && !(d->flags & DRV_NONBLOCKING) && drv_set_nonblocking(d, fd, cb) != 0) return -1;
    if (!Ssl(d)) {
      // A plain socket is written without blocking: what it can take goes
      // out at once, and the wait is only for a full send buffer, so that
      // no write blocks past the time-out. On a time-out the buffer's
      // position and count tell what is still to go.
      int kind = 5;
      while (buf->left > 0) {
        ssize_t n = Retry([&] { return sock_send(fd, buf->position, buf->left, MSG_DONTWAIT); });
        if (n >= 0) {
          buf->position += n;
          buf->left -= static_cast<uint32_t>(n);
          continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
          int err = errno;
          back();
          return ASF_ERROR(cb, -25580, err), -1;
        }
        int w = drv_wait(fd, 0, timeout, kind);
        if (w == 0) return ASF_ERROR(cb, ASF_TIMEOUT, 0), -1;
        if (w < 0) {
          int err = errno;
          back();
          return ASF_ERROR(cb, -25580, err), -1;
        }
        kind = 2;  // an urgent byte that woke the wait does not make room
      }
      back();
      return 0;
    }
    int w = drv_wait(fd, 0, timeout, 5);
    if (w == 0) return ASF_ERROR(cb, ASF_TIMEOUT, 0), -1;
    if (w < 0) {
      int err = errno;
      back();
      return ASF_ERROR(cb, -25580, err), -1;
    }
  } else if ((d->flags & DRV_NONBLOCKING) && drv_set_blocking(d, fd, cb) != 0) {
    return -1;
  }
  while (buf->left > 0) {
    ssize_t n;
    if (Ssl(d)) {
      int32_t count = 0;
      if (conssl_write(d, buf->position, static_cast<int32_t>(buf->left), &count, cb) != 0) return -1;
      n = count;
    } else {
      n = Retry([&] { return sock_send(fd, buf->position, buf->left, 0); });
    }
    if (n < 0) {
      int err = errno;
      if ((err == EAGAIN || err == EWOULDBLOCK) && timeout >= 0) return ASF_ERROR(cb, ASF_TIMEOUT, 0), -1;
      back();
      return ASF_ERROR(cb, -25580, err), -1;
    }
    buf->position += n;
    buf->left -= static_cast<uint32_t>(n);
  }
  back();
  return 0;
}

int tcp_recv(AsfDriver* d, AsfPacketBuffer** bufp, AsfControlBlock* cb, AsfTransport*) {
  AsfAssociation* a = cb->assoc;
  TcpRecord* r = Record(d);
  if (r == nullptr || bufp == nullptr) return ASF_ERROR(cb, -25546, 0), -1;
  int fd = r->fd;
  AsfPacketBuffer* buf = *bufp;
  bool from_slot = false;
  if (buf == nullptr) {
    if (asf_buffer_get(a, ASF_BF_RECV, &buf) != 0) return ASF_ERROR(cb, -25546, 0), -1;
    from_slot = true;
  }
  auto fail = [&](int code, int err) {
    if (from_slot) drv_return_buffer(a, ASF_BF_RECV, buf);
    return ASF_ERROR(cb, code, err), -1;
  };
  int32_t timeout = cb->timeout_ms;
  // Under a time-out, a plain socket whose last read filled the buffer
  // likely has more waiting: it is read at once, and the wait is only for
  // a socket that has none yet. Otherwise (an answer still to come) the
  // wait comes first, as a read that finds nothing would only add a call.
  bool taken = false;
  ssize_t n = -1;
  if (timeout >= 0) {
    if (timeout == 0 && !(d->flags & DRV_NONBLOCKING) && drv_set_nonblocking(d, fd, cb) != 0) {
      return fail(cb->error, cb->os_error);
    }
    if (!Ssl(d) && (d->flags & DRV_RECV_FILLED)) {
      n = Retry([&] { return sock_recv(fd, buf->data, buf->size, MSG_DONTWAIT); });
      taken = n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
    }
    if (!taken) {
      int w = drv_wait(fd, 0, timeout, 4);
      if (w == 0) return fail(ASF_TIMEOUT, 0);
      if (w < 0) return fail(-25580, errno);
    }
  } else if ((d->flags & DRV_NONBLOCKING) && drv_set_blocking(d, fd, cb) != 0) {
    return fail(cb->error, cb->os_error);
  }
  if (!taken && Ssl(d)) {
    int32_t count = 0;
    if (conssl_read(d, buf->data, static_cast<int32_t>(buf->size), &count, cb) != 0) {
      return fail(cb->error, cb->os_error);
    }
    n = count;
  } else if (!taken) {
    n = Retry([&] { return sock_recv(fd, buf->data, buf->size, 0); });
  }
  if (n > 0) {
    if (static_cast<size_t>(n) == buf->size) d->flags |= DRV_RECV_FILLED;
    else d->flags &= ~static_cast<uint32_t>(DRV_RECV_FILLED);
    buf->position = buf->data;
    buf->left = static_cast<uint32_t>(n);
    *bufp = buf;
    return 0;
  }
  d->flags &= ~static_cast<uint32_t>(DRV_RECV_FILLED);
  if (n == 0) {
    buf->position = buf->data;
    buf->left = 0;
    return fail(-25582, 0);
  }
  int err = errno;
  if (err == EAGAIN || err == EWOULDBLOCK) return fail(timeout >= 0 ? ASF_TIMEOUT : -25587, timeout >= 0 ? 0 : err);
  if (err == ECONNRESET) return fail(-25582, err);
  return fail(-25580, err);
}

int tcp_interrupt(AsfDriver* d, AsfPacketBuffer* buf, AsfControlBlock* cb, AsfTransport*) {
  AsfAssociation* a = cb->assoc;
  TcpRecord* r = Record(d);
  if (!(d->flags & DRV_CONNECTING) || r == nullptr || buf == nullptr) {
    drv_return_buffer(a, ASF_BF_SEND | ASF_BF_EXPEDITED, buf);
    return 0;
  }
  ssize_t n = Retry([&] { return sock_send(r->fd, buf->position, buf->left, MSG_OOB); });
  int err = errno;
  drv_return_buffer(a, ASF_BF_SEND | ASF_BF_EXPEDITED, buf);
  if (n < 0) return ASF_ERROR(cb, -25580, err), -1;
  return 0;
}

int tcp_expedited_buffer(AsfDriver*, AsfPacketBuffer** buf, AsfControlBlock* cb) {
  if (asf_buffer_get(cb->assoc, ASF_BF_RECV | ASF_BF_EXPEDITED, buf) != 0) {
    return ASF_ERROR(cb, -25579, 0), -1;
  }
  return 0;
}

int tcp_close(AsfDriver* d, uint32_t flags, AsfControlBlock* cb) {
  TcpRecord* r = Record(d);
  if (r == nullptr) return 0;
  if (t_urgent.driver == d) t_urgent = {nullptr, nullptr};
  if (Ssl(d)) conssl_close(d, r->fd);
  if ((flags & TL_CLOSE_ABORTIVE) || flags == TL_CLOSE_LISTENER) {
    // At once: no lingering over unsent data (a listener has none).
    if (flags & TL_CLOSE_ABORTIVE) {
      struct linger off = {1, 0};
      sock_setopt(r->fd, SOL_SOCKET, SO_LINGER, &off, sizeof off);
    }
    CloseQuietly(r->fd);
  } else {
    d->flags |= DRV_CLOSING;
    if (!(flags & TL_CLOSE_KEEP_OPEN) && r->fd > 0) {
      Retry([&] { return sock_shutdown(r->fd, SHUT_RDWR); });
      CloseQuietly(r->fd);
    }
  }
  drv_free_buffers(d, cb);
  return 0;
}

int tcp_export(AsfDriver* d, AsfArena* arena, int32_t* error_pair) {
  TcpRecord* r = Record(d);
  void* block = asf_arena_alloc(arena, 32, nullptr);
  if (r == nullptr || block == nullptr) {
    if (error_pair != nullptr) {
      error_pair[0] = -1;
      error_pair[1] = errno;
    }
    return -1;
  }
  std::memcpy(block, r, 32);
  // The program that takes the socket over gets it across exec.
  int fdflags = fcntl(r->fd, F_GETFD);
  if (fdflags >= 0) fcntl(r->fd, F_SETFD, fdflags & ~FD_CLOEXEC);
  return 0;
}

int tcp_import(AsfDriver* d, AsfArena* arena, AsfControlBlock* cb) {
  void* block = asf_arena_take(arena, 32);
  if (block == nullptr) return ASF_ERROR(cb, -1, errno), -1;
  TcpRecord copy;
  std::memcpy(&copy, block, 32);
  int fdflags = copy.fd >= 0 ? fcntl(copy.fd, F_GETFD) : -1;
  if (fdflags < 0) return ASF_ERROR(cb, -25546, EBADF), -1;
  fcntl(copy.fd, F_SETFD, fdflags | FD_CLOEXEC);
  auto* record = static_cast<TcpRecord*>(std::calloc(1, sizeof(TcpRecord)));
  if (record == nullptr) return ASF_ERROR(cb, -406, ENOMEM), -1;
  *record = copy;
  record->tls = nullptr;
  d->record = record;
  if (drv_alloc_buffers(d, cb->assoc, cb) != 0) {
    std::free(record);
    d->record = nullptr;
    return -1;
  }
  if (drv_select_ops(d) != 0) {
    drv_free_buffers(d, cb);
    return ASF_ERROR(cb, -25503, 0), -1;
  }
  tcp_arm_interrupt(cb->assoc, d);
  return 0;
}

int tcp_descriptors(AsfDriver* d, AsfTlAttribute* request) {
  TcpRecord* r = Record(d);
  if (r == nullptr || request == nullptr || request->result == nullptr) return -1;
  int* pair = static_cast<int*>(request->result);
  pair[0] = pair[1] = r->fd;
  return 0;
}

int tcp_arm_interrupt(AsfAssociation* assoc, AsfDriver* d) {
  TcpRecord* r = Record(d);
  if (r == nullptr) return -1;
  t_urgent = {assoc, d};
  os_set_interrupt_handler(16, UrgentHandler);
  // The urgent-data signal goes to this thread, the one that armed it.
  struct f_owner_ex owner = {F_OWNER_TID, static_cast<pid_t>(syscall(SYS_gettid))};
  if (Retry([&] { return fcntl(r->fd, F_SETOWN_EX, &owner); }) != 0) return -1;
  d->flags |= DRV_INTERRUPT_ARMED;
  return 0;
}

int tcp_same_address(const AsfSockAddr* a, const AsfSockAddr* b) {
  if (a->port != b->port) return 1;
  if (a->family == b->family) {
    return std::memcmp(a->addr, b->addr, a->family == kFamily6 ? 16 : 4) == 0 ? 0 : 1;
  }
  const AsfSockAddr* v6 = a->family == kFamily6 ? a : b;
  const AsfSockAddr* v4 = a->family == kFamily6 ? b : a;
  if (!V4Mapped(*v6)) return 1;
  return std::memcmp(v6->addr + 12, v4->addr, 4) == 0 ? 0 : 1;
}

int tcp_same_host(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return -1;
  if (std::strcmp(a, b) == 0) return 0;
  if (std::strlen(a) > 256 || std::strlen(b) > 256) return -1;
  if (a[0] == '*' || b[0] == '*') return 0;
  char ta[300], tb[300];
  std::snprintf(ta, sizeof ta, "%s|0|soctcp", a);
  std::snprintf(tb, sizeof tb, "%s|0|soctcp", b);
  AsfControlBlock quiet{};
  AsfAddress xa{}, xb{};
  if (tcp_resolve(ta, &xa, &quiet, nullptr, 0) != 0 || tcp_resolve(tb, &xb, &quiet, nullptr, 0) != 0) {
    return -1;
  }
  return tcp_same_address(&xa.sock, &xb.sock) == 0 ? 0 : -1;
}

namespace {
int ReservedNoop() { return 0; }
int WaitNoop(AsfDriver*, int32_t, AsfControlBlock*, AsfTransport*) { return 0; }
const AsfDriverOps kTcpOps = {tcp_init, tcp_shutdown, tcp_connect, tcp_listen, tcp_accept,
                              tcp_send, tcp_recv, tcp_interrupt, tcp_expedited_buffer, tcp_close,
                              tcp_export, tcp_import, tcp_descriptors, WaitNoop, tcp_resolve,
                              tcp_describe_peer, ReservedNoop, tcp_to_native, tcp_from_native,
                              tcp_set_options, tcp_arm_interrupt, ReservedNoop};
}  // namespace

const AsfDriverOps* tcp_ops(void) { return &kTcpOps; }

TV_END_C
