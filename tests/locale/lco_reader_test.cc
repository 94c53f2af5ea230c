// Locale-object files: the header, the section markers, the LC_CTYPE
// section, the refresh with its byte maps and conversion slots.
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "locale/core/gl_codetable.h"
#include "locale/core/gl_ctype.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_lco.h"
#include "locale/core/gl_mbchar.h"
#include "locale/core/gl_refresh.h"
#include "tests/locale/lco_fixture.h"

namespace {

using lcotest::LoadCtype;
using lcotest::Stream;

using Entries = std::vector<std::pair<std::string, uint16_t>>;

std::string DumpTable(const Entries &entries) {
  const uint16_t zero = 0;
  GlCodeTable *t = _gl_ct_create(2, 0, &zero);
  for (const auto &[key, value] : entries) {
    EXPECT_EQ(0, _gl_ct_insert(static_cast<int32_t>(key.size()),
                               reinterpret_cast<const unsigned char *>(key.data()), &value, t));
  }
  FILE *f = tmpfile();
  _gl_ct_dump(f, t, _gl_ct_write_hex16);
  _gl_ct_free(t);
  std::string out(static_cast<size_t>(ftell(f)), '\0');
  rewind(f);
  EXPECT_EQ(out.size(), fread(out.data(), 1, out.size(), f));
  fclose(f);
  return out;
}

std::string Header(const std::string &codeset = "8859-1") {
  return "FILE_TYPE=locale_object\nCOMPILER_VERSION=11\nHEADER_LINES=5\nLOCALE=x\nNOTE=y\n" +
         codeset + "\n";
}

// A small LC_CTYPE section: letters partners through pair 1 (unless
// without_pairs); tail is what follows the case table.
std::string Section(const Entries &classes, const std::string &tail, bool without_pairs = false) {
  Entries cases;
  for (const auto &[key, bits] : classes) {
    bool letter = (bits & (GL_CLASS_UPPER | GL_CLASS_LOWER)) != 0;
    cases.emplace_back(key, letter && !without_pairs ? 1 : 0);
  }
  return "### LC_CTYPE\n" + DumpTable(classes) + "1\n0 full_width\n" + DumpTable(cases) + tail;
}

const Entries kSingleByte = {{"a", 0x0386}, {"A", 0x0385}, {" ", 0x0510},
                             {"\t", 0x0430}, {"1", 0x0388}};
const std::string kPair = " 1\n0000004100000061";

// The other five markers with empty sections.
const std::string kRest =
    "### LC_COLLATE\n### LC_NUMERIC\n### LC_MONETARY\n### LC_TIME\n### LC_MESSAGES\n";

struct HeaderCase {
  const char *name;
  std::string text;
  int32_t ok;
  int32_t error;
  const char *codeset;
};

TEST(LcoHeader, ValidAndInvalidHeaders) {
  const std::string cs19(19, 'c'), cs20(20, 'c');
  const HeaderCase cases[] = {
      {"one line without line feed", "FILE_TYPE=locale_object", 0, GL_EFORMAT, ""},
      {"wrong kind", "FILE_TYPE=conversion\nCOMPILER_VERSION=11\nN=3\nx\n", 0, GL_EFORMAT, ""},
      {"old compiler", "FILE_TYPE=locale_object\nCOMPILER_VERSION=10\nN=3\nx\n", 0, GL_EVERSION,
       ""},
      {"count 3", "FILE_TYPE=locale_object\nCOMPILER_VERSION=11\nN=3\nutf8\n", 1, 0, "utf8"},
      {"count 5", Header("sjis"), 1, 0, "sjis"},
      {"count 2", "FILE_TYPE=locale_object\nCOMPILER_VERSION=11\nN=2\nx\ny\n", 0, GL_EFORMAT, ""},
      {"no =", "FILE_TYPE=locale_object\nCOMPILER_VERSION=11\nN3\nx\n", 0, GL_EFORMAT, ""},
      {"skipped line cut", "FILE_TYPE=locale_object\nCOMPILER_VERSION=11\nN=4\n", 0, GL_EFORMAT,
       ""},
      {"19-character code set", "FILE_TYPE=locale_object\nCOMPILER_VERSION=11\nN=3\n" + cs19 + "\n",
       1, 0, cs19.c_str()},
      {"20-character code set", "FILE_TYPE=locale_object\nCOMPILER_VERSION=11\nN=3\n" + cs20 + "\n",
       0, GL_EFORMAT, ""},
  };
  for (const HeaderCase &c : cases) {
    SCOPED_TRACE(c.name);
    FILE *f = Stream(c.text);
    char codeset[GL_CODESET_SIZE] = {};
    int32_t error = -1;
    EXPECT_EQ(c.ok, _gl_lco_read_header(f, codeset, &error));
    EXPECT_EQ(c.error, error);
    if (c.ok) {
      EXPECT_STREQ(c.codeset, codeset);
    }
    fclose(f);
  }
  // Through the category reader the error lands in the locale.
  FILE *f = Stream("FILE_TYPE=locale_object\nCOMPILER_VERSION=10\nN=3\nx\n");
  int32_t rc = 0;
  auto loc = LoadCtype(f, &rc);
  fclose(f);
  EXPECT_EQ(1, rc);
  EXPECT_EQ(GL_EVERSION, loc->error);
}

struct SectionCase {
  const char *name;
  std::string tail;
  int32_t error;  // 0: loads
  double factor;
  bool without_pairs = false;
};

TEST(LcoCtype, CaseFactorAndPairs) {
  const SectionCase cases[] = {
      {"empty factor", kPair + "\n", 0, 4.0},
      {"factor 2.5", kPair + " 2.5\n", 0, 2.5},
      {"no pairs, count line ends", " 0\n", 0, 4.0, true},
      {"no pairs, factor on the count line", " 0 1.5\n", 0, 1.5, true},
      // A factor that would undersize the callers' buffers, or that no
      // code set reaches, is refused.
      {"factor 0", kPair + " 0\n", GL_EFORMAT, 0},
      {"negative factor", kPair + " -1.5\n", GL_EFORMAT, 0},
      {"NaN factor", kPair + " nan\n", GL_EFORMAT, 0},
      {"infinite factor", kPair + " inf\n", GL_EFORMAT, 0},
      {"huge factor", kPair + " 1e300\n", GL_EFORMAT, 0},
      {"not a number", kPair + " abc\n", GL_EFORMAT, 0},
      {"pair without its line end", " 1 0000004100000061\n", GL_EFORMAT, 0},
  };
  for (const SectionCase &c : cases) {
    SCOPED_TRACE(c.name);
    int32_t error = c.error;
    FILE *f = Stream(Header() + Section(kSingleByte, c.tail, c.without_pairs) + kRest);
    int32_t rc = 0;
    auto loc = LoadCtype(f, &rc);
    fclose(f);
    EXPECT_EQ(error == 0 ? 0 : 1, rc);
    if (error != 0) {
      EXPECT_EQ(error, loc->error);
      continue;
    }
    EXPECT_EQ(c.factor, loc->case_factor);
    if (c.without_pairs) continue;
    ASSERT_NE(nullptr, loc->case_pairs);
    EXPECT_EQ(0x41u, loc->case_pairs[1].upper);
    EXPECT_EQ(0x61u, loc->case_pairs[1].lower);
  }
}

TEST(LcoCtype, ClassesAndLineEnds) {
  FILE *f = Stream(Header() + Section(kSingleByte, kPair + " 1.0\n") + kRest);
  auto loc = LoadCtype(f);
  fclose(f);
  ASSERT_EQ(1, loc->class_count);
  EXPECT_EQ(0, loc->classes[0].number);
  EXPECT_STREQ("full_width", loc->classes[0].name);
  EXPECT_EQ(0x0800u, gl_ctype(loc.get(), "full_width"));

  // The class count line must end right after the number.
  std::string bad = Section(kSingleByte, kPair + "\n");
  bad.replace(bad.find("1\n0 full_width\n"), 15, "1 \n0 full_width\n");
  f = Stream(Header() + bad + kRest);
  int32_t rc = 0;
  loc = LoadCtype(f, &rc);
  fclose(f);
  EXPECT_EQ(1, rc);
  EXPECT_EQ(GL_EFORMAT, loc->error);

  // A count beyond what a class mask can hold is refused, not allocated.
  bad = Section(kSingleByte, kPair + " 1.0\n");
  bad.replace(bad.find("1\n0 full_width\n"), 15, "2147483647\n0 full_width\n");
  f = Stream(Header() + bad + kRest);
  loc = LoadCtype(f, &rc);
  fclose(f);
  EXPECT_EQ(1, rc);
  EXPECT_EQ(GL_EFORMAT, loc->error);

  // The factor line must end with a line feed.
  f = Stream(Header() + Section(kSingleByte, kPair + " 1.0"));
  loc = LoadCtype(f, &rc);
  fclose(f);
  EXPECT_EQ(1, rc);
  EXPECT_EQ(GL_EFORMAT, loc->error);

  // A bad code-table text reports the table's own error.
  f = Stream(Header() + "### LC_CTYPE\n1 1 1 0000\n1 1\n00fff001\n" + kRest);
  loc = LoadCtype(f, &rc);
  fclose(f);
  EXPECT_EQ(1, rc);
  EXPECT_EQ(GL_ECTTEXT, loc->error);
}

TEST(LcoCtype, CaseIndexBeyondThePairsIsRefused) {
  Entries cases = {{"a", 2}, {"A", 1}};
  std::string section = "### LC_CTYPE\n" + DumpTable(kSingleByte) + "0\n" + DumpTable(cases) +
                        kPair + " 1.0\n";
  FILE *f = Stream(Header() + section + kRest);
  int32_t rc = 0;
  auto loc = LoadCtype(f, &rc);
  fclose(f);
  EXPECT_EQ(1, rc);
  EXPECT_EQ(GL_EFORMAT, loc->error);
}

TEST(LcoRefresh, SingleByteMapsAndSlots) {
  FILE *f = Stream(Header() + Section(kSingleByte, kPair + " 1.0\n") + kRest);
  auto loc = LoadCtype(f);
  fclose(f);
  EXPECT_EQ(1, loc->single_byte);
  ASSERT_NE(nullptr, loc->upper_map);
  EXPECT_EQ('A', loc->upper_map['a']);
  EXPECT_EQ('a', loc->lower_map['A']);
  EXPECT_EQ('1', loc->upper_map['1']);
  EXPECT_EQ(0x0510, loc->class_map[' ']);
  EXPECT_EQ(0, loc->class_map[0xff]);
  EXPECT_EQ(&_gl_is_mbstowcs, loc->mbstowcs);
  EXPECT_EQ(&_zel_gl_is_mbfstowcfs, loc->mbfstowcfs);
  EXPECT_EQ(0, loc->error);

  // A second refresh keeps the maps as they are.
  loc->upper_map['b'] = 'X';
  EXPECT_EQ(0, _gl_locale_refresh(loc.get()));
  EXPECT_EQ('X', loc->upper_map['b']);

  // Categories of another code set.
  strcpy(loc->codesets[GL_TIME - 2], "utf8");
  EXPECT_EQ(-1, _gl_locale_refresh(loc.get()));
  EXPECT_EQ(GL_ECODESET, loc->error);
}

TEST(LcoRefresh, MultibyteTableGetsMultibyteSlots) {
  const Entries classes = {{"A", 0x0385}, {"\xe1\x80\x80", 0x0104}, {"\xe1\x80\x81", 0x0104}};
  FILE *f = Stream(Header("utf8") + Section(classes, kPair + " 1.5\n") + kRest);
  auto loc = LoadCtype(f);
  fclose(f);
  EXPECT_EQ(0, loc->single_byte);
  EXPECT_EQ(nullptr, loc->upper_map);
  EXPECT_EQ(nullptr, loc->class_map);
  EXPECT_EQ(&_gl_im_mbstowcs, loc->mbstowcs);
  EXPECT_EQ(&_zel_gl_im_mbfstowcfs, loc->mbfstowcfs);
  EXPECT_EQ(3, gl_mb_loc_max(loc.get()));
  EXPECT_EQ(1, gl_mb_loc_min(loc.get()));
}

TEST(LcoFile, AllCategoriesAndMissingMarkers) {
  lcotest::UseBuildTree();
  GlLocale *raw = nullptr;
  ASSERT_EQ(0, gl_create_null_locale_4(&raw));
  lcotest::LocalePtr loc(raw);
  FILE *f = fopen(lcotest::TreeFile("8859-1").c_str(), "re");
  ASSERT_NE(nullptr, f);
  EXPECT_EQ(0, _gl_lco_read_all(f, raw));
  fclose(f);
  for (auto &cs : raw->codesets) EXPECT_STREQ("8859-1", cs);
  EXPECT_EQ(1, _gl_ct_max_key_len(raw->class_table));

  // Without the LC_NUMERIC marker: error 11 after LC_CTYPE was read.
  ASSERT_EQ(0, gl_create_null_locale_4(&raw));
  loc.reset(raw);
  f = Stream(Header() + Section(kSingleByte, kPair + "\n") + "### LC_COLLATE\nthai_smo\n### LC_MONETARY\n");
  EXPECT_EQ(1, _gl_lco_read_all(f, raw));
  fclose(f);
  EXPECT_EQ(GL_EFORMAT, raw->error);
  EXPECT_EQ(1, _gl_ct_max_key_len(raw->class_table));

  // A marker that only ends a longer line is no marker.
  ASSERT_EQ(0, gl_create_null_locale_4(&raw));
  loc.reset(raw);
  f = Stream(Header() + std::string(130, 'x') + "### LC_CTYPE\n");
  EXPECT_EQ(1, _gl_lco_read_all(f, raw));
  fclose(f);
  EXPECT_EQ(GL_EFORMAT, raw->error);
}

TEST(LcoFile, CategoryOfAnotherCodeSet) {
  lcotest::UseBuildTree();
  GlLocale *raw = nullptr;
  ASSERT_EQ(0, gl_create_null_locale_4(&raw));
  lcotest::LocalePtr loc(raw);
  FILE *f = fopen(lcotest::TreeFile("utf8").c_str(), "re");
  ASSERT_EQ(0, _gl_lco_read_category(raw, GL_CTYPE, f));
  fclose(f);
  f = fopen(lcotest::TreeFile("8859-1").c_str(), "re");
  EXPECT_EQ(1, _gl_lco_read_category(raw, GL_NUMERIC, f));
  fclose(f);
  EXPECT_EQ(GL_ECTYPECS, raw->error);
  f = fopen(lcotest::TreeFile("utf8").c_str(), "re");
  EXPECT_EQ(0, _gl_lco_read_category(raw, GL_NUMERIC, f));
  fclose(f);
}

TEST(LcoCollate, WideToMultibyteByThePositionsTable) {
  GlLocale *raw = nullptr;
  ASSERT_EQ(0, gl_create_null_locale_4(&raw));
  lcotest::LocalePtr loc(raw);
  const unsigned char key[] = {0x41};
  const uint16_t pos = 7;
  ASSERT_EQ(0, _gl_ct_insert(1, key, &pos, raw->coll_positions));
  char out[4] = {};
  EXPECT_EQ(1, _gl_sl_wctomb(raw, out, 0x41));
  EXPECT_EQ('A', out[0]);
  EXPECT_EQ(-1, _gl_sl_wctomb(raw, out, 0x1234));
  EXPECT_EQ(GL_EILSEQ, raw->error);
}

}  // namespace
