#pragma once
// Runs a program to its end with its standard output and error in a file
// (a host program that it starts inherits that file, not the test's output).

#include <windows.h>

#include <string>

struct ChildRun {
  int exit_code = -1;  // -1: did not start, or did not end in time
  std::string output;
  DWORD elapsed_ms = 0;
};

ChildRun RunWithOutputFile(const std::string& command_line, const std::string& directory,
                           const std::string& output_path, DWORD timeout_ms);
