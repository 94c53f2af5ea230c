// The position an isfd keeps in its current index between calls.
#pragma once

#include <cstdint>

#include "isam/key_entry.h"

namespace isam {

enum : uint16_t {
  POS_START_PENDING = 0x2,
  POS_POSITIONED = 0x4,
  POS_READ = 0x8,
  POS_DUPLICATE = 0x10,
  POS_CURRENT_DELETED = 0x20,
};

enum { IS_MAXLEVELS = 10 };

struct IsamPathLevel {
  uint32_t node = 0;
  uint16_t offset = 0;   // current entry, from byte 2 of the node
  uint16_t next = 0;     // just after the current entry
  uint16_t used = 0;     // bytes of entries in the node
};

struct IsamPosition {
  uint16_t flags = 0;
  IsamKeyEntry saved;                 // its pointer is the current record number
  IsamPathLevel path[IS_MAXLEVELS];   // level 0 is the root
  int16_t depth = -1;                 // -1: the path must be found again
  int16_t leafdepth = 0;
  uint16_t endflags = 0;              // 1 before first, 2 after last, 3 empty
};

}  // namespace isam
