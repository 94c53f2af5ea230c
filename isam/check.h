// The check-and-repair utility of ISAM file pairs: it examines the header,
// the records, the indexes and the free lists of one pair, reports what it
// finds on standard output, and repairs what the operator agrees to (the
// answers come from standard input).
#pragma once

#include "platform/api.h"

TV_BEGIN_C

// Process-wide settings, kept between checks. With isck_listing set every
// B-tree node is printed with its entries; with isck_answeryes non-zero
// every repair question is answered yes without reading the console.
TV_API extern int isck_listing;
TV_API extern int isck_answeryes;

// Checks the pair named by path (".idx" or ".dat" may end it). 0 when the
// check ran to its end, whatever it found; -1 when the pair could not be
// opened, locked or read, its dictionary or a key description is unusable,
// its collation does not match, or memory ran out.
TV_API int ischeck(const char* path);

TV_END_C
