// The text form of Decimal operands and results shared by the probes of
// the differential tests: "N" (null) or "sign:exponent:hexdigits", the
// fields taken as they stand (so that invalid records can be written).
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "sqltypes/decimal.h"

namespace probe {

inline Decimal ParseDecimal(const std::string& t) {
  Decimal d;
  memset(&d, 0, sizeof d);
  if (t == "N") {
    d.sign = -1;
    return d;
  }
  const size_t a = t.find(':'), b = t.find(':', a + 1);
  d.sign = static_cast<int16_t>(atoi(t.substr(0, a).c_str()));
  d.exponent = static_cast<int16_t>(atoi(t.substr(a + 1, b - a - 1).c_str()));
  const std::string h = t.substr(b + 1);
  size_t n = h.size() / 2;
  if (n > DEC_MAXDIGITS) n = DEC_MAXDIGITS;
  d.ndigits = static_cast<int16_t>(h.size() / 2);
  for (size_t i = 0; i < n; i++)
    d.digits[i] = static_cast<uint8_t>(strtoul(h.substr(2 * i, 2).c_str(), nullptr, 16));
  return d;
}

inline std::string FormatDecimal(const Decimal& d) {
  if (d.sign == -1) return "N";
  char b[80];
  int n = snprintf(b, sizeof b, "%d:%d:", d.sign, d.exponent);
  for (int i = 0; i < d.ndigits && i < DEC_MAXDIGITS; i++)
    n += snprintf(b + n, sizeof b - n, "%02X", d.digits[i]);
  return b;
}

}  // namespace probe
