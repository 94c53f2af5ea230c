// Pieces shared by the comparators, the sort keys and the bound strings:
// work buffers that stay on the stack for short strings, the marking of
// collating elements in a wide string, and the weight cursor that walks one
// string through one collation pass. Not exported.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "locale/core/gl_category_data.h"
#include "locale/core/gl_codetable.h"
#include "locale/core/gl_locale.h"
#include "locale/core/gl_support.h"

namespace glcoll {

constexpr uint16_t kWeightBits = 0x3FFF;

inline uint16_t Low14(uint16_t w) { return static_cast<uint16_t>(w & kWeightBits); }

// The argument rules of every counted comparator: one length -1 without the
// other is error 56, a NULL string error 2, a length below -1 error 9.
// False (the comparison then gives 0) with the error stored.
inline bool LengthsOk(GlLocale *loc, const void *s1, int32_t l1, const void *s2, int32_t l2) {
  int32_t e = 0;
  if ((l1 == -1) != (l2 == -1)) {
    e = 56;
  } else if (s1 == nullptr || s2 == nullptr) {
    e = 2;
  } else if (l1 < -1 || l2 < -1) {
    e = 9;
  }
  if (e != 0 && loc != nullptr) *_gl_ext_errno(loc) = e;
  return e == 0;
}

// N items on the stack; more come from the allocation hook.
template <class T, size_t N = 128>
class WorkBuf {
 public:
  WorkBuf() = default;
  WorkBuf(const WorkBuf &) = delete;
  WorkBuf &operator=(const WorkBuf &) = delete;
  ~WorkBuf() {
    if (heap_ != nullptr) _gl_free(heap_);
  }
  // Room for n items; false when memory is exhausted.
  bool Reserve(size_t n) {
    if (n <= N) {
      data_ = stack_;
      return true;
    }
    if (heap_ != nullptr) _gl_free(heap_);
    heap_ = static_cast<T *>(_gl_malloc(static_cast<uint64_t>(n) * sizeof(T)));
    data_ = heap_ != nullptr ? heap_ : stack_;
    return heap_ != nullptr;
  }
  T *data() { return data_; }
  const T *data() const { return data_; }

 private:
  T stack_[N];
  T *heap_ = nullptr;
  T *data_ = stack_;
};

// The collating element that covers a character of a wide string: its
// index in coll_elements (-1 for none) and the index of its first
// character in the string.
struct ElemMark {
  int32_t elem;
  int32_t start;
};

// Marks the elements of ws[0..n): at each position the first element (in
// table order) whose characters follow there is taken and scanning goes on
// after it.
void MarkElements(const GlLocale *loc, const GlWchar *ws, int32_t n, ElemMark *marks);

// Marks for one string, on the stack up to 128 characters; NULL marks when
// the locale has no elements. False (error 3 stored) without memory.
class Marks {
 public:
  bool Build(GlLocale *loc, const GlWchar *ws, int32_t n);
  const ElemMark *get() const { return marks_; }

 private:
  WorkBuf<ElemMark> buf_;
  const ElemMark *marks_ = nullptr;
};

// The positions of the characters of a wide string, looked up once for all
// passes: -1 for a character the position table lacks.
class PositionList {
 public:
  bool Build(GlLocale *loc, const GlWchar *ws, int32_t n);
  const int32_t *get() const { return pos_.data(); }

 private:
  WorkBuf<int32_t> pos_;
};

// Walks one string through one pass, yielding its weights in the pass's
// direction: IGNORE skipped, expansions unfolded, elements taken whole. A
// character the position table lacks ends the walk (error 1 stays set).
class WeightCursor {
 public:
  WeightCursor(GlLocale *loc, int32_t pass, const GlWchar *ws, int32_t n, const ElemMark *marks,
               const int32_t *positions);
  // The next weight with its flags, and in *code the character that gave
  // it (1 for an element); 0 and code 0 once the string has ended.
  uint16_t Next(uint32_t *code);

 private:
  void Advance();
  bool PositionOf(uint32_t wc, int32_t *pos);

  GlLocale *loc_;
  const uint16_t *weights_;
  const GlWchar *ws_;
  const ElemMark *marks_;
  const int32_t *positions_;
  int32_t n_;
  int32_t step_;  // 1 forward, -1 backward
  int32_t i_;     // the character (or element start) being taken
  const GlCollExpansion *exp_ = nullptr;
  int32_t xi_ = 0;
  bool dead_ = false;
};

// One string prepared for the passes: element marks and positions.
struct Prepared {
  const GlWchar *ws;
  int32_t n;
  Marks marks;
  PositionList positions;
  bool Build(GlLocale *loc, const GlWchar *s, int32_t count) {
    ws = s;
    n = count;
    return marks.Build(loc, s, count) && positions.Build(loc, s, count);
  }
};

// One pass of the wide comparator over two strings: -1, 0 or 1.
int32_t ComparePass(GlLocale *loc, int32_t pass, const Prepared &a, const Prepared &b);

// The position of a single byte: the value of its one-byte key in the root
// of the position table, or the table's default value.
inline uint16_t ByteSlot(const GlCodeTable *t, unsigned char b) {
  const unsigned char *p = t->root.values != nullptr
                               ? t->root.values + (static_cast<size_t>(b) << t->shift)
                               : t->default_value;
  uint16_t v;
  __builtin_memcpy(&v, p, 2);
  return v;
}

// Writes the sort key of a wide string of n characters into out (at most
// size bytes); returns the full length without the terminating 0.
int32_t TableKey(GlLocale *loc, char *out, const GlWchar *ws, int32_t n, int32_t size);

}  // namespace glcoll
