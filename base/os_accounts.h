// Accounts of the client libraries: every account a process meets gets a
// small 16-bit user id, kept in a user table in memory and, for accounts
// other than the process's own, in a user-id map in the registry shared by
// every program of the installation.
//
// The process's own account takes its POSIX uid as its id when the uid is
// below 0xFFFF (root is 0, the local system account); any other account,
// and an own account whose uid does not fit, takes an id from the map.
// Accounts are named "DOMAIN\name"; the domain of a local account is the
// machine's name (tvp::ComputerName()).
//
// User-id map, under HKEY_LOCAL_MACHINE in
// "SOFTWARE\Tarvelon\Velkor\<ZIVEVODAREVEZO>\Security\Users":
//   "UIDSeed"            REG_DWORD  the last id handed out (seeded by the
//                                   installation); ids end at 0xFFFF
//   "Usernames"          sub-key    "DOMAIN\name" = REG_DWORD id, and
//                                   "UID<id>" = REG_SZ "DOMAIN\name"
//   "Lock"               volatile sub-key, present while a process allocates
#pragma once

#include <stdint.h>

#include "platform/api.h"

TV_BEGIN_C

// Results of the account calls (beside the platform's own numbers).
#define OS_ERR_NO_NEW_UID 12877       // no new user id could be allocated
#define OS_ERR_MAP_WRITE 12878        // the new mapping could not be written
#define OS_ERR_NO_MEMORY 12879        // no memory, or the table could not be made
#define OS_ERR_TABLE_ENTER 12880      // the record could not be entered
#define OS_ERR_UID_NOT_IN_TABLE 12881 // the user id is not in the table
#define OS_ERR_BAD_NAME 12882         // invalid or too long account name
#define OS_ERR_MAP_LOCK 12885         // the registry lock could not be taken or released

// Limits of names, without their NUL.
#define OS_ACCOUNT_NAME_MAX 65
#define OS_DOMAIN_NAME_MAX 16
#define OS_QUALIFIED_NAME_MAX 83
#define OS_UIDMAP_NAME_SIZE 83  // bytes of the out text of uidmap_name

typedef struct UserRecord {
  struct UserRecord** back;  // the pointer that points at this record
  struct UserRecord* next;   // next record of the same chain
  char* name;                // account name without domain (owned)
  char* domain;              // domain of the account (owned)
  uint16_t uid;
  void* logon_token;         // token of a successful os_logonuser, or null
  uint32_t refs;             // registrations not yet released
} UserRecord;

// The account record that os_userbyuid and os_userbyname return, shaped
// like a password-file entry. Each thread has its own, overwritten by that
// thread's next call.
typedef struct OsUserEntry {
  char* pw_name;
  char* pw_passwd;   // " "
  uint16_t pw_uid;
  uint16_t pw_gid;   // 0
  char* pw_comment;  // " "
  char* pw_gecos;    // " "
  char* pw_dir;      // the account's home directory, "" when unknown
  char* pw_shell;    // the account's shell, "" when unknown
} OsUserEntry;

// Security start-up: 0; 1 when ZIVEVODAREVEZO is not set; 1332 when the
// process's account is unknown; 12879, 12880, or an id allocation error.
int32_t os_userinit(void);
// 1 when the process runs as an administrator, else 0; the first answer is
// kept for the process. Every caller passes 0.
int32_t os_isadmin(int32_t mode);
// The ids of the real and the effective user, as os_userinit registered
// them. Before os_userinit: the process's uid when it is below 0xFFFF, else
// 0xFFFF (no user), since a larger uid takes its id from the map.
// Prefixed so that they never replace the C library's getuid and geteuid.
uint16_t tv_getuid(void);
uint16_t tv_geteuid(void);

OsUserEntry* os_userbyuid(uint16_t uid);
OsUserEntry* os_userbyname(const char* name);

// Authenticates an account (with `authenticate` set) and registers it.
// `name` is rewritten to the name without domain. 0 and the id in *uid;
// else the error with *uid set to 1 (86 no password, 1326 refused,
// 12882 a name that cannot be qualified, or an os_userenter error).
int32_t os_logonuser(char* name, const char* domain, const char* password, uint16_t* uid,
                     int32_t authenticate);
int32_t os_userrelease(uint16_t uid);
int32_t os_userenter(const char* name, const char* domain, UserRecord** record);
int32_t os_authserver(void);
// 1 and "domain\name" in out (at least OS_QUALIFIED_NAME_MAX + 1 bytes), or
// 0 when a part is too long.
int32_t os_qualifyname(const char* name, const char* domain, char* out);

int32_t uidmap_get(const char* qualified_name, uint16_t* uid);
int32_t uidmap_name(uint16_t uid, char* out);
int32_t uidmap_lock(void);
int32_t uidmap_unlock(void);
int32_t uidmap_nextuid(uint16_t* uid);
int32_t uidmap_put(const char* qualified_name, uint16_t uid);
int32_t uidmap_delete(const char* qualified_name, uint16_t uid);

TV_END_C
