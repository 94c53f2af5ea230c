// Creation of the file that holds a stored part on a FILE device.
#pragma once

// openSubDir's answer when the file exists already.
enum : int { SM_PART_FILE_EXISTS = -88038 };

// Makes the missing directories of the path (mode plus 0110, so 0770 for
// files of 0660) and creates the file with the flags and the mode, never
// opening one that exists: creation and the existence test are one step,
// so of two writers racing for a name exactly one gets it. The descriptor
// (close-on-exec); SM_PART_FILE_EXISTS when the file exists; -1 for a null
// path, a directory that cannot be made, or another failure of the open.
int openSubDir(const char* path, int flags, int mode);
