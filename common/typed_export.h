#pragma once
// A looked-up export as a typed function pointer. GetProcAddress gives a
// FARPROC; converting that to a function pointer of another type with a
// cast draws warnings (and is the compiler's to interpret), so the pointer
// is copied bit for bit instead.

#include <windows.h>

#include <cstring>

template <typename Fn, typename From>
Fn FunctionCast(From from) {
  static_assert(sizeof(Fn) == sizeof(From), "function pointers of one size");
  Fn to;
  memcpy(&to, &from, sizeof to);
  return to;
}

// Null when the module is null or does not export the name.
template <typename Fn>
Fn LookupExport(HMODULE module, const char* name) {
  return module ? FunctionCast<Fn>(GetProcAddress(module, name)) : nullptr;
}
