// The ICU back-end loader: when it is wanted, reading the library registry,
// loading and binding the wrapper libraries, the ICU data and locale map,
// switching off, releasing and binding again. Each case runs glu_probe in
// a fresh process against stand-in wrapper libraries in a temporary tree.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "locale/core/gl_errors.h"
#include "locale/core/gl_icu.h"
#include "locale/core/gl_locale.h"
#include "tests/support/test_support.h"

namespace {

using tevtest::RunOptions;
using tevtest::RunProgram;
using tevtest::RunResult;
using tevtest::TempInstall;

// A library as the registry names it, and what to put there.
struct Lib {
  std::string name;
  std::string source;  // a built library, "" for a file that is no library, or
                       // "-" for none at all
};

class GluTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.WriteFile("lxr/etc/icudt.dat", "data");
    dir_.WriteFile("lxr/etc/locmap", "map");
  }

  void Install(std::initializer_list<Lib> libs) {
    std::string registry;
    for (const Lib &lib : libs) {
      registry += lib.name + "\n";
      if (lib.source == "-") {
        unlink(dir_.Path("lxr/dll/" + lib.name).c_str());
        continue;
      }
      dir_.WriteFile("lxr/dll/" + lib.name,
                     lib.source.empty() ? "not a shared library\n" : tevtest::ReadFile(lib.source));
    }
    dir_.WriteFile("lxr/etc/64-dllregistry.48", registry);
  }

  RunResult Probe(const std::string &capable, const std::vector<std::string> &steps,
                  const std::string &useglu = "1", std::map<std::string, std::string> extra = {}) {
    RunOptions opt;
    opt.env = {{"TARVELONDIR", dir_.path()}, {"LXRDEBUG", "on"}, {"PATH", "/usr/bin:/bin"}};
    if (!useglu.empty()) opt.env["GL_USEGLU"] = useglu;
    for (auto &[k, v] : extra) opt.env[k] = v;
    std::vector<std::string> args{capable};
    args.insert(args.end(), steps.begin(), steps.end());
    RunResult r = RunProgram(GLU_PROBE, args, opt);
    EXPECT_EQ(0, r.exit_code) << r.out << r.err;
    return r;
  }

  static int Count(const std::string &text, const std::string &what) {
    int n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
  }

  TempInstall dir_;
};

bool Has(const RunResult &r, const std::string &what) {
  return r.out.find(what) != std::string::npos;
}

TEST_F(GluTest, NotWantedLoadsNothing) {
  Install({{"glu.so", FAKE_GLU_LIB}});
  struct {
    const char *capable, *useglu;
  } cases[] = {{"0", "1"}, {"0", "2"}, {"1", ""}, {"2", ""}, {"2", "0"}, {"1", "3"}, {"1", "x"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.capable) + "/" + c.useglu);
    RunResult r = Probe(c.capable, {"init", "init"}, c.useglu);
    EXPECT_EQ(2, Count(r.out, "init rc=0 error=0 bound=0 inuse=0 map=0 global=0"));
    EXPECT_EQ(2, Count(r.out, "mapped=\n"));
    EXPECT_FALSE(Has(r, "gl_init_glu_dll: Initializing"));
    EXPECT_FALSE(Has(r, "fake:"));
  }
  // Not wanted is remembered: the second initialisation skips the step.
  RunResult r = Probe("1", {"init", "init"}, "");
  EXPECT_EQ(1, Count(r.out, "gl_init_glu_dll: preloaded"));
  r = Probe("0", {"init"}, "1");
  EXPECT_TRUE(Has(r, "gl_init_glu_dll: No glu_capable"));
}

TEST_F(GluTest, NotWantedOpensNoFile) {
  const char *strace = access("/usr/bin/strace", X_OK) == 0 ? "/usr/bin/strace" : nullptr;
  if (strace == nullptr) GTEST_SKIP() << "strace is not installed";
  Install({{"glu.so", FAKE_GLU_LIB}});
  auto traced = [&](const std::string &useglu) {
    std::string trace = dir_.Path("trace");
    RunOptions opt;
    // The leak check cannot run under a tracer.
    opt.env = {{"TARVELONDIR", dir_.path()}, {"ASAN_OPTIONS", "detect_leaks=0"}};
    if (!useglu.empty()) opt.env["GL_USEGLU"] = useglu;
    RunResult r = RunProgram(
        strace, {"-f", "-qq", "-e", "trace=open,openat", "-o", trace, GLU_PROBE, "2", "init"}, opt);
    return r.exit_code == 0 ? dir_.ReadFile("trace") : std::string();
  };
  std::string on = traced("1");
  if (on.empty()) GTEST_SKIP() << "strace cannot trace here";
  EXPECT_NE(std::string::npos, on.find("64-dllregistry.48"));  // the trace does see it
  std::string off = traced("");
  ASSERT_FALSE(off.empty());
  EXPECT_EQ(std::string::npos, off.find("/lxr/")) << off;
}

TEST_F(GluTest, BindsInitialisesAndReleases) {
  Install({{"glu.so", FAKE_GLU_LIB}});
  RunResult r = Probe("1", {"init", "init", "unload", "unload", "init", "unload"});
  // Bound, callbacks installed, the ICU data and map found under lxr/etc.
  EXPECT_EQ(3, Count(r.out, "init rc=0 error=0 bound=1 inuse=1 map=1 global=1\nmapped=glu.so\n"))
      << r.out;
  EXPECT_TRUE(Has(r, "fake: setMemoryFunctions all"));
  EXPECT_TRUE(Has(r, "fake: setMessageLevel 65535"));
  EXPECT_TRUE(Has(r, "LXR: fake_glu: print function installed"));
  EXPECT_TRUE(Has(r, "fake: loadIcuData " + dir_.path() + "/lxr/etc icudt.dat"));
  EXPECT_TRUE(Has(r, "fake: loadMapData " + dir_.path() + "/lxr/etc"));
  // Once initialised, an initialisation returns at once.
  EXPECT_NE(std::string::npos,
            r.out.find("LXR: gl_init_glu: Begin\ninit rc=0 error=0 bound=1 inuse=1 map=1"));
  // Released: data and map handed back, the library unmapped; a second
  // release has nothing to do; a new initialisation binds afresh.
  EXPECT_TRUE(Has(r,
                  "fake: unloadIcuData data\nfake: unloadMapData map\n"
                  "unload rc=0 error=0 bound=0 inuse=0 map=0 global=0\nmapped=\n"));
  EXPECT_EQ(3, Count(r.out, "unload rc=0 error=0 bound=0 inuse=0 map=0 global=0\nmapped=\n"));
  EXPECT_EQ(2, Count(r.out, "LXR: gl_init_glu_dll: Loading library: " + dir_.path() +
                                "/lxr/dll/glu.so\n"));
  EXPECT_EQ(2, Count(r.out, "fake: unloadIcuData"));
}

TEST_F(GluTest, SymbolsComeFromTheLastLibrary) {
  // The partial library lacks an entry point: fine when it comes first.
  Install({{"first.so", FAKE_GLU_PARTIAL_LIB}, {"last.so", FAKE_GLU_LIB}});
  RunResult r = Probe("1", {"init"});
  EXPECT_TRUE(Has(r, "init rc=0 error=0 bound=1 inuse=1 map=1 global=1\nmapped=first.so,last.so"))
      << r.out;

  Install({{"first.so", FAKE_GLU_LIB}, {"last.so", FAKE_GLU_PARTIAL_LIB}});
  r = Probe("1", {"init"});
  EXPECT_TRUE(Has(r, "LXR: gl_init_glu_dll: missing glu_ucstoucs32"));
  EXPECT_TRUE(Has(r, "LXR: gl_init_glu_dll: End icudata vodr_dlsym error"));
  EXPECT_TRUE(Has(r, "LXR: gl_init_glu: loading DLLs error"));
  EXPECT_TRUE(Has(r, "init rc=-1 error=8 bound=0 inuse=0 map=0 global=0")) << r.out;
  // Even with capability 2 a missing entry point is an error.
  r = Probe("2", {"init"}, "2");
  EXPECT_TRUE(Has(r, "init rc=-1 error=8 bound=0")) << r.out;
}

TEST_F(GluTest, AtMostFourLibrariesAreLoaded) {
  // The fifth name does not exist: loading it would fail.
  Install({{"a.so", FAKE_GLU_PARTIAL_LIB},
           {"b.so", FAKE_GLU_PARTIAL_LIB},
           {"c.so", FAKE_GLU_PARTIAL_LIB},
           {"d.so", FAKE_GLU_LIB},
           {"e.so", "-"}});
  RunResult r = Probe("1", {"init"});
  EXPECT_EQ(4, Count(r.out, "gl_init_glu_dll: Loading library:"));
  EXPECT_TRUE(
      Has(r, "init rc=0 error=0 bound=1 inuse=1 map=1 global=1\nmapped=a.so,b.so,c.so,d.so"))
      << r.out;
}

TEST_F(GluTest, LibrariesThatCannotBeLoaded) {
  struct {
    const char *source;  // "" a file that is no library, "-" none
    const char *capable, *useglu;
    const char *result;
    bool allowed;
  } cases[] = {
      {"", "2", "2", "init rc=0 error=0 bound=0 inuse=0 map=0 global=0", true},
      {"", "1", "2", "init rc=-1 error=8 bound=0 inuse=0", false},
      {"", "2", "1", "init rc=-1 error=8 bound=0 inuse=0", false},
      {"-", "2", "2", "init rc=-1 error=8 bound=0 inuse=0", false},
      {"-", "1", "1", "init rc=-1 error=8 bound=0 inuse=0", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.source) + " " + c.capable + "/" + c.useglu);
    Install({{"glu.so", c.source}});
    RunResult r = Probe(c.capable, {"init", "init"}, c.useglu);
    EXPECT_TRUE(Has(r, "LXR: LoadLibraries: Error Loading SharedObject file\nLXR: " + dir_.path() +
                           "/lxr/dll/glu.so\n"));
    EXPECT_TRUE(Has(r, c.result)) << r.out;
    EXPECT_EQ(c.allowed, Has(r, "LXR: gl_init_glu_dll: Error Loading DLLs allowed"));
    // Switched off for good, or tried again.
    EXPECT_EQ(c.allowed, Has(r, "LXR: gl_init_glu_dll: No glu_capable"));
  }
}

TEST_F(GluTest, MemoryFunctionsRefused) {
  Install({{"glu.so", FAKE_GLU_LIB}});
  RunResult r = Probe("1", {"init"}, "1", {{"FAKE_GLU_MEMFN", "5"}});
  EXPECT_TRUE(Has(r, "LXR: gl_init_glu_dll: End callback functions"));
  EXPECT_TRUE(Has(r, "init rc=-1 error=5 bound=0 inuse=0 map=0")) << r.out;

  r = Probe("2", {"init", "init"}, "1", {{"FAKE_GLU_MEMFN", "5"}});
  EXPECT_TRUE(Has(r,
                  "LXR: gl_init_glu_dll: glu_capable was 2, set to 0; error from "
                  "glu_setMemoryFunctions, disabling ICU."));
  EXPECT_EQ(2, Count(r.out, "init rc=0 error=0 bound=0 inuse=0 map=0 global=0")) << r.out;
}

TEST_F(GluTest, SetUpFailures) {
  // No registry.
  RunResult r = Probe("1", {"init"});
  EXPECT_TRUE(Has(r, "LXR: gl_init_glu_dll: cannot open dllregistry"));
  EXPECT_TRUE(Has(r, "init rc=-1 error=8 bound=0")) << r.out;

  Install({{"glu.so", FAKE_GLU_LIB}});
  // The ICU data refused with a status of its own.
  r = Probe("1", {"init"}, "1", {{"FAKE_GLU_DATA_STATUS", "21"}});
  EXPECT_TRUE(Has(r, "LXR: gl_init_glu: End icudata not loaded\ninit rc=-1 error=21")) << r.out;
  r = Probe("1", {"init"}, "1", {{"FAKE_GLU_MAP_STATUS", "3"}});
  EXPECT_TRUE(Has(r, "LXR: gl_init_glu: End pMap not loaded\ninit rc=-1 error=3")) << r.out;

  // The locale map missing; then, in a new process, the data file too.
  unlink(dir_.Path("lxr/etc/locmap").c_str());
  r = Probe("1", {"init"});
  EXPECT_TRUE(Has(r,
                  "LXR: gl_init_glu: End pMap not loaded locmap file not found\n"
                  "init rc=-1 error=8 bound=1 inuse=1 map=0"))
      << r.out;
  unlink(dir_.Path("lxr/etc/icudt.dat").c_str());
  r = Probe("1", {"init", "unload"});
  EXPECT_TRUE(Has(r,
                  "LXR: gl_init_glu: End icudata not loaded, icudata file not found\n"
                  "init rc=-1 error=8"))
      << r.out;
  // What a failed initialisation left loaded is released.
  EXPECT_TRUE(Has(r, "unload rc=0 error=0 bound=0 inuse=0 map=0 global=0\nmapped=\n")) << r.out;

  // No installation directory.
  RunOptions opt;
  opt.env = {{"GL_USEGLU", "1"}};
  RunResult bare = RunProgram(GLU_PROBE, {"1", "init"}, opt);
  EXPECT_NE(std::string::npos, bare.out.find("init rc=-1 error=8")) << bare.out;
}

TEST_F(GluTest, ServerInitialisationReadsTheLocaleWithRuntimeFiles) {
  Install({{"glu.so", FAKE_GLU_LIB}});
  RunResult r = Probe("1", {"zuinit"});
  EXPECT_TRUE(Has(r,
                  "fake: lc_open en_us.utf8 in map\nfake: fgetc callback null\n"
                  "fake: ismctype a 32\nfake: lc_close en_us.utf8\n"))
      << r.out;
  EXPECT_TRUE(Has(r, "hooks=restored\nzuinit rc=0 error=0 bound=1 inuse=1 map=1")) << r.out;
  // The callbacks are put back on a failure too.
  r = Probe("1", {"zuinit"}, "1", {{"FAKE_GLU_MAP_STATUS", "3"}});
  EXPECT_TRUE(Has(r, "hooks=restored\nzuinit rc=-1 error=3")) << r.out;
}

TEST(GluState, BeforeInitialisation) {
  EXPECT_EQ(nullptr, lxr_assign_global_struct());
  EXPECT_EQ(nullptr, glx_gluMap());
  EXPECT_EQ(nullptr, glx_icuErrorName(1));
  EXPECT_EQ(nullptr, glx_getICULocName(nullptr));
  GluStatus st = 0;
  EXPECT_EQ(nullptr, glx_lc_open(nullptr, "en_us.utf8", &st));
  EXPECT_GT(st, 0);
  EXPECT_EQ(0, _gl_glu_in_use());
  EXPECT_EQ(0, gl_unload_glu());
}

TEST(GluState, ToggleSuspendsAndResumes) {
  GlLocale *loc = nullptr;
  ASSERT_EQ(0, gl_create_null_locale_4(&loc));
  int marker = 0;
  loc->icu_in_use[0] = 1;  // LC_CTYPE
  loc->icu_in_use[1] = 1;  // LC_COLLATE
  loc->icu_locale[1] = &marker;
  EXPECT_EQ(&marker, glx_gluLoc(loc, GL_COLLATE));
  EXPECT_EQ(nullptr, glx_gluLoc(loc, GL_TIME));
  EXPECT_EQ(nullptr, glx_gluLoc(loc, 8));

  EXPECT_EQ(-1, gl_toggle_glu(loc, 0));  // not suspended
  EXPECT_EQ(0, gl_toggle_glu(loc, 1));
  EXPECT_EQ(0, loc->icu_in_use[0]);
  EXPECT_EQ(0, loc->icu_in_use[1]);
  EXPECT_EQ(nullptr, glx_gluLoc(loc, GL_COLLATE));  // not served while suspended
  EXPECT_EQ(-1, gl_toggle_glu(loc, 1));
  EXPECT_EQ(0, gl_toggle_glu(loc, 0));
  EXPECT_EQ(1, loc->icu_in_use[0]);
  EXPECT_EQ(1, loc->icu_in_use[1]);
  EXPECT_EQ(0, loc->icu_saved[0]);
  EXPECT_EQ(-1, gl_toggle_glu(loc, 0));
  EXPECT_EQ(-1, gl_toggle_glu(loc, 2));
  EXPECT_EQ(-1, gl_toggle_glu(nullptr, 1));

  loc->icu_locale[1] = nullptr;  // not a handle the library may close
  memset(loc->icu_in_use, 0, sizeof loc->icu_in_use);
  gl_lc_unload(loc);
}

}  // namespace
