// A communication support module for the tests. Its global option text
// chooses how csm_init behaves: "fail" refuses with module error -5003,
// "v2" leaves the entry table's version word at 2, "count=<file>" appends
// one line to the file per call, "log=<file>" appends the abort reasons,
// the close steps and the buffers released by name; "failcode=<n>" is
// the error of "fail", "nostart" leaves the start-instance slot empty,
// "nosteps" the connect and accept steps.
// Otherwise it fills the whole table.
//
// On the wire: the connect side sends "HELLO <options>", the accept side
// answers "WELCOME"; then every packet is a 4-byte big-endian length and
// the data XORed with the key (per-association option "key=<n>", default
// 90). The per-association option "first=<n>" makes the connect step
// answer result n before it sent anything; "slow" sends the hello with
// result 4 and then waits for the answer with result 5; "encode-only"
// makes the instance encode and not decode; "pending" makes the accept side send
// its first packet ("greeting") behind its WELCOME, so that the connect
// step completes with result 2 and the packet is decoded from that input.
// "ctl" makes the first encode send the control message "PING" (result 3)
// and encode the packet once the peer's decode answered "PONG" (result
// 4); "quit" makes the encode of the data "quit" end the exchange (module
// error -5008).
//
// Closing: the side that closes first sends "BYE" (result 3) and is done
// when "BYE-OK" comes back; the peer's decode answers "BYE" with "BYE-OK"
// (result 4) and then reports that the exchange ended (-5008), so that
// its own close step has nothing more to say.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "connect/csm.h"

namespace {

CsmServices* g_services = nullptr;

std::string Option(const char* text, const char* key) {
  std::string t = text != nullptr ? text : "";
  size_t at = t.find(key);
  if (at == std::string::npos) return "";
  size_t end = t.find(' ', at);
  return t.substr(at + std::strlen(key), end == std::string::npos ? std::string::npos : end - at - std::strlen(key));
}

struct Module {
  char log[256];
};

struct Instance {
  unsigned char key;
  int round;
  char log[256];
  bool ctl;         // a control message before the first packet
  bool ctl_sent;    // "PING" sent, the packet is in `saved`
  bool ctl_done;
  bool quit;
  bool pinged;      // the decode answered a "PING"
  bool bye_seen;    // the peer closed; "BYE-OK" was sent
  bool slow;
  bool encode_only;
  CsmBuffer* saved;
};

void Append(const char* path, const std::string& line) {
  if (path == nullptr || path[0] == '\0') return;
  if (FILE* f = std::fopen(path, "a")) {
    std::fputs(line.c_str(), f);
    std::fclose(f);
  }
}

CsmBuffer* Text(const std::string& s) {
  CsmBuffer* b = g_services->buffers->new_sized(static_cast<int64_t>(s.size()));
  if (b != nullptr) std::memcpy(b->data, s.data(), s.size());
  return b;
}

std::string Bytes(const CsmBuffer* b) {
  return b != nullptr ? std::string(static_cast<const char*>(b->data), static_cast<size_t>(b->length)) : "";
}

Instance* NewInstance(void** instance, void* module, const char* options) {
  if (*instance == nullptr) {
    auto* in = static_cast<Instance*>(g_services->allocator->allocate(sizeof(Instance)));
    std::string key = Option(options, "key=");
    in->key = static_cast<unsigned char>(key.empty() ? 90 : std::atoi(key.c_str()));
    std::string t = options != nullptr ? options : "";
    in->ctl = (" " + t + " ").find(" ctl ") != std::string::npos;
    in->quit = (" " + t + " ").find(" quit ") != std::string::npos;
    in->slow = (" " + t + " ").find(" slow ") != std::string::npos;
    in->encode_only = (" " + t + " ").find(" encode-only ") != std::string::npos;
    std::snprintf(in->log, sizeof in->log, "%s", static_cast<Module*>(module)->log);
    *instance = in;
  }
  return static_cast<Instance*>(*instance);
}

// The instance of a module without negotiation steps: none is made, so
// encode and decode use the defaults.
Instance* Or(void* instance) {
  static Instance plain = [] {
    Instance i{};
    i.key = 90;
    return i;
  }();
  return instance != nullptr ? static_cast<Instance*>(instance) : &plain;
}

int Terminate(void** module, char* text) {
  g_services->allocator->free_(*module);
  *module = nullptr;
  std::snprintf(text, 272, "test module ends");
  return 0;
}
int StartInstance(void* instance, uint32_t* flags, CsmStatus*) {
  *flags = Or(instance)->encode_only ? 1 : 3;
  return 0;
}

int Connect(void** instance, void* module, CsmContext*, CsmBuffer* input, CsmBuffer** output, int32_t,
            const char* options, CsmStatus* status) {
  Instance* in = NewInstance(instance, module, options);
  int round = in->round++;
  if (round == 0) {
    std::string first = Option(options, "first=");
    if (!first.empty()) {
      status->result = std::atoi(first.c_str());
      return 0;
    }
    *output = Text(std::string("HELLO ") + options);
    // "slow": send and be called again (4), then wait for the answer (5).
    status->result = in->slow ? 4 : 3;
    return 0;
  }
  if (round == 1 && in->slow) {
    status->result = 5;
    return 0;
  }
  std::string got = Bytes(input);
  if (got.rfind("WELCOME", 0) != 0) {
    status->error = -5004;
    std::snprintf(status->text, sizeof status->text, "no welcome from the peer");
    return 1;
  }
  status->result = got.size() > 7 ? 2 : 1;
  return 0;
}

int Accept(void** instance, void* module, CsmContext*, CsmBuffer* input, CsmBuffer** output,
           const char* options, CsmStatus* status) {
  Instance* in = NewInstance(instance, module, options);
  if (Bytes(input).rfind("HELLO", 0) != 0) {
    status->error = -5004;
    std::snprintf(status->text, sizeof status->text, "no hello from the peer");
    return 1;
  }
  // The answer goes out first (result 4), then the same input completes.
  if (in->round++ == 0) {
    std::string welcome = "WELCOME";
    if (options != nullptr && std::strstr(options, "pending") != nullptr) {
      std::string greeting = "greeting";
      for (int k = 0; k < 4; ++k) welcome.push_back(static_cast<char>(greeting.size() >> (24 - 8 * k)));
      for (char c : greeting) welcome.push_back(static_cast<char>(c ^ in->key));
    }
    *output = Text(welcome);
    status->result = 4;
    return 0;
  }
  status->result = 1;
  return 0;
}

CsmBuffer* Encoded(const Instance* in, const CsmBuffer* input) {
  int64_t n = input->length;
  CsmBuffer* out = g_services->buffers->new_sized(n + 4);
  auto* p = static_cast<unsigned char*>(out->data);
  for (int k = 0; k < 4; ++k) p[k] = static_cast<unsigned char>(static_cast<uint64_t>(n) >> (24 - 8 * k));
  for (int64_t k = 0; k < n; ++k) p[4 + k] = static_cast<unsigned char*>(input->data)[k] ^ in->key;
  return out;
}

void FreeInstance(Instance* in) {
  if (in->saved != nullptr) g_services->buffers->free_all(in->saved);
  g_services->allocator->free_(in);
}

int Encode(void* instance, CsmBuffer* input, CsmBuffer** output, CsmStatus* status) {
  Instance* in = Or(instance);
  if (in->quit && Bytes(input) == "quit") {
    status->error = -5008;
    std::snprintf(status->text, sizeof status->text, "the exchange is over");
    return 1;
  }
  if (in->ctl && !in->ctl_done) {
    if (!in->ctl_sent) {
      // Keep the packet, ask the peer first.
      in->saved = g_services->buffers->new_sized(input->length);
      std::memcpy(in->saved->data, input->data, static_cast<size_t>(input->length));
      in->ctl_sent = true;
      *output = Text("PING");
      status->result = 3;
      return 0;
    }
    if (Bytes(input) != "PONG") {
      status->error = -5006;
      std::snprintf(status->text, sizeof status->text, "no PONG from the peer");
      return 1;
    }
    in->ctl_done = true;
    *output = Encoded(in, in->saved);
    g_services->buffers->free_all(in->saved);
    in->saved = nullptr;
    status->result = 1;
    return 0;
  }
  *output = Encoded(in, input);
  status->result = 1;
  return 0;
}

int Decode(void* instance, CsmBuffer* input, CsmBuffer** output, CsmStatus* status) {
  Instance* in = Or(instance);
  std::string control = Bytes(input);
  if (control == "BYE") {
    if (!in->bye_seen) {
      in->bye_seen = true;
      *output = Text("BYE-OK");
      status->result = 4;
      return 0;
    }
    status->error = -5008;
    std::snprintf(status->text, sizeof status->text, "the peer closed");
    return 1;
  }
  if (control == "PING") {
    // Answer it, then ask for the packet that follows.
    in->pinged = !in->pinged;
    if (in->pinged) *output = Text("PONG");
    status->result = in->pinged ? 4 : 1;
    return 0;
  }
  auto* p = static_cast<unsigned char*>(input != nullptr ? input->data : nullptr);
  int64_t length = input != nullptr ? input->length : 0;
  // A packet that came behind the WELCOME of the negotiation.
  if (length > 7 && std::memcmp(p, "WELCOME", 7) == 0) {
    p += 7;
    length -= 7;
  }
  if (p == nullptr || length < 4) {
    status->error = -5005;
    std::snprintf(status->text, sizeof status->text, "short packet");
    return 1;
  }
  int64_t n = (int64_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
  if (n != length - 4) {
    status->error = -5005;
    std::snprintf(status->text, sizeof status->text, "length %ld in a packet of %ld", static_cast<long>(n),
                  static_cast<long>(length));
    return 1;
  }
  CsmBuffer* out = g_services->buffers->new_sized(n);
  for (int64_t k = 0; k < n; ++k) static_cast<unsigned char*>(out->data)[k] = p[4 + k] ^ in->key;
  *output = out;
  status->result = 1;
  return 0;
}

int Close(void* instance, CsmBuffer* input, CsmBuffer** output, CsmStatus* status) {
  auto* in = static_cast<Instance*>(instance);
  std::string got = Bytes(input);
  if (input == nullptr && !in->bye_seen) {
    *output = Text("BYE");
    status->result = 3;
    return 0;
  }
  if (input != nullptr && got != "BYE-OK") {
    Append(in->log, "close unexpected " + got + "\n");
    FreeInstance(in);
    status->error = -5006;
    std::snprintf(status->text, sizeof status->text, "no BYE-OK from the peer");
    return 1;
  }
  Append(in->log, in->bye_seen ? "close answered\n" : "close confirmed\n");
  FreeInstance(in);
  status->result = 1;
  return 0;
}

int Abort(void* instance, const char* reason, CsmStatus*) {
  auto* in = static_cast<Instance*>(instance);
  Append(in->log, std::string("abort ") + reason);
  FreeInstance(in);
  return 0;
}

int Release(void* instance, CsmBuffer* buffer, CsmStatus*) {
  std::string got = Bytes(buffer);
  if (instance != nullptr && got.rfind("release-me", 0) == 0) {
    Append(static_cast<Instance*>(instance)->log, "release " + got + "\n");
  }
  g_services->buffers->free_all(buffer);
  return 0;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int csm_init(void** module, CsmServices* services,
                                                               CsmEntryTable* table, const char* global,
                                                               uint32_t* mask, CsmStatus* status) {
  g_services = services;
  std::string count = Option(global, "count=");
  if (!count.empty()) {
    if (FILE* f = std::fopen(count.c_str(), "a")) {
      std::fprintf(f, "init version=%d services=%d\n", table->version, services->version);
      std::fclose(f);
    }
  }
  if (std::strstr(global, "fail") != nullptr) {
    std::string code = Option(global, "failcode=");
    status->error = code.empty() ? -5003 : std::atoi(code.c_str());
    std::snprintf(status->text, sizeof status->text, "the test module refuses");
    return 1;
  }
  if (std::strstr(global, "v2") != nullptr) {
    table->version = 2;
    return 0;
  }
  auto* m = static_cast<Module*>(services->allocator->allocate(sizeof(Module)));
  std::snprintf(m->log, sizeof m->log, "%s", Option(global, "log=").c_str());
  *module = m;
  *mask = 0;
  void* slots[9] = {reinterpret_cast<void*>(Terminate), reinterpret_cast<void*>(StartInstance),
                    reinterpret_cast<void*>(Connect),   reinterpret_cast<void*>(Accept),
                    reinterpret_cast<void*>(Encode),    reinterpret_cast<void*>(Decode),
                    reinterpret_cast<void*>(Close),     reinterpret_cast<void*>(Abort),
                    reinterpret_cast<void*>(Release)};
  if (std::strstr(global, "nostart") != nullptr) slots[1] = nullptr;
  if (std::strstr(global, "nosteps") != nullptr) slots[2] = slots[3] = nullptr;
  std::memcpy(table->slots, slots, sizeof slots);
  return 0;
}
