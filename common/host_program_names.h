#pragma once
// The host program's file names: the proxy starts the first on 64-bit
// Windows and the second on 32-bit Windows, where the vendor library is
// 32-bit.

#include <cstdio>

constexpr char kHostProgram64[] = "Vorn64BitInterface.exe";
constexpr char kHostProgram32[] = "Vorn32BitInterface.exe";

// The mutex that the one running host program holds for its life,
// "<section>.Host": a host that finds it held leaves the section to its
// holder. A launcher whose started host ended before it was ready looks at
// it too, to tell a start that failed from one that found the section
// served already.
constexpr char kHostMutexSuffix[] = ".Host";

// The event a host program sets once it has opened the section and bound
// the vendor library (or failed to), and resets and closes before it stops
// serving at its idle exit: "<section>.Ready.<its process id>",
// manual-reset. A host that cannot open the section never sets it, nor does
// one that leaves the section to another host. The launcher waits for it,
// or for the host's end, rather than a fixed second; a host that never
// sets it still gets the whole second. Named after the process, so that a
// host that ended leaves nothing set that a new one could be taken for.
inline bool HostReadyEventName(const char* section, unsigned long process_id, char* name, size_t size) {
  const int n = snprintf(name, size, "%s.Ready.%lu", section, process_id);
  return n > 0 && static_cast<size_t>(n) < size;
}
