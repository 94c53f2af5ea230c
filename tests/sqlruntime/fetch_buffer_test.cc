// The fetch buffer of rows wider than the 4,096-byte floor: the row size,
// raised (never lowered) by FET_BUF_SIZE, and each fetch brings the rows
// that fit.
#include <cstdlib>

#include "sqlruntime/cursor.h"
#include "sqlruntime/requests.h"
#include "tests/sqlruntime/sqli_fixture.h"

namespace {

using sqli_test::Server;
using sqli_test::SqliTest;

// Table w: INTEGER a and CHAR(4996) b, a 5,000-byte row; three rows.
std::string Config() {
  std::string rows;
  for (int i = 0; i < 3; ++i) {
    char a[16];
    std::snprintf(a, sizeof a, "%08x", i + 1);
    rows += std::string(i ? ", " : "") + "\"" + a + std::string(4996 * 2, '4') + "\"";
  }
  return "\"caps\": \"20\", \"tables\": {\"w\": {\"columns\": [{\"name\": \"a\", \"type\": 2, \"length\": 4}, "
         "{\"name\": \"b\", \"type\": 0, \"length\": 4996}], \"rows\": [" + rows + "]}}";
}

class FetchBufferTest : public SqliTest {
 protected:
  void TearDown() override {
    sqli_stmt_table_free();
    unsetenv("FET_BUF_SIZE");
    SqliTest::TearDown();
  }
};

TEST_F(FetchBufferTest, WideRows) {
  struct Case {
    const char* fet;
    int32_t buffer, rows_per_fetch;
  } cases[] = {{nullptr, 5000, 1}, {"4500", 5000, 1}, {"12000", 12000, 2}};
  for (const Case& k : cases) {
    if (k.fet != nullptr) setenv("FET_BUF_SIZE", k.fet, 1);
    else unsetenv("FET_BUF_SIZE");
    Server server(Config());
    ASSERT_TRUE(server.ready());
    ASSERT_EQ(sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv1", "c", nullptr, 1), 0);
    SqliCursor* c = sqli_curs_locate(1, "c1", 0);
    const char* pieces[] = {"select * from w", nullptr};
    ASSERT_EQ(sqli_curs_decl_stat(1, c, "c1", pieces, nullptr, nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0), 0);
    c = sqli_curs_locate(1, "c1", 0);
    ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0) << sqlca.sqlcode;
    EXPECT_EQ(c->row_size, 5000);
    EXPECT_EQ(c->buffer_size, k.buffer) << (k.fet ? k.fet : "-");
    ASSERT_EQ(sqli_curs_fetch_buffer(c), 0);
    EXPECT_EQ(c->rows_in_buffer, k.rows_per_fetch);
    // The last request asked for the buffer's size (32-bit by byte 7
    // bit 0x01 only; here 16 bits).
    const auto reqs = server.Requests();
    ASSERT_FALSE(reqs.empty());
    char want[32];
    std::snprintf(want, sizeof want, "0009%04x000c", k.buffer);
    EXPECT_NE(reqs.back().find(want), std::string::npos) << reqs.back();
    sqli_stmt_table_free();
    sqli_connect_close(SQLI_CONN_ALL, nullptr, 1, 0);
  }
}

}  // namespace
