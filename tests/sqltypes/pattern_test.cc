// LIKE and MATCHES against SQLite's LIKE and GLOB, the pattern rules the
// two disagree on, collating elements, and the collated comparison of
// character keys in the generated single-byte and UTF-8 locales.

#include <sqlite3.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/client_locale.h"
#include "base/locale_state.h"
#include "base/thread_state.h"
#include "sqltypes/charcollcmp.h"
#include "sqltypes/sqlvalue.h"
#include "tests/locale/coll_fixture.h"
#include "tests/sqltypes/sql_env.h"

namespace {

constexpr int kMatches = 52, kNotMatches = 53, kLike = 56, kNotLike = 57;

SqlValue Chars(int type, const std::string& s) {
  SqlValue v{};
  v.v_type = static_cast<uint16_t>(type);
  v.v.text.ptr = const_cast<char*>(s.data());
  v.v.text.len = static_cast<int32_t>(s.size());
  return v;
}

// 1, 0, or the error code.
int Match(int op, const std::string& value, const std::string& pattern, int vtype = SQLCHAR,
          int ptype = SQLCHAR) {
  SqlValue v = Chars(vtype, value), p = Chars(ptype, pattern), r;
  const int rc = rvalmatch(op, &v, &p, &r);
  if (rc != 0) return rc;
  EXPECT_EQ(0, r.v_ind);
  return r.v.i4;
}

// Makes `loc` the client locale for the life of the object.
class ClientLocale {
 public:
  explicit ClientLocale(GlLocale* loc) {
    EXPECT_GE(rglinit(), 0);
    saved_ = rgllocstate()->client;
    rgllocstate()->client = loc;
  }
  ~ClientLocale() { rgllocstate()->client = saved_; }

 private:
  GlLocale* saved_;
};

class PatternTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sqltest::UseBuildTree();
    rsetansi(0);
  }
  void TearDown() override { rsetansi(0); }
};

TEST_F(PatternTest, RulesOfBothOperators) {
  struct Case {
    int op;
    const char* value;
    const char* pattern;
    int want;
  } cases[] = {
      {kLike, "abc", "a%", 1},       {kLike, "a", "a%", 1},
      {kLike, "a", "a_", 0},         {kLike, "a ", "a_", 0},     // no one-character end
      {kLike, "ab ", "ab", 1},       {kLike, "ab", "ab ", 1},    // trailing blanks
      {kLike, "a b", "a_b", 1},      {kLike, "ab", "%%%b", 1},
      {kLike, "a%", "a\\%", 1},      {kLike, "ab", "a\\%", 0},
      {kLike, "ab", "a\\ ", 0},      {kLike, "a", "a\\ ", 1},    // escaped blank meets the end
      {kLike, "a ", "a\\ ", 1},
      {kMatches, "bx", "[a-c]x", 1}, {kMatches, "bx", "[^a-c]x", 0},
      {kMatches, "dx", "[^a-c]x", 1},
      {kMatches, "abcdef", "a\\", 1}, // a lone escape takes the rest
      {kMatches, "a", "[]", 0},      {kMatches, "", "[]", 0},
      {kMatches, "z", "[^]", 1},     {kMatches, "", "[^]", 1},   // any one, a blank at the end
      {kMatches, "a", "a[^b]", 1},   {kMatches, "a", "a[b]", 0},
      {kMatches, "a-", "a[-b]", 1},  {kMatches, "a-", "a[b-]", 1},
      {kMatches, "a]", "a]", 1},     {kMatches, "a*", "a\\*", 1},
      {kMatches, "a", "a[", 0},      {kMatches, "ab", "a?", 1},
      {kNotMatches, "bx", "[a-c]x", 0}, {kNotLike, "abc", "a%", 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.want, Match(c.op, c.value, c.pattern)) << c.op << " '" << c.value << "' '"
                                                       << c.pattern << "'";
}

TEST_F(PatternTest, EscapesAndTheAnsiFlag) {
  EXPECT_EQ(1, Match(kMatches, "ab", "a\\b"));
  EXPECT_EQ(1, rthreadrec()->pattern_flag);  // an escape that was not needed
  EXPECT_EQ(1, Match(kMatches, "a*", "a\\*"));
  EXPECT_EQ(0, rthreadrec()->pattern_flag);
  rsetansi(1);
  EXPECT_EQ(-1278, Match(kMatches, "ab", "a\\b"));
  EXPECT_EQ(-1278, Match(kMatches, "abcdef", "a\\"));
  EXPECT_EQ(-1278, Match(kLike, "ab", "a\\b"));
  // Reported only when the value matches.
  EXPECT_EQ(0, Match(kLike, "xb", "a\\b"));
  EXPECT_EQ(1, Match(kLike, "a%", "a\\%"));
  rsetansi(0);
  // Another escape character.
  const std::string vs = "5%", ps = "5!%";
  SqlValue v = Chars(SQLCHAR, vs), p = Chars(SQLCHAR, ps), r;
  EXPECT_EQ(0, rvalmatchesc(kLike, &v, &p, &r, '!'));
  EXPECT_EQ(1, r.v.i4);
}

TEST_F(PatternTest, OperandsAndNulls) {
  SqlValue n{};
  n.v_type = SQLCHAR;
  n.v_ind = -1;
  const std::string any = "%";
  SqlValue p = Chars(SQLCHAR, any), r;
  EXPECT_EQ(0, rvalmatch(kLike, &n, &p, &r));
  EXPECT_EQ(-1, r.v_ind);
  SqlValue i{};
  i.v_type = SQLINT;
  EXPECT_EQ(-1203, rvalmatch(kLike, &i, &p, &r));
  EXPECT_EQ(0, r.v.i4);
  EXPECT_EQ(-1203, rgeterror());
  // A UDT of character data, and a value flagged as character data.
  std::string s = "abc";
  SqlValue u = Chars(SQLUDTVAR, s);
  u.v_attr = 1;
  EXPECT_EQ(0, rvalmatch(kLike, &u, &p, &r));
  EXPECT_EQ(1, r.v.i4);
  SqlValue f = Chars(SQLLVARCHAR | SQL_CHARDATA_FLAG, s);
  EXPECT_EQ(0, rvalmatch(kLike, &f, &p, &r));
  // rvalcompare hands the pattern operators on.
  const std::string star = "a*";
  SqlValue v = Chars(SQLVCHAR, s), q = Chars(SQLCHAR, star);
  EXPECT_EQ(0, rvalcompare(kMatches, &v, &q, &r));
  EXPECT_EQ(1, r.v.i4);
}

// The same pattern text under LIKE and MATCHES, and under two escape
// characters, is compiled anew for each.
TEST_F(PatternTest, CompiledPatternKeysItsSyntax) {
  ClientLocale utf(lcotest::Generated("utf8"));
  EXPECT_EQ(1, Match(kLike, "a*", "a*"));
  EXPECT_EQ(1, Match(kMatches, "abc", "a*"));
  EXPECT_EQ(0, Match(kLike, "abc", "a*"));
  const std::string vs = "a!", ps = "a!%";
  SqlValue v = Chars(SQLCHAR, vs), p = Chars(SQLCHAR, ps), r;
  EXPECT_EQ(0, rvalmatchesc(kLike, &v, &p, &r, '!'));
  EXPECT_EQ(0, r.v.i4);  // "!%" is an escaped '%'
  EXPECT_EQ(0, rvalmatchesc(kLike, &v, &p, &r, '\\'));
  EXPECT_EQ(1, r.v.i4);
  // An invalid character gives false without an error.
  EXPECT_EQ(0, Match(kLike, "a\xff", "a%"));
  EXPECT_EQ(0, rgeterror());
  EXPECT_EQ(0, Match(kLike, "a", "a\xff%"));
  // Multibyte characters are one unit each.
  EXPECT_EQ(1, Match(kLike, "\xc3\xa9t\xc3\xa9", "_t_"));
  EXPECT_EQ(1, Match(kMatches, "\xc3\xa9", "[\xc3\xa0-\xc3\xaa]"));
}

// Long values and patterns with many any-string wildcards.
TEST_F(PatternTest, NoExponentialBacktracking) {
  const std::string a(10000, 'a');
  EXPECT_EQ(0, Match(kLike, a, "%a%a%a%a%a%b"));
  EXPECT_EQ(1, Match(kLike, a + "b", "%a%a%a%a%a%b"));
  EXPECT_EQ(0, Match(kMatches, a, "*a*a*a*a*a*b"));
  ClientLocale utf(lcotest::Generated("utf8"));
  EXPECT_EQ(0, Match(kLike, a, "%a%a%a%a%a%b"));
}

std::vector<std::string> AllStrings(const std::string& alphabet, int maxlen) {
  std::vector<std::string> out{""};
  size_t from = 0;
  for (int n = 1; n <= maxlen; n++) {
    const size_t to = out.size();
    for (size_t i = from; i < to; i++)
      for (char c : alphabet) out.push_back(out[i] + c);
    from = to;
  }
  return out;
}

// SQLite's LIKE (case-sensitive) and GLOB on patterns without escapes,
// blanks and the forms the two define differently ("[]", "[^]", ranges).
void CompareWithSqlite(const char* locale_name) {
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(":memory:", &db));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, "PRAGMA case_sensitive_like = ON", nullptr, nullptr, nullptr));
  sqlite3_stmt* like = nullptr;
  sqlite3_stmt* glob = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(db, "SELECT ?1 LIKE ?2, ?1 GLOB ?2", -1, &like, nullptr));
  glob = like;
  const std::vector<std::string> values = AllStrings("ab", 5);
  int checked = 0;
  for (int op : {kLike, kMatches}) {
    const std::vector<std::string> patterns =
        AllStrings(op == kLike ? "ab%_" : "ab*?[]^", op == kLike ? 5 : 4);
    for (const std::string& p : patterns) {
      // "[]" and "[^]" mean other things there, and a negated class also
      // meets the end of a value here (it admits a blank).
      if (p.find("[]") != std::string::npos || p.find("[^") != std::string::npos) continue;
      for (const std::string& v : values) {
        sqlite3_reset(glob);
        sqlite3_bind_text(glob, 1, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
        sqlite3_bind_text(glob, 2, p.data(), static_cast<int>(p.size()), SQLITE_STATIC);
        ASSERT_EQ(SQLITE_ROW, sqlite3_step(glob));
        const int want = sqlite3_column_int(glob, op == kLike ? 0 : 1);
        ASSERT_EQ(want, Match(op, v, p)) << locale_name << " " << op << " '" << v << "' '" << p
                                         << "'";
        checked++;
      }
    }
  }
  EXPECT_GT(checked, 100000);
  sqlite3_finalize(like);
  sqlite3_close(db);
}

TEST_F(PatternTest, AgreesWithSqliteInTheByteMatcher) { CompareWithSqlite("en_us.8859-1"); }

TEST_F(PatternTest, AgreesWithSqliteInTheCompiledEngine) {
  ClientLocale utf(lcotest::Generated("utf8"));
  CompareWithSqlite("en_us.utf8");
}

// A collation with the element "ch": national values regroup it, so
// "ch" is one character for LIKE between NCHAR values and two for CHAR.
TEST_F(PatternTest, CollatingElements) {
  colltest::CollDesc d = colltest::Latin();
  colltest::AddElements(&d);
  lcotest::LocalePtr loc = colltest::Load(d);
  ASSERT_NE(nullptr, loc);
  ClientLocale fixture(loc.get());
  EXPECT_EQ(0, Match(kLike, "ch", "c%", SQLNCHAR, SQLNCHAR));
  EXPECT_EQ(1, Match(kLike, "ch", "c%", SQLCHAR, SQLCHAR));
  EXPECT_EQ(1, Match(kLike, "ch", "_", SQLNCHAR, SQLCHAR));
  EXPECT_EQ(0, Match(kLike, "ch", "_", SQLCHAR, SQLCHAR));
  EXPECT_EQ(1, Match(kLike, "achb", "a_b", SQLNVCHAR, SQLNCHAR));
  EXPECT_EQ(1, Match(kLike, "achb", "%ch%", SQLNCHAR, SQLNCHAR));
  EXPECT_EQ(1, Match(kMatches, "chx", "?x", SQLNCHAR, SQLNCHAR));
  EXPECT_EQ(0, Match(kMatches, "chx", "c*", SQLNCHAR, SQLNCHAR));
  // Ranges follow the collation: with weights a < b < ... by position.
  EXPECT_EQ(1, Match(kMatches, "b", "[a-c]", SQLNCHAR, SQLNCHAR));
  EXPECT_EQ(0, Match(kMatches, "z", "[a-c]", SQLNCHAR, SQLNCHAR));
}

// The whole generated locales (with their collations) and a hand-written
// collation with elements and expansions.
std::vector<std::pair<std::string, lcotest::LocalePtr>> CollatedLocales() {
  std::vector<std::pair<std::string, lcotest::LocalePtr>> out;
  out.emplace_back("en_us.8859-1", lcotest::LoadWhole("en_us/0333.lco"));
  out.emplace_back("en_us.utf8", lcotest::LoadWhole("en_us/e01c.lco"));
  colltest::CollDesc d = colltest::Latin();
  colltest::AddElements(&d);
  colltest::AddExpansions(&d);
  out.emplace_back("fixture", colltest::Load(d));
  return out;
}

// rcollinrange against the locale's own comparison of one-character texts.
TEST_F(PatternTest, RangesFollowTheCollation) {
  for (auto& [name, loc] : CollatedLocales()) {
    ASSERT_NE(nullptr, loc);
    ASSERT_NE(GL_COLL_NONE, loc->coll_kind) << name;
    const std::string chars = " -09AZaz_xy";
    auto cmp = [&](char x, char y) { return loc->mbfscoll(loc.get(), &x, 1, &y, 1); };
    for (char lo : chars)
      for (char hi : chars)
        for (char c : chars) {
          const int want = cmp(lo, c) <= 0 && cmp(c, hi) <= 0;
          EXPECT_EQ(want, rcollinrange(loc.get(), static_cast<unsigned char>(c),
                                       static_cast<unsigned char>(lo),
                                       static_cast<unsigned char>(hi)))
              << name << " " << c << " in " << lo << "-" << hi;
        }
  }
}

// rcharcollcmp over random texts with trailing blanks: blind to the
// blanks, antisymmetric, and a total order (sorting agrees pairwise).
TEST_F(PatternTest, CollatedCompareIsAnOrder) {
  for (auto& [name, loc] : CollatedLocales()) {
    ASSERT_NE(nullptr, loc);
    std::mt19937 rng(17);
    std::vector<std::string> texts;
    for (int i = 0; i < 300; i++) {
      std::string s = colltest::RandomString(rng, "aAbB -zch", 6);
      texts.push_back(s + std::string(rng() % 3, ' '));
    }
    auto cmp = [&](const std::string& x, const std::string& y) {
      int32_t status = 0;
      const int r = rcharcollcmp(loc.get(), x.data(), static_cast<int32_t>(x.size()), y.data(),
                                 static_cast<int32_t>(y.size()), &status);
      EXPECT_EQ(0, status);
      return r;
    };
    for (const std::string& x : texts) {
      std::string bare = x;
      while (!bare.empty() && bare.back() == ' ') bare.pop_back();
      ASSERT_EQ(0, cmp(x, bare)) << name << " '" << x << "'";
      for (const std::string& y : texts) ASSERT_EQ(cmp(x, y), -cmp(y, x)) << name << x << "|" << y;
    }
    std::vector<std::string> sorted = texts;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [&](const std::string& x, const std::string& y) { return cmp(x, y) < 0; });
    for (size_t i = 0; i < sorted.size(); i++)
      for (size_t j = i + 1; j < sorted.size(); j++)
        ASSERT_LE(cmp(sorted[i], sorted[j]), 0) << name << " '" << sorted[i] << "' '" << sorted[j] << "'";
    // Edges: trailing blanks against none, empty first.
    EXPECT_EQ(0, cmp("ab  ", "ab"));
    EXPECT_EQ(-1, cmp("", "a"));
    EXPECT_EQ(-1, cmp("   ", "a"));
  }
}

// The locale's collation errors: memory becomes -23102, anything else
// -202; a failed first comparison gives 0 and no second one.
int32_t g_fail_error = 0;
int g_calls = 0;
int32_t FailingColl(GlLocale* loc, const char*, int32_t, const char*, int32_t) {
  g_calls++;
  loc->error = g_fail_error;
  return 1;
}

TEST_F(PatternTest, CollationErrors) {
  colltest::CollDesc d = colltest::Latin();
  lcotest::LocalePtr loc = colltest::Load(d);
  ASSERT_NE(nullptr, loc);
  GlMbfscollFn saved = loc->mbfscoll;
  loc->mbfscoll = FailingColl;
  for (auto [error, status_want] : {std::pair{3, -23102}, std::pair{7, -202}, std::pair{1, -202}}) {
    g_fail_error = error;
    g_calls = 0;
    int32_t status = 0;
    EXPECT_EQ(0, rcharcollcmp(loc.get(), "ab ", 3, "b", 1, &status));
    EXPECT_EQ(status_want, status);
    EXPECT_EQ(1, g_calls);
  }
  {
    // An invalid character makes every relational operator false without
    // an error; a memory failure is returned.
    ClientLocale client(loc.get());
    const std::string x = "a", y = "b";
    SqlValue a = Chars(SQLNCHAR, x), b = Chars(SQLNCHAR, y), r;
    g_fail_error = 7;
    for (int op = 46; op <= 51; op++) {
      EXPECT_EQ(0, rvalcompare(op, &a, &b, &r)) << op;
      EXPECT_EQ(0, r.v.i4) << op;
    }
    g_fail_error = 3;
    EXPECT_EQ(-23102, rvalcompare(47, &a, &b, &r));
  }
  loc->mbfscoll = saved;
}

TEST_F(PatternTest, MultibyteTrimAndInvalidCharacters) {
  GlLocale* utf = lcotest::Generated("utf8");
  ASSERT_NE(nullptr, utf);
  EXPECT_EQ(2, rtrimlen(utf, "ab   ", 5));
  EXPECT_EQ(3, rtrimlen(utf, "ab\t", 3));   // a tab is a control character
  EXPECT_EQ(4, rtrimlen(utf, "\xc3\xa9\xc3\xa9 ", 5));
  EXPECT_EQ(0, rtrimlen(utf, "   ", 3));
}

}  // namespace
