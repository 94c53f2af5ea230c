// Pass directions, collating elements, primary neighbours and bound
// strings over hand-written collations, and the Thai rules.
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "locale/core/gl_collbound.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_lco.h"
#include "locale/core/gl_sortkey.h"
#include "locale/core/gl_strcoll.h"
#include "locale/core/gl_thai.h"
#include "tests/locale/coll_fixture.h"

namespace {

using colltest::CollDesc;
using colltest::LocalePtr;
using colltest::Key;
using colltest::Sign;
using colltest::Wide;

CollDesc WithElements() {
  CollDesc d = colltest::Latin();
  colltest::AddElements(&d);
  return d;
}

TEST(CollQueries, PassDirectionsElementsAndSpecialLocales) {
  LocalePtr back = colltest::Load(colltest::Latin({1, 2, 1}));
  GlLocale *l = back.get();
  struct Dir {
    int32_t pass, want, error;
  } dirs[] = {{1, 1, 0}, {2, 2, 0}, {3, 1, 0}, {0, -1, GL_ENEGATIVE}, {4, -1, GL_ENEGATIVE}};
  for (const Dir &d : dirs) {
    l->error = 0;
    EXPECT_EQ(d.want, gl_getpassdirection(l, d.pass)) << d.pass;
    EXPECT_EQ(d.error, l->error) << d.pass;
  }
  l->coll_direction[0] = 3;
  EXPECT_EQ(-1, gl_getpassdirection(l, 1));
  EXPECT_EQ(GL_ECODESET, l->error);
  EXPECT_EQ(-1, gl_getpassdirection(nullptr, 1));
  EXPECT_EQ(0, gl_IsSpecialLocale(l));

  LocalePtr elem = colltest::Load(WithElements());
  struct Unit {
    const char *s;
    int32_t complen, iscomp;
  } units[] = {{"c", 0, 3}, {"ch", 2, 2}, {"cha", 2, 1}, {"cc", 2, 2}, {"ca", 0, 1},
               {"a", 0, 1}, {"", 0, 1}, {"hc", 0, 1}};
  for (const Unit &u : units) {
    EXPECT_EQ(u.complen, zel_gl_complen(elem.get(), u.s)) << u.s;
    EXPECT_EQ(u.iscomp, gl_iscompchar(elem.get(), u.s)) << u.s;
  }
  elem->error = 0;
  EXPECT_EQ(-1, gl_iscompchar(elem.get(), nullptr));
  EXPECT_EQ(GL_ENULLARG, elem->error);
  EXPECT_EQ(-1, zel_gl_complen(elem.get(), nullptr));

  LocalePtr thai = colltest::LoadWhole("th_th/e01d.lco");
  EXPECT_EQ(1, gl_IsSpecialLocale(thai.get()));
  EXPECT_EQ(-1, gl_getpassdirection(thai.get(), 1));
  EXPECT_EQ(GL_ETHAI, thai->error);
}

TEST(CollQueries, NeighboursInPrimaryOrder) {
  LocalePtr elem = colltest::Load(WithElements());
  GlLocale *l = elem.get();
  char out[64];
  // The next primary after b is c's; the element "cc" has that primary
  // too, so no single character of it is taken: the element is.
  EXPECT_EQ(1, gl_nextprimweight(l, "b", 1, out));
  EXPECT_STREQ("cc", out);
  EXPECT_EQ(1, gl_nextprimweight(l, "a", 1, out));
  EXPECT_STREQ("B", out);
  EXPECT_EQ(1, gl_prevprimweight(l, "b", 1, out));
  EXPECT_STREQ("A", out);
  // Nothing lies above h.
  EXPECT_EQ(-2, gl_nextprimweight(l, "h", 1, out));
  // Below the lowest key (byte 2: weight 2, code 2) there is only the NUL
  // character's empty key. (Byte 1's code wraps to a high digit.)
  EXPECT_EQ(0, gl_prevprimweight(l, "\x02", 1, out));
  EXPECT_STREQ("", out);
  // "c" begins the elements "ch" and "cc": the search starts from the
  // nearest of them and ends on d.
  EXPECT_EQ(1, gl_nextprimweight(l, "c", 0, out));
  EXPECT_STREQ("D", out);
  // The complete flag must match the unit.
  EXPECT_EQ(-1, gl_nextprimweight(l, "c", 1, out));
  EXPECT_EQ(GL_EBADARG, l->error);
  EXPECT_EQ(-1, gl_nextprimweight(l, "a", 0, out));
  EXPECT_EQ(-1, gl_nextprimweight(l, nullptr, 1, out));
  EXPECT_EQ(GL_ENULLARG, l->error);
}

TEST(CollBound, EdgeCasesOfTheBoundStrings) {
  LocalePtr elem = colltest::Load(WithElements());
  GlLocale *l = elem.get();
  char out[64];
  EXPECT_EQ(3, gl_mbsCollBound(l, "ab", 1, out, sizeof out));
  EXPECT_STREQ("acc", out);
  EXPECT_EQ(2, gl_mbsCollBound(l, "ab", 0, out, sizeof out));
  EXPECT_STREQ("aA", out);
  // The highest character: -2 and the prefix unchanged.
  EXPECT_EQ(-2, gl_mbsCollBound(l, "ah", 1, out, sizeof out));
  EXPECT_STREQ("ah", out);
  // The lowest: its neighbour is empty, the last unit goes.
  EXPECT_EQ(1, gl_mbsCollBound(l, "a\x02", 0, out, sizeof out));
  EXPECT_STREQ("a", out);
  // A prefix ending in the first character of an element.
  EXPECT_EQ(2, gl_mbsCollBound(l, "ac", 1, out, sizeof out));
  EXPECT_STREQ("aD", out);
  // n + 1 bytes are needed for a prefix of n.
  EXPECT_EQ(-1, gl_mbsCollBound(l, "abc", 1, out, 3));
  EXPECT_EQ(GL_E2BIG, l->error);
  EXPECT_EQ(-1, gl_mbsCollBound(l, "abb", 1, out, 4));  // the element does not fit
  EXPECT_EQ(GL_E2BIG, l->error);
  EXPECT_EQ(3, gl_mbsCollBound(l, "aba", 1, out, 4));
  // The output may be the prefix itself.
  strcpy(out, "ab");
  EXPECT_EQ(3, gl_mbsCollBound(l, out, 1, out, sizeof out));
  EXPECT_STREQ("acc", out);
  EXPECT_EQ(-1, gl_mbsCollBound(l, nullptr, 1, out, sizeof out));
  EXPECT_EQ(GL_ENULLARG, l->error);
  // The key bound is the key of the bound string, or of the prefix after -2.
  char key[128];
  int32_t n = gl_mbsSortKeyCollBound(l, "ab", 1, key, sizeof key);
  EXPECT_EQ(Key(l, "acc"), std::string(key, static_cast<size_t>(n)));
  n = gl_mbsSortKeyCollBound(l, "ah", 1, key, sizeof key);
  EXPECT_EQ(Key(l, "ah"), std::string(key, static_cast<size_t>(n)));
}

// For random prefixes p of letters and strings s that begin with p, the
// bounds bracket s, as strings and as keys.
void CheckBracketing(GlLocale *l, const std::string &letters, const std::string &tail,
                     const char *name) {
  std::mt19937 rng(3301);
  int failures = 0;
  for (int i = 0; i < 400 && failures < 5; ++i) {
    std::string p = colltest::RandomString(rng, letters, 4);
    if (p.empty()) continue;
    std::string s = p + colltest::RandomString(rng, tail, 5);
    char lo[128], hi[128];
    int32_t rl = gl_mbsCollBound(l, p.c_str(), 0, lo, sizeof lo);
    int32_t ru = gl_mbsCollBound(l, p.c_str(), 1, hi, sizeof hi);
    ASSERT_NE(-1, rl) << name << " " << p << " error " << l->error;
    ASSERT_NE(-1, ru) << name << " " << p << " error " << l->error;
    std::vector<GlWchar> ws = Wide(s), wl = Wide(lo), wh = Wide(hi);
    std::string ks = Key(l, s);
    if (rl != -2) {
      if (gl_full_wcscoll(l, wl.data(), ws.data()) > 0 || Key(l, lo) > ks) {
        ++failures;
        ADD_FAILURE() << name << ": lower \"" << lo << "\" above \"" << s << "\"";
      }
    }
    if (ru != -2) {
      char kb[512];
      int32_t kn = gl_mbsSortKeyCollBound(l, p.c_str(), 1, kb, sizeof kb);
      if (gl_full_wcscoll(l, ws.data(), wh.data()) > 0 ||
          std::string(kb, static_cast<size_t>(kn)) < ks) {
        ++failures;
        ADD_FAILURE() << name << ": upper \"" << hi << "\" below \"" << s << "\"";
      }
    }
  }
}

TEST(CollBound, BoundsBracketTheStringsOfTheirPrefix) {
  const std::string letters = "abcdefgABCDEh\xe0\xe8\xe9";
  LocalePtr plain = colltest::Load(colltest::Latin({1, 2, 1}));
  CheckBracketing(plain.get(), letters, letters + " -01", "backward");
  LocalePtr elem = colltest::Load(WithElements());
  CheckBracketing(elem.get(), letters, letters + "chch", "elements");
  CollDesc exp = colltest::Latin();
  colltest::AddExpansions(&exp);
  LocalePtr x = colltest::Load(exp);
  CheckBracketing(x.get(), letters, letters + "xyz", "expansions");
  // The collations taken from the C library's sources: expansions (sharp s,
  // ae) and the elements "L\xb7" and "l\xb7".
  std::string latin;
  for (int b = 0xC0; b <= 0xFF; ++b) {
    if (b != 0xD7 && b != 0xF7) latin += static_cast<char>(b);
  }
  for (const char *file : {"en_us/0333.lco", "de_de/0333.lco"}) {
    LocalePtr loc = colltest::LoadWhole(file);
    CheckBracketing(loc.get(), "abcLlsSz\xdf\xe6\xe9\xc9" + latin, "abcl\xb7sz\xe6 -" + latin,
                    file);
  }
}

TEST(CollBound, ElementsOfTheLatinCollation) {
  LocalePtr en = colltest::LoadWhole("en_us/0333.lco");
  GlLocale *l = en.get();
  ASSERT_EQ(_gl_is_mbscoll_exp_elem, l->mbscoll);
  EXPECT_EQ(3, gl_iscompchar(l, "L"));
  EXPECT_EQ(2, gl_iscompchar(l, "l\xb7"));
  EXPECT_EQ(2, zel_gl_complen(l, "L\xb7x"));
  for (int pass = 1; pass <= 4; ++pass) EXPECT_EQ(1, gl_getpassdirection(l, pass));
  // A prefix ending in L is bounded through the element L\xb7: the upper
  // bound lies above "AL\xb7z", the lower below "AL".
  char hi[16], lo[16];
  ASSERT_GT(gl_mbsCollBound(l, "AL", 1, hi, sizeof hi), 0);
  ASSERT_GT(gl_mbsCollBound(l, "AL", 0, lo, sizeof lo), 0);
  EXPECT_LT(l->mbscoll(l, "AL\xb7z", hi), 0) << hi;
  EXPECT_LT(l->mbscoll(l, "ALz", hi), 0) << hi;
  EXPECT_LT(l->mbscoll(l, lo, "AL"), 0) << lo;
}

// ---- Thai ----

GlLocale *Thai() {
  static LocalePtr thai = colltest::LoadWhole("th_th/e01d.lco");
  return thai.get();
}

TEST(Thai, Cases) {
  GlLocale *t = Thai();
  ASSERT_EQ(GL_COLL_THAI, t->coll_kind);
  EXPECT_EQ(_gl_thaismocoll, t->mbscoll);
  EXPECT_EQ(_zel_gl_thaismoncoll, t->mbfscoll);
  EXPECT_EQ(_gl_thaismoxfrm, t->mbsxfrm);
  // A leading vowel decides only between equal consonants.
  const char *ascending[] = {"\xa1", "\xe0\xa1", "\xa2", "\xa2\xe8", "\xa2\xe9", "\xe1\xa2"};
  for (size_t i = 0; i + 1 < sizeof ascending / sizeof *ascending; ++i) {
    EXPECT_LT(_gl_thaismocoll(t, ascending[i], ascending[i + 1]), 0) << i;
    EXPECT_GT(_gl_thaismocoll(t, ascending[i + 1], ascending[i]), 0) << i;
  }
  // Trailing blanks are ignored.
  EXPECT_EQ(0, _gl_thaismocoll(t, "\xa1\xa2  ", "\xa1\xa2"));
  EXPECT_EQ(0, _zel_gl_thaismoncoll(t, "\xa1\xa2  x", 4, "\xa1\xa2", 2));
  // The key of a consonant with a tone mark: the consonant, position 2,
  // the mapped tone.
  char key[8];
  memset(key, 'Z', sizeof key);
  EXPECT_EQ(3, _gl_thaismoxfrm(t, key, "\xa1\xe8", sizeof key));
  EXPECT_EQ(std::string("\xa1\x02\x8f\0\0\0\0\0", 8), std::string(key, 8));
  // A leading vowel goes after its consonant; two in a row keep their order
  // reversed.
  EXPECT_EQ(2, _gl_thaismoxfrm(t, key, "\xe0\xa1", sizeof key));
  EXPECT_EQ(std::string("\xa1\xe0", 2), std::string(key, 2));
  // Keys over 255 bytes are refused.
  std::string longest(255, '\xa1'), too_long(256, '\xa1');
  EXPECT_EQ(255, _gl_thaismoxfrm(t, nullptr, longest.c_str(), 0));
  EXPECT_EQ(-1, _gl_thaismoxfrm(t, nullptr, too_long.c_str(), 0));
  // The wide comparator and gl_wcsxfrm go through the multibyte forms.
  GlWchar w1[] = {0xa1, 0xe8, 0}, w2[] = {0xa1, 0};
  EXPECT_EQ(1, Sign(gl_full_wcscoll(t, w1, w2)));
  EXPECT_EQ(3, gl_wcsxfrm(t, key, w1, sizeof key));

  struct Unit {
    const char *s;
    int32_t complen, iscomp;
  } units[] = {{"\xa1", 1, 2},     {"\xe0", 0, 3},     {"\xe8", 0, 3},  {"\xe0\xa1", 2, 2},
               {"\xa1\xe0", 1, 3}, {"\xd1\xa1", 2, 2}, {"a", 0, 1},     {"", 0, 1},
               {"\xa1\xd1", 1, 1}};
  for (const Unit &u : units) {
    EXPECT_EQ(u.complen, zel_gl_complen(t, u.s)) << u.s;
    EXPECT_EQ(u.iscomp, gl_iscompchar(t, u.s)) << u.s;
  }
}

TEST(Thai, NeighbourTable) {
  GlLocale *t = Thai();
  struct Case {
    const char *unit;
    int32_t complete;
    const char *next, *prev;
  } cases[] = {
      {"\x7f", 1, "\xa1", "\x7e"},          {"\xda", 1, "\xdf", "\xd9"},
      {"\xcf", 1, "\xd0", "\xe4\xce"},      {"\xe5", 1, "\xe6", "\xdf"},
      {"\xa1", 1, "\xe0\xa1", "\x7f"},      {"\xa5", 1, "\xe0\xa5", "\xe4\xa4"},
      {"x\xa1", 1, "x\xe0\xa1", "x\x7f"},   {"\xe2\xa5", 1, "\xe3\xa5", "\xe1\xa5"},
      {"\xe4\xa5", 1, "\xa6", "\xe3\xa5"},  {"\xe0\xa5", 1, "\xe1\xa5", "\xa5"},
      {"\xe0", 0, "\xfb", ""},              {"\xa1\xe0", 0, "\xa1\xfb", "\xa1"},
      {"\xa1\xe8", 0, "\xe0\xa1", "\x7f"},
  };
  for (const Case &c : cases) {
    char out[64];
    int32_t r = gl_nextprimweight(t, c.unit, c.complete, out);
    EXPECT_EQ(1, r) << c.unit;
    EXPECT_STREQ(c.next, out) << c.unit;
    r = gl_prevprimweight(t, c.unit, c.complete, out);
    EXPECT_EQ(c.prev[0] == '\0' ? 0 : 1, r) << c.unit;
    EXPECT_STREQ(c.prev, out) << c.unit;
  }
  char out[64];
  EXPECT_EQ(-1, gl_nextprimweight(t, "\xe0", 1, out));
  EXPECT_EQ(GL_EBADARG, t->error);
}

TEST(Thai, KeysAgreeWithTheComparator) {
  GlLocale *t = Thai();
  // Syllables: a leading vowel before its consonant, a following vowel and
  // a tone mark after it; digits and inner blanks between syllables.
  std::mt19937 rng(144);
  auto syllables = [&rng]() {
    static const std::string cons = "\xa1\xa2\xa3\xb0\xce", lead = "\xe0\xe1\xe4",
                             follow = "\xd1\xd2\xd4", tones = "\xe8\xe9\xeb", other = " 1";
    std::string s;
    for (int n = static_cast<int>(rng() % 4); n > 0; --n) {
      if (rng() % 5 == 0) s += other[rng() % other.size()];
      if (rng() % 3 == 0) s += lead[rng() % lead.size()];
      s += cons[rng() % cons.size()];
      if (rng() % 3 == 0) s += follow[rng() % follow.size()];
      if (rng() % 3 == 0) s += tones[rng() % tones.size()];
    }
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  };
  int failures = 0;
  for (int i = 0; i < 5000 && failures < 5; ++i) {
    std::string a = syllables(), b = syllables();
    char ka[256], kb[256];
    int32_t na = _gl_thaismoxfrm(t, ka, a.c_str(), sizeof ka);
    int32_t nb = _gl_thaismoxfrm(t, kb, b.c_str(), sizeof kb);
    int c = memcmp(ka, kb, static_cast<size_t>(std::min(na, nb)));
    if (c == 0) c = na - nb;
    int want = Sign(_gl_thaismocoll(t, a.c_str(), b.c_str()));
    if (Sign(c) != want) {
      ++failures;
      ADD_FAILURE() << "keys of " << ::testing::PrintToString(a) << " and "
                    << ::testing::PrintToString(b) << " order " << Sign(c) << ", comparator "
                    << want;
    }
  }
}

}  // namespace
