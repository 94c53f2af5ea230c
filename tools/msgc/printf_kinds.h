// The printf argument list of a message text. Every message is used as a
// printf format by its callers, so the compiler checks that the conversions
// of each text take exactly the arguments its entry declares.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace msgc {

// Argument kinds, as written in a source entry's brackets:
//   s    char*                d    int (also %c's int: declared c)
//   u    unsigned (%u %o %x)  c    int shown as a character
//   ld   long                 lu   unsigned long
//   lld  long long            llu  unsigned long long
//   f    double               p    pointer (%p; also a bare %lx or %-lx,
//                                   which the storage manager's reader
//                                   turns into %p before use)
// A '*' width or precision takes an int argument (kind d) of its own.
bool IsKnownKind(std::string_view kind);

// Parses the conversions of a format text into their argument kinds.
// Returns false with a reason in *error for a conversion that a message
// may not hold: positional arguments, %n, wide characters, long double,
// unknown letters, or a '%' at the end of the text.
bool FormatKinds(std::string_view text, std::vector<std::string>* kinds, std::string* error);

// "[s d]" form of a kind list, for messages and the dump.
std::string KindList(const std::vector<std::string>& kinds);

}  // namespace msgc
