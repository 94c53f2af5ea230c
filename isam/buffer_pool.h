// The per-thread pool of 1024-byte buffers through which every ".idx" node
// and every ".dat" block is read and written.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace isam {

struct IsamSharedFile;

inline constexpr int kBlockSize = 1024;
inline constexpr uint32_t kDataBlock = 0x80000000u;  // pool number of data block k: k | this

enum : uint16_t {
  BUF_MODIFIED = 0x1,
  BUF_VALID = 0x2,
  BUF_BUSY = 0x4,
  BUF_LISTED = 0x8,  // on the pool's list of modified buffers
};

struct IsamBuffer {
  uint16_t flags = 0;
  IsamBuffer* hnext = nullptr;  // hash chain
  IsamBuffer* hprev = nullptr;
  IsamBuffer* lnext = nullptr;  // reuse list
  IsamBuffer* lprev = nullptr;
  IsamSharedFile* owner = nullptr;
  uint32_t block = 0;           // node number, or data block | kDataBlock
  unsigned char* data = nullptr;
  // Of a node while the buffer is handed out; written back into the image
  // when a modified buffer is released. Change them through the node
  // helpers below so that they always match the image.
  uint16_t used = 0;
  unsigned char type = 0;
  unsigned char level = 0;
};

struct IsamBufferPool {
  bool ready = false;
  int nbuffers = 0;
  int nbuckets = 0;
  std::unique_ptr<IsamBuffer*[]> buckets;
  std::unique_ptr<IsamBuffer[]> buffers;
  std::unique_ptr<unsigned char[]> area;
  IsamBuffer lru;  // list head: lru.lnext is the least recently used
  // Buffers released modified, so that writing a file's changes looks at
  // them only, not at the whole pool. Entries of buffers written or reused
  // since are dropped when the list is compacted.
  std::vector<IsamBuffer*> modified;
};

// The number of buffers that an ISAMBUFS value gives (16 unless 4..32766).
int is_poolsize(const char* value);

void is_initbuffers();
IsamBuffer* is_getbuffer(uint32_t block);
IsamBuffer* is_readbuffer(uint32_t block);
IsamBuffer* is_newbuffer(uint32_t block);
void is_release(IsamBuffer* b);
// Reads the data blocks first..last of the current file that the pool does
// not hold yet with one system call, so that a record spanning several
// blocks costs one read instead of one per block. Only a help: it does
// nothing when the pool is small, a block is handed out or the read fails
// (the block readers then read and report as usual).
void is_prefetchdata(uint64_t first, uint64_t last);
// Writes the modified data blocks first..last of the current file (at most
// eight), with one system call when they follow each other; the blocks are
// no longer modified afterwards, as after is_writebuffer. 0, or -1 with
// iserrno (isiocode 81).
int is_writedata(uint64_t first, uint64_t last);
void is_releasedirty(IsamBuffer* b);
int is_writebuffer(IsamBuffer* b);
int is_flushbuffers(IsamSharedFile* sf);
// Forgets every buffer of the pair. Modified buffers (their writes failed
// earlier) are forgotten too: 0, or -1 with EIO (isiocode 81) when one was.
int is_dropbuffers(IsamSharedFile* sf);
[[noreturn]] void is_fatal(const char* message);

// Node image fields kept in step with the buffer's kept copies.
void is_nodesetused(IsamBuffer* b, uint16_t used);
void is_nodesettype(IsamBuffer* b, unsigned char type);
void is_nodesetlevel(IsamBuffer* b, unsigned char level);

}  // namespace isam
