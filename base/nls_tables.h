// The base services' 8-bit character tables: a class table of 258 entries
// (entry 0 stands for end of file, entry b+1 holds the classes of byte b,
// the last entry is 0), a lower-case map and an upper-case map. The built-in
// content is ASCII; the locale start-up may rebuild them before other
// threads run.
#pragma once

#include "platform/api.h"

TV_BEGIN_C

// Class bits.
#define NLS_UPPER 1
#define NLS_LOWER 2
#define NLS_DIGIT 4
#define NLS_SPACE 8
#define NLS_PUNCT 16
#define NLS_CNTRL 32
#define NLS_XDIGIT 64
#define NLS_BLANK 128

extern unsigned char rnls_classtab[258];
extern unsigned char rnls_lowermap[256];
extern unsigned char rnls_uppermap[256];

TV_END_C
