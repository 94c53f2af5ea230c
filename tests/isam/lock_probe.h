// Looks at the kernel's list of byte-range locks, and runs a peer process
// that holds ISAM locks while the test looks on.
#pragma once

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>

namespace isamtest {

// The locks on a file as "READ start-end" / "WRITE start-end" (end "EOF"
// for a lock to the end of the file), from every process.
inline std::multiset<std::string> LocksOn(const std::string& path) {
  std::multiset<std::string> same_dev, same_ino;
  struct stat sb;
  if (stat(path.c_str(), &sb) != 0) return same_dev;
  // The kernel names a file "major:minor:inode" with the numbers of the
  // device in hex. Files on other devices can share the inode number, so
  // the full name is matched; the inode alone is the fallback for file
  // systems (overlays) whose lock device is not the one stat reports.
  char full[64];
  snprintf(full, sizeof full, "%02x:%02x:%llu", major(sb.st_dev), minor(sb.st_dev),
           static_cast<unsigned long long>(sb.st_ino));
  std::ifstream in("/proc/locks");
  std::string line;
  std::string ino = ":" + std::to_string(sb.st_ino);
  while (std::getline(in, line)) {
    if (line.find("->") != std::string::npos) continue;
    std::istringstream fields(line);
    std::string num, kind, advisory, type, pid, dev, start, end;
    fields >> num >> kind >> advisory >> type >> pid >> dev >> start >> end;
    if (dev.size() < ino.size() || dev.compare(dev.size() - ino.size(), ino.size(), ino) != 0) continue;
    std::string lock = type + " " + start + "-" + end;
    same_ino.insert(lock);
    if (dev == full) same_dev.insert(lock);
  }
  return same_dev.empty() ? same_ino : same_dev;
}

inline bool HasLock(const std::string& path, const std::string& lock) {
  return LocksOn(path).count(lock) > 0;
}

// A forked process that runs `setup` (its result is sent back), then
// waits until the test lets it go, then exits. Fork only while the test
// process has no ISAM file open: the child must open its own.
class Peer {
 public:
  explicit Peer(const std::function<int()>& setup) {
    int up[2], down[2];
    if (pipe(up) != 0 || pipe(down) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(up[0]);
      close(down[1]);
      int rc = setup();
      unsigned char b = static_cast<unsigned char>(rc);
      if (write(up[1], &b, 1) != 1) _exit(3);
      char c;
      while (read(down[0], &c, 1) < 0) {
      }
      _exit(0);
    }
    close(up[1]);
    close(down[0]);
    release_ = down[1];
    unsigned char b = 0xFF;
    if (read(up[0], &b, 1) == 1) result_ = b;
    close(up[0]);
  }
  ~Peer() { Finish(); }
  // What setup returned (its low 8 bits), -1 when it did not report.
  int result() const { return result_; }
  void Finish() {
    if (pid_ <= 0) return;
    close(release_);
    int status;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  int result_ = -1;
};

}  // namespace isamtest
