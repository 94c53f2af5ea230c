#include "platform/temp_dir.h"

#include <cstdlib>

namespace tvp {

std::string TempDir() {
  const char* t = std::getenv("TMPDIR");
  std::string dir = (t != nullptr && *t != '\0') ? t : "/tmp/";
  if (dir.back() != '/') dir.push_back('/');
  return dir;
}

}  // namespace tvp
