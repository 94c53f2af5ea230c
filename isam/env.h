// Environment lookup of the ISAM library (ISAMBUFS, RESETLOCK, ...). One
// place, so that the client environment resolution can replace it later.
#pragma once

namespace isam {

// The variable's value, or nullptr when it is not set.
const char* is_getenv(const char* name);

}  // namespace isam
