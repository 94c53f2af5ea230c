// Host values in a UTF-8 client: text cut to a fixed room loses whole
// characters only (PUT into CHAR and VARCHAR, fetch into a short target),
// and under ANSI mode a text that does not fit is refused with -1279.
#include <cstdlib>
#include <cstring>

#include "sqlruntime/cursor.h"
#include "sqlruntime/hostvalues.h"
#include "tests/sqlruntime/sqli_fixture.h"

namespace {

using sqli_test::Hex;
using sqli_test::SqliTest;

// The locales are read once, when they are first used: set them first.
const bool kLocales = [] {
  setenv("CLIENT_LOCALE", "en_us.utf8", 1);
  setenv("DB_LOCALE", "en_us.utf8", 1);
  return true;
}();

class FakeConnection {
 public:
  explicit FakeConnection(bool ansi) {
    std::memset(&stream_, 0, sizeof stream_);
    std::memset(&conn_, 0, sizeof conn_);
    stream_.float_format = 1;
    conn_.stream = &stream_;
    conn_.props[1] = ansi ? 1 : 0;
    sqli_runtime_get()->current = &conn_;
  }
  ~FakeConnection() { sqli_runtime_get()->current = nullptr; }

 private:
  SqliMessageStream stream_;
  SqliConnection conn_;
};

SqliValueItem Item(int type, int length, void* data, int16_t* ind = nullptr) {
  SqliValueItem it{};
  it.type = static_cast<int16_t>(type);
  it.length = length;
  it.data = static_cast<char*>(data);
  it.indicator = ind;
  it.ind_type = -1;
  return it;
}

class Utf8HostValuesTest : public SqliTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kLocales);
    SqliTest::SetUp();
  }
};

const char kTwoEuros[] = "\xe2\x82\xac\xe2\x82\xac";  // two 3-byte characters

TEST_F(Utf8HostValuesTest, PutTextKeepsWholeCharacters) {
  FakeConnection conn(false);
  char text[8];
  std::memcpy(text, kTwoEuros, sizeof kTwoEuros);
  unsigned char row[16];
  SqliValueItem it = Item(100, 7, text);
  ASSERT_EQ(sqli_put_store(nullptr, &it, row, SQLCHAR, 4, 0, 0, 0), 0);
  EXPECT_EQ(Hex(row, 4), "e282ac20");
  SqliValueItem vc = Item(114, 7, text);
  ASSERT_EQ(sqli_put_store(nullptr, &vc, row, SQLVCHAR, 5, 0, 0, 0), 0);
  EXPECT_EQ(Hex(row, 6), "03e282ac0000");
  // Room for both: nothing is cut.
  ASSERT_EQ(sqli_put_store(nullptr, &it, row, SQLCHAR, 7, 0, 0, 0), 0);
  EXPECT_EQ(Hex(row, 7), "e282ace282ac20");
  EXPECT_EQ(sqli_mb_fit(kTwoEuros, 6, 5), 3);
  EXPECT_EQ(sqli_mb_fit(kTwoEuros, 6, 2), 0);
  EXPECT_EQ(sqli_mb_fit(kTwoEuros, 6, 6), 6);
}

TEST_F(Utf8HostValuesTest, AnsiModeRefusesTextThatDoesNotFit) {
  FakeConnection conn(true);
  char text[8];
  std::memcpy(text, kTwoEuros, sizeof kTwoEuros);
  unsigned char row[16];
  SqliValueItem it = Item(100, 7, text);
  EXPECT_EQ(sqli_put_store(nullptr, &it, row, SQLCHAR, 4, 0, 0, 0), -1);
  EXPECT_EQ(sqlca.sqlcode, -1279);
  EXPECT_EQ(sqli_mb_fit(kTwoEuros, 6, 4), -1279);
  sqli_sqlca_reset(sqli_runtime_get());
  EXPECT_EQ(sqli_put_store(nullptr, &it, row, SQLCHAR, 6, 0, 0, 0), 0);
}

TEST_F(Utf8HostValuesTest, FetchIntoShortTargetCutsOnCharacterBoundary) {
  FakeConnection conn(false);
  std::string stored = std::string(kTwoEuros) + "  ";
  std::vector<SqliColumnDesc> cols(1);
  cols[0].type = SQLCHAR;
  cols[0].length = 8;
  SqliCursor c{};
  c.columns = cols.data();
  c.column_count = 1;
  c.buffer = reinterpret_cast<unsigned char*>(stored.data());
  c.buffer_size = 8;
  c.position = c.buffer;
  char buf[8];
  int16_t ind = 0;
  SqliValueItem target = Item(100, 6, buf, &ind);  // room for 5 bytes
  ASSERT_EQ(sqli_row_unpack(&c, 1, &target, nullptr, 0), 0);
  EXPECT_EQ(Hex(buf, 6), "e282ac202000");
  EXPECT_EQ(ind, 8);
  EXPECT_EQ(sqlca.sqlwarn.sqlwarn1, 'W');
}

}  // namespace
