// A 32-bit caller of VornApx.dll for the end-to-end tests, as the vendor
// layer would be: loads the library by path, looks up the four exports by
// their plain names and prints what the calls give.
//   proxy_caller <dll path> pad       enumerate, read the information, set line 0
//   proxy_caller <dll path> position [calls]
//                                     LD_GetFirstDevicePosition from 12345, once
//                                     or <calls> times, half a second apart
//   proxy_caller <dll path> commands <tag> <count> <threads>
//                                     on each thread, <count> LD_DeviceControl
//                                     commands, each with its own data, every
//                                     result checked against the echo rules
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "echo_rules.h"
#include "proxy_exports.h"

namespace {

int RunPad(const ProxyExports& proxy) {
  auto first = proxy.first;
  auto next = proxy.next;
  auto info = proxy.info;
  auto control = proxy.control;
  int32_t position = -7;
  int32_t r = first(&position);
  printf("first %d %d\n", r, position);
  r = next(&position);
  printf("next %d 0x%08x\n", r, static_cast<unsigned>(position));
  const int32_t device = position;
  struct {
    int32_t count;
    uint8_t bytes[164];
  } record = {64, {}};
  r = info(device, &record);
  printf("info %d %d", r, record.count);
  for (int i = 0; i < 64; ++i) printf(" %02x", record.bytes[i]);
  printf("\n");
  const char text[] = "Hello proxy";
  struct {
    int32_t header[6];
    char data[16];
  } line = {{24, 0, 2, static_cast<int32_t>(strlen(text)), 0, 0}, {}};
  memcpy(line.data, text, strlen(text));
  r = control(device, 1, &line);  // set line 0
  printf("control %d\n", r);
  r = next(&position);
  printf("next %d 0x%08x\n", r, static_cast<unsigned>(position));
  return 0;
}

int RunPosition(const ProxyExports& proxy, int calls) {
  for (int i = 0; i < calls; ++i) {
    if (i > 0) Sleep(500);
    int32_t position = 12345;
    const DWORD start = GetTickCount();
    const int32_t r = proxy.first(&position);
    printf("first %d %d after %lu ms\n", r, position, GetTickCount() - start);
    fflush(stdout);
  }
  return 0;
}

struct CommandThread {
  const ProxyExports* proxy;
  int32_t tag, thread, count;
  LONG wrong;
};

// The data of each command names its caller, thread and number, so that
// the device library's record shows how often each one reached it.
DWORD WINAPI RunCommandThread(void* p) {
  auto* t = static_cast<CommandThread*>(p);
  for (int32_t i = 0; i < t->count; ++i) {
    struct {
      int32_t header[6];
      int32_t data[2];
    } record = {{24, t->tag, t->thread, 8, 0, 0}, {t->tag, (t->thread << 24) | i}};
    const int32_t code = t->tag * 1000 + t->thread;
    const int32_t words[4] = {32, t->tag, t->thread, 8};
    const int32_t expected = EchoControlResult(code, words, reinterpret_cast<const uint8_t*>(record.data), 8);
    if (t->proxy->control(0, code, &record) != expected) InterlockedIncrement(&t->wrong);
  }
  return 0;
}

int RunCommands(const ProxyExports& proxy, int32_t tag, int32_t count, int32_t threads) {
  CommandThread work[8] = {};
  HANDLE handles[8] = {};
  if (threads < 1 || threads > 8) return 2;
  for (int32_t t = 0; t < threads; ++t) {
    work[t] = {&proxy, tag, t, count, 0};
    handles[t] = CreateThread(nullptr, 0, RunCommandThread, &work[t], 0, nullptr);
    if (!handles[t]) return 5;
  }
  WaitForMultipleObjects(static_cast<DWORD>(threads), handles, TRUE, INFINITE);
  LONG wrong = 0;
  for (int32_t t = 0; t < threads; ++t) {
    wrong += work[t].wrong;
    CloseHandle(handles[t]);
  }
  printf("commands %ld wrong of %d\n", wrong, count * threads);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  HMODULE dll = LoadLibraryA(argv[1]);
  if (!dll) return 4;
  ProxyExports proxy;
  if (!proxy.Load(dll)) return 3;
  int status;
  if (strcmp(argv[2], "commands") == 0) {
    if (argc < 6) return 2;
    status = RunCommands(proxy, atoi(argv[3]), atoi(argv[4]), atoi(argv[5]));
  } else {
    status = strcmp(argv[2], "pad") == 0 ? RunPad(proxy) : RunPosition(proxy, argc > 3 ? atoi(argv[3]) : 1);
  }
  fflush(stdout);
  return status;
}
