// Random records formatted by gl_mbsftime and gl_wcsftime against the C
// library's strftime in the same locales (en_US ISO-8859-1, de_DE
// ISO-8859-1, ja_JP SHIFT_JIS, compiled with localedef into a temporary
// directory), for the conversions whose meaning the two share; %c %x %X %r
// hand the locale's own format to the C library. Where this engine defines
// a conversion otherwise, the C library gets the equivalent: %T as
// %-H:%-M:%-S, %R as %-H:%-M (no padding), %u and %w as %02u and %02w, %g
// as %C. Also checks that gl_mbsfmtexpand bounds every text written.
// Prints failures and ends with "N passed, M failed".
//
// usage: strftime_oracle LC11_DIRECTORY
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <random>
#include <string>
#include <vector>

#include "locale/core/gl_langinfo.h"
#include "locale/core/gl_lco.h"
#include "locale/core/gl_locale.h"
#include "locale/core/gl_mbchar.h"
#include "locale/core/gl_refresh.h"
#include "locale/format/gl_strftime.h"

// The C library keeps the search path it splits out of LOCPATH for good.
extern "C" __attribute__((visibility("default"), used)) const char *
__lsan_default_suppressions() {
  return "leak:__argz_create_sep\nleak:__argz_add_sep\n";
}

namespace {

struct Case {
  const char *file;
  const char *source;
  const char *charmap;
  std::vector<std::string> literals;  // literal text in the locale's code set
};

int passed = 0, failed = 0;

void Fail(const std::string &what) {
  ++failed;
  if (failed <= 30) printf("FAIL: %s\n", what.c_str());
}

std::string Hex(const std::string &s) {
  std::string h;
  char b[4];
  for (unsigned char c : s) {
    snprintf(b, sizeof b, "%02x", c);
    h += b;
  }
  return h;
}

// This engine's format in the C library's terms.
std::string ForGlibc(const std::string &f) {
  std::string out;
  for (size_t i = 0; i < f.size(); ++i) {
    if (f[i] != '%' || i + 1 >= f.size()) {
      out += f[i];
      continue;
    }
    char c = f[++i];
    switch (c) {
      case 'T': out += "%-H:%-M:%-S"; break;
      case 'R': out += "%-H:%-M"; break;
      case 'u': out += "%02u"; break;
      case 'w': out += "%02w"; break;
      case 'g': out += "%C"; break;
      default: out += '%'; out += c;
    }
  }
  return out;
}

GlLocale *Load(const std::string &path) {
  GlLocale *loc = nullptr;
  if (gl_create_null_locale_4(&loc) != 0) return nullptr;
  FILE *f = fopen(path.c_str(), "re");
  if (f == nullptr) return loc;
  int32_t rc = _gl_lco_read_all(f, loc);
  fclose(f);
  if (rc != 0 || _gl_locale_refresh(loc) != 0) {
    gl_lc_unload(loc);
    return nullptr;
  }
  return loc;
}

int DaysIn(int month, int year) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 1 && leap ? 29 : days[month];
}

void RunLocale(const Case &c, const std::string &lc11, const std::string &tmp, std::mt19937 &rng) {
  std::string name = std::string(c.source) + "." + c.charmap;
  std::string cmd = "localedef --no-warnings=ascii -i " + std::string(c.source) + " -f " +
                    c.charmap + " " + tmp + "/" + name + " >/dev/null 2>&1";
  if (system(cmd.c_str()) < 0) {
    Fail("localedef " + name);
    return;
  }
  locale_t gl = newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(nullptr));
  GlLocale *loc = Load(lc11 + "/" + c.file);
  if (gl == static_cast<locale_t>(nullptr) || loc == nullptr) {
    Fail(std::string("cannot load ") + c.file + " or " + name);
    if (gl != static_cast<locale_t>(nullptr)) freelocale(gl);
    if (loc != nullptr) gl_lc_unload(loc);
    return;
  }
  // The locale's own formats for %c %x %X %r.
  const std::string own[4] = {gl_nl_langinfo(loc, 0), gl_nl_langinfo(loc, 61),
                              gl_nl_langinfo(loc, 62), gl_nl_langinfo(loc, 63)};
  const char *shared[] = {"%a", "%A", "%b", "%B", "%d", "%H", "%I", "%j", "%m", "%M",
                          "%p", "%S", "%y", "%Y", "%%", "%h", "%e", "%D", "%n", "%t",
                          "%C", "%T", "%R", "%u", "%w", "%g", "%c", "%x", "%X", "%r"};
  const size_t nshared = sizeof shared / sizeof shared[0];
  for (int i = 0; i < 1500; ++i) {
    GlTimeRecord rec = {};
    rec.year = 1000 + static_cast<int>(rng() % 9000) - 1900;
    rec.month = static_cast<int>(rng() % 12);
    rec.mday = 1 + static_cast<int>(rng() % DaysIn(rec.month, rec.year + 1900));
    rec.hour = static_cast<int>(rng() % 24);
    rec.minute = static_cast<int>(rng() % 60);
    rec.second = static_cast<int>(rng() % 60);
    rec.wday = static_cast<int>(rng() % 7);
    rec.yday = static_cast<int>(rng() % 366);
    std::string ours, theirs;
    int pieces = 1 + static_cast<int>(rng() % 5);
    for (int k = 0; k < pieces; ++k) {
      if (rng() % 4 == 0) {
        std::string lit = c.literals[rng() % c.literals.size()];
        ours += lit;
        theirs += lit;
        continue;
      }
      size_t j = rng() % nshared;
      std::string conv = shared[j];
      ours += conv;
      if (j >= nshared - 4) {
        theirs += ForGlibc(own[j - (nshared - 4)]);
      } else {
        theirs += ForGlibc(conv);
      }
    }
    struct tm tm = {};
    tm.tm_year = rec.year;
    tm.tm_mon = rec.month;
    tm.tm_mday = rec.mday;
    tm.tm_hour = rec.hour;
    tm.tm_min = rec.minute;
    tm.tm_sec = rec.second;
    tm.tm_wday = rec.wday;
    tm.tm_yday = rec.yday;
    char want[1024];
    size_t wn = strftime_l(want, sizeof want, theirs.c_str(), &tm, gl);
    std::string expect(want, wn);
    char got[1024];
    loc->error = 0;
    int32_t n = gl_mbsftime(loc, got, sizeof got, ours.c_str(), &rec);
    std::string label = std::string(c.file) + " '" + Hex(ours) + "' " +
                        std::to_string(rec.year + 1900) + "-" + std::to_string(rec.month + 1) +
                        "-" + std::to_string(rec.mday) + " " + std::to_string(rec.hour) + ":" +
                        std::to_string(rec.minute) + ":" + std::to_string(rec.second);
    std::string result = n > 0 ? std::string(got, static_cast<size_t>(n)) : std::string();
    if (result == expect && (n > 0 || expect.empty())) {
      ++passed;
    } else {
      Fail("gl_mbsftime " + label + ": ours " + Hex(result) + " (error " +
           std::to_string(loc->error) + "), C library " + Hex(expect));
    }
    // The wide engine gives the same text.
    GlWchar wfmt[1024], wout[1024];
    int32_t wl = loc->mbstowcs(loc, wfmt, ours.c_str(), 1024);
    int32_t wn2 = wl >= 0 ? gl_wcsftime(loc, wout, 1024, wfmt, &rec) : -1;
    char back[4096];
    int32_t bn = wn2 >= 0 ? gl_full_wcstombs(loc, back, wout, sizeof back) : -1;
    if (bn >= 0 && std::string(back, static_cast<size_t>(bn)) == expect) {
      ++passed;
    } else {
      Fail("gl_wcsftime " + label);
    }
    // The expansion bound holds.
    int32_t bound = gl_mbsfmtexpand(loc, 1, ours.c_str());
    if (bound >= n) {
      ++passed;
    } else {
      Fail("gl_mbsfmtexpand " + label + ": bound " + std::to_string(bound) + " below " +
           std::to_string(n));
    }
  }
  freelocale(gl);
  gl_lc_unload(loc);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: strftime_oracle LC11_DIRECTORY\n");
    return 2;
  }
  char tmpl[] = "/tmp/strftime_oracle_XXXXXX";
  if (mkdtemp(tmpl) == nullptr) return 2;
  std::string tmp = tmpl;
  setenv("LOCPATH", tmp.c_str(), 1);
  const Case cases[] = {
      {"en_us/0333.lco", "en_US", "ISO-8859-1", {"x", " - ", "Date: ", "/", "~!"}},
      {"de_de/0333.lco", "de_DE", "ISO-8859-1", {"Uhr ", "\xe4", ".", " "}},
      {"ja_jp/e006.lco", "ja_JP", "SHIFT_JIS", {"\x94\x4e", "\x8c\x8e", " ", "T"}},
  };
  std::mt19937 rng(20261210);
  for (const Case &c : cases) RunLocale(c, argv[1], tmp, rng);
  std::string rm = "rm -rf " + tmp;
  if (system(rm.c_str()) < 0) return 2;
  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
