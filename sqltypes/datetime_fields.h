// The field form in which DATETIME and INTERVAL values are worked on.
#pragma once

#include <stdint.h>

#include "sqltypes/datetime.h"

// f[0] year, f[1] month, f[2] day, f[3] hour, f[4] minute, f[5] second,
// f[6] the fraction as five digits (0-99999). The first field of an
// INTERVAL may hold more than its usual range.
struct DtFields {
  int64_t f[7] = {0, 0, 0, 0, 0, 0, 0};
};

inline int UnitIndex(int unit) { return unit <= TU_SECOND ? unit / 2 : 6; }
inline int FracDigits(int qual) { return TU_END(qual) > TU_SECOND ? TU_END(qual) - TU_SECOND : 0; }
// Digits of the first field: digit count - last + first.
inline int FirstDigits(int qual) { return TU_LEN(qual) - TU_END(qual) + TU_START(qual); }
// The unit the count of a value is kept in: the last unit, seconds for a
// fraction.
inline int CountUnit(int qual) { return TU_END(qual) > TU_SECOND ? TU_SECOND : TU_END(qual); }

// Fields of a non-null value under qual: 0, or -1266 when digits lie
// outside the qualifier's fields.
int DecToFields(const Decimal* value, int qual, DtFields* out);
// Builds the Decimal of the fields that qual covers (fraction truncated to
// the qualifier's digits): 0, or -1265 when the first field has more
// digits than the qualifier gives it.
int FieldsToDec(const DtFields& in, int qual, int sign, Decimal* out);
// Fields of the current date and time (DBTODAY applied).
int CurrentFields(DtFields* out);
// 10^n for n = 0..18; INT64_MAX above.
int64_t Pow10(int n);

// The count of `unit` (month, day ... second) made of the fields that qual
// covers: the first field, then each later unit times 12, 24, 60 or 60
// plus its field; fields after the qualifier count 0, fields after `unit`
// are dropped.
__int128 FieldsToCount(const DtFields& in, int qual, int unit);
// Splits a count into the fields of qual (the first field unbounded).
void CountToFields(__int128 count, int64_t frac, int qual, DtFields* out);
