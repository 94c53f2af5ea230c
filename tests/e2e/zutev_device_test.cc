// The device commands through the built zutev: every refusal of the
// option parser, ADD/UPDATE/DEL/LIST on a real catalog, the XML list read
// by Python's XML parser, STDIO and CLOUD devices as stored, and device
// definition files written and loaded.
#include <sys/stat.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/zutev_tree.h"

namespace {

using zutevtest::Msg;
using zutevtest::Tree;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string Usage() { return Msg(87003, "zutev"); }

// Columns of the device table's dump.
enum { kName = 0, kPriority = 3, kType = 4, kProvider = 5, kMedia = 7, kPart = 8, kPool = 11,
       kUser = 13, kPassword = 14, kStdioR = 15, kStdioW = 16, kStdioD = 17, kUrl = 18,
       kContainer = 19 };

std::vector<std::vector<std::string>> DeviceRows(Tree& t) {
  auto r = t.Run({"-S", "DUMP", "device"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> row;
    size_t from = 0;
    for (size_t at; (at = line.find('\t', from)) != std::string::npos; from = at + 1) {
      row.push_back(line.substr(from, at - from));
    }
    row.push_back(line.substr(from));
    rows.push_back(row);
  }
  return rows;
}

std::vector<std::string> RowOf(Tree& t, const std::string& name, const std::string& pool = "") {
  for (auto& row : DeviceRows(t)) {
    if (row.size() > kContainer && row[kName] == name && (pool.empty() || row[kPool] == pool)) {
      return row;
    }
  }
  return {};
}

// ---- refusals -------------------------------------------------------------

struct Refusal {
  std::vector<std::string> args;  // after -D
  std::string message;
  bool usage;
};

std::vector<Refusal> Refusals() {
  const std::string n121(121, 'n'), c129(129, 'c'), c257(257, 'c'), f121(121, 'f');
  const std::vector<std::string> cloud = {"ADD", "d", "-t", "CLOUD", "-g", "DBSPOOL"};
  auto with = [](std::vector<std::string> a, const std::vector<std::string>& more) {
    a.insert(a.end(), more.begin(), more.end());
    return a;
  };
  return {
      {{"COPY", "d"}, Msg(88301, "COPY"), true},
      {{"add"}, Msg(88303, "ADD"), true},
      {{"ADD", n121, "-t", "FILE", "-g", "DBSPOOL"}, Msg(88165, 120), false},
      {{"ADD", "d", "-t", "tape", "-g", "DBSPOOL"}, Msg(88181, "TAPE"), false},
      {{"ADD", "d", "-t", "disk"}, Msg(88018, "DISK"), false},
      {{"ADD", "d", "-t"}, Msg(88303, "-t"), true},
      {{"ADD", "d", "-t", "FILE", "-t", "FILE"}, Msg(88302, "-t"), true},
      {{"SCAN", "d", "-t", "FILE"}, Msg(88305, "-t"), true},
      {{"SCAN", "d", "-s", "1M"}, Msg(88305, "-s"), true},
      {{"PURGE", "d", "-g", "DBSPOOL"}, Msg(88305, "-g"), true},
      {{"ADD", "d", "-g", "nopool"}, Msg(88017, "nopool"), false},
      {{"DEL", "d", "-d", "-g", "DBSPOOL"}, Msg(88306, "-d, -g"), true},
      {{"DEL", "d", "-g", "DBSPOOL", "-d"}, Msg(88306, "-d, -g"), true},
      {{"DEL", "d", "-d", "-d"}, Msg(88302, "-d"), true},
      {{"ADD", "d", "-d"}, Msg(88305, "-d"), true},
      {{"ADD", "d", "-b", "1x"}, Msg(88019, "d"), false},
      {{"ADD", "d", "-s", "-1M"}, Msg(88020, "d"), false},
      {{"ADD", "d", "-s", "K"}, Msg(88020, "d"), false},
      {{"ADD", "d", "-p", "high1"}, Msg(88166, "HIGH1"), true},
      {{"ADD", "d", "-t", "FILE", "-g", "DBSPOOL", "-q"}, Msg(88305, "-q"), true},
      {{"ADD", "d", "--read_arg", "cat"}, Msg(88309, "--read_arg", "-t STDIO"), true},
      {{"UPDATE", "d", "-t", "STDIO", "--write_arg", "x"}, Msg(88305, "--write_arg"), true},
      {{"ADD", "d", "-t", "STDIO", "--drop_arg", "a", "--drop_arg", "b"},
       Msg(88302, "--drop_arg"), true},
      {{"ADD", "d", "-t", "STDIO", "--read_arg"}, Msg(88303, "--read_arg"), true},
      {{"ADD", "d", "-t", "STDIO", "--read_arg", c129}, Msg(88307, c129.c_str(), 128), false},
      {{"ADD", "d", "--max_part_size", "1M"}, Msg(88309, "--max_part_size", "-t STDIO"), true},
      {{"ADD", "d", "-t", "CLOUD", "--max_part_size"}, Msg(88303, "--max_part_size"), true},
      {{"ADD", "d", "-t", "CLOUD", "--max_part_size", "abc"}, Msg(88020, "d"), false},
      {{"ADD", "d", "--url", "https://s3.example"}, Msg(88309, "-t CLOUD", "--url"), true},
      // The type is still FILE when --url is read.
      {{"ADD", "d", "--url", "https://s3.example", "-t", "CLOUD"},
       Msg(88309, "-t CLOUD", "--url"), true},
      {{"UPDATE", "d", "-t", "CLOUD", "--provider", "S3"}, Msg(88305, "--provider"), true},
      {with(cloud, {"--provider", "GCS"}), Msg(88310, "GCS", "--provider"), true},
      {with(cloud, {"--provider", "S3", "--provider", "s3"}), Msg(88302, "--provider"), true},
      {with(cloud, {"--url", "https://a"}), Msg(88307, "https://a", 256), false},
      {with(cloud, {"--url", "xxxxxxxxx"}), Msg(88307, "xxxxxxxxx", 256), false},
      {with(cloud, {"--url", "http://s3.example"}), "Error: URL must start with 'https://'.", false},
      {with(cloud, {"--url", "https://" + c257}),
       Msg(88307, ("https://" + c257).c_str(), 256), false},
      {with(cloud, {"--user", c129}), Msg(88307, c129.c_str(), 128), false},
      {with(cloud, {"--password", c129}), Msg(88307, c129.c_str(), 128), false},
      {with(cloud, {"--container", c257}), Msg(88307, c257.c_str(), 256), false},
      {with(cloud, {"--user"}), Msg(88303, "--user"), true},
      {cloud, Msg(88309, "-t CLOUD", "--provider"), true},
      {with(cloud, {"--provider", "S3", "--url", "https://s3.example", "--user", "u",
                    "--password", "p"}),
       Msg(88309, "-t CLOUD", "--container"), true},
      {{"ADD", "d", "-t", "FILE"}, Msg(88016), true},
      {{"UPDATE", "d", "-p", "LOW"}, Msg(88016), true},
      {{"DEL", "d", "-y"}, Msg(88016), true},
      {{"ADD", "d", "-g", "DBSPOOL", "-xml", "-t", "FILE"}, Msg(88305, "-xml"), true},
      {{"DEL", "d", "-d", "-y", "-s", "1M"}, Msg(88305, "-t, -p, -s, -b"), true},
      {{"DEL", "d", "-g", "DBSPOOL", "-p", "LOW"}, Msg(88305, "-t, -p, -s, -b"), true},
      {{"ADD", "d", "-t", "FILE", "-g", "DBSPOOL", "-y"}, Msg(88305, "-y"), true},
      {{"UPDATE", "d", "-g", "DBSPOOL", "-y"}, Msg(88305, "-y"), true},
      {{"UPDATE", "d", "-g", "DBSPOOL", "-b", "1K"}, Msg(88305, "-t, -b"), true},
      {{"ADD", "d", "-g", "DBSPOOL"}, Msg(88014), true},
      {{"ADD", "d", "-t", "FILE", "-g", "DBSPOOL", "-b", "4K"}, Msg(88013, "FILE"), true},
      {{"LIST", "-xml", "-y"}, Msg(88305, ""), true},
      {{"LIST", "-xml", "-xml"}, Msg(88302, "-xml"), true},
      {{"LIST", "-u", "f", "-l", "g"}, Msg(88306, "-u, -l"), true},
      {{"LIST", "-u"}, Msg(88303, "-u"), true},
      {{"LIST", "-l", f121}, Msg(88307, f121.c_str(), 120), false},
      {{"LIST", "-g", "DBSPOOL"}, Msg(88305, ""), true},
  };
}

TEST(ZutevDevice, EveryRefusalGivesItsMessageAndExit255) {
  Tree t;
  ASSERT_EQ(t.Run({"-S", "DUMP", "lock"}).exit_code, 0);
  const auto before = DeviceRows(t);
  for (const Refusal& c : Refusals()) {
    std::vector<std::string> args = {"-D"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::string line;
    for (const auto& a : args) line += " " + a;
    SCOPED_TRACE(line);
    auto r = t.Run(args);
    EXPECT_EQ(r.exit_code, 255) << r.err;
    EXPECT_TRUE(Has(r.err, c.message + "\n")) << r.err;
    EXPECT_EQ(Has(r.err, Usage()), c.usage) << r.err;
    if (c.usage) {
      EXPECT_LT(r.err.find(Usage()), r.err.find(c.message)) << r.err;
    }
    EXPECT_TRUE(Has(t.ActLog(), c.message));
  }
  EXPECT_EQ(DeviceRows(t), before);
  EXPECT_FALSE(t.dir().Exists("d"));
}

// ---- ADD, UPDATE, DEL, LIST -----------------------------------------------

// The text list as a person reads it: title, heading, the lines of each
// pool followed by an empty line, and one at the end.
std::string TextList(const std::vector<std::vector<std::string>>& pools) {
  std::string out = Msg(87012, Msg(87014).c_str()) + Msg(87015) + "\n";
  for (const auto& lines : pools) {
    for (const std::string& l : lines) out += l + "\n";
    out += "\n";
  }
  return out + "\n";
}

TEST(ZutevDevice, AddUpdateDeleteAndTheTextList) {
  Tree t;
  const std::string backups = t.dir().Path("backups");
  const std::string dev = t.dir().Path("devs/One");
  auto r = t.Run({"-D", "ADD", dev, "-t", "FILE", "-g", "DBSPOOL", "-s", "100M"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  struct stat st {};
  EXPECT_EQ(stat(dev.c_str(), &st), 0);  // the name keeps its case
  EXPECT_TRUE(S_ISDIR(st.st_mode));

  const std::string def1 = "FILE   LOW          --/--        DBSPOOL       " + backups;
  const std::string def2 = "FILE   LOW          --/--        LOGPOOL       " + backups;
  r = t.Run({"-D", "LIST"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, TextList({{def1, "FILE   HIGH         --/100       DBSPOOL       " + dev},
                             {def2},
                             {}}));

  // UPDATE of the priority alone keeps the size.
  r = t.Run({"-D", "UPDATE", dev, "-g", "DBSPOOL", "-p", "highest"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  r = t.Run({"-D", "LIST"});
  EXPECT_TRUE(Has(r.out, "\nFILE   HIGHEST      --/100       DBSPOOL       " + dev + "\n"))
      << r.out;
  // ...and of the size alone keeps the priority.
  r = t.Run({"-D", "UPDATE", dev, "-g", "DBSPOOL", "-s", "2G"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  r = t.Run({"-D", "LIST"});
  EXPECT_TRUE(Has(r.out, "\nFILE   HIGHEST      --/2048      DBSPOOL       " + dev + "\n"))
      << r.out;

  // UPDATE of a device the pool does not hold.
  r = t.Run({"-D", "UPDATE", dev, "-g", "LOGPOOL", "-p", "LOW"});
  EXPECT_EQ(r.exit_code, 17);
  const size_t missing = r.err.find(Msg(88056, dev.c_str()));
  ASSERT_NE(missing, std::string::npos) << r.err;
  EXPECT_LT(missing, r.err.find(Msg(88196, dev.c_str()))) << r.err;

  // DEL asks; "n" keeps the device.
  r = t.Run({"-D", "DEL", dev, "-g", "DBSPOOL"}, "n\n");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(Has(r.err, Msg(87300))) << r.err;
  EXPECT_FALSE(RowOf(t, dev).empty());
  r = t.Run({"-D", "DEL", dev, "-g", "DBSPOOL"}, "y\n");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(RowOf(t, dev).empty());
  r = t.Run({"-D", "LIST"});
  EXPECT_EQ(r.out, TextList({{def1}, {def2}, {}}));
  // A second DEL finds nothing: 17, silently.
  r = t.Run({"-D", "DEL", dev, "-g", "DBSPOOL", "-y"});
  EXPECT_EQ(r.exit_code, 17);
  EXPECT_FALSE(Has(r.err, Msg(88058, dev.c_str()))) << r.err;
}

TEST(ZutevDevice, DeleteFromEveryPool) {
  Tree t;
  const std::string dev = t.dir().Path("shared");
  for (const char* pool : {"DBSPOOL", "LOGPOOL", "EXTPOOL"}) {
    ASSERT_EQ(t.Run({"-D", "ADD", dev, "-t", "FILE", "-g", pool}).exit_code, 0) << pool;
  }
  ASSERT_EQ(t.Run({"-P", "ADD", "extra"}).exit_code, 0);
  ASSERT_EQ(t.Run({"-D", "ADD", dev, "-t", "FILE", "-g", "extra"}).exit_code, 0);
  int rows = 0;
  for (auto& row : DeviceRows(t)) rows += row[kName] == dev;
  ASSERT_EQ(rows, 4);

  auto r = t.Run({"-D", "DEL", dev, "-d"}, "n\n");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, Msg(87312));
  EXPECT_FALSE(RowOf(t, dev).empty());

  r = t.Run({"-D", "DEL", dev, "-d", "-y"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_FALSE(Has(r.err, Msg(87312))) << r.err;
  EXPECT_TRUE(RowOf(t, dev).empty());
  EXPECT_FALSE(RowOf(t, t.dir().Path("backups")).empty());
}

// The XML list read by Python's own parser: pool, type, priority, size and
// name of each POOL element.
constexpr char kXmlReader[] = R"PY(
import sys, xml.etree.ElementTree as ET
root = ET.fromstring(sys.stdin.buffer.read())
assert root.tag == 'TEV_DEVICE_LIST' and root.attrib == {'version': '1.0'}, root.attrib
rows = []
for e in root:
    assert e.tag == 'POOL' and len(e) == 0 and not (e.text or '').strip(), e.tag
    assert len(e.attrib) == 6, e.attrib
    assert e.attrib['MEDIA_SIZE_UNITS'] == 'MB'
    rows.append('|'.join(e.attrib[k] for k in ('name', 'type', 'PRIORITY', 'MEDIA_SIZE',
                                                'DEVICE_NAME')))
for r in sorted(rows):
    print(r)
)PY";

std::string ReadXml(const std::string& xml) {
  tevtest::RunOptions options;
  options.stdin_data = xml;
  auto py = tevtest::RunProgram(tevtest::Python(), {"-c", kXmlReader}, options);
  EXPECT_EQ(py.exit_code, 0) << py.err << xml;
  return py.out;
}

TEST(ZutevDevice, XmlListParsesWithEveryName) {
  Tree t;
  const std::string backups = t.dir().Path("backups");
  const std::string odd = t.dir().Path("a&b<c>\"d'e");
  const std::string plain = t.dir().Path("plain");
  ASSERT_EQ(t.Run({"-P", "ADD", "p&<\"'>"}).exit_code, 0);
  ASSERT_EQ(t.Run({"-D", "ADD", odd, "-t", "FILE", "-g", "p&<\"'>", "-s", "1G", "-p", "LOW"})
                .exit_code,
            0);
  ASSERT_EQ(t.Run({"-D", "ADD", plain, "-t", "FILE", "-g", "EXTPOOL", "-p", "READ-ONLY"})
                .exit_code,
            0);
  auto r = t.Run({"-D", "LIST", "-xml"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::vector<std::string> want = {
      "DBSPOOL|FILE|LOW|--|" + backups,
      "EXTPOOL|FILE|READ-ONLY|--|" + plain,
      "LOGPOOL|FILE|LOW|--|" + backups,
      "p&<\"'>|FILE|LOW|1024|" + odd,
  };
  std::sort(want.begin(), want.end());
  std::string expected;
  for (const auto& w : want) expected += w + "\n";
  EXPECT_EQ(ReadXml(r.out), expected) << r.out;
  // One line per element, tab-led, attributes in their order.
  EXPECT_TRUE(Has(r.out, "\t<POOL name=\"EXTPOOL\" type=\"FILE\" PRIORITY=\"READ-ONLY\" "
                         "MEDIA_SIZE=\"--\" MEDIA_SIZE_UNITS=\"MB\" DEVICE_NAME=\"" +
                             plain + "\"/>\n"))
      << r.out;
}

TEST(ZutevDevice, ListsOfACatalogWithoutDevices) {
  Tree t;
  auto r = t.Run({"-D", "DEL", t.dir().Path("backups"), "-d", "-y"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  r = t.Run({"-D", "LIST", "-xml"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "<TEV_DEVICE_LIST version=\"1.0\">\n</TEV_DEVICE_LIST>\n");
  r = t.Run({"-D", "LIST"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, TextList({{}, {}, {}}));
}

// ---- STDIO and CLOUD devices ------------------------------------------------

TEST(ZutevDevice, StdioAndCloudDevicesAsStored) {
  Tree t;
  const std::string s3_warning =
      "The S3 client needs you to setup a --max_part_size since you did not set it it has been "
      "set to the default of 25 MB";
  const std::string big_warning =
      "The S3 client needs to cache in memory --max_part_size bytes setting this to more than "
      "100 MB could be detrimental on performance.";
  const std::string swift_warning =
      "Most cloud providers have a maximum object size if you do not provide an argument with "
      "--max_part_size and your object exceeds your provider's limit, the backup will fail";

  auto r = t.Run({"-D", "ADD", "tevpipe", "-t", "stdio", "-g", "DBSPOOL", "--read_arg",
                  "get @obj_id@", "--write_arg", "put @obj_name@", "--drop_arg",
                  "drop @obj_part@", "--max_part_size", "10M"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  auto row = RowOf(t, "tevpipe");
  ASSERT_FALSE(row.empty());
  EXPECT_EQ(row[kType], "STDIO");
  EXPECT_EQ(row[kStdioR], "get @obj_id@");
  EXPECT_EQ(row[kStdioW], "put @obj_name@");
  EXPECT_EQ(row[kStdioD], "drop @obj_part@");
  EXPECT_EQ(row[kPart], "10485760");

  const std::vector<std::string> s3 = {"-t", "CLOUD", "-g", "DBSPOOL", "--provider", "s3",
                                       "--url", "https://s3.example.com", "--user", "AKID",
                                       "--password", "secret", "--container", "bucket"};
  struct Case {
    std::string name;
    std::vector<std::string> extra;
    std::string part;
    std::vector<std::string> said, not_said;
  };
  const Case cases[] = {
      {"s3default", {}, "26214400", {s3_warning}, {big_warning}},
      {"s3big", {"--max_part_size", "200M"}, "209715200", {big_warning}, {s3_warning}},
      {"s3edge", {"--max_part_size", "100M"}, "104857600", {}, {s3_warning, big_warning}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"-D", "ADD", c.name};
    args.insert(args.end(), s3.begin(), s3.end());
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    r = t.Run(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    for (const auto& s : c.said) EXPECT_TRUE(Has(r.err, s)) << r.err;
    for (const auto& s : c.not_said) EXPECT_FALSE(Has(r.err, s)) << r.err;
    row = RowOf(t, c.name);
    ASSERT_FALSE(row.empty());
    EXPECT_EQ(row[kType], "CLOUD");
    EXPECT_EQ(row[kProvider], "1");
    EXPECT_EQ(row[kPart], c.part);
    EXPECT_EQ(row[kUrl], "https://s3.example.com");
    EXPECT_EQ(row[kUser], "AKID");
    EXPECT_EQ(row[kPassword], "secret");
    EXPECT_EQ(row[kContainer], "bucket");
  }

  r = t.Run({"-D", "ADD", "swift", "-t", "CLOUD", "-g", "LOGPOOL", "--provider", "SWIFT", "--url",
             "https://swift.example.com/v1", "--user", "acct", "--password", "key",
             "--container", "cont"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(Has(r.err, swift_warning)) << r.err;
  EXPECT_FALSE(Has(r.err, s3_warning)) << r.err;
  row = RowOf(t, "swift");
  ASSERT_FALSE(row.empty());
  EXPECT_EQ(row[kProvider], "2");
  EXPECT_EQ(row[kPart], "0");
}

// ---- definition files -------------------------------------------------------

TEST(ZutevDeviceFile, WriteThenLoadChangesTheDevicesInPlace) {
  Tree t;
  const std::string a = t.dir().Path("A"), b = t.dir().Path("B");
  ASSERT_EQ(t.Run({"-D", "DEL", t.dir().Path("backups"), "-d", "-y"}).exit_code, 0);
  // 5 GiB: a size whose low 32-bit word alone would read 1 GiB.
  ASSERT_EQ(t.Run({"-D", "ADD", a, "-t", "FILE", "-g", "DBSPOOL", "-s", "5G"}).exit_code, 0);
  ASSERT_EQ(t.Run({"-D", "ADD", b, "-t", "FILE", "-g", "LOGPOOL", "-p", "LOW"}).exit_code, 0);

  auto r = t.Run({"-D", "LIST", "-u", "devices.txt"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string block_a = "\nDEVICE=" + a +
                              "\nTYPE=FILE\nPOOL=DBSPOOL\nBLOCKSIZE=0\nSIZE=5368709120\n"
                              "PRIORITY=HIGH\n";
  const std::string block_b =
      "\nDEVICE=" + b + "\nTYPE=FILE\nPOOL=LOGPOOL\nBLOCKSIZE=0\nSIZE=0\nPRIORITY=LOW\n";
  const std::string file = t.dir().ReadFile("devices.txt");
  EXPECT_TRUE(file == block_a + block_b || file == block_b + block_a) << file;

  // Change both, then load the file: both come back, nothing is added.
  ASSERT_EQ(t.Run({"-D", "UPDATE", a, "-g", "DBSPOOL", "-s", "1M", "-p", "LOW"}).exit_code, 0);
  ASSERT_EQ(t.Run({"-D", "UPDATE", b, "-g", "LOGPOOL", "-p", "HIGHEST"}).exit_code, 0);
  r = t.Run({"-D", "LIST", "-l", "devices.txt"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(DeviceRows(t).size(), 2u);
  r = t.Run({"-D", "LIST"});
  EXPECT_EQ(r.out, TextList({{"FILE   HIGH         --/5120      DBSPOOL       " + a},
                             {"FILE   LOW          --/--        LOGPOOL       " + b},
                             {}}));
  EXPECT_EQ(RowOf(t, a)[kMedia], "5368709120");
}

TEST(ZutevDeviceFile, FaultyBlocksAreReportedAndSkipped) {
  Tree t;
  const std::string n119 = t.dir().Path("") + std::string(119 - t.dir().Path("").size(), 'x');
  const std::string n120 = n119 + "y";
  ASSERT_EQ(n119.size(), 119u);
  const std::string text =
      "# devices of a test\n"                           // 0
      "DEVICE=" + t.dir().Path("plain") + "\n"          // 1: no TYPE, no PRIORITY
      "POOL=DBSPOOL\n"                                  // 2
      "\n"                                              // 3
      "DEVICE=tapedev\n"                                // 4
      "PRIORITY=HIGHEST\n"                              // 5
      "TYPE=TAPE\n"                                     // 6: LOW all the same
      "POOL=LOGPOOL\n"                                  // 7
      "DEVICE=pipe\n"                                   // 8
      "TYPE=STDIO\n"                                    // 9: refused
      "POOL=DBSPOOL\n"                                  // 10
      "DEVICE=" + t.dir().Path("lower") + "\n"          // 11
      "POOL=DBSPOOL\n"                                  // 12
      "PRIORITY=high\n"                                 // 13: refused
      "DEVICE=" + n120 + "\n"                           // 14: refused
      "POOL=DBSPOOL\n"                                  // 15
      "DEVICE=nopool\n"                                 // 16
      "POOL=NOSUCH\n"                                   // 17: refused
      "TYPE=CLOUD\n"                                    // 18: refused again
      "DEVICE=  " + t.dir().Path("spaced") + "   # note\n"  // 19
      "TYPE FILE\n"                                     // 20: key syntax of configuration files
      "PRIORITY = READ-ONLY\n"                          // 21
      "POOL=EXTPOOL\n"                                  // 22
      "SIZE=-1073741824\n"                              // 23: an old file's low word
      "DEVICE=" + n119 + "\n"                           // 24
      "POOL=DBSPOOL\n";                                 // 25: last block, no TYPE
  t.dir().WriteFile("load.txt", text);
  ASSERT_EQ(t.Run({"-S", "DUMP", "lock"}).exit_code, 0);
  auto r = t.Run({"-D", "LIST", "-l", "load.txt"});
  EXPECT_EQ(r.exit_code, 0) << r.err;

  const std::vector<std::string> in_order = {
      Msg(88164, "STDIO"),  Msg(88167, 9),  Usage(), Msg(88166, "high"), Msg(88167, 13),
      Msg(88165, 120),      Msg(88167, 14), Msg(88163, "NOSUCH"), Msg(88167, 17),
      Msg(88164, "CLOUD"),  Msg(88167, 18),
  };
  size_t at = 0;
  for (const std::string& m : in_order) {
    size_t found = r.err.find(m, at);
    EXPECT_NE(found, std::string::npos) << m << "\n" << r.err;
    if (found != std::string::npos) at = found + m.size();
  }

  auto row = RowOf(t, t.dir().Path("plain"));
  ASSERT_FALSE(row.empty());
  EXPECT_EQ(row[kType], "FILE");
  EXPECT_EQ(row[kPriority], "3");
  row = RowOf(t, "tapedev");
  ASSERT_FALSE(row.empty());
  EXPECT_EQ(row[kType], "TAPE");
  EXPECT_EQ(row[kPriority], "2");
  EXPECT_EQ(row[kPool], "2");
  row = RowOf(t, t.dir().Path("spaced"));
  ASSERT_FALSE(row.empty());
  EXPECT_EQ(row[kPriority], "1");
  EXPECT_EQ(row[kPool], "3");
  EXPECT_EQ(row[kMedia], "3221225472");
  row = RowOf(t, n119);
  ASSERT_FALSE(row.empty());
  EXPECT_EQ(row[kPriority], "3");
  for (const std::string& gone : {std::string("pipe"), t.dir().Path("lower"), n120,
                                  std::string("nopool")}) {
    EXPECT_TRUE(RowOf(t, gone).empty()) << gone;
  }
}

// A definition file cut short or with damaged bytes loads what it can read
// and never crashes the reader; the devices it names stay as they were
// or take a value the damaged file gave them.
TEST(ZutevDeviceFile, DamagedFilesNeverCrashTheLoad) {
  Tree t;
  // A name relative to the tree, so that no damaged name reaches outside.
  const std::string a = "A";
  ASSERT_EQ(t.Run({"-D", "DEL", t.dir().Path("backups"), "-d", "-y"}).exit_code, 0);
  ASSERT_EQ(t.Run({"-D", "ADD", a, "-t", "FILE", "-g", "DBSPOOL", "-s", "5G"}).exit_code, 0);
  ASSERT_EQ(t.Run({"-D", "LIST", "-u", "good.txt"}).exit_code, 0);
  const std::string good = t.dir().ReadFile("good.txt");
  std::mt19937 rng(7);
  std::vector<std::string> damaged;
  for (int i = 0; i < 6; ++i) damaged.push_back(good.substr(0, rng() % good.size()));
  for (int i = 0; i < 6; ++i) {
    std::string d = good;
    for (int k = 0; k < 4; ++k) d[rng() % d.size()] = static_cast<char>(rng());
    damaged.push_back(d);
  }
  damaged.push_back(std::string(3000, 'x') + "\n" + good);  // an overlong line first
  damaged.push_back("DEVICE=" + std::string(600, 'n') + "\nPOOL=DBSPOOL\n");
  for (const std::string& d : damaged) {
    t.dir().WriteFile("bad.txt", d);
    auto r = t.Run({"-D", "LIST", "-l", "bad.txt"});
    EXPECT_EQ(r.signal, 0) << d;
    EXPECT_TRUE(r.exit_code == 0 || r.exit_code == 255 || r.exit_code == 3) << r.exit_code << d;
    EXPECT_FALSE(Has(r.err, "Sanitizer")) << r.err;
    EXPECT_FALSE(Has(r.err, "runtime error")) << r.err;
  }
  // The catalog is sound afterwards: the good file restores the device.
  ASSERT_EQ(t.Run({"-D", "LIST", "-l", "good.txt"}).exit_code, 0);
  EXPECT_EQ(RowOf(t, a, "1")[kMedia], "5368709120");
}

TEST(ZutevDeviceFile, MissingFileAndUnwritableFile) {
  Tree t;
  auto r = t.Run({"-D", "LIST", "-l", "absent.txt"});
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_TRUE(Has(r.err, Msg(88023, "absent.txt"))) << r.err;
  r = t.Run({"-D", "LIST", "-u", "no/such/dir/out.txt"});
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_FALSE(t.dir().Exists("no"));
}

}  // namespace
