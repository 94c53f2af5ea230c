// Set-up handlers of the service table: init, and the handlers that make,
// find, accept and hand over associations.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/conn_calls.h"
#include "base/os_accounts.h"
#include "base/os_files.h"
#include "connect/asfapi_internal.h"
#include "connect/asfutil.h"

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

// The set-up handlers that are not part of this layer's build yet.
int NotAvailable(AsfControlBlock* cb) { return ASF_ERROR(cb, -25546, 0), -1; }

}  // namespace

TV_BEGIN_C

int al_init(AsfControlBlock* cb, AsfAssocState*, AsfRequest* request) {
  cb->assoc = nullptr;
  const AsfInitBody& body = request->body.init;
  int rc = 0;
  if ((body.flags & 0x10) && asf_global_get() == nullptr) rc = NewGlobal(cb, body);
  if (rc == 0 && (body.flags & 0x10)) {
    AsfGlobal* g = asf_global_get();
    if (g == nullptr) rc = (ASF_ERROR(cb, -25557, 0), -1);
    else rc = GatherIdentity(cb, g);
  }
  if (rc == 0) rc = tl_init_drivers(cb, request);
  cb->assoc = nullptr;
  if (rc == 0) cb->error = 0;
  return rc;
}

int al_listen(AsfControlBlock* cb, AsfAssocState*, AsfRequest*) { return NotAvailable(cb); }
int al_lookup(AsfControlBlock* cb, AsfAssocState*, AsfRequest*) { return NotAvailable(cb); }
int al_connect(AsfControlBlock* cb, AsfAssocState* st, AsfRequest* request) {
  st->kind = ASF_INITIATOR;
  if (request->body.connect.flag_area != nullptr) request->body.connect.flag_area[0] = 1;
  return NotAvailable(cb);
}
int al_accept(AsfControlBlock* cb, AsfAssocState*, AsfRequest*) { return NotAvailable(cb); }
int al_respond(AsfControlBlock* cb, AsfAssocState*, AsfRequest*) { return NotAvailable(cb); }
int al_special_accept(AsfControlBlock* cb, AsfAssocState*, AsfRequest*) { return NotAvailable(cb); }
int al_accept_move(AsfControlBlock* cb, AsfAssocState*, AsfRequest*) { return NotAvailable(cb); }
int al_accept_shared(AsfControlBlock* cb, AsfAssocState*, AsfRequest*) { return NotAvailable(cb); }
int al_handover(AsfControlBlock* cb, AsfAssocState*, AsfRequest*) {
  int rc = NotAvailable(cb);
  cb->assoc = nullptr;
  return rc;
}

int al_connect_confirm(AsfControlBlock* cb, AsfAssocState* st) {
  if (st == nullptr) return -1;
  if (cb->error != 0 && cb->error != ASF_REFUSED) {
    st->state = ASF_ST_FAILED;
    if (st->flag_area != nullptr) st->flag_area[0] = 1;
    return -1;
  }
  return 0;
}

int al_accept_confirm(AsfControlBlock* cb, AsfAssocState*) { return cb->error < 0 ? -1 : 0; }
int al_respond_confirm(AsfControlBlock* cb, AsfAssocState*) { return cb->error != 0 ? -1 : 0; }

TV_END_C
