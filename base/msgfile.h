// Message files and message lookup of the client libraries.
//
// Every operator or user text is a number. Its text lies in a message file
// (".vqm") of the language directory under $TARVELONDIR/msg; the range
// table maps the magnitude of a number to its file. The layout of the files
// is the table at the top of tools/msgc/vqm_format.h, which writes them.
//
// The reader keeps its state in the thread's ThreadRuntimeRecord: the open
// file stays open between lookups (unless ZEL_FREE_FD is set) and the index
// page read last stays in memory, so a number near the last one asked for
// needs no index read.
//
// Results: 0 success, -406 no thread record, -1 no memory (or message
// 32765/32766 itself unavailable), -1227 no message file could be opened,
// -1228 the number is not in the file, -1229 not a message file, -1230 no
// room for the path, -1231 the file is cut short (index page or text),
// -1232 the buffer was too small and the text was cut, or a negative locale
// start-up error.
#pragma once

#include <stdint.h>

#include "platform/api.h"

#ifdef __cplusplus
#include <atomic>
#endif

TV_BEGIN_C

#define MSG_ENOTHREAD (-406)
#define MSG_ENOOPEN (-1227)
#define MSG_ENOTFOUND (-1228)
#define MSG_EBADMAGIC (-1229)
#define MSG_ENOPATH (-1230)
#define MSG_ESHORT (-1231)
#define MSG_ECUT (-1232)

// The two numbers whose texts the lookup falls back on: "cannot open
// message file '%s'" and "unknown message number '%d'".
#define MSG_NOFILE_NUMBER 32765
#define MSG_UNKNOWN_NUMBER 32766

// The message-file name ("tev.vqm", ...) of a number; "os.vqm" for a number
// in no range.
const char* rmsgfilename(int32_t number);

// The path of the message file `file` in the thread's path buffer, or null
// without a thread record, a file name, or room for the path. locale takes
// the place of CLIENT_LOCALE (and of DBLANG and LANG) when not null. The
// chosen language name goes to *lang when lang is not null. When no
// candidate exists the last one tried is returned.
char* rmsgpath(const char* file, const char* locale, const char** lang);
char* rmsgpathname(const char* file);

// Finds number in its file: 0 with *len the text length and *fd the file
// positioned at the text, or an error.
int32_t rmsgfind(int32_t number, int32_t* len, const char* locale, int32_t* fd);

// The text of number into buf (size bytes, terminated), its full length in
// *full_len (may be null). 0, -1232 when cut, or an error with a fallback
// text in buf.
int32_t rmsgget(int32_t number, char* buf, int32_t size, int32_t* full_len, const char* locale);
int32_t rmsgget2(int32_t number, char* buf, int32_t size, int32_t* full_len, const char* locale);
TV_API int32_t rgetmsg(int32_t number, char* buf, int32_t size);
TV_API int32_t rgetlmsg(int32_t number, char* buf, int32_t size, int32_t* full_len);

// A copy of the text without its last byte (the stored line feed), made in
// the thread's message pool and valid until the process ends; null on any
// failure.
char* rldmsg(int32_t number, const char* locale);
char* rldmsg_num(int32_t number);

// The thread's 160-byte message cache holding the text of number (cut to
// 159 bytes, or the fallback text); null without a thread record.
char* rmsgcached(int32_t number);
char* rgetmsgcached(int32_t number);

// The text of a storage-manager message without its line feed, never null:
// when the text cannot be had, "Message N not found.\n" in the calling
// thread's fallback buffer. errno is the same after the call as before.
char* smGetMsg(int32_t number);
// 1 when text points into the calling thread's fallback buffer of smGetMsg
// (its first byte up to and including the byte just past its end).
int smMsgIsFallback(const char* text);

// Rewrites "%lx" as "%p" and "%-lx" as "%-p" in place and returns text; the
// fixed error text "Error in rldmsg_fmtspecxtf() contact tech support\n"
// for a null text or an invalid character (then *status = -406).
char* rldmsg_fmtspecxtf(char* text, int32_t* status);

TV_END_C

#ifdef __cplusplus
// One call site's message text, kept for the life of the process and shared
// by every thread. A text found in the file is stored once; a fallback text
// is never stored, so it is asked for again at every use.
using SmMsgSite = std::atomic<const char*>;

// The site's text: the stored one, or smGetMsg(number) passed through
// rldmsg_fmtspecxtf (and stored when it was found).
const char* smSiteMsg(SmMsgSite* site, int32_t number);

// The text of a message number at this call site.
#define SM_MSG(number)                          \
  ([]() -> const char* {                        \
    static SmMsgSite tv_msg_site_{nullptr};     \
    return smSiteMsg(&tv_msg_site_, (number));  \
  }())
#endif
