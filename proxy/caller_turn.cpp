#include "caller_turn.h"

#include <windows.h>

#include <cstdio>
#include <utility>

#include "channel.h"
#include "debug_log.h"
#include "gap_seam.h"
#include "step_times.h"
#include "thread_lock.h"
#include "unique_handle.h"
#include "wait_seam.h"

namespace {

struct CallerTurnState {
  ThreadLock open_lock;  // opened by whichever thread calls first, one at a time
  bool opened;           // the section and event below were had (or refused for good)
  bool refused;          // something could not be had: logged once
  TurnRecord local;      // among this process's threads
  TakeOverGuard local_guard;
  ScopedHandle local_free;
  ScopedHandle section;  // "<section>.Turn"
  TurnRecord* shared;    // its view; null: no turns among processes
  ScopedHandle shared_free;
  char section_name[MAX_PATH];
};
CallerTurnState g_turn = {{}, false, false, {}, {}, {}, {}, nullptr, {}, "Vorn64BitInterface"};

void LogRefusal(const char* what, const char* name, const char* so) {
  if (g_turn.refused) return;
  g_turn.refused = true;
  LogWritef("callfn", "Could not open %s %s error:%d; %s", what, name, static_cast<int>(GetLastError()), so);
}

// The section "<section>.Turn" and its event; false (and nothing kept)
// while the section cannot be had.
bool OpenSharedTurn() {
  char name[MAX_PATH];
  if (!CommsObjectName(kRequestSlot, kTurnSectionSuffix, name, sizeof name)) return false;
  ScopedHandle section(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(TurnRecord), name));
  void* view = section ? MapViewOfFile(section.get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(TurnRecord)) : nullptr;
  if (!view) {
    LogRefusal("section", name, "callers in other processes do not take turns");
    return false;
  }
  g_turn.section = std::move(section);
  g_turn.shared = static_cast<TurnRecord*>(view);
  if (CommsObjectName(kRequestSlot, kTurnEventSuffix, name, sizeof name)) {
    g_turn.shared_free.reset(CreateEventA(nullptr, FALSE, FALSE, name));
    if (!g_turn.shared_free) LogRefusal("event", name, "callers wait for the turn by looking every millisecond");
  }
  return true;
}

// The channel (the turn's objects are named after its section) and the
// turn's objects, unless they are open; false when another thread's
// opening held the way until the deadline.
bool OpenForCallers(const Deadline& deadline) {
  if (!TakeThreadLock(g_turn.open_lock, deadline, "the opening lock", g_turn.section_name)) return false;
  CommsStart(kRequestSlot, kMapAllAccess, g_turn.section_name, kSectionSize);
  if (!g_turn.local_free) g_turn.local_free.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  if (!g_turn.opened) g_turn.opened = OpenSharedTurn();
  ReleaseThreadLock(g_turn.open_lock);
  return true;
}

// A thread of this process that was ended from outside inside its turn
// (thread_lock.h).
bool TakeFromEndedThreadOfOurs(const TurnParty& p, volatile LONG* word, LONG seen, LONG value) {
  return TakeFromEndedThread(g_turn.local_guard, word, seen, value, p.self);
}

// A process that ended inside its turn, known by its tag on the block's
// section (channel.h).
bool TakeFromEndedProcess(const TurnParty&, volatile LONG* word, LONG seen, LONG value) {
  return CommsTakeFromEndedHolder(kRequestSlot, word, seen, value);
}

TurnParty LocalParty() {
  return TurnParty{&g_turn.local, g_turn.local_free.get(), static_cast<LONG>(GetCurrentThreadId()),
                   TakeFromEndedThreadOfOurs, "this process's threads"};
}

TurnParty SharedParty() {
  return TurnParty{g_turn.shared, g_turn.shared_free.get(), CommsLockTag(kRequestSlot), TakeFromEndedProcess,
                   g_turn.section_name};
}

}  // namespace

CallerTurn::CallerTurn(const Deadline& deadline) {
  VORN_STEP(kStepTurn);
  if (!OpenForCallers(deadline)) return;
  local_ = TakeTurn(LocalParty(), deadline);
  if (!local_) return;
  AtGap(kGapBetweenTurnWords, &g_turn.local.holder);
  // Without the block's section there is no tag, and no call goes out.
  if (!g_turn.shared || CommsLockTag(kRequestSlot) == 0) return;
  shared_ = TakeTurn(SharedParty(), deadline);
  if (!shared_) {
    LetGoOfTurn(LocalParty());
    local_ = false;
  }
}

CallerTurn::~CallerTurn() {
  VORN_STEP(kStepTurn);
  if (shared_) LetGoOfTurn(SharedParty());
  if (local_) LetGoOfTurn(LocalParty());
}

void CloseCallerTurn() {
  if (g_turn.shared) UnmapViewOfFile(g_turn.shared);
  g_turn.shared = nullptr;
  g_turn.section.reset();
  g_turn.shared_free.reset();
  g_turn.local_free.reset();
  CloseTakeOverGuard(g_turn.local_guard);
  CloseTakeOverGuard(g_turn.open_lock.guard);
  g_turn.opened = false;
  g_turn.refused = false;
}

const char* ProxySectionName() { return g_turn.section_name; }

void UseProxySectionName(const char* name) { snprintf(g_turn.section_name, sizeof g_turn.section_name, "%s", name); }
