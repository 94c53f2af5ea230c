// Host variables to SqlValue (rhosttoval) and back (rvaltohost).
//
// A variable binary record (host codes 121 and 124) is an SqliVarBinary:
// flags (VB_OWNED: the buffer is the library's and may be grown; VB_NULL),
// data length, buffer size, buffer.
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "base/thread_state.h"
#include "sqltypes/sqlvalue_internal.h"
#include "sqltypes/value_null.h"

namespace {

// The host code of a host or SQL code: SQL INTEGER and SERIAL give 102,
// host code 102 itself works as 103. *given102 tells that a 4-byte
// variable was meant (host 102, or SQL INTEGER and SERIAL).
int HostOf(int type, bool* given102) {
  *given102 = type == 102 || type == SQLINT || type == SQLSERIAL;
  return rtypsqltohost(type);
}

template <typename T>
void Put(void* var, T v) { memcpy(var, &v, sizeof v); }
template <typename T>
T Get(const void* var) {
  T v;
  memcpy(&v, var, sizeof v);
  return v;
}

int Status(int16_t* ind, int status) {
  if (ind != nullptr) *ind = status != 0 ? 1 : 0;
  return status;
}

int VarBinaryOut(const SqlValue* v, SqliVarBinary* rec, bool lvarchar) {
  if (rec->vb_data == v->v.text.ptr) return 0;
  const int32_t len = v->v.text.len < 0 ? 0 : v->v.text.len;
  const int32_t need = len + (lvarchar ? 1 : 0);
  if (rec->vb_size < need) {
    if (!(rec->vb_flags & VB_OWNED)) return rseterror(-1821);
    char* grown = static_cast<char*>(realloc(rec->vb_data, static_cast<size_t>(need)));
    if (grown == nullptr) {
      rec->vb_size = 0;
      rec->vb_len = 0;
      return rseterror(-837);
    }
    rec->vb_data = grown;
    rec->vb_size = need;
  }
  if (len != 0) {
    memcpy(rec->vb_data, v->v.text.ptr, static_cast<size_t>(len));
    rec->vb_flags = static_cast<uint16_t>(rec->vb_flags & ~VB_NULL);
    rec->vb_len = need;
    if (lvarchar) rec->vb_data[len] = '\0';
  }
  return 0;
}

// Character targets: rvaltotext into what the area leaves for characters.
int TextOut(SqlValue* v, char* var, int host, int a, int16_t* ind) {
  int chars = a;
  if (host != 108) {
    if (a < 0 || a == 1) {
      if (a == 1) var[0] = '\0';
      if (ind != nullptr) *ind = 1;
      return rseterror(-1235);
    }
    if (a > 1) chars = a - 1;
  }
  const int rc = rvaltotext(v, var, chars, 1);
  const bool text = sqlv_istext(sqlv_type(v));
  const int32_t len = text ? v->v.text.len : 0;
  if (ind != nullptr) {
    if (text && chars > 0 && chars < len) *ind = static_cast<int16_t>(len);
    else *ind = rc != 0 ? 1 : 0;
  }
  if (rc != 0) return rseterror(rc);
  if (host == 108 || chars == 0) return 0;
  if (host == 109) {
    int n = chars;
    while (n > 0 && var[n - 1] == ' ') n--;
    var[n] = '\0';
  } else if ((host == 114 || host == 119) && text && len < chars) {
    var[len] = '\0';
  } else {
    var[chars] = '\0';
  }
  return 0;
}

}  // namespace

TV_EXTERN_C TV_API int rhosttoval(void* var, int type, SqlValue* out, int len,
                                  const int16_t* ind) {
  memset(out, 0, sizeof *out);
  bool given102 = false;
  int host = HostOf(type, &given102);
  if (type >= 0 && type <= 53) out->v_type = static_cast<uint16_t>(type);
  else if (type >= 100 && type <= 125 && rtyphosttosql(type) >= 0)
    out->v_type = static_cast<uint16_t>(rtyphosttosql(type));
  else return -1;
  if (host < 100 || host > 125 || host == 106) return -1;
  int nulltype = type;
  if ((host == 119 || host == 124) && len == 0) host = nulltype = 124;
  if (var == nullptr && (ind == nullptr || *ind >= 0)) return -1;
  char* p = static_cast<char*>(var);
  if ((ind != nullptr && *ind < 0) || risnull(nulltype, p)) {
    out->v_ind = -1;
    if (sqlv_istext(SQLTYPE(out->v_type))) {
      out->v.text.ptr = p;
      out->v.text.len = len;
    }
    if (SQLTYPE(out->v_type) == SQLBYTES || SQLTYPE(out->v_type) == SQLTEXT)
      out->v.loc.desc.field6 |= 1;
    return 0;
  }
  switch (host) {
    case 100: case 114: case 119:
      out->v.text.ptr = p;
      out->v.text.len = static_cast<int32_t>(len <= 0 ? strlen(p) : strnlen(p, static_cast<size_t>(len)));
      break;
    case 101:
      out->v.i4 = Get<int16_t>(p);
      out->v_len = 0x0500;
      break;
    case 102:
      out->v.i4 = Get<int32_t>(p);
      out->v_len = 0x0500;
      break;
    case 103: case 110:
      out->v.i4 = Get<int32_t>(p);  // the low four bytes of the variable
      out->v_len = 0x0A00;
      break;
    case 104: out->v.f4 = Get<float>(p); break;
    case 105: out->v.f8 = Get<double>(p); break;
    case 107: case 111: {
      const Decimal d = Get<Decimal>(p);
      if (d.ndigits > DEC_MAXDIGITS) return -1;
      out->v.dec = d;
      out->v_len = static_cast<uint16_t>(len);
      break;
    }
    case 108:
      out->v.text.ptr = p;
      out->v.text.len = len;
      break;
    case 109:
      out->v.text.ptr = p;
      out->v.text.len = static_cast<int32_t>(strlen(p));
      break;
    case 112: case 115: {
      const DateTimeValue dt = Get<DateTimeValue>(p);
      if (dt.dt_dec.ndigits > DEC_MAXDIGITS) return -1;
      out->v.dec = dt.dt_dec;
      out->v_len = static_cast<uint16_t>(dt.dt_qual);
      break;
    }
    case 113: out->v.text.ptr = p; break;
    case 116:
      out->v.text.ptr = p;
      out->v.text.len = len;
      out->v_type = SQLV_BYTEAREA;
      break;
    case 117:
      out->v.int8 = Get<Int8Value>(p);
      out->v_len = 0x1300;
      break;
    case 125:
      out->v.i8 = Get<int64_t>(p);
      out->v_len = 0x1300;
      break;
    case 118: case 123: out->v.coll = Get<SqliCollection>(p); break;
    case 120: case 122:
      out->v.text.ptr = p;
      out->v.text.len = len;
      break;
    case 121: case 124: {
      const SqliVarBinary rec = Get<SqliVarBinary>(p);
      out->v.text.ptr = rec.vb_data;
      out->v.text.len = rec.vb_len;
      break;
    }
    default: return -1;
  }
  return 0;
}

TV_EXTERN_C TV_API int rvaltohost(SqlValue* v, void* var, int type, int a, int16_t* ind) {
  rseterror(0);
  char* p = static_cast<char*>(var);
  bool given102 = false;
  int host = HostOf(type, &given102);
  if (sqlv_isnull(v)) {
    rsetnull(type, p);
    if (ind != nullptr) *ind = -1;
    return 0;
  }
  const int vt = sqlv_type(v);
  switch (host) {
    case 101: {
      int16_t x = 0;
      rvaltoint2(v, &x);
      Put(p, x);
      return Status(ind, rgeterror());
    }
    case 102: case 103: {
      int32_t x = 0;
      rvaltoint4(v, &x);
      if (host == 102 || given102) Put(p, x);
      else Put(p, static_cast<int64_t>(x));
      return Status(ind, rgeterror());
    }
    case 104: {
      double x = 0;
      if (rvaltodbl(v, &x) == 0) {
        const float f = static_cast<float>(x);
        if (x != 0 && !isnan(x) && (isinf(f) || fabs(x) < 1e-45)) rseterror(-1222);
        else Put(p, f);
      }
      return Status(ind, rgeterror());
    }
    case 105: {
      double x = 0;
      rvaltodbl(v, &x);
      Put(p, x);
      return Status(ind, rgeterror());
    }
    case 107: case 111: {
      Decimal d;
      if ((host == 107 && vt == SQLDECIMAL) || (host == 111 && vt == SQLMONEY)) {
        // Fit a copy: the caller's value stays as it is for later
        // conversions.
        d = v->v.dec;
        if (a != v->v_len && a != 22 && decfitprec(&d, a) != 0) rseterror(-1226);
      } else if (host == 107) {
        rvaltodec(v, &d);
      } else {
        rvaltomon(v, &d);
      }
      if (rgeterror() == 0) Put(p, d);
      return Status(ind, rgeterror());
    }
    case 110: {
      int32_t x = 0;
      rvaltodate(v, &x, nullptr);
      Put(p, x);
      return Status(ind, rgeterror());
    }
    case 112: {
      DateTimeValue x;
      rvaltodt(v, &x, a);
      Put(p, x);
      return Status(ind, rgeterror());
    }
    case 115: {
      IntervalValue x;
      rvaltoinv(v, &x, a);
      Put(p, x);
      return Status(ind, rgeterror());
    }
    case 117: {
      Int8Value x;
      rvaltoint8(v, &x);
      Put(p, x);
      return Status(ind, rgeterror());
    }
    case 122: {
      unsigned char x = 0xFF;
      if (rvaltobool(v, &x) == 0) p[0] = static_cast<char>(x);
      return Status(ind, rgeterror());
    }
    case 125: {
      int64_t x = 0;
      rvaltobigint(v, &x);
      Put(p, x);
      return Status(ind, rgeterror());
    }
    case 113:
      if (vt != SQLBYTES && vt != SQLTEXT) rseterror(-1269);
      else memcpy(p, v->v.raw, sizeof(LobHostLocator));
      return Status(ind, rgeterror());
    case 116:
      if (v->v_type != SQLV_BYTEAREA && vt != SQLCHAR) {
        rseterror(-1269);
      } else if (a < v->v.text.len) {
        rseterror(-1235);
      } else {
        memset(p, ' ', static_cast<size_t>(a));
        if (v->v.text.len > 0) memcpy(p, v->v.text.ptr, static_cast<size_t>(v->v.text.len));
      }
      return Status(ind, rgeterror());
    case 118: case 123: {
      if (vt < SQLSET || vt > SQLCOLLECTION) return Status(ind, rseterror(-9602));
      SqliCollection c = v->v.coll;
      c.cl_flags &= ~static_cast<uint32_t>(COLL_OWNS_DATA | COLL_OWNS_TYPEINFO);
      Put(p, c);
      return Status(ind, 0);
    }
    case 120:
      if (vt != SQLUDTFIXED) rseterror(-1260);
      else if (v->v.text.len > a) rseterror(-1821);
      else if (v->v.text.len > 0) memcpy(p, v->v.text.ptr, static_cast<size_t>(v->v.text.len));
      return Status(ind, rgeterror());
    case 121: case 124: {
      const bool lv = host == 124;
      if (lv ? vt != SQLLVARCHAR : vt != SQLUDTVAR && vt != SQLUDTFIXED)
        return Status(ind, rseterror(-1260));
      SqliVarBinary rec = Get<SqliVarBinary>(p);
      VarBinaryOut(v, &rec, lv);
      Put(p, rec);
      return Status(ind, rgeterror());
    }
    default:
      return TextOut(v, p, host, a, ind);
  }
}
