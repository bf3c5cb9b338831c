#include "host_harness.h"

#include <psapi.h>

#include <cstring>

#include "test_support.h"

namespace vt {

namespace {

void MakeDirectories(const std::string& path) {
  for (size_t i = 3; i < path.size(); ++i) {
    if (path[i] == '\\') CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
  }
}

}  // namespace

bool InstallVendorLibrary(const std::string& standin_path) {
  MakeDirectories(kVendorLibraryDirectory);
  return CopyFileA(standin_path.c_str(), kVendorLibraryPath, FALSE) != 0;
}

void RemoveVendorLibrary() { DeleteFileA(kVendorLibraryPath); }

bool PlaceHostProgram(const char* standin) {
  const std::string bin = Win64BinDirectory();
  if (bin.empty()) return false;
  return CopyFileA((bin + "Vorn64BitInterface.exe").c_str(), "Vorn64BitInterface.exe", FALSE) &&
         InstallVendorLibrary(bin + standin);
}

std::vector<DWORD> FindProcesses(const char* tail) {
  std::vector<DWORD> found;
  DWORD ids[4096];
  DWORD bytes = 0;
  if (!EnumProcesses(ids, sizeof ids, &bytes)) return found;
  const size_t k = strlen(tail);
  for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
    if (ids[i] == 0 || ids[i] == GetCurrentProcessId()) continue;
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ids[i]);
    if (!h) continue;
    char path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (QueryFullProcessImageNameA(h, 0, path, &size) && size >= k && strcmp(path + size - k, tail) == 0)
      found.push_back(ids[i]);
    CloseHandle(h);
  }
  return found;
}

int KillProcesses(const char* tail) {
  std::vector<DWORD> ids = FindProcesses(tail);
  for (DWORD id : ids) {
    HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
    if (!h) continue;
    TerminateProcess(h, 1);
    WaitForSingleObject(h, 5000);
    CloseHandle(h);
  }
  return static_cast<int>(ids.size());
}

bool WaitNoProcess(const char* tail, DWORD timeout_ms) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < timeout_ms; Sleep(10)) {
    if (FindProcesses(tail).empty()) return true;
  }
  return FindProcesses(tail).empty();
}

}  // namespace vt
