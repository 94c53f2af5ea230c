// Sets locales in a process of its own, so that the ICU back end and the
// locale cache start from the state of a fresh program.
//
//   setlocale_probe CAPABLE STEP...
//     set:CATEGORY:TEXT   gl_setlocale_4 on the probe's locale (created
//                         empty at start); prints
//                         "set <cat> result=<result|NULL> error=<e>" and
//                         "icu <inuse>:<ICU locale name or -> x6 kind=<coll_kind>"
//     load:SPEC           gl_lc_load; prints "load rc=<rc> #<n>" where n is
//                         the first load that gave the same object
//     dump                _gl_lc_dump
//     coll                the collation calls that go to the ICU wrapper;
//                         prints "<call> r=<result> error=<e>" for each
//     width:HEX           gl_mbwidth of the character in hex; prints
//                         "width <hex> w=<width> error=<e>"
// At the end every load and the probe's locale are unloaded, then "end".
// With LXRDEBUG=on the library's debug log appears on standard output too.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "locale/core/gl_collbound.h"
#include "locale/core/gl_icu.h"
#include "locale/core/gl_locale.h"
#include "locale/core/gl_setlocale.h"
#include "locale/core/gl_sortkey.h"
#include "locale/core/gl_strcoll.h"
#include "locale/core/gl_support.h"
#include "locale/core/gl_width.h"

namespace {

void PrintIcu(GlLocale *loc) {
  std::string line = "icu";
  for (int c = 0; c < GL_NCATEGORIES; ++c) {
    line += " " + std::to_string(loc->icu_in_use[c]) + ":";
    line += loc->icu_locale[c] != nullptr ? glx_getICULocName(loc->icu_locale[c]) : "-";
  }
  printf("%s kind=%d\n", line.c_str(), loc->coll_kind);
}

}  // namespace

int main(int argc, char **argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  if (argc < 2) {
    fprintf(stderr, "usage: setlocale_probe CAPABLE STEP...\n");
    return 2;
  }
  gl_useglu(atoi(argv[1]));
  GlLocale *loc = nullptr;
  if (gl_create_null_locale_4(&loc) != 0) return 1;
  std::vector<GlLocale *> loaded;
  for (int i = 2; i < argc; ++i) {
    std::string step = argv[i];
    if (step.rfind("set:", 0) == 0) {
      int cat = atoi(step.c_str() + 4);
      size_t colon = step.find(':', 4);
      std::string text = colon == std::string::npos ? "" : step.substr(colon + 1);
      char *r = gl_setlocale_4(loc, cat, text == "NULL" ? nullptr : text.c_str());
      printf("set %d result=%s error=%d\n", cat, r != nullptr ? r : "NULL", loc->error);
      gl_destroystring(r);
      PrintIcu(loc);
    } else if (step.rfind("load:", 0) == 0) {
      GlLocale *l = nullptr;
      int32_t rc = gl_lc_load(&l, step.c_str() + 5, nullptr, nullptr);
      size_t first = 0;
      while (first < loaded.size() && loaded[first] != l) ++first;
      printf("load rc=%d #%zu\n", rc, first);
      loaded.push_back(l);
    } else if (step == "dump") {
      _gl_lc_dump();
    } else if (step == "coll") {
      GlWchar a[] = {'a', 0}, b[] = {'b', 0};
      char out[32];
      loc->error = 0;
      int32_t r = gl_full_wcscoll(loc, a, b);
      printf("wcscoll r=%d error=%d\n", r, loc->error);
      loc->error = 0;
      r = gl_wcsxfrm(loc, out, a, sizeof out);
      printf("wcsxfrm r=%d error=%d\n", r, loc->error);
      loc->error = 0;
      r = gl_mbsCollBound(loc, "ab", 1, out, sizeof out);
      printf("bound r=%d error=%d out=%s\n", r, loc->error, r >= 0 ? out : "");
      loc->error = 0;
      r = gl_mbsSortKeyCollBound(loc, "ab", 0, out, sizeof out);
      printf("keybound r=%d error=%d\n", r, loc->error);
    } else if (step.rfind("width:", 0) == 0) {
      std::string hex = step.substr(6), ch;
      for (size_t k = 0; k + 1 < hex.size(); k += 2) {
        ch += static_cast<char>(std::stoi(hex.substr(k, 2), nullptr, 16));
      }
      loc->error = 0;
      int32_t w = gl_mbwidth(loc, ch.c_str());
      printf("width %s w=%d error=%d\n", hex.c_str(), w, loc->error);
    } else {
      fprintf(stderr, "unknown step %s\n", step.c_str());
      return 2;
    }
  }
  for (GlLocale *l : loaded) gl_lc_unload(l);
  gl_lc_unload(loc);
  printf("end\n");
  return 0;
}
