#include "locale/core/gl_category_data_ops.h"

#include <limits.h>
#include <string.h>

#include "locale/core/gl_errors.h"
#include "locale/core/gl_ext.h"
#include "locale/core/gl_support.h"

namespace {

void FreeText(GlText *t) {
  _gl_free(t->mb);
  _gl_free(t->wc);
  t->mb = nullptr;
  t->wc = nullptr;
}

template <class T>
void FreeList(T **list, int32_t count) {
  if (list == nullptr) return;
  for (int32_t i = 0; i < count; ++i) _gl_free(list[i]);
  _gl_free(list);
}

GlText *MonetaryTexts(GlNumericInfo *n, int i) {
  GlText *t[] = {&n->int_curr_symbol, &n->currency_symbol, &n->mon_decimal_point,
                 &n->mon_thousands_sep, &n->positive_sign, &n->negative_sign};
  return t[i];
}
constexpr int kMonetaryTexts = 6;

GlText *NumericTexts(GlNumericInfo *n, int i) {
  GlText *t[] = {&n->decimal_point, &n->thousands_sep, &n->num_positive_sign,
                 &n->num_negative_sign};
  return t[i];
}
constexpr int kNumericTexts = 4;

char LconvChar(int32_t v) { return v == INT32_MAX ? 127 : static_cast<char>(v & 0xff); }

}  // namespace

void _gl_null_numeric(GlNumericInfo *n) {
  for (int i = 0; i < kNumericTexts; ++i) *NumericTexts(n, i) = GlText{};
  memset(n->grouping, 0, sizeof n->grouping);
}

void _gl_null_monetary(GlNumericInfo *n) {
  for (int i = 0; i < kMonetaryTexts; ++i) *MonetaryTexts(n, i) = GlText{};
  memset(n->mon_grouping, 0, sizeof n->mon_grouping);
  n->int_frac_digits = n->frac_digits = INT32_MAX;
  n->p_cs_precedes = n->p_sep_by_space = INT32_MAX;
  n->n_cs_precedes = n->n_sep_by_space = INT32_MAX;
  n->p_sign_posn = n->n_sign_posn = INT32_MAX;
}

void _gl_null_messages(GlNumericInfo *n) {
  for (GlText &t : n->msg_text) t = GlText{};
}

void _gl_null_time(GlTimeInfo *t) { *t = GlTimeInfo{}; }

void _gl_copy_numeric(GlNumericInfo *dst, const GlNumericInfo *src) {
  auto *s = const_cast<GlNumericInfo *>(src);
  for (int i = 0; i < kNumericTexts; ++i) *NumericTexts(dst, i) = *NumericTexts(s, i);
  memcpy(dst->grouping, src->grouping, sizeof dst->grouping);
}

void _gl_copy_monetary(GlNumericInfo *dst, const GlNumericInfo *src) {
  auto *s = const_cast<GlNumericInfo *>(src);
  for (int i = 0; i < kMonetaryTexts; ++i) *MonetaryTexts(dst, i) = *MonetaryTexts(s, i);
  memcpy(dst->mon_grouping, src->mon_grouping, sizeof dst->mon_grouping);
  dst->int_frac_digits = src->int_frac_digits;
  dst->frac_digits = src->frac_digits;
  dst->p_cs_precedes = src->p_cs_precedes;
  dst->p_sep_by_space = src->p_sep_by_space;
  dst->n_cs_precedes = src->n_cs_precedes;
  dst->n_sep_by_space = src->n_sep_by_space;
  dst->p_sign_posn = src->p_sign_posn;
  dst->n_sign_posn = src->n_sign_posn;
}

void _gl_copy_messages(GlNumericInfo *dst, const GlNumericInfo *src) {
  for (int i = 0; i < 4; ++i) dst->msg_text[i] = src->msg_text[i];
}

void _gl_copy_time(GlTimeInfo *dst, const GlTimeInfo *src) {
  *dst = *src;
  dst->era_records = nullptr;
  dst->era_count = 0;
}

void _gl_free_numeric(GlNumericInfo *n) {
  for (int i = 0; i < kNumericTexts; ++i) FreeText(NumericTexts(n, i));
}

void _gl_free_monetary(GlNumericInfo *n) {
  for (int i = 0; i < kMonetaryTexts; ++i) FreeText(MonetaryTexts(n, i));
}

void _gl_free_messages(GlNumericInfo *n) {
  for (GlText &t : n->msg_text) FreeText(&t);
}

void _gl_free_era_records(GlTimeInfo *t) {
  if (t->era_records != nullptr) {
    for (int32_t i = 0; i < t->era_count; ++i) {
      GlEraRecord *r = t->era_records[i];
      if (r == nullptr) continue;
      _gl_free(r->name);
      _gl_free(r->name2);
      _gl_free(r->format);
      _gl_free(r->format_wc);
      _gl_free(r);
    }
    _gl_free(t->era_records);
  }
  t->era_records = nullptr;
}

void _gl_free_time(GlLocale *loc, GlTimeInfo *t) {
  for (int i = 0; i < 7; ++i) {
    _gl_free(t->abday[i]);
    _gl_free(t->abday_wc[i]);
    _gl_free(t->day[i]);
    _gl_free(t->day_wc[i]);
  }
  FreeList(t->abmon, t->abmon_count);
  // The wide month lists are sized by mon_count; free what they hold.
  FreeList(t->abmon_wc, t->mon_count > t->abmon_count ? t->mon_count : t->abmon_count);
  FreeList(t->mon, t->mon_count);
  FreeList(t->mon_wc, t->mon_count);
  for (int i = 0; i < 2; ++i) {
    _gl_free(t->am_pm[i]);
    _gl_free(t->am_pm_wc[i]);
  }
  FreeList(t->alt_digits, t->alt_digits_count);
  FreeList(t->alt_digits_wc, t->alt_digits_count);
  for (GlNameTrie &trie : t->tries) {
    _gl_trie_free(loc, trie);
    trie = nullptr;
  }
  char *fmts[] = {t->d_fmt, t->d_t_fmt, t->t_fmt, t->t_fmt_ampm,
                  t->era_d_fmt, t->era_d_t_fmt, t->era_t_fmt};
  for (char *f : fmts) _gl_free(f);
  GlWchar *wfmts[] = {t->d_fmt_wc, t->d_t_fmt_wc, t->t_fmt_wc, t->t_fmt_ampm_wc,
                      t->era_d_fmt_wc, t->era_d_t_fmt_wc, t->era_t_fmt_wc};
  for (GlWchar *f : wfmts) _gl_free(f);
  _gl_free_era_records(t);
  FreeList(t->era, t->era_count);
  FreeText(&t->era_joined);
  FreeText(&t->alt_digits_joined);
}

int64_t _gl_mbs4_len(const char *s, int64_t limit) {
  int zeros = 0;
  for (int64_t i = 0; i < limit; ++i) {
    if (s[i] == '\0') {
      if (++zeros == 4) return i - 3;
    } else {
      zeros = 0;
    }
  }
  return -1;
}

char *_gl_dup_mbs4(const char *s) {
  if (s == nullptr) return nullptr;
  // Strings of 256 bytes or more are refused; look no further than that.
  int64_t n = _gl_mbs4_len(s, 256 + 3);
  if (n < 0 || n >= 256) return nullptr;
  auto *out = static_cast<char *>(_gl_malloc(static_cast<uint64_t>(n) + 4));
  if (out == nullptr) return nullptr;
  memcpy(out, s, static_cast<size_t>(n));
  memset(out + n, 0, 4);
  return out;
}

char *_gl_grouping_bytes(const int32_t *list) {
  int32_t c = list[0];
  if (c < 1 || c > 255) return nullptr;
  // A list holds at most 15 sizes; never read past it.
  int32_t avail = c < GL_INT_LIST_SIZE - 1 ? c : GL_INT_LIST_SIZE - 1;
  auto *out = static_cast<char *>(_gl_malloc(static_cast<uint64_t>(c) + 1));
  if (out == nullptr) return nullptr;
  for (int32_t i = 0; i < c; ++i) {
    out[i] = i < avail ? static_cast<char>(list[1 + i] & 0xff) : out[avail - 1];
  }
  out[c] = '\0';
  return out;
}

GlWchar *_gl_text_widen(GlLocale *loc, const char *mb) {
  if (mb == nullptr || loc->mbstowcs == nullptr) return nullptr;
  int64_t n = _gl_mbs4_len(mb, INT32_MAX);
  if (n < 0) return nullptr;
  auto *wc = static_cast<GlWchar *>(_gl_malloc(static_cast<uint64_t>(n + 1) * sizeof(GlWchar)));
  if (wc == nullptr) return nullptr;
  if (loc->mbstowcs(loc, wc, mb, static_cast<int32_t>(n + 1)) < 0) {
    _gl_free(wc);
    return nullptr;
  }
  return wc;
}

void _gl_lconv_free_numeric(GlLconv *lc) {
  FreeText(&lc->decimal_point);
  FreeText(&lc->thousands_sep);
  FreeText(&lc->num_positive_sign);
  FreeText(&lc->num_negative_sign);
  _gl_free(lc->grouping);
  lc->grouping = nullptr;
}

void _gl_lconv_free_monetary(GlLconv *lc) {
  FreeText(&lc->int_curr_symbol);
  FreeText(&lc->currency_symbol);
  FreeText(&lc->mon_decimal_point);
  FreeText(&lc->mon_thousands_sep);
  FreeText(&lc->positive_sign);
  FreeText(&lc->negative_sign);
  _gl_free(lc->mon_grouping);
  lc->mon_grouping = nullptr;
}

namespace {

// Copies one text into lconv; false when memory ran out.
bool CopyText(GlLocale *loc, GlText *dst, const GlText &src) {
  dst->mb = _gl_dup_mbs4(src.mb);
  if (src.mb != nullptr && dst->mb == nullptr && _gl_mbs4_len(src.mb, 256 + 3) >= 0 &&
      _gl_mbs4_len(src.mb, 256 + 3) < 256) {
    return false;
  }
  dst->wc = _gl_text_widen(loc, dst->mb);
  return true;
}

bool Fail(GlLocale *loc) {
  *_gl_ext_errno(loc) = GL_ENOMEM;
  return false;
}

}  // namespace

int32_t _gl_lconv_build_numeric(GlLocale *loc) {
  GlLconv *lc = &loc->lconv;
  GlNumericInfo *n = &loc->numeric;
  _gl_lconv_free_numeric(lc);
  bool ok = CopyText(loc, &lc->decimal_point, n->decimal_point) &&
            CopyText(loc, &lc->thousands_sep, n->thousands_sep) &&
            CopyText(loc, &lc->num_positive_sign, n->num_positive_sign) &&
            CopyText(loc, &lc->num_negative_sign, n->num_negative_sign);
  if (ok) {
    lc->grouping = _gl_grouping_bytes(n->grouping);
    if (lc->grouping == nullptr && n->grouping[0] >= 1 && n->grouping[0] <= 255) ok = false;
  }
  return ok ? 0 : (Fail(loc), -1);
}

int32_t _gl_lconv_build_monetary(GlLocale *loc) {
  GlLconv *lc = &loc->lconv;
  GlNumericInfo *n = &loc->numeric;
  _gl_lconv_free_monetary(lc);
  bool ok = CopyText(loc, &lc->int_curr_symbol, n->int_curr_symbol) &&
            CopyText(loc, &lc->currency_symbol, n->currency_symbol) &&
            CopyText(loc, &lc->mon_decimal_point, n->mon_decimal_point) &&
            CopyText(loc, &lc->mon_thousands_sep, n->mon_thousands_sep) &&
            CopyText(loc, &lc->positive_sign, n->positive_sign) &&
            CopyText(loc, &lc->negative_sign, n->negative_sign);
  if (ok) {
    lc->mon_grouping = _gl_grouping_bytes(n->mon_grouping);
    if (lc->mon_grouping == nullptr && n->mon_grouping[0] >= 1 && n->mon_grouping[0] <= 255) {
      ok = false;
    }
  }
  lc->int_frac_digits = LconvChar(n->int_frac_digits);
  lc->frac_digits = LconvChar(n->frac_digits);
  lc->p_cs_precedes = LconvChar(n->p_cs_precedes);
  lc->p_sep_by_space = LconvChar(n->p_sep_by_space);
  lc->n_cs_precedes = LconvChar(n->n_cs_precedes);
  lc->n_sep_by_space = LconvChar(n->n_sep_by_space);
  lc->p_sign_posn = LconvChar(n->p_sign_posn);
  lc->n_sign_posn = LconvChar(n->n_sign_posn);
  return ok ? 0 : (Fail(loc), -1);
}

void _gl_trie_free(GlLocale *, GlNameTrie trie) {
  // Iterative over siblings, recursive over children (depth = word length).
  while (trie != nullptr) {
    GlTrieNode *next = trie->next_sibling;
    _gl_trie_free(nullptr, trie->first_child);
    _gl_free(trie);
    trie = next;
  }
}
