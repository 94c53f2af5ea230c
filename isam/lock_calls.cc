// The lock calls of files opened with manual locking.

#include "isam/call_frame.h"
#include "isam/locks.h"
#include "isam/thread_state.h"

using namespace isam;

int islock(int isfd) {
  if (is_callbegin(isfd, AC_NONE) != 0) return -1;
  IsamOpenFile* of = is_state().curopen;
  if (!(of->mode & IS_EXCLLOCK)) {
    if (of->mode & IS_MANULOCK) {
      is_lockfile(1);
    } else {
      is_fail(ENOMANUALLOCK);
    }
  }
  return is_callend();
}

int isunlock(int isfd) {
  IsamThreadState& st = is_state();
  if (is_callbegin(isfd, AC_NONE) != 0) return -1;
  IsamOpenFile* of = st.curopen;
  if (!(of->mode & IS_EXCLLOCK)) {
    if (of->mode & IS_MANULOCK) {
      if (st.cache_isfd == isfd) {
        st.cache_isfd = -1;
        st.cache_recnum = -1;
      }
      if (of->mode & IS_TRANS) {
        is_releaselocks();
      } else {
        is_lockfile(0);
      }
    } else {
      is_fail(ENOMANUALLOCK);
    }
  }
  return is_callend();
}

int isrelease(void) {
  IsamThreadState& st = is_state();
  int isfd = -1;
  for (int i = 0; i < IS_MAXFILES && st.curopen != nullptr; ++i) {
    if (st.openfiles[i].get() == st.curopen) isfd = i;
  }
  if (is_callbegin(isfd, AC_NONE) != 0) return -1;
  is_releaselocks();
  return is_callend();
}
