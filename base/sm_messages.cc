// Message texts of the storage manager: smGetMsg, which never fails, the
// adaptation of a text's conversions, and the texts that call sites keep.
//
// The storage manager's threads (the command's own and the cloud-transfer
// threads) fetch texts at the same time. Each thread formats its fallback
// text into a buffer of its own, and a call site stores only texts found in
// a file (pooled copies that live until the process ends) through an
// atomic pointer, so no thread ever reads a text that another is writing.

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/client_locale.h"
#include "base/msgfile.h"
#include "base/thread_state.h"

namespace {

constexpr size_t kFallbackSize = 8192;
thread_local char t_fallback[kFallbackSize];

char g_fmt_error[] = "Error in rldmsg_fmtspecxtf() contact tech support\n";

// Byte length of the character at p (a NUL counts 1), or -1 when invalid.
int32_t CharLen(const char* p, bool single_byte) {
  if (single_byte) return 1;
  int blank = 0;
  return rgl_mbchar(p, static_cast<int32_t>(std::strlen(p)) + 1, &blank);
}

}  // namespace

char* smGetMsg(int32_t number) {
  const int saved = errno;
  char* text = rldmsg_num(number);
  if (text == nullptr) {
    std::snprintf(t_fallback, sizeof t_fallback, "Message %d not found.\n", number);
    text = t_fallback;
  }
  errno = saved;
  return text;
}

int smMsgIsFallback(const char* text) {
  const auto p = reinterpret_cast<uintptr_t>(text);
  const auto first = reinterpret_cast<uintptr_t>(t_fallback);
  return p >= first && p <= first + kFallbackSize ? 1 : 0;
}

char* rldmsg_fmtspecxtf(char* text, int32_t* status) {
  if (text == nullptr) return g_fmt_error;
  if (text[0] == '\0') return text;
  if (rthreadrec() == nullptr) {
    if (status != nullptr) *status = -406;
    return g_fmt_error;
  }
  const bool single = rgl_single_byte() != 0;
  // Every character must be valid before the text is changed.
  for (const char* p = text; *p != '\0';) {
    const int32_t n = CharLen(p, single);
    if (n <= 0) {
      if (status != nullptr) *status = -406;
      return g_fmt_error;
    }
    p += n;
  }
  for (char* p = text; *p != '\0'; p += CharLen(p, single)) {
    if (*p != '%') continue;
    // "%lx" -> "%p", "%-lx" -> "%-p"; any other width or flag is left alone.
    char* lx = p[1] == '-' ? p + 2 : p + 1;
    if (lx[0] == 'l' && lx[1] == 'x') {
      lx[0] = 'p';
      std::memmove(lx + 1, lx + 2, std::strlen(lx + 2) + 1);
    }
  }
  if (status != nullptr) *status = 0;
  return text;
}

const char* smSiteMsg(SmMsgSite* site, int32_t number) {
  if (const char* kept = site->load(std::memory_order_acquire)) return kept;
  const char* text = rldmsg_fmtspecxtf(smGetMsg(number), nullptr);
  if (smMsgIsFallback(text) || text == g_fmt_error) return text;
  // Threads that fetched at the same time all go on with the first copy
  // kept; the others stay unused in their pools.
  const char* expected = nullptr;
  if (site->compare_exchange_strong(expected, text, std::memory_order_acq_rel)) return text;
  return expected;
}
