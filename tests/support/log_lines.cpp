#include "log_lines.h"

#include <cctype>

#include "test_support.h"

namespace vt {

namespace {

// True when `line` starts with `shape`, where 9 stands for any digit.
bool StartsWithShape(const std::string& line, const char* shape) {
  size_t i = 0;
  for (; shape[i]; ++i) {
    if (i >= line.size()) return false;
    const bool digit = isdigit(static_cast<unsigned char>(line[i])) != 0;
    if (shape[i] == '9' ? !digit : line[i] != shape[i]) return false;
  }
  return true;
}

std::vector<std::string> WithoutStamps(const std::string& path, size_t skip, const char* stamp) {
  const std::vector<std::string> lines = FileLines(path);
  std::vector<std::string> out;
  const size_t n = std::string(stamp).size();
  for (size_t i = skip; i < lines.size(); ++i)
    out.push_back(StartsWithShape(lines[i], stamp) ? lines[i].substr(n) : lines[i]);
  return out;
}

}  // namespace

std::vector<std::string> HostLogLines(size_t skip, const std::string& path) {
  return WithoutStamps(path, skip, "99:99:99.999 ");
}

std::vector<std::string> LibraryLogLines(const std::string& path, size_t skip) {
  return WithoutStamps(path, skip, "99:99:99 99/99/99 ");
}

}  // namespace vt
