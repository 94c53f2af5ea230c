// Drives the string searches and the character streams for mbs_oracle.py.
//
//   mbs_probe LCO_FILE      (LC_CTYPE of a locale-object file)
// then one command a line on standard input, strings in hex ("-" empty):
//   find S C     -> "chr=O/E rchr=O/E zchr=O/E zrchr=O/E"
//   span S SET   -> "spn=N/E cspn=N/E pbrk=O/E zspn=N/E zcspn=N/E zpbrk=O/E"
//   sub S SUB    -> "mbs=O/E zmbs=O/E"
//   lines IN OUT1 OUT2
//                -> "mb HEX" per line read with gl_fgetmbs, then "mbend E";
//                   "wc V,V,..." per line read with gl_fgetwcs, "wcend E";
//                   the lines are written back with gl_fputmbs to OUT1 and
//                   gl_fputwcs to OUT2.
// O is a byte offset or -1, E the error number after the call. The counted
// forms search heap copies of exactly their length, so that a read past
// them shows under AddressSanitizer.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "locale/core/gl_lco.h"
#include "locale/core/gl_locale.h"
#include "locale/core/gl_mbsearch.h"
#include "locale/core/gl_mbstream.h"
#include "locale/core/gl_refresh.h"

namespace {

std::string Unhex(const std::string &h) {
  std::string out;
  if (h == "-") return out;
  for (size_t i = 0; i + 1 < h.size(); i += 2) {
    out += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
  }
  return out;
}

std::string Hex(const char *p, size_t n) {
  static const char *d = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    auto b = static_cast<unsigned char>(p[i]);
    out += d[b >> 4];
    out += d[b & 15];
  }
  return out.empty() ? "-" : out;
}

// A NUL-terminated copy (terminator of four zero bytes) and an exact one.
struct Copies {
  std::vector<char> terminated;
  std::unique_ptr<char[]> exact;
  explicit Copies(const std::string &s) : terminated(s.begin(), s.end()) {
    terminated.insert(terminated.end(), 4, '\0');
    exact.reset(new char[s.size() > 0 ? s.size() : 1]);
    memcpy(exact.get(), s.data(), s.size());
  }
};

std::string Pos(GlLocale *loc, const char *r, const char *base) {
  long off = r != nullptr ? static_cast<long>(r - base) : -1;
  return std::to_string(off) + "/" + std::to_string(loc->error);
}

std::string Num(GlLocale *loc, int32_t n) {
  return std::to_string(n) + "/" + std::to_string(loc->error);
}

void Find(GlLocale *loc, const std::string &s, const std::string &c) {
  Copies cs(s), cc(c);
  const char *t = cs.terminated.data();
  const char *e = cs.exact.get();
  auto n = static_cast<int32_t>(s.size());
  auto cn = static_cast<int32_t>(c.size());
  std::cout << "chr=" << Pos(loc, gl_full_mbschr(loc, t, cc.terminated.data()), t);
  std::cout << " rchr=" << Pos(loc, gl_full_mbsrchr(loc, t, cc.terminated.data()), t);
  std::cout << " zchr=" << Pos(loc, _zel_gl_mbschr(loc, e, n, cc.exact.get(), cn), e);
  std::cout << " zrchr=" << Pos(loc, _zel_gl_mbsrchr(loc, e, n, cc.exact.get(), cn), e) << "\n";
}

void Span(GlLocale *loc, const std::string &s, const std::string &set) {
  Copies cs(s), cset(set);
  const char *t = cs.terminated.data();
  const char *e = cs.exact.get();
  auto n = static_cast<int32_t>(s.size());
  auto sn = static_cast<int32_t>(set.size());
  const char *st = cset.terminated.data();
  std::cout << "spn=" << Num(loc, gl_full_mbsspn(loc, t, st));
  std::cout << " cspn=" << Num(loc, gl_full_mbscspn(loc, t, st));
  std::cout << " pbrk=" << Pos(loc, gl_full_mbspbrk(loc, t, st), t);
  std::cout << " zspn=" << Num(loc, _zel_gl_mbsspn(loc, e, n, cset.exact.get(), sn));
  std::cout << " zcspn=" << Num(loc, _zel_gl_mbscspn(loc, e, n, cset.exact.get(), sn));
  std::cout << " zpbrk=" << Pos(loc, _zel_gl_mbspbrk(loc, e, n, cset.exact.get(), sn), e) << "\n";
}

void Sub(GlLocale *loc, const std::string &s, const std::string &sub) {
  Copies cs(s), csub(sub);
  const char *t = cs.terminated.data();
  const char *e = cs.exact.get();
  std::cout << "mbs=" << Pos(loc, gl_full_mbsmbs(loc, t, csub.terminated.data()), t);
  std::cout << " zmbs="
            << Pos(loc,
                   _zel_gl_mbsmbs(loc, e, static_cast<int32_t>(s.size()), csub.exact.get(),
                                  static_cast<int32_t>(sub.size())),
                   e)
            << "\n";
}

void Lines(GlLocale *loc, const std::string &in, const std::string &out1,
           const std::string &out2) {
  FILE *f = fopen(in.c_str(), "rbe");
  FILE *o1 = fopen(out1.c_str(), "wbe");
  FILE *o2 = fopen(out2.c_str(), "wbe");
  if (f == nullptr || o1 == nullptr || o2 == nullptr) {
    std::cout << "cannot open\n";
    exit(1);
  }
  std::vector<char> buf(8192);
  const int32_t m = loc->class_table->min_key_len;
  while (gl_fgetmbs(loc, buf.data(), static_cast<int32_t>(buf.size()), f) != nullptr) {
    // The line ends at the terminator: m zero bytes where a character begins.
    size_t len = 0;
    while (true) {
      bool term = true;
      for (int32_t i = 0; i < m; ++i) term = term && buf[len + i] == 0;
      if (term) break;
      len += static_cast<size_t>(m);
    }
    std::cout << "mb " << Hex(buf.data(), len) << "\n";
    if (gl_fputmbs(loc, buf.data(), o1) != 0) std::cout << "fputmbs failed " << loc->error << "\n";
  }
  std::cout << "mbend " << loc->error << "\n";
  rewind(f);
  std::vector<GlWchar> wbuf(8192);
  while (gl_fgetwcs(loc, wbuf.data(), static_cast<int32_t>(wbuf.size()), f) != nullptr) {
    std::ostringstream line;
    line << "wc";
    for (size_t i = 0; wbuf[i] != 0; ++i) line << (i == 0 ? " " : ",") << std::hex << wbuf[i];
    std::cout << line.str() << "\n";
    if (gl_fputwcs(loc, wbuf.data(), o2) != 0) std::cout << "fputwcs failed " << loc->error << "\n";
  }
  std::cout << "wcend " << loc->error << "\n";
  fclose(f);
  fclose(o1);
  fclose(o2);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: mbs_probe LCO_FILE\n");
    return 2;
  }
  GlLocale *loc = nullptr;
  FILE *f = fopen(argv[1], "re");
  if (f == nullptr || gl_create_null_locale_4(&loc) != 0 ||
      _gl_lco_read_category(loc, GL_CTYPE, f) != 0 || _gl_locale_refresh(loc) != 0) {
    fprintf(stderr, "cannot load %s\n", argv[1]);
    return 1;
  }
  fclose(f);
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string cmd, a, b, c;
    in >> cmd >> a >> b >> c;
    loc->error = 0;
    if (cmd == "find") {
      Find(loc, Unhex(a), Unhex(b));
    } else if (cmd == "span") {
      Span(loc, Unhex(a), Unhex(b));
    } else if (cmd == "sub") {
      Sub(loc, Unhex(a), Unhex(b));
    } else if (cmd == "lines") {
      Lines(loc, a, b, c);
    } else {
      std::cout << "unknown " << cmd << "\n";
    }
  }
  gl_lc_unload(loc);
  return 0;
}
