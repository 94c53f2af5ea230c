// Drives the wire trace in a process of its own (the trace starts once per
// process, from SQLIDEBUG): wiretrace_probe <case> [argument].
//   existing        makes the trace file of this process before the trace
//                   starts, then traces a message
//   basic [server]  a sent and a received message, a connection start and
//                   the protocol message, with the server flag when asked
//   dump N          one sent message of N bytes 0, 1, 2, ...
//   mask            the masking statements
//   fork            a message, a fork, a message in the child and one more
//                   in the parent; prints "child <pid>"
//   chain           ten forks in a row, each process tracing a message; the
//                   last prints "capacity <n>"
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/osqlidbg.h"

namespace {

void Send(const std::string& m, void* conn = reinterpret_cast<void*>(0x1234)) {
  sqdbg_send(m.data(), static_cast<int32_t>(m.size()), rclientstate(), conn);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::string c = argv[1];
  if (c == "existing") {
    const char* v = std::getenv("SQLIDEBUG");
    std::string path = std::string(v != nullptr ? v + 2 : "") + "_" + std::to_string(getpid());
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) return 4;
    std::fclose(f);
  }
  rclientstate();  // starts the trace; the state stays published
  ClientState* cs = rclientstate();
  if (cs == nullptr) return 3;
  std::printf("pid %d level %d\n", static_cast<int>(getpid()), _sqdbg);
  std::fflush(stdout);
  if (c == "basic") {
    if (argc > 2 && std::strcmp(argv[2], "server") == 0) cs->server = 1;
    Send("ABCDEFGHIJ");
    sqdbg_recv(3, "xyz", cs, reinterpret_cast<void*>(0x1234));
    sqdbg_connect(112, "db", "abc", 7);
    Send(std::string("\0n\x01\x3c", 4));
    sqdbg_setproto(316);
  } else if (c == "existing") {
    Send("abc");
  } else if (c == "dump") {
    std::string m;
    for (int i = 0; i < std::atoi(argv[2]); ++i) m.push_back(static_cast<char>(i));
    Send(m);
  } else if (c == "mask") {
    std::string head(6, '\1');
    Send(head + "set encryption password 'secret' with hint 'myhint'");
    Send(head + "select password 'abc' from t");
    Send(head + "select encrypt_aes('k1', 'k2' || f('k3')) , 'open' from t");
  } else if (c == "fork") {
    sqdbg_setproto(316);
    Send("parent");
    pid_t child = fork();
    if (child == 0) {
      Send("child1");
      std::fflush(nullptr);
      _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    std::printf("child %d\n", static_cast<int>(child));
    Send("parent2");
  } else if (c == "chain") {
    for (int level = 0; level < 10; ++level) {
      Send("step");
      std::fflush(stdout);
      pid_t child = fork();
      if (child != 0) {
        int status = 0;
        waitpid(child, &status, 0);
        _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
      }
    }
    Send("last");
    std::printf("capacity %d\n", sqdbg_table_capacity());
  }
  std::fflush(stdout);
  return 0;
}
