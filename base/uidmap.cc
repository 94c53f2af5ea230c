// The user-id map in the registry (layout in os_accounts.h).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/os_accounts.h"
#include "base/accounts_internal.h"
#include "platform/registry.h"
#include "platform/win_errors.h"

namespace {

constexpr int kLockTries = 51;
constexpr useconds_t kLockWaitMicros = 100 * 1000;

// "SOFTWARE\Tarvelon\Velkor\<ZIVEVODAREVEZO>\Security\Users", with `sub`
// appended; false when ZIVEVODAREVEZO is not set.
bool UsersKeyPath(const char* sub, std::string* path) {
  const char* server = getenv("ZIVEVODAREVEZO");
  if (server == nullptr || *server == '\0') return false;
  *path = std::string("SOFTWARE\\Tarvelon\\Velkor\\") + server + "\\Security\\Users";
  if (sub != nullptr) *path += std::string("\\") + sub;
  return true;
}

class Key {
 public:
  ~Key() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  int32_t Open(const char* sub, uint32_t access) {
    std::string path;
    if (!UsersKeyPath(sub, &path)) return tvwin::kFileNotFound;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, &key_);
  }
  int32_t Create(const char* sub, uint32_t access) {
    std::string path;
    if (!UsersKeyPath(sub, &path)) return tvwin::kFileNotFound;
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                           access, nullptr, &key_, nullptr);
  }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

std::string UidValueName(uint16_t uid) { return "UID" + std::to_string(uid); }

}  // namespace

int32_t uidmap_get(const char* qualified_name, uint16_t* uid) {
  if (qualified_name == nullptr || uid == nullptr) return 0;
  Key key;
  if (key.Open("Usernames", KEY_READ) != 0) return 0;
  unsigned char data[4];
  uint32_t type = 0, size = sizeof data;
  if (RegQueryValueExA(key.get(), qualified_name, nullptr, &type, data, &size) != 0 ||
      type != REG_DWORD || size != 4) {
    return 0;
  }
  uint32_t value = data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
  if (value > 0xFFFF) return 0;  // not an id this map hands out
  *uid = static_cast<uint16_t>(value);
  return 1;
}

int32_t uidmap_name(uint16_t uid, char* out) {
  if (out == nullptr) return 0;
  Key key;
  if (key.Open("Usernames", KEY_READ) != 0) return 0;
  char buf[OS_UIDMAP_NAME_SIZE];
  uint32_t type = 0, size = sizeof buf;
  if (RegQueryValueExA(key.get(), UidValueName(uid).c_str(), nullptr, &type,
                       reinterpret_cast<unsigned char*>(buf), &size) != 0 ||
      type != REG_SZ) {
    return 0;
  }
  size_t len = strnlen(buf, size);
  if (len == sizeof buf) return 0;  // no room for the terminator
  memcpy(out, buf, len);
  out[len] = '\0';
  return 1;
}

int32_t uidmap_lock(void) {
  std::string path;
  if (!UsersKeyPath("Lock", &path)) return 0;
  for (int attempt = 0; attempt < kLockTries; ++attempt) {
    if (attempt > 0) usleep(kLockWaitMicros);
    HKEY key;
    uint32_t disposition = 0;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, &disposition) != 0) {
      return 0;
    }
    if (RegCloseKey(key) != 0) return 0;
    if (disposition == REG_CREATED_NEW_KEY) return 1;
  }
  return 0;
}

int32_t uidmap_unlock(void) {
  std::string path;
  if (!UsersKeyPath("Lock", &path)) return 0;
  return RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str()) == 0 ? 1 : 0;
}

int32_t uidmap_nextuid(uint16_t* uid) {
  if (uid == nullptr) return 0;
  Key key;
  if (key.Open(nullptr, KEY_ALL_ACCESS) != 0) return 0;
  unsigned char data[4];
  uint32_t type = 0, size = sizeof data;
  if (RegQueryValueExA(key.get(), "UIDSeed", nullptr, &type, data, &size) != 0 || size != 4) {
    return 0;
  }
  uint32_t seed = data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
  if (seed >= 0xFFFF) return 0;
  uint32_t next = seed + 1;
  unsigned char out[4] = {static_cast<unsigned char>(next), static_cast<unsigned char>(next >> 8),
                          0, 0};
  if (RegSetValueExA(key.get(), "UIDSeed", 0, REG_DWORD, out, 4) != 0) return 0;
  *uid = static_cast<uint16_t>(next);
  return 1;
}

int32_t uidmap_put(const char* qualified_name, uint16_t uid) {
  if (qualified_name == nullptr) return tvwin::kInvalidParameter;
  Key key;
  // Made when missing, so that an installation needs to seed only UIDSeed.
  if (int32_t rc = key.Create("Usernames", KEY_WRITE); rc != 0) return rc;
  unsigned char id[4] = {static_cast<unsigned char>(uid), static_cast<unsigned char>(uid >> 8), 0,
                         0};
  if (int32_t rc = RegSetValueExA(key.get(), qualified_name, 0, REG_DWORD, id, 4); rc != 0) {
    return rc;
  }
  return RegSetValueExA(key.get(), UidValueName(uid).c_str(), 0, REG_SZ,
                        reinterpret_cast<const unsigned char*>(qualified_name),
                        static_cast<uint32_t>(strlen(qualified_name) + 1));
}

int32_t uidmap_delete(const char* qualified_name, uint16_t uid) {
  if (qualified_name == nullptr) return tvwin::kInvalidParameter;
  Key key;
  if (int32_t rc = key.Open("Usernames", KEY_WRITE); rc != 0) return rc;
  if (int32_t rc = RegDeleteValueA(key.get(), UidValueName(uid).c_str()); rc != 0) return rc;
  return RegDeleteValueA(key.get(), qualified_name);
}

namespace tvbase {

int32_t AllocateUid(const char* qualified_name, uint16_t* uid) {
  if (!uidmap_lock()) return OS_ERR_MAP_LOCK;
  int32_t rc = 0;
  // Another process may have mapped the name since the caller looked:
  // one account keeps one id.
  if (!uidmap_get(qualified_name, uid)) {
    if (!uidmap_nextuid(uid)) {
      rc = OS_ERR_NO_NEW_UID;
    } else if (uidmap_put(qualified_name, *uid) != 0) {
      rc = OS_ERR_MAP_WRITE;
    }
  }
  if (!uidmap_unlock()) rc = OS_ERR_MAP_LOCK;
  return rc;
}

}  // namespace tvbase
