// Runs a function in a forked child and collects how it ended and what it
// wrote to standard error; lowers a child's descriptor limit to what it has
// open.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace isamtest {

struct ChildResult {
  int exit_code = -1;  // -1 when a signal ended the child
  int signal = 0;
  std::string err;
};

inline ChildResult RunChild(const std::function<int()>& body) {
  int fds[2];
  ChildResult r;
  if (pipe(fds) != 0) return r;
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], 2);
    _exit(body());
  }
  close(fds[1]);
  char buf[512];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) r.err.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) r.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
  return r;
}

// In a child: sets the descriptor limit so that every descriptor the
// process may have is in use. 0, or 11 (limit not set) or 12 (a descriptor
// was still free).
inline int UseEveryDescriptor() {
  int next = open("/dev/null", O_RDONLY | O_CLOEXEC);
  close(next);
  struct rlimit rl;
  getrlimit(RLIMIT_NOFILE, &rl);
  rl.rlim_cur = static_cast<rlim_t>(next);
  if (setrlimit(RLIMIT_NOFILE, &rl) != 0) return 11;
  if (open("/dev/null", O_RDONLY | O_CLOEXEC) >= 0) return 12;
  return 0;
}

}  // namespace isamtest
