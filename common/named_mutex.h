#pragma once
// A named mutex beside a section (the launcher's turn, the one host
// program), in a scoped handle: closed with its owner.

#include <windows.h>

#include <cstdint>

#include "unique_handle.h"

class NamedMutex {
 public:
  // Creates or opens the mutex `name`. False when it cannot be had (the
  // name belongs to another kind of object): GetLastError says why.
  bool Open(const char* name) {
    handle_.reset(CreateMutexA(nullptr, FALSE, name));
    return static_cast<bool>(handle_);
  }
  void Close() { handle_.reset(); }
  HANDLE get() const { return handle_.get(); }
  explicit operator bool() const { return static_cast<bool>(handle_); }
  // Waits at most `milliseconds`; true when this thread owns it now, also
  // when its last owner ended without releasing it (abandoned).
  bool Acquire(uint32_t milliseconds) const {
    const DWORD got = WaitForSingleObject(handle_.get(), milliseconds);
    return got == WAIT_OBJECT_0 || got == WAIT_ABANDONED;
  }
  void Release() const { ReleaseMutex(handle_.get()); }

 private:
  ScopedHandle handle_;
};
