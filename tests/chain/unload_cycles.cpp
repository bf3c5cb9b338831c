// Loads a library of the chain, makes one call through it and frees it,
// again and again, as a display host's setup dialog loads and frees
// display plug-ins:
//   unload_cycles <dll> proxy|plugin <cycles>
// proxy: one LD_GetFirstDevicePosition; plugin: Init, one Write, Done.
// Prints the process's handles, mapped views and private bytes after the
// first and after the last cycle ("handles 41 41", "mapped 8192 8192",
// "private 1234567 1234567"), counted by walking the handle values and the
// address space: Wine answers the system's own counters with 0. Exit
// status 0 when every call was answered, 1 when one was not, 2 when the
// library or an entry point could not be had.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "display_session_entries.h"
#include "proxy_exports.h"

namespace {

struct Footprint {
  unsigned long handles = 0;
  unsigned long long mapped_bytes = 0;
  unsigned long long private_bytes = 0;
};

// Handle values are multiples of 4; the open ones answer GetHandleInformation.
constexpr uintptr_t kHighestHandleLooked = 0x20000;

Footprint Measure() {
  Footprint f;
  for (uintptr_t value = 4; value <= kHighestHandleLooked; value += 4) {
    DWORD flags;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++f.handles;
  }
  MEMORY_BASIC_INFORMATION region;
  for (char* at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;
       at = static_cast<char*>(region.BaseAddress) + region.RegionSize) {
    if (region.State != MEM_COMMIT) continue;
    if (region.Type == MEM_MAPPED) f.mapped_bytes += region.RegionSize;
    if (region.Type == MEM_PRIVATE) f.private_bytes += region.RegionSize;
    if (static_cast<char*>(region.BaseAddress) + region.RegionSize < at) break;
  }
  return f;
}

// One cycle's call; 0 answered, 1 not, 2 no entry point.
int CallProxy(HMODULE dll) {
  ProxyExports proxy;
  if (!proxy.Load(dll)) return 2;
  int32_t position = 0;
  return proxy.first(&position) == -1 ? 1 : 0;
}

int CallPlugin(HMODULE dll) {
  DisplaySessionEntries plugin;
  if (!plugin.Load(dll)) return 2;
  uint8_t ok = 0;
  plugin.init(0, 0, "", &ok);
  if (ok == 1) plugin.write("unload cycle");
  plugin.done();
  return ok == 1 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const bool proxy = strcmp(argv[2], "proxy") == 0;
  const int cycles = atoi(argv[3]);
  Footprint first, last;
  for (int cycle = 1; cycle <= cycles; ++cycle) {
    HMODULE dll = LoadLibraryA(argv[1]);
    if (!dll) return 2;
    const int status = proxy ? CallProxy(dll) : CallPlugin(dll);
    FreeLibrary(dll);
    if (status != 0) {
      printf("cycle %d: %s\n", cycle, status == 1 ? "not answered" : "no entry point");
      return status;
    }
    if (cycle == 1) first = Measure();
    if (cycle == cycles) last = Measure();
  }
  printf("handles %lu %lu\n", first.handles, last.handles);
  printf("mapped %llu %llu\n", first.mapped_bytes, last.mapped_bytes);
  printf("private %llu %llu\n", first.private_bytes, last.private_bytes);
  return 0;
}
