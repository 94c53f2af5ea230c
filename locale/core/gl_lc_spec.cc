#include "locale/core/gl_lc_spec.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include <string_view>

#include "locale/core/gl_errors.h"
#include "locale/core/gl_ext.h"
#include "locale/core/gl_registry.h"

namespace {

// Only the first 285 characters of a specification take part.
constexpr size_t kWorkSize = 286;
// The intermediate file-name form of a message directory name.
constexpr size_t kMsgWorkSize = 328;
// Large enough for any file-name form of a 285-character specification
// written without a directory.
constexpr size_t kFnameWorkSize = 1024;
constexpr size_t kMaxCodesetName = 21;
constexpr size_t kMaxModifier = 4;
constexpr char kSep = '/';
constexpr char kDirMark = '\xFF';
constexpr std::string_view kAssign = " = ";
constexpr std::string_view kJoin = " ; ";

struct Keyword {
  std::string_view text;
  int32_t number;
};
constexpr Keyword kKeywords[] = {
    {"GL_CTYPE", 1},    {"GL_COLLATE", 2}, {"GL_TIME", 3},
    {"GL_MONETARY", 4}, {"GL_NUMERIC", 5}, {"GL_MESSAGES", 6},
};

void SetError(void *obj, int32_t e) {
  if (obj != nullptr) *_gl_ext_errno(obj) = e;
}

bool Alpha(char c) { return isalpha(static_cast<unsigned char>(c)) != 0; }
bool Alnum(char c) { return isalnum(static_cast<unsigned char>(c)) != 0; }
bool Graph(char c) { return isgraph(static_cast<unsigned char>(c)) != 0; }
bool Xdigit(char c) { return isxdigit(static_cast<unsigned char>(c)) != 0; }
char Lower(char c) { return static_cast<char>(tolower(static_cast<unsigned char>(c))); }
char Upper(char c) { return static_cast<char>(toupper(static_cast<unsigned char>(c))); }
bool IsSep(char c) { return c == '/' || c == '\\'; }
bool StartsWith(const char *p, std::string_view s) { return strncmp(p, s.data(), s.size()) == 0; }

// An output cursor; bounded ones drop what does not fit and remember it.
class Out {
 public:
  explicit Out(char *p, size_t size = 0) : p_(p), end_(size != 0 ? p + size : nullptr) {}
  void Put(char c) {
    if (end_ != nullptr && p_ + 1 >= end_) {
      overflow_ = true;
      return;
    }
    *p_++ = c;
  }
  void Put(std::string_view s) {
    for (char c : s) Put(c);
  }
  // Writes the NUL without moving past it.
  void Terminate() { *p_ = '\0'; }
  char *pos() const { return p_; }
  bool overflow() const { return overflow_; }

 private:
  char *p_;
  char *end_;
  bool overflow_ = false;
};

void CopyWork(char (&work)[kWorkSize], const char *spec) {
  size_t n = strnlen(spec, kWorkSize - 1);
  memcpy(work, spec, n);
  work[n] = '\0';
}

// Length of the language_territory that begins a file name or piece ("en_"
// plus 2 letters, or "ger_" plus 2), 0 when it is malformed.
size_t LangTerritoryLength(const char *s) {
  if (!Alpha(s[0]) || !Alpha(s[1])) return 0;
  if (s[2] == '_') return Alpha(s[3]) && Alpha(s[4]) ? 5 : 0;
  if (Alpha(s[2]) && s[3] == '_') return Alpha(s[4]) && Alpha(s[5]) ? 6 : 0;
  return 0;
}

void PutHex4(Out &out, uint16_t v) {
  char hex[5];
  snprintf(hex, sizeof hex, "%04x", v);
  out.Put(std::string_view(hex, 4));
}

void PutDirPrefix(Out &out, const char *dir) {
  if (dir == nullptr || *dir == '\0') return;
  out.Put(dir);
  out.Put(kDirMark);
}

// One short specification at in to its file name; both advanced on success.
bool Piece(void *obj, const char *&in, Out &out, uint16_t *csnum, const char *path) {
  const char *p = in;
  Out o = out;
  if (!Alpha(p[0]) || !Alpha(p[1])) return false;
  o.Put(Lower(p[0]));
  o.Put(Lower(p[1]));
  p += 2;
  if (Alpha(p[0]) && p[1] == '_') {
    o.Put(Lower(*p++));
  } else if (*p != '_') {
    return false;
  }
  o.Put(*p++);
  if (!Alpha(p[0]) || !Alpha(p[1]) || p[2] != '.') return false;
  o.Put(Lower(p[0]));
  o.Put(Lower(p[1]));
  o.Put(kSep);
  p += 3;

  if (!Graph(*p) || *p == '#') return false;
  const char *q = p;
  while (*q != '\0' && *q != '@' && Graph(*q)) ++q;
  size_t n = static_cast<size_t>(q - p);
  if (n > kMaxCodesetName) return false;
  char name[kMaxCodesetName + 1];
  memcpy(name, p, n);
  name[n] = '\0';
  uint16_t number = gl_cs_name2cs_num(obj, name, path);
  if (csnum != nullptr) *csnum = number;
  if (number == GL_CS_UNKNOWN) return false;
  PutHex4(o, number);

  p = q;
  if (*p == '@') {
    ++p;
    size_t m = 0;
    while (Alnum(p[m])) {
      if (m == kMaxModifier) return false;
      ++m;
    }
    o.Put(std::string_view(p, m));
    p += m;
  }
  o.Put(".lco");
  o.Terminate();
  in = p;
  out = o;
  return true;
}

int32_t Malformed(void *obj) {
  SetError(obj, GL_ESHORT);
  return -1;
}

// The file-name form of spec into out; the common code-set number into
// *csnum when given.
int32_t SpecToFname(void *obj, const char *spec, Out &out, const char *path, const char *dir,
                    uint16_t *csnum) {
  char work[kWorkSize];
  CopyWork(work, spec);
  const char *p = work;
  int32_t len = 0;
  int32_t kw = _gl_lc_category_keyword(p, &len);
  uint16_t common = GL_CS_UNKNOWN;
  if (kw == 0) {
    if (!Piece(obj, p, out, &common, path) || *p != '\0') return Malformed(obj);
  } else {
    bool seen[7] = {};
    while (*p != '\0' && (kw = _gl_lc_category_keyword(p, &len)) != 0) {
      if (seen[kw]) return Malformed(obj);
      seen[kw] = true;
      out.Put(std::string_view(p, static_cast<size_t>(len)));
      p += len;
      if (!StartsWith(p, kAssign)) return Malformed(obj);
      out.Put(kAssign);
      p += kAssign.size();
      PutDirPrefix(out, dir);
      uint16_t number = GL_CS_UNKNOWN;
      if (!Piece(obj, p, out, &number, path)) return Malformed(obj);
      if (common == GL_CS_UNKNOWN) {
        common = number;
      } else if (number != common) {
        return Malformed(obj);
      }
      if (*p != '\0') {
        if (!StartsWith(p, kJoin)) return Malformed(obj);
        out.Put(kJoin);
        p += kJoin.size();
      }
    }
    if (*p != '\0') return Malformed(obj);
  }
  out.Terminate();
  if (out.overflow()) {
    SetError(obj, GL_ENOFILE);
    return -1;
  }
  if (csnum != nullptr) *csnum = common;
  return 0;
}

}  // namespace

int32_t _gl_lc_category_keyword(const char *text, int32_t *length) {
  for (const Keyword &k : kKeywords) {
    if (text != nullptr && StartsWith(text, k.text)) {
      if (length != nullptr) *length = static_cast<int32_t>(k.text.size());
      return k.number;
    }
  }
  if (length != nullptr) *length = 0;
  return 0;
}

const char *_gl_lc_keyword_text(int32_t number) {
  for (const Keyword &k : kKeywords) {
    if (k.number == number) return k.text.data();
  }
  return nullptr;
}

int32_t _gl_lc_piece2fname(void *obj, const char **in, char **out, uint16_t *csnum,
                           const char *path) {
  Out o(*out);
  if (!Piece(obj, *in, o, csnum, path)) return 0;
  *out = o.pos();
  return 1;
}

void _gl_put_dir_prefix(char **out, const char *dir) {
  Out o(*out);
  PutDirPrefix(o, dir);
  *out = o.pos();
}

int32_t gl_lc_spec2lc_fname(void *obj, const char *spec, char *out, const char *path,
                            const char *dir) {
  if (spec == nullptr || out == nullptr) {
    SetError(obj, GL_ENULLARG);
    return -1;
  }
  Out o(out);
  return SpecToFname(obj, spec, o, path, dir, nullptr);
}

int32_t gl_lc_spec2msg_dname(void *obj, const char *spec, char *out, const char *path,
                             const char *dir) {
  if (spec == nullptr || out == nullptr) {
    SetError(obj, GL_ENULLARG);
    return -1;
  }
  char fname[kMsgWorkSize];
  Out o(fname, sizeof fname);
  if (int32_t rc = SpecToFname(obj, spec, o, path, dir, nullptr); rc != 0) return rc;

  const char *p = fname;
  if (_gl_lc_category_keyword(spec, nullptr) != 0) {
    static constexpr char kMessages[] = "GL_MESSAGES = ";
    p = strstr(fname, kMessages);
    if (p == nullptr) return Malformed(obj);
    p += sizeof kMessages - 1;
    // The group's name follows its directory prefix.
    if (dir != nullptr && *dir != '\0') p += strlen(dir) + 1;
  }
  const char *sep = p;
  while (*sep != '\0' && !IsSep(*sep)) ++sep;
  if (strnlen(sep, 5) < 5) return Malformed(obj);
  size_t n = static_cast<size_t>(sep - p) + 5;
  memcpy(out, p, n);
  out[n] = '\0';
  return 0;
}

void gl_cs_nums2cv_fname(void *, uint16_t first, uint16_t second, char *out, const char *dir) {
  Out o(out);
  PutDirPrefix(o, dir);
  PutHex4(o, first);
  PutHex4(o, second);
  o.Put(".cvo");
  o.Terminate();
}

int32_t gl_lc_fname2lc_pieces(void *obj, const char *fname, char *lt, char *cs, char *mod) {
  if (fname == nullptr || lt == nullptr || cs == nullptr || mod == nullptr) {
    SetError(obj, GL_ENULLARG);
    return -1;
  }
  size_t n = LangTerritoryLength(fname);
  if (n == 0) return Malformed(obj);
  for (size_t i = 0; i < n; ++i) lt[i] = i + 2 < n ? Lower(fname[i]) : Upper(fname[i]);
  lt[n] = '\0';

  const char *p = fname + n;
  if (!IsSep(*p)) return -1;
  ++p;
  if (!Xdigit(*p)) return Malformed(obj);
  unsigned value = 0;
  for (int i = 0; i < 4 && Xdigit(*p); ++i, ++p) {
    char c = Lower(*p);
    value = value * 16 +
            static_cast<unsigned>(isdigit(static_cast<unsigned char>(c)) ? c - '0' : c - 'a' + 10);
  }
  snprintf(cs, 6, "%u", value);

  size_t m = 0;
  while (m < kMaxModifier && p[m] != '\0' && p[m] != '.') {
    mod[m] = p[m];
    ++m;
  }
  mod[m] = '\0';
  return 0;
}

int32_t gl_lc_pieces2lc_spec(void *obj, const char *lt, const char *cs, const char *mod,
                             char *out) {
  if (lt == nullptr || out == nullptr) {
    SetError(obj, GL_ENULLARG);
    return -1;
  }
  if (LangTerritoryLength(lt) == 0) return Malformed(obj);
  Out o(out);
  for (size_t i = 0; i < 6 && lt[i] != '\0' && lt[i] != '.'; ++i) o.Put(lt[i]);
  o.Put('.');
  if (cs == nullptr || *cs == '\0') return Malformed(obj);
  for (size_t i = 0; i < 5 && cs[i] != '\0'; ++i) {
    if (!Xdigit(cs[i])) return Malformed(obj);
    o.Put(cs[i]);
  }
  if (mod != nullptr && *mod != '\0') {
    o.Put('@');
    o.Put(std::string_view(mod, strnlen(mod, kMaxModifier)));
  }
  o.Terminate();
  return 0;
}

namespace {

// Splits one file name and joins its pieces into the normal form at out.
int32_t NormalFromFname(void *obj, const char *fname, Out &out) {
  char lt[8], cs[8], mod[8];
  if (gl_lc_fname2lc_pieces(obj, fname, lt, cs, mod) != 0) return -1;
  char norm[24];
  if (gl_lc_pieces2lc_spec(obj, lt, cs, mod, norm) != 0) return -1;
  out.Put(norm);
  out.Terminate();
  return 0;
}

}  // namespace

int32_t _gl_lc_short_spec2lc_short_norm(void *obj, const char *spec, char *out, const char *path) {
  if (spec == nullptr || out == nullptr) {
    SetError(obj, GL_ENULLARG);
    return -1;
  }
  char fname[kFnameWorkSize];
  Out f(fname, sizeof fname);
  if (SpecToFname(obj, spec, f, path, nullptr, nullptr) != 0) return -1;
  Out o(out);
  return NormalFromFname(obj, fname, o);
}

int32_t gl_lc_spec2lc_norm(void *obj, const char *spec, char *out, const char *path) {
  if (spec == nullptr || out == nullptr) {
    SetError(obj, GL_ENULLARG);
    return -1;
  }
  char work[kWorkSize];
  CopyWork(work, spec);
  if (_gl_lc_category_keyword(work, nullptr) == 0) {
    if (_gl_lc_short_spec2lc_short_norm(obj, work, out, path) != 0) return Malformed(obj);
    return 0;
  }

  const char *p = work;
  Out o(out);
  uint16_t common = GL_CS_UNKNOWN;
  for (int group = 0; group < 6; ++group) {
    int32_t len = 0;
    if (_gl_lc_category_keyword(p, &len) == 0) return Malformed(obj);
    o.Put(std::string_view(p, static_cast<size_t>(len)));
    p += len;
    if (!StartsWith(p, kAssign)) return Malformed(obj);
    o.Put(kAssign);
    p += kAssign.size();
    char fname[32];
    Out f(fname, sizeof fname);
    uint16_t number = GL_CS_UNKNOWN;
    if (!Piece(obj, p, f, &number, path)) return Malformed(obj);
    if (group == 0) {
      common = number;
    } else if (number != common) {
      return Malformed(obj);
    }
    if (NormalFromFname(obj, fname, o) != 0) return -1;
    if (StartsWith(p, kJoin)) {
      o.Put(kJoin);
      p += kJoin.size();
    } else if (group < 5) {
      return -1;
    }
  }
  o.Terminate();
  return 0;
}

uint16_t gl_lc_spec2cs_num(void *obj, const char *spec, const char *path) {
  if (spec == nullptr) {
    SetError(obj, GL_ENULLARG);
    return GL_CS_UNKNOWN;
  }
  char work[kWorkSize];
  CopyWork(work, spec);
  const char *p = work;
  char scratch[32];
  if (_gl_lc_category_keyword(work, nullptr) == 0) {
    Out f(scratch, sizeof scratch);
    uint16_t number = GL_CS_UNKNOWN;
    if (Piece(obj, p, f, &number, path) && *p == '\0') return number;
    // What the conversion left (all of it when it failed) may be a bare
    // code-set name; the registry's error stands when it is not.
    return gl_cs_name2cs_num(obj, p, path);
  }

  bool seen[7] = {};
  uint16_t common = GL_CS_UNKNOWN;
  int32_t kw = 0, len = 0;
  while (*p != '\0' && (kw = _gl_lc_category_keyword(p, &len)) != 0) {
    if (seen[kw]) break;
    seen[kw] = true;
    p += len;
    if (!StartsWith(p, kAssign)) break;
    p += kAssign.size();
    Out f(scratch, sizeof scratch);
    uint16_t number = GL_CS_UNKNOWN;
    if (!Piece(obj, p, f, &number, path)) break;
    if (common != GL_CS_UNKNOWN && number != common) break;
    common = number;
    if (!StartsWith(p, kJoin)) break;
    p += kJoin.size();
    kw = 0;
  }
  if (kw != 0 || *p != '\0') {
    SetError(obj, GL_ESHORT);
    return GL_CS_UNKNOWN;
  }
  return common;
}
