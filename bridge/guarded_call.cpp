#include "guarded_call.h"

#include <windows.h>

extern "C" {
int VornGuardedFrame(GuardedBody body, void* context, GuardedFault* fault);
void vorn_guarded_fault();
EXCEPTION_DISPOSITION __cdecl VornGuardHandler(EXCEPTION_RECORD* record, void* frame, CONTEXT* context, void*);
}

namespace {

// The registration that guarded_call_x86.S pushes.
struct GuardFrame {
  void* next;
  void* handler;
  uint32_t frame_ebp;  // VornGuardedFrame's %ebp: its arguments lie at +8
};

constexpr DWORD kUnwinding = EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND;
constexpr DWORD kDirectionFlag = 0x400;

}  // namespace

EXCEPTION_DISPOSITION __cdecl VornGuardHandler(EXCEPTION_RECORD* record, void* frame, CONTEXT* context, void*) {
  if ((record->ExceptionFlags & kUnwinding) != 0 || record->ExceptionCode == EXCEPTION_STACK_OVERFLOW)
    return ExceptionContinueSearch;
  auto* guard = static_cast<GuardFrame*>(frame);
  GuardedFault* fault = *reinterpret_cast<GuardedFault**>(guard->frame_ebp + 16);
  fault->code = record->ExceptionCode;
  fault->address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(record->ExceptionAddress));
  // The plug-in's frames above this one run their termination handlers and
  // leave the chain; then this frame's code goes on with its own stack.
  RtlUnwind(frame, nullptr, record, nullptr);
  context->Esp = static_cast<DWORD>(reinterpret_cast<uintptr_t>(frame));
  context->Ebp = guard->frame_ebp;
  context->Eip = static_cast<DWORD>(reinterpret_cast<uintptr_t>(&vorn_guarded_fault));
  context->EFlags &= ~kDirectionFlag;
  return ExceptionContinueExecution;
}

bool GuardedCall(GuardedBody body, void* context, GuardedFault* fault) {
  *fault = GuardedFault{};
  return VornGuardedFrame(body, context, fault) == 0;
}
