// Hand-written collations for the comparator, key and bound tests: a
// single-byte locale (LC_CTYPE of the generated 8859-1 file) whose
// LC_COLLATE section is written here from a small description.
#pragma once

#include <stdio.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "locale/core/gl_codetable.h"
#include "locale/core/gl_lco.h"
#include "locale/core/gl_lco_sections.h"
#include "locale/core/gl_locale.h"
#include "locale/core/gl_refresh.h"
#include "locale/core/gl_sortkey.h"
#include "tests/locale/lco_fixture.h"

namespace colltest {

using lcotest::LocalePtr;

// Positions are the byte values; element i has position 256 + i. Bytes the
// description leaves out weigh 0x8002 (ordered by code) at every pass.
struct CollDesc {
  std::vector<int> directions;  // one per pass, 1 or 2
  std::map<unsigned char, std::vector<uint16_t>> weights;
  std::vector<std::pair<std::string, std::vector<uint16_t>>> elements;
  std::vector<std::string> expansions;
};

inline std::string Hex4(unsigned v) {
  char b[8];
  snprintf(b, sizeof b, "%04x", v & 0xFFFF);
  return b;
}

inline std::string SectionText(const CollDesc &d) {
  GlCodeTable *t = _gl_ct_create(2, 0, "\0\0");
  for (int b = 0; b < 256; ++b) {
    unsigned char key = static_cast<unsigned char>(b);
    uint16_t v = static_cast<uint16_t>(b);
    _gl_ct_insert(1, &key, &v, t);
  }
  FILE *f = tmpfile();
  _gl_ct_dump(f, t, _gl_ct_write_hex16);
  _gl_ct_free(t);
  std::string table(static_cast<size_t>(ftell(f)), '\0');
  rewind(f);
  EXPECT_EQ(table.size(), fread(&table[0], 1, table.size(), f));
  fclose(f);

  const size_t np = d.directions.size();
  std::vector<std::vector<uint16_t>> rows(256 + d.elements.size(),
                                          std::vector<uint16_t>(np, 0x8002));
  for (const auto &[b, w] : d.weights) rows[b] = w;
  for (size_t i = 0; i < d.elements.size(); ++i) rows[256 + i] = d.elements[i].second;
  unsigned maxw = 2;
  for (const auto &r : rows) {
    for (uint16_t w : r) {
      if (!(w & 0x4000) || (w & 0x8000)) maxw = std::max(maxw, static_cast<unsigned>(w & 0x3FFF));
    }
  }
  std::string s = "as_specified\n" + table + "0\n";
  s += std::to_string(rows.size() - 1) + " " + std::to_string(np) + " " +
       std::to_string(d.elements.size()) + " " + std::to_string(d.expansions.size()) + " " +
       std::to_string(maxw) + "\n";
  for (int dir : d.directions) s += Hex4(static_cast<unsigned>(dir));
  s += "\n";
  for (size_t i = 0; i < d.elements.size(); ++i) {
    const std::string &e = d.elements[i].first;
    char n[4];
    snprintf(n, sizeof n, "%zx", e.size());
    s += n + Hex4(static_cast<unsigned>(256 + i));
    for (unsigned char c : e) s += "0000" + Hex4(c);
    s += "\n";
  }
  for (const std::string &x : d.expansions) {
    char n[4];
    snprintf(n, sizeof n, "%zx", x.size());
    s += n;
    for (unsigned char c : x) s += "0000" + Hex4(c);
    s += "\n";
  }
  for (const auto &r : rows) {
    for (uint16_t w : r) s += Hex4(w);
    s += "\n";
  }
  return s;
}

// A single-byte locale with the described collation.
inline LocalePtr Load(const CollDesc &d) {
  FILE *ct = fopen(lcotest::TreeFile("8859-1").c_str(), "re");
  EXPECT_NE(nullptr, ct);
  if (ct == nullptr) return nullptr;
  LocalePtr loc = lcotest::LoadCtype(ct);
  fclose(ct);
  FILE *f = lcotest::Stream(SectionText(d));
  EXPECT_EQ(0, _gl_read_lc_collate(f, loc.get())) << "error " << loc->error;
  fclose(f);
  EXPECT_EQ(0, _gl_locale_refresh(loc.get()));
  return loc;
}

using lcotest::LoadWhole;

// A single-byte string in wide form, terminated.
inline std::vector<GlWchar> Wide(const std::string &s) {
  std::vector<GlWchar> w;
  for (unsigned char c : s) w.push_back(c);
  w.push_back(0);
  return w;
}

// The sort key of a string (gl_full_mbsxfrm), without the terminator.
inline std::string Key(GlLocale *loc, const std::string &s) {
  int32_t n = gl_full_mbsxfrm(loc, nullptr, s.c_str(), 0);
  EXPECT_GE(n, 0) << s;
  if (n < 0) return std::string();
  std::string k(static_cast<size_t>(n) + 1, '\0');
  EXPECT_EQ(n, gl_full_mbsxfrm(loc, &k[0], s.c_str(), n + 1));
  k.resize(static_cast<size_t>(n));
  return k;
}

// Letters a-h weigh 10, 12, ... 24 at pass 1, 2 at pass 2, and 2 (lower)
// or 3 (upper, A-H) at pass 3; 0xE0 (a), 0xE8 and 0xE9 (e) carry accents
// 3, 3 and 4 at pass 2. '-' is ignored at passes 1 and 2 and weighs 5 at
// pass 3; ' ' weighs 3, 2, 2; the digits 4 by code.
inline CollDesc Latin(std::vector<int> directions = {1, 1, 1}) {
  CollDesc d;
  d.directions = directions;
  for (int i = 0; i < 8; ++i) {
    uint16_t p = static_cast<uint16_t>(10 + 2 * i);
    d.weights[static_cast<unsigned char>('a' + i)] = {p, 2, 2};
    d.weights[static_cast<unsigned char>('A' + i)] = {p, 2, 3};
  }
  d.weights[0xE0] = {10, 3, 2};
  d.weights[0xE8] = {18, 3, 2};
  d.weights[0xE9] = {18, 4, 2};
  d.weights['-'] = {1, 1, 5};
  d.weights[' '] = {3, 2, 2};
  for (char c = '0'; c <= '9'; ++c) d.weights[static_cast<unsigned char>(c)] = {0x8004, 0x8004, 0x8004};
  return d;
}

// Expansions: x is "ae" at every pass, y is "bc" at pass 1 only (6, then
// 2 of its own), z a thirteen-letter expansion at every pass.
inline void AddExpansions(CollDesc *d) {
  d->expansions = {"ae", "bc", "abcdeabcdeabc"};
  d->weights['x'] = {0x4000, 0x4000, 0x4000};
  d->weights['y'] = {0x4001, 6, 2};
  d->weights['z'] = {0x4002, 0x4002, 0x4002};
}

// Elements: "ch" between c and d at pass 1; "cc" as c with accent 5.
inline void AddElements(CollDesc *d) {
  d->elements = {{"ch", {15, 2, 2}}, {"cc", {14, 5, 2}}};
}

// Random strings over an alphabet.
inline std::string RandomString(std::mt19937 &rng, const std::string &alphabet, int maxlen) {
  std::uniform_int_distribution<int> len(0, maxlen);
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  std::string s;
  for (int n = len(rng); n > 0; --n) s += alphabet[pick(rng)];
  return s;
}

inline int Sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

}  // namespace colltest
