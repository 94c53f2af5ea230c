// Damaged locale-object and conversion-object files: every generated file of
// a few kinds, cut at many lengths and with bytes changed at random, must
// load with an error or load and work; never read out of bounds, leak or
// crash (the test build runs under the address and leak checkers).
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <random>
#include <string>

#include <gtest/gtest.h>

#include "locale/core/gl_ctype.h"
#include "locale/core/gl_cvo.h"
#include "locale/core/gl_langinfo.h"
#include "locale/core/gl_locale.h"
#include "locale/core/gl_mbchar.h"
#include "locale/core/gl_registry.h"
#include "locale/core/gl_setlocale.h"
#include "tests/support/test_support.h"

namespace {

// Longer runs: TEV_DAMAGE_SEED and TEV_DAMAGE_FLIPS in the environment.
uint32_t FromEnv(const char *name, uint32_t fallback) {
  const char *v = getenv(name);
  return v != nullptr ? static_cast<uint32_t>(strtoul(v, nullptr, 10)) : fallback;
}
const uint32_t kSeed = FromEnv("TEV_DAMAGE_SEED", 20261210);
const int kFlipsPerFile = static_cast<int>(FromEnv("TEV_DAMAGE_FLIPS", 300));

std::string ReadTree(const std::string &rel) {
  std::string path = tevtest::BuildTree() + "/" + rel;
  FILE *f = fopen(path.c_str(), "rbe");
  if (f == nullptr) return {};
  std::string data;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, n);
  fclose(f);
  return data;
}

// The damaged variants of one file: cuts at a spread of lengths (every
// length for small files), then single and double byte changes.
template <typename Fn>
void ForEachDamage(const std::string &data, Fn fn) {
  size_t step = data.size() / 1500 + 1;
  for (size_t len = 0; len < data.size(); len += step) fn(data.substr(0, len));
  std::mt19937 rng(kSeed);
  const char kBytes[] = {'\0', '\n', ' ', '0', '9', 'f', 'z', '-', '\xff', '\x80'};
  for (int i = 0; i < kFlipsPerFile; ++i) {
    std::string d = data;
    int changes = 1 + static_cast<int>(rng() % 2);
    for (int k = 0; k < changes; ++k) {
      size_t at = rng() % d.size();
      d[at] = (rng() % 2 != 0) ? kBytes[rng() % sizeof kBytes]
                               : static_cast<char>(d[at] ^ (1u << (rng() % 8)));
    }
    fn(d);
  }
}

// Uses a loaded locale the way callers do: every byte through the character
// and class routines, upper-casing a text, the query items.
void Exercise(GlLocale *loc) {
  for (int b = 1; b < 256; ++b) {
    char s[5] = {static_cast<char>(b), 'a', 'b', 'c', '\0'};
    GlWchar wc = 0;
    gl_full_mblen(loc, s, 4);
    gl_full_mbtowc(loc, &wc, s, 4);
    _zel_gl_im_ismctype(loc, s, 4, 0xffff);
  }
  char upper[64];
  gl_tombsupper(loc, upper, "abc xyz");
  for (int32_t item = 0; item < 64; ++item) gl_nl_langinfo(loc, item);
}

TEST(DamagedFiles, LocaleObjects) {
  printf("seed %u\n", kSeed);
  setenv("TARVELONDIR", tevtest::BuildTree().c_str(), 1);
  unsetenv("GL_PATH");
  const char *files[] = {"lxr/lc11/en_us/0333.lco", "lxr/lc11/ja_jp/e006.lco",
                         "lxr/lc11/th_th/e01d.lco", "lxr/lc11/xx_yy/e020.lco",
                         "lxr/lc11/he_il/0394.lco", "lxr/lc11/ar_sa/0441.lco"};
  tevtest::TempInstall tmp;
  std::string dir = tmp.path() + "/";
  for (const char *rel : files) {
    std::string data = ReadTree(rel);
    ASSERT_FALSE(data.empty()) << rel;
    int loaded = 0, refused = 0;
    ForEachDamage(data, [&](const std::string &d) {
      tmp.WriteFile("default.lco", d);
      GlLocale *loc = nullptr;
      if (gl_createlocale2_4(&loc, dir.c_str()) == 0) {
        ++loaded;
        Exercise(loc);
      } else {
        ++refused;
      }
      gl_lc_unload(loc);
    });
    printf("%s: %d loaded, %d refused\n", rel, loaded, refused);
    EXPECT_GT(refused, 0) << rel;
  }
}

TEST(DamagedFiles, ConversionObjects) {
  printf("seed %u\n", kSeed);
  setenv("TARVELONDIR", tevtest::BuildTree().c_str(), 1);
  const char *files[] = {"lxr/cv9/0333e01c.cvo", "lxr/cv9/033304e4.cvo",
                         "lxr/cv9/e0050333.cvo", "lxr/cv9/e01de01c.cvo",
                         "lxr/cv9/0333e005.cvo"};
  tevtest::TempInstall tmp;
  std::string path = tmp.Path("t.cvo");
  std::string text;
  for (int b = 1; b < 256; ++b) text += static_cast<char>(b);
  for (const char *rel : files) {
    std::string data = ReadTree(rel);
    ASSERT_FALSE(data.empty()) << rel;
    int loaded = 0, refused = 0;
    ForEachDamage(data, [&](const std::string &d) {
      tmp.WriteFile("t.cvo", d);
      GlConverter *cv = nullptr;
      if (gl_iconv_open1(&cv, path.c_str()) == 0) {
        ++loaded;
        std::string out(text.size() * 8, '\0');
        const char *ip = text.data();
        auto len = static_cast<int32_t>(text.size());
        char *op = out.data();
        auto room = static_cast<uint32_t>(out.size());
        int32_t subst = 0;
        gl_cv_mconv(cv, nullptr, &ip, &len, &op, &room, &subst);
      } else {
        ++refused;
      }
      gl_cv_unload(cv);
    });
    printf("%s: %d loaded, %d refused\n", rel, loaded, refused);
    EXPECT_GT(refused, 0) << rel;
  }
}

// The code-set registry, cached and scanned: a damaged file gives names
// their numbers or the unknown number, and nothing else.
TEST(DamagedFiles, Registry) {
  printf("seed %u\n", kSeed);
  std::string data = ReadTree("lxr/cm3/registry");
  ASSERT_FALSE(data.empty());
  tevtest::TempInstall tmp;
  std::string path = tmp.Path("registry");
  const char *names[] = {"utf8", "8859-1", "sjis", "nosuchset", ""};
  ForEachDamage(data.substr(0, 2000), [&](const std::string &d) {
    tmp.WriteFile("registry", d);
    for (const char *name : names) gl_cs_name2cs_num(nullptr, name, path.c_str());
    gl_cache_registry(nullptr, path.c_str());
    for (const char *name : names) gl_cs_name2cs_num(nullptr, name, path.c_str());
    gl_free_registry_cache();
  });
}

}  // namespace
