// Character streams over the external file functions or the caller's byte
// reader and writer.
#include "locale/core/gl_mbstream.h"

#include "locale/core/gl_chars_internal.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_mbchar.h"
#include "locale/core/gl_mbstring.h"

using namespace glchars;

namespace {

constexpr GlWchar kNoWide = static_cast<GlWchar>(-1);

int FileReader(void *fp) { return _gl_ext_fgetc(static_cast<GlFile *>(fp)); }

int32_t FileWriter(int32_t byte, void *fp) {
  char b = static_cast<char>(byte);
  return _gl_ext_fwrite(&b, 1, 1, static_cast<GlFile *>(fp)) == 1 ? 0 : -1;
}

// The error of a read that gave -1: end of file, stream error, or neither.
int32_t ReadFailure(GlFile *fp, int32_t at_eof) {
  if (_gl_ext_feof(fp)) return at_eof;
  if (_gl_ext_ferror(fp)) return GL_ESTREAM;
  return GL_EREAD;
}

// Writes len bytes of c through writer; *n_out counts the bytes written.
int32_t WriteBytes(GlLocale *loc, const char *c, int32_t len, GlByteWriter writer, void *arg,
                   int32_t *n_out) {
  for (int32_t i = 0; i < len; ++i) {
    if (writer(static_cast<unsigned char>(c[i]), arg) == -1) {
      SetError(loc, GL_ESTREAM);
      *n_out = i;
      return -1;
    }
  }
  *n_out = len;
  return 0;
}

// True when the len bytes at c are the line end: m - 1 zero bytes and 0x0A.
bool IsLineEnd(const char *c, int32_t len, int32_t m) {
  if (len != m) return false;
  for (int32_t i = 0; i + 1 < m; ++i) {
    if (c[i] != 0) return false;
  }
  return c[m - 1] == '\n';
}

}  // namespace

int32_t gl_getmb(GlLocale *loc, char *buf, GlByteReader reader, void *arg, int32_t *n_out) {
  if (const GlGluApi *icu = IcuCtype(loc)) {
    GluStatus st = 0;
    int32_t r = icu->getmb(IcuHandle(loc), buf, reader, arg, n_out, &st);
    IcuStatus(loc, st);
    return r;
  }
  int b = reader(arg);
  if (b == -1) {
    SetError(loc, GL_EEOF);
    *n_out = 0;
    return -1;
  }
  const GlCodeNode *node = &loc->class_table->root;
  for (int32_t stored = 0;;) {
    buf[stored++] = static_cast<char>(b);
    int state = NodeState(node, static_cast<unsigned char>(b));
    if (state == GL_CT_END) {
      *n_out = stored;
      return 0;
    }
    if (state != GL_CT_MORE || stored == 4 ||
        (node = NodeChild(node, static_cast<unsigned char>(b))) == nullptr) {
      SetError(loc, GL_EILSEQ);
      *n_out = stored;
      return -1;
    }
    b = reader(arg);
    if (b == -1) {
      SetError(loc, GL_ESHORT);
      *n_out = stored;
      return -1;
    }
  }
}

int32_t gl_full_fgetmb(GlLocale *loc, char *buf, GlFile *fp) {
  int32_t n = 0;
  if (gl_getmb(loc, buf, FileReader, fp, &n) == 0) return n;
  if (_gl_ext_feof(fp)) {
    SetError(loc, GL_EEOF);
  } else if (_gl_ext_ferror(fp)) {
    SetError(loc, GL_ESTREAM);
  }
  return -1;
}

GlWchar gl_full_fgetwc(GlLocale *loc, GlFile *fp) {
  if (const GlGluApi *icu = IcuCtype(loc)) {
    GluStatus st = 0;
    GlWchar r = icu->fgetuc32(IcuHandle(loc), fp, &st);
    IcuStatus(loc, st);
    return r;
  }
  int b = _gl_ext_fgetc(fp);
  if (b == -1) {
    SetError(loc, ReadFailure(fp, GL_EEOF));
    return kNoWide;
  }
  const GlCodeNode *node = &loc->class_table->root;
  GlWchar value = 0;
  for (int32_t stored = 1;; ++stored) {
    value = (value << 8) | static_cast<unsigned char>(b);
    int state = NodeState(node, static_cast<unsigned char>(b));
    if (state == GL_CT_END) return value;
    if (state != GL_CT_MORE || stored == 4 ||
        (node = NodeChild(node, static_cast<unsigned char>(b))) == nullptr) {
      SetError(loc, GL_EILSEQ);
      return kNoWide;
    }
    b = _gl_ext_fgetc(fp);
    if (b == -1) {
      SetError(loc, ReadFailure(fp, GL_ESHORT));
      return kNoWide;
    }
  }
}

char *gl_fgetmbs(GlLocale *loc, char *buf, int32_t size, GlFile *fp) {
  const int32_t m = gl_mb_loc_min(loc);
  char *out = buf;
  char *const end = buf + (size > 0 ? size : 0);
  for (;;) {
    char c[4];
    int32_t len = -1;
    if (loc->single_byte) {
      int b = _gl_ext_fgetc(fp);
      if ((b & 0xff) == 0xff && _gl_ext_feof(fp)) {
        SetError(loc, GL_EEOF);
      } else if (b == -1 && _gl_ext_ferror(fp)) {
        // A failed read is not the byte 0xFF: it would fill the line.
        SetError(loc, GL_ESTREAM);
      } else {
        c[0] = static_cast<char>(b);
        len = 1;
      }
    } else {
      len = gl_full_fgetmb(loc, c, fp);
    }
    if (len == -1) return nullptr;
    if (IsLineEnd(c, len, m)) {
      if (end - out < m) break;
      memcpy(out, c, static_cast<size_t>(m));
      out += m;
      if (end - out < m) break;
      memset(out, 0, static_cast<size_t>(m));
      return buf;
    }
    if (end - out < len) break;
    memcpy(out, c, static_cast<size_t>(len));
    out += len;
  }
  SetError(loc, GL_E2BIG);
  return nullptr;
}

GlWchar *gl_fgetwcs(GlLocale *loc, GlWchar *wbuf, int32_t n, GlFile *fp) {
  int32_t used = 0;
  for (;;) {
    GlWchar wc;
    if (loc->single_byte) {
      int b = _gl_ext_fgetc(fp);
      loc->last_char = b;
      if (b == -1) {
        SetError(loc, GL_EEOF);
        return nullptr;
      }
      wc = static_cast<GlWchar>(b);
    } else {
      wc = gl_full_fgetwc(loc, fp);
      if (wc == kNoWide) return nullptr;
    }
    if (used >= n) break;
    wbuf[used++] = wc;
    if (wc == 0x0A) {
      if (used >= n) break;
      wbuf[used] = 0;
      return wbuf;
    }
  }
  SetError(loc, GL_E2BIG);
  return nullptr;
}

int32_t gl_putmb(GlLocale *loc, const char *c, int32_t n, GlByteWriter writer, void *arg,
                 int32_t *n_out) {
  if (c == nullptr) return -1;
  if (n < 0) n = gl_mb_loc_max(loc);
  int32_t len;
  if (loc->single_byte) {
    if (n < 1) {
      SetError(loc, GL_ESHORT);
      return -1;
    }
    len = c[0] == 0 ? 0 : 1;
  } else {
    len = gl_full_mblen(loc, c, n);
  }
  if (len == -1) {
    *n_out = 0;
    return -1;
  }
  if (len == 0) {
    const int32_t m = gl_mb_loc_min(loc);
    for (int32_t i = 0; i < m; ++i) {
      if (writer(static_cast<unsigned char>(c[0]), arg) == -1) {
        SetError(loc, GL_ESTREAM);
        *n_out = 0;
        return -1;
      }
    }
    *n_out = m;
    return 0;
  }
  return WriteBytes(loc, c, len, writer, arg, n_out);
}

int32_t _zel_gl_putmb(GlLocale *loc, const char *c, int32_t n, GlByteWriter writer, void *arg,
                      int32_t *n_out) {
  int32_t len;
  if (loc->single_byte) {
    if (c == nullptr) {
      len = 0;
    } else if (n < 1) {
      SetError(loc, GL_ESHORT);
      return -1;
    } else {
      len = 1;
    }
  } else {
    len = _zel_gl_full_mblen(loc, c, n);
  }
  if (len == -1) {
    *n_out = 0;
    return -1;
  }
  return WriteBytes(loc, c, len, writer, arg, n_out);
}

char *gl_fputmb(GlLocale *loc, const char *c, GlFile *fp) {
  int32_t n = 0;
  if (gl_putmb(loc, c, 4, FileWriter, fp, &n) != 0) return nullptr;
  return const_cast<char *>(c);
}

GlWchar gl_fputwc(GlLocale *loc, GlWchar wc, GlFile *fp) {
  char buf[4];
  gl_mbsterm(loc, buf);
  if (loc->single_byte) {
    // Only values 0-255 are characters of a single-byte code set; the low
    // byte of a larger value would be another character.
    if (wc > 0xff) {
      SetError(loc, GL_EILSEQ);
      return kNoWide;
    }
    buf[0] = static_cast<char>(wc);
  } else if (gl_full_wctomb(loc, buf, wc) == -1) {
    SetError(loc, GL_EILSEQ);
    return kNoWide;
  }
  return gl_fputmb(loc, buf, fp) != nullptr ? wc : kNoWide;
}

int32_t gl_fputmbs(GlLocale *loc, const char *s, GlFile *fp) {
  if (s == nullptr) {
    SetError(loc, GL_ENULLARG);
    return -1;
  }
  const char *p = s;
  while (gl_ismbsterm(loc, p) == 0) {
    p = loc->single_byte ? p + 1 : gl_full_mbsnext(loc, p);
    if (p == nullptr) {
      SetError(loc, GL_EILSEQ);
      return -1;
    }
  }
  int32_t count = static_cast<int32_t>(p - s);
  if (count > 0 && _gl_ext_fwrite(s, 1, count, fp) < count) {
    SetError(loc, GL_ESTREAM);
    return -1;
  }
  return 0;
}

int32_t gl_fputwcs(GlLocale *loc, const GlWchar *ws, GlFile *fp) {
  if (ws == nullptr) {
    SetError(loc, GL_ENULLARG);
    return -1;
  }
  for (; *ws != 0; ++ws) {
    if (gl_fputwc(loc, *ws, fp) == kNoWide) return -1;
  }
  return 0;
}
