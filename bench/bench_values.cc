// Value conversion, comparison and LIKE / MATCHES on 1,000,000 generated
// texts, against Python's decimal and datetime (their C modules, timed by
// a python3 started from here on the same lines) and SQLite's LIKE and
// GLOB over an in-memory table of the same values.
//
//   bench_values [N]      (N = 1,000,000; TARVELONDIR names the tree)
//
// Prints nanoseconds per value for each side and the ratio peer / ours
// (above 1: faster than the peer).
#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "sqltypes/sqlvalue.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(const std::function<void()>& fn) {
  const auto t0 = Clock::now();
  fn();
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

SqlValue Chars(const std::string& s) {
  SqlValue v{};
  v.v_type = SQLCHAR;
  v.v.text.ptr = const_cast<char*>(s.data());
  v.v.text.len = static_cast<int32_t>(s.size());
  return v;
}

std::string WriteLines(const std::vector<std::string>& lines, const char* name) {
  char path[] = "/tmp/bench_values_XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) {
    perror("mkstemp");
    exit(1);
  }
  close(fd);
  FILE* f = fopen(path, "we");
  for (const std::string& l : lines) fprintf(f, "%s\n", l.c_str());
  fclose(f);
  (void)name;
  return path;
}

// The peer's timings: one "name seconds" line per operation.
std::map<std::string, double> RunPython(const std::string& dec, const std::string& dt,
                                        const std::string& date) {
  const std::string script = R"PY(
import sys, time
from decimal import Decimal
from datetime import datetime, date
def lines(p):
    with open(p) as f:
        return f.read().split("\n")[:-1]
dec, dt, dd = lines(sys.argv[1]), lines(sys.argv[2]), lines(sys.argv[3])
t = time.perf_counter(); vals = [Decimal(s) for s in dec]; out = [str(v) for v in vals]
print("decimal", time.perf_counter() - t)
t = time.perf_counter(); dts = [datetime.fromisoformat(s) for s in dt]; out = [v.isoformat(" ") for v in dts]
print("datetime", time.perf_counter() - t)
t = time.perf_counter(); out = [date.fromisoformat(s) for s in dd]
print("date", time.perf_counter() - t)
t = time.perf_counter(); n = sum(1 for a, b in zip(vals, vals[1:]) if a < b)
print("deccmp", time.perf_counter() - t)
t = time.perf_counter(); n = sum(1 for a, b in zip(dts, dts[1:]) if a < b)
print("dtcmp", time.perf_counter() - t)
)PY";
  const std::string spath = WriteLines({script}, "script");
  const std::string cmd = "python3 " + spath + " " + dec + " " + dt + " " + date;
  std::map<std::string, double> out;
  FILE* p = popen(cmd.c_str(), "r");
  char name[32];
  double s = 0;
  while (p != nullptr && fscanf(p, "%31s %lf", name, &s) == 2) out[name] = s;
  if (p != nullptr) pclose(p);
  unlink(spath.c_str());
  return out;
}

double SqliteCount(const std::vector<std::string>& values, const char* where, long* count) {
  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  sqlite3_exec(db, "PRAGMA case_sensitive_like = ON; CREATE TABLE t(v TEXT); BEGIN", nullptr,
               nullptr, nullptr);
  sqlite3_stmt* ins = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO t VALUES (?1)", -1, &ins, nullptr);
  for (const std::string& v : values) {
    sqlite3_bind_text(ins, 1, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
    sqlite3_step(ins);
    sqlite3_reset(ins);
  }
  sqlite3_finalize(ins);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  const std::string q = std::string("SELECT count(*) FROM t WHERE v ") + where;
  sqlite3_stmt* sel = nullptr;
  sqlite3_prepare_v2(db, q.c_str(), -1, &sel, nullptr);
  const double secs = Seconds([&] {
    sqlite3_step(sel);
    *count = sqlite3_column_int64(sel, 0);
  });
  sqlite3_finalize(sel);
  sqlite3_close(db);
  return secs;
}

}  // namespace

int main(int argc, char** argv) {
  const size_t n = argc > 1 ? strtoul(argv[1], nullptr, 10) : 1000000;
  setenv("DBDATE", "Y4MD-", 1);
  std::mt19937_64 rng(20261210);
  std::vector<std::string> dec(n), dt(n), date(n), words(n);
  char b[64];
  for (size_t i = 0; i < n; i++) {
    snprintf(b, sizeof b, "%s%llu.%0*llu", rng() % 3 == 0 ? "-" : "",
             static_cast<unsigned long long>(rng() % 100000000000ull), 1 + static_cast<int>(rng() % 6),
             static_cast<unsigned long long>(rng() % 10000));
    dec[i] = b;
    const int y = 1 + static_cast<int>(rng() % 9999), mo = 1 + static_cast<int>(rng() % 12),
              d = 1 + static_cast<int>(rng() % 28);
    snprintf(b, sizeof b, "%04d-%02d-%02d %02d:%02d:%02d.%05d", y, mo, d, static_cast<int>(rng() % 24),
             static_cast<int>(rng() % 60), static_cast<int>(rng() % 60), static_cast<int>(rng() % 100000));
    dt[i] = b;
    snprintf(b, sizeof b, "%04d-%02d-%02d", y, mo, d);
    date[i] = b;
    std::string w;
    for (int k = 8 + static_cast<int>(rng() % 13); k > 0; k--) w += static_cast<char>('a' + rng() % 5);
    words[i] = w;
  }
  // Ours.
  std::vector<SqlValue> decs(n), dts(n);
  char field[100];
  long sink = 0;
  const double t_dec = Seconds([&] {
    for (size_t i = 0; i < n; i++) {
      SqlValue c = Chars(dec[i]);
      decs[i].v_type = SQLDECIMAL;
      decs[i].v_len = 0x20FF;
      rvaltodec(&c, &decs[i].v.dec);
      rvaltotext(&decs[i], field, 0, 1);
      sink += field[0];
    }
  });
  const double t_dt = Seconds([&] {
    for (size_t i = 0; i < n; i++) {
      SqlValue c = Chars(dt[i]);
      DateTimeValue out;
      rvaltodt(&c, &out, 0x130F);
      dts[i].v_type = SQLDTIME;
      dts[i].v_len = 0x130F;
      dts[i].v.dec = out.dt_dec;
      rvaltotext(&dts[i], field, 0, 1);
      sink += field[0];
    }
  });
  const double t_date = Seconds([&] {
    for (size_t i = 0; i < n; i++) {
      SqlValue c = Chars(date[i]);
      int32_t d = 0;
      rvaltodate(&c, &d, nullptr);
      sink += d;
    }
  });
  SqlValue r;
  const double t_deccmp = Seconds([&] {
    for (size_t i = 0; i + 1 < n; i++) {
      rvalcompare(49, &decs[i], &decs[i + 1], &r);
      sink += r.v.i4;
    }
  });
  const double t_dtcmp = Seconds([&] {
    for (size_t i = 0; i + 1 < n; i++) {
      rvalcompare(49, &dts[i], &dts[i + 1], &r);
      sink += r.v.i4;
    }
  });
  auto pattern = [&](int op, const std::string& pat, long* count) {
    SqlValue p = Chars(pat);
    return Seconds([&] {
      for (size_t i = 0; i < n; i++) {
        SqlValue v = Chars(words[i]);
        rvalmatch(op, &v, &p, &r);
        *count += r.v.i4;
      }
    });
  };
  long like_ours = 0, glob_ours = 0, like_peer = 0, glob_peer = 0;
  const double t_like = pattern(56, "%abc%", &like_ours);
  const double t_matches = pattern(52, "*abc*", &glob_ours);
  const double s_like = SqliteCount(words, "LIKE '%abc%'", &like_peer);
  const double s_glob = SqliteCount(words, "GLOB '*abc*'", &glob_peer);
  const std::string a(10000, 'a');
  long patho = 0;
  SqlValue pv = Chars(a), pp = Chars("%a%a%a%a%a%b");
  const double t_patho = Seconds([&] {
    rvalmatch(56, &pv, &pp, &r);
    patho = r.v.i4;
  });
  // The peer.
  const std::string fd = WriteLines(dec, "dec"), ft = WriteLines(dt, "dt"), fa = WriteLines(date, "date");
  std::map<std::string, double> py = RunPython(fd, ft, fa);
  unlink(fd.c_str());
  unlink(ft.c_str());
  unlink(fa.c_str());

  const double per = 1e9 / static_cast<double>(n);
  printf("%-34s %12s %12s %8s\n", "operation (ns per value)", "ours", "peer", "ratio");
  auto row = [&](const char* name, double ours, double peer) {
    printf("%-34s %12.1f %12.1f %8.2f\n", name, ours * per, peer * per, ours > 0 ? peer / ours : 0);
  };
  row("DECIMAL text in and out / python", t_dec, py["decimal"]);
  row("DATETIME text in and out / python", t_dt, py["datetime"]);
  row("DATE text in (Y4MD-) / python", t_date, py["date"]);
  row("compare DECIMAL / python", t_deccmp, py["deccmp"]);
  row("compare DATETIME / python", t_dtcmp, py["dtcmp"]);
  row("LIKE '%abc%' / sqlite", t_like, s_like);
  row("MATCHES '*abc*' / GLOB sqlite", t_matches, s_glob);
  printf("matches: LIKE %ld (sqlite %ld), MATCHES %ld (sqlite %ld)\n", like_ours, like_peer,
         glob_ours, glob_peer);
  printf("LIKE '%%a%%a%%a%%a%%a%%b' on 10000 a: %.3f ms (result %ld)\n", t_patho * 1e3, patho);
  return sink == 42 ? 1 : 0;
}
