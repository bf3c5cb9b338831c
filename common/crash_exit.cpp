#include "crash_exit.h"

#include <windows.h>

namespace {

LONG WINAPI EndProcessWithTheCode(EXCEPTION_POINTERS* pointers) {
  const DWORD code = pointers && pointers->ExceptionRecord ? pointers->ExceptionRecord->ExceptionCode : 1;
  TerminateProcess(GetCurrentProcess(), code);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void EndAtOnceOnCrash() {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  SetUnhandledExceptionFilter(EndProcessWithTheCode);
}
