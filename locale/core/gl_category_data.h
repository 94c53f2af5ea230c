// The text categories of a locale object: LC_NUMERIC, LC_MONETARY and
// LC_MESSAGES (GlNumericInfo), LC_TIME (GlTimeInfo), the conventions record
// (GlLconv), and the collation records that LC_COLLATE holds.
#pragma once

#include <stdint.h>

#include "platform/api.h"

TV_BEGIN_C

typedef uint32_t GlWchar;  // the character's bytes read as one big-endian number

// A text read from a data file (ending in four zero bytes) and its wide form.
typedef struct GlText {
  char *mb;
  GlWchar *wc;
} GlText;

// A list of integers: count (0-15), then the values.
enum { GL_INT_LIST_SIZE = 16 };

typedef struct GlNumericInfo {
  GlText decimal_point;    // LC_NUMERIC
  GlText thousands_sep;
  int32_t grouping[GL_INT_LIST_SIZE];
  GlText int_curr_symbol;  // LC_MONETARY
  GlText currency_symbol;
  GlText mon_decimal_point;
  GlText mon_thousands_sep;
  int32_t mon_grouping[GL_INT_LIST_SIZE];
  GlText positive_sign;
  GlText negative_sign;
  GlText num_positive_sign;  // LC_NUMERIC's own signs
  GlText num_negative_sign;
  // LC_MONETARY; INT32_MAX means not given.
  int32_t int_frac_digits;
  int32_t frac_digits;
  int32_t p_cs_precedes;
  int32_t p_sep_by_space;
  int32_t n_cs_precedes;
  int32_t n_sep_by_space;
  int32_t p_sign_posn;
  int32_t n_sign_posn;
  GlText msg_text[4];  // LC_MESSAGES, in file order
} GlNumericInfo;

// One node of a name trie (first child, next sibling).
typedef struct GlTrieNode {
  GlWchar ch;
  int32_t payload;
  int32_t word_end;
  struct GlTrieNode *first_child;
  struct GlTrieNode *next_sibling;
} GlTrieNode;
typedef GlTrieNode *GlNameTrie;

enum {
  GL_TRIE_ABDAY = 0,
  GL_TRIE_DAY,
  GL_TRIE_ABMON,
  GL_TRIE_MON,
  GL_TRIE_ERA_NAME2,
  GL_TRIE_ERA_NAME,
  GL_TRIE_ALT_DIGITS,
  GL_TRIE_AM_PM,
  GL_TRIE_COUNT
};

typedef struct GlEraRecord {
  int32_t direction;  // +1 or -1
  int32_t offset;
  int32_t start_day, start_month, start_year;
  int32_t end_day, end_month, end_year;  // 0 when open
  int32_t end_kind;   // 0 a date, 1 open to the future, -1 open to the past
  char *name;
  char *name2;
  char *format;
  GlWchar *format_wc;
} GlEraRecord;

typedef struct GlTimeInfo {
  int32_t calendar;  // 1 gregorian, 2 hebrew, 3 islamic, 4 arabic; 0 null
  char *abday[7];
  GlWchar *abday_wc[7];
  char *day[7];
  GlWchar *day_wc[7];
  char **abmon;
  GlWchar **abmon_wc;
  int32_t abmon_count;
  char **mon;
  GlWchar **mon_wc;
  int32_t mon_count;
  char *am_pm[2];
  GlWchar *am_pm_wc[2];
  char **alt_digits;
  GlWchar **alt_digits_wc;
  int32_t alt_digits_count;
  GlNameTrie tries[GL_TRIE_COUNT];
  char *d_fmt, *d_t_fmt, *t_fmt, *t_fmt_ampm, *era_d_fmt, *era_d_t_fmt, *era_t_fmt;
  GlWchar *d_fmt_wc, *d_t_fmt_wc, *t_fmt_wc, *t_fmt_ampm_wc, *era_d_fmt_wc, *era_d_t_fmt_wc,
      *era_t_fmt_wc;
  char **era;
  GlEraRecord **era_records;
  int32_t era_count;
  GlText era_joined;
  GlText alt_digits_joined;
} GlTimeInfo;

// The conventions record gl_localeconv returns; its strings are the
// record's own copies.
typedef struct GlLconv {
  GlText decimal_point;  // numeric half
  GlText thousands_sep;
  char *grouping;
  GlText int_curr_symbol;  // monetary half
  GlText currency_symbol;
  GlText mon_decimal_point;
  GlText mon_thousands_sep;
  char *mon_grouping;
  GlText positive_sign;
  GlText negative_sign;
  GlText num_positive_sign;  // numeric half
  GlText num_negative_sign;
  char int_frac_digits;  // monetary half; 127 when not given
  char frac_digits;
  char p_cs_precedes;
  char p_sep_by_space;
  char n_cs_precedes;
  char n_sep_by_space;
  char p_sign_posn;
  char n_sign_posn;
} GlLconv;

// LC_COLLATE records.
typedef struct GlCollElement {
  uint64_t count;   // 1-15
  GlWchar *chars;
  uint16_t position;
} GlCollElement;

typedef struct GlCollExpansion {
  uint64_t count;   // 1-15
  GlWchar *chars;
} GlCollExpansion;

// All members of one class share one representative allocation.
typedef struct GlCollEquivalent {
  char *member;           // NULL closes the array
  char *representative;
} GlCollEquivalent;

// Weight values of the collation tables.
enum {
  GL_COLL_IGNORE = 1,
  GL_COLL_EXPANSION = 0x4000,
  GL_COLL_BYCODE = 0x8000,
};

TV_END_C
