#pragma once
// The shared-memory channel: a table of named, page-file-backed sections,
// each mapped once for the life of the module. CommsStart, CommsSend and
// CommsRecv are the system's own names for these operations.
//
// The hand-over rule.
//
// The block crosses as one 256-byte copy in each direction, but a plain
// copy gives no ordering: a reader could act on a block that the other
// process is half-way through writing (a new request over an answered one
// still shows a non-zero opcode while done is already 0; a reply could show
// done before result, args and payload). So every copy into or out of a
// section is made while holding the section's lock word, the block's `lock`
// at byte 4:
//  - the lock is taken with an interlocked compare-exchange from 0 to the
//    holder's tag and released with a compare-exchange from that tag back
//    to 0, so only its holder ever frees it; both are full barriers for the
//    compiler and the processor, so the copy between them is seen whole or
//    not at all by the other side. A slot's tag is the process id where no
//    live holder has it, else another value that none has;
//  - the lock word itself is never copied: a sent block leaves it alone and
//    a received block reads 0 there, as every block that crosses has it;
//  - a waiter spins briefly, then yields, then waits a millisecond at a
//    time, until its deadline, counted on the clock of its call's deadline
//    (lock_wait.h): a copy that cannot get the lock fails, and its caller
//    treats that like a section without an answer. The threads of one
//    process take the lock word one at a time, under the slot's local lock
//    (thread_lock.h), whose waits have the same deadline; a thread ended
//    from outside inside a copy is taken over from at the first look;
//  - the lock is taken over only from a holder that can never release it,
//    because its process has ended (a host ended from outside inside its
//    copy): each slot keeps the event "<section>.Holder.<tag>" open while
//    it is open, and a holder whose event is gone has ended, even where its
//    process id now belongs to another process. A waiter that finds it gone
//    makes that event itself and keeps it until its compare-exchange
//    against the holder is done, so no process is given that tag meanwhile
//    and no other waiter takes the lock over too; being against that very
//    holder, the compare-exchange leaves a word that changed since (a peer
//    that copies whole blocks may write it) to whoever has it now. A
//    holder that is merely paused (a debugger, a suspended process, a
//    machine coming out of sleep) keeps it, however long, and frees it
//    itself when it runs again;
//  - a slot's tag is one whose event it made anew: nobody else has it, and
//    nobody is between judging it ended and a compare-exchange against it.
//    So a slot that finds its own tag in the word while no thread of its
//    process holds the lock (one ended inside its copy, an ended process
//    whose tag it was given, or a peer that copies whole blocks wrote back
//    a word it read while this slot held it) takes the lock as its own;
//  - a copy writes the opcode last and clears it first, with `done` just
//    before the opcode: a block left half-written by a holder that ended
//    inside its copy has no opcode, and reads as no request and no answer.
// On top of this the host writes an answer back only while the section
// still holds the request it answers (CommsSendReply), so a late answer
// never overwrites a newer request.
//
// Wake-up. The section is still the only thing that carries a request or
// an answer; the two events only end the other side's wait early. Every
// wait ends in a read of the section, so a lost, late or missing signal
// costs at most one wait (the host's between requests is the long one, see
// host/poll_loop.h), and a peer that never signals (or a process whose
// events could not be opened) is still served.
//
// Callers in several processes (and threads) take turns around the whole
// round trip: see proxy/caller_turn.h.

#include <windows.h>

#include <cstdint>

#include "request_block.h"
#include "thread_lock.h"
#include "wait_seam.h"

constexpr int kChannelSlots = 10;  // the table's size
// The one slot of the table that the host and the proxy use, for the
// section that carries the request block.
constexpr int32_t kRequestSlot = 0;

// How a process maps the section's view (CommsStart's `access`): the host
// asks for write access, the proxy for all access.
enum ChannelAccess : int32_t {
  kMapWrite = 0,      // FILE_MAP_WRITE
  kMapAllAccess = 1,  // FILE_MAP_ALL_ACCESS
};

// The two wake-up events beside a section, named after it: the proxy
// signals kRequestEvent after it has written a request, the host
// kReplyEvent after it has written an answer back.
enum ChannelEvent { kRequestEvent, kReplyEvent, kChannelEventCount };

// How long a copy waits for the section's lock when its caller names no
// deadline of its own (the host's polls, the tools).
constexpr uint32_t kLockWaitMs = 1000;
constexpr char kHolderSuffix[] = ".Holder.";

struct ChannelSlot {
  int32_t started;  // CommsStart has run for the slot, whatever its outcome
  HANDLE mapping;
  void* view;                         // null when creating or mapping the section failed
  int32_t size;                       // mapped length
  HANDLE events[kChannelEventCount];  // null: that side of the hand-over is polled only
  char name[MAX_PATH];                // the section's name, for the objects named after it
  LONG lock_tag;                      // this process's tag in the lock word
  HANDLE holder_object;               // "<name>.Holder.<tag>", open while the slot is
  ThreadLock local_lock;              // this process's threads take the lock word in turn
};

// What the host program's and the proxy library's copies of the channel do
// differently; each deliverable links the one that describes it.
struct ChannelFlavour {
  bool trace_before_slot_test;  // push "CommsStart" before the slot test
  bool log_initialising;        // log "Initialising" "Shared memoory" after it
  bool log_size;                // success line carries the size as well
  bool trace_recv;              // CommsRecv pushes "CommsRecv"
};
extern const ChannelFlavour kChannelFlavour;

extern ChannelSlot g_channel[kChannelSlots];

// Creates or opens the section and maps it, then creates or opens the
// events "<name>.Request" and "<name>.Reply" (auto-reset). An event that
// cannot be had (a name taken by an object of another type) is logged and
// left null: the channel then polls, as it does with a peer that never
// signals. Does nothing for a slot that has its view; a slot without one
// (its section could not be had) is tried again.
void CommsStart(int32_t slot, int32_t access, const char* name, int32_t size);
// Unmaps the slot's view and closes every handle it holds; the slot is as
// before its first CommsStart. For a module that is being unloaded.
void CommsStop(int32_t slot);
// Tests: the slot's next CommsStart tries `tag` first, in place of the
// process id (0: the process id again), to play a process that was given a
// dead holder's id; like the process id, it is taken only where its event
// is new.
void CommsUseLockTag(int32_t slot, LONG tag);
// Makes the next CommsStart open no events, so that this process plays a
// peer that only polls (for tests and the benchmark).
void CommsDisableSignals();
// Both copy under the section's hand-over lock (see above). They
// return null, touching no memory, when the slot has no view, the length
// does not fit the view or the lock could not be had by `deadline`;
// otherwise the view (send) or dst (receive).
void* CommsSend(int32_t slot, const void* src, int32_t len, const Deadline& deadline = Deadline::In(kLockWaitMs));
void* CommsRecv(int32_t slot, void* dst, int32_t len, const Deadline& deadline = Deadline::In(kLockWaitMs));

// The number for a new request of this module. Numbers start from a value
// mixed from the process id and the tick count, so that two processes, or
// two runs of one, are unlikely to use the same number for requests that
// may meet in a section. 0 is never used.
int32_t CommsNextRequestNumber();

// The host's write-back of an answered block: writes the whole block only
// while the section still holds the request it answers (same opcode and
// request number, not yet answered). Returns whether it was written.
bool CommsSendReply(int32_t slot, const RequestBlock& reply);

// The section's lock word on its own, as CommsSend and CommsRecv take and
// release it around their copies (for tests of the hand-over rule).
bool CommsTakeLock(int32_t slot, const Deadline& deadline = Deadline::In(kLockWaitMs));
void CommsReleaseLock(int32_t slot);

// The slot's view with its lock taken, for a record of `len` bytes; null
// (and no lock) when the slot has no view that large or the lock could not
// be had by `deadline`. CommsReleaseLock frees it.
void* CommsLockView(int32_t slot, int32_t len, const Deadline& deadline = Deadline::In(kLockWaitMs));
// Copies `len` bytes of `src` over a record in a view, all but its lock
// word, which stays its holder's.
void CommsCopyKeepingLock(void* record, const void* src, int32_t len);

// Under the section's lock: when the slot's record is still `request`
// (same opcode and request number, not yet answered), runs `change` on it.
// Returns whether it did. Serves every record that begins with opcode,
// lock and done, as the block does; `request` needs only the opcode and
// the request number.
template <typename Record, typename Request, typename Change>
bool CommsChangeUnanswered(int32_t slot, const Request& request, Change change,
                           const Deadline& deadline = Deadline::In(kLockWaitMs)) {
  auto* current = static_cast<Record*>(CommsLockView(slot, static_cast<int32_t>(sizeof(Record)), deadline));
  if (!current) return false;
  const bool same =
      current->opcode == request.opcode && current->request_id == request.request_id && current->done == 0;
  if (same) change(*current);
  CommsReleaseLock(slot);
  return same;
}

// "<section name><suffix>", the name of an object that lives beside the
// slot's section; false when the slot has no view or the name does not fit.
bool CommsObjectName(int32_t slot, const char* suffix, char* name, size_t size);

// The slot's tag, as its lock word holds it (0 while the slot has no view).
// Other words that name a holder beside the section (the callers' turn)
// use the same tags, and take them over as the lock word does: `seen` in
// `word` is replaced by `value` when the process that had that tag has
// ended (its event "<section>.Holder.<tag>" is gone; the event is made and
// kept until the compare-exchange is done), or when it is the slot's own
// tag, which the caller does not hold. False otherwise, and when the word
// no longer holds `seen`.
LONG CommsLockTag(int32_t slot);
bool CommsTakeFromEndedHolder(int32_t slot, volatile LONG* word, LONG seen, LONG value);

// Wakes the other side's wait on `event`; nothing without that event.
void CommsSignal(int32_t slot, ChannelEvent event);
// One poll interval: waits at most `milliseconds` for `event`, or sleeps
// them through without it. True when the other side's signal ended it.
bool CommsWait(int32_t slot, ChannelEvent event, uint32_t milliseconds);
// CommsSignal of `signal`, then CommsWait on `event`, in one call to the
// system where both events are there (VornSignalAndWait).
bool CommsSignalAndWait(int32_t slot, ChannelEvent signal, ChannelEvent event, uint32_t milliseconds);
// Takes a signal that is already there, without waiting; false without one
// (or without that event).
bool CommsTakeSignal(int32_t slot, ChannelEvent event);
// Watches the block's words for at most `microseconds` of real time,
// without taking its lock: true as soon as the block is answered or holds
// no request while nobody holds the lock (a copy is over), so that a read
// under the lock finds what the watch saw; false at the end of the time,
// and for a slot without a view. It only reads: what the block holds is
// taken by a read under the lock, as after any wait.
bool CommsWatchForAnswer(int32_t slot, uint32_t microseconds);
