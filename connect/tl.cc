// The transport layer over the protocol table.
//
// Transport export block (28 bytes, seven int32 in machine order):
//   0 transport flags, 4 state, 8 protocol index, 12 driver flags,
//   16 protocol id, 20 buffer size, 24 1 when a driver block follows
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "connect/asfutil.h"
#include "connect/driver.h"
#include "connect/pipe.h"
#include "connect/tcp.h"

namespace {

const AsfAddressFamily kInternet = {2, "internet"};

const AsfProtocolEntry kProtocols[] = {
    {"ipcpip", 9, nullptr, "pipe", pipe_init, pipe_shutdown, pipe_connect, pipe_listen,
     pipe_import, pipe_resolve, pipe_describe_peer},
    {"ipcnmp", 16, nullptr, "namedpipe", npipe_init, npipe_shutdown, npipe_connect, npipe_listen,
     npipe_import, npipe_resolve, npipe_describe_peer},
    {"soctcp", 1, &kInternet, "socket", tcp_init, tcp_shutdown, tcp_connect, tcp_listen,
     tcp_import, tcp_resolve, tcp_describe_peer},
    {"socssl", 19, &kInternet, "socket", tcp_init, tcp_shutdown, tcp_connect, tcp_listen,
     tcp_import, tcp_resolve, tcp_describe_peer},
    {nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};
constexpr int kProtocolCount = 4;

// The transport layer's process block.
struct TlBlock {
  uint32_t bits;
  const AsfProtocolEntry* table;
};

AsfTransport* TransportOf(AsfControlBlock* cb) {
  if (cb == nullptr || !asf_assoc_valid(cb->assoc)) return nullptr;
  return cb->assoc->transport;
}

void SetNames(AsfDriver* d, int index) {
  const AsfProtocolEntry& p = kProtocols[index];
  d->protocol_id = p.id;
  std::memset(d->protocol_name, 0, sizeof d->protocol_name);
  std::strncpy(d->protocol_name, p.name, sizeof d->protocol_name - 1);
  std::memset(d->kind_name, 0, sizeof d->kind_name);
  std::strncpy(d->kind_name, p.kind_name, sizeof d->kind_name - 1);
}

void PointAt(AsfAssociation* a, AsfTransport* t) {
  a->driver = &t->driver;
  a->ops = &t->driver.ops;
}

int StartOne(AsfControlBlock* cb, AsfRequest* init, int index) {
  const AsfProtocolEntry& p = kProtocols[index];
  if (p.init == nullptr) return 0;
  return p.init(cb, init, p.id, p.name) == 0 ? 0 : -1;
}

}  // namespace

TV_BEGIN_C

int tl_protocol_table(const AsfProtocolEntry** out) {
  if (out != nullptr) *out = kProtocols;
  return 0;
}

int tl_find_protocol(const char* address) {
  if (address == nullptr) return -1;
  const char* bar = std::strrchr(address, '|');
  if (bar == nullptr) return -1;
  for (int i = 0; kProtocols[i].name != nullptr; ++i) {
    if (std::strcmp(bar + 1, kProtocols[i].name) == 0) return i;
  }
  return -1;
}

namespace {

// Opens a transport for a connect or a listen: a new transport record in
// the given flags and state, the protocol of the address, and its entry;
// a failed entry leaves the transport failed with flag 4.
int OpenTransport(AsfControlBlock* cb, AsfTransportRequest* tr, uint32_t flags, int32_t state,
                  int32_t open_state, bool listen) {
  if (tr == nullptr) return ASF_ERROR(cb, -25563, 0), -1;
  if (asf_transport_alloc(cb) != 0) return -1;
  AsfAssociation* a = cb->assoc;
  AsfTransport* t = a->transport;
  t->flags |= flags;
  t->state = state;
  if (tr->address.kind != 1) return 0;
  int index = tl_find_protocol(tr->address.text);
  if (index < 0) return ASF_ERROR(cb, -25507, 0), -1;
  SetNames(&t->driver, index);
  const AsfProtocolEntry& p = kProtocols[index];
  int rc = listen ? p.listen(&t->driver, tr, 0, cb) : p.connect(&t->driver, tr, cb);
  if (rc != 0) {
    t->flags |= 4;
    t->state = TL_FAILED;
    return -1;
  }
  t->protocol_index = index;
  t->buffer_size = t->driver.buffer_size;
  t->state = open_state;
  PointAt(a, t);
  return 0;
}

}  // namespace

int tl_connect(AsfControlBlock* cb, AsfTransportRequest* tr) {
  return OpenTransport(cb, tr, 2, TL_CONNECTING, TL_OPEN, false);
}

int tl_listen(AsfControlBlock* cb, AsfTransportRequest* tr, int32_t mode) {
  if (mode == 0) return OpenTransport(cb, tr, 0x11, TL_LISTENING, TL_LISTENING, true);
  if (mode != 1 && mode != 2) return 0;
  AsfTransport* t = TransportOf(cb);
  if (t == nullptr) return ASF_ERROR(cb, -25546, 0), -1;
  if (mode == 1) {
    t->state = TL_FAILED;
    return t->driver.ops.close != nullptr ? t->driver.ops.close(&t->driver, 512, cb) : 0;
  }
  t->state = TL_LISTENING;
  return t->driver.ops.listen != nullptr ? t->driver.ops.listen(&t->driver, tr, 2, cb) : 0;
}

int tl_accept(AsfControlBlock* cb, AsfAssociation* assoc, AsfAddressBlock** peer) {
  AsfTransport* lt = TransportOf(cb);
  if (lt == nullptr || !asf_assoc_valid(assoc)) return ASF_ERROR(cb, -25546, 0), -1;
  auto* t = static_cast<AsfTransport*>(std::malloc(sizeof(AsfTransport)));
  if (t == nullptr) return ASF_ERROR(cb, -406, ENOMEM), -1;
  std::memcpy(t, lt, sizeof *t);
  t->driver.record = nullptr;
  t->driver.flags &= ~static_cast<uint32_t>(DRV_LISTENER | DRV_NONBLOCKING | DRV_INTERRUPT_ARMED |
                                            DRV_RECV_FILLED);
  for (AsfPacketBuffer*& b : t->driver.owned) b = nullptr;
  t->state = TL_ACCEPTING;
  assoc->transport = t;
  assoc->transport_size = static_cast<int32_t>(sizeof *t);
  PointAt(assoc, t);
  if (lt->driver.ops.accept == nullptr ||
      lt->driver.ops.accept(&lt->driver, assoc, peer, cb) != 0) {
    lt->flags |= 4;
    t->state = TL_FAILED;
    return -1;
  }
  t->state = TL_OPEN;
  return 0;
}

int tl_send(AsfControlBlock* cb, AsfPacketBuffer* buf) {
  AsfTransport* t = TransportOf(cb);
  if (t == nullptr || t->driver.ops.send == nullptr) return ASF_ERROR(cb, -25546, 0), -1;
  return t->driver.ops.send(&t->driver, buf, cb, t);
}

int tl_recv(AsfControlBlock* cb, AsfPacketBuffer** buf) {
  AsfTransport* t = TransportOf(cb);
  if (t == nullptr || t->driver.ops.recv == nullptr) return ASF_ERROR(cb, -25546, 0), -1;
  return t->driver.ops.recv(&t->driver, buf, cb, t);
}

int tl_interrupt(AsfControlBlock* cb, AsfPacketBuffer* buf) {
  AsfTransport* t = TransportOf(cb);
  if (t == nullptr || t->driver.ops.interrupt == nullptr) return ASF_ERROR(cb, -25546, 0), -1;
  return t->driver.ops.interrupt(&t->driver, buf, cb, t);
}

int tl_wait(AsfControlBlock* cb, int32_t timeout) {
  AsfTransport* t = TransportOf(cb);
  if (t == nullptr || t->driver.ops.wait == nullptr) return ASF_ERROR(cb, -25546, 0), -1;
  return t->driver.ops.wait(&t->driver, timeout, cb, t);
}

int tl_attribute(AsfControlBlock* cb, AsfTlAttribute* request) {
  if (request == nullptr) return ASF_ERROR(cb, -25563, 0), -1;
  if (request->code == 1) {
    request->result = nullptr;
    return 0;
  }
  if (request->code == 257) return 0;
  AsfTransport* t = TransportOf(cb);
  if (t == nullptr || t->driver.ops.descriptors == nullptr) return ASF_ERROR(cb, -25546, 0), -1;
  return t->driver.ops.descriptors(&t->driver, request);
}

int tl_export(AsfControlBlock* cb, AsfArena* arena) {
  AsfTransport* t = TransportOf(cb);
  if (t == nullptr) return ASF_ERROR(cb, -25546, 0), -1;
  auto* block = static_cast<unsigned char*>(asf_arena_alloc(arena, 28, nullptr));
  if (block == nullptr) return ASF_ERROR(cb, -1, errno), -1;
  int32_t words[7] = {static_cast<int32_t>(t->flags), t->state, t->protocol_index,
                      static_cast<int32_t>(t->driver.flags & ~static_cast<uint32_t>(DRV_RECV_FILLED)),
                      t->driver.protocol_id,
                      static_cast<int32_t>(t->buffer_size), t->driver.record != nullptr ? 1 : 0};
  std::memcpy(block, words, sizeof words);
  if (t->driver.record != nullptr) {
    int32_t pair[2] = {0, 0};
    if (t->driver.ops.export_ == nullptr || t->driver.ops.export_(&t->driver, arena, pair) != 0) {
      return ASF_ERROR(cb, pair[0] != 0 ? pair[0] : -1, pair[1]), -1;
    }
  }
  t->state = TL_EXPORTED;
  return 0;
}

int tl_import(AsfControlBlock* cb, AsfArena* arena) {
  auto* block = static_cast<unsigned char*>(asf_arena_take(arena, 28));
  if (block == nullptr) return ASF_ERROR(cb, -1, errno), -1;
  int32_t words[7];
  std::memcpy(words, block, sizeof words);
  int index = words[2];
  if (index < 0 || index >= kProtocolCount || words[4] != kProtocols[index].id ||
      words[5] < 0 || (words[6] != 0 && words[6] != 1)) {
    return ASF_ERROR(cb, -25563, EINVAL), -1;
  }
  if (asf_transport_alloc(cb) != 0) return -1;
  AsfAssociation* a = cb->assoc;
  AsfTransport* t = a->transport;
  t->state = TL_IMPORTING;
  t->flags = static_cast<uint32_t>(words[0]);
  t->protocol_index = index;
  t->driver.flags = static_cast<uint32_t>(words[3]) &
                    ~static_cast<uint32_t>(DRV_NONBLOCKING | DRV_INTERRUPT_ARMED);
  SetNames(&t->driver, index);
  t->driver.buffer_size = static_cast<uint32_t>(words[5]);
  t->buffer_size = t->driver.buffer_size;
  if (words[6] == 1) {
    if (kProtocols[index].import(&t->driver, arena, cb) != 0) {
      asf_transport_free(a);
      return -1;
    }
    PointAt(a, t);
  }
  t->state = words[1];
  return 0;
}

int tl_close(AsfControlBlock* cb, uint32_t flags) {
  AsfTransport* t = TransportOf(cb);
  if (t == nullptr) return ASF_ERROR(cb, -25546, 0), -1;
  int rc = 0;
  if (t->state == TL_EXPORTED) {
    t->flags |= 8;
    if (t->driver.record != nullptr && t->driver.ops.close != nullptr) {
      rc = t->driver.ops.close(&t->driver, flags | TL_CLOSE_KEEP_OPEN, cb);
    }
  } else {
    t->state = TL_CLOSED;
    if (t->driver.ops.close != nullptr) rc = t->driver.ops.close(&t->driver, flags, cb);
  }
  if (asf_transport_free(cb->assoc) != 0) rc = -1;
  return rc;
}

int tl_init_drivers(AsfControlBlock* cb, AsfRequest* init) {
  if (init == nullptr) return ASF_ERROR(cb, -25563, 0), -1;
  const AsfInitBody& body = init->body.init;
  AsfGlobal* g = asf_global_get();
  if ((body.flags & 0x10) && g != nullptr && g->tl_block == nullptr) {
    auto* block = static_cast<TlBlock*>(std::calloc(1, sizeof(TlBlock)));
    if (block == nullptr) return ASF_ERROR(cb, -406, ENOMEM), -1;
    tl_protocol_table(&block->table);
    block->bits |= 0x40;
    g->tl_block = block;
  }
  if (body.entry_count <= 0 || body.entries == nullptr) return ASF_ERROR(cb, -25563, 0), -1;
  for (int32_t i = 0; i < body.entry_count; ++i) {
    const AsfDriverConfig& e = body.entries[i];
    char name[9] = {};
    std::memcpy(name, e.name, 8);
    if (name[0] == '\0') {
      for (int p = 0; kProtocols[p].name != nullptr; ++p) {
        if (StartOne(cb, init, p) != 0) return -1;
      }
      continue;
    }
    if (std::strcmp(name, "sqlmux") == 0) continue;
    int index = -1;
    for (int p = 0; kProtocols[p].name != nullptr; ++p) {
      if (std::strcmp(name, kProtocols[p].name) == 0) index = p;
    }
    if (index < 0) return ASF_ERROR(cb, -25507, 0), -1;
    if (e.value1 != 0 && StartOne(cb, init, index) != 0) return -1;
  }
  return 0;
}

int tl_shutdown_drivers(AsfControlBlock* cb, AsfRequest* request) {
  int rc = 0;
  for (int p = 0; kProtocols[p].name != nullptr; ++p) {
    if (kProtocols[p].shutdown != nullptr && kProtocols[p].shutdown(cb, request) != 0) {
      rc = -1;
      break;
    }
  }
  AsfGlobal* g = asf_global_get();
  if (g != nullptr) {
    std::free(g->tl_block);
    g->tl_block = nullptr;
  }
  return rc;
}

void asf_free_address_block(AsfAddressBlock* block) {
  if (block == nullptr) return;
  std::free(block->text);
  std::free(block);
}

TV_END_C
