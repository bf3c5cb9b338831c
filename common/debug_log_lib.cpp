// Library variant of the log: "logs\<module>.log" under the current
// directory, written only while the debug level is non-zero.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "library_log.h"
#include "log_clock.h"
#include "module_path.h"
#include "step_times.h"

namespace {

struct LibraryLog {
  FILE* file;
  bool open_attempted;  // set for the whole open cycle, until LogClose
  int32_t level;
  bool name_known;
  char module_name[256];
};
LibraryLog g_log;

constexpr char kRule[] = "===================================";  // 35 '='

void WriteFrame(const char* middle_tag) {
  LogWrite(kRule, kRule);
  LogWrite(middle_tag, ModuleName());
  LogWrite(kRule, kRule);
}

void LogOpen() {
  if (g_log.open_attempted) return;
  g_log.open_attempted = true;
  CreateDirectoryA("logs", nullptr);  // usually exists already
  char path[256];
  snprintf(path, sizeof path, "logs\\%s.log", ModuleName());
  g_log.file = fopen(path, "w");
  if (!g_log.file) {
    fputs("Failed to open ini file", stdout);
    fflush(stdout);
  }
  WriteFrame("Log File opened for ");
}

}  // namespace

void LogWrite(const char* tag, const char* message) {
  VORN_STEP(kStepLog);
  LogOpen();
  if (g_log.level == 0) return;
  if (!g_log.file) return;
  LogTime now;
  LogNow(&now);
  char stamp[20];
  strftime(stamp, sizeof stamp, "%H:%M:%S %d/%m/%y", &now.local);
  fprintf(g_log.file, "%s %s %s\n", stamp, tag, message);
  fflush(g_log.file);
}

void LogValue(const char* tag, int32_t value) {
  char text[32];  // "0x80000000 (-2147483648)" takes 24 characters and its NUL
  snprintf(text, sizeof text, "0x%08x (%d)", static_cast<unsigned>(value), static_cast<int>(value));
  LogWrite(tag, text);
}

void LogSetLevel(int32_t level) { g_log.level = level; }

void LogClose() {
  if (!g_log.open_attempted) return;
  WriteFrame("Log File closed for ");
  g_log.open_attempted = false;
  if (g_log.file) {
    fclose(g_log.file);
    g_log.file = nullptr;
  }
}

void ModuleNameFromPath(const char* path, char* name, size_t name_size) {
  if (name_size == 0) return;
  const char* start = path ? strrchr(path, '\\') : nullptr;
  start = start ? start + 1 : path;
  size_t length = start ? strlen(start) : 0;
  if (length == 0) {
    snprintf(name, name_size, "module");
    return;
  }
  if (length > 4) length -= 4;  // the extension with its dot
  if (length >= name_size) length = name_size - 1;
  memcpy(name, start, length);
  name[length] = '\0';
}

const char* ModuleName() {
  if (g_log.name_known) return g_log.module_name;
  char path[1024];
  ThisModulePath(path, sizeof path);
  ModuleNameFromPath(path, g_log.module_name, sizeof g_log.module_name);
  g_log.name_known = true;
  return g_log.module_name;
}
