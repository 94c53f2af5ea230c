// The SQL keyword table: hashed in place on the first lookup.
//
// Hash: h = h * 65599 + c over the word's bytes taken as signed, plus 32
// for an upper-case ASCII letter, in 32 wrapping bits; the home slot is
// h mod 580. A row whose home slot is taken waits; after every row has
// been placed, each waiting row takes the lowest free slot at or after a
// scan position that only moves forward and joins the end of its home
// slot's chain.
#include <cstring>

#include "sqlruntime/keywords_internal.h"
#include "sqlruntime/names.h"

namespace {

SqliKeywordEntry g_table[SQLI_KEYWORD_COUNT];
int32_t g_unbuilt = 1;

uint32_t Hash(const char* word) {
  uint32_t h = 0;
  for (const char* p = word; *p != '\0'; ++p) {
    int32_t c = static_cast<signed char>(*p);
    h = h * 65599u + static_cast<uint32_t>(c);
    if (*p >= 'A' && *p <= 'Z') h += 32;
  }
  return h;
}

bool SameIgnoringCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    unsigned char x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
    if (x == 0) return true;
  }
}

void Build() {
  static SqliKeywordEntry rows[SQLI_KEYWORD_COUNT];
  for (int32_t i = 0; i < SQLI_KEYWORD_COUNT; ++i) {
    const SqliKeywordSource& s = kSqliKeywordSource[i];
    rows[i] = SqliKeywordEntry{Hash(s.name), i, -1, s.name, s.code, s.cls};
  }
  bool used[SQLI_KEYWORD_COUNT] = {};
  std::memset(g_table, 0, sizeof g_table);
  int32_t waiting[SQLI_KEYWORD_COUNT];
  int32_t nwaiting = 0;
  for (int32_t i = 0; i < SQLI_KEYWORD_COUNT; ++i) {
    int32_t b = static_cast<int32_t>(rows[i].hash % SQLI_KEYWORD_COUNT);
    if (!used[b]) {
      g_table[b] = rows[i];
      used[b] = true;
    } else {
      waiting[nwaiting++] = i;
    }
  }
  int32_t scan = 0;
  for (int32_t k = 0; k < nwaiting; ++k) {
    const SqliKeywordEntry& e = rows[waiting[k]];
    while (scan < SQLI_KEYWORD_COUNT && used[scan]) ++scan;
    if (scan >= SQLI_KEYWORD_COUNT) break;  // cannot happen: one slot per row
    g_table[scan] = e;
    used[scan] = true;
    int32_t at = static_cast<int32_t>(e.hash % SQLI_KEYWORD_COUNT);
    while (g_table[at].next >= 0) at = g_table[at].next;
    g_table[at].next = scan;
  }
  g_unbuilt = 0;
}

}  // namespace

TV_BEGIN_C

int32_t sqli_keyword_lookup(const char* word, int32_t* code, int32_t* cls) {
  if (code != nullptr) *code = 0;
  if (word == nullptr) return -1;
  if (g_unbuilt) Build();
  uint32_t h = Hash(word);
  for (int32_t at = static_cast<int32_t>(h % SQLI_KEYWORD_COUNT); at >= 0; at = g_table[at].next) {
    const SqliKeywordEntry& e = g_table[at];
    if (e.name != nullptr && e.hash == h && SameIgnoringCase(e.name, word)) {
      if (code != nullptr) *code = e.code;
      if (cls != nullptr) *cls = (e.cls == 1 || e.cls == 2) ? 0 : e.cls;
      return e.index;
    }
  }
  return -1;
}

int sqli_is_keyword(const char* word) {
  int32_t code = 0;
  return sqli_keyword_lookup(word, &code, nullptr) >= 0 && code == 1 ? 0 : -1;
}

const char* sqli_keyword_name(int32_t i) {
  return i >= 0 && i < SQLI_KEYWORD_COUNT ? kSqliKeywordSource[i].name : nullptr;
}

int32_t sqli_keyword_unbuilt(void) { return g_unbuilt; }

TV_END_C
