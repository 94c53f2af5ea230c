// Runs one account call in a process of its own for the tests.
//
//   accounts_probe isadmin          prints os_isadmin(0)
//   accounts_probe userinit         prints os_userinit's result, then the
//                                   effective id and its account name
//   accounts_probe enter NAME       os_userenter(NAME, this machine):
//                                   prints the result and the id
//   accounts_probe hold-lock        takes the user-id map's lock, prints
//                                   "held" and waits until killed
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "base/os_accounts.h"
#include "platform/accounts.h"

int main(int argc, char** argv) {
  if (argc == 2 && strcmp(argv[1], "isadmin") == 0) {
    printf("%d\n", os_isadmin(0));
    return 0;
  }
  if (argc == 2 && strcmp(argv[1], "userinit") == 0) {
    int32_t rc = os_userinit();
    printf("%d\n", rc);
    if (rc == 0) {
      OsUserEntry* entry = os_userbyuid(tv_geteuid());
      printf("%u %s\n", tv_geteuid(), entry != nullptr ? entry->pw_name : "(none)");
    }
    return 0;
  }
  if (argc == 3 && strcmp(argv[1], "enter") == 0) {
    UserRecord* record = nullptr;
    int32_t rc = os_userenter(argv[2], tvp::ComputerName().c_str(), &record);
    printf("%d %u\n", rc, record != nullptr ? record->uid : 0u);
    return 0;
  }
  if (argc == 2 && strcmp(argv[1], "hold-lock") == 0) {
    if (!uidmap_lock()) return 1;
    printf("held\n");
    fflush(stdout);
    for (;;) pause();
  }
  fprintf(stderr, "usage: accounts_probe isadmin|userinit|enter NAME|hold-lock\n");
  return 2;
}
