// The diagnostics area behind GET DIAGNOSTICS: exceptions recorded from the
// status code, warnings and server-supplied SQLSTATEs, and their reading.
#include <cstdlib>
#include <cstring>

#include "base/cvt.h"
#include "base/locale_state.h"
#include "base/msgfile.h"
#include "sqlruntime/runtime.h"

namespace {

// Converts the NUL-terminated text in place into at most keep bytes and a
// NUL. A text that was cut in the middle of a character converts without
// the cut character's bytes; a text that cannot be converted at all stays
// as the server sent it.
void ConvertServerText(GlConverter* cv, char* text, int32_t keep) {
  const int32_t n = static_cast<int32_t>(std::strlen(text));
  for (int32_t drop = 0; drop < 4 && n - drop > 0; ++drop) {
    int32_t count = n - drop;
    int32_t truncated = 0;
    int32_t written = cvt_inplace(cv, text, &count, keep, &truncated);
    if (written >= 0) {
      text[written] = '\0';
      return;
    }
  }
}


constexpr int32_t kGrowBy = 8;
constexpr int32_t kMaxMessage = 8192;

// Copies a text of at most n bytes up to its NUL, and the NUL when there
// is room for it; what follows the NUL is never read. The texts are short
// names and messages, copied on every statement.
void CopyText(char* dst, const char* src, size_t n) {
  size_t i = 0;
  for (; i < n && src[i] != '\0'; ++i) dst[i] = src[i];
  if (i < n) dst[i] = '\0';
}

void TakeNames(SqliDiagEntry* e, const SqliRuntime* rt) {
  static_assert(sizeof e->server == sizeof rt->server_name && sizeof e->connection == sizeof rt->connection_name);
  CopyText(e->server, rt->server_name, sizeof e->server);
  CopyText(e->connection, rt->connection_name, sizeof e->connection);
}

void TakeSqlcaMessage(SqliDiagEntry* e) {
  CopyText(e->sqlca_message, sqlca.sqlerrm, sizeof e->sqlca_message - 1);
  e->sqlca_message[sizeof e->sqlca_message - 1] = '\0';
}

// Clears an entry but for its names.
void ClearFields(SqliDiagEntry* e) {
  e->sqlstate[0] = '\0';
  e->code = 0;
  e->message_length = 0;
  e->message[0] = '\0';
  e->sqlca_message[0] = '\0';
}

void ClearEntry(SqliDiagEntry* e) {
  ClearFields(e);
  e->server[0] = '\0';
  e->connection[0] = '\0';
}

bool MakeArea(SqliRuntime* rt) {
  if (rt->diag != nullptr) return true;
  auto* area = static_cast<SqliDiagArea*>(std::calloc(1, sizeof(SqliDiagArea)));
  if (area == nullptr) return false;
  rt->diag = area;
  rt->diag_capacity = 0;
  return sqli_diag_grow(rt) == 0;
}

bool RoomForOne(SqliRuntime* rt) {
  if (rt->diag == nullptr) return false;
  return rt->diag->count < rt->diag_capacity || sqli_diag_grow(rt) == 0;
}

void SetMessage(SqliDiagEntry* e, int32_t length, const char* text) {
  if (length <= 0 || text == nullptr) return;
  if (length > kMaxMessage - 1) length = kMaxMessage - 1;
  std::memcpy(e->message, text, static_cast<size_t>(length));
  e->message[length] = '\0';
  e->message_length = length;
}

// This thread's SQLSTATE mapping table.
thread_local SqliStateMap* t_map = nullptr;
thread_local int32_t t_map_count = 0;
thread_local bool t_map_loaded = false;

void Fail(int32_t code) {
  sqlca.sqlcode = code;
  sqli_status.code = code;
  std::strcpy(sqli_status.sqlstate, "QV001");
}

int32_t Be32(const unsigned char* p) {
  return static_cast<int32_t>((uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]);
}

// Stores one GET DIAGNOSTICS value into the caller's host variable.
void StoreChar(const SqliDiagItem& it, const char* text, int32_t length) {
  char buf[kMaxMessage + 1];
  if (length > kMaxMessage) length = kMaxMessage;
  std::memcpy(buf, text, static_cast<size_t>(length));
  buf[length] = '\0';
  sqli_host_convert(buf, 100, length, it.data, it.host_type, it.host_length);
}

void StoreInt(const SqliDiagItem& it, int32_t value) {
  sqli_host_convert(&value, 102, 4, it.data, it.host_type, it.host_length);
}

}  // namespace

TV_BEGIN_C

int sqli_diag_grow(SqliRuntime* rt) {
  int32_t capacity = rt->diag_capacity + kGrowBy;
  size_t bytes = sizeof(SqliDiagArea) + sizeof(SqliDiagEntry) * static_cast<size_t>(capacity);
  auto* area = static_cast<SqliDiagArea*>(std::realloc(rt->diag, bytes));
  if (area == nullptr) {
    Fail(-406);
    return -1;
  }
  area->entries = reinterpret_cast<SqliDiagEntry*>(area + 1);
  for (int32_t i = rt->diag_capacity; i < capacity; ++i) ClearEntry(&area->entries[i]);
  rt->diag = area;
  rt->diag_capacity = capacity;
  return 0;
}

void sqli_diag_clear(SqliRuntime* rt) {
  std::strcpy(sqli_status.sqlstate, "00000");
  rt->options &= static_cast<uint16_t>(~(SQLI_OPT_DBSTMT | SQLI_OPT_REVOKE));
  rt->connection_statement = 0;
  if (rt->options & SQLI_OPT_RESET_DONE) return;
  if (!MakeArea(rt)) return;
  SqliDiagArea* a = rt->diag;
  const int32_t n = a->count;
  for (int32_t i = 0; i < n; ++i) ClearFields(&a->entries[i]);
  a->count = 0;
}

int sqli_diag_update(SqliRuntime* rt) {
  rt->options &= static_cast<uint16_t>(~SQLI_OPT_RESET_DONE);
  if (rt->diag == nullptr) return -1;
  if (rt->diag->count >= rt->diag_capacity && sqli_diag_grow(rt) != 0) return -1;
  SqliDiagArea* a = rt->diag;
  int32_t c = sqli_status.code;
  if (c == 0 && a->count > 0) {
    for (int32_t i = 0; i < a->count; ++i) TakeNames(&a->entries[i], rt);
    return 0;
  }
  if (c != 0 && c != -937 && a->count > 0 && std::strncmp(a->entries[0].sqlstate, "01", 2) == 0) {
    a->count = 1;
    SqliDiagEntry* e = &a->entries[0];
    TakeNames(e, rt);
    e->code = c;
    std::strcpy(e->sqlstate, "00000");
    TakeSqlcaMessage(e);
    return 0;
  }
  if (c != 0 && a->count > 0 && a->entries[a->count - 1].code == 0 &&
      a->entries[a->count - 1].sqlstate[0] == '\0') {
    SqliDiagEntry* e = &a->entries[a->count - 1];
    TakeNames(e, rt);
    e->code = c;
    TakeSqlcaMessage(e);
    return 0;
  }
  SqliDiagEntry* e = &a->entries[a->count];
  ClearEntry(e);
  TakeNames(e, rt);
  e->code = c;
  TakeSqlcaMessage(e);
  a->count++;
  return 0;
}

int sqli_diag_warning(const char* state, SqliRuntime* rt) {
  rt->options &= static_cast<uint16_t>(~SQLI_OPT_RESET_DONE);
  if (!MakeArea(rt) || !RoomForOne(rt)) return -1;
  SqliDiagArea* a = rt->diag;
  for (int32_t i = 0; i < a->count; ++i) {
    if (std::strncmp(a->entries[i].sqlstate, state, 5) == 0) return 0;
  }
  if (sqli_status.code == 0 && std::strcmp(sqli_status.sqlstate, "00000") == 0) {
    std::strncpy(sqli_status.sqlstate, state, 5);
    sqli_status.sqlstate[5] = '\0';
    SqliDiagEntry* e = &a->entries[0];
    ClearEntry(e);
    std::strncpy(e->sqlstate, state, 5);
    e->sqlstate[5] = '\0';
    TakeNames(e, rt);
    return 0;
  }
  // A first warning still waiting in slot 0 to be counted is counted now,
  // so that a second warning does not take its place.
  if (a->count == 0 && a->entries[0].sqlstate[0] != '\0') a->count = 1;
  if (a->count >= rt->diag_capacity && sqli_diag_grow(rt) != 0) return -1;
  a = rt->diag;
  SqliDiagEntry* e = &a->entries[a->count];
  ClearEntry(e);
  std::strncpy(e->sqlstate, state, 5);
  e->sqlstate[5] = '\0';
  TakeNames(e, rt);
  a->count++;
  return 0;
}

int sqli_diag_server_state(const char* state, int32_t length, const char* text) {
  SqliRuntime* rt = sqli_runtime_get();
  if (rt == nullptr || !MakeArea(rt) || !RoomForOne(rt)) return -1;
  SqliDiagArea* a = rt->diag;
  if (sqli_status.code == 0 && std::strcmp(sqli_status.sqlstate, "00000") == 0) {
    std::strncpy(sqli_status.sqlstate, state, 5);
    sqli_status.sqlstate[5] = '\0';
  }
  SqliDiagEntry* last = a->count > 0 ? &a->entries[a->count - 1] : nullptr;
  if (last == nullptr || last->code != -937 ||
      (last->sqlstate[0] != '\0' && std::strncmp(last->sqlstate, "01", 2) != 0)) {
    SqliDiagEntry* e = &a->entries[a->count];
    ClearEntry(e);
    SetMessage(e, length, text);
    e->code = 0;
    std::strncpy(e->sqlstate, state, 5);
    e->sqlstate[5] = '\0';
    TakeNames(e, rt);
    a->count++;
    return 0;
  }
  SetMessage(last, length, text);
  std::strncpy(last->sqlstate, state, 5);
  last->sqlstate[5] = '\0';
  if (sqli_status.sqlstate[0] == '*') {
    std::strncpy(sqli_status.sqlstate, state, 5);
    sqli_status.sqlstate[5] = '\0';
  }
  return 0;
}

void sqli_warn_server(int32_t bits, SqliRuntime* rt) {
  bool a = (rt->options & SQLI_OPT_DBSTMT) || rt->connection_statement != 0;
  if (bits & 0x01) {
    sqli_diag_warning(a ? "01I01" : (rt->options & SQLI_OPT_REVOKE) ? "01006" : "01004", rt);
  }
  if (bits & 0x02) sqli_diag_warning(a ? "01I03" : "01003", rt);
  if (bits & 0x04) sqli_diag_warning(a ? "01I04" : "01007", rt);
  if (bits & 0x08) sqli_diag_warning("01I05", rt);
  if (bits & 0x10) sqli_diag_warning("01I06", rt);
  if (bits & 0x40) sqli_diag_warning("01I12", rt);
  if (bits & 0x20) sqli_diag_warning(a ? "01I10" : "01I11", rt);
  if (bits & 0x80) sqli_diag_warning("01008", rt);
}

int sqli_warn_client(int32_t kind) {
  SqliRuntime* rt = sqli_runtime_get();
  if (rt == nullptr) return -1;
  const char* state = nullptr;
  switch (kind) {
    case 1: state = "01004"; break;
    case 3: state = "01I09"; break;
    case 4: state = "01I07"; break;
    case 5: state = "01I08"; break;
    case 7: state = "01I12"; break;
    default: return 0;
  }
  return sqli_diag_warning(state, rt);
}

int32_t sqli_warn_msgno(const char* state) {
  static const struct {
    const char* state;
    int32_t number;
  } kTable[] = {
      {"01000", 36001}, {"01I01", 36106}, {"01004", 36004}, {"01003", 36003},
      {"01I03", 36108}, {"01I09", 36114}, {"01I04", 36109}, {"01I07", 36111},
      {"01I06", 36112}, {"01I12", 36112}, {"01I05", 36110}, {"01I08", 36113},
      {"01006", 36006}, {"01007", 36117}, {"01008", 36118},
  };
  if (state == nullptr) return 0;
  for (const auto& row : kTable) {
    if (std::strncmp(state, row.state, 5) == 0) return row.number;
  }
  return 0;
}

int sqli_sqlstate_load(SqliStateMap** table, int32_t* count) {
  *table = nullptr;
  *count = 0;
  const char* path = rmsgpathname("vroxmsg.pam");
  FILE* f = path != nullptr ? std::fopen(path, "rbe") : nullptr;
  if (f == nullptr) {
    Fail(-461);
    return -1;
  }
  unsigned char head[10];
  if (std::fread(head, 1, 6, f) != 6 || std::memcmp(head, "vrox00", 6) != 0) {
    std::fclose(f);
    Fail(-498);
    return -1;
  }
  if (std::fread(head + 6, 1, 4, f) != 4) {
    std::fclose(f);
    Fail(-461);
    return -1;
  }
  int32_t n = Be32(head + 6);
  if (n < 0) n = 0;
  auto* t = static_cast<SqliStateMap*>(std::calloc(static_cast<size_t>(n) + 1, sizeof(SqliStateMap)));
  if (t == nullptr) {
    std::fclose(f);
    Fail(-406);
    return -1;
  }
  int32_t got = 0;
  unsigned char rec[13];
  while (got < n && std::fread(rec, 1, sizeof rec, f) == sizeof rec) {
    t[got].code = Be32(rec);
    t[got].message = Be32(rec + 4);
    std::memcpy(t[got].sqlstate, rec + 8, 5);
    t[got].sqlstate[5] = '\0';
    ++got;
  }
  std::fclose(f);
  *table = t;
  *count = got;
  return 0;
}

void sqli_sqlstate_forget(void) {
  std::free(t_map);
  t_map = nullptr;
  t_map_count = 0;
  t_map_loaded = false;
}

int32_t sqli_sqlstate_lookup(char* out, int32_t code, const char* current) {
  if (!t_map_loaded) {
    if (sqli_sqlstate_load(&t_map, &t_map_count) != 0) return -1;
    t_map_loaded = true;
  }
  int32_t lo = 0, hi = t_map_count - 1;
  while (lo <= hi) {
    int32_t mid = lo + (hi - lo) / 2;
    const SqliStateMap& e = t_map[mid];
    if (e.code == code) {
      if (code == 0 && current != nullptr && current[0] != '\0') {
        std::strncpy(out, current, 5);
        out[5] = '\0';
        return sqli_warn_msgno(current);
      }
      std::memcpy(out, e.sqlstate, 6);
      return e.message;
    }
    // Descending order: a smaller entry lies after the wanted code.
    if (e.code < code) hi = mid - 1;
    else lo = mid + 1;
  }
  std::strcpy(out, code == -937 ? "******" : "QV000");
  return 0;
}

void sqli_sqlstate_set(SqliRuntime* rt) {
  if (!MakeArea(rt)) return;
  const char* first = rt->diag->count > 0 ? rt->diag->entries[0].sqlstate : "";
  char current[6];
  std::strncpy(current, first, 5);
  current[5] = '\0';
  char out[7];
  if (sqli_sqlstate_lookup(out, sqli_status.code, current) < 0) return;
  std::strncpy(sqli_status.sqlstate, out, 5);
  sqli_status.sqlstate[5] = '\0';
  if (std::strcmp(out, "******") == 0) std::strcpy(sqli_status.sqlstate, "*****");
}

int32_t sqli_diag_get(void*, SqliDiagItem* items, int32_t n) {
  SqliRuntime* rt = sqli_runtime_get();
  if (rt == nullptr) return -1;
  int32_t count = rt->diag != nullptr ? rt->diag->count : 0;
  if (n == -1) {
    for (SqliDiagItem* it = items; it != nullptr && it->item != 0; ++it) {
      switch (it->item) {
        case 1: StoreInt(*it, count); break;
        case 2: StoreChar(*it, "N", 1); break;
        case 8: StoreInt(*it, sqlca.sqlerrd[2]); break;
        default:
          Fail(-489);
          return -1;
      }
    }
    return sqli_status.code;
  }
  if (n < 1 || n > count) {
    Fail(-489);
    return -1;
  }
  const SqliDiagEntry& e = rt->diag->entries[n - 1];
  int32_t c = e.code;
  char state[7];
  int32_t m = sqli_sqlstate_lookup(state, c, c == 0 ? e.sqlstate : "");
  if (m < 0) m = 0;
  static thread_local char text[kMaxMessage + 1];
  const char* cls;
  const char* sub;
  if (m != 0) {
    int32_t full = 0;
    rgetlmsg(m, text, sizeof text, &full);
    cls = sub = "ISO 9075";
  } else if ((c != 0 && c != -937) || (c == 0 && e.sqlstate[0] == '\0')) {
    if (e.sqlca_message[0] != '\0') {
      sqli_msg_subst(c, text, e.sqlca_message);
    } else {
      int32_t full = 0;
      rgetlmsg(c, text, sizeof text, &full);
    }
    cls = "QV";
    sub = "QV000";
  } else {
    int32_t len = e.message_length;
    if (len > kMaxMessage) len = kMaxMessage;
    if (len < 0) len = 0;
    std::memcpy(text, e.message, static_cast<size_t>(len));
    text[len] = '\0';
    std::strncpy(state, e.sqlstate, 5);
    state[5] = '\0';
    cls = sub = "U0001";
  }
  text[kMaxMessage] = '\0';
  int32_t len = static_cast<int32_t>(std::strlen(text));
  if (len > 0 && text[len - 1] == '\n') text[--len] = '\0';
  for (SqliDiagItem* it = items; it != nullptr && it->item != 0; ++it) {
    switch (it->item) {
      case 3: StoreChar(*it, state, static_cast<int32_t>(std::strlen(state))); break;
      case 4: StoreChar(*it, cls, static_cast<int32_t>(std::strlen(cls))); break;
      case 5: StoreChar(*it, sub, static_cast<int32_t>(std::strlen(sub))); break;
      case 6: StoreChar(*it, text, len); break;
      case 7: StoreInt(*it, len); break;
      case 9: StoreChar(*it, e.server, static_cast<int32_t>(strnlen(e.server, 256))); break;
      case 10: StoreChar(*it, e.connection, static_cast<int32_t>(strnlen(e.connection, 256))); break;
      case 11: StoreInt(*it, c); break;
      default: break;
    }
  }
  return sqli_status.code;
}

void sqli_param_from_server(SqliRuntime* rt) {
  ClientLocaleState* st = rgllocstate();
  GlConverter* cv = st != nullptr ? st->db_to_client : nullptr;
  if (rt == nullptr || cv == nullptr) return;
  ConvertServerText(cv, rt->message_params, static_cast<int32_t>(sizeof rt->message_params) - 1);
  ConvertServerText(cv, sqlca.sqlerrm, 71);
}

TV_END_C
