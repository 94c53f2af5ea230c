// The handles that os_waitobject and os_closehandle accept: every handle
// starts with its kind, so one wait and one close serve threads and mutexes.
#pragma once

#include <cstdint>

namespace tvbase {

enum class OsHandleKind : uint32_t { kThread = 0x54485244u, kMutex = 0x4D555458u };

struct OsHandle {
  explicit OsHandle(OsHandleKind k) : kind(k) {}
  OsHandleKind kind;
};

constexpr uint32_t kWaitForever = 0xFFFFFFFFu;
constexpr uint32_t kWaitObject0 = 0;
constexpr uint32_t kWaitTimeout = 258;
constexpr uint32_t kWaitFailed = 0xFFFFFFFFu;

// Acquires a mutex handle for the calling thread (re-entrant): 0, or 258
// when `milliseconds` pass first, or 0xFFFFFFFF when it cannot be locked.
uint32_t MutexWait(OsHandle* handle, uint32_t milliseconds);
// Drops one reference to a mutex handle; the last one frees it (and
// closes its lock file, which lets any lock on it go).
void MutexClose(OsHandle* handle);

}  // namespace tvbase
