#include "isam/pair_setup.h"

#include <unistd.h>

#include <cerrno>

#include "isam/buffer_pool.h"
#include "isam/header.h"
#include "isam/thread_state.h"

namespace isam {

int is_createpair(const std::string& name) {
  std::string idx = is_idxname(name);
  if (is_createfile(idx.c_str()) != 0) return is_fail(is_state().iserrno, 33);
  if (is_createfile(is_datname(name).c_str()) != 0) {
    int err = is_state().iserrno;
    unlink(idx.c_str());
    return is_fail(err, 34);
  }
  return 0;
}

int is_initpair(IsamSharedFile* sf, int minlen, int maxlen, const char* collname) {
  IsamThreadState& st = is_state();
  st.curfile = sf;
  is_fillheader(sf->header, minlen, maxlen, collname);
  if (is_takefigures(sf) != 0 || is_usefile(sf) != 0) return -1;
  is_headerdirty();
  IsamBuffer* b = is_newbuffer(2);
  if (b == nullptr) return -1;
  is_nodesetused(b, 6);
  is_nodesettype(b, 0xFF);
  is_nodesetlevel(b, 0x7E);
  is_releasedirty(b);
  return 0;
}

int is_loadpair(IsamSharedFile* sf) {
  is_state().curfile = sf;
  if (is_readheader() != 0 || is_takefigures(sf) != 0) return -1;
  return is_usefile(sf);
}

int is_flushfile() {
  IsamSharedFile* sf = is_state().curfile;
  int rc = is_flushbuffers(sf);
  if ((sf->flags & SF_HDRDIRTY) && is_writeheader() != 0) rc = -1;
  return rc;
}

}  // namespace isam
