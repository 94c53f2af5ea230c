// Looks at the kernel's list of byte-range locks, and runs a peer process
// that holds ISAM locks while the test looks on.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace isamtest {

// The locks on a file as "READ start-end" / "WRITE start-end" (end "EOF"
// for a lock to the end of the file), from every process.
//
// The kernel names a file "major:minor:inode", but on an overlay the device
// it lists is not the one stat reports, and matching the inode alone can
// pick up locks of another file with the same number on another device. So
// the probe places a marker lock of its own far beyond every range the
// library uses, learns the file's exact name from the marker's line, and
// keeps only the other locks listed under that name.
inline std::multiset<std::string> LocksOn(const std::string& path) {
  std::multiset<std::string> locks;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return locks;
  constexpr off_t kMarker = 0x123456789LL;
  const std::string marker = std::to_string(kMarker) + "-" + std::to_string(kMarker);
  struct flock fl = {};
  fl.l_type = F_RDLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kMarker;
  fl.l_len = 1;
  if (fcntl(fd, F_OFD_SETLK, &fl) != 0) {
    close(fd);
    return locks;
  }
  struct Line {
    std::string dev, lock;
  };
  std::vector<Line> lines;
  std::string dev_of_file;
  {
    std::ifstream in("/proc/locks");
    std::string line;
    while (std::getline(in, line)) {
      if (line.find("->") != std::string::npos) continue;
      std::istringstream fields(line);
      std::string num, kind, advisory, type, pid, dev, start, end;
      fields >> num >> kind >> advisory >> type >> pid >> dev >> start >> end;
      std::string range = start + "-" + end;
      if (range == marker) {
        dev_of_file = dev;
        continue;
      }
      lines.push_back({dev, type + " " + range});
    }
  }
  close(fd);  // drops the marker
  for (const Line& l : lines) {
    if (l.dev == dev_of_file) locks.insert(l.lock);
  }
  return locks;
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
