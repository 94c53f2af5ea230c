// The security toolkit over libssl (TLS 1.2 or later). A secure socket is
// an SSL object over a BIO of our own whose reads and writes go through
// the caller's I/O callbacks, so that the caller keeps the socket I/O and
// its error recording.
#include "platform/pzk/pzk.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>

#ifndef PZK_VERSION_TEXT
#define PZK_VERSION_TEXT "8.0.50.80"
#endif

namespace {

constexpr unsigned kEnvMagic = 0x505a4b45;  // "PZKE"
constexpr unsigned kSocMagic = 0x505a4b53;  // "PZKS"
constexpr int kHandshakeSeconds = 30;

struct Handle {
  unsigned magic;
  std::map<int, int> enums;
};

struct Env : Handle {
  std::string key_store;
  std::string stash;
  PzkIoCallback callbacks[2] = {nullptr, nullptr};
  void* kept[4] = {};
  SSL_CTX* ctx = nullptr;
  bool has_key = false;
};

struct Soc : Handle {
  Env* env = nullptr;
  int fd = -1;
  void* user = nullptr;
  SSL* ssl = nullptr;
  BIO_METHOD* method = nullptr;
};

thread_local char t_detail[512];

// The first queued libssl error as text (empty when none), and the queue
// cleared.
void KeepDetail() {
  unsigned long e = ERR_peek_last_error();
  t_detail[0] = '\0';
  if (e != 0) ERR_error_string_n(e, t_detail, sizeof t_detail);
  ERR_clear_error();
}

Env* AsEnv(void* h) {
  auto* p = static_cast<Handle*>(h);
  return p != nullptr && p->magic == kEnvMagic ? static_cast<Env*>(p) : nullptr;
}
Soc* AsSoc(void* h) {
  auto* p = static_cast<Handle*>(h);
  return p != nullptr && p->magic == kSocMagic ? static_cast<Soc*>(p) : nullptr;
}
Handle* AsHandle(void* h) {
  auto* p = static_cast<Handle*>(h);
  return p != nullptr && (p->magic == kEnvMagic || p->magic == kSocMagic) ? p : nullptr;
}

int PassPhrase(char* buf, int size, int, void* userdata) {
  auto* env = static_cast<Env*>(userdata);
  if (env->stash.empty()) return 0;
  FILE* f = std::fopen(env->stash.c_str(), "r");
  if (f == nullptr) return 0;
  char line[1024];
  int n = 0;
  if (std::fgets(line, sizeof line, f) != nullptr) {
    n = static_cast<int>(std::strcspn(line, "\r\n"));
    if (n > size) n = size;
    std::memcpy(buf, line, static_cast<size_t>(n));
  }
  std::fclose(f);
  return n;
}

// The BIO that reads and writes through the callbacks.
int BioWrite(BIO* b, const char* data, int length) {
  auto* s = static_cast<Soc*>(BIO_get_data(b));
  BIO_clear_retry_flags(b);
  errno = 0;
  int n = s->env->callbacks[1](s->fd, const_cast<char*>(data), length, s->user);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) BIO_set_retry_write(b);
  return n;
}

int BioRead(BIO* b, char* data, int length) {
  auto* s = static_cast<Soc*>(BIO_get_data(b));
  BIO_clear_retry_flags(b);
  errno = 0;
  int n = s->env->callbacks[0](s->fd, data, length, s->user);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) BIO_set_retry_read(b);
  return n;
}

long BioCtrl(BIO*, int cmd, long, void*) { return cmd == BIO_CTRL_FLUSH ? 1 : 0; }

int BioCreate(BIO* b) {
  BIO_set_init(b, 1);
  return 1;
}

// Waits for the socket during a handshake on a non-blocking descriptor.
bool WaitSocket(int fd, bool for_read) {
  struct pollfd p = {fd, static_cast<short>(for_read ? POLLIN : POLLOUT), 0};
  int rc;
  do {
    rc = poll(&p, 1, kHandshakeSeconds * 1000);
  } while (rc < 0 && errno == EINTR);
  return rc > 0;
}

}  // namespace

extern "C" {

int pzk_environment_open(void** env) {
  if (env == nullptr) return PZK_BAD_HANDLE;
  auto* e = new (std::nothrow) Env();
  if (e == nullptr) return PZK_NO_MEMORY;
  e->magic = kEnvMagic;
  *env = e;
  return PZK_OK;
}

int pzk_environment_init(void* handle) {
  Env* e = AsEnv(handle);
  if (e == nullptr) return PZK_BAD_HANDLE;
  if (e->callbacks[0] == nullptr || e->callbacks[1] == nullptr) return PZK_NOT_READY;
  SSL_CTX* ctx = SSL_CTX_new(TLS_method());
  if (ctx == nullptr) {
    KeepDetail();
    return PZK_NO_MEMORY;
  }
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  SSL_CTX_set_mode(ctx, SSL_MODE_AUTO_RETRY);
  if (e->key_store.empty()) {
    SSL_CTX_free(ctx);
    std::snprintf(t_detail, sizeof t_detail, "no key store");
    return PZK_KEYSTORE;
  }
  // The key store holds a certificate with its key, or only the CA
  // certificates a peer is checked against, or both.
  SSL_CTX_set_default_passwd_cb(ctx, PassPhrase);
  SSL_CTX_set_default_passwd_cb_userdata(ctx, e);
  if (SSL_CTX_use_PrivateKey_file(ctx, e->key_store.c_str(), SSL_FILETYPE_PEM) == 1) {
    if (SSL_CTX_use_certificate_chain_file(ctx, e->key_store.c_str()) != 1 ||
        SSL_CTX_check_private_key(ctx) != 1) {
      KeepDetail();
      SSL_CTX_free(ctx);
      return PZK_KEYSTORE;
    }
    e->has_key = true;
  }
  ERR_clear_error();
  if (SSL_CTX_load_verify_locations(ctx, e->key_store.c_str(), nullptr) != 1 && !e->has_key) {
    KeepDetail();
    SSL_CTX_free(ctx);
    return PZK_KEYSTORE;
  }
  ERR_clear_error();
  if (e->ctx != nullptr) SSL_CTX_free(e->ctx);
  e->ctx = ctx;
  return PZK_OK;
}

int pzk_environment_close(void** handle) {
  if (handle == nullptr) return PZK_BAD_HANDLE;
  Env* e = AsEnv(*handle);
  if (e == nullptr) return PZK_BAD_HANDLE;
  if (e->ctx != nullptr) SSL_CTX_free(e->ctx);
  e->magic = 0;
  delete e;
  *handle = nullptr;
  return PZK_OK;
}

int pzk_secure_soc_open(void* env, void** soc) {
  Env* e = AsEnv(env);
  if (e == nullptr || soc == nullptr) return PZK_BAD_HANDLE;
  if (e->ctx == nullptr) return PZK_NOT_READY;
  auto* s = new (std::nothrow) Soc();
  if (s == nullptr) return PZK_NO_MEMORY;
  s->magic = kSocMagic;
  s->env = e;
  *soc = s;
  return PZK_OK;
}

int pzk_secure_soc_init(void* handle) {
  Soc* s = AsSoc(handle);
  if (s == nullptr) return PZK_BAD_HANDLE;
  auto role = s->enums.find(402);
  if (role == s->enums.end() || s->fd < 0) return PZK_NOT_READY;
  bool server = role->second == 508;
  if (server && !s->env->has_key) {
    std::snprintf(t_detail, sizeof t_detail, "the key store holds no key for a server");
    return PZK_KEYSTORE;
  }
  s->method = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "pzk callbacks");
  if (s->method == nullptr) return PZK_NO_MEMORY;
  BIO_meth_set_write(s->method, BioWrite);
  BIO_meth_set_read(s->method, BioRead);
  BIO_meth_set_ctrl(s->method, BioCtrl);
  BIO_meth_set_create(s->method, BioCreate);
  s->ssl = SSL_new(s->env->ctx);
  BIO* bio = BIO_new(s->method);
  if (s->ssl == nullptr || bio == nullptr) {
    BIO_free(bio);
    KeepDetail();
    return PZK_NO_MEMORY;
  }
  BIO_set_data(bio, s);
  SSL_set_bio(s->ssl, bio, bio);
  if (!server) SSL_set_verify(s->ssl, SSL_VERIFY_PEER, nullptr);
  for (;;) {
    int rc = server ? SSL_accept(s->ssl) : SSL_connect(s->ssl);
    if (rc == 1) return PZK_OK;
    int why = SSL_get_error(s->ssl, rc);
    if ((why == SSL_ERROR_WANT_READ || why == SSL_ERROR_WANT_WRITE) &&
        WaitSocket(s->fd, why == SSL_ERROR_WANT_READ)) {
      continue;
    }
    long verify = SSL_get_verify_result(s->ssl);
    KeepDetail();
    if (verify != X509_V_OK) {
      std::snprintf(t_detail, sizeof t_detail, "certificate verify failed: %s",
                    X509_verify_cert_error_string(verify));
    }
    return PZK_HANDSHAKE;
  }
}

int pzk_secure_soc_close(void** handle) {
  if (handle == nullptr) return PZK_BAD_HANDLE;
  Soc* s = AsSoc(*handle);
  if (s == nullptr) return PZK_BAD_HANDLE;
  if (s->ssl != nullptr) {
    if (SSL_is_init_finished(s->ssl)) SSL_shutdown(s->ssl);
    SSL_free(s->ssl);
  }
  if (s->method != nullptr) BIO_meth_free(s->method);
  ERR_clear_error();
  s->magic = 0;
  delete s;
  *handle = nullptr;
  return PZK_OK;
}

int pzk_secure_soc_read(void* handle, void* buf, int length, int* count) {
  Soc* s = AsSoc(handle);
  if (s == nullptr || s->ssl == nullptr || count == nullptr) return PZK_BAD_HANDLE;
  *count = 0;
  int n = SSL_read(s->ssl, buf, length);
  if (n > 0) {
    *count = n;
    return PZK_OK;
  }
  int why = SSL_get_error(s->ssl, n);
  KeepDetail();
  if (why == SSL_ERROR_ZERO_RETURN) return PZK_OK;  // the peer closed: 0 bytes
  if (why == SSL_ERROR_WANT_READ || why == SSL_ERROR_WANT_WRITE) return PZK_WOULD_BLOCK;
  if (why == SSL_ERROR_SYSCALL && n == 0) return PZK_CLOSED;
  return PZK_IO;
}

int pzk_secure_soc_write(void* handle, const void* buf, int length, int* count) {
  Soc* s = AsSoc(handle);
  if (s == nullptr || s->ssl == nullptr || count == nullptr) return PZK_BAD_HANDLE;
  *count = 0;
  int n = SSL_write(s->ssl, buf, length);
  if (n > 0) {
    *count = n;
    return PZK_OK;
  }
  int why = SSL_get_error(s->ssl, n);
  KeepDetail();
  if (why == SSL_ERROR_WANT_READ || why == SSL_ERROR_WANT_WRITE) return PZK_WOULD_BLOCK;
  return PZK_IO;
}

int pzk_attribute_set_enum(void* handle, int attribute, int value) {
  Handle* h = AsHandle(handle);
  if (h == nullptr) return PZK_BAD_HANDLE;
  h->enums[attribute] = value;
  return PZK_OK;
}

int pzk_attribute_get_enum(void* handle, int attribute, int* value) {
  Handle* h = AsHandle(handle);
  if (h == nullptr || value == nullptr) return PZK_BAD_HANDLE;
  auto it = h->enums.find(attribute);
  if (it == h->enums.end()) return PZK_BAD_ATTRIBUTE;
  *value = it->second;
  return PZK_OK;
}

int pzk_attribute_set_numeric_value(void* handle, int attribute, int value) {
  Soc* s = AsSoc(handle);
  if (s == nullptr) return PZK_BAD_HANDLE;
  if (attribute != 300) return PZK_BAD_ATTRIBUTE;
  s->fd = value;
  return PZK_OK;
}

int pzk_attribute_get_numeric_value(void* handle, int attribute, int* value) {
  Soc* s = AsSoc(handle);
  if (s == nullptr || value == nullptr) return PZK_BAD_HANDLE;
  if (attribute != 300) return PZK_BAD_ATTRIBUTE;
  *value = s->fd;
  return PZK_OK;
}

int pzk_attribute_set_buffer(void* handle, int attribute, const char* buf, int length) {
  if (buf == nullptr || length < 0) return PZK_BAD_ATTRIBUTE;
  if (Soc* s = AsSoc(handle)) {
    if (attribute != 200 || length != static_cast<int>(sizeof(void*))) return PZK_BAD_ATTRIBUTE;
    std::memcpy(&s->user, buf, sizeof(void*));
    return PZK_OK;
  }
  Env* e = AsEnv(handle);
  if (e == nullptr) return PZK_BAD_HANDLE;
  std::string value(buf, strnlen(buf, static_cast<size_t>(length)));
  if (attribute == 201) e->key_store = value;
  else if (attribute == 204) e->stash = value;
  else return PZK_BAD_ATTRIBUTE;
  return PZK_OK;
}

int pzk_attribute_get_buffer(void* handle, int attribute, char** buf, int* length) {
  if (AsHandle(handle) == nullptr || buf == nullptr || length == nullptr) return PZK_BAD_HANDLE;
  if (attribute != 220) return PZK_BAD_ATTRIBUTE;
  static char version[] = PZK_VERSION_TEXT;
  *buf = version;
  *length = static_cast<int>(sizeof version - 1);
  return PZK_OK;
}

int pzk_attribute_set_callback(void* handle, int attribute, void* record) {
  Env* e = AsEnv(handle);
  if (e == nullptr || record == nullptr) return PZK_BAD_HANDLE;
  if (attribute != 800) return PZK_BAD_ATTRIBUTE;
  void* entries[6];
  std::memcpy(entries, record, sizeof entries);
  std::memcpy(&e->callbacks[0], &entries[0], sizeof(void*));
  std::memcpy(&e->callbacks[1], &entries[1], sizeof(void*));
  for (int i = 0; i < 4; ++i) e->kept[i] = entries[i + 2];
  return PZK_OK;
}

int pzk_get_cert_by_label(void*, const char*, void**) { return PZK_UNSUPPORTED; }

#ifndef PZK_WITHOUT_STRERROR
const char* pzk_strerror(int code) {
  static thread_local char text[700];
  const char* base;
  switch (code) {
    case PZK_OK: return "no error";
    case PZK_BAD_HANDLE: base = "invalid handle"; break;
    case PZK_BAD_ATTRIBUTE: base = "invalid attribute"; break;
    case PZK_NO_MEMORY: base = "insufficient memory"; break;
    case PZK_KEYSTORE: base = "the key store cannot be used"; break;
    case PZK_HANDSHAKE: base = "the TLS handshake failed"; break;
    case PZK_IO: base = "TLS I/O failed"; break;
    case PZK_CLOSED: base = "the connection was closed"; break;
    case PZK_UNSUPPORTED: base = "not supported"; break;
    case PZK_WOULD_BLOCK: base = "the operation would block"; break;
    case PZK_NOT_READY: base = "the handle is not set up"; break;
    default: return "";
  }
  if (t_detail[0] == '\0') return base;
  std::snprintf(text, sizeof text, "%s: %s", base, t_detail);
  return text;
}
#endif

}  // extern "C"
