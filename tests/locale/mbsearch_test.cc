// String searches: the defined edge cases as one table, and the wide forms
// against std::u32string on random strings. The multibyte forms on random
// strings are checked against Python in mbs_oracle.py.
#include <functional>
#include <memory>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "locale/core/gl_errors.h"
#include "locale/core/gl_mbsearch.h"
#include "tests/locale/lco_fixture.h"

namespace {

using lcotest::Generated;

// A result: a position (offset, -1 for NULL) or count, and the error number.
struct Got {
  long value;
  int32_t error;
  bool operator==(const Got &o) const { return value == o.value && error == o.error; }
};
std::ostream &operator<<(std::ostream &os, const Got &g) {
  return os << "{" << g.value << ", error " << g.error << "}";
}

template <typename T>
Got At(GlLocale *loc, const T *r, const T *base) {
  return {r != nullptr ? static_cast<long>(r - base) : -1, loc->error};
}

TEST(MbSearch, EdgeCases) {
  GlLocale *j = Generated("sjis");
  GlLocale *l = Generated("8859-1");
  GlLocale *t = Generated("tst");
  ASSERT_TRUE(j && l && t);
  // "ソ" is 83 5C: its trail byte is the backslash.
  const char so[] = "a\x83\x5c" "b\\";
  const char nul2[] = {0, 0, 0, 0};
  const GlWchar w[] = {'a', 'b', 'a', 0};
  const GlWchar empty_w[] = {0};
  const GlWchar ab[] = {'a', 'b', 0};
  const GlWchar ba[] = {'b', 'a', 0};
  struct Case {
    const char *what;
    GlLocale *loc;
    std::function<Got()> run;
    Got want;
  } cases[] = {
      {"mbschr absent", j, [&] { return At(j, gl_full_mbschr(j, so, "z"), so); }, {-1, 0}},
      {"mbschr no match inside a character", j,
       [&] { return At(j, gl_full_mbschr(j, so, "\\"), so); }, {4, 55}},
      {"mbschr NULL", j, [&] { return At(j, gl_full_mbschr(j, nullptr, "a"), so); }, {-1, 2}},
      {"mbschr invalid string", j,
       [&] { return At(j, gl_full_mbschr(j, "a\x83", "z"), so); }, {-1, 1}},
      {"mbsrchr NUL, multibyte", j, [&] { return At(j, gl_full_mbsrchr(j, so, ""), so); }, {-1, 0}},
      {"mbsrchr NUL, single-byte", l, [&] { return At(l, gl_full_mbsrchr(l, "ab", ""), so); },
       {-1, 0}},
      {"mbsrchr last", j, [&] { return At(j, gl_full_mbsrchr(j, "a\\a", "a"), "a\\a"); }, {2, 0}},
      {"zel mbschr clen -1", j, [&] { return At(j, _zel_gl_mbschr(j, so, -1, "a", -1), so); },
       {-1, 7}},
      {"zel mbschr slen -2", j, [&] { return At(j, _zel_gl_mbschr(j, so, -2, "a", 1), so); },
       {-1, 9}},
      {"zel mbschr counted NUL character", t,
       [&] { return At(t, _zel_gl_mbschr(t, "\0A\0\0\0B", 6, nul2, 2), "\0A\0\0\0B"); }, {2, 55}},
      {"zel mbsrchr inside a character", j,
       [&] { return At(j, _zel_gl_mbsrchr(j, so, 4, "\\", 1), so); }, {-1, 0}},
      {"zel mbschr cut character", j, [&] { return At(j, _zel_gl_mbschr(j, so, 2, "b", 1), so); },
       {-1, 7}},
      {"mbscspn none in set", j, [&] { return Got{gl_full_mbscspn(j, so, "xyz"), 0}; }, {4, 0}},
      {"mbsspn empty set", j, [&] { return Got{gl_full_mbsspn(j, so, ""), j->error}; }, {0, 0}},
      {"mbspbrk empty set", j, [&] { return At(j, gl_full_mbspbrk(j, so, ""), so); }, {-1, 0}},
      {"mbspbrk finds the character, not its trail", j,
       [&] { return At(j, gl_full_mbspbrk(j, so, "\\"), so); }, {4, 0}},
      {"mbsspn invalid set", j, [&] { return Got{gl_full_mbsspn(j, so, "\x83"), j->error}; },
       {-1, 1}},
      {"zel mbsspn setlen 0", j,
       [&] {
         j->error = 99;
         return Got{_zel_gl_mbsspn(j, so, 5, "a", 0), j->error};
       },
       {-1, 99}},
      {"zel mbspbrk setlen 0", j,
       [&] {
         j->error = 99;
         return At(j, _zel_gl_mbspbrk(j, so, 5, "a", 0), so);
       },
       {-1, 99}},
      {"zel mbscspn mixed lengths", j,
       [&] { return Got{_zel_gl_mbscspn(j, so, -1, "a", 1), j->error}; }, {-1, 56}},
      {"zel mbsspn both -1", j, [&] { return Got{_zel_gl_mbsspn(j, "aab", -1, "a", -1), 0}; },
       {2, 0}},
      {"zel mbsspn -3", j, [&] { return Got{_zel_gl_mbsspn(j, so, -3, "a", -3), j->error}; },
       {-1, 9}},
      {"mbsmbs empty sub", j, [&] { return At(j, gl_full_mbsmbs(j, so, ""), so); }, {0, 0}},
      {"mbsmbs empty s", j, [&] { return At(j, gl_full_mbsmbs(j, "", ""), so); }, {-1, 0}},
      {"mbsmbs inside a character", j, [&] { return At(j, gl_full_mbsmbs(j, so, "\\b"), so); },
       {-1, 0}},
      {"mbsmbs NULL sub", j, [&] { return At(j, gl_full_mbsmbs(j, so, nullptr), so); }, {-1, 2}},
      {"mbsmbs invalid sub", j, [&] { return At(j, gl_full_mbsmbs(j, so, "\x83"), so); }, {-1, 1}},
      {"zel mbsmbs tail shorter than sub", j,
       [&] { return At(j, _zel_gl_mbsmbs(j, "abc", 3, "cd", 2), so); }, {-1, 0}},
      {"zel mbsmbs mixed", j, [&] { return At(j, _zel_gl_mbsmbs(j, so, 5, "b", -1), so); },
       {-1, 56}},
      {"wcschr 0", l, [&] { return At(l, gl_wcschr(l, w, 0), w); }, {3, 0}},
      {"zel wcschr counted 0 absent", l, [&] { return At(l, _zel_gl_wcschr(l, w, 3, 0), w); },
       {-1, 0}},
      {"wcsrchr", l, [&] { return At(l, gl_wcsrchr(l, w, 'a'), w); }, {2, 55}},
      {"wcswcs empty sub", l, [&] { return At(l, gl_wcswcs(l, w, empty_w), w); }, {0, 55}},
      {"wcswcs", l, [&] { return At(l, gl_wcswcs(l, w, ab), w); }, {0, 55}},
      {"zel wcswcs tail", l, [&] { return At(l, _zel_gl_wcswcs(l, w, 2, ba, 2), w); },
       {-1, 0}},
      {"zel wcsspn mixed", l, [&] { return Got{_zel_gl_wcsspn(l, w, -1, ab, 3), l->error}; },
       {-1, 56}},
      {"wcspbrk absent", l, [&] { return At(l, gl_wcspbrk(l, w, empty_w), w); }, {-1, 0}},
      {"wide forms with a NULL locale", l,
       [&] { return Got{_zel_gl_wcscspn(nullptr, nullptr, -1, ab, -1), 0}; }, {-1, 0}},
  };
  for (const Case &c : cases) {
    c.loc->error = 55;
    EXPECT_EQ(c.want, c.run()) << c.what;
  }
}

// The wide searches against std::u32string on random strings over a small
// alphabet, counted forms over heap copies of exact length.
TEST(MbSearch, WideAgainstStdString) {
  GlLocale *l = Generated("8859-1");
  std::mt19937 rng(36);
  auto random_string = [&](int max) {
    std::u32string s;
    for (int n = static_cast<int>(rng() % (max + 1)); n > 0; --n) s += U"abcd"[rng() % 4];
    return s;
  };
  for (int round = 0; round < 2000; ++round) {
    std::u32string s = random_string(12), x = random_string(3);
    const auto *ws = reinterpret_cast<const GlWchar *>(s.c_str());
    const auto *wx = reinterpret_cast<const GlWchar *>(x.c_str());
    std::unique_ptr<GlWchar[]> exact(new GlWchar[s.size() + 1]);
    std::copy(ws, ws + s.size(), exact.get());
    auto n = static_cast<int32_t>(s.size());
    auto xn = static_cast<int32_t>(x.size());
    auto pos = [](size_t p) { return p == std::u32string::npos ? -1L : static_cast<long>(p); };
    auto at = [](const GlWchar *r, const GlWchar *base) { return r ? r - base : -1L; };
    SCOPED_TRACE(std::string(s.begin(), s.end()) + " / " + std::string(x.begin(), x.end()));
    if (!x.empty()) {
      EXPECT_EQ(pos(s.find(x[0])), at(gl_wcschr(l, ws, wx[0]), ws));
      EXPECT_EQ(pos(s.rfind(x[0])), at(_zel_gl_wcsrchr(l, exact.get(), n, wx[0]), exact.get()));
    }
    size_t spn = s.find_first_not_of(x);
    EXPECT_EQ(static_cast<int32_t>(spn == std::u32string::npos ? s.size() : spn),
              _zel_gl_wcsspn(l, exact.get(), n, wx, xn));
    size_t brk = s.find_first_of(x);
    EXPECT_EQ(static_cast<int32_t>(brk == std::u32string::npos ? s.size() : brk),
              gl_wcscspn(l, ws, wx));
    EXPECT_EQ(pos(brk), at(_zel_gl_wcspbrk(l, exact.get(), n, wx, xn), exact.get()));
    EXPECT_EQ(pos(s.find(x)), at(_zel_gl_wcswcs(l, exact.get(), n, wx, xn), exact.get()));
    EXPECT_EQ(pos(s.find(x)), at(gl_wcswcs(l, ws, wx), ws));
  }
}

}  // namespace
