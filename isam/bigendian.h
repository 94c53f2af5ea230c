// Big-endian load and store of the integers in ISAM files. Private to the
// library until the client base services' ldint/stint/ldlong/stlong are in.
#pragma once

#include <cstdint>

namespace isam {

inline int16_t ld16(const unsigned char* p) {
  return static_cast<int16_t>((p[0] << 8) | p[1]);
}
inline uint16_t ldu16(const unsigned char* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline uint32_t ldu32(const unsigned char* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
inline int32_t ld32(const unsigned char* p) { return static_cast<int32_t>(ldu32(p)); }

inline void st16(uint32_t v, unsigned char* p) {
  p[0] = static_cast<unsigned char>(v >> 8);
  p[1] = static_cast<unsigned char>(v);
}
inline void st32(uint32_t v, unsigned char* p) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

}  // namespace isam
