#include "child_run.h"

#include "test_support.h"

ChildRun RunWithOutputFile(const std::string& command_line, const std::string& directory,
                           const std::string& output_path, DWORD timeout_ms) {
  ChildRun run;
  const DWORD start = GetTickCount();
  vt::ChildProcess child = vt::StartChildWithOutputFile(command_line, directory, output_path);
  if (child.process) run.exit_code = vt::WaitChild(child, timeout_ms);
  run.elapsed_ms = GetTickCount() - start;
  run.output = vt::ReadFileBytes(output_path);
  return run;
}
