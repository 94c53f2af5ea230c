// Rebuilding the 8-bit character tables from the C library's classes of
// the user's default locale (DBNLS mode), once per process. Each thread
// asks once; the first request decides the content, so the tables are
// never written while other threads read them.

#include <cctype>
#include <clocale>
#include <cstring>
#include <mutex>

#include "base/env.h"
#include "base/locale_state.h"
#include "base/nls_tables.h"
#include "base/thread_state.h"

namespace {

thread_local bool t_nls_done = false;

int RebuildFromCLibrary() {
  const bool set = std::setlocale(LC_CTYPE, "") != nullptr;
  ClientState* cs = rclientstate();
  if (cs == nullptr) return -1;
  for (int b = 0; b < 256; b++) {
    unsigned char c = 0;
    if (std::isupper(b)) c |= NLS_UPPER;
    if (std::islower(b)) c |= NLS_LOWER;
    if (std::isdigit(b)) c |= NLS_DIGIT;
    if (std::isspace(b)) c |= NLS_SPACE;
    if (std::ispunct(b)) c |= NLS_PUNCT;
    if (std::iscntrl(b)) c |= NLS_CNTRL;
    if (std::isxdigit(b)) c |= NLS_XDIGIT;
    if (std::isprint(b)) c |= NLS_BLANK;
    rnls_classtab[b + 1] = c;
    rnls_lowermap[b] = static_cast<unsigned char>(std::tolower(b));
    rnls_uppermap[b] = static_cast<unsigned char>(std::toupper(b));
  }
  std::memcpy(cs->class_table, rnls_classtab, sizeof cs->class_table);
  std::memcpy(cs->lower_map, rnls_lowermap, sizeof cs->lower_map);
  std::memcpy(cs->upper_map, rnls_uppermap, sizeof cs->upper_map);
  return set ? 0 : -1;
}

}  // namespace

TV_BEGIN_C

int rnlsinit(void) {
  if (t_nls_done) return 0;
  t_nls_done = true;
  static std::once_flag once;
  static int result = 0;
  std::call_once(once, [] {
    const int d = rdbnls();
    // Without DBNLS the built-in tables stay as they are: bytes 128 to 173
    // lower case, 174 to 255 punctuation.
    if (d == 1 || d == 2) result = RebuildFromCLibrary();
  });
  return result;
}

TV_END_C
