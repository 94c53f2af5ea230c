// Memory that the client libraries never free (thread records, pools,
// per-thread environment tables, strings handed to the process
// environment) is registered here, so that it stays reachable from one
// process-wide list after its thread ends and until the process exits.
#pragma once

namespace tvbase {

// Records p as kept for the life of the process. Lock-free; a failure to
// record (no memory) only leaves p unlisted.
void KeepAlive(void* p);

}  // namespace tvbase
