// Big-endian integer fields and floating fields in machine order or in
// the order of a format flag (1: most significant byte first).

#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "base/fields.h"
#include "base/thread_state.h"

namespace {

constexpr bool kLittleEndianHost = std::endian::native == std::endian::little;

// Copies n bytes, reversed when the flag asks for the other byte order on
// this host.
void CopyOrdered(const void* src, void* dst, size_t n, int32_t flag) {
  const auto* s = static_cast<const unsigned char*>(src);
  auto* d = static_cast<unsigned char*>(dst);
  if (flag == 1 && kLittleEndianHost) {
    for (size_t i = 0; i < n; i++) d[i] = s[n - 1 - i];
  } else {
    std::memcpy(d, s, n);
  }
}

bool IsNullPattern(const void* p, size_t n) { return std::memcmp(p, rthreadnullpat, n) == 0; }

}  // namespace

int32_t ldlong(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return static_cast<int32_t>((uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) |
                              (uint32_t{b[2]} << 8) | uint32_t{b[3]});
}

void stlong(int64_t value, void* dst) {
  auto v = static_cast<uint32_t>(value);
  auto* b = static_cast<unsigned char*>(dst);
  b[0] = static_cast<unsigned char>(v >> 24);
  b[1] = static_cast<unsigned char>(v >> 16);
  b[2] = static_cast<unsigned char>(v >> 8);
  b[3] = static_cast<unsigned char>(v);
}

int ldint(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return static_cast<int16_t>(static_cast<uint16_t>((b[0] << 8) | b[1]));
}

void stint(int value, void* dst) {
  auto* b = static_cast<unsigned char*>(dst);
  b[0] = static_cast<unsigned char>(value >> 8);
  b[1] = static_cast<unsigned char>(value);
}

double ldfloat(const void* p) { return ldmfloat(p, 0); }
void stfloatle(double x, void* dst) { stmfloat(x, dst, 0); }
double lddouble(const void* p) { return ldmdouble(p, 0); }
void stdoublele(double x, void* dst) { stmdouble(x, dst, 0); }

double ldmfloat(const void* p, int32_t flag) {
  float f;
  CopyOrdered(p, &f, sizeof f, flag);
  return f;
}

void stmfloat(double x, void* dst, int32_t flag) {
  if (flag != 0 && flag != 1) return;
  float f = static_cast<float>(x);
  CopyOrdered(&f, dst, sizeof f, flag);
}

double ldmdouble(const void* p, int32_t flag) {
  double d;
  CopyOrdered(p, &d, sizeof d, flag);
  return d;
}

void stmdouble(double x, void* dst, int32_t flag) {
  if (flag != 0 && flag != 1) return;
  CopyOrdered(&x, dst, sizeof x, flag);
}

float ldmfltnull(const void* p, int16_t* isnull, int32_t flag) {
  bool null = IsNullPattern(p, 4);
  if (isnull != nullptr) *isnull = null ? 1 : 0;
  if (null) {
    float f;
    std::memcpy(&f, rthreadnullpat, sizeof f);
    return f;
  }
  return static_cast<float>(ldmfloat(p, flag));
}

float ldfltnull(const void* p, int16_t* isnull) { return ldmfltnull(p, isnull, 0); }

void stmfltnull(double x, void* dst, int16_t isnull, int32_t flag) {
  if (isnull != 0) {
    std::memcpy(dst, rthreadnullpat, 4);
  } else {
    stmfloat(x, dst, flag);
  }
}

double ldmdblnull(const void* p, int16_t* isnull, int32_t flag) {
  if (isnull != nullptr) *isnull = IsNullPattern(p, 8) ? 1 : 0;
  return ldmdouble(p, flag);
}

double lddblnull(const void* p, int16_t* isnull) { return ldmdblnull(p, isnull, 0); }

void stmdblnull(double x, void* dst, int16_t isnull, int32_t flag) {
  if (isnull != 0) {
    std::memcpy(dst, rthreadnullpat, 8);
  } else {
    stmdouble(x, dst, flag);
  }
}

void rsleep(int32_t seconds) {
  if (seconds <= 0) return;
  struct timespec ts = {seconds, 0};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}
