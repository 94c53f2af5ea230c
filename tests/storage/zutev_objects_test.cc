// Object DEL and DUMP over a storage-manager API played by the test: the
// link wraps the API's calls (see CMakeLists.txt), so the bodies meet the
// API's answers block by block: one block with 18 at once, many blocks
// whose last one comes with 18, an exact multiple of the block, objects
// that do not exist, dump files that cannot be made or written.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "storage/command/config.h"
#include "storage/command/sm_util.h"
#include "storage/command/typed_list.h"
#include "storage/command/zutev_objects.h"
#include "storage/datapath/xbsa.h"
#include "tests/e2e/zutev_tree.h"
#include "tests/storage/config_env.h"

namespace {

struct FakeObject {
  std::string path;
  std::string data;
};

struct FakeApi {
  std::map<uint64_t, FakeObject> objects;
  std::vector<std::string> calls;
  int init_rc = 0;
  const FakeObject* reading = nullptr;
  size_t position = 0;

  int Read(XbsaDataBlock* block) {
    const size_t left = reading->data.size() - position;
    const size_t n = std::min<size_t>(left, block->bufferLen);
    std::memcpy(block->bufferPtr, reading->data.data() + position, n);
    position += n;
    block->numBytes = static_cast<uint32_t>(n);
    // A full block says more may follow, as the data path does.
    return n >= block->bufferLen ? BSA_RC_MORE_DATA : BSA_RC_NO_MORE_DATA;
  }
};

FakeApi* g_api = nullptr;

uint64_t U64(UInt64Pair p) { return (static_cast<uint64_t>(p.high) << 32) | p.low; }

}  // namespace

// The wrapped API calls (C++ names of storage/datapath/smapi.h).
extern "C" {
int __wrap__Z7tevInitPlP17XbsaSecurityTokenP15XbsaObjectOwnerPPc(int64_t* handle,
                                                                  XbsaSecurityToken*,
                                                                  XbsaObjectOwner* owner,
                                                                  char**) {
  g_api->calls.push_back(std::string("init ") + owner->bsaObjectOwner);
  *handle = 7;
  return g_api->init_rc;
}
int __wrap__Z12tevTerminatel(int64_t handle) {
  g_api->calls.push_back("terminate " + std::to_string(handle));
  return 0;
}
int __wrap__Z11tevBeginTxnl(int64_t) {
  g_api->calls.push_back("begin");
  return 0;
}
int __wrap__Z9tevEndTxnli(int64_t, int32_t vote) {
  g_api->calls.push_back("end " + std::to_string(vote));
  return 0;
}
int __wrap__Z12tevGetObjectlP20XbsaObjectDescriptorP13XbsaDataBlock(
    int64_t, XbsaObjectDescriptor* object, XbsaDataBlock* block) {
  const uint64_t id = U64(object->copyId);
  g_api->calls.push_back("get " + std::to_string(id));
  auto it = g_api->objects.find(id);
  if (it == g_api->objects.end()) return BSA_RC_NO_MATCH;
  std::snprintf(object->pathName, sizeof object->pathName, "%s", it->second.path.c_str());
  g_api->reading = &it->second;
  g_api->position = 0;
  return g_api->Read(block);
}
int __wrap__Z10tevGetDatalP13XbsaDataBlock(int64_t, XbsaDataBlock* block) {
  g_api->calls.push_back("data");
  return g_api->Read(block);
}
int __wrap__Z10tevEndDatal(int64_t) {
  g_api->calls.push_back("enddata");
  g_api->reading = nullptr;
  return 0;
}
int __wrap__Z15tevDeleteObjectl10UInt64Pair(int64_t, UInt64Pair id) {
  g_api->calls.push_back("delete " + std::to_string(U64(id)));
  return g_api->objects.erase(U64(id)) == 1 ? 0 : BSA_RC_NO_MATCH;
}
}

namespace {

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

class ObjectBodies : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = std::make_unique<tevtest::ConfigEnv>();
    ASSERT_EQ(zarLoadConfig(0), 0);
    ASSERT_EQ(zarGetConfig()->xferBufSize, 128);
    g_api = &api_;
    ASSERT_NE(getcwd(saved_cwd_, sizeof saved_cwd_), nullptr);
    env_->install().MakeDir("out");
    ASSERT_EQ(chdir(env_->install().Path("out").c_str()), 0);
  }
  void TearDown() override {
    int32_t status = 0;
    ll_destroy(&ids_, 1, &status);
    EXPECT_EQ(chdir(saved_cwd_), 0);
    g_api = nullptr;
    env_.reset();
  }

  TypedList* Ids(const std::vector<uint64_t>& ids) {
    int32_t status = 0;
    for (uint64_t id : ids) {
      void* block = sm_zalloc(sizeof id);
      std::memcpy(block, &id, sizeof id);
      if (ids_ == nullptr) {
        ids_ = ll_create(block, LL_TYPE_INT64, sm_free, nullptr, 0, &status);
      } else {
        ll_insert(ids_, block, &status);
      }
    }
    return ids_;
  }
  std::string Out(const std::string& name) const {
    return env_->install().ReadFile("out/" + name);
  }
  std::string Calls() const {
    std::string s;
    for (const auto& c : api_.calls) s += c + ";";
    return s;
  }
  std::string ActLog() const { return env_->install().ReadFile("act.log"); }

  std::unique_ptr<tevtest::ConfigEnv> env_;
  FakeApi api_;
  TypedList* ids_ = nullptr;
  char saved_cwd_[4096];
};

constexpr size_t kBlock = 128 * 1024;

TEST_F(ObjectBodies, DumpWritesEveryBlockOfEachObject) {
  const std::string one = RandomBytes(5000, 1), many = RandomBytes(3 * kBlock + 77, 2),
                    exact = RandomBytes(2 * kBlock, 3);
  api_.objects[42] = {"\\a\\b", one};
  api_.objects[43] = {"/x/y", many};
  api_.objects[1ull << 40] = {"/e", exact};
  EXPECT_EQ(zutevDumpObjects(Ids({42, 43, 1ull << 40})), 0);
  EXPECT_EQ(Out("a_b.42"), one);
  EXPECT_EQ(Out("x_y.43"), many);  // its last block came with 18
  EXPECT_EQ(Out("e.1099511627776"), exact);
  EXPECT_EQ(Calls(),
            "init TARVELON;begin;get 42;enddata;get 43;data;data;data;enddata;"
            "get 1099511627776;data;data;enddata;end 1;terminate 7;");
}

TEST_F(ObjectBodies, DumpSkipsAMissingObjectAndEndsWithTheLast) {
  api_.objects[42] = {"/a", "bytes"};
  EXPECT_EQ(zutevDumpObjects(Ids({999, 42})), 0);
  EXPECT_EQ(Out("a.42"), "bytes");
  EXPECT_EQ(Calls(), "init TARVELON;begin;get 999;get 42;enddata;end 1;terminate 7;");
  // The missing object last: its code is the result.
  api_.calls.clear();
  int32_t status = 0;
  ll_destroy(&ids_, 1, &status);
  EXPECT_EQ(zutevDumpObjects(Ids({42, 999})), BSA_RC_NO_MATCH);
}

TEST_F(ObjectBodies, DumpFileNamesNeverLeaveTheCurrentDirectory) {
  api_.objects[5] = {"/../../up", "u"};
  api_.objects[6] = {"x", "short"};
  EXPECT_EQ(zutevDumpObjects(Ids({5, 6})), 0);
  EXPECT_EQ(Out(".._.._up.5"), "u");
  EXPECT_EQ(Out(".6"), "short");
  EXPECT_FALSE(env_->install().Exists("up.5"));
}

TEST_F(ObjectBodies, DumpThatCannotMakeItsFileFailsAndStillEndsTheObject) {
  api_.objects[42] = {"/a", "bytes"};
  env_->install().MakeDir("out/a.42");  // a directory in the way
  EXPECT_EQ(zutevDumpObjects(Ids({42})), BSA_RC_ABORT_SYSTEM_ERROR);
  EXPECT_EQ(Calls(), "init TARVELON;begin;get 42;enddata;end 1;terminate 7;");
}

TEST_F(ObjectBodies, DumpThatCannotWriteFailsAndClosesEverything) {
  // A dump file that is the full device: a small object fails when its
  // file is closed, a large one at its first write, which ends the dump.
  api_.objects[1] = {"/s", "small"};
  api_.objects[2] = {"/l", RandomBytes(3 * kBlock, 4)};
  api_.objects[3] = {"/n", "never"};
  ASSERT_EQ(symlink("/dev/full", "s.1"), 0);
  ASSERT_EQ(symlink("/dev/full", "l.2"), 0);
  EXPECT_EQ(zutevDumpObjects(Ids({1})), BSA_RC_ABORT_SYSTEM_ERROR);
  int32_t status = 0;
  ll_destroy(&ids_, 1, &status);
  api_.calls.clear();
  EXPECT_EQ(zutevDumpObjects(Ids({2, 3})), BSA_RC_ABORT_SYSTEM_ERROR);
  EXPECT_EQ(Calls(), "init TARVELON;begin;get 2;enddata;end 1;terminate 7;");
  EXPECT_FALSE(env_->install().Exists("out/n.3"));
}

TEST_F(ObjectBodies, DeleteGoesOnAfterAFailureAndCommitsOnce) {
  api_.objects[1] = {"/a", "a"};
  api_.objects[3] = {"/c", "c"};
  EXPECT_EQ(zutevDeleteObjects(Ids({1, (7ull << 32) | 2, 3})), 1);
  EXPECT_TRUE(api_.objects.empty());
  EXPECT_EQ(Calls(), "init TARVELON;begin;delete 1;delete 30064771074;delete 3;end 1;terminate 7;");
  const std::string log = ActLog();
  const std::string expected = zutevtest::Msg(88026, 7u, 2u, 17);
  EXPECT_NE(log.find(expected), std::string::npos) << log;
  EXPECT_EQ(log.find(expected), log.rfind(expected));
}

TEST_F(ObjectBodies, RefusedApiStartIsTheResult) {
  api_.init_rc = BSA_RC_AUTHENTICATION_FAILURE;
  api_.objects[1] = {"/a", "a"};
  EXPECT_EQ(zutevDeleteObjects(Ids({1})), 4);
  EXPECT_EQ(zutevDumpObjects(Ids({1})), 4);
  EXPECT_EQ(Calls(), "init TARVELON;init TARVELON;");
  EXPECT_FALSE(api_.objects.empty());
  EXPECT_NE(ActLog().find(zutevtest::Msg(88027, 4)), std::string::npos) << ActLog();
}

}  // namespace
