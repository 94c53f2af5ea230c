// Creating locales from "default.lco" and setting their categories.
#include "locale/core/gl_setlocale.h"

#include <stdio.h>
#include <string.h>

#include <string_view>

#include "locale/core/gl_datafile.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_ext.h"
#include "locale/core/gl_icu.h"
#include "locale/core/gl_lc_cache.h"
#include "locale/core/gl_lco.h"
#include "locale/core/gl_refresh.h"
#include "locale/core/gl_support.h"

namespace {

constexpr char kDefaultFile[] = "default.lco";
constexpr char kNative[] = "native";
constexpr char kLcKind[] = "lc";
constexpr char kLcVersion[] = "11";

void SetError(GlLocale *loc, int32_t e) { *_gl_ext_errno(loc) = e; }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The environment variable of a category: "GL_CTYPE" ... "GL_MESSAGES" are
// the keywords themselves.
const char *EnvName(int32_t category) { return _gl_category_keyword(category); }

// Opens dir "/" name through the hooks; error 3 without memory.
GlFile *OpenInDir(GlLocale *loc, const char *dir, const char *name) {
  size_t n = strlen(dir) + 1 + strlen(name) + 1;
  auto *path = static_cast<char *>(_gl_malloc(n));
  if (path == nullptr) {
    SetError(loc, GL_ENOMEM);
    return nullptr;
  }
  snprintf(path, n, "%s/%s", dir, name);
  GlFile *f = _gl_open_path(loc, path);
  _gl_free(path);
  return f;
}

// The name a non-empty text gives a category into out (at most
// GL_CATEGORY_NAME_MAX characters): 0, or error 8 when it names no file.
int32_t NameFromText(GlLocale *loc, int32_t category, const char *text, char *out) {
  const char *kw = strstr(text, _gl_category_keyword(category));
  if (kw == nullptr) {
    // No keyword: the whole text is the name.
    size_t n = strlen(text);
    if (n > GL_CATEGORY_NAME_MAX) {
      SetError(loc, GL_ENOFILE);
      return 1;
    }
    memcpy(out, text, n + 1);
    return 0;
  }
  // A keyword with no "=" after it, or with nothing after the "=", names no
  // file for the category.
  const char *eq = strchr(kw, '=');
  if (eq == nullptr) {
    SetError(loc, GL_ENOFILE);
    return 1;
  }
  const char *p = eq + 1;
  while (IsBlank(*p)) ++p;
  size_t n = 0;
  while (p[n] != '\0' && !IsBlank(p[n]) && n < GL_SHORT_NAME_MAX) ++n;
  if (n == 0) {
    SetError(loc, GL_ENOFILE);
    return 1;
  }
  memcpy(out, p, n);
  out[n] = '\0';
  return 0;
}

// The name of an empty text: GL_ALL, the category's variable, GL_LANG or
// the default file. 0, or error 8 for a name of more than 33 characters.
int32_t NameFromEnvironment(GlLocale *loc, int32_t category, char *out) {
  const char *name = _gl_getenv_nonempty("GL_ALL");
  if (name == nullptr) name = _gl_getenv_nonempty(EnvName(category));
  if (name == nullptr) name = _gl_getenv_nonempty("GL_LANG");
  if (name == nullptr) name = kDefaultFile;
  size_t n = strlen(name);
  if (n > GL_SHORT_NAME_MAX) {
    SetError(loc, GL_ENOFILE);
    return 1;
  }
  memcpy(out, name, n + 1);
  return 0;
}

// Writes the names of category (all six for 1) into out.
void BuildResult(const GlLocale *loc, int32_t category, char *out) {
  if (category != GL_ALL) {
    snprintf(out, GL_SETLOCALE_RESULT_SIZE, "%s", loc->names[category - GL_CTYPE]);
    return;
  }
  size_t used = 0;
  out[0] = '\0';
  for (int32_t c = GL_CTYPE; c <= GL_MESSAGES; ++c) {
    int n = snprintf(out + used, GL_SETLOCALE_RESULT_SIZE - used, "%s = %s ; ",
                     _gl_category_keyword(c), loc->names[c - GL_CTYPE]);
    if (n < 0) break;
    used += static_cast<size_t>(n);
    if (used >= GL_SETLOCALE_RESULT_SIZE) break;  // cannot happen: names are short
  }
}

void SetName(GlLocale *loc, int32_t category, const char *name) {
  char *entry = loc->names[category - GL_CTYPE];
  size_t n = strnlen(name, GL_SHORT_NAME_MAX);
  memcpy(entry, name, n);
  entry[n] = '\0';
}

}  // namespace

int32_t gl_createlocale_4(GlLocale **loc) { return gl_createlocale2_4(loc, nullptr); }

int32_t gl_createlocale2_4(GlLocale **out, const char *dir) {
  if (out == nullptr) return -1;
  if (dir != nullptr && strlen(dir) > GL_CREATE_DIR_MAX) {
    *out = _gl_error_locale(GL_ENOFILE);
    return -1;
  }
  if (gl_create_null_locale_4(out) != 0) return -1;
  GlLocale *loc = *out;

  GlFile *f = nullptr;
  // An empty directory would name a file of the working directory.
  if (dir != nullptr && *dir != '\0') {
    char path[GL_CREATE_DIR_MAX + sizeof kDefaultFile];
    snprintf(path, sizeof path, "%s%s", dir, kDefaultFile);
    f = _gl_ext_fopen(path, "r");
  }
  if (f == nullptr) f = _gl_open_data_file(loc, kDefaultFile, kLcKind, kLcVersion);
  if (f == nullptr) {
    gl_lc_unload(loc);
    *out = _gl_error_locale(GL_ENOFILE);
    return -1;
  }
  int32_t rc = _gl_lco_read_all(f, loc);
  _gl_ext_fclose(f);
  if (rc != 0) return -1;

  for (int32_t c = GL_CTYPE; c <= GL_MESSAGES; ++c) SetName(loc, c, kDefaultFile);
  if (_gl_locale_refresh(loc) != 0) return -1;
  _gl_widen_names(loc);
  return 0;
}

char *gl_setlocale_4(GlLocale *loc, int32_t category, const char *name) {
  // The static error objects keep their own error number.
  if (loc == nullptr || _gl_is_error_locale(loc)) return nullptr;
  _gl_debug_log("gl_setlocale: Begin");
  _gl_debug_log("gl_setlocale: Calling gl_init_glu");
  if (gl_init_glu(loc) != 0) {
    _gl_debug_log("gl_setlocale: gl_init_glu failed");
    return nullptr;
  }
  _gl_debug_log("gl_setlocale: Calling set_categories");
  char *result = set_categories(loc, category, name, nullptr);
  _gl_debug_log("gl_setlocale: retVal from set_categories");
  _gl_debug_log(result != nullptr ? result : "NULL");
  _gl_debug_log("gl_setlocale: End");
  return result;
}

char *set_categories(GlLocale *loc, int32_t category, const char *name, const char *dir) {
  auto *result = static_cast<char *>(_gl_malloc(GL_SETLOCALE_RESULT_SIZE));
  if (result == nullptr) {
    SetError(loc, GL_ENOMEM);
    return nullptr;
  }
  auto fail = [&](int32_t e) -> char * {
    if (e != GL_ENOERROR) SetError(loc, e);
    _gl_free(result);
    return nullptr;
  };
  if (category < GL_ALL || category > GL_MESSAGES) return fail(GL_EBADARG);
  if (name == nullptr) {
    BuildResult(loc, category, result);
    return result;
  }
  if (strnlen(name, GL_SETLOCALE_MAX_TEXT + 1) > GL_SETLOCALE_MAX_TEXT) return fail(GL_EBADARG);
  // A cached locale is shared by all its holders and never changes.
  if (_gl_lc_cache_find(loc) != nullptr) return fail(GL_EBADARG);

  // A number left by an earlier call must not stand for this one's failure.
  SetError(loc, GL_ENOERROR);
  int32_t first = category == GL_ALL ? GL_CTYPE : category;
  int32_t last = category == GL_ALL ? GL_MESSAGES : category;
  for (int32_t c = first; c <= last; ++c) {
    char chosen[GL_CATEGORY_NAME_MAX + 1];
    if (_gl_set_category(loc, c, name, chosen, dir) != 0) {
      // The categories already set stay set.
      return fail(*_gl_ext_errno(loc) == GL_ENOERROR ? GL_ECATFAILED : GL_ENOERROR);
    }
    SetName(loc, c, chosen);
  }
  // A failing refresh leaves its error number in the locale for the caller
  // to find; the categories were set all the same.
  _gl_locale_refresh(loc);
  _gl_widen_names(loc);
  BuildResult(loc, category, result);
  return result;
}

int32_t _gl_set_category(GlLocale *loc, int32_t category, const char *text, char *name_out,
                         const char *dir) {
  char name[GL_CATEGORY_NAME_MAX + 1];
  int32_t rc = *text != '\0' ? NameFromText(loc, category, text, name)
                             : NameFromEnvironment(loc, category, name);
  if (rc != 0) return 1;

  // "native" is the default file, read as the library's own.
  bool native = strcmp(name, kNative) == 0;
  memcpy(name_out, name, strlen(name) + 1);
  GlFile *f;
  if (dir != nullptr) {
    f = OpenInDir(loc, dir, name);
  } else {
    f = _gl_open_data_file(loc, native ? kDefaultFile : name, kLcKind, kLcVersion);
  }
  if (f == nullptr) return 1;

  // Only now that the file is open is the old category given up.
  gl_free_category(loc, category);
  gl_make_null_category(loc, category);
  rc = _gl_lco_read_category(loc, category, f);
  _gl_ext_fclose(f);
  if (rc != 0) return 1;
  if (native) return 0;
  return set_categories_glu(loc, category, name);
}
