// The directory for temporary files: $TMPDIR when it is set and not empty,
// else /tmp/. The result always ends in '/', so a file name can be appended.
#pragma once

#include <string>

namespace tvp {

std::string TempDir();

}  // namespace tvp
