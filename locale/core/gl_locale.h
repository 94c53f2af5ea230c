// The locale object: the first argument of nearly every operation of the
// library, the place where it stores its error number, and the holder of
// the six categories of a locale.
#pragma once

#include <stdint.h>

#include "locale/core/gl_category_data.h"
#include "locale/core/gl_codetable.h"
#include "platform/api.h"

TV_BEGIN_C

// Category numbers; the per-category arrays are indexed by number - 2.
typedef enum GlCategory {
  GL_ALL = 1,
  GL_CTYPE = 2,
  GL_COLLATE = 3,
  GL_NUMERIC = 4,
  GL_MONETARY = 5,
  GL_TIME = 6,
  GL_MESSAGES = 7,
} GlCategory;

enum {
  GL_NCATEGORIES = 6,
  GL_CODESET_SIZE = 21,  // code-set name, at most 19 characters and NUL
  // Locale name of a category: up to 33 characters and the NUL.
  GL_NAME_SIZE = 34,
  GL_MAX_PASSES = 8,
};

// Collation kinds.
enum { GL_COLL_NONE = 0, GL_COLL_AS_SPECIFIED = 1, GL_COLL_THAI = 2, GL_COLL_ICU = 3 };

typedef struct GlLocale GlLocale;

typedef int32_t (*GlMbscollFn)(GlLocale *loc, const char *s1, const char *s2);
typedef int32_t (*GlMbfscollFn)(GlLocale *loc, const char *s1, int32_t l1, const char *s2,
                                int32_t l2);
typedef int32_t (*GlMbsxfrmFn)(GlLocale *loc, char *out, const char *s, int32_t size);
typedef int32_t (*GlMbstowcsFn)(GlLocale *loc, GlWchar *out, const char *s, int32_t count);
typedef int32_t (*GlMbfstowcfsFn)(GlLocale *loc, GlWchar *out, const char *s, int32_t len,
                                  int32_t count);

// A class the locale defines beyond the standard twelve.
typedef struct GlClassEntry {
  int32_t number;
  char *name;
} GlClassEntry;

typedef struct GlCasePair {
  uint32_t upper;
  uint32_t lower;
} GlCasePair;

struct GlLocale {
  int32_t error;  // must stay first: the default errno hook points here
  GlMbscollFn mbscoll;
  GlMbfscollFn mbfscoll;
  GlMbsxfrmFn mbsxfrm;
  GlMbstowcsFn mbstowcs;
  GlMbfstowcfsFn mbfstowcfs;
  int32_t last_char;
  double case_factor;
  double coll_expansion_factor;
  unsigned char *upper_map;  // 256 bytes, single-byte locales only
  unsigned char *lower_map;
  uint16_t *class_map;       // 256 class words
  int32_t single_byte;
  int32_t code_order;
  char **coll_ignorables;
  GlCollEquivalent *coll_equivalents;
  int32_t coll_icu;
  // LC_CTYPE
  GlCodeTable *class_table;
  int32_t class_count;
  GlClassEntry *classes;
  GlCodeTable *case_table;
  GlCasePair *case_pairs;  // used from index 1
  // LC_COLLATE
  GlCodeTable *coll_positions;
  int32_t coll_npasses;
  int32_t coll_maxpos;
  int32_t coll_nexpansions;
  int32_t coll_nelements;
  int32_t coll_maxweight;
  int32_t coll_direction[9];
  uint16_t *coll_weights[GL_MAX_PASSES];
  GlCollExpansion *coll_expansions;
  GlCollElement *coll_elements;
  int32_t coll_codeorder;
  GlCollExpansion **coll_sbexp[GL_MAX_PASSES];  // 256 entries each
  int32_t *coll_sbelemstart;                     // 256 flags
  int32_t coll_kind;
  // LC_NUMERIC, LC_MONETARY, LC_MESSAGES; LC_TIME; conventions
  GlNumericInfo numeric;
  GlTimeInfo time;
  GlLconv lconv;
  char codesets[GL_NCATEGORIES][GL_CODESET_SIZE];
  uint32_t wcodesets[GL_NCATEGORIES][GL_CODESET_SIZE];
  char names[GL_NCATEGORIES][GL_NAME_SIZE];
  uint32_t wnames[GL_NCATEGORIES][GL_NAME_SIZE];
  void *icu_locale[GL_NCATEGORIES];
  int32_t icu_in_use[GL_NCATEGORIES];
  int32_t icu_off;
  int32_t icu_saved[GL_NCATEGORIES];
};

// The category keyword ("GL_CTYPE" ...) of 2-7, else NULL.
const char *_gl_category_keyword(int32_t category);

// Creates a locale whose six categories hold the null contents. Without
// memory the caller's pointer gets the static error object (error 3), -1.
TV_API int32_t gl_create_null_locale_4(GlLocale **loc);
// The static error objects (error 3 memory, error 8 no locale file).
GlLocale *_gl_error_locale(int32_t error);
int32_t _gl_is_error_locale(const GlLocale *loc);
// Puts the null contents into one category (2-7); frees nothing else.
TV_API GlLocale *gl_make_null_category(GlLocale *loc, int32_t category);
// Frees every allocation of one category (2-7).
TV_API GlLocale *gl_free_category(GlLocale *loc, int32_t category);
// Frees what the object owns and not what it shares (cache aware).
TV_API void gl_free_nonshared_loc(GlLocale *loc);
// Frees a locale not in the cache with all its categories, or drops one
// reference of a cached one.
TV_API void gl_lc_unload(GlLocale *loc);
// Makes dst's category (all six for 1) share src's data.
TV_API int32_t gl_copy_cat(GlLocale *dst, GlLocale *src, int32_t category);
TV_API GlLconv *gl_localeconv(GlLocale *loc);

// Releases one category's ICU locale: closed only when no other category of
// the object holds the same handle.
void _gl_release_icu_locale(GlLocale *loc, int32_t category);
// Copies codesets and names into their widened forms.
void _gl_widen_names(GlLocale *loc);

// Collation slots for a category the ICU back end serves.
int32_t _gl_glu_mbscoll(GlLocale *loc, const char *s1, const char *s2);
int32_t _gl_glu_mbfscoll(GlLocale *loc, const char *s1, int32_t l1, const char *s2, int32_t l2);
int32_t _gl_glu_mbsxfrm(GlLocale *loc, char *out, const char *s, int32_t size);

TV_END_C
