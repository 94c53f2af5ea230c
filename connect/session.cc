// Session operations: server types "raw", "dr" and "dw" carry their bytes
// straight over the association's transport; all others go through the
// session layer (asfslsqi) after a connection handshake.
//
// Session export block (80 bytes, machine byte order):
//   0 state, 4 selector, 8 connect kind, 12 unused,
//   16 the 40-byte session information, 56 the 24-byte data format;
//   then, for a session over the session layer, that layer's block
#include "connect/session.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/fields.h"
#include "connect/asfpfutl.h"
#include "connect/asfslsqi.h"
#include "connect/csm.h"

namespace {

AsfSession* SessionOf(AsfControlBlock* cb) {
  if (cb == nullptr || !asf_assoc_valid(cb->assoc)) return nullptr;
  return cb->assoc->session;
}

bool Direct(const AsfSession* s) { return s->selector == -1; }

}  // namespace

TV_BEGIN_C

int sess_is_direct(const char* t) {
  return t != nullptr && (std::strncmp(t, "raw", 8) == 0 || std::strncmp(t, "dr", 8) == 0 ||
                          std::strncmp(t, "dw", 8) == 0);
}

int sess_send(AsfControlBlock* cb, AsfDataBody* body) {
  AsfSession* s = SessionOf(cb);
  if (s == nullptr || (s->state != SESS_ESTABLISHED && s->state != 17)) {
    return ASF_ERROR(cb, -25546, 0), -1;
  }
  if (body->value != -1) return ASF_ERROR(cb, -25563, 0), -1;
  AsfPacketBuffer* buf = body->buffer;
  if (buf == nullptr) return ASF_ERROR(cb, -25563, 0), -1;
  if (buf->left == 0) {
    AsfAssociation* a = cb->assoc;
    if (a->buffers[ASF_BUF_SEND] != buf) asf_buffer_put(a, ASF_BF_SEND, buf);
    return 0;
  }
  AsfAssociation* a = cb->assoc;
  if (csm_has_chain(a) && csm_encodes(a)) {
    int rc = csm_send(cb, buf);
    if (rc != 0 && cb->error == ASF_TIMEOUT) return rc;
    csm_put_buffer(a, buf);
    return rc;
  }
  if (!Direct(s)) return sl_send(cb, buf);
  return tl_send(cb, buf);
}

int sess_recv(AsfControlBlock* cb, AsfDataBody* body) {
  AsfSession* s = SessionOf(cb);
  if (s == nullptr || (s->state != SESS_ESTABLISHED && s->state != 17)) {
    body->value = 0;
    body->buffer = nullptr;
    return ASF_ERROR(cb, -25546, 0), -1;
  }
  bool chain = csm_has_chain(cb->assoc) && csm_decodes(cb->assoc);
  if (chain || !Direct(s)) {
    AsfPacketBuffer* data = nullptr;
    if ((chain ? csm_receive(cb, &data) : sl_recv(cb, &data)) != 0) {
      body->value = 0;
      body->buffer = nullptr;
      return -1;
    }
    body->value = -1;
    body->buffer = data;
    return 0;
  }
  AsfPacketBuffer* buf = nullptr;
  if (tl_recv(cb, &buf) != 0) {
    body->value = 0;
    body->buffer = nullptr;
    return -1;
  }
  AsfAssociation* a = cb->assoc;
  if (buf != nullptr && a->buffers[ASF_BUF_RECV] != buf) asf_buffer_put(a, ASF_BF_RECV, buf);
  body->value = -1;
  body->buffer = buf;
  return 0;
}

int sess_release(AsfControlBlock* cb, int32_t code, AsfRequest* body) {
  AsfSession* s = SessionOf(cb);
  if (s == nullptr) {
    if (code == 10) return 0;
    return ASF_ERROR(cb, -27003, 0), -1;
  }
  if (!Direct(s)) {
    bool abort = code == 10;
    AsfPacketBuffer* last = nullptr;
    if (!abort) {
      if (s->state == SESS_FAILED) return ASF_ERROR(cb, ASF_ABORTED_PENDING, 0), -1;
      if (s->state != SESS_ESTABLISHED && s->state != SESS_LISTENING) {
        return ASF_ERROR(cb, -25563, 0), -1;
      }
      if (body != nullptr && body->body.release.value == -1) {
        last = static_cast<AsfPacketBuffer*>(body->body.release.pointer);
      }
    }
    if (s->state == SESS_RELEASED && abort) {
      asf_session_detach(cb->assoc);
      return 0;
    }
    uint32_t flags = abort && body != nullptr ? body->body.flags.flags & TL_CLOSE_ABORTIVE : 0;
    s->state = SESS_RELEASED;
    int rc = sl_release(cb, abort ? static_cast<int32_t>(10 | flags) : code, last);
    if (rc != 0 && !abort) return -1;
    asf_session_detach(cb->assoc);
    return rc;
  }
  s->state = SESS_RELEASED;
  if (csm_has_chain(cb->assoc)) csm_abort(cb);
  uint32_t flags = 0;
  if (code == 10 && body != nullptr) flags = body->body.flags.flags & TL_CLOSE_ABORTIVE;
  int rc = 0;
  if (cb->assoc->transport != nullptr) rc = tl_close(cb, flags);
  if (rc != 0 && code != 10) return -1;
  asf_session_detach(cb->assoc);
  return rc;
}

int sess_interrupt(AsfControlBlock* cb, AsfFlagsBody*) {
  AsfSession* s = SessionOf(cb);
  if (s == nullptr || s->state != SESS_ESTABLISHED) return ASF_ERROR(cb, -25546, 0), -1;
  if (!Direct(s)) return sl_interrupt(cb);
  AsfPacketBuffer* x = nullptr;
  if (asf_buffer_get(cb->assoc, ASF_BF_SEND | ASF_BF_EXPEDITED, &x) != 0) {
    return ASF_ERROR(cb, -25579, 0), -1;
  }
  x->position = x->data;
  x->left = 1;
  return tl_interrupt(cb, x);
}

int sess_attributes(AsfControlBlock* cb, AsfSessionAttr* attr) {
  AsfSession* s = SessionOf(cb);
  if (s == nullptr || attr == nullptr) return ASF_ERROR(cb, -25546, 0), -1;
  if (attr->code == 2) {
    if (attr->value != nullptr) *static_cast<void**>(attr->value) = &s->info;
    return 0;
  }
  if (attr->code == 258) return 0;
  if (!Direct(s)) return sl_attributes(cb, attr->code, attr->value);
  return ASF_ERROR(cb, -25546, 0), -1;
}

int sess_export(AsfControlBlock* cb, AsfArena* arena) {
  AsfSession* s = SessionOf(cb);
  if (s == nullptr) return ASF_ERROR(cb, -25546, 0), -1;
  auto* block = static_cast<unsigned char*>(asf_arena_alloc(arena, 80, nullptr));
  if (block == nullptr) return ASF_ERROR(cb, -25557, errno), -1;
  std::memset(block, 0, 80);
  std::memcpy(block + 0, &s->state, 4);
  std::memcpy(block + 4, &s->selector, 4);
  std::memcpy(block + 8, &s->connect_kind, 4);
  std::memcpy(block + 16, &s->info, 40);
  std::memcpy(block + 56, &s->format, 24);
  if (!Direct(s) && sl_export(cb, arena) != 0) return -1;
  s->state = SESS_EXPORTED;
  return 0;
}

int sess_import(AsfControlBlock* cb, AsfArena* arena) {
  auto* block = static_cast<unsigned char*>(asf_arena_take(arena, 80));
  if (block == nullptr) return ASF_ERROR(cb, -25557, errno), -1;
  AsfSessionInfo info;
  std::memcpy(&info, block + 16, 40);
  char type[9] = {}, proto[9] = {};
  std::memcpy(type, info.server_type, 8);
  std::memcpy(proto, info.protocol, 8);
  if (asf_session_attach(cb, 1, type, proto) != 0) return -1;
  AsfSession* s = cb->assoc->session;
  std::memcpy(&s->state, block + 0, 4);
  std::memcpy(&s->selector, block + 4, 4);
  std::memcpy(&s->connect_kind, block + 8, 4);
  s->info = info;
  std::memcpy(&s->format, block + 56, 24);
  if (!Direct(s) && sl_import(cb, arena) != 0) return -1;
  return 0;
}

TV_END_C
