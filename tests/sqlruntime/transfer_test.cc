// TEXT/BYTE values in chunks and the server's client-file requests,
// against the python3 test server: the chunks it logged, the files left
// behind, the answers it read.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sqlruntime/blobs.h"
#include "sqlruntime/cursor.h"
#include "sqlruntime/requests.h"
#include "tests/sqlruntime/sqli_fixture.h"

namespace {

using sqli_test::Server;
using sqli_test::SqliTest;

std::string Bytes(size_t n, int seed) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out.push_back(static_cast<char>((i * 13 + seed) & 0xFF));
  return out;
}
std::string Hex(const std::string& b) { return sqli_test::Hex(b.data(), b.size()); }

// A stored descriptor of a value of n bytes (start 0, end n - 1).
std::string Desc(int type, int n, bool null = false) {
  std::string d(56, '\0');
  d[1] = static_cast<char>(type);
  uint32_t end = static_cast<uint32_t>(n - 1);
  for (int i = 0; i < 4; ++i) d[8 + i] = static_cast<char>(end >> (24 - 8 * i));
  if (null) d[39] = 1;
  return d;
}

class TransferTest : public SqliTest {
 protected:
  void Start(const std::string& config, const std::string& options = "") {
    server_ = std::make_unique<Server>(config, options);
    ASSERT_TRUE(server_->ready());
    ASSERT_EQ(sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv1", "c", nullptr, 1), 0);
    sqli_sqlca_reset(sqli_runtime_get());
  }
  void TearDown() override {
    unsetenv("ZEL_LOB_XFERSIZE");
    SqliRuntime* rt = sqli_runtime_get();
    if (rt->client_file_fd > 0) close(rt->client_file_fd);
    rt->client_file_fd = -1;
    SqliTest::TearDown();
  }
  std::vector<std::string> With(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& l : server_->Lines()) {
      if (l.rfind(prefix, 0) == 0) out.push_back(l.substr(prefix.size()));
    }
    return out;
  }
  SqliMessageStream* S() { return sqli_runtime_get()->current->stream; }
  std::string Dir() {
    std::string d = sqli_test::Install().Path("xfer_" + std::to_string(getpid()));
    mkdir(d.c_str(), 0700);
    return d;
  }
  std::unique_ptr<Server> server_;
};

TEST_F(TransferTest, FileValueTravelsInChunks) {
  // A multiplexed entry: packets with headers keep their boundaries.
  Start("\"caps\": \"20\"", "m=1");
  std::string data = Bytes(2048, 1), path = Dir() + "/v2048";
  tevtest::WriteFile(path, data);
  sqli_msg_put_short(SQLI_REQ_BLOBS, S());
  sqli_msg_put_short(1, S());
  ASSERT_EQ(sqli_send_file(path.c_str(), -1, 11, sqli_runtime_get()), 0);
  sqli_reply_loop(nullptr, 0);
  EXPECT_EQ(sqlca.sqlcode, 0);
  EXPECT_EQ(With("chunk "), (std::vector<std::string>{"1024", "1024", "0"}));
  EXPECT_EQ(With("value "), std::vector<std::string>{Hex(data)});
  // Each full chunk ends a packet: 2 + 2 + 1,024 bytes; the code 41 and
  // its count went before them, the zero chunk and 12 after.
  auto packets = With("packet ");
  ASSERT_GE(packets.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(packets.end() - 4, packets.end()),
            (std::vector<std::string>{"4", "1028", "1028", "6"}))
      << server_->Log();
}

TEST_F(TransferTest, OddValueIsPaddedAndMemoryLocatorSends) {
  Start("\"caps\": \"20\"");
  std::string data = Bytes(1500, 2);
  SqliLocator loc{};
  loc.kind = SQLI_LOC_MEMORY;
  loc.buffer = data.data();
  loc.buffer_size = 1500;
  loc.size = 1500;
  loc.type = 11;
  ASSERT_EQ(sqli_send_locator(&loc, sqli_runtime_get()), 0);
  sqli_reply_loop(nullptr, 0);
  EXPECT_EQ(With("chunk "), (std::vector<std::string>{"1024", "476", "0"}));
  EXPECT_EQ(With("value "), std::vector<std::string>{Hex(data)});
}

TEST_F(TransferTest, NullValuesSendNothing) {
  Start("\"caps\": \"20\"");
  std::string data = Bytes(10, 3), path = Dir() + "/v10";
  tevtest::WriteFile(path, data);
  SqliLocator loc{};
  loc.kind = SQLI_LOC_MEMORY;
  int16_t null_ind = -1, ind = 0;
  SqliValueItem items[2]{};
  items[0].type = 113;
  items[0].data = reinterpret_cast<char*>(&loc);
  items[0].indicator = &null_ind;
  items[1].type = 116;
  items[1].data = path.data();
  items[1].indicator = &ind;
  SqliItemList list{2, items};
  sqli_runtime_get()->large_value_count = 1;  // as binding counted them
  ASSERT_EQ(sqli_send_blobs(&list, sqli_runtime_get()), 0);
  sqli_reply_loop(nullptr, 0);
  EXPECT_EQ(With("chunk "), (std::vector<std::string>{"10", "0"}));
  EXPECT_EQ(With("value "), std::vector<std::string>{Hex(data)});
  EXPECT_EQ(server_->Requests().back().substr(0, 8), "00290001");
}

TEST_F(TransferTest, FailuresCancelTheValue) {
  Start("\"caps\": \"20\"");
  // A directory opens but cannot be read: -463 and code 40.
  EXPECT_EQ(sqli_send_file(Dir().c_str(), -1, 11, sqli_runtime_get()), -463);
  sqli_reply_loop(nullptr, 0);
  EXPECT_EQ(sqlca.sqlcode, -463);
  EXPECT_EQ(With("cancel").size(), 1u);
  EXPECT_EQ(sqli_send_file((Dir() + "/missing").c_str(), -1, 11, sqli_runtime_get()), -461);
  sqli_reply_loop(nullptr, 0);
  EXPECT_EQ(With("cancel").size(), 2u);
}

class ReceiveTest : public TransferTest {
 protected:
  SqliCursor cursor_{};
  void Begin(const std::string& blobs) {
    Start("\"caps\": \"20\", \"blob\": " + blobs + ", \"tables\": {\"t\": {\"columns\": [{\"name\": \"a\", "
          "\"type\": 2, \"length\": 4}], \"rows\": []}}");
    SqliCursor* s = sqli_prep(1, "s1", "select a from t", nullptr, nullptr, 0, 0, 0);
    ASSERT_NE(s, nullptr);
    cursor_.id = s->id;
  }
  void TearDown() override {
    sqli_stmt_table_free();
    TransferTest::TearDown();
  }
};

TEST_F(ReceiveTest, CallerBufferTooSmall) {
  std::string v = Bytes(20, 3);
  Begin("\"" + Hex(v) + "\"");
  char small[10];
  SqliLocator loc{};
  loc.kind = SQLI_LOC_MEMORY;
  loc.buffer = small;
  loc.buffer_size = 10;
  std::string d = Desc(11, 20);
  EXPECT_EQ(sqli_recv_locator(&cursor_, &loc, d.data(), sqli_runtime_get()), 0);
  EXPECT_EQ(sqlca.sqlcode, -451);
  EXPECT_EQ(loc.indicator, 20);
  // The stream kept its place.
  sqli_sqlca_reset(sqli_runtime_get());
  ASSERT_NE(sqli_prep(1, "s2", "select a from t", nullptr, nullptr, 0, 0, 0), nullptr);
}

TEST_F(ReceiveTest, RuntimeBufferGrows) {
  std::string a = Bytes(20, 4), b = Bytes(3000, 5);
  Begin("[\"" + Hex(a) + "\", \"" + Hex(b) + "\"]");
  SqliLocator loc{};
  loc.kind = SQLI_LOC_MEMORY;
  loc.buffer_size = -1;
  std::string d = Desc(11, 20);
  ASSERT_EQ(sqli_recv_locator(&cursor_, &loc, d.data(), sqli_runtime_get()), 0);
  EXPECT_EQ(loc.size, 20);
  EXPECT_EQ(std::string(loc.buffer, 20), a);
  EXPECT_EQ(loc.memory_flags & 1, 1);
  d = Desc(11, 3000);
  ASSERT_EQ(sqli_recv_locator(&cursor_, &loc, d.data(), sqli_runtime_get()), 0);
  EXPECT_EQ(loc.size, 3000);
  EXPECT_EQ(loc.buffer_size, 3000);
  EXPECT_EQ(std::string(loc.buffer, 3000), b);
  std::free(loc.buffer);
}

TEST_F(ReceiveTest, IntoAFileAndNullValue) {
  std::string v = Bytes(2500, 6);
  Begin("\"" + Hex(v) + "\"");
  std::string path = Dir() + "/recv", name = path;
  SqliLocator loc{};
  loc.kind = SQLI_LOC_FILE;
  loc.file_name = name.data();
  std::string d = Desc(11, 2500);
  ASSERT_EQ(sqli_recv_locator(&cursor_, &loc, d.data(), sqli_runtime_get()), 0);
  EXPECT_EQ(tevtest::ReadFile(path), v);
  // A null value: an empty file, nothing exchanged.
  tevtest::WriteFile(path, "old contents");
  size_t n = server_->Requests().size();
  d = Desc(11, 0, true);
  ASSERT_EQ(sqli_recv_locator(&cursor_, &loc, d.data(), sqli_runtime_get()), 0);
  EXPECT_EQ(loc.indicator, -1);
  EXPECT_EQ(tevtest::ReadFile(path), "");
  EXPECT_EQ(server_->Requests().size(), n);
}

// The server's client-file requests answering request 997.
class ClientFileTest : public TransferTest {
 protected:
  void Run(const std::string& caps, const std::string& ops) {
    Start("\"caps\": \"" + caps + "\", \"file_ops\": [" + ops + "]");
    sqli_msg_put_short(997, S());
    sqli_reply_loop(nullptr, 0);
  }
  static std::string Open(const std::string& name, int flags, int end = 12) {
    return "{\"op\": \"open\", \"name\": \"" + name + "\", \"flags\": " + std::to_string(flags) +
           ", \"end\": " + std::to_string(end) + "}";
  }
};

TEST_F(ClientFileTest, WriteLeavesTheServersBytes) {
  std::string path = Dir() + "/written", a = Bytes(5000, 7), b = Bytes(33, 8);
  Run("20", Open(path, 0x20 | 0x04) + ", {\"op\": \"write\", \"chunks\": [\"" + Hex(a) + "\", \"" + Hex(b) +
                "\"]}, {\"op\": \"close\"}");
  EXPECT_EQ(sqlca.sqlcode, 0);
  EXPECT_EQ(With("answer "), (std::vector<std::string>{"ok", "size 5033", "ok"}));
  EXPECT_EQ(tevtest::ReadFile(path), a + b);
  EXPECT_EQ(sqli_runtime_get()->client_file_fd, -1);
}

TEST_F(ClientFileTest, ReadSendsChunksOfTheAskedSize) {
  std::string path = Dir() + "/read", data = Bytes(2500, 9);
  tevtest::WriteFile(path, data);
  for (const char* caps : {"20", "200200"}) {
    Run(caps, Open(path, 0x10) + ", {\"op\": \"read\", \"chunk\": 1000, \"amount\": -1}, {\"op\": \"close\"}");
    EXPECT_EQ(With("answer "), (std::vector<std::string>{"ok", "read 2500 1000,1000,500 " + Hex(data), "ok"})) << caps;
    sqli_connect_close(SQLI_CONN_ALL, nullptr, 1, 0);
  }
  // An amount smaller than the file, in the INT8 form (byte 5 bit 0x20).
  Run("200000000020", Open(path, 0x10) + ", {\"op\": \"read\", \"chunk\": 512, \"amount\": 700}");
  EXPECT_EQ(With("answer ")[1], "read 700 512,188 " + Hex(data.substr(0, 700)));
}

TEST_F(ClientFileTest, SparseFileBeyondInt32) {
  std::string path = Dir() + "/sparse";
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 2147483648LL + 10), 0);
  close(fd);
  Run("20", Open(path, 0x10) + ", {\"op\": \"read\", \"chunk\": 1000, \"amount\": -1}, {\"op\": \"close\"}");
  EXPECT_EQ(With("answer "), (std::vector<std::string>{"ok", "error -1215", "ok"}));
  unlink(path.c_str());
}

TEST_F(ClientFileTest, TransferSizeLetsTheServerInterrupt) {
  std::string path = Dir() + "/lob", data = Bytes(5000, 10);
  tevtest::WriteFile(path, data);
  setenv("ZEL_LOB_XFERSIZE", "2000", 1);
  // The interruption (a reply 55) waits before the client sends.
  Run("20", Open(path, 0x10) + ", {\"op\": \"read\", \"chunk\": 1000, \"amount\": -1, \"interrupt\": \"0037"
                               "0000000500000006\"}");
  EXPECT_EQ(With("answer ")[1], "read 5000 1000,1000 " + Hex(data.substr(0, 2000)));
  EXPECT_EQ(sqlca.sqlerrd[0], 5) << "the interruption was then read as a reply";
}

TEST_F(ClientFileTest, InterruptedWriteKeepsTheFileOpen) {
  std::string path = Dir() + "/partial", a = Bytes(100, 11), b = Bytes(7, 12);
  Run("20", Open(path, 0x20 | 0x04) + ", {\"op\": \"write\", \"chunks\": [\"" + Hex(a) +
                "\"], \"end\": 13, \"error\": -271}, {\"op\": \"write\", \"chunks\": [\"" + Hex(b) +
                "\"]}, {\"op\": \"close\"}");
  EXPECT_EQ(With("answer "), (std::vector<std::string>{"ok", "error -271", "size 107", "ok"}));
  EXPECT_EQ(tevtest::ReadFile(path), a + b);
}

TEST_F(ClientFileTest, MissingEndCodeAnswers408AndGoesOn) {
  std::string path = Dir() + "/x";
  Run("20", Open(path, 0x20 | 0x04, 11) + ", {\"op\": \"close\"}, {\"op\": \"read\", \"chunk\": 10, \"amount\": -1}");
  EXPECT_EQ(With("answer "), (std::vector<std::string>{"error -408", "ok", "error 9"}));
  EXPECT_NE(sqli_runtime_get()->current, nullptr);
}

TEST_F(ClientFileTest, LongNameIsBounded) {
  // A 600-byte name: 503 bytes kept, the rest skipped in step.
  std::string name = Dir() + "/" + std::string(600, 'n');
  Run("20", Open(name, 0x10) + ", {\"op\": \"close\"}");
  auto answers = With("answer ");
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[0].rfind("error ", 0), 0u);
  EXPECT_EQ(answers[1], "ok");
  EXPECT_EQ(std::strlen(sqli_runtime_get()->client_file), 503u);
}

TEST_F(ClientFileTest, OpenFlagsAppendExclusiveAndReadWrite) {
  const std::string dir = Dir(), old = Bytes(100, 11), more = Bytes(21, 12);
  // 0x20 with 0x02: write-only, appending to what the file held.
  const std::string log = dir + "/appended";
  tevtest::WriteFile(log, old);
  Run("20", Open(log, 0x20 | 0x02) + ", {\"op\": \"write\", \"chunks\": [\"" + Hex(more) + "\"]}, {\"op\": \"close\"}");
  EXPECT_EQ(tevtest::ReadFile(log), old + more);
  sqli_connect_close(SQLI_CONN_ALL, nullptr, 1, 0);
  // 0x20 with 0x01: an existing file is refused with the system's error
  // and left as it was.
  Run("20", Open(log, 0x20 | 0x01));
  EXPECT_EQ(With("answer "), std::vector<std::string>{"error " + std::to_string(EEXIST)});
  EXPECT_EQ(tevtest::ReadFile(log), old + more);
  sqli_connect_close(SQLI_CONN_ALL, nullptr, 1, 0);
  // 0x08: read-write, created when missing; 0x10 never creates.
  const std::string made = dir + "/made", absent = dir + "/absent";
  Run("20", Open(made, 0x08) + ", {\"op\": \"write\", \"chunks\": [\"" + Hex(more) + "\"]}, {\"op\": \"close\"}, " +
                Open(absent, 0x10));
  EXPECT_EQ(tevtest::ReadFile(made), more);
  const auto answers = With("answer ");
  ASSERT_EQ(answers.size(), 4u);
  EXPECT_EQ(answers[3], "error " + std::to_string(ENOENT));
  EXPECT_NE(access(absent.c_str(), F_OK), 0);
}

}  // namespace
