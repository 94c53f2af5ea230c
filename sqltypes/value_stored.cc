// Stored forms of SQL values (n is the column's length word; integers are
// big-endian):
//
//   type                      stored form                       null
//   CHAR, NCHAR               n bytes, blank-padded (NUL-padded   0, then n-1 blanks
//                             with the value's flag 0x20)         (NULs with 0x20)
//   VARCHAR, NVARCHAR         length byte, then m = n & 0xFF      1, then m zeros
//                             bytes, blank-padded
//   SMALLINT                  2 bytes                             0x8000
//   INTEGER, SERIAL, DATE     4 bytes                             0x80000000
//   BIGINT, BIGSERIAL         8 bytes                             0x8000000000000000
//   INT8, SERIAL8             sign (2), low (4), high (4)         sign 0
//   SMALLFLOAT, FLOAT         4 / 8 bytes, machine order or       all bytes 0xFF
//                             reversed under mode word 1
//   DECIMAL, MONEY,           stored Decimal of                   zero bytes
//   DATETIME, INTERVAL        (n/256 + (n&1) + 3) / 2 bytes
//   BYTE, TEXT                LargeObjectDesc (56 bytes)          bit 0 at offset 38-39
//   LVARCHAR, BOOLEAN, UDT    variable-length form                its null flag
//   SET .. ROW                stored collection form (collection_forms.cc)
//
// Variable-length form: offset 0 null flag (1 null; bit 0 read), 1 data
// length (4 bytes, 0 when null), 5 the data.
//
// LargeObjectDesc, 56 bytes: 0 field1 (2), 2 field2 (2), 4 32-bit fields
// 1-7 (28), 32 fields 3-5 (6), 38 field6 (2; bit 0 null), 40 32-bit fields
// 8-11 (16).
#include "sqltypes/value_stored.h"

#include <float.h>
#include <math.h>
#include <string.h>

#include "base/fields.h"
#include "base/thread_state.h"
#include "locale/core/gl_locale.h"
#include "locale/core/gl_mbchar.h"
#include "sqltypes/bigint.h"
#include "sqltypes/collection.h"
#include "sqltypes/decimal.h"
#include "sqltypes/int8.h"

namespace {

using StoreFn = int (*)(SqlValue* v, unsigned char* out, int type, int len);
using LoadFn = int (*)(const unsigned char* in, int type, int len, SqlValue* v);

int Fail(int rc) { return rseterror(rc); }
bool NotNull(int type) { return (type & STORE_NOTNULL) != 0; }

void Put16(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 8);
  p[1] = static_cast<unsigned char>(v);
}
void Put32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = static_cast<unsigned char>(v >> (24 - 8 * i));
}
uint32_t Get32(const unsigned char* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
uint16_t Get16(const unsigned char* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

bool IsText(const SqlValue* v) { return sqlv_istext(sqlv_type(v)); }

// Checks the characters of the first `keep` of the text's `n` bytes in a
// multibyte locale. A character that reaches past `keep` is reported by its
// start in *cut (else *cut = keep). False for an invalid character.
bool CheckCut(const char* p, int32_t n, int32_t keep, int32_t* cut) {
  *cut = keep;
  GlLocale* loc = sqlv_locale();
  if (loc == nullptr || loc->single_byte) return true;
  int32_t pos = 0;
  while (pos < keep) {
    const int32_t c = _zel_gl_full_mblen(loc, p + pos, n - pos);
    if (c <= 0) return false;
    if (pos + c > keep) {
      *cut = pos;
      return true;
    }
    pos += c;
  }
  return true;
}

// CHAR, NCHAR.
int StoreChar(SqlValue* v, unsigned char* out, int type, int n) {
  if (n < 0) n = 0;
  const char pad = (v->v.text.flags & SQLV_PADNUL) != 0 ? '\0' : ' ';
  if (sqlv_isnull(v)) {
    if (n > 0) {
      out[0] = 0;
      memset(out + 1, IsText(v) ? pad : ' ', static_cast<size_t>(n - 1));
    }
    return 0;
  }
  if (!IsText(v)) return rvaltotext(v, reinterpret_cast<char*>(out), n, 1);
  const char* p = v->v.text.ptr;
  const int32_t len = p == nullptr || v->v.text.len < 0 ? 0 : v->v.text.len;
  if (rthreadansi != 0 && n < byleng(p, len)) return Fail(-1279);
  const int32_t keep = len < n ? len : n;
  if (keep > 0) memcpy(out, p, static_cast<size_t>(keep));
  memset(out + keep, pad, static_cast<size_t>(n - keep));
  if (keep > 0 && v->v_attr != 19) {
    int32_t cut;
    if (!CheckCut(p, len, keep, &cut)) return Fail(-202);
    memset(out + cut, ' ', static_cast<size_t>(keep - cut));
  }
  if (len == 0 && NotNull(type)) return Fail(-1225);
  return 0;
}

// VARCHAR, NVARCHAR.
int StoreVarchar(SqlValue* v, unsigned char* out, int type, int len) {
  const int m = len & 0xFF;
  unsigned char* area = out + 1;
  if (sqlv_isnull(v)) {
    out[0] = 1;
    memset(area, 0, static_cast<size_t>(m));
    return 0;
  }
  if (!IsText(v)) {
    if (int rc = rvaltotext(v, reinterpret_cast<char*>(area), m, 1); rc != 0) return Fail(rc);
    out[0] = static_cast<unsigned char>(bylengnb(reinterpret_cast<char*>(area), m));
    return 0;
  }
  const char* p = v->v.text.ptr;
  const int32_t n = p == nullptr || v->v.text.len < 0 ? 0 : v->v.text.len;
  // Refused only beyond m + 1 bytes: a value one byte longer is cut.
  if (rthreadansi != 0 && n > m + 1) return Fail(-1279);
  const int32_t keep = n < m ? n : m;
  if (keep > 0) memcpy(area, p, static_cast<size_t>(keep));
  memset(area + keep, ' ', static_cast<size_t>(m - keep));
  out[0] = static_cast<unsigned char>(keep);
  if (keep > 0 && v->v_attr != 18 && v->v_attr != 20) {
    int32_t cut;
    if (!CheckCut(p, n, keep, &cut)) return Fail(-202);
    memset(area + cut, ' ', static_cast<size_t>(keep - cut));
  }
  if (p == nullptr && v->v.text.len == 1 && NotNull(type)) return Fail(-1225);
  return 0;
}

bool LvarcharSource(int t) {
  return (t >= 0 && t <= 18) || t == 42 || t == 45 || t == 52 || t == 53;
}

int StoreLvarchar(SqlValue* v, unsigned char* out, int type, int len) {
  const int t = sqlv_type(v);
  const int32_t n = len == 0 ? 2048 : len & 0xFFFF;
  const bool text = IsText(v) || t == SQLLVARCHAR;
  if (sqlv_isnull(v) || (text && v->v.text.ptr == nullptr)) {
    stvarval(out, nullptr, 0, 1);
    return NotNull(type) ? Fail(-1225) : 0;
  }
  if (!text) {
    if (!LvarcharSource(t)) return Fail(-1260);
    char field[81];
    if (int rc = rvaltotext(v, field, 80, 1); rc != 0) return Fail(rc);
    ldchar(field, 80, field);
    stvarval(out, field, static_cast<int32_t>(strlen(field)), 0);
    return 0;
  }
  int32_t keep = v->v.text.len < 0 ? 0 : v->v.text.len;
  if (keep > n && t != SQLLVARCHAR) {
    if (rthreadansi != 0) return Fail(-1279);
    int32_t cut;
    // A character cut at the end is left out; an invalid one is not reported.
    if (CheckCut(v->v.text.ptr, keep, n, &cut)) keep = cut;
    else keep = n;
  }
  stvarval(out, v->v.text.ptr, keep, 0);
  return 0;
}

int StoreSmallint(SqlValue* v, unsigned char* out, int type, int) {
  int16_t x;
  if (int rc = rvaltoint2(v, &x); rc != 0) return rc;
  if (x == INT16_MIN && NotNull(type)) return Fail(-1225);
  Put16(out, static_cast<uint16_t>(x));
  return 0;
}

int StoreInteger(SqlValue* v, unsigned char* out, int type, int) {
  int32_t x;
  if (int rc = rvaltoint4(v, &x); rc != 0) return rc;
  if (x == INT32_MIN && NotNull(type)) return Fail(-1225);
  Put32(out, static_cast<uint32_t>(x));
  return 0;
}

int StoreDate(SqlValue* v, unsigned char* out, int type, int) {
  int32_t x;
  if (int rc = rvaltodate(v, &x, nullptr); rc != 0) return rc;
  if (x == INT32_MIN && NotNull(type)) return Fail(-1225);
  Put32(out, static_cast<uint32_t>(x));
  return 0;
}

int StoreBigint(SqlValue* v, unsigned char* out, int type, int) {
  int64_t x;
  if (int rc = rvaltobigint(v, &x); rc != 0) return rc;
  if (x == BIGINT_NULL && NotNull(type)) return Fail(-1225);
  stbigint(x, out);
  return 0;
}

int StoreInt8(SqlValue* v, unsigned char* out, int type, int) {
  Int8Value x{0, 0, 0};
  if (int rc = rvaltoint8(v, &x); rc != 0) return rc;
  if (x.sign == 0 && NotNull(type)) return Fail(-1225);
  stint8(&x, out);
  return 0;
}

int ModeWord() {
  ThreadRuntimeRecord* r = rthreadrec();
  return r == nullptr ? 0 : r->mode;
}

int StoreSmallfloat(SqlValue* v, unsigned char* out, int type, int) {
  double x;
  int blank;
  if (int rc = rvaltodblblank(v, &x, &blank); rc != 0) return rc;
  if (!blank) {
    const double a = fabs(x);
    if (!isfinite(x) || a > FLT_MAX || (a != 0 && static_cast<float>(a) == 0.0f))
      return Fail(-1222);
  }
  if (blank && NotNull(type)) return Fail(-1225);
  stmfltnull(x, out, static_cast<int16_t>(blank), ModeWord());
  return 0;
}

int StoreFloat(SqlValue* v, unsigned char* out, int type, int) {
  double x;
  int blank;
  if (int rc = rvaltodblblank(v, &x, &blank); rc != 0) return rc;
  if (!blank && !isfinite(x)) return Fail(-1223);
  if (blank && NotNull(type)) return Fail(-1225);
  stmdblnull(x, out, static_cast<int16_t>(blank), ModeWord());
  return 0;
}

int StoreDecimal(SqlValue* v, unsigned char* out, int type, int len) {
  Decimal d;
  const int rc = SQLTYPE(type) == SQLMONEY ? rvaltomon(v, &d) : rvaltodec(v, &d);
  if (rc != 0) return rc;
  if (d.sign == DEC_NULLSIGN) {
    if (NotNull(type)) return Fail(-1225);
  } else if (decfitprec(&d, len & 0xFFFF) != 0) {
    return Fail(-1226);
  }
  if (int r = zel_stdecimal(&d, out, stored_decimal_size(len)); r != 0) return Fail(r);
  return 0;
}

int StoreDatetime(SqlValue* v, unsigned char* out, int type, int len) {
  Decimal d;
  if (SQLTYPE(type) == SQLDTIME) {
    DateTimeValue dt;
    if (int rc = rvaltodt(v, &dt, len & 0xFFFF); rc != 0) return rc;
    d = dt.dt_dec;
  } else {
    IntervalValue in;
    if (int rc = rvaltoinv(v, &in, len & 0xFFFF); rc != 0) return rc;
    d = in.in_dec;
  }
  if (d.sign == DEC_NULLSIGN && NotNull(type)) return Fail(-1225);
  if (int r = zel_stdecimal(&d, out, stored_decimal_size(len)); r != 0) return Fail(r);
  return 0;
}

int StoreBoolean(SqlValue* v, unsigned char* out, int type, int) {
  const int t = sqlv_type(v);
  unsigned char b = 0;
  bool null = sqlv_isnull(v) || (IsText(v) && v->v.text.ptr == nullptr);
  if (!null) {
    if (t == SQLBOOL) {
      if (v->v.text.ptr == nullptr) null = true;
      else b = static_cast<unsigned char>(v->v.text.ptr[0]);
    } else if (IsText(v)) {
      if (int rc = rvaltobool(v, &b); rc != 0) return rc;
    } else {
      return Fail(-1260);
    }
  }
  if (null && NotNull(type)) return Fail(-1225);
  // A null BOOLEAN is the null form with length 0; a value has length 1.
  if (null) stvarval(out, nullptr, 0, 1);
  else stvarval(out, &b, 1, 0);
  return 0;
}

int StoreLob(SqlValue* v, unsigned char* out, int, int) {
  if (sqlv_isnull(v)) {
    LargeObjectDesc d;
    memset(&d, 0, sizeof d);
    d.field6 = 1;
    stlargeobj(&d, out);
    return 0;
  }
  const int t = sqlv_type(v);
  if (t != SQLBYTES && t != SQLTEXT) return Fail(-608);
  stlargeobj(&v->v.loc.desc, out);
  return 0;
}

bool IsCollType(int t) { return t == SQLSET || t == SQLMULTISET || t == SQLLIST || t == SQLCOLLECTION; }

int StoreCollection(SqlValue* v, unsigned char* out, int type, int) {
  const int target = SQLTYPE(type);
  if (sqlv_type(v) == 9 || sqlv_isnull(v)) {
    memset(v, 0, sizeof *v);
    v->v_type = static_cast<uint16_t>(target);
    v->v_ind = -1;
    v->v.coll.cl_flags = COLL_ISNULL;
    if (NotNull(type)) return Fail(-1225);
  } else {
    const int t = sqlv_type(v);
    if (t != target && !(IsCollType(t) && IsCollType(target))) return Fail(-9602);
  }
  if (int rc = stcollection(&v->v.coll, reinterpret_cast<char*>(out), rtestdescflag() != 0);
      rc < 0)
    return Fail(rc);
  return 0;
}

int StoreUdt(SqlValue* v, unsigned char* out, int type, int) {
  if (sqlv_type(v) != SQLTYPE(type)) return Fail(-1260);
  const bool null = sqlv_isnull(v);
  if (null && NotNull(type)) return Fail(-1225);
  stvarval(out, v->v.text.ptr, null ? 0 : v->v.text.len, null);
  return 0;
}

int StoreNone(SqlValue*, unsigned char*, int, int) { return Fail(-1285); }

// Loads.

void LoadStart(int type, SqlValue* v, bool keep_attr) {
  v->v_type = static_cast<uint16_t>(type);
  if (!keep_attr && (type & LOAD_KEEPATTR) == 0) v->v_attr = 0;
  v->v_ind = 0;
}

int LoadChar(const unsigned char* in, int type, int len, SqlValue* v) {
  LoadStart(type, v, false);
  v->v.text.ptr = const_cast<char*>(reinterpret_cast<const char*>(in));
  v->v.text.len = len;
  v->v.text.flags = 0;
  v->v_len = 0;
  if (in == nullptr || in[0] == 0) v->v_ind = -1;
  return 0;
}

int LoadVarchar(const unsigned char* in, int type, int len, SqlValue* v) {
  LoadStart(type, v, false);
  v->v.text.ptr = const_cast<char*>(reinterpret_cast<const char*>(in + 1));
  int32_t n = in[0];
  if ((len & 0xFF) != 0 && n > (len & 0xFF)) n = len & 0xFF;
  v->v.text.len = n;
  v->v.text.flags = 0;
  if (n == 1 && in[1] == 0) v->v_ind = -1;
  return 0;
}

int LoadSmallint(const unsigned char* in, int type, int, SqlValue* v) {
  LoadStart(type, v, false);
  v->v.i4 = static_cast<int16_t>(Get16(in));
  v->v_len = 0x0500;
  if (v->v.i4 == INT16_MIN) v->v_ind = -1;
  return 0;
}

int LoadInteger(const unsigned char* in, int type, int, SqlValue* v) {
  LoadStart(type, v, false);
  v->v.i4 = static_cast<int32_t>(Get32(in));
  v->v_len = 0x0A00;
  if (v->v.i4 == INT32_MIN) v->v_ind = -1;
  return 0;
}

int LoadInt8(const unsigned char* in, int type, int, SqlValue* v) {
  LoadStart(type, v, false);
  ldint8(in, &v->v.int8);
  v->v_len = 0x1300;
  if (v->v.int8.sign == 0) v->v_ind = -1;
  return 0;
}

int LoadBigint(const unsigned char* in, int type, int, SqlValue* v) {
  LoadStart(type, v, false);
  ldbigint(&v->v.i8, in);
  v->v_len = 0x1300;
  if (v->v.i8 == BIGINT_NULL) v->v_ind = -1;
  return 0;
}

int LoadSmallfloat(const unsigned char* in, int type, int, SqlValue* v) {
  ThreadRuntimeRecord* r = rthreadrec();
  if (r == nullptr) return -406;
  LoadStart(type, v, false);
  int16_t null = 0;
  v->v.f4 = ldmfltnull(in, &null, r->mode);
  v->v_len = 0x08FF;
  if (null) v->v_ind = -1;
  return 0;
}

int LoadFloat(const unsigned char* in, int type, int, SqlValue* v) {
  ThreadRuntimeRecord* r = rthreadrec();
  if (r == nullptr) return -406;
  LoadStart(type, v, false);
  int16_t null = 0;
  v->v.f8 = ldmdblnull(in, &null, r->mode);
  v->v_len = 0x10FF;
  if (null) v->v_ind = -1;
  return 0;
}

int LoadDecimal(const unsigned char* in, int type, int len, SqlValue* v) {
  LoadStart(type, v, false);
  v->v_len = static_cast<uint16_t>(len);
  if (int rc = lddecimal(in, stored_decimal_size(len), &v->v.dec); rc != 0) return rc;
  if (v->v.dec.sign == DEC_NULLSIGN) v->v_ind = -1;
  return 0;
}

int LoadLob(const unsigned char* in, int type, int, SqlValue* v) {
  LoadStart(type, v, false);
  ldlargeobj(&v->v.loc.desc, in);
  if ((v->v.loc.desc.field6 & 1) != 0) v->v_ind = -1;
  return 0;
}

int LoadCollection(const unsigned char* in, int type, int, SqlValue* v) {
  LoadStart(type, v, true);
  if (int rc = ldcollection(reinterpret_cast<const char*>(in), &v->v.coll, 1,
                            rtestdescflag() != 0);
      rc != 0)
    return rc;
  if ((v->v.coll.cl_flags & COLL_ISNULL) != 0) v->v_ind = -1;
  return 0;
}

int LoadVar(const unsigned char* in, int type, int len, SqlValue* v) {
  LoadStart(type, v, true);
  ldvarval(in, len, v);
  return 0;
}

int LoadNone(const unsigned char*, int, int, SqlValue*) { return -1285; }

struct Slots {
  StoreFn store[54];
  LoadFn load[54];
};

// Both tables as constants: every slot without an operation refuses with
// -1285.
constexpr Slots MakeSlots() {
  Slots s{};
  for (int i = 0; i < 54; i++) {
    s.store[i] = StoreNone;
    s.load[i] = LoadNone;
  }
  s.store[SQLCHAR] = s.store[SQLNCHAR] = StoreChar;
  s.store[SQLVCHAR] = s.store[SQLNVCHAR] = StoreVarchar;
  s.store[SQLLVARCHAR] = StoreLvarchar;
  s.store[SQLSMINT] = StoreSmallint;
  s.store[SQLINT] = s.store[SQLSERIAL] = StoreInteger;
  s.store[SQLDATE] = StoreDate;
  s.store[SQLBIGINT] = s.store[SQLBIGSERIAL] = StoreBigint;
  s.store[SQLINT8] = s.store[SQLSERIAL8] = StoreInt8;
  s.store[SQLSMFLOAT] = StoreSmallfloat;
  s.store[SQLFLOAT] = StoreFloat;
  s.store[SQLDECIMAL] = s.store[SQLMONEY] = StoreDecimal;
  s.store[SQLDTIME] = s.store[SQLINTERVAL] = StoreDatetime;
  s.store[SQLBOOL] = StoreBoolean;
  s.store[SQLBYTES] = s.store[SQLTEXT] = StoreLob;
  s.store[SQLSET] = s.store[SQLMULTISET] = s.store[SQLLIST] = s.store[SQLROW] =
      s.store[SQLCOLLECTION] = StoreCollection;
  s.store[SQLUDTVAR] = s.store[SQLUDTFIXED] = StoreUdt;

  s.load[SQLCHAR] = s.load[SQLNCHAR] = LoadChar;
  s.load[SQLVCHAR] = s.load[SQLNVCHAR] = LoadVarchar;
  s.load[SQLSMINT] = LoadSmallint;
  s.load[SQLINT] = s.load[SQLSERIAL] = s.load[SQLDATE] = LoadInteger;
  s.load[SQLINT8] = s.load[SQLSERIAL8] = LoadInt8;
  s.load[SQLBIGINT] = s.load[SQLBIGSERIAL] = LoadBigint;
  s.load[SQLSMFLOAT] = LoadSmallfloat;
  s.load[SQLFLOAT] = LoadFloat;
  s.load[SQLDECIMAL] = s.load[SQLMONEY] = s.load[SQLDTIME] = s.load[SQLINTERVAL] = LoadDecimal;
  s.load[SQLBYTES] = s.load[SQLTEXT] = LoadLob;
  s.load[SQLSET] = s.load[SQLMULTISET] = s.load[SQLLIST] = s.load[SQLROW] = LoadCollection;
  s.load[SQLLVARCHAR] = s.load[SQLBOOL] = s.load[SQLUDTVAR] = s.load[SQLUDTFIXED] = LoadVar;
  return s;
}

constexpr Slots kSlots = MakeSlots();

}  // namespace

// The store and load tables, indexed by SqlTypeCode.
extern const StoreFn* const ValueStoreTable;
extern const LoadFn* const ValueLoadTable;
const StoreFn* const ValueStoreTable = kSlots.store;
const LoadFn* const ValueLoadTable = kSlots.load;

TV_EXTERN_C TV_API int rvaltodata(SqlValue* value, void* stored, int type, int len) {
  const int slot = SQLTYPE(type);
  if (slot > 53) return Fail(-1285);
  if (rthreadrec() == nullptr) return -406;
  const int vt = sqlv_type(value);
  const bool lob_slot = slot == SQLBYTES || slot == SQLTEXT;
  if (!lob_slot && !sqlv_isnull(value) && (vt == SQLBYTES || vt == SQLTEXT)) return Fail(-608);
  if (sqlv_isnull(value) && NotNull(type)) return Fail(-1225);
  rseterror(0);
  if (int rc = ValueStoreTable[slot](value, static_cast<unsigned char*>(stored), type, len);
      rc != 0)
    return Fail(rc);
  return rgeterror();
}

TV_EXTERN_C TV_API int rdataval(const void* stored, int type, int len, SqlValue* out) {
  const int slot = SQLTYPE(type);
  if (slot > 53) return -1285;
  const auto* in = static_cast<const unsigned char*>(stored);
  if (in == nullptr && slot != SQLCHAR && slot != SQLNCHAR) return -1;
  return ValueLoadTable[slot](in, type, len, out);
}

TV_EXTERN_C TV_API void stvarval(void* out, const void* data, int32_t len, int isnull) {
  auto* p = static_cast<unsigned char*>(out);
  if (isnull || len < 0) {
    p[0] = 1;
    Put32(p + 1, 0);
    return;
  }
  p[0] = 0;
  Put32(p + 1, static_cast<uint32_t>(len));
  if (len > 0) memcpy(p + 5, data, static_cast<size_t>(len));
}

TV_EXTERN_C TV_API int32_t ldvarval(const void* stored, int, SqlValue* v) {
  const auto* p = static_cast<const unsigned char*>(stored);
  v->v_ind = (p[0] & 1) != 0 ? -1 : 0;
  const int32_t n = static_cast<int32_t>(Get32(p + 1));
  char* data = const_cast<char*>(reinterpret_cast<const char*>(p + 5));
  switch (sqlv_type(v)) {
    case SQLLVARCHAR:
      v->v_len = 0;
      v->v.text.len = n;
      v->v.text.ptr = data;
      break;
    case SQLUDTVAR: case SQLUDTFIXED:
      v->v.text.len = n;
      v->v.text.ptr = data;
      break;
    case SQLBOOL:
      v->v.text.len = 1;
      v->v.text.ptr = data;
      break;
    default:
      break;
  }
  return n;
}

TV_EXTERN_C TV_API void stlargeobj(const LargeObjectDesc* d, void* out) {
  auto* p = static_cast<unsigned char*>(out);
  memset(p, 0, 56);
  Put16(p, static_cast<uint16_t>(d->field1));
  Put16(p + 2, static_cast<uint16_t>(d->field2));
  for (int i = 0; i < 7; i++) Put32(p + 4 + 4 * i, static_cast<uint32_t>(d->field32[i]));
  Put16(p + 32, static_cast<uint16_t>(d->field3));
  Put16(p + 34, static_cast<uint16_t>(d->field4));
  Put16(p + 36, static_cast<uint16_t>(d->field5));
  Put16(p + 38, static_cast<uint16_t>(d->field6));
  Put32(p + 40, static_cast<uint32_t>(d->field8));
  Put32(p + 44, static_cast<uint32_t>(d->field9));
  Put32(p + 48, static_cast<uint32_t>(d->field10));
  Put32(p + 52, static_cast<uint32_t>(d->field11));
}

TV_EXTERN_C TV_API void ldlargeobj(LargeObjectDesc* d, const void* stored) {
  const auto* p = static_cast<const unsigned char*>(stored);
  d->field1 = static_cast<int16_t>(Get16(p));
  d->field2 = static_cast<int16_t>(Get16(p + 2));
  for (int i = 0; i < 7; i++) d->field32[i] = static_cast<int32_t>(Get32(p + 4 + 4 * i));
  d->field3 = static_cast<int16_t>(Get16(p + 32));
  d->field4 = static_cast<int16_t>(Get16(p + 34));
  d->field5 = static_cast<int16_t>(Get16(p + 36));
  d->field6 = static_cast<int16_t>(Get16(p + 38));
  d->field8 = static_cast<int32_t>(Get32(p + 40));
  d->field9 = static_cast<int32_t>(Get32(p + 44));
  d->field10 = static_cast<int32_t>(Get32(p + 48));
  d->field11 = static_cast<int32_t>(Get32(p + 52));
}

TV_EXTERN_C TV_API int udt_tup_off(const UdtTupleType* t, int o) {
  const int code = t->type & 0xFF;
  int p = 2;
  if (code == SQLUDTFIXED) p = 0;
  if (code >= SQLSET && code <= SQLCOLLECTION && (t->flags & 0x4) != 0) p = 0;
  const int a = t->align;
  if (a == 0) return p + 1;
  // The first multiple of a above o + p (a full step when already aligned).
  return ((o + p + a) / a) * a - o;
}
