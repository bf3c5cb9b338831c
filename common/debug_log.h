#pragma once
// The module's log file. Two variants share this interface:
//  - debug_log_host.cpp: "Vorn64BitInterface.log", always on, millisecond stamps;
//  - debug_log_lib.cpp: "logs\<module>.log", written only at a non-zero debug
//    level; what only it has is in library_log.h.
// LogWrite and the names in library_log.h are the system's own.

#include <cstddef>
#include <cstdint>

#include "compiler.h"

void LogWrite(const char* tag, const char* message);
// LogWrite with a message formed by a printf-style template.
void LogWritef(const char* tag, const char* format, ...) VORN_PRINTF(2, 3);
