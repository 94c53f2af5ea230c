// Flattening of an association's records into a hand-over arena and back
// (the layout is described in asf_flatten.cc). Writers return 0, -406 when
// the arena is full, or -25563 for a record they refuse; readers rebuild
// new records, return 0 or -406, and free what a failing step made.
#pragma once

#include <stdint.h>

#include "connect/asfutil.h"
#include "platform/api.h"

TV_BEGIN_C

// The request records of one association: an initiator's connection
// record and credential (kind 2); a responder's or listener's connection
// record, start request (kind 1) and option list.
typedef struct AsfAssocRecords {
  AsfConnRecord* conn_record;
  SqliConnCred* credential;
  AsfOptionList* option_list;
} AsfAssocRecords;

int asf_flatten_assoc(AsfArena* arena, int32_t kind, const AsfAssocRecords* records);
int asf_unflatten_assoc(AsfArena* arena, int32_t kind, AsfAssocRecords* records);
int asf_flatten_identity(AsfArena* arena, const AsfIdentity* identity);
int asf_unflatten_identity(AsfArena* arena, AsfIdentity* identity);

int asf_flatten_connect_body(AsfArena* arena, const AsfConnRecord* record, int64_t* offset);
int asf_unflatten_connect_body(AsfArena* arena, int64_t offset, AsfConnRecord** record);
int asf_flatten_start_request(AsfArena* arena, const SqliConnCred* cred, int64_t* offset);
int asf_unflatten_start_request(AsfArena* arena, int64_t offset, SqliConnCred** cred);
int asf_flatten_conn_cred(AsfArena* arena, const SqliConnCred* cred, int64_t* offset);
int asf_unflatten_conn_cred(AsfArena* arena, int64_t offset, SqliConnCred** cred);
int asf_flatten_option_list(AsfArena* arena, const AsfOptionList* list, int64_t* offset);
int asf_unflatten_option_list(AsfArena* arena, int64_t offset, AsfOptionList** list);

TV_END_C
