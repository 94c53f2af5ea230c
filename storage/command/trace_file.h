// Trace files: named files or standard streams that take one formatted,
// tagged, optionally time-stamped line at a time. Processes share a file
// through a whole-file lock taken around every line, so lines of concurrent
// writers never interleave.
//
// The open trace files are kept per thread: a handle opened on one thread
// writes nothing on another. Records stay, and files stay open, until the
// process ends or the thread closes them (close_trace_file).
#pragma once

#include <cstddef>
#include <cstdint>

struct TraceFile {
  char name[264];     // the path, or "stderr" / "stdout"
  int64_t handle;     // the file descriptor
  int32_t level;      // lines of a lower level are not written
  char tag[1024];     // put in front of every line; empty means none
  uint8_t timestamp;  // 1: the local time in front of every line
  uint8_t standard;   // a standard stream: written without the lock
};

// Opens a trace file for the calling thread. "stderr" and "stdout" name the
// standard streams (each open takes a descriptor of its own, so every
// record keeps its own tag and level); any other name is opened or created
// for appending. Returns 0 with the handle, -1 when memory fails; when the
// file cannot be opened the handle is -1 and the result the errno (>= 0).
int open_trace_file(const char* name, int32_t level, int64_t* handle, const char* tag,
                    int timestamp);
// Closes a file the calling thread opened and forgets its record, so that a
// thread that ends leaves neither behind. Unknown handles are ignored.
void close_trace_file(int64_t handle);
// The calling thread's record of a handle, or null.
TraceFile* find_trace_file(int64_t handle);
// Sets the level of a file; unknown handles are ignored.
void set_trace_level(int64_t handle, int32_t level);
// Appends the text under the whole-file lock (none for standard streams).
int write_trace_line(int64_t handle, const char* text);

// Formats and writes one line: " " [time " "] [tag " "] text "\n". A format
// whose first "%" is followed by a digit 1-9 takes up to nine text
// arguments placed by "%1".."%9" ("%%" is a percent sign); any other format
// is a printf format. With a non-zero os_error a second line holds the
// system's text for it.
void trace_message(int64_t handle, int32_t level, int os_error, const char* format, ...);
// Writes a text as it stands (no formatting) as one line.
void trace_text(int64_t handle, int32_t level, int os_error, const char* text);

// The current local time as "%Y-%m-%d %H:%M:%S" followed by ".000000" when
// that fits; returns the length, or 0 when the fraction did not fit (the
// 19-character time then stays in the buffer) or the time failed.
int get_timestamp_text(char* buffer, size_t size);
// The same for a given time (seconds since 1970, the full 64 bits).
int format_timestamp_text(int64_t seconds, char* buffer, size_t size);
