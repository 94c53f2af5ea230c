// Hand-over of open associations to a program this process is about to
// start, and their take-over by that program at its init.
//
// Each handed-over association travels through a pipe of its own whose
// read end the started program inherits; the environment variables
// ASF_S (server), ASF_C (client) and ASF_L (listener) name the read
// descriptors, ASF_G that of the global record. The bytes are an arena
// (machine order, see asf_flatten.cc) that starts with this header:
//
//   0 int32 length word (28), 4 int32 association state, 8 char[8],
//   16 char[8], 24 u8 closed flag, 25 u8 interrupt byte, 26 pad (2)
//
// and goes on with the association's records, its peer identity, the
// session's block and the transport's block. The ASF_G record (28 bytes):
//
//   0 int32 length word (28), 4 setting 1, 8 its current copy,
//   12 hand-over flag, 16 setting 2, 20 setting 3, 24 pad
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "connect/al_internal.h"
#include "connect/asf_flatten.h"
#include "connect/asfslsqi.h"
#include "connect/asfutil.h"
#include "connect/session.h"

namespace {

constexpr int32_t kHeader = 28;

struct Header {
  int32_t length;
  int32_t state;
  char field1[8];
  char field2[8];
  uint8_t closed;
  uint8_t interrupt;
  uint8_t pad[2];
};
static_assert(sizeof(Header) == kHeader);

struct GlobalRecord {
  int32_t length;
  int32_t setting1;
  int32_t setting1_current;
  int32_t handover_flag;
  int32_t setting2;
  int32_t setting3;
  int32_t pad;
};
static_assert(sizeof(GlobalRecord) == kHeader);

int CloseRetry(int fd) {
  int rc;
  do {
    rc = close(fd);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

ssize_t ReadRetry(int fd, void* buf, size_t n) {
  ssize_t got;
  do {
    got = read(fd, buf, n);
  } while (got < 0 && errno == EINTR);
  return got;
}

// Writes bytes into a new pipe whose read end survives exec and puts
// "name=<read descriptor>" into the environment: 0 or -1.
int Publish(const char* name, const void* bytes, size_t n) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  fcntl(fds[0], F_SETPIPE_SZ, 4096);
  int flags = fcntl(fds[0], F_GETFD);
  if (flags < 0 || fcntl(fds[0], F_SETFD, flags & ~FD_CLOEXEC) != 0) {
    CloseRetry(fds[0]);
    CloseRetry(fds[1]);
    return -1;
  }
  const auto* p = static_cast<const unsigned char*>(bytes);
  size_t left = n;
  while (left > 0) {
    ssize_t w = write(fds[1], p, left);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      CloseRetry(fds[0]);
      CloseRetry(fds[1]);
      return -1;
    }
    p += w;
    left -= static_cast<size_t>(w);
  }
  if (CloseRetry(fds[1]) != 0) {
    CloseRetry(fds[0]);
    return -1;
  }
  char value[16];
  std::snprintf(value, sizeof value, "%d", fds[0]);
  if (setenv(name, value, 1) != 0) {
    CloseRetry(fds[0]);
    return -1;
  }
  return 0;
}

AsfAssocRecords RecordsOf(AsfAssocState* st) {
  AsfAssocRecords r{};
  r.conn_record = st->conn_record;
  r.credential = st->credential;
  r.option_list = st->kind == ASF_INITIATOR ? nullptr : st->option_list;
  return r;
}

// Hands the single association of one list over: 0, or -1 with the error.
int HandOne(AsfControlBlock* cb, AsfAssociation** head, const char* var) {
  AsfAssociation* a = *head;
  if (a == nullptr) return 0;
  if (!asf_assoc_valid(a) || a->state == nullptr) return ASF_ERROR(cb, -25546, 0), -1;
  if (a->state->next != nullptr) return ASF_ERROR(cb, -25548, 0), -1;
  AsfAssocState* st = a->state;
  auto* buffer = static_cast<unsigned char*>(std::calloc(1, 2056));
  AsfArena* arena = buffer != nullptr ? asf_arena_new(0, 1, buffer, 2056) : nullptr;
  auto done = [&](int rc) {
    asf_arena_free(arena);
    std::free(buffer);
    return rc;
  };
  if (arena == nullptr) return done((ASF_ERROR(cb, -406, ENOMEM), -1));
  auto* h = static_cast<Header*>(asf_arena_alloc(arena, kHeader, nullptr));
  if (h == nullptr) return done((ASF_ERROR(cb, -406, ENOMEM), -1));
  cb->assoc = a;
  h->length = arena->used;
  h->state = st->state;
  std::memcpy(h->field1, st->field1, 8);
  std::memcpy(h->field2, st->field2, 8);
  h->closed = a->user != nullptr ? a->user[0] : 0;
  h->interrupt = a->user != nullptr ? a->user[1] : 0;
  AsfAssocRecords records = RecordsOf(st);
  int rc = asf_flatten_assoc(arena, st->kind, &records);
  if (rc == 0) rc = asf_flatten_identity(arena, &st->peer);
  if (rc != 0) return done((ASF_ERROR(cb, rc, errno), -1));
  if (sess_export(cb, arena) != 0) return done(-1);
  if (a->transport != nullptr && tl_export(cb, arena) != 0) return done(-1);
  if (Publish(var, buffer, static_cast<size_t>(arena->used)) != 0) {
    return done((ASF_ERROR(cb, -25597, errno), -1));
  }
  AsfRequest abort;
  std::memset(&abort, 0, sizeof abort);
  abort.type = ASF_ASSOCABORT;
  asf_perform_abort(cb, st, &abort);
  asf_assoc_destroy(a);
  cb->assoc = nullptr;
  return done(0);
}

int Descriptor(const char* var, int* fd) {
  const char* v = std::getenv(var);
  if (v == nullptr || v[0] == '\0') return 1;
  char* end = nullptr;
  long n = std::strtol(v, &end, 10);
  if (end == v || *end != '\0' || n < 0 || n > 65535) return -1;
  *fd = static_cast<int>(n);
  return 0;
}

int TakeGlobal(AsfControlBlock* cb) {
  int fd = -1;
  int found = Descriptor("ASF_G", &fd);
  if (found == 1) return 0;
  if (found != 0) return ASF_ERROR(cb, -25597, EBADF), -1;
  GlobalRecord rec{};
  ssize_t n = ReadRetry(fd, &rec, sizeof rec);
  int closed = CloseRetry(fd);
  if (closed != 0 && n != rec.length) return ASF_ERROR(cb, -25597, errno), -1;
  AsfGlobal* g = asf_global_get();
  if (g != nullptr && n == kHeader && rec.length == kHeader) {
    g->setting1 = rec.setting1;
    g->setting1_current = rec.setting1_current;
    g->handover_flag = rec.handover_flag;
    g->setting2 = rec.setting2;
    g->setting3 = rec.setting3;
  }
  unsetenv("ASF_G");
  return 0;
}

int TakeOne(AsfControlBlock* cb, int32_t kind, void* user, const char* var, AsfAssociation** out) {
  int fd = -1;
  int found = Descriptor(var, &fd);
  if (user == nullptr || found == 1) return 0;
  if (found != 0) return ASF_ERROR(cb, -25597, EBADF), -1;
  AsfAssociation* a = asf_assoc_new(cb, kind, nullptr);
  if (a == nullptr) return ASF_ERROR(cb, -25597, 0), -1;
  auto* area = static_cast<unsigned char*>(user);
  a->user = area;
  AsfAssocState* st = a->state;
  st->kind = kind;
  st->prev = st->next = nullptr;
  st->flag_area = area;
  auto* buffer = static_cast<unsigned char*>(std::calloc(1, 2056));
  AsfArena* arena = nullptr;
  auto fail = [&](int32_t code, int32_t os) {
    asf_arena_free(arena);
    std::free(buffer);
    cb->assoc = a;
    asf_assoc_destroy(a);
    cb->assoc = nullptr;
    return ASF_ERROR(cb, code, os), -1;
  };
  if (buffer == nullptr) {
    CloseRetry(fd);
    return fail(-406, ENOMEM);
  }
  ssize_t n = ReadRetry(fd, buffer, 2056);
  int closed = CloseRetry(fd);
  unsetenv(var);
  if (n < 0) n = 0;
  arena = asf_arena_new(0, 1, buffer, static_cast<int32_t>(n));
  auto* h = arena != nullptr ? static_cast<Header*>(asf_arena_take(arena, kHeader)) : nullptr;
  if (h == nullptr) return fail(-406, ENOMEM);
  if ((closed != 0 && n != h->length) || h->length != kHeader) return fail(-25597, 0);
  st->state = h->state;
  std::memcpy(st->field1, h->field1, 8);
  std::memcpy(st->field2, h->field2, 8);
  area[0] = h->closed;
  area[1] = h->interrupt;
  cb->callback = nullptr;
  cb->assoc = a;
  AsfAssocRecords records{};
  if (asf_unflatten_assoc(arena, kind, &records) != 0) return fail(-25546, errno);
  st->conn_record = records.conn_record;
  st->credential = records.credential;
  st->option_list = records.option_list;
  if (asf_unflatten_identity(arena, &st->peer) != 0) return fail(-25546, errno);
  if (sess_import(cb, arena) != 0) return fail(-25546, cb->os_error);
  AsfSession* s = a->session;
  if (s != nullptr && arena->used < arena->size) {
    if (tl_import(cb, arena) != 0) return fail(-25546, cb->os_error);
    if (s->selector != -1 && sl_import_transport(cb) != 0) return fail(-25546, cb->os_error);
  }
  asf_arena_free(arena);
  arena = nullptr;
  std::free(buffer);
  buffer = nullptr;
  AsfGlobal* g = asf_global_get();
  AsfAssociation** head = kind == ASF_INITIATOR ? &g->clients : kind == ASF_RESPONDER ? &g->servers : &g->listeners;
  int32_t* count = kind == ASF_INITIATOR ? &g->client_count
                   : kind == ASF_RESPONDER ? &g->server_count
                                           : &g->listener_count;
  if (asf_list_insert(g->mutex, head, count, a) != 0) return fail(-25546, 0);
  *out = a;
  cb->assoc = nullptr;
  return 0;
}

}  // namespace

TV_BEGIN_C

int al_takeover_all(AsfControlBlock* cb, AsfInitBody* body) {
  int rc = TakeGlobal(cb);
  if (rc == 0) rc = TakeOne(cb, ASF_RESPONDER, body->server_user, "ASF_S", &body->server_out);
  if (rc == 0) rc = TakeOne(cb, ASF_LISTENER, body->listener_user, "ASF_L", &body->listener_out);
  if (rc == 0) rc = TakeOne(cb, ASF_INITIATOR, body->client_user, "ASF_C", &body->client_out);
  AsfGlobal* g = asf_global_get();
  if (g != nullptr) g->handover_flag = 0;
  return rc;
}

int al_handover(AsfControlBlock* cb, AsfAssocState*, AsfRequest* request) {
  AsfGlobal* g = asf_global_get();
  uint32_t flags = request->body.flags.flags;
  int rc = 0;
  if (g == nullptr) {
    rc = (ASF_ERROR(cb, -25557, 0), -1);
  } else if (flags & 1u) {
    GlobalRecord rec{kHeader, g->setting1, g->setting1_current, g->handover_flag,
                     g->setting2, g->setting3, 0};
    if (Publish("ASF_G", &rec, sizeof rec) != 0) rc = (ASF_ERROR(cb, -25597, errno), -1);
    if (rc == 0) rc = HandOne(cb, &g->servers, "ASF_S");
    if (rc == 0) rc = HandOne(cb, &g->clients, "ASF_C");
    if (rc == 0) rc = HandOne(cb, &g->listeners, "ASF_L");
  } else {
    AsfAssociation** lists[3] = {&g->clients, &g->listeners, &g->servers};
    for (AsfAssociation** head : lists) {
      while (*head != nullptr) {
        AsfAssociation* a = *head;
        if (!asf_assoc_valid(a) || a->state == nullptr) break;
        AsfControlBlock w = *cb;
        w.assoc = a;
        AsfRequest abort;
        asf_request_init(ASF_ASSOCABORT, &abort);
        abort.body.flags.flags = TL_CLOSE_ABORTIVE;
        asf_perform_abort(&w, a->state, &abort);
        if (*head == a) asf_list_remove(a);
        asf_assoc_destroy(a);
      }
    }
  }
  if (rc == 0 && g != nullptr) {
    // The layer itself goes: the next init starts afresh.
    asf_free_identity(1, &g->identity);
    std::free(g->identity.text88);
    g->identity.text88 = nullptr;
    tl_shutdown_drivers(cb, request);
    g->handover_flag = 1;
    asf_global_set(nullptr);
    os_mutex_destroy(g->mutex);
    std::free(g->entries);
    std::free(g);
  }
  cb->assoc = nullptr;
  if (rc == 0) cb->error = 0;
  return rc;
}

TV_END_C
