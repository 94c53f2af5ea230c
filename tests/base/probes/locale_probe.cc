// Runs the client locale start-up in a process of its own and prints what
// it gives, one line per argument:
//   init | zel             the result of rglinit / zel_gl_init
//   state                  locales, converters and DBNLS mode
//   env NAME               the process environment's value
//   upshift TEXT           rupshift of the text
//   date                   the date-format state
//   names LIST             one line of a name list (abbr, full, era)
//   msg NUMBER             rgetmsg's result and text
//   status                 rgetinitstat, rclientstatus, rclientstate
//   cvt DIR SIZE HEX       cvt_tobuf through client->db (c2d) or db->client
//                          (d2c) into SIZE bytes: result, truncation, bytes
//   needed A B             zel_gl_conv_needed
//   nls                    rnlsinit and the classes of 'A', ' ', 0x80, 0xB0
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/client_locale.h"
#include "base/cvt.h"
#include "base/fields.h"
#include "base/locale_state.h"
#include "base/msgfile.h"
#include "base/nls_tables.h"
#include "base/thread_state.h"
#include "locale/core/gl_setlocale.h"
#include "locale/core/gl_support.h"

namespace {

std::string Hex(const char* p, int32_t n) {
  std::string out;
  char b[3];
  for (int32_t i = 0; i < n; i++) {
    std::snprintf(b, sizeof b, "%02x", static_cast<unsigned char>(p[i]));
    out += b;
  }
  return out;
}

std::string Unhex(const std::string& h) {
  std::string out;
  for (size_t i = 0; i + 1 < h.size(); i += 2) {
    out += static_cast<char>(std::strtol(h.substr(i, 2).c_str(), nullptr, 16));
  }
  return out;
}

void PrintList(const char* label, const RglNameNode* node) {
  std::printf("names %s", label);
  for (; node != nullptr; node = node->next) {
    for (int32_t i = 0; i < node->count; i++) {
      std::printf(" %s", node->names[i] != nullptr ? node->names[i] : "(null)");
    }
    std::printf(" |");
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  ClientLocaleState* st = rgllocstate();
  for (int i = 1; i < argc; i++) {
    const std::string cmd = argv[i];
    if (cmd == "init") {
      const int r = rglinit();
      std::printf("init %d %d\n", r, rgetglerror());
    } else if (cmd == "zel") {
      const int r = zel_gl_init();
      std::printf("zel %d %d\n", r, st->client != nullptr ? st->client->error : 0);
    } else if (cmd == "state") {
      char* time_name = st->client != nullptr ? gl_setlocale_4(st->client, GL_TIME, nullptr) : nullptr;
      std::printf("state ctype=%s time=%s db_is_client=%d c2d=%d d2c=%d fs=%d dbnls=%d\n",
                  st->categories[RGL_CAT_CTYPE], time_name != nullptr ? time_name : "(none)",
                  st->database == st->client ? 1 : 0, st->client_to_db != nullptr ? 1 : 0,
                  st->db_to_client != nullptr ? 1 : 0,
                  st->client_to_fs != nullptr || st->fs_to_client != nullptr ? 1 : 0, st->dbnls);
      gl_destroystring(time_name);
    } else if (cmd == "env" && i + 1 < argc) {
      const char* v = std::getenv(argv[++i]);
      std::printf("env %s=%s\n", argv[i], v != nullptr ? v : "(none)");
    } else if (cmd == "upshift" && i + 1 < argc) {
      std::string s = argv[++i];
      rupshift(s.data());
      std::printf("upshift %s\n", s.c_str());
    } else if (cmd == "date") {
      std::printf("date %s order %d %d %d kind %d explicit %d known %d gregorian %d\n",
                  st->date_format != nullptr ? st->date_format : "(none)", st->date_order[0],
                  st->date_order[1], st->date_order[2], st->date_kind, st->date_explicit,
                  st->date_known, st->gregorian);
    } else if (cmd == "names" && i + 1 < argc) {
      const std::string which = argv[++i];
      PrintList(which.c_str(), which == "abbr"   ? st->month_abbr
                               : which == "full" ? st->month_full
                                                 : st->era_names);
    } else if (cmd == "msg" && i + 1 < argc) {
      char text[512];
      const int32_t r = rgetmsg(std::atoi(argv[++i]), text, sizeof text);
      std::printf("msg %d %s\n", r, text);
    } else if (cmd == "status") {
      ClientState* cs = rclientstate();
      std::printf("status %d %d %d\n", rgetinitstat(), rclientstatus(), cs != nullptr ? 1 : 0);
    } else if (cmd == "cvt" && i + 3 < argc) {
      const std::string dir = argv[++i];
      const int32_t size = std::atoi(argv[++i]);
      const std::string src = Unhex(argv[++i]);
      GlConverter* cv = dir == "c2d" ? st->client_to_db : st->db_to_client;
      std::vector<char> out(static_cast<size_t>(size));
      int32_t truncated = -1;
      const int32_t count = static_cast<int32_t>(src.size());
      rsetglerror(0);
      const int32_t r = cvt_tobuf(cv, src.data(), &count, out.data(), size, &truncated);
      std::printf("cvt %d %d %s %d\n", r, truncated, r > 0 ? Hex(out.data(), r).c_str() : "-",
                  rgetglerror());
    } else if (cmd == "needed" && i + 2 < argc) {
      const char* a = argv[++i];
      const char* b = argv[++i];
      std::printf("needed %d\n", zel_gl_conv_needed(a, b));
    } else if (cmd == "nls") {
      const int r = rnlsinit();
      std::printf("nls %d %02x %02x %02x %02x\n", r, rnls_classtab['A' + 1], rnls_classtab[' ' + 1],
                  rnls_classtab[0x80 + 1], rnls_classtab[0xB0 + 1]);
    } else {
      std::printf("bad %s\n", cmd.c_str());
    }
    std::fflush(stdout);
  }
  return 0;
}
