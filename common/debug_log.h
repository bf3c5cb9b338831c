#pragma once
// The module's log file. Two variants share this interface:
//  - debug_log_host.cpp: "Vorn64BitInterface.log", always on, millisecond stamps;
//  - debug_log_lib.cpp: "logs\<module>.log", written only at a non-zero debug level.

#include <cstddef>
#include <cstdint>

#include "compiler.h"

void LogWrite(const char* tag, const char* message);
// LogWrite with a message formed by a printf-style template.
void LogWritef(const char* tag, const char* format, ...) VORN_PRINTF(2, 3);

// Library variant only.
void LogValue(const char* tag, int32_t value);
void LogSetLevel(int32_t level);
void LogClose();
const char* ModuleName();

// The module name within a module path: the last component without its
// ".dll"-style extension of four characters. A component of four characters
// or fewer is kept whole; an empty path gives "module".
void ModuleNameFromPath(const char* path, char* name, size_t name_size);

