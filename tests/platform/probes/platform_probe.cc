// Runs one platform call in a process of its own for the tests.
//
//   platform_probe isadmin             prints 1 or 0
//   platform_probe create KEY          makes HKLM\KEY, prints its disposition
//   platform_probe hold KEY            makes the volatile HKLM\KEY, prints
//                                      "held" and waits until killed
//   platform_probe writer              rewrites HKLM\W forever, printing each
//                                      counter value once it is stored
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/accounts.h"
#include "platform/registry.h"

namespace {

void Say(const std::string& line) {
  std::string text = line + "\n";
  ssize_t unused = write(1, text.data(), text.size());
  (void)unused;
}

int Create(const char* path, uint32_t options) {
  HKEY key;
  uint32_t disposition = 0;
  int32_t rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, options, KEY_ALL_ACCESS,
                               nullptr, &key, &disposition);
  if (rc != 0) {
    Say("error " + std::to_string(rc));
    return 1;
  }
  RegCloseKey(key);
  Say(std::to_string(disposition));
  return 0;
}

// Each value written is 64 KiB of one byte, so that a hive cut short or
// mixed from two versions cannot pass for a sound one.
int Writer() {
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "W", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != 0) {
    return 1;
  }
  for (uint32_t n = 1;; ++n) {
    std::string fill(65536, static_cast<char>('a' + n % 26));
    std::string counter = std::to_string(n);
    if (RegSetValueExA(key, "fill", 0, REG_BINARY,
                       reinterpret_cast<const unsigned char*>(fill.data()),
                       static_cast<uint32_t>(fill.size())) != 0 ||
        RegSetValueExA(key, "counter", 0, REG_SZ,
                       reinterpret_cast<const unsigned char*>(counter.c_str()),
                       static_cast<uint32_t>(counter.size() + 1)) != 0) {
      return 1;
    }
    Say(counter);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && strcmp(argv[1], "isadmin") == 0) {
    Say(tvp::ProcessIsAdministrator() ? "1" : "0");
    return 0;
  }
  if (argc == 3 && strcmp(argv[1], "create") == 0) return Create(argv[2], 0);
  if (argc == 3 && strcmp(argv[1], "hold") == 0) {
    if (Create(argv[2], REG_OPTION_VOLATILE) != 0) return 1;
    Say("held");
    for (;;) pause();
  }
  if (argc == 2 && strcmp(argv[1], "writer") == 0) return Writer();
  fprintf(stderr, "usage: platform_probe isadmin|create KEY|hold KEY|writer\n");
  return 2;
}
