// Per-thread loaded environment shared by the lookup and the file reader.
#pragma once

#include <stdint.h>

#include "base/thread_state.h"

namespace tvbase {

// One value of a variable's stack; the text is stored right after the node.
struct EnvValueNode {
  EnvValueNode* next;
  char* value;  // null for a row without a default
};

// One loaded entry per row of the built-in table.
struct EnvVarEntry {
  char* name;
  EnvValueNode* top;  // newest first; the bottom node is the default
  uint8_t flag;
  int32_t row;
  int32_t maxlen;
};

// Flag word bits of the environment-file reads.
enum : uint32_t {
  kEnvDbnls = 1,
  kEnvLang = 2,
  kEnvLcCollate = 4,
  kEnvLcCtype = 8,
  kEnvLcMonetary = 16,
  kEnvLcNumeric = 32,
  kEnvLcTime = 64,
};

// The thread's loaded table (null until loaded) and its entry count.
EnvVarEntry* EnvTable();
int32_t EnvCount();

// The entry of a name, or null.
EnvVarEntry* EnvFind(const char* name);
// Pushes a copy of value (null: a node without value) onto the entry.
// 0, or -2 without memory.
int EnvPush(EnvVarEntry* entry, const char* value);

// Reads one environment file into the loaded table: 0 (also for a file
// that cannot be opened), -4 after a too-long value, -2 without memory.
int EnvReadFile(const char* path, const StringList* ignore, uint32_t* flags, int32_t* line);

// Prints the too-long warning; file may be null.
void EnvTooLong(const char* name, int32_t maxlen, const char* file, int32_t line, int32_t status);

}  // namespace tvbase
