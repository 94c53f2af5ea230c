// Row unpack: the columns of the fetched row at a cursor's buffer position
// moved into the program's host variables.
//
// The row holds the columns one after another in their stored forms:
//
//   column type                      stored size for length word w
//   DECIMAL, MONEY, DATETIME,        ((w & 1) + (w >> 8 & 0xFF) + 3) / 2
//   INTERVAL
//   VARCHAR, NVARCHAR                (w & 0xFF) + 1; the actual length + 1
//                                    when VARCHAR travels unpadded
//   opaque, LVARCHAR, BOOLEAN        null byte, 32-bit length, bytes
//   collections and rows             32-bit length, bytes
//   all others                       w
//
// Fixed types are moved straight from the row, and so are CHAR and
// VARCHAR into NUL-terminated texts when no conversion or cut is due;
// pairs of other types go through an SqlValue.
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include <initializer_list>

#include "base/fields.h"
#include "base/thread_state.h"
#include "sqlruntime/blobs.h"
#include "sqlruntime/descriptors.h"
#include "sqlruntime/hostvalues.h"
#include "sqlruntime/hostvalues_internal.h"
#include "sqltypes/collection.h"
#include "sqltypes/decimal.h"
#include "sqltypes/value_null.h"
#include "sqltypes/value_stored.h"

using namespace sqli_hv;

namespace {

constexpr int32_t kIndCap = 32767;

struct Target {
  SqliValueItem* item;
  int32_t type;  // host or SQL type code without the top bit
  int32_t sql;   // its SQL type
  bool holder;   // data is an SqliVarValue
};

// The null pattern of stored floats: every bit set.
bool AllOnes(const unsigned char* p, int n) {
  for (int i = 0; i < n; ++i) {
    if (p[i] != 0xFF) return false;
  }
  return true;
}

bool BlanksNotNull() {
  SqliRuntime* rt = sqli_runtime_get();
  return rt != nullptr && (rt->options & SQLI_OPT_BLANKS_NOT_NULL) != 0;
}

// What the moves of one row read from the runtime and its connection,
// looked up once per row rather than once per column.
struct RowEnv {
  SqliRuntime* rt;
  bool unpadded;          // VARCHAR travels without padding
  GlConverter* from_server;  // the server's texts need converting
  bool direct;            // no type check was sent: stored forms are the columns'
};

// Bytes of one stored column (see the table at the top).
inline int32_t StoredSize(int32_t type, int32_t w, const unsigned char* stored, int32_t available, bool unpadded) {
  switch (type & 0xFF) {
    case SQLDECIMAL: case SQLMONEY: case SQLDTIME: case SQLINTERVAL: return PackedSize(w);
    case SQLVCHAR: case SQLNVCHAR:
      if (unpadded) return available >= 1 && stored != nullptr ? stored[0] + 1 : -1;
      return (w & 0xFF) + 1;
    case SQLUDTVAR: case SQLUDTFIXED: case SQLLVARCHAR: case SQLBOOL: {
      if (available < 5 || stored == nullptr) return -1;
      int32_t n = Ld32(stored + 1);
      return n < 0 || n > INT32_MAX - 5 ? -1 : n + 5;
    }
    case SQLSET: case SQLMULTISET: case SQLLIST: case SQLROW: case SQLCOLLECTION: {
      if (available < 4 || stored == nullptr) return -1;
      int32_t n = Ld32(stored);
      return n < 0 || n > INT32_MAX - 4 ? -1 : n + 4;
    }
    default: return w;
  }
}

inline int32_t Load32(const unsigned char* p) {
  return static_cast<int32_t>((static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
                              (static_cast<uint32_t>(p[2]) << 8) | p[3]);
}

// The stored DECIMAL or MONEY form of at most 16 digit bytes read into
// *out as lddecimal reads it: the sign and excess-64 exponent byte, the
// base-100 digits (the 100's complement for negative values), trailing
// and leading zero digits dropped. 0 when read; -1 for the forms left to
// lddecimal (null, zero, a bad digit byte, an exponent out of range).
int LoadShortDecimal(const unsigned char* s, int32_t length, Decimal* out) {
  int32_t n = length - 1;
  if (n < 1 || n > DEC_MAXDIGITS || (s[0] == 0 && s[1] == 0)) return -1;
  unsigned char d[DEC_MAXDIGITS];
  for (int32_t i = 0; i < n; ++i) {
    d[i] = s[i + 1];
    if (d[i] > 99) return -1;
  }
  int32_t exponent;
  int16_t sign;
  if (s[0] & 0x80) {
    sign = DEC_POS;
    exponent = (s[0] & 0x7F) - 64;
  } else {
    sign = DEC_NEG;
    exponent = (s[0] ^ 0x7F) - 64;
    int32_t last = n - 1;
    while (last >= 0 && d[last] == 0) --last;
    if (last >= 0) {
      d[last] = static_cast<unsigned char>(100 - d[last]);
      for (int32_t i = 0; i < last; ++i) d[i] = static_cast<unsigned char>(99 - d[i]);
    }
  }
  while (n > 0 && d[n - 1] == 0) --n;
  int32_t first = 0;
  while (first < n && d[first] == 0) ++first;
  exponent -= first;
  n -= first;
  if (n == 0 || exponent < DEC_MINEXP || exponent > DEC_MAXEXP) return -1;
  memset(out->digits, 0, sizeof out->digits);
  memcpy(out->digits, d + first, static_cast<size_t>(n));
  out->ndigits = static_cast<int16_t>(n);
  out->sign = sign;
  out->exponent = static_cast<int16_t>(exponent);
  return 0;
}

// Straight moves of the common pairs of a built-in column and a host
// type, giving what the general moves below give for them. 1 when the
// column was moved (*ind set, *size the stored bytes), 0 when the pair or
// this value is left to the general moves: a text that is cut or
// converted, a decimal that must be fitted and does not fit, a target of
// no room, a column whose bytes do not lie within the available ones.
int FastMove(const RowEnv& env, int32_t ct, int32_t w, const unsigned char* p, ptrdiff_t available, SqliValueItem* it,
             int32_t tt, bool desc_mode, int16_t* ind, int32_t* size) {
  char* dst = it->data;
  const int32_t a = it->length;
  switch (ct) {
    case SQLCHAR: case SQLNCHAR: {
      // CHAR into a NUL-terminated text: the column's bytes, blank-padded
      // to the room, a NUL after the room.
      if (tt != 100 && tt != SQLCHAR && tt != SQLNCHAR) return 0;
      if (w < 1 || w > available) return 0;
      *size = w;
      if (p[0] == 0) {
        if (a > 0) dst[0] = 0;
        *ind = -1;
        return 1;
      }
      if (env.from_server != nullptr || a <= 1) return 0;
      const int32_t room = desc_mode ? a : a - 1;
      if (w > room || w < 0) return 0;
      memcpy(dst, p, static_cast<size_t>(w));
      memset(dst + w, ' ', static_cast<size_t>(room - w));
      dst[room] = 0;
      *ind = 0;
      return 1;
    }
    case SQLVCHAR: case SQLNVCHAR: {
      // VARCHAR into host type 100: the value blank-padded to the length
      // less one and a NUL.
      if (tt != 100 || a <= 1 || available < 1) return 0;
      *size = env.unpadded ? p[0] + 1 : (w & 0xFF) + 1;
      if (*size > available) return 0;
      int32_t n = p[0];
      if ((w & 0xFF) != 0 && n > (w & 0xFF)) n = w & 0xFF;
      if (n == 1 && p[1] == 0) {
        dst[0] = 0;
        *ind = -1;
        return 1;
      }
      const int32_t chars = a - 1;
      if (n > chars || (env.from_server != nullptr && n > 0)) return 0;
      memcpy(dst, p + 1, static_cast<size_t>(n));
      memset(dst + n, ' ', static_cast<size_t>(chars - n));
      dst[chars] = 0;
      *ind = 0;
      return 1;
    }
    case SQLINT: case SQLSERIAL: case SQLDATE: {
      // INTEGER, SERIAL and DATE into their own host types or 103.
      if (w != 4 || available < 4 || (tt != 103 && rtyphosttosql(tt) != ct)) return 0;
      *size = 4;
      const int32_t v = Load32(p);
      if (v == INT32_MIN) {
        rsetnull(tt, dst);
        *ind = -1;
      } else if (tt == 103) {
        const int64_t x = v;
        memcpy(dst, &x, 8);
        *ind = 0;
      } else {
        memcpy(dst, &v, 4);
        *ind = 0;
      }
      return 1;
    }
    case SQLDECIMAL: case SQLMONEY: {
      // DECIMAL into 107 and MONEY into 111: the stored value, fitted to
      // the host precision unless the host length is the column's or the
      // size of the decimal form.
      const bool own = ct == SQLDECIMAL ? (tt == 107 || tt == SQLDECIMAL) : (tt == 111 || tt == SQLMONEY);
      if (!own) return 0;
      *size = PackedSize(w);
      if (*size > available) return 0;
      Decimal d;
      memset(&d, 0, sizeof d);
      const int32_t stored = stored_decimal_size(w);
      if (LoadShortDecimal(p, stored, &d) != 0 && lddecimal(p, stored, &d) != 0) return 0;
      if (d.sign == DEC_NULLSIGN) {
        rsetnull(tt, dst);
        *ind = -1;
        return 1;
      }
      if (a != w && a != static_cast<int32_t>(sizeof(Decimal)) && a != static_cast<uint16_t>(w)) {
        if (decfitprec(&d, a) != 0) return 0;
      }
      memcpy(dst, &d, sizeof d);
      *ind = 0;
      return 1;
    }
    default:
      return 0;
  }
}

// Cuts trailing blanks, keeping at least one byte.
int32_t TrimBlanks(const char* p, int32_t n) {
  while (n > 1 && p[n - 1] == ' ') --n;
  return n;
}

// Text of a CHAR or VARCHAR column into a text target. fixed: CHAR rules
// (blank padding, indicator the column length when cut); else VARCHAR rules.
int32_t MoveText(const Target& t, const unsigned char* src, int32_t n, int32_t colw, bool fixed, bool desc_mode,
                 int16_t* ind) {
  char* dst = t.item->data;
  int32_t tl = t.item->length;
  bool nul = t.type != 108;
  *ind = 0;
  if (fixed && tl == 1 && nul) {
    dst[0] = 0;
    *ind = static_cast<int16_t>(colw > kIndCap ? kIndCap : colw);
    return 0;
  }
  int32_t room = tl;
  if (nul && !desc_mode) room -= 1;
  if (room <= 0) room = fixed ? colw : (colw & 0xFF);
  const char* bytes = reinterpret_cast<const char*>(src);
  int32_t err = 0;
  int32_t m = ConvertIn(bytes, n, &bytes, &err);
  if (m < 0) return err;
  int32_t fit = m;
  bool cut = false;
  if (m > room) {
    fit = FitChars(bytes, m, room, true);
    cut = true;
  }
  memcpy(dst, bytes, static_cast<size_t>(fit));
  int32_t end = fit;
  if (fixed) {
    if (fit < room) memset(dst + fit, ' ', static_cast<size_t>(room - fit));
    end = room;
  }
  if (t.type == 109 && BlanksNotNull()) end = TrimBlanks(dst, end);
  if (nul) dst[end] = 0;
  if (cut) {
    int32_t whole = fixed ? colw : n;
    *ind = static_cast<int16_t>(whole > kIndCap ? kIndCap : whole);
  }
  return 0;
}

// Stores a variable-length value into a var holder: 0, -406 or -1821.
int32_t ToHolder(SqliVarValue* vv, const char* bytes, int32_t n, bool null, bool lvarchar) {
  if (null || n == 0) {
    vv->flags = static_cast<int16_t>(vv->flags | SQLI_VV_NULL);
    vv->length = 0;
    if (null) return 0;
  } else {
    vv->flags = static_cast<int16_t>(vv->flags & ~SQLI_VV_NULL);
  }
  int32_t need = n + (lvarchar ? 1 : 0);
  if (need > vv->size || vv->data == nullptr) {
    if ((vv->flags & SQLI_VV_OWNED) == 0 && vv->data != nullptr) return -1821;
    if ((vv->flags & SQLI_VV_OWNED) == 0 && vv->size != 0) return -1821;
    char* d = static_cast<char*>(realloc(vv->data, static_cast<size_t>(need > 0 ? need : 1)));
    if (d == nullptr) return -406;
    vv->data = d;
    vv->size = need;
    vv->flags = static_cast<int16_t>(vv->flags | SQLI_VV_OWNED);
  }
  if (n > 0) memcpy(vv->data, bytes, static_cast<size_t>(n));
  if (lvarchar) vv->data[n] = 0;
  vv->length = need;
  return 0;
}

// The variable forms: opaque, LVARCHAR and BOOLEAN columns (or collections
// sent as bytes) into their targets.
int32_t MoveVariable(Target& t, int32_t ct, const unsigned char* p, int16_t* ind) {
  bool null;
  int32_t n;
  const char* bytes;
  if (CollType(ct)) {
    n = Ld32(p);
    bytes = reinterpret_cast<const char*>(p + 4);
    null = false;
  } else {
    null = (p[0] & 1) != 0;
    n = Ld32(p + 1);
    bytes = reinterpret_cast<const char*>(p + 5);
  }
  *ind = null ? -1 : 0;
  SqliValueItem* it = t.item;
  if (t.type == SQLBOOL || t.type == 122) {
    it->data[0] = static_cast<char>(null || n < 1 ? 0xFF : bytes[0]);
    return 0;
  }
  if (t.type == SQLUDTFIXED || t.type == 120) {
    if (null) return 0;
    if (it->length < n) return -1821;
    memcpy(it->data, bytes, static_cast<size_t>(n));
    return 0;
  }
  bool lvar = t.sql == SQLLVARCHAR || t.type == 119 || t.type == 124;
  if (t.holder) {
    int32_t m = n;
    if (lvar && !null) {
      int32_t err = 0;
      m = ConvertIn(bytes, n, &bytes, &err);
      if (m < 0) return err;
    }
    SqliVarValue vv;
    memcpy(&vv, it->data, sizeof vv);
    int32_t rc = ToHolder(&vv, bytes, m, null, lvar);
    memcpy(it->data, &vv, sizeof vv);
    return rc;
  }
  // NUL-terminated LVARCHAR text.
  if (null) {
    if (it->data != nullptr && it->length > 0) it->data[0] = 0;
    return 0;
  }
  int32_t err = 0;
  int32_t m = ConvertIn(bytes, n, &bytes, &err);
  if (m < 0) return err;
  SqliRuntime* rt = sqli_runtime_get();
  if (rt->lvarchar_mode && (it->data == nullptr || (it->flags & SQLI_IF_DATA_OWNED))) {
    char* d = static_cast<char*>(realloc(it->data, static_cast<size_t>(m) + 1));
    if (d == nullptr) return -406;
    it->data = d;
    it->length = m + 1;
    it->flags |= SQLI_IF_DATA_OWNED;
  }
  int32_t room = it->length - 1;
  if (room < 0) room = 0;
  int32_t fit = m > room ? FitChars(bytes, m, room, true) : m;
  if (it->data == nullptr) return -402;
  memcpy(it->data, bytes, static_cast<size_t>(fit));
  it->data[fit] = 0;
  if (fit < m) *ind = static_cast<int16_t>(m > kIndCap ? kIndCap : m);
  return 0;
}

// Everything else: the stored value read into an SqlValue and moved by the
// value routines.
int32_t MoveGeneral(const Target& t, int32_t ct, int32_t w, const unsigned char* p, int16_t* ind) {
  SqlValue v;
  memset(&v, 0, sizeof v);
  int32_t rc = rdataval(p, ct, w, &v);
  if (rc < 0) return rc;
  char* converted = nullptr;
  if (sqlv_istext(ct) && v.v_ind >= 0 && FromServer() != nullptr && v.v.text.len > 0) {
    int32_t n = v.v.text.len;
    if (cvt_newbuf(FromServer(), v.v.text.ptr, &n, &converted) < 0 || converted == nullptr) {
      int32_t e = rgetglerror();
      free(converted);
      return e != 0 ? e : -23113;
    }
    v.v.text.ptr = converted;
    v.v.text.len = static_cast<int32_t>(strlen(converted));
  }
  *ind = 0;
  rc = rvaltohost(&v, t.item->data, t.item->type & 0x7FFF, t.item->length, ind);
  free(converted);
  if (rc == -1207) rc = 0;
  return rc;
}

// Moves one column into one target: 0 or an error code; *ind gets the
// indicator.
int32_t MoveColumn(SqliCursor* c, int32_t i, Target& t, int32_t ct, int32_t w, const unsigned char* p, int32_t mode,
                   int16_t* ind) {
  *ind = 0;
  SqliValueItem* it = t.item;
  bool desc_mode = (mode & 0x2) != 0;
  int32_t tt = t.type;
  int32_t ts = t.sql;
  const SqliValueItem* check = (c->check_items != nullptr && i < c->check_count) ? &c->check_items[i] : nullptr;
  bool col_special = OpaqueLike(ct) || CollType(ct);
  bool tgt_special = OpaqueLike(ts) || CollType(ts) || tt == 124;
  // Agreement with the type-check item.
  if (((c->flags & SQLI_CF_CHECK_SENT) != 0 || col_special || tgt_special) && check != nullptr &&
      (check->flags & SQLI_IF_CHECK) != 0) {
    if (check->type_name != nullptr && it->type_name != nullptr && strcmp(check->type_name, it->type_name) != 0)
      return -1820;
    if (CharType(ts) || ts == SQLLVARCHAR) {
      // The item was announced with or without the NUL, by the kind of
      // the check: either reading agrees.
      bool ok = false;
      for (int32_t flags : {0, 0x20}) {
        int32_t tl = CheckLength(it, flags);
        ok = ok || tl == check->length || (ts == SQLLVARCHAR && tl == check->length + 1) ||
             ((ts == SQLVCHAR || ts == SQLNVCHAR) && it->length > 255 && check->length == 255);
      }
      if (!ok && it->length != 0) return -1820;
    }
  }
  if (CollType(ct) && CharType(ts)) {
    // The server sent the collection as text of the target's type.
    int32_t lw = 0;
    sqli_wire_size(ts, 0, 0, 0, 0, it->length, &lw);
    ct = ts;
    w = lw;
  } else if (OpaqueLike(ct) || OpaqueLike(ts) || tt == 124 || tt == 119) {
    if (check != nullptr && (check->flags & SQLI_IF_CHECK) == 0 && (OpaqueLike(ct) || OpaqueLike(ts)) &&
        (c->flags & SQLI_CF_CHECK_SENT) != 0)
      return -1820;
    bool lvar_target = ts == SQLLVARCHAR || tt == 119 || tt == 124;
    if (lvar_target) {
      if (OpaqueLike(ct) || CollType(ct)) return MoveVariable(t, ct, p, ind);
      if (t.holder) {
        // A built-in column into a var holder goes as its text.
        SqlValue v;
        memset(&v, 0, sizeof v);
        int32_t rc = rdataval(p, ct, w, &v);
        if (rc < 0) return rc;
        if (v.v_ind < 0) {
          SqliVarValue vv;
          memcpy(&vv, it->data, sizeof vv);
          ToHolder(&vv, nullptr, 0, true, true);
          memcpy(it->data, &vv, sizeof vv);
          *ind = -1;
          return 0;
        }
        int32_t width = rtypwidth(ct, w) + 1;
        char* buf = static_cast<char*>(malloc(static_cast<size_t>(width > 0 ? width : 1) + 64));
        if (buf == nullptr) return -406;
        int16_t sub = 0;
        rc = rvaltohost(&v, buf, 100, width + 64, &sub);
        if (rc == 0) {
          SqliVarValue vv;
          memcpy(&vv, it->data, sizeof vv);
          rc = ToHolder(&vv, buf, static_cast<int32_t>(strlen(buf)), false, true);
          memcpy(it->data, &vv, sizeof vv);
        }
        free(buf);
        return rc;
      }
      Target as_char = t;
      as_char.type = 100;
      as_char.sql = SQLCHAR;
      SqliRuntime* rt = sqli_runtime_get();
      if (rt->lvarchar_mode && (it->data == nullptr || (it->flags & SQLI_IF_DATA_OWNED))) {
        int32_t width = rtypwidth(ct, w) + 1;
        char* d = static_cast<char*>(realloc(it->data, static_cast<size_t>(width > 0 ? width : 1)));
        if (d == nullptr) return -406;
        it->data = d;
        it->length = width;
        it->flags |= SQLI_IF_DATA_OWNED;
      }
      SqliValueItem copy = *it;
      copy.type = 100;
      as_char.item = &copy;
      int32_t rc = MoveGeneral(as_char, ct, w, p, ind);
      return rc;
    }
    if (OpaqueLike(ts) || tt == 120 || tt == 121 || tt == 122) return MoveVariable(t, ct, p, ind);
    if (ct == SQLLVARCHAR) {
      bool null = (p[0] & 1) != 0;
      int32_t n = Ld32(p + 1);
      SqlValue v;
      memset(&v, 0, sizeof v);
      v.v_type = SQLCHAR;
      v.v_ind = 0;
      v.v.text.ptr = const_cast<char*>(reinterpret_cast<const char*>(p + 5));
      v.v.text.len = null ? 0 : n;
      char* converted = nullptr;
      if (FromServer() != nullptr && v.v.text.len > 0) {
        int32_t m = v.v.text.len;
        if (cvt_newbuf(FromServer(), v.v.text.ptr, &m, &converted) < 0 || converted == nullptr) {
          free(converted);
          int32_t e = rgetglerror();
          return e != 0 ? e : -23113;
        }
        v.v.text.ptr = converted;
        v.v.text.len = static_cast<int32_t>(strlen(converted));
      }
      int32_t rc = rvaltohost(&v, it->data, tt, it->length, ind);
      free(converted);
      return rc == -1207 ? 0 : rc;
    }
    // The column came in the target's own form.
    int32_t wire = sqli_wire_type(it->type, it, 0, it->xid, nullptr) & 0xFF;
    int32_t form = ts;
    if (wire == SQLDECIMAL) form = SQLDECIMAL;
    if (ts == SQLBYTES) form = wire;
    int32_t qual = it->length;
    if (ts == SQLDTIME || ts == SQLINTERVAL) {
      int16_t vq;
      memcpy(&vq, it->data, sizeof vq);
      if (vq != qual) {
        if (qual == 0) qual = vq;
        else if (vq != 0) return -1820;
      }
    }
    int32_t lw = 0;
    sqli_wire_size(form, 0, 0, 0, qual, it->length, &lw);
    if (check != nullptr && (check->type & SQL_NOTNULL_FLAG)) lw -= 1;
    ct = form;
    w = lw;
  }
  switch (ct) {
    case SQLCHAR: case SQLNCHAR:
      if (tt == SQLCHAR || tt == SQLNCHAR || tt == 100 || tt == 108 || (tt == 109 && BlanksNotNull())) {
        if (p[0] == 0) {
          if (it->length > 0 && tt != 108) it->data[0] = 0;
          else if (tt == 108 && it->length > 0) memset(it->data, ' ', static_cast<size_t>(it->length));
          *ind = -1;
          return 0;
        }
        return MoveText(t, p, w, w, true, desc_mode, ind);
      }
      break;
    case SQLSMINT:
      if (tt == SQLSMINT || tt == 101) {
        int16_t v = static_cast<int16_t>(Ld16(p));
        if (v == -32768) {
          rsetnull(tt, it->data);
          *ind = -1;
        } else {
          memcpy(it->data, &v, 2);
        }
        return 0;
      }
      break;
    case SQLINT: case SQLSERIAL: case SQLDATE:
      if (tt == 103 || (ts == ct && tt != 103)) {
        int32_t v = Ld32(p);
        if (v == INT32_MIN) {
          rsetnull(tt, it->data);
          *ind = -1;
        } else if (tt == 103) {
          int64_t x = v;
          memcpy(it->data, &x, 8);
        } else {
          memcpy(it->data, &v, 4);
        }
        return 0;
      }
      break;
    case SQLFLOAT:
      if (tt == SQLFLOAT || tt == 105) {
        if (AllOnes(p, 8)) {
          memset(it->data, 0xFF, 8);
          *ind = -1;
        } else {
          double d = ldmdouble(p, FloatFlag());
          memcpy(it->data, &d, 8);
        }
        return 0;
      }
      break;
    case SQLSMFLOAT:
      if (tt == SQLSMFLOAT || tt == 104) {
        if (AllOnes(p, 4)) {
          memset(it->data, 0xFF, 4);
          *ind = -1;
        } else {
          float f = static_cast<float>(ldmfloat(p, FloatFlag()));
          memcpy(it->data, &f, 4);
        }
        return 0;
      }
      break;
    case SQLDECIMAL: case SQLMONEY:
      if (ts == ct && it->length == w) {
        Decimal d;
        memset(&d, 0, sizeof d);
        if (lddecimal(p, PackedSize(w), &d) < 0) return -1;
        if (d.sign == DEC_NULLSIGN) {
          rsetnull(tt, it->data);
          *ind = -1;
        } else {
          memcpy(it->data, &d, sizeof d);
        }
        return 0;
      }
      break;
    case SQLBYTES: case SQLTEXT:
      // The data follows the row and is received into the locator or file.
      if (ts == SQLBYTES || ts == SQLTEXT || tt == 113 || tt == 116) return 0;
      return -608;
    case SQLVCHAR: case SQLNVCHAR:
      if (tt == SQLVCHAR || tt == SQLNVCHAR || tt == 114 || (tt == 109 && BlanksNotNull())) {
        int32_t n = p[0];
        // A length beyond the column's room is a damaged row.
        if (!Unpadded() && n > (w & 0xFF)) return -403;
        if (n == 1 && p[1] == 0) {
          if (it->length > 0) it->data[0] = 0;
          *ind = -1;
          return 0;
        }
        return MoveText(t, p + 1, n, w, false, desc_mode, ind);
      }
      break;
    case SQLINT8: case SQLSERIAL8:
      if (ts == ct || tt == 117) {
        Int8Value v;
        ldint8(p, &v);
        if (v.sign == 0) {
          rsetnull(tt, it->data);
          *ind = -1;
        } else {
          memcpy(it->data, &v, sizeof v);
        }
        return 0;
      }
      break;
    case SQLSET: case SQLMULTISET: case SQLLIST: case SQLROW: case SQLCOLLECTION: {
      bool coll_target = CollType(ts) || tt == 118 || tt == 123;
      if (!coll_target) return -1818;
      bool row_col = ct == SQLROW;
      bool row_target = tt == 123 || ts == SQLROW;
      if (row_col != row_target) return -1818;
      auto* coll = reinterpret_cast<SqliCollection*>(it->data);
      SqliConnection* conn = Conn();
      int longid = conn != nullptr && SQLI_CAP(conn, 1, 0x20) ? 1 : 0;
      // The row form starts with the value's length word: it bounds the read.
      int rc = ldcollection(reinterpret_cast<const char*>(p), coll, 1, longid);
      if (rc < 0) return rc;
      if (coll->cl_flags & COLL_ISNULL) *ind = -1;
      return 0;
    }
    case SQLUDTVAR: case SQLUDTFIXED: case SQLLVARCHAR: case SQLBOOL:
      return MoveVariable(t, ct, p, ind);
    case SQLBIGINT: case SQLBIGSERIAL:
      if (ts == ct || tt == 125) {
        int64_t v = Ld64(p);
        if (v == INT64_MIN) {
          rsetnull(tt, it->data);
          *ind = -1;
        } else {
          memcpy(it->data, &v, 8);
        }
        return 0;
      }
      break;
    default:
      break;
  }
  return MoveGeneral(t, ct, w, p, ind);
}

// A moved column's indicator: the truncation warning, the indicator
// variable, and -467 for a null without one under the indicator rule.
int32_t Indicate(SqliValueItem* it, int16_t ind, int32_t mode) {
  if (ind > 0) {
    sqlca.sqlwarn.sqlwarn0 = 'W';
    sqlca.sqlwarn.sqlwarn1 = 'W';
    sqli_warn_client(1);
  }
  if (it->indicator != nullptr) {
    *it->indicator = ind;
  } else if (it->ind_type != -1 && it->ind_data != nullptr && it->ind_length != 0) {
    int32_t rc = sqli_ind_write(ind, it->ind_type, it->ind_data, it->ind_length);
    if (rc < 0) {
      _iqseterr(rc);
      return rc;
    }
  } else if (ind < 0 && (mode & 0x4)) {
    _iqseterr(-467);
    return -467;
  }
  return 0;
}

}  // namespace

TV_BEGIN_C

int32_t sqli_stored_size(int32_t type, int32_t length_word, const unsigned char* stored, int32_t available) {
  return StoredSize(type, length_word, stored, available, Unpadded());
}

int32_t sqli_row_unpack(SqliCursor* c, int32_t count, SqliValueItem* items, SqliDescriptor* desc, int32_t mode) {
  return RowUnpack(sqli_runtime_get(), c, count, items, desc, mode);
}

TV_END_C

int32_t sqli_hv::RowUnpack(SqliRuntime* rt, SqliCursor* c, int32_t count, SqliValueItem* items, SqliDescriptor* desc,
                           int32_t mode) {
  if (c == nullptr || c->position == nullptr) return -1;
  if (desc != nullptr) {
    items = desc->items;
    count = desc->count;
  }
  int32_t columns = c->column_count;
  bool mismatch = count != columns;
  int32_t n = count < columns ? count : columns;
  if (mismatch) {
    sqlca.sqlwarn.sqlwarn0 = 'W';
    sqlca.sqlwarn.sqlwarn3 = 'W';
    sqli_warn_client(3);
  }
  const unsigned char* p = c->position;
  const unsigned char* end = c->buffer != nullptr ? c->buffer + c->buffer_size : p + c->row_size;
  RowEnv env{rt, false, FromServer(), (c->flags & SQLI_CF_CHECK_SENT) == 0};
  env.unpadded = rt != nullptr && rt->current != nullptr && rt->current->unpadded_varchar != 0;
  for (int32_t i = 0; i < n; ++i) {
    SqliColumnDesc* col = &c->columns[i];
    int32_t ct = col->type & 0xFF;
    int32_t w = col->length;
    SqliValueItem* it = &items[i];
    int16_t ind = 0;
    int32_t size = 0;
    if (env.direct && it->data != nullptr &&
        FastMove(env, ct, w, p, end - p, it, it->type & 0x7FFF, (mode & 0x2) != 0, &ind, &size)) {
      if (int32_t rc = Indicate(it, ind, mode); rc < 0) return rc;
      p += size;
      continue;
    }
    // A column the type check asked in the target's form arrives in it.
    if (!env.direct) CheckedForm(c, i, &ct, &w);
    size = StoredSize(ct, w, p, static_cast<int32_t>(end - p), env.unpadded);
    if (size < 0 || size > end - p) {
      _iqseterr(-403);
      return -403;
    }
    Target t{it, it->type & 0x7FFF, 0, false};
    t.sql = t.type >= 200 ? -1 : rtyphosttosql(t.type);
    bool lvar_like = t.type == SQLLVARCHAR || t.type == 119 || t.type == 124;
    int16_t saved_lvar = rt->lvarchar_mode;
    if ((t.type == SQLUDTVAR || t.type == 121) && it->data == nullptr && desc != nullptr) {
      // A named descriptor holds its opaque values in var values: an item
      // without one gets its own, released with the descriptor.
      it->data = reinterpret_cast<char*>(sqli_var_make());
      if (it->data == nullptr) {
        _iqseterr(-406);
        return -406;
      }
      it->flags |= SQLI_IF_DATA_OWNED;
    }
    if (t.type == 124 || t.type == 121 || (t.type == SQLUDTVAR && desc != nullptr)) {
      // Type 121 (and 40 in a named descriptor) are var values; 124 an
      // LVARCHAR var value.
      t.holder = true;
    } else if (lvar_like && it->length == 0 && it->data == nullptr) {
      if (desc != nullptr) {
        // A descriptor item without storage gets a var value of its own.
        auto* vv = static_cast<SqliVarValue*>(calloc(1, sizeof(SqliVarValue)));
        if (vv == nullptr) {
          _iqseterr(-406);
          return -406;
        }
        vv->flags = SQLI_VV_OWNED;
        it->data = reinterpret_cast<char*>(vv);
        it->flags |= SQLI_IF_DATA_OWNED | SQLI_IF_LVAR_POINTER;
        t.holder = true;
      } else if (!rt->lvarchar_mode) {
        _iqseterr(-402);
        return -402;
      }
    } else if (lvar_like && (it->flags & SQLI_IF_LVAR_POINTER)) {
      t.holder = true;
    }
    if (it->data == nullptr && !(lvar_like && rt->lvarchar_mode)) {
      _iqseterr(-402);
      return -402;
    }
    int32_t rc = MoveColumn(c, i, t, ct, w, p, mode, &ind);
    rt->lvarchar_mode = saved_lvar;
    if (rc < 0) {
      _iqseterr(rc);
      return rc;
    }
    if (rc = Indicate(it, ind, mode); rc < 0) return rc;
    p += size;
  }
  if (mismatch && Ansi()) {
    _iqseterr(-485);
    return -485;
  }
  return 0;
}
