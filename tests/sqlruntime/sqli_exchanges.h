// Helpers of the statement, fetch, PUT and execution tests: table fixtures
// of the python3 test server (rows given as their stored bytes), a
// connection to it, and the server's log of messages per exchange.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "sqlruntime/cursor.h"
#include "tests/sqlruntime/sqli_fixture.h"

namespace sqli_test {

// Bytes built by python3 from an expression over struct (h: int16, i:
// int32, p: padded to even length).
inline std::string Py(const std::string& expr) {
  tevtest::RunOptions o;
  o.env = {{"PATH", "/usr/bin:/bin"}};
  auto r = tevtest::RunProgram(tevtest::Python(),
                               {"-c", "import struct,sys\np=lambda b: b + (b'\\0' if len(b) % 2 else b'')\n"
                                      "h=lambda v: struct.pack('>h', v)\ni=lambda v: struct.pack('>i', v)\n"
                                      "sys.stdout.write((" + expr + ").hex())"},
                               o);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return r.out;
}

inline std::string Col(const std::string& name, int type, int length) {
  return "{\"name\": \"" + name + "\", \"type\": " + std::to_string(type) + ", \"length\": " +
         std::to_string(length) + "}";
}

inline std::string Int32Hex(int v) {
  char b[16];
  std::snprintf(b, sizeof b, "%08x", static_cast<unsigned>(v));
  return b;
}

// A 100-byte row of t1: INTEGER a, CHAR(96) b.
inline std::string Row100(int a) {
  std::string text = "row" + std::to_string(a);
  text.resize(96, ' ');
  return Int32Hex(a) + Hex(text.data(), text.size());
}

// Table t1 (INTEGER a, CHAR(96) b) with rows 1..n.
inline std::string Table100(int rows, const std::string& name = "t1") {
  std::string out = "\"" + name + "\": {\"columns\": [" + Col("a", 2, 4) + ", " + Col("b", 0, 96) + "], \"rows\": [";
  for (int i = 1; i <= rows; ++i) out += std::string(i > 1 ? ", " : "") + "\"" + Row100(i) + "\"";
  return out + "]}";
}

class ExchangeTest : public SqliTest {
 protected:
  // Starts the server with the configuration body and connects to it:
  // named connection "c" unless implicit is set (then the default
  // connection opens on the first statement).
  void Start(const std::string& config, bool implicit = false) {
    server_ = std::make_unique<Server>(config);
    ASSERT_TRUE(server_->ready());
    if (!implicit) {
      ASSERT_EQ(sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv1", "c", nullptr, 1), 0) << sqlca.sqlcode;
    }
    sqli_sqlca_reset(sqli_runtime_get());
  }
  void TearDown() override {
    sqli_stmt_table_free();
    SqliRuntime* rt = sqli_runtime_get();
    rt->options = static_cast<uint16_t>(rt->options & ~(SQLI_OPT_DEFPREP | SQLI_OPT_AUTOFREE | SQLI_OPT_AUTOFREE_OFF));
    unsetenv("OPTOFC");
    unsetenv("FET_BUF_SIZE");
    SqliTest::TearDown();
  }
  // The message codes of each SQL exchange so far.
  std::vector<std::string> Codes() const {
    std::vector<std::string> out;
    for (const std::string& l : server_->Lines()) {
      if (l.rfind("codes ", 0) == 0) out.push_back(l.substr(6));
    }
    return out;
  }
  std::string LastCodes() const {
    auto c = Codes();
    return c.empty() ? "" : c.back();
  }
  std::string LastRequest() const {
    auto r = server_->Requests();
    return r.empty() ? "" : r.back();
  }
  // The "put" lines of the log: row count and rows.
  std::vector<std::string> Puts() const {
    std::vector<std::string> out;
    for (const std::string& l : server_->Lines()) {
      if (l.rfind("put ", 0) == 0) out.push_back(l.substr(4));
    }
    return out;
  }
  SqliCursor* Declare(const char* name, const char* text, int32_t bits = 0, SqliItemList* in = nullptr,
                      SqliItemList* out = nullptr) {
    SqliCursor* c = sqli_curs_locate(1, name, 0);
    const char* pieces[] = {text, nullptr};
    EXPECT_EQ(sqli_curs_decl_stat(1, c, name, pieces, in, out, bits, nullptr, nullptr, nullptr, nullptr, 0), 0);
    return sqli_curs_locate(1, name, 0);
  }
  std::unique_ptr<Server> server_;
};

}  // namespace sqli_test
