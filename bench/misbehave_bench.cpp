// What a bridged plug-in that misbehaves costs the 64-bit display host (not
// a test). Run in a folder laid out as the 64-bit display host's, with the
// recording plug-in bridged: displays\RecordingDisplay.dll (the 64-bit
// bridge), displays\RecordingDisplay-32bit\RecordingDisplay.dll and the
// helper beside this program. Its cue files (recording_display.cpp) make
// each Write fault, crash the helper, or block.
//   misbehave_bench <writes> [normal]
// prints rows "row <name> <figures...>", in milliseconds:
//   write <median> <p99>                       a normal write
//   faulting <median> <longest>                every write faults, taken in the helper
//   crashing <longest> <starts a minute>       every new helper ends at its first write
//   blocking <longest>                         every write blocks until the device is back
//   back <ms>                                  from the device back to the plug-in showing the current screen
// With "normal" only the first row (a bridge of another build, for comparison).
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "display_session_entries.h"

namespace {

constexpr char kCue[] = "displays\\RecordingDisplay-32bit\\RecordingDisplay";
constexpr char kCalls[] = "RecordingDisplay.calls";
constexpr char kLog[] = "logs\\RecordingDisplay.bridge.log";
constexpr DWORD kCallGapMs = 100;  // a display host's refresh

double NowMs() {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void Cue(const char* kind, bool on) {
  const std::string path = std::string(kCue) + kind;
  if (!on) {
    DeleteFileA(path.c_str());
    return;
  }
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

// Lines of a file that hold `part`.
int CountLines(const char* path, const char* part) {
  FILE* file = fopen(path, "r");
  if (!file) return 0;
  char line[1024];
  int n = 0;
  while (fgets(line, sizeof line, file))
    if (strstr(line, part)) ++n;
  fclose(file);
  return n;
}

// The last Write the plug-in recorded.
std::string LastWrite() {
  FILE* file = fopen(kCalls, "r");
  if (!file) return "";
  char line[1024];
  std::string last;
  while (fgets(line, sizeof line, file))
    if (strncmp(line, "Write ", 6) == 0) last = line;
  fclose(file);
  return last;
}

struct Session {
  DisplaySessionEntries plugin;
  int n = 0;
  std::string text;

  void Write() {
    char buffer[17];
    snprintf(buffer, sizeof buffer, "write %10d", ++n);
    text = buffer;
    plugin.set_position(1, 1);
    plugin.write(buffer);
  }
  // Writes a display host's refresh apart for `seconds`; the longest call.
  double WriteFor(double seconds) {
    double longest = 0;
    for (const double end = NowMs() + 1000 * seconds; NowMs() < end; Sleep(kCallGapMs)) {
      const double t0 = NowMs();
      Write();
      longest = std::max(longest, NowMs() - t0);
    }
    return longest;
  }
};

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  const int writes = argc > 1 ? atoi(argv[1]) : 200;
  const bool normal_only = argc > 2 && strcmp(argv[2], "normal") == 0;
  for (const char* kind : {".fault", ".crash", ".block"}) Cue(kind, false);
  Session s;
  HMODULE module = LoadLibraryA("displays\\RecordingDisplay.dll");
  uint8_t ok = 0;
  if (!s.plugin.Load(module) || (s.plugin.init(16, 2, "p", &ok), ok != 1)) {
    fprintf(stderr, "the bridged plug-in did not start\n");
    return 1;
  }
  WarmUp([&] { s.Write(); });
  const Spread normal = TimeCalls(writes, [&] { s.Write(); });
  printf("row write %.3f %.3f\n", normal.median_us / 1000, normal.p99_us / 1000);

  if (!normal_only) {
    Cue(".fault", true);
    const std::vector<double> faulting = TimeEach(writes, [&] { s.Write(); });
    Cue(".fault", false);
    double longest = 0;
    for (double us : faulting) longest = std::max(longest, us);
    printf("row faulting %.3f %.3f\n", SpreadOf(faulting).median_us / 1000, longest / 1000);

    const int starts_before = CountLines(kLog, "Helper started");
    constexpr double kCrashSeconds = 60;
    Cue(".crash", true);
    const double crashing = s.WriteFor(kCrashSeconds);
    Cue(".crash", false);
    const int starts = CountLines(kLog, "Helper started") - starts_before;
    printf("row crashing %.3f %.1f\n", crashing, starts * 60 / kCrashSeconds);
    s.WriteFor(35);  // past the longest pause: a helper that answers again

    Cue(".block", true);
    const double blocking = s.WriteFor(10);
    Cue(".block", false);
    const double back_at = NowMs();
    double back = -1;
    for (const double end = back_at + 60000; NowMs() < end; Sleep(10)) {
      s.Write();
      if (LastWrite().find(s.text) != std::string::npos) {
        back = NowMs() - back_at;
        break;
      }
    }
    printf("row blocking %.3f\n", blocking);
    printf("row back %.3f\n", back);
  }
  s.plugin.done();
  FreeLibrary(module);
  return 0;
}
