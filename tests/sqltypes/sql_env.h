// Points the tests of this folder at the installation tree the build
// fills (message files and locale objects), with the default locale and
// no date or money settings, before any test runs.
#pragma once

#include <stdlib.h>

#include <string>
#include <thread>

#include "tests/support/test_support.h"

namespace sqltest {

inline void UseBuildTree() {
  setenv("TARVELONDIR", tevtest::BuildTree().c_str(), 1);
  for (const char* v : {"DBDATE", "GL_DATE", "DBMONEY", "DBCENTURY", "DBTODAY", "CLIENT_LOCALE",
                        "DB_LOCALE", "ZEL_NOT_STRICT_THOUS_SEP", "ZEL_NOZEROMDY"})
    unsetenv(v);
}

// Runs fn on a new thread: per-thread settings (DBCENTURY, DBTODAY,
// DBMONEY) are read afresh there.
template <typename Fn>
void OnNewThread(Fn fn) {
  std::thread t(fn);
  t.join();
}

}  // namespace sqltest
