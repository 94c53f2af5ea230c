// Collection and row host variables: allocation, cardinality, release
// (with the server's copy freed by request 105), and the checks run before
// such variables are bound into a request.
#include "sqlruntime/collections.h"

#include <cstdlib>
#include <cstring>

#include "sqlruntime/call_frame.h"
#include "sqlruntime/connection.h"
#include "sqlruntime/descriptors.h"
#include "sqlruntime/hostvalues.h"
#include "sqlruntime/replies.h"
#include "sqlruntime/requests.h"
#include "sqlruntime/runtime.h"
#include "sqltypes/sqlvalue.h"

namespace {

using sqli_frame::Enter;
using sqli_frame::Fail;

bool IsComplex(int32_t host_type) {
  const int32_t t = rtyphosttosql(host_type & 0x7FFF);
  return t >= SQLSET && t <= SQLCOLLECTION;
}

int16_t Indicator(const SqliValueItem& it, bool* has) {
  *has = true;
  if (it.indicator != nullptr) return *it.indicator;
  if (it.ind_data != nullptr && it.ind_type != -1) return sqli_ind_read(it.ind_type, it.ind_data, it.ind_length);
  *has = false;
  return 0;
}

// A value without a record must be marked null.
bool NullMarked(const SqliValueItem& it) {
  bool has = false;
  int16_t ind = Indicator(it, &has);
  return has && ind == -1;
}

const CollTypeInfo* InForce(const SqliCollection* c) {
  return c->cl_typed ? c->cl_typeinfo : c->cl_svr_typeinfo;
}

}  // namespace

TV_BEGIN_C


void sqli_coll_value_free(void* value) {
  auto* c = static_cast<SqliCollection*>(value);
  if (c == nullptr) return;
  zel_coll_free(c);
  std::free(c);
}

int32_t sqli_cl_alloc(int32_t, SqliCollection** out, const CollTypeEntry* fields) {
  int32_t code;
  if (!Enter(&code)) return code;
  auto* c = static_cast<SqliCollection*>(std::calloc(1, sizeof(SqliCollection)));
  if (c == nullptr) return Fail(-406);
  if (fields != nullptr) {
    int n = 0;
    while (fields[n].seqno != 0) ++n;
    if (n > 0) {
      CollTypeInfo* info = coll_typeinfo_alloc(n);
      if (info == nullptr) {
        std::free(c);
        return Fail(-406);
      }
      std::memcpy(info->ti_entry, fields, sizeof(CollTypeEntry) * static_cast<size_t>(n));
      info->ti_count = static_cast<int16_t>(n);
      zel_coll_init(c, info, 1, nullptr, 0);
      c->cl_flags |= COLL_OWNS_TYPEINFO;
    }
  }
  if (out != nullptr) *out = c;
  else std::free(c);
  sqli_diag_update(sqli_runtime_get());
  return sqlca.sqlcode;
}

int32_t zel_cl_card(SqliCollection* value, int32_t* isnull) {
  if (value == nullptr) return -1814;
  if (isnull != nullptr) *isnull = (value->cl_flags & COLL_ISNULL) ? 1 : 0;
  return value->cl_cardinality;
}

int32_t zel_cl_dealloc(SqliCollection** value) {
  int32_t code;
  if (!Enter(&code)) return code;
  if (value == nullptr) return sqlca.sqlcode;
  SqliCollection* c = *value;
  if (c != nullptr) {
    if (c->cl_handle != 0 && sqli_cur_stream() != nullptr) {
      SqliRuntime* rt = sqli_runtime_get();
      sqli_req_coll_free(c->cl_handle, rt);
      sqli_reply_loop(nullptr, 0);
    }
    int rc = zel_coll_free(c);
    if (rc != 0) {
      // A cursor is still attached: the record stays the program's.
      if (sqlca.sqlcode == 0) _iqseterr(rc);
      return sqlca.sqlcode;
    }
    std::free(c);
  }
  *value = nullptr;
  if (sqlca.sqlcode == 0) sqli_diag_update(sqli_runtime_get());
  return sqlca.sqlcode;
}

int32_t sqli_coll_check_idlen(int32_t count, SqliValueItem* items) {
  SqliRuntime* rt = sqli_runtime_get();
  const SqliConnection* conn = rt != nullptr ? rt->current : nullptr;
  const bool longid = conn != nullptr && SQLI_CAP(conn, 1, 0x20);
  if (!longid) {
    for (int32_t i = 0; i < count; ++i) {
      SqliValueItem& it = items[i];
      if (!IsComplex(it.type)) continue;
      auto* c = reinterpret_cast<SqliCollection*>(it.data);
      if (c == nullptr) {
        if (!NullMarked(it)) return Fail(-1814);
        continue;
      }
      const CollTypeInfo* info = InForce(c);
      if (info == nullptr) continue;
      for (int e = 0; e < info->ti_count; ++e) {
        const CollTypeEntry& en = info->ti_entry[e];
        if (en.fieldnmlen > 18 || en.xtype_nm_len > 18 || en.xtype_owner_len > 8) return Fail(-253);
      }
    }
  }
  return sqli_coll_check_typed(count, items);
}

int32_t sqli_coll_check_typed(int32_t count, SqliValueItem* items) {
  for (int32_t i = 0; i < count; ++i) {
    SqliValueItem& it = items[i];
    if (!IsComplex(it.type)) continue;
    auto* c = reinterpret_cast<SqliCollection*>(it.data);
    if (c == nullptr) {
      if (!NullMarked(it)) return Fail(-1814);
      continue;
    }
    if (!c->cl_typed && c->cl_typeinfo == nullptr && c->cl_svr_typeinfo == nullptr) return Fail(-1815);
  }
  return 0;
}

char* sqli_coll_typetext(const SqliCollection* value) {
  if (value == nullptr) return nullptr;
  const CollTypeInfo* info = value->cl_typeinfo != nullptr ? value->cl_typeinfo : value->cl_svr_typeinfo;
  if (info == nullptr || info->ti_count < 1) return nullptr;
  const CollTypeEntry& e0 = info->ti_entry[0];
  if (e0.type & 0x1000) {
    int n = e0.xtype_nm_len < 0 ? 0 : (e0.xtype_nm_len > 128 ? 128 : e0.xtype_nm_len);
    return sqli_item_text_copy(e0.xtype_name, n);
  }
  char* text = nullptr;
  if (zel_coll_typetext(info, 1, &text, 1) != 0) return nullptr;
  return text;
}

TV_END_C
