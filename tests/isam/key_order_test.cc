// Key comparison against SQLite's ORDER BY: random composite keys of
// character, integer and floating parts, some descending, must come out in
// the same order from both.

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "isam/key_entry.h"
#include "sqltypes/bigint.h"
#include "base/fields.h"
#include "gtest/gtest.h"

namespace {

using isam::IsamKeyEntry;

struct Table {
  IsamKeyDesc kd{};
  std::vector<IsamKeyEntry> rows;
};

const int kTypes[] = {0, 1, 2, 3, 4, 13};

int LengthOf(int type, std::mt19937& rng) {
  switch (type) {
    case 1: return 2;
    case 2: case 4: return 4;
    case 3: case 13: return 8;
    default: return 1 + static_cast<int>(rng() % 6);
  }
}

// A value from a small range, so that ties occur; floating parts are null
// (all 0xFF) now and then.
void FillPart(unsigned char* p, int type, int len, std::mt19937& rng) {
  auto small = [&]() { return static_cast<int64_t>(rng() % 7) - 3; };
  switch (type) {
    case 0:
      for (int i = 0; i < len; ++i) {
        static const unsigned char alphabet[] = {0x00, 0x20, 'a', 'b', 0x7F, 0x80, 0xFF};
        p[i] = alphabet[rng() % sizeof alphabet];
      }
      break;
    case 1:
      stint(static_cast<int>(small() * 10000), p);
      break;
    case 2:
      stlong(small() * 700000000, p);
      break;
    case 13:
      stbigint(small() * 3000000000000000000LL, p);
      break;
    case 3: {
      if (rng() % 8 == 0) {
        std::memset(p, 0xFF, 8);
        break;
      }
      double v = static_cast<double>(small()) * 1.5e300 / 3;
      if (rng() % 5 == 0) v = static_cast<double>(small()) * 1e-300;
      std::memcpy(p, &v, 8);
      break;
    }
    case 4: {
      if (rng() % 8 == 0) {
        std::memset(p, 0xFF, 4);
        break;
      }
      float v = static_cast<float>(small()) * 1.1e38f / 3;
      if (rng() % 5 == 0) v = static_cast<float>(small()) * 1e-30f;
      std::memcpy(p, &v, 4);
      break;
    }
  }
}

void Bind(sqlite3_stmt* st, int col, const unsigned char* p, int type, int len) {
  switch (type) {
    case 0:
      sqlite3_bind_blob(st, col, p, len, SQLITE_TRANSIENT);
      break;
    case 1:
      sqlite3_bind_int64(st, col, ldint(p));
      break;
    case 2:
      sqlite3_bind_int64(st, col, ldlong(p));
      break;
    case 13: {
      int64_t v = 0;
      ldbigint(&v, p);
      sqlite3_bind_int64(st, col, v);
      break;
    }
    case 3: {
      int16_t null = 0;
      double v = lddblnull(p, &null);
      if (null) {
        sqlite3_bind_null(st, col);
      } else {
        sqlite3_bind_double(st, col, v);
      }
      break;
    }
    case 4: {
      int16_t null = 0;
      float v = ldfltnull(p, &null);
      if (null) {
        sqlite3_bind_null(st, col);
      } else {
        sqlite3_bind_double(st, col, v);
      }
      break;
    }
  }
}

std::vector<int> SqliteOrder(const Table& t) {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  std::string create = "CREATE TABLE t(id INTEGER";
  std::string insert = "INSERT INTO t VALUES(?";
  std::string order = " ORDER BY ";
  for (int i = 0; i < t.kd.nparts; ++i) {
    std::string c = "c" + std::to_string(i);
    create += ", " + c;
    insert += ", ?";
    order += c + (t.kd.parts[i].type & IS_DESCENDING ? " DESC, " : " ASC, ");
  }
  create += ")";
  insert += ")";
  EXPECT_EQ(sqlite3_exec(db, create.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, insert.c_str(), -1, &st, nullptr), SQLITE_OK);
  for (size_t r = 0; r < t.rows.size(); ++r) {
    sqlite3_reset(st);
    sqlite3_bind_int64(st, 1, static_cast<int64_t>(r));
    int off = 0;
    for (int i = 0; i < t.kd.nparts; ++i) {
      const IsamKeyPart& part = t.kd.parts[i];
      Bind(st, i + 2, t.rows[r].key + off, part.type & 0x7F, part.len);
      off += part.len;
    }
    EXPECT_EQ(sqlite3_step(st), SQLITE_DONE);
  }
  sqlite3_finalize(st);
  std::vector<int> ids;
  std::string query = "SELECT id FROM t" + order + "id";
  EXPECT_EQ(sqlite3_prepare_v2(db, query.c_str(), -1, &st, nullptr), SQLITE_OK);
  while (sqlite3_step(st) == SQLITE_ROW) ids.push_back(sqlite3_column_int(st, 0));
  sqlite3_finalize(st);
  sqlite3_close(db);
  return ids;
}

TEST(KeyOrder, MatchesSqliteOrderBy) {
  const unsigned seed = 20261210;
  std::printf("seed %u\n", seed);
  std::mt19937 rng(seed);
  int passed = 0, failed = 0;
  for (int round = 0; round < 200; ++round) {
    Table t;
    int nparts = 1 + static_cast<int>(rng() % 4);
    int keylen = 0;
    for (int i = 0; i < nparts; ++i) {
      int type = kTypes[rng() % 6];
      int len = LengthOf(type, rng);
      t.kd.parts[i] = {static_cast<int16_t>(keylen), static_cast<int16_t>(len),
                       static_cast<int16_t>(type | (rng() % 2 ? IS_DESCENDING : 0))};
      keylen += len;
    }
    t.kd.nparts = static_cast<int16_t>(nparts);
    t.kd.keylen = static_cast<int16_t>(keylen);
    for (int r = 0; r < 150; ++r) {
      IsamKeyEntry e;
      int off = 0;
      for (int i = 0; i < nparts; ++i) {
        FillPart(e.key + off, t.kd.parts[i].type & 0x7F, t.kd.parts[i].len, rng);
        off += t.kd.parts[i].len;
      }
      t.rows.push_back(e);
    }
    std::vector<int> ours(t.rows.size());
    for (size_t i = 0; i < ours.size(); ++i) ours[i] = static_cast<int>(i);
    std::stable_sort(ours.begin(), ours.end(), [&](int a, int b) {
      return isam::is_keycompare(t.rows[a], t.rows[b], t.kd, 0) < 0;
    });
    if (ours == SqliteOrder(t)) {
      ++passed;
    } else {
      ++failed;
      ADD_FAILURE() << "round " << round << " orders differ";
    }
  }
  std::printf("%d passed, %d failed\n", passed, failed);
}

}  // namespace
