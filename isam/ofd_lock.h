// Byte-range locks owned by an open file description, so that two
// descriptors of one file conflict like two processes do.
#pragma once

#include <sys/types.h>

namespace isam {

// type: F_RDLCK, F_WRLCK or F_UNLCK. 0, or -1 with errno.
int is_ofdlock(int fd, short type, off_t start, off_t len, bool wait);

inline constexpr off_t kOpenMarkerByte = 0x8FFF0000;
inline constexpr off_t kRenameGuardByte = 0x8FFF0001;

}  // namespace isam
