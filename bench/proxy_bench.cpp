// What the display chain's calls cost under Wine, beside their floors.
// Not a test: tools/bench.sh builds it and runs it under Wine.
//   proxy_bench [calls per function, at least 200; default 2000]
// Four sessions, each a child process of its own: the signalled path and
// the poll-only path (no events on either side), each with the shipped
// timer and with the 15.6 ms timer model (tick_model.h). A session loads
// the benchmark's VornApx.dll, which starts the benchmark's host program
// under the host's name against the emulated pad without file I/O, times
// the four LD_ calls and one DISPLAYDLL_Write through QX20481.dll and the
// stand-in layer, and counts the 1 ms waits that ran out on each side; then
// the same write through the 64-bit QX20481.dll and its helper
// (bridge_bench, a 64-bit program), with the same proxy, host and pad.
// The floors (floor_protocol.h: the plain event ping-pong, and a flag
// passed with 1 ms waits on events or with sleeps) are measured before and
// after the sessions.
// Then three callers side by side, each a process of its own, through the
// same proxy and host, against the echo stand-in (echo_rules.h) with its
// calls counted: the time of each LD_DeviceControl, how many calls reached
// the device library per request, and how many answers were not the ones
// the echo rules give for the caller's own record. The targets close the
// table.
//   proxy_bench --session <calls> <writes>   one session, in the environment its parent set
//   proxy_bench --caller <calls> <tag>       one of the callers side by side; <tag> (1, 2, ...)
//                                            goes into its records
//   proxy_bench --paced <seconds> [poll]     one call a second through the benchmark's proxy and
//                                            host, in a folder of its own (with "poll": the host's
//                                            signals only, as for a caller that only polls); prints
//                                            the host's wake-ups a second between calls
//   proxy_bench --count <calls>              the shipped proxy and host program with one caller,
//                                            then with three callers at once, then the event
//                                            floor and the plain floor, each run between two
//                                            marker events, for a wineserver that traces its
//                                            requests (tools/bench.sh counts each side's requests
//                                            between the markers)
//   proxy_bench --count-caller <calls> <stem>
//                                            one of the three callers of --count, in its folder,
//                                            handing over through the objects named from <stem>
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench_counters.h"
#include "bench_timing.h"
#include "call_count.h"
#include "display_session_entries.h"
#include "echo_rules.h"
#include "floor_protocol.h"
#include "host_harness.h"
#include "pad_protocol.h"
#include "proxy_exports.h"
#include "step_records.h"
#include "test_support.h"

namespace {

const char* const kCallNames[] = {"LD_GetFirstDevicePosition", "LD_GetNextDevicePosition", "LD_DeviceControl",
                                  "LD_GetDeviceInfo",          "DISPLAYDLL_Write",         "DISPLAYDLL_Write64"};

struct Row {
  double median_us = 0, p99_us = 0, proxy_run_out = 0, host_run_out = 0;
};
using Rows = std::map<std::string, Row>;

// ---- one session, in a child process ----

// An LD_DeviceControl record that sets the pad's line to 16 characters.
struct LineCommand {
  int32_t header[6] = {24, 0, 2, kPadLineLength, 0, 0};
  char data[16] = {};
  explicit LineCommand(const char (&text)[sizeof data + 1]) { memcpy(data, text, sizeof data); }
};

const BenchCounters* g_counters;

template <typename Call>
void Measure(const char* name, int calls, Call call) {
  WarmUp(call);
  const LONG proxy_before = g_counters->proxy_run_out, host_before = g_counters->host_run_out;
  const Spread spread = TimeCalls(calls, call);
  printf("row %s %.1f %.1f %.3f %.3f\n", name, spread.median_us, spread.p99_us,
         static_cast<double>(g_counters->proxy_run_out - proxy_before) / calls,
         static_cast<double>(g_counters->host_run_out - host_before) / calls);
}

// The 64-bit display host's folder around the session's chain: the 64-bit
// plug-in in displays\ and the 32-bit one in displays\QX20481-32bit, and
// in the current folder the display host (bridge_bench), its helper and the
// session's proxy, where the layer finds it. bridge_bench's row is passed
// on as this session's.
std::string CurrentFolder() {
  char folder[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof folder, folder);
  return std::string(folder) + "\\";
}

int MeasureBridgeWrite(const std::string& bin, const std::string& bin64, int writes) {
  CreateDirectoryA("displays", nullptr);
  CreateDirectoryA("displays\\QX20481-32bit", nullptr);
  if (!CopyFileA((bin64 + "QX20481.dll").c_str(), "displays\\QX20481.dll", FALSE) ||
      !CopyFileA((bin + "QX20481.dll").c_str(), "displays\\QX20481-32bit\\QX20481.dll", FALSE) ||
      !CopyFileA((bin + "QX20481Bridge32.exe").c_str(), "QX20481Bridge32.exe", FALSE) ||
      !CopyFileA((bin64 + "bridge_bench.exe").c_str(), "bridge_bench.exe", FALSE) ||
      !CopyFileA((bin + "bench\\VornApx.dll").c_str(), "VornApx.dll", FALSE)) {
    fprintf(stderr, "missing build outputs for the 64-bit plug-in\n");
    return 1;
  }
  const vt::ChildRun run = vt::RunChild("\"" + CurrentFolder() + "bridge_bench.exe\" " + std::to_string(writes), "",
                                        "bridge_bench.txt", 600000);
  for (const std::string& line : vt::Lines(run.output))
    if (line.rfind("row ", 0) == 0) printf("%s\n", line.c_str());
  if (run.exit_code != 0) fprintf(stderr, "bridge_bench failed (%d):\n%s\n", run.exit_code, run.output.c_str());
  return run.exit_code == 0 ? 0 : 1;
}

int RunSession(int calls, int writes) {
  const std::string bin = vt::ProgramDirectory();
  const std::string bin64 = vt::Win64BinDirectory();
  vt::KillProcesses(vt::kHostTail);
  vt::ScopedTempDir dir;
  if (!CopyFileA((bin64 + "vorn_bench_host.exe").c_str(), "Vorn64BitInterface.exe", FALSE) ||
      !CopyFileA((bin + "layers\\MediaPadLayer.dll").c_str(), "MediaPadLayer.dll", FALSE) ||
      !vt::InstallVendorLibrary(bin64 + "KHALAPI_nofile.dll")) {
    fprintf(stderr, "missing build outputs in %s or %s\n", bin.c_str(), bin64.c_str());
    return 1;
  }
  HANDLE mapping =
      CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(BenchCounters), kBenchCountersName);
  g_counters = static_cast<const BenchCounters*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
  // Loaded first by path; the layer's later load by name finds this one.
  ProxyExports proxy;
  if (!g_counters || !proxy.Load(LoadLibraryA((bin + "bench\\VornApx.dll").c_str()))) return 1;

  // The first call starts the host program; it is not measured.
  int32_t position = 0;
  proxy.first(&position);
  proxy.next(&position);
  const int32_t device = position;
  Measure("LD_GetFirstDevicePosition", calls, [&] {
    int32_t p = 0;
    proxy.first(&p);
  });
  Measure("LD_GetNextDevicePosition", calls, [&] {
    int32_t p = static_cast<int32_t>(kPadStartPosition);
    proxy.next(&p);
  });
  Measure("LD_DeviceControl", calls, [&] {
    const LineCommand line("Hello benchmark!");
    proxy.control(device, kPadCmdSetLine, &line);
  });
  Measure("LD_GetDeviceInfo", calls, [&] {
    struct {
      int32_t count;
      uint8_t bytes[64];
    } record = {64, {}};
    proxy.info(device, &record);
  });

  DisplaySessionEntries plugin;
  uint8_t ok = 0;
  if (!plugin.Load(LoadLibraryA((bin + "QX20481.dll").c_str())) || (plugin.init(16, 2, " ", &ok), ok != 1)) {
    fprintf(stderr, "the plug-in did not start\n");
    return 1;
  }
  int i = 0;
  Measure("DISPLAYDLL_Write", writes, [&] {
    char text[17];
    snprintf(text, sizeof text, "write %10d", ++i);
    plugin.set_position(1, 1 + (i & 1));
    plugin.write(text);
  });
  plugin.done();
  const int bridge_status = MeasureBridgeWrite(bin, bin64, writes);
  vt::KillProcesses(vt::kHostTail);
  vt::RemoveVendorLibrary();
  return bridge_status;
}

// The benchmark's host program under the host's name in the current
// folder, a stand-in device library that writes no state file at the
// vendor's path (by default the pad, its calls counted), and the counters
// (kept for the life of the process); null when a build output is missing.
BenchCounters* PlaceBenchHost(const char* standin = "KHALAPI_nofile.dll") {
  const std::string bin64 = vt::Win64BinDirectory();
  HANDLE mapping =
      CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(BenchCounters), kBenchCountersName);
  auto* counters = static_cast<BenchCounters*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
  if (!counters || !CopyFileA((bin64 + "vorn_bench_host.exe").c_str(), "Vorn64BitInterface.exe", FALSE) ||
      !vt::InstallVendorLibrary(bin64 + standin))
    return nullptr;
  return counters;
}

// The stand-in device library's count of the calls that reached it (kept
// for the life of the process); null when it cannot be made.
KhalapiCallCount* MakeKhalapiCallCount() {
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(KhalapiCallCount),
                                      kKhalapiCallCountName);
  return static_cast<KhalapiCallCount*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
}

// ---- one of several callers side by side, in a child process ----

constexpr int kSideBySideCallers = 3;
constexpr int kCallerSetUpRequests = 2;  // the enumeration before the timed calls

// An LD_DeviceControl record with 8 bytes of data, for the echo stand-in.
struct TaggedCommand {
  int32_t header[6];
  int32_t data[2];
};

// The caller's tag is in the control word, the record and its data, and
// the call's number in the record and its data: an answer meant for
// another caller, or for another call of this one, differs from the one
// the echo rules give for this call. Each call is timed, and checked
// after the timing ends; prints a "t <us>" line per call, then
// "wrong <answers> of <calls>".
int RunCaller(int calls, int32_t tag) {
  ProxyExports proxy;
  if (!proxy.Load(LoadLibraryA((vt::ProgramDirectory() + "bench\\VornApx.dll").c_str()))) return 1;
  int32_t position = 0;
  proxy.first(&position);  // finds or starts the host; not timed
  proxy.next(&position);
  const int32_t device = position;
  const int32_t code = tag * 1000;
  std::vector<int32_t> expected(static_cast<size_t>(calls)), answers(static_cast<size_t>(calls));
  for (int32_t i = 0; i < calls; ++i) {
    const int32_t words[4] = {32, tag, i, 8};
    const int32_t data[2] = {tag, i};
    expected[i] = EchoControlResult(code, words, reinterpret_cast<const uint8_t*>(data), sizeof data);
  }
  int32_t i = 0;
  const std::vector<double> us = TimeEach(calls, [&] {
    const TaggedCommand record = {{24, tag, i, 8, 0, 0}, {tag, i}};
    answers[i] = proxy.control(device, code, &record);
    ++i;
  });
  long wrong = 0;
  for (int32_t k = 0; k < calls; ++k) wrong += answers[k] != expected[k];
  for (double t : us) printf("t %.1f\n", t);
  printf("wrong %ld of %d\n", wrong, calls);
  return 0;
}

// ---- one call a second, for the cost of staying ready ----

int RunPaced(int seconds, bool caller_polls) {
  const std::string bin = vt::ProgramDirectory();
  vt::KillProcesses(vt::kHostTail);
  vt::ScopedTempDir dir;
  BenchCounters* counters = PlaceBenchHost();
  if (!counters) return 1;
  // A caller that only polls: its proxy opens no events, the host keeps its own.
  if (caller_polls) SetEnvironmentVariableA("VORN_BENCH_SIGNALS", "off");
  ProxyExports proxy;
  if (!proxy.Load(LoadLibraryA((bin + "bench\\VornApx.dll").c_str()))) return 1;
  SetEnvironmentVariableA("VORN_BENCH_SIGNALS", nullptr);
  int32_t position = 0;
  proxy.first(&position);  // starts the host
  Sleep(1000);
  const LONG before = counters->host_wake_ups;
  const DWORD start = GetTickCount();
  for (int i = 0; i < seconds; ++i) {
    Sleep(1000 - (GetTickCount() - start) % 1000);
    proxy.first(&position);
  }
  const double elapsed_s = (GetTickCount() - start) / 1000.0;
  const LONG wake_ups = counters->host_wake_ups - before;
  printf("host wake-ups a second between calls: %.1f (%ld in %.1f s, %d calls)\n", (wake_ups - seconds) / elapsed_s,
         wake_ups, elapsed_s, seconds);
  vt::KillProcesses(vt::kHostTail);
  vt::RemoveVendorLibrary();
  return 0;
}

// ---- where a call's time goes, in a child process ----

// LD_DeviceControl through a step-timed proxy and host program (both from
// bench/step_times.cpp; the host under the host's name, as the proxy
// starts it), against the emulated pad without file I/O. Each step's time
// is given less the clock's own share (by what an entry costs, as its side
// measured it, half of it at each edge). Prints
//   whole <median us> <p99 us>                       the calls as timed here
//   clock <side> <ns an entry> <us a call>           the clock's share of a call
//   step <side> <step> <median us> <mean us> <entered per call>
//   total <side> <median us> <mean us> <calls>       the sum of a call's steps
int RunSteps(int calls, const std::string& proxy_dll, const std::string& host_exe) {
  vt::KillProcesses(vt::kHostTail);
  vt::ScopedTempDir dir;
  HANDLE mapping =
      CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(StepRecords), kStepRecordsName);
  auto* records = static_cast<StepRecords*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
  if (!records || !CopyFileA(host_exe.c_str(), "Vorn64BitInterface.exe", FALSE) ||
      !vt::InstallVendorLibrary(vt::Win64BinDirectory() + "KHALAPI_nofile.dll")) {
    fprintf(stderr, "missing %s, or the stand-in device library\n", host_exe.c_str());
    return 1;
  }
  ProxyExports proxy;
  if (!proxy.Load(LoadLibraryA(proxy_dll.c_str()))) {
    fprintf(stderr, "could not load %s\n", proxy_dll.c_str());
    return 1;
  }
  int32_t position = 0;
  proxy.first(&position);  // starts the host
  proxy.next(&position);
  const int32_t device = position;
  const LineCommand line("Hello benchmark!");
  auto call = [&] { proxy.control(device, kPadCmdSetLine, &line); };
  WarmUp(call);
  for (StepSideRecords& side : records->side) InterlockedExchange(&side.calls, 0);
  const Spread whole = TimeCalls(calls, call);
  printf("whole %.2f %.2f\n", whole.median_us, whole.p99_us);
  for (int side = 0; side < kStepSides; ++side) {
    const StepSideRecords& r = records->side[side];
    const int kept = std::min<int>(r.calls, kStepRecordsKept);
    const double half_reading_us = r.entry_cost_ns / 2000.0;
    std::vector<double> totals(static_cast<size_t>(kept), 0.0);
    double clock_us = 0;
    for (int step = 0; step < kCallSteps; ++step) {
      std::vector<double> us;
      double sum = 0, entered = 0;
      for (int c = 0; c < kept; ++c) {
        us.push_back(r.ns[c][step] / 1000.0 - r.edges[c][step] * half_reading_us);
        sum += us.back();
        totals[c] += us.back();
        entered += r.entries[c][step];
        clock_us += r.edges[c][step] * half_reading_us;
      }
      printf("step %d %d %.2f %.2f %.2f\n", side, step, SpreadOf(us).median_us, kept ? sum / kept : 0.0,
             kept ? entered / kept : 0.0);
    }
    double sum = 0;
    for (double t : totals) sum += t;
    printf("total %d %.2f %.2f %d\n", side, SpreadOf(totals).median_us, kept ? sum / kept : 0.0, kept);
    printf("clock %d %ld %.2f\n", side, static_cast<long>(r.entry_cost_ns), kept ? clock_us / kept : 0.0);
  }
  vt::KillProcesses(vt::kHostTail);
  vt::RemoveVendorLibrary();
  return 0;
}

// ---- the parent: floors, sessions, table ----

Rows RunChildSession(bool signals, bool tick, int calls, int writes) {
  SetEnvironmentVariableA("VORN_BENCH_SIGNALS", signals ? "on" : "off");
  SetEnvironmentVariableA("VORN_BENCH_TIMER", tick ? "tick" : "real");
  const std::string output = vt::UniqueName("session") + ".txt";
  const vt::ChildRun run = vt::RunChild("\"" + vt::ProgramDirectory() + "proxy_bench.exe\" --session " +
                                            std::to_string(calls) + " " + std::to_string(writes),
                                        "", output, 600000);
  SetEnvironmentVariableA("VORN_BENCH_SIGNALS", nullptr);
  SetEnvironmentVariableA("VORN_BENCH_TIMER", nullptr);
  DeleteFileA(output.c_str());
  if (run.exit_code != 0) fprintf(stderr, "session failed (%d):\n%s\n", run.exit_code, run.output.c_str());
  Rows rows;
  for (const std::string& line : vt::Lines(run.output)) {
    char name[64];
    Row r;
    if (sscanf(line.c_str(), "row %63s %lf %lf %lf %lf", name, &r.median_us, &r.p99_us, &r.proxy_run_out,
               &r.host_run_out) == 5)
      rows[name] = r;
  }
  return rows;
}

struct StepRow {
  double median_us = 0, mean_us = 0, entered = 0;
};
struct StepTable {
  bool measured = false;
  Spread whole = {0, 0};
  long clock_ns[kStepSides] = {};
  double clock_us[kStepSides] = {};  // the clock's share of a call
  StepRow steps[kStepSides][kCallSteps];
  StepRow total[kStepSides];
  int calls[kStepSides] = {};
};

// RunSteps in a child process, with that proxy and host program.
StepTable ChildSteps(int calls, const std::string& proxy_dll, const std::string& host_exe) {
  StepTable table;
  SetEnvironmentVariableA("VORN_BENCH_SIGNALS", "on");
  SetEnvironmentVariableA("VORN_BENCH_TIMER", "real");
  const std::string output = vt::UniqueName("steps") + ".txt";
  const vt::ChildRun run = vt::RunChild("\"" + vt::ProgramDirectory() + "proxy_bench.exe\" --steps " +
                                            std::to_string(calls) + " \"" + proxy_dll + "\" \"" + host_exe + "\"",
                                        "", output, 600000);
  SetEnvironmentVariableA("VORN_BENCH_SIGNALS", nullptr);
  SetEnvironmentVariableA("VORN_BENCH_TIMER", nullptr);
  DeleteFileA(output.c_str());
  if (run.exit_code != 0) {
    fprintf(stderr, "the step-timed session failed (%d):\n%s\n", run.exit_code, run.output.c_str());
    return table;
  }
  for (const std::string& line : vt::Lines(run.output)) {
    int side, step, n;
    long ns;
    double us;
    StepRow r;
    if (sscanf(line.c_str(), "whole %lf %lf", &table.whole.median_us, &table.whole.p99_us) == 2) {
      table.measured = true;
    } else if (sscanf(line.c_str(), "clock %d %ld %lf", &side, &ns, &us) == 3 && side >= 0 && side < kStepSides) {
      table.clock_ns[side] = ns;
      table.clock_us[side] = us;
    } else if (sscanf(line.c_str(), "step %d %d %lf %lf %lf", &side, &step, &r.median_us, &r.mean_us, &r.entered) ==
                   5 &&
               side >= 0 && side < kStepSides && step >= 0 && step < kCallSteps) {
      table.steps[side][step] = r;
    } else if (sscanf(line.c_str(), "total %d %lf %lf %d", &side, &r.median_us, &r.mean_us, &n) == 4 && side >= 0 &&
               side < kStepSides) {
      table.total[side] = r;
      table.calls[side] = n;
    }
  }
  return table;
}

const char* const kStepNames[kCallSteps] = {"the call's own code",
                                            "taking the turn, letting go",
                                            "copies into the section",
                                            "signals and waits",
                                            "copies out of the section",
                                            "the trace stack",
                                            "the log",
                                            "the vendor call"};

// Where the time of a call goes, on each side, for this tree and, where
// the benchmark built them (VORN_BENCH_STEPS_FOLDER: a folder with the
// baseline's VornApx.dll and vorn_steps_host.exe; VORN_BENCH_STEPS_LABEL
// names it), for a baseline beside it.
struct StepTables {
  StepTable now, base;
  bool with_baseline = false;
  std::string label;
};

StepTables MeasureSteps(int calls) {
  StepTables t;
  t.now = ChildSteps(calls, vt::ProgramDirectory() + "bench\\steps\\VornApx.dll",
                     vt::Win64BinDirectory() + "vorn_steps_host.exe");
  char folder[MAX_PATH] = {}, label[64] = {};
  const DWORD n = GetEnvironmentVariableA("VORN_BENCH_STEPS_FOLDER", folder, sizeof folder);
  GetEnvironmentVariableA("VORN_BENCH_STEPS_LABEL", label, sizeof label);
  t.with_baseline = n > 0 && n < sizeof folder;
  t.label = label[0] ? label : "baseline";
  if (t.with_baseline)
    t.base = ChildSteps(calls, std::string(folder) + "\\VornApx.dll", std::string(folder) + "\\vorn_steps_host.exe");
  return t;
}

void PrintSteps(int calls, const StepTables& t) {
  const bool with_baseline = t.with_baseline;
  printf(
      "\nWhere a call's time goes: %d LD_DeviceControl calls, signalled, through the benchmark's step-timed proxy\n"
      "and host program (common/step_times.h), in microseconds per call (median, mean), and how often each step\n"
      "was entered per call. A step's time is its own, less that of the steps inside it and less the clock's\n"
      "share (a step cheaper than the clock's noise may show a little below 0), which is a row of its own. The\n"
      "host's request runs from the end of its wait to the start of the next; its reply's signal goes in one\n"
      "call with that next wait. The hand-over is what the proxy's signals and waits hold beyond the host's\n"
      "request (means): the system's part, both ways.\n",
      calls);
  const std::string label = "------ " + t.label + " ------";
  printf("  %-40s %-28s   %-28s\n", "", "------ this tree ------", with_baseline ? label.c_str() : "");
  printf("  %-40s %8s %8s %8s", "", "median", "mean", "entered");
  if (with_baseline) printf("     %8s %8s %8s", "median", "mean", "entered");
  printf("\n");
  // One row: its label, then a cell for this tree and one for the baseline.
  auto row = [&](const char* label, auto cell) {
    printf("  %-40s", label);
    cell(t.now);
    if (with_baseline) {
      printf("   ");
      cell(t.base);
    }
    printf("\n");
  };
  auto step_cell = [](const StepTable& table, const StepRow& r) {
    if (table.measured) {
      printf(" %8.2f %8.2f %8.2f", r.median_us, r.mean_us, r.entered);
    } else {
      printf(" %8s %8s %8s", "-", "-", "-");
    }
  };
  const char* const side_names[kStepSides] = {"proxy (32-bit): the call", "host program (64-bit): a request"};
  for (int side = 0; side < kStepSides; ++side) {
    row(side_names[side], [&](const StepTable& table) { step_cell(table, table.total[side]); });
    for (int step = 0; step < kCallSteps; ++step) {
      const std::string name = std::string("  ") + kStepNames[step];
      row(name.c_str(), [&](const StepTable& table) { step_cell(table, table.steps[side][step]); });
    }
    row("  the clock's share (mean)",
        [&](const StepTable& table) { printf(" %8s %8.2f %8s", "", table.clock_us[side], ""); });
  }
  row("the calls as their caller timed them",
      [](const StepTable& table) { printf(" %8.2f %8s %8s", table.whole.median_us, "", ""); });
  row("the hand-over (mean)", [](const StepTable& table) {
    printf(" %8s %8.2f %8s", "",
           table.steps[kProxySteps][kStepSignalWait].mean_us - table.total[kHostSteps].mean_us -
               table.clock_us[kHostSteps],
           "");
  });
  printf("  the clock's share of a step each time it is entered: %ld ns on the proxy's side, %ld on the host's\n",
         t.now.clock_ns[kProxySteps], t.now.clock_ns[kHostSteps]);
}

struct SideBySideRow {
  Spread spread = {0, 0};
  double device_calls_per_request = 0;
  int answered = 0;
  long wrong = 0, checked = 0;  // the answers the echo rules did not give, of those the callers checked
};

// Starts the callers together in a folder of their own, the device library
// being the echo stand-in with its calls counted; the first calls find no
// host, so they also show how many hosts get started.
SideBySideRow SideBySide(int calls) {
  SideBySideRow row;
  const std::string bin = vt::ProgramDirectory();
  vt::KillProcesses(vt::kHostTail);
  vt::ScopedTempDir dir;
  KhalapiCallCount* device_calls = MakeKhalapiCallCount();
  if (!device_calls || !PlaceBenchHost("KHALAPI_echo_count.dll")) return row;
  InterlockedExchange(&device_calls->calls, 0);
  SetEnvironmentVariableA("VORN_BENCH_SIGNALS", "on");
  SetEnvironmentVariableA("VORN_BENCH_TIMER", "real");
  vt::ChildProcess callers[kSideBySideCallers];
  for (int c = 0; c < kSideBySideCallers; ++c) {
    callers[c] = vt::StartChildWithOutputFile(
        "\"" + bin + "proxy_bench.exe\" --caller " + std::to_string(calls) + " " + std::to_string(c + 1), dir.path(),
        dir.path() + "\\caller" + std::to_string(c) + ".txt");
  }
  std::vector<double> us;
  for (int c = 0; c < kSideBySideCallers; ++c) {
    vt::WaitChild(callers[c], 600000);
    for (const std::string& line : vt::FileLines("caller" + std::to_string(c) + ".txt")) {
      double t;
      long wrong, checked;
      if (sscanf(line.c_str(), "t %lf", &t) == 1) us.push_back(t);
      if (sscanf(line.c_str(), "wrong %ld of %ld", &wrong, &checked) == 2) {
        row.wrong += wrong;
        row.checked += checked;
      }
    }
  }
  SetEnvironmentVariableA("VORN_BENCH_SIGNALS", nullptr);
  SetEnvironmentVariableA("VORN_BENCH_TIMER", nullptr);
  row.spread = SpreadOf(us);
  row.answered = static_cast<int>(us.size());
  row.device_calls_per_request =
      static_cast<double>(device_calls->calls) / (kSideBySideCallers * (calls + kCallerSetUpRequests));
  vt::KillProcesses(vt::kHostTail);
  vt::RemoveVendorLibrary();
  return row;
}

// The floor's 64-bit side and the 32-bit side's half of each trip.
class FloorRun {
 public:
  FloorRun(bool events, bool tick) : tick_(tick) {
    const std::string section = vt::UniqueName("VornBenchFloor");
    mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, section.c_str());
    flag_ = static_cast<volatile LONG*>(MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ping_ = events ? CreateEventA(nullptr, FALSE, FALSE, FloorPingName(section).c_str()) : nullptr;
    pong_ = events ? CreateEventA(nullptr, FALSE, FALSE, FloorPongName(section).c_str()) : nullptr;
    peer_ = vt::StartChild("\"" + vt::Win64BinDirectory() + "floor_peer.exe\" " + section + " " +
                           (events ? "event" : "sleep") + " " + (tick ? "tick" : "real"));
  }
  ~FloorRun() {
    InterlockedExchange(flag_, kFloorStop);
    vt::WaitChild(peer_, 10000);
    for (HANDLE h : {ping_, pong_, mapping_})
      if (h) CloseHandle(h);
  }
  FloorRun(const FloorRun&) = delete;
  FloorRun& operator=(const FloorRun&) = delete;

  void Trip() {
    InterlockedExchange(flag_, kFloorPing);
    if (ping_) SetEvent(ping_);
    while (*flag_ != kFloorPong) FloorWait(pong_, tick_);
  }
  DWORD peer_pid() const { return peer_.pid; }

 private:
  bool tick_;
  HANDLE mapping_, ping_, pong_;
  volatile LONG* flag_;
  vt::ChildProcess peer_;
};

// The plain floor's 64-bit side and the 32-bit side's half of each trip:
// SetEvent, then a wait without a time-out, each way; no section. The peer
// never looks for a stop, so it is ended with the run.
class PlainFloorRun {
 public:
  PlainFloorRun() {
    const std::string name = vt::UniqueName("VornBenchPlain");
    ping_ = CreateEventA(nullptr, FALSE, FALSE, FloorPingName(name).c_str());
    pong_ = CreateEventA(nullptr, FALSE, FALSE, FloorPongName(name).c_str());
    peer_.child = vt::StartChild("\"" + vt::Win64BinDirectory() + "floor_peer.exe\" " + name + " plain");
    // A peer that did not start would leave the first wait without end.
    SetEvent(ping_);
    answers_ = peer_.child.process && WaitForSingleObject(pong_, 10000) == WAIT_OBJECT_0;
  }
  ~PlainFloorRun() {
    for (HANDLE h : {ping_, pong_})
      if (h) CloseHandle(h);
  }
  PlainFloorRun(const PlainFloorRun&) = delete;
  PlainFloorRun& operator=(const PlainFloorRun&) = delete;

  bool answers() const { return answers_; }
  void Trip() {
    SetEvent(ping_);
    WaitForSingleObject(pong_, INFINITE);
  }
  DWORD peer_pid() const { return peer_.child.pid; }

 private:
  HANDLE ping_, pong_;
  vt::ScopedChild peer_;
  bool answers_;
};

template <typename Run>
Spread FloorOf(Run& floor, int trips) {
  auto trip = [&] { floor.Trip(); };
  WarmUp(trip);
  return TimeCalls(trips, trip);
}

Spread Floor(bool events, bool tick, int trips) {
  FloorRun floor(events, tick);
  return FloorOf(floor, trips);
}

Spread PlainFloor(int trips) {
  PlainFloorRun floor;
  if (!floor.answers()) {
    fprintf(stderr, "the plain floor's peer did not answer\n");
    return Spread{0, 0};
  }
  return FloorOf(floor, trips);
}

// The plain floor never times out, so the timer model does not change it:
// it is measured with the shipped timer only.
struct Floors {
  Spread plain, event, sleep;
};

Floors MeasureFloors(bool tick, int trips) {
  return Floors{tick ? Spread{0, 0} : PlainFloor(trips), Floor(true, tick, trips), Floor(false, tick, trips)};
}

std::string DirectCosts(int calls) {
  const std::string bin64 = vt::Win64BinDirectory();
  const std::string output = vt::UniqueName("direct") + ".txt";
  const vt::ChildRun run =
      vt::RunChild("\"" + bin64 + "direct_bench.exe\" \"" + bin64 + "KHALAPI_nofile.dll\" " + std::to_string(calls), "",
                   output, 120000);
  DeleteFileA(output.c_str());
  return run.output;
}

void PrintRow(const char* label, const Row* shipped, const Row* model) {
  printf("  %-27s", label);
  for (const Row* r : {shipped, model}) {
    if (r) {
      printf(" %9.1f %9.1f %6.2f /%5.2f  ", r->median_us, r->p99_us, r->proxy_run_out, r->host_run_out);
    } else {
      printf(" %9s %9s %14s  ", "-", "-", "-");
    }
  }
  printf("\n");
}

void PrintFloor(const char* label, const Spread& shipped, const Spread* model) {
  printf("  %-27s %9.1f %9.1f %14s  ", label, shipped.median_us, shipped.p99_us, "");
  if (model) {
    printf(" %9.1f %9.1f\n", model->median_us, model->p99_us);
  } else {
    printf(" %9s %9s\n", "-", "-");
  }
}

double Worst(const Rows& rows, double Row::*field, const char** which) {
  double worst = 0;
  for (const char* name : kCallNames) {
    auto it = rows.find(name);
    if (it == rows.end() || std::string(name).rfind("DISPLAYDLL_Write", 0) == 0) continue;
    if (it->second.*field >= worst) {
      worst = it->second.*field;
      *which = name;
    }
  }
  return worst;
}

const Row* Find(const Rows& rows, const char* name) {
  auto it = rows.find(name);
  return it == rows.end() ? nullptr : &it->second;
}

int RunAll(int calls) {
  const int model_calls = std::max(100, calls / 10);
  const int writes = 200, model_writes = 50;
  vt::KeepStandardHandlesPrivate();
  const Floors before = MeasureFloors(false, calls), before_tick = MeasureFloors(true, model_calls);
  const Rows signalled = RunChildSession(true, false, calls, writes);
  const Rows polled = RunChildSession(false, false, calls, writes);
  const Rows signalled_tick = RunChildSession(true, true, model_calls, model_writes);
  const Rows polled_tick = RunChildSession(false, true, model_calls, model_writes);
  const Floors after = MeasureFloors(false, calls), after_tick = MeasureFloors(true, model_calls);
  const std::string direct = DirectCosts(calls);
  const SideBySideRow side_by_side = SideBySide(calls);
  const StepTables steps = MeasureSteps(calls);

  printf(
      "The display chain under Wine, in microseconds: %d calls per LD_ function and %d writes with the\n"
      "shipped timer, %d and %d with the 15.6 ms timer model. 'run out' is the number of 1 ms waits or\n"
      "sleeps per call that no signal ended: proxy side / host side. The model is a model: every sleep,\n"
      "and every wait that no signal ends, is stretched to the next 15.625 ms boundary, as Windows' default\n"
      "timer would without high-resolution waitable timers.\n\n",
      calls, writes, model_calls, model_writes);
  printf("  %-27s %35s   %35s\n", "", "---------- shipped timer ----------", "------- 15.6 ms timer (model) -------");
  printf("  %-27s %9s %9s %15s   %9s %9s %15s\n", "", "median", "p99", "run out p / h", "median", "p99",
         "run out p / h");
  printf("signalled\n");
  for (const char* name : kCallNames) PrintRow(name, Find(signalled, name), Find(signalled_tick, name));
  printf("poll only (no events on either side, as with a peer that never signals)\n");
  for (const char* name : kCallNames) PrintRow(name, Find(polled, name), Find(polled_tick, name));
  printf(
      "plain floor: an event each way between a 32-bit and a 64-bit process, SetEvent and then a wait\n"
      "without a time-out, nothing else (no section; the timer model does not apply)\n");
  PrintFloor("plain event each way, before", before.plain, nullptr);
  PrintFloor("plain event each way, after", after.plain, nullptr);
  printf("floors: a flag between a 32-bit and a 64-bit process through a shared section\n");
  PrintFloor("event each way, before", before.event, &before_tick.event);
  PrintFloor("event each way, after", after.event, &after_tick.event);
  PrintFloor("1 ms sleep each way, before", before.sleep, &before_tick.sleep);
  PrintFloor("1 ms sleep each way, after", after.sleep, &after_tick.sleep);
  printf(
      "%d callers side by side, each a process making %d requests, %d of them timed LD_DeviceControl calls\n"
      "whose answers it checks against the echo stand-in's (%d timed in all):\n",
      kSideBySideCallers, calls + kCallerSetUpRequests, calls, side_by_side.answered);
  printf("  %-27s %9s %9s %24s %15s\n", "", "median", "p99", "device calls / request", "wrong answers");
  printf("  %-27s %9.1f %9.1f %24.2f %7ld of %5ld\n", "LD_DeviceControl", side_by_side.spread.median_us,
         side_by_side.spread.p99_us, side_by_side.device_calls_per_request, side_by_side.wrong, side_by_side.checked);
  printf("vendor call in-process, 64-bit, no proxy (median p99):\n");
  for (const std::string& line : vt::Lines(direct))
    if (!line.empty()) printf("  %s\n", line.c_str());
  PrintSteps(calls, steps);

  // Each floor against the slower of its two runs.
  const double plain_floor = std::max(before.plain.median_us, after.plain.median_us);
  const double event_floor = std::max(before.event.median_us, after.event.median_us);
  const double sleep_floor = std::max(before.sleep.median_us, after.sleep.median_us);
  const char* which = "";
  printf("\ntargets\n");
  const double median = Worst(signalled, &Row::median_us, &which);
  printf("  signalled median / plain floor (%.1f): worst %.2f (%s); target at most 0.8\n", plain_floor,
         median / plain_floor, which);
  printf("    beside it, / the floor of a flag with 1 ms waits (%.1f): %.2f\n", event_floor, median / event_floor);
  const double p99 = Worst(signalled, &Row::p99_us, &which);
  printf("  signalled p99: worst %.1f us (%s); target under 500\n", p99, which);
  double run_out = 0;
  for (const auto& entry : signalled)
    run_out = std::max({run_out, entry.second.proxy_run_out, entry.second.host_run_out});
  printf("  signalled 1 ms waits run out per call: at most %.3f on either side; target 0\n", run_out);
  const Row* write_tick = Find(signalled_tick, "DISPLAYDLL_Write");
  printf("  signalled DISPLAYDLL_Write under the 15.6 ms model: median %.2f ms; target under 2\n",
         write_tick ? write_tick->median_us / 1000 : -1.0);
  const Row* write32 = Find(signalled, "DISPLAYDLL_Write");
  const Row* write64 = Find(signalled, "DISPLAYDLL_Write64");
  printf(
      "  signalled DISPLAYDLL_Write through the 64-bit bridge / through the 32-bit plug-in: median %.2f; target "
      "at most 1.5\n",
      write32 && write64 ? write64->median_us / write32->median_us : -1.0);
  const double polled_median = Worst(polled, &Row::median_us, &which);
  printf("  poll-only median / 1 ms sleep floor (%.1f): worst %.2f (%s); target at most 1.15\n", sleep_floor,
         polled_median / sleep_floor, which);
  printf("  %d callers side by side: %.2f device calls per request; target 1.00\n", kSideBySideCallers,
         side_by_side.device_calls_per_request);
  printf("  %d callers side by side: %ld wrong answers of %ld checked; target 0\n", kSideBySideCallers,
         side_by_side.wrong, side_by_side.checked);
  const Row* control = Find(signalled, "LD_DeviceControl");
  printf("  %d callers side by side: LD_DeviceControl median %.1f us, beside %.1f us for one caller (signalled)\n",
         kSideBySideCallers, side_by_side.spread.median_us, control ? control->median_us : -1.0);
  return 0;
}

// ---- round trips to the system, for a wineserver that traces them ----

// The ids of a process's threads, as the server's trace names them.
std::string ThreadIds(DWORD pid) {
  std::string ids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return ids;
  THREADENTRY32 thread;
  thread.dwSize = sizeof thread;
  for (BOOL more = Thread32First(snapshot, &thread); more; more = Thread32Next(snapshot, &thread)) {
    if (thread.th32OwnerProcessID != pid) continue;
    char id[16];
    snprintf(id, sizeof id, " %04lx", thread.th32ThreadID);
    ids += id;
  }
  CloseHandle(snapshot);
  return ids;
}

// Runs `calls` calls between the events "VornBenchCount.<label>.Start" and
// ".End", whose creation the trace shows; then prints
//   count <label> <calls> <this thread> | <the other side's threads>
// Nothing else of this thread's runs between the two.
template <typename Call>
void CountBetweenMarkers(const char* label, int calls, DWORD other_pid, Call call) {
  WarmUp(call);
  const std::string marker = std::string("VornBenchCount.") + label;
  HANDLE start = CreateEventA(nullptr, TRUE, FALSE, (marker + ".Start").c_str());
  for (int i = 0; i < calls; ++i) call();
  HANDLE end = CreateEventA(nullptr, TRUE, FALSE, (marker + ".End").c_str());
  printf("count %s %d %04lx |%s\n", label, calls, GetCurrentThreadId(), ThreadIds(other_pid).c_str());
  CloseHandle(start);
  CloseHandle(end);
}

// The hand-over between the parent and the callers of CountThreeCallers,
// named from a stem that the parent passes on: each caller releases Ready
// once it has found the host and warmed up, makes its calls once Go is set,
// then releases Done and ends once Leave is set, so that neither its start
// nor its end falls between the markers.
struct CallerHandOver {
  HANDLE ready = nullptr, go = nullptr, done = nullptr, leave = nullptr;

  static CallerHandOver Make(const std::string& stem, int callers) {
    return CallerHandOver{CreateSemaphoreA(nullptr, 0, callers, (stem + ".Ready").c_str()),
                          CreateEventA(nullptr, TRUE, FALSE, (stem + ".Go").c_str()),
                          CreateSemaphoreA(nullptr, 0, callers, (stem + ".Done").c_str()),
                          CreateEventA(nullptr, TRUE, FALSE, (stem + ".Leave").c_str())};
  }
  static CallerHandOver Open(const std::string& stem) {
    return CallerHandOver{OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, (stem + ".Ready").c_str()),
                          OpenEventA(SYNCHRONIZE, FALSE, (stem + ".Go").c_str()),
                          OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, (stem + ".Done").c_str()),
                          OpenEventA(SYNCHRONIZE, FALSE, (stem + ".Leave").c_str())};
  }
  bool Complete() const { return ready && go && done && leave; }
  void Close() {
    for (HANDLE h : {ready, go, done, leave})
      if (h) CloseHandle(h);
    *this = CallerHandOver{};
  }
};

constexpr int kCountedCallers = 3;
constexpr DWORD kHandOverMs = 600000;

// One of the callers of CountThreeCallers, in the parent's folder: the
// shipped VornApx.dll from there, which finds the host that runs already.
int RunCountCaller(int calls, const std::string& stem) {
  CallerHandOver hand_over = CallerHandOver::Open(stem);
  char folder[MAX_PATH];
  const DWORD n = GetCurrentDirectoryA(sizeof folder, folder);
  ProxyExports proxy;
  if (!hand_over.Complete() || n == 0 || n >= sizeof folder ||
      !proxy.Load(LoadLibraryA((std::string(folder) + "\\VornApx.dll").c_str()))) {
    fprintf(stderr, "the caller could not set up\n");
    return 1;
  }
  int32_t position = 0;
  proxy.first(&position);
  proxy.next(&position);
  const int32_t device = position;
  const LineCommand line("Three callers!  ");
  auto call = [&] { proxy.control(device, kPadCmdSetLine, &line); };
  WarmUp(call);
  ReleaseSemaphore(hand_over.ready, 1, nullptr);
  if (WaitForSingleObject(hand_over.go, kHandOverMs) != WAIT_OBJECT_0) return 1;
  for (int i = 0; i < calls; ++i) call();
  ReleaseSemaphore(hand_over.done, 1, nullptr);
  WaitForSingleObject(hand_over.leave, kHandOverMs);
  hand_over.Close();
  return 0;
}

// Takes `count` releases of `semaphore`; false when a caller ends first or
// the time runs out.
bool TakeReleases(HANDLE semaphore, int count, const vt::ChildProcess (&callers)[kCountedCallers]) {
  HANDLE handles[1 + kCountedCallers] = {semaphore};
  for (int c = 0; c < kCountedCallers; ++c) handles[1 + c] = callers[c].process;
  for (int i = 0; i < count; ++i)
    if (WaitForMultipleObjects(1 + kCountedCallers, handles, FALSE, kHandOverMs) != WAIT_OBJECT_0) return false;
  return true;
}

// Three callers at once, each a process of its own (--count-caller) in the
// current folder, through the proxy and the host program there, which
// `proxy` has started: `calls` LD_DeviceControl calls each between the
// events "VornBenchCount.three_callers.Start" and ".End"; then prints
//   count three_callers <all their calls> <the callers' threads, a,b,...> | <the host's threads>
bool CountThreeCallers(const ProxyExports& proxy, const std::string& folder, int calls) {
  int32_t position = 0;
  proxy.first(&position);  // the host runs before any caller looks for it
  proxy.next(&position);
  const std::string stem = vt::UniqueName("VornBenchThree");
  CallerHandOver hand_over = CallerHandOver::Make(stem, kCountedCallers);
  if (!hand_over.Complete()) return false;
  vt::ChildProcess callers[kCountedCallers];
  bool started = true;
  for (int c = 0; c < kCountedCallers; ++c) {
    callers[c] = vt::StartChildWithOutputFile(
        "\"" + vt::ProgramDirectory() + "proxy_bench.exe\" --count-caller " + std::to_string(calls) + " " + stem,
        folder, folder + "\\count_caller" + std::to_string(c) + ".txt");
    started = started && callers[c].process;
  }
  bool counted = false;
  std::vector<DWORD> hosts;
  if (started && TakeReleases(hand_over.ready, kCountedCallers, callers) &&
      (hosts = vt::FindProcesses(vt::kHostTail)).size() == 1) {
    const std::string marker = "VornBenchCount.three_callers";
    HANDLE start = CreateEventA(nullptr, TRUE, FALSE, (marker + ".Start").c_str());
    SetEvent(hand_over.go);
    counted = TakeReleases(hand_over.done, kCountedCallers, callers);
    HANDLE end = CreateEventA(nullptr, TRUE, FALSE, (marker + ".End").c_str());
    std::string threads;
    for (const vt::ChildProcess& caller : callers) threads += ThreadIds(caller.pid);
    for (char& ch : threads)
      if (ch == ' ') ch = ',';
    counted = counted && !threads.empty();
    if (counted)
      printf("count three_callers %d %s |%s\n", kCountedCallers * calls, threads.substr(1).c_str(),
             ThreadIds(hosts[0]).c_str());
    CloseHandle(start);
    CloseHandle(end);
  }
  SetEvent(hand_over.go);
  SetEvent(hand_over.leave);
  for (int c = 0; c < kCountedCallers; ++c) {
    const int status = vt::WaitChild(callers[c], 60000);
    if (status != 0) {
      counted = false;
      fprintf(stderr, "caller %d ended with %d:\n%s\n", c, status,
              vt::ReadFileBytes(folder + "\\count_caller" + std::to_string(c) + ".txt").c_str());
    }
  }
  hand_over.Close();
  return counted;
}

// The shipped proxy and host program (their waits, not the benchmark's),
// one LD_DeviceControl at a time from one caller, then from three callers
// at once; then the event floor and the plain floor.
int RunCounted(int calls) {
  const std::string bin = vt::ProgramDirectory();
  vt::KeepStandardHandlesPrivate();
  vt::KillProcesses(vt::kHostTail);
  bool three_counted;
  {
    vt::ScopedTempDir dir;
    if (!CopyFileA((bin + "VornApx.dll").c_str(), "VornApx.dll", FALSE) || !vt::PlaceHostProgram("KHALAPI_nofile.dll"))
      return 1;
    ProxyExports proxy;
    if (!proxy.Load(LoadLibraryA((dir.path() + "\\VornApx.dll").c_str()))) return 1;
    int32_t position = 0;
    proxy.first(&position);  // starts the host
    proxy.next(&position);
    const std::vector<DWORD> hosts = vt::FindProcesses(vt::kHostTail);
    if (hosts.size() != 1) return 1;
    const LineCommand line("Counted calls!  ");
    const int32_t device = position;
    CountBetweenMarkers("LD_DeviceControl", calls, hosts[0], [&] { proxy.control(device, kPadCmdSetLine, &line); });
    three_counted = CountThreeCallers(proxy, dir.path(), calls);
    vt::KillProcesses(vt::kHostTail);
    vt::RemoveVendorLibrary();
  }
  {
    FloorRun floor(true, false);
    CountBetweenMarkers("floor", calls, floor.peer_pid(), [&] { floor.Trip(); });
  }
  PlainFloorRun plain;
  if (!plain.answers()) return 1;
  CountBetweenMarkers("plain_floor", calls, plain.peer_pid(), [&] { plain.Trip(); });
  return three_counted ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc == 4 && strcmp(argv[1], "--session") == 0) return RunSession(atoi(argv[2]), atoi(argv[3]));
  if (argc == 4 && strcmp(argv[1], "--caller") == 0) return RunCaller(atoi(argv[2]), atoi(argv[3]));
  if (argc == 3 && strcmp(argv[1], "--count") == 0) return RunCounted(std::max(1, atoi(argv[2])));
  if (argc == 4 && strcmp(argv[1], "--count-caller") == 0) return RunCountCaller(std::max(1, atoi(argv[2])), argv[3]);
  if (argc == 5 && strcmp(argv[1], "--steps") == 0) return RunSteps(std::max(1, atoi(argv[2])), argv[3], argv[4]);
  if (argc >= 3 && strcmp(argv[1], "--paced") == 0)
    return RunPaced(atoi(argv[2]), argc > 3 && strcmp(argv[3], "poll") == 0);
  return RunAll(std::max(200, argc > 1 ? atoi(argv[1]) : 2000));
}
