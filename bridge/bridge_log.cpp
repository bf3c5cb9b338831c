// The bridge's log: "logs\<name>.log" under the current
// directory, always on and appended, so that a helper that could not be
// started or had to be replaced is on record whatever the parameters say.
// It writes only such events, a line or two per session.

#include "bridge_log.h"

#include <windows.h>

#include <cstdio>
#include <ctime>

#include "debug_log.h"
#include "log_clock.h"

namespace {
char g_log_name[128];
}

void BridgeLogSetName(const char* name) { snprintf(g_log_name, sizeof g_log_name, "%s", name); }

void LogWrite(const char* tag, const char* message) {
  CreateDirectoryA("logs", nullptr);  // usually exists already
  char path[MAX_PATH];
  snprintf(path, sizeof path, "logs\\%s.log", g_log_name[0] ? g_log_name : kBridgeLogName);
  FILE* file = fopen(path, "a");
  if (!file) return;
  LogTime now;
  LogNow(&now);
  char stamp[20];
  strftime(stamp, sizeof stamp, "%H:%M:%S %d/%m/%y", &now.local);
  fprintf(file, "%s [%lu] %s %s\n", stamp, static_cast<unsigned long>(GetCurrentProcessId()), tag, message);
  fclose(file);
}
