// The wire primitives of the SQL protocol (layout at the top of stream.h).
#include <cstring>

#include "base/fields.h"
#include "sqlruntime/stream.h"
#include "sqltypes/bigint.h"

namespace {

void Be16(uint32_t v, unsigned char* p) {
  p[0] = static_cast<unsigned char>(v >> 8);
  p[1] = static_cast<unsigned char>(v);
}

void Be32(uint32_t v, unsigned char* p) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

uint32_t Ld32(const unsigned char* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// The byte-order flag of the float loaders and storers.
int32_t FloatFlag(const SqliMessageStream* s) { return s->float_format == 1 ? 1 : 0; }

}  // namespace

TV_BEGIN_C

void sqli_msg_put_byte(int32_t v, SqliMessageStream* s) {
  unsigned char b = static_cast<unsigned char>(v);
  sqli_msg_put_bytes(&b, 1, s);
}

void sqli_msg_put_short(int32_t v, SqliMessageStream* s) {
  unsigned char b[2];
  Be16(static_cast<uint32_t>(v), b);
  sqli_msg_put_bytes(b, 2, s);
}

void sqli_msg_put_ushort(uint32_t v, SqliMessageStream* s) { sqli_msg_put_short(static_cast<int32_t>(v), s); }

void sqli_msg_put_int(int32_t v, SqliMessageStream* s) {
  unsigned char b[4];
  Be32(static_cast<uint32_t>(v), b);
  sqli_msg_put_bytes(b, 4, s);
}

void sqli_msg_put_int8(const Int8Value* v, SqliMessageStream* s) {
  unsigned char b[10];
  Be16(static_cast<uint16_t>(v->sign), b);
  Be32(v->low, b + 2);
  Be32(v->high, b + 6);
  sqli_msg_put_bytes(b, 10, s);
}

void sqli_msg_put_bigint(int64_t v, SqliMessageStream* s) {
  unsigned char b[8];
  stbigint(v, b);
  sqli_msg_put_bytes(b, 8, s);
}

void sqli_msg_put_float(double v, SqliMessageStream* s) {
  unsigned char b[4];
  stmfloat(v, b, FloatFlag(s));
  sqli_msg_put_bytes(b, 4, s);
}

void sqli_msg_put_double(double v, SqliMessageStream* s) {
  unsigned char b[8];
  stmdouble(v, b, FloatFlag(s));
  sqli_msg_put_bytes(b, 8, s);
}

void sqli_msg_put_pad(SqliMessageStream* s) { sqli_msg_put_byte(0, s); }

void sqli_msg_put_padded(const void* bytes, int32_t count, SqliMessageStream* s) {
  if (count <= 0) return;
  sqli_msg_put_bytes(bytes, count, s);
  if (count & 1) sqli_msg_put_pad(s);
}

void sqli_msg_put_string(const char* text, int32_t length, SqliMessageStream* s) {
  if (length < 0) length = 0;
  sqli_msg_put_ushort(static_cast<uint32_t>(length), s);
  sqli_msg_put_padded(text, length, s);
}

void sqli_msg_put_decimal(const Decimal* v, SqliMessageStream* s) {
  if (v == nullptr || v->sign == DEC_NULLSIGN) {
    sqli_msg_put_ushort(65535, s);
    return;
  }
  int32_t n = v->ndigits + 1;
  unsigned char b[DEC_MAXDIGITS + 1] = {};
  stdecimal(v, b, n);
  sqli_msg_put_ushort(static_cast<uint32_t>(n), s);
  sqli_msg_put_padded(b, n, s);
}

void sqli_msg_put_blobdesc(const void* desc56, SqliMessageStream* s) { sqli_msg_put_bytes(desc56, 56, s); }

int32_t sqli_msg_get_byte(SqliMessageStream* s) {
  unsigned char b;
  sqli_msg_get_bytes(&b, 1, s);
  return b;
}

int32_t sqli_msg_get_short(SqliMessageStream* s) {
  unsigned char b[2];
  sqli_msg_get_bytes(b, 2, s);
  return static_cast<int16_t>((b[0] << 8) | b[1]);
}

int32_t sqli_msg_get_ushort(SqliMessageStream* s) {
  unsigned char b[2];
  sqli_msg_get_bytes(b, 2, s);
  return (b[0] << 8) | b[1];
}

int32_t sqli_msg_get_int(SqliMessageStream* s) {
  unsigned char b[4];
  sqli_msg_get_bytes(b, 4, s);
  return static_cast<int32_t>(Ld32(b));
}

void sqli_msg_get_int8(Int8Value* out, SqliMessageStream* s) {
  unsigned char b[10];
  sqli_msg_get_bytes(b, 10, s);
  out->sign = static_cast<int16_t>((b[0] << 8) | b[1]);
  out->low = Ld32(b + 2);
  out->high = Ld32(b + 6);
}

int64_t sqli_msg_get_bigint(SqliMessageStream* s) {
  unsigned char b[8];
  sqli_msg_get_bytes(b, 8, s);
  int64_t v = 0;
  ldbigint(&v, b);
  return v;
}

double sqli_msg_get_float(SqliMessageStream* s) {
  unsigned char b[4];
  sqli_msg_get_bytes(b, 4, s);
  return ldmfloat(b, FloatFlag(s));
}

double sqli_msg_get_double(SqliMessageStream* s) {
  unsigned char b[8];
  sqli_msg_get_bytes(b, 8, s);
  return ldmdouble(b, FloatFlag(s));
}

void sqli_msg_get_padded(void* dst, int32_t count, SqliMessageStream* s) {
  if (count <= 0) return;
  sqli_msg_get_bytes(dst, count, s);
  if (count & 1) {
    unsigned char pad;
    sqli_msg_get_bytes(&pad, 1, s);
  }
}

void sqli_msg_get_decimal(Decimal* out, SqliMessageStream* s) {
  int32_t n = sqli_msg_get_ushort(s);
  if (n == 65535) return;
  unsigned char b[18];
  int32_t keep = n < 18 ? n : 18;
  sqli_msg_get_bytes(b, keep, s);
  // The rest of the value and its pad: only the pad for a short value,
  // else an even count, which skip takes exactly.
  int32_t rest = n - keep + (n & 1);
  if (rest == 1) {
    unsigned char pad;
    sqli_msg_get_bytes(&pad, 1, s);
  } else if (rest > 0) {
    sqli_msg_skip(rest, s);
  }
  if (keep > 0) lddecimal(b, keep, out);
}

TV_END_C
