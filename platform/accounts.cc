#include "platform/accounts.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace tvp {

namespace {

constexpr size_t kComputerNameMax = 15;

void Fill(const struct passwd& pw, Account* account) {
  account->name = pw.pw_name;
  account->uid = pw.pw_uid;
  account->gid = pw.pw_gid;
  account->home = pw.pw_dir != nullptr ? pw.pw_dir : "";
  account->shell = pw.pw_shell != nullptr ? pw.pw_shell : "";
}

// Runs a re-entrant password look-up, growing its buffer as asked.
template <typename Call>
Lookup PasswdLookup(Call call, Account* account) {
  std::vector<char> buf(1024);
  for (;;) {
    struct passwd pw, *found = nullptr;
    int rc = call(&pw, buf.data(), buf.size(), &found);
    if (rc == ERANGE && buf.size() < (1u << 20)) {
      buf.resize(buf.size() * 2);
      continue;
    }
    if (rc == 0 && found != nullptr) {
      Fill(pw, account);
      return Lookup::kFound;
    }
    // Not found is reported as 0 with no entry, or as one of these.
    if (rc == 0 || rc == ENOENT || rc == ESRCH) return Lookup::kNotFound;
    return Lookup::kFailed;
  }
}

bool GroupIdByName(const char* name, gid_t* gid) {
  std::vector<char> buf(1024);
  for (;;) {
    struct group gr, *found = nullptr;
    int rc = getgrnam_r(name, &gr, buf.data(), buf.size(), &found);
    if (rc == ERANGE && buf.size() < (1u << 20)) {
      buf.resize(buf.size() * 2);
      continue;
    }
    if (rc != 0 || found == nullptr) return false;
    *gid = gr.gr_gid;
    return true;
  }
}

bool IsAdministratorGroup(gid_t gid) {
  if (gid == 0) return true;
  for (const char* name : kAdministratorGroups) {
    gid_t admin;
    if (GroupIdByName(name, &admin) && admin == gid) return true;
  }
  return false;
}

}  // namespace

Lookup AccountByUid(uid_t uid, Account* account) {
  return PasswdLookup(
      [uid](struct passwd* pw, char* buf, size_t len, struct passwd** found) {
        return getpwuid_r(uid, pw, buf, len, found);
      },
      account);
}

Lookup AccountByName(std::string_view name, Account* account) {
  std::string n(name);
  if (n.empty()) return Lookup::kNotFound;
  return PasswdLookup(
      [&n](struct passwd* pw, char* buf, size_t len, struct passwd** found) {
        return getpwnam_r(n.c_str(), pw, buf, len, found);
      },
      account);
}

bool ProcessIsAdministrator() {
  if (geteuid() == 0) return true;
  if (IsAdministratorGroup(getegid())) return true;
  int count = getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  count = getgroups(count, groups.data());
  for (int i = 0; i < count; ++i) {
    if (IsAdministratorGroup(groups[static_cast<size_t>(i)])) return true;
  }
  return false;
}

bool AccountIsAdministrator(const Account& account) {
  if (account.uid == 0) return true;
  int count = 32;
  std::vector<gid_t> groups;
  for (int tries = 0; tries < 8; ++tries) {
    groups.resize(static_cast<size_t>(count));
    int asked = count;
    if (getgrouplist(account.name.c_str(), account.gid, groups.data(), &count) >= 0) break;
    if (count <= asked) count = asked * 2;
  }
  groups.resize(static_cast<size_t>(std::min<size_t>(groups.size(), static_cast<size_t>(count))));
  for (gid_t gid : groups) {
    if (IsAdministratorGroup(gid)) return true;
  }
  return IsAdministratorGroup(account.gid);
}

std::string ComputerName() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) return "";
  std::string name(host);
  name = name.substr(0, name.find('.'));
  if (name.size() > kComputerNameMax) name.resize(kComputerNameMax);
  return name;
}

}  // namespace tvp
