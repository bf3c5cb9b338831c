#pragma once
// The full path of the module (DLL or program) that this code is linked
// into: each deliverable links its own copy.

#include <cstddef>

// Fills `path` (NUL-terminated) and returns its length; 0 with an empty
// path when the system cannot say, or the path does not fit.
size_t ThisModulePath(char* path, size_t size);
