// Reads one SQL data type operation a line on standard input (fields
// separated by tabs) and writes its result a line on standard output, for
// the differential tests against Python's decimal and datetime
// (types_oracle.py). The environment (DBDATE, DBMONEY, DBCENTURY, TZ ...)
// is the caller's.
//
// A Decimal operand is "N" (null) or "sign:exponent:hexdigits"; a Decimal
// result is written the same way.
//
//   jul D -> rc m d y          mdy m d y -> rc D        dow D, leap y
//   sleep s -> slept  today -> D                 datestr D -> rc text     fmtdate D mask
//   gldate D format            century m d y
//   dtcv q text, incv q text -> rc text (dttoasc / intoasc of the value)
//   dtadd|dtsubi dq dt iq iv   dtsub aq a bq b oq       dtext sq s tq
//   inext sq s tq              invmul|invdiv q v factor oq
//   invdivinv aq a bq b -> rc %.17g                      current q
//   deccv text -> rc D         dectoasc D len decimals -> rc [field]
//   ecvt|fcvt D n -> digits pos sign                      todbl D -> rc %.17g
//   rstol text                 bigcv text -> rc v       bigto v len base
//   i8 add|sub|mul|div|cmp a b (BIGINT text or N) -> rc v
//   bigdec D -> rc v           decbig v -> rc D          bigdbl hex16
//   typres lw rw op lt rt      qualname kind q
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "sqltypes/bigint.h"
#include "sqltypes/date.h"
#include "sqltypes/datetime.h"
#include "sqltypes/decimal.h"
#include "sqltypes/decimal_text.h"
#include "sqltypes/int8.h"
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

int Q(const std::string& s) { return static_cast<int>(strtol(s.c_str(), nullptr, 0)); }

bool Big(const std::string& s, int64_t* v) {
  if (s == "N") {
    *v = BIGINT_NULL;
    return true;
  }
  *v = strtoll(s.c_str(), nullptr, 10);
  return true;
}

std::string Dt(int rc, const DateTimeValue& v) {
  char text[64] = "";
  if (rc == 0) dttoasc(&v, text);
  return std::to_string(rc) + "\t" + (rc == 0 && v.dt_dec.sign == -1 ? "NULL" : text);
}

std::string In(int rc, const IntervalValue& v) {
  char text[64] = "";
  if (rc == 0) intoasc(&v, text);
  return std::to_string(rc) + "\t" + (rc == 0 && v.in_dec.sign == -1 ? "NULL" : text);
}

std::string Run(const std::vector<std::string>& a) {
  const std::string& op = a[0];
  char buf[2048];
  if (op == "jul") {
    int16_t mdy[3];
    int rc = rjulmdy(Q(a[1]), mdy);
    snprintf(buf, sizeof buf, "%d %d %d %d", rc, mdy[0], mdy[1], mdy[2]);
    return buf;
  }
  if (op == "mdy") {
    int16_t mdy[3] = {static_cast<int16_t>(Q(a[1])), static_cast<int16_t>(Q(a[2])),
                      static_cast<int16_t>(Q(a[3]))};
    int32_t d = 0;
    int rc = rmdyjul(mdy, &d);
    snprintf(buf, sizeof buf, "%d %d", rc, rc == 0 ? d : 0);
    return buf;
  }
  if (op == "dow") return std::to_string(rdayofweek(Q(a[1])));
  if (op == "leap") return std::to_string(rleapyear(Q(a[1])));
  if (op == "sleep") {
    // Real time passes (the clock may run faster under a fake clock).
    struct timespec ts{Q(a[1]), 0};
    while (nanosleep(&ts, &ts) != 0) {
    }
    return "slept";
  }
  if (op == "today") {
    int32_t d = 0;
    rtoday(&d);
    return std::to_string(d);
  }
  if (op == "datestr" || op == "fmtdate" || op == "gldate") {
    buf[0] = '\0';
    int rc = 0;
    int32_t d = Q(a[1]);
    if (op == "datestr") rc = rdatestr(d, buf);
    else if (op == "fmtdate") rc = rfmtdate(d, a[2].c_str(), buf);
    else rc = zel_gl_format_date(buf, sizeof buf, &d, a[2] == "-" ? nullptr : a[2].c_str());
    return std::to_string(rc) + "\t" + (rc == 0 ? buf : "");
  }
  if (op == "century") return std::to_string(rgetcentury(Q(a[1]), Q(a[2]), Q(a[3])));
  if (op == "dtcv") {
    DateTimeValue v{static_cast<int16_t>(Q(a[1])), {}};
    return Dt(dtcvasc(a[2].c_str(), &v), v);
  }
  if (op == "incv") {
    IntervalValue v{static_cast<int16_t>(Q(a[1])), {}};
    return In(incvasc(a[2].c_str(), &v), v);
  }
  if (op == "dtadd" || op == "dtsubi") {
    DateTimeValue d{static_cast<int16_t>(Q(a[1])), {}}, out{};
    IntervalValue i{static_cast<int16_t>(Q(a[3])), {}};
    if (int rc = dtcvasc(a[2].c_str(), &d); rc != 0) return "parse " + std::to_string(rc);
    if (int rc = incvasc(a[4].c_str(), &i); rc != 0) return "parse " + std::to_string(rc);
    out.dt_qual = d.dt_qual;
    int rc = op == "dtadd" ? dtaddinv(&d, &i, &out) : dtsubinv(&d, &i, &out);
    return Dt(rc, out);
  }
  if (op == "dtsub") {
    DateTimeValue x{static_cast<int16_t>(Q(a[1])), {}}, y{static_cast<int16_t>(Q(a[3])), {}};
    IntervalValue out{static_cast<int16_t>(Q(a[5])), {}};
    if (int rc = dtcvasc(a[2].c_str(), &x); rc != 0) return "parse " + std::to_string(rc);
    if (int rc = dtcvasc(a[4].c_str(), &y); rc != 0) return "parse " + std::to_string(rc);
    return In(dtsub(&x, &y, &out), out);
  }
  if (op == "dtext") {
    DateTimeValue s{static_cast<int16_t>(Q(a[1])), {}}, t{static_cast<int16_t>(Q(a[3])), {}};
    if (int rc = dtcvasc(a[2].c_str(), &s); rc != 0) return "parse " + std::to_string(rc);
    return Dt(dtextend(&s, &t), t);
  }
  if (op == "inext") {
    IntervalValue s{static_cast<int16_t>(Q(a[1])), {}}, t{static_cast<int16_t>(Q(a[3])), {}};
    if (int rc = incvasc(a[2].c_str(), &s); rc != 0) return "parse " + std::to_string(rc);
    return In(invextend(&s, &t), t);
  }
  if (op == "invmul" || op == "invdiv") {
    IntervalValue s{static_cast<int16_t>(Q(a[1])), {}}, t{static_cast<int16_t>(Q(a[4])), {}};
    if (int rc = incvasc(a[2].c_str(), &s); rc != 0) return "parse " + std::to_string(rc);
    const double f = strtod(a[3].c_str(), nullptr);
    return In(op == "invmul" ? invmuldbl(&s, f, &t) : invdivdbl(&s, f, &t), t);
  }
  if (op == "invdivinv") {
    IntervalValue x{static_cast<int16_t>(Q(a[1])), {}}, y{static_cast<int16_t>(Q(a[3])), {}};
    if (int rc = incvasc(a[2].c_str(), &x); rc != 0) return "parse " + std::to_string(rc);
    if (int rc = incvasc(a[4].c_str(), &y); rc != 0) return "parse " + std::to_string(rc);
    double r = 0;
    int rc = invdivinv(&x, &y, &r);
    snprintf(buf, sizeof buf, "%d %.17g", rc, rc == 0 ? r : 0.0);
    return buf;
  }
  if (op == "current") {
    DateTimeValue v{static_cast<int16_t>(Q(a[1])), {}};
    return Dt(dtcurrent(&v), v);
  }
  if (op == "deccv") {
    Decimal d;
    int rc = deccvasc(a[1].c_str(), static_cast<int>(a[1].size()), &d);
    return std::to_string(rc) + " " + probe::FormatDecimal(d);
  }
  if (op == "dectoasc") {
    Decimal d = probe::ParseDecimal(a[1]);
    const int len = Q(a[2]);
    memset(buf, '#', sizeof buf);
    int rc = dectoasc(&d, buf, len, Q(a[3]));
    return std::to_string(rc) + " [" + std::string(buf, len) + "]" + (buf[len] == '#' ? "" : "!");
  }
  if (op == "ecvt" || op == "fcvt") {
    Decimal d = probe::ParseDecimal(a[1]);
    int pos = 0, sign = 0;
    char* s = op == "ecvt" ? dececvt(&d, Q(a[2]), &pos, &sign) : decfcvt(&d, Q(a[2]), &pos, &sign);
    return std::string(s ? s : "(null)") + " " + std::to_string(pos) + " " + std::to_string(sign);
  }
  if (op == "todbl") {
    Decimal d = probe::ParseDecimal(a[1]);
    double r = 0;
    int rc = dectodbl(&d, &r);
    uint64_t bits;
    memcpy(&bits, &r, sizeof bits);
    if (rc == 0 && bits == ~0ULL) return "0 N";
    snprintf(buf, sizeof buf, "%d %.17g", rc, rc == 0 ? r : 0.0);
    return buf;
  }
  if (op == "rstol") {
    int64_t v = 0;
    int rc = rstol(a[1].c_str(), &v);
    return std::to_string(rc) + " " + std::to_string(rc == 0 ? v : 0);
  }
  if (op == "bigcv") {
    int64_t v = 0;
    int rc = bigintcvasc(a[1].c_str(), -1, &v);
    return std::to_string(rc) + " " + (rc == 0 ? (v == BIGINT_NULL ? "N" : std::to_string(v)) : "-");
  }
  if (op == "bigto") {
    int64_t v = 0;
    Big(a[1], &v);
    const int len = Q(a[2]);
    memset(buf, '#', sizeof buf);
    int rc = biginttoasc(v, buf, len, Q(a[3]));
    // The field, then what follows it: the NUL (shown as "$") or untouched.
    std::string after = buf[len] == '\0' ? "$" : buf[len] == '#' ? "" : "?";
    return std::to_string(rc) + " [" + std::string(buf, len) + "]" + after;
  }
  if (op == "i8") {
    int64_t x = 0, y = 0;
    Big(a[2], &x);
    Big(a[3], &y);
    Int8Value p{}, q{}, r{7, 7, 7};
    biginttozel_int8(x, &p);
    biginttozel_int8(y, &q);
    int rc = 0;
    if (a[1] == "cmp") return std::to_string(zel_int8cmp(&p, &q));
    if (a[1] == "add") rc = zel_int8add(&p, &q, &r);
    if (a[1] == "sub") rc = zel_int8sub(&p, &q, &r);
    if (a[1] == "mul") rc = zel_int8mul(&p, &q, &r);
    if (a[1] == "div") rc = zel_int8div(&p, &q, &r);
    if (rc != 0) return std::to_string(rc) + " -";
    int64_t v = 0;
    bigintcvzel_int8(&r, &v);
    return std::to_string(rc) + " " + (v == BIGINT_NULL ? "N" : std::to_string(v));
  }
  if (op == "bigdec") {
    Decimal d = probe::ParseDecimal(a[1]);
    int64_t v = 0;
    int rc = bigintcvdec(&d, &v);
    return std::to_string(rc) + " " + (rc == 0 ? (v == BIGINT_NULL ? "N" : std::to_string(v)) : "-");
  }
  if (op == "decbig") {
    int64_t v = 0;
    Big(a[1], &v);
    Decimal d;
    int rc = biginttodec(v, &d);
    return std::to_string(rc) + " " + probe::FormatDecimal(d);
  }
  if (op == "bigdbl") {
    uint64_t bits = strtoull(a[1].c_str(), nullptr, 16);
    double dv;
    memcpy(&dv, &bits, sizeof dv);
    int64_t v = 0;
    int rc = bigintcvdbl(dv, &v);
    return std::to_string(rc) + " " + (rc == 0 ? (v == BIGINT_NULL ? "N" : std::to_string(v)) : "-");
  }
  if (op == "typres") {
    return std::to_string(rtypresult(Q(a[1]), Q(a[2]), Q(a[3]), Q(a[4]), Q(a[5])));
  }
  if (op == "qualname") {
    char t[64];
    int n = dtqualname(Q(a[1]), Q(a[2]), t);
    return std::string(t, n);
  }
  return "?";
}

}  // namespace

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    std::cout << Run(Split(line)) << "\n";
  }
  return 0;
}
