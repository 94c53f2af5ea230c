// The hook table, its callers and the run-time defaults.
#include "locale/core/gl_ext.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>

#include "locale/core/gl_errors.h"

namespace {

GlExtFuncTable g_table;  // zero at load: all defaults

// The installed function of a slot, or NULL when the default serves.
template <class Fn>
Fn Installed(int slot) {
  if (g_table.enabled == 0) return nullptr;
  return reinterpret_cast<Fn>(g_table.slots[slot]);
}

FILE *AsFile(GlFile *f) { return static_cast<FILE *>(f); }

// Breaks the current time down into local time; false when the run-time
// cannot (the callers then report failure rather than read garbage).
bool LocalNow(struct tm *out) {
  time_t now = time(nullptr);
  if (now == (time_t)-1) return false;
  return localtime_r(&now, out) != nullptr;
}

}  // namespace

int32_t gl_setextfunc(void *object, int32_t index, GlExtFunc fn) {
  if (index < 0 || index >= GL_EXT_NSLOTS) {
    *_gl_ext_errno(object) = GL_EBADARG;
    return -1;
  }
  g_table.slots[index] = fn;
  g_table.enabled = 1;
  return 0;
}

void _gl_reset_ext_func(void) { g_table.enabled = 0; }

GlExtFuncTable *_gl_ext_table(void) { return &g_table; }

// ---- callers ----

char *_gl_ext_getenv(const char *name) {
  if (auto fn = Installed<GlExtGetenv>(GL_EXT_GETENV)) return fn(name);
  return gl_ext_getenv(name);
}
int32_t *_gl_ext_errno(void *object) {
  if (auto fn = Installed<GlExtErrno>(GL_EXT_ERRNO)) return fn(object);
  return gl_ext_errno(object);
}
int _gl_ext_fclose(GlFile *f) {
  if (auto fn = Installed<GlExtFclose>(GL_EXT_FCLOSE)) return fn(f);
  return gl_ext_fclose(f);
}
int _gl_ext_feof(GlFile *f) {
  if (auto fn = Installed<GlExtFeof>(GL_EXT_FEOF)) return fn(f);
  return gl_ext_feof(f);
}
int _gl_ext_ferror(GlFile *f) {
  if (auto fn = Installed<GlExtFerror>(GL_EXT_FERROR)) return fn(f);
  return gl_ext_ferror(f);
}
int _gl_ext_fgetc(GlFile *f) {
  if (auto fn = Installed<GlExtFgetc>(GL_EXT_FGETC)) return fn(f);
  return gl_ext_fgetc(f);
}
char *_gl_ext_fgets(char *buf, int32_t size, GlFile *f) {
  if (auto fn = Installed<GlExtFgets>(GL_EXT_FGETS)) return fn(buf, size, f);
  return gl_ext_fgets(buf, size, f);
}
GlFile *_gl_ext_fopen(const char *path, const char *mode) {
  if (auto fn = Installed<GlExtFopen>(GL_EXT_FOPEN)) return fn(path, mode);
  return gl_ext_fopen(path, mode);
}
void _gl_ext_free(void *p) {
  if (auto fn = Installed<GlExtFree>(GL_EXT_FREE)) {
    fn(p);
    return;
  }
  gl_ext_free(p);
}
int _gl_ext_fseek(GlFile *f, int32_t offset, int32_t origin) {
  if (auto fn = Installed<GlExtFseek>(GL_EXT_FSEEK)) return fn(f, offset, origin);
  return gl_ext_fseek(f, offset, origin);
}
int32_t _gl_ext_ftell(GlFile *f) {
  if (auto fn = Installed<GlExtFtell>(GL_EXT_FTELL)) return fn(f);
  return gl_ext_ftell(f);
}
int32_t _gl_ext_fwrite(const void *data, int32_t size, int32_t count, GlFile *f) {
  if (auto fn = Installed<GlExtFwrite>(GL_EXT_FWRITE)) return fn(data, size, count, f);
  return gl_ext_fwrite(data, size, count, f);
}
int _gl_ext_getc(GlFile *f) {
  if (auto fn = Installed<GlExtGetc>(GL_EXT_GETC)) return fn(f);
  return gl_ext_getc(f);
}
void *_gl_ext_malloc(uint64_t size) {
  if (auto fn = Installed<GlExtMalloc>(GL_EXT_MALLOC)) return fn(size);
  return gl_ext_malloc(size);
}
int _gl_ext_ungetc(int c, GlFile *f) {
  if (auto fn = Installed<GlExtUngetc>(GL_EXT_UNGETC)) return fn(c, f);
  return gl_ext_ungetc(c, f);
}
int _gl_ext_putenv(char *assignment) {
  if (auto fn = Installed<GlExtPutenv>(GL_EXT_PUTENV)) return fn(assignment);
  return gl_ext_putenv(assignment);
}
int _gl_ext_currdate(GlCurrDate *date) {
  if (auto fn = Installed<GlExtCurrdate>(GL_EXT_CURRDATE)) return fn(date);
  return gl_ext_currdate(date);
}
int _gl_ext_currtime(GlTimeRecord *rec) {
  if (auto fn = Installed<GlExtCurrtime>(GL_EXT_CURRTIME)) return fn(rec);
  return gl_ext_currtime(rec);
}
void *_gl_ext_calloc(uint64_t count, uint64_t size) {
  if (auto fn = Installed<GlExtCalloc>(GL_EXT_CALLOC)) return fn(count, size);
  return gl_ext_calloc(count, size);
}
void *_gl_ext_realloc(void *p, uint64_t size) {
  if (auto fn = Installed<GlExtRealloc>(GL_EXT_REALLOC)) return fn(p, size);
  return gl_ext_realloc(p, size);
}
intptr_t _gl_ext_UCA(void) {
  if (auto fn = Installed<GlExtUCA>(GL_EXT_UCA)) return fn();
  return -1;
}

// ---- defaults ----

char *gl_ext_getenv(const char *name) { return getenv(name); }
int32_t *gl_ext_errno(void *object) { return static_cast<int32_t *>(object); }
int gl_ext_fclose(GlFile *f) { return fclose(AsFile(f)); }
int gl_ext_feof(GlFile *f) { return feof(AsFile(f)); }
int gl_ext_ferror(GlFile *f) { return ferror(AsFile(f)); }
int gl_ext_fgetc(GlFile *f) { return fgetc(AsFile(f)); }
char *gl_ext_fgets(char *buf, int32_t size, GlFile *f) { return fgets(buf, size, AsFile(f)); }
GlFile *gl_ext_fopen(const char *path, const char *mode) {
  // Descriptors of the library never leak into child programs.
  std::string m = mode ? mode : "r";
  if (m.find('e') == std::string::npos) m += 'e';
  return fopen(path, m.c_str());
}
void gl_ext_free(void *p) { free(p); }
int gl_ext_fseek(GlFile *f, int32_t offset, int32_t origin) {
  static const int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  if (origin < 0 || origin > 2) return -1;
  return fseek(AsFile(f), offset, kWhence[origin]);
}
int32_t gl_ext_ftell(GlFile *f) { return static_cast<int32_t>(ftell(AsFile(f))); }
int32_t gl_ext_fwrite(const void *data, int32_t size, int32_t count, GlFile *f) {
  if (size < 0 || count < 0) return 0;
  return static_cast<int32_t>(fwrite(data, static_cast<size_t>(size), static_cast<size_t>(count), AsFile(f)));
}
int gl_ext_getc(GlFile *f) { return fgetc(AsFile(f)); }
void *gl_ext_malloc(uint64_t size) { return malloc(size); }
int gl_ext_ungetc(int c, GlFile *f) { return ungetc(c, AsFile(f)); }

// The run-time putenv keeps the caller's string in the environment; setenv
// keeps its own copy, so a caller's temporary buffer can never dangle.
int gl_ext_putenv(char *assignment) {
  if (assignment == nullptr) return -1;
  const char *eq = strchr(assignment, '=');
  if (eq == nullptr) return unsetenv(assignment);
  std::string name(assignment, static_cast<size_t>(eq - assignment));
  if (name.empty()) return -1;
  return setenv(name.c_str(), eq + 1, 1);
}

int gl_ext_currdate(GlCurrDate *date) {
  struct tm tm;
  if (!LocalNow(&tm)) {
    *date = GlCurrDate{};
    return -1;
  }
  date->month = static_cast<uint16_t>(tm.tm_mon + 1);
  date->day = static_cast<uint16_t>(tm.tm_mday);
  date->year = static_cast<uint16_t>(tm.tm_year + 1900);
  return 0;
}

int gl_ext_currtime(GlTimeRecord *rec) {
  *rec = GlTimeRecord{};
  struct tm tm;
  if (!LocalNow(&tm)) return -1;
  rec->second = tm.tm_sec;
  rec->minute = tm.tm_min;
  rec->hour = tm.tm_hour;
  rec->mday = tm.tm_mday;
  rec->month = tm.tm_mon;
  rec->year = tm.tm_year;
  rec->wday = tm.tm_wday;
  rec->yday = tm.tm_yday;
  rec->isdst = tm.tm_isdst;
  return 0;
}

void *gl_ext_calloc(uint64_t count, uint64_t size) { return calloc(count, size); }
void *gl_ext_realloc(void *p, uint64_t size) { return realloc(p, size); }

void *_gl_ext1_malloc(void *, uint64_t size) { return _gl_ext_malloc(size); }
void *_gl_ext1_realloc(void *, void *p, uint64_t size) { return _gl_ext_realloc(p, size); }
void _gl_ext1_free(void *, void *p) { _gl_ext_free(p); }
void *_gl_ext1_calloc(void *, uint64_t count, uint64_t size) { return _gl_ext_calloc(count, size); }
