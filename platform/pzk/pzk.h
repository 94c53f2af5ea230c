// The security toolkit: TLS over the system's libssl, reached by the
// connectivity layer through these 17 functions, which it looks up by name
// in the loaded library. Every function returns 0 for success or a
// toolkit code whose text pzk_strerror gives.
//
// Handles: an environment (settings, key store, callbacks; its init makes
// the TLS context) and secure sockets opened on it.
//
// Attributes: 200 (buffer) the user pointer handed back to the callbacks,
// 201 (buffer) the PEM key store: a certificate and its key, and/or the CA
// certificates that peers are checked against; 204 (buffer) a file whose
// first line is the key's pass phrase; 220 (buffer, read only) the
// toolkit's version text; 300 (number) the socket descriptor; 402 (enum)
// 507 client, 508 server; 800 (callback) six entries: read, write, and
// four the toolkit keeps without calling. Other enum values are kept.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

#define PZK_EXPORT __attribute__((visibility("default")))

// The I/O callbacks: the descriptor, the buffer, its length and the user
// pointer; the count moved, or -1 (errno EAGAIN when it would block).
typedef int (*PzkIoCallback)(int fd, void* buf, int length, void* user);

enum {
  PZK_OK = 0,
  PZK_BAD_HANDLE = 401,
  PZK_BAD_ATTRIBUTE = 402,
  PZK_NO_MEMORY = 403,
  PZK_KEYSTORE = 404,
  PZK_HANDSHAKE = 405,
  PZK_IO = 406,
  PZK_CLOSED = 407,
  PZK_UNSUPPORTED = 408,
  PZK_WOULD_BLOCK = 409,
  PZK_NOT_READY = 410,
};

PZK_EXPORT int pzk_environment_open(void** env);
PZK_EXPORT int pzk_environment_init(void* env);
PZK_EXPORT int pzk_environment_close(void** env);
PZK_EXPORT int pzk_secure_soc_open(void* env, void** soc);
PZK_EXPORT int pzk_secure_soc_init(void* soc);
PZK_EXPORT int pzk_secure_soc_close(void** soc);
PZK_EXPORT int pzk_secure_soc_read(void* soc, void* buf, int length, int* count);
PZK_EXPORT int pzk_secure_soc_write(void* soc, const void* buf, int length, int* count);
PZK_EXPORT int pzk_attribute_set_enum(void* handle, int attribute, int value);
PZK_EXPORT int pzk_attribute_get_enum(void* handle, int attribute, int* value);
PZK_EXPORT int pzk_attribute_set_numeric_value(void* handle, int attribute, int value);
PZK_EXPORT int pzk_attribute_get_numeric_value(void* handle, int attribute, int* value);
PZK_EXPORT int pzk_attribute_set_buffer(void* handle, int attribute, const char* buf, int length);
PZK_EXPORT int pzk_attribute_get_buffer(void* handle, int attribute, char** buf, int* length);
PZK_EXPORT int pzk_attribute_set_callback(void* handle, int attribute, void* record);
PZK_EXPORT int pzk_get_cert_by_label(void* env, const char* label, void** cert);
PZK_EXPORT const char* pzk_strerror(int code);

#ifdef __cplusplus
}
#endif
