// A helper for the bridge's own tests, which the bridge starts in the real
// helper's place (UseBridgeIdentity) with the real helper's command line.
// It opens the section and signals ready as the helper does; then, as the
// environment variable VORN_SCRIPTED_HELPER says:
//   answer  every call is answered at once (Init with its OK byte set);
//   silent  no call is answered, as by a helper stuck in its plug-in;
//   hold    the first call is answered once the event "<section>.Release"
//           is signalled, and no call after it.
// It ends with the process that started it.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "bridge_channel.h"
#include "bridge_names.h"
#include "channel.h"
#include "unique_handle.h"

extern const char kBridgeLogName[] = "scripted_helper";

namespace {

void Answer(BridgeRecord& record) {
  record.done = 1;
  record.ok = 1;
  record.result = kTextGiven;
  strcpy(record.text, "scripted");
  record.text_length = static_cast<int32_t>(strlen(record.text));
  BridgeSendReply(record);
  CommsSignal(kBridgeSlot, kReplyEvent);
}

HANDLE Named(const char* suffix, bool create) {
  char name[MAX_PATH];
  if (!CommsObjectName(kBridgeSlot, suffix, name, sizeof name)) return nullptr;
  return create ? CreateEventA(nullptr, TRUE, FALSE, name) : OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  ScopedHandle parent(OpenProcess(SYNCHRONIZE, FALSE, strtoul(argv[1], nullptr, 10)));
  if (!parent || !BridgeOpen(argv[2])) return 2;
  const char* mode_text = getenv("VORN_SCRIPTED_HELPER");
  const std::string mode = mode_text ? mode_text : "answer";
  ScopedHandle release(Named(".Release", true));
  if (ScopedHandle ready{Named(kHelperReadySuffix, false)}) SetEvent(ready.get());

  static BridgeRecord record;
  int32_t last_seen = 0;
  int calls = 0;
  for (;;) {
    if (CommsRecv(kBridgeSlot, &record, kBridgeRecordSize) && record.opcode != kBridgeNone && record.done == 0 &&
        record.request_id != last_seen) {
      last_seen = record.request_id;
      ++calls;
      if (record.opcode == kBridgeQuit) return 0;
      if (mode == "hold" && calls == 1) {
        HANDLE waits[2] = {parent.get(), release.get()};
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) return 0;
      }
      if (mode == "answer" || (mode == "hold" && calls == 1)) Answer(record);
      continue;
    }
    if (WaitForSingleObject(parent.get(), 1) == WAIT_OBJECT_0) return 0;
  }
}
