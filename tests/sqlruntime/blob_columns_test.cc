// TEXT and BYTE columns of fetched rows, against the python3 test server:
// a table whose rows hold large-object descriptors is fetched into the
// cursor's buffer; the indicators come from the row, code 38 goes for each
// non-null value with the row's own descriptor, and the values arrive one
// after another in one reply into the targets' locators.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "sqlruntime/blobs.h"
#include "sqlruntime/cursor.h"
#include "sqlruntime/fetch.h"
#include "sqlruntime/requests.h"
#include "tests/sqlruntime/sqli_fixture.h"

namespace {

using sqli_test::Server;
using sqli_test::SqliTest;

std::string Hex(const std::string& b) { return sqli_test::Hex(b.data(), b.size()); }

std::string Bytes(size_t n, int seed) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out.push_back(static_cast<char>((i * 7 + seed) & 0xFF));
  return out;
}

// A stored descriptor: type word at 0, start offset at 4, end offset at 8,
// flags word at 38 (0x01 null).
std::string Desc(int type, int n, int flags = 0) {
  std::string d(56, '\0');
  d[1] = static_cast<char>(type);
  const uint32_t start = 100, end = start + static_cast<uint32_t>(n) - 1;
  for (int i = 0; i < 4; ++i) {
    d[4 + i] = static_cast<char>(start >> (24 - 8 * i));
    d[8 + i] = static_cast<char>(end >> (24 - 8 * i));
  }
  d[12] = static_cast<char>(n & 0x7F);  // something of the server's own
  d[39] = static_cast<char>(flags);
  return d;
}

// A row of t: INTEGER a, TEXT x, BYTE y.
std::string Row(int a, const std::string& x, const std::string& y) {
  char b[16];
  std::snprintf(b, sizeof b, "%08x", a);
  return std::string(b) + Hex(x) + Hex(y);
}

std::string Config(const std::vector<std::string>& rows, const std::vector<std::string>& blobs) {
  std::string out =
      "\"caps\": \"20\", \"tables\": {\"t\": {\"columns\": [{\"name\": \"a\", \"type\": 2, \"length\": 4}, "
      "{\"name\": \"x\", \"type\": 12, \"length\": 56}, {\"name\": \"y\", \"type\": 11, \"length\": 56}], "
      "\"rows\": [";
  for (size_t i = 0; i < rows.size(); ++i) out += (i ? ", \"" : "\"") + rows[i] + "\"";
  out += "]}}, \"blob\": [";
  for (size_t i = 0; i < blobs.size(); ++i) out += (i ? ", \"" : "\"") + Hex(blobs[i]) + "\"";
  return out + "]";
}

class BlobColumnsTest : public SqliTest {
 protected:
  // Opens a cursor over t and fetches the first buffer of rows.
  void Start(const std::vector<std::string>& rows, const std::vector<std::string>& blobs) {
    server_ = std::make_unique<Server>(Config(rows, blobs));
    ASSERT_TRUE(server_->ready());
    ASSERT_EQ(sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv1", "c", nullptr, 1), 0);
    sqli_sqlca_reset(sqli_runtime_get());
    c_ = sqli_curs_locate(1, "c1", 0);
    const char* pieces[] = {"select * from t", nullptr};
    ASSERT_EQ(sqli_curs_decl_stat(1, c_, "c1", pieces, nullptr, nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0),
              0);
    c_ = sqli_curs_locate(1, "c1", 0);
    ASSERT_EQ(sqli_curs_open(1, c_, nullptr, nullptr, nullptr, 1, 0), 0) << sqlca.sqlcode;
    ASSERT_EQ(sqli_curs_fetch_buffer(c_), 0) << sqlca.sqlcode;
    ASSERT_EQ(c_->rows_in_buffer, static_cast<int32_t>(rows.size()));
    for (SqliLocator& l : loc_) {
      l = SqliLocator{};
      l.kind = SQLI_LOC_MEMORY;
      l.buffer_size = -1;
    }
    for (int i = 0; i < 3; ++i) {
      items_[i] = SqliValueItem{};
      ind_[i] = 99;
      items_[i].indicator = &ind_[i];
    }
    items_[0].type = 102;
    items_[0].data = reinterpret_cast<char*>(&a_);
    for (int i = 1; i < 3; ++i) {
      items_[i].type = 113;
      items_[i].data = reinterpret_cast<char*>(&loc_[i]);
    }
  }
  void TearDown() override {
    for (SqliLocator& l : loc_) {
      if (l.memory_flags & 0x01) std::free(l.buffer);
    }
    sqli_stmt_table_free();
    SqliTest::TearDown();
  }
  // One exchange for the values of the row at the buffer position.
  int32_t Receive(int32_t count = 3, int32_t null_check = 0, int32_t advance = 0) {
    SqliRuntime* rt = sqli_runtime_get();
    sqli_req_stmt_id(c_->id, rt);
    int32_t rc = sqli_req_blob_descs(c_, count, items_, nullptr, rt);
    if (rc != 0) return rc;
    sqli_msg_end(rt);
    return sqli_recv_blob_columns(c_, count, items_, nullptr, null_check, advance, rt);
  }
  std::string Value(int i) const { return std::string(loc_[i].buffer, static_cast<size_t>(loc_[i].size)); }
  std::vector<std::string> With(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& l : server_->Lines()) {
      if (l.rfind(prefix, 0) == 0) out.push_back(l.substr(prefix.size()));
    }
    return out;
  }
  std::unique_ptr<Server> server_;
  SqliCursor* c_ = nullptr;
  SqliLocator loc_[3];
  SqliValueItem items_[3];
  int16_t ind_[3];
  int32_t a_ = 0;
};

TEST_F(BlobColumnsTest, ValuesOfARowArriveInOneReply) {
  const std::string text = Bytes(3000, 1), bytes = Bytes(1501, 2), second = Bytes(7, 3);
  const std::string x1 = Desc(12, 3000), y1 = Desc(11, 1501), x2 = Desc(12, 0, 0x01), y2 = Desc(11, 7);
  Start({Row(1, x1, y1), Row(2, x2, y2)}, {text, bytes, second});
  SqliItemList list{3, items_};
  // Indicators over both rows: three values are not null.
  EXPECT_EQ(sqli_blob_indicators(c_, &list, 2), 3);
  EXPECT_EQ(sqli_blob_indicators(c_, &list, 1), 2);
  EXPECT_EQ(ind_[1], 0);
  EXPECT_EQ(ind_[2], 0);

  ASSERT_EQ(Receive(3, 0, 1), 2) << sqlca.sqlcode;
  EXPECT_EQ(sqlca.sqlcode, 0);
  EXPECT_EQ(Value(1), text);
  EXPECT_EQ(Value(2), bytes);
  EXPECT_EQ(With("desc "), (std::vector<std::string>{Hex(x1), Hex(y1)}));
  EXPECT_EQ(With("codes ").back(), "4,38,38,12");
  // The position moved to the second row: its TEXT value is null and
  // asks for nothing.
  ASSERT_EQ(c_->position, c_->buffer + c_->row_size);
  EXPECT_EQ(Receive(), 1);
  EXPECT_EQ(ind_[1], -1);
  EXPECT_EQ(loc_[1].indicator, -1);
  EXPECT_EQ(ind_[2], 0);
  EXPECT_EQ(Value(2), second);
  EXPECT_EQ(With("desc ").back(), Hex(y2));
  EXPECT_EQ(With("codes ").back(), "4,38,12");
  // The stream is in step: the next exchange is answered.
  EXPECT_EQ(sqli_curs_close(1, c_), 0);
  EXPECT_EQ(sqlca.sqlcode, 0);
  EXPECT_EQ(With("codes ").back().substr(0, 5), "4,10,");
}

TEST_F(BlobColumnsTest, ValueCutToTheCallersBufferIsAWarning) {
  const std::string text = Bytes(20, 4), bytes = Bytes(5, 5);
  Start({Row(1, Desc(12, 20), Desc(11, 5))}, {text, bytes});
  char small[10];
  loc_[1].buffer = small;
  loc_[1].buffer_size = sizeof small;
  ASSERT_EQ(Receive(), 2) << sqlca.sqlcode;
  EXPECT_EQ(ind_[1], 20);
  EXPECT_EQ(loc_[1].indicator, 20);
  EXPECT_EQ(sqlca.sqlwarn.sqlwarn0, 'W');
  EXPECT_EQ(sqlca.sqlwarn.sqlwarn1, 'W');
  EXPECT_GE(sqlca.sqlcode, 0);
  // The value after it arrived whole.
  EXPECT_EQ(Value(2), bytes);
  EXPECT_EQ(ind_[2], 0);
}

TEST_F(BlobColumnsTest, UnsuitableTargetsSendNothing) {
  struct Case {
    int16_t type;
    int32_t count;
    int32_t code;
  } cases[] = {{-1, 3, -402}, {100, 3, -608}, {116, 3, -461}};
  Start({Row(1, Desc(12, 4), Desc(11, 4))}, {"abcd", "efgh"});
  SqliRuntime* rt = sqli_runtime_get();
  char no_name[] = "   ";
  for (const Case& k : cases) {
    sqli_sqlca_reset(rt);
    items_[2].type = k.type;
    // A file-name target must name a file: blanks name none.
    items_[2].data = k.type == 116 ? no_name : reinterpret_cast<char*>(&loc_[2]);
    sqli_req_stmt_id(c_->id, rt);
    EXPECT_EQ(sqli_req_blob_descs(c_, k.count, items_, nullptr, rt), k.code) << k.type;
    EXPECT_EQ(sqlca.sqlcode, k.code);
    sqli_reply_loop(nullptr, 0);  // ends the message
    EXPECT_EQ(With("codes ").back(), "4,12") << k.type;
  }
  EXPECT_TRUE(With("desc ").empty());
  items_[2].data = reinterpret_cast<char*>(&loc_[2]);
  // Values already on their way when the receive finds a bad target are
  // read over: the next exchange is in step.
  items_[2].type = 113;
  sqli_sqlca_reset(rt);
  sqli_req_stmt_id(c_->id, rt);
  ASSERT_EQ(sqli_req_blob_descs(c_, 3, items_, nullptr, rt), 0);
  sqli_msg_end(rt);
  items_[2].type = 100;
  EXPECT_EQ(sqli_recv_blob_columns(c_, 3, items_, nullptr, 0, 0, rt), -608);
  items_[2].type = 113;
  sqli_sqlca_reset(rt);
  EXPECT_EQ(Receive(), 2) << sqlca.sqlcode;
  EXPECT_EQ(Value(1), "efgh");  // the server's values come in turn
}

TEST_F(BlobColumnsTest, NullWithoutIndicatorWhenAsked) {
  const std::string dir = sqli_test::Install().Path("blobcols_" + std::to_string(getpid()));
  mkdir(dir.c_str(), 0700);
  const std::string file = dir + "/x.out";
  tevtest::WriteFile(file, "old contents");
  Start({Row(1, Desc(12, 0, 0x01), Desc(11, 3, 0x10))}, {"xyz"});
  // The null TEXT value goes into a file locator without an indicator.
  loc_[1] = SqliLocator{};
  loc_[1].kind = SQLI_LOC_FILE;
  loc_[1].file_name = const_cast<char*>(file.c_str());
  items_[1].indicator = nullptr;
  SqliItemList list{3, items_};
  EXPECT_EQ(sqli_blob_indicators(c_, &list, 1), 1);
  // The descriptor's flag 0x10 stays with the locator.
  EXPECT_NE(loc_[2].open_flags & SQLI_LOC_FROM_DESC, 0);
  EXPECT_EQ(loc_[1].open_flags & SQLI_LOC_FROM_DESC, 0);
  EXPECT_EQ(Receive(3, 1), -467);
  EXPECT_EQ(sqlca.sqlcode, -467);
  EXPECT_EQ(Value(2), "xyz");  // the value after it was still read
  struct stat st;
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 0);
  // Without the check a null needs no indicator.
  sqli_sqlca_reset(sqli_runtime_get());
  EXPECT_EQ(Receive(3, 0), 1);
  EXPECT_EQ(sqlca.sqlcode, 0);
}

}  // namespace

namespace {

// FETCH of rows with TEXT and BYTE columns into host variables: the row
// brings the descriptors, the FETCH asks for the values and puts them into
// a memory locator and a file locator.
class BlobFetchTest : public SqliTest {
 protected:
  void TearDown() override {
    sqli_stmt_table_free();
    SqliTest::TearDown();
  }
};

TEST_F(BlobFetchTest, FetchReceivesTextAndByteValues) {
  const std::string text = Bytes(2048, 5), bytes = Bytes(777, 9);
  const std::string x1 = Desc(12, 2048), y1 = Desc(11, 777), x2 = Desc(12, 0, 0x01), y2 = Desc(11, 4);
  Server server(Config({Row(1, x1, y1), Row(2, x2, y2)}, {text, bytes, "wxyz"}));
  ASSERT_TRUE(server.ready());
  ASSERT_EQ(sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv1", "c", nullptr, 1), 0);
  const std::string dir = sqli_test::Install().Path("blobfetch_" + std::to_string(getpid()));
  mkdir(dir.c_str(), 0700);
  const std::string file = dir + "/y.out";

  int32_t a = 0;
  int16_t ind[3] = {99, 99, 99};
  SqliLocator mem{}, onfile{};
  mem.kind = SQLI_LOC_MEMORY;
  mem.buffer_size = -1;
  onfile.kind = SQLI_LOC_FILE;
  onfile.file_name = const_cast<char*>(file.c_str());
  SqliValueItem out[3] = {};
  out[0].type = 102, out[0].length = 4, out[0].data = reinterpret_cast<char*>(&a);
  out[1].type = 113, out[1].data = reinterpret_cast<char*>(&mem);
  out[2].type = 113, out[2].data = reinterpret_cast<char*>(&onfile);
  for (int i = 0; i < 3; ++i) out[i].indicator = &ind[i];
  SqliItemList outs{3, out};
  SqliCursor* c = sqli_curs_locate(1, "b1", 0);
  const char* pieces[] = {"select * from t", nullptr};
  ASSERT_EQ(sqli_curs_decl_stat(1, c, "b1", pieces, nullptr, &outs, 0, nullptr, nullptr, nullptr, nullptr, 0), 0);
  c = sqli_curs_locate(1, "b1", 0);
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0) << sqlca.sqlcode;
  SqliFetchSpec spec{0, SQLI_FETCH_NEXT, 0};

  ASSERT_EQ(sqli_curs_fetch(1, c, nullptr, nullptr, nullptr, &spec), 0) << sqlca.sqlcode;
  EXPECT_EQ(a, 1);
  ASSERT_EQ(mem.size, 2048);
  EXPECT_EQ(std::string(mem.buffer, 2048), text);
  EXPECT_EQ(tevtest::ReadFile(file), bytes);
  EXPECT_EQ(ind[1], 0);
  EXPECT_EQ(ind[2], 0);
  std::vector<std::string> descs, codes;
  for (const std::string& l : server.Lines()) {
    if (l.rfind("desc ", 0) == 0) descs.push_back(l.substr(5));
    if (l.rfind("codes ", 0) == 0) codes.push_back(l.substr(6));
  }
  EXPECT_EQ(descs, (std::vector<std::string>{Hex(x1), Hex(y1)}));
  ASSERT_FALSE(codes.empty());
  EXPECT_EQ(codes.back(), "4,38,38,12");

  // The second row: a null TEXT value and a BYTE value.
  ASSERT_EQ(sqli_curs_fetch(1, c, nullptr, nullptr, nullptr, &spec), 0) << sqlca.sqlcode;
  EXPECT_EQ(a, 2);
  EXPECT_EQ(ind[1], -1);
  EXPECT_EQ(ind[2], 0);
  EXPECT_EQ(tevtest::ReadFile(file), "wxyz");
  EXPECT_EQ(sqli_curs_fetch(1, c, nullptr, nullptr, nullptr, &spec), 100);
  ASSERT_EQ(sqli_curs_close(1, c), 0);

  // A file-name host value takes the value into the file it names.
  out[2].type = 116;
  out[2].data = const_cast<char*>(file.c_str());
  tevtest::WriteFile(file, "old");
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0) << sqlca.sqlcode;
  ASSERT_EQ(sqli_curs_fetch(1, c, nullptr, nullptr, nullptr, &spec), 0) << sqlca.sqlcode;
  // (the server answers every later request with its last value)
  EXPECT_EQ(tevtest::ReadFile(file), "wxyz");
  EXPECT_EQ(ind[2], 0);
  if (mem.memory_flags & 0x01) std::free(mem.buffer);
}

}  // namespace
