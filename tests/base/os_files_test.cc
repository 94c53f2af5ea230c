#include "base/os_files.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/thread_state.h"
#include "tests/support/test_support.h"

namespace {

std::vector<std::string> Scan(const std::string& pattern, int32_t* end_status) {
  std::vector<std::string> names;
  OsDirHandle* handle = os_opendir(pattern.c_str());
  EXPECT_NE(nullptr, handle);
  if (handle == nullptr) return names;
  while (OsDirEntry* entry = os_readdir(handle)) {
    EXPECT_EQ(1, entry->started);
    EXPECT_EQ(static_cast<int16_t>(strlen(entry->name)), entry->name_length);
    names.push_back(entry->name);
  }
  *end_status = os_dirstatus();
  os_closedir(handle);
  return names;
}

TEST(OsDirScanTest, ListsInByteOrderWithStatusWords) {
  tevtest::TempInstall dir;
  for (const char* name : {"b.dat", "B.dat", "a.dat", "c.idx"}) dir.WriteFile(std::string("t/") + name, "x");
  int32_t status = 0;
  EXPECT_EQ((std::vector<std::string>{".", "..", "B.dat", "a.dat", "b.dat", "c.idx"}),
            Scan(dir.Path("t") + "/*", &status));
  EXPECT_EQ(18, status);
  EXPECT_EQ(0, errno);

  EXPECT_EQ(nullptr, os_opendir(nullptr));
  EXPECT_EQ(-7, os_dirstatus());
  EXPECT_EQ(nullptr, os_opendir(""));
  EXPECT_EQ(-6, os_dirstatus());
  EXPECT_EQ(nullptr, os_readdir(nullptr));
  EXPECT_EQ(-7, os_dirstatus());

  OsDirHandle* missing = os_opendir(dir.Path("none/*").c_str());
  ASSERT_NE(nullptr, missing);
  EXPECT_EQ(0, os_dirstatus());
  EXPECT_EQ(nullptr, os_readdir(missing));
  EXPECT_EQ(3, os_dirstatus());
  EXPECT_EQ(ENOENT, errno);
  // A failed first search starts again on the next read.
  dir.WriteFile("none/late.dat", "x");
  OsDirEntry* entry = os_readdir(missing);
  ASSERT_NE(nullptr, entry);
  EXPECT_STREQ(".", entry->name);
  os_closedir(missing);
}

TEST(OsDirScanTest, FindCallsGiveAttributesAndLastErrors) {
  tevtest::TempInstall dir;
  dir.WriteFile("t/f.dat", "12345");
  dir.MakeDir("t/sub.dat");
  OsFindData data;
  void* handle = os_findfirst(dir.Path("t/*.dat").c_str(), &data);
  ASSERT_NE(nullptr, handle);
  EXPECT_STREQ("f.dat", data.name);
  EXPECT_EQ(0x80u, data.attributes);
  EXPECT_EQ(5u, data.size);
  ASSERT_EQ(1, os_findnext(handle, &data));
  EXPECT_STREQ("sub.dat", data.name);
  EXPECT_EQ(0x10u, data.attributes);
  EXPECT_EQ(0, os_findnext(handle, &data));
  EXPECT_EQ(18u, os_getlasterror());
  EXPECT_EQ(1, os_findclose(handle));
  EXPECT_EQ(nullptr, os_findfirst(dir.Path("t/*.none").c_str(), &data));
  EXPECT_EQ(2u, os_getlasterror());
  EXPECT_EQ(nullptr, os_findfirst(dir.Path("none/*").c_str(), &data));
  EXPECT_EQ(3u, os_getlasterror());
}

TEST(OsDirScanTest, LongPatternsAreHeldWhole) {
  tevtest::TempInstall dir;
  std::string deep = "d";
  while (deep.size() < 300) deep += "/" + std::string(40, 'x');
  dir.WriteFile(deep + "/only.dat", "x");
  dir.WriteFile(deep.substr(0, 127) + "/decoy.dat", "x");
  int32_t status = 0;
  EXPECT_EQ(std::vector<std::string>{"only.dat"}, Scan(dir.Path(deep) + "/*.dat", &status));
}

TEST(OsDirScanTest, OpenScansFormARingInTheClientState) {
  tevtest::TempInstall dir;
  ClientState* cs = rclientstate();
  ASSERT_NE(nullptr, cs);
  ASSERT_EQ(nullptr, cs->dir_ring);
  std::string pattern = dir.Path("*");
  OsDirHandle* a = os_opendir(pattern.c_str());
  OsDirHandle* b = os_opendir(pattern.c_str());
  OsDirHandle* c = os_opendir(pattern.c_str());
  EXPECT_EQ(a, cs->dir_ring);
  EXPECT_EQ(b, a->next);
  EXPECT_EQ(c, b->next);
  EXPECT_EQ(a, c->next);
  EXPECT_EQ(c, a->prev);
  os_closedir(a);
  EXPECT_EQ(b, cs->dir_ring);
  EXPECT_EQ(c, b->next);
  EXPECT_EQ(b, c->next);
  os_closedir(c);
  EXPECT_EQ(b, b->next);
  EXPECT_EQ(b, b->prev);
  os_closedir(b);
  EXPECT_EQ(nullptr, cs->dir_ring);
}

TEST(OsFilesTest, OpensCreateOnlyWhenAsked) {
  tevtest::TempInstall dir;
  struct Case {
    const char* name;
    int flags;
    int32_t extra;
    bool creates;
  };
  const std::vector<Case> cases = {
      {"wronly", O_WRONLY, 0, false},
      {"wronly-create", O_WRONLY, OS_OPEN_CREATE, true},
      {"rdwr-create", O_RDWR, OS_OPEN_CREATE, true},
      {"o-creat", O_WRONLY | O_CREAT, 0, true},
      {"as-is", O_WRONLY | O_CREAT, OS_OPEN_AS_IS, true},
      {"read-only", O_RDONLY, 0, false},
      {"read-only-keep", O_RDONLY, OS_OPEN_KEEP | OS_OPEN_CREATE, true},
      {"rdwr", O_RDWR, OS_OPEN_KEEP, false},
  };
  for (const Case& c : cases) {
    std::string path = dir.Path(c.name);
    int fd = os_open(path.c_str(), c.flags, 0640, c.extra);
    EXPECT_EQ(c.creates, fd >= 0) << c.name;
    EXPECT_EQ(c.creates, dir.Exists(c.name)) << c.name;
    if (fd >= 0) {
      EXPECT_EQ(FD_CLOEXEC, fcntl(fd, F_GETFD) & FD_CLOEXEC) << c.name;
      close(fd);
    }
  }
  // A write-only open with OS_OPEN_CREATE truncates an existing file; with
  // O_APPEND, or without the flag, it keeps it.
  dir.WriteFile("keep", "old text");
  close(os_open(dir.Path("keep").c_str(), O_WRONLY | O_APPEND, 0, OS_OPEN_CREATE));
  close(os_open(dir.Path("keep").c_str(), O_WRONLY, 0, 0));
  EXPECT_EQ("old text", dir.ReadFile("keep"));
  close(os_open(dir.Path("keep").c_str(), O_WRONLY, 0, OS_OPEN_CREATE));
  EXPECT_EQ("", dir.ReadFile("keep"));
  // A file that exists but may not be opened keeps its errno.
  if (geteuid() != 0) {
    dir.WriteFile("locked", "x");
    chmod(dir.Path("locked").c_str(), 0);
    EXPECT_EQ(-1, os_open(dir.Path("locked").c_str(), O_WRONLY, 0, OS_OPEN_CREATE));
    EXPECT_EQ(EACCES, errno);
  }
}

TEST(OsFilesTest, StreamsByModeNumber) {
  tevtest::TempInstall dir;
  for (int32_t bad : {3, 20, 0}) {
    EXPECT_EQ(nullptr, os_fopen(dir.Path("bad").c_str(), O_WRONLY, 0640, bad));
    EXPECT_FALSE(dir.Exists("bad")) << bad;
  }
  FILE* w = os_fopen(dir.Path("f").c_str(), O_WRONLY, 0640, 10);  // "wb"
  ASSERT_NE(nullptr, w);
  fputs("hello", w);
  fclose(w);
  FILE* a = os_fopen(dir.Path("f").c_str(), O_WRONLY | O_APPEND, 0640, 18);  // "ab"
  ASSERT_NE(nullptr, a);
  fputs(" again", a);
  fclose(a);
  FILE* r = os_fopen(dir.Path("f").c_str(), O_RDONLY, 0, 6);  // "rb"
  ASSERT_NE(nullptr, r);
  char buf[32] = {};
  fread(buf, 1, sizeof buf - 1, r);
  fclose(r);
  EXPECT_STREQ("hello again", buf);

  int fd = os_copen(dir.Path("f").c_str(), O_RDONLY, 0);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(6, os_lseek(fd, 6, SEEK_SET));
  EXPECT_EQ(5, os_read(fd, buf, sizeof buf));
  EXPECT_EQ(0, memcmp(buf, "again", 5));
  close(fd);
  EXPECT_EQ(1, os_canread(dir.Path("f").c_str()));
  EXPECT_EQ(1, os_canread_raw(dir.Path("f").c_str()));
  EXPECT_EQ(0, os_canread(dir.Path("none").c_str()));
  EXPECT_EQ(1, os_isdir(dir.path().c_str()));
  EXPECT_EQ(0, os_isdir(dir.Path("f").c_str()));
  EXPECT_EQ(0, os_isdir(dir.Path("none").c_str()));
}

// Python's errno module names the same numbers as <errno.h>: every row of
// the mapping must give the errno of its name.
TEST(OsFilesTest, ErrorMappingAgreesWithErrnoNames) {
  const std::vector<std::pair<std::vector<uint32_t>, const char*>> rows = {
      {{2, 3, 20, 55, 161, 267}, "ENOENT"}, {{5, 32, 33, 65}, "EACCES"},
      {{6}, "EBADF"},                       {{8, 14, 1453, 1454}, "ENOMEM"},
      {{38}, "ENXIO"},                      {{54, 148}, "EBUSY"},
      {{80, 183}, "EEXIST"},                {{87}, "EINVAL"},
      {{110, 995, 996, 1117}, "EIO"},       {{111}, "ENAMETOOLONG"},
      {{997}, "EDEADLK"},                   {{1455}, "E2BIG"},
      {{1784}, "EFAULT"},
  };
  std::string script = "import errno\n";
  for (const auto& [codes, name] : rows) script += "print(errno." + std::string(name) + ")\n";
  tevtest::RunResult r = tevtest::RunProgram(tevtest::Python(), {"-c", script});
  ASSERT_EQ(0, r.exit_code) << r.err;
  int passed = 0, failed = 0;
  size_t pos = 0;
  for (const auto& [codes, name] : rows) {
    size_t nl = r.out.find('\n', pos);
    int expected = std::stoi(r.out.substr(pos, nl - pos));
    pos = nl + 1;
    for (uint32_t code : codes) {
      bool ok = os_maperr(code) == expected;
      ok ? ++passed : ++failed;
      EXPECT_TRUE(ok) << code << " should map to " << name;
    }
  }
  for (uint32_t unmapped : {0u, 1u, 18u, 259u, 1326u}) {
    EXPECT_EQ(0, os_maperr(unmapped)) << unmapped;
    ++passed;
  }
  printf("%d passed, %d failed\n", passed, failed);
}

TEST(OsFilesTest, HostNamesTakeTheSeededDomainWhenItFits) {
  tevtest::TempInstall dir;
  setenv("TARVELON_REGISTRY", dir.Path("reg").c_str(), 1);
  tevtest::RunOptions opts;
  opts.env = {{"TARVELON_REGISTRY", dir.Path("reg")}};
  ASSERT_EQ(0, tevtest::RunProgram(tevtest::BuiltProgram("tvreg"),
                                   {"set", "HKLM\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters",
                                    "Domain", "sz", "example.test"},
                                   opts)
                   .exit_code);
  char host[256] = {};
  ASSERT_EQ(0, gethostname(host, sizeof host - 1));
  std::string expected = host;
  if (expected.find('.') == std::string::npos) expected += ".example.test";

  char buf[300];
  memset(buf, '#', sizeof buf);
  ASSERT_EQ(0, os_hostname(buf, sizeof buf));
  EXPECT_EQ(expected, buf);
  // A buffer that holds the name but not the domain gets the bare name and
  // nothing past its end.
  size_t room = strlen(host) + 3;
  memset(buf, '#', sizeof buf);
  ASSERT_EQ(0, os_hostname(buf, static_cast<int32_t>(room)));
  EXPECT_STREQ(host, buf);
  for (size_t i = room; i < sizeof buf; ++i) ASSERT_EQ('#', buf[i]) << i;
  EXPECT_EQ(-1, os_hostname(nullptr, 10));
  EXPECT_EQ(EFAULT, errno);

  uint32_t loopback = htonl(INADDR_LOOPBACK);
  struct hostent* h = os_gethostbyaddr(reinterpret_cast<const char*>(&loopback), 4, AF_INET);
  ASSERT_NE(nullptr, h);
  EXPECT_STREQ("localhost.example.test", h->h_name);
  EXPECT_NE(nullptr, os_gethostbyname("localhost"));
  EXPECT_EQ(nullptr, os_getservbyname("no-such-service-x", "tcp"));
  EXPECT_NE(0, os_wsaerror());
  char* computer = os_computername();
  ASSERT_NE(nullptr, computer);
  EXPECT_LE(strlen(computer), 15u);
  unsetenv("TARVELON_REGISTRY");
}

uint32_t Twice(void* arg) { return *static_cast<uint32_t*>(arg) *= 2; }

TEST(OsFilesTest, ThreadsRunAndAreWaitedFor) {
  uint32_t value = 21, id = 0;
  void* handle = os_thread_create(nullptr, 0, Twice, &value, 0, &id);
  ASSERT_NE(nullptr, handle);
  EXPECT_EQ(0u, os_waitobject(handle, 0xFFFFFFFFu));
  EXPECT_EQ(42u, value);
  EXPECT_EQ(1, os_closehandle(handle));
  EXPECT_EQ(static_cast<uint32_t>(getpid()), os_getpid());
}

}  // namespace
