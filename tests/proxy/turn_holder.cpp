// A caller in a process of its own that takes the callers' turn of a
// section, for the tests of a holder in another process:
//   turn_holder hold <section> <event>   takes the turn, sets the event, and keeps the turn
//                                        until the process is ended
//   turn_holder take <section> <ms> [<tag>]
//                                        exit code 0 when it had the turn within <ms>, 1 when
//                                        not; <tag>: a tag that a process given a dead holder's
//                                        id would try first (channel.h)
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "caller_turn.h"
#include "channel.h"

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) return 2;
  UseProxySectionName(argv[2]);
  if (argc == 5) CommsUseLockTag(kRequestSlot, atol(argv[4]));
  if (strcmp(argv[1], "hold") == 0) {
    CallerTurn turn(Deadline::In(10000));
    if (!turn.taken()) return 1;
    HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[3]);
    if (!held || !SetEvent(held)) return 3;
    Sleep(INFINITE);
  }
  if (strcmp(argv[1], "take") == 0) {
    CallerTurn turn(Deadline::In(atoi(argv[3])));
    return turn.taken() ? 0 : 1;
  }
  return 2;
}
