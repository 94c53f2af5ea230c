// zutev: the storage manager's administration command.
#include <cstdio>

#include "storage/command/zutev.h"

int main(int argc, char** argv) {
  int result = zutevMain(argc, argv);
  std::fflush(stdout);
  return zutevExitStatus(result);
}
