// Element marking and the weight cursor shared by the wide comparator and
// the sort keys.
#include <string.h>

#include "locale/core/gl_coll_internal.h"
#include "locale/core/gl_errors.h"

namespace glcoll {

void MarkElements(const GlLocale *loc, const GlWchar *ws, int32_t n, ElemMark *marks) {
  const int32_t ne = loc->coll_nelements;
  int32_t i = 0;
  const int32_t *starts = loc->coll_sbelemstart;
  while (i < n) {
    int32_t found = -1;
    // A byte that begins no element needs no search.
    bool may_start = starts == nullptr || ws[i] > 0xFF || starts[ws[i]] != 0;
    for (int32_t e = 0; e < ne && found < 0 && may_start; ++e) {
      const GlCollElement &el = loc->coll_elements[e];
      int64_t count = static_cast<int64_t>(el.count);
      if (count > n - i) continue;
      if (memcmp(el.chars, ws + i, static_cast<size_t>(count) * sizeof(GlWchar)) == 0) found = e;
    }
    if (found < 0) {
      marks[i] = ElemMark{-1, i};
      ++i;
      continue;
    }
    int32_t count = static_cast<int32_t>(loc->coll_elements[found].count);
    for (int32_t k = 0; k < count; ++k) marks[i + k] = ElemMark{found, i};
    i += count;
  }
}

bool Marks::Build(GlLocale *loc, const GlWchar *ws, int32_t n) {
  marks_ = nullptr;
  if (loc->coll_nelements <= 0 || n <= 0) return true;
  if (!buf_.Reserve(static_cast<size_t>(n))) {
    *_gl_ext_errno(loc) = GL_ENOMEM;
    return false;
  }
  MarkElements(loc, ws, n, buf_.data());
  marks_ = buf_.data();
  return true;
}

bool PositionList::Build(GlLocale *loc, const GlWchar *ws, int32_t n) {
  if (!pos_.Reserve(static_cast<size_t>(n > 0 ? n : 1))) {
    *_gl_ext_errno(loc) = GL_ENOMEM;
    return false;
  }
  const GlCodeTable *t = loc->coll_positions;
  const bool bytes = loc->single_byte && t->root.states != nullptr;
  int32_t *pos = pos_.data();
  for (int32_t i = 0; i < n; ++i) {
    uint32_t wc = ws[i];
    if (bytes && wc <= 0xFF && t->root.states[wc] == GL_CT_END) {
      pos[i] = ByteSlot(t, static_cast<unsigned char>(wc));
    } else {
      // No error yet: it is set when a pass reaches the character.
      const void *slot = _gl_ct_lookup_wc(t, wc, nullptr);
      uint16_t p = 0;
      if (slot != nullptr) memcpy(&p, slot, 2);
      pos[i] = slot != nullptr ? p : -1;
    }
    if (pos[i] > loc->coll_maxpos) pos[i] = -1;
  }
  return true;
}

WeightCursor::WeightCursor(GlLocale *loc, int32_t pass, const GlWchar *ws, int32_t n,
                           const ElemMark *marks, const int32_t *positions)
    : loc_(loc),
      weights_(loc->coll_weights[pass]),
      ws_(ws),
      marks_(marks),
      positions_(positions),
      n_(n),
      step_(loc->coll_direction[pass] == 1 ? 1 : -1),
      i_(step_ > 0 ? 0 : n - 1) {}

bool WeightCursor::PositionOf(uint32_t wc, int32_t *pos) {
  const GlCodeTable *t = loc_->coll_positions;
  if (loc_->single_byte && wc <= 0xFF && t->root.states != nullptr &&
      t->root.states[wc] == GL_CT_END) {
    *pos = ByteSlot(t, static_cast<unsigned char>(wc));
    return *pos <= loc_->coll_maxpos;
  }
  const void *slot = _gl_ct_lookup_wc(t, wc, loc_);
  if (slot == nullptr) return false;
  uint16_t p;
  memcpy(&p, slot, 2);
  if (p > loc_->coll_maxpos) return false;
  *pos = p;
  return true;
}

void WeightCursor::Advance() {
  if (marks_ != nullptr && marks_[i_].elem >= 0) {
    const ElemMark &m = marks_[i_];
    i_ = step_ > 0 ? m.start + static_cast<int32_t>(loc_->coll_elements[m.elem].count)
                   : m.start - 1;
  } else {
    i_ += step_;
  }
}

uint16_t WeightCursor::Next(uint32_t *code) {
  for (;;) {
    if (exp_ != nullptr) {
      int32_t count = static_cast<int32_t>(exp_->count);
      if (xi_ >= 0 && xi_ < count) {
        uint32_t c = exp_->chars[xi_];
        xi_ += step_;
        int32_t pos;
        if (!PositionOf(c, &pos)) break;
        uint16_t w = weights_[pos];
        if (w == GL_COLL_IGNORE) continue;
        *code = c;
        return w;  // no further expansion inside an expansion
      }
      exp_ = nullptr;
      Advance();  // past the unit that referred to the expansion
      continue;
    }
    if (dead_ || i_ < 0 || i_ >= n_) break;
    int32_t pos;
    uint32_t c;
    if (marks_ != nullptr && marks_[i_].elem >= 0) {
      pos = loc_->coll_elements[marks_[i_].elem].position;
      c = 1;
    } else {
      c = ws_[i_];
      pos = positions_[i_];
      if (pos < 0) {
        *_gl_ext_errno(loc_) = GL_EILSEQ;
        break;
      }
    }
    uint16_t w = weights_[pos];
    if ((w & GL_COLL_EXPANSION) && !(w & GL_COLL_BYCODE)) {
      exp_ = &loc_->coll_expansions[w & kWeightBits];
      xi_ = step_ > 0 ? 0 : static_cast<int32_t>(exp_->count) - 1;
      continue;
    }
    Advance();
    if (w == GL_COLL_IGNORE) continue;
    *code = c;
    return w;
  }
  dead_ = true;
  exp_ = nullptr;
  *code = 0;
  return 0;
}

int32_t ComparePass(GlLocale *loc, int32_t pass, const Prepared &p1, const Prepared &p2) {
  WeightCursor a(loc, pass, p1.ws, p1.n, p1.marks.get(), p1.positions.get());
  WeightCursor b(loc, pass, p2.ws, p2.n, p2.marks.get(), p2.positions.get());
  for (;;) {
    uint32_t c1 = 0, c2 = 0;
    uint16_t w1 = a.Next(&c1);
    uint16_t w2 = b.Next(&c2);
    if (w1 == 0 && w2 == 0) return 0;
    uint16_t l1 = Low14(w1), l2 = Low14(w2);
    if (l1 != l2) return l1 < l2 ? -1 : 1;
    if ((w1 & GL_COLL_BYCODE) && c1 != c2) return c1 < c2 ? -1 : 1;
  }
}

}  // namespace glcoll
