// Code tables: construction, look-ups, the text form and the shared form.
#include <stdio.h>
#include <string.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "locale/core/gl_codetable.h"
#include "locale/core/gl_errors.h"

namespace {

struct Obj {
  int32_t error = 0;
};

using Key = std::vector<unsigned char>;

GlCodeTable *NewTable(uint16_t def = 0) { return _gl_ct_create(2, 0, &def); }

uint16_t Val(const void *p) {
  uint16_t v;
  memcpy(&v, p, 2);
  return v;
}

// A stream holding text, read through the default hooks.
FILE *Stream(const std::string &text) {
  FILE *f = tmpfile();
  fwrite(text.data(), 1, text.size(), f);
  rewind(f);
  return f;
}

std::string Dump(GlCodeTable *t) {
  FILE *f = tmpfile();
  _gl_ct_dump(f, t, _gl_ct_write_hex16);
  std::string out(static_cast<size_t>(ftell(f)), '\0');
  rewind(f);
  EXPECT_EQ(out.size(), fread(out.data(), 1, out.size(), f));
  fclose(f);
  return out;
}

GlCodeTable *Load(const std::string &text, int32_t *rc = nullptr, int32_t limit = 4) {
  GlCodeTable *t = NewTable();
  FILE *f = Stream(text);
  int32_t r = _gl_ct_load(f, t, limit, _gl_ct_read_hex16);
  fclose(f);
  if (rc) *rc = r;
  return t;
}

// A random prefix-free key set: code-set-like lead bytes decide lengths.
std::map<Key, uint16_t> RandomKeys(std::mt19937 &rng) {
  int len_of_lead[256];
  for (int &l : len_of_lead) l = 1 + static_cast<int>(rng() % 4);
  std::map<Key, uint16_t> keys;
  int n = 1 + static_cast<int>(rng() % 3000);
  for (int i = 0; i < n; ++i) {
    Key k{static_cast<unsigned char>(rng())};
    int len = len_of_lead[k[0]];
    // Second bytes also fix the remaining length, so no key prefixes another.
    while (static_cast<int>(k.size()) < len) k.push_back(static_cast<unsigned char>(rng() % 8 + 0x40));
    keys[k] = static_cast<uint16_t>(rng() % 5 == 0 ? 0 : rng());
  }
  return keys;
}

uint32_t WideOf(const Key &k) {
  uint32_t v = 0;
  for (unsigned char b : k) v = (v << 8) | b;
  return v;
}

// Checks every key through the byte, counted, wide and key look-ups.
void ExpectLookups(const GlCodeTable *t, const std::map<Key, uint16_t> &keys, int seed) {
  Obj o;
  for (auto &[k, v] : keys) {
    Key padded = k;
    padded.resize(4, 0);
    int32_t len = 0;
    const void *p = _gl_ct_lookup_mb(t, padded.data(), &o, &len);
    ASSERT_NE(nullptr, p) << "seed " << seed;
    EXPECT_EQ(v, Val(p));
    EXPECT_EQ(static_cast<int32_t>(k.size()), len);
    EXPECT_EQ(v, Val(_gl_ct_lookup_mbn(t, k.data(), static_cast<int32_t>(k.size()), &len, &o)));
    EXPECT_EQ(v, Val(_gl_ct_lookup_key(t, static_cast<int32_t>(k.size()), k.data())));
    // The wide look-up finds keys whose leading byte is non-zero at their length.
    if (k[0] != 0 && static_cast<int32_t>(k.size()) >= _gl_ct_min_key_len(t)) {
      const void *w = _gl_ct_lookup_wc(t, WideOf(k), &o);
      ASSERT_NE(nullptr, w) << std::hex << WideOf(k);
      EXPECT_EQ(v, Val(w));
    }
    if (k.size() > 1) {
      o.error = 0;
      EXPECT_EQ(nullptr, _gl_ct_lookup_mbn(t, k.data(), static_cast<int32_t>(k.size()) - 1, &len, &o));
      EXPECT_EQ(GL_ESHORT, o.error);
    }
  }
}

TEST(CodeTableTest, RandomKeySetsSurviveDumpLoadAndShare) {
  for (int seed = 1; seed <= 12; ++seed) {
    std::mt19937 rng(seed);
    auto keys = RandomKeys(rng);
    GlCodeTable *t = NewTable();
    for (auto &[k, v] : keys) {
      ASSERT_EQ(0, _gl_ct_insert(static_cast<int32_t>(k.size()), k.data(), v == 0 ? nullptr : &v, t));
    }
    ExpectLookups(t, keys, seed);
    std::string text = Dump(t);
    int32_t rc;
    GlCodeTable *loaded = Load(text, &rc);
    ASSERT_EQ(0, rc) << "seed " << seed;
    ExpectLookups(loaded, keys, seed);
    EXPECT_EQ(text, Dump(loaded));  // the writer is deterministic

    ASSERT_EQ(0, _gl_ct_share(t));
    ExpectLookups(t, keys, seed);
    GlCodeTable *shared = Load(Dump(t), &rc);
    ASSERT_EQ(0, rc) << "seed " << seed;
    EXPECT_TRUE(shared->flags & GL_CT_SHARED);
    ExpectLookups(shared, keys, seed);
    _gl_ct_free(t);
    _gl_ct_free(loaded);
    _gl_ct_free(shared);
  }
  printf("12 seeds of random key sets checked\n");
}

TEST(CodeTableTest, EmptyTableAndPrefixRules) {
  GlCodeTable *t = NewTable(7);
  Obj o;
  unsigned char a = 0x41;
  int32_t len = 0;
  EXPECT_EQ(nullptr, _gl_ct_lookup_mb(t, &a, &o, &len));
  EXPECT_EQ(GL_EILSEQ, o.error);
  EXPECT_EQ(0, _gl_ct_max_key_len(t));
  EXPECT_EQ(4, _gl_ct_min_key_len(t));

  ASSERT_EQ(0, _gl_ct_insert(1, &a, nullptr, t));
  EXPECT_EQ(7, Val(_gl_ct_lookup_mb_value(t, &a, &o)));

  const unsigned char k2[] = {0x81, 0x40};
  ASSERT_EQ(0, _gl_ct_insert(2, k2, nullptr, t));
  EXPECT_EQ(-1, _gl_ct_insert(1, k2, nullptr, t));  // prefix of a longer key
  const unsigned char k3[] = {0x41, 0x40};
  EXPECT_EQ(-1, _gl_ct_insert(2, k3, nullptr, t));  // extends a shorter key
  EXPECT_EQ(-1, _gl_ct_insert(5, k3, nullptr, t));
  EXPECT_EQ(-1, _gl_ct_insert(0, k3, nullptr, t));

  o.error = 0;
  EXPECT_EQ(nullptr, _gl_ct_lookup_mbn(t, k2, 1, &len, &o));
  EXPECT_EQ(GL_ESHORT, o.error);
  EXPECT_EQ(1, len);
  EXPECT_EQ(nullptr, _gl_ct_lookup_mbn(t, k2, 0, &len, &o));
  EXPECT_EQ(0, len);
  const unsigned char bad[] = {0x81, 0x41};
  EXPECT_EQ(nullptr, _gl_ct_lookup_mb(t, bad, &o, &len));
  EXPECT_EQ(GL_EILSEQ, o.error);
  EXPECT_EQ(2, len);
  EXPECT_EQ(0, _gl_ct_mblen(t, bad, &o));
  EXPECT_EQ(2, _gl_ct_mblen(t, k2, &o));
  _gl_ct_free(t);
}

TEST(CodeTableTest, WideValuesUseTheShortestKeyLength) {
  GlCodeTable *t = NewTable();
  uint16_t v1 = 1, v2 = 2, v3 = 3;
  const unsigned char k1[] = {0x00, 0x41}, k2[] = {0x12, 0x34}, k3[] = {0x01, 0x23, 0x45};
  ASSERT_EQ(0, _gl_ct_insert(2, k1, &v1, t));
  ASSERT_EQ(0, _gl_ct_insert(2, k2, &v2, t));
  ASSERT_EQ(0, _gl_ct_insert(3, k3, &v3, t));
  Obj o;
  EXPECT_EQ(1, Val(_gl_ct_lookup_wc(t, 0x41, &o)));
  EXPECT_EQ(2, Val(_gl_ct_lookup_wc(t, 0x1234, &o)));
  EXPECT_EQ(3, Val(_gl_ct_lookup_wc(t, 0x12345, &o)));
  EXPECT_EQ(nullptr, _gl_ct_lookup_wc(t, 0x12345678, &o));
  EXPECT_EQ(GL_EILSEQ, o.error);

  // Code units: stored least significant byte first.
  const unsigned char unit[] = {0x34, 0x12};
  EXPECT_EQ(2, Val(_gl_ct_lookup_unit(t, unit, 2, 2, &o)));
  o.error = 0;
  EXPECT_EQ(nullptr, _gl_ct_lookup_unit(t, unit, 1, 2, &o));
  EXPECT_EQ(GL_ESHORT, o.error);
  _gl_ct_free(t);
}

TEST(CodeTableTest, RunLinesOfTheTextForm) {
  struct {
    const char *runs;
    std::map<int, int> states;  // entries expected non-zero
  } cases[] = {
      {"0000100504\n0000000\n", {{0, 4}, {1, 4}, {2, 4}, {3, 4}, {4, 4}}},
      {"410020010104\n0000000\n", {{0x41, 1}, {0x42, 4}}},
      {"0000000\n", {}},
      // Repetitions of a literal: start 0x10, L 2, R 3.
      {"10002003" "0401\n0000000\n", {{0x10, 4}, {0x11, 1}, {0x12, 4}, {0x13, 1}, {0x14, 4}, {0x15, 1}}},
  };
  for (auto &c : cases) {
    // Root with a state array only; any state-1 byte gets an empty child.
    std::string text = "2 1 1 0000\n1 0\n" + std::string(c.runs);
    for (auto &[b, s] : c.states) {
      if (s == 1) text += "0 0\n";
    }
    int32_t rc;
    GlCodeTable *t = Load(text, &rc);
    ASSERT_EQ(0, rc) << c.runs;
    for (int b = 0; b < 256; ++b) {
      auto it = c.states.find(b);
      EXPECT_EQ(it == c.states.end() ? 0 : it->second, t->root.states[b]) << c.runs << " byte " << b;
    }
    _gl_ct_free(t);
  }
}

TEST(CodeTableTest, WriterChoosesUniformAndLiteralRuns) {
  GlCodeTable *t = NewTable();
  uint16_t v = 5;
  // Two-byte keys 0x81 0x40..0x45 (uniform run of six) and 0x82 0x40, 0x82 0x42.
  for (unsigned char b = 0x40; b <= 0x45; ++b) {
    const unsigned char k[] = {0x81, b};
    ASSERT_EQ(0, _gl_ct_insert(2, k, &v, t));
  }
  for (unsigned char b : {0x40, 0x42}) {
    const unsigned char k[] = {0x82, b};
    ASSERT_EQ(0, _gl_ct_insert(2, k, nullptr, t));
  }
  std::string text = Dump(t);
  EXPECT_EQ(
      "2 2 1 0000\n"
      "1 0\n" "810020010101\n0000000\n"          // root: literal of two state-1 bytes
      "1 1\n" "40001006" "04\n0000000\n"         // uniform state run
      "40001006" "0005\n0000000\n"                // uniform value run
      "1 0\n" "40003001" "040004\n0000000\n",     // literal with a zero inside
      text);
  _gl_ct_free(t);

  // A single-byte table is written with every root byte valid.
  GlCodeTable *sb = NewTable();
  unsigned char a = 'a';
  ASSERT_EQ(0, _gl_ct_insert(1, &a, &v, sb));
  std::string sbtext = Dump(sb);
  EXPECT_EQ(0u, sbtext.find("1 1 1 0000\n1 1\n00001100" "04\n0000000\n")) << sbtext;
  Obj o;
  unsigned char z = 0xfe;
  EXPECT_NE(nullptr, _gl_ct_lookup_mb(sb, &z, &o, nullptr));
  _gl_ct_free(sb);
}

// The text carries the writer's default value; a load keeps the default
// the table was created with, in value blocks and for nodes without one.
TEST(CodeTableTest, LoadKeepsTheCreatedDefault) {
  uint16_t five = 5;
  GlCodeTable *src = _gl_ct_create(2, 0, &five);
  const unsigned char a[] = {0x41}, b[] = {0x42}, wide[] = {0x81, 0x40};
  uint16_t seven = 7;
  ASSERT_EQ(0, _gl_ct_insert(1, a, nullptr, src));
  ASSERT_EQ(0, _gl_ct_insert(1, b, &seven, src));
  ASSERT_EQ(0, _gl_ct_insert(2, wide, nullptr, src));
  std::string text = Dump(src);
  ASSERT_EQ(0u, text.find("2 1 1 0005\n")) << text;
  _gl_ct_free(src);

  int32_t rc = -1;
  GlCodeTable *t = Load(text, &rc);  // created with default 0
  ASSERT_EQ(0, rc);
  EXPECT_EQ(0, Val(_gl_ct_lookup_key(t, 1, a)));
  EXPECT_EQ(7, Val(_gl_ct_lookup_key(t, 1, b)));
  EXPECT_EQ(0, Val(_gl_ct_lookup_key(t, 2, wide)));
  // Dumped again, the header names the kept default.
  EXPECT_EQ(0u, Dump(t).find("2 1 1 0000\n"));
  _gl_ct_free(t);
}

TEST(CodeTableTest, BadTextFailsWithLoadError) {
  struct {
    const char *text;
    int32_t limit;
    int32_t error;
  } cases[] = {
      {"5 1 1 0000\n1 0\n0000000\n", 4, GL_ECTTEXT},            // key longer than allowed
      {"2 1 1 0000\n1 0\nff0020010104\n0000000\n", 4, GL_ECTTEXT},  // run past entry 255
      {"2 1 1 0000\n1 0\n0000100107\n0000000\n", 4, GL_ECTTEXT},    // no such state
      {"2 1 1 0000\n1 0\n0000100104", 4, GL_ENOMEM},                // cut before the line end
      {"4 1 1 0000\n1 0\n0000100101\n0000000\n"
       "1 0\n0000100101\n0000000\n1 0\n0000100101\n0000000\n1 0\n0000100101\n0000000\n",
       4, GL_ECTTEXT},                                              // deeper than four bytes
      {"2 1 3 0000\n1 0\n0000000\n1 0 5 0\n", 4, GL_ECTTEXT},       // missing shared array
      {"2 1 3 0000\n", 4, GL_ENOMEM},
      {"2 1 1 0000\n0 1\n00fff000\n0000000\n", 4, GL_ECTTEXT},  // repeat 0, long run
  };
  for (auto &c : cases) {
    int32_t rc = 0;
    GlCodeTable *t = Load(c.text, &rc, c.limit);
    EXPECT_EQ(-1, rc) << c.text;
    EXPECT_EQ(c.error, _gl_ct_error(t)) << c.text;
    _gl_ct_free(t);
  }
}

}  // namespace
