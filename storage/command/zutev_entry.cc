// The command's start-up and end: argument count, account checks, version
// options, configuration, the joined command line in the activity log, the
// dispatch and the closing message.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/conn_calls.h"
#include "base/msgfile.h"
#include "base/os_accounts.h"
#include "storage/command/config.h"
#include "storage/command/sm_trace.h"
#include "storage/command/zutev.h"
#include "storage/command/zutev_dispatch.h"
#include "storage/command/zutev_version.h"

namespace {

constexpr char kSecurityError[] =
    "ERROR: Could not initialize the security subsystem. Please ensure that this account has the "
    "necessary privileges and ensure ZIVEVODAREVEZO value exists in the registry and "
    "environment.\n";

// Files the command creates stay open to the owning group and closed to
// others: the catalog holds cloud keys.
constexpr mode_t kCreationMask = 007;

// -1 when the arguments ask for no version output, else the exit code.
int VersionOption(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "-version") == 0) {
    zutevVersionReport();
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "-V") == 0) {
    zutevVersionBanner();
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "-version") == 0 && std::strcmp(argv[2], "all") == 0) {
    return zutevVersionAll();
  }
  return -1;
}

}  // namespace

void zutevJoinCommandLine(int argc, char** argv, char* out, int size) {
  if (size <= 0) return;
  size_t used = 0;
  const size_t room = static_cast<size_t>(size) - 1;
  for (int i = 0; i < argc && used < room; ++i) {
    size_t len = std::strlen(argv[i]);
    if (len >= static_cast<size_t>(kZutevCmdLineArgMax)) break;
    size_t n = std::min(len, room - used);
    std::memcpy(out + used, argv[i], n);
    used += n;
    if (used < room) out[used++] = ' ';
  }
  out[used] = '\0';
}

int zutevExitStatus(int result) {
  int low = result & 0xFF;
  return result != 0 && low == 0 ? 1 : low;
}

int zutevRunLoaded(int argc, char** argv, TevConfig* cfg) {
  char line[kZutevCmdLineSize];
  zutevJoinCommandLine(argc, argv, line, sizeof line);
  SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_PLAIN, "%s", line);

  bool ended = true;
  int result = cfg == nullptr ? 3 : zutevDispatch(argc, argv, &ended);
  if (ended) SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_PLAIN, SM_MSG(88053), kZutevName, result);
  return result;
}

int zutevMain(int argc, char** argv) {
  if (argc < 2) {
    zutevUsage(argv[0]);
    return -1;
  }
  if (os_userinit() != 0) {
    std::fputs(kSecurityError, stderr);
    std::fputs("\n", stderr);
    return 1;
  }
  if (os_isadmin(0) == 0) {
    std::fprintf(stderr, "%s\n", SM_MSG(88300));
    return -1;
  }
  asf_noop(&argc, &argv, 9);
  umask(kCreationMask);

  int version = VersionOption(argc, argv);
  if (version >= 0) return version;

  if (zarLoadConfig(1) != 0) {
    std::fprintf(stderr, "%s\n", SM_MSG(88130));
    return 1;
  }
  return zutevRunLoaded(argc, argv, zarGetConfig());
}
