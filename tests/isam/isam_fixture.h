// A temporary directory for ISAM file pairs, and helpers to make, open and
// close pairs through the library.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "isam/buffer_pool.h"
#include "isam/files.h"
#include "isam/header.h"
#include "isam/pair_setup.h"
#include "isam/thread_state.h"
#include "tests/support/test_support.h"

namespace isamtest {

class PairTest : public ::testing::Test {
 protected:
  void TearDown() override {
    isam::IsamThreadState& st = isam::is_state();
    for (auto& slot : st.sharedfiles) {
      if (!slot) continue;
      while (slot->refcount > 0) Close(slot.get());
    }
    st.iserrno = 0;
    st.isiocode = 0;
  }

  std::string Name(const std::string& base) const { return dir_.Path(base); }
  std::string Bytes(const std::string& path) const { return tevtest::ReadFile(path); }

  // A new pair with the given record lengths (maximum 0: fixed length).
  isam::IsamSharedFile* Make(const std::string& base, int minlen, int maxlen = 0) {
    std::string name = Name(base);
    if (isam::is_createpair(name) != 0) return nullptr;
    isam::IsamSharedFile* sf = isam::is_openfiles(name, IS_INOUT);
    if (sf == nullptr) return nullptr;
    if (isam::is_initpair(sf, minlen, maxlen, nullptr) != 0 || isam::is_flushfile() != 0) {
      return nullptr;
    }
    return sf;
  }

  isam::IsamSharedFile* Open(const std::string& base) {
    isam::IsamSharedFile* sf = isam::is_openfiles(Name(base), IS_INOUT);
    if (sf == nullptr || isam::is_loadpair(sf) != 0) return nullptr;
    return sf;
  }

  // Makes the pair current again, as the start of a call does.
  void Use(isam::IsamSharedFile* sf) { ASSERT_EQ(isam::is_usefile(sf), 0); }

  void Close(isam::IsamSharedFile* sf) {
    isam::is_state().curfile = sf;
    isam::is_flushfile();
    isam::is_releasefiles(sf);
  }

  int Errno() const { return isam::is_state().iserrno; }

  tevtest::TempInstall dir_;
};

}  // namespace isamtest
