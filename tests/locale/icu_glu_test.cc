// The ICU back end over the project's ICU-wrapper module, installed in the
// build tree: locales set with GL_USEGLU=1 are served by ICU, and the
// library's answers agree with the same ICU calls made directly here and
// with Python's codecs. One process: the back end is set up once, the tests
// run in order, and the last releases it (LeakSanitizer then sees that
// nothing the wrapper allocated is left).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ucol.h>
#include <unicode/utf16.h>

#include "locale/core/gl_collbound.h"
#include "locale/core/gl_ctype.h"
#include "locale/core/gl_cvo.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_icu.h"
#include "locale/core/gl_locale.h"
#include "locale/core/gl_mbchar.h"
#include "locale/core/gl_mbsearch.h"
#include "locale/core/gl_mbstream.h"
#include "locale/core/gl_setlocale.h"
#include "locale/core/gl_sortkey.h"
#include "locale/core/gl_strcoll.h"
#include "locale/core/gl_support.h"
#include "locale/core/gl_width.h"
#include "tests/support/test_support.h"

namespace {

constexpr GlWchar kNoWide = static_cast<GlWchar>(-1);

struct IcuLocale {
  const char *spec;       // the locale file gl_setlocale_4 takes (en_us.utf8 ...)
  const char *icu;        // the ICU locale the map gives
  const char *converter;  // and its converter
  const char *codec;      // Python's codec of the code set
  const char *undefined;  // bytes Python's codec maps and ICU leaves undefined
};
const IcuLocale kLocales[] = {
    {"en_us/e01c.lco", "en_US", "UTF-8", "utf-8", ""},
    {"en_us/0333.lco", "en_US", "ISO-8859-1", "latin-1", ""},
    // ICU's Shift-JIS is the Windows variant of the code set (cp932 in
    // Python's terms), except for five single bytes it leaves undefined.
    {"ja_jp/e006.lco", "ja_JP", "Shift_JIS", "cp932", "80,a0,fd,fe,ff"},
};

GlLocale *g_locales[3];

// The ICU objects of the direct calls, closed before the back end is
// released.
struct Direct {
  UConverter *cnv = nullptr;
  UCollator *coll = nullptr;
  explicit Direct(const IcuLocale &l) {
    UErrorCode e = U_ZERO_ERROR;
    cnv = ucnv_open(l.converter, &e);
    ucnv_setToUCallBack(cnv, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &e);
    ucnv_setFromUCallBack(cnv, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &e);
    coll = ucol_open(l.icu, &e);
    EXPECT_TRUE(U_SUCCESS(e)) << l.spec;
  }
  ~Direct() {
    ucnv_close(cnv);
    ucol_close(coll);
  }
  // The code point of the character that is exactly these bytes, or -1.
  // Bytes below 0x80 are ASCII in these code sets; the wrapper keeps them so
  // where IBM's Shift-JIS table exchanges three control bytes (Python's
  // codecs, in the next test, agree).
  UChar32 Decode(const std::string &b) {
    if (b.size() == 1 && static_cast<unsigned char>(b[0]) < 0x80) return b[0];
    ucnv_reset(cnv);
    const char *p = b.data();
    UErrorCode e = U_ZERO_ERROR;
    UChar32 c = ucnv_getNextUChar(cnv, &p, b.data() + b.size(), &e);
    return U_SUCCESS(e) && p == b.data() + b.size() ? c : -1;
  }
  bool Encodable(UChar32 c) {
    if (c < 0x80) return true;
    UChar u[2];
    int32_t n = 0;
    U16_APPEND_UNSAFE(u, n, c);
    char out[8];
    UErrorCode e = U_ZERO_ERROR;
    ucnv_reset(cnv);
    ucnv_fromUChars(cnv, out, sizeof out, u, n, &e);
    return U_SUCCESS(e);
  }
  std::vector<UChar> Utf16(const std::string &s) {
    std::vector<UChar> u(s.size() * 2 + 2);
    UErrorCode e = U_ZERO_ERROR;
    ucnv_reset(cnv);
    int32_t n = ucnv_toUChars(cnv, u.data(), static_cast<int32_t>(u.size()), s.data(),
                              static_cast<int32_t>(s.size()), &e);
    u.resize(static_cast<size_t>(n));
    return u;
  }
  std::string Key(const std::string &s) {
    std::vector<UChar> u = Utf16(s);
    uint8_t buf[1024];
    int32_t n = ucol_getSortKey(coll, u.data(), static_cast<int32_t>(u.size()), buf, sizeof buf);
    return std::string(reinterpret_cast<char *>(buf), static_cast<size_t>(n - 1));
  }
};

uint32_t IcuClasses(UChar32 c) {
  uint32_t b = 0;
  if (u_isupper(c)) b |= GL_CLASS_UPPER;
  if (u_islower(c)) b |= GL_CLASS_LOWER;
  if (u_isalpha(c)) b |= GL_CLASS_ALPHA;
  if (u_isdigit(c)) b |= GL_CLASS_DIGIT;
  if (u_isspace(c)) b |= GL_CLASS_SPACE;
  if (u_iscntrl(c)) b |= GL_CLASS_CNTRL;
  if (u_ispunct(c)) b |= GL_CLASS_PUNCT;
  if (u_isgraph(c)) b |= GL_CLASS_GRAPH;
  if (u_isprint(c)) b |= GL_CLASS_PRINT;
  if (u_isxdigit(c)) b |= GL_CLASS_XDIGIT;
  if (u_isblank(c)) b |= GL_CLASS_BLANK;
  return b;
}

int Sign(int v) { return (v > 0) - (v < 0); }

std::string Hex(const std::string &b) {
  static const char *d = "0123456789abcdef";
  std::string out;
  for (unsigned char c : b) {
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

// Every byte sequence that may be one character of the code set: the
// single bytes, and for Shift-JIS every lead and trail pair; for UTF-8 a
// random sample of code points with a few invalid sequences.
std::vector<std::string> Candidates(int which) {
  std::vector<std::string> out;
  for (int b = 1; b < 256; ++b) out.push_back(std::string(1, static_cast<char>(b)));
  if (which == 2) {
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
      if (lead > 0x9F && lead < 0xE0) continue;
      for (int trail = 0x40; trail <= 0xFC; ++trail) {
        out.push_back(std::string{static_cast<char>(lead), static_cast<char>(trail)});
      }
    }
  } else if (which == 0) {
    std::mt19937 rng(36);
    for (int i = 0; i < 4000; ++i) {
      UChar32 c = static_cast<UChar32>(rng() % 0x30000);
      if (U_IS_SURROGATE(c)) continue;
      char buf[4];
      int32_t n = 0;
      U8_APPEND_UNSAFE(buf, n, c);
      out.push_back(std::string(buf, static_cast<size_t>(n)));
    }
    out.push_back("\xe4\xb8");  // cut
    out.push_back("\xed\xa0\x80");  // a surrogate
    out.push_back("\xc0\x80");  // overlong
  }
  return out;
}

class IcuGlu : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (g_locales[0] != nullptr) return;
    setenv("TARVELONDIR", tevtest::BuildTree().c_str(), 1);
    setenv("GL_USEGLU", "1", 1);
    unsetenv("GL_PATH");
    gl_useglu(1);
    for (int i = 0; i < 3; ++i) {
      ASSERT_EQ(0, gl_createlocale_4(&g_locales[i]));
      char *r = gl_setlocale_4(g_locales[i], GL_ALL, kLocales[i].spec);
      ASSERT_NE(nullptr, r) << kLocales[i].spec << " error " << g_locales[i]->error;
      gl_destroystring(r);
    }
  }
};

TEST_F(IcuGlu, IcuServesEveryCategory) {
  for (int i = 0; i < 3; ++i) {
    for (int c = 0; c < GL_NCATEGORIES; ++c) {
      EXPECT_EQ(1, g_locales[i]->icu_in_use[c]) << kLocales[i].spec << " category " << c + 2;
      EXPECT_STREQ(kLocales[i].icu, glx_getICULocName(glx_gluLoc(g_locales[i], c + 2)));
    }
    Direct d(kLocales[i]);
    UErrorCode e = U_ZERO_ERROR;
    EXPECT_STREQ(ucnv_getName(d.cnv, &e), glx_getICUCvtName(glx_gluLoc(g_locales[i], GL_CTYPE)));
  }
  EXPECT_NE(nullptr, lxr_assign_global_struct());
  // A server's start-up reads a locale once more; it is up already.
  EXPECT_EQ(0, gl_init_glu_zuinit(g_locales[0]));
}

// Every character: length, code point, classes, case and width agree with
// ICU called directly.
TEST_F(IcuGlu, CharactersAgreeWithIcu) {
  for (int i = 0; i < 3; ++i) {
    GlLocale *loc = g_locales[i];
    Direct d(kLocales[i]);
    int mismatches = 0;
    for (const std::string &b : Candidates(i)) {
      SCOPED_TRACE(std::string(kLocales[i].spec) + " bytes " + Hex(b));
      // The character within exactly its bytes, and its class-test form
      // NUL-terminated.
      std::string z = b + std::string(4, '\0');
      UChar32 cp = d.Decode(b);
      loc->error = 0;
      int32_t len = gl_full_mblen(loc, b.data(), static_cast<int32_t>(b.size()));
      GlWchar wc = 0;
      int32_t len2 = gl_full_mbtowc(loc, &wc, b.data(), static_cast<int32_t>(b.size()));
      if (cp < 0) {
        EXPECT_EQ(-1, len);
        EXPECT_TRUE(loc->error == GL_EILSEQ || loc->error == GL_ESHORT) << loc->error;
        mismatches += len != -1;
        continue;
      }
      EXPECT_EQ(static_cast<int32_t>(b.size()), len);
      EXPECT_EQ(static_cast<int32_t>(b.size()), len2);
      EXPECT_EQ(static_cast<GlWchar>(cp), wc);
      uint32_t all = 0xFFF;
      EXPECT_EQ(IcuClasses(cp), _gl_im_ismctype(loc, z.data(), all));
      EXPECT_EQ(IcuClasses(cp), _gl_im_iswctype(loc, static_cast<GlWchar>(cp), all));
      UChar32 up = u_toupper(cp);
      UChar32 want_up = d.Encodable(up) ? up : cp;
      EXPECT_EQ(static_cast<GlWchar>(want_up), _gl_im_towupper(loc, static_cast<GlWchar>(cp)));
      UChar32 low = u_tolower(cp);
      EXPECT_EQ(static_cast<GlWchar>(d.Encodable(low) ? low : cp),
                _gl_im_towlower(loc, static_cast<GlWchar>(cp)));
      char out[8] = {};
      uint16_t lens = _gl_im_tomupper(loc, out, z.data());
      EXPECT_EQ(b.size(), static_cast<size_t>(lens >> 8));
      EXPECT_EQ(want_up, d.Decode(std::string(out, lens & 0xff)));
      // Width: the printable test of a single-byte locale is its own table.
      bool print = loc->class_map != nullptr ? (loc->class_map[static_cast<unsigned char>(b[0])] &
                                                GL_CLASS_PRINT) != 0
                                             : u_isprint(cp);
      int32_t want_w;
      if (print) {
        int32_t ea = u_getIntPropertyValue(cp, UCHAR_EAST_ASIAN_WIDTH);
        want_w = !u_isprint(cp) ? -1 : (ea == U_EA_WIDE || ea == U_EA_FULLWIDTH) ? 2 : 1;
      } else {
        want_w = b.size() == 1 ? 1 : -1;
      }
      loc->error = 0;
      EXPECT_EQ(want_w, gl_mbwidth(loc, z.data()));
      if (want_w == -1) {
        EXPECT_EQ(GL_ESHORT, loc->error);
      }
    }
    EXPECT_EQ(0, mismatches);
  }
}

// The library's answers for every character against Python's codecs: the
// library dumps "bytes code-point" lines, Python decodes the same bytes.
TEST_F(IcuGlu, CharactersAgreeWithPython) {
  tevtest::TempInstall tmp;
  for (int i = 0; i < 3; ++i) {
    std::string dump;
    for (const std::string &b : Candidates(i)) {
      GlWchar wc = 0;
      int32_t n = gl_full_mbtowc(g_locales[i], &wc, b.data(), static_cast<int32_t>(b.size()));
      dump += Hex(b) + " " +
              (n == static_cast<int32_t>(b.size()) ? std::to_string(wc) : std::string("-1")) +
              "\n";
    }
    tmp.WriteFile("dump", dump);
    const std::string script =
        "import sys\n"
        "codec = sys.argv[2]\n"
        "undefined = set(x for x in sys.argv[3].split(',') if x)\n"
        "bad = 0\n"
        "for line in open(sys.argv[1]):\n"
        "    h, v = line.split()\n"
        "    try:\n"
        "        s = bytes.fromhex(h).decode(codec)\n"
        "        want = ord(s) if len(s) == 1 else -1\n"
        "    except UnicodeDecodeError:\n"
        "        want = -1\n"
        "    if h in undefined:\n"
        "        want = -1\n"
        "    if int(v) != want:\n"
        "        bad += 1\n"
        "        if bad < 20: print(h, v, want)\n"
        "print('mismatches', bad)\n";
    tmp.WriteFile("check.py", script);
    tevtest::RunResult r =
        tevtest::RunProgram(tevtest::Python(), {tmp.Path("check.py"), tmp.Path("dump"), kLocales[i].codec, kLocales[i].undefined}, {});
    EXPECT_NE(std::string::npos, r.out.find("mismatches 0")) << kLocales[i].spec << "\n" << r.out << r.err;
  }
}

// Random strings of letters, digits and the code set's own characters.
std::string RandomText(std::mt19937 &rng, int which, int maxlen) {
  static const char *pieces[3][8] = {
      {"a", "B", "z", "\xc3\xa9", "\xc3\x9f", "\xe4\xb8\xad", "\xe3\x81\x82", "0"},
      {"a", "B", "z", "\xe9", "\xdf", "\xc4", "1", "-"},
      {"a", "B", "z", "\x83\x5c", "\x82\xa0", "\x88\x9f", "\xb1", "2"},
  };
  std::string s;
  for (int n = static_cast<int>(rng() % (maxlen + 1)); n > 0; --n) s += pieces[which][rng() % 8];
  return s;
}

TEST_F(IcuGlu, CollationAgreesWithIcu) {
  std::mt19937 rng(3636);
  for (int i = 0; i < 3; ++i) {
    GlLocale *loc = g_locales[i];
    Direct d(kLocales[i]);
    for (int round = 0; round < 300; ++round) {
      std::string a = RandomText(rng, i, 6), b = RandomText(rng, i, 6);
      SCOPED_TRACE(std::string(kLocales[i].spec) + " " + Hex(a) + " / " + Hex(b));
      std::vector<UChar> ua = d.Utf16(a), ub = d.Utf16(b);
      int want = ucol_strcoll(d.coll, ua.data(), static_cast<int32_t>(ua.size()), ub.data(),
                              static_cast<int32_t>(ub.size()));
      EXPECT_EQ(want, Sign(loc->mbscoll(loc, a.c_str(), b.c_str())));
      // The wide comparison takes code points.
      std::vector<GlWchar> wa, wb;
      for (size_t k = 0; k < ua.size(); k += U16_LENGTH(wa.back())) {
        UChar32 c;
        size_t at = k;
        U16_NEXT_UNSAFE(ua.data(), at, c);
        wa.push_back(static_cast<GlWchar>(c));
      }
      for (size_t k = 0; k < ub.size(); k += U16_LENGTH(wb.back())) {
        UChar32 c;
        size_t at = k;
        U16_NEXT_UNSAFE(ub.data(), at, c);
        wb.push_back(static_cast<GlWchar>(c));
      }
      wa.push_back(0);
      wb.push_back(0);
      EXPECT_EQ(want, Sign(gl_full_wcscoll(loc, wa.data(), wb.data())));
      char ka[1024], kb[1024];
      int32_t na = gl_full_mbsxfrm(loc, ka, a.c_str(), sizeof ka);
      int32_t nb = gl_full_mbsxfrm(loc, kb, b.c_str(), sizeof kb);
      ASSERT_GE(na, 0);
      ASSERT_GE(nb, 0);
      EXPECT_EQ(want, Sign(memcmp(ka, kb, static_cast<size_t>(std::min(na, nb)) + 1)));
      std::string da = d.Key(a), db = d.Key(b);
      EXPECT_EQ(Sign(memcmp(da.data(), db.data(), std::min(da.size(), db.size()) + 1)),
                Sign(memcmp(ka, kb, static_cast<size_t>(std::min(na, nb)) + 1)));
    }
  }
}

TEST_F(IcuGlu, BoundsBracketStringsWithThePrefix) {
  std::mt19937 rng(36);
  for (int i = 0; i < 3; ++i) {
    GlLocale *loc = g_locales[i];
    Direct d(kLocales[i]);
    for (int round = 0; round < 100; ++round) {
      std::string prefix = RandomText(rng, i, 3);
      char lo[64], hi[64], klo[512], khi[512];
      ASSERT_GE(gl_mbsCollBound(loc, prefix.c_str(), 0, lo, sizeof lo), 0);
      ASSERT_GE(gl_mbsCollBound(loc, prefix.c_str(), 1, hi, sizeof hi), 0);
      int32_t nlo = gl_mbsSortKeyCollBound(loc, prefix.c_str(), 0, klo, sizeof klo);
      int32_t nhi = gl_mbsSortKeyCollBound(loc, prefix.c_str(), 1, khi, sizeof khi);
      ASSERT_GE(nlo, 0);
      ASSERT_GT(nhi, 0);
      for (int k = 0; k < 20; ++k) {
        std::string s = prefix + RandomText(rng, i, 5);
        SCOPED_TRACE(std::string(kLocales[i].spec) + " " + Hex(prefix) + " " + Hex(s));
        EXPECT_LE(loc->mbscoll(loc, lo, s.c_str()), 0);
        EXPECT_LE(loc->mbscoll(loc, s.c_str(), hi), 0);
        char kbuf[512];
        int32_t kn = gl_full_mbsxfrm(loc, kbuf, s.c_str(), sizeof kbuf);
        ASSERT_GE(kn, 0);
        std::string key(kbuf, static_cast<size_t>(kn));
        EXPECT_LE(memcmp(klo, key.data(), std::min<size_t>(nlo, key.size()) + 1), 0);
        EXPECT_LE(memcmp(key.data(), khi, std::min<size_t>(nhi, key.size()) + 1), 0)
            << Hex(key) << " upper " << Hex(std::string(khi, static_cast<size_t>(nhi)));
      }
    }
  }
}

int ReadString(void *arg) {
  auto *p = static_cast<const char **>(arg);
  return **p != 0 ? static_cast<unsigned char>(*(*p)++) : -1;
}

// Search and streams take their ICU roads: wide values are code points.
TEST_F(IcuGlu, SearchAndStreamsTakeTheIcuRoad) {
  GlLocale *u = g_locales[0], *j = g_locales[2];
  const char so[] = "a\x83\x5c" "b\\";
  j->error = 5;
  EXPECT_EQ(so + 4, gl_full_mbschr(j, so, "\\"));
  EXPECT_EQ(nullptr, gl_full_mbschr(j, so, "z"));
  EXPECT_EQ(0, j->error);
  EXPECT_EQ(nullptr, gl_full_mbschr(j, "a\x83", "z"));
  EXPECT_EQ(GL_EILSEQ, j->error);

  const char *src = "\x83\x5cZ";
  char buf[4];
  int32_t n = 0;
  EXPECT_EQ(0, gl_getmb(j, buf, ReadString, &src, &n));
  EXPECT_EQ(2, n);
  const char *cut = "\x83";
  EXPECT_EQ(-1, gl_getmb(j, buf, ReadString, &cut, &n));
  EXPECT_EQ(GL_ESHORT, j->error);
  EXPECT_EQ(1, n);

  FILE *f = tmpfile();
  fputs("\xe4\xb8\xad\xf0\x9f\x98\x80\xe4", f);
  rewind(f);
  EXPECT_EQ(0x4E2Du, gl_full_fgetwc(u, f));
  EXPECT_EQ(0x1F600u, gl_full_fgetwc(u, f));
  EXPECT_EQ(kNoWide, gl_full_fgetwc(u, f));
  EXPECT_EQ(GL_ESHORT, u->error);
  EXPECT_EQ(kNoWide, gl_full_fgetwc(u, f));
  EXPECT_EQ(GL_EEOF, u->error);
  fclose(f);

  // A locale whose LC_CTYPE alone ICU serves: the search still runs.
  GlLocale *ctype_only = nullptr;
  ASSERT_EQ(0, gl_createlocale_4(&ctype_only));
  char *names = gl_setlocale_4(ctype_only, GL_CTYPE, kLocales[2].spec);
  ASSERT_NE(nullptr, names);
  gl_destroystring(names);
  ASSERT_EQ(1, ctype_only->icu_in_use[0]);
  EXPECT_EQ(so + 4, gl_full_mbschr(ctype_only, so, "\\"));
  gl_lc_unload(ctype_only);

  // Suspending ICU for a locale moves it to the tables (bytes as one
  // number) and back.
  GlWchar wc = 0;
  EXPECT_EQ(3, gl_full_mbtowc(u, &wc, "\xe4\xb8\xad", 3));
  EXPECT_EQ(0x4E2Du, wc);
  ASSERT_EQ(0, gl_toggle_glu(u, 1));
  EXPECT_EQ(-1, gl_toggle_glu(u, 1));
  EXPECT_EQ(3, gl_full_mbtowc(u, &wc, "\xe4\xb8\xad", 3));
  EXPECT_EQ(0xE4B8ADu, wc);
  ASSERT_EQ(0, gl_toggle_glu(u, 0));
  EXPECT_EQ(3, gl_full_mbtowc(u, &wc, "\xe4\xb8\xad", 3));
  EXPECT_EQ(0x4E2Du, wc);
}

// Conversion between two code sets ICU serves, the input split at every
// offset with the cut character carried by the converter or the caller.
TEST_F(IcuGlu, ConversionBetweenIcuCodeSets) {
  // "Aソ表示ｱ\x7e" in Shift-JIS and in UTF-8, as Python's codecs give them.
  const std::string sjis = "A\x83\x5c\x95\x5c\x8e\xa6\xb1~";
  const std::string utf8 = "A\xe3\x82\xbd\xe8\xa1\xa8\xe7\xa4\xba\xef\xbd\xb1~";
  GlConverter *cv = nullptr;
  ASSERT_EQ(1, gl_cv_load(&cv, "en_us.utf8", "ja_jp.sjis", nullptr, nullptr));
  for (size_t cut = 0; cut <= sjis.size(); ++cut) {
    GlConvState st = {1, 0, 0, 0};
    std::string out, pending;
    const size_t cuts[] = {cut, sjis.size()};
    size_t from = 0;
    bool failed = false;
    for (int k = 0; k < 2 && !failed; ++k) {
      pending += sjis.substr(from, cuts[k] - from);
      from = cuts[k];
      st.flush = k == 1;
      const char *ip = pending.data();
      auto len = static_cast<int32_t>(pending.size());
      char buf[64];
      char *op = buf;
      uint32_t room = sizeof buf;
      int32_t subst = 0;
      int32_t r = gl_cv_mconv(cv, &st, &ip, &len, &op, &room, &subst);
      failed = r != 0 && cv->error_number != GL_ESHORT;
      out.append(buf, op);
      pending.erase(0, static_cast<size_t>(ip - pending.data()));
      st.reset = 0;
    }
    EXPECT_FALSE(failed) << "cut " << cut;
    EXPECT_EQ(Hex(utf8), Hex(out)) << "cut " << cut;
  }
  // An invalid byte: error 1.
  const char bad[] = "A\x83\x20";
  const char *ip = bad;
  int32_t len = 3;
  char buf[16];
  char *op = buf;
  uint32_t room = sizeof buf;
  int32_t subst = 0;
  EXPECT_EQ(-1, gl_miconv(cv, &ip, &len, &op, &room, &subst));
  EXPECT_EQ(GL_EILSEQ, cv->error_number);
  gl_cv_unload(cv);
}

// The private-use width map on a locale ICU serves.
TEST_F(IcuGlu, PrivateUseWidthMap) {
  GlLocale *u = g_locales[0];
  tevtest::TempInstall tree;
  // U+E000 listed with 2, U+E001 with 0, U+E002 without a digit; U+E003 not
  // listed. Printable text between entries is passed over.
  tree.WriteFile("lxr/etc/pua.map",
                 "width map 1 2 3\n\xee\x80\x80 \t 2\n\xee\x80\x81 0\n\xee\x80\x82 x\n");
  const std::string saved = getenv("TARVELONDIR");
  setenv("ZEL_PUA_DISPLAY_MAPPING", "", 1);
  setenv("TARVELONDIR", tree.path().c_str(), 1);
  struct Case {
    const char *ch;
    int32_t width;
  } cases[] = {{"\xee\x80\x80", 2}, {"\xee\x80\x81", -1}, {"\xee\x80\x82", 1}, {"\xee\x80\x83", -1}};
  for (const Case &c : cases) {
    u->error = 0;
    EXPECT_EQ(c.width, gl_mbwidth(u, c.ch)) << Hex(c.ch);
    if (c.width < 0) {
      EXPECT_EQ(GL_ESHORT, u->error);
    }
  }
  EXPECT_EQ(2, gl_mbwidth_PUA(u, "\xee\x80\x80"));
  EXPECT_EQ(0, gl_mbwidth_PUA(u, "\xee\x80\x81"));
  EXPECT_EQ(-1, gl_mbwidth_PUA(u, "\xee\x80\x83"));
  // Without the map file, without TARVELONDIR, or without the variable.
  tevtest::TempInstall empty;
  setenv("TARVELONDIR", empty.path().c_str(), 1);
  EXPECT_EQ(-1, gl_mbwidth(u, "\xee\x80\x80"));
  EXPECT_EQ(GL_ESHORT, u->error);
  unsetenv("TARVELONDIR");
  EXPECT_EQ(-1, gl_mbwidth(u, "\xee\x80\x80"));
  setenv("TARVELONDIR", tree.path().c_str(), 1);
  unsetenv("ZEL_PUA_DISPLAY_MAPPING");
  EXPECT_EQ(-1, gl_mbwidth(u, "\xee\x80\x80"));
  EXPECT_EQ(GL_ESHORT, u->error);
  setenv("TARVELONDIR", saved.c_str(), 1);
}

// Last: the locales go, then the back end; the wrapper's handles and ICU's
// caches are released (LeakSanitizer checks at exit).
TEST_F(IcuGlu, ZzUnloadReleasesEverything) {
  for (GlLocale *&loc : g_locales) {
    gl_lc_unload(loc);
    loc = nullptr;
  }
  EXPECT_EQ(0, gl_unload_glu());
  EXPECT_EQ(nullptr, glx_gluMap());
  EXPECT_EQ(nullptr, lxr_assign_global_struct());
}

}  // namespace
