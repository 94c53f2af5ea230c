// Fuzz target of one SQL text parser, chosen at build time (FUZZ_dtcvasc,
// FUZZ_incvasc, FUZZ_deccvasc, FUZZ_bigintcvasc, FUZZ_rstrdate,
// FUZZ_rdefmtdate, FUZZ_dtcvfmtasc, FUZZ_incvfmtasc, FUZZ_zel_to_gl_datetime).
// The first two input bytes give the qualifier of a DATETIME or INTERVAL
// (or pick a date mask); the rest is the text, for the format parsers a
// format, a newline and the text.
// A value that parses must survive its text form: written and read again
// it gives the same value.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "sqltypes/bigint.h"
#include "sqltypes/date.h"
#include "sqltypes/datetime.h"
#include "sqltypes/datetime_format.h"
#include "sqltypes/decimal.h"
#include "sqltypes/decimal_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int qual = data[0] << 8 | data[1];
  const std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);
#if defined(FUZZ_dtcvasc)
  DateTimeValue v{static_cast<int16_t>(qual), {}};
  if (dtcvasc(text.c_str(), &v) == 0 && v.dt_dec.sign != -1) {
    char out[64];
    if (dttoasc(&v, out) != 0) abort();
    DateTimeValue w{v.dt_qual, {}};
    if (dtcvasc(out, &w) != 0 || deccmp(&v.dt_dec, &w.dt_dec) != 0) abort();
  }
#elif defined(FUZZ_incvasc)
  IntervalValue v{static_cast<int16_t>(qual), {}};
  if (incvasc(text.c_str(), &v) == 0 && v.in_dec.sign != -1) {
    char out[300];
    if (intoasc(&v, out) != 0) abort();
    IntervalValue w{v.in_qual, {}};
    if (incvasc(out, &w) != 0 || deccmp(&v.in_dec, &w.in_dec) != 0) abort();
  }
#elif defined(FUZZ_deccvasc)
  (void)qual;
  Decimal d;
  if (deccvasc(text.data(), static_cast<int>(text.size()), &d) == 0 && d.sign != -1) {
    char field[80];
    if (dectoasc(&d, field, 79, -1) != 0) abort();
    Decimal e;
    if (deccvasc(field, 79, &e) != 0 || deccmp(&d, &e) != 0) abort();
  }
#elif defined(FUZZ_bigintcvasc)
  (void)qual;
  int64_t v = 0;
  if (bigintcvasc(text.c_str(), -1, &v) == 0) {
    char out[32];
    if (biginttoasc(v, out, 24, data[0] & 1 ? 16 : 10) != 0) abort();
    int64_t w = 0;
    if (v != BIGINT_NULL && (bigintcvasc(out, -1, &w) != 0 || w != v)) abort();
  }
#elif defined(FUZZ_rstrdate)
  (void)qual;
  int32_t d = 0;
  if (rstrdate(text.c_str(), &d) == 0 && d != DATE_NULL) {
    char out[1100];
    int32_t e = 0;
    if (rdatestr(d, out) != 0 || rstrdate(out, &e) != 0 || e != d) abort();
  }
#elif defined(FUZZ_rdefmtdate)
  static const char* const kMasks[] = {"mm/dd/yyyy", "dd-mm-yy", "yyyymmdd", "yy mm dd",
                                       "mmddyy",     "dd.mmm.yyyy", "ddd, dd mm yyyy", "yyyy/dd/mm"};
  const char* mask = kMasks[data[0] % 8];
  int32_t d = 0;
  if (rdefmtdate(&d, mask, text.c_str()) == 0 && d != DATE_NULL) {
    int16_t mdy[3];
    if (rjulmdy(d, mdy) != 0) abort();
  }
#elif defined(FUZZ_dtcvfmtasc) || defined(FUZZ_incvfmtasc)
  const size_t nl = text.find('\n');
  if (nl == std::string::npos) return 0;
  const std::string format = text.substr(0, nl), value = text.substr(nl + 1);
#if defined(FUZZ_dtcvfmtasc)
  // The locale's time engines spend time in proportion to a conversion's
  // width (they pad or scan before they cut), so widths stay below 1000.
  for (size_t i = 0, run = 0; i < format.size(); i++) {
    run = format[i] >= '0' && format[i] <= '9' ? run + 1 : 0;
    if (run > 3) return 0;
  }
  DateTimeValue v{static_cast<int16_t>(qual), {}};
  if (dtcvfmtasc(value.c_str(), format.c_str(), &v) == 0 && v.dt_dec.sign != -1) {
    char out[300];
    if (dttoasc(&v, out) != 0) abort();
    if (dttofmtasc(&v, out, 200, format.c_str()) == 0 && strlen(out) > 200) abort();
  }
#else
  IntervalValue v{static_cast<int16_t>(qual), {}};
  if (incvfmtasc(value.c_str(), format.c_str(), &v) == 0 && v.in_dec.sign != -1) {
    char out[300];
    if (intoasc(&v, out) != 0) abort();
    if (intofmtasc(&v, out, 200, format.c_str()) == 0 && strlen(out) > 200) abort();
  }
#endif
#elif defined(FUZZ_zel_to_gl_datetime)
  (void)qual;
  const int length = 1 + data[0] % 64;
  std::string out(static_cast<size_t>(length) + 16, '\x7f');
  const int rc = zel_to_gl_datetime(text.c_str(), out.data(), length);
  for (size_t i = static_cast<size_t>(length); i < out.size(); i++)
    if (out[i] != '\x7f') abort();
  if (rc == 0 && strlen(out.c_str()) >= static_cast<size_t>(length)) abort();
#endif
  return 0;
}
