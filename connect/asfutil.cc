// Errors, association handles and their parts, packet-buffer slots, record
// freeing and copying, the password scrambler and the debug switch.
#include "connect/asfutil.h"


#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "base/env.h"
#include "base/fields.h"
#include "base/os_files.h"
#include "connect/csm.h"
#include "connect/session.h"

namespace {

AsfGlobal* g_global = nullptr;

// Frees a text pointer and clears it.
void FreeText(char*& text) {
  std::free(text);
  text = nullptr;
}

void FreePassword(char*& text) {
  asf_wipe_password(text);
  FreeText(text);
}

int BufferSlot(uint32_t flags) {
  bool expedited = (flags & ASF_BF_EXPEDITED) != 0;
  if (flags & ASF_BF_SEND) return expedited ? ASF_BUF_XSEND : ASF_BUF_SEND;
  if (flags & ASF_BF_RECV) return expedited ? ASF_BUF_XRECV : ASF_BUF_RECV;
  return -1;
}

bool HasCheck(const AsfAssociation* a) {
  return a != nullptr && a != reinterpret_cast<const AsfAssociation*>(~uintptr_t{0}) &&
         a->check == ASF_CHECK;
}

}  // namespace

TV_BEGIN_C

int asf_assoc_valid(const AsfAssociation* assoc) {
  return assoc != nullptr && assoc != reinterpret_cast<const AsfAssociation*>(~uintptr_t{0}) &&
         assoc->magic == ASF_MAGIC;
}

AsfGlobal* asf_global_get(void) { return g_global; }
void asf_global_set(AsfGlobal* global) { g_global = global; }

const char* asf_basename(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

int32_t asf_set_error(AsfControlBlock* cb, int32_t code, int32_t os_error, const char* file,
                      int32_t line) {
  if (cb == nullptr) return code;
  cb->error = code;
  cb->os_error = os_error;
  if (file != nullptr) {
    std::strncpy(cb->file, file, 15);
    cb->file[15] = '\0';
  }
  cb->line = static_cast<int16_t>(line);
  return code;
}

char* asf_strdup(int64_t, const char* text) {
  if (text == nullptr) return nullptr;
  size_t n = std::strlen(text) + 1;
  char* copy = static_cast<char*>(std::calloc(1, n));
  if (copy != nullptr) std::memcpy(copy, text, n);
  return copy;
}

AsfAssociation* asf_assoc_new(AsfControlBlock* cb, int32_t kind, AsfAssociation* parent) {
  auto* a = static_cast<AsfAssociation*>(std::calloc(1, sizeof(AsfAssociation)));
  if (a == nullptr) {
    ASF_ERROR(cb, -406, ENOMEM);
    return nullptr;
  }
  a->magic = ASF_MAGIC;
  a->check = ASF_CHECK;
  a->kind = kind;
  a->parent = parent;
  a->state = &a->embedded;
  a->state_size = static_cast<int32_t>(sizeof(AsfAssocState));
  a->embedded.handover_fd = -1;
  // A handle whose mutex could not be made works unthreaded.
  os_mutex_create(&a->mutex, "asf_assoc", 0);
  if (cb != nullptr) {
    cb->error = 0;
    cb->os_error = 0;
  }
  return a;
}

int asf_assoc_free(AsfAssociation* assoc) {
  if (!asf_assoc_valid(assoc)) return -1;
  int rc = 0;
  if (assoc->session_owner != 0 && asf_session_detach(assoc) != 0) rc = -1;
  assoc->kind = 0;
  assoc->magic = 0;
  assoc->check = 0;
  if (assoc->mutex != nullptr && os_mutex_destroy(assoc->mutex) != 0 && rc == 0) rc = -1;
  std::free(assoc);
  return rc;
}

int asf_assoc_kind(const AsfAssociation* assoc, AsfAssociation** parent) {
  if (!asf_assoc_valid(assoc)) return -1;
  if (parent != nullptr) *parent = assoc->parent;
  return assoc->kind;
}

int asf_session_attach(AsfControlBlock* cb, int32_t reuse, const char* server_type,
                       const char* protocol) {
  AsfAssociation* a = cb != nullptr ? cb->assoc : nullptr;
  if (!HasCheck(a)) return ASF_ERROR(cb, -25546, 0), -1;
  char type8[8] = {}, proto8[8] = {};
  if (server_type != nullptr) std::strncpy(type8, server_type, 8);
  if (protocol != nullptr) std::strncpy(proto8, protocol, 8);
  if (a->session_owner != 0) {
    if (!reuse) return ASF_ERROR(cb, -1, 0), -1;
    if (std::memcmp(type8, a->server_type, 8) == 0 && std::memcmp(proto8, a->protocol, 8) == 0) {
      cb->error = 0;
      cb->os_error = 0;
      return 0;
    }
    if (asf_session_detach(a) != 0) return ASF_ERROR(cb, -25546, 0), -1;
  }
  size_t size = sizeof(AsfSession) + ASF_SL_CONTEXT_SIZE;
  auto* memory = static_cast<unsigned char*>(std::calloc(1, size));
  if (memory == nullptr) return ASF_ERROR(cb, -406, ENOMEM), -1;
  auto* session = reinterpret_cast<AsfSession*>(memory);
  session->link = nullptr;
  a->session = session;
  a->session_size = static_cast<int32_t>(size);
  a->sl_context = memory + sizeof(AsfSession);
  a->sl_context_offset = static_cast<int32_t>(sizeof(AsfSession));
  a->sl_context_size = ASF_SL_CONTEXT_SIZE;
  a->transport = nullptr;
  a->transport_size = 0;
  for (AsfPacketBuffer*& b : a->buffers) b = nullptr;
  std::memcpy(a->server_type, type8, 8);
  std::memcpy(a->protocol, proto8, 8);
  a->header_room = 6;
  a->session_owner = 16;
  cb->error = 0;
  cb->os_error = 0;
  return 0;
}

int asf_session_detach(AsfAssociation* assoc) {
  if (!HasCheck(assoc)) return -1;
  int rc = -1;
  if (assoc->session_owner == 16 && assoc->session != nullptr) {
    csm_forget(assoc);
    std::free(assoc->session);
    rc = 0;
    std::memset(assoc->server_type, 0, 8);
    std::memset(assoc->protocol, 0, 8);
    assoc->session = nullptr;
    assoc->sl_context = nullptr;
    assoc->sl_context_offset = 0;
    assoc->sl_context_size = 0;
  }
  assoc->session_owner = 0;
  return rc;
}

int asf_transport_alloc(AsfControlBlock* cb) {
  AsfAssociation* a = cb != nullptr ? cb->assoc : nullptr;
  if (!HasCheck(a)) return ASF_ERROR(cb, -25546, 0), -1;
  if (a->transport != nullptr) {
    // A transport that never opened is replaced; an open one stays.
    if (a->transport->driver.record != nullptr) return ASF_ERROR(cb, -25546, 0), -1;
    asf_transport_free(a);
  }
  auto* t = static_cast<AsfTransport*>(std::calloc(1, sizeof(AsfTransport)));
  if (t == nullptr) return ASF_ERROR(cb, -406, ENOMEM), -1;
  a->transport = t;
  a->transport_size = static_cast<int32_t>(sizeof(AsfTransport));
  cb->error = 0;
  cb->os_error = 0;
  return 0;
}

int asf_transport_free(AsfAssociation* assoc) {
  if (!HasCheck(assoc) || assoc->transport == nullptr) return -1;
  std::free(assoc->transport);
  assoc->transport = nullptr;
  assoc->transport_size = 0;
  assoc->driver = nullptr;
  assoc->ops = nullptr;
  return 0;
}

int asf_transport_share(AsfAssociation* from, AsfAssociation* to) {
  if (!HasCheck(from) || from->transport == nullptr || !HasCheck(to)) return -1;
  to->transport = from->transport;
  to->transport_size = from->transport_size;
  return 0;
}

int asf_buffer_put(AsfAssociation* assoc, uint32_t flags, AsfPacketBuffer* buf) {
  int slot = BufferSlot(flags);
  if (!HasCheck(assoc) || slot < 0 || buf == nullptr || assoc->buffers[slot] != nullptr) return -1;
  if (flags & ASF_BF_SEND) {
    buf->position = buf->data + buf->start_offset;
    buf->left = buf->size - buf->start_offset;
  }
  assoc->buffers[slot] = buf;
  return 0;
}

int asf_buffer_get(AsfAssociation* assoc, uint32_t flags, AsfPacketBuffer** buf) {
  int slot = BufferSlot(flags);
  if (!asf_assoc_valid(assoc) || slot < 0 || assoc->buffers[slot] == nullptr) return -1;
  if (buf != nullptr) *buf = assoc->buffers[slot];
  if (!(flags & ASF_BF_KEEP)) assoc->buffers[slot] = nullptr;
  return 0;
}

int32_t asf_handover_size(const AsfAssociation* assoc) { return HasCheck(assoc) ? 2056 : -1; }

void asf_wipe_password(char* text) {
  if (text == nullptr) return;
  size_t n = strnlen(text, 128);
  std::memset(text, 0, n);
}

void asf_free_server_entry(int64_t, AsfServerEntry* e, int32_t free_entry) {
  if (e == nullptr) return;
  FreeText(e->server_name);
  FreeText(e->database);
  FreeText(e->address);
  FreeText(e->user);
  FreePassword(e->password);
  FreeText(e->options.csm);
  FreeText(e->options.pam_service);
  FreeText(e->options.cfd);
  if (free_entry) std::free(e);
}

void asf_free_server_list_class(int64_t cls, AsfServerList* list) {
  if (list == nullptr) return;
  int32_t n = list->count;
  if (n > ASF_SERVER_LIST_MAX) n = ASF_SERVER_LIST_MAX;
  for (int32_t i = 0; i < n; ++i) asf_free_server_entry(cls, &list->entries[i], 0);
  std::free(list);
}

void asf_free_server_list(AsfServerList* list) { asf_free_server_list_class(1, list); }

AsfServerEntry* asf_dup_server_entry(int64_t cls, const AsfServerEntry* e) {
  if (e == nullptr) return nullptr;
  auto* c = static_cast<AsfServerEntry*>(std::malloc(sizeof(AsfServerEntry)));
  if (c == nullptr) return nullptr;
  std::memcpy(c, e, sizeof *c);
  char** texts[] = {&c->server_name, &c->database, &c->address, &c->user,
                    &c->password, &c->options.csm, &c->options.pam_service, &c->options.cfd};
  for (char** t : texts) *t = nullptr;
  const char* sources[] = {e->server_name, e->database, e->address, e->user,
                           e->password, e->options.csm, e->options.pam_service, e->options.cfd};
  for (size_t i = 0; i < sizeof texts / sizeof texts[0]; ++i) {
    if (sources[i] == nullptr) continue;
    *texts[i] = asf_strdup(cls, sources[i]);
    if (*texts[i] == nullptr) {
      asf_free_server_entry(cls, c, 1);
      return nullptr;
    }
  }
  return c;
}

void asf_free_connect_body(int64_t, AsfConnRecord* r) {
  if (r == nullptr) return;
  FreeText(r->user);
  FreePassword(r->password);
  FreeText(r->name3);
  FreeText(r->name1);
  FreeText(r->name2);
  std::free(r);
}

void asf_free_start_request(int64_t, SqliConnCred* cred) {
  if (cred == nullptr) return;
  auto* s = static_cast<AsfStartRequest*>(cred->data);
  if (s != nullptr) {
    FreeText(s->server);
    FreeText(s->option_arg);
    FreeText(s->name);
    FreeText(s->mode_arg);
    FreeText(s->group_arg);
    FreeText(s->group_name);
    std::free(s);
    cred->data = nullptr;
  }
  std::free(cred);
}

void asf_free_conn_cred(int64_t, SqliConnCred* cred) {
  if (cred == nullptr) return;
  auto* d = static_cast<AsfCredentialData*>(cred->data);
  if (d != nullptr) {
    if (d->subkind == 1) {
      AsfTextList* list = d->u.list;
      if (list != nullptr) {
        for (uint32_t i = 0; list->texts != nullptr && i < list->count; ++i) FreeText(list->texts[i]);
        std::free(list->texts);
        std::free(list);
        d->u.list = nullptr;
      }
    } else if (d->entries != nullptr) {
      for (int32_t i = 0; i < d->entry_count; ++i) {
        std::free(d->entries[i].bytes);
        d->entries[i].bytes = nullptr;
      }
      std::free(d->entries);
      d->entries = nullptr;
    }
    std::free(d);
    cred->data = nullptr;
  }
  std::free(cred);
}

void asf_free_option_list(int64_t, AsfOptionList* list) {
  if (list == nullptr) return;
  for (int32_t i = 0; i < list->count; ++i) {
    if (list->names != nullptr) FreeText(list->names[i]);
    if (list->values != nullptr) FreeText(list->values[i]);
  }
  std::free(list->names);
  std::free(list->values);
  std::free(list);
}

void asf_free_identity(int64_t, AsfIdentity* id) {
  if (id == nullptr) return;
  FreeText(id->computer);
  FreeText(id->host);
  FreeText(id->text56);
  FreeText(id->cwd);
  FreeText(id->program);
}

// The fixed key of the password scrambler.
static const unsigned char kScrambleKey[16] = {0x4f, 0x9a, 0x2c, 0x71, 0xd8, 0xe0, 0x5b, 0x36,
                                               0xa1, 0xc7, 0xf2, 0x94, 0x8e, 0x3d, 0x6b, 0x05};

void asf_scramble_password(unsigned char* dst, unsigned char* src, int32_t length, int32_t mode) {
  if (length <= 0 || dst == nullptr || src == nullptr) return;
  int32_t t = stnleng(reinterpret_cast<const char*>(src), length);
  if (mode == 0) {
    if (t == 0) {
      std::memset(dst, 0, static_cast<size_t>(length - 1));
      dst[length - 1] = 254;
      return;
    }
    for (int32_t i = t + 1; i < length; ++i) src[i] = 'x';
    for (int32_t i = 0; i < length; ++i) dst[i] = src[i] ^ kScrambleKey[i % 16];
    return;
  }
  if (mode == 1 && src[0] == 0 && src[length - 1] == 254) {
    std::memset(dst, 0, static_cast<size_t>(length));
    return;
  }
  for (int32_t i = 0; i < length; ++i) dst[i] = src[i] ^ kScrambleKey[i % 16];
  bool after_nul = false;
  for (int32_t i = 0; i < length; ++i) {
    if (after_nul) dst[i] = 0;
    else if (dst[i] == 0) after_nul = true;
  }
}

void asf_debug_header(FILE* stream, const char* setting) {
  if (stream == nullptr) return;
  std::fprintf(stream, "%s  %s\n", "ASF Debug Dump", "version 6.0");
  time_t now = time(nullptr);
  char when[64];
  if (ctime_r(&now, when) == nullptr) std::strcpy(when, "\n");
  std::fprintf(stream, "Dump created on: %s", when);
  std::fprintf(stream, "TARVELONASFDBG = %s\n\n", setting != nullptr ? setting : "");
  std::fflush(stream);
}

int asf_debug_init(void) {
  AsfGlobal* g = asf_global_get();
  if (g == nullptr) return -1;
  g->debug_categories = 0;
  g->debug_details = 0;
  g->debug_stream = stderr;
  const char* value = ggetenv_idx("TARVELONASFDBG", 20);
  if (value == nullptr || *value == '\0') return 0;
  uint32_t categories = 0, details = 0;
  for (const char* p = value; *p != '\0'; ++p) {
    switch (*p) {
      case 'E': categories |= 1; continue;
      case 'C': categories |= 2; continue;
      case 'O': categories |= 4; continue;
      case 'S': categories |= 16; continue;
      case 'A': categories |= 0x17; continue;
      case 'l': details |= 2; continue;
      case 't': details |= 4; continue;
      case ':':
        if (p[1] != '\0') {
          FILE* f = os_fopen(p + 1, O_WRONLY | O_CREAT | O_TRUNC, 0664, 8);
          if (f == nullptr) {
            std::fprintf(stderr, "Error: can't open file - %s\n", p + 1);
            return -1;
          }
          asf_debug_header(f, value);
          g->debug_stream = f;
        }
        g->debug_categories = categories;
        g->debug_details = details;
        return 0;
      default:
        std::fprintf(stderr, "Error: invalid option or category - %c \n", *p);
        return -1;
    }
  }
  g->debug_categories = categories;
  g->debug_details = details;
  return 0;
}

int asf_debug_setup(void) { return asf_debug_init(); }

TV_END_C
