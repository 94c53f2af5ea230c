#include "storage/datapath/smfilter.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

// Bytes that differ from block to block, so a lost, doubled or reordered
// block shows.
std::string Pattern(size_t n, unsigned seed) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>(x >> 24);
  }
  return s;
}

class Filters : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(filterlib_init(), 0);
    ASSERT_EQ(start_filter_trace(dir_.Path("filter.log").c_str(), 0), 0);
  }
  void TearDown() override {
    EXPECT_EQ(filter_lib_state()->filtersInUse, 0);
    // Every child has been reaped: no zombie and no running child is left.
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
  }
  // Reads everything a reading filter delivers, in blocks of the size
  // given; the counts of the reads go to *counts.
  static std::string ReadAll(int32_t id, size_t block, std::vector<size_t>* counts) {
    std::string out, buf(block, '\0');
    for (int guard = 0; guard < 100000; ++guard) {
      size_t n = 12345678;
      EXPECT_EQ(read_from_filter(id, buf.data(), block, &n), 0);
      if (counts != nullptr) counts->push_back(n);
      out.append(buf.data(), n);
      if (n < block) break;
    }
    return out;
  }
  tevtest::TempInstall dir_;
};

TEST_F(Filters, DdStoresExactlyWhatWasWritten) {
  std::string target = dir_.Path("part.bin");
  std::string line = "dd of=" + target + " status=none";
  int32_t id = -1;
  ASSERT_EQ(create_filter(FILTER_PROCESS_WRITE, FILTER_PIPE_SIZE, line.c_str(), nullptr, nullptr,
                          &id),
            0);
  std::string expected;
  const size_t sizes[] = {1, 192, 0, 65536, 131072, 3, 1000000};
  for (size_t i = 0; i < std::size(sizes); ++i) {
    std::string block = Pattern(sizes[i], static_cast<unsigned>(i));
    ASSERT_EQ(write_to_filter(id, block.data(), block.size()), 0);
    expected += block;
  }
  const FilterControlBlock* cb = get_filtercb(id);
  EXPECT_EQ(cb->blocksWritten, std::size(sizes) - 1);  // the empty block counts nothing
  EXPECT_EQ(cb->bytesWritten, expected.size());
  EXPECT_EQ(destroy_filter(id), 0);
  EXPECT_TRUE(tevtest::ReadFile(target) == expected);
}

TEST_F(Filters, CatDeliversFullBlocksUntilTheEnd) {
  const struct {
    size_t file;
    size_t block;
  } cases[] = {{0, 4096}, {1, 4096}, {4096 * 3, 4096}, {4096 * 3 + 100, 4096},
               {1048576 + 7, 131072}, {3000, 1}};
  for (const auto& c : cases) {
    std::string data = Pattern(c.file, static_cast<unsigned>(c.file));
    tevtest::WriteFile(dir_.Path("in.bin"), data);
    std::string line = "cat " + dir_.Path("in.bin");
    int32_t id = -1;
    ASSERT_EQ(create_filter(FILTER_PROCESS_READ, FILTER_PIPE_SIZE, line.c_str(), nullptr, nullptr,
                            &id),
              0);
    std::vector<size_t> counts;
    std::string got = ReadAll(id, c.block, &counts);
    EXPECT_TRUE(got == data) << c.file;
    // Every block full but the last, which is short (0 at an exact multiple).
    ASSERT_FALSE(counts.empty());
    for (size_t i = 0; i + 1 < counts.size(); ++i) EXPECT_EQ(counts[i], c.block);
    EXPECT_EQ(counts.back(), c.file % c.block);
    EXPECT_EQ(get_filtercb(id)->bytesRead, c.file);
    EXPECT_EQ(destroy_filter(id), 0);
  }
}

// The child ends after 10 bytes: the next write finds the pipe broken,
// answers 109 and still counts the block.
TEST_F(Filters, ChildClosingItsInputGivesBrokenPipe) {
  int32_t id = -1;
  ASSERT_EQ(create_filter(FILTER_PROCESS_WRITE, 65536, "head -c 10", nullptr, nullptr, &id), 0);
  std::string block = Pattern(100, 1);
  ASSERT_EQ(write_to_filter(id, block.data(), block.size()), 0);
  // Wait until the child has ended, without reaping it.
  siginfo_t info{};
  ASSERT_EQ(waitid(P_PID, static_cast<id_t>(get_filtercb(id)->processId), &info,
                   WEXITED | WNOWAIT),
            0);
  EXPECT_EQ(write_to_filter(id, block.data(), block.size()), FILTER_BROKEN_PIPE);
  EXPECT_EQ(write_to_filter(id, block.data(), 0), 0);
  EXPECT_EQ(get_filtercb(id)->blocksWritten, 2u);
  EXPECT_EQ(get_filtercb(id)->bytesWritten, 200u);
  EXPECT_EQ(destroy_filter(id), 0);  // head itself succeeded
}

// A failed device program is reported by a writing filter; a reading
// filter answers 0 whatever its program did (the reader may stop early).
TEST_F(Filters, DestroyReportsAFailedWriterOnly) {
  const struct {
    int32_t type;
    std::string line;
    int expected;
  } cases[] = {
      {FILTER_PROCESS_WRITE, "false", -1},
      {FILTER_PROCESS_WRITE, "true", 0},
      {FILTER_PROCESS_WRITE, "dd of=" + dir_.Path("no/such/dir/x") + " status=none", -1},
      {FILTER_PROCESS_READ, "false", 0},
      {FILTER_PROCESS_READ, "cat " + dir_.Path("missing"), 0},
  };
  for (const auto& c : cases) {
    int32_t id = -1;
    ASSERT_EQ(create_filter(c.type, FILTER_PIPE_SIZE, c.line.c_str(), nullptr, nullptr, &id), 0);
    if (c.type == FILTER_PROCESS_WRITE) {
      std::string block = Pattern(5000, 2);
      int rc = write_to_filter(id, block.data(), block.size());
      EXPECT_TRUE(rc == 0 || rc == FILTER_BROKEN_PIPE) << rc;
    }
    EXPECT_EQ(destroy_filter(id), c.expected) << c.line;
  }
  EXPECT_EQ(destroy_filter(3), -1);  // not in use
}

// No shell: blanks separate, double quotes group, and nothing else is
// special. A line of 271 characters runs whole; a longer one is refused
// (it would run a cut command) and costs no filter.
TEST_F(Filters, CommandLineIsSplitNotInterpreted) {
  const struct {
    std::string line;
    std::string output;
  } cases[] = {
      {"printf <%s> \"a  b\" c \"\" ;d $HOME `id` 'e f'", "<a  b><c><><;d><$HOME><`id`><'e><f'>"},
      {"  printf\t<%s>  x\"y z\"w  ", "<xy zw>"},
      {"printf %s " + std::string(271 - 10, 'q'), std::string(261, 'q')},
  };
  for (const auto& c : cases) {
    int32_t id = -1;
    ASSERT_EQ(create_filter(FILTER_PROCESS_READ, 4096, c.line.c_str(), nullptr, nullptr, &id), 0)
        << c.line;
    EXPECT_EQ(ReadAll(id, 4096, nullptr), c.output);
    EXPECT_EQ(destroy_filter(id), 0);
  }

  const struct {
    std::string line;
  } refused[] = {{"printf %s " + std::string(272 - 10, 'q')}, {"   "}, {""},
                 {"no-such-program-here x"}};
  for (const auto& r : refused) {
    int32_t id = 7;
    EXPECT_EQ(create_filter(FILTER_PROCESS_READ, 4096, r.line.c_str(), nullptr, nullptr, &id), -1);
    EXPECT_EQ(id, -1);
    EXPECT_EQ(filter_lib_state()->filtersInUse, 0);
    std::string text = get_filter_errmsg();
    EXPECT_EQ(text.rfind("Could not start the filter process '", 0), 0u) << text;
    if (r.line.size() < 200) {
      EXPECT_EQ(text.back(), '\n');
    }
  }
}

// A main function that copies what the parent writes into its string.
int CopyFromParent(int32_t id, void* arg) {
  auto* out = static_cast<std::string*>(arg);
  char buf[7000];
  for (;;) {
    size_t n = 0;
    if (read_from_parent(id, buf, sizeof buf, &n) != 0) return -1;
    out->append(buf, n);
    if (n < sizeof buf) return out->size() == 7 ? -1 : 0;  // 7 bytes: a made-up failure
  }
}

// A main function that writes its string to the parent in odd pieces.
int CopyToParent(int32_t id, void* arg) {
  auto* in = static_cast<std::string*>(arg);
  for (size_t at = 0; at < in->size(); at += 3333) {
    size_t n = std::min<size_t>(3333, in->size() - at);
    if (write_to_parent(id, in->data() + at, n) != 0) return -1;
  }
  return 0;
}

TEST_F(Filters, ThreadFiltersPassBytesThrough) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{7}, size_t{65536}, size_t{2500001}}) {
    std::string data = Pattern(size, 9), got;
    int32_t id = -1;
    ASSERT_EQ(create_filter(FILTER_THREAD_WRITE, FILTER_PIPE_SIZE, nullptr, CopyFromParent, &got,
                            &id),
              0);
    EXPECT_NE(get_filtercb(id)->threadId, 0u);
    for (size_t at = 0; at < size; at += 100000) {
      ASSERT_EQ(write_to_filter(id, data.data() + at, std::min<size_t>(100000, size - at)), 0);
    }
    // The main function's result is the writing filter's result.
    EXPECT_EQ(destroy_filter(id), size == 7 ? -1 : 0) << size;
    EXPECT_TRUE(got == data) << size;

    ASSERT_EQ(create_filter(FILTER_THREAD_READ, FILTER_PIPE_SIZE, nullptr, CopyToParent, &data,
                            &id),
              0);
    EXPECT_TRUE(ReadAll(id, 131072, nullptr) == data) << size;
    EXPECT_EQ(destroy_filter(id), 0);
  }
  int32_t id = 0;
  EXPECT_EQ(create_filter(FILTER_THREAD_READ, 4096, nullptr, nullptr, nullptr, &id), -1);
  EXPECT_EQ(create_filter(FILTER_PROCESS_THREAD_WRITE, 4096, "true", nullptr, nullptr, &id), -1);
  EXPECT_STREQ(get_filter_errmsg(), "Main function pointer for TAPE I/O child cannot be NULL.");
}

// A reading thread that stops early: the parent's next write breaks.
int StopAfterOneRead(int32_t id, void*) {
  char buf[10];
  size_t n = 0;
  read_from_parent(id, buf, sizeof buf, &n);
  return 0;
}

TEST_F(Filters, ThreadEndingEarlyBreaksThePipe) {
  int32_t id = -1;
  ASSERT_EQ(create_filter(FILTER_THREAD_WRITE, 65536, nullptr, StopAfterOneRead, nullptr, &id), 0);
  std::string block = Pattern(20, 3);
  int rc = 0;
  // The thread closes its end after its one read; some write then breaks.
  for (int i = 0; i < 100000 && rc == 0; ++i) rc = write_to_filter(id, block.data(), block.size());
  EXPECT_EQ(rc, FILTER_BROKEN_PIPE);
  EXPECT_EQ(destroy_filter(id), 0);
}

int WaitForEnd(int32_t id, void*) {
  char buf[4096];
  size_t n = 0;
  do {
    if (read_from_parent(id, buf, sizeof buf, &n) != 0) return -1;
  } while (n == sizeof buf);
  return 0;
}

TEST_F(Filters, SixteenAtMostAndAFreedIdIsReused) {
  std::vector<int32_t> ids;
  for (int i = 0; i < FILTER_MAX; ++i) {
    int32_t id = -1;
    ASSERT_EQ(create_filter(FILTER_THREAD_WRITE, 4096, nullptr, WaitForEnd, nullptr, &id), 0);
    EXPECT_EQ(id, i);
    ids.push_back(id);
  }
  int32_t id = 99;
  EXPECT_EQ(create_filter(FILTER_THREAD_WRITE, 4096, nullptr, WaitForEnd, nullptr, &id), -1);
  EXPECT_EQ(id, -1);
  EXPECT_STREQ(get_filter_errmsg(), "Cannot get a new filter control block.");
  EXPECT_EQ(filter_lib_state()->filtersInUse, FILTER_MAX);

  EXPECT_EQ(destroy_filter(5), 0);
  ASSERT_EQ(create_filter(FILTER_THREAD_WRITE, 4096, nullptr, WaitForEnd, nullptr, &id), 0);
  EXPECT_EQ(id, 5);
  for (int32_t i : ids) EXPECT_EQ(destroy_filter(i), 0);
}

// The descriptors of a process: number -> what it names.
std::set<int> OpenDescriptors(pid_t pid, std::string* fd2) {
  std::set<int> fds;
  std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return fds;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    fds.insert(std::atoi(e->d_name));
  }
  closedir(d);
  char target[256] = {};
  ssize_t n = readlink((dir + "/2").c_str(), target, sizeof target - 1);
  if (n > 0) *fd2 = std::string(target, static_cast<size_t>(n));
  return fds;
}

// A child inherits its own two pipe ends and standard error only, so a
// filter open beside it still sees the end of its input when the parent
// closes it. At debug level 0 the child's standard error is /dev/null.
TEST_F(Filters, ChildrenInheritNothingButTheirPipes) {
  int32_t first = -1, second = -1;
  std::string target = dir_.Path("first.bin");
  ASSERT_EQ(create_filter(FILTER_PROCESS_WRITE, FILTER_PIPE_SIZE,
                          ("dd of=" + target + " status=none").c_str(), nullptr, nullptr, &first),
            0);
  ASSERT_EQ(create_filter(FILTER_PROCESS_WRITE, FILTER_PIPE_SIZE, "cat", nullptr, nullptr, &second),
            0);
  // The child may hold a descriptor of its own for a moment (its locale
  // files while it starts): an inherited one would stay, so look again
  // for a while before judging.
  std::string fd2;
  std::set<int> fds;
  for (int i = 0; i < 200; ++i) {
    fds = OpenDescriptors(get_filtercb(second)->processId, &fd2);
    if (fds == std::set<int>{0, 1, 2}) break;
    usleep(10000);
  }
  ASSERT_EQ(fds, (std::set<int>{0, 1, 2}));
  EXPECT_EQ(fd2, "/dev/null");
  ASSERT_EQ(write_to_filter(first, "abc", 3), 0);
  EXPECT_EQ(destroy_filter(first), 0);  // returns: dd saw the end of its input
  EXPECT_EQ(tevtest::ReadFile(target), "abc");
  EXPECT_EQ(destroy_filter(second), 0);
}

// Standard error of the children, the statistics and the status file
// appear only above debug level 0. The status file holds the filter's own
// result.
TEST_F(Filters, DebugLevelDecidesStderrStatisticsAndStatusFile) {
  std::string tmp = dir_.Path("tmp");
  dir_.MakeDir("tmp");
  const char* old_tmp = std::getenv("TMPDIR");
  std::string saved_tmp = old_tmp != nullptr ? old_tmp : "";
  setenv("TMPDIR", tmp.c_str(), 1);
  std::string errfile = dir_.Path("stderr.txt");

  for (int level : {0, 3}) {
    std::string log = dir_.Path("filter" + std::to_string(level) + ".log");
    ASSERT_EQ(start_filter_trace(log.c_str(), level), 0);
    // Our standard error goes to a file for the length of the filter.
    fflush(stderr);
    int saved = dup(STDERR_FILENO);
    int errfd = open(errfile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(errfd, 0);
    dup2(errfd, STDERR_FILENO);
    close(errfd);
    int32_t id = -1;
    int rc = create_filter(FILTER_PROCESS_READ, 4096, "ls /no-such-dir-anywhere", nullptr, nullptr,
                           &id);
    if (rc == 0) {
      ReadAll(id, 4096, nullptr);
      rc = destroy_filter(id);
    }
    fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    EXPECT_EQ(rc, 0);
    std::string child_err = tevtest::ReadFile(errfile);
    std::string trace = tevtest::ReadFile(log);
    std::string status = tevtest::ReadFile(tmp + "/s3_status." + std::to_string(getpid()) + ".0");

    std::string got_thread;
    ASSERT_EQ(create_filter(FILTER_THREAD_WRITE, 4096, nullptr, CopyFromParent, &got_thread, &id),
              0);
    uint32_t tid = get_filtercb(id)->threadId;
    ASSERT_EQ(write_to_filter(id, "1234567", 7), 0);
    EXPECT_EQ(destroy_filter(id), -1);
    std::string thread_status = tevtest::ReadFile(tmp + "/s3_status." + std::to_string(getpid()) +
                                                  "." + std::to_string(tid));
    trace = tevtest::ReadFile(log);
    if (level == 0) {
      EXPECT_EQ(child_err, "");
      EXPECT_EQ(status, "");
      EXPECT_EQ(thread_status, "");
      EXPECT_EQ(trace.find("statistics"), std::string::npos);
      EXPECT_EQ(trace.find("filter TAPEIO"), std::string::npos);
    } else {
      EXPECT_NE(child_err.find("no-such-dir-anywhere"), std::string::npos) << child_err;
      EXPECT_EQ(status, "2");  // ls's exit code, recorded though a reader answers 0
      EXPECT_EQ(thread_status, "-1");
      EXPECT_NE(trace.find("Filter statistics for filter ID (Parent) = "), std::string::npos);
      EXPECT_NE(trace.find("Total bytes written to filter = 7"), std::string::npos);
      EXPECT_NE(trace.find(std::to_string(tid) + " filter TAPEIO"), std::string::npos);
    }
  }
  if (old_tmp != nullptr) {
    setenv("TMPDIR", saved_tmp.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
  ASSERT_EQ(start_filter_trace(dir_.Path("filter.log").c_str(), 0), 0);
}

size_t CountOwnDescriptors() {
  std::string unused;
  return OpenDescriptors(getpid(), &unused).size();
}

// Every mount starts the filter trace again, and every cloud transfer runs
// on a thread of its own: neither may leave a descriptor behind.
TEST_F(Filters, RepeatedUseLeavesNoDescriptors) {
  const std::string log = dir_.Path("again.log");
  ASSERT_EQ(start_filter_trace(log.c_str(), 3), 0);
  const size_t before = CountOwnDescriptors();
  for (int i = 0; i < 40; ++i) {
    ASSERT_EQ(start_filter_trace(log.c_str(), 3), 0);
    std::string got;
    int32_t id = -1;
    ASSERT_EQ(create_filter(FILTER_THREAD_WRITE, 4096, nullptr, CopyFromParent, &got, &id), 0);
    ASSERT_EQ(write_to_filter(id, "ab", 2), 0);
    EXPECT_EQ(destroy_filter(id), 0);
    ASSERT_EQ(create_filter(FILTER_PROCESS_READ, 4096, "true", nullptr, nullptr, &id), 0);
    EXPECT_EQ(destroy_filter(id), 0);
  }
  EXPECT_EQ(CountOwnDescriptors(), before);
  EXPECT_NE(tevtest::ReadFile(log).find("filter TAPEIO"), std::string::npos);
  ASSERT_EQ(start_filter_trace(dir_.Path("filter.log").c_str(), 0), 0);
}

TEST_F(Filters, GivenBackBytesComeFirst) {
  tevtest::WriteFile(dir_.Path("in.bin"), "world");
  int32_t id = -1;
  ASSERT_EQ(create_filter(FILTER_PROCESS_READ, 4096, ("cat " + dir_.Path("in.bin")).c_str(),
                          nullptr, nullptr, &id),
            0);
  EXPECT_EQ(unread_from_filter(id, "lo ", 3), 0);
  EXPECT_EQ(unread_from_filter(id, "hel", 3), 0);
  std::string big(FILTER_PUSHBACK_MAX, 'x');
  EXPECT_EQ(unread_from_filter(id, big.data(), big.size()), -1);  // no room left
  char buf[4];
  size_t n = 0;
  ASSERT_EQ(read_from_filter(id, buf, 4, &n), 0);
  EXPECT_EQ(std::string(buf, n), "hell");
  EXPECT_EQ(ReadAll(id, 100, nullptr), "o world");
  EXPECT_EQ(destroy_filter(id), 0);
}

}  // namespace
