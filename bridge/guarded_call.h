#pragma once
// A call into a plug-in that may fault, made as a structured exception
// handler around it would make it: the plug-in's own handlers see the
// fault first; one that none of them takes ends the call, the frames it
// left are unwound (their termination handlers run), and the caller goes
// on. A stack overflow is never taken: the thread has no guard page left
// afterwards, so the process ends instead (CrashEndsProcess).
// 32-bit x86 only: the frame is the thread's exception registration chain.

#include <cstdint>

struct GuardedFault {
  uint32_t code = 0;     // the exception code; 0: the call returned
  uint32_t address = 0;  // where it was raised
};

using GuardedBody = void (*)(void* context);

// Runs body(context); true when it returned, false when a fault ended it
// (then `*fault` says which).
bool GuardedCall(GuardedBody body, void* context, GuardedFault* fault);
