// What running a plug-in in a process of its own costs and spares the
// 32-bit display host (not a test). Run in a folder laid out as the 32-bit
// display host's, with the plug-in either loaded directly or isolated
// (displays\<Name>.dll the isolating bridge, the plug-in in
// displays\<Name>-32bit, the helper beside this program).
//   isolation_bench mediapad <writes>
//     the MediaPad chain (layer, proxy, host program, the pad's stand-in):
//     row write <median> <p99>    a write, in ms
//     row stuck <longest> <calls> the host program's threads suspended:
//                                 the longest write, writes a refresh apart
//                                 for 10 s or until one has returned after
//                                 its wait, and how many were made
//   isolation_bench recording <cue stem>
//     the recording plug-in, its writes blocked by its cue file for 10 s:
//     row blocking <longest> <calls>
#include <windows.h>
// after windows.h, which it needs
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "display_session_entries.h"
#include "host_program_names.h"

namespace {

constexpr DWORD kCallGapMs = 100;  // a display host's refresh
constexpr double kMisbehaveSeconds = 10;

double NowMs() {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct Session {
  DisplaySessionEntries plugin;
  HMODULE module = nullptr;
  int n = 0;

  bool Start(const char* path, const char* parameters) {
    module = LoadLibraryA(path);
    uint8_t ok = 0;
    return plugin.Load(module) && (plugin.init(16, 2, parameters, &ok), ok == 1);
  }
  void Write() {
    char buffer[17];
    snprintf(buffer, sizeof buffer, "write %10d", ++n);
    plugin.set_position(1, 1);
    plugin.write(buffer);
  }
  // Writes a refresh apart for `seconds`; the longest write and the count.
  double WriteFor(double seconds, int* calls) {
    double longest = 0;
    *calls = 0;
    for (const double end = NowMs() + 1000 * seconds; NowMs() < end; Sleep(kCallGapMs)) {
      const double t0 = NowMs();
      Write();
      ++*calls;
      longest = std::max(longest, NowMs() - t0);
    }
    return longest;
  }
  void End() {
    plugin.done();
    FreeLibrary(module);
  }
};

// Every thread of the running host programs, suspended: a host program
// that stops answering, as one stuck in the vendor's library does.
std::vector<HANDLE> SuspendHostPrograms() {
  std::vector<DWORD> pids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS | TH32CS_SNAPTHREAD, 0);
  PROCESSENTRY32 process = {};
  process.dwSize = sizeof process;
  for (BOOL more = Process32First(snapshot, &process); more; more = Process32Next(snapshot, &process))
    if (_stricmp(process.szExeFile, kHostProgram64) == 0) pids.push_back(process.th32ProcessID);
  std::vector<HANDLE> suspended;
  THREADENTRY32 thread = {};
  thread.dwSize = sizeof thread;
  for (BOOL more = Thread32First(snapshot, &thread); more; more = Thread32Next(snapshot, &thread)) {
    if (std::find(pids.begin(), pids.end(), thread.th32OwnerProcessID) == pids.end()) continue;
    HANDLE handle = OpenThread(THREAD_SUSPEND_RESUME, FALSE, thread.th32ThreadID);
    if (handle && SuspendThread(handle) != static_cast<DWORD>(-1)) suspended.push_back(handle);
  }
  CloseHandle(snapshot);
  return suspended;
}

void Resume(const std::vector<HANDLE>& threads) {
  for (HANDLE thread : threads) {
    ResumeThread(thread);
    CloseHandle(thread);
  }
}

int MediaPad(int writes) {
  Session s;
  if (!s.Start("displays\\QX20481.dll", "")) {
    fprintf(stderr, "the plug-in did not start\n");
    return 1;
  }
  WarmUp([&] { s.Write(); });
  const Spread normal = TimeCalls(writes, [&] { s.Write(); });
  printf("row write %.3f %.3f\n", normal.median_us / 1000, normal.p99_us / 1000);

  const std::vector<HANDLE> threads = SuspendHostPrograms();
  if (threads.empty()) {
    fprintf(stderr, "no host program's thread could be suspended\n");
    return 1;
  }
  int calls = 0;
  const double stuck = s.WriteFor(kMisbehaveSeconds, &calls);
  Resume(threads);
  printf("row stuck %.3f %d\n", stuck, calls);
  s.End();
  return 0;
}

DWORD WINAPI Unblock(void* cue) {
  Sleep(static_cast<DWORD>(kMisbehaveSeconds * 1000));
  DeleteFileA(static_cast<const std::string*>(cue)->c_str());
  return 0;
}

int Recording(const std::string& cue_stem) {
  Session s;
  if (!s.Start("displays\\RecordingDisplay.dll", "p")) {
    fprintf(stderr, "the plug-in did not start\n");
    return 1;
  }
  for (int i = 0; i < 20; ++i) s.Write();
  const std::string cue = cue_stem + ".block";
  HANDLE file = CreateFileA(cue.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "could not make %s\n", cue.c_str());
    return 1;
  }
  CloseHandle(file);
  // The device is back after the blocking spell, whoever is waiting on it.
  HANDLE unblock = CreateThread(nullptr, 0, Unblock, const_cast<std::string*>(&cue), 0, nullptr);
  int calls = 0;
  const double blocking = s.WriteFor(kMisbehaveSeconds, &calls);
  WaitForSingleObject(unblock, INFINITE);
  CloseHandle(unblock);
  printf("row blocking %.3f %d\n", blocking, calls);
  s.End();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc == 3 && strcmp(argv[1], "mediapad") == 0) return MediaPad(std::max(atoi(argv[2]), 20));
  if (argc == 3 && strcmp(argv[1], "recording") == 0) return Recording(argv[2]);
  fprintf(stderr, "usage: isolation_bench mediapad <writes> | recording <cue stem>\n");
  return 2;
}
