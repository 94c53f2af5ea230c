// The storage tests read their message texts from the build's installation
// tree. The message reader settles a thread's installation directory at
// its first lookup, so one lookup with TARVELONDIR at the build tree, before
// any test points TARVELONDIR at a temporary installation, keeps the main
// thread's messages coming from the build tree.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "base/msgfile.h"
#include "tests/support/test_support.h"

namespace {

class MessageTree : public ::testing::Environment {
 public:
  void SetUp() override {
    const char* old = std::getenv("TARVELONDIR");
    const std::string saved = old != nullptr ? old : "";
    setenv("TARVELONDIR", tevtest::BuildTree().c_str(), 1);
    char text[256];
    ASSERT_EQ(rgetmsg(87023, text, sizeof text), 0) << text;
    if (old != nullptr)
      setenv("TARVELONDIR", saved.c_str(), 1);
    else
      unsetenv("TARVELONDIR");
  }
};

const auto* const kMessageTree = ::testing::AddGlobalTestEnvironment(new MessageTree);

}  // namespace
