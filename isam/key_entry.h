// Key entries of index nodes: building a key from a record, comparing two
// keys under a key description, and the encoding of an entry in a node
// with duplicate, leading and trailing compression.
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

enum { KC_NORMAL = 0, KC_FIRST = 1, KC_FORCEDUP = 2 };

inline constexpr int kCompressionFlags = IS_DUPCOMP | IS_LEADCOMP | IS_TRAILCOMP;

// Width of duplicate numbers in the current file (header byte 11): 2 or 4.
int is_dupwidth();

// Compares the keys of a and b over n key bytes (0 or less: the whole key):
// -1, 0 or 1.
int is_keycompare(const IsamKeyEntry& a, const IsamKeyEntry& b, const IsamKeyDesc& kd, int n);
// The same over two key images (each the key's parts end to end, as many
// bytes as the parts cover): an uncompressed entry in a node can be
// compared where it lies.
int is_keycmpbytes(const unsigned char* a, const unsigned char* b, const IsamKeyDesc& kd, int n);

// Lays the key parts of the record end to end into e; the other fields of
// e become 0.
void is_buildkey(const unsigned char* record, IsamKeyEntry* e, const IsamKeyDesc& kd);

// Works out e's flags, counts and encoded length after the entry p (mode
// KC_NORMAL), as the first entry of a node (KC_FIRST), or as a duplicate
// of p whatever its key (KC_FORCEDUP, with IS_DUPCOMP only).
void is_compress(IsamKeyEntry* p, IsamKeyEntry* e, const IsamKeyDesc& kd, int mode);

// Encodes e (compressed already) at off of the entry area and sets or
// clears the next-repeats bit of the entry before it; the offset after e.
int is_putentry(const IsamKeyEntry& e, unsigned char* area, int off, const IsamKeyDesc& kd);

// Decodes the entry at off of an entry area of end bytes into e; key bytes
// the entry does not hold are those e held before (the entry before it).
// The offset of the next entry, or -1 when the entry is damaged (it would
// end past end, or its counts do not fit the key).
int is_getentry(const unsigned char* area, int off, int end, IsamKeyEntry* e,
                const IsamKeyDesc& kd);

// The offset of the last entry that starts before limit, decoded into e;
// -1 when there is none or an entry is damaged. end is the area's length.
int is_lastentry(const unsigned char* area, int limit, int end, IsamKeyEntry* e,
                 const IsamKeyDesc& kd);

// Decodes the entry at off, reading the entries before it when the index
// compresses; the offset after it, or -1.
int is_entryat(const unsigned char* area, int off, int end, IsamKeyEntry* e,
               const IsamKeyDesc& kd);

}  // namespace isam
