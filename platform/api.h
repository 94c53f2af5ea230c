// Marks a function that the client libraries export by name with C linkage
// from libtarvelon.so. Everything else stays hidden (-fvisibility=hidden).
#pragma once

#define TV_API __attribute__((visibility("default")))

#ifdef __cplusplus
#define TV_EXTERN_C extern "C"
#define TV_BEGIN_C extern "C" {
#define TV_END_C }
#else
#define TV_EXTERN_C
#define TV_BEGIN_C
#define TV_END_C
#endif
