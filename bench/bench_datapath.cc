// The read path of the storage-manager API against cat.
//
// Writes one single-part object (1 GiB by default) on a FILE device with
// the object writer, then alternates five times each, with a warm page
// cache:
//   (a) the read object DUMP makes: tevGetObject and tevGetData into a
//       BAR_XFER_BUF_SIZE buffer (128 KB), each block written to an output
//       file, tevEndData;
//   (b) cat of the same part file into an output file of the same file
//       system, as a child process.
// Prints MB/s of every run and the ratio of cat's best time to the API's
// best (1.0: as fast as cat).
//
// Usage: bench_datapath [MB [directory]]   (MB defaults to 1024; the
// directory to $TMPDIR or /tmp; a new directory is made inside it)

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "storage/catalog/smc_lock.h"
#include "storage/command/config.h"
#include "storage/datapath/smapi.h"
#include "storage/datapath/smmount.h"
#include "storage/datapath/smobject.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Die(const char* what, int rc) {
  std::fprintf(stderr, "%s failed: %d\n", what, rc);
  std::exit(1);
}

void Check(const char* what, int rc) {
  if (rc != 0) Die(what, rc);
}

// Writes the object; its copy id.
uint64_t WriteObject(int64_t hn, zarHandle* h, uint64_t megabytes) {
  Check("tevBeginTxn", tevBeginTxn(hn));
  auto* d = static_cast<XbsaObjectDescriptor*>(std::calloc(1, sizeof(XbsaObjectDescriptor)));
  std::strcpy(d->objectSpaceName, "/rootdbs");
  std::strcpy(d->pathName, "/bench/obj");
  d->objectKind[0] = 'R';
  tevSetDefaultOwner(&d->owner);
  Check("set_bsa_handle_object", set_bsa_handle_object(h->handleNumber, d));
  Check("zarInsertObject", zarInsertObject(h, UInt64Pair{0, 0}, 0));
  const uint64_t copy = (static_cast<uint64_t>(d->copyId.high) << 32) | d->copyId.low;
  h->writePoolId = 1;
  Check("lock", smcAcquireCatalogLock(h));
  Check("zarVolumeWriteMount", zarVolumeWriteMount(h));
  Check("unlock", smcReleaseCatalogLock(h));
  std::vector<unsigned char> block(1 << 20);
  uint32_t x = 1;
  for (unsigned char& c : block) {
    x = x * 1103515245u + 12345;
    c = static_cast<unsigned char>(x >> 16);
  }
  for (uint64_t i = 0; i < megabytes; ++i) {
    block[0] = static_cast<unsigned char>(i);
    Check("zarWriteData", zarWriteData(h, block.data(), block.size()));
  }
  Check("lock", smcAcquireCatalogLock(h));
  Check("zarUnmountVolume", zarUnmountVolume(h));
  Check("zarEndObject", zarEndObject(h));
  Check("unlock", smcReleaseCatalogLock(h));
  Check("tevEndTxn", tevEndTxn(hn, 1));
  return copy;
}

// The API read into the output file; seconds.
double ReadThroughApi(int64_t hn, uint64_t copy, uint32_t buffer_size, const std::string& out,
                      uint64_t expected) {
  std::vector<char> buffer(buffer_size);
  const auto start = Clock::now();
  const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) Die("open", errno);
  XbsaObjectDescriptor d{};
  d.copyId = UInt64Pair{static_cast<uint32_t>(copy >> 32), static_cast<uint32_t>(copy)};
  XbsaDataBlock block{buffer_size, 0, buffer.data()};
  int rc = tevGetObject(hn, &d, &block);
  uint64_t total = 0;
  for (;;) {
    if (rc != BSA_RC_MORE_DATA && rc != BSA_RC_NO_MORE_DATA) Die("tevGetData", rc);
    if (block.numBytes > 0 && write(fd, buffer.data(), block.numBytes) != block.numBytes) {
      Die("write", errno);
    }
    total += block.numBytes;
    if (rc == BSA_RC_NO_MORE_DATA) break;
    rc = tevGetData(hn, &block);
  }
  Check("tevEndData", tevEndData(hn));
  close(fd);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (total != expected) Die("object size", static_cast<int>(total >> 20));
  return seconds;
}

// cat of the part file into the output file; seconds.
double ReadWithCat(const std::string& part, const std::string& out) {
  const auto start = Clock::now();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::string cat = "cat";
  std::string file = part;
  char* argv[] = {cat.data(), file.data(), nullptr};
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, "cat", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) Die("posix_spawnp cat", rc);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Die("cat", status);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
  std::string base = argc > 2 ? argv[2] : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
  std::string tmpl = base + "/bench_datapath.XXXXXX";
  if (mkdtemp(tmpl.data()) == nullptr) Die("mkdtemp", errno);
  const std::string dir = tmpl;
  mkdir((dir + "/etc").c_str(), 0700);
  // Locale data for the date texts of volume rows.
  if (symlink(TEV_TREE "/lxr", (dir + "/lxr").c_str()) != 0) Die("symlink", errno);
  setenv("TARVELONDIR", dir.c_str(), 1);
  setenv("ZIVEVODAREVEZO", "bench", 1);
  setenv("TEV_ACT_LOG", (dir + "/act.log").c_str(), 1);
  unsetenv("TEV_DEBUG");
  unsetenv("TEV_QA_LIMIT_WRT");

  XbsaObjectOwner owner;
  XbsaSecurityToken token;
  tevSetDefaultOwner(&owner);
  tevClearSecurityToken(&token);
  int64_t hn = 0;
  Check("tevInit", tevInit(&hn, &token, &owner, nullptr));
  zarHandle* h = nullptr;
  Check("find_bsa_handle",
        find_bsa_handle(static_cast<uint32_t>(hn), &h, __FILE_NAME__, __LINE__));
  const uint32_t buffer_size = static_cast<uint32_t>(h->config->xferBufSize) * 1024;

  std::printf("writing a %llu MB object\n", static_cast<unsigned long long>(megabytes));
  const uint64_t copy = WriteObject(hn, h, megabytes);
  const std::string part = dir + "/backups/bench/obj/rootdbs.1.1";
  const std::string out = dir + "/out";
  ReadWithCat(part, out);  // warms the page cache
  std::printf("buffer %u bytes\n%-6s %12s %12s\n", buffer_size, "run", "API MB/s", "cat MB/s");
  const double mb = static_cast<double>(megabytes);
  double best_api = 1e30, best_cat = 1e30;
  for (int run = 1; run <= 5; ++run) {
    const double a = ReadThroughApi(hn, copy, buffer_size, out, megabytes << 20);
    const double c = ReadWithCat(part, out);
    best_api = std::min(best_api, a);
    best_cat = std::min(best_cat, c);
    std::printf("%-6d %12.0f %12.0f\n", run, mb / a, mb / c);
  }
  std::printf("best   %12.0f %12.0f\nratio cat best / API best = %.3f\n", mb / best_api,
              mb / best_cat, best_cat / best_api);
  Check("tevTerminate", tevTerminate(hn));
  std::filesystem::remove_all(dir);
  return 0;
}
