#pragma once
// Helpers for end-to-end tests that run the real host program: putting a
// stand-in device library at the vendor's fixed path, and finding or ending
// running host programs. Tests that use these share the fixed section name
// and the fixed vendor path, so they carry the CTest locks
// "vorn_section" and "vorn_vendor_path".

#include <windows.h>

#include <string>
#include <vector>

#include "vendor_path.h"

namespace vt {

// The image-path tail of every running host program.
constexpr char kHostTail[] = "\\Vorn64BitInterface.exe";

// Copies a stand-in (by path) to the fixed vendor path; false on failure.
bool InstallVendorLibrary(const std::string& standin_path);
void RemoveVendorLibrary();
// Copies Vorn64BitInterface.exe from the 64-bit build into the current
// directory (where the launcher looks for it) and installs the 64-bit
// stand-in `standin` (e.g. "KHALAPI.dll"); false when either step fails.
bool PlaceHostProgram(const char* standin);

// Ids of the running processes whose image path ends in `tail`.
std::vector<DWORD> FindProcesses(const char* tail);
// Terminates them and waits until they are gone; returns how many there were.
int KillProcesses(const char* tail);
// Waits until no process with that tail runs; false after the time-out.
bool WaitNoProcess(const char* tail, DWORD timeout_ms);

}  // namespace vt
