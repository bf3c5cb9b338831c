#pragma once
// A stand-in for the system behind the proxy's launcher: a process list with
// image paths, calls that fail on demand, and a record of what was asked.

#include <cstdint>
#include <string>
#include <vector>

#include "system_calls.h"

struct FakeProcess {
  DWORD id;
  std::string path;
  bool open_fails = false;
  DWORD query_error = 0;  // non-zero: the image-name query fails with it
  bool ended = false;     // a wait on its process returns at once
};

struct FakeSystem {
  // What the system looks like.
  bool wow64 = true;
  bool has_is_wow64 = true;
  bool load_library_fails = false;
  bool has_query = true;
  DWORD error_after_query_lookup = 0;
  bool enum_fails = false;
  std::vector<FakeProcess> processes;
  // Replaces `processes` once the list has been read this many times.
  int change_after_listings = -1;
  std::vector<FakeProcess> changed_processes;
  bool terminate_fails = false;
  bool terminate_not_waitable = false;  // a process to end may not be opened for waiting as well
  std::vector<std::string> files;       // paths that exist; the host program in the current directory by default
  DWORD create_error = 0;               // non-zero: the start fails with it
  bool started_end_at_once = false;     // a started program ends before it is ready
  DWORD now = 100000;                   // the tick count; the fake host's sleeps move it on

  // What was asked of it.
  int listings = 0;
  int library_loads = 0;
  int open_handles = 0;
  int queries = 0;
  std::vector<std::string> trace_at_listing;  // innermost frame names, joined with '/'
  std::vector<DWORD> opened_for_terminate;
  std::vector<DWORD> opened_for_waiting;
  int waits = 0;  // looks at a process's end
  std::vector<UINT> exit_codes;
  // "path|command line|directory|inherit|flags" of each start; a started
  // program joins `processes`.
  std::vector<std::string> started;

  // The fake process behind a handle this system gave out, or null.
  FakeProcess* ProcessOf(HANDLE handle);

  static std::string CurrentDirectory();  // with a trailing backslash
  static std::string ModuleDirectory();   // this program's folder, with a trailing backslash

  static FakeSystem* current;
  void Install();  // into g_system; the real table comes back with Uninstall
  static void Uninstall();
};
