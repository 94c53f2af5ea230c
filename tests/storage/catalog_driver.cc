// A small program that runs named catalog calls, in the order given on its
// command line, in the installation that its environment names, and prints
// one line "<call> <result> [values]" per call. Tests start it to have a
// second (third, fourth...) process on one catalog.
//
//   create | open | close | drop | dropfiles | gettevid | unlocktables
//   session                 take a session id (serial kind 3) for the handle
//   setsession N            use session id N
//   lock | unlock | adminlock | adminunlock
//   serial KIND COUNT       COUNT ids of a kind, one line each
//   setserial KIND VALUE
//   tableopen ID MODE | tableclose ID | tablelock ID | tableunlock ID
//   insertsession | deletesession
//   pooladd NAME | pooldel NAME | poolid NAME | poolname ID | poollist
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
#include "storage/catalog/smc_pool.h"
#include "storage/catalog/smc_ses.h"
#include "storage/catalog/smcatalog.h"
#include "storage/command/config.h"
#include "storage/command/typed_list.h"
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
    if (c == "create") {
      int rc = zarCatalogCreate(h);
      Out("create", rc, std::to_string(h->sessionId) + " " + std::to_string(zarGetConfig()->smId));
    } else if (c == "open") {
      Out("open", zarOpenDatabase(h));
    } else if (c == "close") {
      Out("close", zarCloseDatabase(h));
    } else if (c == "drop") {
      Out("drop", zarCatalogDrop(h, 0));
    } else if (c == "gettevid") {
      int rc = zarGetTEVid(h);
      Out("gettevid", rc, std::to_string(zarGetConfig()->smId));
    } else if (c == "unlocktables") {
      zarCatalogUnlockTables(h);
      Out("unlocktables", 0);
    } else if (c == "session") {
      int64_t id = 0;
      int rc = dsmSerialMgr(h, SMC_SER_SESSION, &id);
      if (rc == 0) h->sessionId = static_cast<int32_t>(id);
      Out("session", rc, std::to_string(id));
    } else if (c == "setsession") {
      h->sessionId = std::atoi(arg());
      Out("setsession", 0);
    } else if (c == "lock") {
      Out("lock", smcLockMgr(h, SMC_LOCK));
    } else if (c == "unlock") {
      Out("unlock", smcLockMgr(h, SMC_UNLOCK));
    } else if (c == "adminlock") {
      Out("adminlock", smcLockMgr(h, SMC_LOCK | SMC_LOCK_ADMIN));
    } else if (c == "adminunlock") {
      Out("adminunlock", smcLockMgr(h, SMC_UNLOCK | SMC_LOCK_ADMIN));
    } else if (c == "serial") {
      int kind = std::atoi(arg());
      int count = std::atoi(arg());
      for (int n = 0; n < count; ++n) {
        int64_t v = 0;
        int rc = dsmSerialMgr(h, kind, &v);
        Out("serial", rc, std::to_string(v));
      }
    } else if (c == "setserial") {
      int kind = std::atoi(arg());
      long long value = std::atoll(arg());
      Out("setserial", dsmSetCurrentSerial(h, kind, value));
    } else if (c == "tableopen") {
      int id = std::atoi(arg());
      int mode = std::atoi(arg());
      Out("tableopen", zarCatalogTableOpen(h, id, mode));
    } else if (c == "tableclose") {
      Out("tableclose", smcCatalogTableClose(h, std::atoi(arg())));
    } else if (c == "tablelock") {
      Out("tablelock", smcCatalogTableLock(h, std::atoi(arg())));
    } else if (c == "tableunlock") {
      Out("tableunlock", smcCatalogTableUnlock(h, std::atoi(arg())));
    } else if (c == "insertsession") {
      Out("insertsession", smcInsertSession(h, h->sessionId));
    } else if (c == "deletesession") {
      Out("deletesession", smcDeleteSession(h));
    } else if (c == "pooladd") {
      TevPool pool{};
      std::snprintf(pool.pool_name, sizeof pool.pool_name, "%s", arg());
      int rc = zarInsertPool(h, &pool);
      Out("pooladd", rc, std::to_string(pool.pool_id));
    } else if (c == "pooldel") {
      Out("pooldel", zarDeletePool(h, arg()));
    } else if (c == "poolid") {
      TevPool pool{};
      int rc = zarGetPoolId(h, arg(), &pool);
      Out("poolid", rc, std::to_string(pool.pool_id) + " " + pool.pool_name);
    } else if (c == "poolname") {
      TevPool pool{};
      int rc = zarGetPoolName(h, std::atoi(arg()), &pool);
      Out("poolname", rc, std::to_string(pool.pool_id) + " " + pool.pool_name);
    } else if (c == "poollist") {
      TypedList* list = nullptr;
      int rc = zarGetPoolList(h, &list);
      std::string all;
      int32_t status = 0;
      for (void* e = ll_first(list, &status); e != nullptr && status == LL_OK;
           e = ll_next(list, &status)) {
        const auto* p = static_cast<const TevPool*>(e);
        all += std::to_string(p->pool_id) + ":" + p->pool_name + " ";
      }
      ll_destroy(&list, 1, &status);
      Out("poollist", rc, all);
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
