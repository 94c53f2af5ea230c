// The registry calls: handles, and each call as one hive transaction.
#include "platform/registry.h"

#include <unistd.h>

#include <cstring>
#include <map>
#include <mutex>
#include <optional>

#include "platform/registry_store.h"
#include "platform/win_errors.h"

using tvreg::Hive;
using tvreg::RegKey;
using tvreg::RegValue;
using tvreg::Root;

namespace {

struct OpenKey {
  Root root;
  std::string path;  // canonical
  uint32_t access;
};

std::mutex g_handles_mutex;
std::map<uintptr_t, OpenKey> g_handles;
uintptr_t g_next_handle = 0x1000;

std::optional<OpenKey> Resolve(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return OpenKey{Root::kMachine, "", KEY_ALL_ACCESS};
  if (key == HKEY_CURRENT_USER) return OpenKey{Root::kUser, "", KEY_ALL_ACCESS};
  std::lock_guard<std::mutex> guard(g_handles_mutex);
  auto it = g_handles.find(reinterpret_cast<uintptr_t>(key));
  if (it == g_handles.end()) return std::nullopt;
  return it->second;
}

HKEY NewHandle(OpenKey key) {
  std::lock_guard<std::mutex> guard(g_handles_mutex);
  uintptr_t id = g_next_handle++;
  g_handles.emplace(id, std::move(key));
  return reinterpret_cast<HKEY>(id);
}

// The canonical path of `subkey` below `base`; false for an over-long part.
bool SubkeyPath(const std::string& base, const char* subkey, std::string* path,
                std::vector<std::string>* parts = nullptr) {
  std::vector<std::string> split;
  if (!tvreg::SplitKeyPath(subkey != nullptr ? subkey : "", &split)) return false;
  *path = base;
  for (const std::string& part : split) *path = tvreg::JoinKeyPath(*path, part);
  if (parts != nullptr) *parts = std::move(split);
  return true;
}

const char* NameOrEmpty(const char* name) { return name != nullptr ? name : ""; }

// Copies a name into a caller's buffer of `*size` bytes (NUL included);
// `*size` becomes the name's length.
int32_t CopyName(const std::string& name, char* buf, uint32_t* size) {
  uint32_t capacity = *size;
  *size = static_cast<uint32_t>(name.size());
  if (name.size() + 1 > capacity) return tvwin::kMoreData;
  memcpy(buf, name.c_str(), name.size() + 1);
  return tvwin::kOk;
}

// Copies value data: null `data` asks for the size only.
int32_t CopyData(const std::string& bytes, unsigned char* data, uint32_t* size) {
  if (size == nullptr) return data == nullptr ? tvwin::kOk : tvwin::kInvalidParameter;
  uint32_t capacity = *size;
  *size = static_cast<uint32_t>(bytes.size());
  if (data == nullptr) return tvwin::kOk;
  if (bytes.size() > capacity) return tvwin::kMoreData;
  if (!bytes.empty()) memcpy(data, bytes.data(), bytes.size());
  return tvwin::kOk;
}

// The key a handle names, or 1018 once it has been deleted.
int32_t KeyOf(const OpenKey& open, const Hive& hive, const RegKey** key) {
  *key = hive.Find(open.path);
  return *key != nullptr ? tvwin::kOk : tvwin::kKeyDeleted;
}

bool IsLocalMachine(std::string_view machine) {
  while (machine.starts_with('\\')) machine.remove_prefix(1);
  if (machine.empty()) return true;
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) return false;
  std::string full = tvreg::FoldName(host);
  std::string wanted = tvreg::FoldName(machine);
  return wanted == full || wanted == full.substr(0, full.find('.')) || wanted == "localhost";
}

}  // namespace

int32_t RegOpenKeyExA(HKEY key, const char* subkey, uint32_t, uint32_t sam, HKEY* result) {
  if (result == nullptr) return tvwin::kInvalidParameter;
  *result = nullptr;
  std::optional<OpenKey> base = Resolve(key);
  if (!base) return tvwin::kInvalidHandle;
  std::string path;
  if (!SubkeyPath(base->path, subkey, &path)) return tvwin::kInvalidParameter;
  int32_t rc = tvreg::ReadHive(base->root, [&](const Hive& hive) {
    if (hive.Find(base->path) == nullptr) return tvwin::kKeyDeleted;
    return hive.Find(path) != nullptr ? tvwin::kOk : tvwin::kFileNotFound;
  });
  if (rc == tvwin::kOk) *result = NewHandle({base->root, path, sam});
  return rc;
}

int32_t RegCreateKeyExA(HKEY key, const char* subkey, uint32_t, const char* key_class,
                        uint32_t options, uint32_t sam, void*, HKEY* result,
                        uint32_t* disposition) {
  if (result == nullptr || subkey == nullptr) return tvwin::kInvalidParameter;
  *result = nullptr;
  std::optional<OpenKey> base = Resolve(key);
  if (!base) return tvwin::kInvalidHandle;
  std::string path;
  std::vector<std::string> parts;
  if (!SubkeyPath(base->path, subkey, &path, &parts)) return tvwin::kInvalidParameter;
  bool make_volatile = (options & REG_OPTION_VOLATILE) != 0;
  bool owned = (options & TV_REG_OPTION_UNOWNED) == 0;
  bool created = false;
  int32_t rc = tvreg::ChangeHive(base->root, [&](Hive& hive, bool* changed) {
    if (hive.Find(base->path) == nullptr) return tvwin::kKeyDeleted;
    std::string at = base->path;
    for (size_t i = 0; i < parts.size(); ++i) {
      std::string next = tvreg::JoinKeyPath(at, parts[i]);
      const RegKey* parent = hive.Find(at);
      if (hive.Find(next) == nullptr) {
        if ((base->access & KEY_CREATE_SUB_KEY) == 0) return tvwin::kAccessDenied;
        if (parent->is_volatile && !make_volatile) return tvwin::kChildMustBeVolatile;
        RegKey made;
        // Keep the case of a key that exists, the caller's for a new one.
        made.path = tvreg::JoinKeyPath(parent->path, parts[i]);
        if (make_volatile) {
          made.is_volatile = true;
          made.boot_id = tvreg::CurrentBootId();
          uint64_t start = 0;
          if (owned && tvreg::ProcessStartTime(getpid(), &start)) {
            made.owner_pid = getpid();
            made.owner_start = start;
          }
        }
        if (i + 1 == parts.size() && key_class != nullptr) made.key_class = key_class;
        hive.Add(std::move(made));
        *changed = true;
        created = i + 1 == parts.size();
      }
      at = next;
    }
    return tvwin::kOk;
  });
  if (rc != tvwin::kOk) return rc;
  if (disposition != nullptr) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = NewHandle({base->root, path, sam});
  return tvwin::kOk;
}

int32_t RegQueryValueExA(HKEY key, const char* name, uint32_t*, uint32_t* type,
                         unsigned char* data, uint32_t* size) {
  std::optional<OpenKey> open = Resolve(key);
  if (!open) return tvwin::kInvalidHandle;
  if ((open->access & KEY_QUERY_VALUE) == 0) return tvwin::kAccessDenied;
  if (data != nullptr && size == nullptr) return tvwin::kInvalidParameter;
  return tvreg::ReadHive(open->root, [&](const Hive& hive) {
    const RegKey* k;
    if (int32_t rc = KeyOf(*open, hive, &k); rc != tvwin::kOk) return rc;
    RegValue* v = const_cast<RegKey*>(k)->FindValue(NameOrEmpty(name));
    if (v == nullptr) return tvwin::kFileNotFound;
    if (type != nullptr) *type = v->type;
    return CopyData(v->data, data, size);
  });
}

int32_t RegSetValueExA(HKEY key, const char* name, uint32_t, uint32_t type,
                       const unsigned char* data, uint32_t size) {
  std::optional<OpenKey> open = Resolve(key);
  if (!open) return tvwin::kInvalidHandle;
  if ((open->access & KEY_SET_VALUE) == 0) return tvwin::kAccessDenied;
  const char* value_name = NameOrEmpty(name);
  if ((data == nullptr && size != 0) || size > TV_REG_MAX_DATA ||
      strlen(value_name) > TV_REG_MAX_VALUE_NAME) {
    return tvwin::kInvalidParameter;
  }
  std::string bytes(reinterpret_cast<const char*>(data), data != nullptr ? size : 0);
  return tvreg::ChangeHive(open->root, [&](Hive& hive, bool* changed) {
    RegKey* k = hive.Find(open->path);
    if (k == nullptr) return tvwin::kKeyDeleted;
    if (RegValue* v = k->FindValue(value_name)) {
      v->type = type;
      v->data = bytes;
    } else {
      k->values.push_back({value_name, type, bytes});
    }
    *changed = true;
    return tvwin::kOk;
  });
}

int32_t RegDeleteValueA(HKEY key, const char* name) {
  std::optional<OpenKey> open = Resolve(key);
  if (!open) return tvwin::kInvalidHandle;
  if ((open->access & KEY_SET_VALUE) == 0) return tvwin::kAccessDenied;
  std::string folded = tvreg::FoldName(NameOrEmpty(name));
  return tvreg::ChangeHive(open->root, [&](Hive& hive, bool* changed) {
    RegKey* k = hive.Find(open->path);
    if (k == nullptr) return tvwin::kKeyDeleted;
    for (auto it = k->values.begin(); it != k->values.end(); ++it) {
      if (tvreg::FoldName(it->name) == folded) {
        k->values.erase(it);
        *changed = true;
        return tvwin::kOk;
      }
    }
    return tvwin::kFileNotFound;
  });
}

int32_t RegDeleteKeyA(HKEY key, const char* subkey) {
  if (subkey == nullptr) return tvwin::kInvalidParameter;
  std::optional<OpenKey> open = Resolve(key);
  if (!open) return tvwin::kInvalidHandle;
  std::string path;
  if (!SubkeyPath(open->path, subkey, &path)) return tvwin::kInvalidParameter;
  if (path.empty()) return tvwin::kAccessDenied;  // a hive's root stays
  return tvreg::ChangeHive(open->root, [&](Hive& hive, bool* changed) {
    if (hive.Find(open->path) == nullptr) return tvwin::kKeyDeleted;
    if (hive.Find(path) == nullptr) return tvwin::kFileNotFound;
    if (!hive.Children(path).empty()) return tvwin::kAccessDenied;
    hive.Remove(path);
    *changed = true;
    return tvwin::kOk;
  });
}

int32_t RegEnumKeyExA(HKEY key, uint32_t index, char* name, uint32_t* name_size, uint32_t*,
                      char* key_class, uint32_t* class_size, void*) {
  if (name == nullptr || name_size == nullptr) return tvwin::kInvalidParameter;
  std::optional<OpenKey> open = Resolve(key);
  if (!open) return tvwin::kInvalidHandle;
  if ((open->access & KEY_ENUMERATE_SUB_KEYS) == 0) return tvwin::kAccessDenied;
  return tvreg::ReadHive(open->root, [&](const Hive& hive) {
    const RegKey* k;
    if (int32_t rc = KeyOf(*open, hive, &k); rc != tvwin::kOk) return rc;
    std::vector<const RegKey*> children = hive.Children(open->path);
    if (index >= children.size()) return tvwin::kNoMoreItems;
    const RegKey* child = children[index];
    std::string child_name = child->path.substr(child->path.rfind('\\') + 1);
    if (child->path.find('\\') == std::string::npos) child_name = child->path;
    if (int32_t rc = CopyName(child_name, name, name_size); rc != tvwin::kOk) return rc;
    if (key_class != nullptr && class_size != nullptr) {
      return CopyName(child->key_class, key_class, class_size);
    }
    return tvwin::kOk;
  });
}

int32_t RegEnumValueA(HKEY key, uint32_t index, char* name, uint32_t* name_size, uint32_t*,
                      uint32_t* type, unsigned char* data, uint32_t* data_size) {
  if (name == nullptr || name_size == nullptr) return tvwin::kInvalidParameter;
  if (data != nullptr && data_size == nullptr) return tvwin::kInvalidParameter;
  std::optional<OpenKey> open = Resolve(key);
  if (!open) return tvwin::kInvalidHandle;
  if ((open->access & KEY_QUERY_VALUE) == 0) return tvwin::kAccessDenied;
  return tvreg::ReadHive(open->root, [&](const Hive& hive) {
    const RegKey* k;
    if (int32_t rc = KeyOf(*open, hive, &k); rc != tvwin::kOk) return rc;
    if (index >= k->values.size()) return tvwin::kNoMoreItems;
    const RegValue& v = k->values[index];
    if (int32_t rc = CopyName(v.name, name, name_size); rc != tvwin::kOk) return rc;
    if (type != nullptr) *type = v.type;
    return CopyData(v.data, data, data_size);
  });
}

int32_t RegQueryInfoKeyA(HKEY key, char* key_class, uint32_t* class_size, uint32_t*,
                         uint32_t* subkeys, uint32_t* max_subkey_len, uint32_t* max_class_len,
                         uint32_t* values, uint32_t* max_value_name_len,
                         uint32_t* max_value_len, uint32_t* security_descriptor, void*) {
  std::optional<OpenKey> open = Resolve(key);
  if (!open) return tvwin::kInvalidHandle;
  if ((open->access & KEY_QUERY_VALUE) == 0) return tvwin::kAccessDenied;
  return tvreg::ReadHive(open->root, [&](const Hive& hive) {
    const RegKey* k;
    if (int32_t rc = KeyOf(*open, hive, &k); rc != tvwin::kOk) return rc;
    std::vector<const RegKey*> children = hive.Children(open->path);
    uint32_t longest_key = 0, longest_class = 0, longest_name = 0, longest_data = 0;
    for (const RegKey* child : children) {
      size_t sep = child->path.rfind('\\');
      size_t len = sep == std::string::npos ? child->path.size() : child->path.size() - sep - 1;
      longest_key = std::max<uint32_t>(longest_key, static_cast<uint32_t>(len));
      longest_class = std::max<uint32_t>(longest_class, static_cast<uint32_t>(child->key_class.size()));
    }
    for (const RegValue& v : k->values) {
      longest_name = std::max<uint32_t>(longest_name, static_cast<uint32_t>(v.name.size()));
      longest_data = std::max<uint32_t>(longest_data, static_cast<uint32_t>(v.data.size()));
    }
    if (subkeys) *subkeys = static_cast<uint32_t>(children.size());
    if (max_subkey_len) *max_subkey_len = longest_key;
    if (max_class_len) *max_class_len = longest_class;
    if (values) *values = static_cast<uint32_t>(k->values.size());
    if (max_value_name_len) *max_value_name_len = longest_name;
    if (max_value_len) *max_value_len = longest_data;
    if (security_descriptor) *security_descriptor = 0;
    if (key_class != nullptr && class_size != nullptr) {
      return CopyName(k->key_class, key_class, class_size);
    }
    return tvwin::kOk;
  });
}

int32_t RegCloseKey(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER) return tvwin::kOk;
  std::lock_guard<std::mutex> guard(g_handles_mutex);
  return g_handles.erase(reinterpret_cast<uintptr_t>(key)) == 1 ? tvwin::kOk
                                                                  : tvwin::kInvalidHandle;
}

int32_t RegConnectRegistryA(const char* machine, HKEY root, HKEY* result) {
  if (result == nullptr) return tvwin::kInvalidParameter;
  *result = nullptr;
  if (root != HKEY_LOCAL_MACHINE && root != HKEY_CURRENT_USER) return tvwin::kInvalidHandle;
  if (machine != nullptr && !IsLocalMachine(machine)) return tvwin::kBadNetPath;
  *result = root;
  return tvwin::kOk;
}
