#pragma once
// The host program's file names: the proxy starts the first on 64-bit
// Windows and the second on 32-bit Windows, where the vendor library is
// 32-bit.

#include <cstdio>

constexpr char kHostProgram64[] = "Vorn64BitInterface.exe";
constexpr char kHostProgram32[] = "Vorn32BitInterface.exe";

// The event a host program sets once it has opened the section and bound
// the vendor library (or failed to), and keeps open for its life:
// "<section>.Ready.<its process id>", manual-reset. The launcher waits for
// it, or for the host's end, rather than a fixed second; a host that never
// sets it still gets the whole second. Named after the process, so that a
// host that ended leaves nothing set that a new one could be taken for.
inline bool HostReadyEventName(const char* section, unsigned long process_id, char* name, size_t size) {
  const int n = snprintf(name, size, "%s.Ready.%lu", section, process_id);
  return n > 0 && static_cast<size_t>(n) < size;
}
