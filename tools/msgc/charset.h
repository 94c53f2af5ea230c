// Conversion of message texts between the source's UTF-8 and the stored
// code set.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace msgc {

// Decodes one UTF-8 sequence at text[*pos]; on success stores the code
// point, advances *pos and returns true. Overlong forms, surrogates and
// truncated sequences are refused.
bool NextUtf8(std::string_view text, size_t* pos, uint32_t* code_point);

// Appends the UTF-8 form of a code point.
void AppendUtf8(uint32_t code_point, std::string* out);

}  // namespace msgc
