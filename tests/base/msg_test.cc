// Message files and message lookup, driven against the build's installed
// message files and small files compiled with msgc into temporary
// installations.
//
// The reader settles the installation directory and the language once per
// thread, so every scenario with its own environment runs on a fresh thread.
#include "base/msgfile.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/thread_state.h"
#include "tests/support/test_support.h"

namespace {

using tevtest::TempInstall;

// Sets variables of the process environment (nullopt: unset) and restores
// them on destruction. Only used while no other thread runs.
class ScopedEnv {
 public:
  ScopedEnv(std::map<std::string, std::optional<std::string>> vars) {
    for (const char* name : {"TARVELONDIR", "DBLANG", "LANG", "CLIENT_LOCALE", "ZEL_FREE_FD",
                             "DBNLS"}) {
      if (const char* v = std::getenv(name)) saved_[name] = v;
      unsetenv(name);
    }
    for (const auto& [k, v] : vars)
      if (v) setenv(k.c_str(), v->c_str(), 1);
  }
  ~ScopedEnv() {
    for (const char* name : {"TARVELONDIR", "DBLANG", "LANG", "CLIENT_LOCALE", "ZEL_FREE_FD",
                             "DBNLS"})
      unsetenv(name);
    for (const auto& [k, v] : saved_) setenv(k.c_str(), v.c_str(), 1);
  }

 private:
  std::map<std::string, std::string> saved_;
};

template <class F>
void OnFreshThread(F f) {
  std::thread t(f);
  t.join();
}

// Compiles a message source into rel under the installation.
void Compile(const TempInstall& t, const std::string& rel, const std::string& source) {
  t.WriteFile("src.msgs", source);
  t.MakeDir(std::filesystem::path(rel).parent_path());
  tevtest::RunResult r = tevtest::RunProgram(tevtest::BuiltProgram("msgc"),
                                             {"-o", t.Path(rel), t.Path("src.msgs")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
}

std::string Get(int32_t number, int32_t size = 512, int32_t* rc = nullptr) {
  std::vector<char> buf(static_cast<size_t>(std::max(size, 1)), '\x7f');
  int32_t r = rgetmsg(number, buf.data(), size);
  if (rc != nullptr) *rc = r;
  return std::string(buf.data());
}

// The text of a number in one of the message sources of the tree.
std::string SourceText(const std::string& file, int32_t number) {
  std::ifstream in(tevtest::SourceDir() + "/data/msg/" + file);
  const std::string prefix = std::to_string(number) + " [";
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(prefix, 0) != 0) continue;
    return line.substr(line.find("] ") + 2) + "\n";
  }
  return "<none>";
}

const std::string kDefaultDir = "msg/en_us/0333/";

TEST(MessageFile, RangeTable) {
  const std::pair<int32_t, const char*> cases[] = {
      {87005, "tev.vqm"}, {88999, "tev.vqm"}, {-105, "isam.vqm"}, {105, "isam.vqm"},
      {0, "os.vqm"},      {2, "os.vqm"},      {250, "sql.vqm"},   {-406, "sql.vqm"},
      {-1232, "sql.vqm"}, {-23101, "sql.vqm"}, {32765, "os.vqm"}, {50000, "os.vqm"},
      {INT_MIN, "os.vqm"}, {INT_MAX, "os.vqm"}};
  for (const auto& [number, file] : cases) EXPECT_STREQ(rmsgfilename(number), file) << number;
}

TEST(MessageFile, InstalledFilesOfTheBuildTree) {
  ScopedEnv env({{"TARVELONDIR", tevtest::BuildTree()}});
  OnFreshThread([] {
    EXPECT_EQ(Get(88300), SourceText("tev.msgs", 88300));
    EXPECT_EQ(Get(-105), SourceText("isam.msgs", -105));
    EXPECT_EQ(Get(2), std::string(std::strerror(2)) + "\n");
    // Back and forth between files, and the same file again.
    EXPECT_EQ(Get(88300), SourceText("tev.msgs", 88300));
    EXPECT_EQ(Get(87023), SourceText("tev.msgs", 87023));
    EXPECT_STREQ(rmsgpathname("tev.vqm"),
                 (tevtest::BuildTree() + "/" + kDefaultDir + "tev.vqm").c_str());

    int32_t len = 0;
    char small[10];
    EXPECT_EQ(rgetlmsg(88300, small, sizeof small, &len), MSG_ECUT);
    EXPECT_EQ(std::string(small), SourceText("tev.msgs", 88300).substr(0, 9));
    EXPECT_EQ(len, static_cast<int32_t>(SourceText("tev.msgs", 88300).size()));

    // rldmsg and smGetMsg drop the line feed; the cache keeps it.
    EXPECT_STREQ(rldmsg_num(88300), "This command must be run by an administrator.");
    errno = EXDEV;
    EXPECT_STREQ(smGetMsg(88300), "This command must be run by an administrator.");
    EXPECT_STREQ(smGetMsg(88998), "Message 88998 not found.\n");
    EXPECT_EQ(errno, EXDEV);
    EXPECT_EQ(std::string(rmsgcached(88300)), SourceText("tev.msgs", 88300));
  });
}

// A file of 13 entries whose texts are all empty ends right after its
// index, so any page read past the last entry comes back short.
TEST(MessageFile, EveryEntryOfAThirteenEntryFile) {
  TempInstall t;
  std::string src = "@form long\n";
  std::vector<int32_t> numbers;
  for (int i = 0; i < 13; i++) numbers.push_back(87000 + 7 * i);
  for (int32_t n : numbers) src += std::to_string(n) + " [] \\c\n";
  Compile(t, kDefaultDir + "tev.vqm", src);
  ASSERT_EQ(std::filesystem::file_size(t.Path(kDefaultDir + "tev.vqm")), 4u + 13 * 10);
  ScopedEnv env({{"TARVELONDIR", t.path()}});
  OnFreshThread([&] {
    int32_t rc = 1;
    EXPECT_EQ(Get(numbers.back(), 64, &rc), "");
    EXPECT_EQ(rc, 0);
    for (int32_t n : {numbers[0], numbers[12], numbers[6], numbers[8], numbers[11], numbers[1]}) {
      char* text = rldmsg_num(n);
      ASSERT_NE(text, nullptr) << n;
      EXPECT_STREQ(text, "") << n;
    }
    EXPECT_EQ(rldmsg_num(87001), nullptr);  // between two entries
  });
}

TEST(MessageFile, ShortFormTailPageHoldsNoStaleEntries) {
  TempInstall t;
  std::string src = "@form short\n";
  for (int n = 1; n <= 10; n++) src += std::to_string(n) + " [] text " + std::to_string(n) + "\n";
  Compile(t, kDefaultDir + "os.vqm", src);
  ScopedEnv env({{"TARVELONDIR", t.path()}});
  OnFreshThread([] {
    EXPECT_EQ(Get(10), "text 10\n");  // leaves a page of 6 entries in memory
    int32_t rc = 0;
    EXPECT_EQ(Get(0, 512, &rc), "Unknown error message number '0'\n");
    EXPECT_EQ(rc, MSG_ENOTFOUND);
    EXPECT_EQ(Get(1), "text 1\n");
  });
}

TEST(MessageFile, LongTextGrowsTheBufferOfRldmsg) {
  TempInstall t;
  const std::string long_text(700, 'w');
  Compile(t, kDefaultDir + "tev.vqm", "87100 [] " + long_text + "\n");
  ScopedEnv env({{"TARVELONDIR", t.path()}});
  OnFreshThread([&] {
    int32_t rc = 0;
    EXPECT_EQ(Get(87100, 512, &rc), long_text.substr(0, 511));
    EXPECT_EQ(rc, MSG_ECUT);
    char* text = rldmsg_num(87100);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), long_text);
  });
}

struct FallbackCase {
  const char* name;
  const char* os_source;   // os.vqm; null: none
  const char* tev_source;  // tev.vqm; null: none
  int32_t number;
  int32_t rc;
  const char* text;
};

TEST(MessageFile, FallbackTexts) {
  const char* os_full =
      "32765 [s] Cannot open message file '%s'.\n32766 [d] Unknown message number '%d'.\n";
  const FallbackCase cases[] = {
      {"no tev file", os_full, nullptr, 88300, MSG_ENOOPEN, "Cannot open message file 'tev.vqm'.\n"},
      {"no file at all", nullptr, nullptr, 88300, MSG_ENOOPEN, "Cannot open file 'tev.vqm'\n"},
      {"32765 missing", "32766 [d] Unknown %d.\n", nullptr, 88300, MSG_ENOOPEN,
       "Cannot open file 'tev.vqm'\n"},
      {"32765 takes another argument", "32765 [d] Cannot open %d.\n", nullptr, 88300, MSG_ENOOPEN,
       "Cannot open file 'tev.vqm'\n"},
      {"number not in the file", os_full, "88000 [] x\n", 88999, MSG_ENOTFOUND,
       "Unknown message number '88999'.\n"},
      {"32766 missing", "32765 [s] open %s\n", "88000 [] x\n", 88999, MSG_ENOTFOUND,
       "Unknown error message number '88999'\n"},
      {"32766 takes two arguments", "32766 [d s] %d %s\n", "88000 [] x\n", 88999, MSG_ENOTFOUND,
       "Unknown error message number '88999'\n"},
      {"os.vqm itself missing", nullptr, nullptr, 32765, -1, ""},
  };
  for (const FallbackCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempInstall t;
    if (c.os_source) Compile(t, kDefaultDir + "os.vqm", std::string("@form short\n") + c.os_source);
    if (c.tev_source) Compile(t, kDefaultDir + "tev.vqm", std::string("@form long\n") + c.tev_source);
    ScopedEnv env({{"TARVELONDIR", t.path()}});
    OnFreshThread([&] {
      char buf[64] = "untouched";
      EXPECT_EQ(rgetmsg(c.number, buf, sizeof buf), c.rc);
      EXPECT_STREQ(buf, c.rc == -1 ? "untouched" : c.text);
      errno = EDOM;
      if (c.number != 32765) {
        EXPECT_EQ(smGetMsg(c.number), "Message " + std::to_string(c.number) + " not found.\n");
        EXPECT_EQ(errno, EDOM);
      }
    });
  }
}

// Writes bytes over part of a file.
void Patch(const std::string& path, long at, const std::string& bytes) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(at);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TEST(MessageFile, DamagedFiles) {
  TempInstall t;
  std::string src = "@form long\n";
  for (int i = 0; i < 13; i++) src += std::to_string(88000 + i) + " [] text\n";
  Compile(t, kDefaultDir + "tev.vqm", src);
  Compile(t, kDefaultDir + "os.vqm", "32766 [d] Unknown message number '%d'.\n");
  const std::string tev = t.Path(kDefaultDir + "tev.vqm");
  ScopedEnv env({{"TARVELONDIR", t.path()}});

  // The last text cut short: that text fails, the others are whole.
  std::filesystem::resize_file(tev, std::filesystem::file_size(tev) - 2);
  OnFreshThread([] {
    int32_t rc = 0;
    EXPECT_EQ(Get(88012, 512, &rc), "Unknown message number '88012'.\n");
    EXPECT_EQ(rc, MSG_ESHORT);
    EXPECT_EQ(Get(88000), "text\n");
  });

  // Cut inside the index: every search reads the page that holds the last
  // entry first, and it comes back short.
  std::filesystem::resize_file(tev, 4 + 12 * 10 + 3);
  OnFreshThread([] {
    int32_t len = 0, fd = 0;
    EXPECT_EQ(rmsgfind(88012, &len, nullptr, &fd), MSG_ESHORT);
    EXPECT_EQ(fd, -1);
    EXPECT_STREQ(rmsgcached(32766), "Unknown message number '%d'.\n");
    int32_t rc = 0;
    EXPECT_EQ(Get(88000, 512, &rc), "Unknown message number '88000'.\n");
    EXPECT_EQ(rc, MSG_ESHORT);
    // After the second attempt the failing file and the cache are forgotten
    // (os.vqm was opened since, for the fallback text).
    ThreadRuntimeRecord* rec = rthreadrec();
    EXPECT_STREQ(rec->msg_current_file, "os.vqm");
    EXPECT_EQ(rec->msg_cached_number, 0);
  });

  // A header shorter than four bytes, and a wrong magic.
  for (long size : {0L, 3L, 4L}) {
    std::filesystem::resize_file(tev, size);
    if (size == 4) Patch(tev, 0, std::string("\xFE\x70\x00\x01", 4));
    OnFreshThread([] {
      int32_t len = 0, fd = 0;
      EXPECT_EQ(rmsgfind(88000, &len, nullptr, &fd), MSG_EBADMAGIC);
      EXPECT_EQ(rthreadrec()->msg_fd, -1);
    });
  }
}

TEST(MessageFile, SecondAttemptWithTheDefaultLocale) {
  TempInstall t;
  Compile(t, kDefaultDir + "tev.vqm", "@form long\n88300 [] default text\n");
  Compile(t, kDefaultDir + "os.vqm", "32766 [d] Unknown message number '%d'.\n");
  for (const char* lang : {"xx", "en_US.8859-1"}) {
    t.WriteFile("msg/" + std::string(lang) + "/tev.vqm", "not a message file");
    ScopedEnv env({{"TARVELONDIR", t.path()}, {"DBLANG", lang}});
    OnFreshThread([&] {
      int32_t rc = 0;
      if (std::string(lang) == "xx") {
        EXPECT_EQ(Get(88300, 512, &rc), "default text\n");
        EXPECT_EQ(rc, 0);
      } else {  // no second attempt
        EXPECT_EQ(Get(88300, 512, &rc), "Unknown message number '88300'.\n");
        EXPECT_EQ(rc, MSG_EBADMAGIC);
      }
    });
  }
}

TEST(MessageFile, CandidateOrder) {
  TempInstall t;
  const std::vector<std::string> dirs = {
      "msg/fr_FR.8859-1", "fr_FR.8859-1",     "msg/fr_fr/0333", "msg/de_de/0333",
      "msg/de_DE.8859-1", "msg/en_us/0333",   "msg/en_US.8859-1", "msg",
      "msg/english"};
  for (const std::string& d : dirs) t.WriteFile(d + "/tev.vqm", "");
  ScopedEnv env({{"TARVELONDIR", t.path() + "/"},
                 {"DBLANG", "fr_FR.8859-1"},
                 {"CLIENT_LOCALE", "de_DE.8859-1"}});
  for (const std::string& d : dirs) {
    OnFreshThread(
        [&] { EXPECT_STREQ(rmsgpathname("tev.vqm"), t.Path(d + "/tev.vqm").c_str()); });
    std::filesystem::remove(t.Path(d + "/tev.vqm"));
  }
  OnFreshThread([&] {  // nothing exists: the last candidate tried
    const char* lang = nullptr;
    EXPECT_STREQ(rmsgpath("tev.vqm", nullptr, &lang), t.Path("msg/english/tev.vqm").c_str());
    EXPECT_STREQ(lang, "en_US.8859-1");
    EXPECT_EQ(Get(88300), "Cannot open file 'tev.vqm'\n");
  });
}

TEST(MessageFile, ExplicitLocaleSkipsTheLanguageValue) {
  TempInstall t;
  t.WriteFile("msg/fr_FR.8859-1/tev.vqm", "");
  t.WriteFile("msg/de_de/0333/tev.vqm", "");
  ScopedEnv env({{"TARVELONDIR", t.path()}, {"DBLANG", "fr_FR.8859-1"}});
  OnFreshThread([&] {
    const char* lang = nullptr;
    EXPECT_STREQ(rmsgpath("tev.vqm", "de_DE.8859-1", &lang),
                 t.Path("msg/de_de/0333/tev.vqm").c_str());
    EXPECT_STREQ(lang, "de_DE.8859-1");
    // Resolved afresh by the next search without one.
    EXPECT_STREQ(rmsgpathname("tev.vqm"), t.Path("msg/fr_FR.8859-1/tev.vqm").c_str());
  });
}

TEST(MessageFile, NoRoomForThePath) {
  ScopedEnv env({{"TARVELONDIR", "/" + std::string(225, 'd')}});
  OnFreshThread([] {
    EXPECT_EQ(rmsgpathname("tev.vqm"), nullptr);  // 253 - 226 - 7 = 20
    int32_t rc = 0;
    EXPECT_EQ(Get(88300, 512, &rc), "Unknown error message number '88300'\n");
    EXPECT_EQ(rc, MSG_ENOPATH);
  });
  ScopedEnv shorter({{"TARVELONDIR", "/" + std::string(224, 'd')}});
  OnFreshThread([] { EXPECT_NE(rmsgpathname("tev.vqm"), nullptr); });
}

// A ".." component in DBLANG (or CLIENT_LOCALE) would lead the search out
// of the message directory; two dots inside a name are an ordinary name.
TEST(MessageFile, DotDotLanguageValuesAreRefused) {
  struct Case {
    const char* var;
    const char* value;
    const char* lang_dir;  // where the value leads when it is used
    const char* expected;
  };
  const Case cases[] = {
      {"DBLANG", "..", "", "default\n"},
      {"DBLANG", "../x", "x", "default\n"},
      {"DBLANG", "a/../b", "msg/b", "default\n"},
      {"DBLANG", "a..b", "msg/a..b", "lang\n"},
      {"CLIENT_LOCALE", "../x", "x", "default\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.var) + "=" + c.value);
    TempInstall t;
    Compile(t, kDefaultDir + "tev.vqm", "@form long\n88300 [] default\n");
    Compile(t, std::string(c.lang_dir) + (*c.lang_dir ? "/" : "") + "tev.vqm",
            "@form long\n88300 [] lang\n");
    t.MakeDir("msg/a");
    ScopedEnv env({{"TARVELONDIR", t.path()}, {c.var, c.value}});
    OnFreshThread([&] { EXPECT_EQ(Get(88300), c.expected); });
  }
}

std::vector<std::string> OpenFilesNamed(const std::string& suffix) {
  std::vector<std::string> out;
  DIR* d = opendir("/proc/self/fd");
  while (dirent* e = readdir(d)) {
    char target[4096];
    std::string link = std::string("/proc/self/fd/") + e->d_name;
    ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = '\0';
    if (std::string(target).ends_with(suffix)) out.push_back(target);
  }
  closedir(d);
  return out;
}

TEST(MessageFile, FreeFdClosesTheFileBetweenLookups) {
  TempInstall t;
  Compile(t, kDefaultDir + "tev.vqm", "@form long\n88300 [] a\n88301 [] b\n");
  for (bool free_fd : {false, true}) {
    SCOPED_TRACE(free_fd);
    ScopedEnv env({{"TARVELONDIR", t.path()}, {"ZEL_FREE_FD", free_fd ? std::optional<std::string>("1")
                                                                      : std::nullopt}});
    OnFreshThread([&] {
      for (int32_t n : {88300, 88301, 88300}) {
        EXPECT_EQ(Get(n), n == 88300 ? "a\n" : "b\n");
        EXPECT_EQ(OpenFilesNamed("/tev.vqm").size(), free_fd ? 0u : 1u);
        EXPECT_EQ(rthreadrec()->msg_fd < 0, free_fd);
      }
    });
    // A thread that ends leaves no message file open behind it.
    EXPECT_EQ(OpenFilesNamed("/tev.vqm").size(), 0u);
  }
}

TEST(MessageFormat, LxBecomesP) {
  const std::pair<const char*, const char*> cases[] = {
      {"at %lx.", "at %p."},
      {"%-lx|", "%-p|"},
      {"%%lx", "%%p"},
      {"%lx %s %-lx %d", "%p %s %-p %d"},
      {"%5lx %08lx %-5lx %ld %llx", "%5lx %08lx %-5lx %ld %llx"},
      {"no conversions", "no conversions"},
      {"100%", "100%"},
      {"%l", "%l"},
      {"", ""},
  };
  for (const auto& [in, out] : cases) {
    std::string buf = in;
    int32_t status = 7;
    EXPECT_EQ(rldmsg_fmtspecxtf(buf.data(), &status), buf.data()) << in;
    EXPECT_STREQ(buf.c_str(), out) << in;
  }
  EXPECT_STREQ(rldmsg_fmtspecxtf(nullptr, nullptr),
               "Error in rldmsg_fmtspecxtf() contact tech support\n");
}

// A call site whose text fell back fetches again at its next use; once
// found, the text is kept.
TEST(MessageSite, FallbackIsFetchedAgain) {
  TempInstall t;
  ScopedEnv env({{"TARVELONDIR", t.path()}});
  OnFreshThread([&] {
    std::vector<std::string> seen;
    std::vector<const char*> pointers;
    for (int i = 0; i < 3; i++) {
      const char* text = SM_MSG(88301);
      seen.push_back(text);
      pointers.push_back(text);
      if (i == 0) Compile(t, kDefaultDir + "tev.vqm", "@form long\n88301 [p] at %lx\n");
    }
    EXPECT_EQ(seen[0], "Message 88301 not found.\n");
    EXPECT_TRUE(smMsgIsFallback(pointers[0]));
    EXPECT_EQ(seen[1], "at %p");
    EXPECT_EQ(pointers[2], pointers[1]);
  });
}

const char* SiteOf88300() { return SM_MSG(88300); }

// Many threads make their first lookups at once: every thread gets its own
// fallback texts intact and the kept site text is one valid copy. Run under
// the sanitizers of the test build.
TEST(MessageSite, ConcurrentFirstUse) {
  ScopedEnv env({{"TARVELONDIR", tevtest::BuildTree()}});
  constexpr int kThreads = 16;
  std::atomic<int> go{0};
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  std::vector<const char*> kept(kThreads);
  for (int i = 0; i < kThreads; i++) {
    threads.emplace_back([&, i] {
      while (go.load() == 0) {
      }
      for (int round = 0; round < 20; round++) {
        const char* text = SiteOf88300();
        if (std::strcmp(text, "This command must be run by an administrator.") != 0) bad++;
        if (round > 0 && text != kept[i]) bad++;
        kept[i] = text;
        const int32_t missing = 88990 + i % 8;
        const std::string want = "Message " + std::to_string(missing) + " not found.\n";
        if (smGetMsg(missing) != want) bad++;
      }
    });
  }
  go = 1;
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(bad.load(), 0);
  for (const char* p : kept) EXPECT_EQ(p, SiteOf88300());
}

}  // namespace
