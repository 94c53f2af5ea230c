// Records of the current file: the ".dat" slots, the free lists of record
// and node numbers, and the tail chains of variable-length records.
#pragma once

#include <cstdint>

namespace isam {

struct IsamBuffer;

enum FreeKind { FREE_NODE = 0, FREE_RECORD = 1 };

// A free number from its list, or the last number plus one; -1 on error.
int64_t freetake(int kind);
// Gives a number back to its list (or lowers the last number); 0 or -1.
int freeput(int64_t number, int kind);
// How many numbers a free list holds; -1 with iserrno when it is damaged.
int64_t freecount(int kind);

enum DataMode { DX_TEST = 3, DX_READ = 4, DX_WRITE = 6, DX_CLEAR = 8, DX_TRAILER = 10, DX_DROP = 12 };

int dataxfer(int mode, int64_t recnum, unsigned char* buf, int len);
int datatest(int64_t recnum);
int dataread(int64_t recnum, unsigned char* buf);
int datawrite(int64_t recnum, const unsigned char* buf, int len);
int datafree(int64_t recnum);
int datatrailer(int64_t recnum, unsigned char* buf);
// The number of record slots whose flag byte lies inside the ".dat" file
// (the slots past them hold no record), looked up again only when n lies
// beyond the number last seen; a number no record reaches when the file
// cannot be asked.
int64_t dataslots(int64_t n);

// Clears a slot as a delete does, without following its tail (for slots
// whose tail is damaged); 0 or -1.
int datadrop(int64_t recnum);

// Tail chains; a tail pointer is slot << 24 | node.
int64_t tailstore(const unsigned char* bytes, int len);
int tailread(uint32_t ptr, unsigned char* buf, int len);
int64_t tailrewrite(uint32_t ptr, const unsigned char* bytes, int len);
int tailfree(uint32_t ptr);
// The tail page at a node, checked; nullptr with 105 when it is none.
IsamBuffer* tailpage(uint32_t node);
// The page's continuation pointer, 0 when none, -1 when damaged.
int64_t tailnext(IsamBuffer* page);
// Sets the class byte to 255 and refiles the page (which releases it).
int pagereset(IsamBuffer* page);

}  // namespace isam
