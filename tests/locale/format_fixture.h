// Whole generated locales for the formatting tests, and the same locales of
// the C library, compiled with localedef into a temporary directory, as
// oracles.
#pragma once

#include <locale.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "locale/core/gl_lco.h"
#include "locale/core/gl_locale.h"
#include "locale/core/gl_refresh.h"
#include "tests/locale/lco_fixture.h"

// The C library keeps the search path it splits out of LOCPATH for good.
extern "C" __attribute__((visibility("default"), used)) const char *
__lsan_default_suppressions() {
  return "leak:__argz_create_sep\nleak:__argz_add_sep\n";
}

namespace fmttest {

// A generated locale-object file (path below lxr/lc11) with all its
// categories, loaded once per program.
inline GlLocale *Whole(const std::string &file) {
  static std::map<std::string, lcotest::LocalePtr> cache;
  auto it = cache.find(file);
  if (it != cache.end()) return it->second.get();
  lcotest::UseBuildTree();
  GlLocale *loc = nullptr;
  EXPECT_EQ(0, gl_create_null_locale_4(&loc));
  std::string path = tevtest::BuildTree() + "/lxr/lc11/" + file;
  FILE *f = fopen(path.c_str(), "re");
  if (f == nullptr) {
    ADD_FAILURE() << "missing " << path;
    return loc;
  }
  EXPECT_EQ(0, _gl_lco_read_all(f, loc)) << file << " error " << loc->error;
  fclose(f);
  EXPECT_EQ(0, _gl_locale_refresh(loc)) << file << " error " << loc->error;
  return cache.emplace(file, lcotest::LocalePtr(loc)).first->second.get();
}

inline GlLocale *EnUs() { return Whole("en_us/0333.lco"); }
inline GlLocale *EnUsUtf8() { return Whole("en_us/e01c.lco"); }
inline GlLocale *DeDe() { return Whole("de_de/0333.lco"); }
inline GlLocale *JaJp() { return Whole("ja_jp/e006.lco"); }

// C-library locales compiled with localedef into one temporary directory
// per program; freed and removed at exit.
class GlibcLocales {
 public:
  ~GlibcLocales() {
    for (auto &m : made_) {
      if (m.second != static_cast<locale_t>(nullptr)) freelocale(m.second);
    }
    if (!dir_.empty()) {
      std::string cmd = "rm -rf " + dir_;
      int rc = system(cmd.c_str());
      (void)rc;
    }
  }
  locale_t Get(const std::string &source, const std::string &charmap) {
    std::string name = source + "." + charmap;
    auto it = made_.find(name);
    if (it != made_.end()) return it->second;
    if (dir_.empty()) {
      char tmpl[] = "/tmp/fmt_locales_XXXXXX";
      if (mkdtemp(tmpl) == nullptr) return static_cast<locale_t>(nullptr);
      dir_ = tmpl;
      setenv("LOCPATH", dir_.c_str(), 1);
    }
    std::string cmd = "localedef --no-warnings=ascii -i " + source + " -f " + charmap + " " +
                      dir_ + "/" + name + " >/dev/null 2>&1";
    int rc = system(cmd.c_str());
    (void)rc;
    locale_t l = newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(nullptr));
    made_[name] = l;
    return l;
  }

 private:
  std::string dir_;
  std::map<std::string, locale_t> made_;
};

// A C-library locale (source, charmap); (locale_t)0 when it cannot be made.
inline locale_t Glibc(const std::string &source, const std::string &charmap) {
  static GlibcLocales locales;
  return locales.Get(source, charmap);
}

// Wide text of ASCII.
inline std::vector<GlWchar> W(const std::string &s) {
  std::vector<GlWchar> w(s.begin(), s.end());
  for (auto &c : w) c &= 0xff;
  w.push_back(0);
  return w;
}

inline std::string Narrow(const GlWchar *w) {
  std::string s;
  while (*w != 0) s.push_back(static_cast<char>(*w++));
  return s;
}

// Replaces a locale text (both forms) for the life of the object.
class TextSwap {
 public:
  TextSwap(GlText *t, const std::string &mb) : t_(t), saved_(*t) {
    mb_ = mb;
    mb_.append(4, '\0');
    wc_ = W(mb);
    t->mb = mb_.data();
    t->wc = wc_.data();
  }
  ~TextSwap() { *t_ = saved_; }
  TextSwap(const TextSwap &) = delete;
  TextSwap &operator=(const TextSwap &) = delete;

 private:
  GlText *t_;
  GlText saved_;
  std::string mb_;
  std::vector<GlWchar> wc_;
};

// Replaces a grouping list for the life of the object.
class GroupingSwap {
 public:
  GroupingSwap(int32_t *list, std::vector<int32_t> sizes) : list_(list) {
    memcpy(saved_, list, sizeof saved_);
    memset(list, 0, sizeof saved_);
    list[0] = static_cast<int32_t>(sizes.size());
    for (size_t i = 0; i < sizes.size(); ++i) list[i + 1] = sizes[i];
  }
  ~GroupingSwap() { memcpy(list_, saved_, sizeof saved_); }
  GroupingSwap(const GroupingSwap &) = delete;
  GroupingSwap &operator=(const GroupingSwap &) = delete;

 private:
  int32_t *list_;
  int32_t saved_[GL_INT_LIST_SIZE];
};

}  // namespace fmttest
