// Writes the seed inputs of the fuzz target: small sound pairs made
// through the library (fixed and variable records, unique, duplicate and
// compressed keys, a tree of two levels), in the target's input layout.
// Usage: isam_fuzz_seeds <output directory>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "isam/bigendian.h"
#include "isam/btree.h"
#include "isam/call_frame.h"
#include "isam/isam.h"
#include "isam/key_desc.h"
#include "isam/records.h"
#include "isam/thread_state.h"

namespace {

using namespace isam;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void Insert(int fd, const std::string& rec) {
  is_callbegin(fd, AC_READ | AC_WRITE | AC_HDREXCL);
  int64_t n = freetake(FREE_RECORD);
  auto* bytes = reinterpret_cast<const unsigned char*>(rec.data());
  datawrite(n, bytes, static_cast<int>(rec.size()));
  for (int i = 1;; ++i) {
    IsamKeyDesc kd = {};
    if (is_findkeydesc(&kd, i) < 0) break;
    if (kd.nparts == 0) continue;
    IsamKeyEntry e;
    is_buildkey(bytes, &e, kd);
    e.pointer = static_cast<int32_t>(n);
    is_insertkey(&e, kd);
  }
  is_state().iserrno = 0;
  is_callend();
}

void Remove(int fd, int64_t n) {
  IsamThreadState& st = is_state();
  is_callbegin(fd, AC_READ | AC_WRITE | AC_HDREXCL);
  dataread(n, st.recbuf.get());
  for (int i = 1;; ++i) {
    IsamKeyDesc kd = {};
    if (is_findkeydesc(&kd, i) < 0) break;
    if (kd.nparts == 0) continue;
    IsamKeyEntry e;
    is_buildkey(st.recbuf.get(), &e, kd);
    e.pointer = static_cast<int32_t>(n);
    is_deletekey(e, kd);
  }
  datafree(n);
  freeput(n, FREE_RECORD);
  st.iserrno = 0;
  is_callend();
}

std::string Record(int key, int len) {
  std::string rec(static_cast<size_t>(len), ' ');
  st32(static_cast<uint32_t>(key), reinterpret_cast<unsigned char*>(&rec[0]));
  for (int i = 4; i < len; ++i) rec[static_cast<size_t>(i)] = static_cast<char>('a' + (key + i) % 7);
  return rec;
}

void Save(const std::string& name, const std::string& out, int flags) {
  std::string idx = Slurp(name + ".idx");
  std::string dat = Slurp(name + ".dat");
  std::ofstream f(out, std::ios::binary);
  f.put(static_cast<char>(flags));
  f.put(static_cast<char>(idx.size() >> 8));
  f.put(static_cast<char>(idx.size() & 0xFF));
  f << idx << dat;
  unlink((name + ".idx").c_str());
  unlink((name + ".dat").c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::string dir = argv[1];
  char tmp[] = "/tmp/isam_seeds_XXXXXX";
  if (mkdtemp(tmp) == nullptr) return 1;
  std::string name = std::string(tmp) + "/s";

  IsamKeyDesc unique = {};
  unique.nparts = 1;
  unique.parts[0] = {0, 4, 2};
  int fd = isbuild(name.c_str(), 20, &unique, IS_INOUT | IS_EXCLLOCK);
  for (int k = 1; k <= 10; ++k) Insert(fd, Record(k, 20));
  for (int n : {2, 5, 9}) Remove(fd, n);
  isclose(fd);
  Save(name, dir + "/fixed-unique", 0);

  IsamKeyDesc text = {};
  text.flags = IS_DUPS | IS_DUPCOMP | IS_LEADCOMP | IS_TRAILCOMP;
  text.nparts = 1;
  text.parts[0] = {4, 12, 0};
  fd = isbuild(name.c_str(), 24, &text, IS_INOUT | IS_EXCLLOCK);
  for (int k = 1; k <= 150; ++k) Insert(fd, Record(k % 40, 24));
  isclose(fd);
  Save(name, dir + "/fixed-compressed-two-levels", 1);

  isrecsize = 8;
  fd = isbuild(name.c_str(), 2500, &unique, IS_INOUT | IS_EXCLLOCK | IS_VARLEN);
  for (int k = 1; k <= 8; ++k) Insert(fd, Record(k, 8 + (k * 613) % 2400));
  Remove(fd, 3);
  isclose(fd);
  Save(name, dir + "/variable", 1);
  rmdir(tmp);
  return 0;
}
