// Shared parts of the account calls: the user table, the process's own
// account and domain, account look-up, and id allocation.
#pragma once

#include <stdint.h>

#include <mutex>
#include <string>

#include "base/os_accounts.h"
#include "platform/accounts.h"

namespace tvbase {

// The critical section of the user table. Re-entrant: os_logonuser holds it
// while os_userenter takes it again.
std::recursive_mutex& UserTableMutex();

// With the critical section held: the table's record of an id, or null.
UserRecord* FindUser(uint16_t uid);
// With the critical section held: one more reference to the record of the
// id, or a new record {name, domain, id, no token, 1 reference}.
// 0, 12879 (no memory or no table) or 12880.
int32_t EnterUser(const char* name, const char* domain, uint16_t uid, UserRecord** record);
// The record of the process's own account, or null before os_userinit.
UserRecord* CurrentUser();

// The domain of this machine's accounts: the machine's name.
const std::string& OwnDomain();

// Looks up "DOMAIN\name" (or a bare name): 0 with the account and its
// domain; 1332 when there is no such account; 1311 when the account
// databases could not answer.
int32_t LookupAccountName(const std::string& qualified, std::string* domain,
                          tvp::Account* account);

// The id of a qualified account name: the process's own account keeps its
// own id; any other takes the map's id, allocated when it has none.
// 0, or an error of AllocateUid.
int32_t IdForAccount(const char* qualified_name, uint16_t* uid);

// Gives `qualified_name` an id from the user-id map under the map's lock:
// the id the map already holds for it, or a new one. 0, or 12885 (lock),
// 12877 (no new id), 12878 (mapping not written).
int32_t AllocateUid(const char* qualified_name, uint16_t* uid);

// Frees a logon token.
void CloseLogonToken(void* token);

}  // namespace tvbase
