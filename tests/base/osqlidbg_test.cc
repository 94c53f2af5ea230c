// The wire trace, each case in a process of its own (wiretrace_probe) with
// SQLIDEBUG set; binary files are read by a python3 reader written from the
// record formats.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using tevtest::RunResult;

class WireTraceTest : public ::testing::Test {
 protected:
  RunResult Probe(const std::string& setting, std::vector<std::string> args) {
    tevtest::RunOptions opt;
    opt.env = {{"TARVELONDIR", dir_.path()}, {"HOME", dir_.path()}, {"PATH", "/usr/bin:/bin"}};
    if (!setting.empty()) opt.env["SQLIDEBUG"] = setting;
    opt.cwd = dir_.path();
    RunResult r = tevtest::RunProgram(tevtest::BuiltProgram("wiretrace_probe"), args, opt);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r;
  }
  static std::string Field(const std::string& out, const std::string& key) {
    size_t at = out.find(key + " ");
    if (at == std::string::npos) return "";
    at += key.size() + 1;
    return out.substr(at, out.find_first_of(" \n", at) - at);
  }
  std::vector<std::string> Records(const std::string& file) {
    RunResult r = tevtest::RunProgram(
        tevtest::Python(), {tevtest::SourceDir() + "/tests/base/wiretrace.py", dir_.Path(file)},
        {{{"PATH", "/usr/bin:/bin"}}, "", "", 60});
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < r.out.size()) {
      size_t nl = r.out.find('\n', at);
      lines.push_back(r.out.substr(at, nl - at));
      at = nl + 1;
    }
    return lines;
  }
  tevtest::TempInstall dir_;
};

TEST_F(WireTraceTest, BinaryTraceRecordsAndServerTags) {
  for (std::string side : {"client", "server"}) {
    RunResult r = Probe("2:trc" + side, {"basic", side});
    std::string pid = Field(r.out, "pid");
    EXPECT_EQ(Field(r.out, "level"), "8");
    std::string file = "trc" + side + "_" + pid;
    EXPECT_EQ(dir_.ReadFile(file).substr(0, 8), std::string("SQLI\0\0\0\1", 8));
    bool server = side == "server";
    std::vector<std::string> want = {
        "header",
        std::string("msg ") + (server ? "SC" : "CS") + " 10 " + "4142434445464748494a",
        std::string("msg ") + (server ? "CS" : "SC") + " 3 78797a",
        // code 112, number 7, "db" (even), "abc" with its pad byte
        "msg CS 14 0070000700026462000361626300",
        std::string("msg ") + (server ? "SC" : "CS") + " 4 006e013c"};
    EXPECT_EQ(Records(file), want);
  }
}

TEST_F(WireTraceTest, SettingErrors) {
  struct Case {
    std::string setting, err;
  };
  const std::string syntax = "Invalid syntax for SQLIDEBUG environment variable.\n";
  const std::string too_long = "SQLIDEBUG environment variable is too long.\n";
  std::string dots;
  for (int i = 0; i < 128; ++i) dots += "./";
  const Case cases[] = {{"2:", syntax},
                        {"3:x", syntax},
                        {"2:" + dots + "t", ""},        // 259 characters
                        {"2:" + dots + "tt", too_long}};  // 260
  for (const Case& c : cases) {
    RunResult r = Probe(c.setting, {"dump", "3"});
    EXPECT_EQ(r.err, c.err) << c.setting.size();
    EXPECT_EQ(Field(r.out, "level"), c.err.empty() ? "8" : "0");
  }
}

TEST_F(WireTraceTest, ExistingFileAndUnwritablePlace) {
  // Binary: the can't-open message, tracing off, the file left as it was.
  RunResult ex = Probe("2:" + dir_.Path("ex"), {"existing"});
  std::string file = dir_.Path("ex") + "_" + Field(ex.out, "pid");
  EXPECT_EQ(ex.err, "SQLIDEBUG: Can't open file " + file + ".\n");
  EXPECT_EQ(Field(ex.out, "level"), "0");
  EXPECT_EQ(tevtest::ReadFile(file), "");
  std::string missing = dir_.Path("no/such/dir/trc");
  RunResult bin = Probe("2:" + missing, {"dump", "3"});
  EXPECT_EQ(bin.err, "SQLIDEBUG: Can't open file " + missing + "_" + Field(bin.out, "pid") + ".\n");
  // Text: traces on standard error without a message.
  RunResult txt = Probe("1:" + missing, {"dump", "3"});
  EXPECT_EQ(Field(txt.out, "level"), "4");
  EXPECT_EQ(txt.err, "\r\n C->S (0x1234) 3\r\n   0   1   2");
}

TEST_F(WireTraceTest, TextDumpsOf16And17Bytes) {
  RunResult r16 = Probe("1:t16", {"dump", "16"});
  std::string want16 = "\r\n C->S (0x1234) 16\r\n";
  for (int i = 0; i < 16; ++i) {
    char b[8];
    std::snprintf(b, sizeof b, "  %2x", i);
    want16 += b;
  }
  want16 += "\r\n";
  EXPECT_EQ(dir_.ReadFile("t16_" + Field(r16.out, "pid")), want16);
  RunResult r17 = Probe("1:t17", {"dump", "17"});
  EXPECT_EQ(dir_.ReadFile("t17_" + Field(r17.out, "pid")),
            "\r\n C->S (0x1234) 17\r\n" + want16.substr(21) + "  10");
}

TEST_F(WireTraceTest, MaskingInBinaryTracesOnly) {
  auto hex = [](const std::string& s) {
    static const char* d = "0123456789abcdef";
    std::string h;
    for (unsigned char c : s) h += d[c >> 4], h += d[c & 15];
    return h;
  };
  std::string head(6, '\1');
  std::vector<std::string> stmts = {
      "set encryption password 'secret' with hint 'myhint'", "select password 'abc' from t",
      "select encrypt_aes('k1', 'k2' || f('k3')) , 'open' from t"};
  std::vector<std::string> masked = {
      "set encryption password 'XXXXXX' with hint 'XXXXXX'", "select password 'abc' from t",
      "select encrypt_aes('XX', 'XX' || f('XX')) , 'open' from t"};
  RunResult bin = Probe("2:mb", {"mask"});
  std::vector<std::string> recs = Records("mb_" + Field(bin.out, "pid"));
  ASSERT_EQ(recs.size(), 4u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(recs[i + 1], "msg CS " + std::to_string(head.size() + masked[i].size()) + " " +
                               hex(head + masked[i]))
        << masked[i];
  }
  // The text dump carries the statements unmasked: read back the bytes of
  // the first message.
  RunResult txt = Probe("1:mt", {"mask"});
  std::string dump = dir_.ReadFile("mt_" + Field(txt.out, "pid"));
  std::string first = head + stmts[0];
  std::string header = "\r\n C->S (0x1234) " + std::to_string(first.size()) + "\r\n";
  ASSERT_EQ(dump.rfind(header, 0), 0u);
  std::string bytes;
  size_t at = header.size();
  while (bytes.size() < first.size() && at < dump.size()) {
    if (dump.compare(at, 2, "\r\n") == 0) {
      at += 2;
      continue;
    }
    bytes.push_back(static_cast<char>(std::stoi(dump.substr(at, 4), nullptr, 16)));
    at += 4;
  }
  EXPECT_EQ(bytes, first);
}

TEST_F(WireTraceTest, ForkedProcessGetsItsOwnFile) {
  RunResult r = Probe("2:fk", {"fork"});
  std::string pid = Field(r.out, "pid"), child = Field(r.out, "child");
  ASSERT_FALSE(child.empty());
  std::vector<std::string> parent = Records("fk_" + pid);
  ASSERT_EQ(parent.size(), 4u);
  EXPECT_EQ(parent[1], "msg CS 6 706172656e74");
  EXPECT_EQ(parent[2], "fork CF " + child);
  EXPECT_EQ(parent[3], "msg CS 7 706172656e7432");
  std::vector<std::string> forked = Records("fk_" + pid + "_" + child);
  std::vector<std::string> want = {"header", "replay 316", "msg CS 6 6368696c6431"};
  EXPECT_EQ(forked, want);
}

TEST_F(WireTraceTest, EleventhProcessGrowsTheTable) {
  RunResult r = Probe("2:ch", {"chain"});
  EXPECT_EQ(Field(r.out, "capacity"), "20") << r.out << r.err;
}

}  // namespace
