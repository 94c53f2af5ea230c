// Names under which the parts of stored objects lie on their media: the
// file of a FILE part, and the expansion of the argument templates of STDIO
// device programs and of CLOUD object names.
//
// Placeholders of a template, tried in this order where an "@" stands:
//   @obj_id@      copy id of the object in decimal
//   @obj_space@   object-space name
//   @obj_name@    path name
//   @obj_name1@   path name with every "/" and "\" made "_"
//   @short_name@  part of the path name chosen by the object kind (below)
//   @obj_path@    path name
//   @obj_part@    part number in decimal
// An "@" that starts no placeholder is copied as it is.
//
// Short name: the path name's components are separated by "/" or "\" (a
// leading separator counts as none). For object kind "C" or "L" it is
// everything after the second component; for any other kind the second
// component (the rest of the name when no separator follows it). A name
// without the separators it needs has no short name.
#pragma once

#include <cstddef>
#include <cstdint>

#include "storage/datapath/xbsa.h"

struct zarHandle;
struct TevVolume;
struct TevObjectDetail;

// Longest expansion, with its terminating NUL.
constexpr size_t kExpandedArgMax = 2048;

// The part's file name: ROOTFILEDIR "/" volume path, file name, "." part
// number, or without ROOTFILEDIR volume path, file name, "." part number.
// 0; 22 for a null argument; 24 when the lengths of ROOTFILEDIR, the
// volume path and the file name plus 19 reach the buffer size.
int zarGenFileName(zarHandle* handle, char* out, int size, const TevVolume* volume,
                   const char* file_name, const TevObjectDetail* detail);

// The template expanded for the object and the part, in a block of malloc
// that the caller frees; null for a null argument, a missing short name, an
// expansion that does not fit kExpandedArgMax bytes, or no memory.
char* expandStdioArg(const char* template_text, const XbsaObjectDescriptor* object,
                     const TevObjectDetail* detail);

// The two builders on plain values (volume path, part number).
int sm_part_file_name(const char* root_dir, const char* volume_path, const char* file_name,
                      int32_t part_number, char* out, size_t size);
char* sm_expand_template(const char* template_text, const XbsaObjectDescriptor* object,
                         int32_t part_number);
