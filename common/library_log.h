#pragma once
// What only the library variant of the log has (debug_log_lib.cpp): the
// proxy library and the plug-in link it, the host program does not.

#include <cstddef>
#include <cstdint>

#include "debug_log.h"

// A value line: the message "0x%08x (%d)" of the value.
void LogValue(const char* tag, int32_t value);
// 0: nothing is written; any other level: lines are written.
void LogSetLevel(int32_t level);
// Writes the closing lines and ends the open cycle; the next line starts a
// new cycle with an emptied file.
void LogClose();
// The module's name, from the file of the module this code is linked into.
const char* ModuleName();

// The module name within a module path: the last component without its
// ".dll"-style extension of four characters. A component of four characters
// or fewer is kept whole; an empty path gives "module".
void ModuleNameFromPath(const char* path, char* name, size_t name_size);
