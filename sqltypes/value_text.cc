// The unload text of a value (rvaltotext): the text that unload files,
// character host variables and character columns receive.
#include <inttypes.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "base/env.h"
#include "locale/core/gl_mbchar.h"
#include "locale/format/gl_fmon.h"
#include "sqltypes/date.h"
#include "sqltypes/datetime.h"
#include "sqltypes/datetime_format.h"
#include "sqltypes/decimal_text.h"
#include "sqltypes/moneyfmt.h"
#include "sqltypes/sqlvalue_internal.h"

namespace {

constexpr int kWork = 80;        // the rendering field
constexpr int kDateMax = 1024;   // longest date text

bool CsvFormat() { return ggetenv("ZEL_UNLOAD_DLQ_CSV_FORMAT") != nullptr; }

void TrimBlanks(std::string* s) {
  while (!s->empty() && s->back() == ' ') s->pop_back();
}

// A field of n bytes as text: up to its NUL, trailing blanks removed.
std::string FieldText(const char* field, int n) {
  std::string s(field, strnlen(field, static_cast<size_t>(n)));
  TrimBlanks(&s);
  return s;
}

// The one '.' of a printf number text becomes the thread's decimal
// separator.
void LocalisePoint(std::string* s) {
  const DbMoneyFormat* f = rmoneyformat();
  const size_t dot = s->find('.');
  if (dot == std::string::npos || (f->decimal_sep_len == 1 && f->decimal_sep[0] == '.')) return;
  s->replace(dot, 1, f->decimal_sep, static_cast<size_t>(f->decimal_sep_len));
}

int DecField(const Decimal* d, int width, int decimals, bool unload, std::string* out) {
  char field[kWork + 2] = {};
  const int rc = unload ? dectounl(d, field, width, decimals)
                        : dectoasc(d, field, width, decimals);
  if (rc != 0) return -1207;
  *out = FieldText(field, width);
  return 0;
}

int FloatText(double x, int W, std::string* out) {
  if (!isfinite(x)) return -1223;
  const double a = fabs(x);
  if (CsvFormat() || (x != 0 && (a < 1e-130 || a > 1e124))) {
    int p = 6;
    if (W < 15) {
      p = x < 0 ? W - 9 : W - 8;
      if (p < 2) p = 0;
    }
    char buf[64];
    snprintf(buf, sizeof buf, "%.*e", p, x);
    *out = buf;
    LocalisePoint(out);
    return 0;
  }
  Decimal d;
  if (int rc = deccvdbl(x, &d); rc != 0) return rc;
  return DecField(&d, W, 16, true, out);
}

int IntegerDigits(const Decimal* d) {
  if (d->ndigits == 0 || d->exponent <= 0) return 0;
  return 2 * d->exponent - (d->digits[0] < 10 ? 1 : 0);
}

int MoneyText(const SqlValue* v, int W, std::string* out) {
  rmoneyinit();
  const DbMoneyFormat* f = rmoneyformat();
  const int front = static_cast<int>(strlen(rmoneyfront()));
  const int back = static_cast<int>(strlen(rmoneyback()));
  int w2 = W - front - back;
  if (w2 > kWork) w2 = kWork;
  int scale = v->v_len & 0xFF;
  const Decimal* d = &v->v.dec;
  if (rmoneystate() == 1) {
    // DBMONEY: the number text with the money separator (the same as the
    // decimal one under DBMONEY) between the two symbols.
    if (scale == 255) scale = f->frac_digits > 32 ? 32 : f->frac_digits < 0 ? 2 : f->frac_digits;
    if (w2 < 1) return -1207;
    std::string num;
    if (DecField(d, w2, scale, false, &num) != 0) return -1207;
    *out = rmoneyfront() + num + rmoneyback();
    return 0;
  }
  w2 -= f->mon_decimal_sep_len;
  const int k = w2 - IntegerDigits(d);
  GlLocale* loc = sqlv_locale();
  double x = 0;
  if (loc == nullptr || k < 0 || dectodbl(d, &x) != 0) return -1207;
  char buf[kWork + 1];
  int32_t n;
  if (k == 0) n = gl_mbsfmon(loc, buf, sizeof buf, "%^.0n", x);
  else if (scale != 255 && k < scale) {
    char format[16];
    snprintf(format, sizeof format, "%%^.%dn", k);
    n = gl_mbsfmon(loc, buf, sizeof buf, format, x);
  }
  else n = gl_mbsfmon(loc, buf, sizeof buf, "%^n", x);
  if (n < 0) return -1207;
  out->assign(buf, static_cast<size_t>(n));
  return 0;
}

// Renders a non-text value into *out; 0 or a negative code.
int Render(const SqlValue* v, int W, std::string* out) {
  char buf[kDateMax + 2] = {};
  switch (sqlv_type(v)) {
    case SQLSMINT: case SQLINT: case SQLSERIAL:
      snprintf(buf, sizeof buf, "%d", v->v.i4);
      *out = buf;
      return 0;
    case SQLFLOAT:
      return FloatText(v->v.f8, W, out);
    case SQLSMFLOAT: {
      if (CsvFormat()) {
        const int n = snprintf(buf, sizeof buf, "%e", static_cast<double>(v->v.f4));
        if (n > W - 1) return -1207;
        *out = buf;
        return 0;
      }
      Decimal d;
      if (int rc = deccvflt(v->v.f4, &d); rc != 0) return rc;
      return DecField(&d, W, 16, true, out);
    }
    case SQLDECIMAL: {
      const int s = v->v_len & 0xFF;
      return DecField(&v->v.dec, W, s == 255 ? 16 : s, false, out);
    }
    case SQLDATE:
      if (int rc = rdatestr(v->v.i4, buf); rc != 0) return rc;
      *out = buf;
      return 0;
    case SQLMONEY:
      return MoneyText(v, W, out);
    case SQLDTIME: {
      // USE_DTENV: the client's DATETIME format, else the standard form.
      DateTimeValue dt{static_cast<int16_t>(v->v_len), v->v.dec};
      if (use_dtenv() != 0) {
        char text[82] = {};
        if (int rc = dttofmtasc(&dt, text, 81, nullptr); rc != 0) return rc;
        *out = text;
        return 0;
      }
      if (int rc = dttoasc(&dt, buf); rc != 0) return rc;
      *out = buf;
      return 0;
    }
    case SQLINTERVAL: {
      IntervalValue in{static_cast<int16_t>(v->v_len), v->v.dec};
      if (int rc = intoasc(&in, buf); rc != 0) return rc;
      *out = buf;
      return 0;
    }
    case SQLINT8: case SQLSERIAL8:
      if (int rc = zel_int8tostr(&v->v.int8, buf, W); rc != 0) return rc;
      *out = buf;
      return 0;
    case SQLBIGINT: case SQLBIGSERIAL:
      snprintf(buf, sizeof buf, "%" PRId64, v->v.i8);
      *out = buf;
      return 0;
    default:
      return -1260;
  }
}

// Text values: cut to w, blank-padded; a character cut by the end of the
// field becomes blanks in a multibyte locale.
int TextValue(const SqlValue* v, char* field, int w) {
  const char* p = v->v.text.ptr;
  int32_t n = p == nullptr || v->v.text.len < 0 ? 0 : v->v.text.len;
  if (w <= 0) {
    if (n > 0) memcpy(field, p, static_cast<size_t>(n));
    field[n] = '\0';
    return 0;
  }
  int32_t keep = n < w ? n : w;
  if (keep < n) {
    GlLocale* loc = sqlv_locale();
    if (loc != nullptr && !loc->single_byte) {
      int32_t pos = 0;
      while (pos < keep) {
        int32_t c = gl_full_mblen(loc, p + pos, n - pos);
        if (c <= 0) c = 1;
        if (pos + c > keep) break;
        pos += c;
      }
      keep = pos;
    }
  }
  if (keep > 0) memcpy(field, p, static_cast<size_t>(keep));
  memset(field + keep, ' ', static_cast<size_t>(w - keep));
  return 0;
}

}  // namespace

TV_EXTERN_C TV_API int rvaltotext(const SqlValue* v, char* field, int w, int left) {
  if (sqlv_isnull(v)) {
    if (w <= 0) field[0] = '\0';
    else memset(field, ' ', static_cast<size_t>(w));
    return 0;
  }
  const int type = sqlv_type(v);
  if (sqlv_istext(type)) return TextValue(v, field, w);
  if (type == SQLBOOL) {
    const bool t = v->v.text.ptr != nullptr && v->v.text.ptr[0] != 0;
    field[0] = t ? 't' : 'f';
    if (w <= 0) field[1] = '\0';
    else memset(field + 1, ' ', static_cast<size_t>(w - 1));
    return 0;
  }
  const int W = w >= 1 && w <= kWork ? w : kWork;
  std::string text;
  const int rc = Render(v, W, &text);
  const int n = static_cast<int>(text.size());
  if ((rc == -1207 || (rc == 0 && n > w)) && w > 0) {
    memset(field, '*', static_cast<size_t>(w));
    return -1207;
  }
  if (rc != 0) return rc;
  if (w <= 0) {
    memcpy(field, text.data(), text.size());
    field[n] = '\0';
  } else if (left) {
    memcpy(field, text.data(), text.size());
    memset(field + n, ' ', static_cast<size_t>(w - n));
  } else {
    memset(field, ' ', static_cast<size_t>(w - n));
    memcpy(field + w - n, text.data(), text.size());
  }
  return 0;
}
