// Small utilities of the storage manager: memory, white space, string
// hashing and time texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

// A zero-filled block of at least one byte, or null after writing
// "malloc() failure\n" to standard error.
void* sm_zalloc(size_t size);
// Frees the block a pointer variable holds and sets the variable to null;
// the usual destroy callback of lists.
void sm_free(void** pointer);

// White space: blank, tab, line feed, vertical tab, form feed, carriage
// return; a byte of 128 or more never is.
bool sm_is_blank(char c);
// Cuts trailing white space in place; the new length when something was
// cut, otherwise 0 (also for null).
int sm_trim_trailing(char* text);
// The first character that is not white space (null for null).
char* sm_skip_blanks(char* text);

// h = 7877; h = h * 7919 + c for every character taken as a signed byte,
// wrapping at 64 bits.
uint64_t sm_hash_string(const char* text);

// The local calendar fields of a 64-bit time, or null when it cannot be
// converted.
// The account record of a user id: a copy of what os_userbyuid gives,
// or null when the id has no account. The buffer arguments are unused.
struct OsUserEntry* sm_getpwuid(uint16_t uid, struct OsUserEntry* out, char* buffer, size_t size);

struct tm* sm_localtime(const int64_t* seconds, struct tm* out);
// "YYYY-MM-DD HH:MM:SS" of a broken-down time; null when size < 20.
char* sm_format_time(const struct tm* time, char* buffer, size_t size);
// Appends "." and the local time as "%Y%m%d.%H%M%S" to the text held in a
// buffer of the given size; -1 (text unchanged) when fewer than 20 bytes
// of the buffer are free.
int sm_timestamp_suffix(char* text, size_t size);
