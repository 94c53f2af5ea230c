// Packed headers, the stored form with description (against an encoder in
// Python), damaged forms, equality, type text, hex dump and parameter
// markers.
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/thread_state.h"
#include "sqltypes/collection.h"
#include "sqltypes/collection_internal.h"
#include "sqltypes/value_stored.h"
#include "tests/sqltypes/sql_env.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::string;

std::string Hex(const void* p, size_t n) {
  static const char* d = "0123456789abcdef";
  const auto* b = static_cast<const unsigned char*>(p);
  std::string s;
  for (size_t i = 0; i < n; i++) {
    s += d[b[i] >> 4];
    s += d[b[i] & 15];
  }
  return s;
}

void PutBe32(Bytes* b, uint32_t v) {
  for (int i = 0; i < 4; i++) b->push_back(static_cast<char>(v >> (24 - 8 * i)));
}

std::string RunPython(const std::string& script, const std::string& input) {
  tevtest::RunOptions opt;
  opt.env = {{"PATH", "/usr/bin:/bin"}};
  opt.stdin_data = input;
  auto r = tevtest::RunProgram("/usr/bin/python3", {"-c", script}, opt);
  EXPECT_EQ(0, r.exit_code) << r.err;
  return r.out;
}

class FormsTest : public ::testing::Test {
 protected:
  void SetUp() override { sqltest::UseBuildTree(); }
};

TEST_F(FormsTest, HeadersAtEveryResidue) {
  alignas(16) char buf[64];
  Bytes data = "0123456789";
  SqliCollection c;
  memset(&c, 0, sizeof c);
  c.cl_data = data.data();
  c.cl_datalen = 10;
  c.cl_hashvalue = 0x01020304;
  std::vector<int> pads;
  for (int r = 0; r < 8; r++) {
    char* p = buf + r;
    memset(buf, 0x77, sizeof buf);
    zel_coll_puthdr(&c, p);
    int b = 3;
    while ((r + b) % 8 != 0) b++;  // first multiple of 8 at or after P + 3
    pads.push_back(b);
    EXPECT_EQ(b + 6 + 10, (static_cast<unsigned char>(p[0]) << 8) | static_cast<unsigned char>(p[1]));
    EXPECT_EQ(0, p[2]);
    EXPECT_EQ(std::string(static_cast<size_t>(b - 3), '\0'), std::string(p + 3, static_cast<size_t>(b - 3)));
    EXPECT_EQ("00000008" "01020304", Hex(p + b, 8));
    char* addr;
    memcpy(&addr, p + b + 8, sizeof addr);
    EXPECT_EQ(data.data(), addr);
    EXPECT_EQ(0x77, p[b + 16]);  // nothing written past the header
  }
  std::sort(pads.begin(), pads.end());
  EXPECT_EQ((std::vector<int>{3, 4, 5, 6, 7, 8, 9, 10}), pads);
  // b = 3 at an address of residue 5, 8 at an aligned one.
  EXPECT_EQ(3, coll_hdr_pad(buf + 5));
  EXPECT_EQ(8, coll_hdr_pad(buf));
  // Long form: the length at b + 4; a length past 32,767 takes it too.
  c.cl_flags = COLL_LONGFORM;
  zel_coll_puthdr(&c, buf);
  EXPECT_EQ("00000028" "00000018", Hex(buf + 8, 8));
  c.cl_flags = 0;
  c.cl_datalen = 40000;
  zel_coll_puthdr(&c, buf);
  EXPECT_EQ("00000028" + Hex("\x00\x00\x9c\x4e", 4), Hex(buf + 8, 8));
  c.cl_flags = COLL_ISNULL;
  zel_coll_puthdr(&c, buf);
  EXPECT_EQ("000101", Hex(buf, 3));
  zel_coll_nullhdr(buf + 1);
  EXPECT_EQ("000101", Hex(buf + 1, 3));
}

// A ROW (a integer, b char(4)) with 20 bytes of data.
CollTypeInfo* RowInfo() {
  CollTypeInfo* info = coll_typeinfo_alloc(3);
  info->ti_entry[0] = {};
  info->ti_entry[0].seqno = 1;
  info->ti_entry[0].type = SQLROW;
  CollTypeEntry& a = info->ti_entry[1];
  a.seqno = 2; a.level_no = 1; a.parent_no = 1; a.fieldnmlen = 1; a.fieldname[0] = 'a';
  a.type = SQLINT; a.length = 4;
  CollTypeEntry& b = info->ti_entry[2];
  b.seqno = 3; b.level_no = 1; b.parent_no = 1; b.fieldnmlen = 1; b.fieldname[0] = 'b';
  b.type = SQLCHAR; b.length = 4;
  return info;
}

Bytes RowData() {
  Bytes d;
  PutBe32(&d, 7);
  d += "abcd";
  PutBe32(&d, 0xFFFFFFFFu);
  PutBe32(&d, 4);
  PutBe32(&d, 0);
  return d;
}

TEST_F(FormsTest, StoredFormLengthsAndNull) {
  CollTypeInfo* info = RowInfo();
  Bytes data = RowData();
  SqliCollection c;
  ASSERT_EQ(0, zel_coll_init(&c, info, 1, data.data(), 20));
  EXPECT_EQ(2, c.cl_cardinality);
  std::vector<char> out(4096);
  ASSERT_EQ(314, stcollection(&c, out.data(), 0));
  EXPECT_EQ("00000136", Hex(out.data(), 4));  // 310
  ASSERT_EQ(1414, stcollection(&c, out.data(), 1));
  EXPECT_EQ(1410u, coll_get32(out.data()));
  // Read back: the description and the elements.
  SqliCollection back;
  memset(&back, 0, sizeof back);
  ASSERT_EQ(0, ldcollection(out.data(), &back, 1, 1));
  EXPECT_EQ(2, back.cl_cardinality);
  EXPECT_EQ(c.cl_hashvalue, back.cl_hashvalue);
  ASSERT_NE(nullptr, back.cl_svr_typeinfo);
  EXPECT_EQ(3, back.cl_svr_typeinfo->ti_count);
  EXPECT_EQ(0, memcmp(info->ti_entry, back.cl_svr_typeinfo->ti_entry, 3 * sizeof(CollTypeEntry)));
  EXPECT_EQ(data, Bytes(back.cl_data, 20));
  // Bit 31 of the flags word reads as null.
  const size_t flags_at = 4 + 1410 - 20 - 4;
  out[flags_at] = static_cast<char>(0x80);
  ASSERT_EQ(0, ldcollection(out.data(), &back, 1, 1));
  EXPECT_EQ(COLL_ISNULL, back.cl_flags & (COLL_ISNULL | 0x80000000u));
  ASSERT_EQ(0, zel_coll_free(&back));
  // A null value: F = 0 and one entry of zeros.
  c.cl_flags |= COLL_ISNULL;
  c.cl_len = 0;
  ASSERT_EQ(4 + 122, stcollection(&c, out.data(), 0));
  EXPECT_EQ(122u, coll_get32(out.data()));
  ASSERT_EQ(4 + 562, stcollection(&c, out.data(), 1));
  c.cl_flags &= ~static_cast<uint32_t>(COLL_ISNULL);
  c.cl_len = 20;
  // UDT elements with xid 5 and 1 become BOOLEAN and LVARCHAR.
  info->ti_entry[1].type = SQLUDTVAR | 0x1000;
  info->ti_entry[1].xid = 5;
  info->ti_entry[2].type = SQLUDTFIXED;
  info->ti_entry[2].xid = 1;
  const int n = stcollection(&c, out.data(), 0);
  ASSERT_GT(n, 0);
  memset(&back, 0, sizeof back);
  ASSERT_EQ(0, ldcollection(out.data(), &back, 1, 0));
  EXPECT_EQ(SQLBOOL | 0x1000, back.cl_svr_typeinfo->ti_entry[1].type);
  EXPECT_EQ(SQLLVARCHAR, back.cl_svr_typeinfo->ti_entry[2].type);
  EXPECT_EQ(0, back.cl_svr_typeinfo->ti_entry[1].xid);
  ASSERT_EQ(0, zel_coll_free(&back));
  ASSERT_EQ(0, zel_coll_free(&c));
  free(info);
}

// Random descriptions written by stcollection against an encoder of the
// layout in Python.
TEST_F(FormsTest, StoredFormAgreesWithPythonEncoder) {
  const unsigned seed = static_cast<unsigned>(time(nullptr));
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  std::ostringstream in;
  int cases = 0;
  for (int i = 0; i < 60; i++) {
    const int longid = static_cast<int>(rng() & 1);
    const int F = 1 + static_cast<int>(rng() % 6);
    CollTypeInfo* info = coll_typeinfo_alloc(F);
    info->ti_word = static_cast<uint32_t>(rng());
    info->ti_half = static_cast<uint16_t>(rng());
    for (int k = 0; k < 128; k++) info->ti_name[k] = static_cast<char>('a' + rng() % 26);
    in << longid << ' ' << F << ' ' << info->ti_word << ' ' << info->ti_half << ' '
       << Hex(info->ti_name, 128);
    info->ti_entry[0].type = SQLLIST;
    for (int j = 0; j < F; j++) {
      CollTypeEntry& e = info->ti_entry[j];
      e.seqno = static_cast<int16_t>(j + 1);
      e.level_no = static_cast<int16_t>(j == 0 ? 0 : 1 + rng() % 2);
      e.parent_no = static_cast<int16_t>(rng() % 5);
      e.fieldnmlen = static_cast<int16_t>(rng() % 20);
      for (int k = 0; k < 128; k++) {
        e.fieldname[k] = static_cast<char>(rng() % 3 ? 'a' + rng() % 26 : 0);
        e.xtype_name[k] = static_cast<char>(rng());
        e.xtype_owner_name[k] = static_cast<char>(rng());
      }
      e.field_no = static_cast<int16_t>(rng());
      if (j > 0) e.type = static_cast<uint16_t>(std::vector<int>{SQLINT, SQLCHAR, SQLROW, SQLSET, SQLDECIMAL}[rng() % 5] | (rng() % 2 ? SQL_NOTNULL_FLAG : 0));
      e.length = static_cast<int16_t>(rng());
      e.xid = static_cast<int32_t>(rng());
      e.flags = static_cast<uint16_t>(rng());
      e.xtype_nm_len = static_cast<int16_t>(rng());
      e.xtype_owner_len = static_cast<int16_t>(rng());
      e.align = static_cast<int16_t>(rng());
      e.srctype = static_cast<int32_t>(rng());
      in << ' ' << e.seqno << ' ' << e.level_no << ' ' << e.parent_no << ' ' << e.fieldnmlen << ' '
         << Hex(e.fieldname, 128) << ' ' << e.field_no << ' ' << e.type << ' ' << e.length << ' '
         << e.xid << ' ' << e.flags << ' ' << e.xtype_nm_len << ' ' << Hex(e.xtype_name, 128) << ' '
         << e.xtype_owner_len << ' ' << Hex(e.xtype_owner_name, 128) << ' ' << e.align << ' '
         << e.srctype;
    }
    SqliCollection c;
    memset(&c, 0, sizeof c);
    c.cl_magic = COLL_MAGIC;
    c.cl_typeinfo = info;
    c.cl_handle = static_cast<int32_t>(rng());
    Bytes data;
    const int n = static_cast<int>(rng() % 40);
    for (int k = 0; k < n; k++) data.push_back(static_cast<char>(rng()));
    c.cl_data = data.data();
    c.cl_len = c.cl_datalen = n;
    c.cl_flags = static_cast<uint32_t>(rng()) & ~static_cast<uint32_t>(COLL_ISNULL);
    std::vector<char> out(8000);
    const int w = stcollection(&c, out.data(), longid);
    ASSERT_GT(w, 0);
    in << ' ' << c.cl_handle << ' ' << c.cl_flags << ' ' << (data.empty() ? "-" : Hex(data.data(), data.size()))
       << ' ' << Hex(out.data(), static_cast<size_t>(w)) << '\n';
    cases++;
    free(info);
  }
  const char* script = R"(
import struct, sys
ok = bad = 0
for line in sys.stdin:
    t = line.split(); i = 0
    def nx():
        global i
        i += 1
        return t[i - 1]
    longid = int(nx()); F = int(nx()); N = 128 if longid else 18
    head = struct.pack('>IH', int(nx()), int(nx())) + bytes.fromhex(nx())[:N] + struct.pack('>h', F)
    ents = b''
    for _ in range(F):
        seq, lev, par, fl = (int(nx()) for _ in range(4))
        fname = bytes.fromhex(nx())[:N]
        fno, typ, ln, xid, flg, xl = int(nx()), int(nx()), int(nx()), int(nx()), int(nx()), int(nx())
        xname = bytes.fromhex(nx())[:N]
        ol = int(nx()); oname = bytes.fromhex(nx())[:N]
        al, src = int(nx()), int(nx())
        ents += struct.pack('>hhhh', seq, lev, par, fl) + fname + struct.pack('>hHhiHh', fno, typ, ln, xid, flg, xl)
        ents += xname + struct.pack('>h', ol) + oname + struct.pack('>hi', al, src)
    handle, flags, data = int(nx()), int(nx()), nx()
    data = b'' if data == '-' else bytes.fromhex(data)
    body = head + ents + struct.pack('>iiI', handle, len(data), flags) + data
    want = struct.pack('>I', len(body)) + body
    if want.hex() == nx(): ok += 1
    else:
        bad += 1
print(ok, 'passed,', bad, 'failed')
)";
  const std::string out = RunPython(script, in.str());
  EXPECT_NE(std::string::npos, out.find(std::to_string(cases) + " passed, 0 failed")) << out;
}

// Stored forms written by a Python encoder with BOOLEAN (extended type id 5)
// and LVARCHAR (id 1) elements, null elements and null values: ldcollection
// gives back the description with those types, the flags and the elements.
TEST_F(FormsTest, LoadsPythonEncodedBooleanAndLvarchar) {
  const char* script = R"(
import random, struct
rng = random.Random(39)
SET, MULTISET, LIST, ROW = 19, 20, 21, 22
def entry(N, seq, lev, par, typ, ln, xid, name=b''):
    pad = lambda b: (b + bytes(N))[:N]
    return (struct.pack('>hhhh', seq, lev, par, len(name)) + pad(name) +
            struct.pack('>hHhiHh', rng.randrange(-9, 9), typ, ln, xid, rng.randrange(65536), 0) +
            pad(b'') + struct.pack('>h', 0) + pad(b'') + struct.pack('>hi', 0, 0))
def element(boolean):
    # The variable-length form: null flag, 4-byte length, the bytes.
    if rng.random() < 0.25:
        return None, b'\x01' + bytes(4)
    v = bytes([rng.choice(b'tf')]) if boolean else bytes(rng.choice(b'ab \x00\xff') for _ in range(rng.randrange(0, 12)))
    return v, b'\x00' + struct.pack('>I', len(v)) + v
def string_hash(b):
    h = 0
    for c in b:
        if c == 0: break
        h = (h * 16 + (c - 256 if c > 127 else c)) & 0xFFFFFFFF
        g = h & 0xF0000000
        if g: h ^= (g >> 24) ^ g
    return h % 211
def fold(b):
    b = b + bytes(-len(b) % 4)
    h = 0
    for i in range(0, len(b), 4): h ^= struct.unpack('>I', b[i:i + 4])[0]
    return h
for case in range(200):
    longid = rng.randrange(2); N = 128 if longid else 18; skip = rng.randrange(2)
    kind = rng.choice([SET, MULTISET, LIST, ROW])
    nfield = rng.randrange(1, 4) if kind == ROW else 1
    ents = [entry(N, 1, 0, 0, kind, 0, 0)]
    want_types = [kind]
    kinds = []
    for f in range(nfield):
        boolean = rng.randrange(2) == 1
        kinds.append(boolean)
        high = rng.choice([0, 0x100])
        ents.append(entry(N, 2 + f, 1, 1, high | rng.choice([40, 41]), 1 if boolean else rng.choice([0, 200, 2048]),
                          5 if boolean else 1, b'f%d' % f if kind == ROW else b''))
        want_types.append(high | (45 if boolean else 43))
    count = nfield if kind == ROW else rng.randrange(0, 6)
    elems = [element(kinds[i] if kind == ROW else kinds[0]) for i in range(count)]
    null = rng.random() < 0.15
    if null:
        elems = []
    data = b''.join(e[1] for e in elems)
    offs = []
    o = 0
    for e in elems:
        offs.append(o); o += len(e[1])
    if elems:
        data += struct.pack('>I', 0xFFFFFFFF) + b''.join(struct.pack('>I', x) for x in reversed(offs))
    flags = rng.randrange(0, 1 << 20) & ~0x4 & ~0x3000000 & ~0x4000000
    if null:
        flags |= 0x80000000
    body = (struct.pack('>IH', 7, 9) + bytes(N) + struct.pack('>h', len(ents)) + b''.join(ents) +
            struct.pack('>iiI', 1234, len(data), flags) + data)
    if skip:
        body = struct.pack('>I', len(body)) + body
    # The value's hash: the XOR of its element hashes (LVARCHAR by the
    # string hash, BOOLEAN by the fold).
    h = 0
    for i, e in enumerate(elems):
        boolean = kinds[i] if kind == ROW else kinds[0]
        h ^= fold(e[1]) if boolean else string_hash(e[1])
    out = [str(longid), str(skip), body.hex(), ','.join(map(str, want_types)), str(int(null)),
           str(flags & 0x7FFFFFFF), str(h), str(len(elems))]
    out += [('-' if v is None else 'v' + v.hex()) + ':' + raw.hex() for v, raw in elems]
    print(' '.join(out))
)";
  std::istringstream lines(RunPython(script, ""));
  std::string line;
  int cases = 0;
  while (std::getline(lines, line)) {
    std::istringstream t(line);
    int longid, skip, null, count;
    uint32_t flags, hash;
    std::string hex, types;
    t >> longid >> skip >> hex >> types >> null >> flags >> hash >> count;
    SCOPED_TRACE(line.substr(0, 80));
    Bytes form;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) form.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    SqliCollection c;
    memset(&c, 0, sizeof c);
    ASSERT_EQ(0, ldcollection(form.data(), &c, skip, longid));
    const CollTypeInfo* info = c.cl_svr_typeinfo;
    ASSERT_NE(nullptr, info);
    std::vector<int> want;
    std::istringstream tt(types);
    for (std::string x; std::getline(tt, x, ',');) want.push_back(std::stoi(x));
    ASSERT_EQ(static_cast<int>(want.size()), info->ti_count);
    for (size_t j = 0; j < want.size(); j++) {
      EXPECT_EQ(want[j], info->ti_entry[j].type) << j;
      EXPECT_EQ(0, info->ti_entry[j].xid) << j;
    }
    EXPECT_EQ(null != 0, (c.cl_flags & COLL_ISNULL) != 0);
    EXPECT_EQ(0u, c.cl_flags & 0x80000000u);
    EXPECT_EQ(flags, c.cl_flags & flags);
    if (!null) {
      EXPECT_EQ(count, c.cl_cardinality);
      EXPECT_EQ(hash, static_cast<uint32_t>(c.cl_hashvalue));
      CollCursor k;
      ASSERT_EQ(0, zel_coll_curs_attach(&c, &k));
      for (int j = 0; j < count; j++) {
        std::string elem;
        t >> elem;
        const std::string raw = elem.substr(elem.find(':') + 1);
        char* p = nullptr;
        int32_t len = 0;
        ASSERT_EQ(0, zel_coll_next(&c, &k, &p, &len)) << j;
        EXPECT_EQ(raw, Hex(p, static_cast<size_t>(len))) << j;
        // The null flag and the value as the element's reader sees them.
        ASSERT_GE(len, 5);
        EXPECT_EQ(elem[0] == '-', p[0] == 1) << j;
        if (elem[0] == 'v') {
          EXPECT_EQ(elem.substr(1, elem.find(':') - 1), Hex(p + 5, coll_get32(p + 1))) << j;
        }
      }
      char* p = nullptr;
      int32_t len = 0;
      EXPECT_NE(0, zel_coll_next(&c, &k, &p, &len));
      zel_coll_curs_detach(&c, &k);
    }
    zel_coll_free(&c);
    cases++;
  }
  EXPECT_EQ(200, cases);
}

// Damaged stored forms and packed data give errors, never a read past the
// bytes (the sanitizer build checks the reads).
TEST_F(FormsTest, DamagedFormsAreRefused) {
  CollTypeInfo* info = RowInfo();
  Bytes data = RowData();
  SqliCollection c;
  ASSERT_EQ(0, zel_coll_init(&c, info, 1, data.data(), 20));
  std::vector<char> good(400);
  const int n = stcollection(&c, good.data(), 0);
  ASSERT_EQ(314, n);
  std::mt19937 rng(99);
  int refused = 0;
  for (int i = 0; i < 3000; i++) {
    std::vector<char> bad(good.begin(), good.begin() + n);
    const int flips = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < flips; k++) bad[rng() % static_cast<unsigned>(n)] = static_cast<char>(rng());
    if (rng() % 3 == 0) {  // cut: the length word tells the truth about the size
      const int keep = 4 + static_cast<int>(rng() % static_cast<unsigned>(n - 4));
      bad.resize(static_cast<size_t>(keep));
      coll_put32(bad.data(), static_cast<uint32_t>(keep - 4));
    } else if (static_cast<int64_t>(static_cast<int32_t>(coll_get32(bad.data()))) > n - 4 ||
               static_cast<int32_t>(coll_get32(bad.data())) < 0) {
      coll_put32(bad.data(), static_cast<uint32_t>(n - 4));
    }
    SqliCollection back;
    memset(&back, 0, sizeof back);
    const int rc = ldcollection(bad.data(), &back, 1, 0);
    if (rc != 0) {
      refused++;
    } else {
      // Whatever was accepted can be walked.
      CollCursor k;
      ASSERT_EQ(0, zel_coll_curs_attach(&back, &k));
      char* p = nullptr;
      int32_t len;
      for (int guard = 0; guard < 100 && zel_coll_next(&back, &k, &p, &len) == 0; guard++) p = nullptr;
      zel_coll_curs_detach(&back, &k);
    }
    zel_coll_free(&back);
  }
  EXPECT_GT(refused, 0);
  // Negative entry count and data length.
  std::vector<char> bad(good.begin(), good.begin() + n);
  bad[4 + 6 + 18] = static_cast<char>(0xFF);  // F, after ti_word, ti_half and the name
  bad[4 + 6 + 18 + 1] = static_cast<char>(0xF0);
  SqliCollection back;
  memset(&back, 0, sizeof back);
  EXPECT_EQ(-9986, ldcollection(bad.data(), &back, 1, 0));
  zel_coll_free(&back);
  bad.assign(good.begin(), good.begin() + n);
  coll_put32(bad.data() + n - 20 - 8, 0xFFFFFF00u);
  memset(&back, 0, sizeof back);
  EXPECT_EQ(-9986, ldcollection(bad.data(), &back, 1, 0));
  zel_coll_free(&back);
  // Packed data with an offset past the end, through put_col and next.
  alignas(8) char packed[64];
  alignas(8) char src[64];
  Bytes broken = data;
  coll_put32(broken.data() + 16, 200);
  SqliCollection tmp = c;
  tmp.cl_data = broken.data();
  zel_coll_puthdr(&tmp, src);
  const int w = collcopy(src, packed, nullptr, 0, CF_INLINE);
  ASSERT_GT(w, 0);
  SqliCollection row;
  ASSERT_EQ(0, zel_coll_init(&row, info, 1, nullptr, 0));
  ASSERT_EQ(0, zel_coll_put_col(&row, packed));
  CollCursor k;
  ASSERT_EQ(0, zel_coll_curs_attach(&row, &k));
  char* p = nullptr;
  int32_t len;
  EXPECT_EQ(-9986, zel_coll_next(&row, &k, &p, &len));
  zel_coll_curs_detach(&row, &k);
  zel_coll_free(&row);
  zel_coll_free(&c);
  free(info);
}

CollTypeInfo* SetOf(int kind, int elem, int length) {
  CollTypeInfo* info = coll_typeinfo_alloc(2);
  info->ti_entry[0].type = static_cast<uint16_t>(kind);
  info->ti_entry[1].level_no = 1;
  info->ti_entry[1].type = static_cast<uint16_t>(elem);
  info->ti_entry[1].length = static_cast<int16_t>(length);
  return info;
}

Bytes PackInts(const std::vector<uint32_t>& v) {
  Bytes b;
  for (uint32_t x : v) PutBe32(&b, x);
  return b;
}

Bytes PackVarchars(const std::vector<std::string>& v) {
  Bytes b;
  std::vector<uint32_t> offs;
  for (const auto& s : v) {
    offs.push_back(static_cast<uint32_t>(b.size()));
    b += static_cast<char>(s.size()) + s;
  }
  PutBe32(&b, 0xFFFFFFFFu);
  for (auto it = offs.rbegin(); it != offs.rend(); ++it) PutBe32(&b, *it);
  return b;
}

TEST_F(FormsTest, EqualityAgreesWithSetCounterAndList) {
  std::mt19937 rng(2026);
  for (int kind : {SQLSET, SQLMULTISET, SQLLIST}) {
    for (int elem : {SQLINT, SQLVCHAR}) {
      CollTypeInfo* info = SetOf(kind, elem, elem == SQLINT ? 4 : 10);
      for (int i = 0; i < 300; i++) {
        std::vector<std::string> a, b;
        std::vector<uint32_t> ia, ib;
        const int na = static_cast<int>(rng() % 5), nb = rng() % 3 ? na : static_cast<int>(rng() % 5);
        // Texts differing only in trailing blanks are equal; "Aa" and "BQ"
        // share a string hash.
        static const char* words[] = {"x", "x ", "Aa", "BQ", "y", "Aa  "};
        auto fill = [&](std::vector<std::string>* s, std::vector<uint32_t>* n, int k) {
          for (int j = 0; j < k; j++) {
            s->push_back(words[rng() % 6]);
            n->push_back(static_cast<uint32_t>(rng() % 3));
          }
        };
        fill(&a, &ia, na);
        if (rng() % 2) {
          b = a;
          ib = ia;
          std::shuffle(b.begin(), b.end(), rng);
          std::shuffle(ib.begin(), ib.end(), rng);
          if (nb != na) fill(&b, &ib, 1);
        } else {
          fill(&b, &ib, nb);
        }
        if (kind == SQLSET) {  // a SET holds no duplicates
          auto dedupe = [&](std::vector<std::string>* s, std::vector<uint32_t>* n) {
            std::vector<std::string> s2; std::vector<uint32_t> n2;
            for (size_t j = 0; j < s->size(); j++) {
              std::string t = (*s)[j];
              while (!t.empty() && t.back() == ' ') t.pop_back();
              bool dup = elem == SQLINT ? std::count(n2.begin(), n2.end(), (*n)[j]) > 0 : false;
              for (auto& u : s2) {
                std::string tu = u;
                while (!tu.empty() && tu.back() == ' ') tu.pop_back();
                if (elem == SQLVCHAR && tu == t) dup = true;
              }
              if (!dup) { s2.push_back((*s)[j]); n2.push_back((*n)[j]); }
            }
            *s = s2; *n = n2;
          };
          dedupe(&a, &ia);
          dedupe(&b, &ib);
        }
        Bytes da = elem == SQLINT ? PackInts(ia) : PackVarchars(a);
        Bytes db = elem == SQLINT ? PackInts(ib) : PackVarchars(b);
        SqliCollection x, y;
        ASSERT_EQ(0, zel_coll_init(&x, info, 1, da.empty() ? nullptr : da.data(), static_cast<int32_t>(da.size())));
        ASSERT_EQ(0, zel_coll_init(&y, info, 1, db.empty() ? nullptr : db.data(), static_cast<int32_t>(db.size())));
        // The model: Python-like semantics on the trimmed values.
        auto key = [&](const std::vector<std::string>& s, const std::vector<uint32_t>& n) {
          std::vector<std::string> k;
          for (size_t j = 0; j < s.size(); j++) {
            std::string t = elem == SQLINT ? std::to_string(n[j]) : s[j];
            while (!t.empty() && t.back() == ' ') t.pop_back();
            k.push_back(t);
          }
          if (kind != SQLLIST) std::sort(k.begin(), k.end());
          return k;
        };
        const bool want = key(a, ia) == key(b, ib);
        int isnull = 0;
        const int rc = zel_coll_equal(&x, &y, nullptr, &isnull);
        ASSERT_TRUE(rc == 0 || rc == -1) << rc;
        EXPECT_EQ(want, rc == 0) << kind << ' ' << elem << ' ' << i;
        // The duplicate search of each element of b in a.
        if (kind == SQLSET) {
          for (size_t j = 0; j < b.size(); j++) {
            Bytes cand = elem == SQLINT ? PackInts({ib[j]}) : Bytes(1, static_cast<char>(b[j].size())) + b[j];
            bool found = false;
            for (const auto& t : key(a, ia)) found = found || t == key({b[j]}, {ib[j]})[0];
            EXPECT_EQ(found ? -9874 : 0,
                      zel_coll_find_dup(&x, cand.data(), static_cast<int32_t>(cand.size()), 0, nullptr, nullptr));
          }
        }
        zel_coll_free(&x);
        zel_coll_free(&y);
      }
      free(info);
    }
  }
}

// Random INTEGER, VARCHAR and nested values: equality and the duplicate
// search decided by Python's list, collections.Counter and set.
TEST_F(FormsTest, EqualityAndDuplicatesAgreeWithPython) {
  std::mt19937 rng(3911);
  static const char* kinds[] = {"set", "multiset", "list"};
  auto kind_code = [](int k) { return k == 0 ? SQLSET : k == 1 ? SQLMULTISET : SQLLIST; };
  // Texts equal but for trailing blanks; "Aa" and "BQ", "Ab" and "BR" share
  // a string hash (the oracle checks that they do).
  static const char* words[] = {"x", "x ", "Aa", "BQ", "Aa  ", "", " ", "y", "Ab", "BR "};
  auto word = [&]() -> std::string {
    if (rng() % 2) return words[rng() % 10];
    std::string w;
    for (unsigned j = rng() % 4; j > 0; j--) w += "ab "[rng() % 3];
    return w;
  };
  auto ints = [&](unsigned max) {
    std::vector<uint32_t> v;
    for (unsigned j = rng() % max; j > 0; j--) v.push_back(static_cast<uint32_t>(static_cast<int>(rng() % 5) - 2));
    return v;
  };
  // Builds a value by appending each element (a SET drops what it holds).
  // A nested value is always folded: its header refers to the data alone.
  auto build = [&](SqliCollection* c, CollTypeInfo* info, const std::vector<Bytes>& elems, bool fold) {
    ASSERT_EQ(0, zel_coll_init(c, info, 1, nullptr, 0));
    for (const Bytes& e : elems) ASSERT_EQ(0, zel_coll_insert(c, e.data(), static_cast<int32_t>(e.size()), 0));
    if (fold || rng() % 4 != 0) {  // else compared with its log
      ASSERT_EQ(0, zel_coll_tuple(c));
    }
  };
  std::ostringstream cases;
  for (int i = 0; i < 900; i++) {
    const int k = static_cast<int>(rng() % 3);
    const int elem = static_cast<int>(rng() % 3);  // integer, varchar, nested
    const int inner = static_cast<int>(rng() % 3);
    CollTypeInfo* info = coll_typeinfo_alloc(elem == 2 ? 3 : 2);
    info->ti_entry[0].type = static_cast<uint16_t>(kind_code(k));
    info->ti_entry[1].level_no = 1;
    info->ti_entry[1].type = static_cast<uint16_t>(elem == 0 ? SQLINT : elem == 1 ? SQLVCHAR : kind_code(inner));
    info->ti_entry[1].length = static_cast<int16_t>(elem == 0 ? 4 : elem == 1 ? 10 : 0);
    CollTypeInfo* inner_info = nullptr;
    if (elem == 2) {
      info->ti_entry[2].level_no = 2;
      info->ti_entry[2].type = SQLINT;
      info->ti_entry[2].length = 4;
      inner_info = SetOf(kind_code(inner), SQLINT, 4);
    }
    // Element texts for Python and their packed forms; nested ones are
    // reference headers kept alive in `keep`.
    std::vector<SqliCollection> keep;
    keep.reserve(16);
    std::vector<std::vector<char>> hdrs;
    auto make = [&](std::string* tok) -> Bytes {
      if (elem == 0) {
        const uint32_t v = static_cast<uint32_t>(static_cast<int>(rng() % 5) - 2);
        *tok = "i" + std::to_string(static_cast<int32_t>(v));
        return PackInts({v});
      }
      if (elem == 1) {
        const std::string w = word();
        *tok = "s" + Hex(w.data(), w.size());
        return Bytes(1, static_cast<char>(w.size())) + w;
      }
      const std::vector<uint32_t> v = ints(4);
      *tok = "n";
      std::vector<Bytes> parts;
      for (size_t j = 0; j < v.size(); j++) {
        *tok += (j ? "." : "") + std::to_string(static_cast<int32_t>(v[j]));
        parts.push_back(PackInts({v[j]}));
      }
      keep.emplace_back();
      build(&keep.back(), inner_info, parts, true);
      hdrs.emplace_back(32);
      zel_coll_puthdr(&keep.back(), hdrs.back().data());
      return Bytes(hdrs.back().data(), 26);
    };
    std::vector<Bytes> ea, eb;
    std::string ta, tb;
    const unsigned na = rng() % 5;
    for (unsigned j = 0; j < na; j++) {
      std::string t;
      ea.push_back(make(&t));
      ta += (j ? "," : "") + t;
    }
    if (rng() % 2) {  // b: a shuffled, perhaps with one more element
      std::vector<size_t> order(ea.size());
      for (size_t j = 0; j < order.size(); j++) order[j] = j;
      std::shuffle(order.begin(), order.end(), rng);
      std::vector<std::string> toks;
      std::istringstream ts(ta);
      for (std::string t; std::getline(ts, t, ',');) toks.push_back(t);
      for (size_t j : order) {
        eb.push_back(ea[j]);
        tb += (tb.empty() ? "" : ",") + toks[j];
      }
      if (rng() % 3 == 0) {
        std::string t;
        eb.push_back(make(&t));
        tb += (tb.empty() ? "" : ",") + t;
      }
    } else {
      for (unsigned j = rng() % 5; j > 0; j--) {
        std::string t;
        eb.push_back(make(&t));
        tb += (tb.empty() ? "" : ",") + t;
      }
    }
    SqliCollection a, b;
    build(&a, info, ea, false);
    build(&b, info, eb, false);
    int isnull = 0;
    cases << kinds[k] << ' ' << (elem == 2 ? kinds[inner] : elem == 0 ? "integer" : "varchar") << ' '
          << (ta.empty() ? "-" : ta) << ' ' << (tb.empty() ? "-" : tb) << ' ' << a.cl_cardinality << ' '
          << b.cl_cardinality << ' ' << zel_coll_equal(&a, &b, nullptr, &isnull);
    if (k == 0) {  // each element of b searched for in a, passing over one
      const int32_t skip = a.cl_cardinality > 0 ? static_cast<int32_t>(rng() % (a.cl_cardinality + 1u)) : 0;
      cases << ' ' << skip;
      for (const Bytes& e : eb)
        cases << ' ' << zel_coll_find_dup(&a, e.data(), static_cast<int32_t>(e.size()), skip, nullptr, nullptr);
    }
    cases << '\n';
    zel_coll_free(&a);
    zel_coll_free(&b);
    for (auto& c : keep) zel_coll_free(&c);
    free(info);
    free(inner_info);
  }
  const char* script = R"(
import sys
from collections import Counter
def value(kind, items):
    # SET: set, MULTISET: Counter, LIST: list order.
    if kind == 'set': return frozenset(items)
    if kind == 'multiset': return frozenset(Counter(items).items())
    return tuple(items)
def element(tok, inner):
    if tok[0] == 'i': return int(tok[1:])
    if tok[0] == 's': return bytes.fromhex(tok[1:]).rstrip(b' ')
    return value(inner, [int(x) for x in tok[1:].split('.') if x])
def string_hash(b):
    h = 0
    for c in b:
        h = (h * 16 + (c - 256 if c > 127 else c)) & 0xFFFFFFFF
        g = h & 0xF0000000
        if g: h ^= (g >> 24) ^ g
    return h % 211
ok = bad = 0
if string_hash(b'Aa') != string_hash(b'BQ') or string_hash(b'Ab') != string_hash(b'BR'):
    bad += 1
    print('crafted pairs do not collide')
for line in sys.stdin:
    t = line.split()
    kind, etype = t[0], t[1]
    inner = etype if etype in ('set', 'multiset', 'list') else None
    a = [element(x, inner) for x in t[2].split(',')] if t[2] != '-' else []
    b = [element(x, inner) for x in t[3].split(',')] if t[3] != '-' else []
    # A SET keeps the first of equal elements, in the order appended.
    kept = lambda v: [x for i, x in enumerate(v) if x not in v[:i]]
    want = [len(kept(a)) if kind == 'set' else len(a), len(kept(b)) if kind == 'set' else len(b),
            0 if value(kind, a) == value(kind, b) else -1]
    got = [int(x) for x in t[4:7]]
    if kind == 'set':
        skip = int(t[7])
        others = [x for i, x in enumerate(kept(a)) if i + 1 != skip]
        want += [skip] + [-9874 if x in others else 0 for x in b]
        got += [int(x) for x in t[7:]]
    if want == got: ok += 1
    else:
        bad += 1
        if bad <= 10: print('MISMATCH', line.strip(), 'want', want)
print(ok, 'passed,', bad, 'failed')
)";
  const std::string out = RunPython(script, cases.str());
  EXPECT_NE(std::string::npos, out.find("900 passed, 0 failed")) << out;
}

TEST_F(FormsTest, TypeText) {
  CollTypeInfo* info = coll_typeinfo_alloc(4);
  info->ti_entry[0].type = SQLROW;
  CollTypeEntry& a = info->ti_entry[1];
  a.level_no = 1; a.fieldnmlen = 1; a.fieldname[0] = 'a'; a.type = SQLINT; a.length = 4;
  CollTypeEntry& b = info->ti_entry[2];
  b.level_no = 1; b.fieldnmlen = 1; b.fieldname[0] = 'b'; b.type = SQLSET;
  CollTypeEntry& e = info->ti_entry[3];
  e.level_no = 2; e.type = SQLINT | SQL_NOTNULL_FLAG; e.length = 4;
  char* text = nullptr;
  ASSERT_EQ(0, zel_coll_typetext(info, 0, &text, 0));
  EXPECT_STREQ("row(a integer, b set(integer not null))", text);
  free(text);
  struct Case {
    int type, length, lvar;
    const char* want;
  } cases[] = {
      {SQLCHAR, 10, 0, "char(10)"},          {SQLVCHAR, 20, 0, "varchar(20)"},
      {SQLDECIMAL, 8 * 256 + 2, 0, "decimal(8,2)"}, {SQLDECIMAL, 16 * 256 + 255, 0, "decimal(16)"},
      {SQLMONEY, 5 * 256 + 2, 0, "money(5,2)"}, {SQLLVARCHAR, 300, 1, "lvarchar(300)"},
      {SQLLVARCHAR, 300, 0, "lvarchar"},    {SQLDTIME, 0x0E0A, 0, "datetime year to second"},
      {SQLINTERVAL, 0x0F4A, 0, "interval day(9) to second"}, {SQLBIGINT, 8, 0, "bigint"},
      {SQLBOOL, 1, 0, "boolean"},
  };
  for (const Case& k : cases) {
    CollTypeInfo* one = coll_typeinfo_alloc(1);
    one->ti_entry[0].type = static_cast<uint16_t>(k.type);
    one->ti_entry[0].length = static_cast<int16_t>(k.length);
    ASSERT_EQ(0, zel_coll_typetext(one, k.lvar, &text, 0)) << k.want;
    EXPECT_STREQ(k.want, text);
    free(text);
    free(one);
  }
  CollTypeInfo* unnamed = coll_typeinfo_alloc(1);
  unnamed->ti_entry[0].type = 9;
  EXPECT_EQ(-1, zel_coll_typetext(unnamed, 0, &text, 0));
  EXPECT_EQ(-1, zel_coll_typetext(nullptr, 0, &text, 0));
  free(unnamed);
  free(info);
}

TEST_F(FormsTest, ParameterMarkers) {
  struct Case {
    const char* text;
    int want;
  } cases[] = {
      {"insert into t values (?, '?', ?)", 2},
      {"select * from t -- ?", 0},
      {"insert into table(:c) values (set{?, ?})", 2},
      {"call {?}", 0},
      {"select /*/ ? */ ?", 2},
      {"select /*/ ?", 1},
      {"x = offset  {?} and ?", 2},
      {"x = \"?\" and LIST {?}", 1},
  };
  for (const Case& c : cases) EXPECT_EQ(c.want, rstmtparamcount(c.text)) << c.text;
  // Generated statements against a tokenizer in Python.
  std::mt19937 rng(7);
  static const char* parts[] = {"?", " ", "'", "\"", "--", "\n", "/*", "*/", "/", "*", "{", "}",
                                "set", "list", "multiset", "SET ", "x", "("};
  std::ostringstream in;
  std::vector<int> got;
  for (int i = 0; i < 2000; i++) {
    std::string s;
    const int n = 1 + static_cast<int>(rng() % 14);
    for (int k = 0; k < n; k++) s += parts[rng() % 18];
    got.push_back(rstmtparamcount(s.c_str()));
    in << Hex(s.data(), s.size()) << '\n';
  }
  const char* script = R"(
import sys
def count(s):
    i, n, c = 0, len(s), 0
    while i < n:
        ch = s[i]
        if ch in '\'"':
            j = s.find(ch, i + 1); i = n if j < 0 else j + 1; continue
        if s.startswith('--', i):
            j = s.find('\n', i); i = n if j < 0 else j + 1; continue
        if s.startswith('/*', i):
            j = i + 2
            while j < n and not (s[j] == '/' and s[j - 1] == '*'): j += 1
            i = j + 1 if j < n else n; continue
        if ch == '{':
            j = s.find('}', i); i = n if j < 0 else j + 1; continue
        if ch in 'SsLlMm':
            j = s.find('{', i, i + 101)
            if j >= 0 and s[i:j].rstrip().lower() in ('set', 'list', 'multiset'):
                i = j + 1; continue
        if ch == '?': c += 1
        i += 1
    return c
for line in sys.stdin:
    print(count(bytes.fromhex(line.strip()).decode()))
)";
  std::istringstream out(RunPython(script, in.str()));
  for (size_t i = 0; i < got.size(); i++) {
    int want = -1;
    out >> want;
    ASSERT_EQ(want, got[i]) << i;
  }
}

TEST_F(FormsTest, HexDumpLayout) {
  std::mt19937 rng(5);
  const char* script = R"(
import sys
data = bytes.fromhex(sys.stdin.readline().strip()); addr = int(sys.stdin.readline())
out = ['%d bytes @ 0x%x\n' % (len(data), addr)]
prev = None; sup = 0
for off in range(0, len(data), 16):
    row = data[off:off + 16]
    hx = ''
    for j, b in enumerate(row):
        hx += '%02x' % b + ('  ' if j == 7 else '' if j == 15 else ' ')
    tx = ''
    for j, b in enumerate(row):
        tx += chr(b) if 0x21 <= b <= 0x7e else '.'
        if j == 6: tx += ' '
    if len(row) == 16 and off > 0 and hx == prev:
        sup += 1; continue
    if sup:
        out.append('\t****** dup output suppressed %d rows\n' % sup); sup = 0
    out.append('%5d: %s %s\n' % (off, hx.ljust(48), tx))
    prev = hx
out.append('\n')
sys.stdout.write(''.join(out))
)";
  for (int size : {0, 5, 16, 40, 64, 100}) {
    std::vector<unsigned char> d(static_cast<size_t>(size));
    for (auto& b : d) b = static_cast<unsigned char>(rng() % 2 ? 'A' : rng());
    if (size >= 64) std::fill(d.begin() + 16, d.begin() + 64, 0x41);  // repeated rows
    testing::internal::CaptureStdout();
    zel_hex_dump(size, d.data());
    const std::string got = testing::internal::GetCapturedStdout();
    const std::string want = RunPython(script, Hex(d.data(), d.size()) + "\n" +
                                                   std::to_string(reinterpret_cast<uintptr_t>(d.data())) + "\n");
    EXPECT_EQ(want, got) << size;
  }
}

}  // namespace

namespace {

// A SET column stored and loaded through the value tables.
TEST_F(FormsTest, CollectionColumnsThroughValueTables) {
  CollTypeInfo* info = SetOf(SQLSET, SQLINT, 4);
  Bytes data = PackInts({5, 6});
  SqlValue v;
  memset(&v, 0, sizeof v);
  v.v_type = SQLSET;
  ASSERT_EQ(0, zel_coll_init(&v.v.coll, info, 1, data.data(), 8));
  std::vector<char> buf(1024);
  ASSERT_EQ(0, rvaltodata(&v, buf.data(), SQLSET, 0));
  EXPECT_EQ(2u * 84 + 26 + 12 + 8, coll_get32(buf.data()));  // N = 18
  SqlValue out;
  memset(&out, 0, sizeof out);
  ASSERT_EQ(0, rdataval(buf.data(), SQLSET, 0, &out));
  EXPECT_EQ(0, out.v_ind);
  EXPECT_EQ(2, out.v.coll.cl_cardinality);
  EXPECT_EQ(data, Bytes(out.v.coll.cl_data, 8));
  EXPECT_EQ(v.v.coll.cl_hashvalue, out.v.coll.cl_hashvalue);
  zel_coll_free(&out.v.coll);
  // A LIST value into a MULTISET column; a ROW column refuses it.
  v.v_type = SQLLIST;
  EXPECT_EQ(0, rvaltodata(&v, buf.data(), SQLMULTISET, 0));
  EXPECT_EQ(-9602, rvaltodata(&v, buf.data(), SQLROW, 0));
  // A null value is rewritten in place and stored null.
  SqlValue n;
  memset(&n, 0, sizeof n);
  n.v_type = 9;
  ASSERT_EQ(0, rvaltodata(&n, buf.data(), SQLSET, 0));
  EXPECT_EQ(SQLSET, n.v_type);
  EXPECT_EQ(-1, n.v_ind);
  EXPECT_EQ(COLL_ISNULL, n.v.coll.cl_flags);
  memset(&out, 0, sizeof out);
  ASSERT_EQ(0, rdataval(buf.data(), SQLSET, 0, &out));
  EXPECT_LT(out.v_ind, 0);
  zel_coll_free(&out.v.coll);
  zel_coll_free(&v.v.coll);
  free(info);
}

}  // namespace

namespace {

TEST_F(FormsTest, RowAccessors) {
  CollTypeInfo* info = RowInfo();
  info->ti_entry[0].xid = 4242;
  strcpy(info->ti_entry[0].xtype_name, "point");
  SqliCollection c;
  ASSERT_EQ(0, zel_coll_init(&c, info, 0, nullptr, 0));  // the server's description
  int count = 0;
  EXPECT_EQ(4242, zel_get_row_xid(&c, &count));
  EXPECT_EQ(3, count);
  EXPECT_STREQ("point", zel_get_row_extended_name(&c));
  ASSERT_EQ(0, zel_coll_free(&c));
  ASSERT_EQ(0, zel_coll_init(&c, info, 1, nullptr, 0));  // the client's only
  EXPECT_EQ(-1, zel_get_row_xid(&c, &count));
  EXPECT_EQ(nullptr, zel_get_row_extended_name(&c));
  EXPECT_EQ(-1, zel_get_row_xid(nullptr, &count));
  ASSERT_EQ(0, zel_coll_free(&c));
  free(info);
}

}  // namespace
