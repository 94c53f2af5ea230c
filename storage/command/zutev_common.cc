// Usage texts, the yes/no prompt and the command-word table.
#include <cstdio>
#include <cstring>

#include "base/fields.h"
#include "base/msgfile.h"
#include "base/os_files.h"
#include "storage/command/zutev.h"

namespace {

struct CommandWord {
  const char* word;
  int32_t code;
};

constexpr CommandWord kCommandWords[] = {
    {"ADD", ZUTEV_ADD},       {"DEL", ZUTEV_DEL},       {"UPDATE", ZUTEV_UPDATE},
    {"MOVE", ZUTEV_MOVE},     {"COPY", ZUTEV_COPY},     {"CHECK", ZUTEV_CHECK},
    {"EXPORT", ZUTEV_EXPORT}, {"IMPORT", ZUTEV_IMPORT}, {"LIST", ZUTEV_LIST},
    {"FREE", ZUTEV_FREE},     {"DUMP", ZUTEV_DUMP},     {"INIT", ZUTEV_INIT},
    {"DETAIL", ZUTEV_DETAIL}, {"UNLOCK", ZUTEV_UNLOCK}, {"SCAN", ZUTEV_SCAN},
    {"PURGE", ZUTEV_PURGE},
};

constexpr uint32_t kAnswerMax = 80;

void UsageLine(const char* format, const char* argument) {
  std::fprintf(stderr, format, argument);
  std::fputc('\n', stderr);
}

}  // namespace

void zutevUsage(const char* program) { UsageLine(SM_MSG(87000), program); }
void zutevUsageCatalog() { UsageLine(SM_MSG(87002), kZutevName); }
void zutevUsageDevice() { UsageLine(SM_MSG(87003), kZutevName); }
void zutevUsageObject() { UsageLine(SM_MSG(87004), kZutevName); }
void zutevUsagePool() { UsageLine(SM_MSG(87005), kZutevName); }

int zutevConfirm(const char* question) {
  std::fputs(question, stderr);
  std::fflush(stderr);
  char answer[kAnswerMax];
  int32_t n = os_read(0, answer, kAnswerMax);
  return n >= 1 && os_strnicmp(answer, "y", 1) == 0 ? 1 : 0;
}

int32_t zutevCommandCode(char* word) {
  rupshift(word);
  for (const CommandWord& w : kCommandWords) {
    if (std::strcmp(word, w.word) == 0) return w.code;
  }
  return -1;
}
