// A 32-bit caller of VornApx.dll for the end-to-end tests, as the vendor
// layer would be: loads the library by path, looks up the four exports by
// their plain names and prints what the calls give.
//   proxy_caller <dll path> pad       enumerate, read the information, set line 0
//   proxy_caller <dll path> position  one LD_GetFirstDevicePosition from 12345
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

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

int RunPosition(const ProxyExports& proxy) {
  int32_t position = 12345;
  const DWORD start = GetTickCount();
  const int32_t r = proxy.first(&position);
  printf("first %d %d after %lu ms\n", r, position, GetTickCount() - start);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  HMODULE dll = LoadLibraryA(argv[1]);
  if (!dll) return 4;
  ProxyExports proxy;
  if (!proxy.Load(dll)) return 3;
  const int status = strcmp(argv[2], "pad") == 0 ? RunPad(proxy) : RunPosition(proxy);
  fflush(stdout);
  return status;
}
