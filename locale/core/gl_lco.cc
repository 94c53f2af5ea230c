// Locale-object files.
//
// A text file of lines ended by "\n":
//
//   line 1        "FILE_TYPE=locale_object"
//   line 2        "COMPILER_VERSION=11" (another version: error 51)
//   line 3        "key=n", n (decimal) the number of header lines
//   n - 3 lines   skipped unread, each at most 127 bytes with its "\n"
//   code set      the code-set name, at most 19 characters
//   sections      "### LC_CTYPE", "### LC_COLLATE", "### LC_NUMERIC",
//                 "### LC_MONETARY", "### LC_TIME", "### LC_MESSAGES", each
//                 a marker line followed by its section; lines before a
//                 marker are skipped
//
// The LC_CTYPE section:
//
//   class table   a code table in its text form, 4-hex-digit class bits
//   "%d\n"        the number of classes the locale defines
//   per class     "%d %s\n" class number k (class bit 0x800 << k), name
//   case table    a code table, 4-hex-digit indexes into the case pairs
//   " %d"         the number of pairs d
//   per pair      "\n" then 16 hex digits: upper, lower (8 each, 0 none)
//   rest          "\n" alone (case factor 4.0) or " %lf\n" (the factor)
//
// Every number read is checked before it is used: a case index beyond the
// pairs, or a case factor that is not a number in (0, 4], is error 11.
#include "locale/core/gl_lco.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "locale/core/gl_chars_internal.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_lco_sections.h"
#include "locale/core/gl_registry.h"
#include "locale/core/gl_support.h"
#include "locale/core/gl_tokens.h"

using namespace glchars;

namespace {

constexpr int kLine = 128;
constexpr double kMaxCaseFactor = 4.0;  // no character grows beyond 4 bytes from 1

const char *const kMarkers[GL_NCATEGORIES] = {
    "### LC_CTYPE\n", "### LC_COLLATE\n", "### LC_NUMERIC\n",
    "### LC_MONETARY\n", "### LC_TIME\n", "### LC_MESSAGES\n",
};

// Reads one line of at most size - 1 bytes that must end in "\n"; the line
// feed is removed.
bool ReadLine(GlFile *f, char *buf, int32_t size) {
  if (_gl_ext_fgets(buf, size, f) == nullptr) return false;
  return _gl_chop_newline(buf) == 0;
}

// Reads lines up to and including the marker line of a category. Only whole
// lines are compared: a longer line is read in pieces, none of which can
// pass for the marker.
bool FindMarker(GlFile *f, int32_t category) {
  const char *marker = kMarkers[category - GL_CTYPE];
  char buf[kLine];
  bool line_start = true;
  while (_gl_ext_fgets(buf, sizeof buf, f) != nullptr) {
    if (line_start && strcmp(buf, marker) == 0) return true;
    size_t n = strlen(buf);
    line_start = n > 0 && buf[n - 1] == '\n';
  }
  return false;
}

// Largest case index of a value block of 256 slots.
uint16_t BlockMax(const GlCodeTable *t, const unsigned char *block) {
  uint16_t max = 0;
  for (int b = 0; b < 256; ++b) {
    uint16_t v = Value16(block + (static_cast<size_t>(b) << t->shift));
    if (v > max) max = v;
  }
  return max;
}

uint16_t NodeMax(const GlCodeTable *t, const GlCodeNode *n) {
  uint16_t max = n->values != nullptr ? BlockMax(t, n->values) : 0;
  for (int32_t i = 0; n->children != nullptr && i < n->child_count; ++i) {
    if (n->children[i] == nullptr) continue;
    uint16_t c = NodeMax(t, n->children[i]);
    if (c > max) max = c;
  }
  return max;
}

// Largest value of a table of 16-bit values, default included.
uint16_t TableMax(const GlCodeTable *t) {
  uint16_t max = Value16(t->default_value);
  uint16_t nodes = 0;
  if ((t->flags & GL_CT_SHARED) && t->shared_values != nullptr) {
    for (int32_t i = 0; i < t->n_value_blocks; ++i) {
      uint16_t v = BlockMax(t, t->shared_values[i]);
      if (v > nodes) nodes = v;
    }
  } else {
    nodes = NodeMax(t, &t->root);
  }
  return nodes > max ? nodes : max;
}

int32_t Fail(GlLocale *loc, int32_t e) {
  SetError(loc, e);
  return -1;
}

int32_t LoadTable(GlFile *f, GlLocale *loc, GlCodeTable *t) {
  if (_gl_ct_load(f, t, 4, _gl_ct_read_hex16) == 0) return 0;
  return Fail(loc, _gl_ct_error(t));
}

constexpr int32_t kMaxClasses = 256;

int32_t ReadClasses(GlFile *f, GlLocale *loc) {
  loc->class_count = _gl_read_int(f);
  if (!_gl_read_eol(f)) return Fail(loc, GL_EFORMAT);
  // A class is a bit of a 32-bit mask: a damaged count must not size a
  // huge allocation.
  if (loc->class_count > kMaxClasses) {
    loc->class_count = 0;
    return Fail(loc, GL_EFORMAT);
  }
  if (loc->class_count <= 0) {
    loc->classes = nullptr;
    return 0;
  }
  uint64_t bytes = static_cast<uint64_t>(loc->class_count) * sizeof(GlClassEntry);
  loc->classes = static_cast<GlClassEntry *>(_gl_malloc(bytes));
  if (loc->classes == nullptr) {
    loc->class_count = 0;
    return Fail(loc, GL_ENOMEM);
  }
  memset(loc->classes, 0, bytes);
  char word[kLine];
  for (int32_t i = 0; i < loc->class_count; ++i) {
    loc->classes[i].number = _gl_read_int(f);
    _gl_skip_blank(f);
    if (_gl_read_word(word, sizeof word, f) == -1) return Fail(loc, GL_ENOMEM);
    if (!_gl_read_eol(f)) return Fail(loc, GL_EFORMAT);
    size_t n = strlen(word) + 1;
    loc->classes[i].name = static_cast<char *>(_gl_malloc(n));
    if (loc->classes[i].name == nullptr) {
      for (int32_t j = 0; j < i; ++j) {
        _gl_free(loc->classes[j].name);
        loc->classes[j].name = nullptr;
      }
      return Fail(loc, GL_ENOMEM);
    }
    memcpy(loc->classes[i].name, word, n);
  }
  return 0;
}

int32_t ReadCasePairs(GlFile *f, GlLocale *loc) {
  int32_t d = _gl_read_int(f);
  // An index is 16 bits wide: more pairs could never be reached.
  if (d < 0 || d > 0xffff) return Fail(loc, GL_EFORMAT);
  auto *pairs = static_cast<GlCasePair *>(
      _gl_malloc((static_cast<uint64_t>(d) + 1) * sizeof(GlCasePair)));
  if (pairs == nullptr) return Fail(loc, GL_ENOMEM);
  memset(pairs, 0, (static_cast<size_t>(d) + 1) * sizeof(GlCasePair));
  loc->case_pairs = pairs;
  for (int32_t i = 1; i <= d; ++i) {
    if (!_gl_read_eol(f)) return Fail(loc, GL_EFORMAT);
    pairs[i].upper = _gl_read_hex(f, 8);
    pairs[i].lower = _gl_read_hex(f, 8);
  }
  if (TableMax(loc->case_table) > d) return Fail(loc, GL_EFORMAT);
  return 0;
}

// The rest of the last pair's line: empty for 4.0, else the factor. A
// factor that would make callers size their buffers too small (0, negative,
// not a number) or that no code set can reach is refused.
int32_t ReadCaseFactor(GlFile *f, GlLocale *loc) {
  char line[kLine];
  if (!ReadLine(f, line, sizeof line)) return Fail(loc, GL_EFORMAT);
  if (line[0] == '\0') {
    loc->case_factor = 4.0;
    return 0;
  }
  double factor = 0;
  if (sscanf(line, "%lf", &factor) != 1) return Fail(loc, GL_EFORMAT);
  if (!isfinite(factor) || factor <= 0 || factor > kMaxCaseFactor) return Fail(loc, GL_EFORMAT);
  loc->case_factor = factor;
  return 0;
}

using NumericReader = int32_t (*)(GlFile *, GlNumericInfo *, int32_t *);
using Finisher = int32_t (*)(GlLocale *);

// Reads and finishes one of LC_NUMERIC, LC_MONETARY, LC_TIME, LC_MESSAGES
// (the stream after its marker): 0, or 1 with the error in the locale.
int32_t ReadTextCategory(GlFile *f, GlLocale *loc, int32_t category) {
  static const char *const kWhat[] = {"numeric", "monetary", "time", "messages"};
  const char *what = kWhat[category - GL_NUMERIC];
  int32_t error = 0;
  int32_t rc;
  Finisher finish;
  switch (category) {
    case GL_NUMERIC:
      rc = _gl_read_numeric(f, &loc->numeric, &error);
      finish = _gl_finish_numeric;
      break;
    case GL_MONETARY:
      rc = _gl_read_monetary(f, &loc->numeric, &error);
      finish = _gl_finish_monetary;
      break;
    case GL_TIME:
      rc = _gl_read_time(f, &loc->time, &error);
      finish = _gl_finish_time;
      break;
    default:
      rc = _gl_read_messages(f, &loc->numeric, &error);
      finish = _gl_finish_messages;
      break;
  }
  if (rc != 0) {
    SetError(loc, error);
    _gl_debug_logf("Failed to read %s information\n", what);
    return 1;
  }
  if (finish(loc) != 1) {
    _gl_debug_logf("Failed to initialize %s information\n", what);
    return 1;
  }
  return 0;
}

// Reads the section of one category, the stream after its marker.
int32_t ReadSection(GlFile *f, GlLocale *loc, int32_t category) {
  if (category == GL_CTYPE) return _gl_lco_read_ctype(f, loc) == 0 ? 0 : 1;
  if (category == GL_COLLATE) return _gl_read_lc_collate(f, loc) == 0 ? 0 : 1;
  return ReadTextCategory(f, loc, category);
}

}  // namespace

int32_t _gl_lco_read_header(GlFile *f, char *codeset, int32_t *error) {
  char line[kLine];
  *error = GL_EFORMAT;
  if (!ReadLine(f, line, sizeof line) || strcmp(line, "FILE_TYPE=locale_object") != 0) return 0;
  if (!ReadLine(f, line, sizeof line)) return 0;
  if (strcmp(line, "COMPILER_VERSION=11") != 0) {
    *error = GL_EVERSION;
    return 0;
  }
  if (!ReadLine(f, line, sizeof line)) return 0;
  const char *eq = strchr(line, '=');
  if (eq == nullptr) return 0;
  long n = strtol(eq + 1, nullptr, 10);
  // Fewer than three header lines can never be counted off.
  if (n < 3) return 0;
  for (long i = 3; i < n; ++i) {
    if (!ReadLine(f, line, sizeof line)) return 0;
  }
  if (!ReadLine(f, codeset, GL_CODESET_SIZE)) return 0;
  *error = GL_ENOERROR;
  return 1;
}

int32_t _gl_lco_read_all(GlFile *f, GlLocale *loc) {
  char codeset[GL_CODESET_SIZE];
  int32_t error = 0;
  if (!_gl_lco_read_header(f, codeset, &error)) {
    SetError(loc, error);
    return 1;
  }
  for (auto &entry : loc->codesets) memcpy(entry, codeset, GL_CODESET_SIZE);
  for (int32_t c = GL_CTYPE; c <= GL_MESSAGES; ++c) {
    if (!FindMarker(f, c)) {
      SetError(loc, GL_EFORMAT);
      return 1;
    }
    if (ReadSection(f, loc, c) != 0) return 1;
  }
  return 0;
}

int32_t _gl_lco_read_category(GlLocale *loc, int32_t category, GlFile *f) {
  if (category < GL_CTYPE || category > GL_MESSAGES) {
    SetError(loc, GL_EBADARG);
    return 1;
  }
  char *entry = loc->codesets[category - GL_CTYPE];
  int32_t error = 0;
  if (!_gl_lco_read_header(f, entry, &error)) {
    SetError(loc, error);
    return 1;
  }
  if (category != GL_CTYPE) {
    uint16_t ctype = gl_cs_name2cs_num(loc, loc->codesets[0], nullptr);
    if (gl_cs_name2cs_num(loc, entry, nullptr) != ctype) {
      SetError(loc, GL_ECTYPECS);
      return 1;
    }
  }
  if (!FindMarker(f, category)) {
    SetError(loc, GL_EFORMAT);
    return 1;
  }
  return ReadSection(f, loc, category);
}

int32_t _gl_lco_read_ctype(GlFile *f, GlLocale *loc) {
  if (loc->class_table == nullptr || loc->case_table == nullptr) return Fail(loc, GL_ENOMEM);
  if (LoadTable(f, loc, loc->class_table) != 0) return -1;
  if (ReadClasses(f, loc) != 0) return -1;
  if (LoadTable(f, loc, loc->case_table) != 0) return -1;
  if (ReadCasePairs(f, loc) != 0) return -1;
  return ReadCaseFactor(f, loc);
}

int32_t _gl_sl_wctomb(GlLocale *loc, char *out, GlWchar wc) {
  return EncodeByTable(loc, loc->coll_positions, out, wc);
}

uint16_t _gl_ct_max_value16(const GlCodeTable *t) { return TableMax(t); }
