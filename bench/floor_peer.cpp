// The 64-bit side of the benchmark's floors:
//   floor_peer <section> event|sleep real|tick   answers each ping with a pong
//   floor_peer <name> plain                     the same with the events alone, never
//                                               timing out: ended by the side that measures
//   floor_peer idle <seconds>                   a bare 1 ms sleep loop, for the idle cost
//   floor_peer block <seconds>                  blocked on an event that nobody sets
// Ends on the stop flag, or after 30 s without a ping.
#include <cstdlib>
#include <cstring>

#include "floor_protocol.h"

namespace {

int IdleLoop(unsigned seconds) {
  const double end = NowMs() + 1000.0 * seconds;
  while (NowMs() < end) Sleep(1);
  return 0;
}

int PlainPeer(const std::string& name) {
  HANDLE ping = OpenEventA(SYNCHRONIZE, FALSE, FloorPingName(name).c_str());
  HANDLE pong = OpenEventA(EVENT_MODIFY_STATE, FALSE, FloorPongName(name).c_str());
  if (!ping || !pong) return 4;
  for (;;) {
    WaitForSingleObject(ping, INFINITE);
    SetEvent(pong);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "idle") == 0) return IdleLoop(static_cast<unsigned>(atoi(argv[2])));
  if (argc == 3 && strcmp(argv[1], "block") == 0) {
    HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    WaitForSingleObject(never, 1000u * static_cast<unsigned>(atoi(argv[2])));
    return 0;
  }
  if (argc == 3 && strcmp(argv[2], "plain") == 0) return PlainPeer(argv[1]);
  if (argc != 4) return 2;
  const std::string section = argv[1];
  const bool events = strcmp(argv[2], "event") == 0;
  const bool tick = strcmp(argv[3], "tick") == 0;
  HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, section.c_str());
  if (!mapping) return 3;
  auto* flag = static_cast<volatile LONG*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(LONG)));
  if (!flag) return 3;
  HANDLE ping = events ? OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, FloorPingName(section).c_str()) : nullptr;
  HANDLE pong = events ? OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, FloorPongName(section).c_str()) : nullptr;
  if (events && (!ping || !pong)) return 4;
  double last_ping = NowMs();
  for (;;) {
    FloorWait(ping, tick);
    const LONG seen = InterlockedCompareExchange(flag, kFloorPong, kFloorPing);
    if (seen == kFloorPing) {
      if (pong) SetEvent(pong);
      last_ping = NowMs();
    } else if (seen == kFloorStop) {
      return 0;
    } else if (NowMs() - last_ping > 30000) {
      return 5;
    }
  }
}
