// Mapped reads of ".idx" nodes and ".dat" blocks.
//
// A mapping is made read-only and shared, at least twice the file's size
// when it is made, so that a growing file is mostly read through the same
// mapping; only bytes known to lie inside the file are ever touched (the
// size seen by fstat, or the end of a write this thread made, as the
// library never shortens a file). Should another program cut a file under
// an open pair, touching a page past its new end raises SIGBUS: a copy
// from a mapping runs under a guard that turns that signal into a failed
// copy, so the caller reads with pread and reports the short file as it
// always did. The guard's handler passes every other SIGBUS on to the
// handler that was installed before it.

#include "isam/block_map.h"

#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

namespace isam {

namespace {

constexpr size_t kLeastMap = size_t{1} << 20;

thread_local sigjmp_buf* t_guard = nullptr;
struct sigaction g_previous;

void OnSigbus(int sig, siginfo_t* info, void* context) {
  if (t_guard != nullptr) siglongjmp(*t_guard, 1);
  // Not ours: hand the signal to whoever had it before.
  if (g_previous.sa_flags & SA_SIGINFO) {
    g_previous.sa_sigaction(sig, info, context);
  } else if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
    g_previous.sa_handler(sig);
  } else {
    // Returning re-runs the faulting access, which now ends the process as
    // it would have without this handler.
    signal(SIGBUS, SIG_DFL);
  }
}

bool InstallGuard() {
  static std::once_flag once;
  static bool installed = false;
  std::call_once(once, [] {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_sigaction = OnSigbus;
    sa.sa_flags = SA_SIGINFO | SA_NODEFER | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    installed = sigaction(SIGBUS, &sa, &g_previous) == 0;
  });
  return installed;
}

// The copy; false when a page of it lay past the file's end.
bool GuardedCopy(unsigned char* out, const unsigned char* from, size_t len) {
  sigjmp_buf here;
  if (sigsetjmp(here, 0) != 0) {
    t_guard = nullptr;
    return false;
  }
  t_guard = &here;
  std::memcpy(out, from, len);
  t_guard = nullptr;
  return true;
}

// Learns the file's size again, mapping it anew when it outgrew the
// mapping. False when the file cannot be mapped.
bool Refresh(IsamFileMap* m, int fd) {
  struct stat sb;
  if (fstat(fd, &sb) != 0) return false;
  if (!S_ISREG(sb.st_mode) || sb.st_size < 0) {
    m->nomap = true;
    return false;
  }
  const size_t size = static_cast<size_t>(sb.st_size);
  if (size > m->maplen) {
    is_unmapfile(m);
    if (!InstallGuard()) {
      m->nomap = true;
      return false;
    }
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    size_t len = size * 2 > kLeastMap ? size * 2 : kLeastMap;
    len = (len + page - 1) / page * page;
    void* p = mmap(nullptr, len, PROT_READ, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) {
      m->nomap = true;
      return false;
    }
    m->base = static_cast<const unsigned char*>(p);
    m->maplen = len;
  }
  m->valid = static_cast<int64_t>(size);
  return true;
}

}  // namespace

bool is_mapreads = true;

bool is_mapread(IsamFileMap* m, int fd, off_t off, size_t len, unsigned char* out) {
  if (m->nomap || fd < 0 || off < 0 || !is_mapreads) return false;
  const int64_t end = static_cast<int64_t>(off) + static_cast<int64_t>(len);
  if (end > m->valid && (!Refresh(m, fd) || end > m->valid)) return false;
  if (GuardedCopy(out, m->base + off, len)) return true;
  // The file is shorter than it was seen to be: learn its size at the
  // next read.
  m->valid = 0;
  return false;
}

void is_mapgrown(IsamFileMap* m, int64_t end) {
  if (m->base != nullptr && end > m->valid && static_cast<size_t>(end) <= m->maplen) m->valid = end;
}

void is_unmapfile(IsamFileMap* m) {
  if (m->base != nullptr) munmap(const_cast<unsigned char*>(m->base), m->maplen);
  m->base = nullptr;
  m->maplen = 0;
  m->valid = 0;
  m->nomap = false;
}

}  // namespace isam
