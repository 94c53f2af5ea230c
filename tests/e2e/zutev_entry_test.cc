// The entry routine's paths that no run of the program can reach, and the
// exit status of a result.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "storage/command/zutev.h"

namespace {

TEST(ZutevEntry, MissingConfigurationRecordGivesThree) {
  char prog[] = "zutev", opt[] = "-S", word[] = "DUMP", table[] = "lock";
  char* argv[] = {prog, opt, word, table, nullptr};
  EXPECT_EQ(zutevRunLoaded(4, argv, nullptr), 3);
}

TEST(ZutevEntry, ExitStatusKeepsFailuresVisible) {
  struct Case {
    int result, status;
  } cases[] = {{0, 0}, {-1, 255}, {3, 3}, {88115, 51}, {256, 1}, {88064, 1}, {-256, 1}, {255, 255}};
  for (const Case& c : cases) EXPECT_EQ(zutevExitStatus(c.result), c.status) << c.result;
}

TEST(ZutevEntry, JoinedCommandLineNeverPassesItsBuffer) {
  std::string a(1000, 'a'), b(1000, 'b'), c(1000, 'c'), big(1024, 'x');
  char prog[] = "zutev";
  char* argv[] = {prog, a.data(), b.data(), c.data()};
  char out[2048];
  std::memset(out, '#', sizeof out);
  zutevJoinCommandLine(4, argv, out, sizeof out);
  EXPECT_EQ(std::strlen(out), 2047u);
  EXPECT_EQ(std::string(out, 6), "zutev ");

  char* stop[] = {prog, a.data(), big.data(), b.data()};
  zutevJoinCommandLine(4, stop, out, sizeof out);
  EXPECT_EQ(std::string(out), "zutev " + a + " ");

  char small[4];
  zutevJoinCommandLine(4, argv, small, sizeof small);
  EXPECT_EQ(std::string(small), "zut");
}

}  // namespace
