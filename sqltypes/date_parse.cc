// DATE input: under the date format in force (rstrdate, strict), under a
// caller's mask (rdefmtdate, lenient), under a DBDATE-style value
// (rstrdbdate) and under a locale format (zel_gl_convert_date), with the
// century-letter wrappers. Digit-only dates take the numeric form below;
// other texts go to the general form (date_general.cc) or, for locale
// formats, to the locale's time parser.
#include <ctype.h>
#include <stdlib.h>

#include "base/client_locale.h"
#include "base/locale_state.h"
#include "base/thread_state.h"
#include "locale/core/gl_ext.h"
#include "sqltypes/date.h"

namespace {

bool AllBlank(const char* p) {
  while (isspace(static_cast<unsigned char>(*p))) p++;
  return *p == '\0';
}

int CompleteYear(int year, int month, int day) {
  int century = rgetcentury(month, day, year);
  if (century < 0) return century;
  if (century >= 100) return -1204;
  return century * 100 + year % 100;
}

// The numeric form: order[i] is 1 day, 2 month, 3 year for the i-th field.
int ParseNumeric(const char* text, const int32_t order[3], bool strict, int32_t* out) {
  const char* p = text;
  while (isspace(static_cast<unsigned char>(*p))) p++;
  int value[3] = {0, 0, 0};
  int digits[3] = {0, 0, 0};
  int numbers = 0;
  int separators = 0;
  for (int i = 0; i < 3; i++) {
    if (i > 0 && *p != '\0' && !isdigit(static_cast<unsigned char>(*p))) {
      p++;
      separators++;
      while (isspace(static_cast<unsigned char>(*p))) p++;
    }
    const int max = order[i] == 3 ? 4 : 2;
    int n = 0;
    while (n < max && isdigit(static_cast<unsigned char>(*p))) value[i] = value[i] * 10 + (*p++ - '0'), n++;
    if (n == 0) break;
    digits[i] = n;
    numbers++;
  }
  while (isspace(static_cast<unsigned char>(*p))) p++;
  if (*p != '\0') return -1212;
  if (strict && separators != 0 && separators != 2) return -1212;
  const int total = digits[0] + digits[1] + digits[2];
  int day = 0, month = 0, year = 0, year_digits = 0;
  if (numbers == 3 && (separators == 2 || total == 6 || total == 8)) {
    for (int i = 0; i < 3; i++) {
      if (order[i] == 1) day = value[i];
      if (order[i] == 2) month = value[i];
      if (order[i] == 3) year = value[i], year_digits = digits[i];
    }
  } else if (numbers == 2 && separators == 0 && total == 6) {
    // Compact six digits with the year read as four: two-digit year, then
    // the following field.
    int y = -1;
    for (int i = 0; i < 2; i++)
      if (order[i] == 3 && digits[i] == 4) y = i;
    if (y < 0) return -1212;
    int fields[3] = {0, 0, 0};
    int k = 0;
    for (int i = 0; i < 2; i++) {
      if (i == y) {
        fields[k++] = value[i] / 100;
        fields[k++] = value[i] % 100;
      } else {
        fields[k++] = value[i];
      }
    }
    for (int i = 0; i < 3; i++) {
      if (order[i] == 1) day = fields[i];
      if (order[i] == 2) month = fields[i];
      if (order[i] == 3) year = fields[i], year_digits = 2;
    }
  } else {
    return -1212;
  }
  if (year_digits <= 2) {
    year = CompleteYear(year, month, day);
    if (year < 0) return year;
  }
  const int16_t mdy[3] = {static_cast<int16_t>(month), static_cast<int16_t>(day),
                          static_cast<int16_t>(year)};
  return rmdyjul(mdy, out);
}

int LocaleNotReady() {
  const int32_t e = rgetglerror();
  return e != 0 ? e : -23108;
}


bool QuietBlank() { return getenv("QKM_RDEFMTDATE") == nullptr; }

bool HasEraData(const ClientLocaleState* st) {
  for (const RglNameNode* n = st->era_names; n != nullptr; n = n->next)
    if (n->count > 0) return true;
  return false;
}

void SetLocaleError(int32_t err) {
  GlLocale* loc = rgllocstate()->client;
  if (loc != nullptr) *_gl_ext_errno(loc) = err;
  rsetglerror(err);
}

}  // namespace

TV_EXTERN_C TV_API int rstrdate(const char* text, int32_t* date) {
  if (rglinit() < 0) return LocaleNotReady();
  *date = DATE_NULL;
  if (text == nullptr) return 0;
  const bool blank = AllBlank(text);
  if (blank && QuietBlank()) return 0;
  const char* format = nullptr;
  int32_t order[3];
  int32_t era = 0;
  if (int rc = rdatefmtget(&format, order, &era); rc != 0) return rc;
  ClientLocaleState* st = rgllocstate();
  int32_t value = DATE_NULL;
  int rc = 0;
  if (st->date_explicit == 0) {
    // A GL_DATE value or the locale's own format: the locale's parser.
    int32_t err = 0;
    rc = rdateptime(text, format, &value, &err);
  } else if (blank) {
    return 0;
  } else {
    rc = -1212;
    if (era == 0 && st->gregorian != 0) rc = ParseNumeric(text, order, true, &value);
    if (rc != 0) rc = rdategeneral(text, order, era, 4, true, &value);
  }
  if (rc == 0) *date = value;
  return rc;
}

TV_EXTERN_C TV_API int rdefmtdate(int32_t* date, const char* mask, const char* text) {
  if (rglinit() < 0) return LocaleNotReady();
  if (mask == nullptr) return -1212;
  if (text == nullptr) return 0;
  if (AllBlank(text)) {
    if (QuietBlank()) *date = DATE_NULL;
    return 0;
  }
  char* format = nullptr;
  int32_t order[3];
  int32_t era = 0;
  if (int rc = rmask2lxrfmt(mask, &format, order, &era, true); rc != 0) return rc;
  free(format);
  ClientLocaleState* st = rgllocstate();
  int32_t value = DATE_NULL;
  int rc = -1212;
  if (era == 2 && HasEraData(st)) rc = rdategeneral(text, order, era, 3, false, &value);
  if (rc != 0 && era == 0 && st->gregorian != 0) rc = ParseNumeric(text, order, false, &value);
  if (rc != 0) rc = rdategeneral(text, order, era, 4, false, &value);
  if (rc == 0) *date = value;
  return rc;
}

TV_EXTERN_C TV_API int rstrdbdate(const char* text, int32_t* date, const char* dbdate) {
  if (rglinit() < 0) return LocaleNotReady();
  *date = DATE_NULL;
  if (text == nullptr) return 0;
  if (AllBlank(text) && QuietBlank()) return 0;
  char* format = nullptr;
  int32_t kind = 0;
  int32_t order[3];
  if (int rc = rdbdate2lxrfmt(dbdate, &format, &kind, order, nullptr); rc != 0) return rc;
  int32_t value = DATE_NULL;
  int32_t err = 0;
  const int rc = rdateptime(text, format, &value, &err);
  free(format);
  if (rc == 0) *date = value;
  return rc;
}

TV_EXTERN_C TV_API int zel_gl_convert_date(int32_t* date, const char* text, const char* format) {
  if (rglinit() < 0) return -1;
  if (text == nullptr || date == nullptr) {
    SetLocaleError(2);
    return -1;
  }
  int32_t value = DATE_NULL;
  int rc = 0;
  if (format != nullptr) {
    int32_t err = 0;
    rc = rdateptime(text, format, &value, &err);
    if (rc != 0 && err != 0) {
      SetLocaleError(err);
      return -1;
    }
  } else {
    rc = rstrdate(text, &value);
    if (rc == -1211) rc = 3;
    if (rc == -1207) rc = 14;
  }
  switch (rc) {
    case 0: *date = value; return 0;
    case 3: case 14: break;
    case -1206: rc = 37; break;
    case -1205: rc = 40; break;
    case -1204: rc = 41; break;
    default: rc = 9; break;
  }
  SetLocaleError(rc);
  return -1;
}

namespace {
bool ValidLetter(const char* c) {
  return c != nullptr && (c[0] == 'R' || c[0] == 'C' || c[0] == 'F' || c[0] == 'P') && c[1] == '\0';
}
}  // namespace

TV_EXTERN_C TV_API int zel_strdate(const char* text, int32_t* date, const char* century) {
  const char saved = rgetdbcentury();
  if (ValidLetter(century)) rsetdbcentury(century[0]);
  const int rc = rstrdate(text, date);
  rsetdbcentury(saved);
  return rc;
}

TV_EXTERN_C TV_API int zel_defmtdate(int32_t* date, const char* mask, const char* text,
                                     const char* century) {
  const char saved = rgetdbcentury();
  if (ValidLetter(century)) rsetdbcentury(century[0]);
  const int rc = rdefmtdate(date, mask, text);
  rsetdbcentury(saved);
  return rc;
}
