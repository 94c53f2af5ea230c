#include "platform/registry_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/win_errors.h"

namespace tvreg {

namespace {

constexpr char kDefaultDirectory[] = "/var/lib/tarvelon/registry";

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// Identity of a hive file as last read; a rename of a new version changes
// the inode, so a match means the cached hive is current.
struct FileStamp {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = -1;
  int64_t mtime_ns = 0;
  bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const struct stat& st) {
  return {st.st_dev, st.st_ino, st.st_size,
          static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

struct CachedHive {
  bool present = false;
  FileStamp stamp;
  Hive hive;
};

// One lock for the process: the cache, and the order of this process's own
// transactions. flock orders them against other processes.
std::mutex g_mutex;
std::map<std::string, CachedHive> g_cache;

bool IsPermissionError(int err) { return err == EACCES || err == EPERM || err == EROFS; }

std::string ParentDirectory(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

mode_t HiveMode(Root root) { return root == Root::kMachine ? 0644 : 0600; }

int MakeDirectories(const std::string& dir) {
  if (mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST) return 0;
  if (errno != ENOENT) return errno;
  std::string parent = ParentDirectory(dir);
  if (parent == dir) return ENOENT;
  int err = MakeDirectories(parent);
  if (err != 0) return err;
  if (mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST) return 0;
  return errno;
}

// Opens and locks "<hive>.lock". A reader that cannot open it reads without
// it: hives are replaced by rename, so a reader never sees half a file.
int LockHive(const std::string& hive, Root root, bool exclusive, Fd* lock) {
  std::string path = hive + ".lock";
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    if (exclusive) {
      int err = MakeDirectories(ParentDirectory(path));
      if (err != 0) return IsPermissionError(err) ? tvwin::kAccessDenied : tvwin::kRegistryIoFailed;
    }
    fd = open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, HiveMode(root));
  }
  if (fd < 0) {
    if (!exclusive) return tvwin::kOk;
    return IsPermissionError(errno) ? tvwin::kAccessDenied : tvwin::kRegistryIoFailed;
  }
  Fd owned(fd);
  while (flock(fd, exclusive ? LOCK_EX : LOCK_SH) != 0) {
    if (errno != EINTR) return tvwin::kRegistryIoFailed;
  }
  lock->reset(owned.release());
  return tvwin::kOk;
}

bool ReadAll(int fd, std::string* out) {
  out->clear();
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    out->append(buf, static_cast<size_t>(n));
  }
}

bool VolatileKeyIsDead(const RegKey& key) {
  if (!key.is_volatile) return false;
  if (key.boot_id != CurrentBootId()) return true;
  if (key.owner_pid == 0) return false;
  uint64_t start = 0;
  return !ProcessStartTime(key.owner_pid, &start) || start != key.owner_start;
}

// Brings the cached hive of `path` up to date with the file (lock held).
int32_t LoadHive(const std::string& path, CachedHive* cached) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) return tvwin::kRegistryIoFailed;
    *cached = CachedHive{};
    return tvwin::kOk;
  }
  if (!cached->present || !(cached->stamp == StampOf(st))) {
    Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
      return IsPermissionError(errno) ? tvwin::kAccessDenied : tvwin::kRegistryIoFailed;
    }
    std::string text;
    if (fstat(fd.get(), &st) != 0 || !ReadAll(fd.get(), &text)) return tvwin::kRegistryIoFailed;
    Hive hive;
    if (!hive.Parse(text)) {
      *cached = CachedHive{};
      return tvwin::kRegistryCorrupt;
    }
    cached->present = true;
    cached->stamp = StampOf(st);
    cached->hive = std::move(hive);
  }
  cached->hive.DropKeysIf(VolatileKeyIsDead);
  return tvwin::kOk;
}

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

int32_t ErrnoResult(int err) {
  return IsPermissionError(err) ? tvwin::kAccessDenied : tvwin::kRegistryIoFailed;
}

// Replaces the hive file with `hive` (exclusive lock held).
int32_t StoreHive(const std::string& path, Root root, const Hive& hive, CachedHive* cached) {
  std::string tmp = path + ".tmp";
  Fd fd(open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, HiveMode(root)));
  if (fd.get() < 0) return ErrnoResult(errno);
  std::string text = hive.Serialize();
  if (fchmod(fd.get(), HiveMode(root)) != 0 || !WriteAll(fd.get(), text) ||
      fsync(fd.get()) != 0) {
    int err = errno;
    unlink(tmp.c_str());
    return ErrnoResult(err);
  }
  struct stat st;
  if (fstat(fd.get(), &st) != 0 || close(fd.release()) != 0 ||
      rename(tmp.c_str(), path.c_str()) != 0) {
    int err = errno;
    unlink(tmp.c_str());
    return ErrnoResult(err);
  }
  Fd dir(open(ParentDirectory(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) fsync(dir.get());
  cached->present = true;
  cached->stamp = StampOf(st);
  cached->hive = hive;
  return tvwin::kOk;
}

}  // namespace

std::string RegistryDirectory() {
  const char* dir = getenv("TARVELON_REGISTRY");
  return dir != nullptr && *dir != '\0' ? std::string(dir) : std::string(kDefaultDirectory);
}

std::string HivePath(Root root) {
  if (root == Root::kMachine) return RegistryDirectory() + "/HKLM.reg";
  const char* dir = getenv("TARVELON_REGISTRY");
  if (dir != nullptr && *dir != '\0') {
    return std::string(dir) + "/HKCU-" + std::to_string(geteuid()) + ".reg";
  }
  const char* home = getenv("HOME");
  std::string home_dir = home != nullptr && *home != '\0' ? home : "";
  if (home_dir.empty()) {
    struct passwd pw, *found = nullptr;
    char buf[4096];
    if (getpwuid_r(geteuid(), &pw, buf, sizeof buf, &found) == 0 && found != nullptr) {
      home_dir = pw.pw_dir;
    }
  }
  if (home_dir.empty()) home_dir = "/tmp";
  return home_dir + "/.tarvelon_registry.reg";
}

int32_t ReadHive(Root root, const std::function<int32_t(const Hive&)>& read) {
  std::lock_guard<std::mutex> guard(g_mutex);
  std::string path = HivePath(root);
  Fd lock;
  int32_t rc = LockHive(path, root, false, &lock);
  if (rc != tvwin::kOk) return rc;
  CachedHive& cached = g_cache[path];
  rc = LoadHive(path, &cached);
  if (rc != tvwin::kOk) return rc;
  return read(cached.hive);
}

int32_t ChangeHive(Root root, const std::function<int32_t(Hive&, bool* changed)>& change) {
  std::lock_guard<std::mutex> guard(g_mutex);
  std::string path = HivePath(root);
  Fd lock;
  int32_t rc = LockHive(path, root, true, &lock);
  if (rc != tvwin::kOk) return rc;
  CachedHive& cached = g_cache[path];
  rc = LoadHive(path, &cached);
  if (rc != tvwin::kOk) return rc;
  Hive copy = cached.hive;
  bool changed = false;
  rc = change(copy, &changed);
  if (rc != tvwin::kOk || !changed) return rc;
  return StoreHive(path, root, copy, &cached);
}

const std::string& CurrentBootId() {
  static const std::string boot_id = [] {
    std::string id;
    Fd fd(open("/proc/sys/kernel/random/boot_id", O_RDONLY | O_CLOEXEC));
    if (fd.get() >= 0 && ReadAll(fd.get(), &id)) {
      while (!id.empty() && (id.back() == '\n' || id.back() == ' ')) id.pop_back();
    }
    // The id is written into hive lines; keep it to one plain token.
    for (char& c : id) {
      if (c <= ' ' || c > '~' || c == ':' || c == '%') c = '_';
    }
    return id.empty() ? std::string("unknown") : id;
  }();
  return boot_id;
}

bool ProcessStartTime(int64_t pid, uint64_t* start) {
  if (pid <= 0) return false;
  std::string path = "/proc/" + std::to_string(pid) + "/stat";
  Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  std::string text;
  if (fd.get() < 0 || !ReadAll(fd.get(), &text)) return false;
  // Fields after the command name (which may hold spaces and parentheses):
  // state is field 3, start time field 22.
  size_t paren = text.rfind(')');
  if (paren == std::string::npos) return false;
  size_t pos = paren + 1;
  for (int field = 2; field < 22; ++field) {
    pos = text.find(' ', pos);
    if (pos == std::string::npos) return false;
    ++pos;
  }
  char* end = nullptr;
  unsigned long long value = strtoull(text.c_str() + pos, &end, 10);
  if (end == text.c_str() + pos) return false;
  // A zombie has ended: it holds nothing any more.
  if (paren + 2 < text.size() && text[paren + 2] == 'Z') return false;
  *start = value;
  return true;
}

}  // namespace tvreg
