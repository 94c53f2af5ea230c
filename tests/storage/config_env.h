// Test helper: a temporary installation with the process environment that
// the configuration loader reads, restored afterwards.
#pragma once

#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"

namespace tevtest {

class ConfigEnv {
 public:
  ConfigEnv() {
    for (const char* name : kNames) {
      if (const char* v = std::getenv(name)) saved_.emplace_back(name, v);
      unsetenv(name);
    }
    setenv("TARVELONDIR", install_.path().c_str(), 1);
    setenv("ZIVEVODAREVEZO", "tests", 1);
    // Keep the activity log inside the installation unless a test says
    // otherwise (a BAR_ value from the environment sets no flag).
    setenv("BAR_ACT_LOG", install_.Path("act.log").c_str(), 1);
  }
  ~ConfigEnv() {
    for (const char* name : kNames) unsetenv(name);
    for (const auto& [k, v] : saved_) setenv(k.c_str(), v.c_str(), 1);
  }
  void Set(const std::string& name, const std::string& value) {
    setenv(name.c_str(), value.c_str(), 1);
  }
  const TempInstall& install() const { return install_; }

  static constexpr const char* kNames[] = {
      "TARVELONDIR", "ZIVEVODAREVEZO", "ZUCONFIG", "TEV_CONFIG", "TEV_CATALOG_PATH",
      "TEV_ACT_LOG", "TEV_DEBUG_LOG", "TEV_DEBUG", "BAR_ACT_LOG", "BAR_DEBUG_LOG",
      "BAR_DEBUG", "TEV_LOCK_TIMEOUT", "TEV_QA_LIMIT_WRT", "TEV_EXPORT_BUF_SIZE", "GL_USEGLU"};

 private:
  TempInstall install_;
  std::vector<std::pair<std::string, std::string>> saved_;
};

}  // namespace tevtest
