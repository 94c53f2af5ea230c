// Byte-range locks owned by an open file description, so that two
// descriptors of one file conflict like two processes do.
#pragma once

#include <fcntl.h>
#include <sys/types.h>

namespace isam {

using OfdPrimitive = int (*)(int fd, int cmd, struct flock* fl);

// type: F_RDLCK, F_WRLCK or F_UNLCK. A waiting call interrupted by a signal
// is made again. 0, or -1 with errno. primitive, when given, stands in for
// fcntl.
int is_ofdlock(int fd, short type, off_t start, off_t len, bool wait,
               OfdPrimitive primitive = nullptr);

inline constexpr off_t kOpenMarkerByte = 0x8FFF0000;
inline constexpr off_t kRenameGuardByte = 0x8FFF0001;

}  // namespace isam
