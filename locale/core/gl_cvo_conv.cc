// The conversion engines and their dispatch. All engines share one loop:
// look up the next source character, check its entry, check the room,
// write, advance; the cursors are written back however the loop ends, so a
// character cut short at the end of a chunk stays at the input pointer for
// the caller to present again with the next chunk.
#include <string.h>

#include "locale/core/gl_cvo.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_support.h"

namespace {

constexpr int32_t kUnlimited = 0x7fffffff;

void SetError(GlConverter *cv, int32_t e) { *_gl_ext_errno(cv) = e; }

// The bytes one character produces: an optional prefix and suffix (shift
// sequences) around the body.
struct Output {
  const unsigned char *prefix = nullptr;
  int32_t prefix_len = 0;
  unsigned char body[4];
  int32_t body_len = 0;
  const unsigned char *suffix = nullptr;
  int32_t suffix_len = 0;
  int32_t Total() const { return prefix_len + body_len + suffix_len; }
};

// What an engine supplies to the shared loop.
struct Engine {
  // The entry of the character at s (n bytes left) and its length, or NULL
  // with the converter's error number set.
  virtual const unsigned char *Lookup(GlConverter *cv, const unsigned char *s, int32_t n,
                                      int32_t *len) = 0;
  // Fills the output of an entry; last: no character follows in this call.
  virtual void Emit(GlConverter *cv, const unsigned char *v, bool last, Output *o) = 0;
  // The character was written.
  virtual void Commit(const unsigned char *) {}
};

const unsigned char *LookupGeneral(GlConverter *cv, const GlCodeTable *t,
                                   const unsigned char *s, int32_t n, int32_t *len) {
  return static_cast<const unsigned char *>(_gl_ct_lookup_mbn(t, s, n, len, cv));
}

void StoredBytes(const unsigned char *v, Output *o) {
  o->body_len = v[0] & GL_CV_COUNT_MASK;
  memcpy(o->body, v + 1, static_cast<size_t>(o->body_len));
}

void Reversed(const unsigned char *v, int32_t n, Output *o) {
  o->body_len = n;
  for (int32_t i = 0; i < n; ++i) o->body[i] = v[n - i];
}

char *Put(char *o, const unsigned char *bytes, int32_t n) {
  if (n > 0) memcpy(o, bytes, static_cast<size_t>(n));
  return o + n;
}

bool FixedWidth(int32_t min, int32_t max, int32_t w) { return min == w && max == w; }

int32_t Run(GlConverter *cv, Engine &engine, const char **in, int32_t *in_len, char **out,
            uint32_t *room, int32_t *subst) {
  int32_t count = in_len != nullptr ? *in_len : kUnlimited;
  uint32_t left = *room;
  auto *p = reinterpret_cast<const unsigned char *>(*in);
  char *o = out != nullptr ? *out : nullptr;
  *subst = 0;
  int32_t rc = 0;
  while (count > 0) {
    int32_t len = 0;
    const unsigned char *v = engine.Lookup(cv, p, count, &len);
    if (v == nullptr) {
      _gl_debug_log("Error in Translation.");
      rc = -1;
      break;
    }
    if ((v[0] & GL_CV_VALID) == 0) {
      _gl_debug_log("Error in Translation (GL_EILSEQ)");
      SetError(cv, GL_EILSEQ);
      rc = -1;
      break;
    }
    bool stop = in_len == nullptr && (v[0] & GL_CV_TERMINATOR) != 0;
    Output bytes;
    engine.Emit(cv, v, stop || count - len == 0, &bytes);
    if (static_cast<uint32_t>(bytes.Total()) > left) {
      _gl_debug_log("Error in Translation (GL_E2BIG)");
      SetError(cv, GL_E2BIG);
      rc = -1;
      break;
    }
    if (v[0] & GL_CV_SUBST) *subst = 1;
    if (o != nullptr) {
      o = Put(o, bytes.prefix, bytes.prefix_len);
      o = Put(o, bytes.body, bytes.body_len);
      o = Put(o, bytes.suffix, bytes.suffix_len);
    }
    engine.Commit(v);
    left -= static_cast<uint32_t>(bytes.Total());
    p += len;
    count -= len;
    if (stop) break;
  }
  *in = reinterpret_cast<const char *>(p);
  if (in_len != nullptr) *in_len = count;
  if (out != nullptr) *out = o;
  *room = left;
  return rc;
}

struct General : Engine {
  const unsigned char *Lookup(GlConverter *cv, const unsigned char *s, int32_t n,
                              int32_t *len) override {
    return LookupGeneral(cv, cv->table, s, n, len);
  }
  void Emit(GlConverter *, const unsigned char *v, bool, Output *o) override { StoredBytes(v, o); }
};

struct WideSource : Engine {
  const unsigned char *Lookup(GlConverter *cv, const unsigned char *s, int32_t n,
                              int32_t *len) override {
    int32_t unit = FixedWidth(cv->source_min_len, cv->source_max_len, 4) ? 4 : 2;
    *len = unit;
    return static_cast<const unsigned char *>(_gl_ct_lookup_unit(cv->table, s, n, unit, cv));
  }
  void Emit(GlConverter *cv, const unsigned char *v, bool, Output *o) override {
    int32_t n = v[0] & GL_CV_COUNT_MASK;
    if ((FixedWidth(cv->target_min_len, cv->target_max_len, 2) && n == 2) ||
        (FixedWidth(cv->target_min_len, cv->target_max_len, 4) && n == 4)) {
      Reversed(v, n, o);
    } else {
      StoredBytes(v, o);
    }
  }
};

struct WideTarget : General {
  void Emit(GlConverter *cv, const unsigned char *v, bool, Output *o) override {
    Reversed(v, FixedWidth(cv->target_min_len, cv->target_max_len, 4) ? 4 : 2, o);
  }
};

struct SingleByte : Engine {
  const unsigned char *Lookup(GlConverter *cv, const unsigned char *s, int32_t,
                              int32_t *len) override {
    const GlCodeTable *t = cv->table;
    *len = 1;
    if (t->root.values == nullptr) return t->default_value;
    return t->root.values + (static_cast<size_t>(s[0]) << t->shift);
  }
  void Emit(GlConverter *, const unsigned char *v, bool, Output *o) override {
    o->body[0] = v[1];
    o->body_len = 1;
  }
};

struct Stateful : Engine {
  GlConvState *st;
  bool out_after = false;  // the output state after the pending character

  explicit Stateful(GlConvState *state) : st(state) {}

  const unsigned char *Lookup(GlConverter *cv, const unsigned char *s, int32_t n,
                              int32_t *len) override {
    const GlCodeTable *t = st->in_shift && cv->shift_table != nullptr ? cv->shift_table : cv->table;
    return LookupGeneral(cv, t, s, n, len);
  }
  void Emit(GlConverter *cv, const unsigned char *v, bool last, Output *o) override {
    StoredBytes(v, o);
    bool shifted = (v[0] & GL_CV_SHIFTED) != 0;
    out_after = st->out_shift != 0;
    if (shifted != out_after) {
      int s = shifted ? 0 : 1;
      o->prefix = cv->shift_seq[s];
      o->prefix_len = cv->shift_seq_len[s];
      out_after = shifted;
    }
    if (st->flush && out_after && last) {
      o->suffix = cv->shift_seq[1];
      o->suffix_len = cv->shift_seq_len[1];
      // The shift-in is in the output: a later call must start with the
      // shift-out again when it continues in the shifted state.
      out_after = false;
    }
  }
  void Commit(const unsigned char *v) override {
    if (v[0] & GL_CV_TOGGLE) st->in_shift = !st->in_shift;
    st->out_shift = out_after;
  }
};

}  // namespace

int32_t _gl_cv_conv_general(GlConverter *cv, GlConvState *, const char **in, int32_t *in_len,
                            char **out, uint32_t *room, int32_t *subst) {
  General e;
  return Run(cv, e, in, in_len, out, room, subst);
}

int32_t _gl_cv_conv_wide_source(GlConverter *cv, GlConvState *, const char **in,
                                int32_t *in_len, char **out, uint32_t *room, int32_t *subst) {
  WideSource e;
  return Run(cv, e, in, in_len, out, room, subst);
}

int32_t _gl_cv_conv_wide_target(GlConverter *cv, GlConvState *, const char **in,
                                int32_t *in_len, char **out, uint32_t *room, int32_t *subst) {
  WideTarget e;
  return Run(cv, e, in, in_len, out, room, subst);
}

int32_t _gl_cv_conv_sbcs(GlConverter *cv, GlConvState *, const char **in, int32_t *in_len,
                         char **out, uint32_t *room, int32_t *subst) {
  SingleByte e;
  return Run(cv, e, in, in_len, out, room, subst);
}

int32_t _gl_cv_conv_stateful(GlConverter *cv, GlConvState *state, const char **in,
                             int32_t *in_len, char **out, uint32_t *room, int32_t *subst) {
  if (state->reset) state->in_shift = state->out_shift = 0;
  Stateful e(state);
  return Run(cv, e, in, in_len, out, room, subst);
}

int32_t gl_cv_mconv(GlConverter *cv, GlConvState *state, const char **in, int32_t *in_len,
                    char **out, uint32_t *room, int32_t *subst) {
  if (cv == nullptr) return -1;
  if (cv->engine == nullptr && cv->icu_flag != 1) {
    // An error converter, or one whose load failed: nothing to convert with.
    if (cv->error_number == 0) SetError(cv, GL_EBADARG);
    return -1;
  }
  if (in == nullptr || *in == nullptr || room == nullptr || subst == nullptr ||
      (out != nullptr && *out == nullptr) || (in_len != nullptr && *in_len < 0)) {
    SetError(cv, in_len != nullptr && *in_len < 0 ? GL_ENEGATIVE : GL_ENULLARG);
    return -1;
  }
  if (cv->icu_flag == 1) {
    GlGluApi *api = _gl_glu_api();
    if (api == nullptr) {
      SetError(cv, GL_EBADARG);
      return -1;
    }
    GluStatus st = 0;
    int32_t r = api->cv_conv(cv->icu_converter, state != nullptr ? state->flush : 1, in, in_len,
                             out, reinterpret_cast<int32_t *>(room), subst, &st);
    if (st > 0) SetError(cv, st);
    return r;
  }
  if (cv->source_stateful || cv->target_stateful) {
    GlConvState fresh = {1, 1, 0, 0};
    return _gl_cv_conv_stateful(cv, state != nullptr ? state : &fresh, in, in_len, out, room,
                                subst);
  }
  return cv->engine(cv, state, in, in_len, out, room, subst);
}

int32_t gl_miconv(GlConverter *cv, const char **in, int32_t *in_len, char **out, uint32_t *room,
                  int32_t *subst) {
  return gl_cv_mconv(cv, nullptr, in, in_len, out, room, subst);
}

int32_t gl_mconvlen(GlConverter *cv, const char **in, int32_t *in_len, uint32_t *room,
                    int32_t *subst) {
  return gl_cv_mconv(cv, nullptr, in, in_len, nullptr, room, subst);
}
