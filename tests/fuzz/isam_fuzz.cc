// Fuzz target of the ISAM readers: an input is a damaged ".idx"/".dat"
// pair, which is checked (and, when the input asks, repaired and checked
// again), then opened and read through the record calls in record-number
// order and along every index in both directions. Nothing may crash, leak or hang.
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
#include "isam/check.h"
#include "isam/isam.h"

namespace {

std::string g_name;

bool WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = write(fd, data, size) == static_cast<ssize_t>(size);
  close(fd);
  return ok;
}

// Reads the file through the record calls: in record-number order, and
// along every index forwards, backwards and by key.
void ReadAll(int isfd) {
  static unsigned char rec[32768];
  IsamDictInfo info;
  if (isindexinfo(isfd, &info, 0) != 0) return;
  for (int i = 0; i <= info.nindexes && i <= 8; ++i) {
    IsamKeyDesc kd = {};
    if (i > 0 && isindexinfo(isfd, &kd, i) != 0) continue;
    if (isstart(isfd, &kd, 0, rec, IS_FIRST) == 0) {
      for (int n = 0; n < 2000 && isread(isfd, rec, IS_NEXT) == 0; ++n) {
      }
    }
    if (isstart(isfd, &kd, 0, rec, IS_LAST) == 0) {
      for (int n = 0; n < 2000 && isread(isfd, rec, IS_PREVIOUS) == 0; ++n) {
      }
    }
    isread(isfd, rec, IS_CURRENT);
    isread(isfd, rec, IS_GREATER_EQUAL);
    isread(isfd, rec, IS_EQUAL);
  }
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
