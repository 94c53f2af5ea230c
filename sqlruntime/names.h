// Small shared helpers of the runtime: the string hash table, identifier
// checks, display shortening of names, the database@server split, the
// SQL keyword table, lower-casing, and the process's connected flag.
#pragma once

#include <stdint.h>

#include "platform/api.h"

TV_BEGIN_C

typedef struct SqliHashLink {
  struct SqliHashLink* next;
  void* entry;  // a record whose first field points to its name
} SqliHashLink;

typedef struct SqliHashTable {
  int32_t buckets;
  SqliHashLink** heads;
} SqliHashTable;

int32_t sqli_name_hash(const char* name, int32_t buckets);
SqliHashTable* sqli_hash_new(int32_t buckets);
int sqli_hash_add(SqliHashTable* table, void* entry);
void* sqli_hash_find(SqliHashTable* table, const char* name);
void* sqli_hash_remove(SqliHashTable* table, const char* name);
void sqli_hash_free(SqliHashTable* table);

int sqli_valid_ident(const char* name, const char* delimident, char* out);
void sqli_trunc_name(char* name, int32_t size, int32_t long_flag);
int sqli_split_dbname(const char* name, char* server, int32_t server_size, char* db,
                      int32_t db_size, int32_t* path_flag, int32_t* slash_flag);

int32_t sqli_keyword_lookup(const char* word, int32_t* code, int32_t* cls);
int sqli_is_keyword(const char* word);
// The name of keyword row i (0..579), or null.
const char* sqli_keyword_name(int32_t i);
// 1 before the table is hashed, 0 after.
int32_t sqli_keyword_unbuilt(void);

int sqli_downshift(char* name);
int32_t sqli_get_thread_connected(void);
struct ClientState* sqli_set_thread_connected(int32_t value);

TV_END_C
