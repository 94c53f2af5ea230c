// Per-thread record, status words and process-wide client state.

#include "base/thread_state.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "base/keep_alive.h"
#include "base/client_locale.h"
#include "base/nls_tables.h"
#include "base/osqlidbg.h"

thread_local int16_t rthreadansi = 0;
thread_local SmallBlockPool* rthreadpool = nullptr;
thread_local unsigned char rthreadnullpat[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
thread_local int32_t rthreadstatus = 0;

namespace {
thread_local ThreadRuntimeRecord* t_record = nullptr;
// Published once; read by every thread afterwards.
std::atomic<ClientState*> g_client_state{nullptr};
}  // namespace

ThreadRuntimeRecord* rthreadrec_new(void) {
  auto* rec = static_cast<ThreadRuntimeRecord*>(std::calloc(1, sizeof(ThreadRuntimeRecord)));
  if (rec != nullptr) rec->msg_fd = -1;
  return rec;
}

ThreadRuntimeRecord* rthreadrec(void) {
  if (t_record == nullptr) {
    t_record = rthreadrec_new();
    tvbase::KeepAlive(t_record);
  }
  return t_record;
}

int32_t rgeterror(void) {
  ThreadRuntimeRecord* rec = rthreadrec();
  return rec != nullptr ? rec->sql_status : -406;
}

int32_t rseterror(int32_t value) {
  if (ThreadRuntimeRecord* rec = rthreadrec()) rec->sql_status = value;
  return value;
}

int32_t rgetglerror(void) {
  ThreadRuntimeRecord* rec = rthreadrec();
  return rec != nullptr ? rec->gl_error : -406;
}

int32_t rsetglerror(int32_t value) {
  if (ThreadRuntimeRecord* rec = rthreadrec()) rec->gl_error = value;
  return value;
}

void rsetansi(int32_t value) { rthreadansi = static_cast<int16_t>(value & 0xFFFF); }

void rsetmode(int32_t value) {
  if (ThreadRuntimeRecord* rec = rthreadrec()) rec->mode = value;
}

void rsetdescflag(void) {
  if (ThreadRuntimeRecord* rec = rthreadrec()) rec->flags |= TR_DESCFLAG;
}

int32_t rtestdescflag(void) {
  ThreadRuntimeRecord* rec = rthreadrec();
  return rec != nullptr ? static_cast<int32_t>(rec->flags & TR_DESCFLAG) : 0;
}

int32_t rgetinitstat(void) {
  ThreadRuntimeRecord* rec = rthreadrec();
  return rec != nullptr ? rec->init_status : 0;
}

void rclientstate_init(ClientState* cs) {
  std::memset(cs, 0, sizeof(*cs));
  std::memcpy(cs->class_table, rnls_classtab, sizeof(cs->class_table));
  std::memcpy(cs->lower_map, rnls_lowermap, sizeof(cs->lower_map));
  std::memcpy(cs->upper_map, rnls_uppermap, sizeof(cs->upper_map));
  cs->status = 0;
}

ClientState* rclientstate(void) {
  if (ClientState* cs = g_client_state.load(std::memory_order_acquire)) return cs;
  auto* cs = static_cast<ClientState*>(std::malloc(sizeof(ClientState)));
  if (cs == nullptr) return nullptr;
  rclientstate_init(cs);
  // Published before the trace starts: its start-up asks for the state
  // again and must find it.
  g_client_state.store(cs, std::memory_order_release);
  sqdbg_init();
  cs->status = 0;
  if (rglinit() != 0) {
    cs->status = -1281;  // the client state could not be set up
    return nullptr;
  }
  return cs;
}

int32_t rclientstatus(void) {
  ClientState* cs = g_client_state.load(std::memory_order_acquire);
  return cs != nullptr ? cs->status : 0;
}

char* rlistfind(const char* name, const EnvSnapshot* list) {
  if (name == nullptr || list == nullptr || list->count <= 0) return nullptr;
  for (int32_t i = 0; i < list->count; i++) {
    const char* n = list->names[i];
    if (n != nullptr && std::strcmp(n, name) == 0) return list->values[i];
  }
  return nullptr;
}
