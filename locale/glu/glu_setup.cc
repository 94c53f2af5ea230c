// Set-up of the ICU-wrapper library: the callbacks of the locale library,
// the ICU data marker, the locale map, locale handles and converters.
//
// The locale map ("locmap") is a text file of the wrapper's own, one entry
// a line, '#' starting a comment line:
//   locale  <specification> <ICU locale> <ICU converter>
//   codeset <code-set number> <ICU converter>
// Specifications are compared without case, so "en_US.57372" and the
// "en_us.utf8" of a server's start-up can both be listed.
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <unicode/uclean.h>
#include <unicode/ucnv.h>
#include <unicode/ucol.h>

#include "locale/glu/glu_internal.h"

namespace {

typedef void *(*MallocFn)(void *ctx, uint64_t size);
typedef void *(*ReallocFn)(void *ctx, void *p, uint64_t size);
typedef void (*FreeFn)(void *ctx, void *p);
typedef void *(*CallocFn)(void *ctx, uint64_t count, uint64_t size);
typedef int (*FileFn)(void *f);
typedef int (*FseekFn)(void *f, int32_t offset, int32_t origin);
typedef int32_t (*FtellFn)(void *f);
typedef void (*PrintFn)(const char *message);

// The wrapper's global state record, handed to other components.
struct State {
  MallocFn malloc_fn;
  ReallocFn realloc_fn;
  FreeFn free_fn;
  CallocFn calloc_fn;
  FileFn fgetc_fn;
  FseekFn fseek_fn;
  FtellFn ftell_fn;
  FileFn ferror_fn;
  FileFn feof_fn;
  intptr_t (*uca_fn)(void);
  PrintFn print_fn;
  int32_t level;
  int32_t sublevel;
  int32_t open_handles;
} g_state;

constexpr char kDataMarker[] = "glu_icudata";

// The ICU data handle: ICU's data is built into the library, so the handle
// only records that the marker file was found.
struct Data {
  char path[1];
};

void Print(const char *message) {
  if (g_state.print_fn != nullptr && g_state.level > 0) g_state.print_fn(message);
}

char *JoinPath(const char *dir, const char *name) {
  size_t n = strlen(dir);
  bool slash = n > 0 && dir[n - 1] != '/';
  auto *p = static_cast<char *>(glu::Alloc(n + slash + strlen(name) + 1));
  if (p == nullptr) return nullptr;
  memcpy(p, dir, n);
  if (slash) p[n++] = '/';
  strcpy(p + n, name);
  return p;
}

// Opens dir/name for reading; NULL with status 3 or 8.
FILE *OpenIn(const char *dir, const char *name, int16_t *st) {
  char *path = JoinPath(dir, name);
  if (path == nullptr) {
    glu::Raise(st, glu::kNoMemory);
    return nullptr;
  }
  FILE *f = fopen(path, "re");
  glu::Free(path);
  if (f == nullptr) glu::Raise(st, glu::kUnknown);
  return f;
}

void CopyField(char *dst, size_t size, const char *src) {
  size_t n = strnlen(src, size - 1);
  memcpy(dst, src, n);
  dst[n] = '\0';
}

void FreeMap(glu::Map *map) {
  if (map == nullptr) return;
  glu::Free(map->locales);
  glu::Free(map->codesets);
  glu::Free(map);
}

// Appends to a growing array of the wrapper's allocator.
template <typename T>
T *Grow(T *items, int32_t count) {
  auto *grown = static_cast<T *>(glu::Alloc(sizeof(T) * (static_cast<size_t>(count) + 1)));
  if (grown == nullptr) return nullptr;
  if (count > 0) memcpy(grown, items, sizeof(T) * static_cast<size_t>(count));
  glu::Free(items);
  return grown;
}

glu::Map *ReadMap(FILE *f, int16_t *st) {
  auto *map = static_cast<glu::Map *>(glu::Alloc(sizeof(glu::Map)));
  if (map == nullptr) {
    glu::Raise(st, glu::kNoMemory);
    return nullptr;
  }
  memset(map, 0, sizeof *map);
  char line[256];
  while (fgets(line, sizeof line, f) != nullptr) {
    char kind[16], a[64], b[64], c[64];
    int fields = sscanf(line, "%15s %63s %63s %63s", kind, a, b, c);
    if (fields < 1 || kind[0] == '#') continue;
    if (strcmp(kind, "locale") == 0 && fields == 4) {
      glu::MapLocale *grown = Grow(map->locales, map->nlocales);
      if (grown == nullptr) break;
      map->locales = grown;
      glu::MapLocale &e = map->locales[map->nlocales++];
      CopyField(e.spec, sizeof e.spec, a);
      CopyField(e.icu, sizeof e.icu, b);
      CopyField(e.converter, sizeof e.converter, c);
    } else if (strcmp(kind, "codeset") == 0 && fields == 3) {
      glu::MapCodeset *grown = Grow(map->codesets, map->ncodesets);
      if (grown == nullptr) break;
      map->codesets = grown;
      glu::MapCodeset &e = map->codesets[map->ncodesets++];
      e.number = atoi(a);
      CopyField(e.converter, sizeof e.converter, b);
    } else {
      Print("glu_loadMapData: line not understood");
      glu::Raise(st, 11);
      FreeMap(map);
      return nullptr;
    }
  }
  return map;
}

const glu::MapLocale *FindLocale(const glu::Map *map, const char *spec) {
  if (map == nullptr || spec == nullptr) return nullptr;
  for (int32_t i = 0; i < map->nlocales; ++i) {
    if (strcasecmp(map->locales[i].spec, spec) == 0) return &map->locales[i];
  }
  return nullptr;
}

const char *FindCodeset(const glu::Map *map, int32_t number) {
  if (map == nullptr) return nullptr;
  for (int32_t i = 0; i < map->ncodesets; ++i) {
    if (map->codesets[i].number == number) return map->codesets[i].converter;
  }
  return nullptr;
}

// A converter between two code sets: each character is read in the source
// code set and written in the target one.
struct Converter {
  glu::Locale source;
  glu::Locale target;
};

}  // namespace

namespace glu {

int16_t FromIcu(UErrorCode e) {
  switch (e) {
    case U_ZERO_ERROR:
      return kOk;
    case U_TRUNCATED_CHAR_FOUND:
    case U_INDEX_OUTOFBOUNDS_ERROR:
      return kShort;
    case U_BUFFER_OVERFLOW_ERROR:
      return kNoRoom;
    case U_MEMORY_ALLOCATION_ERROR:
      return kNoMemory;
    case U_FILE_ACCESS_ERROR:
    case U_MISSING_RESOURCE_ERROR:
      return kUnknown;
    default:
      return U_SUCCESS(e) ? kOk : kInvalid;
  }
}

void *Alloc(size_t size) {
  if (g_state.malloc_fn != nullptr) return g_state.malloc_fn(nullptr, size);
  return malloc(size);
}

void Free(void *p) {
  if (p == nullptr) return;
  if (g_state.free_fn != nullptr) {
    g_state.free_fn(nullptr, p);
  } else {
    free(p);
  }
}

int CallFgetc(void *f) {
  return g_state.fgetc_fn != nullptr ? g_state.fgetc_fn(f) : fgetc(static_cast<FILE *>(f));
}
int CallFeof(void *f) {
  return g_state.feof_fn != nullptr ? g_state.feof_fn(f) : feof(static_cast<FILE *>(f));
}
int CallFerror(void *f) {
  return g_state.ferror_fn != nullptr ? g_state.ferror_fn(f) : ferror(static_cast<FILE *>(f));
}

UConverter *OpenConverter(const char *name, int16_t *st) {
  UErrorCode e = U_ZERO_ERROR;
  UConverter *cnv = ucnv_open(name, &e);
  if (U_FAILURE(e)) {
    Raise(st, kUnknown);
    return nullptr;
  }
  ucnv_setToUCallBack(cnv, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &e);
  ucnv_setFromUCallBack(cnv, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &e);
  if (U_FAILURE(e)) {
    ucnv_close(cnv);
    Raise(st, kUnknown);
    return nullptr;
  }
  return cnv;
}

int16_t OpenCodeset(Locale *h, const char *converter) {
  int16_t st = 0;
  h->cnv = OpenConverter(converter, &st);
  if (h->cnv == nullptr) return st > 0 ? st : int16_t{kUnknown};
  h->min_len = ucnv_getMinCharSize(h->cnv);
  // ICU counts the bytes of one UTF-16 unit; a supplementary character of
  // UTF-8 takes four.
  h->max_len = ucnv_getType(h->cnv) == UCNV_UTF8 ? 4 : ucnv_getMaxCharSize(h->cnv);
  h->highest = -1;
  h->ascii = 0;
  UChar32 cp;
  int32_t len;
  h->ascii = Decode(h, "A", 1, &cp, &len) == kOk && cp == 'A' && Decode(h, "z", 1, &cp, &len) == kOk &&
             cp == 'z';
  return kOk;
}

}  // namespace glu

// Set-up.

GLU_API int32_t glu_getIcuDataFileName(char *buf, int32_t size) {
  if (buf == nullptr || size < static_cast<int32_t>(sizeof kDataMarker)) return glu::kNoRoom;
  memcpy(buf, kDataMarker, sizeof kDataMarker);
  return 0;
}

GLU_API void *glu_loadIcuData(const char *dir, const char *name, int16_t *st) {
  if (dir == nullptr || name == nullptr) {
    glu::Raise(st, glu::kNullArg);
    return nullptr;
  }
  FILE *f = OpenIn(dir, name, st);
  if (f == nullptr) return nullptr;
  fclose(f);
  UErrorCode e = U_ZERO_ERROR;
  u_init(&e);
  if (U_FAILURE(e)) {
    glu::Raise(st, glu::kUnknown);
    return nullptr;
  }
  auto *data = static_cast<Data *>(glu::Alloc(sizeof(Data)));
  if (data == nullptr) glu::Raise(st, glu::kNoMemory);
  return data;
}

GLU_API void glu_unloadIcuData(void *data) {
  glu::Free(data);
  // ICU's caches go with the data, so that nothing stays allocated once the
  // library is released; only when no handle of ours is still open.
  if (g_state.open_handles == 0) u_cleanup();
}

GLU_API void *glu_loadMapData(const char *dir, int16_t *st) {
  if (dir == nullptr) {
    glu::Raise(st, glu::kNullArg);
    return nullptr;
  }
  FILE *f = OpenIn(dir, "locmap", st);
  if (f == nullptr) return nullptr;
  glu::Map *map = ReadMap(f, st);
  fclose(f);
  return map;
}

GLU_API void glu_unloadMapData(void *map) { FreeMap(static_cast<glu::Map *>(map)); }

GLU_API int32_t glu_setMemoryFunctions(MallocFn m, ReallocFn r, FreeFn f, CallocFn c) {
  if ((m == nullptr) != (f == nullptr)) return glu::kNullArg;
  g_state.malloc_fn = m;
  g_state.realloc_fn = r;
  g_state.free_fn = f;
  g_state.calloc_fn = c;
  return 0;
}

GLU_API void glu_setFgetcFunc(FileFn fn) { g_state.fgetc_fn = fn; }
GLU_API void glu_setFseekFunc(FseekFn fn) { g_state.fseek_fn = fn; }
GLU_API void glu_setFtellFunc(FtellFn fn) { g_state.ftell_fn = fn; }
GLU_API void glu_setFerrorFunc(FileFn fn) { g_state.ferror_fn = fn; }
GLU_API void glu_setFeofFunc(FileFn fn) { g_state.feof_fn = fn; }
GLU_API void glu_setUCAFunc(intptr_t (*fn)(void)) { g_state.uca_fn = fn; }
GLU_API void glu_setPrintMessageFunc(PrintFn fn) { g_state.print_fn = fn; }
GLU_API void glu_setMessageLevel(int32_t level) { g_state.level = level; }
GLU_API void glu_setMessageSubLevel(int32_t level) { g_state.sublevel = level; }
GLU_API void *glu_assign_global_struct(void) { return &g_state; }

// Locales.

GLU_API int32_t glu_useIcuLocCall(void *map, const char *spec, int16_t *) {
  return FindLocale(static_cast<glu::Map *>(map), spec) != nullptr ? 1 : 0;
}

GLU_API void *glu_lc_open(void *map, const char *name, int16_t *st) {
  const glu::MapLocale *e = FindLocale(static_cast<glu::Map *>(map), name);
  if (e == nullptr) {
    glu::Raise(st, glu::kUnknown);
    return nullptr;
  }
  auto *h = static_cast<glu::Locale *>(glu::Alloc(sizeof(glu::Locale)));
  if (h == nullptr) {
    glu::Raise(st, glu::kNoMemory);
    return nullptr;
  }
  memset(h, 0, sizeof *h);
  CopyField(h->spec, sizeof h->spec, e->spec);
  CopyField(h->icu, sizeof h->icu, e->icu);
  int16_t rc = glu::OpenCodeset(h, e->converter);
  UErrorCode err = U_ZERO_ERROR;
  if (rc == glu::kOk) h->coll = ucol_open(h->icu, &err);
  if (rc != glu::kOk || U_FAILURE(err)) {
    if (h->cnv != nullptr) ucnv_close(h->cnv);
    glu::Free(h);
    glu::Raise(st, glu::kUnknown);
    return nullptr;
  }
  ++g_state.open_handles;
  return h;
}

GLU_API void glu_lc_close(void *handle) {
  auto *h = static_cast<glu::Locale *>(handle);
  if (h == nullptr) return;
  ucnv_close(h->cnv);
  ucol_close(h->coll);
  glu::Free(h);
  --g_state.open_handles;
}

GLU_API const char *glu_getICULocName(void *h) {
  return h != nullptr ? static_cast<glu::Locale *>(h)->icu : nullptr;
}

GLU_API const char *glu_getICUCvtName(void *h) {
  if (h == nullptr) return nullptr;
  UErrorCode e = U_ZERO_ERROR;
  return ucnv_getName(static_cast<glu::Locale *>(h)->cnv, &e);
}

GLU_API const char *glu_icuErrorName(int16_t st) {
  switch (st) {
    case glu::kOk:
      return u_errorName(U_ZERO_ERROR);
    case glu::kInvalid:
      return u_errorName(U_ILLEGAL_CHAR_FOUND);
    case glu::kShort:
      return u_errorName(U_TRUNCATED_CHAR_FOUND);
    case glu::kNoRoom:
      return u_errorName(U_BUFFER_OVERFLOW_ERROR);
    case glu::kNoMemory:
      return u_errorName(U_MEMORY_ALLOCATION_ERROR);
    case glu::kUnknown:
      return u_errorName(U_FILE_ACCESS_ERROR);
    default:
      return u_errorName(U_ILLEGAL_ARGUMENT_ERROR);
  }
}

GLU_API int32_t glu_mb_loc_max(void *h) { return static_cast<glu::Locale *>(h)->max_len; }
GLU_API int32_t glu_mb_loc_min(void *h) { return static_cast<glu::Locale *>(h)->min_len; }

// Converters: the target code set comes first, then the source.

GLU_API int32_t glu_useIcuCvtCall(void *map, uint16_t target, uint16_t source, int32_t,
                                  int16_t *) {
  auto *m = static_cast<glu::Map *>(map);
  return FindCodeset(m, target) != nullptr && FindCodeset(m, source) != nullptr ? 1 : 0;
}

GLU_API void *glu_cv_open(void *map, uint16_t target, uint16_t source, int16_t *st) {
  auto *m = static_cast<glu::Map *>(map);
  const char *to = FindCodeset(m, target);
  const char *from = FindCodeset(m, source);
  if (to == nullptr || from == nullptr) {
    glu::Raise(st, glu::kUnknown);
    return nullptr;
  }
  auto *cv = static_cast<Converter *>(glu::Alloc(sizeof(Converter)));
  if (cv == nullptr) {
    glu::Raise(st, glu::kNoMemory);
    return nullptr;
  }
  memset(cv, 0, sizeof *cv);
  int16_t rc = glu::OpenCodeset(&cv->source, from);
  if (rc == glu::kOk) rc = glu::OpenCodeset(&cv->target, to);
  if (rc != glu::kOk) {
    if (cv->source.cnv != nullptr) ucnv_close(cv->source.cnv);
    glu::Free(cv);
    glu::Raise(st, rc);
    return nullptr;
  }
  ++g_state.open_handles;
  return cv;
}

// Converts *in_len bytes at *in (in_len NULL: up to the first NUL byte)
// into *room bytes at *out (out NULL: only counts, taking the counted bytes
// off *room). A character cut by the end of the input stops the call with
// status 7 before it, so that the caller can carry it to the next call. 0,
// or -1 with the status; the cursors stand after the last character done.
GLU_API int32_t glu_cv_conv(void *handle, int32_t, const char **in, int32_t *in_len, char **out,
                            int32_t *room, int32_t *subst, int16_t *st) {
  auto *cv = static_cast<Converter *>(handle);
  if (cv == nullptr || in == nullptr || *in == nullptr || room == nullptr) {
    glu::Raise(st, glu::kNullArg);
    return -1;
  }
  if (subst != nullptr) *subst = 0;
  const char *p = *in;
  const char *const end = p + (in_len != nullptr ? *in_len : static_cast<int32_t>(strlen(p)));
  const bool writing = out != nullptr && *out != nullptr;
  int32_t rc = 0;
  while (p < end) {
    UChar32 cp;
    int32_t n = 0;
    int16_t r = glu::Decode(&cv->source, p, static_cast<int32_t>(end - p), &cp, &n);
    char buf[8];
    int32_t k = 0;
    if (r == glu::kOk && glu::Encode(&cv->target, cp, buf, &k) != glu::kOk) r = glu::kInvalid;
    if (r == glu::kOk && writing && k > *room) r = glu::kNoRoom;
    if (r != glu::kOk) {
      glu::Raise(st, r);
      rc = -1;
      break;
    }
    if (writing) {
      memcpy(*out, buf, static_cast<size_t>(k));
      *out += k;
    }
    *room -= k;
    p += n;
  }
  *in = p;
  if (in_len != nullptr) *in_len = static_cast<int32_t>(end - p);
  return rc;
}

GLU_API void glu_cv_close(void *handle) {
  auto *cv = static_cast<Converter *>(handle);
  if (cv == nullptr) return;
  ucnv_close(cv->source.cnv);
  ucnv_close(cv->target.cnv);
  glu::Free(cv);
  --g_state.open_handles;
}

// Output bytes per input byte at worst.
GLU_API double glu_iconv_expansion(void *handle) {
  auto *cv = static_cast<Converter *>(handle);
  if (cv == nullptr) return 1.0;
  int max_out = cv->target.max_len;
  int min_in = cv->source.min_len;
  return static_cast<double>(max_out) / (min_in > 0 ? min_in : 1);
}
