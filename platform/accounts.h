// Accounts of the machine, from the password and group databases: the
// look-ups behind account names and ids, and the administrator test.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace tvp {

struct Account {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
  std::string home;
  std::string shell;
};

enum class Lookup {
  kFound,
  kNotFound,  // the databases answered: there is no such account
  kFailed,    // the databases could not answer (the account may exist)
};

Lookup AccountByUid(uid_t uid, Account* account);
Lookup AccountByName(std::string_view name, Account* account);

// The groups that make an account an administrator: gid 0, and these.
inline constexpr const char* kAdministratorGroups[] = {"sudo"};

// True when this process runs as uid 0, or its effective or supplementary
// groups include an administrators' group.
bool ProcessIsAdministrator();
// The same test for an account by the groups the database gives it.
bool AccountIsAdministrator(const Account& account);

// The machine's name: the first label of its host name, at most 15
// characters; "" when the host name cannot be read.
std::string ComputerName();

}  // namespace tvp
