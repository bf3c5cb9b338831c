#pragma once

#include <cstddef>

// Formats `format` (which takes an int and a string, "Error %d - %s") with a
// Win32 error code and the system's text for it, exactly as FormatMessageA
// gives it, line end included. A code the system has no text for gets
// "Unknown error" followed by a line end.
void FormatSystemError(char* out, size_t out_size, unsigned long code, const char* format);
