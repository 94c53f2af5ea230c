// Mutex handles. Without a name a mutex is process-local: a re-entrant lock
// owned by one thread at a time, counted per acquisition. With a name it
// also crosses processes: every process that creates the same name opens
// the lock file "tvmutex.<name>" in the temporary directory, and the thread
// that first acquires the mutex in a process takes an exclusive flock on it,
// released when its count returns to zero. Handles of one name in one
// process share one mutex, as a second create of an existing name does.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "base/os_files.h"
#include "base/os_handle.h"
#include "platform/last_error.h"
#include "platform/temp_dir.h"

namespace tvbase {
namespace {

constexpr uint32_t kErrorNotOwner = 288;
constexpr uint32_t kErrorAlreadyExists = 183;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorInvalidName = 123;

struct MutexHandle : OsHandle {
  MutexHandle() : OsHandle(OsHandleKind::kMutex) {}
  std::mutex lock;                // guards the fields below
  std::condition_variable freed;  // signalled when count drops to 0
  std::thread::id owner;
  uint32_t count = 0;
  uint32_t references = 1;
  std::string name;  // empty: process-local
  int fd = -1;       // the lock file of a named mutex
};

// Named mutexes of this process, by name; guarded by g_names_lock, which is
// never held while waiting for a mutex.
std::mutex g_names_lock;
std::map<std::string, MutexHandle*>& Names() {
  static auto* names = new std::map<std::string, MutexHandle*>;
  return *names;
}

std::string LockFilePath(const std::string& name) {
  std::string file = "tvmutex.";
  for (char c : name) file += (c == '/' || c == '\\') ? '_' : c;
  return tvp::TempDir() + file;
}

// Takes the file lock of a named mutex, waiting at most until `deadline`
// (none: for ever). The file lock is only ever asked for by the thread that
// has just become the local owner, so threads of one process never queue on it.
uint32_t LockFile(int fd, bool forever, std::chrono::steady_clock::time_point deadline) {
  if (forever) {
    while (flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) return kWaitFailed;
    }
    return kWaitObject0;
  }
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return kWaitObject0;
    if (errno != EWOULDBLOCK && errno != EINTR) return kWaitFailed;
    if (std::chrono::steady_clock::now() >= deadline) return kWaitTimeout;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void Unref(MutexHandle* m) {
  bool last;
  {
    std::lock_guard<std::mutex> names(g_names_lock);
    last = --m->references == 0;
    if (last && !m->name.empty()) Names().erase(m->name);
  }
  if (!last) return;
  if (m->fd >= 0) close(m->fd);  // lets go of a file lock still held
  delete m;
}

}  // namespace

uint32_t MutexWait(OsHandle* handle, uint32_t milliseconds) {
  auto* m = static_cast<MutexHandle*>(handle);
  const auto me = std::this_thread::get_id();
  const bool forever = milliseconds == kWaitForever;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(forever ? 0 : milliseconds);
  std::unique_lock<std::mutex> guard(m->lock);
  if (m->count > 0 && m->owner == me) {
    ++m->count;
    return kWaitObject0;
  }
  auto is_free = [&] { return m->count == 0; };
  if (forever) {
    m->freed.wait(guard, is_free);
  } else if (!m->freed.wait_until(guard, deadline, is_free)) {
    return kWaitTimeout;
  }
  m->owner = me;
  m->count = 1;
  if (m->fd < 0) return kWaitObject0;
  // Owned locally; now the other processes. The local lock is let go
  // meanwhile so that releases and time-outs of other threads go on.
  guard.unlock();
  uint32_t rc = LockFile(m->fd, forever, deadline);
  if (rc != kWaitObject0) {
    guard.lock();
    m->count = 0;
    m->owner = std::thread::id();
    m->freed.notify_one();
  }
  return rc;
}

void MutexClose(OsHandle* handle) { Unref(static_cast<MutexHandle*>(handle)); }

}  // namespace tvbase

using tvbase::MutexHandle;

void* os_createmutex(void*, int32_t initial_owner, const char* name) {
  std::string key = name != nullptr ? name : "";
  if (key.empty()) {
    auto* m = new (std::nothrow) MutexHandle;
    if (m == nullptr) {
      tvp::SetLastError(8);
      return nullptr;
    }
    if (initial_owner) tvbase::MutexWait(m, tvbase::kWaitForever);
    tvp::SetLastError(0);
    return m;
  }
  MutexHandle* m = nullptr;
  bool existed = false;
  {
    std::lock_guard<std::mutex> names(tvbase::g_names_lock);
    auto it = tvbase::Names().find(key);
    if (it != tvbase::Names().end()) {
      m = it->second;
      ++m->references;
      existed = true;
    } else {
      int fd = open(tvbase::LockFilePath(key).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0660);
      if (fd < 0) {
        tvp::SetLastError(errno == ENAMETOOLONG ? tvbase::kErrorInvalidName : 5);
        return nullptr;
      }
      m = new (std::nothrow) MutexHandle;
      if (m == nullptr) {
        close(fd);
        tvp::SetLastError(8);
        return nullptr;
      }
      m->name = key;
      m->fd = fd;
      tvbase::Names()[key] = m;
    }
  }
  // An existing mutex is opened, not taken, whatever initial_owner says.
  if (!existed && initial_owner && tvbase::MutexWait(m, tvbase::kWaitForever) != 0) {
    tvbase::MutexClose(m);
    tvp::SetLastError(5);
    return nullptr;
  }
  tvp::SetLastError(existed ? tvbase::kErrorAlreadyExists : 0);
  return m;
}

int32_t os_releasemutex(void* handle) {
  auto* h = static_cast<tvbase::OsHandle*>(handle);
  if (h == nullptr || h->kind != tvbase::OsHandleKind::kMutex) {
    tvp::SetLastError(tvbase::kErrorInvalidHandle);
    return 0;
  }
  auto* m = static_cast<MutexHandle*>(h);
  std::lock_guard<std::mutex> guard(m->lock);
  if (m->count == 0 || m->owner != std::this_thread::get_id()) {
    tvp::SetLastError(tvbase::kErrorNotOwner);
    return 0;
  }
  if (--m->count == 0) {
    if (m->fd >= 0) flock(m->fd, LOCK_UN);
    m->owner = std::thread::id();
    m->freed.notify_one();
  }
  tvp::SetLastError(0);
  return 1;
}
