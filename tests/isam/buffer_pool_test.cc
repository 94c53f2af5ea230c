// The buffer pool: its size from ISAMBUFS, addressing of nodes and data
// blocks, node images, eviction with write-back, and the fatal exits.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <thread>

#include "isam/isam.h"
#include "tests/isam/child.h"
#include "tests/isam/isam_fixture.h"

namespace isamtest {
namespace {

using isam::IsamBuffer;
using isam::is_state;

// Runs body on a thread of its own, whose pool is set up with ISAMBUFS.
void OnThreadWithBuffers(const char* isambufs, const std::function<void()>& body) {
  if (isambufs) setenv("ISAMBUFS", isambufs, 1);
  else unsetenv("ISAMBUFS");
  std::thread t(body);
  t.join();
  unsetenv("ISAMBUFS");
}

TEST(IsamPoolSize, IsambufsValues) {
  struct Case {
    const char* value;
    int want;
  } cases[] = {{nullptr, 16}, {"3", 16},   {"4", 4},    {"32766", 32766}, {"32767", 16},
               {"100abc", 100}, {"abc", 16}, {" 8", 16}, {"-5", 16},      {"99999999999999", 16}};
  for (const Case& c : cases) {
    EXPECT_EQ(isam::is_poolsize(c.value), c.want) << (c.value ? c.value : "unset");
  }
  struct Pool {
    const char* value;
    int buffers, buckets;
  } pools[] = {{"4", 4, 1}, {"32766", 32766, 10922}, {"3", 16, 5}};
  for (const Pool& p : pools) {
    OnThreadWithBuffers(p.value, [&] {
      isam::is_initbuffers();
      EXPECT_EQ(is_state().pool.nbuffers, p.buffers) << p.value;
      EXPECT_EQ(is_state().pool.nbuckets, p.buckets) << p.value;
    });
  }
}

using BufferPoolTest = PairTest;

TEST_F(BufferPoolTest, NodesAndDataBlocksAreAddressed) {
  isam::IsamSharedFile* sf = Make("addr", 20);
  ASSERT_NE(sf, nullptr);
  IsamBuffer* b = isam::is_readbuffer(1);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->data[0], 0xFE);
  EXPECT_EQ(b->data[1], 0x53);
  isam::is_release(b);

  b = isam::is_readbuffer(5 | isam::kDataBlock);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b->data), 1024), std::string(1024, '\0'));
  isam::is_release(b);

  EXPECT_EQ(isam::is_readbuffer(3), nullptr);  // beyond the end of the ".idx" file
  EXPECT_EQ(is_state().isiocode, 65);
  EXPECT_EQ(Errno(), EBADFILE);

  // A data block is written at k x 1024.
  b = isam::is_newbuffer(2 | isam::kDataBlock);
  ASSERT_NE(b, nullptr);
  b->data[0] = 'Q';
  b->data[1023] = 'Z';
  ASSERT_EQ(isam::is_writebuffer(b), 0);
  std::string dat = Bytes(Name("addr.dat"));
  ASSERT_EQ(dat.size(), 3072u);
  EXPECT_EQ(dat[2048], 'Q');
  EXPECT_EQ(dat[3071], 'Z');
}

TEST_F(BufferPoolTest, ModifiedNodeImageCarriesUsedTypeAndLevel) {
  isam::IsamSharedFile* sf = Make("image", 20);
  ASSERT_NE(sf, nullptr);
  IsamBuffer* b = isam::is_newbuffer(3);
  ASSERT_NE(b, nullptr);
  b->used = 0x123;
  b->type = 0xAB;
  b->level = 5;
  isam::is_releasedirty(b);
  EXPECT_TRUE(sf->flags & isam::SF_BUFMODIFIED);
  ASSERT_EQ(isam::is_flushbuffers(sf), 0);
  std::string node = Bytes(Name("image.idx")).substr(2048);
  ASSERT_EQ(node.size(), 1024u);
  EXPECT_EQ(node[0], 0x01);
  EXPECT_EQ(node[1], 0x23);
  EXPECT_EQ(static_cast<unsigned char>(node[1021]), 0xAB);
  EXPECT_EQ(node[1022], 5);

  // Reading takes the kept fields from the image, ignoring bit 15 of the
  // used count and bit 7 of the level.
  unsigned char raw[2] = {0x81, 0x02};
  ASSERT_EQ(pwrite(sf->idxfd, raw, 2, 2048), 2);
  unsigned char lvl = 0x85;
  ASSERT_EQ(pwrite(sf->idxfd, &lvl, 1, 2048 + 1022), 1);
  isam::is_dropbuffers(sf);
  b = isam::is_readbuffer(3);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->used, 0x102);
  EXPECT_EQ(b->level, 5);
  isam::is_release(b);
}

TEST_F(BufferPoolTest, NodesStayCachedUntilDropped) {
  isam::IsamSharedFile* sf = Make("cache", 20);
  ASSERT_NE(sf, nullptr);
  IsamBuffer* b = isam::is_readbuffer(2);
  ASSERT_NE(b, nullptr);
  isam::is_release(b);
  unsigned char x = 0x55;
  ASSERT_EQ(pwrite(sf->idxfd, &x, 1, 1024 + 100), 1);
  b = isam::is_readbuffer(2);
  EXPECT_EQ(b->data[100], 0);  // served from the pool
  isam::is_release(b);
  isam::is_dropbuffers(sf);
  b = isam::is_readbuffer(2);
  EXPECT_EQ(b->data[100], 0x55);
  isam::is_release(b);
}

// A modified buffer met when the pair's buffers are dropped is a change an
// earlier write failed to make: it is reported, not fatal, and forgotten.
TEST_F(BufferPoolTest, DroppingAModifiedBufferReportsTheLostChange) {
  isam::IsamSharedFile* sf = Make("lost", 20);
  ASSERT_NE(sf, nullptr);
  IsamBuffer* b = isam::is_readbuffer(2);
  ASSERT_NE(b, nullptr);
  b->data[100] = 0x77;
  isam::is_releasedirty(b);
  is_state().iserrno = 0;
  EXPECT_EQ(isam::is_dropbuffers(sf), -1);
  EXPECT_EQ(is_state().iserrno, EIO);
  EXPECT_EQ(is_state().isiocode, 81);
  EXPECT_EQ(isam::is_dropbuffers(sf), 0);
  b = isam::is_readbuffer(2);
  EXPECT_EQ(b->data[100], 0);  // read again from the file
  isam::is_release(b);
}

TEST(IsamBufferPool, EvictionWritesTheLeastRecentlyUsedBuffer) {
  OnThreadWithBuffers("4", [] {
    tevtest::TempInstall dir;
    std::string name = dir.Path("evict");
    ASSERT_EQ(isam::is_createpair(name), 0);
    isam::IsamSharedFile* sf = isam::is_openfiles(name, IS_INOUT);
    ASSERT_NE(sf, nullptr);
    ASSERT_EQ(isam::is_initpair(sf, 20, 0, nullptr), 0);
    ASSERT_EQ(isam::is_flushfile(), 0);

    IsamBuffer* b = isam::is_newbuffer(3);
    b->data[10] = 'A';
    isam::is_releasedirty(b);
    // Four other blocks push node 3 out: it is written on the way.
    for (uint32_t k = 0; k < 3; ++k) isam::is_release(isam::is_readbuffer(k | isam::kDataBlock));
    EXPECT_EQ(tevtest::ReadFile(name + ".idx").size(), 2048u);
    isam::is_release(isam::is_readbuffer(3 | isam::kDataBlock));
    std::string idx = tevtest::ReadFile(name + ".idx");
    ASSERT_EQ(idx.size(), 3072u);
    EXPECT_EQ(idx[2048 + 10], 'A');

    // A buffer whose write fails stays modified: the change is not lost.
    b = isam::is_newbuffer(4);
    b->data[10] = 'B';
    isam::is_releasedirty(b);
    int rw = sf->idxfd;
    sf->idxfd = open((name + ".idx").c_str(), O_RDONLY | O_CLOEXEC);
    for (uint32_t k = 0; k < 3; ++k) isam::is_release(isam::is_readbuffer(k | isam::kDataBlock));
    is_state().iserrno = 0;
    EXPECT_EQ(isam::is_readbuffer(9 | isam::kDataBlock), nullptr);
    EXPECT_EQ(is_state().iserrno, EBADF);
    EXPECT_EQ(is_state().isiocode, 81);
    close(sf->idxfd);
    sf->idxfd = rw;
    ASSERT_EQ(isam::is_flushbuffers(sf), 0);
    EXPECT_EQ(tevtest::ReadFile(name + ".idx")[3072 + 10], 'B');
    isam::is_releasefiles(sf);
  });
}

TEST(IsamBufferPool, BrokenBookkeepingIsFatalWithExactMessage) {
  struct Case {
    const char* message;
    void (*body)();
  } cases[] = {
      {"no more buffers",
       [] {
         for (uint32_t k = 0; k < 5; ++k) isam::is_getbuffer(k | isam::kDataBlock);
       }},
      {"buffer not busy",
       [] {
         IsamBuffer* b = isam::is_getbuffer(isam::kDataBlock);
         isam::is_release(b);
         isam::is_release(b);
       }},
      {"buffer not free",
       [] {
         isam::is_getbuffer(isam::kDataBlock);
         isam::is_getbuffer(isam::kDataBlock);
       }},
  };
  for (const Case& c : cases) {
    ChildResult r = RunChild([&c] {
      setenv("ISAMBUFS", "4", 1);
      std::thread t([&c] {
        static isam::IsamSharedFile dummy;
        dummy.ino = 0;
        is_state().curfile = &dummy;
        c.body();
      });
      t.join();
      return 0;
    });
    EXPECT_EQ(r.signal, SIGABRT) << c.message;
    EXPECT_EQ(r.err, std::string("\r\nFatal system error: ") + c.message + "\r\n");
  }
}

}  // namespace
}  // namespace isamtest
