// PUT values: one host variable stored into its column of an insert
// cursor's row buffer, in the stored form the server reads.
//
//   column type          stored form (null form)
//   CHAR, NCHAR          the bytes, blank-padded (first byte 0, blanks)
//   SMALLINT             2 bytes big-endian (-32768)
//   INTEGER, SERIAL,     4 bytes big-endian (-2147483648)
//   DATE
//   FLOAT, SMALLFLOAT    8 / 4 bytes in the connection's float format
//                        (all bits set)
//   DECIMAL, MONEY       packed decimal of ((w & 1) + (w >> 8) + 3) / 2
//                        bytes for length word w (the null decimal)
//   VARCHAR, NVARCHAR    length byte, bytes (length 1 and a zero byte)
//   INT8, SERIAL8        10 bytes
//   opaque, LVARCHAR,    null-flag byte, 32-bit big-endian length, bytes
//   BOOLEAN
//   BIGINT, BIGSERIAL    8 bytes big-endian (0x8000000000000000)
//   BYTE, TEXT           56-byte large-value descriptor, all zero but
//                        the 16-bit word at 38: 16 for a locator whose
//                        value came from a descriptor (1: null); the
//                        value itself follows the row (code 41)
//
// Pairs of other types go through an SqlValue and the stored-form writer.
#include <string.h>

#include "base/fields.h"
#include "sqlruntime/blobs.h"
#include "sqlruntime/hostvalues.h"
#include "sqlruntime/hostvalues_internal.h"
#include "sqltypes/decimal.h"
#include "sqltypes/value_stored.h"

using namespace sqli_hv;

namespace {

constexpr int32_t kLvarRoom = 32739;

int32_t Fail(int32_t code) {
  _iqseterr(code);
  return -1;
}

int32_t HostLayout(int32_t low) {
  if (low == SQLINT || low == SQLSERIAL) return 102;
  if (low >= 0 && low <= 53) return rtypsqltohost(low);
  return low;
}

size_t TextLen(const char* p, int32_t len) {
  return p == nullptr ? 0 : strnlen(p, static_cast<size_t>(len > 0 ? len : 32767));
}

}  // namespace

TV_BEGIN_C

int32_t sqli_put_store_value(SqlValue* v, unsigned char* pos, int32_t column_type, int32_t column_length,
                             int32_t distinct, int32_t source_type, int32_t source_length, int32_t value_length) {
  int32_t ct = column_type & 0xFF;
  int32_t vt = v->v_type == SQLV_BYTEAREA ? SQLBYTES : SQLTYPE(v->v_type);
  bool special_col = ct == SQLUDTVAR || ct == SQLUDTFIXED || ct == SQLLVARCHAR || ct == SQLBOOL || CollType(ct);
  bool special_val = vt == SQLUDTVAR || vt == SQLUDTFIXED || vt == SQLLVARCHAR || vt == SQLBOOL;
  int32_t type = ct;
  bool own_length = false;
  if (special_col || special_val) {
    if ((ct >= SQLSET && ct <= SQLROW) || ct == SQLUDTVAR || ct == SQLUDTFIXED || ct == SQLBOOL) {
      type = ct == vt ? ct : vt;
    } else if (ct == SQLLVARCHAR) {
      type = Builtin(vt) ? ct : vt;
    } else {
      type = (vt == SQLUDTVAR || vt == SQLUDTFIXED || vt == SQLBOOL) ? vt : ct;
    }
    own_length = true;
  } else if ((ct == SQLVCHAR || ct == SQLNVCHAR) && Unpadded()) {
    own_length = true;
  }
  int32_t len = column_length;
  if (own_length) {
    int32_t vlen = value_length;
    if (CharType(vt)) {
      if ((vt == SQLVCHAR || vt == SQLNVCHAR) && Unpadded()) {
        vlen = v->v_ind < 0 ? 1 : v->v.text.len;
        v->v.text.flags |= SQLV_PADNUL;
      } else {
        v->v.text.flags |= SQLV_PADNUL;
        vlen = column_length;
      }
    } else if (vlen <= 0) {
      vlen = sqlv_istext(vt) ? v->v.text.len : column_length;
    }
    int32_t lw = vlen;
    int32_t size = sqli_wire_size(type, distinct, source_type, source_length, v->v_len, vlen, &lw);
    len = size > 0 || lw != 0 ? lw : vlen;
  }
  if ((type == SQLVCHAR || type == SQLNVCHAR) && len > 255) len = 255;
  int32_t rc = rvaltodata(v, pos, type | (column_type & SQL_NOTNULL_FLAG), len);
  if (rc < 0) {
    sqli_status.code = rc;
    _iqseterr(rc);
  }
  return rc;
}

int32_t sqli_put_store(SqliCursor*, SqliValueItem* item, unsigned char* pos, int32_t column_type,
                       int32_t column_length, int32_t distinct, int32_t source_type, int32_t source_length) {
  if (item == nullptr || pos == nullptr) return Fail(-402);
  int32_t low = item->type & 0x7FFF;
  if (low == 113 || low == 116) {
    // A locator or a file name: the row carries only the descriptor.
    int32_t ct = column_type & 0xFF;
    if (ct != SQLBYTES && ct != SQLTEXT) return Fail(-608);
    bool null = InputIsNull(item);
    memset(pos, 0, 56);
    int32_t flags = 0;
    if (null) flags = 1;
    else if (low == 113 && item->data != nullptr &&
             (reinterpret_cast<const SqliLocator*>(item->data)->open_flags & SQLI_LOC_FROM_DESC)) flags = 16;
    Be16(flags, pos + 38);
    return 0;
  }
  int32_t ht;
  if (low >= 0 && low < 54) ht = low;
  else if (low >= 100 && low <= 125) ht = rtyphosttosql(low == 102 ? 103 : low);
  else if (low >= 200) ht = -2;
  else return Fail(-415);
  if (ht == -1) return Fail(-415);
  int32_t ct = column_type & 0xFF;
  bool null = InputIsNull(item);
  int32_t host = HostLayout(low);
  const char* p = item->data;
  int32_t w = column_length;
  if (ht == ct && p != nullptr) {
    switch (ct) {
      case SQLCHAR: case SQLNCHAR: {
        if (w <= 0) return 0;
        if (null) {
          pos[0] = 0;
          memset(pos + 1, ' ', static_cast<size_t>(w - 1));
          return 0;
        }
        int32_t n = host == 108 ? item->length : static_cast<int32_t>(host == 109 ? strlen(p) : TextLen(p, item->length));
        int32_t fit = sqli_mb_fit(p, n, w);
        if (fit < 0) return Fail(fit);
        memcpy(pos, p, static_cast<size_t>(fit));
        memset(pos + fit, ' ', static_cast<size_t>(w - fit));
        return 0;
      }
      case SQLSMINT: {
        int16_t v = -32768;
        if (!null) memcpy(&v, p, 2);
        Be16(v, pos);
        return 0;
      }
      case SQLINT: case SQLSERIAL: case SQLDATE: {
        int64_t v = INT32_MIN;
        if (!null) {
          if (host == 103) {
            memcpy(&v, p, 8);
            // A value beyond 32 bits would be stored cut: refuse it.
            if (v < INT32_MIN || v > INT32_MAX) return Fail(-1215);
          } else {
            int32_t x;
            memcpy(&x, p, 4);
            v = x;
          }
        }
        Be32(v, pos);
        return 0;
      }
      case SQLFLOAT: {
        if (null) {
          memset(pos, 0xFF, 8);
          return 0;
        }
        double d;
        memcpy(&d, p, 8);
        stmdouble(d, pos, FloatFlag());
        return 0;
      }
      case SQLSMFLOAT: {
        if (null) {
          memset(pos, 0xFF, 4);
          return 0;
        }
        float f;
        memcpy(&f, p, 4);
        stmfloat(f, pos, FloatFlag());
        return 0;
      }
      case SQLDECIMAL: case SQLMONEY: {
        int32_t size = PackedSize(w);
        Decimal d;
        if (null) {
          memset(&d, 0, sizeof d);
          d.sign = DEC_NULLSIGN;
        } else {
          memcpy(&d, p, sizeof d);
          if (d.ndigits < 0 || d.ndigits > DEC_MAXDIGITS) return Fail(-415);
          if (decfitprec(&d, w) != 0) return Fail(-1226);
        }
        memset(pos, 0, static_cast<size_t>(size));
        if (stdecimal(&d, pos, size) < 0) return Fail(-1226);
        return 0;
      }
      case SQLVCHAR: case SQLNVCHAR: {
        int32_t room = w & 0xFF;
        if (null) {
          pos[0] = 1;
          pos[1] = 0;
          if (!Unpadded() && room > 1) memset(pos + 2, 0, static_cast<size_t>(room - 1));
          return 0;
        }
        int32_t n = static_cast<int32_t>(host == 109 ? strlen(p) : TextLen(p, item->length));
        if (host == 108) n = item->length;
        int32_t fit;
        if (Unpadded()) {
          fit = n > 255 ? 255 : n;
        } else {
          fit = sqli_mb_fit(p, n, room);
          if (fit < 0) return Fail(fit);
        }
        pos[0] = static_cast<unsigned char>(fit);
        memcpy(pos + 1, p, static_cast<size_t>(fit));
        if (!Unpadded() && fit < room) memset(pos + 1 + fit, 0, static_cast<size_t>(room - fit));
        return 0;
      }
      case SQLINT8: case SQLSERIAL8: {
        Int8Value v;
        if (null) {
          memset(&v, 0, sizeof v);
          v.sign = 0;
        } else {
          memcpy(&v, p, sizeof v);
        }
        stint8(&v, pos);
        return 0;
      }
      case SQLUDTVAR: {
        SqliVarValue vv;
        memcpy(&vv, p, sizeof vv);
        stvarval(pos, vv.data, null || vv.data == nullptr ? 0 : vv.length, null ? 1 : 0);
        return 0;
      }
      case SQLUDTFIXED:
        stvarval(pos, p, null ? 0 : item->length, null ? 1 : 0);
        return 0;
      case SQLLVARCHAR: {
        const char* text = p;
        int32_t n;
        if (host == 124 || item->length == 0) {
          SqliVarValue vv;
          memcpy(&vv, p, sizeof vv);
          text = vv.data;
          n = text != nullptr && vv.length > 0 ? static_cast<int32_t>(strnlen(text, static_cast<size_t>(vv.length)))
                                                : 0;
        } else {
          n = static_cast<int32_t>(TextLen(p, item->length));
        }
        if (null) {
          stvarval(pos, nullptr, 0, 1);
          return 0;
        }
        int32_t fit = sqli_mb_fit(text, n, kLvarRoom);
        if (fit < 0) return Fail(fit);
        stvarval(pos, text, fit, 0);
        return 0;
      }
      case SQLBOOL:
        stvarval(pos, p, null ? 0 : 1, null ? 1 : 0);
        return 0;
      case SQLBIGINT: case SQLBIGSERIAL: {
        int64_t v = INT64_MIN;
        if (!null) memcpy(&v, p, 8);
        Be64(v, pos);
        return 0;
      }
      default:
        break;
    }
  }
  SqlValue v;
  memset(&v, 0, sizeof v);
  bool has = false;
  int16_t ind = InputIndicator(item, &has);
  if (null) ind = -1;
  else if (has && ind > 0) ind = 0;
  if (rhosttoval(item->data, low, &v, item->length, (has || null) ? &ind : nullptr) != 0) return Fail(-415);
  int32_t vlen = sqlv_istext(sqlv_type(&v)) ? v.v.text.len : item->length;
  int32_t rc = sqli_put_store_value(&v, pos, column_type, column_length, distinct, source_type, source_length, vlen);
  return rc < 0 ? -1 : 0;
}

TV_END_C
