// What a crash behind the display costs the display host (not a test):
// built in both trees, run in a folder laid out as the display host's with
// the shipped chain (tools/bench.sh lays out one for each build):
//   recovery_bench <rounds> <plug-in>
// prints "row <name> <median ms> <p99 ms>" for:
//   floor         starting start_peer.exe (this build's bitness) until it signals;
//   cold          Init and the first write, with no host program running;
//   write         one write, everything running;
//   replay        Done, Init and a write, everything running: what a new
//                 helper is given back;
//   host_crash    the write after the host program was ended, from the end
//                 to the answer;
//   helper_crash  the same after the 64-bit plug-in's helper was ended
//                 (where a helper lies beside this program).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "display_session_entries.h"
#include "host_harness.h"
#include "test_support.h"

namespace {

constexpr char kHostTail[] = "\\Vorn64BitInterface.exe";
constexpr char kHelperTail[] = "\\QX20481Bridge32.exe";

void Row(const char* name, const std::vector<double>& us) {
  const Spread spread = SpreadOf(us);
  printf("row %s %.2f %.2f\n", name, spread.median_us / 1000, spread.p99_us / 1000);
}

// From the start of a bare process to its signal.
std::vector<double> Floor(int rounds) {
  std::vector<double> us;
  const std::string peer = vt::ProgramDirectory() + "start_peer.exe";
  for (int i = 0; i < rounds; ++i) {
    const std::string name = vt::UniqueName("VornBenchStarted");
    HANDLE started = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
    std::vector<double> one = TimeEach(1, [&] {
      vt::ChildProcess child = vt::StartChild("\"" + peer + "\" " + name);
      WaitForSingleObject(started, 10000);
      if (child.process) vt::WaitChild(child, 10000);
    });
    us.push_back(one[0]);
    CloseHandle(started);
  }
  return us;
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc != 3) return 2;
  const int rounds = atoi(argv[1]);
  Row("floor", Floor(rounds));

  vt::KillProcesses(kHostTail);
  HMODULE module = LoadLibraryA(argv[2]);
  DisplaySessionEntries plugin;
  if (!module || !plugin.Load(module)) {
    fprintf(stderr, "%s did not load\n", argv[2]);
    return 1;
  }
  uint8_t ok = 0;
  int n = 0;
  auto write = [&] {
    char text[17];
    snprintf(text, sizeof text, "line %11d", ++n);
    plugin.set_position(1, 1);
    plugin.write(text);
  };
  Row("cold", TimeEach(1, [&] {
        plugin.init(16, 2, " ", &ok);
        write();
      }));
  if (ok != 1) {
    fprintf(stderr, "Init failed\n");
    return 1;
  }
  Row("write", TimeEach(rounds, write));
  Row("replay", TimeEach(rounds, [&] {
        plugin.done();
        plugin.init(16, 2, " ", &ok);
        write();
      }));
  std::vector<double> host_crash, helper_crash;
  for (int i = 0; i < rounds; ++i) {
    vt::KillProcesses(kHostTail);
    host_crash.push_back(TimeEach(1, write)[0]);
  }
  Row("host_crash", host_crash);
  if (vt::FileExists(vt::ProgramDirectory() + "QX20481Bridge32.exe")) {
    for (int i = 0; i < rounds; ++i) {
      vt::KillProcesses(kHelperTail);
      helper_crash.push_back(TimeEach(1, write)[0]);
    }
    Row("helper_crash", helper_crash);
  }
  plugin.done();
  FreeLibrary(module);
  return 0;
}
