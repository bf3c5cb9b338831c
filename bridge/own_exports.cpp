#include "own_exports.h"

#include <cstring>

#include "display_entry_names.h"

namespace {

bool Kept(const char* name, uint32_t entries) {
  for (int i = 0; i < kDisplayEntryCount; ++i)
    if (strcmp(name, kDisplayEntryNames[i]) == 0) return (entries & EntryBit(static_cast<DisplayEntry>(i))) != 0;
  return true;
}

// Makes [at, at + size) writable for the life of this object, then puts
// the protection back.
class WritableSpan {
 public:
  WritableSpan(void* at, size_t size) : at_(at), size_(size) {
    ok_ = VirtualProtect(at_, size_, PAGE_READWRITE, &old_) != 0;
  }
  ~WritableSpan() {
    DWORD unused;
    if (ok_) VirtualProtect(at_, size_, old_, &unused);
  }
  bool ok() const { return ok_; }

 private:
  void* at_;
  size_t size_;
  DWORD old_ = 0;
  bool ok_ = false;
};

}  // namespace

bool KeepOwnExports(HMODULE module, uint32_t entries) {
  auto* base = reinterpret_cast<uint8_t*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (directory.VirtualAddress == 0) return false;
  auto* exports = reinterpret_cast<IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
  auto* names = reinterpret_cast<DWORD*>(base + exports->AddressOfNames);
  auto* ordinals = reinterpret_cast<WORD*>(base + exports->AddressOfNameOrdinals);
  const DWORD count = exports->NumberOfNames;

  WritableSpan header(exports, sizeof *exports);
  WritableSpan name_table(names, count * sizeof *names);
  WritableSpan ordinal_table(ordinals, count * sizeof *ordinals);
  if (!header.ok() || !name_table.ok() || !ordinal_table.ok()) return false;
  DWORD kept = 0;
  for (DWORD i = 0; i < count; ++i) {
    if (!Kept(reinterpret_cast<const char*>(base + names[i]), entries)) continue;
    names[kept] = names[i];
    ordinals[kept] = ordinals[i];
    ++kept;
  }
  exports->NumberOfNames = kept;
  return true;
}
