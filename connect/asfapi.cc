// The service call: request validation, the association state table, the
// pending-request slots, request begin and end with the deferred abort.
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "connect/asfapi_internal.h"
#include "connect/asfutil.h"
#include "connect/session.h"

namespace {

int Noop(AsfControlBlock* cb, AsfAssocState*, AsfRequest*) {
  cb->error = 0;
  return 0;
}

int ConfirmNoop(AsfControlBlock*, AsfAssocState*) { return 0; }

const AsfServiceEntry kServiceTable[23] = {
    {al_init, nullptr},                       // 0
    {al_listen, nullptr},                     // 1
    {al_lookup, nullptr},                     // 2
    {al_connect, al_connect_confirm},         // 3
    {al_accept, al_accept_confirm},           // 4
    {al_respond, al_respond_confirm},         // 5
    {al_send, nullptr},                       // 6
    {al_recv, nullptr},                       // 7
    {al_interrupt, ConfirmNoop},              // 8
    {al_release, nullptr},                    // 9 (confirm below)
    {al_abort, nullptr},                      // 10
    {al_wait, nullptr},                       // 11
    {al_attribute, nullptr},                  // 12
    {al_handover, nullptr},                   // 13
    {Noop, nullptr},                          // 14
    {Noop, nullptr},                          // 15
    {al_get_buffer, nullptr},                 // 16
    {Noop, nullptr},                          // 17
    {nullptr, nullptr},                       // 18
    {nullptr, nullptr},                       // 19
    {al_special_accept, ConfirmNoop},         // 20
    {al_accept_move, al_accept_confirm},      // 21
    {al_accept_shared, nullptr},              // 22
};

constexpr int R = -1;  // refused, state unchanged
// The consulted rows: next state per state 0..8, R for refused. Cells of
// release and abort in state 7 refuse and move the state to 8.
constexpr int kRows[][9] = {
    /* 3 */ {2, R, R, R, R, R, R, R, R},
    /* 4 */ {2, R, R, R, R, R, R, R, R},
    /* 5 */ {R, R, 1, R, R, R, R, R, R},
    /* 6 */ {R, 1, 2, R, R, R, R, R, R},
    /* 7 */ {R, 1, 2, R, R, R, R, R, R},
    /* 8 */ {R, 1, R, R, R, R, R, R, R},
    /* 9 */ {R, 5, R, R, R, R, R, R, R},
    /* 10 */ {R, 4, 4, 4, R, 4, R, R, 4},
};
constexpr int kRow21[9] = {2, R, 2, R, R, R, R, R, R};
constexpr int kRow22[9] = {2, R, R, R, R, R, R, R, R};

thread_local AsfStateCell t_cell;

bool Synchronous(const AsfControlBlock* cb) { return (cb->mode & 1) != 0; }
bool Asynchronous(const AsfControlBlock* cb) { return cb->mode != 0 && (cb->mode & 1) == 0; }

// Applies a table row: verdict into the error word, next state into the
// record; -1 when refused.
int ApplyRow(AsfControlBlock* cb, int32_t type, AsfAssocState* st) {
  const AsfStateCell* cell = asf_state_cell(type, st->state);
  if (cell == nullptr) return 0;
  cb->error = cell->verdict;
  st->state = cell->next;
  if (cell->verdict == -1) {
    ASF_ERROR(cb, -25598, 0);
    return -1;
  }
  return 0;
}

bool Threaded(const AsfAssociation* a) { return (a->flags & ASF_THREADED) != 0; }

int Lock(AsfAssociation* a) { return Threaded(a) ? os_mutex_lock(a->mutex) : 0; }
int Unlock(AsfAssociation* a) { return Threaded(a) ? os_mutex_unlock(a->mutex) : 0; }

bool AllSlotsIdle(const AsfAssocState* st) {
  for (const AsfPendingSlot& s : st->slots) {
    if (s.busy) return false;
  }
  return true;
}

// Cuts the connection under an abort that must act at once while other
// requests still wait on it: their waits end and the last of them
// performs the abort and frees the association.
void CutTransport(AsfAssociation* a) {
  if (a->transport == nullptr || a->ops == nullptr || a->ops->descriptors == nullptr) return;
  int fds[2] = {-1, -1};
  AsfTlAttribute q = {12, fds};
  if (a->ops->descriptors(a->driver, &q) != 0) return;
  if (fds[0] >= 0) shutdown(fds[0], SHUT_RDWR);
  if (fds[1] >= 0 && fds[1] != fds[0]) shutdown(fds[1], SHUT_RDWR);
}

void FreeCaller(AsfControlBlock* caller) {
  if (caller == nullptr) return;
  asf_assoc_destroy(caller->assoc);
  caller->assoc = nullptr;
}

void FreeField(AsfControlBlock* caller, AsfAssociation*& field) {
  if (caller != nullptr && caller->assoc == field) caller->assoc = nullptr;
  asf_assoc_destroy(field);
  field = nullptr;
}

}  // namespace

TV_BEGIN_C

const AsfStateCell* asf_state_cell(int32_t type, int32_t state) {
  if (state < 0 || state > 8 || type < 3 || type > 22) return nullptr;
  int next;
  if (type <= 10) next = kRows[type - 3][state];
  else if (type == 21) next = kRow21[state];
  else if (type == 22) next = kRow22[state];
  else {
    t_cell = {state, 0};
    return &t_cell;
  }
  if (next == R) {
    bool to_failed = state == 7 && (type == 9 || type == 10);
    t_cell = {to_failed ? 8 : state, -1};
  } else {
    t_cell = {next, 0};
  }
  return &t_cell;
}

int al_pending_slot(int32_t type) {
  switch (type) {
    case 3: case 5: case 6: case 9: case 16:
      return ASF_SLOT_OUT;
    case 1: case 4: case 7: case 17: case 20: case 21: case 22:
      return ASF_SLOT_IN;
    case 8: case 12:
      return ASF_SLOT_EXPEDITED;
    case 10:
      return ASF_SLOT_ABORT;
    default:
      return -1;
  }
}

int32_t asf_request_body_size(int32_t type) {
  switch (type) {
    case 0: return 112;
    case 1: case 4: case 21: case 22: return 88;
    case 2: case 20: return 56;
    case 3: return 144;
    case 5: return 72;
    case 6: case 7: case 9: case 14: case 15: return 24;
    case 8: case 10: case 11: case 12: case 13: case 16: case 17: return 16;
    default: return -1;
  }
}

int asf_request_init(int32_t type, AsfRequest* request) {
  int32_t size = asf_request_body_size(type);
  if (size < 0 || request == nullptr) return -1;
  request->type = type;
  std::memset(&request->body, 0, static_cast<size_t>(size));
  return 0;
}

AsfAssociation* asf_assoc_of_state(AsfAssocState* st) {
  if (st == nullptr) return nullptr;
  return reinterpret_cast<AsfAssociation*>(reinterpret_cast<char*>(st) -
                                           offsetof(AsfAssociation, embedded));
}

void asf_state_free_records(AsfAssocState* st, int all) {
  asf_free_connect_body(1, st->conn_record);
  st->conn_record = nullptr;
  if (st->credential != nullptr) {
    if (st->credential->kind == 1) asf_free_start_request(1, st->credential);
    else asf_free_conn_cred(1, st->credential);
    st->credential = nullptr;
  }
  if (all || st->kind != ASF_INITIATOR) {
    asf_free_option_list(1, st->option_list);
    st->option_list = nullptr;
  }
  asf_free_identity(1, &st->peer);
  // The host the peer declared is the state record's too.
  std::free(st->peer.text88);
  st->peer.text88 = nullptr;
  std::free(st->message);
  st->message = nullptr;
  if (all || st->kind != ASF_RESPONDER) {
    asf_free_server_entry(1, st->server_entry, 1);
    st->server_entry = nullptr;
  }
}

void asf_assoc_destroy(AsfAssociation* a) {
  if (!asf_assoc_valid(a)) return;
  AsfAssocState* st = a->state;
  // Never leave a freed association on a list.
  if (st != nullptr) asf_list_remove(a);
  if (a->transport != nullptr) {
    AsfControlBlock cb{};
    cb.assoc = a;
    tl_close(&cb, TL_CLOSE_ABORTIVE);
  }
  if (st != nullptr) {
    asf_state_free_records(st, 1);
    if (st->handover_open) {
      while (close(st->handover_fd) != 0 && errno == EINTR) {
      }
      st->handover_open = 0;
    }
  }
  asf_assoc_free(a);
}

int asf_list_insert(OsMutex* mutex, AsfAssociation** head, int32_t* count, AsfAssociation* a) {
  if (mutex != nullptr && os_mutex_lock(mutex) != 0) return -1;
  AsfAssociation* old = *head;
  // An empty list has no head to check; a head must be a live association.
  if (old != nullptr && (!asf_assoc_valid(old) || old->state == nullptr)) {
    if (mutex != nullptr) os_mutex_unlock(mutex);
    return -1;
  }
  if (old != nullptr) old->state->prev = a;
  a->state->next = old;
  a->state->prev = nullptr;
  *head = a;
  if (count != nullptr) ++*count;
  if (mutex != nullptr && os_mutex_unlock(mutex) != 0) return -1;
  return 0;
}

namespace {

int Unlink(OsMutex* mutex, AsfAssociation** head, int32_t* count, AsfAssociation* a) {
  if (mutex != nullptr && os_mutex_lock(mutex) != 0) return -1;
  AsfAssocState* st = a->state;
  bool listed = *head == a || st->prev != nullptr;
  if (listed) {
    if (*head == a) *head = st->next;
    if (st->prev != nullptr) st->prev->state->next = st->next;
    if (st->next != nullptr) st->next->state->prev = st->prev;
    if (count != nullptr && *count > 0) --*count;
  }
  st->prev = st->next = nullptr;
  if (mutex != nullptr && os_mutex_unlock(mutex) != 0) return -1;
  return 0;
}

}  // namespace

int asf_list_remove(AsfAssociation* a) {
  AsfGlobal* g = asf_global_get();
  AsfAssocState* st = a->state;
  if (st == nullptr) return -1;
  switch (st->kind) {
    case ASF_INITIATOR: {
      AsfAssociation* parent = st->parent;
      if (asf_assoc_valid(parent) && parent->state != nullptr && parent->state->kind == ASF_RESPONDER) {
        return Unlink(parent->mutex, &parent->state->children, &parent->state->child_count, a);
      }
      if (g == nullptr) return 0;
      return Unlink(g->mutex, &g->clients, &g->client_count, a);
    }
    case ASF_RESPONDER: {
      if (g == nullptr) return 0;
      int rc = Unlink(g->mutex, &g->servers, &g->server_count, a);
      // The responder's children move to the front of the client list.
      while (st->children != nullptr) {
        AsfAssociation* child = st->children;
        st->children = child->state->next;
        child->state->prev = child->state->next = nullptr;
        child->state->parent = nullptr;
        if (asf_list_insert(g->mutex, &g->clients, &g->client_count, child) != 0) rc = -1;
      }
      st->child_count = 0;
      return rc;
    }
    case ASF_LISTENER:
      if (g == nullptr) return 0;
      return Unlink(g->mutex, &g->listeners, &g->listener_count, a);
    default:
      return 0;
  }
}

int asf_perform_abort(AsfControlBlock* cb, AsfAssocState* st, AsfRequest* abort) {
  AsfAssociation* a = asf_assoc_of_state(st);
  int released = sess_release(cb, 10, abort);
  int32_t release_error = cb->error;
  st->state = ASF_ST_ABORT_PENDING;
  int listed = asf_list_remove(a);
  st->state = ASF_ST_ABORTED;
  if (st->handover_open) {
    while (close(st->handover_fd) != 0 && errno == EINTR) {
    }
    st->handover_open = 0;
  }
  if (released != 0) {
    cb->error = release_error;
    return -1;
  }
  if (listed != 0) return ASF_ERROR(cb, -25546, 0), -1;
  return 0;
}

AsfAssociation* asf_assoc_for_request(AsfControlBlock* cb, AsfRequest* request) {
  int32_t kind;
  unsigned char* user = nullptr;
  uint32_t first = 0;
  std::memcpy(&first, &request->body, 4);
  if (request->type == ASF_LISTEN) kind = ASF_LISTENER;
  else if (request->type == ASF_CONNECT) {
    kind = ASF_INITIATOR;
    user = request->body.connect.flag_area;
  } else {
    ASF_ERROR(cb, -25546, 0);
    return nullptr;
  }
  AsfAssociation* a = asf_assoc_new(cb, kind, nullptr);
  if (a == nullptr) return nullptr;
  a->user = user;
  a->state->kind = kind;
  a->state->flag_area = user;
  if (first & ASF_THREADED) a->flags |= ASF_THREADED;
  if (request->type == ASF_LISTEN) request->body.listen.listener = a;
  else request->body.connect.assoc = a;
  return a;
}

int asf_request_begin(int32_t type, AsfControlBlock* cb, AsfRequest* request, AsfAssocState** st_out,
                      AsfControlBlock** work) {
  AsfAssociation* made = nullptr;
  if (cb->assoc == nullptr) {
    made = asf_assoc_for_request(cb, request);
    if (made == nullptr) return -1;
    cb->assoc = made;
  }
  auto fail = [&]() {
    if (made != nullptr) {
      if (type == ASF_LISTEN) request->body.listen.listener = nullptr;
      if (type == ASF_CONNECT) request->body.connect.assoc = nullptr;
      asf_assoc_destroy(made);
      cb->assoc = nullptr;
    }
    return -1;
  };
  AsfAssociation* a = cb->assoc;
  int slot = al_pending_slot(type);
  if (!asf_assoc_valid(a) || a->state == nullptr || slot < 0) {
    ASF_ERROR(cb, -25546, 0);
    return fail();
  }
  AsfAssocState* st = a->state;
  bool locked = false;
  if (made == nullptr) {
    if (Lock(a) != 0) {
      ASF_ERROR(cb, -27003, errno);
      return fail();
    }
    locked = true;
    if (st->slots[slot].busy) {
      Unlock(a);
      ASF_ERROR(cb, -25552, 0);
      return fail();
    }
  }
  int rc = 0;
  if (type == ASF_LISTEN) {
    st->state = 0;
  } else if (type == 3 || type == 4 || type == 22) {
    st->state = 0;
    rc = ApplyRow(cb, type, st);
  } else if (type >= 5 && type <= 10) {
    rc = ApplyRow(cb, type, st);
  }
  if (rc == 0) {
    AsfPendingSlot& s = st->slots[slot];
    s.busy = 1;
    s.caller = cb;
    s.request = request;
    std::memset(&s.block, 0, sizeof s.block);
    s.block.assoc = cb->assoc;
    s.block.mode = cb->mode;
    s.block.timeout_ms = cb->timeout_ms;
    s.block.callback = cb->callback;
    s.block.error = ASF_IN_PROGRESS;
    *st_out = st;
    *work = &s.block;
  }
  if (locked && Unlock(a) != 0) {
    ASF_ERROR(cb, -27003, errno);
    if (rc == 0) st->slots[slot].busy = 0;
    return fail();
  }
  if (rc != 0) return fail();
  return 0;
}

int asf_request_end(int32_t type, AsfControlBlock* work) {
  if (work == nullptr || !asf_assoc_valid(work->assoc) || work->assoc->state == nullptr) return 0;
  AsfAssociation* a = work->assoc;
  AsfAssocState* st = a->state;
  int slot = al_pending_slot(type);
  if (slot < 0) return 0;
  AsfPendingSlot& s = st->slots[slot];
  if (s.block.mode == 0) return ASF_ERROR(work, -27003, 0), -1;
  AsfControlBlock* caller = s.caller;
  AsfRequest* request = s.request;
  caller->error = s.block.error;
  caller->os_error = s.block.os_error;
  if (s.block.text[0] != '\0') {
    std::memcpy(caller->text, s.block.text, sizeof caller->text);
    caller->text[sizeof caller->text - 1] = '\0';
  }
  if (s.block.file[0] != '\0') {
    std::memcpy(caller->file, s.block.file, 15);
    caller->file[15] = '\0';
  }
  caller->line = s.block.line;
  AsfCallback callback = Asynchronous(caller) ? caller->callback : nullptr;
  s.request = nullptr;
  s.block.mode = 0;

  bool performed = false;
  if (st->state == ASF_ST_ABORT_PENDING) {
    if (Lock(a) != 0) return ASF_ERROR(caller, -27003, errno), -1;
    s.busy = 0;
    uint32_t first = 0;
    std::memcpy(&first, &request->body, 4);
    bool at_once = first == 0x18000u;
    if (at_once) {
      first = 0x8000u;
      std::memcpy(&request->body, &first, 4);
    }
    bool perform = AllSlotsIdle(st);
    if (Unlock(a) != 0) return ASF_ERROR(caller, -27003, errno), -1;
    if (!perform && at_once) CutTransport(a);
    if (perform) {
      if (type == ASF_ASSOCABORT) {
        asf_perform_abort(caller, st, request);
      } else {
        asf_perform_abort(&st->saved_abort_block, st, &st->saved_abort);
      }
      performed = true;
      if (type != ASF_ASSOCABORT && caller->error != 0) {
        caller->error = ASF_ABORTED_PENDING;
        caller->os_error = 0;
      }
    }
  } else {
    s.busy = 0;
  }

  switch (type) {
    case ASF_LISTEN:
      if (caller->error != 0 || performed) FreeField(caller, request->body.listen.listener);
      break;
    case ASF_CONNECT:
      if (caller->error < 0 || performed) FreeField(caller, request->body.connect.assoc);
      break;
    case ASF_ACCEPT: case ASF_REACCEPT: case ASF_ACCEPT_SHARED:
      if (performed) FreeCaller(caller);
      else if (caller->error < 0) FreeField(caller, request->body.accept.assoc);
      break;
    case ASF_RESPOND:
      if (request->body.respond.code == 7 || caller->error < 0 || performed) FreeCaller(caller);
      break;
    case ASF_RELEASE:
      if (caller->error == 0 || performed) FreeCaller(caller);
      break;
    case ASF_ASSOCABORT:
      if (performed && st->state == ASF_ST_ABORTED) FreeCaller(caller);
      break;
    default:
      if (performed) FreeCaller(caller);
      break;
  }
  if (callback != nullptr) callback(caller, request);
  return 0;
}

int asf_service_request(AsfControlBlock* cb, AsfRequest* request) {
  if (cb == nullptr) return -1;
  if (request == nullptr) return ASF_ERROR(cb, -25563, 0), -1;
  cb->error = ASF_IN_PROGRESS;
  cb->os_error = 0;
  cb->text[0] = '\0';
  int32_t type = request->type;
  if (type < 0 || type > ASF_MAX_TYPE) return ASF_ERROR(cb, -25551, 0), -1;
  if (type != ASF_INIT && asf_global_get() == nullptr) return ASF_ERROR(cb, -25547, 0), -1;
  if (type != ASF_INTERRUPT) {
    cb->mode &= ~2;
    if (cb->mode == 0 || (cb->mode & 1) == 0) cb->mode |= 1;
  }
  if (type == ASF_CONNECT || type == ASF_WAIT ||
      (type == ASF_LISTEN && (request->body.listen.mode & ~0x10) == 0)) {
    cb->assoc = nullptr;
  }
  bool sync = Synchronous(cb);
  const AsfServiceEntry& entry = kServiceTable[type];
  if (entry.handler == nullptr) return ASF_ERROR(cb, -25546, 0), -1;

  AsfAssocState* st = nullptr;
  AsfControlBlock* work = cb;
  bool needs_none = type == 0 || type == 2 || type == 11 || type == 13 || type == 14 ||
                    type == 15 ||
                    (type == ASF_ATTRIBUTE &&
                     (request->body.attribute.code == 4 || request->body.attribute.code == 260));
  if (type == ASF_REACCEPT) {
    AsfAssociation* named = request->body.accept.assoc;
    if (!asf_assoc_valid(cb->assoc) || !asf_assoc_valid(named) || named->state == nullptr) {
      return ASF_ERROR(cb, -25546, 0), -1;
    }
    st = cb->assoc->state;
    if (ApplyRow(cb, type, named->state) != 0) return -1;
  } else if (!needs_none) {
    if (asf_request_begin(type, cb, request, &st, &work) != 0) return -1;
  }
  errno = 0;
  int rc = entry.handler(work, st, request);
  if (entry.confirm != nullptr && (rc == -1 || sync || cb->mode == 0)) {
    AsfAssocState* cst = st;
    if (type == ASF_ACCEPT || type == ASF_REACCEPT || type == ASF_ACCEPT_SHARED) {
      AsfAssociation* named = request->body.accept.assoc;
      cst = asf_assoc_valid(named) ? named->state : nullptr;
    }
    if (entry.confirm(work, cst) == -1) rc = -1;
  }
  if (type == ASF_RELEASE && (rc == -1 || sync)) {
    // Release confirm: a failed release leaves the association failed;
    // a completed one takes it off its list, released and closed.
    if (st != nullptr) {
      if (work->error != 0) {
        st->state = ASF_ST_FAILED;
      } else {
        AsfAssociation* a = asf_assoc_of_state(st);
        if (asf_list_remove(a) != 0) {
          ASF_ERROR(work, -25546, 0);
          rc = -1;
        }
        st->state = ASF_ST_RELEASED;
        if (a->user != nullptr) a->user[0] = 1;
      }
    }
  }
  if (type == ASF_REACCEPT) {
    if (cb->error < 0) {
      asf_assoc_destroy(request->body.accept.assoc);
      request->body.accept.assoc = nullptr;
    }
  } else if (st != nullptr && (sync || work->error != ASF_IN_PROGRESS)) {
    // Every handler here completes before it returns; an asynchronous
    // request that is already complete ends at once as well.
    if (asf_request_end(type, work) != 0) rc = -1;
  }
  return rc;
}

TV_END_C
