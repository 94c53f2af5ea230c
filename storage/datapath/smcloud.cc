// S3 and Swift clients over libcurl's easy interface; S3 requests signed
// with HMAC-SHA1 and base64 through OpenSSL.
#include "storage/datapath/smcloud.h"

#include <curl/curl.h>
#include <locale.h>
#include <openssl/bio.h>
#include <openssl/buffer.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "base/msgfile.h"
#include "platform/temp_dir.h"
#include "storage/command/config.h"
#include "storage/command/sm_trace.h"
#include "storage/command/trace_file.h"
#include "storage/datapath/smfilter.h"

namespace {

// Trace files are kept per thread: a client on a filter thread opens the
// activity log and the debug log for itself for the length of its run.
thread_local int64_t t_act = -1;
thread_local int64_t t_dbg = -1;

void OpenThreadLogs() {
  const TevConfig* cfg = zarGetConfig();
  if (cfg == nullptr) return;
  char prefix[64];
  sm_trace_prefix(prefix, sizeof prefix);
  if (find_trace_file(cfg->actLogHandle) == nullptr) {
    open_trace_file(cfg->actLogPath, 2048, &t_act, prefix, 1);
  }
  if (cfg->debugLevel != 0 && find_trace_file(cfg->debugHandle) == nullptr) {
    open_trace_file(cfg->debugLogPath, cfg->traceThreshold, &t_dbg, prefix, 1);
  }
}

void CloseThreadLogs() {
  if (t_act >= 0) close_trace_file(t_act);
  if (t_dbg >= 0) close_trace_file(t_dbg);
  t_act = -1;
  t_dbg = -1;
}

__attribute__((format(printf, 5, 6))) void CloudActlog(int32_t destination, const char* file,
                                                       int line, int32_t kind, const char* format,
                                                       ...) {
  char text[4096];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  if (t_act >= 0) {
    trace_text(t_act, 2048, 0, text);
  } else {
    sm_actlog(destination, file, line, kind, "%s", text);
  }
}

__attribute__((format(printf, 4, 5))) void CloudTrace(int32_t level, const char* file, int line,
                                                      const char* format, ...) {
  int64_t handle = t_dbg;
  if (handle < 0) {
    const TevConfig* cfg = zarGetConfig();
    if (cfg == nullptr) return;
    handle = cfg->debugHandle;
  }
  // Nothing is formatted below the file's threshold.
  const TraceFile* f = find_trace_file(handle);
  if (f == nullptr || level < f->level) return;
  char text[4096];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  if (t_dbg >= 0) {
    trace_text(t_dbg, level, 0, text);
  } else {
    sm_trace(level, file, line, 0, "%s", text);
  }
}

#undef SM_ACTLOG
#undef SM_TRACE
#define SM_ACTLOG(dest, kind, ...) CloudActlog((dest), __FILE_NAME__, __LINE__, (kind), __VA_ARGS__)
#define SM_TRACE(level, ...) CloudTrace((level), __FILE_NAME__, __LINE__, __VA_ARGS__)

constexpr size_t kWorkSize = 2048;
constexpr size_t kBodyStep = 2048;
constexpr size_t kCacheRead = 0x20000;
constexpr char kContentType[] = "application/x-binary";

struct HeaderField {
  char* name;
  char* value;
  HeaderField* next;
};

// One client run's view of the HTTP exchange.
struct HttpControl {
  uint32_t statusLineSeen;
  uint32_t expectedStatus;
  char protocol[32];
  char version[32];
  char reason[32];
  int32_t statusCode;
  int32_t filterId;
  HeaderField* fields;  // newest first
  uint32_t fieldCount;
  uint32_t bodyToMemory;
  uint32_t brokenPipe;
  char* body;
  uint32_t bodySize;
  uint32_t bodyUsed;
  char* cache;
  char* cachePos;
  uint32_t cacheSize;
  uint32_t cached;
  uint32_t cacheMapped;  // the cache is a mapping of its own (munmap)
  size_t cacheMappedSize;  // its length, which may exceed cacheSize
  char* stage;           // download bytes gathered for one large pipe write
  uint32_t staged;
};

void LogError(const char* text) { SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", text); }

int freeHeaderList(HttpControl* hc) {
  HeaderField* f = hc->fields;
  while (f != nullptr) {
    HeaderField* next = f->next;
    std::free(f->name);
    std::free(f->value);
    std::free(f);
    f = next;
  }
  hc->fields = nullptr;
  hc->fieldCount = 0;
  return 0;
}

const char* FindField(const HttpControl* hc, const char* name) {
  for (const HeaderField* f = hc->fields; f != nullptr; f = f->next) {
    if (std::strcmp(f->name, name) == 0) return f->value;
  }
  return nullptr;
}

// Copies at most size - 1 bytes of [from, to) into out.
void CopyWord(const char* from, const char* to, char* out, size_t size) {
  size_t n = static_cast<size_t>(to - from);
  if (n >= size) n = size - 1;
  std::memcpy(out, from, n);
  out[n] = '\0';
}

bool InvalidHeader(const char* detail) {
  LogError("REST ERROR: Invalid HTTP header.");
  SM_TRACE(136, "%s", detail);
  return false;
}

// The status line "PROTOCOL/VERSION CODE REASON...".
bool ParseStatusLine(HttpControl* hc, const char* line) {
  const char* slash = std::strchr(line, '/');
  if (slash == nullptr) return InvalidHeader("REST ERROR: Invalid HTTP header '/' not found.");
  CopyWord(line, slash, hc->protocol, sizeof hc->protocol);
  const char* p = slash + 1;
  while (*p == ' ') ++p;
  const char* end = std::strchr(p, ' ');
  if (end == nullptr) {
    return InvalidHeader("REST ERROR: Invalid http header, version not found.");
  }
  CopyWord(p, end, hc->version, sizeof hc->version);
  p = end;
  while (*p == ' ') ++p;
  end = std::strchr(p, ' ');
  if (end == nullptr) {
    return InvalidHeader("ERROR: Invalid http header, status code not found.");
  }
  hc->statusCode = static_cast<int32_t>(std::strtol(p, nullptr, 10));
  p = end;
  while (*p == ' ') ++p;
  end = p;
  while (*end != '\0' && *end != ' ') ++end;
  CopyWord(p, end, hc->reason, sizeof hc->reason);
  hc->statusLineSeen = 1;
  const int code = hc->statusCode;
  if (code != 200 && code != 100 && code != static_cast<int>(hc->expectedStatus)) {
    SM_TRACE(136,
             "Error detected in header callback, switching to read body to memory. scode = %d.",
             code);
    hc->bodyToMemory = 1;
  }
  return true;
}

bool AddField(HttpControl* hc, const char* line) {
  const char* colon = std::strchr(line, ':');
  if (colon == nullptr) return InvalidHeader("ERROR: Invalid http field structure.");
  auto* f = static_cast<HeaderField*>(std::calloc(1, sizeof(HeaderField)));
  if (f == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, "%s", SM_MSG(88002));
    SM_TRACE(136, "REST_ERROR: Cannot allocated HTTP header line");
    return false;
  }
  f->name = strndup(line, static_cast<size_t>(colon - line));
  const char* v = colon + 1;
  while (*v == ' ' || *v == '\t') ++v;
  f->value = strdup(v);
  if (f->name == nullptr || f->value == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, "%s", SM_MSG(88002));
    SM_TRACE(136, f->name == nullptr
                      ? "REST ERROR: Cannot allocate memory to store HTTP Header Field Name."
                      : "REST ERROR: Cannot allocate memory to store HTTP Header Field Value.");
    std::free(f->name);
    std::free(f->value);
    std::free(f);
    return false;
  }
  f->next = hc->fields;
  hc->fields = f;
  ++hc->fieldCount;
  return true;
}

size_t header_callback(char* line, size_t size, size_t count, void* userdata) {
  auto* hc = static_cast<HttpControl*>(userdata);
  const size_t n = size * count;
  SM_TRACE(136, "%s: enter", "header_callback");
  // A line counts only when it ends in CR LF.
  if (n < 2 || line[n - 2] != '\r' || line[n - 1] != '\n') {
    LogError("REST ERROR: Invalid HTTP header.");
    SM_TRACE(136, "REST ERROR: Cannot find CRLF.");
    return 0;
  }
  if (n == 2) {
    if (hc->statusLineSeen != 0) {
      hc->statusLineSeen = 0;
      SM_TRACE(133, "EMPTY LINE at the END.");
    } else {
      freeHeaderList(hc);
      SM_TRACE(133, "EMPTY LINE at the BEGINNING");
    }
    return n;
  }
  std::string text(line, n - 2);
  SM_TRACE(131, "LINE (%ld): %s\n", static_cast<long>(n), text.c_str());
  const bool ok = hc->statusLineSeen == 0 ? ParseStatusLine(hc, text.c_str())
                                          : AddField(hc, text.c_str());
  return ok ? n : 0;
}

// Appends to the in-memory body, kept NUL-terminated.
void KeepInMemory(HttpControl* hc, const char* data, size_t n) {
  size_t want = hc->bodyUsed + n + 1;
  if (want > hc->bodySize) {
    size_t size = hc->bodySize;
    while (size < want) size += kBodyStep;
    char* grown = static_cast<char*>(std::realloc(hc->body, size));
    if (grown == nullptr) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, "%s", SM_MSG(88002));
      SM_TRACE(136, "ERROR: Cannot re-allocate memory to store HTTP Body.");
      return;
    }
    hc->body = grown;
    hc->bodySize = static_cast<uint32_t>(size);
  }
  std::memcpy(hc->body + hc->bodyUsed, data, n);
  hc->bodyUsed += static_cast<uint32_t>(n);
  hc->body[hc->bodyUsed] = '\0';
}

// A download reaches the callback one TLS record (16 KB) at a time; it is
// gathered here and written into the parent's pipe in writes of this
// size, so that the parent wakes and reads once per large block.
constexpr size_t kStageSize = 512 * 1024;

// Writes the gathered bytes into the parent's pipe. False when the parent
// no longer reads.
bool FlushStage(HttpControl* hc) {
  if (hc->staged == 0) return true;
  const size_t n = hc->staged;
  hc->staged = 0;
  if (write_to_parent(hc->filterId, hc->stage, n) != 0) {
    hc->brokenPipe = 1;
    SM_TRACE(136, "Broken PIPE.");
    return false;
  }
  return true;
}

size_t body_write_callback(char* data, size_t size, size_t count, void* userdata) {
  auto* hc = static_cast<HttpControl*>(userdata);
  const size_t n = size * count;
  SM_TRACE(135, "size = %ld, nitems = %d", static_cast<long>(size), static_cast<int>(count));
  if (hc->bodyToMemory != 0 || hc->filterId < 0) {
    SM_TRACE(135, "Using Memory.");
    KeepInMemory(hc, data, n);
    return n;
  }
  if (hc->stage == nullptr) {
    hc->stage = static_cast<char*>(std::malloc(kStageSize));
    if (hc->stage == nullptr) {
      // Without the buffer every piece goes to the pipe as it comes.
      if (write_to_parent(hc->filterId, data, n) != 0) {
        hc->brokenPipe = 1;
        SM_TRACE(136, "Broken PIPE.");
        return 0;
      }
      return n;
    }
  }
  size_t done = 0;
  while (done < n) {
    const size_t room = kStageSize - hc->staged;
    const size_t take = n - done < room ? n - done : room;
    std::memcpy(hc->stage + hc->staged, data + done, take);
    hc->staged += static_cast<uint32_t>(take);
    done += take;
    if (hc->staged == kStageSize && !FlushStage(hc)) return 0;
  }
  return n;
}

size_t body_read_stdio_callback(char* buffer, size_t size, size_t count, void* userdata) {
  auto* hc = static_cast<HttpControl*>(userdata);
  size_t got = 0;
  if (hc->filterId < 0) return 0;
  if (read_from_parent(hc->filterId, buffer, size * count, &got) != 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "Error reading from parent's pipe. errno = %d.",
              errno);
    // Ending the body here would store a cut part as a whole one.
    return CURL_READFUNC_ABORT;
  }
  return got;
}

size_t body_read_buffered_callback(char* buffer, size_t size, size_t count, void* userdata) {
  auto* hc = static_cast<HttpControl*>(userdata);
  const size_t left = static_cast<size_t>(hc->cache + hc->cached - hc->cachePos);
  size_t n = size * count;
  if (n > left) n = left;
  if (n > 0) std::memcpy(buffer, hc->cachePos, n);
  hc->cachePos += n;
  return n;
}

// A part of some megabytes is cached in a mapping of its own, in huge
// pages where the system gives them: on virtual machines the first touch
// of every small page is costly, and a whole part of hundreds of
// megabytes would cost seconds before the upload starts.
constexpr size_t kMappedCacheMin = 2 * 1024 * 1024;

// The mapping of the last run that ended, kept for the next: the parts of
// one object go through one client run each, and a mapping already in
// use costs no first touch. Its pages are given back lazily (the kernel
// takes them when memory runs short; the next run's writes replace
// whatever is in them).
struct SpareCache {
  std::mutex lock;
  char* data = nullptr;
  size_t size = 0;
};
SpareCache g_spare;

char* MapCache(size_t size) {
  {
    std::lock_guard<std::mutex> hold(g_spare.lock);
    if (g_spare.data != nullptr && g_spare.size >= size) {
      char* p = g_spare.data;
      g_spare.data = nullptr;
      g_spare.size = 0;
      // Pages the kernel took back meanwhile come again in one call.
      madvise(p, size, MADV_POPULATE_WRITE);
      return p;
    }
  }
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  madvise(p, size, MADV_HUGEPAGE);  // a hint; refused where huge pages are off
  // The kernel fills the whole mapping in one call, in place of one fault
  // per page as the part arrives (each fault costs a trap, which on
  // virtual machines is dear). Refused by older kernels: the pages then
  // come with the faults.
  madvise(p, size, MADV_POPULATE_WRITE);
  return static_cast<char*>(p);
}

// Keeps the larger of a released mapping and the spare; unmaps the other.
void ReleaseMappedCache(char* data, size_t size) {
  madvise(data, size, MADV_FREE);
  std::lock_guard<std::mutex> hold(g_spare.lock);
  if (g_spare.data != nullptr && g_spare.size >= size) {
    munmap(data, size);
    return;
  }
  if (g_spare.data != nullptr) munmap(g_spare.data, g_spare.size);
  g_spare.data = data;
  g_spare.size = size;
}

char* AllocateCache(HttpControl* hc, size_t size) {
  if (size >= kMappedCacheMin) {
    char* p = MapCache(size);
    if (p == nullptr) return nullptr;
    hc->cacheMapped = 1;
    hc->cacheMappedSize = size;
    return p;
  }
  hc->cacheMapped = 0;
  return static_cast<char*>(std::malloc(size > 0 ? size : 1));
}

void FreeCache(HttpControl* hc) {
  if (hc->cache == nullptr) return;
  if (hc->cacheMapped != 0) {
    ReleaseMappedCache(hc->cache, hc->cacheMappedSize);
  } else {
    std::free(hc->cache);
  }
  hc->cache = nullptr;
}

// Bytes libcurl moves per callback: larger than its defaults, so that a
// part crosses the filter's pipe in fewer, larger writes.
constexpr long kTransferBuffer = 512 * 1024;

CURLcode curlSetDefaultOptions(CURL* curl) {
  curl_easy_reset(curl);
  curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(-1));
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 1L);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 50L);
  curl_easy_setopt(curl, CURLOPT_PROXY_TRANSFER_MODE, 1L);
  curl_easy_setopt(curl, CURLOPT_VERBOSE, 0L);
  // Header names keep their case only under HTTP/1.1.
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kTransferBuffer);
  curl_easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, kTransferBuffer);
  return curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
}

// One client run: its buffers, its handles, its verbose stream.
struct Run {
  const char* name;
  int32_t filterId;
  int32_t mode;
  HttpControl* hc = nullptr;
  char* work = nullptr;
  FILE* verbose = nullptr;
  CURL* curl = nullptr;
  curl_slist* headers = nullptr;
  char* token = nullptr;
  char* storageUrl = nullptr;

  void CloseRequest() {
    if (curl != nullptr) curl_easy_cleanup(curl);
    curl = nullptr;
    curl_slist_free_all(headers);
    headers = nullptr;
  }

  // A new easy handle with the fixed options; libcurl's verbose output
  // goes into the debug log when debugging is on.
  bool NewHandle() {
    curl = curl_easy_init();
    if (curl == nullptr) return false;
    curlSetDefaultOptions(curl);
    if (sm_get_debug_level() > 0) {
      if (verbose == nullptr) {
        const int64_t fd = sm_get_debug_handle();
        if (fd < 0) {
          SM_TRACE(136, "Cannot retrieve dbug file");
        } else {
          const int copy = dup(static_cast<int>(fd));
          verbose = copy >= 0 ? fdopen(copy, "a+") : nullptr;
          if (verbose == nullptr) {
            if (copy >= 0) close(copy);
            SM_TRACE(136, "Error: Cannot get FD handle from dbug file.");
          }
        }
      }
      if (verbose != nullptr) {
        curl_easy_setopt(curl, CURLOPT_STDERR, verbose);
        curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
      }
    }
    return true;
  }

  bool AddHeader(const char* line, bool swift_op = false) {
    if (swift_op) {
      SM_TRACE(133, "Add HTTP Header '%s'.", line);
    } else {
      SM_TRACE(135, "Adding HTTP Header '%s'.", line);
    }
    curl_slist* next = curl_slist_append(headers, line);
    if (next == nullptr) return false;
    headers = next;
    return true;
  }

  void SetCallbacks() {
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, header_callback);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, hc);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, body_write_callback);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, hc);
  }

  int Finish(int rc) {
    CloseRequest();
    if (hc != nullptr) {
      freeHeaderList(hc);
      std::free(hc->body);
      FreeCache(hc);
      std::free(hc->stage);
      std::free(hc);
    }
    std::free(work);
    std::free(token);
    std::free(storageUrl);
    if (verbose != nullptr) std::fclose(verbose);
    if (filterId >= 0) {
      FilterControlBlock* cb = get_filtercb(filterId);
      if (cb != nullptr && mode == CLOUD_MODE_PUT) {
        SM_TRACE(135, "Closing WRITE[READ] in child cloud.");
        close_pipe_end(&cb->childInputRead);
      } else if (cb != nullptr && mode == CLOUD_MODE_GET) {
        SM_TRACE(135, "Closing READ[WRITE] in child cloud.");
        close_pipe_end(&cb->childOutputWrite);
      }
    }
    const std::string dir = tvp::TempDir();
    if (dir.size() < 128) {
      char path[256];
      std::snprintf(path, sizeof path, "%ss3_status.%d.%d", dir.c_str(),
                    static_cast<int>(getpid()), static_cast<int>(syscall(SYS_gettid)));
      SM_TRACE(136, "Writing status file %s ", path);
      if (FILE* f = std::fopen(path, "we")) {
        std::fprintf(f, "%d", rc);
        std::fclose(f);
      }
      SM_TRACE(136, "WRITING STATUS %d ", rc);
    }
    SM_TRACE(135, "%s is returning %d", name, rc);
    CloseThreadLogs();
    return rc;
  }

  // The start steps common to both clients. false: the run ends with -1.
  bool Start(CloudClientArgs* args, const char* body_error) {
    for (char* p = args->targetName; *p != '\0'; ++p) {
      if (*p == '\\') *p = '/';
    }
    if (strnlen(args->targetName, sizeof args->targetName) >= sizeof args->targetName) {
      LogError("ERROR: The target name is longer than 259 characters.");
      return false;
    }
    work = static_cast<char*>(std::malloc(kWorkSize));
    hc = static_cast<HttpControl*>(std::calloc(1, sizeof(HttpControl)));
    if (work == nullptr || hc == nullptr) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, "%s", SM_MSG(88002));
      SM_TRACE(136, "%s", work == nullptr ? body_error
                                          : "ERROR: Cannot allocate memory to store HTTP "
                                            "Control Block.");
      return false;
    }
    hc->filterId = filterId;
    hc->body = static_cast<char*>(std::malloc(kBodyStep));
    if (hc->body == nullptr) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, "%s", SM_MSG(88002));
      SM_TRACE(136, "ERROR: Cannot allocate memory to store HTTP Body Data.");
      return false;
    }
    hc->bodySize = kBodyStep;
    hc->body[0] = '\0';
    curl_global_init(CURL_GLOBAL_ALL);
    return true;
  }

  // The text between "<Message>" and "</Message>" of an error body, logged.
  void LogErrorMessage() const {
    if (hc->body == nullptr || hc->bodyUsed == 0) return;
    const char* open = std::strstr(hc->body, "<Message>");
    if (open == nullptr) return;
    open += std::strlen("<Message>");
    const char* close = std::strstr(open, "</Message>");
    if (close == nullptr) return;
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", std::string(open, close).c_str());
  }

  // curl_easy_perform; false when the transfer failed for another reason
  // than the parent closing its pipe.
  bool Perform() {
    const CURLcode res = curl_easy_perform(curl);
    // What is gathered goes to the parent as it would have piece by piece.
    if (hc->brokenPipe == 0) FlushStage(hc);
    if (res == CURLE_OK && hc->brokenPipe != 0) {
      // The parent stopped reading after the last byte came.
      SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_PLAIN,
                "Process completed because the parent closed the connection.");
      return true;
    }
    if (res == CURLE_OK) return true;
    if (hc->brokenPipe != 0) {
      SM_ACTLOG(SM_ACT_LOGONLY, SM_KIND_PLAIN,
                "Process completed because the parent closed the connection.");
      return true;
    }
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "curl_easy_perform() failed: %s.",
              curl_easy_strerror(res));
    return false;
  }
};

const char* Verb(int32_t mode) {
  switch (mode) {
    case CLOUD_MODE_PUT:
      return "PUT";
    case CLOUD_MODE_GET:
      return "GET";
    case CLOUD_MODE_DELETE:
      return "DELETE";
    default:
      return nullptr;
  }
}

// The Date header's value: local time with English names.
bool HttpDate(char* out, size_t size) {
  const time_t now = std::time(nullptr);
  if (now == static_cast<time_t>(-1)) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "ERROR: Cannot retrieve current time. errno = %d.",
              errno);
    return false;
  }
  struct tm tm {};
  if (localtime_r(&now, &tm) == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "ERROR: Cannot convert current time. errno = %d.",
              errno);
    return false;
  }
  locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  const size_t n = c != static_cast<locale_t>(nullptr)
                       ? strftime_l(out, size, "%a, %d %b %Y %H:%M:%S %z", &tm, c)
                       : 0;
  if (c != static_cast<locale_t>(nullptr)) freelocale(c);
  if (n == 0) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "ERROR: Error in the strftime. errno = %d.", errno);
    return false;
  }
  return true;
}

// Reads the whole part from the parent into the cache. 0; -1.
int FillCache(HttpControl* hc, uint32_t part_size) {
  hc->cacheSize = part_size;
  hc->cache = AllocateCache(hc, part_size);
  if (hc->cache == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, "%s", SM_MSG(88002));
    SM_TRACE(136, "ERROR: Cannot allocate memory to store HTTP Body Data.");
    return -1;
  }
  SM_TRACE(134, "Starting Cache of the data to be transfered.");
  size_t used = 0;
  for (;;) {
    const size_t room = part_size - used;
    // A full cache reads one more byte to find an oversized part.
    char probe;
    char* into = room > 0 ? hc->cache + used : &probe;
    const size_t want = room > 0 ? (room < kCacheRead ? room : kCacheRead) : 1;
    size_t got = 0;
    if (hc->filterId < 0 || read_from_parent(hc->filterId, into, want, &got) != 0) {
      LogError("ERROR: reading from STDIN.");
      return -1;
    }
    SM_TRACE(135, "RECEIVED %ld bytes. Used = %ld", static_cast<long>(got),
             static_cast<long>(used));
    if (got == 0) break;
    if (room == 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR,
                "REST ERROR: received more data than promised. used + tsize = %ld > buffer "
                "size(%ld).",
                static_cast<long>(used + got), static_cast<long>(part_size));
      return -1;
    }
    used += got;
  }
  SM_TRACE(135, "End cache of data. Received %ld bytes ", static_cast<long>(used));
  hc->cached = static_cast<uint32_t>(used);
  hc->cachePos = hc->cache;
  return 0;
}

// The host part of an https URL; null when the URL has no "https://".
const char* HostOf(const char* url) {
  constexpr char kScheme[] = "https://";
  if (std::strncmp(url, kScheme, sizeof kScheme - 1) != 0) return nullptr;
  return url + sizeof kScheme - 1;
}

}  // namespace

bool cloudS3Signature(const char* verb, const char* date, const char* bucket, const char* target,
                      const char* secret, char* out, size_t out_size) {
  const std::string to_sign = std::string(verb) + "\n\n" + kContentType + "\n" + date + "\n/" +
                              bucket + (target[0] == '/' ? "" : "/") + target;
  SM_TRACE(129, "SIGNATURE = '%s'.", to_sign.c_str());
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int mac_len = 0;
  if (HMAC(EVP_sha1(), secret, static_cast<int>(std::strlen(secret)),
           reinterpret_cast<const unsigned char*>(to_sign.data()), to_sign.size(), mac,
           &mac_len) == nullptr) {
    return false;
  }
  BIO* b64 = BIO_new(BIO_f_base64());
  BIO* mem = BIO_new(BIO_s_mem());
  if (b64 == nullptr || mem == nullptr) {
    BIO_free(b64);
    BIO_free(mem);
    return false;
  }
  b64 = BIO_push(b64, mem);
  BIO_set_flags(b64, BIO_FLAGS_BASE64_NO_NL);
  bool ok = BIO_write(b64, mac, static_cast<int>(mac_len)) == static_cast<int>(mac_len) &&
            BIO_flush(b64) == 1;
  BUF_MEM* text = nullptr;
  if (ok) {
    BIO_get_mem_ptr(b64, &text);
    ok = text != nullptr && text->length + 1 <= out_size;
    if (ok) {
      std::memcpy(out, text->data, text->length);
      out[text->length] = '\0';
    }
  }
  BIO_free_all(b64);
  return ok;
}

int cloudS3ClientStart(int32_t filter_id, CloudClientArgs* args) {
  OpenThreadLogs();
  Run run{"cloudS3ClientStart", filter_id, args != nullptr ? args->mode : 0};
  SM_TRACE(136, "%s: enter", run.name);
  if (args == nullptr) return run.Finish(-1);
  SM_TRACE(132, "S3 URL = '%s'.", args->url);
  SM_TRACE(132, "S3 KEY = '%s'.", args->user);
  SM_TRACE(132, "S3 SECRET = '%s'.", args->password);
  SM_TRACE(132, "S3 BUCKET = '%s'.", args->container);
  SM_TRACE(132, "TARGET NAME = '%s'.", args->targetName);
  SM_TRACE(132, "transfer size = '%d' KB.", args->partSize / 1024);
  if (!run.Start(args, "REST ERROR: Cannot allocate memory to store HTTP Body.")) {
    return run.Finish(-1);
  }
  HttpControl* hc = run.hc;
  const char* verb = Verb(args->mode);
  if (verb == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", SM_MSG(88186));
    return run.Finish(-1);
  }
  const char* host = HostOf(args->url);
  if (host == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "ERROR: The URL '%s' does not begin with https://.",
              args->url);
    return run.Finish(-1);
  }
  if (args->mode == CLOUD_MODE_PUT) {
    if (args->partSize <= 0) {
      SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "ERROR: The device has no part size.");
      return run.Finish(-1);
    }
    if (FillCache(hc, static_cast<uint32_t>(args->partSize)) != 0) return run.Finish(-1);
  }
  if (!run.NewHandle()) return run.Finish(-1);
  const char* slash = args->targetName[0] == '/' ? "" : "/";
  std::snprintf(run.work, kWorkSize, "%s%s%s", args->url, slash, args->targetName);
  SM_TRACE(135, "S3 URL = '%s',", run.work);
  curl_easy_setopt(run.curl, CURLOPT_URL, run.work);

  char date[64];
  char signature[64];
  if (!HttpDate(date, sizeof date)) return run.Finish(-1);
  if (!cloudS3Signature(verb, date, args->container, args->targetName, args->password, signature,
                        sizeof signature)) {
    LogError("ERROR: Cannot compute the request signature.");
    return run.Finish(-1);
  }
  std::string line = std::string("Host: ") + host;
  bool ok = run.AddHeader(line.c_str());
  line = std::string("Date: ") + date;
  ok = ok && run.AddHeader(line.c_str());
  line = std::string("Content-Type: ") + kContentType;
  ok = ok && run.AddHeader(line.c_str());
  line = std::string("Authorization: AWS ") + args->user + ":" + signature;
  ok = ok && run.AddHeader(line.c_str());
  if (!ok) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, "%s", SM_MSG(88002));
    return run.Finish(-1);
  }
  if (args->mode == CLOUD_MODE_PUT) {
    curl_easy_setopt(run.curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(run.curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(hc->cached));
    SM_TRACE(135, "OBJECT SIZE = %ld", static_cast<long>(hc->cached));
  } else if (args->mode == CLOUD_MODE_DELETE) {
    curl_easy_setopt(run.curl, CURLOPT_CUSTOMREQUEST, "DELETE");
  }
  hc->statusLineSeen = 0;
  hc->expectedStatus = 100;
  hc->bodyToMemory = args->mode == CLOUD_MODE_PUT ? 1 : 0;
  curl_easy_setopt(run.curl, CURLOPT_HTTPHEADER, run.headers);
  run.SetCallbacks();
  curl_easy_setopt(run.curl, CURLOPT_READFUNCTION, body_read_buffered_callback);
  curl_easy_setopt(run.curl, CURLOPT_READDATA, hc);
  if (!run.Perform()) return run.Finish(-1);
  SM_TRACE(135, "HTTP operation Return Code = %d.", hc->statusCode);
  if (hc->statusCode < 200 || hc->statusCode > 299) {
    SM_TRACE(135, "ERROR: HTTP operation failed. Code = %d", hc->statusCode);
    run.LogErrorMessage();
    return run.Finish(-1);
  }
  return run.Finish(0);
}

int cloudSwiftClientStart(int32_t filter_id, CloudClientArgs* args) {
  OpenThreadLogs();
  Run run{"cloudSwiftClientStart", filter_id, args != nullptr ? args->mode : 0};
  SM_TRACE(136, "%s: enter", run.name);
  if (args == nullptr) return run.Finish(-1);
  SM_TRACE(132, "SWIFT URL = '%s'.", args->url);
  SM_TRACE(132, "SWIFT USER = '%s'.", args->user);
  SM_TRACE(132, "SWIFT KEY = '%s'.", args->password);
  SM_TRACE(132, "SWIFT CONTAINER = '%s'.", args->container);
  SM_TRACE(132, "TARGET NAME = '%s'.", args->targetName);
  if (!run.Start(args, "ERROR: Cannot allocate memory to store HTTP Body.")) {
    return run.Finish(-1);
  }
  HttpControl* hc = run.hc;
  const char* verb = Verb(args->mode);
  if (verb == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "%s", SM_MSG(88186));
    return run.Finish(-1);
  }
  if (!run.NewHandle()) {
    LogError("REST ERROR: Cannot initialize the REST Infraestructure.");
    return run.Finish(-1);
  }
  // Authentication: the token and the storage URL come back as headers.
  hc->statusLineSeen = 0;
  hc->expectedStatus = 200;
  hc->bodyToMemory = 1;
  CURLcode res = curl_easy_setopt(run.curl, CURLOPT_URL, args->url);
  if (res != CURLE_OK) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "curl_easy_perform() failed : %s.",
              curl_easy_strerror(res));
    return run.Finish(-1);
  }
  run.SetCallbacks();
  std::string line = std::string("X-Auth-Key: ") + args->password;
  bool ok = run.AddHeader(line.c_str());
  line = std::string("X-Auth-User: ") + args->user;
  ok = ok && run.AddHeader(line.c_str());
  res = ok ? curl_easy_setopt(run.curl, CURLOPT_HTTPHEADER, run.headers) : CURLE_OUT_OF_MEMORY;
  if (res != CURLE_OK) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "curl_easy_perform() failed : %s.",
              curl_easy_strerror(res));
    return run.Finish(-1);
  }
  res = curl_easy_perform(run.curl);
  if (res != CURLE_OK) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "curl_easy_perform() failed: %s.",
              curl_easy_strerror(res));
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR, "ERROR: HTTP operation failed. Code = %d",
              hc->statusCode);
    return run.Finish(-1);
  }
  if (hc->statusCode != 200) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_ERROR,
              "REST ERROR: The operation returned status %d instead of %d", hc->statusCode, 200);
    return run.Finish(-1);
  }
  const char* token = FindField(hc, "X-Storage-Token");
  if (token == nullptr || token[0] == '\0') {
    LogError("ERROR: Cannot retrieve autherixation token.");
    return run.Finish(-1);
  }
  const char* storage = FindField(hc, "X-Storage-Url");
  if (storage == nullptr || storage[0] == '\0') {
    LogError("ERROR: Cannot retrieve autherixation URL.");
    return run.Finish(-1);
  }
  run.token = strdup(token);
  run.storageUrl = strdup(storage);
  run.CloseRequest();
  freeHeaderList(hc);
  if (run.token == nullptr || run.storageUrl == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, "%s", SM_MSG(88002));
    return run.Finish(-1);
  }

  // The operation on the object.
  if (!run.NewHandle()) return run.Finish(-1);
  hc->statusLineSeen = 0;
  hc->expectedStatus = args->mode == CLOUD_MODE_PUT ? 201 : 200;
  hc->brokenPipe = 0;
  hc->bodyToMemory = args->mode == CLOUD_MODE_PUT ? 1 : 0;
  hc->bodyUsed = 0;
  hc->body[0] = '\0';
  hc->statusCode = 0;
  if (args->mode == CLOUD_MODE_PUT) {
    curl_easy_setopt(run.curl, CURLOPT_UPLOAD, 1L);
  } else if (args->mode == CLOUD_MODE_DELETE) {
    curl_easy_setopt(run.curl, CURLOPT_CUSTOMREQUEST, "DELETE");
  }
  run.SetCallbacks();
  curl_easy_setopt(run.curl, CURLOPT_READFUNCTION, body_read_stdio_callback);
  curl_easy_setopt(run.curl, CURLOPT_READDATA, hc);
  const char* slash = args->targetName[0] == '/' ? "" : "/";
  std::snprintf(run.work, kWorkSize, "%s/%s%s%s", run.storageUrl, args->container, slash,
                args->targetName);
  SM_TRACE(133, "URL = '%s'.", run.work);
  curl_easy_setopt(run.curl, CURLOPT_URL, run.work);
  line = std::string("X-Auth-token: ") + run.token;
  if (!run.AddHeader(line.c_str(), true)) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, "%s", SM_MSG(88002));
    return run.Finish(-1);
  }
  curl_easy_setopt(run.curl, CURLOPT_HTTPHEADER, run.headers);
  if (!run.Perform()) return run.Finish(-1);
  if (hc->statusCode < 200 || hc->statusCode > 299) {
    SM_TRACE(135, "ERROR: HTTP operation failed. Code = %d", hc->statusCode);
    return run.Finish(-1);
  }
  return run.Finish(0);
}

char* cloudTargetUrl(const CloudClientArgs* args) {
  char* text = static_cast<char*>(std::malloc(1024));
  if (text == nullptr) {
    SM_ACTLOG(SM_ACT_ALWAYS, SM_KIND_OS, "%s", SM_MSG(88002));
    return nullptr;
  }
  if (args != nullptr && args->provider == 1) {
    std::snprintf(text, 1024, "%s/%s", args->url, args->targetName);
  } else if (args != nullptr && args->provider == 2) {
    std::snprintf(text, 1024, "%s/%s/%s/%s", args->url, args->user, args->container,
                  args->targetName);
  } else {
    std::snprintf(text, 1024, "%s", "Unknown Cloud Provider.");
  }
  return text;
}
