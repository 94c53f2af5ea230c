// LIKE and MATCHES (rvalmatch, rvalmatchesc).
//
// Both engines turn the pattern into tokens over units and match them
// against the value's units with one matcher; the thread keeps its last
// compiled pattern. The byte matcher (single-byte locales) takes each byte
// as a unit and matches the value's bytes where they are. The compiled
// engine converts both texts to wide characters, and in collating mode regroups
// literal runs and the value into collating elements (an element of two or
// more characters becomes one unit).
//
// Rules: trailing blanks of the value and of the pattern do not count (an
// escaped blank ending the pattern stays); the one-character wildcard
// matches neither the end nor a trailing blank; when the value ends first
// the rest of the pattern must be any-string wildcards, blanks, escaped
// blanks and classes that admit a blank. The matcher is greedy and
// remembers the last any-string position, so no pattern backtracks more
// than once per value position: every token but any-string takes exactly
// one unit.
#include <string.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "base/thread_state.h"
#include "locale/core/gl_mbchar.h"
#include "sqltypes/charcollcmp.h"
#include "sqltypes/sqlvalue_internal.h"

namespace {

constexpr uint32_t kElementBit = 0x80000000u;  // unit of a multi-character element
constexpr int kBadEscape = -1278;
constexpr int kBadChar = -202;

enum TokKind : uint8_t { kLit, kOne, kAny, kClass, kNever };

struct Token {
  TokKind kind;
  bool escaped;  // a literal written with the escape character
  uint32_t unit;
  int32_t cls;   // index into Compiled::classes
};

struct ClassItem {
  uint32_t lo, hi;
};

struct CharClass {
  bool negated = false;
  std::vector<ClassItem> items;
};

struct Compiled {
  std::vector<Token> tokens;
  std::vector<CharClass> classes;
  int error = 0;  // a bad escape under the ANSI flag
};

struct Matcher {
  GlLocale* loc;  // for ranges; null or code order: by unit value

  bool InClass(const CharClass& c, uint32_t u) const {
    bool in = false;
    for (const ClassItem& it : c.items) {
      if (it.lo == it.hi) {
        in = u == it.lo;
      } else if ((u | it.lo | it.hi) & kElementBit) {
        in = false;
      } else {
        in = rcollinrange(loc, u, it.lo, it.hi) != 0;
      }
      if (in) break;
    }
    return c.negated ? !in : in;
  }

  bool One(const Compiled& p, const Token& t, uint32_t u) const {
    switch (t.kind) {
      case kLit: return t.unit == u;
      case kOne: return true;
      case kClass: return InClass(p.classes[static_cast<size_t>(t.cls)], u);
      default: return false;
    }
  }

  // What the rest of a pattern may hold once the value has ended.
  bool AtEnd(const Compiled& p, const Token& t) const {
    switch (t.kind) {
      case kAny: return true;
      case kLit: return t.unit == ' ';
      case kClass: return InClass(p.classes[static_cast<size_t>(t.cls)], ' ');
      default: return false;
    }
  }

  template <typename Unit>
  bool Match(const Compiled& p, const Unit* v, size_t n) const {
    const std::vector<Token>& t = p.tokens;
    const size_t m = t.size();
    size_t i = 0, j = 0, star = SIZE_MAX, mark = 0;
    while (i < n) {
      if (j < m && t[j].kind == kAny) {
        star = j++;
        mark = i;
      } else if (j < m && One(p, t[j], v[i])) {
        i++;
        j++;
      } else if (star != SIZE_MAX) {
        j = star + 1;
        i = ++mark;
      } else {
        return false;
      }
    }
    for (; j < m; j++)
      if (!AtEnd(p, t[j])) return false;
    return true;
  }
};

// Tokenises pattern units. LIKE: '%' any string, '_' one unit. MATCHES:
// '*', '?', classes in '[' ']' with '^' and ranges.
void Tokenise(const std::vector<uint32_t>& p, bool matches, uint32_t esc, bool ansi,
              Compiled* out, bool* escape_flag) {
  auto special = [&](uint32_t d) {
    if (d == esc) return true;
    return matches ? d == '*' || d == '?' || d == '[' || d == ']' : d == '%' || d == '_';
  };
  auto escaped = [&](uint32_t d) {
    if (!special(d)) {
      if (ansi) out->error = kBadEscape;
      else *escape_flag = true;
    }
  };
  const size_t n = p.size();
  size_t i = 0;
  while (i < n) {
    const uint32_t c = p[i];
    if (c == esc) {
      if (i + 1 == n) {
        // A lone escape at the end matches the rest of the value.
        if (ansi) out->error = kBadEscape;
        out->tokens.push_back({kAny, false, 0, 0});
        break;
      }
      escaped(p[i + 1]);
      out->tokens.push_back({kLit, true, p[i + 1], 0});
      i += 2;
      continue;
    }
    const bool any = matches ? c == '*' : c == '%';
    const bool one = matches ? c == '?' : c == '_';
    if (any) {
      if (out->tokens.empty() || out->tokens.back().kind != kAny)
        out->tokens.push_back({kAny, false, 0, 0});
      i++;
      continue;
    }
    if (one) {
      out->tokens.push_back({kOne, false, 0, 0});
      i++;
      continue;
    }
    if (!matches || c != '[') {
      out->tokens.push_back({kLit, false, c, 0});
      i++;
      continue;
    }
    CharClass cls;
    size_t j = i + 1;
    if (j < n && p[j] == '^') cls.negated = true, j++;
    bool closed = false, have_prev = false;
    while (j < n) {
      uint32_t d = p[j];
      if (d == ']') {
        closed = true;
        j++;
        break;
      }
      if (d == esc && j + 1 < n) {
        escaped(p[j + 1]);
        cls.items.push_back({p[j + 1], p[j + 1]});
        have_prev = true;
        j += 2;
        continue;
      }
      if (d == '-' && have_prev && j + 1 < n && p[j + 1] != ']') {
        uint32_t hi = p[j + 1];
        j += 2;
        if (hi == esc && j < n) {
          escaped(p[j]);
          hi = p[j++];
        }
        cls.items.back().hi = hi;
        have_prev = false;
        continue;
      }
      cls.items.push_back({d, d});
      have_prev = true;
      j++;
    }
    if (!closed) {
      out->tokens.push_back({kNever, false, 0, 0});  // an unclosed class matches nothing
      break;
    }
    out->classes.push_back(std::move(cls));
    out->tokens.push_back({kClass, false, 0, static_cast<int32_t>(out->classes.size() - 1)});
    i = j;
  }
  // Trailing blanks do not count; an escaped blank stays.
  while (!out->tokens.empty() && out->tokens.back().kind == kLit && !out->tokens.back().escaped &&
         out->tokens.back().unit == ' ')
    out->tokens.pop_back();
}

// Collating elements of two or more characters, by first character.
struct ElementDict {
  bool built = false;
  std::unordered_map<uint32_t, std::vector<std::pair<std::vector<uint32_t>, uint32_t>>> by_first;
};

thread_local ElementDict t_dict;

struct PatternCache {
  std::string bytes;
  int32_t length = -1;  // -1: nothing reusable
  uint32_t key = 0;     // escape, syntax, ANSI flag and collating mode
  Compiled compiled;
  bool escape_flag = false;
};

thread_local PatternCache t_cache;

void BuildDict(GlLocale* loc) {
  t_dict.by_first.clear();
  for (int32_t k = 0; loc->coll_elements != nullptr && k < loc->coll_nelements; k++) {
    const GlCollElement& e = loc->coll_elements[k];
    if (e.count < 2) continue;
    std::vector<uint32_t> seq(e.chars, e.chars + e.count);
    t_dict.by_first[seq[0]].push_back({seq, kElementBit | static_cast<uint32_t>(k)});
  }
  t_dict.built = true;
  t_cache.length = -1;  // the cached pattern was compiled without the dictionary
}

bool HasElements(const GlLocale* loc) {
  for (int32_t k = 0; loc->coll_elements != nullptr && k < loc->coll_nelements; k++)
    if (loc->coll_elements[k].count >= 2) return true;
  return false;
}

// Replaces each longest dictionary sequence by its element unit.
std::vector<uint32_t> Regroup(const uint32_t* s, size_t n) {
  std::vector<uint32_t> out;
  out.reserve(n);
  for (size_t i = 0; i < n;) {
    size_t best = 0;
    uint32_t unit = s[i];
    auto it = t_dict.by_first.find(s[i]);
    if (it != t_dict.by_first.end()) {
      for (const auto& [seq, id] : it->second) {
        if (seq.size() > best && seq.size() <= n - i &&
            std::equal(seq.begin(), seq.end(), s + i)) {
          best = seq.size();
          unit = id;
        }
      }
    }
    out.push_back(unit);
    i += best > 0 ? best : 1;
  }
  return out;
}

void RegroupLiterals(Compiled* c) {
  std::vector<Token> out;
  size_t i = 0;
  const std::vector<Token>& t = c->tokens;
  while (i < t.size()) {
    if (t[i].kind != kLit) {
      out.push_back(t[i++]);
      continue;
    }
    size_t j = i;
    std::vector<uint32_t> run;
    while (j < t.size() && t[j].kind == kLit) run.push_back(t[j++].unit);
    std::vector<uint32_t> units = Regroup(run.data(), run.size());
    if (units.size() == run.size()) {
      out.insert(out.end(), t.begin() + static_cast<long>(i), t.begin() + static_cast<long>(j));
    } else {
      for (uint32_t u : units) out.push_back({kLit, false, u, 0});
    }
    i = j;
  }
  c->tokens = std::move(out);
}

// Wide characters of a text; false for an invalid character.
bool Widen(GlLocale* loc, const char* s, int32_t n, std::vector<uint32_t>* out) {
  out->clear();
  for (int32_t pos = 0; pos < n;) {
    GlWchar wc = 0;
    const int32_t k = _zel_gl_full_mbtowc(loc, &wc, s + pos, n - pos);
    if (k <= 0) {
      if (k == 0 && s[pos] == '\0') {  // an embedded NUL character
        out->push_back(0);
        pos++;
        continue;
      }
      return false;
    }
    out->push_back(wc);
    pos += k;
  }
  return true;
}

void Bytes(const char* s, int32_t n, std::vector<uint32_t>* out) {
  out->resize(static_cast<size_t>(n));
  for (int32_t k = 0; k < n; k++) (*out)[static_cast<size_t>(k)] = static_cast<unsigned char>(s[k]);
}

void CutBlanks(std::vector<uint32_t>* v) {
  while (!v->empty() && v->back() == ' ') v->pop_back();
}

bool CharOperand(const SqlValue* v) {
  const int t = SQLTYPE(v->v_type);
  if (v->v_type & SQL_CHARDATA_FLAG) return true;
  if (t == SQLCHAR || t == SQLVCHAR || t == SQLNCHAR || t == SQLNVCHAR) return true;
  return (t == SQLUDTVAR || t == SQLUDTFIXED) && v->v_attr == 1;
}

bool National(int t) { return t == SQLNCHAR || t == SQLNVCHAR; }

// 1 match, 0 no match, or a negative code (kBadChar: no match, no error).
int MatchValues(const SqlValue* value, const SqlValue* pattern, bool matches, uint32_t esc,
                bool* escape_flag) {
  GlLocale* loc = sqlv_locale();
  const int vt = SQLTYPE(value->v_type), pt = SQLTYPE(pattern->v_type);
  const bool national = (National(vt) || National(pt)) &&
                        (National(vt) || vt == SQLCHAR || vt == SQLVCHAR) &&
                        (National(pt) || pt == SQLCHAR || pt == SQLVCHAR);
  const bool code_order = loc == nullptr || loc->code_order != 0 || loc->coll_kind == GL_COLL_NONE;
  const bool collating = national && !code_order && HasElements(loc);
  const bool bytes = !collating && (loc == nullptr || loc->single_byte);
  const bool ansi = rthreadansi != 0;
  const char* ps = pattern->v.text.ptr == nullptr ? "" : pattern->v.text.ptr;
  const int32_t pn = pattern->v.text.ptr == nullptr ? 0 : pattern->v.text.len;
  const char* vs = value->v.text.ptr == nullptr ? "" : value->v.text.ptr;
  const int32_t vn = value->v.text.ptr == nullptr ? 0 : value->v.text.len;
  Matcher m{code_order ? nullptr : loc};
  std::vector<uint32_t> units;
  if (collating && !t_dict.built) BuildDict(loc);
  const uint32_t key = esc | (matches ? 1u << 24 : 0) | (ansi ? 1u << 25 : 0) |
                       (collating ? 1u << 26 : 0) | (bytes ? 1u << 27 : 0);
  PatternCache& cache = t_cache;
  if (!(cache.length == pn && cache.key == key &&
        cache.bytes.compare(0, std::string::npos, ps, static_cast<size_t>(pn)) == 0)) {
    cache.length = -1;
    if (bytes) Bytes(ps, pn, &units);
    else if (!Widen(loc, ps, pn, &units)) return kBadChar;
    cache.compiled = Compiled();
    cache.escape_flag = false;
    Tokenise(units, matches, esc, ansi, &cache.compiled, &cache.escape_flag);
    if (collating) RegroupLiterals(&cache.compiled);
    cache.bytes.assign(ps, static_cast<size_t>(pn));
    cache.key = key;
    cache.length = pn;
  }
  if (bytes) {
    // The value's bytes as they stand, without trailing blanks.
    if (cache.escape_flag) *escape_flag = true;
    size_t n = static_cast<size_t>(vn);
    while (n > 0 && vs[n - 1] == ' ') n--;
    const bool hit = m.Match(cache.compiled, reinterpret_cast<const unsigned char*>(vs), n);
    return hit && cache.compiled.error != 0 ? cache.compiled.error : hit ? 1 : 0;
  }
  if (cache.escape_flag) *escape_flag = true;
  if (!Widen(loc, vs, vn, &units)) return kBadChar;
  CutBlanks(&units);
  bool hit;
  if (collating) {
    std::vector<uint32_t> grouped = Regroup(units.data(), units.size());
    hit = m.Match(cache.compiled, grouped.data(), grouped.size());
  } else {
    hit = m.Match(cache.compiled, units.data(), units.size());
  }
  return hit && cache.compiled.error != 0 ? cache.compiled.error : hit ? 1 : 0;
}

}  // namespace

TV_EXTERN_C TV_API int rvalmatchesc(int op, SqlValue* value, SqlValue* pattern,
                                    SqlValue* result, int escape) {
  if (result != value && result != pattern) sqlv_setbool(result, 0);
  if (sqlv_isnull(value) || sqlv_isnull(pattern)) {
    sqlv_setnullbool(result);
    return 0;
  }
  if (!CharOperand(value) || !CharOperand(pattern)) {
    sqlv_setbool(result, 0);
    return rseterror(-1203);
  }
  const bool matches = op == 52 || op == 53;
  bool escape_flag = false;
  const int r = MatchValues(value, pattern, matches, static_cast<uint32_t>(escape) & 0xFFFFFFu,
                            &escape_flag);
  if (escape_flag) {
    if (ThreadRuntimeRecord* tr = rthreadrec()) tr->pattern_flag = 1;
  }
  if (r < 0) {
    sqlv_setbool(result, 0);
    if (r == kBadChar) return 0;
    return rseterror(r);
  }
  const bool invert = op == 53 || op == 57;
  sqlv_setbool(result, (r == 1) != invert ? 1 : 0);
  return 0;
}

TV_EXTERN_C TV_API int rvalmatch(int op, SqlValue* value, SqlValue* pattern, SqlValue* result) {
  rseterror(0);
  ThreadRuntimeRecord* tr = rthreadrec();
  if (tr == nullptr) return -406;
  tr->pattern_flag = 0;
  return rvalmatchesc(op, value, pattern, result, '\\');
}
