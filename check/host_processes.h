#pragma once
// The running host programs (Vorn64BitInterface.exe), and the step
// vorn-check.exe --end-host <folder>, which the setup program and its
// uninstaller run before they replace or remove the host program's file.
// Ending it costs nothing lasting: the proxy starts it again when it is
// next needed.

#include <windows.h>

#include <initializer_list>
#include <string>
#include <vector>

struct RunningProgram {
  DWORD pid;
  DWORD parent_pid;  // the process that started it
  std::string name;  // the program file's name, as the process list gives it
  std::string path;  // empty when it cannot be asked for
  DWORD path_error;  // why not, when it is empty
};

// The running processes whose program file is named one of `names` (any case).
std::vector<RunningProgram> RunningPrograms(std::initializer_list<const char*> names);
std::vector<RunningProgram> RunningHostPrograms();

// Ends the host programs started from `folder`'s Vorn64BitInterface.exe (or
// Vorn32BitInterface.exe) and waits for their end. Prints one line; the exit
// status, 0 or 1: one could not be ended, or one whose path cannot be read
// may be the folder's (the folder holds a program file of its name).
int EndHostStep(const std::string& folder);
