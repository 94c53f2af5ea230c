// A library that loads but exports no zarReportVersion.
extern "C" __attribute__((visibility("default"))) int zarSomethingElse() { return 0; }
