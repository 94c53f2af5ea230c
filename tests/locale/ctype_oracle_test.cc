// Every character of each generated code set, against Python's codecs and
// unicodedata: the library's length, validity, wide value, encoding, class
// bits and case partners must agree with the oracle's expectation, and no
// byte sequence the code set lacks may pass as a character. The UTF-8
// locale's case mapping is also compared, code point by code point, with
// the C library's towupper and towlower in C.UTF-8.
#include <locale.h>
#include <stdio.h>
#include <wctype.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "locale/core/gl_ctype.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_mbchar.h"
#include "tests/locale/lco_fixture.h"
#include "tests/support/test_support.h"

namespace {

struct Expected {
  std::string bytes;
  uint32_t wide, classes, upper, lower;
};

std::vector<Expected> OracleTable(const std::string &codeset) {
  tevtest::RunOptions opts;
  opts.timeout_seconds = 300;
  tevtest::RunResult r = tevtest::RunProgram(
      tevtest::Python(),
      {tevtest::SourceDir() + "/tests/tools/check_lco.py", "--expect", codeset}, opts);
  EXPECT_EQ(0, r.exit_code) << r.err;
  std::vector<Expected> table;
  std::istringstream in(r.out);
  std::string hex;
  while (in >> hex) {
    Expected e;
    in >> std::hex >> e.wide >> e.classes >> e.upper >> e.lower;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
      e.bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    table.push_back(e);
  }
  return table;
}

struct Tally {
  long passed = 0, failed = 0;
  void Check(bool ok, const std::string &codeset, const std::string &what, const std::string &bytes) {
    if (ok) {
      ++passed;
      return;
    }
    if (++failed <= 20) {
      std::string hex;
      char b[4];
      for (unsigned char c : bytes) {
        snprintf(b, sizeof b, "%02x", c);
        hex += b;
      }
      ADD_FAILURE() << codeset << " " << hex << ": " << what;
    }
  }
};

// One character: every operation of the character layer and of classes and
// case agrees with the oracle.
void CheckCharacter(GlLocale *loc, const std::string &cs, const Expected &e, Tally &t) {
  const char *s = e.bytes.data();
  auto n = static_cast<int32_t>(e.bytes.size());
  t.Check(_zel_gl_full_mblen(loc, s, n) == n, cs, "length", e.bytes);
  GlWchar wc = 0xdeadbeef;
  uint32_t bits = 0xffff;
  int32_t len = _zel_gl_full_mbdescribe(loc, &wc, s, &bits, 0xffff, n);
  bool nul = e.wide == 0;
  t.Check(len == (nul ? 0 : n) && wc == e.wide, cs, "decoding", e.bytes);
  t.Check(bits == (nul ? 0 : e.classes), cs, "class bits (multibyte)", e.bytes);
  t.Check(_gl_im_iswctype(loc, e.wide, 0xffff) == e.classes, cs, "class bits (wide)", e.bytes);
  char out[8] = {};
  t.Check(gl_full_wctomb(loc, out, e.wide) == n && std::string(out, n) == e.bytes, cs,
          "encoding", e.bytes);
  t.Check(_gl_im_towupper(loc, e.wide) == e.upper, cs, "upper", e.bytes);
  t.Check(_gl_im_towlower(loc, e.wide) == e.lower, cs, "lower", e.bytes);
  if (loc->upper_map != nullptr) {
    auto b = static_cast<unsigned char>(e.bytes[0]);
    t.Check(loc->upper_map[b] == e.upper && loc->lower_map[b] == e.lower &&
                loc->class_map[b] == e.classes,
            cs, "byte maps", e.bytes);
  }
}

// Every byte string of 1 and 2 bytes (and of 3 bytes after the UTF-8 leads
// E0-EF) that is no character must be refused: error 7 when it begins a
// character, else error 1.
void CheckInvalid(GlLocale *loc, const std::string &cs, const std::vector<Expected> &table,
                  Tally &t) {
  std::set<std::string> chars, prefixes;
  for (const Expected &e : table) {
    chars.insert(e.bytes);
    for (size_t k = 1; k < e.bytes.size(); ++k) prefixes.insert(e.bytes.substr(0, k));
  }
  auto check = [&](const std::string &s) {
    if (chars.count(s) != 0) return;
    // A string that continues a shorter character is measured as that one.
    for (size_t k = 1; k < s.size(); ++k) {
      if (chars.count(s.substr(0, k)) != 0) return;
    }
    loc->error = 0;
    int32_t r = _zel_gl_full_mblen(loc, s.data(), static_cast<int32_t>(s.size()));
    int32_t want = prefixes.count(s) != 0 ? GL_ESHORT : GL_EILSEQ;
    t.Check(r == -1 && loc->error == want, cs, "invalid sequence accepted", s);
  };
  std::string s(1, '\0');
  for (int a = 0; a < 256; ++a) {
    s[0] = static_cast<char>(a);
    check(s);
  }
  std::string s2(2, '\0');
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      s2[0] = static_cast<char>(a);
      s2[1] = static_cast<char>(b);
      check(s2);
    }
  }
  if (cs != "utf8") return;
  std::string s3(3, '\0');
  for (int a = 0xe0; a <= 0xef; ++a) {
    for (int b = 0; b < 256; ++b) {
      for (int c = 0; c < 256; ++c) {
        s3[0] = static_cast<char>(a);
        s3[1] = static_cast<char>(b);
        s3[2] = static_cast<char>(c);
        check(s3);
      }
    }
  }
}

TEST(CtypeOracle, EveryCharacterOfEveryCodeSet) {
  Tally total;
  for (const char *cs : {"8859-1", "thai620", "sjis", "tst", "utf8"}) {
    GlLocale *loc = lcotest::Generated(cs);
    ASSERT_NE(nullptr, loc);
    std::vector<Expected> table = OracleTable(cs);
    ASSERT_FALSE(table.empty()) << cs;
    Tally t;
    for (const Expected &e : table) CheckCharacter(loc, cs, e, t);
    CheckInvalid(loc, cs, table, t);
    printf("%s: %zu characters, %ld passed, %ld failed\n", cs, table.size(), t.passed, t.failed);
    total.passed += t.passed;
    total.failed += t.failed;
  }
  printf("%ld passed, %ld failed\n", total.passed, total.failed);
  EXPECT_EQ(0, total.failed);
}

// The locale's wide value of a code point: its UTF-8 bytes read big-endian.
uint32_t Utf8Wide(uint32_t cp) {
  if (cp < 0x80) return cp;
  if (cp < 0x800) return (0xC0 | cp >> 6) << 8 | (0x80 | (cp & 0x3F));
  if (cp < 0x10000) {
    return (0xE0 | cp >> 12) << 16 | (0x80 | (cp >> 6 & 0x3F)) << 8 | (0x80 | (cp & 0x3F));
  }
  return (0xF0 | cp >> 18) << 24 | (0x80 | (cp >> 12 & 0x3F)) << 16 |
         (0x80 | (cp >> 6 & 0x3F)) << 8 | (0x80 | (cp & 0x3F));
}

// Characters whose full case mapping has several characters take their
// single-character partner (U+1F80 upper-cases to U+1F88, U+0130
// lower-cases to "i"), exactly as the C library's simple mapping does.
// No difference remains; one that appears must be listed here with its
// reason.
TEST(CtypeOracle, Utf8CaseAgreesWithTheCLibrary) {
  locale_t c = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  ASSERT_NE(static_cast<locale_t>(nullptr), c) << "the C library has no C.UTF-8 locale";
  GlLocale *loc = lcotest::Generated("utf8");
  ASSERT_NE(nullptr, loc);
  Tally t;
  for (uint32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    uint32_t wide = Utf8Wide(cp);
    auto up = static_cast<uint32_t>(towupper_l(static_cast<wint_t>(cp), c));
    auto low = static_cast<uint32_t>(towlower_l(static_cast<wint_t>(cp), c));
    char name[16];
    snprintf(name, sizeof name, "U+%04X", cp);
    t.Check(_gl_im_towupper(loc, wide) == Utf8Wide(up), "utf8", std::string("upper of ") + name, "");
    t.Check(_gl_im_towlower(loc, wide) == Utf8Wide(low), "utf8", std::string("lower of ") + name, "");
  }
  freelocale(c);
  // The cases the fault showed.
  EXPECT_EQ(Utf8Wide(0x1F88), _gl_im_towupper(loc, Utf8Wide(0x1F80)));
  EXPECT_EQ(Utf8Wide(0x1FBC), _gl_im_towupper(loc, Utf8Wide(0x1FB3)));
  EXPECT_EQ(Utf8Wide(0x1FF3), _gl_im_towlower(loc, Utf8Wide(0x1FFC)));
  EXPECT_EQ(0x69u, _gl_im_towlower(loc, Utf8Wide(0x130)));
  printf("utf8 case against the C library: %ld passed, %ld failed\n", t.passed, t.failed);
  EXPECT_EQ(0, t.failed);
}

}  // namespace
