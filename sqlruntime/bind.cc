// Bind values (request 5): one value per input host variable or SqlValue.
//
// A value on the wire:
//
//   field          bytes   content
//   type word      2       the wire type of the variable
//   owner, type    string  extended types only (connection with extended
//                          types and a type that is not built-in or has
//                          0x800): owner name, then type name
//   indicator      2       -1 null (nothing but the length word follows), 0
//   length word    2       0x0500 SMALLINT, 0x0A00 INTEGER/SERIAL/DATE,
//                          the precision word of DECIMAL/MONEY, the
//                          qualifier of DATETIME/INTERVAL, 0x1300 INT8 and
//                          BIGINT, 0 for the rest
//   value                  by SQL type: CHAR/NCHAR/VARCHAR/NVARCHAR a string;
//                          SMALLINT 2, INTEGER 4, BIGINT 8, INT8 10 bytes;
//                          FLOAT 8 and SMALLFLOAT 4 bytes in the stream's
//                          float format (or a DECIMAL when floats go as
//                          decimals); DECIMAL, MONEY, DATETIME, INTERVAL a
//                          DECIMAL; BYTE/TEXT a 56-byte descriptor (the
//                          data follows with request 41); opaque, LVARCHAR
//                          and BOOLEAN a 32-bit length and padded bytes;
//                          collections and rows the complex-value form
#include <stdlib.h>
#include <string.h>

#include "base/thread_state.h"
#include "sqlruntime/blobs.h"
#include "sqlruntime/hostvalues.h"
#include "sqlruntime/hostvalues_internal.h"
#include "sqlruntime/requests.h"
#include "sqlruntime/collections.h"
#include "sqltypes/collection.h"
#include "sqltypes/value_null.h"

using namespace sqli_hv;

namespace {

constexpr int32_t kTextCap = 32767;

// The host code whose memory layout a type word's variable has: SQL codes
// stand for their host code, INTEGER and SERIAL for the 4-byte 102.
int32_t HostLayout(int32_t low) {
  if (low == SQLINT || low == SQLSERIAL) return 102;
  if (low >= 0 && low <= 53) return rtypsqltohost(low);
  return low;
}

// Writes character data in the server's code set: a string (uint16
// length), or a 32-bit length and padded bytes. With cap the text is cut
// to 32,767 bytes (-1279 under ANSI mode). The first error is kept in *err;
// the value is always written whole, so the request stays readable.
void PutText(const char* text, int32_t n, bool wide, bool cap, bool convert, SqliMessageStream* s,
             int32_t* err) {
  const char* bytes = text;
  int32_t cerr = 0;
  if (convert && n > 0) {
    int32_t m = ConvertOut(text, n, &bytes, &cerr);
    if (m < 0) {
      if (*err == 0) *err = cerr;
      bytes = text;  // sent as it is
    } else {
      n = m;
    }
  }
  if (cap && n > kTextCap) {
    if (Ansi() && *err == 0) *err = -1279;
    n = FitChars(bytes, n, kTextCap, bytes == text);
  }
  if (wide) {
    sqli_msg_put_int(n, s);
    sqli_msg_put_padded(bytes, n, s);
  } else {
    sqli_msg_put_string(bytes, n, s);
  }
}

// A Decimal whose digit count is out of range goes as the null decimal.
void PutDecimalChecked(const Decimal* d, SqliMessageStream* s) {
  if (d->ndigits < 0 || d->ndigits > DEC_MAXDIGITS) {
    Decimal null{};
    null.sign = DEC_NULLSIGN;
    sqli_msg_put_decimal(&null, s);
    return;
  }
  sqli_msg_put_decimal(d, s);
}

// A FLOAT or SMALLFLOAT value: in the stream's float format, or as a
// decimal when the connection sends floats as decimals (a value the decimal
// cannot hold keeps -1223 or -1222 for the end of the value).
void PutFloatValue(double x, bool is_double, bool as_decimal, int32_t* err, SqliMessageStream* s) {
  if (as_decimal) {
    Decimal d{};
    if ((is_double ? deccvdbl(x, &d) : deccvflt(x, &d)) != 0 && *err == 0) *err = is_double ? -1223 : -1222;
    PutDecimalChecked(&d, s);
  } else if (is_double) {
    sqli_msg_put_double(x, s);
  } else {
    sqli_msg_put_float(x, s);
  }
}

void PutName(const char* name, int32_t n, SqliMessageStream* s, int32_t* err) {
  if (name == nullptr) n = 0;
  else if (n <= 0) n = static_cast<int32_t>(strlen(name));
  PutText(name, n, false, false, true, s, err);
}

size_t BoundedLen(const char* p, int32_t len) {
  return strnlen(p, static_cast<size_t>(len > 0 ? len : kTextCap));
}

}  // namespace

TV_BEGIN_C

int32_t sqli_bind_item(SqliValueItem* item, struct SqliMessageStream* s) {
  if (item == nullptr || s == nullptr) return -402;
  int32_t low = item->type & 0x7FFF;
  if (item->type == -1) {
    _iqseterr(-402);
    return -402;
  }
  if (low >= 200) return -486;
  int32_t err = 0;
  int32_t wt = sqli_wire_type(item->type, item, 1, item->xid, s);
  int32_t wlow = wt & 0x7FFF;
  if (Xtypes() && (!Builtin(wlow & 0xFF) || (wlow & 0x800) != 0 || wlow > 0xFF)) {
    PutName(item->owner_name, item->owner_name_length, s, &err);
    const char* tname = item->type_name;
    int32_t tlen = item->type_name_length;
    char* built = nullptr;
    if ((tname == nullptr || tlen == 0 || tname[0] == 0) && (low == 118 || low == 123) && item->data != nullptr) {
      // A collection or row without a type name goes by the text of its
      // type description.
      auto* coll = reinterpret_cast<SqliCollection*>(item->data);
      if (coll->cl_typeinfo != nullptr && zel_coll_typetext(coll->cl_typeinfo, 0, &built, 0) >= 0) {
        tname = built;
        tlen = built != nullptr ? static_cast<int32_t>(strlen(built)) : 0;
      }
    }
    PutName(tname, tlen, s, &err);
    free(built);
  }
  if (InputIsNull(item)) {
    sqli_msg_put_short(-1, s);
    sqli_msg_put_short(0, s);
    if (err != 0) _iqseterr(err);
    return err;
  }
  if (item->data == nullptr) {
    // A value said to be there without storage: sent as null, refused.
    sqli_msg_put_short(-1, s);
    sqli_msg_put_short(0, s);
    _iqseterr(-402);
    return -402;
  }
  SqliRuntime* rt = sqli_runtime_get();
  int16_t was_open = rt->outstanding;
  sqli_msg_put_short(0, s);
  rt->outstanding = 1;
  int32_t host = HostLayout(low);
  int32_t st = rtyphosttosql(low);
  const char* p = item->data;
  int32_t len = item->length;
  switch (st) {
    case SQLCHAR: case SQLNCHAR: case SQLVCHAR: case SQLNVCHAR: {
      sqli_msg_put_short(0, s);
      int32_t n = 0;
      if (host == 100 || host == 114) n = static_cast<int32_t>(BoundedLen(p, len));
      else if (host == 108) n = len >= 0 ? len : static_cast<int32_t>(BoundedLen(p, -1));
      else if (host == 109) n = static_cast<int32_t>(strlen(p));
      PutText(p, n, false, st == SQLCHAR || st == SQLNCHAR, true, s, &err);
      break;
    }
    case SQLSMINT: {
      int16_t v;
      memcpy(&v, p, 2);
      sqli_msg_put_short(0x0500, s);
      sqli_msg_put_short(v, s);
      break;
    }
    case SQLINT: case SQLSERIAL: case SQLDATE: {
      int32_t v;
      if (host == 103) {
        int64_t w;
        memcpy(&w, p, 8);
        if (w < INT32_MIN || w > INT32_MAX) {
          // Sent as null would lose the value silently; refuse it.
          if (err == 0) err = -1215;
          w = 0;
        }
        v = static_cast<int32_t>(w);
      } else {
        memcpy(&v, p, 4);
      }
      sqli_msg_put_short(0x0A00, s);
      sqli_msg_put_int(v, s);
      break;
    }
    case SQLFLOAT: case SQLSMFLOAT: {
      double v;
      if (st == SQLFLOAT) {
        memcpy(&v, p, 8);
      } else {
        float f;
        memcpy(&f, p, 4);
        v = f;
      }
      sqli_msg_put_short(0, s);
      PutFloatValue(v, st == SQLFLOAT, FloatsAsDecimals(), &err, s);
      break;
    }
    case SQLDECIMAL: case SQLMONEY: {
      Decimal d;
      memcpy(&d, p, sizeof d);
      sqli_msg_put_short(len, s);
      PutDecimalChecked(&d, s);
      break;
    }
    case SQLDTIME: case SQLINTERVAL: {
      DateTimeValue dt;
      memcpy(&dt, p, sizeof dt);
      sqli_msg_put_short(dt.dt_qual, s);
      PutDecimalChecked(&dt.dt_dec, s);
      break;
    }
    case SQLBYTES: case SQLTEXT: {
      sqli_msg_put_short(0, s);
      unsigned char desc[56] = {};
      if (host == 113) {
        const SqliLocator* loc = reinterpret_cast<const SqliLocator*>(p);
        if (loc->open_flags & 0x20) Be16(16, desc + 38);
      }
      sqli_msg_put_blobdesc(desc, s);
      break;
    }
    case SQLINT8: case SQLSERIAL8: {
      Int8Value v;
      memcpy(&v, p, sizeof v);
      sqli_msg_put_short(0x1300, s);
      sqli_msg_put_int8(&v, s);
      break;
    }
    case SQLBIGINT: case SQLBIGSERIAL: {
      int64_t v;
      memcpy(&v, p, 8);
      sqli_msg_put_short(0x1300, s);
      sqli_msg_put_bigint(v, s);
      break;
    }
    case SQLSET: case SQLMULTISET: case SQLLIST: case SQLROW: case SQLCOLLECTION: {
      sqli_msg_put_short(0, s);
      auto* coll = reinterpret_cast<SqliCollection*>(item->data);
      int rc = zel_coll_tuple(coll);
      if (rc < 0 && err == 0) err = rc;
      rc = sqli_msg_put_complex(coll, s);
      if (rc < 0) {
        if (err == 0) err = rc;
        sqli_msg_put_int(0, s);  // an empty value keeps the request readable
      }
      break;
    }
    case SQLUDTVAR: {
      sqli_msg_put_short(0, s);
      SqliVarValue vv;
      memcpy(&vv, p, sizeof vv);
      int32_t n = vv.data != nullptr && vv.length > 0 ? vv.length : 0;
      sqli_msg_put_int(n, s);
      sqli_msg_put_padded(vv.data, n, s);
      break;
    }
    case SQLUDTFIXED: {
      sqli_msg_put_short(0, s);
      int32_t n = len > 0 ? len : 0;
      sqli_msg_put_int(n, s);
      sqli_msg_put_padded(p, n, s);
      break;
    }
    case SQLLVARCHAR: {
      sqli_msg_put_short(0, s);
      const char* text = p;
      int32_t n;
      if (host == 124 || len == 0) {
        SqliVarValue vv;
        memcpy(&vv, p, sizeof vv);
        text = vv.data;
        n = text != nullptr ? static_cast<int32_t>(strnlen(text, vv.length > 0 ? static_cast<size_t>(vv.length)
                                                                                   : strlen(text)))
                            : 0;
      } else {
        n = static_cast<int32_t>(BoundedLen(p, len));
      }
      PutText(text, n, true, false, true, s, &err);
      break;
    }
    case SQLBOOL: {
      sqli_msg_put_short(0, s);
      sqli_msg_put_int(1, s);
      sqli_msg_put_padded(p, 1, s);
      break;
    }
    default:
      sqli_msg_put_short(0, s);
      if (err == 0) err = -415;
      break;
  }
  rt->outstanding = was_open;
  if (err != 0) _iqseterr(err);
  return err;
}

int32_t sqli_bind_value(SqlValue* v, int32_t floats_as_decimals, struct SqliMessageStream* s) {
  if (v == nullptr || s == nullptr) return -402;
  int32_t err = 0;
  int32_t word = v->v_type;
  int32_t t = v->v_type == SQLV_BYTEAREA ? SQLBYTES : SQLTYPE(v->v_type);
  if (t == SQLUDTFIXED && v->v_attr == 5) t = SQLBOOL;
  if ((t == SQLFLOAT || t == SQLSMFLOAT) && floats_as_decimals) {
    word = SQLDECIMAL;
  } else if (v->v_type == SQLV_BYTEAREA) {
    word = SQLBYTES;
  } else if (t == SQLBOOL) {
    word = (word & ~0xFF) | SQLBOOL;
  }
  sqli_msg_put_short(word, s);
  if (Xtypes()) {
    sqli_msg_put_short(0, s);
    sqli_msg_put_short(0, s);
  }
  sqli_msg_put_short(v->v_ind < 0 ? -1 : 0, s);
  if (v->v_ind < 0) {
    sqli_msg_put_short(0, s);
    return 0;
  }
  SqliRuntime* rt = sqli_runtime_get();
  int16_t was_open = rt->outstanding;
  rt->outstanding = 1;
  switch (t) {
    case SQLCHAR: case SQLNCHAR: case SQLVCHAR: case SQLNVCHAR: {
      sqli_msg_put_short(0, s);
      int32_t n = v->v.text.ptr != nullptr && v->v.text.len > 0 ? v->v.text.len : 0;
      // Text that cannot be converted goes as it is, capped.
      PutText(v->v.text.ptr, n, false, true, true, s, &err);
      break;
    }
    case SQLSMINT:
      sqli_msg_put_short(0x0500, s);
      sqli_msg_put_short(v->v.i4, s);
      break;
    case SQLINT: case SQLSERIAL: case SQLDATE:
      sqli_msg_put_short(0x0A00, s);
      sqli_msg_put_int(v->v.i4, s);
      break;
    case SQLFLOAT: case SQLSMFLOAT: {
      sqli_msg_put_short(0, s);
      PutFloatValue(t == SQLFLOAT ? v->v.f8 : v->v.f4, t == SQLFLOAT, floats_as_decimals, &err, s);
      break;
    }
    case SQLDECIMAL: case SQLMONEY: case SQLDTIME: case SQLINTERVAL:
      sqli_msg_put_short(v->v_len, s);
      PutDecimalChecked(&v->v.dec, s);
      break;
    case SQLBYTES: case SQLTEXT: {
      sqli_msg_put_short(0, s);
      unsigned char desc[56] = {};
      sqli_msg_put_blobdesc(desc, s);
      break;
    }
    case SQLINT8: case SQLSERIAL8:
      sqli_msg_put_short(0x1300, s);
      sqli_msg_put_int8(&v->v.int8, s);
      break;
    case SQLBIGINT: case SQLBIGSERIAL:
      sqli_msg_put_short(0x1300, s);
      sqli_msg_put_bigint(v->v.i8, s);
      break;
    case SQLSET: case SQLMULTISET: case SQLLIST: case SQLROW: case SQLCOLLECTION: {
      sqli_msg_put_short(0, s);
      sqli_msg_put_short(0, s);
      int rc = zel_coll_tuple(&v->v.coll);
      if (rc < 0 && err == 0) err = rc;
      rc = sqli_msg_put_complex(&v->v.coll, s);
      if (rc < 0) {
        if (err == 0) err = rc;
        sqli_msg_put_int(0, s);
      }
      break;
    }
    case SQLUDTVAR: case SQLUDTFIXED: {
      sqli_msg_put_short(0, s);
      int32_t n = v->v.text.ptr != nullptr && v->v.text.len > 0 ? v->v.text.len : 0;
      sqli_msg_put_int(n, s);
      sqli_msg_put_padded(v->v.text.ptr, n, s);
      break;
    }
    case SQLLVARCHAR: {
      sqli_msg_put_short(0, s);
      int32_t n = v->v.text.ptr != nullptr && v->v.text.len > 0 ? v->v.text.len : 0;
      PutText(v->v.text.ptr, n, true, false, true, s, &err);
      break;
    }
    case SQLBOOL: {
      sqli_msg_put_short(0, s);
      sqli_msg_put_int(1, s);
      unsigned char b = v->v.text.ptr != nullptr ? static_cast<unsigned char>(v->v.text.ptr[0]) : 0;
      sqli_msg_put_padded(&b, 1, s);
      break;
    }
    default:
      sqli_msg_put_short(0, s);
      if (err == 0) err = -415;
      break;
  }
  rt->outstanding = was_open;
  if (err != 0) _iqseterr(err);
  return err;
}

int32_t sqli_check_floats(int32_t count, SqliValueItem* items, SqliRuntime*) {
  for (int32_t i = 0; i < count && items != nullptr; ++i) {
    SqliValueItem* it = &items[i];
    int32_t low = it->type & 0x7FFF;
    int32_t st = low >= 200 ? -1 : rtyphosttosql(low);
    if ((st != SQLFLOAT && st != SQLSMFLOAT) || it->data == nullptr || InputIsNull(it)) continue;
    double x;
    if (st == SQLFLOAT) {
      memcpy(&x, it->data, 8);
    } else {
      float f;
      memcpy(&f, it->data, 4);
      x = f;
    }
    if (!rdblfinite(x)) {
      int32_t code = st == SQLSMFLOAT ? -1222 : -1223;
      _iqseterr(code);
      return code;
    }
  }
  return 0;
}

int32_t sqli_req_bind(int32_t code, SqliItemList* list, void* values, SqliRuntime* rt) {
  if (rt == nullptr) rt = sqli_runtime_get();
  rt->large_value_count = 0;
  if (list == nullptr || list->count <= 0) return 0;
  SqliMessageStream* s = sqli_cur_stream();
  if (s == nullptr) return -1;
  SqlValue* array = static_cast<SqlValue*>(values);
  if (array == nullptr) {
    // Collection and row values are checked before any value is written.
    int32_t rc = sqli_coll_check_idlen(list->count, list->items);
    if (rc < 0) return rc;
  }
  if (array == nullptr) {
    int32_t rc = sqli_check_floats(list->count, list->items, rt);
    if (rc < 0) return rc;
  }
  bool as_decimals = FloatsAsDecimals();
  if (code == SQLI_REQ_BIND) sqli_msg_put_short(SQLI_REQ_BIND, s);
  sqli_msg_put_short(list->count, s);
  for (int32_t i = 0; i < list->count; ++i) {
    int32_t rc = 0;
    int32_t sql_type = -1;
    bool null = false;
    if (array != nullptr) {
      SqlValue* v = &array[i];
      rc = sqli_bind_value(v, as_decimals, s);
      sql_type = v->v_type == SQLV_BYTEAREA ? SQLV_BYTEAREA : rtypsqltohost(SQLTYPE(v->v_type));
      null = v->v_ind < 0;
    } else {
      SqliValueItem* it = &list->items[i];
      int32_t low = it->type & 0x7FFF;
      if (it->type == -1 || (it->data == nullptr && it->indicator == nullptr && it->ind_data == nullptr)) {
        _iqseterr(-402);
        return -402;
      }
      if (low >= 200) {
        SqlValue v;
        memset(&v, 0, sizeof v);
        bool has = false;
        int16_t ind = InputIndicator(it, &has);
        // Types of 200 and up reach the value routines through an SqlValue.
        if (rhosttoval(it->data, low, &v, it->length, has ? &ind : nullptr) != 0) {
          _iqseterr(-486);
          return -486;
        }
        rc = sqli_bind_value(&v, as_decimals, s);
        null = v.v_ind < 0;
        sql_type = low;
      } else {
        null = InputIsNull(it);
        rc = sqli_bind_item(it, s);
        sql_type = low < 54 ? rtypsqltohost(low) : low;
      }
    }
    if (rc < 0) return rc;
    if (!null && (sql_type == 113 || sql_type == 116)) ++rt->large_value_count;
  }
  return 0;
}

TV_END_C
