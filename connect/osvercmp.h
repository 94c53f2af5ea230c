// Numeric comparison of dotted version texts ("8.0.50.75").
#pragma once

#include "platform/api.h"

TV_BEGIN_C

// -1, 0 or 1 as the first text is lower than, equal to or greater than the
// second; numbers compare as numbers, other fields as text. A missing text
// compares lower.
int osvercmp(const char* first, const char* second);

TV_END_C
