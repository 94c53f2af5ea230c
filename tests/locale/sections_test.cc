// The text and collation sections of locale-object files: every generated
// locale loads whole; hand-written sections show the collation tables, the
// refusals of bad data, the calendar line and era strings; name tries,
// queries, time information and the century rules.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "locale/core/gl_errors.h"
#include "locale/core/gl_support.h"
#include "locale/core/gl_langinfo.h"
#include "locale/core/gl_lco.h"
#include "locale/core/gl_lco_sections.h"
#include "locale/core/gl_trie.h"
#include "locale/format/gl_timeinfo.h"
#include "tests/locale/lco_fixture.h"

namespace {

using lcotest::LocalePtr;
using lcotest::Stream;

LocalePtr LoadFile(const std::string &rel) { return lcotest::LoadWhole(rel); }

TEST(Sections, EveryGeneratedLocaleLoadsAllSixCategories) {
  struct Case {
    const char *file;
    int32_t calendar, months, eras, coll_kind, passes;
  } cases[] = {
      {"en_us/0333.lco", 1, 12, 0, GL_COLL_AS_SPECIFIED, 4},
      {"en_us/e01c.lco", 1, 12, 0, GL_COLL_AS_SPECIFIED, 1},
      {"de_de/0333.lco", 1, 12, 0, GL_COLL_AS_SPECIFIED, 4},
      {"ja_jp/e006.lco", 1, 12, 11, GL_COLL_AS_SPECIFIED, 1},
      {"th_th/e01d.lco", 1, 12, 1, GL_COLL_THAI, 0},
      {"xx_yy/e020.lco", 1, 12, 0, GL_COLL_AS_SPECIFIED, 1},
      {"he_il/0394.lco", 2, 14, 0, GL_COLL_AS_SPECIFIED, 1},
      {"ar_sa/0441.lco", 3, 12, 0, GL_COLL_AS_SPECIFIED, 1},
  };
  for (const Case &c : cases) {
    LocalePtr loc = LoadFile(c.file);
    EXPECT_EQ(c.calendar, loc->time.calendar) << c.file;
    EXPECT_EQ(c.months, loc->time.mon_count) << c.file;
    EXPECT_EQ(c.eras, gl_get_era_count(loc.get())) << c.file;
    EXPECT_EQ(c.coll_kind, loc->coll_kind) << c.file;
    EXPECT_EQ(c.passes, loc->coll_npasses) << c.file;
    EXPECT_NE(nullptr, gl_nl_langinfo(loc.get(), 55)) << c.file;
    EXPECT_NE(nullptr, gl_nl_langinfo(loc.get(), 71)) << c.file;
    EXPECT_NE(nullptr, gl_wc_nl_langinfo(loc.get(), 1)) << c.file;
    EXPECT_NE(nullptr, loc->time.tries[GL_TRIE_MON]) << c.file;
  }
  // The collation of en_US: sharp s refers to an expansion of two letters
  // s at the first pass; the longest expansion has three characters.
  LocalePtr en = LoadFile("en_us/0333.lco");
  ASSERT_NE(nullptr, en->coll_sbexp[0]);
  const GlCollExpansion *ss = en->coll_sbexp[0][0xDF];
  ASSERT_NE(nullptr, ss);
  EXPECT_EQ(2u, ss->count);
  EXPECT_EQ(0x53u, ss->chars[0] & ~0x20u);
  EXPECT_EQ(3.0, en->coll_expansion_factor);
  // Hebrew leap-year month names are reachable: item 27 is Adar II's.
  LocalePtr he = LoadFile("he_il/0394.lco");
  EXPECT_NE(nullptr, gl_nl_langinfo(he.get(), 28));
  EXPECT_STREQ("hebrew\n", gl_nl_langinfo(he.get(), 73));
  EXPECT_EQ(57, gl_getcentury(he.get(), 1, 1, 84, 'C'));
}

// A null locale with a hand-made LC_COLLATE section read into it.
LocalePtr WithCollation(const std::string &section, int32_t *rc) {
  GlLocale *loc = nullptr;
  EXPECT_EQ(0, gl_create_null_locale_4(&loc));
  FILE *f = Stream(section);
  *rc = _gl_read_lc_collate(f, loc);
  fclose(f);
  return LocalePtr(loc);
}

// The text form of a positions table for the bytes a-g (positions from
// the hex digits of values, 4 per byte) and x (position 4), written by the
// library's own table writer.
std::string Positions(const char *values = "0000000100010002000300000000") {
  GlCodeTable *t = _gl_ct_create(2, 0, "\0\0");
  for (int i = 0; i < 7; ++i) {
    unsigned char key = static_cast<unsigned char>('a' + i);
    uint16_t v = static_cast<uint16_t>(strtoul(std::string(values + 4 * i, 4).c_str(), nullptr, 16));
    _gl_ct_insert(1, &key, &v, t);
  }
  unsigned char x = 'x';
  uint16_t four = 4;
  _gl_ct_insert(1, &x, &four, t);
  FILE *f = tmpfile();
  _gl_ct_dump(f, t, _gl_ct_write_hex16);
  _gl_ct_free(t);
  std::string text(static_cast<size_t>(ftell(f)), '\0');
  rewind(f);
  EXPECT_EQ(text.size(), fread(&text[0], 1, text.size(), f));
  fclose(f);
  return text;
}

TEST(Sections, CollationClassesIgnorablesAndExpansions) {
  // Positions: a and g 0, b, c and f 1, d 2 (ignorable), e 3 (refers to
  // expansion 0 at every pass), x 4 (ordered by code).
  std::string section = "as_specified\n" +
                        Positions("0000000100010002000300010000") +
                        "0\n4 2 1 1 9\n00010002\n"
                        "200030000006100000062\n"  // element "ab" at position 3
                        "20000006300000064\n"      // expansion "cd"
                        "00040004\n00040004\n00010001\n40004000\n80038003\n";
  int32_t rc = 0;
  LocalePtr loc = WithCollation(section, &rc);
  ASSERT_EQ(0, rc) << loc->error;
  EXPECT_EQ(2, loc->coll_direction[1]);
  // d is ignorable.
  ASSERT_NE(nullptr, loc->coll_ignorables);
  EXPECT_STREQ("d", loc->coll_ignorables[0]);
  EXPECT_EQ(nullptr, loc->coll_ignorables[1]);
  // Positions 0 (a, g, ...) and 1 (b, c, f) have equal weights: one class;
  // position 3 ("ab", "cd", "e") through the expansion. Each member maps to
  // the class's last string.
  std::vector<std::pair<std::string, std::string>> eq;
  for (GlCollEquivalent *e = loc->coll_equivalents; e != nullptr && e->member != nullptr; ++e) {
    eq.emplace_back(e->member, e->representative);
  }
  // A single-byte table holds every byte, unlisted ones at position 0, so
  // the class holds every byte but d, e and x; its last string is 0xff.
  std::vector<std::pair<std::string, std::string>> want;
  for (int b = 0; b < 255; ++b) {
    if (b == 'd' || b == 'e' || b == 'x') continue;
    char one[2] = {static_cast<char>(b), 0};
    want.emplace_back(one, "\xff");
  }
  want.emplace_back("ab", "e");
  want.emplace_back("cd", "e");
  EXPECT_EQ(want, eq);
  EXPECT_EQ(1, loc->coll_sbelemstart['a']);
  EXPECT_EQ(0, loc->coll_sbelemstart['b']);
  EXPECT_EQ(&loc->coll_expansions[0], loc->coll_sbexp[1]['e']);
  EXPECT_EQ(nullptr, loc->coll_sbexp[0]['x']);
}

TEST(Sections, CollationRefusesDataTheTablesCannotHold) {
  const std::string pos = Positions();
  struct Case {
    std::string section;
    int32_t error;
  } cases[] = {
      {"", GL_EFORMAT},
      {"as_specified", GL_EFORMAT},                   // no line end
      {"nonsense\n", 0},                              // kind 0, no error number
      {"as_specified\n" + pos + "0\n3 1 0 0 2\n0001\n0002\n0002\n0002\n0002\n", GL_EFORMAT},
      {"as_specified\n" + pos + "0\n4 9 0 0 2\n", GL_EFORMAT},           // nine passes
      {"as_specified\n" + pos + "0\n4 1 0 0 2\n0003\n", GL_EFORMAT},     // bad direction
      {"as_specified\n" + pos + "0\n4 1 1 0 2\n0001\n1000900000061\n", GL_EFORMAT},  // element
      {"as_specified\n" + pos + "0\n4 1 0 1 2\n0001\n000000061\n", GL_ENOMEM},  // count 0
      {"as_specified\n" + pos + "0\n4 1 0 1 2\n0001\n100000061\n4001\n0002\n0002\n0002\n0002\n",
       GL_EFORMAT},                                   // expansion index 1 of 1
      {"as_specified\n" + pos + "0\n4 1 0 0 2\n", GL_EFORMAT},  // directions missing
  };
  for (const Case &c : cases) {
    int32_t rc = 0;
    LocalePtr loc = WithCollation(c.section, &rc);
    EXPECT_EQ(-1, rc) << c.section;
    EXPECT_EQ(c.error, loc->error) << c.section;
  }
  int32_t rc = 0;
  LocalePtr thai = WithCollation("thai_smo\n### LC_NUMERIC\n", &rc);
  EXPECT_EQ(0, rc);
  EXPECT_EQ(GL_COLL_THAI, thai->coll_kind);
}

std::string Str(const std::string &s) {
  std::string out = std::to_string(s.size());
  if (!s.empty()) out += " ";
  char hex[3];
  for (unsigned char c : s) {
    snprintf(hex, sizeof hex, "%02x", c);
    out += hex;
  }
  return out + "\n";
}

std::string TimeSection(const std::string &calendar, const std::vector<std::string> &eras) {
  std::string s = calendar;
  for (int i = 0; i < 14; ++i) s += Str("d" + std::to_string(i));
  s += "13\n";
  for (int i = 0; i < 13; ++i) s += Str("m" + std::to_string(i));
  s += "13\n";
  for (int i = 0; i < 13; ++i) s += Str("Month" + std::to_string(i));
  for (const char *x : {"%c", "%x", "%X", "AM", "PM", "%r"}) s += Str(x);
  s += std::to_string(eras.size()) + "\n";
  for (const auto &e : eras) s += Str(e);
  for (const char *x : {"%Ex", "%EX", "%Ec"}) s += Str(x);
  return s + "2\n" + Str("zero") + Str("one");
}

int32_t LoadTime(GlLocale *loc, const std::string &section) {
  FILE *f = Stream(section);
  int32_t error = 0;
  int32_t rc = _gl_read_time(f, &loc->time, &error);
  fclose(f);
  if (rc != 0) return error;
  return _gl_finish_time(loc) == 1 ? 0 : loc->error;
}

TEST(Sections, TimeSectionCalendarLineErasAndLists) {
  LocalePtr loc = LoadFile("en_us/0333.lco");
  struct Case {
    std::string calendar;
    std::vector<std::string> eras;
    int32_t error;
  } cases[] = {
      {"julian\n", {}, GL_ECALENDAR},
      {"gregorian", {}, GL_EFORMAT},
      {"gregorian\n", {"+:1:2001/04/15:+*"}, GL_EERA},
      {"gregorian\n", {"x:1:2001/04/15:+*:A:B:%Y"}, GL_EERA},
      {"gregorian\n", {"+:1:2001/04/15:+*:Alpha"}, GL_ENOMEM},
      {"gregorian\n", {"+:1:2001/04/15:-5/1/1:A:B:%Y"}, GL_EERA},
  };
  for (const Case &c : cases) {
    _gl_free_time(loc.get(), &loc->time);
    loc->error = 0;
    std::string s = TimeSection(c.calendar, c.eras);
    if (c.calendar == "gregorian") s = "gregorian";  // the file ends in the line
    EXPECT_EQ(c.error, LoadTime(loc.get(), s)) << c.calendar;
  }
  _gl_free_time(loc.get(), &loc->time);
  ASSERT_EQ(0, LoadTime(loc.get(), TimeSection("gregorian\n", {"+:1:2001/04/15:+*:Alpha:A:%EC%Ey",
                                                              "-:2:-10/1/2:2000/12/31:Beta:B:x"})));
  const GlEraRecord *r = loc->time.era_records[0];
  EXPECT_EQ(1, r->direction);
  EXPECT_EQ(1, r->offset);
  EXPECT_EQ(2001, r->start_year);
  EXPECT_EQ(4, r->start_month);
  EXPECT_EQ(15, r->start_day);
  EXPECT_EQ(1, r->end_kind);
  EXPECT_STREQ("Alpha", r->name);
  EXPECT_STREQ("A", r->name2);
  EXPECT_STREQ("%EC%Ey", r->format);
  r = loc->time.era_records[1];
  EXPECT_EQ(-1, r->direction);
  EXPECT_EQ(-10, r->start_year);
  EXPECT_EQ(2000, r->end_year);
  EXPECT_EQ(0, r->end_kind);
  EXPECT_STREQ("+:1:2001/04/15:+*:Alpha:A:%EC%Ey\n-:2:-10/1/2:2000/12/31:Beta:B:x",
               gl_nl_langinfo(loc.get(), 66));
  EXPECT_STREQ("zero\none", gl_nl_langinfo(loc.get(), 70));
  // Thirteen months: item 27 is the thirteenth, item 28 is past the list.
  EXPECT_STREQ("Month12", gl_nl_langinfo(loc.get(), 27));
  loc->error = 0;
  EXPECT_EQ(nullptr, gl_nl_langinfo(loc.get(), 28));
  EXPECT_EQ(GL_EBADARG, loc->error);
  loc->error = 0;
  EXPECT_EQ(nullptr, gl_nl_langinfo(loc.get(), 74));
  EXPECT_EQ(nullptr, gl_nl_langinfo(loc.get(), -1));
  EXPECT_EQ(0, loc->error);
  // Names handed out as copies.
  char **names = nullptr;
  int32_t count = 0;
  ASSERT_EQ(0, gl_mbstimeinfo_ext(loc.get(), 6, &names, &count, malloc));
  ASSERT_EQ(2, count);
  EXPECT_STREQ("B", names[1]);
  for (int i = 0; i < count; ++i) free(names[i]);
  free(names);
  ASSERT_EQ(0, gl_mbstimeinfo(loc.get(), 3, &names, &count));
  EXPECT_EQ(13, count);
  EXPECT_STREQ("Month0", names[0]);
  for (int i = 0; i < count; ++i) _gl_free(names[i]);
  _gl_free(names);
  names = reinterpret_cast<char **>(1);
  EXPECT_EQ(-1, gl_mbstimeinfo(loc.get(), 9, &names, &count));
  EXPECT_EQ(reinterpret_cast<char **>(1), names);
  EXPECT_STREQ("%Ec", gl_get_ltime_fmts(loc.get(), 'C'));
  EXPECT_STREQ("", gl_get_ltime_fmts(loc.get(), 'x'));
}

TEST(Sections, NullLocaleAndNoDigitsWithoutEras) {
  GlLocale *raw = nullptr;
  ASSERT_EQ(0, gl_create_null_locale_4(&raw));
  LocalePtr loc(raw);
  for (int32_t item = 0; item <= 73; ++item) EXPECT_EQ(nullptr, gl_nl_langinfo(raw, item)) << item;
  char **names = nullptr;
  int32_t count = 5;
  EXPECT_EQ(-1, gl_mbstimeinfo(raw, 7, &names, &count));
  EXPECT_EQ(nullptr, names);
  EXPECT_EQ(0, count);
  EXPECT_EQ(0, gl_getcentury(raw, 1, 1, 30, 'C'));
  EXPECT_STREQ("11", gl_lc_version());
  EXPECT_STREQ("9", gl_cv_version());
  EXPECT_STREQ("3", gl_cm_version());
  // Alternate digits without eras: no joined string.
  LocalePtr ja = LoadFile("ja_jp/e006.lco");
  EXPECT_NE(nullptr, gl_nl_langinfo(ja.get(), 70));
  LocalePtr en = LoadFile("en_us/0333.lco");
  EXPECT_EQ(nullptr, gl_nl_langinfo(en.get(), 70));
  const char *cal = gl_nl_langinfo(en.get(), 73);
  EXPECT_EQ(0, strncmp(cal, "gregorian", 9));
  EXPECT_EQ('\n', cal[9]);
}

TEST(Sections, NameTries) {
  LocalePtr loc = LoadFile("en_us/0333.lco");
  GlLocale *l = loc.get();
  auto wide = [](const char *s) {
    std::vector<GlWchar> w;
    for (; *s; ++s) w.push_back(static_cast<unsigned char>(*s));
    w.push_back(0);
    return w;
  };
  GlNameTrie trie = nullptr;
  ASSERT_EQ(0, _gl_trie_insert(l, &trie, "Jan", 0));
  ASSERT_EQ(0, _gl_trie_insert(l, &trie, "January", 0));
  ASSERT_EQ(0, _gl_trie_insert(l, &trie, "Feb", 1));
  ASSERT_EQ(0, _gl_trie_insert(l, &trie, "jun", 5));
  ASSERT_EQ(0, _gl_trie_insert(l, &trie, "june", 5));
  ASSERT_EQ(0, _gl_trie_insert(l, &trie, "May", 4));
  ASSERT_EQ(0, _gl_trie_insert(l, &trie, "may", 7));
  EXPECT_EQ(-1, _gl_trie_insert(l, &trie, nullptr, 0));
  struct Case {
    const char *input;
    int32_t rc, len, payload;
  } cases[] = {{"january 5", 0, 3, 0}, {"FEB", 0, 3, 1}, {"june", 0, 3, 5},
               {"MAY", 0, 3, 7},       {"ja", -1, 0, 0}, {"", -1, 0, 0}};
  for (const Case &c : cases) {
    int32_t len = 0, payload = 0;
    auto w = wide(c.input);
    EXPECT_EQ(c.rc, _gl_trie_wcsmatch(l, trie, w.data(), &len, &payload)) << c.input;
    if (c.rc == 0) {
      EXPECT_EQ(c.len, len) << c.input;
      EXPECT_EQ(c.payload, payload) << c.input;
    }
  }
  ASSERT_EQ(0, _gl_trie_insert(l, &trie, "", 9));
  int32_t len = -1, payload = 0;
  auto w = wide("ja");
  EXPECT_EQ(0, _gl_trie_wcsmatch(l, trie, w.data(), &len, &payload));
  EXPECT_EQ(0, len);
  EXPECT_EQ(9, payload);
  EXPECT_EQ(-1, _gl_trie_wcsmatch(l, nullptr, w.data(), &len, &payload));
  EXPECT_EQ(-1, _gl_trie_wcsmatch(l, trie, nullptr, &len, &payload));
  _gl_trie_free(l, trie);
}

TEST(Centuries, RulesAgainstAPinnedToday) {
  LocalePtr loc = LoadFile("en_us/0333.lco");
  struct Case {
    int32_t m, d, y, rule, want;
  } cases[] = {
      {1, 1, 30, 'C', 20}, {1, 1, 80, 'C', 19}, {6, 15, 24, 'F', 21}, {6, 15, 24, 'P', 19},
      {6, 15, 24, 'R', 20}, {1, 1, 120, 'C', 1}, {0, 0, 25, 'F', 20}, {0, 0, 23, 'F', 21},
      {2, 29, 23, 'C', 20},  // a common year: 1 March
      {2, 30, 23, 'C', -1},
  };
  gl_set_current_time(15, 6, 2024);
  for (const Case &c : cases) {
    loc->error = 0;
    EXPECT_EQ(c.want, gl_getcentury(loc.get(), c.m, c.d, c.y, c.rule))
        << c.m << "/" << c.d << "/" << c.y << " " << static_cast<char>(c.rule);
  }
  EXPECT_EQ(GL_EMDAY, loc->error);
  gl_set_current_time(1, 1, 2000);
  EXPECT_EQ(19, gl_getcentury(loc.get(), 1, 1, 0, 'P'));
  gl_reset_time();
  EXPECT_EQ(20, gl_getcentury_internal(loc.get(), 1, 1, 30, 6, 15, 2024, 'C'));
  // Mode 2 counts from 1911: today 113 is 2024.
  EXPECT_EQ(1, gl_getcenturyloc_internal(loc.get(), 1, 1, 13, 6, 15, 113, 'C', 2));
  EXPECT_EQ(-1, gl_getcentury_internal(loc.get(), 1, 1, 30, 13, 15, 2024, 'C'));
  EXPECT_EQ(GL_EMONTH, loc->error);
}

}  // namespace
