// Conversions through the converter handles of the locale start-up.

#include "base/cvt.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/locale_state.h"
#include "base/thread_state.h"

namespace {

int32_t Error(int32_t code) {
  rsetglerror(code);
  return -1;
}

bool BadCount(const int32_t* count) { return count != nullptr && *count <= 0; }

// Bytes of the source: the count, or the string with its NUL.
size_t SourceBytes(const char* src, const int32_t* count) {
  return count != nullptr ? static_cast<size_t>(*count) : std::strlen(src) + 1;
}

// Output size for a source: the count times the factor, or the string's
// length times the factor plus one, each rounded up.
int64_t OutputSize(GlConverter* cv, const char* src, const int32_t* count) {
  const double factor = cv != nullptr ? gl_iconv_expansion(cv) : 1.0;
  if (count != nullptr) return static_cast<int64_t>(std::ceil(*count * factor));
  return static_cast<int64_t>(std::ceil(static_cast<double>(std::strlen(src)) * factor)) + 1;
}

enum class Outcome { kDone, kFull, kInvalid, kOther };

// Runs the conversion of src into out (room bytes); *written receives the
// bytes written.
Outcome Convert(GlConverter* cv, const char* src, const int32_t* count, char* out, int64_t room,
                int32_t* word, int32_t* written) {
  const char* in = src;
  int32_t in_len = count != nullptr ? *count : 0;
  char* cursor = out;
  uint32_t left = static_cast<uint32_t>(room);
  int32_t own_word = 0;
  cv->error_number = 0;
  const int32_t r =
      gl_miconv(cv, &in, count != nullptr ? &in_len : nullptr, &cursor, &left,
                word != nullptr ? word : &own_word);
  *written = static_cast<int32_t>(room - left);
  if (r == 0) return Outcome::kDone;
  switch (cv->error_number) {
    case 14: return Outcome::kFull;
    case 1:
    case 7: return Outcome::kInvalid;
    default: return Outcome::kOther;
  }
}

// Terminates a converted string when the output has room and the
// conversion did not write the NUL itself.
void Terminate(char* out, int32_t written, int64_t room) {
  if (written < room && (written == 0 || out[written - 1] != '\0')) out[written] = '\0';
}

}  // namespace

int32_t cvt_tobufst(GlConverter* cv, const char* src, const int32_t* count, char* dst,
                    int32_t dst_size, int32_t* truncated, int32_t* word) {
  if (src == nullptr || dst == nullptr || dst_size <= 0 || BadCount(count)) {
    return Error(RGL_E_BADARG);
  }
  *truncated = 0;
  if (cv == nullptr) {
    // The copy never goes past the caller's size.
    size_t n = SourceBytes(src, count);
    if (n > static_cast<size_t>(dst_size)) {
      n = static_cast<size_t>(dst_size);
      *truncated = 1;
    }
    std::memmove(dst, src, n);
    if (*truncated && count == nullptr) dst[n - 1] = '\0';
    return 0;
  }
  int32_t written = 0;
  switch (Convert(cv, src, count, dst, dst_size, word, &written)) {
    case Outcome::kDone: return written;
    case Outcome::kFull: *truncated = 1; return written;
    case Outcome::kInvalid: return Error(RGL_E_BADCHAR);
    case Outcome::kOther: break;
  }
  return Error(RGL_E_CONVERT);
}

int32_t cvt_tobuf(GlConverter* cv, const char* src, const int32_t* count, char* dst,
                  int32_t dst_size, int32_t* truncated) {
  int32_t word = 0;
  return cvt_tobufst(cv, src, count, dst, dst_size, truncated, &word);
}

int32_t cvt_inplace(GlConverter* cv, char* text, const int32_t* count, int32_t buf_size,
                    int32_t* truncated) {
  if (text == nullptr || buf_size <= 0 || BadCount(count)) return Error(RGL_E_BADARG);
  *truncated = 0;
  if (cv == nullptr) return 0;
  const int32_t len = count != nullptr ? *count : static_cast<int32_t>(std::strlen(text));
  const int64_t n = count != nullptr ? cvt_explen(cv, len) : cvt_explen(cv, len) + 1;
  char* tmp = static_cast<char*>(std::malloc(static_cast<size_t>(n) + 4));
  if (tmp == nullptr) return Error(RGL_E_NOMEM);
  const int64_t room = buf_size < n + 4 ? buf_size : n + 4;
  int32_t written = 0;
  int32_t word = 0;
  // The source length handed over never counts the NUL.
  const Outcome o = len > 0 ? Convert(cv, text, &len, tmp, room, &word, &written) : Outcome::kDone;
  if (o == Outcome::kDone || o == Outcome::kFull) {
    std::memcpy(text, tmp, static_cast<size_t>(written));
    if (count == nullptr && written < buf_size) text[written] = '\0';
    if (o == Outcome::kFull) *truncated = 1;
    std::free(tmp);
    return written;
  }
  std::free(tmp);
  return Error(o == Outcome::kInvalid ? RGL_E_BADCHAR : RGL_E_CONVERT);
}

int32_t cvt_alloc(GlConverter* cv, const char* src, const int32_t* count, char** out,
                  int32_t* word) {
  if (out != nullptr) *out = nullptr;
  if (src == nullptr || out == nullptr || BadCount(count)) return Error(RGL_E_BADARG);
  const int64_t n = OutputSize(cv, src, count);
  char* buf = static_cast<char*>(std::malloc(static_cast<size_t>(n) + 4));
  if (buf == nullptr) return Error(RGL_E_NOMEM);
  if (cv == nullptr) {
    const size_t k = SourceBytes(src, count);
    std::memcpy(buf, src, k);
    buf[k] = '\0';
    *out = buf;
    return 0;
  }
  int32_t written = 0;
  if (Convert(cv, src, count, buf, n + 4, word, &written) != Outcome::kDone) {
    std::free(buf);
    return Error(RGL_E_BADCHAR);
  }
  Terminate(buf, written, n + 4);
  *out = buf;
  return written;
}

int32_t cvt_newbuf(GlConverter* cv, const char* src, const int32_t* count, char** out) {
  int32_t word = 0;
  return cvt_alloc(cv, src, count, out, &word);
}

int32_t cvt_togrowbuf(GlConverter* cv, const char* src, const int32_t* count, CvtGrowBuf* buf) {
  if (src == nullptr || buf == nullptr || BadCount(count)) return Error(RGL_E_BADARG);
  const int64_t n = OutputSize(cv, src, count);
  if (n > INT32_MAX - 4) return Error(RGL_E_NOMEM);
  if (buf->data == nullptr || buf->size < n) {
    char* grown = static_cast<char*>(std::realloc(buf->data, static_cast<size_t>(n) + 4));
    if (grown == nullptr) return Error(RGL_E_NOMEM);
    buf->data = grown;
    buf->size = static_cast<int32_t>(n);
  }
  if (cv == nullptr) {
    std::memcpy(buf->data, src, SourceBytes(src, count));
    return 0;
  }
  int32_t written = 0;
  int32_t word = 0;
  if (Convert(cv, src, count, buf->data, buf->size, &word, &written) != Outcome::kDone) {
    return Error(RGL_E_BADCHAR);
  }
  return written;
}

int32_t cvt_explen(GlConverter* cv, int32_t n) {
  if (cv == nullptr) return n;
  return static_cast<int32_t>(std::ceil(static_cast<double>(n) * gl_iconv_expansion(cv)));
}

int32_t cvt_needlen(GlConverter* cv, const char* src, const int32_t* count) {
  rsetglerror(0);
  if (cv != nullptr) {
    char* tmp = nullptr;
    const int32_t r = cvt_newbuf(cv, src, count, &tmp);
    std::free(tmp);
    return r;
  }
  if (count != nullptr) return *count < 0 ? Error(RGL_E_BADARG) : *count;
  if (src == nullptr) return Error(RGL_E_BADARG);
  return static_cast<int32_t>(std::strlen(src)) + 1;
}
