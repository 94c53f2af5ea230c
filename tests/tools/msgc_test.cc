// The message compiler: argument-list checks, the source and file round
// trip through the real msgc, and refusal of damaged message files.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tools/msgc/printf_kinds.h"
#include "tools/msgc/source_text.h"
#include "tools/msgc/vqm_file.h"

namespace {

using tevtest::RunProgram;

std::string Msgc() { return tevtest::BuiltProgram("msgc"); }

// Compiles source text in memory; empty errors on success.
std::vector<std::string> Compile(const std::string& src, std::vector<uint8_t>* out) {
  msgc::Catalog cat;
  std::vector<std::string> errors;
  if (msgc::ParseSource(src, "t.msgs", &cat, &errors)) msgc::BuildVqm(cat, out, &errors);
  return errors;
}

TEST(MsgcFormatKinds, ConversionsGiveTheirArgumentKinds) {
  struct Case {
    const char* text;
    const char* kinds;  // nullptr: refused
  } cases[] = {
      {"plain text, 100%% sure", "[]"},
      {"%s ended with %d", "[s d]"},
      {"%-10d %-12.12s", "[d s]"},
      {"%u:%u %x %o %X %hd %hhu", "[u u u u u d u]"},
      {"%ld %lu %5lx %lld %llu", "[ld lu lu lld llu]"},
      {"%lx and %-lx are pointers, %p too", "[p p p]"},
      {"%%lx is text", "[]"},
      {"%*d %.*s", "[d d d s]"},
      {"%c %f %.2e %g %lf", "[c f f f f]"},
      {"%1$s", nullptr},
      {"%n", nullptr},
      {"%ls", nullptr},
      {"%Lf", nullptr},
      {"%zu", nullptr},
      {"%y", nullptr},
      {"ends in %", nullptr},
      {"ends in %-5", nullptr},
  };
  for (const Case& c : cases) {
    std::vector<std::string> kinds;
    std::string error;
    bool ok = msgc::FormatKinds(c.text, &kinds, &error);
    if (c.kinds == nullptr) {
      EXPECT_FALSE(ok) << c.text;
      EXPECT_FALSE(error.empty()) << c.text;
    } else {
      ASSERT_TRUE(ok) << c.text << ": " << error;
      EXPECT_EQ(msgc::KindList(kinds), c.kinds) << c.text;
    }
  }
}

TEST(MsgcSource, RefusesTextsThatDoNotMatchTheirDeclaration) {
  struct Case {
    const char* source;
    const char* reason;  // part of the error text
  } cases[] = {
      {"88053 [s] %s ended with result %d.\n", "takes [s d] but [s] is declared"},
      {"88053 [s d d] %s ended with result %d.\n", "takes [s d] but [s d d] is declared"},
      {"88307 [d s] The value '%s' is too long (%d).\n", "takes [s d] but [d s]"},
      {"88300 [] Only %s may do this.\n", "takes [s] but [] is declared"},
      {"1 [x] %x\n", "unknown argument kind 'x'"},
      {"1 [s] %1$s\n", "positional"},
      {"1 [] a\\qb\n", "unknown escape"},
      {"1 [] a\\cb\n", "\\c may only end"},
      {"1 [] a\\x4\n", "two hexadecimal digits"},
      {"1 [] \xE2\x82\xAC\n", "ISO-8859-1 cannot hold"},
      {"1 [] \xC3\n", "not valid UTF-8"},
      {"x1 [] text\n", "bad message number"},
      {"99999999999 [] text\n", "bad message number"},
      {"1 []text\n", "one blank"},
      {"just words\n", "NUMBER [KINDS] TEXT"},
      {"@form wide\n", "@form must be"},
      {"@charset EBCDIC\n", "@charset must be"},
      {"@output a.vqm\n@output b.vqm\n", "@output contradicts"},
      {"@output dir/a.vqm\n", "names a file"},
      {"1 [] one\n1 [] again\n", "also defined at t.msgs:1"},
      {"@form short\n87000 [] too big\n", "does not fit the short form"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> out;
    std::vector<std::string> errors = Compile(c.source, &out);
    ASSERT_EQ(errors.size(), 1u) << c.source;
    EXPECT_NE(errors[0].find(c.reason), std::string::npos) << c.source << " -> " << errors[0];
  }
  std::vector<uint8_t> out;
  std::string longest = "1 [] " + std::string(32766, 'a') + "\n";
  EXPECT_TRUE(Compile(longest, &out).empty());
  std::string too_long = "1 [] " + std::string(32767, 'a') + "\n";
  EXPECT_EQ(Compile(too_long, &out).size(), 1u);
}

TEST(MsgcSource, ReportsEveryFaultyLineWithItsPlace) {
  std::vector<uint8_t> out;
  auto errors = Compile("# ok\n1 [d] %s\n2 [] fine\n3 [s] %d\n", &out);
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].rfind("t.msgs:2: ", 0), 0u) << errors[0];
  EXPECT_EQ(errors[1].rfind("t.msgs:4: ", 0), 0u) << errors[1];
}

TEST(MsgcFile, LayoutIsTheBigEndianFormat) {
  std::vector<uint8_t> out;
  ASSERT_TRUE(Compile("@form auto\n-105 [] ab\n7 [] \\c\n", &out).empty());
  const std::vector<uint8_t> want = {
      0xFE, 0x68, 0x00, 0x02,                          // short form, 2 entries
      0xFF, 0x97, 0x00, 0x03, 0x00, 0x00, 0x00, 0x14,  // -105, 3 bytes at 20
      0x00, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x17,  // 7, empty at 23
      'a',  'b',  '\n'};
  EXPECT_EQ(out, want);
  ASSERT_TRUE(Compile("88300 [] x\n-1 [] y\n", &out).empty());
  const std::vector<uint8_t> want_long = {
      0xFE, 0x69, 0x00, 0x02,                                      // long form
      0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x02, 0x00, 0x00, 0x00, 0x18,  // -1
      0x00, 0x01, 0x58, 0xEC, 0x00, 0x02, 0x00, 0x00, 0x00, 0x1A,  // 88300
      'y',  '\n', 'x',  '\n'};
  EXPECT_EQ(out, want_long);
}

// A canonical source: what the dump writes back, byte for byte.
const char kCanonical[] =
    "@output round.vqm\n"
    "@form short\n"
    "@charset ISO-8859-1\n"
    "-32768 [] lowest\n"
    "-105 [] Fichier endommag\xC3\xA9 \\\\ tab\\there\n"
    "-1 []\n"
    "0 [] \\c\n"
    "5 [] two\\nlines\n"
    "6 [] trailing blank\\x20\n"
    "7 [] control \\x01 and C1 \\x85 bytes\n"
    "8 [s d p] %s ended with %d at %-lx\n"
    "32767 [u] no line feed %u\\c\n";

TEST(MsgcRoundTrip, SourceToFileToDumpGivesTheSameSource) {
  tevtest::TempInstall dir;
  dir.WriteFile("round.msgs", kCanonical);
  auto run = RunProgram(Msgc(), {"-o", dir.Path("round.vqm"), dir.Path("round.msgs")});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  auto dumped = RunProgram(Msgc(), {"--dump", dir.Path("round.vqm")});
  ASSERT_EQ(dumped.exit_code, 0) << dumped.err;
  EXPECT_EQ(dumped.out, kCanonical);
  EXPECT_EQ(dumped.err, "");

  // The long form and the UTF-8 code set round-trip as well.
  std::string long_src = std::string(kCanonical);
  long_src.replace(long_src.find("@form short"), 11, "@form long");
  long_src.replace(long_src.find("ISO-8859-1"), 10, "UTF-8");
  long_src += "88999 [] \xE2\x82\xAC and \\xFF\n";
  dir.WriteFile("long.msgs", long_src);
  run = RunProgram(Msgc(), {"-o", dir.Path("round.vqm"), dir.Path("long.msgs")});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  dumped = RunProgram(Msgc(), {"--dump", dir.Path("round.vqm"), "--charset", "UTF-8"});
  ASSERT_EQ(dumped.exit_code, 0) << dumped.err;
  EXPECT_EQ(dumped.out, long_src);
}

TEST(MsgcRoundTrip, InstalledFilesDumpAndRecompileToTheSameBytes) {
  tevtest::TempInstall dir;
  for (const char* name : {"os.vqm", "isam.vqm", "sql.vqm", "tev.vqm"}) {
    std::string built = tevtest::BuildTree() + "/msg/en_us/0333/" + name;
    auto dumped = RunProgram(Msgc(), {"--dump", built});
    ASSERT_EQ(dumped.exit_code, 0) << name << ": " << dumped.err;
    dir.WriteFile("again.msgs", dumped.out);
    auto run = RunProgram(Msgc(), {"-o", dir.Path("again.vqm"), dir.Path("again.msgs")});
    ASSERT_EQ(run.exit_code, 0) << name << ": " << run.err;
    EXPECT_EQ(dir.ReadFile("again.vqm"), tevtest::ReadFile(built)) << name;
  }
}

TEST(MsgcCorruption, EveryTruncationAndDamageIsReportedNotTrusted) {
  std::vector<uint8_t> good;
  ASSERT_TRUE(Compile("-2 [] a\n1 [] bc\n3 [] \\c\n9 [] defg\n", &good).empty());
  msgc::Form form;
  std::vector<msgc::Message> msgs;
  std::string error;
  ASSERT_TRUE(msgc::ReadVqm(good, &form, &msgs, &error)) << error;
  ASSERT_EQ(msgs.size(), 4u);
  // Every cut of the file short of its full length is refused: the texts
  // end the file, so each cut loses a header, index or text byte.
  for (size_t n = 0; n < good.size(); ++n) {
    std::span<const uint8_t> cut(good.data(), n);
    EXPECT_FALSE(msgc::ReadVqm(cut, &form, &msgs, &error)) << "cut at " << n;
  }
  struct Damage {
    size_t at;
    uint8_t byte;
    const char* reason;
  } damages[] = {
      {0, 0x00, "bad magic"},
      {2, 0x80, "negative entry count"},
      {3, 0x10, "runs past the end"},
      {6, 0xFF, "negative text length"},
      {10, 0x00, "outside the text area"},   // offset 2: inside the header
      {8, 0x7F, "outside the text area"},    // offset far past the end
      {12, 0x80, "must ascend"},             // 1 becomes -32767, below -2
  };
  for (const Damage& d : damages) {
    std::vector<uint8_t> bad = good;
    bad[d.at] = d.byte;
    if (d.at == 10) bad[11] = 0x02;
    EXPECT_FALSE(msgc::ReadVqm(bad, &form, &msgs, &error)) << "byte " << d.at;
    EXPECT_NE(error.find(d.reason), std::string::npos) << "byte " << d.at << ": " << error;
  }
}

TEST(MsgcCorruption, DumpOfADamagedFileFailsCleanly) {
  tevtest::TempInstall dir;
  dir.WriteFile("a.msgs", "1 [] one\n2 [] two\n");
  ASSERT_EQ(RunProgram(Msgc(), {"-o", dir.Path("a.vqm"), dir.Path("a.msgs")}).exit_code, 0);
  std::string good = dir.ReadFile("a.vqm");
  const std::vector<std::string> bad = {"", "\xFE", good.substr(0, 10),
                                        good.substr(0, good.size() - 1),
                                        std::string("\xFE\x67") + good.substr(2)};
  for (const std::string& b : bad) {
    dir.WriteFile("bad.vqm", b);
    auto run = RunProgram(Msgc(), {"--dump", dir.Path("bad.vqm")});
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exit_code, 1) << b.size();
    EXPECT_NE(run.err.find("not a valid message file"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
  auto missing = RunProgram(Msgc(), {"--dump", dir.Path("none.vqm")});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.err.find("No such file"), std::string::npos) << missing.err;
}

TEST(MsgcCommand, ARefusedCompileLeavesTheOldFileAndNoTemporary) {
  tevtest::TempInstall dir;
  dir.WriteFile("good.msgs", "1 [] one\n");
  dir.WriteFile("bad.msgs", "1 [] one\n2 [d] %s\n");
  ASSERT_EQ(RunProgram(Msgc(), {"-o", dir.Path("m.vqm"), dir.Path("good.msgs")}).exit_code, 0);
  std::string before = dir.ReadFile("m.vqm");
  auto run = RunProgram(Msgc(), {"-o", dir.Path("m.vqm"), dir.Path("bad.msgs")});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("bad.msgs:2: message 2: its text takes [s] but [d] is declared"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(dir.ReadFile("m.vqm"), before);
  // --check validates without writing; a missing directory is an error.
  EXPECT_EQ(RunProgram(Msgc(), {"--check", dir.Path("bad.msgs")}).exit_code, 1);
  EXPECT_EQ(RunProgram(Msgc(), {"--check", dir.Path("good.msgs")}).exit_code, 0);
  run = RunProgram(Msgc(), {"-o", dir.Path("no/such/m.vqm"), dir.Path("good.msgs")});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_FALSE(dir.Exists("no"));
  EXPECT_EQ(RunProgram(Msgc(), {}).exit_code, 2);
  EXPECT_EQ(RunProgram(Msgc(), {"--dump"}).exit_code, 2);
}

}  // namespace
