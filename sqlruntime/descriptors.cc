// ALLOCATE, GET, SET and DEALLOCATE DESCRIPTOR, and the storage the runtime
// keeps for descriptor items.
//
// Descriptor block (one allocation, machine order, never stored):
//   SqliDescriptor header (count, items, name, max_count)
//   max_count SqliValueItem records
//   max_count int16 indicators, item i's indicator pointer at the i-th
//   the display name, NUL-terminated (names of 18 bytes or more are shown
//   as their first 17 characters and "+"; the table holds the full name)
#include "sqlruntime/descriptors.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sqlruntime/blobs.h"
#include "sqlruntime/call_frame.h"
#include "sqlruntime/hostvalues.h"
#include "sqlruntime/names.h"
#include "sqlruntime/runtime.h"
#include "sqltypes/datetime.h"
#include "sqltypes/sqlvalue.h"
#include "sqltypes/value_null.h"

namespace {

using sqli_frame::Enter;
using sqli_frame::Fail;
using sqli_frame::Done;

constexpr int32_t kMaxName = 128;

// The name as the table knows it: trailing blanks are not part of it.
bool TableName(const char* name, std::string* out) {
  if (name == nullptr) return false;
  std::string s(name);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  *out = s;
  return !s.empty();
}

bool IsChar(int32_t t) { return t == SQLCHAR || t == SQLVCHAR || t == SQLNCHAR || t == SQLNVCHAR || t == SQLLVARCHAR; }
bool IsVarchar(int32_t t) { return t == SQLVCHAR || t == SQLNVCHAR; }
bool IsLvar(int32_t t) { return t == SQLLVARCHAR || t == 119 || t == 124; }
bool IsDecimal(int32_t t) { return t == SQLDECIMAL || t == SQLMONEY; }
bool IsHostText(int32_t t) {
  return t == SQLCHAR || t == SQLVCHAR || t == SQLNCHAR || t == SQLNVCHAR || t == 100 || t == 108 || t == 109 ||
         t == 114 || t == 116;
}

// Standard type codes of programs that ask for them, both ways.
int32_t ToStandard(int32_t t) {
  switch (t) {
    case SQLCHAR: return 1;
    case SQLSMINT: return 5;
    case SQLINT: return 4;
    case SQLFLOAT: return 6;
    case SQLDECIMAL: return 3;
    case SQLBIGINT: return 7;
    default: return -1;
  }
}
int32_t FromStandard(int32_t t) {
  switch (t) {
    case 1: return SQLCHAR;
    case 3: return SQLDECIMAL;
    case 4: return SQLINT;
    case 5: return SQLSMINT;
    case 6: return SQLFLOAT;
    case 7: return SQLBIGINT;
    default: return -1;
  }
}

// Reads an integer from a host variable: 0 or a conversion error.
int32_t ReadInt(const SqliDescField& f, int32_t* out) {
  int32_t v = 0;
  int32_t rc = sqli_host_to_host(f.data, f.host_type, f.host_length, &v, 102, 4);
  if (rc < 0) return rc;
  *out = v;
  return 0;
}

int32_t PutInt(int32_t value, int32_t type, const SqliDescField& f) {
  if (type == 101) {
    int16_t s = static_cast<int16_t>(value);
    return sqli_host_to_host(&s, 101, 2, f.data, f.host_type, f.host_length);
  }
  return sqli_host_to_host(&value, 102, 4, f.data, f.host_type, f.host_length);
}

int32_t PutText(const char* text, const SqliDescField& f) {
  return sqli_item_name_get(text != nullptr ? text : "", static_cast<char*>(f.data), f.host_length);
}

// The type word GET shows: the low byte (or -1) with the extended bits.
int32_t ShownType(int32_t word, int32_t standard, int32_t* out) {
  if (word == -1) {
    *out = -1;
    return standard ? -473 : 0;
  }
  int32_t low = word & 0xFF;
  if (standard) {
    low = ToStandard(low);
    if (low < 0) return -473;
  }
  *out = low | (word & 0x7800);
  return 0;
}

// The host or SQL code under which an item's storage is converted.
int32_t StorageType(const SqliValueItem* it) {
  if (it->type >= 100 && it->type < 200) return it->type;
  return sqli_item_effective_type(it);
}

// Length handed to a conversion into an item's storage: text storage has
// room for the terminating NUL.
int32_t StorageLength(int32_t type, int32_t length) {
  if (type == SQLCHAR || type == SQLVCHAR || type == SQLNCHAR || type == SQLNVCHAR) return length + 1;
  return length;
}

// Converts a host variable into an item's storage (DATETIME and INTERVAL
// text parsed under the item's qualifier).
int32_t ConvertIn(const SqliDescField& f, SqliValueItem* it, int32_t length) {
  int32_t t = StorageType(it);
  if ((t == SQLDTIME || t == 112) && IsHostText(f.host_type)) {
    DateTimeValue dt;
    std::memset(&dt, 0, sizeof dt);
    dt.dt_qual = static_cast<int16_t>(it->length);
    std::string text(static_cast<const char*>(f.data));
    int rc = dtcvasc(text.c_str(), &dt);
    if (rc != 0) return rc;
    return sqli_host_to_host(&dt, 112, 24, it->data, t, it->length);
  }
  if ((t == SQLINTERVAL || t == 115) && IsHostText(f.host_type)) {
    IntervalValue iv;
    std::memset(&iv, 0, sizeof iv);
    iv.in_qual = static_cast<int16_t>(it->length);
    std::string text(static_cast<const char*>(f.data));
    int rc = incvasc(text.c_str(), &iv);
    if (rc != 0) return rc;
    return sqli_host_to_host(&iv, 115, 24, it->data, t, it->length);
  }
  return sqli_host_to_host(f.data, f.host_type, f.host_length, it->data, t, length);
}

SqliDescriptor* Find(const char* name) {
  std::string key;
  if (!TableName(name, &key)) return nullptr;
  return sqli_desc_table_find(key.c_str());
}

}  // namespace

TV_BEGIN_C

int32_t sqli_item_effective_type(const SqliValueItem* it) {
  int32_t t = it->type & 0xFF;
  if (it->type == -1) return -1;
  if ((t == SQLUDTVAR || t == SQLUDTFIXED) && (it->type & 0x4000)) return SQLBOOL;
  if ((t == SQLUDTVAR || t == SQLUDTFIXED) && (it->type & 0x2000)) return SQLLVARCHAR;
  if (it->type & 0x800) return it->source_type & 0xFF;
  return t;
}

void sqli_item_release(SqliValueItem* it) {
  if (it->data == nullptr || (it->flags & SQLI_IF_DATA_OWNED) == 0) {
    it->flags &= ~SQLI_IF_DATA_OWNED;
    return;
  }
  int32_t t = it->type >= 100 && it->type < 200 ? it->type : sqli_item_effective_type(it);
  if (t == SQLLVARCHAR || t == 119 || t == 124 || t == SQLUDTVAR || t == 121) {
    auto* v = reinterpret_cast<SqliVarValue*>(it->data);
    sqli_var_free_data(v);
    std::free(v);
  } else if ((t >= SQLSET && t <= SQLCOLLECTION) || t == 118 || t == 123) {
    sqli_coll_value_free(it->data);
  } else if (t == SQLBYTES || t == SQLTEXT || t == 113) {
    auto* loc = reinterpret_cast<SqliLocator*>(it->data);
    if (loc->kind == SQLI_LOC_MEMORY && (loc->memory_flags & 0x01)) std::free(loc->buffer);
    std::free(loc);
  } else {
    std::free(it->data);
  }
  it->data = nullptr;
  it->flags &= ~SQLI_IF_DATA_OWNED;
}

void sqli_item_free_owned(SqliValueItem* it) {
  sqli_item_release(it);
  if (it->flags & SQLI_IF_IND_OWNED) std::free(it->ind_data);
  if (it->flags & SQLI_IF_NAME_OWNED) std::free(it->name);
  if (it->flags & SQLI_IF_OWNER_OWNED) std::free(it->owner_name);
  if (it->flags & SQLI_IF_TYPE_NAME_OWNED) std::free(it->type_name);
  it->ind_data = it->name = it->owner_name = it->type_name = nullptr;
  it->flags &= ~(SQLI_IF_IND_OWNED | SQLI_IF_NAME_OWNED | SQLI_IF_OWNER_OWNED | SQLI_IF_TYPE_NAME_OWNED);
}

int32_t sqli_item_storage(SqliValueItem* it) {
  int32_t t = StorageType(it);
  void* area = nullptr;
  if (t == SQLUDTVAR || t == 121) {
    area = sqli_var_make();
  } else {
    int32_t size = rtypmsize(t, it->length);
    if (size <= 0) return -486;
    if (t == SQLBYTES || t == SQLTEXT || t == 113) size = std::max<int32_t>(size, sizeof(SqliLocator));
    area = std::calloc(1, static_cast<size_t>(size));
  }
  if (area == nullptr) return -406;
  it->data = static_cast<char*>(area);
  it->flags |= SQLI_IF_DATA_OWNED;
  return 0;
}

int32_t sqli_item_name_get(const char* name, char* out, int32_t out_length) {
  size_t n = std::strlen(name);
  if (out == nullptr || out_length < 0 || n + 1 > static_cast<size_t>(out_length)) return -477;
  std::memcpy(out, name, n + 1);
  return 0;
}

char* sqli_item_text_copy(const char* text, int32_t n) {
  if (n < 0) n = 0;
  char* p = static_cast<char*>(std::malloc(static_cast<size_t>(n) + 1));
  if (p == nullptr) return nullptr;
  if (n > 0) std::memcpy(p, text, static_cast<size_t>(n));
  p[n] = '\0';
  return p;
}

int32_t sqli_desc_alloc(const char* name, int32_t max_count) {
  int32_t code;
  if (!Enter(&code)) return code;
  if (max_count <= 0) return Fail(-470);
  std::string key;
  if (!TableName(name, &key)) return Fail(-471);
  if (key.size() > static_cast<size_t>(kMaxName)) return Fail(-483);
  if (max_count > 32767) return Fail(-470);  // COUNT is a SMALLINT
  if (sqli_desc_table_find(key.c_str()) != nullptr) return Fail(-480);
  const size_t items = sizeof(SqliValueItem) * static_cast<size_t>(max_count);
  const size_t head = (sizeof(SqliDescriptor) + 15) / 16 * 16;
  const size_t inds = sizeof(int16_t) * static_cast<size_t>(max_count);
  auto* block = static_cast<char*>(std::calloc(1, head + items + inds + key.size() + 1));
  if (block == nullptr) return Fail(-406);
  auto* d = reinterpret_cast<SqliDescriptor*>(block);
  d->items = reinterpret_cast<SqliValueItem*>(block + head);
  auto* ind = reinterpret_cast<int16_t*>(block + head + items);
  d->name = block + head + items + inds;
  std::memcpy(d->name, key.c_str(), key.size() + 1);
  sqli_trunc_name(d->name, static_cast<int32_t>(key.size()) + 1, 1);
  if (sqli_desc_table_add(key.c_str(), d) == 0) {
    std::free(block);
    return Fail(-406);
  }
  d->max_count = max_count;
  d->count = static_cast<int16_t>(max_count);
  for (int32_t i = 0; i < max_count; ++i) {
    SqliValueItem& it = d->items[i];
    it.type = -1;
    it.ind_type = -1;
    it.indicator = &ind[i];
    ind[i] = -1;
  }
  return Done();
}

int32_t sqli_desc_dealloc(const char* name) {
  int32_t code;
  if (!Enter(&code)) return code;
  std::string key;
  if (!TableName(name, &key)) return Fail(-471);
  SqliDescriptor* d = sqli_desc_table_remove(key.c_str());
  if (d == nullptr) return Fail(-469);
  for (int32_t i = 0; i < d->max_count; ++i) sqli_item_free_owned(&d->items[i]);
  std::free(d);
  return Done();
}

int32_t sqli_desc_get(int32_t, const char* name, int32_t n, SqliDescField* fields, int32_t standard) {
  int32_t code;
  if (!Enter(&code)) return code;
  SqliDescriptor* d = Find(name);
  if (d == nullptr) return Fail(-469);
  if (fields == nullptr) return Fail(-472);
  if (n == -1) {
    if (fields[0].field != 0) return Fail(-472);
    int32_t rc = PutInt(d->count, 101, fields[0]);
    return rc < 0 ? Fail(rc) : Done();
  }
  if (n < 1 || n > d->max_count) return Fail(-472);
  SqliValueItem* it = &d->items[n - 1];
  bool wants_data = false, wants_ind = false;
  for (const SqliDescField* f = fields; f->field != 0; ++f) {
    wants_data |= f->field == SQLI_DF_DATA;
    wants_ind |= f->field == SQLI_DF_INDICATOR;
  }
  if (wants_data && !wants_ind && it->indicator != nullptr && *it->indicator == -1) return Fail(-475);
  for (const SqliDescField* f = fields; f->field != 0; ++f) {
    int32_t rc = 0, v = 0;
    const int32_t low = it->type & 0xFF;
    switch (f->field) {
      case SQLI_DF_TYPE:
        rc = ShownType(it->type, standard, &v);
        if (rc == 0) rc = PutInt(v, 101, *f);
        break;
      case SQLI_DF_LENGTH: rc = PutInt(it->length, 102, *f); break;
      case SQLI_DF_PRECISION: rc = PutInt(IsDecimal(low) ? (it->length >> 8) & 0xFF : 0, 101, *f); break;
      case SQLI_DF_SCALE: rc = PutInt(IsDecimal(low) ? it->length & 0xFF : 0, 101, *f); break;
      case SQLI_DF_NULLABLE: rc = PutInt((it->type & SQL_NOTNULL_FLAG) ? 0 : 1, 101, *f); break;
      case SQLI_DF_INDICATOR: rc = PutInt(it->indicator != nullptr ? *it->indicator : 0, 101, *f); break;
      case SQLI_DF_DATA:
        if (it->indicator != nullptr && *it->indicator == -1) {
          rsetnull(f->host_type, static_cast<char*>(f->data));
        } else if (it->data == nullptr || it->type == -1) {
          rc = -478;
        } else {
          const int32_t t = StorageType(it);
          const char* src = it->data;
          int32_t len = StorageLength(t, it->length);
          if ((t == 119 || t == 124 || t == SQLLVARCHAR) && !(it->flags & SQLI_IF_DATA_OWNED)) {
            len = it->length;
          } else if ((t == 119 || t == 124 || t == SQLLVARCHAR) && (it->flags & SQLI_IF_LVAR_POINTER)) {
            // The item holds a var value that a fetch filled: its bytes.
            const auto* vv = reinterpret_cast<const SqliVarValue*>(it->data);
            src = vv->data != nullptr ? vv->data : "";
            len = vv->data != nullptr ? vv->length : 0;
            if (len > 0 && src[len - 1] == '\0') --len;
          }
          rc = sqli_host_to_host(src, t, len, f->data, f->host_type, f->host_length);
        }
        break;
      case SQLI_DF_NAME: rc = PutText(it->name, *f); break;
      case SQLI_DF_IND_LENGTH: rc = PutInt(it->ind_length, 101, *f); break;
      case SQLI_DF_IND_TYPE:
        rc = ShownType(it->ind_type, standard, &v);
        if (rc == 0) rc = PutInt(v, 101, *f);
        break;
      case SQLI_DF_IND_DATA:
        if (it->ind_data == nullptr || it->ind_type == -1) {
          rc = -478;
        } else {
          rc = sqli_host_to_host(it->ind_data, it->ind_type, StorageLength(it->ind_type, it->ind_length), f->data,
                                 f->host_type, f->host_length);
        }
        break;
      case SQLI_DF_XID: rc = PutInt(it->xid, 102, *f); break;
      case SQLI_DF_TYPE_NAME: rc = PutText(it->type_name, *f); break;
      case SQLI_DF_TYPE_NAME_LENGTH: rc = PutInt(it->type_name_length, 101, *f); break;
      case SQLI_DF_OWNER_NAME_LENGTH: rc = PutInt(it->owner_name_length, 101, *f); break;
      case SQLI_DF_OWNER_NAME: rc = PutText(it->owner_name, *f); break;
      case SQLI_DF_SOURCE_TYPE: rc = PutInt(it->source_type, 101, *f); break;
      case SQLI_DF_SOURCE_ID: rc = PutInt(it->source_id, 102, *f); break;
      default: rc = -474; break;
    }
    if (rc < 0) return Fail(rc);
  }
  return Done();
}

namespace {

// Replaces an owned text of an item.
int32_t SetText(char** slot, int32_t owned_bit, SqliValueItem* it, const SqliDescField& f, int16_t* length_out) {
  std::string text;
  if (f.data != nullptr) {
    if (f.host_type == 108 || f.host_type == SQLCHAR) {
      text.assign(static_cast<const char*>(f.data), static_cast<size_t>(f.host_length > 0 ? f.host_length : 0));
      text = text.c_str();
    } else {
      text = static_cast<const char*>(f.data);
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
  }
  char* copy = sqli_item_text_copy(text.data(), static_cast<int32_t>(text.size()));
  if (copy == nullptr) return -406;
  if (it->flags & owned_bit) std::free(*slot);
  *slot = copy;
  it->flags |= owned_bit;
  if (length_out != nullptr) *length_out = static_cast<int16_t>(text.size());
  return 0;
}

}  // namespace

int32_t sqli_desc_set(int32_t, const char* name, int32_t n, SqliDescField* fields, int32_t standard) {
  int32_t code;
  if (!Enter(&code)) return code;
  SqliDescriptor* d = Find(name);
  if (d == nullptr) return Fail(-469);
  if (fields == nullptr) return Fail(-472);
  if (n == -1) {
    int32_t v = 0;
    if (fields[0].field != 0) return Fail(-472);
    int32_t rc = ReadInt(fields[0], &v);
    if (rc < 0) return Fail(rc);
    if (v < 1 || v > d->max_count) return Fail(-472);
    d->count = static_cast<int16_t>(v);
    return Done();
  }
  if (n < 1 || n > d->max_count) return Fail(-472);
  SqliValueItem* it = &d->items[n - 1];

  bool type_given = false, nullable0 = false, ind_given = false;
  const SqliDescField *length = nullptr, *precision = nullptr, *scale = nullptr, *ind_length = nullptr;
  const SqliDescField *ind_type = nullptr, *data = nullptr, *ind_data = nullptr;
  for (const SqliDescField* f = fields; f->field != 0; ++f) {
    int32_t rc = 0, v = 0;
    switch (f->field) {
      case SQLI_DF_TYPE:
        rc = ReadInt(*f, &v);
        if (rc == 0 && standard) {
          v = FromStandard(v);
          if (v < 0) rc = -473;
        }
        if (rc == 0) {
          it->type = static_cast<int16_t>(v);
          type_given = true;
        }
        break;
      case SQLI_DF_LENGTH: length = f; break;
      case SQLI_DF_PRECISION: precision = f; break;
      case SQLI_DF_SCALE: scale = f; break;
      case SQLI_DF_IND_LENGTH: ind_length = f; break;
      case SQLI_DF_IND_TYPE: ind_type = f; break;
      case SQLI_DF_NULLABLE:
        rc = ReadInt(*f, &v);
        if (rc == 0 && v == 0) nullable0 = true;
        break;
      case SQLI_DF_INDICATOR:
        rc = ReadInt(*f, &v);
        if (rc == 0 && it->indicator != nullptr) *it->indicator = static_cast<int16_t>(v);
        ind_given = true;
        break;
      case SQLI_DF_DATA:
        data = f;
        if (f->host_type == 124) it->flags |= SQLI_IF_LVAR_POINTER;
        break;
      case SQLI_DF_IND_DATA: ind_data = f; break;
      case SQLI_DF_NAME: rc = SetText(&it->name, SQLI_IF_NAME_OWNED, it, *f, nullptr); break;
      case SQLI_DF_TYPE_NAME:
        rc = SetText(&it->type_name, SQLI_IF_TYPE_NAME_OWNED, it, *f, &it->type_name_length);
        break;
      case SQLI_DF_OWNER_NAME:
        rc = SetText(&it->owner_name, SQLI_IF_OWNER_OWNED, it, *f, &it->owner_name_length);
        break;
      case SQLI_DF_TYPE_NAME_LENGTH:
        rc = ReadInt(*f, &v);
        if (rc == 0) it->type_name_length = static_cast<int16_t>(v);
        break;
      case SQLI_DF_OWNER_NAME_LENGTH:
        rc = ReadInt(*f, &v);
        if (rc == 0) it->owner_name_length = static_cast<int16_t>(v);
        break;
      case SQLI_DF_SOURCE_TYPE:
        rc = ReadInt(*f, &v);
        if (rc == 0) it->source_type = static_cast<int16_t>(v);
        break;
      case SQLI_DF_XID:
        rc = ReadInt(*f, &v);
        if (rc == 0) it->xid = v;
        break;
      case SQLI_DF_SOURCE_ID:
        rc = ReadInt(*f, &v);
        if (rc == 0) it->source_id = v;
        break;
      default: rc = -474; break;
    }
    if (rc < 0) return Fail(rc);
  }

  // Character types need their length in the same call.
  int32_t new_ind_type = -1;
  if (ind_type != nullptr) {
    int32_t rc = ReadInt(*ind_type, &new_ind_type);
    if (rc == 0 && standard) {
      new_ind_type = FromStandard(new_ind_type);
      if (new_ind_type < 0) rc = -473;
    }
    if (rc < 0) return Fail(rc);
    if (IsChar(new_ind_type & 0xFF) && ind_length == nullptr) return Fail(-476);
  }
  if (type_given && IsChar(it->type & 0xFF) && length == nullptr) return Fail(-476);

  // The length.
  const bool shape_changed = type_given || length != nullptr || precision != nullptr || scale != nullptr;

  if (length != nullptr) {
    int32_t v = 0;
    int32_t rc = ReadInt(*length, &v);
    if (rc < 0) return Fail(rc);
    if (IsVarchar(it->type & 0xFF)) {
      if (v > 256) return Fail(-650);
      if (v == 256) {
        v = 255;

      }
    }
    it->length = v;
  } else if (data != nullptr && it->length == 0 && (IsChar(it->type & 0xFF) || it->type == -1)) {
    it->length = data->host_length - (data->host_type < 200 ? 1 : 0);
    if (it->length < 0) it->length = 0;
  }
  if (IsDecimal(it->type & 0xFF)) {
    int32_t v = 0;
    if (precision != nullptr) {
      int32_t rc = ReadInt(*precision, &v);
      if (rc < 0) return Fail(rc);
      it->length = (it->length & 0xFF) | ((v & 0xFF) << 8);
    }
    if (scale != nullptr) {
      int32_t rc = ReadInt(*scale, &v);
      if (rc < 0) return Fail(rc);
      it->length = (it->length & ~0xFF) | (v & 0xFF);
    }
  }
  if (ind_type != nullptr) {
    it->ind_type = static_cast<int16_t>(new_ind_type);
    if (ind_length != nullptr) {
      int32_t v = 0;
      int32_t rc = ReadInt(*ind_length, &v);
      if (rc < 0) return Fail(rc);
      it->ind_length = static_cast<int16_t>(v);
    }
  } else if (ind_length != nullptr) {
    int32_t v = 0;
    int32_t rc = ReadInt(*ind_length, &v);
    if (rc < 0) return Fail(rc);
    it->ind_length = static_cast<int16_t>(v);
  } else if (ind_data != nullptr && it->ind_length == 0) {
    it->ind_length = static_cast<int16_t>(ind_data->host_length - (ind_data->host_type < 200 ? 1 : 0));
  }

  if (it->type == -1) return Fail(-478);
  if (nullable0) it->type = static_cast<int16_t>(it->type | SQL_NOTNULL_FLAG);

  // Storage: renewed when the item's type or length changed (or it has
  // none), so that SET of an indicator alone keeps the data set before.
  const int32_t eff = sqli_item_effective_type(it);
  const bool lvar = IsLvar(eff) || IsLvar(it->type) || (data != nullptr && IsLvar(data->host_type));
  if (!lvar && (shape_changed || it->data == nullptr || (it->flags & SQLI_IF_DATA_OWNED) == 0)) {
    sqli_item_release(it);
    int32_t rc = sqli_item_storage(it);
    if (rc < 0) return Fail(rc);
  }
  if (ind_type != nullptr) {
    if (it->flags & SQLI_IF_IND_OWNED) std::free(it->ind_data);
    it->ind_data = nullptr;
    it->flags &= ~SQLI_IF_IND_OWNED;
    int32_t size = rtypmsize(it->ind_type, it->ind_length);
    if (size <= 0) return Fail(-486);
    it->ind_data = static_cast<char*>(std::calloc(1, static_cast<size_t>(size)));
    if (it->ind_data == nullptr) return Fail(-406);
    it->flags |= SQLI_IF_IND_OWNED;
  }
  if (ind_data != nullptr && it->ind_data != nullptr && it->ind_type != -1) {
    int32_t rc = sqli_host_to_host(ind_data->data, ind_data->host_type, ind_data->host_length, it->ind_data,
                                   it->ind_type, StorageLength(it->ind_type, it->ind_length));
    if (rc < 0) return Fail(rc);
  }

  if (data != nullptr) {
    if (lvar) {
      if (it->flags & SQLI_IF_DATA_OWNED) sqli_item_release(it);
      // The item now points at the caller's own data, not at a var value.
      if (data->host_type != 124) it->flags &= ~SQLI_IF_LVAR_POINTER;
      it->data = static_cast<char*>(data->data);
      if (data->host_length == 0) it->length = 0;
    } else {
      int32_t rc = ConvertIn(*data, it, StorageLength(StorageType(it), it->length));
      if (rc < 0) return Fail(rc);
    }
    // DATA makes the item not null, unless the same call set the
    // indicator: a null the program asked for is kept.
    if (it->indicator != nullptr && !ind_given) *it->indicator = 0;
  }
  return Done();
}

TV_END_C
