// Version texts are compared field by field from the left. Fields are
// separated by ".", "-" or "_"; two leading numbers compare as 32-bit
// integers, anything else as text.
#include "connect/osvercmp.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

bool Separator(char c) { return c == '.' || c == '-' || c == '_'; }
bool Digit(char c) { return c >= '0' && c <= '9'; }
int Sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

}  // namespace

TV_BEGIN_C

int osvercmp(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return a == b ? 0 : (a == nullptr ? -1 : 1);
  while (*a != '\0') {
    if (*b == '\0') return 1;
    if (!Digit(*a) || !Digit(*b)) {
      // Text fields: bytes over the shorter one, then the shorter first.
      const char* ea = a;
      while (*ea != '\0' && !Separator(*ea)) ++ea;
      const char* eb = b;
      while (*eb != '\0' && !Separator(*eb)) ++eb;
      if (*ea == '\0' || *eb == '\0') return Sign(std::strcmp(a, b));
      size_t la = static_cast<size_t>(ea - a), lb = static_cast<size_t>(eb - b);
      int c = std::memcmp(a, b, la < lb ? la : lb);
      if (c != 0) return Sign(c);
      if (la != lb) return la < lb ? -1 : 1;
      a = ea + 1;
      b = eb + 1;
      continue;
    }
    char* ea;
    char* eb;
    int32_t x = static_cast<int32_t>(std::strtol(a, &ea, 10));
    int32_t y = static_cast<int32_t>(std::strtol(b, &eb, 10));
    if (x != y) return x < y ? -1 : 1;
    bool end_a = *ea == '\0', end_b = *eb == '\0';
    bool sep_a = Separator(*ea), sep_b = Separator(*eb);
    if (end_a && end_b) return 0;
    if (sep_a && sep_b) {
      a = ea + 1;
      b = eb + 1;
      continue;
    }
    if (end_a && sep_b) return -1;  // the second text goes on
    if (end_b && sep_a) return 1;
    if (sep_a) return -1;  // a separator after only one number
    if (sep_b) return 1;
    return Sign(std::strcmp(ea, eb));
  }
  return *b == '\0' ? 0 : -1;
}

TV_END_C
