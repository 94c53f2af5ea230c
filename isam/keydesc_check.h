// Whether the current file's first key-description node can be read.
#pragma once

namespace isam {

// 0 when it reads as a key-description node, else -1.
int is_keydescreadable();

}  // namespace isam
