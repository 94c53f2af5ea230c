// The registry: a small store of keys and typed values that the client
// libraries share with every program of an installation.
//
// Keys form a tree under two roots, the machine's (HKEY_LOCAL_MACHINE) and
// the current account's (HKEY_CURRENT_USER). Key and value names compare
// without regard to ASCII case and keep the case they were created with;
// '\' separates the parts of a key path. Every call is one transaction
// against the hive file of its root (see registry_store.h), so that several
// processes may use the registry at once.
//
// Results are the numbers of win_errors.h: 0 success, 2 no such key or
// value, 5 access denied, 6 invalid handle, 87 bad parameter, 234 buffer too
// small, 259 no more items, 1009 hive corrupt, 1016 hive not writable,
// 1018 key deleted, 1021 non-volatile key under a volatile one.
#pragma once

#include <cstdint>

#include "platform/api.h"

typedef struct tv_regkey_* HKEY;

#define HKEY_CLASSES_ROOT ((HKEY)(uintptr_t)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)

// Value types.
#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u  // 4 bytes, little-endian

// Options and dispositions of RegCreateKeyExA.
#define REG_OPTION_NON_VOLATILE 0u
#define REG_OPTION_VOLATILE 1u
// This store's own option: a volatile key that lasts until the machine
// restarts even after the process that made it has ended (for keys that
// the administration tool seeds).
#define TV_REG_OPTION_UNOWNED 0x10000u
#define REG_CREATED_NEW_KEY 1u
#define REG_OPENED_EXISTING_KEY 2u

// Access rights of a handle.
#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_NOTIFY 0x0010u
#define KEY_CREATE_LINK 0x0020u
#define KEY_READ 0x20019u
#define KEY_WRITE 0x20006u
#define KEY_ALL_ACCESS 0xF003Fu

// Limits of names and data.
#define TV_REG_MAX_KEY_NAME 255u
#define TV_REG_MAX_VALUE_NAME 16383u
#define TV_REG_MAX_DATA (1u << 20)

TV_BEGIN_C

// Opens an existing key below `key` (a null or empty subkey opens `key`
// itself again).
int32_t RegOpenKeyExA(HKEY key, const char* subkey, uint32_t options, uint32_t sam,
                      HKEY* result);

// Opens a key, creating it and any missing keys above it. `disposition`
// (optional) tells whether the key was created (1) or existed (2); the test
// and the creation are one step, so exactly one of several racing callers
// sees 1. A volatile key is forgotten when the machine restarts, and also
// once the process that created it has ended.
int32_t RegCreateKeyExA(HKEY key, const char* subkey, uint32_t reserved, const char* key_class,
                        uint32_t options, uint32_t sam, void* security, HKEY* result,
                        uint32_t* disposition);

// Reads a value. With null `data` and a non-null `size` only the size is
// reported; a short buffer gives 234 with the size needed.
int32_t RegQueryValueExA(HKEY key, const char* name, uint32_t* reserved, uint32_t* type,
                         unsigned char* data, uint32_t* size);

int32_t RegSetValueExA(HKEY key, const char* name, uint32_t reserved, uint32_t type,
                       const unsigned char* data, uint32_t size);

int32_t RegDeleteValueA(HKEY key, const char* name);

// Deletes a key that has no sub-keys (5 otherwise).
int32_t RegDeleteKeyA(HKEY key, const char* subkey);

// Enumerates sub-keys in case-insensitive order of their names, and values
// in the order they were first written. `*name_size` is the buffer size in
// bytes on entry and the name length without its NUL on return.
int32_t RegEnumKeyExA(HKEY key, uint32_t index, char* name, uint32_t* name_size,
                      uint32_t* reserved, char* key_class, uint32_t* class_size,
                      void* last_write_time);
int32_t RegEnumValueA(HKEY key, uint32_t index, char* name, uint32_t* name_size,
                      uint32_t* reserved, uint32_t* type, unsigned char* data,
                      uint32_t* data_size);

// Counts and longest lengths of a key's sub-keys and values; every output
// is optional.
int32_t RegQueryInfoKeyA(HKEY key, char* key_class, uint32_t* class_size, uint32_t* reserved,
                         uint32_t* subkeys, uint32_t* max_subkey_len, uint32_t* max_class_len,
                         uint32_t* values, uint32_t* max_value_name_len,
                         uint32_t* max_value_len, uint32_t* security_descriptor,
                         void* last_write_time);

int32_t RegCloseKey(HKEY key);

// A null or empty machine name, or this machine's own name (with or without
// leading backslashes), gives the local root; any other machine gives 53.
int32_t RegConnectRegistryA(const char* machine, HKEY root, HKEY* result);

TV_END_C
