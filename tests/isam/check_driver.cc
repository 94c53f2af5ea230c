// Runs the check utility on the pairs named on the command line, as the
// catalog check does: "-l" sets the listing switch, "-y" the answer-yes
// switch. The exit status is 0 when every check returned 0, else 1, and
// the results are printed on standard error as "result: N". With
// ISAM_CHECK_COLLATION set, its value is the current collation name.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "isam/check.h"
#include "isam/collation.h"

namespace {

int CollationFromEnvironment(char* name, int size) {
  const char* value = std::getenv("ISAM_CHECK_COLLATION");
  if (value == nullptr) return -1;
  std::snprintf(name, static_cast<size_t>(size), "%s", value);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int status = 0;
  isam::is_collationsource = CollationFromEnvironment;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-l") == 0) {
      isck_listing = 1;
    } else if (std::strcmp(argv[i], "-y") == 0) {
      ++isck_answeryes;
    } else {
      int rc = ischeck(argv[i]);
      std::fprintf(stderr, "result: %d\n", rc);
      if (rc != 0) status = 1;
    }
  }
  return status;
}
