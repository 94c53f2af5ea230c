// The stored layout is part of the format: the same operation sequence, in
// the same locking mode with the same pool size, must leave the same bytes
// in both files of a pair as the library recorded below did (the digests
// were taken before its read path was reworked for speed). A change of
// these digests is a change of what the library writes.
//
// In exclusive mode the bytes depend on the pool size (modified nodes stay
// in the pool until they are reused, so free nodes keep whichever image
// was written last, and the order in which a split takes its new nodes
// may differ), which is why every run has digests of its own.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "isam/isam.h"
#include "tests/support/test_support.h"

namespace {

void Put32(uint32_t v, unsigned char* p) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

// FNV-1a over the bytes, with the length, as 16 + 8 hex digits.
std::string Digest(const std::string& bytes) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 1099511628211ull;
  }
  char out[40];
  std::snprintf(out, sizeof out, "%016llx:%zu", static_cast<unsigned long long>(h), bytes.size());
  return out;
}

constexpr int kFixLen = 64;

// Unique 4-byte integer; compressed duplicates on 8 characters; plain
// duplicates on a descending 2-byte integer.
IsamKeyDesc FixKey(int which) {
  IsamKeyDesc k = {};
  k.nparts = 1;
  if (which == 0) {
    k.parts[0] = {0, 4, 2};
  } else if (which == 1) {
    k.flags = IS_DUPS | IS_DUPCOMP | IS_LEADCOMP | IS_TRAILCOMP;
    k.parts[0] = {4, 8, 0};
  } else {
    k.flags = IS_DUPS;
    k.parts[0] = {12, 2, 1 | IS_DESCENDING};
  }
  return k;
}

void FixRecord(uint32_t a, uint32_t g, unsigned char* r) {
  Put32(a, r);
  uint32_t b = (a * 2654435761u + g * 97u) % 61u;
  // Blank-padded text of varying length, so that trailing and leading
  // compression both have work.
  std::snprintf(reinterpret_cast<char*>(r + 4), 9, "k%0*u", static_cast<int>(1 + b % 6), b);
  for (int i = 4; i < 12; ++i) {
    if (r[i] == 0) r[i] = ' ';
  }
  uint32_t c = (a + g * 7u) % 23u;
  r[12] = static_cast<unsigned char>(c >> 8);
  r[13] = static_cast<unsigned char>(c);
  for (int i = 14; i < kFixLen; ++i) r[i] = static_cast<unsigned char>(a * 31u + static_cast<uint32_t>(i) + g);
}

// Fixed-length pair: random inserts, rewrites, deletes by key and by
// number, a run of deletes that empties whole leaves, and inserts that take
// freed numbers and nodes again. "" on success, else what failed.
std::string FixedSequence(const std::string& name, int lockmode) {
  iserase(name.c_str());
  IsamKeyDesc k0 = FixKey(0), k1 = FixKey(1), k2 = FixKey(2);
  int fd = isbuild(name.c_str(), kFixLen, &k0, IS_INOUT | IS_EXCLLOCK);
  if (fd < 0) return "build " + std::to_string(iserrno);
  if (isaddindex(fd, &k1) != 0 || isaddindex(fd, &k2) != 0) return "addindex " + std::to_string(iserrno);
  if (isclose(fd) != 0 || (fd = isopen(name.c_str(), IS_INOUT | lockmode)) < 0) {
    return "open " + std::to_string(iserrno);
  }
  std::mt19937 rng(48);
  const uint32_t n = 2500;
  std::vector<uint32_t> keys(n);
  for (uint32_t i = 0; i < n; ++i) keys[i] = i * 3;
  std::shuffle(keys.begin(), keys.end(), rng);
  unsigned char rec[kFixLen];
  for (uint32_t a : keys) {
    FixRecord(a, 0, rec);
    if (iswrite(fd, rec) != 0) return "insert " + std::to_string(iserrno);
  }
  for (int i = 0; i < 400; ++i) {
    uint32_t a = keys[static_cast<size_t>(i)];
    Put32(a, rec);
    if (isread(fd, rec, IS_EQUAL) != 0) return "read " + std::to_string(iserrno);
    FixRecord(a, 1, rec);
    if (isrewcurr(fd, rec) != 0) return "rewrite " + std::to_string(iserrno);
  }
  for (int i = 400; i < 1000; ++i) {
    Put32(keys[static_cast<size_t>(i)], rec);
    if (isread(fd, rec, IS_EQUAL) != 0 || isdelcurr(fd) != 0) return "delete " + std::to_string(iserrno);
  }
  for (int i = 1000; i < 1200; ++i) {
    Put32(keys[static_cast<size_t>(i)], rec);
    if (isread(fd, rec, IS_EQUAL) != 0) continue;
    if (isdelrec(fd, isrecnum) != 0) return "delrec " + std::to_string(iserrno);
  }
  // Every key from 3000 to 4500 in key order: whole leaves empty.
  Put32(3000, rec);
  if (isstart(fd, &k0, 0, rec, IS_GREATER_EQUAL) != 0) return "start " + std::to_string(iserrno);
  while (isread(fd, rec, IS_NEXT) == 0) {
    uint32_t a = (static_cast<uint32_t>(rec[0]) << 24) | (static_cast<uint32_t>(rec[1]) << 16) |
                 (static_cast<uint32_t>(rec[2]) << 8) | rec[3];
    if (a > 4500) break;
    if (isdelcurr(fd) != 0) return "range delete " + std::to_string(iserrno);
  }
  for (uint32_t i = 0; i < 500; ++i) {
    FixRecord(i * 3 + 1, 2, rec);
    if (iswrite(fd, rec) != 0) return "reinsert " + std::to_string(iserrno);
  }
  if (isclose(fd) != 0) return "close " + std::to_string(iserrno);
  return "";
}

// Variable-length pair: tails of many lengths, rewritten longer and
// shorter, some deleted, new ones taking the room.
std::string VariableSequence(const std::string& name, int lockmode) {
  iserase(name.c_str());
  IsamKeyDesc k0 = FixKey(0);
  isrecsize = 20;  // the minimum length; the maximum is the record length
  int fd = isbuild(name.c_str(), 3000, &k0, IS_INOUT | IS_VARLEN | IS_EXCLLOCK);
  if (fd < 0) return "build " + std::to_string(iserrno);
  if (isclose(fd) != 0 || (fd = isopen(name.c_str(), IS_INOUT | IS_VARLEN | lockmode)) < 0) {
    return "open " + std::to_string(iserrno);
  }
  std::mt19937 rng(4848);
  std::vector<unsigned char> rec(3000);
  auto fill = [&](uint32_t a, int len) {
    Put32(a, rec.data());
    for (int i = 4; i < len; ++i) rec[static_cast<size_t>(i)] = static_cast<unsigned char>(a + static_cast<uint32_t>(i) * 7u);
    isrecsize = len;
  };
  for (uint32_t a = 0; a < 300; ++a) {
    fill(a * 7 % 300, 20 + static_cast<int>(rng() % 2981));
    if (iswrite(fd, rec.data()) != 0) return "insert " + std::to_string(iserrno);
  }
  for (uint32_t a = 0; a < 300; a += 2) {
    Put32(a, rec.data());
    if (isread(fd, rec.data(), IS_EQUAL) != 0) return "read " + std::to_string(iserrno);
    fill(a, 20 + static_cast<int>(rng() % 2981));
    if (isrewcurr(fd, rec.data()) != 0) return "rewrite " + std::to_string(iserrno);
  }
  for (uint32_t a = 1; a < 300; a += 3) {
    Put32(a, rec.data());
    if (isread(fd, rec.data(), IS_EQUAL) != 0 || isdelcurr(fd) != 0) return "delete " + std::to_string(iserrno);
  }
  for (uint32_t a = 300; a < 350; ++a) {
    fill(a, 20 + static_cast<int>(rng() % 2981));
    if (iswrite(fd, rec.data()) != 0) return "reinsert " + std::to_string(iserrno);
  }
  if (isclose(fd) != 0) return "close " + std::to_string(iserrno);
  return "";
}

// A run and the digests of the four files its sequences leave: fixed
// ".idx" and ".dat", then variable ".idx" and ".dat".
struct ModeRun {
  const char* label;
  int lockmode;
  const char* bufs;
  const char* recorded[4];
};

TEST(LayoutTest, SequencesLeaveTheRecordedBytesInEveryMode) {
  tevtest::TempInstall dir;
  const ModeRun runs[] = {
      {"exclusive-4", IS_EXCLLOCK, "4",
       {"b606cb6deb7f374b:118784", "1c19288534cf034b:162816", "b8384707f3a0fd8d:526336",
        "7c645a63d1004d00:8192"}},
      {"exclusive-16", IS_EXCLLOCK, "16",
       {"da82739ed2ec3ef6:118784", "1c19288534cf034b:162816", "6a9d25722b46d739:526336",
        "7c645a63d1004d00:8192"}},
      {"shared-16", IS_MANULOCK, "16",
       {"e39a7d5838789ae3:118784", "1c19288534cf034b:162816", "b8384707f3a0fd8d:526336",
        "7c645a63d1004d00:8192"}},
      {"shared-1000", IS_MANULOCK, "1000",
       {"e39a7d5838789ae3:118784", "1c19288534cf034b:162816", "b8384707f3a0fd8d:526336",
        "7c645a63d1004d00:8192"}},
      {"automatic-5", IS_AUTOLOCK, "5",
       {"e39a7d5838789ae3:118784", "1c19288534cf034b:162816", "b8384707f3a0fd8d:526336",
        "7c645a63d1004d00:8192"}},
  };
  for (const ModeRun& run : runs) {
    SCOPED_TRACE(run.label);
    std::string fix = dir.Path(std::string("fix-") + run.label);
    std::string var = dir.Path(std::string("var-") + run.label);
    std::string failed;
    // Each run in a thread of its own: the pool takes its size from
    // ISAMBUFS when a thread first uses it.
    setenv("ISAMBUFS", run.bufs, 1);
    std::thread t([&] {
      failed = FixedSequence(fix, run.lockmode);
      if (!failed.empty()) failed = "fixed: " + failed;
      else if (!(failed = VariableSequence(var, run.lockmode)).empty()) failed = "variable: " + failed;
    });
    t.join();
    unsetenv("ISAMBUFS");
    ASSERT_EQ(failed, "");
    const std::string files[4] = {fix + ".idx", fix + ".dat", var + ".idx", var + ".dat"};
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(Digest(tevtest::ReadFile(files[i])), run.recorded[i]) << files[i];
    }
  }
}

}  // namespace
