// The check utility's bitmaps of node and record numbers.

#include <algorithm>
#include <iterator>

#include "isam/check_state.h"

namespace isam {

bool CheckBitmap::Reset(int64_t count, int64_t dense) {
  count_ = count < 0 ? 0 : count;
  dense_ = std::clamp<int64_t>(dense, 0, count_);
  sparse_.clear();
  try {
    bits_.assign(static_cast<size_t>(dense_ / 8 + 1), 0);
  } catch (...) {
    bits_.clear();
    count_ = dense_ = 0;
    return false;
  }
  return true;
}

bool CheckBitmap::Get(int64_t n) const {
  if (n < 1 || n > count_) return false;
  if (n <= dense_) return (bits_[static_cast<size_t>(n / 8)] >> (n % 8)) & 1;
  return sparse_.count(n) != 0;
}

void CheckBitmap::Set(int64_t n) {
  if (n < 1 || n > count_) return;
  if (n <= dense_) {
    bits_[static_cast<size_t>(n / 8)] |= static_cast<unsigned char>(1 << (n % 8));
  } else {
    sparse_.insert(n);
  }
}

void CheckBitmap::Clear(int64_t n) {
  if (n < 1 || n > count_) return;
  if (n <= dense_) {
    bits_[static_cast<size_t>(n / 8)] &= static_cast<unsigned char>(~(1 << (n % 8)));
  } else {
    sparse_.erase(n);
  }
}

void CheckBitmap::ClearAll() {
  std::fill(bits_.begin(), bits_.end(), 0);
  sparse_.clear();
}

int64_t CheckBitmap::Count(int64_t count) const { return CountUnion(*this, count); }

int64_t CheckBitmap::CountUnion(const CheckBitmap& other, int64_t count) const {
  int64_t n = 0;
  int64_t top = std::min(count, dense_);
  // Whole bytes first; bit 0 (number 0) is never set.
  int64_t bytes = (top + 1) / 8;
  for (int64_t i = 0; i < bytes; ++i) {
    n += __builtin_popcount(bits_[static_cast<size_t>(i)] | other.bits_[static_cast<size_t>(i)]);
  }
  for (int64_t v = bytes * 8; v <= top; ++v) n += Get(v) || other.Get(v) ? 1 : 0;
  std::set<int64_t> above;
  for (const std::set<int64_t>* s : {&sparse_, &other.sparse_}) {
    for (auto it = s->begin(); it != s->end() && *it <= count; ++it) above.insert(*it);
  }
  return n + static_cast<int64_t>(above.size());
}

int64_t CheckBitmap::Next(int64_t n) const {
  int64_t v = std::max<int64_t>(n + 1, 1);
  while (v <= dense_) {
    unsigned char b = bits_[static_cast<size_t>(v / 8)];
    if (b == 0) {
      v = (v / 8 + 1) * 8;
      continue;
    }
    if ((b >> (v % 8)) & 1) return v;
    ++v;
  }
  auto it = sparse_.upper_bound(std::max(n, dense_));
  return it == sparse_.end() ? 0 : *it;
}

int64_t CheckBitmap::Last(int64_t limit) const {
  if (limit > count_) limit = count_;
  if (limit > dense_) {
    auto it = sparse_.upper_bound(limit);
    if (it != sparse_.begin() && *std::prev(it) > dense_) return *std::prev(it);
    limit = dense_;
  }
  for (int64_t v = limit; v >= 1; --v) {
    if (v % 8 == 7 && bits_[static_cast<size_t>(v / 8)] == 0) {
      v -= 7;
      continue;
    }
    if ((bits_[static_cast<size_t>(v / 8)] >> (v % 8)) & 1) return v;
  }
  return 0;
}

}  // namespace isam
