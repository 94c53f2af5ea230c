// DATE input, the general form: three fields in the field order, where a
// month may be a month name and a year may follow an era name, with any
// separators. Gregorian dates without an era name are built directly; the
// others are written again as plain text and read by the locale's time
// parser, which knows the locale's calendar and eras.
#include <ctype.h>
#include <string.h>

#include <string>

#include "base/client_locale.h"
#include "base/locale_state.h"
#include "locale/core/gl_ext.h"
#include "locale/format/gl_strptime.h"
#include "sqltypes/date.h"
#include "sqltypes/date_internal.h"

namespace {

// Month and era names are matched within this many bytes of the text.
constexpr size_t kNameWindow = 128;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }

// Byte length of the character at p (1 for bytes the locale cannot read).
int CharLength(const char* p) {
  int blank = 0;
  const int32_t n = rgl_mbchar(p, static_cast<int32_t>(strnlen(p, 8)), &blank);
  return n > 0 ? n : 1;
}

// The first name of the lists (newest node first) that the lower-cased
// text begins with: its index, and its byte length in *len; -1 when none.
int MatchName(const RglNameNode* list, const std::string& lowered, size_t* len) {
  for (const RglNameNode* node = list; node != nullptr; node = node->next) {
    for (int32_t i = 0; i < node->count; i++) {
      const char* name = node->names[i];
      if (name == nullptr || name[0] == '\0') continue;
      const size_t n = strlen(name);
      if (lowered.compare(0, n, name) == 0) {
        *len = n;
        return i;
      }
    }
  }
  return -1;
}

struct NameHit {
  int index = -1;
  size_t len = 0;
};

// The start of the text at p (longer than any name) lower-cased with the
// locale's case rules.
std::string Lowered(const char* p) {
  std::string s(p, strnlen(p, kNameWindow));
  std::string buf(s.size() * 4 + 1, '\0');
  memcpy(buf.data(), s.c_str(), s.size() + 1);
  rgllowername(buf.data(), static_cast<int32_t>(buf.size()));
  buf.resize(strlen(buf.c_str()));
  // A name is matched over its lower-cased bytes; where lower-casing
  // changed the byte length, the name's length in the text is unknown, so
  // names are then matched over the original bytes.
  return buf.size() == s.size() ? buf : s;
}

NameHit MonthName(const ClientLocaleState* st, const char* p) {
  NameHit hit;
  if (!isalpha(static_cast<unsigned char>(*p)) && static_cast<unsigned char>(*p) < 0x80) return hit;
  const std::string low = Lowered(p);
  hit.index = MatchName(st->month_full, low, &hit.len);
  if (hit.index < 0) hit.index = MatchName(st->month_abbr, low, &hit.len);
  return hit;
}

NameHit EraName(const ClientLocaleState* st, const char* p) {
  NameHit hit;
  if (IsDigit(*p) || IsBlank(*p) || *p == '\0') return hit;
  const std::string low = Lowered(p);
  hit.index = MatchName(st->era_names, low, &hit.len);
  if (hit.index < 0) hit.index = MatchName(st->era_formats, low, &hit.len);
  return hit;
}

int MissingCode(int field) { return field == 1 ? -1206 : field == 2 ? -1205 : -1204; }

struct Parsed {
  int value[4] = {0, 0, 0, 0};   // by field kind: 1 day, 2 month, 3 year
  int digits[4] = {0, 0, 0, 0};
  std::string month_name;        // the month name as read, when one was
  std::string era_name;          // the era name as read, when one was
  bool negative_year = false;
};

class GeneralParser {
 public:
  GeneralParser(const int32_t order[3], int era_mode, int year_max, bool strict)
      : order_(order), era_mode_(era_mode), year_max_(year_max), strict_(strict),
        st_(rgllocstate()) {}

  int Run(const char* text, int32_t* out);

 private:
  bool FieldStarts(int kind, const char* p) const;
  int ReadFields(const char* text, Parsed* r);
  int Finish(const Parsed& r, int32_t* out);
  int Rebuild(const Parsed& r, int year, int year_digits, int32_t* out);

  const int32_t* order_;
  int era_mode_;
  int year_max_;
  bool strict_;
  ClientLocaleState* st_;
};

bool GeneralParser::FieldStarts(int kind, const char* p) const {
  if (IsDigit(*p)) return true;
  if (kind == 2) return MonthName(st_, p).index >= 0;
  if (kind == 3) {
    if (era_mode_ == 2 && *p == '-' && IsDigit(p[1])) return true;
    return era_mode_ != 0 && EraName(st_, p).index >= 0;
  }
  return false;
}

int GeneralParser::ReadFields(const char* text, Parsed* r) {
  const char* p = text;
  while (IsBlank(*p)) p++;
  bool had_sep[3] = {false, false, false};
  int prev_kind = 0;
  bool prev_name = false;
  for (int i = 0; i < 3; i++) {
    const int kind = order_[i];
    if (kind < 1 || kind > 3) return -1212;
    bool sep = false;
    if (strict_) {
      if (*p != '\0' && !FieldStarts(kind, p)) {
        p += CharLength(p);
        sep = true;
        while (IsBlank(*p)) p++;
      }
    } else {
      while (*p != '\0' && !FieldStarts(kind, p)) {
        p += CharLength(p);
        sep = true;
      }
    }
    had_sep[i] = sep;
    if (*p == '\0' && !(prev_kind == 3 && r->digits[3] == 4)) return MissingCode(kind);
    if (strict_ && i == 2 && had_sep[1] && !sep) return -1218;
    // A field right after the previous one, with no separator, needs two
    // digits unless a month name came before it.
    const bool tight = i > 0 && !sep && !prev_name;
    int n = 0;
    int v = 0;
    bool name = false;
    if (kind == 2) {
      const NameHit hit = IsDigit(*p) ? NameHit{} : MonthName(st_, p);
      if (hit.index >= 0) {
        r->month_name.assign(p, hit.len);
        v = hit.index % 12 + 1;
        if (st_->gregorian == 0) v = hit.index + 1;
        p += hit.len;
        name = true;
      }
    }
    if (kind == 3 && era_mode_ != 0 && !IsDigit(*p)) {
      const NameHit hit = EraName(st_, p);
      if (hit.index >= 0) {
        r->era_name.assign(p, hit.len);
        p += hit.len;
        while (IsBlank(*p)) p++;
      }
    }
    if (kind == 3 && era_mode_ == 2 && *p == '-' && IsDigit(p[1])) {
      r->negative_year = true;
      p++;
    }
    if (!name) {
      const int max = kind == 3 ? year_max_ : 2;
      while (n < max && IsDigit(*p)) v = v * 10 + (*p++ - '0'), n++;
    }
    if (!name && n == 0) {
      // A four-digit year followed by a field without digits: the year's
      // last two digits are that field.
      if (prev_kind == 3 && r->digits[3] == 4) {
        v = r->value[3] % 100;
        n = 2;
        r->value[3] /= 100;
        r->digits[3] = 2;
      } else {
        return MissingCode(kind);
      }
    } else if (tight && !name) {
      const bool ok = n == 2 || (kind == 3 && (n == 4 || (era_mode_ == 2 && n == 3)));
      if (!ok) return MissingCode(kind);
    }
    r->value[kind] = v;
    r->digits[kind] = name ? 2 : n;
    prev_kind = kind;
    prev_name = name;
  }
  if (strict_) {
    while (IsBlank(*p)) p++;
    if (*p != '\0') return -1218;
  } else {
    for (; *p != '\0'; p++)
      if (IsDigit(*p)) return -1218;
  }
  return 0;
}

int GeneralParser::Run(const char* text, int32_t* out) {
  Parsed r;
  if (int rc = ReadFields(text, &r); rc != 0) return rc;
  return Finish(r, out);
}

int GeneralParser::Finish(const Parsed& r, int32_t* out) {
  int year = r.value[3];
  int year_digits = r.digits[3];
  const bool plain = r.era_name.empty() && (era_mode_ != 2 || year_digits < 3);
  if (plain && st_->gregorian != 0) {
    if (year_digits <= 2) {
      const int century = rgetcentury(r.value[2], r.value[1], year);
      if (century < 0) return century;
      if (century >= (era_mode_ == 2 ? 10 : 100)) return -1204;
      year = century * 100 + year % 100;
      year_digits = era_mode_ == 2 ? 3 : 4;
    }
    if (era_mode_ != 2) {
      const int16_t mdy[3] = {static_cast<int16_t>(r.value[2]), static_cast<int16_t>(r.value[1]),
                              static_cast<int16_t>(year)};
      return rmdyjul(mdy, out);
    }
  }
  return Rebuild(r, year, year_digits, out);
}

// Writes the fields again as "month day year" and reads that with the
// locale's time parser, which applies the locale's calendar and eras.
int GeneralParser::Rebuild(const Parsed& r, int year, int year_digits, int32_t* out) {
  GlLocale* loc = st_->client;
  if (loc == nullptr) return -23108;
  const bool numeric_month = r.month_name.empty() || st_->gregorian != 0;
  char buf[64];
  std::string text;
  std::string format;
  if (numeric_month) {
    snprintf(buf, sizeof buf, "%d %d ", r.value[2], r.value[1]);
    text = buf;
    format = "%m %d ";
  } else {
    snprintf(buf, sizeof buf, " %d ", r.value[1]);
    text = r.month_name + buf;
    format = "%b %d ";
  }
  if (!r.era_name.empty()) text += r.era_name;
  if (r.negative_year) text += '-';
  snprintf(buf, sizeof buf, "%0*d", year_digits, year);
  text += buf;
  if (!r.era_name.empty()) {
    const int w = year_digits < 1 ? 1 : year_digits > 4 ? 4 : year_digits;
    snprintf(buf, sizeof buf, "%%EC%%0%d.%dEy", w, w);
    format += buf;
  } else {
    format += year_digits == 4 ? "%iY" : "%iy";
  }
  GlTimeRecord rec{};
  rec.mday = 1;
  *_gl_ext_errno(loc) = 0;
  char century = rgetdbcentury();
  if (century == 0) century = 'R';
  if (gl_mbsptime(loc, text.c_str(), format.c_str(), &rec, century) == nullptr)
    return rdatemaperror(*_gl_ext_errno(loc));
  const int16_t mdy[3] = {static_cast<int16_t>(rec.month + 1), static_cast<int16_t>(rec.mday),
                          static_cast<int16_t>(rec.year + 1900)};
  return rmdyjul(mdy, out);
}

}  // namespace

int rdategeneral(const char* text, const int32_t order[3], int era_mode, int year_max,
                 bool strict, int32_t* out) {
  GeneralParser parser(order, era_mode, year_max, strict);
  return parser.Run(text, out);
}

int rdateptime(const char* text, const char* format, int32_t* out, int32_t* locale_error) {
  GlLocale* loc = rgllocstate()->client;
  *locale_error = 0;
  if (loc == nullptr) {
    *locale_error = 12;
    return -23108;
  }
  GlTimeRecord rec{};
  rec.mday = 1;
  *_gl_ext_errno(loc) = 0;
  char century = rgetdbcentury();
  if (century == 0) century = 'R';
  const char* end = gl_mbsptime(loc, text, format, &rec, century);
  if (end == nullptr) {
    *locale_error = *_gl_ext_errno(loc);
    return rdatemaperror(*locale_error);
  }
  while (IsBlank(*end)) end++;
  if (*end != '\0') return -1218;
  const int16_t mdy[3] = {static_cast<int16_t>(rec.month + 1), static_cast<int16_t>(rec.mday),
                          static_cast<int16_t>(rec.year + 1900)};
  return rmdyjul(mdy, out);
}
