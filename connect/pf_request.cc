// The text form of the connection request: writing it with its
// environment words and trailer, splitting and reading it back, and the
// start words that tell the server what to start.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "connect/asfpfutl.h"
#include "connect/asfutil.h"

namespace {

constexpr char kEnvName[] = "ZIVEVODAREVEZO";

bool Has(const char* t, const char* chars) {
  return t != nullptr && std::strpbrk(t, chars) != nullptr;
}

bool StartsWith(const char* w, const char* prefix) {
  return w != nullptr && std::strncmp(w, prefix, std::strlen(prefix)) == 0;
}

// A copy of text, or null for null; failure sets -406 and *ok false.
char* Dup(AsfControlBlock* cb, const char* text, bool* ok) {
  if (text == nullptr) return nullptr;
  char* t = strdup(text);
  if (t == nullptr) {
    *ok = false;
    if (cb != nullptr && cb->error == 0) ASF_ERROR(cb, -406, ENOMEM);
  }
  return t;
}

// The text after the two letters of a start word, or null when empty.
const char* Rest(const char* w) { return w[1] != '\0' && w[2] != '\0' ? w + 2 : nullptr; }

}  // namespace

TV_BEGIN_C

int pf_text_form_allowed(const AsfConnRecord* r, const SqliConnCred* cred,
                         const AsfOptionList* o) {
  if (r == nullptr || cred == nullptr || cred->kind != 1) return 0;
  if (std::strcmp(r->program, "sqlexec") != 0 && std::strcmp(r->program, "srvqorv") != 0) return 0;
  if (Has(r->user, " ") || Has(r->password, " ")) return 0;
  // The text form's password word holds at most 100 characters: a longer
  // password travels in the binary form rather than cut.
  if (r->password != nullptr && std::strlen(r->password) > PF_PASSWORD_MAX) return 0;
  for (int32_t i = 0; o != nullptr && i < o->count; ++i) {
    if (o->names != nullptr && Has(o->names[i], " =")) return 0;
    if (o->values != nullptr && Has(o->values[i], " =")) return 0;
  }
  return 1;
}

int pf_put_env_pair(char* text, int32_t capacity, const char* name, const char* value) {
  size_t cur = std::strlen(text);
  size_t need = std::strlen(name) + std::strlen(value) + cur + 2;
  if (need >= static_cast<size_t>(capacity)) return -406;
  std::snprintf(text + cur, static_cast<size_t>(capacity) - cur, " %s=%s", name, value);
  return 0;
}

int pf_write_request(AsfControlBlock* cb, AsfPacketBuffer* buf, const AsfConnRecord* r,
                     const char* start_words, const PfParts* parts) {
  if (buf == nullptr || r == nullptr) return ASF_ERROR(cb, -25563, 0), -1;
  char* text = buf->position;
  auto room = static_cast<int32_t>(buf->left);
  if (r->password != nullptr && std::strlen(r->password) > PF_PASSWORD_MAX) {
    return ASF_ERROR(cb, -406, 0), -1;
  }
  char pw[PF_PASSWORD_MAX + 3] = {};
  if (r->password != nullptr && r->password[0] != '\0') {
    std::snprintf(pw, sizeof pw, "-p%s", r->password);
  }
  int n = std::snprintf(text, static_cast<size_t>(room), "sqlexec %s %s %s %s %s -f%s",
                        r->user != nullptr ? r->user : "", pw, r->name1 != nullptr ? r->name1 : "",
                        r->name2 != nullptr ? r->name2 : "", start_words != nullptr ? start_words : "",
                        "IEEEI");
  std::memset(pw, 0, sizeof pw);
  if (n < 0 || n >= room) return ASF_ERROR(cb, -406, 0), -1;
  const AsfOptionList* o = parts != nullptr ? parts->options : nullptr;
  for (int32_t i = 0; o != nullptr && i < o->count; ++i) {
    const char* name = o->names != nullptr ? o->names[i] : nullptr;
    const char* value = o->values != nullptr ? o->values[i] : nullptr;
    if (name == nullptr || value == nullptr || std::strcmp(name, kEnvName) == 0) continue;
    if (pf_put_env_pair(text, room, name, value) != 0) return ASF_ERROR(cb, -406, 0), -1;
  }
  auto len = static_cast<int32_t>(std::strlen(text));
  if (len + 3 >= room) return ASF_ERROR(cb, -406, 0), -1;
  std::memcpy(text + len, " :", 2);
  len += 2;
  int32_t space = room - len - 1;
  auto* record = reinterpret_cast<unsigned char*>(text + len);
  PfParts copy = *parts;
  copy.record = const_cast<AsfConnRecord*>(r);
  int32_t bytes = pf_code_record(cb, 1, record, space, &copy);
  if (bytes < 0) return -1;
  if ((4 * bytes + 2) / 3 > space) return ASF_ERROR(cb, -406, 0), -1;
  len += pf_b64_encode(record, text + len, bytes);
  text[len] = '\0';
  buf->left = static_cast<uint32_t>(len + 1);
  return 0;
}

int pf_split_words(AsfPacketBuffer* buf, int32_t max, char** words) {
  char* text = buf->position;
  char* end = static_cast<char*>(std::memchr(text, '\0', buf->left));
  if (end == nullptr) return -1;
  int32_t count = 0;
  for (char* p = text; p < end;) {
    while (p < end && (*p == ' ' || *p == '\n')) *p++ = '\0';
    if (p == end) break;
    if (count == max) return -1;
    words[count++] = p;
    while (p < end && *p != ' ' && *p != '\n') ++p;
  }
  words[count] = nullptr;
  return count;
}

void pf_parse_format(int32_t count, char** words, PfFormat* out) {
  int32_t f = 1;
  for (int32_t i = 4; i < count; ++i) {
    if (StartsWith(words[i], "-f")) {
      f = std::strcmp(words[i] + 2, "IEEEI") == 0 ? 0 : 16;
      break;
    }
  }
  *out = PfFormat{{16, 16, 16, f, f, 0}};
}

int pf_parse_start_option(AsfControlBlock* cb, AsfStartRequest* s, int32_t count, char** words) {
  std::memset(s, 0, sizeof *s);
  if (count < 5 || words[4][0] != '-') return 0;
  const char* w = words[4];
  const char* w5 = count > 5 ? words[5] : nullptr;
  const char* w6 = count > 6 ? words[6] : nullptr;
  bool ok = true;
  auto word5_name = [&] {
    if (w5 == nullptr) return;
    if (w5[0] == '-') {
      s->flags |= 1;
    } else if (std::strchr(w5, '/') != nullptr) {
      s->flags |= 2;
    } else {
      s->name = Dup(cb, w5, &ok);
      s->flags |= 1;
    }
  };
  auto mode_word = [&](const char* m) -> uint32_t {
    if (m == nullptr || m[0] != '-') return 0;
    if (m[1] == 'a') return 0x1000000;
    if (m[1] == 'l') return 0x80;
    return 0;
  };
  switch (w[1]) {
    case 'c': {
      s->kind = 1;
      word5_name();
      uint32_t mode = mode_word(w6);
      if (w6 != nullptr && mode != 0) {
        if (w6[2] != '\0') {
          s->flags = (s->flags | 2) & ~1u;
          s->mode_arg = Dup(cb, w6 + 2, &ok);
          s->flags |= mode;
        } else if (mode == 0x80 && (s->flags & 2)) {
          std::free(s->mode_arg);
          s->mode_arg = nullptr;
        } else {
          s->flags = (s->flags | 1) & ~2u;
          s->flags |= mode;
        }
      } else if (w6 != nullptr && std::strcmp(w6, "-b") == 0) {
        s->flags = (s->flags | 1 | 0x800) & ~2u;
      }
      break;
    }
    case 'd':
      s->kind = 2;
      if (w5 != nullptr && std::strcmp(w5, "-e") == 0) s->flags |= 4;
      break;
    case 's': {
      s->kind = 3;
      if (count < 6) return ASF_ERROR(cb, -408, 0), -1;
      word5_name();
      s->flags = (s->flags | 2) & ~1u;
      uint32_t mode = mode_word(w6);
      if (mode != 0) {
        s->flags |= mode;
        s->mode_arg = Dup(cb, Rest(w6), &ok);
      }
      break;
    }
    case 'n':
      s->kind = 4;
      if (w5 != nullptr && std::strcmp(w5, "-a") == 0) s->flags |= 0x1000000;
      if (w5 != nullptr && std::strcmp(w5, "-l") == 0) s->flags |= 0x80;
      if (w5 != nullptr && std::strcmp(w5, "-n") == 0) s->flags |= 0x40;
      break;
    case 'r': s->kind = 5; break;
    case 'p': s->kind = 6; break;
    case 'l':
      s->kind = 7;
      s->name = Dup(cb, Rest(w), &ok);
      break;
    case 't': s->kind = 8; break;
    case 'V': s->kind = 9; break;
    case 'X':
      s->kind = 11;
      s->option_arg = Dup(cb, Rest(w), &ok);
      break;
    default:
      return ASF_ERROR(cb, -408, 0), -1;
  }
  if (s->kind >= 1 && s->kind <= 5) {
    s->option_arg = Dup(cb, Rest(w), &ok);
    if ((s->flags & 3) == 0) s->flags |= 3;
  }
  for (int32_t i = 5; i < count; ++i) {
    if (!StartsWith(words[i], "-g")) continue;
    bool gr = std::strcmp(words[i], "-gr") == 0;
    if (gr) s->flags |= 0x10;
    if (i + 1 < count) s->group_name = Dup(cb, words[i + 1], &ok);
    if (i + 2 < count && (s->kind != 8 || gr)) s->group_arg = Dup(cb, words[i + 2], &ok);
    break;
  }
  return ok ? 0 : -1;
}

int pf_start_words(AsfControlBlock* cb, int32_t kind, const AsfStartRequest* s, char* out,
                   int32_t size) {
  auto cat = [&](const char* t) {
    size_t cur = std::strlen(out);
    std::snprintf(out + cur, static_cast<size_t>(size) - cur, "%s", t != nullptr ? t : "");
  };
  out[0] = '\0';
  const char* arg = s != nullptr && s->option_arg != nullptr ? s->option_arg : "";
  uint32_t f = s != nullptr ? s->flags : 0;
  const char* mode = s != nullptr ? s->mode_arg : nullptr;
  switch (kind) {
    case 1:
      cat("-c");
      cat(arg);
      if (s != nullptr && s->name != nullptr) cat(" "), cat(s->name);
      else cat(" -");
      if (f & 0x800) cat(" -b"), cat(mode);
      else if (f & 0x1000000) cat(" -a"), cat(mode);
      else if (f & 0x80) cat(" -l"), cat(mode);
      break;
    case 2:
      cat("-d");
      cat(arg);
      if (f & 4) cat(" -e");
      break;
    case 3:
      cat("-s");
      cat(arg);
      cat(" -");
      if (f & 0x1000000) cat(" -a"), cat(mode);
      else if (f & 0x80) cat(" -l"), cat(mode);
      break;
    case 4:
      cat("-n");
      cat(arg);
      if (f & 0x1000000) cat(" -a");
      else if (f & 0x80) cat(" -l");
      else if (f & 0x40) cat(" -n");
      break;
    case 5: cat("-r"); cat(arg); break;
    case 6: cat("-p"); break;
    case 7: cat("-l"); if (s != nullptr) cat(s->name); break;
    case 10: cat("-x"); break;
    case 11:
      if (s != nullptr && s->option_arg != nullptr) cat("-d"), cat(arg);
      else cat("-p");
      break;
    default:
      return ASF_ERROR(cb, -25563, 0), -1;
  }
  if (s != nullptr && s->group_name != nullptr) {
    cat((f & 0x10) ? " -gr " : " -g ");
    cat(s->group_name);
    if (s->group_arg != nullptr) cat(" "), cat(s->group_arg);
  }
  if (std::strlen(out) + 1 >= static_cast<size_t>(size)) return ASF_ERROR(cb, -406, 0), -1;
  return 0;
}

int pf_read_request(AsfControlBlock* cb, AsfPacketBuffer* buf, PfParts* parts) {
  if (parts == nullptr || parts->identity == nullptr) return ASF_ERROR(cb, -27003, 0), -1;
  char* words[PF_MAX_WORDS + 1];
  int32_t count = pf_split_words(buf, PF_MAX_WORDS, words);
  if (count < 2) return ASF_ERROR(cb, -408, 0), -1;
  bool ok = true;
  char* password = nullptr;
  if (count > 2 && StartsWith(words[2], "-p")) {
    password = Dup(cb, words[2] + 2, &ok);
    std::memset(words[2] + 1, 0, std::strlen(words[2] + 1));
    for (int32_t i = 2; i < count; ++i) words[i] = words[i + 1];
    --count;
  }
  auto fail = [&] {
    if (password != nullptr) asf_wipe_password(password);
    std::free(password);
    pf_parts_free(parts);
    if (cb->error == 0) ASF_ERROR(cb, -408, 0);
    return -1;
  };
  if (!ok) return fail();
  // The trailer: the last ':' word at index 4 or later.
  int32_t trailer = -1;
  for (int32_t i = 4; i < count; ++i) {
    if (words[i][0] == ':') trailer = i;
  }
  if (trailer >= 0) {
    char* chars = words[trailer] + 1;
    auto* bytes = reinterpret_cast<unsigned char*>(chars);
    int32_t n = pf_b64_decode(chars, bytes, static_cast<int32_t>(std::strlen(chars)));
    if (pf_code_record(cb, 0, bytes, n, parts) < 0) return fail();
    if (parts->credential != nullptr) {  // the start words hold
      SqliConnCred* c = parts->credential;
      parts->credential = nullptr;
      PfParts only{};
      only.credential = c;
      pf_parts_free(&only);
    }
  } else {
    parts->record = static_cast<AsfConnRecord*>(std::calloc(1, sizeof(AsfConnRecord)));
    if (parts->record == nullptr) return ASF_ERROR(cb, -406, ENOMEM), fail();
    parts->record->info.level = 50;
    parts->record->info.word = 1;
    AsfIdentity* id = parts->identity;
    std::memset(id, 0, sizeof *id);
    id->pid = id->second = id->uid = id->gid = id->umask = -1;
  }
  AsfConnRecord* r = parts->record;
  if (r->program[0] == '\0') std::strcpy(r->program, "sqlexec");
  r->cred_kind = 1;
  r->user = Dup(cb, words[1], &ok);
  r->password = password;
  password = nullptr;
  if (count > 2) r->name1 = Dup(cb, words[2], &ok);
  if (count > 3) r->name2 = Dup(cb, words[3], &ok);
  if (!ok) return fail();
  pf_parse_format(count, words, &parts->format);
  auto* cred = static_cast<SqliConnCred*>(std::calloc(1, sizeof(SqliConnCred)));
  auto* start = static_cast<AsfStartRequest*>(std::calloc(1, sizeof(AsfStartRequest)));
  if (cred == nullptr || start == nullptr) {
    std::free(cred);
    std::free(start);
    return ASF_ERROR(cb, -406, ENOMEM), fail();
  }
  cred->kind = 1;
  cred->data = start;
  parts->credential = cred;
  if (pf_parse_start_option(cb, start, count, words) != 0) return fail();
  if (parts->options == nullptr) {
    int32_t n = 0;
    for (int32_t i = 4; i < count; ++i) {
      if (words[i][0] != '-' && words[i][0] != ':' && std::strchr(words[i], '=') != nullptr) ++n;
    }
    if (n > 0) {
      auto* o = static_cast<AsfOptionList*>(std::calloc(1, sizeof(AsfOptionList)));
      if (o == nullptr) return ASF_ERROR(cb, -406, ENOMEM), fail();
      parts->options = o;
      o->names = static_cast<char**>(std::calloc(static_cast<size_t>(n), sizeof(char*)));
      o->values = static_cast<char**>(std::calloc(static_cast<size_t>(n), sizeof(char*)));
      if (o->names == nullptr || o->values == nullptr) return ASF_ERROR(cb, -406, ENOMEM), fail();
      for (int32_t i = 4; i < count; ++i) {
        char* eq = words[i][0] != '-' && words[i][0] != ':' ? std::strchr(words[i], '=') : nullptr;
        if (eq == nullptr) continue;
        *eq = '\0';
        o->names[o->count] = Dup(cb, words[i], &ok);
        o->values[o->count] = Dup(cb, eq + 1, &ok);
        *eq = '=';
        ++o->count;
      }
      if (!ok) return fail();
    }
  }
  return 0;
}

TV_END_C
