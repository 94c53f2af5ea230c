// Text form of a hive file. One record a line, each line ended by '\n':
//
//   line                         meaning
//   ---------------------------  ----------------------------------------------
//   TVREG 1                      header; always the first line
//   K <path> <life> <class>      a key; its parent's line comes earlier
//   V <name> <type> <data>       a value of the nearest key line above
//
//   <path>, <name>, <class>  text; bytes outside 0x21..0x7E and '%' are
//                            written as %XX (two hex digits); "%" alone is
//                            the empty text (the root key's path, the
//                            unnamed value, no class)
//   <life>                   "-" for a lasting key, or
//                            "v:<boot id>:<pid>:<start time>" for a volatile
//                            key (made in that boot by that process)
//   <type>                   the value type, decimal
//   <data>                   the value's bytes in hex, "-" when empty
//
// Keys are written in case-insensitive order of their paths, values in the
// order they were first written. A reader accepts nothing else: a line that
// does not parse, a key without its parent, a duplicate key or value, or an
// oversized name or value makes the whole file corrupt.
#include "platform/registry_hive.h"

#include <charconv>

#include "platform/registry.h"

namespace tvreg {

namespace {

constexpr char kHeader[] = "TVREG 1";
constexpr char kHex[] = "0123456789abcdef";

void AppendEscaped(std::string* out, std::string_view text) {
  if (text.empty()) {
    out->push_back('%');
    return;
  }
  for (unsigned char c : text) {
    if (c < 0x21 || c > 0x7E || c == '%') {
      out->push_back('%');
      out->push_back(kHex[c >> 4]);
      out->push_back(kHex[c & 15]);
    } else {
      out->push_back(static_cast<char>(c));
    }
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Unescape(std::string_view field, std::string* out) {
  out->clear();
  if (field == "%") return true;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '%') {
      out->push_back(field[i]);
      continue;
    }
    if (i + 2 >= field.size()) return false;
    int hi = HexDigit(field[i + 1]), lo = HexDigit(field[i + 2]);
    if (hi < 0 || lo < 0) return false;
    char c = static_cast<char>(hi * 16 + lo);
    if (c == '\0') return false;
    out->push_back(c);
    i += 2;
  }
  return true;
}

bool UnHex(std::string_view field, std::string* out) {
  out->clear();
  if (field == "-") return true;
  if (field.size() % 2 != 0) return false;
  for (size_t i = 0; i < field.size(); i += 2) {
    int hi = HexDigit(field[i]), lo = HexDigit(field[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<char>(hi * 16 + lo));
  }
  return true;
}

template <typename T>
bool ParseNumber(std::string_view text, T* value) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size();
}

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  while (start <= line.size()) {
    size_t space = line.find(' ', start);
    if (space == std::string_view::npos) space = line.size();
    fields.push_back(line.substr(start, space - start));
    start = space + 1;
  }
  return fields;
}

bool ParseLife(std::string_view field, RegKey* key) {
  if (field == "-") return true;
  if (!field.starts_with("v:")) return false;
  std::vector<std::string_view> parts;
  size_t start = 2;
  for (;;) {
    size_t colon = field.find(':', start);
    if (colon == std::string_view::npos) {
      parts.push_back(field.substr(start));
      break;
    }
    parts.push_back(field.substr(start, colon - start));
    start = colon + 1;
  }
  if (parts.size() != 3 || parts[0].empty()) return false;
  key->is_volatile = true;
  key->boot_id = std::string(parts[0]);
  return ParseNumber(parts[1], &key->owner_pid) && key->owner_pid >= 0 &&
         ParseNumber(parts[2], &key->owner_start);
}

}  // namespace

RegValue* RegKey::FindValue(std::string_view name) {
  std::string folded = FoldName(name);
  for (RegValue& v : values) {
    if (FoldName(v.name) == folded) return &v;
  }
  return nullptr;
}

std::string FoldName(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool SplitKeyPath(std::string_view path, std::vector<std::string>* parts) {
  parts->clear();
  size_t start = 0;
  while (start <= path.size()) {
    size_t sep = path.find('\\', start);
    if (sep == std::string_view::npos) sep = path.size();
    std::string_view part = path.substr(start, sep - start);
    if (part.size() > TV_REG_MAX_KEY_NAME) return false;
    if (!part.empty()) parts->emplace_back(part);
    start = sep + 1;
  }
  return true;
}

std::string JoinKeyPath(std::string_view parent, std::string_view child) {
  if (parent.empty()) return std::string(child);
  std::string out(parent);
  out.push_back('\\');
  out.append(child);
  return out;
}

Hive::Hive() { keys_.emplace("", RegKey{}); }

RegKey* Hive::Find(std::string_view path) {
  auto it = keys_.find(FoldName(path));
  return it == keys_.end() ? nullptr : &it->second;
}

const RegKey* Hive::Find(std::string_view path) const {
  auto it = keys_.find(FoldName(path));
  return it == keys_.end() ? nullptr : &it->second;
}

RegKey* Hive::Add(RegKey key) {
  std::string folded = FoldName(key.path);
  return &keys_.insert_or_assign(folded, std::move(key)).first->second;
}

void Hive::Remove(std::string_view path) {
  if (!path.empty()) keys_.erase(FoldName(path));
}

std::vector<const RegKey*> Hive::Children(std::string_view path) const {
  std::vector<const RegKey*> out;
  std::string prefix = FoldName(path);
  if (!prefix.empty()) prefix.push_back('\\');
  for (auto it = keys_.lower_bound(prefix); it != keys_.end(); ++it) {
    if (!it->first.starts_with(prefix)) break;
    std::string_view rest = std::string_view(it->first).substr(prefix.size());
    if (!rest.empty() && rest.find('\\') == std::string_view::npos) {
      out.push_back(&it->second);
    }
  }
  return out;
}

std::string Hive::Serialize() const {
  std::string out = kHeader;
  out.push_back('\n');
  for (const auto& [folded, key] : keys_) {
    out += "K ";
    AppendEscaped(&out, key.path);
    if (key.is_volatile) {
      out += " v:" + key.boot_id + ":" + std::to_string(key.owner_pid) + ":" +
             std::to_string(key.owner_start) + " ";
    } else {
      out += " - ";
    }
    AppendEscaped(&out, key.key_class);
    out.push_back('\n');
    for (const RegValue& v : key.values) {
      out += "V ";
      AppendEscaped(&out, v.name);
      out += " " + std::to_string(v.type) + " ";
      if (v.data.empty()) out.push_back('-');
      for (unsigned char c : v.data) {
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 15]);
      }
      out.push_back('\n');
    }
  }
  return out;
}

bool Hive::Parse(std::string_view text) {
  std::map<std::string, RegKey> keys;
  keys.emplace("", RegKey{});
  if (!text.starts_with(std::string(kHeader) + "\n")) return false;
  if (!text.ends_with('\n')) return false;  // cut short
  text.remove_prefix(sizeof(kHeader));
  RegKey* current = nullptr;
  bool root_seen = false;
  while (!text.empty()) {
    size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl + 1);
    std::vector<std::string_view> f = SplitFields(line);
    if (f.size() != 4) return false;
    if (f[0] == "K") {
      RegKey key;
      std::vector<std::string> parts;
      if (!Unescape(f[1], &key.path) || !SplitKeyPath(key.path, &parts)) return false;
      // The path must already be in canonical form.
      std::string canonical;
      for (const std::string& p : parts) canonical = JoinKeyPath(canonical, p);
      if (canonical != key.path) return false;
      if (!ParseLife(f[2], &key) || !Unescape(f[3], &key.key_class)) return false;
      std::string folded = FoldName(key.path);
      if (folded.empty()) {
        if (key.is_volatile) return false;
        if (root_seen) return false;
        root_seen = true;
        current = &keys[""];
        current->key_class = key.key_class;
        continue;
      }
      size_t sep = folded.rfind('\\');
      auto parent = keys.find(sep == std::string::npos ? std::string() : folded.substr(0, sep));
      if (parent == keys.end()) return false;
      if (parent->second.is_volatile && !key.is_volatile) return false;
      auto [it, inserted] = keys.emplace(folded, std::move(key));
      if (!inserted) return false;
      current = &it->second;
    } else if (f[0] == "V") {
      if (current == nullptr) return false;
      RegValue value;
      if (!Unescape(f[1], &value.name) || value.name.size() > TV_REG_MAX_VALUE_NAME ||
          !ParseNumber(f[2], &value.type) || !UnHex(f[3], &value.data) ||
          value.data.size() > TV_REG_MAX_DATA) {
        return false;
      }
      if (current->FindValue(value.name) != nullptr) return false;
      current->values.push_back(std::move(value));
    } else {
      return false;
    }
  }
  keys_ = std::move(keys);
  return true;
}

}  // namespace tvreg
