// A collated key (part type 7) orders its records as the client locale's
// collation does: random letter words under en_us.8859-1 come back in the
// order of the C library's strcoll in en_US.ISO-8859-1, built with
// localedef from the same source, and the file checks clean.

#include <locale.h>
#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#endif
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "isam/isam.h"
#include "tests/isam/check_fixture.h"
#include "tests/isam/isam_fixture.h"
#include "tests/support/test_support.h"

namespace {

constexpr int kWordLen = 20;

std::string Trimmed(const unsigned char* p, int n) {
  std::string s(reinterpret_cast<const char*>(p), static_cast<size_t>(n));
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

class CollatedKeyTest : public isamtest::PairTest {};

TEST_F(CollatedKeyTest, RecordsComeBackInTheCollationOrder) {
  tevtest::TempInstall locales;
  tevtest::RunResult made = tevtest::RunProgram(
      "/usr/bin/localedef", {"-i", "en_US", "-f", "ISO-8859-1", locales.Path("en_US.ISO-8859-1")});
  ASSERT_EQ(0, made.exit_code) << made.err;
  // The C library keeps the search path it builds from LOCPATH for good:
  // that allocation is not a leak of ours.
  setenv("LOCPATH", locales.path().c_str(), 1);
#ifdef __SANITIZE_ADDRESS__
  __lsan_disable();
#endif
  locale_t c = newlocale(LC_COLLATE_MASK, "en_US.ISO-8859-1", nullptr);
#ifdef __SANITIZE_ADDRESS__
  __lsan_enable();
#endif
  unsetenv("LOCPATH");
  ASSERT_NE(nullptr, c);
  setenv("TARVELONDIR", tevtest::BuildTree().c_str(), 1);
  unsetenv("CLIENT_LOCALE");

  std::string letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  for (int b = 0xC0; b <= 0xFF; ++b) {
    if (b != 0xD7 && b != 0xF7) letters += static_cast<char>(b);
  }
  std::mt19937 rng(7);
  std::set<std::string> words;
  while (words.size() < 1500) {
    std::string w;
    for (int n = 3 + static_cast<int>(rng() % 10); n > 0; --n) w += letters[rng() % letters.size()];
    words.insert(w);
  }

  IsamKeyDesc kd = {};
  kd.nparts = 1;
  kd.parts[0] = {0, kWordLen, 7};
  std::string name = Name("words");
  int fd = isbuild(name.c_str(), kWordLen + 4, &kd, IS_INOUT | IS_EXCLLOCK);
  ASSERT_GE(fd, 0) << iserrno;
  for (const std::string& w : words) {
    unsigned char rec[kWordLen + 4];
    memset(rec, ' ', sizeof rec);
    memcpy(rec, w.data(), w.size());
    ASSERT_EQ(0, iswrite(fd, rec)) << iserrno;
  }
  unsigned char rec[kWordLen + 4] = {};
  ASSERT_EQ(0, isstart(fd, &kd, 0, rec, IS_FIRST)) << iserrno;
  std::vector<std::string> got;
  while (isread(fd, rec, IS_NEXT) == 0) got.push_back(Trimmed(rec, kWordLen));
  ASSERT_EQ(0, isclose(fd));
  ASSERT_EQ(words.size(), got.size());

  std::vector<std::string> want(words.begin(), words.end());
  std::sort(want.begin(), want.end(), [c](const std::string& a, const std::string& b) {
    return strcoll_l(a.c_str(), b.c_str(), c) < 0;
  });
  freelocale(c);
  int shown = 0;
  for (size_t i = 0; i < want.size() && shown < 5; ++i) {
    if (want[i] != got[i]) {
      ++shown;
      ADD_FAILURE() << "record " << i << ": \"" << got[i] << "\", the C library has \""
                    << want[i] << "\"";
    }
  }
  isamtest::CheckRun r = isamtest::RunCheck({name}, "", "en_US.819");
  EXPECT_EQ(0, r.exit_code) << r.out << r.err;
  EXPECT_EQ(std::string::npos, r.out.find("ERROR")) << r.out;
}

}  // namespace
