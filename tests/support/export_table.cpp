#include "export_table.h"

namespace vt {

ExportTable ReadExports(HMODULE module) {
  ExportTable table;
  if (!module) return table;
  const auto* base = reinterpret_cast<const uint8_t*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (dir.VirtualAddress == 0) return table;
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
  const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  const auto* ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
  const auto* functions = reinterpret_cast<const DWORD*>(base + exports->AddressOfFunctions);
  table.addresses = exports->NumberOfFunctions;
  for (DWORD i = 0; i < exports->NumberOfNames; ++i)
    table.named.push_back(
        {reinterpret_cast<const char*>(base + names[i]), exports->Base + ordinals[i], functions[ordinals[i]]});
  return table;
}

}  // namespace vt
