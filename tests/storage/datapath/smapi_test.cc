#include "storage/datapath/smapi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "storage/catalog/smc_lock.h"
#include "storage/catalog/smcatalog.h"
#include "storage/datapath/smsession.h"
#include "tests/storage/config_env.h"

namespace {

class Api : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.Set("TEV_LOCK_TIMEOUT", "1");
    tevSetDefaultOwner(&owner_);
    tevClearSecurityToken(&token_);
  }
  void TearDown() override { destroy_bsa_handles(0); }

  int64_t Init() {
    int64_t h = 0;
    EXPECT_EQ(tevInit(&h, &token_, &owner_, nullptr), 0);
    EXPECT_GT(h, 0);
    return h;
  }

  tevtest::ConfigEnv env_;
  XbsaObjectOwner owner_;
  XbsaSecurityToken token_;
};

TEST_F(Api, InitChecksItsArgumentsAndTheOwner) {
  int64_t h = 0;
  EXPECT_EQ(tevInit(nullptr, &token_, &owner_, nullptr), BSA_RC_NULL_POINTER);
  EXPECT_EQ(tevInit(&h, &token_, nullptr, nullptr), BSA_RC_NULL_POINTER);
  for (const char* name : {"tarvelon", "TARVELON ", "TARVELO", "", "Tarvelon"}) {
    XbsaObjectOwner o = owner_;
    std::memset(o.bsaObjectOwner, 0, sizeof o.bsaObjectOwner);
    std::strcpy(o.bsaObjectOwner, name);
    EXPECT_EQ(tevInit(&h, &token_, &o, nullptr), BSA_RC_AUTHENTICATION_FAILURE) << name;
  }
  EXPECT_EQ(h, 0);
  // The first session creates the catalog and leaves no lock behind.
  h = Init();
  EXPECT_EQ(tevTerminate(h), 0);
  const int64_t next = Init();
  EXPECT_EQ(next, h + 1);  // numbers are not used twice
  EXPECT_EQ(tevTerminate(next), 0);
  EXPECT_EQ(tevTerminate(next), BSA_RC_BAD_HANDLE);  // no handle is left at all
}

// A configuration that cannot be loaded is reported to the caller, whose
// process goes on.
TEST_F(Api, InitWithoutConfigurationFails) {
  env_.Set("TARVELONDIR", "/" + std::string(1000, 'd'));  // longer than any catalog path
  int64_t h = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(tevInit(&h, &token_, &owner_, nullptr), BSA_RC_ABORT_SYSTEM_ERROR);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Cannot load the configuration.\n");
  EXPECT_EQ(h, 0);
}

TEST_F(Api, TransactionsOpenOnceAndEndOnce) {
  const int64_t h = Init();
  EXPECT_EQ(tevEndTxn(h, 1), BSA_RC_BAD_CALL_SEQUENCE);
  EXPECT_EQ(tevBeginTxn(h), 0);
  EXPECT_EQ(tevBeginTxn(h), BSA_RC_BAD_CALL_SEQUENCE);
  EXPECT_EQ(tevEndTxn(h, 2), 0);  // nothing inserted: an empty rollback succeeds
  EXPECT_EQ(tevEndTxn(h, 2), BSA_RC_BAD_CALL_SEQUENCE);
  EXPECT_EQ(tevBeginTxn(h), 0);
  EXPECT_EQ(tevEndTxn(h, 1), 0);
  EXPECT_EQ(tevEndTxn(h, 1), BSA_RC_BAD_CALL_SEQUENCE);
  // Numbers outside 32 bits name no handle, rather than another one.
  EXPECT_EQ(tevBeginTxn(h + (int64_t{1} << 32)), BSA_RC_NULL_POINTER);
  EXPECT_EQ(tevBeginTxn(h + 1000), BSA_RC_NO_MATCH);
  EXPECT_EQ(tevTerminate(h), 0);
}

// While another session holds the catalog lock, ending a transaction that
// is not open answers 5 at once; ending an open one fails with the lock's
// code and leaves the transaction open.
TEST_F(Api, EndTxnTakesTheLockOnlyWithATransaction) {
  const int64_t h = Init();
  zarHandle* other = nullptr;
  int created = 0;
  ASSERT_EQ(zarOpenSession(&other, 1, &created), 0);
  ASSERT_EQ(smcAcquireCatalogLock(other), 0);
  EXPECT_EQ(tevEndTxn(h, 1), BSA_RC_BAD_CALL_SEQUENCE);
  EXPECT_EQ(tevBeginTxn(h), 0);
  const int rc = tevEndTxn(h, 1);
  EXPECT_NE(rc, 0);
  EXPECT_NE(rc, BSA_RC_BAD_CALL_SEQUENCE);
  EXPECT_EQ(tevBeginTxn(h), BSA_RC_BAD_CALL_SEQUENCE);  // still open
  ASSERT_EQ(smcReleaseCatalogLock(other), 0);
  EXPECT_EQ(tevEndTxn(h, 1), 0);
  EXPECT_EQ(zarCloseSession(other), 0);
}

}  // namespace
