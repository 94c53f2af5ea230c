// The message stream over a real connection to the python3 test server:
// every put primitive against Python's struct, the gets reading the same
// bytes back, values straddling the smallest packet buffers, a server
// closing mid-reply, the urgent break byte and the break callback.
#include <algorithm>

#include "tests/sqlruntime/sqli_fixture.h"

namespace {

using sqli_test::Server;
using sqli_test::SqliTest;

// Python builds the bytes of the value table: float format 1 most
// significant byte first, 0 in this machine's (little-endian) order.
std::string PythonBytes(int format) {
  std::string script = R"(
import struct, sys
fmt = '>' if int(sys.argv[1]) == 1 else '<'
def dec(exp, digits, neg=False):
    # stored form of a DECIMAL: sign-and-exponent byte, base-100 digits
    d = list(digits)
    if neg:
        last = max(i for i, v in enumerate(d) if v)
        d = [99 - v for v in d[:last]] + [100 - d[last]] + d[last + 1:]
        head = (exp + 64) ^ 0x7F
    else:
        head = 0x80 | (exp + 64)
    body = bytes([head] + d)
    return struct.pack('>H', len(body)) + body + (b'\0' if len(body) % 2 else b'')
out = b''
out += bytes([0xAB])
out += struct.pack('>h', -2) + struct.pack('>H', 65535) + struct.pack('>i', -123456789)
out += struct.pack('>hII', -1, 0x89ABCDEF, 0x1234)
out += struct.pack('>q', -5000000000000000)
out += struct.pack(fmt + 'f', 1.5) + struct.pack(fmt + 'd', -2.25)
out += struct.pack('>H', 3) + b'abc\0' + struct.pack('>H', 2) + b'ab'
out += b'xyz\0' + b'\0'
out += dec(3, [1, 23, 45, 67, 89]) + dec(2, [12, 34, 56, 78]) + struct.pack('>H', 65535)
out += dec(1, [1, 50], neg=True)
print((out * 5).hex())
)";
  tevtest::RunResult r = tevtest::RunProgram(tevtest::Python(), {"-c", script, std::to_string(format)},
                                             {{{"PATH", "/usr/bin:/bin"}}, "", "", 60});
  std::string hex = r.out;
  while (!hex.empty() && (hex.back() == '\n' || hex.back() == '\r')) hex.pop_back();
  return hex;
}

Decimal Dec(int16_t exp, std::initializer_list<uint8_t> digits, int16_t sign = 1) {
  Decimal d{};
  d.exponent = exp;
  d.sign = sign;
  d.ndigits = static_cast<int16_t>(digits.size());
  int i = 0;
  for (uint8_t v : digits) d.digits[i++] = v;
  return d;
}

const Int8Value kInt8 = {0x89ABCDEF, 0x1234, -1};

void PutTable(SqliMessageStream* s) {
  Decimal d5 = Dec(3, {1, 23, 45, 67, 89}), d4 = Dec(2, {12, 34, 56, 78}), dnull = Dec(0, {}, -1),
          dneg = Dec(1, {1, 50}, 0);
  for (int k = 0; k < 5; ++k) {
    sqli_msg_put_byte(0xAB, s);
    sqli_msg_put_short(-2, s);
    sqli_msg_put_ushort(65535, s);
    sqli_msg_put_int(-123456789, s);
    sqli_msg_put_int8(&kInt8, s);
    sqli_msg_put_bigint(-5000000000000000LL, s);
    sqli_msg_put_float(1.5, s);
    sqli_msg_put_double(-2.25, s);
    sqli_msg_put_string("abc", 3, s);
    sqli_msg_put_string("ab", 2, s);
    sqli_msg_put_padded("xyz", 3, s);
    sqli_msg_put_pad(s);
    sqli_msg_put_decimal(&d5, s);
    sqli_msg_put_decimal(&d4, s);
    sqli_msg_put_decimal(&dnull, s);
    sqli_msg_put_decimal(&dneg, s);
  }
}

void GetTable(SqliMessageStream* s) {
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(sqli_msg_get_byte(s), 0xAB);
    EXPECT_EQ(sqli_msg_get_short(s), -2);
    EXPECT_EQ(sqli_msg_get_ushort(s), 65535);
    EXPECT_EQ(sqli_msg_get_int(s), -123456789);
    Int8Value v{};
    sqli_msg_get_int8(&v, s);
    EXPECT_EQ(v.sign, -1);
    EXPECT_EQ(v.low, 0x89ABCDEFu);
    EXPECT_EQ(v.high, 0x1234u);
    EXPECT_EQ(sqli_msg_get_bigint(s), -5000000000000000LL);
    EXPECT_EQ(sqli_msg_get_float(s), 1.5);
    EXPECT_EQ(sqli_msg_get_double(s), -2.25);
    char buf[8] = {};
    EXPECT_EQ(sqli_msg_get_ushort(s), 3);
    sqli_msg_get_padded(buf, 3, s);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(sqli_msg_get_ushort(s), 2);
    std::memset(buf, 0, sizeof buf);
    sqli_msg_get_padded(buf, 2, s);
    EXPECT_STREQ(buf, "ab");
    std::memset(buf, 0, sizeof buf);
    sqli_msg_get_padded(buf, 3, s);
    EXPECT_STREQ(buf, "xyz");
    EXPECT_EQ(sqli_msg_get_byte(s), 0);
    Decimal d{};
    sqli_msg_get_decimal(&d, s);
    EXPECT_EQ(d.exponent, 3);
    EXPECT_EQ(d.ndigits, 5);
    EXPECT_EQ(d.digits[4], 89);
    sqli_msg_get_decimal(&d, s);
    EXPECT_EQ(d.ndigits, 4);
    EXPECT_EQ(d.digits[0], 12);
    Decimal untouched = Dec(7, {7});
    sqli_msg_get_decimal(&untouched, s);
    EXPECT_EQ(untouched.exponent, 7);  // null leaves the destination as it was
    sqli_msg_get_decimal(&d, s);
    EXPECT_EQ(d.sign, 0);
    EXPECT_EQ(d.digits[0], 1);
    EXPECT_EQ(d.digits[1], 50);
  }
}

class StreamTest : public SqliTest {};

TEST_F(StreamTest, PrimitivesMatchPythonStructAcrossSmallBuffers) {
  for (int format : {1, 0}) {
    std::string expected = PythonBytes(format);
    ASSERT_FALSE(expected.empty());
    std::string config = "\"caps\": \"\", \"raw\": " + std::to_string(expected.size() / 2) +
                         ", \"inject\": {\"999\": \"" + expected + "000c\"}";
    Server server(config, "b=140");
    ASSERT_TRUE(server.ready());
    ASSERT_EQ(sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv1", "c1", nullptr, 1), 0) << sqlca.sqlcode;
    SqliMessageStream* s = sqli_runtime_get()->current->stream;
    s->float_format = static_cast<uint32_t>(format);
    // The request is far longer than one send buffer.
    ASSERT_NE(s->send_buffer, nullptr);
    EXPECT_LE(s->send_buffer->size, 140u);
    EXPECT_GT(expected.size() / 2, 2u * s->send_buffer->size);
    sqli_msg_put_short(999, s);
    PutTable(s);
    sqli_msg_put_short(12, s);
    ASSERT_EQ(sqli_msg_flush(s), 0);
    GetTable(s);
    EXPECT_EQ(sqli_msg_get_short(s), 12);
    std::vector<std::string> req = server.Requests();
    ASSERT_GE(req.size(), 2u);
    EXPECT_EQ(req.back(), "03e7" + expected + "000c") << "format " << format;
    EXPECT_EQ(sqli_connect_close(SQLI_CONN_NAMED, "c1", 0, 0), 0);
  }
}

TEST_F(StreamTest, LongDecimalsSkipsAndPeek) {
  // Length 19: 18 bytes kept, 22 read; 65535: two bytes read; then a marker.
  std::string dec19 = "0013c3";
  for (int i = 0; i < 18; ++i) dec19 += "01";
  dec19 += "00";
  std::string reply = dec19 + "ffff" + "1234" + "0005" + "aabbccddee00" + "5678" + "000c";
  Server server("\"caps\": \"\", \"raw\": 0, \"inject\": {\"999\": \"" + reply + "\"}");
  ASSERT_TRUE(server.ready());
  ASSERT_EQ(sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv1", "c1", nullptr, 1), 0) << sqlca.sqlcode;
  SqliMessageStream* s = sqli_runtime_get()->current->stream;
  sqli_msg_put_short(999, s);
  sqli_msg_put_short(12, s);
  ASSERT_EQ(sqli_msg_flush(s), 0);
  Decimal d = Dec(9, {9});
  sqli_msg_get_decimal(&d, s);
  EXPECT_EQ(d.exponent, 3);
  Decimal n = Dec(9, {9});
  sqli_msg_get_decimal(&n, s);
  EXPECT_EQ(n.exponent, 9);
  EXPECT_EQ(sqli_msg_peek_short(s), 0x1234);
  EXPECT_EQ(sqli_msg_get_short(s), 0x1234);
  EXPECT_EQ(sqli_msg_get_short(s), 5);
  sqli_msg_skip(5, s);  // rounds up to 6
  EXPECT_EQ(sqli_msg_get_short(s), 0x5678);
  EXPECT_EQ(sqli_msg_get_short(s), 12);
}

TEST_F(StreamTest, ServerClosingMidReply) {
  Server server("\"caps\": \"\", \"close_mid\": {\"998\": \"000d\"}");
  ASSERT_TRUE(server.ready());
  ASSERT_EQ(sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv1", "c1", nullptr, 1), 0) << sqlca.sqlcode;
  SqliMessageStream* s = sqli_runtime_get()->current->stream;
  sqli_msg_put_short(998, s);
  EXPECT_EQ(sqli_reply_loop(nullptr, 0), -1);
  // The connectivity layer's error stands, and the connection is gone.
  EXPECT_LT(sqlca.sqlcode, 0);
  EXPECT_NE(sqlca.sqlcode, -408);
  EXPECT_LE(sqlca.sqlcode, -25500);
  EXPECT_EQ(sqli_runtime_get()->current, nullptr);
  EXPECT_EQ(sqli_conn_find("c1"), nullptr);
}

TEST_F(StreamTest, FailedReadsGiveAllOnes) {
  Server server("\"caps\": \"\", \"close_mid\": {\"998\": \"00\"}");
  ASSERT_TRUE(server.ready());
  ASSERT_EQ(sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv1", "c1", nullptr, 1), 0) << sqlca.sqlcode;
  SqliMessageStream* s = sqli_runtime_get()->current->stream;
  sqli_msg_put_short(998, s);
  sqli_msg_put_short(12, s);
  ASSERT_EQ(sqli_msg_flush(s), 0);
  EXPECT_EQ(sqli_msg_get_short(s), 0x00FF);  // one byte came, the other is all ones
  EXPECT_EQ(sqli_msg_get_int(s), -1);
  EXPECT_EQ(sqli_msg_get_ushort(s), 65535);
  EXPECT_LT(sqlca.sqlcode, 0);
}

TEST_F(StreamTest, BreakSendsTheUrgentByte) {
  Server server("\"caps\": \"\", \"urgent\": 1");
  ASSERT_TRUE(server.ready());
  EXPECT_EQ(sqlbreak(), 1);  // no connection yet
  ASSERT_EQ(sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv1", "c1", nullptr, 1), 0) << sqlca.sqlcode;
  EXPECT_EQ(sqlbreak(), 0);
  EXPECT_TRUE(server.WaitFor("urgent 42")) << server.Log();
}

std::vector<int32_t> g_calls;
void Record(int32_t v) { g_calls.push_back(v); }

TEST_F(StreamTest, BreakCallbackWhileTheReplyIsDelayed) {
  Server server("\"caps\": \"\", \"delays\": {\"998\": 350}");
  ASSERT_TRUE(server.ready());
  ASSERT_EQ(sqli_connect_open(nullptr, SQLI_CONN_NAMED, "@srv1", "c1", nullptr, 1), 0) << sqlca.sqlcode;
  ASSERT_EQ(sqlbreakcallback(100, Record), 0);
  g_calls.clear();
  sqli_msg_put_short(998, sqli_runtime_get()->current->stream);
  EXPECT_EQ(sqli_reply_loop(nullptr, 0), 0);
  EXPECT_EQ(sqlca.sqlcode, 0);
  // The read: 1 when the wait starts, 2 for each time-out, 0 at its end.
  auto first = std::find(g_calls.begin(), g_calls.end(), 2);
  ASSERT_NE(first, g_calls.end());
  ASSERT_GT(first - g_calls.begin(), 0);
  EXPECT_EQ(*(first - 1), 1);
  EXPECT_GE(std::count(g_calls.begin(), g_calls.end(), 2), 2);
  EXPECT_EQ(g_calls.back(), 0);
  EXPECT_EQ(sqli_runtime_get()->current->stream->cb.timeout_ms, -1);
  ASSERT_EQ(sqlbreakcallback(-1, nullptr), 0);
  g_calls.clear();
  sqli_msg_put_short(998, sqli_runtime_get()->current->stream);
  EXPECT_EQ(sqli_reply_loop(nullptr, 0), 0);
  EXPECT_TRUE(g_calls.empty());
}

}  // namespace
