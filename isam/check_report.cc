// What the check utility says and asks: lines on standard output, error
// lines, the texts of ISAM and system errors, and the repair questions.

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/msgfile.h"
#include "isam/check.h"
#include "isam/check_state.h"
#include "isam/thread_state.h"

int isck_listing = 0;
int isck_answeryes = 0;

namespace isam {

namespace {

// The highest operating-system error number whose text is looked up.
constexpr int kSystemErrors = 133;

// The text of a message without its last character (the line feed), or
// false when the message cannot be had.
bool MessageText(int number, char* buf, int size) {
  int32_t rc = rgetmsg(number, buf, size);
  if (rc != 0 && rc != MSG_ECUT) return false;
  size_t len = std::strlen(buf);
  if (len > 0) buf[len - 1] = '\0';
  return true;
}

const char* Operation(int code) {
  switch (code & 0xF0) {
    case 0x10: return "open";
    case 0x20: return "creat";
    case 0x30: return "lseek";
    case 0x40: return "read";
    case 0x50: return "write";
    case 0x60: return "locking";
    case 0x70: return "ioctl";
    default: return "";
  }
}

const char* FileKind(int code) {
  switch (code & 0x0F) {
    case 1: return "index";
    case 2: return "data";
    case 3: return "audit";
    case 4: return "lock";
    case 5: return "semaphore";
    default: return "";
  }
}

void VPrint(const char* fmt, va_list ap) {
  std::vfprintf(stdout, fmt, ap);
  std::fflush(stdout);
}

}  // namespace

CheckState& ck() {
  static CheckState state;
  return state;
}

void ck_print(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  VPrint(fmt, ap);
  va_end(ap);
}

void ck_error(const char* fmt, ...) {
  ck_print("\nERROR: ");
  va_list ap;
  va_start(ap, fmt);
  VPrint(fmt, ap);
  va_end(ap);
  ck_print("\n");
}

void ck_iserror() {
  IsamThreadState& st = is_state();
  int err = st.iserrno;
  int io = st.isiocode;
  st.iserrno = 0;
  st.isiocode = 0;
  if (err == 0) return;
  char text[512];
  if (err >= 100) {
    if (MessageText(-err, text, sizeof text)) {
      ck_print("\n%s\n", text);
    } else {
      ck_print("\nHalvik ERROR %d: %s\n", err, "unknown error code");
    }
    return;
  }
  ck_print("\nSYSTEM ERROR %d: ", err);
  if (io != 0) ck_print("%s(%s): ", Operation(io), FileKind(io));
  if (err > 0 && err <= kSystemErrors) {
    if (MessageText(err, text, sizeof text)) {
      ck_print("%s", text);
    } else {
      ck_print("SYSTEM ERROR %d: %s", err, "unknown error code");
    }
  }
  ck_print("\n");
}

bool ck_ask(const char* prompt) {
  ck_print("%s? ", prompt);
  if (isck_answeryes != 0) {
    ck_print("yes\n\n");
    return true;
  }
  for (;;) {
    char line[10];
    if (std::fgets(line, sizeof line, stdin) == nullptr) {
      ck_print("\n");
      return false;
    }
    ck_print("\n");
    if (line[0] == 'y' || line[0] == 'Y') return true;
    if (line[0] == 'n' || line[0] == 'N') return false;
    ck_print("Answer yes or no ? ");
  }
}

}  // namespace isam
