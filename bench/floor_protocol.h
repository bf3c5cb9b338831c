#pragma once
// The floors of a hand-over between a 32-bit and a 64-bit process, for the
// benchmark. The plain one ("plain"): a named auto-reset event each way,
// SetEvent and then WaitForSingleObject without a time-out, and nothing
// else. The others pass one flag in a shared section back and forth: with
// an event each way, each wait with a 1 ms time-out ("event"), or with a
// 1 ms sleep between looks on each side ("sleep"). The 32-bit side
// measures; floor_peer.exe is the 64-bit side.

#include <windows.h>

#include <string>

#include "tick_model.h"

enum FloorFlag : LONG { kFloorIdle = 0, kFloorPing = 1, kFloorPong = 2, kFloorStop = 3 };

inline std::string FloorPingName(const std::string& section) { return section + ".Ping"; }
inline std::string FloorPongName(const std::string& section) { return section + ".Pong"; }

// One look's wait: on the event with a 1 ms time-out, or a 1 ms sleep;
// stretched to the modelled 15.6 ms timer when `tick` is set.
inline void FloorWait(HANDLE event, bool tick) {
  if (tick) {
    TickWait(event, 1);
  } else if (event) {
    WaitForSingleObject(event, 1);
  } else {
    Sleep(1);
  }
}
