// The user table, the process's own account and its security start-up.
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "base/accounts_internal.h"
#include "base/os_accounts.h"
#include "platform/win_errors.h"

namespace tvbase {

namespace {

constexpr uint32_t kTableSizes[] = {31, 71, 163, 307, 509, 751, 997, 1301, 1753, 2207, 3037};
constexpr uint32_t kExpectedAccounts = 1000;
constexpr uint16_t kNoUser = 0xFFFF;

UserRecord** g_table = nullptr;
uint32_t g_table_size = 0;
UserRecord* g_real_user = nullptr;
UserRecord* g_effective_user = nullptr;

uint32_t TableSizeFor(uint32_t accounts) {
  for (uint32_t size : kTableSizes) {
    if (size >= accounts * 10 / 6) return size;
  }
  return kTableSizes[std::size(kTableSizes) - 1];
}

bool MakeTable() {
  static std::once_flag once;
  std::call_once(once, [] {
    uint32_t size = TableSizeFor(kExpectedAccounts);
    g_table = static_cast<UserRecord**>(calloc(size, sizeof(UserRecord*)));
    if (g_table != nullptr) g_table_size = size;
  });
  return g_table != nullptr;
}

void FreeRecord(UserRecord* record) {
  CloseLogonToken(record->logon_token);
  free(record->name);
  free(record->domain);
  free(record);
}

}  // namespace

std::recursive_mutex& UserTableMutex() {
  static std::recursive_mutex* mutex = new std::recursive_mutex;
  return *mutex;
}

UserRecord* FindUser(uint16_t uid) {
  if (g_table == nullptr) return nullptr;
  for (UserRecord* r = g_table[uid % g_table_size]; r != nullptr; r = r->next) {
    if (r->uid == uid) return r;
  }
  return nullptr;
}

int32_t EnterUser(const char* name, const char* domain, uint16_t uid, UserRecord** record) {
  if (!MakeTable()) return OS_ERR_NO_MEMORY;
  if (UserRecord* found = FindUser(uid)) {
    ++found->refs;
    if (record != nullptr) *record = found;
    return 0;
  }
  auto* made = static_cast<UserRecord*>(calloc(1, sizeof(UserRecord)));
  if (made == nullptr) return OS_ERR_NO_MEMORY;
  made->name = strdup(name);
  made->domain = strdup(domain);
  if (made->name == nullptr || made->domain == nullptr) {
    FreeRecord(made);
    return OS_ERR_NO_MEMORY;
  }
  made->uid = uid;
  made->refs = 1;
  // New records go to the end of their chain.
  UserRecord** link = &g_table[uid % g_table_size];
  while (*link != nullptr) link = &(*link)->next;
  *link = made;
  made->back = link;
  if (record != nullptr) *record = made;
  return 0;
}

UserRecord* CurrentUser() { return g_effective_user; }

void CloseLogonToken(void* token) { delete static_cast<uid_t*>(token); }

}  // namespace tvbase

using tvbase::UserTableMutex;

int32_t os_userinit(void) {
  if (getenv("ZIVEVODAREVEZO") == nullptr) return 1;
  // The process's own account, as the password database names it.
  tvp::Account account;
  switch (tvp::AccountByUid(geteuid(), &account)) {
    case tvp::Lookup::kFound:
      break;
    case tvp::Lookup::kNotFound:
      return tvwin::kNoneMapped;
    case tvp::Lookup::kFailed:
      return tvwin::kNoLogonServers;
  }
  const std::string& domain = tvbase::OwnDomain();
  if (account.name.size() > OS_ACCOUNT_NAME_MAX) return OS_ERR_BAD_NAME;
  std::lock_guard<std::recursive_mutex> guard(UserTableMutex());
  uint16_t uid;
  if (account.uid < 0xFFFF) {
    uid = static_cast<uint16_t>(account.uid);
  } else {
    // A uid that does not fit 16 bits is never cut: it takes a map id.
    std::string qualified = domain + "\\" + account.name;
    if (int32_t rc = tvbase::AllocateUid(qualified.c_str(), &uid); rc != 0) return rc;
  }
  UserRecord* record = nullptr;
  int32_t rc = tvbase::EnterUser(account.name.c_str(), domain.c_str(), uid, &record);
  if (rc != 0) return rc;
  tvbase::g_real_user = record;
  tvbase::g_effective_user = record;
  return 0;
}

namespace tvbase {
namespace {

// Before os_userinit: the id that os_userinit will give the process's own
// account when it needs no map (a uid below 0xFFFF), else the no-user id;
// a uid is never cut to 16 bits.
uint16_t IdBeforeInit() {
  uid_t uid = geteuid();
  return uid < 0xFFFF ? static_cast<uint16_t>(uid) : kNoUser;
}

}  // namespace
}  // namespace tvbase

uint16_t tv_getuid(void) {
  std::lock_guard<std::recursive_mutex> guard(UserTableMutex());
  return tvbase::g_real_user != nullptr ? tvbase::g_real_user->uid : tvbase::IdBeforeInit();
}

uint16_t tv_geteuid(void) {
  std::lock_guard<std::recursive_mutex> guard(UserTableMutex());
  return tvbase::g_effective_user != nullptr ? tvbase::g_effective_user->uid
                                             : tvbase::IdBeforeInit();
}

int32_t os_userrelease(uint16_t uid) {
  std::lock_guard<std::recursive_mutex> guard(UserTableMutex());
  UserRecord* record = tvbase::FindUser(uid);
  if (record == nullptr) return OS_ERR_UID_NOT_IN_TABLE;
  if (record->refs > 1) {
    --record->refs;
    return 0;
  }
  // The process's own record stays for as long as the process.
  if (record == tvbase::g_real_user || record == tvbase::g_effective_user) return 0;
  *record->back = record->next;
  if (record->next != nullptr) record->next->back = record->back;
  tvbase::FreeRecord(record);
  return 0;
}

int32_t os_userenter(const char* name, const char* domain, UserRecord** record) {
  if (name == nullptr || domain == nullptr ||
      strlen(name) + strlen(domain) > OS_QUALIFIED_NAME_MAX - 1) {
    return OS_ERR_BAD_NAME;
  }
  std::string qualified = std::string(domain) + "\\" + name;
  uint16_t uid;
  if (int32_t rc = tvbase::IdForAccount(qualified.c_str(), &uid); rc != 0) return rc;
  std::lock_guard<std::recursive_mutex> guard(UserTableMutex());
  return tvbase::EnterUser(name, domain, uid, record);
}
