// Record and file locks. Every lock lies on the ".idx" file of a pair, on
// byte ranges far beyond any real file size that stand for logical objects:
//
//   lock                   first byte        length        kind
//   header lock            0                 0x3FFFFFFF    shared or exclusive, waits
//   record lock of n       0x40000000 + n    1             exclusive
//   whole-file lock        0x40000000        0x3FFFFFFE    exclusive, no wait
//   open lock              0x7FFFFFFF        1             shared; exclusive for
//                                                          an exclusive open
//
// The locks belong to the open file description (the shared record's ".idx"
// descriptor), so two descriptors of one file conflict like two processes,
// and closing some other descriptor of the file drops nothing.
#pragma once

#include <fcntl.h>

#include <cstdint>

namespace isam {

struct IsamLockRequest {
  int16_t type = 0;    // LK_SHARED, LK_UNLOCK or LK_EXCLUSIVE
  int16_t origin = 0;  // 0 file start, 1 current position, 2 end of file
  int32_t start = 0;
  int32_t length = 0;
  int32_t process = 0;  // not used
};

enum : int16_t { LK_SHARED = 1, LK_UNLOCK = 2, LK_EXCLUSIVE = 3 };
// Lock commands: test (the request comes back with LK_UNLOCK when nothing
// conflicts), set without waiting, set and wait.
enum : int { LK_TEST = 2, LK_SET = 6, LK_SETWAIT = 7 };

inline constexpr int32_t kHeaderLockLen = 0x3FFFFFFF;
inline constexpr int32_t kRecordLockBase = 0x40000000;
inline constexpr int32_t kFileLockLen = 0x3FFFFFFE;
inline constexpr int32_t kOpenLockByte = 0x7FFFFFFF;

// One lock command on a descriptor. 0, or -1 with errno: EACCES for a
// range another owner holds, ENOLCK when the system has no more locks,
// EINVAL for a bad command.
int is_lockctl(int fd, int cmd, IsamLockRequest* req, const char* path);
// As is_lockctl, trying again after a deadlock report as often as
// ISAM_DEADLOCK_COUNT says, ISAM_DEADLOCK_SLEEP milliseconds apart.
int is_lockretry(int fd, int cmd, IsamLockRequest* req, const char* path);

// The locks of the current file (is_state().curopen and curfile).
// 0 release, 1 exclusive, other shared; -1 with iserrno = errno, isiocode 97.
int is_lockheader(int flag);
// Releases the header lock when the current call holds it.
void is_hdrunlock();
// 0 release at close, IS_EXCLLOCK exclusive open, another lock mode shared;
// the new or closing isfd already counted. -1 with 113.
int is_lockopen(int mode);
// Record lock modes: RL_UNLOCK, RL_WAIT, RL_NOWAIT, RL_TEST, plus RL_READ
// on RL_WAIT or RL_NOWAIT for a read lock. -1 with 107 or 134.
enum : int { RL_UNLOCK = 0, RL_WAIT = 1, RL_NOWAIT = 2, RL_TEST = 3, RL_READ = 8 };
int is_lockrecord(int64_t recnum, int mode);
// 1 takes the whole-file lock, 0 releases it with every record lock of the
// file. -1 with 107 or 134.
int is_lockfile(int flag);
// Releases the read locks of the current file, or every lock when it has
// no transaction locks.
int is_releaselocks();

// Empties the record-number lists of a pair that is being closed.
struct IsamSharedFile;
void is_lockclearlists(IsamSharedFile* sf);
// Drops the held-lock entries of a descriptor that is being closed.
void is_lockforget(int fd);
// Number of held-lock entries of a descriptor.
int is_heldlocks(int fd);

// The system call under the lock commands and the pause between deadlock
// retries, replaceable by tests; the deadlock settings are read again after
// is_lockresetsettings.
extern int (*is_lockprimitive)(int fd, int cmd, struct flock* fl);
extern void (*is_locksleep)(int ms);
void is_lockresetsettings();

}  // namespace isam
