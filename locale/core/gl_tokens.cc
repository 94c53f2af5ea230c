#include "locale/core/gl_tokens.h"

#include <ctype.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "locale/core/gl_errors.h"
#include "locale/core/gl_support.h"

namespace {

int HexValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

bool IsDigit(int c) { return c >= '0' && c <= '9'; }

// The longest number text _gl_read_int keeps.
constexpr size_t kIntText = 40;
constexpr size_t kDoubleText = 80;

}  // namespace

void _gl_skip_blank(GlFile *f) {
  int c = _gl_ext_fgetc(f);
  if (c != ' ' && c != EOF) _gl_ext_ungetc(c, f);
}

int32_t _gl_read_eol(GlFile *f) {
  int c = _gl_ext_fgetc(f);
  if (c == '\n') return 1;
  if (c != EOF) _gl_ext_ungetc(c, f);
  return 0;
}

int32_t _gl_read_int(GlFile *f) {
  _gl_skip_blank(f);
  std::string text;
  int c = _gl_ext_fgetc(f);
  if (!(IsDigit(c) || c == '-' || c == '+')) return 0;
  text.push_back(static_cast<char>(c));
  while ((c = _gl_ext_fgetc(f)) != EOF) {
    if (!IsDigit(c)) {
      _gl_ext_ungetc(c, f);
      break;
    }
    if (text.size() < kIntText) text.push_back(static_cast<char>(c));
  }
  // atol of a 32-bit run-time: out-of-range values saturate.
  long long v = strtoll(text.c_str(), nullptr, 10);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

double _gl_read_double(GlFile *f) {
  std::string text;
  int c;
  while (text.size() < kDoubleText && (c = _gl_ext_fgetc(f)) != EOF) {
    if (!(IsDigit(c) || c == 'E' || c == 'e' || c == '.' || c == '-' || c == '+')) {
      _gl_ext_ungetc(c, f);
      break;
    }
    text.push_back(static_cast<char>(c));
  }
  return atof(text.c_str());
}

uint32_t _gl_read_hex(GlFile *f, int32_t count) {
  if (count > 8) count = 8;
  uint32_t v = 0;
  for (int32_t i = 0; i < count; ++i) v = v * 16 + static_cast<uint32_t>(HexValue(_gl_ext_fgetc(f)));
  return v;
}

unsigned char _gl_read_hex_byte(GlFile *f) {
  int hi = HexValue(_gl_ext_getc(f));
  int lo = HexValue(_gl_ext_getc(f));
  return static_cast<unsigned char>(hi * 16 + lo);
}

int32_t _gl_read_word(char *buf, int32_t size, GlFile *f) {
  if (size <= 0) return -1;
  int32_t n = 0;
  while (n < size - 1) {
    int c = _gl_ext_getc(f);
    if (c == EOF) {
      buf[n] = '\0';
      return -1;
    }
    if (isspace(c)) {
      _gl_ext_ungetc(c, f);
      buf[n] = '\0';
      return 0;
    }
    buf[n++] = static_cast<char>(c);
  }
  buf[n] = '\0';
  return -1;
}

char *_gl_read_string(GlFile *f, int32_t *error) {
  int32_t len = _gl_read_int(f);
  _gl_skip_blank(f);
  if (len < 0) {
    // Not a valid string; nothing is allocated or written.
    *error = GL_EFORMAT;
    return nullptr;
  }
  auto *s = static_cast<char *>(_gl_malloc(static_cast<uint64_t>(len) + 4));
  if (s == nullptr) {
    *error = GL_ENOMEM;
    return nullptr;
  }
  // A damaged length must not read on past the end of the file.
  bool cut = false;
  for (int32_t i = 0; i < len && !cut; ++i) {
    s[i] = static_cast<char>(_gl_read_hex_byte(f));
    cut = _gl_ext_feof(f) != 0;
  }
  for (size_t i = 0; i < 4; ++i) s[static_cast<size_t>(len) + i] = '\0';
  if (cut || !_gl_read_eol(f)) {
    _gl_free(s);
    *error = GL_ENOFILE;
    return nullptr;
  }
  return s;
}

int32_t _gl_read_int_list(GlFile *f, int32_t *values, int32_t *error) {
  values[0] = _gl_read_int(f);
  _gl_skip_blank(f);
  for (int32_t i = 1; i <= values[0]; ++i) {
    if (i > 15) {
      if (*error == 0) *error = GL_ENEGATIVE;
      return -1;
    }
    values[i] = _gl_read_int(f);
    _gl_skip_blank(f);
  }
  if (!_gl_read_eol(f)) {
    if (*error == 0) *error = GL_EFORMAT;
    return -1;
  }
  return 0;
}

int32_t _gl_skip_space(GlFile *f) {
  int c;
  while ((c = _gl_ext_fgetc(f)) != EOF) {
    if (!isspace(c)) {
      _gl_ext_ungetc(c, f);
      return c;
    }
  }
  return -1;
}

uint32_t _gl_ipow(uint32_t base, int32_t n) {
  uint32_t r = 1;
  for (int32_t i = 0; i < n; ++i) r *= base;
  return r;
}

double _gl_dpow(double x, int32_t n) {
  double r = 1.0;
  if (n >= 0) {
    for (int32_t i = 0; i < n; ++i) r *= x;
  } else {
    for (int32_t i = 0; i < -static_cast<int64_t>(n); ++i) r /= x;
  }
  return r;
}
