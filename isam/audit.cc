// The audit trail.
//
// Header bytes 49-52: bit 31 set while auditing is on, bits 0-30 the audit
// node (0 when none). The audit node, an ".idx" node:
//
//   bytes    field
//   0-1      length of the audit file name + 5
//   2-3      0
//   4..      the name and its NUL (at most 127 characters)
//   rest     0 (the node's kind bytes N-3 and N-2 included)
//
// The audit file holds records appended one after the other, no header:
//
//   bytes    field
//   0, 1     type letter twice: a insert, d delete, r before and w after a
//            rewrite
//   2-5      time of the change, seconds since 1970 (low 32 bits)
//   6-7      process id of the writer (low 16 bits)
//   8-9      user id of the writer: the accounts layer's 16-bit id (tv_getuid)
//   10-13    record number
//   14-15    variable-length files only: record length + 1
//   then     the record's bytes and one newline (0x0A)
//
// Records of several processes go to one file without a lock of their own:
// every change holds the exclusive header lock while it appends.

#include "isam/audit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "isam/bigendian.h"
#include "isam/buffer_pool.h"
#include "isam/call_frame.h"
#include "isam/header.h"
#include "isam/records.h"
#include "isam/thread_state.h"

namespace isam {

namespace {

constexpr uint32_t kAuditOn = 0x80000000u;
constexpr int kMaxAuditName = 127;

uint32_t AuditNode() { return is_hdrget32(HDR_AUDITNODE) & ~kAuditOn; }
bool AuditOn() { return (is_hdrget32(HDR_AUDITNODE) & kAuditOn) != 0; }

// The audit node, checked: a node of the file whose name field fits it.
IsamBuffer* ReadAuditNode(uint32_t node) {
  if (node < 2 || node > is_hdrget32(HDR_LASTNODE)) {
    is_damage();
    return nullptr;
  }
  IsamBuffer* b = is_readbuffer(node);
  if (b == nullptr) return nullptr;
  int n = is_state().tail.n;
  int len = b->used - 5;
  const char* text = reinterpret_cast<const char*>(b->data + 4);
  if (len < 1 || len > kMaxAuditName || 4 + len >= n ||
      strnlen(text, static_cast<size_t>(len + 1)) != static_cast<size_t>(len)) {
    is_release(b);
    is_damage();
    return nullptr;
  }
  return b;
}

int WriteAll(int fd, const unsigned char* p, size_t len) {
  while (len > 0) {
    ssize_t n = write(fd, p, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return -1;
    }
    p += n;
    len -= static_cast<size_t>(n);
  }
  return 0;
}

int SetName(const char* name) {
  IsamThreadState& st = is_state();
  size_t len = strnlen(name, kMaxAuditName + 1);
  if (AuditOn() || len > kMaxAuditName || 4 + len + 1 > static_cast<size_t>(st.tail.n)) {
    return is_fail(EBADARG);
  }
  uint32_t node = AuditNode();
  if (len == 0) {
    if (node == 0) return 0;
    if (freeput(node, FREE_NODE) != 0) return -1;
    is_hdrput32(HDR_AUDITNODE, 0);
    return 0;
  }
  // Made for its owner when missing; an existing file is taken as it is,
  // but a directory can never be a trail and is refused now rather than at
  // the first change.
  if (is_createfile(name) != 0) {
    if (st.iserrno != EEXIST) return -1;
    struct stat sb;
    if (stat(name, &sb) == 0 && S_ISDIR(sb.st_mode)) return is_fail(EISDIR);
    st.iserrno = 0;
  }
  IsamBuffer* b;
  if (node != 0) {
    b = ReadAuditNode(node);
    if (b == nullptr) return -1;
    std::memset(b->data, 0, static_cast<size_t>(st.tail.n));
    is_nodesettype(b, 0);
    is_nodesetlevel(b, 0);
  } else {
    int64_t fresh = freetake(FREE_NODE);
    if (fresh < 0) return -1;
    b = is_newbuffer(static_cast<uint32_t>(fresh));
    if (b == nullptr) {
      freeput(fresh, FREE_NODE);
      return -1;
    }
    node = static_cast<uint32_t>(fresh);
  }
  is_nodesetused(b, static_cast<uint16_t>(len + 5));
  std::memcpy(b->data + 4, name, len + 1);
  is_releasedirty(b);
  is_hdrput32(HDR_AUDITNODE, node);
  return 0;
}

}  // namespace

void is_auditforget(IsamSharedFile* sf) {
  if (sf->auditfd >= 0) close(sf->auditfd);
  sf->auditfd = -1;
  sf->flags &= ~SF_AUDITOPEN;
}

int is_auditname(std::string* name) {
  name->clear();
  uint32_t node = AuditNode();
  if (node == 0) return 0;
  IsamBuffer* b = ReadAuditNode(node);
  if (b == nullptr) return -1;
  name->assign(reinterpret_cast<const char*>(b->data + 4));
  is_release(b);
  return 1;
}

int is_auditopen() {
  IsamThreadState& st = is_state();
  IsamSharedFile* sf = st.curfile;
  if ((sf->flags & SF_AUDITOPEN) || !AuditOn()) return 0;
  std::string name;
  if (is_auditname(&name) <= 0) return is_damage();
  for (int attempt = 0;; ++attempt) {
    int fd = is_osopen(name.c_str(), O_WRONLY, 0);
    if (fd >= 0) {
      sf->auditfd = fd;
      sf->flags |= SF_AUDITOPEN;
      return 0;
    }
    if (errno == EMFILE && attempt == 0) {
      is_closeidle();
      continue;
    }
    return is_fail(errno, 19);
  }
}

int is_auditwrite(char type, int32_t recnum, const unsigned char* record, int len) {
  IsamThreadState& st = is_state();
  IsamSharedFile* sf = st.curfile;
  if (!(sf->flags & SF_AUDITOPEN) || !AuditOn()) return 0;
  if (lseek(sf->auditfd, 0, SEEK_END) < 0) return is_fail(errno, 51);
  unsigned char head[16];
  head[0] = head[1] = static_cast<unsigned char>(type);
  st32(static_cast<uint32_t>(time(nullptr)), head + 2);
  st16(st.curopen->pid, head + 6);
  st16(st.curopen->uid, head + 8);
  st32(static_cast<uint32_t>(recnum), head + 10);
  size_t headlen = 14;
  if (sf->varlen) {
    st16(static_cast<uint32_t>(len + 1), head + 14);
    headlen = 16;
  }
  std::vector<unsigned char> body(record, record + len);
  body.push_back('\n');
  if (WriteAll(sf->auditfd, head, headlen) != 0 ||
      WriteAll(sf->auditfd, body.data(), body.size()) != 0) {
    return is_fail(errno, 83);
  }
  return 0;
}

}  // namespace isam

using namespace isam;

int isaudit(int isfd, char* buffer, int mode) {
  IsamThreadState& st = is_state();
  bool reading = mode == AU_GETNAME || mode == AU_INFO;
  if (is_callbegin(isfd, reading ? AC_READ : AC_READ | AC_WRITE | AC_HDREXCL) != 0) return -1;
  IsamSharedFile* sf = st.curfile;
  switch (mode) {
    case AU_SETNAME:
      if (buffer == nullptr) {
        is_fail(EBADARG);
        break;
      }
      SetName(buffer);
      break;
    case AU_GETNAME: {
      std::string name;
      int r = is_auditname(&name);
      if (r == 0) is_fail(EBADARG);
      if (r > 0 && buffer != nullptr) std::memcpy(buffer, name.c_str(), name.size() + 1);
      break;
    }
    case AU_START:
      if (AuditNode() == 0) {
        is_fail(EBADARG);
        break;
      }
      is_hdrput32(HDR_AUDITNODE, AuditNode() | kAuditOn);
      break;
    case AU_STOP:
      is_auditforget(sf);
      is_hdrput32(HDR_AUDITNODE, AuditNode());
      break;
    case AU_INFO:
      if (buffer != nullptr) buffer[0] = AuditOn() ? 1 : 0;
      break;
    default:
      break;
  }
  return is_callend();
}
