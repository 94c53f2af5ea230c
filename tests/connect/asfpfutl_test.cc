// The base64 variant against python3's base64 with the altchars "._".
#include "connect/asfpfutl.h"

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

std::string Encode(const std::string& bytes) {
  std::string out(bytes.size() * 4 / 3 + 4, '\0');
  int32_t n = pf_b64_encode(reinterpret_cast<const unsigned char*>(bytes.data()), out.data(),
                            static_cast<int32_t>(bytes.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string Decode(const std::string& chars) {
  std::string out(chars.size(), '\0');
  int32_t n = pf_b64_decode(chars.data(), reinterpret_cast<unsigned char*>(out.data()),
                            static_cast<int32_t>(chars.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string Hex(const std::string& s) {
  static const char* digits = "0123456789abcdef";
  std::string h;
  for (unsigned char c : s) {
    h += digits[c >> 4];
    h += digits[c & 15];
  }
  return h;
}

TEST(PfBase64Test, MatchesPythonBothWaysOnRandomInputs) {
  std::mt19937 rng(4111);
  std::vector<std::string> inputs;
  for (int len = 0; len <= 300; ++len) {
    std::string s(static_cast<size_t>(len), '\0');
    for (auto& c : s) c = static_cast<char>(rng() & 0xFF);
    inputs.push_back(s);
  }
  tevtest::TempInstall dir;
  std::ostringstream lines;
  for (const auto& s : inputs) lines << Hex(s) << "\n";
  tevtest::WriteFile(dir.Path("in.txt"), lines.str());
  auto r = tevtest::RunProgram(
      tevtest::Python(),
      {"-c",
       "import base64,sys\nfor l in open(sys.argv[1]):\n"
       " print(base64.b64encode(bytes.fromhex(l.strip()),altchars=b'._').decode().rstrip('='))\n",
       dir.Path("in.txt")});
  ASSERT_EQ(0, r.exit_code) << r.err;
  std::istringstream expected(r.out);
  for (const auto& s : inputs) {
    std::string want;
    std::getline(expected, want);
    ASSERT_EQ(want, Encode(s)) << "length " << s.size();
    ASSERT_EQ(Hex(s), Hex(Decode(want))) << "length " << s.size();
  }
}

TEST(PfBase64Test, EdgesOfTheVariant) {
  EXPECT_EQ("YWJj", Encode("abc"));
  EXPECT_EQ("abc", Decode("YWJjY"));  // a single trailing character is ignored
  EXPECT_EQ("", Decode("Y"));
  EXPECT_EQ(std::string(1, '\0'), Decode("!!"));  // outside the alphabet: 0
  EXPECT_EQ("\xff\xff", Decode("__8"));
  EXPECT_EQ("\xfb\xef", Decode("..8"));

  // In place both ways, as the request trailer is encoded.
  std::string buf = "connect!";
  buf.resize(16);
  int32_t n = pf_b64_encode(reinterpret_cast<unsigned char*>(buf.data()), buf.data(), 8);
  EXPECT_EQ(Encode("connect!"), buf.substr(0, static_cast<size_t>(n)));
  n = pf_b64_decode(buf.data(), reinterpret_cast<unsigned char*>(buf.data()), n);
  EXPECT_EQ("connect!", buf.substr(0, static_cast<size_t>(n)));
}

}  // namespace
