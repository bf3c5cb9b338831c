#pragma once
// Runs a program whose standard output and error go to a file. A host
// program that it starts inherits that file rather than the test's own
// output, so the test runner is never left waiting for the host to exit.

#include <windows.h>

#include <string>

struct ChildRun {
  int exit_code = -1;  // -1: did not start, or did not end in time
  std::string output;
  DWORD elapsed_ms = 0;
};

ChildRun RunWithOutputFile(const std::string& command_line, const std::string& directory,
                           const std::string& output_path, DWORD timeout_ms);
