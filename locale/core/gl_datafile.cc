#include "locale/core/gl_datafile.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <string_view>

#include "locale/core/gl_errors.h"
#include "locale/core/gl_support.h"

namespace {

// The separator this port writes; names read may hold "\" or "/".
constexpr char kSep = '/';
constexpr size_t kMaxInstallDir = 256;

int HookClose(GlFile *f) {
  _gl_ext_fclose(f);
  return 0;
}
void *RtAlloc(uint64_t size) { return malloc(size); }
void RtFree(void *p) { free(p); }
GlFile *RtOpen(const char *path, const char *mode) {
  std::string m = std::string(mode) + "e";
  return fopen(path, m.c_str());
}
int RtClose(GlFile *f) { return fclose(static_cast<FILE *>(f)); }

void SetError(void *obj, int32_t e) {
  if (obj != nullptr) *_gl_ext_errno(obj) = e;
}

// Replaces the reported directory; false (error 3) when no memory.
bool Record(void *obj, char **dir, std::string_view d, const GlFileOps *ops) {
  if (dir == nullptr) return true;
  if (*dir != nullptr) ops->release(*dir);
  *dir = static_cast<char *>(ops->alloc(d.size() + 1));
  if (*dir == nullptr) {
    SetError(obj, GL_ENOMEM);
    return false;
  }
  memcpy(*dir, d.data(), d.size());
  (*dir)[d.size()] = '\0';
  return true;
}

bool IsAbsolute(const char *name) {
  auto sep = [](char c) { return c == '\\' || c == '/'; };
  if (sep(name[0])) return true;
  bool letter = (name[0] >= 'a' && name[0] <= 'z') || (name[0] >= 'A' && name[0] <= 'Z');
  return letter && name[1] == ':' && sep(name[2]);
}

}  // namespace

const GlFileOps _gl_hook_file_ops = {_gl_malloc, _gl_free, _gl_ext_fopen, HookClose};
const GlFileOps _gl_rt_file_ops = {RtAlloc, RtFree, RtOpen, RtClose};

int32_t _gl_check_install_dir(void *obj) {
  const char *dir = _gl_ext_getenv("TARVELONDIR");
  if (dir == nullptr || strlen(dir) <= kMaxInstallDir) return 0;
  SetError(obj, GL_ENOFILE);
  _gl_debug_log("Environment variable TARVELONDIR cannot be greater than 256 characters");
  return 1;
}

GlFile *_gl_try_open(void *obj, const char *path, const GlFileOps *ops) {
  GlFile *f = ops->open(path, "r");
  _gl_debug_logf(f != nullptr ? "Opened: %s" : "Could not open: %s", path);
  if (f == nullptr) SetError(obj, GL_ENOFILE);
  return f;
}

GlFile *_gl_open_path(void *obj, const char *path) {
  size_t n = strlen(path);
  auto *copy = static_cast<char *>(_gl_malloc(n + 1));
  if (copy == nullptr) return nullptr;
  for (size_t i = 0; i <= n; ++i) {
    copy[i] = static_cast<unsigned char>(path[i]) == 0xFF ? kSep : path[i];
  }
  GlFile *f = _gl_try_open(obj, copy, &_gl_hook_file_ops);
  _gl_free(copy);
  return f;
}

GlFile *_gl_open_locale_file(void *obj, const char *name, char **dir, const char *kind,
                             const char *version, const GlFileOps *ops) {
  if (_gl_check_install_dir(obj)) return nullptr;
  int32_t saved = obj != nullptr ? *_gl_ext_errno(obj) : 0;
  auto restore = [&] {
    if (obj != nullptr) *_gl_ext_errno(obj) = saved;
  };

  if (strchr(name, '\xFF') != nullptr) return _gl_open_path(obj, name);

  if (IsAbsolute(name)) {
    if (!Record(obj, dir, std::string_view(&kSep, 1), ops)) return nullptr;
    return _gl_try_open(obj, name, ops);
  }

  const char *gl_path = getenv("GL_PATH");
  if (gl_path != nullptr && *gl_path != '\0') {
    std::string_view rest(gl_path);
    while (!rest.empty()) {
      size_t semi = rest.find(';');
      std::string_view entry = rest.substr(0, semi);
      rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
      if (entry.empty()) continue;
      restore();
      if (!Record(obj, dir, entry, ops)) return nullptr;
      std::string path(entry);
      path += kSep;
      path += name;
      if (GlFile *f = _gl_try_open(obj, path.c_str(), ops)) return f;
    }
    return nullptr;
  }

  const char *install = _gl_getenv_nonempty("TARVELONDIR");
  std::string base = install != nullptr ? install : GL_DEFAULT_INSTALL_DIR;
  base += kSep;
  base += "lxr";
  base += kSep;
  base += kind;
  if (version != nullptr && *version != '\0') {
    std::string versioned = base + version;
    if (!Record(obj, dir, versioned, ops)) return nullptr;
    versioned += kSep;
    versioned += name;
    if (GlFile *f = _gl_try_open(obj, versioned.c_str(), ops)) return f;
    restore();
  }
  if (!Record(obj, dir, base, ops)) return nullptr;
  base += kSep;
  base += name;
  return _gl_try_open(obj, base.c_str(), ops);
}

namespace {

GlFile *OpenAndForget(void *obj, const char *name, const char *kind, const char *version,
                      const GlFileOps *ops) {
  char *dir = nullptr;
  GlFile *f = _gl_open_locale_file(obj, name, &dir, kind, version, ops);
  if (dir != nullptr) ops->release(dir);
  return f;
}

char *FindDir(void *obj, const char *name, const char *kind, const char *version,
              const GlFileOps *ops) {
  char *dir = nullptr;
  GlFile *f = _gl_open_locale_file(obj, name, &dir, kind, version, ops);
  if (f == nullptr) {
    if (dir != nullptr) ops->release(dir);
    return nullptr;
  }
  ops->close(f);
  return dir;
}

}  // namespace

GlFile *_gl_open_data_file(void *obj, const char *name, const char *kind, const char *version) {
  return OpenAndForget(obj, name, kind, version, &_gl_hook_file_ops);
}

GlFile *_gl_open_data_file_rt(void *obj, const char *name, const char *kind,
                              const char *version) {
  return OpenAndForget(obj, name, kind, version, &_gl_rt_file_ops);
}

char *_gl_find_data_dir(void *obj, const char *name, const char *kind, const char *version) {
  return FindDir(obj, name, kind, version, &_gl_hook_file_ops);
}

char *_gl_find_data_dir_rt(void *obj, const char *name, const char *kind, const char *version) {
  return FindDir(obj, name, kind, version, &_gl_rt_file_ops);
}
