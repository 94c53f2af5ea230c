#include "isam/env.h"

#include <cstdlib>

namespace isam {

const char* is_getenv(const char* name) { return std::getenv(name); }

}  // namespace isam
