// ALLOCATE, GET, SET and DEALLOCATE DESCRIPTOR: names, COUNT, the field
// numbers, the standard type codes, the storage of item data and the
// release of what items own.
#include <string>
#include <vector>

#include "sqlruntime/descriptors.h"
#include "sqlruntime/hostvalues.h"
#include "sqltypes/datetime.h"
#include "tests/sqlruntime/sqli_fixture.h"

namespace {

using sqli_test::SqliTest;

SqliDescField F(int16_t field, void* data, int16_t type, int32_t length) {
  SqliDescField f{};
  f.data = data;
  f.field = field;
  f.host_type = type;
  f.host_length = length;
  return f;
}

// A field list ended by field 0.
struct Fields {
  std::vector<SqliDescField> v;
  Fields(std::initializer_list<SqliDescField> l) : v(l) { v.push_back(F(0, nullptr, 0, 0)); }
  SqliDescField* get() { return v.data(); }
};

int16_t GetShort(const char* name, int n, int16_t field) {
  int16_t out = -999;
  Fields f{F(field, &out, 101, 2)};
  EXPECT_EQ(0, sqli_desc_get(0, name, n, f.get(), 0)) << field;
  return out;
}

int32_t Count(const char* name) {
  int16_t count = -1;
  Fields f{};
  f.v[0] = F(0, &count, 101, 2);
  EXPECT_EQ(0, sqli_desc_get(0, name, -1, f.get(), 0));
  return count;
}

class DescriptorsTest : public SqliTest {
 protected:
  void TearDown() override {
    for (const char* n : {"d1", "d2", "abcdefghijklmnopqrst"}) sqli_desc_dealloc(n);
    SqliTest::TearDown();
  }
};

TEST_F(DescriptorsTest, AllocateNamesCountAndFreshItems) {
  const char* longname = "abcdefghijklmnopqrst";  // 20 characters
  ASSERT_EQ(0, sqli_desc_alloc(longname, 5));
  SqliDescriptor* d = sqli_desc_table_find(longname);
  ASSERT_NE(d, nullptr);
  EXPECT_STREQ(d->name, "abcdefghijklmnopq+");
  EXPECT_EQ(5, Count(longname));
  for (int i = 1; i <= 5; ++i) {
    EXPECT_EQ(-1, GetShort(longname, i, SQLI_DF_TYPE)) << i;
    EXPECT_EQ(-1, GetShort(longname, i, SQLI_DF_INDICATOR)) << i;
  }
  // A short name is shown as it is; trailing blanks are not part of it.
  ASSERT_EQ(0, sqli_desc_alloc("d1   ", 1));
  EXPECT_STREQ(sqli_desc_table_find("d1")->name, "d1");
  EXPECT_EQ(0, sqli_desc_dealloc(longname));
  EXPECT_EQ(nullptr, sqli_desc_table_find(longname));
}

TEST_F(DescriptorsTest, ErrorsOfAllocateDeallocateAndItemNumbers) {
  std::string n129(129, 'x'), n128(128, 'y');
  EXPECT_EQ(-470, sqli_desc_alloc("d1", 0));
  EXPECT_EQ(-470, sqli_desc_alloc("d1", -3));
  EXPECT_EQ(-471, sqli_desc_alloc(nullptr, 2));
  EXPECT_EQ(-471, sqli_desc_alloc("   ", 2));
  EXPECT_EQ(-483, sqli_desc_alloc(n129.c_str(), 2));
  ASSERT_EQ(0, sqli_desc_alloc(n128.c_str(), 2));
  EXPECT_EQ(0, sqli_desc_dealloc(n128.c_str()));
  ASSERT_EQ(0, sqli_desc_alloc("d1", 2));
  EXPECT_EQ(-480, sqli_desc_alloc("d1", 3));
  EXPECT_EQ(-469, sqli_desc_dealloc("nope"));
  EXPECT_EQ(-471, sqli_desc_dealloc(""));

  int16_t v = 0;
  Fields type{F(SQLI_DF_TYPE, &v, 101, 2)};
  EXPECT_EQ(-469, sqli_desc_get(0, "nope", 1, type.get(), 0));
  EXPECT_EQ(-469, sqli_desc_set(0, "nope", 1, type.get(), 0));
  EXPECT_EQ(-472, sqli_desc_get(0, "d1", 0, type.get(), 0));
  EXPECT_EQ(-472, sqli_desc_get(0, "d1", 3, type.get(), 0));
  EXPECT_EQ(-472, sqli_desc_set(0, "d1", 3, type.get(), 0));
  EXPECT_EQ(-472, sqli_desc_get(0, "d1", -1, type.get(), 0));  // COUNT needs field 0
  Fields bad{F(99, &v, 101, 2)};
  EXPECT_EQ(-474, sqli_desc_get(0, "d1", 1, bad.get(), 0));
  EXPECT_EQ(-474, sqli_desc_set(0, "d1", 1, bad.get(), 0));
  // SET COUNT: 1 to the maximum.
  for (int16_t c : {0, 3}) {
    Fields f{};
    f.v[0] = F(0, &c, 101, 2);
    EXPECT_EQ(-472, sqli_desc_set(0, "d1", -1, f.get(), 0)) << c;
  }
  int16_t one = 1;
  Fields cf{};
  cf.v[0] = F(0, &one, 101, 2);
  EXPECT_EQ(0, sqli_desc_set(0, "d1", -1, cf.get(), 0));
  EXPECT_EQ(1, Count("d1"));
  // An item without a type cannot take data.
  int32_t x = 5;
  Fields data{F(SQLI_DF_DATA, &x, 102, 4)};
  EXPECT_EQ(-478, sqli_desc_set(0, "d1", 2, data.get(), 0));
}

TEST_F(DescriptorsTest, CharacterLengthsAndVarcharLimit) {
  ASSERT_EQ(0, sqli_desc_alloc("d1", 2));
  int16_t t = SQLCHAR;
  int32_t len = 10;
  Fields no_len{F(SQLI_DF_TYPE, &t, 101, 2)};
  EXPECT_EQ(-476, sqli_desc_set(0, "d1", 1, no_len.get(), 0));
  char text[] = "hello";
  Fields with{F(SQLI_DF_TYPE, &t, 101, 2), F(SQLI_DF_LENGTH, &len, 102, 4), F(SQLI_DF_DATA, text, 100, 6)};
  ASSERT_EQ(0, sqli_desc_set(0, "d1", 1, with.get(), 0));
  char out[11] = {};
  int16_t ind = -5;
  Fields get{F(SQLI_DF_INDICATOR, &ind, 101, 2), F(SQLI_DF_DATA, out, 100, sizeof out)};
  ASSERT_EQ(0, sqli_desc_get(0, "d1", 1, get.get(), 0));
  EXPECT_EQ(0, ind);
  EXPECT_STREQ(out, "hello     ");  // CHAR(10) is blank-padded
  EXPECT_EQ(10, GetShort("d1", 1, SQLI_DF_LENGTH));

  // VARCHAR: 256 is taken as 255 and holds 255 bytes; 257 is refused.
  int16_t vt = SQLVCHAR;
  int32_t l256 = 256, l257 = 257;
  std::string big(255, 'v');
  Fields v256{F(SQLI_DF_TYPE, &vt, 101, 2), F(SQLI_DF_LENGTH, &l256, 102, 4),
              F(SQLI_DF_DATA, big.data(), 100, 256)};
  ASSERT_EQ(0, sqli_desc_set(0, "d1", 2, v256.get(), 0));
  EXPECT_EQ(255, GetShort("d1", 2, SQLI_DF_LENGTH));
  std::vector<char> back(300, 'x');
  Fields gv{F(SQLI_DF_DATA, back.data(), 114, 300)};
  ASSERT_EQ(0, sqli_desc_get(0, "d1", 2, gv.get(), 0));
  EXPECT_EQ(big, std::string(back.data()));
  Fields v257{F(SQLI_DF_TYPE, &vt, 101, 2), F(SQLI_DF_LENGTH, &l257, 102, 4)};
  EXPECT_EQ(-650, sqli_desc_set(0, "d1", 2, v257.get(), 0));
}

TEST_F(DescriptorsTest, DataOfANullItemNeedsTheIndicator) {
  ASSERT_EQ(0, sqli_desc_alloc("d1", 1));
  int16_t t = SQLINT, minus1 = -1;
  int32_t v = 42;
  Fields set{F(SQLI_DF_TYPE, &t, 101, 2), F(SQLI_DF_DATA, &v, 102, 4), F(SQLI_DF_INDICATOR, &minus1, 101, 2)};
  ASSERT_EQ(0, sqli_desc_set(0, "d1", 1, set.get(), 0));
  EXPECT_EQ(-1, GetShort("d1", 1, SQLI_DF_INDICATOR));
  int32_t out = 7;
  int16_t ind = 0;
  Fields alone{F(SQLI_DF_DATA, &out, 102, 4)};
  EXPECT_EQ(-475, sqli_desc_get(0, "d1", 1, alone.get(), 0));
  Fields before{F(SQLI_DF_INDICATOR, &ind, 101, 2), F(SQLI_DF_DATA, &out, 102, 4)};
  EXPECT_EQ(0, sqli_desc_get(0, "d1", 1, before.get(), 0));
  EXPECT_EQ(-1, ind);
  ind = 0;
  Fields after{F(SQLI_DF_DATA, &out, 102, 4), F(SQLI_DF_INDICATOR, &ind, 101, 2)};
  EXPECT_EQ(0, sqli_desc_get(0, "d1", 1, after.get(), 0));
  EXPECT_EQ(-1, ind);
  // A SET of the indicator alone keeps the data set before it.
  int16_t zero = 0;
  Fields ind0{F(SQLI_DF_INDICATOR, &zero, 101, 2)};
  ASSERT_EQ(0, sqli_desc_set(0, "d1", 1, ind0.get(), 0));
  Fields data{F(SQLI_DF_DATA, &out, 102, 4)};
  ASSERT_EQ(0, sqli_desc_get(0, "d1", 1, data.get(), 0));
  EXPECT_EQ(42, out);
}

TEST_F(DescriptorsTest, StandardTypeCodesBothWays) {
  ASSERT_EQ(0, sqli_desc_alloc("d1", 1));
  // The mapping table of programs that ask for standard codes.
  const struct { int16_t sql, standard; int32_t length; } map[] = {
      {SQLCHAR, 1, 4}, {SQLSMINT, 5, 2}, {SQLINT, 4, 4}, {SQLFLOAT, 6, 8}, {SQLDECIMAL, 3, 0x0802},
      {SQLBIGINT, 7, 8},
  };
  for (const auto& m : map) {
    int16_t t = m.sql;
    int32_t len = m.length;
    Fields set{F(SQLI_DF_TYPE, &t, 101, 2), F(SQLI_DF_LENGTH, &len, 102, 4)};
    ASSERT_EQ(0, sqli_desc_set(0, "d1", 1, set.get(), 0)) << m.sql;
    int16_t got = 0;
    Fields get{F(SQLI_DF_TYPE, &got, 101, 2)};
    ASSERT_EQ(0, sqli_desc_get(0, "d1", 1, get.get(), 1));
    EXPECT_EQ(m.standard, got) << m.sql;
    int16_t st = m.standard;
    Fields back{F(SQLI_DF_TYPE, &st, 101, 2), F(SQLI_DF_LENGTH, &len, 102, 4)};
    ASSERT_EQ(0, sqli_desc_set(0, "d1", 1, back.get(), 1));
    EXPECT_EQ(m.sql, GetShort("d1", 1, SQLI_DF_TYPE)) << m.standard;
  }
  // DATE has no standard code; 2 is no standard code either.
  int16_t date = SQLDATE, two = 2, got = 0;
  Fields sd{F(SQLI_DF_TYPE, &date, 101, 2)};
  ASSERT_EQ(0, sqli_desc_set(0, "d1", 1, sd.get(), 0));
  Fields gd{F(SQLI_DF_TYPE, &got, 101, 2)};
  EXPECT_EQ(-473, sqli_desc_get(0, "d1", 1, gd.get(), 1));
  Fields s2{F(SQLI_DF_TYPE, &two, 101, 2)};
  EXPECT_EQ(-473, sqli_desc_set(0, "d1", 1, s2.get(), 1));
  // DECIMAL(8,2): precision and scale come from the length word.
  int16_t dec = SQLDECIMAL, p = 8, s = 2;
  Fields sdec{F(SQLI_DF_TYPE, &dec, 101, 2), F(SQLI_DF_PRECISION, &p, 101, 2), F(SQLI_DF_SCALE, &s, 101, 2)};
  ASSERT_EQ(0, sqli_desc_set(0, "d1", 1, sdec.get(), 0));
  EXPECT_EQ(8, GetShort("d1", 1, SQLI_DF_PRECISION));
  EXPECT_EQ(2, GetShort("d1", 1, SQLI_DF_SCALE));
  EXPECT_EQ(0x0802, GetShort("d1", 1, SQLI_DF_LENGTH));
  // NULLABLE 0 marks the type NOT NULL.
  int16_t zero = 0;
  Fields nn{F(SQLI_DF_NULLABLE, &zero, 101, 2)};
  ASSERT_EQ(0, sqli_desc_set(0, "d1", 1, nn.get(), 0));
  EXPECT_EQ(0, GetShort("d1", 1, SQLI_DF_NULLABLE));
}

TEST_F(DescriptorsTest, DatetimeAndIntervalTextIsParsed) {
  ASSERT_EQ(0, sqli_desc_alloc("d1", 2));
  // YEAR TO SECOND and DAY TO SECOND qualifiers.
  int16_t dt = SQLDTIME, iv = SQLINTERVAL;
  int32_t qdt = 0x0E0A, qiv = 0x084A;
  char dtext[] = "2024-02-29 13:45:10", itext[] = "5 10:20:30";
  Fields sdt{F(SQLI_DF_TYPE, &dt, 101, 2), F(SQLI_DF_LENGTH, &qdt, 102, 4), F(SQLI_DF_DATA, dtext, 100, 20)};
  ASSERT_EQ(0, sqli_desc_set(0, "d1", 1, sdt.get(), 0));
  Fields siv{F(SQLI_DF_TYPE, &iv, 101, 2), F(SQLI_DF_LENGTH, &qiv, 102, 4), F(SQLI_DF_DATA, itext, 100, 11)};
  ASSERT_EQ(0, sqli_desc_set(0, "d1", 2, siv.get(), 0));
  DateTimeValue d{};
  Fields gdt{F(SQLI_DF_DATA, &d, 112, qdt)};
  ASSERT_EQ(0, sqli_desc_get(0, "d1", 1, gdt.get(), 0));
  char out[64] = {};
  ASSERT_EQ(0, dttoasc(&d, out));
  EXPECT_STREQ(out, "2024-02-29 13:45:10");
  IntervalValue i{};
  Fields giv{F(SQLI_DF_DATA, &i, 115, qiv)};
  ASSERT_EQ(0, sqli_desc_get(0, "d1", 2, giv.get(), 0));
  ASSERT_EQ(0, intoasc(&i, out));
  EXPECT_STREQ(out, "  5 10:20:30");
  // A date that does not exist is refused.
  char bad[] = "2023-02-29 00:00:00";
  Fields sbad{F(SQLI_DF_DATA, bad, 100, 20)};
  EXPECT_NE(0, sqli_desc_set(0, "d1", 1, sbad.get(), 0));
}

TEST_F(DescriptorsTest, NamesAndExtendedFieldsAndTheirRelease) {
  ASSERT_EQ(0, sqli_desc_alloc("d2", 3));
  int16_t t = SQLUDTVAR, ct = SQLCHAR, st = SQLINT;
  int32_t xid = 77, sid = 9, len = 4;
  char name[] = "colname", tname[] = "mytype", owner[] = "me";
  Fields set{F(SQLI_DF_TYPE, &t, 101, 2), F(SQLI_DF_NAME, name, 100, 8), F(SQLI_DF_TYPE_NAME, tname, 100, 7),
             F(SQLI_DF_OWNER_NAME, owner, 100, 3), F(SQLI_DF_XID, &xid, 102, 4),
             F(SQLI_DF_SOURCE_ID, &sid, 102, 4), F(SQLI_DF_SOURCE_TYPE, &st, 101, 2)};
  ASSERT_EQ(0, sqli_desc_set(0, "d2", 1, set.get(), 0));
  // Names replaced a second time free the first copies.
  char name2[] = "other";
  Fields rename{F(SQLI_DF_NAME, name2, 100, 6)};
  ASSERT_EQ(0, sqli_desc_set(0, "d2", 1, rename.get(), 0));
  char n_out[16] = {}, t_out[16] = {}, o_out[16] = {}, shortbuf[3] = {};
  int32_t x_out = 0, s_out = 0;
  int16_t tl = 0, ol = 0;
  Fields get{F(SQLI_DF_NAME, n_out, 100, 16), F(SQLI_DF_TYPE_NAME, t_out, 100, 16),
             F(SQLI_DF_OWNER_NAME, o_out, 100, 16), F(SQLI_DF_XID, &x_out, 102, 4),
             F(SQLI_DF_SOURCE_ID, &s_out, 102, 4), F(SQLI_DF_TYPE_NAME_LENGTH, &tl, 101, 2),
             F(SQLI_DF_OWNER_NAME_LENGTH, &ol, 101, 2)};
  ASSERT_EQ(0, sqli_desc_get(0, "d2", 1, get.get(), 0));
  EXPECT_STREQ(n_out, "other");
  EXPECT_STREQ(t_out, "mytype");
  EXPECT_STREQ(o_out, "me");
  EXPECT_EQ(77, x_out);
  EXPECT_EQ(9, s_out);
  EXPECT_EQ(6, tl);
  EXPECT_EQ(2, ol);
  EXPECT_EQ(SQLINT, GetShort("d2", 1, SQLI_DF_SOURCE_TYPE));
  Fields tooshort{F(SQLI_DF_NAME, shortbuf, 100, 3)};
  EXPECT_EQ(-477, sqli_desc_get(0, "d2", 1, tooshort.get(), 0));
  // An indicator variable of its own, and CHAR data; all of it is freed
  // by DEALLOCATE (the address checker sees any leak).
  char data[] = "abcd";
  int16_t it = SQLINT;
  int32_t indv = 3, got = 0;
  Fields set2{F(SQLI_DF_TYPE, &ct, 101, 2), F(SQLI_DF_LENGTH, &len, 102, 4), F(SQLI_DF_DATA, data, 100, 5),
              F(SQLI_DF_IND_TYPE, &it, 101, 2), F(SQLI_DF_IND_DATA, &indv, 102, 4)};
  ASSERT_EQ(0, sqli_desc_set(0, "d2", 2, set2.get(), 0));
  Fields gi{F(SQLI_DF_IND_DATA, &got, 102, 4)};
  ASSERT_EQ(0, sqli_desc_get(0, "d2", 2, gi.get(), 0));
  EXPECT_EQ(3, got);
  EXPECT_EQ(0, sqli_desc_dealloc("d2"));
  EXPECT_EQ(-469, sqli_desc_dealloc("d2"));
}

}  // namespace
