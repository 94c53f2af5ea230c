// Type names, host-variable sizes and alignments, display widths, the two
// code mappings, and the stored-null test.
#include <string.h>

#include "base/client_locale.h"
#include "base/locale_state.h"
#include "base/env.h"
#include "base/fields.h"
#include "locale/format/gl_strftime.h"
#include "sqltypes/date.h"
#include "sqltypes/datetime.h"
#include "sqltypes/datetime_format.h"
#include "sqltypes/moneyfmt.h"
#include "sqltypes/sqlvalue.h"

namespace {

// Alignment kinds: none returns the offset, zero returns 0.
constexpr int kNone = -1;
constexpr int kZero = 0;

struct SqlTypeRow {
  const char* name;
  int size;   // memory size; -1 n + 1, -2 (n & 255) + 1, -3 n
  int align;  // bytes, kNone or kZero
};

// SQL codes 0-53.
const SqlTypeRow kSqlTypes[54] = {
    {"char", -1, kNone},          {"smallint", 2, 2},
    {"integer", 4, 4},            {"float", 8, 8},
    {"smallfloat", 4, 4},         {"decimal", 22, 2},
    {"serial", 4, 4},             {"date", 4, 4},
    {"money", 22, 2},             {"", 0, kNone},
    {"datetime", 24, 2},          {"byte", 112, 8},
    {"text", 112, 8},             {"varchar", -2, kNone},
    {"interval", 24, 2},          {"nchar", -1, kNone},
    {"nvarchar", -2, kNone},      {"int8", 12, 4},
    {"serial8", 12, 4},           {"set", 120, 8},
    {"multiset", 120, 8},         {"list", 120, 8},
    {"row", 120, 8},              {"collection", 120, 8},
    {"", 0, kNone}, {"", 0, kNone}, {"", 0, kNone}, {"", 0, kNone}, {"", 0, kNone},
    {"", 0, kNone}, {"", 0, kNone}, {"", 0, kNone}, {"", 0, kNone}, {"", 0, kNone},
    {"", 0, kNone}, {"", 0, kNone}, {"", 0, kNone}, {"", 0, kNone}, {"", 0, kNone},
    {"", 0, kNone},
    {"variable udt", -3, kZero},  {"fixed udt", -3, kZero},
    {"", 0, kNone},               {"lvarchar", -3, kNone},
    {"send/receive", 0, kNone},   {"boolean", 1, kNone},
    {"import/export", 0, kNone},  {"import/export binary", 0, kNone},
    {"", 0, kNone}, {"", 0, kNone}, {"", 0, kNone}, {"", 0, kNone},
    {"bigint", 8, 8},             {"bigserial", 8, 8},
};

// Host codes 100-125: memory size (as above) and alignment.
const SqlTypeRow kHostTypes[26] = {
    {"", -1, kNone},  {"", 2, 2},       {"", 4, 4},      {"", 8, 8},      {"", 4, 4},
    {"", 8, 8},       {"", 0, kNone},   {"", 22, 2},     {"", -3, kNone}, {"", -1, kNone},
    {"", 4, 4},       {"", 22, 2},      {"", 24, 2},     {"", 112, 8},    {"", -2, kNone},
    {"", 24, 2},      {"", -1, 8},      {"", 12, 4},     {"", 120, kNone}, {"", -3, kNone},
    {"", -3, kZero},  {"", -3, kZero},  {"", 1, kNone},  {"", 120, kNone}, {"", -3, kNone},
    {"", 8, 8},
};

const int16_t kSqlToHost[54] = {
    100, 101, 102, 105, 104, 107, 102, 110, 111, -1,  112, 113, 113, 114, 115, 100, 114, 117,
    117, 118, 118, 118, 123, 118, -1,  -1,  -1,  -1,  -1,  -1,  -1,  -1,  -1,  -1,  -1,  -1,
    -1,  -1,  -1,  -1,  121, 120, 117, 119, 121, 122, -1,  -1,  -1,  -1,  -1,  -1,  125, 125};

const int16_t kHostToSql[26] = {0, 1,  2,  2,  4,  3,  -1, 5,  0,  0,  7,  8,  10,
                                11, 13, 14, 11, 17, 23, 43, 41, 40, 45, 22, 43, 52};

const SqlTypeRow* Row(int type) {
  if (type >= 0 && type <= 53) return &kSqlTypes[type];
  if (type >= 100 && type <= 125) return &kHostTypes[type - 100];
  return nullptr;
}

int DatetimeWidth(int qual) {
  const int first = TU_START(qual);
  const int last = TU_END(qual) > TU_SECOND ? 12 : TU_END(qual);
  return TU_LEN(qual) + (last - first) / 2 + (first == TU_FRAC ? 1 : 0);
}

int DateWidth() {
  const char* format = nullptr;
  int32_t order[3];
  int32_t era = 0;
  if (rdatefmtget(&format, order, &era) != 0) return 0;
  GlLocale* loc = sqlv_locale();
  if (loc == nullptr) return 0;
  const int32_t n = gl_mbsfmtexpand(loc, 1, format);
  return n < 0 ? 0 : n;
}

}  // namespace

GlLocale* sqlv_locale() { return rglinit() >= 0 ? rgllocstate()->client : nullptr; }

TV_EXTERN_C TV_API const char* rtypname(int type) {
  const int t = type & 0xFF;
  return t <= 53 ? kSqlTypes[t].name : "";
}

TV_EXTERN_C TV_API const char* rtypxname(int type, int xid) {
  const char* name = rtypname(type);
  if (name[0] != '\0') return name;
  switch (xid) {
    case 1: case 43: return "lvarchar";
    case 2: case 44: return "sendreceive";
    case 5: case 45: return "boolean";
    case 10: return "blob";
    case 11: return "clob";
    case 18: return "qrnsecuritylabel";
    case 24: return "longlvarchar";
    case 25: return "json";
    case 26: return "bson";
    default: return "";
  }
}

TV_EXTERN_C TV_API int rtypmsize(int type, int len) {
  const SqlTypeRow* r = Row(type);
  if (r == nullptr) return 0;
  switch (r->size) {
    case -1: return len + 1;
    case -2: return (len & 255) + 1;
    case -3: return len;
    default: return r->size;
  }
}

TV_EXTERN_C TV_API int rtypalign(int offset, int type) {
  const SqlTypeRow* r = Row(type);
  if (r == nullptr || r->align == kNone) return offset;
  if (r->align == kZero) return 0;
  return (offset + r->align - 1) / r->align * r->align;
}

TV_EXTERN_C TV_API int rtypsqltohost(int type) {
  if (type == 102) return 103;
  if (type >= 0 && type <= 53) return kSqlToHost[type];
  return type;
}

TV_EXTERN_C TV_API int rtyphosttosql(int type) {
  if (type >= 0 && type <= 53) return type;
  if (type == 102) return kHostToSql[103 - 100];
  if (type >= 100 && type <= 125) return kHostToSql[type - 100];
  return -1;
}

TV_EXTERN_C TV_API int rtypwidth(int type, int len) {
  if (sqlv_locale() == nullptr) return 0;
  const int t = type & 0xFF;
  const int p = (len >> 8) & 0xFF;
  const int s = len & 0xFF;
  switch (t) {
    case SQLCHAR: case SQLNCHAR: case SQLBYTES: case SQLTEXT: case SQLUDTVAR: case SQLUDTFIXED:
    case SQLLVARCHAR: case SQLSET: case SQLMULTISET: case SQLLIST: case SQLROW:
    case SQLCOLLECTION:
      return len;
    case SQLSMINT: return 6;
    case SQLINT: case SQLSERIAL: return 11;
    case SQLFLOAT: return static_cast<uint32_t>(len) == 0x80000000u ? 24 : 14;
    case SQLSMFLOAT: return 14;
    case SQLVCHAR: case SQLNVCHAR: return len >= 255 ? 255 : len & 0xFF;
    case SQLINT8: case SQLSERIAL8: case SQLBIGINT: case SQLBIGSERIAL: return 20;
    case SQLBOOL: return 1;
    case SQLDATE: return DateWidth();
    case SQLDECIMAL: {
      rmoneyinit();
      const int e = rmoneyformat()->decimal_sep_width;
      if (s == 255) return p + e + 6;
      return p == s ? p + e + 2 : p + e + 1;
    }
    case SQLMONEY: {
      rmoneyinit();
      const int w = p + rmoneyformat()->mon_decimal_sep_width +
                    static_cast<int>(strlen(rmoneyfront()) + strlen(rmoneyback())) + 1;
      return p == s ? w + 1 : w;
    }
    case SQLDTIME: case SQLINTERVAL: {
      const int sign = t == SQLINTERVAL ? 1 : 0;
      if (t == SQLDTIME && use_dtenv() != 0) return dtfmtwidth();
      if (t == SQLDTIME && ggetenv("GL_DATETIME") != nullptr) return 80;
      return DatetimeWidth(len) + sign;
    }
    default: return 0;
  }
}

TV_EXTERN_C TV_API int zelcdc_valisnull(const void* stored, int n, int type, int16_t* ind) {
  if (ind == nullptr) return -1;
  *ind = 0;
  const auto* b = static_cast<const unsigned char*>(stored);
  auto need = [&](int k) { return n >= k && b != nullptr; };
  bool null = false;
  switch (type & 0xFF) {
    case SQLCHAR:
      if (!need(1)) return -1;
      null = b[0] == 0;
      break;
    case SQLSMINT:
      if (!need(2)) return -1;
      null = b[0] == 0x80 && b[1] == 0;
      break;
    case SQLINT: case SQLSERIAL: case SQLDATE:
      if (!need(4)) return -1;
      null = ldlong(b) == INT32_MIN;
      break;
    case SQLFLOAT: case SQLSMFLOAT: {
      const int k = (type & 0xFF) == SQLFLOAT ? 8 : 4;
      if (!need(k)) return -1;
      null = true;
      for (int i = 0; i < k; i++) null = null && b[i] == 0xFF;
      break;
    }
    case SQLDECIMAL: case SQLMONEY: case SQLDTIME: case SQLINTERVAL: {
      if (!need(1)) return -1;
      // A stored Decimal whose first two bytes are 0 reads back as null.
      null = b[0] == 0 && (n < 2 || b[1] == 0);
      break;
    }
    case SQLVCHAR: case SQLNVCHAR:
      if (!need(1)) return -1;
      null = n == 2 && b[0] == 1 && b[1] == 0;
      break;
    case SQLINT8: case SQLSERIAL8:
      if (!need(10)) return -1;
      null = b[0] == 0 && b[1] == 0;
      break;
    case SQLLVARCHAR:
      if (!need(3)) return -1;
      if (b[2] & 1) *ind = 1;
      return 0;
    case SQLBOOL:
      if (!need(2)) return -1;
      null = b[0] == 1;
      break;
    case SQLBIGINT: case SQLBIGSERIAL: {
      if (!need(8)) return -1;
      null = b[0] == 0x80;
      for (int i = 1; i < 8; i++) null = null && b[i] == 0;
      break;
    }
    default:
      break;
  }
  if (null) *ind = -1;
  return 0;
}
