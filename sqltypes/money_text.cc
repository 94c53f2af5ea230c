// Money text: money text to plain number text and back under the thread's
// DbMoneyFormat or a DBMONEY-style setting, and the locale money
// conversions of Decimals.
#include <string.h>

#include <string>

#include "base/client_locale.h"
#include "base/locale_state.h"
#include "base/thread_state.h"
#include "locale/core/gl_ext.h"
#include "locale/format/gl_fmon.h"
#include "locale/format/gl_pmon.h"
#include "sqltypes/decimal.h"
#include "sqltypes/decimal_text.h"
#include "sqltypes/moneyfmt.h"

namespace {

constexpr int kDefaultMoneyField = 80;

void SetLocaleError(int32_t err) {
  if (GlLocale* loc = rgllocstate()->client) *_gl_ext_errno(loc) = err;
  rsetglerror(err);
}

bool At(const char* p, const char* s, int n) {
  return n > 0 && strncmp(p, s, static_cast<size_t>(n)) == 0;
}

// Byte length of the character at p (1 for a byte the locale cannot read).
int CharLength(const char* p, const char* end) {
  int blank = 0;
  const int32_t n = rgl_mbchar(p, static_cast<int32_t>(end - p), &blank);
  return n > 0 && p + n <= end ? n : 1;
}

struct MoneyConventions {
  DbMoneyFormat record;
  char front[DBMONEY_SYMBOL_MAX + 1] = {0};
  char back[DBMONEY_SYMBOL_MAX + 1] = {0};
};

// The thread's conventions, or those of a setting string.
const DbMoneyFormat* Conventions(const char* setting, MoneyConventions* own, const char** front,
                                 const char** back) {
  if (setting == nullptr) {
    const DbMoneyFormat* f = rmoneyformat();
    *front = rmoneyfront();
    *back = rmoneyback();
    return f;
  }
  rmoneyparse(setting, own->front, own->back, &own->record);
  *front = own->front;
  *back = own->back;
  return &own->record;
}

void MonDec(const char* text, int length, char* out, const char* setting) {
  MoneyConventions own;
  const char* front = nullptr;
  const char* back = nullptr;
  const DbMoneyFormat* f = Conventions(setting, &own, &front, &back);
  const char* p = text;
  const char* end = text + (length >= 0 ? strnlen(text, static_cast<size_t>(length)) : strlen(text));
  while (p < end && *p == ' ') p++;
  for (const char* s = front; *s != '\0' && p < end && *p == *s; s++) p++;
  char* o = out;
  while (p < end && !(back[0] != '\0' && *p == back[0])) {
    if (At(p, f->mon_decimal_sep, f->mon_decimal_sep_len) &&
        p + f->mon_decimal_sep_len <= end) {
      memcpy(o, f->decimal_sep, static_cast<size_t>(f->decimal_sep_len));
      o += f->decimal_sep_len;
      p += f->mon_decimal_sep_len;
    } else if (At(p, f->mon_thousands_sep, f->mon_thousands_sep_len) &&
               p + f->mon_thousands_sep_len <= end) {
      memcpy(o, f->thousands_sep, static_cast<size_t>(f->thousands_sep_len));
      o += f->thousands_sep_len;
      p += f->mon_thousands_sep_len;
    } else {
      const int n = CharLength(p, end);
      memcpy(o, p, static_cast<size_t>(n));
      o += n;
      p += n;
    }
  }
  *o = '\0';
}

// Counts the conversions of a money format ("%%" is none).
int Conversions(const char* format) {
  int n = 0;
  for (const char* p = format; *p != '\0'; p++) {
    if (*p != '%') continue;
    if (p[1] == '%') {
      p++;
      continue;
    }
    n++;
  }
  return n;
}

}  // namespace

TV_EXTERN_C TV_API int rmoneyscale(void) {
  const int d = rmoneyformat()->frac_digits;
  return d < 0 ? 0 : d > 32 ? 32 : d;
}

TV_EXTERN_C TV_API int rmoneyfrontlen(void) {
  rmoneyinit();
  return static_cast<int>(strlen(rmoneyfront()));
}

TV_EXTERN_C TV_API int rmoneybacklen(void) {
  rmoneyinit();
  return static_cast<int>(strlen(rmoneyback()));
}

TV_EXTERN_C TV_API void rmondec(const char* text, int length, char* out) {
  MonDec(text, length, out, nullptr);
}

TV_EXTERN_C TV_API void rmondecexttab(const char* text, int length, char* out,
                                      const char* setting) {
  MonDec(text, length, out, setting != nullptr ? setting : "");
}

TV_EXTERN_C TV_API void rnum2money(const char* text, char* out, const char* setting,
                                   int symbols) {
  MoneyConventions own;
  const char* front = nullptr;
  const char* back = nullptr;
  const DbMoneyFormat* f = Conventions(setting, &own, &front, &back);
  char* o = out;
  if (symbols == 0) o = stpcpy(o, front);
  const char* end = text + strlen(text);
  for (const char* p = text; p < end;) {
    if (At(p, f->decimal_sep, f->decimal_sep_len)) {
      memcpy(o, f->mon_decimal_sep, static_cast<size_t>(f->mon_decimal_sep_len));
      o += f->mon_decimal_sep_len;
      p += f->decimal_sep_len;
    } else if (At(p, f->thousands_sep, f->thousands_sep_len)) {
      memcpy(o, f->mon_thousands_sep, static_cast<size_t>(f->mon_thousands_sep_len));
      o += f->mon_thousands_sep_len;
      p += f->thousands_sep_len;
    } else {
      const int n = CharLength(p, end);
      memcpy(o, p, static_cast<size_t>(n));
      o += n;
      p += n;
    }
  }
  *o = '\0';
  if (symbols == 0) strcpy(o, back);
}

TV_EXTERN_C TV_API int rnumlocalize(char* text, int field_length, int keep_fraction) {
  const DbMoneyFormat* f = rmoneyformat();
  if (strcmp(f->decimal_sep, ".") == 0) return 0;
  const size_t size = field_length > 1028 ? static_cast<size_t>(field_length) + 1 : 1028;
  std::string work(size, '\0');
  std::string source(text);
  auto copy = [&]() {
    return rsepsubst(source.c_str(), ".", 1, f->decimal_sep, f->decimal_sep_len, work.data(),
                     static_cast<int>(work.size()));
  };
  int rc = copy();
  if (keep_fraction == 0 && (rc != 0 || static_cast<int>(strlen(work.c_str())) > field_length)) {
    const size_t dot = source.find('.');
    if (dot == std::string::npos) return -1273;
    source.resize(dot);
    rc = copy();
  }
  if (rc != 0 || static_cast<int>(strlen(work.c_str())) > field_length) return -1273;
  memcpy(text, work.c_str(), strlen(work.c_str()) + 1);
  return 0;
}

TV_EXTERN_C TV_API int zel_gl_format_money(char* out, int size, const Decimal* value,
                                           const char* format) {
  if (rglinit() < 0) return -1;
  if (out == nullptr || value == nullptr) {
    SetLocaleError(2);
    return -1;
  }
  if (format != nullptr) {
    if (Conversions(format) > 1) {
      SetLocaleError(22);
      return -1;
    }
    double d = 0;
    if (dectodbl(value, &d) != 0) {
      SetLocaleError(9);
      return -1;
    }
    GlLocale* loc = rgllocstate()->client;
    return gl_mbsfmon(loc, out, size, format, d) < 0 ? -1 : 0;
  }
  if (size <= 0 || size > kDefaultMoneyField) size = kDefaultMoneyField;
  int field = size - rmoneyfrontlen() - rmoneybacklen() - 1;
  if (field > kDefaultMoneyField) field = kDefaultMoneyField;
  char text[kDefaultMoneyField + 1];
  if (field <= 0 || dectoasc(value, text, field, rmoneyscale()) != 0) {
    SetLocaleError(9);
    return -1;
  }
  while (field > 0 && text[field - 1] == ' ') field--;
  text[field] = '\0';
  rnum2money(text, out, nullptr, 0);
  return 0;
}

TV_EXTERN_C TV_API int zel_gl_convert_money(Decimal* out, const char* text, const char* format) {
  if (rglinit() < 0) return -1;
  if (out == nullptr || text == nullptr) {
    SetLocaleError(2);
    return -1;
  }
  if (format == nullptr) {
    // The plain text can grow where a separator of the money text is
    // shorter than the number text's one: room for four bytes each.
    const size_t n = strlen(text);
    std::string work(n * 4 + 1, '\0');
    rmondec(text, static_cast<int>(n), work.data());
    const int rc = deccvasc(work.c_str(), static_cast<int>(strlen(work.c_str())), out);
    if (rc == 0) return 0;
    SetLocaleError(rc == -1200 || rc == -1201 ? 14 : 9);
    return -1;
  }
  if (Conversions(format) > 1) {
    SetLocaleError(22);
    return -1;
  }
  double d = 0;
  GlLocale* loc = rgllocstate()->client;
  if (gl_mbspmon(loc, text, format, &d) == nullptr) return -1;
  if (deccvdbl(d, out) != 0) {
    SetLocaleError(14);
    return -1;
  }
  return 0;
}
