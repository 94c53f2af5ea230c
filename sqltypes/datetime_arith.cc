// DATETIME and INTERVAL arithmetic.
#include <stdio.h>
#include <string.h>

#include "base/client_locale.h"

#include "base/thread_state.h"
#include "sqltypes/date.h"
#include "sqltypes/datetime.h"
#include "sqltypes/datetime_fields.h"
#include "sqltypes/decimal_text.h"

namespace {

int64_t FloorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

int Fail(DateTimeValue* out, int rc) {
  decsetnull(&out->dt_dec);
  return rc;
}

// dt + inv with inv's sign; out takes dt's qualifier.
int AddInterval(const DateTimeValue* dt, const IntervalValue* inv, int inv_sign,
                DateTimeValue* out) {
  const int dq = dt->dt_qual, iq = inv->in_qual;
  out->dt_qual = static_cast<int16_t>(dq);
  if (int rc = dtchkqual(0, dq); rc != 0) return Fail(out, rc);
  if (int rc = dtchkqual(1, iq); rc != 0) return Fail(out, rc);
  if (dt->dt_dec.sign == DEC_NULLSIGN || inv->in_dec.sign == DEC_NULLSIGN) return Fail(out, 0);
  const int dfirst = TU_START(dq), dlast = TU_END(dq);
  const int ifirst = TU_START(iq), ilast = TU_END(iq);
  if (dlast < ilast || (ifirst < dfirst && ifirst != TU_SECOND)) return Fail(out, -1266);
  DtFields d, i;
  if (DecToFields(&dt->dt_dec, dq, &d) != 0 || DecToFields(&inv->in_dec, iq, &i) != 0)
    return Fail(out, -1266);
  const int64_t neg = inv_sign == DEC_NEG ? -1 : 1;
  auto ifield = [&](int u) -> int64_t {
    if (u < ifirst || u > ilast) return 0;
    return neg * i.f[UnitIndex(u)];
  };
  int64_t carry = 0;
  bool done = false;
  // From the interval's last unit up to the DATETIME's first.
  if (ilast > TU_SECOND) {
    int64_t sum = d.f[6] + neg * i.f[6];
    carry = FloorDiv(sum, 100000);
    d.f[6] = sum - carry * 100000;
  }
  const int start = ilast > TU_SECOND ? TU_SECOND : ilast;
  for (int u = start; u >= dfirst && !done; u -= 2) {
    const int x = UnitIndex(u);
    const int64_t sum = d.f[x] + ifield(u) + carry;
    switch (u) {
      case TU_SECOND:
      case TU_MINUTE:
        carry = FloorDiv(sum, 60);
        d.f[x] = sum - carry * 60;
        break;
      case TU_HOUR:
        carry = FloorDiv(sum, 24);
        d.f[x] = sum - carry * 24;
        break;
      case TU_DAY:
        if (dfirst == TU_DAY) {
          if (sum < 1 || sum > 31) return Fail(out, -1267);
          d.f[x] = sum;
          carry = 0;
        } else {
          int32_t date = 0;
          DtFields ymd = d;
          if (dfirst == TU_MONTH) {
            DtFields now;
            if (int rc = CurrentFields(&now); rc != 0) return Fail(out, rc);
            ymd.f[0] = now.f[0];
          }
          date = rdaynumber(static_cast<int>(ymd.f[0]), static_cast<int>(ymd.f[1]),
                            static_cast<int>(ymd.f[2]));
          const int64_t moved = date + ifield(TU_DAY) + carry;
          int16_t mdy[3];
          if (moved < DATE_MIN || moved > DATE_MAX ||
              rjulmdy(static_cast<int32_t>(moved), mdy) != 0)
            return Fail(out, -1204);
          if (dfirst == TU_MONTH && mdy[2] != ymd.f[0]) return Fail(out, -1267);
          d.f[0] = mdy[2];
          d.f[1] = mdy[0];
          d.f[2] = mdy[1];
          carry = 0;
          done = true;
        }
        break;
      case TU_MONTH: {
        const int64_t m = sum - 1;
        carry = FloorDiv(m, 12);
        d.f[x] = m - carry * 12 + 1;
        break;
      }
      default:  // the year
        d.f[x] = sum;
        carry = 0;
        break;
    }
  }
  if (dfirst == TU_YEAR) {
    if (d.f[0] < 1 || d.f[0] > 9999) return Fail(out, -1267);
  } else if (carry != 0) {
    return Fail(out, -1267);
  }
  // A year-month interval keeps the day inside the new month.
  if (ifirst <= TU_MONTH && dfirst <= TU_DAY && dlast >= TU_DAY) {
    int year = 2000;  // without a year February has 29 days
    if (dfirst == TU_YEAR) year = static_cast<int>(d.f[0]);
    const int len = rmonthlength(static_cast<int>(d.f[1]), year);
    if (d.f[2] > len) d.f[2] = len;
    if (d.f[2] < 1) return Fail(out, -1267);
  }
  Decimal result;
  if (FieldsToDec(d, dq, 1, &result) != 0 || dtchkval(&result, dq) != 0)
    return Fail(out, -1267);
  out->dt_dec = result;
  return 0;
}

// The working qualifier of a - b: a's, its first unit moved to the day
// when it starts at the year or month and ends at the day or later.
int SubQual(int q) {
  if (TU_START(q) <= TU_MONTH && TU_END(q) >= TU_DAY) return TU_ENCODE(TU_LEN(q), TU_DAY, TU_END(q));
  return q;
}

int IntervalFail(IntervalValue* out, int rc) {
  decsetnull(&out->in_dec);
  return rseterror(rc);
}

// The interval as a Decimal count of its count unit (seconds and a
// fraction for a fraction last unit).
int IntervalCount(const IntervalValue* v, Decimal* out) {
  DtFields f;
  if (DecToFields(&v->in_dec, v->in_qual, &f) != 0) return -1266;
  const __int128 count = FieldsToCount(f, v->in_qual, CountUnit(v->in_qual));
  char text[64];
  char* p = text + sizeof text - 1;
  *p = '\0';
  if (TU_END(v->in_qual) > TU_SECOND) {
    int64_t frac = f.f[6];
    for (int k = 0; k < 5; k++) {
      *--p = static_cast<char>('0' + frac % 10);
      frac /= 10;
    }
    *--p = '.';
  }
  unsigned __int128 c = count < 0 ? -count : count;
  do {
    *--p = static_cast<char>('0' + static_cast<int>(c % 10));
    c /= 10;
  } while (c != 0);
  if (v->in_dec.sign == DEC_NEG) *--p = '-';
  return deccvasc(p, static_cast<int>(strlen(p)), out);
}

// Splits a count (of qual's count unit) into an interval of qual's units
// whose first field has nine digits, truncating below the last unit.
int CountToInterval(const Decimal* count, int qual, IntervalValue* out) {
  const int nf = FracDigits(qual);
  Decimal c = *count;
  if (c.sign == DEC_NULLSIGN) {
    decsetnull(&out->in_dec);
    return 0;
  }
  dectrunc(&c, nf);
  char digits[100];
  int pos = 0, sign = 0;
  char* s = decdigitstr(&c, nf, &pos, &sign, 1);
  if (s == nullptr) return -1211;
  snprintf(digits, sizeof digits, "%s", s);
  const int n = static_cast<int>(strlen(digits));
  __int128 integer = 0;
  int64_t frac = 0;
  for (int k = 0; k < n; k++) {
    const int d = digits[k] - '0';
    if (d < 0 || d > 9) continue;
    if (k < pos) {
      if (integer > (static_cast<__int128>(1) << 100)) return -1265;
      integer = integer * 10 + d;
    } else if (k - pos < 5) {
      frac += d * Pow10(4 - (k - pos));
    }
  }
  int nine = qual;
  if (TU_START(qual) <= TU_SECOND)
    nine = TU_ENCODE(9 + TU_END(qual) - TU_START(qual), TU_START(qual), TU_END(qual));
  else
    nine = TU_ENCODE(9 + TU_END(qual) - TU_SECOND, TU_SECOND, TU_END(qual));
  DtFields f;
  CountToFields(integer, frac, nine, &f);
  out->in_qual = static_cast<int16_t>(nine);
  if (FieldsToDec(f, nine, integer == 0 && frac == 0 ? DEC_POS : (sign ? DEC_NEG : DEC_POS),
                  &out->in_dec) != 0)
    return -1265;
  return 0;
}

int ScaleInterval(const IntervalValue* value, double factor, IntervalValue* out, bool divide) {
  rseterror(0);
  if (int rc = dtchkqual(1, value->in_qual); rc != 0) return rc;
  if (int rc = dtchkqual(1, out->in_qual); rc != 0) return rc;
  Decimal f;
  if (int rc = deccvdbl(factor, &f); rc != 0) return rc;
  IntervalValue conv{out->in_qual, {}};
  if (int rc = invextend(value, &conv); rc != 0) return IntervalFail(out, rc);
  if (conv.in_dec.sign == DEC_NULLSIGN || f.sign == DEC_NULLSIGN) return IntervalFail(out, 0);
  Decimal count, result;
  if (int rc = IntervalCount(&conv, &count); rc != 0) return IntervalFail(out, rc);
  int rc = divide ? decdiv(&count, &f, &result) : decmul(&count, &f, &result);
  if (rc != 0) return IntervalFail(out, rc);
  IntervalValue wide{};
  if ((rc = CountToInterval(&result, out->in_qual, &wide)) != 0) return IntervalFail(out, rc);
  return invextend(&wide, out);
}

}  // namespace

TV_EXTERN_C TV_API int dtaddinv(const DateTimeValue* dt, const IntervalValue* inv,
                                DateTimeValue* out) {
  return AddInterval(dt, inv, inv->in_dec.sign, out);
}

// The interval is negated as a local copy: the caller's value is never
// changed, so another thread may read it meanwhile.
TV_EXTERN_C TV_API int dtsubinv(const DateTimeValue* dt, const IntervalValue* inv,
                                DateTimeValue* out) {
  const int sign = inv->in_dec.sign == DEC_POS ? DEC_NEG : inv->in_dec.sign == DEC_NEG ? DEC_POS
                                                                                       : DEC_NULLSIGN;
  return AddInterval(dt, inv, sign, out);
}

TV_EXTERN_C TV_API int dtsub(const DateTimeValue* a, const DateTimeValue* b, IntervalValue* out) {
  rseterror(0);
  const int aq = a->dt_qual;
  if (int rc = dtchkqual(0, aq); rc != 0) return IntervalFail(out, rc);
  if (int rc = dtchkqual(0, b->dt_qual); rc != 0) return IntervalFail(out, rc);
  if (int rc = dtchkqual(1, out->in_qual); rc != 0) return IntervalFail(out, rc);
  if (a->dt_dec.sign == DEC_NULLSIGN || b->dt_dec.sign == DEC_NULLSIGN) return IntervalFail(out, 0);
  DateTimeValue bx{static_cast<int16_t>(aq), {}};
  if (int rc = dtextend(b, &bx); rc != 0) return IntervalFail(out, rc);
  const int cmp = deccmp(&a->dt_dec, &bx.dt_dec);
  const DateTimeValue* hi = cmp >= 0 ? a : &bx;
  const DateTimeValue* lo = cmp >= 0 ? &bx : a;
  DtFields h, l, r;
  if (DecToFields(&hi->dt_dec, aq, &h) != 0 || DecToFields(&lo->dt_dec, aq, &l) != 0)
    return IntervalFail(out, -1266);
  const int wq = SubQual(aq);
  const int first = TU_START(aq), last = TU_END(aq);
  int64_t borrow = 0;
  if (last > TU_SECOND) {
    int64_t x = h.f[6] - l.f[6];
    borrow = x < 0 ? 1 : 0;
    r.f[6] = x + borrow * 100000;
  }
  for (int u = last > TU_SECOND ? TU_SECOND : last; u >= first; u -= 2) {
    const int k = UnitIndex(u);
    int64_t x = h.f[k] - l.f[k] - borrow;
    if (u == TU_DAY && first < TU_DAY) {
      int32_t dh = 0, dl = 0;
      if (dttodate(&hi->dt_dec, aq, &dh) != 0 || dttodate(&lo->dt_dec, aq, &dl) != 0)
        return IntervalFail(out, -1266);
      r.f[k] = static_cast<int64_t>(dh) - dl - borrow;
      break;
    }
    const int64_t base = u == TU_SECOND || u == TU_MINUTE ? 60 : u == TU_HOUR ? 24
                         : u == TU_MONTH                  ? 12 : 0;
    borrow = 0;
    if (base != 0 && u != first && x < 0) {
      x += base;
      borrow = 1;
    }
    r.f[k] = x;
  }
  IntervalValue w{static_cast<int16_t>(wq), {}};
  if (FieldsToDec(r, wq, cmp >= 0 ? DEC_POS : DEC_NEG, &w.in_dec) != 0)
    return IntervalFail(out, -1265);
  return invextend(&w, out);
}

TV_EXTERN_C TV_API int invmuldbl(const IntervalValue* value, double factor, IntervalValue* out) {
  return ScaleInterval(value, factor, out, false);
}

TV_EXTERN_C TV_API int invdivdbl(const IntervalValue* value, double divisor, IntervalValue* out) {
  return ScaleInterval(value, divisor, out, true);
}

TV_EXTERN_C TV_API int invdivinv(const IntervalValue* a, const IntervalValue* b, double* out) {
  if (int rc = rglinit(); rc < 0) return rc;
  const int aq = a->in_qual, bq = b->in_qual;
  if (int rc = dtchkqual(1, aq); rc != 0) return rc;
  if (int rc = dtchkqual(1, bq); rc != 0) return rc;
  IntervalValue ca = *a, cb = *b;
  if (aq != bq) {
    const int af = TU_START(aq), bf = TU_START(bq);
    const int first = af < bf ? af : bf;
    const int digits = af < bf ? FirstDigits(aq) : FirstDigits(bq);
    const int last = TU_END(aq) > TU_END(bq) ? TU_END(aq) : TU_END(bq);
    const int cq = TU_ENCODE(digits + last - first, first, last);
    if (int rc = dtchkqual(1, cq); rc != 0) return rc;
    ca.in_qual = cb.in_qual = static_cast<int16_t>(cq);
    if (int rc = invextend(a, &ca); rc != 0) return rc;
    if (int rc = invextend(b, &cb); rc != 0) return rc;
  }
  if (ca.in_dec.sign == DEC_NULLSIGN || cb.in_dec.sign == DEC_NULLSIGN) {
    memset(out, 0xFF, sizeof *out);
    return 0;
  }
  Decimal na, nb, q;
  if (int rc = IntervalCount(&ca, &na); rc != 0) return rc;
  if (int rc = IntervalCount(&cb, &nb); rc != 0) return rc;
  if (int rc = decdiv(&na, &nb, &q); rc != 0) return rc;
  return dectodbl(&q, out);
}
