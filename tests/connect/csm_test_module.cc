// A communication support module for the tests. Its global option text
// chooses how csm_init behaves: "fail" refuses with module error -5003,
// "v2" leaves the entry table's version word at 2, "count=<file>" appends
// one line to the file per call. Otherwise it fills the whole table.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "connect/csm_config.h"

namespace {

std::string Option(const char* text, const char* key) {
  std::string t = text != nullptr ? text : "";
  size_t at = t.find(key);
  if (at == std::string::npos) return "";
  size_t end = t.find(' ', at);
  return t.substr(at + std::strlen(key), end == std::string::npos ? std::string::npos : end - at - std::strlen(key));
}

int Terminate(void** module, char* text) {
  std::free(*module);  // the services' allocator is calloc
  *module = nullptr;
  std::snprintf(text, 272, "test module ends");
  return 0;
}
int StartInstance(void*, uint32_t* flags, CsmStatus*) {
  *flags = 3;
  return 0;
}
int Step(void*, void*, void*, void*, void*, CsmStatus* status) {
  status->result = 1;
  return 0;
}
int Abort(void*, const char*, CsmStatus*) { return 0; }
int Release(void*, void*, CsmStatus*) { return 0; }

}  // namespace

extern "C" __attribute__((visibility("default"))) int csm_init(void** module, CsmServices* services,
                                                               CsmEntryTable* table, const char* global,
                                                               uint32_t* mask, CsmStatus* status) {
  std::string count = Option(global, "count=");
  if (!count.empty()) {
    if (FILE* f = std::fopen(count.c_str(), "a")) {
      std::fprintf(f, "init version=%d services=%d\n", table->version, services->version);
      std::fclose(f);
    }
  }
  if (std::strstr(global, "fail") != nullptr) {
    status->error = -5003;
    std::snprintf(status->text, sizeof status->text, "the test module refuses");
    return 1;
  }
  if (std::strstr(global, "v2") != nullptr) {
    table->version = 2;
    return 0;
  }
  *module = services->allocator->allocate(16);
  *mask = 0;
  void* slots[9] = {reinterpret_cast<void*>(Terminate), reinterpret_cast<void*>(StartInstance),
                    reinterpret_cast<void*>(Step),      reinterpret_cast<void*>(Step),
                    reinterpret_cast<void*>(Step),      reinterpret_cast<void*>(Step),
                    reinterpret_cast<void*>(Step),      reinterpret_cast<void*>(Abort),
                    reinterpret_cast<void*>(Release)};
  std::memcpy(table->slots, slots, sizeof slots);
  return 0;
}
