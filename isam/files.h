// File pairs: naming, creating and opening the ".idx" and ".dat" files, the
// open-file records that isfd numbers stand for, the shared-file records of
// the pairs a thread has open, and the recovery when the process runs out of
// descriptors.
#pragma once

#include <cstdint>
#include <string>

#include "isam/block_map.h"
#include "isam/header.h"
#include "isam/isam.h"
#include "isam/position.h"

namespace isam {

// Record-number lock entry; the lock lists are kept by the lock code.
struct IsamLockEntry {
  IsamLockEntry* next = nullptr;
  int32_t recnum = 0;
};

enum : uint16_t {  // IsamOpenFile::flags
  OF_INUSE = 0x1,
  OF_FILELOCK = 0x20,
  OF_HDRLOCK = 0x40,
  OF_RECLOCKS = 0x100,
};

enum : uint16_t {  // IsamSharedFile::flags
  SF_BUFMODIFIED = 0x1,
  SF_HDRDIRTY = 0x2,
  SF_AUDITOPEN = 0x4,
  SF_LOCKS = 0x8,
  SF_ERASING = 0x10,
};

struct IsamSharedFile;

// One per isfd: the isfd is its slot in the per-thread open-file table.
struct IsamOpenFile {
  uint16_t flags = 0;
  uint16_t pid = 0;     // low 16 bits
  uint16_t uid = 0;     // the accounts layer's id (tv_getuid)
  uint16_t mode = 0;    // open mode's low byte plus the lock mode
  uint32_t changes = 0; // change count last seen
  IsamSharedFile* shared = nullptr;
  IsamKeyDesc keydesc = {};
  IsamPosition pos;
};

// One per file pair open in the thread, however many isfds use it.
struct IsamSharedFile {
  uint16_t flags = 0;
  int16_t refcount = -1;   // -1: a free record
  int16_t exclopens = 0;
  int16_t filelocks = 0;
  IsamLockEntry* translocks = nullptr;
  IsamLockEntry* readlocks = nullptr;
  int32_t dev = -1;        // file identity of the ".idx" file
  int32_t ino = -1;        // low 16 bits of the inode number, -1 when free
  uint32_t changes = 0;
  int datfd = -1;          // -1 while closed
  int idxfd = -1;
  int auditfd = -1;
  int16_t minlen = 0;
  int16_t maxlen = 0;
  int16_t nodesize = 0;    // the header's field: node size less one
  int16_t varlen = 0;
  unsigned char header[kHeaderSize] = {};
  std::string name;        // path without extension
  int datflags = 0;        // O_RDWR or O_RDONLY
  int64_t datslots = 0;    // slots the ".dat" file was last seen to reach
  // A read-only shared mapping of the first page of the ".idx" file, from
  // which the header is copied at the start of a call instead of read with
  // a system call (the page cache is shared with other processes' writes);
  // nullptr until mapped, and for good when hdrnomap says it cannot be.
  const unsigned char* hdrmap = nullptr;
  bool hdrnomap = false;
  // Mappings of both files from which the buffer pool fills its buffers.
  IsamFileMap idxmap;
  IsamFileMap datmap;
  uint16_t stamp = 0;      // use stamp
};

// 0, or -1 with iserrno 114 for a name too long or ending in '/'.
int is_checkname(const char* name);
std::string is_idxname(const std::string& name);
std::string is_datname(const std::string& name);

// Opens a file close-on-exec, then sets the shared open marker; -1 with
// errno on failure.
int is_osopen(const char* path, int flags, int perm);
// Creates an empty file that must not exist yet (0600); 0, or -1 with
// iserrno (17 when it exists).
int is_createfile(const char* path);

// A free isfd with a cleared, in-use open-file record; -1 with 104 or 116.
int is_allocfd();
void is_freefd(IsamOpenFile* of);
IsamOpenFile* is_openfile(int isfd);  // nullptr when not in use

// The shared record of the pair, opened or shared; nullptr with iserrno.
IsamSharedFile* is_openfiles(const std::string& name, int mode);
void is_releasefiles(IsamSharedFile* sf);
// Closes the thread's data-file descriptors to free descriptors.
void is_closeidle();

// Makes the pair the current file of the thread: reopens its ".dat" file
// when it was closed, gives it a fresh use stamp and works out the node-size
// figures. 0, or -1 with iserrno (and isstatus_b 35 for a missing file).
int is_usefile(IsamSharedFile* sf);

// Copies the record lengths and node size from the header into the shared
// record, checking them; 0, or -1 with 105.
int is_takefigures(IsamSharedFile* sf);

// Makes the work buffer at least n bytes; 0, or -1 with iserrno 12.
int is_recbuffer(int n);

// The rename guard: 1 when held (path and descriptor filled), 0 when not.
int is_renameguard(const char* name, std::string* guardpath, int* guardfd);
void is_renameunguard(std::string* guardpath, int* guardfd);
// The pause between guard tries, replaceable by tests.
extern void (*is_guardpause)();

}  // namespace isam
