// The connection request of a new server session in its text and binary
// forms, the tagged trailer and sections both forms carry, the start words,
// and the layer's base64 variant used for the trailer and for packet
// headers in text mode.
//
// Fields of the binary forms are big-endian. A "text" is a 16-bit length
// that counts the terminating NUL (0: no text) followed by the bytes and
// the NUL; on reading, a length of 0 or with its top bit set is no text.
//
// Trailer header 'm' (tag 0x006D):
//   0 tag, 2 session-layer value (32), 6 server type (8), 14 level (32),
//   18 protocol (8), 26 word (32), 30/34/38 the record's three values,
//   42 program name (12, last byte NUL), 54 text third name, then start
//   kind (16), start flags (32), text start server.
// Binary request record 'e' (after the 16-bit prefix 100; replies 100, 110
// or 111 plus two acceptance bytes):
//   tag 0x0065, level (32), text "IEEEI", tag 0x006C, program name (12),
//   texts first, second, third name, three values (32 each), credential
//   kind (16), texts user and password or four zero bytes, server type (8),
//   level (32), protocol (8), word (32).
// Sections, each opened by a 16-bit tag, after either header:
//   'i' length (16) and raw bytes; 'h' start kind (16), flags (32), six
//   texts; 'f' six setting bytes, three values (16 each), entry count (16),
//   entries {code (16), length (16), bytes}; 'g' count (16), texts;
//   'j' count (16), name and value texts; 'k' first value, process id,
//   second value (32 each), texts host, computer, working directory;
//   'n' length 4 (16), file-creation mask (32); 't' length L (16) = 11 +
//   path length, user id, group id (32 each), text program path;
//   127 the end. An unknown tag is skipped by its 16-bit length.
#pragma once

#include <stdint.h>

#include "connect/asf_records.h"
#include "connect/transport.h"
#include "platform/api.h"

TV_BEGIN_C

#define PF_MAX_WORDS 50
#define PF_PASSWORD_MAX 100  // longest password the text form carries

// The peer's data format: {16, 16, 16, f, f, 0}, f 0 for "IEEEI", 16 for
// any other announcement, 1 for none.
typedef struct PfFormat {
  int32_t words[6];
} PfFormat;

// What the writers put into a request or reply and the readers take out
// of one. Readers allocate the record, credential and option list (freed
// with pf_parts_free); the identity is the caller's.
typedef struct PfParts {
  int32_t tag;                 // 'm' or 'e' header
  int32_t sl_value;            // the session layer's 32-bit value ('m')
  AsfConnRecord* record;
  SqliConnCred* credential;    // kind 1 start request, 2 answer, -1 raw
  AsfOptionList* options;
  AsfIdentity* identity;       // null: none written; reading requires one
  PfFormat format;             // filled by readers
  int32_t level;               // 'e' header level
} PfParts;

// Text request: "sqlexec", login, password word, first and second name,
// start words, "-fIEEEI", the environment words and " :" with the
// trailer, NUL-terminated, written at buf->position within buf->left
// bytes; on success buf->left is its length with the NUL.
int pf_write_request(AsfControlBlock* cb, AsfPacketBuffer* buf, const AsfConnRecord* record,
                     const char* start_words, const PfParts* parts);
// Appends " name=value" to the NUL-terminated text of `capacity` bytes.
int pf_put_env_pair(char* text, int32_t capacity, const char* name, const char* value);
// Splits the NUL-terminated text at buf->position in place: the word
// count, or -1 (no NUL inside the buffer, more than `max` words).
int pf_split_words(AsfPacketBuffer* buf, int32_t max, char** words);
void pf_parse_format(int32_t count, char** words, PfFormat* out);
// Reads the start words from word 4 on into `out` (texts allocated).
int pf_parse_start_option(AsfControlBlock* cb, AsfStartRequest* out, int32_t count,
                          char** words);
// Reads a text request; fills parts (record, kind-1 credential, options,
// the identity, format). 0, or -1 with the first error in cb.
int pf_read_request(AsfControlBlock* cb, AsfPacketBuffer* buf, PfParts* parts);

// The start words of a start request of `kind`: 0, or -1 (-25563 unknown
// kind, -406 no room).
int pf_start_words(AsfControlBlock* cb, int32_t kind, const AsfStartRequest* start, char* out,
                   int32_t size);

// Writes (direction 1) or reads (0) the trailer record at `bytes`, room
// or data `n`: the 'm' header, sections, end. The bytes written or read.
int32_t pf_code_record(AsfControlBlock* cb, int32_t direction, unsigned char* bytes, int32_t n,
                       PfParts* parts);
// Binary request or reply after its 16-bit prefix: the 'e' record with its
// sections and end. Same conventions as pf_code_record.
int32_t pf_code_binary(AsfControlBlock* cb, int32_t direction, unsigned char* bytes, int32_t n,
                       PfParts* parts);

// 1 when a request for this record and options may use the text form.
int pf_text_form_allowed(const AsfConnRecord* record, const SqliConnCred* cred,
                         const AsfOptionList* options);

void pf_parts_free(PfParts* parts);

// Encodes n bytes into the alphabet "A-Za-z0-9._" in the bit grouping of
// standard base64, without padding and without a terminating NUL: a final
// byte gives two characters, two final bytes three. `out` may be `bytes`
// itself (encoding in place); it needs room for ceil(4n/3) characters.
// The number of characters written.
int32_t pf_b64_encode(const unsigned char* bytes, char* out, int32_t n);
// Decodes n characters: four give three bytes, a final two one byte, a
// final three two bytes; a single trailing character is ignored, and a
// character outside the alphabet counts as 0. `out` may be `chars`.
// The number of bytes written.
int32_t pf_b64_decode(const char* chars, unsigned char* out, int32_t n);

TV_END_C
