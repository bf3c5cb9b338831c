// 64-bit: the cost of each vendor call made directly in-process, with the
// arguments the host program passes. Prints one line per call:
//   <name> <median us> <p99 us>
//   direct_bench <KHALAPI.dll path> <calls>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "bench_timing.h"
#include "pad_protocol.h"
#include "proxy_exports.h"

namespace {

using PositionFn = int32_t (*)(uint64_t*);
using ControlFn = int32_t (*)(uint64_t, int32_t, void*);
using InfoFn = int32_t (*)(uint64_t, void*);

template <typename Call>
void Measure(const char* name, int calls, Call call) {
  const Spread spread = TimeCalls(calls, call);
  printf("%s %.1f %.1f\n", name, spread.median_us, spread.p99_us);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  HMODULE dll = LoadLibraryA(argv[1]);
  if (!dll) return 3;
  auto first = LookupExport<PositionFn>(dll, "LD_GetFirstDevicePosition");
  auto next = LookupExport<PositionFn>(dll, "LD_GetNextDevicePosition");
  auto control = LookupExport<ControlFn>(dll, "LD_DeviceControl");
  auto info = LookupExport<InfoFn>(dll, "LD_GetDeviceInfo");
  if (!first || !next || !control || !info) return 4;
  const int calls = atoi(argv[2]);
  uint64_t position = 0;
  first(&position);
  next(&position);
  const uint64_t device = position;
  Measure("LD_GetFirstDevicePosition", calls, [&] {
    uint64_t p = 0;
    first(&p);
  });
  Measure("LD_GetNextDevicePosition", calls, [&] {
    uint64_t p = kPadStartPosition;
    next(&p);
  });
  char text[] = "Hello benchmark!";
  Measure("LD_DeviceControl", calls, [&] {
    struct {
      int32_t size, line, style, count;
      void* data;
      uint64_t unused;
    } record = {kPadControlRecordSize, 0, 2, kPadLineLength, text, 0};
    control(device, kPadCmdSetLine, &record);
  });
  Measure("LD_GetDeviceInfo", calls, [&] {
    uint8_t record[kPadInfoRecordSize] = {};
    const int32_t size = kPadInfoRecordSize;
    memcpy(record, &size, sizeof size);
    info(device, record);
  });
  return 0;
}
