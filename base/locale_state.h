// The process-wide locale state of the client libraries and the steps of
// the locale start-up.
//
// One ClientLocaleState per process, written by the start-up (which runs on
// one thread before others use the locale) and read-only afterwards. The
// converter handles are conversion objects of the locale library; a null
// handle means both sides share a code set and bytes are copied.
#pragma once

#include <stdint.h>

#include "locale/core/gl_cvo.h"
#include "locale/core/gl_locale.h"
#include "platform/api.h"

TV_BEGIN_C

// Category name slots, in this order.
enum {
  RGL_CAT_CTYPE = 0,
  RGL_CAT_COLLATE = 1,
  RGL_CAT_NUMERIC = 2,
  RGL_CAT_MONETARY = 3,
  RGL_CAT_TIME = 4,
  RGL_CAT_MESSAGES = 5,
  RGL_NCATS = 6,
  RGL_CATNAME_SIZE = 37,  // 36 characters and the NUL
  RGL_SPEC_MAX = 285,     // longest locale specification accepted
};

// Error numbers of the locale start-up and the conversion front.
enum {
  RGL_E_LOAD = -23101,
  RGL_E_NOMEM = -23102,
  RGL_E_BADCHAR = -23103,
  RGL_E_CVOPEN = -23104,
  RGL_E_NLSCTYPE = -23109,
  RGL_E_ENV = -23110,
  RGL_E_BADARG = -23112,
  RGL_E_CONVERT = -23113,
  RGL_E_CODESETS = -23115,
  RGL_E_NOTSINGLE = -34394,
  RGL_E_DATE_NOMEM = -1211,
  RGL_E_DATE_FORMAT = -1212,
  RGL_E_DATE_ARG = -1218,
};

// A list of names: nodes newest first, each holding count text pointers
// whose texts live in the same allocation.
typedef struct RglNameNode {
  int32_t count;
  struct RglNameNode* next;
  char** names;  // count pointers; a missing name is null
} RglNameNode;

typedef struct ClientLocaleState {
  GlLocale* client;    // the client's locale, current for every client library
  GlLocale* primary;   // a second reference to the client locale
  GlLocale* database;  // DB_LOCALE's locale, or the client locale
  GlConverter* client_to_db;
  GlConverter* db_to_client;
  GlConverter* client_to_fs;
  GlConverter* fs_to_client;
  char categories[RGL_NCATS][RGL_CATNAME_SIZE];
  int32_t dbnls;
  int16_t mode;          // 1, the client mode
  int16_t inited_modes;  // mode bits that completed
  int32_t in_progress;
  uint32_t flags;        // RGL_FLAG_* of client_locale.h
  void** glu_cell;       // the ICU glue record, once made

  // Date format: the locale library's notation ("%m/%d/%iY").
  char* date_format;
  int32_t date_format_owned;  // 1 when date_format was allocated here
  int32_t date_known;
  int32_t date_order[3];      // 1 day, 2 month, 3 year, 0 none
  int32_t date_kind;          // 0 none, 1 J/N, 2 C, 3 E/G
  int32_t date_explicit;      // 1 from DBDATE or the built-in format
  int32_t gregorian;

  RglNameNode* month_abbr;
  RglNameNode* month_full;
  RglNameNode* era_names;  // era entries' second text field
  RglNameNode* era_formats;  // era entries' first text field
} ClientLocaleState;

ClientLocaleState* rgllocstate(void);

int rglinit_mode(int32_t mode);
int rglregister(int32_t mode);
int rglinit_client(void);
// 0 with a new locale in *out, or -1 / -23101 / a library error number,
// also stored in the locale error word. flags receives, per category,
// whether its name was loaded as a locale-object file name.
int rglloadlocale(GlLocale** out, const char* spec, int32_t flags[RGL_NCATS]);
// Frees what a failed gl_cv_load left in its out object (the library's
// static error objects stay).
void rglcvdrop(GlConverter* cv);
int rglconverters(const char* db, const char* client, const char* fs1, const char* fs2);
int rglmaperror(void);
int rdbnls(void);
// Builds the 8-bit tables for the calling thread; 0 or -1.
int rnlsinit(void);
// Writes the locale name that a locale-object file name stands for (*flag 1),
// or the part after its first '/' (*flag 0). out holds RGL_CATNAME_SIZE.
void rlocfname2spec(const char* fname, char* out, int32_t* flag);

// Date format and name lists.
int rdbdate2lxrfmt(const char* dbdate, char** out, int32_t* kind, int32_t order[3], char* buf);
TV_API int nogetenv_getlxrfmt(const char* dbdate, const char* gldate, char* buf, int32_t flag);
// Settles the date format and rebuilds the name lists; 0 or the error of
// nogetenv_getlxrfmt (also in the error word).
int rgldateinit(void);
// Lower-cases a NUL-terminated text in place in the client locale; buf
// holds at least four bytes per byte of the text plus one.
void rgllowername(char* buf, int32_t size);

TV_END_C
