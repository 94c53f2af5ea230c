// Growable list of owned strings.

#include <cstdlib>
#include <cstring>

#include "base/thread_state.h"

namespace {
constexpr uint32_t kGrowth = 16;
}

StringList* rstrlist_new(void) {
  auto* list = static_cast<StringList*>(std::malloc(sizeof(StringList)));
  if (list == nullptr) return nullptr;
  list->strings = static_cast<char**>(std::malloc(kGrowth * sizeof(char*)));
  if (list->strings == nullptr) {
    std::free(list);
    return nullptr;
  }
  list->count = 0;
  list->capacity = kGrowth;
  return list;
}

int32_t rstrlist_add(StringList* list, const char* s) {
  if (list == nullptr || s == nullptr) return -1;
  if (list->count >= list->capacity) {
    if (list->capacity > INT32_MAX - kGrowth) return -1;
    uint32_t cap = list->capacity + kGrowth;
    // A failed growth leaves the list as it was: what it holds stays valid.
    auto* grown = static_cast<char**>(std::realloc(list->strings, cap * sizeof(char*)));
    if (grown == nullptr) return -1;
    list->strings = grown;
    list->capacity = cap;
  }
  char* copy = strdup(s);
  if (copy == nullptr) return -1;
  list->strings[list->count] = copy;
  return static_cast<int32_t>(list->count++);
}

int32_t rstrlist_find(const StringList* list, const char* s) {
  if (list == nullptr || s == nullptr) return -1;
  for (uint32_t i = 0; i < list->count; i++) {
    if (std::strcmp(list->strings[i], s) == 0) return static_cast<int32_t>(i);
  }
  return -1;
}

void rstrlist_free(StringList* list) {
  if (list == nullptr) return;
  for (uint32_t i = 0; i < list->count; i++) std::free(list->strings[i]);
  if (list->capacity != 0) std::free(list->strings);
  std::free(list);
}
