// Test helper: a session on a new catalog in a temporary installation,
// with the catalog's rows read back through the table dumps.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "storage/catalog/smc_dev.h"
#include "storage/catalog/smc_lock.h"
#include "storage/catalog/smc_obj.h"
#include "storage/catalog/smc_odt.h"
#include "storage/catalog/smc_vol.h"
#include "storage/catalog/smcatalog.h"
#include "storage/datapath/smsession.h"
#include "tests/storage/config_env.h"

namespace tevtest {

// One dumped row: its columns in table order.
using Row = std::vector<std::string>;

// The rows a dump function writes with '|'.
inline std::vector<Row> DumpRows(int (*dump)(FILE*, char)) {
  FILE* f = std::tmpfile();
  EXPECT_NE(f, nullptr);
  if (f == nullptr) return {};
  dump(f, '|');
  std::rewind(f);
  std::string text;
  for (int c; (c = std::fgetc(f)) != EOF;) text.push_back(static_cast<char>(c));
  std::fclose(f);
  std::vector<Row> rows;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    Row row;
    size_t from = 0;
    for (size_t at; (at = line.find('|', from)) != std::string::npos; from = at + 1) {
      row.push_back(line.substr(from, at - from));
    }
    rows.push_back(row);
  }
  return rows;
}

// Deterministic data of n bytes that shows any shifted or lost byte.
inline std::string PatternData(size_t n, unsigned seed = 1) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 12345;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345;
    s[i] = static_cast<char>(x >> 16);
  }
  return s;
}

// The python3 interpreter itself, found once: a launcher in front of it
// would cost more than the short scripts the tests run.
inline const std::string& PythonExecutable() {
  static const std::string path = [] {
    RunOptions o;
    o.env = {{"PATH", std::getenv("PATH") != nullptr ? std::getenv("PATH") : "/usr/bin:/bin"},
             {"HOME", std::getenv("HOME") != nullptr ? std::getenv("HOME") : "/"}};
    RunResult r = RunProgram(Python(), {"-c", "import sys; print(sys.executable)"}, o);
    std::string p = r.out;
    while (!p.empty() && p.back() == '\n') p.pop_back();
    return r.exit_code == 0 && !p.empty() ? p : Python();
  }();
  return path;
}

class CatalogSession : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = std::make_unique<ConfigEnv>();
    const TempInstall& in = env_->install();
    // Locale data for the date texts of volume rows.
    ASSERT_EQ(symlink((BuildTree() + "/lxr").c_str(), in.Path("lxr").c_str()), 0);
    env_->Set("TEV_LOCK_TIMEOUT", "5");
    env_->Set("TEV_DEBUG", "9");
    env_->Set("TEV_DEBUG_LOG", in.Path("debug.log"));
    Configure();
    ASSERT_EQ(zarLoadConfig(0), 0);
    int created = 0;
    ASSERT_EQ(zarOpenSession(&h_, 0, &created), 0);
    ASSERT_EQ(created, 1);
    zarCatalogUnlockTables(h_);
    ASSERT_EQ(smcReleaseCatalogLock(h_), 0);
  }
  void TearDown() override {
    if (h_ != nullptr) {
      h_->transactionId = 0;
      zarCloseSession(h_);
    }
    destroy_bsa_handles(0);
    env_.reset();
  }

  // Further settings of a test class, before the configuration is loaded.
  virtual void Configure() {}

  std::string Path(const std::string& rel) const { return env_->install().Path(rel); }
  std::string ActLog() const { return env_->install().ReadFile("act.log"); }
  std::string DebugLog() const { return env_->install().ReadFile("debug.log"); }

  // The rows a dump function writes with '|'.
  static std::vector<Row> Dump(int (*dump)(FILE*, char)) { return DumpRows(dump); }

  std::unique_ptr<ConfigEnv> env_;
  zarHandle* h_ = nullptr;
};

// Column numbers of the dumps.
enum DeviceCol { kDevName = 0, kDevPriority = 3, kDevType = 4, kDevStatus = 9, kDevPool = 11 };
enum VolumeCol {
  kVolSession = 0, kVolTxid = 1, kVolId = 2, kVolLabel = 3, kVolPath = 4, kVolPool = 5,
  kVolVersion = 6, kVolStatus = 12, kVolType = 15, kVolPlatform = 16
};
enum ObjectCol {
  kObjTxid = 0, kObjStatus = 1, kObjPathId = 2, kObjCopyId = 9, kObjVersion = 10, kObjBytesLo = 11,
  kObjBytesHi = 12, kObjUsers = 15, kObjCreate = 16, kObjStamp = 17
};
enum DetailCol { kDetVol = 0, kDetCopy = 2, kDetPart = 3, kDetSize = 4 };

}  // namespace tevtest
