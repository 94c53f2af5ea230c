// The date subset of the locale time formatter: renders a year, month and
// day under a format in the locale library's notation ("%m/%d/%iY",
// "%A %d %B %Y", ...). Day and month names come from the client locale's
// LC_TIME data, English when the locale has none.
//
// Conversions: %% %a %A %b %h %B %C %g %d %D %e %j %m %n %t %u %w %y %Y %iy
// %iY, each with optional flags ('-' left-justifies), a width and a
// precision (the minimum digit count). Time-of-day conversions print 0.
// %E and %O are skipped in a locale without eras or alternate digits; era
// output is not done here and gives error 22, as every other letter does.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "base/locale_state.h"
#include "locale/format/gl_timeinfo.h"
#include "sqltypes/date.h"

namespace {

const char* const kDayAbbr[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kDayFull[7] = {"Sunday", "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};
const char* const kMonAbbr[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kMonFull[12] = {"January", "February", "March",     "April",   "May",      "June",
                                  "July",    "August",   "September", "October", "November", "December"};

// The locale's names of one kind (1 day, 2 abbreviated day, 3 month,
// 4 abbreviated month), loaded once per thread and locale.
struct NameCache {
  GlLocale* loc = nullptr;
  char** names[5] = {};
  int32_t counts[5] = {};
};
thread_local NameCache t_names;

const char* LocaleName(int kind, int index, const char* const* fallback, int fallback_count) {
  GlLocale* loc = rgllocstate()->client;
  if (loc != nullptr && t_names.loc != loc) {
    // Earlier lists stay allocated: other pointers may still refer to them.
    t_names = NameCache{};
    t_names.loc = loc;
    for (int k = 1; k <= 4; k++) {
      if (gl_mbstimeinfo(loc, k, &t_names.names[k], &t_names.counts[k]) != 0) {
        t_names.names[k] = nullptr;
        t_names.counts[k] = 0;
      }
    }
  }
  if (loc != nullptr && index >= 0 && index < t_names.counts[kind] && t_names.names[kind] &&
      t_names.names[kind][index] != nullptr && t_names.names[kind][index][0] != '\0')
    return t_names.names[kind][index];
  return index >= 0 && index < fallback_count ? fallback[index] : "";
}

struct Spec {
  bool left = false;
  int width = -1;
  int precision = -1;
};

void Pad(std::string* out, const std::string& text, const Spec& s) {
  const int pad = s.width > static_cast<int>(text.size()) ? s.width - static_cast<int>(text.size()) : 0;
  if (!s.left) out->append(pad, ' ');
  out->append(text);
  if (s.left) out->append(pad, ' ');
}

void Number(std::string* out, int64_t v, const Spec& s, int default_precision) {
  int p = s.precision >= 0 ? s.precision : default_precision;
  p = p < 1 ? 1 : p > 24 ? 24 : p;
  char buf[48];
  snprintf(buf, sizeof buf, "%0*lld", p, static_cast<long long>(v < 0 ? -v : v));
  std::string text = v < 0 ? std::string("-") + buf : std::string(buf);
  Pad(out, text, s);
}

}  // namespace

int rdaterender(const char* format, int year, int month, int day, int wday, int yday, char* out,
                int size) {
  if (format == nullptr) return 15;
  std::string r;
  for (const char* p = format; *p != '\0'; p++) {
    if (*p != '%') {
      r += *p;
      continue;
    }
    p++;
    Spec s;
    while (*p == '-' || *p == '+' || *p == ' ' || *p == '#' || *p == '0' || *p == '\'') {
      if (*p == '-') s.left = true;
      p++;
    }
    if (*p >= '1' && *p <= '9') s.width = static_cast<int>(strtol(p, const_cast<char**>(&p), 10));
    if (*p == '.') {
      p++;
      s.precision = static_cast<int>(strtol(p, const_cast<char**>(&p), 10));
    }
    if (*p == 'E' || *p == 'O') {
      GlLocale* loc = rgllocstate()->client;
      if (*p == 'E' && loc != nullptr && gl_get_era_count(loc) > 0) return 22;
      p++;
    }
    switch (*p) {
      case '%': r += '%'; break;
      case 'a': Pad(&r, LocaleName(2, wday, kDayAbbr, 7), s); break;
      case 'A': Pad(&r, LocaleName(1, wday, kDayFull, 7), s); break;
      case 'b':
      case 'h': Pad(&r, LocaleName(4, month - 1, kMonAbbr, 12), s); break;
      case 'B': Pad(&r, LocaleName(3, month - 1, kMonFull, 12), s); break;
      case 'C':
      case 'g': Number(&r, year / 100, s, 0); break;
      case 'd': Number(&r, day, s, 2); break;
      case 'D': {
        Spec each = s;
        Number(&r, month, each, 2);
        r += '/';
        Number(&r, day, each, 2);
        r += '/';
        Number(&r, year % 100, each, 2);
        break;
      }
      case 'e':
        if (day < 10 && s.precision < 2) {
          r += ' ';
          if (s.width > 0) s.width--;
        }
        Number(&r, day, s, 0);
        break;
      case 'j': Number(&r, yday + 1, s, 3); break;
      case 'm': Number(&r, month, s, 2); break;
      case 'n': r += '\n'; break;
      case 't': r += '\t'; break;
      case 'u': Number(&r, wday == 0 ? 7 : wday, s, 2); break;
      case 'w': Number(&r, wday, s, 2); break;
      case 'y': Number(&r, year % 100, s, 2); break;
      case 'Y': Number(&r, year, s, 4); break;
      case 'H':
      case 'M':
      case 'S': Number(&r, 0, s, 2); break;
      case 'i':
        if (p[1] == 'Y') {
          Number(&r, year, s, 4);
          p++;
          break;
        }
        if (p[1] == 'y') {
          Number(&r, year % 100, s, 2);
          p++;
          break;
        }
        return 22;
      default:
        return 22;
    }
  }
  if (static_cast<int>(r.size()) + 1 > size) return 14;
  memcpy(out, r.c_str(), r.size() + 1);
  return 0;
}
