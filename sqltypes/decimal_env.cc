#include "sqltypes/decimal_env.h"

#include <string.h>

#include "base/env.h"
#include "base/thread_state.h"

// Remembered in the thread record's flags: one bit says the variable was
// read, the other that it is exactly "1". Without a record the defaults
// (17 and 9 digits) apply.
bool decimal_use_prec16() {
  ThreadRuntimeRecord* tr = rthreadrec();
  if (tr == nullptr) return false;
  if (!(tr->flags & TR_PREC16_READ)) {
    const char* v = ggetenv_idx("ZEL_USE_PREC_16", ENVROW_ZEL_USE_PREC_16);
    if (v != nullptr && strcmp(v, "1") == 0) tr->flags |= TR_PREC16_ON;
    tr->flags |= TR_PREC16_READ;
  }
  return (tr->flags & TR_PREC16_ON) != 0;
}
