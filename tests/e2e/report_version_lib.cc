// A stand-in backup services library for "zutev -version all": it exports
// zarReportVersion, which writes a marker line.
#include <cstdio>

extern "C" __attribute__((visibility("default"))) int zarReportVersion() {
  std::printf("%s\n", TEV_REPORT_MARKER);
  return 7;
}
