// The option-letter dispatch: -C catalog, -D device, -O object, -P pool,
// -Q test aids, -S table dump, -H/-h help. Every letter but -C runs inside
// a session opened before the dispatch; -C opens its own where its command
// needs one.
#include "storage/command/zutev_dispatch.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/fields.h"
#include "base/msgfile.h"
#include "storage/catalog/smc_lock.h"
#include "storage/catalog/smc_export.h"
#include "storage/catalog/smc_obj.h"
#include "storage/catalog/smc_state.h"
#include "storage/catalog/smcatalog.h"
#include "storage/command/pending_bodies.h"
#include "storage/command/sm_trace.h"
#include "storage/command/sm_util.h"
#include "storage/command/typed_list.h"
#include "storage/command/zutev.h"
#include "storage/datapath/smsession.h"

// A refusal or failure message with one argument, on the activity log and
// standard error.
#define ZUTEV_REFUSE(number, ...) \
  SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(number), __VA_ARGS__)
#define ZUTEV_REFUSE0(number) SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", SM_MSG(number))

namespace {

// The object-id list lives until the process ends.
TypedList* g_object_ids = nullptr;

struct Session {
  zarHandle* handle = nullptr;
  int created = 0;
  bool open = false;
  bool released = false;  // the locks of a creating open are released
};

// A session whose open created the catalog holds the catalog lock and the
// new tables' whole-file locks; they are released once.
void ReleaseCreated(Session* s) {
  if (!s->open || !s->created || s->released) return;
  s->released = true;
  zarCatalogUnlockTables(s->handle);
  smcReleaseCatalogLock(s->handle);
}

// Closes the session if it is open: 0, or the close's failure (logged).
// The locks of a creating open are released first, so that no path leaves
// a new catalog locked behind it.
int Close(Session* s) {
  if (!s->open) return 0;
  ReleaseCreated(s);
  s->open = false;
  int rc = zarCloseSession(s->handle);
  s->handle = nullptr;
  if (rc != 0) ZUTEV_REFUSE0(88189);
  return rc;
}

bool Is(const char* arg, const char* option) { return std::strcmp(arg, option) == 0; }

// ---- -C -------------------------------------------------------------------

struct CatalogOption {
  const char* option;
  int32_t flag;
  int32_t commands;  // the command codes that accept it
};

constexpr CatalogOption kCatalogOptions[] = {
    {"-l", ZUTEV_OPT_L, ZUTEV_CHECK},
    {"-n", ZUTEV_OPT_N, ZUTEV_CHECK},
    {"-d", ZUTEV_OPT_D, ZUTEV_INIT},
    {"-y", ZUTEV_OPT_Y, ZUTEV_IMPORT | ZUTEV_INIT},
};

// The flag of a catalog option, or 0 when the command does not take it.
int32_t CatalogFlag(const char* arg, int32_t code) {
  for (const CatalogOption& o : kCatalogOptions) {
    if (Is(arg, o.option)) return (o.commands & code) ? o.flag : 0;
  }
  return 0;
}

// Runs a catalog command under the catalog lock (taken unless the open
// created the catalog, whose lock the session already holds). The lock's
// failure is the result; otherwise 0 whatever the command returned.
template <typename Body>
int UnderCatalogLock(Session* s, Body body) {
  if (!s->created) {
    int rc = smcAcquireCatalogLock(s->handle);
    if (rc != 0) {
      Close(s);
      return rc;
    }
  }
  body();
  if (s->created) {
    ReleaseCreated(s);
  } else {
    smcReleaseCatalogLock(s->handle);
  }
  Close(s);
  return 0;
}

int CatalogLetter(int argc, char** argv, bool* ended) {
  if (argc < 3) {
    zutevUsageCatalog();
    ZUTEV_REFUSE(88303, argv[1]);
    return 0;
  }
  constexpr int32_t kAccepted =
      ZUTEV_CHECK | ZUTEV_EXPORT | ZUTEV_IMPORT | ZUTEV_INIT | ZUTEV_DETAIL | ZUTEV_UNLOCK;
  int32_t code = zutevCommandCode(argv[2]);
  if (code == -1 || (code & kAccepted) == 0) {
    zutevUsageCatalog();
    ZUTEV_REFUSE(88301, argv[2]);
    return -1;
  }

  Session s;
  if (code & (ZUTEV_CHECK | ZUTEV_EXPORT | ZUTEV_IMPORT | ZUTEV_INIT)) {
    int rc = zarOpenSession(&s.handle, code == ZUTEV_INIT ? 1 : 0, &s.created);
    if (rc == 88114 && code == ZUTEV_INIT) {
      *ended = false;
      return 0;
    }
    if (rc != 0) {
      ZUTEV_REFUSE0(88190);
      *ended = false;
      return rc;
    }
    s.open = true;
  }

  int32_t flags = 0;
  for (int i = 3; i < argc; ++i) {
    int32_t flag = CatalogFlag(argv[i], code);
    if (flag == 0) {
      zutevUsageCatalog();
      ZUTEV_REFUSE(88305, argv[i]);
      Close(&s);
      return -1;
    }
    flags |= flag;
  }

  switch (code) {
    case ZUTEV_CHECK:
      return UnderCatalogLock(&s, [&] {
        zutevCheckCatalogTables((flags & ZUTEV_OPT_L) ? 1 : 0, (flags & ZUTEV_OPT_N) ? 0 : 1);
      });
    case ZUTEV_EXPORT:
      return UnderCatalogLock(&s, [&] { zarCatalogExport(s.handle); });
    case ZUTEV_IMPORT: {
      if (!(flags & ZUTEV_OPT_Y) && !zutevConfirm(SM_MSG(87311))) {
        Close(&s);
        return 0;
      }
      if (!s.created) {
        ZUTEV_REFUSE0(87404);
        Close(&s);
        return 3;
      }
      int rc = zarCatalogImport(s.handle);
      ReleaseCreated(&s);
      Close(&s);
      return rc;
    }
    case ZUTEV_INIT: {
      bool files = (flags & ZUTEV_OPT_D) != 0;
      if (!(flags & ZUTEV_OPT_Y) && !zutevConfirm(files ? SM_MSG(87310) : SM_MSG(87309))) {
        Close(&s);
        return 0;
      }
      // A successful drop has closed and erased the tables; the session is
      // not closed after it in either case.
      int rc = zarCatalogDrop(s.handle, files ? 1 : 0);
      if (rc == 0) SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_PLAIN, "%s", SM_MSG(87154));
      return rc;
    }
    case ZUTEV_DETAIL:
      zarCatalogShowDetails();
      return 0;
    default:
      zarCatalogUnlock();
      return 0;
  }
}

// ---- -D -------------------------------------------------------------------

int DeviceLetter(Session* s, int argc, char** argv) {
  if (argc < 3) {
    zutevUsageDevice();
    ZUTEV_REFUSE(88303, argv[1]);
    Close(s);
    return 0;
  }
  TevDevice device{};
  int32_t code = 0;
  int32_t flags = 0;
  char spare[1024] = {};
  int parsed = zutevProcDeviceArgs(s->handle, argc - 2, argv + 2, &code, &device, &flags, spare);
  if (parsed != 0 && parsed != 2) {
    Close(s);
    return parsed;
  }

  int rc = -1;
  switch (code) {
    case ZUTEV_ADD:
      rc = zarInsertDevice(s->handle, &device);
      if (rc != 0) ZUTEV_REFUSE(88162, device.name);
      break;
    case ZUTEV_DEL:
      if (parsed != 2 &&
          !zutevConfirm(device.poolId == -1 ? SM_MSG(87312) : SM_MSG(87300))) {
        rc = 0;
        break;
      }
      rc = zarDeleteDevices(s->handle, device.name, device.poolId);
      if (rc != 0 && rc != 17) ZUTEV_REFUSE(88058, device.name);
      break;
    case ZUTEV_UPDATE:
      rc = smcModifyDevice(s->handle, &device);
      if (rc == 17) ZUTEV_REFUSE(88056, device.name);
      if (rc != 0) ZUTEV_REFUSE(88196, device.name);
      break;
    case ZUTEV_LIST:
      rc = zutevListDevices(s->handle, 0);
      break;
    case ZUTEV_LIST_XML:
      rc = zutevListDevices(s->handle, 1);
      break;
    case ZUTEV_LIST_UNLOAD:
      rc = zutevUnloadDeviceFile(s->handle, &device);
      break;
    case ZUTEV_LIST_LOAD:
      rc = zutevLoadDeviceFile(s->handle, &device);
      break;
    case ZUTEV_SCAN:
      rc = zarDeviceScan(s->handle, device.name);
      if (rc != 0) ZUTEV_REFUSE(88056, device.name);
      break;
    case ZUTEV_PURGE:
      rc = zarDevicePurge(s->handle, device.name);
      if (rc != 0) ZUTEV_REFUSE(88056, device.name);
      break;
    default:
      break;
  }
  Close(s);
  return rc;
}

// ---- -O -------------------------------------------------------------------

// Adds one id to the object-id list: 0, or -1 after its message.
int AddObjectId(const char* text) {
  uint64_t id = std::strtoull(text, nullptr, 10);
  void* block = sm_zalloc(sizeof id);
  int32_t status = 0;
  if (block == nullptr) {
    ll_destroy(&g_object_ids, 1, &status);
    ZUTEV_REFUSE0(88002);
    return -1;
  }
  std::memcpy(block, &id, sizeof id);
  if (g_object_ids == nullptr) {
    g_object_ids = ll_create(block, LL_TYPE_INT64, sm_free, nullptr, 0, &status);
  } else {
    ll_insert(g_object_ids, block, &status);
  }
  if (status != LL_OK) {
    sm_free(&block);  // neither call kept it
    ZUTEV_REFUSE(88048, status);
    return -1;
  }
  return 0;
}

bool NoObjectIds() {
  int32_t status = 0;
  return g_object_ids == nullptr || ll_first(g_object_ids, &status) == nullptr;
}

int ObjectLetter(Session* s, int argc, char** argv) {
  if (argc < 3) {
    zutevUsageObject();
    ZUTEV_REFUSE(88303, argv[1]);
    Close(s);
    return 0;
  }
  int32_t code = zutevCommandCode(argv[2]);
  if (code != ZUTEV_DEL && code != ZUTEV_LIST && code != ZUTEV_DUMP && code != ZUTEV_DETAIL) {
    zutevUsageObject();
    ZUTEV_REFUSE(88301, argv[2]);
    Close(s);
    return -1;
  }
  bool yes = false;
  for (int i = 3; i < argc; ++i) {
    if (Is(argv[i], "-o")) {
      if (i + 1 >= argc) {
        zutevUsageObject();
        ZUTEV_REFUSE(88303, "-o");
        Close(s);
        return 0;
      }
      if (AddObjectId(argv[++i]) != 0) {
        Close(s);
        return -1;
      }
    } else if (Is(argv[i], "-y")) {
      yes = true;
    } else {
      zutevUsageObject();
      ZUTEV_REFUSE(88305, argv[i]);
      Close(s);
      return -1;
    }
  }

  if (code == ZUTEV_LIST) {
    if (yes) {
      zutevUsageObject();
      ZUTEV_REFUSE(88305, "-y");
      Close(s);
      return -1;
    }
    zarListObjects();
    Close(s);
    return 0;
  }
  if (NoObjectIds()) {
    zutevUsageObject();
    ZUTEV_REFUSE(88303, "del");
    Close(s);
    return -1;
  }
  if (code == ZUTEV_DETAIL) {
    int rc = zutevReportObjectDetail(s->handle, g_object_ids);
    Close(s);
    return rc;
  }
  if (code == ZUTEV_DEL && !yes && !zutevConfirm(SM_MSG(87304))) {
    Close(s);
    return 0;
  }
  // DEL and DUMP work through sessions of their own.
  int closed = Close(s);
  if (closed != 0) return closed;
  if (code == ZUTEV_DEL) return zutevDeleteObjects(g_object_ids);
  int rc = zutevDumpObjects(g_object_ids);
  if (rc != 0) ZUTEV_REFUSE0(88308);
  return rc;
}

// ---- -P -------------------------------------------------------------------

int PoolLetter(Session* s, int argc, char** argv) {
  if (argc < 3) {
    zutevUsagePool();
    ZUTEV_REFUSE(88303, argv[1]);
    Close(s);
    return 0;
  }
  int32_t code = zutevCommandCode(argv[2]);
  if (code != ZUTEV_ADD && code != ZUTEV_DEL && code != ZUTEV_LIST) {
    zutevUsagePool();
    ZUTEV_REFUSE(88301, argv[2]);
    Close(s);
    return -1;
  }
  if (code == ZUTEV_LIST) {
    zutevListPools(s->handle);
    Close(s);
    return 0;
  }
  if (argc < 4) {
    zutevUsagePool();
    ZUTEV_REFUSE(88303, argv[2]);
    Close(s);
    return 0;
  }
  if (std::strlen(argv[3]) > static_cast<size_t>(kZutevPoolNameMax)) {
    ZUTEV_REFUSE(88307, argv[3], kZutevPoolNameMax);
    Close(s);
    return -1;
  }
  ZutevPoolRecord pool{};
  pool.pool_id = 0;
  std::strcpy(pool.name, argv[3]);
  bool yes = false;
  for (int i = 4; i < argc; ++i) {
    if (Is(argv[i], "-y") && code == ZUTEV_DEL) {
      yes = true;
      continue;
    }
    if (!Is(argv[i], "-y")) zutevUsagePool();
    ZUTEV_REFUSE(88305, argv[i]);
    Close(s);
    return -1;
  }
  int rc = 0;
  if (code == ZUTEV_ADD) {
    rc = zutevAddPool(s->handle, &pool);
  } else if (yes || zutevConfirm(SM_MSG(87308))) {
    rc = zutevDeletePool(s->handle, &pool);
  }
  Close(s);
  return rc;
}

// ---- -Q -------------------------------------------------------------------

int TestAidLetter(Session* s, int argc, char** argv) {
  if (argc < 3) {
    ZUTEV_REFUSE(88303, argv[1]);
    Close(s);
    return 0;
  }
  std::printf("%s.\n", argv[2]);
  if (Is(argv[2], "set_current_copyid")) {
    if (argc < 4) {
      std::fflush(stdout);
      ZUTEV_REFUSE(88303, argv[1]);
      Close(s);
      return 0;
    }
    int64_t value = static_cast<int64_t>(std::strtoull(argv[3], nullptr, 10));
    std::printf("Using %" PRId64 " as the number.\n", value);
    int rc = dsmSetCurrentSerial(s->handle, 1, value);
    if (rc != 0) {
      std::printf("ERROR: Unable to set new copyid -- the value cannot be less than 0 or greater "
                  "than %" PRId64 "\n",
                  INT64_MAX);
    }
    Close(s);
    return rc;
  }
  if (Is(argv[2], "lock_catalog")) {
    // On success the lock stays taken after the process ends: the session
    // is left open on purpose.
    int rc = smcAcquireCatalogLock(s->handle);
    if (rc == 0) return 0;
    std::printf("Impossible to get a Catalog lock.\n");
    Close(s);
    return rc;
  }
  Close(s);
  return 0;
}

// ---- -S -------------------------------------------------------------------

int TableLetter(Session* s, int argc, char** argv) {
  if (argc < 3) {
    ZUTEV_REFUSE(88303, argv[1]);
    Close(s);
    return 0;
  }
  int32_t code = zutevCommandCode(argv[2]);
  if (code != ZUTEV_DUMP && code != ZUTEV_EXPORT) {
    ZUTEV_REFUSE(88301, argv[2]);
    Close(s);
    return -1;
  }
  if (code == ZUTEV_DUMP) {
    if (argc < 4) {
      ZUTEV_REFUSE(88303, argv[2]);
      Close(s);
      return 0;
    }
    rdownshift(argv[3]);
    for (int32_t id = SMC_TAB_LOCK; id <= SMC_TAB_DEVICE; ++id) {
      const CatalogTableDesc* desc = smcTableDesc(id);
      if (desc != nullptr && desc->dump != nullptr && Is(desc->name, argv[3])) {
        desc->dump(stdout, '\t');
        std::fflush(stdout);
        break;
      }
    }
  }
  Close(s);
  return 0;
}

}  // namespace

int zutevDispatch(int argc, char** argv, bool* ended) {
  *ended = true;
  if (argv[1][0] != '-') {
    zutevUsage(argv[0]);
    ZUTEV_REFUSE(88305, argv[1]);
    return 0;
  }
  const char letter = argv[1][1];
  if (letter == 'C') return CatalogLetter(argc, argv, ended);

  Session s;
  int rc = zarOpenSession(&s.handle, 0, &s.created);
  if (rc != 0) {
    ZUTEV_REFUSE0(88190);
    *ended = false;
    return rc;
  }
  s.open = true;
  ReleaseCreated(&s);

  switch (letter) {
    case 'D':
      return DeviceLetter(&s, argc, argv);
    case 'O':
      return ObjectLetter(&s, argc, argv);
    case 'P':
      return PoolLetter(&s, argc, argv);
    case 'Q':
      return TestAidLetter(&s, argc, argv);
    case 'S':
      return TableLetter(&s, argc, argv);
    case 'H':
    case 'h':
      zutevUsage(argv[0]);
      Close(&s);
      return 0;
    default:
      zutevUsage(argv[0]);
      ZUTEV_REFUSE(88305, argv[1]);
      Close(&s);
      return 0;
  }
}
