#pragma once
// The renames of the check tool's steps, through a seam for their tests,
// and the undo of a step's renames when a later part of it fails.

#include <functional>
#include <string>
#include <utility>
#include <vector>

// A rename without replacing, as MoveFileExA without flags; false with the
// error in GetLastError. The seam of the steps' renames for their tests.
using MoveFileFn = std::function<bool(const std::string& from, const std::string& to)>;
bool RenameFile(const std::string& from, const std::string& to);

// The renames a step has made, undone in reverse order when it stops.
class FileMoves {
 public:
  explicit FileMoves(const MoveFileFn& move) : move_(move) {}
  bool Move(const std::string& from, const std::string& to);
  // Puts every moved file back. Empty when all went back; otherwise, for
  // each that did not, where it is left and where it belongs.
  std::string Undo();

 private:
  MoveFileFn move_;
  std::vector<std::pair<std::string, std::string>> done_;
};
