// Converts test inputs with one conversion object, for the differential
// test: "cvo_probe TARGET-SPEC SOURCE-SPEC" reads lines of hex input from
// standard input and writes one line per input: "rc error subst hexoutput".
// A line "=hex" converts uncounted (up to the terminator character).
#include <stdio.h>
#include <string.h>

#include <iostream>
#include <string>

#include "locale/core/gl_cvo.h"

namespace {

std::string Unhex(const std::string &hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: cvo_probe TARGET-SPEC SOURCE-SPEC\n");
    return 2;
  }
  GlConverter *cv = nullptr;
  if (gl_cv_load(&cv, argv[1], argv[2], nullptr, nullptr) != 1) {
    fprintf(stderr, "cannot open the conversion: error %d\n", cv != nullptr ? cv->error_number : 0);
    return 1;
  }
  std::string line, buf(4096, '\0');
  static const char kHex[] = "0123456789abcdef";
  while (std::getline(std::cin, line)) {
    bool uncounted = !line.empty() && line[0] == '=';
    std::string in = Unhex(uncounted ? line.substr(1) : line);
    if (buf.size() < 8 * in.size() + 16) buf.resize(8 * in.size() + 16);
    const char *ip = in.c_str();
    auto len = static_cast<int32_t>(in.size());
    char *op = buf.data();
    auto room = static_cast<uint32_t>(buf.size());
    int32_t subst = 0;
    cv->error_number = 0;
    int32_t rc = gl_miconv(cv, &ip, uncounted ? nullptr : &len, &op, &room, &subst);
    std::string out = std::to_string(rc) + " " + std::to_string(rc != 0 ? cv->error_number : 0) +
                      " " + std::to_string(subst) + " ";
    for (const char *p = buf.data(); p < op; ++p) {
      out.push_back(kHex[static_cast<unsigned char>(*p) >> 4]);
      out.push_back(kHex[static_cast<unsigned char>(*p) & 15]);
    }
    out.push_back('\n');
    fwrite(out.data(), 1, out.size(), stdout);
  }
  gl_cv_unload(cv);
  return 0;
}
