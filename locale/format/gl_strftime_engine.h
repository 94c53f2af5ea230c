// The state of one run of the time formatting engine, shared between the
// engine and its era and alternate-digit conversions. Not exported.
#pragma once

#include <stdint.h>

#include "locale/core/gl_locale.h"
#include "locale/format/gl_fmtspec.h"
#include "locale/format/gl_time.h"

namespace glftime {

// The longest text of one kind of locale text, in characters and in bytes.
struct Longest {
  int32_t chars = 0;
  int32_t bytes = 0;
};

struct Longests {
  Longest abday, day, abmon, mon, am_pm, era_name, era_name2, alt_digit;
};

struct Run {
  GlLocale *loc;
  GlWchar *out;  // the cursor; unused in expansion mode
  int32_t count;
  int32_t capacity;
  int32_t *chars;  // expansion counters (either may be NULL)
  int32_t *bytes;
  const Longests *longest;
  bool Expanding() const { return chars != nullptr || bytes != nullptr; }
  void Bound(int64_t c, int64_t b) {
    if (chars != nullptr) *chars = Clamp(*chars + c);
    if (bytes != nullptr) *bytes = Clamp(*bytes + b);
  }
  void Bound(int64_t n) { Bound(n, n); }
  static int32_t Clamp(int64_t v) { return v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v); }
};

// The fields a conversion reads, tested one by one (error 23-31).
enum Field { kFraction, kSecond, kMinute, kHour, kMday, kMdayInterval, kMonth, kYear, kWday, kYday };
bool Check(Run *run, const GlTimeFields *f, Field field);

// Field writers of the engine.
bool PutChar(Run *run, GlWchar c);
bool PutNumber(Run *run, int64_t v, const GlFormatSpec &spec, int32_t precision);
bool PutString(Run *run, const char *text, const GlFormatSpec &spec);
// Runs a locale format (wide) on the same working fields with the room left;
// absent or empty: nothing, success. A non-empty one that writes nothing
// fails.
bool SubFormat(Run *run, const GlWchar *format, GlTimeFields *f);

int32_t Max(int64_t a, int64_t b);

// The E and O modifiers; *p stands on the letter after the modifier and is
// moved past it.
bool EraConversion(Run *run, const GlWchar **p, GlTimeFields *f, const GlFormatSpec &spec);
bool AltConversion(Run *run, const GlWchar **p, GlTimeFields *f, const GlFormatSpec &spec);

}  // namespace glftime
