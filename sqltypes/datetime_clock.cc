#include "sqltypes/datetime_clock.h"

#include <cstring>

#include "base/client_locale.h"
#include "base/env.h"
#include "sqltypes/date_internal.h"
#include "sqltypes/datetime.h"

namespace {

constexpr int16_t kYearToSecond = TU_ENCODE(14, TU_YEAR, TU_SECOND);
constexpr int16_t kYearToFraction5 = TU_ENCODE(19, TU_YEAR, TU_F5);
constexpr int16_t kDay9ToSecond = TU_ENCODE(15, TU_DAY, TU_SECOND);

constexpr uint32_t kDbtodayFlags = TR_DBTODAY_CONVERTING | TR_DBTODAY_VALID | TR_DBTODAY_UNUSED;

// The local clock as the Decimal of a YEAR TO FRACTION(5) value:
// century, year in century, month, day, hour, minute, second, then the
// milliseconds as the first three fraction digits.
int ClockNow(Decimal* out) {
  timespec now{};
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) return -1;
  int64_t seconds = now.tv_sec;
  struct tm local{};
  zel_localtime(&seconds, &local);
  if (local.tm_year == -1 && local.tm_mon == -1) return -1;
  int millis = static_cast<int>(now.tv_nsec / 1000000);
  // 19 digits, last unit 15: exponent (19 - 15 + 11) / 2 = 7 and 10 digit
  // bytes. digits[0] is the spare byte the normalisation may carry into.
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
  return decnorm(out, 1, 7, d, 10);
}

void LoadOffset(const ThreadRuntimeRecord* tr, IntervalValue* out) {
  out->in_qual = tr->dbtoday_offset.qualifier;
  memcpy(&out->in_dec, tr->dbtoday_offset.decimal, sizeof out->in_dec);
}

}  // namespace

void dbtoday_ensure(ThreadRuntimeRecord* tr) {
  if (tr == nullptr || (tr->flags & kDbtodayFlags) != 0) return;
  const char* value = ggetenv_idx("DBTODAY", ENVROW_DBTODAY);
  if (value == nullptr) {
    tr->flags |= TR_DBTODAY_UNUSED;
    return;
  }
  tr->flags |= TR_DBTODAY_CONVERTING;
  DateTimeValue when{kYearToSecond, {}}, now{kYearToSecond, {}};
  IntervalValue offset{kDay9ToSecond, {}};
  bool ok = dtcvasc(value, &when) == 0 && when.dt_dec.sign != DEC_NULLSIGN &&
            dtcurrent(&now) == 0 && dtsub(&when, &now, &offset) == 0 &&
            offset.in_dec.sign != DEC_NULLSIGN;
  tr->flags &= ~TR_DBTODAY_CONVERTING;
  if (ok) {
    tr->dbtoday_offset.qualifier = offset.in_qual;
    memcpy(tr->dbtoday_offset.decimal, &offset.in_dec, sizeof offset.in_dec);
    tr->flags |= TR_DBTODAY_VALID;
  } else {
    tr->flags |= TR_DBTODAY_UNUSED;
  }
}

void dbtoday_record_parts(int year, int month, int day) {
  ThreadRuntimeRecord* tr = rthreadrec();
  if (tr == nullptr || !(tr->flags & TR_DBTODAY_CONVERTING)) return;
  tr->dbtoday_parts[0] = static_cast<unsigned char>(year / 100);
  tr->dbtoday_parts[1] = static_cast<unsigned char>(year % 100);
  tr->dbtoday_parts[2] = static_cast<unsigned char>(month);
  tr->dbtoday_parts[3] = static_cast<unsigned char>(day);
}

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

// Without a thread record the clock is taken unshifted. A fixed current
// time in the record stands in for the clock; the DBTODAY offset applies
// to either.
int dtgetcurrent(Decimal* out) {
  ThreadRuntimeRecord* tr = rthreadrec();
  if (tr != nullptr) dbtoday_ensure(tr);
  Decimal now;
  if (tr != nullptr && tr->fixed_current_time != nullptr) {
    memcpy(&now, tr->fixed_current_time, sizeof now);
  } else if (int rc = ClockNow(&now); rc != 0) {
    return rc;
  }
  if (tr != nullptr && (tr->flags & TR_DBTODAY_VALID) && !(tr->flags & TR_DBTODAY_CONVERTING)) {
    DateTimeValue base{kYearToFraction5, now}, shifted{kYearToFraction5, {}};
    IntervalValue offset;
    LoadOffset(tr, &offset);
    if (int rc = dtaddinv(&base, &offset, &shifted); rc != 0) return rc;
    now = shifted.dt_dec;
  }
  *out = now;
  return 0;
}

TV_EXTERN_C TV_API int dtcurrent(DateTimeValue* value) {
  if (dtchkqual(0, value->dt_qual) != 0) {
    value->dt_qual = TU_ENCODE(17, TU_YEAR, TU_F3);
    rseterror(0);
  }
  if (int rc = rglinit(); rc < 0) return rc;
  DateTimeValue now{kYearToFraction5, {}};
  if (int rc = dtgetcurrent(&now.dt_dec); rc != 0) return rc;
  return dtextend(&now, value);
}
