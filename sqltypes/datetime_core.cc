// Qualifiers, the field form of values, range checks and conversions
// between DATETIME qualifiers and between INTERVAL qualifiers.
#include <string.h>

#include "base/thread_state.h"
#include "sqltypes/date.h"
#include "sqltypes/datetime.h"
#include "sqltypes/datetime_clock.h"
#include "sqltypes/datetime_fields.h"

namespace {

// Place (power of 100) of each unit's byte; the first field grows upward.
int Place(int unit) { return (TU_SECOND - unit) / 2; }

constexpr int kLowPlace = -3;   // fraction digits 5 and 6
constexpr int kHighPlace = 12;
constexpr int kPlaces = kHighPlace - kLowPlace + 1;

bool ValueDigitsFit(const Decimal* v, int kind) {
  if (decvalid(v) != 0) return false;
  if (v->ndigits == 0) return true;
  return kind == 0 ? v->exponent <= 7 && v->ndigits <= 10 : v->exponent <= 11 && v->ndigits <= 11;
}

}  // namespace

int64_t Pow10(int n) {
  if (n > 18) return INT64_MAX;  // beyond every field value
  int64_t p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

int dtchkqual(int kind, int qual) {
  const int len = TU_LEN(qual), first = TU_START(qual), last = TU_END(qual);
  bool ok = qual > 0 && len != 0 && FirstDigits(qual) >= 1;
  ok = ok && first % 2 == 0 && (last % 2 == 0 || last > TU_SECOND);
  ok = ok && ((first <= last && first <= TU_FRAC) || (first == TU_FRAC && last == TU_F1));
  if (ok && kind == 0) ok = FirstDigits(qual) == (first == TU_YEAR ? 4 : 2);
  if (ok && kind == 1) ok = first >= TU_DAY || last <= TU_MONTH;
  if (!ok) return rseterror(-1268);
  return 0;
}

int DecToFields(const Decimal* v, int qual, DtFields* out) {
  *out = DtFields{};
  uint8_t p[kPlaces] = {0};
  for (int i = 0; i < v->ndigits; i++) {
    const int place = v->exponent - 1 - i;
    if (v->digits[i] == 0) continue;
    if (place < kLowPlace || place > kHighPlace) return -1266;
    p[place - kLowPlace] = v->digits[i];
  }
  const int first = TU_START(qual), last = TU_END(qual);
  auto at = [&](int place) -> int64_t { return p[place - kLowPlace]; };
  if (first <= TU_SECOND) {
    const int fp = Place(first);
    const int nd = FirstDigits(qual);
    int64_t value = 0;
    for (int place = kHighPlace; place >= fp; place--) {
      if (value > (INT64_MAX - 99) / 100) return -1266;
      value = value * 100 + at(place);
    }
    if (value >= Pow10(nd)) return -1266;
    out->f[UnitIndex(first)] = value;
    const int lastint = last <= TU_SECOND ? last : TU_SECOND;
    for (int u = first + 2; u <= lastint; u += 2) out->f[UnitIndex(u)] = at(Place(u));
    for (int place = Place(lastint) - 1; place >= 0; place--)
      if (at(place) != 0) return -1266;
  } else {
    for (int place = kHighPlace; place >= 0; place--)
      if (at(place) != 0) return -1266;
  }
  const int64_t frac = at(-1) * 1000 + at(-2) * 10 + at(-3) / 10;
  if (at(-3) % 10 != 0) return -1266;
  const int nf = FracDigits(qual);
  if (frac % Pow10(5 - nf) != 0) return -1266;
  out->f[6] = frac;
  return 0;
}

int FieldsToDec(const DtFields& in, int qual, int sign, Decimal* out) {
  const int first = TU_START(qual), last = TU_END(qual);
  uint8_t space[1 + kPlaces] = {0};
  uint8_t* p = space + 1;  // p[0] is place kHighPlace
  auto set = [&](int place, int64_t v) { p[kHighPlace - place] = static_cast<uint8_t>(v); };
  if (first <= TU_SECOND) {
    int64_t v = in.f[UnitIndex(first)];
    if (v == INT64_MIN) return -1265;
    if (v < 0) v = -v;
    if (v >= Pow10(FirstDigits(qual))) return -1265;
    for (int place = Place(first); v > 0; place++) {
      if (place > kHighPlace) return -1265;
      set(place, v % 100);
      v /= 100;
    }
    const int lastint = last <= TU_SECOND ? last : TU_SECOND;
    for (int u = first + 2; u <= lastint; u += 2) set(Place(u), in.f[UnitIndex(u)]);
  }
  const int nf = FracDigits(qual);
  if (nf > 0) {
    int64_t frac = in.f[6] / Pow10(5 - nf) * Pow10(5 - nf);
    set(-1, frac / 1000);
    set(-2, frac / 10 % 100);
    set(-3, frac % 10 * 10);
  }
  return decnorm(out, sign, kHighPlace + 1, p, kPlaces);
}

int dtchkval(const Decimal* v, int qual) {
  if (v->sign == DEC_NULLSIGN) return 0;
  if (dtchkqual(0, qual) != 0 || !ValueDigitsFit(v, 0)) return -1266;
  DtFields f;
  if (DecToFields(v, qual, &f) != 0) return -1266;
  const int first = TU_START(qual), last = TU_END(qual);
  auto has = [&](int u) { return first <= u && u <= last; };
  if (has(TU_YEAR) && (f.f[0] < 1 || f.f[0] > 9999)) return -1263;
  if (has(TU_MONTH) && (f.f[1] < 1 || f.f[1] > 12)) return -1263;
  if (has(TU_DAY)) {
    int maxday = 31;
    if (has(TU_YEAR)) maxday = rmonthlength(static_cast<int>(f.f[1]), static_cast<int>(f.f[0]));
    else if (has(TU_MONTH)) maxday = rmonthlength(static_cast<int>(f.f[1]), 2000);
    if (f.f[2] < 1 || f.f[2] > maxday) return -1263;
  }
  if (has(TU_HOUR) && f.f[3] > 23) return -1263;
  if (has(TU_MINUTE) && f.f[4] > 59) return -1263;
  if (has(TU_SECOND) && f.f[5] > 59) return -1263;
  return 0;
}

int invchkval(const Decimal* v, int qual) {
  if (v->sign == DEC_NULLSIGN) return 0;
  if (dtchkqual(1, qual) != 0 || !ValueDigitsFit(v, 1)) return -1266;
  DtFields f;
  if (DecToFields(v, qual, &f) != 0) return -1266;
  const int first = TU_START(qual), last = TU_END(qual);
  auto later = [&](int u) { return first < u && u <= last; };
  if (later(TU_MONTH) && f.f[1] > 11) return -1263;
  if (later(TU_HOUR) && f.f[3] > 23) return -1263;
  if (later(TU_MINUTE) && f.f[4] > 59) return -1263;
  if (later(TU_SECOND) && f.f[5] > 59) return -1263;
  return 0;
}

int CurrentFields(DtFields* out) {
  Decimal now;
  int rc = dtgetcurrent(&now);
  if (rc != 0) return rc;
  return DecToFields(&now, TU_ENCODE(19, TU_YEAR, TU_F5), out);
}

int dttodate(const Decimal* value, int qual, int32_t* date) {
  DtFields f;
  if (int rc = DecToFields(value, qual, &f); rc != 0) return rc;
  const int first = TU_START(qual);
  if (first > TU_YEAR) {
    DtFields now;
    if (int rc = CurrentFields(&now); rc != 0) return rc;
    f.f[0] = now.f[0];
    if (first > TU_MONTH) f.f[1] = now.f[1];
  }
  int16_t mdy[3] = {static_cast<int16_t>(f.f[1]), static_cast<int16_t>(f.f[2]),
                    static_cast<int16_t>(f.f[0])};
  return rmdyjul(mdy, date);
}

int datetodt(int32_t date, Decimal* out, int qual) {
  int16_t mdy[3];
  if (date == DATE_NULL) {
    decsetnull(out);
    return 0;
  }
  if (int rc = rjulmdy(date, mdy); rc != 0) return rc;
  DtFields f;
  f.f[0] = mdy[2];
  f.f[1] = mdy[0];
  f.f[2] = mdy[1];
  DateTimeValue src{TU_ENCODE(8, TU_YEAR, TU_DAY), {}};
  FieldsToDec(f, src.dt_qual, 1, &src.dt_dec);
  DateTimeValue dst{static_cast<int16_t>(qual), {}};
  int rc = dtextend(&src, &dst);
  *out = dst.dt_dec;
  return rc;
}

TV_EXTERN_C TV_API int dtextend(const DateTimeValue* source, DateTimeValue* target) {
  rseterror(0);
  const int sq = source->dt_qual, tq = target->dt_qual;
  if (int rc = dtchkqual(0, sq); rc != 0) return rc;
  if (int rc = dtchkqual(0, tq); rc != 0) return rc;
  if (source->dt_dec.sign == DEC_NULLSIGN) {
    decsetnull(&target->dt_dec);
    return 0;
  }
  DtFields src, f;
  if (int rc = DecToFields(&source->dt_dec, sq, &src); rc != 0) return rseterror(rc);
  const int sfirst = TU_START(sq), slast = TU_END(sq);
  if (TU_START(tq) < sfirst) {
    if (int rc = CurrentFields(&f); rc != 0) return rseterror(rc);
  }
  for (int u = TU_YEAR; u <= TU_SECOND; u += 2)
    if (u >= sfirst) f.f[UnitIndex(u)] = u <= slast ? src.f[UnitIndex(u)] : 0;
  f.f[6] = slast > TU_SECOND ? src.f[6] : 0;
  if (slast <= TU_MONTH) f.f[2] = 1;
  if (slast == TU_YEAR) f.f[1] = 1;
  Decimal out;
  if (int rc = FieldsToDec(f, tq, 1, &out); rc != 0) return rseterror(-1266);
  if (int rc = dtchkval(&out, tq); rc != 0) {
    decsetnull(&target->dt_dec);
    return rseterror(rc);
  }
  target->dt_dec = out;
  return 0;
}

__int128 FieldsToCount(const DtFields& in, int qual, int unit) {
  const int first = TU_START(qual), last = TU_END(qual);
  __int128 count = 0;
  for (int u = first <= TU_SECOND ? first : TU_SECOND + 2; u <= unit; u += 2) {
    int mult = u == TU_MONTH ? 12 : u == TU_HOUR ? 24 : (u == TU_MINUTE || u == TU_SECOND) ? 60 : 1;
    if (u == first) mult = 1;
    count = count * mult + (u <= last ? in.f[UnitIndex(u)] : 0);
  }
  return count;
}

TV_EXTERN_C TV_API int invextend(const IntervalValue* source, IntervalValue* target) {
  rseterror(0);
  const int sq = source->in_qual, tq = target->in_qual;
  if (int rc = dtchkqual(1, sq); rc != 0) return rc;
  if (int rc = dtchkqual(1, tq); rc != 0) return rc;
  if (sq == tq) {
    target->in_dec = source->in_dec;
    return 0;
  }
  const int sfirst = TU_START(sq), slast = TU_END(sq);
  const int tfirst = TU_START(tq), tlast = TU_END(tq);
  const bool s_ym = sfirst <= TU_MONTH, t_ym = tfirst <= TU_MONTH;
  if (s_ym != t_ym || tlast < sfirst) {
    decsetnull(&target->in_dec);
    return rseterror(-1266);
  }
  if (source->in_dec.sign == DEC_NULLSIGN) {
    decsetnull(&target->in_dec);
    return 0;
  }
  DtFields src;
  if (DecToFields(&source->in_dec, sq, &src) != 0) {
    decsetnull(&target->in_dec);
    return rseterror(-1266);
  }
  // The count of the target's count unit.
  const int cu = CountUnit(tq);
  const __int128 count = FieldsToCount(src, sq, cu);
  int64_t frac = 0;
  if (tlast > TU_SECOND && slast > TU_SECOND) {
    const int keep = FracDigits(tq) < FracDigits(sq) ? FracDigits(tq) : FracDigits(sq);
    frac = src.f[6] / Pow10(5 - keep) * Pow10(5 - keep);
  }
  DtFields out;
  CountToFields(count, frac, tq, &out);
  Decimal result;
  if (FieldsToDec(out, tq, source->in_dec.sign, &result) != 0) {
    decsetnull(&target->in_dec);
    return rseterror(-1265);
  }
  target->in_dec = result;
  return 0;
}

void CountToFields(__int128 count, int64_t frac, int qual, DtFields* out) {
  *out = DtFields{};
  out->f[6] = frac;
  const int first = TU_START(qual);
  if (first > TU_SECOND) return;
  for (int u = CountUnit(qual); u > first; u -= 2) {
    const int div = u == TU_MONTH ? 12 : u == TU_HOUR ? 24 : 60;
    out->f[UnitIndex(u)] = static_cast<int64_t>(count % div);
    count /= div;
  }
  // A first field beyond int64 cannot fit any qualifier.
  out->f[UnitIndex(first)] = count > INT64_MAX ? INT64_MAX : static_cast<int64_t>(count);
}
