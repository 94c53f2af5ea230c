// The inputs of OPEN against the python3 test server: a named descriptor
// (OPEN USING SQL DESCRIPTOR), a value description, the description an
// OPTOFC OPEN holds back until the first FETCH, and the character-input
// check of a connection in ANSI mode. The test server does not filter
// rows by bound values: the bind it decoded shows what OPEN sent.
#include <cstdlib>
#include <cstring>

#include "sqlruntime/descriptors.h"
#include "sqlruntime/fetch.h"
#include "tests/sqlruntime/sqli_exchanges.h"

namespace {

using sqli_test::ExchangeTest;

class OpenInputsTest : public ExchangeTest {
 protected:
  void SetUp() override {
    ExchangeTest::SetUp();
    out_[0].type = 102, out_[0].length = 4, out_[0].data = reinterpret_cast<char*>(&a_), out_[0].ind_type = -1;
    out_[1].type = 100, out_[1].length = sizeof b_, out_[1].data = b_, out_[1].ind_type = -1;
  }
  void TearDown() override {
    sqli_desc_dealloc("oin");
    if (sqli_runtime_get()->current != nullptr) sqli_runtime_get()->current->props[1] = 0;
    ExchangeTest::TearDown();
  }
  SqliCursor* DeclareSelect() {
    SqliItemList out{2, out_};
    return Declare("c1", "select a, b from t1 where a = ?", 0, nullptr, &out);
  }
  // The values the server decoded from the last bind (code 5) it got.
  std::string LastBind() const {
    std::string last;
    for (const std::string& l : server_->Lines()) {
      if (l.rfind("bind ", 0) == 0) last = l.substr(5);
    }
    return last;
  }
  // The rows the cursor gives, by their a, up to the 100.
  std::vector<int> Rows(SqliCursor* c) {
    std::vector<int> got;
    SqliFetchSpec spec{0, SQLI_FETCH_NEXT, 0};
    for (int i = 0; i < 20; ++i) {
      int32_t rc = sqli_curs_fetch(1, c, nullptr, nullptr, nullptr, &spec);
      if (rc != 0) {
        EXPECT_EQ(rc, 100) << "fetch " << i;
        break;
      }
      got.push_back(a_);
    }
    return got;
  }
  int32_t a_ = 0;
  char b_[97] = {};
  SqliValueItem out_[2] = {};
};

TEST_F(OpenInputsTest, NamedDescriptorGivesTheInputs) {
  Start("\"caps\": \"00\", \"tables\": {" + sqli_test::Table100(5) + "}");
  SqliCursor* c = DeclareSelect();
  size_t before = Codes().size();
  EXPECT_EQ(sqli_curs_open(1, c, nullptr, "oin", nullptr, 1, 0), -469);
  EXPECT_EQ(Codes().size(), before) << "an unknown descriptor sends nothing";

  ASSERT_EQ(sqli_desc_alloc("oin", 1), 0);
  int16_t count = 1, type = SQLINT;
  int32_t want = 4;
  SqliDescField cf[2] = {};
  cf[0].data = &count, cf[0].host_type = 101, cf[0].host_length = 2;
  ASSERT_EQ(sqli_desc_set(0, "oin", -1, cf, 0), 0);
  SqliDescField f[3] = {};
  f[0].field = SQLI_DF_TYPE, f[0].data = &type, f[0].host_type = 101, f[0].host_length = 2;
  f[1].field = SQLI_DF_DATA, f[1].data = &want, f[1].host_type = 102, f[1].host_length = 4;
  ASSERT_EQ(sqli_desc_set(0, "oin", 1, f, 0), 0);
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, "oin", nullptr, 1, 0), 0) << sqlca.sqlcode;
  EXPECT_EQ(LastBind(), "2/0/00000004");
  EXPECT_EQ(Rows(c), (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(std::string(b_), "row5" + std::string(92, ' '));
  ASSERT_EQ(sqli_curs_close(1, c), 0);
}

TEST_F(OpenInputsTest, DescriptionHeldBackByOptofcIsACopy) {
  setenv("OPTOFC", "1", 1);
  Start("\"caps\": \"a0\", \"tables\": {" + sqli_test::Table100(5) + "}");
  SqliCursor* c = DeclareSelect();
  // The program's description lives only until OPEN returns: the OPEN
  // that travels with the first FETCH must use what OPEN kept.
  int32_t want = 2;
  auto* d = static_cast<SqliDescriptor*>(std::calloc(1, sizeof(SqliDescriptor)));
  d->count = 1;
  d->items = static_cast<SqliValueItem*>(std::calloc(1, sizeof(SqliValueItem)));
  d->items[0].type = 102, d->items[0].length = 4, d->items[0].data = reinterpret_cast<char*>(&want);
  d->items[0].ind_type = -1;
  ASSERT_EQ(sqli_curs_open(1, c, d, nullptr, nullptr, 1, 0), 0) << sqlca.sqlcode;
  std::free(d->items);
  std::free(d);
  EXPECT_EQ(c->deferred_open, 1);
  EXPECT_EQ(Rows(c), (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(LastBind(), "2/0/00000002");
  ASSERT_EQ(sqli_curs_close(1, c), 0);
}

TEST_F(OpenInputsTest, CharacterInputWithoutNulInAnsiModeSendsNothing) {
  Start("\"caps\": \"00\", \"tables\": {" + sqli_test::Table100(2) + "}");
  sqli_runtime_get()->current->props[1] = 1;
  char full[4] = {'r', 'o', 'w', '1'};  // no NUL within its length
  int16_t zero = 0;
  SqliValueItem in{};
  in.type = 100, in.length = 4, in.data = full, in.ind_type = -1, in.indicator = &zero;
  SqliItemList list{1, &in};
  SqliItemList out{1, out_};
  SqliCursor* c = Declare("c2", "select a from t1 where b = ?", 0, &list, &out);
  size_t before = Codes().size();
  EXPECT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), -766);
  EXPECT_EQ(Codes().size(), before);
  // With a NUL within the length it goes.
  std::memcpy(full, "row", 4);
  EXPECT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0) << sqlca.sqlcode;
  EXPECT_GT(Codes().size(), before);
}

}  // namespace
