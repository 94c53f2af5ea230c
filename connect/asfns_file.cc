// The buffered text stream and the connection-configuration file reader:
// lines, fields, the nettype split, validity, groups and the options field.
//
// File format (one server per line; "#" starts a comment line):
//   name  nettype  host  service  options...
// The first four fields are separated by white space or "|"; the options
// field is the rest of the line. Kept lengths: name 128, nettype 16, host
// 256, service 128, options 512; longer values are cut to these.
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "base/env.h"
#include "connect/asfns.h"
#include "connect/asfutil.h"

namespace {

constexpr int32_t kStreamSize = 4096;
constexpr int32_t kLineMax = 1024;

bool Space(int c) { return c != 0xFF && std::isspace(c) != 0; }

// The next byte, or -1 at end of input (a 0xFF byte, read or filled).
int NextByte(AsfTextStream* s) {
  if (s->last == 255 && s->position != -1) return -1;
  if (s->position < 0 || s->position >= s->size) {
    std::memset(s->buffer, 0xFF, static_cast<size_t>(s->size));
    s->position = 0;
    ssize_t n;
    do {
      n = read(static_cast<int>(s->fd), s->buffer, static_cast<size_t>(s->size));
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
      s->last = 255;
      return -1;
    }
  }
  unsigned char c = s->buffer[s->position++];
  s->last = c;
  return c == 0xFF ? -1 : c;
}

// Puts the last byte back (only right after NextByte delivered it).
void PutBack(AsfTextStream* s) {
  if (s->position > 0) --s->position;
}

void Copy(char* dst, size_t size, const char* src, size_t n) {
  if (n > size - 1) n = size - 1;
  std::memcpy(dst, src, n);
  dst[n] = '\0';
}

bool Known(const char* type) {
  static const char* const kTypes[] = {"vq", "vk", "vj", "raw", "dr", "dw"};
  for (const char* t : kTypes) {
    if (std::strcmp(type, t) == 0) return true;
  }
  return false;
}

void SplitNettype(SqlhostsRaw* raw) {
  raw->server_type[0] = raw->protocol[0] = '\0';
  size_t n = std::strlen(raw->nettype);
  if (n <= 6) return;
  Copy(raw->protocol, sizeof raw->protocol, raw->nettype + n - 6, 6);
  if (n <= 14) Copy(raw->server_type, sizeof raw->server_type, raw->nettype, n - 6);
  else Copy(raw->server_type, sizeof raw->server_type, raw->nettype + n - 14, 8);
}

// Splits a line into its five fields; `bars_before_options` lets bars
// separate the service from the options too (inline entries).
void ParseLine(const char* line, SqlhostsRaw* raw, bool bars_before_options) {
  SqlhostsRaw fresh{};
  fresh.next = raw->next;
  *raw = fresh;
  const char* p = line;
  struct Field {
    char* dst;
    size_t size;
  } fields[4] = {{raw->name, sizeof raw->name},
                 {raw->nettype, sizeof raw->nettype},
                 {raw->host, sizeof raw->host},
                 {raw->service, sizeof raw->service}};
  auto sep = [](char c) { return c == '|' || Space(static_cast<unsigned char>(c)); };
  for (Field& f : fields) {
    while (*p != '\0' && sep(*p)) ++p;
    const char* start = p;
    while (*p != '\0' && !sep(*p)) ++p;
    Copy(f.dst, f.size, start, static_cast<size_t>(p - start));
  }
  while (*p != '\0' && (Space(static_cast<unsigned char>(*p)) || (bars_before_options && *p == '|'))) {
    ++p;
  }
  size_t n = std::strlen(p);
  while (n > 0 && (p[n - 1] == '\n' || p[n - 1] == '\r')) --n;
  Copy(raw->options, sizeof raw->options, p, n);
  SplitNettype(raw);
}

int Rewind(AsfTextStream* s) {
  if (lseek(static_cast<int>(s->fd), 0, SEEK_SET) != 0) return -1;
  s->position = -1;
  s->last = 0;
  return 0;
}

// Numbers: all digits, at most 10 of them, not above 2147483647.
bool Number(const std::string& v, int64_t* out) {
  if (v.empty() || v.size() > 10) return false;
  int64_t n = 0;
  for (char c : v) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  if (n > 2147483647) return false;
  *out = n;
  return true;
}

std::string Unwrap(const std::string& v) {
  std::string s = v;
  if (!s.empty() && s.front() == '(') s.erase(0, 1);
  if (!s.empty() && s.back() == ')') s.pop_back();
  return s;
}

void CopyText(char* dst, size_t size, const std::string& v) { Copy(dst, size, v.data(), v.size()); }

// The items of an options field: split at commas and white space outside
// parentheses, up to "#"; at most 32.
std::vector<std::string> Items(const char* text) {
  std::vector<std::string> items;
  std::string cur;
  int depth = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    char c = *p;
    if (depth == 0 && c == '#') break;
    if (c == '(') ++depth;
    if (c == ')' && depth > 0) --depth;
    if (depth == 0 && (c == ',' || Space(static_cast<unsigned char>(c)))) {
      if (!cur.empty()) items.push_back(cur);
      cur.clear();
      continue;
    }
    cur.push_back(c);
  }
  if (!cur.empty()) items.push_back(cur);
  if (items.size() > 32) items.resize(32);
  return items;
}

}  // namespace

TV_BEGIN_C

AsfTextStream* asf_stream_open(const char* path, const char* mode, int32_t cls) {
  if (path == nullptr || mode == nullptr) return nullptr;
  int flags;
  if (std::strcmp(mode, "r") == 0) flags = O_RDONLY;
  else if (std::strcmp(mode, "w") == 0) flags = O_WRONLY | O_CREAT | O_TRUNC;
  else if (std::strcmp(mode, "a") == 0) flags = O_WRONLY | O_CREAT | O_APPEND;
  else flags = O_RDWR | O_CREAT;
  int fd = open(path, flags | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  auto* s = static_cast<AsfTextStream*>(std::calloc(1, sizeof(AsfTextStream)));
  unsigned char* buf = static_cast<unsigned char*>(std::malloc(kStreamSize));
  if (s == nullptr || buf == nullptr) {
    std::free(s);
    std::free(buf);
    close(fd);
    return nullptr;
  }
  s->buffer = buf;
  s->size = kStreamSize;
  s->position = -1;
  s->last = 0;
  s->cls = cls == 1 ? 2 : 0;
  s->fd = fd;
  return s;
}

int asf_stream_read_line(AsfTextStream* s, char* buf, int32_t limit) {
  if (s == nullptr) return -1;
  int c = NextByte(s);
  if (c < 0) return -1;
  int32_t n = 0;
  while (c >= 0 && c != '\n') {
    if (buf != nullptr && n < limit) buf[n] = static_cast<char>(c);
    ++n;
    c = NextByte(s);
  }
  if (buf != nullptr) buf[n < limit ? n : limit] = '\0';
  return n;
}

int asf_stream_read_word(AsfTextStream* s, char* buf, int32_t size) {
  if (s == nullptr) return -1;
  int c = NextByte(s);
  while (c >= 0 && Space(c)) c = NextByte(s);
  if (c < 0) return -1;
  int32_t n = 0;
  while (c >= 0 && !Space(c)) {
    if (buf != nullptr && n < size - 1) buf[n] = static_cast<char>(c);
    ++n;
    c = NextByte(s);
  }
  if (c >= 0) PutBack(s);
  if (buf != nullptr && size > 0) buf[n < size - 1 ? n : size - 1] = '\0';
  return n;
}

int asf_stream_close(AsfTextStream* s) {
  if (s == nullptr) return -1;
  int rc = close(static_cast<int>(s->fd));
  std::free(s->buffer);
  std::free(s);
  return rc;
}

AsfTextStream* sqlhosts_open(int32_t cls) {
  std::string path;
  const char* named = ggetenv_idx("TARVELONSQLHOSTS", ENVROW_TARVELONSQLHOSTS);
  if (named != nullptr && named[0] != '\0') {
    path = named;
  } else {
    const char* dir = ggetenv_idx("TARVELONDIR", ENVROW_TARVELONDIR);
    path = dir != nullptr ? dir : "/usr/tarvelon";
    if (path.empty() || path.back() != '/') path += '/';
    path += "etc/sqlhosts";
  }
  return asf_stream_open(path.c_str(), "r", cls);
}

int sqlhosts_read_entry(AsfTextStream* s, SqlhostsRaw* raw) {
  char line[kLineMax + 1];
  for (;;) {
    // Leading white space, blank lines included, is skipped.
    int c = NextByte(s);
    while (c >= 0 && Space(c)) c = NextByte(s);
    if (c < 0) return -1;
    PutBack(s);
    if (asf_stream_read_line(s, line, kLineMax) < 0) return -1;
    if (line[0] == '#') continue;
    ParseLine(line, raw, false);
    return 0;
  }
}

int sqlhosts_valid(const SqlhostsRaw* r) {
  if (r->name[0] == '\0') return 0;
  if (std::strcmp(r->nettype, "-") == 0 || std::strcmp(r->host, "-") == 0 ||
      std::strcmp(r->service, "-") == 0) {
    return 1;
  }
  return r->nettype[0] != '\0' && r->server_type[0] != '\0' && r->protocol[0] != '\0' &&
         r->host[0] != '\0' && r->service[0] != '\0' && Known(r->server_type);
}

int sqlhosts_find(AsfTextStream* stream, const char* name, SqlhostsRaw* raw) {
  bool from_env = name == nullptr || name[0] == '\0';
  std::string wanted;
  if (from_env) {
    const char* v = ggetenv_idx("ZIVEVODAREVEZO", ENVROW_ZIVEVODAREVEZO);
    // A value over the variable's limit reads as none, with the status set.
    if (v == nullptr && rthreadstatus == -4) return -25554;
    if (v == nullptr || v[0] == '\0') return -25560;
    wanted = v;
  } else {
    wanted = name;
  }
  if (wanted.size() > 128) return -25554;
  AsfTextStream* s = stream;
  if (s == nullptr) {
    s = sqlhosts_open(0);
    if (s == nullptr) return -25553;
  } else if (Rewind(s) != 0) {
    return -25553;
  }
  int rc = from_env ? -25596 : -25555;
  while (sqlhosts_read_entry(s, raw) == 0) {
    if (wanted == raw->name) {
      rc = sqlhosts_valid(raw) ? 0 : -25556;
      break;
    }
  }
  if (stream == nullptr) asf_stream_close(s);
  return rc;
}

int sqlhosts_parse_inline(char* text, SqlhostsRaw* raw) {
  ParseLine(text, raw, true);
  char* bar = std::strchr(text, '|');
  if (bar != nullptr) *bar = '\0';
  return 0;
}

void sqlhosts_free_options(AsfServerOptions* o) {
  if (o == nullptr) return;
  std::free(o->csm);
  std::free(o->pam_service);
  std::free(o->cfd);
  o->csm = o->pam_service = o->cfd = nullptr;
}

int sqlhosts_apply_options(const SqlhostsRaw* raw, AsfServerOptions* o) {
  AsfServerOptions fresh{};
  *o = fresh;
  o->security = 3;
  o->netrc = 1;
  o->kl_flags = 1;
  bool pamauth_seen = false;
  auto invalid = [&]() {
    sqlhosts_free_options(o);
    return -27004;
  };
  auto dup = [&](char** dst, const std::string& v) {
    *dst = asf_strdup(1, v.c_str());
    return *dst != nullptr;
  };
  const std::string protocol = raw->protocol;
  for (const std::string& item : Items(raw->options)) {
    size_t eq = item.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 >= item.size()) return invalid();
    std::string key = item.substr(0, eq), v = item.substr(eq + 1);
    int64_t n = 0;
    if (key.size() == 1) {
      switch (key[0]) {
        case 'a': CopyText(o->a, sizeof o->a, v); break;
        case 'b':
          if (protocol.size() != 6 || protocol.compare(3, 3, "tcp") != 0) break;
          if (!Number(v, &n) || n < 1 || n > 32768) return invalid();
          o->buffer_size = static_cast<int32_t>(n < 140 ? 140 : n);
          break;
        case 'c':
          if (!Number(v, &n) || n >= 2) return invalid();
          if (n == 1) o->rotation |= 1;
          break;
        case 'e': CopyText(o->e, sizeof o->e, v); break;
        case 'g': CopyText(o->g, sizeof o->g, v); break;
        case 'i':
          if (!Number(v, &n)) return invalid();
          o->i = static_cast<int32_t>(n);
          break;
        case 'k':
          if (!Number(v, &n) || n >= 2) return invalid();
          if (n == 0) o->kl_flags &= ~1u;
          break;
        case 'l':
          if (!Number(v, &n)) break;
          if (n == 0) o->kl_flags |= 2u;
          else if (n <= 4) o->kl_flags |= 4u;
          break;
        case 'm':
          if (!Number(v, &n)) return invalid();
          o->m = static_cast<uint8_t>(n & 0xFF);
          break;
        case 'r':
          if (!Number(v, &n) || n >= 2) return invalid();
          if (n == 0) o->netrc &= static_cast<uint8_t>(~1u);
          break;
        case 's':
          if (!Number(v, &n) || n == 5 || n > 7) return invalid();
          switch (n) {
            case 0: o->security &= static_cast<uint8_t>(~3u); break;
            case 1: o->security &= static_cast<uint8_t>(~2u); break;
            case 2: o->security &= static_cast<uint8_t>(~1u); break;
            case 4: o->security |= 4u; break;
            case 6: o->security = 8; break;
            case 7: o->security = 16; break;
            default: break;
          }
          break;
        default: break;
      }
      continue;
    }
    if (key == "csm") {
      if (o->csm != nullptr) return invalid();
      std::string t = Unwrap(v);
      if (!dup(&o->csm, t)) return sqlhosts_free_options(o), -406;
      if (t == "GSSCSM") o->security = 16;
    } else if (key == "pam_serv") {
      if (o->pam_service == nullptr && !dup(&o->pam_service, Unwrap(v))) {
        return sqlhosts_free_options(o), -406;
      }
    } else if (key == "pamauth") {
      if (pamauth_seen) continue;
      pamauth_seen = true;
      std::string t = Unwrap(v);
      if (t == "password") o->pam_mode = 1;
      else if (t == "challenge") o->pam_mode = 2;
      else return invalid();
    } else if (key == "cfd") {
      if (o->cfd != nullptr) continue;
      std::string t = Unwrap(v);
      if (protocol == "ipcstr") {
        size_t len = t.size() + 1;
        if (t.empty() || t[0] != '/') {
          const char* dir = ggetenv_idx("TARVELONDIR", ENVROW_TARVELONDIR);
          len += std::strlen(dir != nullptr ? dir : "/usr/tarvelon") + 1;
        }
        if (len > 70) return invalid();
      }
      if (!dup(&o->cfd, t)) return sqlhosts_free_options(o), -406;
    } else if (key == "sto") {
      o->send_timeout = static_cast<int32_t>(std::atol(v.c_str()));
    } else if (key == "rto") {
      o->recv_timeout = static_cast<int32_t>(std::atol(v.c_str()));
    } else if (key == "cltbind") {
      CopyText(o->cltbind, sizeof o->cltbind, Unwrap(v));
    }
  }
  if (o->csm != nullptr && strcasecmp(raw->protocol, "ipcshm") == 0) return invalid();
  bool pam = (o->security & 4u) != 0;
  if (pam && (o->pam_service == nullptr || o->pam_mode == 0)) return invalid();
  if (!pam && (o->pam_service != nullptr || o->pam_mode != 0)) return invalid();
  if (pam && std::strcmp(raw->server_type, "dr") == 0 && o->pam_mode == 2) return invalid();
  if ((o->security & 16u) && o->csm != nullptr && std::strcmp(o->csm, "GSSCSM") != 0) {
    return invalid();
  }
  return 0;
}

int sqlhosts_expand_group(AsfTextStream* stream, const char* group, SqlhostsRaw* group_raw,
                          int32_t* count, SqlhostsRaw** first) {
  *count = 0;
  *first = nullptr;
  bool from_env = group == nullptr || group[0] == '\0';
  std::string name = from_env ? group_raw->name : group;
  AsfServerOptions gopt{};
  int rc = sqlhosts_apply_options(group_raw, &gopt);
  if (rc != 0) return rc;
  sqlhosts_free_options(&gopt);
  AsfTextStream* s = stream;
  if (s == nullptr) {
    s = sqlhosts_open(0);
    if (s == nullptr) return -25553;
  } else if (Rewind(s) != 0) {
    return -25553;
  }
  std::vector<SqlhostsRaw*> members;
  auto finish = [&](int code) {
    if (stream == nullptr) asf_stream_close(s);
    if (code != 0) {
      for (SqlhostsRaw* m : members) std::free(m);
      return code;
    }
    if (members.empty()) return from_env ? -25596 : -25555;
    size_t n = members.size();
    size_t k = 0;
    if (gopt.rotation & 1) {
      int64_t product = static_cast<int64_t>(std::rand()) * static_cast<int64_t>(std::time(nullptr));
      int64_t q = product / static_cast<int64_t>(getpid());
      uint32_t v = static_cast<uint32_t>(static_cast<int32_t>(q < 0 ? -q : q)) & 0x7FFFFFFFu;
      k = v % n;
    }
    for (size_t i = 0; i < n; ++i) members[(k + i) % n]->next = i + 1 < n ? members[(k + i + 1) % n] : nullptr;
    *first = members[k];
    *count = static_cast<int32_t>(n);
    return 0;
  };
  SqlhostsRaw line{};
  bool found = false;
  while (sqlhosts_read_entry(s, &line) == 0) {
    if (name == line.name) {
      found = true;
      break;
    }
  }
  if (!found) return finish(from_env ? -25596 : -25555);
  if (!sqlhosts_valid(&line)) return finish(-25556);
  bool has_end = gopt.e[0] != '\0';
  while (sqlhosts_read_entry(s, &line) == 0) {
    if (!sqlhosts_valid(&line)) return finish(-25556);
    AsfServerOptions mo{};
    int orc = sqlhosts_apply_options(&line, &mo);
    bool member = orc == 0 && name == mo.g;
    bool no_g = orc != 0 || mo.g[0] == '\0';
    bool member_has_a = orc == 0 && mo.a[0] != '\0';
    sqlhosts_free_options(&mo);
    bool is_end = has_end && std::strcmp(line.name, gopt.e) == 0;
    if (member) {
      auto* m = static_cast<SqlhostsRaw*>(std::malloc(sizeof(SqlhostsRaw)));
      if (m == nullptr) return finish(-406);
      *m = line;
      m->next = nullptr;
      if (!member_has_a && gopt.a[0] != '\0') {
        std::string extra = std::string(",a=") + gopt.a;
        if (std::strlen(m->options) + extra.size() <= 512) std::strcat(m->options, extra.c_str());
      }
      members.push_back(m);
    }
    if (is_end) break;
    if (no_g && !has_end) break;
  }
  return finish(0);
}

TV_END_C
