// Thin operating-system wrappers of the connectivity layer: mutexes,
// memory, sleeping, the host name, thread wake-up, the interrupt-handler
// slot table, user records and the current directory.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "base/client_locale.h"
#include "base/os_accounts.h"
#include "base/os_files.h"
#include "connect/asfutil.h"

// An unnamed mutex handle of the base services (process-local, re-entrant);
// the name only labels it.
struct OsMutex {
  void* handle;
  char name[32];
};

namespace {

std::atomic<OsInterruptHandler> g_slots[OS_INTERRUPT_SLOTS];

void DoNothing(int) {}

int SignalOfSlot(int32_t slot) {
  switch (slot) {
    case 15: return SIGUSR1;
    case 16: return SIGURG;
    case 20: return SIGINT;
    default: return 0;
  }
}

int SlotOfSignal(int sig) {
  if (sig == SIGUSR1) return 15;
  if (sig == SIGURG) return 16;
  if (sig == SIGINT) return 20;
  return -1;
}

// Runs the slot's handler; async-signal-safe as long as the handler is.
void Dispatch(int sig) {
  int saved = errno;
  int slot = SlotOfSignal(sig);
  if (slot >= 0) {
    OsInterruptHandler h = g_slots[slot].load(std::memory_order_acquire);
    if (h != nullptr) h(slot);
  }
  errno = saved;
}

}  // namespace

TV_BEGIN_C

int os_mutex_create(OsMutex** holder, const char* name, int32_t) {
  if (holder == nullptr) return -1;
  auto* m = static_cast<OsMutex*>(std::calloc(1, sizeof(OsMutex)));
  if (m == nullptr) return -1;
  m->handle = os_createmutex(nullptr, 0, nullptr);
  if (m->handle == nullptr) {
    std::free(m);
    return -1;
  }
  if (name != nullptr) std::strncpy(m->name, name, sizeof m->name - 1);
  *holder = m;
  return 0;
}

int os_mutex_destroy(OsMutex* holder) {
  if (holder == nullptr) return 0;
  os_closehandle(holder->handle);
  std::free(holder);
  return 0;
}

int os_mutex_lock(OsMutex* holder) {
  if (holder == nullptr) return -1;
  return os_waitobject(holder->handle, 0xFFFFFFFFu) == 0 ? 0 : -1;
}

int os_mutex_unlock(OsMutex* holder) {
  if (holder == nullptr) return -1;
  return os_releasemutex(holder->handle) != 0 ? 0 : -1;
}

int os_cond_create(void** object, const char*) {
  if (object != nullptr) *object = nullptr;
  return 0;
}

void* os_calloc(int64_t, size_t n) { return std::calloc(1, n); }

int os_free(int64_t, void* p) {
  if (p == nullptr) return -1;
  std::free(p);
  return 0;
}

void* os_realloc(int64_t, void* p, size_t n) { return std::realloc(p, n); }

void os_sleep(int32_t seconds) {
  if (seconds > 0) std::this_thread::sleep_for(std::chrono::seconds(seconds));
}

int rhostname(char* buf, int32_t length) {
  if (buf == nullptr || length < 1) {
    errno = EINVAL;
    return -1;
  }
  char name[256];
  if (os_hostname(name, sizeof name) != 0) return -1;
  name[sizeof name - 1] = '\0';
  size_t n = std::strlen(name);
  if (n > static_cast<size_t>(length - 1)) n = static_cast<size_t>(length - 1);
  std::memcpy(buf, name, n);
  buf[n] = '\0';
  return 0;
}

int os_wake_thread(int64_t process_id, int32_t code) {
  int sig = SignalOfSlot(code);
  if (sig == 0) sig = SIGUSR1;
  if (process_id <= 0 || kill(static_cast<pid_t>(process_id), sig) != 0) {
    errno = ESRCH;
    return -1;
  }
  return 0;
}

OsInterruptHandler os_set_interrupt_handler(int32_t slot, OsInterruptHandler handler) {
  if (slot < 0 || slot >= OS_INTERRUPT_SLOTS) return nullptr;
  uintptr_t value = reinterpret_cast<uintptr_t>(handler);
  if (value == 0 || value == 1) handler = DoNothing;
  OsInterruptHandler previous = g_slots[slot].exchange(handler, std::memory_order_acq_rel);
  if (int sig = SignalOfSlot(slot)) {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = Dispatch;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(sig, &sa, nullptr);
  }
  return previous;
}

int os_user_record(int32_t uid, AsfUserRecord* out) {
  if (out == nullptr || uid < 0 || uid > 0xFFFF) return -1;
  OsUserEntry* e = os_userbyuid(static_cast<uint16_t>(uid));
  if (e == nullptr) return -1;
  std::memset(out, 0, sizeof *out);
  auto copy = [](char* dst, size_t size, const char* src) {
    if (src != nullptr) std::strncpy(dst, src, size - 1);
  };
  copy(out->name, sizeof out->name, e->pw_name);
  copy(out->password, sizeof out->password, e->pw_passwd);
  out->uid = e->pw_uid;
  out->gid = e->pw_gid;
  copy(out->home, sizeof out->home, e->pw_dir);
  copy(out->shell, sizeof out->shell, e->pw_shell);
  return 0;
}

int asf_getcwd(char* buf, int32_t size) {
  if (buf == nullptr || size <= 0) return -1;
  if (getcwd(buf, static_cast<size_t>(size)) == nullptr) return -1;
  char* converted = nullptr;
  int rc = rgl_env_from_fs(buf, &converted);
  if (rc < 0) return -1;
  if (rc == 1 && converted != nullptr) {
    size_t n = std::strlen(converted);
    if (n >= static_cast<size_t>(size)) {
      std::free(converted);
      return -1;
    }
    std::memcpy(buf, converted, n + 1);
    std::free(converted);
  }
  return 0;
}

TV_END_C
