#include <gtest/gtest.h>

#include "base/thread_state.h"
#include "sqltypes/date.h"
#include "tests/sqltypes/sql_env.h"

namespace {

class DateParseTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { sqltest::UseBuildTree(); }
};

// 36584 is 29 February 2000 (day 0 is 31 December 1899, as Python's
// date(2000, 2, 29) - date(1899, 12, 31) gives).
TEST_F(DateParseTest, NumericFormUnderTheDefaultOrder) {
  struct Case {
    const char* text;
    int rc;
    int32_t date;
  } cases[] = {
      {"022900", 0, 36584},   {"2-29-00", 0, 36584},  {"02/29/2000", 0, 36584},
      {"2-2900", -1218, DATE_NULL}, {"  ", 0, DATE_NULL}, {"2/30/2000", -1206, DATE_NULL},
      {"13/01/2000", -1205, DATE_NULL}, {"1/2/3/4", -1218, DATE_NULL},
  };
  for (const Case& c : cases) {
    int32_t d = 12345;
    EXPECT_EQ(rstrdate(c.text, &d), c.rc) << c.text;
    EXPECT_EQ(d, c.date) << c.text;
  }
}

TEST_F(DateParseTest, MasksAreLenient) {
  int32_t d = 0;
  EXPECT_EQ(rdefmtdate(&d, "mm/dd/yyyy", "2/29/2000"), 0);
  EXPECT_EQ(d, 36584);
  d = 0;
  EXPECT_EQ(rdefmtdate(&d, "dd/mm/yy", "29022000"), 0);
  EXPECT_EQ(d, 36584);
  d = 0;
  EXPECT_EQ(rdefmtdate(&d, "yyyy-mm-dd", "2000/ 2/ 29"), 0);
  EXPECT_EQ(d, 36584);
}

// Texts outside the numeric form, under the default order month-day-year
// (strict) and under masks (lenient). Expected days from Python's
// date.toordinal() - date(1899, 12, 31).toordinal().
TEST_F(DateParseTest, GeneralForm) {
  struct Case {
    const char* mask;  // null: rstrdate
    const char* text;
    int rc;
    int32_t date;
  } cases[] = {
      {nullptr, "Feb 29 2000", 0, 36584},
      {nullptr, "FEBRUARY 29, 2000", 0, 36584},
      {nullptr, "feb292000", 0, 36584},       // no separator needed after a name
      {nullptr, "february 29 00", 0, 36584},
      {nullptr, "Febr 29 2000", 0, 36584},  // "feb", then one separator "r"
      {nullptr, "Feb 29 2000 x", -1218, DATE_NULL},
      {nullptr, "Feb 2 2000", 0, 36557},
      {nullptr, "02/2 9/2000", -1218, DATE_NULL},
      {nullptr, "2/29 2000", 0, 36584},
      {nullptr, "2/292000", -1218, DATE_NULL},  // a third field without its separator
      {nullptr, "Xyz 29 2000", -1205, DATE_NULL},
      {nullptr, "Feb 30 2000", -1206, DATE_NULL},
      {nullptr, "Feb 29", -1204, DATE_NULL},
      {nullptr, "2--29-2000", -1206, DATE_NULL},  // strict: one separator character
      {"dd-mm-yyyy", "29-FEB-2000", 0, 36584},  // "mmm" text read under "mm"
      {"dd-mm-yyyy", "29 February 2000", 0, 36584},
      {"dd-mm-yyyy", "29--fEb--2000 !", 0, 36584},
      {"dd-mm-yyyy", "29-feb-2000 1", -1218, DATE_NULL},
      {"yyyy-mm-dd", "2000 Feb 29", 0, 36584},
      {"yyyy-mm-dd", "2000Feb29", 0, 36584},
      {"mm/dd/yy", "2/29/100", -1206, DATE_NULL},  // the year 100
      {"mm/dd/yyyy", "2/1/2000", 0, 36556},
      {"yyyy mm dd", "2000 2 29", 0, 36584},
  };
  for (const Case& c : cases) {
    int32_t d = DATE_NULL;
    const int rc = c.mask == nullptr ? rstrdate(c.text, &d) : rdefmtdate(&d, c.mask, c.text);
    EXPECT_EQ(rc, c.rc) << c.text;
    EXPECT_EQ(d, c.date) << c.text;
  }
}

TEST_F(DateParseTest, DbdateValuesAndLocaleFormats) {
  int32_t d = 0;
  EXPECT_EQ(rstrdbdate("2000-02-29", &d, "Y4MD-"), 0);
  EXPECT_EQ(d, 36584);
  EXPECT_EQ(rstrdbdate("29.02.2000", &d, "DMY4."), 0);
  EXPECT_EQ(d, 36584);
  EXPECT_EQ(rstrdbdate("29.02.2000x", &d, "DMY4."), -1218);
  EXPECT_EQ(d, DATE_NULL);
  EXPECT_EQ(rstrdbdate("30.02.2000", &d, "DMY4."), -1206);
  EXPECT_EQ(rstrdbdate("  ", &d, "DMY4."), 0);
  EXPECT_EQ(d, DATE_NULL);
  EXPECT_EQ(rstrdbdate("1.1.2000", &d, "DXY4."), -1212);

  EXPECT_EQ(zel_gl_convert_date(&d, "29 February 2000", "%d %B %Y"), 0);
  EXPECT_EQ(d, 36584);
  d = 7;
  EXPECT_EQ(zel_gl_convert_date(&d, "Feb 29 2000", nullptr), 0);
  EXPECT_EQ(d, 36584);
  // The locale error numbers a failure leaves behind.
  struct Fail {
    const char* text;
    const char* format;
    int error;
  } fails[] = {{"2/30/2000", nullptr, 37}, {"13/1/2000", nullptr, 40},
               {"Feb 29", nullptr, 41},    {"2/29/2000/1", nullptr, 9},
               {"30.02.2000", "%d.%m.%Y", 27}};  // the parser's own number
  for (const Fail& f : fails) {
    d = 7;
    EXPECT_EQ(zel_gl_convert_date(&d, f.text, f.format), -1) << f.text;
    EXPECT_EQ(rgetglerror(), f.error) << f.text;
    EXPECT_EQ(d, 7) << f.text;
  }
}

TEST_F(DateParseTest, BlankTextUnderQkmRdefmtdate) {
  setenv("QKM_RDEFMTDATE", "1", 1);
  int32_t d = 12345;
  EXPECT_EQ(rstrdate("  ", &d), 0);  // the date format in force came from the defaults
  EXPECT_EQ(d, DATE_NULL);
  d = 12345;
  EXPECT_EQ(rdefmtdate(&d, "mm/dd/yyyy", "  "), 0);
  EXPECT_EQ(d, 12345);
  d = 12345;
  EXPECT_LT(rstrdbdate("  ", &d, "MDY4/"), 0);  // the locale parser's failure
  EXPECT_EQ(d, DATE_NULL);
  unsetenv("QKM_RDEFMTDATE");
  d = 12345;
  EXPECT_EQ(rdefmtdate(&d, "mm/dd/yyyy", "  "), 0);
  EXPECT_EQ(d, DATE_NULL);
  EXPECT_EQ(rstrdbdate("  ", &d, "MDY4/"), 0);
  EXPECT_EQ(d, DATE_NULL);
}

TEST_F(DateParseTest, CallCenturyLetterDoesNotStay) {
  const char before = rgetdbcentury();
  int32_t d = 0;
  EXPECT_EQ(zel_strdate("02/29/00", &d, "P"), 0);
  EXPECT_EQ(rgetdbcentury(), before);
  EXPECT_EQ(zel_defmtdate(&d, "mm/dd/yy", "2/30/00", "F"), -1206);
  EXPECT_EQ(rgetdbcentury(), before);
}

}  // namespace
