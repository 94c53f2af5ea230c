// What a file holds: its record figures, its indexes and its record count.

#include <cstring>

#include "isam/bigendian.h"
#include "isam/call_frame.h"
#include "isam/header.h"
#include "isam/key_desc.h"
#include "isam/records.h"
#include "isam/thread_state.h"

using namespace isam;

int isindexinfo(int isfd, void* buffer, int number) {
  IsamThreadState& st = is_state();
  if (is_callbegin(isfd, AC_NONE) != 0) return -1;
  const unsigned char* hdr = st.curfile->header;
  st.isrecsize = ld16(hdr + HDR_RECLEN);
  if (buffer == nullptr || number < 0) {
    is_fail(EBADARG);
  } else if (number == 0) {
    IsamDictInfo info = {};
    info.nindexes = static_cast<int16_t>(ld16(hdr + HDR_NINDEXES));
    int maxlen = ld16(hdr + HDR_MAXRECLEN);
    if (maxlen != 0) {
      info.nindexes = static_cast<int16_t>(info.nindexes | 0x8000);
      info.reclen = static_cast<int16_t>(maxlen);
    } else {
      info.reclen = static_cast<int16_t>(ld16(hdr + HDR_RECLEN));
    }
    info.nodesize = static_cast<int16_t>(ld16(hdr + HDR_NODESIZE));
    int64_t freed = freecount(FREE_RECORD);
    if (freed >= 0) {
      info.nrecords = static_cast<int64_t>(ldu32(hdr + HDR_LASTREC)) - freed;
      std::memcpy(buffer, &info, sizeof info);
    }
  } else {
    IsamKeyDesc kd = {};
    if (is_findkeydesc(&kd, number) < 0) {
      if (st.iserrno == 0) is_fail(EBADARG);
    } else {
      std::memcpy(buffer, &kd, sizeof kd);
    }
  }
  return is_callend();
}
