// Opening and closing conversion objects, and sizing output buffers.
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "locale/core/gl_cvo.h"
#include "locale/core/gl_datafile.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_icu.h"
#include "locale/core/gl_lc_spec.h"
#include "locale/core/gl_support.h"

namespace {

// All fields zero but the error number.
GlConverter ErrorConverter(int32_t error_number) {
  GlConverter cv;
  memset(&cv, 0, sizeof cv);
  cv.error_number = error_number;
  return cv;
}

}  // namespace

GlConverter _gl_cv_nomem = ErrorConverter(GL_ENOMEM);
GlConverter _gl_cv_nocodeset = ErrorConverter(GL_ESHORT);
GlConverter _gl_cv_badarg = ErrorConverter(GL_ENOFILE);

namespace {

constexpr size_t kNameMax = 1024;
constexpr uint16_t kUnknown = 0xe000;

bool IsStatic(const GlConverter *cv) {
  return cv == &_gl_cv_nomem || cv == &_gl_cv_nocodeset || cv == &_gl_cv_badarg;
}

int32_t Fail(GlConverter **out, GlConverter *with) {
  *out = with;
  return -1;
}

// A fresh converter stored in *out, or NULL with *out the memory error.
GlConverter *Allocate(GlConverter **out) {
  auto *cv = static_cast<GlConverter *>(_gl_malloc(sizeof(GlConverter)));
  if (cv == nullptr) {
    *out = &_gl_cv_nomem;
    return nullptr;
  }
  memset(cv, 0, sizeof *cv);
  *out = cv;
  return cv;
}

// Asks the ICU back end whether it converts target <- source; 1 yes.
int32_t IcuServes(uint16_t target, uint16_t source, GluStatus *st) {
  GlGluApi *api = _gl_glu_api();
  if (!_gl_glu_in_use() || api == nullptr) return 0;
  *st = 0;
  return api->useIcuCvtCall(glx_gluMap(), target, source, 0, st);
}

void IcuOpen(GlConverter *cv, uint16_t target, uint16_t source, GluStatus *st) {
  cv->icu_converter = _gl_glu_api()->cv_open(glx_gluMap(), target, source, st);
  if (*st <= 0) cv->icu_flag = 1;
}

bool Initialised() {
  int32_t error = 0;
  return gl_init_glu(&error) == 0;
}

}  // namespace

int32_t gl_iconv_open1(GlConverter **out, const char *fname) {
  if (out == nullptr) return -1;
  GlConverter *cv = Allocate(out);
  if (cv == nullptr) return -1;
  if (fname == nullptr) {
    cv->error_number = GL_ENOFILE;
    return -1;
  }
  return _gl_cv_read(cv, _gl_open_data_file(cv, fname, "cv", "9"));
}

int32_t gl_iconv_open(GlConverter **out, const char *target, const char *source) {
  if (out == nullptr) return -1;
  if (target == nullptr || source == nullptr || strcmp(target, source) == 0 ||
      strlen(source) + strlen(target) + 6 > kNameMax) {
    return Fail(out, &_gl_cv_badarg);
  }
  char name[kNameMax];
  snprintf(name, sizeof name, "%s_%s.cvo", source, target);
  return gl_iconv_open1(out, name);
}

int32_t gl_cv_load(GlConverter **out, const char *target_spec, const char *source_spec,
                   const char *registry_path, const char *dir) {
  if (out == nullptr) return -1;
  if (!Initialised() || target_spec == nullptr || source_spec == nullptr) {
    return Fail(out, &_gl_cv_badarg);
  }
  int32_t error = 0;
  uint16_t target = gl_lc_spec2cs_num(&error, target_spec, registry_path);
  uint16_t source = gl_lc_spec2cs_num(&error, source_spec, registry_path);
  if (target == kUnknown || source == kUnknown) return Fail(out, &_gl_cv_nocodeset);
  if (target == source) {
    *out = nullptr;
    return 0;
  }
  size_t size = (dir != nullptr ? strlen(dir) : 0) + 14;
  auto *name = static_cast<char *>(_gl_malloc(size));
  if (name == nullptr) return Fail(out, &_gl_cv_nomem);
  gl_cs_nums2cv_fname(nullptr, source, target, name, dir);
  GlConverter *cv = Allocate(out);
  if (cv == nullptr) {
    _gl_free(name);
    return -1;
  }
  GluStatus st = 0;
  if (IcuServes(target, source, &st) == 1) {
    if (st <= 0) IcuOpen(cv, target, source, &st);
    _gl_free(name);
    if (st <= 0) return 1;
    cv->error_number = GL_ENOFILE;
    return -1;
  }
  GlFile *f = dir != nullptr && *dir != '\0' ? _gl_open_path(cv, name)
                                             : _gl_open_data_file(cv, name, "cv", "9");
  _gl_free(name);
  return _gl_cv_read(cv, f) == 0 ? 1 : -1;
}

void _gl_cv_codeset_part(const char *spec, char *out) {
  out[0] = '\0';
  const char *dot = spec != nullptr ? strchr(spec, '.') : nullptr;
  if (dot == nullptr) return;
  size_t n = strcspn(dot + 1, " @");
  if (strlen(dot + 1) >= kNameMax - 1) return;
  memcpy(out, dot + 1, n);
  out[n] = '\0';
}

int32_t gl_cv_open(GlConverter **out, const char *target_spec, const char *source_spec) {
  if (out == nullptr) return -1;
  if (!Initialised()) return Fail(out, &_gl_cv_badarg);
  char target_part[kNameMax], source_part[kNameMax];
  _gl_cv_codeset_part(target_spec, target_part);
  _gl_cv_codeset_part(source_spec, source_part);
  if (target_part[0] == '\0' || source_part[0] == '\0') return Fail(out, &_gl_cv_badarg);
  if (strcmp(target_part, source_part) == 0) {
    *out = nullptr;
    return 0;
  }
  int32_t error = 0;
  uint16_t target = gl_lc_spec2cs_num(&error, target_spec, nullptr);
  uint16_t source = gl_lc_spec2cs_num(&error, source_spec, nullptr);
  GluStatus st = 0;
  if (target != kUnknown && source != kUnknown && IcuServes(target, source, &st) == 1) {
    // The back end's own refusal has no converter to be reported in.
    if (st > 0) return Fail(out, &_gl_cv_badarg);
    GlConverter *cv = Allocate(out);
    if (cv == nullptr) return -1;
    IcuOpen(cv, target, source, &st);
    if (st <= 0) return 1;
    cv->error_number = st;
    return -1;
  }
  return gl_iconv_open(out, target_part, source_part) == 0 ? 1 : -1;
}

int32_t gl_cv_unload(GlConverter *cv) {
  if (cv == nullptr) return -1;
  if (IsStatic(cv)) return 0;
  if (cv->icu_flag == 1) {
    cv->icu_flag = 0;
    if (GlGluApi *api = _gl_glu_api()) api->cv_close(cv->icu_converter);
  } else {
    _gl_ct_free(cv->table);
    _gl_ct_free(cv->shift_table);
  }
  _gl_free(cv->byte_table);
  _gl_free(cv);
  return 0;
}

double gl_iconv_expansion(GlConverter *cv) {
  if (cv == nullptr) return 1.0;  // no conversion: the bytes are copied
  if (cv->icu_flag == 1) {
    GlGluApi *api = _gl_glu_api();
    return api != nullptr ? api->iconv_expansion(cv->icu_converter) : 1.0;
  }
  return static_cast<double>(cv->expansion);
}

int32_t gl_cv_outbuflen(GlConverter *cv, int32_t n) {
  if (n < 0) {
    if (cv != nullptr && !IsStatic(cv)) cv->error_number = GL_ENEGATIVE;
    return -1;
  }
  double total = ceil(gl_iconv_expansion(cv)) * n;
  // A buffer size beyond the int range cannot be given; the largest is.
  return total >= INT32_MAX ? INT32_MAX : static_cast<int32_t>(total);
}
