#include <gtest/gtest.h>

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

TEST_F(DateParseTest, CallCenturyLetterDoesNotStay) {
  const char before = rgetdbcentury();
  int32_t d = 0;
  EXPECT_EQ(zel_strdate("02/29/00", &d, "P"), 0);
  EXPECT_EQ(rgetdbcentury(), before);
  EXPECT_EQ(zel_defmtdate(&d, "mm/dd/yy", "2/30/00", "F"), -1206);
  EXPECT_EQ(rgetdbcentury(), before);
}

}  // namespace
