// VornApx.dll as the patched vendor layer finds it: exactly the vendor
// library's four names, undecorated, as ordinals 1 to 4 in alphabetical order.
#include <gtest/gtest.h>

#include "export_table.h"
#include "test_support.h"

TEST(ProxyExports, FourUndecoratedNamesAsOrdinalsOneToFour) {
  HMODULE dll = LoadLibraryA((vt::ProgramDirectory() + "VornApx.dll").c_str());
  ASSERT_NE(dll, nullptr);
  const vt::ExportTable table = vt::ReadExports(dll);
  EXPECT_EQ(table.addresses, 4u);
  const char* const expected[] = {"LD_DeviceControl", "LD_GetDeviceInfo", "LD_GetFirstDevicePosition",
                                  "LD_GetNextDevicePosition"};
  ASSERT_EQ(table.named.size(), 4u);
  for (DWORD i = 0; i < 4; ++i) {
    EXPECT_EQ(table.named[i].name, expected[i]);
    EXPECT_EQ(table.named[i].ordinal, i + 1) << expected[i];
  }
  FreeLibrary(dll);
}
