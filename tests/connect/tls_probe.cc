// TLS steps in a process of their own: the toolkit is found on the library
// search path that the test gives this process (LD_LIBRARY_PATH; this
// program has no run path to it), and is loaded once per process.
//
//   tls_probe load                 loads the toolkit twice, one line each
//   tls_probe config               the key-store settings of conssl.cfg
//   tls_probe send <port> <text>   socssl to 127.0.0.1:port, sends the
//                                  text, prints "reply ..." of the answer
//   tls_probe serve                listens on socssl at 127.0.0.1, prints
//                                  the port, echoes one message with "R"
//   tls_probe session <target> [ms] connects to a server name through the
//                                  service call, one exchange, release
#include <arpa/inet.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "connect/asf_assoc.h"
#include "connect/asfapi_internal.h"
#include "connect/asfutil.h"
#include "connect/conssl.h"
#include "connect/session.h"
#include "connect/transport.h"
#include "tests/connect/al_fixture.h"

namespace {

AsfAssociation* Direct(AsfControlBlock* cb, int kind) {
  AsfAssociation* a = asf_assoc_new(cb, kind, nullptr);
  a->state->kind = kind;
  cb->assoc = a;
  cb->mode = 1;
  cb->timeout_ms = -1;
  asf_session_attach(cb, 0, "raw", "soctcp");
  a->session->state = SESS_ESTABLISHED;
  a->session->selector = -1;
  return a;
}

void Report(const char* what, int rc, const AsfControlBlock& cb) {
  std::printf("%s rc=%d error=%d text=%s\n", what, rc, cb.error, cb.text);
  std::fflush(stdout);
}

int SendText(AsfControlBlock* cb, const std::string& text) {
  AsfPacketBuffer* send = cb->assoc->buffers[ASF_BUF_SEND];
  std::memcpy(send->position, text.data(), text.size());
  send->left = static_cast<uint32_t>(text.size());
  return tl_send(cb, send);
}

int Receive(AsfControlBlock* cb, std::string* out) {
  AsfPacketBuffer* buf = nullptr;
  int rc = tl_recv(cb, &buf);
  if (rc == 0) {
    out->assign(buf->position, buf->left);
    asf_buffer_put(cb->assoc, ASF_BF_RECV, buf);
  }
  return rc;
}

int Send(const char* port, const char* text) {
  AsfControlBlock cb{};
  Direct(&cb, ASF_INITIATOR);
  std::string address = std::string("127.0.0.1|") + port + "|socssl";
  AsfTransportRequest tr{{1, address.data()}, nullptr};
  int rc = tl_connect(&cb, &tr);
  Report("connect", rc, cb);
  if (rc != 0) return 1;
  rc = SendText(&cb, text);
  Report("send", rc, cb);
  cb.timeout_ms = 5000;
  std::string reply;
  rc = Receive(&cb, &reply);
  if (rc == 0) std::printf("reply %s\n", reply.c_str());
  else Report("receive", rc, cb);
  tl_close(&cb, 0);
  return 0;
}

int Serve() {
  AsfControlBlock lcb{};
  AsfAssociation* l = Direct(&lcb, ASF_LISTENER);
  std::string address = "127.0.0.1|0|socssl";
  AsfTransportRequest tr{{1, address.data()}, nullptr};
  int rc = tl_listen(&lcb, &tr, 0);
  if (rc != 0) {
    Report("listen", rc, lcb);
    return 1;
  }
  std::printf("%d\n", ntohs(l->driver->second.sock.port));
  std::fflush(stdout);
  AsfControlBlock cb{};
  AsfAssociation* a = Direct(&cb, ASF_RESPONDER);
  cb.assoc = l;
  AsfAddressBlock* peer = nullptr;
  rc = tl_accept(&cb, a, &peer);
  asf_free_address_block(peer);
  cb.assoc = a;
  Report("accept", rc, cb);
  if (rc != 0) return 1;
  std::string got;
  rc = Receive(&cb, &got);
  if (rc != 0) {
    Report("receive", rc, cb);
    return 1;
  }
  while (!got.empty() && (got.back() == '\n' || got.back() == '\r')) got.pop_back();
  std::printf("got %s\n", got.c_str());
  std::fflush(stdout);
  rc = SendText(&cb, "R" + got + "\n");
  Report("send", rc, cb);
  tl_close(&cb, 0);
  return 0;
}

int Session(const char* target, int32_t timeout) {
  static al_test::ClientRecords c("joe", "pw1");
  AsfControlBlock cb{};
  cb.timeout_ms = timeout;
  int rc = c.Connect(&cb, target);
  Report("connect", rc, cb);
  if (rc != 0) return 1;
  if (al_test::Send(&cb, "one") != 0) Report("send", -1, cb);
  std::printf("reply %s\n", al_test::Recv(&cb).c_str());
  rc = al_test::Release(&cb);
  Report("release", rc, cb);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  if (argc < 2) return 2;
  std::string mode = argv[1];
  AsfControlBlock icb{};
  if (al_test::Init(&icb) != 0) {
    Report("init", -1, icb);
    return 1;
  }
  if (mode == "config") {
    ConsslConfig c;
    int rc = conssl_read_config(&c);
    std::printf("rc=%d\nkey_store=%s\nstash=%s\n", rc, c.key_store, c.stash);
    return 0;
  }
  if (mode == "load") {
    for (int k = 0; k < 2; ++k) {
      AsfControlBlock cb{};
      int rc = conssl_load_toolkit(&cb);
      Report("load", rc, cb);
    }
    return 0;
  }
  if (mode == "send" && argc >= 4) return Send(argv[2], argv[3]);
  if (mode == "serve") return Serve();
  if (mode == "session" && argc >= 3) return Session(argv[2], argc >= 4 ? std::atoi(argv[3]) : 10000);
  return 2;
}
