// Registry helpers: the registry layout of server settings, SQLHOSTS and
// OSAHOSTS entries, netrc entries and the protocol list, and the records
// exchanged with callers.
//
// Keys (under HKEY_LOCAL_MACHINE unless said):
//   Software\Tarvelon\Velkor\<server>\Environment   a server's environment
//   Software\Tarvelon\SQLHOSTS\<server>             values HOST, SERVICE,
//                                                   PROTOCOL, OPTIONS
//   Software\Tarvelon\OSAHOSTS\<server>             the same
//   Software\Tarvelon\NETRC\<host> (current user)   USER, PASSWORD, ASKPASSWORD;
//                                                   the key's PROTOCOLS value
//
// SQLHOSTS entry (688 bytes): 0 int32 size (688), 4 server name [129],
//   133 HOST [257], 390 SERVICE [19], 409 PROTOCOL [19], 428 OPTIONS [257],
//   685 pad [3]. Older forms: five fields of 19 bytes (95 bytes), or the
//   same with a fifth field of 20 (96 bytes).
// Netrc entry (316 bytes): 0 int32 size (316), 4 host [257], 261 user [33],
//   294 password [19], 313 flag [2], 315 pad. Older form: host, user,
//   password, flag of 19 bytes each.
// Server information (888 bytes): 0 int32 0, 4 int32 -1 (1 in the qv form),
//   8 int32 -1, 24 int32 -1, 32 int32 -1 (qv form), 40 installation
//   directory [255], 295 configuration file [255], 550 SQLHOSTS location
//   [255], 805 [64], 869 host [19]; texts start as "<Unknown>".
// Server environment record (2824 bytes and two tails): the fields of
//   kEnvFields below (offset, size, resource); 616 and 624 point at the
//   texts of resources 16 and 15, which a read stores behind the fixed part
//   (at 2824 and directly after it).
// Scrambled password: "EP" and 18 numbers "%3d" (56 characters).
#include "base/reg_helpers.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int32_t kMoreData = 234;
constexpr int32_t kNotFound = 2;
constexpr int32_t kBadKey = 1010;
constexpr int32_t kBadParam = 87;
constexpr int32_t kRpcUnavailable = 1722;
constexpr const char* kClass = "Tarvelon Registry Info";

// The string resources that name keys and values.
struct Resource {
  int32_t number;
  const char* text;
};
const Resource kResources[] = {
    {1, "Software"}, {2, "Tarvelon"}, {3, "DBPATH"}, {4, "ZIVEVODAREVEZO"}, {9, "CASESENSITIVE"},
    {10, "SERVERNUM"}, {11, "DBDATE"}, {12, "DBLANG"}, {13, "ZUCONFIG"}, {14, "DBTEMP"},
    {15, "DBENVTEXT2"}, {16, "DBENVTEXT1"}, {17, "DBTIME"}, {18, "DBMONEY"}, {20, "HOST"},
    {21, "USER"}, {22, "PASSWORD"}, {23, "SERVICE"}, {24, "PROTOCOL"}, {25, "PROTOCOLS"},
    {26, "DBANSIWARN"}, {27, "ASKPASSWORD"}, {30, "DBCENTURY"}, {31, "DBDELIMITER"},
    {32, "DBEDIT"}, {33, "DBPRINT"}, {34, "DBREMOTECMD"}, {35, "DBSPACETEMP"}, {36, "DBUPSPACE"},
    {37, "DBNLS"}, {38, "TARVELONDIR"}, {39, "TARVELONSQLHOSTS"}, {41, "NETRC"}, {42, "OPTIONS"},
    {43, "SERVERPORT"}, {44, "DBCODESET"}, {45, "DBCSOVERRIDE"}, {47, "CLIENT_LOCALE"},
    {48, "DB_LOCALE"}, {51, "DBFLTMASK"}, {52, "DBONPLOAD"}, {53, "DBPATHMODE"},
    {54, "DBSS"}, {55, "DELIMIDENT"}, {56, "ENVIGNORE"}, {57, "FET_BUF_SIZE"}, {58, "GL_DATE"},
    {59, "GL_DATETIME"}, {60, "LANG"}, {61, "LC_COLLATE"}, {62, "LC_CTYPE"}, {63, "LC_MONETARY"},
    {64, "LC_NUMERIC"}, {65, "LC_TIME"}, {66, "OPTCOMPIND"}, {67, "OPTMSG"}, {68, "PDQPRIORITY"},
};

struct Key {
  HKEY h = nullptr;
  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() { Close(); }
  void Close() {
    if (h != nullptr && h != HKEY_LOCAL_MACHINE && h != HKEY_CURRENT_USER) RegCloseKey(h);
    h = nullptr;
  }
};

std::string Field(const unsigned char* p, size_t n) {
  size_t len = strnlen(reinterpret_cast<const char*>(p), n);
  return std::string(reinterpret_cast<const char*>(p), len);
}

void PutField(unsigned char* p, size_t n, const std::string& v) {
  size_t len = v.size() < n - 1 ? v.size() : n - 1;
  std::memset(p, 0, n);
  std::memcpy(p, v.data(), len);
}

int32_t Size(const void* record) {
  int32_t n;
  std::memcpy(&n, record, 4);
  return n;
}

// The size-query protocol of the enumerations: the texts each with a NUL,
// then one more NUL.
int32_t ListOut(const std::vector<std::string>& items, char* buffer, uint32_t* length,
                uint32_t* count) {
  if (length == nullptr) return kBadParam;
  uint32_t needed = 1;
  for (const std::string& s : items) needed += static_cast<uint32_t>(s.size()) + 1;
  if (count != nullptr) *count = 0;
  if (buffer == nullptr) {
    *length = needed;
    if (count != nullptr) *count = static_cast<uint32_t>(items.size());
    return 0;
  }
  uint32_t pos = 0, n = 0;
  for (const std::string& s : items) {
    if (pos + s.size() + 1 > *length) break;
    std::memcpy(buffer + pos, s.c_str(), s.size() + 1);
    pos += static_cast<uint32_t>(s.size()) + 1;
    ++n;
  }
  if (count != nullptr) *count = n;
  if (n < items.size() || pos + 1 > *length) {
    *length = needed;
    return kMoreData;
  }
  buffer[pos] = '\0';
  *length = needed;
  if (count != nullptr) *count = n;
  return 0;
}

std::vector<std::string> SubKeys(HKEY key, uint32_t max_name) {
  std::vector<std::string> out;
  std::vector<char> name(max_name + 2);
  for (uint32_t i = 0;; ++i) {
    uint32_t size = static_cast<uint32_t>(name.size());
    int32_t rc = RegEnumKeyExA(key, i, name.data(), &size, nullptr, nullptr, nullptr, nullptr);
    if (rc == kMoreData) continue;
    if (rc != 0) break;
    out.emplace_back(name.data(), size);
  }
  return out;
}

// The root of a machine: 0 with the root; -2 when the connection fails.
int32_t MachineRoot(const char* machine, Key* root) {
  HKEY h = nullptr;
  int32_t rc = OpenSqlHosts(machine, &h);
  if (rc != 0) return -2;
  root->h = h;
  return 0;
}

// Opens the kind's key on the root, falling back to the local machine.
int32_t KindKey(Key& root, int32_t kind, uint32_t access, Key* out) {
  HKEY h = nullptr;
  if (reg_openkey(root.h, kind, access, &h) == 0) {
    out->h = h;
    return 0;
  }
  if (root.h != HKEY_LOCAL_MACHINE && reg_openkey(HKEY_LOCAL_MACHINE, kind, access, &h) == 0) {
    out->h = h;
    return 0;
  }
  return -2;
}

bool IsGroup(HKEY key) {
  char protocol[20] = {};
  uint32_t len = sizeof protocol;
  if (reg_value(key, 1, 24, protocol, &len) != 0) return false;
  return std::strcmp(protocol, "group") == 0;
}

// The SQLHOSTS values of an entry: resource, offset and field size.
struct EntryValue {
  int32_t resource;
  size_t offset;
  size_t size;
};
const EntryValue kEntryValues[] = {{20, 133, 257}, {23, 390, 19}, {24, 409, 19}, {42, 428, 257}};

int32_t EntryValues(HKEY key, int32_t op, unsigned char* entry) {
  for (const EntryValue& v : kEntryValues) {
    char* text = reinterpret_cast<char*>(entry + v.offset);
    uint32_t len = static_cast<uint32_t>(v.size);
    if (op == 2) text[v.size - 1] = '\0';
    int32_t rc = reg_value(key, op, v.resource, text, &len);
    if (rc != 0) return rc;
  }
  return 0;
}

std::string EnvKeyPath(const char* server) {
  return std::string("Software\\Tarvelon\\Velkor\\") + server + "\\Environment";
}

// Converts an older SQLHOSTS form (fields of 19, the fifth of `last`) to
// the 688-byte entry: 0, or 14 when a field does not fit.
void OldToEntry(const unsigned char* old, size_t last, bool all, unsigned char* entry) {
  std::memset(entry, 0, QORV_SQLHOSTS_ENTRY);
  int32_t size = QORV_SQLHOSTS_ENTRY;
  std::memcpy(entry, &size, 4);
  PutField(entry + 4, 129, Field(old, 19));
  if (!all) return;
  PutField(entry + 133, 257, Field(old + 19, 19));
  PutField(entry + 390, 19, Field(old + 38, 19));
  PutField(entry + 409, 19, Field(old + 57, 19));
  PutField(entry + 428, 257, Field(old + 76, last));
}

int32_t EntryToOld(const unsigned char* entry, size_t last, unsigned char* old) {
  std::string f[5] = {Field(entry + 4, 129), Field(entry + 133, 257), Field(entry + 390, 19),
                      Field(entry + 409, 19), Field(entry + 428, 257)};
  for (int i = 0; i < 4; ++i) {
    if (f[i].size() > 18) return 14;
  }
  if (f[4].size() > last - 1) return 14;
  for (int i = 0; i < 4; ++i) PutField(old + 19 * i, 19, f[i]);
  PutField(old + 76, last, f[4]);
  return 0;
}

void InfoDefaults(unsigned char* r, bool qv) {
  int32_t zero = 0, minus = -1, one = 1;
  std::memcpy(r, &zero, 4);
  std::memcpy(r + 4, qv ? &one : &minus, 4);
  std::memcpy(r + 8, &minus, 4);
  std::memcpy(r + 24, &minus, 4);
  if (qv) std::memcpy(r + 32, &minus, 4);
  const size_t texts[][2] = {{40, 255}, {295, 255}, {550, 255}, {805, 64}, {869, 19}};
  for (const auto& t : texts) PutField(r + t[0], t[1], "<Unknown>");
}

int32_t ServerInfo(const char* server, void* record, bool qv) {
  auto* r = static_cast<unsigned char*>(record);
  if (r == nullptr) return 0;
  InfoDefaults(r, qv);
  if (server == nullptr) return 0;
  Key line, env;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Tarvelon\\Velkor", 0, KEY_ALL_ACCESS, &line.h) != 0) {
    line.h = nullptr;
    return 0;
  }
  if (RegOpenKeyExA(line.h, (std::string(server) + "\\Environment").c_str(), 0, KEY_ALL_ACCESS,
                    &env.h) == 0) {
    for (uint32_t i = 0;; ++i) {
      char name[129];
      unsigned char data[129];
      uint32_t nsize = 128, dsize = 128, type = 0;
      if (RegEnumValueA(env.h, i, name, &nsize, nullptr, &type, data, &dsize) != 0) break;
      name[nsize < 128 ? nsize : 128] = '\0';
      data[dsize < 128 ? dsize : 128] = 0;
      std::string value = Field(data, 129);
      if (std::strcmp(name, "TARVELONDIR") == 0) PutField(r + 40, 255, value);
      else if (std::strcmp(name, "ZUCONFIG") == 0) PutField(r + 295, 255, value);
      else if (std::strcmp(name, "TARVELONSQLHOSTS") == 0) PutField(r + 550, 255, value);
    }
  } else {
    env.h = nullptr;
  }
  Key host;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, (std::string("SOFTWARE\\TARVELON\\SQLHOSTS\\") + server).c_str(),
                    0, KEY_READ, &host.h) == 0) {
    char text[20] = {};
    uint32_t size = 19;
    uint32_t type = 0;
    if (RegQueryValueExA(host.h, "HOST", nullptr, &type, reinterpret_cast<unsigned char*>(text),
                         &size) == 0) {
      text[19] = '\0';
      PutField(r + 869, 19, text);
    }
  } else {
    host.h = nullptr;
  }
  return 0;
}

struct EnvField {
  int32_t resource;
  uint32_t offset;
  uint32_t size;
};
// In the order values are read and written; 16 and 15 are pointers.
const EnvField kEnvFields[] = {
    {4, 0, 19},       {13, 19, 129},    {10, 148, 6},     {12, 154, 19},    {14, 254, 81},
    {38, 173, 81},    {11, 335, 19},    {9, 354, 1},      {26, 1132, 5},    {47, 1518, 129},
    {48, 1647, 129},  {3, 355, 255},    {16, 616, 0},     {15, 624, 0},     {30, 632, 3},
    {31, 635, 3},     {33, 719, 81},    {32, 638, 81},    {34, 800, 81},    {35, 881, 81},
    {36, 962, 81},    {37, 1043, 81},   {17, 1124, 4},    {18, 1128, 4},    {39, 1253, 255},
    {43, 1508, 6},    {44, 1514, 2},    {45, 1516, 2},    {51, 1776, 2},    {52, 1778, 24},
    {53, 1802, 2},    {54, 1804, 2},    {55, 1806, 24},   {56, 1830, 2},    {57, 1832, 9},
    {58, 1841, 2},    {59, 1843, 12},   {60, 1855, 4},    {61, 1859, 6},    {62, 1865, 5},
    {63, 1870, 5},    {64, 1875, 2},    {65, 1877, 2},    {66, 1879, 2},    {67, 1881, 2},
    {68, 1883, 4},
};
// The long forms of values 4 and 10.
constexpr uint32_t kLong4 = 2400, kLong4Size = 129, kLong10 = 2144, kLong10Size = 256;
const uint32_t kEnvCleared[] = {1136, 1155, 1174, 1193, 1195, 1214, 1233, 1887, 2529, 2562};

int32_t EnvRead(HKEY key, void** record, QorvReallocFn grow) {
  auto* r = static_cast<unsigned char*>(*record);
  for (const EnvField& f : kEnvFields) {
    int32_t rc = 0;
    if (f.resource == 16) {
      // The two texts of any length: measured, then read behind the record.
      uint32_t n16 = 0, n15 = 0;
      if ((rc = reg_value(key, 1, 16, nullptr, &n16)) != 0) return rc;
      if ((rc = reg_value(key, 1, 15, nullptr, &n15)) != 0) return rc;
      void* grown = grow(*record, QORV_ENV_RECORD + 2 + n16 + n15, record);
      if (grown == nullptr) return 14;
      *record = grown;
      r = static_cast<unsigned char*>(grown);
      std::memset(r + QORV_ENV_RECORD, 0, 2 + n16 + n15);
      unsigned char* t16 = n16 > 0 ? r + QORV_ENV_RECORD : nullptr;
      unsigned char* t15 = n15 > 0 ? r + QORV_ENV_RECORD + n16 : nullptr;
      std::memcpy(r + 616, &t16, sizeof t16);
      std::memcpy(r + 624, &t15, sizeof t15);
      if (t16 != nullptr && (rc = reg_value(key, 1, 16, reinterpret_cast<char*>(t16), &n16)) != 0) return rc;
      if (t15 != nullptr && (rc = reg_value(key, 1, 15, reinterpret_cast<char*>(t15), &n15)) != 0) return rc;
      continue;
    }
    if (f.resource == 15) continue;
    if (f.resource == 9) {
      char c[4] = {};
      uint32_t len = sizeof c;
      if ((rc = reg_value(key, 1, 9, c, &len)) != 0) return rc;
      r[f.offset] = static_cast<unsigned char>(c[0]);
      continue;
    }
    uint32_t len = f.size;
    char* field = reinterpret_cast<char*>(r + f.offset);
    if ((rc = reg_value(key, 1, f.resource, field, &len)) != 0) return rc;
    if ((f.resource == 4 || f.resource == 10) && len > f.size) {
      uint32_t at = f.resource == 4 ? kLong4 : kLong10;
      uint32_t size = f.resource == 4 ? kLong4Size : kLong10Size;
      len = size;
      if ((rc = reg_value(key, 1, f.resource, reinterpret_cast<char*>(r + at), &len)) != 0) return rc;
    }
  }
  for (uint32_t at : kEnvCleared) r[at] = 0;
  return 0;
}

int32_t EnvWrite(HKEY key, const unsigned char* r) {
  for (const EnvField& f : kEnvFields) {
    std::string text;
    if (f.resource == 16 || f.resource == 15) {
      const char* p = nullptr;
      std::memcpy(&p, r + f.offset, sizeof p);
      if (p != nullptr) text = p;
    } else if (f.resource == 9 || f.resource == 26) {
      // One character, in lower case.
      char c = static_cast<char>(r[f.offset]);
      if (c != '\0') text.assign(1, static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    } else {
      text = Field(r + f.offset, f.size);
      // A value read into its long field travels from there.
      if (text.empty() && f.resource == 4) text = Field(r + kLong4, kLong4Size);
      if (text.empty() && f.resource == 10) text = Field(r + kLong10, kLong10Size);
    }
    uint32_t len = static_cast<uint32_t>(text.size() + 1);
    int32_t rc = reg_value(key, 2, f.resource, text.data(), &len);
    if (rc != 0) return rc;
  }
  return 0;
}

bool FlagWithoutPassword(const char* flag) {
  return flag[0] != '\0' && flag[1] == '\0' && std::strchr("YNyn", flag[0]) != nullptr;
}

}  // namespace

TV_BEGIN_C

const char* reg_resource(int32_t number) {
  for (const Resource& r : kResources) {
    if (r.number == number) return r.text;
  }
  return nullptr;
}

// Reads (1) the value named by a resource into text (length in bytes in,
// size found out): a missing value, a value longer than the buffer (234)
// and a bad key (1010) all read as an empty text and 0. Writes (2) a
// non-empty text as REG_SZ with its NUL; an empty or missing text deletes
// the value.
int32_t reg_value(HKEY key, int32_t operation, int32_t resource, char* text, uint32_t* length) {
  const char* name = reg_resource(resource);
  if (name == nullptr) return -1;
  if (operation == 1) {
    uint32_t size = length != nullptr ? *length : 0;
    uint32_t type = 0;
    int32_t rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<unsigned char*>(text), &size);
    if (rc == 0) {
      if (text != nullptr && length != nullptr && *length > 0) {
        text[size < *length ? size : *length - 1] = '\0';
      }
      if (length != nullptr) *length = size;
      return 0;
    }
    if (text != nullptr && length != nullptr && *length != 0) text[0] = '\0';
    if (rc == kMoreData || rc == kNotFound || rc == kBadKey) {
      if (length != nullptr) *length = rc == kMoreData ? size : 0;
      return 0;
    }
    return rc;
  }
  if (operation == 2) {
    if (text == nullptr || text[0] == '\0') {
      int32_t rc = RegDeleteValueA(key, name);
      return rc == kNotFound ? 0 : rc;
    }
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const unsigned char*>(text),
                          static_cast<uint32_t>(std::strlen(text) + 1));
  }
  return -1;
}

int32_t reg_openkey(HKEY root, int32_t kind, uint32_t access, HKEY* out) {
  std::string path;
  if (kind == QORV_KIND_ENV) {
    const char* server = std::getenv("ZIVEVODAREVEZO");
    path = EnvKeyPath(server != nullptr ? server : "");
  } else if (kind == QORV_KIND_SQLHOSTS) {
    path = "Software\\Tarvelon\\SQLHOSTS";
  } else if (kind == QORV_KIND_OSAHOSTS) {
    path = "Software\\Tarvelon\\OSAHOSTS";
  } else {
    const char* a = reg_resource(1);
    const char* b = reg_resource(2);
    const char* c = reg_resource(kind);
    if (a == nullptr || b == nullptr || c == nullptr) return -1;
    path = std::string(a) + "\\" + b + "\\" + c;
  }
  if (access == KEY_READ) return RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, out);
  return RegCreateKeyExA(root, path.c_str(), 0, kClass, REG_OPTION_NON_VOLATILE, access, nullptr,
                         out, nullptr);
}

int32_t QorvRegEnv(HKEY root, int32_t op, void** record, QorvReallocFn grow) {
  if ((op != 1 && op != 2) || record == nullptr) return kBadParam;
  if (op == 1) {
    if (grow == nullptr) return kBadParam;
    void* fixed = grow(*record, QORV_ENV_RECORD, record);
    if (fixed == nullptr) return 14;
    *record = fixed;
    std::memset(fixed, 0, QORV_ENV_RECORD);
  } else if (*record == nullptr) {
    return kBadParam;
  }
  Key env;
  if (reg_openkey(root, QORV_KIND_ENV, op == 1 ? KEY_READ : KEY_ALL_ACCESS, &env.h) != 0) {
    env.h = nullptr;
    return -2;
  }
  if (op == 1) return EnvRead(env.h, record, grow);
  return EnvWrite(env.h, static_cast<unsigned char*>(*record));
}

int32_t OpenSqlHosts(const char* machine, HKEY* root) {
  if (root == nullptr) return kBadParam;
  *root = HKEY_LOCAL_MACHINE;
  if (machine == nullptr || machine[0] == '\0') return 0;
  HKEY h = nullptr;
  int32_t rc = RegConnectRegistryA(machine, HKEY_LOCAL_MACHINE, &h);
  if (rc == 0) {
    *root = h;
    return 0;
  }
  return rc == kRpcUnavailable ? 0 : rc;
}

int32_t QorvOpenRegSubHive(HKEY root, int32_t kind, int32_t access, HKEY* out) {
  return reg_openkey(root, kind, access == 1 ? KEY_READ : KEY_ALL_ACCESS, out);
}

int32_t QorvRegGetEnv(HKEY root, const char* name, char* buffer, uint32_t* length) {
  if (name == nullptr || length == nullptr) return kBadParam;
  if (buffer == nullptr) *length = 0;
  Key env;
  if (reg_openkey(root, QORV_KIND_ENV, KEY_READ, &env.h) != 0) {
    env.h = nullptr;
    return -2;
  }
  uint32_t type = 0;
  uint32_t size = *length;
  int32_t rc = RegQueryValueExA(env.h, name, nullptr, &type, reinterpret_cast<unsigned char*>(buffer),
                                buffer != nullptr ? &size : length);
  if (rc == 0 && buffer != nullptr) *length = size;
  if (rc == kNotFound || rc == kBadKey) {
    if (buffer != nullptr && *length > 0) buffer[0] = '\0';
    return 0;
  }
  return rc;
}

int32_t QorvRegGetEnvEnum(HKEY root, char* buffer, uint32_t* length, uint32_t* count) {
  if (length == nullptr) return kBadParam;
  Key env;
  if (reg_openkey(root, QORV_KIND_ENV, KEY_READ, &env.h) != 0) {
    env.h = nullptr;
    return -2;
  }
  uint32_t values = 0, max_name = 0, max_data = 0;
  int32_t rc = RegQueryInfoKeyA(env.h, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                                &max_name, &max_data, nullptr, nullptr);
  if (rc != 0) return rc;
  std::vector<std::string> items;
  std::vector<char> name(max_name + 2);
  std::vector<unsigned char> data(max_data + 2);
  for (uint32_t i = 0; i < values; ++i) {
    uint32_t nsize = static_cast<uint32_t>(name.size()), dsize = static_cast<uint32_t>(data.size());
    uint32_t type = 0;
    if (RegEnumValueA(env.h, i, name.data(), &nsize, nullptr, &type, data.data(), &dsize) != 0) break;
    items.push_back(std::string(name.data(), nsize) + "=" + Field(data.data(), dsize));
  }
  return ListOut(items, buffer, length, count);
}

int32_t QorvRegSetEnv(HKEY root, const char* list, uint32_t count) {
  if (count == 0) return 0;
  Key env;
  if (reg_openkey(root, QORV_KIND_ENV, KEY_ALL_ACCESS, &env.h) != 0) {
    env.h = nullptr;
    return -2;
  }
  const char* p = list;
  for (uint32_t i = 0; i < count && p != nullptr; ++i) {
    std::string item = p;
    p += item.size() + 1;
    size_t eq = item.find('=');
    if (eq == std::string::npos) return -1;
    std::string name = item.substr(0, eq), value = item.substr(eq + 1);
    int32_t rc;
    if (value.empty()) {
      rc = RegDeleteValueA(env.h, name.c_str());
      if (rc == kNotFound) rc = 0;
    } else {
      rc = RegSetValueExA(env.h, name.c_str(), 0, REG_SZ, reinterpret_cast<const unsigned char*>(value.c_str()),
                          static_cast<uint32_t>(value.size() + 1));
    }
    if (rc != 0) return rc;
  }
  return 0;
}

int32_t QorvGetQorvDirForServer(const char* server, char* buffer, uint32_t length) {
  if (server == nullptr || buffer == nullptr || length == 0) return 0;
  Key env;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, EnvKeyPath(server).c_str(), 0, KEY_ALL_ACCESS, &env.h) != 0) {
    env.h = nullptr;
    return 0;
  }
  uint32_t size = length, type = 0;
  if (RegQueryValueExA(env.h, "TARVELONDIR", nullptr, &type, reinterpret_cast<unsigned char*>(buffer),
                       &size) != 0) {
    return 0;
  }
  buffer[size < length ? size : length - 1] = '\0';
  return 1;
}

int32_t QorvGetInstalledServerNames(char* buffer, uint32_t length, uint32_t* count) {
  if (count != nullptr) *count = 0;
  if (buffer != nullptr && length > 0) std::memset(buffer, 0, length);
  Key line;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Tarvelon\\Velkor", 0, KEY_READ, &line.h) != 0) {
    line.h = nullptr;
    return 0;
  }
  size_t used = 0;
  for (const std::string& name : SubKeys(line.h, 37)) {
    if (name.size() > 37) continue;
    unsigned char c = static_cast<unsigned char>(name[0]);
    if (std::isdigit(c) || c == '*' || c == '-' || c == '.' || name == "Users" || name == "CurrentVersion") {
      continue;
    }
    // The name, its newline and the text's NUL must fit.
    if (buffer == nullptr || used + name.size() + 1 >= length) break;
    std::memcpy(buffer + used, name.data(), name.size());
    used += name.size();
    buffer[used++] = '\n';
    if (count != nullptr) ++*count;
  }
  return 1;
}

int32_t QorvGetServerInfo(const char* server, void* record) { return ServerInfo(server, record, false); }
int32_t qvQorvGetServerInfo(const char* server, void* record) { return ServerInfo(server, record, true); }

int32_t QorvRegSqlHostsEx2(const char* machine, int32_t op, int32_t kind, uint32_t count, void* entries) {
  if (entries == nullptr || Size(entries) != QORV_SQLHOSTS_ENTRY || (op != 1 && op != 2 && op != 4) ||
      (kind != QORV_KIND_SQLHOSTS && kind != QORV_KIND_OSAHOSTS) || count == 0) {
    return kBadParam;
  }
  Key root, hosts;
  if (MachineRoot(machine, &root) != 0) return -2;
  if (KindKey(root, kind, op == 1 ? KEY_READ : KEY_ALL_ACCESS, &hosts) != 0) return -2;
  auto* e = static_cast<unsigned char*>(entries);
  for (uint32_t i = 0; i < count; ++i, e += QORV_SQLHOSTS_ENTRY) {
    std::string name = Field(e + 4, 129);
    if (op == 4) {
      RegDeleteKeyA(hosts.h, name.c_str());
      continue;
    }
    Key sub;
    int32_t rc;
    if (op == 1) {
      rc = RegOpenKeyExA(hosts.h, name.c_str(), 0, KEY_READ, &sub.h);
    } else {
      rc = RegCreateKeyExA(hosts.h, name.c_str(), 0, kClass, REG_OPTION_NON_VOLATILE,
                           KEY_QUERY_VALUE | KEY_CREATE_SUB_KEY | KEY_SET_VALUE, nullptr, &sub.h, nullptr);
    }
    if (rc != 0) {
      sub.h = nullptr;
      return rc;
    }
    rc = EntryValues(sub.h, op, e);
    if (rc != 0) return rc;
  }
  return 0;
}

namespace {
int32_t OldSqlHosts(const char* machine, int32_t op, int32_t kind, uint32_t count, void* entry, size_t last) {
  if (entry == nullptr) return kBadParam;
  unsigned char full[QORV_SQLHOSTS_ENTRY];
  OldToEntry(static_cast<unsigned char*>(entry), last, op == 2, full);
  // Older forms carry one entry.
  int32_t rc = QorvRegSqlHostsEx2(machine, op, kind, count == 0 ? 0 : 1, full);
  if (rc == 0 && op == 1) {
    rc = EntryToOld(full, last, static_cast<unsigned char*>(entry));
    if (rc == 0 && last == 20) static_cast<unsigned char*>(entry)[95] = 0;
  }
  return rc;
}
}  // namespace

int32_t QorvRegSqlHostsEx(const char* machine, int32_t op, int32_t kind, uint32_t count, void* entry) {
  return OldSqlHosts(machine, op, kind, count, entry, 19);
}

int32_t QorvRegSqlHosts(const char* machine, int32_t op, int32_t kind, uint32_t count, void* entry) {
  return OldSqlHosts(machine, op, kind, count, entry, 20);
}

int32_t QorvRegSqlHostsEnum(const char* machine, int32_t kind, char* buffer, uint32_t* length,
                            uint32_t* count) {
  if (kind != QORV_KIND_SQLHOSTS && kind != QORV_KIND_OSAHOSTS) return kBadParam;
  if (length == nullptr) return kBadParam;
  Key root, hosts;
  if (MachineRoot(machine, &root) != 0) return -2;
  if (KindKey(root, kind, KEY_READ, &hosts) != 0) return -2;
  return ListOut(SubKeys(hosts.h, 128), buffer, length, count);
}

namespace {
int32_t Groups(const char* machine, std::vector<std::string>* out) {
  Key root, hosts;
  if (MachineRoot(machine, &root) != 0) return -2;
  if (KindKey(root, QORV_KIND_SQLHOSTS, KEY_READ, &hosts) != 0) return -2;
  for (const std::string& name : SubKeys(hosts.h, 128)) {
    Key sub;
    int32_t rc = RegOpenKeyExA(hosts.h, name.c_str(), 0, KEY_READ, &sub.h);
    if (rc != 0) {
      sub.h = nullptr;
      return rc;
    }
    if (IsGroup(sub.h)) out->push_back(name);
  }
  return 0;
}
}  // namespace

int32_t QorvRegNoGroups(const char* machine, uint32_t* count) {
  std::vector<std::string> groups;
  int32_t rc = Groups(machine, &groups);
  if (count != nullptr) *count = static_cast<uint32_t>(groups.size());
  return rc;
}

int32_t QorvRegGroupsEnum(const char* machine, char* buffer, uint32_t* length, uint32_t* count) {
  if (length == nullptr) return kBadParam;
  std::vector<std::string> groups;
  int32_t rc = Groups(machine, &groups);
  if (rc != 0) return rc;
  return ListOut(groups, buffer, length, count);
}

int32_t QorvRegGetGroupMembersEx2(HKEY root, const char* group, void* entries, uint32_t* count) {
  if (group == nullptr || entries == nullptr || count == nullptr) return kBadParam;
  auto* e = static_cast<unsigned char*>(entries);
  for (uint32_t i = 0; i < *count; ++i) {
    if (Size(e + i * QORV_SQLHOSTS_ENTRY) != QORV_SQLHOSTS_ENTRY) return kBadParam;
  }
  Key g;
  if (RegOpenKeyExA(root, group, 0, KEY_READ, &g.h) != 0 || !IsGroup(g.h)) {
    if (g.h == nullptr) g.h = nullptr;
    *count = 0;
    return -1;
  }
  uint32_t filled = 0;
  int32_t rc = 0;
  for (const std::string& name : SubKeys(g.h, 128)) {
    if (filled >= *count) break;
    Key m;
    if (RegOpenKeyExA(root, name.c_str(), 0, KEY_READ, &m.h) != 0) {
      m.h = nullptr;
      continue;
    }
    unsigned char* entry = e + filled * QORV_SQLHOSTS_ENTRY;
    PutField(entry + 4, 129, name);
    rc = EntryValues(m.h, 1, entry);
    if (rc != 0) break;
    ++filled;
  }
  *count = filled;
  return filled > 0 ? rc : -1;
}

int32_t QorvRegGetGroupMembers(HKEY root, const char* group, void* entries, uint32_t* count) {
  if (entries == nullptr || count == nullptr) return kBadParam;
  std::vector<unsigned char> full(static_cast<size_t>(*count) * QORV_SQLHOSTS_ENTRY + 4);
  for (uint32_t i = 0; i < *count; ++i) {
    int32_t size = QORV_SQLHOSTS_ENTRY;
    std::memcpy(full.data() + i * QORV_SQLHOSTS_ENTRY, &size, 4);
  }
  int32_t rc = QorvRegGetGroupMembersEx2(root, group, full.data(), count);
  auto* old = static_cast<unsigned char*>(entries);
  for (uint32_t i = 0; i < *count; ++i) {
    int32_t r = EntryToOld(full.data() + i * QORV_SQLHOSTS_ENTRY, 19, old + i * 95);
    if (r != 0) return r;
  }
  return rc;
}

int32_t QorvRegGetNoGroupMembers(HKEY root, const char* group) {
  if (group == nullptr) return 0;
  Key g;
  if (RegOpenKeyExA(root, group, 0, KEY_READ, &g.h) != 0) {
    g.h = nullptr;
    return 0;
  }
  if (!IsGroup(g.h)) return 0;
  uint32_t subkeys = 0;
  if (RegQueryInfoKeyA(g.h, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr) != 0) {
    return 0;
  }
  return static_cast<int32_t>(subkeys);
}

int32_t QorvRegNetrcEx(int32_t op, void* entry) {
  if (entry == nullptr || Size(entry) != QORV_NETRC_ENTRY || (op != 1 && op != 2 && op != 4)) {
    return kBadParam;
  }
  auto* e = static_cast<unsigned char*>(entry);
  Key netrc;
  if (reg_openkey(HKEY_CURRENT_USER, QORV_KIND_NETRC, op == 1 ? KEY_READ : KEY_ALL_ACCESS, &netrc.h) != 0) {
    netrc.h = nullptr;
    return -2;
  }
  std::string host = Field(e + 4, 257);
  if (op == 4) return RegDeleteKeyA(netrc.h, host.c_str());
  Key sub;
  int32_t rc = op == 1 ? RegOpenKeyExA(netrc.h, host.c_str(), 0, KEY_READ, &sub.h)
                       : RegCreateKeyExA(netrc.h, host.c_str(), 0, kClass, REG_OPTION_NON_VOLATILE,
                                         KEY_ALL_ACCESS, nullptr, &sub.h, nullptr);
  if (rc != 0) {
    sub.h = nullptr;
    return -2;
  }
  char* user = reinterpret_cast<char*>(e + 261);
  char* flag = reinterpret_cast<char*>(e + 313);
  char scrambled[57] = {};
  if (op == 2) {
    char f[2] = {flag[0], '\0'};
    char u[33];
    PutField(reinterpret_cast<unsigned char*>(u), 33, Field(e + 261, 33));
    char p[19];
    PutField(reinterpret_cast<unsigned char*>(p), 19, Field(e + 294, 19));
    uint32_t len = 2;
    if ((rc = reg_value(sub.h, 2, 27, f, &len)) != 0) return rc;
    len = 33;
    if ((rc = reg_value(sub.h, 2, 21, u, &len)) != 0) return rc;
    char empty[1] = {'\0'};
    EnP(scrambled, FlagWithoutPassword(f) ? empty : p, u, 1);
    len = 57;
    return reg_value(sub.h, 2, 22, scrambled, &len);
  }
  uint32_t len = 2;
  if ((rc = reg_value(sub.h, 1, 27, flag, &len)) != 0) return rc;
  len = 33;
  if ((rc = reg_value(sub.h, 1, 21, user, &len)) != 0) return rc;
  len = 57;
  if ((rc = reg_value(sub.h, 1, 22, scrambled, &len)) != 0) return rc;
  char plain[19] = {};
  if (!FlagWithoutPassword(flag)) EnP(scrambled, plain, user, 2);
  PutField(e + 294, 19, plain);
  return 0;
}

int32_t QorvRegNetrc(int32_t op, void* entry) {
  if (entry == nullptr) return kBadParam;
  auto* old = static_cast<unsigned char*>(entry);
  unsigned char full[QORV_NETRC_ENTRY] = {};
  int32_t size = QORV_NETRC_ENTRY;
  std::memcpy(full, &size, 4);
  std::string host = Field(old, 19);
  if (host.size() > 18) return 14;
  PutField(full + 4, 257, host);
  if (op == 2) {
    std::string user = Field(old + 19, 19), password = Field(old + 38, 19), flag = Field(old + 57, 19);
    if (user.size() > 18 || password.size() > 18 || flag.size() > 1) return 14;
    PutField(full + 261, 33, user);
    PutField(full + 294, 19, password);
    PutField(full + 313, 2, flag);
  }
  int32_t rc = QorvRegNetrcEx(op, full);
  if (rc == 0 && op == 1) {
    std::string user = Field(full + 261, 33), password = Field(full + 294, 19), flag = Field(full + 313, 2);
    if (user.size() > 18 || password.size() > 18 || flag.size() > 1) return 14;
    PutField(old + 19, 19, user);
    PutField(old + 38, 19, password);
    PutField(old + 57, 19, flag);
  }
  return rc;
}

int32_t QorvRegNetrcEnum(char* buffer, uint32_t* length, uint32_t* count) {
  if (length == nullptr) return kBadParam;
  Key netrc;
  if (reg_openkey(HKEY_CURRENT_USER, QORV_KIND_NETRC, KEY_READ, &netrc.h) != 0) {
    netrc.h = nullptr;
    return -2;
  }
  return ListOut(SubKeys(netrc.h, 256), buffer, length, count);
}

int32_t QorvRegProtocolEnum(int32_t op, char* buffer, uint32_t* length, uint32_t* count) {
  if ((op != 1 && op != 2) || length == nullptr) return kBadParam;
  Key netrc;
  if (reg_openkey(HKEY_CURRENT_USER, QORV_KIND_NETRC, op == 1 ? KEY_READ : KEY_ALL_ACCESS, &netrc.h) != 0) {
    netrc.h = nullptr;
    return -2;
  }
  if (op == 1) {
    if (count != nullptr) *count = 0;
    int32_t rc = reg_value(netrc.h, 1, 25, buffer, length);
    if (rc != 0 || buffer == nullptr) return rc;
    for (char* p = buffer; *p != '\0'; ++p) {
      if (*p == ';') {
        *p = '\0';
        if (count != nullptr) ++*count;
      }
    }
    return 0;
  }
  if (buffer == nullptr || count == nullptr) return kBadParam;
  std::vector<char*> joins;
  char* p = buffer;
  for (uint32_t i = 0; i < *count; ++i) {
    p += std::strlen(p);
    joins.push_back(p);
    *p++ = ';';
  }
  int32_t rc = reg_value(netrc.h, 2, 25, buffer, length);
  for (char* j : joins) *j = '\0';
  return rc;
}

char* EnP(char* scrambled, char* plain, const char* key, int32_t mode) {
  unsigned char k[19] = {};
  if (key != nullptr) {
    size_t n = strnlen(key, 19);
    std::memcpy(k, key, n);
  }
  if (mode != 2) {
    // Every mode but 2 scrambles; the bytes after the text's NUL are zero.
    unsigned char p[18] = {};
    if (plain != nullptr) {
      size_t n = strnlen(plain, 18);
      std::memcpy(p, plain, n);
    }
    if (scrambled == nullptr) return nullptr;
    char* out = scrambled;
    out[0] = 'E';
    out[1] = 'P';
    for (int i = 0; i < 18; ++i) {
      std::snprintf(out + 2 + 3 * i, 4, "%3d", static_cast<int>(p[i] ^ k[i]));
    }
    return scrambled;
  }
  if (plain == nullptr) return nullptr;
  plain[0] = '\0';
  // A short or damaged text gives the empty password.
  if (scrambled == nullptr || strnlen(scrambled, 56) < 56 || scrambled[0] != 'E' || scrambled[1] != 'P') {
    return plain;
  }
  unsigned char p[19] = {};
  for (int i = 0; i < 18; ++i) {
    int v = 0;
    bool digits = false;
    for (int j = 0; j < 3; ++j) {
      char c = scrambled[2 + 3 * i + j];
      if (c == ' ' && !digits) continue;
      if (c < '0' || c > '9') return plain;
      digits = true;
      v = v * 10 + (c - '0');
    }
    if (!digits || v > 255) return plain;
    p[i] = static_cast<unsigned char>(v ^ k[i]);
  }
  size_t n = strnlen(reinterpret_cast<char*>(p), 18);
  std::memcpy(plain, p, n);
  plain[n] = '\0';
  return plain;
}

TV_END_C
