// Rules of statement execution against the python3 test server: the
// character-input check of a connection in ANSI mode (-766, nothing sent),
// and the storage DESCRIBE gives the items of a named descriptor, sized by
// the type table (memory size of a host variable of each SQL type).
#include <malloc.h>

#include <cstdlib>
#include <cstring>

#include "sqlruntime/connection.h"
#include "sqlruntime/execute.h"
#include "sqlruntime/hostvalues.h"
#include "tests/sqlruntime/sqli_exchanges.h"

namespace {

using sqli_test::ExchangeTest;

class ExecRulesTest : public ExchangeTest {
 protected:
  void Ansi(bool on) { sqli_runtime_get()->current->props[1] = on ? 1 : 0; }
  void TearDown() override {
    SqliRuntime* rt = sqli_runtime_get();
    if (rt->current != nullptr) Ansi(false);
    ExchangeTest::TearDown();
  }
};

TEST_F(ExecRulesTest, CharacterInputWithoutNulInAnsiMode) {
  Start("\"caps\": \"00\", \"tables\": {" + sqli_test::Table100(1) + "}");
  char full[4] = {'a', 'b', 'c', 'd'};  // no NUL within its length
  char ok[4] = "abc";
  int16_t null_ind = -1, zero = 0;
  SqliValueItem in[2] = {};
  in[0].type = 100, in[0].length = 4, in[0].data = full, in[0].ind_type = -1, in[0].indicator = &zero;
  in[1].type = 100, in[1].length = 4, in[1].data = ok, in[1].ind_type = -1, in[1].indicator = &zero;
  int16_t pair[2] = {0, -1};
  const char* text[] = {"update t1 set b = ? where b = ?", nullptr};
  struct Case {
    const char* what;
    bool ansi;
    int16_t type;
    int16_t* first_ind;
    int32_t code;
  } cases[] = {
      {"ANSI mode, CHAR without NUL", true, 100, &zero, -766},
      {"host type 109 likewise", true, 109, &zero, -766},
      {"host type 114 likewise", true, 114, &zero, -766},
      {"host type 108 needs no NUL", true, 108, &zero, 0},
      {"a null input ends the check", true, 100, &null_ind, 0},
      {"not in ANSI mode", false, 100, &zero, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    Ansi(k.ansi);
    in[0].type = k.type;
    in[0].indicator = k.first_ind;
    size_t before = Codes().size();
    pair[0] = 0, pair[1] = -1;
    EXPECT_EQ(sqli_stmt(0, pair, text, 2, in, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0), k.code);
    if (k.code != 0) EXPECT_EQ(Codes().size(), before) << "nothing sent";
    else EXPECT_EQ(Codes().size(), before + 1);
    // The singleton SELECT checks as well.
    int32_t a = 0;
    SqliValueItem out{};
    out.type = 102, out.length = 4, out.data = reinterpret_cast<char*>(&a), out.ind_type = -1;
    const char* sel[] = {"select a from t1 where b = ?", nullptr};
    before = Codes().size();
    int32_t rc = sqli_slct(0, 0, sel, 1, in, 1, &out, 0, nullptr, nullptr, 0);
    if (k.code != 0) {
      EXPECT_EQ(rc, k.code);
      EXPECT_EQ(Codes().size(), before);
    }
  }
  // A prepared statement's EXECUTE.
  Ansi(true);
  in[0].type = 100;
  in[0].indicator = &zero;
  SqliCursor* s = sqli_prep(1, "u1", "update t1 set b = ? where b = ?", nullptr, nullptr, 0, 0, 0);
  ASSERT_NE(s, nullptr);
  SqliDescriptor two{2, in, nullptr, 2};
  size_t before = Codes().size();
  EXPECT_EQ(sqli_exec(1, s, &two, nullptr, nullptr, nullptr, nullptr, nullptr, 0), -766);
  EXPECT_EQ(Codes().size(), before);
  full[3] = '\0';
  EXPECT_EQ(sqli_exec(1, s, &two, nullptr, nullptr, nullptr, nullptr, nullptr, 0), 0) << sqlca.sqlcode;
}

TEST_F(ExecRulesTest, DescribedItemsGetTheirTypesMemorySize) {
  struct Column {
    const char* name;
    int type;
    int length;
    int size;     // stored size in a row
    size_t mem;   // memory size of the type table
  } cols[] = {
      {"c", 0, 10, 10, 11},       {"s", 1, 2, 2, 2},      {"i", 2, 4, 4, 4},
      {"f", 3, 8, 8, 8},          {"d", 5, 0x1004, 9, 22}, {"dt", 10, 0x0E0A, 8, 24},
      {"v", 13, 20, 21, 21},      {"n", 17, 10, 10, 12},   {"b", 52, 8, 8, 8},
      {"m", 8, 0x0A02, 6, 22},    {"nc", 15, 7, 7, 8},     {"y", 11, 56, 56, 112},
  };
  const int n = static_cast<int>(sizeof cols / sizeof cols[0]);
  std::string columns;
  for (const Column& c : cols) {
    if (!columns.empty()) columns += ", ";
    columns += "{\"name\": \"" + std::string(c.name) + "\", \"type\": " + std::to_string(c.type) +
               ", \"length\": " + std::to_string(c.length) + ", \"size\": " + std::to_string(c.size) + "}";
  }
  Start("\"caps\": \"00\", \"tables\": {\"w\": {\"columns\": [" + columns + "], \"rows\": []}}");
  SqliCursor* sel = sqli_prep(1, "sw", "select * from w", nullptr, nullptr, 0, 0, 0);
  ASSERT_NE(sel, nullptr) << sqlca.sqlcode;
  std::vector<SqliValueItem> items(static_cast<size_t>(n));
  SqliDescriptor d{0, items.data(), nullptr, static_cast<int16_t>(n)};
  ASSERT_NE(sqli_desc_table_add("dw", &d), 0);
  ASSERT_EQ(sqli_describe_stmt(1, sel, nullptr, "dw"), 0) << sqlca.sqlcode;
  ASSERT_EQ(d.count, n);
  for (int i = 0; i < n; ++i) {
    SCOPED_TRACE(cols[i].name);
    SqliValueItem& it = items[static_cast<size_t>(i)];
    EXPECT_EQ(it.type & 0xFF, cols[i].type);
    ASSERT_NE(it.data, nullptr);
    EXPECT_GE(malloc_usable_size(it.data), cols[i].mem);
    // The whole size is there to write (the address checker would stop an
    // overrun here).
    std::memset(it.data, 0xA5, cols[i].mem);
  }
  sqli_desc_table_remove("dw");
  for (SqliValueItem& it : items) {
    if (it.flags & SQLI_IF_DATA_OWNED) std::free(it.data);
    if (it.flags & SQLI_IF_NAME_OWNED) std::free(it.name);
    if (it.flags & SQLI_IF_TYPE_NAME_OWNED) std::free(it.type_name);
    if (it.flags & SQLI_IF_OWNER_OWNED) std::free(it.owner_name);
  }
}

}  // namespace
