// Reads one date or time-format operation a line on standard input (fields
// separated by tabs) and writes its result a line on standard output, for
// the differential test datefmt_oracle.py. The environment (DBDATE,
// GL_DATE, DBCENTURY, DBTODAY, CLIENT_LOCALE ...) is the caller's.
//
//   strdate text -> rc D              defmtdate mask text -> rc D
//   strdbdate dbdate text -> rc D     datestr D -> rc<TAB>text
//   fmtdate D mask -> rc<TAB>text
//   dtfmt text format -> rc<TAB>text   (text: a YEAR TO FRACTION(5) value)
//   dtcvfmt text format -> rc<TAB>standard text of YEAR TO FRACTION(5)
//   infmt q text format -> rc<TAB>text (text: an interval of qualifier q)
//   incvfmt q text format -> rc<TAB>standard text of the interval
#include <stdio.h>
#include <stdlib.h>

#include <iostream>
#include <string>
#include <vector>

#include "sqltypes/date.h"
#include "sqltypes/datetime.h"
#include "sqltypes/datetime_format.h"

namespace {

constexpr int kYearToF5 = TU_ENCODE(19, TU_YEAR, TU_F5);

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    out.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  return out;
}

int Q(const std::string& s) { return static_cast<int>(strtol(s.c_str(), nullptr, 0)); }

std::string Date(int rc, int32_t d) { return std::to_string(rc) + " " + std::to_string(d); }

std::string Run(const std::vector<std::string>& a) {
  const std::string& op = a[0];
  char buf[1100] = "";
  int32_t d = DATE_NULL;
  int rc = 0;
  if (op == "strdate") return rc = rstrdate(a[1].c_str(), &d), Date(rc, d);
  if (op == "defmtdate") return rc = rdefmtdate(&d, a[1].c_str(), a[2].c_str()), Date(rc, d);
  if (op == "strdbdate") return rc = rstrdbdate(a[2].c_str(), &d, a[1].c_str()), Date(rc, d);
  if (op == "datestr") {
    const int rc = rdatestr(Q(a[1]), buf);
    return std::to_string(rc) + "\t" + buf;
  }
  if (op == "fmtdate") {
    const int rc = rfmtdate(Q(a[1]), a[2].c_str(), buf);
    return std::to_string(rc) + "\t" + buf;
  }
  if (op == "dtfmt") {
    DateTimeValue v{kYearToF5, {}};
    int rc = dtcvasc(a[1].c_str(), &v);
    if (rc == 0) rc = dttofmtasc(&v, buf, 200, a[2].c_str());
    return std::to_string(rc) + "\t" + buf;
  }
  if (op == "dtcvfmt") {
    DateTimeValue v{kYearToF5, {}};
    int rc = dtcvfmtasc(a[1].c_str(), a[2].c_str(), &v);
    if (rc == 0) rc = dttoasc(&v, buf);
    return std::to_string(rc) + "\t" + buf;
  }
  if (op == "infmt") {
    IntervalValue v{static_cast<int16_t>(Q(a[1])), {}};
    int rc = incvasc(a[2].c_str(), &v);
    if (rc == 0) rc = intofmtasc(&v, buf, 200, a[3].c_str());
    return std::to_string(rc) + "\t" + buf;
  }
  if (op == "incvfmt") {
    IntervalValue v{static_cast<int16_t>(Q(a[1])), {}};
    int rc = incvfmtasc(a[2].c_str(), a[3].c_str(), &v);
    if (rc == 0) rc = intoasc(&v, buf);
    return std::to_string(rc) + "\t" + buf;
  }
  return "unknown operation " + op;
}

}  // namespace

int main() {
  std::string line;
  while (std::getline(std::cin, line)) std::cout << Run(Split(line)) << "\n";
  return 0;
}
