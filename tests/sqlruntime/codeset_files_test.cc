// Files read for the server, with a Latin-1 client and a UTF-8 database:
// statement text read from a file goes in the server's code set with its
// converted length, and a file-name value of a TEXT column is converted
// while one of a BYTE column goes as it is. Python's codecs build the
// expected bytes.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "base/locale_state.h"
#include "sqlruntime/blobs.h"
#include "sqlruntime/cursor.h"
#include "sqlruntime/execute.h"
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

// Bytes built by python3: h, i pack big-endian words, p pads, f(path) is
// a file's bytes, u(path) the same read as Latin-1 and written as UTF-8.
std::string Py(const std::string& expr) {
  tevtest::RunOptions o;
  o.env = {{"PATH", "/usr/bin:/bin"}};
  auto r = tevtest::RunProgram(
      tevtest::Python(),
      {"-c", "import struct,sys\np=lambda b: b + (b'\\0' if len(b) % 2 else b'')\n"
             "h=lambda v: struct.pack('>h', v)\ni=lambda v: struct.pack('>i', v)\n"
             "f=lambda n: open(n, 'rb').read()\nu=lambda n: f(n).decode('latin-1').encode('utf-8')\n"
             "sys.stdout.write((" + expr + ").hex())"},
      o);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return r.out;
}

class FileCodesetTest : public SqliTest {
 protected:
  void Start(const std::string& caps,
             const std::string& tables = "\"t\": {\"columns\": [{\"name\": \"a\", \"type\": 0, \"length\": 4}], "
                                         "\"rows\": []}") {
    ASSERT_TRUE(kLocales);
    server_ = std::make_unique<Server>("\"caps\": \"" + caps + "\", \"tables\": {" + tables + "}");
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
  std::string Path(const std::string& name) {
    std::string d = sqli_test::Install().Path("cfiles_" + std::to_string(getpid()));
    mkdir(d.c_str(), 0700);
    return d + "/" + name;
  }
  std::string LastRequest() const {
    auto r = server_->Requests();
    return r.empty() ? "" : r.back();
  }
  std::unique_ptr<Server> server_;
};

TEST_F(FileCodesetTest, StatementTextFromAFileGoesConverted) {
  Start("20");
  // Latin-1 texts: even and odd lengths once converted (each "\xe9" grows
  // to two bytes), and one without any character to convert.
  int n = 0;
  for (const std::string text : {"select a from t where a = '\xe9'", "select a from t where a = '\xe9\xe8'",
                                 "select a from t"}) {
    const std::string name = Path("stmt" + std::to_string(++n) + ".sql");
    tevtest::WriteFile(name, text);
    ASSERT_EQ(sqli_req_text_file((name + "  ").c_str(), sqli_runtime_get()), 0) << text;
    sqli_req_code(SQLI_REQ_DESCRIBE);
    sqli_reply_loop(nullptr, 0);
    EXPECT_EQ(LastRequest(), Py("h(1)+h(0)+h(len(u('" + name + "')))+p(u('" + name + "'))+h(22)+h(12)")) << text;
  }
}

TEST_F(FileCodesetTest, ConvertedTextLengthNeedsTheLongTextCapability) {
  // 40,000 Latin-1 bytes are 60,000 UTF-8 bytes: a file under the 16-bit
  // limit whose converted text is over it.
  std::string text = "select a from t where a = '";
  while (text.size() < 40000) text += "\xe9\xe8 ";
  text += "'";
  const std::string name = Path("long.sql");
  tevtest::WriteFile(name, text);
  Start("20");
  EXPECT_EQ(sqli_req_text_file(name.c_str(), sqli_runtime_get()), -460);
  EXPECT_EQ(sqlca.sqlcode, -460);
  // Nothing of it went: the next request is whole.
  sqli_sqlca_reset(sqli_runtime_get());
  sqli_req_code(SQLI_REQ_DESCRIBE);
  sqli_reply_loop(nullptr, 0);
  EXPECT_EQ(LastRequest(), "0016000c");
  sqli_connect_close(SQLI_CONN_ALL, nullptr, 1, 0);
  // With byte 7 bit 0x02 the converted length goes as 32 bits.
  Start("20000000000000" "02");
  ASSERT_EQ(sqli_req_text_file(name.c_str(), sqli_runtime_get()), 0);
  sqli_req_code(SQLI_REQ_DESCRIBE);
  sqli_reply_loop(nullptr, 0);
  EXPECT_EQ(LastRequest(), Py("h(1)+h(0)+i(len(u('" + name + "')))+p(u('" + name + "'))+h(22)+h(12)"));
}

TEST_F(FileCodesetTest, FileValuesConvertOnlyForTextColumns) {
  Start("20");
  // 2,500 bytes, every other one above 0x7F: the TEXT copy grows by half.
  std::string data;
  for (int i = 0; i < 2500; ++i) data.push_back(i % 2 ? static_cast<char>(0xA0 + i % 90) : 'a' + i % 26);
  const std::string text = Path("text.val"), bytes = Path("byte.val");
  tevtest::WriteFile(text, data);
  tevtest::WriteFile(bytes, data);
  SqliValueItem items[2]{};
  items[0].type = 116;
  items[0].data = const_cast<char*>(text.c_str());
  items[1].type = 116;
  items[1].data = const_cast<char*>(bytes.c_str());
  SqliItemList list{2, items};
  const int16_t types[2] = {12, 11};
  sqli_runtime_get()->large_value_count = 2;
  ASSERT_EQ(sqli_send_blobs_typed(&list, types, sqli_runtime_get()), 0) << sqlca.sqlcode;
  sqli_reply_loop(nullptr, 0);
  EXPECT_EQ(sqlca.sqlcode, 0);
  EXPECT_EQ(With("value "), (std::vector<std::string>{Py("u('" + text + "')"), Py("f('" + bytes + "')")}));
  // Each 1,024-byte piece of the TEXT file goes as one converted chunk.
  EXPECT_EQ(With("chunk "), (std::vector<std::string>{"1536", "1536", "678", "0", "1024", "1024", "452", "0"}));
  // Without the column types a file is sent as its bytes.
  sqli_runtime_get()->large_value_count = 1;
  SqliItemList one{1, items};
  ASSERT_EQ(sqli_send_blobs(&one, sqli_runtime_get()), 0);
  sqli_reply_loop(nullptr, 0);
  EXPECT_EQ(With("value ").back(), Py("f('" + text + "')"));
}

// Table tb: a TEXT column, then a BYTE one.
const char kTextByteTable[] =
    "\"tb\": {\"columns\": [{\"name\": \"t\", \"type\": 12, \"length\": 56}, "
    "{\"name\": \"b\", \"type\": 11, \"length\": 56}], \"rows\": []}";

// The same Latin-1 file named by both values of a tb row bound by EXECUTE
// of a prepared INSERT: the TEXT column's copy reaches the server in
// UTF-8, the BYTE column's unchanged.
TEST_F(FileCodesetTest, InsertedFileValuesFollowTheirColumns) {
  Start("20", kTextByteTable);
  const std::string name = Path("row.val");
  tevtest::WriteFile(name, "caf\xe9 cr\xe8me br\xfbl\xe9" "e");
  SqliValueItem items[2]{};
  for (SqliValueItem& v : items) {
    v.type = 116;
    v.data = const_cast<char*>(name.c_str());
    v.ind_type = -1;
  }
  SqliDescriptor row{2, items, nullptr, 2};
  const std::vector<std::string> expected{Py("u('" + name + "')"), Py("f('" + name + "')")};
  ASSERT_NE(expected[0], expected[1]);

  SqliCursor* s = sqli_prep(1, "ps", "insert into tb values (?, ?)", nullptr, nullptr, 0, 0, 0);
  ASSERT_NE(s, nullptr) << sqlca.sqlcode;
  ASSERT_EQ(s->kind, 6);
  ASSERT_EQ(sqli_exec(1, s, &row, nullptr, nullptr, nullptr, nullptr, nullptr, 0), 0) << sqlca.sqlcode << server_->Log();
  EXPECT_EQ(With("value "), expected) << server_->Log();
}

}  // namespace
