// The module configuration and module loading: concsm.cfg fixtures through
// TARVELONCONCSMCFG, the test module (csm_test_module.so, exporting
// csm_init) and a library without csm_init.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "connect/asfutil.h"
#include "connect/csm_config.h"
#include "tests/support/test_support.h"

namespace {

const std::string kModule = std::string(TEV_CSM_DIR) + "/csm_test_module.so";
const std::string kNoInit = std::string(TEV_CSM_DIR) + "/csm_nomain_module.so";

class Csm : public ::testing::Test {
 protected:
  void TearDown() override {
    csm_unload_config();
    unsetenv("TARVELONCONCSMCFG");
  }
  // Loads a configuration text: 0, or the error code.
  int Load(const std::string& text) {
    csm_unload_config();
    dir.WriteFile("concsm.cfg", text);
    setenv("TARVELONCONCSMCFG", dir.Path("concsm.cfg").c_str(), 1);
    AsfControlBlock cb{};
    return csm_ensure_config(&cb) == 0 ? 0 : cb.error;
  }
  // Resolves a csm value: the error code (0) and the text or options.
  std::pair<int, std::string> Resolve(const std::string& csm) {
    AsfControlBlock cb{};
    CsmConfigEntry* module = nullptr;
    char options[1024] = {};
    if (csm_resolve_module(&cb, csm.c_str(), &module, options, sizeof options) != 0) {
      return {cb.error, cb.text};
    }
    return {0, std::string(module->name) + " " + options};
  }
  tevtest::TempInstall dir;
};

TEST_F(Csm, ModulesAreFoundLoadedAndGivenTheirOptions) {
  ASSERT_EQ(Load("# modules\n"
                 "good(\"" + kModule + "\", \"global\", \"defaults\")\n"
                 "keyed(\"kind=x, Server =" + kModule + ",z=1\"), nokey(\"kind=x,other=y\")\n"
                 "noinit(\"" + kNoInit + "\")   # no csm_init\n"
                 "missing(\"/nonexistent/module.so\")\n"
                 "other(\"" + kModule + "\")\n"
                 "both good other\n"
                 "one good\n"),
            0);
  struct Case {
    std::string csm;
    int error;
    std::string text;
  } cases[] = {
      {"good", 0, "good defaults"},
      {"GOOD, \"mine\"", 0, "good mine"},
      {"good \"mine\"", 0, "good mine"},
      {"keyed", 0, "keyed "},          // the server key's value, cut at the next ","
      {"one", 0, "good defaults"},     // a compound of one module
      {"nokey", -14503, ""},           // "=" without a server key: no path
      {"missing", -14503, "/nonexistent/module.so"},
      {"noinit", -14511, kNoInit},
      {"unknown", -14502, "unknown"},
      {"both", -14500, "-14500"},      // one module per chain
      {"", -14551, ""},
      {"good junk", -14575, ""},
  };
  for (const Case& k : cases) {
    auto [error, text] = Resolve(k.csm);
    EXPECT_EQ(error, k.error) << k.csm << ": " << text;
    EXPECT_EQ(text, k.text) << k.csm;
  }
}

TEST_F(Csm, FailedInitIsStoredAndNotRepeated) {
  std::string count = dir.Path("count");
  ASSERT_EQ(Load("old(\"" + kModule + "\", \"v2 count=" + count + "\")\n"
                 "bad(\"" + kModule + "\", \"fail count=" + count + "\")\n"),
            0);
  for (int k = 0; k < 2; ++k) {
    EXPECT_EQ(Resolve("old"), std::make_pair(-14504, std::string("2: old")));
    EXPECT_EQ(Resolve("bad"), std::make_pair(-5003, std::string("the test module refuses")));
  }
  // csm_init was called once for each, with version word 3 and services 1.
  EXPECT_EQ(dir.ReadFile("count"), "init version=3 services=1\ninit version=3 services=1\n");
}

TEST_F(Csm, ConfigurationErrors) {
  struct Case {
    std::string text;
    int error;
  } cases[] = {
      {"a(\"x\"\n", -14581},                  // no closing parenthesis
      {"a(\"x\") $\n", -14581},               // a character outside the grammar
      {"a(\"x\")\na(\"y\")\n", -14582},        // defined twice
      {"a(\"x\")\nc c a\n", -14587},           // a compound that lists itself
      {"a(\"\")\n", -14588},                  // an empty library path
      {"a()\n", -14584},                      // no library at all
      {"c a b\n", -14583},                    // members that do not exist
  };
  for (const Case& k : cases) EXPECT_EQ(Load(k.text), k.error) << k.text;
  EXPECT_EQ(csm_config_loaded(), 0);
  // A file that cannot be opened.
  setenv("TARVELONCONCSMCFG", dir.Path("absent.cfg").c_str(), 1);
  AsfControlBlock cb{};
  EXPECT_EQ(csm_ensure_config(&cb), -1);
  EXPECT_EQ(cb.error, -14589);
  EXPECT_EQ(std::string(cb.text), dir.Path("absent.cfg"));
}

}  // namespace
