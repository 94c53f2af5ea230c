// The entry points of the ICU-wrapper libraries, as the library binds them
// by name (dlsym) in the last wrapper library loaded.
//
// Contract: every call that takes a status passes the address of a signed
// 16-bit value set to 0 beforehand; a value above 0 afterwards becomes the
// library error number of the calling locale. The handle passed is LC_CTYPE's
// ICU locale, LC_COLLATE's for collation and glu_mbschr, and none for
// glu_uc32width, glu_ucs32width, glu_ucs32pwidth and glu_isuc32type.
// glu_isuc32type and glu_case_conv_outbuflen take no status.
#pragma once

#include <stdint.h>

#include "platform/api.h"

TV_BEGIN_C

typedef int16_t GluStatus;
typedef void *GluHandle;  // an ICU locale, converter, map or data handle

typedef void *(*GluMallocFn)(void *ctx, uint64_t size);
typedef void *(*GluReallocFn)(void *ctx, void *p, uint64_t size);
typedef void (*GluFreeFn)(void *ctx, void *p);
typedef void *(*GluCallocFn)(void *ctx, uint64_t count, uint64_t size);
typedef int (*GluFgetcFn)(void *f);
typedef int (*GluFseekFn)(void *f, int32_t offset, int32_t origin);
typedef int32_t (*GluFtellFn)(void *f);
typedef int (*GluFerrorFn)(void *f);
typedef int (*GluFeofFn)(void *f);
typedef intptr_t (*GluUCAFn)(void);
typedef void (*GluPrintFn)(const char *message);
typedef int (*GluByteReader)(void *arg);

// The bound entry points, in binding order.
typedef struct GlGluApi {
  // Set-up (16).
  int32_t (*getIcuDataFileName)(char *buf, int32_t size);
  GluHandle (*loadIcuData)(const char *dir, const char *name, GluStatus *st);
  GluHandle (*loadMapData)(const char *dir, GluStatus *st);
  void (*unloadIcuData)(GluHandle data);
  void (*unloadMapData)(GluHandle map);
  int32_t (*setMemoryFunctions)(GluMallocFn m, GluReallocFn r, GluFreeFn f, GluCallocFn c);
  void (*setFgetcFunc)(GluFgetcFn fn);
  void (*setFseekFunc)(GluFseekFn fn);
  void (*setFtellFunc)(GluFtellFn fn);
  void (*setFerrorFunc)(GluFerrorFn fn);
  void (*setFeofFunc)(GluFeofFn fn);
  void (*setUCAFunc)(GluUCAFn fn);
  void (*setPrintMessageFunc)(GluPrintFn fn);
  void (*setMessageLevel)(int32_t level);
  void (*setMessageSubLevel)(int32_t level);
  void *(*assign_global_struct)(void);

  // Locales and converters (13).
  int32_t (*useIcuLocCall)(GluHandle map, const char *normspec, GluStatus *st);
  GluHandle (*lc_open)(GluHandle map, const char *name, GluStatus *st);
  void (*lc_close)(GluHandle h);
  const char *(*getICULocName)(GluHandle h);
  const char *(*getICUCvtName)(GluHandle h);
  const char *(*icuErrorName)(GluStatus st);
  int32_t (*mb_loc_max)(GluHandle h);
  int32_t (*mb_loc_min)(GluHandle h);
  // Target code set first, then the source.
  int32_t (*useIcuCvtCall)(GluHandle map, uint16_t target, uint16_t source, int32_t zero,
                           GluStatus *st);
  GluHandle (*cv_open)(GluHandle map, uint16_t target, uint16_t source, GluStatus *st);
  int32_t (*cv_conv)(GluHandle cv, int32_t flush, const char **in, int32_t *inlen, char **out,
                     int32_t *room, int32_t *subst, GluStatus *st);
  void (*cv_close)(GluHandle cv);
  double (*iconv_expansion)(GluHandle cv);

  // Delegated operations (39).
  int32_t (*mblen)(GluHandle h, const char *s, int32_t n, GluStatus *st);
  int32_t (*mbtouc32)(GluHandle h, uint32_t *wc, const char *s, int32_t n, GluStatus *st);
  int32_t (*uc32tomb)(GluHandle h, char *out, uint32_t wc, GluStatus *st);
  int64_t (*mbstoucs32)(GluHandle h, uint32_t *wcs, int64_t count, const char *mbs, int32_t len,
                        GluStatus *st);
  int64_t (*ucs32tombs)(GluHandle h, char *mbs, int64_t count, const uint32_t *wcs, int32_t len,
                        GluStatus *st);
  int32_t (*ucs32toucs)(void *a, void *b, void *c, void *d, void *e);
  char *(*mbsnext)(GluHandle h, const char *s, int32_t n, GluStatus *st);
  char *(*mbsprev)(GluHandle h, const char *start, const char *pos, GluStatus *st);
  int32_t (*mbsntsbytes)(GluHandle h, const char *s, int32_t n, GluStatus *st);
  int32_t (*charoffset)(GluHandle h, const char *start, const char *pos, int32_t *len, GluStatus *st);
  char *(*mbschr)(GluHandle hcoll, const char *s, int32_t n, const char *c, int32_t clen,
                  GluStatus *st);
  int32_t (*putmbsi)(GluHandle h, char *s, int32_t i, const char *c, GluStatus *st);
  int32_t (*getmb)(GluHandle h, char *buf, GluByteReader reader, void *arg, int32_t *n, GluStatus *st);
  uint32_t (*fgetuc32)(GluHandle h, void *f, GluStatus *st);
  int32_t (*ismctype)(GluHandle h, const char *s, int32_t n, uint32_t mask, GluStatus *st);
  int32_t (*isuc32type)(uint32_t wc, uint32_t mask);
  int16_t (*mbtoupper)(GluHandle h, char *out, const char *in, int32_t n, GluStatus *st);
  int16_t (*mbtolower)(GluHandle h, char *out, const char *in, int32_t n, GluStatus *st);
  uint32_t (*uc32toupper)(GluHandle h, uint32_t wc, GluStatus *st);
  uint32_t (*uc32tolower)(GluHandle h, uint32_t wc, GluStatus *st);
  int32_t (*mbstoupper)(GluHandle h, char *out, const char *in, GluStatus *st);
  int32_t (*mbstoupper_len)(GluHandle h, char *out, const char *in, int32_t n, GluStatus *st);
  int32_t (*mbstolower)(GluHandle h, char *out, const char *in, GluStatus *st);
  int32_t (*mbstolower_len)(GluHandle h, char *out, const char *in, int32_t n, GluStatus *st);
  int32_t (*ucs32toupper)(GluHandle h, uint32_t *out, const uint32_t *in, GluStatus *st);
  int32_t (*ucs32tolower)(GluHandle h, uint32_t *out, const uint32_t *in, GluStatus *st);
  int32_t (*case_conv_outbuflen)(GluHandle h, int32_t n);
  int32_t (*mbwidth)(GluHandle h, const char *s, GluStatus *st);
  int32_t (*uc32width)(uint32_t wc, GluStatus *st);
  int32_t (*mbswidth)(GluHandle h, const char *s, int32_t n, GluStatus *st);
  int32_t (*ucs32width)(const uint32_t *ws, int32_t n, GluStatus *st);
  int32_t (*mbspwidth)(GluHandle h, const char *s, const char *end, GluStatus *st);
  int32_t (*ucs32pwidth)(const uint32_t *ws, const uint32_t *end, GluStatus *st);
  int32_t (*mbscoll)(GluHandle hc, const char *s1, int32_t l1, const char *s2, int32_t l2,
                     GluStatus *st);
  int32_t (*mbsxfrm)(GluHandle hc, char *out, int64_t size, const char *s, GluStatus *st);
  int32_t (*ucs32coll)(GluHandle hc, const uint32_t *s1, int32_t l1, const uint32_t *s2,
                       int32_t l2, GluStatus *st);
  int32_t (*ucs32xfrm)(GluHandle hc, uint32_t *out, int32_t size, const uint32_t *ws,
                       GluStatus *st);
  int32_t (*mbsCollBound)(GluHandle hc, const char *prefix, int32_t upper, char *out,
                          int32_t size, GluStatus *st);
  int32_t (*mbsSortKeyCollBound)(GluHandle hc, const char *prefix, int32_t upper, char *key,
                                 int32_t size, GluStatus *st);

  // Bound but never called by the library (13); their shape is the wrapper's.
  void (*lc_clone)(void);
  void (*mbtouc)(void);
  void (*uctomb)(void);
  void (*mbstoucs)(void);
  void (*ucstombs)(void);
  void (*mbslen)(void);
  void (*mbsbytes)(void);
  void (*ucs32len)(void);
  void (*ucs32uc32)(void);
  void (*ucscoll)(void);
  void (*ucsxfrm)(void);
  void (*getmbsi)(void);
  void (*ucstoucs32)(void);
} GlGluApi;

enum { GL_GLU_NENTRIES = 81 };

// The exported names, in the order of the members of GlGluApi.
extern const char *const _gl_glu_names[GL_GLU_NENTRIES];

// The bound wrapper, or NULL while the ICU back end is not bound.
GlGluApi *_gl_glu_api(void);
// For the ICU back end: the table it fills by name, and the switch that
// makes _gl_glu_api hand it out (0 after the libraries are released).
GlGluApi *_gl_glu_bind_area(void);
void _gl_glu_set_bound(int32_t bound);

TV_END_C
