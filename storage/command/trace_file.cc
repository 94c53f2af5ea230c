#include "storage/command/trace_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

#include "storage/command/sm_fileio.h"
#include "storage/command/sm_util.h"
#include "storage/command/typed_list.h"

namespace {

constexpr size_t kLineSize = 51200;
constexpr long kLockTries = 268435455;

// The trace files this thread opened.
thread_local TypedList* t_files = nullptr;

bool IsPositional(const char* format) {
  const char* p = std::strchr(format, '%');
  if (p == nullptr || p[1] < '1' || p[1] > '9') return false;
  p += 2;
  while (*p >= '0' && *p <= '9') ++p;
  return !((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z'));
}

// Appends to a bounded buffer, cutting what does not fit.
struct LineBuilder {
  char* buf;
  size_t cap;  // room for text, the terminator excluded
  size_t len = 0;
  void Append(std::string_view s) {
    size_t n = std::min(s.size(), cap - len);
    std::memcpy(buf + len, s.data(), n);
    len += n;
    buf[len] = '\0';
  }
};

// "%1".."%9" stand for the text arguments, "%%" for a percent sign; a
// trailing newline of an argument is not taken. The arguments themselves
// are left as the caller gave them.
void FormatPositional(LineBuilder* out, const char* format, va_list ap) {
  int count = 0;
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p != '%') continue;
    if (p[1] == '%') {
      ++p;
    } else if (p[1] >= '1' && p[1] <= '9') {
      count = std::max(count, p[1] - '0');
    }
  }
  const char* args[9] = {};
  for (int i = 0; i < count; ++i) args[i] = va_arg(ap, const char*);
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p == '%' && p[1] == '%') {
      out->Append("%");
      ++p;
    } else if (*p == '%' && p[1] >= '1' && p[1] <= '9') {
      const char* arg = args[p[1] - '1'];
      if (arg != nullptr) {
        std::string_view s(arg);
        while (!s.empty() && s.back() == '\n') s.remove_suffix(1);
        out->Append(s);
      }
      ++p;
    } else {
      out->Append(std::string_view(p, 1));
    }
  }
}

// Builds and writes one line to a file of this thread; the text is either
// a printf or positional format with its arguments, or (format null) the
// plain text.
void WriteLine(int64_t handle, int32_t level, int os_error, const char* format, const char* text,
               va_list ap) {
  if (handle < 0 || (format == nullptr && text == nullptr)) return;
  TraceFile* file = find_trace_file(handle);
  if (file == nullptr || level < file->level) return;

  static thread_local char line[kLineSize];
  LineBuilder b{line, kLineSize - 2};  // room kept for the newline
  b.Append(" ");
  if (file->timestamp == 1) {
    char stamp[20];
    stamp[0] = '\0';
    get_timestamp_text(stamp, sizeof stamp);
    b.Append(stamp);
    b.Append(" ");
  }
  if (file->tag[0] != '\0') {
    b.Append(file->tag);
    b.Append(" ");
  }
  if (format == nullptr) {
    b.Append(text);
  } else if (IsPositional(format)) {
    FormatPositional(&b, format, ap);
  } else {
    int n = std::vsnprintf(line + b.len, b.cap - b.len + 1, format, ap);
    if (n > 0) b.len = std::min(b.len + static_cast<size_t>(n), b.cap);
  }
  while (b.len > 0 && (line[b.len - 1] == ' ' || line[b.len - 1] == '\t')) --b.len;
  if (b.len == 0 || line[b.len - 1] != '\n') line[b.len++] = '\n';
  line[b.len] = '\0';
  write_trace_line(handle, line);

  if (os_error != 0) {
    const char* desc = strerrordesc_np(os_error);
    if (desc != nullptr) {
      char second[512];
      std::snprintf(second, sizeof second, "%s\n", desc);
      write_trace_line(handle, second);
    }
  }
}

void CopyCut(char* dst, size_t size, const char* src) {
  size_t n = std::min(std::strlen(src), size - 1);
  std::memcpy(dst, src, n);
  dst[n] = '\0';
}

}  // namespace

int open_trace_file(const char* name, int32_t level, int64_t* handle, const char* tag,
                    int timestamp) {
  auto* file = static_cast<TraceFile*>(sm_zalloc(sizeof(TraceFile)));
  if (file == nullptr) return -1;
  int fd;
  bool standard = std::strcmp(name, "stderr") == 0 || std::strcmp(name, "stdout") == 0;
  if (standard) {
    fd = fcntl(name[3] == 'e' ? STDERR_FILENO : STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  } else {
    fd = open(name, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  }
  if (fd < 0) {
    int err = errno;
    sm_free(reinterpret_cast<void**>(&file));
    *handle = -1;
    return err;
  }
  CopyCut(file->name, sizeof file->name, name);
  file->handle = fd;
  file->level = level;
  file->timestamp = static_cast<uint8_t>(timestamp);
  file->standard = standard ? 1 : 0;
  if (tag != nullptr) CopyCut(file->tag, sizeof file->tag, tag);

  int32_t status;
  if (t_files == nullptr) {
    t_files = ll_create(file, LL_TYPE_CUSTOM, sm_free, nullptr, 0, &status);
  } else {
    ll_insert(t_files, file, &status);
  }
  if (status != LL_OK) {
    close(fd);
    sm_free(reinterpret_cast<void**>(&file));
    *handle = -1;
    return -1;
  }
  *handle = fd;
  return 0;
}

void close_trace_file(int64_t handle) {
  TraceFile* file = find_trace_file(handle);
  if (file == nullptr) return;
  int32_t status;
  ll_remove(t_files, file, &status);
  close(static_cast<int>(file->handle));
  sm_free(reinterpret_cast<void**>(&file));
  if (t_files->head == nullptr) ll_destroy(&t_files, 0, &status);
}

TraceFile* find_trace_file(int64_t handle) {
  if (t_files == nullptr) return nullptr;
  for (ListNode* n = t_files->head; n != nullptr; n = n->next) {
    auto* file = static_cast<TraceFile*>(n->element);
    if (file->handle == handle) return file;
  }
  return nullptr;
}

void set_trace_level(int64_t handle, int32_t level) {
  if (handle == -1) return;
  TraceFile* file = find_trace_file(handle);
  if (file != nullptr) file->level = level;
}

int write_trace_line(int64_t handle, const char* text) {
  int fd = static_cast<int>(handle);
  TraceFile* file = find_trace_file(handle);
  bool lock = file == nullptr || file->standard == 0;
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 0;  // the whole file, however long it grows
  bool locked = false;
  if (lock) {
    for (long tries = 0; tries < kLockTries; ++tries) {
      if (fcntl(fd, F_OFD_SETLK, &fl) == 0) {
        locked = true;
        break;
      }
      if (errno != EAGAIN && errno != EACCES && errno != EINTR) break;  // cannot be locked
      struct timespec pause = {0, 10 * 1000 * 1000};
      nanosleep(&pause, nullptr);
    }
  }
  // The descriptor appends, so the text lands at the end of the file.
  sm_write_all(fd, text, std::strlen(text));
  if (locked) {
    fl.l_type = F_UNLCK;
    fcntl(fd, F_OFD_SETLK, &fl);
  }
  return 0;
}

void trace_message(int64_t handle, int32_t level, int os_error, const char* format, ...) {
  if (format == nullptr) return;
  va_list ap;
  va_start(ap, format);
  WriteLine(handle, level, os_error, format, nullptr, ap);
  va_end(ap);
}

void trace_text(int64_t handle, int32_t level, int os_error, const char* text) {
  va_list none{};
  WriteLine(handle, level, os_error, nullptr, text, none);
}

int format_timestamp_text(int64_t seconds, char* buffer, size_t size) {
  struct tm fields;
  if (buffer == nullptr || size == 0 || sm_localtime(&seconds, &fields) == nullptr) return 0;
  size_t n = std::strftime(buffer, size, "%Y-%m-%d %H:%M:%S", &fields);
  if (n == 0) {
    buffer[0] = '\0';
    return 0;
  }
  if (n + 7 + 1 > size) return 0;
  std::snprintf(buffer + n, size - n, ".%06d", 0);
  return static_cast<int>(n + 7);
}

int get_timestamp_text(char* buffer, size_t size) {
  return format_timestamp_text(static_cast<int64_t>(std::time(nullptr)), buffer, size);
}
