// Start-up of the SQL wire trace. trace_seam.cc is the stand-in that traces
// nothing; the wire trace replaces it with the real start-up.
#pragma once

#include "platform/api.h"

TV_BEGIN_C

// Reads the trace setting once and opens the trace file.
void sqdbg_init(void);

TV_END_C
