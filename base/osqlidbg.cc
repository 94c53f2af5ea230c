// The SQL wire trace.
//
// Binary trace file:
//   header   "SQLI" 00 00 00 01
//   message  tag (2 letters "CS"/"SC"), length (u32 big-endian), time (IEEE
//            double, little-endian: seconds since 1970 + ms / 1000), bytes
//            (SQL text masked)
//   fork     tag "CF"/"SF", the new process id (u32 big-endian)
//   replay   00 'n' and the protocol number's low 16 bits (big-endian),
//            first in the file of a changed process (text files too)
// Text trace file: "\r\n %s (%#llx) %d\r\n" (tag, connection, length), then
// "  %2x" per byte with "\r\n" after every 16th; a fork is
// "\r\n %s FORKED PROCESS PID %d\r\n".
#include "base/osqlidbg.h"

#include <fcntl.h>
#include <inttypes.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/env.h"
#include "base/fields.h"
#include "base/nls_tables.h"

thread_local int16_t _sqdbg = 0;

namespace {

struct TracedProcess {
  int32_t pid;  // 0: a free entry
  ClientState* state;
  FILE* stream;
};

FILE* g_stream = nullptr;
std::string g_first_name;
int32_t g_protocol = 0;
TracedProcess* g_table = nullptr;
int32_t g_capacity = 0;
int32_t g_current = 0;

constexpr int kMaxValue = 260;
constexpr int kMaxToken = 31;

bool Server() {
  ClientState* cs = rclientstate();
  return cs != nullptr && cs->server != 0;
}

void Say(const char* text) {
  std::fputs(text, stderr);
  std::fflush(stderr);
}

void WriteReplay(FILE* f) {
  unsigned char r[4] = {0, 'n', static_cast<unsigned char>((g_protocol >> 8) & 0xFF),
                        static_cast<unsigned char>(g_protocol & 0xFF)};
  std::fwrite(r, 1, 4, f);
}

// Opens the trace of a process: `slot` is the table entry it takes, -1
// when the table is full (or does not exist yet).
void OpenTrace(const std::string& name, bool first, int32_t slot, int32_t pid) {
  ClientState* cs = rclientstate();
  std::string path = name + "_" + std::to_string(pid);
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0664);
  FILE* f = fd >= 0 ? fdopen(fd, "ab") : nullptr;
  if (f == nullptr) {
    if (fd >= 0) close(fd);
    g_stream = stderr;
    if (_sqdbg != SQDBG_TXT) {
      _sqdbg = 0;
      std::fprintf(stderr, "SQLIDEBUG: Can't open file %s.\n", path.c_str());
      std::fflush(stderr);
    }
    return;
  }
  g_stream = f;
  if (_sqdbg == SQDBG_BIN) std::fwrite("SQLI\0\0\0\1", 1, 8, f);
  if (first) g_first_name = path;
  else WriteReplay(f);
  std::fflush(f);
  if (g_table == nullptr || slot < 0) {
    auto* grown = static_cast<TracedProcess*>(
        std::realloc(g_table, sizeof(TracedProcess) * static_cast<size_t>(g_capacity + 10)));
    if (grown == nullptr) {
      Say("Out of memory.\n");
      g_stream = stderr;
      return;
    }
    std::memset(grown + g_capacity, 0, sizeof(TracedProcess) * 10);
    g_table = grown;
    slot = g_capacity;
    g_capacity += 10;
  }
  g_table[slot] = TracedProcess{pid, cs, f};
  g_current = slot;
}

// Follows the process into a new trace file when its id changed.
void CheckProcess() {
  if (g_stream == stderr || g_table == nullptr) return;
  int32_t pid = static_cast<int32_t>(getpid());
  if (g_table[g_current].pid == pid) return;
  int32_t free_slot = -1;
  for (int32_t i = 0; i < g_capacity; ++i) {
    if (g_table[i].pid == pid) {
      g_current = i;
      g_stream = g_table[i].stream;
      return;
    }
    if (g_table[i].pid == 0 && free_slot < 0) free_slot = i;
  }
  bool server = Server();
  if (_sqdbg == SQDBG_BIN) {
    unsigned char rec[6] = {static_cast<unsigned char>(server ? 'S' : 'C'), 'F'};
    stlong(pid, rec + 2);
    std::fwrite(rec, 1, 6, g_stream);
  } else {
    std::fprintf(g_stream, "\r\n %s FORKED PROCESS PID %d\r\n", server ? "S->F" : "C->F", pid);
  }
  std::fflush(g_stream);
  OpenTrace(g_first_name, false, free_slot, pid);
}

// One token of the text from `pos`; an empty token (start == end) ends a
// scan.
struct Token {
  int32_t start, end;
  bool empty() const { return start == end; }
};

bool Space(unsigned char c) { return (rnls_classtab[c + 1] & NLS_SPACE) != 0; }
bool Digit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IdentStart(unsigned char c) { return std::isalpha(c) || c == '_'; }
bool IdentChar(unsigned char c) { return std::isalnum(c) || c == '_'; }

int32_t Find(const unsigned char* s, int32_t n, int32_t from, const char* what) {
  size_t k = std::strlen(what);
  for (int32_t i = from; i + static_cast<int32_t>(k) <= n; ++i) {
    if (std::memcmp(s + i, what, k) == 0) return i;
  }
  return -1;
}

bool Same(const unsigned char* s, Token t, const char* word) {
  size_t k = std::strlen(word);
  if (static_cast<size_t>(t.end - t.start) != k) return false;
  for (size_t i = 0; i < k; ++i) {
    if (std::tolower(s[t.start + static_cast<int32_t>(i)]) != word[i]) return false;
  }
  return true;
}

Token Next(const unsigned char* s, int32_t n, int32_t pos) {
  for (;;) {
    while (pos < n && Space(s[pos])) ++pos;
    if (pos >= n) return {pos, pos};
    unsigned char c = s[pos];
    if (c == '\'' || c == '"') {
      int32_t i = pos + 1;
      for (;;) {
        while (i < n && s[i] != c) ++i;
        if (i >= n) return {pos, pos};
        if (i + 1 < n && s[i + 1] == c) {
          i += 2;
          continue;
        }
        return {pos, i + 1};
      }
    }
    if (c == '-' && pos + 1 < n && s[pos + 1] == '-') {
      int32_t nl = Find(s, n, pos + 2, "\n");
      if (nl < 0) return {pos, pos};
      if (pos + 2 < n && s[pos + 2] == '+') return {pos, nl + 1};
      pos = nl + 1;
      continue;
    }
    if (c == '/' && pos + 1 < n && s[pos + 1] == '*') {
      int32_t close = Find(s, n, pos + 2, "*/");
      int32_t end = close < 0 ? n : close + 2;
      if (pos + 2 < n && s[pos + 2] == '+') return {pos, end};
      pos = end;
      continue;
    }
    if (c == '{') {
      int32_t close = Find(s, n, pos + 1, "}");
      if (close < 0) return {pos, pos};
      if (pos + 1 < n && s[pos + 1] == '+') return {pos, close + 1};
      pos = close + 1;
      continue;
    }
    if (Digit(c) || (c == '.' && pos + 1 < n && Digit(s[pos + 1]))) {
      int32_t i = pos;
      while (i < n && Digit(s[i])) ++i;
      if (i < n && s[i] == '.') {
        ++i;
        while (i < n && Digit(s[i])) ++i;
      }
      if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        if (i + 1 < n && Digit(s[i + 1])) {
          i += 1;
        } else if (i + 2 < n && (s[i + 1] == '+' || s[i + 1] == '-') && Digit(s[i + 2])) {
          i += 2;
        } else {
          return {pos, i};
        }
        while (i < n && Digit(s[i])) ++i;
      }
      return {pos, i};
    }
    if (IdentStart(c)) {
      int32_t i = pos + 1;
      while (i < n && IdentChar(s[i]) && i - pos < 16) ++i;
      Token t{pos, i};
      if (Same(s, t, "set") || Same(s, t, "multiset") || Same(s, t, "list")) {
        int32_t j = i;
        while (j < n && Space(s[j])) ++j;
        if (j < n && s[j] == '{') return {pos, j + 1};
      }
      return t;
    }
    static const char* kPairs[] = {"::", "<>", "<=", ">=", "!=", "||"};
    for (const char* p : kPairs) {
      if (pos + 1 < n && s[pos] == p[0] && s[pos + 1] == p[1]) return {pos, pos + 2};
    }
    return {pos, pos + 1};
  }
}

bool Quoted(const unsigned char* s, Token t) {
  return !t.empty() && (s[t.start] == '\'' || s[t.start] == '"');
}

void Cross(unsigned char* s, int32_t from, int32_t to) {
  for (int32_t i = from; i < to; ++i) s[i] = 'X';
}

const char* const kEncryptCalls[] = {"encrypt_aes", "encrypt_tdes", "decrypt_binary",
                                     "decrypt_char"};

bool Triggers(const unsigned char* s, int32_t n) {
  for (Token t = Next(s, n, 6); !t.empty(); t = Next(s, n, t.end)) {
    if (t.end - t.start > kMaxToken) continue;
    for (const char* w : kEncryptCalls) {
      if (Same(s, t, w)) return true;
    }
    if (Same(s, t, "encryption")) return true;
  }
  return false;
}

// Replaces the secrets of a copy of the message with 'X'.
void Mask(unsigned char* s, int32_t n) {
  int32_t pos = 6;
  for (;;) {
    Token t = Next(s, n, pos);
    if (t.empty()) return;
    pos = t.end;
    if (t.end - t.start > kMaxToken) continue;
    if (Same(s, t, "password")) {
      Token v = Next(s, n, pos);
      if (v.empty()) return;
      if (Quoted(s, v)) {
        Cross(s, v.start, v.end);
        return;
      }
      pos = v.start;
      continue;
    }
    bool call = false;
    for (const char* w : kEncryptCalls) call = call || Same(s, t, w);
    if (call) {
      Token open = Next(s, n, pos);
      if (open.empty()) return;
      if (open.end - open.start != 1 || s[open.start] != '(') {
        pos = open.start;
        continue;
      }
      int32_t depth = 1;
      pos = open.end;
      while (depth > 0) {
        Token in = Next(s, n, pos);
        if (in.empty()) return;
        pos = in.end;
        if (in.end - in.start == 1 && s[in.start] == '(') ++depth;
        if (in.end - in.start == 1 && s[in.start] == ')') --depth;
        if (Quoted(s, in)) Cross(s, in.start + 1, in.end - 1);
      }
      continue;
    }
    if (Same(s, t, "encryption")) {
      Token v = Next(s, n, pos);
      if (v.empty()) return;
      if (!Same(s, v, "password")) {
        pos = v.start;
        continue;
      }
      for (Token r = Next(s, n, v.end); !r.empty(); r = Next(s, n, r.end)) {
        if (Quoted(s, r)) Cross(s, r.start + 1, r.end - 1);
      }
      return;
    }
  }
}

void Write(const char* text_tag, const char* bin_tag, const unsigned char* bytes, int32_t length,
           uint64_t connection) {
  CheckProcess();
  if (_sqdbg == 0 || g_stream == nullptr) return;
  if (_sqdbg == SQDBG_TXT) {
    std::fprintf(g_stream, "\r\n %s (%#" PRIx64 ") %d\r\n", text_tag, connection, length);
    for (int32_t i = 0; i < length; ++i) {
      std::fprintf(g_stream, "  %2x", bytes[i]);
      if ((i + 1) % 16 == 0) std::fputs("\r\n", g_stream);
    }
    std::fflush(g_stream);
    return;
  }
  std::vector<unsigned char> masked;
  const unsigned char* out = bytes;
  if (length > 7) {
    // The tokenizer stops at the text's end or at a NUL byte.
    const void* nul = std::memchr(bytes + 6, 0, static_cast<size_t>(length - 6));
    int32_t n = nul != nullptr ? static_cast<int32_t>(static_cast<const unsigned char*>(nul) - bytes)
                               : length;
    if (Triggers(bytes, n)) {
      masked.assign(bytes, bytes + length);
      Mask(masked.data(), n);
      out = masked.data();
    }
  }
  unsigned char head[14];
  head[0] = static_cast<unsigned char>(bin_tag[0]);
  head[1] = static_cast<unsigned char>(bin_tag[1]);
  stlong(length, head + 2);
  timeval tv{};
  gettimeofday(&tv, nullptr);
  double when = static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec / 1000) / 1000.0;
  stdoublele(when, head + 6);
  std::fwrite(head, 1, sizeof head, g_stream);
  std::fwrite(out, 1, static_cast<size_t>(length), g_stream);
  std::fflush(g_stream);
}

void Traced(bool sent, const void* message, int32_t length, void* connection) {
  if (length <= 0 || _sqdbg == 0 || message == nullptr) return;
  bool server = Server();
  bool client_to_server = sent != server;
  Write(client_to_server ? "C->S" : "S->C", client_to_server ? "CS" : "SC",
        static_cast<const unsigned char*>(message), length,
        static_cast<uint64_t>(reinterpret_cast<uintptr_t>(connection)));
}

}  // namespace

TV_BEGIN_C

void sqdbg_init(void) {
  if (g_stream != nullptr) return;
  _sqdbg = 0;
  const char* v = ggetenv_idx("SQLIDEBUG", ENVROW_SQLIDEBUG);
  if (v == nullptr) return;
  size_t len = std::strlen(v);
  if (len >= kMaxValue) {
    Say("SQLIDEBUG environment variable is too long.\n");
    return;
  }
  std::string name;
  int16_t level = 0;
  if (v[0] == '1' && v[1] == ':') {
    level = SQDBG_TXT;
    name = v + 2;
  } else if (v[0] == '1' && len == 2) {
    level = SQDBG_TXT;
    name = v + 1;
  } else if (v[0] == '2' && v[1] == ':' && v[2] != '\0') {
    level = SQDBG_BIN;
    name = v + 2;
  } else {
    Say("Invalid syntax for SQLIDEBUG environment variable.\n");
    return;
  }
  _sqdbg = level;
  OpenTrace(name, true, -1, static_cast<int32_t>(getpid()));
}

void sqdbg_send(const void* message, int32_t length, ClientState*, void* connection) {
  Traced(true, message, length, connection);
}

void sqdbg_recv(int32_t length, const void* message, ClientState*, void* connection) {
  Traced(false, message, length, connection);
}

void sqdbg_connect(int16_t code, const char* first, const char* second, int16_t number) {
  if (_sqdbg == 0) return;
  std::vector<unsigned char> m(4);
  stint(code, m.data());
  stint(number, m.data() + 2);
  for (const char* t : {first, second}) {
    size_t n = t != nullptr ? std::min<size_t>(std::strlen(t), 80) : 0;
    unsigned char l[2];
    stint(static_cast<int>(n), l);
    m.insert(m.end(), l, l + 2);
    if (n > 0) m.insert(m.end(), t, t + n);
    if (n % 2 == 1) m.push_back(0);
  }
  Write("C->S", "CS", m.data(), static_cast<int32_t>(m.size()), 0);
}

void sqdbg_setproto(int32_t protocol) { g_protocol = protocol; }

int32_t sqdbg_table_capacity(void) { return g_capacity; }

TV_END_C
