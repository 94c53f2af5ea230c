// Display widths: the defined edge cases, and every character of the UTF-8
// locale against the C library's wcwidth in C.UTF-8.
#include <locale.h>
#include <wchar.h>

#include <gtest/gtest.h>

#include "locale/core/gl_width.h"
#include "tests/locale/format_fixture.h"

namespace {

using fmttest::EnUs;
using fmttest::EnUsUtf8;

// The wide value of a code point in the UTF-8 locale: its bytes read as one
// big-endian number.
GlWchar Utf8Wide(uint32_t cp) {
  if (cp < 0x80) return cp;
  if (cp < 0x800) return ((0xC0 | (cp >> 6)) << 8) | (0x80 | (cp & 0x3F));
  if (cp < 0x10000) {
    return ((0xE0 | (cp >> 12)) << 16) | ((0x80 | ((cp >> 6) & 0x3F)) << 8) | (0x80 | (cp & 0x3F));
  }
  return ((0xF0u | (cp >> 18)) << 24) | ((0x80 | ((cp >> 12) & 0x3F)) << 16) |
         ((0x80 | ((cp >> 6) & 0x3F)) << 8) | (0x80 | (cp & 0x3F));
}

TEST(WidthTest, EdgeCases) {
  GlLocale *loc = EnUs();
  EXPECT_EQ(0, gl_wcwidth(loc, 0));
  EXPECT_EQ(1, gl_wcwidth(loc, 'a'));
  loc->error = 0;
  EXPECT_EQ(-1, gl_wcwidth(loc, 0x01));
  EXPECT_EQ(7, loc->error);
  // A wide value above 255 in a single-byte locale is in no class.
  EXPECT_EQ(-1, gl_wcwidth(loc, 0x4E2D));
  EXPECT_EQ(7, loc->error);

  EXPECT_EQ(0, gl_mbwidth(loc, ""));
  EXPECT_EQ(1, gl_mbwidth(loc, "\t"));
  loc->error = 0;
  EXPECT_EQ(-1, gl_mbwidth(loc, nullptr));
  EXPECT_EQ(2, loc->error);
  EXPECT_EQ(-1, gl_mbswidth(loc, "a\tb", 3));
  EXPECT_EQ(7, loc->error);
  EXPECT_EQ(0, gl_mbswidth(loc, "abc", 0));
  EXPECT_EQ(-1, gl_mbswidth(loc, "abc", -1));
  EXPECT_EQ(4, loc->error);
  EXPECT_EQ(3, gl_mbswidth(loc, "abc", 10));
  const char *s = "abcdef";
  EXPECT_EQ(0, gl_mbspwidth(loc, s, s));
  EXPECT_EQ(4, gl_mbspwidth(loc, s, s + 4));
  EXPECT_EQ(-1, gl_mbspwidth(loc, s + 2, s));
  EXPECT_EQ(5, loc->error);
  const GlWchar ws[] = {'a', 'b', 0};
  EXPECT_EQ(2, gl_wcswidth(loc, ws, 5));
  EXPECT_EQ(1, gl_wcspwidth(loc, ws, ws + 1));
  EXPECT_EQ(-1, gl_wcspwidth(loc, ws + 1, ws));
  EXPECT_EQ(5, loc->error);

  // UTF-8: a two-byte control character (U+0085) has no width, also alone;
  // a wide character is 2 columns.
  GlLocale *u = EnUsUtf8();
  u->error = 0;
  EXPECT_EQ(-1, gl_mbwidth(u, "\xC2\x85"));
  EXPECT_EQ(7, u->error);
  EXPECT_EQ(2, gl_mbwidth(u, "\xE4\xB8\xAD"));
  EXPECT_EQ(5, gl_mbswidth(u, "a\xE4\xB8\xAD\xE6\x96\x87", 3));
  EXPECT_EQ(1, gl_mbswidth(u, "\xCC\x81", 1));  // a combining mark: 1 here
  // A character cut by the terminator fails its step.
  EXPECT_EQ(-1, gl_mbswidth(u, "\xE4\xB8", 1));
  // No map file is read without the ICU back end: a non-printable
  // character stays without width.
  setenv("ZEL_PUA_DISPLAY_MAPPING", "1", 1);
  EXPECT_EQ(-1, gl_mbwidth(u, "\xC2\x85"));
  unsetenv("ZEL_PUA_DISPLAY_MAPPING");
}

// Every code point against wcwidth in C.UTF-8. Defined differences: a
// character the C library gives 0 columns (combining marks, format
// characters) has its class width here (1, or 2 for a wide one). The C
// library also widens two blocks whose East Asian width is ambiguous or
// neutral (circled numbers U+3248-324F, the hexagram symbols U+4DC0-4DFF);
// the locale data follows the East Asian width property.
TEST(WidthTest, EveryCodePointMatchesTheCLibrary) {
  GlLocale *u = EnUsUtf8();
  locale_t c = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  ASSERT_NE(c, static_cast<locale_t>(nullptr));
  locale_t old = uselocale(c);
  int compared = 0, mismatched = 0;
  std::string examples;
  for (uint32_t cp = 1; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    int want = wcwidth(static_cast<wchar_t>(cp));
    int got = gl_wcwidth(u, Utf8Wide(cp));
    bool ok = got == want || (want == 0 && got >= 1) ||
              (want == 2 && got == 1 &&
               ((cp >= 0x3248 && cp <= 0x324F) || (cp >= 0x4DC0 && cp <= 0x4DFF)));
    ++compared;
    if (!ok) {
      ++mismatched;
      if (examples.size() < 400) {
        examples += " U+" + std::to_string(cp) + ":" + std::to_string(got) + "/" +
                    std::to_string(want);
      }
    }
  }
  uselocale(old);
  freelocale(c);
  EXPECT_EQ(0, mismatched) << examples;
  EXPECT_EQ(1112063, compared);
}

}  // namespace
