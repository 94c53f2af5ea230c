// The number and money engines against the C library in the same locales
// (en_US and de_DE in ISO-8859-1, compiled with localedef into a temporary
// directory): gl_mbsprintf and gl_wcsprintf against snprintf for random
// integer and floating conversions, gl_mbsscanf against sscanf for random
// inputs, gl_mbsfmon against strfmon for random amounts. The cases keep
// out of the places where this library means otherwise: zeros before a
// "0x" prefix, a zero precision of a zero value, "#o" of 0, the '0' flag
// beside a precision or after '-', '+' and ' ' on unsigned letters and
// grouping outside d, i, u and f or beside an integer precision (which
// counts digits here, digits and separators there); in scanning, i reads base 10,
// the text never ends before the format and every field meets its own token; in money, amounts whose rounding
// digit is a tie (the "%f" text is rounded half up here, the binary value
// there) and alignment by left precision.
// Prints its seed and failures and ends with "N passed, M failed".
//
// usage: numfmt_oracle LC11_DIRECTORY [SEED]
#include <ctype.h>
#include <langinfo.h>
#include <locale.h>
#include <stdarg.h>
#include <monetary.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "locale/core/gl_lco.h"
#include "locale/core/gl_locale.h"
#include "locale/core/gl_refresh.h"
#include "locale/format/gl_fmon.h"
#include "locale/format/gl_printf.h"
#include "locale/format/gl_scanf.h"

// The C library keeps the search path it splits out of LOCPATH for good.
extern "C" __attribute__((visibility("default"), used)) const char *
__lsan_default_suppressions() {
  return "leak:__argz_create_sep\nleak:__argz_add_sep\n";
}

namespace {

int passed = 0, failed = 0;

void Check(bool ok, const std::string &what) {
  if (ok) {
    ++passed;
    return;
  }
  ++failed;
  if (failed <= 40) printf("FAIL: %s\n", what.c_str());
}

GlLocale *Load(const std::string &path) {
  GlLocale *loc = nullptr;
  if (gl_create_null_locale_4(&loc) != 0) return nullptr;
  FILE *f = fopen(path.c_str(), "re");
  if (f == nullptr) {
    gl_lc_unload(loc);
    return nullptr;
  }
  int32_t rc = _gl_lco_read_all(f, loc);
  fclose(f);
  if (rc != 0 || _gl_locale_refresh(loc) != 0) {
    gl_lc_unload(loc);
    return nullptr;
  }
  return loc;
}

struct Env {
  GlLocale *gl;
  locale_t c;
  std::string name;
  std::mt19937_64 &rng;
  uint64_t Below(uint64_t n) { return rng() % n; }
  bool OneIn(uint64_t n) { return rng() % n == 0; }
};

// snprintf, sscanf and strfmon under the C library's locale.
struct InLocale {
  locale_t old;
  explicit InLocale(locale_t l) : old(uselocale(l)) {}
  ~InLocale() { uselocale(old); }
};

std::string Glibc(locale_t l, const std::string &fmt, ...) {
  char out[512];
  va_list ap;
  va_start(ap, fmt);
  {
    InLocale in(l);
    vsnprintf(out, sizeof out, fmt.c_str(), ap);
  }
  va_end(ap);
  return out;
}

std::string Narrow(const GlWchar *w) {
  std::string s;
  while (*w != 0) s.push_back(static_cast<char>(*w++ & 0xff));
  return s;
}

std::vector<GlWchar> Wide(const std::string &s) {
  std::vector<GlWchar> w;
  for (unsigned char c : s) w.push_back(c);
  w.push_back(0);
  return w;
}

template <typename T>
void CompareInteger(Env &e, const std::string &ours, const std::string &theirs, T value) {
  char out[512];
  int32_t r = gl_mbsprintf(e.gl, out, sizeof out, ours.c_str(), value);
  std::string want = Glibc(e.c, theirs, value);
  std::string got = r < 0 ? "-1/" + std::to_string(e.gl->error) : out;
  Check(got == want, e.name + " \"" + ours + "\" of " + std::to_string(value) + ": got [" +
                         got + "] want [" + want + "]");
  GlWchar wout[512];
  auto wf = Wide(ours);
  r = gl_wcsprintf(e.gl, wout, 512, wf.data(), value);
  got = r < 0 ? "-1" : Narrow(wout);
  Check(got == want, e.name + " wide \"" + ours + "\": got [" + got + "] want [" + want + "]");
}

void IntegerCases(Env &e) {
  const char letters[] = "diuoxX";
  for (int i = 0; i < 4000; ++i) {
    char letter = letters[e.Below(6)];
    bool is_signed = letter == 'd' || letter == 'i';
    bool hex = letter == 'x' || letter == 'X';
    int64_t v = static_cast<int64_t>(e.rng());
    v >>= e.Below(64);
    if (e.OneIn(10)) v = 0;
    int32_t precision = e.OneIn(2) ? -1 : static_cast<int32_t>(e.Below(20));
    int32_t width = e.OneIn(3) ? 0 : static_cast<int32_t>(1 + e.Below(28));
    std::string flags;
    if (e.OneIn(3)) flags += '-';
    if (is_signed && e.OneIn(3)) flags += '+';
    if (is_signed && e.OneIn(4)) flags += ' ';
    if (!is_signed && !hex && letter != 'u' && e.OneIn(3)) flags += '#';
    if (hex && e.OneIn(3)) flags += '#';
    if ((is_signed || letter == 'u') && precision == -1 && e.OneIn(2)) flags += '\'';
    bool alt = flags.find('#') != std::string::npos;
    if (flags.find('-') == std::string::npos && precision == -1 && !(hex && alt) &&
        e.OneIn(3)) {
      flags += '0';
    }
    int length = static_cast<int>(e.Below(5));  // none h hh l ll
    static const char *const ours_len[] = {"", "h", "hh", "l", "ll"};
    static const char *const glibc_len[] = {"", "h", "hh", "", "ll"};
    std::string spec = flags + (width > 0 ? std::to_string(width) : "") +
                       (precision >= 0 ? "." + std::to_string(precision) : "");
    std::string ours = "<%" + spec + ours_len[length] + letter + ">";
    std::string theirs = "<%" + spec + glibc_len[length] + letter + ">";
    int64_t shown = v;  // the value as the conversion sees it
    switch (length) {
      case 1: shown = is_signed ? static_cast<int16_t>(v) : static_cast<uint16_t>(v); break;
      case 2: shown = is_signed ? static_cast<int8_t>(v) : static_cast<uint8_t>(v); break;
      case 0:
      case 3: shown = is_signed ? static_cast<int32_t>(v) : static_cast<uint32_t>(v); break;
      default: break;
    }
    if (shown == 0 && (precision == 0 || (alt && letter == 'o') || (alt && hex))) continue;
    if (length == 4) {
      CompareInteger(e, ours, theirs, static_cast<long long>(v));
    } else {
      CompareInteger(e, ours, theirs, static_cast<int>(v));
    }
  }
}

void FloatCases(Env &e) {
  const char letters[] = "eEfgG";
  for (int i = 0; i < 4000; ++i) {
    char letter = letters[e.Below(5)];
    double mant = static_cast<double>(e.rng() % 100000000) / 1000.0;
    int ex = static_cast<int>(e.Below(24)) - 12;
    double x = mant;
    for (int k = 0; k < ex; ++k) x *= 10;
    for (int k = 0; k > ex; --k) x /= 10;
    if (e.OneIn(2)) x = -x;
    if (e.OneIn(20)) x = 0;
    int32_t precision = e.OneIn(3) ? -1 : static_cast<int32_t>(e.Below(12));
    int32_t width = e.OneIn(3) ? 0 : static_cast<int32_t>(1 + e.Below(30));
    std::string flags;
    if (e.OneIn(3)) flags += '-';
    if (e.OneIn(3)) flags += '+';
    if (e.OneIn(4)) flags += ' ';
    if (e.OneIn(4)) flags += '#';
    bool group = letter == 'f' && e.OneIn(2);
    if (group) flags += '\'';
    if (!group && flags.find('-') == std::string::npos && e.OneIn(3)) flags += '0';
    std::string f = "[%" + flags + (width > 0 ? std::to_string(width) : "") +
                    (precision >= 0 ? "." + std::to_string(precision) : "") + letter + "]";
    char out[512];
    int32_t r = gl_mbsprintf(e.gl, out, sizeof out, f.c_str(), x);
    std::string want = Glibc(e.c, f, x);
    std::string got = r < 0 ? "-1/" + std::to_string(e.gl->error) : out;
    char xs[64];
    snprintf(xs, sizeof xs, "%.17g", x);
    Check(got == want, e.name + " \"" + f + "\" of " + xs + ": got [" + got + "] want [" +
                           want + "]");
    GlWchar wout[512];
    auto wf = Wide(f);
    r = gl_wcsprintf(e.gl, wout, 512, wf.data(), x);
    got = r < 0 ? "-1" : Narrow(wout);
    Check(got == want, e.name + " wide \"" + f + "\": got [" + got + "] want [" + want + "]");
  }
}

std::string Digits(Env &e, uint64_t value, int base) {
  std::string s;
  do {
    s.insert(s.begin(), "0123456789abcdef"[value % static_cast<uint64_t>(base)]);
    value /= static_cast<uint64_t>(base);
  } while (value != 0);
  if (base == 16 && e.OneIn(2)) {
    for (char &c : s) c = static_cast<char>(toupper(c));
  }
  return s;
}

std::string Grouped(const std::string &digits, const std::string &sep) {
  std::string s;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) s += sep;
    s += digits[i];
  }
  return s;
}

union Slot {
  int32_t i;
  double d;
  char s[64];
};

// Random inputs under %d %i %x %o %f %'f %s %*d %2s.
void ScanCases(Env &e) {
  std::string point = nl_langinfo_l(RADIXCHAR, e.c);
  std::string sep = nl_langinfo_l(THOUSEP, e.c);
  const char *const kinds[] = {"d", "i", "x", "o", "f", "'f", "s", "*d", "2s"};
  for (int i = 0; i < 3000; ++i) {
    int n = 1 + static_cast<int>(e.Below(4));
    std::string input, format, theirs_format;  // the C library stores a double with lf
    std::vector<char> types;  // of the assigned conversions: i, d or s
    for (int k = 0; k < n; ++k) {
      std::string kind = kinds[e.Below(9)];
      std::string token;
      uint64_t magnitude = e.rng() >> (33 + e.Below(31));
      bool minus = e.OneIn(3);
      if (kind == "d" || kind == "*d" || kind == "i") {
        token = (minus ? "-" : (e.OneIn(6) ? "+" : "")) + std::to_string(magnitude);
      } else if (kind == "x") {
        token = (minus ? "-" : "") + Digits(e, magnitude, 16);
      } else if (kind == "o") {
        token = (minus ? "-" : "") + Digits(e, magnitude, 8);
      } else if (kind == "f" || kind == "'f") {
        std::string ip = std::to_string(e.rng() % (e.OneIn(2) ? 1000 : 100000000));
        if (kind == "'f") ip = Grouped(ip, sep);
        token = (minus ? "-" : "") + ip;
        if (!e.OneIn(4)) token += point + std::to_string(e.Below(100000));
        if (e.OneIn(5)) token += "e" + std::to_string(static_cast<int>(e.Below(20)) - 10);
      } else {
        // A %2s word is never longer than 2 letters: what it left would
        // shift the later fields onto other tokens, where the libraries
        // differ on purpose ("inf" and "nan" are no numbers here, a long
        // ungrouped number fails a grouped field, "2e" is not cut to 2).
        int len = 1 + static_cast<int>(e.Below(kind == "2s" ? 2 : 8));
        for (int c = 0; c < len; ++c) token += static_cast<char>('a' + e.Below(26));
      }
      if (k > 0) {
        input += ' ';
        format += ' ';
        theirs_format += ' ';
      }
      input += token;
      format += "%" + kind;
      theirs_format += "%" + (kind.back() == 'f' ? kind.substr(0, kind.size() - 1) + "lf" : kind);
      if (kind[0] != '*') types.push_back(kind.back() == 's' ? 's' : kind.back() == 'f' ? 'd' : 'i');
    }
    Slot ours[4], theirs[4];
    memset(ours, 0, sizeof ours);
    memset(theirs, 0, sizeof theirs);
    int32_t r = gl_mbsscanf(e.gl, input.c_str(), format.c_str(), &ours[0], &ours[1], &ours[2],
                            &ours[3]);
    int want;
    {
      InLocale in(e.c);
      want = sscanf(input.c_str(), theirs_format.c_str(), &theirs[0], &theirs[1], &theirs[2],
                    &theirs[3]);
    }
    bool same = r == want;
    for (int k = 0; same && k < want && k < static_cast<int>(types.size()); ++k) {
      switch (types[k]) {
        case 'i': same = ours[k].i == theirs[k].i; break;
        case 'd': same = ours[k].d == theirs[k].d; break;
        default: same = strcmp(ours[k].s, theirs[k].s) == 0; break;
      }
    }
    Slot wide[4];
    memset(wide, 0, sizeof wide);
    auto win = Wide(input);
    auto wformat = Wide(format);
    int32_t wr = gl_wcsscanf(e.gl, win.data(), wformat.data(), &wide[0], &wide[1], &wide[2],
                             &wide[3]);
    same = same && wr == r && memcmp(wide, ours, sizeof wide) == 0;
    Check(same, e.name + " scan \"" + format + "\" of [" + input + "]: got " +
                    std::to_string(r) + " want " + std::to_string(want));
  }
}

// Random amounts under strfmon's formats; the rounding digit is never a tie.
void MoneyCases(Env &e, bool symbol_free) {
  std::vector<std::string> formats = {"%n", "%^n", "%.0n", "%12n", "%-12n", "<%n|%n>"};
  if (symbol_free) formats.push_back("%!n");
  for (int i = 0; i < 3000; ++i) {
    int64_t k = static_cast<int64_t>(e.rng() >> (20 + e.Below(40)));
    if (k % 10 == 5 || k % 1000 == 500) ++k;
    double x = static_cast<double>(k) / 1000.0;
    if (k != 0 && e.OneIn(2)) x = -x;  // a negative zero is shown positive here
    const std::string &f = formats[e.Below(formats.size())];
    char ours[256], theirs[256];
    e.gl->error = 0;
    int32_t r = gl_mbsfmon(e.gl, ours, sizeof ours, f.c_str(), x, x);
    ssize_t want = strfmon_l(theirs, sizeof theirs, e.c, f.c_str(), x, x);
    std::string got = r < 0 ? "-1/" + std::to_string(e.gl->error) : ours;
    std::string w = want < 0 ? "-1" : theirs;
    char xs[64];
    snprintf(xs, sizeof xs, "%.3f", x);
    Check(got == w, e.name + " money \"" + f + "\" of " + xs + ": got [" + got + "] want [" +
                        w + "]");
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: numfmt_oracle LC11_DIRECTORY [SEED]\n");
    return 2;
  }
  unsigned seed = argc > 2 ? static_cast<unsigned>(strtoul(argv[2], nullptr, 10))
                           : std::random_device{}();
  printf("seed %u\n", seed);
  std::mt19937_64 rng(seed);
  char tmpl[] = "/tmp/numfmt_oracle_XXXXXX";
  if (mkdtemp(tmpl) == nullptr) return 2;
  std::string tmp = tmpl;
  setenv("LOCPATH", tmp.c_str(), 1);
  struct Where {
    const char *file, *source;
  } where[] = {{"en_us/0333.lco", "en_US"}, {"de_de/0333.lco", "de_DE"}};
  for (const Where &w : where) {
    std::string name = std::string(w.source) + ".ISO-8859-1";
    std::string cmd = "localedef --no-warnings=ascii -i " + std::string(w.source) +
                      " -f ISO-8859-1 " + tmp + "/" + name + " >/dev/null 2>&1";
    int rc = system(cmd.c_str());
    (void)rc;
    locale_t c = newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(nullptr));
    GlLocale *gl = Load(std::string(argv[1]) + "/" + w.file);
    if (c == static_cast<locale_t>(nullptr) || gl == nullptr) {
      Check(false, std::string("cannot load ") + w.file + " or " + name);
    } else {
      Env e{gl, c, w.file, rng};
      IntegerCases(e);
      FloatCases(e);
      ScanCases(e);
      MoneyCases(e, std::string(w.source) == "en_US");
    }
    if (c != static_cast<locale_t>(nullptr)) freelocale(c);
    if (gl != nullptr) gl_lc_unload(gl);
  }
  std::string rm = "rm -rf " + tmp;
  if (system(rm.c_str()) < 0) return 2;
  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
