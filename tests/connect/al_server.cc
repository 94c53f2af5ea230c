// A small server for the association tests, driven through
// asf_service_request alone: init, listen on a configured server name,
// accept, respond with a kind-2 credential answer, an echo loop of receive
// and send (each answer "R" and the data), and the end of the association.
// It logs every step on standard output.
//
//   al_server serve <server name> <auth mode> <accepts> [hosts.equiv path]
//   al_server client <target>
//
// A received "handover" makes the server hand the accepted association to
// a fresh copy of itself (al_server take), which finishes the exchange.
// The client connects, exchanges one message, hands its association to a
// fresh copy of itself (al_server take-client), which exchanges another
// and releases.
#include <arpa/inet.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "connect/asfapi_internal.h"
#include "connect/asfns.h"
#include "connect/session.h"
#include "tests/connect/al_fixture.h"

namespace {

// Where the steps are logged: standard output, or for a server started
// by a pipe connect (whose standard output is the pipe) the file named by
// AL_SERVER_LOG, else standard error.
FILE* g_log = stdout;

void Log(const std::string& line) {
  std::fprintf(g_log, "%s\n", line.c_str());
  std::fflush(g_log);
}

std::string Codes(const AsfControlBlock& cb) {
  return "error=" + std::to_string(cb.error) + " os=" + std::to_string(cb.os_error) + " text=" + cb.text;
}

// Echoes until the peer goes; 0 when it released, 1 for a hand-over.
// AL_SERVER_QUIET set: the echoed messages are not logged (a benchmark's
// echo then costs no write of its own).
int Echo(AsfControlBlock* cb, const char* self) {
  const bool quiet = std::getenv("AL_SERVER_QUIET") != nullptr;
  for (;;) {
    std::string got = al_test::Recv(cb);
    if (got.rfind("error ", 0) == 0) {
      Log("end " + got);
      return 0;
    }
    if (!quiet) Log("got " + got);
    if (got == "handover" && self != nullptr) {
      AsfRequest h;
      asf_request_init(ASF_HANDOVER, &h);
      h.body.flags.flags = 1;
      AsfControlBlock hcb{};
      hcb.mode = 1;
      int rc = asf_service_request(&hcb, &h);
      Log("handover rc=" + std::to_string(rc) + " " + Codes(hcb));
      if (rc != 0) return 0;
      execl(self, self, "take", static_cast<char*>(nullptr));
      Log("exec failed");
      return 1;
    }
    // "irq?" asks for the association's interrupt byte: 66 once a wake-up
    // reached the handler.
    if (got == "irq?") got += std::to_string(cb->assoc->own_irq[1]);
    if (al_test::Send(cb, "R" + got) != 0) {
      Log("send failed " + Codes(*cb));
      return 0;
    }
  }
}

int TakeOver() {
  static unsigned char server_area[2];
  AsfInitBody body{};
  body.server_user = server_area;
  AsfControlBlock cb{};
  int rc = al_test::Init(&cb, 0x10015, &body);
  Log("take rc=" + std::to_string(rc) + " " + Codes(cb) + " assoc=" +
      (body.server_out != nullptr ? "yes" : "no") +
      " state=" + std::to_string(body.server_out != nullptr ? body.server_out->state->state : -1));
  if (rc != 0 || body.server_out == nullptr) return 1;
  AsfControlBlock a{};
  a.assoc = body.server_out;
  a.mode = 1;
  a.timeout_ms = -1;
  al_test::Send(&a, "Rtaken");
  Echo(&a, nullptr);
  al_test::Abort(&a);
  Log("done");
  return 0;
}

int Client(const char* self, const char* target) {
  AsfControlBlock cb{};
  if (al_test::Init(&cb) != 0) return 1;
  static al_test::ClientRecords c("joe", "pw");
  AsfControlBlock ccb{};
  ccb.timeout_ms = 10000;
  int rc = c.Connect(&ccb, target);
  Log("connect rc=" + std::to_string(rc) + " " + Codes(ccb));
  if (rc != 0) return 1;
  al_test::Send(&ccb, "one");
  Log("reply " + al_test::Recv(&ccb));
  AsfRequest h;
  asf_request_init(ASF_HANDOVER, &h);
  h.body.flags.flags = 1;
  AsfControlBlock hcb{};
  hcb.mode = 1;
  rc = asf_service_request(&hcb, &h);
  Log("handover rc=" + std::to_string(rc) + " " + Codes(hcb));
  if (rc != 0) return 1;
  execl(self, self, "take-client", static_cast<char*>(nullptr));
  Log("exec failed");
  return 1;
}

int TakeClient() {
  static unsigned char area[2] = {9, 9};
  AsfInitBody body{};
  body.client_user = area;
  AsfControlBlock cb{};
  int rc = al_test::Init(&cb, 0x10015, &body);
  AsfAssociation* a = body.client_out;
  Log("take-client rc=" + std::to_string(rc) + " " + Codes(cb) +
      " state=" + std::to_string(a != nullptr ? a->state->state : -1) +
      " closed=" + std::to_string(area[0]));
  if (rc != 0 || a == nullptr) return 1;
  AsfControlBlock ccb{};
  ccb.assoc = a;
  ccb.mode = 1;
  ccb.timeout_ms = 10000;
  al_test::Send(&ccb, "two");
  Log("reply " + al_test::Recv(&ccb));
  rc = al_test::Release(&ccb);
  Log("release rc=" + std::to_string(rc) + " closed=" + std::to_string(area[0]));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  self[n > 0 ? n : 0] = '\0';
  if (argc >= 2 && std::strcmp(argv[1], "take") == 0) return TakeOver();
  if (argc >= 2 && std::strcmp(argv[1], "take-client") == 0) return TakeClient();
  if (argc >= 3 && std::strcmp(argv[1], "client") == 0) return Client(self, argv[2]);
  bool started = false;
  // "pipe <server> <host> <word>...": as if started by a pipe connect, with
  // more command-line words (a started server's first receive takes them
  // as the connection request when there are four or more).
  if (argc >= 5 && std::strcmp(argv[1], "pipe") == 0) {
    ++argv;
    argc = 3;
  }
  if (argc == 3) {
    // Started by a pipe connect: file name, server name, host. One accept
    // on standard input and output.
    const char* log = std::getenv("AL_SERVER_LOG");
    g_log = log != nullptr ? std::fopen(log, "a") : stderr;
    if (g_log == nullptr) g_log = stderr;
    Log(std::string("started ") + argv[0] + " " + argv[1] + " " + argv[2] + " pid=" +
        std::to_string(getpid()));
    static char serve[] = "serve", one[] = "1", zero[] = "0";
    static char* words[6] = {argv[0], serve, argv[1], zero, one, nullptr};
    argv = words;
    argc = 5;
    started = true;
  }
  if (argc < 5) return 2;
  ++argv;
  --argc;
  if (argc >= 5) asf_set_hostsequiv_path(argv[4]);
  AsfControlBlock cb{};
  if (al_test::Init(&cb) != 0) {
    Log("init " + Codes(cb));
    return 1;
  }
  static unsigned char larea[2];
  AsfControlBlock lcb{};
  lcb.timeout_ms = -1;
  AsfAssociation* l = al_test::Listen(&lcb, std::string("@") + argv[1], std::atoi(argv[2]), larea);
  if (l == nullptr) {
    Log("listen " + Codes(lcb));
    return 1;
  }
  if (!started) Log("port " + std::to_string(ntohs(l->driver->second.sock.port)));
  int accepts = std::atoi(argv[3]);
  for (int k = 0; k < accepts; ++k) {
    static unsigned char area[2];
    AsfAcceptBody body{};
    AsfControlBlock acb{};
    acb.timeout_ms = -1;
    AsfAssociation* a = al_test::Accept(&acb, l, area, &body);
    if (a == nullptr) {
      Log("accept failed " + Codes(acb));
      // A peer refused by the authentication gets a refusal.
      if (body.assoc != nullptr && acb.error > 0) {
        AsfControlBlock rcb{};
        rcb.assoc = body.assoc;
        rcb.mode = 1;
        rcb.timeout_ms = -1;
        Log("refuse rc=" + std::to_string(al_test::Respond(&rcb, 7)));
      }
      continue;
    }
    auto* rec = static_cast<AsfConnRecord*>(body.conn_record);
    if (std::strcmp(argv[2], "16777216") == 0) {
      // Authentication decided by the server entry: the special accept
      // runs the module's accept when the entry names one.
      AsfRequest sr;
      asf_request_init(ASF_SPECIAL_ACCEPT, &sr);
      sr.body.accept.conn_record = body.conn_record;
      AsfControlBlock xcb{};
      xcb.assoc = a;
      xcb.mode = 1;
      xcb.timeout_ms = -1;
      int src = asf_service_request(&xcb, &sr);
      Log("special rc=" + std::to_string(src) + " " + Codes(xcb));
      if (src != 0) {
        AsfControlBlock bcb{};
        bcb.assoc = a;
        bcb.mode = 1;
        al_test::Abort(&bcb);
        continue;
      }
    }
    Log("accept user=" + std::string(rec != nullptr && rec->user ? rec->user : "-") +
        " program=" + std::string(rec != nullptr ? rec->program : "-") +
        " uid=" + std::to_string(a->state->peer_uid) + " state=" + std::to_string(a->state->state));
    AsfControlBlock scb{};
    scb.assoc = a;
    scb.mode = 1;
    scb.timeout_ms = -1;
    // A client whose program is "refused" is refused with error -951.
    bool refuse = rec != nullptr && std::strcmp(rec->program, "refused") == 0;
    int rc = al_test::Respond(&scb, refuse ? 7 : 0, refuse ? -951 : 0);
    // A refusal or a failed respond ends the association with the request.
    Log("respond rc=" + std::to_string(rc) + " " +
        (rc == 0 && !refuse ? "state=" + std::to_string(a->state->state) : Codes(scb)));
    if (rc != 0 || refuse) continue;
    if (Echo(&scb, self) == 1) return 1;
    if (scb.error == -14507) {
      // The peer's module ended the exchange: close this side in order.
      int rrc = al_test::Release(&scb);
      Log("release rc=" + std::to_string(rrc) + " " + Codes(scb));
      continue;
    }
    al_test::Abort(&scb);
  }
  asf_assoc_destroy(l);
  Log("done");
  return 0;
}
