// Multibyte and wide strings: navigation, lengths, trailing blanks, copies
// and the code-value comparisons.
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "locale/core/gl_errors.h"
#include "locale/core/gl_mbchar.h"
#include "locale/core/gl_mbstring.h"
#include "tests/locale/lco_fixture.h"

namespace {

using lcotest::Generated;

class MbString : public ::testing::Test {
 protected:
  void SetUp() override {
    u = Generated("utf8");
    l = Generated("8859-1");
    t = Generated("tst");
    ASSERT_TRUE(u && l && t);
  }
  GlLocale *u = nullptr, *l = nullptr, *t = nullptr;
};

TEST_F(MbString, Navigation) {
  const char s[] = "a\xc3\xa9z";
  EXPECT_EQ(s + 3, gl_full_mbsnext(u, s + 1));
  EXPECT_EQ(nullptr, _zel_gl_full_mbsnext(u, s + 1, 1));
  EXPECT_EQ(GL_ESHORT, u->error);
  EXPECT_EQ(s + 1, gl_full_mbsprev(u, s, s + 3));
  EXPECT_EQ(nullptr, gl_full_mbsprev(u, s, s));
  EXPECT_EQ(GL_EBEFORESTART, u->error);
  EXPECT_EQ(nullptr, gl_full_mbsprev(u, s, s + 2));  // pos inside a character
  EXPECT_EQ(GL_ESHORT, u->error);

  EXPECT_EQ(s + 3, gl_full_getmbsi(u, s, 2));
  EXPECT_EQ(s + 4, gl_full_getmbsi(u, s, 3));  // the terminator
  EXPECT_EQ(nullptr, gl_full_getmbsi(u, s, 9));  // beyond: nothing read past
  EXPECT_EQ(nullptr, gl_full_getmbsi(u, s, -1));
  EXPECT_EQ(GL_ENEGATIVE, u->error);

  int32_t len = 0;
  EXPECT_EQ(1, gl_full_charoffset(u, s, s + 2, &len));
  EXPECT_EQ(2, len);
  EXPECT_EQ(0, gl_full_charoffset(l, s, s + 2, &len));
  EXPECT_EQ(1, len);
  EXPECT_EQ(-1, gl_full_charoffset(u, s + 1, s, &len));
  EXPECT_EQ(GL_ESHORT, u->error);
  EXPECT_EQ(0, len);

  // Replacing a one-byte character by a three-byte one moves the rest.
  char buf[16] = "abc";
  EXPECT_EQ(buf + 1, gl_full_putmbsi(u, buf, 1, "\xe4\xb8\xad"));
  EXPECT_STREQ("a\xe4\xb8\xad" "c", buf);
  EXPECT_EQ(buf, gl_full_putmbsi(u, buf, 1 - 1, "z"));
  EXPECT_STREQ("z\xe4\xb8\xad" "c", buf);
  EXPECT_EQ(nullptr, gl_full_putmbsi(u, buf, 3, "z"));  // the terminator stays
  EXPECT_EQ(nullptr, gl_full_putmbsi(u, buf, 0, nullptr));
  EXPECT_EQ(GL_ENULLARG, u->error);
}

TEST_F(MbString, Lengths) {
  EXPECT_EQ(1, gl_mbsbytes(u, ""));
  EXPECT_EQ(2, gl_mbsbytes(t, "\0\0"));
  EXPECT_EQ(0, gl_mbsbytes(u, nullptr));
  u->error = 0;
  EXPECT_EQ(0, gl_mbsbytes(u, "a\xff"));
  EXPECT_EQ(GL_EILSEQ, u->error);
  EXPECT_EQ(5, gl_mbsbytes(u, "a\xe4\xb8\xad"));
  EXPECT_EQ(3, _gl_im_mbslen(u, "a\xe4\xb8\xad" "b"));
  EXPECT_EQ(-1, _gl_im_mbslen(u, "a\xff"));
  EXPECT_EQ(2, _zel_gl_im_mbfslen(u, "a\xe4\xb8\xad" "b", 4));
  EXPECT_EQ(-1, _zel_gl_im_mbfslen(u, "a\xe4\xb8\xad", 3));  // last one runs past
  EXPECT_EQ(GL_EILSEQ, u->error);
  EXPECT_EQ(3, _zel_gl_im_mbfslen(u, "a\xe4\xb8\xad" "b", -1));
  EXPECT_EQ(3, _zel_gl_im_mbfslen(t, "\0a\0\0\0b", 6));  // an inner NUL counts

  const GlWchar w[] = {1, 2, 3, 0};
  EXPECT_EQ(3, gl_wcslen(w));
  EXPECT_EQ(16, gl_wcsbytes(w));
}

TEST_F(MbString, TrailingBlanks) {
  for (GlLocale *loc : {u, l}) {
    EXPECT_EQ(2, gl_mbsntslen(loc, "ab  "));
    EXPECT_EQ(0, gl_mbsntslen(loc, "    "));
    EXPECT_EQ(3, gl_mbsntslen(loc, "ab\t"));  // a tab is cntrl
    EXPECT_EQ(3, gl_mbsntslen(loc, "a b "));
    EXPECT_EQ(2, _zel_gl_mbsntslen(loc, "ab  x", 4));
    EXPECT_EQ(2, gl_mbsntsbytes(loc, "ab  "));
    EXPECT_EQ(2, _zel_gl_mbsntsbytes(loc, "ab  x", 4));
    EXPECT_EQ(-1, _zel_gl_mbsntsbytes(loc, "ab", -2));
    EXPECT_EQ(GL_EBADARG, loc->error);
    EXPECT_EQ(-1, gl_mbsntslen(loc, nullptr));
    EXPECT_EQ(GL_ENULLARG, loc->error);
  }
  EXPECT_EQ(4, gl_mbsntsbytes(u, "a\xe4\xb8\xad  "));
  EXPECT_EQ(2, gl_mbsntslen(u, "a\xe4\xb8\xad  "));

  const GlWchar lf[] = {'a', 'b', '\n', 0};
  EXPECT_EQ(3, gl_wcsntslen(u, lf));  // space but also cntrl
  const GlWchar sp[] = {'a', 'b', ' ', ' ', 0};
  EXPECT_EQ(2, gl_wcsntslen(l, sp));
  EXPECT_EQ(-1, _zel_gl_wcsntslen(u, sp, -2));
  EXPECT_EQ(GL_EBADARG, u->error);

  GlWchar wt[] = {'a', 'b', ' ', '\t', 0};
  gl_wcsntstrunc(u, wt);
  EXPECT_EQ(0u, wt[2]);
  char mt[] = "ab \t";
  EXPECT_EQ(nullptr, gl_mbsntstrunc(u, mt));
  EXPECT_STREQ("ab \t", mt);
  char m2[] = "ab  ";
  EXPECT_EQ(m2 + 2, gl_mbsntstrunc(l, m2));
  EXPECT_STREQ("ab", m2);
}

TEST_F(MbString, MultibyteCopies) {
  char d[32];
  EXPECT_EQ(d, gl_full_mbscpy(u, d, "a\xc3\xa9"));
  EXPECT_STREQ("a\xc3\xa9", d);
  EXPECT_EQ(d, gl_full_mbscat(u, d, "b"));
  EXPECT_STREQ("a\xc3\xa9" "b", d);
  EXPECT_EQ(d, gl_mbsncpy(u, d, "\xc3\xa9xyz", 2));
  EXPECT_STREQ("\xc3\xa9x", d);
  EXPECT_EQ(d, gl_mbsncat(u, d, "12345", 9));
  EXPECT_STREQ("\xc3\xa9x12345", d);
  EXPECT_EQ(nullptr, gl_mbsncpy(u, d, "abc", -1));
  EXPECT_EQ(GL_ENEGATIVE, u->error);

  EXPECT_EQ(4, _zel_gl_mbscpy(u, d, "abc", -1));
  memset(d, 'x', sizeof d);
  EXPECT_EQ(-1, _zel_gl_mbscpy(u, d, "a\xc3\xa9", 2));  // ends inside a character
  EXPECT_EQ(GL_ESHORT, u->error);
  EXPECT_EQ(0, memcmp(d, "a\xc3x", 3));  // the bytes stay copied
  EXPECT_EQ(3, _zel_gl_mbscpy(u, d, "a\xc3\xa9", 3));

  EXPECT_EQ(-1, _zel_gl_mbscat(u, d, -1, "abc", 3));
  EXPECT_EQ(GL_EMIXEDLEN, u->error);
  EXPECT_EQ(-1, _zel_gl_mbscat(u, d, -2, "abc", 3));
  EXPECT_EQ(GL_EBADARG, u->error);
  strcpy(d, "ab");
  EXPECT_EQ(5, _zel_gl_mbscat(u, d, 2, "\xc3\xa9z", 3));
  strcpy(d, "ab");
  EXPECT_EQ(5, _zel_gl_mbscat(u, d, -1, "cd", -1));
  EXPECT_STREQ("abcd", d);

  memset(d, 'x', sizeof d);
  EXPECT_EQ(2, _zel_gl_mbsncpy(u, d, "abc", -1, 2));
  EXPECT_STREQ("ab", d);
  memset(d, 'x', sizeof d);
  EXPECT_EQ(3, _zel_gl_mbsncpy(u, d, "a\xc3\xa9zz", 5, 2));
  EXPECT_EQ('x', d[3]);
  EXPECT_EQ(-1, _zel_gl_mbsncpy(u, d, "ab\xff", 3, 2));  // invalid right after
  EXPECT_EQ(5, _zel_gl_mbsncpy(u, d, "a\xc3\xa9zz", 5, -1));

  strcpy(d, "ab");
  EXPECT_EQ(4, _zel_gl_mbsncat(u, d, -1, "cde", -1, 2));
  EXPECT_STREQ("abcd", d);
  EXPECT_EQ(5, _zel_gl_mbsncat(u, d, 2, "\xc3\xa9z", 3, 2));

  // The two-byte locale: terminators of two bytes.
  char w[16];
  memset(w, 'x', sizeof w);
  EXPECT_EQ(w, gl_full_mbscpy(t, w, "\0a\0b\0\0"));
  EXPECT_EQ(0, memcmp(w, "\0a\0b\0\0x", 7));
}

TEST_F(MbString, WideCopies) {
  const GlWchar ab[] = {'a', 'b', 0};
  GlWchar d[8];
  for (auto &x : d) x = 0xff;
  EXPECT_EQ(d, gl_wcsncpy(d, ab, 4));
  EXPECT_EQ(0u, d[2]);
  EXPECT_EQ(0u, d[3]);
  EXPECT_EQ(0xffu, d[4]);
  for (auto &x : d) x = 0xff;
  gl_wcsncpy(d, ab, 2);
  EXPECT_EQ(0xffu, d[2]);  // no terminator at n = length
  gl_wcscpy(d, ab);
  gl_wcscat(d, ab);
  EXPECT_EQ(4, gl_wcslen(d));
  gl_wcsncat(d, ab, 1);
  EXPECT_EQ(5, gl_wcslen(d));

  EXPECT_EQ(-1, _zel_gl_wcscat(nullptr, nullptr, 0, ab, 2));  // no locale, no error
  EXPECT_EQ(-1, _zel_gl_wcscat(u, d, -1, ab, 2));
  EXPECT_EQ(GL_EMIXEDLEN, u->error);
  EXPECT_EQ(2, _zel_gl_wcscpy(u, d, ab, -1));
  EXPECT_EQ(3, _zel_gl_wcscat(u, d, 2, ab, 1));
  EXPECT_EQ(2, _zel_gl_wcscat(u, d, 2, ab, 0));
  EXPECT_EQ(1, _zel_gl_wcsncpy(u, d, ab, 2, 1));
  EXPECT_EQ(2, _zel_gl_wcsncpy(u, d, ab, -1, 5));
  EXPECT_EQ(3, _zel_gl_wcsncat(u, d, -1, ab, -1, 1));
  EXPECT_EQ(3, _zel_gl_wcsncat(u, d, 3, ab, 2, 0));
}

TEST_F(MbString, CodeValueComparisons) {
  const GlWchar a[] = {1, 0x80000000u, 0}, b[] = {1, 1, 0}, c[] = {1, 0};
  EXPECT_EQ(1, gl_wcscmp(a, b));  // unsigned
  EXPECT_EQ(-1, gl_wcscmp(c, b));
  EXPECT_EQ(0, gl_wcscmp(b, b));
  EXPECT_EQ(0, gl_wcsncmp(a, b, 1));
  EXPECT_EQ(0, gl_wcsncmp(a, b, 0));
  EXPECT_EQ(-1, gl_wcsncmp(c, b, 2));  // 0 - 1
  EXPECT_EQ(1, _zel_gl_wcfscmp(a, 2, b, 2));
  EXPECT_EQ(-1, _zel_gl_wcfscmp(c, 1, b, 2));
  EXPECT_EQ(0, _zel_gl_wcfscmp(b, 1, c, 1));

  EXPECT_EQ(1, gl_full_mbscmp(u, "\xc3\xa9", "z"));  // longer character
  EXPECT_EQ(-1, gl_full_mbscmp(u, "ab", "b"));
  EXPECT_EQ(0, gl_full_mbscmp(l, "ab", "ab"));
  EXPECT_EQ(-1, gl_full_mbscmp(l, "ab", "abc"));
  EXPECT_EQ(0, gl_full_mbsncmp(u, "abX", "abY", 2));
  EXPECT_EQ(1, gl_full_mbsncmp(u, "abc", "ab", 3));
  EXPECT_EQ(0, gl_full_mbsncmp(u, "ab\xff", "ab\xc3\xa9", 3));
  EXPECT_EQ(GL_EILSEQ, u->error);

  EXPECT_EQ(0, _zel_gl_mbscmp(u, "ab", -1, "ab", 3));
  EXPECT_EQ(GL_EMIXEDLEN, u->error);
  EXPECT_EQ(0, _zel_gl_mbscmp(u, "ab", -1, "ab", -1));
  EXPECT_EQ(-1, _zel_gl_mbscmp(u, "ab", -1, "abc", -1));
  EXPECT_LT(_zel_gl_mbscmp(u, "abc", 3, "abd", 3), 0);
  EXPECT_EQ(2, _zel_gl_mbscmp(t, "\0a\0b\0\0", -1, "\0a\0\0", -1));
  EXPECT_EQ(0, _zel_gl_fast_mbscmp(u, "abc", 3, "abc", 3));
  EXPECT_EQ(1, _zel_gl_fast_mbscmp(u, "abc", 3, "abd", 3));
  EXPECT_EQ(1, _zel_gl_fast_mbscmp(u, "abc", 3, "abc", 2));
}

}  // namespace
