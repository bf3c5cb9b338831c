// The patch check's lines for the layer variants, and that it reads nothing
// outside the loaded layer's image.
#include "patch_check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "layer_binding.h"
#include "library_log.h"
#include "plugin_fixture.h"

using Lines = std::vector<std::string>;

namespace {

const char kNotPatched[] = "LoadMediaPadFunctions MediaPadLayer.dll Not correctly patched";

// The lines of the check itself, which lie between "GetMediaPadUID" and "Loading".
Lines CheckLines() {
  Lines lines = pt::LogLines();
  Lines check;
  bool in = false;
  for (const std::string& line : lines) {
    if (line.rfind("Loading", 0) == 0) break;
    if (in) check.push_back(line);
    if (line.rfind("GetMediaPadUID", 0) == 0) in = true;
  }
  return check;
}

std::string CheckLine(const char* should_be, uintptr_t address, const char* is) {
  char line[160];
  snprintf(line, sizeof line, "Checking Patch address 0x%08x Should be %s is %s", static_cast<unsigned>(address),
           should_be, is);
  return line;
}

uintptr_t LayerUidEntry() {
  return reinterpret_cast<uintptr_t>(GetProcAddress(GetModuleHandleA("MediaPadLayer.dll"), "getMediapadUID"));
}

class PatchCheck : public pt::PluginTest {
 protected:
  void Load(const char* variant) {
    ASSERT_TRUE(pt::PlaceLayer(variant));
    LogSetLevel(1);
    ASSERT_EQ(LoadMediaPadFunctions(), 0);
  }
};

}  // namespace

TEST_F(PatchCheck, PatchedLayerPasses) {
  Load("MediaPadLayer_recording");
  const uintptr_t b = LayerUidEntry();
  EXPECT_EQ(CheckLines(),
            Lines({CheckLine("Patx", b + 78672, "Patx"), CheckLine("VornApx.dll", b + 78644, "VornApx.dll")}));
}

TEST_F(PatchCheck, UnpatchedLayerFailsBothTestsAndIsLoadedAllTheSame) {
  Load("MediaPadLayer_unpatched");
  const uintptr_t b = LayerUidEntry();
  EXPECT_EQ(CheckLines(), Lines({CheckLine("Patx", b + 78672, "Orig"), kNotPatched,
                                 CheckLine("VornApx.dll", b + 78644, "KHALAPI.dll"), kNotPatched}));
  EXPECT_EQ(pt::LogLines().back(), "Init MediaPadLayer.dll loaded");
  EXPECT_TRUE(LayerLoaded());
}

TEST_F(PatchCheck, LayerFailingOnlyTheProxyNameGivesOneLineAfterTheSecondCheck) {
  Load("MediaPadLayer_halfpatched");
  const uintptr_t b = LayerUidEntry();
  EXPECT_EQ(CheckLines(), Lines({CheckLine("Patx", b + 78672, "Patx"),
                                 CheckLine("VornApx.dll", b + 78644, "KHALAPI.dll"), kNotPatched}));
}

TEST_F(PatchCheck, MarksOutsideTheLayerAreNotReadAndCountAsFailed) {
  Load("MediaPadLayer_recording");
  HMODULE layer = GetModuleHandleA("MediaPadLayer.dll");
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(layer);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const char*>(layer) + dos->e_lfanew);
  const uintptr_t base = reinterpret_cast<uintptr_t>(layer);
  const uintptr_t end = base + nt->OptionalHeader.SizeOfImage;
  LogClose();  // the next line starts a new cycle, which empties the file

  // An entry so near the end of the image that the marks would lie past it;
  // reading there would fault on the page behind the image, or read another module.
  const uintptr_t late = end - kPatxOffset;
  CheckLayerPatch(layer, late);
  const Lines outside = {CheckLine("Patx", late + 78672, "outside MediaPadLayer.dll"), kNotPatched,
                         CheckLine("VornApx.dll", late + 78644, "outside MediaPadLayer.dll"), kNotPatched};
  Lines lines = pt::LogLines();
  EXPECT_EQ(Lines(lines.begin() + 3, lines.end()), outside);

  // getMediapadUID missing: the base is null.
  LogClose();
  CheckLayerPatch(layer, 0);
  lines = pt::LogLines();
  EXPECT_EQ(Lines(lines.begin() + 3, lines.end()),
            Lines({CheckLine("Patx", 78672, "outside MediaPadLayer.dll"), kNotPatched,
                   CheckLine("VornApx.dll", 78644, "outside MediaPadLayer.dll"), kNotPatched}));
}

TEST(ImageExtent, RangesMustLieWhollyInsideTheImage) {
  HMODULE self = GetModuleHandleA(nullptr);
  const uintptr_t base = reinterpret_cast<uintptr_t>(self);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(self);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const uintptr_t size = nt->OptionalHeader.SizeOfImage;
  EXPECT_TRUE(ImageContains(self, base, size));
  EXPECT_TRUE(ImageContains(self, base + size - 36, 36));
  EXPECT_FALSE(ImageContains(self, base + size - 35, 36));
  EXPECT_FALSE(ImageContains(self, base - 1, 36));
  EXPECT_FALSE(ImageContains(self, base + 16, ~uintptr_t{0} - 8));  // a length that would wrap round
  EXPECT_FALSE(ImageContains(self, base + size, 1));
  EXPECT_FALSE(ImageContains(nullptr, 0x1000, 36));
}

TEST(ImageExtent, UnloadWithoutALayerDoesNothing) {
  EXPECT_FALSE(LayerLoaded());
  UnloadMediaPadLayer();
  UnloadMediaPadLayer();
  EXPECT_FALSE(LayerLoaded());
}
