// Fuzz target of one SQL text parser, chosen at build time (FUZZ_dtcvasc,
// FUZZ_incvasc, FUZZ_deccvasc, FUZZ_bigintcvasc). The first two input
// bytes give the qualifier of a DATETIME or INTERVAL; the rest is the text.
// A value that parses must survive its text form: written and read again
// it gives the same value.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "sqltypes/bigint.h"
#include "sqltypes/datetime.h"
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
#endif
  return 0;
}
