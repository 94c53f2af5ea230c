// Sorting random Latin-1 strings (3 to 20 characters) under the collation
// of en_us.8859-1, against the C library in en_US.ISO-8859-1 built with
// localedef from the same source, in one run:
//   - comparator: std::sort with the locale's mbscoll slot / strcoll_l;
//   - keys: gl_full_mbsxfrm keys sorted by memcmp / strxfrm_l keys sorted
//     by strcmp (building the keys included).
// Each side runs three rounds, alternating, and its fastest counts. Prints
// the times and the ratios (C library time / ours: above 1 means faster
// than the C library).
//
//   bench_collate [N]        N = 1,000,000; TARVELONDIR names the tree
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "locale/core/gl_lco.h"
#include "locale/core/gl_locale.h"
#include "locale/core/gl_refresh.h"
#include "locale/core/gl_sortkey.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

GlLocale *LoadOurs() {
  const char *tree = getenv("TARVELONDIR");
  std::string dir = tree != nullptr ? tree : TEV_TREE;
  setenv("TARVELONDIR", dir.c_str(), 1);
  std::string path = dir + "/lxr/lc11/en_us/0333.lco";
  FILE *f = fopen(path.c_str(), "re");
  GlLocale *loc = nullptr;
  if (f == nullptr || gl_create_null_locale_4(&loc) != 0 || _gl_lco_read_all(f, loc) != 0 ||
      _gl_locale_refresh(loc) != 0) {
    fprintf(stderr, "cannot load %s\n", path.c_str());
    exit(1);
  }
  fclose(f);
  return loc;
}

locale_t LoadTheirs(std::string *dir) {
  char tmpl[] = "/tmp/bench_collate.XXXXXX";
  if (mkdtemp(tmpl) == nullptr) exit(1);
  *dir = tmpl;
  std::string cmd = "localedef -i en_US -f ISO-8859-1 " + *dir + "/en_US.ISO-8859-1";
  if (system(cmd.c_str()) != 0) {
    fprintf(stderr, "localedef failed\n");
    exit(1);
  }
  setenv("LOCPATH", dir->c_str(), 1);
  locale_t c = newlocale(LC_COLLATE_MASK, "en_US.ISO-8859-1", nullptr);
  if (c == nullptr) exit(1);
  return c;
}

}  // namespace

int main(int argc, char **argv) {
  size_t n = argc > 1 ? strtoul(argv[1], nullptr, 10) : 1000000;
  GlLocale *loc = LoadOurs();
  std::string dir;
  locale_t c = LoadTheirs(&dir);

  std::vector<unsigned char> alphabet;
  for (int b = 0x20; b < 0x7F; ++b) alphabet.push_back(static_cast<unsigned char>(b));
  for (int b = 0xA0; b <= 0xFF; ++b) alphabet.push_back(static_cast<unsigned char>(b));
  std::mt19937 rng(20261210);
  std::vector<std::string> words(n);
  for (std::string &w : words) {
    for (int k = 3 + static_cast<int>(rng() % 18); k > 0; --k) {
      w += static_cast<char>(alphabet[rng() % alphabet.size()]);
    }
  }

  // Each side runs kRounds times, the two alternating, and the fastest
  // round counts: the machine is shared, and a slow round says nothing of
  // either side.
  constexpr int kRounds = 3;
  double ours_cmp = 1e9, theirs_cmp = 1e9, ours_key = 1e9, theirs_key = 1e9;
  double ours_build = 1e9, theirs_build = 1e9, wide_build = 1e9;
  std::vector<const char *> a(n);
  for (int round = 0; round < kRounds; ++round) {
    auto t = std::chrono::steady_clock::now();
    for (size_t i = 0; i < n; ++i) a[i] = words[i].c_str();
    std::sort(a.begin(), a.end(),
              [loc](const char *x, const char *y) { return loc->mbscoll(loc, x, y) < 0; });
    ours_cmp = std::min(ours_cmp, Seconds(t));

    t = std::chrono::steady_clock::now();
    for (size_t i = 0; i < n; ++i) a[i] = words[i].c_str();
    std::sort(a.begin(), a.end(),
              [c](const char *x, const char *y) { return strcoll_l(x, y, c) < 0; });
    theirs_cmp = std::min(theirs_cmp, Seconds(t));

    // Keys go into one arena per side, so that allocation does not weigh.
    struct Span {
      size_t off, len;
    };
    std::vector<char> arena;
    // Touched beforehand, so that neither side pays for first-touch page
    // faults while building.
    arena.resize(n * 128);
    arena.clear();
    std::vector<Span> spans(n);
    t = std::chrono::steady_clock::now();
    for (size_t i = 0; i < n; ++i) {
      char buf[512];
      int32_t len = gl_full_mbsxfrm(loc, buf, words[i].c_str(), sizeof buf);
      spans[i] = {arena.size(), static_cast<size_t>(len)};
      arena.insert(arena.end(), buf, buf + len);
    }
    ours_build = std::min(ours_build, Seconds(t));
    std::sort(spans.begin(), spans.end(), [&arena](const Span &x, const Span &y) {
      int r = memcmp(arena.data() + x.off, arena.data() + y.off, std::min(x.len, y.len));
      return r != 0 ? r < 0 : x.len < y.len;
    });
    ours_key = std::min(ours_key, Seconds(t));
    // The same keys through the wide builder (the general weight cursor),
    // which single-byte strings took before the byte builder.
    {
      arena.clear();
      auto tw = std::chrono::steady_clock::now();
      for (size_t i = 0; i < n; ++i) {
        GlWchar wide[32];
        int32_t wn = loc->mbstowcs(loc, wide, words[i].c_str(), 31);
        wide[wn < 0 ? 0 : wn] = 0;
        char buf[512];
        int32_t len = gl_wcsxfrm(loc, buf, wide, sizeof buf);
        arena.insert(arena.end(), buf, buf + len);
      }
      wide_build = std::min(wide_build, Seconds(tw));
    }

    std::vector<char> garena;
    garena.resize(n * 128);
    garena.clear();
    std::vector<size_t> offs(n);
    t = std::chrono::steady_clock::now();
    for (size_t i = 0; i < n; ++i) {
      char buf[2048];
      size_t len = strxfrm_l(buf, words[i].c_str(), sizeof buf, c);
      offs[i] = garena.size();
      garena.insert(garena.end(), buf, buf + std::min(len, sizeof buf - 1) + 1);
    }
    theirs_build = std::min(theirs_build, Seconds(t));
    std::sort(offs.begin(), offs.end(), [&garena](size_t x, size_t y) {
      return strcmp(garena.data() + x, garena.data() + y) < 0;
    });
    theirs_key = std::min(theirs_key, Seconds(t));
  }

  printf("%zu strings\n", n);
  printf("comparator  ours %.3f s  C library %.3f s  ratio %.2f\n", ours_cmp, theirs_cmp,
         theirs_cmp / ours_cmp);
  printf("sort keys   ours %.3f s  C library %.3f s  ratio %.2f\n", ours_key, theirs_key,
         theirs_key / ours_key);
  printf("  of which building the keys: ours %.3f s  C library %.3f s\n", ours_build,
         theirs_build);
  printf("  the wide builder alone: %.3f s  ratio %.2f\n", wide_build, theirs_build / wide_build);
  freelocale(c);
  gl_lc_unload(loc);
  std::string rm = "rm -rf " + dir;
  return system(rm.c_str()) == 0 ? 0 : 1;
}
