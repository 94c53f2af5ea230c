// Object inserts into the storage manager's catalog, and deletes of their
// parts, against SQLite doing the same work on like tables and indexes.
// Prints the time of every block of 10,000 operations, so that a catalog
// that slows down as it grows shows.
//
// Catalog: a new catalog, opened as a session opens it. Each object insert
// makes the calls of an object insert and of its commit, in their order:
// the path's highest version (dsmGetObjectVersion), a copy id (serial kind
// 1), the path's id (smcGetPathId, 17 for a new path) and a new path row
// (smcObjPathInsert, which takes serial kind 6), the object row and one
// detail row through the session's files, and the commit of the row
// (smcUnlockObject, which makes the object its path's active one). Then
// the details of N/10 copies are deleted in copy-id order
// (smcDeleteDetails).
//
// SQLite (WAL, synchronous=OFF, transactions of 1,000 operations): the
// same rows in tables object_path (index on the hash), object (index on
// path id and version) and object_detail (index on the copy id), the
// counters in a one-row serial table, and per object the same reads and
// writes: path lookup by hash and name, highest version, two counter
// updates, the three inserts, the path row's active object and the
// object's transaction mark.
//
// Paths: N distinct names; N/10 of them come in pairs with a common prefix
// followed by two 512-letter texts whose hashes are equal.
//
// Usage: bench_catalog [N [directory]]   (N defaults to 100,000; the
// directory to $TMPDIR or /tmp; a new directory is made inside it)

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/fields.h"
#include "isam/isam.h"
#include "sqltypes/bigint.h"
#include "storage/catalog/smc_lock.h"
#include "storage/catalog/smc_obj.h"
#include "storage/catalog/smc_odt.h"
#include "storage/catalog/smcatalog.h"
#include "storage/command/config.h"
#include "storage/command/sm_util.h"
#include "tests/storage/catalog_handle.h"

namespace {

constexpr int kBlock = 10000;
constexpr int kBatch = 1000;
constexpr char kSpace[] = "/space";

using Clock = std::chrono::steady_clock;

// 512 letters: "a" where the index has an even number of one bits, else
// "b" (swapped for the second text). Behind a common prefix the two names
// hash alike.
std::string Thue(bool swapped) {
  std::string s;
  for (int i = 0; i < 512; ++i) {
    const bool even = __builtin_popcount(static_cast<unsigned>(i)) % 2 == 0;
    s += (even != swapped) ? 'a' : 'b';
  }
  return s;
}

std::vector<std::string> MakePaths(int n) {
  const std::string a = Thue(false), b = Thue(true);
  std::vector<std::string> paths;
  char prefix[64];
  for (int i = 0; i < n; ++i) {
    if (i % 10 == 0) {
      // Every tenth name is one of a colliding pair.
      const int pair = i / 20;
      std::snprintf(prefix, sizeof prefix, "/clash/%06d/", pair);
      paths.push_back(prefix + ((i / 10) % 2 == 0 ? a : b));
    } else {
      std::snprintf(prefix, sizeof prefix, "/data/dir%03d/file%07d", i % 997, i);
      paths.push_back(prefix);
    }
  }
  return paths;
}

// Runs op(i) for i in [0, n) and prints the seconds of each block.
std::vector<double> Timed(const char* store, const char* what, int n,
                          const std::function<bool(int)>& op) {
  std::vector<double> blocks;
  auto start = Clock::now();
  for (int i = 0; i < n; ++i) {
    if (!op(i)) {
      std::fprintf(stderr, "%s: %s %d failed\n", store, what, i);
      std::exit(1);
    }
    if ((i + 1) % kBlock == 0 || i + 1 == n) {
      const auto now = Clock::now();
      blocks.push_back(std::chrono::duration<double>(now - start).count());
      start = now;
    }
  }
  std::printf("%-8s %-8s", store, what);
  double total = 0;
  for (double s : blocks) {
    std::printf(" %6.3f", s);
    total += s;
  }
  std::printf("  total %7.3f  last/first %.2f\n", total, blocks.back() / blocks.front());
  std::fflush(stdout);
  return blocks;
}

double Sum(const std::vector<double>& v) {
  double s = 0;
  for (double x : v) s += x;
  return s;
}

// ---- the catalog ---------------------------------------------------------

struct CatalogRun {
  std::vector<double> insert, remove;
};

CatalogRun RunCatalog(const std::vector<std::string>& paths, const std::string& dir) {
  const std::string etc = dir + "/etc";
  mkdir(etc.c_str(), 0700);
  setenv("TARVELONDIR", dir.c_str(), 1);
  setenv("ZIVEVODAREVEZO", "bench", 1);
  setenv("TEV_CATALOG_PATH", (dir + "/catalog").c_str(), 1);
  setenv("TEV_ACT_LOG", (dir + "/act.log").c_str(), 1);
  unsetenv("TEV_DEBUG");
  if (zarLoadConfig(0) != 0) {
    std::fprintf(stderr, "configuration not loaded\n");
    std::exit(1);
  }
  zarHandle* h = tevtest::NewCatalogHandle();
  if (zarCatalogCreate(h) != 0 || smcReleaseCatalogLock(h) != 0 || zarCloseDatabase(h) != 0 ||
      zarOpenDatabase(h) != 0 || zarGetTEVid(h) != 0) {
    std::fprintf(stderr, "catalog not made\n");
    std::exit(1);
  }
  h->sessionId = 1;

  CatalogRun run;
  std::vector<int64_t> copies;
  const int n = static_cast<int>(paths.size());
  // Seconds spent in each step of the inserts.
  enum { kVersion, kCopyId, kPathId, kPathRow, kRows, kCommit, kSteps };
  static const char* const kStepNames[kSteps] = {"version", "copy id", "path id",
                                                 "path row", "object+detail", "commit"};
  double steps[kSteps] = {};
  auto mark = Clock::now();
  auto lap = [&](int step) {
    const auto now = Clock::now();
    steps[step] += std::chrono::duration<double>(now - mark).count();
    mark = now;
  };
  run.insert = Timed("catalog", "insert", n, [&](int i) {
    const char* path = paths[static_cast<size_t>(i)].c_str();
    int32_t version = 0;
    int64_t copy_id = 0, path_id = 0;
    mark = Clock::now();
    if (dsmGetObjectVersion(h, kSpace, path, &version) != 0) return false;
    lap(kVersion);
    if (dsmSerialMgr(h, SMC_SER_COPYID, &copy_id) != 0) return false;
    lap(kCopyId);
    int rc = smcGetPathId(h, path, kSpace, &path_id);
    lap(kPathId);
    if (rc == 17) rc = smcObjPathInsert(h, path, kSpace, "F", &path_id);
    lap(kPathRow);
    if (rc != 0) return false;
    unsigned char row[SMC_OBJECT_RECLEN] = {};
    stlong(1, row);
    row[4] = 'I';
    stbigint(path_id, row + 5);
    stchar("", reinterpret_cast<char*>(row + 13), 927);
    stlong(h->sessionId, row + SMC_OBJ_SESSIONID);
    stbigint(copy_id, row + SMC_OBJ_COPYID);
    stlong(version + 1, row + 952);
    stlong(4096, row + 956);
    stbigint(1700000000 + i, row + 976);
    if (iswrite(h->tableFd[SMC_TAB_OBJECT], row) != 0) return false;
    const int recnum = isrecnum;
    unsigned char detail[SMC_DETAIL_RECLEN] = {};
    stlong(1, detail);
    stlong(i + 1, detail + 4);
    stbigint(copy_id, detail + 8);
    stlong(1, detail + 16);
    stbigint(4096, detail + 20);
    if (iswrite(h->tableFd[SMC_TAB_DETAIL], detail) != 0) return false;
    lap(kRows);
    copies.push_back(copy_id);
    const bool committed = smcUnlockObject(h, recnum, 1) == 0;
    lap(kCommit);
    return committed;
  });
  std::printf("catalog  insert steps:");
  for (int k = 0; k < kSteps; ++k) std::printf(" %s %.3f", kStepNames[k], steps[k]);
  std::printf("\n");
  run.remove = Timed("catalog", "delete", n / 10, [&](int i) {
    return smcDeleteDetails(copies[static_cast<size_t>(i)]) == 0;
  });
  zarCloseDatabase(h);
  tevtest::FreeCatalogHandle(h);
  return run;
}

// ---- SQLite ----------------------------------------------------------------

CatalogRun RunSqlite(const std::vector<std::string>& paths, const std::string& dir) {
  sqlite3* db = nullptr;
  if (sqlite3_open((dir + "/catalog.sqlite").c_str(), &db) != SQLITE_OK) {
    std::fprintf(stderr, "sqlite3_open failed\n");
    std::exit(1);
  }
  sqlite3_exec(db,
               "PRAGMA journal_mode=WAL; PRAGMA synchronous=OFF;"
               "CREATE TABLE serial(copy INTEGER, path INTEGER);"
               "INSERT INTO serial VALUES(0, 0);"
               "CREATE TABLE object_path(id INTEGER PRIMARY KEY, hash INTEGER, type TEXT,"
               " recent_id INTEGER, recent_ts INTEGER, name TEXT, pathname TEXT);"
               "CREATE INDEX path_hash ON object_path(hash);"
               "CREATE TABLE object(copyid INTEGER PRIMARY KEY, txid INTEGER, status TEXT,"
               " pathid INTEGER, sessionid INTEGER, version INTEGER, bytes INTEGER,"
               " createtime INTEGER);"
               "CREATE INDEX object_path_version ON object(pathid, version);"
               "CREATE TABLE object_detail(vol INTEGER, seq INTEGER, copyid INTEGER,"
               " part INTEGER, size INTEGER);"
               "CREATE INDEX detail_copy ON object_detail(copyid);",
               nullptr, nullptr, nullptr);
  auto prep = [&](const char* sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) {
      std::fprintf(stderr, "%s: %s\n", sql, sqlite3_errmsg(db));
      std::exit(1);
    }
    return s;
  };
  sqlite3_stmt* find = prep(
      "SELECT id FROM object_path WHERE hash = ?1 AND pathname = ?2 AND name = ?3");
  sqlite3_stmt* highest = prep("SELECT max(version) FROM object WHERE pathid = ?1");
  sqlite3_stmt* copy = prep("UPDATE serial SET copy = copy + 1 RETURNING copy");
  sqlite3_stmt* pathno = prep("UPDATE serial SET path = path + 1 RETURNING path");
  sqlite3_stmt* addpath = prep(
      "INSERT INTO object_path VALUES(?1, ?2, 'F', 0, 0, ?3, ?4)");
  sqlite3_stmt* addobj = prep(
      "INSERT INTO object VALUES(?1, 1, 'I', ?2, 1, ?3, 4096, ?4)");
  sqlite3_stmt* adddet = prep("INSERT INTO object_detail VALUES(1, ?1, ?2, 1, 4096)");
  sqlite3_stmt* getobj = prep("SELECT pathid, createtime FROM object WHERE copyid = ?1");
  sqlite3_stmt* getpath = prep("SELECT recent_ts FROM object_path WHERE id = ?1");
  sqlite3_stmt* active = prep(
      "UPDATE object_path SET recent_id = ?2, recent_ts = ?3 WHERE id = ?1");
  sqlite3_stmt* commit = prep("UPDATE object SET txid = 0 WHERE copyid = ?1");
  sqlite3_stmt* deldet = prep("DELETE FROM object_detail WHERE copyid = ?1");

  // One step of a statement; the first column of its row, or -1.
  auto step = [](sqlite3_stmt* s) -> int64_t {
    const int rc = sqlite3_step(s);
    const int64_t v = rc == SQLITE_ROW ? sqlite3_column_int64(s, 0) : (rc == SQLITE_DONE ? 0 : -1);
    sqlite3_reset(s);
    return v;
  };
  auto batch = [&](int i) {
    if (i % kBatch == 0) {
      if (i > 0) sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
      sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    }
  };
  auto path_id = [&](const std::string& path, int64_t hash) -> int64_t {
    sqlite3_bind_int64(find, 1, hash);
    sqlite3_bind_text(find, 2, path.c_str(), static_cast<int>(path.size()), SQLITE_STATIC);
    sqlite3_bind_text(find, 3, kSpace, -1, SQLITE_STATIC);
    return step(find);  // 0: no such path
  };

  CatalogRun run;
  std::vector<int64_t> copies;
  const int n = static_cast<int>(paths.size());
  run.insert = Timed("SQLite", "insert", n, [&](int i) {
    batch(i);
    const std::string& path = paths[static_cast<size_t>(i)];
    const int64_t hash = static_cast<int64_t>(sm_hash_string(path.c_str()));
    int64_t version = 0;
    int64_t pid = path_id(path, hash);
    if (pid > 0) {
      sqlite3_bind_int64(highest, 1, pid);
      version = step(highest);
    }
    const int64_t copy_id = step(copy);
    pid = path_id(path, hash);
    if (pid == 0) {
      pid = step(pathno);
      sqlite3_bind_int64(addpath, 1, pid);
      sqlite3_bind_int64(addpath, 2, hash);
      sqlite3_bind_text(addpath, 3, kSpace, -1, SQLITE_STATIC);
      sqlite3_bind_text(addpath, 4, path.c_str(), static_cast<int>(path.size()), SQLITE_STATIC);
      if (step(addpath) < 0) return false;
    }
    const int64_t created = 1700000000 + i;
    sqlite3_bind_int64(addobj, 1, copy_id);
    sqlite3_bind_int64(addobj, 2, pid);
    sqlite3_bind_int64(addobj, 3, version + 1);
    sqlite3_bind_int64(addobj, 4, created);
    if (step(addobj) < 0) return false;
    sqlite3_bind_int64(adddet, 1, i + 1);
    sqlite3_bind_int64(adddet, 2, copy_id);
    if (step(adddet) < 0) return false;
    // The commit: the object row, its path row, then both rewritten.
    sqlite3_bind_int64(getobj, 1, copy_id);
    if (step(getobj) != pid) return false;
    sqlite3_bind_int64(getpath, 1, pid);
    if (step(getpath) > created) return false;
    sqlite3_bind_int64(active, 1, pid);
    sqlite3_bind_int64(active, 2, copy_id);
    sqlite3_bind_int64(active, 3, created);
    if (step(active) < 0) return false;
    sqlite3_bind_int64(commit, 1, copy_id);
    copies.push_back(copy_id);
    return step(commit) >= 0;
  });
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  run.remove = Timed("SQLite", "delete", n / 10, [&](int i) {
    batch(i);
    sqlite3_bind_int64(deldet, 1, copies[static_cast<size_t>(i)]);
    return step(deldet) >= 0;
  });
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  for (sqlite3_stmt* s : {find, highest, copy, pathno, addpath, addobj, adddet, getobj, getpath,
                          active, commit, deldet}) {
    sqlite3_finalize(s);
  }
  sqlite3_close(db);
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 100000;
  if (n < kBlock) {
    std::fprintf(stderr, "N must be at least %d\n", kBlock);
    return 2;
  }
  std::string base = argc > 2 ? argv[2] : "";
  if (base.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    base = tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp";
  }
  std::string templ = base + "/bench_catalog.XXXXXX";
  if (mkdtemp(templ.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string dir = templ;
  std::printf("bench_catalog: N = %d, blocks of %d (seconds), in %s\n", n, kBlock, dir.c_str());
  const std::vector<std::string> paths = MakePaths(n);
  const CatalogRun cat = RunCatalog(paths, dir);
  const CatalogRun lite = RunSqlite(paths, dir);
  std::printf("catalog / SQLite: insert %.2f, delete %.2f, whole run %.2f\n",
              Sum(cat.insert) / Sum(lite.insert), Sum(cat.remove) / Sum(lite.remove),
              (Sum(cat.insert) + Sum(cat.remove)) / (Sum(lite.insert) + Sum(lite.remove)));
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
