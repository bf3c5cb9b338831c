// Built twice: against the host program's and the proxy library's flavour
// of the channel (VORN_PROXY_FLAVOUR). Needs a fresh process per case (as
// vorn_gtest runs them): the slot table and the signals switch are module state.
#include "channel.h"

#include <gtest/gtest.h>
#include <process.h>

#include <cstring>
#include <string>

#include "first_write_trap.h"
#include "fixed_clock.h"
#include "gap_seam.h"
#include "host_log.h"
#include "library_log.h"
#include "log_lines.h"
#include "round_trip.h"
#include "test_support.h"
#include "trace_stack.h"
#include "wait_seam.h"

namespace {

class Channel : public ::testing::Test {
 protected:
  void SetUp() override {
    FixedClock::Set(2026, 12, 8, 10, 0, 0, 0);
#ifdef VORN_PROXY_FLAVOUR
    LogSetLevel(1);
#endif
    name_ = vt::UniqueName("VornChannelTest");
  }
  std::vector<std::string> LogLines() {
#ifdef VORN_PROXY_FLAVOUR
    return vt::LibraryLogLines("logs\\channel_proxy_test.log", vt::kLibraryLogOpening);
#else
    return vt::HostLogLines(vt::kHostLogOpening, kHostLogFile);  // this tree's build names it
#endif
  }
  vt::ScopedTempDir dir_;
  std::string name_;
};

std::string Hex8(const void* p) {
  char s[16];
  snprintf(s, sizeof s, "%08x", static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)));
  return s;
}

// A process whose id stands for a holder of the lock word: cmd, started
// with `flags`, its handle kept until the end of the test.
struct Holder {
  explicit Holder(DWORD flags) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    char command[] = "cmd.exe /c exit 0";
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, flags | CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &started))
      return;
    CloseHandle(started.hThread);
    process = started.hProcess;
    id = started.dwProcessId;
  }
  ~Holder() {
    if (process) CloseHandle(process);
  }
  HANDLE process = nullptr;
  DWORD id = 0;
};

RequestBlock Pattern(uint8_t byte) {
  RequestBlock b;
  memset(&b, byte, sizeof b);
  b.lock = 0;
  return b;
}

// Sends a block from a thread of its own.
struct Sender {
  static unsigned __stdcall Run(void*) {
    RequestBlock b = Pattern(4);
    return CommsSend(0, &b, kBlockSize) ? 0 : 1;
  }
};

}  // namespace

TEST_F(Channel, StartMapsOnceAndLogsTheView) {
  CommsStart(0, kMapAllAccess, name_.c_str(), kSectionSize);
  void* view = g_channel[0].view;
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(g_channel[0].started, 1);
  CommsStart(0, kMapAllAccess, name_.c_str(), kSectionSize);
  EXPECT_EQ(g_channel[0].view, view);
  EXPECT_EQ(g_trace.depth, 0);
  auto lines = LogLines();
#ifdef VORN_PROXY_FLAVOUR
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Initialising Shared memoory");
  EXPECT_EQ(lines[1], "CommsStart entry 0 address 0x" + Hex8(view) + ", size=0x00002800 (10240)");
  EXPECT_STREQ(g_trace.frames[0], "CommsStart");
#else
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "CommsStart entry 0 address 0x" + Hex8(view));
#endif
}

TEST_F(Channel, SlotsOutsideTheTableDoNothing) {
  CommsStart(10, kMapAllAccess, name_.c_str(), kSectionSize);
  CommsStart(-1, kMapAllAccess, name_.c_str(), kSectionSize);
  EXPECT_EQ(g_trace.depth, 0);
  EXPECT_TRUE(LogLines().empty());
  RequestBlock b = Pattern(1);
  EXPECT_EQ(CommsSend(10, &b, kBlockSize), nullptr);
  EXPECT_EQ(CommsRecv(-1, &b, kBlockSize), nullptr);
}

TEST_F(Channel, ASlotWithoutAViewTouchesNoMemoryAndSaysSo) {
  RequestBlock b = Pattern(0x5a);
  EXPECT_EQ(CommsSend(3, &b, kBlockSize), nullptr);
  EXPECT_EQ(CommsRecv(3, &b, kBlockSize), nullptr);
  EXPECT_EQ(b.opcode, 0x5a5a5a5a);
  EXPECT_FALSE(CommsSendReply(3, b));
  EXPECT_EQ(g_trace.depth, 0);
}

TEST_F(Channel, AFailedMappingLeavesTheSlotStartedWithoutAView) {
  // An existing section smaller than the length asked for cannot be mapped whole.
  HANDLE small = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, name_.c_str());
  ASSERT_NE(small, nullptr);
  CommsStart(1, kMapAllAccess, name_.c_str(), 1 << 20);
  EXPECT_EQ(g_channel[1].started, 1);
  EXPECT_EQ(g_channel[1].view, nullptr);
  auto lines = LogLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2].rfind("CommsStart Could not map view of file 1 error:", 0), 0u);
  EXPECT_EQ(lines.back(), "");  // the message ends in a line end of its own
  RequestBlock b = Pattern(2);
  EXPECT_EQ(CommsRecv(1, &b, kBlockSize), nullptr);
  CloseHandle(small);
}

TEST_F(Channel, AFreshSectionReadsAsNoRequest) {
  CommsStart(0, kMapWrite, name_.c_str(), kSectionSize);
  RequestBlock b = Pattern(0xff);
  ASSERT_EQ(CommsRecv(0, &b, kBlockSize), &b);
  RequestBlock zero = {};
  EXPECT_EQ(memcmp(&b, &zero, sizeof b), 0);
}

TEST_F(Channel, BlocksCrossWholeAndTheLockWordReadsZero) {
  CommsStart(0, kMapAllAccess, name_.c_str(), kSectionSize);
  RequestBlock sent;
  for (int i = 0; i < kBlockSize; ++i) reinterpret_cast<uint8_t*>(&sent)[i] = static_cast<uint8_t>(i * 7 + 1);
  sent.lock = 0;
  ASSERT_EQ(CommsSend(0, &sent, kBlockSize), g_channel[0].view);
  RequestBlock got = Pattern(0);
  ASSERT_EQ(CommsRecv(0, &got, kBlockSize), &got);
  EXPECT_EQ(memcmp(&got, &sent, sizeof got), 0);
  // The section's own lock word is free again after each copy.
  EXPECT_EQ(static_cast<RequestBlock*>(g_channel[0].view)->lock, 0);
  EXPECT_EQ(g_trace.depth, 0);
}

TEST_F(Channel, ALockWhoseHolderHasEndedIsTakenOver) {
  CommsStart(0, kMapAllAccess, name_.c_str(), kSectionSize);
  // A process that has ended; its handle, kept open, keeps its id from reuse.
  Holder holder(0);
  ASSERT_NE(holder.process, nullptr);
  TerminateProcess(holder.process, 0);
  ASSERT_EQ(WaitForSingleObject(holder.process, 5000), WAIT_OBJECT_0);
  static_cast<RequestBlock*>(g_channel[0].view)->lock = static_cast<int32_t>(holder.id);
  RequestBlock b = Pattern(9);
  ASSERT_NE(CommsSend(0, &b, kBlockSize), nullptr);
  EXPECT_EQ(static_cast<RequestBlock*>(g_channel[0].view)->lock, 0);
  EXPECT_EQ(static_cast<RequestBlock*>(g_channel[0].view)->opcode, 0x09090909);
}

std::string HolderObject(const std::string& section, LONG tag) { return section + kHolderSuffix + std::to_string(tag); }

// The waiter's pauses, on the virtual clock that only they move: one that
// pauses on past its deadline finds the word freed, as its holder would
// free it, after twice its time, and sends.
constexpr int kPausedHolderWaitMs = 1500;
volatile LONG* g_paused_word;
LONG g_paused_holder;
int g_pauses;

void FreeTheWordLongAfterTheDeadline(uint32_t) {
  if (++g_pauses == 2 * kPausedHolderWaitMs) InterlockedCompareExchange(g_paused_word, 0, g_paused_holder);
}

// A holder that is only paused (a suspended process, a debugger, a machine
// coming out of sleep) keeps its lock however long, and frees it itself; a
// waiter gives up at its deadline instead of taking it over.
TEST_F(Channel, APausedHolderKeepsItsLockAndAloneReleasesIt) {
  CommsStart(0, kMapAllAccess, name_.c_str(), kSectionSize);
  Holder holder(CREATE_SUSPENDED);  // a process that runs, but never gets on
  ASSERT_NE(holder.process, nullptr);
  // The event that a holder keeps open while it uses the section.
  HANDLE alive = CreateEventA(nullptr, TRUE, FALSE, HolderObject(name_, static_cast<LONG>(holder.id)).c_str());
  ASSERT_NE(alive, nullptr);
  volatile LONG* word = reinterpret_cast<volatile LONG*>(&static_cast<RequestBlock*>(g_channel[0].view)->lock);
  *word = static_cast<LONG>(holder.id);
  RequestBlock b = Pattern(4);
  g_paused_word = word;
  g_paused_holder = static_cast<LONG>(holder.id);
  g_pauses = 0;
  SetVirtualClock(true);
  SetPauseHook(FreeTheWordLongAfterTheDeadline);
  EXPECT_EQ(CommsSend(0, &b, kBlockSize, Deadline::In(kPausedHolderWaitMs)), nullptr)
      << "the lock was taken over, or waited for past the deadline";
  SetPauseHook(nullptr);
  EXPECT_EQ(g_pauses, kPausedHolderWaitMs);
  EXPECT_EQ(VornNowUs(), kPausedHolderWaitMs * 1000LL);
  SetVirtualClock(false);
  EXPECT_EQ(*word, static_cast<LONG>(holder.id));
  Sender sender;
  HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Sender::Run, &sender, 0, nullptr));
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(InterlockedCompareExchange(word, 0, static_cast<LONG>(holder.id)), static_cast<LONG>(holder.id));
  EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  DWORD sent = 1;
  GetExitCodeThread(thread, &sent);
  EXPECT_EQ(sent, 0u);
  CloseHandle(thread);
  EXPECT_EQ(static_cast<RequestBlock*>(g_channel[0].view)->opcode, 0x04040404);
  EXPECT_EQ(*word, 0);
  CloseHandle(alive);
  TerminateProcess(holder.process, 0);
}

// A writer that ends inside its copy: slot 1 plays it (tag 4242), on a
// thread that ends at one place of its copy, as its process would have
// been ended there. Its event goes with it.
constexpr LONG kDeadTag = 4242;
GapPoint g_end_at;
DWORD g_writer;

void EndTheWriterThere(GapPoint point, const volatile void*) {
  if (point != g_end_at || GetCurrentThreadId() != g_writer) return;
  CloseHandle(g_channel[1].holder_object);
  g_channel[1].holder_object = nullptr;
  ExitThread(0);
}

unsigned __stdcall WriteAnAnswer(void*) {
  RequestBlock answer = Pattern(0x33);
  answer.done = 1;
  CommsSend(1, &answer, kBlockSize);
  return 1;
}

void EndAWriterInsideItsCopy(const std::string& section, GapPoint where) {
  CommsUseLockTag(1, kDeadTag);
  CommsStart(1, kMapAllAccess, section.c_str(), kSectionSize);
  g_end_at = where;
  SetGapHook(EndTheWriterThere);
  unsigned id = 0;
  HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, WriteAnAnswer, nullptr, CREATE_SUSPENDED, &id));
  g_writer = id;
  ResumeThread(thread);
  ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  DWORD code = 2;
  GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  SetGapHook(nullptr);
  ASSERT_EQ(code, 0u) << "the writer did not end inside its copy";
  ASSERT_EQ(static_cast<RequestBlock*>(g_channel[0].view)->lock, kDeadTag);
}

// Whoever takes the lock over reads no request and no answer in the block
// that was left half-written, whether or not its record is the new one.
void ExpectHalfWrittenBlockNotTaken(int32_t slot) {
  RequestBlock seen = Pattern(0);
  ASSERT_EQ(CommsRecv(slot, &seen, kBlockSize, Deadline::In(5000)), &seen);
  EXPECT_EQ(seen.opcode, kNoRequest);
  EXPECT_EQ(static_cast<RequestBlock*>(g_channel[0].view)->lock, 0);
}

// An answer over a request, its writer ended after each of its writes in
// turn: the block never reads as a request or an answer.
TEST_F(Channel, AHolderThatEndedInsideACopyIsTakenOverAndItsBlockNotTaken) {
  CommsStart(0, kMapAllAccess, name_.c_str(), kSectionSize);
  for (GapPoint where : {kGapCopyOpcodeCleared, kGapCopyRecordWritten, kGapCopyDoneWritten}) {
    SCOPED_TRACE(where);
    RequestBlock request = Pattern(0x11);
    request.done = 0;
    ASSERT_NE(CommsSend(0, &request, kBlockSize), nullptr);
    EndAWriterInsideItsCopy(name_, where);
    ExpectHalfWrittenBlockNotTaken(0);
    auto lines = LogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "CommsLock holder 4242 of " + name_ + " has ended; its lock is taken over");
    CommsStop(1);
  }
}

// The process that comes next (the host started in place of the one that
// ended) is given the dead holder's id: it takes the lock as its own, and
// does not take the half-written block either. Meanwhile another process
// (slot 0) does not take the new process for the holder for good.
TEST_F(Channel, AHolderWhoseIdTheNextProcessIsGivenIsTakenOverByThatProcess) {
  CommsStart(0, kMapAllAccess, name_.c_str(), kSectionSize);
  EndAWriterInsideItsCopy(name_, kGapCopyRecordWritten);
  CommsUseLockTag(2, kDeadTag);
  CommsStart(2, kMapAllAccess, name_.c_str(), kSectionSize);
  ASSERT_NE(g_channel[2].holder_object, nullptr);
  // The other process gives up at its deadline: the id is alive again.
  RequestBlock seen;
  EXPECT_EQ(CommsRecv(0, &seen, kBlockSize, Deadline::In(100)), nullptr);
  ExpectHalfWrittenBlockNotTaken(2);
  EXPECT_EQ(CommsRecv(0, &seen, kBlockSize), &seen);
}

// Two modules of one process that use one section, each with its own
// table, get tags of their own: one waits for the other's lock instead of
// taking it for its own.
TEST_F(Channel, TwoTablesOfOneProcessOnOneSectionHaveTagsOfTheirOwn) {
  CommsStart(0, kMapAllAccess, name_.c_str(), kSectionSize);
  CommsStart(1, kMapAllAccess, name_.c_str(), kSectionSize);
  ASSERT_NE(g_channel[0].lock_tag, g_channel[1].lock_tag);
  EXPECT_EQ(g_channel[0].lock_tag, static_cast<LONG>(GetCurrentProcessId()));
  ASSERT_TRUE(CommsTakeLock(0));
  RequestBlock b = Pattern(6);
  EXPECT_EQ(CommsSend(1, &b, kBlockSize, Deadline::In(200)), nullptr);
  CommsReleaseLock(0);
  EXPECT_NE(CommsSend(1, &b, kBlockSize), nullptr);
  EXPECT_EQ(static_cast<RequestBlock*>(g_channel[0].view)->lock, 0);
}

// A waiter stopped between judging the holder ended and its
// compare-exchange (slot 1, its tag 5001), and let in there in turn:
//  - another waiter (slot 2), which does not take the lock over as well;
//  - a process given the ended holder's tag (slot 2 anew), which is given
//    another one, and so does not take the word for its own;
//  - a peer that copies whole blocks writes the word (0 there), and
//    another slot takes the lock: the stopped waiter's compare-exchange,
//    against the ended holder, leaves it to that slot.
enum class LetIn { kAnotherWaiter, kTheHoldersTagAnew, kANewHolder };
LetIn g_let_in;
bool g_inside_hook;
bool g_other_took;

void LetAnotherPartyIn(GapPoint point, const volatile void* word) {
  if (point != kGapHolderEnded || g_inside_hook || word != &static_cast<RequestBlock*>(g_channel[1].view)->lock) {
    return;
  }
  g_inside_hook = true;
  switch (g_let_in) {
    case LetIn::kAnotherWaiter: g_other_took = CommsTakeLock(2, Deadline::In(50)); break;
    case LetIn::kTheHoldersTagAnew:
      CommsStop(2);
      CommsUseLockTag(2, *static_cast<const volatile LONG*>(word));
      CommsStart(2, kMapAllAccess, g_channel[0].name, kSectionSize);
      g_other_took = CommsTakeLock(2, Deadline::In(50));
      break;
    case LetIn::kANewHolder:
      *static_cast<volatile LONG*>(const_cast<volatile void*>(word)) = 0;
      g_other_took = CommsTakeLock(2, Deadline::In(50));
      break;
  }
  // Kept by a new holder; else given back at once, should it have been had.
  if (g_other_took && g_let_in != LetIn::kANewHolder) CommsReleaseLock(2);
  g_inside_hook = false;
}

TEST_F(Channel, AnEndedHoldersLockIsTakenOverByTheOneWaiterThatJudgedItEnded) {
  CommsStart(0, kMapAllAccess, name_.c_str(), kSectionSize);
  CommsUseLockTag(1, 5001);
  CommsUseLockTag(2, 5002);
  CommsStart(1, kMapAllAccess, name_.c_str(), kSectionSize);
  CommsStart(2, kMapAllAccess, name_.c_str(), kSectionSize);
  volatile int32_t* word = &static_cast<RequestBlock*>(g_channel[0].view)->lock;
  SetGapHook(LetAnotherPartyIn);
  const RequestBlock b = Pattern(5);
  LONG ended = 7000;  // holders without their events
  for (LetIn let_in : {LetIn::kAnotherWaiter, LetIn::kTheHoldersTagAnew}) {
    g_let_in = let_in;
    g_other_took = true;
    *word = ++ended;
    EXPECT_NE(CommsSend(1, &b, kBlockSize, Deadline::In(5000)), nullptr);
    EXPECT_FALSE(g_other_took);
    EXPECT_EQ(LogLines().back(),
              "CommsLock holder " + std::to_string(ended) + " of " + name_ + " has ended; its lock is taken over");
    EXPECT_EQ(*word, 0);
  }
  EXPECT_NE(g_channel[2].lock_tag, ended) << "a process was given a tag that a waiter had judged ended";
  g_let_in = LetIn::kANewHolder;
  *word = ++ended;
  EXPECT_EQ(CommsSend(1, &b, kBlockSize, Deadline::In(50)), nullptr);
  SetGapHook(nullptr);
  EXPECT_TRUE(g_other_took);
  EXPECT_EQ(*word, g_channel[2].lock_tag);
  CommsReleaseLock(2);
}

// The lock is taken with one compare-exchange: another slot that takes it
// at the moment this slot's take first writes the word keeps it, and this
// slot waits for it.
TEST_F(Channel, ALockTakenAsATakerFirstWritesTheWordIsTheOtherSlotsAlone) {
  CommsStart(0, kMapAllAccess, name_.c_str(), kSectionSize);
  CommsStart(1, kMapAllAccess, name_.c_str(), kSectionSize);
  volatile int32_t* word = &static_cast<RequestBlock*>(g_channel[0].view)->lock;
  bool taken;
  {
    vt::FirstWriteTrap trap(word, [] { ASSERT_TRUE(CommsTakeLock(1)); });
    taken = CommsTakeLock(0, Deadline::In(50));
    EXPECT_TRUE(trap.sprung());
  }
  EXPECT_FALSE(taken);
  EXPECT_EQ(*word, g_channel[1].lock_tag);
  CommsReleaseLock(1);
}

// A thread of this process stopped inside its copy holds the slot's local
// lock: another thread's copy waits, and fails at its deadline. Once that
// thread is ended from outside, the next copy takes the lock over at its
// first look, and reads no request or answer in the block left
// half-written.
DWORD g_stopped;
HANDLE g_inside;

unsigned __stdcall SendAndStopInside(void*) {
  RequestBlock answer = Pattern(0x44);
  answer.done = 1;
  CommsSend(0, &answer, kBlockSize);
  return 1;
}

TEST_F(Channel, AThreadEndedFromOutsideInsideACopyCostsTheNextCopyOneLook) {
  CommsStart(0, kMapAllAccess, name_.c_str(), kSectionSize);
  g_inside = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetGapHook([](GapPoint point, const volatile void*) {
    if (point != kGapCopyRecordWritten || GetCurrentThreadId() != g_stopped) return;
    SetEvent(g_inside);
    Sleep(INFINITE);
  });
  unsigned id = 0;
  HANDLE thread =
      reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, SendAndStopInside, nullptr, CREATE_SUSPENDED, &id));
  g_stopped = id;
  ResumeThread(thread);
  ASSERT_EQ(WaitForSingleObject(g_inside, 5000), WAIT_OBJECT_0);
  RequestBlock seen = Pattern(0);
  EXPECT_EQ(CommsRecv(0, &seen, kBlockSize, Deadline::In(50)), nullptr);
  TerminateThread(thread, 9);
  ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  CloseHandle(thread);
  SetGapHook(nullptr);
  EXPECT_EQ(CommsRecv(0, &seen, kBlockSize, Deadline::In(kLockWaitMs)), &seen);
  EXPECT_EQ(seen.opcode, kNoRequest);
  EXPECT_EQ(static_cast<RequestBlock*>(g_channel[0].view)->lock, 0);
  auto lines = LogLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "ThreadLock thread " + std::to_string(id) + " ended holding the local lock of " + name_ +
                              "; it is taken over");
  CloseHandle(g_inside);
}

// A lock taken over from this process (it was thought to have ended) is
// the new holder's: this process's release leaves it alone.
TEST_F(Channel, ALockIsReleasedOnlyByItsHolder) {
  CommsStart(0, kMapAllAccess, name_.c_str(), kSectionSize);
  volatile int32_t* word = &static_cast<RequestBlock*>(g_channel[0].view)->lock;
  ASSERT_TRUE(CommsTakeLock(0));
  EXPECT_EQ(*word, g_channel[0].lock_tag);
  *word = 777;  // taken over
  CommsReleaseLock(0);
  EXPECT_EQ(*word, 777);
  *word = 0;
  CommsTakeLock(0);
  CommsReleaseLock(0);
  EXPECT_EQ(*word, 0);
}

TEST_F(Channel, AReplyIsWrittenOnlyOverTheRequestItAnswers) {
  CommsStart(0, kMapAllAccess, name_.c_str(), kSectionSize);
  RequestBlock request = {};
  request.opcode = request.pending_opcode = kRequestGetDeviceInfo;
  request.request_id = 41;
  ASSERT_NE(CommsSend(0, &request, kBlockSize), nullptr);

  RequestBlock reply = request;
  reply.done = 1;
  reply.result = 77;
  EXPECT_TRUE(CommsSendReply(0, reply));
  RequestBlock seen;
  CommsRecv(0, &seen, kBlockSize);
  EXPECT_EQ(seen.done, 1);
  EXPECT_EQ(seen.result, 77);

  // Answered already: a second write-back is refused.
  reply.result = 78;
  EXPECT_FALSE(CommsSendReply(0, reply));

  // A newer request in the section is never overwritten by a late answer.
  RequestBlock newer = request;
  newer.request_id = 42;
  CommsSend(0, &newer, kBlockSize);
  EXPECT_FALSE(CommsSendReply(0, reply));
  CommsRecv(0, &seen, kBlockSize);
  EXPECT_EQ(seen.request_id, 42);
  EXPECT_EQ(seen.done, 0);
  EXPECT_EQ(seen.result, 0);
  EXPECT_EQ(g_trace.depth, 0);
}

// What a watch saw is what the read under the lock after it finds: an
// answer whose copy is over, or a block without a request; a request still
// waiting, or an answer still being written, keeps it watching.
TEST_F(Channel, AWatchEndsOnlyOnAnAnswerOrNoRequestThatNoCopyIsWriting) {
  CommsStart(0, kMapAllAccess, name_.c_str(), kSectionSize);
  constexpr uint32_t kWatchUs = 2000;
  RequestBlock request = {};
  request.opcode = request.pending_opcode = kRequestDeviceControl;
  request.request_id = 7;
  ASSERT_NE(CommsSend(0, &request, kBlockSize), nullptr);
  EXPECT_FALSE(CommsWatchForAnswer(0, kWatchUs));

  static bool seen_mid_copy;
  seen_mid_copy = true;
  SetGapHook([](GapPoint point, const volatile void*) {
    if (point == kGapCopyDoneWritten) seen_mid_copy = CommsWatchForAnswer(0, kWatchUs);
  });
  RequestBlock reply = request;
  reply.done = 1;
  ASSERT_TRUE(CommsSendReply(0, reply));
  SetGapHook(nullptr);
  EXPECT_FALSE(seen_mid_copy);  // done written, the opcode not yet: the copy holds the lock
  EXPECT_TRUE(CommsWatchForAnswer(0, kWatchUs));

  RequestBlock empty = {};
  ASSERT_NE(CommsSend(0, &empty, kBlockSize), nullptr);
  EXPECT_TRUE(CommsWatchForAnswer(0, kWatchUs));
  ASSERT_TRUE(CommsTakeLock(0));
  EXPECT_FALSE(CommsWatchForAnswer(0, kWatchUs));
  CommsReleaseLock(0);
}

#ifdef VORN_PROXY_FLAVOUR
TEST_F(Channel, ASecondStartIsTracedButNotLogged) {
  CommsStart(0, kMapAllAccess, name_.c_str(), kSectionSize);
  size_t before = LogLines().size();
  CommsStart(0, kMapAllAccess, name_.c_str(), kSectionSize);
  EXPECT_EQ(LogLines().size(), before);
  EXPECT_EQ(g_trace.depth, 0);
}
#endif

TEST_F(Channel, StartOpensTheTwoWakeUpEventsNamedAfterTheSection) {
  CommsStart(0, kMapAllAccess, name_.c_str(), kSectionSize);
  const char* suffixes[] = {".Request", ".Reply"};
  for (int e = 0; e < kChannelEventCount; ++e) {
    ASSERT_NE(g_channel[0].events[e], nullptr);
    // The other side opens the same object by name; it resets itself when a wait takes it.
    HANDLE other = OpenEventA(SYNCHRONIZE, FALSE, (name_ + suffixes[e]).c_str());
    ASSERT_NE(other, nullptr) << suffixes[e];
    CommsSignal(0, static_cast<ChannelEvent>(e));
    EXPECT_EQ(WaitForSingleObject(other, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(other, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(other);
  }
  // A signal ends the next wait at once and is taken by it.
  CommsSignal(0, kReplyEvent);
  EXPECT_TRUE(CommsWait(0, kReplyEvent, 30000));
  EXPECT_FALSE(CommsWait(0, kReplyEvent, 1));
}

TEST_F(Channel, AnEventNameTakenByAnotherObjectIsLoggedAndThatSidePolled) {
  HANDLE squatter = CreateMutexA(nullptr, FALSE, (name_ + ".Request").c_str());
  ASSERT_NE(squatter, nullptr);
  CommsStart(0, kMapAllAccess, name_.c_str(), kSectionSize);
  ASSERT_NE(g_channel[0].view, nullptr);
  EXPECT_EQ(g_channel[0].events[kRequestEvent], nullptr);
  EXPECT_NE(g_channel[0].events[kReplyEvent], nullptr);
  auto lines = LogLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "CommsStart Could not open event " + name_ + ".Request error:6; that side is polled only");
  // Without its event a wait is the plain sleep, and a signal does nothing.
  SetSleepFunction(vt::SleepLog::Record);
  vt::SleepLog::Reset();
  CommsSignal(0, kRequestEvent);
  EXPECT_FALSE(CommsWait(0, kRequestEvent, 1));
  EXPECT_EQ(vt::SleepLog::calls, 1u);
  SetSleepFunction(nullptr);
  CloseHandle(squatter);
}

TEST_F(Channel, WithSignalsDisabledNoEventIsOpened) {
  CommsDisableSignals();
  CommsStart(0, kMapAllAccess, name_.c_str(), kSectionSize);
  ASSERT_NE(g_channel[0].view, nullptr);
  EXPECT_EQ(g_channel[0].events[kRequestEvent], nullptr);
  EXPECT_EQ(g_channel[0].events[kReplyEvent], nullptr);
  HANDLE other = OpenEventA(SYNCHRONIZE, FALSE, (name_ + ".Reply").c_str());
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(Channel, AWithdrawnRequestLosesItsOpcodeOnlyWhileItIsStillInTheSection) {
  CommsStart(0, kMapAllAccess, name_.c_str(), kSectionSize);
  RequestBlock request = {};
  request.opcode = request.pending_opcode = kRequestDeviceControl;
  request.request_id = 31;
  CommsSend(0, &request, kBlockSize);
  const LastSent sent{request.opcode, request.request_id};
  EXPECT_FALSE(WithdrawRequest<RequestBlock>(0, LastSent{request.opcode, 32}));
  EXPECT_TRUE(WithdrawRequest<RequestBlock>(0, sent));
  RequestBlock seen;
  CommsRecv(0, &seen, kBlockSize);
  EXPECT_EQ(seen.opcode, kNoRequest);
  EXPECT_EQ(seen.request_id, 31);
  // An answered request stays as it is.
  request.done = 1;
  CommsSend(0, &request, kBlockSize);
  EXPECT_FALSE(WithdrawRequest<RequestBlock>(0, sent));
  CommsRecv(0, &seen, kBlockSize);
  EXPECT_EQ(seen.opcode, kRequestDeviceControl);
}
