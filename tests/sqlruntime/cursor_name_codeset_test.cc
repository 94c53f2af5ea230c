// A cursor name the server's code set cannot hold (a UTF-8 client with a
// Latin-1 database): OPEN stops with the conversion's error, sends no
// name and no open, leaves the cursor closed, and the connection goes on.
#include <cstdlib>

#include "base/locale_state.h"
#include "sqlruntime/cursor.h"
#include "sqlruntime/requests.h"
#include "tests/sqlruntime/sqli_fixture.h"

namespace {

using sqli_test::Server;
using sqli_test::SqliTest;

const bool kLocales = [] {
  setenv("CLIENT_LOCALE", "en_us.utf8", 1);
  setenv("DB_LOCALE", "en_us.8859-1", 1);
  return true;
}();

class CursorNameTest : public SqliTest {
 protected:
  void SetUp() override {
    SqliTest::SetUp();
    ASSERT_TRUE(kLocales);
    server_ = std::make_unique<Server>(
        "\"caps\": \"20\", \"tables\": {\"t\": {\"columns\": [{\"name\": \"a\", \"type\": 2, \"length\": 4}], "
        "\"rows\": [\"00000007\"]}}");
    ASSERT_TRUE(server_->ready());
    ASSERT_EQ(sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv1", "c", nullptr, 1), 0);
    ASSERT_NE(rgllocstate()->client_to_db, nullptr);
    sqli_sqlca_reset(sqli_runtime_get());
  }
  void TearDown() override {
    sqli_stmt_table_free();
    unsetenv("DELIMIDENT");
    SqliTest::TearDown();
  }
  std::vector<std::string> Codes() const {
    std::vector<std::string> out;
    for (const std::string& l : server_->Lines()) {
      if (l.rfind("codes ", 0) == 0) out.push_back(l.substr(6));
    }
    return out;
  }
  SqliCursor* Declare(const char* name, const char* text) {
    SqliCursor* c = sqli_curs_locate(1, name, 0x100);
    EXPECT_NE(c, nullptr) << name;
    if (c == nullptr) return nullptr;
    const char* pieces[] = {text, nullptr};
    EXPECT_EQ(sqli_curs_decl_stat(1, c, name, pieces, nullptr, nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0), 0)
        << sqlca.sqlcode;
    return sqli_curs_locate(1, name, 0x100);
  }
  std::unique_ptr<Server> server_;
};

TEST_F(CursorNameTest, NameOutsideTheServerCodeSetStopsOpen) {
  setenv("DELIMIDENT", "y", 1);
  // A byte that is no UTF-8 character cannot convert; "é" converts.
  SqliCursor* bad = Declare("c\xff", "select a from t");
  ASSERT_NE(bad, nullptr);
  const size_t before = Codes().size();
  const int32_t rc = sqli_curs_open(1, bad, nullptr, nullptr, nullptr, 1, 0);
  EXPECT_LT(rc, 0);
  EXPECT_EQ(sqlca.sqlcode, rc);
  EXPECT_NE(sqlca.sqlcode, -1);
  EXPECT_EQ(bad->flags & SQLI_CF_OPEN, 0u);
  // Neither a name (3) nor an open (6, 87) went.
  const auto codes = Codes();
  ASSERT_GT(codes.size(), before);
  for (size_t i = before; i < codes.size(); ++i) {
    EXPECT_EQ(("," + codes[i] + ",").find(",3,"), std::string::npos) << codes[i];
    EXPECT_EQ(("," + codes[i] + ",").find(",6,"), std::string::npos) << codes[i];
    EXPECT_EQ(("," + codes[i] + ",").find(",87,"), std::string::npos) << codes[i];
  }
  // The stream kept its place: a cursor with a name that converts opens
  // and its name goes in Latin-1.
  sqli_sqlca_reset(sqli_runtime_get());
  SqliCursor* good = Declare("c\xc3\xa9", "select a from t");
  ASSERT_NE(good, nullptr);
  ASSERT_EQ(sqli_curs_open(1, good, nullptr, nullptr, nullptr, 1, 0), 0) << sqlca.sqlcode;
  EXPECT_NE(good->flags & SQLI_CF_OPEN, 0u);
  const auto reqs = server_->Requests();
  ASSERT_FALSE(reqs.empty());
  EXPECT_NE(reqs.back().find("0003" "0002" "63e9"), std::string::npos) << reqs.back();
  ASSERT_EQ(sqli_curs_fetch_buffer(good), 0);
  EXPECT_EQ(good->rows_in_buffer, 1);
}

}  // namespace
