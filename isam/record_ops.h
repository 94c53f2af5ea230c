// One record across all indexes of its file and the data file: insert,
// update and delete, the new record number, and the fetch of the record a
// change replaces. All work on the current file of the call in progress.
#pragma once

#include <cstdint>

namespace isam {

// Length of the record to be written: the record length of a fixed-length
// file, isrecsize for a variable-length one; -1 with 102 (isstatus_b 44)
// when it lies outside the file's limits.
int is_reclength();

// A new record number: the first free candidate from the free-record list
// or past the last number, passing over numbers whose record is present
// and setting aside numbers another process holds locked. -1 after four
// set-aside candidates (107) or an error.
int64_t is_newrecnum();

// Inserts the record under a new number (isrecnum); 0, or -1 with every
// index and the free-record list as before.
int is_insert(const unsigned char* record, int len);

// Replaces record recnum, whose image is old, by new; 0, or -1 with every
// index and the data as before.
int is_update(int32_t recnum, const unsigned char* old, int oldlen, const unsigned char* now,
              int nowlen);

// Deletes record recnum, whose image is given; 0, or -1 with every index
// as before.
int is_delete(int32_t recnum, const unsigned char* image, int len);

// Reads the record to be changed into the work buffer (is_state().fetchedlen
// its length): recnum 0 for the current record, else that number. isrecnum
// becomes its number. 0, or -1 with 112 (no current record), 111 (no such
// record) or 107 (another process holds it locked).
int is_fetchcurrent(int32_t recnum);

// Reports an access failure of a record call's frame as 90 and the given
// second code.
void is_accessstatus(const char* code);

}  // namespace isam
