// Version reports.
#include "storage/command/zutev_version.h"

#include <dlfcn.h>

#include <cstdio>

#include "base/msgfile.h"
#include "locale/core/gl_langinfo.h"
#include "storage/command/config.h"
#include "storage/command/sm_trace.h"
#include "storage/command/zutev.h"
#include "storage/command/zutev_build_info.h"

void zutevVersionBanner() {
  std::printf("Tevrin Storage Manager %s version %s\n", kZutevName, ZUTEV_PRODUCT_VERSION);
}

void zutevVersionReport() {
  std::printf("Program Name:\t%s\n", kZutevName);
  std::printf("Build Version:\t%s\n", ZUTEV_PRODUCT_VERSION);
  std::printf("Build Number:\t%s\n", ZUTEV_BUILD_NUMBER);
  std::printf("Build Host:\t%s\n", ZUTEV_BUILD_HOST);
  std::printf("Build OS:\t%s\n", ZUTEV_BUILD_OS);
  std::printf("Build Date:\t%s\n", ZUTEV_BUILD_DATE);
  std::printf("LXR Version:\t%s\n", gl_version());
}

int zutevVersionAll() {
  zutevVersionReport();
  std::fflush(stdout);
  if (zarLoadConfig(1) != 0) {
    std::fprintf(stderr, "%s\n", SM_MSG(88130));
    return 1;
  }
  TevConfig* cfg = zarGetConfig();
  if (cfg == nullptr) return 1;
  SM_ACTLOG(SM_ACT_NOTIFY, SM_KIND_PLAIN, "%s", SM_MSG(87150));
  if (cfg->bsaLibPath[0] == '\0') {
    SM_ACTLOG(SM_ACT_NOTIFY, SM_KIND_PLAIN, "%s", SM_MSG(88150));
    return 0;
  }
  // The library stays loaded for the rest of the process.
  void* library = dlopen(cfg->bsaLibPath, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88151), cfg->bsaLibPath);
    return 0;
  }
  using ReportFn = int (*)();
  auto report = reinterpret_cast<ReportFn>(dlsym(library, "zarReportVersion"));
  if (report == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88152), cfg->bsaLibPath);
    return 0;
  }
  report();
  return 0;
}
