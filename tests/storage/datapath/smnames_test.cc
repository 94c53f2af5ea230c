#include "storage/datapath/smnames.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "storage/datapath/smhandle.h"
#include "storage/datapath/volume_records.h"
#include "tests/storage/config_env.h"

namespace {

XbsaObjectDescriptor Object(const char* space, const char* path, const char* kind, uint32_t high,
                            uint32_t low) {
  XbsaObjectDescriptor d{};
  std::snprintf(d.objectSpaceName, sizeof d.objectSpaceName, "%s", space);
  std::snprintf(d.pathName, sizeof d.pathName, "%s", path);
  std::snprintf(d.objectKind, sizeof d.objectKind, "%s", kind);
  d.copyId = {high, low};
  return d;
}

// The expansion, or "<null>".
std::string Expand(const std::string& tmpl, const XbsaObjectDescriptor& d, int part) {
  std::unique_ptr<char, decltype(&std::free)> out(sm_expand_template(tmpl.c_str(), &d, part),
                                                  &std::free);
  return out ? std::string(out.get()) : "<null>";
}

TEST(ExpandTemplate, Placeholders) {
  const auto win = Object("rootdbs", "\\srv\\a\\b\\c", "R", 1, 2);
  const auto posix = Object("rootdbs", "/srv/a/b/c", "R", 0, 42);
  struct {
    const char* tmpl;
    const XbsaObjectDescriptor* obj;
    int part;
    const char* expected;
  } const cases[] = {
      {"@obj_id@", &win, 1, "4294967298"},  // (1 << 32) + 2
      {"@obj_space@", &win, 1, "rootdbs"},
      {"@obj_name@", &win, 1, "\\srv\\a\\b\\c"},
      {"@obj_path@", &posix, 1, "/srv/a/b/c"},
      {"@obj_name1@", &win, 1, "_srv_a_b_c"},
      {"@obj_name1@", &posix, 1, "_srv_a_b_c"},
      {"@short_name@", &win, 1, "a"},
      {"@short_name@", &posix, 1, "a"},
      {"@obj_part@", &win, 7, "7"},
      {"put --to=@obj_name@/@short_name@.@obj_id@.@obj_part@", &posix, 3,
       "put --to=/srv/a/b/c/a.42.3"},
      {"@word@obj_id@", &posix, 1, "@word42"},  // not a placeholder: kept
      {"@x@obj_id@", &posix, 1, "@x42"},
      {"mail me@host", &posix, 1, "mail me@host"},
      {"trailing@", &posix, 1, "trailing@"},
      {"@", &posix, 1, "@"},
      {"@obj_id", &posix, 1, "@obj_id"},
      {"", &posix, 1, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Expand(c.tmpl, *c.obj, c.part), c.expected) << c.tmpl;
}

TEST(ExpandTemplate, ShortNameByKind) {
  struct {
    const char* path;
    const char* kind;
    const char* expected;
  } const cases[] = {
      {"\\srv\\a\\b\\c", "C", "b\\c"},
      {"/srv/a/b/c", "C", "b/c"},
      {"\\srv\\a\\b\\c", "L", "b\\c"},
      {"/srv/a/b/c", "Log", "b/c"},  // the first character decides
      {"\\srv\\a\\b\\c", "R", "a"},
      {"/srv/a/b/c", "", "a"},
      {"/srv/a", "R", "a"},            // no separator after it: the rest
      {"\\srv/a\\b", "R", "a"},        // mixed separators
      {"/srv/a", "C", "<null>"},       // no second component end
      {"/srv", "R", "<null>"},         // no separator after the first character
      {"srv", "C", "<null>"},
      {"/", "R", "<null>"},
      {"", "R", "<null>"},
  };
  for (const auto& c : cases) {
    const auto d = Object("s", c.path, c.kind, 0, 1);
    EXPECT_EQ(Expand("@short_name@", d, 1), c.expected) << c.path << " kind " << c.kind;
  }
}

TEST(ExpandTemplate, RefusesWhatDoesNotFit) {
  const std::string long_path = "/" + std::string(1000, 'p');
  const auto d = Object("s", long_path.c_str(), "R", 0, 1);
  // Each "@obj_name@" gives 1,001 bytes: two fit (2,002 + NUL), three do not.
  EXPECT_EQ(Expand("@obj_name@@obj_name@", d, 1).size(), 2002u);
  EXPECT_EQ(Expand("@obj_name@@obj_name@@obj_name@", d, 1), "<null>");
  // The boundary: 2,047 characters fit with their NUL, 2,048 do not.
  EXPECT_EQ(Expand(std::string(2047, 'x'), d, 1).size(), 2047u);
  EXPECT_EQ(Expand(std::string(2048, 'x'), d, 1), "<null>");
  EXPECT_EQ(Expand(std::string(2046, 'x') + "@obj_part@", d, 1).size(), 2047u);
  EXPECT_EQ(Expand(std::string(2046, 'x') + "@obj_part@", d, 10), "<null>");
  EXPECT_EQ(sm_expand_template(nullptr, &d, 1), nullptr);
  EXPECT_EQ(sm_expand_template("x", nullptr, 1), nullptr);
}

TEST(PartFileName, BoundaryWithAndWithoutRootDirectory) {
  char out[1024];
  struct {
    size_t root, volume, file;
  } const splits[] = {{0, 500, 504}, {100, 400, 504}, {1, 1, 1002}};
  for (const auto& s : splits) {
    const std::string root(s.root, 'r');
    const std::string volume(s.volume, 'v');
    // Lengths adding up to 1,004 fit a 1,024-byte buffer; 1,005 do not.
    std::string file(s.file, 'f');
    ASSERT_EQ(sm_part_file_name(root.c_str(), volume.c_str(), file.c_str(), 2147483647, out,
                                sizeof out), 0);
    const std::string expected =
        (s.root ? root + "/" : "") + volume + file + ".2147483647";
    EXPECT_EQ(std::string(out), expected);
    file += 'f';
    EXPECT_EQ(sm_part_file_name(root.c_str(), volume.c_str(), file.c_str(), 1, out, sizeof out),
              24);
  }
  ASSERT_EQ(sm_part_file_name("", "/srv/dev", "\\db\\x.rootdbs.1", 3, out, sizeof out), 0);
  EXPECT_STREQ(out, "/srv/dev\\db\\x.rootdbs.1.3");
}

// Through the handle: ROOTFILEDIR comes from the storage-manager
// configuration file.
TEST(PartFileName, FromTheConfiguration) {
  for (const std::string root : {"", "/backup/root"}) {
    tevtest::ConfigEnv env;
    if (!root.empty()) env.install().WriteFile("etc/tevconfig", "ROOTFILEDIR " + root + "\n");
    ASSERT_EQ(zarLoadConfig(0), 0);
    ASSERT_STREQ(zarGetConfig()->rootFileDir, root.c_str());
    uint32_t number = 0;
    ASSERT_EQ(create_bsa_handle(&number), 0);
    zarHandle* h = nullptr;
    ASSERT_EQ(find_bsa_handle(number, &h, "t.cc", 1), 0);

    TevVolume volume{};
    const std::string path = "/srv/file_device";
    std::snprintf(volume.path, sizeof volume.path, "%s", path.c_str());
    TevObjectDetail detail{};
    detail.partNumber = 12;
    char out[1024];
    std::string file(1004 - root.size() - path.size(), 'f');
    ASSERT_EQ(zarGenFileName(h, out, sizeof out, &volume, file.c_str(), &detail), 0);
    EXPECT_EQ(std::string(out), (root.empty() ? "" : root + "/") + path + file + ".12");
    file += 'f';
    EXPECT_EQ(zarGenFileName(h, out, sizeof out, &volume, file.c_str(), &detail), 24);
    EXPECT_EQ(zarGenFileName(h, out, sizeof out, nullptr, file.c_str(), &detail), 22);
    EXPECT_EQ(zarGenFileName(nullptr, out, sizeof out, &volume, file.c_str(), &detail), 22);

    const auto d = Object("space", "/srv/a/b", "R", 0, 9);
    std::unique_ptr<char, decltype(&std::free)> cloud(
        expandStdioArg("@obj_name@/@short_name@.@obj_id@.@obj_part@", &d, &detail), &std::free);
    ASSERT_NE(cloud, nullptr);
    EXPECT_STREQ(cloud.get(), "/srv/a/b/a.9.12");
    EXPECT_EQ(expandStdioArg("x", &d, nullptr), nullptr);
    destroy_bsa_handles(0);
  }
}

}  // namespace
