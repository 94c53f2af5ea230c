// tvreg: shows and seeds the registry of an installation (the directory
// named by TARVELON_REGISTRY), for installation and test fixtures.
//
//   tvreg dump [KEY]                  every key below KEY with its values
//   tvreg get KEY NAME                one value's data
//   tvreg set KEY NAME TYPE DATA      writes a value, making KEY if needed;
//                                     TYPE sz (text, stored with its NUL),
//                                     dword (decimal or 0x hex), binary (hex)
//   tvreg del KEY [NAME]              deletes a value, or KEY with all below it
//   tvreg mkkey [--volatile] KEY      makes KEY (a volatile key lasts until
//                                     the machine restarts)
//
// KEY starts with HKLM or HKCU (or HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER);
// its parts are separated by '\' or '/'. An empty NAME is the key's unnamed
// value. Exit status: 0 done, 1 no such key or value, 2 bad usage, 3 other
// registry error.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/win_errors.h"

namespace {

constexpr int kExitMissing = 1;
constexpr int kExitUsage = 2;
constexpr int kExitError = 3;

int Usage() {
  fprintf(stderr,
          "usage: tvreg dump [KEY]\n"
          "       tvreg get KEY NAME\n"
          "       tvreg set KEY NAME sz|dword|binary DATA\n"
          "       tvreg del KEY [NAME]\n"
          "       tvreg mkkey [--volatile] KEY\n");
  return kExitUsage;
}

int Fail(const char* what, const std::string& key, int32_t rc) {
  fprintf(stderr, "tvreg: %s %s: registry error %d\n", what, key.c_str(), rc);
  return rc == tvwin::kFileNotFound ? kExitMissing : kExitError;
}

struct KeyName {
  HKEY root;
  std::string root_name;
  std::string path;  // '\'-separated
};

bool ParseKey(const std::string& text, KeyName* out) {
  std::string norm = text;
  for (char& c : norm) {
    if (c == '/') c = '\\';
  }
  size_t sep = norm.find('\\');
  std::string root = norm.substr(0, sep);
  for (char& c : root) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  if (root == "HKLM" || root == "HKEY_LOCAL_MACHINE") {
    *out = {HKEY_LOCAL_MACHINE, "HKLM", ""};
  } else if (root == "HKCU" || root == "HKEY_CURRENT_USER") {
    *out = {HKEY_CURRENT_USER, "HKCU", ""};
  } else {
    return false;
  }
  out->path = sep == std::string::npos ? "" : norm.substr(sep + 1);
  return true;
}

std::string Hex(const std::vector<unsigned char>& data) {
  std::string out;
  char buf[3];
  for (unsigned char c : data) {
    snprintf(buf, sizeof buf, "%02x", c);
    out += buf;
  }
  return out;
}

std::string Quoted(const std::vector<unsigned char>& data) {
  std::string out = "\"";
  size_t len = data.size();
  if (len > 0 && data[len - 1] == 0) --len;  // the stored terminator
  for (size_t i = 0; i < len; ++i) {
    unsigned char c = data[i];
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c < 0x20 || c > 0x7E) {
      char buf[5];
      snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out + "\"";
}

std::string Format(uint32_t type, const std::vector<unsigned char>& data) {
  if (type == REG_DWORD && data.size() == 4) {
    uint32_t v = data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
    return "dword:" + std::to_string(v);
  }
  if (type == REG_SZ || type == REG_EXPAND_SZ) return "sz:" + Quoted(data);
  if (type == REG_BINARY) return "binary:" + Hex(data);
  return "type" + std::to_string(type) + ":" + Hex(data);
}

int32_t DumpKey(HKEY key, const std::string& shown) {
  printf("[%s]\n", shown.c_str());
  uint32_t subkeys = 0, max_key = 0, values = 0, max_name = 0, max_data = 0;
  int32_t rc = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, &max_key, nullptr,
                                &values, &max_name, &max_data, nullptr, nullptr);
  if (rc != 0) return rc;
  for (uint32_t i = 0; i < values; ++i) {
    std::vector<char> name(max_name + 1);
    std::vector<unsigned char> data(max_data + 1);
    uint32_t name_size = static_cast<uint32_t>(name.size());
    uint32_t data_size = static_cast<uint32_t>(data.size());
    uint32_t type = 0;
    rc = RegEnumValueA(key, i, name.data(), &name_size, nullptr, &type, data.data(), &data_size);
    if (rc != 0) return rc;
    data.resize(data_size);
    printf("\"%s\"=%s\n", name.data(), Format(type, data).c_str());
  }
  printf("\n");
  for (uint32_t i = 0; i < subkeys; ++i) {
    std::vector<char> name(max_key + 1);
    uint32_t name_size = static_cast<uint32_t>(name.size());
    rc = RegEnumKeyExA(key, i, name.data(), &name_size, nullptr, nullptr, nullptr, nullptr);
    if (rc != 0) return rc;
    HKEY child;
    rc = RegOpenKeyExA(key, name.data(), 0, KEY_READ, &child);
    if (rc != 0) return rc;
    rc = DumpKey(child, shown + "\\" + name.data());
    RegCloseKey(child);
    if (rc != 0) return rc;
  }
  return 0;
}

int32_t DeleteTree(HKEY parent, const std::string& path) {
  HKEY key;
  int32_t rc = RegOpenKeyExA(parent, path.c_str(), 0, KEY_ALL_ACCESS, &key);
  if (rc != 0) return rc;
  for (;;) {
    char name[TV_REG_MAX_KEY_NAME + 1];
    uint32_t size = sizeof name;
    rc = RegEnumKeyExA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (rc == tvwin::kNoMoreItems) break;
    if (rc == 0) rc = DeleteTree(key, name);
    if (rc != 0) {
      RegCloseKey(key);
      return rc;
    }
  }
  RegCloseKey(key);
  return RegDeleteKeyA(parent, path.c_str());
}

bool ParseData(const std::string& type, const std::string& text, uint32_t* reg_type,
               std::vector<unsigned char>* data) {
  data->clear();
  if (type == "sz") {
    *reg_type = REG_SZ;
    data->assign(text.begin(), text.end());
    data->push_back(0);
    return true;
  }
  if (type == "dword") {
    *reg_type = REG_DWORD;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = strtoull(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || errno != 0 || v > 0xFFFFFFFFull || text[0] == '-') {
      return false;
    }
    for (int i = 0; i < 4; ++i) data->push_back(static_cast<unsigned char>(v >> (8 * i)));
    return true;
  }
  if (type == "binary") {
    *reg_type = REG_BINARY;
    if (text.size() % 2 != 0) return false;
    for (size_t i = 0; i < text.size(); i += 2) {
      char* end = nullptr;
      std::string byte = text.substr(i, 2);
      unsigned long v = strtoul(byte.c_str(), &end, 16);
      if (*end != '\0' || !isxdigit(static_cast<unsigned char>(byte[0]))) return false;
      data->push_back(static_cast<unsigned char>(v));
    }
    return true;
  }
  return false;
}

int Dump(const std::string& text) {
  KeyName k;
  if (!ParseKey(text, &k)) return Usage();
  HKEY key;
  int32_t rc = RegOpenKeyExA(k.root, k.path.c_str(), 0, KEY_READ, &key);
  if (rc != 0) return Fail("cannot open", text, rc);
  std::string shown = k.root_name;
  if (!k.path.empty()) shown += "\\" + k.path;
  rc = DumpKey(key, shown);
  RegCloseKey(key);
  return rc == 0 ? 0 : Fail("cannot read", text, rc);
}

int Get(const std::string& text, const std::string& name) {
  KeyName k;
  if (!ParseKey(text, &k)) return Usage();
  HKEY key;
  int32_t rc = RegOpenKeyExA(k.root, k.path.c_str(), 0, KEY_READ, &key);
  if (rc != 0) return Fail("cannot open", text, rc);
  uint32_t type = 0, size = 0;
  rc = RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size);
  std::vector<unsigned char> data(size);
  if (rc == 0) rc = RegQueryValueExA(key, name.c_str(), nullptr, &type, data.data(), &size);
  RegCloseKey(key);
  if (rc != 0) return Fail("cannot read value of", text + " " + name, rc);
  data.resize(size);
  if (type == REG_DWORD && size == 4) {
    printf("%u\n", data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24);
  } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
    size_t len = strnlen(reinterpret_cast<const char*>(data.data()), data.size());
    fwrite(data.data(), 1, len, stdout);
    printf("\n");
  } else {
    printf("%s\n", Hex(data).c_str());
  }
  return 0;
}

int Set(const std::string& text, const std::string& name, const std::string& type,
        const std::string& value) {
  KeyName k;
  uint32_t reg_type = 0;
  std::vector<unsigned char> data;
  if (!ParseKey(text, &k) || !ParseData(type, value, &reg_type, &data)) return Usage();
  HKEY key;
  int32_t rc = RegCreateKeyExA(k.root, k.path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (rc != 0) return Fail("cannot make", text, rc);
  rc = RegSetValueExA(key, name.c_str(), 0, reg_type, data.data(),
                      static_cast<uint32_t>(data.size()));
  RegCloseKey(key);
  return rc == 0 ? 0 : Fail("cannot write value of", text + " " + name, rc);
}

int Delete(const std::string& text, const char* name) {
  KeyName k;
  if (!ParseKey(text, &k)) return Usage();
  int32_t rc;
  if (name != nullptr) {
    HKEY key;
    rc = RegOpenKeyExA(k.root, k.path.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (rc != 0) return Fail("cannot open", text, rc);
    rc = RegDeleteValueA(key, name);
    RegCloseKey(key);
  } else {
    rc = DeleteTree(k.root, k.path);
  }
  return rc == 0 ? 0 : Fail("cannot delete", text, rc);
}

int MakeKey(const std::string& text, bool make_volatile) {
  KeyName k;
  if (!ParseKey(text, &k)) return Usage();
  HKEY key;
  uint32_t options = make_volatile ? REG_OPTION_VOLATILE | TV_REG_OPTION_UNOWNED : 0;
  int32_t rc = RegCreateKeyExA(k.root, k.path.c_str(), 0, nullptr, options, KEY_ALL_ACCESS,
                               nullptr, &key, nullptr);
  if (rc != 0) return Fail("cannot make", text, rc);
  RegCloseKey(key);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage();
  const std::string& cmd = args[0];
  size_t n = args.size();
  if (cmd == "dump" && n <= 2) return Dump(n == 2 ? args[1] : "HKLM");
  if (cmd == "get" && n == 3) return Get(args[1], args[2]);
  if (cmd == "set" && n == 5) return Set(args[1], args[2], args[3], args[4]);
  if (cmd == "del" && (n == 2 || n == 3)) return Delete(args[1], n == 3 ? args[2].c_str() : nullptr);
  if (cmd == "mkkey" && n == 2) return MakeKey(args[1], false);
  if (cmd == "mkkey" && n == 3 && args[1] == "--volatile") return MakeKey(args[2], true);
  return Usage();
}
