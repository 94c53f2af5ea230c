// SET, MULTISET, LIST and ROW values on the client: their type description,
// cursors over their elements, the change log of inserts, updates and
// deletes not yet folded into the packed data, and the byte forms in which
// they travel (packed header, stored form with description). The layouts
// are described in collection.cc (packed element data, change log) and
// collection_forms.cc (headers, stored form).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/api.h"
#include "sqltypes/sqlvalue.h"

TV_BEGIN_C

// One node of a type tree, in pre-order.
typedef struct CollTypeEntry {
  int16_t seqno;
  int16_t level_no;
  int16_t parent_no;
  int16_t fieldnmlen;
  char fieldname[128];
  int16_t field_no;
  uint16_t type;    // SqlTypeCode; 0x100 NOT NULL, 0x1000 named type
  int16_t length;   // size, precision word or qualifier
  int32_t xid;
  uint16_t flags;   // 0x8000 repack on fold, 0x2 never compared by hash
  int16_t xtype_nm_len;
  char xtype_name[128];
  int16_t xtype_owner_len;
  char xtype_owner_name[128];
  int16_t align;
  int32_t srctype;
} CollTypeEntry;

#define CT_REPACK 0x8000
#define CT_NOHASH 0x2

// The type description: a header and ti_count entries after it, in one
// block (coll_typeinfo_alloc).
typedef struct CollTypeInfo {
  uint32_t ti_word;
  uint16_t ti_half;
  char ti_name[128];
  int16_t ti_count;
  CollTypeEntry ti_entry[1];  // ti_count entries (at least room for one)
} CollTypeInfo;

// Bytes of a description of n entries.
#define COLL_TYPEINFO_SIZE(n) \
  (offsetof(CollTypeInfo, ti_entry) + sizeof(CollTypeEntry) * ((n) < 1 ? 1 : (size_t)(n)))

typedef struct CollChangeLog {
  int32_t ch_rownum;
  int32_t ch_modtype;  // CH_INSERT, CH_UPDATE, CH_DELETE
  char* ch_newrow;
  int32_t ch_newrowlen;
  uint32_t ch_flag;
  struct CollChangeLog* ch_next;
  int32_t ch_alloclen;
} CollChangeLog;

#define CH_INSERT 0
#define CH_UPDATE 1
#define CH_DELETE 2
#define CHANGELOG_WITH_DATA 0x1

typedef struct CollCursor {
  int32_t cc_pos;           // 1..cardinality; 0 before the first
  char* cc_datapos;         // element (fixed) or its offset word (variable)
  char* cc_curdata;         // last data handed out by the runtime
  SqliCollection* cc_coll;
  CollChangeLog* cc_head;   // log entry at or before the position
  uint16_t cc_flags;        // CC_DELETED
  struct CollCursor* cc_next;
  int32_t cc_run;           // data elements passed since cc_head
} CollCursor;

#define CC_DELETED 0x4
#define CSEEK_SET 0
#define CSEEK_CUR 1
#define CSEEK_END 2

// cl_flags bits (COLL_ISNULL, COLL_OWNS_TYPEINFO, COLL_OWNS_DATA in sqlvalue.h).
#define COLL_SERVERFORM 0x10   // the server's form 0x2: nothing loaded
#define COLL_UNCOUNTED 0x20    // data loaded without counting its elements
#define COLL_INORDER 0x40      // readable only in order
#define COLL_LONGFORM 0x200    // header written in the long form
#define COLL_DATA_SHIFTED 0x4000000  // data starts 4 bytes into its block
#define COLL_MAGIC 0xdbdbdbdbu

// Packed header form flags.
#define CF_INLINE 0x1
#define CF_SERVER 0x2
#define CF_IMAGE 0x4
#define CF_REF 0x8
#define CF_UNCOUNTED 0x10
#define CF_LONG 0x20

// A zeroed description with room for n entries (ti_count set to n); free
// with free(). Null when out of memory.
CollTypeInfo* coll_typeinfo_alloc(int n);

// Collections (data side).
TV_API int zel_coll_init(SqliCollection* coll, CollTypeInfo* info, int typed, char* data,
                         int32_t len);
TV_API int zel_coll_free(SqliCollection* coll);
TV_API int zel_coll_curs_attach(SqliCollection* coll, CollCursor* cursor);
TV_API int zel_coll_curs_detach(SqliCollection* coll, CollCursor* cursor);
TV_API int cursor_seek(CollCursor* cursor, int32_t n, int whence);
TV_API int zel_coll_seek(SqliCollection* coll, CollCursor* cursor, int32_t n);
// *data null: receives a pointer into the collection; otherwise the
// element is copied there (the caller gives room for *size bytes, a nested
// collection as a 26-byte reference header).
TV_API int zel_coll_next(SqliCollection* coll, CollCursor* cursor, char** data, int32_t* size);
TV_API int zel_coll_insert(SqliCollection* coll, const char* data, int32_t len, int32_t pos);
TV_API int zel_coll_update(SqliCollection* coll, CollCursor* cursor, const char* data,
                           int32_t len);
TV_API int zel_coll_update_nth(SqliCollection* coll, int32_t n, const char* data, int32_t len);
TV_API int zel_coll_delete(SqliCollection* coll, CollCursor* cursor, int flags);
TV_API int zel_coll_tuple(SqliCollection* coll);

// Collection forms.
TV_API void zel_coll_nullhdr(char* buf);
// Writes the reference-form header; buf needs 26 bytes.
TV_API void zel_coll_puthdr(const SqliCollection* coll, char* buf);
TV_API int zel_coll_put_col(SqliCollection* coll, const char* packed);
TV_API int collcopy(const char* src, char* dst, CollTypeInfo* info, int typed, int dstflags);
TV_API int zel_coll_packed_size(int colltype, const CollChangeLog* entry);
TV_API int zel_coll_val_isnull(const char* packed, int32_t len, int type);
TV_API int stcollection(const SqliCollection* coll, char* dst, int longid);
TV_API int ldcollection(const char* src, SqliCollection* coll, int skipword, int longid);
TV_API int zel_coll_subtypeinfo(const SqliCollection* coll, CollTypeInfo** info, int field);
// The value comparison's shape (rvalcompare with an argument): operator 46
// is equality; the result's indicator and a non-zero value tell it holds.
typedef int (*CollCompareFn)(int op, SqlValue* left, SqlValue* right, void* arg,
                             SqlValue* result);
TV_API int zel_coll_equal(SqliCollection* a, SqliCollection* b, CollCompareFn cmp, int* isnull);
TV_API int zel_coll_find_dup(SqliCollection* set, const char* candidate, int32_t len, int32_t skip,
                             CollCompareFn cmp, void* arg);
TV_API int zel_coll_typetext(const CollTypeInfo* info, int lvarlen, char** text, int udtlen);
TV_API int zel_get_row_xid(const SqliCollection* coll, int* count);
TV_API const char* zel_get_row_extended_name(const SqliCollection* coll);
TV_API int zel_hex_dump(int size, const void* addr);
TV_API int rstmtparamcount(const char* text);

TV_END_C
