// Binding the stand-in device libraries from the fixed vendor path. Needs a
// fresh process per case (as vorn_gtest runs them): a loaded library stays loaded.
#include "vendor_library.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "call_count.h"
#include "host_harness.h"
#include "log_lines.h"
#include "test_support.h"
#include "typed_export.h"

namespace {

std::string FoundLine(const char* name) {
  char line[128];
  snprintf(line, sizeof line, "GETFN %s at address 0x%016llX", name,
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(GetProcAddress(g_vendor.module, name))));
  return line;
}

class VendorBinding : public ::testing::Test {
 protected:
  void TearDown() override { vt::RemoveVendorLibrary(); }
  vt::ScopedTempDir dir_;
};

}  // namespace

TEST_F(VendorBinding, AllFourFoundAreLoggedInLookupOrder) {
  ASSERT_TRUE(vt::InstallVendorLibrary(vt::ProgramDirectory() + "KHALAPI.dll"));
  EXPECT_EQ(bind_vendor_library(), 0);
  ASSERT_NE(g_vendor.module, nullptr);
  EXPECT_NE(g_vendor.get_device_info, nullptr);
  auto lines = vt::HostLogLines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], FoundLine("LD_GetFirstDevicePosition"));
  EXPECT_EQ(lines[1], FoundLine("LD_GetNextDevicePosition"));
  EXPECT_EQ(lines[2], FoundLine("LD_DeviceControl"));
  EXPECT_EQ(lines[3], FoundLine("LD_GetDeviceInfo"));
  EXPECT_EQ(lines[4], "Init KhalApi.dll loaded");
  EXPECT_EQ(lines[0].size(), std::string("GETFN LD_GetFirstDevicePosition at address 0x").size() + 16);
}

TEST_F(VendorBinding, AMissingEntryPointStopsTheLookupThere) {
  ASSERT_TRUE(vt::InstallVendorLibrary(vt::ProgramDirectory() + "KHALAPI_nocontrol.dll"));
  EXPECT_EQ(bind_vendor_library(), -2);
  EXPECT_NE(g_vendor.module, nullptr);  // stays loaded
  EXPECT_EQ(g_vendor.device_control, nullptr);
  EXPECT_EQ(g_vendor.get_device_info, nullptr);  // not looked up
  auto lines = vt::HostLogLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], FoundLine("LD_GetFirstDevicePosition"));
  EXPECT_EQ(lines[1], FoundLine("LD_GetNextDevicePosition"));
  EXPECT_EQ(lines[2], "Failed at GetProcAddress for khalapi.dll/ LD_DeviceControl");
}

TEST_F(VendorBinding, ALibraryThatDoesNotLoadIsLoggedWithTheSystemText) {
  vt::RemoveVendorLibrary();
  EXPECT_EQ(bind_vendor_library(), -1);
  EXPECT_EQ(g_vendor.module, nullptr);
  auto lines = vt::HostLogLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("Failed to load khalapi.dll library Error 126 - ", 0), 0u) << lines[0];
  EXPECT_GT(lines[0].size(), std::string("Failed to load khalapi.dll library Error 126 - ").size() + 1);
  EXPECT_EQ(lines.back(), "");  // the system text brings its own line end
}

// The benchmark's stand-in counts the calls that reach it in a section the
// benchmark makes; the library knows nothing of the benchmark.
TEST(CountingStandIn, CountsEachCallThatReachesItInTheSectionItIsGiven) {
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(KhalapiCallCount),
                                      kKhalapiCallCountName);
  ASSERT_NE(mapping, nullptr);
  const auto* count = static_cast<const KhalapiCallCount*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(count, nullptr);
  HMODULE library = LoadLibraryA((vt::ProgramDirectory() + "KHALAPI_nofile.dll").c_str());
  ASSERT_NE(library, nullptr);
  using PositionFn = int32_t(__cdecl*)(uint64_t*);
  auto first = LookupExport<PositionFn>(library, "LD_GetFirstDevicePosition");
  auto next = LookupExport<PositionFn>(library, "LD_GetNextDevicePosition");
  ASSERT_TRUE(first && next);
  uint64_t position = 0;
  first(&position);
  next(&position);
  next(&position);
  EXPECT_EQ(count->calls, 3);
  FreeLibrary(library);
  UnmapViewOfFile(count);
  CloseHandle(mapping);
}
