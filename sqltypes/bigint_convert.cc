// BIGINT conversions to and from the other numeric types and text.
#include <errno.h>
#include <locale.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "sqltypes/bigint.h"
#include "sqltypes/decimal_text.h"
#include "sqltypes/moneyfmt.h"

namespace {

bool AllFF(const void* p, size_t n) {
  const unsigned char* b = static_cast<const unsigned char*>(p);
  for (size_t i = 0; i < n; i++)
    if (b[i] != 0xFF) return false;
  return true;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

locale_t CLocale() {
  static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return c;
}

}  // namespace

TV_EXTERN_C TV_API int biginttoint2(int64_t v, int16_t* out) {
  if (v == BIGINT_NULL) {
    *out = INT16_MIN;
    return 0;
  }
  if (v < -32767 || v > 32767) return -1214;
  *out = static_cast<int16_t>(v);
  return 0;
}

TV_EXTERN_C TV_API int bigintcvint2(int value, int64_t* out) {
  const int16_t v = static_cast<int16_t>(value & 0xFFFF);
  *out = v == INT16_MIN ? BIGINT_NULL : v;
  return 0;
}

TV_EXTERN_C TV_API int biginttoint4(int64_t v, int32_t* out) {
  if (v == BIGINT_NULL) {
    *out = INT32_MIN;
    return 0;
  }
  if (v < -INT32_MAX || v > INT32_MAX) return -1284;
  *out = static_cast<int32_t>(v);
  return 0;
}

TV_EXTERN_C TV_API int bigintcvint4(int32_t value, int64_t* out) {
  *out = value == INT32_MIN ? BIGINT_NULL : value;
  return 0;
}

TV_EXTERN_C TV_API int biginttodbl(int64_t v, double* out) {
  if (v == BIGINT_NULL) memset(out, 0xFF, sizeof *out);
  else *out = static_cast<double>(v);
  return 0;
}

// A NaN other than the null pattern and an infinity cannot be converted:
// -1284, as any other value beyond the range.
TV_EXTERN_C TV_API int bigintcvdbl(double value, int64_t* out) {
  if (AllFF(&value, sizeof value)) {
    *out = BIGINT_NULL;
    return 0;
  }
  if (!(fabs(value) < 9223372036854775808.0)) return -1284;
  *out = static_cast<int64_t>(value);
  return 0;
}

TV_EXTERN_C TV_API int biginttoflt(int64_t v, float* out) {
  if (v == BIGINT_NULL) memset(out, 0xFF, sizeof *out);
  else *out = static_cast<float>(v);
  return 0;
}

TV_EXTERN_C TV_API int bigintcvflt(double value, int64_t* out) {
  const float f = static_cast<float>(value);
  if (AllFF(&f, sizeof f) || AllFF(&value, sizeof value)) {
    *out = BIGINT_NULL;
    return 0;
  }
  return bigintcvdbl(value, out);
}

TV_EXTERN_C TV_API int biginttodec(int64_t v, Decimal* out) {
  if (v == BIGINT_NULL) {
    decsetnull(out);
    return 0;
  }
  uint64_t m = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  uint8_t space[1 + 10] = {0};
  uint8_t* d = space + 1;
  for (int i = 9; i >= 0; i--, m /= 100) d[i] = static_cast<uint8_t>(m % 100);
  return decnorm(out, v < 0 ? DEC_NEG : DEC_POS, 10, d, 10);
}

TV_EXTERN_C TV_API int bigintcvdec(const Decimal* value, int64_t* out) {
  if (value->sign == DEC_NULLSIGN) {
    *out = BIGINT_NULL;
    return 0;
  }
  if (!decusable(value)) return -1284;
  if (value->ndigits == 0 || value->exponent <= 0) {
    *out = 0;
    return 0;
  }
  if (value->exponent > 10) return -1284;
  // Ten digit bytes can pass 2^64: compare them with the limit byte by
  // byte before accumulating.
  static const uint8_t kLimit[10] = {9, 22, 33, 72, 3, 68, 54, 77, 58, 7};
  if (value->exponent == 10) {
    for (int i = 0; i < 10; i++) {
      const uint8_t b = i < value->ndigits ? value->digits[i] : 0;
      if (b != kLimit[i]) {
        if (b > kLimit[i]) return -1284;
        break;
      }
    }
  }
  uint64_t m = 0;
  for (int i = 0; i < value->exponent; i++)
    m = m * 100 + (i < value->ndigits ? value->digits[i] : 0);
  *out = value->sign == DEC_NEG ? -static_cast<int64_t>(m) : static_cast<int64_t>(m);
  return 0;
}

TV_EXTERN_C TV_API int biginttoasc(int64_t v, char* buffer, int length, int base) {
  if (v == BIGINT_NULL) {
    if (length > 0) memset(buffer, ' ', static_cast<size_t>(length));
    return 0;
  }
  char text[32];
  if (base == 16) snprintf(text, sizeof text, "0x%016llx", static_cast<unsigned long long>(v));
  else snprintf(text, sizeof text, "%lld", static_cast<long long>(v));
  if (length <= 0) return 0;
  const int n = static_cast<int>(strlen(text));
  if (n > length) {
    memset(buffer, '*', static_cast<size_t>(length));
    return -1207;
  }
  memcpy(buffer, text, static_cast<size_t>(n) + 1);
  return 0;
}

TV_EXTERN_C TV_API int bigintcvasc(const char* text, int length, int64_t* out) {
  if (text == nullptr) return -1213;
  if (text[0] == '\0') {
    *out = BIGINT_NULL;
    return 0;
  }
  std::string work = length < 0 ? std::string(text) : std::string(text, strnlen(text, static_cast<size_t>(length)));
  const DbMoneyFormat* f = rmoneyformat();
  const char* p = work.c_str();
  while (IsSpace(*p)) p++;
  int base = 10;
  bool minus = false, skipped = false;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    base = 16;
  } else {
    if (*p == '-' || *p == '+') minus = *p++ == '-';
    while (*p == '0') p++, skipped = true;
  }
  if (*p == '\0') {
    *out = skipped ? 0 : BIGINT_NULL;
    return 0;
  }
  std::string s(p);
  while (!s.empty() && IsSpace(s.back())) s.pop_back();
  if (s.size() > 25) return -1284;
  if (base == 10) {
    int64_t exponent = 0;
    const size_t epos = s.find_first_of("eE");
    if (epos != std::string::npos) {
      const std::string et = s.substr(epos + 1);
      s.resize(epos);
      if (et.empty() || rstol(et.c_str(), &exponent) != 0) return -1213;
    }
    std::string digits;
    int before = -1;
    const std::string th(f->thousands_sep, static_cast<size_t>(f->thousands_sep_len));
    const std::string sep(f->decimal_sep, static_cast<size_t>(f->decimal_sep_len));
    for (size_t i = 0; i < s.size();) {
      if (!th.empty() && s.compare(i, th.size(), th) == 0) {
        i += th.size();
      } else if (!sep.empty() && s.compare(i, sep.size(), sep) == 0) {
        if (before >= 0) return -1213;
        before = static_cast<int>(digits.size());
        i += sep.size();
      } else if (s[i] >= '0' && s[i] <= '9') {
        digits += s[i++];
      } else {
        return -1213;
      }
    }
    const int64_t i = exponent + (before >= 0 ? before : static_cast<int64_t>(digits.size()));
    if (i >= 20) return -1284;
    if (i <= 0) {
      *out = 0;
      return 0;
    }
    if (static_cast<int64_t>(digits.size()) < i) digits.append(static_cast<size_t>(i - static_cast<int64_t>(digits.size())), '0');
    digits.resize(static_cast<size_t>(i));
    s = digits;
  }
  errno = 0;
  char* end = nullptr;
  int64_t v = 0;
  if (base == 16) {
    // Two's-complement hexadecimal: 16 digits may set the sign bit.
    const unsigned long long u = strtoull_l(s.c_str(), &end, 16, CLocale());
    v = static_cast<int64_t>(u);
    if (errno == ERANGE || *end != '\0' || end == s.c_str()) {
      *out = v;
      return -1284;
    }
  } else {
    v = strtoll_l(s.c_str(), &end, 10, CLocale());
    if (errno == ERANGE || *end != '\0') {
      *out = v;
      return -1284;
    }
    if (minus) v = -v;
  }
  *out = v;
  return 0;
}
