// CLOUD devices against real HTTPS servers on loopback: the project's own
// object store (cloud_server.py, which checks S3 signatures for real and
// speaks Swift's authentication, with switches for faults) and moto's S3
// server, read back with boto3. Objects go through the object writer and
// the API read path; the S3 signature is checked against the openssl
// command line.
#include "storage/datapath/smcloud.h"

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <dirent.h>

#include <algorithm>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "storage/catalog/smc_lock.h"
#include "storage/catalog/smc_obj.h"
#include "storage/catalog/smc_odt.h"
#include "storage/datapath/smapi.h"
#include "storage/datapath/smdevmgt.h"
#include "storage/datapath/smfilter.h"
#include "storage/datapath/smmount.h"
#include "storage/datapath/smobject.h"
#include "storage/datapath/smsession.h"
#include "tests/storage/config_env.h"
#include "tests/storage/datapath/catalog_session.h"

extern char** environ;

namespace {

using tevtest::PatternData;
using tevtest::PythonExecutable;

const char kAccess[] = "AKTEST";
const char kSecret[] = "s3cr3t/Key+x";

tevtest::RunResult RunTool(const std::string& program, const std::vector<std::string>& args) {
  tevtest::RunOptions o;
  o.env = {{"PATH", "/usr/bin:/bin"}, {"HOME", std::getenv("HOME") ? std::getenv("HOME") : "/"}};
  o.timeout_seconds = 60;
  return tevtest::RunProgram(program, args, o);
}

// The descriptors the process has open.
size_t OpenDescriptors() {
  size_t n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d) != nullptr) ++n;
    closedir(d);
  }
  return n;
}

bool Answers(int port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(s);
  return ok;
}

// A loopback port free at this moment, for a server that takes its port
// on its command line; 0 when none could be had.
int FreePort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int port = 0;
  socklen_t len = sizeof a;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
    port = ntohs(a.sin_port);
  }
  close(s);
  return port;
}

// A server process of the test, stopped by its process id.
class Server {
 public:
  Server(const std::vector<std::string>& argv) {
    std::vector<char*> v;
    for (const std::string& a : argv) v.push_back(const_cast<char*>(a.c_str()));
    v.push_back(nullptr);
    if (posix_spawn(&pid_, v[0], nullptr, nullptr, v.data(), environ) != 0) pid_ = 0;
  }
  ~Server() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
  }
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;
  // Waits (at most 30 s) until the port accepts connections.
  bool WaitFor(int port) const {
    for (int i = 0; i < 300 && pid_ > 0; ++i) {
      if (Answers(port)) return true;
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = 0;
};

std::string g_certs;  // directory with cert.pem and key.pem

class Cloud : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char dir[] = "/tmp/tevcloudXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    g_certs = dir;
    const tevtest::RunResult r = RunTool(
        "/usr/bin/openssl",
        {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
         "-keyout", g_certs + "/key.pem", "-out", g_certs + "/cert.pem", "-days", "2", "-subj",
         "/CN=localhost", "-addext",
         "subjectAltName=DNS:localhost,IP:127.0.0.1,DNS:bkt.s3.localhost,DNS:cont.s3.localhost"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }
  static void TearDownTestSuite() { tevtest::RemoveTree(g_certs); }

  void SetUp() override {
    env_ = std::make_unique<tevtest::ConfigEnv>();
    const tevtest::TempInstall& in = env_->install();
    ASSERT_EQ(symlink((tevtest::BuildTree() + "/lxr").c_str(), in.Path("lxr").c_str()), 0);
    env_->Set("TEV_LOCK_TIMEOUT", "5");
    env_->Set("TEV_DEBUG", "9");
    env_->Set("TEV_DEBUG_LOG", in.Path("debug.log"));
    env_->Set("BAR_DEBUG_LOG", in.Path("filter.log"));
    const char* tmp = std::getenv("TMPDIR");
    if (tmp != nullptr) saved_tmp_ = tmp;
    had_tmp_ = tmp != nullptr;
    env_->Set("TMPDIR", in.Path("tmp"));
    in.MakeDir("tmp");
    tevSetDefaultOwner(&owner_);
    tevClearSecurityToken(&token_);
    ASSERT_EQ(tevInit(&hn_, &token_, &owner_, nullptr), 0);
    ASSERT_EQ(find_bsa_handle(static_cast<uint32_t>(hn_), &h_, __FILE_NAME__, __LINE__), 0);
    ASSERT_EQ(zarDeleteDevices(h_, (in.path() + "/backups").c_str(), 0), 0);
  }
  void TearDown() override {
    if (h_ != nullptr) {
      if (h_->transactionId != 0) tevEndTxn(hn_, 2);
      EXPECT_EQ(tevTerminate(hn_), 0);
    }
    destroy_bsa_handles(0);
    EXPECT_EQ(filter_lib_state()->filtersInUse, 0);
    server_.reset();
    if (had_tmp_) {
      setenv("TMPDIR", saved_tmp_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
    env_.reset();
  }

  std::string Path(const std::string& rel) const { return env_->install().Path(rel); }
  std::string ActLog() const { return env_->install().ReadFile("act.log"); }
  std::string Store(const std::string& rel) const { return Path("store/" + rel); }
  std::string RequestLog() const { return env_->install().ReadFile("requests.log"); }

  // Starts the project's server with a fault switch ("" none); its port.
  int StartFixture(const std::string& fault = "") {
    const std::string port_file = Path("port");
    unlink(port_file.c_str());
    std::vector<std::string> argv = {PythonExecutable(),
                                     tevtest::SourceDir() + "/tests/storage/datapath/cloud_server.py",
                                     "--cert", g_certs + "/cert.pem", "--key",
                                     g_certs + "/key.pem", "--dir", Path("store"), "--log",
                                     Path("requests.log"), "--port-file", port_file};
    if (!fault.empty()) {
      argv.push_back("--fault");
      argv.push_back(fault);
    }
    server_.reset();
    server_ = std::make_unique<Server>(argv);
    for (int i = 0; i < 300 && access(port_file.c_str(), F_OK) != 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const int port = std::atoi(tevtest::ReadFile(port_file).c_str());
    EXPECT_GT(port, 0) << "the object store did not start";
    EXPECT_TRUE(server_->WaitFor(port));
    return port;
  }

  TevDevice AddCloud(const std::string& name, uint32_t provider, const std::string& url,
                     const std::string& user, const std::string& password,
                     const std::string& container, int64_t part_size, int32_t pool = 1) {
    TevDevice d{};
    std::snprintf(d.name, sizeof d.name, "%s", name.c_str());
    std::snprintf(d.url, sizeof d.url, "%s", url.c_str());
    std::snprintf(d.user, sizeof d.user, "%s", user.c_str());
    std::snprintf(d.password, sizeof d.password, "%s", password.c_str());
    std::snprintf(d.container, sizeof d.container, "%s", container.c_str());
    d.type = DEV_TYPE_CLOUD;
    d.cloudProvider = provider;
    d.partSize = part_size;
    d.poolId = pool;
    d.priority = DEV_PRIO_LOW;
    EXPECT_EQ(zarInsertDevice(h_, &d), 0) << name;
    return d;
  }

  int BeginObject(const std::string& space, const std::string& path, int32_t pool) {
    EXPECT_EQ(tevBeginTxn(hn_), 0);
    auto* d = static_cast<XbsaObjectDescriptor*>(std::calloc(1, sizeof(XbsaObjectDescriptor)));
    std::snprintf(d->objectSpaceName, sizeof d->objectSpaceName, "%s", space.c_str());
    std::snprintf(d->pathName, sizeof d->pathName, "%s", path.c_str());
    d->objectKind[0] = 'R';
    tevSetDefaultOwner(&d->owner);
    EXPECT_EQ(set_bsa_handle_object(h_->handleNumber, d), 0);
    EXPECT_EQ(zarInsertObject(h_, UInt64Pair{0, 0}, 0), 0);
    copy_ = (static_cast<uint64_t>(d->copyId.high) << 32) | d->copyId.low;
    h_->writePoolId = pool;
    EXPECT_EQ(smcAcquireCatalogLock(h_), 0);
    const int rc = zarVolumeWriteMount(h_);
    EXPECT_EQ(smcReleaseCatalogLock(h_), 0);
    return rc;
  }
  // Writes the blocks and ends the object: the first failing block's
  // result (or 0) and the unmount's.
  std::pair<int, int> WriteObject(const std::string& space, const std::string& path,
                                  const std::string& data, size_t block, int32_t pool = 1) {
    const int mrc = BeginObject(space, path, pool);
    if (mrc != 0) {
      tevEndTxn(hn_, 2);
      return {mrc, -1};
    }
    int wrc = 0;
    for (size_t at = 0; at < data.size() && wrc == 0; at += block) {
      wrc = zarWriteData(h_, data.data() + at, std::min(block, data.size() - at));
    }
    EXPECT_EQ(smcAcquireCatalogLock(h_), 0);
    int urc = h_->currentMount != nullptr ? zarUnmountVolume(h_) : 0;
    if (wrc == 0 && urc == 0) {
      EXPECT_EQ(zarEndObject(h_), 0);
    }
    EXPECT_EQ(smcReleaseCatalogLock(h_), 0);
    EXPECT_EQ(tevEndTxn(hn_, wrc == 0 && urc == 0 ? 1 : 2), 0);
    return {wrc, urc};
  }

  // Reads the object back as object DUMP does; the bytes, or "<rc N>".
  std::string Dump(uint64_t copy, uint32_t buffer_size = 64 * 1024) {
    std::string out;
    std::vector<char> buffer(buffer_size);
    XbsaObjectDescriptor d{};
    d.copyId = UInt64Pair{static_cast<uint32_t>(copy >> 32), static_cast<uint32_t>(copy)};
    XbsaDataBlock block{buffer_size, 0, buffer.data()};
    int rc = tevGetObject(hn_, &d, &block);
    while (rc == BSA_RC_MORE_DATA || rc == BSA_RC_NO_MORE_DATA) {
      out.append(buffer.data(), block.numBytes);
      if (rc == BSA_RC_NO_MORE_DATA) break;
      rc = tevGetData(hn_, &block);
    }
    if (rc == BSA_RC_MORE_DATA || rc == BSA_RC_NO_MORE_DATA || rc == BSA_RC_ABORT_SYSTEM_ERROR) {
      EXPECT_EQ(tevEndData(hn_), 0);
    }
    if (rc != BSA_RC_NO_MORE_DATA) return "<rc " + std::to_string(rc) + ">";
    return out;
  }

  // The header's names and the data behind them, split with python's
  // struct: "space|path|part|data-equal".
  std::string StoredPart(const std::string& file, const std::string& data) {
    static const char kSplit[] = R"PY(
import struct, sys
raw = open(sys.argv[1], 'rb').read()
f = struct.unpack('<IIQ4sIIIQI28sIIq96sII', raw[:192])
n1, n2 = f[14], f[15]
names = raw[192:192 + n1 + n2]
rest = raw[192 + n1 + n2:]
print('%s|%s|%d|%s' % (names[:n1 - 1].decode(), names[n1:n1 + n2 - 1].decode(), f[5],
                       'same' if rest == open(sys.argv[2], 'rb').read() else 'differs'))
)PY";
    tevtest::WriteFile(Path("expected.bin"), data);
    const tevtest::RunResult r = RunTool(PythonExecutable(), {"-c", kSplit, file, Path("expected.bin")});
    std::string out = r.out;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return r.exit_code == 0 ? out : "<" + r.err + ">";
  }

  int DeleteObject(uint64_t copy) {
    return tevDeleteObject(
        hn_, UInt64Pair{static_cast<uint32_t>(copy >> 32), static_cast<uint32_t>(copy)});
  }

  std::unique_ptr<tevtest::ConfigEnv> env_;
  std::unique_ptr<Server> server_;
  std::string saved_tmp_;
  bool had_tmp_ = false;
  XbsaObjectOwner owner_;
  XbsaSecurityToken token_;
  int64_t hn_ = 0;
  zarHandle* h_ = nullptr;
  uint64_t copy_ = 0;
};

// The signature equals what the openssl command line computes over the
// string to sign; a target that begins with "/" gets no second "/".
TEST(CloudSignature, EqualsOpensslOverTheStringToSign) {
  struct Case {
    const char* verb;
    const char* date;
    const char* bucket;
    const char* target;
    const char* secret;
    const char* resource;  // what the string to sign ends with
  };
  const Case cases[] = {
      {"PUT", "Fri, 11 Dec 2026 01:02:03 +0000", "bkt", "srv/a/rootdbs.5.1", "secret",
       "/bkt/srv/a/rootdbs.5.1"},
      {"GET", "Mon, 01 Jan 2024 00:00:00 +0100", "b-2", "/lead/x.1.2", "s3cr3t/Key+x",
       "/b-2/lead/x.1.2"},
      {"DELETE", "Sun, 29 Feb 2032 23:59:59 -0500", "cont", "a b/c.9.3",
       "wJalrXUtnFEMI/K7MDENG/bPxRfiCYEXAMPLEKEY", "/cont/a b/c.9.3"},
      {"PUT", "Tue, 02 Mar 2027 10:00:00 +0000", "bkt", "", "k", "/bkt/"},
  };
  char dir[] = "/tmp/tevsigXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.resource);
    const std::string to_sign =
        std::string(c.verb) + "\n\napplication/x-binary\n" + c.date + "\n" + c.resource;
    const std::string file = std::string(dir) + "/sts";
    tevtest::WriteFile(file, to_sign);
    const tevtest::RunResult r =
        RunTool("/bin/sh", {"-c", "openssl dgst -sha1 -hmac \"$1\" -binary \"$2\" | base64", "sh",
                        c.secret, file});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::string want = r.out;
    while (!want.empty() && want.back() == '\n') want.pop_back();
    char got[64];
    ASSERT_TRUE(cloudS3Signature(c.verb, c.date, c.bucket, c.target, c.secret, got, sizeof got));
    EXPECT_EQ(std::string(got), want);
    EXPECT_EQ(std::strlen(got), 28u);
  }
  tevtest::RemoveTree(dir);
}

TEST(CloudTargetUrl, GivesItsThreeForms) {
  CloudClientArgs a{};
  std::snprintf(a.url, sizeof a.url, "https://h:1");
  std::snprintf(a.user, sizeof a.user, "u");
  std::snprintf(a.container, sizeof a.container, "c");
  std::snprintf(a.targetName, sizeof a.targetName, "p/x.1.2");
  const std::pair<int32_t, const char*> cases[] = {{1, "https://h:1/p/x.1.2"},
                                                   {2, "https://h:1/u/c/p/x.1.2"},
                                                   {0, "Unknown Cloud Provider."}};
  for (const auto& [provider, want] : cases) {
    a.provider = provider;
    char* text = cloudTargetUrl(&a);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, want);
    std::free(text);
  }
}

// S3 and Swift objects in one part and in several: each part is stored
// under "<path>/<short name>.<copy>.<part>" with its header and data, the
// read gives the bytes back, and the deletion removes every part.
TEST_F(Cloud, ObjectsRoundTripOnS3AndSwift) {
  const int port = StartFixture();
  const std::string p = std::to_string(port);
  // Part size 100,000: the header (192 + names) and the data of each part
  // stay within it.
  AddCloud("s3dev", 1, "https://bkt.s3.localhost:" + p, kAccess, kSecret, "bkt", 100000);
  AddCloud("swiftdev", 2, "https://127.0.0.1:" + p + "/auth/v1.0", "test:tester", "testing",
           "cont", 0, 2);
  struct Case {
    const char* device;
    const char* store;
    size_t size;
    size_t parts;
  };
  const std::string path = "\\srv\\db";
  const size_t header = 192 + std::strlen("/rootdbs") + 1 + path.size() + 1;
  const size_t per_part = 100000 - header;
  size_t descriptors = 0;
  for (const Case& c : {Case{"s3dev", "bkt", 5000, 1}, Case{"s3dev", "bkt", 250000, 3},
                        Case{"s3dev", "bkt", per_part, 1}, Case{"swiftdev", "cont", 3000000, 1}}) {
    SCOPED_TRACE(std::string(c.device) + " " + std::to_string(c.size));
    const std::string data = PatternData(c.size, static_cast<unsigned>(c.size));
    const std::pair<int, int> rcs =
        WriteObject("/rootdbs", path, data, 7000, std::string(c.device) == "s3dev" ? 1 : 2);
    ASSERT_EQ(rcs, (std::pair<int, int>{0, 0}));
    const uint64_t copy = copy_;
    for (size_t part = 1; part <= c.parts; ++part) {
      const std::string name = std::string(c.store) + "/srv/db/db." + std::to_string(copy) +
                               "." + std::to_string(part);
      const std::string slice = c.parts == 1 ? data : data.substr((part - 1) * per_part, per_part);
      EXPECT_EQ(StoredPart(Store(name), slice), "/rootdbs|" + path + "|" + std::to_string(part) +
                                                    "|same")
          << name;
    }
    EXPECT_FALSE(env_->install().Exists(
        "store/" + std::string(c.store) + "/srv/db/db." + std::to_string(copy) + "." +
        std::to_string(c.parts + 1)));
    const std::string back = Dump(copy);
    EXPECT_EQ(back.size(), data.size());
    EXPECT_TRUE(back == data);
    EXPECT_EQ(DeleteObject(copy), 0);
    // Runs leave no descriptor behind (the first run's count includes what
    // the libraries keep).
    if (descriptors == 0) descriptors = OpenDescriptors();
    EXPECT_EQ(OpenDescriptors(), descriptors);
    for (size_t part = 1; part <= c.parts; ++part) {
      EXPECT_FALSE(env_->install().Exists("store/" + std::string(c.store) + "/srv/db/db." +
                                          std::to_string(copy) + "." + std::to_string(part)));
    }
  }
  // Uploads above 1 MB went with "Expect: 100-continue": the interim 100
  // and the final status were two responses.
  EXPECT_NE(env_->install().ReadFile("debug.log").find("HTTP/1.1 100 Continue"),
            std::string::npos);
}

}  // namespace

namespace {

// Failures of the service make the write fail and leave their reason in
// the activity log; the Swift authentication failures make no second
// request. A client that gives up before it has read the part closes its
// pipe, and the writer's next block answers 109 (the broken pipe); a
// failure that comes after the whole part went up fails the unmount.
TEST_F(Cloud, ServiceFailuresFailTheWrite) {
  struct Case {
    const char* fault;
    bool s3;
    const char* secret;  // S3 secret or Swift key
    const char* logged;  // activity log text
    int requests;        // requests the server saw
    int block_rc;        // the first failing block's result, or 0
  };
  const Case cases[] = {
      {"", true, "wrong", "The request signature we calculated does not match", 1, 0},
      {"put-500", true, kSecret, "Internal trouble", 1, 0},
      {"", false, "wrong", "REST ERROR: The operation returned status 401 instead of 200", 1,
       109},
      {"put-500", false, "testing", "", 2, 0},
      {"no-url", false, "testing", "ERROR: Cannot retrieve autherixation URL.", 1, 109},
      {"no-token", false, "testing", "ERROR: Cannot retrieve autherixation token.", 1, 109},
      {"bare-lf", false, "testing", "REST ERROR: Invalid HTTP header.", 1, 109},
      {"no-colon", false, "testing", "REST ERROR: Invalid HTTP header.", 1, 109},
  };
  const int port = StartFixture();
  // More than the filter's pipe holds, so a client that stopped reading is
  // seen by a block write; within one S3 part.
  const std::string data = PatternData(3000000, 8);
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.fault) + (c.s3 ? " s3 " : " swift ") + c.secret);
    tevtest::WriteFile(Path("store.fault"), c.fault);
    unlink(Path("requests.log").c_str());
    const std::string p = std::to_string(port);
    const int32_t pool = 10 + n;
    const std::string name = "dev" + std::to_string(n++);
    if (c.s3) {
      AddCloud(name, 1, "https://bkt.s3.localhost:" + p, kAccess, c.secret, "bkt", 4000000, pool);
    } else {
      AddCloud(name, 2, "https://127.0.0.1:" + p + "/auth/v1.0", "test:tester", c.secret, "cont",
               0, pool);
    }
    const std::pair<int, int> rcs = WriteObject("/rootdbs", "/srv/f", data, 64 * 1024, pool);
    EXPECT_EQ(rcs, (std::pair<int, int>{c.block_rc, 3}));
    EXPECT_EQ(h_->currentMount, nullptr);
    EXPECT_EQ(h_->filterId, -1);
    if (c.logged[0] != '\0') {
      EXPECT_NE(ActLog().find(c.logged), std::string::npos) << ActLog();
    }
    const std::string requests = RequestLog();
    EXPECT_EQ(std::count(requests.begin(), requests.end(), '\n'), c.requests) << requests;
  }
  // A bare line feed ends the header line's parse.
  EXPECT_NE(env_->install().ReadFile("debug.log").find("REST ERROR: Cannot find CRLF."),
            std::string::npos);
}

// The client on a filter thread, as the mounts start it.
struct ClientRun {
  CloudClientArgs args{};
  int32_t id = -1;
};
int S3Thread(int32_t id, void* a) { return cloudS3ClientStart(id, static_cast<CloudClientArgs*>(a)); }
int SwiftThread(int32_t id, void* a) {
  return cloudSwiftClientStart(id, static_cast<CloudClientArgs*>(a));
}

// An S3 part of exactly the part size is stored; one byte more is refused
// before anything is sent, and the upload counts as failed. The status
// file holds each run's result.
TEST_F(Cloud, S3PartSizeBoundsTheUpload) {
  const int port = StartFixture();
  constexpr int32_t kPart = 300000;  // more than two reads of 128 KB
  for (int32_t extra : {0, 1}) {
    SCOPED_TRACE(extra);
    unlink(Path("requests.log").c_str());
    CloudClientArgs args{};
    args.mode = CLOUD_MODE_PUT;
    args.provider = 1;
    std::snprintf(args.url, sizeof args.url, "https://bkt.s3.localhost:%d", port);
    std::snprintf(args.user, sizeof args.user, "%s", kAccess);
    std::snprintf(args.password, sizeof args.password, "%s", kSecret);
    std::snprintf(args.container, sizeof args.container, "bkt");
    std::snprintf(args.targetName, sizeof args.targetName, "\\dir\\part%d", extra);
    args.partSize = kPart;
    int32_t id = -1;
    ASSERT_EQ(create_filter(FILTER_THREAD_WRITE, FILTER_PIPE_SIZE, nullptr, S3Thread, &args, &id),
              0);
    const std::string data = PatternData(static_cast<size_t>(kPart + extra), 5);
    const int wrc = write_to_filter(id, data.data(), data.size());
    EXPECT_TRUE(wrc == 0 || wrc == FILTER_BROKEN_PIPE) << wrc;
    EXPECT_EQ(destroy_filter(id), extra == 0 ? 0 : -1);
    // Slashes in the name.
    EXPECT_EQ(tevtest::ReadFile(Store("bkt/dir/part" + std::to_string(extra))) == data,
              extra == 0);
    EXPECT_EQ(RequestLog(), extra == 0 ? "PUT /dir/part0\n" : "");
    std::string status;
    if (DIR* d = opendir(Path("tmp").c_str())) {
      const std::string prefix = "s3_status." + std::to_string(getpid()) + ".";
      while (dirent* e = readdir(d)) {
        if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0) {
          status = tevtest::ReadFile(Path("tmp/") + e->d_name);
          unlink((Path("tmp/") + e->d_name).c_str());
        }
      }
      closedir(d);
    }
    EXPECT_EQ(status, extra == 0 ? "0" : "-1");
  }
  EXPECT_NE(ActLog().find("REST ERROR: received more data than promised. used + tsize = 300001 > "
                          "buffer size(300000)."),
            std::string::npos);
}

// A download that the reader stops early ends quietly; one that the
// server cuts short fails the read.
TEST_F(Cloud, DownloadsStoppedByTheReaderOrCutByTheServer) {
  const int port = StartFixture();
  const std::string data = PatternData(4000000, 11);
  tevtest::WriteFile(Store("cont/big"), data);
  CloudClientArgs args{};
  args.mode = CLOUD_MODE_GET;
  args.provider = 2;
  std::snprintf(args.url, sizeof args.url, "https://127.0.0.1:%d/auth/v1.0", port);
  std::snprintf(args.user, sizeof args.user, "test:tester");
  std::snprintf(args.password, sizeof args.password, "testing");
  std::snprintf(args.container, sizeof args.container, "cont");
  std::snprintf(args.targetName, sizeof args.targetName, "/big");
  int32_t id = -1;
  ASSERT_EQ(create_filter(FILTER_THREAD_READ, FILTER_PIPE_SIZE, nullptr, SwiftThread, &args, &id),
            0);
  std::string head(1000, '\0');
  size_t got = 0;
  ASSERT_EQ(read_from_filter(id, head.data(), head.size(), &got), 0);
  EXPECT_EQ(got, head.size());
  EXPECT_TRUE(head == data.substr(0, 1000));
  EXPECT_EQ(destroy_filter(id), 0);
  EXPECT_NE(ActLog().find("Process completed because the parent closed the connection."),
            std::string::npos);

  // Stored through the writer, read back from a server that cuts the body.
  AddCloud("swiftdev", 2, "https://127.0.0.1:" + std::to_string(port) + "/auth/v1.0",
           "test:tester", "testing", "cont", 0);
  const std::string small = PatternData(50000, 12);
  ASSERT_EQ(WriteObject("/rootdbs", "/srv/c", small, 5000), (std::pair<int, int>{0, 0}));
  const uint64_t copy = copy_;
  tevtest::WriteFile(Path("store.fault"), "cut-body");
  EXPECT_EQ(Dump(copy), "<rc 3>");
}

// Parts of some megabytes are cached in a mapping that the next run takes
// over: parts in turn smaller and larger than the last are each stored
// exactly, one a byte over its part size is refused, and two at once each
// get a cache of their own. A download of an odd size crosses the
// client's gathering of pipe writes and arrives whole.
TEST_F(Cloud, LargePartsAndDownloadsArriveExactly) {
  const int port = StartFixture();
  auto s3_args = [&](const std::string& name, int32_t part) {
    CloudClientArgs args{};
    args.mode = CLOUD_MODE_PUT;
    args.provider = 1;
    std::snprintf(args.url, sizeof args.url, "https://bkt.s3.localhost:%d", port);
    std::snprintf(args.user, sizeof args.user, "%s", kAccess);
    std::snprintf(args.password, sizeof args.password, "%s", kSecret);
    std::snprintf(args.container, sizeof args.container, "bkt");
    std::snprintf(args.targetName, sizeof args.targetName, "%s", name.c_str());
    args.partSize = part;
    return args;
  };
  struct Case {
    int32_t part;
    size_t size;
    int rc;
  };
  const Case cases[] = {{3000007, 3000007, 0}, {4000000, 2500003, 0}, {2200000, 2200001, -1},
                        {5000000, 5000000, 0}, {3000000, 1, 0}};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(n);
    const std::string name = "/big" + std::to_string(n);
    CloudClientArgs args = s3_args(name, c.part);
    int32_t id = -1;
    ASSERT_EQ(create_filter(FILTER_THREAD_WRITE, FILTER_PIPE_SIZE, nullptr, S3Thread, &args, &id),
              0);
    const std::string data = PatternData(c.size, 20 + n);
    const int wrc = write_to_filter(id, data.data(), data.size());
    EXPECT_TRUE(wrc == 0 || wrc == FILTER_BROKEN_PIPE) << wrc;
    EXPECT_EQ(destroy_filter(id), c.rc);
    EXPECT_EQ(tevtest::ReadFile(Store("bkt" + name)) == data, c.rc == 0);
    ++n;
  }

  // Two uploads at once, each larger than the mapping left by the last.
  CloudClientArgs a = s3_args("/twin0", 6000000), b = s3_args("/twin1", 6500000);
  int32_t ia = -1, ib = -1;
  ASSERT_EQ(create_filter(FILTER_THREAD_WRITE, FILTER_PIPE_SIZE, nullptr, S3Thread, &a, &ia), 0);
  ASSERT_EQ(create_filter(FILTER_THREAD_WRITE, FILTER_PIPE_SIZE, nullptr, S3Thread, &b, &ib), 0);
  const std::string da = PatternData(6000000, 31), db = PatternData(6400000, 32);
  for (size_t at = 0; at < da.size() || at < db.size(); at += 1000000) {
    if (at < da.size()) {
      ASSERT_EQ(write_to_filter(ia, da.data() + at, std::min<size_t>(1000000, da.size() - at)),
                0);
    }
    if (at < db.size()) {
      ASSERT_EQ(write_to_filter(ib, db.data() + at, std::min<size_t>(1000000, db.size() - at)),
                0);
    }
  }
  EXPECT_EQ(destroy_filter(ia), 0);
  EXPECT_EQ(destroy_filter(ib), 0);
  EXPECT_TRUE(tevtest::ReadFile(Store("bkt/twin0")) == da);
  EXPECT_TRUE(tevtest::ReadFile(Store("bkt/twin1")) == db);

  const std::string odd = PatternData(1300001, 33);
  tevtest::WriteFile(Store("cont/odd"), odd);
  CloudClientArgs g{};
  g.mode = CLOUD_MODE_GET;
  g.provider = 2;
  std::snprintf(g.url, sizeof g.url, "https://127.0.0.1:%d/auth/v1.0", port);
  std::snprintf(g.user, sizeof g.user, "test:tester");
  std::snprintf(g.password, sizeof g.password, "testing");
  std::snprintf(g.container, sizeof g.container, "cont");
  std::snprintf(g.targetName, sizeof g.targetName, "/odd");
  int32_t id = -1;
  ASSERT_EQ(create_filter(FILTER_THREAD_READ, FILTER_PIPE_SIZE, nullptr, SwiftThread, &g, &id),
            0);
  std::string got;
  std::string block(70001, '\0');
  for (;;) {
    size_t count = 0;
    ASSERT_EQ(read_from_filter(id, block.data(), block.size(), &count), 0);
    if (count == 0) break;
    got.append(block.data(), count);
  }
  EXPECT_EQ(destroy_filter(id), 0);
  EXPECT_EQ(got.size(), odd.size());
  EXPECT_TRUE(got == odd);
}

// moto's S3 server stores the parts; boto3 reads back what the client
// stored, and the deletion leaves the bucket empty.
TEST_F(Cloud, MotoKeepsThePartsOfAnObject) {
  const std::string python = PythonExecutable();
  const int port = FreePort();
  ASSERT_GT(port, 0);
  const std::string p = std::to_string(port);
  server_ = std::make_unique<Server>(std::vector<std::string>{
      python, "-m", "moto.server", "-H", "127.0.0.1", "-p", p, "-c", g_certs + "/cert.pem", "-k",
      g_certs + "/key.pem"});
  ASSERT_TRUE(server_->WaitFor(port)) << "moto_server did not start";
  // boto3 on the same server: makes the bucket, lists "key size" lines, or
  // prints an object's bytes as hex.
  const char kBoto[] = R"PY(
import sys, boto3, urllib3
urllib3.disable_warnings()
s3 = boto3.client('s3', endpoint_url='https://127.0.0.1:' + sys.argv[1], verify=False,
                  aws_access_key_id='a', aws_secret_access_key='b', region_name='us-east-1')
if sys.argv[2] == 'make':
  s3.create_bucket(Bucket='bkt')
elif sys.argv[2] == 'list':
  for o in s3.list_objects_v2(Bucket='bkt').get('Contents', []):
    print(o['Key'], o['Size'])
else:
  open(sys.argv[3], 'wb').write(s3.get_object(Bucket='bkt', Key=sys.argv[2])['Body'].read())
)PY";
  tevtest::RunOptions o;
  o.env = {{"PATH", "/usr/bin:/bin"}, {"HOME", std::getenv("HOME") ? std::getenv("HOME") : "/"}};
  o.timeout_seconds = 60;
  auto boto = [&](const std::vector<std::string>& args) {
    std::vector<std::string> all = {"-c", kBoto, p};
    all.insert(all.end(), args.begin(), args.end());
    return tevtest::RunProgram(python, all, o);
  };
  tevtest::RunResult r = boto({"make"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  AddCloud("moto", 1, "https://bkt.s3.localhost:" + p, kAccess, kSecret, "bkt", 1500000);
  const std::string data = PatternData(2000000, 21);
  ASSERT_EQ(WriteObject("/rootdbs", "/srv/m", data, 64 * 1024), (std::pair<int, int>{0, 0}));
  const uint64_t copy = copy_;
  const size_t header = 192 + std::strlen("/rootdbs") + 1 + std::strlen("/srv/m") + 1;
  const size_t first = 1500000 - header;
  const std::string key = "srv/m/m." + std::to_string(copy) + ".";
  r = boto({"list"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, key + "1 1500000\n" + key + "2 " +
                       std::to_string(header + data.size() - first) + "\n");
  r = boto({key + "2", Path("part2")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(StoredPart(Path("part2"), data.substr(first)), "/rootdbs|/srv/m|2|same");
  EXPECT_TRUE(Dump(copy) == data);
  EXPECT_EQ(DeleteObject(copy), 0);
  r = boto({"list"});
  EXPECT_EQ(r.out, "");
}

// s3rver (npm, installed by scripts/test into this folder) keeps each part
// as the file "<dir>/bkt/<name>._S3rver_object". Its signature check signs
// an empty Date line, so the client's requests pass only when mismatched
// signatures are allowed; without that every request gets 403, and the
// error body's "<Message>" reaches the activity log.
TEST_F(Cloud, S3rverKeepsThePartsOfAnObject) {
  const std::string s3rver =
      tevtest::SourceDir() + "/tests/storage/datapath/node_modules/s3rver/bin/s3rver.js";
  ASSERT_EQ(access(s3rver.c_str(), R_OK), 0)
      << "s3rver is not installed: scripts/test runs npm ci in tests/storage/datapath";
  const std::string dir = Path("s3rver");
  env_->install().MakeDir("s3rver");
  auto start = [&](bool allow_mismatch) {
    const int port = FreePort();
    std::vector<std::string> argv = {"/usr/bin/env", "node", s3rver, "-d", dir, "-a",
                                     "127.0.0.1", "-p", std::to_string(port), "--key",
                                     g_certs + "/key.pem", "--cert", g_certs + "/cert.pem",
                                     "--service-endpoint", "localhost", "--configure-bucket",
                                     "bkt"};
    if (allow_mismatch) argv.push_back("--allow-mismatched-signatures");
    server_.reset();
    server_ = std::make_unique<Server>(argv);
    return server_->WaitFor(port) ? port : 0;
  };
  int port = start(true);
  ASSERT_GT(port, 0) << "s3rver did not start";
  // Parts of some megabytes are cached in a mapping of their own.
  AddCloud("s3rver", 1, "https://bkt.s3.localhost:" + std::to_string(port), "S3RVER", "S3RVER",
           "bkt", 3000000);
  const std::string path = "\\srv\\r";
  const size_t header = 192 + std::strlen("/rootdbs") + 1 + path.size() + 1;
  const size_t first = 3000000 - header;
  struct Case {
    size_t size;
    size_t parts;
  };
  for (const Case& c : {Case{70000, 1}, Case{4000000, 2}}) {
    SCOPED_TRACE(c.size);
    const std::string data = PatternData(c.size, static_cast<unsigned>(c.size) + 3);
    ASSERT_EQ(WriteObject("/rootdbs", path, data, 64 * 1024), (std::pair<int, int>{0, 0}));
    const uint64_t copy = copy_;
    auto object = [&](size_t part) {
      return dir + "/bkt/srv/r/r." + std::to_string(copy) + "." + std::to_string(part) +
             "._S3rver_object";
    };
    for (size_t part = 1; part <= c.parts; ++part) {
      const std::string slice = part == 1 ? data.substr(0, first) : data.substr(first);
      EXPECT_EQ(StoredPart(object(part), slice),
                "/rootdbs|" + path + "|" + std::to_string(part) + "|same");
    }
    EXPECT_NE(access(object(c.parts + 1).c_str(), F_OK), 0);
    EXPECT_TRUE(Dump(copy) == data);
    EXPECT_EQ(DeleteObject(copy), 0);
    for (size_t part = 1; part <= c.parts; ++part) {
      EXPECT_NE(access(object(part).c_str(), F_OK), 0) << object(part);
    }
  }

  // Signatures checked: the upload is refused and reported.
  port = start(false);
  ASSERT_GT(port, 0) << "s3rver did not start";
  AddCloud("s3strict", 1, "https://bkt.s3.localhost:" + std::to_string(port), "S3RVER",
           "S3RVER", "bkt", 1500000, 2);
  EXPECT_EQ(WriteObject("/rootdbs", "/srv/q", PatternData(5000, 4), 5000, 2),
            (std::pair<int, int>{0, 3}));
  EXPECT_NE(ActLog().find("The request signature we calculated does not match the signature you "
                          "provided. Check your key and signing method."),
            std::string::npos)
      << ActLog();
}

// Debian's object-store servers (swift_servers.py sets them up in a
// temporary directory): objects on the Swift interface and, through the
// proxy's S3 interface with real signature checks, on S3; a GET with the
// Swift token reads back what the client stored. A wrong key or secret
// fails the write.
TEST_F(Cloud, SwiftProxyKeepsObjectsOnSwiftAndS3) {
  const std::string port_file = Path("swift.port");
  env_->install().MakeDir("swift");
  server_ = std::make_unique<Server>(std::vector<std::string>{
      PythonExecutable(), tevtest::SourceDir() + "/tests/storage/datapath/swift_servers.py",
      "--dir", Path("swift"), "--cert", g_certs + "/cert.pem", "--key", g_certs + "/key.pem",
      "--port-file", port_file});
  // The servers start in seconds; a loaded machine may take a minute.
  for (int i = 0; i < 1800 && access(port_file.c_str(), F_OK) != 0; ++i) {
    ASSERT_NE(waitpid(server_->pid(), nullptr, WNOHANG), server_->pid())
        << "the object-store servers did not start: "
        << env_->install().ReadFile("swift/servers.log");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const std::string p = std::to_string(std::atoi(tevtest::ReadFile(port_file).c_str()));
  ASSERT_NE(p, "0") << "the object-store servers did not start";
  // Fetches an object with the Swift token into a file; prints the status.
  const char kSwiftGet[] = R"PY(
import ssl, sys, urllib.request, urllib.error
ctx = ssl.create_default_context(); ctx.check_hostname = False; ctx.verify_mode = ssl.CERT_NONE
base = 'https://127.0.0.1:' + sys.argv[1]
r = urllib.request.urlopen(urllib.request.Request(base + '/auth/v1.0', headers={
    'X-Auth-User': 'test:tester', 'X-Auth-Key': 'testing'}), context=ctx)
url = r.headers['X-Storage-Url'] + '/cont/' + sys.argv[2]
try:
  r = urllib.request.urlopen(urllib.request.Request(url, headers={
      'X-Auth-Token': r.headers['X-Storage-Token']}), context=ctx)
  open(sys.argv[3], 'wb').write(r.read())
  print(r.status)
except urllib.error.HTTPError as e:
  print(e.code)
)PY";
  auto swift_get = [&](const std::string& name, const std::string& file) {
    const tevtest::RunResult r = RunTool(PythonExecutable(), {"-c", kSwiftGet, p, name, file});
    std::string out = r.out;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return r.exit_code == 0 ? out : "<" + r.err + ">";
  };
  AddCloud("swift", 2, "https://127.0.0.1:" + p + "/auth/v1.0", "test:tester", "testing", "cont",
           0, 1);
  AddCloud("s3api", 1, "https://cont.s3.localhost:" + p, "test:tester", "testing", "cont",
           1500000, 2);
  struct Case {
    int32_t pool;
    size_t size;
    size_t parts;
  };
  const std::string path = "/srv/w";
  const size_t header = 192 + std::strlen("/rootdbs") + 1 + path.size() + 1;
  const size_t first = 1500000 - header;
  for (const Case& c : {Case{1, 3000000, 1}, Case{2, 2500000, 2}}) {
    SCOPED_TRACE(c.pool);
    const std::string data = PatternData(c.size, static_cast<unsigned>(c.pool) + 40);
    ASSERT_EQ(WriteObject("/rootdbs", path, data, 64 * 1024, c.pool),
              (std::pair<int, int>{0, 0}));
    const uint64_t copy = copy_;
    for (size_t part = 1; part <= c.parts; ++part) {
      const std::string name = "srv/w/w." + std::to_string(copy) + "." + std::to_string(part);
      ASSERT_EQ(swift_get(name, Path("got")), "200") << name;
      const std::string slice =
          c.parts == 1 ? data : (part == 1 ? data.substr(0, first) : data.substr(first));
      EXPECT_EQ(StoredPart(Path("got"), slice),
                "/rootdbs|" + path + "|" + std::to_string(part) + "|same");
    }
    EXPECT_TRUE(Dump(copy) == data);
    EXPECT_EQ(DeleteObject(copy), 0);
    for (size_t part = 1; part <= c.parts; ++part) {
      EXPECT_EQ(swift_get("srv/w/w." + std::to_string(copy) + "." + std::to_string(part),
                          Path("got")),
                "404");
    }
  }

  // A wrong secret on S3 is refused with 403 after the part went up; a
  // wrong Swift key with 401 before, so the writer's blocks find the pipe
  // closed.
  AddCloud("s3wrong", 1, "https://cont.s3.localhost:" + p, "test:tester", "wrong", "cont",
           4000000, 3);
  AddCloud("swiftwrong", 2, "https://127.0.0.1:" + p + "/auth/v1.0", "test:tester", "wrong",
           "cont", 0, 4);
  const std::string data = PatternData(3000000, 7);
  EXPECT_EQ(WriteObject("/rootdbs", "/srv/x", data, 64 * 1024, 3), (std::pair<int, int>{0, 3}));
  EXPECT_NE(ActLog().find("The request signature we calculated does not match"),
            std::string::npos)
      << ActLog();
  EXPECT_EQ(WriteObject("/rootdbs", "/srv/y", data, 64 * 1024, 4),
            (std::pair<int, int>{109, 3}));
  EXPECT_NE(ActLog().find("REST ERROR: The operation returned status 401 instead of 200"),
            std::string::npos);
}

}  // namespace
