// Reading a conversion-object file and choosing the converter's engine.
//
// The file is text; every line ends with a line feed:
//
//   line     content
//   1        "FILE_TYPE=codeset_conversion_object"
//   2        "COMPILER_VERSION=9"
//   3        any text, "=", the decimal count n of header lines (these three
//            included); lines 4..n are skipped. Header lines fit in 127 bytes.
//   n+1      "%d %d"  source stateful, target stateful
//   n+2      four shift sequences back to back: one hex digit c (0-4), then
//            c bytes as two hex digits each (shift-out, shift-in, two more)
//   n+3      "%d %d %d %d %d %d"  target min and max length (max 1-4), two
//            stored widths, source min and max length
//   n+4      "%d"  nonzero: build no single-byte table
//   n+5      the expansion factor (a floating-point number, no blank before)
//   then     the code table (see gl_codetable.cc), values of target max + 1
//            bytes written as: flag byte (2 hex digits), then flag & 7
//            target bytes (2 hex digits each); the rest of the value is zero
//   then     only for a stateful source: the table of the shifted state
//
// Every number is checked: a malformed body line, a shift sequence longer
// than 4 bytes, a value longer than the target's longest character or a
// target length outside 1-4 fails the load with error 11.
#include <math.h>
#include <string.h>

#include "locale/core/gl_cvo.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_support.h"
#include "locale/core/gl_tokens.h"

namespace {

constexpr int kLine = 128;

void SetError(GlConverter *cv, int32_t e) { *_gl_ext_errno(cv) = e; }

// One header line with its line feed; false when it does not fit or the file
// ends first.
bool HeaderLine(GlFile *f, char *buf) {
  if (_gl_ext_fgets(buf, kLine, f) == nullptr) return false;
  return _gl_chop_newline(buf) == 0;
}

bool ReadHeader(GlFile *f) {
  char line[kLine];
  if (!HeaderLine(f, line)) return false;
  if (strcmp(line, "FILE_TYPE=codeset_conversion_object") != 0) {
    _gl_debug_log("Invalid CVO file. Wrong FILE_TYPE.");
    return false;
  }
  if (!HeaderLine(f, line)) return false;
  if (strcmp(line, "COMPILER_VERSION=9") != 0) {
    _gl_debug_log("Invalid CVO file. Wrong Version.");
    return false;
  }
  if (!HeaderLine(f, line)) return false;
  const char *eq = strchr(line, '=');
  if (eq == nullptr) return false;
  long n = strtol(eq + 1, nullptr, 10);
  if (n < 3) return false;  // such a count can never be met
  for (long i = 3; i < n; ++i) {
    if (!HeaderLine(f, line)) return false;
  }
  return true;
}

// A decimal integer that must start with a digit or sign after at most one
// blank; token readers alone would turn a stray byte into 0.
bool ReadInt(GlFile *f, int32_t *v) {
  int c = _gl_ext_getc(f);
  if (c == ' ') c = _gl_ext_getc(f);
  bool ok = (c >= '0' && c <= '9') || c == '-' || c == '+';
  if (c != EOF) _gl_ext_ungetc(c, f);
  if (!ok) return false;
  *v = _gl_read_int(f);
  return true;
}

bool ReadInts(GlFile *f, int32_t *const *dest, int n) {
  for (int i = 0; i < n; ++i) {
    if (!ReadInt(f, dest[i])) return false;
  }
  return _gl_read_eol(f) != 0;
}

bool IsHex(int c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// count hex digits, each checked.
bool ReadHex(GlFile *f, int count, uint32_t *v) {
  *v = 0;
  for (int i = 0; i < count; ++i) {
    int c = _gl_ext_getc(f);
    if (!IsHex(c)) return false;
    *v = *v * 16 + static_cast<uint32_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
  }
  return true;
}

bool ReadShiftSequences(GlFile *f, GlConverter *cv) {
  for (int s = 0; s < 4; ++s) {
    uint32_t len = 0;
    if (!ReadHex(f, 1, &len) || len > 4) return false;
    cv->shift_seq_len[s] = static_cast<int32_t>(len);
    for (uint32_t i = 0; i < len; ++i) {
      uint32_t b = 0;
      if (!ReadHex(f, 2, &b)) return false;
      cv->shift_seq[s][i] = static_cast<unsigned char>(b);
    }
  }
  return _gl_read_eol(f) != 0;
}

bool ReadBody(GlFile *f, GlConverter *cv) {
  int32_t *flags[] = {&cv->source_stateful, &cv->target_stateful};
  int32_t *widths[] = {&cv->target_min_len, &cv->target_max_len, &cv->aux_width_1,
                       &cv->aux_width_2,    &cv->source_min_len, &cv->source_max_len};
  int32_t *skip[] = {&cv->skip_byte_table};
  if (!ReadInts(f, flags, 2) || !ReadShiftSequences(f, cv) || !ReadInts(f, widths, 6) ||
      !ReadInts(f, skip, 1)) {
    return false;
  }
  int c = _gl_ext_getc(f);
  if (c != EOF) _gl_ext_ungetc(c, f);
  if (!(c >= '0' && c <= '9') && c != '.' && c != '-' && c != '+') return false;
  double e = _gl_read_double(f);
  if (!_gl_read_eol(f) || !isfinite(e) || e < 0 || e > 1e6) return false;
  cv->expansion = static_cast<float>(e);
  return true;
}

// Creates and reads one code table; -1 with the converter's error set.
int32_t ReadTable(GlFile *f, GlConverter *cv, GlCodeTable **slot) {
  *slot = _gl_ct_create(cv->target_max_len + 1, 0, nullptr);
  if (*slot == nullptr) {
    SetError(cv, GL_ENOMEM);
    return -1;
  }
  if (_gl_ct_load(f, *slot, 4, _gl_cv_read_value) != 0) {
    int32_t e = _gl_ct_error(*slot);
    SetError(cv, e != 0 ? e : GL_EFORMAT);
    return -1;
  }
  return 0;
}

bool LittleEndian() {
  uint16_t one = 1;
  unsigned char first;
  memcpy(&first, &one, 1);
  return first != 0;
}

bool Fixed(int32_t min, int32_t max) { return min == max && (min == 2 || min == 4); }

// Every byte value through the single-byte engine; a byte the conversion
// does not map becomes the target's substitution byte, so that the whole
// table is defined.
void BuildByteTable(GlConverter *cv) {
  auto *table = static_cast<unsigned char *>(_gl_malloc(256));
  if (table == nullptr) return;  // the table is an optional shortcut
  unsigned char converted[256];
  bool ok[256];
  unsigned char substitute = '?';
  bool found = false;
  for (int b = 0; b < 256; ++b) {
    char in_byte = static_cast<char>(b);
    const char *in = &in_byte;
    int32_t len = 1, subst = 0;
    char *out = reinterpret_cast<char *>(&converted[b]);
    uint32_t room = 1;
    ok[b] = _gl_cv_conv_sbcs(cv, nullptr, &in, &len, &out, &room, &subst) == 0;
    if (ok[b] && subst && !found) {
      substitute = converted[b];
      found = true;
    }
  }
  for (int b = 0; b < 256; ++b) table[b] = ok[b] ? converted[b] : substitute;
  cv->byte_table = table;
  SetError(cv, 0);
}

}  // namespace

int _gl_cv_read_value(GlFile *f, void *dest, int32_t value_size) {
  auto *v = static_cast<unsigned char *>(dest);
  memset(v, 0, static_cast<size_t>(value_size));
  uint32_t flag = 0;
  if (!ReadHex(f, 2, &flag)) return -1;
  int32_t n = static_cast<int32_t>(flag & GL_CV_COUNT_MASK);
  if (n > value_size - 1) return -1;
  v[0] = static_cast<unsigned char>(flag);
  for (int32_t i = 1; i <= n; ++i) {
    uint32_t b = 0;
    if (!ReadHex(f, 2, &b)) return -1;
    v[i] = static_cast<unsigned char>(b);
  }
  return 0;
}

void _gl_cv_choose_engine(GlConverter *cv) {
  cv->byte_table = nullptr;
  bool le = LittleEndian();
  if (le && !cv->source_stateful && Fixed(cv->source_min_len, cv->source_max_len)) {
    cv->engine = _gl_cv_conv_wide_source;
  } else if (le && !cv->target_stateful && Fixed(cv->target_min_len, cv->target_max_len)) {
    cv->engine = _gl_cv_conv_wide_target;
  } else if (!cv->source_stateful && !cv->target_stateful && cv->source_max_len == 1 &&
             cv->target_max_len == 1) {
    cv->engine = _gl_cv_conv_sbcs;
    if (cv->skip_byte_table == 0) BuildByteTable(cv);
  } else if (cv->source_stateful || cv->target_stateful) {
    cv->engine = _gl_cv_conv_stateful;
  } else {
    cv->engine = _gl_cv_conv_general;
  }
}

int32_t _gl_cv_read(GlConverter *cv, GlFile *f) {
  cv->table = nullptr;
  cv->shift_table = nullptr;
  if (f == nullptr) {
    SetError(cv, GL_ENOFILE);
    return -1;
  }
  int32_t rc = -1;
  if (!ReadHeader(f)) {
    SetError(cv, GL_ENOFILE);
  } else if (!ReadBody(f, cv)) {
    SetError(cv, GL_EFORMAT);
  } else if (cv->target_max_len < 1 || cv->target_max_len > 4) {
    _gl_debug_log("cv->target_max_len should be in range 1..4");
    SetError(cv, GL_EFORMAT);
  } else if (ReadTable(f, cv, &cv->table) == 0 &&
             (!cv->source_stateful || ReadTable(f, cv, &cv->shift_table) == 0)) {
    rc = 0;
  }
  _gl_ext_fclose(f);
  if (rc != 0) return -1;
  _gl_cv_choose_engine(cv);
  _gl_debug_log("CVO file loaded successfully.");
  return 0;
}
