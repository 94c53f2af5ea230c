// Texts that the server sends in its own code set reach the program in
// the client's: the error parameter (message-parameter area and sqlerrm)
// and the database of a redirection, with a UTF-8 database locale and a
// Latin-1 client locale. A text the client cuts in the middle of a
// character loses that character, never more.
#include <cstdlib>

#include "base/locale_state.h"
#include "tests/sqlruntime/sqli_fixture.h"

namespace {

using sqli_test::Server;
using sqli_test::SqliTest;

// The locales are read once, when the runtime starts: set them first.
const bool kLocales = [] {
  setenv("CLIENT_LOCALE", "en_us.8859-1", 1);
  setenv("DB_LOCALE", "en_us.utf8", 1);
  return true;
}();

std::string H16(int v) {
  char b[8];
  std::snprintf(b, sizeof b, "%04x", v & 0xFFFF);
  return b;
}

std::string Str(const std::string& text) {
  std::string out = H16(static_cast<int>(text.size())) + sqli_test::Hex(text.data(), text.size());
  if (text.size() & 1) out += "00";
  return out;
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

class CodesetTest : public SqliTest {
 protected:
  int32_t Exchange(const std::string& reply) {
    server_ = std::make_unique<Server>("\"caps\": \"20\", \"inject\": {\"998\": \"" + reply + "\"}");
    EXPECT_TRUE(server_->ready());
    EXPECT_EQ(sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv1", "c", nullptr, 1), 0) << sqlca.sqlcode;
    sqli_sqlca_reset(sqli_runtime_get());
    sqli_msg_put_short(998, sqli_runtime_get()->current->stream);
    sqli_reply_loop(nullptr, 0);
    return sqlca.sqlcode;
  }
  std::unique_ptr<Server> server_;
};

TEST_F(CodesetTest, LocalesAreInForce) {
  ASSERT_TRUE(kLocales);
  ASSERT_NE(sqli_runtime_get(), nullptr);
  ASSERT_NE(rgllocstate(), nullptr);
  EXPECT_NE(rgllocstate()->db_to_client, nullptr);
}

TEST_F(CodesetTest, ErrorParameterInTheClientCodeSet) {
  // "café ñ" in UTF-8; Latin-1 has é = E9 and ñ = F1.
  const std::string param = "caf\xc3\xa9 \xc3\xb1";
  EXPECT_EQ(Exchange("000d" + H16(-201) + H16(0) + H16(0) + Str(param) + "000c"), -201);
  EXPECT_STREQ(sqli_runtime_get()->message_params, "caf\xe9 \xf1");
  EXPECT_STREQ(sqlca.sqlerrm, "caf\xe9 \xf1");
  EXPECT_STREQ(zel_get_msg_param(), "caf\xe9 \xf1");
}

TEST_F(CodesetTest, CutParameterLosesOnlyTheCutCharacter) {
  // 300 two-byte characters: the client keeps 499 bytes (249 characters
  // and half of the next), sqlerrm 71 (35 and a half).
  const std::string param = Repeat("\xc3\xa9", 300);
  EXPECT_EQ(Exchange("000d" + H16(-201) + H16(0) + H16(0) + Str(param) + "0063000100020003" + "000c"), -201);
  EXPECT_EQ(std::string(sqli_runtime_get()->message_params), Repeat("\xe9", 249));
  EXPECT_EQ(std::string(sqlca.sqlerrm), Repeat("\xe9", 35));
  // The stream stayed in step: the transaction event after the error was
  // read as such.
  SqliXactEvent ev{};
  EXPECT_EQ(zel_xactevent(&ev), 0);
  EXPECT_EQ(ev.value, 3);
}

TEST_F(CodesetTest, RedirectDatabaseInTheClientCodeSet) {
  EXPECT_EQ(Exchange("0056" + Str("srv9") + Str("d\xc3\xa9") + H16(2) + "00000000" + Str("") + Str("") + "000c"), 0);
  EXPECT_STREQ(sqli_runtime_get()->redirect.option_arg, "d\xe9");
  sqli_runtime_get()->redirect_pending = 0;
}

}  // namespace
