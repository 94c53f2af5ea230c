// Completion of one- and two-digit years: the DBCENTURY letter and the
// century rule of the locale library.
#include <string.h>

#include "base/client_locale.h"
#include "base/env.h"
#include "base/locale_state.h"
#include "locale/core/gl_ext.h"
#include "locale/format/gl_timeinfo.h"
#include "sqltypes/date.h"

namespace {
// The thread's letter; 0 until a valid one was read.
thread_local char t_century = 0;
}  // namespace

char rgetdbcentury() {
  if (t_century != 0) return t_century;
  const char* v = ggetenv_idx("DBCENTURY", ENVROW_DBCENTURY);
  if (v == nullptr) {
    t_century = 'R';
  } else if (strcmp(v, "P") == 0 || strcmp(v, "F") == 0 || strcmp(v, "C") == 0 ||
             strcmp(v, "R") == 0) {
    t_century = v[0];
  }
  return t_century;
}

void rsetdbcentury(char letter) { t_century = letter; }

int rgetcentury(int month, int day, int year) {
  if (rglinit() < 0) return -1218;
  ClientLocaleState* st = rgllocstate();
  const int mode = st->date_kind == 2 ? 2 : st->date_kind != 0 ? 1 : 0;
  GlLocale* loc = st->client;
  const int32_t c = gl_getcenturyloc(loc, month, day, year, rgetdbcentury(), mode);
  if (c >= 0) return c;
  const int32_t err = loc != nullptr ? *_gl_ext_errno(loc) : 0;
  switch (err) {
    case 27: return -1206;
    case 30: return -1205;
    case 31: return -1204;
    default: return -1218;
  }
}
