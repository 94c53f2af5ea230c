// The sections LC_NUMERIC, LC_MONETARY, LC_MESSAGES and LC_TIME of a
// locale-object file and their completion steps. Each item is one line:
//
//   string   "<length> <hex bytes>\n"        counted string
//   list     "<count> <v1> <v2> ...\n"       at most 15 integers
//   integer  "<decimal>\n"
//   count    "<decimal>\n", then that many string lines
//
//   LC_NUMERIC   decimal_point, thousands_sep, grouping (list),
//                num_positive_sign, num_negative_sign
//   LC_MONETARY  int_curr_symbol, currency_symbol, mon_decimal_point,
//                mon_thousands_sep, mon_grouping (list), positive_sign,
//                negative_sign, then eight integers: int_frac_digits,
//                frac_digits, p_cs_precedes, p_sep_by_space, n_cs_precedes,
//                n_sep_by_space, p_sign_posn, n_sign_posn (2147483647: not
//                given)
//   LC_MESSAGES  four strings
//   LC_TIME      calendar line ("gregorian\n", "hebrew\n", "islamic\n",
//                "arabic\n"), 7 abday, 7 day, count + abmon, count + mon,
//                d_t_fmt, d_fmt, t_fmt, am, pm, t_fmt_ampm, count + era,
//                era_d_fmt, era_t_fmt, era_d_t_fmt, count + alt_digits
//
// An era string has seven fields: direction:offset:start:end:name:second
// name:format, dates as year/month/day, an open end as "+*" or "-*".
#include <string.h>

#include <string>
#include <vector>

#include "locale/core/gl_calendar_kinds.h"
#include "locale/core/gl_category_data_ops.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_lco_sections.h"
#include "locale/core/gl_mbchar.h"
#include "locale/core/gl_refresh.h"
#include "locale/core/gl_support.h"
#include "locale/core/gl_tokens.h"
#include "locale/core/gl_trie.h"

namespace {

bool ReadText(GlFile *f, GlText *t, int32_t *error) {
  t->mb = _gl_read_string(f, error);
  return t->mb != nullptr;
}

// A count line: the count, or -1 without its line end (error 11).
bool ReadCount(GlFile *f, int32_t *count, int32_t *error) {
  *count = _gl_read_int(f);
  if (!_gl_read_eol(f)) {
    *error = GL_EFORMAT;
    return false;
  }
  return true;
}

// count strings into a new list; any failure is error 3.
bool ReadList(GlFile *f, char ***list, int32_t *count, int32_t *error) {
  int32_t n = 0;
  if (!ReadCount(f, &n, error)) return false;
  *list = nullptr;
  *count = 0;
  if (n <= 0) return true;
  auto **l = static_cast<char **>(_gl_malloc(static_cast<uint64_t>(n) * sizeof(char *)));
  if (l == nullptr) {
    *error = GL_ENOMEM;
    return false;
  }
  memset(l, 0, static_cast<size_t>(n) * sizeof(char *));
  *list = l;
  *count = n;
  for (int32_t i = 0; i < n; ++i) {
    int32_t e = 0;
    if ((l[i] = _gl_read_string(f, &e)) == nullptr) {
      *error = GL_ENOMEM;
      return false;
    }
  }
  return true;
}

bool ReadStrings(GlFile *f, char **const *slots, int n, int32_t *error) {
  for (int i = 0; i < n; ++i) {
    int32_t e = 0;
    if ((*slots[i] = _gl_read_string(f, &e)) == nullptr) {
      *error = GL_ENOMEM;
      return false;
    }
  }
  return true;
}

// The completion steps' common start: the byte maps, and LC_CTYPE data.
int32_t FinishStart(GlLocale *loc) {
  if (_gl_build_byte_maps(loc) != 0) return -1;
  if (loc->class_table == nullptr || _gl_ct_max_key_len(loc->class_table) <= 0) {
    *_gl_ext_errno(loc) = GL_ENOCTYPE;
    return 0;
  }
  return 1;
}

void Widen(GlLocale *loc, GlText *t) {
  _gl_free(t->wc);
  t->wc = _gl_text_widen(loc, t->mb);
}

void WidenInto(GlLocale *loc, GlWchar **wc, const char *mb) {
  _gl_free(*wc);
  *wc = _gl_text_widen(loc, mb);
}

// Wide forms of a list of n texts into a list of size entries.
bool WidenList(GlLocale *loc, GlWchar ***wl, char **list, int32_t n, int32_t size) {
  if (*wl != nullptr) {
    for (int32_t i = 0; i < size; ++i) _gl_free((*wl)[i]);
    _gl_free(*wl);
    *wl = nullptr;
  }
  if (list == nullptr || size <= 0) return true;
  auto **w = static_cast<GlWchar **>(_gl_malloc(static_cast<uint64_t>(size) * sizeof(GlWchar *)));
  if (w == nullptr) {
    *_gl_ext_errno(loc) = GL_ENOMEM;
    return false;
  }
  memset(w, 0, static_cast<size_t>(size) * sizeof(GlWchar *));
  for (int32_t i = 0; i < n; ++i) {
    if (list[i] != nullptr && (w[i] = _gl_text_widen(loc, list[i])) == nullptr) {
      for (int32_t j = 0; j < i; ++j) _gl_free(w[j]);
      _gl_free(w);
      *_gl_ext_errno(loc) = GL_ENOMEM;
      return false;
    }
  }
  *wl = w;
  return true;
}

char *Block(const std::string &s) {
  auto *p = static_cast<char *>(_gl_malloc(s.size() + 4));
  if (p == nullptr) return nullptr;
  memcpy(p, s.data(), s.size());
  memset(p + s.size(), 0, 4);
  return p;
}

// The multibyte form of wide characters [from, to).
bool Narrow(GlLocale *loc, const GlWchar *from, const GlWchar *to, std::string *out) {
  char buf[8];
  for (const GlWchar *p = from; p < to; ++p) {
    if (loc->single_byte) {
      out->push_back(static_cast<char>(*p & 0xFF));
      continue;
    }
    int32_t n = gl_full_wctomb(loc, buf, *p);
    if (n < 0) return false;
    out->append(buf, static_cast<size_t>(n));
  }
  return true;
}

// Era parsing, on the wide form of one era string.
class EraParser {
 public:
  EraParser(GlLocale *loc, const GlWchar *s) : loc_(loc), p_(s) {}

  int32_t Parse(GlEraRecord *r) {
    if (*p_ != '+' && *p_ != '-') return GL_EERA;
    r->direction = *p_++ == '+' ? 1 : -1;
    if (!Colon()) return GL_EERA;
    r->offset = Number();
    if (!Colon() || !Date(&r->start_year, &r->start_month, &r->start_day) || !Colon()) {
      return GL_EERA;
    }
    if ((p_[0] == '+' || p_[0] == '-') && p_[1] == '*') {
      r->end_kind = p_[0] == '+' ? 1 : -1;
      p_ += 2;
    } else {
      if (*p_ < '0' || *p_ > '9') return GL_EERA;
      if (!Date(&r->end_year, &r->end_month, &r->end_day)) return GL_EERA;
    }
    if (!Colon()) return GL_EERA;
    if (int32_t e = Field(&r->name)) return e;
    if (int32_t e = Field(&r->name2)) return e;
    const GlWchar *end = p_;
    while (*end != 0) ++end;
    std::string fmt;
    if (!Narrow(loc_, p_, end, &fmt) || (r->format = Block(fmt)) == nullptr) return GL_ENOMEM;
    return 0;
  }

 private:
  bool Colon() { return *p_ == ':' ? (++p_, true) : false; }

  int32_t Number() {
    bool neg = *p_ == '-';
    if (neg) ++p_;
    int64_t v = 0;
    while (*p_ >= '0' && *p_ <= '9') {
      if (v < 100000000) v = v * 10 + (*p_ - '0');
      ++p_;
    }
    return static_cast<int32_t>(neg ? -v : v);
  }

  bool Date(int32_t *y, int32_t *m, int32_t *d) {
    *y = Number();
    if (*p_++ != '/') return false;
    *m = Number();
    if (*p_++ != '/') return false;
    *d = Number();
    return true;
  }

  // Characters up to the next ":", which must come.
  int32_t Field(char **out) {
    const GlWchar *start = p_;
    while (*p_ != 0 && *p_ != ':') ++p_;
    if (*p_ == 0) return GL_ENOMEM;
    std::string s;
    if (!Narrow(loc_, start, p_, &s) || (*out = Block(s)) == nullptr) return GL_ENOMEM;
    ++p_;
    return 0;
  }

  GlLocale *loc_;
  const GlWchar *p_;
};

int32_t ParseEras(GlLocale *loc, GlTimeInfo *t) {
  uint64_t bytes = static_cast<uint64_t>(t->era_count) * sizeof(GlEraRecord *);
  t->era_records = static_cast<GlEraRecord **>(_gl_malloc(bytes));
  if (t->era_records == nullptr) return GL_ENOMEM;
  memset(t->era_records, 0, bytes);
  for (int32_t i = 0; i < t->era_count; ++i) {
    auto *r = static_cast<GlEraRecord *>(_gl_malloc(sizeof(GlEraRecord)));
    if (r == nullptr) return GL_ENOMEM;
    memset(r, 0, sizeof *r);
    t->era_records[i] = r;
    GlWchar *w = _gl_text_widen(loc, t->era[i]);
    if (w == nullptr) return GL_ENOMEM;
    int32_t e = EraParser(loc, w).Parse(r);
    _gl_free(w);
    if (e != 0) return e;
    r->format_wc = _gl_text_widen(loc, r->format);
  }
  return 0;
}

// The texts of a list joined by the locale's line feed, then four zeros.
bool Join(GlLocale *loc, char **list, int32_t n, GlText *out) {
  _gl_free(out->mb);
  out->mb = nullptr;
  if (list == nullptr || n <= 0) return true;
  char lf[8];
  int32_t lf_len = loc->single_byte ? (lf[0] = '\n', 1) : gl_full_wctomb(loc, lf, 10);
  if (lf_len < 0) return false;
  std::string s;
  for (int32_t i = 0; i < n; ++i) {
    if (i > 0) s.append(lf, static_cast<size_t>(lf_len));
    if (list[i] != nullptr) s.append(list[i], static_cast<size_t>(_gl_mbs4_len(list[i], INT32_MAX)));
  }
  out->mb = Block(s);
  return out->mb != nullptr;
}

// Builds one trie from n words (NULL words are left out).
bool BuildTrie(GlLocale *loc, GlNameTrie *slot, char *const *words, int32_t n) {
  GlNameTrie trie = nullptr;
  for (int32_t i = 0; words != nullptr && i < n; ++i) {
    if (words[i] == nullptr) continue;
    if (_gl_trie_insert(loc, &trie, words[i], i) != 0) {
      _gl_trie_free(loc, trie);
      return false;
    }
  }
  _gl_trie_free(loc, *slot);
  *slot = trie;
  return true;
}

}  // namespace

int32_t _gl_read_numeric(GlFile *f, GlNumericInfo *n, int32_t *error) {
  if (!ReadText(f, &n->decimal_point, error) || !ReadText(f, &n->thousands_sep, error) ||
      _gl_read_int_list(f, n->grouping, error) != 0 ||
      !ReadText(f, &n->num_positive_sign, error) || !ReadText(f, &n->num_negative_sign, error)) {
    return -1;
  }
  return 0;
}

int32_t _gl_read_monetary(GlFile *f, GlNumericInfo *n, int32_t *error) {
  GlText *first[] = {&n->int_curr_symbol, &n->currency_symbol, &n->mon_decimal_point,
                     &n->mon_thousands_sep};
  for (GlText *t : first) ReadText(f, t, error);
  if (_gl_read_int_list(f, n->mon_grouping, error) != 0 && *error != 0) return -1;
  ReadText(f, &n->positive_sign, error);
  ReadText(f, &n->negative_sign, error);
  int32_t *ints[] = {&n->int_frac_digits, &n->frac_digits,    &n->p_cs_precedes,
                     &n->p_sep_by_space,  &n->n_cs_precedes,  &n->n_sep_by_space,
                     &n->p_sign_posn,     &n->n_sign_posn};
  for (int i = 0; i < 8; ++i) {
    *ints[i] = _gl_read_int(f);
    if (!_gl_read_eol(f) || ((i == 0 || i == 6) && *error != 0)) {
      if (*error == 0) *error = GL_EFORMAT;
      return -1;
    }
  }
  return 0;
}

int32_t _gl_read_messages(GlFile *f, GlNumericInfo *n, int32_t *error) {
  for (GlText &t : n->msg_text) {
    if (!ReadText(f, &t, error)) return -1;
  }
  return 0;
}

int32_t _gl_read_time(GlFile *f, GlTimeInfo *t, int32_t *error) {
  _gl_null_time(t);
  char line[32];
  if (_gl_ext_fgets(line, sizeof line, f) == nullptr || strchr(line, '\n') == nullptr) {
    *error = GL_EFORMAT;
    return -1;
  }
  const GlCalendarKind *k = _gl_calendar_kinds;
  while (k->name != nullptr && strcmp(k->name, line) != 0) ++k;
  if (k->name == nullptr) {
    *error = GL_ECALENDAR;
    return -1;
  }
  t->calendar = k->number;
  char **days[14];
  for (int i = 0; i < 7; ++i) {
    days[i] = &t->abday[i];
    days[7 + i] = &t->day[i];
  }
  if (!ReadStrings(f, days, 14, error) || !ReadList(f, &t->abmon, &t->abmon_count, error) ||
      !ReadList(f, &t->mon, &t->mon_count, error)) {
    return -1;
  }
  char **const fmts[] = {&t->d_t_fmt, &t->d_fmt, &t->t_fmt, &t->am_pm[0], &t->am_pm[1],
                         &t->t_fmt_ampm};
  char **const era_fmts[] = {&t->era_d_fmt, &t->era_t_fmt, &t->era_d_t_fmt};
  if (!ReadStrings(f, fmts, 6, error) || !ReadList(f, &t->era, &t->era_count, error) ||
      !ReadStrings(f, era_fmts, 3, error)) {
    return -1;
  }
  if (!ReadList(f, &t->alt_digits, &t->alt_digits_count, error)) {
    if (t->alt_digits != nullptr) {
      for (int32_t i = 0; i < t->alt_digits_count; ++i) _gl_free(t->alt_digits[i]);
      _gl_free(t->alt_digits);
    }
    t->alt_digits = nullptr;
    t->alt_digits_count = 0;
    return -1;
  }
  return 0;
}

int32_t _gl_finish_numeric(GlLocale *loc) {
  int32_t rc = FinishStart(loc);
  if (rc != 1) return rc;
  GlNumericInfo *n = &loc->numeric;
  for (GlText *t : {&n->decimal_point, &n->thousands_sep, &n->num_positive_sign,
                    &n->num_negative_sign}) {
    Widen(loc, t);
  }
  return _gl_lconv_build_numeric(loc) == 0 ? 1 : -1;
}

int32_t _gl_finish_monetary(GlLocale *loc) {
  int32_t rc = FinishStart(loc);
  if (rc != 1) return rc;
  GlNumericInfo *n = &loc->numeric;
  for (GlText *t : {&n->int_curr_symbol, &n->currency_symbol, &n->mon_decimal_point,
                    &n->mon_thousands_sep, &n->positive_sign, &n->negative_sign}) {
    Widen(loc, t);
  }
  return _gl_lconv_build_monetary(loc) == 0 ? 1 : -1;
}

int32_t _gl_finish_messages(GlLocale *loc) {
  int32_t rc = FinishStart(loc);
  if (rc != 1) return rc;
  for (GlText &t : loc->numeric.msg_text) Widen(loc, &t);
  return 1;
}

int32_t _gl_finish_time(GlLocale *loc) {
  int32_t rc = FinishStart(loc);
  if (rc != 1) return rc;
  GlTimeInfo *t = &loc->time;
  if (t->era_count > 0) {
    _gl_free_era_records(t);
    if (int32_t e = ParseEras(loc, t)) {
      _gl_free_era_records(t);
      *_gl_ext_errno(loc) = e;
      return -1;
    }
    if (!Join(loc, t->era, t->era_count, &t->era_joined) ||
        !Join(loc, t->alt_digits, t->alt_digits_count, &t->alt_digits_joined)) {
      *_gl_ext_errno(loc) = GL_ENOMEM;
      return -1;
    }
  }
  std::vector<char *> names, names2;
  for (int32_t i = 0; t->era_records != nullptr && i < t->era_count; ++i) {
    names.push_back(t->era_records[i]->name);
    names2.push_back(t->era_records[i]->name2);
  }
  int32_t ne = static_cast<int32_t>(names.size());
  if (!BuildTrie(loc, &t->tries[GL_TRIE_ERA_NAME], names.data(), ne) ||
      !BuildTrie(loc, &t->tries[GL_TRIE_ERA_NAME2], names2.data(), ne) ||
      !BuildTrie(loc, &t->tries[GL_TRIE_MON], t->mon, t->mon_count) ||
      !BuildTrie(loc, &t->tries[GL_TRIE_ABMON], t->abmon, t->abmon_count) ||
      !BuildTrie(loc, &t->tries[GL_TRIE_DAY], t->day, 7) ||
      !BuildTrie(loc, &t->tries[GL_TRIE_ABDAY], t->abday, 7) ||
      !BuildTrie(loc, &t->tries[GL_TRIE_ALT_DIGITS], t->alt_digits, t->alt_digits_count) ||
      !BuildTrie(loc, &t->tries[GL_TRIE_AM_PM], t->am_pm, 2)) {
    return -1;
  }
  WidenInto(loc, &t->d_fmt_wc, t->d_fmt);
  WidenInto(loc, &t->d_t_fmt_wc, t->d_t_fmt);
  WidenInto(loc, &t->t_fmt_wc, t->t_fmt);
  WidenInto(loc, &t->t_fmt_ampm_wc, t->t_fmt_ampm);
  WidenInto(loc, &t->era_d_fmt_wc, t->era_d_fmt);
  WidenInto(loc, &t->era_d_t_fmt_wc, t->era_d_t_fmt);
  WidenInto(loc, &t->era_t_fmt_wc, t->era_t_fmt);
  // Each month list is widened by its own count; abmon_wc keeps room for
  // mon_count entries as well, since the category free walks that many.
  int32_t mon_size = t->mon_count > t->abmon_count ? t->mon_count : t->abmon_count;
  if (!WidenList(loc, &t->alt_digits_wc, t->alt_digits, t->alt_digits_count,
                 t->alt_digits_count) ||
      !WidenList(loc, &t->mon_wc, t->mon, t->mon_count, t->mon_count) ||
      !WidenList(loc, &t->abmon_wc, t->abmon, t->abmon_count, mon_size)) {
    return -1;
  }
  for (int i = 0; i < 7; ++i) {
    WidenInto(loc, &t->day_wc[i], t->day[i]);
    WidenInto(loc, &t->abday_wc[i], t->abday[i]);
  }
  for (int i = 0; i < 2; ++i) WidenInto(loc, &t->am_pm_wc[i], t->am_pm[i]);
  Widen(loc, &t->era_joined);
  Widen(loc, &t->alt_digits_joined);
  return 1;
}
