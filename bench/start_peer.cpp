// The floor of every "start a new server" path: a bare program that sets
// the event it is named and ends (built in both trees).
//   start_peer <event name>
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  HANDLE started = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[1]);
  if (!started) return 3;
  SetEvent(started);
  return 0;
}
