// A helper for the bridge's own tests, which the bridge starts in the real
// helper's place (UseBridgeIdentity) with the real helper's command line.
// It opens the section and signals ready as the helper does; then, as the
// environment variable VORN_SCRIPTED_HELPER says:
//   answer  every call is answered at once (Init with its OK byte set);
//   silent  no call is answered, as by a helper stuck in its plug-in;
//   hold:N  the Nth call is answered once the event "<section>.Release" is
//           signalled (until then nothing is read, not even the bridge's
//           quit: a helper stuck inside its plug-in), every other at once;
//   refuse  Init is answered with its OK byte 0, every other call at once;
//   die:N   the Nth call ends the process, unanswered, as a plug-in crash
//           that nothing takes;
//   unready it never says that it is ready, as a helper whose plug-in
//           blocks while it is loaded.
// Each answer sets "<section>.Answered", so that a test can wait for it; a
// call that it will not answer now (silent, held, or ending the process)
// sets "<section>.Holding" while it is so, so that a test knows not to wait
// for its answer.
// When VORN_SCRIPTED_LOG names a file, each start ("start") and each call
// (NoteCall) is appended to it.
// It ends with the process that started it.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bridge_channel.h"
#include "bridge_names.h"
#include "channel.h"
#include "unique_handle.h"

extern const char kBridgeLogName[] = "scripted_helper";

namespace {

void Note(const char* format, ...) {
  const char* path = getenv("VORN_SCRIPTED_LOG");
  if (!path || !*path) return;
  FILE* file = fopen(path, "a");
  if (!file) return;
  va_list args;
  va_start(args, format);
  vfprintf(file, format, args);
  va_end(args);
  fputc('\n', file);
  fclose(file);
}

// "<opcode> <SetPosition first: x,y or -> <arguments>": Init's sizes and
// text, Write's text, the byte arguments of the others.
void NoteCall(const BridgeRecord& record) {
  char position[32] = "-";
  if (record.position_first) snprintf(position, sizeof position, "%u,%u", record.x, record.y);
  const int n = record.text_length > 0 && record.text_length < kBridgeTextSize ? record.text_length : 0;
  if (record.opcode == kBridgeInit)
    Note("%d %s %u %u %.*s", record.opcode, position, record.args[0], record.args[1], n, record.text);
  else if (record.opcode == kBridgeWrite)
    Note("%d %s %.*s", record.opcode, position, n, record.text);
  else
    Note("%d %s %u %u %u", record.opcode, position, record.args[0], record.args[1], record.args[2]);
}

HANDLE Named(const char* suffix, bool create) {
  char name[MAX_PATH];
  if (!CommsObjectName(kBridgeSlot, suffix, name, sizeof name)) return nullptr;
  return create ? CreateEventA(nullptr, TRUE, FALSE, name) : OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
}

void Answer(BridgeRecord& record, bool ok, HANDLE answered) {
  record.done = 1;
  record.ok = ok ? 1 : 0;
  record.result = kTextGiven;
  record.fault_code = 0;
  strcpy(record.text, "scripted");
  record.text_length = static_cast<int32_t>(strlen(record.text));
  BridgeSendReply(record);
  CommsSignal(kBridgeSlot, kReplyEvent);
  SetEvent(answered);
}

// The number after "<mode>:", or 0.
int Count(const std::string& mode, const char* name) {
  const std::string stem = std::string(name) + ":";
  return mode.rfind(stem, 0) == 0 ? atoi(mode.c_str() + stem.size()) : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  ScopedHandle parent(OpenProcess(SYNCHRONIZE, FALSE, strtoul(argv[1], nullptr, 10)));
  if (!parent || !BridgeOpen(argv[2])) return 2;
  const char* mode_text = getenv("VORN_SCRIPTED_HELPER");
  const std::string mode = mode_text ? mode_text : "answer";
  const int hold_at = Count(mode, "hold"), die_at = Count(mode, "die");
  ScopedHandle release(Named(".Release", true));
  ScopedHandle answered(Named(".Answered", true));
  ScopedHandle holding(Named(".Holding", true));
  ResetEvent(holding.get());
  Note("start");
  if (mode == "unready") {
    WaitForSingleObject(parent.get(), INFINITE);
    return 0;
  }
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
      NoteCall(record);
      if (calls == die_at || calls == hold_at || mode == "silent") SetEvent(holding.get());
      if (calls == die_at) return 3;
      if (calls == hold_at) {
        HANDLE waits[2] = {parent.get(), release.get()};
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) return 0;
        ResetEvent(holding.get());
      }
      if (mode != "silent") Answer(record, !(mode == "refuse" && record.opcode == kBridgeInit), answered.get());
      continue;
    }
    if (WaitForSingleObject(parent.get(), 1) == WAIT_OBJECT_0) return 0;
  }
}
