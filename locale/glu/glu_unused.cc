// Entry points the locale library binds but never calls. They keep the
// names bound and answer nothing: each fails.
#include "locale/glu/glu_internal.h"

#define GLU_UNUSED(name) \
  GLU_API int32_t name(void) { return -1; }

GLU_UNUSED(glu_lc_clone)
GLU_UNUSED(glu_mbtouc)
GLU_UNUSED(glu_uctomb)
GLU_UNUSED(glu_mbstoucs)
GLU_UNUSED(glu_ucstombs)
GLU_UNUSED(glu_mbslen)
GLU_UNUSED(glu_mbsbytes)
GLU_UNUSED(glu_ucs32len)
GLU_UNUSED(glu_ucs32uc32)
GLU_UNUSED(glu_ucscoll)
GLU_UNUSED(glu_ucsxfrm)
GLU_UNUSED(glu_getmbsi)
GLU_UNUSED(glu_ucstoucs32)
