// Copies the locale files of the build's installation tree that the client
// locale start-up reads (the code-set registry, the default and en_us
// locales and the conversions between ISO 8859-1 and UTF-8) into a
// temporary installation.
#pragma once

#include <string>

#include "tests/support/test_support.h"

namespace basetest {

inline void InstallLocaleFiles(const tevtest::TempInstall& dir) {
  const std::string from = tevtest::BuildTree() + "/lxr/";
  for (const char* rel : {"cm3/registry", "lc11/default.lco", "lc11/en_us/0333.lco",
                          "lc11/en_us/e01c.lco", "cv9/0333e01c.cvo", "cv9/e01c0333.cvo"}) {
    const std::string content = tevtest::ReadFile(from + rel);
    if (!content.empty()) dir.WriteFile(std::string("lxr/") + rel, content);
  }
}

}  // namespace basetest
