// Setting up a file pair: creating its files, writing the header and the
// key-description node of a new file, and loading the header of an
// existing one.
#pragma once

#include <string>

#include "isam/files.h"

namespace isam {

// Creates the ".idx" and then the ".dat" file, neither of which may exist
// yet; 0, or -1 with iserrno and isiocode 33 or 34. An ".idx" file made
// here is removed again when the ".dat" file cannot be made.
int is_createpair(const std::string& name);

// Fills the header of a new file (maximum 0 for fixed-length records),
// takes its figures, makes the pair current and makes node 2 the empty
// key-description node. The header is marked to be written and node 2 stays
// modified in the pool. 0, or -1 with iserrno.
int is_initpair(IsamSharedFile* sf, int minlen, int maxlen, const char* collname);

// Makes an opened pair current, reads and checks its header and takes its
// figures; 0, or -1 with iserrno.
int is_loadpair(IsamSharedFile* sf);

// Writes the current file's modified buffers and, when marked, its header.
int is_flushfile();

}  // namespace isam
