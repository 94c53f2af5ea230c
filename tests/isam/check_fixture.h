// Running the check utility on pairs that a test made, and the layers
// under the record calls for filling and damaging them.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace isamtest {

struct CheckRun {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// Runs the check program on the given arguments ("-y", "-l", paths) with
// the answers on its standard input.
// ISAM_CHECK_COLLATION names the current collation when collation is not
// null.
inline CheckRun RunCheck(const std::vector<std::string>& args, const std::string& answers = "",
                         const char* collation = nullptr) {
  tevtest::RunOptions opt;
  opt.env["TARVELONDIR"] = tevtest::BuildTree();
  if (collation != nullptr) opt.env["ISAM_CHECK_COLLATION"] = collation;
  opt.stdin_data = answers;
  tevtest::RunResult r = tevtest::RunProgram(tevtest::BuiltProgram("isam_check_driver"), args, opt);
  return {r.exit_code, r.out, r.err};
}

// The pair (closed by the caller) checks with no finding and no question.
inline void ExpectCleanCheck(const std::string& name) {
  CheckRun r = RunCheck({name});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(r.out.find("ERROR"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("? "), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Corrupt"), std::string::npos) << r.out;
}

}  // namespace isamtest
