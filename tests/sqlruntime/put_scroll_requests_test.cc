// The PUT rows request (17 for fixed rows and for variable rows one by
// one, 133 for variable rows together) and the scroll fetch request (23),
// each compared byte for byte with what python3 builds from the request
// table, under the capability bytes that change their widths.
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "sqlruntime/cursor.h"
#include "sqlruntime/requests.h"
#include "tests/sqlruntime/sqli_fixture.h"

namespace {

using sqli_test::Server;
using sqli_test::SqliTest;

// Bytes built by python3, one hex line per expression (one run for a
// whole table of cases).
std::vector<std::string> Py(const std::vector<std::string>& exprs) {
  std::string list;
  for (const std::string& e : exprs) list += "(" + e + "),";
  tevtest::RunOptions o;
  o.env = {{"PATH", "/usr/bin:/bin"}};
  auto r = tevtest::RunProgram(tevtest::Python(),
                               {"-c", "import struct,sys\np=lambda b: b + (b'\\0' if len(b) % 2 else b'')\n"
                                      "h=lambda v: struct.pack('>h', v)\ni=lambda v: struct.pack('>i', v)\n"
                                      "sys.stdout.write('\\n'.join(x.hex() for x in [" + list + "]))"},
                               o);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::vector<std::string> out;
  std::istringstream in(r.out);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  out.resize(exprs.size());
  return out;
}

class RequestBytesTest : public SqliTest {
 protected:
  void Start(const std::string& caps) {
    server_ = std::make_unique<Server>("\"caps\": \"" + caps + "\"");
    ASSERT_TRUE(server_->ready());
    ASSERT_EQ(sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv1", "c", nullptr, 1), 0);
    sqli_sqlca_reset(sqli_runtime_get());
  }
  // Ends the message, reads the reply and gives the request as logged.
  std::string Sent() {
    sqli_msg_end(sqli_runtime_get());
    sqli_reply_loop(nullptr, 0);
    auto r = server_->Requests();
    return r.empty() ? "" : r.back();
  }
  std::unique_ptr<Server> server_;
};

// Rows of letters (no 16-bit word of them is an end code).
const char* const kRows[] = {"abcdefg", "hijklmn", "opqrstu"};

TEST_F(RequestBytesTest, FixedRows) {
  struct Case {
    const char* caps;
    const char* size;  // the row size as python packs it
  } cases[] = {{"20", "h(7)"}, {"28", "i(7)"}};
  std::vector<std::string> exprs;
  for (const Case& k : cases) {
    exprs.push_back("h(17)+" + std::string(k.size) + "+h(3)+p(b'abcdefg')+p(b'hijklmn')+p(b'opqrstu')+h(12)");
  }
  const auto want = Py(exprs);
  size_t n = 0;
  for (const Case& k : cases) {
    Start(k.caps);
    unsigned char buffer[64] = {};
    for (int r = 0; r < 3; ++r) std::memcpy(buffer + 7 * r, kRows[r], 7);
    SqliCursor c{};
    c.kind = 6;
    c.row_size = 7;
    c.buffer = buffer;
    c.buffer_size = sizeof buffer;
    c.position = buffer + 21;  // three rows written
    sqli_req_put_rows(&c, sqli_runtime_get());
    EXPECT_EQ(Sent(), want[n++]) << k.caps;
    sqli_connect_close(SQLI_CONN_ALL, nullptr, 1, 0);
  }
}

TEST_F(RequestBytesTest, VariableRows) {
  // Rows of 7, 4 and 9 bytes, one after another in the buffer.
  const std::string rows = "abcdefg" "hijk" "lmnopqrst";
  struct Case {
    const char* caps;
    const char* expect;
  } cases[] = {
      // One 17 per row, its length 16 or 32 bits wide by byte 0 bit 0x08.
      {"20", "h(17)+h(7)+h(1)+p(b'abcdefg')+h(17)+h(4)+h(1)+p(b'hijk')+h(17)+h(9)+h(1)+p(b'lmnopqrst')"},
      {"28", "h(17)+i(7)+h(1)+p(b'abcdefg')+h(17)+i(4)+h(1)+p(b'hijk')+h(17)+i(9)+h(1)+p(b'lmnopqrst')"},
      // With byte 5 bit 0x02 one 133 with 32-bit lengths.
      {"200000000002", "h(133)+h(3)+i(7)+p(b'abcdefg')+i(4)+p(b'hijk')+i(9)+p(b'lmnopqrst')"},
  };
  std::vector<std::string> exprs;
  for (const Case& k : cases) exprs.push_back(std::string(k.expect) + "+h(12)");
  const auto want = Py(exprs);
  size_t n = 0;
  for (const Case& k : cases) {
    Start(k.caps);
    std::string buffer = rows;
    auto* index = static_cast<SqliRowIndex*>(std::calloc(1, sizeof(SqliRowIndex) + 3 * sizeof(int32_t)));
    index->capacity = 4;
    index->last = 2;
    index->lengths[0] = 7;
    index->lengths[1] = 4;
    index->lengths[2] = 9;
    index->total = 20;
    SqliCursor c{};
    c.kind = 6;
    c.row_size = 20;
    c.variable_columns = 1;
    c.row_index = index;
    c.buffer = reinterpret_cast<unsigned char*>(buffer.data());
    c.position = c.buffer + 20;
    c.rows_in_buffer = 3;
    sqli_req_put_rows(&c, sqli_runtime_get());
    EXPECT_EQ(Sent(), want[n++]) << k.caps;
    std::free(index);
    sqli_connect_close(SQLI_CONN_ALL, nullptr, 1, 0);
  }
}

TEST_F(RequestBytesTest, RowsWithoutColumnsSendTheirCount) {
  // A statement without columns holds no rows: its PUTs are counted, and
  // the count is what goes.
  const auto want = Py({"h(17)+h(0)+h(5)+h(12)", "h(17)+i(0)+h(5)+h(12)"});
  size_t n = 0;
  for (const char* caps : {"20", "28"}) {
    Start(caps);
    SqliCursor c{};
    c.kind = 6;
    c.rows_in_buffer = 5;
    sqli_req_put_rows(&c, sqli_runtime_get());
    EXPECT_EQ(Sent(), want[n++]) << caps;
    sqli_connect_close(SQLI_CONN_ALL, nullptr, 1, 0);
  }
}

TEST_F(RequestBytesTest, ScrollFetch) {
  struct Case {
    const char* caps;
    int32_t kind, position, size;
    const char* tail;  // the buffer size as python packs it
  } cases[] = {
      {"20", 6, -3, 4096, "h(4096)"},
      {"20", 4, 2147483647, 32767, "h(32767)"},
      {"20000000000000" "01", 1, 0, 1048576, "i(1048576)"},
      {"2040", 7, 12, 4096, "h(4096)+h(0)"},
      {"2080000000000001", 5, -1, 70000, "i(70000)+h(0)"},
  };
  std::vector<std::string> exprs;
  for (const Case& k : cases) {
    exprs.push_back("h(23)+h(" + std::to_string(k.kind) + ")+i(" + std::to_string(k.position) + ")+" + k.tail +
                    "+h(12)");
  }
  const auto want = Py(exprs);
  size_t n = 0;
  for (const Case& k : cases) {
    Start(k.caps);
    sqli_req_scroll_fetch(k.kind, k.position, k.size);
    EXPECT_EQ(Sent(), want[n++]) << k.caps << " " << k.kind;
    sqli_connect_close(SQLI_CONN_ALL, nullptr, 1, 0);
  }
}

}  // namespace
