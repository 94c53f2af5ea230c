// Starts the process's security (os_userinit), builds a pair, names and
// starts its audit trail and inserts one record; prints the user id the
// accounts layer gave the process. The audit test runs it under another
// account. Usage: audit_probe PAIR TRAIL
#include <cstdio>
#include <cstring>

#include "base/os_accounts.h"
#include "isam/isam.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: audit_probe PAIR TRAIL\n");
    return 2;
  }
  if (int32_t rc = os_userinit(); rc != 0) {
    fprintf(stderr, "os_userinit: %d\n", rc);
    return 3;
  }
  IsamKeyDesc kd = {};
  kd.nparts = 1;
  kd.parts[0] = {0, 4, 2};
  int fd = isbuild(argv[1], 20, &kd, IS_INOUT | IS_EXCLLOCK);
  char trail[256] = {};
  snprintf(trail, sizeof trail, "%s", argv[2]);
  unsigned char rec[20] = {0, 0, 0, 7};
  if (fd < 0 || isaudit(fd, trail, AU_SETNAME) != 0 || isaudit(fd, trail, AU_START) != 0 ||
      iswrite(fd, rec) != 0 || isclose(fd) != 0) {
    fprintf(stderr, "isam: %d\n", iserrno);
    return 4;
  }
  printf("%u\n", static_cast<unsigned>(tv_getuid()));
  return 0;
}
