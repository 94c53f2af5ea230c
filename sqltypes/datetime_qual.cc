// Qualifier names and the result type of arithmetic and comparisons.
#include <stdio.h>
#include <string.h>

#include "base/thread_state.h"
#include "sqltypes/datetime.h"
#include "sqltypes/datetime_fields.h"

namespace {

// SQL type codes used here.
constexpr int kChar = 0, kFloat = 3, kSmallFloat = 4, kDate = 7, kDateTime = 10,
              kInterval = 14, kNChar = 15;
constexpr int kOpMul = 60, kOpDiv = 61, kOpSub = 59;
constexpr int kFloating = 255;

bool IsComparison(int op) { return op >= 46 && op <= 51; }

int StandardDigits(int unit) { return unit == TU_YEAR ? 4 : 2; }

int Encode(int first_digits, int first, int last) {
  return TU_ENCODE(first_digits + last - first, first, last);
}

// The qualifier's units with a nine-digit first field; a FRACTION first
// unit is taken as the second.
int NineDigits(int q) {
  const int first = TU_START(q) > TU_SECOND ? TU_SECOND : TU_START(q);
  return Encode(9, first, TU_END(q));
}

int Numbers(int lw, int rw, int op, int lt, int rt) {
  int lp = lw >> 8 & 0xFF, ls = lw & 0xFF, rp = rw >> 8 & 0xFF, rs = rw & 0xFF;
  if (lt == kChar || lt == kNChar || lt == kFloat) lp = 16, ls = kFloating;
  if (lt == kSmallFloat) lp = 8, ls = kFloating;
  if (rt == kChar || rt == kNChar || rt == kFloat) rp = 16, rs = kFloating;
  if (rt == kSmallFloat) rp = 8, rs = kFloating;
  const bool floating = ls == kFloating || rs == kFloating;
  if (op == kOpDiv) {
    int p = lp + rp;
    if (p > 32) p = 32;
    if (p < 16) p = 16;
    return p << 8 | kFloating;
  }
  const int li = ls == kFloating ? lp : lp - ls, ri = rs == kFloating ? rp : rp - rs;
  const int l_s = floating ? 0 : ls, r_s = floating ? 0 : rs;
  int i = li, s = l_s;
  if (op == 58 || op == kOpSub) {
    i = (li > ri ? li : ri) + 1;
    s = l_s > r_s ? l_s : r_s;
  } else if (op == kOpMul) {
    i = li + ri;
    s = l_s + r_s;
  }
  if (i > 32 && lt != kChar && lt != kNChar) i = 32;
  bool result_floating = floating;
  int p = i;
  if (s != 0) {
    if (i + s > 32) {
      s = 32 - i;
      if (s <= 0) {
        s = 0;
        result_floating = true;
      }
    }
    p = i + s;
    if (p == 32) result_floating = true;
  }
  if ((op >= 58 && op <= 61) && (s != 0 || result_floating) && p < 16) p = 16;
  return p << 8 | (result_floating ? kFloating : s);
}

}  // namespace

TV_EXTERN_C TV_API const char* rtuname(int unit) {
  switch (unit) {
    case TU_YEAR: return "year";
    case TU_MONTH: return "month";
    case TU_DAY: return "day";
    case TU_HOUR: return "hour";
    case TU_MINUTE: return "minute";
    case TU_SECOND: return "second";
    default: return "fraction";
  }
}

int dtqualname(int kind, int qual, char* out) {
  if (dtchkqual(kind == 14 ? 1 : 0, qual) != 0) return 0;
  const int first = TU_START(qual), last = TU_END(qual);
  char text[64];
  int n = snprintf(text, sizeof text, "%s", rtuname(first));
  if (kind == 14 && first <= TU_SECOND && FirstDigits(qual) != StandardDigits(first))
    n += snprintf(text + n, sizeof text - n, "(%d)", FirstDigits(qual));
  n += snprintf(text + n, sizeof text - n, " to %s", rtuname(last));
  if (last > TU_SECOND) n += snprintf(text + n, sizeof text - n, "(%d)", last - TU_SECOND);
  memcpy(out, text, n);
  return n;
}

int rtypresult(int lw, int rw, int op, int lt, int rt) {
  lt &= 0xFF;
  rt &= 0xFF;
  const int ymd = TU_ENCODE(8, TU_YEAR, TU_DAY);
  if (lt == kDate && (rt == kDateTime || rt == kInterval)) lt = kDateTime, lw = ymd;
  if (rt == kDate && (lt == kDateTime || lt == kInterval)) rt = kDateTime, rw = ymd;
  if (lt == kDateTime) {
    if (rt != kDateTime) return lw;
    if (IsComparison(op)) {
      const int first = TU_START(lw) < TU_START(rw) ? TU_START(lw) : TU_START(rw);
      const int last = TU_END(lw) > TU_END(rw) ? TU_END(lw) : TU_END(rw);
      return Encode(StandardDigits(first), first, last);
    }
    if (op == kOpSub && TU_START(lw) < TU_DAY && TU_END(lw) >= TU_DAY)
      return TU_ENCODE(TU_LEN(lw), TU_DAY, TU_END(lw));
    return lw;
  }
  if (rt == kDateTime) return rw;
  if (lt == kInterval) {
    if (op == kOpMul) return NineDigits(lw);
    if (rt == kInterval && IsComparison(op)) {
      const int lf = TU_START(lw), rf = TU_START(rw);
      const int first = lf < rf ? lf : rf;
      int digits = lf < rf ? FirstDigits(lw) : FirstDigits(rw);
      if (lf == rf) digits = FirstDigits(lw) > FirstDigits(rw) ? FirstDigits(lw) : FirstDigits(rw);
      const int last = TU_END(lw) > TU_END(rw) ? TU_END(lw) : TU_END(rw);
      return Encode(digits, first, last);
    }
    return lw;
  }
  if (rt == kInterval) return op == kOpMul ? NineDigits(rw) : rw;
  return Numbers(lw, rw, op, lt, rt);
}
