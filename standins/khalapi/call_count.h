#pragma once
// The stand-in built with VORN_KHALAPI_CALL_COUNT counts each call that
// reaches it in the section below, so that a program driving the chain can
// tell how many device calls its requests cost. Whoever wants the count
// makes the section before the library is first called; without it the
// library counts nothing.

#include <windows.h>

constexpr char kKhalapiCallCountName[] = "VornKhalapiCallCount";

struct KhalapiCallCount {
  volatile LONG calls;
};

// This process's view of the count; null when nobody made the section.
inline KhalapiCallCount* OpenKhalapiCallCount() {
  HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, kKhalapiCallCountName);
  if (!mapping) return nullptr;
  return static_cast<KhalapiCallCount*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(KhalapiCallCount)));
}
