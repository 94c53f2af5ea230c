// Var values: making, sizing, filling and releasing them, program-owned
// against runtime-owned areas, and the LVARCHAR allocation mode.
#include <cstring>

#include "sqlruntime/descriptors.h"
#include "tests/sqlruntime/sqli_fixture.h"

namespace {

using sqli_test::SqliTest;

class VarValuesTest : public SqliTest {};

TEST_F(VarValuesTest, MissingValuesAndBadArguments) {
  SqliVarValue* v = nullptr;
  EXPECT_EQ(-1820, zel_var_getlen(&v));
  EXPECT_EQ(-1820, zel_var_setlen(&v, 1));
  EXPECT_EQ(nullptr, zel_var_getdata(&v));
  EXPECT_EQ(-1820, sqlca.sqlcode);
  EXPECT_EQ(-1822, zel_var_isnull(&v));
  EXPECT_EQ(-1822, zel_var_setnull(&v, 1));
  EXPECT_EQ(-1822, zel_var_dealloc(&v));
  ASSERT_EQ(0, zel_var_init(&v));
  ASSERT_NE(v, nullptr);
  SqliVarValue* same = v;
  ASSERT_EQ(0, zel_var_init(&v));  // an existing value is kept
  EXPECT_EQ(same, v);
  EXPECT_EQ(SQLI_VV_OWNED, v->flags);
  EXPECT_EQ(-1822, zel_var_setnull(&v, 2));
  EXPECT_EQ(-1822, zel_var_flag(&v, 5));
  EXPECT_EQ(-1822, zel_var_alloc(&v, 0));
  EXPECT_EQ(-1822, zel_var_setdata(&v, "x", 0));
  EXPECT_EQ(-1823, zel_var_setlen(&v, 1));  // size 0
  ASSERT_EQ(0, zel_var_setnull(&v, 1));
  EXPECT_EQ(1, zel_var_isnull(&v));
  ASSERT_EQ(0, zel_var_setnull(&v, 0));
  EXPECT_EQ(0, zel_var_isnull(&v));
  zel_var_dealloc(&v);
  free(v);
}

TEST_F(VarValuesTest, RuntimeOwnedValuesGrowAndCopy) {
  SqliVarValue* v = nullptr;
  // A missing value is made with the data.
  ASSERT_EQ(0, zel_var_setdata(&v, "hello", 5));
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(5, zel_var_getlen(&v));
  EXPECT_EQ(0, std::memcmp(zel_var_getdata(&v), "hello", 5));
  ASSERT_EQ(0, zel_var_setnull(&v, 1));
  EXPECT_EQ(nullptr, zel_var_getdata(&v));  // a null value shows no data
  ASSERT_EQ(0, zel_var_setdata(&v, "a longer text", 13));
  EXPECT_EQ(0, zel_var_isnull(&v));  // new data clears the null flag
  EXPECT_EQ(13, v->length);
  EXPECT_GE(v->size, 13);
  EXPECT_EQ(0, std::memcmp(v->data, "a longer text", 13));
  ASSERT_EQ(0, zel_var_setlen(&v, 3));
  EXPECT_EQ(3, zel_var_getlen(&v));
  // alloc with a smaller size zeroes that many bytes and keeps the size.
  const int32_t size = v->size;
  ASSERT_EQ(0, zel_var_alloc(&v, 4));
  EXPECT_EQ(size, v->size);
  EXPECT_EQ(3, v->length);
  EXPECT_EQ(0, std::memcmp(v->data, "\0\0\0\0nge", 7));
  // A larger size replaces the area with a zeroed one of that size.
  ASSERT_EQ(0, zel_var_alloc(&v, 40));
  EXPECT_EQ(40, v->size);
  EXPECT_EQ(40, v->length);
  for (int i = 0; i < 40; ++i) ASSERT_EQ(0, v->data[i]);
  ASSERT_EQ(0, zel_var_dealloc(&v));
  EXPECT_EQ(nullptr, v->data);
  EXPECT_EQ(0, v->size);
  free(v);
}

TEST_F(VarValuesTest, ProgramOwnedValuesAreNeverGrownOrFreed) {
  char area[10];
  std::memset(area, 'z', sizeof area);
  SqliVarValue* v = nullptr;
  ASSERT_EQ(0, zel_var_flag(&v, 0));  // made, program-owned
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(0, v->flags & SQLI_VV_OWNED);
  v->data = area;
  v->size = 10;
  v->length = 2;
  EXPECT_EQ(-1823, zel_var_setdata(&v, "0123456789A", 11));
  EXPECT_EQ(2, v->length);
  EXPECT_EQ(10, v->size);
  EXPECT_EQ(area, v->data);
  EXPECT_EQ(std::string(10, 'z'), std::string(area, 10));
  ASSERT_EQ(0, zel_var_setdata(&v, "0123456789", 10));
  EXPECT_EQ("0123456789", std::string(area, 10));
  // Clearing the runtime mark drops the area without freeing it.
  ASSERT_EQ(0, zel_var_flag(&v, 0));
  EXPECT_EQ(nullptr, v->data);
  EXPECT_EQ("0123456789", std::string(area, 10));
  // Without an area the call is accepted and the value stays as it was:
  // no reader may take bytes from a missing area.
  v->length = 0;
  v->flags = SQLI_VV_NULL;
  ASSERT_EQ(0, zel_var_setdata(&v, "abc", 3));
  EXPECT_EQ(0, v->length);
  EXPECT_EQ(1, zel_var_isnull(&v));
  EXPECT_EQ(nullptr, zel_var_getdata(&v));
  free(v);
}

TEST_F(VarValuesTest, LvarcharModeIsKept) {
  const int32_t before = sqlca.sqlcode;
  EXPECT_EQ(0, zel_lvar_alloc(1));
  EXPECT_EQ(1, sqli_runtime_get()->lvarchar_mode);
  EXPECT_EQ(before, sqlca.sqlcode);
  EXPECT_EQ(0, zel_lvar_alloc(0));
  EXPECT_EQ(0, sqli_runtime_get()->lvarchar_mode);
}

}  // namespace
