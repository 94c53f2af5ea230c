// The current user's home directory: the home field of the password-database
// entry of the effective user id (not $HOME, which the caller's environment
// may point anywhere).
#pragma once

#include <string>

namespace tvp {

// Stores the home directory in *out and returns true; false when the
// effective user has no account entry or the entry has no home directory.
bool HomeDir(std::string* out);

// Test programs point the home directory elsewhere (nullptr restores the
// password database). Process-wide; set it before other threads look.
void SetHomeDirForTesting(const char* path);

}  // namespace tvp
