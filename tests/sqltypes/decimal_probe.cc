// Reads one Decimal or BIGINT operation a line on standard input and writes
// its result a line on standard output, for the differential test against
// an exact reference in Python (decimal_oracle.py).
//
// A Decimal operand is "N" (null) or "sign:exponent:hexdigits" (fields taken
// as they are). Results are "rc HEX": the return code and the 22-byte stored
// form of the result (or "-" when there is none).
//
//   add|sub|mul|div A B     cmp A B -> rc       round|trunc A places
//   st A n -> rc HEXn       ld HEX                cvlong v
//   tolong A, toint A -> rc value                 cvdbl HEX16, cvflt HEX8
//   stbig v -> HEX8         ldbig HEX8 -> value
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "sqltypes/bigint.h"
#include "sqltypes/decimal.h"
#include "tests/sqltypes/probe_decimal.h"

namespace {

std::vector<uint8_t> FromHex(const std::string& h) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < h.size(); i += 2)
    out.push_back(static_cast<uint8_t>(strtoul(h.substr(i, 2).c_str(), nullptr, 16)));
  return out;
}

std::string Hex(const char* p, int n) {
  std::string s;
  char b[3];
  for (int i = 0; i < n; i++) {
    snprintf(b, sizeof b, "%02X", static_cast<unsigned char>(p[i]));
    s += b;
  }
  return s;
}

std::string Stored(const Decimal& d) {
  char buf[22];
  int rc = stdecimal(&d, buf, 22);
  return rc == 0 ? Hex(buf, 22) : "-";
}

std::string Run(const std::string& line) {
  std::istringstream in(line);
  std::string op, x, y;
  in >> op >> x >> y;
  char out[64];
  if (op == "add" || op == "sub" || op == "mul" || op == "div") {
    Decimal a = probe::ParseDecimal(x), b = probe::ParseDecimal(y), r;
    int rc = op == "add" ? decadd(&a, &b, &r) : op == "sub" ? decsub(&a, &b, &r)
             : op == "mul" ? decmul(&a, &b, &r) : decdiv(&a, &b, &r);
    return std::to_string(rc) + " " + Stored(r);
  }
  if (op == "cmp") {
    Decimal a = probe::ParseDecimal(x), b = probe::ParseDecimal(y);
    return std::to_string(deccmp(&a, &b));
  }
  if (op == "round" || op == "trunc") {
    Decimal a = probe::ParseDecimal(x);
    int n = atoi(y.c_str());
    int rc = op == "round" ? decround(&a, n) : dectrunc(&a, n);
    return std::to_string(rc) + " " + Stored(a);
  }
  if (op == "st") {
    Decimal a = probe::ParseDecimal(x);
    int n = atoi(y.c_str());
    char buf[32];
    memset(buf, 0xEE, sizeof buf);
    int rc = stdecimal(&a, buf, n);
    return std::to_string(rc) + " " + (rc == 0 ? Hex(buf, n > 22 ? 22 : n) : "-");
  }
  if (op == "ld") {
    std::vector<uint8_t> bytes = FromHex(x);
    Decimal r;
    int rc = lddecimal(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<int>(bytes.size()), &r);
    return std::to_string(rc) + " " + (rc == 0 || rc == -1200 || rc == -1201 ? Stored(r) : "-");
  }
  if (op == "cvlong") {
    Decimal r;
    int rc = deccvlong(static_cast<int32_t>(strtol(x.c_str(), nullptr, 10)), &r);
    return std::to_string(rc) + " " + Stored(r);
  }
  if (op == "tolong" || op == "toint") {
    Decimal a = probe::ParseDecimal(x);
    int32_t l = 12345;
    int i = 12345;
    int rc = op == "tolong" ? dectolong(&a, &l) : dectoint(&a, &i);
    snprintf(out, sizeof out, "%d %d", rc, op == "tolong" ? l : i);
    return out;
  }
  if (op == "cvdbl" || op == "cvflt") {
    uint64_t bits = strtoull(x.c_str(), nullptr, 16);
    double v;
    if (op == "cvdbl") {
      memcpy(&v, &bits, sizeof v);
    } else {
      uint32_t b32 = static_cast<uint32_t>(bits);
      float f;
      memcpy(&f, &b32, sizeof f);
      v = f;
    }
    Decimal r;
    int rc = op == "cvdbl" ? deccvdbl(v, &r) : deccvflt(v, &r);
    return std::to_string(rc) + " " + (rc == 0 || rc == -1200 || rc == -1201 ? Stored(r) : "-");
  }
  if (op == "stbig") {
    char buf[8];
    stbigint(strtoll(x.c_str(), nullptr, 10), buf);
    return Hex(buf, 8);
  }
  if (op == "ldbig") {
    std::vector<uint8_t> bytes = FromHex(x);
    int64_t v = 0;
    ldbigint(&v, reinterpret_cast<const char*>(bytes.data()));
    snprintf(out, sizeof out, "%" PRId64, v);
    return out;
  }
  return "? " + op;
}

}  // namespace

int main() {
  std::ios::sync_with_stdio(false);
  std::string line, result;
  while (std::getline(std::cin, line)) {
    result += Run(line);
    result += '\n';
  }
  fwrite(result.data(), 1, result.size(), stdout);
  return 0;
}
