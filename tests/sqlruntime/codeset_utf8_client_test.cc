// A UTF-8 client with a Latin-1 database: TEXT values whose characters
// the client's 1,024-byte pieces cut go out whole, a text that is no
// UTF-8 is refused, and PREPARE refuses a statement with a byte sequence
// that is no character.
#include <cstdlib>

#include "base/locale_state.h"
#include "sqlruntime/blobs.h"
#include "sqlruntime/cursor.h"
#include "sqlruntime/requests.h"
#include "tests/sqlruntime/sqli_fixture.h"

namespace {

using sqli_test::Server;
using sqli_test::SqliTest;

// The locales are read once, when the runtime starts: set them first.
const bool kLocales = [] {
  setenv("CLIENT_LOCALE", "en_us.utf8", 1);
  setenv("DB_LOCALE", "en_us.8859-1", 1);
  return true;
}();

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

using sqli_test::H16;

std::string Hex(const std::string& b) { return sqli_test::Hex(b.data(), b.size()); }

class Utf8ClientTest : public SqliTest {
 protected:
  void SetUp() override {
    SqliTest::SetUp();
    ASSERT_TRUE(kLocales);
    server_ = std::make_unique<Server>(
        "\"caps\": \"20\", \"tables\": {\"t\": {\"columns\": [{\"name\": \"a\", \"type\": 2, \"length\": 4}], "
        "\"rows\": []}}");
    ASSERT_TRUE(server_->ready());
    ASSERT_EQ(sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv1", "c", nullptr, 1), 0);
    ASSERT_NE(rgllocstate()->client_to_db, nullptr);
    sqli_sqlca_reset(sqli_runtime_get());
  }
  void TearDown() override {
    sqli_stmt_table_free();
    SqliTest::TearDown();
  }
  std::vector<std::string> With(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& l : server_->Lines()) {
      if (l.rfind(prefix, 0) == 0) out.push_back(l.substr(prefix.size()));
    }
    return out;
  }
  int32_t Send(std::string data, int type) {
    SqliLocator loc{};
    loc.kind = SQLI_LOC_MEMORY;
    loc.buffer = data.data();
    loc.buffer_size = static_cast<int32_t>(data.size());
    loc.size = loc.buffer_size;
    loc.type = type;
    int32_t rc = sqli_send_locator(&loc, sqli_runtime_get());
    sqli_reply_loop(nullptr, 0);
    return rc;
  }
  std::unique_ptr<Server> server_;
};

TEST_F(Utf8ClientTest, CharactersCutByTheClientPiecesGoWhole) {
  // "a" and 1,000 two-byte characters: byte 1,024 is the middle of the
  // 512th character, which goes whole with the second chunk.
  const std::string text = "a" + Repeat("\xc3\xa9", 600) + Repeat("\xc3\xbc", 400);
  ASSERT_EQ(Send(text, 12), 0) << sqlca.sqlcode;
  EXPECT_EQ(With("value "), std::vector<std::string>{Hex("a" + Repeat("\xe9", 600) + Repeat("\xfc", 400))});
  // 1 + 511 characters from the first piece; the rest from the second.
  EXPECT_EQ(With("chunk "), (std::vector<std::string>{"512", "489", "0"}));
}

TEST_F(Utf8ClientTest, TextThatIsNoUtf8IsCancelled) {
  // An invalid byte in the middle, and a value ending in half a character.
  for (const std::string& text : {Repeat("ab", 300) + "\xff" + Repeat("cd", 300), Repeat("ab", 600) + "\xc3"}) {
    sqli_sqlca_reset(sqli_runtime_get());
    EXPECT_EQ(Send(text, 12), RGL_E_BADCHAR);
    EXPECT_EQ(sqlca.sqlcode, RGL_E_BADCHAR);
  }
  EXPECT_EQ(With("cancel").size(), 2u);
  // The same bytes as BYTE go as they are.
  sqli_sqlca_reset(sqli_runtime_get());
  const std::string bytes = Repeat("ab", 600) + "\xc3";
  ASSERT_EQ(Send(bytes, 11), 0);
  EXPECT_EQ(With("value ").back(), Hex(bytes));
}

TEST_F(Utf8ClientTest, PrepareRefusesWhatIsNoCharacter) {
  // A lone continuation byte, a cut character at the end, an invalid lead.
  for (const char* text : {"select a from t where a = '\x80'", "select a from t where a = '\xc3",
                           "select \xff from t"}) {
    sqli_sqlca_reset(sqli_runtime_get());
    EXPECT_EQ(sqli_prep(1, "s1", text, nullptr, nullptr, 0, 0, 0), nullptr) << text;
    EXPECT_EQ(sqlca.sqlcode, -202) << text;
  }
  for (const std::string& r : server_->Requests()) EXPECT_NE(r.substr(0, 4), "0002") << r;
  // A valid one goes in the server's code set, "?" counted.
  sqli_sqlca_reset(sqli_runtime_get());
  sqli_prep(1, "s2", "select a from t where a = '\xc3\xa9' and a = ?", nullptr, nullptr, 0, 0, 0);
  const std::string latin1 = "select a from t where a = '\xe9' and a = ?";
  bool seen = false;
  for (const std::string& r : server_->Requests()) {
    seen = seen || r.find("00020001" + H16(static_cast<int>(latin1.size())) + Hex(latin1)) != std::string::npos;
  }
  EXPECT_TRUE(seen) << server_->Log();
}

}  // namespace
