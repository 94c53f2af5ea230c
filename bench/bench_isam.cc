// The same keyed workload on the ISAM library and on three other embedded
// stores, in one run, printed as a table of operations per second and of
// ratios against SQLite.
//
// Workload: N inserts of 100-byte records in random key order, each with a
// 4-byte unique key and an 8-byte key shared by about 50 records; N random
// reads by the unique key; a full scan in the order of each key; N/10
// rewrites (new duplicate key and payload) and N/10 deletes, both by the
// unique key. No store syncs to disk: SQLite runs in WAL mode with
// synchronous=OFF, LMDB with MDB_NOSYNC, Berkeley DB without an
// environment. SQLite and LMDB work in transactions of 1,000 operations.
//
// Usage: bench_isam [N [directory]]   (N defaults to 1,000,000)

#include <db.h>
#include <fcntl.h>
#include <lmdb.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "isam/isam.h"

namespace {

constexpr int kRecLen = 100;
constexpr int kBatch = 1000;

struct Workload {
  int n = 0;
  std::vector<uint32_t> insert_order;  // unique keys in insert order
  std::vector<uint32_t> reads;         // random unique keys
  std::vector<uint32_t> rewrites;      // distinct unique keys
  std::vector<uint32_t> deletes;       // distinct unique keys, none rewritten
};

Workload MakeWorkload(int n) {
  Workload w;
  w.n = n;
  std::mt19937 rng(12345);
  w.insert_order.resize(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) w.insert_order[static_cast<size_t>(i)] = static_cast<uint32_t>(i);
  std::shuffle(w.insert_order.begin(), w.insert_order.end(), rng);
  for (int i = 0; i < n; ++i) w.reads.push_back(static_cast<uint32_t>(rng() % static_cast<uint32_t>(n)));
  std::vector<uint32_t> pick = w.insert_order;
  std::shuffle(pick.begin(), pick.end(), rng);
  w.rewrites.assign(pick.begin(), pick.begin() + n / 10);
  w.deletes.assign(pick.begin() + n / 10, pick.begin() + 2 * (n / 10));
  return w;
}

void Put32(uint32_t v, unsigned char* p) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

// The duplicate key of record a in generation g (0 inserted, 1 rewritten).
uint64_t DupKey(uint32_t a, int g, int n) {
  uint64_t groups = static_cast<uint64_t>(std::max(1, n / 50));
  return (static_cast<uint64_t>(a) * 2654435761u + static_cast<uint64_t>(g) * 97) % groups;
}

// Record: bytes 0-3 unique key, 4-11 duplicate key (big-endian), payload.
void MakeRecord(uint32_t a, int g, int n, unsigned char* r) {
  Put32(a, r);
  uint64_t b = DupKey(a, g, n);
  Put32(static_cast<uint32_t>(b >> 32), r + 4);
  Put32(static_cast<uint32_t>(b), r + 8);
  for (int i = 12; i < kRecLen; ++i) r[i] = static_cast<unsigned char>(a * 31 + static_cast<uint32_t>(i) + static_cast<uint32_t>(g));
}

enum Phase { kInsert, kRead, kScanA, kScanB, kRewrite, kDelete, kPhases };
const char* const kPhaseNames[kPhases] = {"insert", "read", "scan unique", "scan dup", "rewrite",
                                          "delete"};

// Operations per second of each phase; 0 when the store failed.
struct Result {
  std::string name;
  double ops[kPhases] = {};
  std::string error;
  // ISAM: a pread loop of 1024 bytes over the data blocks of the scan by
  // the unique key, in the scan's order (what that scan cannot go below
  // while every record lies in another block), per second.
  double pread_bound = 0;
  // The same block sequence copied from a read-only mapping of the file
  // (how the library's pool fills a buffer it lacks), per second.
  double copy_bound = 0;
};

class Timer {
 public:
  Timer() : start_(std::chrono::steady_clock::now()) {}
  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  std::chrono::steady_clock::time_point start_;
};

// Runs f (which returns the number of operations, or -1 on error) and
// stores its rate.
bool Measure(Result* r, Phase p, const std::function<long()>& f) {
  Timer t;
  long count = f();
  double s = t.Seconds();
  if (count < 0) {
    if (r->error.empty()) r->error = kPhaseNames[p];
    return false;
  }
  r->ops[p] = s > 0 ? static_cast<double>(count) / s : 0;
  return true;
}

// ---------------------------------------------------------------- ISAM

IsamKeyDesc KeyA() {
  IsamKeyDesc k = {};
  k.nparts = 1;
  k.parts[0] = {0, 4, 2};
  return k;
}
IsamKeyDesc KeyB() {
  IsamKeyDesc k = {};
  k.flags = IS_DUPS;
  k.nparts = 1;
  k.parts[0] = {4, 8, 0};
  return k;
}

// The data file's blocks in the order of the unique key, read with one
// pread each: records were numbered in insert order, so key k lies in slot
// (position of k in insert_order) and its block is that slot's first byte
// over 1024. Operations per second, or 0.
double PreadBound(const Workload& w, const std::string& datfile) {
  std::vector<uint32_t> slot(static_cast<size_t>(w.n));
  for (size_t i = 0; i < w.insert_order.size(); ++i) slot[w.insert_order[i]] = static_cast<uint32_t>(i);
  int fd = open(datfile.c_str(), O_RDONLY);
  if (fd < 0) return 0;
  unsigned char block[1024];
  Timer t;
  for (uint32_t s : slot) {
    off_t at = static_cast<off_t>(static_cast<uint64_t>(s) * (kRecLen + 1) / 1024 * 1024);
    if (pread(fd, block, sizeof block, at) < 0) {
      close(fd);
      return 0;
    }
  }
  double secs = t.Seconds();
  close(fd);
  return secs > 0 ? w.n / secs : 0;
}

// The same block sequence as PreadBound, each block copied out of a
// read-only shared mapping of the file. Operations per second, or 0.
double CopyBound(const Workload& w, const std::string& datfile) {
  std::vector<uint32_t> slot(static_cast<size_t>(w.n));
  for (size_t i = 0; i < w.insert_order.size(); ++i) slot[w.insert_order[i]] = static_cast<uint32_t>(i);
  int fd = open(datfile.c_str(), O_RDONLY);
  if (fd < 0) return 0;
  struct stat sb;
  void* map = fstat(fd, &sb) == 0 && sb.st_size > 0
                  ? mmap(nullptr, static_cast<size_t>(sb.st_size), PROT_READ, MAP_SHARED, fd, 0)
                  : MAP_FAILED;
  close(fd);
  if (map == MAP_FAILED) return 0;
  const unsigned char* base = static_cast<const unsigned char*>(map);
  unsigned char block[1024];
  unsigned sum = 0;
  Timer t;
  for (uint32_t s : slot) {
    uint64_t at = static_cast<uint64_t>(s) * (kRecLen + 1) / 1024 * 1024;
    if (at + sizeof block > static_cast<uint64_t>(sb.st_size)) break;
    std::memcpy(block, base + at, sizeof block);
    sum += block[s % sizeof block];
  }
  double secs = t.Seconds();
  munmap(map, static_cast<size_t>(sb.st_size));
  if (sum == 1u) std::fprintf(stderr, " ");  // keeps the copies
  return secs > 0 ? w.n / secs : 0;
}

void RunIsam(const Workload& w, const std::string& dir, int lockmode, const char* tag,
             Result* res) {
  std::string name = dir + "/isam-" + tag;
  iserase(name.c_str());
  IsamKeyDesc a = KeyA(), b = KeyB();
  int fd = isbuild(name.c_str(), kRecLen, &a, IS_INOUT | IS_EXCLLOCK);
  if (fd < 0 || isaddindex(fd, &b) != 0 || isclose(fd) != 0) {
    res->error = "build " + std::to_string(iserrno);
    return;
  }
  fd = isopen(name.c_str(), IS_INOUT | lockmode);
  if (fd < 0) {
    res->error = "open " + std::to_string(iserrno);
    return;
  }
  unsigned char rec[kRecLen];
  bool ok = Measure(res, kInsert, [&]() -> long {
    for (uint32_t k : w.insert_order) {
      MakeRecord(k, 0, w.n, rec);
      if (iswrite(fd, rec) != 0) return -1;
    }
    return w.n;
  });
  ok = ok && Measure(res, kRead, [&]() -> long {
    for (uint32_t k : w.reads) {
      Put32(k, rec);
      if (isread(fd, rec, IS_EQUAL) != 0) return -1;
    }
    return w.n;
  });
  for (Phase p : {kScanA, kScanB}) {
    ok = ok && Measure(res, p, [&]() -> long {
      IsamKeyDesc k = p == kScanA ? KeyA() : KeyB();
      if (isstart(fd, &k, 0, rec, IS_FIRST) != 0) return -1;
      long count = 0;
      while (isread(fd, rec, IS_NEXT) == 0) ++count;
      return iserrno == EENDFILE && count == w.n ? count : -1;
    });
  }
  if (ok) res->pread_bound = PreadBound(w, name + ".dat");
  if (ok) res->copy_bound = CopyBound(w, name + ".dat");
  IsamKeyDesc k = KeyA();
  ok = ok && isstart(fd, &k, 0, rec, IS_FIRST) == 0;
  ok = ok && Measure(res, kRewrite, [&]() -> long {
    for (uint32_t key : w.rewrites) {
      Put32(key, rec);
      if (isread(fd, rec, IS_EQUAL) != 0) return -1;
      MakeRecord(key, 1, w.n, rec);
      if (isrewcurr(fd, rec) != 0) return -1;
    }
    return static_cast<long>(w.rewrites.size());
  });
  ok = ok && Measure(res, kDelete, [&]() -> long {
    for (uint32_t key : w.deletes) {
      Put32(key, rec);
      if (isread(fd, rec, IS_EQUAL) != 0 || isdelcurr(fd) != 0) return -1;
    }
    return static_cast<long>(w.deletes.size());
  });
  if (!ok) res->error += " " + std::to_string(iserrno);
  isclose(fd);
  // BENCH_KEEP=1 keeps the pairs for the check utility.
  if (std::getenv("BENCH_KEEP") == nullptr) iserase(name.c_str());
}

// ---------------------------------------------------------------- SQLite

void RunSqlite(const Workload& w, const std::string& dir, Result* res) {
  std::string path = dir + "/sqlite.db";
  for (const char* ext : {"", "-wal", "-shm"}) unlink((path + ext).c_str());
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
    res->error = "open";
    return;
  }
  sqlite3_exec(db,
               "PRAGMA journal_mode=WAL; PRAGMA synchronous=OFF;"
               "CREATE TABLE t(a INTEGER PRIMARY KEY, b INTEGER, payload BLOB);"
               "CREATE INDEX tb ON t(b);",
               nullptr, nullptr, nullptr);
  auto prep = [&](const char* sql) {
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
    return s;
  };
  sqlite3_stmt* ins = prep("INSERT INTO t VALUES(?1, ?2, ?3)");
  sqlite3_stmt* get = prep("SELECT b, payload FROM t WHERE a = ?1");
  sqlite3_stmt* scana = prep("SELECT a, b, payload FROM t ORDER BY a");
  sqlite3_stmt* scanb = prep("SELECT a, b, payload FROM t ORDER BY b");
  sqlite3_stmt* upd = prep("UPDATE t SET b = ?2, payload = ?3 WHERE a = ?1");
  sqlite3_stmt* del = prep("DELETE FROM t WHERE a = ?1");
  auto batch = [&](long i) {
    if (i % kBatch == 0) {
      if (i > 0) sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
      sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    }
  };
  auto done = [&]() { sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr); };
  unsigned char rec[kRecLen];
  auto store = [&](sqlite3_stmt* s, uint32_t key, int g) {
    MakeRecord(key, g, w.n, rec);
    sqlite3_bind_int64(s, 1, key);
    sqlite3_bind_int64(s, 2, static_cast<sqlite3_int64>(DupKey(key, g, w.n)));
    sqlite3_bind_blob(s, 3, rec + 12, kRecLen - 12, SQLITE_STATIC);
    int rc = sqlite3_step(s);
    sqlite3_reset(s);
    return rc == SQLITE_DONE;
  };
  auto read = [&](uint32_t key) {
    sqlite3_bind_int64(get, 1, key);
    bool found = sqlite3_step(get) == SQLITE_ROW;
    if (found) std::memcpy(rec + 12, sqlite3_column_blob(get, 1), kRecLen - 12);
    sqlite3_reset(get);
    return found;
  };
  bool ok = Measure(res, kInsert, [&]() -> long {
    long i = 0;
    for (uint32_t k : w.insert_order) {
      batch(i++);
      if (!store(ins, k, 0)) return -1;
    }
    done();
    return i;
  });
  ok = ok && Measure(res, kRead, [&]() -> long {
    long i = 0;
    for (uint32_t k : w.reads) {
      batch(i++);
      if (!read(k)) return -1;
    }
    done();
    return i;
  });
  for (Phase p : {kScanA, kScanB}) {
    ok = ok && Measure(res, p, [&]() -> long {
      sqlite3_stmt* s = p == kScanA ? scana : scanb;
      long count = 0;
      while (sqlite3_step(s) == SQLITE_ROW) {
        std::memcpy(rec + 12, sqlite3_column_blob(s, 2), kRecLen - 12);
        ++count;
      }
      sqlite3_reset(s);
      return count == w.n ? count : -1;
    });
  }
  ok = ok && Measure(res, kRewrite, [&]() -> long {
    long i = 0;
    for (uint32_t k : w.rewrites) {
      batch(i++);
      if (!read(k) || !store(upd, k, 1)) return -1;
    }
    done();
    return i;
  });
  ok = ok && Measure(res, kDelete, [&]() -> long {
    long i = 0;
    for (uint32_t k : w.deletes) {
      batch(i++);
      if (!read(k)) return -1;
      sqlite3_bind_int64(del, 1, k);
      int rc = sqlite3_step(del);
      sqlite3_reset(del);
      if (rc != SQLITE_DONE) return -1;
    }
    done();
    return i;
  });
  (void)ok;
  for (sqlite3_stmt* s : {ins, get, scana, scanb, upd, del}) sqlite3_finalize(s);
  sqlite3_close(db);
  for (const char* ext : {"", "-wal", "-shm"}) unlink((path + ext).c_str());
}

// ---------------------------------------------------------------- LMDB

void RunLmdb(const Workload& w, const std::string& dir, Result* res) {
  std::string path = dir + "/lmdb";
  unlink(path.c_str());
  unlink((path + "-lock").c_str());
  MDB_env* env = nullptr;
  mdb_env_create(&env);
  mdb_env_set_mapsize(env, size_t{4} << 30);
  mdb_env_set_maxdbs(env, 2);
  if (mdb_env_open(env, path.c_str(), MDB_NOSUBDIR | MDB_NOSYNC, 0600) != 0) {
    res->error = "open";
    mdb_env_close(env);
    return;
  }
  MDB_txn* txn = nullptr;
  MDB_dbi prim, sec;
  mdb_txn_begin(env, nullptr, 0, &txn);
  mdb_dbi_open(txn, "a", MDB_CREATE, &prim);
  mdb_dbi_open(txn, "b", MDB_CREATE | MDB_DUPSORT, &sec);
  mdb_txn_commit(txn);
  txn = nullptr;
  auto batch = [&](long i, unsigned flags) {
    if (i % kBatch == 0) {
      if (txn != nullptr) mdb_txn_commit(txn);
      mdb_txn_begin(env, nullptr, flags, &txn);
    }
  };
  auto done = [&]() {
    if (txn != nullptr) mdb_txn_commit(txn);
    txn = nullptr;
  };
  unsigned char rec[kRecLen], akey[4];
  auto val = [](void* p, size_t n) { return MDB_val{n, p}; };
  auto put = [&](uint32_t key, int g) {
    MakeRecord(key, g, w.n, rec);
    Put32(key, akey);
    MDB_val k = val(akey, 4), v = val(rec, kRecLen), bk = val(rec + 4, 8), bv = val(akey, 4);
    return mdb_put(txn, prim, &k, &v, 0) == 0 && mdb_put(txn, sec, &bk, &bv, 0) == 0;
  };
  auto get = [&](uint32_t key) {
    Put32(key, akey);
    MDB_val k = val(akey, 4), v;
    if (mdb_get(txn, prim, &k, &v) != 0) return false;
    std::memcpy(rec, v.mv_data, kRecLen);
    return true;
  };
  // Removes the secondary entry of the record in rec.
  auto unlink_sec = [&](uint32_t key) {
    Put32(key, akey);
    MDB_val bk = val(rec + 4, 8), bv = val(akey, 4);
    return mdb_del(txn, sec, &bk, &bv) == 0;
  };
  bool ok = Measure(res, kInsert, [&]() -> long {
    long i = 0;
    for (uint32_t k : w.insert_order) {
      batch(i++, 0);
      if (!put(k, 0)) return -1;
    }
    done();
    return i;
  });
  ok = ok && Measure(res, kRead, [&]() -> long {
    long i = 0;
    for (uint32_t k : w.reads) {
      batch(i++, MDB_RDONLY);
      if (!get(k)) return -1;
    }
    done();
    return i;
  });
  for (Phase p : {kScanA, kScanB}) {
    ok = ok && Measure(res, p, [&]() -> long {
      mdb_txn_begin(env, nullptr, MDB_RDONLY, &txn);
      MDB_cursor* c;
      mdb_cursor_open(txn, p == kScanA ? prim : sec, &c);
      MDB_val k, v;
      long count = 0;
      for (int rc = mdb_cursor_get(c, &k, &v, MDB_FIRST); rc == 0;
           rc = mdb_cursor_get(c, &k, &v, MDB_NEXT)) {
        if (p == kScanB) {  // the record itself, as the other stores read it
          MDB_val rv;
          if (mdb_get(txn, prim, &v, &rv) != 0) return -1;
          std::memcpy(rec, rv.mv_data, kRecLen);
        } else {
          std::memcpy(rec, v.mv_data, kRecLen);
        }
        ++count;
      }
      mdb_cursor_close(c);
      done();
      return count == w.n ? count : -1;
    });
  }
  ok = ok && Measure(res, kRewrite, [&]() -> long {
    long i = 0;
    for (uint32_t k : w.rewrites) {
      batch(i++, 0);
      if (!get(k) || !unlink_sec(k) || !put(k, 1)) return -1;
    }
    done();
    return i;
  });
  ok = ok && Measure(res, kDelete, [&]() -> long {
    long i = 0;
    for (uint32_t k : w.deletes) {
      batch(i++, 0);
      if (!get(k) || !unlink_sec(k)) return -1;
      MDB_val key = val(akey, 4);
      if (mdb_del(txn, prim, &key, nullptr) != 0) return -1;
    }
    done();
    return i;
  });
  if (!ok && txn != nullptr) mdb_txn_abort(txn);
  mdb_env_close(env);
  unlink(path.c_str());
  unlink((path + "-lock").c_str());
}

// ---------------------------------------------------------------- Berkeley DB

void RunBdb(const Workload& w, const std::string& dir, Result* res) {
  std::string pa = dir + "/bdb_a", pb = dir + "/bdb_b";
  unlink(pa.c_str());
  unlink(pb.c_str());
  DB *prim = nullptr, *sec = nullptr;
  db_create(&prim, nullptr, 0);
  db_create(&sec, nullptr, 0);
  prim->set_cachesize(prim, 0, 32 << 20, 1);
  sec->set_cachesize(sec, 0, 32 << 20, 1);
  sec->set_flags(sec, DB_DUPSORT);
  if (prim->open(prim, nullptr, pa.c_str(), nullptr, DB_BTREE, DB_CREATE, 0600) != 0 ||
      sec->open(sec, nullptr, pb.c_str(), nullptr, DB_BTREE, DB_CREATE, 0600) != 0) {
    res->error = "open";
    return;
  }
  unsigned char rec[kRecLen], akey[4];
  auto dbt = [](void* p, uint32_t n) {
    DBT d;
    std::memset(&d, 0, sizeof d);
    d.data = p;
    d.size = n;
    return d;
  };
  auto put = [&](uint32_t key, int g) {
    MakeRecord(key, g, w.n, rec);
    Put32(key, akey);
    DBT k = dbt(akey, 4), v = dbt(rec, kRecLen), bk = dbt(rec + 4, 8), bv = dbt(akey, 4);
    return prim->put(prim, nullptr, &k, &v, 0) == 0 && sec->put(sec, nullptr, &bk, &bv, 0) == 0;
  };
  auto get = [&](uint32_t key) {
    Put32(key, akey);
    DBT k = dbt(akey, 4), v = dbt(rec, kRecLen);
    v.ulen = kRecLen;
    v.flags = DB_DBT_USERMEM;
    return prim->get(prim, nullptr, &k, &v, 0) == 0;
  };
  auto unlink_sec = [&](uint32_t key) {
    Put32(key, akey);
    DBC* c;
    sec->cursor(sec, nullptr, &c, 0);
    DBT bk = dbt(rec + 4, 8), bv = dbt(akey, 4);
    bool ok = c->get(c, &bk, &bv, DB_GET_BOTH) == 0 && c->del(c, 0) == 0;
    c->close(c);
    return ok;
  };
  bool ok = Measure(res, kInsert, [&]() -> long {
    for (uint32_t k : w.insert_order) {
      if (!put(k, 0)) return -1;
    }
    return w.n;
  });
  ok = ok && Measure(res, kRead, [&]() -> long {
    for (uint32_t k : w.reads) {
      if (!get(k)) return -1;
    }
    return w.n;
  });
  for (Phase p : {kScanA, kScanB}) {
    ok = ok && Measure(res, p, [&]() -> long {
      DB* db = p == kScanA ? prim : sec;
      DBC* c;
      db->cursor(db, nullptr, &c, 0);
      DBT k = dbt(nullptr, 0), v = dbt(nullptr, 0);
      long count = 0;
      while (c->get(c, &k, &v, DB_NEXT) == 0) {
        if (p == kScanB) {
          uint32_t a = (static_cast<uint32_t>(static_cast<unsigned char*>(v.data)[0]) << 24) |
                       (static_cast<uint32_t>(static_cast<unsigned char*>(v.data)[1]) << 16) |
                       (static_cast<uint32_t>(static_cast<unsigned char*>(v.data)[2]) << 8) |
                       static_cast<unsigned char*>(v.data)[3];
          if (!get(a)) return -1;
        } else {
          std::memcpy(rec, v.data, kRecLen);
        }
        ++count;
      }
      c->close(c);
      return count == w.n ? count : -1;
    });
  }
  ok = ok && Measure(res, kRewrite, [&]() -> long {
    for (uint32_t k : w.rewrites) {
      if (!get(k) || !unlink_sec(k) || !put(k, 1)) return -1;
    }
    return static_cast<long>(w.rewrites.size());
  });
  ok = ok && Measure(res, kDelete, [&]() -> long {
    for (uint32_t k : w.deletes) {
      if (!get(k) || !unlink_sec(k)) return -1;
      DBT key = dbt(akey, 4);
      if (prim->del(prim, nullptr, &key, 0) != 0) return -1;
    }
    return static_cast<long>(w.deletes.size());
  });
  (void)ok;
  sec->close(sec, DB_NOSYNC);
  prim->close(prim, DB_NOSYNC);
  unlink(pa.c_str());
  unlink(pb.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  int n = argc > 1 ? std::atoi(argv[1]) : 1000000;
  std::string dir = argc > 2 ? argv[2] : ".";
  if (n < 100) n = 100;
  Workload w = MakeWorkload(n);
  std::printf("%d records of %d bytes in %s\n", n, kRecLen, dir.c_str());

  // BENCH_ONLY=<text> runs only the stores whose name contains it.
  const char* only = std::getenv("BENCH_ONLY");
  auto wanted = [&](const std::string& name) {
    return only == nullptr || name.find(only) != std::string::npos;
  };
  std::vector<Result> results;
  // ISAM runs each in a thread of its own, so that each starts with a
  // buffer pool of the size ISAMBUFS gives it.
  struct IsamRun {
    const char* name;
    int lockmode;
    const char* bufs;
    const char* tag;
  } runs[] = {
      {"ISAM exclusive, 16 buffers", IS_EXCLLOCK, "16", "x16"},
      {"ISAM exclusive, 32766 buffers", IS_EXCLLOCK, "32766", "x32766"},
      {"ISAM shared, 16 buffers", IS_MANULOCK, "16", "s16"},
      {"ISAM shared, 32766 buffers", IS_MANULOCK, "32766", "s32766"},
  };
  for (const IsamRun& run : runs) {
    if (!wanted(run.name)) continue;
    Result r;
    r.name = run.name;
    setenv("ISAMBUFS", run.bufs, 1);
    std::thread t([&] { RunIsam(w, dir, run.lockmode, run.tag, &r); });
    t.join();
    results.push_back(r);
    std::fprintf(stderr, "%s done\n", run.name);
  }
  std::pair<const char*, std::function<void(Result*)>> others[] = {
      {"SQLite (WAL, synchronous=OFF)", [&](Result* r) { RunSqlite(w, dir, r); }},
      {"LMDB (MDB_NOSYNC)", [&](Result* r) { RunLmdb(w, dir, r); }},
      {"Berkeley DB (btree, 32 MB cache)", [&](Result* r) { RunBdb(w, dir, r); }},
  };
  for (auto& [name, run] : others) {
    if (!wanted(name)) continue;
    Result r;
    r.name = name;
    run(&r);
    results.push_back(r);
    std::fprintf(stderr, "%s done\n", name);
  }

  Result none;
  const Result* base = &none;
  for (const Result& r : results) {
    if (r.name.rfind("SQLite", 0) == 0) base = &r;
  }
  std::printf("\nthousands of operations per second (ratio to SQLite)\n\n| store |");
  for (const char* p : kPhaseNames) std::printf(" %s |", p);
  std::printf("\n|---|");
  for (int p = 0; p < kPhases; ++p) std::printf("---|");
  std::printf("\n");
  for (const Result& r : results) {
    std::printf("| %s |", r.name.c_str());
    for (int p = 0; p < kPhases; ++p) {
      if (r.ops[p] <= 0) {
        std::printf(" failed |");
      } else {
        std::printf(" %.0f (%.2f) |", r.ops[p] / 1000, base->ops[p] > 0 ? r.ops[p] / base->ops[p] : 0);
      }
    }
    std::printf("%s\n", r.error.empty() ? "" : (" error: " + r.error).c_str());
  }
  for (const Result& r : results) {
    if (r.pread_bound > 0) {
      std::printf("\n%s: pread loop over the unique scan's data blocks %.0f thousand per second;"
                  " the scan reaches %.2f of it",
                  r.name.c_str(), r.pread_bound / 1000, r.ops[kScanA] / r.pread_bound);
    }
    if (r.copy_bound > 0) {
      std::printf("\n%s: copy loop over the same blocks from a mapping %.0f thousand per second;"
                  " the scan reaches %.2f of it",
                  r.name.c_str(), r.copy_bound / 1000, r.ops[kScanA] / r.copy_bound);
    }
  }
  std::printf("\n");
  return 0;
}
