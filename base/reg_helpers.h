// Registry helpers exported for setup and administration programs: per-
// server environment values, installed servers, a server summary, the
// registry form of SQLHOSTS and OSAHOSTS entries and groups, netrc entries
// with scrambled passwords, and the protocol list. Nothing inside the
// libraries calls them. Results are the registry's error numbers, with -2
// for a key that cannot be opened, -1 for a value name without text, 87
// for a bad argument, 14 for a field that does not fit an older record
// form and 234 for a short buffer.
#pragma once

#include <stdint.h>

#include "platform/api.h"
#include "platform/registry.h"

TV_BEGIN_C

// Key kinds: 5 the current server's Environment key, 40 '(' SQLHOSTS,
// 46 '.' OSAHOSTS, 41 the netrc key (under the current user), any other
// number resource 1\resource 2\resource of the number.
#define QORV_KIND_ENV 5
#define QORV_KIND_SQLHOSTS 40
#define QORV_KIND_NETRC 41
#define QORV_KIND_OSAHOSTS 46

// Sizes of the records exchanged with callers.
#define QORV_SQLHOSTS_ENTRY 688
#define QORV_NETRC_ENTRY 316
#define QORV_SERVER_INFO 888

// The text of a string resource (the value and key names), or null.
const char* reg_resource(int32_t number);
// Reads (1) or writes (2) the value named by a resource: see the .cc.
int32_t reg_value(HKEY key, int32_t operation, int32_t resource, char* text, uint32_t* length);
int32_t reg_openkey(HKEY root, int32_t kind, uint32_t access, HKEY* out);

// The caller's reallocation function of QorvRegEnv: the record grown to
// new_size bytes, also stored through record_ptr.
typedef void* (*QorvReallocFn)(void* old_record, uint32_t new_size, void** record_ptr);
#define QORV_ENV_RECORD 2824
// Reads (1) or writes (2) the current server's environment record.
TV_API int32_t QorvRegEnv(HKEY root, int32_t operation, void** record, QorvReallocFn grow);

TV_API int32_t OpenSqlHosts(const char* machine, HKEY* root);
TV_API int32_t QorvOpenRegSubHive(HKEY root, int32_t kind, int32_t access, HKEY* out);
TV_API int32_t QorvRegGetEnv(HKEY root, const char* name, char* buffer, uint32_t* length);
TV_API int32_t QorvRegGetEnvEnum(HKEY root, char* buffer, uint32_t* length, uint32_t* count);
TV_API int32_t QorvRegSetEnv(HKEY root, const char* list, uint32_t count);
TV_API int32_t QorvGetQorvDirForServer(const char* server, char* buffer, uint32_t length);
TV_API int32_t QorvGetInstalledServerNames(char* buffer, uint32_t length, uint32_t* count);
TV_API int32_t QorvGetServerInfo(const char* server, void* record);
TV_API int32_t qvQorvGetServerInfo(const char* server, void* record);
TV_API int32_t QorvRegSqlHostsEx2(const char* machine, int32_t operation, int32_t kind,
                                  uint32_t count, void* entries);
TV_API int32_t QorvRegSqlHostsEx(const char* machine, int32_t operation, int32_t kind,
                                 uint32_t count, void* entry);
TV_API int32_t QorvRegSqlHosts(const char* machine, int32_t operation, int32_t kind,
                               uint32_t count, void* entry);
TV_API int32_t QorvRegSqlHostsEnum(const char* machine, int32_t kind, char* buffer,
                                   uint32_t* length, uint32_t* count);
TV_API int32_t QorvRegNoGroups(const char* machine, uint32_t* count);
TV_API int32_t QorvRegGroupsEnum(const char* machine, char* buffer, uint32_t* length,
                                 uint32_t* count);
TV_API int32_t QorvRegGetGroupMembersEx2(HKEY root, const char* group, void* entries,
                                         uint32_t* count);
TV_API int32_t QorvRegGetGroupMembers(HKEY root, const char* group, void* entries,
                                      uint32_t* count);
TV_API int32_t QorvRegGetNoGroupMembers(HKEY root, const char* group);
TV_API int32_t QorvRegNetrcEx(int32_t operation, void* entry);
TV_API int32_t QorvRegNetrc(int32_t operation, void* entry);
TV_API int32_t QorvRegNetrcEnum(char* buffer, uint32_t* length, uint32_t* count);
TV_API int32_t QorvRegProtocolEnum(int32_t operation, char* buffer, uint32_t* length,
                                   uint32_t* count);
// Scrambles (mode 2 unscrambles) a password with a key; returns the
// output text (the scrambled text, or the plain one for mode 2).
TV_API char* EnP(char* scrambled, char* plain, const char* key, int32_t mode);

TV_END_C
