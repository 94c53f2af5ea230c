// Flattening of an association's records into a hand-over arena and back.
//
// Layout, in the order written (all numbers in machine order; every block
// starts at a multiple of 4; an offset is an int64, -1 for none):
//   record table   initiator: {conn record, credential} (16 bytes);
//                  responder, listener: {conn record, start request,
//                  option list} (24 bytes)
//   conn record    the record's image, pointers replaced by offsets, then
//                  the texts user, password, name3, name1, name2
//   credential     initiator: {int16 kind, pad, data offset} (16), the
//                  56-byte AsfCredentialData; subkind 1: {count, pad,
//                  offset array} (16), count offsets, count texts;
//                  subkind 2: the 16-byte entries, then each entry's bytes
//                  as a block {int32 length, bytes}
//   start request  responder, listener: {int16 kind, pad, offset} (16), the
//                  56-byte AsfStartRequest, its six texts in field order
//   option list    {count, pad, names offset, values offset} (24), count
//                  name offsets, count value offsets, texts name, value...
//   identity       its 96 bytes, then the texts at 88, 24, 16 and 32
// The reader accepts a record block only at the position it has reached,
// checks every offset and length against the arena, and frees what a
// failing step made: a damaged arena fails the read, never crashes.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "connect/asf_flatten.h"

namespace {

constexpr int kFail = -406;

int Put(AsfArena* a, const char* text, int64_t* off) {
  return asf_arena_put_string(a, text, off) == 0 ? 0 : kFail;
}

// A record block at the read position, which passes over it.
void* Take(AsfArena* a, int64_t offset, int32_t n) {
  if (offset != a->used) {
    errno = EINVAL;
    return nullptr;
  }
  return asf_arena_take(a, n);
}

int Get(AsfArena* a, int64_t offset, char** text) {
  return asf_arena_get_string(a, offset, text) == 0 ? 0 : kFail;
}

void* Zalloc(size_t n) { return std::calloc(1, n); }

int PutBytes(AsfArena* a, const unsigned char* bytes, int32_t n, int64_t* off) {
  auto* block = static_cast<unsigned char*>(asf_arena_alloc(a, n + 4, off));
  if (block == nullptr) return kFail;
  std::memcpy(block, &n, 4);
  if (n > 0) std::memcpy(block + 4, bytes, static_cast<size_t>(n));
  return 0;
}

int GetBytes(AsfArena* a, int64_t off, int32_t n, unsigned char** out) {
  *out = nullptr;
  if (off == -1) return n == 0 ? 0 : kFail;
  auto* block = static_cast<unsigned char*>(Take(a, off, 4));
  if (block == nullptr) return kFail;
  int32_t len;
  std::memcpy(&len, block, 4);
  if (len != n || len < 0 || len > a->size - a->used) return kFail;
  *out = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(len) + 1));
  if (*out == nullptr) return kFail;
  if (len > 0) std::memcpy(*out, a->base + a->used, static_cast<size_t>(len));
  (*out)[len] = 0;
  if (len > 0 && asf_arena_take(a, len) == nullptr) {
    std::free(*out);
    *out = nullptr;
    return kFail;
  }
  return 0;
}

struct CredBlock {
  int16_t kind;
  int16_t pad[3];
  int64_t offset;
};
struct ListBlock {
  uint32_t count;
  uint32_t pad;
  int64_t offset;
};
struct OptBlock {
  int32_t count;
  int32_t pad;
  int64_t names;
  int64_t values;
};
static_assert(sizeof(CredBlock) == 16 && sizeof(ListBlock) == 16 && sizeof(OptBlock) == 24);

}  // namespace

TV_BEGIN_C

int asf_flatten_connect_body(AsfArena* a, const AsfConnRecord* rec, int64_t* off) {
  *off = -1;
  if (rec == nullptr) return 0;
  void* block = asf_arena_alloc(a, sizeof(AsfConnRecord), off);
  if (block == nullptr) return kFail;
  AsfConnRecord image;
  std::memcpy(static_cast<void*>(&image), rec, sizeof image);
  int64_t o[5];
  const char* texts[5] = {rec->user, rec->password, rec->name3, rec->name1, rec->name2};
  for (int i = 0; i < 5; ++i) {
    if (Put(a, texts[i], &o[i]) != 0) return kFail;
  }
  // Offsets travel in the pointer fields.
  std::memcpy(&image.user, &o[0], 8);
  std::memcpy(&image.password, &o[1], 8);
  std::memcpy(&image.name3, &o[2], 8);
  std::memcpy(&image.name1, &o[3], 8);
  std::memcpy(&image.name2, &o[4], 8);
  int64_t none = -1;
  std::memcpy(&image.trust_pointer, &none, 8);
  std::memcpy(block, &image, sizeof image);
  return 0;
}

int asf_unflatten_connect_body(AsfArena* a, int64_t off, AsfConnRecord** out) {
  *out = nullptr;
  if (off == -1) return 0;
  void* block = Take(a, off, sizeof(AsfConnRecord));
  if (block == nullptr) return kFail;
  auto* rec = static_cast<AsfConnRecord*>(Zalloc(sizeof(AsfConnRecord)));
  if (rec == nullptr) return kFail;
  std::memcpy(static_cast<void*>(rec), block, sizeof *rec);
  int64_t o[5];
  std::memcpy(&o[0], &rec->user, 8);
  std::memcpy(&o[1], &rec->password, 8);
  std::memcpy(&o[2], &rec->name3, 8);
  std::memcpy(&o[3], &rec->name1, 8);
  std::memcpy(&o[4], &rec->name2, 8);
  rec->user = rec->password = rec->name3 = rec->name1 = rec->name2 = nullptr;
  rec->trust_pointer = nullptr;
  char** dst[5] = {&rec->user, &rec->password, &rec->name3, &rec->name1, &rec->name2};
  for (int i = 0; i < 5; ++i) {
    if (Get(a, o[i], dst[i]) != 0) {
      asf_free_connect_body(1, rec);
      return kFail;
    }
  }
  *out = rec;
  return 0;
}

int asf_flatten_conn_cred(AsfArena* a, const SqliConnCred* cred, int64_t* off) {
  *off = -1;
  if (cred == nullptr) return 0;
  void* head_block = asf_arena_alloc(a, sizeof(CredBlock), off);
  if (head_block == nullptr) return kFail;
  CredBlock head{};
  head.kind = cred->kind;
  head.offset = -1;
  auto store_head = [&]() { std::memcpy(head_block, &head, sizeof head); };
  store_head();
  if (cred->kind != 2 || cred->data == nullptr) return 0;
  const auto* d = static_cast<const AsfCredentialData*>(cred->data);
  int64_t doff;
  void* data_block = asf_arena_alloc(a, sizeof(AsfCredentialData), &doff);
  if (data_block == nullptr) return kFail;
  AsfCredentialData data;
  std::memcpy(static_cast<void*>(&data), d, sizeof data);
  head.offset = doff;
  store_head();
  if (d->subkind == 1) {
    const AsfTextList* list = d->u.list;
    int64_t loff = -1;
    if (list != nullptr) {
      void* lb_block = asf_arena_alloc(a, sizeof(ListBlock), &loff);
      if (lb_block == nullptr) return kFail;
      ListBlock lb{list->count, 0, -1};
      if (list->count > 0) {
        if (list->texts == nullptr || list->count > 4096) return -25563;
        int64_t aoff;
        auto* offs = static_cast<unsigned char*>(
            asf_arena_alloc(a, static_cast<int32_t>(list->count * 8), &aoff));
        if (offs == nullptr) return kFail;
        lb.offset = aoff;
        for (uint32_t i = 0; i < list->count; ++i) {
          int64_t t;
          if (Put(a, list->texts[i], &t) != 0) return kFail;
          std::memcpy(offs + 8 * i, &t, 8);
        }
      }
      std::memcpy(lb_block, &lb, sizeof lb);
    }
    std::memcpy(&data.u, &loff, 8);
    std::memcpy(data_block, &data, sizeof data);
    return 0;
  }
  int64_t eoff = -1;
  if (d->entry_count < 0 || (d->entry_count > 0 && d->entries == nullptr)) return -25563;
  if (d->entry_count > 0) {
    auto* entries = static_cast<unsigned char*>(
        asf_arena_alloc(a, d->entry_count * static_cast<int32_t>(sizeof(AsfCredentialEntry)), &eoff));
    if (entries == nullptr) return kFail;
    for (int32_t i = 0; i < d->entry_count; ++i) {
      AsfCredentialEntry e = d->entries[i];
      int64_t b;
      int32_t n = e.bytes != nullptr && e.length > 0 ? e.length : 0;
      e.length = n;
      if (PutBytes(a, d->entries[i].bytes, n, &b) != 0) return kFail;
      std::memcpy(&e.bytes, &b, 8);
      std::memcpy(entries + sizeof e * static_cast<size_t>(i), &e, sizeof e);
    }
  }
  std::memcpy(&data.entries, &eoff, 8);
  std::memcpy(data_block, &data, sizeof data);
  return 0;
}

int asf_unflatten_conn_cred(AsfArena* a, int64_t off, SqliConnCred** out) {
  *out = nullptr;
  if (off == -1) return 0;
  void* head_block = Take(a, off, sizeof(CredBlock));
  if (head_block == nullptr) return kFail;
  CredBlock head;
  std::memcpy(&head, head_block, sizeof head);
  if (head.kind != 2) return kFail;
  auto* cred = static_cast<SqliConnCred*>(Zalloc(sizeof(SqliConnCred)));
  if (cred == nullptr) return kFail;
  cred->kind = 2;
  *out = cred;
  auto fail = [&]() {
    asf_free_conn_cred(1, cred);
    *out = nullptr;
    return kFail;
  };
  if (head.offset == -1) return 0;
  void* block = Take(a, head.offset, sizeof(AsfCredentialData));
  if (block == nullptr) return fail();
  auto* d = static_cast<AsfCredentialData*>(Zalloc(sizeof(AsfCredentialData)));
  if (d == nullptr) return fail();
  std::memcpy(static_cast<void*>(d), block, sizeof *d);
  int64_t inner;
  std::memcpy(&inner, d->subkind == 1 ? static_cast<void*>(&d->u) : static_cast<void*>(&d->entries), 8);
  if (d->subkind == 1) d->u.list = nullptr;
  d->entries = nullptr;
  int32_t entry_count = d->entry_count;
  d->entry_count = 0;
  cred->data = d;
  if (d->subkind == 1) {
    if (inner == -1) return 0;
    void* lb_block = Take(a, inner, sizeof(ListBlock));
    if (lb_block == nullptr) return fail();
    ListBlock lb;
    std::memcpy(&lb, lb_block, sizeof lb);
    auto* list = static_cast<AsfTextList*>(Zalloc(sizeof(AsfTextList)));
    if (list == nullptr) return fail();
    d->u.list = list;
    if (lb.count == 0) return 0;
    if (lb.count > static_cast<uint32_t>(a->size / 8)) return fail();
    auto* offs = static_cast<unsigned char*>(Take(a, lb.offset, static_cast<int32_t>(lb.count * 8)));
    if (offs == nullptr) return fail();
    list->texts = static_cast<char**>(Zalloc(sizeof(char*) * lb.count));
    if (list->texts == nullptr) return fail();
    for (uint32_t i = 0; i < lb.count; ++i) {
      int64_t t;
      std::memcpy(&t, offs + 8 * i, 8);
      list->count = i + 1;
      if (Get(a, t, &list->texts[i]) != 0) return fail();
    }
    return 0;
  }
  if (entry_count < 0 || entry_count > a->size / 16) return fail();
  if (entry_count == 0) return inner == -1 ? 0 : fail();
  auto* eb = static_cast<unsigned char*>(Take(a, inner, entry_count * 16));
  if (eb == nullptr) return fail();
  d->entries = static_cast<AsfCredentialEntry*>(Zalloc(sizeof(AsfCredentialEntry) * static_cast<size_t>(entry_count)));
  if (d->entries == nullptr) return fail();
  std::vector<int64_t> offsets(static_cast<size_t>(entry_count));
  for (int32_t i = 0; i < entry_count; ++i) {
    AsfCredentialEntry e;
    std::memcpy(&e, eb + 16 * static_cast<size_t>(i), sizeof e);
    std::memcpy(&offsets[static_cast<size_t>(i)], &e.bytes, 8);
    e.bytes = nullptr;
    d->entries[i] = e;
  }
  d->entry_count = entry_count;
  for (int32_t i = 0; i < entry_count; ++i) {
    if (GetBytes(a, offsets[static_cast<size_t>(i)], d->entries[i].length, &d->entries[i].bytes) != 0) {
      return fail();
    }
  }
  return 0;
}

int asf_flatten_start_request(AsfArena* a, const SqliConnCred* cred, int64_t* off) {
  *off = -1;
  if (cred == nullptr) return 0;
  void* head_block = asf_arena_alloc(a, sizeof(CredBlock), off);
  if (head_block == nullptr) return kFail;
  CredBlock head{};
  head.kind = cred->kind;
  head.offset = -1;
  std::memcpy(head_block, &head, sizeof head);
  if (cred->kind != 1 || cred->data == nullptr) return 0;
  const auto* s = static_cast<const AsfStartRequest*>(cred->data);
  int64_t soff;
  void* block = asf_arena_alloc(a, sizeof(AsfStartRequest), &soff);
  if (block == nullptr) return kFail;
  head.offset = soff;
  std::memcpy(head_block, &head, sizeof head);
  AsfStartRequest image = *s;
  const char* texts[6] = {s->server, s->option_arg, s->name, s->mode_arg, s->group_arg, s->group_name};
  char** fields[6] = {&image.server, &image.option_arg, &image.name, &image.mode_arg,
                      &image.group_arg, &image.group_name};
  for (int i = 0; i < 6; ++i) {
    int64_t t;
    if (Put(a, texts[i], &t) != 0) return kFail;
    std::memcpy(fields[i], &t, 8);
  }
  std::memcpy(block, &image, sizeof image);
  return 0;
}

int asf_unflatten_start_request(AsfArena* a, int64_t off, SqliConnCred** out) {
  *out = nullptr;
  if (off == -1) return 0;
  void* head_block = Take(a, off, sizeof(CredBlock));
  if (head_block == nullptr) return kFail;
  CredBlock head;
  std::memcpy(&head, head_block, sizeof head);
  if (head.kind != 1) return kFail;
  auto* cred = static_cast<SqliConnCred*>(Zalloc(sizeof(SqliConnCred)));
  if (cred == nullptr) return kFail;
  cred->kind = 1;
  *out = cred;
  if (head.offset == -1) return 0;
  auto fail = [&]() {
    asf_free_start_request(1, cred);
    *out = nullptr;
    return kFail;
  };
  void* block = Take(a, head.offset, sizeof(AsfStartRequest));
  if (block == nullptr) return fail();
  auto* s = static_cast<AsfStartRequest*>(Zalloc(sizeof(AsfStartRequest)));
  if (s == nullptr) return fail();
  std::memcpy(s, block, sizeof *s);
  char** fields[6] = {&s->server, &s->option_arg, &s->name, &s->mode_arg, &s->group_arg, &s->group_name};
  int64_t offs[6];
  for (int i = 0; i < 6; ++i) {
    std::memcpy(&offs[i], fields[i], 8);
    *fields[i] = nullptr;
  }
  cred->data = s;
  for (int i = 0; i < 6; ++i) {
    if (Get(a, offs[i], fields[i]) != 0) return fail();
  }
  return 0;
}

int asf_flatten_option_list(AsfArena* a, const AsfOptionList* list, int64_t* off) {
  *off = -1;
  if (list == nullptr) return 0;
  if (list->count < 0 || (list->count > 0 && (list->names == nullptr || list->values == nullptr))) {
    return -25563;
  }
  void* head_block = asf_arena_alloc(a, sizeof(OptBlock), off);
  if (head_block == nullptr) return kFail;
  OptBlock head{list->count, 0, -1, -1};
  std::memcpy(head_block, &head, sizeof head);
  if (list->count == 0) return 0;
  int32_t n = list->count;
  if (n > a->size / 8) return kFail;
  int64_t noff, voff;
  auto* names = static_cast<unsigned char*>(asf_arena_alloc(a, n * 8, &noff));
  if (names == nullptr) return kFail;
  auto* values = static_cast<unsigned char*>(asf_arena_alloc(a, n * 8, &voff));
  if (values == nullptr) return kFail;
  head.names = noff;
  head.values = voff;
  std::memcpy(head_block, &head, sizeof head);
  for (int32_t i = 0; i < n; ++i) {
    int64_t t;
    if (Put(a, list->names[i], &t) != 0) return kFail;
    std::memcpy(names + 8 * i, &t, 8);
    if (Put(a, list->values[i], &t) != 0) return kFail;
    std::memcpy(values + 8 * i, &t, 8);
  }
  return 0;
}

int asf_unflatten_option_list(AsfArena* a, int64_t off, AsfOptionList** out) {
  *out = nullptr;
  if (off == -1) return 0;
  void* head_block = Take(a, off, sizeof(OptBlock));
  if (head_block == nullptr) return kFail;
  OptBlock head;
  std::memcpy(&head, head_block, sizeof head);
  int32_t n = head.count;
  if (n < 0 || n > a->size / 8) return kFail;
  auto* list = static_cast<AsfOptionList*>(Zalloc(sizeof(AsfOptionList)));
  if (list == nullptr) return kFail;
  *out = list;
  if (n == 0) return 0;
  auto fail = [&]() {
    asf_free_option_list(1, list);
    *out = nullptr;
    return kFail;
  };
  auto* names = static_cast<unsigned char*>(Take(a, head.names, n * 8));
  if (names == nullptr) return fail();
  auto* values = static_cast<unsigned char*>(Take(a, head.values, n * 8));
  if (values == nullptr) return fail();
  list->names = static_cast<char**>(Zalloc(sizeof(char*) * static_cast<size_t>(n)));
  list->values = static_cast<char**>(Zalloc(sizeof(char*) * static_cast<size_t>(n)));
  if (list->names == nullptr || list->values == nullptr) return fail();
  list->count = n;
  for (int32_t i = 0; i < n; ++i) {
    int64_t t;
    std::memcpy(&t, names + 8 * i, 8);
    if (Get(a, t, &list->names[i]) != 0) return fail();
    std::memcpy(&t, values + 8 * i, 8);
    if (Get(a, t, &list->values[i]) != 0) return fail();
  }
  return 0;
}

int asf_flatten_assoc(AsfArena* a, int32_t kind, const AsfAssocRecords* r) {
  if (a == nullptr || r == nullptr) return -25563;
  if (kind < 1 || kind > 3) return -25563;
  if (kind != 1 && r->option_list != nullptr &&
      (r->option_list->count < 0 ||
       (r->option_list->count > 0 && (r->option_list->names == nullptr || r->option_list->values == nullptr)))) {
    return -25563;
  }
  int32_t table_size = kind == 1 ? 16 : 24;
  void* table = asf_arena_alloc(a, table_size, nullptr);
  if (table == nullptr) return kFail;
  int64_t offs[3] = {-1, -1, -1};
  int rc = asf_flatten_connect_body(a, r->conn_record, &offs[0]);
  if (rc == 0 && kind == 1) rc = asf_flatten_conn_cred(a, r->credential, &offs[1]);
  if (rc == 0 && kind != 1) rc = asf_flatten_start_request(a, r->credential, &offs[1]);
  if (rc == 0 && kind != 1) rc = asf_flatten_option_list(a, r->option_list, &offs[2]);
  std::memcpy(table, offs, static_cast<size_t>(table_size));
  return rc;
}

int asf_unflatten_assoc(AsfArena* a, int32_t kind, AsfAssocRecords* r) {
  if (a == nullptr || r == nullptr) return -25563;
  std::memset(r, 0, sizeof *r);
  if (kind < 1 || kind > 3) return -25563;
  int32_t table_size = kind == 1 ? 16 : 24;
  void* table = asf_arena_take(a, table_size);
  if (table == nullptr) return kFail;
  int64_t offs[3] = {-1, -1, -1};
  std::memcpy(offs, table, static_cast<size_t>(table_size));
  int rc = asf_unflatten_connect_body(a, offs[0], &r->conn_record);
  if (rc == 0 && kind == 1) rc = asf_unflatten_conn_cred(a, offs[1], &r->credential);
  if (rc == 0 && kind != 1) rc = asf_unflatten_start_request(a, offs[1], &r->credential);
  if (rc == 0 && kind != 1) rc = asf_unflatten_option_list(a, offs[2], &r->option_list);
  if (rc != 0) {
    asf_free_connect_body(1, r->conn_record);
    if (r->credential != nullptr) {
      if (r->credential->kind == 1) asf_free_start_request(1, r->credential);
      else asf_free_conn_cred(1, r->credential);
    }
    asf_free_option_list(1, r->option_list);
    std::memset(r, 0, sizeof *r);
  }
  return rc;
}

int asf_flatten_identity(AsfArena* a, const AsfIdentity* id) {
  if (a == nullptr || id == nullptr) return -25563;
  void* block = asf_arena_alloc(a, sizeof(AsfIdentity), nullptr);
  if (block == nullptr) return kFail;
  AsfIdentity image;
  std::memcpy(static_cast<void*>(&image), id, sizeof image);
  image.pointer_slot = nullptr;
  image.text56 = nullptr;
  image.program = nullptr;
  const char* texts[4] = {id->text88, id->computer, id->host, id->cwd};
  char** fields[4] = {&image.text88, &image.computer, &image.host, &image.cwd};
  for (int i = 0; i < 4; ++i) {
    int64_t t;
    if (Put(a, texts[i], &t) != 0) return kFail;
    std::memcpy(fields[i], &t, 8);
  }
  std::memcpy(block, &image, sizeof image);
  return 0;
}

int asf_unflatten_identity(AsfArena* a, AsfIdentity* out) {
  if (a == nullptr || out == nullptr) return -25563;
  void* block = asf_arena_take(a, sizeof(AsfIdentity));
  if (block == nullptr) return kFail;
  AsfIdentity id;
  std::memcpy(static_cast<void*>(&id), block, sizeof id);
  int64_t offs[4];
  char** fields[4] = {&id.text88, &id.computer, &id.host, &id.cwd};
  for (int i = 0; i < 4; ++i) {
    std::memcpy(&offs[i], fields[i], 8);
    *fields[i] = nullptr;
  }
  id.pointer_slot = nullptr;
  id.text56 = nullptr;
  id.program = nullptr;
  for (int i = 0; i < 4; ++i) {
    if (Get(a, offs[i], fields[i]) != 0) {
      asf_free_identity(1, &id);
      std::free(id.text88);
      return kFail;
    }
  }
  std::memcpy(static_cast<void*>(out), &id, sizeof id);
  return 0;
}

TV_END_C
