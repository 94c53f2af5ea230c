// The exchanges that open a connection: the connectivity layer's start and
// connect requests, the connect reply, the server information, the version
// and capability exchange, the local-file and PAM handshakes, and the
// environment message; and the layer's break and release requests.
//
// Version exchange at protocol level 316 (client, then server):
//   126, int16 9, the 9 client capability bytes, a pad, 12
//   126, int16 n, n capability bytes (the first 16 kept), pad when odd, 12
// Older servers (level 0): 53, 12 / 53, int16 n, version text, pad, 12.
// Environment message: 81, int16 6, int16 total T, int16 longest padded
// name, int16 longest padded value, each variable's name and value as
// strings, two int16 zeros, 12.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/client_locale.h"
#include "base/cvt.h"
#include "base/env.h"
#include "base/locale_state.h"
#include "base/osqlidbg.h"
#include "base/thread_state.h"
#include "connect/asfutil.h"
#include "sqlruntime/connection.h"
#include "sqlruntime/names.h"
#include "sqlruntime/replies.h"
#include "sqltypes/moneyfmt.h"

namespace {

thread_local bool t_layer_started = false;

const unsigned char kClientCaps[9] = {0xFF, 0xFE, 0xDF, 0xFE, 0x74, 0xAA, 0x62, 0x13, 0xC0};

void FreshBlock(AsfControlBlock* cb, AsfAssociation* assoc) {
  std::memset(cb, 0, sizeof *cb);
  cb->mode = 1;
  cb->timeout_ms = -1;
  cb->assoc = assoc;
}

void RecordBlock(const AsfControlBlock& cb) {
  sqli_set_asf_error(cb.error, cb.os_error, cb.text[0] != '\0' ? cb.text : nullptr);
}

char* Dup(const char* s) { return s != nullptr ? strdup(s) : nullptr; }

// Reads the version text of an older server; 0 or -1.
int ReadOldVersion(SqliConnection* c, char* text) {
  SqliMessageStream* s = c->stream;
  sqli_msg_put_short(53, s);
  sqli_msg_put_short(12, s);
  sqli_msg_flush(s);
  int32_t code = sqli_msg_get_short(s);
  if (code != 53) return sqli_reply_protocol_error(code);
  int32_t n = sqli_msg_get_ushort(s);
  int32_t keep = n < 8 ? n : 8;
  std::memset(text, 0, 12);
  sqli_msg_get_bytes(text, keep, s);
  int32_t rest = n - keep + (n & 1);
  if (rest == 1) sqli_msg_get_byte(s);
  else if (rest > 0) sqli_msg_skip(rest, s);
  code = sqli_msg_get_short(s);
  if (code != 12) return sqli_reply_protocol_error(code);
  // "V7.31" style texts lose their first two characters; the text ends
  // before its second ".".
  if (text[0] != '.' && text[1] != '.' && text[2] != '.' && text[0] != '\0') {
    std::memmove(text, text + 2, 10);
  }
  char* dot = std::strchr(text, '.');
  if (dot != nullptr && (dot = std::strchr(dot + 1, '.')) != nullptr) *dot = '\0';
  return 0;
}

// Byte-wise unsigned comparison of a version text with a constant, NULs
// included.
int VersionCmp(const char* text, const char* constant) {
  size_t n = std::strlen(constant) + 1;
  return std::memcmp(text, constant, n);
}

struct LevelBits {
  int32_t level;
  int byte;
  unsigned char bits;
};

const LevelBits kLevelBits[] = {
    {315, 4, 0x20}, {314, 4, 0x40}, {313, 4, 0x80}, {312, 3, 0x01}, {311, 3, 0x02},
    {310, 2, 0x80}, {308, 1, 0x02}, {307, 1, 0x04}, {306, 1, 0x08}, {305, 1, 0x10},
    {304, 1, 0x20}, {303, 1, 0x80}, {301, 0, 0xBC},
};

int32_t PaddedLength(const char* s) {
  int32_t n = static_cast<int32_t>(std::strlen(s));
  return n + (n & 1);
}

}  // namespace

TV_BEGIN_C

int sqli_asf_start(void) {
  if (t_layer_started) return 0;
  static AsfDriverConfig entry = [] {
    AsfDriverConfig e{};
    e.value1 = -1;
    e.value2 = -1;
    return e;
  }();
  AsfControlBlock cb;
  FreshBlock(&cb, nullptr);
  AsfRequest r;
  asf_request_init(ASF_INIT, &r);
  r.body.init.flags = 0x15;
  r.body.init.setting1 = 10;
  r.body.init.setting2 = 0;
  r.body.init.setting3 = 100;
  r.body.init.entry_count = 1;
  r.body.init.entries = &entry;
  if (asf_service_request(&cb, &r) != 0) {
    RecordBlock(cb);
    return -1;
  }
  sqdbg_init();
  t_layer_started = true;
  return 0;
}

char* sqli_conn_dbpath(void) {
  AsfControlBlock cb;
  FreshBlock(&cb, nullptr);
  AsfRequest r;
  asf_request_init(ASF_LOOKUP, &r);
  r.body.lookup.target.kind = 7;
  // Without a server list (no name service, or nothing configured) the
  // connection's DBPATH text is empty.
  if (asf_service_request(&cb, &r) != 0 || r.body.lookup.server_list == nullptr) return nullptr;
  auto* list = static_cast<AsfServerList*>(r.body.lookup.server_list);
  std::string text;
  for (int32_t i = 0; i < list->count && i < ASF_SERVER_LIST_MAX; ++i) {
    const AsfServerEntry& e = list->entries[i];
    text += "//";
    text += e.server_name != nullptr ? e.server_name : "";
    if (e.database == nullptr || e.database[0] != '/') text += "/";
    if (e.database != nullptr) text += e.database;
    text += ":";
  }
  asf_free_server_list(list);
  if (!text.empty()) text.pop_back();
  char* out = strdup(text.c_str());
  if (out == nullptr) _iqseterr(-406);
  return out;
}

int32_t sqli_conn_retry_count(void) {
  const char* v = ggetenv_idx("TARVELONCONRETRY", -1);
  if (v == nullptr) return 1;
  long n = std::strtol(v, nullptr, 10);
  if (n < 0) return 1;
  if (n == 0) return std::strcmp(v, "0") == 0 ? 0 : 1;
  return n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(n);
}

int32_t sqli_conn_timeout_ms(void) {
  const char* v = ggetenv_idx("TARVELONCONTIME", -1);
  long n = v != nullptr ? std::strtol(v, nullptr, 10) : 0;
  if (n == 0) return 60000;
  if (n < 0) return -1;
  if (n > 2147483) return 2147483000;
  return static_cast<int32_t>(n) * 1000;
}

int sqli_conn_check_reply(SqliConnCred* answer) {
  SqliRuntime* rt = sqli_runtime_get();
  if (rt == nullptr) return -1;
  auto* d = answer != nullptr && answer->kind == 2 ? static_cast<AsfCredentialData*>(answer->data) : nullptr;
  if (d == nullptr || d->subkind != 2) {
    _iqseterr(-408);
    return -1;
  }
  int32_t status = d->values[0];
  if (status == 0) {
    sqli_diag_update(rt);
    sqli_reply_warnings(d->values[2]);
    return 0;
  }
  sqli_set_asf_error(status, d->values[1], nullptr);
  if (d->entry_count > 0 && d->entries != nullptr) {
    const AsfCredentialEntry& e = d->entries[0];
    sqlca.sqlerrd[4] = e.code;
    int32_t n = e.length;
    if (n > 72) n = 72;
    if (n > 0 && e.bytes != nullptr) {
      std::memcpy(sqlca.sqlerrm, e.bytes, static_cast<size_t>(n));
      sqlca.sqlerrm[n - 1] = '\0';
    }
  }
  return -1;
}

int sqli_asf_connect(SqliConnection* c, AsfStartRequest* redirect, int32_t dbopen_kind, SqliRuntime* rt,
                     int32_t tape_kind, uint32_t extra_flags) {
  rmoneyinit();
  int rc = rglinit();
  if (rc != 0) {
    _iqseterr(rc);
    return -1;
  }
  char* dbpath = sqli_conn_dbpath();
  char server[129] = "", db[261] = "";
  int32_t path_flag = 0, slash_flag = 0;
  int32_t mode_word = 7;
  char* target_text = nullptr;
  char* converted_db = nullptr;
  int result = -1;
  EnvSnapshot snap{};
  AsfConnRecord rec{};
  AsfStartRequest start{};
  SqliConnCred holder{1, &start};
  AsfOptionList env{};
  AsfRequest r;
  AsfControlBlock cb;
  GlConverter* cv = rgllocstate() != nullptr ? rgllocstate()->client_to_db : nullptr;

  if (c->target != nullptr && c->target[0] != '\0') {
    if (sqli_split_dbname(c->target, server, sizeof server, db, sizeof db, &path_flag, &slash_flag) != 0 ||
        slash_flag) {
      _iqseterr(-1804);
      goto out;
    }
    mode_word = 3;
    if (cv != nullptr) {
      int32_t n = static_cast<int32_t>(std::strlen(c->target));
      if (cvt_newbuf(cv, c->target, &n, &target_text) < 0 || target_text == nullptr) {
        _iqseterr(-1804);
        goto out;
      }
    } else {
      target_text = strdup(c->target);
    }
  }
  std::strcpy(rec.program, tape_kind ? "zutape" : "sqlexec");
  rec.name1 = const_cast<char*>("9.240");
  rec.name3 = const_cast<char*>("sqli");
  rec.values[0] = 316;
  rec.cred_kind = c->cred_kind;
  rec.user = c->user;
  rec.password = c->password;
  rec.trust_pointer = c->credential;
  rec.info.level = -1;
  rec.info.word = -1;
  gsetenv("CLNT_PAM_CAPABLE", "1");
  if (renvlist_conn(&snap, dbpath != nullptr ? dbpath : "") != 0) {
    _iqseterr(-406);
    goto out;
  }
  env.count = snap.count;
  env.names = const_cast<char**>(snap.names);
  env.values = snap.values;
  if (redirect != nullptr) {
    start = *redirect;
    if (redirect->kind != 1) sqli_sqlca_reset(rt);
  } else {
    start.server = server[0] != '\0' ? server : nullptr;
    if (db[0] != '\0' && cv != nullptr) {
      int32_t n = static_cast<int32_t>(std::strlen(db));
      if (cvt_newbuf(cv, db, &n, &converted_db) < 0 || converted_db == nullptr) {
        _iqseterr(-406);
        goto out;
      }
      start.option_arg = converted_db;
    } else {
      start.option_arg = db[0] != '\0' ? db : nullptr;
    }
    start.kind = !dbopen_kind ? 11 : (db[0] != '\0' ? 2 : 6);
    start.flags = 2u | (path_flag ? 0u : 1u);
    start.flags |= extra_flags;
  }
  FreshBlock(&cb, nullptr);
  cb.timeout_ms = sqli_conn_timeout_ms();
  asf_request_init(ASF_CONNECT, &r);
  r.body.connect.flags = 0;
  r.body.connect.target.kind = mode_word;
  r.body.connect.target.text = mode_word == 3 ? target_text : nullptr;
  r.body.connect.retry = sqli_conn_retry_count();
  r.body.connect.flag_area = c->flag_area;
  r.body.connect.parent = nullptr;
  r.body.connect.conn_record = &rec;
  r.body.connect.env_list = &env;
  r.body.connect.credential = &holder;
  if (asf_service_request(&cb, &r) == 0) {
    renvlist_free(&snap);
    auto* answer = static_cast<SqliConnCred*>(r.body.connect.cred_answer);
    if (sqli_conn_check_reply(answer) == 0) {
      auto* server_rec = static_cast<AsfConnRecord*>(r.body.connect.server_record);
      c->level = server_rec != nullptr ? server_rec->values[0] : 0;
      c->stream->cb.assoc = r.body.connect.assoc;
      result = 0;
    } else {
      sqli_conn_release(r.body.connect.assoc, 1);
    }
  } else if (cb.error == ASF_REFUSED) {
    renvlist_free(&snap);
    sqli_conn_check_reply(static_cast<SqliConnCred*>(r.body.connect.cred_answer));
    sqli_conn_release(r.body.connect.assoc, 1);
  } else {
    renvlist_free(&snap);
    RecordBlock(cb);
  }
out:
  std::free(dbpath);
  std::free(target_text);
  std::free(converted_db);
  return result;
}

int32_t sqli_conn_start(SqliConnection* c) {
  sqli_conn_make_current(c);
  sqli_msg_reset(c->stream);
  if (sqli_status.code != 0) {
    int32_t code = sqli_status.code;
    sqli_conn_make_current(nullptr);
    return code;
  }
  const char w[6] = {sqlca.sqlwarn.sqlwarn1, sqlca.sqlwarn.sqlwarn2, sqlca.sqlwarn.sqlwarn3,
                     sqlca.sqlwarn.sqlwarn4, sqlca.sqlwarn.sqlwarn6, sqlca.sqlwarn.sqlwarn7};
  for (int i = 0; i < 6; ++i) c->props[i] = w[i] == 'W' ? 1 : 0;
  rsetansi(c->props[1]);
  return 0;
}

int sqli_conn_server_info(SqliConnection* c) {
  AsfControlBlock cb;
  FreshBlock(&cb, c->stream->cb.assoc);
  AsfRequest r;
  asf_request_init(ASF_ATTRIBUTE, &r);
  AsfServerEntry** where = nullptr;
  r.body.attribute.code = 7;
  r.body.attribute.value = &where;
  if (asf_service_request(&cb, &r) != 0) {
    RecordBlock(cb);
    return -1;
  }
  AsfServerEntry* e = where != nullptr ? *where : nullptr;
  if (e == nullptr || e->address_kind != 1) {
    _iqseterr(-1812);
    return -1;
  }
  std::free(c->server_name);
  c->server_name = Dup(e->server_name != nullptr ? e->server_name : "");
  if (c->server_name == nullptr) {
    _iqseterr(-406);
    return -1;
  }
  return 0;
}

int sqli_version_exchange(SqliRuntime*, SqliConnection* c, int32_t level) {
  SqliMessageStream* s = c->stream;
  int32_t capped = level > 316 ? 316 : level;
  if (_sqdbg != 0) {
    unsigned char rec[4] = {0x00, 110, static_cast<unsigned char>(capped >> 8), static_cast<unsigned char>(capped)};
    sqdbg_send(rec, 4, s->trace_context, s);
    sqdbg_setproto(capped);
  }
  if (level == 316) {
    sqli_set_thread_connected(1);
    sqli_msg_put_short(126, s);
    sqli_msg_put_short(9, s);
    sqli_msg_put_bytes(kClientCaps, 9, s);
    sqli_msg_put_pad(s);
    sqli_msg_put_short(12, s);
    sqli_msg_flush(s);
    int32_t code = sqli_msg_get_short(s);
    if (code != 126) return sqli_reply_protocol_error(code);
    int32_t n = sqli_msg_get_ushort(s);
    int32_t keep = n < 16 ? n : 16;
    std::memset(c->caps, 0, sizeof c->caps);
    sqli_msg_get_bytes(c->caps, keep, s);
    int32_t rest = n - keep + (n & 1);
    if (rest == 1) sqli_msg_get_byte(s);
    else if (rest > 0) sqli_msg_skip(rest, s);
    code = sqli_msg_get_short(s);
    if (code != 12) return sqli_reply_protocol_error(code);
    return 0;
  }
  char version[12] = {};
  if (level == 0) {
    if (ReadOldVersion(c, version) != 0) return -1;
  } else {
    std::snprintf(version, sizeof version, "9.%04d", level % 10000);
  }
  std::memcpy(c->server_version, version, sizeof version);
  // Each level has its own bits and those of every lower level; 302 and
  // 309 have none at all.
  if (level >= 301 && level <= 315 && level != 302 && level != 309) {
    for (const LevelBits& b : kLevelBits) {
      if (level >= b.level) c->caps[b.byte] |= b.bits;
    }
  }
  unsigned char* caps = c->caps;
  if (VersionCmp(version, "9.03") >= 0) {
    caps[0] |= 0xB8;
  } else if (VersionCmp(version, "9.02") >= 0) {
    caps[0] |= 0xB0;
  } else if (VersionCmp(version, "9.00") >= 0) {
    caps[0] |= 0xA0;
  } else if (VersionCmp(version, "7.30") >= 0 && VersionCmp(version, "7.z") < 0) {
    caps[1] |= 0x40;
    caps[0] |= 0xC2;
  } else if (VersionCmp(version, "7.23") >= 0 && VersionCmp(version, "7.z") < 0) {
    caps[0] |= 0xC2;
  } else if (VersionCmp(version, "7.22") >= 0 && VersionCmp(version, "7.z") < 0) {
    caps[0] |= 0xC0;
  } else if (VersionCmp(version, "6.00") >= 0) {
    caps[0] |= 0x80;
  } else {
    return 0;
  }
  if (caps[1] & 0x20) rsetdescflag();
  s->float_format = (caps[1] & 0x10) ? 1 : (c->props[3] ? 2 : 0);
  rsetmode(static_cast<int32_t>(s->float_format));
  c->unpadded_varchar = (caps[1] & 0x04) ? 1 : 0;
  const char* pad = ggetenv_idx("ZEL_PAD_VARCHAR", -1);
  if ((caps[5] & 0x80) && pad != nullptr && pad[0] == '1') c->unpadded_varchar = 0;
  return 0;
}

int sqli_local_handshake(SqliConnection* c) {
  SqliMessageStream* s = c->stream;
  sqli_msg_put_short(128, s);
  sqli_msg_put_short(12, s);
  if (sqli_msg_flush(s) != 0) return -1;
  if (sqli_msg_get_short(s) != 129) return -1;
  int32_t n = sqli_msg_get_ushort(s);
  if (n > 1024) return -1;
  char first[1026];
  sqli_msg_get_padded(first, n, s);
  first[n] = '\0';
  int fd = open(first, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return -1;
  FILE* f = fdopen(fd, "r");
  if (f == nullptr) {
    close(fd);
    return -1;
  }
  char second_name[1026];
  char line[258];
  bool ok = std::fgets(second_name, sizeof second_name, f) != nullptr;
  size_t len = ok ? std::strlen(second_name) : 0;
  if (ok && len > 0 && second_name[len - 1] == '\n') second_name[len - 1] = '\0';
  else ok = false;  // no complete first line
  ok = ok && std::fgets(line, 257, f) != nullptr;
  std::fclose(f);
  if (!ok || second_name[0] == '\0') return -1;
  if (sqli_msg_get_short(s) != 12) return -1;
  int out = open(second_name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (out < 0) return -1;
  size_t want = std::strlen(line);
  bool wrote = write(out, line, want) == static_cast<ssize_t>(want);
  if (close(out) != 0) wrote = false;
  if (!wrote) return -1;
  int32_t sn = static_cast<int32_t>(std::strlen(second_name));
  sqli_msg_put_short(130, s);
  sqli_msg_put_short(sn, s);
  sqli_msg_put_padded(second_name, sn, s);
  sqli_msg_put_short(12, s);
  if (sqli_msg_flush(s) != 0) return -1;
  if (sqli_msg_get_short(s) != 127) return -1;
  return sqli_msg_get_short(s) == 12 ? 0 : -1;
}

int sqli_pam_exchange(SqliConnection* c) {
  SqliRuntime* rt = sqli_runtime_get();
  SqliMessageStream* s = c->stream;
  sqli_msg_put_short(128, s);
  sqli_msg_put_short(12, s);
  if (sqli_msg_flush(s) != 0) return -1;
  for (;;) {
    int32_t code = sqli_msg_get_short(s);
    if (code == 127) {
      sqli_msg_get_short(s);
      return 0;
    }
    if (code != 129) {
      sqli_msg_get_short(s);
      sqli_msg_put_short(56, s);
      sqli_msg_put_short(12, s);
      sqli_msg_flush(s);
      return -1;
    }
    int32_t type = sqli_msg_get_short(s);
    int32_t n = sqli_msg_get_ushort(s);
    if (n > 512) return -1;
    char challenge[514];
    sqli_msg_get_padded(challenge, n, s);
    challenge[n] = '\0';
    sqli_msg_get_short(s);
    char answer[513] = {};
    if (rt == nullptr || rt->pam_callback == nullptr) return -1;
    if (rt->pam_callback(challenge, answer, type) != 0) return -1;
    answer[512] = '\0';
    if (type == 1 || type == 2) {
      int32_t an = static_cast<int32_t>(std::strlen(answer));
      sqli_msg_put_short(130, s);
      sqli_msg_put_short(an, s);
      sqli_msg_put_padded(answer, an, s);
      sqli_msg_put_short(12, s);
      if (sqli_msg_flush(s) != 0) return -1;
    }
  }
}

int sqli_env_message(SqliConnection* c, int32_t count, const char* const* names, const char* const* values) {
  int64_t total = 4;
  int32_t longest_name = 0, longest_value = 0;
  for (int32_t i = 0; i < count; ++i) {
    int32_t pn = PaddedLength(names[i]);
    int32_t pv = PaddedLength(values[i] != nullptr ? values[i] : "");
    if (pn > longest_name) longest_name = pn;
    if (pv > longest_value) longest_value = pv;
    total += pn + pv + 4;
  }
  total += 2;
  if (total > 32767) {
    _iqseterr(-1832);
    return -1;
  }
  SqliMessageStream* s = c->stream;
  sqli_msg_put_short(81, s);
  sqli_msg_put_short(6, s);
  sqli_msg_put_short(static_cast<int32_t>(total), s);
  sqli_msg_put_short(longest_name, s);
  sqli_msg_put_short(longest_value, s);
  for (int32_t i = 0; i < count; ++i) {
    const char* v = values[i] != nullptr ? values[i] : "";
    sqli_msg_put_string(names[i], static_cast<int32_t>(std::strlen(names[i])), s);
    sqli_msg_put_string(v, static_cast<int32_t>(std::strlen(v)), s);
  }
  sqli_msg_put_short(0, s);
  sqli_msg_put_short(0, s);
  return sqli_reply_single();
}

int sqli_conn_send_env(SqliConnection* c) {
  if (sqli_status.code != 0 || !SQLI_CAP_OPTOFC(c)) return 0;
  EnvSnapshot snap{};
  if (renvlist_all(&snap) != 0) {
    _iqseterr(-406);
    return -1;
  }
  int rc = sqli_env_message(c, snap.count, snap.names, snap.values);
  renvlist_free(&snap);
  return rc;
}

int sqli_conn_break(AsfAssociation* assoc) {
  AsfControlBlock cb;
  FreshBlock(&cb, assoc);
  AsfRequest r;
  asf_request_init(ASF_INTERRUPT, &r);
  r.body.flags.flags = 0;
  if (asf_service_request(&cb, &r) != 0) {
    RecordBlock(cb);
    return -1;
  }
  return 0;
}

int sqli_conn_release(AsfAssociation* assoc, int32_t mode) {
  if (assoc == nullptr) return 0;
  AsfControlBlock cb;
  FreshBlock(&cb, assoc);
  AsfRequest r;
  asf_request_init(ASF_ASSOCABORT, &r);
  r.body.flags.flags = mode == 2 ? 0 : 0x8000;
  if (asf_service_request(&cb, &r) != 0) {
    RecordBlock(cb);
    return -1;
  }
  return 0;
}

int sqli_conn_orderly_release(AsfAssociation* assoc) {
  if (assoc == nullptr) return 0;
  AsfControlBlock cb;
  FreshBlock(&cb, assoc);
  AsfRequest r;
  asf_request_init(ASF_RELEASE, &r);
  if (asf_service_request(&cb, &r) != 0) {
    RecordBlock(cb);
    sqli_conn_release(assoc, 1);
    return -1;
  }
  return 0;
}

void sqli_reply_redirect(SqliMessageStream* s) {
  SqliRuntime* rt = sqli_runtime_get();
  auto read_text = [&](bool keep_empty) -> char* {
    int32_t n = sqli_msg_get_ushort(s);
    std::string t(static_cast<size_t>(n), '\0');
    sqli_msg_get_padded(t.data(), n, s);
    if (n == 0 && !keep_empty) return nullptr;
    return strdup(t.c_str());
  };
  auto replace = [](char** slot, char* text, bool keep_empty) {
    if (text == nullptr && !keep_empty) {
      std::free(*slot);
      *slot = nullptr;
      return;
    }
    std::free(*slot);
    *slot = text;
  };
  char* server = read_text(false);
  char* database = read_text(true);
  // The database name comes in the server's code set.
  GlConverter* cv = rgllocstate() != nullptr ? rgllocstate()->db_to_client : nullptr;
  if (cv != nullptr && database != nullptr && database[0] != '\0') {
    char* converted = nullptr;
    if (cvt_newbuf(cv, database, nullptr, &converted) >= 0 && converted != nullptr) {
      std::free(database);
      database = converted;
    } else {
      std::free(converted);
    }
  }
  int32_t kind = sqli_msg_get_short(s);
  int32_t flags = sqli_msg_get_int(s);
  char* third = read_text(false);
  char* fourth = read_text(false);
  if (rt == nullptr) {
    std::free(server);
    std::free(database);
    std::free(third);
    std::free(fourth);
    return;
  }
  AsfStartRequest& rec = rt->redirect;
  replace(&rec.server, server, false);
  replace(&rec.option_arg, database, true);
  replace(&rec.name, third, false);
  replace(&rec.mode_arg, fourth, false);
  rec.kind = kind;
  rec.flags = static_cast<uint32_t>(flags);
  rt->redirect_pending = 1;
}

TV_END_C
