// The per-thread last-error cells of the Windows-style calls of the platform
// layer: every such call stores its error code here (0 on success), and the
// caller reads it back as it would read the system's last error.
#pragma once

#include <cstdint>

namespace tvp {

// The last error of a Windows-style call made by this thread; 0 at start.
uint32_t LastError();
void SetLastError(uint32_t code);

// The same for socket calls (the separate socket error cell).
int LastSocketError();
void SetLastSocketError(int code);

}  // namespace tvp
