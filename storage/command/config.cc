#include "storage/command/config.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/client_locale.h"
#include "base/msgfile.h"
#include "base/os_accounts.h"
#include "storage/catalog/smc_pool.h"
#include "storage/command/sm_trace.h"
#include "storage/command/sm_util.h"
#include "storage/command/trace_file.h"

const char* const kConfigTableNames[CFG_TABLE_COUNT] = {
    "device", "lock", "serial", "object_path", "object", "object_detail", "session", "volume", "pool"};

namespace {

TevConfig g_config;

constexpr size_t kTextMax = 1024;       // characters kept of a text value
constexpr size_t kPoolNameMax = 23;     // characters kept of a pool name
constexpr int kXferBufMax = 4194303;    // KB; larger buffers overflow a 32-bit length
constexpr size_t kExpandMax = 128;      // length of an expanded "$TARVELONDIR" value
constexpr const char kInstallVar[] = "$TARVELONDIR";

void CopyCut(char* dst, size_t size, const char* src) {
  size_t n = std::min(std::strlen(src), size - 1);
  std::memcpy(dst, src, n);
  dst[n] = '\0';
}

template <size_t N>
void SetText(char (&field)[N], const char* value, size_t max_chars) {
  CopyCut(field, std::min(N, max_chars + 1), value);
}

// Decimal integer: leading white space and a sign allowed, stops at the
// first other character, 0 without digits; clamped to the 32-bit range.
int32_t ParseNumber(const char* text) {
  const char* p = text;
  while (sm_is_blank(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > INT32_MAX + int64_t{1}) value = INT32_MAX + int64_t{1};
  }
  if (negative) value = -value;
  return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

// The catalog directory always ends with "/".
void EndCatalogDir(TevConfig* cfg) {
  size_t len = std::strlen(cfg->catalogDir);
  if ((len == 0 || cfg->catalogDir[len - 1] != '/') && len + 1 < sizeof cfg->catalogDir) {
    cfg->catalogDir[len] = '/';
    cfg->catalogDir[len + 1] = '\0';
  }
}

void TakeCatalogDir(TevConfig* cfg, const char* value) {
  if (std::strlen(value) <= static_cast<size_t>(kCatalogDirMax)) {
    SetText(cfg->catalogDir, value, kTextMax);
  }
  EndCatalogDir(cfg);
}

char* JoinOwned(const char* a, const char* b, const char* c) {
  std::string s = std::string(a) + b + c;
  return strdup(s.c_str());
}

void FreeOwned(TevConfig* cfg) {
  std::free(cfg->installDir);
  std::free(cfg->serverConfigPath);
  std::free(cfg->smConfigPath);
  cfg->installDir = cfg->serverConfigPath = cfg->smConfigPath = nullptr;
}

enum class Kind { kText, kPath, kCatalog, kNumber, kPool, kXferBuf };

struct FileKey {
  const char* key;
  Kind kind;
  size_t offset;  // of the field in TevConfig
  size_t size;    // of a text field
  int32_t flag;
};

#define TEXT_FIELD(f) offsetof(TevConfig, f), sizeof(TevConfig::f)
#define INT_FIELD(f) offsetof(TevConfig, f), 0

// The keys of a configuration file, tried in this order; the first match
// wins.
const FileKey kFileKeys[] = {
    {"ROOTFILEDIR", Kind::kText, TEXT_FIELD(rootFileDir), 0},
    {"TEV_CATALOG_PATH", Kind::kCatalog, TEXT_FIELD(catalogDir), 0},
    {"TEV_ACT_LOG", Kind::kPath, TEXT_FIELD(actLogPath), CFG_SET_TEV_ACT_LOG},
    {"TEV_DEBUG_LOG", Kind::kPath, TEXT_FIELD(debugLogPath), CFG_SET_TEV_DEBUG_LOG},
    {"TEV_DEBUG", Kind::kNumber, INT_FIELD(debugLevel), CFG_SET_TEV_DEBUG},
    {"BAR_ACT_LOG", Kind::kPath, TEXT_FIELD(barActLog), CFG_SET_BAR_ACT_LOG},
    {"BAR_DEBUG_LOG", Kind::kPath, TEXT_FIELD(barDebugLog), CFG_SET_BAR_DEBUG_LOG},
    {"BAR_DEBUG", Kind::kNumber, INT_FIELD(barDebug), CFG_SET_BAR_DEBUG},
    {"BAR_BSALIB_PATH", Kind::kPath, TEXT_FIELD(bsaLibPath), 0},
    {"BAR_XFER_BUF_SIZE", Kind::kXferBuf, INT_FIELD(xferBufSize), 0},
    {"TEV_LOG_POOL", Kind::kPool, TEXT_FIELD(logPoolName), 0},
    {"TEV_DBS_POOL", Kind::kPool, TEXT_FIELD(dbsPoolName), 0},
    {"TEV_EXT_POOL", Kind::kPool, TEXT_FIELD(extPoolName), 0},
    {"CHILDWAIT", Kind::kNumber, INT_FIELD(childWait), 0},
};

void ApplyFileKey(TevConfig* cfg, const FileKey& k, char* value) {
  char* base = reinterpret_cast<char*>(cfg);
  char* text = base + k.offset;
  int32_t* number = reinterpret_cast<int32_t*>(base + k.offset);
  // The expansion grows the value in place, so it works on a copy with room
  // for the longest expansion: the value may end at the very end of the line
  // buffer.
  std::string room;
  if ((k.kind == Kind::kPath || k.kind == Kind::kCatalog) && value[0] == '$') {
    room.assign(value);
    room.resize(std::max(room.size(), kExpandMax) + 1, '\0');
    value = room.data();
    zarConfigExpandDir(value);  // a value that cannot be expanded is used as written
  }
  switch (k.kind) {
    case Kind::kText:
    case Kind::kPath:
      CopyCut(text, std::min(k.size, kTextMax + 1), value);
      break;
    case Kind::kCatalog:
      TakeCatalogDir(cfg, value);
      break;
    case Kind::kPool:
      CopyCut(text, std::min(k.size, kPoolNameMax + 1), value);
      break;
    case Kind::kNumber:
      *number = ParseNumber(value);
      break;
    case Kind::kXferBuf: {
      int32_t kb = ParseNumber(value);
      if (kb >= 1 && kb <= kXferBufMax) *number = kb;
      break;
    }
  }
  cfg->setFlags |= k.flag;
}

// An environment text taken when it is at most max characters long.
bool EnvText(const char* name, char* field, size_t size, size_t max) {
  const char* value = std::getenv(name);
  if (value == nullptr || std::strlen(value) > max) return false;
  CopyCut(field, size, value);
  return true;
}

void EnvPositive(const char* name, int32_t* field) {
  const char* value = std::getenv(name);
  if (value == nullptr) return;
  int32_t n = ParseNumber(value);
  if (n > 0) *field = n;
}

// Opens a trace file; false only when memory failed.
bool OpenTrace(const char* name, int32_t level, int64_t* handle, const char* tag, int stamp) {
  return open_trace_file(name, level, handle, tag, stamp) >= 0;
}

}  // namespace

TevConfig* zarGetConfig() { return g_config.loaded ? &g_config : nullptr; }

void zarConfigDefaults(TevConfig* cfg) {
  cfg->lockTimeout = 300;
  SetText(cfg->actLogPath, "/tmp/bar_act.log", kTextMax);
  SetText(cfg->debugLogPath, "/tmp/bar_dbug.log", kTextMax);
  SetText(cfg->barActLog, "/tmp/bar_act.log", kTextMax);
  SetText(cfg->barDebugLog, "/tmp/bar_dbug.log", kTextMax);
  cfg->debugLevel = 0;
  cfg->barDebug = 0;
  cfg->writeLimit = 0;
  cfg->exportBufSize = 0;
  cfg->xferBufSize = 128;
  cfg->bsaLibPath[0] = '\0';
  cfg->rootFileDir[0] = '\0';
  cfg->childWait = 60;
  SetText(cfg->dbsPoolName, "DBSPOOL", kPoolNameMax);
  SetText(cfg->logPoolName, "LOGPOOL", kPoolNameMax);
  SetText(cfg->extPoolName, "EXTPOOL", kPoolNameMax);
  cfg->dbsPoolId = 1;
  cfg->logPoolId = 2;
  cfg->extPoolId = 3;
  cfg->catalogDir[0] = '\0';
  if (cfg->installDir != nullptr) {
    std::snprintf(cfg->catalogDir, sizeof cfg->catalogDir, "%s/etc/tev/", cfg->installDir);
  }
}

int zarConfigKeyMatch(char** cursor, const char* key, int key_length) {
  char* p = sm_skip_blanks(*cursor);
  if (std::strncmp(p, key, static_cast<size_t>(key_length)) != 0) return 0;
  p += key_length;
  if (*p != '=' && !sm_is_blank(*p)) return 0;
  p = sm_skip_blanks(p);
  if (*p == '=') ++p;
  *cursor = sm_skip_blanks(p);
  return 1;
}

int zarConfigExpandDir(char* value) {
  const size_t name_len = sizeof kInstallVar - 1;
  if (std::strncmp(value, kInstallVar, name_len) != 0) return -210;
  // The name ends at the first separator, which must follow it directly.
  char sep = value[name_len];
  if (sep != '/' && sep != '\\') return -210;
  const char* install = std::getenv("TARVELONDIR");
  if (install == nullptr) return -3;
  const char* rest = value + name_len + 1;
  if (std::strlen(rest) + std::strlen(install) + 2 > kExpandMax) return -210;
  std::string expanded = std::string(install) + "/" + rest;
  std::memcpy(value, expanded.c_str(), expanded.size() + 1);
  return 0;
}

int zarConfigReadFile(TevConfig* cfg, const char* path) {
  FILE* f = std::fopen(path, "re");
  if (f == nullptr) return -1;
  char line[2048];
  while (std::fgets(line, sizeof line, f) != nullptr) {
    size_t len = std::strlen(line);
    if (len == sizeof line - 1 && line[len - 1] != '\n') {
      // An overlong line: the rest of it is no line of its own.
      int c;
      while ((c = std::fgetc(f)) != EOF && c != '\n') {
      }
    }
    if (char* hash = std::strchr(line, '#')) *hash = '\0';
    sm_trim_trailing(line);
    if (*sm_skip_blanks(line) == '\0') continue;
    for (const FileKey& k : kFileKeys) {
      char* cursor = line;
      if (zarConfigKeyMatch(&cursor, k.key, static_cast<int>(std::strlen(k.key)))) {
        ApplyFileKey(cfg, k, cursor);
        break;
      }
    }
  }
  std::fclose(f);
  return 0;
}

int zarConfigFromEnv(TevConfig* cfg) {
  if (const char* dir = std::getenv("TEV_CATALOG_PATH")) {
    TakeCatalogDir(cfg, dir);
  } else {
    EndCatalogDir(cfg);
  }
  if (EnvText("TEV_ACT_LOG", cfg->actLogPath, sizeof cfg->actLogPath, kTextMax)) {
    cfg->setFlags |= CFG_SET_TEV_ACT_LOG;
  }
  if (EnvText("TEV_DEBUG_LOG", cfg->debugLogPath, sizeof cfg->debugLogPath, kTextMax)) {
    cfg->setFlags |= CFG_SET_TEV_DEBUG_LOG;
  }
  if (const char* v = std::getenv("TEV_DEBUG")) {
    cfg->debugLevel = ParseNumber(v);
    cfg->setFlags |= CFG_SET_TEV_DEBUG;
  }
  EnvText("BAR_ACT_LOG", cfg->barActLog, sizeof cfg->barActLog, kTextMax);
  EnvText("BAR_DEBUG_LOG", cfg->barDebugLog, sizeof cfg->barDebugLog, kTextMax);
  if (const char* v = std::getenv("BAR_DEBUG")) cfg->barDebug = ParseNumber(v);
  EnvPositive("TEV_LOCK_TIMEOUT", &cfg->lockTimeout);
  EnvPositive("TEV_QA_LIMIT_WRT", &cfg->writeLimit);
  EnvPositive("TEV_EXPORT_BUF_SIZE", &cfg->exportBufSize);
  return 0;
}

int zarLoadConfig(int interactive) {
  if (os_userinit() != 0) return 4;

  TevConfig* cfg = &g_config;
  FreeOwned(cfg);
  std::memset(cfg, 0, sizeof *cfg);
  cfg->actLogHandle = cfg->actContHandle = -1;
  cfg->stderrHandle = cfg->stderrContHandle = -1;
  cfg->debugHandle = -1;  // descriptor 0 is standard input, never "no log"

  // A process that asks for the ICU back end through GL_USEGLU keeps the
  // locale start-up from making its ICU glue record.
  if (interactive == 0) {
    if (const char* glu = std::getenv("GL_USEGLU"); glu != nullptr && std::atol(glu) > 0) {
      rgl_set_flags(RGL_FLAG_NO_GLU);
    }
  }

  const char* install = std::getenv("TARVELONDIR");
  if (install == nullptr) return 88131;
  // The catalog directory and every table path below it must fit their
  // fields.
  if (std::strlen(install) + std::strlen("/etc/tev/") > static_cast<size_t>(kCatalogDirMax)) {
    return 88131;
  }
  cfg->installDir = strdup(install);
  if (cfg->installDir == nullptr) return 88132;
  const char* zuconfig = std::getenv("ZUCONFIG");
  const char* tevconfig = std::getenv("TEV_CONFIG");
  cfg->serverConfigPath = JoinOwned(install, "/etc/", zuconfig ? zuconfig : "zuconfig");
  if (cfg->serverConfigPath == nullptr) return 88133;
  cfg->smConfigPath = JoinOwned(install, "/etc/", tevconfig ? tevconfig : "tevconfig");
  if (cfg->smConfigPath == nullptr) return 88134;

  zarConfigDefaults(cfg);
  zarConfigReadFile(cfg, cfg->serverConfigPath);
  zarConfigReadFile(cfg, cfg->smConfigPath);
  zarConfigFromEnv(cfg);

  if (!(cfg->setFlags & CFG_SET_TEV_ACT_LOG)) SetText(cfg->actLogPath, cfg->barActLog, kTextMax);
  if (!(cfg->setFlags & CFG_SET_TEV_DEBUG_LOG)) {
    SetText(cfg->debugLogPath, cfg->barDebugLog, kTextMax);
  }
  int32_t level = (cfg->setFlags & CFG_SET_TEV_DEBUG) ? cfg->debugLevel : cfg->barDebug;
  cfg->traceThreshold = static_cast<int32_t>(std::clamp<int64_t>(138 - int64_t{level}, 129, 137));
  cfg->debugLevel = std::min(level, 9);

  char prefix[64];
  sm_trace_prefix(prefix, sizeof prefix);
  if (!OpenTrace(cfg->actLogPath, 2048, &cfg->actLogHandle, prefix, 1) ||
      !OpenTrace(cfg->actLogPath, 256, &cfg->actContHandle, "\t\t\t\t ", 0)) {
    return -1;
  }
  if (interactive && (!OpenTrace("stderr", 256, &cfg->stderrHandle, "", 0) ||
                      !OpenTrace("stderr", 256, &cfg->stderrContHandle, "\t\t\t\t ", 0))) {
    return -1;
  }
  if (cfg->debugLevel != 0 &&
      !OpenTrace(cfg->debugLogPath, cfg->traceThreshold, &cfg->debugHandle, prefix, 1)) {
    return -1;
  }

  cfg->loaded = 1;
  SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_PLAIN, "%s", SM_MSG(87023));

  for (int i = 0; i < CFG_TABLE_COUNT; ++i) {
    std::string path = std::string(cfg->catalogDir) + kConfigTableNames[i];
    SetText(cfg->tablePaths[i], path.c_str(), kTextMax);
  }
  return 0;
}

int zarLoadPoolsFromConfig(zarHandle* handle, TevConfig* cfg) {
  static const char kName[] = "zarLoadPoolsFromConfig";
  SM_TRACE(136, "%s: enter", kName);
  struct {
    const char* name;
    int32_t* id;
  } const pools[] = {{cfg->dbsPoolName, &cfg->dbsPoolId}, {cfg->logPoolName, &cfg->logPoolId}};
  int rc = 0;
  for (const auto& p : pools) {
    TevPool pool{};
    rc = zarGetPoolId(handle, p.name, &pool);
    if (rc == 17) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, SM_MSG(88017), p.name);
      break;
    }
    if (rc != 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", SM_MSG(88006));
      break;
    }
    *p.id = pool.pool_id;
  }
  SM_TRACE(136, "%s: return %d (0x%02x)", kName, rc, rc);
  return rc;
}
