#include "base/os_accounts.h"
#include "storage/command/sm_util.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <sstream>
#include <string>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "storage/command/sm_fileio.h"
#include "tests/support/test_support.h"

namespace {

TEST(SmUtil, HashKnownValues) {
  EXPECT_EQ(sm_hash_string(""), 7877u);
  EXPECT_EQ(sm_hash_string("a"), 62378060u);
  // Bytes above 127 count as negative.
  EXPECT_EQ(sm_hash_string("\xff"), 7877u * 7919u - 1u);
}

// Python computes the same hash over random byte strings.
TEST(SmUtil, HashAgreesWithPython) {
  const uint32_t seed = 5150;
  std::printf("seed %u\n", seed);
  std::mt19937 rng(seed);
  std::ostringstream input;
  std::vector<uint64_t> ours;
  for (int i = 0; i < 500; ++i) {
    std::string s(rng() % 40, '\0');
    for (char& c : s) c = static_cast<char>(1 + rng() % 255);
    for (unsigned char c : s) input << std::hex << static_cast<int>(c) / 16 << static_cast<int>(c) % 16;
    input << "\n";
    ours.push_back(sm_hash_string(s.c_str()));
  }
  const char* script =
      "import sys\n"
      "for line in sys.stdin:\n"
      "    h = 7877\n"
      "    for b in bytes.fromhex(line.strip()):\n"
      "        h = (h * 7919 + (b - 256 if b > 127 else b)) % (1 << 64)\n"
      "    print(h)\n";
  tevtest::RunOptions opt;
  opt.stdin_data = input.str();
  tevtest::RunResult r = tevtest::RunProgram(tevtest::Python(), {"-c", script}, opt);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::istringstream out(r.out);
  int passed = 0, failed = 0;
  for (uint64_t h : ours) {
    uint64_t theirs = 0;
    out >> theirs;
    (theirs == h ? passed : failed)++;
  }
  std::printf("%d passed, %d failed\n", passed, failed);
  EXPECT_EQ(failed, 0);
}

TEST(SmUtil, TrimAndSkipBlanks) {
  struct Case {
    const char* in;
    int result;
    const char* out;
  } cases[] = {
      {"ab  ", 2, "ab"},          {"ab", 0, "ab"},    {"", 0, ""},
      {" \t\n\v\f\r", 0, ""},     {"x \t\r\n", 1, "x"}, {"a\xa0", 0, "a\xa0"},
  };
  for (const Case& c : cases) {
    std::string buf = c.in;
    EXPECT_EQ(sm_trim_trailing(buf.data()), c.result) << c.in;
    EXPECT_STREQ(buf.c_str(), c.out);
  }
  EXPECT_EQ(sm_trim_trailing(nullptr), 0);
  char text[] = " \t\v\f\r\nvalue ";
  EXPECT_STREQ(sm_skip_blanks(text), "value ");
  char high[] = "\xa0x";
  EXPECT_EQ(sm_skip_blanks(high), high);
  EXPECT_EQ(sm_skip_blanks(nullptr), nullptr);
}

TEST(SmUtil, TimeTexts) {
  struct tm t {};
  t.tm_year = 124;
  t.tm_mon = 1;
  t.tm_mday = 29;
  t.tm_hour = 7;
  t.tm_min = 5;
  t.tm_sec = 9;
  char buf[20];
  EXPECT_EQ(sm_format_time(&t, buf, sizeof buf), buf);
  EXPECT_STREQ(buf, "2024-02-29 07:05:09");
  EXPECT_EQ(sm_format_time(&t, buf, 19), nullptr);

  // Local time of a 64-bit time beyond 2038 (TZ pinned to UTC).
  const char* old_tz = std::getenv("TZ");
  std::string saved = old_tz ? old_tz : "";
  setenv("TZ", "UTC", 1);
  tzset();
  int64_t after2038 = int64_t{1} << 31;
  ASSERT_NE(sm_localtime(&after2038, &t), nullptr);
  EXPECT_STREQ(sm_format_time(&t, buf, sizeof buf), "2038-01-19 03:14:08");
  if (old_tz) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
  tzset();

  // The suffix needs 20 free bytes; with 19 the text is unchanged.
  char path[40] = "catalog.exp";
  size_t len = std::strlen(path);
  EXPECT_EQ(sm_timestamp_suffix(path, len + 19), -1);
  EXPECT_STREQ(path, "catalog.exp");
  EXPECT_EQ(sm_timestamp_suffix(path, len + 20), 0);
  // ".YYYYmmdd.HHMMSS" appended.
  std::string suffix = path + len;
  ASSERT_EQ(suffix.size(), 16u) << path;
  for (size_t i = 0; i < suffix.size(); ++i) {
    bool dot = i == 0 || i == 9;
    EXPECT_TRUE(dot ? suffix[i] == '.' : std::isdigit(static_cast<unsigned char>(suffix[i]))) << path;
  }
}

TEST(SmUtil, ZallocAndFree) {
  auto* p = static_cast<unsigned char*>(sm_zalloc(0));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[0], 0);
  void* v = p;
  sm_free(&v);
  EXPECT_EQ(v, nullptr);
  sm_free(&v);  // already null: nothing happens
}

TEST(SmFileIo, WholeBuffersThroughAPipe) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  std::string data(200000, 'x');  // larger than a pipe holds at once
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 31);
  pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    _exit(sm_write_all(fds[1], data.data(), data.size()) == static_cast<ssize_t>(data.size()) ? 0 : 1);
  }
  EXPECT_EQ(sm_close(fds[1]), 0);
  std::string got(data.size() + 10, '\0');
  EXPECT_EQ(sm_read_all(fds[0], got.data(), got.size()), static_cast<ssize_t>(data.size()));
  got.resize(data.size());
  EXPECT_EQ(got, data);
  EXPECT_EQ(sm_close(fds[0]), 0);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);

  // Errors: a bad descriptor, and a full device (what was written counts).
  EXPECT_LT(sm_write_all(-1, "a", 1), 0);
  EXPECT_LT(sm_read_all(-1, got.data(), 1), 0);
  int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  if (full >= 0) {
    EXPECT_EQ(sm_write_all(full, "abc", 3), 0);
    sm_close(full);
  }
}

TEST(SmUtil, AccountRecordOfAUserId) {
  if (geteuid() != 0) GTEST_SKIP() << "needs the root account";
  setenv("ZIVEVODAREVEZO", "tevtest", 1);
  ASSERT_EQ(os_userinit(), 0);
  OsUserEntry entry{};
  char unused[512];
  ASSERT_EQ(sm_getpwuid(0, &entry, unused, sizeof unused), &entry);
  EXPECT_STREQ(entry.pw_name, "root");
  EXPECT_EQ(entry.pw_uid, 0);
  EXPECT_EQ(sm_getpwuid(0, nullptr, unused, sizeof unused), nullptr);
}

}  // namespace
