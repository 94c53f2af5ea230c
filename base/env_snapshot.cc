// Environment snapshots that the SQL client runtime sends to a database
// server: name/value pairs, values converted to the database code set.

#include <cstdlib>
#include <cstring>
#include <iterator>

#include "base/env.h"
#include "base/client_locale.h"

namespace {

constexpr const char* kLocaleNames[] = {"DB_LOCALE", "DBNLS", "LC_CTYPE", "LC_COLLATE",
                                        "LC_NUMERIC", "LC_MONETARY", "LC_TIME"};

constexpr const char* kConnectionNames[] = {
    "DBDATE", "DBMONEY", "DBALSBC", "DBCONNECT", "DBCSCONV", "CLIENT_LOCALE",
    "TARVELONSTACKSIZE", "DBSPACETEMP", "GL_DATE", "COLLCHAR", "NODEFDAC", "DELIMIDENT",
    "RASHELP", "STMT_CACHE", "STMT_CACHE_DEBUG", "ZEL_LONGID", "CLNT_PAM_CAPABLE",
    "ZIVEVODAREVEZO", "TARVELONCONTIME", "ZEL_NODBPROC", "ZEL_CRV_CONNECTION_ONLY"};

constexpr const char* kSnapshotNames[] = {
    "DBTIME", "DBLANG", "DBMAXPROC", "DBTEMP", "DEBUG", "DUMPCORE", "DUMPDIR", "DUMPMEM",
    "DUMPSHMEM", "GCORE", "ZEL_NOZEROMDY", "NOSHMSG", "PSORT_DBTEMP", "PSORT_NPROCS", "SHELL",
    "TZ", "W1", "W2", "NOSORTINDEX", "SORTINDEX", "DBUPSPACE", "SUBQCACHESZ", "NO_KEYFIRST",
    "ZEL_NO_KEYSTART", "NO_PREDPROMOTE", "NO_SUBQF", "ZEL_FLAT_UCSQ", "ANSIOWNER",
    "UVIEW_CRTTMP", "PDQPRIORITY", "ZEL_DIRECTIVES", "ZEL_DW_OPT", "ZEL_NO_OROPT",
    "ZEL_UPDDESC", "FET_BUF_SIZE", "OPTCOMPIND", "OPTOFC", "TARVELONCONRETRY",
    "TARVELONCONTIME", "GL_DATETIME", "GL_MATCHES", "DBCENTURY", "PLCONFIG", "DBANSIWARN",
    "DBPATH", "PATH", "CR_LOCKBLOB", "LOCKSSFU", "LIGHT_SCANS", "SQL_FROM_DBIMPORT",
    "ZEZAR_LO_PATH", "DBTODAY", "NODEFDAC", "OPT_GOAL", "ZEL_DIRTY_WAIT", "DEFAULT_ATTACH",
    "TRACECUDRARG", "FORCE_DB_DROP", "ZEL_DEF_TABLE_LOCKMODE", "USE_DTENV",
    "ZEL_XFER_SHMBASE", "USETABLENAME", "ZEL_PAD_VARCHAR", "ZEL_MULTIPREPSTMT", "NONEXCLTRIG",
    "VODR_UNDOC_B151523", "VODR_UNDOC_B162380", "DBZUPLOAD", "ZEL_EXTDIRECTIVES",
    "ZEL_XASTDCOMPLIANCE_XAEND", "VODR_UNDOC_B161362", "ZEL_NOT_STRICT_THOUS_SEP",
    "ZEL_NODBPROC", "ZEL_COMPRESSION_MIN_ROWS", "ZEL_COMPRESSION_SAMPLE_SIZE",
    "ZEL_COMPRESSION_MIN_KEYS", "ZEL_RU_DISKVERSION", "ZEL_RU_SEC_DISKVERSION",
    "ZEL_RU_EXTVERSION", "ZEL_RU_SEC_EXTVERSION", "ZEL_UNLOAD_DLQ_CSV_FORMAT",
    "ZEL_BATCHEDREAD_TABLE", "ZEL_BATCHEDREAD_INDEX", "ZEL_BATCHEDREAD_KEYONLY", "ZEL_RA_PAGES",
    "ZEL_RA_THRESHOLD", "ZEL_DISABLE_REFKEYINDEX", "ZEL_LVCHARSORT", "ZEL_MAX_TMPTAB_FEXT_SZ",
    "CLIENT_LABEL"};
static_assert(std::size(kSnapshotNames) == 90);
static_assert(std::size(kConnectionNames) == 21);

// Fills a snapshot pair by pair; any failure frees everything.
class Builder {
 public:
  Builder(EnvSnapshot* snap, int32_t capacity) : snap_(snap) {
    snap->count = 0;
    snap->names = static_cast<const char**>(std::calloc(static_cast<size_t>(capacity), sizeof(char*)));
    snap->values = static_cast<char**>(std::calloc(static_cast<size_t>(capacity), sizeof(char*)));
    ok_ = snap->names != nullptr && snap->values != nullptr;
  }
  bool ok() const { return ok_; }

  // Adds name with value, converted for the server unless raw.
  void Add(const char* name, const char* value, bool raw = false) {
    if (!ok_) return;
    char* copy = nullptr;
    int r = raw ? 0 : rgl_env_to_server(value, &copy);
    if (r == 0) copy = strdup(value);
    if (r < 0 || copy == nullptr) {
      ok_ = false;
      return;
    }
    snap_->names[snap_->count] = name;
    snap_->values[snap_->count] = copy;
    snap_->count++;
  }
  // Adds the variable when it is set.
  void AddIfSet(const char* name, bool raw = false) {
    if (const char* v = ggetenv(name)) Add(name, v, raw);
  }
  int Finish() {
    if (ok_) return 0;
    renvlist_free(snap_);
    return -1;
  }

 private:
  EnvSnapshot* snap_;
  bool ok_;
};

}  // namespace

int renvlist_all(EnvSnapshot* snap) {
  if (snap == nullptr) return -1;
  Builder b(snap, 91);
  for (const char* name : kSnapshotNames) b.AddIfSet(name);
  return b.Finish();
}

int renvlist_conn(EnvSnapshot* snap, const char* dbpath) {
  if (snap == nullptr) return -1;
  Builder b(snap, 29);
  if (dbpath == nullptr) {
    renvlist_free(snap);
    return -1;
  }
  b.Add("DBPATH", dbpath);
  for (const char* name : kConnectionNames) b.AddIfSet(name);
  int mode = rgl_dbnls_mode();
  if (mode == 1 || mode == 2) {
    for (const char* name : kLocaleNames) b.AddIfSet(name);
  } else {
    if (const char* v = ggetenv_idx("DB_LOCALE", ENVROW_DB_LOCALE)) b.Add("DB_LOCALE", v, true);
  }
  return b.Finish();
}

void renvlist_free(EnvSnapshot* snap) {
  if (snap == nullptr) return;
  if (snap->values != nullptr) {
    for (int32_t i = 0; i < snap->count; i++) std::free(snap->values[i]);
  }
  std::free(snap->values);
  std::free(const_cast<char**>(snap->names));
  snap->names = nullptr;
  snap->values = nullptr;
  snap->count = 0;
}
