// The frame of the runtime's exported descriptor, var-value and collection
// calls: each starts by resetting the sqlca (sqlerrd[2] included) and ends
// by bringing the diagnostics area up to date.
#pragma once

#include <stdint.h>

#include "sqlruntime/runtime.h"

namespace sqli_frame {

// True when the call may go on; else *code is what it returns.
inline bool Enter(int32_t* code) {
  SqliRuntime* rt = sqli_runtime_get();
  if (rt == nullptr) {
    *code = -1;
    return false;
  }
  if (sqli_sqlca_reset(rt) != 0) {
    *code = sqlca.sqlcode;
    return false;
  }
  sqlca.sqlerrd[2] = 0;
  return true;
}

inline int32_t Fail(int32_t code) {
  _iqseterr(code);
  return sqlca.sqlcode;
}

inline int32_t Done() {
  sqli_diag_update(sqli_runtime_get());
  return sqlca.sqlcode;
}

}  // namespace sqli_frame
