// Support for tests that drive real programs: a temporary installation
// directory, and a child process run with a clean environment.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace tevtest {

// A fresh temporary directory laid out as an installation directory
// (TARVELONDIR with etc/). Removed with everything in it on destruction.
class TempInstall {
 public:
  TempInstall();
  ~TempInstall();
  TempInstall(const TempInstall&) = delete;
  TempInstall& operator=(const TempInstall&) = delete;

  // The directory, without a trailing '/'.
  const std::string& path() const { return path_; }
  // Absolute path of a file below the directory.
  std::string Path(const std::string& rel) const { return path_ + "/" + rel; }
  // Writes a file below the directory, making its parent directories.
  void WriteFile(const std::string& rel, const std::string& content) const;
  // Reads a file below the directory; empty if it does not exist.
  std::string ReadFile(const std::string& rel) const;
  bool Exists(const std::string& rel) const;
  void MakeDir(const std::string& rel) const;

 private:
  std::string path_;
};

struct RunResult {
  int exit_code = -1;  // exit status, or -1 when killed by a signal
  int signal = 0;      // the signal that ended the child, or 0
  std::string out;
  std::string err;
};

struct RunOptions {
  std::map<std::string, std::string> env;  // the child's whole environment
  std::string stdin_data;
  std::string cwd;          // empty: the caller's current directory
  int timeout_seconds = 120;  // the child is killed after this long
};

// Runs a program with exactly the environment given, feeding stdin_data to
// its standard input and capturing standard output and error.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
              const RunOptions& options = {});

// Path of an executable built by this project (bin/ of the build tree).
std::string BuiltProgram(const std::string& name);
// The installation tree the build fills.
std::string BuildTree();
// The source directory (for test data).
std::string SourceDir();
// The python3 interpreter found at configure time.
std::string Python();

// Helpers for files outside a TempInstall.
void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);
void RemoveTree(const std::string& path);

}  // namespace tevtest
