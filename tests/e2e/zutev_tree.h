// A temporary installation tree for runs of the built zutev: the build's
// message files and locale tree, and its own configuration, catalog
// directory, registry store, logs and standard input. Expected messages
// are formatted from the message source by number and arguments, so a test
// checks which message fired with which arguments, never its wording.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace zutevtest {

// The message texts of the storage manager, read from the message source.
inline const std::map<int, std::string>& MessageSource() {
  static const std::map<int, std::string> texts = [] {
    std::map<int, std::string> out;
    std::ifstream in(tevtest::SourceDir() + "/data/msg/tev.msgs");
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] < '0' || line[0] > '9') continue;
      int number = std::stoi(line);
      size_t close = line.find("] ");
      if (close == std::string::npos) continue;
      std::string raw = line.substr(close + 2), text;
      for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\' || i + 1 >= raw.size()) {
          text += raw[i];
          continue;
        }
        char e = raw[++i];
        if (e == 'n') text += '\n';
        else if (e == 't') text += '\t';
        else if (e == '\\') text += '\\';
        else if (e == 'x') {
          text += static_cast<char>(std::stoi(raw.substr(i + 1, 2), nullptr, 16));
          i += 2;
        }
      }
      out[number] = text;
    }
    return out;
  }();
  return texts;
}

// Message `number` formatted with its arguments.
template <typename... Args>
std::string Msg(int number, Args... args) {
  auto it = MessageSource().find(number);
  if (it == MessageSource().end()) {
    ADD_FAILURE() << "no message " << number << " in the message source";
    return "<missing " + std::to_string(number) + ">";
  }
  const char* format = it->second.c_str();
  int n = std::snprintf(nullptr, 0, format, args...);
  std::string out(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(out.data(), out.size(), format, args...);
  out.resize(static_cast<size_t>(n));
  return out;
}

inline std::string Zutev() { return tevtest::BuiltProgram("zutev"); }

inline constexpr char kServer[] = "tevsrv";

class Tree {
 public:
  Tree() {
    const std::string build = tevtest::BuildTree();
    Link(build + "/msg", "msg");
    Link(build + "/lxr", "lxr");
    dir_.WriteFile("etc/zuconfig", tevtest::ReadFile(build + "/etc/zuconfig"));
    dir_.WriteFile("etc/tevconfig", tevtest::ReadFile(build + "/etc/tevconfig"));
    dir_.MakeDir("etc/tev");
    dir_.MakeDir("registry");
    auto seeded = tevtest::RunProgram(
        tevtest::BuiltProgram("tvreg"),
        {"set", std::string("HKLM/SOFTWARE/Tarvelon/Velkor/") + kServer + "/Security/Users",
         "UIDSeed", "dword", "60000"},
        {{{"TARVELON_REGISTRY", dir_.Path("registry")}}, "", "", 60});
    EXPECT_EQ(seeded.exit_code, 0) << seeded.err;
    env_ = {{"TARVELONDIR", dir_.path()},
            {"ZIVEVODAREVEZO", kServer},
            {"TARVELON_REGISTRY", dir_.Path("registry")},
            {"TEV_ACT_LOG", dir_.Path("act.log")},
            {"TEV_DEBUG_LOG", dir_.Path("dbug.log")},
            {"PATH", "/usr/bin:/bin"}};
  }

  const tevtest::TempInstall& dir() const { return dir_; }
  std::map<std::string, std::string>& env() { return env_; }

  tevtest::RunResult Run(const std::vector<std::string>& args, const std::string& input = "") {
    tevtest::RunOptions options;
    options.env = env_;
    options.stdin_data = input;
    options.cwd = dir_.path();
    return tevtest::RunProgram(Zutev(), args, options);
  }

  std::string ActLog() const { return dir_.ReadFile("act.log"); }
  // Names in the catalog directory.
  int CatalogFiles() const {
    std::string out = tevtest::RunProgram("/bin/ls", {dir_.Path("etc/tev")}).out;
    int n = 0;
    for (char c : out) n += c == '\n';
    return n;
  }

 private:
  void Link(const std::string& target, const std::string& rel) {
    ASSERT_EQ(symlink(target.c_str(), dir_.Path(rel).c_str()), 0) << rel;
  }

  tevtest::TempInstall dir_;
  std::map<std::string, std::string> env_;
};

}  // namespace zutevtest
