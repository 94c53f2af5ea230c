// Collection and row values on the wire: the bytes the message stream
// writes for a value with its type description, against the same layout
// built by Python's struct from the field values, with short (18-byte) and
// long (128-byte) names, an odd data length and a small packet buffer.
#include "sqltypes/collection.h"
#include "tests/sqlruntime/sqli_fixture.h"

namespace {

using sqli_test::Server;
using sqli_test::SqliTest;

// The type description as JSON for the Python builder: every field of the
// header and of each entry, names as hex of their full 128-byte fields.
std::string InfoJson(const CollTypeInfo* info) {
  auto name = [](const char* n) { return "\"" + sqli_test::Hex(n, 128) + "\""; };
  std::string j = "{\"word\": " + std::to_string(info->ti_word) + ", \"half\": " + std::to_string(info->ti_half) +
                  ", \"name\": " + name(info->ti_name) + ", \"entries\": [";
  for (int i = 0; i < info->ti_count; ++i) {
    const CollTypeEntry& e = info->ti_entry[i];
    if (i > 0) j += ", ";
    j += "[" + std::to_string(e.seqno) + ", " + std::to_string(e.level_no) + ", " + std::to_string(e.parent_no) +
         ", " + std::to_string(e.fieldnmlen) + ", " + name(e.fieldname) + ", " + std::to_string(e.field_no) + ", " +
         std::to_string(e.type) + ", " + std::to_string(e.length) + ", " + std::to_string(e.xid) + ", " +
         std::to_string(e.flags) + ", " + std::to_string(e.xtype_nm_len) + ", " + name(e.xtype_name) + ", " +
         std::to_string(e.xtype_owner_len) + ", " + name(e.xtype_owner_name) + ", " + std::to_string(e.align) +
         ", " + std::to_string(e.srctype) + "]";
  }
  return j + "]}";
}

// The expected bytes: the length word from the layout's own sums
// (F x 414 + 136 + data + 12 with 128-byte names, F x 84 + 26 + data + 12
// with 18-byte ones), the description, handle, data length, flags, data
// and a pad byte after an odd length.
std::string PythonComplex(const CollTypeInfo* info, int32_t handle, uint32_t flags, const std::string& data_hex,
                          int width) {
  std::string script = R"(
import json, struct, sys
info = json.loads(sys.argv[1]); handle = int(sys.argv[2]); flags = int(sys.argv[3])
data = bytes.fromhex(sys.argv[4]); N = int(sys.argv[5])
nm = lambda h: bytes.fromhex(h)[:N]
F = len(info['entries'])
length = F * 414 + 136 + len(data) + 12 if N == 128 else F * 84 + 26 + len(data) + 12
out = struct.pack('>IIH', length, info['word'], info['half']) + nm(info['name']) + struct.pack('>h', F)
for (seq, lev, par, fl, fname, fno, typ, ln, xid, fg, xl, xname, ol, oname, al, src) in info['entries']:
    out += struct.pack('>hhhh', seq, lev, par, fl) + nm(fname) + struct.pack('>hHhiHh', fno, typ, ln, xid, fg, xl)
    out += nm(xname) + struct.pack('>h', ol) + nm(oname) + struct.pack('>hi', al, src)
out += struct.pack('>iiI', handle, len(data), flags) + data
assert len(out) == length + 4
if length % 2:
    out += b'\0'
print(out.hex())
)";
  tevtest::RunResult r =
      tevtest::RunProgram(tevtest::Python(),
                          {"-c", script, InfoJson(info), std::to_string(handle), std::to_string(flags),
                           data_hex.empty() ? "" : data_hex, std::to_string(width)},
                          {{{"PATH", "/usr/bin:/bin"}}, "", "", 60});
  std::string hex = r.out;
  while (!hex.empty() && (hex.back() == '\n' || hex.back() == '\r')) hex.pop_back();
  return hex;
}

// A ROW (a integer, b char(4)) description, with names whose bytes after
// the terminating zero are not zero: they travel as they stand.
CollTypeInfo* RowInfo() {
  CollTypeInfo* info = coll_typeinfo_alloc(3);
  info->ti_word = 0x01020304;
  info->ti_half = 0x0506;
  std::memset(info->ti_name, 'n', sizeof info->ti_name);
  std::memcpy(info->ti_name, "rowtype\0junk", 12);
  CollTypeEntry& r = info->ti_entry[0];
  r.seqno = 1;
  r.type = SQLROW;
  r.xid = 77;
  r.flags = CT_NOHASH;
  r.xtype_nm_len = 7;
  std::memcpy(r.xtype_name, "rowtype", 7);
  r.xtype_owner_len = 5;
  std::memcpy(r.xtype_owner_name, "owner", 5);
  r.srctype = -3;
  CollTypeEntry& a = info->ti_entry[1];
  a.seqno = 2; a.level_no = 1; a.parent_no = 1; a.fieldnmlen = 1; a.fieldname[0] = 'a';
  a.field_no = 1; a.type = SQLINT; a.length = 4; a.align = 4;
  CollTypeEntry& b = info->ti_entry[2];
  b.seqno = 3; b.level_no = 1; b.parent_no = 1; b.fieldnmlen = 20;
  std::memset(b.fieldname, 'b', 20);  // longer than a short name field
  b.field_no = 2; b.type = SQLCHAR; b.length = 4; b.align = 1;
  return info;
}

struct Case {
  const char* caps;  // capability bytes of the server
  int width;         // name width the server expects
  const char* data;  // element data, hex
};

class ComplexTest : public SqliTest {};

TEST_F(ComplexTest, CollectionValueMatchesPython) {
  const Case cases[] = {
      {"", 18, "00000007616263640000000400000000"},
      {"0020", 128, "00000007616263640000000400000000"},
      {"", 18, "0102030405"},       // odd length: a pad byte follows
      {"0020", 128, "0102030405"},
      {"0020", 128, ""},            // no element data
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.caps) + " " + k.data);
    CollTypeInfo* info = RowInfo();
    std::string raw;
    for (size_t i = 0; i + 1 < std::strlen(k.data); i += 2) {
      raw.push_back(static_cast<char>(std::stoi(std::string(k.data + i, 2), nullptr, 16)));
    }
    // The value as a host variable holds it: description, data, handle.
    SqliCollection c;
    std::memset(&c, 0, sizeof c);
    c.cl_magic = COLL_MAGIC;
    c.cl_typeinfo = info;
    c.cl_handle = 0x11223344;
    c.cl_data = raw.empty() ? nullptr : raw.data();
    c.cl_len = c.cl_datalen = static_cast<int32_t>(raw.size());
    c.cl_cardinality = 1;
    std::string expected = PythonComplex(info, c.cl_handle, c.cl_flags, k.data, k.width);
    ASSERT_FALSE(expected.empty());
    Server server(std::string("\"caps\": \"") + k.caps + "\", \"raw\": " + std::to_string(expected.size() / 2),
                  "b=140");
    ASSERT_TRUE(server.ready());
    ASSERT_EQ(sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv1", "c1", nullptr, 1), 0) << sqlca.sqlcode;
    SqliMessageStream* s = sqli_runtime_get()->current->stream;
    sqli_msg_put_short(999, s);
    EXPECT_EQ(sqli_msg_put_complex(&c, s), 0);
    sqli_msg_put_short(12, s);
    ASSERT_EQ(sqli_msg_flush(s), 0);
    EXPECT_EQ(sqli_msg_get_short(s), 12);
    std::vector<std::string> req = server.Requests();
    ASSERT_FALSE(req.empty());
    EXPECT_EQ(req.back(), "03e7" + expected + "000c");
    EXPECT_EQ(sqli_connect_close(SQLI_CONN_NAMED, "c1", 0, 0), 0);
    std::free(info);
  }
}

TEST_F(ComplexTest, ServerDescriptionWhenTheClientGaveNone) {
  CollTypeInfo* info = RowInfo();
  std::string raw = "\x00\x00\x00\x07" "abcd" "\x00\x00\x00\x04\x00\x00\x00\x00";
  raw.resize(16);
  SqliCollection c;
  std::memset(&c, 0, sizeof c);
  c.cl_magic = COLL_MAGIC;
  c.cl_svr_typeinfo = info;
  c.cl_data = raw.data();
  c.cl_len = c.cl_datalen = 16;
  std::string expected = PythonComplex(info, 0, c.cl_flags, sqli_test::Hex(raw.data(), raw.size()), 18);
  Server server("\"caps\": \"\", \"raw\": " + std::to_string(expected.size() / 2));
  ASSERT_TRUE(server.ready());
  ASSERT_EQ(sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv1", "c1", nullptr, 1), 0) << sqlca.sqlcode;
  SqliMessageStream* s = sqli_runtime_get()->current->stream;
  sqli_msg_put_short(999, s);
  EXPECT_EQ(sqli_msg_put_complex(&c, s), 0);
  sqli_msg_put_short(12, s);
  ASSERT_EQ(sqli_msg_flush(s), 0);
  EXPECT_EQ(sqli_msg_get_short(s), 12);
  ASSERT_FALSE(server.Requests().empty());
  EXPECT_EQ(server.Requests().back(), "03e7" + expected + "000c");
  // Data that claims more bytes than its buffer holds is refused, and
  // nothing is written.
  c.cl_len = 32;
  char* before = s->write_cursor;
  EXPECT_LT(sqli_msg_put_complex(&c, s), 0);
  EXPECT_EQ(s->write_cursor, before);
  std::free(info);
}

}  // namespace
