// Directory listing by wildcard pattern: "<directory>/<name pattern>",
// where the name pattern may hold '*' (any run of characters) and '?' (one
// character); every other character matches itself. '\' separates like '/'.
// A pattern without a directory lists the current directory.
//
// A search reads the whole directory when it starts and hands out the
// matching names in bytewise order, so that listings are the same on every
// run; "." and ".." are listed like any other name. Results are the numbers
// of win_errors.h: 0, 2 nothing matches, 3 the directory does not exist,
// 5 access denied, 8 no memory, 18 no more names, 87 bad argument.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tvp {

inline constexpr uint32_t kFileAttributeDirectory = 0x10;
inline constexpr uint32_t kFileAttributeNormal = 0x80;

struct FindData {
  std::string name;
  uint32_t attributes = 0;  // kFileAttributeDirectory or kFileAttributeNormal
  uint64_t size = 0;
};

struct FindSearch;  // opaque

// Starts a search and gives its first name; on success *search must be
// ended with FindClose.
int32_t FindFirst(std::string_view pattern, FindSearch** search, FindData* data);
// The next name of a search; 18 after the last.
int32_t FindNext(FindSearch* search, FindData* data);
void FindClose(FindSearch* search);

}  // namespace tvp
