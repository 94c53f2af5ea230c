// Shared steps of the message reader (msg_reader.cc) and the lookups built
// on it (msg_lookup.cc).
#pragma once

#include <stdint.h>

#include "base/thread_state.h"

namespace tvbase::msg {

// Forgets which file is open, so that the next lookup opens its file again
// (the descriptor is closed by that open).
void ForgetFile(ThreadRuntimeRecord* rec);

// Ends one lookup: when ZEL_FREE_FD is set, closes the message file.
void EndLookup(ThreadRuntimeRecord* rec);

}  // namespace tvbase::msg
