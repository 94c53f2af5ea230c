// INTERVAL text by formats: a text read under a format is first assembled
// into the standard interval form and read by incvasc; a value is written
// field by field under a format.
#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "base/env.h"
#include "sqltypes/date.h"
#include "sqltypes/datetime_fields.h"
#include "sqltypes/datetime_format.h"

namespace {

constexpr const char* kDefaultFormat = "%Y-%m-%d %H:%M:%S";
constexpr int kFirstFieldDigits = 9;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return isalpha(static_cast<unsigned char>(c)) != 0; }
bool IsSpace(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }

const char* FormatOrDefault(const char* format) {
  if (format != nullptr) return format;
  const char* v = ggetenv_idx("DBTIME", ENVROW_DBTIME);
  return v != nullptr ? v : kDefaultFormat;
}

int UnitOfLetter(char c) {
  switch (c) {
    case 'Y': return TU_YEAR;
    case 'm': return TU_MONTH;
    case 'd': return TU_DAY;
    case 'H': case 'I': return TU_HOUR;
    case 'M': return TU_MINUTE;
    case 'S': return TU_SECOND;
    default: return -1;
  }
}

// The working qualifier: q's units with a first field of nine digits (two
// when q starts at the fraction).
int WorkingQual(int q) {
  const int first = TU_START(q), last = TU_END(q);
  if (first > TU_SECOND) return TU_ENCODE(last - TU_SECOND, TU_FRAC, last);
  return TU_ENCODE(kFirstFieldDigits + last - first, first, last);
}

// Widths and precisions beyond any output length are capped.
int Accumulate(int value, char digit) {
  const int v = value * 10 + (digit - '0');
  return v > 9999 ? 9999 : v;
}

struct Conversion {
  bool minus = false;
  int width = -1;
  int precision = -1;
  char letter = 0;
  int fraction_digits = 2;  // F: the digit after it, or 2
};

// Reads a conversion after its '%'; *p moves past it. 0 or a code.
int ReadConversion(const char** p, Conversion* c) {
  const char* s = *p;
  if (*s == '-') c->minus = true, s++;
  if (IsDigit(*s)) {
    c->width = 0;
    while (IsDigit(*s)) c->width = Accumulate(c->width, *s++);
  }
  if (*s == '.') {
    s++;
    c->precision = 0;
    while (IsDigit(*s)) c->precision = Accumulate(c->precision, *s++);
  }
  if (*s == '\0') return -1276;
  c->letter = *s++;
  if (c->letter == 'F' && IsDigit(*s)) {
    c->fraction_digits = *s++ - '0';
    if (c->fraction_digits < 1 || c->fraction_digits > 5) return -1275;
  }
  *p = s;
  return 0;
}

// The text of an interval read under a format, assembled into the
// standard form of the working qualifier.
class Assembler {
 public:
  explicit Assembler(int q) : q_(q) {}
  int Run(const char* text, const char* format, std::string* out);

 private:
  int Field(const Conversion& c, int unit, const char** t);
  int q_;
  std::string fields_[7];
  bool first_taken_ = false;
};

int Assembler::Field(const Conversion& c, int unit, const char** t) {
  const char* p = *t;
  std::string digits;
  if (unit == TU_START(q_) && !first_taken_) {
    first_taken_ = true;
    while (*p != '\0' && !IsDigit(*p)) p++;
    while (IsDigit(*p)) {
      digits += *p++;
      if (static_cast<int>(digits.size()) > kFirstFieldDigits) return -1263;
    }
    if (c.width > 0 && c.width < static_cast<int>(digits.size())) {
      p -= digits.size() - static_cast<size_t>(c.width);
      digits.resize(static_cast<size_t>(c.width));
    }
  } else {
    int count = 2;
    int skip = 0;
    if (c.width >= 0 && c.width < 2) count = c.width;
    if (c.width > 2) skip = c.width - 2;
    if (!c.minus)
      for (; skip > 0 && *p != '\0'; skip--) p++;
    for (int k = 0; k < count && IsDigit(*p); k++) digits += *p++;
    if (digits.empty()) return -1277;
    if (count == 2 && digits.size() == 1) digits.insert(digits.begin(), '0');
    if (c.minus)
      for (; skip > 0 && *p != '\0'; skip--) p++;
  }
  fields_[UnitIndex(unit)] = digits;
  *t = p;
  return 0;
}

int Assembler::Run(const char* text, const char* format, std::string* out) {
  const char* t = text;
  const char* f = format;
  while (*f != '\0') {
    if (*f != '%') {
      while (IsSpace(*f)) f++;
      while (IsSpace(*t)) t++;
      if (*f == '\0') break;
      if (*f == '%') continue;
      if (*t != *f) return -1277;
      t++, f++;
      continue;
    }
    f++;
    if (*f == '%') {
      if (*t != '%') return -1277;
      t++, f++;
      continue;
    }
    Conversion c;
    if (int rc = ReadConversion(&f, &c); rc != 0) return rc;
    if (!IsLetter(c.letter)) return -1275;
    if (strchr("BIbpy", c.letter) != nullptr) return -1276;
    if (c.letter == 'F') {
      if (*t != '.') return -1271;
      t++;
      std::string digits;
      while (static_cast<int>(digits.size()) < c.fraction_digits && IsDigit(*t)) digits += *t++;
      fields_[6] = digits;
    } else {
      const int unit = UnitOfLetter(c.letter);
      if (unit < 0) return -1276;
      if (int rc = Field(c, unit, &t); rc != 0) return rc;
    }
    if (IsDigit(*t) && *f != *t) return IsDigit(*f) ? -1277 : *f != '%' ? -1263 : 0;
  }
  while (IsSpace(*t)) t++;
  if (*t != '\0') return -1277;
  const int first = TU_START(q_), last = TU_END(q_);
  std::string a;
  if (first <= TU_SECOND) {
    a = fields_[UnitIndex(first)].empty() ? "0" : fields_[UnitIndex(first)];
    static const char kSep[] = {0, 0, '-', 0, ' ', 0, ' ', 0, ':', 0, ':'};
    for (int u = first + 2; u <= last && u <= TU_SECOND; u += 2) {
      a += kSep[u];
      a += fields_[UnitIndex(u)].empty() ? "00" : fields_[UnitIndex(u)];
    }
  }
  if (last > TU_SECOND) a += "." + fields_[6];
  *out = a;
  return 0;
}

}  // namespace

TV_EXTERN_C TV_API int incvfmtasc(const char* text, const char* format, IntervalValue* out) {
  if (text == nullptr || text[0] == '\0') return -1272;
  format = FormatOrDefault(format);
  const int q = dtfmtqual(format);
  if (q < 0) return q;
  if (q == 0) return -1277;
  if (int rc = rdatenamesinit(); rc != 0) return rc;
  std::string assembly;
  Assembler assembler(q);
  if (int rc = assembler.Run(text, format, &assembly); rc != 0) return rc;
  IntervalValue work{static_cast<int16_t>(WorkingQual(q)), {}};
  if (int rc = incvasc(assembly.c_str(), &work); rc != 0) return rc;
  const char* lead = text;
  while (IsSpace(*lead)) lead++;
  if (*lead == '-' && IsDigit(assembly[0]) && work.in_dec.sign == DEC_POS)
    work.in_dec.sign = DEC_NEG;
  return invextend(&work, out);
}

TV_EXTERN_C TV_API int intofmtasc(const IntervalValue* value, char* out, int length,
                                  const char* format) {
  format = FormatOrDefault(format);
  if (out == nullptr || length < static_cast<int>(strlen(format))) return -1273;
  const int q = dtfmtqual(format);
  if (q < 0) return q;
  if (length > 0) out[0] = '\0';
  if (value->in_dec.sign == DEC_NULLSIGN) return 0;
  if (q == 0) {
    if (static_cast<int>(strlen(format)) >= length) return -1273;
    memcpy(out, format, strlen(format) + 1);
    return 0;
  }
  const int wq = WorkingQual(q);
  IntervalValue work{static_cast<int16_t>(wq), {}};
  if (int rc = invextend(value, &work); rc != 0) return rc;
  DtFields fields;
  if (DecToFields(&work.in_dec, wq, &fields) != 0) return -1266;
  const bool negative = work.in_dec.sign == DEC_NEG;
  if (int rc = rdatenamesinit(); rc != 0) return rc;
  if (length > 1) memset(out, ' ', static_cast<size_t>(length - 1));
  int pos = 0;
  auto put = [&](const std::string& s) {
    if (pos + static_cast<int>(s.size()) > length - 1) return false;
    memcpy(out + pos, s.data(), s.size());
    pos += static_cast<int>(s.size());
    return true;
  };
  const int first = TU_START(wq), last = TU_END(wq);
  for (const char* f = format; *f != '\0';) {
    if (*f != '%') {
      if (!put(std::string(1, *f++))) return -1273;
      continue;
    }
    f++;
    if (*f == '%') {
      f++;
      if (!put("%")) return -1273;
      continue;
    }
    Conversion c;
    if (int rc = ReadConversion(&f, &c); rc != 0) return rc;
    if (!IsLetter(c.letter)) return -1275;
    if (strchr("Bbp", c.letter) != nullptr) return -1276;
    std::string piece;
    if (c.letter == 'F') {
      if (last <= TU_SECOND) continue;
      char digits[8];
      snprintf(digits, sizeof digits, "%05lld", static_cast<long long>(fields.f[6]));
      piece = "." + std::string(digits, static_cast<size_t>(c.fraction_digits));
    } else {
      const int unit = c.letter == 'y' ? TU_YEAR : UnitOfLetter(c.letter);
      if (unit < 0) return -1276;
      if (unit < first || unit > last) continue;
      long long v = fields.f[UnitIndex(unit)];
      if (c.letter == 'I' && v > 12) v %= 12;
      if (c.letter == 'y') v %= 100;
      const bool signed_field = negative && unit == first;
      if (signed_field) v = -v;
      std::string spec = "%";
      if (c.minus) spec += '-';
      if (c.width >= 0) spec += std::to_string(c.width);
      if (c.precision >= 0) spec += "." + std::to_string(c.precision);
      if (!c.minus && c.width < 0 && c.precision < 0) spec += unit == TU_YEAR ? ".4" : ".2";
      spec += "lld";
      std::string buf(static_cast<size_t>(c.width + c.precision) + 40, '\0');
      const int n = snprintf(buf.data(), buf.size(), spec.c_str(), v);
      if (signed_field && v == 0) piece = "-";
      piece.append(buf.data(), static_cast<size_t>(n > 0 ? n : 0));
    }
    if (!put(piece)) return -1273;
  }
  out[pos] = '\0';
  return 0;
}
