// Index nodes as the B-tree code reads and rewrites them. Private to the
// B-tree files.
#pragma once

#include <vector>

#include "isam/buffer_pool.h"
#include "isam/key_entry.h"

namespace isam {

// Bytes of entries a node may hold (1019 for 1024-byte nodes).
int bt_arealimit();

// Reads an index node and checks its type, used count and, when level is
// not -1, its level; nullptr with iserrno (105 for a damaged node).
IsamBuffer* bt_readnode(uint32_t node, int level);

struct NodeEntries {
  std::vector<IsamKeyEntry> list;  // full keys
  std::vector<int> offsets;
};

// Decodes every entry of the area; 0, or -1 with 105.
int bt_decode(const unsigned char* area, int used, const IsamKeyDesc& kd, NodeEntries* out);

// Lays list[from, to) out as one node's entries into area (nullptr only
// measures); the last one is stored as a forced duplicate when forcelast
// is set. The bytes taken.
int bt_layout(const std::vector<IsamKeyEntry>& list, int from, int to, unsigned char* area,
              const IsamKeyDesc& kd, bool forcelast);

// Rewrites the node held in b with the laid out image (area bytes) and
// releases it modified.
void bt_store(IsamBuffer* b, const unsigned char* image, int bytes, int level);

}  // namespace isam
