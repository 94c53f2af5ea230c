// Descriptor recovery when the process runs out of file descriptors, and
// the rename guard.

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string>

#include "isam/isam.h"
#include "isam/records.h"
#include "tests/isam/child.h"
#include "tests/isam/isam_fixture.h"

namespace isamtest {
namespace {

using isam::is_state;

using FilesTest = PairTest;

TEST_F(FilesTest, RunningOutOfDescriptorsClosesIdleDataFiles) {
  ChildResult r = RunChild([this]() -> int {
    isam::IsamSharedFile* a = Make("a", 10);
    isam::IsamSharedFile* b = Make("b", 10);
    isam::IsamSharedFile* c = Make("c", 10);
    if (!a || !b || !c) return 10;
    if (int rc = UseEveryDescriptor(); rc != 0) return rc;

    // Creating and opening a fourth pair closes the other data files.
    isam::IsamSharedFile* d = Make("d", 10);
    if (d == nullptr) return 13;
    if (a->datfd != -1 || b->datfd != -1 || c->datfd != -1) return 14;
    if (a->idxfd < 0 || is_state().nopenpairs != 4) return 15;
    std::string rec = "0123456789";
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(rec.data());
    if (isam::datawrite(1, bytes, 10) != 0) return 16;

    // The next use of each file opens its data file again, closing others
    // when it must.
    for (isam::IsamSharedFile* sf : {a, b, c, d}) {
      if (isam::is_usefile(sf) != 0) return 17;
      if (isam::datawrite(2, bytes, 10) != 0) return 18;
      unsigned char buf[10];
      if (isam::dataread(2, buf) != 10) return 19;
    }
    if (d->datfd < 0) return 20;
    return 0;
  });
  EXPECT_EQ(r.exit_code, 0) << r.err;
}

int pauses = 0;
void CountPause() { ++pauses; }

TEST_F(FilesTest, RenameGuardNamesAndExclusion) {
  std::string path;
  int fd = -1;
  std::string base = Name("tab");
  ASSERT_EQ(isam::is_renameguard(base.c_str(), &path, &fd), 1);
  EXPECT_EQ(path, base + ".@mt");
  EXPECT_TRUE(dir_.Exists("tab.@mt"));
  EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);

  // A second taker (another open of the guard) tries ten times, pausing
  // before each try but the first, and leaves the holder's guard alone.
  std::string path2;
  int fd2 = -1;
  pauses = 0;
  void (*pause)() = isam::is_guardpause;
  isam::is_guardpause = CountPause;
  EXPECT_EQ(isam::is_renameguard(base.c_str(), &path2, &fd2), 0);
  EXPECT_EQ(pauses, 9);
  EXPECT_EQ(fd2, -1);
  EXPECT_TRUE(dir_.Exists("tab.@mt"));

  isam::is_renameunguard(&path, &fd);
  EXPECT_FALSE(dir_.Exists("tab.@mt"));
  EXPECT_EQ(fd, -1);
  ASSERT_EQ(isam::is_renameguard(base.c_str(), &path2, &fd2), 1);
  isam::is_renameunguard(&path2, &fd2);

  std::string dotted = Name("tab.old");
  ASSERT_EQ(isam::is_renameguard(dotted.c_str(), &path, &fd), 1);
  EXPECT_EQ(path, Name("tab..@mt"));
  isam::is_renameunguard(&path, &fd);

  // A relative name is made absolute from the current directory.
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  int held = isam::is_renameguard("rel", &path, &fd);
  ASSERT_EQ(chdir(cwd), 0);
  ASSERT_EQ(held, 1);
  EXPECT_EQ(path, Name("rel.@mt"));
  isam::is_renameunguard(&path, &fd);
  isam::is_guardpause = pause;
}

}  // namespace
}  // namespace isamtest
