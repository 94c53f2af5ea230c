// The cloud clients of CLOUD devices: one PUT, GET or DELETE of one part on
// an S3 bucket (provider 1) or a Swift container (any other provider), over
// HTTPS through libcurl. A PUT or GET runs as the main function of a filter
// thread and moves the part's bytes through the filter's pipes; a DELETE
// runs on the caller's thread with filter id -1.
#pragma once

#include <cstddef>
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
// filter id -1. 0, or -1: every failure to store, fetch or remove the part
// answers -1, except a download that the parent stopped reading.
int cloudS3ClientStart(int32_t filter_id, CloudClientArgs* args);
int cloudSwiftClientStart(int32_t filter_id, CloudClientArgs* args);

// The address of an object for reports: a 1024-byte text the caller frees,
// or null when there is no memory.
char* cloudTargetUrl(const CloudClientArgs* args);

// The S3 request signature: base64 of the HMAC-SHA1, keyed with the secret,
// of "VERB\n\napplication/x-binary\nDATE\n/BUCKET[/]TARGET". 28 characters
// and a NUL into out (at least 29 bytes); false when OpenSSL fails.
bool cloudS3Signature(const char* verb, const char* date, const char* bucket, const char* target,
                      const char* secret, char* out, size_t out_size);
