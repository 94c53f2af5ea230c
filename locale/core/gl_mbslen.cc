// Lengths of multibyte and wide strings, with and without trailing blanks,
// and cutting trailing blanks off.
#include <string.h>

#include "locale/core/gl_chars_internal.h"
#include "locale/core/gl_ctype.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_mbchar.h"
#include "locale/core/gl_mbstring.h"

using namespace glchars;

namespace {

const unsigned char *U(const char *s) { return reinterpret_cast<const unsigned char *>(s); }

void SetErrorIf(GlLocale *loc, int32_t e) {
  if (loc != nullptr) SetError(loc, e);
}

// Class bits of the multibyte character at p.
uint32_t MbClass(GlLocale *loc, const char *p) {
  if (loc->class_map != nullptr) return loc->class_map[U(p)[0]];
  return _gl_im_ismctype(loc, p, 0xffff);
}

uint32_t WcClass(GlLocale *loc, GlWchar wc) {
  if (loc->class_map != nullptr) {
    if (wc > 0xff) {
      SetError(loc, GL_EILSEQ);
      return 0;
    }
    return loc->class_map[wc];
  }
  return _gl_im_iswctype(loc, wc, 0xffff);
}

bool MbTrailingBlank(GlLocale *loc, const char *p) {
  uint32_t bits = MbClass(loc, p);
  return (bits & GL_CLASS_BLANK) && !(bits & GL_CLASS_CNTRL);
}

// The length so far up to the last non-blank unit, and the blank units seen
// since.
struct TrailCount {
  int32_t result = 0;
  int32_t pending = 0;
  void Add(bool blank, int32_t units) {
    if (blank) {
      pending += units;
    } else {
      result += pending + units;
      pending = 0;
    }
  }
};

// Walks a multibyte string; step(p, left) gives the length of the character
// at p (left: bytes before the end of counted input, -1 for NUL-terminated
// input, which ends at the terminator); count(p, len) sees each character.
// 0 at the end, -1 when a step failed.
template <class Step, class Count>
int32_t WalkChars(GlLocale *loc, const char *s, int32_t len, Step step, Count count) {
  const char *p = s;
  for (;;) {
    int32_t left = len == -1 ? -1 : static_cast<int32_t>(s + len - p);
    if (len == -1 ? gl_ismbsterm(loc, p) != 0 : left <= 0) return 0;
    int32_t n = step(p, left);
    if (n < 0) return -1;
    count(p, n);
    p += n;
  }
}

bool NullOrBadLength(GlLocale *loc, const void *s, int32_t len) {
  if (s == nullptr) {
    SetErrorIf(loc, GL_ENULLARG);
    return true;
  }
  if (len < -1) {
    SetErrorIf(loc, GL_EBADARG);
    return true;
  }
  return false;
}

// Steps of the trailing-blank lengths: NUL-terminated input by the next
// character, counted input by the length within the bytes left (0 counts
// as m).
int32_t NextStep(GlLocale *loc, const char *p) {
  if (loc->single_byte) return 1;
  const char *q = gl_full_mbsnext(loc, p);
  return q != nullptr ? static_cast<int32_t>(q - p) : -1;
}

int32_t CountedStep(GlLocale *loc, const char *p, int32_t left) {
  if (loc->single_byte) return 1;
  int32_t n = _zel_gl_full_mblen(loc, p, left);
  return n == 0 ? gl_mb_loc_min(loc) : n;
}

}  // namespace

int32_t gl_wcslen(const GlWchar *ws) {
  int32_t n = 0;
  while (ws != nullptr && ws[n] != 0) ++n;
  return n;
}

int32_t gl_wcsbytes(const GlWchar *ws) { return 4 * (gl_wcslen(ws) + 1); }

int32_t gl_mbsbytes(GlLocale *loc, const char *s) {
  if (s == nullptr) return 0;
  if (loc->single_byte) return static_cast<int32_t>(strlen(s)) + 1;
  const char *p = s;
  for (;;) {
    int32_t n = gl_full_mblen(loc, p, 4);
    if (n < 0) return 0;
    if (n == 0) break;
    p += n;
  }
  return static_cast<int32_t>(p - s) + gl_mb_loc_min(loc);
}

int32_t _gl_im_mbslen(GlLocale *loc, const char *s) {
  int32_t count = 0;
  for (const char *p = s;; ++count) {
    int32_t n = gl_full_mblen(loc, p, 4);
    if (n < 0) return -1;
    if (n == 0) return count;
    p += n;
  }
}

int32_t _zel_gl_im_mbfslen(GlLocale *loc, const char *s, int32_t len) {
  if (len < -1) {
    SetError(loc, GL_EBADARG);
    return -1;
  }
  int32_t m = gl_mb_loc_min(loc);
  if (len == -1) len = gl_mbsbytes(loc, s) - m;
  if (len < 0) {
    SetError(loc, GL_EILSEQ);
    return -1;
  }
  int32_t count = 0;
  for (const char *p = s; p < s + len; ++count) {
    // Measured within the bytes left: a last character that runs past the
    // end is invalid, and nothing after the end is read.
    int32_t left = static_cast<int32_t>(s + len - p);
    int32_t n = loc->single_byte ? (*p != 0 ? 1 : 0) : gl_full_mblen(loc, p, left);
    if (n < 0) {
      SetError(loc, GL_EILSEQ);
      return -1;
    }
    p += n == 0 ? m : n;
    if (p > s + len) {
      SetError(loc, GL_EILSEQ);
      return -1;
    }
  }
  return count;
}

int32_t gl_mbsntslen(GlLocale *loc, const char *s) {
  if (s == nullptr) {
    SetError(loc, GL_ENULLARG);
    return -1;
  }
  TrailCount t;
  int32_t rc = WalkChars(
      loc, s, -1, [&](const char *p, int32_t) { return NextStep(loc, p); },
      [&](const char *p, int32_t) { t.Add(MbTrailingBlank(loc, p), 1); });
  return rc < 0 ? -1 : t.result;
}

int32_t _zel_gl_mbsntslen(GlLocale *loc, const char *s, int32_t len) {
  if (NullOrBadLength(loc, s, len)) return -1;
  TrailCount t;
  int32_t rc = WalkChars(
      loc, s, len,
      [&](const char *p, int32_t left) {
        return len == -1 ? NextStep(loc, p) : CountedStep(loc, p, left);
      },
      [&](const char *p, int32_t) { t.Add(MbTrailingBlank(loc, p), 1); });
  return rc < 0 ? -1 : t.result;
}

int32_t gl_mbsntsbytes(GlLocale *loc, const char *s) {
  if (const GlGluApi *icu = IcuCtype(loc)) {
    GluStatus st = 0;
    int32_t r = icu->mbsntsbytes(IcuHandle(loc), s, -1, &st);
    IcuStatus(loc, st);
    return r;
  }
  if (s == nullptr) {
    SetError(loc, GL_ENULLARG);
    return -1;
  }
  TrailCount t;
  int32_t rc = WalkChars(
      loc, s, -1,
      [&](const char *p, int32_t) {
        int32_t n = _gl_ct_mblen(loc->class_table, U(p), loc);
        return n > 0 ? n : -1;
      },
      [&](const char *p, int32_t n) { t.Add(MbTrailingBlank(loc, p), n); });
  return rc < 0 ? -1 : t.result;
}

int32_t _zel_gl_mbsntsbytes(GlLocale *loc, const char *s, int32_t len) {
  if (NullOrBadLength(loc, s, len)) return -1;
  TrailCount t;
  int32_t rc = WalkChars(
      loc, s, len,
      [&](const char *p, int32_t left) {
        if (loc->single_byte) return 1;
        int32_t n = _zel_gl_full_mblen(loc, p, len == -1 ? 4 : left);
        return n > 0 ? n : -1;
      },
      [&](const char *p, int32_t n) { t.Add(MbTrailingBlank(loc, p), n); });
  return rc < 0 ? -1 : t.result;
}

int32_t gl_wcsntslen(GlLocale *loc, const GlWchar *ws) { return _zel_gl_wcsntslen(loc, ws, -1); }

int32_t _zel_gl_wcsntslen(GlLocale *loc, const GlWchar *ws, int32_t len) {
  if (NullOrBadLength(loc, ws, len)) return -1;
  TrailCount t;
  for (int32_t i = 0; len == -1 ? ws[i] != 0 : i < len; ++i) {
    uint32_t bits = WcClass(loc, ws[i]);
    t.Add((bits & GL_CLASS_SPACE) && !(bits & GL_CLASS_CNTRL), 1);
  }
  return t.result;
}

char *gl_mbsntstrunc(GlLocale *loc, char *s) {
  if (s == nullptr) {
    SetError(loc, GL_ENULLARG);
    return nullptr;
  }
  char *run = nullptr;
  int32_t rc = WalkChars(
      loc, s, -1, [&](const char *p, int32_t) { return NextStep(loc, p); },
      [&](const char *p, int32_t) {
        if (!MbTrailingBlank(loc, p)) {
          run = nullptr;
        } else if (run == nullptr) {
          run = const_cast<char *>(p);
        }
      });
  if (rc < 0 || run == nullptr) return nullptr;
  gl_mbsterm(loc, run);
  return run;
}

void gl_wcsntstrunc(GlLocale *loc, GlWchar *ws) {
  if (ws == nullptr) {
    SetErrorIf(loc, GL_ENULLARG);
    return;
  }
  GlWchar *run = nullptr;
  for (GlWchar *p = ws; *p != 0; ++p) {
    if (!(WcClass(loc, *p) & GL_CLASS_SPACE)) {
      run = nullptr;
    } else if (run == nullptr) {
      run = p;
    }
  }
  if (run != nullptr) *run = 0;
}
