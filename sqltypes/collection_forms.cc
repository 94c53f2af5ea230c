// Byte forms of collection and row values.
//
// Packed header (P the address of its first byte; b = 3 when P + 3 is a
// multiple of 8, else 11 - (P + 3) mod 8, so that P + b is 8-aligned):
//   0      2   length of what follows these two bytes (short form only)
//   2      1   null flag (a null value is the 3 bytes 00 01 01)
//   3      b-3 zero padding
//   b      4   form flags: 0x1 inline data, 0x2 server form, 0x4 record
//              image (120 bytes), 0x8 reference (8-byte address), 0x10
//              inline and not counted, 0x20 long form
//   b+4    4   long form: the length; short form: the hash value
//   b+8    ... the content
// The length word is b + 6 + the content's length. The short form holds
// lengths up to 32,767; longer values are written in the long form.
//
// Stored form with description (N = 128 with long identifiers, else 18;
// F = ti_count; all numbers big-endian):
//   0        4   length of everything after this word:
//                F * (30 + 3N) + 8 + N + 12 + data length
//   4        4   ti_word
//   8        2   ti_half
//   10       N   ti_name
//   10+N     2   F
//   12+N     F * (30 + 3N) entries: seqno 2, level_no 2, parent_no 2,
//                fieldnmlen 2, fieldname N, field_no 2, type 2, length 2,
//                xid 4, flags 2, xtype_nm_len 2, xtype_name N,
//                xtype_owner_len 2, xtype_owner_name N, align 2, srctype 4
//   then     4   cl_handle
//            4   data length
//            4   cl_flags (bit 31 read as null)
//            n   the packed element data
// A null value is written with F = 0, one entry of zeros and no data.
#include <stdlib.h>
#include <string.h>

#include "sqltypes/collection.h"
#include "sqltypes/collection_internal.h"
#include "sqltypes/value_stored.h"

namespace {

void Put16(char* p, uint32_t v) {
  p[0] = static_cast<char>(v >> 8);
  p[1] = static_cast<char>(v);
}
int16_t Get16(const char* p) {
  return static_cast<int16_t>((static_cast<unsigned char>(p[0]) << 8) |
                              static_cast<unsigned char>(p[1]));
}

// Writes the length word in the form the flags choose (switching to the
// long form when the short one cannot hold it) and the flags word.
void PutLength(char* dst, int b, uint32_t flags, int64_t length, const char* hash) {
  if (length > 32767) flags |= CF_LONG;
  coll_put32(dst + b, flags);
  if ((flags & CF_LONG) != 0) {
    dst[0] = dst[1] = 0;
    coll_put32(dst + b + 4, static_cast<uint32_t>(length));
  } else {
    Put16(dst, static_cast<uint32_t>(length));
    if (hash != nullptr) memcpy(dst + b + 4, hash, 4);
    else coll_put32(dst + b + 4, 0);
  }
}

}  // namespace

int64_t coll_hdr_length(const char* p) {
  if (p[2] != 0) return 1;
  const int b = coll_hdr_pad(p);
  const uint32_t flags = coll_get32(p + b);
  int64_t n;
  if ((flags & CF_LONG) != 0) n = static_cast<int32_t>(coll_get32(p + b + 4));
  else n = Get16(p);
  if (n < b + 6) return -1;
  return n;
}

int64_t coll_packed_size(const char* p) {
  const int64_t n = coll_hdr_length(p);
  return n < 0 ? -1 : n + 2;
}

int64_t coll_packed_size_n(const char* p, int64_t n) {
  if (p == nullptr || n < 3) return -1;
  if (p[2] != 0) return 3;
  if (coll_hdr_pad(p) + 8 > n) return -1;
  const int64_t size = coll_packed_size(p);
  return size > n ? -1 : size;
}

TV_EXTERN_C TV_API void zel_coll_nullhdr(char* buf) {
  if (buf == nullptr) return;
  buf[0] = 0;
  buf[1] = 1;
  buf[2] = 1;
}

TV_EXTERN_C TV_API void zel_coll_puthdr(const SqliCollection* c, char* buf) {
  if ((c->cl_flags & COLL_ISNULL) != 0) {
    zel_coll_nullhdr(buf);
    return;
  }
  const int b = coll_hdr_pad(buf);
  memset(buf, 0, static_cast<size_t>(b));
  uint32_t flags = CF_REF;
  if ((c->cl_flags & COLL_UNCOUNTED) != 0) flags |= CF_UNCOUNTED;
  if ((c->cl_flags & COLL_LONGFORM) != 0) flags |= CF_LONG;
  char hash[4];
  coll_put32(hash, static_cast<uint32_t>(c->cl_hashvalue));
  PutLength(buf, b, flags, int64_t{b} + 6 + c->cl_datalen, hash);
  memcpy(buf + b + 8, &c->cl_data, sizeof c->cl_data);
}

TV_EXTERN_C TV_API int zel_coll_put_col(SqliCollection* c, const char* p) {
  if (c == nullptr || p == nullptr) return 0;
  if (p[2] != 0) {
    coll_drop_data(c);
    c->cl_flags |= COLL_ISNULL;
    c->cl_len = c->cl_datalen = c->cl_cardinality = c->cl_hashvalue = 0;
    return 0;
  }
  const int b = coll_hdr_pad(p);
  const int64_t length = coll_hdr_length(p);
  if (length < 0) return -9986;
  const uint32_t flags = coll_get32(p + b);
  const int64_t n = length - b - 6;
  c->cl_flags &= ~static_cast<uint32_t>(COLL_ISNULL);
  if ((flags & CF_UNCOUNTED) != 0) c->cl_flags |= COLL_UNCOUNTED;
  if ((flags & CF_LONG) != 0) c->cl_flags |= COLL_LONGFORM;
  c->cl_len = c->cl_datalen = static_cast<int32_t>(n);
  c->cl_hashvalue = (flags & CF_LONG) != 0 ? 0 : static_cast<int32_t>(coll_get32(p + b + 4));
  bool count = false;
  if ((flags & CF_REF) != 0) {
    coll_drop_data(c);
    memcpy(&c->cl_data, p + b + 8, sizeof c->cl_data);
    count = true;
  } else if ((flags & (CF_INLINE | CF_UNCOUNTED)) != 0) {
    coll_drop_data(c);
    if (n > 0) {
      bool shifted;
      char* data = coll_data_alloc(static_cast<size_t>(n), &shifted);
      if (data == nullptr) {
        c->cl_len = c->cl_datalen = 0;
        return -837;
      }
      memcpy(data, p + b + 8, static_cast<size_t>(n));
      c->cl_data = data;
      c->cl_flags |= COLL_OWNS_DATA | (shifted ? COLL_DATA_SHIFTED : 0);
    }
    count = (flags & CF_UNCOUNTED) == 0;
  } else if ((flags & CF_SERVER) != 0) {
    c->cl_flags |= COLL_SERVERFORM;
  }
  if (count) {
    if (int rc = coll_count(c); rc != 0) return rc;
    // A long-form header carries no hash: take it from the elements, so
    // that a later fold compares against the right one.
    if ((flags & CF_LONG) != 0) {
      if (int rc = coll_rehash(c); rc != 0) return rc;
    }
  }
  return 0;
}

TV_EXTERN_C TV_API int collcopy(const char* src, char* dst, CollTypeInfo* info, int typed,
                                int dstflags) {
  if (src[2] != 0) {
    zel_coll_nullhdr(dst);
    return 3;
  }
  const int bs = coll_hdr_pad(src);
  const uint32_t sflags = coll_get32(src + bs);
  const int64_t slen = coll_hdr_length(src);
  if (slen < 0) return -9875;
  int skind = static_cast<int>(sflags & 0xF);
  const char* content = nullptr;
  int64_t len = 0;
  SqliCollection image;
  const int dkind = dstflags & 0xF;
  if (skind != 1 && skind != 2 && skind != 4 && skind != 8) {
    if ((sflags & CF_UNCOUNTED) == 0) return -9875;
    skind = 1;
  }
  switch (skind) {
    case 1: case 2:
      content = src + bs + 8;
      len = slen - bs - 6;
      break;
    case 4:
      memcpy(&image, src + bs + 8, sizeof image);
      content = image.cl_data;
      len = image.cl_len;
      break;
    case 8:
      memcpy(&content, src + bs + 8, sizeof content);
      len = slen - bs - 6;
      break;
  }
  if (len < 0) return -9875;
  const int b = coll_hdr_pad(dst);
  int64_t dlen = len;
  switch (dkind) {
    case 1: case 2:
      memset(dst, 0, static_cast<size_t>(b));
      if (len > 0) memmove(dst + b + 8, content, static_cast<size_t>(len));
      break;
    case 4:
      memset(dst, 0, static_cast<size_t>(b));
      if (skind == 4) {
        memcpy(dst + b + 8, &image, sizeof image);
      } else {
        if (info == nullptr) return -9875;
        SqliCollection rec;
        zel_coll_init(&rec, info, typed, const_cast<char*>(content), static_cast<int32_t>(len));
        memcpy(dst + b + 8, &rec, sizeof rec);
      }
      dlen = sizeof image;
      break;
    case 8:
      memset(dst, 0, static_cast<size_t>(b));
      memcpy(dst + b + 8, &content, sizeof content);
      break;
    default:
      if ((dstflags & CF_UNCOUNTED) == 0 || len <= 0) return -9875;
      memset(dst, 0, static_cast<size_t>(b));
      memmove(dst + b + 8, content, static_cast<size_t>(len));
      break;
  }
  const uint32_t flags =
      static_cast<uint32_t>(dstflags) | (sflags & (CF_UNCOUNTED | CF_LONG));
  char hash[4];
  memcpy(hash, src + bs + 4, 4);
  if ((sflags & CF_LONG) != 0) memset(hash, 0, 4);
  const int64_t length = b + 6 + dlen;
  PutLength(dst, b, flags, length, hash);
  return static_cast<int>(length + 2);
}

TV_EXTERN_C TV_API int zel_coll_packed_size(int colltype, const CollChangeLog* e) {
  if (colltype && e->ch_newrow != nullptr && e->ch_newrowlen >= 3) {
    const int64_t n = coll_packed_size(e->ch_newrow);
    if (n >= 0) return static_cast<int>(n);
  }
  return e->ch_newrowlen;
}

TV_EXTERN_C TV_API int zel_coll_val_isnull(const char* p, int32_t len, int type) {
  const int t = type & 0xFF;
  if (coll_is_colltype(t)) return len >= 3 && p[2] != 0 ? 0 : -1;
  if (t == SQLDECIMAL || t == SQLMONEY || t == SQLDTIME || t == SQLINTERVAL)
    return len >= 2 && p[0] == 0 && p[1] == 0 ? 0 : -1;
  if (p == nullptr) return 0;
  if (!coll_elem_fits(t, 0, p, len)) return -1;
  SqlValue v;
  memset(&v, 0, sizeof v);
  v.v_type = static_cast<uint16_t>(t);
  if (rdataval(p, t, t == SQLVCHAR || t == SQLNVCHAR ? 0 : len, &v) != 0) return -1;
  return v.v_ind < 0 ? 0 : -1;
}

namespace {

// Writes n bytes of a name field of width N (zero-filled).
char* PutName(char* out, const char* name, int N) {
  memset(out, 0, static_cast<size_t>(N));
  memcpy(out, name, static_cast<size_t>(N < 128 ? N : 128));
  return out + N;
}

char* PutEntry(char* o, const CollTypeEntry& e, int N) {
  Put16(o, static_cast<uint16_t>(e.seqno)); o += 2;
  Put16(o, static_cast<uint16_t>(e.level_no)); o += 2;
  Put16(o, static_cast<uint16_t>(e.parent_no)); o += 2;
  Put16(o, static_cast<uint16_t>(e.fieldnmlen)); o += 2;
  o = PutName(o, e.fieldname, N);
  Put16(o, static_cast<uint16_t>(e.field_no)); o += 2;
  Put16(o, e.type); o += 2;
  Put16(o, static_cast<uint16_t>(e.length)); o += 2;
  coll_put32(o, static_cast<uint32_t>(e.xid)); o += 4;
  Put16(o, e.flags); o += 2;
  Put16(o, static_cast<uint16_t>(e.xtype_nm_len)); o += 2;
  o = PutName(o, e.xtype_name, N);
  Put16(o, static_cast<uint16_t>(e.xtype_owner_len)); o += 2;
  o = PutName(o, e.xtype_owner_name, N);
  Put16(o, static_cast<uint16_t>(e.align)); o += 2;
  coll_put32(o, static_cast<uint32_t>(e.srctype)); o += 4;
  return o;
}

const char* GetEntry(const char* s, CollTypeEntry* e, int N) {
  auto name = [&](char* field) {
    memcpy(field, s, static_cast<size_t>(N < 128 ? N : 128));
    s += N;
  };
  e->seqno = Get16(s); s += 2;
  e->level_no = Get16(s); s += 2;
  e->parent_no = Get16(s); s += 2;
  e->fieldnmlen = Get16(s); s += 2;
  name(e->fieldname);
  e->field_no = Get16(s); s += 2;
  e->type = static_cast<uint16_t>(Get16(s)); s += 2;
  e->length = Get16(s); s += 2;
  e->xid = static_cast<int32_t>(coll_get32(s)); s += 4;
  e->flags = static_cast<uint16_t>(Get16(s)); s += 2;
  e->xtype_nm_len = Get16(s); s += 2;
  name(e->xtype_name);
  e->xtype_owner_len = Get16(s); s += 2;
  name(e->xtype_owner_name);
  e->align = Get16(s); s += 2;
  e->srctype = static_cast<int32_t>(coll_get32(s)); s += 4;
  return s;
}

}  // namespace

TV_EXTERN_C TV_API int stcollection(const SqliCollection* cc, char* dst, int longid) {
  auto* c = const_cast<SqliCollection*>(cc);
  // Pending changes are folded first, so that the data written is whole.
  if ((c->cl_flags & COLL_ISNULL) == 0 && c->cl_log != nullptr) {
    if (int rc = zel_coll_tuple(c); rc != 0 && rc != -9977) return rc;
  }
  const int N = longid ? 128 : 18;
  const CollTypeInfo* info = coll_info(c);
  const bool null = (c->cl_flags & COLL_ISNULL) != 0 || info == nullptr;
  const int F = null ? 0 : (info->ti_count < 0 ? 0 : info->ti_count);
  const int32_t data = null ? 0 : (c->cl_len < 0 ? 0 : c->cl_len);
  if (!null && data > 0 && (c->cl_data == nullptr || data > c->cl_datalen)) return -9986;
  const int entries = null ? 1 : F;
  const int64_t length = int64_t{entries} * (30 + 3 * N) + 8 + N + 12 + data;
  char* o = dst;
  coll_put32(o, static_cast<uint32_t>(length)); o += 4;
  coll_put32(o, null || info == nullptr ? 0 : info->ti_word); o += 4;
  Put16(o, null || info == nullptr ? 0 : info->ti_half); o += 2;
  if (null) {
    memset(o, 0, static_cast<size_t>(N));
    o += N;
  } else {
    o = PutName(o, info->ti_name, N);
  }
  Put16(o, static_cast<uint32_t>(F)); o += 2;
  if (null) {
    CollTypeEntry zero;
    memset(&zero, 0, sizeof zero);
    o = PutEntry(o, zero, N);
  } else {
    for (int i = 0; i < F; i++) o = PutEntry(o, info->ti_entry[i], N);
  }
  coll_put32(o, static_cast<uint32_t>(c->cl_handle)); o += 4;
  coll_put32(o, static_cast<uint32_t>(data)); o += 4;
  coll_put32(o, c->cl_flags); o += 4;
  if (data > 0) memcpy(o, c->cl_data, static_cast<size_t>(data));
  o += data;
  return static_cast<int>(o - dst);
}

namespace {

// Reads the stored form of at most `avail` bytes (from ti_word on).
int LoadStored(const char* s, int64_t avail, SqliCollection* c, int longid) {
  const int N = longid ? 128 : 18;
  const int64_t entry = 30 + 3 * N;
  if (avail < 8 + N) return -9986;
  const uint32_t word = coll_get32(s);
  const uint16_t half = static_cast<uint16_t>(Get16(s + 4));
  const char* name = s + 6;
  const int F = Get16(s + 6 + N);
  if (F < 0) return -9986;  // refused before anything is allocated
  const char* p = s + 8 + N;
  int64_t left = avail - 8 - N;
  if (F * entry + 12 > left) return -9986;
  CollTypeInfo* info = coll_typeinfo_alloc(F + 1);
  if (info == nullptr) return -406;
  info->ti_count = static_cast<int16_t>(F);
  info->ti_word = word;
  info->ti_half = half;
  memcpy(info->ti_name, name, static_cast<size_t>(N < 128 ? N : 128));
  for (int i = 0; i < F; i++) {
    CollTypeEntry* e = &info->ti_entry[i];
    p = GetEntry(p, e, N);
    const int t = e->type & 0xFF;
    if ((t == SQLUDTVAR || t == SQLUDTFIXED) && (e->xid == 5 || e->xid == 1)) {
      e->type = static_cast<uint16_t>((e->type & 0xFF00) | (e->xid == 5 ? SQLBOOL : SQLLVARCHAR));
      e->xid = 0;
    }
  }
  left -= F * entry;
  // A null value is written with F = 0 and one entry of zeros: the data
  // length tells which layout the bytes have (it fills the rest exactly).
  if (F == 0 && left >= entry + 12 &&
      static_cast<int32_t>(coll_get32(p + 4)) != left - 12 &&
      static_cast<int32_t>(coll_get32(p + entry + 4)) == left - entry - 12) {
    p += entry;
    left -= entry;
  }
  const int32_t handle = static_cast<int32_t>(coll_get32(p));
  const int32_t n = static_cast<int32_t>(coll_get32(p + 4));
  const uint32_t flags = coll_get32(p + 8);
  p += 12;
  left -= 12;
  if (n < 0 || n > left) {
    free(info);
    return -9986;
  }
  char* data = nullptr;
  bool shifted = false;
  if (n > 0) {
    data = coll_data_alloc(static_cast<size_t>(n), &shifted);
    if (data == nullptr) {
      free(info);
      return -406;
    }
    memcpy(data, p, static_cast<size_t>(n));
  }
  // The record keeps its client description, typed flag and cursors; the
  // rest is replaced.
  CollTypeInfo* client = c->cl_typeinfo;
  const int16_t typed = c->cl_typed;
  CollCursor* cursors = c->cl_curs;
  if (c->cl_magic == COLL_MAGIC) {
    c->cl_curs = nullptr;
    if ((c->cl_flags & COLL_OWNS_TYPEINFO) != 0 && c->cl_svr_typeinfo != client)
      free(c->cl_svr_typeinfo);
    c->cl_typeinfo = nullptr;
    c->cl_svr_typeinfo = nullptr;
    c->cl_flags &= ~static_cast<uint32_t>(COLL_OWNS_TYPEINFO);
    zel_coll_free(c);
  }
  const int rc = zel_coll_init(c, info, 0, data, n);
  c->cl_typeinfo = client;
  c->cl_typed = typed;
  c->cl_curs = cursors;
  for (CollCursor* k = cursors; k != nullptr; k = k->cc_next) {
    k->cc_pos = k->cc_run = 0;
    k->cc_head = nullptr;
    k->cc_datapos = nullptr;
    k->cc_flags = 0;
  }
  c->cl_handle = handle;
  // The ownership and block bits are this process's own, never the wire's.
  const uint32_t own = COLL_OWNS_TYPEINFO | COLL_OWNS_DATA | COLL_DATA_SHIFTED;
  c->cl_flags = (flags & ~own) | COLL_OWNS_TYPEINFO | COLL_OWNS_DATA |
                (shifted ? COLL_DATA_SHIFTED : 0);
  if ((c->cl_flags & 0x80000000u) != 0) {
    c->cl_flags &= ~0x80000000u;
    c->cl_flags |= COLL_ISNULL;
  }
  if (rc != 0) {
    // Damaged element data: nothing of it is kept.
    coll_data_free(data, shifted);
    c->cl_data = nullptr;
    c->cl_len = c->cl_datalen = c->cl_cardinality = c->cl_hashvalue = 0;
    c->cl_flags &= ~static_cast<uint32_t>(COLL_OWNS_DATA | COLL_DATA_SHIFTED);
    return rc;
  }
  return 0;
}

}  // namespace

TV_EXTERN_C TV_API int ldcollection(const char* src, SqliCollection* c, int skipword,
                                    int longid) {
  if (skipword) {
    const int64_t avail = static_cast<int32_t>(coll_get32(src));
    if (avail < 0) return -9986;
    return LoadStored(src + 4, avail, c, longid);
  }
  return LoadStored(src, INT32_MAX, c, longid);
}

CollTypeInfo* coll_subinfo(const CollTypeInfo* info, int field, int* rc) {
  *rc = 0;
  if (info == nullptr || info->ti_count < 1) {
    *rc = -9969;
    return nullptr;
  }
  int first, last;  // entries [first, last)
  const CollTypeEntry& root0 = info->ti_entry[0];
  if (field > 0 && (root0.type & 0xFF) != SQLROW) {
    *rc = -9972;
    return nullptr;
  }
  if ((root0.type & 0xFF) == SQLROW && field > 0) {
    const CollTypeEntry* f = coll_row_field(info, field);
    if (f == nullptr) {
      *rc = -9969;
      return nullptr;
    }
    first = static_cast<int>(f - info->ti_entry);
    last = first + 1;
    while (last < info->ti_count && info->ti_entry[last].level_no > f->level_no) last++;
    if (root0.level_no == 0 && last == first + 1) {
      *rc = -9969;
      return nullptr;
    }
  } else {
    if (info->ti_count < 2) {
      *rc = -9969;
      return nullptr;
    }
    first = 1;
    last = info->ti_count;
  }
  CollTypeInfo* out = coll_typeinfo_alloc(last - first);
  if (out == nullptr) {
    *rc = -837;
    return nullptr;
  }
  out->ti_word = info->ti_word;
  out->ti_half = info->ti_half;
  memcpy(out->ti_name, info->ti_name, sizeof out->ti_name);
  const CollTypeEntry& base = field > 0 && (root0.type & 0xFF) == SQLROW ? info->ti_entry[first]
                                                                          : root0;
  for (int i = first; i < last; i++) {
    CollTypeEntry e = info->ti_entry[i];
    e.seqno = static_cast<int16_t>(e.seqno - base.seqno);
    e.level_no = static_cast<int16_t>(e.level_no - base.level_no);
    e.parent_no = static_cast<int16_t>(e.parent_no - base.parent_no);
    out->ti_entry[i - first] = e;
  }
  return out;
}

TV_EXTERN_C TV_API int zel_coll_subtypeinfo(const SqliCollection* c, CollTypeInfo** info,
                                            int field) {
  free(*info);
  *info = nullptr;
  int rc;
  *info = coll_subinfo(coll_info(c), field, &rc);
  return rc;
}
