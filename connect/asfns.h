// The name service: turns what a caller named into a list of concrete
// server entries, from the connection-configuration file (sqlhosts), the
// DBPATH search list and local databases; the buffered text stream these
// files and the trust files are read with; and the trust files (.netrc,
// hosts.equiv) with the peer trust check of the accepting side.
#pragma once

#include <stdint.h>

#include "connect/asf_assoc.h"
#include "platform/api.h"

TV_BEGIN_C

// A buffered text stream over one open file.
typedef struct AsfTextStream {
  unsigned char* buffer;  // 4096 bytes
  int32_t size;           // 4096
  int32_t position;       // next byte; -1 forces a fill
  uint8_t last;           // byte last delivered; 255 at end of input
  int32_t cls;
  int64_t fd;
} AsfTextStream;

AsfTextStream* asf_stream_open(const char* path, const char* mode, int32_t cls);
// Characters in the line (at most `limit` stored, then a NUL), or -1 at end.
int asf_stream_read_line(AsfTextStream* stream, char* buf, int32_t limit);
// Characters in the next white-space separated word (at most size-1
// stored), or -1 at end. A null buffer skips the word.
int asf_stream_read_word(AsfTextStream* stream, char* buf, int32_t size);
int asf_stream_close(AsfTextStream* stream);

// One parsed line of the connection-configuration file.
typedef struct SqlhostsRaw {
  char name[129];
  char nettype[17];
  char server_type[9];
  char protocol[9];
  char host[257];
  char service[129];
  char options[513];
  struct SqlhostsRaw* next;
} SqlhostsRaw;

AsfTextStream* sqlhosts_open(int32_t cls);
// 0 with the next line that is not a comment, -1 at end of file.
int sqlhosts_read_entry(AsfTextStream* stream, SqlhostsRaw* raw);
// 0 when found and valid; -25553, -25554, -25555, -25556, -25560, -25596.
int sqlhosts_find(AsfTextStream* stream, const char* name, SqlhostsRaw* raw);
// Parses "name|nettype|host|service|options"; cuts text at its first bar.
int sqlhosts_parse_inline(char* text, SqlhostsRaw* raw);
int sqlhosts_expand_group(AsfTextStream* stream, const char* group, SqlhostsRaw* group_raw,
                          int32_t* count, SqlhostsRaw** first);
// Parses the options text of a raw entry: 0, -27004, -406.
int sqlhosts_apply_options(const SqlhostsRaw* raw, AsfServerOptions* options);
// 1 when the raw entry is a valid line.
int sqlhosts_valid(const SqlhostsRaw* raw);
// Frees the allocated texts of an option record.
void sqlhosts_free_options(AsfServerOptions* options);

// Resolves a target into a server list: 0 with the list, or -1 with the
// error in the control block (source "asfns.c") and the list null.
int asfns_resolve(AsfControlBlock* cb, int32_t no_dbpath, AsfCredentials* credentials,
                  AsfTarget* target, AsfServerList** list, AsfOptionList* env_list,
                  uint32_t* flags);

// Splits a target text into server and database: 0, -906, -909.
int asfns_split_target(const char* text, int allow_at, char* server, char* database);

// .netrc of the current directory: 0 with a login (the user when none was
// found) and the password found (empty when none), -1 when the file
// cannot be opened.
int netrc_open(const char* host, const char* user, char* login, char* password);
int netrc_lookup(AsfTextStream* stream, const char* host, char* login, char* password);

// hosts.equiv: 1 trusted, 0 not.
int hostsequiv_check(const char* user, int32_t uid, void* ignored, const char* host,
                     const uint8_t* flags);
int hostsequiv_read(const char* path, const char* host, const char* user);
// Moves the hosts.equiv file of this process (null: the system's).
void asf_set_hostsequiv_path(const char* path);
int asf_trust_declared_host(const AsfIdentity* identity, const char* host, const char* user,
                            int32_t uid, void* ignored, const uint8_t* flags);
// 0 trusted; -951, -954, -956.
int asf_trust_check(const char* user, const char* password, const char* host,
                    const uint8_t* flags, int32_t* uid, int32_t* gid, char* message,
                    const AsfIdentity* identity, int32_t password_flag);

// The peer credential record chkInternet reads.
typedef struct AsfPeerCred {
  int32_t kind;
  char* user;
  char* password;
  uint32_t trust_flags;
} AsfPeerCred;

TV_API int chkInternet(AsfPeerCred* peer, const char* host, const AsfIdentity* identity,
                       const uint8_t* security, void* unused, int32_t password_flag,
                       int32_t* uid, int32_t* gid, char** message);

TV_END_C
