// Fuzz target of the ISAM readers: an input is a damaged ".idx"/".dat"
// pair, which is checked (and, when the input asks, repaired and checked
// again), then opened, read record by record and stepped through every
// index in both directions. Nothing may crash, leak or hang.
//
// Input layout:
//   byte 0      bit 0: answer every repair question yes; bit 1: listing
//   bytes 1-2   length of the ".idx" part (big-endian, cut to what is left)
//   then        the ".idx" file, then the ".dat" file

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "isam/bigendian.h"
#include "isam/btree.h"
#include "isam/call_frame.h"
#include "isam/check.h"
#include "isam/header.h"
#include "isam/isam.h"
#include "isam/key_desc.h"
#include "isam/records.h"
#include "isam/thread_state.h"

namespace {

std::string g_name;

bool WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = write(fd, data, size) == static_cast<ssize_t>(size);
  close(fd);
  return ok;
}

// Reads every record and walks every index of the open file both ways.
void ReadAll(int isfd) {
  using namespace isam;
  IsamThreadState& st = is_state();
  if (is_callbegin(isfd, AC_READ) != 0) return;
  uint32_t last = is_hdrget32(HDR_LASTREC);
  for (uint32_t n = 1; n <= last && n <= 4096; ++n) dataread(n, st.recbuf.get());
  for (int i = 1; i <= 8; ++i) {
    IsamKeyDesc kd = {};
    st.iserrno = 0;
    if (is_findkeydesc(&kd, i) < 0) break;
    if (kd.nparts == 0) continue;
    for (int last_first = 0; last_first <= 1; ++last_first) {
      st.pos = IsamPosition{};
      if (is_firstlast(kd, last_first) != 0) continue;
      int dir = last_first ? BT_BACKWARD : BT_FORWARD;
      for (int steps = 0; steps < 2000; ++steps) {
        if (is_step(kd, dir) != 0) break;
        dataread(st.curkey.pointer, st.recbuf.get());
      }
    }
    IsamKeyEntry probe;
    probe.dupno = 0;
    is_search(&probe, kd, 0, BT_EXACT);
  }
  st.iserrno = 0;
  is_callend();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char dir[] = "/tmp/isam_fuzz_XXXXXX";
  if (mkdtemp(dir) == nullptr) abort();
  g_name = std::string(dir) + "/f";
  // The check talks on standard output and reads answers from standard
  // input; neither is wanted here.
  if (freopen("/dev/null", "w", stdout) == nullptr || freopen("/dev/null", "r", stdin) == nullptr) {
    abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  int flags = data[0];
  size_t idxlen = static_cast<size_t>(data[1]) << 8 | data[2];
  data += 3;
  size -= 3;
  if (idxlen > size) idxlen = size;
  // The check visits every number up to the header's last ones; numbers
  // far beyond the files only cost time.
  if (idxlen >= 41 && (isam::ldu32(data + 37) > 1024 || isam::ldu32(data + 33) > 65536)) return 0;
  if (!WriteFile(g_name + ".idx", data, idxlen) ||
      !WriteFile(g_name + ".dat", data + idxlen, size - idxlen)) {
    abort();
  }
  isck_answeryes = flags & 1;
  isck_listing = (flags & 2) != 0;
  ischeck(g_name.c_str());
  if (isck_answeryes) ischeck(g_name.c_str());
  int fd = isopen(g_name.c_str(), IS_INPUT | IS_EXCLLOCK | IS_ANYFORM);
  if (fd >= 0) {
    ReadAll(fd);
    isclose(fd);
  }
  return 0;
}
