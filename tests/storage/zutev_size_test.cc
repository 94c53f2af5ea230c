// The size parser of the device options: the table of the size grammar,
// the refusals of texts that are no size, and a comparison with a Python
// reading of the same grammar over generated texts.
#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "storage/command/zutev_device.h"
#include "tests/support/test_support.h"

namespace {

struct Case {
  const char* text;
  int error;
  int64_t bytes;
};

TEST(ZutevParseSize, Table) {
  const int64_t K = 1024, M = K * K, G = M * K, T = G * K, P = T * K;
  const Case cases[] = {
      {"100", 0, 100 * K},
      {"100M", 0, 100 * M},
      {"100 mb", 0, 100 * M},
      {"1.5K", 0, 1536},
      {"1.5k", 0, 1536},
      {"  1.5K", 0, 1536},  // positions count from the first non-blank
      {"512B", 0, 512},
      {"512 b", 0, 512},
      {"4G", 0, 4 * G},
      {"4gb", 0, 4 * G},
      {"1T", 0, T},
      {"3t", 0, 3 * T},
      {"1P", 0, P},
      {"2p", 0, 2 * P},
      {"8191P", 0, 8191 * P},
      {"0.3B", 0, 0},  // the fraction is cut off
      {"1.9999", 0, 2047},
      {"0", 0, 0},
      {"1x", 1, 0},
      {"1 x", 1, 0},
      {"abc", 1, 0},
      {"", 1, 0},
      {"   ", 1, 0},
      {"12a45", 1, 0},
      // Signs, letters and a bare unit in the last two places are no size.
      {"-5", 1, 0},
      {"-1M", 1, 0},
      {"nan", 1, 0},
      {"K", 1, 0},
      {"b", 1, 0},
      {".", 1, 0},
      {".M", 1, 0},
      // No signed 64-bit count.
      {"8192P", 1, 0},
      {"16384P", 1, 0},
      {"99999999999999999999", 1, 0},
  };
  for (const Case& c : cases) {
    int error = -1;
    EXPECT_EQ(zutevParseSize(c.text, &error), c.bytes) << "'" << c.text << "'";
    EXPECT_EQ(error, c.error) << "'" << c.text << "'";
  }
}

// The grammar read by Python: blanks skipped, digits or "." before the last
// two places, the number as a float, blanks, the unit's first letter.
constexpr char kReference[] = R"PY(
import re, sys
units = {'': 1024, 'b': 1, 'k': 1024, 'm': 2**20, 'g': 2**30, 't': 2**40, 'p': 2**50}
ws = ' \t\n\v\f\r'
def parse(t):
    s = t.lstrip(ws)
    if not s:
        return (1, 0)
    n = len(s)
    i = 0
    while i < n and s[i] not in ws:
        if i + 1 < n - 2 and not (s[i].isdigit() or s[i] == '.'):
            return (1, 0)
        i += 1
    m = re.match(r'\d+\.?\d*|\.\d+', s)
    if not m:
        return (1, 0)
    rest = s[m.end():].lstrip(ws)
    u = rest[:1].lower()
    if u not in units:
        return (1, 0)
    product = float(m.group()) * units[u]
    if product >= 2.0**63:
        return (1, 0)
    return (0, int(product))
for line in sys.stdin.read().split('\n')[:-1]:
    e, v = parse(line.replace('_', ' '))
    print(e, v)
)PY";

TEST(ZutevParseSize, AgreesWithAPythonReading) {
  std::mt19937 rng(20261210);
  const std::vector<std::string> units = {"", "B", "b", "K", "k", "KB", "M", "mb", "G", "g",
                                          "T", "tb", "P", "x", "Z", "1"};
  std::vector<std::string> texts;
  for (int n = 0; n < 3000; ++n) {
    std::string t(rng() % 3, ' ');
    const int digits = static_cast<int>(rng() % 7);
    for (int i = 0; i < digits; ++i) t += static_cast<char>('0' + rng() % 10);
    if (rng() % 2) {
      t += '.';
      for (int i = static_cast<int>(rng() % 4); i > 0; --i) t += static_cast<char>('0' + rng() % 10);
    }
    t += std::string(rng() % 2, ' ');
    t += units[rng() % units.size()];
    if (rng() % 8 == 0) t += "3";  // a digit after the unit: more than two places
    texts.push_back(t);
  }
  std::string input;
  for (const std::string& t : texts) {
    std::string line = t;
    for (char& c : line) c = c == ' ' ? '_' : c;
    input += line + "\n";
  }
  tevtest::RunOptions options;
  options.stdin_data = input;
  tevtest::RunResult py = tevtest::RunProgram(tevtest::Python(), {"-c", kReference}, options);
  ASSERT_EQ(py.exit_code, 0) << py.err;
  std::istringstream expected(py.out);
  int accepted = 0;
  for (const std::string& t : texts) {
    int want_error = 0;
    long long want = 0;
    ASSERT_TRUE(expected >> want_error >> want) << t;
    int error = -1;
    const int64_t got = zutevParseSize(t.c_str(), &error);
    EXPECT_EQ(error, want_error) << "'" << t << "'";
    EXPECT_EQ(got, want) << "'" << t << "'";
    accepted += want_error == 0;
  }
  // The generator reaches both outcomes often.
  EXPECT_GT(accepted, 300);
  EXPECT_LT(accepted, 2700);
}

}  // namespace
