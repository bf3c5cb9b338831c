// The 64-bit bridge, loaded: it takes the entry points its 32-bit plug-in
// lacks out of its export table in memory, and leaves that table's pages
// as the loader made them, not writable.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>

#include "test_support.h"

namespace {

bool Writable(const void* at) {
  MEMORY_BASIC_INFORMATION region = {};
  if (VirtualQuery(at, &region, sizeof region) != sizeof region) return true;
  return (region.Protect & (PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)) != 0;
}

}  // namespace

TEST(OwnExports, TheTrimmedExportTableIsNotWritableAfterwards) {
  // Beside it there is no 32-bit plug-in: it keeps what explains why.
  HMODULE bridge = LoadLibraryA((vt::ProgramDirectory() + "QX20481.dll").c_str());
  ASSERT_NE(bridge, nullptr);
  EXPECT_NE(GetProcAddress(bridge, "DISPLAYDLL_Init"), nullptr);
  EXPECT_NE(GetProcAddress(bridge, "DISPLAYDLL_Usage"), nullptr);
  EXPECT_EQ(GetProcAddress(bridge, "DISPLAYDLL_Write"), nullptr);
  EXPECT_EQ(GetProcAddress(bridge, "DISPLAYDLL_ReadKey"), nullptr);

  const auto* base = reinterpret_cast<const uint8_t*>(bridge);
  const auto* nt =
      reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(
      base + nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress);
  const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  const auto* ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
  EXPECT_EQ(exports->NumberOfNames, 5u);
  EXPECT_FALSE(Writable(exports));
  EXPECT_FALSE(Writable(names));
  EXPECT_FALSE(Writable(names + exports->NumberOfNames - 1));
  EXPECT_FALSE(Writable(ordinals));
  EXPECT_FALSE(Writable(ordinals + exports->NumberOfNames - 1));
  FreeLibrary(bridge);
}
