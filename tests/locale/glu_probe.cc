// Drives the ICU back-end loader in a process of its own, so that every
// run starts from the process-wide state of a fresh program.
//
//   glu_probe CAPABLE STEP...     STEP: init | zuinit | dll | unload
//
// After each step it prints
//   "<step> rc=<rc> error=<e> bound=<0|1> inuse=<0|1> map=<0|1> global=<0|1>"
//   "mapped=<names of the lxr/dll libraries mapped into the process>"
// With LXRDEBUG=on the library's debug log appears on standard output too.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <set>
#include <string>

#include "locale/core/gl_ext.h"
#include "locale/core/gl_glu.h"
#include "locale/core/gl_icu.h"

namespace {

struct Obj {
  int32_t error = 0;
};

GlFile *ProbeFopen(const char *path, const char *mode) { return gl_ext_fopen(path, mode); }

std::string MappedLibraries() {
  std::set<std::string> names;
  if (FILE *f = fopen("/proc/self/maps", "re")) {
    char line[4096];
    while (fgets(line, sizeof line, f) != nullptr) {
      const char *p = strstr(line, "/lxr/dll/");
      if (p == nullptr) continue;
      std::string name(p + strlen("/lxr/dll/"));
      while (!name.empty() && (name.back() == '\n' || name.back() == ' ')) name.pop_back();
      names.insert(name);
    }
    fclose(f);
  }
  std::string out;
  for (const auto &n : names) out += (out.empty() ? "" : ",") + n;
  return out;
}

}  // namespace

int main(int argc, char **argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  if (argc < 2) {
    fprintf(stderr, "usage: glu_probe CAPABLE STEP...\n");
    return 2;
  }
  gl_useglu(atoi(argv[1]));
  for (int i = 2; i < argc; ++i) {
    std::string step = argv[i];
    Obj o;
    int32_t rc;
    if (step == "init") {
      rc = gl_init_glu(&o);
    } else if (step == "zuinit") {
      gl_setextfunc(&o, GL_EXT_FOPEN, reinterpret_cast<GlExtFunc>(ProbeFopen));
      rc = gl_init_glu_zuinit(&o);
      bool kept = _gl_ext_table()->slots[GL_EXT_FOPEN] == reinterpret_cast<GlExtFunc>(ProbeFopen);
      printf("hooks=%s\n", kept ? "restored" : "lost");
    } else if (step == "dll") {
      rc = gl_init_glu_dll(&o);
    } else if (step == "unload") {
      rc = gl_unload_glu();
    } else {
      fprintf(stderr, "unknown step %s\n", step.c_str());
      return 2;
    }
    printf("%s rc=%d error=%d bound=%d inuse=%d map=%d global=%d\n", step.c_str(), rc, o.error,
           _gl_glu_api() != nullptr, _gl_glu_in_use(), glx_gluMap() != nullptr,
           lxr_assign_global_struct() != nullptr);
    printf("mapped=%s\n", MappedLibraries().c_str());
  }
  return 0;
}
