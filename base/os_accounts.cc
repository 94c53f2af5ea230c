// Account names and ids, the administrator test and authentication.
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>

#include "base/accounts_internal.h"
#include "base/os_accounts.h"
#include "platform/logon.h"
#include "platform/registry.h"
#include "platform/registry_hive.h"
#include "platform/win_errors.h"

namespace tvbase {

namespace {

// The per-thread account record and the texts it points at.
thread_local OsUserEntry t_entry;
thread_local std::string t_name, t_dir, t_shell;
char g_blank[] = " ";

OsUserEntry* FillEntry(const std::string& name, uint16_t uid, const tvp::Account* account) {
  t_name = name;
  t_dir = account != nullptr ? account->home : "";
  t_shell = account != nullptr ? account->shell : "";
  t_entry = OsUserEntry{};
  t_entry.pw_name = t_name.data();
  t_entry.pw_passwd = g_blank;
  t_entry.pw_uid = uid;
  t_entry.pw_gid = 0;
  t_entry.pw_comment = g_blank;
  t_entry.pw_gecos = g_blank;
  t_entry.pw_dir = t_dir.data();
  t_entry.pw_shell = t_shell.data();
  return &t_entry;
}

bool SameName(std::string_view a, std::string_view b) {
  return tvreg::FoldName(a) == tvreg::FoldName(b);
}

std::string AfterBackslash(const std::string& qualified) {
  size_t sep = qualified.find('\\');
  return sep == std::string::npos ? qualified : qualified.substr(sep + 1);
}

std::atomic<int32_t> g_admin{-1};
std::atomic_flag g_authserver_busy = ATOMIC_FLAG_INIT;
std::string g_authserver;  // empty: this machine

}  // namespace

const std::string& OwnDomain() {
  static const std::string domain = [] {
    std::string name = tvp::ComputerName();
    return name.empty() ? std::string("localhost") : name;
  }();
  return domain;
}

int32_t LookupAccountName(const std::string& qualified, std::string* domain,
                          tvp::Account* account) {
  size_t sep = qualified.find('\\');
  if (sep != std::string::npos && sep > 0 && !SameName(qualified.substr(0, sep), OwnDomain())) {
    return tvwin::kNoneMapped;  // no other domains on this machine
  }
  switch (tvp::AccountByName(AfterBackslash(qualified), account)) {
    case tvp::Lookup::kFound:
      *domain = OwnDomain();
      return 0;
    case tvp::Lookup::kNotFound:
      return tvwin::kNoneMapped;
    case tvp::Lookup::kFailed:
      break;
  }
  return tvwin::kNoLogonServers;
}

int32_t IdForAccount(const char* qualified_name, uint16_t* uid) {
  {
    std::lock_guard<std::recursive_mutex> guard(UserTableMutex());
    UserRecord* own = CurrentUser();
    if (own != nullptr &&
        SameName(std::string(own->domain) + "\\" + own->name, qualified_name)) {
      *uid = own->uid;
      return 0;
    }
  }
  if (uidmap_get(qualified_name, uid)) return 0;
  return AllocateUid(qualified_name, uid);
}

}  // namespace tvbase

using tvbase::UserTableMutex;

int32_t os_isadmin(int32_t) {
  int32_t cached = tvbase::g_admin.load();
  if (cached < 0) {
    cached = tvp::ProcessIsAdministrator() ? 1 : 0;
    tvbase::g_admin.store(cached);
  }
  return cached;
}

int32_t os_qualifyname(const char* name, const char* domain, char* out) {
  if (name == nullptr || out == nullptr) return 0;
  for (int i = 0; i < 2 && *name == '\\'; ++i) ++name;
  size_t len = strlen(name);
  if (strchr(name, '\\') != nullptr) {
    if (len > OS_QUALIFIED_NAME_MAX) return 0;
    memcpy(out, name, len + 1);
    return 1;
  }
  if (len > OS_ACCOUNT_NAME_MAX) return 0;
  std::string qualified_domain;
  if (domain != nullptr) {
    if (strlen(domain) > OS_DOMAIN_NAME_MAX) return 0;
    qualified_domain = domain;
  } else {
    // The domain the account databases report for the name, else the
    // process's own.
    tvp::Account account;
    std::string found;
    std::string attempt = tvbase::OwnDomain() + "\\" + name;
    if (tvbase::LookupAccountName(attempt, &found, &account) != 0) found = tvbase::OwnDomain();
    qualified_domain = found;
  }
  std::string qualified = qualified_domain + "\\" + name;
  memcpy(out, qualified.c_str(), qualified.size() + 1);
  return 1;
}

OsUserEntry* os_userbyuid(uint16_t uid) {
  std::string name;
  {
    std::lock_guard<std::recursive_mutex> guard(UserTableMutex());
    if (UserRecord* record = tvbase::FindUser(uid)) name = record->name;
  }
  if (name.empty()) {
    char qualified[OS_UIDMAP_NAME_SIZE];
    if (!uidmap_name(uid, qualified)) return nullptr;
    name = tvbase::AfterBackslash(qualified);
  }
  tvp::Account account;
  bool local = tvp::AccountByName(name, &account) == tvp::Lookup::kFound;
  return tvbase::FillEntry(name, uid, local ? &account : nullptr);
}

OsUserEntry* os_userbyname(const char* name) {
  char qualified[OS_QUALIFIED_NAME_MAX + 1];
  if (!os_qualifyname(name, nullptr, qualified)) return nullptr;
  std::string domain;
  tvp::Account account;
  int32_t looked_up = tvbase::LookupAccountName(qualified, &domain, &account);
  uint16_t uid;
  if (looked_up == tvwin::kNoneMapped) {
    // The account is gone: its id may be handed out again.
    if (uidmap_get(qualified, &uid)) uidmap_delete(qualified, uid);
    return nullptr;
  }
  // When the databases cannot answer, the mapping is kept: the account may
  // well exist.
  if (looked_up != 0) return nullptr;
  if (tvbase::IdForAccount(qualified, &uid) != 0) return nullptr;
  return tvbase::FillEntry(tvbase::AfterBackslash(qualified), uid, &account);
}

namespace {

// Checks the password on a thread of its own; a token for the account on
// success.
int32_t Logon(const std::string& domain, const std::string& name, const char* password,
              void** token) {
  if (password == nullptr) return tvwin::kInvalidPassword;
  int32_t rc = tvwin::kLogonFailure;
  try {
    std::thread logon([&] {
      if (!tvbase::SameName(domain, tvbase::OwnDomain())) return;  // no other domains
      rc = tvp::CheckPassword(name.c_str(), password);
    });
    logon.join();
  } catch (const std::system_error&) {
    return OS_ERR_NO_MEMORY;
  }
  if (rc != 0) return rc;
  tvp::Account account;
  if (tvp::AccountByName(name, &account) != tvp::Lookup::kFound) return tvwin::kLogonFailure;
  *token = new (std::nothrow) uid_t(account.uid);
  return *token != nullptr ? 0 : OS_ERR_NO_MEMORY;
}

}  // namespace

int32_t os_logonuser(char* name, const char* domain, const char* password, uint16_t* uid,
                     int32_t authenticate) {
  uint16_t dummy;
  if (uid == nullptr) uid = &dummy;
  char qualified[OS_QUALIFIED_NAME_MAX + 1];
  if (name == nullptr || !os_qualifyname(name, domain, qualified)) {
    *uid = 1;
    return OS_ERR_BAD_NAME;
  }
  std::string q(qualified);
  size_t sep = q.find('\\');
  std::string account_domain = q.substr(0, sep);
  std::string bare = q.substr(sep + 1);
  // The bare name is a tail of the caller's text, so it fits in place.
  memmove(name, bare.c_str(), bare.size() + 1);

  void* token = nullptr;
  if (authenticate) {
    int32_t rc = Logon(account_domain, bare, password, &token);
    if (rc != 0) {
      *uid = 1;
      tvbase::CloseLogonToken(token);
      return rc;
    }
  }
  std::lock_guard<std::recursive_mutex> guard(UserTableMutex());
  UserRecord* record = nullptr;
  int32_t rc = os_userenter(bare.c_str(), account_domain.c_str(), &record);
  if (rc != 0) {
    *uid = 1;
    tvbase::CloseLogonToken(token);
    return rc;
  }
  if (record->refs == 1 && record->logon_token == nullptr) {
    record->logon_token = token;
  } else {
    tvbase::CloseLogonToken(token);
  }
  *uid = record->uid;
  return 0;
}

int32_t os_authserver(void) {
  while (tvbase::g_authserver_busy.test_and_set()) usleep(1000);
  int32_t rc = 0;
  tvp::Account account;
  if (tvp::AccountByUid(geteuid(), &account) != tvp::Lookup::kFound) {
    rc = OS_ERR_BAD_NAME;
  } else {
    // No machine here is a domain controller, and there are no domains to
    // search: a server named in the registry is taken, else there is none.
    bool named = false;
    if (tvbase::g_authserver.empty()) {
      const char* server = getenv("ZIVEVODAREVEZO");
      HKEY key;
      if (server != nullptr &&
          RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                        (std::string("SOFTWARE\\Tarvelon\\Velkor\\") + server + "\\Environment")
                            .c_str(),
                        0, KEY_READ, &key) == 0) {
        char value[18] = {};
        uint32_t size = sizeof value - 1;
        if (RegQueryValueExA(key, "Domain Authentication Server", nullptr, nullptr,
                             reinterpret_cast<unsigned char*>(value), &size) == 0 &&
            value[0] != '\0') {
          tvbase::g_authserver = value;
          named = true;
        }
        RegCloseKey(key);
      }
    }
    if (!named) {
      tvbase::g_authserver.clear();
      rc = tvwin::kDcNotFound;
    }
  }
  tvbase::g_authserver_busy.clear();
  return rc;
}
