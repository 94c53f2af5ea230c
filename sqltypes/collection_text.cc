// Type text of a collection or row description, the row accessors, the hex
// dump and the count of parameter markers in a statement text.
#include <ctype.h>
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "base/thread_state.h"
#include "locale/core/gl_locale.h"
#include "locale/core/gl_mbchar.h"
#include "sqltypes/collection.h"
#include "sqltypes/collection_internal.h"
#include "sqltypes/datetime.h"

namespace {

// Renders entry i and its subtree; the index after them, or -1.
int Render(const CollTypeInfo* info, int i, int lvarlen, int udtlen, std::string* out) {
  const CollTypeEntry& e = info->ti_entry[i];
  const int t = e.type & 0xFF;
  if (e.fieldnmlen > 0) {
    std::string name(e.fieldname, strnlen(e.fieldname, e.fieldnmlen < 128 ? e.fieldnmlen : 128));
    if (name != "(expression)") *out += name + " ";
  }
  if (coll_is_colltype(t)) {
    *out += rtypname(t);
    *out += "(";
    int j = i + 1;
    bool first = true;
    while (j >= 0 && j < info->ti_count && info->ti_entry[j].level_no > e.level_no) {
      if (!first) *out += ", ";
      first = false;
      j = Render(info, j, lvarlen, udtlen, out);
    }
    if (j < 0) return -1;
    *out += ")";
    if (e.level_no > 0 && (e.type & SQL_NOTNULL_FLAG) != 0) *out += " not null";
    return j;
  }
  if ((e.type & 0x1000) != 0) {
    if (e.xtype_owner_len > 0) {
      *out += std::string(e.xtype_owner_name,
                          strnlen(e.xtype_owner_name, e.xtype_owner_len < 128 ? e.xtype_owner_len : 128));
      *out += ".";
    }
    *out += std::string(e.xtype_name, strnlen(e.xtype_name, e.xtype_nm_len < 0 ? 0
                                                           : e.xtype_nm_len < 128 ? e.xtype_nm_len
                                                                                  : 128));
  } else {
    const char* name = rtypxname(t, e.xid);
    if (name == nullptr || name[0] == '\0') return -1;
    *out += name;
  }
  const auto len = static_cast<uint16_t>(e.length);
  if (len != 0 && t != SQLUDTVAR && t != SQLUDTFIXED) {
    char buf[80];
    buf[0] = '\0';
    switch (t) {
      case SQLCHAR: case SQLVCHAR: case SQLNCHAR: case SQLNVCHAR:
        snprintf(buf, sizeof buf, "(%d)", len);
        break;
      case SQLLVARCHAR:
        if (lvarlen && !udtlen) snprintf(buf, sizeof buf, "(%d)", len);
        break;
      case SQLDECIMAL: case SQLMONEY:
        if ((len & 0xFF) > 32) snprintf(buf, sizeof buf, "(%d)", len >> 8);
        else snprintf(buf, sizeof buf, "(%d,%d)", len >> 8, len & 0xFF);
        break;
      case SQLDTIME: case SQLINTERVAL: {
        char q[64];
        const int n = dtqualname(t, len, q);
        if (n <= 0) return -1;
        buf[0] = ' ';
        memcpy(buf + 1, q, static_cast<size_t>(n));
        buf[n + 1] = '\0';
        break;
      }
      default:
        break;
    }
    *out += buf;
  }
  if ((e.type & SQL_NOTNULL_FLAG) != 0) *out += " not null";
  return i + 1;
}

}  // namespace

TV_EXTERN_C TV_API int zel_coll_typetext(const CollTypeInfo* info, int lvarlen, char** text,
                                         int udtlen) {
  *text = nullptr;
  if (info == nullptr || info->ti_count < 1) {
    rseterror(-1);
    return -1;
  }
  std::string out;
  int i = 0;
  bool first = true;
  while (i >= 0 && i < info->ti_count) {
    if (!first) out += ", ";
    first = false;
    i = Render(info, i, lvarlen, udtlen, &out);
  }
  if (i < 0) {
    rseterror(-1);
    return -1;
  }
  char* buf = static_cast<char*>(malloc(out.size() + 1));
  if (buf == nullptr) {
    rseterror(-406);
    return -406;
  }
  memcpy(buf, out.c_str(), out.size() + 1);
  *text = buf;
  return 0;
}

TV_EXTERN_C TV_API int zel_get_row_xid(const SqliCollection* c, int* count) {
  if (c == nullptr || c->cl_svr_typeinfo == nullptr || c->cl_svr_typeinfo->ti_count < 1) return -1;
  *count = c->cl_svr_typeinfo->ti_count;
  return c->cl_svr_typeinfo->ti_entry[0].xid;
}

TV_EXTERN_C TV_API const char* zel_get_row_extended_name(const SqliCollection* c) {
  if (c == nullptr || c->cl_svr_typeinfo == nullptr || c->cl_svr_typeinfo->ti_count < 1)
    return nullptr;
  return c->cl_svr_typeinfo->ti_entry[0].xtype_name;
}

TV_EXTERN_C TV_API int zel_hex_dump(int size, const void* addr) {
  const auto* p = static_cast<const unsigned char*>(addr);
  printf("%d bytes @ 0x%" PRIx64 "\n", size, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(addr)));
  std::string prev;
  int suppressed = 0;
  for (int off = 0; off < size; off += 16) {
    const int n = size - off < 16 ? size - off : 16;
    std::string hex, txt;
    for (int j = 0; j < n; j++) {
      char h[4];
      snprintf(h, sizeof h, "%02x", p[off + j]);
      hex += h;
      if (j == 7) hex += "  ";
      else if (j != 15) hex += " ";
      const unsigned char ch = p[off + j];
      txt += ch >= 0x21 && ch <= 0x7E ? static_cast<char>(ch) : '.';
      if (j == 6) txt += ' ';
    }
    if (n == 16 && off > 0 && hex == prev) {
      suppressed++;
      continue;
    }
    if (suppressed > 0) {
      printf("\t****** dup output suppressed %d rows\n", suppressed);
      suppressed = 0;
    }
    if (n < 16) hex.resize(48, ' ');
    printf("%5d: %s %s\n", off, hex.c_str(), txt.c_str());
    prev = hex;
  }
  printf("\n");
  fflush(stdout);
  return '\n';
}

namespace {

// Length of the character at s (1 in a single-byte locale or for a byte
// that starts no character).
int CharLen(GlLocale* loc, const char* s, size_t left) {
  if (loc == nullptr || loc->single_byte) return 1;
  const int32_t n = _zel_gl_full_mblen(loc, s, static_cast<int32_t>(left));
  return n <= 0 ? 1 : n;
}

// When the text at s opens a collection literal (set, list or multiset,
// blanks, then "{"), the index of that "{"; else -1.
ptrdiff_t LiteralBrace(const char* s, size_t left) {
  const size_t limit = left < 101 ? left : 101;
  const void* brace = memchr(s, '{', limit);
  if (brace == nullptr) return -1;
  const size_t at = static_cast<const char*>(brace) - s;
  size_t end = at;
  while (end > 0 && isspace(static_cast<unsigned char>(s[end - 1]))) end--;
  std::string word(s, end);
  for (char& c : word) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  if (word == "set" || word == "list" || word == "multiset") return static_cast<ptrdiff_t>(at);
  return -1;
}

}  // namespace

TV_EXTERN_C TV_API int rstmtparamcount(const char* text) {
  if (text == nullptr) return 0;
  GlLocale* loc = sqlv_locale();
  const size_t n = strlen(text);
  int count = 0;
  size_t i = 0;
  while (i < n) {
    const char c = text[i];
    if (c == '\'' || c == '"') {
      const char* close = strchr(text + i + 1, c);
      i = close == nullptr ? n : static_cast<size_t>(close - text) + 1;
      continue;
    }
    if (c == '-' && text[i + 1] == '-') {
      const char* nl = strchr(text + i, '\n');
      i = nl == nullptr ? n : static_cast<size_t>(nl - text) + 1;
      continue;
    }
    if (c == '/' && text[i + 1] == '*') {
      size_t j = i + 2;
      while (j < n && !(text[j] == '/' && text[j - 1] == '*')) j++;
      i = j < n ? j + 1 : n;
      continue;
    }
    if (c == '{') {
      const char* close = strchr(text + i, '}');
      i = close == nullptr ? n : static_cast<size_t>(close - text) + 1;
      continue;
    }
    if (strchr("SsLlMm", c) != nullptr) {
      const ptrdiff_t at = LiteralBrace(text + i, n - i);
      if (at >= 0) {
        i += static_cast<size_t>(at) + 1;
        continue;
      }
    }
    if (c == '?') count++;
    i += static_cast<size_t>(CharLen(loc, text + i, n - i));
  }
  return count;
}
