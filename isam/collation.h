// The collation check: a file whose keys compare through a locale's
// collation records that locale's name, and is used only under the same one.
#pragma once

#include "isam/header.h"
#include "locale/core/gl_locale.h"

namespace isam {

// Fills the current locale's collation name, blank-padded to 36 bytes;
// 0, or -1 with iserrno 159 when it cannot be had.
int is_currentcollation(char name[kCollNameSize]);

// Where the name comes from: by default the client locale of the base
// services (its collation category as a locale specification). The source
// writes a NUL-terminated name and returns 0, or returns -1.
extern int (*is_collationsource)(char* name, int size);

// The locale whose collation orders collated key parts: the client locale
// of the base services, made ready as for the name check; NULL (code
// order) when it cannot be had.
GlLocale* is_collationlocale();

// 0 when the current file's header names the current collation, -1 with
// iserrno 117 when it names another (159 when there is none to compare).
int is_checkcollation();

// Writes the current collation name into the current file's header and
// sets its collation flag; 0, or -1 with 159.
int is_setcollation();

}  // namespace isam
