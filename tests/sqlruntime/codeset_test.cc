// Texts that the server sends in its own code set reach the program in
// the client's: the error parameter (message-parameter area and sqlerrm)
// and the database of a redirection, with a UTF-8 database locale and a
// Latin-1 client locale. A text the client cuts in the middle of a
// character loses that character, never more.
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
  setenv("CLIENT_LOCALE", "en_us.8859-1", 1);
  setenv("DB_LOCALE", "en_us.utf8", 1);
  return true;
}();

using sqli_test::H16;
using sqli_test::Str;


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

// Latin-1 to UTF-8 by the definition of both code sets (every Latin-1
// byte is the code point of the same number).
std::string Utf8Of(const std::string& latin1) {
  std::string out;
  for (unsigned char c : latin1) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::string Hex(const std::string& b) { return sqli_test::Hex(b.data(), b.size()); }

// A stored descriptor of a value of n bytes (start 0, end n - 1).
std::string Desc(int type, int n) {
  std::string d(56, '\0');
  d[1] = static_cast<char>(type);
  uint32_t end = static_cast<uint32_t>(n - 1);
  for (int i = 0; i < 4; ++i) d[8 + i] = static_cast<char>(end >> (24 - 8 * i));
  return d;
}

class TextTest : public SqliTest {
 protected:
  void Start(const std::string& blobs = "\"\"") {
    server_ = std::make_unique<Server>(
        "\"caps\": \"20\", \"blob\": " + blobs +
        ", \"tables\": {\"t\": {\"columns\": [{\"name\": \"a\", \"type\": 2, \"length\": 4}], \"rows\": []}}");
    ASSERT_TRUE(server_->ready());
    ASSERT_EQ(sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv1", "c", nullptr, 1), 0);
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
  int32_t Send(std::string& data, int type) {
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
  // Receives a value of n stored bytes of the given type into a buffer the
  // runtime allocates.
  int32_t Receive(int type, int n, std::string* out) {
    SqliCursor* st = sqli_prep(1, "s1", "select a from t", nullptr, nullptr, 0, 0, 0);
    EXPECT_NE(st, nullptr);
    if (st == nullptr) return -1;
    SqliCursor cursor{};
    cursor.id = st->id;
    SqliLocator loc{};
    loc.kind = SQLI_LOC_MEMORY;
    loc.buffer_size = -1;
    std::string d = Desc(type, n);
    int32_t rc = sqli_recv_locator(&cursor, &loc, d.data(), sqli_runtime_get());
    if (loc.buffer != nullptr) *out = std::string(loc.buffer, static_cast<size_t>(loc.size));
    std::free(loc.buffer);
    return rc;
  }
  std::unique_ptr<Server> server_;
};

TEST_F(TextTest, TextGoesInTheServerCodeSetBytesAsTheyAre) {
  Start();
  // 1,500 bytes, every third one above 0x7F: each converted chunk comes
  // from one 1,024-byte piece and holds only whole characters.
  std::string text;
  for (int i = 0; i < 1500; ++i) text.push_back(i % 3 == 0 ? static_cast<char>(0xC0 + i % 60) : 'a' + i % 26);
  std::string copy = text;
  ASSERT_EQ(Send(copy, 12), 0);
  EXPECT_EQ(With("value "), std::vector<std::string>{Hex(Utf8Of(text))});
  const size_t first = Utf8Of(text.substr(0, 1024)).size(), second = Utf8Of(text.substr(1024)).size();
  EXPECT_EQ(With("chunk "),
            (std::vector<std::string>{std::to_string(first), std::to_string(second), "0"}));
  // BYTE values are never converted.
  copy = text;
  ASSERT_EQ(Send(copy, 11), 0);
  EXPECT_EQ(With("value ").back(), Hex(text));
}

TEST_F(TextTest, CharactersCutByServerChunksArriveWhole) {
  // "a" and 1,500 two-byte characters: the server's 1,024-byte chunks cut
  // a character at each boundary.
  std::string utf8 = "a" + Repeat("\xc3\xa9", 1000) + Repeat("\xc3\xb1", 500);
  ASSERT_EQ(utf8.size(), 3001u);
  Start("\"" + Hex(utf8) + "\"");
  std::string got;
  ASSERT_EQ(Receive(12, 3001, &got), 0) << sqlca.sqlcode;
  EXPECT_EQ(sqlca.sqlcode, 0);
  EXPECT_EQ(got, "a" + Repeat("\xe9", 1000) + Repeat("\xf1", 500));
}

TEST_F(TextTest, UnfinishedCharacterFailsAndTheStreamKeepsItsPlace) {
  // The value ends in the first byte of a two-byte character.
  std::string utf8 = Repeat("ab", 700) + "\xc3";
  Start("[\"" + Hex(utf8) + "\", \"" + Hex(std::string("\xc3\xa9z")) + "\"]");
  std::string got;
  EXPECT_EQ(Receive(12, static_cast<int>(utf8.size()), &got), -1);
  EXPECT_EQ(sqlca.sqlcode, RGL_E_BADCHAR);
  sqli_stmt_table_free();
  sqli_sqlca_reset(sqli_runtime_get());
  ASSERT_EQ(Receive(12, 3, &got), 0) << sqlca.sqlcode;
  EXPECT_EQ(got, "\xe9z");
}

TEST_F(TextTest, StatementTextAndCursorNameInTheServerCodeSet) {
  Start();
  // "é" is one character in Latin-1 and two bytes in UTF-8: the length on
  // the wire counts the converted bytes, the "?" marker is counted.
  const std::string text = "select a from t where a = '\xe9' and a = ?";
  sqli_prep(1, "s1", text.c_str(), nullptr, nullptr, 0, 0, 0);
  const std::string utf8 = Utf8Of(text);
  const std::string want = "0002" + H16(1) + H16(static_cast<int>(utf8.size())) + Hex(utf8);
  bool seen = false;
  for (const std::string& r : server_->Requests()) seen = seen || r.find(want) != std::string::npos;
  EXPECT_TRUE(seen) << server_->Log();
}

TEST_F(TextTest, LongChunkWithCarriedBytesStaysInItsBuffer) {
  // One 3,001-byte chunk: the first 1,028-byte piece ends in the middle of
  // a character, whose first byte is carried; the next piece must leave
  // room for it (the address checker sees any byte written past the
  // buffer).
  const std::string utf8 = "a" + Repeat("\xc3\xa9", 1500);
  const std::string reply = "0027" + H16(3001) + Hex(utf8) + "00" + "0027" + H16(0) + "000c";
  server_ = std::make_unique<Server>("\"caps\": \"20\", \"inject\": {\"998\": \"" + reply + "\"}");
  ASSERT_TRUE(server_->ready());
  ASSERT_EQ(sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv1", "c", nullptr, 1), 0);
  sqli_sqlca_reset(sqli_runtime_get());
  sqli_msg_put_short(998, sqli_runtime_get()->current->stream);
  sqli_msg_end(sqli_runtime_get());
  SqliLocator loc{};
  loc.kind = SQLI_LOC_MEMORY;
  loc.buffer_size = -1;
  const std::string d = Desc(12, 3001);
  ASSERT_EQ(sqli_recv_locator_inline(&loc, d.data(), sqli_runtime_get()), 0) << sqlca.sqlcode;
  ASSERT_NE(loc.buffer, nullptr);
  EXPECT_EQ(std::string(loc.buffer, static_cast<size_t>(loc.size)), "a" + Repeat("\xe9", 1500));
  std::free(loc.buffer);
}

}  // namespace
