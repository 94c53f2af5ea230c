// The connection request against the python3 peer's reading of the same
// formats: the text request and its trailer, the binary request, and the
// reader's handling of missing words, the environment name and sections.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "base/fields.h"
#include "connect/asfpfutl.h"
#include "connect/asfutil.h"
#include "tests/support/test_support.h"

namespace {

std::string Hex(const unsigned char* p, size_t n) {
  static const char* d = "0123456789abcdef";
  std::string h;
  for (size_t i = 0; i < n; ++i) h += d[p[i] >> 4], h += d[p[i] & 15];
  return h;
}

std::vector<std::string> Peer(const std::vector<std::string>& args) {
  std::vector<std::string> all = {tevtest::SourceDir() + "/tests/connect/peer.py"};
  all.insert(all.end(), args.begin(), args.end());
  tevtest::RunResult r = tevtest::RunProgram(tevtest::Python(), all, {{{"PATH", "/usr/bin:/bin"}}, "", "", 60});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < r.out.size()) {
    size_t nl = r.out.find('\n', at);
    if (nl == std::string::npos) nl = r.out.size();
    lines.push_back(r.out.substr(at, nl - at));
    at = nl + 1;
  }
  return lines;
}

// A fixed record, start request, option list and identity, and the same
// values as the peer's JSON.
struct Fixture {
  char user[8] = "joe", password[8] = "pw1", name1[8] = "9.240", name2[8] = "abc", name3[8] = "sqli";
  char server[8] = "srv", db[8] = "db";
  char n0[8] = "LANG", v0[8] = "C", n1[16] = "ZIVEVODAREVEZO", v1[8] = "/x", n2[16] = "ZIVEVODAREVEZOX", v2[8] = "y";
  char host[8] = "h1", computer[8] = "c1", cwd[8] = "/tmp", program[16] = "/bin/prog";
  AsfConnRecord rec{};
  AsfStartRequest start{};
  SqliConnCred cred{};
  char* names[3] = {n0, n1, n2};
  char* values[3] = {v0, v1, v2};
  AsfOptionList options{3, names, values};
  AsfIdentity id{};
  PfParts parts{};

  Fixture() {
    std::strcpy(rec.program, "sqlexec");
    rec.name1 = name1;
    rec.name2 = name2;
    rec.name3 = name3;
    rec.values[0] = 316;
    rec.cred_kind = 1;
    rec.user = user;
    rec.password = password;
    std::memcpy(rec.info.server_type, "sqlexec", 7);
    rec.info.level = 61;
    std::memcpy(rec.info.protocol, "soctcp", 6);
    rec.info.word = 1;
    start.kind = 2;
    start.flags = 4;
    start.server = server;
    start.option_arg = db;
    cred.kind = 1;
    cred.data = &start;
    id.first = 7;
    id.pid = 1234;
    id.second = 9;
    id.host = host;
    id.computer = computer;
    id.cwd = cwd;
    id.umask = 18;
    id.uid = 1000;
    id.gid = 100;
    id.program = program;
    parts.record = &rec;
    parts.credential = &cred;
    parts.options = &options;
    parts.identity = &id;
    parts.level = 61;
  }

  static std::string Json() {
    return R"({"user":"joe","password":"pw1","name1":"9.240","name2":"abc","name3":"sqli",)"
           R"("program":"sqlexec","values":[316,0,0],"cred_kind":1,)"
           R"("info":{"server_type":"sqlexec","level":61,"protocol":"soctcp","word":1},)"
           R"("start":{"kind":2,"flags":4,"server":"srv","option_arg":"db"},)"
           R"("start_words":"-ddb -e",)"
           R"("options":[["LANG","C"],["ZIVEVODAREVEZO","/x"],["ZIVEVODAREVEZOX","y"]],)"
           R"("identity":{"first":7,"pid":1234,"second":9,"host":"h1","computer":"c1","cwd":"/tmp",)"
           R"("umask":18,"uid":1000,"gid":100,"program":"/bin/prog"}})";
  }

  std::string Text(AsfControlBlock* cb) {
    char words[128];
    EXPECT_EQ(pf_start_words(cb, start.kind, &start, words, sizeof words), 0);
    std::vector<char> area(2050);
    AsfPacketBuffer buf{area.data(), 2050, 0, 0, area.data(), 2050, 0};
    EXPECT_EQ(pf_write_request(cb, &buf, &rec, words, &parts), 0) << cb->error;
    return std::string(area.data());
  }
};

TEST(RequestTest, TextAndBinaryRequestsEqualThePeersAndItReadsTheTrailer) {
  Fixture f;
  AsfControlBlock cb{};
  std::string text = f.Text(&cb);
  std::vector<std::string> built = Peer({"build", Fixture::Json()});
  ASSERT_EQ(built.size(), 2u);
  EXPECT_EQ("text " + text, built[0]);
  EXPECT_EQ(text.find("ZIVEVODAREVEZO=/x"), std::string::npos);
  EXPECT_NE(text.find(" ZIVEVODAREVEZOX=y "), std::string::npos);

  unsigned char bin[2056];
  stint(100, bin);
  int32_t n = pf_code_binary(&cb, 1, bin + 2, sizeof bin - 2, &f.parts);
  ASSERT_GT(n, 0) << cb.error;
  EXPECT_EQ("binary " + Hex(bin, static_cast<size_t>(n) + 2), built[1]);

  // The peer reads the 'm' header and the sections field by field.
  std::vector<std::string> fields =
      Peer({"parse", Hex(reinterpret_cast<const unsigned char*>(text.c_str()), text.size() + 1)});
  std::vector<std::string> want = {
      "form=text", "words=sqlexec|joe|-ppw1|9.240|abc|-ddb|-e|-fIEEEI|LANG=C|ZIVEVODAREVEZOX=y|",
      "m.sl_value=0", "m.server_type=sqlexec", "m.level=61", "m.protocol=soctcp", "m.word=1",
      "m.values=316,0,0", "m.program=sqlexec", "m.name3=sqli", "m.start_kind=2",
      "m.start_flags=4", "m.start_server=srv", "h.kind=2", "h.flags=4", "h.server=srv",
      "h.option_arg=db", "h.name=None", "h.mode_arg=None", "h.group_arg=None",
      "h.group_name=None", "j.LANG=C", "j.ZIVEVODAREVEZOX=y", "k.first=7", "k.pid=1234",
      "k.second=9", "k.host=h1", "k.computer=c1", "k.cwd=/tmp", "n.umask=18", "t.uid=1000",
      "t.gid=100", "t.program=/bin/prog"};
  ASSERT_EQ(fields.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    if (i == 1) {
      EXPECT_EQ(fields[i].rfind(want[i], 0), 0u) << fields[i];  // the trailer word follows
    } else {
      EXPECT_EQ(fields[i], want[i]);
    }
  }
}

TEST(RequestTest, ReadingBackTheTextRequest) {
  Fixture f;
  AsfControlBlock cb{};
  f.rec.password = nullptr;  // no password word: two blanks after the login
  std::string text = f.Text(&cb);
  ASSERT_NE(text.find("sqlexec joe  9.240 abc -ddb -e -fIEEEI"), std::string::npos) << text;
  std::vector<char> area(text.begin(), text.end());
  area.push_back('\0');
  AsfPacketBuffer buf{area.data(), static_cast<uint32_t>(area.size()), 0, 0, area.data(),
                      static_cast<uint32_t>(area.size()), 0};
  AsfIdentity id{};
  PfParts parts{};
  parts.identity = &id;
  ASSERT_EQ(pf_read_request(&cb, &buf, &parts), 0) << cb.error;
  EXPECT_STREQ(parts.record->user, "joe");
  EXPECT_EQ(parts.record->password, nullptr);
  EXPECT_STREQ(parts.record->name1, "9.240");
  EXPECT_STREQ(parts.record->name2, "abc");
  EXPECT_STREQ(parts.record->name3, "sqli");
  EXPECT_EQ(parts.record->values[0], 316);
  EXPECT_EQ(parts.record->info.level, 61);
  auto* s = static_cast<AsfStartRequest*>(parts.credential->data);
  EXPECT_EQ(s->kind, 2);
  EXPECT_EQ(s->flags, 4u | 3u);
  EXPECT_STREQ(s->option_arg, "db");
  EXPECT_EQ(parts.format.words[3], 0);
  ASSERT_NE(parts.options, nullptr);
  ASSERT_EQ(parts.options->count, 2);
  EXPECT_STREQ(parts.options->names[1], "ZIVEVODAREVEZOX");
  EXPECT_EQ(id.pid, 1234);
  EXPECT_EQ(id.umask, 18);
  EXPECT_STREQ(id.program, "/bin/prog");
  pf_parts_free(&parts);
  asf_free_identity(0, &id);
}

TEST(RequestTest, TextWithoutFormatOrTrailerAndWithPasswordWord) {
  struct Case {
    std::string text;
    int32_t f;
  };
  const Case cases[] = {{"sqlexec joe -psecret 9.240 abc -ddb NAME=v", 1},
                        {"sqlexec joe -psecret 9.240 abc -ddb -fIEEEI", 0},
                        {"sqlexec joe -psecret 9.240 abc -ddb -fXXX", 16},
                        {"sqlexec joe -psecret 9.240 abc -ddb -f", 16}};
  for (const Case& c : cases) {
    std::vector<char> area(c.text.begin(), c.text.end());
    area.push_back('\0');
    AsfPacketBuffer buf{area.data(), static_cast<uint32_t>(area.size()), 0, 0, area.data(),
                        static_cast<uint32_t>(area.size()), 0};
    AsfControlBlock cb{};
    AsfIdentity id{};
    PfParts parts{};
    parts.identity = &id;
    ASSERT_EQ(pf_read_request(&cb, &buf, &parts), 0) << c.text;
    int32_t want[6] = {16, 16, 16, c.f, c.f, 0};
    EXPECT_EQ(std::memcmp(parts.format.words, want, sizeof want), 0) << c.text;
    EXPECT_STREQ(parts.record->password, "secret");
    EXPECT_STREQ(parts.record->name1, "9.240");
    EXPECT_EQ(parts.record->info.level, 50);
    EXPECT_EQ(id.uid, -1);
    // The password is wiped from the received text.
    EXPECT_EQ(std::string(area.data(), area.size()).find("secret"), std::string::npos);
    if (c.f == 1) {
      ASSERT_NE(parts.options, nullptr);
      EXPECT_STREQ(parts.options->names[0], "NAME");
      EXPECT_STREQ(parts.options->values[0], "v");
    }
    pf_parts_free(&parts);
  }
}

// Trailer records with a section inserted before the end tag.
TEST(RequestTest, UnknownSectionSkippedSecondCredentialRefused) {
  Fixture f;
  AsfControlBlock cb{};
  unsigned char rec[1024];
  int32_t n = pf_code_record(&cb, 1, rec, sizeof rec, &f.parts);
  ASSERT_GT(n, 2);
  auto with = [&](std::vector<unsigned char> section) {
    std::vector<unsigned char> b(rec, rec + n - 2);
    b.insert(b.end(), section.begin(), section.end());
    b.push_back(0);
    b.push_back(127);
    return b;
  };
  std::vector<unsigned char> unknown = with({0, 'z', 0, 3, 'a', 'b', 'c'});
  AsfIdentity id{};
  PfParts parts{};
  parts.identity = &id;
  EXPECT_EQ(pf_code_record(&cb, 0, unknown.data(), static_cast<int32_t>(unknown.size()), &parts),
            static_cast<int32_t>(unknown.size()));
  EXPECT_EQ(cb.error, 0);
  pf_parts_free(&parts);
  asf_free_identity(0, &id);

  std::vector<unsigned char> second = with({0, 'i', 0, 2, 'x', 'y'});
  PfParts again{};
  again.identity = &id;
  EXPECT_EQ(pf_code_record(&cb, 0, second.data(), static_cast<int32_t>(second.size()), &again), -1);
  EXPECT_EQ(cb.error, -408);
  pf_parts_free(&again);
  asf_free_identity(0, &id);

  // Cut short of the end tag, and no identity to fill.
  cb = AsfControlBlock{};
  PfParts cut{};
  cut.identity = &id;
  EXPECT_EQ(pf_code_record(&cb, 0, rec, n - 2, &cut), -1);
  EXPECT_EQ(cb.error, -408);
  pf_parts_free(&cut);
  asf_free_identity(0, &id);
  cb = AsfControlBlock{};
  PfParts none{};
  EXPECT_EQ(pf_code_record(&cb, 0, rec, n, &none), -1);
  EXPECT_EQ(cb.error, -27003);
}

TEST(RequestTest, LongPasswordNeverCutIntoTheTextForm) {
  Fixture f;
  std::string longpw(103, 'p');
  f.rec.password = longpw.data();
  EXPECT_EQ(pf_text_form_allowed(&f.rec, &f.cred, &f.options), 0);
  std::string ok(100, 'p');
  f.rec.password = ok.data();
  EXPECT_EQ(pf_text_form_allowed(&f.rec, &f.cred, &f.options), 1);
  char blank[] = "jo e";
  f.rec.user = blank;
  EXPECT_EQ(pf_text_form_allowed(&f.rec, &f.cred, &f.options), 0);
  // Asked for the text form anyway, the writer refuses rather than cuts.
  f.rec.user = f.user;
  f.rec.password = longpw.data();
  AsfControlBlock cb{};
  std::vector<char> area(2050);
  AsfPacketBuffer buf{area.data(), 2050, 0, 0, area.data(), 2050, 0};
  EXPECT_EQ(pf_write_request(&cb, &buf, &f.rec, "-p", &f.parts), -1);
  EXPECT_EQ(cb.error, -406);
}

}  // namespace
