// The ISAM library's per-thread state: error and status words, the tables
// of open files, the current file of the call in progress and the buffer
// pool.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "isam/buffer_pool.h"
#include "isam/files.h"
#include "isam/isam.h"
#include "isam/key_entry.h"
#include "isam/position.h"

namespace isam {

// Figures of the variable-length storage for the current file's node size.
struct TailParams {
  int n = 0;  // node size
  int e = 0;  // free bytes of an empty tail page
  int s = 0;  // offset of slot 0's directory entry
  int p = 0;  // largest piece
  int w = 0;  // width of a free-space class
};

struct IsamThreadState {
  // The thread's exported words (isam.h), under their plain names.
  int& iserrno = ::iserrno;
  int& isiocode = ::isiocode;
  char (&isstatus_a)[2] = ::isstatus_a;
  char (&isstatus_b)[2] = ::isstatus_b;
  int& isrecnum = ::isrecnum;
  int& isrecsize = ::isrecsize;

  // Record work buffer and the last-fetched-record cache.
  std::unique_ptr<unsigned char[]> recbuf;
  int reccap = 0;
  int fetchedlen = 0;
  int cache_isfd = -1;
  int32_t cache_recnum = -1;

  // The call in progress.
  int curisfd = -1;
  IsamOpenFile* curopen = nullptr;
  IsamSharedFile* curfile = nullptr;
  IsamKeyEntry curkey;
  IsamPosition pos;
  TailParams tail;

  std::array<std::unique_ptr<IsamOpenFile>, IS_MAXFILES> openfiles;
  std::array<std::unique_ptr<IsamSharedFile>, IS_MAXFILES> sharedfiles;
  int nopenpairs = 0;  // shared records whose files are open
  uint16_t usestamp = 0;

  // While the check utility runs: its node count, up to which the node
  // readers accept node numbers whatever the header's last node number
  // says; 0 otherwise.
  uint32_t checknodes = 0;

  char collname_file[36] = {};
  char collname_current[36] = {};
  int32_t prev_read_errno = 0;

  IsamBufferPool pool;
};

// The calling thread's state. The pointer is set when a thread first asks,
// so that the hot paths load it directly instead of passing through the
// guard of a thread-local object each time.
extern constinit thread_local IsamThreadState* is_tlstate;
IsamThreadState& is_statefirst();
inline IsamThreadState& is_state() {
  IsamThreadState* s = is_tlstate;
  return s != nullptr ? *s : is_statefirst();
}

// Sets iserrno (and isiocode when not 0) and returns -1.
int is_fail(int err, int iocode = 0);
// Sets iserrno to 105 unless an error is already set; returns -1.
int is_damage();

// Sets both status codes from iserrno at the end of a call.
void is_setstatus();

}  // namespace isam
