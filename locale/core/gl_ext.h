// External functions of the locale library: the 21 process-wide hook slots
// through which the library reaches the environment, memory, files, the
// clock and the place where it stores its error number.
//
// The table is not locked: install functions on one thread before other
// threads use the library.
#pragma once

#include <stdint.h>

#include "locale/format/gl_time.h"
#include "platform/api.h"

TV_BEGIN_C

enum {
  GL_EXT_GETENV = 0,
  GL_EXT_ERRNO = 1,
  GL_EXT_FCLOSE = 2,
  GL_EXT_FEOF = 3,
  GL_EXT_FERROR = 4,
  GL_EXT_FGETC = 5,
  GL_EXT_FGETS = 6,
  GL_EXT_FOPEN = 7,
  GL_EXT_FREE = 8,
  GL_EXT_FSEEK = 9,
  GL_EXT_FTELL = 10,
  GL_EXT_FWRITE = 11,
  GL_EXT_GETC = 12,
  GL_EXT_MALLOC = 13,
  GL_EXT_UNGETC = 14,
  GL_EXT_PUTENV = 15,
  GL_EXT_CURRDATE = 16,
  GL_EXT_CURRTIME = 17,
  GL_EXT_CALLOC = 18,
  GL_EXT_REALLOC = 19,
  GL_EXT_UCA = 20,
  GL_EXT_NSLOTS = 21,
};

// Today's date as the currdate slot gives it.
typedef struct GlCurrDate {
  uint16_t month;  // 1-12
  uint16_t day;    // 1-31
  uint16_t year;   // four digits
} GlCurrDate;

// A file handle is whatever the fopen slot returned; the library only hands
// it back to the other file slots.
typedef void GlFile;

// The slot types, in slot order.
typedef char *(*GlExtGetenv)(const char *name);
typedef int32_t *(*GlExtErrno)(void *object);
typedef int (*GlExtFclose)(GlFile *f);
typedef int (*GlExtFeof)(GlFile *f);
typedef int (*GlExtFerror)(GlFile *f);
typedef int (*GlExtFgetc)(GlFile *f);
typedef char *(*GlExtFgets)(char *buf, int32_t size, GlFile *f);
typedef GlFile *(*GlExtFopen)(const char *path, const char *mode);
typedef void (*GlExtFree)(void *p);
typedef int (*GlExtFseek)(GlFile *f, int32_t offset, int32_t origin);
typedef int32_t (*GlExtFtell)(GlFile *f);
typedef int32_t (*GlExtFwrite)(const void *data, int32_t size, int32_t count, GlFile *f);
typedef int (*GlExtGetc)(GlFile *f);
typedef void *(*GlExtMalloc)(uint64_t size);
typedef int (*GlExtUngetc)(int c, GlFile *f);
typedef int (*GlExtPutenv)(char *assignment);
typedef int (*GlExtCurrdate)(GlCurrDate *date);
typedef int (*GlExtCurrtime)(GlTimeRecord *rec);
typedef void *(*GlExtCalloc)(uint64_t count, uint64_t size);
typedef void *(*GlExtRealloc)(void *p, uint64_t size);
typedef intptr_t (*GlExtUCA)(void);

// Any slot function, as gl_setextfunc takes it.
typedef void (*GlExtFunc)(void);

// The process-wide table: the slots are consulted only while enabled != 0.
typedef struct GlExtFuncTable {
  GlExtFunc slots[GL_EXT_NSLOTS];
  int32_t enabled;
} GlExtFuncTable;

// Installs fn (NULL empties the slot) and switches the table on. An index
// outside 0-20 stores error 9 through _gl_ext_errno(object) and returns -1.
TV_API int32_t gl_setextfunc(void *object, int32_t index, GlExtFunc fn);
// Switches the table off; installed functions stay in their slots.
TV_API void _gl_reset_ext_func(void);
// The table itself, for the ICU back end that saves and empties slots.
GlExtFuncTable *_gl_ext_table(void);

// The callers: the installed function when the table is on and the slot is
// filled, else the default.
TV_API char *_gl_ext_getenv(const char *name);
TV_API int32_t *_gl_ext_errno(void *object);
TV_API int _gl_ext_fclose(GlFile *f);
TV_API int _gl_ext_feof(GlFile *f);
TV_API int _gl_ext_ferror(GlFile *f);
TV_API int _gl_ext_fgetc(GlFile *f);
TV_API char *_gl_ext_fgets(char *buf, int32_t size, GlFile *f);
TV_API GlFile *_gl_ext_fopen(const char *path, const char *mode);
TV_API void _gl_ext_free(void *p);
TV_API int _gl_ext_fseek(GlFile *f, int32_t offset, int32_t origin);
TV_API int32_t _gl_ext_ftell(GlFile *f);
TV_API int32_t _gl_ext_fwrite(const void *data, int32_t size, int32_t count, GlFile *f);
TV_API int _gl_ext_getc(GlFile *f);
TV_API void *_gl_ext_malloc(uint64_t size);
TV_API int _gl_ext_ungetc(int c, GlFile *f);
TV_API int _gl_ext_putenv(char *assignment);
TV_API int _gl_ext_currdate(GlCurrDate *date);
TV_API int _gl_ext_currtime(GlTimeRecord *rec);
TV_API void *_gl_ext_calloc(uint64_t count, uint64_t size);
TV_API void *_gl_ext_realloc(void *p, uint64_t size);
// -1 when no UCA function is installed.
TV_API intptr_t _gl_ext_UCA(void);

// The defaults, built on the run-time library.
TV_API char *gl_ext_getenv(const char *name);
TV_API int32_t *gl_ext_errno(void *object);
TV_API int gl_ext_fclose(GlFile *f);
TV_API int gl_ext_feof(GlFile *f);
TV_API int gl_ext_ferror(GlFile *f);
TV_API int gl_ext_fgetc(GlFile *f);
TV_API char *gl_ext_fgets(char *buf, int32_t size, GlFile *f);
TV_API GlFile *gl_ext_fopen(const char *path, const char *mode);
TV_API void gl_ext_free(void *p);
TV_API int gl_ext_fseek(GlFile *f, int32_t offset, int32_t origin);
TV_API int32_t gl_ext_ftell(GlFile *f);
TV_API int32_t gl_ext_fwrite(const void *data, int32_t size, int32_t count, GlFile *f);
TV_API int gl_ext_getc(GlFile *f);
TV_API void *gl_ext_malloc(uint64_t size);
TV_API int gl_ext_ungetc(int c, GlFile *f);
TV_API int gl_ext_putenv(char *assignment);
// Today from the local clock; -1 and zeroed fields when the clock cannot be
// broken down.
TV_API int gl_ext_currdate(GlCurrDate *date);
// Now from the local clock, fraction and reserved fields 0; -1 and a zeroed
// record when the clock cannot be broken down.
TV_API int gl_ext_currtime(GlTimeRecord *rec);
TV_API void *gl_ext_calloc(uint64_t count, uint64_t size);
TV_API void *gl_ext_realloc(void *p, uint64_t size);

// Forms with a leading context argument (ignored), for the ICU wrapper.
TV_API void *_gl_ext1_malloc(void *context, uint64_t size);
TV_API void *_gl_ext1_realloc(void *context, void *p, uint64_t size);
TV_API void _gl_ext1_free(void *context, void *p);
TV_API void *_gl_ext1_calloc(void *context, uint64_t count, uint64_t size);

TV_END_C
