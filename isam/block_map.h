// Read-only shared mappings of a pair's files, from which the buffer pool
// fills a buffer it lacks instead of reading it with a system call. The
// mapping sees the same page cache as every process's pwrite, so what it
// gives is what pread would give; the pool, its size and its reuse order
// stay as they are, only the copy into a buffer changes.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace isam {

struct IsamFileMap {
  const unsigned char* base = nullptr;
  size_t maplen = 0;     // bytes mapped (beyond the file's end as reserve)
  int64_t valid = 0;     // bytes known to lie inside the file
  bool nomap = false;    // the file cannot be mapped: always pread
};

// True unless a test turns mapped reads off, so that every read of a buffer
// goes through pread (tests that make pread fail).
extern bool is_mapreads;

// Copies len bytes at off of the file behind fd from its mapping. False
// when the bytes do not all lie inside the file as last seen, when the file
// cannot be mapped, or when the file turned out shorter than seen (another
// program cut it): the caller then reads with pread, which reports that.
bool is_mapread(IsamFileMap* m, int fd, off_t off, size_t len, unsigned char* out);
// The file reaches at least end bytes (written just now by this thread).
void is_mapgrown(IsamFileMap* m, int64_t end);
void is_unmapfile(IsamFileMap* m);

}  // namespace isam
