// The security-toolkit loader and the TLS operations of "socssl". The
// toolkit is a shared library found on the library search path by name
// and reached only through the 17 functions it exports; it is loaded and
// checked once per process, and a failed load leaves nothing behind.
//
// conssl.cfg (TARVELONDIR/etc/conssl.cfg), one setting a line:
//   SSL_KEYSTORE_FILE <path>   the key store (default etc/client.kdb)
//   SSL_KEYSTORE_STH  <path>   the pass-phrase file (default etc/client.sth
//                              when it exists)
// "#" starts a comment line; other keys are ignored.
#include "connect/conssl.h"

#include <dlfcn.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/conn_calls.h"
#include "base/env.h"
#include "connect/asfutil.h"
#include "connect/osvercmp.h"
#include "connect/tcp.h"

namespace {

constexpr char kMinimumVersion[] = "8.0.50.75";
constexpr int kLineBuffer = 688;
constexpr size_t kValueMax = 512;

typedef int (*EnvOpenFn)(void**);
typedef int (*EnvInitFn)(void*);
typedef int (*EnvCloseFn)(void**);
typedef int (*SocOpenFn)(void*, void**);
typedef int (*SocInitFn)(void*);
typedef int (*SocCloseFn)(void**);
typedef int (*SocReadFn)(void*, void*, int, int*);
typedef int (*SocWriteFn)(void*, const void*, int, int*);
typedef int (*SetEnumFn)(void*, int, int);
typedef int (*GetEnumFn)(void*, int, int*);
typedef int (*SetNumFn)(void*, int, int);
typedef int (*GetNumFn)(void*, int, int*);
typedef int (*SetBufFn)(void*, int, const char*, int);
typedef int (*GetBufFn)(void*, int, char**, int*);
typedef int (*SetCbFn)(void*, int, void*);
typedef int (*CertFn)(void*, const char*, void**);
typedef const char* (*StrerrorFn)(int);

struct PzkFunctions {
  void* library;
  void* environment;
  EnvOpenFn environment_open;
  EnvInitFn environment_init;
  EnvCloseFn environment_close;
  SocOpenFn secure_soc_open;
  SocInitFn secure_soc_init;
  SocCloseFn secure_soc_close;
  SocReadFn secure_soc_read;
  SocWriteFn secure_soc_write;
  SetEnumFn set_enum;
  GetEnumFn get_enum;
  SetNumFn set_numeric;
  GetNumFn get_numeric;
  SetBufFn set_buffer;
  GetBufFn get_buffer;
  SetCbFn set_callback;
  CertFn get_cert_by_label;
  StrerrorFn strerror_;
};

const char* const kNames[17] = {
    "pzk_environment_open", "pzk_environment_init", "pzk_environment_close",
    "pzk_secure_soc_open", "pzk_secure_soc_init", "pzk_secure_soc_close",
    "pzk_secure_soc_read", "pzk_secure_soc_write", "pzk_attribute_set_enum",
    "pzk_attribute_get_enum", "pzk_attribute_set_numeric_value",
    "pzk_attribute_get_numeric_value", "pzk_attribute_set_buffer", "pzk_attribute_get_buffer",
    "pzk_attribute_set_callback", "pzk_get_cert_by_label", "pzk_strerror",
};

PzkFunctions* g_pzk = nullptr;

// The per-socket TLS handle hung on the driver's record.
struct TlsHandle {
  void* soc;
  int32_t error;
  int32_t os_error;
};

TlsHandle* HandleOf(AsfDriver* d) {
  auto* r = static_cast<TcpRecord*>(d != nullptr ? d->record : nullptr);
  return r != nullptr ? static_cast<TlsHandle*>(r->tls) : nullptr;
}

void SetText(AsfControlBlock* cb, const char* text) {
  if (cb == nullptr) return;
  std::snprintf(cb->text, sizeof cb->text, "%s", text != nullptr ? text : "");
}

// A toolkit code's text, or the code in decimal when it has none.
void ToolkitText(AsfControlBlock* cb, int code) {
  const char* t = g_pzk != nullptr && g_pzk->strerror_ != nullptr ? g_pzk->strerror_(code) : nullptr;
  if (t != nullptr && *t != '\0') {
    SetText(cb, t);
  } else if (cb != nullptr) {
    std::snprintf(cb->text, sizeof cb->text, "%d", code);
  }
}

// The socket I/O the toolkit calls; user is the driver.
int ReadCallback(int fd, void* buf, int length, void* user) {
  ssize_t n;
  do {
    n = recv(fd, buf, static_cast<size_t>(length), 0);
  } while (n < 0 && errno == EINTR);
  if (n >= 0) return static_cast<int>(n);
  int err = errno;
  if (TlsHandle* h = HandleOf(static_cast<AsfDriver*>(user))) {
    if (err == EAGAIN || err == EWOULDBLOCK) {
      h->error = ASF_TIMEOUT;
      h->os_error = 0;
    } else if (err == ECONNRESET) {
      h->error = -25582;
      h->os_error = err;
    } else {
      h->error = -25580;
      h->os_error = err;
    }
  }
  errno = err;
  return -1;
}

int WriteCallback(int fd, void* buf, int length, void* user) {
  const char* p = static_cast<const char*>(buf);
  int left = length;
  while (left > 0) {
    ssize_t n = send(fd, p, static_cast<size_t>(left), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int err = errno;
      if (TlsHandle* h = HandleOf(static_cast<AsfDriver*>(user))) {
        bool would_block = err == EAGAIN || err == EWOULDBLOCK;
        h->error = would_block ? ASF_TIMEOUT : -25580;
        h->os_error = would_block ? 0 : err;
      }
      errno = err;
      return -1;
    }
    p += n;
    left -= static_cast<int>(n);
  }
  return length;
}

int GroupIdCallback() { return tv_getgid(); }

void Unload() {
  if (g_pzk == nullptr) return;
  if (g_pzk->environment != nullptr && g_pzk->environment_close != nullptr) {
    g_pzk->environment_close(&g_pzk->environment);
  }
  if (g_pzk->library != nullptr) dlclose(g_pzk->library);
  std::free(g_pzk);
  g_pzk = nullptr;
}

int Fail(AsfControlBlock* cb, int code, int os) {
  ASF_ERROR(cb, code, os);
  Unload();
  return -1;
}

int TooOld(AsfControlBlock* cb) {
  ASF_ERROR(cb, -28016, 0);
  SetText(cb, kMinimumVersion);
  Unload();
  return -1;
}

// A toolkit call failed: -28014 with its text.
int ToolkitFail(AsfControlBlock* cb, int code) {
  ToolkitText(cb, code);
  return Fail(cb, -28014, errno);
}

}  // namespace

TV_BEGIN_C

int conssl_read_config(ConsslConfig* config) {
  std::memset(config, 0, sizeof *config);
  const char* dir = ggetenv_idx("TARVELONDIR", ENVROW_TARVELONDIR);
  if (dir == nullptr || *dir == '\0') return -1;
  std::string base(dir);
  if (base.back() == '/') base.pop_back();
  std::string path = base + "/etc/conssl.cfg";
  std::snprintf(config->key_store, sizeof config->key_store, "%s/etc/client.kdb", base.c_str());
  bool stash_given = false;
  FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr && errno != ENOENT) return -1;
  if (f != nullptr) {
    char line[kLineBuffer];
    while (std::fgets(line, sizeof line, f) != nullptr) {
      size_t n = std::strlen(line);
      bool complete = n > 0 && line[n - 1] == '\n';
      bool too_long = false;
      if (!complete && !std::feof(f)) {
        // Read on to the end of the line; the rest is dropped.
        int c;
        while ((c = std::fgetc(f)) != EOF && c != '\n') {
        }
        too_long = true;
      }
      const char* p = line;
      while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
      if (*p == '\0' || *p == '#') continue;
      // Two words: key and value.
      const char* k_end = p;
      while (*k_end != '\0' && !std::strchr(" \t\r\n", *k_end)) ++k_end;
      std::string key(p, static_cast<size_t>(k_end - p));
      if (too_long) {
        std::fprintf(stderr, "WARNING: %s line too long in config file %s\n", key.c_str(), path.c_str());
      }
      const char* v = k_end;
      while (*v == ' ' || *v == '\t') ++v;
      const char* v_end = v;
      while (*v_end != '\0' && !std::strchr(" \t\r\n", *v_end)) ++v_end;
      std::string value(v, static_cast<size_t>(v_end - v));
      if (value.empty() || value[0] == '#') continue;
      if (value.size() > kValueMax) {
        std::fprintf(stderr, "WARNING: %s value too long in config file %s\n", key.c_str(), path.c_str());
        value.resize(kValueMax - 1);
      }
      if (key == "SSL_KEYSTORE_FILE") {
        std::snprintf(config->key_store, sizeof config->key_store, "%s", value.c_str());
      } else if (key == "SSL_KEYSTORE_STH") {
        std::snprintf(config->stash, sizeof config->stash, "%s", value.c_str());
        stash_given = true;
      }
    }
    std::fclose(f);
  }
  if (!stash_given) {
    std::string stash = base + "/etc/client.sth";
    FILE* s = std::fopen(stash.c_str(), "rb");
    if (s != nullptr) {
      std::fclose(s);
      std::snprintf(config->stash, sizeof config->stash, "%s", stash.c_str());
    } else if (errno != ENOENT) {
      std::snprintf(config->stash, sizeof config->stash, "%s", stash.c_str());
    }
  }
  return 0;
}

int conssl_toolkit_loaded(void) { return g_pzk != nullptr && g_pzk->environment != nullptr; }

int conssl_load_toolkit(AsfControlBlock* cb) {
  if (conssl_toolkit_loaded()) return 0;
  Unload();
  g_pzk = static_cast<PzkFunctions*>(std::calloc(1, sizeof(PzkFunctions)));
  if (g_pzk == nullptr) return ASF_ERROR(cb, -406, errno), -1;
  char name[336];
  std::snprintf(name, sizeof name, "%s%d%s%s%s", "pzk", 8, "ssl", "_64", ".so");
  g_pzk->library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
  if (g_pzk->library == nullptr) {
    const char* why = dlerror();
    // Not found on the search path: the toolkit is missing.
    if (why != nullptr && std::strstr(why, "No such file or directory") != nullptr) return TooOld(cb);
    SetText(cb, why);
    return Fail(cb, -28014, 0);
  }
  void** slots = reinterpret_cast<void**>(&g_pzk->environment_open);
  for (int i = 0; i < 17; ++i) {
    dlerror();
    void* f = dlsym(g_pzk->library, kNames[i]);
    if (f == nullptr) {
      const char* why = dlerror();
      SetText(cb, why != nullptr ? why : kNames[i]);
      return Fail(cb, -28014, 0);
    }
    slots[i] = f;
  }
  ConsslConfig config;
  if (conssl_read_config(&config) != 0) return Fail(cb, -28015, errno);
  int rc = g_pzk->environment_open(&g_pzk->environment);
  if (rc != 0) {
    g_pzk->environment = nullptr;
    return ToolkitFail(cb, rc);
  }
  char* version = nullptr;
  int length = 0;
  rc = g_pzk->get_buffer(g_pzk->environment, 220, &version, &length);
  if (rc != 0) return ToolkitFail(cb, rc);
  std::string v(version != nullptr ? version : "", version != nullptr && length > 0 ? static_cast<size_t>(length) : 0);
  if (v.empty() || osvercmp(v.c_str(), kMinimumVersion) < 0) return TooOld(cb);
  void* callbacks[6] = {reinterpret_cast<void*>(ReadCallback), reinterpret_cast<void*>(WriteCallback),
                        nullptr, reinterpret_cast<void*>(GroupIdCallback), nullptr, nullptr};
  rc = g_pzk->set_callback(g_pzk->environment, 800, callbacks);
  if (rc != 0) return ToolkitFail(cb, rc);
  rc = g_pzk->set_buffer(g_pzk->environment, 201, config.key_store,
                         static_cast<int>(std::strlen(config.key_store)));
  if (rc == 0 && config.stash[0] != '\0') {
    rc = g_pzk->set_buffer(g_pzk->environment, 204, config.stash, static_cast<int>(std::strlen(config.stash)));
  }
  if (rc != 0) return ToolkitFail(cb, rc);
  static const int kEnums[10][2] = {{471, 1},   {404, 513}, {436, 1},   {437, 1},   {438, 1},
                                    {416, 547}, {420, 573}, {421, 575}, {401, 505}, {410, 534}};
  for (const auto& e : kEnums) {
    rc = g_pzk->set_enum(g_pzk->environment, e[0], e[1]);
    if (rc != 0) return ToolkitFail(cb, rc);
  }
  rc = g_pzk->environment_init(g_pzk->environment);
  if (rc != 0) return ToolkitFail(cb, rc);
  return 0;
}

int conssl_unload_toolkit(void) {
  Unload();
  return 0;
}

namespace {

int Open(AsfDriver* d, int fd, AsfControlBlock* cb, int role) {
  auto* r = static_cast<TcpRecord*>(d->record);
  if (r == nullptr) return ASF_ERROR(cb, -25546, 0), -1;
  if (!conssl_toolkit_loaded() && conssl_load_toolkit(cb) != 0) return -1;
  auto* h = static_cast<TlsHandle*>(r->tls);
  if (h == nullptr) {
    h = static_cast<TlsHandle*>(std::calloc(1, sizeof(TlsHandle)));
    if (h == nullptr) return ASF_ERROR(cb, -406, errno), -1;
    r->tls = h;
  }
  auto fail = [&](int code) {
    int err = errno;
    ToolkitText(cb, code);
    if (h->soc != nullptr) g_pzk->secure_soc_close(&h->soc);
    std::free(h);
    r->tls = nullptr;
    return ASF_ERROR(cb, -28014, err), -1;
  };
  int rc = g_pzk->secure_soc_open(g_pzk->environment, &h->soc);
  if (rc != 0) {
    h->soc = nullptr;
    return fail(rc);
  }
  // The toolkit hands the driver pointer back to the I/O callbacks.
  AsfDriver* self = d;
  rc = g_pzk->set_buffer(h->soc, 200, reinterpret_cast<const char*>(&self), 8);
  if (rc == 0) rc = g_pzk->set_numeric(h->soc, 300, fd);
  if (rc == 0) rc = g_pzk->set_enum(h->soc, 402, role);
  if (rc == 0) rc = g_pzk->secure_soc_init(h->soc);
  if (rc != 0) return fail(rc);
  return 0;
}

// A read or write result: the callback's recorded error first.
int IoFail(TlsHandle* h, int rc, AsfControlBlock* cb) {
  if (h->error != 0) return ASF_ERROR(cb, h->error, h->os_error), -1;
  int err = errno;
  ToolkitText(cb, rc);
  return ASF_ERROR(cb, -28014, err), -1;
}

}  // namespace

int conssl_open_client(AsfDriver* d, int fd, AsfControlBlock* cb) { return Open(d, fd, cb, 507); }
int conssl_open_server(AsfDriver* d, int fd, AsfControlBlock* cb) { return Open(d, fd, cb, 508); }

int conssl_read(AsfDriver* d, void* buf, int32_t length, int32_t* count, AsfControlBlock* cb) {
  TlsHandle* h = HandleOf(d);
  if (h == nullptr || g_pzk == nullptr) return ASF_ERROR(cb, -25546, 0), -1;
  h->error = h->os_error = 0;
  int n = 0;
  int rc = g_pzk->secure_soc_read(h->soc, buf, length, &n);
  if (rc != 0) return IoFail(h, rc, cb);
  *count = n;
  return 0;
}

int conssl_write(AsfDriver* d, const void* buf, int32_t length, int32_t* count, AsfControlBlock* cb) {
  TlsHandle* h = HandleOf(d);
  if (h == nullptr || g_pzk == nullptr) return ASF_ERROR(cb, -25546, 0), -1;
  h->error = h->os_error = 0;
  int n = 0;
  int rc = g_pzk->secure_soc_write(h->soc, buf, length, &n);
  if (rc != 0) return IoFail(h, rc, cb);
  *count = n;
  return 0;
}

int conssl_close(AsfDriver* d, int) {
  auto* r = static_cast<TcpRecord*>(d != nullptr ? d->record : nullptr);
  if (r == nullptr || r->tls == nullptr) return 0;
  auto* h = static_cast<TlsHandle*>(r->tls);
  if (h->soc != nullptr && g_pzk != nullptr) g_pzk->secure_soc_close(&h->soc);
  std::free(h);
  r->tls = nullptr;
  return 0;
}

TV_END_C
