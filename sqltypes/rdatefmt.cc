// DATE text output: the date format in force (rdatestr), a caller's mask
// (rfmtdate) and a locale format (zel_gl_format_date); mask translation;
// the name lists of the date and interval texts.
#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include <mutex>
#include <string>
#include <vector>

#include "base/client_locale.h"
#include "base/locale_state.h"
#include "base/msgfile.h"
#include "base/thread_state.h"
#include "locale/core/gl_ext.h"
#include "locale/format/gl_strftime.h"
#include "sqltypes/date.h"

namespace {

constexpr int kDateTextMax = 1024;

int EraModeOfKind(int32_t kind) { return kind == 2 ? 2 : kind != 0 ? 1 : 0; }

int LocaleNotReady() {
  const int32_t e = rgetglerror();
  return e != 0 ? e : -23108;
}

void SetLocaleError(int32_t err) {
  GlLocale* loc = rgllocstate()->client;
  if (loc != nullptr) *_gl_ext_errno(loc) = err;
  rsetglerror(err);
}

// Day of the year from 0, February counting 29 days in a leap year.
int DayOfYear(int month, int day, int year) {
  int yday = day - 1;
  for (int m = 1; m < month; m++) yday += rmonthlength(m, year);
  return yday;
}

// Formats a valid year, month and day with the locale time formatter into
// out (size bytes with the NUL). 0, or the formatter's locale error number.
int RenderParts(const char* format, int year, int month, int day, int32_t date, char* out,
                int size) {
  GlTimeRecord rec{};
  rec.mday = day;
  rec.month = month - 1;
  rec.year = year - 1900;
  rec.wday = rdayofweek(date);
  rec.yday = DayOfYear(month, day, year);
  GlLocale* loc = rgllocstate()->client;
  if (loc == nullptr) return 12;
  const int32_t n = gl_mbsftime(loc, out, size, format, &rec);
  if (n > 0) return 0;
  const int32_t err = *_gl_ext_errno(loc);
  if (n == 0 && err == 0) {
    if (size > 0) out[0] = '\0';
    return 0;
  }
  return n < 0 ? 22 : err;
}

int RenderDate(int32_t date, const char* format, char* out, int size) {
  int16_t mdy[3];
  if (int rc = rjulmdy(date, mdy); rc != 0) return rc;
  if (mdy[0] == 0) return rdatemaperror(30);
  const int err = RenderParts(format, mdy[2], mdy[0], mdy[1], date, out, size);
  return err != 0 ? rdatemaperror(err) : 0;
}

bool StartsWithNoCase(const char* p, const char* piece) {
  for (; *piece != '\0'; p++, piece++)
    if (tolower(static_cast<unsigned char>(*p)) != *piece) return false;
  return true;
}

}  // namespace

int rdatemaperror(int e) {
  switch (e) {
    case 3: return -1211;
    case 12: return -23108;
    case 14: return -1273;
    case 15: case 22: return -1276;
    case 23: case 43: return -1237;
    case 24: case 25: case 26: case 28: case 29: case 32: return -1263;
    case 27: case 37: return -1206;
    case 30: case 40: return -1205;
    case 31: case 41: return -1204;
    case 42: return -1236;
    default: return -1218;
  }
}

int rdatefmtget(const char** format, int32_t order[3], int32_t* era_mode) {
  ClientLocaleState* st = rgllocstate();
  if (st->date_format == nullptr) return -1212;
  *format = st->date_format;
  if (order != nullptr) memcpy(order, st->date_order, sizeof st->date_order);
  if (era_mode != nullptr) *era_mode = EraModeOfKind(st->date_kind);
  return 0;
}

int rmask2lxrfmt(const char* mask, char** format, int32_t order[3], int32_t* era_mode,
                 bool require_all) {
  if (mask == nullptr) return -1212;
  size_t n = strlen(mask);
  int mode = 0, style = 0;  // style 1 full era names, 2 abbreviated
  if (n >= 2) {
    const char a = static_cast<char>(tolower(static_cast<unsigned char>(mask[n - 2])));
    const char b = mask[n - 1];
    if (a == 'c' && b == '1') mode = 2, style = 2;
    if (a == 'j' && b == '1') mode = 1, style = 2;
    if (a == 'j' && b == '2') mode = 1, style = 1;
    if (style != 0) n -= 2;
  }
  std::string f;
  int32_t ord[3] = {0, 0, 0};
  int fields = 0;
  auto field = [&](int32_t what) {
    if (fields < 3) ord[fields++] = what;
  };
  auto year = [&](int digits, const char* plain) {
    if (style == 0) {
      f += plain;
    } else {
      char buf[24];
      snprintf(buf, sizeof buf, "%s%%0%d.%dEy", style == 1 ? "%EC" : "%Eg", digits, digits);
      f += buf;
    }
    field(3);
  };
  auto era = [&](const char* name, int digits) {
    char buf[24];
    snprintf(buf, sizeof buf, "%s%%0%d.%dEy", name, digits, digits);
    f += buf;
    if (mode == 0) mode = 1;
    field(3);
  };
  for (size_t i = 0; i < n;) {
    const char* p = mask + i;
    if (StartsWithNoCase(p, "nnnyyyy")) era("%EC", 4), i += 7;
    else if (StartsWithNoCase(p, "nnnyy")) era("%EC", 2), i += 5;
    else if (StartsWithNoCase(p, "eyyyy")) era("%EC", 4), i += 5;
    else if (StartsWithNoCase(p, "eyy")) era("%EC", 2), i += 3;
    else if (StartsWithNoCase(p, "gyyyy") || StartsWithNoCase(p, "nyyyy")) era("%Eg", 4), i += 5;
    else if (StartsWithNoCase(p, "gyy") || StartsWithNoCase(p, "nyy")) era("%Eg", 2), i += 3;
    else if (StartsWithNoCase(p, "yyyy")) year(4, "%iY"), i += 4;
    else if (StartsWithNoCase(p, "yyy")) year(3, "%iY"), i += 3;
    else if (StartsWithNoCase(p, "yy")) year(2, "%iy"), i += 2;
    else if (StartsWithNoCase(p, "ddd")) f += "%a", i += 3;
    else if (StartsWithNoCase(p, "dd")) f += "%d", field(1), i += 2;
    else if (StartsWithNoCase(p, "ww")) f += "%a", i += 2;
    else if (StartsWithNoCase(p, "mmm")) f += "%b", i += 3;
    else if (StartsWithNoCase(p, "mm")) f += "%m", field(2), i += 2;
    else if (*p == '%') f += "%%", i++;
    else f += *p, i++;
  }
  if (require_all) {
    bool day = false, month = false, yr = false;
    for (int32_t o : ord) day |= o == 1, month |= o == 2, yr |= o == 3;
    if (!(day && month && yr)) return -1212;
  }
  char* copy = static_cast<char*>(malloc(f.size() + 1));
  if (copy == nullptr) return -1211;
  memcpy(copy, f.c_str(), f.size() + 1);
  *format = copy;
  if (order != nullptr) memcpy(order, ord, sizeof ord);
  if (era_mode != nullptr) *era_mode = mode;
  return 0;
}

TV_EXTERN_C TV_API int rdatestr(int32_t date, char* out) {
  out[0] = '\0';
  if (rglinit() < 0) return LocaleNotReady();
  const char* format = nullptr;
  if (int rc = rdatefmtget(&format, nullptr, nullptr); rc != 0) return rc;
  return RenderDate(date, format, out, kDateTextMax);
}

TV_EXTERN_C TV_API int rfmtdate(int32_t date, const char* mask, char* out) {
  if (rglinit() < 0) return LocaleNotReady();
  if (mask == nullptr) return -1212;
  const char* p = mask;
  while (*p == ' ') p++;
  if (*p == '\0') return 0;
  char* format = nullptr;
  if (int rc = rmask2lxrfmt(mask, &format, nullptr, nullptr, false); rc != 0) return rc;
  const int rc = RenderDate(date, format, out, kDateTextMax);
  free(format);
  return rc;
}

TV_EXTERN_C TV_API int zel_gl_format_date(char* out, int size, const int32_t* date,
                                          const char* format) {
  if (rglinit() < 0) return -1;
  if (format == nullptr) {
    if (rdatefmtget(&format, nullptr, nullptr) != 0) {
      SetLocaleError(22);
      return -1;
    }
  }
  int16_t mdy[3];
  if (rjulmdy(*date, mdy) != 0 || mdy[0] == 0) {
    SetLocaleError(9);
    return -1;
  }
  const int err = RenderParts(format, mdy[2], mdy[0], mdy[1], *date, out, size);
  if (err != 0) {
    SetLocaleError(err);
    return -1;
  }
  return 0;
}

// Name lists, loaded once for the process and never freed.
namespace {

struct NameList {
  int number;
  int max;
  std::vector<std::string> names;
  std::vector<const char*> ptrs;
};
std::mutex g_names_lock;
bool g_names_loaded = false;
NameList g_lists[4] = {{1200, 7, {}, {}}, {1201, 12, {}, {}}, {1206, 6, {}, {}}, {1207, 6, {}, {}}};

bool LoadList(NameList* list) {
  std::vector<char> buf(120);
  int32_t full = 0;
  int32_t rc = rgetlmsg(list->number, buf.data(), static_cast<int32_t>(buf.size()), &full);
  if (rc != 0 && full + 1 > static_cast<int32_t>(buf.size())) {
    buf.assign(static_cast<size_t>(full) + 1, '\0');
    rc = rgetlmsg(list->number, buf.data(), static_cast<int32_t>(buf.size()), &full);
  }
  if (rc != 0) {
    rseterror(rc);
    return false;
  }
  list->names.clear();
  const char* p = buf.data();
  while (static_cast<int>(list->names.size()) < list->max) {
    const char* bar = strchr(p, '|');
    size_t len = bar != nullptr ? static_cast<size_t>(bar - p) : strlen(p);
    while (len > 0 && (p[len - 1] == '\n' || p[len - 1] == '\r')) len--;
    list->names.emplace_back(p, len);
    if (bar == nullptr) break;
    p = bar + 1;
  }
  list->ptrs.clear();
  for (const std::string& s : list->names) list->ptrs.push_back(s.c_str());
  return true;
}

}  // namespace

int rdatenamesinit() {
  std::lock_guard<std::mutex> hold(g_names_lock);
  if (g_names_loaded) return 0;
  bool all = true;
  for (NameList& l : g_lists) all = LoadList(&l) && all;
  g_names_loaded = all;
  return all ? 0 : rgeterror();
}

const char* const* rdatenames(int number, int* count) {
  {
    std::lock_guard<std::mutex> hold(g_names_lock);
    if (!g_names_loaded) return nullptr;
  }
  for (NameList& l : g_lists) {
    if (l.number == number) {
      *count = static_cast<int>(l.ptrs.size());
      return l.ptrs.data();
    }
  }
  return nullptr;
}
