#include "sqltypes/datetime_clock.h"

#include <cstring>

namespace {

// The DBTODAY shift of the thread's current time belongs here: once the
// DATETIME arithmetic exists, the thread's offset (evaluated on its first
// current-time request) is added to the value before it is returned.
int ApplyThreadClockShift(Decimal* /*value*/) { return 0; }

}  // namespace

struct tm* zel_localtime(const int64_t* seconds, struct tm* out) {
  if (seconds == nullptr || out == nullptr) return nullptr;
  time_t t = static_cast<time_t>(*seconds);
  if (static_cast<int64_t>(t) != *seconds || localtime_r(&t, out) == nullptr) {
    out->tm_sec = out->tm_min = out->tm_hour = -1;
    out->tm_mday = out->tm_mon = out->tm_year = -1;
    out->tm_wday = out->tm_yday = out->tm_isdst = -1;
  }
  return out;
}

int dtgetcurrent(Decimal* out) {
  timespec now{};
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) return -1;
  int64_t seconds = now.tv_sec;
  struct tm local{};
  zel_localtime(&seconds, &local);
  if (local.tm_year == -1 && local.tm_mon == -1) return -1;
  int millis = static_cast<int>(now.tv_nsec / 1000000);

  // YEAR TO FRACTION(5): 19 digits, last unit code 15, so exponent
  // (19 - 15 + 11) / 2 = 7 and 10 digit bytes; the odd fraction count
  // leaves the low digit of the last byte 0. digits[0] is the spare byte
  // the normalisation may carry into.
  uint8_t digits[11] = {0};
  uint8_t* d = digits + 1;
  d[0] = static_cast<uint8_t>(local.tm_year / 100 + 19);
  d[1] = static_cast<uint8_t>(local.tm_year % 100);
  d[2] = static_cast<uint8_t>(local.tm_mon + 1);
  d[3] = static_cast<uint8_t>(local.tm_mday);
  d[4] = static_cast<uint8_t>(local.tm_hour);
  d[5] = static_cast<uint8_t>(local.tm_min);
  d[6] = static_cast<uint8_t>(local.tm_sec);
  d[7] = static_cast<uint8_t>(millis / 10);
  d[8] = static_cast<uint8_t>((millis % 10) * 10);
  d[9] = 0;
  int rc = decnorm(out, 1, 7, d, 10);
  if (rc != 0) return rc;
  return ApplyThreadClockShift(out);
}
