// The LC_COLLATE section, after its marker line:
//
//   keyword line          "as_specified\n", or "thai_smo\n" (nothing follows)
//   position table        code table, 4 hex digits per 16-bit position
//   codeorder "\n"        1: strings collate by character code
//   maxpos npasses nelements nexpansions maxweight "\n"   decimal
//   directions "\n"       npasses x 4 hex digits: 1 forward, 2 backward
//   element lines         n (1 hex), position (4 hex), n x 8 hex characters
//   expansion lines       n (1 hex), n x 8 hex characters
//   weights               positions 0..maxpos, per position npasses x 4 hex:
//                         code order: each weight after one blank, no line
//                         ends; otherwise one line per position
//
// A weight is 1 (ignored at that pass), 0x4000 | expansion index, 0x8000 |
// weight (equal weights ordered by code), or a plain weight of 2 and up.
// Positions, expansion indexes and the pass count are checked against the
// header before the tables are trusted: the comparators index by them.
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "locale/core/gl_collate.h"
#include "locale/core/gl_codetable.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_lco.h"
#include "locale/core/gl_lco_sections.h"
#include "locale/core/gl_support.h"
#include "locale/core/gl_tokens.h"

namespace {

constexpr int32_t kMaxIndex = 0x3FFF;  // the low 14 bits of a weight

int32_t Fail(GlLocale *loc, int32_t err) {
  if (err != 0) *_gl_ext_errno(loc) = err;
  return -1;
}

void *Zeroed(uint64_t bytes) {
  void *p = _gl_malloc(bytes);
  if (p != nullptr) memset(p, 0, bytes);
  return p;
}

// Reads n characters of 8 hex digits into a new array, then the line end.
int32_t ReadChars(GlFile *f, GlLocale *loc, uint64_t n, GlWchar **out) {
  *out = static_cast<GlWchar *>(_gl_malloc(n * sizeof(GlWchar)));
  if (*out == nullptr) return Fail(loc, GL_ENOMEM);  // a count of 0 lands here too
  for (uint64_t i = 0; i < n; ++i) (*out)[i] = _gl_read_hex(f, 8);
  if (!_gl_read_eol(f)) return Fail(loc, GL_EFORMAT);
  if (static_cast<double>(n) > loc->coll_expansion_factor) {
    loc->coll_expansion_factor = static_cast<double>(n);
  }
  return 0;
}

uint16_t PositionOf(const void *slot) {
  uint16_t v;
  memcpy(&v, slot, 2);
  return v;
}

char *Attached(const char *bytes, size_t n) {
  auto *s = static_cast<char *>(_gl_malloc(n + 4));
  if (s == nullptr) return nullptr;
  memcpy(s, bytes, n);
  memset(s + n, 0, 4);
  return s;
}

// Equivalence classes, ignorable positions and the strings attached to
// them, for a collation that is not in code order.
class Derived {
 public:
  explicit Derived(GlLocale *loc)
      : loc_(loc), npos_(loc->coll_maxpos + 1), ignorable_(npos_, false), class_of_(npos_, -1) {}
  ~Derived() {
    for (char *s : ignorables_) _gl_free(s);
    for (auto &c : class_strings_) {
      for (char *s : c) _gl_free(s);
    }
  }

  // Classifies every position from its weights.
  void Classify() {
    const int32_t np = loc_->coll_npasses;
    std::map<std::u16string, int32_t> first_with;
    std::vector<bool> pair_taken(static_cast<size_t>(loc_->coll_nexpansions), false);
    for (int32_t p = 0; p < npos_; ++p) {
      std::u16string w;
      bool all_ignore = np > 0, bycode = false, one_expansion = np > 0;
      for (int32_t k = 0; k < np; ++k) {
        uint16_t v = loc_->coll_weights[k][p];
        w.push_back(static_cast<char16_t>(v));
        all_ignore = all_ignore && v == GL_COLL_IGNORE;
        bycode = bycode || (v & GL_COLL_BYCODE) != 0;
        one_expansion = one_expansion && (v & GL_COLL_BYCODE) == 0 &&
                        (v & GL_COLL_EXPANSION) != 0 && v == loc_->coll_weights[0][p];
      }
      if (all_ignore) {
        ignorable_[p] = true;
        any_ignorable_ = true;
      } else if (!bycode) {
        auto it = first_with.find(w);
        if (it == first_with.end()) {
          first_with.emplace(w, p);
        } else {
          int32_t q = it->second;
          if (class_of_[q] < 0) class_of_[q] = NewClass();
          class_of_[p] = class_of_[q];
        }
      }
      if (!all_ignore && one_expansion) {
        int32_t x = loc_->coll_weights[0][p] & kMaxIndex;
        if (!pair_taken[x]) {
          pair_taken[x] = true;
          pairs_.push_back({x, p});
          if (class_of_[p] < 0) class_of_[p] = NewClass();
        }
      }
    }
  }

  bool Needed() const { return any_ignorable_ || !class_strings_.empty(); }

  // Attaches the byte forms of elements, expansions and characters.
  int32_t Attach() {
    char buf[64];
    for (int32_t i = 0; i < loc_->coll_nelements; ++i) {
      const GlCollElement &e = loc_->coll_elements[i];
      if (AttachChars(e.chars, e.count, e.position, buf) != 0) return -1;
    }
    for (const auto &[x, p] : pairs_) {
      const GlCollExpansion &e = loc_->coll_expansions[x];
      if (AttachChars(e.chars, e.count, p, buf) != 0) return -1;
    }
    unsigned char key[4];
    return Enumerate(key, 0);
  }

  // Moves the lists into the locale.
  int32_t Store() {
    if (!ignorables_.empty()) {
      auto **list = static_cast<char **>(Zeroed((ignorables_.size() + 1) * sizeof(char *)));
      if (list == nullptr) return Fail(loc_, GL_ENOMEM);
      for (size_t i = 0; i < ignorables_.size(); ++i) list[i] = ignorables_[i];
      ignorables_.clear();
      loc_->coll_ignorables = list;
    }
    size_t entries = 0;
    for (auto &c : class_strings_) entries += c.empty() ? 0 : c.size() - 1;
    if (entries == 0) return 0;
    auto *eq = static_cast<GlCollEquivalent *>(Zeroed((entries + 1) * sizeof(GlCollEquivalent)));
    if (eq == nullptr) return Fail(loc_, GL_ENOMEM);
    size_t k = 0;
    for (auto &c : class_strings_) {
      if (c.size() < 2) continue;
      for (size_t i = 0; i + 1 < c.size(); ++i) eq[k++] = {c[i], c.back()};
      c.clear();
    }
    loc_->coll_equivalents = eq;
    return 0;
  }

 private:
  int32_t NewClass() {
    class_strings_.emplace_back();
    return static_cast<int32_t>(class_strings_.size()) - 1;
  }

  int32_t AttachChars(const GlWchar *chars, uint64_t count, int32_t pos, char *buf) {
    size_t n = 0;
    for (uint64_t i = 0; i < count; ++i) {
      int32_t len = _gl_sl_wctomb(loc_, buf + n, chars[i]);
      if (len < 0) return -1;  // error 1 set by the conversion
      n += static_cast<size_t>(len);
    }
    return AttachBytes(buf, n, pos);
  }

  int32_t AttachBytes(const char *bytes, size_t n, int32_t pos) {
    if (pos < 0 || pos >= npos_) return 0;
    std::vector<char *> *list = nullptr;
    if (ignorable_[pos]) {
      list = &ignorables_;
    } else if (class_of_[pos] >= 0) {
      list = &class_strings_[class_of_[pos]];
    } else {
      return 0;
    }
    char *s = Attached(bytes, n);
    if (s == nullptr) return Fail(loc_, GL_ENOMEM);
    list->push_back(s);
    return 0;
  }

  // Every byte sequence the position table holds, depth first, bytes
  // ascending at every depth.
  int32_t Enumerate(unsigned char *key, int32_t depth) {
    if (depth >= 4) return 0;
    int32_t saved = *_gl_ext_errno(loc_);
    for (int b = 0; b < 256; ++b) {
      key[depth] = static_cast<unsigned char>(b);
      int32_t len = 0;
      const void *v = _gl_ct_lookup_mbn(loc_->coll_positions, key, depth + 1, &len, loc_);
      int32_t err = *_gl_ext_errno(loc_);
      *_gl_ext_errno(loc_) = saved;
      if (v != nullptr && len == depth + 1) {
        if (AttachBytes(reinterpret_cast<char *>(key), static_cast<size_t>(len),
                        PositionOf(v)) != 0) {
          return -1;
        }
      } else if (v == nullptr && err == GL_ESHORT) {
        if (Enumerate(key, depth + 1) != 0) return -1;
      }
    }
    return 0;
  }

  GlLocale *loc_;
  int32_t npos_;
  std::vector<bool> ignorable_;
  std::vector<int32_t> class_of_;
  bool any_ignorable_ = false;
  std::vector<std::pair<int32_t, int32_t>> pairs_;
  std::vector<char *> ignorables_;
  std::vector<std::vector<char *>> class_strings_;
};

int32_t ReadHeader(GlFile *f, GlLocale *loc) {
  loc->coll_codeorder = _gl_read_int(f);
  if (!_gl_read_eol(f)) return Fail(loc, GL_EFORMAT);
  int32_t maxpos = _gl_read_int(f), npasses = _gl_read_int(f), nelem = _gl_read_int(f),
          nexp = _gl_read_int(f), maxweight = _gl_read_int(f);
  if (!_gl_read_eol(f)) return Fail(loc, GL_EFORMAT);
  // The tables are indexed by these numbers: refuse what they cannot hold.
  if (maxpos < 0 || maxpos > 0xFFFF || npasses < 0 || npasses > GL_MAX_PASSES || nelem < 0 ||
      nelem > 0xFFFF || nexp < 0 || nexp > kMaxIndex + 1) {
    return Fail(loc, GL_EFORMAT);
  }
  if (_gl_ct_max_value16(loc->coll_positions) > maxpos) return Fail(loc, GL_EFORMAT);
  loc->coll_maxpos = maxpos;
  loc->coll_maxweight = maxweight;
  if (npasses > 0) {
    for (int32_t k = 0; k < npasses; ++k) {
      int32_t d = static_cast<int32_t>(_gl_read_hex(f, 4));
      if (d != 1 && d != 2) return Fail(loc, GL_EFORMAT);
      loc->coll_direction[k] = d;
    }
    if (!_gl_read_eol(f)) return Fail(loc, GL_EFORMAT);
  }
  for (int32_t k = 0; k < GL_MAX_PASSES; ++k) loc->coll_weights[k] = nullptr;
  loc->coll_npasses = npasses;
  for (int32_t k = 0; k < npasses; ++k) {
    loc->coll_weights[k] =
        static_cast<uint16_t *>(Zeroed(static_cast<uint64_t>(maxpos + 1) * sizeof(uint16_t)));
    if (loc->coll_weights[k] == nullptr) return Fail(loc, GL_ENOMEM);
  }
  if (nelem > 0) {
    loc->coll_elements = static_cast<GlCollElement *>(Zeroed(nelem * sizeof(GlCollElement)));
    if (loc->coll_elements == nullptr) return Fail(loc, GL_ENOMEM);
    loc->coll_nelements = nelem;
  }
  if (nexp > 0) {
    loc->coll_expansions =
        static_cast<GlCollExpansion *>(Zeroed(nexp * sizeof(GlCollExpansion)));
    if (loc->coll_expansions == nullptr) return Fail(loc, GL_ENOMEM);
    loc->coll_nexpansions = nexp;
  }
  return 0;
}

int32_t ReadWeights(GlFile *f, GlLocale *loc) {
  const bool code_order = loc->coll_codeorder == 1;
  for (int32_t p = 0; p <= loc->coll_maxpos; ++p) {
    for (int32_t k = 0; k < loc->coll_npasses; ++k) {
      if (code_order) _gl_skip_blank(f);
      uint16_t w = static_cast<uint16_t>(_gl_read_hex(f, 4));
      bool bad_expansion = (w & GL_COLL_BYCODE) == 0 && (w & GL_COLL_EXPANSION) != 0 &&
                           (w & kMaxIndex) >= loc->coll_nexpansions;
      if (w == 0 || bad_expansion) return Fail(loc, GL_EFORMAT);
      loc->coll_weights[k][p] = w;
    }
    if (!code_order && loc->coll_npasses > 0 && !_gl_read_eol(f)) return -1;
  }
  return 0;
}

}  // namespace

int32_t _gl_read_coll_element(GlFile *f, GlLocale *loc, GlCollElement *e) {
  e->count = _gl_read_hex(f, 1);
  e->position = static_cast<uint16_t>(_gl_read_hex(f, 4));
  if (e->position > loc->coll_maxpos) return Fail(loc, GL_EFORMAT);
  return ReadChars(f, loc, e->count, &e->chars);
}

int32_t _gl_read_coll_expansion(GlFile *f, GlLocale *loc, GlCollExpansion *x) {
  x->count = _gl_read_hex(f, 1);
  return ReadChars(f, loc, x->count, &x->chars);
}

int32_t _gl_build_coll_sbexp(GlLocale *loc) {
  for (int32_t k = 0; k < GL_MAX_PASSES; ++k) loc->coll_sbexp[k] = nullptr;
  for (int32_t k = 0; k < loc->coll_npasses; ++k) {
    auto **table = static_cast<GlCollExpansion **>(Zeroed(256 * sizeof(GlCollExpansion *)));
    if (table == nullptr) return Fail(loc, GL_ENOMEM);
    loc->coll_sbexp[k] = table;
    for (uint32_t b = 0; b < 256; ++b) {
      const void *v = _gl_ct_lookup_wc(loc->coll_positions, b, loc);
      if (v == nullptr) continue;
      uint16_t w = loc->coll_weights[k][PositionOf(v)];
      if ((w & GL_COLL_BYCODE) == 0 && (w & GL_COLL_EXPANSION) != 0) {
        table[b] = &loc->coll_expansions[w & kMaxIndex];
      }
    }
  }
  *_gl_ext_errno(loc) = 0;  // bytes without a position are no error
  return 0;
}

int32_t _gl_build_coll_elemstart(GlLocale *loc) {
  loc->coll_sbelemstart = nullptr;
  if (loc->coll_nelements <= 0) return 0;
  auto *flags = static_cast<int32_t *>(Zeroed(256 * sizeof(int32_t)));
  if (flags == nullptr) return Fail(loc, GL_ENOMEM);
  for (int32_t i = 0; i < loc->coll_nelements; ++i) {
    const GlCollElement &e = loc->coll_elements[i];
    if (e.count > 0 && e.chars[0] < 256) flags[e.chars[0]] = 1;
  }
  loc->coll_sbelemstart = flags;
  return 0;
}

int32_t _gl_read_lc_collate(GlFile *f, GlLocale *loc) {
  char line[128];
  if (_gl_ext_fgets(line, sizeof line, f) == nullptr) return Fail(loc, GL_EFORMAT);
  size_t n = strlen(line);
  if (n == 0 || line[n - 1] != '\n') return Fail(loc, GL_EFORMAT);
  line[n - 1] = '\0';
  if (strcmp(line, "thai_smo") == 0) {
    loc->coll_kind = GL_COLL_THAI;
    return 0;
  }
  if (strcmp(line, "as_specified") != 0) {
    loc->coll_kind = GL_COLL_NONE;
    return -1;
  }
  loc->coll_kind = GL_COLL_AS_SPECIFIED;
  if (loc->coll_positions == nullptr) return Fail(loc, GL_ENOMEM);
  if (_gl_ct_load(f, loc->coll_positions, 4, _gl_ct_read_hex16) != 0) {
    return Fail(loc, _gl_ct_error(loc->coll_positions));
  }
  if (ReadHeader(f, loc) != 0) return -1;
  for (int32_t i = 0; i < loc->coll_nelements; ++i) {
    if (_gl_read_coll_element(f, loc, &loc->coll_elements[i]) != 0) return -1;
  }
  for (int32_t i = 0; i < loc->coll_nexpansions; ++i) {
    if (_gl_read_coll_expansion(f, loc, &loc->coll_expansions[i]) != 0) return -1;
  }
  if (ReadWeights(f, loc) != 0) return -1;
  if (loc->coll_codeorder != 1) {
    Derived d(loc);
    d.Classify();
    if (d.Needed() && (d.Attach() != 0 || d.Store() != 0)) return -1;
  }
  if (_gl_build_coll_sbexp(loc) != 0) return -1;
  return _gl_build_coll_elemstart(loc);
}
