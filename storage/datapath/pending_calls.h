// Services of later parts of the data path that the device, volume,
// object and mount operations call: the two cloud clients. Each is
// declared with the signature its owner gives it; pending_calls.cc holds the least these callers need until the
// owner's module replaces it (then the declaration moves to the owner's
// header and this one goes).
#pragma once

#include <cstdint>

// The request of one cloud client run, filled by the caller.
struct CloudClientArgs {
  int32_t mode;           // 1 PUT, 2 GET, 3 DELETE
  int32_t provider;       // 1 S3, 2 Swift
  char url[257];
  char user[129];
  char password[129];
  char container[257];
  char targetName[260];   // object name; the client turns every "\" into "/"
  int32_t partSize;       // S3 PUT: the largest part in bytes
};

enum : int32_t { CLOUD_MODE_PUT = 1, CLOUD_MODE_GET = 2, CLOUD_MODE_DELETE = 3 };

// One operation of the S3 client (provider 1) and of the Swift client (any
// other provider), on the filter's pipe, or on the caller's thread for
// filter id -1. 0, or -1.
int cloudS3ClientStart(int32_t filter_id, CloudClientArgs* args);
int cloudSwiftClientStart(int32_t filter_id, CloudClientArgs* args);
