// The rows of the crash tests, shared by the writer program and the tests
// that check what it left: every row is a function of its key and version,
// so that a row read back can be told apart from any other.
//
//   bytes    content
//   0-3      key a (unique index 1)
//   4-7      b = (7a + version) mod 13 (index 2, with duplicates, with
//   12-17    a tag of b's letters padded with blanks: lead, trail and
//            duplicate compression)
//   8-11     version
//   18...    payload letters
#pragma once

#include <cstdint>
#include <string>

#include "isam/bigendian.h"
#include "isam/isam.h"

namespace isamtest {

inline constexpr int kFixedRow = 40;
inline constexpr int kMinRow = 18;
inline constexpr int kMaxRow = 2048;

inline IsamKeyDesc UniqueKey() {
  IsamKeyDesc kd = {};
  kd.nparts = 1;
  kd.parts[0] = {0, 4, 2};
  return kd;
}

inline IsamKeyDesc DupKey() {
  IsamKeyDesc kd = {};
  kd.flags = IS_DUPS | IS_DUPCOMP | IS_LEADCOMP | IS_TRAILCOMP;
  kd.nparts = 2;
  kd.parts[0] = {4, 4, 2};
  kd.parts[1] = {12, 6, 0};
  return kd;
}

inline uint32_t RowHash(int32_t a, int32_t v) {
  uint32_t h = static_cast<uint32_t>(a) * 2654435761u ^ static_cast<uint32_t>(v) * 40503u;
  return h ^ (h >> 13);
}

inline std::string Row(int32_t a, int32_t v, bool var) {
  size_t len = var ? kMinRow + RowHash(a, v) % (kMaxRow - kMinRow + 1) : kFixedRow;
  std::string r(len, '\0');
  auto* p = reinterpret_cast<unsigned char*>(&r[0]);
  int32_t b = (a * 7 + v) % 13;
  isam::st32(static_cast<uint32_t>(a), p);
  isam::st32(static_cast<uint32_t>(b), p + 4);
  isam::st32(static_cast<uint32_t>(v), p + 8);
  std::string tag(static_cast<size_t>(b % 5 + 1), static_cast<char>('p' + b % 3));
  tag.resize(6, ' ');
  r.replace(12, 6, tag);
  for (size_t i = 18; i < len; ++i) r[i] = static_cast<char>('a' + (a * 31 + v * 7 + i) % 26);
  return r;
}

}  // namespace isamtest
