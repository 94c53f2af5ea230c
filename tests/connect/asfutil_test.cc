// The layer utilities: error setter, arena, password scrambler, debug
// switch, buffer slots, record copies, host name, exported file calls and
// the small helpers of the drivers.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "base/os_files.h"
#include "connect/driver.h"
#include "connect/nt_filio.h"
#include "tests/connect/connect_fixture.h"

namespace {

using connect_test::EnsureLayer;

TEST(AsfUtilTest, SetErrorKeepsFifteenCharactersOfTheSource) {
  AsfControlBlock cb{};
  EXPECT_EQ(asf_set_error(&cb, -25546, 12, "abcdefghijklmnopqrst", 70000), -25546);
  EXPECT_EQ(cb.error, -25546);
  EXPECT_EQ(cb.os_error, 12);
  EXPECT_STREQ(cb.file, "abcdefghijklmno");
  EXPECT_EQ(cb.line, static_cast<int16_t>(70000));
  EXPECT_EQ(asf_set_error(nullptr, -406, 0, "x", 1), -406);
}

TEST(AsfUtilTest, ArenaBlocks) {
  alignas(4) unsigned char mem[64] = {};
  AsfArena* a = asf_arena_new(0, 1, mem, 28);
  int64_t off = 99;
  EXPECT_EQ(asf_arena_alloc(a, 28, &off), mem);
  EXPECT_EQ(off, 0);
  EXPECT_EQ(asf_arena_alloc(a, 1, &off), nullptr);
  EXPECT_EQ(off, -1);
  EXPECT_EQ(errno, ENOMEM);
  asf_arena_free(a);

  a = asf_arena_new(0, 1, mem, 64);
  asf_arena_alloc(a, 5, &off);
  EXPECT_EQ(a->used, 8);
  asf_arena_free(a);
  a = asf_arena_new(1, 1, mem, 64);
  asf_arena_alloc(a, 5, &off);
  EXPECT_EQ(a->used, 5);
  asf_arena_free(a);
  // An unaligned base is refused for an aligned arena only.
  EXPECT_EQ(asf_arena_new(0, 1, mem + 1, 8), nullptr);
  AsfArena* packed = asf_arena_new(1, 1, mem + 1, 8);
  EXPECT_NE(packed, nullptr);
  asf_arena_free(packed);
  EXPECT_EQ(asf_arena_free(nullptr), -1);
}

TEST(AsfUtilTest, StringBlocksRoundTripAndAbsentTexts) {
  alignas(4) unsigned char mem[64] = {};
  AsfArena* w = asf_arena_new(0, 1, mem, 64);
  int64_t o1, o2, o3;
  ASSERT_EQ(asf_arena_put_string(w, nullptr, &o1), 0);
  ASSERT_EQ(asf_arena_put_string(w, "abc", &o2), 0);
  ASSERT_EQ(asf_arena_put_string(w, "", &o3), 0);
  EXPECT_EQ(o1, 0);
  EXPECT_EQ(o2, 4);   // the absent text took a 4-byte block
  EXPECT_EQ(o3, 12);  // "abc" took 4 + 4 bytes
  EXPECT_EQ(w->used, 20);
  asf_arena_free(w);

  AsfArena* r = asf_arena_new(0, 1, mem, 20);
  char* t = reinterpret_cast<char*>(1);
  ASSERT_EQ(asf_arena_get_string(r, 0, &t), 0);
  EXPECT_EQ(t, nullptr);
  EXPECT_EQ(r->used, 4);
  ASSERT_EQ(asf_arena_get_string(r, 4, &t), 0);
  EXPECT_STREQ(t, "abc");
  std::free(t);
  ASSERT_EQ(asf_arena_get_string(r, 12, &t), 0);
  EXPECT_STREQ(t, "");
  std::free(t);
  EXPECT_EQ(r->used, 20);
  // An offset other than the read position leaves it where it is.
  ASSERT_EQ(asf_arena_get_string(r, 4, &t), 0);
  std::free(t);
  EXPECT_EQ(r->used, 20);
  ASSERT_EQ(asf_arena_get_string(r, -1, &t), 0);
  EXPECT_EQ(t, nullptr);
  asf_arena_free(r);
}

TEST(AsfUtilTest, DamagedStringBlocksFailTheRead) {
  alignas(4) unsigned char mem[32];
  auto put_length = [&](int32_t n) { std::memcpy(mem, &n, 4); };
  struct Case {
    int32_t length;
    int64_t offset;
    const char* what;
  } cases[] = {
      {-5, 0, "negative length"},   {100, 0, "length past the end"}, {4, 0, "no NUL at the end"},
      {4, 40, "offset past the end"}, {4, -7, "negative offset"},    {4, 30, "header cut"},
  };
  for (const Case& c : cases) {
    std::memset(mem, 'z', sizeof mem);
    put_length(c.length);
    AsfArena* r = asf_arena_new(0, 1, mem, 32);
    char* t = nullptr;
    EXPECT_EQ(asf_arena_get_string(r, c.offset, &t), -1) << c.what;
    EXPECT_EQ(t, nullptr) << c.what;
    asf_arena_free(r);
  }
  // Random damage never reads outside the arena (the address checker
  // watches): every read either fails or gives a text inside it.
  std::mt19937 rng(40);
  std::vector<uint32_t> words(16);
  for (int round = 0; round < 2000; ++round) {
    for (uint32_t& w : words) w = rng() % 80;
    AsfArena* r = asf_arena_new(0, 1, words.data(), 64);
    char* t = nullptr;
    int64_t offset = static_cast<int64_t>(rng() % 80) - 8;
    if (asf_arena_get_string(r, offset, &t) == 0 && t != nullptr) {
      EXPECT_LT(std::strlen(t), 64u);
      std::free(t);
    }
    EXPECT_EQ(asf_arena_take(r, 65), nullptr);
    asf_arena_free(r);
  }
}

// The key as the layer's documentation writes it.
std::vector<unsigned char> Key() {
  const std::string hex = "4f9a2c71d8e05b36a1c7f2948e3d6b05";
  std::vector<unsigned char> key;
  for (size_t i = 0; i < hex.size(); i += 2) {
    key.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return key;
}

TEST(AsfUtilTest, PasswordScrambling) {
  const std::vector<unsigned char> key = Key();
  unsigned char src[8] = {};
  unsigned char dst[8];
  asf_scramble_password(dst, src, 8, 0);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(dst[i], 0);
  EXPECT_EQ(dst[7], 254);
  unsigned char back[8];
  std::memset(back, 0x55, sizeof back);
  asf_scramble_password(back, dst, 8, 1);
  for (unsigned char b : back) EXPECT_EQ(b, 0);

  unsigned char pw[20] = "abc";
  std::memset(pw + 4, 'q', 16);
  unsigned char hidden[20];
  asf_scramble_password(hidden, pw, 20, 0);
  // The source after the text's NUL is filled with 'x' first.
  for (int i = 4; i < 20; ++i) EXPECT_EQ(pw[i], 'x');
  const unsigned char plain[20] = {'a', 'b', 'c', 0,   'x', 'x', 'x', 'x', 'x', 'x',
                                   'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
  for (int i = 0; i < 20; ++i) EXPECT_EQ(hidden[i], plain[i] ^ key[i % 16]) << i;
  unsigned char restored[20];
  asf_scramble_password(restored, hidden, 20, 1);
  EXPECT_STREQ(reinterpret_cast<char*>(restored), "abc");
  for (int i = 3; i < 20; ++i) EXPECT_EQ(restored[i], 0);
  // In place.
  asf_scramble_password(hidden, hidden, 20, 1);
  EXPECT_STREQ(reinterpret_cast<char*>(hidden), "abc");
  asf_scramble_password(hidden, hidden, 0, 0);  // length 0 does nothing
  EXPECT_STREQ(reinterpret_cast<char*>(hidden), "abc");
}

TEST(AsfUtilTest, DebugSwitch) {
  EnsureLayer();
  AsfGlobal* g = asf_global_get();
  struct {
    const char* value;
    int rc;
    uint32_t categories, details;
    const char* err;
  } cases[] = {
      {"ES", 0, 0x11, 0, ""},
      {"A:", 0, 0x17, 0, ""},
      {"Clt", 0, 2, 6, ""},
      {"Cq", -1, 0, 0, "Error: invalid option or category - q \n"},
      {"E:/nonexistent-dir/x/dump", -1, 0, 0, "Error: can't open file - /nonexistent-dir/x/dump\n"},
  };
  for (const auto& c : cases) {
    setenv("TARVELONASFDBG", c.value, 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(asf_debug_init(), c.rc) << c.value;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err) << c.value;
    EXPECT_EQ(g->debug_categories, c.categories) << c.value;
    EXPECT_EQ(g->debug_details, c.details) << c.value;
    EXPECT_EQ(g->debug_stream, stderr) << c.value;
  }
  tevtest::TempInstall dir;
  std::string setting = "O:" + dir.Path("dump");
  setenv("TARVELONASFDBG", setting.c_str(), 1);
  ASSERT_EQ(asf_debug_init(), 0);
  EXPECT_EQ(g->debug_categories, 4u);
  ASSERT_NE(g->debug_stream, stderr);
  std::string dump = dir.ReadFile("dump");
  EXPECT_EQ(dump.rfind("ASF Debug Dump  version 6.0\nDump created on: ", 0), 0u) << dump;
  EXPECT_NE(dump.find("\nTARVELONASFDBG = " + setting + "\n\n"), std::string::npos) << dump;
  struct stat st;
  ASSERT_EQ(stat(dir.Path("dump").c_str(), &st), 0);
  fclose(g->debug_stream);
  g->debug_stream = stderr;
  unsetenv("TARVELONASFDBG");
  EXPECT_EQ(asf_debug_init(), 0);
  EXPECT_EQ(g->debug_categories, 0u);
}

TEST(AsfUtilTest, BufferSlots) {
  AsfControlBlock cb{};
  AsfAssociation* a = asf_assoc_new(&cb, ASF_INITIATOR, nullptr);
  char data[16];
  AsfPacketBuffer b{data + 3, 2, 0, 0, data, 16, 6};
  EXPECT_EQ(asf_buffer_put(a, 8, &b), -1);  // neither send nor receive
  ASSERT_EQ(asf_buffer_put(a, ASF_BF_SEND, &b), 0);
  EXPECT_EQ(b.position, data + 6);
  EXPECT_EQ(b.left, 10u);
  EXPECT_EQ(asf_buffer_put(a, ASF_BF_SEND, &b), -1);  // occupied
  AsfPacketBuffer* out = nullptr;
  ASSERT_EQ(asf_buffer_get(a, ASF_BF_SEND | ASF_BF_RECV | ASF_BF_KEEP, &out), 0);
  EXPECT_EQ(out, &b);
  EXPECT_EQ(a->buffers[ASF_BUF_SEND], &b);
  ASSERT_EQ(asf_buffer_get(a, ASF_BF_SEND, &out), 0);
  EXPECT_EQ(asf_buffer_get(a, ASF_BF_SEND, &out), -1);
  b.position = data + 1;
  ASSERT_EQ(asf_buffer_put(a, ASF_BF_RECV | ASF_BF_EXPEDITED, &b), 0);
  EXPECT_EQ(b.position, data + 1);  // a receive buffer is stored as it is
  EXPECT_EQ(a->buffers[ASF_BUF_XRECV], &b);
  a->buffers[ASF_BUF_XRECV] = nullptr;
  EXPECT_EQ(asf_handover_size(a), 2056);
  EXPECT_EQ(asf_assoc_kind(a, nullptr), ASF_INITIATOR);
  asf_assoc_free(a);
  EXPECT_EQ(asf_assoc_free(nullptr), -1);
}

TEST(AsfUtilTest, ServerEntryCopyAndWipe) {
  AsfServerEntry e{};
  e.server_name = asf_strdup(1, "srv");
  e.address = asf_strdup(1, "h|1|soctcp");
  e.password = asf_strdup(1, "secret");
  e.options.csm = asf_strdup(1, "csm");
  AsfServerEntry* c = asf_dup_server_entry(1, &e);
  ASSERT_NE(c, nullptr);
  EXPECT_STREQ(c->server_name, "srv");
  EXPECT_NE(c->password, e.password);
  EXPECT_STREQ(c->password, "secret");
  EXPECT_EQ(c->database, nullptr);
  asf_free_server_entry(1, c, 1);
  char* pw = e.password;
  asf_wipe_password(pw);
  EXPECT_EQ(std::string(pw, 6), std::string(6, '\0'));
  asf_free_server_entry(1, &e, 0);
  EXPECT_EQ(e.password, nullptr);
  EXPECT_EQ(e.server_name, nullptr);
  asf_free_server_list(nullptr);
}

TEST(AsfUtilTest, HostName) {
  char full[256];
  ASSERT_EQ(os_hostname(full, sizeof full), 0);
  char buf[256];
  ASSERT_EQ(rhostname(buf, sizeof buf), 0);
  EXPECT_STREQ(buf, full);
  char one[1] = {'z'};
  EXPECT_EQ(rhostname(one, 1), 0);
  EXPECT_EQ(one[0], '\0');
  EXPECT_EQ(rhostname(buf, 0), -1);
  char three[3];
  ASSERT_EQ(rhostname(three, 3), 0);
  EXPECT_EQ(std::string(three), std::string(full).substr(0, 2));
}

TEST(AsfUtilTest, ExportedFileCalls) {
  tevtest::TempInstall dir;
  const std::string missing = dir.Path("missing");
  testing::internal::CaptureStdout();
  errno = 0;
  EXPECT_EQ(NT_open(missing.c_str(), 0), -1);
  EXPECT_EQ(errno, ENOENT);
  std::string starred = "**" + missing;
  EXPECT_EQ(NT_open(starred.c_str(), O_CREAT | O_RDWR), -1);
  EXPECT_FALSE(dir.Exists("missing"));
  EXPECT_EQ(NT_read(-1, nullptr, 0), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(NT_close(-1), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

  std::string one_star = "*" + dir.Path("f");
  int fd = NT_open(one_star.c_str(), O_CREAT | O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "hello", 5), 5);
  EXPECT_EQ(NT_close(fd), 0);
  EXPECT_EQ(NT_open(dir.Path("f").c_str(), O_CREAT | O_EXCL | O_WRONLY), -1);
  fd = NT_open(dir.Path("f").c_str(), O_APPEND);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "!", 1), 1);
  NT_close(fd);
  EXPECT_EQ(dir.ReadFile("f"), "hello!");
  fd = NT_open(dir.Path("f").c_str(), 0);
  char buf[16];
  EXPECT_EQ(NT_read(fd, buf, sizeof buf), 6);
  struct stat st;
  ASSERT_EQ(NT_fstat(fd, &st), 0);
  EXPECT_EQ(st.st_size, 6);
  EXPECT_EQ(st.st_mode, 0x8180u);
  EXPECT_EQ(st.st_uid, 0u);
  EXPECT_EQ(st.st_nlink, 0u);
  NT_close(fd);
  chmod(dir.Path("f").c_str(), 0444);
  fd = NT_open(dir.Path("f").c_str(), 0);
  ASSERT_EQ(NT_fstat(fd, &st), 0);
  EXPECT_EQ(st.st_mode, 0x8100u);
  NT_close(fd);
  fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(NT_fstat(fd, &st), 0);
  EXPECT_EQ(st.st_mode & 0xF000u, 0x4000u);
  close(fd);
  fd = NT_open(dir.Path("trunc").c_str(), O_CREAT | O_TRUNC | O_WRONLY);
  ASSERT_GE(fd, 0);
  NT_close(fd);
  EXPECT_EQ(NT_fstat(-1, &st), -1);
}

void Handler(int) {}

TEST(AsfUtilTest, InterruptSlots) {
  OsInterruptHandler first = os_set_interrupt_handler(20, Handler);
  (void)first;
  EXPECT_EQ(os_set_interrupt_handler(20, reinterpret_cast<OsInterruptHandler>(1)), Handler);
  OsInterruptHandler nothing = os_set_interrupt_handler(20, nullptr);
  EXPECT_NE(nothing, nullptr);  // the do-nothing handler was stored
  EXPECT_NE(nothing, Handler);
  // The do-nothing handler takes the signal harmlessly.
  raise(SIGINT);
  EXPECT_EQ(os_set_interrupt_handler(99, Handler), nullptr);
  signal(SIGINT, SIG_DFL);
}

TEST(AsfUtilTest, SmallHelpers) {
  EXPECT_EQ(os_all_digits(""), 1);
  EXPECT_EQ(os_all_digits("0123"), 1);
  EXPECT_EQ(os_all_digits("12a4"), 0);

  setenv("TARVELONDIR", tevtest::BuildTree().c_str(), 1);
  int32_t status = 99;
  EXPECT_EQ(os_find_at("ab@cd", &status), 2);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(os_find_at("abcd", &status), 0);
  EXPECT_NE(status, 0);

  AsfControlBlock cb{};
  char host[256];
  ASSERT_EQ(rhostname(host, sizeof host), 0);
  EXPECT_EQ(pipe_host_check((std::string(host) + "|svc|ipcpip").c_str(), &cb), 0);
  EXPECT_EQ(pipe_host_check("&anything|svc|ipcpip", &cb), 0);
  EXPECT_EQ(pipe_host_check("not-this-host-x|svc|ipcpip", &cb), -1);
  EXPECT_EQ(cb.error, -25591);
  EXPECT_EQ(drv_fail(), -1);

  tevtest::TempInstall dir;
  dir.WriteFile("items", "abcdefgh");
  int fd = open(dir.Path("items").c_str(), O_RDONLY);
  char buf[8];
  EXPECT_EQ(os_read_items(buf, 3, 2, fd), 6);
  EXPECT_EQ(os_rewind(fd), 0);
  EXPECT_EQ(os_read_items(buf, 1, 1, fd), 1);
  EXPECT_EQ(buf[0], 'a');
  close(fd);
}

}  // namespace
