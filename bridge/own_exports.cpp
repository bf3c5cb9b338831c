#include "own_exports.h"

#include <cstring>

#include "display_entry_names.h"

namespace {

bool Kept(const char* name, const Plugin32Entries& entries) {
  for (int i = 0; i < kDisplayEntryCount; ++i) {
    const DisplayEntry entry = static_cast<DisplayEntry>(i);
    if (strcmp(name, kDisplayEntryNames[i]) == 0) return (entries.plain & EntryBit(entry)) != 0;
    if (strcmp(name, DecoratedEntryName(entry).text) == 0) return (entries.decorated & EntryBit(entry)) != 0;
  }
  return true;
}

// Makes the pages of [from, to) writable for the life of this object, then
// gives every page the protection it had before. The protection of each
// run of pages is read first, once: spans that share a page, changed one
// after the other, would each see the page already writable and leave it so.
class WritablePages {
 public:
  WritablePages(uint8_t* from, uint8_t* to) {
    for (uint8_t* at = from; at < to;
         at = static_cast<uint8_t*>(runs_[count_ - 1].BaseAddress) + runs_[count_ - 1].RegionSize) {
      if (count_ == kMaxRuns || VirtualQuery(at, &runs_[count_], sizeof runs_[count_]) != sizeof runs_[count_]) return;
      ++count_;
    }
    DWORD ignored;
    ok_ = VirtualProtect(from, static_cast<size_t>(to - from), PAGE_READWRITE, &ignored) != 0;
  }
  ~WritablePages() {
    if (!ok_) return;
    for (int i = 0; i < count_; ++i) {
      DWORD ignored;
      VirtualProtect(runs_[i].BaseAddress, runs_[i].RegionSize, runs_[i].Protect, &ignored);
    }
  }
  bool ok() const { return ok_; }

 private:
  static constexpr int kMaxRuns = 8;  // the export table lies in one or two sections
  MEMORY_BASIC_INFORMATION runs_[kMaxRuns];
  int count_ = 0;
  bool ok_ = false;
};

}  // namespace

bool KeepOwnExports(HMODULE module, const Plugin32Entries& entries) {
  auto* base = reinterpret_cast<uint8_t*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (directory.VirtualAddress == 0) return false;
  auto* exports = reinterpret_cast<IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
  auto* names = reinterpret_cast<DWORD*>(base + exports->AddressOfNames);
  auto* ordinals = reinterpret_cast<WORD*>(base + exports->AddressOfNameOrdinals);
  const DWORD count = exports->NumberOfNames;

  // The directory and both tables, as one span of pages.
  uint8_t* const spans[3][2] = {{reinterpret_cast<uint8_t*>(exports), reinterpret_cast<uint8_t*>(exports + 1)},
                                {reinterpret_cast<uint8_t*>(names), reinterpret_cast<uint8_t*>(names + count)},
                                {reinterpret_cast<uint8_t*>(ordinals), reinterpret_cast<uint8_t*>(ordinals + count)}};
  uint8_t* from = spans[0][0];
  uint8_t* to = spans[0][1];
  for (const auto& span : spans) {
    if (span[0] < from) from = span[0];
    if (span[1] > to) to = span[1];
  }
  WritablePages writable(from, to);
  if (!writable.ok()) return false;
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
