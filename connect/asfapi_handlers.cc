// The data-transfer and control handlers of the service table: send,
// receive, get buffer, interrupt, wait, release, abort and attributes.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "connect/asfapi_internal.h"
#include "connect/asfutil.h"
#include "connect/session.h"

namespace {

AsfAssociation* Assoc(AsfControlBlock* cb) { return cb != nullptr ? cb->assoc : nullptr; }

int Done(AsfControlBlock* cb) {
  cb->error = 0;
  return 0;
}

}  // namespace

TV_BEGIN_C

int al_send(AsfControlBlock* cb, AsfAssocState*, AsfRequest* request) {
  AsfAssociation* a = Assoc(cb);
  AsfPacketBuffer* buf = request->body.data.buffer;
  AsfPacketBuffer* current = a->buffers[ASF_BUF_SEND];
  if (buf == nullptr || buf != current) {
    if (current != nullptr) {
      current->position = current->data + current->start_offset;
      current->left = current->size - current->start_offset;
    }
    return ASF_ERROR(cb, -25563, 0), -1;
  }
  if (buf->left == 0) {
    // Nothing to send: the buffer is emptied and stays the send buffer.
    buf->position = buf->data + buf->start_offset;
    buf->left = buf->size - buf->start_offset;
    return Done(cb);
  }
  if (sess_send(cb, &request->body.data) != 0) return -1;
  return Done(cb);
}

int al_recv(AsfControlBlock* cb, AsfAssocState*, AsfRequest* request) {
  if (sess_recv(cb, &request->body.data) != 0) return -1;
  if (request->body.data.buffer != nullptr) request->body.data.buffer->marker = -1;
  return Done(cb);
}

int al_get_buffer(AsfControlBlock* cb, AsfAssocState*, AsfRequest* request) {
  AsfAssociation* a = Assoc(cb);
  AsfPacketBuffer* buf = a->buffers[ASF_BUF_SEND];
  if (buf == nullptr) return ASF_ERROR(cb, -25546, 0), -1;
  buf->marker = -1;
  request->body.get_buffer.buffer = buf;
  return Done(cb);
}

int al_interrupt(AsfControlBlock* cb, AsfAssocState*, AsfRequest* request) {
  AsfAssociation* a = Assoc(cb);
  if (a->session == nullptr || a->session->state != SESS_ESTABLISHED) {
    return ASF_ERROR(cb, -25546, 0), -1;
  }
  if (sess_interrupt(cb, &request->body.flags) != 0) return -1;
  return Done(cb);
}

int al_wait(AsfControlBlock* cb, AsfAssocState*, AsfRequest*) {
  int rc = tl_wait(cb, cb->timeout_ms);
  cb->assoc = nullptr;
  return rc;
}

int al_release(AsfControlBlock* cb, AsfAssocState* st, AsfRequest* request) {
  int rc = sess_release(cb, 9, request);
  if (rc != 0 && request->body.release.code != 10) return -1;
  asf_state_free_records(st, 0);
  if (rc != 0) return -1;
  return Done(cb);
}

int al_abort(AsfControlBlock* cb, AsfAssocState* st, AsfRequest* request) {
  if (st->slots[ASF_SLOT_OUT].busy || st->slots[ASF_SLOT_IN].busy ||
      st->slots[ASF_SLOT_EXPEDITED].busy) {
    std::memcpy(&st->saved_abort, request, sizeof(AsfRequest));
    std::memcpy(&st->saved_abort_block, cb, sizeof(AsfControlBlock));
  }
  return Done(cb);
}

int al_attribute(AsfControlBlock* cb, AsfAssocState* st, AsfRequest* request) {
  int32_t code = request->body.attribute.code;
  void* value = request->body.attribute.value;
  AsfAssociation* a = Assoc(cb);
  auto out = [&](void* pointer) {
    if (value != nullptr) *static_cast<void**>(value) = pointer;
  };
  switch (code) {
    case 4: {
      AsfGlobal* g = asf_global_get();
      if (g == nullptr) return ASF_ERROR(cb, -25557, 0), -1;
      out(&g->setting1);
      return Done(cb);
    }
    case 260:
      return Done(cb);
    default:
      break;
  }
  if (!asf_assoc_valid(a) || st == nullptr) return ASF_ERROR(cb, -25546, 0), -1;
  switch (code) {
    case 3: out(&st->peer); break;
    case 5: out(&st->conn_record); break;
    case 7: out(st->kind == ASF_RESPONDER ? nullptr : static_cast<void*>(&st->server_entry)); break;
    case 8: out(&a->flags); break;
    case 16: out(a->user); break;
    case 259: case 261: case 263: break;
    case 264:
      if (value == nullptr) return ASF_ERROR(cb, -25563, 0), -1;
      a->flags = *static_cast<uint32_t*>(value);
      break;
    case 272: {
      unsigned char* area = value != nullptr ? static_cast<unsigned char*>(value) : a->own_irq;
      area[0] = 0;
      area[1] = 0;
      a->user = area;
      if (AsfPacketBuffer* x = a->buffers[ASF_BUF_XRECV]) {
        x->data = reinterpret_cast<char*>(area + 1);
        x->position = x->data;
        x->size = 1;
        x->start_offset = 0;
      }
      break;
    }
    case 512:
      if (st->conn_record != nullptr && st->conn_record->password != nullptr) {
        for (char* p = st->conn_record->password; *p != '\0'; ++p) *p = '\0';
      }
      break;
    default: {
      AsfSessionAttr attr = {code, value};
      if (sess_attributes(cb, &attr) != 0) return -1;
      break;
    }
  }
  return Done(cb);
}

TV_END_C
