#include "platform/find_file.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

// Names of a search, or "<error N>" when it does not start.
std::vector<std::string> List(const std::string& pattern) {
  std::vector<std::string> names;
  tvp::FindSearch* search = nullptr;
  tvp::FindData data;
  int32_t rc = tvp::FindFirst(pattern, &search, &data);
  if (rc != 0) return {"<error " + std::to_string(rc) + ">"};
  do {
    names.push_back(data.name + (data.attributes & tvp::kFileAttributeDirectory ? "/" : ""));
  } while ((rc = tvp::FindNext(search, &data)) == 0);
  EXPECT_EQ(18, rc);
  EXPECT_EQ(18, tvp::FindNext(search, &data));  // stays at the end
  tvp::FindClose(search);
  return names;
}

TEST(FindFileTest, ListsMatchingNamesInByteOrder) {
  tevtest::TempInstall dir;  // holds etc/
  for (const char* name : {"b.dat", "a.idx", "B.dat", "a.dat", "[x].dat", "long.name.dat", "\xc3\xa9.dat"}) {
    dir.WriteFile(std::string("d/") + name, "x");
  }
  dir.MakeDir("d/sub.dat");
  const std::string d = dir.Path("d");
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {d + "/*", {"./", "../", "B.dat", "[x].dat", "a.dat", "a.idx", "b.dat", "long.name.dat",
                  "sub.dat/", "\xc3\xa9.dat"}},
      {d + "/*.dat", {"B.dat", "[x].dat", "a.dat", "b.dat", "long.name.dat", "sub.dat/",
                      "\xc3\xa9.dat"}},
      {d + "\\a.*", {"a.dat", "a.idx"}},
      {d + "/?.dat", {"B.dat", "a.dat", "b.dat"}},
      {d + "/[x].dat", {"[x].dat"}},  // brackets match themselves
      {d + "/*.*", {"./", "../", "B.dat", "[x].dat", "a.dat", "a.idx", "b.dat", "long.name.dat",
                    "sub.dat/", "\xc3\xa9.dat"}},
      {d + "/a.dat", {"a.dat"}},
      {d + "/*.none", {"<error 2>"}},
      {d + "/missing/*", {"<error 3>"}},
      {d + "/a.dat/*", {"<error 3>"}},
      {"", {"<error 87>"}},
  };
  for (const auto& [pattern, expected] : cases) EXPECT_EQ(expected, List(pattern)) << pattern;
}

}  // namespace
