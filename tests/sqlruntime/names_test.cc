// The keyword table, identifier checks, display shortening, the
// database@server split and the string hash table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sqlruntime/names.h"

namespace {

TEST(KeywordTest, EveryRowIsFoundUnderItsIndexBeforeAndAfterTheBuild) {
  ASSERT_EQ(sqli_keyword_unbuilt(), 1);
  // The first lookup builds the table; every later one must agree.
  int32_t code = -5;
  EXPECT_EQ(sqli_keyword_lookup("absolute", &code, nullptr), 0);
  EXPECT_EQ(sqli_keyword_unbuilt(), 0);
  int reserved = 0;
  for (int32_t i = 0; i < 580; ++i) {
    const char* name = sqli_keyword_name(i);
    ASSERT_NE(name, nullptr) << i;
    EXPECT_EQ(sqli_keyword_lookup(name, &code, nullptr), i) << name;
    reserved += code == 1;
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(sqli_keyword_lookup(upper.c_str(), nullptr, nullptr), i) << upper;
  }
  EXPECT_EQ(reserved, 129);
  EXPECT_EQ(sqli_keyword_name(580), nullptr);
  EXPECT_EQ(std::string(sqli_keyword_name(579)), "year");
}

TEST(KeywordTest, CasesOfTheTable) {
  int32_t code = -1, cls = -1;
  int32_t select = sqli_keyword_lookup("select", &code, &cls);
  ASSERT_GE(select, 0);
  EXPECT_EQ(code, 1);
  EXPECT_EQ(sqli_keyword_lookup("Select", &code, nullptr), select);
  EXPECT_EQ(code, 1);
  EXPECT_EQ(sqli_keyword_lookup("SELECT", &code, nullptr), select);
  EXPECT_EQ(sqli_is_keyword("select"), 0);
  EXPECT_EQ(sqli_is_keyword("today"), -1);
  EXPECT_GE(sqli_keyword_lookup("today", &code, &cls), 0);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(cls, 0);  // class 2 reads as 0
  sqli_keyword_lookup("coarse", &code, &cls);
  EXPECT_EQ(cls, 0);  // class 1 reads as 0
  struct {
    const char* word;
    int32_t cls;
  } classes[] = {{"limit", 160}, {"skip", 256}, {"first", 2656}, {"prior", 6144},
                 {"tree", 8192}, {"level", 16384}, {"kib", 16}, {"store", 32}, {"final", 1024}};
  for (const auto& row : classes) {
    cls = -1;
    EXPECT_GE(sqli_keyword_lookup(row.word, &code, &cls), 0) << row.word;
    EXPECT_EQ(cls, row.cls) << row.word;
  }
  code = 7;
  EXPECT_EQ(sqli_keyword_lookup("selectx", &code, nullptr), -1);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(sqli_keyword_lookup("", &code, nullptr), -1);
  EXPECT_EQ(sqli_is_keyword("no_such_word"), -1);
  EXPECT_GE(sqli_keyword_lookup("tarvelon", &code, nullptr), 0);
}

TEST(IdentTest, Table) {
  std::string s128(128, 'a'), s129(129, 'a');
  struct {
    std::string name;
    bool delim;
    int result;
    const char* out;
  } rows[] = {
      {s128, false, 0, nullptr}, {s129, false, -1, nullptr}, {"$abc", false, -1, nullptr},
      {"a$bc", false, 0, "a$bc"}, {"a b", false, -1, nullptr}, {"a b", true, 0, "a b"},
      {"abc   ", false, 0, "abc"}, {"_x1", false, 0, "_x1"}, {"1abc", false, -1, nullptr},
      {"1abc", true, 0, "1abc"}, {"", false, -1, nullptr}, {"a-b", false, -1, nullptr},
      {"a-b", true, 0, "a-b"},
  };
  for (const auto& r : rows) {
    char out[300] = {};
    EXPECT_EQ(sqli_valid_ident(r.name.c_str(), r.delim ? "y" : nullptr, out), r.result) << r.name;
    if (r.out != nullptr) {
      EXPECT_STREQ(out, r.out) << r.name;
    }
  }
  char out[8];
  EXPECT_EQ(sqli_valid_ident(nullptr, nullptr, out), -1);
}

TEST(TruncNameTest, Table) {
  struct {
    const char* in;
    int long_flag;
    const char* out;
  } rows[] = {
      {"abcdefghi", 0, "abcdefg+"},
      {"abcdefgh", 0, "abcdefgh"},
      {"abcdefgh   ", 0, "abcdefgh"},
      {"abc", 0, "abc"},
      {"abcdefghijklmnopqrs", 1, "abcdefghijklmnopq+"},
      {"abcdefghijklmnopqr", 1, "abcdefghijklmnopqr"},
  };
  for (const auto& r : rows) {
    char buf[64];
    std::strcpy(buf, r.in);
    sqli_trunc_name(buf, sizeof buf, r.long_flag);
    EXPECT_STREQ(buf, r.out) << r.in;
  }
}

TEST(SplitDbnameTest, Table) {
  struct {
    const char* name;
    int rc;
    const char* db;
    const char* server;
    int path, slash;
  } rows[] = {
      {"db1@srv1", 0, "db1", "srv1", 0, 0},
      {"@srv1", 0, "", "srv1", 0, 0},
      {"db1", 0, "db1", "", 0, 0},
      {"//srv1/dir/db", 0, "/dir/db", "srv1", 1, 1},
      {"//srv1/db", 0, "/db", "srv1", 0, 1},
      {"//srv1", 0, "", "srv1", 0, 1},
      {"/a/b@srv", 0, "/a/b", "srv", 1, 0},
      {"db@", -1, "", "", 0, 0},
      {"", -1, "", "", 0, 0},
      {"///x", -1, "", "", 0, 1},
  };
  for (const auto& r : rows) {
    char server[129], db[261];
    int32_t path = 9, slash = 9;
    EXPECT_EQ(sqli_split_dbname(r.name, server, sizeof server, db, sizeof db, &path, &slash), r.rc) << r.name;
    if (r.rc != 0) continue;
    EXPECT_STREQ(db, r.db) << r.name;
    EXPECT_STREQ(server, r.server) << r.name;
    EXPECT_EQ(path, r.path) << r.name;
    EXPECT_EQ(slash, r.slash) << r.name;
  }
  // Lengths: the server part must be shorter than its buffer.
  char server[5], db[261];
  int32_t path, slash;
  EXPECT_EQ(sqli_split_dbname("d@abcd", server, sizeof server, db, sizeof db, &path, &slash), 0);
  EXPECT_EQ(sqli_split_dbname("d@abcde", server, sizeof server, db, sizeof db, &path, &slash), -1);
  EXPECT_EQ(sqli_split_dbname(std::string(261, 'd').c_str(), server, sizeof server, db, sizeof db, &path, &slash), -1);
}

struct Named {
  const char* name;
  int value;
};

TEST(HashTableTest, AddFindRemoveWithDuplicates) {
  EXPECT_EQ(sqli_hash_new(0), nullptr);
  SqliHashTable* t = sqli_hash_new(13);
  ASSERT_NE(t, nullptr);
  Named a{"alpha", 1}, b{"beta", 2}, a2{"alpha", 3};
  EXPECT_EQ(sqli_hash_add(t, &a), 1);
  EXPECT_EQ(sqli_hash_add(t, &b), 1);
  EXPECT_EQ(sqli_hash_add(t, &a2), 1);
  EXPECT_EQ(sqli_hash_find(t, "alpha"), &a2);  // the newest first
  EXPECT_EQ(sqli_hash_find(t, "beta"), &b);
  EXPECT_EQ(sqli_hash_find(t, "gamma"), nullptr);
  EXPECT_EQ(sqli_hash_remove(t, "alpha"), &a2);
  EXPECT_EQ(sqli_hash_find(t, "alpha"), &a);
  EXPECT_EQ(sqli_hash_remove(t, "gamma"), nullptr);
  EXPECT_EQ(sqli_hash_add(nullptr, &a), 0);
  EXPECT_EQ(sqli_hash_find(nullptr, "alpha"), nullptr);
  sqli_hash_free(t);
  sqli_hash_free(nullptr);
  // The 16-bit hash of the names: a bucket within the count.
  for (const char* n : {"a", "descriptor_1", "zzzzzzzzzzzzzzzzzzzzzzzzzzzzzz"}) {
    int32_t h = sqli_name_hash(n, 13);
    EXPECT_GE(h, 0);
    EXPECT_LT(h, 13);
  }
  // h = h<<4 + c for short names: "a" is 97, "ab" is 97*16+98 = 1650.
  EXPECT_EQ(sqli_name_hash("ab", 65536), 1650);
}

}  // namespace
