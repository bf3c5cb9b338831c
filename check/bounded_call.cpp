#include "bounded_call.h"

#include <process.h>

namespace {

unsigned __stdcall RunCall(void* call) {
  (*static_cast<std::function<void()>*>(call))();
  return 0;
}

}  // namespace

bool CallWithin(DWORD bound_ms, const std::function<void()>& call) {
  // Kept alive for a thread that may outlive this function.
  auto* pending = new std::function<void()>(call);
  HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, RunCall, pending, 0, nullptr));
  if (!thread) {
    delete pending;
    return false;
  }
  const bool returned = WaitForSingleObject(thread, bound_ms) == WAIT_OBJECT_0;
  CloseHandle(thread);
  if (returned) delete pending;
  return returned;
}
