#pragma once
// Which of the display host's entry points a 32-bit plug-in file exports
// under their plain names, read from the file (the 64-bit bridge cannot
// load it). Every offset and count in the file is bounded by its size.

#include <cstdint>
#include <string>

// The set (display_entry_names.h) of the 32-bit display plug-in at `path`;
// false, with `why` in a few words, when the file cannot be read or is not
// a 32-bit DLL.
bool ReadPlugin32Entries(const std::string& path, uint32_t* entries, std::string* why);
