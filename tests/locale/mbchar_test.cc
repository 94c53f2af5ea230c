// The character layer, classes and case on the generated locales: the edge
// cases of lengths, budgets, terminators, decoding, encoding and the string
// conversions.
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "locale/core/gl_ctype.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_glu.h"
#include "locale/core/gl_mbchar.h"
#include "tests/locale/lco_fixture.h"

namespace {

using lcotest::Generated;

TEST(MbChar, LengthsBudgetsAndTheNulCharacter) {
  GlLocale *u = Generated("utf8");
  ASSERT_NE(nullptr, u);
  struct Case {
    const char *s;
    int32_t n, full, zel, error;
  } cases[] = {
      {"", 4, 0, 1, 0},              // NUL: 0, but its real length counted
      {"A", 0, -1, -1, GL_ESHORT},   // no budget
      {"\xe4\xb8\xad", 1, -1, -1, GL_ESHORT},  // lead byte alone in the budget
      {"\xe4\xb8\xad", 3, 3, 3, 0},
      {"\xe4\x41", 4, -1, -1, GL_EILSEQ},
      {"\x80", 4, -1, -1, GL_EILSEQ},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.s);
    u->error = 0;
    EXPECT_EQ(c.full, gl_full_mblen(u, c.s, c.n));
    EXPECT_EQ(c.zel, _zel_gl_full_mblen(u, c.s, c.n));
    EXPECT_EQ(c.error, u->error);
  }
  EXPECT_EQ(0, gl_full_mblen(u, nullptr, 4));

  GlMblInfo info;
  EXPECT_EQ(0, _zel_gl_getmbl(u, &info));
  EXPECT_EQ(3, _zel_gl_fast_mblen(&info, "\xe4\xb8\xad"));
  EXPECT_EQ(0, _zel_gl_fast_mblen(&info, ""));
  EXPECT_EQ(4, _zel_gl_fast_mblen(&info, "\xf0\x9f\x98\x80"));
  EXPECT_EQ(-1, _zel_gl_fast_mblen(&info, "\xf0\x9f\x98\x41"));  // bad fourth byte
  EXPECT_EQ(-1, _zel_gl_fast_mblen(&info, "\xff"));
}

TEST(MbChar, DecodeAndEncode) {
  GlLocale *u = Generated("utf8");
  ASSERT_NE(nullptr, u);
  GlWchar wc = 0;
  EXPECT_EQ(3, gl_full_mbtowc(u, &wc, "\xe4\xb8\xad", 3));
  EXPECT_EQ(0xE4B8ADu, wc);
  char out[4] = {};
  EXPECT_EQ(3, gl_full_wctomb(u, out, 0xE4B8AD));
  EXPECT_EQ(0, memcmp(out, "\xe4\xb8\xad", 3));
  EXPECT_EQ(1, gl_full_wctomb(u, out, 0x41));
  EXPECT_EQ('A', out[0]);
  // A valid first byte, then an invalid one: the first stays written.
  memset(out, 0, sizeof out);
  EXPECT_EQ(-1, gl_full_wctomb(u, out, 0xE441));
  EXPECT_EQ(GL_EILSEQ, u->error);
  EXPECT_EQ('\xe4', out[0]);
  EXPECT_EQ(-1, gl_wclen(u, 0xE441));
  EXPECT_EQ(3, gl_wclen(u, 0xE4B8AD));

  // n = -1: refused by gl_full_mbtowc, NUL-terminated for the counted form.
  u->error = 0;
  EXPECT_EQ(-1, gl_full_mbtowc(u, &wc, "A", -1));
  EXPECT_EQ(GL_ESHORT, u->error);
  EXPECT_EQ(3, _zel_gl_full_mbtowc(u, &wc, "\xe4\xb8\xad" "B", -1));
  EXPECT_EQ(0xE4B8ADu, wc);
  EXPECT_EQ(-1, _zel_gl_full_mbtowc(u, &wc, "", -1));
  EXPECT_EQ(GL_ESHORT, u->error);
  EXPECT_EQ(0, _zel_gl_full_mbtowc(u, &wc, nullptr, 4));

  uint32_t bits = 99;
  EXPECT_EQ(1, _zel_gl_full_mbdescribe(u, &wc, " ", &bits, 0xffff, 4));
  EXPECT_EQ(uint32_t{GL_CLASS_SPACE}, bits & GL_CLASS_SPACE);
  EXPECT_EQ(1, _zel_gl_full_mbdescribe(u, &wc, " ", &bits, GL_CLASS_ALPHA, 4));
  EXPECT_EQ(0u, bits);
  bits = 99;
  EXPECT_EQ(-1, _zel_gl_full_mbdescribe(u, &wc, "\xff", &bits, 0xffff, 4));
  EXPECT_EQ(0u, bits);
}

TEST(MbChar, TwoByteTerminator) {
  GlLocale *t = Generated("tst");
  ASSERT_NE(nullptr, t);
  EXPECT_EQ(2, gl_mb_loc_min(t));
  EXPECT_EQ(2, gl_mb_loc_max(t));
  EXPECT_EQ(0, gl_ismbsterm(t, "\0A"));
  EXPECT_EQ(2, gl_ismbsterm(t, "\0\0"));
  EXPECT_EQ(0, gl_ismbsterm(t, "A\0"));
  char term[3] = {'x', 'x', 'x'};
  EXPECT_EQ(2, gl_mbsterm(t, term));
  EXPECT_EQ(0, memcmp(term, "\0\0x", 3));
  char out[4] = {};
  EXPECT_EQ(2, gl_full_wctomb(t, out, 0x41));
  EXPECT_EQ(0, memcmp(out, "\0A", 2));
  EXPECT_EQ(0, gl_full_mblen(t, "\0\0", 2));
  EXPECT_EQ(2, _zel_gl_full_mblen(t, "\0\0", 2));
  EXPECT_EQ(2, gl_full_mblen(t, "\0A", 2));
  EXPECT_EQ(-1, gl_full_mblen(t, "\0A", 1));

  // A string of two characters and its terminator, to wide and back.
  const char s[] = "\0A\x30\x42\0\0";
  GlWchar w[4] = {9, 9, 9, 9};
  EXPECT_EQ(2, _gl_im_mbstowcs(t, w, s, 4));
  EXPECT_EQ(0x41u, w[0]);
  EXPECT_EQ(0x3042u, w[1]);
  EXPECT_EQ(0u, w[2]);
  char back[8];
  memset(back, 'x', sizeof back);
  EXPECT_EQ(4, gl_full_wcstombs(t, back, w, 8));
  EXPECT_EQ(0, memcmp(back, s, 6));
}

TEST(MbChar, StringConversions) {
  GlLocale *u = Generated("utf8");
  GlLocale *l = Generated("8859-1");
  ASSERT_NE(nullptr, u);
  ASSERT_NE(nullptr, l);
  GlWchar w[8];

  // Single-byte: capacity reached writes no terminator.
  memset(w, 0xff, sizeof w);
  EXPECT_EQ(3, _zel_gl_is_mbfstowcfs(l, w, "abcdef", -1, 3));
  EXPECT_EQ(0xffffffffu, w[3]);
  EXPECT_EQ(2, _zel_gl_is_mbfstowcfs(l, w, "ab", -1, 3));
  EXPECT_EQ(0u, w[2]);
  EXPECT_EQ(2, _zel_gl_is_mbfstowcfs(l, w, "\xe9\xff", 2, 8));
  EXPECT_EQ(0xffu, w[1]);

  // Multibyte: a character cut by the end of counted input is error 1.
  EXPECT_EQ(-1, _zel_gl_im_mbfstowcfs(u, w, "a\xc3", 2, 8));
  EXPECT_EQ(GL_EILSEQ, u->error);
  EXPECT_EQ(2, _zel_gl_im_mbfstowcfs(u, w, "a\xc3\xa9", 3, 8));
  EXPECT_EQ(0xC3A9u, w[1]);
  EXPECT_EQ(2, _zel_gl_im_mbfstowcfs(u, w, "abc", -1, 2));  // capacity
  memset(w, 0xff, sizeof w);
  for (auto fn : {_zel_gl_im_mbfstowcfs, _zel_gl_is_mbfstowcfs}) {
    EXPECT_EQ(0, fn(u, w, "abc", 0, 8));
  }
  EXPECT_EQ(0xffffffffu, w[0]);

  // Wide to multibyte: no room for the next character is no error.
  const GlWchar chinese[] = {0x41, 0xE4B8AD, 0};
  char out[8];
  memset(out, 'x', sizeof out);
  u->error = 0;
  EXPECT_EQ(1, gl_full_wcstombs(u, out, chinese, 3));
  EXPECT_EQ(0, u->error);
  EXPECT_EQ('x', out[1]);
  EXPECT_EQ(4, gl_full_wcstombs(u, out, chinese, 8));
  EXPECT_EQ(0, memcmp(out, "A\xe4\xb8\xad", 5));
  EXPECT_EQ(0, _zel_gl_full_wcstombs(u, out, chinese, 0, 8));

  // Single-byte: a value above 255 has no form, in either function.
  const GlWchar wide[] = {0x41, 0x100, 0};
  EXPECT_EQ(-1, _gl_is_wcstombs(l, out, wide, 8));
  EXPECT_EQ(GL_EILSEQ, l->error);
  EXPECT_EQ(-1, gl_full_wcstombs(l, out, wide, 8));
  EXPECT_EQ(GL_EILSEQ, l->error);
  EXPECT_EQ(1, gl_wclen(l, 0x1234));
  const GlWchar latin[] = {0xe9, 0x41, 0};
  EXPECT_EQ(2, _gl_is_wcstombs(l, out, latin, 8));
  EXPECT_STREQ("\xe9" "A", out);
}

TEST(Ctype, ClassNamesAndTests) {
  GlLocale *u = Generated("utf8");
  ASSERT_NE(nullptr, u);
  EXPECT_EQ(0x000Cu, gl_ctype(u, "alnum"));
  EXPECT_EQ(0u, gl_ctype(u, "ALPHA"));
  EXPECT_EQ(0x0800u, gl_ctype(u, "full_width"));
  EXPECT_EQ(0u, gl_ctype(u, "fancy"));
  EXPECT_NE(0u, _gl_im_iswctype(u, '7', gl_ctype(u, "alpha") | gl_ctype(u, "digit")));
  EXPECT_NE(0u, _gl_im_ismctype(u, "\xe4\xb8\xad", gl_ctype(u, "full_width")));
  EXPECT_EQ(0u, _gl_im_ismctype(u, "A", gl_ctype(u, "full_width")));
  u->error = 0;
  EXPECT_EQ(0u, _zel_gl_im_ismctype(u, "\xe4\xb8\xad", 2, 0xffff));
  EXPECT_EQ(GL_ESHORT, u->error);
  EXPECT_EQ(0u, _gl_im_iswctype(u, 0xE441, 0xffff));
  EXPECT_EQ(GL_EILSEQ, u->error);
}

TEST(Ctype, CaseOfCharacters) {
  GlLocale *u = Generated("utf8");
  ASSERT_NE(nullptr, u);
  EXPECT_EQ(0xC389u, _gl_im_towupper(u, 0xC3A9));  // é -> É
  EXPECT_EQ(0xC3A9u, _gl_im_towlower(u, 0xC389));
  EXPECT_EQ(0x31u, _gl_im_towupper(u, 0x31));      // index 0
  EXPECT_EQ(0xC3A9u, _gl_im_towlower(u, 0xC3A9));  // lower member is itself
  EXPECT_EQ(0xE441u, _gl_im_towupper(u, 0xE441));  // invalid: itself
  char out[8] = {};
  // U+023F (2 bytes) upper-cases to U+2C7E (3 bytes).
  EXPECT_EQ(0x0203, _gl_im_tomupper(u, out, "\xc8\xbf"));
  EXPECT_EQ(0, memcmp(out, "\xe2\xb1\xbe", 3));
  EXPECT_EQ(0x0101, _gl_im_tomupper(u, out, "1"));
  EXPECT_EQ(0x0202, _zel_gl_im_tomlower(u, out, "\xc3\x89", 2));
  EXPECT_EQ(0, memcmp(out, "\xc3\xa9", 2));
  memset(out, 'x', sizeof out);
  EXPECT_EQ(0, _zel_gl_im_tomupper(u, out, "\xc3\xa9", 1));
  EXPECT_EQ('x', out[0]);
}

TEST(Ctype, CaseOfStrings) {
  GlLocale *u = Generated("utf8");
  GlLocale *l = Generated("8859-1");
  GlLocale *t = Generated("tst");
  ASSERT_TRUE(u && l && t);
  char out[32];
  memset(out, 'x', sizeof out);
  EXPECT_EQ(4, gl_tombsupper(l, out, "ab\xe9z"));
  EXPECT_STREQ("AB\xc9Z", out);
  EXPECT_EQ(2, _zel_gl_tombslower_len(l, out, "ABCD", 2));
  EXPECT_STREQ("ab", out);

  EXPECT_EQ(5, gl_tombsupper(u, out, "a\xc8\xbf" "b"));
  EXPECT_STREQ("A\xe2\xb1\xbe" "B", out);
  EXPECT_EQ(-1, gl_tombsupper(u, out, "a\xff"));
  EXPECT_EQ(GL_EILSEQ, u->error);
  EXPECT_EQ(3, _zel_gl_tombsupper_len(u, out, "a\xc3\xa9zz", 3));
  EXPECT_STREQ("A\xc3\x89", out);
  // The last character cut by the count is not read past it.
  EXPECT_EQ(-1, _zel_gl_tombsupper_len(u, out, "a\xc3\xa9", 2));

  // In the two-byte locale the terminator written has two bytes.
  memset(out, 'x', sizeof out);
  EXPECT_EQ(2, gl_tombsupper(t, out, "\0a\0\0"));
  EXPECT_EQ(0, memcmp(out, "\0A\0\0x", 5));

  GlWchar w[4];
  const GlWchar in[] = {0x61, 0xC3A9, 0};
  EXPECT_EQ(0, gl_towcsupper(u, w, in));
  EXPECT_EQ(0x41u, w[0]);
  EXPECT_EQ(0xC389u, w[1]);
  EXPECT_EQ(0u, w[2]);
  const GlWchar big[] = {0x61, 0x100, 0};
  EXPECT_EQ(-1, gl_towcsupper(l, w, big));
  EXPECT_EQ(GL_EILSEQ, l->error);
}

TEST(Ctype, CaseBufferLength) {
  GlLocale *raw = nullptr;
  ASSERT_EQ(0, gl_create_null_locale_4(&raw));
  lcotest::LocalePtr loc(raw);
  for (auto [factor, want] : {std::pair{1.5, 20}, {2.0, 20}, {1.0, 10}, {4.0, 40}}) {
    raw->case_factor = factor;
    EXPECT_EQ(want, gl_case_conv_outbuflen(raw, 10)) << factor;
  }
  EXPECT_EQ(10, gl_case_conv_outbuflen(Generated("utf8"), 5));  // factor 1.5
}

// The ICU road: a wrapper that serves LC_CTYPE gets the call and its status
// becomes the error number.
int32_t FakeMblen(GluHandle, const char *, int32_t n, GluStatus *st) {
  *st = 33;
  return n + 100;
}

TEST(MbChar, IcuRoad) {
  GlLocale *raw = nullptr;
  ASSERT_EQ(0, gl_create_null_locale_4(&raw));
  lcotest::LocalePtr loc(raw);
  GlGluApi *api = _gl_glu_bind_area();
  GlGluApi saved = *api;
  api->mblen = FakeMblen;
  _gl_glu_set_bound(1);
  raw->icu_in_use[0] = 1;
  EXPECT_EQ(0, gl_full_mblen(raw, nullptr, 4));  // NULL before the road
  EXPECT_EQ(104, gl_full_mblen(raw, "a", 4));
  EXPECT_EQ(33, raw->error);
  raw->icu_in_use[0] = 0;
  _gl_glu_set_bound(0);
  *api = saved;
}

}  // namespace
