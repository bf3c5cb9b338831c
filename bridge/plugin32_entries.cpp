#include "plugin32_entries.h"

#include <windows.h>

#include <vector>

#include "display_entry_names.h"
#include "pe_layout.h"
#include "unique_handle.h"

namespace {

// Display plug-ins are small; a bigger file is not read whole into memory.
constexpr DWORD kLargestPlugin = 64u << 20;

bool ReadWhole(const std::string& path, std::vector<uint8_t>* bytes) {
  ScopedHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    file.release();
    return false;
  }
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > kLargestPlugin) return false;
  bytes->resize(static_cast<size_t>(size.QuadPart));
  DWORD got = 0;
  return bytes->empty() || (ReadFile(file.get(), bytes->data(), static_cast<DWORD>(bytes->size()), &got, nullptr) &&
                            got == bytes->size());
}

}  // namespace

bool ReadPlugin32Entries(const std::string& path, Plugin32Entries* entries, std::string* why) {
  std::vector<uint8_t> bytes;
  if (!ReadWhole(path, &bytes)) {
    *why = "cannot be read";
    return false;
  }
  PeLayout layout;
  if (!layout.Read(bytes)) {
    *why = "is not a 32-bit DLL (" + layout.error() + ")";
    return false;
  }
  if (!layout.is_dll() || !layout.is_pe32() || layout.machine() != IMAGE_FILE_MACHINE_I386) {
    *why = "is not a 32-bit DLL";
    return false;
  }
  *entries = Plugin32Entries();
  for (int i = 0; i < kDisplayEntryCount; ++i) {
    const DisplayEntry entry = static_cast<DisplayEntry>(i);
    if (layout.HasExport(kDisplayEntryNames[i])) entries->plain |= EntryBit(entry);
    if (layout.HasExport(DecoratedEntryName(entry).text)) entries->decorated |= EntryBit(entry);
  }
  return true;
}
