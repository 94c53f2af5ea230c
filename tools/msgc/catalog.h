// A message catalog in memory: what a source text declares and what a
// compiled message file holds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace msgc {

enum class FormChoice { kUnset, kAuto, kShort, kLong };
enum class Charset { kUnset, kLatin1, kUtf8 };

struct Message {
  int32_t number = 0;
  std::string text;   // the stored bytes, line feed included when present
  std::string where;  // "file:line" of the source entry, for errors
};

struct Catalog {
  std::string output;  // "@output": the file name the source asks for
  FormChoice form = FormChoice::kUnset;
  Charset charset = Charset::kUnset;
  std::vector<Message> messages;
};

const char* CharsetName(Charset c);

}  // namespace msgc
