#include "locale/core/gl_lc_longspec.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <string_view>

#include "locale/core/gl_datafile.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_ext.h"
#include "locale/core/gl_lc_spec.h"
#include "locale/core/gl_registry.h"

namespace {

constexpr size_t kInputMax = 285;       // characters of a specification
constexpr size_t kFnameInputMax = 310;  // characters of a file-name form
constexpr size_t kValueMax = 33;
constexpr size_t kCodesetMax = 21;
constexpr size_t kLongMax = 285;
constexpr size_t kFileMax = 36;
constexpr size_t kPathSize = 1024;
constexpr std::string_view kAssign = " = ";
constexpr std::string_view kJoin = " ; ";
constexpr int kCategories = 6;
// Keyword parser numbers of the categories 2-7, the long form's order.
constexpr int32_t kOrder[kCategories] = {1, 2, 5, 4, 3, 6};

int32_t Fail(void *obj, int32_t e) {
  if (obj != nullptr) *_gl_ext_errno(obj) = e;
  return -1;
}
int32_t Malformed(void *obj) { return Fail(obj, GL_ESHORT); }

bool Alpha(char c) { return isalpha(static_cast<unsigned char>(c)) != 0; }
bool Alnum(char c) { return isalnum(static_cast<unsigned char>(c)) != 0; }
bool Graph(char c) { return isgraph(static_cast<unsigned char>(c)) != 0; }
bool Xdigit(char c) { return isxdigit(static_cast<unsigned char>(c)) != 0; }
char Lower(char c) { return static_cast<char>(tolower(static_cast<unsigned char>(c))); }
bool IsSep(char c) { return c == '/' || c == '\\'; }
bool AtJoin(const char *p) { return strncmp(p, kJoin.data(), kJoin.size()) == 0; }
bool StartsWith(const char *p, std::string_view s) { return strncmp(p, s.data(), s.size()) == 0; }

// A bounded text: Put fails once the limit is reached.
template <size_t N>
struct Text {
  char s[N + 1] = {};
  size_t n = 0;
  bool overflow = false;
  bool Put(char c) {
    if (n >= N) {
      overflow = true;
      return false;
    }
    s[n++] = c;
    s[n] = '\0';
    return true;
  }
  bool Put(std::string_view v) {
    for (char c : v) {
      if (!Put(c)) return false;
    }
    return true;
  }
};
using Value = Text<kValueMax>;
using Codeset = Text<kCodesetMax>;

// Copies spec into work when it fits in max characters.
bool CopyWork(char *work, const char *spec, size_t max) {
  size_t n = strnlen(spec, max + 1);
  if (n > max) return false;
  memcpy(work, spec, n);
  work[n] = '\0';
  return true;
}

// The six-way scan: each category's keyword found anywhere in the text
// (its first occurrence), " = " right after it; v[i] is the value of the
// category kOrder[i].
bool Scan(char *work, char *v[kCategories]) {
  for (int i = 0; i < kCategories; ++i) {
    const char *kw = _gl_lc_keyword_text(kOrder[i]);
    char *p = strstr(work, kw);
    if (p == nullptr) return false;
    p += strlen(kw);
    if (!StartsWith(p, kAssign)) return false;
    v[i] = p + kAssign.size();
  }
  return true;
}

// A value at a blank must stand at " ; ", where it is cut.
bool CutAtJoin(char *p) {
  if (*p != ' ') return true;
  if (!AtJoin(p)) return false;
  *p = '\0';
  return true;
}

bool Known(void *obj, const char *codeset, const char *path, uint16_t *number = nullptr) {
  uint16_t n = gl_cs_name2cs_num(obj, codeset, path);
  if (number != nullptr) *number = n;
  return n != GL_CS_UNKNOWN;
}

// Language "_" territory (two letters each) of one value into val,
// lower-cased: 1, 0 for a non-letter (error unchanged), -1 for a missing
// "_" (error 7).
int LangTerritory(const char *p, Value *val) {
  if (!Alpha(p[0]) || !Alpha(p[1])) return 0;
  if (p[2] != '_') return -1;
  if (!Alpha(p[3]) || !Alpha(p[4])) return 0;
  for (int i = 0; i < 5; ++i) val->Put(Lower(p[i]));
  return 1;
}

// The keyword at p, not seen before: its length (p is not moved), or 0.
int32_t NewKeyword(const char *p, bool seen[7]) {
  int32_t len = 0;
  int32_t kw = _gl_lc_category_keyword(p, &len);
  if (kw == 0 || seen[kw]) return 0;
  seen[kw] = true;
  return len;
}

}  // namespace

int32_t gl_is_lc_spec(void *obj, const char *text) {
  char work[kInputMax + 1];
  if (text == nullptr || *text == '\0' || !CopyWork(work, text, kInputMax)) return Malformed(obj);
  const char *p = work;
  bool seen[7] = {};
  for (;;) {
    int32_t len = NewKeyword(p, seen);
    if (len == 0) return Malformed(obj);
    p += len;
    if (!StartsWith(p, kAssign)) return Malformed(obj);
    p += kAssign.size();
    if (!Alpha(p[0]) || !Alpha(p[1])) return -1;
    if (p[2] != '_') return Malformed(obj);
    if (!Alpha(p[3]) || !Alpha(p[4])) return -1;
    p += 5;
    if (*p == ';' || *p == '#' || (*p == ' ' && !AtJoin(p))) return Malformed(obj);
    if (*p != '.' && *p != ' ' && *p != '\0') return Malformed(obj);
    if (*p == '.') {
      ++p;
      while (*p != '\0' && *p != '@' && *p != ';' && Graph(*p)) ++p;
      if (*p == ';' || (*p == ' ' && !AtJoin(p))) return Malformed(obj);
    }
    if (*p == '@') {
      ++p;
      while (Alnum(*p)) ++p;
      if (*p == ';' || (*p == ' ' && !AtJoin(p))) return Malformed(obj);
    }
    if (*p == '\0') return 0;
    if (!AtJoin(p)) return Malformed(obj);
    p += kJoin.size();
    if (*p == '\0') return 0;
  }
}

int32_t gl_lc_short2lc_long(void *obj, const char *spec, char *out, const char *path) {
  char work[kInputMax + 1];
  if (spec == nullptr || *spec == '\0' || !CopyWork(work, spec, kInputMax)) {
    return Malformed(obj);
  }
  const char *p = work;
  Value val;
  if (LangTerritory(p, &val) != 1) return Malformed(obj);
  p += 5;
  if (*p == ';' || *p == ' ') return Malformed(obj);
  Codeset cs;
  bool lookup = false;
  if (*p != '\0') {
    if (*p != '.') return Malformed(obj);
    val.Put('.');
    ++p;
    if (!Graph(*p) || *p == ';' || *p == '#') return Malformed(obj);
    for (; *p != '\0' && *p != '@' && *p != ';' && Graph(*p); ++p) {
      if (!val.Put(Lower(*p)) || !cs.Put(*p)) return Malformed(obj);
    }
    if (*p == ';' || (*p == ' ' && !AtJoin(p))) return Malformed(obj);
    lookup = true;
    if (*p == '@') {
      for (val.Put(*p++); Alnum(*p); ++p) {
        if (!val.Put(Lower(*p))) return Malformed(obj);
      }
      if (*p == ';' || (*p == ' ' && !AtJoin(p))) return Malformed(obj);
    }
    // Anything after a " ; " is ignored.
    if (*p != '\0' && !AtJoin(p)) return Malformed(obj);
  }
  if (lookup && !Known(obj, cs.s, path)) return -1;
  if (out == nullptr) return Malformed(obj);
  Text<kLongMax> form;
  for (int i = 0; i < kCategories; ++i) {
    if ((i > 0 && !form.Put(kJoin)) || !form.Put(_gl_lc_keyword_text(kOrder[i])) ||
        !form.Put(kAssign) || !form.Put(std::string_view(val.s, val.n))) {
      return Malformed(obj);
    }
  }
  memcpy(out, form.s, form.n + 1);
  return 0;
}

int32_t gl_lc_spec2lc_short(void *obj, const char *spec, char *out, const char *path) {
  char work[kInputMax + 1];
  char *v[kCategories];
  if (spec == nullptr || *spec == '\0' || out == nullptr || !CopyWork(work, spec, kInputMax) ||
      !Scan(work, v)) {
    return Malformed(obj);
  }
  auto any = [&](auto pred) {
    for (char *p : v) {
      if (pred(*p)) return true;
    }
    return false;
  };
  auto all = [&](auto pred) { return !any([&](char c) { return !pred(c); }); };
  auto step = [&] {
    for (char *&p : v) ++p;
  };
  auto write = [&](const Value &val) { memcpy(out, val.s, val.n + 1); };

  Value val;
  // Language and territory: letters equal ignoring case in all six.
  for (int pos = 0; pos < 5; ++pos, step()) {
    if (pos == 2) {
      if (!all([](char c) { return c == '_'; })) return Malformed(obj);
      val.Put('_');
      continue;
    }
    if (!all(Alpha)) return -1;
    char c = Lower(*v[0]);
    if (any([c](char x) { return Lower(x) != c; })) return Malformed(obj);
    val.Put(c);
  }
  if (any([](char c) { return !Graph(c); })) {
    for (char *p : v) {
      if (!CutAtJoin(p)) return Malformed(obj);
    }
    if (all([](char c) { return c == '\0'; })) {
      write(val);
      return 0;
    }
  }
  // The code-set names, equal ignoring case.
  if (!all([](char c) { return c == '.'; })) return Malformed(obj);
  val.Put('.');
  step();
  if (any([](char c) { return c == ';' || c == '#'; })) return Malformed(obj);
  Codeset cs;
  auto name_end = [](char c) { return c == '@' || c == ';' || !Graph(c); };
  while (!all(name_end)) {
    char c = Lower(*v[0]);
    if (any([c](char x) { return Lower(x) != c; })) return Malformed(obj);
    if (!val.Put(c) || !cs.Put(c)) return Malformed(obj);
    step();
  }
  if (any([](char c) { return c == ';'; })) return Malformed(obj);
  if (any([](char c) { return c == ' '; }) || all([](char c) { return c == '\0'; })) {
    for (char *p : v) {
      if (*p != '\0' && !AtJoin(p)) return Malformed(obj);
    }
    write(val);
    return Known(obj, cs.s, path) ? 0 : -1;
  }
  if (!all([](char c) { return c == '@'; })) return Malformed(obj);
  if (!Known(obj, cs.s, path)) return -1;
  val.Put('@');
  step();
  while (any(Alnum)) {
    char c = Lower(*v[0]);
    if (!all(Alnum) || any([c](char x) { return Lower(x) != c; })) return Malformed(obj);
    if (!val.Put(c)) return Malformed(obj);
    step();
  }
  write(val);
  for (char *p : v) {
    if (*p != '\0' && !AtJoin(p)) return Malformed(obj);
  }
  return 0;
}

int32_t gl_lc_spec2category(void *obj, const char *spec, int32_t category, char *out,
                            const char *path) {
  char work[kInputMax + 1];
  char *v[kCategories];
  if (spec == nullptr || *spec == '\0' || _gl_lc_category_keyword(spec, nullptr) == 0 ||
      !CopyWork(work, spec, kInputMax) || !Scan(work, v)) {
    return Malformed(obj);
  }
  const int want = category >= 2 && category <= 7 ? category - 2 : -1;
  if (want >= 0 && out == nullptr) return Malformed(obj);
  Value val[kCategories];
  for (int i = 0; i < kCategories; ++i) {
    int r = LangTerritory(v[i], &val[i]);
    if (r == 0) return -1;
    if (r < 0) return Malformed(obj);
    v[i] += 5;
  }
  bool ended = false;
  for (char *p : v) ended = ended || !Graph(*p);
  if (ended) {
    for (char *p : v) {
      if (!CutAtJoin(p)) return Malformed(obj);
    }
    if (want >= 0 && *v[want] == '\0') {
      memcpy(out, val[want].s, val[want].n + 1);
      return 0;
    }
  }
  for (int i = 0; i < kCategories; ++i) {
    if (*v[i] != '.') return Malformed(obj);
    val[i].Put(*v[i]++);
    if (!Graph(*v[i]) || *v[i] == ';' || *v[i] == '#') return Malformed(obj);
  }
  Codeset cs[kCategories];
  for (int i = 0; i < kCategories; ++i) {
    char *&p = v[i];
    for (; *p != '\0' && *p != '@' && *p != ';' && Graph(*p); ++p) {
      if (!val[i].Put(*p) || !cs[i].Put(*p)) return Malformed(obj);
    }
    if (*p == '@') {
      for (val[i].Put(*p++); Alnum(*p); ++p) {
        if (!val[i].Put(*p)) return Malformed(obj);
      }
    }
    if (*p == ';' || !CutAtJoin(p) || *p != '\0') return Malformed(obj);
  }
  uint16_t first = GL_CS_UNKNOWN;
  for (int i = 0; i < kCategories; ++i) {
    uint16_t n = GL_CS_UNKNOWN;
    if (!Known(obj, cs[i].s, path, &n)) return -1;
    if (i == 0) first = n;
    if (n != first) return Malformed(obj);
  }
  if (want < 0) return 0;
  memcpy(out, val[want].s, val[want].n + 1);
  return 0;
}

namespace {

// Pass 1 of the file-name form: the six file names, lower-cased, with the
// port's separator. 0, or -1 (error set or, for a non-letter, unchanged).
int32_t FileNames(void *obj, char *work, std::string names[kCategories]) {
  char *v[kCategories];
  if (!Scan(work, v)) return Malformed(obj);
  int shape = 0;
  for (int i = 0; i < kCategories; ++i) {
    const char *p = v[i];
    if (!Alpha(p[0]) || !Alpha(p[1])) return -1;
    int lang = Alpha(p[2]) ? 3 : 2;
    if (shape == 0) shape = lang;
    if (lang != shape || p[lang] != '_') return Malformed(obj);
    if (!Alpha(p[lang + 1]) || !Alpha(p[lang + 2])) return -1;
    if (!IsSep(p[lang + 3])) return Malformed(obj);
    std::string &name = names[i];
    for (; *p != '\0' && *p != ';' && Graph(*p); ++p) name.push_back(IsSep(*p) ? '/' : Lower(*p));
    if (name.size() > kFileMax) return Malformed(obj);
  }
  return 0;
}

// Opens the six files and closes them again: every one must open.
bool AllOpen(void *obj, const std::string names[kCategories], const char *dir) {
  FILE *files[kCategories] = {};
  bool all = true;
  for (int i = 0; i < kCategories; ++i) {
    if (dir != nullptr) {
      std::string full = std::string(dir) + "/" + names[i];
      if (full.size() < kPathSize) files[i] = fopen(full.c_str(), "re");
    } else {
      files[i] = static_cast<FILE *>(_gl_open_data_file_rt(obj, names[i].c_str(), "lc", "11"));
    }
    all = all && files[i] != nullptr;
  }
  for (FILE *f : files) {
    if (f != nullptr) fclose(f);
  }
  return all;
}

}  // namespace

int32_t gl_lc_fname2lc_spec(void *obj, const char *fspec, char *out, const char *dir) {
  char work[kFnameInputMax + 1];
  if (fspec == nullptr || *fspec == '\0' || out == nullptr ||
      !CopyWork(work, fspec, kFnameInputMax)) {
    return Malformed(obj);
  }
  std::string names[kCategories];
  if (FileNames(obj, work, names) != 0) return -1;
  if (!AllOpen(obj, names, dir)) return Fail(obj, GL_EMISSING);

  // Pass 2: each group rebuilt as a specification.
  CopyWork(work, fspec, kFnameInputMax);
  const char *p = work;
  Text<kLongMax> spec;
  bool seen[7] = {};
  for (;;) {
    int32_t len = NewKeyword(p, seen);
    if (len == 0) return Malformed(obj);
    if (!spec.Put(std::string_view(p, static_cast<size_t>(len)))) return Malformed(obj);
    p += len;
    if (!StartsWith(p, kAssign) || !spec.Put(kAssign)) return Malformed(obj);
    p += kAssign.size();
    int letters = 0;
    for (; Alpha(*p) && letters < 3; ++p, ++letters) spec.Put(Lower(*p));
    if (letters < 2 || *p != '_' || !Alpha(p[1]) || !Alpha(p[2])) return Malformed(obj);
    spec.Put('_');
    spec.Put(Lower(p[1]));
    spec.Put(Lower(p[2]));
    p += 3;
    if (!IsSep(*p)) return -1;
    spec.Put('.');
    ++p;
    if (!Xdigit(*p)) return Malformed(obj);
    unsigned number = 0;
    for (int i = 0; i < 4 && Xdigit(*p); ++i, ++p) {
      number = number * 16 + static_cast<unsigned>(isdigit(static_cast<unsigned char>(*p))
                                                        ? *p - '0'
                                                        : Lower(*p) - 'a' + 10);
    }
    char digits[8];
    snprintf(digits, sizeof digits, "%u", number);
    spec.Put(digits);
    if (*p != '.') {
      const char *dot = p;
      while (*dot != '\0' && *dot != '.' && dot - p <= 4) ++dot;
      if (*dot != '.' || dot - p > 4) return Malformed(obj);
      spec.Put('@');
      spec.Put(std::string_view(p, static_cast<size_t>(dot - p)));
      p = dot;
    }
    if (!StartsWith(p, ".lco")) return Malformed(obj);
    p += 4;
    if (*p == '\0') break;
    if (!AtJoin(p) || !spec.Put(kJoin)) return Malformed(obj);
    p += kJoin.size();
  }
  if (spec.overflow) return Malformed(obj);
  memcpy(out, spec.s, spec.n + 1);
  return 0;
}
