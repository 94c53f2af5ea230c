// The catalog CHECK through the built zutev: the messages around each
// table, the check utility's transcript, repairs of a damaged table, a run
// that answers no, and the B-tree listing.
#include <fcntl.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/zutev_tree.h"

namespace {

using zutevtest::Msg;
using zutevtest::Tree;

const char* const kTables[] = {"lock",   "serial", "session",       "pool",   "object_path",
                               "object", "object_detail", "volume", "device"};
constexpr char kTranscriptStart[] = "Checking dictionary and file sizes.\n";

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// The nine transcripts of a run's standard output, in order.
std::vector<std::string> Transcripts(const std::string& out) {
  std::vector<std::string> parts;
  for (size_t at = out.find(kTranscriptStart); at != std::string::npos;) {
    size_t next = out.find(kTranscriptStart, at + 1);
    parts.push_back(out.substr(at, next == std::string::npos ? std::string::npos : next - at));
    at = next;
  }
  return parts;
}

// Every catalog file's bytes by name, but those of the three tables the
// command's own session writes to whatever it runs (the lock, the id
// counters and the session rows).
std::map<std::string, std::string> CatalogBytes(Tree& t) {
  std::map<std::string, std::string> files;
  for (const char* table : kTables) {
    const std::string base = table;
    if (base == "lock" || base == "serial" || base == "session") continue;
    for (const char* ext : {".idx", ".dat"}) {
      const std::string name = base + ext;
      files[name] = t.dir().ReadFile("etc/tev/" + name);
    }
  }
  return files;
}

// The names of the files whose bytes differ.
std::string Changed(const std::map<std::string, std::string>& before,
                    const std::map<std::string, std::string>& after) {
  std::string names;
  for (const auto& [name, bytes] : before) {
    if (after.at(name) != bytes) names += name + " ";
  }
  return names;
}

// A catalog whose pool table holds two pools and one freed record.
void PoolsWithAFreeRecord(Tree& t) {
  for (const char* name : {"p1", "p2", "p3"}) ASSERT_EQ(t.Run({"-P", "ADD", name}).exit_code, 0);
  ASSERT_EQ(t.Run({"-P", "DEL", "p2", "-y"}).exit_code, 0);
}

// Clears the head of the pool table's free-record list (a 4-byte node
// number at offset 25 of the index file's header), as a crash between the
// delete and the list update would leave it.
void LoseThePoolFreeList(Tree& t) {
  int fd = open(t.dir().Path("etc/tev/pool.idx").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  const char zero[4] = {0, 0, 0, 0};
  ASSERT_EQ(pwrite(fd, zero, 4, 25), 4);
  ASSERT_EQ(close(fd), 0);
}

TEST(ZutevCheck, SoundCatalogChecksEveryTableInOrder) {
  Tree t;
  PoolsWithAFreeRecord(t);
  auto r = t.Run({"-C", "CHECK"});
  EXPECT_EQ(r.exit_code, 0) << r.err;

  std::string expected = Msg(87305) + "\n";
  for (const char* table : kTables) expected += Msg(87306, table) + "\n";
  expected += Msg(87307) + "\n";
  // Standard error holds the messages in order, each on its own line.
  std::string err;
  for (size_t at = 0; at < r.err.size();) {
    size_t end = r.err.find('\n', at);
    std::string line = r.err.substr(at, end - at + 1);
    if (!line.empty() && line[0] == ' ') line.erase(0, 1);
    err += line;
    at = end == std::string::npos ? r.err.size() : end + 1;
  }
  EXPECT_EQ(err, expected) << r.err;
  for (const char* table : kTables) EXPECT_TRUE(Has(t.ActLog(), Msg(87306, table))) << table;

  std::vector<std::string> parts = Transcripts(r.out);
  ASSERT_EQ(parts.size(), 9u) << r.out;
  EXPECT_FALSE(Has(r.out, "ERROR")) << r.out;
  EXPECT_FALSE(Has(r.out, "btree level:")) << r.out;
  // The lock and serial tables hold one row each; the pool table the two
  // pools left and the freed record, under its id and name indexes.
  EXPECT_TRUE(Has(parts[0], "1 data record(s) used, 0 free.")) << parts[0];
  EXPECT_TRUE(Has(parts[1], "1 data record(s) used, 0 free.")) << parts[1];
  EXPECT_TRUE(Has(parts[3], "Index 1 = unique key  (0,4,2) \n")) << parts[3];
  EXPECT_TRUE(Has(parts[3], "Index 2 = unique key  (4,24,0) \n")) << parts[3];
  EXPECT_TRUE(Has(parts[3], "2 data record(s) used, 1 free.")) << parts[3];
}

TEST(ZutevCheck, DefaultRunRepairsADamagedTable) {
  Tree t;
  PoolsWithAFreeRecord(t);
  LoseThePoolFreeList(t);

  auto r = t.Run({"-C", "CHECK"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::vector<std::string> parts = Transcripts(r.out);
  ASSERT_EQ(parts.size(), 9u) << r.out;
  EXPECT_TRUE(Has(parts[3], "ERROR: ")) << parts[3];
  EXPECT_TRUE(Has(parts[3], "Fix data record free list ? yes\n")) << parts[3];
  EXPECT_EQ(Count(r.out, "ERROR: "), Count(parts[3], "ERROR: ")) << r.out;

  r = t.Run({"-C", "CHECK"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_FALSE(Has(r.out, "ERROR")) << r.out;
  parts = Transcripts(r.out);
  ASSERT_EQ(parts.size(), 9u);
  EXPECT_TRUE(Has(parts[3], "2 data record(s) used, 1 free.")) << parts[3];

  // The repaired table is usable: its freed record is taken by a new pool.
  EXPECT_EQ(t.Run({"-P", "ADD", "p4"}).exit_code, 0);
  r = t.Run({"-C", "CHECK"});
  EXPECT_FALSE(Has(r.out, "ERROR")) << r.out;
  EXPECT_TRUE(Has(Transcripts(r.out)[3], "3 data record(s) used, 0 free.")) << r.out;
}

TEST(ZutevCheck, AnsweringNoLeavesTheTablesAsTheyWere) {
  Tree t;
  PoolsWithAFreeRecord(t);
  LoseThePoolFreeList(t);
  const auto before = CatalogBytes(t);

  auto r = t.Run({"-C", "CHECK", "-n"}, "n\nn\nn\nn\nn\nn\nn\nn\n");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "Fix data record free list ? ")) << r.out;
  EXPECT_FALSE(Has(r.out, "? yes")) << r.out;
  EXPECT_EQ(Changed(before, CatalogBytes(t)), "");

  // The damage is still there for a later run to find.
  r = t.Run({"-C", "CHECK", "-n"}, "n\nn\nn\nn\nn\nn\nn\nn\n");
  EXPECT_TRUE(Has(Transcripts(r.out).at(3), "ERROR: ")) << r.out;
  EXPECT_EQ(Changed(before, CatalogBytes(t)), "");
}

TEST(ZutevCheck, ListingAddsTheBTreeNodes) {
  Tree t;
  ASSERT_EQ(t.Run({"-P", "ADD", "listed"}).exit_code, 0);
  auto r = t.Run({"-C", "CHECK", "-l"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::vector<std::string> parts = Transcripts(r.out);
  ASSERT_EQ(parts.size(), 9u) << r.out;
  EXPECT_TRUE(Has(parts[3], "btree level: 0, node: ")) << parts[3];
  // The name index's one entry holds the blank-padded name.
  EXPECT_TRUE(Has(parts[3], "listed" + std::string(18, ' '))) << parts[3];
  EXPECT_FALSE(Has(r.out, "ERROR")) << r.out;
}

}  // namespace
