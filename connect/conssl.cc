// The security-toolkit loader. No toolkit is loaded yet: every load
// reports the toolkit as missing, naming the minimum version it needs.
#include "connect/conssl.h"

#include <cstring>

#include "connect/asfutil.h"

namespace {

int Missing(AsfControlBlock* cb) {
  ASF_ERROR(cb, -28016, 0);
  if (cb != nullptr) std::strcpy(cb->text, "8.0.50.75");
  return -1;
}

}  // namespace

TV_BEGIN_C

int conssl_load_toolkit(AsfControlBlock* cb) { return Missing(cb); }
int conssl_unload_toolkit(void) { return 0; }
int conssl_open_client(AsfDriver*, int, AsfControlBlock* cb) { return Missing(cb); }
int conssl_open_server(AsfDriver*, int, AsfControlBlock* cb) { return Missing(cb); }
int conssl_read(AsfDriver*, void*, int32_t, int32_t*, AsfControlBlock* cb) { return Missing(cb); }
int conssl_write(AsfDriver*, const void*, int32_t, int32_t*, AsfControlBlock* cb) {
  return Missing(cb);
}
int conssl_close(AsfDriver*, int) { return 0; }

TV_END_C
