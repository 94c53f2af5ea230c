// A small program that runs named catalog calls, in the order given on its
// command line, in the installation that its environment names, and prints
// one line "<call> <result> [values]" per call. Tests start it to have a
// second (third, fourth...) process on one catalog.
//
//   open | gettevid
//   setsession N            use session id N
//   lock | unlock           take or release the catalog lock
//   insertsession           the session row of the session id
//   serial KIND COUNT       COUNT ids of a kind, one line each
//   tableopen ID MODE | tablelock ID
//   dump ID DELIM           DELIM "tab" or a character; rows to stdout
//   dumpfile ID DELIM PATH  rows to a new file
//   sleepms N
//   ready                   prints "ready" and waits until it is killed
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "storage/catalog/smc_lock.h"
#include "storage/catalog/smc_ses.h"
#include "storage/catalog/smcatalog.h"
#include "storage/command/config.h"
#include "storage/datapath/smhandle.h"
#include "tests/storage/catalog_handle.h"

namespace {

void Out(const char* call, int rc, const std::string& extra = "") {
  std::printf("%s %d%s%s\n", call, rc, extra.empty() ? "" : " ", extra.c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (zarLoadConfig(0) != 0) {
    std::fprintf(stderr, "configuration not loaded\n");
    return 2;
  }
  zarHandle* h = tevtest::NewCatalogHandle();
  for (int i = 1; i < argc; ++i) {
    const std::string c = argv[i];
    auto arg = [&]() -> const char* { return i + 1 < argc ? argv[++i] : ""; };
    if (c == "open") {
      Out("open", zarOpenDatabase(h));
    } else if (c == "gettevid") {
      int rc = zarGetTEVid(h);
      Out("gettevid", rc, std::to_string(zarGetConfig()->smId));
    } else if (c == "setsession") {
      h->sessionId = std::atoi(arg());
      Out("setsession", 0);
    } else if (c == "lock") {
      Out("lock", smcLockMgr(h, SMC_LOCK));
    } else if (c == "unlock") {
      Out("unlock", smcLockMgr(h, SMC_UNLOCK));
    } else if (c == "insertsession") {
      Out("insertsession", smcInsertSession(h, h->sessionId));
    } else if (c == "serial") {
      int kind = std::atoi(arg());
      int count = std::atoi(arg());
      for (int n = 0; n < count; ++n) {
        int64_t v = 0;
        int rc = dsmSerialMgr(h, kind, &v);
        Out("serial", rc, std::to_string(v));
      }
    } else if (c == "tableopen") {
      int id = std::atoi(arg());
      int mode = std::atoi(arg());
      Out("tableopen", zarCatalogTableOpen(h, id, mode));
    } else if (c == "tablelock") {
      Out("tablelock", smcCatalogTableLock(h, std::atoi(arg())));
    } else if (c == "dump") {
      int id = std::atoi(arg());
      std::string d = arg();
      char delim = d == "tab" ? '\t' : d[0];
      int rc = catalogTables[id].dump(stdout, delim);
      Out("dump", rc);
    } else if (c == "dumpfile") {
      int id = std::atoi(arg());
      std::string d = arg();
      char delim = d == "tab" ? '\t' : d[0];
      FILE* f = std::fopen(arg(), "w");
      int rc = f != nullptr ? catalogTables[id].dump(f, delim) : -999;
      if (f != nullptr) std::fclose(f);
      Out("dumpfile", rc);
    } else if (c == "sleepms") {
      usleep(static_cast<useconds_t>(std::atoi(arg())) * 1000);
      Out("sleepms", 0);
    } else if (c == "ready") {
      Out("ready", 0);
      for (;;) pause();
    } else {
      Out(c.c_str(), -999);
    }
  }
  tevtest::FreeCatalogHandle(h);
  return 0;
}
