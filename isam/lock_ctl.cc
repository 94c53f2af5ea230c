// The lock command over open-file-description locks, with the process-wide
// table of held ranges and the deadlock retries.
//
// The table lets a thread take over its own shared locks that another
// descriptor of the same file holds on exactly the range it asks exclusive
// (a second spelling of one pair's name gives a second descriptor). Only the
// calling thread's entries are taken over: taking another thread's shared
// open lock would let this thread work without header locks beside it.

#include <pthread.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <list>
#include <mutex>
#include <string>
#include <vector>

#include "isam/env.h"
#include "isam/locks.h"
#include "isam/ofd_lock.h"

namespace isam {

namespace {

struct HeldLock {
  int fd;
  pthread_t thread;
  off_t start;
  IsamLockRequest req;
  std::string path;
};

std::mutex g_heldmutex;
std::list<HeldLock> g_held;

int SystemLock(int fd, int cmd, struct flock* fl) { return fcntl(fd, cmd, fl); }

void SystemSleep(int ms) {
  struct timespec ts = {ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

// One system lock call; a range held by another owner reads as EACCES.
int Apply(int fd, short type, off_t start, off_t len, bool wait) {
  int rc = is_ofdlock(fd, type, start, len, wait, is_lockprimitive);
  if (rc < 0 && errno == EAGAIN) errno = EACCES;
  return rc;
}

void Remember(int fd, off_t start, const IsamLockRequest& req, const char* path) {
  std::lock_guard<std::mutex> guard(g_heldmutex);
  g_held.push_back(HeldLock{fd, pthread_self(), start, req, path != nullptr ? path : ""});
}

bool SameFile(int a, int b) {
  struct stat sa, sb;
  return fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// Exclusive lock over the calling thread's own shared locks of the same
// range held through other descriptors of the same file.
int TakeOver(int fd, off_t start, off_t len, bool wait) {
  std::lock_guard<std::mutex> guard(g_heldmutex);
  std::vector<std::list<HeldLock>::iterator> aside;
  pthread_t self = pthread_self();
  for (auto it = g_held.begin(); it != g_held.end(); ++it) {
    if (it->fd != fd && pthread_equal(it->thread, self) && it->req.type == LK_SHARED &&
        it->start == start && it->req.length == len && SameFile(fd, it->fd)) {
      aside.push_back(it);
    }
  }
  if (aside.empty()) return Apply(fd, F_WRLCK, start, len, wait);
  for (auto it : aside) Apply(it->fd, F_UNLCK, start, len, false);
  if (Apply(fd, F_WRLCK, start, len, false) == 0) {
    for (auto it : aside) g_held.erase(it);
    return 0;
  }
  int err = errno;
  for (auto it : aside) Apply(it->fd, F_RDLCK, start, len, false);
  errno = err;
  return -1;
}

std::atomic<bool> g_settingsread{false};
int g_deadlockcount = 0;
int g_deadlocksleep = 0;

int Setting(const char* name) {
  const char* v = is_getenv(name);
  if (v == nullptr) return 0;
  long n = std::strtol(v, nullptr, 0);
  if (n < 0) return -1;
  return n > 1000000 ? 1000000 : static_cast<int>(n);
}

void ReadSettings() {
  static std::mutex once;
  std::lock_guard<std::mutex> guard(once);
  if (g_settingsread.load()) return;
  int count = Setting("ISAM_DEADLOCK_COUNT");
  g_deadlockcount = count < 0 ? 0 : count;
  g_deadlocksleep = Setting("ISAM_DEADLOCK_SLEEP");
  g_settingsread.store(true);
}

}  // namespace

int (*is_lockprimitive)(int fd, int cmd, struct flock* fl) = SystemLock;
void (*is_locksleep)(int ms) = SystemSleep;

void is_lockresetsettings() { g_settingsread.store(false); }

int is_lockctl(int fd, int cmd, IsamLockRequest* req, const char* path) {
  if (fd < 0) {
    errno = EBADF;
    return -1;
  }
  if (cmd != LK_TEST && cmd != LK_SET && cmd != LK_SETWAIT) {
    errno = EINVAL;
    return -1;
  }
  off_t start = req->start;
  if (req->origin == 1) {
    off_t here = lseek(fd, 0, SEEK_CUR);
    if (here < 0) return -1;
    start += here;
  } else if (req->origin == 2) {
    struct stat sb;
    if (fstat(fd, &sb) != 0) return -1;
    start += sb.st_size;
  }
  off_t len = static_cast<uint32_t>(req->length);
  if (start < 0 || len == 0) {
    errno = EINVAL;
    return -1;
  }

  if (req->type == LK_UNLOCK) {
    // Releases every held range of the descriptor that lies inside the
    // requested one.
    std::lock_guard<std::mutex> guard(g_heldmutex);
    for (auto it = g_held.begin(); it != g_held.end();) {
      off_t hlen = static_cast<uint32_t>(it->req.length);
      if (it->fd == fd && it->start >= start && it->start + hlen <= start + len) {
        if (Apply(fd, F_UNLCK, it->start, hlen, false) == 0) {
          it = g_held.erase(it);
          continue;
        }
      }
      ++it;
    }
    return 0;
  }
  if (req->type != LK_SHARED && req->type != LK_EXCLUSIVE) {
    errno = EINVAL;
    return -1;
  }
  short type = req->type == LK_SHARED ? F_RDLCK : F_WRLCK;

  if (cmd == LK_TEST) {
    struct flock fl = {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = start;
    fl.l_len = len;
    if (is_lockprimitive(fd, F_OFD_GETLK, &fl) != 0) return -1;
    if (fl.l_type != F_UNLCK) {
      errno = EACCES;
      return -1;
    }
    req->type = LK_UNLOCK;
    return 0;
  }

  bool wait = cmd == LK_SETWAIT;
  int rc;
  if (type == F_RDLCK) {
    rc = Apply(fd, type, start, len, wait);
  } else {
    rc = Apply(fd, type, start, len, false);
    if (rc != 0 && errno == EACCES) rc = TakeOver(fd, start, len, wait);
  }
  if (rc != 0) return -1;
  // One entry per range and descriptor: a conversion replaces the old one.
  {
    std::lock_guard<std::mutex> guard(g_heldmutex);
    for (auto it = g_held.begin(); it != g_held.end(); ++it) {
      if (it->fd == fd && it->start == start && it->req.length == req->length) {
        g_held.erase(it);
        break;
      }
    }
  }
  Remember(fd, start, *req, path);
  return 0;
}

int is_lockretry(int fd, int cmd, IsamLockRequest* req, const char* path) {
  if (!g_settingsread.load()) ReadSettings();
  for (int tries = 0;; ++tries) {
    int rc = is_lockctl(fd, cmd, req, path);
    if (rc == 0 || errno != EDEADLK || tries >= g_deadlockcount) return rc;
    if (g_deadlocksleep > 0) is_locksleep(g_deadlocksleep);
  }
}

void is_lockforget(int fd) {
  std::lock_guard<std::mutex> guard(g_heldmutex);
  g_held.remove_if([fd](const HeldLock& h) { return h.fd == fd; });
}

int is_heldlocks(int fd) {
  std::lock_guard<std::mutex> guard(g_heldmutex);
  int n = 0;
  for (const HeldLock& h : g_held) n += h.fd == fd ? 1 : 0;
  return n;
}

}  // namespace isam
