// Host variant of the log: "Vorn64BitInterface.log" (the 32-bit build:
// "Vorn32BitInterface.log") in the current directory.

#include <cstdio>
#include <cstring>
#include <ctime>

#include "debug_log.h"
#include "host_log.h"
#include "log_clock.h"
#include "step_times.h"

namespace {

struct HostLog {
  FILE* file;
  int32_t opened;
  bool append;
};
HostLog g_log;

void LogOpen(const char* path) {
  if (g_log.opened == 1) return;
  g_log.opened = 1;  // the opening line below must not open again

  LogTime opening;
  LogNow(&opening);

  g_log.file = fopen(path, g_log.append ? "a" : "w");
  if (!g_log.file) {
    g_log.opened = 0;  // the next line tries again
    return;
  }
  fputs("===================================================================\n", g_log.file);
  fflush(g_log.file);

  char when[64];
  strftime(when, sizeof when, "%d/%m/%y %H:%M:%S", &opening.local);
  LogWrite("Log file Opened at", when);
}

}  // namespace

void LogKeepEarlierLines() { g_log.append = true; }

void LogWrite(const char* tag, const char* message) {
  VORN_STEP(kStepLog);
  LogOpen(kHostLogFile);
  if (!g_log.file) return;

  LogTime now;
  LogNow(&now);
  char time_of_day[16];
  strftime(time_of_day, sizeof time_of_day, "%H:%M:%S", &now.local);
  // The prefix holds 255 characters; a longer tag is cut so that the
  // separating space is never lost.
  char prefix[256];
  snprintf(prefix, sizeof prefix, "%s.%03hu %.241s ", time_of_day, now.milliseconds, tag);
  fprintf(g_log.file, "%s%s\n", prefix, message);
  fflush(g_log.file);
}
