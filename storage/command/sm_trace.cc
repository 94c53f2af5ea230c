#include "storage/command/sm_trace.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "base/msgfile.h"
#include "storage/command/config.h"
#include "isam/isam.h"
#include "storage/command/trace_file.h"

namespace {
constexpr size_t kTextSize = 10240;
}  // namespace

void sm_trace(int32_t level, const char* file, int line, int32_t /*unused*/, const char* format,
              ...) {
  const TevConfig* cfg = zarGetConfig();
  if (cfg == nullptr || level < cfg->traceThreshold) return;
  char text[kTextSize];
  int n = std::snprintf(text, sizeof text, "%s:%d ", file, line);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof text) {
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text + n, sizeof text - static_cast<size_t>(n), format, ap);
    va_end(ap);
  }
  trace_text(cfg->debugHandle, level, 0, text);
}

void sm_actlog(int32_t destination, const char* file, int line, int32_t kind, const char* format,
               ...) {
  int saved_errno = errno;
  int saved_iserrno = iserrno;
  const TevConfig* cfg = zarGetConfig();
  if (cfg == nullptr) {
    std::fputs("Could not get CFG from trace.BUG!!!!\n\n", stdout);
    std::fflush(stdout);
    return;
  }
  char text[kTextSize];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);

  bool to_stderr = cfg->stderrHandle >= 0 && destination != SM_ACT_LOGONLY;
  trace_text(cfg->actLogHandle, 2048, 0, text);
  if (to_stderr) trace_text(cfg->stderrHandle, 2048, 0, text);

  if (kind == SM_KIND_ISAM || kind == SM_KIND_OS) {
    char isam_line[64];
    char os_line[512];
    std::snprintf(isam_line, sizeof isam_line, "ISAM Error = %d.", saved_iserrno);
    const char* desc = strerrordesc_np(saved_errno);
    std::snprintf(os_line, sizeof os_line, "OS Error = %d (%s).", saved_errno,
                  desc != nullptr ? desc : "Unknown error");
    if (kind == SM_KIND_ISAM) trace_text(cfg->actContHandle, 2048, 0, isam_line);
    trace_text(cfg->actContHandle, 2048, 0, os_line);
    if (to_stderr) {
      if (kind == SM_KIND_ISAM) trace_text(cfg->stderrContHandle, 2048, 0, isam_line);
      trace_text(cfg->stderrContHandle, 2048, 0, os_line);
    }
  }
  sm_trace(136, file, line, 4, "%s", text);
  errno = saved_errno;
}

void sm_trace_prefix(char* out, size_t size) {
  int pid = static_cast<int>(getpid());
  if (pid < 0) pid = 0;
  // The group id of the line prefix is always 0 in this system.
  std::snprintf(out, size, "%d[%u]  %d", pid, static_cast<unsigned>(gettid()), 0);
}

int32_t sm_get_debug_level() {
  const TevConfig* cfg = zarGetConfig();
  if (cfg == nullptr) {
    std::fputs("Could not get CFG from trace.!!!!\n\n", stderr);
    return -1;
  }
  return cfg->debugLevel;
}

int64_t sm_get_debug_handle() {
  const TevConfig* cfg = zarGetConfig();
  if (cfg == nullptr) {
    std::fputs("Could not get CFG from trace.!!!!\n\n", stderr);
    return -1;
  }
  return cfg->debugHandle;
}

