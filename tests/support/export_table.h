#pragma once
// A loaded DLL's export table as its PE headers give it, for the tests
// that check the names and ordinals the system's callers rely on.

#include <windows.h>

#include <string>
#include <vector>

namespace vt {

struct Export {
  std::string name;
  DWORD ordinal;
  DWORD rva;  // the entry point, relative to the module
};

struct ExportTable {
  DWORD addresses = 0;        // entries in the address table, named or not
  std::vector<Export> named;  // in the order of the name table
};

ExportTable ReadExports(HMODULE module);

}  // namespace vt
