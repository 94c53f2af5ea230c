// Helpers shared by the value conversions, the comparison and the pattern
// operators (not exported).
#pragma once

#include <stdint.h>

#include <memory>

#include "sqltypes/sqlvalue.h"

// A NUL-terminated copy of a text value: on the stack up to 40 bytes, on
// the heap beyond, for the length of a call.
class SqlText {
 public:
  // 0, or -406 when the copy cannot be allocated.
  int Take(const SqlValue* v);
  const char* text() const { return text_; }
  int32_t length() const { return len_; }
  bool missing() const { return missing_; }
  int32_t TrimmedLength() const;

 private:
  char small_[41];
  std::unique_ptr<char[]> big_;
  char* text_ = small_;
  int32_t len_ = 0;
  bool missing_ = false;
};
