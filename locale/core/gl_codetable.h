// Code tables: a trie over the 1-4 bytes of a character that maps each valid
// character of a code set to a fixed-size value and tells how long each
// character is. See gl_codetable.cc for the text form.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "locale/core/gl_ext.h"
#include "platform/api.h"

TV_BEGIN_C

// Per-byte states of a node.
enum { GL_CT_INVALID = 0, GL_CT_MORE = 1, GL_CT_END = 4 };
// Table flags.
enum { GL_CT_MARK_END = 1, GL_CT_SHARED = 2 };

typedef struct GlCodeNode {
  uint32_t reserved;
  int32_t child_count;     // while building: the next free child number
  int32_t shared_state;    // index into shared_states, -1 none (shared form)
  int32_t shared_values;   // index into shared_values, -1 none (shared form)
  unsigned char *states;   // 256 states, or NULL
  unsigned char *child_index;  // 256 child numbers for state-1 bytes, or NULL
  unsigned char *values;   // 256 slots of 2^shift bytes, or NULL
  struct GlCodeNode **children;  // child_count pointers, or NULL
} GlCodeNode;

typedef struct GlCodeTable {
  int32_t value_size;
  int32_t max_key_len;    // 0 when empty
  int32_t min_key_len;    // 4 when empty
  uint32_t flags;
  int32_t n_value_blocks;
  int32_t n_state_arrays;
  int32_t n_child_arrays;
  int32_t load_error;     // 0, 21 or 3
  GlCodeNode root;
  unsigned char *default_value;  // value_size bytes
  int32_t shift;          // slot width is 1 << shift
  unsigned char **shared_states;   // shared form only
  unsigned char **shared_values;   // shared form only
  int32_t *shared_child_counts;    // shared form only
} GlCodeTable;

// Reads one value of value_size bytes in its text form into dest.
typedef int (*GlCtValueReader)(GlFile *stream, void *dest, int32_t value_size);
// Writes one value in its text form (run-time stream).
typedef void (*GlCtValueWriter)(FILE *stream, const void *value);

GlCodeTable *_gl_ct_create(int32_t value_size, uint32_t flags, const void *default_value);
// key_len 1-4; value NULL marks the key valid with the default value.
int32_t _gl_ct_insert(int32_t key_len, const unsigned char *key, const void *value,
                      GlCodeTable *table);
int32_t _gl_ct_load(GlFile *stream, GlCodeTable *table, int32_t max_key_len,
                    GlCtValueReader reader);
void _gl_ct_dump(FILE *stream, GlCodeTable *table, GlCtValueWriter writer);
int32_t _gl_ct_share(GlCodeTable *table);
void _gl_ct_free(GlCodeTable *table);
int32_t _gl_ct_max_key_len(const GlCodeTable *table);
int32_t _gl_ct_min_key_len(const GlCodeTable *table);
int32_t _gl_ct_error(const GlCodeTable *table);
void _gl_ct_counts(const GlCodeTable *table, int32_t *value_blocks, int32_t *state_arrays,
                   int32_t *child_arrays);

// Look-ups: a pointer to the value (a slot, or the default value), or NULL
// with error 1 (invalid) or 7 (cut short) stored through _gl_ext_errno(obj).
const void *_gl_ct_lookup_mb(const GlCodeTable *t, const unsigned char *s, void *obj,
                             int32_t *len);
const void *_gl_ct_lookup_mb_value(const GlCodeTable *t, const unsigned char *s, void *obj);
int32_t _gl_ct_mblen(const GlCodeTable *t, const unsigned char *s, void *obj);
const void *_gl_ct_lookup_mbn(const GlCodeTable *t, const unsigned char *s, int32_t n,
                              int32_t *len, void *obj);
const void *_gl_ct_lookup_mbn_value(const GlCodeTable *t, const unsigned char *s, int32_t n,
                                    void *obj);
const void *_gl_ct_lookup_wc(const GlCodeTable *t, uint32_t wc, void *obj);
// unit_len 2 or 4 (the conversion object's unit); n bytes available.
const void *_gl_ct_lookup_unit(const GlCodeTable *t, const unsigned char *s, int32_t n,
                               int32_t unit_len, void *obj);
// No error number: NULL when the bytes are not a valid key.
const void *_gl_ct_lookup_key(const GlCodeTable *t, int32_t key_len, const unsigned char *key);

// Value readers and writers of the common 16-bit tables (4 hex digits),
// values held in native byte order.
int _gl_ct_read_hex16(GlFile *stream, void *dest, int32_t value_size);
void _gl_ct_write_hex16(FILE *stream, const void *value);

TV_END_C
