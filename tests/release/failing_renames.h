#pragma once
// The check tool's renames for its steps' tests: each fails with "access
// denied" when its number (from 0) is in `failing`, and is made as the
// step makes it otherwise.

#include <windows.h>

#include <memory>
#include <set>
#include <string>

#include "file_moves.h"

inline MoveFileFn RenamesFailingAt(std::set<int> failing) {
  auto count = std::make_shared<int>(0);
  return [failing, count](const std::string& from, const std::string& to) {
    if (failing.count((*count)++)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    return RenameFile(from, to);
  };
}
