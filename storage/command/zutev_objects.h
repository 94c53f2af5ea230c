// The object commands DEL and DUMP of zutev, which work through the
// storage-manager API as a backup client does: a session of their own, one
// transaction, one object after the other.
#pragma once

struct TypedList;

// Deletes the listed objects in one transaction: 0; 1 when a delete
// failed (the others are still deleted); tevInit's failure code.
int zutevDeleteObjects(TypedList* ids);
// Writes each listed object into a file of the current directory named
// after its path name and id: 0 when the last object handled was written
// whole, else that object's failure code; tevInit's failure code; 3
// without configuration; 19 without memory for the transfer buffer.
int zutevDumpObjects(TypedList* ids);

// The dump file name of an object: its path name without the first
// character, "." and the id, with every "\" and "/" made "_" so that the
// file always lies in the current directory.
void zutevDumpFileName(const char* path_name, unsigned long long id, char* out, unsigned size);
