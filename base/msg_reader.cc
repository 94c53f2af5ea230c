// The message-file reader: the range table, the search for a file in the
// language directories, and the paged binary search of a file's index.
//
// A file is an index of entries sorted by signed number followed by texts;
// the stored layout is the table at the top of tools/msgc/vqm_format.h:
//
//   offset  size              field
//   0       2                 magic 0xFE68 (8-byte entries) or 0xFE69 (10-byte)
//   2       2                 entry count, signed 16-bit
//   4       count * entsize   entries: short {number i16, length i16, offset u32}
//                                      long  {number i32, length i16, offset u32}
//   any                       texts, no terminator, each ending in a line feed

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "base/conn_calls.h"
#include "base/env.h"
#include "base/fields.h"
#include "base/client_locale.h"
#include "base/msg_internal.h"
#include "base/msgfile.h"
#include "platform/file_io.h"

namespace {

constexpr uint16_t kMagicShort = 0xFE68;
constexpr uint16_t kMagicLong = 0xFE69;
constexpr int32_t kHeaderSize = 4;
constexpr int32_t kPageEntries = 8;
constexpr int32_t kPageBytes = 80;  // eight long entries
constexpr size_t kPathMax = 260;    // the record's path and file-name buffers

// Rows {id, lowest, highest, file}, first match in table order wins. The id
// is kept for reference only; the lookup does not use it.
struct MessageFileRange {
  int16_t id;
  int32_t lowest;
  int32_t highest;
  const char* file;
};

constexpr MessageFileRange kRanges[] = {
    {1, 1, 79, "os.vqm"},          // operating-system errors
    {2, 100, 199, "isam.vqm"},     // ISAM errors
    {3, 200, 999, "sql.vqm"},      // SQL errors
    {4, 1000, 1999, "sql.vqm"},    // SQL data type errors
    {5, 23100, 23199, "sql.vqm"},  // locale errors
    {6, 32765, 32766, "os.vqm"},   // the lookup's own fallback texts
    {7, 87000, 88999, "tev.vqm"},  // the storage manager
    {8, 36000, 36999, "sqlw.vqm"}, // standard warning SQLSTATEs
    {0, 0, 0, nullptr},
};

// The language value: DBLANG (or LANG), null while unresolved or refused.
thread_local const char* t_lang = nullptr;
// How many entries the index page in memory holds (0 after an open).
thread_local int32_t t_page_count = 0;

// Closes the thread's message file when the thread ends. The record itself
// outlives the thread; its descriptor would otherwise stay open.
struct FileCloser {
  ThreadRuntimeRecord* rec = nullptr;
  ~FileCloser() {
    if (rec != nullptr && rec->msg_fd >= 0) {
      os_close(rec->msg_fd);
      rec->msg_fd = -1;
      rec->msg_current_file[0] = '\0';
    }
  }
};
thread_local FileCloser t_closer;

// True when s holds ".." as a whole path component ('/' or '\\' separated).
bool HasDotDotComponent(std::string_view s) {
  for (size_t i = 0; i + 1 < s.size(); i++) {
    const bool at_start = i == 0 || s[i - 1] == '/' || s[i - 1] == '\\';
    if (at_start && s[i] == '.' && s[i + 1] == '.' &&
        (i + 2 == s.size() || s[i + 2] == '/' || s[i + 2] == '\\'))
      return true;
  }
  return false;
}

const char* InstallDir(ThreadRuntimeRecord* rec) {
  if (rec->install_dir == nullptr) {
    const char* v = ggetenv_idx("TARVELONDIR", ENVROW_TARVELONDIR);
    if (v == nullptr) v = "/usr/tarvelon";
    rec->install_dir = strdup(v);  // reachable through the record, never freed
    if (rec->install_dir == nullptr) return v;
  }
  return rec->install_dir;
}

void ResolveLanguage() {
  if (t_lang != nullptr) return;
  const char* v = ggetenv_idx("DBLANG", ENVROW_DBLANG);
  if (v == nullptr) {
    const int nls = rgl_dbnls_mode();
    if (nls == 1 || nls == 2) v = ggetenv_idx("LANG", ENVROW_LANG);
  }
  if (v != nullptr && HasDotDotComponent(v)) v = nullptr;
  t_lang = v;
}

// Builds one candidate behind the install part (prefix bytes of the path
// buffer) and tests it: true when it exists and is readable. Empty parts are
// left out together with their '/'. A candidate that would reach 260
// characters counts as missing and leaves the buffer alone.
bool TryPath(char* path, size_t prefix, std::string_view sub, std::string_view lang,
             std::string_view file) {
  if (prefix + sub.size() + lang.size() + file.size() + 3 >= kPathMax) return false;
  size_t at = prefix;
  for (std::string_view part : {sub, lang, file}) {
    if (part.empty()) continue;
    if (at > prefix) path[at++] = '/';
    std::memcpy(path + at, part.data(), part.size());
    at += part.size();
  }
  path[at] = '\0';
  return access(path, R_OK) == 0;
}

// The message directory name of a locale, written with '/' whatever the
// locale layer gives.
bool MessageDir(const char* locale, char* out, int32_t size) {
  if (locale == nullptr || rgl_msg_dname(locale, out, size) != 0) return false;
  for (char* p = out; *p != '\0'; p++)
    if (*p == '\\') *p = '/';
  return !HasDotDotComponent(out);
}

}  // namespace

namespace tvbase::msg {

void ForgetFile(ThreadRuntimeRecord* rec) {
  rec->msg_current_file[0] = '\0';
  t_page_count = 0;
}

void EndLookup(ThreadRuntimeRecord* rec) {
  if (rec->msg_fd < 0) return;
  if (ggetenv_idx("ZEL_FREE_FD", ENVROW_ZEL_FREE_FD) == nullptr) return;
  os_close(rec->msg_fd);
  rec->msg_fd = -1;
  t_page_count = 0;
}

}  // namespace tvbase::msg

const char* rmsgfilename(int32_t number) {
  const int64_t magnitude = number < 0 ? -static_cast<int64_t>(number) : number;
  for (const MessageFileRange* r = kRanges; r->id != 0; r++)
    if (r->lowest <= magnitude && magnitude <= r->highest) return r->file;
  return "os.vqm";
}

char* rmsgpath(const char* file, const char* locale, const char** lang_out) {
  ThreadRuntimeRecord* rec = rthreadrec();
  if (rec == nullptr || file == nullptr) return nullptr;
  const std::string_view install = InstallDir(rec);
  const size_t file_len = std::strlen(file);
  if (253 - static_cast<int64_t>(install.size()) - static_cast<int64_t>(file_len) <= 20)
    return nullptr;

  ResolveLanguage();
  const char* clocale;
  if (locale != nullptr) {
    t_lang = nullptr;
    clocale = locale;
  } else {
    clocale = ggetenv_idx("CLIENT_LOCALE", ENVROW_CLIENT_LOCALE);
  }
  if (t_lang != nullptr && std::strlen(t_lang) >= kPathMax) t_lang = nullptr;
  // The locale name is joined into paths like the language value, so it is
  // held to the same rules.
  if (clocale != nullptr && (std::strlen(clocale) >= kPathMax || HasDotDotComponent(clocale)))
    clocale = nullptr;
  const char* lang = t_lang;

  char* path = rec->msg_path;
  size_t prefix = install.size();
  std::memcpy(path, install.data(), prefix);
  if (prefix > 0 && path[prefix - 1] != '/') path[prefix++] = '/';
  path[prefix] = '\0';

  const char* chosen = nullptr;
  char dname[kPathMax];
  bool found = false;
  auto attempt = [&](std::string_view sub, const char* dir, const char* name) {
    if (found) return;
    if (TryPath(path, prefix, sub, dir, file)) {
      found = true;
      chosen = name;
    }
  };
  if (lang != nullptr) {
    attempt("msg", lang, lang);
    attempt("", lang, lang);
    if (MessageDir(lang, dname, sizeof dname)) attempt("msg", dname, lang);
  }
  if (clocale != nullptr) {
    if (MessageDir(clocale, dname, sizeof dname)) attempt("msg", dname, clocale);
    attempt("msg", clocale, clocale);
  }
  attempt("msg", "en_us/0333", "en_US.8859-1");
  attempt("msg", "en_US.8859-1", "en_US.8859-1");
  attempt("msg", "", "en_US.8859-1");
  attempt("msg", "english", "en_US.8859-1");
  if (found) errno = 0;
  if (lang_out != nullptr) *lang_out = found ? chosen : "en_US.8859-1";
  return path;
}

char* rmsgpathname(const char* file) { return rmsgpath(file, nullptr, nullptr); }

namespace {

// Opens the file and reads its header: 0, or -1230, -1227, -1229.
int32_t OpenFile(ThreadRuntimeRecord* rec, const char* file, const char* locale) {
  const char* path = rmsgpath(file, locale, nullptr);
  if (path == nullptr) return MSG_ENOPATH;
  if (rec->msg_fd >= 0) os_close(rec->msg_fd);
  rec->msg_fd = tvp::Open(path, O_RDONLY);
  if (rec->msg_fd < 0) return MSG_ENOOPEN;
  t_closer.rec = rec;
  unsigned char header[kHeaderSize];
  const ssize_t got = tvp::Read(rec->msg_fd, header, sizeof header);
  const uint16_t magic = got == kHeaderSize ? static_cast<uint16_t>(ldint(header)) : 0;
  rec->msg_entry_count = got == kHeaderSize ? ldint(header + 2) : 0;
  if (magic != kMagicShort && magic != kMagicLong) {
    os_close(rec->msg_fd);
    rec->msg_fd = -1;
    return MSG_EBADMAGIC;
  }
  rec->msg_long_entries = magic == kMagicLong ? 1 : 0;
  return 0;
}

struct Entry {
  int32_t number;
  int32_t length;
  uint32_t offset;
};

Entry EntryAt(const ThreadRuntimeRecord* rec, int32_t i) {
  const char* p = rec->msg_index_page + i * rec->msg_entry_size;
  if (rec->msg_long_entries)
    return {ldlong(p), ldint(p + 4), static_cast<uint32_t>(ldlong(p + 6))};
  // A 16-bit number is sign-extended, so negative numbers compare as such.
  return {ldint(p), ldint(p + 2), static_cast<uint32_t>(ldlong(p + 4))};
}

// Scans the page in memory; on a match positions the file at the text and
// returns 0 (or -1231 when the text's place is unusable), else -1228.
int32_t ScanPage(ThreadRuntimeRecord* rec, int32_t number, int32_t* len) {
  for (int32_t i = 0; i < t_page_count; i++) {
    const Entry e = EntryAt(rec, i);
    if (e.number != number) continue;
    if (e.length < 0 || lseek(rec->msg_fd, static_cast<off_t>(e.offset), SEEK_SET) < 0)
      return MSG_ESHORT;
    *len = e.length;
    return 0;
  }
  return MSG_ENOTFOUND;
}

// Reads the page of index entries that starts at entry `first`: never past
// the last entry; fewer whole entries than asked for give -1231.
int32_t ReadPage(ThreadRuntimeRecord* rec, int32_t first) {
  const int32_t want = std::min(rec->msg_entries_per_read, rec->msg_entry_count - first);
  t_page_count = 0;
  const off_t at = kHeaderSize + static_cast<off_t>(first) * rec->msg_entry_size;
  const size_t bytes = static_cast<size_t>(want) * rec->msg_entry_size;
  if (lseek(rec->msg_fd, at, SEEK_SET) < 0) return MSG_ESHORT;
  size_t got = 0;
  while (got < bytes) {
    const ssize_t n = tvp::Read(rec->msg_fd, rec->msg_index_page + got, bytes - got);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  if (got < bytes) return MSG_ESHORT;
  t_page_count = want;
  return 0;
}

int32_t Search(ThreadRuntimeRecord* rec, int32_t number, int32_t* len) {
  int32_t low = 0;
  int32_t high = rec->msg_entry_count - 1;
  while (low <= high) {
    const int32_t middle = (low + high) / 2;
    if (int32_t rc = ReadPage(rec, middle); rc != 0) return rc;
    if (number < EntryAt(rec, 0).number) {
      high = middle - 1;
      continue;
    }
    if (int32_t rc = ScanPage(rec, number, len); rc != MSG_ENOTFOUND) return rc;
    low = middle + t_page_count;
  }
  return MSG_ENOTFOUND;
}

}  // namespace

int32_t rmsgfind(int32_t number, int32_t* len, const char* locale, int32_t* fd) {
  ThreadRuntimeRecord* rec = rthreadrec();
  if (rec == nullptr) return MSG_ENOTHREAD;
  if (rec->msg_index_page == nullptr) {
    rec->msg_index_page = static_cast<char*>(std::calloc(1, kPageBytes));
    if (rec->msg_index_page == nullptr) return -1;
  }
  const char* file = rmsgfilename(number);
  *len = 0;
  *fd = -1;
  int32_t rc;
  if (rec->msg_fd < 0 || std::strcmp(file, rec->msg_current_file) != 0) {
    std::memset(rec->msg_index_page, 0, kPageBytes);
    tvbase::msg::ForgetFile(rec);
    if ((rc = OpenFile(rec, file, locale)) != 0) return rc;
    rec->msg_entry_size = rec->msg_long_entries ? 10 : 8;
    std::snprintf(rec->msg_current_file, sizeof rec->msg_current_file, "%s", file);
    rec->msg_entries_per_read = std::clamp(rec->msg_entry_count, 0, kPageEntries);
    rc = Search(rec, number, len);
  } else {
    rc = ScanPage(rec, number, len);
    if (rc == MSG_ENOTFOUND) rc = Search(rec, number, len);
  }
  if (rc == 0) *fd = rec->msg_fd;
  return rc;
}
