// Driver helpers: operation tables, packet buffers, waits and blocking
// switches, and the small descriptor and user helpers.
#include "connect/driver.h"

#include <pwd.h>
#include <sys/select.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "base/client_locale.h"
#include "base/locale_state.h"
#include "base/os_accounts.h"
#include "connect/asfutil.h"
#include "connect/sockets.h"
#include "locale/core/gl_ext.h"
#include "locale/core/gl_mbstring.h"

namespace {

int64_t MonotonicSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

DrvSelectFn g_select = nullptr;
DrvClockFn g_clock = nullptr;

}  // namespace

TV_BEGIN_C

void drv_set_wait_hooks(DrvSelectFn select_fn, DrvClockFn clock_fn) {
  g_select = select_fn;
  g_clock = clock_fn;
}

int drv_select_ops(AsfDriver* d) {
  const AsfDriverOps* ops;
  switch (d->protocol_id) {
    case 1: case 19: ops = tcp_ops(); break;
    case 9: ops = pipe_ops(); break;
    case 16: ops = namedpipe_ops(); break;
    default: return -1;
  }
  d->ops = *ops;
  return 0;
}

int drv_alloc_buffers(AsfDriver* d, AsfAssociation* a, AsfControlBlock* cb) {
  AsfPacketBuffer* bufs[4] = {};
  char* areas[3] = {};
  uint32_t size = d->buffer_size != 0 ? d->buffer_size : 4096;
  bool ok = true;
  for (AsfPacketBuffer*& b : bufs) {
    b = static_cast<AsfPacketBuffer*>(std::calloc(1, sizeof(AsfPacketBuffer)));
    ok = ok && b != nullptr;
  }
  areas[0] = static_cast<char*>(std::calloc(1, size));
  areas[1] = static_cast<char*>(std::calloc(1, size));
  areas[2] = static_cast<char*>(std::calloc(1, 1));
  ok = ok && areas[0] != nullptr && areas[1] != nullptr && areas[2] != nullptr;
  uint32_t room = a->header_room > 0 ? static_cast<uint32_t>(a->header_room) : 0;
  if (ok) {
    AsfPacketBuffer* send = bufs[0];
    AsfPacketBuffer* recv = bufs[1];
    AsfPacketBuffer* xsend = bufs[2];
    AsfPacketBuffer* xrecv = bufs[3];
    *send = {areas[0], 0, 0, 0, areas[0], size, room};
    *recv = {areas[1], 0, 0, 0, areas[1], size, room};
    *xsend = {areas[2], 0, 0, 0, areas[2], 1, 0};
    // The expedited receive byte is the association's own interrupt byte.
    char* irq = reinterpret_cast<char*>(a->own_irq + 1);
    *xrecv = {irq, 0, 0, 0, irq, 1, 0};
    ok = asf_buffer_put(a, ASF_BF_SEND | 8, send) == 0 &&
         asf_buffer_put(a, ASF_BF_RECV | 8, recv) == 0 &&
         asf_buffer_put(a, ASF_BF_SEND | ASF_BF_EXPEDITED, xsend) == 0 &&
         asf_buffer_put(a, ASF_BF_RECV | ASF_BF_EXPEDITED, xrecv) == 0;
    if (!ok) {
      for (AsfPacketBuffer*& slot : a->buffers) {
        for (AsfPacketBuffer* b : bufs) {
          if (slot == b) slot = nullptr;
        }
      }
    }
  }
  if (!ok) {
    for (AsfPacketBuffer* b : bufs) std::free(b);
    for (char* p : areas) std::free(p);
    return ASF_ERROR(cb, -406, errno != 0 ? errno : ENOMEM), -1;
  }
  for (int i = 0; i < 4; ++i) d->owned[i] = bufs[i];
  return 0;
}

int drv_free_buffers(AsfDriver* d, AsfControlBlock* cb) {
  AsfAssociation* a = cb != nullptr ? cb->assoc : nullptr;
  for (int i = 0; i < 4; ++i) {
    AsfPacketBuffer* b = d->owned[i];
    if (b == nullptr) continue;
    if (asf_assoc_valid(a)) {
      for (AsfPacketBuffer*& slot : a->buffers) {
        if (slot == b) slot = nullptr;
      }
    }
    // The expedited receive byte belongs to the association.
    if (i != 3) std::free(b->data);
    std::free(b);
    d->owned[i] = nullptr;
  }
  std::free(d->record);
  d->record = nullptr;
  return 0;
}

void drv_return_buffer(AsfAssociation* a, uint32_t flags, AsfPacketBuffer* buf) {
  if (!asf_assoc_valid(a) || buf == nullptr) return;
  if (flags & ASF_BF_SEND) {
    buf->position = buf->data + buf->start_offset;
    buf->left = buf->size - buf->start_offset;
  }
  for (AsfPacketBuffer* slot : a->buffers) {
    if (slot == buf) return;
  }
  asf_buffer_put(a, flags, buf);
}

int drv_wait(int fd, int32_t seconds, int32_t milliseconds, int32_t kind) {
  bool r = false, w = false, x = false;
  switch (kind) {
    case 1: r = true; break;
    case 2: w = true; break;
    case 3: r = w = x = true; break;
    case 4: r = x = true; break;
    case 5: w = x = true; break;
    default: return -1;
  }
  bool forever = seconds == 0 && milliseconds < 0;
  bool whole_seconds = seconds != 0 || milliseconds >= 1000;
  int64_t total = seconds != 0 ? seconds : milliseconds / 1000;
  DrvClockFn clock = g_clock != nullptr ? g_clock : MonotonicSeconds;
  DrvSelectFn sel = g_select != nullptr ? g_select : ::select;
  int64_t start = clock();
  int64_t remaining = total;
  int rc;
  for (;;) {
    fd_set rs, ws, xs;
    FD_ZERO(&rs);
    FD_ZERO(&ws);
    FD_ZERO(&xs);
    if (r) FD_SET(fd, &rs);
    if (w) FD_SET(fd, &ws);
    if (x) FD_SET(fd, &xs);
    struct timeval tv;
    if (whole_seconds) {
      tv.tv_sec = static_cast<time_t>(remaining);
      tv.tv_usec = 0;
    } else {
      tv.tv_sec = 0;
      tv.tv_usec = milliseconds * 1000;
    }
    rc = sel(fd + 1, r ? &rs : nullptr, w ? &ws : nullptr, x ? &xs : nullptr,
             forever ? nullptr : &tv);
    if (rc >= 0 || errno != EINTR) return rc;
    if (whole_seconds) {
      remaining = total - (clock() - start);
      if (remaining <= 0) return rc;
    }
  }
}

int drv_set_nonblocking(AsfDriver* d, int fd, AsfControlBlock* cb) {
  if (sock_set_nbio(fd, 1) != 0) return ASF_ERROR(cb, -25580, errno), -1;
  d->flags |= DRV_NONBLOCKING;
  return 0;
}

int drv_set_blocking(AsfDriver* d, int fd, AsfControlBlock* cb) {
  if (sock_set_nbio(fd, 0) != 0) return ASF_ERROR(cb, -25580, errno), -1;
  d->flags &= ~static_cast<uint32_t>(DRV_NONBLOCKING);
  return 0;
}

int drv_fail(void) { return -1; }

int drv_unsupported(AsfControlBlock* cb) { return ASF_ERROR(cb, -25592, 0), -1; }

int os_rewind(int fd) { return lseek(fd, 0, SEEK_SET) == 0 ? 0 : -1; }

int64_t os_read_items(void* buf, size_t item_size, size_t count, int fd) {
  return read(fd, buf, item_size * count);
}

int os_all_digits(const char* text) {
  if (text == nullptr) return 1;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return 0;
  }
  return 1;
}

int os_current_user(char* buf) {
  if (buf == nullptr) return -1;
  buf[0] = '\0';
  AsfUserRecord record;
  if (os_user_record(tv_getuid(), &record) == 0) {
    std::strcpy(buf, record.name);
    return 0;
  }
  // A process whose account the base services have not registered yet
  // still has its operating-system account.
  struct passwd pw;
  struct passwd* found = nullptr;
  char text[4096];
  if (getpwuid_r(geteuid(), &pw, text, sizeof text, &found) != 0 || found == nullptr) return -1;
  std::strncpy(buf, found->pw_name, 255);
  buf[255] = '\0';
  return 0;
}

int32_t os_find_at(const char* text, int32_t* status) {
  int32_t dummy;
  if (status == nullptr) status = &dummy;
  *status = 0;
  if (text == nullptr) {
    *status = -1;
    return 0;
  }
  int rc = rglinit();
  if (rc != 0) {
    *status = rc;
    return 0;
  }
  GlLocale* loc = rgllocstate()->client;
  if (loc == nullptr || rgl_single_byte()) {
    const char* at = std::strchr(text, '@');
    if (at == nullptr) {
      *status = -1;
      return 0;
    }
    return static_cast<int32_t>(at - text);
  }
  // Character by character, so that an '@' byte inside a multibyte
  // character is never taken for one.
  for (const char* p = text; p != nullptr && *p != '\0'; p = gl_full_mbsnext(loc, p)) {
    if (*p == '@') return static_cast<int32_t>(p - text);
  }
  int32_t* err = _gl_ext_errno(loc);
  *status = (err != nullptr && *err != 0) ? *err : -1;
  return 0;
}

int pipe_host_check(const char* address, AsfControlBlock* cb) {
  if (address == nullptr) return ASF_ERROR(cb, -25591, 0), -1;
  const char* bar = std::strchr(address, '|');
  size_t n = bar != nullptr ? static_cast<size_t>(bar - address) : std::strlen(address);
  if (n > 0 && address[0] == '&') return 0;
  char host[256];
  if (rhostname(host, sizeof host) != 0) return ASF_ERROR(cb, -406, errno), -1;
  if (std::strlen(host) == n && std::strncmp(host, address, n) == 0) return 0;
  return ASF_ERROR(cb, -25591, 0), -1;
}

TV_END_C
