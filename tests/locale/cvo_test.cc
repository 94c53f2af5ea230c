// Conversion objects: opening, file errors, the conversion loop's cursors and
// errors, shift sequences, buffer sizing, and chunked conversion.
#include <stdlib.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "locale/core/gl_cvo.h"
#include "locale/core/gl_errors.h"
#include "tests/support/test_support.h"

namespace {

struct Unload {
  void operator()(GlConverter *cv) const { gl_cv_unload(cv); }
};
using CvPtr = std::unique_ptr<GlConverter, Unload>;

class CvoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("GL_PATH");
    setenv("TARVELONDIR", tevtest::BuildTree().c_str(), 1);
  }

  // The installed converter to target from source (locale specifications).
  static CvPtr Load(const char *target, const char *source) {
    GlConverter *cv = nullptr;
    EXPECT_EQ(1, gl_cv_load(&cv, target, source, nullptr, nullptr))
        << target << " <- " << source << " error " << (cv ? cv->error_number : -1);
    return CvPtr(cv);
  }

  // A converter read from text; *rc receives the open result.
  CvPtr FromText(const std::string &text, int32_t *rc) {
    tmp_.WriteFile("t.cvo", text);
    GlConverter *cv = nullptr;
    *rc = gl_iconv_open1(&cv, tmp_.Path("t.cvo").c_str());
    return CvPtr(cv);
  }

  tevtest::TempInstall tmp_;
};

// Whole conversion of a counted input; output and result in one string.
std::string Convert(GlConverter *cv, const std::string &in, int32_t *rc = nullptr,
                    GlConvState *state = nullptr) {
  std::string out(in.size() * 8 + 16, '\0');
  const char *ip = in.data();
  auto len = static_cast<int32_t>(in.size());
  char *op = out.data();
  auto room = static_cast<uint32_t>(out.size());
  int32_t subst = 0;
  int32_t r = gl_cv_mconv(cv, state, &ip, &len, &op, &room, &subst);
  if (rc != nullptr) *rc = r;
  out.resize(static_cast<size_t>(op - out.data()));
  return out;
}

// Body of a file: header and numbers, then the table text.
std::string File(const std::string &numbers, const std::string &table) {
  return "FILE_TYPE=codeset_conversion_object\nCOMPILER_VERSION=9\nHEADER_LINES=3\n" +
         numbers + table;
}

// One-byte source "A" (0x41) only.
const char kTable1[] = "1 1 1 00\n1 1\n4100100104\n0000000\n41001001%s\n0000000\n";

std::string TableWith(const std::string &value) {
  char buf[128];
  snprintf(buf, sizeof buf, kTable1, value.c_str());
  return buf;
}

TEST_F(CvoTest, OpeningOutcomes) {
  GlConverter *cv = reinterpret_cast<GlConverter *>(1);
  EXPECT_EQ(0, gl_cv_load(&cv, "en_us.8859-1", "fr_fr.latin-1", nullptr, nullptr));
  EXPECT_EQ(nullptr, cv);

  EXPECT_EQ(-1, gl_cv_load(&cv, "en_us.nosuchset", "en_us.utf8", nullptr, nullptr));
  EXPECT_EQ(&_gl_cv_nocodeset, cv);
  EXPECT_EQ(GL_ESHORT, cv->error_number);

  EXPECT_EQ(-1, gl_iconv_open(&cv, "utf8", "utf8"));
  EXPECT_EQ(&_gl_cv_badarg, cv);
  EXPECT_EQ(GL_ENOFILE, cv->error_number);
  EXPECT_EQ(0, gl_cv_unload(cv));
  EXPECT_EQ(GL_ENOFILE, _gl_cv_badarg.error_number);
  EXPECT_EQ(-1, gl_cv_unload(nullptr));

  // A pair without a file: the converter carries error 8 and is released.
  EXPECT_EQ(-1, gl_cv_load(&cv, "th_th.thai620", "ja_jp.sjis", nullptr, nullptr));
  ASSERT_NE(nullptr, cv);
  EXPECT_EQ(GL_ENOFILE, cv->error_number);
  EXPECT_EQ(0, gl_cv_unload(cv));

  // An explicit directory is opened as given.
  std::string dir = tevtest::BuildTree() + "/lxr/cv9";
  ASSERT_EQ(1, gl_cv_load(&cv, "en_us.utf8", "en_us.8859-1", nullptr, dir.c_str()));
  EXPECT_EQ("\xc3\xa9", Convert(cv, "\xe9"));
  gl_cv_unload(cv);

  // By code-set names: the file named source_target.
  ASSERT_EQ(1, gl_cv_open(&cv, "en_us.utf8@euro", "de_de.8859-1"));
  EXPECT_EQ("\xc3\xa9", Convert(cv, "\xe9"));
  gl_cv_unload(cv);
  EXPECT_EQ(0, gl_cv_open(&cv, "en_us.utf8", "ja_jp.utf8"));
  EXPECT_EQ(nullptr, cv);
  EXPECT_EQ(-1, gl_cv_open(&cv, "en_us", "ja_jp.utf8"));
  EXPECT_EQ(&_gl_cv_badarg, cv);
}

TEST_F(CvoTest, FileErrors) {
  const std::string numbers = "0 0\n0000\n1 1 0 0 1 1\n1\n1.0\n";
  struct Case {
    std::string text;
    int32_t error;
  } cases[] = {
      {File(numbers, TableWith("1141")), 0},
      {"FILE_TYPE=locale_object\nCOMPILER_VERSION=9\nX=3\n" + numbers, GL_ENOFILE},
      {"FILE_TYPE=codeset_conversion_object\nCOMPILER_VERSION=8\nX=3\n" + numbers, GL_ENOFILE},
      {"FILE_TYPE=codeset_conversion_object\nCOMPILER_VERSION=9\nX3\n" + numbers, GL_ENOFILE},
      {"FILE_TYPE=codeset_conversion_object\nCOMPILER_VERSION=9\nX=2\n" + numbers, GL_ENOFILE},
      // The count says five lines: exactly two more are skipped.
      {"FILE_TYPE=codeset_conversion_object\nCOMPILER_VERSION=9\nX=5\na\nb\n" + numbers +
           TableWith("1141"), 0},
      {"FILE_TYPE=codeset_conversion_object\nCOMPILER_VERSION=9\nX=4\na\nb\n" + numbers +
           TableWith("1141"), GL_EFORMAT},
      {File("0 x\n0000\n1 1 0 0 1 1\n1\n1.0\n", TableWith("1141")), GL_EFORMAT},
      {File("0 0\n0000\n1 1 0 0 1\n1\n1.0\n", TableWith("1141")), GL_EFORMAT},
      {File("0 0\n0000\n1 1 0 0 1 1\n1\nabc\n", TableWith("1141")), GL_EFORMAT},
      {File("0 0\n0000\n1 5 0 0 1 1\n1\n1.0\n", TableWith("1141")), GL_EFORMAT},
      {File("0 0\n0000\n1 0 0 0 1 1\n1\n1.0\n", TableWith("1141")), GL_EFORMAT},
      // A shift sequence of five bytes would not fit.
      {File("0 0\n5000000000000\n1 1 0 0 1 1\n1\n1.0\n", TableWith("1141")), GL_EFORMAT},
      // A value longer than the target's longest character.
      {File(numbers, TableWith("124142")), GL_ECTTEXT},
      {File(numbers, ""), GL_ENOMEM},
  };
  for (const Case &c : cases) {
    int32_t rc = 0;
    CvPtr cv = FromText(c.text, &rc);
    ASSERT_NE(nullptr, cv);
    EXPECT_EQ(c.error == 0 ? 0 : -1, rc) << c.text;
    if (c.error != GL_ENOMEM) {
      EXPECT_EQ(c.error, cv->error_number) << c.text;
    } else {
      EXPECT_NE(0, cv->error_number) << c.text;
    }
  }
  GlConverter *cv = nullptr;
  EXPECT_EQ(-1, gl_iconv_open1(&cv, tmp_.Path("missing.cvo").c_str()));
  EXPECT_EQ(GL_ENOFILE, cv->error_number);
  gl_cv_unload(cv);
}

TEST_F(CvoTest, CursorsAndErrors) {
  CvPtr sjis = Load("en_us.utf8", "ja_jp.sjis");
  // Cut inside a two-byte character: left at the input for the next call.
  std::string in = "a\x88\x9f";
  const char *ip = in.data();
  int32_t len = 2, subst = 0;
  char buf[16];
  char *op = buf;
  uint32_t room = sizeof buf;
  EXPECT_EQ(-1, gl_miconv(sjis.get(), &ip, &len, &op, &room, &subst));
  EXPECT_EQ(GL_ESHORT, sjis->error_number);
  EXPECT_EQ(in.data() + 1, ip);
  EXPECT_EQ(1, len);
  EXPECT_EQ(1, op - buf);
  len = 2;
  EXPECT_EQ(0, gl_miconv(sjis.get(), &ip, &len, &op, &room, &subst));
  EXPECT_EQ("a\xe4\xba\x9c", std::string(buf, op));
  EXPECT_EQ(0, len);

  // Too little room: nothing of the character is written.
  CvPtr latin = Load("en_us.utf8", "en_us.8859-1");
  in = "x\xe9";
  ip = in.data();
  len = 2;
  op = buf;
  room = 2;
  EXPECT_EQ(-1, gl_miconv(latin.get(), &ip, &len, &op, &room, &subst));
  EXPECT_EQ(GL_E2BIG, latin->error_number);
  EXPECT_EQ(1, op - buf);
  EXPECT_EQ(1u, room);
  EXPECT_EQ(in.data() + 1, ip);

  // Uncounted: up to and including the terminator character.
  std::string z("ab\0cd", 5);
  ip = z.data();
  op = buf;
  room = sizeof buf;
  EXPECT_EQ(0, gl_miconv(latin.get(), &ip, nullptr, &op, &room, &subst));
  EXPECT_EQ(std::string("ab\0", 3), std::string(buf, op));
  EXPECT_EQ(z.data() + 3, ip);

  // Invalid input and substitution.
  CvPtr back = Load("en_us.8859-1", "en_us.utf8");
  int32_t rc = 0;
  EXPECT_EQ("a", Convert(back.get(), "a\xff", &rc));
  EXPECT_EQ(-1, rc);
  EXPECT_EQ(GL_EILSEQ, back->error_number);
  in = "\xe2\x82\xac";
  ip = in.data();
  len = 3;
  op = buf;
  room = sizeof buf;
  EXPECT_EQ(0, gl_miconv(back.get(), &ip, &len, &op, &room, &subst));
  EXPECT_EQ("?", std::string(buf, op));
  EXPECT_EQ(1, subst);

  // Counting only.
  CvPtr sb = Load("en_us.8859-1", "en_us.cp1252");
  ip = "abc";
  len = 3;
  room = 1000;
  EXPECT_EQ(0, gl_mconvlen(sb.get(), &ip, &len, &room, &subst));
  EXPECT_EQ(997u, room);
}

TEST_F(CvoTest, SingleByteTableIsComplete) {
  CvPtr cv = Load("en_us.8859-1", "en_us.cp1252");
  ASSERT_NE(nullptr, cv->byte_table);
  EXPECT_EQ(0, cv->error_number);
  EXPECT_EQ('A', cv->byte_table[0x41]);
  EXPECT_EQ(0xe9, cv->byte_table[0xe9]);
  EXPECT_EQ('?', cv->byte_table[0x80]);  // the euro sign: no Latin-1 form
  EXPECT_EQ('?', cv->byte_table[0x81]);  // no character at all
  EXPECT_EQ('?', cv->byte_table[0x8d]);
  CvPtr utf = Load("en_us.utf8", "en_us.8859-1");
  EXPECT_EQ(nullptr, utf->byte_table);
}

TEST_F(CvoTest, ShiftSequences) {
  CvPtr cv = Load("ko_kr.csid933", "en_us.utf8");
  const std::string ga = "\xea\xb0\x80", so_ga = "\x0e\x88\x61";
  EXPECT_EQ("\xc1" + so_ga + "\x0f\xc2", Convert(cv.get(), "A" + ga + "B"));
  EXPECT_EQ("\xc1" + so_ga + "\x0f", Convert(cv.get(), "A" + ga));

  // Without flush the output stays shifted; the next call goes on from there.
  GlConvState st = {1, 0, 0, 0};
  EXPECT_EQ(so_ga, Convert(cv.get(), ga, nullptr, &st));
  EXPECT_EQ(1, st.out_shift);
  st.reset = 0;
  st.flush = 1;
  EXPECT_EQ("\x88\x61\x0f", Convert(cv.get(), ga, nullptr, &st));
  // The shift-in is written, so a further call shifts out again.
  EXPECT_EQ(0, st.out_shift);
  EXPECT_EQ(so_ga + "\x0f", Convert(cv.get(), ga, nullptr, &st));

  // Room for the character but not its shift-out: nothing written.
  const char *ip = ga.data();
  int32_t len = 3, subst = 0;
  char buf[4];
  char *op = buf;
  uint32_t room = 3;
  EXPECT_EQ(-1, gl_miconv(cv.get(), &ip, &len, &op, &room, &subst));
  EXPECT_EQ(GL_E2BIG, cv->error_number);
  EXPECT_EQ(buf, op);

  // The stateful source: shift bytes switch tables and write nothing.
  CvPtr back = Load("en_us.utf8", "ko_kr.csid933");
  EXPECT_EQ("A" + ga + "B", Convert(back.get(), "\xc1" + so_ga + "\x0f\xc2"));
}

TEST_F(CvoTest, WideEnginesAndSizing) {
  CvPtr to16 = Load("en_us.unicode", "en_us.8859-1");
  EXPECT_EQ(std::string("A\0\xe9\0", 4), Convert(to16.get(), "A\xe9"));
  EXPECT_EQ(2, gl_cv_outbuflen(to16.get(), 1));
  CvPtr from16 = Load("en_us.8859-1", "en_us.unicode");
  int32_t rc = 0;
  EXPECT_EQ("A\xe9?", Convert(from16.get(), std::string("A\0\xe9\0\xac\x20\x41", 7), &rc));
  EXPECT_EQ(-1, rc);
  EXPECT_EQ(GL_ESHORT, from16->error_number);

  // A four-byte target unit needs room for all of it.
  int32_t r = 0;
  CvPtr wide = FromText(File("0 0\n0000\n4 4 0 0 1 1\n1\n2.25\n", TableWith("1400000041")), &r);
  ASSERT_EQ(0, r);
  EXPECT_EQ(std::string("\x41\0\0\0", 4), Convert(wide.get(), "A"));
  for (uint32_t small : {2u, 3u}) {
    const char *ip = "A";
    int32_t len = 1, subst = 0;
    char buf[4] = {};
    char *op = buf;
    uint32_t room = small;
    EXPECT_EQ(-1, gl_miconv(wide.get(), &ip, &len, &op, &room, &subst));
    EXPECT_EQ(GL_E2BIG, wide->error_number);
    EXPECT_EQ(buf, op);
    EXPECT_EQ(small, room);
  }
  EXPECT_EQ(21, gl_cv_outbuflen(wide.get(), 7));  // the factor rounds up first
  EXPECT_FLOAT_EQ(2.25, static_cast<float>(gl_iconv_expansion(wide.get())));
  EXPECT_EQ(-1, gl_cv_outbuflen(wide.get(), -1));
  CvPtr one = Load("en_us.cp1252", "en_us.8859-1");
  EXPECT_EQ(7, gl_cv_outbuflen(one.get(), 7));
  EXPECT_EQ(7, gl_cv_outbuflen(nullptr, 7));  // no converter: a plain copy
}

// Any split of the input, the partial character carried over by the caller,
// gives the bytes of the whole conversion.
TEST_F(CvoTest, ChunkedConversionMatchesWhole) {
  const std::string text = "Ab\xc3\xa9 \xe4\xba\x9c\xe3\x81\x82 \xe0\xb8\x81\xe0\xb8\xb2 "
                           "\xea\xb0\x80\xea\xb0\x81z \xf0\x9f\x98\x80!";
  const char *sets[] = {"en_us.8859-1", "ja_jp.sjis", "th_th.thai620", "ko_kr.csid933",
                        "en_us.utf8"};
  struct Pair {
    const char *target, *source;
  };
  std::vector<Pair> pairs = {{"en_us.8859-1", "en_us.cp1252"},
                             {"en_us.cp1252", "en_us.8859-1"},
                             {"en_us.unicode", "en_us.8859-1"},
                             {"en_us.8859-1", "en_us.unicode"}};
  for (const char *s : sets) {
    if (std::string(s) != "en_us.utf8") {
      pairs.push_back({"en_us.utf8", s});
      pairs.push_back({s, "en_us.utf8"});
    }
  }
  for (const Pair &p : pairs) {
    // The source text: the sample in the source's code set (substituted
    // where the source lacks a character).
    std::string source = text;
    std::string from = "en_us.utf8";
    if (std::string(p.source) == "en_us.cp1252" || std::string(p.source) == "en_us.unicode") {
      CvPtr latin = Load("en_us.8859-1", "en_us.utf8");
      source = Convert(latin.get(), text);
      from = "en_us.8859-1";
    }
    if (std::string(p.source) != from) {
      CvPtr maker = Load(p.source, from.c_str());
      source = Convert(maker.get(), source);
    }
    CvPtr cv = Load(p.target, p.source);
    int32_t rc = 0;
    const std::string whole = Convert(cv.get(), source, &rc);
    ASSERT_EQ(0, rc) << p.target << " <- " << p.source;
    auto chunked = [&](const std::vector<size_t> &cuts) {
      GlConvState st = {1, 0, 0, 0};
      std::string out, pending;
      size_t from = 0;
      for (size_t k = 0; k <= cuts.size(); ++k) {
        size_t to = k < cuts.size() ? cuts[k] : source.size();
        pending += source.substr(from, to - from);
        from = to;
        st.flush = k == cuts.size();
        const char *ip = pending.data();
        auto len = static_cast<int32_t>(pending.size());
        std::string buf(pending.size() * 8 + 16, '\0');
        char *op = buf.data();
        auto room = static_cast<uint32_t>(buf.size());
        int32_t subst = 0;
        int32_t r = gl_cv_mconv(cv.get(), &st, &ip, &len, &op, &room, &subst);
        if (r != 0 && cv->error_number != GL_ESHORT) return std::string("error");
        out.append(buf.data(), op);
        pending.erase(0, static_cast<size_t>(ip - pending.data()));
        st.reset = 0;
      }
      return pending.empty() ? out : std::string("left over");
    };
    for (size_t cut = 0; cut <= source.size(); ++cut) {
      EXPECT_EQ(whole, chunked({cut})) << p.target << " <- " << p.source << " cut " << cut;
    }
    std::vector<size_t> bytewise;
    for (size_t i = 1; i < source.size(); ++i) bytewise.push_back(i);
    EXPECT_EQ(whole, chunked(bytewise)) << p.target << " <- " << p.source << " byte by byte";
  }
}

}  // namespace
