// The bridge's log: "logs\<kBridgeLogName>.log" under the current
// directory, always on and appended, so that a helper that could not be
// started or had to be replaced is on record whatever the parameters say.
// It writes only such events, a line or two per session.

#include "bridge_log.h"

#include <windows.h>

#include <cstdio>
#include <ctime>

#include "debug_log.h"
#include "log_clock.h"

void LogWrite(const char* tag, const char* message) {
  CreateDirectoryA("logs", nullptr);  // usually exists already
  char path[MAX_PATH];
  snprintf(path, sizeof path, "logs\\%s.log", kBridgeLogName);
  FILE* file = fopen(path, "a");
  if (!file) return;
  LogTime now;
  LogNow(&now);
  char stamp[20];
  strftime(stamp, sizeof stamp, "%H:%M:%S %d/%m/%y", &now.local);
  fprintf(file, "%s [%lu] %s %s\n", stamp, static_cast<unsigned long>(GetCurrentProcessId()), tag, message);
  fclose(file);
}
