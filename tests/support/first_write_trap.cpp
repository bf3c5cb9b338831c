#include "first_write_trap.h"

namespace vt {

namespace {

struct Trap {
  char* page;
  void (*step)();
  volatile LONG sprung;
};
Trap g_trap;

constexpr SIZE_T kPage = 4096;

LONG CALLBACK OnFault(EXCEPTION_POINTERS* e) {
  const EXCEPTION_RECORD& r = *e->ExceptionRecord;
  if (r.ExceptionCode != EXCEPTION_ACCESS_VIOLATION || r.NumberParameters < 2 || !g_trap.page) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  char* at = reinterpret_cast<char*>(r.ExceptionInformation[1]);
  if (at < g_trap.page || at >= g_trap.page + kPage || InterlockedExchange(&g_trap.sprung, 1) != 0) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  DWORD old;
  VirtualProtect(g_trap.page, kPage, PAGE_READWRITE, &old);
  g_trap.step();
  return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

FirstWriteTrap::FirstWriteTrap(const volatile void* word, void (*step)()) {
  g_trap.page = reinterpret_cast<char*>(reinterpret_cast<uintptr_t>(word) & ~(kPage - 1));
  g_trap.step = step;
  g_trap.sprung = 0;
  handler_ = AddVectoredExceptionHandler(1, OnFault);
  DWORD old;
  VirtualProtect(g_trap.page, kPage, PAGE_READONLY, &old);
}

FirstWriteTrap::~FirstWriteTrap() {
  DWORD old;
  VirtualProtect(g_trap.page, kPage, PAGE_READWRITE, &old);
  RemoveVectoredExceptionHandler(handler_);
  g_trap.page = nullptr;
}

bool FirstWriteTrap::sprung() const { return g_trap.sprung != 0; }

void* NewPage() { return VirtualAlloc(nullptr, kPage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE); }

void FreePage(void* page) { VirtualFree(page, 0, MEM_RELEASE); }

}  // namespace vt
