// Picture formats ('YYYY-MM-DD HH24:MI:SS') translated into locale time
// formats ('%iY-%m-%e %H:%M:%S'). Text in double quotes is copied as it
// stands; every other run of letters and digits must start a known word.
#include <string.h>
#include <strings.h>

#include <string>

#include "base/client_locale.h"
#include "base/locale_state.h"
#include "locale/core/gl_ctype.h"
#include "sqltypes/datetime_format.h"

namespace {

// The translation is assembled in a work area of this size; a picture
// whose translation would not fit is refused.
constexpr size_t kWorkArea = 1008;

struct Word {
  const char* word;
  const char* becomes;
};

// In this order: the first word the picture starts with is taken.
constexpr Word kWords[] = {
    {"YYYY", "%iY"}, {"YY", "%iy"}, {"RR", "%iy"},   {"MM", "%m"},   {"MONTH", "%B"},
    {"MON", "%b"},   {"DAY", "%A"}, {"DD", "%e"},    {"DY", "%a"},   {"D", "%w"},
    {"AM", "%p"},    {"PM", "%p"},  {"HH12", "%I"},  {"HH24", "%H"}, {"HH", "%I"},
    {"MI", "%M"},    {"SS", "%S"},
};

constexpr const char* kUnsupported[] = {
    "CC",   "SCC",  "SYYYY", "Y",    "YYY",   "IYYY", "IYY",  "IY",   "I",  "Y,YYY",
    "SYEAR", "YEAR", "BC",   "AD",   "B.C.",  "A.D.", "Q",    "RM",   "WW", "IW",
    "W",    "DDD",  "J",     "A.M.", "P.M.",  "SSSSS", "TH",  "SP",   "SPTH", "THSP",
};

bool StartsNoCase(const char* p, const char* word, size_t n) {
  return strncasecmp(p, word, n) == 0;
}

// 1 when the character at p is a letter or digit of the locale; its byte
// length in *len.
bool IsAlnum(GlLocale* loc, const char* p, int* len) {
  int blank = 0;
  const int32_t n = rgl_mbchar(p, static_cast<int32_t>(strnlen(p, 4)), &blank);
  *len = n > 0 ? n : 1;
  if (loc == nullptr || *len == 1) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x80 || loc == nullptr) return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
  }
  return _zel_gl_im_ismctype(loc, p, *len, GL_CLASS_ALNUM) != 0;
}

}  // namespace

TV_EXTERN_C TV_API int zel_to_gl_datetime(const char* picture, char* out, int length) {
  if (rglinit() < 0) return -1;
  if (out == nullptr || length <= 0) return -5855;
  out[0] = '\0';
  if (picture == nullptr || picture[0] == '\0') return 0;
  GlLocale* loc = rgllocstate()->client;
  std::string work;
  auto add = [&](const char* s, size_t n) {
    if (work.size() + n >= kWorkArea) return false;
    work.append(s, n);
    return true;
  };
  for (const char* p = picture; *p != '\0';) {
    if (*p == '"') {
      const char* close = strchr(p + 1, '"');
      if (close == nullptr) return -5854;
      if (!add(p + 1, static_cast<size_t>(close - p - 1))) return -5855;
      p = close + 1;
      continue;
    }
    int len = 1;
    if (!IsAlnum(loc, p, &len)) {
      if (!add(p, static_cast<size_t>(len))) return -5855;
      p += len;
      continue;
    }
    if (StartsNoCase(p, "DDD", 3) || StartsNoCase(p, "SSSSS", 5)) return -5853;
    const Word* hit = nullptr;
    for (const Word& w : kWords) {
      if (StartsNoCase(p, w.word, strlen(w.word))) {
        hit = &w;
        break;
      }
    }
    if (hit == nullptr) {
      for (const char* u : kUnsupported) {
        const size_t n = strcmp(u, "B.C.") == 0 || strcmp(u, "A.D.") == 0 ? 3 : strlen(u);
        if (StartsNoCase(p, u, n)) return -5853;
      }
      return -5854;
    }
    if (!add(hit->becomes, strlen(hit->becomes))) return -5855;
    p += strlen(hit->word);
  }
  if (work.size() + 1 > static_cast<size_t>(length)) return -5855;
  memcpy(out, work.c_str(), work.size() + 1);
  return 0;
}
