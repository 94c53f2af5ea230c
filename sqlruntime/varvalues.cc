// Var values: a flags word (0x01 the runtime owns the data, 0x02 null), the
// bytes in use, the bytes allocated and the data. Programs reach them
// through the address of their pointer, so that a missing value can be made
// on the spot. Data the program gave (no 0x01) is never freed here.
#include <cstdlib>
#include <cstring>

#include "sqlruntime/call_frame.h"
#include "sqlruntime/descriptors.h"
#include "sqlruntime/runtime.h"

namespace {

using sqli_frame::Enter;
using sqli_frame::Fail;
using sqli_frame::Done;

bool Owned(const SqliVarValue* v) { return (v->flags & SQLI_VV_OWNED) != 0; }

// Drops the data area, freeing it only when the runtime owns it.
void DropData(SqliVarValue* v) {
  if (Owned(v)) std::free(v->data);
  v->data = nullptr;
  v->length = 0;
  v->size = 0;
}

}  // namespace

TV_BEGIN_C

SqliVarValue* sqli_var_make(void) {
  auto* v = static_cast<SqliVarValue*>(std::calloc(1, sizeof(SqliVarValue)));
  if (v != nullptr) v->flags = SQLI_VV_OWNED;
  return v;
}

int32_t sqli_var_free_data(SqliVarValue* var) {
  if (var == nullptr) return -1822;
  DropData(var);
  return 0;
}

int32_t zel_var_init(SqliVarValue** var) {
  int32_t code;
  if (!Enter(&code)) return code;
  if (var == nullptr) return Fail(-1822);
  if (*var == nullptr) {
    *var = sqli_var_make();
    if (*var == nullptr) return Fail(-406);
  }
  return Done();
}

int32_t zel_var_isnull(SqliVarValue** var) {
  int32_t code;
  if (!Enter(&code)) return code;
  if (var == nullptr || *var == nullptr) return Fail(-1822);
  sqli_diag_update(sqli_runtime_get());
  return ((*var)->flags & SQLI_VV_NULL) ? 1 : 0;
}

int32_t zel_var_setnull(SqliVarValue** var, int32_t flag) {
  int32_t code;
  if (!Enter(&code)) return code;
  if (var == nullptr || *var == nullptr || (flag != 0 && flag != 1)) return Fail(-1822);
  if (flag) {
    (*var)->flags = static_cast<int16_t>((*var)->flags | SQLI_VV_NULL);
  } else {
    (*var)->flags = static_cast<int16_t>((*var)->flags & ~SQLI_VV_NULL);
  }
  return Done();
}

int32_t zel_var_setlen(SqliVarValue** var, int32_t length) {
  int32_t code;
  if (!Enter(&code)) return code;
  if (var == nullptr || *var == nullptr) return Fail(-1820);
  if (length > (*var)->size) return Fail(-1823);
  if (length < 0) return Fail(-1822);
  (*var)->length = length;
  return Done();
}

int32_t zel_var_getlen(SqliVarValue** var) {
  int32_t code;
  if (!Enter(&code)) return code;
  if (var == nullptr || *var == nullptr) return Fail(-1820);
  sqli_diag_update(sqli_runtime_get());
  return (*var)->length;
}

char* zel_var_getdata(SqliVarValue** var) {
  int32_t code;
  if (!Enter(&code)) return nullptr;
  if (var == nullptr || *var == nullptr) {
    _iqseterr(-1820);
    return nullptr;
  }
  sqli_diag_update(sqli_runtime_get());
  if ((*var)->flags & SQLI_VV_NULL) return nullptr;
  return (*var)->data;
}

int32_t zel_var_flag(SqliVarValue** var, int32_t flag) {
  int32_t code;
  if (!Enter(&code)) return code;
  if (var == nullptr || (flag != 0 && flag != 1)) return Fail(-1822);
  if (*var == nullptr) {
    *var = sqli_var_make();
    if (*var == nullptr) return Fail(-406);
  }
  SqliVarValue* v = *var;
  if (flag) {
    v->flags = static_cast<int16_t>(v->flags | SQLI_VV_OWNED);
  } else {
    // The program takes over: the runtime's area goes.
    DropData(v);
    v->flags = static_cast<int16_t>(v->flags & ~SQLI_VV_OWNED);
  }
  return Done();
}

int32_t zel_var_alloc(SqliVarValue** var, int32_t size) {
  int32_t code;
  if (!Enter(&code)) return code;
  if (var == nullptr) return Fail(-1822);
  if (*var == nullptr) {
    *var = sqli_var_make();
    if (*var == nullptr) return Fail(-406);
  }
  if (size <= 0) return Fail(-1822);
  SqliVarValue* v = *var;
  if (v->data == nullptr || v->size <= 0 || v->size < size) {
    char* area = static_cast<char*>(std::calloc(1, static_cast<size_t>(size)));
    if (area == nullptr) return Fail(-406);
    DropData(v);
    v->data = area;
    v->length = size;
    v->size = size;
    v->flags = static_cast<int16_t>(v->flags | SQLI_VV_OWNED);
  } else {
    // A large enough area is kept with its length and size.
    std::memset(v->data, 0, static_cast<size_t>(size));
  }
  return Done();
}

int32_t zel_var_dealloc(SqliVarValue** var) {
  int32_t code;
  if (!Enter(&code)) return code;
  if (var == nullptr || *var == nullptr) return Fail(-1822);
  DropData(*var);
  return Done();
}

int32_t zel_var_setdata(SqliVarValue** var, const char* data, int32_t length) {
  int32_t code;
  if (!Enter(&code)) return code;
  if (var == nullptr) return Fail(-1822);
  if (length <= 0) return Fail(-1822);
  if (*var == nullptr) {
    SqliVarValue* v = sqli_var_make();
    if (v == nullptr) return Fail(-406);
    v->data = static_cast<char*>(std::calloc(1, static_cast<size_t>(length)));
    if (v->data == nullptr) {
      std::free(v);
      return Fail(-406);
    }
    v->size = length;
    *var = v;
  }
  SqliVarValue* v = *var;
  if (Owned(v)) {
    if (v->data == nullptr || v->size < length) {
      char* area = static_cast<char*>(std::realloc(v->data, static_cast<size_t>(length)));
      if (area == nullptr) return Fail(-406);
      v->data = area;
      v->size = length;
    }
  } else {
    // A program-owned value without an area has nowhere to put the bytes:
    // the call is accepted and the value left as it is, so that no reader
    // takes length bytes from a missing area.
    if (v->data == nullptr) return Done();
    if (v->size < length) return Fail(-1823);
  }
  if (data != nullptr) std::memmove(v->data, data, static_cast<size_t>(length));
  v->flags = static_cast<int16_t>(v->flags & ~SQLI_VV_NULL);
  v->length = length;
  return Done();
}

int32_t zel_lvar_alloc(int32_t mode) {
  SqliRuntime* rt = sqli_runtime_get();
  if (rt == nullptr) return -1;
  rt->lvarchar_mode = static_cast<int16_t>(mode);
  return 0;
}

TV_END_C
