// The pool commands through the built zutev: what ADD stores, the exact
// LIST report, DEL with its question and its refusals.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/zutev_tree.h"

namespace {

using zutevtest::Msg;
using zutevtest::Tree;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The LIST report with the three built-in pools followed by the given
// lines, written out column by column.
std::string Report(const std::vector<std::string>& added) {
  std::string out = Msg(87024) + "\n";
  out += "1          DBSPOOL     \n";
  out += "2          LOGPOOL     \n";
  out += "3          EXTPOOL     \n";
  for (const std::string& line : added) out += line + "\n";
  return out + "\n\n";
}

TEST(ZutevPool, ListOfANewCatalogShowsTheBuiltInPools) {
  Tree t;
  auto r = t.Run({"-P", "LIST"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, Report({}));
}

TEST(ZutevPool, AddStoresTheFullNameAndListCutsItToTwelve) {
  Tree t;
  const std::string name24 = "abcdefghijklmnopqrstuvwx";
  auto r = t.Run({"-P", "ADD", name24});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  r = t.Run({"-P", "ADD", "short"});
  ASSERT_EQ(r.exit_code, 0) << r.err;

  r = t.Run({"-P", "LIST"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, Report({"4          abcdefghijkl", "5          short       "}));

  // The stored row keeps all 24 characters (stored ids count from 1).
  r = t.Run({"-S", "DUMP", "pool"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "1\t" + name24 + "\t\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "2\tshort\t\n")) << r.out;
}

TEST(ZutevPool, AddOfAnExistingNameFailsAndSaysSoOnlyInTheDebugLog) {
  Tree t;
  t.env()["TEV_DEBUG"] = "1";
  ASSERT_EQ(t.Run({"-P", "ADD", "twice"}).exit_code, 0);
  auto r = t.Run({"-P", "ADD", "twice"});
  EXPECT_EQ(r.exit_code, 19);
  EXPECT_TRUE(Has(r.err, Msg(88184))) << r.err;
  EXPECT_FALSE(Has(r.err, Msg(88192))) << r.err;
  EXPECT_FALSE(Has(t.ActLog(), Msg(88192)));
  EXPECT_TRUE(Has(t.dir().ReadFile("dbug.log"), Msg(88192)));
  EXPECT_EQ(t.Run({"-P", "LIST"}).out, Report({"4          twice       "}));
}

TEST(ZutevPool, DeleteAsksAndRemovesOnlyOnYes) {
  Tree t;
  ASSERT_EQ(t.Run({"-P", "ADD", "keep"}).exit_code, 0);
  ASSERT_EQ(t.Run({"-P", "ADD", "gone"}).exit_code, 0);

  auto r = t.Run({"-P", "DEL", "gone"}, "n\n");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(Has(r.err, Msg(87308))) << r.err;
  EXPECT_EQ(t.Run({"-P", "LIST"}).out,
            Report({"4          keep        ", "5          gone        "}));

  r = t.Run({"-P", "DEL", "gone"}, "y\n");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(t.Run({"-P", "LIST"}).out, Report({"4          keep        "}));

  // "-y" asks nothing; the catalog lock is free again afterwards, so a
  // second command can take it.
  r = t.Run({"-P", "DEL", "keep", "-y"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_FALSE(Has(r.err, Msg(87308))) << r.err;
  EXPECT_EQ(t.Run({"-P", "LIST"}).out, Report({}));
  EXPECT_EQ(t.Run({"-P", "ADD", "again"}).exit_code, 0);
  EXPECT_EQ(t.Run({"-P", "DEL", "again", "-y"}).exit_code, 0);
}

TEST(ZutevPool, DeleteRefusals) {
  struct Case {
    std::string name;
    int exit_code;
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {"DBSPOOL", 3, {Msg(88194), Msg(88193)}},
      {"EXTPOOL", 3, {Msg(88194), Msg(88193)}},
      {"nosuchpool", 17, {Msg(88187), Msg(88193)}},
  };
  Tree t;
  for (const Case& c : cases) {
    auto r = t.Run({"-P", "DEL", c.name, "-y"});
    EXPECT_EQ(r.exit_code, c.exit_code) << c.name << r.err;
    for (const std::string& m : c.messages) {
      EXPECT_TRUE(Has(r.err, m)) << c.name << ": " << m << "\n" << r.err;
      EXPECT_TRUE(Has(t.ActLog(), m)) << c.name << ": " << m;
    }
  }
  EXPECT_EQ(t.Run({"-P", "LIST"}).out, Report({}));
}

}  // namespace
