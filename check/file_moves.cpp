#include "file_moves.h"

#include <windows.h>

bool RenameFile(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), 0) != FALSE;
}

bool FileMoves::Move(const std::string& from, const std::string& to) {
  if (!move_(from, to)) return false;
  done_.emplace_back(from, to);
  return true;
}

std::string FileMoves::Undo() {
  std::string left;
  for (auto it = done_.rbegin(); it != done_.rend(); ++it) {
    if (move_(it->second, it->first)) continue;
    const DWORD error = GetLastError();
    left += (left.empty() ? "" : "; ") + it->first + " is left as " + it->second + " (error " + std::to_string(error) +
            "): move it back";
  }
  done_.clear();
  return left;
}
