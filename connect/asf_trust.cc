// The trust files and the peer trust check of the accepting side.
//
// .netrc (current directory): words separated by white space; "machine"
// name, "login" name, "password" text, "account" text, "macdef" name and
// a macro body that ends at an empty line. The first login and password
// of the machine win.
//
// hosts.equiv (/etc/hosts.equiv): one rule per line, a host field and an
// optional user field separated by white space or "|". "+" matches any
// host or user; "-name" refuses that host or user and ends the search.
// Names compare without regard to case. The file never moves with the
// environment: a server's trust must not follow its caller's settings.
#include <strings.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "base/os_accounts.h"
#include "connect/asfns.h"
#include "connect/asfutil.h"
#include "connect/tcp.h"

namespace {

constexpr int32_t kWord = 513;

std::mutex g_equiv_mutex;
std::string g_equiv_path = "/etc/hosts.equiv";

std::string EquivPath() {
  std::lock_guard<std::mutex> lock(g_equiv_mutex);
  return g_equiv_path;
}

std::string ThisHost() {
  char host[257];
  if (rhostname(host, sizeof host) != 0) return std::string();
  return host;
}

bool Ws(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// The rules of one hosts.equiv line: -1 refused (search ends), 1 trusted,
// 0 go on.
int Rule(const std::string& hfield, const std::string& ufield, bool has_user,
         const std::string& host, const std::string& user) {
  if (hfield.size() > 1 && hfield[0] == '-') {
    return strcasecmp(hfield.c_str() + 1, host.c_str()) == 0 ? -1 : 0;
  }
  if (hfield != "+" && strcasecmp(hfield.c_str(), host.c_str()) != 0) return 0;
  if (!has_user || ufield == "+") return 1;
  if (ufield.size() > 1 && ufield[0] == '-') {
    return strcasecmp(ufield.c_str() + 1, user.c_str()) == 0 ? -1 : 0;
  }
  return strcasecmp(ufield.c_str(), user.c_str()) == 0 ? 1 : 0;
}

}  // namespace

TV_BEGIN_C

void asf_set_hostsequiv_path(const char* path) {
  std::lock_guard<std::mutex> lock(g_equiv_mutex);
  g_equiv_path = path != nullptr ? path : "/etc/hosts.equiv";
}

int netrc_lookup(AsfTextStream* s, const char* host, char* login, char* password) {
  char word[kWord];
  bool in_machine = false, found = false, have_login = false, have_password = false;
  for (;;) {
    if (asf_stream_read_word(s, word, kWord) < 0) break;
    if (std::strcmp(word, "machine") == 0) {
      if (in_machine) break;
      if (asf_stream_read_word(s, word, kWord) < 0) break;
      if (host != nullptr && std::strcmp(word, host) == 0) in_machine = found = true;
      continue;
    }
    if (std::strcmp(word, "macdef") == 0) {
      asf_stream_read_word(s, nullptr, kWord);
      // The rest of the macdef line, then the body up to an empty line.
      if (asf_stream_read_line(s, nullptr, 0) < 0) break;
      int n;
      do {
        n = asf_stream_read_line(s, nullptr, 0);
      } while (n > 0);
      if (n < 0) break;
      continue;
    }
    if (!in_machine) continue;
    if (std::strcmp(word, "login") == 0) {
      if (asf_stream_read_word(s, word, kWord) < 0) break;
      if (!have_login) {
        std::strcpy(login, word);
        have_login = true;
      }
    } else if (std::strcmp(word, "password") == 0) {
      if (asf_stream_read_word(s, word, kWord) < 0) break;
      if (!have_password) {
        std::strcpy(password, word);
        have_password = true;
      }
      asf_wipe_password(word);
    } else if (std::strcmp(word, "account") == 0) {
      if (asf_stream_read_word(s, nullptr, kWord) < 0) break;
    }
  }
  return found ? 0 : -1;
}

int netrc_open(const char* host, const char* user, char* login, char* password) {
  login[0] = '\0';
  password[0] = '\0';
  AsfTextStream* s = asf_stream_open(".netrc", "r", 0);
  if (s == nullptr) return -1;
  netrc_lookup(s, host, login, password);
  asf_stream_close(s);
  if (login[0] == '\0' && user != nullptr) {
    std::strncpy(login, user, kWord - 1);
    login[kWord - 1] = '\0';
  }
  return 0;
}

int hostsequiv_read(const char* path, const char* host_in, const char* user_in) {
  if (path == nullptr || host_in == nullptr) return 0;
  AsfTextStream* s = asf_stream_open(path, "r", 0);
  if (s == nullptr) return 0;
  std::string host = host_in;
  while (!host.empty() && Ws(host.back())) host.pop_back();
  std::string user = user_in != nullptr ? user_in : "";
  std::vector<char> line(2048);
  int verdict = 0;
  int n;
  while ((n = asf_stream_read_line(s, line.data(), static_cast<int32_t>(line.size()) - 1)) >= 0) {
    if (n > 296 || line[0] == '#') continue;
    const char* p = line.data();
    auto sep = [](char c) { return c == '|' || Ws(c); };
    while (*p != '\0' && sep(*p)) ++p;
    const char* hs = p;
    while (*p != '\0' && !sep(*p)) ++p;
    std::string hfield(hs, static_cast<size_t>(p - hs));
    while (*p != '\0' && sep(*p)) ++p;
    const char* us = p;
    while (*p != '\0' && !sep(*p)) ++p;
    std::string ufield(us, static_cast<size_t>(p - us));
    if (hfield.empty() || hfield.size() > 260 || ufield.size() > 36) continue;
    int r = Rule(hfield, ufield, !ufield.empty(), host, user);
    if (r != 0) {
      verdict = r > 0 ? 1 : 0;
      break;
    }
  }
  asf_stream_close(s);
  return verdict;
}

int hostsequiv_check(const char* user, int32_t uid, void*, const char* host, const uint8_t* flags) {
  if (uid == 0 || flags == nullptr || (*flags & 1u) == 0) return 0;
  std::string path = EquivPath();
  return hostsequiv_read(path.c_str(), host, user);
}

int asf_trust_declared_host(const AsfIdentity* id, const char* host, const char* user,
                            int32_t uid, void* ignored, const uint8_t* flags) {
  if (id == nullptr || id->text88 == nullptr) return 0;
  const char* declared = id->text88;
  if (host != nullptr && std::strcmp(declared, host) == 0) return 0;
  if (hostsequiv_check(user, uid, ignored, declared, flags)) return 0;
  if (ThisHost() == declared) return 0;
  if (std::strcmp(declared, "localhost") == 0) return 0;
  if (host != nullptr && tcp_same_host(declared, host) == 0) return 0;
  return -956;
}

int asf_trust_check(const char* user, const char* password, const char* host,
                    const uint8_t* flags, int32_t* uid, int32_t* gid, char* message,
                    const AsfIdentity* identity, int32_t password_flag) {
  if (password_flag && (host == nullptr || host[0] == '\0')) return -954;
  *uid = 1;
  *gid = 1;
  if (message != nullptr) message[0] = '\0';
  auto refuse = [&](int code) {
    if (*uid != 1) os_userrelease(static_cast<uint16_t>(*uid));
    return code;
  };
  bool trusted = false;
  if (password != nullptr && user != nullptr) {
    char name[257];
    std::strncpy(name, user, sizeof name - 1);
    name[sizeof name - 1] = '\0';
    uint16_t id = 1;
    if (os_logonuser(name, nullptr, password, &id, 1) == 0) {
      *uid = id;
      trusted = true;
    } else if (password[0] != '\0') {
      return refuse(-951);
    }
  }
  if (!trusted && (password == nullptr || password[0] == '\0') && !password_flag) trusted = true;
  if (!trusted && host != nullptr &&
      (strcasecmp(host, "localhost") == 0 || strcasecmp(host, ThisHost().c_str()) == 0)) {
    trusted = true;
  }
  if (!trusted) {
    if (!hostsequiv_check(user, *uid, nullptr, host, flags)) return refuse(-956);
  }
  if (asf_trust_declared_host(identity, host, user, *uid, nullptr, flags) != 0) return refuse(-956);
  if (*uid == 1) {
    OsUserEntry* e = user != nullptr ? os_userbyname(user) : nullptr;
    if (e == nullptr) return refuse(-956);
    *uid = e->pw_uid;
  }
  return 0;
}

int chkInternet(AsfPeerCred* peer, const char* host, const AsfIdentity* identity,
                const uint8_t* security, void*, int32_t password_flag, int32_t* uid, int32_t* gid,
                char** message) {
  char text[512] = {};
  int32_t u = -1, g = -1;
  int rc = asf_trust_check(peer != nullptr ? peer->user : nullptr,
                           peer != nullptr ? peer->password : nullptr, host, security, &u, &g,
                           text, identity, password_flag);
  if (uid != nullptr) *uid = u;
  if (gid != nullptr) *gid = g;
  if (message != nullptr) {
    *message = asf_strdup(1, text);
    if (*message == nullptr) return -406;
  }
  return rc;
}

TV_END_C
