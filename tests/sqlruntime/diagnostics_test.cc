// The sqlca, the status record and the diagnostics area read through GET
// DIAGNOSTICS, the SQLSTATE mapping file, and the WHENEVER STOP dump.
#include <fcntl.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/msgfile.h"
#include "tests/sqlruntime/sqli_fixture.h"

namespace {

using sqli_test::SqliTest;

struct Diag {
  int32_t count = -1, code = 0, length = 0;
  char state[6] = {}, cls[21] = {}, sub[21] = {}, text[8193] = {}, conn[257] = {};
};

SqliDiagItem Item(int16_t item, void* data, int16_t type, int32_t length) {
  SqliDiagItem it{};
  it.data = data;
  it.item = item;
  it.host_type = type;
  it.host_length = length;
  return it;
}

int32_t Count() {
  int32_t count = -1;
  char more[2];
  SqliDiagItem items[] = {Item(1, &count, 102, 4), Item(2, more, 109, 2), Item(0, nullptr, 0, 0)};
  sqli_diag_get(nullptr, items, -1);
  return count;
}

Diag Exception(int32_t n, int32_t* rc = nullptr) {
  Diag d;
  SqliDiagItem items[] = {Item(3, d.state, 109, 6),    Item(4, d.cls, 109, 21),
                          Item(5, d.sub, 109, 21),     Item(6, d.text, 109, 8193),
                          Item(7, &d.length, 102, 4),  Item(10, d.conn, 109, 257),
                          Item(11, &d.code, 102, 4),   Item(0, nullptr, 0, 0)};
  int32_t r = sqli_diag_get(nullptr, items, n);
  if (rc != nullptr) *rc = r;
  return d;
}

class DiagTest : public SqliTest {
 protected:
  SqliRuntime* rt() { return sqli_runtime_get(); }
};

TEST_F(DiagTest, AResetAfterAResetLeavesWhatTheFirstMade) {
  SqliRuntime* r = rt();
  _iqseterr(-1803);
  sqli_sqlca_reset(r);
  EXPECT_EQ(Count(), 0);
  std::strcpy(r->message_params, "kept");
  sqli_sqlca_reset(r);
  EXPECT_STREQ(r->message_params, "kept");
  EXPECT_EQ(sqlca.sqlcode, 0);
  // After something is recorded the next reset empties again.
  _iqseterr(-1803);
  sqli_sqlca_reset(r);
  EXPECT_STREQ(r->message_params, "");
}

TEST_F(DiagTest, UpdateAfterResetCountsOneSuccess) {
  sqli_sqlca_reset(rt());
  sqli_diag_update(rt());
  EXPECT_EQ(Count(), 1);
  Diag d = Exception(1);
  EXPECT_EQ(d.code, 0);
}

TEST_F(DiagTest, WarningThenErrorIsOneExceptionWithTheErrorsState) {
  sqli_sqlca_reset(rt());
  sqli_warn_client(1);
  sqli_warn_client(1);  // held once
  EXPECT_STREQ(sqli_status.sqlstate, "01004");
  _iqseterr(-1803);
  EXPECT_EQ(Count(), 1);
  Diag d = Exception(1);
  EXPECT_EQ(d.code, -1803);
  EXPECT_STREQ(d.state, "08003");
  EXPECT_STREQ(sqli_status.sqlstate, "08003");
  EXPECT_STREQ(d.cls, "QV");
  EXPECT_STREQ(d.sub, "QV000");
  EXPECT_STREQ(d.text, "There is no such connection, or no current connection.");
  EXPECT_EQ(d.length, static_cast<int32_t>(std::strlen(d.text)));
}

TEST_F(DiagTest, ErrorThenWarningKeepsBoth) {
  sqli_sqlca_reset(rt());
  _iqseterr(-1802);
  sqli_warn_client(3);
  sqli_warn_client(3);
  EXPECT_EQ(Count(), 2);
  EXPECT_EQ(Exception(1).code, -1802);
  Diag w = Exception(2);
  EXPECT_EQ(w.code, 0);
  EXPECT_STREQ(w.state, "01I09");
  EXPECT_STREQ(w.cls, "ISO 9075");  // message 36114 describes it
  EXPECT_STREQ(w.text, "The number of host variables differs from the number of columns.");
}

TEST_F(DiagTest, EveryWarningStateHasItsText) {
  // Each warning SQLSTATE that names a message finds a text of its own in
  // the installed message files.
  const char* states[] = {"01000", "01I01", "01004", "01003", "01I03", "01I09", "01I04", "01I07",
                          "01I06", "01I12", "01I05", "01I08", "01006", "01007", "01008"};
  for (const char* state : states) {
    int32_t number = sqli_warn_msgno(state);
    ASSERT_GT(number, 36000) << state;
    char text[512] = "";
    int32_t full = 0;
    EXPECT_EQ(rgetlmsg(number, text, sizeof text, &full), 0) << state;
    EXPECT_GT(std::strlen(text), 10u) << state;
    EXPECT_EQ(std::strstr(text, "annot open"), nullptr) << state << ": " << text;
  }
}

TEST_F(DiagTest, ZeroAfterResetChangesNothing) {
  sqli_sqlca_reset(rt());
  _iqseterr(0);
  EXPECT_EQ(Count(), 0);
  EXPECT_EQ(sqlca.sqlcode, 0);
}

TEST_F(DiagTest, ConnectivityTextAndSecondaryCode) {
  sqli_sqlca_reset(rt());
  std::string text(100, 'x');
  text[70] = 'y';
  sqli_set_asf_error(-25582, 104, text.c_str());
  EXPECT_EQ(std::strlen(sqlca.sqlerrm), 71u);
  EXPECT_EQ(sqlca.sqlerrm[70], 'y');
  EXPECT_EQ(sqlca.sqlcode, -25582);
  EXPECT_EQ(sqlca.sqlerrd[1], 104);
  EXPECT_EQ(Count(), 2);
  EXPECT_EQ(Exception(1).code, -25582);
  EXPECT_EQ(Exception(2).code, 104);
  // The secondary code is kept as 16 bits.
  sqli_sqlca_reset(rt());
  sqli_set_asf_error(-25580, 0x12345, nullptr);
  EXPECT_EQ(sqlca.sqlerrd[1], 0x2345);
  // _iqseterr records a secondary code already in the sqlca the same way.
  sqli_sqlca_reset(rt());
  sqlca.sqlerrd[1] = 7;
  _iqseterr(-408);
  EXPECT_EQ(Count(), 2);
}

TEST_F(DiagTest, BadRequestsGive489) {
  sqli_sqlca_reset(rt());
  _iqseterr(-1805);
  int32_t rc = 0;
  Exception(0, &rc);
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(sqlca.sqlcode, -489);
  EXPECT_STREQ(sqli_status.sqlstate, "QV001");
  sqli_sqlca_reset(rt());
  _iqseterr(-1805);
  Exception(2, &rc);
  EXPECT_EQ(sqlca.sqlcode, -489);
  sqli_sqlca_reset(rt());
  int32_t v;
  SqliDiagItem items[] = {Item(5, &v, 102, 4), Item(0, nullptr, 0, 0)};
  EXPECT_EQ(sqli_diag_get(nullptr, items, -1), -1);
  EXPECT_EQ(sqlca.sqlcode, -489);
}

TEST_F(DiagTest, ServerStateAndMessage) {
  sqli_sqlca_reset(rt());
  std::string msg = "first line\n";
  sqli_diag_server_state("XY123", static_cast<int32_t>(msg.size()), msg.c_str());
  EXPECT_STREQ(sqli_status.sqlstate, "XY123");
  ASSERT_EQ(Count(), 1);
  Diag d = Exception(1);
  EXPECT_STREQ(d.state, "XY123");
  EXPECT_STREQ(d.text, "first line");  // the final newline is not part of it
  EXPECT_EQ(d.length, 10);
  EXPECT_STREQ(d.cls, "U0001");
  // A message longer than the area is cut.
  sqli_sqlca_reset(rt());
  std::string big(9000, 'm');
  sqli_diag_server_state("XY124", static_cast<int32_t>(big.size()), big.c_str());
  d = Exception(Count());
  EXPECT_STREQ(d.state, "XY124");
  EXPECT_LE(d.length, 8192);
  EXPECT_GE(d.length, 8191);
}

TEST_F(DiagTest, StatementItemsAndNames) {
  sqli_sqlca_reset(rt());
  sqli_set_names("srvx", "connx");
  _iqseterr(-1805);
  sqlca.sqlerrd[2] = 42;
  int32_t count = 0, rows = 0;
  char more[2] = {};
  SqliDiagItem items[] = {Item(1, &count, 102, 4), Item(2, more, 109, 2), Item(8, &rows, 102, 4),
                          Item(0, nullptr, 0, 0)};
  EXPECT_EQ(sqli_diag_get(nullptr, items, -1), -1805);
  EXPECT_EQ(count, 1);
  EXPECT_STREQ(more, "N");
  EXPECT_EQ(rows, 42);
  EXPECT_STREQ(Exception(1).conn, "connx");
  sqli_set_names(nullptr, nullptr);
}

// Successful statements one after another keep one record; its
// connection name must follow every change of the names, across errors
// and across a growth of the area that moves the records.
TEST_F(DiagTest, SuccessRecordsFollowTheNamesOfTheirTime) {
  SqliRuntime* r = rt();
  auto success = [&] {
    sqli_sqlca_reset(r);
    sqli_diag_update(r);
  };
  struct Step { const char* server; const char* conn; bool error_between; int warnings_between; } steps[] = {
      {"srv1", "c1", false, 0}, {"srv1", "c1", false, 0}, {"srv2", "c2", false, 0}, {"srv2", "c2", true, 0},
      {"srv3", "c3", true, 0},  {"srv3", "c3", false, 12}, {"srv4", "c4", false, 12}, {nullptr, nullptr, false, 0},
  };
  for (const Step& s : steps) {
    if (s.error_between) {
      sqli_sqlca_reset(r);
      _iqseterr(-1805);
    }
    if (s.warnings_between > 0) {
      sqli_sqlca_reset(r);
      sqlca.sqlcode = 0;
      for (int i = 0; i < s.warnings_between; ++i) {
        char state[6];
        snprintf(state, sizeof state, "01%03d", 100 + i);
        sqli_diag_warning(state, r);
      }
      _iqseterr(-1803);
    }
    sqli_set_names(s.server, s.conn);
    success();
    success();
    ASSERT_EQ(Count(), 1) << (s.conn != nullptr ? s.conn : "none");
    Diag d = Exception(1);
    EXPECT_STREQ(d.conn, s.conn != nullptr ? s.conn : "");
    EXPECT_EQ(d.code, 0);
  }
}

TEST_F(DiagTest, WarningBitsOfTheServer) {
  SqliRuntime* r = rt();
  sqli_sqlca_reset(r);
  sqli_warn_server(0x01 | 0x02 | 0x80, r);
  ASSERT_EQ(Count(), 3);
  EXPECT_STREQ(Exception(1).state, "01004");
  EXPECT_STREQ(Exception(2).state, "01003");
  EXPECT_STREQ(Exception(3).state, "01008");
  sqli_sqlca_reset(r);
  sqli_flag_dbstmt(r);
  sqli_warn_server(0x01 | 0x20, r);
  EXPECT_STREQ(Exception(1).state, "01I01");
  EXPECT_STREQ(Exception(2).state, "01I10");
  EXPECT_EQ(sqli_warn_msgno("01I06"), 36112);
  EXPECT_EQ(sqli_warn_msgno("01I12"), 36112);
  EXPECT_EQ(sqli_warn_msgno("01I10"), 0);
  EXPECT_EQ(sqli_warn_msgno("01I11"), 0);
}

// Mapping files: written here from the file layout, put in place of the
// built one for one lookup, then the built one is back.
class MapFileTest : public DiagTest {
 protected:
  void SetUp() override {
    DiagTest::SetUp();
    path_ = sqli_test::MsgDir() + "/vroxmsg.pam";
    saved_ = tevtest::ReadFile(path_);
  }
  void TearDown() override {
    tevtest::WriteFile(path_, saved_);
    sqli_sqlstate_forget();
    DiagTest::TearDown();
  }
  static std::string Be32(int32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(static_cast<uint32_t>(v) >> (24 - 8 * i));
    return s;
  }
  void Use(const std::string& bytes) {
    tevtest::WriteFile(path_, bytes);
    sqli_sqlstate_forget();
  }
  std::string path_, saved_;
};

TEST_F(MapFileTest, BadMagicMissingFileAndExtraRecords) {
  Use("vrox01" + Be32(0));
  char out[8];
  EXPECT_EQ(sqli_sqlstate_lookup(out, -1803, ""), -1);
  EXPECT_EQ(sqlca.sqlcode, -498);
  EXPECT_STREQ(sqli_status.sqlstate, "QV001");

  unlink(path_.c_str());
  sqli_sqlstate_forget();
  EXPECT_EQ(sqli_sqlstate_lookup(out, -1803, ""), -1);
  EXPECT_EQ(sqlca.sqlcode, -461);

  // Count 2, three records (descending): the third is not loaded.
  Use("vrox00" + Be32(2) + Be32(5) + Be32(0) + "AAAAA" + Be32(-5) + Be32(77) + "BBBBB" + Be32(-9) +
      Be32(0) + "CCCCC");
  EXPECT_EQ(sqli_sqlstate_lookup(out, -5, ""), 77);
  EXPECT_STREQ(out, "BBBBB");
  EXPECT_EQ(sqli_sqlstate_lookup(out, 5, ""), 0);
  EXPECT_STREQ(out, "AAAAA");
  EXPECT_EQ(sqli_sqlstate_lookup(out, -9, ""), 0);
  EXPECT_STREQ(out, "QV000");
  EXPECT_EQ(sqli_sqlstate_lookup(out, -937, ""), 0);
  EXPECT_STREQ(out, "******");
}

TEST_F(MapFileTest, DescendingSearchFindsEveryEntry) {
  // Codes 1000 down to -1000 in steps of 10; each maps to its own state.
  std::string body;
  int32_t n = 0;
  for (int32_t code = 1000; code >= -1000; code -= 10, ++n) {
    char st[12];
    std::snprintf(st, sizeof st, "%05d", (code + 1000) / 10);
    body += Be32(code) + Be32(0) + std::string(st, 5);
  }
  Use("vrox00" + Be32(n) + body);
  char out[8];
  for (int32_t code = 1000; code >= -1000; code -= 10) {
    char st[12];
    std::snprintf(st, sizeof st, "%05d", (code + 1000) / 10);
    sqli_sqlstate_lookup(out, code, "");
    EXPECT_STREQ(out, st) << code;
  }
  sqli_sqlstate_lookup(out, 5, "");
  EXPECT_STREQ(out, "QV000");
  // Code 0 with a current SQLSTATE keeps it.
  EXPECT_EQ(sqli_sqlstate_lookup(out, 0, "01I09"), 36114);
  EXPECT_STREQ(out, "01I09");
}

TEST_F(DiagTest, Downshift) {
  char s[] = "MiXeD";
  EXPECT_EQ(sqli_downshift(s), 0);
  EXPECT_STREQ(s, "mixed");
  EXPECT_EQ(sqli_downshift(nullptr), -1);
}

TEST_F(DiagTest, StopWheneverDump) {
  std::string path = sqli_test::Install().Path("whenever.txt");
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 2);
    sqlca.sqlcode = -1803;
    std::strcpy(sqlca.sqlerrm, "abc");
    std::memcpy(sqlca.sqlerrp, "XYZ", 4);
    for (int i = 0; i < 6; ++i) sqlca.sqlerrd[i] = i * 10 + 1;
    std::memset(&sqlca.sqlwarn, ' ', 8);
    sqlca.sqlwarn.sqlwarn0 = 'W';
    sqlca.sqlwarn.sqlwarn4 = 'W';
    sqli_stop_whenever();
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  const char* golden =
      "\n"
      "Program stopped by WHENEVER STOP\n"
      "sqlca:\n"
      " sqlcode:-1803\n"
      " sqlerrm: 'abc'\n"
      " sqlerrp: 'XYZ'\n"
      " sqlerrd:\n"
      " sqlerrd(1)=1\n"
      "        (2)=11\n"
      "        (3)=21\n"
      "        (4)=31\n"
      "        (5)=41\n"
      "        (6)=51\n"
      " sqlwarn.sqlwarn0:W\n"
      "        .sqlwarn1: \n"
      "        .sqlwarn2: \n"
      "        .sqlwarn3: \n"
      "        .sqlwarn4:W\n"
      "        .sqlwarn5: \n"
      "        .sqlwarn6: \n"
      "        .sqlwarn7: \n"
      "\n";
  EXPECT_EQ(tevtest::ReadFile(path), golden);
}

}  // namespace
