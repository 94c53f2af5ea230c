// The functions through which the locale library reaches the client's
// environment, memory, files and clock, and their installation.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "base/env.h"
#include "base/locale_hooks.h"
#include "base/locale_state.h"
#include "locale/core/gl_ext.h"
#include "sqltypes/datetime_clock.h"

namespace {

// The error number the errno hook hands out when it is given no object.
int32_t g_errno = 12;

// Longest variable name the putenv hook accepts.
constexpr size_t kPutenvNameMax = 80;

// Digit pair k of a YEAR TO FRACTION value (0 century, 1 year, 2 month,
// 3 day ...), read by its weight so that a normalised value works too.
int DatetimePair(const Decimal& d, int k) {
  const int i = k + d.exponent - 7;
  return i >= 0 && i < d.ndigits ? d.digits[i] : 0;
}

}  // namespace

TV_BEGIN_C

TV_API char* cl_ext_getenv(const char* name) { return ggetenv_idx(name, -1); }

TV_API int32_t* cl_ext_errno(void* object) {
  // Locale and conversion objects begin with their error number.
  return object != nullptr ? static_cast<int32_t*>(object) : &g_errno;
}

TV_API void* cl_ext_malloc(uint64_t size) { return std::malloc(size); }
TV_API void* cl_ext_calloc(uint64_t count, uint64_t size) { return std::calloc(count, size); }
TV_API void* cl_ext_realloc(void* p, uint64_t size) { return std::realloc(p, size); }
TV_API void cl_ext_free(void* p) { std::free(p); }

TV_API intptr_t cl_ext_uca(void) {
  void** cell = rgllocstate()->glu_cell;
  return cell != nullptr ? reinterpret_cast<intptr_t>(*cell) : 0;
}

TV_API GlFile* cl_ext_fopen(const char* path, const char* mode) {
  // The library's own opener: its files are closed across exec.
  return gl_ext_fopen(path, mode);
}
TV_API int cl_ext_fclose(GlFile* f) { return std::fclose(static_cast<FILE*>(f)); }
TV_API int cl_ext_fgetc(GlFile* f) { return std::fgetc(static_cast<FILE*>(f)); }
TV_API int cl_ext_getc(GlFile* f) { return cl_ext_fgetc(f); }
TV_API int cl_ext_ungetc(int c, GlFile* f) { return std::ungetc(c, static_cast<FILE*>(f)); }
TV_API char* cl_ext_fgets(char* buf, int32_t size, GlFile* f) {
  return std::fgets(buf, size, static_cast<FILE*>(f));
}
TV_API int32_t cl_ext_fwrite(const void* data, int32_t size, int32_t count, GlFile* f) {
  FILE* stream = static_cast<FILE*>(f);
  if (size == 1 && count == 1) {
    return std::fputc(*static_cast<const unsigned char*>(data), stream) == EOF ? 0 : 1;
  }
  if (size <= 0 || count <= 0) return 0;
  return static_cast<int32_t>(
      std::fwrite(data, static_cast<size_t>(size), static_cast<size_t>(count), stream));
}
TV_API int cl_ext_feof(GlFile* f) { return std::feof(static_cast<FILE*>(f)); }
TV_API int cl_ext_ferror(GlFile* f) { return std::ferror(static_cast<FILE*>(f)); }

int cl_ext_fseek(GlFile* f, int32_t offset, int32_t origin) {
  return std::fseek(static_cast<FILE*>(f), offset, origin);
}
int32_t cl_ext_ftell(GlFile* f) {
  return static_cast<int32_t>(std::ftell(static_cast<FILE*>(f)));
}

int cl_ext_putenv(char* assignment) {
  if (assignment == nullptr) return -1;
  const char* eq = std::strchr(assignment, '=');
  if (eq == nullptr) return -1;
  const size_t n = static_cast<size_t>(eq - assignment);
  if (n > kPutenvNameMax) return -1;
  char name[kPutenvNameMax + 1];
  std::memcpy(name, assignment, n);
  name[n] = '\0';
  return gsetenv(name, eq + 1);
}

TV_API int cl_ext_currdate(GlCurrDate* date) {
  Decimal now{};
  if (dtgetcurrent(&now) != 0) {
    *date = GlCurrDate{};
    return -1;
  }
  date->month = static_cast<uint16_t>(DatetimePair(now, 2));
  date->day = static_cast<uint16_t>(DatetimePair(now, 3));
  date->year = static_cast<uint16_t>(DatetimePair(now, 0) * 100 + DatetimePair(now, 1));
  return 0;
}

TV_API int cl_ext_currtime(GlTimeRecord* rec) {
  const int64_t seconds = static_cast<int64_t>(std::time(nullptr));
  struct tm local{};
  if (zel_localtime(&seconds, &local) == nullptr || local.tm_mday == -1) return -1;
  rec->fraction = 0;
  rec->second = local.tm_sec;
  rec->minute = local.tm_min;
  rec->hour = local.tm_hour;
  rec->mday = local.tm_mday;
  rec->month = local.tm_mon;
  rec->year = local.tm_year;
  rec->wday = local.tm_wday;
  rec->yday = local.tm_yday;
  rec->isdst = local.tm_isdst;
  rec->reserved_wide = 0;
  rec->reserved = 0;
  return 0;
}

int rglregister(int32_t mode) {
  if (mode != 1) return -1;
  struct Hook {
    int32_t slot;
    GlExtFunc fn;
  };
  // The install order the locale library is used to; calloc and realloc
  // go in twice.
  static const Hook kHooks[] = {
      {GL_EXT_ERRNO, reinterpret_cast<GlExtFunc>(cl_ext_errno)},
      {GL_EXT_GETENV, reinterpret_cast<GlExtFunc>(cl_ext_getenv)},
      {GL_EXT_MALLOC, reinterpret_cast<GlExtFunc>(cl_ext_malloc)},
      {GL_EXT_CALLOC, reinterpret_cast<GlExtFunc>(cl_ext_calloc)},
      {GL_EXT_REALLOC, reinterpret_cast<GlExtFunc>(cl_ext_realloc)},
      {GL_EXT_UCA, reinterpret_cast<GlExtFunc>(cl_ext_uca)},
      {GL_EXT_CALLOC, reinterpret_cast<GlExtFunc>(cl_ext_calloc)},
      {GL_EXT_REALLOC, reinterpret_cast<GlExtFunc>(cl_ext_realloc)},
      {GL_EXT_FREE, reinterpret_cast<GlExtFunc>(cl_ext_free)},
      {GL_EXT_FOPEN, reinterpret_cast<GlExtFunc>(cl_ext_fopen)},
      {GL_EXT_FCLOSE, reinterpret_cast<GlExtFunc>(cl_ext_fclose)},
      {GL_EXT_FGETC, reinterpret_cast<GlExtFunc>(cl_ext_fgetc)},
      {GL_EXT_GETC, reinterpret_cast<GlExtFunc>(cl_ext_fgetc)},
      {GL_EXT_UNGETC, reinterpret_cast<GlExtFunc>(cl_ext_ungetc)},
      {GL_EXT_FGETS, reinterpret_cast<GlExtFunc>(cl_ext_fgets)},
      {GL_EXT_FWRITE, reinterpret_cast<GlExtFunc>(cl_ext_fwrite)},
      {GL_EXT_FEOF, reinterpret_cast<GlExtFunc>(cl_ext_feof)},
      {GL_EXT_FERROR, reinterpret_cast<GlExtFunc>(cl_ext_ferror)},
      {GL_EXT_CURRTIME, reinterpret_cast<GlExtFunc>(cl_ext_currtime)},
      {GL_EXT_CURRDATE, reinterpret_cast<GlExtFunc>(cl_ext_currdate)},
      {GL_EXT_PUTENV, reinterpret_cast<GlExtFunc>(cl_ext_putenv)},
      {GL_EXT_FSEEK, reinterpret_cast<GlExtFunc>(cl_ext_fseek)},
      {GL_EXT_FTELL, reinterpret_cast<GlExtFunc>(cl_ext_ftell)},
  };
  for (const Hook& h : kHooks) {
    if (gl_setextfunc(nullptr, h.slot, h.fn) != 0) return -1;
  }
  return 0;
}

TV_END_C
