#include "locale/core/gl_glu.h"

#include <stddef.h>

const char *const _gl_glu_names[GL_GLU_NENTRIES] = {
    "glu_getIcuDataFileName", "glu_loadIcuData", "glu_loadMapData", "glu_unloadIcuData",
    "glu_unloadMapData", "glu_setMemoryFunctions", "glu_setFgetcFunc", "glu_setFseekFunc",
    "glu_setFtellFunc", "glu_setFerrorFunc", "glu_setFeofFunc", "glu_setUCAFunc",
    "glu_setPrintMessageFunc", "glu_setMessageLevel", "glu_setMessageSubLevel",
    "glu_assign_global_struct",
    "glu_useIcuLocCall", "glu_lc_open", "glu_lc_close", "glu_getICULocName", "glu_getICUCvtName",
    "glu_icuErrorName", "glu_mb_loc_max", "glu_mb_loc_min", "glu_useIcuCvtCall", "glu_cv_open",
    "glu_cv_conv", "glu_cv_close", "glu_iconv_expansion",
    "glu_mblen", "glu_mbtouc32", "glu_uc32tomb", "glu_mbstoucs32", "glu_ucs32tombs",
    "glu_ucs32toucs", "glu_mbsnext", "glu_mbsprev", "glu_mbsntsbytes", "glu_charoffset",
    "glu_mbschr", "glu_putmbsi", "glu_getmb", "glu_fgetuc32", "glu_ismctype", "glu_isuc32type",
    "glu_mbtoupper", "glu_mbtolower", "glu_uc32toupper", "glu_uc32tolower", "glu_mbstoupper",
    "glu_mbstoupper_len", "glu_mbstolower", "glu_mbstolower_len", "glu_ucs32toupper",
    "glu_ucs32tolower", "glu_case_conv_outbuflen", "glu_mbwidth", "glu_uc32width",
    "glu_mbswidth", "glu_ucs32width", "glu_mbspwidth", "glu_ucs32pwidth", "glu_mbscoll",
    "glu_mbsxfrm", "glu_ucs32coll", "glu_ucs32xfrm", "glu_mbsCollBound",
    "glu_mbsSortKeyCollBound",
    "glu_lc_clone", "glu_mbtouc", "glu_uctomb", "glu_mbstoucs", "glu_ucstombs", "glu_mbslen",
    "glu_mbsbytes", "glu_ucs32len", "glu_ucs32uc32", "glu_ucscoll", "glu_ucsxfrm",
    "glu_getmbsi", "glu_ucstoucs32",
};

static_assert(sizeof(GlGluApi) == GL_GLU_NENTRIES * sizeof(void (*)(void)),
              "one pointer per bound name");

namespace {
GlGluApi g_api;
bool g_bound;
}  // namespace

GlGluApi *_gl_glu_api(void) { return g_bound ? &g_api : nullptr; }
GlGluApi *_gl_glu_bind_area(void) { return &g_api; }
void _gl_glu_set_bound(int32_t bound) {
  g_bound = bound != 0;
  if (!g_bound) g_api = GlGluApi{};
}
