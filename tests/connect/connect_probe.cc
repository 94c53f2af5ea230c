// Runs connectivity steps in a process of its own and prints what they
// gave, one fact a line.
//   connect_probe family            the address family and native size
//   connect_probe serve             listens on 127.0.0.1, prints the
//                                   port, answers one message with "P"+it
//   connect_probe import <hex>      takes over a transport from the
//                                   hand-over block, talks on it
#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "connect/asf_assoc.h"
#include "connect/asfapi_internal.h"
#include "connect/asfutil.h"
#include "connect/session.h"
#include "connect/tcp.h"
#include "connect/transport.h"

namespace {

int Init() {
  static AsfDriverConfig entry{};
  entry.value1 = -1;
  AsfRequest r;
  asf_request_init(ASF_INIT, &r);
  r.body.init.flags = 0x15;
  r.body.init.setting1 = 10;
  r.body.init.entry_count = 1;
  r.body.init.entries = &entry;
  AsfControlBlock cb{};
  cb.mode = 1;
  return asf_service_request(&cb, &r);
}

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

std::string HexOf(const char* p, size_t n) {
  std::string out;
  char b[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, "%02x", static_cast<unsigned char>(p[i]));
    out += b;
  }
  return out;
}

// Sends text on the association and returns the first answer.
std::string Exchange(AsfControlBlock* cb, const std::string& text) {
  AsfPacketBuffer* send = cb->assoc->buffers[ASF_BUF_SEND];
  std::memcpy(send->position, text.data(), text.size());
  send->left = static_cast<uint32_t>(text.size());
  if (tl_send(cb, send) != 0) return "send failed " + std::to_string(cb->error);
  AsfPacketBuffer* recv = nullptr;
  if (tl_recv(cb, &recv) != 0) return "recv failed " + std::to_string(cb->error);
  std::string reply(recv->position, recv->left);
  asf_buffer_put(cb->assoc, ASF_BF_RECV, recv);
  return reply;
}

int Serve() {
  if (Init() != 0) return 2;
  AsfControlBlock lcb{};
  AsfAssociation* listener = Direct(&lcb, ASF_LISTENER);
  char text[] = "127.0.0.1|0|soctcp";
  AsfTransportRequest tr{{1, text}, nullptr};
  if (tl_listen(&lcb, &tr, 0) != 0) {
    std::printf("listen failed %d\n", lcb.error);
    return 3;
  }
  std::printf("%d\n", ntohs(listener->driver->second.sock.port));
  std::fflush(stdout);
  AsfControlBlock acb{};
  AsfAssociation* conn = Direct(&acb, ASF_RESPONDER);
  AsfAddressBlock* peer = nullptr;
  lcb.assoc = listener;
  if (tl_accept(&lcb, conn, &peer) != 0) {
    std::printf("accept failed %d\n", lcb.error);
    return 4;
  }
  std::printf("peer %s\n", peer->text);
  asf_free_address_block(peer);
  AsfPacketBuffer* recv = nullptr;
  if (tl_recv(&acb, &recv) != 0) return 5;
  std::string got(recv->position, recv->left);
  asf_buffer_put(conn, ASF_BF_RECV, recv);
  AsfPacketBuffer* send = conn->buffers[ASF_BUF_SEND];
  std::string answer = "P" + got;
  std::memcpy(send->position, answer.data(), answer.size());
  send->left = static_cast<uint32_t>(answer.size());
  if (tl_send(&acb, send) != 0) return 6;
  std::printf("served %s\n", got.c_str());
  std::fflush(stdout);
  tl_close(&acb, 0);
  asf_assoc_destroy(conn);
  tl_close(&lcb, 512);
  asf_assoc_destroy(listener);
  return 0;
}

int Import(const char* hex) {
  if (Init() != 0) return 2;
  std::vector<unsigned char> bytes;
  for (const char* p = hex; p[0] != '\0' && p[1] != '\0'; p += 2) {
    char b[3] = {p[0], p[1], 0};
    bytes.push_back(static_cast<unsigned char>(std::strtol(b, nullptr, 16)));
  }
  // A 4-aligned copy, as the arena wants.
  std::vector<uint32_t> aligned((bytes.size() + 3) / 4 + 1);
  std::memcpy(aligned.data(), bytes.data(), bytes.size());
  AsfArena* arena = asf_arena_new(0, 1, aligned.data(), static_cast<int32_t>(bytes.size()));
  AsfControlBlock cb{};
  AsfAssociation* a = Direct(&cb, ASF_INITIATOR);
  if (tl_import(&cb, arena) != 0) {
    std::printf("import failed %d %d\n", cb.error, cb.os_error);
    return 3;
  }
  asf_arena_free(arena);
  std::string reply = Exchange(&cb, "child");
  std::printf("reply %s\n", HexOf(reply.data(), reply.size()).c_str());
  tl_close(&cb, 0);
  asf_assoc_destroy(a);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 1;
  std::string what = argv[1];
  if (what == "family") {
    std::printf("family %d size %d len23 %d\n", tcp_address_family(), tcp_sockaddr_size(),
                tcp_sockaddr_len(23));
    return 0;
  }
  if (what == "serve") return Serve();
  if (what == "import" && argc > 2) return Import(argv[2]);
  return 1;
}
