// A key entry of an index node as decoded in memory.
#pragma once

#include <cstdint>

#include "isam/isam.h"

namespace isam {

enum : uint16_t {
  KE_REPEATS_PREVIOUS = 0x1,  // this entry repeats the key before it
  KE_NEXT_REPEATS = 0x2,      // the next entry repeats this key
};

struct IsamKeyEntry {
  uint16_t flags = 0;
  uint16_t entrylen = 0;  // length of the entry in its node
  uint16_t stored = 0;    // key bytes stored in the node
  int32_t dupno = 0;
  int32_t pointer = 0;    // record number in a leaf, child node above
  uint16_t lead = 0;
  uint16_t trail = 0;
  unsigned char key[IS_MAXKEYLEN] = {};
};

}  // namespace isam
