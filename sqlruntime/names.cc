// The string hash table, identifier validation, display shortening, the
// database@server split, lower-casing and the connected flag.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "base/client_locale.h"
#include "base/fields.h"
#include "base/locale_state.h"
#include "base/thread_state.h"
#include "locale/core/gl_ctype.h"
#include "locale/core/gl_mbchar.h"
#include "sqlruntime/names.h"

namespace {

const char* NameOf(const void* entry) { return *static_cast<char* const*>(entry); }

GlLocale* Locale() {
  ClientLocaleState* st = rgllocstate();
  return st != nullptr ? st->client : nullptr;
}

bool HasClass(uint32_t wc, uint32_t handle) {
  GlLocale* loc = Locale();
  if (loc != nullptr) return _gl_im_iswctype(loc, static_cast<GlWchar>(wc), handle) != 0;
  if (wc > 255) return false;
  int c = static_cast<int>(wc);
  switch (handle) {
    case GL_CLASS_ALPHA: return std::isalpha(c) != 0;
    case GL_CLASS_ALNUM: return std::isalnum(c) != 0;
    case GL_CLASS_PUNCT: return std::ispunct(c) != 0;
    case GL_CLASS_SPACE: return std::isspace(c) != 0;
    default: return false;
  }
}

bool DelimClass(uint32_t wc) {
  return HasClass(wc, GL_CLASS_ALNUM) || HasClass(wc, GL_CLASS_PUNCT) || HasClass(wc, GL_CLASS_SPACE);
}

// Byte length of the character at p (at most left bytes), 1 for a
// single-byte locale; 0 at an invalid sequence.
int32_t CharLen(const char* p, int32_t left) {
  if (rgl_single_byte() || Locale() == nullptr) return 1;
  int32_t n = gl_full_mblen(Locale(), p, left);
  return n > 0 ? n : 0;
}

// Position of the first "@" (multibyte-aware), or null.
const char* FindAt(const char* s) {
  int32_t left = static_cast<int32_t>(std::strlen(s));
  while (left > 0) {
    if (*s == '@') return s;
    int32_t n = CharLen(s, left);
    if (n <= 0) n = 1;
    s += n;
    left -= n;
  }
  return nullptr;
}

bool CopyIn(char* dst, int32_t size, const char* src, size_t n) {
  if (static_cast<int64_t>(n) >= size) return false;
  std::memcpy(dst, src, n);
  dst[n] = '\0';
  return true;
}

}  // namespace

TV_BEGIN_C

int32_t sqli_name_hash(const char* name, int32_t buckets) {
  uint32_t h = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p != 0; ++p) {
    h = ((h << 4) + *p) & 0xFFFF;
    uint32_t g = h & 0xF000;
    if (g != 0) h = h ^ g ^ (g >> 8);
  }
  return buckets > 0 ? static_cast<int32_t>(h % static_cast<uint32_t>(buckets)) : 0;
}

SqliHashTable* sqli_hash_new(int32_t buckets) {
  if (buckets <= 0) return nullptr;
  auto* t = static_cast<SqliHashTable*>(std::malloc(sizeof(SqliHashTable)));
  if (t == nullptr) return nullptr;
  t->heads = static_cast<SqliHashLink**>(std::calloc(static_cast<size_t>(buckets), sizeof(SqliHashLink*)));
  if (t->heads == nullptr) {
    std::free(t);
    return nullptr;
  }
  t->buckets = buckets;
  return t;
}

int sqli_hash_add(SqliHashTable* t, void* entry) {
  if (t == nullptr || entry == nullptr) return 0;
  auto* link = static_cast<SqliHashLink*>(std::malloc(sizeof(SqliHashLink)));
  if (link == nullptr) return 0;
  int32_t b = sqli_name_hash(NameOf(entry), t->buckets);
  link->entry = entry;
  link->next = t->heads[b];
  t->heads[b] = link;
  return 1;
}

void* sqli_hash_find(SqliHashTable* t, const char* name) {
  if (t == nullptr || name == nullptr) return nullptr;
  for (SqliHashLink* l = t->heads[sqli_name_hash(name, t->buckets)]; l != nullptr; l = l->next) {
    if (stcmpr(NameOf(l->entry), name) == 0) return l->entry;
  }
  return nullptr;
}

void* sqli_hash_remove(SqliHashTable* t, const char* name) {
  if (t == nullptr || name == nullptr) return nullptr;
  SqliHashLink** at = &t->heads[sqli_name_hash(name, t->buckets)];
  for (; *at != nullptr; at = &(*at)->next) {
    if (stcmpr(NameOf((*at)->entry), name) == 0) {
      SqliHashLink* l = *at;
      void* entry = l->entry;
      *at = l->next;
      std::free(l);
      return entry;
    }
  }
  return nullptr;
}

void sqli_hash_free(SqliHashTable* t) {
  if (t == nullptr) return;
  for (int32_t i = 0; i < t->buckets; ++i) {
    for (SqliHashLink* l = t->heads[i]; l != nullptr;) {
      SqliHashLink* next = l->next;
      std::free(l);
      l = next;
    }
  }
  std::free(t->heads);
  std::free(t);
}

int sqli_valid_ident(const char* name, const char* delimident, char* out) {
  if (name == nullptr) return -1;
  size_t len = std::strlen(name);
  if (len == 0 || len > 128) return -1;
  unsigned char first = static_cast<unsigned char>(name[0]);
  if (delimident != nullptr) {
    if (!DelimClass(first)) return -1;
  } else if (!(HasClass(first, GL_CLASS_ALPHA) || first == '_')) {
    return -1;
  }
  std::memcpy(out, name, len + 1);
  while (len > 0 && out[len - 1] == ' ') out[--len] = '\0';
  uint32_t wide[257];
  int32_t n;
  if (rgl_single_byte() || Locale() == nullptr) {
    n = static_cast<int32_t>(len > 256 ? 256 : len);
    for (int32_t i = 0; i < n; ++i) wide[i] = static_cast<unsigned char>(out[i]);
  } else {
    n = rgl_mbstowcs(wide, out, 256);
    if (n < 0) return -1;
  }
  for (int32_t i = 0; i < n; ++i) {
    uint32_t wc = wide[i];
    if (delimident != nullptr) {
      if (!DelimClass(wc)) return -1;
    } else {
      bool ok = HasClass(wc, GL_CLASS_ALNUM) || wc == '_' || (wc == '$' && i > 0);
      if (!ok) return -1;
    }
  }
  return 0;
}

void sqli_trunc_name(char* name, int32_t size, int32_t long_flag) {
  if (name == nullptr || size <= 0) return;
  const int32_t limit = long_flag ? 18 : 8;
  int32_t len = static_cast<int32_t>(strnlen(name, static_cast<size_t>(size)));
  int32_t measured = len;
  while (measured > 0 && name[measured - 1] == ' ') --measured;
  int32_t at = 0, last = 0, walked = 0;
  while (walked < limit && at < len && name[at] != '\0') {
    int32_t n = CharLen(name + at, len - at);
    if (n <= 0 || at + n > len) break;
    last = at;
    at += n;
    ++walked;
  }
  if (measured <= limit) {
    if (at < size) name[at] = '\0';
    return;
  }
  if (walked == 0) return;
  name[last] = '+';
  if (last + 1 < size) name[last + 1] = '\0';
}

int sqli_split_dbname(const char* name, char* server, int32_t server_size, char* db, int32_t db_size,
                      int32_t* path_flag, int32_t* slash_flag) {
  if (server_size > 0) server[0] = '\0';
  if (db_size > 0) db[0] = '\0';
  *path_flag = 0;
  *slash_flag = 0;
  if (name == nullptr || name[0] == '\0') return -1;
  const char* dbpart = db;
  if (const char* at = FindAt(name)) {
    size_t dn = static_cast<size_t>(at - name);
    const char* srv = at + 1;
    if (*srv == '\0') return -1;
    if (!CopyIn(db, db_size, name, dn) || !CopyIn(server, server_size, srv, std::strlen(srv))) return -1;
  } else if (std::strncmp(name, "//", 2) != 0) {
    if (!CopyIn(db, db_size, name, std::strlen(name))) return -1;
  } else {
    *slash_flag = 1;
    const char* srv = name + 2;
    const char* slash = std::strchr(srv, '/');
    size_t sn = slash != nullptr ? static_cast<size_t>(slash - srv) : std::strlen(srv);
    if (sn == 0 || !CopyIn(server, server_size, srv, sn)) return -1;
    if (slash != nullptr) {
      if (!CopyIn(db, db_size, slash, std::strlen(slash))) return -1;
      dbpart = db + 1;
    }
  }
  if (std::strchr(dbpart, '/') != nullptr) *path_flag = 1;
  return 0;
}

int sqli_downshift(char* name) {
  if (name == nullptr) {
    rthreadstatus = -7;
    return -1;
  }
  rdownshift(name);
  rthreadstatus = 0;
  return 0;
}

int32_t sqli_get_thread_connected(void) {
  ClientState* cs = rclientstate();
  return cs != nullptr ? cs->connected : 0;
}

ClientState* sqli_set_thread_connected(int32_t value) {
  ClientState* cs = rclientstate();
  if (cs != nullptr) cs->connected = value;
  return cs;
}

TV_END_C
