// Prints what the environment lookup gives, one line per argument:
//   NAME=value|status     or     NAME=(none)|status
// Arguments: NAME (looked up by name), NAME@ROW (looked up with a row),
// --home DIR (the user's home directory for this run), --cold (no first
// lookup of the probe's own, see below), --conn DBPATH (the
// connection snapshot, one "pair NAME=value" line each), --user (the
// current user's name before and after os_userinit, and on a new thread:
// "user before=", "user init=<result>", "user after=", "user thread=").

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "base/env.h"
#include "base/os_accounts.h"
#include "platform/home_dir.h"

int main(int argc, char** argv) {
  // The first lookup of a process creates the client state, which starts
  // the locale; when that start-up fails (no locale files under the test's
  // TARVELONDIR, or a DBDATE the date format refuses) that one lookup
  // yields nothing, and the environment loaded meanwhile serves the rest.
  // So one lookup goes first, unless --cold asks to see the first one.
  bool warm = true;
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    if (arg == "--home" && i + 1 < argc) {
      tvp::SetHomeDirForTesting(argv[++i]);
      continue;
    }
    if (arg == "--user") {
      std::printf("user before=%s\n", os_username());
      std::printf("user init=%d\n", os_userinit());
      std::printf("user after=%s\n", os_username());
      std::string other;
      std::thread([&other] { other = os_username(); }).join();
      std::printf("user thread=%s\n", other.c_str());
      continue;
    }
    if (arg == "--cold") {
      warm = false;
      continue;
    }
    if (warm) {
      ggetenv("TARVELONDIR");
      warm = false;
    }
    if (arg == "--conn" && i + 1 < argc) {
      EnvSnapshot snap{};
      int r = renvlist_conn(&snap, argv[++i]);
      std::printf("conn %d\n", r);
      for (int32_t k = 0; k < snap.count; k++) std::printf("pair %s=%s\n", snap.names[k], snap.values[k]);
      renvlist_free(&snap);
      continue;
    }
    std::string name = arg;
    char* value;
    size_t at = arg.find('@');
    if (at != std::string::npos) {
      name = arg.substr(0, at);
      value = ggetenv_idx(name.c_str(), std::atoi(arg.c_str() + at + 1));
    } else {
      value = ggetenv(name.c_str());
    }
    std::printf("%s=%s|%d\n", arg.c_str(), value != nullptr ? value : "(none)", rthreadstatus);
    std::fflush(stdout);
  }
  return 0;
}
