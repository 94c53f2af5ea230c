// The SQL message stream of a connection: requests written into the
// connectivity layer's send packet buffers and replies read out of its
// receive packet buffers, through service requests 16 (fresh send buffer),
// 6 (send) and 7 (receive); and the wire primitives of the protocol.
//
// Every integer on the wire is big-endian. Variable-length byte runs are
// padded to an even length, so that a message of 16-bit units stays
// aligned:
//
//   primitive     bytes
//   byte          1
//   short         2, two's complement
//   int           4, two's complement
//   INT8          10: 16-bit sign, low 32 bits, high 32 bits
//   BIGINT        8, two's complement
//   SMALLFLOAT    4, IEEE single: most significant byte first in float
//                 format 1, else in the machine's order
//   FLOAT         8, IEEE double, ordered the same way
//   string        uint16 length L, L bytes, a zero byte when L is odd
//   DECIMAL       uint16 L = digit count + 1, L bytes of the stored form,
//                 a zero byte when L is odd; L 65535 is null, nothing follows
//   TEXT/BYTE     56-byte large-object descriptor
#pragma once

#include <stdint.h>

#include "connect/asf_request.h"
#include "connect/transport.h"
#include "platform/api.h"
#include "sqltypes/decimal.h"
#include "sqltypes/int8.h"
#include "sqltypes/sqlvalue.h"

TV_BEGIN_C

struct SqliConnection;
struct ClientState;

typedef struct SqliMessageStream {
  int32_t receive_count;
  int32_t send_room;
  char* read_cursor;
  char* write_cursor;
  char* receive_start;
  char* receive_base;
  char* send_start;
  char* unsent_start;
  AsfControlBlock cb;
  AsfPacketBuffer* send_buffer;
  AsfPacketBuffer* receive_buffer;
  struct SqliConnection* connection;
  struct ClientState* trace_context;
  int16_t* outstanding;
  uint32_t float_format;  // 1 most significant byte first; 0, 2 native
} SqliMessageStream;

// Values of the break callback.
enum { SQLI_BREAK_WAIT_END = 0, SQLI_BREAK_WAIT_START = 1, SQLI_BREAK_TIMED_OUT = 2 };

int sqli_msg_reset(SqliMessageStream* s);
int sqli_msg_new_sendbuf(SqliMessageStream* s);
int sqli_msg_send(SqliMessageStream* s);
int sqli_msg_receive(SqliMessageStream* s);
int sqli_msg_flush(SqliMessageStream* s);
void sqli_msg_put_bytes(const void* bytes, int32_t count, SqliMessageStream* s);
void sqli_msg_put_raw(const void* bytes, int32_t count, void* s);
void sqli_msg_get_bytes(void* dst, int32_t count, SqliMessageStream* s);
int sqli_msg_fill(void* dst, int32_t count, SqliMessageStream* s);
int32_t sqli_msg_peek_short(SqliMessageStream* s);
void sqli_msg_skip(int32_t count, SqliMessageStream* s);
void sqli_msg_skip_shorts(int32_t count, SqliMessageStream* s);
int sqli_msg_skip_blobs(int32_t count, SqliMessageStream* s);

void sqli_msg_put_byte(int32_t v, SqliMessageStream* s);
void sqli_msg_put_short(int32_t v, SqliMessageStream* s);
void sqli_msg_put_ushort(uint32_t v, SqliMessageStream* s);
void sqli_msg_put_int(int32_t v, SqliMessageStream* s);
void sqli_msg_put_int8(const Int8Value* v, SqliMessageStream* s);
void sqli_msg_put_bigint(int64_t v, SqliMessageStream* s);
void sqli_msg_put_float(double v, SqliMessageStream* s);
void sqli_msg_put_double(double v, SqliMessageStream* s);
void sqli_msg_put_string(const char* text, int32_t length, SqliMessageStream* s);
void sqli_msg_put_padded(const void* bytes, int32_t count, SqliMessageStream* s);
void sqli_msg_put_pad(SqliMessageStream* s);
void sqli_msg_put_decimal(const Decimal* v, SqliMessageStream* s);
void sqli_msg_put_blobdesc(const void* desc56, SqliMessageStream* s);
// A collection or row value with its type description: a 32-bit length,
// the stored form (names 128 bytes wide when the connection's server has
// long identifiers, else 18), a pad byte when the length is odd. 0, or a
// negative code (nothing written).
int sqli_msg_put_complex(SqliCollection* value, SqliMessageStream* s);

int32_t sqli_msg_get_byte(SqliMessageStream* s);
int32_t sqli_msg_get_short(SqliMessageStream* s);
int32_t sqli_msg_get_ushort(SqliMessageStream* s);
int32_t sqli_msg_get_int(SqliMessageStream* s);
void sqli_msg_get_int8(Int8Value* out, SqliMessageStream* s);
int64_t sqli_msg_get_bigint(SqliMessageStream* s);
double sqli_msg_get_float(SqliMessageStream* s);
double sqli_msg_get_double(SqliMessageStream* s);
void sqli_msg_get_padded(void* dst, int32_t count, SqliMessageStream* s);
void sqli_msg_get_decimal(Decimal* out, SqliMessageStream* s);

TV_END_C
