// Money formatting, the money layout table and the multibyte writer of
// results.
//
// Each conversion prints its amount with the run-time's "%f" (six
// decimals), rounds that text half up to the right precision, puts in the
// monetary decimal point, the grouping and the fill of a left precision,
// and lays out symbol, sign and value by the locale's positive or negative
// layout. Every text of a conversion lives in a work area of 256
// characters; a conversion whose text would not fit fails with error 14
// rather than losing digits, symbol or sign.
#include "locale/format/gl_fmon.h"

#include <limits.h>
#include <locale.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "locale/core/gl_ctype.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_ext.h"
#include "locale/core/gl_mbchar.h"
#include "locale/core/gl_support.h"
#include "locale/core/gl_width.h"
#include "locale/format/gl_format_errors.h"
#include "locale/format/gl_strftime.h"

namespace {

using WStr = std::basic_string<GlWchar>;

constexpr size_t kWorkArea = 256;  // characters of a work area, terminator included

void SetError(GlLocale *loc, int32_t e) { *_gl_ext_errno(loc) = e; }

WStr Wide(const GlText &t) { return t.wc == nullptr ? WStr() : WStr(t.wc); }

int32_t Width(GlLocale *loc, const WStr &s) {
  return s.empty() ? 0 : gl_wcswidth(loc, s.c_str(), static_cast<int32_t>(s.size()));
}

// The layout table: (, S, V, G, _ and ) per cs_precedes, sign_posn and
// sep_by_space.
const char *const kLayouts[2][5][3] = {
    {{"(VS)", "(V_S)", "(VS)"},
     {"GVS", "GV_S", "GVS"},
     {"VSG", "V_SG", "VS_G"},
     {"VGS", "V_GS", "VG_S"},
     {"VSG", "V_SG", "VS_G"}},
    {{"(SV)", "(S_V)", "(SV)"},
     {"GSV", "GS_V", "G_SV"},
     {"SVG", "S_VG", "SVG"},
     {"GSV", "GS_V", "G_SV"},
     {"SGV", "SG_V", "S_GV"}},
};

locale_t CNumeric() {
  static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return c;
}

// Group sizes of a monetary grouping list, from the rightmost group: the
// last size repeats, a size of 0 or less ends the grouping.
int32_t MonGroup(const int32_t *g, int32_t k) {
  int32_t n = g[0];
  if (n <= 0 || n >= GL_INT_LIST_SIZE) return 0;
  for (int32_t i = 1; i <= n && i <= k; ++i) {
    if (g[i] <= 0) return 0;
  }
  return g[k < n ? k : n];
}

int32_t SepCount(const int32_t *g, int32_t digits) {
  int32_t seps = 0, covered = 0;
  for (int32_t k = 1;; ++k) {
    int32_t size = MonGroup(g, k);
    if (size <= 0 || covered + size >= digits) return seps;
    covered += size;
    ++seps;
  }
}

struct Conversion {
  GlWchar fill = ' ';
  bool plus = false;
  bool group = true;
  bool symbol = true;
  bool left = false;
  int32_t width = 0;
  int32_t lprec = -1;
  int32_t rprec = -1;
  int32_t psp = 0;
  int32_t nsp = 0;
};

bool IsDigit(GlLocale *loc, GlWchar c) {
  return c != 0 && _gl_wc_class(loc, c, GL_CLASS_DIGIT) != 0;
}

int32_t ReadNumber(GlLocale *loc, const GlWchar **p) {
  int64_t v = 0;
  for (; IsDigit(loc, **p); ++*p) {
    v = v * 10 + (static_cast<int64_t>(**p) - '0');
    if (v > INT32_MAX) v = INT32_MAX;
  }
  return static_cast<int32_t>(v);
}

// The rounded digits of |x| under the right precision: integer digits and
// fraction digits. False when the text does not fit the work areas.
bool SplitRound(double x, int32_t prec, std::string *int_digits, std::string *frac) {
  char text[kWorkArea * 2];
  int32_t n = _gl_c_format_double(text, sizeof text, "%f", x);
  if (n < 0 || static_cast<size_t>(n) >= kWorkArea) return false;
  const char *p = text;
  if (*p == '-') ++p;
  const char *dot = strchr(p, '.');
  std::string ip = dot == nullptr ? std::string(p) : std::string(p, dot);
  if (!ip.empty() && ip[0] == '0') ip = "0";
  std::string fp = dot == nullptr ? std::string() : std::string(dot + 1);
  size_t want = static_cast<size_t>(prec) + 1;
  if (fp.size() > want) fp.resize(want);
  while (fp.size() < want) fp.push_back('0');
  char cut = fp.back();
  fp.pop_back();
  if (cut >= '5') {
    bool carry = true;
    for (size_t i = fp.size(); carry && i-- > 0;) {
      if (fp[i] == '9') {
        fp[i] = '0';
      } else {
        ++fp[i];
        carry = false;
      }
    }
    for (size_t i = ip.size(); carry && i-- > 0;) {
      if (ip[i] == '9') {
        ip[i] = '0';
      } else {
        ++ip[i];
        carry = false;
      }
    }
    if (carry) ip.insert(ip.begin(), '1');
  }
  *int_digits = ip;
  *frac = fp;
  return true;
}

// Widths of the pieces before and after the value in one layout.
int32_t WidthBefore(GlLocale *loc, const int32_t *layout, const WStr &symbol, const WStr &sign,
                    const WStr &value) {
  int32_t w = 0;
  for (int32_t i = 0; layout[i] != GL_MON_END && layout[i] != GL_MON_VALUE; ++i) {
    switch (layout[i]) {
      case GL_MON_LPAREN: w += 1; break;
      case GL_MON_SYMBOL: w += Width(loc, symbol); break;
      case GL_MON_SIGN: w += Width(loc, sign); break;
      case GL_MON_SPACE:
        if (!(layout[i + 1] == GL_MON_VALUE && !value.empty() && value[0] == ' ')) w += 1;
        break;
      default: break;
    }
  }
  return w;
}

int32_t WidthAfter(GlLocale *loc, const int32_t *layout, const WStr &symbol, const WStr &sign) {
  int32_t i = 0;
  while (layout[i] != GL_MON_END && layout[i] != GL_MON_VALUE) ++i;
  if (layout[i] == GL_MON_END) return 0;
  int32_t w = 0;
  for (++i; layout[i] != GL_MON_END; ++i) {
    switch (layout[i]) {
      case GL_MON_SYMBOL: w += Width(loc, symbol); break;
      case GL_MON_SIGN: w += Width(loc, sign); break;
      case GL_MON_SPACE:
      case GL_MON_RPAREN: w += 1; break;
      default: break;
    }
  }
  return w;
}

WStr PieceText(int32_t piece, const WStr &symbol, const WStr &sign) {
  switch (piece) {
    case GL_MON_LPAREN: return WStr(1, '(');
    case GL_MON_SYMBOL: return symbol;
    case GL_MON_SIGN: return sign;
    case GL_MON_SPACE: return WStr(1, ' ');
    case GL_MON_RPAREN: return WStr(1, ')');
    default: return WStr();
  }
}

// Lays out one item: pieces before the value aligned to `before` columns,
// the value, pieces after it filled to `after` columns (-1: no alignment).
WStr LayOut(GlLocale *loc, const int32_t *layout, const WStr &symbol, const WStr &sign,
            const WStr &value, int32_t before, int32_t after) {
  WStr item, gathered;
  int32_t i = 0;
  for (; layout[i] != GL_MON_END && layout[i] != GL_MON_VALUE; ++i) {
    if (layout[i] == GL_MON_SPACE && layout[i + 1] == GL_MON_VALUE && !value.empty() &&
        value[0] == ' ') {
      continue;
    }
    gathered += PieceText(layout[i], symbol, sign);
  }
  if (layout[i] == GL_MON_END) return gathered;  // a layout without a value
  if (before >= 0) {
    int32_t w = Width(loc, gathered);
    if (before > w) item.append(static_cast<size_t>(before - w), ' ');
  }
  item += gathered;
  item += value;
  int32_t total = 0;
  for (++i; layout[i] != GL_MON_END; ++i) {
    WStr t = PieceText(layout[i], symbol, sign);
    total += Width(loc, t);
    item += t;
  }
  if (after > total) item.append(static_cast<size_t>(after - total), ' ');
  return item;
}

// One conversion's item, or false with the error number set.
bool FormatAmount(GlLocale *loc, const Conversion &cv, GlWchar letter, double x, WStr *item) {
  const GlNumericInfo &num = loc->numeric;
  if (!isfinite(x)) {
    SetError(loc, GL_EBADARG);
    return false;
  }
  int32_t prec = cv.rprec;
  if (prec == -1) prec = letter == 'i' ? num.int_frac_digits : num.frac_digits;
  if (prec < 0 || prec == INT32_MAX) prec = 2;  // not given by the locale
  if (static_cast<size_t>(prec) >= kWorkArea - 1) {
    SetError(loc, GL_E2BIG);
    return false;
  }
  std::string ip, fp;
  if (!SplitRound(x, prec, &ip, &fp)) {
    SetError(loc, GL_E2BIG);
    return false;
  }
  WStr value(ip.begin(), ip.end());
  if (cv.group) {
    WStr sep = Wide(num.mon_thousands_sep);
    WStr grouped;
    int32_t k = 1, left = MonGroup(num.mon_grouping, 1);
    for (size_t i = value.size(); i-- > 0;) {
      grouped.insert(grouped.begin(), value[i]);
      if (left > 0 && --left == 0 && i > 0) {
        grouped.insert(0, sep);
        left = MonGroup(num.mon_grouping, ++k);
      }
    }
    value = grouped;
  }
  WStr point = prec != 0 ? Wide(num.mon_decimal_point) : WStr();
  if (cv.lprec >= 0) {
    int64_t fill = int64_t{cv.group ? SepCount(num.mon_grouping, cv.lprec) : 0} + cv.lprec -
                   static_cast<int64_t>(value.size());
    if (fill > static_cast<int64_t>(kWorkArea)) {
      SetError(loc, GL_E2BIG);
      return false;
    }
    if (fill > 0) value.insert(0, static_cast<size_t>(fill), cv.fill);
  }
  value += point;
  value.append(fp.begin(), fp.end());
  if (value.size() >= kWorkArea) {
    SetError(loc, GL_E2BIG);
    return false;
  }
  WStr symbol;
  if (cv.symbol) symbol = Wide(letter == 'i' ? num.int_curr_symbol : num.currency_symbol);
  int32_t pos[7], neg[7];
  // A locale that gives no valid layout shows the sign, symbol and value.
  if (_gl_money_layout(pos, num.p_cs_precedes, cv.psp, num.p_sep_by_space) != 0) {
    _gl_money_layout(pos, 1, 1, 0);
  }
  if (_gl_money_layout(neg, num.n_cs_precedes, cv.nsp, num.n_sep_by_space) != 0) {
    _gl_money_layout(neg, 1, 1, 0);
  }
  WStr psign = Wide(num.positive_sign), nsign = Wide(num.negative_sign);
  int32_t before = -1, after = -1;
  if (cv.lprec >= 0) {
    int32_t b1 = WidthBefore(loc, pos, symbol, psign, value);
    int32_t b2 = WidthBefore(loc, neg, symbol, nsign, value);
    int32_t a1 = WidthAfter(loc, pos, symbol, psign);
    int32_t a2 = WidthAfter(loc, neg, symbol, nsign);
    before = b1 > b2 ? b1 : b2;
    after = a1 > a2 ? a1 : a2;
  }
  bool negative = x < 0;
  *item = negative ? LayOut(loc, neg, symbol, nsign, value, before, after)
                   : LayOut(loc, pos, symbol, cv.plus ? psign : WStr(), value, before, after);
  int32_t w = Width(loc, *item);
  if (w < cv.width) {
    if (static_cast<int64_t>(cv.width) - w >= static_cast<int64_t>(kWorkArea)) {
      SetError(loc, GL_E2BIG);
      return false;
    }
    WStr pad(static_cast<size_t>(cv.width - w), ' ');
    *item = cv.left ? *item + pad : pad + *item;
  }
  if (item->size() >= kWorkArea) {
    SetError(loc, GL_E2BIG);
    return false;
  }
  return true;
}

}  // namespace

int32_t _gl_money_layout(int32_t layout[7], int32_t cs_precedes, int32_t sign_posn,
                         int32_t sep_by_space) {
  for (int32_t i = 0; i < 7; ++i) layout[i] = GL_MON_END;
  if (cs_precedes < 0 || cs_precedes > 1 || sign_posn < 0 || sign_posn > 4 ||
      sep_by_space < 0 || sep_by_space > 2) {
    return -1;
  }
  const char *s = kLayouts[cs_precedes][sign_posn][sep_by_space];
  for (int32_t i = 0; s[i] != 0; ++i) {
    switch (s[i]) {
      case '(': layout[i] = GL_MON_LPAREN; break;
      case 'S': layout[i] = GL_MON_SYMBOL; break;
      case 'V': layout[i] = GL_MON_VALUE; break;
      case 'G': layout[i] = GL_MON_SIGN; break;
      case '_': layout[i] = GL_MON_SPACE; break;
      default: layout[i] = GL_MON_RPAREN; break;
    }
  }
  return 0;
}

int32_t _gl_c_format_double(char *out, int32_t size, const char *format, double x) {
  locale_t c = CNumeric();
  locale_t old = c != static_cast<locale_t>(nullptr) ? uselocale(c) : static_cast<locale_t>(nullptr);
  int n = snprintf(out, static_cast<size_t>(size), format, x);
  if (old != static_cast<locale_t>(nullptr)) uselocale(old);
  return n < 0 || n >= size ? -1 : n;
}

int32_t _gl_get_mbstring(GlLocale *loc, char *out, const GlWchar *ws, int32_t capacity) {
  int64_t bytes = 0;
  int32_t m = gl_mb_loc_min(loc);
  for (; *ws != 0; ++ws) {
    char one[8];
    int32_t n = 1;
    if (loc->single_byte) {
      one[0] = static_cast<char>(*ws & 0xff);
    } else {
      n = gl_full_wctomb(loc, one, *ws);
      if (n < 0) {
        SetError(loc, GL_EILSEQ);
        return -1;
      }
    }
    if (bytes + n + m > capacity) {
      SetError(loc, GL_E2BIG);
      return -1;
    }
    memcpy(out + bytes, one, static_cast<size_t>(n));
    bytes += n;
  }
  if (bytes + m > capacity) {
    SetError(loc, GL_E2BIG);
    return -1;
  }
  gl_mbsterm(loc, out + bytes);
  return static_cast<int32_t>(bytes);
}

int32_t _gl_fmon_engine(GlLocale *loc, GlWchar *out, int32_t capacity, const GlWchar *format,
                        va_list *args) {
  if (capacity < 1) {
    SetError(loc, GL_E2BIG);
    return -1;
  }
  int32_t count = 0;
  out[0] = 0;
  const GlNumericInfo &num = loc->numeric;
  for (const GlWchar *p = format; *p != 0;) {
    if (*p != '%' || p[1] == '%') {
      if (count + 2 > capacity) {
        SetError(loc, GL_E2BIG);
        return -1;
      }
      out[count++] = *p;
      out[count] = 0;
      p += *p == '%' ? 2 : 1;
      continue;
    }
    ++p;
    Conversion cv;
    cv.psp = num.p_sign_posn;
    cv.nsp = num.n_sign_posn;
    for (bool more = true; more && *p != 0;) {
      switch (*p & 0xff) {
        case '=':
          if (p[1] == 0) {
            more = false;
            ++p;
            break;
          }
          cv.fill = p[1];
          p += 2;
          break;
        case '^': cv.group = false; ++p; break;
        case '+':
          cv.plus = true;
          if (cv.psp == 0) cv.psp = 1;
          if (cv.nsp == 0) cv.nsp = 1;
          ++p;
          break;
        case '(': cv.nsp = 0; ++p; break;
        case '!': cv.symbol = false; ++p; break;
        case '-': cv.left = true; ++p; break;
        default: more = false;
      }
    }
    cv.width = ReadNumber(loc, &p);
    if (*p == '#') {
      ++p;
      cv.lprec = ReadNumber(loc, &p);
    }
    if (*p == '.') {
      ++p;
      cv.rprec = ReadNumber(loc, &p);
    }
    GlWchar letter = *p & 0xff;
    if (*p == 0 || (letter != 'i' && letter != 'n')) {
      SetError(loc, GL_EMONLETTER);
      return -1;
    }
    ++p;
    double x = va_arg(*args, double);
    WStr item;
    if (!FormatAmount(loc, cv, letter, x, &item)) return -1;
    if (static_cast<int64_t>(count) + static_cast<int64_t>(item.size()) + 1 > capacity) {
      SetError(loc, GL_E2BIG);
      return -1;
    }
    memcpy(out + count, item.data(), item.size() * sizeof(GlWchar));
    count += static_cast<int32_t>(item.size());
    out[count] = 0;
  }
  return count;
}

int32_t gl_wcsfmon(GlLocale *loc, GlWchar *out, int32_t capacity, const GlWchar *format, ...) {
  if (format == nullptr || out == nullptr) {
    SetError(loc, GL_ENULLARG);
    return -1;
  }
  va_list ap;
  va_start(ap, format);
  int32_t r = _gl_fmon_engine(loc, out, capacity, format, &ap);
  va_end(ap);
  return r;
}

int32_t gl_mbsfmon(GlLocale *loc, char *out, int32_t capacity, const char *format, ...) {
  if (format == nullptr || out == nullptr) {
    SetError(loc, GL_ENULLARG);
    return -1;
  }
  if (loc->mbstowcs == nullptr) {  // no LC_CTYPE data
    SetError(loc, GL_ENOCTYPE);
    return -1;
  }
  if (capacity < 1) {
    SetError(loc, GL_E2BIG);
    return -1;
  }
  GlWchar *wformat = _gl_mbstowcs_grow(loc, format);
  if (wformat == nullptr) return -1;
  GlWchar local[128];
  GlWchar *wout = local;
  if (capacity >= 128) {
    wout = static_cast<GlWchar *>(
        _gl_malloc((static_cast<uint64_t>(capacity) + 1) * sizeof(GlWchar)));
    if (wout == nullptr) {
      _gl_free(wformat);
      SetError(loc, GL_ENOMEM);
      return -1;
    }
  }
  va_list ap;
  va_start(ap, format);
  int32_t r = _gl_fmon_engine(loc, wout, capacity, wformat, &ap);
  va_end(ap);
  if (r >= 0) r = _gl_get_mbstring(loc, out, wout, capacity);
  if (wout != local) _gl_free(wout);
  _gl_free(wformat);
  return r;
}
