// The dictionary header: the first 117 bytes of the ".idx" file.
#pragma once

#include <cstdint>

namespace isam {

inline constexpr int kHeaderSize = 117;

// Byte offsets of the header fields (layout table in header.cc).
enum HeaderField : int {
  HDR_MAGIC = 0,
  HDR_FORMAT = 2,
  HDR_NODESIZE = 6,
  HDR_NINDEXES = 8,
  HDR_COMPRESSION = 10,
  HDR_DUPWIDTH = 11,
  HDR_RECLEN = 13,
  HDR_KEYDESCNODE = 15,
  HDR_COLLFLAG = 19,
  HDR_FREERECS = 25,
  HDR_FREENODES = 29,
  HDR_LASTREC = 33,
  HDR_LASTNODE = 37,
  HDR_CHANGES = 41,
  HDR_UNIQUEID = 45,
  HDR_AUDITNODE = 49,
  HDR_LOCKMETHOD = 53,
  HDR_MAXRECLEN = 59,
  HDR_CLASSHEADS = 61,
  HDR_COLLNAME = 81,
};
inline constexpr int kCollNameSize = 36;

// Fills a header as a new file gets it: minimum and maximum record length
// (maximum 0 for a fixed-length file) and the collation name (nullptr for
// none).
void is_fillheader(unsigned char* hdr, int minlen, int maxlen, const char* collname);

// Reads and checks the header of the current file; 0, or -1 with iserrno.
int is_readheader();
// Drops the header mapping of a pair before its ".idx" file is closed.
struct IsamSharedFile;
void is_unmapheader(IsamSharedFile* sf);
// Writes the header of the current file; 0, or -1 with iserrno.
int is_writeheader();
// Marks the current file's header to be written at the end of the call.
void is_headerdirty();

// The highest node number the node readers accept: the header's last node
// number, or the check utility's node count while it runs when that is
// higher.
uint32_t is_lastnode();

// Field access on the current file's header copy.
uint32_t is_hdrget32(int off);
void is_hdrput32(int off, uint32_t v);

}  // namespace isam
