// Set-up handlers of the service table: init with the take-over of
// inherited associations, server look-up, connect with its loop over the
// server entries of a name, listen, accept, respond, special accept, the
// peer authentication of the accepting side and the hand-over.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "base/conn_calls.h"
#include "base/os_accounts.h"
#include "base/os_files.h"
#include "connect/al_internal.h"
#include "connect/asf_flatten.h"
#include "connect/asfapi_internal.h"
#include "connect/asfns.h"
#include "connect/asfutil.h"
#include "connect/csm.h"
#include "connect/driver.h"
#include "connect/session.h"

namespace {

// Gathers this process's identity into the global record.
int GatherIdentity(AsfControlBlock* cb, AsfGlobal* g) {
  AsfIdentity& id = g->identity;
  asf_free_identity(1, &id);
  id.pid = static_cast<int32_t>(getpid());
  char host[256];
  if (os_hostname(host, sizeof host) != 0) return ASF_ERROR(cb, -406, errno), -1;
  host[sizeof host - 1] = '\0';
  id.host = asf_strdup(1, host);
  const char* computer = os_computername();
  id.computer = asf_strdup(1, computer != nullptr ? computer : "");
  char cwd[4096];
  if (asf_getcwd(cwd, sizeof cwd) != 0) return ASF_ERROR(cb, -922, errno), -1;
  id.cwd = asf_strdup(1, cwd);
  id.uid = tv_getuid();
  id.gid = static_cast<uint16_t>(tv_getgid());
  mode_t mask = umask(0);
  umask(mask);
  id.umask = static_cast<int32_t>(mask);
  char program[4096];
  ssize_t n = readlink("/proc/self/exe", program, sizeof program - 1);
  program[n > 0 ? n : 0] = '\0';
  id.program = asf_strdup(1, program);
  if (id.host == nullptr || id.computer == nullptr || id.cwd == nullptr || id.program == nullptr) {
    return ASF_ERROR(cb, -406, ENOMEM), -1;
  }
  return 0;
}

int NewGlobal(AsfControlBlock* cb, const AsfInitBody& body) {
  auto* g = static_cast<AsfGlobal*>(std::calloc(1, sizeof(AsfGlobal)));
  if (g == nullptr) return ASF_ERROR(cb, -406, ENOMEM), -1;
  if (os_mutex_create(&g->mutex, "asf_global", 0) != 0) {
    std::free(g);
    return ASF_ERROR(cb, -406, ENOMEM), -1;
  }
  g->init_flags = body.flags;
  g->setting1 = body.setting1;
  g->setting1_current = body.setting1;
  g->setting2 = body.setting2;
  g->setting3 = body.setting3;
  g->zero_word = 0;
  g->setting4 = body.setting4;
  g->setting_ptr = body.setting_ptr;
  g->debug_stream = stderr;
  if (body.entry_count > 0 && body.entries != nullptr) {
    size_t bytes = sizeof(AsfDriverConfig) * static_cast<size_t>(body.entry_count);
    g->entries = static_cast<AsfDriverConfig*>(std::malloc(bytes));
    if (g->entries == nullptr) {
      os_mutex_destroy(g->mutex);
      std::free(g);
      return ASF_ERROR(cb, -406, ENOMEM), -1;
    }
    std::memcpy(g->entries, body.entries, bytes);
    g->entry_count = body.entry_count;
  }
  asf_global_set(g);
  if (asf_debug_setup() != 0) return ASF_ERROR(cb, -25568, 0), -1;
  return 0;
}

// Loads the module configuration once per process: 0, or its error code.
int CsmEnsureConfig() {
  AsfControlBlock cb{};
  if (csm_ensure_config(&cb) == 0) return 0;
  return cb.error != 0 ? cb.error : -14589;
}

}  // namespace

TV_BEGIN_C

int al_init(AsfControlBlock* cb, AsfAssocState*, AsfRequest* request) {
  cb->assoc = nullptr;
  AsfInitBody& body = request->body.init;
  int rc = 0;
  if ((body.flags & 0x10) && asf_global_get() == nullptr) rc = NewGlobal(cb, body);
  if (rc == 0 && (body.flags & 0x10)) {
    AsfGlobal* g = asf_global_get();
    if (g == nullptr) rc = (ASF_ERROR(cb, -25557, 0), -1);
    else rc = GatherIdentity(cb, g);
  }
  if (rc == 0) rc = tl_init_drivers(cb, request);
  if (rc == 0 && (body.flags & 0x10) && (body.flags & 0x10000)) rc = al_takeover_all(cb, &body);
  cb->assoc = nullptr;
  if (rc == 0) cb->error = 0;
  return rc;
}

int al_lookup(AsfControlBlock* cb, AsfAssocState*, AsfRequest* request) {
  AsfLookupBody& body = request->body.lookup;
  if (body.mode != 0) {
    cb->error = 0;
    return 0;
  }
  AsfCredentials cred{};
  uint32_t flags = 0;
  AsfServerList* list = nullptr;
  int rc = asfns_resolve(cb, 0, &cred, &body.target, &list,
                         static_cast<AsfOptionList*>(body.env_list), &flags);
  body.server_list = list;
  return rc;
}

int al_respond(AsfControlBlock* cb, AsfAssocState* st, AsfRequest* request) {
  st->kind = ASF_RESPONDER;
  AsfGlobal* g = asf_global_get();
  if (g == nullptr) return ASF_ERROR(cb, -25557, 0), -1;
  AsfRespondBody& body = request->body.respond;
  int32_t offered = body.info.level;
  if (offered > 0 && st->session_level > 0) {
    if (offered < st->session_level) st->session_level = offered;
    else if (offered > st->session_level) return ASF_ERROR(cb, -25549, 0), -1;
  }
  if (sess_respond(cb, &body, &g->identity) != 0) return -1;
  cb->error = 0;
  return 0;
}

int al_respond_confirm(AsfControlBlock* cb, AsfAssocState* st) {
  if (st == nullptr) return -1;
  AsfRequest* request = st->slots[ASF_SLOT_OUT].request;
  bool refused = request != nullptr && request->body.respond.code == ASF_REFUSED;
  if (cb->error != 0 || refused) {
    al_abort_at_once(cb, st);
    return cb->error != 0 ? -1 : 0;
  }
  st->state = ASF_ST_ESTABLISHED;
  if (st->flag_area != nullptr) st->flag_area[0] = 0;
  return 0;
}

// Re-accept and accept on a shared transport need the session layer's
// re-accept and shared accept, which this build does not have.
int al_accept_move(AsfControlBlock* cb, AsfAssocState*, AsfRequest*) {
  return ASF_ERROR(cb, -25546, 0), -1;
}
int al_accept_shared(AsfControlBlock* cb, AsfAssocState*, AsfRequest*) {
  return ASF_ERROR(cb, -25546, 0), -1;
}

int al_csm_ensure_config(void) { return CsmEnsureConfig(); }

TV_END_C
