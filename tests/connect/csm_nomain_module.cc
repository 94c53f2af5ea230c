// A library that is not a communication support module: no csm_init.
extern "C" __attribute__((visibility("default"))) int csm_other(void) { return 0; }
