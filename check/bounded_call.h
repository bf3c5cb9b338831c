#pragma once
// Runs a call that may block (it goes through the proxy to the host
// program and the pad) on a thread of its own, and waits for it at most a
// bound. A call still running after its bound is left behind: the tool
// then skips whatever would call into the same place, and ends with
// ExitProcess, which ends that thread too.

#include <windows.h>

#include <functional>

// True when the call returned within `bound_ms`.
bool CallWithin(DWORD bound_ms, const std::function<void()>& call);
