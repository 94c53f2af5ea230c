// The frame every ISAM call that takes an isfd runs in: it checks the isfd
// and the access the call needs, takes the header lock and reads the header
// again, notices changes made by other processes, and at the end counts and
// writes this call's changes and sets the status codes.
#pragma once

namespace isam {

// Access class of a call: the access it needs, how it takes the header
// lock, and what it skips.
enum : int {
  AC_NONE = 0,
  AC_READ = 1,
  AC_WRITE = 2,
  AC_HDREXCL = 0x10,   // header lock exclusive (else shared)
  AC_NOCOLL = 0x20,    // no collation check
  AC_KEEPAUTO = 0x40,  // automatic record locks of the call before stay
};

// Resets iserrno, isiocode and both status codes.
void is_callreset();
// 0, or -1 when the call must not go on (iserrno and status codes set).
int is_callbegin(int isfd, int access);
// 0 when iserrno is 0, else -1. With release_header false the header lock
// stays held.
int is_callend(bool release_header = true);

// The lock mode that a mode word asks for (IS_AUTOLOCK, IS_MANULOCK or
// IS_EXCLLOCK), or -1 when its lock bits are refused.
int is_lockmode(int mode);

// A failed open or build: the status codes as those calls leave them.
void is_failstatus(bool keep_second);

}  // namespace isam
