// Part file names and template expansion.
#include "storage/datapath/smnames.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "storage/command/config.h"
#include "storage/command/sm_trace.h"
#include "storage/datapath/smhandle.h"
#include "storage/datapath/volume_records.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// The first separator at or after from, or npos.
size_t FindSeparator(std::string_view s, size_t from) {
  for (size_t i = from; i < s.size(); ++i) {
    if (IsSeparator(s[i])) return i;
  }
  return std::string_view::npos;
}

// The short name of a path name, or false when the name has none.
bool ShortName(std::string_view path, char kind, std::string_view* out) {
  const size_t first = FindSeparator(path, 1);
  if (first == std::string_view::npos) return false;
  const size_t second = FindSeparator(path, first + 1);
  if (kind == 'C' || kind == 'L') {
    if (second == std::string_view::npos) return false;
    *out = path.substr(second + 1);
    return true;
  }
  const size_t end = second == std::string_view::npos ? path.size() : second;
  *out = path.substr(first + 1, end - first - 1);
  return true;
}

// A bounded output buffer; once something does not fit it stays failed.
struct Output {
  char* text;
  size_t length;
  bool overflow;

  void Append(std::string_view s) {
    if (overflow) return;
    if (s.size() >= kExpandedArgMax - length) {
      overflow = true;
      return;
    }
    std::memcpy(text + length, s.data(), s.size());
    length += s.size();
    text[length] = '\0';
  }
};

enum Placeholder { kObjId, kObjSpace, kObjName, kObjName1, kShortName, kObjPath, kObjPart };
constexpr struct {
  std::string_view text;
  Placeholder which;
} kPlaceholders[] = {
    {"@obj_id@", kObjId},         {"@obj_space@", kObjSpace}, {"@obj_name@", kObjName},
    {"@obj_name1@", kObjName1},   {"@short_name@", kShortName}, {"@obj_path@", kObjPath},
    {"@obj_part@", kObjPart},
};

// Appends one placeholder's text; false when the object has none for it.
bool AppendPlaceholder(Placeholder which, const XbsaObjectDescriptor* obj, int32_t part,
                       Output* out) {
  const std::string_view path(obj->pathName, strnlen(obj->pathName, sizeof obj->pathName));
  char number[32];
  switch (which) {
    case kObjId: {
      uint64_t id = 0;
      tevUInt64ToU64(&id, &obj->copyId);
      std::snprintf(number, sizeof number, "%" PRIu64, id);
      out->Append(number);
      return true;
    }
    case kObjSpace:
      out->Append(std::string_view(obj->objectSpaceName,
                                   strnlen(obj->objectSpaceName, sizeof obj->objectSpaceName)));
      return true;
    case kObjName:
    case kObjPath:
      out->Append(path);
      return true;
    case kObjName1:
      for (char c : path) out->Append(IsSeparator(c) ? std::string_view("_") : std::string_view(&c, 1));
      return true;
    case kShortName: {
      std::string_view shortName;
      if (!ShortName(path, obj->objectKind[0], &shortName)) return false;
      out->Append(shortName);
      return true;
    }
    case kObjPart:
      std::snprintf(number, sizeof number, "%d", part);
      out->Append(number);
      return true;
  }
  return false;
}

}  // namespace

int sm_part_file_name(const char* root_dir, const char* volume_path, const char* file_name,
                      int32_t part_number, char* out, size_t size) {
  const size_t need = std::strlen(root_dir) + std::strlen(volume_path) + std::strlen(file_name) + 19;
  if (need >= size) return 24;
  if (root_dir[0] != '\0') {
    std::snprintf(out, size, "%s/%s%s.%d", root_dir, volume_path, file_name, part_number);
  } else {
    std::snprintf(out, size, "%s%s.%d", volume_path, file_name, part_number);
  }
  return 0;
}

char* sm_expand_template(const char* template_text, const XbsaObjectDescriptor* object,
                         int32_t part_number) {
  if (template_text == nullptr || object == nullptr) return nullptr;
  SM_TRACE(135, "Input String = '%s'.", template_text);
  Output out{static_cast<char*>(std::malloc(kExpandedArgMax)), 0, false};
  if (out.text == nullptr) return nullptr;
  out.text[0] = '\0';
  const std::string_view t(template_text);
  size_t i = 0;
  while (i < t.size() && !out.overflow) {
    if (t[i] != '@') {
      out.Append(t.substr(i, 1));
      ++i;
      continue;
    }
    bool matched = false;
    for (const auto& p : kPlaceholders) {
      if (t.substr(i, p.text.size()) != p.text) continue;
      if (!AppendPlaceholder(p.which, object, part_number, &out)) {
        std::free(out.text);
        return nullptr;
      }
      i += p.text.size();
      matched = true;
      break;
    }
    if (!matched) {
      out.Append("@");
      ++i;
    }
  }
  if (out.overflow) {
    SM_TRACE(137, "Expansion of '%s' exceeds %zu bytes.", template_text, kExpandedArgMax);
    std::free(out.text);
    return nullptr;
  }
  SM_TRACE(135, "Output String = '%s'.", out.text);
  return out.text;
}

int zarGenFileName(zarHandle* handle, char* out, int size, const TevVolume* volume,
                   const char* file_name, const TevObjectDetail* detail) {
  if (handle == nullptr || out == nullptr || volume == nullptr || file_name == nullptr ||
      detail == nullptr) {
    return 22;
  }
  SM_TRACE(136, "zarGenFileName: zarHandle 0x%p, nameLen %d", static_cast<void*>(handle), size);
  const TevConfig* cfg = handle->config != nullptr ? handle->config : zarGetConfig();
  if (cfg == nullptr) return 22;
  if (size <= 0) return 24;
  const int rc = sm_part_file_name(cfg->rootFileDir, volume->path, file_name, detail->partNumber,
                                   out, static_cast<size_t>(size));
  if (rc == 0) SM_TRACE(136, "zarGenFileName:(%s)", out);
  return rc;
}

char* expandStdioArg(const char* template_text, const XbsaObjectDescriptor* object,
                     const TevObjectDetail* detail) {
  if (detail == nullptr) return nullptr;
  return sm_expand_template(template_text, object, detail->partNumber);
}
