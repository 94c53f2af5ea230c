// Locales for the character tests: the generated locale-object files of the
// build tree, loaded through the LC_CTYPE reader, and hand-made files.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "locale/core/gl_lco.h"
#include "locale/core/gl_locale.h"
#include "locale/core/gl_refresh.h"
#include "tests/support/test_support.h"

namespace lcotest {

struct LocaleDeleter {
  void operator()(GlLocale *loc) const { gl_lc_unload(loc); }
};
using LocalePtr = std::unique_ptr<GlLocale, LocaleDeleter>;

// A stream over text, read through the default hooks.
inline FILE *Stream(const std::string &text) {
  FILE *f = tmpfile();
  fwrite(text.data(), 1, text.size(), f);
  rewind(f);
  return f;
}

// Code-set names are looked up in the build tree's registry.
inline void UseBuildTree() { setenv("TARVELONDIR", tevtest::BuildTree().c_str(), 1); }

// Loads LC_CTYPE of a file into a fresh null locale and refreshes it. The
// result code of the reader is in *rc when given.
inline LocalePtr LoadCtype(FILE *f, int32_t *rc = nullptr) {
  UseBuildTree();
  GlLocale *loc = nullptr;
  EXPECT_EQ(0, gl_create_null_locale_4(&loc));
  int32_t r = _gl_lco_read_category(loc, GL_CTYPE, f);
  if (rc != nullptr) *rc = r;
  if (r == 0) {
    EXPECT_EQ(0, _gl_locale_refresh(loc)) << "error " << loc->error;
  }
  return LocalePtr(loc);
}

// A generated locale-object file below lxr/lc11, all six categories read
// and the locale refreshed.
inline LocalePtr LoadWhole(const std::string &rel) {
  UseBuildTree();
  GlLocale *loc = nullptr;
  EXPECT_EQ(0, gl_create_null_locale_4(&loc));
  FILE *f = fopen((tevtest::BuildTree() + "/lxr/lc11/" + rel).c_str(), "re");
  EXPECT_NE(nullptr, f) << rel;
  if (f != nullptr) {
    EXPECT_EQ(0, _gl_lco_read_all(f, loc)) << rel << " error " << loc->error;
    fclose(f);
    EXPECT_EQ(0, _gl_locale_refresh(loc)) << rel;
  }
  return LocalePtr(loc);
}

// The generated locale of a code set, by its file below lxr/lc11.
inline const char *FileOf(const std::string &codeset) {
  static const std::map<std::string, const char *> files = {
      {"8859-1", "en_us/0333.lco"}, {"utf8", "en_us/e01c.lco"}, {"sjis", "ja_jp/e006.lco"},
      {"thai620", "th_th/e01d.lco"}, {"tst", "xx_yy/e020.lco"}};
  return files.at(codeset);
}

inline std::string TreeFile(const std::string &codeset) {
  return tevtest::BuildTree() + "/lxr/lc11/" + FileOf(codeset);
}

// The generated locale of a code set, loaded once per test program.
inline GlLocale *Generated(const std::string &codeset) {
  static std::map<std::string, LocalePtr> cache;
  auto it = cache.find(codeset);
  if (it != cache.end()) return it->second.get();
  FILE *f = fopen(TreeFile(codeset).c_str(), "re");
  if (f == nullptr) {
    ADD_FAILURE() << "missing " << TreeFile(codeset);
    return nullptr;
  }
  int32_t rc = -1;
  LocalePtr loc = LoadCtype(f, &rc);
  fclose(f);
  EXPECT_EQ(0, rc) << codeset << " error " << loc->error;
  return cache.emplace(codeset, std::move(loc)).first->second.get();
}

}  // namespace lcotest
