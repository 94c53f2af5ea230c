// Token readers of the data files.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "locale/core/gl_errors.h"
#include "locale/core/gl_support.h"
#include "locale/core/gl_tokens.h"

namespace {

// A stream over text (default hooks: a run-time FILE).
struct Input {
  explicit Input(const std::string &text) : f(tmpfile()) {
    fwrite(text.data(), 1, text.size(), f);
    rewind(f);
  }
  ~Input() { fclose(f); }
  std::string Rest() {
    std::string s;
    int c;
    while ((c = fgetc(f)) != EOF) s.push_back(static_cast<char>(c));
    return s;
  }
  FILE *f;
};

TEST(TokensTest, ReadInt) {
  struct {
    const char *text;
    int32_t value;
    const char *rest;
  } cases[] = {
      {"-12\n", -12, "\n"},
      {"x5\n", 0, "5\n"},   // a non-digit is consumed and gives 0
      {" 7 8", 7, " 8"},    // exactly one blank skipped
      {"  7", 0, "7"},
      {"+42", 42, ""},
      {"", 0, ""},
      {"2147483647 ", 2147483647, " "},
      // Digits beyond forty characters are read and dropped.
      {"1234567890123456789012345678901234567890123;", 2147483647, ";"},
      {"-99999999999 ", INT32_MIN, " "},
  };
  for (auto &c : cases) {
    Input in(c.text);
    EXPECT_EQ(c.value, _gl_read_int(in.f)) << c.text;
    EXPECT_EQ(c.rest, in.Rest()) << c.text;
  }
}

TEST(TokensTest, HexDoubleWordAndEol) {
  Input hex("0123456789AB");
  EXPECT_EQ(0x01234567u, _gl_read_hex(hex.f, 10));  // at most 8 digits
  EXPECT_EQ("89AB", hex.Rest());
  Input bad("zz4g");
  EXPECT_EQ(0, _gl_read_hex_byte(bad.f));
  EXPECT_EQ(0x40, _gl_read_hex_byte(bad.f));

  Input d("2.5e1x");
  EXPECT_DOUBLE_EQ(25.0, _gl_read_double(d.f));
  EXPECT_EQ("x", d.Rest());

  Input w("abc def");
  char buf[8];
  EXPECT_EQ(0, _gl_read_word(buf, sizeof buf, w.f));
  EXPECT_STREQ("abc", buf);
  Input full("abcdefghij");
  EXPECT_EQ(-1, _gl_read_word(buf, 4, full.f));
  EXPECT_STREQ("abc", buf);

  Input eol("\nx");
  EXPECT_EQ(1, _gl_read_eol(eol.f));
  EXPECT_EQ(0, _gl_read_eol(eol.f));
  EXPECT_EQ("x", eol.Rest());
  Input crlf("\r\n");
  EXPECT_EQ(0, _gl_read_eol(crlf.f));  // no carriage return where a line end is required

  EXPECT_EQ(1024u, _gl_ipow(2, 10));
  EXPECT_EQ(1u, _gl_ipow(7, -3));
  EXPECT_DOUBLE_EQ(0.01, _gl_dpow(10.0, -2));
}

TEST(TokensTest, CountedStrings) {
  struct {
    const char *text;
    const char *bytes;  // NULL: fails
    size_t len;
    int32_t error;
  } cases[] = {
      {"2 4142\n", "AB", 2, 0},
      {"3 616263\n", "abc", 3, 0},
      {"0\n", "", 0, 0},
      {"2 4142", nullptr, 0, GL_ENOFILE},
      {"-5 41\n", nullptr, 0, GL_EFORMAT},
  };
  for (auto &c : cases) {
    Input in(c.text);
    int32_t error = 0;
    char *s = _gl_read_string(in.f, &error);
    if (c.bytes == nullptr) {
      EXPECT_EQ(nullptr, s) << c.text;
      EXPECT_EQ(c.error, error) << c.text;
      continue;
    }
    ASSERT_NE(nullptr, s) << c.text;
    EXPECT_EQ(0, memcmp(s, c.bytes, c.len));
    EXPECT_EQ(0, memcmp(s + c.len, "\0\0\0\0", 4));
    _gl_free(s);
  }
}

TEST(TokensTest, IntegerLists) {
  std::string fifteen = "15";
  for (int i = 1; i <= 15; ++i) fifteen += " " + std::to_string(i);
  int32_t values[16];
  int32_t error = 0;
  Input ok(fifteen + "\n");
  EXPECT_EQ(0, _gl_read_int_list(ok.f, values, &error));
  EXPECT_EQ(15, values[0]);
  EXPECT_EQ(15, values[15]);

  std::string sixteen = "16";
  for (int i = 1; i <= 16; ++i) sixteen += " " + std::to_string(i);
  Input many(sixteen + "\n");
  EXPECT_EQ(-1, _gl_read_int_list(many.f, values, &error));
  EXPECT_EQ(GL_ENEGATIVE, error);

  error = 0;
  Input noeol("2 3 4x");
  EXPECT_EQ(-1, _gl_read_int_list(noeol.f, values, &error));
  EXPECT_EQ(GL_EFORMAT, error);
  error = 6;  // an earlier number is kept
  Input noeol2("0x");
  EXPECT_EQ(-1, _gl_read_int_list(noeol2.f, values, &error));
  EXPECT_EQ(6, error);
}

}  // namespace
