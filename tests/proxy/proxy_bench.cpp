// The round trip of each LD_ call through the proxy and the host program,
// beside the same call made directly in-process by a 64-bit program.
// Not a test: tools/bench.sh builds and runs it under Wine.
//   proxy_bench [calls per function, at least 1000]
// It starts an instrumented host program (the host's own core with a sleep
// that counts) under the name Vorn64BitInterface.exe in a directory of its
// own, with the emulated pad at the vendor path, and ends it afterwards.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_counters.h"
#include "bench_timing.h"
#include "child_run.h"
#include "host_harness.h"
#include "pad_protocol.h"
#include "sleep_seam.h"
#include "test_support.h"
#include "vorn_apx.h"

namespace {

uint64_t g_proxy_sleeps;

void CountingSleep(uint32_t ms) {
  if (ms == 1) ++g_proxy_sleeps;
  Sleep(ms);
}

struct Row {
  const char* name;
  double median_us, p99_us, proxy_sleeps, host_sleeps;
  std::string direct;  // "median p99" from the 64-bit program
};

template <typename Call>
Row Measure(const char* name, int calls, const BenchCounters* counters, Call call) {
  const uint64_t proxy_before = g_proxy_sleeps;
  const LONG host_before = counters ? counters->host_sleeps : 0;
  const Spread spread = TimeCalls(calls, call);
  const LONG host_after = counters ? counters->host_sleeps : 0;
  return Row{name, spread.median_us, spread.p99_us,
             static_cast<double>(g_proxy_sleeps - proxy_before) / calls,
             static_cast<double>(host_after - host_before) / calls, "-"};
}

void AddDirectCosts(std::vector<Row>& rows, const std::string& bin, const std::string& dir, int calls) {
  const std::string command = "\"" + bin + "direct_bench.exe\" \"" + bin + "KHALAPI.dll\" " + std::to_string(calls);
  ChildRun run = RunWithOutputFile(command, dir, dir + "\\direct.txt", 120000);
  for (Row& row : rows) {
    const size_t at = run.output.find(std::string(row.name) + " ");
    if (at == std::string::npos) continue;
    double median = 0, p99 = 0;
    if (sscanf(run.output.c_str() + at + strlen(row.name), "%lf %lf", &median, &p99) != 2) continue;
    char text[64];
    snprintf(text, sizeof text, "%10.1f %10.1f", median, p99);
    row.direct = text;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int calls = std::max(1000, argc > 1 ? atoi(argv[1]) : 2000);
  const std::string bin = vt::Win64BinDirectory();
  vt::KillProcesses("\\Vorn64BitInterface.exe");
  vt::ScopedTempDir dir;
  if (!CopyFileA((bin + "vorn_counting_host.exe").c_str(), "Vorn64BitInterface.exe", FALSE) ||
      !vt::InstallVendorLibrary(bin + "KHALAPI.dll")) {
    fprintf(stderr, "missing 64-bit outputs in %s\n", bin.c_str());
    return 1;
  }
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(BenchCounters),
                                      kBenchCountersName);
  auto* counters =
      mapping ? static_cast<const BenchCounters*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0)) : nullptr;
  SetSleepFunction(CountingSleep);

  // The first call starts the host program; it is not measured.
  int32_t position = 0;
  LD_GetFirstDevicePosition(&position);
  LD_GetNextDevicePosition(&position);
  const int32_t device = position;

  std::vector<Row> rows;
  rows.push_back(Measure("LD_GetFirstDevicePosition", calls, counters, [] {
    int32_t p = 0;
    LD_GetFirstDevicePosition(&p);
  }));
  rows.push_back(Measure("LD_GetNextDevicePosition", calls, counters, [] {
    int32_t p = static_cast<int32_t>(kPadStartPosition);
    LD_GetNextDevicePosition(&p);
  }));
  rows.push_back(Measure("LD_DeviceControl", calls, counters, [device] {
    struct {
      int32_t header[6];
      char data[16];
    } line = {{24, 0, 2, kPadLineLength, 0, 0}, {}};
    memcpy(line.data, "Hello benchmark!", sizeof line.data);
    LD_DeviceControl(device, kPadCmdSetLine, &line);
  }));
  rows.push_back(Measure("LD_GetDeviceInfo", calls, counters, [device] {
    struct {
      int32_t count;
      uint8_t bytes[64];
    } record = {64, {}};
    LD_GetDeviceInfo(device, &record);
  }));
  vt::KillProcesses("\\Vorn64BitInterface.exe");
  AddDirectCosts(rows, bin, dir.path(), calls);
  vt::RemoveVendorLibrary();

  printf("%d calls per function; times in microseconds; sleeps are 1 ms sleeps per call\n", calls);
  printf("%-26s %10s %10s %12s %11s   %21s\n", "", "via proxy", "", "sleeps", "", "direct in-process");
  printf("%-26s %10s %10s %12s %11s   %10s %10s\n", "call", "median", "p99", "proxy side", "host side", "median",
         "p99");
  for (const Row& r : rows)
    printf("%-26s %10.1f %10.1f %12.2f %11.2f   %s\n", r.name, r.median_us, r.p99_us, r.proxy_sleeps,
           counters ? r.host_sleeps : -1.0, r.direct.c_str());
  return 0;
}
