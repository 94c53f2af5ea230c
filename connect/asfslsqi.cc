// The session layer: packets, the handshake on them and multiplexing.
//
// Every connection that a session of this layer makes or accepts gets a
// control record shared by the sessions on it. Received bytes go through
// the connection's own transport buffer; one session at a time holds the
// receive role and reads, handing each packet to the session whose slot
// it names (the role passes to that session, which is woken). Data given
// to a session is copied into that session's own buffer, so the next
// reader never overwrites bytes a session has not used yet.
#include "connect/asfslsqi.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "base/fields.h"
#include "connect/asfpfutl.h"
#include "connect/asfutil.h"
#include "connect/csm.h"
#include "connect/driver.h"
#include "connect/session.h"

struct SlMuxRequest {
  int32_t length = 0, type = 0, flags = 0, last = 0;
  std::vector<unsigned char> data;
  struct SlMuxControl* mux = nullptr;
  AsfTransport* transport = nullptr;
  SlMuxRequest* next = nullptr;
};

struct SlMuxControl {
  int32_t level = 0;
  int32_t peer_level = 0;
  int32_t count = 1;
  std::mutex ctl;  // "slcommon_ctl": slots, slot states, count
  AsfAssociation* slots[SL_SLOTS] = {};
  int32_t slot_state[SL_SLOTS] = {};  // 0 normal, 1 waiting, 2 aborted
  std::string address;
  int32_t address_kind = 0;
  std::mutex send;  // "slcommon_send"
  AsfAssociation* sender = nullptr;
  std::mutex recv;  // "slcommon_recv": receive role, parse state, buffer
  std::condition_variable recv_wake;  // "sl_mux_recv"
  int32_t parsed = 0;
  unsigned char header[SL_HEADER] = {};
  int32_t length = 0, type = 0, hflags = 0, last = 0;
  int32_t remaining = 0;
  AsfPacketBuffer* tbuf = nullptr;  // the connection's receive buffer
  AsfAssociation* receiver = nullptr;
  int32_t handshake_slot = -1;
  AsfTransport* transport = nullptr;
  uint32_t buffer_size = 4096;
};

struct SlMuxListener {
  std::mutex lock;                     // "slglobal_lock"
  std::condition_variable available;   // "muxcon_available"
  SlMuxRequest* first = nullptr;
  SlMuxRequest* last = nullptr;
  AsfAssociation* listener = nullptr;
  SlMuxListener* next = nullptr;
};

namespace {

static_assert(sizeof(SlSessionContext) <= ASF_SL_CONTEXT_SIZE);

SlSessionContext* Ctx(AsfAssociation* a) {
  if (!asf_assoc_valid(a) || a->sl_context == nullptr) return nullptr;
  return static_cast<SlSessionContext*>(a->sl_context);
}

uint16_t U16(const unsigned char* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

int Fail(AsfControlBlock* cb, int32_t code) {
  ASF_ERROR(cb, code, 0);
  return -1;
}

// The read failures that keep their own code; others become -27001.
int MapReadFailure(AsfControlBlock* cb) {
  int32_t e = cb->error;
  if (e != -25595 && e != -25587 && e != -25586 && e != -25582) cb->error = -27001;
  return -1;
}

// Sends n bytes as one piece under the connection's sender role.
int SendBytes(AsfControlBlock* cb, SlMuxControl* m, const unsigned char* bytes, size_t n) {
  std::lock_guard<std::mutex> lk(m->send);
  if (m->sender != nullptr && m->sender != cb->assoc) return Fail(cb, -25595);
  m->sender = cb->assoc;
  // The transport is handed a writable copy; a session packet fits on the
  // stack, so the common case costs no allocation.
  char small[SL_MAX_PACKET];
  std::vector<char> large;
  char* copy = small;
  if (n > sizeof small) {
    large.assign(bytes, bytes + n);
    copy = large.data();
  } else {
    std::memcpy(small, bytes, n);
  }
  AsfPacketBuffer st{copy, static_cast<uint32_t>(n), -2, 0, copy, static_cast<uint32_t>(n), 0};
  int rc = tl_send(cb, &st);
  m->sender = nullptr;
  return rc;
}

// Fills the connection buffer when it is empty; called by the receiver
// with the receive lock held, which is let go during the transport read.
int Fill(AsfControlBlock* cb, SlMuxControl* m, std::unique_lock<std::mutex>& lk) {
  if (m->tbuf->left > 0) return 0;
  lk.unlock();
  AsfPacketBuffer* b = m->tbuf;
  int rc = tl_recv(cb, &b);
  lk.lock();
  return rc;
}

int Take(AsfControlBlock* cb, SlMuxControl* m, std::unique_lock<std::mutex>& lk, unsigned char* out,
         int32_t n) {
  while (n > 0) {
    if (Fill(cb, m, lk) != 0) return -1;
    auto k = static_cast<int32_t>(std::min<uint32_t>(m->tbuf->left, static_cast<uint32_t>(n)));
    if (out != nullptr) std::memcpy(out, m->tbuf->position, static_cast<size_t>(k)), out += k;
    m->tbuf->position += k;
    m->tbuf->left -= static_cast<uint32_t>(k);
    n -= k;
  }
  return 0;
}

void DecodeHeader(SlMuxControl* m) {
  m->length = U16(m->header);
  m->type = m->header[2];
  m->hflags = m->header[3];
  m->last = U16(m->header + 4);
  m->parsed = SL_HEADER;
  m->remaining = m->length - SL_HEADER;
}

// The first listener on "sqlmux" of the process, or null.
SlMuxListener* FirstListener() {
  AsfGlobal* g = asf_global_get();
  if (g == nullptr) return nullptr;
  os_mutex_lock(g->mutex);
  auto* l = static_cast<SlMuxListener*>(g->mux_listeners);
  os_mutex_unlock(g->mutex);
  return l;
}

// Queues a further-session request for the first "sqlmux" listener and
// wakes it: false when the process has none. The listener list's lock is
// held throughout, so a listener cannot leave while its queue is used.
bool Enqueue(SlMuxRequest* req) {
  AsfGlobal* g = asf_global_get();
  if (g == nullptr) return false;
  os_mutex_lock(g->mutex);
  auto* l = static_cast<SlMuxListener*>(g->mux_listeners);
  if (l != nullptr) {
    std::lock_guard<std::mutex> q(l->lock);
    if (l->last != nullptr) l->last->next = req;
    else l->first = req;
    l->last = req;
    l->available.notify_all();
  }
  os_mutex_unlock(g->mutex);
  return l != nullptr;
}

// A failed transport read ends the waits of this slot and of every slot
// waiting for the role. Called with the receive lock held.
void AbortWaiters(SlMuxControl* m, int32_t slot) {
  std::lock_guard<std::mutex> c(m->ctl);
  for (int i = 0; i < SL_SLOTS; ++i) {
    if (m->slot_state[i] == 1 || i == slot) m->slot_state[i] = 2;
  }
}

// Receives the next packet meant for this session: data (type 6) when
// `reply` is false, a connection reply (types 2, 3, 11, 12, 13) when it
// is true. The data is copied into out; *type and *flags describe it.
int Receive(AsfControlBlock* cb, SlSessionContext* x, bool reply, AsfPacketBuffer* out,
            int32_t* type, int32_t* flags) {
  SlMuxControl* m = x->mux;
  AsfAssociation* me = cb->assoc;
  std::unique_lock<std::mutex> lk(m->recv);
  auto give_up = [&](int32_t code) {
    if (m->receiver == me) m->receiver = nullptr;
    m->recv_wake.notify_all();
    if (code != 0) ASF_ERROR(cb, code, 0);
    return -1;
  };
  auto transport_failed = [&] {
    if (cb->error != ASF_TIMEOUT) AbortWaiters(m, x->slot);
    return give_up(0);
  };
  for (;;) {
    while (m->receiver != nullptr && m->receiver != me) {
      {
        std::lock_guard<std::mutex> c(m->ctl);
        if (m->slot_state[x->slot] == 2) return give_up(-25595);
        m->slot_state[x->slot] = 1;
      }
      m->recv_wake.wait(lk);
    }
    {
      std::lock_guard<std::mutex> c(m->ctl);
      if (m->slot_state[x->slot] == 2) return give_up(-25595);
      m->slot_state[x->slot] = 0;
    }
    m->receiver = me;
    if (m->parsed < SL_HEADER) {
      if (Take(cb, m, lk, m->header + m->parsed, SL_HEADER - m->parsed) != 0) {
        return transport_failed();
      }
      DecodeHeader(m);
      if (m->length > SL_MAX_PACKET || m->length < SL_HEADER ||
          ((m->type == 6 || m->type == 10) && m->length < 7)) {
        m->parsed = 0;
        return give_up(-25595);
      }
    }
    int32_t t = m->type, f = m->hflags;
    int32_t target = -1;
    if (t == 6) {
      if (f != 0 && !(x->flags & SL_MULTIPLEXED)) return give_up(-25595);
      target = f;
    } else if (t == 10) {
      auto* req = new (std::nothrow) SlMuxRequest;
      if (req == nullptr) return give_up(-406);
      req->length = m->length;
      req->type = t;
      req->flags = f;
      req->last = m->last;
      req->mux = m;
      req->transport = m->transport;
      req->data.resize(static_cast<size_t>(m->remaining));
      if (Take(cb, m, lk, req->data.data(), m->remaining) != 0) {
        delete req;
        return transport_failed();
      }
      m->parsed = 0;
      if (!Enqueue(req)) {
        delete req;
        // No listener takes further sessions: the 22-byte refusal.
        unsigned char refusal[22] = {};
        sl_put_header(refusal, 22, 12, 0x80, 0);
        int32_t saved = cb->timeout_ms;
        cb->timeout_ms = -1;
        SendBytes(cb, m, refusal, sizeof refusal);
        cb->timeout_ms = saved;
        cb->error = 0;
        cb->os_error = 0;
      }
      continue;
    } else if (reply && (t == 2 || t == 3 || t == 11 || t == 12 || t == 13)) {
      target = t == 11 && f < SL_SLOTS ? f : m->handshake_slot;
    } else if (t == 11 || t == 12 || t == 13) {
      target = t == 11 && f < SL_SLOTS ? f : m->handshake_slot;
    } else {
      m->parsed = 0;
      return give_up(-408);
    }
    if (target != x->slot) {
      AsfAssociation* other = nullptr;
      if (target >= 0 && target < SL_SLOTS) {
        std::lock_guard<std::mutex> c(m->ctl);
        other = m->slots[target];
      }
      if (other == nullptr) return give_up(-25595);
      m->receiver = other;
      m->recv_wake.notify_all();
      continue;
    }
    if ((t == 6) == reply) return give_up(t == 6 ? -25595 : -408);
    out->position = out->data;
    if (reply) {
      if (static_cast<uint32_t>(m->remaining) > out->size) return give_up(-25595);
      if (Take(cb, m, lk, reinterpret_cast<unsigned char*>(out->data), m->remaining) != 0) {
        return transport_failed();
      }
      out->left = static_cast<uint32_t>(m->remaining);
      m->remaining = 0;
    } else {
      if (Fill(cb, m, lk) != 0) return transport_failed();
      uint32_t k = std::min({m->tbuf->left, static_cast<uint32_t>(m->remaining), out->size});
      std::memcpy(out->data, m->tbuf->position, k);
      m->tbuf->position += k;
      m->tbuf->left -= k;
      m->remaining -= static_cast<int32_t>(k);
      out->left = k;
    }
    if (m->remaining == 0) m->parsed = 0;
    *type = t;
    *flags = f;
    m->receiver = nullptr;
    m->recv_wake.notify_all();
    return 0;
  }
}

SlMuxControl* NewControl(AsfAssociation* a) {
  auto* m = new (std::nothrow) SlMuxControl;
  if (m == nullptr) return nullptr;
  m->slots[0] = a;
  return m;
}

void FreeControl(SlMuxControl* m) {
  if (m == nullptr) return;
  sl_buffer_free(m->tbuf);
  delete m;
}

// Gives the connection its receive buffer once the transport is open.
int OpenBuffers(AsfControlBlock* cb, SlMuxControl* m) {
  AsfTransport* t = cb->assoc->transport;
  m->transport = t;
  m->buffer_size = t != nullptr && t->buffer_size != 0 ? t->buffer_size : 4096;
  m->tbuf = sl_buffer_new(std::max<uint32_t>(m->buffer_size, SL_MAX_PACKET));
  if (m->tbuf == nullptr) return Fail(cb, -406);
  m->tbuf->left = 0;
  return 0;
}

// Session buffers of a session that joins a shared connection.
int JoinBuffers(AsfControlBlock* cb, SlSessionContext* x, SlMuxControl* m) {
  AsfAssociation* a = cb->assoc;
  x->send = sl_buffer_new(m->buffer_size);
  x->xsend = sl_buffer_new(1);
  if (x->send == nullptr || x->xsend == nullptr) return Fail(cb, -406);
  x->send->start_offset = static_cast<uint32_t>(a->header_room);
  a->buffers[ASF_BUF_SEND] = nullptr;
  a->buffers[ASF_BUF_XSEND] = nullptr;
  asf_buffer_put(a, ASF_BF_SEND, x->send);
  asf_buffer_put(a, ASF_BF_SEND | ASF_BF_EXPEDITED, x->xsend);
  return 0;
}

// Takes this session off its connection: the slot emptied, the role passed
// on; the last session closes the transport. 
int LeaveConnection(AsfControlBlock* cb, SlSessionContext* x, uint32_t close_flags, bool close) {
  SlMuxControl* m = x->mux;
  AsfAssociation* a = cb->assoc;
  if (m == nullptr) return 0;
  bool last;
  {
    std::lock_guard<std::mutex> r(m->recv);
    std::lock_guard<std::mutex> c(m->ctl);
    m->slots[x->slot] = nullptr;
    bool aborted = m->slot_state[x->slot] == 2;
    m->slot_state[x->slot] = 0;
    last = --m->count <= 0;
    if (!last && !aborted) {
      if (m->receiver == a) m->receiver = nullptr;
      if (m->handshake_slot == x->slot) m->handshake_slot = -1;
      m->recv_wake.notify_all();
    }
  }
  int rc = 0;
  for (AsfPacketBuffer*& b : a->buffers) {
    if (b == x->send || b == x->xsend) b = nullptr;
  }
  sl_buffer_free(x->send);
  sl_buffer_free(x->xsend);
  x->send = x->xsend = nullptr;
  if (last) {
    if (close && a->transport != nullptr) rc = tl_close(cb, close_flags);
    FreeControl(m);
  } else {
    // The transport and its buffers stay with the connection.
    if (a->transport != nullptr && m->transport == a->transport) {
      for (AsfPacketBuffer*& b : a->buffers) {
        for (AsfPacketBuffer* owned : a->transport->driver.owned) {
          if (b == owned) b = nullptr;
        }
      }
    }
    a->transport = nullptr;
    a->transport_size = 0;
    a->driver = nullptr;
    a->ops = nullptr;
  }
  x->mux = nullptr;
  return rc;
}

// Reads a reply of a peer below level 60, which has no header.
int ReadOlderReply(AsfControlBlock* cb, SlSessionContext* x, AsfPacketBuffer* out, int32_t* type) {
  SlMuxControl* m = x->mux;
  std::unique_lock<std::mutex> lk(m->recv);
  unsigned char h[SL_HEADER] = {};
  if (Take(cb, m, lk, h, 2) != 0) return -1;
  uint16_t code = U16(h);
  int32_t keep_from = 0;  // first of the six header bytes that belong to the reply
  int32_t have = 2;
  if (x->cls == 4 && code == 15) {
    *type = 8;
    keep_from = 2;
  } else {
    if (Take(cb, m, lk, h + 2, 4) != 0) return -1;
    have = 6;
    if (code >= 16) {  // a header after all
      std::memcpy(m->header, h, SL_HEADER);
      DecodeHeader(m);
      *type = m->type;
      if (m->length > SL_MAX_PACKET) return Fail(cb, -25595);
      out->position = out->data;
      out->left = static_cast<uint32_t>(m->remaining);
      if (Take(cb, m, lk, reinterpret_cast<unsigned char*>(out->data), m->remaining) != 0) return -1;
      m->parsed = 0;
      return 0;
    }
    if (x->cls == 1) {
      bool ok = code == 15 && h[3] == 15;
      *type = ok ? 8 : 9;
      keep_from = ok ? 4 : 2;
      if (!ok && !(code == 15)) keep_from = 0;
    } else {
      *type = code == 15 ? 8 : 9;
      keep_from = code == 15 ? 2 : 0;
    }
  }
  uint32_t n = static_cast<uint32_t>(have - keep_from);
  std::memcpy(out->data, h + keep_from, n);
  uint32_t more = std::min(m->tbuf->left, out->size - n);
  std::memcpy(out->data + n, m->tbuf->position, more);
  m->tbuf->position += more;
  m->tbuf->left -= more;
  out->position = out->data;
  out->left = n + more;
  return 0;
}

}  // namespace

TV_BEGIN_C

void sl_put_header(unsigned char* out, int32_t length, int32_t type, int32_t flags, int32_t last) {
  stint(length, out);
  out[2] = static_cast<unsigned char>(type);
  out[3] = static_cast<unsigned char>(flags);
  stint(last, out + 4);
}

AsfPacketBuffer* sl_buffer_new(uint32_t n) {
  auto* b = static_cast<AsfPacketBuffer*>(std::calloc(1, sizeof(AsfPacketBuffer)));
  char* d = static_cast<char*>(std::calloc(1, n + 1));
  if (b == nullptr || d == nullptr) {
    std::free(b);
    std::free(d);
    return nullptr;
  }
  *b = {d, n, -1, 0, d, n, 0};
  return b;
}

void sl_buffer_free(AsfPacketBuffer* buf) {
  if (buf == nullptr) return;
  std::free(buf->data);
  std::free(buf);
}

int32_t sl_session_count(AsfAssociation* a) {
  SlSessionContext* x = Ctx(a);
  if (x == nullptr || x->mux == nullptr) return -1;
  std::lock_guard<std::mutex> c(x->mux->ctl);
  return x->mux->count;
}

int sl_attributes(AsfControlBlock* cb, int32_t code, void* value) {
  SlSessionContext* x = Ctx(cb->assoc);
  if (x == nullptr) return Fail(cb, -25546);
  if (code == 2 || code == 258) return 0;
  if (code == 9) {
    auto* out = static_cast<SlMuxAttribute*>(value);
    if (out == nullptr || x->mux == nullptr) return Fail(cb, -25546);
    out->session_count = &x->mux->count;
    out->flags = &x->flags;
    return 0;
  }
  AsfTlAttribute t{code, nullptr};
  if (tl_attribute(cb, &t) != 0) return -1;
  if (value != nullptr) *static_cast<void**>(value) = t.result;
  return 0;
}

int32_t sl_receiver_slot(AsfAssociation* a) {
  SlSessionContext* x = Ctx(a);
  if (x == nullptr || x->mux == nullptr) return -1;
  SlMuxControl* m = x->mux;
  std::lock_guard<std::mutex> r(m->recv);
  std::lock_guard<std::mutex> c(m->ctl);
  for (int i = 0; i < SL_SLOTS; ++i) {
    if (m->receiver != nullptr && m->slots[i] == m->receiver) return i;
  }
  return -1;
}

int32_t sl_level(AsfAssociation* a) {
  SlSessionContext* x = Ctx(a);
  return x != nullptr && x->mux != nullptr ? x->mux->level : -1;
}

int sl_session_setup(AsfControlBlock* cb, AsfTransportRequest* tr, int32_t level) {
  SlSessionContext* x = Ctx(cb->assoc);
  if (x == nullptr) return Fail(cb, -25546);
  std::memset(x, 0, sizeof *x);
  x->level = level;
  x->flags = SL_HEADERS;
  const char* bar = tr->address.text != nullptr ? std::strrchr(tr->address.text, '|') : nullptr;
  if (bar != nullptr && std::strcmp(bar + 1, "sqlmux") == 0) {
    AsfGlobal* g = asf_global_get();
    if (g == nullptr) return x->state = SL_ST_FAILED, Fail(cb, -27003);
    auto* l = new (std::nothrow) SlMuxListener;
    if (l == nullptr) return x->state = SL_ST_FAILED, Fail(cb, -406);
    l->listener = cb->assoc;
    x->flags |= SL_MULTIPLEXED;
    x->is_listener_mux = 1;
    x->mux_listener = l;
    os_mutex_lock(g->mutex);
    auto** p = reinterpret_cast<SlMuxListener**>(&g->mux_listeners);
    while (*p != nullptr) p = &(*p)->next;
    *p = l;
    os_mutex_unlock(g->mutex);
    x->state = SL_ST_LISTENING;
    return 0;
  }
  if (tl_listen(cb, tr, 0) != 0) return x->state = SL_ST_FAILED, -1;
  x->state = SL_ST_LISTENING;
  return 0;
}

int sl_connect(AsfControlBlock* cb, int32_t cls_form, AsfTransportRequest* tr, int32_t level,
               AsfPacketBuffer* request, AsfPacketBuffer** reply, AsfAssociation* shared,
               int32_t multiplex) {
  AsfAssociation* a = cb->assoc;
  SlSessionContext* x = Ctx(a);
  if (x == nullptr) return Fail(cb, -25546);
  *reply = nullptr;
  for (;;) {
    std::memset(x, 0, sizeof *x);
    x->state = SL_ST_SENDING;
    x->cls = cls_form & 7;
    x->form = cls_form & (SL_FORM_TEXT | SL_FORM_BINARY);
    x->level = level;
    x->data = sl_buffer_new(SL_MAX_PACKET);
    if (x->data == nullptr) return Fail(cb, -406);
    SlMuxControl* m = nullptr;
    int32_t type = 1, hflags = 0;
    SlSessionContext* sx = shared != nullptr ? Ctx(shared) : nullptr;
    if (sx != nullptr && sx->mux != nullptr && (sx->flags & SL_MULTIPLEXED)) {
      SlMuxControl* sm = sx->mux;
      std::lock_guard<std::mutex> c(sm->ctl);
      for (int s = 1; s < SL_SLOTS; ++s) {
        if (sm->slots[s] == nullptr) {
          sm->slots[s] = a;
          ++sm->count;
          m = sm;
          x->slot = s;
          break;
        }
      }
    }
    bool joined = m != nullptr;
    if (joined) {
      asf_transport_share(shared, a);
      a->driver = shared->driver;
      a->ops = shared->ops;
      x->flags = SL_HEADERS | SL_MULTIPLEXED;
      x->form = SL_FORM_BINARY;
      type = 10;
      hflags = x->slot;
      x->mux = m;
      if (JoinBuffers(cb, x, m) != 0) {
        LeaveConnection(cb, x, 0, false);
        return -1;
      }
    } else {
      m = NewControl(a);
      if (m == nullptr) return Fail(cb, -406);
      x->mux = m;
      m->level = level >= 60 ? level : 0;
      hflags = m->level;
      if (multiplex && m->level != 0) {
        x->flags = SL_HEADERS | SL_MULTIPLEXED;
        hflags |= 0x80;
      }
      m->address = tr->address.text != nullptr ? tr->address.text : "";
      m->address_kind = tr->address.kind;
      if (tl_connect(cb, tr) != 0 || OpenBuffers(cb, m) != 0) {
        x->state = SL_ST_FAILED;
        x->mux = nullptr;
        FreeControl(m);
        return -1;
      }
    }
    x->flags |= SL_HANDSHAKE;
    {
      std::lock_guard<std::mutex> r(m->recv);
      m->handshake_slot = x->slot;
    }
    // The request, with its header from level 60 on.
    std::vector<unsigned char> packet;
    if (m->level >= 60 || joined) {
      if (request->left + SL_HEADER > SL_MAX_PACKET) return Fail(cb, -25595);
      unsigned char h[SL_HEADER];
      sl_put_header(h, static_cast<int32_t>(request->left) + SL_HEADER, type, hflags, 0);
      if (x->form == SL_FORM_TEXT) {
        char t[10] = {'s', 'q'};
        pf_b64_encode(h, t + 2, SL_HEADER);
        packet.assign(t, t + 10);
      } else {
        packet.assign(h, h + SL_HEADER);
      }
    }
    packet.insert(packet.end(), request->position, request->position + request->left);
    int32_t rtype = 0, rflags = 0;
    int rc = SendBytes(cb, m, packet.data(), packet.size());
    if (rc == 0) {
      x->state = SL_ST_READING_REPLY;
      rc = m->level >= 60 || joined ? Receive(cb, x, true, x->data, &rtype, &rflags)
                                    : ReadOlderReply(cb, x, x->data, &rtype);
      if (rc != 0) MapReadFailure(cb);
    }
    if (rc != 0) {
      x->state = SL_ST_FAILED;
      return -1;
    }
    if (!joined) {
      if (!(rflags & 0x80) || m->level == 0) x->flags &= ~static_cast<uint32_t>(SL_HEADERS | SL_MULTIPLEXED);
      if (rtype != 11 && rtype != 12 && m->level != 0) {
        m->peer_level = rflags & 0x7F;
        if (m->peer_level < m->level) m->level = m->peer_level;
      }
    }
    x->flags &= ~static_cast<uint32_t>(SL_HANDSHAKE);
    int32_t completion = 0;
    if (rtype == 2 || rtype == 8 || rtype == 11) {
      x->state = SL_ST_ESTABLISHED;
    } else if (rtype == 3 || rtype == 9) {
      completion = ASF_REFUSED;
    } else if (rtype == 12) {
      completion = ASF_MUX_REFUSED;
    } else if (rtype == 13) {
      completion = ASF_REDIRECTED;
    } else {
      x->state = SL_ST_FAILED;
      return Fail(cb, -25595);
    }
    if (completion == ASF_MUX_REFUSED && joined) {
      // The server takes no further sessions here: a connection of our own.
      sl_buffer_free(x->data);
      x->data = nullptr;
      LeaveConnection(cb, x, 0, false);
      cb->error = 0;
      cb->os_error = 0;
      shared = nullptr;
      continue;
    }
    if (completion != 0) {
      x->state = SL_ST_COMPLETED;
      if (!joined && a->transport != nullptr) tl_close(cb, 10);
      if (!joined) {
        x->mux = nullptr;
        FreeControl(m);
      }
    }
    *reply = sl_buffer_new(x->data->left);
    if (*reply == nullptr) return Fail(cb, -406);
    std::memcpy((*reply)->data, x->data->data, x->data->left);
    (*reply)->left = x->data->left;
    if (completion != 0) {
      cb->error = completion;
      return -1;
    }
    return 0;
  }
}

int sl_accept(AsfControlBlock* cb, AsfAssociation* a, AsfPacketBuffer** request,
              AsfAddressBlock** peer) {
  SlSessionContext* lx = Ctx(cb->assoc);
  SlSessionContext* x = Ctx(a);
  if (lx == nullptr || x == nullptr) return Fail(cb, -25546);
  *request = nullptr;
  std::memset(x, 0, sizeof *x);
  x->state = SL_ST_ACCEPTING;
  x->level = lx->level;
  x->data = sl_buffer_new(SL_MAX_PACKET);
  if (x->data == nullptr) return Fail(cb, -406);
  AsfControlBlock w = *cb;
  w.assoc = a;
  auto done = [&](int rc) {
    cb->error = w.error;
    cb->os_error = w.os_error;
    std::memcpy(cb->file, w.file, sizeof cb->file);
    cb->line = w.line;
    if (rc != 0) x->state = SL_ST_FAILED;
    return rc;
  };
  if (lx->is_listener_mux) {
    SlMuxListener* l = lx->mux_listener;
    SlMuxRequest* req;
    {
      std::unique_lock<std::mutex> q(l->lock);
      l->available.wait(q, [&] { return l->first != nullptr; });
      req = l->first;
      l->first = req->next;
      if (l->first == nullptr) l->last = nullptr;
    }
    SlMuxControl* m = req->mux;
    x->state = SL_ST_READING_REQUEST;
    if (req->type != 10 || req->length <= SL_HEADER || req->flags >= SL_SLOTS) {
      delete req;
      return done(Fail(&w, -408));
    }
    {
      std::lock_guard<std::mutex> c(m->ctl);
      if (m->slots[req->flags] != nullptr) {
        delete req;
        return done(Fail(&w, -408));
      }
      m->slots[req->flags] = a;
      ++m->count;
    }
    a->transport = req->transport;
    a->transport_size = sizeof(AsfTransport);
    a->driver = &req->transport->driver;
    a->ops = &req->transport->driver.ops;
    x->mux = m;
    x->slot = req->flags;
    x->flags = SL_HEADERS | SL_MULTIPLEXED;
    x->level = m->level;
    if (JoinBuffers(&w, x, m) != 0) {
      delete req;
      return done(-1);
    }
    AsfPacketBuffer* out = sl_buffer_new(static_cast<uint32_t>(req->data.size()));
    if (out == nullptr) {
      delete req;
      return done(Fail(&w, -406));
    }
    std::memcpy(out->data, req->data.data(), req->data.size());
    out->left = static_cast<uint32_t>(req->data.size());
    delete req;
    x->state = SL_ST_REQUEST_READ;
    *request = out;
    return done(0);
  }
  SlMuxControl* m = NewControl(a);
  if (m == nullptr) return done(Fail(&w, -406));
  x->mux = m;
  if (tl_accept(cb, a, peer) != 0) {
    x->mux = nullptr;
    FreeControl(m);
    w.error = cb->error;
    w.os_error = cb->os_error;
    return done(-1);
  }
  if (OpenBuffers(&w, m) != 0) return done(-1);
  x->state = SL_ST_READING_REQUEST;
  w.timeout_ms = 10000;
  AsfPacketBuffer* b = m->tbuf;
  if (tl_recv(&w, &b) != 0) {
    if (w.error == ASF_TIMEOUT) w.error = -27001;
    return done(-1);
  }
  if (m->tbuf->left < SL_HEADER + 3) return done(Fail(&w, -408));
  auto* bytes = reinterpret_cast<unsigned char*>(m->tbuf->position);
  unsigned char h[SL_HEADER];
  int32_t consumed = SL_HEADER;
  bool unframed = false;
  if (U16(bytes) > SL_MAX_PACKET) {
    if (std::memcmp(bytes, "sqle", 4) == 0) {
      unframed = true;
      sl_put_header(h, static_cast<int32_t>(m->tbuf->left) + SL_HEADER, 1, 0, 0);
      consumed = 0;
    } else {
      if (m->tbuf->left < 10 + 1) return done(Fail(&w, -408));
      pf_b64_decode(reinterpret_cast<char*>(bytes) + 2, h, 8);
      consumed = 10;
    }
  } else {
    std::memcpy(h, bytes, SL_HEADER);
  }
  (void)unframed;
  m->tbuf->position += consumed;
  m->tbuf->left -= static_cast<uint32_t>(consumed);
  int32_t length = U16(h);
  if (h[2] != 1 || length < 7 || length > SL_MAX_PACKET) return done(Fail(&w, -408));
  int32_t peer_level = h[3] & 0x7F;
  m->peer_level = peer_level;
  m->level = std::min(peer_level, lx->level);
  if (m->level < 60) m->level = 0;
  x->level = m->level;
  x->flags = 0;
  if ((h[3] & 0x80) && m->level != 0 && FirstListener() != nullptr) {
    x->flags = SL_HEADERS | SL_MULTIPLEXED;
  }
  AsfPacketBuffer* out = sl_buffer_new(static_cast<uint32_t>(length - SL_HEADER));
  if (out == nullptr) return done(Fail(&w, -406));
  {
    std::unique_lock<std::mutex> lk(m->recv);
    if (Take(&w, m, lk, reinterpret_cast<unsigned char*>(out->data), length - SL_HEADER) != 0) {
      sl_buffer_free(out);
      if (w.error == ASF_TIMEOUT) w.error = -27001;
      return done(-1);
    }
  }
  out->left = static_cast<uint32_t>(length - SL_HEADER);
  out->data[out->left] = '\0';
  x->state = SL_ST_REQUEST_READ;
  *request = out;
  return done(0);
}

int sl_respond(AsfControlBlock* cb, int32_t cls, int32_t code, AsfPacketBuffer* reply) {
  SlSessionContext* x = Ctx(cb->assoc);
  if (x == nullptr || x->mux == nullptr) return Fail(cb, -25546);
  if (x->state != SL_ST_REQUEST_READ && x->state != SL_ST_ACCEPTING) return Fail(cb, -25598);
  SlMuxControl* m = x->mux;
  x->state = SL_ST_REPLYING;
  std::vector<unsigned char> packet;
  bool further = x->slot != 0;
  if (m->level >= 60) {
    int32_t type = further ? (code == 0 ? 11 : code == ASF_REDIRECTED ? 13 : 12)
                           : (code == 0 ? 2 : code == ASF_REDIRECTED ? 13 : 3);
    int32_t flags = further ? x->slot : (m->level | ((x->flags & SL_MULTIPLEXED) ? 0x80 : 0));
    unsigned char h[SL_HEADER];
    sl_put_header(h, static_cast<int32_t>(reply->left) + SL_HEADER, type, flags,
                  static_cast<int32_t>(m->buffer_size));
    packet.assign(h, h + SL_HEADER);
  } else if (code == 0) {
    static const unsigned char k15[] = {0, 15, 0, 15};
    if (cls == 1) packet.assign(k15, k15 + 4);
    if (cls == 2) packet.assign(k15, k15 + 2);
  }
  packet.insert(packet.end(), reply->position, reply->position + reply->left);
  if (SendBytes(cb, m, packet.data(), packet.size()) != 0) {
    x->state = SL_ST_FAILED;
    return -1;
  }
  if (code == 0) {
    x->state = SL_ST_ESTABLISHED;
    return 0;
  }
  x->state = SL_ST_COMPLETED;
  if (!further) {
    // Give the client a moment to read the refusal and close first.
    AsfControlBlock w = *cb;
    w.timeout_ms = cb->timeout_ms > 0 ? cb->timeout_ms : 1000;
    AsfPacketBuffer* b = m->tbuf;
    if (m->tbuf->left == 0) tl_recv(&w, &b);
  }
  cb->error = 0;
  cb->os_error = 0;
  x->state = SL_ST_FAILED;
  return 0;
}

int sl_send(AsfControlBlock* cb, AsfPacketBuffer* buf) {
  AsfAssociation* a = cb->assoc;
  SlSessionContext* x = Ctx(a);
  if (x == nullptr || x->mux == nullptr) return Fail(cb, -25546);
  if (!(x->flags & SL_HEADERS)) return tl_send(cb, buf);
  const char* p = buf->position;
  uint32_t left = buf->left;
  int rc = 0;
  unsigned char packet[SL_MAX_PACKET];
  while (left > 0 && rc == 0) {
    uint32_t k = std::min<uint32_t>(left, SL_MAX_PACKET - SL_HEADER);
    sl_put_header(packet, static_cast<int32_t>(k) + SL_HEADER, 6, x->slot, 0);
    std::memcpy(packet + SL_HEADER, p, k);
    rc = SendBytes(cb, x->mux, packet, k + SL_HEADER);
    p += k;
    left -= k;
  }
  drv_return_buffer(a, ASF_BF_SEND, buf);
  return rc;
}

int sl_recv(AsfControlBlock* cb, AsfPacketBuffer** out) {
  SlSessionContext* x = Ctx(cb->assoc);
  if (x == nullptr || x->mux == nullptr || x->data == nullptr) return Fail(cb, -25546);
  SlMuxControl* m = x->mux;
  if (!(x->flags & SL_HEADERS)) {
    std::unique_lock<std::mutex> lk(m->recv);
    if (Fill(cb, m, lk) != 0) return -1;
    uint32_t k = std::min(m->tbuf->left, x->data->size);
    std::memcpy(x->data->data, m->tbuf->position, k);
    m->tbuf->position += k;
    m->tbuf->left -= k;
    x->data->position = x->data->data;
    x->data->left = k;
    *out = x->data;
    return 0;
  }
  int32_t type = 0, flags = 0;
  if (Receive(cb, x, false, x->data, &type, &flags) != 0) return -1;
  *out = x->data;
  return 0;
}

int sl_interrupt(AsfControlBlock* cb) {
  AsfAssociation* a = cb->assoc;
  SlSessionContext* x = Ctx(a);
  if (x == nullptr) return Fail(cb, -25546);
  bool dw = std::strncmp(a->server_type, "dw", 8) == 0;
  if (x->state != SL_ST_ESTABLISHED && !dw) return Fail(cb, -25546);
  if (x->slot != 0 || a->kind != ASF_INITIATOR) return 0;
  AsfPacketBuffer* xb = nullptr;
  if (asf_buffer_get(a, ASF_BF_SEND | ASF_BF_EXPEDITED, &xb) != 0) return Fail(cb, -25579);
  xb->position = xb->data;
  xb->data[0] = 'B';
  xb->left = 1;
  return tl_interrupt(cb, xb);
}

int sl_release(AsfControlBlock* cb, int32_t code, AsfPacketBuffer* buf) {
  AsfAssociation* a = cb->assoc;
  SlSessionContext* x = Ctx(a);
  if (x == nullptr) return Fail(cb, -25546);
  bool abort = code == 10 || code == 0x800A;
  int rc = 0;
  if (x->is_listener_mux) {
    AsfGlobal* g = asf_global_get();
    if (g != nullptr && x->mux_listener != nullptr) {
      os_mutex_lock(g->mutex);
      auto** p = reinterpret_cast<SlMuxListener**>(&g->mux_listeners);
      while (*p != nullptr && *p != x->mux_listener) p = &(*p)->next;
      if (*p != nullptr) *p = x->mux_listener->next;
      os_mutex_unlock(g->mutex);
      SlMuxListener* l = x->mux_listener;
      for (SlMuxRequest* r = l->first; r != nullptr;) {
        SlMuxRequest* n = r->next;
        delete r;
        r = n;
      }
      delete l;
    }
    x->mux_listener = nullptr;
    x->state = SL_ST_RELEASED;
    return 0;
  }
  if (x->state == SL_ST_COMPLETED && x->mux == nullptr) {
    x->state = SL_ST_RELEASED;
  } else if (x->state == SL_ST_LISTENING || x->state == SL_ST_ACCEPTING ||
             x->state == SL_ST_ESTABLISHED || x->state == SL_ST_FAILED ||
             x->state == SL_ST_COMPLETED || x->state == SL_ST_REQUEST_READ) {
    bool chain = csm_has_chain(a) != 0;
    if (abort) {
      if (chain) csm_abort(cb);
    } else {
      if (x->state != SL_ST_ESTABLISHED && x->state != SL_ST_LISTENING) return Fail(cb, -25563);
      if (buf != nullptr && buf->left > 0) {
        x->state = SL_ST_LAST_BUFFER;
        if (chain && csm_encodes(a)) {
          if (csm_send(cb, buf) != 0) rc = -1;
          csm_put_buffer(a, buf);
        } else if (sl_send(cb, buf) != 0) {
          rc = -1;
        }
      }
      if (rc == 0 && chain && csm_close(cb) != 0) rc = -1;
    }
    x->state = rc == 0 ? SL_ST_RELEASED : SL_ST_FAILED;
  } else if (x->state != SL_ST_RELEASED) {
    return Fail(cb, -25598);
  }
  uint32_t flags = abort ? static_cast<uint32_t>(code) & TL_CLOSE_ABORTIVE : 0;
  if (x->mux != nullptr) {
    if (LeaveConnection(cb, x, flags, true) != 0) rc = -1;
  } else if (a->transport != nullptr && x->state != SL_ST_COMPLETED) {
    if (tl_close(cb, flags) != 0) rc = -1;
  }
  sl_buffer_free(x->data);
  x->data = nullptr;
  return rc;
}

TV_END_C

TV_BEGIN_C

// Session-layer export block (12 bytes, machine order): 0 state, 4 flags,
// 8 the connection's level. A read-ahead still in the connection's
// buffer does not travel: a hand-over happens between exchanges.
int sl_export(AsfControlBlock* cb, AsfArena* arena) {
  SlSessionContext* x = Ctx(cb->assoc);
  if (x == nullptr || (x->mux == nullptr && x->state != SL_ST_LISTENING) || x->is_listener_mux) {
    return Fail(cb, -25546);
  }
  auto* block = static_cast<unsigned char*>(asf_arena_alloc(arena, 12, nullptr));
  if (block == nullptr) return Fail(cb, -25557);
  int32_t words[3] = {x->state, static_cast<int32_t>(x->flags & ~static_cast<uint32_t>(SL_HANDSHAKE)),
                      x->mux != nullptr ? x->mux->level : x->level};
  std::memcpy(block, words, sizeof words);
  return 0;
}

int sl_import(AsfControlBlock* cb, AsfArena* arena) {
  SlSessionContext* x = Ctx(cb->assoc);
  auto* block = static_cast<unsigned char*>(asf_arena_take(arena, 12));
  if (x == nullptr || block == nullptr) return Fail(cb, -25557);
  int32_t words[3];
  std::memcpy(words, block, sizeof words);
  if (words[2] < 0 || words[2] > 127) return Fail(cb, -25563);
  std::memset(x, 0, sizeof *x);
  x->state = words[0];
  x->flags = static_cast<uint32_t>(words[1]) & (SL_HEADERS | SL_MULTIPLEXED);
  x->level = words[2];
  return 0;
}

int sl_import_transport(AsfControlBlock* cb) {
  AsfAssociation* a = cb->assoc;
  SlSessionContext* x = Ctx(a);
  if (x == nullptr || a->transport == nullptr) return Fail(cb, -25546);
  // A listener accepts on its transport and needs no connection record.
  if (x->state == SL_ST_LISTENING) return 0;
  SlMuxControl* m = NewControl(a);
  if (m == nullptr) return Fail(cb, -406);
  m->level = x->level;
  x->data = sl_buffer_new(SL_MAX_PACKET);
  if (x->data == nullptr || OpenBuffers(cb, m) != 0) {
    sl_buffer_free(x->data);
    x->data = nullptr;
    FreeControl(m);
    return Fail(cb, -406);
  }
  x->mux = m;
  x->slot = 0;
  return 0;
}

TV_END_C
