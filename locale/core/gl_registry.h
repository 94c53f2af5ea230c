// The code-set registry: code-set names to 16-bit code-set numbers, through
// a cached copy of the registry file, the built-in table, or a scan of the
// file; and code-set numbers to and from CCSIDs.
#pragma once

#include <stdint.h>

#include "platform/api.h"

TV_BEGIN_C

enum {
  GL_CS_UNKNOWN = 0xe000,  // a code set the registry does not know
  GL_REGISTRY_NAME_SIZE = 22,
};

// One cached registry line (run-time malloc).
typedef struct GlRegistryEntry {
  char *name;  // 22-byte block, lower case
  int32_t number;
  struct GlRegistryEntry *next;
} GlRegistryEntry;

typedef struct GlRegistryPair {
  const char *name;  // NULL ends the table
  int32_t number;
} GlRegistryPair;

extern const GlRegistryPair _gl_default_registry[];
// The cached list, and the fallback table after a failed cache.
extern GlRegistryEntry *_gl_registry_list;
extern const GlRegistryPair *_gl_registry_fallback;

TV_API void gl_cache_registry(void *obj, const char *path);
TV_API void gl_free_registry_cache(void);
TV_API uint16_t gl_cs_name2cs_num(void *obj, const char *name, const char *path);
TV_API uint16_t gl_cs_nums2ccsid(void *obj, uint16_t number);
TV_API uint16_t gl_ccsid2cs_nums(void *obj, uint16_t ccsid);

TV_END_C
