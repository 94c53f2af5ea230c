// Decimal from and to text.
#include "sqltypes/decimal_text.h"

#include <stdlib.h>
#include <string.h>

#include <string>

#include "base/client_locale.h"
#include "base/env.h"
#include "base/thread_state.h"
#include "sqltypes/moneyfmt.h"

namespace {

constexpr int kMaxSignificant = 32;

thread_local int t_not_strict = -1;  // ZEL_NOT_STRICT_THOUS_SEP is "1"; -1 unread

bool NotStrictThousands() {
  if (t_not_strict < 0) {
    const char* v = ggetenv_idx("ZEL_NOT_STRICT_THOUS_SEP", ENVROW_ZEL_NOT_STRICT_THOUS_SEP);
    t_not_strict = v != nullptr && strcmp(v, "1") == 0 ? 1 : 0;
  }
  return t_not_strict == 1;
}

bool At(const char* p, const char* s, int n) { return n > 0 && strncmp(p, s, static_cast<size_t>(n)) == 0; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int Parse(const char* text, int length, Decimal* out, const DbMoneyFormat* f) {
  decsetzero(out);
  if (text == nullptr || length < 0) return -1213;
  std::string work(text, strnlen(text, static_cast<size_t>(length)));
  const char* p = work.c_str();
  while (*p == ' ') p++;
  if (*p == '\0') {
    decsetnull(out);
    return 0;
  }
  // Trailing blanks, cut character by character so that a blank byte
  // inside a multibyte character is never taken for one.
  {
    const char* q = p;
    const char* keep = p;
    while (*q != '\0') {
      int blank = 0;
      const int32_t n = rgl_mbchar(q, static_cast<int32_t>(strlen(q)), &blank);
      if (n <= 0) return 9;
      q += n;
      if (!blank) keep = q;
    }
    work.resize(static_cast<size_t>(keep - work.c_str()));
    p = work.c_str();
    while (*p == ' ') p++;
  }
  bool minus = false;
  if (At(p, f->negative_sign, f->negative_sign_len)) {
    minus = true;
    p += f->negative_sign_len;
  } else if (At(p, f->positive_sign, f->positive_sign_len)) {
    p += f->positive_sign_len;
  } else if (f->positive_sign_len == 0 && *p == '+') {
    p++;
  } else if (*p == '-') {
    minus = true;
    p++;
  }
  const char* intstart = p;
  if (!IsDigit(*p) && !(At(p, f->decimal_sep, f->decimal_sep_len) && IsDigit(p[f->decimal_sep_len])))
    return -1213;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    p += 2;
    uint32_t v = 0;
    while (true) {
      const char c = *p;
      int d = -1;
      if (c >= '0' && c <= '9') d = c - '0';
      else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
      if (d < 0) break;
      v = v << 4 | static_cast<uint32_t>(d);
      p++;
    }
    while (*p == ' ') p++;
    if (*p != '\0' && *p != '\n') return -1213;
    int32_t s = static_cast<int32_t>(v);
    if (minus) s = static_cast<int32_t>(0u - v);
    return deccvlong(s, out);
  }
  char digits[kMaxSignificant];
  int nd = 0, e = 0;
  bool sep = false, grouped = false, significant = false;
  for (;; ) {
    if (At(p, f->decimal_sep, f->decimal_sep_len)) {
      if (sep) return -1213;
      sep = true;
      p += f->decimal_sep_len;
    } else if (At(p, f->thousands_sep, f->thousands_sep_len)) {
      if (sep && f->thousands_sep[0] != ' ') return -1213;
      if (!grouped && !sep) {
        grouped = true;
        if (!NotStrictThousands()) {
          const char* end = strstr(intstart, f->decimal_sep);
          if (end == nullptr || f->decimal_sep_len == 0) end = intstart + strlen(intstart);
          // The integer part ends at the first character that is neither a
          // digit nor a thousands separator.
          const char* q = intstart;
          while (q < end && (IsDigit(*q) || At(q, f->thousands_sep, f->thousands_sep_len)))
            q += IsDigit(*q) ? 1 : f->thousands_sep_len;
          if (!decgroupok(intstart, q, f->grouping, f->thousands_sep, f->thousands_sep_len))
            return -1213;
        }
      }
      p += f->thousands_sep_len;
    } else if (*p == '0' && !significant) {
      if (sep) e--;
      p++;
    } else if (IsDigit(*p)) {
      significant = true;
      if (nd < kMaxSignificant) digits[nd++] = *p;
      if (!sep) e++;
      p++;
    } else {
      break;
    }
  }
  if (*p == 'e' || *p == 'E') {
    p++;
    bool eneg = false;
    if (*p == '+' || *p == '-') eneg = *p++ == '-';
    if (!IsDigit(*p)) return -1213;
    long x = 0;
    while (IsDigit(*p)) {
      if (x < 100000) x = x * 10 + (*p - '0');
      p++;
    }
    e += static_cast<int>(eneg ? -x : x);
  }
  while (*p == ' ') p++;
  if (*p != '\0' && *p != '\n') return -1213;
  if (nd == 0) return 0;  // zero, whatever its exponent
  if (e < -130) return -1201;
  if (e > 126) return -1200;
  uint8_t space[1 + kMaxSignificant / 2 + 1] = {0};
  uint8_t* b = space + 1;
  int n = 0, i = 0;
  if (e & 1) b[n++] = static_cast<uint8_t>(digits[i++] - '0');
  while (i < nd) {
    const int hi = digits[i++] - '0';
    const int lo = i < nd ? digits[i++] - '0' : 0;
    b[n++] = static_cast<uint8_t>(hi * 10 + lo);
  }
  const int exponent = (e + 1) >= 0 ? (e + 1) / 2 : -((-(e + 1) + 1) / 2);
  Decimal v;
  const int rc = decnorm(&v, minus ? DEC_NEG : DEC_POS, exponent, b, n);
  if (rc != 0) return rc;
  *out = v;
  return 0;
}

// The thread's digit-string buffer, grown to at least n bytes.
char* DigitBuffer(int n) {
  ThreadRuntimeRecord* tr = rthreadrec();
  if (tr == nullptr) return nullptr;
  if (tr->conv_buf == nullptr || tr->conv_buf_size < n) {
    const int size = n > 82 ? n : 82;
    char* b = static_cast<char*>(realloc(tr->conv_buf, static_cast<size_t>(size)));
    if (b == nullptr) return nullptr;
    tr->conv_buf = b;
    tr->conv_buf_size = size;
  }
  return tr->conv_buf;
}

void Fill(char* field, int length, char c) { memset(field, c, static_cast<size_t>(length)); }

}  // namespace

bool decgroupok(const char* begin, const char* end, const char* grouping, const char* sep,
                int sep_len) {
  const char* p = end;  // reading from the right end
  int last = 0;
  for (int entry = 0; entry < 3; entry++) {
    const int g = static_cast<signed char>(grouping[entry]);
    if (g == 0 || grouping[entry] == '\0') {
      if (last <= 0) return false;
      // Repeat the last size for the rest.
      while (p - begin > last) {
        p -= last;
        if (p - begin < sep_len || !At(p - sep_len, sep, sep_len)) return false;
        p -= sep_len;
      }
      return p > begin;
    }
    if (g < 0 || g == 127) {
      if (entry == 0) return false;
      for (const char* q = begin; q < p; q++)
        if (At(q, sep, sep_len)) return false;
      return p > begin;
    }
    // The leftmost group may be shorter than the size; an empty one is a
    // separator with nothing before it.
    if (p - begin <= g) return p > begin;
    p -= g;
    if (p - begin < sep_len || !At(p - sep_len, sep, sep_len)) return false;
    p -= sep_len;
    last = g;
  }
  return false;
}

char* decdigitstr(const Decimal* v, int count, int* decpt, int* sign, int mode) {
  const int want_room = (count > 80 ? count : 80) + 2;
  if (v->sign == DEC_NULLSIGN) {
    char* b = DigitBuffer(want_room + 2);
    if (b == nullptr) return nullptr;
    if (mode == 2 && count == 0) {
      strcpy(b, "0");
    } else {
      const int n = count > 0 ? count : 0;
      memset(b, ' ', static_cast<size_t>(n));
      b[n] = '\0';
    }
    return b;
  }
  *sign = v->sign == DEC_NEG ? 1 : 0;
  char held[2 * DEC_MAXDIGITS + 1];
  int nh = 0;
  int pos = v->ndigits == 0 ? 0 : 2 * v->exponent;
  for (int i = 0; i < v->ndigits; i++) {
    held[nh++] = static_cast<char>('0' + v->digits[i] / 10);
    held[nh++] = static_cast<char>('0' + v->digits[i] % 10);
  }
  int start = 0;
  if (nh > 0 && held[0] == '0') {
    start = 1;
    pos--;
  }
  const char* h = held + start;
  nh -= start;
  int wanted = count;
  if (mode == 1) wanted = count + pos;
  if (mode == 2) wanted = count + pos >= 0 ? count + pos : count - pos;
  const int room = (wanted > 80 ? wanted : 80) + 2;
  char* b = DigitBuffer(room > want_room ? room : want_room);
  if (b == nullptr) return nullptr;
  if (wanted < 0) {
    strcpy(b, "0");
    *decpt = 0;
    return b;
  }
  if (wanted >= nh) {
    memcpy(b, h, static_cast<size_t>(nh));
    memset(b + nh, '0', static_cast<size_t>(wanted - nh));
    b[wanted] = '\0';
  } else {
    memcpy(b, h, static_cast<size_t>(wanted));
    b[wanted] = '\0';
    if (h[wanted] >= '5') {
      int i = wanted - 1;
      while (i >= 0 && b[i] == '9') b[i--] = '0';
      if (i >= 0) {
        b[i]++;
      } else {
        // Carry out of the first digit: "1" and zeros, one place up.
        pos++;
        const int n = mode == 0 ? wanted : wanted + 1;
        b[0] = '1';
        memset(b + 1, '0', static_cast<size_t>(n > 1 ? n - 1 : 0));
        b[n > 0 ? n : 1] = '\0';
        wanted = n;
      }
    }
  }
  if (mode == 2 && b[0] == '\0') strcpy(b, "0");
  *decpt = pos;
  return b;
}

namespace {

// The field formatter behind dectoasc.
// unload: the unload text form (no validity check, the format's negative
// sign kept for a value shown as zero, a fraction without integer part cut
// after its last non-zero digit and ended by a NUL).
int FormatField(const Decimal* v, char* field, int length, int d, char fill,
                const DbMoneyFormat* f, bool unload) {
  if (length < 0 || (!unload && decvalid(v) != 0)) return -1;
  if (v->sign == DEC_NULLSIGN) {
    if (fill == ' ') Fill(field, length, fill);
    else if (length > 0) field[0] = fill;
    return 0;
  }
  if (d < 0) {
    d = 2 * (v->ndigits - v->exponent);
    if (v->ndigits > 0 && v->digits[v->ndigits - 1] % 10 == 0) d--;
    if (v->ndigits == 0 || d < 1) d = 1;
  }
  const bool negative = v->sign == DEC_NEG;
  const int seplen = f->decimal_sep_len;
  const int signlen = negative ? (unload ? f->negative_sign_len : 1) : 0;
  Fill(field, length, ' ');
  int pos = 0, sign = 0, first_pos = 0;
  bool have_first = false;
  for (;;) {
    char* s = decdigitstr(v, d, &pos, &sign, 2);
    if (s == nullptr) return -1;
    if (!have_first) first_pos = pos, have_first = true;
    const int intdigits = pos > 0 ? pos : 1;
    const int width = signlen + intdigits + (d > 0 ? seplen + d : 0);
    if (width <= length) {
      // Digit k of s stands at decimal place pos - 1 - k (0 = units).
      const int ns = static_cast<int>(strlen(s));
      auto digit = [&](int place) -> char {
        const int k = pos - 1 - place;
        return k >= 0 && k < ns ? s[k] : '0';
      };
      bool all_zero = pos <= 0;
      if (all_zero)
        for (int place = -1; place >= -d; place--) all_zero = all_zero && digit(place) == '0';
      char* o = field;
      if (negative && unload) {
        memcpy(o, f->negative_sign, static_cast<size_t>(signlen));
        o += signlen;
      } else if (negative && !all_zero) {
        *o++ = '-';
      }
      if (pos <= 0) *o++ = '0';
      for (int place = pos - 1; place >= 0; place--) *o++ = digit(place);
      if (d > 0) {
        memcpy(o, f->decimal_sep, static_cast<size_t>(seplen));
        o += seplen;
        int shown = d;
        if (unload && pos <= 0) {
          // Trailing zero digits cut; an all-zero fraction keeps two (one
          // when one decimal is asked), and a NUL ends the text.
          while (shown > 0 && digit(-shown) == '0') shown--;
          if (shown == 0) shown = d < 2 ? d : 2;
        }
        for (int place = -1; place >= -shown; place--) *o++ = digit(place);
        if (unload && pos <= 0 && o < field + length) *o = '\0';
      }
      return 0;
    }
    const int excess = width - length;
    if (first_pos <= -4 || first_pos <= -d) break;
    if (d >= excess && d > 0) {
      d -= excess;
      continue;
    }
    if (excess == d + 1 && d != 0) {
      d = 0;
      continue;
    }
    break;
  }
  // Exponent form.
  const int exp = first_pos - 1;
  int overhead = (negative ? f->negative_sign_len : 0) + seplen + 3;
  if (exp < 0) overhead++;
  if (exp < -99 || exp > 99) overhead++;
  if (overhead >= length) {
    Fill(field, length, '*');
    return -1;
  }
  char* s = decdigitstr(v, length - overhead, &pos, &sign, 0);
  if (s == nullptr) return -1;
  int ns = static_cast<int>(strlen(s));
  while (ns > 1 && s[ns - 1] == '0') ns--;
  char* o = field;
  if (negative) {
    memcpy(o, f->negative_sign, static_cast<size_t>(f->negative_sign_len));
    o += f->negative_sign_len;
  }
  *o++ = s[0];
  if (ns > 1) {
    memcpy(o, f->decimal_sep, static_cast<size_t>(seplen));
    o += seplen;
    memcpy(o, s + 1, static_cast<size_t>(ns - 1));
    o += ns - 1;
  }
  const int x = pos - 1;
  char tail[24];
  snprintf(tail, sizeof tail, "e%s%02d", x < 0 ? "-" : "", x < 0 ? -x : x);
  const size_t tl = strlen(tail);
  if (o - field + static_cast<int>(tl) > length) {
    Fill(field, length, '*');
    return -1;
  }
  memcpy(o, tail, tl);
  return 0;
}

}  // namespace

TV_EXTERN_C TV_API int deccvasc(const char* text, int length, Decimal* out) {
  if (int rc = rglinit(); rc < 0) {
    decsetzero(out);
    return rc;
  }
  return Parse(text, length, out, rmoneyformat());
}

int deccvmonasc(const char* text, int length, Decimal* out, const char* setting) {
  if (int rc = rglinit(); rc < 0) {
    decsetzero(out);
    return rc;
  }
  DbMoneyFormat f;
  rmoneyparse(setting, nullptr, nullptr, &f);
  return Parse(text, length, out, &f);
}

TV_EXTERN_C TV_API int dectoasc(const Decimal* value, char* field, int length, int decimals) {
  return FormatField(value, field, length, decimals, ' ', rmoneyformat(), false);
}

int decfmtfield(const Decimal* value, char* field, int length, int decimals, char fill,
                const char* setting) {
  if (setting == nullptr) return FormatField(value, field, length, decimals, fill, rmoneyformat(), false);
  DbMoneyFormat f;
  rmoneyparse(setting, nullptr, nullptr, &f);
  return FormatField(value, field, length, decimals, fill, &f, false);
}

int dectounl(const Decimal* value, char* field, int length, int decimals) {
  return FormatField(value, field, length, decimals, ' ', rmoneyformat(), true);
}

TV_EXTERN_C TV_API char* dececvt(const Decimal* value, int ndigit, int* decpt, int* sign) {
  return decdigitstr(value, ndigit, decpt, sign, 0);
}

TV_EXTERN_C TV_API char* decfcvt(const Decimal* value, int ndigit, int* decpt, int* sign) {
  return decdigitstr(value, ndigit, decpt, sign, 1);
}

TV_EXTERN_C TV_API int dectodbl(const Decimal* value, double* out) {
  if (int rc = rglinit(); rc < 0) return rc;
  if (value->sign == DEC_NULLSIGN) {
    memset(out, 0xFF, sizeof *out);
    return 0;
  }
  const DbMoneyFormat* f = rmoneyformat();
  std::string t;
  if (value->sign == DEC_NEG) t += '-';
  std::string digits;
  for (int i = 0; i < value->ndigits; i++) {
    digits += static_cast<char>('0' + value->digits[i] / 10);
    digits += static_cast<char>('0' + value->digits[i] % 10);
  }
  const int exp = value->exponent, count = value->ndigits;
  char e[16];
  if (exp <= 0) {
    t += "0";
    t.append(f->decimal_sep, static_cast<size_t>(f->decimal_sep_len));
    t += digits;
    if (exp != 0) {
      snprintf(e, sizeof e, "E-%d", -2 * exp);
      t += e;
    }
  } else if (exp < count) {
    t += digits.substr(0, static_cast<size_t>(2 * exp));
    t.append(f->decimal_sep, static_cast<size_t>(f->decimal_sep_len));
    t += digits.substr(static_cast<size_t>(2 * exp));
  } else {
    t += digits;
    snprintf(e, sizeof e, "E%d", 2 * (exp - count));
    t += e;
  }
  return rstod(t.c_str(), out);
}

TV_EXTERN_C TV_API int dectoflt(const Decimal* value, float* out) {
  double d = 0;
  const int rc = dectodbl(value, &d);
  if (value->sign == DEC_NULLSIGN) {
    memset(out, 0xFF, sizeof *out);
    return rc;
  }
  if (rc == 0) *out = static_cast<float>(d);
  return rc;
}

int rparseint(const char* text, int64_t max, int free_digits, int64_t empty, int over_code,
              bool only_blanks_after, int64_t* out) {
  const char* p = text;
  while (*p == ' ') p++;
  if (*p == '\0') {
    *out = empty;
    return 0;
  }
  bool minus = false;
  if (*p == '+' || *p == '-') minus = *p++ == '-';
  if (!IsDigit(*p)) return -1213;
  int64_t v = 0;
  int n = 0;
  while (IsDigit(*p)) {
    v = v * 10 + (*p++ - '0');
    if (++n > free_digits && v > max) return over_code;
  }
  if (only_blanks_after) {
    while (*p == ' ' || *p == '\n') p++;
    if (*p != '\0') return -1213;
  } else if (*p != '\0' && *p != ' ' && *p != '\n') {
    return -1213;
  }
  *out = minus ? -v : v;
  return 0;
}

TV_EXTERN_C TV_API int rstol(const char* text, int64_t* out) {
  return rparseint(text, INT32_MAX, 7, INT32_MIN, -1215, false, out);
}

TV_EXTERN_C TV_API int rstod(const char* text, double* out) {
  return zel_gl_convert_double(out, text, "%e");
}
