// The built QX20481.dll as the display host sees it: its export table, and
// the setup dialog's load that calls only the three text functions.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "export_table.h"
#include "test_support.h"
#include "typed_export.h"

namespace {

class PluginDll : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryA((vt::ProgramDirectory() + "QX20481.dll").c_str());
    ASSERT_NE(module_, nullptr);
  }
  void TearDown() override {
    if (module_) FreeLibrary(module_);
  }
  vt::ScopedTempDir dir_;
  HMODULE module_ = nullptr;
};

}  // namespace

TEST_F(PluginDll, ExportsEighteenNamesInAlphabeticalOrdinalOrder) {
  const std::vector<std::string> expected = {"DISPLAYDLL_CustomChar@8",
                                             "DISPLAYDLL_CustomCharIndex@4",
                                             "DISPLAYDLL_DefaultParameters",
                                             "DISPLAYDLL_DefaultParameters@0",
                                             "DISPLAYDLL_Done",
                                             "DISPLAYDLL_Done@0",
                                             "DISPLAYDLL_DriverName",
                                             "DISPLAYDLL_DriverName@0",
                                             "DISPLAYDLL_Init",
                                             "DISPLAYDLL_Init@16",
                                             "DISPLAYDLL_PowerResume",
                                             "DISPLAYDLL_PowerResume@0",
                                             "DISPLAYDLL_SetPosition",
                                             "DISPLAYDLL_SetPosition@8",
                                             "DISPLAYDLL_Usage",
                                             "DISPLAYDLL_Usage@0",
                                             "DISPLAYDLL_Write",
                                             "DISPLAYDLL_Write@4"};
  const vt::ExportTable table = vt::ReadExports(module_);
  EXPECT_EQ(table.addresses, table.named.size());
  const std::vector<vt::Export>& exports = table.named;
  ASSERT_EQ(exports.size(), expected.size());
  for (size_t i = 0; i < exports.size(); ++i) {
    EXPECT_EQ(exports[i].name, expected[i]);
    EXPECT_EQ(exports[i].ordinal, i + 1) << exports[i].name;
  }
  // Each plain name leads to the same entry as its decorated twin.
  for (size_t i = 0; i < exports.size(); ++i) {
    const std::string& name = exports[i].name;
    if (name.find('@') != std::string::npos) continue;
    ASSERT_LT(i + 1, exports.size());
    EXPECT_EQ(exports[i + 1].name.substr(0, name.size() + 1), name + "@");
    EXPECT_EQ(exports[i].rva, exports[i + 1].rva) << name;
  }
  // Distinct entry points otherwise.
  auto stem = [](const std::string& name) { return name.substr(0, name.find('@')); };
  for (size_t i = 0; i < exports.size(); ++i) {
    for (size_t j = i + 1; j < exports.size(); ++j) {
      if (stem(exports[i].name) == stem(exports[j].name)) continue;
      EXPECT_NE(exports[i].rva, exports[j].rva) << exports[i].name << " " << exports[j].name;
    }
  }
  // The display host looks names up undecorated only: these two it never finds.
  EXPECT_EQ(GetProcAddress(module_, "DISPLAYDLL_CustomChar"), nullptr);
  EXPECT_EQ(GetProcAddress(module_, "DISPLAYDLL_CustomCharIndex"), nullptr);
}

TEST_F(PluginDll, LoadingSetsNothingUpAndTheSetupDialogsCallsNeedNoInit) {
  using Text = const char*(WINAPI*)();
  auto get = [&](const char* name) { return LookupExport<Text>(module_, name); };
  // A second load, as the setup dialog makes it, while the first is held.
  HMODULE setup = LoadLibraryA((vt::ProgramDirectory() + "QX20481.dll").c_str());
  ASSERT_EQ(setup, module_);
  EXPECT_STREQ(get("DISPLAYDLL_Usage")(), "32 bit systems only!");
  EXPECT_STREQ(get("DISPLAYDLL_DriverName")(), "MediaPad Display v1.2.201.1126");
  EXPECT_STREQ(get("DISPLAYDLL_DefaultParameters")(), " ");
  FreeLibrary(setup);
  EXPECT_FALSE(vt::FileExists("logs"));
  EXPECT_EQ(GetModuleHandleA("MediaPadLayer.dll"), nullptr);
}
