#pragma once
// Which of the display host's entry points a 32-bit plug-in file exports,
// under their plain and under their decorated names, read from the file
// (the 64-bit bridge cannot load it, and the isolating one must not).
// Every offset and count in the file is bounded by its size.

#include <cstdint>
#include <string>

struct Plugin32Entries {
  uint32_t plain = 0;      // a set of display_entry_names.h
  uint32_t decorated = 0;  // the same, by their decorated names
};

// The entry points of the 32-bit display plug-in at `path`; false, with
// `why` in a few words, when the file cannot be read or is not a 32-bit DLL.
bool ReadPlugin32Entries(const std::string& path, Plugin32Entries* entries, std::string* why);
