#include "storage/command/sm_util.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/os_accounts.h"
#include "sqltypes/datetime_clock.h"

void* sm_zalloc(size_t size) {
  void* block = std::calloc(size == 0 ? 1 : size, 1);
  if (block == nullptr) std::fputs("malloc() failure\n", stderr);
  return block;
}

void sm_free(void** pointer) {
  if (pointer == nullptr || *pointer == nullptr) return;
  std::free(*pointer);
  *pointer = nullptr;
}

bool sm_is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int sm_trim_trailing(char* text) {
  if (text == nullptr) return 0;
  size_t len = std::strlen(text);
  size_t end = len;
  while (end > 0 && sm_is_blank(text[end - 1])) --end;
  if (end == len) return 0;
  text[end] = '\0';
  return static_cast<int>(end);
}

char* sm_skip_blanks(char* text) {
  if (text == nullptr) return nullptr;
  while (sm_is_blank(*text)) ++text;
  return text;
}

uint64_t sm_hash_string(const char* text) {
  uint64_t h = 7877;
  for (const char* p = text; p != nullptr && *p != '\0'; ++p) {
    h = h * 7919 + static_cast<uint64_t>(static_cast<int64_t>(static_cast<signed char>(*p)));
  }
  return h;
}

struct tm* sm_localtime(const int64_t* seconds, struct tm* out) {
  if (seconds == nullptr || out == nullptr) return nullptr;
  std::memset(out, 0, sizeof *out);
  if (zel_localtime(seconds, out) == nullptr) return nullptr;
  // The conversion marks a time it cannot convert with -1 in every field.
  if (out->tm_sec == -1 && out->tm_min == -1 && out->tm_hour == -1 && out->tm_mday == -1 &&
      out->tm_mon == -1 && out->tm_year == -1) {
    return nullptr;
  }
  return out;
}

char* sm_format_time(const struct tm* time, char* buffer, size_t size) {
  if (time == nullptr || buffer == nullptr || size < 20) return nullptr;
  std::snprintf(buffer, size, "%04d-%02d-%02d %02d:%02d:%02d", time->tm_year + 1900,
                time->tm_mon + 1, time->tm_mday, time->tm_hour, time->tm_min, time->tm_sec);
  return buffer;
}

int sm_timestamp_suffix(char* text, size_t size) {
  size_t len = std::strlen(text);
  if (size < len || size - len < 20) return -1;
  int64_t now = static_cast<int64_t>(std::time(nullptr));
  struct tm fields;
  if (sm_localtime(&now, &fields) == nullptr) return -1;
  char stamp[32];
  if (std::strftime(stamp, sizeof stamp, "%Y%m%d.%H%M%S", &fields) == 0) return -1;
  std::snprintf(text + len, size - len, ".%s", stamp);
  return 0;
}

OsUserEntry* sm_getpwuid(uint16_t uid, OsUserEntry* out, char*, size_t) {
  OsUserEntry* entry = os_userbyuid(uid);
  if (entry == nullptr || out == nullptr) return nullptr;
  *out = *entry;
  return out;
}
