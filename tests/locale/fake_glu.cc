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
// Characters are UTF-8, enough for the display-width map: digits, blanks
// and other ASCII characters are printable, as is every longer character
// outside the private-use area U+E000-U+F8FF.
namespace {

int32_t Utf8Length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return -1;
}

uint32_t Utf8Classes(const unsigned char *s) {
  uint32_t bits = 0;
  if (s[0] < 0x80) {
    if (s[0] >= '0' && s[0] <= '9') bits |= 0x08;
    if (s[0] == ' ' || (s[0] >= '\t' && s[0] <= '\r')) bits |= 0x10;
    if (s[0] >= 0x20 && s[0] < 0x7F) bits |= 0x100;
    return bits;
  }
  bool pua = s[0] == 0xEE || s[0] == 0xEF ? (s[0] == 0xEE || s[1] < 0xA4) : false;
  return pua ? 0 : 0x100;
}

}  // namespace

FAKE_API int32_t glu_ismctype(void *, const char *s, int32_t, uint32_t mask, int16_t *) {
  char m[16];
  snprintf(m, sizeof m, "%u", mask);
  if (static_cast<unsigned char>(s[0]) < 0x80) Say("ismctype %s %s", s, m);
  return static_cast<int32_t>(Utf8Classes(reinterpret_cast<const unsigned char *>(s)) & mask);
}
FAKE_API int32_t glu_mblen(void *, const char *s, int32_t n, int16_t *st) {
  if (s == nullptr || s[0] == 0) return 0;
  int32_t len = Utf8Length(static_cast<unsigned char>(s[0]));
  if (len < 0 || n < len) {
    *st = len < 0 ? 1 : 7;
    return -1;
  }
  return len;
}
FAKE_API int32_t glu_getmb(void *, char *buf, int (*reader)(void *), void *arg, int32_t *n,
                           int16_t *st) {
  *n = 0;
  int b = reader(arg);
  if (b == -1) {
    *st = 16;
    return -1;
  }
  buf[(*n)++] = static_cast<char>(b);
  int32_t len = Utf8Length(static_cast<unsigned char>(b));
  if (len < 0) {
    *st = 1;
    return -1;
  }
  while (*n < len) {
    if ((b = reader(arg)) == -1) {
      *st = 7;
      return -1;
    }
    buf[(*n)++] = static_cast<char>(b);
  }
  return 0;
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
