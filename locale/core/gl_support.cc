#include "locale/core/gl_support.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>

#include "locale/core/gl_ext.h"

void *_gl_malloc(uint64_t size) {
  if (size == 0) return nullptr;
  return _gl_ext_malloc(size);
}

void _gl_free(void *p) {
  if (p != nullptr) _gl_ext_free(p);
}

void gl_destroystring(char *s) { _gl_free(s); }

const char *_gl_getenv_nonempty(const char *name) {
  const char *v = _gl_ext_getenv(name);
  return (v != nullptr && *v != '\0') ? v : nullptr;
}

int32_t _gl_ndigits(int32_t value, int32_t base) {
  if (base < 2) return 1;
  // One division first, so the magnitude of INT_MIN is never formed.
  int32_t q = value / base;
  int32_t n = 1;
  while (q != 0) {
    q /= base;
    ++n;
  }
  return n;
}

int32_t _gl_undigits(uint32_t value, int32_t base) {
  if (base < 2) return 1;
  uint32_t q = value / static_cast<uint32_t>(base);
  int32_t n = 1;
  while (q != 0) {
    q /= static_cast<uint32_t>(base);
    ++n;
  }
  return n;
}

int32_t _gl_line_incomplete(const char *line) {
  size_t n = strlen(line);
  return (n > 0 && line[n - 1] != '\n') ? 1 : 0;
}

int32_t _gl_chop_newline(char *line) {
  size_t n = strlen(line);
  if (n > 0 && line[n - 1] == '\n') {
    line[n - 1] = '\0';
    return 0;
  }
  return 1;
}

void _gl_assert_fail(const char *file, long line) {
  fprintf(stderr, "Assert in %s at line %ld failed.\n", file, line);
  exit(1);
}

void _gl_cchar_add(const GlCountedChar *c, int32_t delta, GlCountedChar *out) {
  *out = *c;
  int len = out->length;
  if (len < 1 || len > 4) return;
  if (delta >= 0) {
    uint64_t carry = static_cast<uint32_t>(delta);
    for (int i = len - 1; i >= 0 && carry != 0; --i) {
      uint64_t sum = out->bytes[i] + carry;
      out->bytes[i] = static_cast<unsigned char>(sum & 0xff);
      carry = sum >> 8;
    }
  } else {
    int64_t borrow = -static_cast<int64_t>(delta);
    for (int i = len - 1; i >= 0; --i) {
      int64_t v = static_cast<int64_t>(out->bytes[i]) - (borrow & 0xff);
      borrow >>= 8;
      if (v < 0) {
        v += 256;
        ++borrow;
      }
      out->bytes[i] = static_cast<unsigned char>(v);
    }
  }
}

int32_t _gl_cchar_equal(const GlCountedChar *a, const GlCountedChar *b) {
  if (a->length != b->length) return 0;
  int len = a->length < 0 ? 0 : (a->length > 4 ? 4 : a->length);
  return memcmp(a->bytes, b->bytes, static_cast<size_t>(len)) == 0 ? 1 : 0;
}

uint32_t _gl_cchar_value(const GlCountedChar *c) {
  uint32_t v = 0;
  int len = c->length < 0 ? 0 : (c->length > 4 ? 4 : c->length);
  for (int i = 0; i < len; ++i) v = (v << 8) | c->bytes[i];
  return v;
}

// ---- debug log ----

namespace {

bool g_log_ready;
bool g_log_file;
bool g_log_stdout;

constexpr const char kLogName[] = "lxr.log";

// A value switches a log on when its first two letters are o and n.
bool SwitchedOn(const char *v) {
  return v != nullptr && (v[0] == 'o' || v[0] == 'O') && (v[1] == 'n' || v[1] == 'N');
}

void SetUpLog() {
  if (SwitchedOn(_gl_ext_getenv("LXRLOG"))) {
    g_log_file = true;
    if (FILE *f = fopen(kLogName, "ae")) {
      time_t now = time(nullptr);
      char when[64];
      if (ctime_r(&now, when) == nullptr) strcpy(when, "\n");
      fprintf(f, "----\n");
      fprintf(f, "LXR log started %s", when);
      fprintf(f, "----\n");
      fclose(f);
    }
  }
  if (SwitchedOn(_gl_ext_getenv("LXRDEBUG"))) g_log_stdout = true;
}

}  // namespace

void _gl_debug_log(const char *message) {
  if (!g_log_ready) {
    SetUpLog();
    g_log_ready = true;
  }
  if (g_log_file) {
    if (FILE *f = fopen(kLogName, "ae")) {
      fprintf(f, "%s\n", message);
      fclose(f);
    }
  }
  if (g_log_stdout) printf("%s: %s\n", "LXR", message);
}

void _gl_debug_logf(const char *format, ...) {
  // Nothing is formatted while both logs are off (after the first set-up).
  if (g_log_ready && !g_log_file && !g_log_stdout) return;
  va_list ap;
  va_start(ap, format);
  va_list ap2;
  va_copy(ap2, ap);
  int n = vsnprintf(nullptr, 0, format, ap);
  va_end(ap);
  std::string buf(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) vsnprintf(buf.data(), buf.size() + 1, format, ap2);
  va_end(ap2);
  _gl_debug_log(buf.c_str());
}
