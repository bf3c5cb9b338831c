#include "host_processes.h"

#include <tlhelp32.h>

#include <cstdio>

#include "host_program_names.h"

namespace {

// The file name of a path.
const char* FileName(const std::string& path) {
  const size_t slash = path.find_last_of('\\');
  return path.c_str() + (slash == std::string::npos ? 0 : slash + 1);
}
constexpr DWORD kEndWaitMs = 5000;

// The error is read at once: the process walk that calls this changes it.
std::string ProgramPath(DWORD pid, DWORD* error) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) {
    *error = GetLastError();
    return "";
  }
  char path[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  const bool found = QueryFullProcessImageNameA(process, 0, path, &size);
  *error = found ? 0 : GetLastError();
  CloseHandle(process);
  return found ? path : "";
}

std::string FullPath(const std::string& path) {
  char full[MAX_PATH] = {};
  const DWORD n = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
  return n > 0 && n < MAX_PATH ? full : path;
}

}  // namespace

std::vector<RunningProgram> RunningPrograms(std::initializer_list<const char*> names) {
  std::vector<RunningProgram> found;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return found;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    bool named = false;
    for (const char* name : names) named = named || _stricmp(entry.szExeFile, name) == 0;
    if (!named) continue;
    RunningProgram program = {entry.th32ProcessID, entry.th32ParentProcessID, entry.szExeFile, "", 0};
    program.path = ProgramPath(program.pid, &program.path_error);
    found.push_back(program);
  }
  CloseHandle(snapshot);
  return found;
}

// 64-bit Windows runs the first, 32-bit Windows the second.
std::vector<RunningProgram> RunningHostPrograms() { return RunningPrograms({kHostProgram64, kHostProgram32}); }

int EndHostStep(const std::string& folder) {
  std::string folder_path = FullPath(folder);
  if (!folder_path.empty() && folder_path.back() != '\\') folder_path += '\\';
  std::string file = folder_path + kHostProgram64;
  int ended = 0;
  const RunningProgram* unknown = nullptr;
  const std::vector<RunningProgram> programs = RunningHostPrograms();
  for (const RunningProgram& program : programs) {
    if (program.path.empty()) {
      // Where it runs from cannot be told; it may be this folder's only if
      // the folder holds a program of its name.
      if (GetFileAttributesA((folder_path + program.name).c_str()) != INVALID_FILE_ATTRIBUTES && !unknown)
        unknown = &program;
      continue;
    }
    const std::string in_folder = folder_path + FileName(program.path);
    if (_stricmp(program.path.c_str(), in_folder.c_str()) != 0) continue;
    file = program.path;
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, program.pid);
    const bool gone =
        process && TerminateProcess(process, 1) && WaitForSingleObject(process, kEndWaitMs) == WAIT_OBJECT_0;
    const DWORD error = GetLastError();
    if (process) CloseHandle(process);
    if (!gone) {
      printf("could not end %s (process %lu, error %lu).\n", file.c_str(), program.pid, error);
      return 1;
    }
    ++ended;
  }
  if (unknown) {
    printf("cannot tell whether %s (process %lu) runs from %s: its path cannot be read (error %lu).\n",
           unknown->name.c_str(), unknown->pid, folder_path.c_str(), unknown->path_error);
    return 1;
  }
  if (ended == 0) {
    printf("no host program of %s runs.\n", file.c_str());
  } else {
    printf("ended %s (%d process%s).\n", file.c_str(), ended, ended == 1 ? "" : "es");
  }
  return 0;
}
