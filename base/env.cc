// Environment lookup: the process environment, then the environment files
// loaded once per thread, then the built-in defaults.

#include "base/env.h"

#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/env_internal.h"
#include "base/keep_alive.h"
#include "base/client_locale.h"
#include "platform/home_dir.h"

namespace tvbase {

namespace {

thread_local EnvVarEntry* t_table = nullptr;
thread_local int32_t t_count = 0;
thread_local StringList* t_kept_strings = nullptr;  // putenv strings and converted values

// Too-long warnings printed by lookups; the warning is printed while 0.
std::atomic<int32_t> g_toolong_warnings{0};

const char kDefaultDir[] = "/usr/tarvelon";
const char kDefaultLocale[] = "en_us.8859-1";

[[noreturn]] void OutOfMemory() { std::exit(1); }

// Builds the thread's loaded table from the built-in rows. Cannot fail
// softly: without memory the process ends with exit code 1.
void BuildTable() {
  const EnvVarDef* defs = osenv_table();
  auto* table = static_cast<EnvVarEntry*>(std::calloc(ENVROW_COUNT, sizeof(EnvVarEntry)));
  if (table == nullptr) OutOfMemory();
  KeepAlive(table);
  for (int32_t row = 0; row < ENVROW_COUNT; row++) {
    EnvVarEntry& e = table[row];
    e.name = strdup(defs[row].name);
    if (e.name == nullptr) OutOfMemory();
    e.row = row;
    e.flag = static_cast<uint8_t>(defs[row].flag);
    e.maxlen = defs[row].maxlen;
    if (EnvPush(&e, defs[row].def) != 0) OutOfMemory();
  }
  t_count = ENVROW_COUNT;
  t_table = table;
}

// Fills the ignore list from ENVIGNORE of the process environment: names
// separated by ':', empty names skipped. 0, or -2.
int FillIgnoreList(StringList* ignore) {
  const char* v = std::getenv("ENVIGNORE");
  if (v == nullptr) return 0;
  std::string all(v);
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find(':', start);
    if (end == std::string::npos) end = all.size();
    if (end > start && rstrlist_add(ignore, all.substr(start, end - start).c_str()) < 0) return -2;
    start = end + 1;
  }
  return 0;
}

}  // namespace

// Keeps a copy of s for the life of the process (strings handed to putenv
// must outlive every reader of the environment) and returns it; null
// without memory.
char* KeepString(const char* s) {
  if (t_kept_strings == nullptr) {
    t_kept_strings = rstrlist_new();
    if (t_kept_strings == nullptr) return nullptr;
    KeepAlive(t_kept_strings);
  }
  int32_t idx = rstrlist_add(t_kept_strings, s);
  return idx >= 0 ? t_kept_strings->strings[idx] : nullptr;
}

namespace {

const char* TopValue(const EnvVarEntry* e) { return e->top != nullptr ? e->top->value : nullptr; }

// Maps LANG onto the LC_* variables (DBNLS). 0, or -2.
int MapLocaleVariables(uint32_t flags) {
  std::string lang;
  bool have_lang = false;
  const char* pl = std::getenv("LANG");
  if (pl != nullptr && *pl != '\0') {
    lang = pl;
    have_lang = true;
  } else if (flags & kEnvLang) {
    if (const char* v = TopValue(&t_table[ENVROW_LANG])) {
      lang = v;
      have_lang = true;
    }
  }
  const std::string d = have_lang ? lang : std::string(kDefaultLocale);
  struct Lc {
    int32_t row;
    uint32_t bit;
  };
  constexpr Lc kLc[] = {{ENVROW_LC_COLLATE, kEnvLcCollate}, {ENVROW_LC_CTYPE, kEnvLcCtype},
                        {ENVROW_LC_MONETARY, kEnvLcMonetary}, {ENVROW_LC_NUMERIC, kEnvLcNumeric},
                        {ENVROW_LC_TIME, kEnvLcTime}};
  for (const Lc& lc : kLc) {
    EnvVarEntry* e = &t_table[lc.row];
    const char* pv = std::getenv(e->name);
    bool stored = (flags & lc.bit) != 0;
    if (pv != nullptr && *pv != '\0') {
      if (EnvPush(e, d.c_str()) != 0) return -2;
    } else if (pv != nullptr) {
      if (stored) {
        if (gsetenv(e->name, TopValue(e)) != 0) return -2;
      } else {
        if (EnvPush(e, d.c_str()) != 0) return -2;
        if (gsetenv(e->name, d.c_str()) != 0) return -2;
      }
    } else if (!stored) {
      if (EnvPush(e, d.c_str()) != 0) return -2;
    }
  }
  return 0;
}

// Loads the thread's environment files. 0, or -2 / -4.
int Load() {
  if (rclientstate() == nullptr) return -2;
  // Creating the client state starts the locale, which may have looked a
  // variable up and loaded the files already.
  if (t_table != nullptr) return 0;
  StringList* ignore = rstrlist_new();
  if (ignore == nullptr) return -2;
  BuildTable();
  if (FillIgnoreList(ignore) != 0) {
    rstrlist_free(ignore);
    return -2;
  }
  uint32_t flags = 0;
  int32_t line = 0;

  const char* dir = std::getenv("TARVELONDIR");
  if (dir == nullptr) dir = kDefaultDir;
  int r1 = -2;
  if (char* sys = osenv_path(dir, "etc/tarvelon.rc", nullptr)) {
    r1 = EnvReadFile(sys, ignore, &flags, &line);
    std::free(sys);
  }

  int r2 = -2;
  if (r1 == 0 || r1 == -4) {
    r2 = 0;
    // Without a home directory there is no user file: a file of that name
    // in the current directory belongs to whoever owns that directory.
    if (char* home = osenv_homedir()) {
      char* user = osenv_path(home, ".tarvelon", nullptr);
      std::free(home);
      if (user == nullptr) {
        r2 = -2;
      } else {
        r2 = EnvReadFile(user, ignore, &flags, &line);
        std::free(user);
      }
    }
    // A too-long value in the system file still fails this load when the
    // user file reads cleanly.
    if (r2 == 0) r2 = r1;
  }

  if (r2 == 0 || r2 == -4) {
    const char* nls = std::getenv("DBNLS");
    if (nls != nullptr && (std::strcmp(nls, "1") == 0 || std::strcmp(nls, "2") == 0)) {
      flags |= kEnvDbnls;
    }
    if (flags & kEnvDbnls) r2 = MapLocaleVariables(flags);
  }
  rstrlist_free(ignore);
  return r2;
}

int32_t MaxLenForLookup(const char* name, int32_t row) {
  if (row >= 0 && row < ENVROW_COUNT) return osenv_table()[row].maxlen;
  return osenv_maxlen(name);
}

char* Lookup(const char* name, int32_t row) {
  rthreadstatus = 0;
  if (t_table == nullptr && Load() != 0) {
    rthreadstatus = 0;
    return nullptr;
  }
  rthreadstatus = 0;
  if (name == nullptr) {
    rthreadstatus = -7;
    return nullptr;
  }
  if (char* value = std::getenv(name)) {
    char* converted = nullptr;
    bool has8bit = false;
    for (const char* p = value; *p != '\0'; p++) has8bit |= (static_cast<unsigned char>(*p) >= 0x80);
    if (has8bit && rgl_env_from_fs(value, &converted) == 1 && converted != nullptr) {
      if (char* kept = KeepString(converted)) value = kept;
      std::free(converted);
    }
    int32_t maxlen = MaxLenForLookup(name, row);
    if (maxlen > 0 && std::strlen(value) > static_cast<size_t>(maxlen)) {
      rthreadstatus = -4;
      if (g_toolong_warnings.load(std::memory_order_relaxed) == 0) {
        EnvTooLong(name, maxlen, "osenv", 1599, -4);
        g_toolong_warnings.fetch_add(1, std::memory_order_relaxed);
      }
      return nullptr;
    }
    return value;
  }
  const EnvVarEntry* e = nullptr;
  if (row == -1) {
    e = EnvFind(name);
  } else if (row >= 0 && row < t_count) {
    e = &t_table[row];
  }
  return e != nullptr ? const_cast<char*>(TopValue(e)) : nullptr;
}

}  // namespace

EnvVarEntry* EnvTable() { return t_table; }
int32_t EnvCount() { return t_count; }

EnvVarEntry* EnvFind(const char* name) {
  if (name == nullptr || t_table == nullptr) return nullptr;
  for (int32_t i = 0; i < t_count; i++) {
    if (std::strcmp(t_table[i].name, name) == 0) return &t_table[i];
  }
  return nullptr;
}

int EnvPush(EnvVarEntry* entry, const char* value) {
  size_t len = value != nullptr ? std::strlen(value) + 1 : 0;
  auto* node = static_cast<EnvValueNode*>(std::malloc(sizeof(EnvValueNode) + len));
  if (node == nullptr) return -2;
  node->value = nullptr;
  if (value != nullptr) {
    node->value = reinterpret_cast<char*>(node + 1);
    std::memcpy(node->value, value, len);
  }
  node->next = entry->top;
  entry->top = node;
  return 0;
}

void EnvTooLong(const char* name, int32_t maxlen, const char* file, int32_t line, int32_t status) {
  osenv_print(stderr, "WARNING: ");
  osenv_print(stderr, "Environment variable %s is too long (maximum is %d characters).",
              name != nullptr ? name : "(Unknown)", maxlen);
  if (file != nullptr) osenv_print(stderr, "File: %s, line: %d, status: %d.", file, line, status);
}

}  // namespace tvbase

using tvbase::Lookup;

char* ggetenv(const char* name) { return Lookup(name, -1); }

char* ggetenv_ses(const char* name, void*) { return Lookup(name, -1); }

char* ggetenv_idx(const char* name, int32_t row) { return Lookup(name, row); }

int gsetenv(const char* name, const char* value) {
  if (name == nullptr) return -2;
  std::string s = std::string(name) + "=" + (value != nullptr ? value : "");
  char* kept = tvbase::KeepString(s.c_str());
  if (kept == nullptr) return -2;
  return putenv(kept) == 0 ? 0 : -2;
}
