// The per-thread setting that Decimal reads from the environment.
#pragma once

// True when ZEL_USE_PREC_16 is exactly "1": doubles then convert with 16
// significant digits and floats with 8. Read once per thread, on first use.
bool decimal_use_prec16();
