#include "locale/core/gl_calendar_kinds.h"

namespace {

const GlWchar kGregorianW[] = {'g', 'r', 'e', 'g', 'o', 'r', 'i', 'a', 'n', '\n', 0};
const GlWchar kHebrewW[] = {'h', 'e', 'b', 'r', 'e', 'w', '\n', 0};
const GlWchar kIslamicW[] = {'i', 's', 'l', 'a', 'm', 'i', 'c', '\n', 0};
const GlWchar kArabicW[] = {'a', 'r', 'a', 'b', 'i', 'c', '\n', 0};

}  // namespace

// Each name ends in four zero bytes, as texts of the data files do, so
// that it is terminated in every code set.
const GlCalendarKind _gl_calendar_kinds[] = {
    {"gregorian\n\0\0\0", kGregorianW, GL_CAL_GREGORIAN},
    {"hebrew\n\0\0\0", kHebrewW, GL_CAL_HEBREW},
    {"islamic\n\0\0\0", kIslamicW, GL_CAL_ISLAMIC},
    {"arabic\n\0\0\0", kArabicW, GL_CAL_ARABIC},
    {nullptr, nullptr, 0},
};

const GlCalendarKind *_gl_calendar_by_number(int32_t number) {
  for (const GlCalendarKind *k = _gl_calendar_kinds; k->name != nullptr; ++k) {
    if (k->number == number) return k;
  }
  return nullptr;
}
