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

// Where 32-bit code runs under user-mode emulation (qemu-i386), Wine
// reports a write to a read-only page as an illegal instruction, without
// the address written: while the trap is set, that is taken for its write.
bool TrapWrite(const EXCEPTION_RECORD& r) {
  if (r.ExceptionCode == EXCEPTION_ILLEGAL_INSTRUCTION) return true;
  if (r.ExceptionCode != EXCEPTION_ACCESS_VIOLATION || r.NumberParameters < 2) return false;
  char* at = reinterpret_cast<char*>(r.ExceptionInformation[1]);
  return at >= g_trap.page && at < g_trap.page + kPage;
}

LONG CALLBACK OnFault(EXCEPTION_POINTERS* e) {
  if (!g_trap.page || !TrapWrite(*e->ExceptionRecord) || InterlockedExchange(&g_trap.sprung, 1) != 0) {
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
