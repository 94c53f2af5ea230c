// The connection request of a new server session, and the layer's base64
// variant used for its trailer and for packet headers in text mode.
#pragma once

#include <stdint.h>

#include "platform/api.h"

TV_BEGIN_C

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
