#include "storage/datapath/smhandle.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "storage/datapath/cloud_provider.h"
#include "storage/datapath/smtranid.h"
#include "tests/storage/config_env.h"

namespace {

class Handles : public ::testing::Test {
 protected:
  void SetUp() override { Load(""); }
  void TearDown() override { destroy_bsa_handles(0); }
  void Load(const std::string& write_limit) {
    if (!write_limit.empty()) env_.Set("TEV_QA_LIMIT_WRT", write_limit);
    ASSERT_EQ(zarLoadConfig(0), 0);
  }
  static zarHandle* Make() {
    uint32_t n = 0;
    EXPECT_EQ(create_bsa_handle(&n), 0);
    zarHandle* h = nullptr;
    EXPECT_EQ(find_bsa_handle(n, &h, __FILE_NAME__, __LINE__), 0);
    return h;
  }
  static int32_t* Recnum(int32_t v) {
    auto* p = static_cast<int32_t*>(std::malloc(sizeof(int32_t)));
    *p = v;
    return p;
  }
  tevtest::ConfigEnv env_;
};

TEST_F(Handles, FindCodesAndNumbersNeverReused) {
  destroy_bsa_handles(0);
  zarHandle* h = nullptr;
  EXPECT_EQ(find_bsa_handle(0, &h, "x.cc", 1), 22);
  EXPECT_EQ(find_bsa_handle(1, &h, "x.cc", 1), 6);  // no list at all
  EXPECT_EQ(create_bsa_handle(nullptr), 22);

  uint32_t a = 0, b = 0;
  ASSERT_EQ(create_bsa_handle(&a), 0);
  ASSERT_EQ(create_bsa_handle(&b), 0);
  EXPECT_EQ(b, a + 1);
  ASSERT_EQ(find_bsa_handle(a, &h, "x.cc", 1), 0);
  EXPECT_EQ(h->handleNumber, a);
  EXPECT_EQ(h->filterId, -1);
  for (int id = 1; id <= 9; ++id) EXPECT_EQ(h->tableFd[id], -1);
  EXPECT_NE(h->mountList, nullptr);
  EXPECT_NE(h->txnObjectList, nullptr);
  EXPECT_NE(h->objectList, nullptr);
  EXPECT_EQ(find_bsa_handle(b + 100, &h, "x.cc", 1), 17);

  EXPECT_EQ(destroy_bsa_handles(12345), 0);  // the number is not consulted
  EXPECT_EQ(find_bsa_handle(a, &h, "x.cc", 1), 6);
  EXPECT_EQ(find_bsa_handle(b, &h, "x.cc", 1), 6);
  uint32_t c = 0;
  ASSERT_EQ(create_bsa_handle(&c), 0);
  EXPECT_EQ(c, b + 1);
  EXPECT_EQ(destroy_bsa_handles(0), 0);
  EXPECT_EQ(destroy_bsa_handles(0), 0);  // nothing left to destroy
}

// Bytes = megabytes x 2^20 in 64 bits, also past 2,047 MB.
TEST_F(Handles, WriteLimitInSixtyFourBits) {
  const struct {
    const char* mb;
    int64_t bytes;
  } cases[] = {{"0", 0}, {"1", 1048576}, {"2047", 2146435072}, {"2048", 2147483648LL},
               {"4096", 4294967296LL}, {"100000", 104857600000LL}};
  for (const auto& c : cases) {
    Load(c.mb);
    EXPECT_EQ(Make()->writeLimit, c.bytes) << c.mb;
  }
}

// The transaction list shares the object list's record numbers, and the
// current object belongs to the handle: destroying the handle frees each
// exactly once (the address checker reports a double free or a leak).
TEST_F(Handles, DestroyFreesSharedEntriesOnce) {
  zarHandle* h = Make();
  int32_t status = 0;
  for (int32_t r : {7, 8, 9}) {
    int32_t* p = Recnum(r);
    ll_insert(h->objectList, p, &status);
    ll_insert(h->txnObjectList, p, &status);
  }
  auto* first = static_cast<XbsaObjectDescriptor*>(std::calloc(1, sizeof(XbsaObjectDescriptor)));
  auto* second = static_cast<XbsaObjectDescriptor*>(std::calloc(1, sizeof(XbsaObjectDescriptor)));
  ASSERT_EQ(set_bsa_handle_object(h->handleNumber, first), 0);
  ASSERT_EQ(set_bsa_handle_object(h->handleNumber, second), 0);  // frees the first
  ASSERT_EQ(set_bsa_handle_object(h->handleNumber, second), 0);  // same one: kept
  EXPECT_EQ(h->currentObject, second);
  EXPECT_EQ(set_bsa_handle_object(0, second), 22);
  EXPECT_EQ(destroy_bsa_handles(0), 0);
}

int Count(TypedList* list) {
  int32_t status = 0;
  int n = 0;
  for (void* e = ll_first(list, &status); e != nullptr; e = ll_next(list, &status)) ++n;
  return n;
}

TEST_F(Handles, TransactionEnds) {
  EXPECT_EQ(zarDeleteTxn(nullptr), 22);
  EXPECT_EQ(zarAbortTxn(nullptr), 22);
  zarHandle* h = Make();
  h->transactionId = 1;
  EXPECT_EQ(zarDeleteTxn(h), 0);
  EXPECT_EQ(zarAbortTxn(h), 32);

  // A commit takes every row out of the transaction list; the object list
  // keeps them all. Its code is the volume table's: this handle has no
  // catalog open, so 19 (the session tests commit on a real catalog).
  int32_t status = 0;
  for (int32_t r : {1, 2, 3}) {
    int32_t* p = Recnum(r);
    ll_insert(h->objectList, p, &status);
    ll_insert(h->txnObjectList, p, &status);
  }
  EXPECT_EQ(zarDeleteTxn(h), 19);
  EXPECT_EQ(Count(h->txnObjectList), 0);
  EXPECT_EQ(Count(h->objectList), 3);
  EXPECT_EQ(zarAbortTxn(h), 32);
}

TEST(CloudProvider, Codes) {
  const struct {
    const char* name;
    int code;
  } cases[] = {{"s3", 1}, {"S3", 1}, {"Swift", 2}, {"SWIFT", 2}, {"swift", 2},
               {"TEV_INVALID", 0}, {"", 0}, {"S", 0}, {"S3 ", 0}, {nullptr, 0}};
  for (const auto& c : cases) EXPECT_EQ(zarCloudProviderCode(c.name), c.code) << (c.name ? c.name : "null");
  EXPECT_STREQ(zarCloudProviderTable[0].name, "TEV_INVALID");
  EXPECT_EQ(zarCloudProviderTable[2].code, 2);
}

}  // namespace
