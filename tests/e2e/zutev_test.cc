// The built zutev driven end to end: start-up order, refusals, exit codes,
// the activity log and what each command leaves in the catalog.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/zutev_tree.h"

namespace {

using zutevtest::Msg;
using zutevtest::Tree;

constexpr char kSecurityText[] =
    "ERROR: Could not initialize the security subsystem. Please ensure that this account has the "
    "necessary privileges and ensure ZIVEVODAREVEZO value exists in the registry and "
    "environment.\n\n";

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string Ended(int result) { return Msg(88053, "zutev", result); }

// ---- start-up ----------------------------------------------------------

TEST(ZutevStartup, NoArgumentPrintsUsageWithoutAccountCheck) {
  Tree t;
  auto r = t.Run({});
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_TRUE(Has(r.err, Msg(87000, zutevtest::Zutev().c_str()))) << r.err;

  t.env().erase("ZIVEVODAREVEZO");
  r = t.Run({});
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_TRUE(Has(r.err, Msg(87000, zutevtest::Zutev().c_str()))) << r.err;
  EXPECT_EQ(t.ActLog(), "");
}

TEST(ZutevStartup, MissingServerNameGivesTheSecurityText) {
  Tree t;
  t.env().erase("ZIVEVODAREVEZO");
  auto r = t.Run({"-V"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, kSecurityText);
  EXPECT_EQ(r.out, "");
}

// Runs zutev as nobody (uid and gid 65534, no groups).
tevtest::RunResult RunAsNobody(Tree& t, const std::vector<std::string>& args) {
  std::vector<std::string> all = {"--reuid=65534", "--regid=65534", "--clear-groups",
                                  zutevtest::Zutev()};
  all.insert(all.end(), args.begin(), args.end());
  tevtest::RunOptions options;
  options.env = t.env();
  options.cwd = "/";
  return tevtest::RunProgram("/usr/bin/setpriv", all, options);
}

TEST(ZutevStartup, AccountWithoutRightsIsRefusedWithoutLog) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to change to another account";
  Tree t;
  ASSERT_EQ(chmod(t.dir().path().c_str(), 0755), 0);
  ASSERT_EQ(chmod(t.dir().Path("registry").c_str(), 0777), 0);
  auto r = RunAsNobody(t, {"-S", "DUMP", "lock"});
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(r.err, Msg(88300) + "\n");
  EXPECT_FALSE(t.dir().Exists("act.log"));
  EXPECT_EQ(t.CatalogFiles(), 0);

  r = RunAsNobody(t, {});
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_TRUE(Has(r.err, Msg(87000, zutevtest::Zutev().c_str()))) << r.err;
}

TEST(ZutevStartup, VersionOptions) {
  Tree t;
  auto r = t.Run({"-V"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;

  r = t.Run({"-version"});
  EXPECT_EQ(r.exit_code, 0);
  const char* labels[] = {"Program Name:\tzutev\n", "Build Version:\t", "Build Number:\t",
                          "Build Host:\t", "Build OS:\t", "Build Date:\t", "LXR Version:\t"};
  for (const char* label : labels) EXPECT_TRUE(Has(r.out, label)) << label;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 7) << r.out;
  // Neither reads the configuration nor writes a log.
  EXPECT_FALSE(t.dir().Exists("act.log"));

  // Any other use of the words is ordinary parsing: letter v.
  r = t.Run({"-version", "x"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(Has(r.err, Msg(87000, zutevtest::Zutev().c_str())));
  EXPECT_TRUE(Has(r.err, Msg(88305, "-version"))) << r.err;
  EXPECT_TRUE(Has(t.ActLog(), Ended(0)));
}

TEST(ZutevStartup, NoInstallationDirectory) {
  Tree t;
  t.env().erase("TARVELONDIR");
  auto r = t.Run({"-S", "DUMP", "lock"});
  EXPECT_EQ(r.exit_code, 1);
  // No message file can be found: the lookup's fallback text.
  EXPECT_TRUE(Has(r.err, "Message 88130 not found.")) << r.err;
  EXPECT_EQ(t.CatalogFiles(), 0);
}

TEST(ZutevStartup, FirstArgumentWithoutDashOpensNoSession) {
  Tree t;
  auto r = t.Run({"C"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(Has(r.err, Msg(87000, zutevtest::Zutev().c_str())));
  EXPECT_TRUE(Has(r.err, Msg(88305, "C")));
  EXPECT_EQ(t.CatalogFiles(), 0);
  EXPECT_TRUE(Has(t.ActLog(), Ended(0)));
}

TEST(ZutevStartup, UnknownLetterOpensASessionFirst) {
  Tree t;
  auto r = t.Run({"-X"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(Has(r.err, Msg(88305, "-X"))) << r.err;
  EXPECT_EQ(t.CatalogFiles(), 18);  // nine table pairs
}

TEST(ZutevStartup, DumpLockCreatesTheCatalogAndLogs) {
  Tree t;
  auto r = t.Run({"-S", "DUMP", "lock"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
  EXPECT_EQ(t.CatalogFiles(), 18);
  std::string log = t.ActLog();
  // The log keeps no trailing blanks.
  EXPECT_TRUE(Has(log, zutevtest::Zutev() + " -S DUMP lock\n")) << log;
  EXPECT_TRUE(Has(log, Ended(0))) << log;
  // Catalog files are closed to others (they hold cloud keys).
  for (const char* file : {"etc/tev/lock.dat", "etc/tev/device.dat", "etc/tev/pool.idx"}) {
    struct stat st {};
    ASSERT_EQ(stat(t.dir().Path(file).c_str(), &st), 0) << file;
    EXPECT_EQ(st.st_mode & 07, 0u) << file;
  }
}

TEST(ZutevStartup, SessionOpenFailureEndsWithTheOpensCodeLowByte) {
  Tree t;
  ASSERT_EQ(t.Run({"-S", "DUMP", "lock"}).exit_code, 0);
  ASSERT_EQ(unlink(t.dir().Path("etc/tev/pool.idx").c_str()), 0);
  ASSERT_EQ(unlink(t.dir().Path("etc/tev/pool.dat").c_str()), 0);
  auto r = t.Run({"-S", "DUMP", "lock"});
  EXPECT_EQ(r.exit_code, 88115 & 0xFF);
  EXPECT_TRUE(Has(r.err, Msg(88190))) << r.err;
  std::string log = t.ActLog();
  EXPECT_EQ(log.find(Ended(0)), log.rfind(Ended(0))) << "only the first run ended";
  EXPECT_FALSE(Has(log, "ended with result 88115"));
}

// ---- the joined command line --------------------------------------------

TEST(ZutevCommandLine, LoggedAsPlainTextAndCut) {
  Tree t;
  ASSERT_EQ(t.Run({"-S", "DUMP", "nosuch", "%s%n%d"}).exit_code, 0);
  EXPECT_TRUE(Has(t.ActLog(), " -S DUMP nosuch %s%n%d\n")) << t.ActLog();

  Tree t2;
  std::string big(1024, 'b');
  ASSERT_EQ(t2.Run({"-S", "DUMP", "nosuch", big, "after"}).exit_code, 0);
  std::string log = t2.ActLog();
  EXPECT_TRUE(Has(log, " -S DUMP nosuch\n")) << log;
  EXPECT_FALSE(Has(log, "after"));

  Tree t3;
  std::vector<std::string> args = {"-S", "DUMP", "nosuch"};
  for (char c = 'a'; c < 'f'; ++c) args.push_back(std::string(1000, c));
  auto r = t3.Run(args);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  log = t3.ActLog();
  EXPECT_TRUE(Has(log, std::string(1000, 'a') + " "));
  EXPECT_FALSE(Has(log, std::string(1000, 'c')));  // cut at 2,047 characters
  size_t line = log.find(" -S DUMP nosuch ");
  ASSERT_NE(line, std::string::npos);
  size_t start = log.rfind(zutevtest::Zutev(), line);
  size_t end = log.find('\n', line);
  // The first 2,047 characters of the joined line; the log drops a blank
  // that the cut leaves at the end (where it falls depends on the length
  // of the program's path).
  std::string joined = zutevtest::Zutev();
  for (const std::string& arg : args) joined += " " + arg;
  std::string expected = joined.substr(0, 2047);
  while (!expected.empty() && expected.back() == ' ') expected.pop_back();
  EXPECT_EQ(log.substr(start, end - start), expected);
}

// ---- catalog letter -----------------------------------------------------

TEST(ZutevCatalog, InitOnAMissingCatalogDoesNothing) {
  Tree t;
  auto r = t.Run({"-C", "INIT"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(t.CatalogFiles(), 0);
  EXPECT_FALSE(Has(t.ActLog(), "ended with result"));
}

TEST(ZutevCatalog, InitErasesTheTables) {
  Tree t;
  ASSERT_EQ(t.Run({"-S", "DUMP", "lock"}).exit_code, 0);
  ASSERT_EQ(t.CatalogFiles(), 18);
  auto r = t.Run({"-C", "INIT", "-y"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(t.CatalogFiles(), 0);
  EXPECT_TRUE(Has(t.ActLog(), Msg(87154)));
}

struct Refusal {
  std::vector<std::string> args;
  int exit_code;
  std::string message;  // expected on standard error
  std::string usage;    // usage text expected too, or empty for none
  std::string not_usage;  // a usage text that must not appear
};

std::vector<Refusal> Refusals() {
  const std::string pool25(25, 'p');
  return {
      {{"-C"}, 0, Msg(88303, "-C"), Msg(87002, "zutev"), ""},
      {{"-C", "foo"}, 255, Msg(88301, "FOO"), Msg(87002, "zutev"), ""},
      {{"-C", "MOVE"}, 255, Msg(88301, "MOVE"), Msg(87002, "zutev"), ""},
      {{"-Cxyz", "CHECK", "-d"}, 255, Msg(88305, "-d"), Msg(87002, "zutev"), ""},
      {{"-C", "INIT", "-l"}, 255, Msg(88305, "-l"), Msg(87002, "zutev"), ""},
      {{"-C", "IMPORT", "-y"}, 3, Msg(87404), "", ""},
      {{"-O"}, 0, Msg(88303, "-O"), Msg(87004, "zutev"), ""},
      {{"-O", "DUMP"}, 255, Msg(88303, "del"), Msg(87004, "zutev"), ""},
      {{"-O", "DETAIL"}, 255, Msg(88303, "del"), Msg(87004, "zutev"), ""},
      {{"-O", "DUMP", "-y"}, 255, Msg(88303, "del"), Msg(87004, "zutev"), ""},
      {{"-O", "DETAIL", "-y"}, 255, Msg(88303, "del"), Msg(87004, "zutev"), ""},
      {{"-O", "DEL", "-o", "12", "-o"}, 0, Msg(88303, "-o"), Msg(87004, "zutev"), ""},
      {{"-O", "LIST", "-y"}, 255, Msg(88305, "-y"), Msg(87004, "zutev"), ""},
      {{"-O", "LIST", "-x"}, 255, Msg(88305, "-x"), Msg(87004, "zutev"), ""},
      {{"-O", "copy"}, 255, Msg(88301, "COPY"), Msg(87004, "zutev"), ""},
      {{"-P", "ADD", pool25}, 255, Msg(88307, pool25.c_str(), 24), "", Msg(87005, "zutev")},
      {{"-P", "ADD", "name", "-y"}, 255, Msg(88305, "-y"), "", Msg(87005, "zutev")},
      {{"-P", "DEL", "name", "-z"}, 255, Msg(88305, "-z"), Msg(87005, "zutev"), ""},
      {{"-P", "add"}, 0, Msg(88303, "ADD"), Msg(87005, "zutev"), ""},
      {{"-S", "foo"}, 255, Msg(88301, "FOO"), "", Msg(87000, zutevtest::Zutev().c_str())},
      {{"-S", "DUMP"}, 0, Msg(88303, "DUMP"), "", ""},
      {{"-S"}, 0, Msg(88303, "-S"), "", ""},
      {{"-Q"}, 0, Msg(88303, "-Q"), "", ""},
      {{"-D"}, 0, Msg(88303, "-D"), Msg(87003, "zutev"), ""},
      {{"-H"}, 0, Msg(87000, zutevtest::Zutev().c_str()), "", ""},
      {{"-h", "anything"}, 0, Msg(87000, zutevtest::Zutev().c_str()), "", ""},
  };
}

TEST(ZutevRefusal, EveryRowGivesItsMessageAndExitCode) {
  // One tree for the table: a catalog exists, as IMPORT needs it to.
  Tree t;
  ASSERT_EQ(t.Run({"-S", "DUMP", "lock"}).exit_code, 0);
  for (const Refusal& c : Refusals()) {
    std::string line = zutevtest::Zutev();
    for (const auto& a : c.args) line += " " + a;
    line += "\n";
    SCOPED_TRACE(line);
    auto r = t.Run(c.args);
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    EXPECT_TRUE(Has(r.err, c.message)) << r.err;
    if (!c.usage.empty()) {
      EXPECT_TRUE(Has(r.err, c.usage)) << r.err;
    }
    if (!c.not_usage.empty()) {
      EXPECT_FALSE(Has(r.err, c.not_usage)) << r.err;
    }
    int result = c.exit_code == 255 ? -1 : c.exit_code;
    std::string log = t.ActLog();
    EXPECT_TRUE(Has(log.substr(log.rfind(line)), Ended(result)));
  }
  EXPECT_EQ(t.CatalogFiles(), 18);
}

TEST(ZutevRefusal, SessionLetterWithoutCatalogCreatesIt) {
  Tree t;
  auto r = t.Run({"-O"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(Has(r.err, Msg(88303, "-O")));
  EXPECT_EQ(t.CatalogFiles(), 18);
}

// ---- table dump and test aids -------------------------------------------

TEST(ZutevTableDump, UnknownTablePrintsNothingAndNamesAreLowerCased) {
  Tree t;
  auto r = t.Run({"-S", "DUMP", "nosuch"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "");
  auto upper = t.Run({"-S", "dump", "LOCK"});
  auto lower = t.Run({"-S", "DUMP", "lock"});
  EXPECT_EQ(upper.exit_code, 0);
  EXPECT_NE(upper.out, "");
  EXPECT_EQ(upper.out, lower.out);
}

TEST(ZutevObjects, ListOnAnEmptyCatalogPrintsTheHeadingOnly) {
  Tree t;
  auto r = t.Run({"-O", "LIST"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, Msg(87012, Msg(87013).c_str()));
  EXPECT_FALSE(Has(r.out, Msg(87010)));
}

std::string FirstField(const std::string& line) { return line.substr(0, line.find('\t')); }

// Every run but -C opens a session, and each session takes the next id.
TEST(ZutevTableDump, EachRunTakesTheNextSessionId) {
  Tree t;
  auto session_id = [](const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
      fields.push_back(line.substr(start, tab - start));
    return fields.size() > 2 ? std::stol(fields[2]) : -1L;
  };
  auto first = t.Run({"-S", "DUMP", "serial"});
  ASSERT_EQ(first.exit_code, 0) << first.err;
  auto second = t.Run({"-S", "DUMP", "serial"});
  ASSERT_EQ(second.exit_code, 0) << second.err;
  ASSERT_GT(session_id(first.out), 0) << first.out;
  EXPECT_EQ(session_id(second.out), session_id(first.out) + 1) << first.out << second.out;
}

TEST(ZutevTestAids, SetCurrentCopyId) {
  Tree t;
  auto r = t.Run({"-Q", "set_current_copyid", "5000"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "set_current_copyid.\nUsing 5000 as the number.\n");
  EXPECT_EQ(FirstField(t.Run({"-S", "DUMP", "serial"}).out), "5000");

  r = t.Run({"-Q", "set_current_copyid"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "set_current_copyid.\n");
  EXPECT_TRUE(Has(r.err, Msg(88303, "-Q")));

  r = t.Run({"-Q", "other", "1"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "other.\n");
}

TEST(ZutevTestAids, LockCatalogOutlivesTheProcess) {
  Tree t;
  auto r = t.Run({"-Q", "lock_catalog"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "lock_catalog.\n");
  t.env()["TEV_LOCK_TIMEOUT"] = "2";
  r = t.Run({"-S", "DUMP", "lock"});
  EXPECT_NE(r.exit_code, 0);
  EXPECT_TRUE(Has(r.err, Msg(88190))) << r.err;
}

// ---- confirmations ------------------------------------------------------

TEST(ZutevConfirm, NoEndsWithNothingChanged) {
  Tree t;
  ASSERT_EQ(t.Run({"-S", "DUMP", "lock"}).exit_code, 0);
  const std::string lock = t.Run({"-S", "DUMP", "lock"}).out;
  struct Case {
    std::vector<std::string> args;
    int question;
  };
  const Case cases[] = {
      {{"-C", "INIT"}, 87309},
      {{"-C", "INIT", "-d"}, 87310},
      {{"-C", "IMPORT"}, 87311},
      {{"-O", "DEL", "-o", "1"}, 87304},
      {{"-P", "DEL", "somepool"}, 87308},
  };
  for (const Case& c : cases) {
    for (const char* answer : {"n\n", "N", "", "nyes\n", " y\n"}) {
      SCOPED_TRACE(c.args[0] + " " + c.args[1] + " answer '" + answer + "'");
      auto r = t.Run(c.args, answer);
      EXPECT_EQ(r.exit_code, 0) << r.err;
      EXPECT_EQ(r.err, Msg(c.question));
      EXPECT_EQ(t.CatalogFiles(), 18);
    }
  }
  EXPECT_EQ(t.Run({"-S", "DUMP", "lock"}).out, lock);
}

// A catalog command that creates the catalog and then ends early (a "no",
// a refused option) leaves it unlocked for the next command.
TEST(ZutevCatalog, EarlyEndAfterCreatingReleasesTheCatalog) {
  const std::vector<std::vector<std::string>> early = {
      {"-C", "IMPORT"}, {"-C", "EXPORT", "-x"}, {"-C", "CHECK", "-y"}, {"-C", "IMPORT", "-d"}};
  for (const auto& args : early) {
    SCOPED_TRACE(args[1] + " " + (args.size() > 2 ? args[2] : ""));
    Tree t;
    t.env()["TEV_LOCK_TIMEOUT"] = "2";
    auto r = t.Run(args, "n\n");
    EXPECT_EQ(t.CatalogFiles(), 18);
    EXPECT_FALSE(Has(r.err, Msg(88189))) << r.err;
    r = t.Run({"-S", "DUMP", "lock"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
  }
}

TEST(ZutevConfirm, YesReachesTheCommand) {
  Tree t;
  ASSERT_EQ(t.Run({"-S", "DUMP", "lock"}).exit_code, 0);
  for (const char* answer : {"y\n", "Yes please\n"}) {
    ASSERT_EQ(t.CatalogFiles(), 18);
    auto r = t.Run({"-C", "INIT"}, answer);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(t.CatalogFiles(), 0) << answer;
    ASSERT_EQ(t.Run({"-S", "DUMP", "lock"}).exit_code, 0);
  }
}

// ---- -version all ---------------------------------------------------------

TEST(ZutevVersionAll, ReportsTheBackupServicesLibrary) {
  struct Case {
    std::string library;
    std::string expected_err;
    int markers;
  };
  const std::string with = TEV_REPORT_LIB, without = TEV_NO_REPORT_LIB;
  const std::string missing = "/nonexistent/libnothing.so";
  const Case cases[] = {
      {"", Msg(88150), 0},
      {with, "", 1},
      {missing, Msg(88151, missing.c_str()), 0},
      {without, Msg(88152, without.c_str()), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.library);
    Tree t;
    if (!c.library.empty()) t.dir().WriteFile("etc/tevconfig", "BAR_BSALIB_PATH " + c.library + "\n");
    auto r = t.Run({"-version", "all"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "Program Name:\tzutev\n"));
    size_t markers = 0;
    for (size_t p = r.out.find(TEV_REPORT_MARKER); p != std::string::npos;
         p = r.out.find(TEV_REPORT_MARKER, p + 1)) {
      ++markers;
    }
    EXPECT_EQ(markers, static_cast<size_t>(c.markers)) << r.out;
    EXPECT_TRUE(Has(r.err, Msg(87150)));
    if (!c.expected_err.empty()) {
      EXPECT_TRUE(Has(r.err, c.expected_err)) << r.err;
    }
  }
}

}  // namespace
