// Communication support modules: the module configuration (concsm.cfg),
// the module libraries and their csm_init entry point, and the choice of
// the module that a server entry's csm value names.
//
// concsm.cfg (TARVELONCONCSMCFG, else TARVELONDIR/etc/concsm.cfg): one or
// more entries a line, "#" starts a comment.
//   name("library", "global options", "default options")   a definition;
//       the library text is a path, or "key=value,..." whose "server" key
//       is the path
//   name member member ...                                  a compound
#pragma once

#include <stdint.h>

#include "connect/asf_request.h"
#include "platform/api.h"

TV_BEGIN_C

typedef struct CsmStatus {
  int32_t result;
  int32_t error;
  int32_t second;
  char text[256];
} CsmStatus;

// The module's entry table: 80 bytes, version word 3, then the slots
// terminate, start instance, connect step, accept step, encode, decode,
// close step, abort and release buffer.
typedef struct CsmEntryTable {
  int32_t version;
  int32_t reserved;
  void* slots[9];
} CsmEntryTable;

typedef struct CsmBuffer {
  void* data;
  int64_t length;
} CsmBuffer;

typedef struct CsmAllocator {
  void* (*allocate)(size_t size);
  void (*free_)(void* block);
  void* (*reallocate)(void* block, size_t size);
  void (*noop)(void* p, ...);  // asf_noop
} CsmAllocator;

typedef struct CsmBufferTable {
  CsmBuffer* (*new_empty)(void);
  CsmBuffer* (*new_sized)(int64_t n);
  int (*give_bytes)(CsmBuffer* b, int64_t n);
  void (*clear)(CsmBuffer* b);
  void (*free_bytes)(CsmBuffer* b);
  void (*free_all)(CsmBuffer* b);
} CsmBufferTable;

typedef struct CsmServices {
  int32_t version;  // 1
  CsmAllocator* allocator;
  CsmBufferTable* buffers;
  void* null_word;
} CsmServices;

typedef int (*CsmInitFn)(void** module, CsmServices* services, CsmEntryTable* table,
                         const char* global_options, uint32_t* mask, CsmStatus* status);

// One configuration entry; load state 0 not loaded, 1 loaded, 2 failed.
typedef struct CsmConfigEntry {
  char name[32];
  int32_t load_state;
  int32_t stored_error;
  char stored_text[256];
  uint32_t mask;
  char* library;
  char* global_options;
  char* default_options;
  int32_t member_count;
  int32_t* members;  // indexes of a compound's members
  int32_t is_definition;
  CsmInitFn init;
  CsmEntryTable table;
  void* module;
  void* library_handle;
} CsmConfigEntry;

// Loads the configuration once per process: 0, or -1 with the error in
// the control block.
int csm_ensure_config(AsfControlBlock* cb);
int csm_load_config(AsfControlBlock* cb);
int csm_unload_config(void);
int csm_config_loaded(void);
// The entries in file order.
int csm_config_entries(CsmConfigEntry** entries, int32_t* count);
// Loads a module library and finds its csm_init: 0, or -14503 (cannot be
// loaded) or -14511 (no csm_init) with the path as text.
int csm_load_module(AsfControlBlock* cb, const char* path, void** handle, CsmInitFn* init);
// The one module that a csm value ("name" or name, "options") names,
// loaded and initialised: 0 with the entry and the option text to use,
// or -1 with the error in the control block.
int csm_resolve_module(AsfControlBlock* cb, const char* csm_text, CsmConfigEntry** module,
                       char* options, size_t room);
// Records a framework error with its text; always -1.
int csm_set_error(AsfControlBlock* cb, int32_t code, const char* name, long number);

TV_END_C
