// Character streams: the defined cases on files the test writes, in a
// one-byte (8859-1), multibyte (utf8, sjis) and two-byte-terminator (tst)
// locale. The random round trips against Python are in mbs_oracle.py.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "locale/core/gl_errors.h"
#include "locale/core/gl_mbstream.h"
#include "tests/locale/lco_fixture.h"

namespace {

using lcotest::Generated;
using lcotest::Stream;

constexpr GlWchar kNoWide = static_cast<GlWchar>(-1);

struct FileCloser {
  void operator()(FILE *f) const { fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

std::string Contents(FILE *f) {
  fflush(f);
  rewind(f);
  std::string s;
  for (int c; (c = fgetc(f)) != EOF;) s += static_cast<char>(c);
  return s;
}

// A reader over a byte string.
struct Bytes {
  std::string data;
  size_t pos = 0;
  static int Read(void *arg) {
    auto *b = static_cast<Bytes *>(arg);
    return b->pos < b->data.size() ? static_cast<unsigned char>(b->data[b->pos++]) : -1;
  }
};

// A writer that fails on byte number fail_at (0 the first).
struct Sink {
  std::string data;
  int fail_at = -1;
  static int32_t Write(int32_t byte, void *arg) {
    auto *s = static_cast<Sink *>(arg);
    if (static_cast<int>(s->data.size()) == s->fail_at) return -1;
    s->data += static_cast<char>(byte);
    return 0;
  }
};

class MbStream : public ::testing::Test {
 protected:
  void SetUp() override {
    u = Generated("utf8");
    l = Generated("8859-1");
    t = Generated("tst");
    j = Generated("sjis");
    ASSERT_TRUE(u && l && t && j);
  }
  GlLocale *u = nullptr, *l = nullptr, *t = nullptr, *j = nullptr;
};

TEST_F(MbStream, ReadingOneCharacter) {
  char buf[4];
  FilePtr empty(Stream(""));
  EXPECT_EQ(-1, gl_full_fgetmb(u, buf, empty.get()));
  EXPECT_EQ(GL_EEOF, u->error);

  // Cut after a lead byte: 16 from the multibyte reader, 7 from the wide.
  FilePtr cut(Stream("\xe4"));
  EXPECT_EQ(-1, gl_full_fgetmb(u, buf, cut.get()));
  EXPECT_EQ(GL_EEOF, u->error);
  FilePtr cut2(Stream("\xe4\xb8"));
  EXPECT_EQ(kNoWide, gl_full_fgetwc(u, cut2.get()));
  EXPECT_EQ(GL_ESHORT, u->error);
  FilePtr empty2(Stream(""));
  EXPECT_EQ(kNoWide, gl_full_fgetwc(u, empty2.get()));
  EXPECT_EQ(GL_EEOF, u->error);

  // Whole characters, their wide values (bytes as one number), and an
  // invalid byte that stays consumed.
  FilePtr good(Stream("\xe4\xb8\xad" "a\x80z"));
  EXPECT_EQ(3, gl_full_fgetmb(u, buf, good.get()));
  EXPECT_EQ(0, memcmp(buf, "\xe4\xb8\xad", 3));
  EXPECT_EQ(GlWchar{'a'}, gl_full_fgetwc(u, good.get()));
  EXPECT_EQ(kNoWide, gl_full_fgetwc(u, good.get()));
  EXPECT_EQ(GL_EILSEQ, u->error);
  EXPECT_EQ(GlWchar{'z'}, gl_full_fgetwc(u, good.get()));
  FilePtr nul(Stream(std::string("\0\0", 2)));
  EXPECT_EQ(0u, gl_full_fgetwc(t, nul.get()));

  // The caller's reader: a lead byte and then nothing.
  Bytes lead{"\x83"};
  int32_t n = -5;
  EXPECT_EQ(-1, gl_getmb(j, buf, Bytes::Read, &lead, &n));
  EXPECT_EQ(GL_ESHORT, j->error);
  EXPECT_EQ(1, n);
  EXPECT_EQ('\x83', buf[0]);
  Bytes none{""};
  EXPECT_EQ(-1, gl_getmb(j, buf, Bytes::Read, &none, &n));
  EXPECT_EQ(GL_EEOF, j->error);
  EXPECT_EQ(0, n);
  Bytes so{"\x83\x5c"};  // a trail byte that is the ASCII backslash
  EXPECT_EQ(0, gl_getmb(j, buf, Bytes::Read, &so, &n));
  EXPECT_EQ(2, n);
}

TEST_F(MbStream, ReadingLines) {
  char buf[8];
  FilePtr f3(Stream("ab\n"));
  EXPECT_EQ(nullptr, gl_fgetmbs(l, buf, 3, f3.get()));
  EXPECT_EQ(GL_E2BIG, l->error);
  FilePtr f4(Stream("ab\ncd"));
  ASSERT_EQ(buf, gl_fgetmbs(l, buf, 4, f4.get()));
  EXPECT_EQ(0, memcmp(buf, "ab\n", 4));
  // The last line has no line end.
  EXPECT_EQ(nullptr, gl_fgetmbs(l, buf, 8, f4.get()));
  EXPECT_EQ(GL_EEOF, l->error);
  // A 0xFF byte is a character, not the end of the file.
  FilePtr ff(Stream("\xff\n"));
  ASSERT_EQ(buf, gl_fgetmbs(l, buf, 8, ff.get()));
  EXPECT_EQ(0, memcmp(buf, "\xff\n", 3));

  // m = 2: the line end is 00 0A, a lone 0A byte is not one.
  const std::string two("\x00\x41\x00\x0a", 4);
  FilePtr ft(Stream(two + std::string("\x00\x42", 2)));
  ASSERT_EQ(buf, gl_fgetmbs(t, buf, 8, ft.get()));
  EXPECT_EQ(two + std::string("\0\0", 2), std::string(buf, 6));
  FilePtr small(Stream(two));
  EXPECT_EQ(nullptr, gl_fgetmbs(t, buf, 5, small.get()));  // no room for 00 00
  EXPECT_EQ(GL_E2BIG, t->error);

  GlWchar w[4];
  FilePtr w2(Stream("a\n"));
  EXPECT_EQ(nullptr, gl_fgetwcs(l, w, 2, w2.get()));
  EXPECT_EQ(GL_E2BIG, l->error);
  EXPECT_EQ(GlWchar{'a'}, w[0]);
  EXPECT_EQ(GlWchar{'\n'}, w[1]);
  EXPECT_EQ('\n', l->last_char);
  FilePtr w3(Stream("a\n"));
  ASSERT_EQ(w, gl_fgetwcs(l, w, 3, w3.get()));
  EXPECT_EQ(0u, w[2]);
  FilePtr wu(Stream("\xc3\xa9\n"));
  ASSERT_EQ(w, gl_fgetwcs(u, w, 3, wu.get()));
  EXPECT_EQ(0xC3A9u, w[0]);
  FilePtr wend(Stream("a"));
  EXPECT_EQ(nullptr, gl_fgetwcs(l, w, 3, wend.get()));
  EXPECT_EQ(GL_EEOF, l->error);
  EXPECT_EQ(-1, l->last_char);
}

TEST_F(MbStream, WritingCharacters) {
  Sink s;
  int32_t n = -5;
  // The NUL character is the terminator: m zero bytes; counted, its length.
  EXPECT_EQ(0, gl_putmb(t, std::string("\0\0", 2).c_str(), -1, Sink::Write, &s, &n));
  EXPECT_EQ(2, n);
  EXPECT_EQ(std::string("\0\0", 2), s.data);
  Sink c;
  EXPECT_EQ(0, _zel_gl_putmb(u, "\0", 1, Sink::Write, &c, &n));
  EXPECT_EQ(1, n);
  EXPECT_EQ(std::string("\0", 1), c.data);
  // A NULL character: -1, no error number, *n_out untouched.
  t->error = 0;
  n = 77;
  EXPECT_EQ(-1, gl_putmb(t, nullptr, -1, Sink::Write, &s, &n));
  EXPECT_EQ(0, t->error);
  EXPECT_EQ(77, n);
  // A writer failing on the second byte of a three-byte character.
  Sink fail;
  fail.fail_at = 1;
  EXPECT_EQ(-1, gl_putmb(u, "\xe4\xb8\xad", -1, Sink::Write, &fail, &n));
  EXPECT_EQ(GL_ESTREAM, u->error);
  EXPECT_EQ(1, n);
  // Single-byte budget below 1.
  EXPECT_EQ(-1, gl_putmb(l, "a", 0, Sink::Write, &s, &n));
  EXPECT_EQ(GL_ESHORT, l->error);
  // A character cut by its budget.
  EXPECT_EQ(-1, gl_putmb(u, "\xe4\xb8\xad", 2, Sink::Write, &s, &n));
  EXPECT_EQ(GL_ESHORT, u->error);
  EXPECT_EQ(0, n);
}

TEST_F(MbStream, WritingToFiles) {
  FilePtr f(tmpfile());
  EXPECT_EQ(0, gl_fputmbs(u, "a\xc3\xa9z", f.get()));
  // An invalid character anywhere: nothing is written.
  EXPECT_EQ(-1, gl_fputmbs(u, "bc\xc3", f.get()));
  EXPECT_EQ(GL_EILSEQ, u->error);
  EXPECT_EQ(GlWchar{0xE4B8AD}, gl_fputwc(u, 0xE4B8AD, f.get()));
  EXPECT_EQ(kNoWide, gl_fputwc(u, 0xFFFFFF, f.get()));
  EXPECT_EQ(GL_EILSEQ, u->error);
  EXPECT_EQ("a\xc3\xa9z\xe4\xb8\xad", Contents(f.get()));

  // A single-byte locale refuses a wide value above 255 and writes nothing,
  // where its low byte would be another character.
  FilePtr g(tmpfile());
  EXPECT_EQ(GlWchar{0xE9}, gl_fputwc(l, 0xE9, g.get()));
  EXPECT_EQ(kNoWide, gl_fputwc(l, 0x141, g.get()));
  EXPECT_EQ(GL_EILSEQ, l->error);
  const GlWchar ws[] = {'x', 0x100, 'y', 0};
  EXPECT_EQ(-1, gl_fputwcs(l, ws, g.get()));
  EXPECT_EQ("\xe9x", Contents(g.get()));

  // The wide value 0 writes the terminator; a character through gl_fputmb.
  FilePtr h(tmpfile());
  EXPECT_EQ(0u, gl_fputwc(t, 0, h.get()));
  const char ab[] = {0, 'A', 0, 0};
  EXPECT_EQ(ab, gl_fputmb(t, ab, h.get()));
  EXPECT_EQ(std::string("\0\0\0A", 4), Contents(h.get()));
}

}  // namespace
