// The hook functions that the locale start-up installs in the locale
// library's 21 slots.
#pragma once

#include <stdint.h>

#include "locale/core/gl_ext.h"
#include "platform/api.h"

TV_BEGIN_C

TV_API char* cl_ext_getenv(const char* name);  // the merged environment
TV_API int32_t* cl_ext_errno(void* object);     // the object, or the process-wide number
TV_API void* cl_ext_malloc(uint64_t size);
TV_API void* cl_ext_calloc(uint64_t count, uint64_t size);
TV_API void* cl_ext_realloc(void* p, uint64_t size);
TV_API void cl_ext_free(void* p);
TV_API intptr_t cl_ext_uca(void);  // the ICU glue record
TV_API GlFile* cl_ext_fopen(const char* path, const char* mode);
TV_API int cl_ext_fclose(GlFile* f);
TV_API int cl_ext_fgetc(GlFile* f);  // also the getc slot
TV_API int cl_ext_getc(GlFile* f);
TV_API int cl_ext_ungetc(int c, GlFile* f);
TV_API char* cl_ext_fgets(char* buf, int32_t size, GlFile* f);
// One item of one byte goes through fputc (1, or 0 when it fails).
TV_API int32_t cl_ext_fwrite(const void* data, int32_t size, int32_t count, GlFile* f);
TV_API int cl_ext_feof(GlFile* f);
TV_API int cl_ext_ferror(GlFile* f);
// Today from the SQL data types' current time (DBTODAY applies); 0.
TV_API int cl_ext_currdate(GlCurrDate* date);
// Now from the local clock: 0 fraction, the nine calendar fields, zeroed
// reserved fields; -1 when the clock cannot be broken down.
TV_API int cl_ext_currtime(GlTimeRecord* rec);
int cl_ext_fseek(GlFile* f, int32_t offset, int32_t origin);
int32_t cl_ext_ftell(GlFile* f);  // narrowed to 32 bits
// "name=value": sets the variable with gsetenv; -1 without '=' or for a
// name longer than 80 characters.
int cl_ext_putenv(char* assignment);

TV_END_C
