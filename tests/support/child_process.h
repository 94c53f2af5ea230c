// A child process that runs beside the test (RunProgram waits for its
// child; this one does not): started with an exact environment, its
// standard output read through a pipe, ended by the test.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace tevtest {

class Child {
 public:
  Child(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], 1);
      std::vector<char*> argv, envp;
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
      argv.push_back(nullptr);
      envp.push_back(nullptr);
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    close(fds[1]);
    out_ = fds[0];
  }
  ~Child() {
    if (pid_ > 0) {
      Kill();
      Wait();
    }
    if (out_ >= 0) close(out_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  Child(Child&& other) noexcept : pid_(other.pid_), out_(other.out_) {
    other.pid_ = -1;
    other.out_ = -1;
  }

  pid_t pid() const { return pid_; }
  // One line of the child's output, without its newline ("" at the end).
  std::string ReadLine() {
    std::string line;
    char c;
    while (read(out_, &c, 1) == 1 && c != '\n') line.push_back(c);
    return line;
  }
  // Everything the child writes until it closes its output.
  std::string ReadAll() {
    std::string all;
    char buf[4096];
    ssize_t n;
    while ((n = read(out_, buf, sizeof buf)) > 0) all.append(buf, static_cast<size_t>(n));
    return all;
  }
  void Kill() {
    if (pid_ > 0) kill(pid_, SIGKILL);
  }
  // Waits for the child to end; its wait status.
  int Wait() {
    int status = 0;
    if (pid_ > 0) waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

}  // namespace tevtest
