// An association whose direct session runs over soctcp to a python3 peer,
// driven through the service call: buffers, send, receive, abort and the
// pending-slot rules.
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/connect/connect_fixture.h"

namespace {

using connect_test::Address;
using connect_test::ConnectDirect;
using connect_test::EnsureLayer;
using connect_test::Hex;
using connect_test::Peer;

AsfPacketBuffer* GetBuffer(AsfControlBlock* cb) {
  AsfRequest r;
  asf_request_init(ASF_GETBUFFER, &r);
  if (asf_service_request(cb, &r) != 0) return nullptr;
  return r.body.get_buffer.buffer;
}

int Send(AsfControlBlock* cb, AsfPacketBuffer* buf, const std::string& text) {
  std::memcpy(buf->position, text.data(), text.size());
  buf->left = static_cast<uint32_t>(text.size());
  AsfRequest r;
  asf_request_init(ASF_SEND, &r);
  r.body.data.value = -1;
  r.body.data.buffer = buf;
  return asf_service_request(cb, &r);
}

int Receive(AsfControlBlock* cb, std::string* out) {
  AsfRequest r;
  asf_request_init(ASF_RECV, &r);
  r.body.data.value = -1;
  int rc = asf_service_request(cb, &r);
  if (rc == 0 && out != nullptr) {
    AsfPacketBuffer* b = r.body.data.buffer;
    EXPECT_EQ(b->marker, -1);
    out->assign(b->position, b->left);
  }
  return rc;
}

int Abort(AsfControlBlock* cb, uint32_t flags, AsfRequest* r) {
  asf_request_init(ASF_ASSOCABORT, r);
  r->body.flags.flags = flags;
  return asf_service_request(cb, r);
}

class AssociationTest : public ::testing::Test {
 protected:
  void SetUp() override { EnsureLayer(); }
};

TEST_F(AssociationTest, BufferSendReceiveRoundTrip) {
  Peer peer("127.0.0.1", "echo");
  AsfControlBlock cb{};
  cb.timeout_ms = -1;
  unsigned char area[2] = {1, 1};
  AsfAssociation* a = ConnectDirect(&cb, Address("127.0.0.1", peer.port()), area);
  ASSERT_NE(a, nullptr) << cb.error << " " << cb.file << ":" << cb.line;
  EXPECT_EQ(area[0], 0);

  AsfPacketBuffer* buf = GetBuffer(&cb);
  ASSERT_NE(buf, nullptr);
  EXPECT_EQ(buf->marker, -1);
  EXPECT_EQ(buf->start_offset, 6u);  // room for the session header
  EXPECT_EQ(buf->position, buf->data + 6);
  EXPECT_EQ(buf->left, 4096u - 6u);

  // An empty send succeeds and sends nothing: the peer's first chunk is
  // the next real message.
  buf->left = 0;
  AsfRequest r;
  asf_request_init(ASF_SEND, &r);
  r.body.data.value = -1;
  r.body.data.buffer = buf;
  ASSERT_EQ(asf_service_request(&cb, &r), 0);
  EXPECT_EQ(buf->left, 4096u - 6u);

  ASSERT_EQ(Send(&cb, buf, "hello"), 0) << cb.error;
  EXPECT_EQ(peer.ReadLine(), "got " + Hex("hello"));
  std::string reply;
  ASSERT_EQ(Receive(&cb, &reply), 0) << cb.error;
  EXPECT_EQ(reply, "Rhello");
  // After the send the buffer is empty again and still the send buffer.
  EXPECT_EQ(GetBuffer(&cb), buf);
  EXPECT_EQ(buf->left, 4096u - 6u);

  // A foreign buffer is refused.
  AsfPacketBuffer other = *buf;
  asf_request_init(ASF_SEND, &r);
  r.body.data.value = -1;
  r.body.data.buffer = &other;
  EXPECT_EQ(asf_service_request(&cb, &r), -1);
  EXPECT_EQ(cb.error, -25563);

  // An orderly release frees the association and closes the flag.
  asf_request_init(ASF_RELEASE, &r);
  ASSERT_EQ(asf_service_request(&cb, &r), 0) << cb.error;
  EXPECT_EQ(cb.assoc, nullptr);
  EXPECT_EQ(area[0], 1);
  EXPECT_EQ(peer.ReadLine(), "end");
}

TEST_F(AssociationTest, AbortWhileReceiveWaitsEndsTheReceiveWithCode2) {
  Peer peer("127.0.0.1", "silent");
  AsfControlBlock cb{};
  unsigned char area[2] = {};
  AsfAssociation* a = ConnectDirect(&cb, Address("127.0.0.1", peer.port()), area);
  ASSERT_NE(a, nullptr);
  AsfGlobal* g = asf_global_get();
  int32_t clients = g->client_count;

  AsfControlBlock rcb{};
  rcb.assoc = a;
  rcb.mode = 1;
  rcb.timeout_ms = 500;
  std::atomic<int> recv_rc{99};
  std::thread receiver([&] { recv_rc = Receive(&rcb, nullptr); });
  while (a->state->slots[ASF_SLOT_IN].busy == 0 && recv_rc == 99) std::this_thread::yield();

  AsfControlBlock acb{};
  acb.assoc = a;
  acb.mode = 1;
  AsfRequest ar;
  int abort_rc = Abort(&acb, 0, &ar);
  bool receive_pending = recv_rc == 99;
  receiver.join();
  EXPECT_EQ(abort_rc, 0);
  EXPECT_EQ(acb.error, 0);
  if (receive_pending) {
    EXPECT_EQ(recv_rc, -1);
    EXPECT_EQ(rcb.error, 2);
    EXPECT_EQ(rcb.os_error, 0);
    EXPECT_EQ(rcb.assoc, nullptr);  // aborted and freed when it ended
    EXPECT_EQ(g->client_count, clients - 1);
    EXPECT_EQ(peer.ReadLine(), "end");
  } else {
    ADD_FAILURE() << "the receive ended before the abort";
  }
}

TEST_F(AssociationTest, SecondSendWhileOnePendsIsRefused) {
  Peer peer("127.0.0.1", "hold");
  // Packet buffers larger than the connection can hold while the peer
  // reads nothing, so the first send waits.
  AsfServerEntry entry{};
  entry.options.buffer_size = 64 << 20;
  AsfControlBlock cb{};
  cb.timeout_ms = -1;
  unsigned char area[2] = {};
  AsfAssociation* a = ConnectDirect(&cb, Address("127.0.0.1", peer.port()), area, &entry);
  ASSERT_NE(a, nullptr);
  AsfPacketBuffer* buf = GetBuffer(&cb);
  ASSERT_NE(buf, nullptr);
  AsfControlBlock scb{};
  scb.assoc = a;
  scb.mode = 1;
  scb.timeout_ms = -1;
  std::atomic<int> send_rc{99};
  std::thread sender([&] { send_rc = Send(&scb, buf, std::string(buf->left, 's')); });
  while (a->state->slots[ASF_SLOT_OUT].busy == 0 && send_rc == 99) std::this_thread::yield();

  AsfControlBlock second{};
  second.assoc = a;
  second.mode = 1;
  second.timeout_ms = -1;
  AsfRequest r;
  asf_request_init(ASF_SEND, &r);
  r.body.data.value = -1;
  r.body.data.buffer = buf;
  EXPECT_EQ(asf_service_request(&second, &r), -1);
  EXPECT_EQ(second.error, -25552);

  // An abort that must act at once cuts the connection under the waiting
  // send, which then ends with code 2; the association is freed by it.
  AsfControlBlock acb{};
  acb.assoc = a;
  acb.mode = 1;
  AsfRequest ar;
  EXPECT_EQ(Abort(&acb, 0x18000, &ar), 0);
  EXPECT_EQ(ar.body.flags.flags, 0x8000u);
  sender.join();
  EXPECT_EQ(send_rc, -1);
  EXPECT_EQ(scb.error, 2);
  EXPECT_EQ(scb.assoc, nullptr);
}

TEST_F(AssociationTest, InterruptAndUrgentData) {
  Peer peer("127.0.0.1", "urgent");
  AsfControlBlock cb{};
  cb.timeout_ms = -1;
  unsigned char area[2] = {};
  AsfAssociation* a = ConnectDirect(&cb, Address("127.0.0.1", peer.port()), area);
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a->ops->arm_interrupt(a, a->driver), 0);
  EXPECT_NE(a->driver->flags & DRV_INTERRUPT_ARMED, 0u);

  AsfPacketBuffer* buf = GetBuffer(&cb);
  ASSERT_EQ(Send(&cb, buf, "g"), 0);
  ASSERT_EQ(peer.ReadLine(), "sent");
  // The urgent byte arrives by signal; give it time to come.
  for (int i = 0; i < 1000 && a->own_irq[1] != 'B'; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(a->own_irq[1], 'B');
  AsfPacketBuffer* x = a->buffers[ASF_BUF_XRECV];
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x->data, reinterpret_cast<char*>(a->own_irq + 1));
  EXPECT_EQ(x->left, 1u);

  // An interrupt from the connecting side sends one urgent byte.
  AsfRequest r;
  asf_request_init(ASF_INTERRUPT, &r);
  EXPECT_EQ(asf_service_request(&cb, &r), 0) << cb.error;

  asf_request_init(ASF_RELEASE, &r);
  ASSERT_EQ(asf_service_request(&cb, &r), 0);
  EXPECT_EQ(cb.assoc, nullptr);
}

}  // namespace
