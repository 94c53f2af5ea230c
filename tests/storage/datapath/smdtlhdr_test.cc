#include "storage/datapath/smdtlhdr.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "storage/command/config.h"
#include "storage/datapath/smfilter.h"
#include "tests/storage/config_env.h"

namespace {

// Checks a stored version-3 header against the inputs it was made from,
// with the struct module and time.mktime as the independent reader.
// argv: pairs of a file and a JSON object of its inputs. Prints a line a
// file: OK, or the fields that differ.
const char kCheckScript[] = R"PY(
import json, struct, sys, time
def check(file, want):
  data = open(file, 'rb').read()
  f = struct.unpack('<IIQ4sIIIQI28sIIq96sII', data[:192])
  n1, n2 = f[14], f[15]
  s32 = lambda v: v - (1 << 32) if v >= (1 << 31) else v
  ct = want['ctime']
  exp = [0x4F474143, 3, (want['high'] << 32) | want['low'],
         want['kind'].encode()[:1].ljust(4, b'\0'), want['objver'], want['part'], 0xFFFFFFFF,
         want['size'], want['pool'] & 0xFFFFFFFF,
         want['poolname'].encode()[:27].ljust(28, b'\0'), want['vol'], 0,
         int(time.mktime((ct[5] + 1900, ct[4] + 1, ct[3], ct[2], ct[1], ct[0], 0, 1, ct[8]))),
         ('%d %d %d %d:' % (s32(want['vol']), s32(want['high']), s32(want['low']),
                            want['part'])).encode().ljust(96, b'\0'),
         len(want['space']) + 1, len(want['path']) + 1]
  bad = [str((i, e, g)) for i, (e, g) in enumerate(zip(exp, f)) if e != g]
  names = data[192:192 + n1 + n2]
  if names != want['space'].encode() + b'\0' + want['path'].encode() + b'\0':
    bad.append('names')
  if data[192 + n1 + n2:] != want['rest'].encode():
    bad.append('rest')
  return ' '.join(bad) if bad else 'OK'
args = sys.argv[1:]
for file, want in zip(args[::2], args[1::2]):
  print(check(file, json.loads(want)))
)PY";

// Writes version-2 headers (184 bytes), their names and data.
// argv: vol, high, low, part, text, then groups of file, space, path, data.
const char kVersion2Script[] = R"PY(
import struct, sys
a = sys.argv
g = a[6:]
for file, space, path, data in zip(g[::4], g[1::4], g[2::4], g[3::4]):
  space, path = space.encode() + b'\0', path.encode() + b'\0'
  head = struct.pack('<IIQ4sIIIQI28sIi96sII', 0x4F474143, 2, (int(a[2]) << 32) | int(a[3]),
                     b'R', 1, int(a[4]), 0xFFFFFFFF, 0, 2, b'POOL', int(a[1]), 1234567,
                     a[5].encode(), len(space), len(path))
  assert len(head) == 184
  open(file, 'wb').write(head + space + path + data.encode())
)PY";

struct Inputs {
  uint32_t high, low, vol;
  int32_t part;
  int64_t size;
  int32_t pool;
  std::string poolName, kind;
  uint32_t objVersion;
  std::string space, path;
};

class DetailHeader : public ::testing::Test {
 protected:
  void SetUp() override {
    // Local time with daylight saving, without the time-zone database.
    setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
    tzset();
    env_ = std::make_unique<tevtest::ConfigEnv>();
    const tevtest::TempInstall& in = env_->install();
    env_->Set("TEV_DEBUG", "1");
    env_->Set("TEV_DEBUG_LOG", in.Path("debug.log"));
    ASSERT_EQ(zarLoadConfig(0), 0);
    ASSERT_EQ(start_filter_trace(in.Path("filter.log").c_str(), 0), 0);
  }
  void TearDown() override { EXPECT_EQ(filter_lib_state()->filtersInUse, 0); }
  std::string Path(const std::string& rel) const { return env_->install().Path(rel); }
  std::string DebugLog() const { return tevtest::ReadFile(Path("debug.log")); }

  static XbsaObjectDescriptor Object(const Inputs& in) {
    XbsaObjectDescriptor o{};
    o.copyId = {in.high, in.low};
    std::snprintf(o.objectKind, sizeof o.objectKind, "%s", in.kind.c_str());
    std::snprintf(o.objectSpaceName, sizeof o.objectSpaceName, "%s", in.space.c_str());
    std::snprintf(o.pathName, sizeof o.pathName, "%s", in.path.c_str());
    // 2026-07-04 13:45:30, daylight saving unknown (mktime decides).
    const int32_t t[9] = {30, 45, 13, 4, 6, 126, 0, 0, -1};
    std::memcpy(o.createTime, t, sizeof t);
    return o;
  }
  // A part file: header, names, then the data.
  static void WritePart(const std::string& file, const Inputs& in, const std::string& data) {
    XbsaObjectDescriptor o = Object(in);
    TevObjectDetailHeader h;
    tevFillDetailHdr(&h, &o, in.objVersion, in.part, in.pool, in.poolName.c_str(), in.vol);
    h.partSize = in.size;
    size_t len = 0;
    unsigned char* bytes = tevBuildDetailHdr(&h, o.objectSpaceName, o.pathName, &len);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(len, 192 + in.space.size() + 1 + in.path.size() + 1);
    int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    TevHeaderMedium m{TEV_MEDIUM_FILE, fd, -1, nullptr};
    EXPECT_EQ(tevWriteToMedium(&m, bytes, len), static_cast<long>(len));
    EXPECT_EQ(tevWriteToMedium(&m, data.data(), data.size()), static_cast<long>(data.size()));
    close(fd);
    std::free(bytes);
  }
  // The JSON object of a part's inputs for the check script.
  static std::string Json(const Inputs& in, const std::string& rest) {
    auto q = [](const std::string& s) {
      std::string out = "\"";
      for (char c : s) out += (c == '\\' || c == '"') ? std::string("\\") + c : std::string(1, c);
      return out + "\"";
    };
    std::string json = "{\"high\":" + std::to_string(in.high) + ",\"low\":" +
                       std::to_string(in.low) + ",\"vol\":" + std::to_string(in.vol) +
                       ",\"part\":" + std::to_string(in.part) + ",\"size\":" +
                       std::to_string(in.size) + ",\"pool\":" + std::to_string(in.pool) +
                       ",\"poolname\":" + q(in.poolName) + ",\"kind\":" + q(in.kind) +
                       ",\"objver\":" + std::to_string(in.objVersion) + ",\"space\":" +
                       q(in.space) + ",\"path\":" + q(in.path) + ",\"rest\":" + q(rest) +
                       ",\"ctime\":[30,45,13,4,6,126,0,0,-1]}";
    return json;
  }
  // Runs the check script on pairs of file and JSON; its output.
  static std::string Check(const std::vector<std::string>& pairs) {
    tevtest::RunOptions opt;
    opt.env["TZ"] = "EST5EDT,M3.2.0,M11.1.0";
    std::vector<std::string> args = {"-c", kCheckScript};
    args.insert(args.end(), pairs.begin(), pairs.end());
    tevtest::RunResult r = tevtest::RunProgram(tevtest::Python(), args, opt);
    EXPECT_EQ(r.err, "");
    return r.out;
  }
  static TevObjectDetail Detail(const Inputs& in) {
    TevObjectDetail d{};
    d.volumeId = in.vol;
    d.copyId = {in.high, in.low};
    d.partNumber = in.part;
    return d;
  }
  // Reads the header of a part file through a FILE medium or through a
  // "cat" filter; the result, and the rest of the medium in *rest.
  static bool ReadPart(const std::string& file, int32_t type, const TevObjectDetail& d,
                       std::string* rest) {
    zarHandle handle{};
    TevHeaderMedium m{type, -1, -1, nullptr};
    if (type == TEV_MEDIUM_FILE) {
      m.descriptor = open(file.c_str(), O_RDONLY | O_CLOEXEC);
      EXPECT_GE(m.descriptor, 0);
    } else {
      EXPECT_EQ(create_filter(FILTER_PROCESS_READ, FILTER_PIPE_SIZE, ("cat " + file).c_str(),
                              nullptr, nullptr, &m.filterId),
                0);
    }
    bool ok = tevReadDetailHdrFrom(&handle, &m, &d);
    rest->clear();
    if (ok) {
      char buf[1000];
      long n;
      while ((n = tevReadFromMedium(&m, buf, sizeof buf)) > 0) rest->append(buf, n);
    }
    if (type == TEV_MEDIUM_FILE) {
      close(m.descriptor);
    } else {
      EXPECT_EQ(destroy_filter(m.filterId), 0);
    }
    return ok;
  }

  std::unique_ptr<tevtest::ConfigEnv> env_;
};

const Inputs kCases[] = {
    {0, 42, 7, 1, 0, 2, "DBSPOOL", "R", 1, "/space", "\\dir\\file"},
    // Words of 2^31 and more print negative and read back to the same bits.
    {0x80000001u, 0xFFFFFFFEu, 0x80000000u, 2147483647, 0x0123456789ABCDEFLL, -5,
     "A_POOL_NAME_LONGER_THAN_TWENTY_SEVEN", "Cx", 0xFFFFFFFFu, std::string(1023, 's'),
     std::string(1023, 'p')},
    {1, 0, 1, 3, 0, 1, "", "L", 2, "", ""},
};

// The bytes as written, against Python's struct reader; then read back
// through a FILE medium and a filter, the data starting right after the
// names.
TEST_F(DetailHeader, WrittenBytesAndReadBack) {
  std::vector<std::string> pairs;
  std::string expected;
  int n = 0;
  for (const Inputs& in : kCases) {
    for (const std::string& data : {std::string(""), std::string("D"), std::string(5000, 'd')}) {
      std::string file = Path("part." + std::to_string(++n));
      WritePart(file, in, data);
      pairs.push_back(file);
      pairs.push_back(Json(in, data));
      expected += "OK\n";
      for (int32_t type : {TEV_MEDIUM_FILE, TEV_MEDIUM_STDIO}) {
        std::string rest;
        EXPECT_TRUE(ReadPart(file, type, Detail(in), &rest)) << type;
        EXPECT_TRUE(rest == data) << type << " " << rest.size();
      }
    }
  }
  EXPECT_EQ(Check(pairs), expected);
}

// The size of an ended FILE part goes into bytes 32-39; nothing else
// changes, and the file position stays.
TEST_F(DetailHeader, PartSizeRewrite) {
  Inputs in = kCases[0];
  std::string file = Path("part.1");
  WritePart(file, in, "0123456789");
  std::string before = tevtest::ReadFile(file);
  int fd = open(file.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(lseek(fd, 0, SEEK_END), static_cast<off_t>(before.size()));
  EXPECT_EQ(tevRewriteHdrPartSize(fd, 0x0102030405060708LL), 0);
  EXPECT_EQ(lseek(fd, 0, SEEK_CUR), static_cast<off_t>(before.size()));
  close(fd);
  in.size = 0x0102030405060708LL;
  EXPECT_EQ(Check({file, Json(in, "0123456789")}), "OK\n");
  std::string after = tevtest::ReadFile(file);
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(after.substr(0, 32), before.substr(0, 32));
  EXPECT_EQ(after.substr(40), before.substr(40));

  fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_EQ(tevRewriteHdrPartSize(fd, 1), 3);  // not writable
  close(fd);
}

// Only the text decides: another volume, copy word or part is refused; the
// binary copy id and part number are not consulted.
TEST_F(DetailHeader, TextDecidesTheMatch) {
  const Inputs in = kCases[1];
  std::string file = Path("part.1");
  WritePart(file, in, "xyz");
  std::string rest;
  TevObjectDetail d = Detail(in);
  const struct {
    int field;
    bool ok;
  } cases[] = {{-1, true}, {0, false}, {1, false}, {2, false}, {3, false}};
  for (const auto& c : cases) {
    TevObjectDetail t = d;
    if (c.field == 0) t.volumeId ^= 1;
    if (c.field == 1) t.copyId.high ^= 1;
    if (c.field == 2) t.copyId.low ^= 1;
    if (c.field == 3) t.partNumber ^= 1;
    EXPECT_EQ(ReadPart(file, TEV_MEDIUM_FILE, t, &rest), c.ok) << c.field;
  }
  EXPECT_NE(DebugLog().find("names another volume, object or part"), std::string::npos);

  std::string bytes = tevtest::ReadFile(file);
  for (int i : {8, 12, 24}) bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
  tevtest::WriteFile(file, bytes);
  EXPECT_TRUE(ReadPart(file, TEV_MEDIUM_FILE, d, &rest));
  EXPECT_EQ(rest, "xyz");
}

// A version-2 header reads with the data right after its names, on a file
// and through a filter. Names shorter than the 8 bytes a version-3 read
// takes leave data bytes that the first data read must still deliver.
TEST_F(DetailHeader, VersionTwoStillReads) {
  const struct {
    std::string space, path, data;
  } cases[] = {{"", "", ""},           {"", "", "abc"},        {"a", "b", "0123456789"},
               {"abc", "defg", "xy"},  {"abcd", "efg", "xy"},  {"/os", "\\long\\path", "DATA"},
               {std::string(1023, 'n'), std::string(1023, 'm'), std::string(70000, 'z')}};
  std::vector<std::string> args = {"-c", kVersion2Script, "2147483648", "4294967295", "5", "9",
                                   "-2147483648 -1 5 9:"};
  for (size_t i = 0; i < std::size(cases); ++i) {
    args.insert(args.end(), {Path("v2." + std::to_string(i)), cases[i].space, cases[i].path,
                             cases[i].data});
  }
  tevtest::RunResult r = tevtest::RunProgram(tevtest::Python(), args);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    std::string file = Path("v2." + std::to_string(i));
    TevObjectDetail d{};
    d.volumeId = 0x80000000u;
    d.copyId = {0xFFFFFFFFu, 5};
    d.partNumber = 9;
    for (int32_t type : {TEV_MEDIUM_FILE, TEV_MEDIUM_STDIO}) {
      std::string rest;
      EXPECT_TRUE(ReadPart(file, type, d, &rest)) << type << " " << c.space;
      EXPECT_TRUE(rest == c.data) << type << " " << c.space << " [" << rest.substr(0, 20) << "]";
    }
  }
}

// Damaged headers are refused and say why; untrusted name lengths are
// skipped, never allocated, and a medium that ends inside them is refused.
TEST_F(DetailHeader, DamagedHeadersAreRefused) {
  const Inputs in = kCases[0];
  std::string file = Path("part.1");
  WritePart(file, in, "data");
  const std::string good = tevtest::ReadFile(file);
  auto le32 = [](uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
    return s;
  };
  auto text = [](const std::string& t) { return t + std::string(96 - t.size(), '\0'); };
  const struct {
    size_t at;
    std::string bytes;
    size_t cut;  // length kept; 0 all
    const char* trace;
  } cases[] = {
      {4, le32(1), 0, "Header version 1 is invalid, should be $d or lower."},
      {4, le32(4), 0, "Header version 4 is invalid, should be $d or lower."},
      {0, le32(0x4F474144), 0, "readDetailHdr: Invalid Object header (0x4f474144 != 0x4f474143)"},
      {88, text("7 0 42:"), 0, "Invalid number of fields in old header"},
      {88, text("seven 0 42 1:"), 0, "Invalid number of fields in old header"},
      {88, text(""), 0, "Invalid number of fields in old header"},
      {88, std::string(96, '7'), 0, "Invalid number of fields in old header"},
      {0, "", 100, "Read from the medium failed: 192 bytes wanted, result 100."},
      {0, "", 195, "Read from the medium failed"},
      {184, le32(0xFFFFFFFFu) + le32(0xFFFFFFFFu), 0, "Read from the medium failed"},
      {184, le32(0x7FFFFFFFu) + le32(2), 0, "Read from the medium failed"},
  };
  for (const auto& c : cases) {
    std::string bad = good;
    bad.replace(c.at, c.bytes.size(), c.bytes);
    if (c.cut != 0) bad.resize(c.cut);
    tevtest::WriteFile(file, bad);
    for (int32_t type : {TEV_MEDIUM_FILE, TEV_MEDIUM_STDIO}) {
      std::string rest;
      EXPECT_FALSE(ReadPart(file, type, Detail(in), &rest)) << c.trace;
    }
    EXPECT_NE(DebugLog().find(c.trace), std::string::npos) << c.trace;
  }
  std::string rest;
  TevObjectDetail d = Detail(in);
  zarHandle handle{};
  TevHeaderMedium tape{TEV_MEDIUM_TAPE, -1, -1, nullptr};
  EXPECT_FALSE(tevReadDetailHdrFrom(&handle, &tape, &d));
  EXPECT_FALSE(tevReadDetailHdrFrom(nullptr, &tape, &d));
}

TEST(HeaderText, ParsesFourSignedWords) {
  const struct {
    const char* text;
    int count;
    int32_t n[4];
  } cases[] = {
      {"7 0 42 1:", 4, {7, 0, 42, 1}},
      {"-2147483648 -1 2147483647 3:", 4, {INT32_MIN, -1, INT32_MAX, 3}},
      {"2147483648 4294967295 0 1", 4, {INT32_MIN, -1, 0, 1}},  // unsigned spelling
      {"1 2 3:", 3, {1, 2, 3, 0}},
      {"1 2 4294967296 4:", 2, {1, 2, 0, 0}},  // out of 32 bits
      {"  1\t2\n3 4 5", 4, {1, 2, 3, 4}},
      {"x", 0, {0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    int32_t n[4] = {};
    EXPECT_EQ(tevParseHdrText(c.text, n), c.count) << c.text;
    for (int i = 0; i < c.count; ++i) EXPECT_EQ(n[i], c.n[i]) << c.text << " " << i;
  }
}

}  // namespace
