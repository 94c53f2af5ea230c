// Comparators and sort keys over hand-written collations: the slot each
// kind of collation gets, the single-byte comparators against the general
// one on random strings, keys against the comparators, hand-worked orders
// and the edge cases of lengths, passes and key sizes.
#include <string.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "locale/core/gl_errors.h"
#include "locale/core/gl_mbstring.h"
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

int KeyOrder(GlLocale *loc, const std::string &a, const std::string &b) {
  std::string ka = Key(loc, a), kb = Key(loc, b);
  int c = memcmp(ka.data(), kb.data(), std::min(ka.size(), kb.size()));
  if (c == 0) c = ka.size() < kb.size() ? -1 : ka.size() > kb.size() ? 1 : 0;
  return Sign(c);
}

struct Variant {
  const char *name;
  CollDesc desc;
  GlMbscollFn want;
  std::string alphabet;  // the strings the agreement test draws from
};

std::vector<Variant> Variants() {
  const std::string all = "abcdefghABCDE\xe0\xe8\xe9 -0189";
  std::vector<Variant> v;
  v.push_back({"forward", colltest::Latin(), _gl_is_mbscoll_back, all});
  v.push_back({"backward", colltest::Latin({1, 2, 1}), _gl_is_mbscoll_back, all});
  CollDesc exp = colltest::Latin();
  colltest::AddExpansions(&exp);
  v.push_back({"expansions", exp, _gl_is_mbscoll_exp, all + "xyz"});
  CollDesc elem = colltest::Latin();
  colltest::AddElements(&elem);
  v.push_back({"elements", elem, _gl_is_mbscoll_elem, all + "cchh"});
  CollDesc both = colltest::Latin();
  colltest::AddExpansions(&both);
  colltest::AddElements(&both);
  // No character here is ignored at any pass: the end rule of this
  // comparator then never decides (it is tested on its own).
  v.push_back({"expansions and elements", both, _gl_is_mbscoll_exp_elem,
               "abcdefghABCDE\xe0\xe8\xe9 0189xyzcchh"});
  CollDesc mixed = both;
  mixed.directions = {1, 2, 1};
  v.push_back({"backward with both", mixed, _gl_im_mbscoll, all + "xyzcchh"});
  return v;
}

TEST(Strcoll, EachCollationGetsItsComparator) {
  for (const Variant &v : Variants()) {
    LocalePtr loc = colltest::Load(v.desc);
    EXPECT_EQ(v.want, loc->mbscoll) << v.name;
    EXPECT_EQ(gl_full_mbsxfrm, loc->mbsxfrm) << v.name;
  }
  // The generated locales: the Latin-1 ones have four forward passes,
  // elements and expansions; multibyte locales always get the general
  // comparator, code order taking no part; Thai gets its own rules.
  for (const char *file : {"en_us/0333.lco", "de_de/0333.lco"}) {
    LocalePtr loc = colltest::LoadWhole(file);
    EXPECT_EQ(4, loc->coll_npasses) << file;
    EXPECT_EQ(2, loc->coll_nelements) << file;
    EXPECT_LT(0, loc->coll_nexpansions) << file;
    EXPECT_EQ(_gl_is_mbscoll_exp_elem, loc->mbscoll) << file;
    EXPECT_EQ(_zel_gl_is_mbfscoll_exp_elem, loc->mbfscoll) << file;
  }
  for (const char *file : {"ja_jp/e006.lco", "en_us/e01c.lco"}) {
    LocalePtr loc = colltest::LoadWhole(file);
    EXPECT_EQ(_gl_im_mbscoll, loc->mbscoll) << file;
    EXPECT_EQ(_zel_gl_im_mbfscoll, loc->mbfscoll) << file;
    EXPECT_EQ(gl_full_mbsxfrm, loc->mbsxfrm) << file;
  }
  LocalePtr thai = colltest::LoadWhole("th_th/e01d.lco");
  EXPECT_EQ(_gl_thaismocoll, thai->mbscoll);
}

// Mutations that keep the first pass equal: other case or accent, an
// ignorable character inserted, or an expansion spelt out.
std::string Mutate(std::mt19937 &rng, std::string s) {
  static const std::vector<std::pair<std::string, std::string>> swaps = {
      {"a", "A"}, {"a", "\xe0"}, {"e", "\xe8"}, {"e", "\xe9"}, {"b", "B"}, {"ae", "x"},
      {"abcdeabcdeabc", "z"}, {"c", "C"}};
  std::uniform_int_distribution<size_t> pick(0, swaps.size() - 1);
  for (int k = 0; k < 2; ++k) {
    const auto &sw = swaps[pick(rng)];
    size_t at = s.find(sw.first);
    if (at != std::string::npos) s.replace(at, sw.first.size(), sw.second);
  }
  if (!s.empty() && rng() % 3 == 0) s.insert(rng() % s.size(), "-");
  return s;
}

TEST(Strcoll, FastComparatorsKeysAndWideAgreeWithTheGeneralComparator) {
  std::mt19937 rng(33);
  for (const Variant &v : Variants()) {
    LocalePtr loc = colltest::Load(v.desc);
    GlLocale *l = loc.get();
    int failed = 0;
    for (int i = 0; i < 3000 && failed < 5; ++i) {
      std::string a = colltest::RandomString(rng, v.alphabet, 8);
      std::string b = i % 2 ? colltest::RandomString(rng, v.alphabet, 8) : Mutate(rng, a);
      if (v.want == _gl_is_mbscoll_exp_elem && b.find('-') != std::string::npos) continue;
      int want = Sign(_gl_im_mbscoll(l, a.c_str(), b.c_str()));
      std::vector<GlWchar> wa = Wide(a), wb = Wide(b);
      int got[] = {Sign(l->mbscoll(l, a.c_str(), b.c_str())),
                   Sign(l->mbfscoll(l, a.data(), static_cast<int32_t>(a.size()), b.data(),
                                    static_cast<int32_t>(b.size()))),
                   Sign(gl_full_wcscoll(l, wa.data(), wb.data())), KeyOrder(l, a, b)};
      for (int g : got) {
        if (g != want) {
          ++failed;
          ADD_FAILURE() << v.name << ": \"" << a << "\" \"" << b << "\" want " << want
                        << " got " << got[0] << got[1] << got[2] << got[3];
          break;
        }
      }
    }
  }
}

TEST(Strcoll, HandWorkedOrders) {
  struct Case {
    const char *name;
    CollDesc desc;
    std::vector<std::string> ascending;  // each strictly before the next
    std::vector<std::pair<std::string, std::string>> equal;
  };
  CollDesc exp = colltest::Latin();
  colltest::AddExpansions(&exp);
  CollDesc elem = colltest::Latin();
  colltest::AddElements(&elem);
  const std::vector<Case> cases = {
      // Digits by code below letters; case decides at pass 3 after the
      // accent at pass 2; the ignored '-' counts only at pass 3.
      {"forward", colltest::Latin(),
       {"", " ", "1", "9", "a", "A", "\xe0", "ab", "a-b", "Ab", "a\xe8", "\xe0" "e", "b"},
       {{"ab", "ab"}}},
      // Backward pass 2: the last accent decides first.
      {"backward", colltest::Latin({1, 2, 1}), {"\xe0" "e", "a\xe8"}, {}},
      // x is "ae" throughout; y is "bc" at pass 1 only, then weighs more.
      {"expansions", exp, {"abcdeabcdeabb", "z", "abcdeabcdeabd", "ad", "ae", "af", "bc", "y", "bd"},
       {{"x", "ae"}, {"xx", "aeae"}, {"z", "abcdeabcdeabc"}}},
      // "ch" sorts between c and d; "cc" is c with an accent.
      {"elements", elem, {"c", "cc", "ca", "cg", "ch", "cha", "d"}, {}},
  };
  for (const Case &c : cases) {
    LocalePtr loc = colltest::Load(c.desc);
    GlLocale *l = loc.get();
    for (size_t i = 0; i + 1 < c.ascending.size(); ++i) {
      const std::string &a = c.ascending[i], &b = c.ascending[i + 1];
      EXPECT_EQ(-1, Sign(l->mbscoll(l, a.c_str(), b.c_str()))) << c.name << ": " << a << " " << b;
      EXPECT_EQ(1, Sign(_gl_im_mbscoll(l, b.c_str(), a.c_str()))) << c.name << ": " << a << " " << b;
      EXPECT_EQ(-1, KeyOrder(l, a, b)) << c.name << ": " << a << " " << b;
    }
    for (const auto &[a, b] : c.equal) {
      EXPECT_EQ(0, l->mbscoll(l, a.c_str(), b.c_str())) << c.name << ": " << a << " " << b;
      EXPECT_EQ(Key(l, a), Key(l, b)) << c.name << ": " << a << " " << b;
    }
  }
}

TEST(Strcoll, IgnorableCharactersAndTheEndRuleOfTheCombinedComparator) {
  CollDesc ignore = colltest::Latin();
  ignore.weights['-'] = {1, 1, 1};  // ignored at every pass
  LocalePtr fwd = colltest::Load(ignore);
  // Empty strings and strings of ignorables alone are equal.
  EXPECT_EQ(0, fwd->mbscoll(fwd.get(), "", ""));
  EXPECT_EQ(0, fwd->mbscoll(fwd.get(), "", "--"));
  EXPECT_EQ(-1, fwd->mbscoll(fwd.get(), "", "a"));
  EXPECT_EQ(0, fwd->mbscoll(fwd.get(), "ab", "ab-"));
  EXPECT_EQ(-1, fwd->mbscoll(fwd.get(), "ab", "abc"));

  colltest::AddExpansions(&ignore);
  colltest::AddElements(&ignore);
  LocalePtr both = colltest::Load(ignore);
  ASSERT_EQ(_gl_is_mbscoll_exp_elem, both->mbscoll);
  GlLocale *l = both.get();
  // The strings end in the same step: the weight of the position taken last
  // decides, an ignorable one (1) included.
  EXPECT_EQ(-1, l->mbscoll(l, "ab-", "ab"));
  EXPECT_EQ(1, l->mbscoll(l, "ab", "ab-"));
  EXPECT_EQ(-1, l->mbscoll(l, "--", ""));  // position 0 weighs 0x8002 here
  EXPECT_EQ(0, l->mbscoll(l, "ab", "ab"));
  // The general comparator ignores them.
  EXPECT_EQ(0, _gl_im_mbscoll(l, "ab-", "ab"));
}

TEST(Strcoll, LengthRulesAndCodeValueComparisons) {
  LocalePtr loc = colltest::Load(colltest::Latin());
  GlLocale *l = loc.get();
  const GlMbfscollFn counted[] = {_zel_gl_im_mbfscoll, _zel_gl_is_mbfscoll_back,
                                  _zel_gl_is_mbfscoll_exp, _zel_gl_is_mbfscoll_elem,
                                  _zel_gl_is_mbfscoll_exp_elem, _zel_gl_thaismoncoll,
                                  _zel_gl_mbscmp};
  for (GlMbfscollFn f : counted) {
    l->error = 0;
    EXPECT_EQ(0, f(l, "a", -1, "b", 1));
    EXPECT_EQ(GL_EMIXEDLEN, l->error);
  }
  GlWchar a[] = {'a', 0}, b[] = {'b', 0};
  l->error = 0;
  EXPECT_EQ(0, _zel_gl_full_wcscoll(l, a, 1, b, -1));
  EXPECT_EQ(GL_EMIXEDLEN, l->error);
  EXPECT_EQ(0, _zel_gl_full_wcscoll(l, nullptr, -1, b, -1));
  EXPECT_EQ(GL_ENULLARG, l->error);
  EXPECT_EQ(0, _zel_gl_full_wcscoll(nullptr, a, -1, b, -1));
  // Counted strings: only the given bytes count.
  EXPECT_EQ(0, l->mbfscoll(l, "abX", 2, "abY", 2));
  EXPECT_EQ(-1, _zel_gl_im_mbfscoll(l, "abX", 2, "abY", 3));
  // A character the position table lacks ends that string's weights and
  // leaves error 1; the result stands.
  GlWchar odd[] = {'b', 0x1234, 'a', 0};
  GlWchar bz[] = {'b', 'z', 0};
  l->error = 0;
  EXPECT_EQ(-1, gl_full_wcscoll(l, odd, bz));
  EXPECT_EQ(GL_EILSEQ, l->error);
}

TEST(SortKeys, DigitsSeparatorsSizesAndCodeOrder) {
  // maxweight 300: two digits per weight; weight 2 is 02 02, 300 is 03 2E.
  CollDesc d;
  d.directions = {1, 1, 1};
  d.weights['a'] = {2, 2, 2};
  d.weights['b'] = {300, 2, 2};
  d.weights['c'] = {0x8010, 2, 2};
  LocalePtr loc = colltest::Load(d);
  GlLocale *l = loc.get();
  std::string k = Key(l, "ab");
  EXPECT_EQ(std::string("\x02\x02\x03\x2e\x01\x02\x02\x02\x02\x01\x02\x02\x02\x02", 14), k);
  EXPECT_EQ(2, std::count(k.begin(), k.end(), '\x01'));  // three passes
  // By code: the weight, then the byte in two digits (a code width of 255
  // is not below 254).
  EXPECT_EQ(std::string("\x02\x10\x02" "c" "\x01\x02\x02\x01\x02\x02", 10), Key(l, "c"));
  // Size 0 measures; a short output is cut without terminator and the
  // full length still returned.
  EXPECT_EQ(14, gl_full_mbsxfrm(l, nullptr, "ab", 0));
  char cut[6];
  memset(cut, 'Z', sizeof cut);
  EXPECT_EQ(14, gl_full_mbsxfrm(l, cut, "ab", 5));
  EXPECT_EQ(std::string("\x02\x02\x03\x2e\x01Z", 6), std::string(cut, 6));
  // The empty string: an empty key, the terminator alone.
  char empty[4] = {'Z', 'Z', 'Z', 'Z'};
  EXPECT_EQ(0, gl_full_mbsxfrm(l, empty, "", 4));
  EXPECT_EQ('\0', empty[0]);
  GlWchar none[] = {0};
  EXPECT_EQ(0, gl_wcsxfrm(l, empty, none, 4));

  // Code order: the key is the string itself.
  LocalePtr whole = colltest::LoadWhole("en_us/e01c.lco");
  GlLocale *utf8 = whole.get();
  ASSERT_EQ(1, utf8->code_order);
  char out[32];
  EXPECT_EQ(5, gl_full_mbsxfrm(utf8, out, "a\xc3\xa9z\x01", sizeof out));
  EXPECT_STREQ("a\xc3\xa9z\x01", out);
}

}  // namespace

namespace {

// The key of a single-byte string is built from its bytes; the wide
// builder walks the general weight cursor. Both must give the same bytes,
// in the hand-written collations and the Latin-1 locales, for any byte
// (those without a position included) and for strings past the byte
// builder's buffers.
TEST(SortKeys, ByteKeysEqualWideKeys) {
  std::vector<LocalePtr> locs;
  for (const Variant &v : Variants()) locs.push_back(colltest::Load(v.desc));
  for (const char *file : {"en_us/0333.lco", "de_de/0333.lco"}) {
    locs.push_back(colltest::LoadWhole(file));
  }
  std::string bytes;
  for (int b = 1; b < 256; ++b) bytes += static_cast<char>(b);
  std::mt19937 rng(3333);
  for (const LocalePtr &loc : locs) {
    GlLocale *l = loc.get();
    int failed = 0;
    for (int i = 0; i < 2000 && failed < 5; ++i) {
      size_t len = i % 100 == 0 ? 250 + rng() % 20 : 1 + rng() % 24;
      std::string s;
      for (size_t k = 0; k < len; ++k) {
        s += i % 2 ? "abcLl\xb7" "Chce-"[rng() % 11] : bytes[rng() % bytes.size()];
      }
      std::vector<GlWchar> w = Wide(s);
      l->error = 0;
      int32_t n1 = gl_wcsxfrm(l, nullptr, w.data(), 0);
      int32_t e1 = l->error;
      std::string k1(static_cast<size_t>(n1 > 0 ? n1 : 0) + 1, 'Z');
      std::string k2 = k1;
      ASSERT_EQ(n1, gl_wcsxfrm(l, k1.data(), w.data(), static_cast<int32_t>(k1.size())));
      l->error = 0;
      int32_t n2 = gl_full_mbsxfrm(l, k2.data(), s.c_str(), static_cast<int32_t>(k2.size()));
      if (n1 != n2 || k1 != k2 || e1 != l->error) {
        ++failed;
        ADD_FAILURE() << "\"" << s << "\": " << n1 << " " << n2 << " errors " << e1 << " "
                      << l->error;
      }
      // A cut key holds the leading bytes of the full one.
      if (n1 > 4) {
        std::string cut(4, 'Z');
        EXPECT_EQ(n1, gl_full_mbsxfrm(l, cut.data(), s.c_str(), 3));
        EXPECT_EQ(k1.substr(0, 3) + "Z", cut);
      }
    }
  }
}

}  // namespace
