// Null forms of host variables, and the small integer parsers.
#include "sqltypes/value_null.h"

#include <stddef.h>
#include <string.h>

#include "sqltypes/datetime.h"
#include "sqltypes/decimal.h"
#include "sqltypes/decimal_text.h"
#include "sqltypes/int8.h"
#include "sqltypes/sqlvalue.h"

namespace {

constexpr int kLocatorNullField = 40;  // 32-bit field 8 of the locator
constexpr uint16_t kVarBinaryNull = 0x2;

// The host code, and whether the variable is a 4-byte integer: the host
// code 102 itself, or an SQL INTEGER or SERIAL, whose variables are 4 bytes.
int HostCode(int type, bool* four_byte) {
  *four_byte = type == 102 || type == 2 || type == 6;
  type = rtypsqltohost(type);
  if (type == 102) type = 103;
  return type;
}

bool AllFF(const char* p, size_t n) {
  for (size_t i = 0; i < n; i++)
    if (static_cast<unsigned char>(p[i]) != 0xFF) return false;
  return true;
}

}  // namespace

TV_EXTERN_C TV_API int rsetnull(int type, char* value) {
  bool four = false;
  const int host = HostCode(type, &four);
  const int32_t null32 = INT32_MIN;
  switch (host) {
    case 100: case 108: case 109: case 114: case 116: case 119:
      value[0] = '\0';
      return 0;
    case 101: {
      const int16_t v = INT16_MIN;
      memcpy(value, &v, sizeof v);
      return 0;
    }
    case 103:
      if (four) {
        memcpy(value, &null32, sizeof null32);
      } else {
        const int64_t v = INT32_MIN;
        memcpy(value, &v, sizeof v);
      }
      return 0;
    case 110:
      memcpy(value, &null32, sizeof null32);
      return 0;
    case 104: memset(value, 0xFF, 4); return 0;
    case 105: memset(value, 0xFF, 8); return 0;
    case 107: case 111: {
      Decimal d;
      decsetnull(&d);
      memcpy(value, &d, sizeof d);
      return 0;
    }
    case 112: case 115: {
      Decimal d;
      decsetnull(&d);
      memcpy(value + offsetof(DateTimeValue, dt_dec), &d, sizeof d);
      return 0;
    }
    case 113: {
      const int32_t v = -1;
      memcpy(value + kLocatorNullField, &v, sizeof v);
      return 0;
    }
    case 117: {
      const Int8Value v{0, 0, 0};
      memcpy(value, &v, sizeof v);
      return 0;
    }
    case 121: case 124: {
      uint16_t flags = 0;
      memcpy(&flags, value, sizeof flags);
      flags |= kVarBinaryNull;
      memcpy(value, &flags, sizeof flags);
      return 0;
    }
    case 122:
      value[0] = static_cast<char>(0xFF);
      return 0;
    case 125: {
      const int64_t v = INT64_MIN;
      memcpy(value, &v, sizeof v);
      return 0;
    }
    case 118: {
      uint32_t flags;
      memcpy(&flags, value + offsetof(SqliCollection, cl_flags), sizeof flags);
      flags |= COLL_ISNULL;
      memcpy(value + offsetof(SqliCollection, cl_flags), &flags, sizeof flags);
      return 0;
    }
    default:  // 106, 120, 123 and codes without a host type: nothing to write
      return 0;
  }
}

TV_EXTERN_C TV_API int risnull(int type, const char* value) {
  bool four = false;
  const int host = HostCode(type, &four);
  switch (host) {
    case 100: case 108: case 109: case 114: case 116: case 119:
      return value[0] == '\0';
    case 101: {
      int16_t v;
      memcpy(&v, value, sizeof v);
      return v == INT16_MIN;
    }
    case 103:
      if (!four) {
        int64_t v;
        memcpy(&v, value, sizeof v);
        return v == INT32_MIN;
      }
      [[fallthrough]];
    case 110: {
      int32_t v;
      memcpy(&v, value, sizeof v);
      return v == INT32_MIN;
    }
    case 104: return AllFF(value, 4);
    case 105: return AllFF(value, 8);
    case 107: case 111: {
      Decimal d;
      memcpy(&d, value, sizeof d);
      return d.sign == DEC_NULLSIGN;
    }
    case 112: case 115: {
      Decimal d;
      memcpy(&d, value + offsetof(DateTimeValue, dt_dec), sizeof d);
      return d.sign == DEC_NULLSIGN;
    }
    case 113: {
      int32_t v;
      memcpy(&v, value + kLocatorNullField, sizeof v);
      return v == -1;
    }
    case 117: {
      Int8Value v;
      memcpy(&v, value, sizeof v);
      return v.sign == 0;
    }
    case 121: case 124: {
      uint16_t flags;
      memcpy(&flags, value, sizeof flags);
      return (flags & kVarBinaryNull) != 0;
    }
    case 122:
      return static_cast<unsigned char>(value[0]) == 0xFF;
    case 125: {
      int64_t v;
      memcpy(&v, value, sizeof v);
      return v == INT64_MIN;
    }
    case 118: case 123: {
      uint32_t flags;
      memcpy(&flags, value + offsetof(SqliCollection, cl_flags), sizeof flags);
      return (flags & COLL_ISNULL) != 0;
    }
    default:
      return 0;
  }
}

TV_EXTERN_C TV_API int rstoi(const char* text, int* out) {
  int64_t v = 0;
  if (int rc = rparseint(text, 32767, 0, -32768, -1214, true, &v); rc != 0) return rc;
  *out = static_cast<int>(v);
  return 0;
}

TV_EXTERN_C TV_API int rstoi4(const char* text, int32_t* out) {
  if (text == nullptr) {
    *out = INT32_MIN;
    return 0;
  }
  int64_t v = 0;
  if (int rc = rparseint(text, INT32_MAX, 8, INT32_MIN, -1214, true, &v); rc != 0) return rc;
  *out = static_cast<int32_t>(v);
  return 0;
}
