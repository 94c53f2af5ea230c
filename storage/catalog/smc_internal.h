// Helpers shared by the catalog's modules; not part of any interface.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>

#include "isam/isam.h"
#include "storage/command/sm_trace.h"

struct zarHandle;

namespace smc {

struct KeyPart {
  int16_t start;
  int16_t len;
  int16_t type;
};

// A key description of the given parts (none: record-number order).
IsamKeyDesc Key(std::initializer_list<KeyPart> parts, int16_t flags = 0);

// Builds table id exclusively with its primary key, adds the further
// indexes and stores the file number in the handle. 0; -1 when the build
// fails (message 88103); index_fail_result when an index cannot be added
// (message 88106).
int BuildTable(zarHandle* handle, int32_t id, IsamKeyDesc primary,
               std::initializer_list<IsamKeyDesc> indexes, int index_fail_result);

// The configured lock time-out (tries), at least 1.
int LockTimeout();
// The configured debug level (0 when none is loaded).
int DebugLevel();
// One second between two tries.
void SleepOneSecond();
// Takes the whole-file lock of an open table while another process holds
// it, polling every 10 milliseconds; count (seconds waited so far, shared
// by a caller's several waits) grows by one per second of waiting, and the
// wait ends when it reaches timeout. 0 taken; 1 timed out; -1 another
// failure (iserrno says which).
int TakeFileLock(int isfd, int timeout, int* count);

// The key description of index 1 or 2 of a table the handle has open, as
// isindexinfo gives it. The handle keeps it from the first call until the
// table is closed: an index is only added or dropped with the file opened
// exclusively, which no other process can do while the handle holds it
// open. 0, or -1 (iserrno from isindexinfo).
int TableKey(zarHandle* handle, int32_t id, int number, IsamKeyDesc* key);

// Drops what the handle keeps of table id (key descriptions, the commit
// file of the object table); called wherever tableFd[id] changes.
void ForgetTable(zarHandle* handle, int32_t id);

// The table id's path, or "" for a bad id.
const char* TablePath(int32_t id);

// Record order: positions before the first row (isstart with no key
// parts). The ISAM result.
int StartRecordOrder(int isfd);

// Traces entry and return of an operation under its name at level 136.
template <typename Body>
int Traced(const char* name, Body body) {
  SM_TRACE(136, "%s: enter", name);
  const int rc = body();
  SM_TRACE(136, "%s: return %d (0x%02x)", name, rc, rc);
  return rc;
}

// A table opened by its path apart from any handle (manual locking),
// closed on every way out; fd is negative when the open failed.
struct OwnFile {
  explicit OwnFile(int32_t id) : fd(isopen(TablePath(id), IS_INOUT | IS_MANULOCK)) {}
  ~OwnFile() {
    if (fd >= 0) isclose(fd);
  }
  OwnFile(const OwnFile&) = delete;
  OwnFile& operator=(const OwnFile&) = delete;
  int fd;
};

// Texts and results of one table dump.
struct DumpTexts {
  const char* open_failure;   // "%s" path, "%d" iserrno; null: say nothing
  const char* empty;          // written when nothing went to standard output
  const char* read_failure;   // "%d" iserrno
  int failure_result;
};

// Writes the row's columns as text in descriptor order, each followed by
// the delimiter, then a line feed. Character columns lose their trailing
// blanks; integers are signed decimal, except the 4-byte columns whose
// bit (1 << column index) is set in unsigned_mask, which are unsigned.
// Returns the index of the first character column whose text holds the
// delimiter or a line feed (such a line does not load back as the same
// row), or -1.
int WriteUnloadLine(FILE* stream, int32_t id, const unsigned char* row, char delimiter,
                    uint32_t unsigned_mask = 0);

// The first row that a table dump of this thread wrote with a column that
// WriteUnloadLine reported: table id (0 when none), column index and row
// number from 1. Reading it clears it.
struct UnloadHazard {
  int32_t table;
  int32_t column;
  int64_t row;
};
UnloadHazard TakeUnloadHazard();

// Opens the table by its path apart from any handle (manual locking), reads
// it in record order and writes one unload line per row. 0, or the texts'
// failure result.
int DumpTable(int32_t id, FILE* stream, char delimiter, const DumpTexts& texts,
              uint32_t unsigned_mask = 0);

}  // namespace smc
