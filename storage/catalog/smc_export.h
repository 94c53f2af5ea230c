// The catalog's text copy: EXPORT writes every table into an unload file of
// the export directory, IMPORT loads seven of them back into a catalog that
// the importing session has just created.
//
// Export directory: "tev_catalog.exp" in the current directory, one file
// "<table>.unl" per table (lock, serial, session, pool, object_path,
// object, object_detail, volume, device). An existing directory is first
// renamed with the suffix ".%Y%m%d.%H%M%S" and never replaced. The files'
// lines are unload lines (smc_unload.cc): every column followed by '|',
// the last one too, then a line feed. A line may be of any length.
//
// A character value that holds '|' or a line feed would load back as
// another row or not at all: EXPORT refuses such a table (its file is
// removed, the operator is told the table, column and row) rather than
// write a line that does not load back unchanged.
#pragma once

#include <cstdint>
#include <cstdio>

struct zarHandle;

inline constexpr char kExportDirectory[] = "tev_catalog.exp";

// 0; -1 when the directory cannot be made or renamed, or a table's file
// cannot be written in full (that file is removed).
int zarCatalogExport(zarHandle* handle);
// Loads serial, pool, object_path, object, object_detail, volume and
// device, each after erasing the table's rows; lock and session keep the
// new catalog's rows. 0; 3 without configuration; -1; or the failure of an
// erase or load.
int zarCatalogImport(zarHandle* handle);
// Deletes every row of a table open in the handle. 0; 3 bad id or no
// memory; 17 nothing to position on; 19 an ISAM failure.
int zarCatalogTableErase(zarHandle* handle, int32_t id);
// Writes one row per unload line of the stream into the table open in the
// handle. 0; -1.
int zarCatalogTableLoad(zarHandle* handle, int32_t id, FILE* stream, char delimiter);
