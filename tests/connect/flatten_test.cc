// Flattening of an association's records into a hand-over arena: round
// trips for initiators and responders within the 2,056 bytes of a
// hand-over, the exact layout of the record table, and damaged arenas.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "connect/asf_flatten.h"

namespace {

struct Records {
  char user[8] = "joe", password[8] = "secret", n1[8] = "9.240", n2[8] = "abc";
  AsfConnRecord rec{};
  char t0[8] = "first", t1[8] = "", t2[8] = "third";
  char* texts[3] = {t0, t1, t2};
  AsfTextList list{3, texts};
  AsfCredentialData data{};
  SqliConnCred cred{2, &data};
  unsigned char b0[3] = {1, 0, 2};
  AsfCredentialEntry entries[2] = {{11, 3, b0}, {12, 0, nullptr}};
  AsfCredentialData data2{};
  SqliConnCred cred2{2, &data2};
  char srv[8] = "srv", db[8] = "db", grp[8] = "g";
  AsfStartRequest start{};
  SqliConnCred startcred{1, &start};
  char on[2][8] = {"LANG", "DBPATH"};
  char ov[2][8] = {"C", "."};
  char* names[2] = {on[0], on[1]};
  char* values[2] = {ov[0], ov[1]};
  AsfOptionList options{2, names, values};
  char host[8] = "h1", computer[8] = "C1", cwd[8] = "/w", declared[8] = "h2";
  AsfIdentity id{};

  Records() {
    std::strcpy(rec.program, "sqlexec");
    rec.name1 = n1;
    rec.name2 = n2;
    rec.values[0] = 316;
    rec.cred_kind = 1;
    rec.user = user;
    rec.password = password;
    rec.info.level = 61;
    data.subkind = 1;
    data.u.list = &list;
    data.values[1] = 7;
    data2.subkind = 2;
    std::memcpy(data2.u.settings, "\1\2\3\4\5\6", 6);
    data2.values[0] = -329;
    data2.entry_count = 2;
    data2.entries = entries;
    start.kind = 1;
    start.flags = 0x2000004;
    start.server = srv;
    start.option_arg = db;
    start.group_name = grp;
    id.first = 77;
    id.pid = 1234;
    id.host = host;
    id.computer = computer;
    id.cwd = cwd;
    id.uid = 5;
    id.gid = 6;
    id.text56 = host;
    id.program = cwd;
    id.text88 = declared;
  }
};

void FreeRecords(AsfAssocRecords* r) {
  asf_free_connect_body(1, r->conn_record);
  if (r->credential != nullptr) {
    if (r->credential->kind == 1) asf_free_start_request(1, r->credential);
    else asf_free_conn_cred(1, r->credential);
  }
  asf_free_option_list(1, r->option_list);
}

void FreeId(AsfIdentity* id) {
  asf_free_identity(1, id);
  std::free(id->text88);
}

// Flattens kind's records and the identity into a 2,056-byte arena: the
// bytes used.
int32_t Flatten(Records& r, int32_t kind, SqliConnCred* cred, std::vector<unsigned char>* out) {
  out->assign(2056, 0);
  AsfArena* a = asf_arena_new(0, 1, out->data(), 2056);
  AsfAssocRecords in{&r.rec, cred, kind == 1 ? nullptr : &r.options};
  EXPECT_EQ(asf_flatten_assoc(a, kind, &in), 0);
  EXPECT_EQ(asf_flatten_identity(a, &r.id), 0);
  int32_t used = a->used;
  asf_arena_free(a);
  return used;
}

TEST(Flatten, InitiatorRoundTrips) {
  Records r;
  for (SqliConnCred* cred : {&r.cred, &r.cred2}) {
    std::vector<unsigned char> bytes;
    int32_t used = Flatten(r, 1, cred, &bytes);
    EXPECT_LE(used, 2056);
    // The record table: two offsets, the connection record right behind it.
    int64_t table[2];
    std::memcpy(table, bytes.data(), 16);
    EXPECT_EQ(table[0], 16);
    EXPECT_GT(table[1], table[0]);
    AsfArena* a = asf_arena_new(0, 1, bytes.data(), used);
    AsfAssocRecords out{};
    ASSERT_EQ(asf_unflatten_assoc(a, 1, &out), 0);
    AsfIdentity id{};
    ASSERT_EQ(asf_unflatten_identity(a, &id), 0);
    EXPECT_EQ(a->used, used);
    asf_arena_free(a);
    ASSERT_NE(out.conn_record, nullptr);
    EXPECT_STREQ(out.conn_record->program, "sqlexec");
    EXPECT_STREQ(out.conn_record->user, "joe");
    EXPECT_STREQ(out.conn_record->password, "secret");
    EXPECT_STREQ(out.conn_record->name1, "9.240");
    EXPECT_EQ(out.conn_record->name3, nullptr);
    EXPECT_EQ(out.conn_record->values[0], 316);
    ASSERT_NE(out.credential, nullptr);
    EXPECT_EQ(out.credential->kind, 2);
    auto* d = static_cast<AsfCredentialData*>(out.credential->data);
    if (cred == &r.cred) {
      ASSERT_EQ(d->subkind, 1);
      ASSERT_EQ(d->u.list->count, 3u);
      EXPECT_STREQ(d->u.list->texts[0], "first");
      EXPECT_STREQ(d->u.list->texts[1], "");
      EXPECT_STREQ(d->u.list->texts[2], "third");
      EXPECT_EQ(d->values[1], 7);
    } else {
      ASSERT_EQ(d->subkind, 2);
      EXPECT_EQ(std::memcmp(d->u.settings, "\1\2\3\4\5\6", 6), 0);
      EXPECT_EQ(d->values[0], -329);
      ASSERT_EQ(d->entry_count, 2);
      EXPECT_EQ(d->entries[0].code, 11);
      ASSERT_EQ(d->entries[0].length, 3);
      EXPECT_EQ(std::memcmp(d->entries[0].bytes, "\1\0\2", 3), 0);
      EXPECT_EQ(d->entries[1].length, 0);
    }
    EXPECT_EQ(out.option_list, nullptr);
    EXPECT_EQ(id.first, 77);
    EXPECT_EQ(id.pid, 1234);
    EXPECT_STREQ(id.host, "h1");
    EXPECT_STREQ(id.computer, "C1");
    EXPECT_STREQ(id.cwd, "/w");
    EXPECT_STREQ(id.text88, "h2");
    EXPECT_EQ(id.text56, nullptr);
    EXPECT_EQ(id.program, nullptr);
    EXPECT_EQ(id.uid, 5);
    FreeRecords(&out);
    FreeId(&id);
  }
}

TEST(Flatten, ResponderRoundTripsAndRefusals) {
  Records r;
  std::vector<unsigned char> bytes;
  int32_t used = Flatten(r, 2, &r.startcred, &bytes);
  int64_t table[3];
  std::memcpy(table, bytes.data(), 24);
  EXPECT_EQ(table[0], 24);
  AsfArena* a = asf_arena_new(0, 1, bytes.data(), used);
  AsfAssocRecords out{};
  ASSERT_EQ(asf_unflatten_assoc(a, 2, &out), 0);
  AsfIdentity id{};
  ASSERT_EQ(asf_unflatten_identity(a, &id), 0);
  asf_arena_free(a);
  auto* s = static_cast<AsfStartRequest*>(out.credential->data);
  EXPECT_EQ(out.credential->kind, 1);
  EXPECT_EQ(s->kind, 1);
  EXPECT_EQ(s->flags, 0x2000004u);
  EXPECT_STREQ(s->server, "srv");
  EXPECT_STREQ(s->option_arg, "db");
  EXPECT_EQ(s->name, nullptr);
  EXPECT_STREQ(s->group_name, "g");
  ASSERT_EQ(out.option_list->count, 2);
  EXPECT_STREQ(out.option_list->names[1], "DBPATH");
  EXPECT_STREQ(out.option_list->values[1], ".");
  FreeRecords(&out);
  FreeId(&id);
  // Kinds other than 1 to 3, and option lists that lie about their size.
  std::vector<unsigned char> buf(2056);
  AsfArena* w = asf_arena_new(0, 1, buf.data(), 2056);
  AsfAssocRecords in{&r.rec, &r.startcred, &r.options};
  EXPECT_EQ(asf_flatten_assoc(w, 4, &in), -25563);
  AsfOptionList bad{3, nullptr, nullptr};
  in.option_list = &bad;
  EXPECT_EQ(asf_flatten_assoc(w, 3, &in), -25563);
  // An arena too small for the records.
  AsfArena* small = asf_arena_new(0, 1, buf.data(), 100);
  in.option_list = &r.options;
  EXPECT_EQ(asf_flatten_assoc(small, 2, &in), -406);
  asf_arena_free(small);
  asf_arena_free(w);
}

TEST(Flatten, DamagedArenasFailWithoutACrash) {
  Records r;
  for (int32_t kind : {1, 2}) {
    std::vector<unsigned char> good;
    int32_t used = Flatten(r, kind, kind == 1 ? &r.cred2 : &r.startcred, &good);
    uint32_t seed = 12345;
    int failures = 0;
    for (int round = 0; round < 2000; ++round) {
      std::vector<unsigned char> bytes = good;
      int flips = 1 + round % 4;
      for (int f = 0; f < flips; ++f) {
        seed = seed * 1103515245u + 12345u;
        size_t at = (seed >> 8) % static_cast<uint32_t>(used);
        seed = seed * 1103515245u + 12345u;
        bytes[at] = static_cast<unsigned char>(seed >> 16);
      }
      // Cut the arena now and then as well.
      int32_t size = round % 5 == 0 ? static_cast<int32_t>((seed >> 4) % static_cast<uint32_t>(used)) : used;
      AsfArena* a = asf_arena_new(0, 1, bytes.data(), size);
      AsfAssocRecords out{};
      AsfIdentity id{};
      int rc = asf_unflatten_assoc(a, kind, &out);
      if (rc == 0) rc = asf_unflatten_identity(a, &id);
      if (rc != 0) ++failures;
      EXPECT_TRUE(rc == 0 || rc == -406);
      FreeRecords(&out);
      FreeId(&id);
      asf_arena_free(a);
    }
    EXPECT_GT(failures, 100) << kind;
  }
}

}  // namespace
