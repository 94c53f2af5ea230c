// A writer for the crash tests: it inserts, rewrites and deletes rows of a
// pair the test built (crash_rows.h), and reports every step on standard
// output before and after it, so that the test that kills it knows which
// calls finished and which changes were flushed.
//
//   isam_crash_writer NAME excl|shared fixed|var SEED OPS KEYS [close]
//
// Reports, one a line: "B W|R|D key version" before a call sequence (insert,
// read and rewrite, read and delete), "E" after it, "F" after an isflush,
// "X call iserrno" when a call failed (the writer then stops with status 2), "C"
// after the closing isclose. Without "close" the writer waits to be killed
// once its operations are done.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>

#include "isam/isam.h"
#include "tests/isam/crash_rows.h"

namespace {

void Report(const std::string& line) {
  std::string text = line + "\n";
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = write(1, p, left);
    if (n <= 0) _exit(3);
    p += n;
    left -= static_cast<size_t>(n);
  }
}

[[noreturn]] void Fail(const char* call) {
  Report(std::string("X ") + call + " " + std::to_string(iserrno));
  _exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 7) {
    std::fprintf(stderr, "usage: %s NAME excl|shared fixed|var SEED OPS KEYS [close]\n", argv[0]);
    return 1;
  }
  const char* name = argv[1];
  bool excl = std::strcmp(argv[2], "excl") == 0;
  bool var = std::strcmp(argv[3], "var") == 0;
  std::mt19937 rng(static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)));
  long ops = std::strtol(argv[5], nullptr, 10);
  int keys = static_cast<int>(std::strtol(argv[6], nullptr, 10));
  bool close = argc > 7 && std::strcmp(argv[7], "close") == 0;

  int fd = isopen(name, IS_INOUT | (var ? IS_VARLEN : 0) | (excl ? IS_EXCLLOCK : IS_MANULOCK));
  if (fd < 0) Fail("isopen");
  std::map<int32_t, int32_t> present;  // key -> version
  std::map<int32_t, int32_t> newest;   // key -> highest version written
  std::string buf(isamtest::kMaxRow, '\0');
  for (long i = 0; i < ops; ++i) {
    int32_t a = 1 + static_cast<int32_t>(rng() % static_cast<uint32_t>(keys));
    auto it = present.find(a);
    if (it == present.end()) {
      int32_t v = ++newest[a];
      std::string row = isamtest::Row(a, v, var);
      Report("B W " + std::to_string(a) + " " + std::to_string(v));
      isrecsize = static_cast<int>(row.size());
      if (iswrite(fd, row.data()) != 0) Fail("iswrite");
      present[a] = v;
    } else {
      bool rewrite = rng() % 10 < 6;
      int32_t v = rewrite ? ++newest[a] : it->second;
      Report(std::string("B ") + (rewrite ? "R " : "D ") + std::to_string(a) + " " +
             std::to_string(v));
      std::string key = isamtest::Row(a, it->second, var);
      buf.replace(0, key.size(), key);
      if (isread(fd, &buf[0], IS_EQUAL) != 0) Fail("isread");
      if (rewrite) {
        std::string row = isamtest::Row(a, v, var);
        isrecsize = static_cast<int>(row.size());
        if (isrewcurr(fd, row.data()) != 0) Fail("isrewcurr");
        it->second = v;
      } else {
        if (isdelcurr(fd) != 0) Fail("isdelcurr");
        present.erase(it);
      }
    }
    Report("E");
    if (excl && rng() % 30 == 0) {
      if (isflush(fd) != 0) Fail("isflush");
      Report("F");
    }
  }
  if (close) {
    if (isclose(fd) != 0) Fail("isclose");
    Report("C");
    return 0;
  }
  for (;;) pause();
}
