// Reading an environment file.
//
// Text, one setting per line: a name, white space, and the value to the
// end of the line (trailing blanks and a carriage return included). A '#'
// as the first byte makes the line a comment; empty lines are skipped; a
// last line without a newline is not read. Line numbers in messages count
// every line, comments and empty lines included.

#include <cstdlib>
#include <new>
#include <cstring>
#include <string>

#include "base/conn_calls.h"
#include "base/env.h"
#include "base/env_internal.h"
#include "platform/file_io.h"

#include <fcntl.h>

namespace tvbase {

namespace {

struct Special {
  const char* name;
  uint32_t bit;
};
constexpr Special kSpecials[] = {
    {"DBNLS", kEnvDbnls},           {"LANG", kEnvLang},
    {"LC_COLLATE", kEnvLcCollate},  {"LC_CTYPE", kEnvLcCtype},
    {"LC_MONETARY", kEnvLcMonetary}, {"LC_NUMERIC", kEnvLcNumeric},
    {"LC_TIME", kEnvLcTime},
};

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Buffered byte reader over a descriptor.
class ByteReader {
 public:
  explicit ByteReader(int fd) : fd_(fd) {}
  // The next byte, or -1 at end of file or on a read error.
  int Next() {
    if (pos_ == len_) {
      ssize_t r = tvp::Read(fd_, buf_, sizeof buf_);
      if (r <= 0) return -1;
      len_ = static_cast<size_t>(r);
      pos_ = 0;
    }
    return static_cast<unsigned char>(buf_[pos_++]);
  }

 private:
  int fd_;
  char buf_[4096];
  size_t pos_ = 0, len_ = 0;
};

// Handles one complete line: 0 to go on, -4 or -2 to stop.
int ProcessLine(const std::string& text, const char* path, int32_t line,
                const StringList* ignore, uint32_t* flags) {
  size_t name_end = 0;
  while (name_end < text.size() && !IsSpace(text[name_end])) name_end++;
  size_t value_start = name_end;
  while (value_start < text.size() && IsSpace(text[value_start])) value_start++;
  std::string name = text.substr(0, name_end);
  std::string value = text.substr(value_start);
  if (name.empty()) return 0;  // a line beginning with white space names nothing
  if (rstrlist_find(ignore, name.c_str()) >= 0) return 0;

  uint32_t bit = 0;
  for (const Special& s : kSpecials) {
    if (name == s.name) bit = s.bit;
  }
  if (bit != 0 && value.empty()) return 0;

  int32_t maxlen = osenv_maxlen(name.c_str());
  if (maxlen > 0 && value.size() > static_cast<size_t>(maxlen)) {
    osenv_print(stderr, "%s, line %d:", path, line);
    EnvTooLong(name.c_str(), maxlen, "osenv", 2224, -4);
    osenv_print(stderr, "Remaining lines of file %s will not be processed.", path);
    return -4;
  }
  EnvVarEntry* entry = EnvFind(name.c_str());
  if (entry == nullptr) return 0;  // not a known variable
  if (EnvPush(entry, value.c_str()) != 0) return -2;
  if (bit == kEnvDbnls) {
    if (value == "1" || value == "2") *flags |= bit;
  } else {
    *flags |= bit;
  }
  return 0;
}

}  // namespace

int EnvReadFile(const char* path, const StringList* ignore, uint32_t* flags, int32_t* line) {
  int fd = tvp::Open(path, O_RDONLY);
  if (fd < 0) return 0;  // an absent file counts as empty
  *line = 0;
  ByteReader in(fd);
  std::string text;
  int result = 0;
  try {
  for (;;) {
    int c = in.Next();
    if (c < 0) break;
    (*line)++;
    if (c == '#') {
      while (c >= 0 && c != '\n') c = in.Next();
      if (c < 0) break;
      continue;
    }
    if (c == '\n') continue;
    text.assign(1, static_cast<char>(c));
    while ((c = in.Next()) >= 0 && c != '\n') text.push_back(static_cast<char>(c));
    if (c < 0) break;  // a last line without a newline is not read
    result = ProcessLine(text, path, *line, ignore, flags);
    if (result != 0) break;
  }
  } catch (const std::bad_alloc&) {
    // A line that cannot grow ends the reading as at end of file.
  }
  os_close(fd);
  return result;
}

}  // namespace tvbase
