// The client's date format, settled once at locale start-up from DBDATE
// (translated from its letter notation), GL_DATE or the client locale.
//
// DBDATE notation: up to three field letters D, M, Y in the order of the
// date's fields; Y takes a width 2, 3, 4 or a second Y (2), and needs one
// unless an era prefix E, G or N stands directly before it; then one
// separator place (',', '-', '.', '/', or '0' for none; another character
// there is skipped and '/' kept); then an optional suffix C1, C2, J1, J2.
// Each of day, month and year must appear exactly once.

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/env.h"
#include "base/locale_state.h"
#include "base/thread_state.h"
#include "locale/core/gl_langinfo.h"
#include "locale/core/gl_setlocale.h"
#include "locale/core/gl_support.h"

namespace {

constexpr const char* kBuiltinFormat = "%m/%d/%iY";
constexpr int32_t kFormatAlloc = 19;
constexpr int32_t kLangInfoDateFormat = 61;

struct Notation {
  int32_t order[3] = {0, 0, 0};
  int32_t width = 0;      // 0 when none was written
  int32_t era_style = 0;  // 0 none, 1 "%EC", 2 "%Eg"
  int32_t kind = 0;
  char separator = '/';
};

// Parses the notation; false when it is refused.
bool Parse(const char* s, Notation* n) {
  if (*s == '\0') return false;
  int fields = 0;
  bool seen[4] = {false, false, false, false};
  bool width3 = false;
  while (fields < 3 && *s != '\0') {
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(*s)));
    int field = 0;
    if (c == 'D') {
      field = 1;
      s++;
    } else if (c == 'M') {
      field = 2;
      s++;
    } else if ((c == 'E' || c == 'G' || c == 'N') && s[1] == 'Y') {
      n->kind = c == 'N' ? 1 : 3;
      n->era_style = c == 'E' ? 1 : 2;
      field = 3;
      s += 2;
    } else if (c == 'Y') {
      field = 3;
      s++;
    } else {
      break;
    }
    if (field == 3) {
      if (*s == '2' || *s == '3' || *s == '4') {
        n->width = *s - '0';
        width3 = n->width == 3;
        s++;
      } else if (*s == 'Y' || *s == 'y') {
        n->width = 2;
        s++;
      } else if (n->era_style != 0) {
        n->width = 2;
      } else {
        return false;
      }
    }
    if (seen[field]) return false;
    seen[field] = true;
    n->order[fields++] = field;
  }
  if (!seen[1] || !seen[2] || !seen[3]) return false;
  if (*s != '\0') {
    if (std::strchr(",-./0", *s) != nullptr) n->separator = *s;
    s++;
  }
  bool c_suffix = false;
  if (*s != '\0') {
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(*s)));
    if ((c != 'C' && c != 'J') || (s[1] != '1' && s[1] != '2') || s[2] != '\0') return false;
    if (c == 'C') {
      c_suffix = true;
      n->kind = 2;
      if (n->width < 3) n->width = 3;
    } else {
      n->kind = 1;
    }
    n->era_style = s[1] == '1' ? 2 : 1;
  }
  return !width3 || c_suffix;
}

std::string YearFormat(const Notation& n) {
  if (n.era_style == 0) return n.width == 4 ? "%iY" : "%iy";
  const char w = static_cast<char>('0' + n.width);
  return std::string(n.era_style == 1 ? "%EC" : "%Eg") + "%0" + w + "." + w + "Ey";
}

// Stores a new format in the state, freeing an owned older one.
void StoreFormat(ClientLocaleState* st, char* fmt, bool owned) {
  if (st->date_format_owned && st->date_format != fmt) std::free(st->date_format);
  st->date_format = fmt;
  st->date_format_owned = owned ? 1 : 0;
  st->date_known = 1;
}

// A copy of text into buf, or into a new allocation of at least min_alloc
// bytes; null without memory.
char* CopyFormat(const char* text, char* buf, size_t min_alloc) {
  const size_t n = std::strlen(text) + 1;
  char* out = buf;
  if (out == nullptr) out = static_cast<char*>(std::malloc(n > min_alloc ? n : min_alloc));
  if (out != nullptr) std::memcpy(out, text, n);
  return out;
}

bool StartsWith(const char* s, const char* prefix) {
  return s != nullptr && std::strncmp(s, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

TV_BEGIN_C

int rdbdate2lxrfmt(const char* dbdate, char** out, int32_t* kind, int32_t order[3], char* buf) {
  if (dbdate == nullptr || out == nullptr || kind == nullptr || order == nullptr) {
    return RGL_E_DATE_ARG;
  }
  Notation n;
  if (!Parse(dbdate, &n)) return RGL_E_DATE_FORMAT;
  std::string fmt;
  for (int i = 0; i < 3; i++) {
    if (n.order[i] == 1) fmt += "%d";
    if (n.order[i] == 2) fmt += "%m";
    if (n.order[i] == 3) fmt += YearFormat(n);
    if (i < 2 && n.separator != '0') fmt += n.separator;
  }
  char* dst = CopyFormat(fmt.c_str(), buf, kFormatAlloc);
  if (dst == nullptr) return RGL_E_DATE_NOMEM;
  *out = dst;
  *kind = n.kind;
  for (int i = 0; i < 3; i++) order[i] = n.order[i];
  return 0;
}

TV_API int nogetenv_getlxrfmt(const char* dbdate, const char* gldate, char* buf, int32_t flag) {
  ClientLocaleState* st = rgllocstate();
  if (flag == 0) {
    dbdate = ggetenv_idx("DBDATE", ENVROW_DBDATE);
    gldate = ggetenv_idx("GL_DATE", ENVROW_GL_DATE);
  }
  if (dbdate != nullptr) {
    char* fmt = nullptr;
    int32_t kind = 0;
    int32_t order[3] = {0, 0, 0};
    if (int r = rdbdate2lxrfmt(dbdate, &fmt, &kind, order, buf); r != 0) return r;
    StoreFormat(st, fmt, buf == nullptr);
    std::memcpy(st->date_order, order, sizeof order);
    st->date_kind = kind;
    st->date_explicit = 1;
    return 0;
  }
  if (gldate != nullptr) {
    char* fmt = CopyFormat(gldate, buf, 0);
    if (fmt == nullptr) return RGL_E_DATE_NOMEM;
    StoreFormat(st, fmt, buf == nullptr);
    st->date_explicit = 0;
    return 0;
  }
  GlLocale* loc = st->client;
  const char* from_locale = nullptr;
  bool en_us = false;
  if (loc != nullptr) {
    char* time_name = gl_setlocale_4(loc, GL_TIME, nullptr);
    en_us = StartsWith(time_name, "en_us");
    gl_destroystring(time_name);
    if (!en_us) from_locale = gl_nl_langinfo(loc, kLangInfoDateFormat);
  }
  if (from_locale != nullptr && from_locale[0] != '\0') {
    char* fmt = CopyFormat(from_locale, buf, 0);
    if (fmt == nullptr) return RGL_E_DATE_NOMEM;
    StoreFormat(st, fmt, buf == nullptr);
    st->date_explicit = 0;
    return 0;
  }
  char* fmt = CopyFormat(kBuiltinFormat, buf, 10);
  if (fmt == nullptr) return RGL_E_DATE_NOMEM;
  StoreFormat(st, fmt, buf == nullptr);
  st->date_order[0] = 2;
  st->date_order[1] = 1;
  st->date_order[2] = 3;
  st->date_kind = 0;
  st->date_explicit = 1;
  return 0;
}

TV_END_C
