// Sessions through the session layer: the client's start against the
// python3 peer (request forms, headers and every reply), and the project's
// listener against the python3 client.
#include <thread>

#include "tests/connect/session_fixture.h"

namespace {

using session_test::Accepted;
using session_test::Client;
using session_test::Drop;
using session_test::Has;
using session_test::Listen;
using session_test::NewAssoc;
using session_test::SlPeer;

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override { connect_test::EnsureLayer(); }
};

TEST_F(SessionTest, TextRequestAcceptedWithHeaderInTextSafeForm) {
  SlPeer peer("reply2");
  Client client(peer.port());
  AsfControlBlock cb{};
  ASSERT_NE(NewAssoc(&cb, ASF_INITIATOR, client.area), nullptr);
  ASSERT_EQ(client.Start(&cb), 0) << cb.error << " " << cb.file << ":" << cb.line;
  EXPECT_EQ(cb.assoc->session->state, SESS_ESTABLISHED);
  EXPECT_EQ(cb.assoc->session->selector, 61);
  std::vector<std::string> req = peer.Request();
  // "sq" and 8 characters; the length counts the 6 header bytes and the NUL.
  ASSERT_EQ(req[0].rfind("request form=sq length=", 0), 0u) << req[0];
  EXPECT_NE(req[0].find(" type=1 flags=61 last=0"), std::string::npos) << req[0];
  EXPECT_TRUE(Has(req, "tail=00 nuls=1"));  // the header's length ends at the NUL
  EXPECT_TRUE(Has(req, "form=text"));
  EXPECT_TRUE(Has(req, "h.kind=2"));
  EXPECT_TRUE(Has(req, "h.server=srv"));
  EXPECT_TRUE(Has(req, "h.option_arg=db"));
  EXPECT_TRUE(Has(req, "m.level=61"));
  EXPECT_TRUE(Has(req, "j.LANG=C"));
  // The reply's record.
  auto* server = static_cast<AsfConnRecord*>(client.body.server_record);
  ASSERT_NE(server, nullptr);
  EXPECT_STREQ(server->program, "srvqorv");
  EXPECT_EQ(server->values[0], 316);
  EXPECT_EQ(std::string(client.body.info.server_type, 7), "sqlexec");
  // Undone fields of the caller's record are put back.
  EXPECT_EQ(client.rec.info.word, -1);
  // The session carries data now.
  EXPECT_EQ(session_test::Exchange(&cb, "hello", false), "");
  EXPECT_EQ(peer.Next("got "), "got " + connect_test::Hex("hello"));
  client.FreeOutputs();
  Drop(&cb);
}

TEST_F(SessionTest, BinaryFormForcedByABlankAndTheMultiplexBit) {
  SlPeer peer("reply2");
  Client client(peer.port());
  client.user = "jo e";
  client.entry.options.m = 1;
  AsfControlBlock cb{};
  NewAssoc(&cb, ASF_INITIATOR, client.area);
  ASSERT_EQ(client.Start(&cb), 0) << cb.error;
  std::vector<std::string> req = peer.Request();
  ASSERT_EQ(req[0].rfind("request form=binary", 0), 0u) << req[0];
  EXPECT_NE(req[0].find(" type=1 flags=189 last=0"), std::string::npos) << req[0];  // 61 + 0x80
  EXPECT_TRUE(Has(req, "e.user=jo e"));
  EXPECT_TRUE(Has(req, "e.password=pw1"));
  EXPECT_TRUE(Has(req, "e.program=sqlexec"));
  EXPECT_TRUE(Has(req, "e.format=IEEEI"));
  EXPECT_TRUE(Has(req, "h.kind=2"));
  client.FreeOutputs();
  Drop(&cb);
}

TEST_F(SessionTest, LongPasswordTravelsWholeInTheBinaryForm) {
  SlPeer peer("reply2");
  Client client(peer.port());
  client.password = std::string(150, 'k');
  AsfControlBlock cb{};
  NewAssoc(&cb, ASF_INITIATOR, client.area);
  ASSERT_EQ(client.Start(&cb), 0) << cb.error;
  std::vector<std::string> req = peer.Request();
  EXPECT_TRUE(Has(req, "form=binary"));
  EXPECT_TRUE(Has(req, "e.password=" + client.password));
  client.FreeOutputs();
  Drop(&cb);
}

TEST_F(SessionTest, RefusedAndRedirectedReplies) {
  struct Case {
    std::string mode, arg;
    int32_t error, os_error;
  };
  const Case cases[] = {{"reply3", "4711", ASF_REFUSED, 4711}, {"reply13", "", ASF_REDIRECTED, 0}};
  for (const Case& c : cases) {
    SlPeer peer(c.mode, c.arg);
    Client client(peer.port());
    AsfControlBlock cb{};
    NewAssoc(&cb, ASF_INITIATOR, client.area);
    EXPECT_EQ(client.Start(&cb), -1) << c.mode;
    EXPECT_EQ(cb.error, c.error) << c.mode;
    EXPECT_EQ(cb.os_error, c.os_error) << c.mode;
    EXPECT_EQ(cb.assoc->session->state, SESS_FAILED);
    client.FreeOutputs();
    Drop(&cb);
  }
}

TEST_F(SessionTest, UnansweredBinaryRequestIsSentOnceMoreAsText) {
  SlPeer peer("drop-binary");
  Client client(peer.port());
  client.user = "jo e";
  AsfControlBlock cb{};
  NewAssoc(&cb, ASF_INITIATOR, client.area);
  cb.timeout_ms = 1000;
  ASSERT_EQ(client.Start(&cb), 0) << cb.error;
  EXPECT_EQ(peer.Request()[0].rfind("request form=binary", 0), 0u);
  EXPECT_EQ(peer.Request()[0].rfind("request form=sq ", 0), 0u);
  EXPECT_EQ(cb.assoc->session->state, SESS_ESTABLISHED);
  client.FreeOutputs();
  Drop(&cb);
}

TEST_F(SessionTest, BelowLevel60NoHeaderAndTheOlderReplies) {
  {
    SlPeer peer("older6");
    Client client(peer.port(), 6, 50);
    AsfControlBlock cb{};
    NewAssoc(&cb, ASF_INITIATOR, client.area);
    ASSERT_EQ(client.Start(&cb), 0) << cb.error;
    EXPECT_EQ(cb.assoc->session->state, 11);  // connected by an older reply
    EXPECT_EQ(sl_level(cb.assoc), 0);
    std::vector<std::string> req = peer.Request();
    EXPECT_EQ(req[0].rfind("request form=sqle", 0), 0u) << req[0];  // no header
    EXPECT_TRUE(Has(req, "h.kind=6"));
    client.FreeOutputs();
    Drop(&cb);
  }
  {
    SlPeer peer("older7");
    Client client(peer.port(), 7, 50);
    AsfControlBlock cb{};
    NewAssoc(&cb, ASF_INITIATOR, client.area);
    EXPECT_EQ(client.Start(&cb), -1);
    EXPECT_EQ(cb.error, ASF_REFUSED);
    auto* answer = static_cast<SqliConnCred*>(client.body.cred_answer);
    ASSERT_NE(answer, nullptr);
    auto* d = static_cast<AsfCredentialData*>(answer->data);
    ASSERT_EQ(d->subkind, 1);
    ASSERT_EQ(d->u.list->count, 3u);
    EXPECT_STREQ(d->u.list->texts[0], "alpha");
    EXPECT_STREQ(d->u.list->texts[1], "");
    EXPECT_STREQ(d->u.list->texts[2], "gamma!");
    client.FreeOutputs();
    Drop(&cb);
  }
}

TEST_F(SessionTest, DirectServerTypeIsEstablishedAtOnce) {
  connect_test::Peer peer("127.0.0.1", "silent");
  Client client(peer.port(), 2, 61, "dw");
  AsfControlBlock cb{};
  NewAssoc(&cb, ASF_INITIATOR, client.area);
  ASSERT_EQ(client.Start(&cb), 0) << cb.error;
  EXPECT_EQ(cb.assoc->session->state, SESS_ESTABLISHED);
  EXPECT_EQ(cb.assoc->session->selector, -1);
  EXPECT_EQ(client.body.server_record, nullptr);
  Drop(&cb);
  EXPECT_EQ(peer.ReadLine(), "end");
}

TEST_F(SessionTest, InterruptOfTheFirstSessionIsUrgentB) {
  SlPeer peer("urgent");
  Client client(peer.port());
  AsfControlBlock cb{};
  NewAssoc(&cb, ASF_INITIATOR, client.area);
  ASSERT_EQ(client.Start(&cb), 0) << cb.error;
  AsfFlagsBody flags{};
  ASSERT_EQ(sess_interrupt(&cb, &flags), 0) << cb.error;
  EXPECT_EQ(peer.Next("urgent"), "urgent 42");
  client.FreeOutputs();
  Drop(&cb);
}

// The project's listener against the python3 client.
std::string RunClient(int port, const std::string& form) {
  tevtest::RunResult r = tevtest::RunProgram(
      tevtest::Python(),
      {tevtest::SourceDir() + "/tests/connect/peer.py", "sl-client", "127.0.0.1",
       std::to_string(port), form},
      {{{"PATH", "/usr/bin:/bin"}}, "", "", 60});
  return r.out;
}

class ServerTest : public SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    port_ = Listen(&lcb_);
    ASSERT_GT(port_, 0) << lcb_.error;
  }
  void TearDown() override { Drop(&lcb_); }
  AsfControlBlock lcb_{};
  int port_ = 0;
};

TEST_F(ServerTest, RequestFormsAreReadAndAnswered) {
  struct Case {
    std::string form, reply;
    size_t at;
  };
  // Header replies carry type 2, the level (61 = 0x3d) and the buffer size;
  // the unframed request has no level, so its reply is the older form with
  // the class-1 prefix.
  const Case cases[] = {{"binary", "023d1000", 10},
                        {"sq", "023d1000", 10},
                        {"sqle", "000f000f000f", 6}};
  for (const Case& c : cases) {
    std::string out;
    std::thread client([&] { out = RunClient(port_, c.form); });
    {
      Accepted acc(&lcb_);
      ASSERT_EQ(acc.rc, 0) << c.form << " " << acc.error << " " << lcb_.file << ":" << lcb_.line;
      auto* rec = static_cast<AsfConnRecord*>(acc.body.conn_record);
      EXPECT_STREQ(rec->user, "joe") << c.form;
      EXPECT_STREQ(rec->password, "secret") << c.form;
      EXPECT_STREQ(rec->name1, "9.240") << c.form;
      auto* cred = static_cast<SqliConnCred*>(acc.body.credential);
      ASSERT_NE(cred, nullptr);
      EXPECT_EQ(static_cast<AsfStartRequest*>(cred->data)->kind, 2);
      auto* opts = static_cast<AsfOptionList*>(acc.body.option_list);
      ASSERT_NE(opts, nullptr);
      EXPECT_STREQ(opts->names[0], "LANG");
      ASSERT_NE(acc.id.host, nullptr);
      EXPECT_TRUE(std::strcmp(acc.id.host, "localhost") == 0 || std::strcmp(acc.id.host, "127.0.0.1") == 0)
          << acc.id.host;
      // The trailer offers level 61.
      EXPECT_EQ(acc.cb.assoc->session->state, 13) << c.form;
      ASSERT_EQ(acc.Respond(0), 0) << acc.cb.error;
      EXPECT_EQ(acc.cb.assoc->session->state, SESS_ESTABLISHED);
    }
    client.join();
    ASSERT_EQ(out.rfind("reply ", 0), 0u) << c.form << ": " << out;
    EXPECT_EQ(out.substr(c.at, c.reply.size()), c.reply) << c.form << ": " << out;
  }
}

TEST_F(ServerTest, MalformedOrSilentRequests) {
  struct Case {
    std::string form;
    int32_t error;
  };
  const Case cases[] = {{"type3", -408}, {"empty", -408}, {"silent", -27001}};
  for (const Case& c : cases) {
    std::thread client([&] { RunClient(port_, c.form); });
    {
      Accepted acc(&lcb_);
      EXPECT_EQ(acc.rc, -1) << c.form;
      EXPECT_EQ(acc.error, c.error) << c.form;
      EXPECT_EQ(acc.cb.assoc->session->state, SESS_FAILED) << c.form;
    }
    client.join();
    lcb_.error = 0;
  }
}

TEST_F(ServerTest, RefusalEndsInState100WithResult0) {
  std::string out;
  std::thread client([&] { out = RunClient(port_, "binary"); });
  {
    Accepted acc(&lcb_);
    ASSERT_EQ(acc.rc, 0) << acc.error;
    EXPECT_EQ(acc.Respond(ASF_REFUSED), 0);
    EXPECT_EQ(acc.cb.error, 0);
    EXPECT_EQ(acc.cb.assoc->session->state, SESS_FAILED);
  }
  client.join();
  EXPECT_EQ(out.substr(10, 2), "03") << out;  // type 3
}

TEST_F(ServerTest, Kind7RefusalTextsTravelAsAnAcceptingOlderReply) {
  std::string out;
  std::thread client([&] { out = RunClient(port_, "sqle7"); });
  {
    Accepted acc(&lcb_);
    ASSERT_EQ(acc.rc, 0) << acc.error;
    EXPECT_EQ(acc.cb.assoc->session->connect_kind, 7);
    char alpha[] = "alpha", empty[] = "", gamma[] = "gamma!";
    char* texts[] = {alpha, empty, gamma};
    AsfTextList list{3, texts};
    AsfCredentialData data{};
    data.subkind = 1;
    data.u.list = &list;
    SqliConnCred answer{2, &data};
    AsfRespondBody r{};
    r.code = ASF_REFUSED;
    r.info.level = -1;
    r.credential = &answer;
    EXPECT_EQ(sess_respond(&acc.cb, &r, nullptr), 0) << acc.cb.error;
    EXPECT_EQ(acc.cb.assoc->session->state, SESS_FAILED);
  }
  client.join();
  // Class 2 acceptance prefix 15, then "alpha" and its pad, 0xFFFF, "gamma!".
  EXPECT_EQ(out, "reply 000f0005616c70686100ffff000667616d6d6121\n");
}

}  // namespace
