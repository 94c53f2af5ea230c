#include "locale/format/gl_time.h"

void _gl_time_to_fields(const GlTimeRecord *rec, int32_t month_name, GlTimeFields *f) {
  f->fraction = rec->fraction;
  f->second = rec->second;
  f->minute = rec->minute;
  f->hour = rec->hour;
  f->mday = rec->mday;
  f->month = rec->month;
  f->month_name = month_name;
  f->year = rec->year;
  f->wday = rec->wday;
  f->yday = rec->yday;
  f->isdst = rec->isdst;
  f->reserved_wide = rec->reserved_wide;
  f->reserved = rec->reserved;
}

void _gl_fields_to_time(const GlTimeFields *f, GlTimeRecord *rec) {
  rec->fraction = f->fraction;
  rec->second = f->second;
  rec->minute = f->minute;
  rec->hour = f->hour;
  rec->mday = f->mday;
  rec->month = f->month;
  rec->year = f->year;
  rec->wday = f->wday;
  rec->yday = f->yday;
  rec->isdst = f->isdst;
  rec->reserved_wide = f->reserved_wide;
  rec->reserved = f->reserved;
}
