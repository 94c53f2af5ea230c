// A stand-in ICU-wrapper library for the tests of the back-end loader. It
// exports every glu_ entry point by name and reports the calls that matter
// on standard output as "fake: ..." lines. Built once whole and once
// without glu_ucstoucs32 (FAKE_GLU_PARTIAL).
//
// Behaviour set through the environment:
//   FAKE_GLU_MEMFN        result of glu_setMemoryFunctions (default 0)
//   FAKE_GLU_DATA_STATUS  status left by glu_loadIcuData (default 0)
//   FAKE_GLU_MAP_STATUS   status left by glu_loadMapData (default 0)
//   FAKE_GLU_USELOC       answer of glu_useIcuLocCall (default 1)
//   FAKE_GLU_OPEN_STATUS  status left by glu_lc_open (default 0)
//   FAKE_GLU_COLL_STATUS  status left by the collation calls (default 0)
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define FAKE_API extern "C" __attribute__((visibility("default")))

namespace {

typedef void *(*MallocFn)(void *ctx, uint64_t size);
typedef void (*FreeFn)(void *ctx, void *p);
typedef int (*FileFn)(void *f);

MallocFn g_malloc;
FreeFn g_free;
FileFn g_fgetc;
int g_global_record;

int16_t EnvStatus(const char *name) {
  const char *v = getenv(name);
  return static_cast<int16_t>(v != nullptr ? atoi(v) : 0);
}

// Handles come from the library's own allocator, so that a wrong memory
// callback shows.
void *NewHandle(const char *tag) {
  auto *h = static_cast<char *>(g_malloc(nullptr, 32));
  snprintf(h, 32, "%s", tag);
  return h;
}

void Say(const char *format, const char *a = "", const char *b = "") {
  printf("fake: ");
  printf(format, a, b);
  printf("\n");
  fflush(stdout);
}

}  // namespace

FAKE_API int32_t glu_getIcuDataFileName(char *buf, int32_t size) {
  snprintf(buf, static_cast<size_t>(size), "%s", "icudt.dat");
  return 0;
}
FAKE_API void *glu_loadIcuData(const char *dir, const char *name, int16_t *st) {
  Say("loadIcuData %s %s", dir, name);
  *st = EnvStatus("FAKE_GLU_DATA_STATUS");
  return *st > 0 ? nullptr : NewHandle("data");
}
FAKE_API void *glu_loadMapData(const char *dir, int16_t *st) {
  Say("loadMapData %s", dir);
  *st = EnvStatus("FAKE_GLU_MAP_STATUS");
  return *st > 0 ? nullptr : NewHandle("map");
}
FAKE_API void glu_unloadIcuData(void *data) {
  Say("unloadIcuData %s", static_cast<char *>(data));
  g_free(nullptr, data);
}
FAKE_API void glu_unloadMapData(void *map) {
  Say("unloadMapData %s", static_cast<char *>(map));
  g_free(nullptr, map);
}
FAKE_API int32_t glu_setMemoryFunctions(MallocFn m, void *r, FreeFn f, void *c) {
  g_malloc = m;
  g_free = f;
  Say("setMemoryFunctions %s", m != nullptr && r != nullptr && f != nullptr && c != nullptr
                                   ? "all"
                                   : "missing");
  return EnvStatus("FAKE_GLU_MEMFN");
}
FAKE_API void glu_setFgetcFunc(FileFn fn) { g_fgetc = fn; }
FAKE_API void glu_setFseekFunc(void *) {}
FAKE_API void glu_setFtellFunc(void *) {}
FAKE_API void glu_setFerrorFunc(void *) {}
FAKE_API void glu_setFeofFunc(void *) {}
FAKE_API void glu_setUCAFunc(void *) {}
FAKE_API void glu_setPrintMessageFunc(void (*fn)(const char *)) {
  if (fn != nullptr) fn("fake_glu: print function installed");
}
FAKE_API void glu_setMessageLevel(int32_t level) {
  char v[16];
  snprintf(v, sizeof v, "%d", level);
  Say("setMessageLevel %s", v);
}
FAKE_API void glu_setMessageSubLevel(int32_t) {}
FAKE_API void *glu_assign_global_struct(void) { return &g_global_record; }

FAKE_API int32_t glu_useIcuLocCall(void *, const char *, int16_t *) {
  const char *v = getenv("FAKE_GLU_USELOC");
  return v != nullptr ? atoi(v) : 1;
}
FAKE_API void *glu_lc_open(void *map, const char *name, int16_t *st) {
  Say("lc_open %s in %s", name, static_cast<char *>(map));
  *st = EnvStatus("FAKE_GLU_OPEN_STATUS");
  Say("fgetc callback %s", g_fgetc != nullptr ? "set" : "null");
  return NewHandle(name);
}
FAKE_API void glu_lc_close(void *h) {
  Say("lc_close %s", static_cast<char *>(h));
  g_free(nullptr, h);
}
FAKE_API const char *glu_getICULocName(void *h) { return static_cast<char *>(h); }
FAKE_API const char *glu_getICUCvtName(void *) { return "fake-converter"; }
FAKE_API const char *glu_icuErrorName(int16_t) { return "FAKE_ERROR"; }
FAKE_API int32_t glu_ismctype(void *, const char *s, int32_t, uint32_t mask, int16_t *) {
  char m[16];
  snprintf(m, sizeof m, "%u", mask);
  Say("ismctype %s %s", s, m);
  return 1;
}

// Collation: each call is reported; the results are fixed.
FAKE_API int32_t glu_ucs32coll(void *h, const uint32_t *, int32_t, const uint32_t *, int32_t,
                               int16_t *st) {
  Say("ucs32coll %s", static_cast<char *>(h));
  *st = EnvStatus("FAKE_GLU_COLL_STATUS");
  return -1;
}
FAKE_API int32_t glu_ucs32xfrm(void *h, uint32_t *, int32_t, const uint32_t *, int16_t *st) {
  Say("ucs32xfrm %s", static_cast<char *>(h));
  *st = EnvStatus("FAKE_GLU_COLL_STATUS");
  return 7;
}
FAKE_API int32_t glu_mbsCollBound(void *h, const char *prefix, int32_t upper, char *out,
                                  int32_t size, int16_t *st) {
  Say("mbsCollBound %s %s", static_cast<char *>(h), upper ? "upper" : "lower");
  *st = EnvStatus("FAKE_GLU_COLL_STATUS");
  snprintf(out, static_cast<size_t>(size), "%s~", prefix);
  return static_cast<int32_t>(strlen(out));
}
FAKE_API int32_t glu_mbsSortKeyCollBound(void *h, const char *, int32_t upper, char *, int32_t,
                                         int16_t *st) {
  Say("mbsSortKeyCollBound %s %s", static_cast<char *>(h), upper ? "upper" : "lower");
  *st = EnvStatus("FAKE_GLU_COLL_STATUS");
  return 9;
}

// The rest are bound but not exercised here.
#define FAKE_STUB(name) \
  FAKE_API int32_t name(void) { return 0; }
FAKE_STUB(glu_mb_loc_max)
FAKE_STUB(glu_mb_loc_min)
FAKE_STUB(glu_useIcuCvtCall)
FAKE_STUB(glu_cv_open)
FAKE_STUB(glu_cv_conv)
FAKE_STUB(glu_cv_close)
FAKE_STUB(glu_iconv_expansion)
FAKE_STUB(glu_mblen)
FAKE_STUB(glu_mbtouc32)
FAKE_STUB(glu_uc32tomb)
FAKE_STUB(glu_mbstoucs32)
FAKE_STUB(glu_ucs32tombs)
FAKE_STUB(glu_ucs32toucs)
FAKE_STUB(glu_mbsnext)
FAKE_STUB(glu_mbsprev)
FAKE_STUB(glu_mbsntsbytes)
FAKE_STUB(glu_charoffset)
FAKE_STUB(glu_mbschr)
FAKE_STUB(glu_putmbsi)
FAKE_STUB(glu_getmb)
FAKE_STUB(glu_fgetuc32)
FAKE_STUB(glu_isuc32type)
FAKE_STUB(glu_mbtoupper)
FAKE_STUB(glu_mbtolower)
FAKE_STUB(glu_uc32toupper)
FAKE_STUB(glu_uc32tolower)
FAKE_STUB(glu_mbstoupper)
FAKE_STUB(glu_mbstoupper_len)
FAKE_STUB(glu_mbstolower)
FAKE_STUB(glu_mbstolower_len)
FAKE_STUB(glu_ucs32toupper)
FAKE_STUB(glu_ucs32tolower)
FAKE_STUB(glu_case_conv_outbuflen)
FAKE_STUB(glu_mbwidth)
FAKE_STUB(glu_uc32width)
FAKE_STUB(glu_mbswidth)
FAKE_STUB(glu_ucs32width)
FAKE_STUB(glu_mbspwidth)
FAKE_STUB(glu_ucs32pwidth)
FAKE_STUB(glu_mbscoll)
FAKE_STUB(glu_mbsxfrm)
FAKE_STUB(glu_lc_clone)
FAKE_STUB(glu_mbtouc)
FAKE_STUB(glu_uctomb)
FAKE_STUB(glu_mbstoucs)
FAKE_STUB(glu_ucstombs)
FAKE_STUB(glu_mbslen)
FAKE_STUB(glu_mbsbytes)
FAKE_STUB(glu_ucs32len)
FAKE_STUB(glu_ucs32uc32)
FAKE_STUB(glu_ucscoll)
FAKE_STUB(glu_ucsxfrm)
FAKE_STUB(glu_getmbsi)
#ifndef FAKE_GLU_PARTIAL
FAKE_STUB(glu_ucstoucs32)
#endif
