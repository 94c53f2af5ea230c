// Name service: the connection-configuration file, its options, groups,
// DBPATH and local databases, through asfns_resolve and the file reader.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "connect/asfns.h"
#include "connect/asfutil.h"
#include "tests/support/test_support.h"

namespace {

class Ns : public ::testing::Test {
 protected:
  void SetUp() override {
    // The installation tree: the client locale loads from it.
    setenv("TARVELONDIR", tevtest::BuildTree().c_str(), 1);
    setenv("TARVELONSQLHOSTS", dir.Path("sqlhosts").c_str(), 1);
    unsetenv("ZIVEVODAREVEZO");
    unsetenv("DBPATH");
    unsetenv("ZEL_NETRC_LOOKUP");
  }
  void TearDown() override {
    unsetenv("TARVELONSQLHOSTS");
    unsetenv("ZIVEVODAREVEZO");
    unsetenv("DBPATH");
  }
  void Hosts(const std::string& text) { dir.WriteFile("sqlhosts", text); }

  // Resolves form and text with user "joe" and password "pw".
  int Resolve(int32_t form, const char* text, AsfServerList** list, uint32_t* flags = nullptr,
              int32_t no_dbpath = 0) {
    cb = AsfControlBlock{};
    char user[] = "joe", pw[] = "pw";
    AsfCredentials cred{1, user, pw, 5, 9};
    std::string copy = text != nullptr ? text : "";
    AsfTarget target{form, text != nullptr ? copy.data() : nullptr};
    uint32_t f = 0;
    return asfns_resolve(&cb, no_dbpath, &cred, &target, list, nullptr, flags != nullptr ? flags : &f);
  }

  std::vector<std::string> Names(const AsfServerList* list) {
    std::vector<std::string> out;
    for (int i = 0; i < list->count; ++i) out.push_back(list->entries[i].server_name);
    return out;
  }

  tevtest::TempInstall dir;
  AsfControlBlock cb{};
};

std::string ThisHost() {
  char h[256] = {};
  gethostname(h, sizeof h - 1);
  return h;
}

TEST_F(Ns, NettypeIsSplitByItsLength) {
  Hosts("a group - -\n"
        "b vqsoctcp h1 s1\n"
        "c abcdefghijsoctcp h2 s2 k=0\n"
        "d vqipcpi h3 s3\n");
  AsfTextStream* s = sqlhosts_open(0);
  ASSERT_NE(s, nullptr);
  struct Row {
    const char* name;
    const char* type;
    const char* protocol;
    int valid;
  } rows[] = {{"a", "", "", 1}, {"b", "vq", "soctcp", 1}, {"c", "cdefghij", "soctcp", 0},
              {"d", "v", "qipcpi", 0}};
  for (const Row& r : rows) {
    SqlhostsRaw raw{};
    ASSERT_EQ(sqlhosts_read_entry(s, &raw), 0) << r.name;
    EXPECT_STREQ(raw.name, r.name);
    EXPECT_STREQ(raw.server_type, r.type) << r.name;
    EXPECT_STREQ(raw.protocol, r.protocol) << r.name;
    EXPECT_EQ(sqlhosts_valid(&raw), r.valid) << r.name;
  }
  SqlhostsRaw raw{};
  EXPECT_EQ(sqlhosts_read_entry(s, &raw), -1);
  asf_stream_close(s);
  SqlhostsRaw c{};
  EXPECT_EQ(sqlhosts_find(nullptr, "c", &c), -25556);
  EXPECT_STREQ(c.options, "k=0");
}

TEST_F(Ns, OptionsFieldRules) {
  std::string many;
  for (int i = 0; i < 32; ++i) many += "x" + std::to_string(i) + "=1,";
  struct Case {
    const char* nettype;
    std::string options;
    int rc;
    int buffer;
    int security;
    unsigned kl;
  } cases[] = {
      {"vqsoctcp", "", 0, 0, 3, 1},
      {"vqsoctcp", "b=100", 0, 140, 3, 1},
      {"vqsoctcp", "b=4000", 0, 4000, 3, 1},
      {"vqsoctcp", "b=0", -27004, 0, 0, 0},
      {"vqsoctcp", "b=32769", -27004, 0, 0, 0},
      {"vqipcpip", "b=100", 0, 0, 3, 1},
      {"vqsoctcp", "s=5", -27004, 0, 0, 0},
      {"vqsoctcp", "c=2", -27004, 0, 0, 0},
      {"vqsoctcp", "k=7", -27004, 0, 0, 0},
      {"vqsoctcp", "l=9", 0, 0, 3, 1},
      {"vqsoctcp", "l=0,k=0", 0, 0, 3, 2},
      {"vqsoctcp", "l=3", 0, 0, 3, 5},
      {"vqsoctcp", "csm=(GSSCSM)", 0, 0, 16, 1},
      {"vqsoctcp", "s=7,csm=(OTHERCSM)", -27004, 0, 0, 0},
      {"vqsoctcp", "s=4", -27004, 0, 0, 0},
      {"vqsoctcp", "s=4 pam_serv=(login) pamauth=(password)", 0, 0, 7, 1},
      {"drsoctcp", "s=4,pam_serv=x,pamauth=challenge", -27004, 0, 0, 0},
      {"vqsoctcp", "pam_serv=x,pamauth=password", -27004, 0, 0, 0},
      {"vqsoctcp", "s=6", 0, 0, 8, 1},
      {"vqsoctcp", "s=0", 0, 0, 0, 1},
      {"vqsoctcp", "s=2", 0, 0, 2, 1},
      {"vqsoctcp", many + "b=0", 0, 0, 3, 1},
      {"vqsoctcp", many.substr(0, many.size() - 6) + ",b=0", -27004, 0, 0, 0},
      {"vqsoctcp", "k=0 bare", -27004, 0, 0, 0},
      {"vqsoctcp", "=5", -27004, 0, 0, 0},
      {"vqsoctcp", "k=", -27004, 0, 0, 0},
      {"vqsoctcp", "k=0 # b=0", 0, 0, 3, 0},
      {"vqsoctcp", "b=0x10", -27004, 0, 0, 0},
      {"vqsoctcp", "i=12345678901", -27004, 0, 0, 0},
      {"vqsoctcp", "csm=(a),csm=(b)", -27004, 0, 0, 0},
      {"vqipcshm", "csm=(a)", -27004, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SqlhostsRaw raw{};
    std::strcpy(raw.name, "x");
    std::strcpy(raw.nettype, c.nettype);
    std::strncpy(raw.server_type, c.nettype, 2);
    std::strcpy(raw.protocol, c.nettype + 2);
    std::strncpy(raw.options, c.options.c_str(), 512);
    AsfServerOptions o{};
    int rc = sqlhosts_apply_options(&raw, &o);
    EXPECT_EQ(rc, c.rc) << c.options;
    if (rc == 0) {
      EXPECT_EQ(o.buffer_size, c.buffer) << c.options;
      EXPECT_EQ(o.security, c.security) << c.options;
      EXPECT_EQ(o.kl_flags, c.kl) << c.options;
      EXPECT_EQ(o.netrc, 1) << c.options;
    }
    sqlhosts_free_options(&o);
  }
  // Parentheses nest; values keep their inner separators.
  SqlhostsRaw raw{};
  std::strcpy(raw.protocol, "soctcp");
  std::strcpy(raw.options, "csm=(A,(b c)) g=grp e=last a=xx r=0 m=258 i=7 sto=5 rto=9 cltbind=(10.0.0.1)");
  AsfServerOptions o{};
  ASSERT_EQ(sqlhosts_apply_options(&raw, &o), 0);
  EXPECT_STREQ(o.csm, "A,(b c)");
  EXPECT_STREQ(o.g, "grp");
  EXPECT_STREQ(o.e, "last");
  EXPECT_STREQ(o.a, "xx");
  EXPECT_EQ(o.netrc, 0);
  EXPECT_EQ(o.m, 2);
  EXPECT_EQ(o.i, 7);
  EXPECT_EQ(o.send_timeout, 5);
  EXPECT_EQ(o.recv_timeout, 9);
  EXPECT_STREQ(o.cltbind, "10.0.0.1");
  sqlhosts_free_options(&o);
}

TEST_F(Ns, GroupGivesItsMembersUpToTheEndLineRotated) {
  Hosts("# the group\n"
        "g1 group - - c=1,e=m3,a=auth\n"
        "m1 vqsoctcp 127.0.0.1 1001 g=g1\n"
        "x1 vqsoctcp 127.0.0.1 1002\n"
        "m2 vqsoctcp 127.0.0.1 1003 g=g1,a=own\n"
        "m3 vqsoctcp 127.0.0.1 1004 g=g1\n"
        "m4 vqsoctcp 127.0.0.1 1005 g=g1\n"
        "g2 group - -\n"
        "n1 vqsoctcp 127.0.0.1 2001 g=g2\n"
        "n2 vqsoctcp 127.0.0.1 2002 g=g2\n"
        "y vqsoctcp 127.0.0.1 2003\n"
        "n3 vqsoctcp 127.0.0.1 2004 g=g2\n");
  std::vector<std::string> members = {"m1", "m2", "m3"};
  std::vector<std::vector<std::string>> rotations;
  for (int k = 0; k < 3; ++k) {
    std::vector<std::string> r;
    for (int i = 0; i < 3; ++i) r.push_back(members[(k + i) % 3]);
    rotations.push_back(r);
  }
  std::vector<bool> seen(3);
  for (int round = 0; round < 40; ++round) {
    AsfServerList* list = nullptr;
    uint32_t flags = 0;
    ASSERT_EQ(Resolve(3, "@g1", &list, &flags), 0) << cb.error;
    EXPECT_EQ(flags & 0x2000000u, 0x2000000u);
    auto names = Names(list);
    auto it = std::find(rotations.begin(), rotations.end(), names);
    ASSERT_NE(it, rotations.end()) << names.size();
    seen[static_cast<size_t>(it - rotations.begin())] = true;
    for (int i = 0; i < list->count; ++i) {
      const AsfServerEntry& e = list->entries[i];
      // The group's a text goes to members without one of their own.
      EXPECT_STREQ(e.options.a, std::string(e.server_name) == "m2" ? "own" : "auth");
      EXPECT_EQ(e.database, nullptr);
    }
    asf_free_server_list(list);
    usleep(1000);
  }
  EXPECT_TRUE(seen[0] || seen[1] || seen[2]);
  // Without an e line the first line without g ends the group; no rotation.
  AsfServerList* list = nullptr;
  uint32_t flags = 0x2000000u;
  ASSERT_EQ(Resolve(3, "@g2", &list, &flags), 0);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"n1", "n2"}));
  asf_free_server_list(list);
  ASSERT_EQ(Resolve(3, "@m1", &list, &flags), 0);
  EXPECT_EQ(flags & 0x2000000u, 0u);
  asf_free_server_list(list);
}

TEST_F(Ns, LookupErrors) {
  Hosts("srv vqsoctcp 127.0.0.1 9088\n\xff\nlate vqsoctcp 127.0.0.1 9089\nbad vqsoctcp\n");
  AsfServerList* list = reinterpret_cast<AsfServerList*>(1);
  EXPECT_EQ(Resolve(3, "@nosuch", &list), -1);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(cb.error, -25555);
  EXPECT_STREQ(cb.text, "nosuch");
  EXPECT_STREQ(cb.file, "asfns.c");
  // A 0xFF byte ends the input.
  EXPECT_EQ(Resolve(3, "@late", &list), -1);
  EXPECT_EQ(cb.error, -25555);
  EXPECT_EQ(Resolve(0, nullptr, &list), -1);
  EXPECT_EQ(cb.error, -25560);
  setenv("ZIVEVODAREVEZO", std::string(129, 'z').c_str(), 1);
  EXPECT_EQ(Resolve(0, nullptr, &list), -1);
  EXPECT_EQ(cb.error, -25554);
  setenv("ZIVEVODAREVEZO", "gone", 1);
  EXPECT_EQ(Resolve(0, nullptr, &list), -1);
  EXPECT_EQ(cb.error, -25596);
  EXPECT_EQ(Resolve(5, "x", &list), -1);
  EXPECT_EQ(cb.error, -25563);
  EXPECT_EQ(Resolve(3, "", &list), -1);
  EXPECT_EQ(cb.error, -25563);
  EXPECT_EQ(Resolve(3, ("//" + std::string(129, 's') + "/db").c_str(), &list), -1);
  EXPECT_EQ(cb.error, -906);
  EXPECT_EQ(Resolve(3, (std::string(261, 'd') + "@srv").c_str(), &list), -1);
  EXPECT_EQ(cb.error, -909);
  setenv("TARVELONSQLHOSTS", dir.Path("missing").c_str(), 1);
  EXPECT_EQ(Resolve(3, "@srv", &list), -1);
  EXPECT_EQ(cb.error, -25553);
}

TEST_F(Ns, DbpathItemsAndTheirLimit) {
  Hosts("srv vqsoctcp 127.0.0.1 9088\nother vqsoctcp 127.0.0.2 9099\n");
  setenv("ZIVEVODAREVEZO", "srv", 1);
  AsfServerList* list = nullptr;
  setenv("DBPATH", std::string(260, 'a').c_str(), 1);
  EXPECT_EQ(Resolve(3, "db", &list), -1);
  EXPECT_EQ(cb.error, -373);
  setenv("DBPATH", "//other:rel/dir://other/abs://nothere", 1);
  ASSERT_EQ(Resolve(3, "db", &list), 0) << cb.error;
  ASSERT_EQ(list->count, 3);
  EXPECT_STREQ(list->entries[0].server_name, "srv");
  EXPECT_STREQ(list->entries[0].database, "db");
  EXPECT_STREQ(list->entries[0].address, "127.0.0.1|9088|soctcp");
  EXPECT_STREQ(list->entries[1].server_name, "other");
  EXPECT_STREQ(list->entries[1].database, "db");
  EXPECT_STREQ(list->entries[1].address, "127.0.0.2|9099|soctcp");
  // Paths with a "/" that do not begin "//" ("rel/dir/db", "/abs/db") give
  // no vq entry; a server not in the file keeps its code.
  EXPECT_STREQ(list->entries[2].server_name, "nothere");
  EXPECT_EQ(list->entries[2].entry_code, -25559);
  EXPECT_EQ(list->entries[2].address, nullptr);
  asf_free_server_list(list);
  // A named server with a database walks no DBPATH; nor does form 7.
  ASSERT_EQ(Resolve(3, "db@srv", &list), 0);
  EXPECT_EQ(list->count, 1);
  EXPECT_EQ(list->entries[0].cred_kind, 1);
  EXPECT_STREQ(list->entries[0].user, "joe");
  EXPECT_STREQ(list->entries[0].password, "pw");
  EXPECT_EQ(list->entries[0].word1, 5);
  EXPECT_EQ(list->entries[0].word2, 0);
  asf_free_server_list(list);
  ASSERT_EQ(Resolve(7, nullptr, &list), 0);
  EXPECT_EQ(list->count, 1);
  EXPECT_EQ(list->entries[0].database, nullptr);
  asf_free_server_list(list);
}

TEST_F(Ns, LocalDatabasesOfVjEntries) {
  std::string host = ThisHost();
  Hosts("loc vjipcpip " + host + " prog\n");
  setenv("ZIVEVODAREVEZO", "loc", 1);
  dir.MakeDir("one");
  dir.MakeDir("two/stores.dbs");
  setenv("DBPATH", (dir.Path("one") + ":" + dir.Path("two")).c_str(), 1);
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  AsfServerList* list = nullptr;
  ASSERT_EQ(Resolve(3, "Stores", &list), 0) << cb.error;
  ASSERT_EQ(list->count, 2);
  // Not here: the current directory made absolute, the lowered name.
  EXPECT_EQ(std::string(list->entries[0].database), std::string(cwd) + "/stores");
  char real[4096];
  ASSERT_NE(realpath(dir.Path("two").c_str(), real), nullptr);
  EXPECT_EQ(std::string(list->entries[1].database), std::string(real) + "/stores");
  EXPECT_EQ(std::string(list->entries[0].address), host + "|" + tevtest::BuildTree() + "/lib/prog|ipcpip");
  // The process's current directory never moves.
  char after[4096];
  ASSERT_NE(getcwd(after, sizeof after), nullptr);
  EXPECT_STREQ(cwd, after);
  asf_free_server_list(list);
}

TEST_F(Ns, AddressesOfProgramsGatewaysAndExplicitTargets) {
  Hosts("p1 vqipcpip hA svc\np2 vqipcpip hA sub/svc\np3 vqipcpip hA /abs/svc\n");
  std::string tree = tevtest::BuildTree();
  struct Row {
    const char* target;
    std::string address;
  } rows[] = {{"@p1", "hA|" + tree + "/lib/svc|ipcpip"},
              {"@p2", "hA|" + tree + "/sub/svc|ipcpip"},
              {"@p3", "hA|/abs/svc|ipcpip"},
              {"db@gw|gwxsoctcp|hB|svc",
               "||ipcpip&hB|svc|soctcp&vj&gwx|" + tree + "/bin/sqlgwgwxsoctcp|ipcpip"}};
  for (const Row& r : rows) {
    AsfServerList* list = nullptr;
    ASSERT_EQ(Resolve(3, r.target, &list), 0) << r.target << " " << cb.error;
    ASSERT_GE(list->count, 1);
    EXPECT_EQ(std::string(list->entries[0].address), r.address) << r.target;
    asf_free_server_list(list);
  }
  AsfServerList* list = nullptr;
  ASSERT_EQ(Resolve(3, "db@gw|gwxsoctcp|hB|svc", &list), 0);
  EXPECT_EQ(std::string(list->entries[0].protocol, 6), "ipcpip");
  EXPECT_STREQ(list->entries[0].server_name, "gw");
  asf_free_server_list(list);
  // An explicit address: no defaults without options.
  ASSERT_EQ(Resolve(1, "hC||77|soctcp", &list), 0);
  ASSERT_EQ(list->count, 1);
  EXPECT_STREQ(list->entries[0].address, "hC|77|soctcp");
  EXPECT_STREQ(list->entries[0].server_name, "hC");
  EXPECT_EQ(list->entries[0].options.security, 0);
  EXPECT_EQ(list->entries[0].options.kl_flags, 0u);
  asf_free_server_list(list);
  ASSERT_EQ(Resolve(1, "hC|77|soctcp|b=100,k=0", &list), 0);
  EXPECT_EQ(list->entries[0].options.buffer_size, 140);
  EXPECT_EQ(list->entries[0].options.security, 3);
  asf_free_server_list(list);
  EXPECT_EQ(Resolve(1, "hC|77", &list), -1);
  EXPECT_EQ(cb.error, -25557);
  EXPECT_EQ(Resolve(1, "hC|77|soctcp|b=0", &list), -1);
  EXPECT_EQ(cb.error, -27004);
}

}  // namespace
