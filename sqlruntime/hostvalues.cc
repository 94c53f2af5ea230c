// Host values: the rules the bind, PUT and fetch paths share (wire type
// and wire size of a value, the null rule of inputs, indicator variables,
// multibyte fitting, conversions through an SqlValue), the item array and
// the runtime's descriptor-name table.
#include "sqlruntime/hostvalues.h"

#include <stdlib.h>
#include <string.h>

#include "base/locale_state.h"
#include "base/thread_state.h"
#include "locale/core/gl_mbstring.h"
#include "sqlruntime/blobs.h"
#include "sqlruntime/hostvalues_internal.h"
#include "sqlruntime/names.h"
#include "sqlruntime/runtime.h"
#include "sqlruntime/stream.h"
#include "sqltypes/value_null.h"
#include "sqltypes/value_stored.h"

namespace sqli_hv {

SqliConnection* Conn() {
  SqliRuntime* rt = sqli_runtime_get();
  return rt != nullptr ? rt->current : nullptr;
}

bool Ansi() {
  SqliConnection* c = Conn();
  return c != nullptr && c->props[1] != 0;
}

bool FloatsAsDecimals() {
  SqliConnection* c = Conn();
  return c != nullptr && c->props[3] != 0;
}

bool Xtypes() {
  SqliConnection* c = Conn();
  return c != nullptr && SQLI_CAP_XTYPES(c);
}

bool Unpadded() {
  SqliConnection* c = Conn();
  return c != nullptr && c->unpadded_varchar != 0;
}

int16_t InputIndicator(const SqliValueItem* item, bool* has) {
  *has = false;
  if (item->indicator != nullptr) {
    *has = true;
    return *item->indicator;
  }
  if (item->ind_type != -1 && item->ind_data != nullptr && item->ind_length != 0) {
    *has = true;
    return sqli_ind_read(item->ind_type, item->ind_data, item->ind_length);
  }
  return 0;
}

bool InputIsNull(const SqliValueItem* item) {
  bool has = false;
  int16_t ind = InputIndicator(item, &has);
  if (has && ind < 0) return true;
  if (has && ind > 0) return false;
  int32_t t = item->type & 0x7FFF;
  if (has && TextHost(t)) return false;
  if (item->data == nullptr) return true;
  if (t >= 200) return false;
  if (t == 113 || t == SQLBYTES || t == SQLTEXT) {
    // A locator tells null by its own indicator.
    return reinterpret_cast<const SqliLocator*>(item->data)->indicator == -1;
  }
  return risnull(t, item->data) != 0;
}

GlConverter* ToServer() {
  ClientLocaleState* ls = rgllocstate();
  return ls != nullptr ? ls->client_to_db : nullptr;
}

GlConverter* FromServer() {
  ClientLocaleState* ls = rgllocstate();
  return ls != nullptr ? ls->db_to_client : nullptr;
}

namespace {

int32_t ConvertWith(GlConverter* cv, const char* text, int32_t n, const char** out, int32_t* err) {
  *out = text;
  *err = 0;
  if (cv == nullptr || n <= 0) return n < 0 ? 0 : n;
  SqliRuntime* rt = sqli_runtime_get();
  CvtGrowBuf buf{rt->text_buffer_size, reinterpret_cast<char*>(rt->text_buffer)};
  int32_t written = cvt_togrowbuf(cv, text, &n, &buf);
  rt->text_buffer = reinterpret_cast<unsigned char*>(buf.data);
  rt->text_buffer_size = buf.size;
  if (written < 0) {
    *err = rgetglerror();
    if (*err == 0) *err = -23113;
    return -1;
  }
  *out = buf.data;
  return written;
}

}  // namespace

int32_t ConvertOut(const char* text, int32_t n, const char** out, int32_t* err) {
  return ConvertWith(ToServer(), text, n, out, err);
}

int32_t ConvertIn(const char* text, int32_t n, const char** out, int32_t* err) {
  return ConvertWith(FromServer(), text, n, out, err);
}

void Be16(int32_t v, unsigned char* p) {
  p[0] = static_cast<unsigned char>((v >> 8) & 0xFF);
  p[1] = static_cast<unsigned char>(v & 0xFF);
}

void Be32(int64_t v, unsigned char* p) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>((v >> (24 - 8 * i)) & 0xFF);
}

void Be64(int64_t v, unsigned char* p) {
  uint64_t u = static_cast<uint64_t>(v);
  for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>((u >> (56 - 8 * i)) & 0xFF);
}

int32_t Ld16(const unsigned char* p) { return static_cast<int16_t>((p[0] << 8) | p[1]); }

int32_t Ld32(const unsigned char* p) {
  return static_cast<int32_t>((static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
                              (static_cast<uint32_t>(p[2]) << 8) | p[3]);
}

int64_t Ld64(const unsigned char* p) {
  uint64_t u = 0;
  for (int i = 0; i < 8; ++i) u = (u << 8) | p[i];
  return static_cast<int64_t>(u);
}

int32_t FloatFlag() {
  SqliConnection* c = Conn();
  return c != nullptr && c->stream != nullptr && c->stream->float_format == 1 ? 1 : 0;
}

int32_t FitChars(const char* text, int32_t length, int32_t room, bool client_locale) {
  if (length <= room) return length;
  if (room <= 0) return 0;
  ClientLocaleState* ls = rgllocstate();
  GlLocale* loc = client_locale || ls == nullptr ? nullptr : ls->database;
  if (loc == nullptr) loc = sqlv_locale();
  if (loc == nullptr || loc->single_byte) return room;
  const char* pos = text + length;
  while (pos - text > room) {
    const char* prev = gl_full_mbsprev(loc, text, pos);
    if (prev == nullptr || prev >= pos) return room;  // not a character boundary walk: cut bytes
    pos = prev;
  }
  return static_cast<int32_t>(pos - text);
}

}  // namespace sqli_hv

using namespace sqli_hv;

namespace {

// One entry of the descriptor-name table; the name follows the record.
struct DescNameEntry {
  char* name;
  SqliDescriptor* descriptor;
};

SqliHashTable* DescTable(bool make) {
  SqliRuntime* rt = sqli_runtime_get();
  if (rt == nullptr) return nullptr;
  if (rt->descriptor_names == nullptr && make) rt->descriptor_names = sqli_hash_new(13);
  return rt->descriptor_names;
}

}  // namespace

TV_BEGIN_C

int32_t sqli_input_null(const SqliValueItem* item) { return item != nullptr && sqli_hv::InputIsNull(item) ? 1 : 0; }

int32_t sqli_char_input_check(const SqliItemList* in) {
  if (!sqli_hv::Ansi() || in == nullptr || in->items == nullptr) return 0;
  for (int32_t i = 0; i < in->count; ++i) {
    const SqliValueItem* v = &in->items[i];
    bool has = false;
    if (sqli_hv::InputIndicator(v, &has) == -1 && has) break;
    const int32_t t = v->type & 0x7FFF;
    if ((t == 100 || t == 109 || t == 114) && v->length > 0 && v->data != nullptr &&
        memchr(v->data, 0, static_cast<size_t>(v->length)) == nullptr) {
      _iqseterr(-766);
      return -766;
    }
  }
  return 0;
}

int32_t sqli_wire_type(int32_t host_type, SqliValueItem* item, int32_t write, int32_t xid,
                       struct SqliMessageStream* s) {
  int32_t top = host_type & 0x8000;
  int32_t ht = host_type & 0x7FFF;
  int32_t t = ht >= 200 ? -1 : rtyphosttosql(ht);
  if (t >= 0) {
    if ((t == SQLFLOAT || t == SQLSMFLOAT) && FloatsAsDecimals()) {
      t = SQLDECIMAL;
    } else if (t == SQLUDTVAR || t == SQLUDTFIXED) {
      t = xid == 3 ? 46 : xid == 4 ? 47 : xid == 1 ? SQLLVARCHAR : 44;
    } else if (CollType(t)) {
      t = 44;
    } else if (t == SQLBYTES && ht != 116 && item != nullptr && item->data != nullptr && ht == 113) {
      const SqliLocator* loc = reinterpret_cast<const SqliLocator*>(item->data);
      if (loc->type == SQLTEXT || loc->type == SQLBYTES) t = loc->type;
    }
    t |= top;
  }
  if (write && s != nullptr) sqli_msg_put_short(t, s);
  return t;
}

int32_t sqli_wire_size(int32_t type, int32_t distinct, int32_t source_type, int32_t source_length,
                       int32_t qualifier, int32_t host_length, int32_t* length_word) {
  int32_t t = type & 0xFF;
  int32_t lw = length_word != nullptr ? *length_word : 0;
  int32_t size = 0;
  if (distinct && (source_type & 0xFF) == t) {
    switch (t) {
      case SQLDECIMAL: case SQLMONEY:
        size = PackedSize(source_length);
        lw = source_length;
        if (length_word != nullptr) *length_word = lw;
        return size;
      case SQLCHAR: case SQLNCHAR: case SQLDTIME: case SQLINTERVAL: case SQLVCHAR: case SQLNVCHAR:
      case SQLSET: case SQLMULTISET: case SQLLIST: case SQLROW: case SQLCOLLECTION:
        break;
      default:
        if (length_word != nullptr) *length_word = source_length;
        return source_length;
    }
  }
  switch (t) {
    case SQLCHAR: case SQLNCHAR: size = lw = host_length; break;
    case SQLSMINT: size = lw = 2; break;
    case SQLINT: case SQLSMFLOAT: case SQLSERIAL: case SQLDATE: size = lw = 4; break;
    case SQLFLOAT: case SQLBIGINT: case SQLBIGSERIAL: size = lw = 8; break;
    case SQLDECIMAL: case SQLMONEY: size = 18; lw = 8447; break;
    case SQLDTIME: case SQLINTERVAL: size = PackedSize(qualifier); lw = qualifier; break;
    case SQLBYTES: case SQLTEXT: size = lw = 56; break;
    case SQLVCHAR: case SQLNVCHAR: {
      int32_t n = host_length > 255 ? 255 : host_length;
      n = static_cast<unsigned char>(n);
      size = n + 1;
      lw = n;
      break;
    }
    case SQLINT8: case SQLSERIAL8: size = lw = 10; break;
    case SQLSET: case SQLMULTISET: case SQLLIST: case SQLROW: case SQLCOLLECTION:
    case SQLUDTVAR: case SQLUDTFIXED: case SQLLVARCHAR: case SQLBOOL:
      size = lw = 0;
      break;
    default: size = 0; break;
  }
  if (length_word != nullptr) *length_word = lw;
  return size;
}

int32_t sqli_host_to_host(const void* src, int32_t src_type, int32_t src_length, void* dst, int32_t dst_type,
                          int32_t dst_length) {
  return sqli_host_convert(src, src_type, src_length, dst, dst_type, dst_length);
}

int32_t sqli_host_to_stored(const void* src, int32_t src_type, int32_t src_length, void* dst,
                            int32_t stored_type, int32_t stored_length) {
  if (src_type == -1 || src_type >= 200) return -486;
  SqlValue v;
  memset(&v, 0, sizeof v);
  if (rhosttoval(const_cast<void*>(src), src_type, &v, src_length, nullptr) != 0) return -486;
  return rvaltodata(&v, dst, stored_type, stored_length);
}

int32_t sqli_item_to_value(SqliValueItem* item, SqlValue* v) {
  if (item == nullptr || v == nullptr || (item->type & 0x7FFF) >= 200 || item->type == -1) return -1;
  bool has = false;
  int16_t ind = InputIndicator(item, &has);
  if (rhosttoval(item->data, item->type & 0x7FFF, v, item->length, has ? &ind : nullptr) != 0) return -1;
  return 0;
}

int32_t sqli_value_to_item(SqlValue* v, SqliValueItem* item) {
  int16_t ind = 0;
  int32_t rc = rvaltohost(v, item->data, item->type, item->length, &ind);
  if (rc < 0) {
    sqli_status.code = rc;
    return rc;
  }
  if (item->indicator != nullptr) *item->indicator = ind;
  else if (item->ind_type != -1 && item->ind_data != nullptr && item->ind_length != 0) {
    int32_t w = sqli_ind_write(ind, item->ind_type, item->ind_data, item->ind_length);
    if (w < 0) {
      sqli_status.code = w;
      return w;
    }
  }
  sqli_status.code = rc;
  return rc;
}

int16_t sqli_ind_read(int32_t type, const void* data, int32_t length) {
  if (length == 0 || data == nullptr) return 0;
  switch (type) {
    case SQLSMINT: case 101: {
      int16_t v;
      memcpy(&v, data, sizeof v);
      return v;
    }
    case SQLINT: case 102: {
      int32_t v;
      memcpy(&v, data, sizeof v);
      return static_cast<int16_t>(v);
    }
    case 103: {
      int64_t v;
      memcpy(&v, data, sizeof v);
      return static_cast<int16_t>(v);
    }
    default: {
      int16_t out = 0;
      int16_t ind = 0;
      if (sqli_host_convert(data, type, length, &out, 101, 2) < 0) return 0;
      (void)ind;
      return out;
    }
  }
}

int32_t sqli_ind_write(int32_t value, int32_t type, void* data, int32_t length) {
  if (data == nullptr || length == 0) return 0;
  switch (type) {
    case SQLSMINT: case 101: {
      if (value < -32768 || value > 32767) return -456;
      int16_t v = static_cast<int16_t>(value);
      memcpy(data, &v, sizeof v);
      return 0;
    }
    case SQLINT: case 102: {
      int32_t v = value;
      memcpy(data, &v, sizeof v);
      return 0;
    }
    case 103: {
      int64_t v = value;
      memcpy(data, &v, sizeof v);
      return 0;
    }
    default: {
      SqlValue v;
      memset(&v, 0, sizeof v);
      v.v_type = SQLSMINT;
      v.v_len = 0x0500;
      v.v.i4 = static_cast<int16_t>(value);
      if (value < -32768 || value > 32767) return -456;
      if (value == -32768) v.v_ind = -1;
      int16_t ind = 0;
      int32_t rc = rvaltohost(&v, data, type, length, &ind);
      if (rc < 0 || ind > 0) return -456;
      return 0;
    }
  }
}

int32_t sqli_mb_fit(const char* text, int32_t length, int32_t room) {
  if (length <= room) return length;
  if (Ansi()) return -1279;
  return FitChars(text, length, room, true);
}

int32_t sqli_check_input_desc(SqliCursor* c, SqliDescriptor* desc) {
  const SqliValueItem* first = nullptr;
  if (c != nullptr && (c->flags & SQLI_CF_DYNAMIC) != 0) {
    if (desc != nullptr && desc->count >= 1 && desc->items != nullptr) first = &desc->items[0];
  } else if (c != nullptr && c->input_count >= 1 && c->inputs != nullptr) {
    first = &c->inputs[0];
  }
  if (first != nullptr) {
    int32_t t = first->type;
    int32_t low = t & 0x7FFF;
    if ((low >= SQLSET && low <= SQLCOLLECTION) || low == 123 || (low == 118 && (t & 0x8000) != 0)) return 1;
  }
  _iqseterr(-1817);
  return -1;
}

SqliValueItem* sqli_item_array_make(SqliValueItem* old, int32_t old_count, int32_t new_count) {
  if (old != nullptr) {
    for (int32_t i = 0; i < old_count; ++i) {
      SqliValueItem* it = &old[i];
      if (it->flags & SQLI_IF_NAME_OWNED) free(it->name);
      if (it->flags & SQLI_IF_OWNER_OWNED) free(it->owner_name);
      if (it->flags & SQLI_IF_TYPE_NAME_OWNED) free(it->type_name);
    }
    free(old);
  }
  if (new_count <= 0) return nullptr;
  return static_cast<SqliValueItem*>(calloc(static_cast<size_t>(new_count), sizeof(SqliValueItem)));
}

int32_t sqli_host_msize(int32_t type, int32_t length) {
  switch (type) {
    case 0: case 13: case 15: case 16: case 100: case 109: case 114: case 116: return length;
    default: return rtypmsize(type, length);
  }
}

int32_t sqli_desc_table_add(const char* name, SqliDescriptor* d) {
  if (name == nullptr) return 0;
  SqliHashTable* t = DescTable(true);
  if (t == nullptr) return 0;
  size_t n = strlen(name);
  auto* e = static_cast<DescNameEntry*>(malloc(sizeof(DescNameEntry) + n + 1));
  if (e == nullptr) return 0;
  e->name = reinterpret_cast<char*>(e + 1);
  memcpy(e->name, name, n + 1);
  e->descriptor = d;
  if (!sqli_hash_add(t, e)) {
    free(e);
    return 0;
  }
  return 1;
}

SqliDescriptor* sqli_desc_table_find(const char* name) {
  auto* e = static_cast<DescNameEntry*>(sqli_hash_find(DescTable(false), name));
  return e != nullptr ? e->descriptor : nullptr;
}

SqliDescriptor* sqli_desc_table_remove(const char* name) {
  auto* e = static_cast<DescNameEntry*>(sqli_hash_remove(DescTable(false), name));
  if (e == nullptr) return nullptr;
  SqliDescriptor* d = e->descriptor;
  free(e);
  return d;
}

TV_END_C
