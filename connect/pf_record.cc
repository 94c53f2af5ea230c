// The tagged records of a connection request or reply: the 'm' trailer
// header of the text form, the 'e' record of the binary form, and the
// sections that follow either. Layouts are listed in asfpfutl.h.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "base/fields.h"
#include "connect/asfpfutl.h"
#include "connect/asfutil.h"

namespace {

constexpr int kEnd = 127;
constexpr char kEnvName[] = "ZIVEVODAREVEZO";
constexpr int32_t kMaxListTexts = 120;

// A bounded cursor over the record's bytes. Any field that does not fit
// marks it bad and is not written or read; an allocation failure marks it
// out of memory.
struct Cursor {
  unsigned char* p;
  int32_t n;
  int32_t at = 0;
  bool bad = false;
  bool nomem = false;

  bool Need(int32_t k) {
    if (bad || k < 0 || at + k > n) {
      bad = true;
      return false;
    }
    return true;
  }
  void U16(int v) {
    if (Need(2)) stint(v, p + at), at += 2;
  }
  void U32(int64_t v) {
    if (Need(4)) stlong(v, p + at), at += 4;
  }
  void Bytes(const void* b, int32_t k) {
    if (Need(k)) std::memcpy(p + at, b, static_cast<size_t>(k)), at += k;
  }
  void Fixed(const char* t, int32_t k) {  // NUL-padded field of k bytes
    if (!Need(k)) return;
    std::memset(p + at, 0, static_cast<size_t>(k));
    if (t != nullptr) std::memcpy(p + at, t, strnlen(t, static_cast<size_t>(k)));
    at += k;
  }
  void Text(const char* t) {
    if (t == nullptr) return U16(0);
    size_t len = std::strlen(t) + 1;
    if (len > 0x7FFF) {
      bad = true;
      return;
    }
    U16(static_cast<int>(len));
    Bytes(t, static_cast<int32_t>(len));
  }
  int R16() {
    if (!Need(2)) return 0;
    int v = ldint(p + at);
    at += 2;
    return v;
  }
  int RU16() { return R16() & 0xFFFF; }
  int32_t R32() {
    if (!Need(4)) return 0;
    int32_t v = ldlong(p + at);
    at += 4;
    return v;
  }
  void RBytes(void* out, int32_t k) {
    if (Need(k)) std::memcpy(out, p + at, static_cast<size_t>(k)), at += k;
  }
  char* RText() {
    int len = RU16();
    if (len == 0 || (len & 0x8000) != 0 || !Need(len)) return nullptr;
    auto* t = static_cast<char*>(std::malloc(static_cast<size_t>(len)));
    if (t == nullptr) {
      nomem = bad = true;
      return nullptr;
    }
    std::memcpy(t, p + at, static_cast<size_t>(len));
    t[len - 1] = '\0';
    at += len;
    return t;
  }
  void* Alloc(size_t size) {
    void* m = std::calloc(1, size);
    if (m == nullptr) nomem = bad = true;
    return m;
  }
};

bool Counted(const AsfOptionList* o, int32_t i) {
  return o->names != nullptr && o->values != nullptr && o->names[i] != nullptr &&
         o->values[i] != nullptr && std::strcmp(o->names[i], kEnvName) != 0;
}

// Writes the credential section: 0, or -25563 for an unknown kind.
int WriteCredential(Cursor& c, const SqliConnCred* cred) {
  if (cred == nullptr || cred->data == nullptr) return 0;
  if (cred->kind == -1) {
    auto* raw = static_cast<const AsfRawBlock*>(cred->data);
    c.U16('i');
    c.U16(raw->length);
    c.Bytes(raw->bytes, raw->length);
  } else if (cred->kind == 1) {
    auto* s = static_cast<const AsfStartRequest*>(cred->data);
    c.U16('h');
    c.U16(s->kind);
    c.U32(s->flags);
    for (const char* t : {s->server, s->option_arg, s->name, s->mode_arg, s->group_arg,
                          s->group_name}) {
      c.Text(t);
    }
  } else if (cred->kind == 2) {
    auto* d = static_cast<const AsfCredentialData*>(cred->data);
    if (d->subkind == 2) {
      c.U16('f');
      c.Bytes(d->u.settings, 6);
      for (int32_t v : d->values) c.U16(v);
      c.U16(d->entry_count);
      for (int32_t i = 0; i < d->entry_count && d->entries != nullptr; ++i) {
        c.U16(d->entries[i].code);
        c.U16(d->entries[i].length);
        c.Bytes(d->entries[i].bytes, d->entries[i].length);
      }
    } else {
      const AsfTextList* list = d->u.list;
      uint32_t n = list != nullptr ? list->count : 0;
      if (n > kMaxListTexts) n = kMaxListTexts;
      c.U16('g');
      c.U16(static_cast<int>(n));
      for (uint32_t i = 0; i < n; ++i) c.Text(list->texts[i]);
    }
  } else {
    return -25563;
  }
  return 0;
}

void WriteSections(Cursor& c, const PfParts* parts) {
  const AsfOptionList* o = parts->options;
  int32_t count = 0;
  for (int32_t i = 0; o != nullptr && i < o->count; ++i) count += Counted(o, i) ? 1 : 0;
  if (count > 0) {
    c.U16('j');
    c.U16(count);
    for (int32_t i = 0; i < o->count; ++i) {
      if (!Counted(o, i)) continue;
      c.Text(o->names[i]);
      c.Text(o->values[i]);
    }
  }
  if (const AsfIdentity* id = parts->identity) {
    c.U16('k');
    c.U32(id->first);
    c.U32(id->pid);
    c.U32(id->second);
    c.Text(id->host);
    c.Text(id->computer);
    c.Text(id->cwd);
    c.U16('n');
    c.U16(4);
    c.U32(id->umask);
    c.U16('t');
    c.U16(11 + static_cast<int>(id->program != nullptr ? std::strlen(id->program) : 0));
    c.U32(id->uid);
    c.U32(id->gid);
    c.Text(id->program != nullptr ? id->program : "");
  }
  c.U16(kEnd);
}

SqliConnCred* NewCred(Cursor& c, int16_t kind, size_t data_size) {
  auto* cred = static_cast<SqliConnCred*>(c.Alloc(sizeof(SqliConnCred)));
  if (cred == nullptr) return nullptr;
  cred->kind = kind;
  cred->data = c.Alloc(data_size);
  if (cred->data == nullptr) {
    std::free(cred);
    return nullptr;
  }
  return cred;
}

// Reads one credential section; its tag is already read.
SqliConnCred* ReadCredential(Cursor& c, int tag) {
  SqliConnCred* cred = nullptr;
  if (tag == 'i') {
    cred = NewCred(c, -1, sizeof(AsfRawBlock));
    if (cred == nullptr) return nullptr;
    auto* raw = static_cast<AsfRawBlock*>(cred->data);
    raw->length = c.RU16();
    raw->bytes = static_cast<unsigned char*>(c.Alloc(static_cast<size_t>(raw->length) + 1));
    if (raw->bytes != nullptr) c.RBytes(raw->bytes, raw->length);
  } else if (tag == 'h') {
    cred = NewCred(c, 1, sizeof(AsfStartRequest));
    if (cred == nullptr) return nullptr;
    auto* s = static_cast<AsfStartRequest*>(cred->data);
    s->kind = c.R16();
    s->flags = static_cast<uint32_t>(c.R32());
    for (char** t : {&s->server, &s->option_arg, &s->name, &s->mode_arg, &s->group_arg,
                     &s->group_name}) {
      *t = c.RText();
    }
  } else if (tag == 'f') {
    cred = NewCred(c, 2, sizeof(AsfCredentialData));
    if (cred == nullptr) return nullptr;
    auto* d = static_cast<AsfCredentialData*>(cred->data);
    d->subkind = 2;
    c.RBytes(d->u.settings, 6);
    for (int32_t& v : d->values) v = c.R16();
    int n = c.RU16();
    d->entries = static_cast<AsfCredentialEntry*>(c.Alloc(sizeof(AsfCredentialEntry) * (n + 1u)));
    for (int i = 0; i < n && !c.bad; ++i) {
      AsfCredentialEntry& e = d->entries[i];
      e.code = c.R16();
      e.length = c.RU16();
      e.bytes = static_cast<unsigned char*>(c.Alloc(static_cast<size_t>(e.length) + 1));
      if (e.bytes != nullptr) c.RBytes(e.bytes, e.length);
      d->entry_count = i + 1;
    }
  } else {  // 'g'
    cred = NewCred(c, 2, sizeof(AsfCredentialData));
    if (cred == nullptr) return nullptr;
    auto* d = static_cast<AsfCredentialData*>(cred->data);
    d->subkind = 1;
    int n = c.RU16();
    auto* list = static_cast<AsfTextList*>(c.Alloc(sizeof(AsfTextList)));
    d->u.list = list;
    if (list == nullptr) return cred;
    list->texts = static_cast<char**>(c.Alloc(sizeof(char*) * (n + 1u)));
    for (int i = 0; i < n && list->texts != nullptr && !c.bad; ++i) {
      list->texts[i] = c.RText();
      list->count = static_cast<uint32_t>(i + 1);
    }
  }
  return cred;
}

AsfOptionList* ReadOptions(Cursor& c) {
  int n = c.RU16();
  auto* o = static_cast<AsfOptionList*>(c.Alloc(sizeof(AsfOptionList)));
  if (o == nullptr) return nullptr;
  o->names = static_cast<char**>(c.Alloc(sizeof(char*) * (n + 1u)));
  o->values = static_cast<char**>(c.Alloc(sizeof(char*) * (n + 1u)));
  for (int i = 0; i < n && o->names != nullptr && o->values != nullptr && !c.bad; ++i) {
    o->names[i] = c.RText();
    o->values[i] = c.RText();
    o->count = i + 1;
  }
  return o;
}

// Reads sections up to the end tag into parts.
void ReadSections(AsfControlBlock* cb, Cursor& c, PfParts* parts) {
  AsfIdentity* id = parts->identity;
  std::memset(id, 0, sizeof *id);
  id->pid = id->second = id->uid = id->gid = id->umask = -1;
  while (!c.bad) {
    int tag = c.RU16();
    if (c.bad) break;
    if (tag == kEnd) return;
    switch (tag) {
      case 'i': case 'h': case 'f': case 'g':
        if (parts->credential != nullptr) {
          ASF_ERROR(cb, -408, 0);
          c.bad = true;
          break;
        }
        parts->credential = ReadCredential(c, tag);
        break;
      case 'j':
        if (parts->options != nullptr) {
          ASF_ERROR(cb, -408, 0);
          c.bad = true;
          break;
        }
        parts->options = ReadOptions(c);
        break;
      case 'k':
        id->first = c.R32();
        id->pid = c.R32();
        id->second = c.R32();
        asf_free_identity(0, id);
        id->host = c.RText();
        id->computer = c.RText();
        id->cwd = c.RText();
        break;
      case 'n': {
        int len = c.RU16();
        int32_t start = c.at;
        id->umask = c.R32();
        c.at = start;
        if (c.Need(len)) c.at += len;
        break;
      }
      case 't': {
        int len = c.RU16();
        int32_t start = c.at;
        id->uid = c.R32();
        id->gid = c.R32();
        if (len > 10) {
          std::free(id->program);
          id->program = c.RText();
        }
        c.at = start;
        if (c.Need(len)) c.at += len;
        break;
      }
      default: {
        int len = c.RU16();
        if (c.Need(len)) c.at += len;
        break;
      }
    }
  }
  c.bad = true;  // ran out before the end tag
}

// Sets the record's error unless an earlier step left one.
int32_t Fail(AsfControlBlock* cb, const Cursor& c) {
  if (cb != nullptr && cb->error == 0) {
    if (c.nomem) ASF_ERROR(cb, -406, ENOMEM);
    else ASF_ERROR(cb, -408, 0);
  }
  return -1;
}

AsfConnRecord* NewRecord(Cursor& c, PfParts* parts) {
  if (parts->record == nullptr) {
    parts->record = static_cast<AsfConnRecord*>(c.Alloc(sizeof(AsfConnRecord)));
  }
  return parts->record;
}

const AsfStartRequest* StartOf(const PfParts* parts) {
  if (parts->credential == nullptr || parts->credential->kind != 1) return nullptr;
  return static_cast<const AsfStartRequest*>(parts->credential->data);
}

}  // namespace

TV_BEGIN_C

int32_t pf_code_record(AsfControlBlock* cb, int32_t direction, unsigned char* bytes, int32_t n,
                       PfParts* parts) {
  Cursor c{bytes, n};
  if (direction == 1) {
    const AsfConnRecord* r = parts->record;
    const AsfStartRequest* s = StartOf(parts);
    c.U16('m');
    c.U32(parts->sl_value);
    c.Fixed(r->info.server_type, 8);
    c.U32(r->info.level);
    c.Fixed(r->info.protocol, 8);
    c.U32(r->info.word);
    for (int32_t v : r->values) c.U32(v);
    char program[12] = {};
    std::memcpy(program, r->program, 11);
    c.Bytes(program, 12);
    c.Text(r->name3);
    c.U16(s != nullptr ? s->kind : 0);
    c.U32(s != nullptr ? s->flags : 0);
    c.Text(s != nullptr ? s->server : nullptr);
    if (int rc = WriteCredential(c, parts->credential); rc != 0) return ASF_ERROR(cb, rc, 0), -1;
    WriteSections(c, parts);
    if (c.bad) return ASF_ERROR(cb, -408, 0), -1;
    return c.at;
  }
  if (parts->identity == nullptr) return ASF_ERROR(cb, -27003, 0), -1;
  if (n < 3) return Fail(cb, c);
  int tag = c.RU16();
  parts->tag = tag;
  if (tag == 'e') {
    c.at = 0;
    return pf_code_binary(cb, 0, bytes, n, parts);
  }
  if (tag != 'm') return Fail(cb, c);
  AsfConnRecord* r = NewRecord(c, parts);
  if (r == nullptr) return Fail(cb, c);
  parts->sl_value = c.R32();
  c.RBytes(r->info.server_type, 8);
  r->info.level = c.R32();
  c.RBytes(r->info.protocol, 8);
  r->info.word = c.R32();
  for (int32_t& v : r->values) v = c.R32();
  c.RBytes(r->program, 12);
  r->program[11] = '\0';
  std::free(r->name3);
  r->name3 = c.RText();
  // The start kind, flags and server text repeat the 'h' section's.
  c.R16();
  c.R32();
  std::free(c.RText());
  ReadSections(cb, c, parts);
  if (c.bad) return Fail(cb, c);
  return c.at;
}

int32_t pf_code_binary(AsfControlBlock* cb, int32_t direction, unsigned char* bytes, int32_t n,
                       PfParts* parts) {
  Cursor c{bytes, n};
  if (direction == 1) {
    const AsfConnRecord* r = parts->record;
    c.U16('e');
    c.U32(parts->level);
    c.Text("IEEEI");
    c.U16('l');
    c.Fixed(r->program, 11);
    c.Fixed(nullptr, 1);
    c.Text(r->name1);
    c.Text(r->name2);
    c.Text(r->name3);
    for (int32_t v : r->values) c.U32(v);
    c.U16(r->cred_kind);
    if (r->cred_kind != 0) {
      c.Text(r->user);
      c.Text(r->password);
    } else {
      c.U32(0);
    }
    c.Fixed(r->info.server_type, 8);
    c.U32(r->info.level);
    c.Fixed(r->info.protocol, 8);
    c.U32(r->info.word);
    if (int rc = WriteCredential(c, parts->credential); rc != 0) return ASF_ERROR(cb, rc, 0), -1;
    WriteSections(c, parts);
    if (c.bad) return ASF_ERROR(cb, -408, 0), -1;
    return c.at;
  }
  if (parts->identity == nullptr) return ASF_ERROR(cb, -27003, 0), -1;
  if (c.RU16() != 'e') return Fail(cb, c);
  parts->tag = 'e';
  AsfConnRecord* r = NewRecord(c, parts);
  if (r == nullptr) return Fail(cb, c);
  parts->level = c.R32();
  char* format = c.RText();
  int32_t f = format != nullptr && std::strcmp(format, "IEEEI") == 0 ? 0 : 16;
  std::free(format);
  parts->format = PfFormat{{16, 16, 16, f, f, 0}};
  if (c.RU16() != 'l') return Fail(cb, c);
  c.RBytes(r->program, 12);
  r->program[11] = '\0';
  r->name1 = c.RText();
  r->name2 = c.RText();
  r->name3 = c.RText();
  for (int32_t& v : r->values) v = c.R32();
  r->cred_kind = c.R16();
  if (r->cred_kind != 0) {
    r->user = c.RText();
    r->password = c.RText();
  } else {
    c.R32();
  }
  c.RBytes(r->info.server_type, 8);
  r->info.level = c.R32();
  c.RBytes(r->info.protocol, 8);
  r->info.word = c.R32();
  if (c.bad) return Fail(cb, c);
  ReadSections(cb, c, parts);
  if (c.bad) return Fail(cb, c);
  return c.at;
}

void pf_parts_free(PfParts* parts) {
  if (parts == nullptr) return;
  asf_free_connect_body(0, parts->record);
  parts->record = nullptr;
  if (parts->credential != nullptr) {
    SqliConnCred* cred = parts->credential;
    if (cred->kind == 1) {
      asf_free_start_request(0, cred);
    } else if (cred->kind == -1) {
      auto* raw = static_cast<AsfRawBlock*>(cred->data);
      if (raw != nullptr) std::free(raw->bytes);
      std::free(raw);
      std::free(cred);
    } else {
      asf_free_conn_cred(0, cred);
    }
    parts->credential = nullptr;
  }
  asf_free_option_list(0, parts->options);
  parts->options = nullptr;
}

TV_END_C
