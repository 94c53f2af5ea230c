// Reads one value operation a line on standard input (fields separated by
// tabs) and writes its result a line on standard output, for the
// differential tests of value conversion, comparison and LIKE / MATCHES
// against models in Python (value_oracle.py). The environment
// (CLIENT_LOCALE, DBMONEY, ZEL_UNLOAD_DLQ_CSV_FORMAT ...) is the caller's.
//
// A value is "type[/lengthword]:text" with the SQL type code in decimal and
// an optional hexadecimal length word; "type:N" is null. The text is: a
// decimal integer (SMALLINT, INTEGER, DATE day count, BIGINT, INT8); 16 or
// 8 hexadecimal digits of the bits (FLOAT, SMALLFLOAT); the probe form of
// a Decimal (DECIMAL, MONEY); the standard text (DATETIME, INTERVAL); the
// characters themselves (character types).
//
//   conv V -> i4 rc v, i2 rc v, big rc v, dbl rc bits, dec rc D, i8 rc v
//   text V w left -> rc [field]      cmp op V V -> rc indicator value
//   fit D word -> rc D               i8dbl bits -> rc v
//   vals v1 v2 ... (the values of later m lines)   ansi 0|1
//   m op pattern -> one of 1 0 E(-1278) X(other) per value, escape flag
//   rng chars -> rcollinrange(c, lo, hi) for every lo, hi, c as 0/1
//   width type lengthword -> rtypwidth
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <iostream>
#include <string>
#include <vector>

#include "base/client_locale.h"
#include "base/locale_state.h"
#include "base/thread_state.h"
#include "sqltypes/bigint.h"
#include "sqltypes/charcollcmp.h"
#include "sqltypes/sqlvalue.h"
#include "tests/sqltypes/probe_decimal.h"

namespace {

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t tab = line.find('\t', start);
    out.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  return out;
}

// A value and the storage its data points at.
struct Held {
  SqlValue v;
  std::string text;
};

void Make(const std::string& spec, Held* h) {
  memset(&h->v, 0, sizeof h->v);
  const size_t colon = spec.find(':');
  std::string head = spec.substr(0, colon);
  const std::string body = spec.substr(colon + 1);
  const size_t slash = head.find('/');
  int type = atoi(head.substr(0, slash).c_str());
  int len = slash == std::string::npos ? 0 : static_cast<int>(strtol(head.c_str() + slash + 1, nullptr, 16));
  h->v.v_type = static_cast<uint16_t>(type);
  h->v.v_len = static_cast<uint16_t>(len);
  if (body == "N" && !sqlv_istext(type)) {
    h->v.v_ind = -1;
    return;
  }
  switch (type) {
    case SQLSMINT: case SQLINT: case SQLSERIAL: case SQLDATE:
      h->v.v.i4 = static_cast<int32_t>(strtol(body.c_str(), nullptr, 10));
      break;
    case SQLBIGINT: case SQLBIGSERIAL:
      h->v.v.i8 = strtoll(body.c_str(), nullptr, 10);
      break;
    case SQLINT8: case SQLSERIAL8:
      biginttozel_int8(strtoll(body.c_str(), nullptr, 10), &h->v.v.int8);
      break;
    case SQLFLOAT: {
      const uint64_t bits = strtoull(body.c_str(), nullptr, 16);
      memcpy(&h->v.v.f8, &bits, 8);
      break;
    }
    case SQLSMFLOAT: {
      const uint32_t bits = static_cast<uint32_t>(strtoul(body.c_str(), nullptr, 16));
      memcpy(&h->v.v.f4, &bits, 4);
      break;
    }
    case SQLDECIMAL: case SQLMONEY:
      h->v.v.dec = probe::ParseDecimal(body);
      break;
    case SQLDTIME: {
      DateTimeValue d{static_cast<int16_t>(len), {}};
      dtcvasc(body.c_str(), &d);
      h->v.v.dec = d.dt_dec;
      break;
    }
    case SQLINTERVAL: {
      IntervalValue d{static_cast<int16_t>(len), {}};
      incvasc(body.c_str(), &d);
      h->v.v.dec = d.in_dec;
      break;
    }
    default:
      h->text = body;
      h->v.v.text.ptr = h->text.data();
      h->v.v.text.len = static_cast<int32_t>(h->text.size());
      break;
  }
}

std::string Conv(const SqlValue* v) {
  char b[512];
  int32_t i4 = 0;
  int16_t i2 = 0;
  int64_t big = 0;
  double dbl = 0;
  Decimal dec;
  Int8Value i8;
  int r1 = rvaltoint4(v, &i4);
  int r2 = rvaltoint2(v, &i2);
  int r3 = rvaltobigint(v, &big);
  int r4 = rvaltodbl(v, &dbl);
  int r5 = rvaltodec(v, &dec);
  int r6 = rvaltoint8(v, &i8);
  uint64_t bits;
  memcpy(&bits, &dbl, 8);
  int64_t i8v = 0;
  if (r6 == 0 && i8.sign != 0) bigintcvzel_int8(&i8, &i8v);
  snprintf(b, sizeof b, "%d %d\t%d %d\t%d %" PRId64 "\t%d %016" PRIx64 "\t%d %s\t%d %s", r1, i4,
           r2, i2, r3, big, r4, bits, r5, probe::FormatDecimal(dec).c_str(), r6,
           r6 != 0 ? "-" : i8.sign == 0 ? "N" : std::to_string(i8v).c_str());
  return b;
}

std::string Text(const SqlValue* v, int w, int left) {
  std::string field(200, '#');
  const int rc = rvaltotext(v, &field[0], w, left);
  const size_t n = w > 0 ? static_cast<size_t>(w) : strlen(field.c_str());
  return std::to_string(rc) + "\t[" + field.substr(0, n) + "]";
}

std::vector<Held> g_values;

std::string MatchAll(int op, const std::string& pattern) {
  Held p;
  Make("0:" + pattern, &p);
  std::string out;
  bool flag = false;
  for (Held& h : g_values) {
    SqlValue r;
    const int rc = rvalmatch(op, &h.v, &p.v, &r);
    if (rthreadrec()->pattern_flag) flag = true;
    out += rc == -1278 ? 'E' : rc != 0 ? 'X' : r.v.i4 ? '1' : '0';
  }
  return out + "\t" + (flag ? "1" : "0");
}

std::string Ranges(const std::string& chars) {
  GlLocale* loc = rglinit() >= 0 ? rgllocstate()->client : nullptr;
  std::string out;
  for (unsigned char lo : chars)
    for (unsigned char hi : chars)
      for (unsigned char c : chars) out += rcollinrange(loc, c, lo, hi) ? '1' : '0';
  return out;
}

std::string Do(const std::vector<std::string>& f) {
  const std::string& op = f[0];
  if (op == "conv") {
    Held h;
    Make(f[1], &h);
    return Conv(&h.v);
  }
  if (op == "text") {
    Held h;
    Make(f[1], &h);
    return Text(&h.v, atoi(f[2].c_str()), atoi(f[3].c_str()));
  }
  if (op == "cmp") {
    Held a, b;
    Make(f[2], &a);
    Make(f[3], &b);
    SqlValue r;
    const int rc = rvalcompare(atoi(f[1].c_str()), &a.v, &b.v, &r);
    return std::to_string(rc) + " " + std::to_string(r.v_ind) + " " + std::to_string(r.v.i4);
  }
  if (op == "fit") {
    Decimal d = probe::ParseDecimal(f[1]);
    const int rc = decfitprec(&d, static_cast<int>(strtol(f[2].c_str(), nullptr, 16)));
    return std::to_string(rc) + " " + probe::FormatDecimal(d);
  }
  if (op == "i8dbl") {
    const uint64_t bits = strtoull(f[1].c_str(), nullptr, 16);
    double x;
    memcpy(&x, &bits, 8);
    Int8Value v;
    const int rc = zel_int8cvdbl(x, &v);
    int64_t out = 0;
    if (rc == 0) bigintcvzel_int8(&v, &out);
    return std::to_string(rc) + " " + (rc == 0 ? std::to_string(out) : "-");
  }
  if (op == "vals") {
    g_values.clear();
    g_values.resize(f.size() - 1);
    for (size_t i = 1; i < f.size(); i++) Make("0:" + f[i], &g_values[i - 1]);
    return "ok";
  }
  if (op == "ansi") {
    rsetansi(atoi(f[1].c_str()));
    return "ok";
  }
  if (op == "m") return MatchAll(atoi(f[1].c_str()), f.size() > 2 ? f[2] : "");
  if (op == "rng") return Ranges(f[1]);
  if (op == "width")
    return std::to_string(rtypwidth(atoi(f[1].c_str()), static_cast<int>(strtol(f[2].c_str(), nullptr, 16))));
  return "?";
}

}  // namespace

int main() {
  std::ios::sync_with_stdio(false);
  std::string line;
  while (std::getline(std::cin, line)) std::cout << Do(Split(line)) << '\n';
  return 0;
}
