// libtarvelon.so exports the client libraries' functions by their C names
// and nothing of the C++ machinery inside them.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <sstream>
#include <string>

#include "tests/support/test_support.h"

namespace {

std::set<std::string> ExportedNames() {
  tevtest::RunOptions opt;
  opt.env = {{"PATH", "/usr/bin:/bin"}};
  auto r = tevtest::RunProgram("/usr/bin/nm", {"-D", "--defined-only", TEV_LIBTARVELON}, opt);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::set<std::string> names;
  std::istringstream in(r.out);
  std::string line;
  while (std::getline(in, line)) {
    auto sp = line.rfind(' ');
    if (sp != std::string::npos) names.insert(line.substr(sp + 1));
  }
  return names;
}

TEST(LibraryExports, OnlyCNamesLeaveTheLibrary) {
  auto names = ExportedNames();
  ASSERT_FALSE(names.empty());
  for (const auto& n : names) EXPECT_NE(n.rfind("_Z", 0), 0u) << n;
  // A few names of every client library, the connectivity layer's file
  // calls, host name, trust check and registry helpers among them.
  for (const char* want : {"stleng", "bycmpr", "ggetenv", "os_username", "gl_setextfunc", "decadd",
                           "stbigint", "isopen", "rhostname", "NT_open", "NT_read", "NT_close",
                           "NT_fstat", "chkInternet", "EnP", "OpenSqlHosts", "QorvRegSqlHostsEx2",
                           "QorvRegNetrcEx", "QorvGetServerInfo", "qvQorvGetServerInfo"})
    EXPECT_TRUE(names.count(want)) << want;
}

TEST(LibraryExports, CallableByName) {
  void* h = dlopen(TEV_LIBTARVELON, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(h, nullptr) << dlerror();
  using Leng = int32_t (*)(const char*);
  auto leng = reinterpret_cast<Leng>(dlsym(h, "stleng"));
  ASSERT_NE(leng, nullptr);
  EXPECT_EQ(leng("zutev"), 5);
  // Internal helpers stay hidden.
  EXPECT_EQ(dlsym(h, "ldlong"), nullptr);
  dlclose(h);
}

}  // namespace
