#include "system_error.h"

#include <windows.h>

#include <cstdio>

void FormatSystemError(char* out, size_t out_size, unsigned long code, const char* format) {
  char text[256] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                           MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
  if (n == 0) snprintf(text, sizeof text, "Unknown error\n");
  snprintf(out, out_size, format, static_cast<int>(code), text);
}
