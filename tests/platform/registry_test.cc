#include "platform/registry.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/registry_store.h"
#include "tests/support/test_support.h"

namespace {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("TARVELON_REGISTRY", dir_.Path("reg").c_str(), 1); }
  void TearDown() override { unsetenv("TARVELON_REGISTRY"); }

  HKEY Create(const char* path, uint32_t options = 0, uint32_t* disposition = nullptr,
              HKEY root = HKEY_LOCAL_MACHINE) {
    HKEY key = nullptr;
    EXPECT_EQ(0, RegCreateKeyExA(root, path, 0, nullptr, options, KEY_ALL_ACCESS, nullptr, &key,
                                 disposition))
        << path;
    return key;
  }
  static void SetText(HKEY key, const char* name, const std::string& text) {
    ASSERT_EQ(0, RegSetValueExA(key, name, 0, REG_SZ,
                                reinterpret_cast<const unsigned char*>(text.c_str()),
                                static_cast<uint32_t>(text.size() + 1)));
  }
  static std::string GetText(HKEY key, const char* name) {
    char buf[256] = {};
    uint32_t size = sizeof buf, type = 0;
    int32_t rc = RegQueryValueExA(key, name, nullptr, &type,
                                  reinterpret_cast<unsigned char*>(buf), &size);
    return rc == 0 ? std::string(buf) : "<error " + std::to_string(rc) + ">";
  }
  static std::vector<std::string> SubkeyNames(HKEY key) {
    std::vector<std::string> names;
    for (uint32_t i = 0;; ++i) {
      char name[256];
      uint32_t size = sizeof name;
      int32_t rc = RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
      if (rc == 259) break;
      EXPECT_EQ(0, rc);
      if (rc != 0) break;
      names.push_back(name);
    }
    return names;
  }
  std::string HiveFile() { return dir_.Path("reg/HKLM.reg"); }

  tevtest::TempInstall dir_;
};

TEST_F(RegistryTest, NamesIgnoreCaseAndKeepTheirFirstSpelling) {
  uint32_t disposition = 0;
  HKEY key = Create("Software\\Tarvelon\\SQLHOSTS\\srv", 0, &disposition);
  EXPECT_EQ(REG_CREATED_NEW_KEY, disposition);
  SetText(key, "Host", "alpha");
  RegCloseKey(key);

  HKEY again = Create("\\SOFTWARE\\\\TARVELON\\SQLHOSTS\\SRV\\", 0, &disposition);
  EXPECT_EQ(REG_OPENED_EXISTING_KEY, disposition);
  EXPECT_EQ("alpha", GetText(again, "HOST"));
  SetText(again, "HOST", "beta");  // replaces, keeps the name "Host"
  char name[16];
  uint32_t size = sizeof name;
  ASSERT_EQ(0, RegEnumValueA(again, 0, name, &size, nullptr, nullptr, nullptr, nullptr));
  EXPECT_STREQ("Host", name);
  RegCloseKey(again);

  HKEY parent;
  ASSERT_EQ(0, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\tarvelon\\sqlhosts", 0, KEY_READ,
                             &parent));
  EXPECT_EQ(std::vector<std::string>{"srv"}, SubkeyNames(parent));
  RegCloseKey(parent);
}

TEST_F(RegistryTest, SubkeysListInNameOrderAndValuesInWritingOrder) {
  HKEY root = Create("T");
  for (const char* name : {"beta", "Alpha", "gamma", "alpha2", "a-b"}) RegCloseKey(Create((std::string("T\\") + name).c_str()));
  RegCloseKey(Create("T\\beta\\inner"));
  EXPECT_EQ((std::vector<std::string>{"a-b", "Alpha", "alpha2", "beta", "gamma"}),
            SubkeyNames(root));
  for (const char* name : {"z", "a", "m"}) SetText(root, name, name);
  SetText(root, "A", "again");
  std::vector<std::string> order;
  for (uint32_t i = 0;; ++i) {
    char name[8];
    uint32_t size = sizeof name;
    if (RegEnumValueA(root, i, name, &size, nullptr, nullptr, nullptr, nullptr) != 0) break;
    order.push_back(name);
  }
  EXPECT_EQ((std::vector<std::string>{"z", "a", "m"}), order);
  RegCloseKey(root);
}

TEST_F(RegistryTest, SizesAndShortBuffers) {
  HKEY key = Create("K");
  SetText(key, "text", "hello");  // 6 bytes with the NUL
  uint32_t seed = 0x12345678;
  ASSERT_EQ(0, RegSetValueExA(key, "UIDSeed", 0, REG_DWORD,
                              reinterpret_cast<const unsigned char*>(&seed), 4));
  uint32_t type = 0, size = 0;
  EXPECT_EQ(0, RegQueryValueExA(key, "text", nullptr, &type, nullptr, &size));
  EXPECT_EQ(6u, size);
  EXPECT_EQ(REG_SZ, type);
  unsigned char buf[16];
  size = 5;
  EXPECT_EQ(234, RegQueryValueExA(key, "text", nullptr, nullptr, buf, &size));
  EXPECT_EQ(6u, size);
  size = 4;
  uint32_t read_seed = 0;
  EXPECT_EQ(0, RegQueryValueExA(key, "uidseed", nullptr, &type,
                                reinterpret_cast<unsigned char*>(&read_seed), &size));
  EXPECT_EQ(REG_DWORD, type);
  EXPECT_EQ(seed, read_seed);
  EXPECT_EQ(2, RegQueryValueExA(key, "missing", nullptr, nullptr, nullptr, &size));

  char name[8];
  uint32_t name_size = 4;  // "text" needs 5 with its NUL
  EXPECT_EQ(234, RegEnumValueA(key, 0, name, &name_size, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(259, RegEnumValueA(key, 2, name, &(name_size = 8), nullptr, nullptr, nullptr, nullptr));
  uint32_t data_size = 2;
  name_size = 8;
  EXPECT_EQ(234, RegEnumValueA(key, 0, name, &name_size, nullptr, &type, buf, &data_size));
  EXPECT_EQ(6u, data_size);

  uint32_t subkeys = 9, values = 0, longest_name = 0, longest_data = 0;
  RegCloseKey(Create("K\\a-longer-name"));
  EXPECT_EQ(0, RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                &values, &longest_name, &longest_data, nullptr, nullptr));
  EXPECT_EQ(1u, subkeys);
  EXPECT_EQ(2u, values);
  EXPECT_EQ(7u, longest_name);
  EXPECT_EQ(6u, longest_data);
  RegCloseKey(key);
}

TEST_F(RegistryTest, RefusedCalls) {
  HKEY key = Create("K\\child");
  RegCloseKey(key);
  HKEY parent;
  ASSERT_EQ(0, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_READ, &parent));
  const unsigned char one = 1;
  EXPECT_EQ(5, RegSetValueExA(parent, "v", 0, REG_BINARY, &one, 1)) << "read-only handle";
  EXPECT_EQ(5, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "K")) << "key with sub-keys";
  EXPECT_EQ(2, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "K\\nothing"));
  EXPECT_EQ(2, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K\\nothing", 0, KEY_READ, &key));
  EXPECT_EQ(87, RegCreateKeyExA(HKEY_LOCAL_MACHINE, std::string(256, 'x').c_str(), 0, nullptr,
                                0, KEY_ALL_ACCESS, nullptr, &key, nullptr));

  HKEY child;
  ASSERT_EQ(0, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K\\child", 0, KEY_ALL_ACCESS, &child));
  ASSERT_EQ(0, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "K\\CHILD"));
  EXPECT_EQ(1018, RegSetValueExA(child, "v", 0, REG_BINARY, &one, 1)) << "deleted key";
  EXPECT_EQ(1018, RegQueryValueExA(child, "v", nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(0, RegCloseKey(child));
  EXPECT_EQ(6, RegCloseKey(child));
  EXPECT_EQ(6, RegQueryValueExA(child, "v", nullptr, nullptr, nullptr, nullptr));

  HKEY lock = Create("K\\Lock", REG_OPTION_VOLATILE);
  EXPECT_EQ(1021, RegCreateKeyExA(lock, "lasting", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr));
  RegCloseKey(lock);
  RegCloseKey(parent);
}

TEST_F(RegistryTest, ConnectsOnlyToThisMachine) {
  char host[256] = {};
  ASSERT_EQ(0, gethostname(host, sizeof host - 1));
  HKEY key;
  for (std::string name : {std::string(), std::string(host), "\\\\" + std::string(host)}) {
    EXPECT_EQ(0, RegConnectRegistryA(name.c_str(), HKEY_LOCAL_MACHINE, &key)) << name;
    EXPECT_EQ(HKEY_LOCAL_MACHINE, key);
  }
  EXPECT_EQ(0, RegConnectRegistryA(nullptr, HKEY_LOCAL_MACHINE, &key));
  EXPECT_EQ(53, RegConnectRegistryA("elsewhere.invalid", HKEY_LOCAL_MACHINE, &key));
}

TEST_F(RegistryTest, UserHiveIsSeparateFromMachineHive) {
  HKEY user = Create("Software\\Net", 0, nullptr, HKEY_CURRENT_USER);
  SetText(user, "v", "mine");
  RegCloseKey(user);
  HKEY key;
  EXPECT_EQ(2, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Net", 0, KEY_READ, &key));
  EXPECT_TRUE(dir_.Exists("reg/HKCU-" + std::to_string(geteuid()) + ".reg"));
}

// A damaged hive is reported, never read as something else nor replaced.
TEST_F(RegistryTest, CorruptHivesAreRefusedAndKept) {
  HKEY key = Create("A\\B");
  SetText(key, "v", "x");
  RegCloseKey(key);
  std::string good = tevtest::ReadFile(HiveFile());
  ASSERT_EQ("TVREG 1\nK % - %\nK A - %\nK A\\B - %\nV v 1 7800\n", good);

  const std::vector<std::pair<const char*, std::string>> cases = {
      {"cut mid-line", good.substr(0, good.size() - 3)},
      {"cut after header", "TVREG 1"},
      {"wrong header", "TVREG 2\n"},
      {"empty file", ""},
      {"value before any key", "TVREG 1\nV v 1 78\n"},
      {"key without parent", "TVREG 1\nK A\\B - %\n"},
      {"duplicate key", "TVREG 1\nK A - %\nK a - %\n"},
      {"duplicate value", "TVREG 1\nK A - %\nV v 1 78\nV V 1 79\n"},
      {"odd hex", "TVREG 1\nK A - %\nV v 1 780\n"},
      {"bad escape", "TVREG 1\nK A%4 - %\n"},
      {"escaped NUL", "TVREG 1\nK A%00 - %\n"},
      {"bad life", "TVREG 1\nK A v:x:y %\n"},
      {"lasting under volatile", "TVREG 1\nK A v:b:0:0 %\nK A\\B - %\n"},
      {"extra field", "TVREG 1\nK A - % %\n"},
      {"non-canonical path", "TVREG 1\nK A - %\nK A\\\\B - %\n"},
  };
  for (const auto& [what, text] : cases) {
    tevtest::WriteFile(HiveFile(), text);
    HKEY k;
    EXPECT_EQ(1009, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "A", 0, KEY_READ, &k)) << what;
    EXPECT_EQ(1009, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "C", 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, &k, nullptr))
        << what;
    EXPECT_EQ(text, tevtest::ReadFile(HiveFile())) << what;
  }
}

TEST_F(RegistryTest, VolatileKeysEndWithTheBootOrTheirProcess) {
  const std::string boot = tvreg::CurrentBootId();
  uint64_t my_start = 0;
  ASSERT_TRUE(tvreg::ProcessStartTime(getpid(), &my_start));
  // A pid that no process has: the start of a finished child.
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  ASSERT_GT(gone, 0);
  int status;
  waitpid(gone, &status, 0);
  std::string hive = "TVREG 1\nK % - %\nK S - %\n";
  hive += "K S\\OldBoot v:another-boot:0:0 %\n";
  hive += "K S\\OldBoot\\Inner v:another-boot:0:0 %\n";
  hive += "K S\\Seeded v:" + boot + ":0:0 %\n";
  hive += "K S\\Mine v:" + boot + ":" + std::to_string(getpid()) + ":" + std::to_string(my_start) + " %\n";
  hive += "K S\\Ended v:" + boot + ":" + std::to_string(gone) + ":1 %\n";
  hive += "K S\\Reused v:" + boot + ":" + std::to_string(getpid()) + ":" + std::to_string(my_start + 1) + " %\n";
  tevtest::WriteFile(HiveFile(), hive);

  HKEY s;
  ASSERT_EQ(0, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "S", 0, KEY_READ, &s));
  EXPECT_EQ((std::vector<std::string>{"Mine", "Seeded"}), SubkeyNames(s));
  uint32_t disposition = 0;
  RegCloseKey(Create("S\\Ended", REG_OPTION_VOLATILE, &disposition));
  EXPECT_EQ(REG_CREATED_NEW_KEY, disposition);
  RegCloseKey(Create("S\\Mine", REG_OPTION_VOLATILE, &disposition));
  EXPECT_EQ(REG_OPENED_EXISTING_KEY, disposition);
  RegCloseKey(s);
  EXPECT_EQ(std::string::npos, tevtest::ReadFile(HiveFile()).find("OldBoot"));
}

}  // namespace
