// The module chain of an association: the one module instance the entry's
// csm value names, between the session (the I/O adapter below it) and the
// session's callers (above it). It runs the connect or accept negotiation
// and then passes every outgoing packet through the module's encode step
// and every incoming one through its decode step.
//
// Association states: 2 ready, 3 encoding, 4 sending output, 6 output held
// after a blocked send, 7 waiting for input, 8 decoding, 9 ended by the
// module, 10 closed or failed.
#include "connect/csm.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "base/msgfile.h"
#include "connect/asfns.h"
#include "connect/asfslsqi.h"
#include "connect/asfutil.h"
#include "connect/session.h"
#include "connect/transport.h"

namespace {

constexpr char kAbortReason[] = "ASF_ASSOCABORT service request.\n";

struct CsmAssocState {
  CsmConfigEntry* entry = nullptr;
  void* instance = nullptr;
  uint32_t flags = 0;  // bit 0 encodes, bit 1 decodes
  int32_t state = 0;
  int32_t mode = 0;    // last encode or decode: 0 done, 1 needs input, 2 more output
  bool pending = false;
  CsmStatus status{};
  std::string options;
  std::recursive_mutex lock;  // held around every encode and decode
  const char* held_data = nullptr;
  CsmBuffer* held_output = nullptr;
  uint32_t held_sent = 0;  // bytes of the held output already on the wire
  CsmBuffer* input = nullptr;  // the packet being decoded, or the last negotiation input
  CsmContext context{};
};

CsmAssocState* StateOf(const AsfAssociation* a) {
  if (!asf_assoc_valid(a) || a->session == nullptr) return nullptr;
  return static_cast<CsmAssocState*>(a->session->csm);
}

template <typename Fn>
Fn Slot(const CsmAssocState* st, int slot) {
  return reinterpret_cast<Fn>(st->entry->table.slots[slot]);
}

void FreeBuffer(CsmBuffer* b) {
  if (b == nullptr) return;
  std::free(b->data);
  std::free(b);
}

// Hands a buffer the module produced back to it (its release slot), or
// frees it when the module has none.
void Release(CsmAssocState* st, CsmBuffer* b) {
  if (b == nullptr) return;
  auto release = Slot<CsmReleaseFn>(st, CSM_SLOT_RELEASE);
  CsmStatus status{};
  if (release == nullptr || release(st->instance, b, &status) != 0) FreeBuffer(b);
}

CsmBuffer* CopyBuffer(const char* data, uint32_t n) {
  auto* b = static_cast<CsmBuffer*>(std::calloc(1, sizeof(CsmBuffer)));
  if (b == nullptr) return nullptr;
  b->data = std::malloc(n > 0 ? n : 1);
  if (b->data == nullptr) return std::free(b), nullptr;
  if (n > 0) std::memcpy(b->data, data, n);
  b->length = n;
  return b;
}

// A module's failure: its error (outside -5013..-5001 reported as -5000),
// second word and text go into the control block.
int ModuleError(AsfControlBlock* cb, const CsmStatus& status) {
  int32_t code = status.error;
  if (code < -5013 || code > -5001) code = -5000;
  ASF_ERROR(cb, code, status.second);
  std::snprintf(cb->text, sizeof cb->text, "%s", status.text);
  return -1;
}

bool Direct(const AsfAssociation* a) { return a->session->selector == -1; }

// The I/O adapter: a buffer out through the session from byte *sent on;
// 0, 1 when the session reported the send as blocked (code 6; *sent says
// how far it got, so that a resumed send never repeats bytes the peer
// already has), or -1.
int IoSend(AsfControlBlock* cb, const CsmBuffer* out, uint32_t* sent = nullptr) {
  if (out->length < 0 || out->length > UINT32_MAX) return ASF_ERROR(cb, -14563, 0), -1;
  uint32_t from = sent != nullptr ? *sent : 0;
  AsfPacketBuffer p{};
  p.data = static_cast<char*>(out->data);
  p.size = static_cast<uint32_t>(out->length);
  if (from > p.size) from = p.size;
  p.position = p.data + from;
  p.left = p.size - from;
  p.marker = -2;
  if (p.left == 0) return 0;
  int rc = Direct(cb->assoc) ? tl_send(cb, &p) : sl_send(cb, &p);
  if (sent != nullptr) *sent = static_cast<uint32_t>(p.position - p.data);
  if (rc != 0) return cb->error == ASF_TIMEOUT ? 1 : -1;
  return 0;
}

// The next packet from the session, copied into a module buffer; the
// session's packet buffer is left in *packet for the decoded data.
int IoRecv(AsfControlBlock* cb, CsmBuffer** in, AsfPacketBuffer** packet) {
  AsfAssociation* a = cb->assoc;
  AsfPacketBuffer* p = nullptr;
  if (Direct(a)) {
    if (tl_recv(cb, &p) != 0) return -1;
    if (p != nullptr && a->buffers[ASF_BUF_RECV] != p) asf_buffer_put(a, ASF_BF_RECV, p);
  } else if (sl_recv(cb, &p) != 0) {
    return -1;
  }
  if (p == nullptr) return ASF_ERROR(cb, -14565, 0), -1;
  *in = CopyBuffer(p->position, p->left);
  if (*in == nullptr) return ASF_ERROR(cb, -14501, 0), -1;
  if (packet != nullptr) *packet = p;
  return 0;
}

void Destroy(AsfAssociation* a, CsmAssocState* st) {
  if (st->held_output != nullptr) Release(st, st->held_output);
  if (st->input != nullptr) FreeBuffer(st->input);
  delete st;
  if (a->session != nullptr) a->session->csm = nullptr;
}

// The chain's flags once the module's negotiation is complete: the start
// step's bits, 16 and 17 only where the entry's mask word has them.
int StartInstance(AsfControlBlock* cb, CsmAssocState* st) {
  uint32_t flags = 3;
  auto start = Slot<CsmStartFn>(st, CSM_SLOT_START);
  if (start != nullptr) {
    flags = 0;
    if (start(st->instance, &flags, &st->status) != 0) return ModuleError(cb, st->status);
  }
  uint32_t special = 0x30000u;
  st->flags = (flags & ~special) | (flags & special & st->entry->mask);
  return 0;
}

int Negotiate(AsfControlBlock* cb, CsmAssocState* st, bool accept) {
  auto connect_step = Slot<CsmConnectFn>(st, CSM_SLOT_CONNECT);
  auto accept_step = Slot<CsmAcceptFn>(st, CSM_SLOT_ACCEPT);
  if ((accept && accept_step == nullptr) || (!accept && connect_step == nullptr)) return 0;
  CsmBuffer* input = nullptr;
  if (accept && IoRecv(cb, &input, nullptr) != 0) return -1;
  bool sent = false;
  const char* options = st->options.c_str();
  for (;;) {
    CsmBuffer* output = nullptr;
    st->status = CsmStatus{};
    int rc = accept ? accept_step(&st->instance, st->entry->module, &st->context, input, &output, options,
                                  &st->status)
                    : connect_step(&st->instance, st->entry->module, &st->context, input, &output, 0, options,
                                   &st->status);
    if (rc != 0) {
      Release(st, output);
      FreeBuffer(input);
      return ModuleError(cb, st->status);
    }
    int32_t result = st->status.result;
    if (result == 1 || result == 2) {
      Release(st, output);
      if (result == 2 && input != nullptr) {
        // The last input also holds data: the first receive decodes it.
        // Without any input there is nothing to decode.
        st->pending = true;
        st->input = input;
      } else {
        FreeBuffer(input);
      }
      return 0;
    }
    if (result == 3 || result == 4) {
      int s = output != nullptr ? IoSend(cb, output) : 0;
      Release(st, output);
      if (s != 0) {
        FreeBuffer(input);
        if (s > 0) ASF_ERROR(cb, -14563, 0);
        return -1;
      }
      sent = true;
      if (result == 4) continue;
    } else if (result == 5) {
      Release(st, output);
      if (!accept && !sent) return FreeBuffer(input), ASF_ERROR(cb, -14513, 0), -1;
    } else {
      Release(st, output);
      FreeBuffer(input);
      return csm_set_error(cb, -14506, st->entry->name, result);
    }
    FreeBuffer(input);
    input = nullptr;
    if (IoRecv(cb, &input, nullptr) != 0) return -1;
  }
}

int Setup(AsfControlBlock* cb, AsfServerEntry* entry, bool accept) {
  if (cb == nullptr || !asf_assoc_valid(cb->assoc) || cb->assoc->session == nullptr || entry == nullptr) {
    return ASF_ERROR(cb, -25563, 0), -1;
  }
  if (entry->options.csm == nullptr) return ASF_ERROR(cb, -28081, 0), -1;
  AsfAssociation* a = cb->assoc;
  if (a->session->csm != nullptr) return ASF_ERROR(cb, -28082, 0), -1;
  CsmConfigEntry* module = nullptr;
  char options[1024] = {};
  if (csm_resolve_module(cb, entry->options.csm, &module, options, sizeof options) != 0) return -1;
  auto* st = new (std::nothrow) CsmAssocState;
  if (st == nullptr) return ASF_ERROR(cb, -406, ENOMEM), -1;
  st->entry = module;
  st->options = options;
  st->state = 1;
  st->context.server_name = entry->server_name;
  st->context.address = entry->address;
  st->context.entry = entry;
  st->context.callbacks[0] = reinterpret_cast<void*>(asf_trust_check);
  st->context.callbacks[1] = reinterpret_cast<void*>(rgetmsg);
  a->session->csm = st;
  if (Negotiate(cb, st, accept) != 0 || StartInstance(cb, st) != 0) {
    auto abort = Slot<CsmAbortFn>(st, CSM_SLOT_ABORT);
    CsmStatus status{};
    if (abort != nullptr && st->instance != nullptr) abort(st->instance, kAbortReason, &status);
    Destroy(a, st);
    return -1;
  }
  st->state = 2;
  cb->error = 0;
  return 0;
}

// Sends the output the chain holds; see csm_send's state 4.
int SendHeld(AsfControlBlock* cb, CsmAssocState* st) {
  int s = IoSend(cb, st->held_output, &st->held_sent);
  if (s > 0) {
    ASF_ERROR(cb, ASF_TIMEOUT, 0);
    st->state = 6;
    return -1;
  }
  Release(st, st->held_output);
  st->held_output = nullptr;
  if (s < 0) {
    st->state = st->mode == 2 ? 10 : 2;
    return -1;
  }
  return 0;
}

// A control message of the module during data transfer (result 3 or 4
// of an encode or decode step): the output goes to the peer as it is;
// after result 3 the peer's reply, undecoded, replaces *input for the
// next call of the step. 0, or -1 with the error in cb.
int ControlMessage(AsfControlBlock* cb, CsmAssocState* st, CsmBuffer* output, bool wait, CsmBuffer** input,
                   AsfPacketBuffer** packet) {
  int s = output != nullptr ? IoSend(cb, output) : 0;
  Release(st, output);
  if (s != 0) {
    if (s > 0) ASF_ERROR(cb, -14563, 0);
    return -1;
  }
  if (!wait) return 0;
  FreeBuffer(*input);
  *input = nullptr;
  return IoRecv(cb, input, packet);
}

// One call of the module's encode or decode step on *input, with the
// control messages it asks for handled: 0 with the step's output (null
// when it needs more input) and its result (1 done, 2 more output from
// the same input), or -1 with the error in cb (*ended when the module
// closed its side, error -5008).
int Transform(AsfControlBlock* cb, CsmAssocState* st, int slot, CsmBuffer** input, CsmBuffer** output,
              int32_t* result, bool* ended, AsfPacketBuffer** packet) {
  auto step = Slot<CsmTransformFn>(st, slot);
  *ended = false;
  for (;;) {
    CsmBuffer* out = nullptr;
    st->status = CsmStatus{};
    if (step(st->instance, *input, &out, &st->status) != 0) {
      Release(st, out);
      if (st->status.error == -5008) {
        *ended = true;
        return -1;
      }
      return ModuleError(cb, st->status);
    }
    int32_t r = st->status.result;
    if (r == 3 || r == 4) {
      if (ControlMessage(cb, st, out, r == 3, input, packet) != 0) return -1;
      continue;
    }
    if (r != 1 && r != 2) {
      Release(st, out);
      return ASF_ERROR(cb, -28086, 0), -1;
    }
    *output = out;
    *result = r;
    return 0;
  }
}

}  // namespace

TV_BEGIN_C

int csm_has_chain(const AsfAssociation* a) { return StateOf(a) != nullptr; }
int csm_encodes(const AsfAssociation* a) {
  const CsmAssocState* st = StateOf(a);
  return st != nullptr && (st->flags & 1u) != 0;
}
int csm_decodes(const AsfAssociation* a) {
  const CsmAssocState* st = StateOf(a);
  return st != nullptr && (st->flags & 2u) != 0;
}
int csm_entry_has_csm(const AsfServerEntry* e) { return e != nullptr && e->options.csm != nullptr; }

int csm_connect(AsfControlBlock* cb, AsfServerEntry* entry) { return Setup(cb, entry, false); }
int csm_accept(AsfControlBlock* cb, AsfServerEntry* entry) { return Setup(cb, entry, true); }

int csm_send(AsfControlBlock* cb, AsfPacketBuffer* buf) {
  CsmAssocState* st = StateOf(cb != nullptr ? cb->assoc : nullptr);
  if (st == nullptr) return ASF_ERROR(cb, -28083, 0), -1;
  std::lock_guard<std::recursive_mutex> hold(st->lock);
  if (st->state == 6) {
    if (buf->position != st->held_data) {
      Release(st, st->held_output);
      st->held_output = nullptr;
      st->state = 10;
      return ASF_ERROR(cb, -28084, 0), -1;
    }
    if (SendHeld(cb, st) != 0) return -1;
    if (st->mode != 2) {
      st->state = 2;
      return 0;
    }
    st->state = 3;
  } else if (st->state == 2) {
    st->held_data = buf->position;
    st->state = 3;
  } else {
    return ASF_ERROR(cb, -28087, 0), -1;
  }
  for (;;) {
    CsmBuffer* in = CopyBuffer(buf->position, buf->left);
    if (in == nullptr) return st->state = 2, ASF_ERROR(cb, -14501, 0), -1;
    CsmBuffer* out = nullptr;
    if (Slot<CsmTransformFn>(st, CSM_SLOT_ENCODE) == nullptr || !(st->flags & 1u)) {
      out = in;
      in = nullptr;
      st->mode = 0;
    } else {
      int32_t result = 0;
      bool ended = false;
      int rc = Transform(cb, st, CSM_SLOT_ENCODE, &in, &out, &result, &ended, nullptr);
      FreeBuffer(in);
      if (rc != 0) {
        // A module that closed its side cannot carry the caller's packet.
        st->state = ended ? 9 : 2;
        if (ended) ASF_ERROR(cb, -14509, 0);
        return -1;
      }
      if (out == nullptr) {
        st->state = 2;
        return ASF_ERROR(cb, -28086, 0), -1;
      }
      st->mode = result == 2 ? 2 : 0;
    }
    st->held_output = out;
    st->held_sent = 0;
    st->state = 4;
    if (SendHeld(cb, st) != 0) return -1;
    if (st->mode != 2) {
      st->state = 2;
      return 0;
    }
    st->state = 3;
  }
}

int csm_receive(AsfControlBlock* cb, AsfPacketBuffer** buf) {
  *buf = nullptr;
  CsmAssocState* st = StateOf(cb != nullptr ? cb->assoc : nullptr);
  if (st == nullptr) return ASF_ERROR(cb, -28083, 0), -1;
  std::lock_guard<std::recursive_mutex> hold(st->lock);
  AsfAssociation* a = cb->assoc;
  AsfPacketBuffer* packet = nullptr;
  if (st->state == 2) {
    if (st->pending) {
      st->pending = false;
      st->state = 8;
    } else {
      if (st->held_output != nullptr) Release(st, st->held_output);
      st->held_output = nullptr;
      st->state = 7;
    }
  } else if (st->state != 8) {
    return ASF_ERROR(cb, -28087, 0), -1;
  }
  for (;;) {
    if (st->state == 7) {
      if (IoRecv(cb, &st->input, &packet) != 0) return st->state = 2, -1;
      st->state = 8;
    }
    if (packet == nullptr && asf_buffer_get(a, ASF_BF_RECV | ASF_BF_KEEP, &packet) != 0) {
      return st->state = 2, ASF_ERROR(cb, -14565, 0), -1;
    }
    CsmBuffer* out = nullptr;
    int32_t result = 1;
    if (Slot<CsmTransformFn>(st, CSM_SLOT_DECODE) == nullptr || !(st->flags & 2u)) {
      out = st->input;
      st->input = nullptr;
    } else {
      bool ended = false;
      if (Transform(cb, st, CSM_SLOT_DECODE, &st->input, &out, &result, &ended, &packet) != 0) {
        FreeBuffer(st->input);
        st->input = nullptr;
        st->state = ended ? 9 : 2;
        if (ended) ASF_ERROR(cb, -14507, 0);
        return -1;
      }
    }
    if (out == nullptr) {
      // The module needs more input: read on without returning.
      FreeBuffer(st->input);
      st->input = nullptr;
      st->mode = 1;
      st->state = 7;
      packet = nullptr;
      continue;
    }
    if (out->length < 0 || out->length > packet->size) {
      Release(st, out);
      st->state = 2;
      return ASF_ERROR(cb, -28086, 0), -1;
    }
    if (out->length > 0) std::memcpy(packet->data, out->data, static_cast<size_t>(out->length));
    packet->position = packet->data;
    packet->left = static_cast<uint32_t>(out->length);
    Release(st, out);
    if (result == 2) {
      // More packets to come from the same input: the next receive
      // decodes again without reading.
      st->mode = 2;
      st->state = 8;
    } else {
      FreeBuffer(st->input);
      st->input = nullptr;
      st->mode = 0;
      st->state = 2;
    }
    *buf = packet;
    return 0;
  }
}

int csm_close(AsfControlBlock* cb) {
  CsmAssocState* st = StateOf(cb != nullptr ? cb->assoc : nullptr);
  if (st == nullptr) return ASF_ERROR(cb, -28083, 0), -1;
  AsfAssociation* a = cb->assoc;
  if (st->state != 2 && st->state != 9) {
    st->state = 10;
    return ASF_ERROR(cb, -28087, 0), -1;
  }
  auto close = Slot<CsmTransformFn>(st, CSM_SLOT_CLOSE);
  int rc = 0;
  CsmBuffer* input = nullptr;
  // The close step's replies reach it undecoded: they come straight from
  // the I/O adapter.
  while (close != nullptr && st->instance != nullptr) {
    CsmBuffer* output = nullptr;
    st->status = CsmStatus{};
    if (close(st->instance, input, &output, &st->status) != 0) {
      Release(st, output);
      rc = ModuleError(cb, st->status);
      break;
    }
    int32_t result = st->status.result;
    if (result == 1 || result == 2) {
      Release(st, output);
      break;
    }
    if (result < 3 || result > 5) {
      Release(st, output);
      rc = csm_set_error(cb, -14506, st->entry->name, result);
      break;
    }
    if (result != 5 && output != nullptr) {
      int s = IoSend(cb, output);
      if (s != 0) {
        Release(st, output);
        if (s > 0) ASF_ERROR(cb, -14563, 0);
        rc = -1;
        break;
      }
    }
    Release(st, output);
    if (result == 4) continue;
    FreeBuffer(input);
    input = nullptr;
    if (IoRecv(cb, &input, nullptr) != 0) {
      rc = -1;
      break;
    }
  }
  FreeBuffer(input);
  Destroy(a, st);
  return rc;
}

int csm_abort(AsfControlBlock* cb) {
  AsfAssociation* a = cb != nullptr ? cb->assoc : nullptr;
  CsmAssocState* st = StateOf(a);
  if (st == nullptr) return 0;
  st->state = 10;
  if (st->held_output != nullptr) Release(st, st->held_output);
  st->held_output = nullptr;
  auto abort = Slot<CsmAbortFn>(st, CSM_SLOT_ABORT);
  CsmStatus status{};
  if (abort != nullptr && st->instance != nullptr && abort(st->instance, kAbortReason, &status) != 0) {
    ModuleError(cb, status);
  }
  Destroy(a, st);
  return 0;
}

void csm_forget(AsfAssociation* a) {
  CsmAssocState* st = StateOf(a);
  if (st == nullptr) return;
  AsfControlBlock cb{};
  cb.assoc = a;
  csm_abort(&cb);
}

int csm_release_buffer(AsfControlBlock* cb, CsmBuffer* buffer, int32_t end) {
  CsmAssocState* st = StateOf(cb != nullptr ? cb->assoc : nullptr);
  if (st == nullptr) return ASF_ERROR(cb, -14576, 0), -1;
  if (end != 0 && end != 1) return ASF_ERROR(cb, -14579, 0), -1;
  std::unique_lock<std::recursive_mutex> hold(st->lock, std::try_to_lock);
  if (!hold.owns_lock()) return ASF_ERROR(cb, -14579, 0), -1;
  // The chain holds one module, next to both adapters: it is the module
  // at either end once it has an instance.
  if (st->instance == nullptr) return ASF_ERROR(cb, -14577, 0), -1;
  if (buffer == nullptr) return ASF_ERROR(cb, -14510, 0), -1;
  auto release = Slot<CsmReleaseFn>(st, CSM_SLOT_RELEASE);
  if (release == nullptr) return ASF_ERROR(cb, -14578, 0), -1;
  CsmStatus status{};
  if (release(st->instance, buffer, &status) != 0) return ModuleError(cb, status);
  return 0;
}

int csm_put_buffer(AsfAssociation* assoc, AsfPacketBuffer* buf) {
  return asf_buffer_put(assoc, ASF_BF_SEND, buf);
}

TV_END_C
