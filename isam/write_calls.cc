// Adding, replacing and deleting records.

#include "isam/call_frame.h"
#include "isam/record_ops.h"
#include "isam/thread_state.h"

namespace isam {

namespace {

constexpr int kChange = AC_READ | AC_WRITE | AC_HDREXCL;

void ForgetFetched() {
  IsamThreadState& st = is_state();
  st.cache_isfd = -1;
  st.cache_recnum = -1;
}

// Deletes the record recnum (0: the current record).
int DeleteRecord(int isfd, int32_t recnum, int access) {
  IsamThreadState& st = is_state();
  if (is_callbegin(isfd, access) != 0) {
    is_accessstatus("49");
    return -1;
  }
  if (is_fetchcurrent(recnum) == 0) {
    is_delete(st.isrecnum, st.recbuf.get(), st.fetchedlen);
  }
  ForgetFetched();
  return is_callend();
}

}  // namespace

}  // namespace isam

using namespace isam;

int iswrite(int isfd, const void* record) {
  if (is_callbegin(isfd, AC_WRITE | AC_HDREXCL) != 0) {
    is_accessstatus("48");
    return -1;
  }
  int len = is_reclength();
  if (len > 0) {
    if (record == nullptr) {
      is_fail(EBADARG);
    } else {
      is_insert(static_cast<const unsigned char*>(record), len);
    }
  }
  return is_callend();
}

int isrewcurr(int isfd, const void* record) {
  IsamThreadState& st = is_state();
  if (is_callbegin(isfd, kChange | AC_KEEPAUTO) != 0) {
    is_accessstatus("49");
    return -1;
  }
  if (record == nullptr) {
    is_fail(EBADARG);
  } else if (is_fetchcurrent(0) == 0) {
    int len = is_reclength();
    if (len > 0) {
      is_update(st.isrecnum, st.recbuf.get(), st.fetchedlen,
                static_cast<const unsigned char*>(record), len);
    }
  }
  return is_callend();
}

int isdelcurr(int isfd) { return DeleteRecord(isfd, 0, kChange | AC_KEEPAUTO); }

int isdelrec(int isfd, int recnum) {
  if (recnum == 0) {
    // Number 0 would name the current record; here it names none.
    if (is_callbegin(isfd, kChange) != 0) {
      is_accessstatus("49");
      return -1;
    }
    is_fail(ENORECORD);
    return is_callend();
  }
  return DeleteRecord(isfd, recnum, kChange);
}
