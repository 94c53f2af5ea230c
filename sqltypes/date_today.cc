// Today's DATE: from the clock, cached per thread for the current
// 900-second slot, or the DBTODAY-shifted current date.
#include <time.h>

#include "base/thread_state.h"
#include "sqltypes/date.h"
#include "sqltypes/date_internal.h"
#include "sqltypes/datetime.h"
#include "sqltypes/datetime_clock.h"

namespace {

int32_t TodayFromClock(time_t now) {
  int64_t seconds = now;
  struct tm local{};
  zel_localtime(&seconds, &local);
  int16_t mdy[3] = {static_cast<int16_t>(local.tm_mon + 1), static_cast<int16_t>(local.tm_mday),
                    static_cast<int16_t>(local.tm_year + 1900)};
  int32_t date = DATE_NULL;
  if (local.tm_mday == -1 || rmdyjul(mdy, &date) != 0) return DATE_NULL;
  return date;
}

}  // namespace

// Without a thread record today is computed without the cache, so the
// caller's DATE is always written.
TV_EXTERN_C TV_API void rtoday(int32_t* date) {
  ThreadRuntimeRecord* tr = rthreadrec();
  if (tr == nullptr) {
    *date = TodayFromClock(time(nullptr));
    return;
  }
  dbtoday_ensure(tr);
  if ((tr->flags & TR_DBTODAY_VALID) && !(tr->flags & TR_DBTODAY_CONVERTING)) {
    DateTimeValue now{TU_ENCODE(8, TU_YEAR, TU_DAY), {}};
    int32_t shifted = DATE_NULL;
    if (dtcurrent(&now) == 0 && dttodate(&now.dt_dec, now.dt_qual, &shifted) == 0) {
      tr->cached_today = shifted;
      tr->shifted_today = shifted;
      *date = shifted;
      return;
    }
  }
  const time_t now = time(nullptr);
  const int32_t slot = static_cast<int32_t>(now / 900);
  if (slot != tr->today_stamp || tr->cached_today == 0) {
    const int32_t today = TodayFromClock(now);
    if (today == DATE_NULL) {
      *date = today;
      return;
    }
    tr->cached_today = today;
    tr->today_stamp = slot;
  }
  *date = tr->cached_today;
}
