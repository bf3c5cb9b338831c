#pragma once
// Helpers shared by the test programs.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vt {

// A fresh directory that the test runs in; the previous current directory
// comes back and the directory is removed at the end of the scope.
class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  const std::string& path() const { return path_; }

 private:
  std::string previous_;
  std::string path_;
};

std::string ReadFileBytes(const std::string& path);  // "" when missing
bool FileExists(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
// The lines of a text, without their line ends ("\n", or "\r\n"); a last
// line without a line end counts too.
std::vector<std::string> Lines(const std::string& text);
std::vector<std::string> FileLines(const std::string& path);  // none when missing

// Directory of the running test program, with a trailing backslash.
std::string ProgramDirectory();
// The 64-bit build's bin folder as a Windows path (from the build), with a
// trailing backslash; empty in the 64-bit build itself.
std::string Win64BinDirectory();
// A folder of this machine's file system as Wine shows it (drive Z:), with
// a trailing backslash.
std::string WindowsDirectory(const std::string& unix_path);

// A name that no other test run uses, for sections and files.
std::string UniqueName(const char* stem);

struct ChildProcess {
  HANDLE process = nullptr;
  DWORD pid = 0;
};
// Starts a program with a command line, in a working directory (empty: the
// current one), its standard handles given or inherited.
ChildProcess StartChild(const std::string& command_line, const std::string& directory = "");
// Starts a program with its first thread held, so that a test can make
// what is named after its process id before it runs: ResumeThread on
// *thread (which the caller closes) lets it go.
ChildProcess StartChildSuspended(const std::string& command_line, HANDLE* thread);
// Starts a program whose process carries the access rules of `sddl`, a
// security descriptor string ("D:", an empty list, lets nobody query or
// end it): a process that other programs cannot handle. The handle given
// back has every right, as a creator's has.
ChildProcess StartGuardedChild(const std::string& command_line, const std::string& directory, const char* sddl);
// Rules for it: nobody may end it (its path can still be read); nobody may
// do anything with it, not even read its path.
constexpr char kCannotBeEnded[] = "D:(D;;0x0001;;;WD)(A;;GA;;;WD)";
constexpr char kCannotBeAsked[] = "D:";
// A child that ends with the scope, through its own handle (which can end
// even a guarded one).
struct ScopedChild {
  ChildProcess child;
  ~ScopedChild();
  bool Runs() const;
};
// Makes this process's standard handles non-inheritable, so that no program
// started from it (the host program, which the proxy starts with inherited
// handles and which idles for 100 s) keeps the test runner's pipe open.
void KeepStandardHandlesPrivate();
// Starts a program whose standard output and error go to a file, created
// anew; our standard handles are kept private first.
ChildProcess StartChildWithOutputFile(const std::string& command_line, const std::string& directory,
                                      const std::string& output_path);
// Waits for the child; returns its exit code, or -1 after the time-out
// (the child is then terminated).
int WaitChild(ChildProcess& child, DWORD timeout_ms);

struct ChildRun {
  int exit_code = -1;  // -1: did not start, or did not end in time
  std::string output;
  DWORD elapsed_ms = 0;
};
// Runs a program to its end with its standard output and error in a file
// (a host program that it starts inherits that file, not the test's
// output); `during`, when given, is called every 10 ms while it runs.
ChildRun RunChild(const std::string& command_line, const std::string& directory, const std::string& output_path,
                  DWORD timeout_ms, const std::function<void()>& during = nullptr);

// Sleep seam recorder: counts the sleeps and their total instead of waiting.
struct SleepLog {
  static uint64_t calls;
  static uint64_t total_ms;
  static void Record(uint32_t ms);
  static void Reset();
};

}  // namespace vt
