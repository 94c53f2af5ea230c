// Directory paths: make every missing level, and cut a path to its
// directory part. "/" separates the levels.
#pragma once

// Makes every missing directory of the path, each prefix ending before a
// separator and finally the whole path. An existing directory counts as
// made; an existing entry of another kind is a failure. The mode is not
// used (directories are made 0777 less the process's file-creation mask).
// Returns 0, or -1 after tracing the errno and the prefix that failed.
int sm_mkdirp(const char* path, int mode);

// Cuts the path in place to its directory part: "a/b/c" -> "a/b",
// "a/b/" -> "a", "/x" -> "/", "x" -> ".". Returns the buffer (a constant "."
// for an empty path, which has no room for it).
char* sm_dirname(char* path);
