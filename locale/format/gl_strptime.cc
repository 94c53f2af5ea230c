// The entries of time parsing: the wide entry runs the stages on a working
// copy of the caller's record; the multibyte front converts format and
// text to wide characters and maps the wide end back to the text.
#include "locale/format/gl_strptime.h"

#include <string.h>

#include "locale/core/gl_calendar_kinds.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_ext.h"
#include "locale/core/gl_mbstring.h"
#include "locale/core/gl_support.h"
#include "locale/format/gl_calendar.h"
#include "locale/format/gl_strftime.h"

namespace {

// A multibyte string in wide characters: the local buffer of 256, else a
// grown allocation (kept in *grown for the caller to free).
const GlWchar *Widen(GlLocale *loc, const char *s, GlWchar (&local)[256], GlWchar **grown) {
  int32_t r = loc->mbstowcs(loc, local, s, 256);
  if (r < 0) return nullptr;
  if (r < 256) return local;
  *grown = _gl_mbstowcs_grow(loc, s);
  return *grown;
}

}  // namespace

GlWchar *gl_wcsptime_internal(GlLocale *loc, const GlWchar *text, const GlWchar *format,
                              GlTimeRecord *rec, GlCurrDate today, int32_t century) {
  GlParsedTime pt;
  memset(&pt, 0, sizeof pt);
  const GlWchar *end = _gl_ptime_engine(loc, text, format, &pt, century);
  if (end == nullptr) return nullptr;
  if (rec == nullptr) {
    *_gl_ext_errno(loc) = GL_ENULLARG;
    return nullptr;
  }
  GlTimeFields work;
  _gl_time_to_fields(rec, rec->month, &work);
  if (loc->time.calendar > GL_CAL_GREGORIAN) {
    // The caller's gregorian date is the default of every date field the
    // text does not give: in the locale's calendar, so that a text of the
    // time alone keeps the date.
    GlTimeFields local;
    memset(&local, 0, sizeof local);
    local.mday = 1;
    int32_t saved = *_gl_ext_errno(loc);
    if (gl_cal_gregorian_to_local(loc, &work, &local) == 0) work = local;
    *_gl_ext_errno(loc) = saved;
  }
  if (_gl_ptime_apply(loc, &pt, &work, today, century) != 0) return nullptr;
  GlTimeFields out;
  memset(&out, 0, sizeof out);
  out.mday = 1;
  if (gl_cal_local_to_gregorian(loc, &work, &out) != 0) return nullptr;
  if (_gl_ptime_validate(loc, &pt, &out) != 0) return nullptr;
  _gl_fields_to_time(&out, rec);
  return const_cast<GlWchar *>(end);
}

GlWchar *gl_wcsptime(GlLocale *loc, const GlWchar *text, const GlWchar *format,
                     GlTimeRecord *rec, int32_t century) {
  *_gl_ext_errno(loc) = 0;
  return gl_wcsptime_internal(loc, text, format, rec, GlCurrDate{0, 0, 0}, century);
}

char *gl_mbsptime_internal(GlLocale *loc, const char *text, const char *format, GlTimeRecord *rec,
                           GlCurrDate today, int32_t century) {
  if (format == nullptr) {
    *_gl_ext_errno(loc) = GL_EMISSING;
    return nullptr;
  }
  if (text == nullptr) {
    *_gl_ext_errno(loc) = GL_ENULLARG;
    return nullptr;
  }
  if (loc->mbstowcs == nullptr) {  // no LC_CTYPE data
    *_gl_ext_errno(loc) = GL_ENOCTYPE;
    return nullptr;
  }
  GlWchar format_local[256], text_local[256];
  GlWchar *format_grown = nullptr, *text_grown = nullptr;
  char *result = nullptr;
  const GlWchar *wformat = Widen(loc, format, format_local, &format_grown);
  const GlWchar *wtext = wformat != nullptr ? Widen(loc, text, text_local, &text_grown) : nullptr;
  if (wtext != nullptr) {
    const GlWchar *wend = gl_wcsptime_internal(loc, wtext, wformat, rec, today, century);
    if (wend != nullptr) {
      const char *p = text;
      for (const GlWchar *w = wtext; w < wend && p != nullptr; ++w) {
        p = loc->single_byte ? p + 1 : gl_full_mbsnext(loc, p);
      }
      result = const_cast<char *>(p);
    }
  }
  _gl_free(text_grown);
  _gl_free(format_grown);
  return result;
}

char *gl_mbsptime(GlLocale *loc, const char *text, const char *format, GlTimeRecord *rec,
                  int32_t century) {
  *_gl_ext_errno(loc) = 0;
  return gl_mbsptime_internal(loc, text, format, rec, GlCurrDate{0, 0, 0}, century);
}
