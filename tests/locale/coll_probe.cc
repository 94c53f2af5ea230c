// Compares strings with one locale-object file, for the differential test
// against the C library: "coll_probe LCO-FILE" reads lines "HEX1 HEX2" from
// standard input and writes one line per pair with four signs: the wide
// comparator, the general multibyte comparator, memcmp of the sort keys,
// and the locale's mbscoll slot.
#include <stdio.h>
#include <string.h>

#include <iostream>
#include <string>
#include <vector>

#include "locale/core/gl_lco.h"
#include "locale/core/gl_locale.h"
#include "locale/core/gl_refresh.h"
#include "locale/core/gl_sortkey.h"
#include "locale/core/gl_strcoll.h"

namespace {

std::string Unhex(const std::string &hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

int Sign(long v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

std::vector<GlWchar> Wide(GlLocale *loc, const std::string &s) {
  std::vector<GlWchar> w(s.size() + 1, 0);
  int32_t n = loc->mbstowcs(loc, w.data(), s.c_str(), static_cast<int32_t>(w.size()));
  w.resize(n < 0 ? 0 : static_cast<size_t>(n));
  w.push_back(0);
  return w;
}

std::string Key(GlLocale *loc, const std::string &s) {
  int32_t n = gl_full_mbsxfrm(loc, nullptr, s.c_str(), 0);
  if (n < 0) return std::string();
  std::string k(static_cast<size_t>(n) + 1, '\0');
  gl_full_mbsxfrm(loc, &k[0], s.c_str(), n + 1);
  k.resize(static_cast<size_t>(n));
  return k;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: coll_probe LCO-FILE\n");
    return 2;
  }
  GlLocale *loc = nullptr;
  FILE *f = fopen(argv[1], "re");
  if (f == nullptr || gl_create_null_locale_4(&loc) != 0 || _gl_lco_read_all(f, loc) != 0 ||
      _gl_locale_refresh(loc) != 0) {
    fprintf(stderr, "cannot load %s\n", argv[1]);
    return 1;
  }
  fclose(f);
  std::string line;
  while (std::getline(std::cin, line)) {
    size_t sp = line.find(' ');
    std::string a = Unhex(line.substr(0, sp)), b = Unhex(line.substr(sp + 1));
    std::vector<GlWchar> wa = Wide(loc, a), wb = Wide(loc, b);
    std::string ka = Key(loc, a), kb = Key(loc, b);
    int k = memcmp(ka.data(), kb.data(), std::min(ka.size(), kb.size()));
    if (k == 0) k = ka.size() < kb.size() ? -1 : ka.size() > kb.size() ? 1 : 0;
    printf("%d %d %d %d\n", Sign(gl_full_wcscoll(loc, wa.data(), wb.data())),
           Sign(_gl_im_mbscoll(loc, a.c_str(), b.c_str())), Sign(k),
           Sign(loc->mbscoll(loc, a.c_str(), b.c_str())));
  }
  gl_lc_unload(loc);
  return 0;
}
