#include "tools/msgc/source_text.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>

#include "tools/msgc/charset.h"
#include "tools/msgc/printf_kinds.h"

namespace msgc {

const char* CharsetName(Charset c) {
  return c == Charset::kUtf8 ? "UTF-8" : "ISO-8859-1";
}

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseNumber(std::string_view s, int32_t* out) {
  if (s.empty() || s.size() > 12) return false;
  std::string buf(s);
  size_t i = (buf[0] == '-' || buf[0] == '+') ? 1 : 0;
  if (i == buf.size()) return false;
  for (; i < buf.size(); ++i)
    if (buf[i] < '0' || buf[i] > '9') return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(buf.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

// Sets a directive once; a second source must agree with the first.
template <typename T>
bool SetOnce(T* slot, T value, T unset, std::string* why) {
  if (*slot != unset && *slot != value) {
    *why = "contradicts the value an earlier directive or the command line set";
    return false;
  }
  *slot = value;
  return true;
}

bool ParseDirectiveValue(std::string_view key, std::string_view value, Catalog* cat,
                         std::string* why);

bool ParseDirective(std::string_view line, Catalog* cat, std::string* why) {
  size_t hash = line.find('#');
  if (hash != std::string_view::npos) line = line.substr(0, hash);
  line = Trim(line);
  size_t sp = line.find_first_of(" \t");
  std::string_view key = line.substr(0, sp);
  std::string_view value = sp == std::string_view::npos ? "" : Trim(line.substr(sp));
  if (value.empty()) {
    *why = "directive without a value";
    return false;
  }
  const bool ok = ParseDirectiveValue(key, value, cat, why);
  if (!ok && why->rfind("contradicts", 0) == 0) *why = std::string(key) + " " + *why;
  return ok;
}

bool ParseDirectiveValue(std::string_view key, std::string_view value, Catalog* cat,
                         std::string* why) {
  if (key == "@output") {
    if (value.find('/') != std::string_view::npos) {
      *why = "@output names a file, not a path";
      return false;
    }
    return SetOnce(&cat->output, std::string(value), std::string(), why);
  }
  if (key == "@form") {
    FormChoice f;
    if (value == "auto") f = FormChoice::kAuto;
    else if (value == "short") f = FormChoice::kShort;
    else if (value == "long") f = FormChoice::kLong;
    else {
      *why = "@form must be short, long or auto";
      return false;
    }
    return SetOnce(&cat->form, f, FormChoice::kUnset, why);
  }
  if (key == "@charset") {
    Charset c;
    if (value == "ISO-8859-1" || value == "8859-1" || value == "latin1") c = Charset::kLatin1;
    else if (value == "UTF-8" || value == "utf8") c = Charset::kUtf8;
    else {
      *why = "@charset must be ISO-8859-1 or UTF-8";
      return false;
    }
    return SetOnce(&cat->charset, c, Charset::kUnset, why);
  }
  *why = "unknown directive " + std::string(key);
  return false;
}

// Decodes the text of an entry into stored bytes.
bool DecodeText(std::string_view src, Charset charset, std::string* out, std::string* why) {
  out->clear();
  bool line_feed = true;
  size_t i = 0;
  while (i < src.size()) {
    const char c = src[i];
    if (c == '\\') {
      if (i + 1 >= src.size()) {
        *why = "a backslash ends the text";
        return false;
      }
      const char e = src[i + 1];
      if (e == 'n') out->push_back('\n');
      else if (e == 't') out->push_back('\t');
      else if (e == '\\') out->push_back('\\');
      else if (e == 'c') {
        if (i + 2 != src.size()) {
          *why = "\\c may only end the text";
          return false;
        }
        line_feed = false;
      } else if (e == 'x') {
        int hi = i + 2 < src.size() ? HexDigit(src[i + 2]) : -1;
        int lo = i + 3 < src.size() ? HexDigit(src[i + 3]) : -1;
        if (hi < 0 || lo < 0) {
          *why = "\\x needs two hexadecimal digits";
          return false;
        }
        out->push_back(static_cast<char>(hi * 16 + lo));
        i += 4;
        continue;
      } else {
        *why = std::string("unknown escape \\") + e;
        return false;
      }
      i += 2;
      continue;
    }
    if (static_cast<uint8_t>(c) < 0x20 || c == 0x7F) {
      *why = "a control character in the text (write it as an escape)";
      return false;
    }
    uint32_t cp;
    size_t start = i;
    if (!NextUtf8(src, &i, &cp)) {
      *why = "the text is not valid UTF-8";
      return false;
    }
    if (charset == Charset::kUtf8) {
      out->append(src.substr(start, i - start));
    } else if (cp > 0xFF) {
      *why = "a character that ISO-8859-1 cannot hold";
      return false;
    } else {
      out->push_back(static_cast<char>(cp));
    }
  }
  if (line_feed) out->push_back('\n');
  return true;
}

bool ParseEntry(std::string_view line, Charset charset, Message* m, std::string* why) {
  size_t open = line.find(" [");
  size_t close = line.find(']');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
    *why = "an entry is: NUMBER [KINDS] TEXT";
    return false;
  }
  if (!ParseNumber(line.substr(0, open), &m->number)) {
    *why = "bad message number '" + std::string(line.substr(0, open)) + "'";
    return false;
  }
  std::vector<std::string> declared;
  std::string_view list = line.substr(open + 2, close - open - 2);
  while (!list.empty()) {
    size_t sp = list.find(' ');
    std::string_view k = list.substr(0, sp);
    if (!k.empty()) {
      if (!IsKnownKind(k)) {
        *why = "unknown argument kind '" + std::string(k) + "'";
        return false;
      }
      declared.emplace_back(k);
    }
    if (sp == std::string_view::npos) break;
    list.remove_prefix(sp + 1);
  }
  std::string_view rest = line.substr(close + 1);
  if (!rest.empty()) {
    if (rest.front() != ' ') {
      *why = "one blank must separate the kinds from the text";
      return false;
    }
    rest.remove_prefix(1);
  }
  if (!DecodeText(rest, charset, &m->text, why)) return false;
  std::vector<std::string> used;
  std::string conv_error;
  if (!FormatKinds(m->text, &used, &conv_error)) {
    *why = "message " + std::to_string(m->number) + ": " + conv_error;
    return false;
  }
  if (used != declared) {
    *why = "message " + std::to_string(m->number) + ": its text takes " + KindList(used) +
           " but " + KindList(declared) + " is declared";
    return false;
  }
  return true;
}

}  // namespace

bool ParseSource(std::string_view text, const std::string& name, Catalog* catalog,
                 std::vector<std::string>* errors) {
  const size_t before = errors->size();
  size_t line_no = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    std::string_view line =
        text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    pos = nl == std::string_view::npos ? text.size() : nl + 1;
    ++line_no;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string where = name + ":" + std::to_string(line_no);
    std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == '#') continue;
    std::string why;
    if (trimmed.front() == '@') {
      if (!ParseDirective(trimmed, catalog, &why)) errors->push_back(where + ": " + why);
      continue;
    }
    Message m;
    m.where = where;
    // The stored code set must be known before the first text is decoded.
    const Charset cs = catalog->charset == Charset::kUnset ? Charset::kLatin1 : catalog->charset;
    if (catalog->charset == Charset::kUnset) catalog->charset = cs;
    std::string_view entry = line;
    while (!entry.empty() && (entry.front() == ' ' || entry.front() == '\t')) entry.remove_prefix(1);
    if (!ParseEntry(entry, cs, &m, &why)) {
      errors->push_back(where + ": " + why);
      continue;
    }
    catalog->messages.push_back(std::move(m));
  }
  return errors->size() == before;
}

namespace {

void AppendEscaped(uint8_t b, std::string* out) {
  static const char kHex[] = "0123456789ABCDEF";
  *out += "\\x";
  out->push_back(kHex[b >> 4]);
  out->push_back(kHex[b & 15]);
}

std::string EncodeText(std::string_view text, Charset charset) {
  bool line_feed = !text.empty() && text.back() == '\n';
  if (line_feed) text.remove_suffix(1);
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<uint8_t>(text[i]);
    if (b == '\n') out += "\\n";
    else if (b == '\t') out += "\\t";
    else if (b == '\\') out += "\\\\";
    else if (b < 0x20 || b == 0x7F) AppendEscaped(b, &out);
    else if (b < 0x80) out.push_back(static_cast<char>(b));
    else if (charset == Charset::kLatin1) {
      if (b < 0xA0) AppendEscaped(b, &out);  // C1 controls stay visible
      else AppendUtf8(b, &out);
    } else {
      size_t j = i;
      uint32_t cp;
      if (NextUtf8(text, &j, &cp)) {
        out.append(text.substr(i, j - i));
        i = j;
        continue;
      }
      AppendEscaped(b, &out);
    }
    ++i;
  }
  // Keep a trailing blank visible: editors drop them.
  if (!out.empty() && (out.back() == ' ')) {
    out.pop_back();
    out += "\\x20";
  }
  if (!line_feed) out += "\\c";
  return out;
}

}  // namespace

std::string WriteSource(const Catalog& catalog, std::vector<std::string>* warnings) {
  std::string out;
  if (!catalog.output.empty()) out += "@output " + catalog.output + "\n";
  if (catalog.form == FormChoice::kShort) out += "@form short\n";
  else if (catalog.form == FormChoice::kLong) out += "@form long\n";
  else if (catalog.form == FormChoice::kAuto) out += "@form auto\n";
  out += std::string("@charset ") + CharsetName(catalog.charset) + "\n";
  for (const Message& m : catalog.messages) {
    std::vector<std::string> kinds;
    std::string why;
    std::string list;
    if (FormatKinds(m.text, &kinds, &why)) {
      list = KindList(kinds);
    } else {
      list = "[?]";
      warnings->push_back("message " + std::to_string(m.number) + ": " + why);
    }
    std::string text = EncodeText(m.text, catalog.charset);
    out += std::to_string(m.number) + " " + list;
    if (!text.empty()) out += " " + text;
    out += "\n";
  }
  return out;
}

}  // namespace msgc
