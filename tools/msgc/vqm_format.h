// Message file format (".vqm"): the files that hold every operator and user
// message text by number. The compiler writes them; the client libraries'
// message reader looks numbers up in them by a paged binary search.
//
// All integers are big-endian; offsets count from the start of the file.
//
//   offset  size               field
//   ------  -----------------  ---------------------------------------------
//   0       2                  magic: 0xFE68 short index entries (8 bytes)
//                                     0xFE69 long index entries (10 bytes)
//   2       2                  entry count, signed 16-bit (0..32767)
//   4       count * entsize    index entries, sorted by ascending SIGNED
//                              message number, numbers unique
//   any     sum of lengths     texts: raw bytes in the code set of the
//                              language directory (ISO-8859-1 for
//                              en_us/0333), no terminator, each at the
//                              offset its entry gives; every text the
//                              compiler writes ends with a line feed (0x0A)
//
// Short index entry (magic 0xFE68), 8 bytes:
//   0  2  message number, signed 16-bit (sign-extended when compared)
//   2  2  text length in bytes, signed 16-bit (0..32767, line feed included)
//   4  4  text offset, unsigned 32-bit
//
// Long index entry (magic 0xFE69), 10 bytes:
//   0  4  message number, signed 32-bit
//   4  2  text length in bytes, signed 16-bit (0..32767, line feed included)
//   6  4  text offset, unsigned 32-bit
//
// Negative numbers (the client libraries' error codes) are stored negative.
// A file whose numbers do not all fit in 16 bits must use the long form.
//
// The compiler lays a file out deterministically: header, index in number
// order, then the texts in index order with no gaps and nothing after them.
// A reader must not rely on that layout, only on the entries.
//
// Files the build installs under msg/en_us/0333/ and the numbers they hold
// (the reader's range table maps a number's magnitude to its file):
//   os.vqm    short  1..133 operating-system errors (errno texts),
//                    32765 "cannot open message file '%s'",
//                    32766 "unknown message number '%d'"
//   isam.vqm  short  -100..-171 ISAM errors
//   sql.vqm   short  SQL and locale errors (-406, -1200.., -23101..) and
//                    the name lists 1200, 1201, 1206, 1207 ("|"-separated)
//   tev.vqm   long   87000..88999 storage-manager messages
// Besides the rows 1-79 os, 100-199 isam, 200-999 sql, 32765-32766 os and
// 87000-88999 tev, the reader's range table needs the rows 1000-1999 and
// 23100-23199 -> sql.vqm for the SQL and locale numbers above. The errno
// texts 100..133 of os.vqm are shadowed by the isam row 100-199; a caller
// that wants them asks os.vqm for the number directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace msgc {

inline constexpr uint16_t kMagicShort = 0xFE68;
inline constexpr uint16_t kMagicLong = 0xFE69;
inline constexpr size_t kHeaderSize = 4;
inline constexpr size_t kShortEntrySize = 8;
inline constexpr size_t kLongEntrySize = 10;
inline constexpr int32_t kMaxEntries = 32767;
inline constexpr int32_t kMaxTextLength = 32767;

enum class Form { kShort, kLong };

inline size_t EntrySize(Form f) { return f == Form::kShort ? kShortEntrySize : kLongEntrySize; }

// Big-endian stores into a byte span. Each checks that the field lies
// inside the span and returns false (writing nothing) when it does not.
inline bool StoreBE(std::span<uint8_t> out, size_t at, uint64_t value, size_t width) {
  if (at > out.size() || width > out.size() - at) return false;
  for (size_t i = 0; i < width; ++i)
    out[at + i] = static_cast<uint8_t>(value >> (8 * (width - 1 - i)));
  return true;
}

// Big-endian loads from a byte span. Each checks that the field lies inside
// the span and returns false (leaving *value alone) when it does not.
inline bool LoadBE(std::span<const uint8_t> in, size_t at, size_t width, uint64_t* value) {
  if (at > in.size() || width > in.size() - at) return false;
  uint64_t v = 0;
  for (size_t i = 0; i < width; ++i) v = (v << 8) | in[at + i];
  *value = v;
  return true;
}

inline bool LoadU16(std::span<const uint8_t> in, size_t at, uint16_t* v) {
  uint64_t x;
  if (!LoadBE(in, at, 2, &x)) return false;
  *v = static_cast<uint16_t>(x);
  return true;
}

inline bool LoadI16(std::span<const uint8_t> in, size_t at, int16_t* v) {
  uint16_t x;
  if (!LoadU16(in, at, &x)) return false;
  *v = static_cast<int16_t>(x);
  return true;
}

inline bool LoadU32(std::span<const uint8_t> in, size_t at, uint32_t* v) {
  uint64_t x;
  if (!LoadBE(in, at, 4, &x)) return false;
  *v = static_cast<uint32_t>(x);
  return true;
}

inline bool LoadI32(std::span<const uint8_t> in, size_t at, int32_t* v) {
  uint32_t x;
  if (!LoadU32(in, at, &x)) return false;
  *v = static_cast<int32_t>(x);
  return true;
}

}  // namespace msgc
