// The lower-cased month-name and era lists of the client locale, and the
// date initialisation that settles the format and rebuilds them.

#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/locale_state.h"
#include "base/thread_state.h"
#include "locale/core/gl_ctype.h"
#include "locale/core/gl_langinfo.h"
#include "locale/core/gl_mbchar.h"
#include "locale/format/gl_timeinfo.h"

namespace {

constexpr int32_t kLangInfoCalendar = 73;
constexpr int32_t kFullMonths = 3;
constexpr int32_t kAbbrMonths = 4;
constexpr int32_t kEraFirst = 5;
constexpr int32_t kEraSecond = 6;

const char* const kEnglishAbbr[12] = {"jan", "feb", "mar", "apr", "may", "jun",
                                      "jul", "aug", "sep", "oct", "nov", "dec"};
const char* const kEnglishFull[12] = {"january", "february", "march",     "april",
                                      "may",     "june",     "july",      "august",
                                      "september", "october", "november", "december"};

void FreeList(RglNameNode** list) {
  while (RglNameNode* n = *list) {
    *list = n->next;
    std::free(n);
  }
}

// Pushes one node holding copies of the names (each in a buffer of four
// bytes per byte plus one), lower-cased when asked.
void Push(RglNameNode** list, const char* const* names, int32_t count, bool lower) {
  size_t bytes = sizeof(RglNameNode) + sizeof(char*) * static_cast<size_t>(count);
  for (int32_t i = 0; i < count; i++) {
    if (names[i] != nullptr) bytes += std::strlen(names[i]) * 4 + 1;
  }
  auto* node = static_cast<RglNameNode*>(std::calloc(1, bytes));
  if (node == nullptr) return;
  node->count = count;
  node->names = reinterpret_cast<char**>(node + 1);
  char* text = reinterpret_cast<char*>(node->names + count);
  for (int32_t i = 0; i < count; i++) {
    if (names[i] == nullptr) continue;
    const size_t size = std::strlen(names[i]) * 4 + 1;
    std::strcpy(text, names[i]);
    if (lower) rgllowername(text, static_cast<int32_t>(size));
    node->names[i] = text;
    text += size;
  }
  node->next = *list;
  *list = node;
}

void* TimeInfoAlloc(size_t size) { return std::malloc(size); }

// Rebuilds a list from one item of the locale's calendar texts; the
// English names go on top when given.
void Rebuild(RglNameNode** list, GlLocale* loc, int32_t item, const char* const* english) {
  FreeList(list);
  char** texts = nullptr;
  int32_t count = 0;
  if (loc != nullptr && gl_mbstimeinfo_ext(loc, item, &texts, &count, TimeInfoAlloc) == 0 &&
      texts != nullptr) {
    Push(list, texts, count, true);
  }
  if (texts != nullptr) {
    for (int32_t i = 0; i < count; i++) std::free(texts[i]);
    std::free(texts);
  }
  if (english != nullptr) Push(list, english, 12, false);
}

}  // namespace

TV_BEGIN_C

void rgllowername(char* buf, int32_t size) {
  GlLocale* loc = rgllocstate()->client;
  if (loc == nullptr || loc->mbstowcs == nullptr || buf == nullptr) return;
  const size_t len = std::strlen(buf);
  GlWchar stack[20];
  std::vector<GlWchar> heap;
  GlWchar* wide = stack;
  if (len > 16) {
    heap.resize(len + 1);
    wide = heap.data();
  }
  const int32_t n = loc->mbstowcs(loc, wide, buf, static_cast<int32_t>(len + 1));
  if (n < 0) return;
  wide[n] = 0;
  for (int32_t i = 0; i < n; i++) {
    GlWchar& wc = wide[i];
    if (loc->single_byte) {
      if (wc > 255) {
        loc->error = 1;
        continue;
      }
      if (loc->class_map != nullptr && (loc->class_map[wc] & GL_CLASS_UPPER) != 0 &&
          loc->lower_map != nullptr) {
        wc = loc->lower_map[wc];
      }
    } else if (_gl_im_iswctype(loc, wc, GL_CLASS_UPPER) != 0) {
      wc = _gl_im_towlower(loc, wc);
    }
  }
  std::vector<char> out(static_cast<size_t>(size) + 1);
  const int32_t w = loc->single_byte ? _gl_is_wcstombs(loc, out.data(), wide, size)
                                     : gl_full_wcstombs(loc, out.data(), wide, size);
  if (w < 0 || w >= size) return;
  std::memcpy(buf, out.data(), static_cast<size_t>(w));
  buf[w] = '\0';
}

int rgldateinit(void) {
  ClientLocaleState* st = rgllocstate();
  if (st->date_format_owned) std::free(st->date_format);
  st->date_format = nullptr;
  st->date_format_owned = 0;
  st->date_known = 0;
  std::memset(st->date_order, 0, sizeof st->date_order);
  st->date_kind = 0;
  st->date_explicit = 0;
  if (int r = nogetenv_getlxrfmt(nullptr, nullptr, nullptr, 0); r != 0) return rsetglerror(r);

  GlLocale* loc = st->client;
  const char* calendar = loc != nullptr ? gl_nl_langinfo(loc, kLangInfoCalendar) : nullptr;
  st->gregorian = calendar != nullptr && std::strncmp(calendar, "gregorian", 9) == 0 ? 1 : 0;
  Rebuild(&st->month_abbr, loc, kAbbrMonths, st->gregorian ? kEnglishAbbr : nullptr);
  Rebuild(&st->month_full, loc, kFullMonths, st->gregorian ? kEnglishFull : nullptr);
  Rebuild(&st->era_names, loc, kEraSecond, nullptr);
  Rebuild(&st->era_formats, loc, kEraFirst, nullptr);
  return 0;
}

TV_END_C
