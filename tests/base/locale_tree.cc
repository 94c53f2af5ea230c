// The base tests start the client locale from the build's installation
// tree before any test points TARVELONDIR at a temporary installation: the
// start-up runs once per process, and later lookups keep its locale.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "base/client_locale.h"
#include "tests/support/test_support.h"

namespace {

class LocaleTree : public ::testing::Environment {
 public:
  void SetUp() override {
    const char* old = std::getenv("TARVELONDIR");
    const std::string saved = old != nullptr ? old : "";
    setenv("TARVELONDIR", tevtest::BuildTree().c_str(), 1);
    ASSERT_EQ(0, rglinit());
    if (old != nullptr) {
      setenv("TARVELONDIR", saved.c_str(), 1);
    } else {
      unsetenv("TARVELONDIR");
    }
  }
};

const auto* const kLocaleTree = ::testing::AddGlobalTestEnvironment(new LocaleTree);

}  // namespace
