// A fixture with one fixed-length pair ("t", 20-byte records) made and
// closed, and every isfd closed again at the end of each test.
#pragma once

#include <string>

#include "isam/isam.h"
#include "tests/isam/isam_fixture.h"

namespace isamtest {

class IsfdTest : public PairTest {
 protected:
  void SetUp() override {
    isam::IsamSharedFile* sf = Make("t", 20);
    ASSERT_NE(sf, nullptr);
    Close(sf);
    name_ = Name("t");
    idx_ = name_ + ".idx";
  }
  void TearDown() override {
    for (int i = 0; i < IS_MAXFILES; ++i) {
      if (isam::is_openfile(i) != nullptr) isclose(i);
    }
    PairTest::TearDown();
  }
  std::string Status() const {
    return std::string(isstatus_a, 2) + "/" + std::string(isstatus_b, 2);
  }

  std::string name_;
  std::string idx_;
};

// Lock ranges as the kernel lists them.
inline const char* const kOpenShared = "READ 2147483647-2147483647";
inline const char* const kOpenExclusive = "WRITE 2147483647-2147483647";
inline const char* const kWholeFile = "WRITE 1073741824-2147483645";

}  // namespace isamtest
