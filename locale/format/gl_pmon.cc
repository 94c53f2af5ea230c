// The money parsing engine.
#include "locale/format/gl_pmon.h"

#include <string.h>

#include "locale/core/gl_ctype.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_ext.h"
#include "locale/core/gl_mbchar.h"
#include "locale/core/gl_mbstring.h"
#include "locale/core/gl_support.h"
#include "locale/core/gl_width.h"
#include "locale/format/gl_fmon.h"
#include "locale/format/gl_fmtspec.h"
#include "locale/format/gl_format_errors.h"
#include "locale/format/gl_numconv.h"
#include "locale/format/gl_strftime.h"

namespace {

void SetError(GlLocale *loc, int32_t e) { *_gl_ext_errno(loc) = e; }

bool IsSpace(GlLocale *loc, GlWchar c) {
  return c != 0 && _gl_wc_class(loc, c, GL_CLASS_SPACE) != 0;
}

// What the reader returns for some failures; never taken as an amount.
constexpr double kNoValue = 2147483647.0;

struct Match {
  bool found = false;
  double value = 0;
  int32_t length = 0;  // characters consumed
};

// Matches one layout at text. sign: the sign text (never NULL); symbol:
// the conversion's currency symbol, NULL for none.
Match MatchLayout(GlLocale *loc, const int32_t *layout, uint32_t flags, const char *sign,
                  const char *symbol, const GlWchar *text) {
  Match m;
  const GlWchar *p = text;
  for (int32_t i = 0; layout[i] != GL_MON_END && *p != 0; ++i) {
    switch (layout[i]) {
      case GL_MON_LPAREN:
      case GL_MON_RPAREN:
        if (*p != (layout[i] == GL_MON_LPAREN ? '(' : ')')) return Match();
        ++p;
        break;
      case GL_MON_SYMBOL: {
        if (symbol == nullptr) return Match();
        int32_t n = _gl_compare_wc_to_mb(loc, p, symbol);
        if (n > 0) p += n;
        break;
      }
      case GL_MON_VALUE: {
        GlWchar *end = nullptr;
        int32_t saved = *_gl_ext_errno(loc);
        double v = gl_wcstod_num_mon(loc, p, &end, (flags & GL_FMT_GROUP) != 0, 1);
        SetError(loc, saved);
        if (end != nullptr && end > p && v != kNoValue) {
          m.found = true;
          m.value = v;
          p = end;
        }
        break;
      }
      case GL_MON_SIGN: {
        int32_t n = _gl_compare_wc_to_mb(loc, p, sign);
        if (n < 0) return Match();
        p += n;
        break;
      }
      case GL_MON_SPACE:
        if (!IsSpace(loc, *p)) return Match();
        ++p;
        break;
      default: break;
    }
  }
  if (!m.found) return Match();
  m.length = static_cast<int32_t>(p - text);
  return m;
}

const char *Mb(const GlText &t) { return t.mb == nullptr ? "" : t.mb; }

}  // namespace

int32_t _gl_compare_wc_to_mb(GlLocale *loc, const GlWchar *ws, const char *mb) {
  if (mb == nullptr) return loc->single_byte ? 0 : -1;
  int32_t n = 0;
  for (const char *q = mb;;) {
    GlWchar c = 0;
    int32_t len;
    if (loc->single_byte) {
      c = static_cast<unsigned char>(*q);
      len = c == 0 ? 0 : 1;
    } else {
      len = _zel_gl_full_mbtowc(loc, &c, q, 4);
    }
    if (len <= 0) return n;
    if (ws[n] != c) return -1;
    ++n;
    q += len;
  }
}

const GlWchar *_gl_pmon_engine(GlLocale *loc, const GlWchar *text, const GlWchar *format,
                               va_list *args) {
  const GlNumericInfo &num = loc->numeric;
  const GlWchar *t = text;
  const GlWchar *f = format;
  while (*f != 0) {
    if (IsSpace(loc, *f)) {
      while (IsSpace(loc, *f)) ++f;
      while (IsSpace(loc, *t)) ++t;
      continue;
    }
    if (*f != '%' || f[1] == '%') {
      if (*t != *f) {
        SetError(loc, GL_EBADCONV);
        return nullptr;
      }
      ++t;
      f += *f == '%' ? 2 : 1;
      continue;
    }
    ++f;
    GlFormatSpec spec;
    _gl_fmtspec_preset(&spec);
    if (_gl_parse_fmtspec(loc, &f, &spec, nullptr, nullptr) != 0) return nullptr;
    if (*f == 0) {
      SetError(loc, GL_EBADCONV);
      return nullptr;
    }
    if ((spec.flags & (GL_FMT_LEFT | GL_FMT_ZERO)) == 0) {
      while (IsSpace(loc, *t)) ++t;
    }
    const char *symbol;
    if (*f == 'i') {
      symbol = num.int_curr_symbol.mb;
    } else if (*f == 'n') {
      symbol = num.currency_symbol.mb;
    } else {
      SetError(loc, GL_EBADCONV);
      return nullptr;
    }
    ++f;
    int32_t pos[7], neg[7];
    if (_gl_money_layout(pos, num.p_cs_precedes, num.p_sign_posn, num.p_sep_by_space) != 0 ||
        _gl_money_layout(neg, num.n_cs_precedes, num.n_sign_posn, num.n_sep_by_space) != 0) {
      return nullptr;
    }
    // With a width the match sees only the characters that fill it.
    GlWchar *copy = nullptr;
    const GlWchar *at = t;
    if (spec.width > 0) {
      copy = static_cast<GlWchar *>(
          _gl_malloc((static_cast<uint64_t>(spec.width) + 1) * sizeof(GlWchar)));
      if (copy == nullptr) {
        SetError(loc, GL_ENOMEM);
        return nullptr;
      }
      int32_t n = 0, sum = 0;
      while (t[n] != 0 && n < spec.width && sum < spec.width) {
        int32_t w = gl_wcwidth(loc, t[n]);
        sum += w > 0 ? w : 0;
        copy[n] = t[n];
        ++n;
      }
      copy[n] = 0;
      at = copy;
    }
    Match p = MatchLayout(loc, pos, spec.flags, Mb(num.positive_sign), symbol, at);
    if (p.found && p.value < 0) p = Match();
    Match n = MatchLayout(loc, neg, spec.flags, Mb(num.negative_sign), symbol, at);
    if (n.found && n.value < 0) n = Match();
    double *target = nullptr;
    int32_t consumed = 0;
    if (p.found || n.found) {
      target = va_arg(*args, double *);
      if (p.found && p.length >= n.length) {
        *target = p.value;
        consumed = p.length;
      } else {
        *target = -n.value;
        consumed = n.length;
      }
    } else {
      Match r = MatchLayout(loc, pos, spec.flags, "", symbol, at);
      if (!r.found || r.value < 0) {
        _gl_free(copy);
        SetError(loc, GL_EBADARG);
        return nullptr;
      }
      target = va_arg(*args, double *);
      *target = r.value;
      consumed = r.length;
    }
    _gl_free(copy);
    t += consumed;
  }
  return t;
}

GlWchar *gl_wcspmon(GlLocale *loc, const GlWchar *text, const GlWchar *format, ...) {
  if (text == nullptr || format == nullptr) {
    SetError(loc, GL_ENULLARG);
    return nullptr;
  }
  va_list ap;
  va_start(ap, format);
  const GlWchar *r = _gl_pmon_engine(loc, text, format, &ap);
  va_end(ap);
  return const_cast<GlWchar *>(r);
}

char *gl_mbspmon(GlLocale *loc, const char *text, const char *format, ...) {
  if (text == nullptr || format == nullptr) {
    SetError(loc, GL_ENULLARG);
    return nullptr;
  }
  if (loc->mbstowcs == nullptr) {  // no LC_CTYPE data
    SetError(loc, GL_ENOCTYPE);
    return nullptr;
  }
  GlWchar *wtext = _gl_mbstowcs_grow(loc, text);
  if (wtext == nullptr) return nullptr;
  GlWchar *wformat = _gl_mbstowcs_grow(loc, format);
  if (wformat == nullptr) {
    _gl_free(wtext);
    return nullptr;
  }
  va_list ap;
  va_start(ap, format);
  const GlWchar *end = _gl_pmon_engine(loc, wtext, wformat, &ap);
  va_end(ap);
  char *result = nullptr;
  if (end != nullptr) {
    const char *q = text;
    for (const GlWchar *w = wtext; w < end && q != nullptr; ++w) {
      q = loc->single_byte ? q + 1 : gl_full_mbsnext(loc, q);
    }
    result = const_cast<char *>(q);
  }
  _gl_free(wformat);
  _gl_free(wtext);
  return result;
}
