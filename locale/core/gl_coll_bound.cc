// Pass directions, collating elements, neighbours in primary-weight order
// and the bound strings built from them for prefix range scans.
//
// The neighbour search tries every character of the code set: byte
// sequences depth first, byte values 0 to 255 at each depth, a sequence cut
// short being extended and an invalid one dropped. The NUL character
// counts as a character with an empty primary key.
#include <string.h>

#include <new>
#include <string>
#include <vector>

#include "locale/core/gl_collbound.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_glu.h"
#include "locale/core/gl_mbchar.h"
#include "locale/core/gl_mbstring.h"
#include "locale/core/gl_sortkey.h"
#include "locale/core/gl_strcoll.h"
#include "locale/core/gl_thai.h"

namespace {

using uc = unsigned char;

constexpr int32_t kUnitRoom = 64;  // a unit: at most 15 characters of 4 bytes

void SetError(GlLocale *loc, int32_t e) { *_gl_ext_errno(loc) = e; }

bool Icu(const GlLocale *loc) { return loc->icu_in_use[GL_COLLATE - 2] == 1; }

// The primary key of a multibyte string: its sort key up to the first 0x01.
// False when the key cannot be built.
bool PrimaryKey(GlLocale *loc, const char *s, std::string *key) {
  char small[256];
  int32_t n = gl_full_mbsxfrm(loc, small, s, sizeof small);
  if (n < 0) return false;
  if (n < static_cast<int32_t>(sizeof small)) {
    key->assign(small, static_cast<size_t>(n));
  } else {
    key->assign(static_cast<size_t>(n) + 1, '\0');
    if (gl_full_mbsxfrm(loc, &(*key)[0], s, n + 1) < 0) return false;
    key->resize(static_cast<size_t>(n));
  }
  size_t cut = key->find('\x01');
  if (cut != std::string::npos) key->resize(cut);
  return true;
}

// strcmp order of two keys, as they compare while NUL-terminated.
int KeyCmp(const std::string &a, const std::string &b) { return strcmp(a.c_str(), b.c_str()); }

// Multibyte form of a wide string; false with error 1.
bool ToMulti(GlLocale *loc, const GlWchar *ws, size_t n, std::string *out) {
  out->clear();
  char one[8];
  for (size_t i = 0; i < n; ++i) {
    int32_t k = gl_full_wctomb(loc, one, ws[i]);
    if (k < 0) return false;
    out->append(one, static_cast<size_t>(k));
  }
  return true;
}

// What the neighbour search keeps: the candidate as bytes and its key.
struct Candidate {
  std::string bytes;
  std::string key;
  bool set = false;
};

class NeighbourSearch {
 public:
  NeighbourSearch(GlLocale *loc, bool upper) : loc_(loc), upper_(upper) {}

  int32_t Run(const char *unit, int32_t complete, char *out);

 private:
  // a lies beyond b in the search's direction.
  bool Beyond(const std::string &a, const std::string &b) const {
    int c = KeyCmp(a, b);
    return upper_ ? c > 0 : c < 0;
  }
  // A neighbour above the reference must lie above every key that begins
  // with the reference too: a unit whose key extends it (an expansion such
  // as "ss" above "s") would sort below strings of the prefix.
  bool Eligible(const std::string &key) const {
    if (!Beyond(key, ref_)) return false;
    return !upper_ || key.compare(0, ref_.size(), ref_) != 0;
  }
  bool IsElementPrimary(const std::string &key) const {
    for (const std::string &k : elem_keys_) {
      if (k == key) return true;
    }
    return false;
  }
  void Try(const char *bytes, size_t n);
  bool Enumerate();

  GlLocale *loc_;
  bool upper_;
  std::vector<std::string> elem_keys_;
  std::string ref_;
  Candidate best_;
  bool failed_ = false;
};

void NeighbourSearch::Try(const char *bytes, size_t n) {
  char s[8] = {};
  memcpy(s, bytes, n);
  std::string key;
  if (!PrimaryKey(loc_, s, &key)) {
    failed_ = true;
    return;
  }
  if (!Eligible(key)) return;
  if (best_.set && !Beyond(best_.key, key)) return;  // ties keep the earlier
  if (IsElementPrimary(key)) return;
  best_.bytes.assign(s, n);
  best_.key = key;
  best_.set = true;
}

bool NeighbourSearch::Enumerate() {
  if (loc_->single_byte) {
    for (int b = 0; b < 256 && !failed_; ++b) {
      char c = static_cast<char>(b);
      Try(&c, b == 0 ? 0 : 1);
    }
    return !failed_;
  }
  // Depth first over byte sequences of up to 4 bytes.
  unsigned char seq[4] = {};
  int32_t depth = 0;
  int32_t next[4] = {0, 0, 0, 0};
  while (depth >= 0 && !failed_) {
    if (next[depth] > 255) {
      next[depth] = 0;
      --depth;
      continue;
    }
    seq[depth] = static_cast<unsigned char>(next[depth]++);
    char s[8] = {};
    memcpy(s, seq, static_cast<size_t>(depth) + 1);
    int32_t *err = _gl_ext_errno(loc_);
    *err = 0;
    int32_t len = gl_full_mblen(loc_, s, depth + 1);
    if (len >= 0) {
      // The NUL character (length 0) has an empty key.
      Try(s, len == 0 ? 0 : static_cast<size_t>(depth) + 1);
    } else if (*err == GL_ESHORT && depth < 3) {
      ++depth;
    } else if (*err != GL_EILSEQ && *err != GL_ESHORT) {
      SetError(loc_, GL_EILSEQ);
      return false;
    }
  }
  *_gl_ext_errno(loc_) = 0;
  return !failed_;
}

int32_t NeighbourSearch::Run(const char *unit, int32_t complete, char *out) {
  // The element primaries: the primary key of each element as the
  // comparators weigh it (its own weight, not its characters' weights,
  // which may differ), so that a bound built from an element brackets the
  // strings that hold it.
  for (int32_t e = 0; e < loc_->coll_nelements; ++e) {
    const GlCollElement &el = loc_->coll_elements[e];
    std::string bytes, key;
    if (!ToMulti(loc_, el.chars, el.count, &bytes)) return -1;
    if (!PrimaryKey(loc_, bytes.c_str(), &key)) return -1;
    elem_keys_.push_back(key);
  }
  if (!PrimaryKey(loc_, unit, &ref_)) return -1;

  // The unit in wide form.
  size_t ulen = strlen(unit);
  std::vector<GlWchar> uw(ulen + 1, 0);
  int32_t un = loc_->mbstowcs(loc_, uw.data(), unit, static_cast<int32_t>(ulen) + 1);
  if (un < 0) return -1;
  uw.resize(static_cast<size_t>(un));

  Candidate cand;
  cand.bytes = unit;
  if (complete == 0) {
    // The elements that the unit begins: the nearest beyond it.
    Candidate elem;
    for (int32_t e = 0; e < loc_->coll_nelements; ++e) {
      const GlCollElement &el = loc_->coll_elements[e];
      if (el.count < uw.size() || memcmp(el.chars, uw.data(), uw.size() * sizeof(GlWchar)) != 0) {
        continue;
      }
      const std::string &k = elem_keys_[static_cast<size_t>(e)];
      if (!Beyond(k, ref_) || (elem.set && !Beyond(elem.key, k))) continue;
      if (!ToMulti(loc_, el.chars, el.count, &elem.bytes)) return -1;
      elem.key = k;
      elem.set = true;
    }
    if (elem.set) {
      cand = elem;
      ref_ = elem.key;
    }
  }
  if (!Enumerate()) return -1;
  if (best_.set) cand = best_;
  if (complete == 1) {
    for (int32_t e = 0; e < loc_->coll_nelements; ++e) {
      const GlCollElement &el = loc_->coll_elements[e];
      const std::string &k = elem_keys_[static_cast<size_t>(e)];
      if (!Eligible(k) || (best_.set && !Beyond(best_.key, k))) continue;
      if (!ToMulti(loc_, el.chars, el.count, &best_.bytes)) return -1;
      best_.key = k;
      best_.set = true;
      cand = best_;
    }
  }
  if (cand.bytes == unit) return -2;
  if (cand.bytes.size() + 4 > static_cast<size_t>(kUnitRoom)) {
    SetError(loc_, GL_E2BIG);
    return -1;
  }
  memcpy(out, cand.bytes.data(), cand.bytes.size());
  memset(out + cand.bytes.size(), 0, 4);
  if (cand.bytes.empty()) return 0;
  int32_t first = loc_->single_byte ? 1 : gl_full_mblen(loc_, out, 4);
  return first;
}

int32_t Neighbour(GlLocale *loc, const char *unit, int32_t complete, char *out, bool upper) {
  if (loc == nullptr) return -1;
  if (unit == nullptr || out == nullptr) {
    SetError(loc, GL_ENULLARG);
    return -1;
  }
  if (loc->coll_kind == GL_COLL_THAI) return _gl_thai_neighbour(loc, unit, complete, out, upper);
  int32_t status = gl_iscompchar(loc, unit);
  if (status < 0) return -1;
  if ((complete == 1) == (status == 3)) {
    SetError(loc, GL_EBADARG);
    return -1;
  }
  try {
    NeighbourSearch search(loc, upper);
    return search.Run(unit, complete, out);
  } catch (const std::bad_alloc &) {
    SetError(loc, GL_ENOMEM);
    return -1;
  }
}

// Compares the tail of the prefix with the bound built so far, as the
// locale orders strings.
int32_t CompareTail(GlLocale *loc, const char *a, const char *b) {
  if (loc->code_order) {
    return gl_mb_loc_min(loc) == 1 ? strcmp(a, b) : gl_full_mbscmp(loc, a, b);
  }
  return loc->mbscoll(loc, a, b);
}

int32_t Bound(GlLocale *loc, const char *prefix, int32_t upper, char *out, int32_t size) {
  const int32_t plen = static_cast<int32_t>(strlen(prefix));
  int32_t w = 0;           // bytes copied so far
  int32_t unit_start = 0;  // the last unit
  int32_t status = 1;
  int32_t split_start = -1;
  out[0] = '\0';
  for (int32_t i = 0; i < plen;) {
    int32_t len = loc->single_byte ? 1 : gl_full_mblen(loc, prefix + i, 4);
    if (len < 1) return -1;
    if (w + len >= size) {
      SetError(loc, GL_E2BIG);
      return -1;
    }
    const int32_t before = status;
    if (status == 1 || status == 2) unit_start = w;
    memcpy(out + w, prefix + i, static_cast<size_t>(len));
    w += len;
    i += len;
    out[w] = '\0';
    status = gl_iscompchar(loc, out + unit_start);
    if (status < 0) return -1;
    if (before == 3 && status == 1 && unit_start < w - len) {
      // An element begun and not finished: the character starts a unit of
      // its own, and the bound is checked against the prefix afterwards.
      split_start = unit_start;
      unit_start = w - len;
      status = gl_iscompchar(loc, out + unit_start);
      if (status < 0) return -1;
    }
  }
  char nb[kUnitRoom];
  int32_t first = Neighbour(loc, out + unit_start, status != 3 ? 1 : 0, nb, upper != 0);
  if (first < 0) return first;
  auto place = [&](int32_t at) {
    size_t n = strlen(nb);
    if (at + static_cast<int32_t>(n) >= size) {
      SetError(loc, GL_E2BIG);
      return -1;
    }
    memcpy(out + at, nb, n + 1);
    return at + static_cast<int32_t>(n);
  };
  int32_t end = place(unit_start);
  if (end < 0 || split_start < 0) return end;

  // After a split: while the bound does not lie beyond the prefix, the
  // neighbour's own neighbour is taken at the same position.
  const int32_t at = w - first > unit_start ? w - first : unit_start;
  for (int32_t tries = 0; tries < 4096; ++tries) {
    int32_t c = CompareTail(loc, prefix + split_start, out + split_start);
    if (upper ? c <= 0 : c >= 0) return end;
    if (at > end) return end;
    int32_t st = gl_iscompchar(loc, out + at);
    if (st < 0) return -1;
    int32_t r = Neighbour(loc, out + at, st != 3 ? 1 : 0, nb, upper != 0);
    if (r < 0) return r;
    end = place(at);
    if (end < 0) return -1;
  }
  return end;
}

}  // namespace

int32_t gl_getpassdirection(GlLocale *loc, int32_t pass) {
  if (loc == nullptr) return -1;
  if (loc->coll_kind == GL_COLL_THAI) {
    SetError(loc, GL_ETHAI);
    return -1;
  }
  if (pass < 1 || pass > loc->coll_npasses) {
    SetError(loc, GL_ENEGATIVE);
    return -1;
  }
  int32_t d = loc->coll_direction[pass - 1];
  if (d != 1 && d != 2) {
    SetError(loc, GL_ECODESET);
    return -1;
  }
  return d;
}

int32_t zel_gl_complen(GlLocale *loc, const char *s) {
  if (loc == nullptr) return -1;
  if (s == nullptr) {
    SetError(loc, GL_ENULLARG);
    return -1;
  }
  if (loc->coll_kind == GL_COLL_THAI) return zel_gl_complen_thai(loc, s);
  const uc *p = reinterpret_cast<const uc *>(s);
  for (int32_t e = 0; e < loc->coll_nelements; ++e) {
    const GlCollElement &el = loc->coll_elements[e];
    uint64_t k = 0;
    while (k < el.count && p[k] != 0 && el.chars[k] == p[k]) ++k;
    if (k == el.count) return static_cast<int32_t>(el.count);
  }
  return 0;
}

int32_t gl_iscompchar(GlLocale *loc, const char *s) {
  if (loc == nullptr) return -1;
  if (s == nullptr) {
    SetError(loc, GL_ENULLARG);
    return -1;
  }
  if (loc->coll_kind == GL_COLL_THAI) return gl_iscompchar_thai(loc, s);
  const uc *p = reinterpret_cast<const uc *>(s);
  for (int32_t e = 0; e < loc->coll_nelements; ++e) {
    const GlCollElement &el = loc->coll_elements[e];
    uint64_t j = 0;
    while (j < el.count && p[j] != 0 && el.chars[j] == p[j]) ++j;
    if (p[j] != 0) continue;  // the string goes on past the match
    if (j == el.count) return 2;
    if (j > 0) return 3;
  }
  return 1;
}

int32_t gl_nextprimweight(GlLocale *loc, const char *unit, int32_t complete, char *out) {
  return Neighbour(loc, unit, complete, out, true);
}

int32_t gl_prevprimweight(GlLocale *loc, const char *unit, int32_t complete, char *out) {
  return Neighbour(loc, unit, complete, out, false);
}

int32_t gl_IsSpecialLocale(GlLocale *loc) {
  return loc != nullptr && loc->coll_kind == GL_COLL_THAI ? 1 : 0;
}

int32_t gl_mbsCollBound(GlLocale *loc, const char *prefix, int32_t upper, char *out,
                        int32_t size) {
  if (loc == nullptr) return -1;
  if (prefix == nullptr || out == nullptr) {
    SetError(loc, GL_ENULLARG);
    return -1;
  }
  if (Icu(loc)) {
    GlGluApi *api = _gl_glu_api();
    if (api == nullptr || api->mbsCollBound == nullptr) {
      SetError(loc, GL_ENOFILE);
      return -1;
    }
    GluStatus st = 0;
    int32_t r = api->mbsCollBound(loc->icu_locale[GL_COLLATE - 2], prefix, upper, out, size, &st);
    if (st > 0) SetError(loc, st);
    return r;  // the wrapper's bound, as every other delegation returns it
  }
  if (size < 1) {
    SetError(loc, GL_E2BIG);
    return -1;
  }
  try {
    if (out == prefix) {
      std::string copy(prefix);
      return Bound(loc, copy.c_str(), upper, out, size);
    }
    return Bound(loc, prefix, upper, out, size);
  } catch (const std::bad_alloc &) {
    SetError(loc, GL_ENOMEM);
    return -1;
  }
}

int32_t gl_mbsSortKeyCollBound(GlLocale *loc, const char *prefix, int32_t upper, char *key,
                               int32_t size) {
  if (loc == nullptr) return -1;
  if (prefix == nullptr || key == nullptr) {
    SetError(loc, GL_ENULLARG);
    return -1;
  }
  if (Icu(loc)) {
    GlGluApi *api = _gl_glu_api();
    if (api == nullptr || api->mbsSortKeyCollBound == nullptr) {
      SetError(loc, GL_ENOFILE);
      return -1;
    }
    GluStatus st = 0;
    int32_t r = api->mbsSortKeyCollBound(loc->icu_locale[GL_COLLATE - 2], prefix, upper, key,
                                         size, &st);
    if (st > 0) SetError(loc, st);
    return r;
  }
  size_t need = strlen(prefix) + 32;
  if (need < 512) need = 512;
  std::vector<char> work;
  try {
    work.assign(need, '\0');
  } catch (const std::bad_alloc &) {
    SetError(loc, GL_ENOMEM);
    return -1;
  }
  int32_t r = gl_mbsCollBound(loc, prefix, upper, work.data(), static_cast<int32_t>(need));
  if (r == -1) return -1;
  return loc->mbsxfrm(loc, key, work.data(), size);
}
