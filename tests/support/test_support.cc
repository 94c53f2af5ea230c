#include "tests/support/test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace tevtest {

namespace {

std::string TempBase() {
  const char* t = std::getenv("TMPDIR");
  std::string base = (t && *t) ? t : "/tmp";
  if (base.back() == '/') base.pop_back();
  return base;
}

void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

}  // namespace

TempInstall::TempInstall() {
  std::string tmpl = TempBase() + "/tevtest.XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) Fail("mkdtemp");
  path_ = buf.data();
  MakeDir("etc");
}

TempInstall::~TempInstall() { RemoveTree(path_); }

void TempInstall::WriteFile(const std::string& rel, const std::string& content) const {
  tevtest::WriteFile(Path(rel), content);
}

std::string TempInstall::ReadFile(const std::string& rel) const {
  return tevtest::ReadFile(Path(rel));
}

bool TempInstall::Exists(const std::string& rel) const {
  std::error_code ec;
  return fs::exists(Path(rel), ec);
}

void TempInstall::MakeDir(const std::string& rel) const {
  fs::create_directories(Path(rel));
}

void WriteFile(const std::string& path, const std::string& content) {
  fs::path p(path);
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (!f) Fail("open " + path);
  f.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!f) Fail("write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return {};
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void RemoveTree(const std::string& path) {
  std::error_code ec;
  fs::remove_all(path, ec);
}

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
              const RunOptions& options) {
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) || pipe2(out_pipe, O_CLOEXEC) || pipe2(err_pipe, O_CLOEXEC))
    Fail("pipe2");

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in_pipe[0], 0);
  posix_spawn_file_actions_adddup2(&fa, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&fa, err_pipe[1], 2);
  if (!options.cwd.empty()) posix_spawn_file_actions_addchdir_np(&fa, options.cwd.c_str());

  std::vector<std::string> argv_s;
  argv_s.push_back(program);
  argv_s.insert(argv_s.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_s) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<std::string> env_s;
  for (const auto& [k, v] : options.env) env_s.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& e : env_s) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid;
  int rc = posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (rc != 0) {
    close(in_pipe[1]);
    close(out_pipe[0]);
    close(err_pipe[0]);
    errno = rc;
    Fail("posix_spawn " + program);
  }

  RunResult result;
  size_t in_off = 0;
  int in_fd = in_pipe[1];
  if (options.stdin_data.empty()) {
    close(in_fd);
    in_fd = -1;
  } else {
    fcntl(in_fd, F_SETFL, O_NONBLOCK);
  }
  int fds[2] = {out_pipe[0], err_pipe[0]};
  std::string* sinks[2] = {&result.out, &result.err};
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeout_seconds);
  bool killed = false;
  while (fds[0] >= 0 || fds[1] >= 0) {
    pollfd p[3];
    int n = 0;
    int map[3];
    for (int i = 0; i < 2; i++)
      if (fds[i] >= 0) { p[n] = {fds[i], POLLIN, 0}; map[n++] = i; }
    if (in_fd >= 0) { p[n] = {in_fd, POLLOUT, 0}; map[n++] = 2; }
    int r = poll(p, n, 200);
    if (r < 0 && errno != EINTR) Fail("poll");
    if (!killed && std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      killed = true;
    }
    for (int j = 0; r > 0 && j < n; j++) {
      if (!p[j].revents) continue;
      int i = map[j];
      if (i == 2) {
        ssize_t w = write(in_fd, options.stdin_data.data() + in_off,
                          options.stdin_data.size() - in_off);
        if (w > 0) in_off += static_cast<size_t>(w);
        if (w < 0 && errno != EAGAIN) in_off = options.stdin_data.size();
        if (in_off >= options.stdin_data.size()) { close(in_fd); in_fd = -1; }
        continue;
      }
      char buf[65536];
      ssize_t got = read(fds[i], buf, sizeof buf);
      if (got > 0) {
        sinks[i]->append(buf, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        close(fds[i]);
        fds[i] = -1;
      }
    }
  }
  if (in_fd >= 0) close(in_fd);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
  if (WIFEXITED(status)) {
    result.exit_code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

std::string BuiltProgram(const std::string& name) { return std::string(TEV_TEST_BIN_DIR) + "/" + name; }
std::string BuildTree() { return TEV_TEST_TREE; }
std::string SourceDir() { return TEV_TEST_SOURCE_DIR; }
std::string Python() { return TEV_TEST_PYTHON; }

}  // namespace tevtest
