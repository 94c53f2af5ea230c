// The exported conversions between two named locales. Each pair's
// conversion object is opened on first use and kept for the life of the
// process, so that repeated calls do not open (and leak) a new one each
// time.

#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "base/cvt.h"
#include "base/locale_state.h"
#include "locale/core/gl_langinfo.h"
#include "locale/core/gl_lc_spec.h"

namespace {

constexpr uint16_t kUnknownCodeSet = 0xE000;
constexpr int32_t kLangInfoCodeSet = 60;

struct Opened {
  std::string target;
  std::string source;
  GlConverter* cv;  // null: the same code set
};

std::mutex g_mu;
// Never destroyed: the converters stay usable until the process ends.
std::vector<Opened>& OpenedList() {
  static auto* list = new std::vector<Opened>;
  return *list;
}

// Opens (or finds) the converter to target from source: true with *cv
// (null for the same code set); false with the client locale's error 8.
bool Open(const char* target, const char* source, GlConverter** cv) {
  if (target == nullptr || source == nullptr) return false;
  std::lock_guard<std::mutex> lock(g_mu);
  for (const Opened& o : OpenedList()) {
    if (o.target == target && o.source == source) {
      *cv = o.cv;
      return true;
    }
  }
  GlConverter* c = nullptr;
  if (gl_cv_load(&c, target, source, nullptr, nullptr) < 0) {
    rglcvdrop(c);
    if (GlLocale* loc = rgllocstate()->client) loc->error = 8;
    return false;
  }
  OpenedList().push_back({target, source, c});
  *cv = c;
  return true;
}

// The code-set number of a locale name: from the registry, else from the
// code-set name of the loaded locale; kUnknownCodeSet when neither knows.
uint16_t CodeSetNumber(const char* name) {
  if (name == nullptr) return kUnknownCodeSet;
  const uint16_t n = gl_lc_spec2cs_num(nullptr, name, nullptr);
  if (n != kUnknownCodeSet) return n;
  GlLocale* loc = nullptr;
  int32_t flags[RGL_NCATS] = {0};
  if (rglloadlocale(&loc, name, flags) != 0) return kUnknownCodeSet;
  const char* cs = gl_nl_langinfo(loc, kLangInfoCodeSet);
  const uint16_t r = cs != nullptr ? gl_lc_spec2cs_num(nullptr, cs, nullptr) : kUnknownCodeSet;
  gl_lc_unload(loc);
  return r;
}

}  // namespace

int32_t zel_gl_cv_mconv(GlConvState* state, char** out, int32_t* out_left, const char* target,
                        const char** in, int32_t* in_left, const char* source) {
  GlConverter* cv = nullptr;
  if (!Open(target, source, &cv)) return -1;
  if (out == nullptr || *out == nullptr || out_left == nullptr || *out_left < 0 || in == nullptr ||
      *in == nullptr) {
    return -1;
  }
  if (cv == nullptr) {
    // The same code set: a plain copy of what fits.
    const int32_t avail =
        in_left != nullptr ? *in_left : static_cast<int32_t>(std::strlen(*in)) + 1;
    const int32_t n = avail < *out_left ? avail : *out_left;
    std::memmove(*out, *in, static_cast<size_t>(n));
    *out += n;
    *in += n;
    *out_left -= n;
    if (in_left != nullptr) *in_left -= n;
    return n < avail ? -1 : 0;
  }
  uint32_t room = static_cast<uint32_t>(*out_left);
  int32_t subst = 0;
  const int32_t r = gl_cv_mconv(cv, state, in, in_left, out, &room, &subst);
  *out_left = static_cast<int32_t>(room);
  return r < 0 ? cv->error_number : r;
}

int32_t zel_gl_cv_outbuflen(const char* target, const char* source, int32_t n) {
  GlConverter* cv = nullptr;
  if (!Open(target, source, &cv)) return -1;
  return gl_cv_outbuflen(cv, n);
}

int32_t zel_gl_conv_needed(const char* a, const char* b) {
  const uint16_t nb = CodeSetNumber(b);
  if (nb == kUnknownCodeSet) return -1;
  const uint16_t na = CodeSetNumber(a);
  if (na == kUnknownCodeSet) return -1;
  return na != nb ? 1 : 0;
}

int32_t zel_gl_cv_sb2sb_table(const char* target, const char* source, unsigned char** table) {
  static unsigned char identity[256] = {0};
  static std::once_flag once;
  std::call_once(once, [] {
    for (int i = 0; i < 256; i++) identity[i] = static_cast<unsigned char>(i);
  });
  GlConverter* cv = nullptr;
  if (table == nullptr || !Open(target, source, &cv)) return -1;
  if (cv == nullptr) {
    *table = identity;
    return 0;
  }
  if (cv->byte_table == nullptr) return -1;
  *table = cv->byte_table;
  return 0;
}
