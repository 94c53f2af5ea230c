// The module configuration and the module libraries. The configuration is
// read once per process under the layer's global mutex; a library stays
// loaded for the life of the process, and an entry whose csm_init failed
// keeps its error, reported again at every later use without a second
// call.
#include "connect/csm_config.h"

#include <dlfcn.h>
#include <strings.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/conn_calls.h"
#include "base/env.h"
#include "connect/asf_assoc.h"
#include "connect/asfutil.h"

namespace {

constexpr size_t kNameMax = 31;
constexpr size_t kQuotedMax = 1023;
constexpr int kLineBuffer = 1024;

struct Config {
  std::vector<CsmConfigEntry> entries;
};
Config* g_config = nullptr;

enum TokenKind { kEnd, kName, kQuoted, kOpen, kClose, kComma, kBad };

struct Token {
  TokenKind kind;
  std::string text;
};

// Splits one line into tokens; a character outside the grammar is kBad.
std::vector<Token> Tokens(const char* p) {
  std::vector<Token> out;
  while (*p != '\0') {
    unsigned char c = static_cast<unsigned char>(*p);
    if (std::isspace(c)) {
      ++p;
    } else if (c == '#') {
      break;
    } else if (c == '(' || c == ')' || c == ',') {
      out.push_back({c == '(' ? kOpen : c == ')' ? kClose : kComma, ""});
      ++p;
    } else if (std::isalnum(c) || c == '_') {
      std::string name;
      while (std::isalnum(static_cast<unsigned char>(*p)) || *p == '_') {
        if (name.size() < kNameMax) name.push_back(*p);
        ++p;
      }
      out.push_back({kName, name});
    } else if (c == '"') {
      const char* end = std::strchr(p + 1, '"');
      if (end == nullptr) {
        out.push_back({kBad, ""});
        return out;
      }
      std::string text(p + 1, static_cast<size_t>(end - p - 1));
      if (text.size() > kQuotedMax) text.resize(kQuotedMax);
      out.push_back({kQuoted, text});
      p = end + 1;
    } else {
      out.push_back({kBad, ""});
      return out;
    }
  }
  out.push_back({kEnd, ""});
  return out;
}

char* Dup(const std::string& s) { return asf_strdup(1, s.c_str()); }

// The library path of a definition's first text.
std::string LibraryPath(const std::string& text) {
  if (text.find('=') == std::string::npos) return text;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t comma = text.find(',', pos);
    std::string pair = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    size_t eq = pair.find('=');
    if (eq != std::string::npos) {
      std::string key = pair.substr(0, eq);
      size_t a = key.find_first_not_of(" \t");
      size_t b = key.find_last_not_of(" \t");
      key = a == std::string::npos ? "" : key.substr(a, b - a + 1);
      if (strcasecmp(key.c_str(), "server") == 0) return pair.substr(eq + 1);
    }
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  return "";
}

int Find(const Config& c, const std::string& name) {
  for (size_t i = 0; i < c.entries.size(); ++i) {
    if (strcasecmp(c.entries[i].name, name.c_str()) == 0) return static_cast<int>(i);
  }
  return -1;
}

void FreeEntry(CsmConfigEntry& e) {
  std::free(e.library);
  std::free(e.global_options);
  std::free(e.default_options);
  std::free(e.members);
}

void FreeConfig(Config* c) {
  if (c == nullptr) return;
  for (CsmConfigEntry& e : c->entries) {
    if (e.load_state == 1 && e.table.slots[0] != nullptr) {
      char text[272] = {};
      reinterpret_cast<int (*)(void**, char*)>(e.table.slots[0])(&e.module, text);
    }
    FreeEntry(e);
  }
  delete c;
}

// A new definition from the tokens at i (name "(" texts ")"); the index
// of the entry, or a negative error.
int Definition(Config& c, const std::vector<Token>& t, size_t& i) {
  std::string name = t[i].text;
  if (Find(c, name) >= 0) return -14582;
  i += 2;  // the name and "("
  std::vector<std::string> texts;
  while (t[i].kind == kQuoted) {
    texts.push_back(t[i].text);
    ++i;
    if (t[i].kind == kComma && t[i + 1].kind == kQuoted && texts.size() < 3) {
      ++i;
      continue;
    }
    break;
  }
  if (t[i].kind != kClose) return -14581;
  ++i;
  if (texts.empty()) return -14584;
  CsmConfigEntry e{};
  std::snprintf(e.name, sizeof e.name, "%s", name.c_str());
  e.is_definition = 1;
  e.library = Dup(LibraryPath(texts[0]));
  e.global_options = Dup(texts.size() > 1 ? texts[1] : "");
  e.default_options = Dup(texts.size() > 2 ? texts[2] : "");
  // A text with "=" but no server key leaves the path empty: that fails
  // when the module is loaded, not here.
  if (texts[0].empty()) {
    FreeEntry(e);
    return -14588;
  }
  c.entries.push_back(e);
  return static_cast<int>(c.entries.size() - 1);
}

int ParseLine(Config& c, const char* line) {
  std::vector<Token> t = Tokens(line);
  for (const Token& k : t) {
    if (k.kind == kBad) return -14581;
  }
  size_t i = 0;
  while (t[i].kind != kEnd) {
    if (t[i].kind != kName) return t[i].kind == kOpen ? -14586 : -14581;
    if (t[i + 1].kind == kOpen) {
      int rc = Definition(c, t, i);
      if (rc < 0) return rc;
    } else if (t[i + 1].kind == kName) {
      // A compound: every further name or definition of the line.
      std::string name = t[i].text;
      if (Find(c, name) >= 0) return -14582;
      ++i;
      std::vector<int32_t> members;
      while (t[i].kind != kEnd) {
        if (t[i].kind == kComma) {
          ++i;
          continue;
        }
        if (t[i].kind != kName) return -14581;
        if (strcasecmp(t[i].text.c_str(), name.c_str()) == 0) return -14587;
        int index;
        if (t[i + 1].kind == kOpen) {
          index = Definition(c, t, i);
          if (index < 0) return index;
        } else {
          index = Find(c, t[i].text);
          if (index < 0) return -14583;
          ++i;
        }
        members.push_back(index);
      }
      CsmConfigEntry e{};
      std::snprintf(e.name, sizeof e.name, "%s", name.c_str());
      e.member_count = static_cast<int32_t>(members.size());
      e.members = static_cast<int32_t*>(std::calloc(members.size(), sizeof(int32_t)));
      std::memcpy(e.members, members.data(), members.size() * sizeof(int32_t));
      c.entries.push_back(e);
    } else {
      // A name on its own must be a member of a compound.
      return Find(c, t[i].text) >= 0 ? -14581 : -14583;
    }
    if (t[i].kind == kComma) ++i;
    else if (t[i].kind != kEnd) return -14581;
  }
  return 0;
}

// The allocator and buffer services handed to csm_init.
void* Allocate(size_t n) { return std::calloc(1, n); }
void Free(void* p) { std::free(p); }
void* Reallocate(void* p, size_t n) { return std::realloc(p, n); }
CsmBuffer* NewEmpty() { return static_cast<CsmBuffer*>(std::calloc(1, sizeof(CsmBuffer))); }
CsmBuffer* NewSized(int64_t n) {
  CsmBuffer* b = NewEmpty();
  if (b == nullptr) return nullptr;
  b->data = std::calloc(1, static_cast<size_t>(n > 0 ? n : 1));
  if (b->data == nullptr) {
    std::free(b);
    return nullptr;
  }
  b->length = n;
  return b;
}
int GiveBytes(CsmBuffer* b, int64_t n) {
  void* p = std::realloc(b->data, static_cast<size_t>(n > 0 ? n : 1));
  if (p == nullptr) return -1;
  b->data = p;
  b->length = n;
  return 0;
}
void Clear(CsmBuffer* b) {
  b->data = nullptr;
  b->length = 0;
}
void FreeBytes(CsmBuffer* b) {
  std::free(b->data);
  Clear(b);
}
void FreeAll(CsmBuffer* b) {
  if (b == nullptr) return;
  FreeBytes(b);
  std::free(b);
}
CsmAllocator g_allocator = {Allocate, Free, Reallocate, asf_noop};
CsmBufferTable g_buffers = {NewEmpty, NewSized, GiveBytes, Clear, FreeBytes, FreeAll};
CsmServices g_services = {1, &g_allocator, &g_buffers, nullptr};

int ModuleError(int32_t code) { return code >= -5013 && code <= -5001 ? code : -5000; }

// Loads and initialises a definition at its first use.
int LoadEntry(AsfControlBlock* cb, CsmConfigEntry& e) {
  if (e.load_state == 2) {
    ASF_ERROR(cb, e.stored_error, 0);
    std::snprintf(cb->text, sizeof cb->text, "%s", e.stored_text);
    return -1;
  }
  if (e.load_state == 1) return 0;
  auto failed = [&]() {
    e.load_state = 2;
    e.stored_error = cb->error;
    std::snprintf(e.stored_text, sizeof e.stored_text, "%.255s", cb->text);
    return -1;
  };
  if (csm_load_module(cb, e.library, &e.library_handle, &e.init) != 0) return failed();
  std::memset(&e.table, 0, sizeof e.table);
  e.table.version = 3;
  CsmStatus status{};
  int rc = e.init(&e.module, &g_services, &e.table, e.global_options, &e.mask, &status);
  if (rc != 0) {
    ASF_ERROR(cb, ModuleError(status.error), status.second);
    std::snprintf(cb->text, sizeof cb->text, "%s", status.text);
    return failed();
  }
  if (e.table.version != 3) {
    csm_set_error(cb, -14504, e.name, e.table.version);
    return failed();
  }
  e.load_state = 1;
  return 0;
}

// Instantiates an entry: a compound each member in order.
int Instantiate(AsfControlBlock* cb, Config& c, int index, int depth, CsmConfigEntry** module) {
  CsmConfigEntry& e = c.entries[static_cast<size_t>(index)];
  if (depth > 32) return csm_set_error(cb, -14587, e.name, 0);
  if (!e.is_definition) {
    for (int32_t k = 0; k < e.member_count; ++k) {
      if (Instantiate(cb, c, e.members[k], depth + 1, module) != 0) return -1;
    }
    return 0;
  }
  if (LoadEntry(cb, e) != 0) return -1;
  if (*module != nullptr) return csm_set_error(cb, -14500, nullptr, -14500);
  *module = &e;
  return 0;
}

}  // namespace

TV_BEGIN_C

int csm_set_error(AsfControlBlock* cb, int32_t code, const char* name, long number) {
  if (code == 0) {
    code = -14500;
    name = nullptr;
    number = 0;
  }
  ASF_ERROR(cb, code, 0);
  if (cb == nullptr) return -1;
  cb->text[0] = '\0';
  const char* n = name != nullptr ? name : "";
  switch (code) {
    case -14502: case -14503: case -14508: case -14511: case -14574: case -14587: case -14588:
    case -14589:
      std::snprintf(cb->text, sizeof cb->text, "%s", n);
      break;
    case -14567: case -14585:
      std::snprintf(cb->text, sizeof cb->text, "%ld", number);
      break;
    case -14506:
      std::snprintf(cb->text, sizeof cb->text, "%s : %ld", n, number);
      break;
    case -14504:
      std::snprintf(cb->text, sizeof cb->text, "%ld: %s", number, n);
      break;
    case -14500:
      std::snprintf(cb->text, sizeof cb->text, "%ld", number);
      break;
    default:
      break;
  }
  return -1;
}

int csm_load_config(AsfControlBlock* cb) {
  if (g_config != nullptr) return 0;
  std::string path;
  if (const char* p = std::getenv("TARVELONCONCSMCFG"); p != nullptr) {
    path = p;
  } else {
    const char* dir = ggetenv_idx("TARVELONDIR", ENVROW_TARVELONDIR);
    if (dir == nullptr || *dir == '\0') return -1;
    path = std::string(dir) + "/etc/concsm.cfg";
  }
  FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr) return csm_set_error(cb, -14589, path.c_str(), 0);
  auto* c = new Config();
  char line[kLineBuffer];
  int rc = 0;
  // A longer line is read in pieces, each parsed as a line of its own.
  while (rc == 0 && std::fgets(line, sizeof line, f) != nullptr) {
    size_t n = std::strlen(line);
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = '\0';
    if (n == 0) continue;
    rc = ParseLine(*c, line);
  }
  std::fclose(f);
  if (rc != 0) {
    FreeConfig(c);
    return csm_set_error(cb, rc, path.c_str(), 0);
  }
  g_config = c;
  return 0;
}

int csm_ensure_config(AsfControlBlock* cb) {
  AsfGlobal* g = asf_global_get();
  if (g != nullptr) os_mutex_lock(g->mutex);
  int rc = csm_load_config(cb);
  if (g != nullptr) os_mutex_unlock(g->mutex);
  return rc;
}

int csm_unload_config(void) {
  FreeConfig(g_config);
  g_config = nullptr;
  return 0;
}

int csm_config_loaded(void) { return g_config != nullptr ? 1 : 0; }

int csm_config_entries(CsmConfigEntry** entries, int32_t* count) {
  if (g_config == nullptr) return -1;
  *entries = g_config->entries.data();
  *count = static_cast<int32_t>(g_config->entries.size());
  return 0;
}

int csm_load_module(AsfControlBlock* cb, const char* path, void** handle, CsmInitFn* init) {
  void* h = path != nullptr && *path != '\0' ? dlopen(path, RTLD_NOW) : nullptr;
  if (h == nullptr) return csm_set_error(cb, -14503, path, 0);
  dlerror();
  void* f = dlsym(h, "csm_init");
  if (f == nullptr) {
    dlclose(h);
    return csm_set_error(cb, -14511, path, 0);
  }
  *handle = h;
  *init = reinterpret_cast<CsmInitFn>(f);
  return 0;
}

int csm_resolve_module(AsfControlBlock* cb, const char* csm_text, CsmConfigEntry** module, char* options,
                       size_t room) {
  *module = nullptr;
  if (csm_text == nullptr) return csm_set_error(cb, -28081, nullptr, 0);
  if (g_config == nullptr) return csm_set_error(cb, -14571, nullptr, 0);
  std::vector<Token> t = Tokens(csm_text);
  if (t[0].kind != kName) return csm_set_error(cb, -14551, nullptr, 0);
  size_t i = 1;
  if (t[i].kind == kComma) ++i;
  std::string per_assoc;
  bool given = false;
  if (t[i].kind == kQuoted) {
    per_assoc = t[i].text;
    given = true;
  } else if (t[i].kind != kEnd) {
    return csm_set_error(cb, -14575, nullptr, 0);
  }
  int index = Find(*g_config, t[0].text);
  if (index < 0) return csm_set_error(cb, -14502, t[0].text.c_str(), 0);
  CsmConfigEntry* found = nullptr;
  if (Instantiate(cb, *g_config, index, 0, &found) != 0) return -1;
  if (found == nullptr) return csm_set_error(cb, -14583, nullptr, 0);
  *module = found;
  if (options != nullptr && room > 0) {
    std::snprintf(options, room, "%s", given ? per_assoc.c_str() : found->default_options);
  }
  return 0;
}

TV_END_C
