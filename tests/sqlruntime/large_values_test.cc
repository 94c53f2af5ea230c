// TEXT and BYTE columns outside the plain FETCH: the singleton SELECT and
// EXECUTE ... INTO receive the large values of their row as FETCH does, and
// a FETCH with fewer targets than columns leaves out the values of columns
// that have no target, the connection staying in step.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "sqlruntime/blobs.h"
#include "sqlruntime/cursor.h"
#include "sqlruntime/execute.h"
#include "sqlruntime/fetch.h"
#include "tests/sqlruntime/sqli_exchanges.h"

namespace {

using sqli_test::ExchangeTest;

std::string Hex(const std::string& b) { return sqli_test::Hex(b.data(), b.size()); }

// A stored descriptor as the server keeps it: type word at 0, first and
// last offset at 4 and 8, flags at 38 (0x01 null).
std::string Desc(int type, int n, int flags = 0) {
  std::string d(56, '\0');
  d[1] = static_cast<char>(type);
  const uint32_t start = 1, end = static_cast<uint32_t>(n);
  for (int i = 0; i < 4; ++i) {
    d[4 + i] = static_cast<char>(start >> (24 - 8 * i));
    d[8 + i] = static_cast<char>(end >> (24 - 8 * i));
  }
  d[39] = static_cast<char>(flags);
  return d;
}

class LargeValuesTest : public ExchangeTest {
 protected:
  // Table t: INTEGER a, TEXT x, BYTE y; one row whose values the server
  // hands out in turn.
  void StartT(const std::string& x, const std::string& y, bool null_x = false) {
    std::string row = sqli_test::Int32Hex(7) + Hex(Desc(12, static_cast<int>(x.size()), null_x ? 1 : 0)) +
                      Hex(Desc(11, static_cast<int>(y.size())));
    std::string blobs = null_x ? "\"" + Hex(y) + "\"" : "\"" + Hex(x) + "\", \"" + Hex(y) + "\"";
    Start("\"caps\": \"00\", \"tables\": {\"t\": {\"columns\": [" + sqli_test::Col("a", 2, 4) + ", " +
          sqli_test::Col("x", 12, 56) + ", " + sqli_test::Col("y", 11, 56) + "], \"rows\": [\"" + row +
          "\"]}}, \"blob\": [" + blobs + "]");
    dir_ = sqli_test::Install().Path("largevalues_" + std::to_string(getpid()));
    mkdir(dir_.c_str(), 0700);
  }
  void TearDown() override {
    if (mem_.memory_flags & 0x01) std::free(mem_.buffer);
    ExchangeTest::TearDown();
  }
  // Outputs: a, TEXT into a memory locator, BYTE into a file.
  void Outputs() {
    mem_ = SqliLocator{};
    mem_.kind = SQLI_LOC_MEMORY;
    mem_.buffer_size = -1;
    file_ = dir_ + "/y.out";
    out_[0].type = 102, out_[0].length = 4, out_[0].data = reinterpret_cast<char*>(&a_);
    out_[1].type = 113, out_[1].length = sizeof mem_, out_[1].data = reinterpret_cast<char*>(&mem_);
    out_[2].type = 116, out_[2].length = static_cast<int32_t>(file_.size()), out_[2].data = file_.data();
    for (int i = 0; i < 3; ++i) {
      ind_[i] = 99;
      out_[i].indicator = &ind_[i];
      out_[i].ind_type = -1;
    }
  }
  std::string Mem() const { return mem_.buffer == nullptr ? "" : std::string(mem_.buffer, static_cast<size_t>(mem_.size)); }
  std::vector<std::string> Descs() const {
    std::vector<std::string> out;
    for (const std::string& l : server_->Lines()) {
      if (l.rfind("desc ", 0) == 0) out.push_back(l.substr(5));
    }
    return out;
  }
  std::string dir_, file_;
  SqliLocator mem_{};
  SqliValueItem out_[3] = {};
  int16_t ind_[3] = {};
  int32_t a_ = 0;
};

TEST_F(LargeValuesTest, SingletonSelectReceivesTheRowsLargeValues) {
  const std::string x = std::string(1500, 'x') + "end", y = "\x01\x02\x00\xff" + std::string(2000, '\x7f');
  StartT(x, y);
  Outputs();
  const char* text[] = {"select * from t", nullptr};
  ASSERT_EQ(sqli_slct(0, 0, text, 0, nullptr, 3, out_, 0, nullptr, nullptr, 0), 0) << sqlca.sqlcode;
  EXPECT_EQ(a_, 7);
  EXPECT_EQ(ind_[1], 0);
  EXPECT_EQ(ind_[2], 0);
  EXPECT_EQ(Hex(Mem()), Hex(x));
  EXPECT_EQ(Hex(tevtest::ReadFile(file_)), Hex(y));
  auto codes = Codes();
  ASSERT_GE(codes.size(), 2u);
  EXPECT_EQ(codes[codes.size() - 2], "1,22,16,11,12");
  // The statement is gone from the server: the descriptors alone name
  // the values.
  EXPECT_EQ(codes.back(), "38,38,12");
  EXPECT_EQ(Descs().size(), 2u);
  // In step: the next statement is answered.
  a_ = 0;
  const char* again[] = {"select a from t", nullptr};
  ASSERT_EQ(sqli_slct(0, 0, again, 0, nullptr, 1, out_, 0, nullptr, nullptr, 0), 0) << sqlca.sqlcode;
  EXPECT_EQ(a_, 7);
}

TEST_F(LargeValuesTest, ExecuteIntoReceivesThemWithTheStatementId) {
  const std::string y = "byte value";
  StartT("", y, true);
  Outputs();
  SqliCursor* s = sqli_prep(1, "p1", "select * from t", nullptr, nullptr, 0, 0, 0);
  ASSERT_NE(s, nullptr) << sqlca.sqlcode;
  SqliItemList outs{3, out_};
  ASSERT_EQ(sqli_exec(1, s, nullptr, nullptr, nullptr, &outs, nullptr, nullptr, 0), 0) << sqlca.sqlcode;
  EXPECT_EQ(a_, 7);
  EXPECT_EQ(ind_[1], -1) << "a null TEXT value";
  EXPECT_EQ(ind_[2], 0);
  EXPECT_EQ(tevtest::ReadFile(file_), y);
  EXPECT_EQ(LastCodes(), "4,38,12") << "only the non-null value is asked for";
  // A null without an indicator under the indicator rule is -467, the
  // BYTE value still received.
  out_[1].indicator = nullptr;
  std::remove(file_.c_str());
  EXPECT_EQ(sqli_exec(1, s, nullptr, nullptr, nullptr, &outs, nullptr, nullptr, 1), -467);
  EXPECT_EQ(tevtest::ReadFile(file_), y);
}

TEST_F(LargeValuesTest, FetchWithoutTargetForALargeValueLeavesItOut) {
  const std::string x = "text of x", y = "bytes of y";
  StartT(x, y);
  Outputs();
  // Two targets for three columns: the BYTE column has none.
  SqliItemList outs{2, out_};
  SqliCursor* c = Declare("f1", "select * from t", 0, nullptr, &outs);
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0) << sqlca.sqlcode;
  SqliFetchSpec spec{0, SQLI_FETCH_NEXT, 0};
  ASSERT_EQ(sqli_curs_fetch(1, c, nullptr, nullptr, nullptr, &spec), 0) << sqlca.sqlcode;
  EXPECT_EQ(sqlca.sqlwarn.sqlwarn0, 'W');
  EXPECT_EQ(sqlca.sqlwarn.sqlwarn3, 'W');
  EXPECT_EQ(a_, 7);
  EXPECT_EQ(Mem(), x);
  EXPECT_EQ(LastCodes(), "4,38,12");
  ASSERT_EQ(Descs().size(), 1u);
  EXPECT_EQ(Descs()[0], Hex(Desc(12, static_cast<int>(x.size()))));
  EXPECT_EQ(sqli_curs_fetch(1, c, nullptr, nullptr, nullptr, &spec), 100);
  // One target only (a value description): no value is asked for.
  SqliDescriptor one{1, out_, nullptr, 1};
  ASSERT_EQ(sqli_curs_open(1, c, nullptr, nullptr, nullptr, 1, 0), 0) << sqlca.sqlcode;
  size_t asked = Descs().size();
  a_ = 0;
  ASSERT_EQ(sqli_curs_fetch(1, c, nullptr, &one, nullptr, &spec), 0) << sqlca.sqlcode;
  EXPECT_EQ(a_, 7);
  EXPECT_EQ(Descs().size(), asked);
  ASSERT_EQ(sqli_curs_close(1, c), 0) << sqlca.sqlcode;
}

}  // namespace
