// Message lookups on top of the reader: into the caller's buffer
// (rmsgget), as a pooled copy (rldmsg), and through the thread's cache
// (rmsgcached).

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/env.h"
#include "base/client_locale.h"
#include "base/msg_internal.h"
#include "base/msgfile.h"
#include "platform/file_io.h"

namespace {

constexpr const char* kDefaultLocale = "en_US.8859-1";
constexpr int32_t kCacheSize = 160;
constexpr int32_t kFirstBufSize = 512;

const char* LocaleErrorText(int32_t rc) {
  switch (rc) {
    case -23115: return "Code sets of the locale categories are not the same.";
    case -23111: return "Internal error.  Illegal argument for locale initialization.";
    case -23110: return "An error occurred during environment variable processing.";
    case -23108: return "An error occurred during locale structure creation.";
    case -23104: return "Error opening required code-set conversion object file.";
    case -23102: return "Memory allocation failed during locale processing.";
    case -1212: return "Date conversion format must contain a month, day, and year component.";
    case -1211: return "Out of memory.";
    default: return "Unable to load locale categories.";
  }
}

// Copies text into buf, cut to size - 1 bytes and terminated.
void PutText(char* buf, int32_t size, const char* text) {
  if (size <= 0) return;
  const size_t n = std::min(std::strlen(text), static_cast<size_t>(size - 1));
  std::memcpy(buf, text, n);
  buf[n] = '\0';
}

// True when fmt holds exactly one conversion, and that is '%' followed
// directly by conv ("%%" counts as text). A stored text is only used as a
// format when it takes the one argument the caller passes.
bool TakesOne(const char* fmt, char conv) {
  int count = 0;
  for (const char* p = fmt; *p != '\0'; p++) {
    if (*p != '%') continue;
    if (p[1] == '%') {
      p++;
      continue;
    }
    if (p[1] != conv) return false;
    count++;
    p++;
  }
  return count == 1;
}

// The text of a fallback message (32765 or 32766) when it takes exactly
// the one conversion conv, else the built-in pattern.
const char* FallbackFormat(int32_t number, char conv, const char* builtin, const char* locale,
                           char* tmp, int32_t tmp_size) {
  if (rmsgget(number, tmp, tmp_size, nullptr, locale) == 0 && TakesOne(tmp, conv)) return tmp;
  return builtin;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
// Puts the fallback text for a failed lookup into buf: -1 when the number
// is itself the fallback message, else rc.
int32_t Fallback(int32_t rc, int32_t number, char* buf, int32_t size, const char* locale) {
  char tmp[512];
  if (rc == MSG_ENOOPEN) {
    if (number == MSG_NOFILE_NUMBER) return -1;
    const char* fmt =
        FallbackFormat(MSG_NOFILE_NUMBER, 's', "Cannot open file '%s'\n", locale, tmp, sizeof tmp);
    if (size > 0) std::snprintf(buf, static_cast<size_t>(size), fmt, rmsgfilename(number));
    return rc;
  }
  if (number == MSG_UNKNOWN_NUMBER) return -1;
  const char* fmt = FallbackFormat(MSG_UNKNOWN_NUMBER, 'd', "Unknown error message number '%d'\n",
                                   locale, tmp, sizeof tmp);
  if (size > 0) std::snprintf(buf, static_cast<size_t>(size), fmt, number);
  return rc;
}
#pragma GCC diagnostic pop

// Reads the found text (at the file's position) into buf.
int32_t ReadText(int32_t fd, int32_t len, char* buf, int32_t size) {
  if (size <= 0) return MSG_ECUT;
  const int32_t n = std::min(len, size - 1);
  int32_t got = 0;
  while (got < n) {
    const ssize_t r = tvp::Read(fd, buf + got, static_cast<size_t>(n - got));
    if (r <= 0) break;
    got += static_cast<int32_t>(r);
  }
  buf[got] = '\0';
  if (got < n) return MSG_ESHORT;  // the file ends inside the text
  return len < size ? 0 : MSG_ECUT;
}

// Restores the thread's current pool on every way out of rldmsg.
struct PoolRestore {
  SmallBlockPool* saved = rthreadpool;
  ~PoolRestore() { rthreadpool = saved; }
};

}  // namespace

int32_t rmsgget(int32_t number, char* buf, int32_t size, int32_t* full_len, const char* locale) {
  int32_t unused = 0;
  if (full_len == nullptr) full_len = &unused;
  if (int r = rglinit(); r < 0) {
    PutText(buf, size, LocaleErrorText(r));
    return r;
  }
  ThreadRuntimeRecord* rec = rthreadrec();
  if (rec == nullptr) return MSG_ENOTHREAD;

  int32_t len = 0;
  int32_t fd = -1;
  int32_t rc = rmsgfind(number, &len, locale, &fd);
  bool second = false;
  if (rc != 0) {
    const char* dblang = ggetenv_idx("DBLANG", ENVROW_DBLANG);
    if (dblang == nullptr || std::strcmp(dblang, kDefaultLocale) != 0) {
      tvbase::msg::ForgetFile(rec);
      rc = rmsgfind(number, &len, kDefaultLocale, &fd);
      second = true;
    }
  }
  if (rc == 0) {
    *full_len = len;
    rc = ReadText(fd, len, buf, size);
  }
  tvbase::msg::EndLookup(rec);
  if (second) {
    // The next lookup opens the file of the thread's own language again.
    tvbase::msg::ForgetFile(rec);
    rec->msg_cached_number = 0;
  }
  if (rc == 0 || rc == MSG_ECUT) return rc;
  return Fallback(rc, number, buf, size, locale);
}

int32_t rmsgget2(int32_t number, char* buf, int32_t size, int32_t* full_len, const char* locale) {
  return rmsgget(number, buf, size, full_len, locale);
}

int32_t rgetmsg(int32_t number, char* buf, int32_t size) {
  return rmsgget(number, buf, size, nullptr, nullptr);
}

int32_t rgetlmsg(int32_t number, char* buf, int32_t size, int32_t* full_len) {
  return rmsgget(number, buf, size, full_len, nullptr);
}

char* rldmsg(int32_t number, const char* locale) {
  ThreadRuntimeRecord* rec = rthreadrec();
  if (rec == nullptr) return nullptr;
  PoolRestore restore;
  if (rec->msg_buf == nullptr) {
    rec->msg_buf = static_cast<char*>(std::malloc(kFirstBufSize));
    if (rec->msg_buf == nullptr) return nullptr;
    rec->msg_buf_size = kFirstBufSize;
  }
  if (rec->msg_pool == nullptr) {
    rec->msg_pool = rpool_create();
    if (rec->msg_pool == nullptr) return nullptr;
  }
  rthreadpool = rec->msg_pool;

  int32_t len = 0;
  int32_t rc = rmsgget(number, rec->msg_buf, rec->msg_buf_size, &len, locale);
  if (rc == MSG_ECUT) {
    auto* grown = static_cast<char*>(std::realloc(rec->msg_buf, static_cast<size_t>(len) + 1));
    if (grown == nullptr) return nullptr;
    rec->msg_buf = grown;
    rec->msg_buf_size = len + 1;
    rc = rmsgget(number, rec->msg_buf, rec->msg_buf_size, &len, locale);
  }
  if (rc != 0) return nullptr;
  if (len > 0) len--;  // the stored line feed
  auto* copy = static_cast<char*>(rpool_getmem(len + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, rec->msg_buf, static_cast<size_t>(len));
  copy[len] = '\0';
  return copy;
}

char* rldmsg_num(int32_t number) { return rldmsg(number, nullptr); }

char* rmsgcached(int32_t number) {
  ThreadRuntimeRecord* rec = rthreadrec();
  if (rec == nullptr) return nullptr;
  if (rec->msg_cache == nullptr) {
    rec->msg_cache = static_cast<char*>(std::calloc(1, kCacheSize));
    if (rec->msg_cache == nullptr) return nullptr;
  }
  if (number != rec->msg_cached_number || rec->msg_cached_number == 0) {
    rmsgget(number, rec->msg_cache, kCacheSize, nullptr, nullptr);
    rec->msg_cached_number = number;
  }
  return rec->msg_cache;
}

char* rgetmsgcached(int32_t number) { return rmsgcached(number); }
