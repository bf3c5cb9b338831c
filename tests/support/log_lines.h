#pragma once
// The modules' log files read back, each line without its time stamp.

#include <cstddef>
#include <string>
#include <vector>

namespace vt {

// The host program's log, "Vorn64BitInterface.log": lines that carry a
// stamp ("HH:MM:SS.mmm ") lose it; the rule line has none. Lines before
// `skip` are passed over; the default passes over the rule and the
// "Log file Opened at" line.
constexpr size_t kHostLogOpening = 2;
std::vector<std::string> HostLogLines(size_t skip = kHostLogOpening,
                                      const std::string& path = "Vorn64BitInterface.log");

// A library log ("logs\<module>.log"): lines lose their "HH:MM:SS dd/mm/yy "
// stamp. kLibraryLogOpening passes over the three opening lines.
constexpr size_t kLibraryLogOpening = 3;
std::vector<std::string> LibraryLogLines(const std::string& path, size_t skip = 0);

}  // namespace vt
