// The other process of the two-process channel test:
//   channel_peer <section> <wait-byte> <answer-byte>
// waits (at most 20 s) until the section's payload is all <wait-byte>, then
// writes a block whose payload is all <answer-byte>. Exit status 0 when it
// answered, 2 on time-out, 3 without a view.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "channel.h"

int main(int argc, char** argv) {
  if (argc != 4) return 1;
  const int wait_byte = atoi(argv[2]);
  const int answer_byte = atoi(argv[3]);
  CommsStart(0, kMapAllAccess, argv[1], kSectionSize);
  if (!g_channel[0].view) return 3;
  RequestBlock block;
  for (DWORD start = GetTickCount(); GetTickCount() - start < 20000; Sleep(1)) {
    CommsRecv(0, &block, kBlockSize);
    bool all = true;
    for (uint8_t b : block.payload) all = all && b == wait_byte;
    if (!all) continue;
    memset(block.payload, answer_byte, sizeof block.payload);
    block.opcode = answer_byte;
    CommsSend(0, &block, kBlockSize);
    return 0;
  }
  return 2;
}
