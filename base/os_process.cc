// Error mapping, threads and the small process calls.
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <strings.h>
#include <thread>
#include <utility>

#include "base/os_files.h"
#include "base/os_handle.h"
#include "platform/last_error.h"

int32_t os_maperr(uint32_t windows_error) {
  switch (windows_error) {
    case 2: case 3: case 20: case 55: case 161: case 267:
      return ENOENT;
    case 5: case 32: case 33: case 65:
      return EACCES;
    case 6:
      return EBADF;
    case 8: case 14: case 1453: case 1454:
      return ENOMEM;
    case 38:
      return ENXIO;
    case 54: case 148:
      return EBUSY;
    case 80: case 183:
      return EEXIST;
    case 87:
      return EINVAL;
    case 110: case 995: case 996: case 1117:
      return EIO;
    case 111:
      return ENAMETOOLONG;
    case 997:
      return EDEADLK;
    case 1455:
      return E2BIG;
    case 1784:
      return EFAULT;
    default:
      return 0;
  }
}

int32_t os_strnicmp(const char* a, const char* b, size_t count) { return strncasecmp(a, b, count); }

namespace {

using tvbase::kWaitFailed;
using tvbase::kWaitForever;
using tvbase::kWaitTimeout;
using tvbase::OsHandle;
using tvbase::OsHandleKind;

// What a thread and its handle share; the last of the two frees it.
struct ThreadState {
  std::mutex mutex;
  std::condition_variable ended_cv;
  bool ended = false;
  uint32_t exit_code = 0;
};

struct ThreadHandle : OsHandle {
  ThreadHandle(std::shared_ptr<ThreadState> s) : OsHandle(OsHandleKind::kThread), state(std::move(s)) {}
  std::shared_ptr<ThreadState> state;
  pthread_t thread{};
};

struct StartArgs {
  std::shared_ptr<ThreadState> state;
  uint32_t (*start)(void*);
  void* arg;
};

void* RunThread(void* p) {
  std::unique_ptr<StartArgs> args(static_cast<StartArgs*>(p));
  uint32_t code = args->start(args->arg);
  std::lock_guard<std::mutex> guard(args->state->mutex);
  args->state->ended = true;
  args->state->exit_code = code;
  args->state->ended_cv.notify_all();
  return nullptr;
}

}  // namespace

void* os_thread_create(void*, uint32_t stack_size, uint32_t (*start)(void*), void* arg, uint32_t,
                       uint32_t* thread_id) {
  if (start == nullptr) return nullptr;
  auto state = std::make_shared<ThreadState>();
  auto* args = new (std::nothrow) StartArgs{state, start, arg};
  auto* handle = new (std::nothrow) ThreadHandle(state);
  if (args == nullptr || handle == nullptr) {
    delete args;
    delete handle;
    return nullptr;
  }
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  if (stack_size != 0) pthread_attr_setstacksize(&attr, std::max<size_t>(stack_size, PTHREAD_STACK_MIN));
  int rc = pthread_create(&handle->thread, &attr, RunThread, args);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete args;
    delete handle;
    tvp::SetLastError(8);
    return nullptr;
  }
  pthread_detach(handle->thread);
  if (thread_id != nullptr) {
    *thread_id = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle) & 0xFFFFFFFFu);
  }
  return handle;
}

uint32_t os_waitobject(void* handle, uint32_t milliseconds) {
  if (handle == nullptr) return kWaitFailed;
  auto* h = static_cast<OsHandle*>(handle);
  if (h->kind == OsHandleKind::kMutex) return tvbase::MutexWait(h, milliseconds);
  if (h->kind != OsHandleKind::kThread) return kWaitFailed;
  ThreadState& state = *static_cast<ThreadHandle*>(handle)->state;
  std::unique_lock<std::mutex> lock(state.mutex);
  if (milliseconds == kWaitForever) {
    state.ended_cv.wait(lock, [&] { return state.ended; });
    return 0;
  }
  return state.ended_cv.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                 [&] { return state.ended; })
             ? 0
             : kWaitTimeout;
}

int32_t os_closehandle(void* handle) {
  if (handle == nullptr) return 0;
  auto* h = static_cast<OsHandle*>(handle);
  if (h->kind == OsHandleKind::kMutex) {
    tvbase::MutexClose(h);
    return 1;
  }
  if (h->kind != OsHandleKind::kThread) return 0;
  delete static_cast<ThreadHandle*>(h);
  return 1;
}

void os_cleanup(void) {
  // The account services keep nothing per thread that outlives the thread.
}

void os_exit(int32_t code) {
  os_cleanup();
  fflush(nullptr);
  exit(code);
}

uint32_t os_getlasterror(void) { return tvp::LastError(); }
int32_t os_wsaerror(void) { return tvp::LastSocketError(); }
uint32_t os_getpid(void) { return static_cast<uint32_t>(getpid()); }
void os_sleepms(uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
