// The code-set registry.
//
// Registry file (kind "cm", version "3"), read with the run-time stdio:
//
//   entry    name  white space  decimal number  rest of line ignored "\n"
//   name     1-21 graphic characters, stored lower case
//   number   decimal digits, accumulated modulo 65536; a character (the
//            line end) must follow the last digit
//   comment  a token beginning with "#": the rest of its line is skipped
#include "locale/core/gl_registry.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "locale/core/gl_datafile.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_ext.h"

GlRegistryEntry *_gl_registry_list;
const GlRegistryPair *_gl_registry_fallback;

namespace {

constexpr int kNameMax = GL_REGISTRY_NAME_SIZE - 1;  // 21 characters

void SetError(void *obj, int32_t e) {
  if (obj != nullptr) *_gl_ext_errno(obj) = e;
}

void SkipSpace(FILE *f) {
  int c;
  while ((c = fgetc(f)) != EOF && isspace(c)) {
  }
  if (c != EOF) ungetc(c, f);
}

// Reads up to and including the next line end; 0 when the file ended first.
int SkipLine(FILE *f) {
  int c;
  while ((c = fgetc(f)) != EOF) {
    if (c == '\n') return 1;
  }
  return 0;
}

// Reads one name into buf (22 bytes); false when there is none.
bool ReadName(FILE *f, char *buf) {
  SkipSpace(f);
  int c;
  while ((c = fgetc(f)) == '#') {
    if (!SkipLine(f)) return false;
    SkipSpace(f);
  }
  if (c == EOF) return false;
  int n = 0;
  while (c != EOF && isgraph(c)) {
    if (n == kNameMax) return false;
    buf[n++] = static_cast<char>(tolower(c));
    c = fgetc(f);
  }
  if (c == EOF) return false;
  ungetc(c, f);
  buf[n] = '\0';
  return true;
}

uint16_t ReadNumber(void *obj, FILE *f) {
  SkipSpace(f);
  int c = fgetc(f);
  if (c == EOF || !isdigit(c)) {
    SetError(obj, GL_EFORMAT);
    return GL_CS_UNKNOWN;
  }
  uint16_t v = 0;
  while (c != EOF && isdigit(c)) {
    v = static_cast<uint16_t>(v * 10 + (c - '0'));
    c = fgetc(f);
  }
  if (c == EOF) {
    SetError(obj, GL_EFORMAT);
    return GL_CS_UNKNOWN;
  }
  ungetc(c, f);
  return v;
}

FILE *OpenRegistry(void *obj, const char *path, bool empty_means_installed) {
  if (path != nullptr && (*path != '\0' || !empty_means_installed)) return fopen(path, "re");
  return static_cast<FILE *>(_gl_open_data_file_rt(obj, "registry", "cm", "3"));
}

void FreeList(GlRegistryEntry *e) {
  while (e != nullptr) {
    GlRegistryEntry *next = e->next;
    free(e->name);
    free(e);
    e = next;
  }
}

void FallBack(void *obj, int32_t error) {
  SetError(obj, error);
  _gl_registry_fallback = _gl_default_registry;
}

bool IsLittleEndian() {
  const uint32_t one = 1;
  unsigned char first;
  memcpy(&first, &one, 1);
  return first == 1;
}

}  // namespace

void gl_free_registry_cache(void) {
  FreeList(_gl_registry_list);
  _gl_registry_list = nullptr;
  _gl_registry_fallback = nullptr;
}

void gl_cache_registry(void *obj, const char *path) {
  gl_free_registry_cache();
  FILE *f = OpenRegistry(obj, path, true);
  if (f == nullptr) {
    FallBack(obj, GL_EMISSING);
    return;
  }
  GlRegistryEntry *head = nullptr;
  GlRegistryEntry **tail = &head;
  char name[GL_REGISTRY_NAME_SIZE];
  int32_t error = 0;
  while (ReadName(f, name)) {
    auto *e = static_cast<GlRegistryEntry *>(malloc(sizeof(GlRegistryEntry)));
    char *block = e != nullptr ? static_cast<char *>(malloc(GL_REGISTRY_NAME_SIZE)) : nullptr;
    if (block == nullptr) {
      free(e);
      error = GL_ENOMEM;
      break;
    }
    memcpy(block, name, sizeof name);
    e->name = block;
    e->next = nullptr;
    uint16_t number = ReadNumber(obj, f);
    if (number == GL_CS_UNKNOWN) {
      free(block);
      free(e);
      error = GL_EFORMAT;
      break;
    }
    e->number = number;
    *tail = e;
    tail = &e->next;
    if (!SkipLine(f)) break;
  }
  fclose(f);
  if (error != 0) {
    FreeList(head);
    FallBack(obj, error);
    return;
  }
  _gl_registry_list = head;
}

uint16_t gl_cs_name2cs_num(void *obj, const char *name, const char *path) {
  char copy[GL_REGISTRY_NAME_SIZE];
  size_t n = 0;
  for (; name != nullptr && name[n] != '\0' && n < static_cast<size_t>(kNameMax); ++n) {
    copy[n] = static_cast<char>(tolower(static_cast<unsigned char>(name[n])));
  }
  copy[n] = '\0';

  if (_gl_registry_list != nullptr) {
    for (GlRegistryEntry *e = _gl_registry_list; e != nullptr; e = e->next) {
      if (strcmp(e->name, copy) == 0) return static_cast<uint16_t>(e->number);
    }
  } else if (_gl_registry_fallback != nullptr) {
    for (const GlRegistryPair *p = _gl_registry_fallback; p->name != nullptr; ++p) {
      if (strcmp(p->name, copy) == 0) return static_cast<uint16_t>(p->number);
    }
  } else {
    FILE *f = OpenRegistry(obj, path, false);
    if (f == nullptr) {
      if (obj != nullptr && *_gl_ext_errno(obj) != GL_ENOMEM) SetError(obj, GL_EMISSING);
      return GL_CS_UNKNOWN;
    }
    char entry[GL_REGISTRY_NAME_SIZE];
    while (ReadName(f, entry)) {
      if (strcmp(entry, copy) == 0) {
        uint16_t v = ReadNumber(obj, f);
        fclose(f);
        return v;
      }
      if (!SkipLine(f)) {
        fclose(f);
        SetError(obj, GL_EFORMAT);
        return GL_CS_UNKNOWN;
      }
    }
    fclose(f);
  }

  bool digits = n > 0;
  uint32_t value = 0;
  for (size_t i = 0; i < n && digits; ++i) {
    if (!isdigit(static_cast<unsigned char>(copy[i]))) {
      digits = false;
    } else if ((value = value * 10 + static_cast<uint32_t>(copy[i] - '0')) > 65535) {
      digits = false;
    }
  }
  if (digits) return static_cast<uint16_t>(value);
  SetError(obj, GL_ESHORT);
  return GL_CS_UNKNOWN;
}

uint16_t gl_cs_nums2ccsid(void *, uint16_t number) {
  if (number < 0xe000) return number;
  bool le = IsLittleEndian();
  switch (number) {
    case 0xe005: return le ? 1202 : 1200;
    case 0xe006: return 943;
    case 0xe007: return 33722;
    case 0xe008: return 950;
    case 0xe00c: return 949;
    case 0xe00d: return 1383;
    case 0xe01c: return 1208;
    case 0xe01d: return 874;
    case 0xe01f: return 964;
    case 0xe026: return 878;
    case 0xe029: return 1051;
    case 0xe02c: return 848;
    case 0xe02e: return 921;
    case 0xe02f: return 923;
    case 0xe030: return le ? 1234 : 1232;
    default: return 0;
  }
}

uint16_t gl_ccsid2cs_nums(void *, uint16_t ccsid) {
  if (ccsid >= 0xe000) return 0;
  bool le = IsLittleEndian();
  switch (ccsid) {
    case 848: return 0xe02c;
    case 874: return 0xe01d;
    case 878: return 0xe026;
    case 923: return 0xe02f;
    case 943: return 0xe006;
    case 949: return 0xe00c;
    case 950: return 0xe008;
    case 964: return 0xe01f;
    case 1051: return 0xe029;
    case 1208: return 0xe01c;
    case 1383: return 0xe00d;
    case 33722: return 0xe007;
    case 1202: return le ? 0xe005 : ccsid;
    case 1234: return le ? 0xe030 : ccsid;
    case 1200: return le ? ccsid : 0xe005;
    case 1232: return le ? ccsid : 0xe030;
    default: return ccsid;
  }
}
