#include "sqltypes/decimal_env.h"

#include <stdlib.h>
#include <string.h>

namespace {

// Remembered per thread: whether the variable was read, and its verdict.
struct Prec16State {
  bool read = false;
  bool on = false;
};
thread_local Prec16State prec16;

}  // namespace

bool decimal_use_prec16() {
  if (!prec16.read) {
    const char* v = getenv("ZEL_USE_PREC_16");
    prec16.on = v != nullptr && strcmp(v, "1") == 0;
    prec16.read = true;
  }
  return prec16.on;
}
