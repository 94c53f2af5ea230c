// Multiplexed sessions: several sessions of a client share one transport
// connection, against the project's own server with a "sqlmux" listener
// and against the python3 peer.
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "tests/connect/session_fixture.h"

namespace {

using session_test::Accepted;
using session_test::Client;
using session_test::Drop;
using session_test::Exchange;
using session_test::Listen;
using session_test::NewAssoc;
using session_test::Receive;
using session_test::SlPeer;

class MuxTest : public ::testing::Test {
 protected:
  void SetUp() override { connect_test::EnsureLayer(); }
};

// A client session of its own: control block, association and request.
struct Session {
  std::unique_ptr<Client> client;
  AsfControlBlock cb{};
  Session(int port, AsfAssociation* shared = nullptr) : client(new Client(port)) {
    client->entry.options.m = 1;
    NewAssoc(&cb, ASF_INITIATOR, client->area);
    // A reply that never comes ends the start instead of hanging the test.
    cb.timeout_ms = 30000;
    rc = client->Start(&cb, shared);
    error = cb.error;
    cb.timeout_ms = -1;
  }
  ~Session() {
    client->FreeOutputs();
    Drop(&cb);
  }
  int rc = -1;
  int32_t error = 0;
};

// Echoes every receive with "R" in front until the session ends.
void Echo(AsfControlBlock* cb) {
  for (;;) {
    std::string got = Receive(cb);
    if (got.rfind("recv ", 0) == 0) return;
    if (Exchange(cb, "R" + got, false) != "") return;
  }
}

TEST_F(MuxTest, ThreeSessionsOnThreeThreadsShareOneConnection) {
  AsfControlBlock tcp{}, mux{};
  int port = Listen(&tcp);
  ASSERT_GT(port, 0) << tcp.error;
  ASSERT_EQ(Listen(&mux, "sqlmux"), 0) << mux.error;
  std::atomic<int> tcp_accepts{0};
  std::thread first([&] {
    Accepted acc(&tcp);
    ++tcp_accepts;
    if (acc.rc == 0 && acc.Respond(0) == 0) Echo(&acc.cb);
  });
  std::thread further([&] {
    std::thread echo[2];
    std::unique_ptr<Accepted> acc[2];
    for (int i = 0; i < 2; ++i) {
      acc[i].reset(new Accepted(&mux));
      if (acc[i]->rc != 0 || acc[i]->Respond(0) != 0) break;
      echo[i] = std::thread(Echo, &acc[i]->cb);
    }
    for (std::thread& t : echo) {
      if (t.joinable()) t.join();
    }
  });

  Session a(port);
  ASSERT_EQ(a.rc, 0) << a.error;
  std::string replies[3];
  auto talk = [&](int i, AsfControlBlock* cb) {
    std::string text = "s" + std::to_string(i);
    replies[i] = Exchange(cb, text) == "R" + text ? "ok" : "bad";
  };
  std::unique_ptr<Session> b, c;
  std::thread tb([&] {
    b.reset(new Session(port, a.cb.assoc));
    if (b->rc == 0) talk(1, &b->cb);
  });
  std::thread tc([&] {
    c.reset(new Session(port, a.cb.assoc));
    if (c->rc == 0) talk(2, &c->cb);
  });
  talk(0, &a.cb);
  tb.join();
  tc.join();
  ASSERT_EQ(b->rc, 0) << b->error;
  ASSERT_EQ(c->rc, 0) << c->error;
  EXPECT_EQ(replies[0], "ok");
  EXPECT_EQ(replies[1], "ok");
  EXPECT_EQ(replies[2], "ok");
  EXPECT_EQ(sl_session_count(a.cb.assoc), 3);
  EXPECT_EQ(tcp_accepts.load(), 1);
  // The same through the session attribute 9.
  SlMuxAttribute mux_attr{};
  AsfSessionAttr attr{9, &mux_attr};
  ASSERT_EQ(sess_attributes(&c->cb, &attr), 0);
  EXPECT_EQ(*mux_attr.session_count, 3);
  EXPECT_EQ(*mux_attr.flags & (SL_HEADERS | SL_MULTIPLEXED), 3u);
  // The sessions leave; the last closes the connection and the server's
  // sessions end.
  b.reset();
  a.client->FreeOutputs();
  Drop(&a.cb);
  c.reset();
  first.join();
  further.join();
  Drop(&mux);
  Drop(&tcp);
}

TEST_F(MuxTest, DataForSlot3WhileSlot1WaitsAndTheLastSessionCloses) {
  SlPeer peer("mux");
  std::vector<std::unique_ptr<Session>> s;
  s.emplace_back(new Session(peer.port()));
  ASSERT_EQ(s[0]->rc, 0) << s[0]->error;
  for (int i = 1; i <= 3; ++i) {
    s.emplace_back(new Session(peer.port(), s[0]->cb.assoc));
    ASSERT_EQ(s[i]->rc, 0) << s[i]->error;
    EXPECT_EQ(peer.Next("open slot"), "open slot " + std::to_string(i));
  }
  std::string slot1;
  std::thread waiter([&] { slot1 = Receive(&s[1]->cb); });
  // Slot 1 holds the receive role and reads the connection.
  while (sl_receiver_slot(s[0]->cb.assoc) != 1) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_EQ(Exchange(&s[3]->cb, "to:3:hello"), "hello");
  EXPECT_EQ(Exchange(&s[2]->cb, "to:1:bye", false), "");
  waiter.join();
  EXPECT_EQ(slot1, "bye");
  // The first session leaves; the connection stays for the others.
  s[0].reset();
  EXPECT_EQ(Exchange(&s[2]->cb, "x"), "Rx");
  s[1].reset();
  s[3].reset();
  EXPECT_EQ(sl_session_count(s[2]->cb.assoc), 1);
  s[2].reset();
  EXPECT_EQ(peer.Next("end"), "end");
}

TEST_F(MuxTest, The65thSessionOpensASecondConnection) {
  SlPeer peer("mux");
  std::vector<std::unique_ptr<Session>> s;
  s.emplace_back(new Session(peer.port()));
  ASSERT_EQ(s[0]->rc, 0);
  for (int i = 1; i < 65; ++i) {
    s.emplace_back(new Session(peer.port(), s[0]->cb.assoc));
    ASSERT_EQ(s[i]->rc, 0) << i << " " << s[i]->error;
  }
  EXPECT_EQ(sl_session_count(s[0]->cb.assoc), 64);
  EXPECT_EQ(sl_session_count(s[64]->cb.assoc), 1);
  EXPECT_EQ(peer.Next("accept"), "accept 1");
  EXPECT_EQ(peer.Next("accept"), "accept 2");
  EXPECT_EQ(Exchange(&s[64]->cb, "last"), "Rlast");
  EXPECT_EQ(Exchange(&s[63]->cb, "slot63"), "Rslot63");
}

TEST_F(MuxTest, RefusedFurtherSessionConnectsAnewUnshared) {
  SlPeer peer("mux-refuse");
  Session a(peer.port());
  ASSERT_EQ(a.rc, 0) << a.error;
  Session b(peer.port(), a.cb.assoc);
  ASSERT_EQ(b.rc, 0) << b.error;
  EXPECT_EQ(peer.Next("open slot"), "open slot 1");
  EXPECT_EQ(peer.Next("accept"), "accept 2");
  EXPECT_EQ(sl_session_count(a.cb.assoc), 1);
  EXPECT_EQ(sl_session_count(b.cb.assoc), 1);
  EXPECT_EQ(Exchange(&b.cb, "own"), "Rown");
  EXPECT_EQ(Exchange(&a.cb, "first"), "Rfirst");
}

}  // namespace
