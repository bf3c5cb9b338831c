#include <cstdarg>
#include <cstdio>

#include "debug_log.h"
#include "step_times.h"

void LogWritef(const char* tag, const char* format, ...) {
  VORN_STEP(kStepLog);
  // Large enough for the longest message the system forms: a 255-character
  // system error text behind "Error %d - ".
  char message[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(message, sizeof message, format, args);
  va_end(args);
  LogWrite(tag, message);
}
