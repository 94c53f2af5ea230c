// Removing and renaming a file pair. Both open the pair for exclusive use
// first, so that no other process has it open meanwhile.

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "isam/audit.h"
#include "isam/buffer_pool.h"
#include "isam/call_frame.h"
#include "isam/thread_state.h"

namespace isam {

namespace {

// Opens the pair exclusively, whichever its record form.
int OpenExclusive(const char* name, int* mode) {
  *mode = IS_INOUT | IS_EXCLLOCK;
  int isfd = isopen(name, *mode);
  if (isfd < 0) {
    *mode |= IS_VARLEN;
    isfd = isopen(name, *mode);
  }
  return isfd;
}

int FailedOutside() {
  is_failstatus(false);
  return -1;
}

// rename(2) that never replaces an existing file.
int RenameNoReplace(const std::string& from, const std::string& to) {
  return renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
}

}  // namespace

}  // namespace isam

using namespace isam;

int iserase(const char* name) {
  IsamThreadState& st = is_state();
  int mode;
  int isfd = OpenExclusive(name, &mode);
  if (isfd < 0) return FailedOutside();
  // A damaged audit node must not keep the pair from going.
  std::string audit;
  if (is_auditname(&audit) < 0) audit.clear();
  st.curfile->flags |= SF_ERASING;
  isclose(isfd);
  is_callreset();
  std::string paths[3] = {audit, is_idxname(name), is_datname(name)};
  for (const std::string& path : paths) {
    if (!path.empty() && unlink(path.c_str()) != 0) st.iserrno = errno;
  }
  return st.iserrno != 0 ? FailedOutside() : 0;
}

int isrename(const char* oldname, const char* newname) {
  IsamThreadState& st = is_state();
  is_callreset();
  if (is_checkname(oldname) != 0 || is_checkname(newname) != 0) return FailedOutside();
  int mode;
  int isfd = OpenExclusive(oldname, &mode);
  if (isfd < 0) return FailedOutside();
  std::string guardpath;
  int guardfd = -1;
  if (!is_renameguard(oldname, &guardpath, &guardfd)) {
    int err = errno != 0 ? errno : EBUSY;
    isclose(isfd);
    st.iserrno = err;
    return FailedOutside();
  }
  isclose(isfd);
  is_callreset();
  std::string oldidx = is_idxname(oldname), newidx = is_idxname(newname);
  std::string olddat = is_datname(oldname), newdat = is_datname(newname);
  int rc = -1;
  if (RenameNoReplace(oldidx, newidx) != 0) {
    st.iserrno = errno;
  } else if (RenameNoReplace(olddat, newdat) != 0) {
    st.iserrno = errno;
    // Never leave the pair split across two names.
    RenameNoReplace(newidx, oldidx);
  } else {
    isfd = isopen(newname, mode);
    if (isfd >= 0) rc = isclose(isfd);
  }
  is_renameunguard(&guardpath, &guardfd);
  if (rc != 0) {
    if (st.iserrno == 0) st.iserrno = EBADFILE;
    return FailedOutside();
  }
  return 0;
}
