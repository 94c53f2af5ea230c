// Name resolution: a target (default server, explicit address, database
// and server, or server alone) becomes a list of server entries, from the
// connection-configuration file, the server's group, DBPATH and local
// databases. Nothing is cached: every resolution reads the file again.
#include "connect/asfns.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/env.h"
#include "base/fields.h"
#include "connect/asfutil.h"
#include "connect/driver.h"

#define NS_ERROR(cb, code) asf_set_error((cb), (code), 0, "asfns.c", __LINE__)

namespace {

const char* EnvDir() {
  const char* dir = ggetenv_idx("TARVELONDIR", ENVROW_TARVELONDIR);
  return dir != nullptr ? dir : "/usr/tarvelon";
}

bool KnownType(const char* t) {
  static const char* const kTypes[] = {"vq", "vk", "vj", "raw", "dr", "dw"};
  for (const char* k : kTypes) {
    if (std::strcmp(t, k) == 0) return true;
  }
  return false;
}

std::string ThisHost() {
  char host[257];
  if (rhostname(host, sizeof host) != 0) return std::string();
  return host;
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// The base name's start: after a drive and the last separator.
size_t BaseStart(const std::string& path) {
  size_t start = 0;
  if (path.size() >= 2 && path[1] == ':') start = 2;
  size_t slash = path.find_last_of("/\\");
  if (slash != std::string::npos && slash + 1 > start) start = slash + 1;
  return start;
}

std::string LowerBase(const std::string& path) {
  size_t b = BaseStart(path);
  std::string base = path.substr(b);
  std::vector<char> buf(base.begin(), base.end());
  buf.push_back('\0');
  rdownshift(buf.data());
  return path.substr(0, b) + buf.data();
}

// The absolute form of an existing directory, without moving the
// process's current directory: 0, -922 or -1 (longer than 260).
int Absolute(const std::string& dir, std::string* out) {
  char resolved[PATH_MAX];
  if (realpath(dir.c_str(), resolved) == nullptr) return -922;
  *out = resolved;
  if (out->size() > 260) return -1;
  return 0;
}

// The absolute path of a local database of a vj server on this host.
int LocalDatabase(const std::string& db, std::string* out) {
  std::string path = LowerBase(db);
  if (path.empty()) path = "./";
  else if (path.back() != '/') path += ".dbs";
  std::string abs;
  int rc;
  if (Exists(path)) {
    rc = Absolute(path, &abs);
  } else {
    size_t slash = path.find_last_of('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    rc = Absolute(dir, &abs);
    if (rc == 0) {
      if (abs.empty() || abs.back() != '/') abs += '/';
      abs += base;
      if (abs.size() > 260) rc = -1;
    }
  }
  if (rc != 0) return rc;
  if (abs.size() >= 4 && abs.compare(abs.size() - 4, 4, ".dbs") == 0) abs.resize(abs.size() - 4);
  *out = abs;
  return 0;
}

struct Resolver {
  AsfControlBlock* cb;
  AsfCredentials cred;
  AsfServerList* list;
  AsfTextStream* stream = nullptr;
  bool named = false;      // the caller named the server
  bool from_list = false;  // the name came from the caller's environment list
  std::string this_host;

  // Credentials for the entry's host.
  int Attach(AsfServerEntry* e, const char* host) {
    if (cred.user == nullptr) return -1;
    int32_t kind = cred.kind;
    std::string user = cred.user;
    const char* password = cred.password;
    std::string login, found;
    if (password == nullptr && (kind == 1 || kind == 17) && (e->options.netrc & 1) &&
        (this_host != host || ggetenv_idx("ZEL_NETRC_LOOKUP", -1) != nullptr)) {
      char l[513] = {}, p[513] = {};
      if (netrc_open(host, cred.user, l, p) == 0 && p[0] != '\0') {
        found = p;
        login = l[0] != '\0' ? l : cred.user;
        user = login;
        password = found.c_str();
        kind = 1;
      }
      asf_wipe_password(p);
    }
    e->cred_kind = kind;
    e->user = asf_strdup(1, user.c_str());
    if (e->user == nullptr) return -406;
    if (password != nullptr) {
      e->password = asf_strdup(1, password);
      if (e->password == nullptr) {
        std::free(e->user);
        e->user = nullptr;
        return -406;
      }
    }
    if (!found.empty()) asf_wipe_password(found.data());
    e->word1 = cred.word1;
    e->word2 = kind == 16 ? cred.word2 : 0;
    return 0;
  }

  int Address(AsfServerEntry* e, const SqlhostsRaw* raw) {
    std::string host = raw->host, service = raw->service, protocol = raw->protocol;
    if (raw->server_type[0] != '\0' && !KnownType(raw->server_type)) {
      host = std::string("||ipcpip&") + raw->host + "|" + raw->service + "|" + raw->protocol +
             "&vj&" + raw->server_type;
      service = std::string(EnvDir()) + "/bin/sqlgw" + raw->server_type + raw->protocol;
      protocol = "ipcpip";
    } else if (protocol == "ipcpip" && (service.empty() || service[0] != '/')) {
      std::string path = EnvDir();
      if (path.empty() || path.back() != '/') path += '/';
      if (service.find('/') == std::string::npos) path += "lib/";
      service = path + service;
      if (host.size() > 256 || service.size() > 286 || protocol.size() > 8) return -1;
    }
    std::string text = host + "|" + service + "|" + protocol;
    e->address = asf_strdup(1, text.c_str());
    if (e->address == nullptr) return -406;
    e->address_kind = 1;
    return 0;
  }

  // One entry from a raw entry.
  int Build(const SqlhostsRaw* raw, const char* database, int32_t code) {
    if (list->count >= ASF_SERVER_LIST_MAX) return -1;
    std::string db;
    bool has_db = database != nullptr;
    if (has_db) db = database;
    if (!named && has_db && std::strcmp(raw->server_type, "vj") == 0 && this_host == raw->host) {
      std::string abs;
      int rc = LocalDatabase(db, &abs);
      if (rc != 0) return rc;
      db = abs;
    }
    if (db.size() > 1 && db.back() == '/') db.pop_back();
    AsfServerEntry* e = &list->entries[list->count];
    std::memset(e, 0, sizeof *e);
    e->entry_code = code;
    std::strncpy(e->server_type, raw->server_type, 8);
    if (raw->server_type[0] != '\0' && !KnownType(raw->server_type)) std::memcpy(e->protocol, "ipcpip", 6);
    else std::strncpy(e->protocol, raw->protocol, 8);
    int rc = sqlhosts_apply_options(raw, &e->options);
    if (rc != 0) {
      std::memset(e, 0, sizeof *e);
      return rc;
    }
    auto fail = [&](int code) {
      asf_free_server_entry(1, e, 0);
      std::memset(e, 0, sizeof *e);
      return code;
    };
    e->server_name = asf_strdup(1, raw->name);
    if (e->server_name == nullptr) return fail(-406);
    if (has_db) {
      e->database = asf_strdup(1, db.c_str());
      if (e->database == nullptr) return fail(-406);
    }
    if (code == 0) {
      rc = Address(e, raw);
      if (rc == 0) rc = Attach(e, raw->host);
      if (rc != 0) return fail(rc);
    }
    ++list->count;
    return 0;
  }

  // Whether a DBPATH item's path applies to a raw entry.
  bool Applies(const SqlhostsRaw* raw, const std::string& path) {
    std::string type = raw->server_type;
    if (type == "vj" && this_host == raw->host) {
      if (path.empty()) return true;
      if (path.back() == '/') return Exists(path.substr(0, path.size() - 1));
      return Exists(LowerBase(path) + ".dbs");
    }
    if ((type == "vq" || type == "vk") && path.find('/') != std::string::npos &&
        path.compare(0, 2, "//") != 0) {
      return false;
    }
    return true;
  }

  int DbPath(const SqlhostsRaw* raws, const std::string& database) {
    const char* value = ggetenv_idx("DBPATH", ENVROW_DBPATH);
    if (value == nullptr) return 0;
    std::string text = value;
    size_t pos = 0;
    for (int item_no = 0; item_no < 100 && pos <= text.size(); ++item_no) {
      size_t colon = text.find(':', pos);
      std::string item = text.substr(pos, colon == std::string::npos ? std::string::npos : colon - pos);
      pos = colon == std::string::npos ? text.size() + 1 : colon + 1;
      if (item.size() >= 260) return -373;
      if (list->count >= ASF_SERVER_LIST_MAX) break;
      std::string server, dir;
      if (item.compare(0, 2, "//") == 0) {
        size_t slash = item.find('/', 2);
        server = item.substr(2, slash == std::string::npos ? std::string::npos : slash - 2);
        if (slash != std::string::npos) dir = item.substr(slash);
      } else {
        dir = item;
      }
      size_t ws = dir.find_first_of(" \t\n\r\f\v");
      if (ws != std::string::npos) dir.resize(ws);
      std::string path;
      if (!dir.empty()) {
        path = dir;
        if (path.back() != '/') path += '/';
        path += database;
      } else {
        path = database;
      }
      if (path.size() > 260) return -373;
      int rc = 0;
      if (server.empty()) {
        for (const SqlhostsRaw* r = raws; r != nullptr && rc == 0; r = r->next) {
          if (Applies(r, path)) rc = Build(r, path.c_str(), 0);
        }
      } else {
        SqlhostsRaw raw{};
        int found = server.size() > 128 ? -25554 : sqlhosts_find(stream, server.c_str(), &raw);
        if (found == 0 && std::strcmp(raw.nettype, "group") == 0) {
          int32_t n = 0;
          SqlhostsRaw* members = nullptr;
          rc = sqlhosts_expand_group(stream, server.c_str(), &raw, &n, &members);
          for (SqlhostsRaw* m = members; m != nullptr && rc == 0; m = m->next) {
            if (Applies(m, path)) rc = Build(m, path.c_str(), 0);
          }
          while (members != nullptr) {
            SqlhostsRaw* next = members->next;
            std::free(members);
            members = next;
          }
        } else if (found == 0) {
          if (Applies(&raw, path)) rc = Build(&raw, path.c_str(), 0);
        } else if (found == -25555) {
          SqlhostsRaw only{};
          std::strncpy(only.name, server.c_str(), 128);
          rc = Build(&only, path.c_str(), -25559);
        } else {
          rc = found;
        }
      }
      if (rc != 0) return rc;
    }
    return 0;
  }
};

void FreeRaws(SqlhostsRaw* r, const SqlhostsRaw* keep) {
  while (r != nullptr) {
    SqlhostsRaw* next = r->next;
    if (r != keep) std::free(r);
    r = next;
  }
}

// Splits "host|service|protocol[|options]" into its fields.
int Explicit(Resolver& rs, const char* text) {
  std::vector<std::string> f;
  const char* p = text;
  while (f.size() < 3) {
    while (*p == '|') ++p;
    const char* start = p;
    while (*p != '\0' && *p != '|') ++p;
    f.emplace_back(start, static_cast<size_t>(p - start));
  }
  while (*p == '|') ++p;
  std::string options = p;
  if (f[0].size() > 256) f[0].resize(256);
  if (f[1].size() > 128) f[1].resize(128);
  if (f[2].size() > 7) f[2].resize(7);
  AsfServerEntry* e = &rs.list->entries[0];
  std::memset(e, 0, sizeof *e);
  if (!options.empty()) {
    SqlhostsRaw raw{};
    std::strncpy(raw.protocol, f[2].c_str(), 8);
    std::strncpy(raw.options, options.c_str(), 512);
    int rc = sqlhosts_apply_options(&raw, &e->options);
    if (rc != 0) {
      std::memset(e, 0, sizeof *e);
      return rc;
    }
  } else {
    // An explicit address without options gets no defaults; the .netrc
    // look-up is then off as well.
    std::memset(&e->options, 0, sizeof e->options);
  }
  auto fail = [&](int code) {
    asf_free_server_entry(1, e, 0);
    std::memset(e, 0, sizeof *e);
    return code;
  };
  int rc = rs.Attach(e, f[0].c_str());
  if (rc != 0) return fail(rc);
  if (f[0].empty() || f[1].empty() || f[2].empty()) return fail(-1);
  e->server_name = asf_strdup(1, f[0].c_str());
  std::string address = f[0] + "|" + f[1] + "|" + f[2];
  e->address = asf_strdup(1, address.c_str());
  if (e->server_name == nullptr || e->address == nullptr) return fail(-406);
  std::strncpy(e->protocol, f[2].c_str(), 8);
  e->address_kind = 1;
  rs.list->count = 1;
  return 0;
}

}  // namespace

TV_BEGIN_C

int asfns_split_target(const char* text, int allow_at, char* server, char* database) {
  server[0] = database[0] = '\0';
  std::string t = text != nullptr ? text : "";
  int32_t status = -1;
  int32_t at = -1;
  if (allow_at) {
    int32_t pos = os_find_at(t.c_str(), &status);
    if (status == 0) at = pos;
    else if (status != -1) return -909;
  }
  std::string srv, db;
  if (at >= 0) {
    db = t.substr(0, static_cast<size_t>(at));
    srv = t.substr(static_cast<size_t>(at) + 1);
    if (db.size() > 260) return -909;
    size_t limit = t.find('|') != std::string::npos ? 1044 : 128;
    if (srv.size() > limit) return -909;
  } else if (t.compare(0, 2, "//") == 0) {
    size_t slash = t.find('/', 2);
    srv = t.substr(2, slash == std::string::npos ? std::string::npos : slash - 2);
    if (srv.size() > 128) return -906;
    if (slash != std::string::npos) {
      db = t.substr(slash);
      size_t ws = db.find_first_of(" \t\n\r\f\v");
      if (ws != std::string::npos) db.resize(ws);
      if (db.size() > 260) return -909;
    }
  } else {
    db = t;
    size_t ws = db.find_first_of(" \t\n\r\f\v");
    if (ws != std::string::npos) db.resize(ws);
    if (db.size() > 260) return -909;
  }
  while (!srv.empty() && std::isspace(static_cast<unsigned char>(srv.back()))) srv.pop_back();
  std::memcpy(server, srv.c_str(), srv.size() + 1);
  std::memcpy(database, db.c_str(), db.size() + 1);
  return 0;
}

int asfns_resolve(AsfControlBlock* cb, int32_t no_dbpath, AsfCredentials* credentials,
                  AsfTarget* target, AsfServerList** out, AsfOptionList* env_list,
                  uint32_t* flags) {
  if (out != nullptr) *out = nullptr;
  if (cb == nullptr || credentials == nullptr || target == nullptr || out == nullptr) {
    return NS_ERROR(cb, -25563), -1;
  }
  int32_t form = target->kind;
  bool text_needed = form == 1 || form == 3;
  if ((form != 0 && form != 1 && form != 3 && form != 7) ||
      (text_needed && (target->text == nullptr || target->text[0] == '\0')) ||
      (credentials->kind != 0 && credentials->kind != 1 && credentials->kind != 16)) {
    return NS_ERROR(cb, -25563), -1;
  }
  auto* list = static_cast<AsfServerList*>(std::calloc(1, sizeof(AsfServerList)));
  if (list == nullptr) return NS_ERROR(cb, -406), -1;
  Resolver rs{cb, *credentials, list, nullptr, false, false, ThisHost()};
  char current_user[512];
  if (credentials->kind == 0 || (credentials->kind == 1 && credentials->user == nullptr)) {
    if (os_current_user(current_user) != 0 || current_user[0] == '\0') {
      std::free(list);
      return NS_ERROR(cb, -25590), -1;
    }
    rs.cred.kind = 17;
    rs.cred.user = current_user;
    rs.cred.password = nullptr;
  }
  int rc = 0;
  std::vector<char> server(1045 + 1), database(261 + 1);
  bool has_db = false;
  SqlhostsRaw* raws = nullptr;
  SqlhostsRaw first{};
  std::string name;
  bool group = false;
  auto finish = [&](int code) {
    if (raws != &first) FreeRaws(raws, nullptr);
    else FreeRaws(first.next, nullptr);
    if (rs.stream != nullptr) asf_stream_close(rs.stream);
    if (code == 0) {
      cb->error = 0;
      cb->os_error = 0;
      *out = list;
      return 0;
    }
    if (code == -1) code = -25557;
    NS_ERROR(cb, code);
    if (code == -25555) {
      std::strncpy(cb->text, name.c_str(), sizeof cb->text - 1);
      cb->text[sizeof cb->text - 1] = '\0';
    }
    asf_free_server_list_class(1, list);
    return -1;
  };
  if (form == 1) return finish(Explicit(rs, target->text));
  if (form == 3) {
    rc = asfns_split_target(target->text, 1, server.data(), database.data());
    if (rc != 0) return finish(rc);
    has_db = database[0] != '\0';
  }
  name = server.data();
  rs.named = !name.empty();
  bool inline_entry = name.find('|') != std::string::npos;
  if (!inline_entry) {
    rs.stream = sqlhosts_open(0);
    if (rs.stream == nullptr) return finish(-25553);
  }
  if (env_list != nullptr && name.empty()) {
    for (int32_t i = 0; i < env_list->count; ++i) {
      if (env_list->names != nullptr && env_list->names[i] != nullptr &&
          std::strcmp(env_list->names[i], "ZIVEVODAREVEZO") == 0 && env_list->values != nullptr &&
          env_list->values[i] != nullptr) {
        name = env_list->values[i];
        if (name.size() > 128) return finish(-25554);
        rs.from_list = !name.empty();
        break;
      }
    }
  }
  if (inline_entry) {
    std::vector<char> text(name.begin(), name.end());
    text.push_back('\0');
    sqlhosts_parse_inline(text.data(), &first);
    name = text.data();
  } else {
    rc = sqlhosts_find(rs.stream, name.c_str(), &first);
    if (rc != 0) return finish(rc);
    if (name.empty()) name = first.name;
  }
  first.next = nullptr;
  raws = &first;
  if (std::strcmp(first.nettype, "group") == 0) {
    group = true;
    int32_t n = 0;
    SqlhostsRaw* members = nullptr;
    rc = sqlhosts_expand_group(rs.stream, rs.named || rs.from_list ? name.c_str() : "", &first, &n,
                               &members);
    if (rc == -25596 && (rs.named || rs.from_list)) rc = -25555;
    if (rc != 0) return finish(rc);
    raws = members;
  }
  if (flags != nullptr) {
    if (group) *flags |= 0x2000000u;
    else *flags &= ~0x2000000u;
  }
  std::string db = database.data();
  if (form == 3 && std::strncmp(target->text, "//", 2) == 0 && raws != nullptr &&
      (std::strcmp(raws->server_type, "vq") == 0 || std::strcmp(raws->server_type, "vk") == 0)) {
    if (db.size() >= 1 && db[0] == '/' && db.find('/', 1) == std::string::npos) db.erase(0, 1);
  }
  bool explicit_name = rs.named && !rs.from_list;
  bool use_db = !((explicit_name && !has_db) || form == 7);
  for (SqlhostsRaw* r = raws; r != nullptr && rc == 0; r = r->next) {
    rc = rs.Build(r, use_db ? db.c_str() : nullptr, 0);
  }
  if (rc == 0 && use_db && no_dbpath == 0 && !explicit_name) rc = rs.DbPath(raws, db);
  return finish(rc);
}

TV_END_C
