// The connection request: the base64 variant.
#include "connect/asfpfutl.h"

#include <cstring>
#include <vector>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._";

// The reverse table, built at the first decode of each thread.
struct ReverseTable {
  bool built = false;
  unsigned char value[128];
};
thread_local ReverseTable t_reverse;

const unsigned char* Reverse() {
  if (!t_reverse.built) {
    std::memset(t_reverse.value, 0, sizeof t_reverse.value);
    for (int i = 0; i < 64; ++i) t_reverse.value[static_cast<unsigned char>(kAlphabet[i])] = static_cast<unsigned char>(i);
    t_reverse.built = true;
  }
  return t_reverse.value;
}

unsigned char Value(const unsigned char* table, char c) {
  auto u = static_cast<unsigned char>(c);
  return u < 128 ? table[u] : 0;
}

}  // namespace

int32_t pf_b64_encode(const unsigned char* bytes, char* out, int32_t n) {
  if (bytes == nullptr || out == nullptr || n <= 0) return 0;
  // The output grows past the input, so an in-place call works on a copy.
  std::vector<unsigned char> in(bytes, bytes + n);
  int32_t o = 0;
  int32_t i = 0;
  for (; i + 3 <= n; i += 3) {
    uint32_t v = (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8) | in[i + 2];
    out[o++] = kAlphabet[(v >> 18) & 63];
    out[o++] = kAlphabet[(v >> 12) & 63];
    out[o++] = kAlphabet[(v >> 6) & 63];
    out[o++] = kAlphabet[v & 63];
  }
  if (n - i == 1) {
    uint32_t v = uint32_t{in[i]} << 16;
    out[o++] = kAlphabet[(v >> 18) & 63];
    out[o++] = kAlphabet[(v >> 12) & 63];
  } else if (n - i == 2) {
    uint32_t v = (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8);
    out[o++] = kAlphabet[(v >> 18) & 63];
    out[o++] = kAlphabet[(v >> 12) & 63];
    out[o++] = kAlphabet[(v >> 6) & 63];
  }
  return o;
}

int32_t pf_b64_decode(const char* chars, unsigned char* out, int32_t n) {
  if (chars == nullptr || out == nullptr || n <= 0) return 0;
  const unsigned char* table = Reverse();
  // Three bytes are written for every four characters read, so writing
  // never overtakes reading when decoding in place.
  int32_t o = 0;
  int32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    uint32_t v = (uint32_t{Value(table, chars[i])} << 18) | (uint32_t{Value(table, chars[i + 1])} << 12) |
                 (uint32_t{Value(table, chars[i + 2])} << 6) | Value(table, chars[i + 3]);
    out[o++] = static_cast<unsigned char>(v >> 16);
    out[o++] = static_cast<unsigned char>(v >> 8);
    out[o++] = static_cast<unsigned char>(v);
  }
  int32_t rest = n - i;
  if (rest >= 2) {
    uint32_t v = (uint32_t{Value(table, chars[i])} << 18) | (uint32_t{Value(table, chars[i + 1])} << 12);
    if (rest == 3) v |= uint32_t{Value(table, chars[i + 2])} << 6;
    out[o++] = static_cast<unsigned char>(v >> 16);
    if (rest == 3) out[o++] = static_cast<unsigned char>(v >> 8);
  }
  return o;  // a single trailing character is ignored
}
