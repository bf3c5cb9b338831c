#pragma once
// One owner per handle: closed once, when its owner goes or takes another,
// on every path out of a function. Null means no handle. The closer is a
// type, so that the proxy's process control can close through its table of
// system calls (which tests replace) and everything else with CloseHandle.

#include <windows.h>

template <typename Closer>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  // Gives the handle up without closing it.
  HANDLE release() {
    HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }
  void reset(HANDLE handle = nullptr) {
    if (handle_ && handle_ != handle) Closer()(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

struct CloseWithCloseHandle {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using ScopedHandle = UniqueHandle<CloseWithCloseHandle>;
