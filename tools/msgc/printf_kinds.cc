#include "tools/msgc/printf_kinds.h"

#include <array>
#include <cctype>
#include <cstring>

namespace msgc {

namespace {

constexpr std::array<std::string_view, 10> kKinds = {"s", "d", "u", "c", "ld",
                                                     "lu", "lld", "llu", "f", "p"};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool IsKnownKind(std::string_view kind) {
  for (std::string_view k : kKinds)
    if (k == kind) return true;
  return false;
}

bool FormatKinds(std::string_view text, std::vector<std::string>* kinds, std::string* error) {
  kinds->clear();
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '%') {
      ++i;
      continue;
    }
    const size_t start = i++;
    if (i < text.size() && text[i] == '%') {  // a literal percent sign
      ++i;
      continue;
    }
    auto fail = [&](const std::string& why) {
      *error = "conversion at byte " + std::to_string(start) + " (\"" +
               std::string(text.substr(start, i + 1 > text.size() ? text.size() - start
                                                                  : i + 1 - start)) +
               "\"): " + why;
      return false;
    };
    // "%N$": positional arguments cannot be checked against a call site.
    size_t j = i;
    while (j < text.size() && IsDigit(text[j])) ++j;
    if (j > i && j < text.size() && text[j] == '$') {
      i = j;
      return fail("positional arguments are not allowed");
    }
    std::string flags;
    while (i < text.size() && std::strchr("-+ #0'", text[i]) != nullptr) flags += text[i++];
    bool width = false;
    if (i < text.size() && text[i] == '*') {
      kinds->push_back("d");
      width = true;
      ++i;
    } else {
      while (i < text.size() && IsDigit(text[i])) {
        width = true;
        ++i;
      }
    }
    if (i < text.size() && text[i] == '.') {
      ++i;
      if (i < text.size() && text[i] == '*') {
        kinds->push_back("d");
        ++i;
      } else {
        while (i < text.size() && IsDigit(text[i])) ++i;
      }
      width = true;
    }
    std::string length;
    while (i < text.size() && std::strchr("hlLqjzt", text[i]) != nullptr) length += text[i++];
    if (i >= text.size()) return fail("the text ends inside a conversion");
    const char conv = text[i];
    std::string kind;
    const bool is_signed = conv == 'd' || conv == 'i';
    const bool is_unsigned = std::strchr("uoxX", conv) != nullptr;
    const bool is_float = std::strchr("fFeEgGaA", conv) != nullptr;
    if (length.empty() || length == "h" || length == "hh") {
      if (is_signed) kind = "d";
      else if (is_unsigned) kind = "u";
      else if (length.empty() && conv == 'c') kind = "c";
      else if (length.empty() && conv == 's') kind = "s";
      else if (length.empty() && conv == 'p') kind = "p";
      else if (length.empty() && is_float) kind = "f";
    } else if (length == "l") {
      if (conv == 'x' && !width && (flags.empty() || flags == "-")) kind = "p";
      else if (is_signed) kind = "ld";
      else if (is_unsigned) kind = "lu";
      else if (is_float) kind = "f";
    } else if (length == "ll") {
      if (is_signed) kind = "lld";
      else if (is_unsigned) kind = "llu";
    }
    if (kind.empty()) {
      if (conv == 'n') return fail("%n is not allowed");
      return fail("unsupported conversion");
    }
    kinds->push_back(kind);
    ++i;
  }
  return true;
}

std::string KindList(const std::vector<std::string>& kinds) {
  std::string out = "[";
  for (size_t i = 0; i < kinds.size(); ++i) {
    if (i) out += ' ';
    out += kinds[i];
  }
  return out + "]";
}

}  // namespace msgc
