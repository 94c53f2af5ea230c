// Collections: element data, cursors and the change log.
//
// Packed element data (cl_data, cl_datalen bytes):
//   fixed-size values   elements back to back, cl_elsize bytes each
//   variable-size       element bytes from offset 0, the word 0xFFFFFFFF,
//                       then one big-endian offset word per element in
//                       reverse order: the last 4 bytes hold element 1's
//                       offset. Element i ends where element i + 1 starts,
//                       the last one at the 0xFFFFFFFF word.
// A ROW's elements are its fields (variable layout); its count comes from
// the description.
//
// The change log lists inserts, updates and deletes not yet folded into the
// data, in ascending ch_rownum. An entry with CHANGELOG_WITH_DATA stands in
// place of one data element (an update that replaced it, or a delete that
// removed it); delete entries are not visible. A cursor keeps the entry at
// or before it (cc_head) and the data elements passed since (cc_run); the
// walk from entry to entry is cursor_seek.
#include <stdlib.h>
#include <string.h>

#include <new>

#include "base/thread_state.h"
#include "sqltypes/collection.h"
#include "sqltypes/collection_internal.h"
#include "sqltypes/value_stored.h"

CollAllocator coll_allocator = {malloc, free};

void* coll_alloc(size_t size) { return coll_allocator.alloc(size); }
void coll_release(void* block) {
  if (block != nullptr) coll_allocator.release(block);
}

char* coll_data_alloc(size_t n, bool* shifted) {
  auto* block = static_cast<char*>(coll_alloc(n + 4));
  *shifted = false;
  if (block == nullptr) return nullptr;
  if (reinterpret_cast<uintptr_t>(block) % 8 != 0) {
    *shifted = true;
    return block + 4;
  }
  return block;
}

void coll_data_free(char* data, bool shifted) {
  if (data != nullptr) coll_release(shifted ? data - 4 : data);
}

void coll_drop_data(SqliCollection* c) {
  if ((c->cl_flags & COLL_OWNS_DATA) != 0)
    coll_data_free(c->cl_data, (c->cl_flags & COLL_DATA_SHIFTED) != 0);
  c->cl_flags &= ~(COLL_OWNS_DATA | COLL_DATA_SHIFTED);
  c->cl_data = nullptr;
}

CollTypeInfo* coll_typeinfo_alloc(int n) {
  if (n < 0 || n > 32767) return nullptr;
  auto* info = static_cast<CollTypeInfo*>(calloc(1, COLL_TYPEINFO_SIZE(n)));
  if (info != nullptr) info->ti_count = static_cast<int16_t>(n);
  return info;
}

const CollTypeInfo* coll_info(const SqliCollection* c) {
  return c->cl_typeinfo != nullptr ? c->cl_typeinfo : c->cl_svr_typeinfo;
}

const CollTypeEntry* coll_elem_entry(const CollTypeInfo* info) {
  if (info == nullptr || info->ti_count < 1) return nullptr;
  return info->ti_count >= 2 ? &info->ti_entry[1] : &info->ti_entry[0];
}

bool coll_is_row(const CollTypeInfo* info) {
  return info != nullptr && info->ti_count >= 1 && (info->ti_entry[0].type & 0xFF) == SQLROW;
}

const CollTypeEntry* coll_row_field(const CollTypeInfo* info, int n) {
  if (info == nullptr || info->ti_count < 1 || n < 1) return nullptr;
  const int level = info->ti_entry[0].level_no + 1;
  for (int i = 1; i < info->ti_count; i++)
    if (info->ti_entry[i].level_no == level && --n == 0) return &info->ti_entry[i];
  return nullptr;
}

namespace {

int FieldCount(const CollTypeInfo* info) {
  int n = 0;
  const int level = info->ti_entry[0].level_no + 1;
  for (int i = 1; i < info->ti_count; i++) n += info->ti_entry[i].level_no == level;
  return n;
}

bool IsDecimalLike(int t) {
  return t == SQLDECIMAL || t == SQLMONEY || t == SQLDTIME || t == SQLINTERVAL;
}

// Size an entry adds to the element size; *variable set for variable types.
int32_t EntrySize(const CollTypeEntry& e, bool* variable) {
  const int t = e.type & 0xFF;
  const auto len = static_cast<uint16_t>(e.length);
  if (coll_is_colltype(t)) {
    *variable = true;
    return 16;
  }
  if (t == SQLUDTVAR || t == SQLUDTFIXED || t == SQLLVARCHAR || t == SQLBOOL) {
    *variable = true;
    return len + 5;
  }
  if (t == SQLVCHAR || t == SQLNVCHAR) {
    *variable = true;
    return len;
  }
  if (IsDecimalLike(t)) return stored_decimal_size(len);
  return len;
}

void SetSizes(SqliCollection* c, const CollTypeInfo* info) {
  bool variable = false;
  int32_t size = 0;
  for (int i = 1; i < info->ti_count; i++) size += EntrySize(info->ti_entry[i], &variable);
  const int t0 = info->ti_count >= 1 ? info->ti_entry[0].type & 0xFF : 0;
  if (t0 == SQLROW) variable = true;
  if (info->ti_count >= 2 && (info->ti_entry[1].type & 0xFF) == SQLROW) {
    variable = true;
    size = 0;
    bool v2 = false;
    for (int i = 2; i < info->ti_count; i++) size += EntrySize(info->ti_entry[i], &v2);
  }
  if (info->ti_count < 2 && (t0 == SQLUDTVAR || t0 == SQLUDTFIXED)) {
    variable = true;
    if (t0 == SQLUDTFIXED) size += static_cast<uint16_t>(info->ti_entry[0].length);
  }
  c->cl_isfixed = variable ? 0 : 1;
  c->cl_elsize = size;
}

bool IsNull(const SqliCollection* c) { return c == nullptr || c->cl_magic != COLL_MAGIC; }

bool Fixed(const SqliCollection* c) { return c->cl_isfixed != 0 && !coll_is_row(coll_info(c)); }

// Type of element `pos` (a ROW's field, else the element entry).
const CollTypeEntry* ElemAt(const SqliCollection* c, int pos) {
  const CollTypeInfo* info = coll_info(c);
  if (coll_is_row(info)) return coll_row_field(info, pos);
  return coll_elem_entry(info);
}

void FreeLog(SqliCollection* c) {
  for (CollChangeLog* e = c->cl_log; e != nullptr;) {
    CollChangeLog* next = e->ch_next;
    free(e);
    e = next;
  }
  c->cl_log = c->cl_lastlog = nullptr;
}

void FixLast(SqliCollection* c) {
  CollChangeLog* last = nullptr;
  for (CollChangeLog* e = c->cl_log; e != nullptr; e = e->ch_next) last = e;
  c->cl_lastlog = last;
}

// Keeps records that cursors name (copies of this one) equal to it.
void RefreshCopies(SqliCollection* c) {
  for (CollCursor* k = c->cl_curs; k != nullptr; k = k->cc_next)
    if (k->cc_coll != nullptr && k->cc_coll != c) *k->cc_coll = *c;
}

int32_t MaxRun(const SqliCollection* c, const CollChangeLog* from, const CollChangeLog* to) {
  if (from == nullptr && to == nullptr) return c->cl_cardinality;
  if (from == nullptr) return to->ch_rownum - 1;
  const int32_t extra = from->ch_modtype == CH_DELETE ? 1 : 0;
  if (to == nullptr) return c->cl_cardinality - from->ch_rownum + extra;
  return to->ch_rownum - from->ch_rownum - 1 + extra;
}

// Where data element d lies from `start` (none: from the beginning).
// False when that is outside the data.
bool DataLoc(const SqliCollection* c, char* start, int32_t d, char** out) {
  *out = nullptr;
  if (c->cl_data == nullptr) return d == 0 && start == nullptr;
  if (d == 0) {
    *out = start;
    return true;
  }
  char* loc;
  const int64_t step = Fixed(c) ? c->cl_elsize : -4;
  if (start == nullptr) {
    loc = Fixed(c) ? c->cl_data + static_cast<int64_t>(d - 1) * c->cl_elsize
                   : c->cl_data + c->cl_datalen - 4 - 4 * static_cast<int64_t>(d - 1);
  } else {
    loc = start + step * d;
  }
  if (loc < c->cl_data || loc >= c->cl_data + c->cl_datalen) return false;
  *out = loc;
  return true;
}

// Re-seeks a cursor to `pos`; a cursor that cannot stand there keeps its
// position but forgets the log entry and data it stood on, which may be
// gone.
void Reseek(CollCursor* k, int32_t pos) {
  if (cursor_seek(k, pos, CSEEK_SET) != 0) {
    k->cc_pos = pos;
    k->cc_head = nullptr;
    k->cc_run = 0;
    k->cc_datapos = nullptr;
  }
}

// A cursor that lost its place (Reseek) finds it again from the start
// once its position lies inside the collection; its flags stay.
void Refresh(CollCursor* k) {
  const SqliCollection* c = k->cc_coll;
  if (k->cc_pos > 0 && k->cc_pos <= c->cl_cardinality && k->cc_head == nullptr &&
      k->cc_run == 0 && k->cc_datapos == nullptr) {
    const uint16_t flags = k->cc_flags;
    cursor_seek(k, k->cc_pos, CSEEK_SET);
    k->cc_flags = flags;
  }
}

// Element under a cursor: data and length. 0, or -9986.
int ElementUnder(const SqliCollection* c, const CollCursor* k, char** data, int32_t* len) {
  if (k->cc_run <= 0) {
    const CollChangeLog* h = k->cc_head;
    if (h == nullptr || h->ch_modtype == CH_DELETE) return -9986;
    *data = h->ch_newrow;
    *len = h->ch_newrowlen;
    return 0;
  }
  char* p = k->cc_datapos;
  if (p == nullptr || c->cl_data == nullptr || p < c->cl_data) return -9986;
  const int64_t at = p - c->cl_data;
  if (Fixed(c)) {
    if (at + c->cl_elsize > c->cl_datalen) return -9986;
    *data = p;
    *len = c->cl_elsize;
    return 0;
  }
  if (at < 4 || at + 4 > c->cl_datalen) return -9986;
  const uint32_t off = coll_get32(p);
  const uint32_t nx = coll_get32(p - 4);
  const uint32_t end = nx == 0xFFFFFFFFu ? static_cast<uint32_t>(at - 4) : nx;
  if (off > static_cast<uint32_t>(c->cl_datalen) || end > static_cast<uint32_t>(at - 4) ||
      end < off)
    return -9986;
  *data = c->cl_data + off;
  *len = static_cast<int32_t>(end - off);
  return 0;
}

// Size an element takes in cl_len: a nested value's packed size, else its
// length.
int32_t PackedLen(int type, const char* data, int32_t len) {
  if (coll_is_colltype(type & 0xFF)) {
    const int64_t n = coll_packed_size_n(data, len);
    if (n > 0) return static_cast<int32_t>(n);
  }
  return len;
}

// A new log entry holding the element (nested values in inline form).
int MakeEntry(const SqliCollection* c, const CollTypeEntry* type, const char* data, int32_t len,
              int32_t rownum, int mod, CollChangeLog** out) {
  *out = nullptr;
  const bool nested = type != nullptr && coll_is_colltype(type->type & 0xFF);
  int64_t room = data == nullptr ? 0 : len;
  if (nested && data != nullptr) {
    if (len < 3) return -9986;
    if (coll_hdr_isnull(data)) {
      room = 3;
    } else {
      const int b = coll_hdr_pad(data);
      if (len < b + 8) return -9986;
      const uint32_t flags = coll_get32(data + b);
      if ((flags & CF_IMAGE) != 0) {
        SqliCollection image;
        if (len < b + 8 + static_cast<int>(sizeof image)) return -9986;
        memcpy(&image, data + b + 8, sizeof image);
        room = 24 + static_cast<int64_t>(image.cl_datalen < 0 ? 0 : image.cl_datalen);
      } else {
        const int64_t n = coll_hdr_length(data);
        if (n < 0) return -9986;
        room = 24 + n;
      }
    }
  }
  if (room < 0 || room > INT32_MAX - 64) return -837;
  const size_t head = (sizeof(CollChangeLog) + 7) & ~size_t{7};
  auto* e = static_cast<CollChangeLog*>(malloc(head + static_cast<size_t>(room) + 8));
  if (e == nullptr) return -837;
  memset(e, 0, head);
  e->ch_rownum = rownum;
  e->ch_modtype = mod;
  e->ch_flag = 16;
  e->ch_alloclen = static_cast<int32_t>(room);
  e->ch_newrow = reinterpret_cast<char*>(e) + head;
  if (data != nullptr) {
    if (nested) {
      CollTypeInfo* sub = nullptr;
      int rc = 0;
      const CollTypeInfo* info = coll_info(c);
      if (!coll_is_row(info)) sub = coll_subinfo(info, 0, &rc);
      const int n = collcopy(data, e->ch_newrow, sub, c->cl_typed, CF_INLINE);
      free(sub);
      if (n < 0) {
        free(e);
        return n;
      }
      e->ch_newrowlen = n;
    } else {
      if (len > 0) memcpy(e->ch_newrow, data, static_cast<size_t>(len));
      e->ch_newrowlen = len;
    }
  }
  *out = e;
  return 0;
}

// Links e after `after` (at the front when null).
void LinkAfter(SqliCollection* c, CollChangeLog* after, CollChangeLog* e) {
  if (after == nullptr) {
    e->ch_next = c->cl_log;
    c->cl_log = e;
  } else {
    e->ch_next = after->ch_next;
    after->ch_next = e;
  }
  FixLast(c);
}

CollChangeLog* Before(SqliCollection* c, CollChangeLog* e) {
  CollChangeLog* prev = nullptr;
  for (CollChangeLog* x = c->cl_log; x != nullptr && x != e; x = x->ch_next) prev = x;
  return prev;
}

void ShiftAfter(CollChangeLog* e, int delta) {
  for (CollChangeLog* x = e->ch_next; x != nullptr; x = x->ch_next) x->ch_rownum += delta;
}

int DefaultCompare(int op, SqlValue* l, SqlValue* r, void*, SqlValue* result) {
  return rvalcompare(op, l, r, result);
}

bool IsSetOf(const SqliCollection* c) {
  const CollTypeInfo* info = coll_info(c);
  return info != nullptr && info->ti_count >= 1 && (info->ti_entry[0].type & 0xFF) == SQLSET;
}

bool IsCollectionKind(const SqliCollection* c) {
  const CollTypeInfo* info = coll_info(c);
  if (info == nullptr || info->ti_count < 1) return false;
  const int t = info->ti_entry[0].type & 0xFF;
  return t == SQLSET || t == SQLMULTISET || t == SQLLIST || t == SQLCOLLECTION;
}

bool ElementIsNull(const CollTypeEntry* type, const char* data, int32_t len) {
  if (data == nullptr) return true;
  return zel_coll_val_isnull(data, len, type->type & 0xFF) == 0;
}

}  // namespace

uint32_t coll_string_hash(const char* data, int32_t len) {
  uint32_t h = 0;
  for (int32_t i = 0; i < len && data[i] != '\0'; i++) {
    const auto c = static_cast<int32_t>(static_cast<signed char>(data[i]));
    h = h * 16 + static_cast<uint32_t>(c);
    const uint32_t g = h & 0xF0000000u;
    if (g != 0) h = h ^ (g >> 24) ^ g;
  }
  return h % 211;
}

uint32_t coll_fold(const char* data, int32_t len) {
  uint32_t h = 0;
  int32_t i = 0;
  for (; i + 4 <= len; i += 4) h ^= coll_get32(data + i);
  if (i < len) {
    unsigned char tail[4] = {0, 0, 0, 0};
    memcpy(tail, data + i, static_cast<size_t>(len - i));
    h ^= coll_get32(tail);
  }
  return h;
}

uint32_t coll_elem_hash(int type, const char* data, int32_t len) {
  if (data == nullptr || len <= 0) return 0;
  switch (type & 0xFF) {
    case SQLCHAR: case SQLVCHAR: case SQLNCHAR: case SQLNVCHAR: case SQLLVARCHAR:
      return coll_string_hash(data, len);
    case SQLSET: case SQLMULTISET: case SQLLIST: case SQLROW: {
      if (len < 3 || coll_hdr_isnull(data)) return 0;
      const int b = coll_hdr_pad(data);
      if (len < b + 8) return 0;
      return coll_get32(data + b + 4);
    }
    case SQLUDTVAR: case SQLUDTFIXED:
      if (static_cast<unsigned char>(data[0]) == 1) return 0;
      return len > 5 ? coll_fold(data + 5, len - 5) : 0;
    default:
      return coll_fold(data, len);
  }
}

bool coll_elem_fits(int type, int16_t length, const char* p, int32_t len) {
  if (p == nullptr || len < 0) return false;
  switch (type & 0xFF) {
    case SQLSMINT: return len >= 2;
    case SQLINT: case SQLSERIAL: case SQLDATE: case SQLSMFLOAT: return len >= 4;
    case SQLBIGINT: case SQLBIGSERIAL: case SQLFLOAT: return len >= 8;
    case SQLINT8: case SQLSERIAL8: return len >= 10;
    case SQLDECIMAL: case SQLMONEY: case SQLDTIME: case SQLINTERVAL:
      return len >= stored_decimal_size(length);
    case SQLVCHAR: case SQLNVCHAR:
      return len >= 1 && static_cast<unsigned char>(p[0]) <= len - 1;
    case SQLLVARCHAR: case SQLBOOL: case SQLUDTVAR: case SQLUDTFIXED:
      return len >= 5 && coll_get32(p + 1) <= static_cast<uint32_t>(len - 5) &&
             ((type & 0xFF) != SQLBOOL || len >= 6);
    case SQLBYTES: case SQLTEXT: return len >= 56;
    default: return true;
  }
}

int32_t coll_elem_size(const CollTypeEntry* e, int32_t len) {
  const int t = e->type & 0xFF;
  if (IsDecimalLike(t)) return stored_decimal_size(e->length);
  return len;
}

int coll_count(SqliCollection* c) {
  c->cl_cardinality = 0;
  const CollTypeInfo* info = coll_info(c);
  if (c->cl_datalen < 0) return -9986;
  if (c->cl_datalen == 0 || c->cl_data == nullptr) return 0;
  if (coll_is_row(info)) {
    c->cl_cardinality = FieldCount(info);
    return 0;
  }
  if (c->cl_isfixed) {
    if (c->cl_elsize <= 0) return -9986;
    c->cl_cardinality = c->cl_datalen / c->cl_elsize;
    return 0;
  }
  for (int64_t pos = c->cl_datalen - 4, n = 0; pos >= 0; pos -= 4, n++) {
    if (coll_get32(c->cl_data + pos) == 0xFFFFFFFFu) {
      c->cl_cardinality = static_cast<int32_t>(n);
      return 0;
    }
  }
  return -9986;
}

int coll_rehash(SqliCollection* c) {
  const CollTypeInfo* info = coll_info(c);
  if (!coll_is_row(info) && coll_elem_entry(info) == nullptr) return -9969;
  CollCursor k;
  if (int rc = zel_coll_curs_attach(c, &k); rc != 0) return rc;
  uint32_t h = 0;
  int rc;
  for (;;) {
    char* data = nullptr;
    int32_t len = 0;
    rc = zel_coll_next(c, &k, &data, &len);
    if (rc != 0) break;
    const CollTypeEntry* e = ElemAt(c, k.cc_pos);
    h ^= coll_elem_hash(e == nullptr ? 0 : e->type, data, len);
  }
  zel_coll_curs_detach(c, &k);
  if (rc != 100) return rc;
  c->cl_hashvalue = static_cast<int32_t>(h);
  return 0;
}

TV_EXTERN_C TV_API int zel_coll_init(SqliCollection* c, CollTypeInfo* info, int typed, char* data,
                                     int32_t len) {
  if (c == nullptr || info == nullptr) return -1;
  memset(c, 0, sizeof *c);
  c->cl_typed = static_cast<int16_t>(typed);
  if (typed) c->cl_typeinfo = info;
  else c->cl_svr_typeinfo = info;
  c->cl_magic = COLL_MAGIC;
  c->cl_typelen = 304 + 414 * info->ti_count;
  SetSizes(c, info);
  if (data == nullptr) return 0;
  c->cl_data = data;
  c->cl_datalen = c->cl_len = len;
  if (int rc = coll_count(c); rc != 0) return rc;
  return coll_rehash(c);
}

TV_EXTERN_C TV_API int zel_coll_free(SqliCollection* c) {
  if (c == nullptr) return 0;
  if (c->cl_curs != nullptr) return -9984;
  coll_drop_data(c);
  if ((c->cl_flags & COLL_OWNS_TYPEINFO) != 0) {
    if (c->cl_typeinfo != c->cl_svr_typeinfo) free(c->cl_typeinfo);
    free(c->cl_svr_typeinfo);
  }
  FreeLog(c);
  memset(c, 0, sizeof *c);
  return 0;
}

TV_EXTERN_C TV_API int zel_coll_curs_attach(SqliCollection* c, CollCursor* k) {
  CollCursor** tail = &c->cl_curs;
  for (; *tail != nullptr; tail = &(*tail)->cc_next)
    if (*tail == k) return -9987;
  memset(k, 0, sizeof *k);
  k->cc_coll = c;
  *tail = k;
  return 0;
}

TV_EXTERN_C TV_API int zel_coll_curs_detach(SqliCollection* c, CollCursor* k) {
  for (CollCursor** p = &c->cl_curs; *p != nullptr; p = &(*p)->cc_next) {
    if (*p == k) {
      *p = k->cc_next;
      k->cc_next = nullptr;
      return 0;
    }
  }
  return -1;
}

TV_EXTERN_C TV_API int cursor_seek(CollCursor* k, int32_t n, int whence) {
  SqliCollection* c = k->cc_coll;
  if (c == nullptr || c->cl_cardinality == 0) return 100;
  int64_t target;
  bool own = false;
  if (whence == CSEEK_CUR) {
    target = static_cast<int64_t>(k->cc_pos) + n;
    own = n >= 0;
  } else if (whence == CSEEK_END) {
    target = static_cast<int64_t>(c->cl_cardinality) + n;
  } else {
    target = n;
  }
  if (target < 1 || target > c->cl_cardinality) return 100;
  // A cursor whose log entry was lost (it could not be placed again after
  // a change) walks from the start.
  if (own && k->cc_pos > 0 && k->cc_head == nullptr && k->cc_run == 0 && k->cc_datapos == nullptr)
    own = false;
  CollChangeLog* head = own ? k->cc_head : nullptr;
  int32_t run = own ? k->cc_run : 0;
  char* start = own ? k->cc_datapos : nullptr;
  int64_t kleft = target - (own ? k->cc_pos : 0);
  int32_t d = 0;
  while (kleft > 0) {
    CollChangeLog* next = head != nullptr ? head->ch_next : c->cl_log;
    const int64_t r = static_cast<int64_t>(MaxRun(c, head, next)) - run;
    if (kleft <= r) {
      run += static_cast<int32_t>(kleft);
      d += static_cast<int32_t>(kleft);
      break;
    }
    if (next == nullptr) return 100;
    if (r > 0) {
      d += static_cast<int32_t>(r);
      kleft -= r;
    }
    if ((next->ch_flag & CHANGELOG_WITH_DATA) != 0) d++;
    if (next->ch_modtype != CH_DELETE) kleft--;
    run = 0;
    head = next;
  }
  k->cc_flags &= static_cast<uint16_t>(~CC_DELETED);
  k->cc_pos = static_cast<int32_t>(target);
  k->cc_run = run;
  k->cc_head = head;
  char* loc;
  const bool inside = DataLoc(c, start, d, &loc);
  k->cc_datapos = loc;
  return inside ? 0 : 100;
}

TV_EXTERN_C TV_API int zel_coll_seek(SqliCollection* c, CollCursor* k, int32_t n) {
  if (IsNull(c)) return -9976;
  if ((c->cl_flags & COLL_INORDER) != 0) {
    if (n != k->cc_pos + 1) return -9944;
    k->cc_pos = n;
    return 0;
  }
  const int rc = cursor_seek(k, n, CSEEK_SET);
  k->cc_pos = n;
  return rc;
}

TV_EXTERN_C TV_API int zel_coll_next(SqliCollection* c, CollCursor* k, char** data,
                                     int32_t* size) {
  if (IsNull(c)) return -9976;
  *size = 0;
  int rc = 0;
  if (k->cc_pos == 0) {
    rc = cursor_seek(k, 1, CSEEK_SET);
  } else if ((k->cc_flags & CC_DELETED) != 0) {
    k->cc_flags &= static_cast<uint16_t>(~CC_DELETED);
  } else {
    rc = cursor_seek(k, 1, CSEEK_CUR);
  }
  if (rc != 0) return rc;
  if (k->cc_pos < 1 || k->cc_pos > c->cl_cardinality) return 100;
  Refresh(k);
  const CollTypeEntry* type = ElemAt(c, k->cc_pos);
  if (type == nullptr) return coll_is_row(coll_info(c)) ? -1 : -9969;
  char* p;
  int32_t len;
  if (int e = ElementUnder(c, k, &p, &len); e != 0) return e;
  if (*data == nullptr) {
    *data = p;
    *size = len;
    return 0;
  }
  const int t = type->type & 0xFF;
  if (coll_is_colltype(t) && len >= 3) {
    // A nested value is handed out as a reference header to its content.
    char* out = *data;
    if (coll_hdr_isnull(p)) {
      zel_coll_nullhdr(out);
      *size = 3;
      return 0;
    }
    const int bs = coll_hdr_pad(p);
    if (coll_packed_size_n(p, len) < 0) return -9986;
    const int64_t n = coll_hdr_length(p);
    const uint32_t flags = coll_get32(p + bs);
    const int b = coll_hdr_pad(out);
    memset(out, 0, static_cast<size_t>(b));
    const int64_t datalen = n - bs - 6;
    coll_put32(out + b, CF_REF | (flags & (CF_UNCOUNTED | CF_LONG)));
    if ((flags & CF_LONG) != 0) {
      coll_put32(out + b + 4, static_cast<uint32_t>(b + 6 + datalen));
    } else {
      out[0] = static_cast<char>(((b + 6 + datalen) >> 8) & 0xFF);
      out[1] = static_cast<char>((b + 6 + datalen) & 0xFF);
      memcpy(out + b + 4, p + bs + 4, 4);
    }
    char* content = p + bs + 8;
    memcpy(out + b + 8, &content, sizeof content);
    *size = b + 16;
    return 0;
  }
  if (len > 0) memcpy(*data, p, static_cast<size_t>(len));
  *size = len;
  return 0;
}

TV_EXTERN_C TV_API int zel_coll_insert(SqliCollection* c, const char* data, int32_t len,
                                       int32_t pos) {
  if (IsNull(c)) return -9976;
  const CollTypeInfo* info = coll_info(c);
  if (info == nullptr || info->ti_count < 1) return -9969;
  const bool row = coll_is_row(info);
  if (pos > 0 && (info->ti_entry[0].type & 0xFF) != SQLLIST) return -9980;
  CollCursor temp;
  CollCursor* k = c->cl_curs;
  bool own_temp = false;
  if (k != nullptr) {
    if (pos == -5999 && k->cc_pos == 0 && cursor_seek(k, 1, CSEEK_SET) != 0) k->cc_pos = 1;
  } else {
    zel_coll_curs_attach(c, &temp);
    k = &temp;
    own_temp = true;
    if (row) k->cc_pos = c->cl_cardinality + 1;
    else if (pos > 0) cursor_seek(k, pos, CSEEK_SET);
    else if (pos == -5999) cursor_seek(k, 1, CSEEK_SET);
  }
  auto done = [&](int rc) {
    if (own_temp) zel_coll_curs_detach(c, &temp);
    return rc;
  };
  const bool append = pos == 0 || k->cc_pos == 0 || k->cc_pos > c->cl_cardinality;
  const int32_t rownum = append ? c->cl_cardinality + 1 : k->cc_pos;
  const CollTypeEntry* type = ElemAt(c, rownum);
  if (type == nullptr) return done(-9969);
  const int32_t size = coll_elem_size(type, len);
  if (Fixed(c) && size != c->cl_elsize) return done(-9973);
  if (data != nullptr && len < size) return done(-9973);
  if (IsCollectionKind(c) && (type->type & SQL_NOTNULL_FLAG) != 0 &&
      ElementIsNull(type, data, size))
    return done(-9978);
  if (IsSetOf(c) && type->xid != 2 && data != nullptr) {
    const int rc = zel_coll_find_dup(c, data, size, 0, DefaultCompare, nullptr);
    if (rc == -9874) return done(0);
    if (rc != 0) return done(rc);
  }
  CollChangeLog* e;
  if (int rc = MakeEntry(c, type, data, size, rownum, CH_INSERT, &e); rc != 0) return done(rc);
  if (append) {
    if (c->cl_lastlog != nullptr && c->cl_lastlog->ch_rownum < rownum) {
      LinkAfter(c, c->cl_lastlog, e);
    } else {
      CollChangeLog* prev = nullptr;
      for (CollChangeLog* x = c->cl_log; x != nullptr && x->ch_rownum < rownum; x = x->ch_next)
        prev = x;
      LinkAfter(c, prev, e);
    }
  } else {
    CollChangeLog* h = k->cc_head;
    if (h != nullptr && h->ch_rownum < rownum) LinkAfter(c, h, e);
    else LinkAfter(c, h == nullptr ? nullptr : Before(c, h), e);
  }
  ShiftAfter(e, 1);
  c->cl_cardinality++;
  c->cl_len += PackedLen(type->type, e->ch_newrow, e->ch_newrowlen);
  if (append) {
    cursor_seek(k, 0, CSEEK_END);
  } else {
    for (CollCursor* o = c->cl_curs; o != nullptr; o = o->cc_next) {
      if (o == k) Reseek(o, o->cc_pos);
      else if (o->cc_pos >= rownum) Reseek(o, o->cc_pos + 1);
      else if (o->cc_pos > 0) Reseek(o, o->cc_pos);
    }
  }
  c->cl_hashvalue ^= static_cast<int32_t>(coll_elem_hash(type->type, e->ch_newrow,
                                                        e->ch_newrowlen));
  RefreshCopies(c);
  return done(0);
}

TV_EXTERN_C TV_API int zel_coll_update(SqliCollection* c, CollCursor* k, const char* data,
                                       int32_t len) {
  if (IsNull(c)) return -9976;
  const CollTypeEntry* type = ElemAt(c, k->cc_pos);
  if (type == nullptr) {
    if (k->cc_pos < 1 || k->cc_pos > c->cl_cardinality) return 100;
    return -9969;
  }
  const int32_t size = coll_elem_size(type, len);
  if (IsCollectionKind(c) && (type->type & SQL_NOTNULL_FLAG) != 0 &&
      ElementIsNull(type, data, size))
    return -9979;
  if (Fixed(c) && size != c->cl_elsize) return -9973;
  if (data != nullptr && len < size) return -9973;
  if (IsSetOf(c) && data != nullptr && k->cc_pos >= 1 && k->cc_pos <= c->cl_cardinality) {
    const int rc = zel_coll_find_dup(c, data, size, k->cc_pos, DefaultCompare, nullptr);
    if (rc == -9874) return zel_coll_delete(c, k, 0);
    if (rc != 0) return rc;
  }
  if (k->cc_pos < 1 || k->cc_pos > c->cl_cardinality) return 100;
  for (CollCursor* o = c->cl_curs; o != nullptr; o = o->cc_next)
    if (o != k && o->cc_pos == k->cc_pos) return -9982;
  Refresh(k);
  CollChangeLog* e;
  if (int rc = MakeEntry(c, type, data, size, k->cc_pos, CH_UPDATE, &e); rc != 0) return rc;
  if (k->cc_run > 0) {
    char* old;
    int32_t oldlen;
    if (int rc = ElementUnder(c, k, &old, &oldlen); rc != 0) {
      free(e);
      return rc;
    }
    if (Fixed(c)) {
      memcpy(old, e->ch_newrow, static_cast<size_t>(c->cl_elsize));
      free(e);
    } else {
      e->ch_flag |= CHANGELOG_WITH_DATA;
      LinkAfter(c, k->cc_head, e);
      c->cl_len += PackedLen(type->type, e->ch_newrow, e->ch_newrowlen) -
                   PackedLen(type->type, old, oldlen);
    }
  } else {
    CollChangeLog* h = k->cc_head;
    if (h == nullptr || h->ch_modtype == CH_DELETE) {
      free(e);
      return h == nullptr ? -9986 : -9983;
    }
    if (h->ch_modtype == CH_INSERT) e->ch_modtype = CH_INSERT;
    else e->ch_flag = h->ch_flag;
    e->ch_rownum = h->ch_rownum;
    CollChangeLog* prev = Before(c, h);
    e->ch_next = h->ch_next;
    if (prev == nullptr) c->cl_log = e;
    else prev->ch_next = e;
    FixLast(c);
    c->cl_len += PackedLen(type->type, e->ch_newrow, e->ch_newrowlen) -
                 PackedLen(type->type, h->ch_newrow, h->ch_newrowlen);
    for (CollCursor* o = c->cl_curs; o != nullptr; o = o->cc_next)
      if (o->cc_head == h) o->cc_head = e;
    free(h);
  }
  // Every cursor is placed again: a new entry may stand between another
  // cursor and the entry it counts from.
  for (CollCursor* o = c->cl_curs; o != nullptr; o = o->cc_next)
    if (o == k || o->cc_pos > 0) Reseek(o, o->cc_pos);
  const int rc = coll_rehash(c);
  RefreshCopies(c);
  return rc;
}

TV_EXTERN_C TV_API int zel_coll_update_nth(SqliCollection* c, int32_t n, const char* data,
                                           int32_t len) {
  if (IsNull(c)) return -9976;
  CollCursor k;
  zel_coll_curs_attach(c, &k);
  int rc = cursor_seek(&k, n, CSEEK_SET);
  if (rc == 0) rc = zel_coll_update(c, &k, data, len);
  zel_coll_curs_detach(c, &k);
  return rc;
}

TV_EXTERN_C TV_API int zel_coll_delete(SqliCollection* c, CollCursor* k, int flags) {
  if (IsNull(c)) return -9976;
  if ((flags & 1) != 0) {
    for (CollCursor* o = c->cl_curs; o != nullptr; o = o->cc_next)
      if (o != k && o->cc_pos == 0) return -9981;
    FreeLog(c);
    coll_drop_data(c);
    c->cl_cardinality = c->cl_len = c->cl_hashvalue = c->cl_datalen = 0;
    c->cl_flags = 0;
    // The cursors' log entries are gone: they start again from the front.
    for (CollCursor* o = c->cl_curs; o != nullptr; o = o->cc_next) {
      o->cc_pos = 0;
      o->cc_head = nullptr;
      o->cc_run = 0;
      o->cc_datapos = nullptr;
      o->cc_flags = 0;
    }
    RefreshCopies(c);
    return 0;
  }
  if (coll_is_row(coll_info(c))) return -9974;
  if ((k->cc_flags & CC_DELETED) != 0) return -9983;
  if (k->cc_pos < 1 || k->cc_pos > c->cl_cardinality) return 100;
  for (CollCursor* o = c->cl_curs; o != nullptr; o = o->cc_next)
    if (o != k && o->cc_pos == k->cc_pos) return -9981;
  Refresh(k);
  const CollTypeEntry* type = ElemAt(c, k->cc_pos);
  const int t = type == nullptr ? 0 : type->type;
  const int32_t pos = k->cc_pos;
  CollChangeLog* changed;
  if (k->cc_run > 0) {
    char* old;
    int32_t oldlen;
    if (int rc = ElementUnder(c, k, &old, &oldlen); rc != 0) return rc;
    CollChangeLog* e;
    if (int rc = MakeEntry(c, nullptr, nullptr, 0, pos, CH_DELETE, &e); rc != 0) return rc;
    e->ch_flag |= CHANGELOG_WITH_DATA;
    LinkAfter(c, k->cc_head, e);
    c->cl_len -= Fixed(c) ? c->cl_elsize : PackedLen(t, old, oldlen);
    changed = e;
  } else {
    CollChangeLog* h = k->cc_head;
    if (h == nullptr) return -9986;
    if (h->ch_modtype == CH_DELETE) return -9983;
    const int32_t oldsize = PackedLen(t, h->ch_newrow, h->ch_newrowlen);
    CollChangeLog* prev = Before(c, h);
    if ((h->ch_flag & CHANGELOG_WITH_DATA) != 0) {
      CollChangeLog* e;
      if (int rc = MakeEntry(c, nullptr, nullptr, 0, h->ch_rownum, CH_DELETE, &e); rc != 0)
        return rc;
      e->ch_flag = h->ch_flag;
      e->ch_next = h->ch_next;
      if (prev == nullptr) c->cl_log = e;
      else prev->ch_next = e;
      changed = e;
      k->cc_head = e;
    } else {
      if (prev == nullptr) c->cl_log = h->ch_next;
      else prev->ch_next = h->ch_next;
      changed = prev;
    }
    FixLast(c);
    c->cl_len -= oldsize;
    for (CollCursor* o = c->cl_curs; o != nullptr; o = o->cc_next)
      if (o->cc_head == h) o->cc_head = nullptr;
    free(h);
  }
  c->cl_cardinality--;
  if (changed != nullptr) ShiftAfter(changed, -1);
  else
    for (CollChangeLog* x = c->cl_log; x != nullptr; x = x->ch_next) x->ch_rownum--;
  Reseek(k, pos);
  k->cc_flags |= CC_DELETED;
  for (CollCursor* o = c->cl_curs; o != nullptr; o = o->cc_next)
    if (o != k && o->cc_pos > pos) Reseek(o, o->cc_pos - 1);
  const int rc = coll_rehash(c);
  RefreshCopies(c);
  return rc;
}

TV_EXTERN_C TV_API int zel_coll_tuple(SqliCollection* c) {
  if (IsNull(c)) return -9976;
  if (c->cl_log == nullptr) return 0;
  if (c->cl_cardinality == 0) {
    FreeLog(c);
    coll_drop_data(c);
    c->cl_datalen = c->cl_len = c->cl_hashvalue = 0;
    for (CollCursor* o = c->cl_curs; o != nullptr; o = o->cc_next) Reseek(o, o->cc_pos);
    RefreshCopies(c);
    return 0;
  }
  const CollTypeInfo* info = coll_info(c);
  const bool row = coll_is_row(info);
  if (row && c->cl_cardinality != FieldCount(info)) return -9989;
  if (!row && coll_elem_entry(info) == nullptr) return -9969;
  const bool fixed = Fixed(c);
  // Elements of a fixed size are never packed values: they are copied.
  auto repacked = [&](const CollTypeEntry* e) {
    return !fixed && e != nullptr &&
           (coll_is_colltype(e->type & 0xFF) || (e->flags & CT_REPACK) != 0);
  };
  int64_t L = c->cl_len;
  CollCursor k;
  if (!fixed) {
    int64_t sum = 0;
    int32_t count = 0;
    zel_coll_curs_attach(c, &k);
    int rc;
    for (;;) {
      char* p = nullptr;
      int32_t n = 0;
      rc = zel_coll_next(c, &k, &p, &n);
      if (rc != 0) break;
      count++;
      const CollTypeEntry* e = ElemAt(c, k.cc_pos);
      if (repacked(e) && !coll_inline_form(p, n)) {
        rc = -9986;
        break;
      }
      if (repacked(e) && n >= 3 && !coll_hdr_isnull(p)) {
        const int64_t size = coll_packed_size_n(p, n);
        if (size < 0) {
          rc = -9986;
          break;
        }
        // The header is written again where its flags word falls on a
        // multiple of 8 from the start of the new data.
        const int64_t extra = (sum + 3) % 8 == 0 ? 0 : 8 - (sum + 3) % 8;
        sum += size - coll_hdr_pad(p) + 3 + extra;
      } else {
        sum += n;
      }
    }
    zel_coll_curs_detach(c, &k);
    if (rc != 100) return rc;
    L = sum + 4 * static_cast<int64_t>(count) + 4;
  }
  if (L < 0 || L > INT32_MAX - 8) return -837;
  bool shifted;
  char* block = coll_data_alloc(static_cast<size_t>(L), &shifted);
  if (block == nullptr) return -837;
  memset(block, 0, static_cast<size_t>(L));
  zel_coll_curs_attach(c, &k);
  int64_t off = 0;
  int32_t i = 0;
  bool headers = false;
  int rc;
  for (;;) {
    char* p = nullptr;
    int32_t n = 0;
    rc = zel_coll_next(c, &k, &p, &n);
    if (rc != 0) break;
    i++;
    const CollTypeEntry* e = ElemAt(c, k.cc_pos);
    if (!fixed) coll_put32(block + L - 4 * i, static_cast<uint32_t>(off));
    int64_t wrote = n;
    if (repacked(e) && n >= 3) {
      if (!coll_hdr_isnull(p)) headers = true;
      int64_t size = coll_packed_size_n(p, n);
      // Written again with the padding of its new place.
      if (size > 3) size += coll_hdr_pad(block + off) - coll_hdr_pad(p);
      if (size < 0 || off + size > (fixed ? L : L - 4 * i - 4)) {
        rc = -9986;
        break;
      }
      const int w = collcopy(p, block + off, nullptr, c->cl_typed, CF_INLINE);
      if (w < 0) {
        rc = w;
        break;
      }
      wrote = fixed ? c->cl_elsize : w;
    } else {
      if (off + n > (fixed ? L : L - 4 * i - 4)) {
        rc = -9986;
        break;
      }
      if (n > 0) memcpy(block + off, p, static_cast<size_t>(n));
    }
    off += wrote;
  }
  zel_coll_curs_detach(c, &k);
  if (rc != 100) {
    coll_data_free(block, shifted);
    return rc;
  }
  if (!fixed) coll_put32(block + off, 0xFFFFFFFFu);
  FreeLog(c);
  coll_drop_data(c);
  c->cl_data = block;
  c->cl_datalen = c->cl_len = static_cast<int32_t>(L);
  c->cl_flags |= COLL_OWNS_DATA | (shifted ? COLL_DATA_SHIFTED : 0);
  const int32_t kept = c->cl_hashvalue;
  rc = coll_rehash(c);
  // The cursors stood on log entries that are gone: place them again.
  for (CollCursor* o = c->cl_curs; o != nullptr; o = o->cc_next) Reseek(o, o->cc_pos);
  RefreshCopies(c);
  if (rc != 0) return rc;
  if (!headers && c->cl_hashvalue != kept) return -9977;
  return 0;
}
