// The patch step on file bytes: exactly the two texts change, and every
// file that is not the vendor's layer is refused unchanged, however its
// headers and tables lie about their offsets and sizes.
#include "layer_patch.h"

#include <gtest/gtest.h>

#include "pe_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kEntry = 0x1100;
const uint32_t kNameAt = vt::FileOffsetOf(kEntry + 78644);
const uint32_t kMarkAt = vt::FileOffsetOf(kEntry + 78672);

// Patches a copy; a refusal must leave the copy as it was.
LayerPatch Patch(const Bytes& file) {
  Bytes copy = file;
  const LayerPatch patch = PatchLayerBytes(copy);
  if (PatchRefused(patch)) {
    EXPECT_EQ(copy, file) << "a refused file was changed";
  }
  return patch;
}

LayerPatchVerdict Verdict(const Bytes& file) { return Patch(file).verdict; }

// The vendor-like layer with `text` in UTF-16LE at `at`.
Bytes With(uint32_t at, const std::string& text) {
  Bytes file = vt::VendorLikeLayer();
  vt::PutUtf16(file, at, text);
  return file;
}

// The vendor-like layer with one byte changed.
Bytes WithByte(uint32_t at, uint8_t value) {
  Bytes file = vt::VendorLikeLayer();
  file[at] = value;
  return file;
}

}  // namespace

TEST(LayerPatch, ChangesExactlyTheNameAndTheMark) {
  const Bytes vendor = vt::VendorLikeLayer();
  Bytes file = vendor;
  ASSERT_EQ(PatchLayerBytes(file).verdict, LayerPatchVerdict::kPatched);
  Bytes expected = vendor;
  vt::PutUtf16(expected, kNameAt, "VornApx.dll");
  vt::PutUtf16(expected, kMarkAt, "Patx");
  EXPECT_EQ(file, expected);
  // Patched once, the layer is recognised and left alone.
  const Bytes patched = file;
  EXPECT_EQ(PatchLayerBytes(file).verdict, LayerPatchVerdict::kAlreadyPatched);
  EXPECT_EQ(file, patched);
}

TEST(LayerPatch, AnyFourLettersMayStandAtTheMark) {
  EXPECT_EQ(Verdict(vt::VendorLikeLayer("abCD")), LayerPatchVerdict::kPatched);
  EXPECT_EQ(Verdict(vt::VendorLikeLayer("Patx")), LayerPatchVerdict::kPatched);
}

TEST(LayerPatch, RefusesWhatIsNotA32BitDll) {
  EXPECT_EQ(Verdict(Bytes()), LayerPatchVerdict::kNotA32BitDll);
  const std::string text = "this is a text file, not a layer\r\n";
  EXPECT_EQ(Verdict(Bytes(text.begin(), text.end())), LayerPatchVerdict::kNotA32BitDll);
  vt::PeShape shape;
  shape.machine = 0x8664;
  shape.pe32_plus = true;
  const LayerPatch wide = Patch(vt::BuildPe(shape));
  EXPECT_EQ(wide.verdict, LayerPatchVerdict::kNotA32BitDll);
  EXPECT_EQ(wide.detail, "it is a 64-bit file");
  shape = vt::PeShape();
  shape.dll = false;
  EXPECT_EQ(Patch(vt::BuildPe(shape)).detail, "it is a program, not a DLL");
}

TEST(LayerPatch, RefusesALayerWithoutTheUidEntry) {
  vt::PeShape shape;
  shape.exports = {"getMediapadUIDx", "makeBeep"};
  EXPECT_EQ(Verdict(vt::BuildPe(shape)), LayerPatchVerdict::kNoUidEntry);
  // An export that forwards to another DLL points into the export table.
  shape = vt::PeShape();
  shape.entry_rva = vt::kSectionRva + 8;
  EXPECT_EQ(Verdict(vt::BuildPe(shape)), LayerPatchVerdict::kNoUidEntry);
}

TEST(LayerPatch, RefusesPlacesOutsideTheSections) {
  vt::PeShape shape;
  shape.entry_rva = vt::kSectionRva + shape.section_size - 78672;  // the name fits, the mark does not
  EXPECT_EQ(Verdict(vt::BuildPe(shape)), LayerPatchVerdict::kOutsideSections);
  shape.entry_rva = 0xFFFFFF00;  // the sums would wrap around
  EXPECT_EQ(Verdict(vt::BuildPe(shape)), LayerPatchVerdict::kOutsideSections);
  // A section that claims more data than the file holds.
  Bytes cut = vt::VendorLikeLayer();
  cut.resize(kMarkAt + 4);
  EXPECT_EQ(Verdict(cut), LayerPatchVerdict::kOutsideSections);
}

TEST(LayerPatch, RefusesAnythingButTheVendorsNameAtTheFirstPlace) {
  for (const char* name : {"KHALAPI.dlx", "khalapi.dll", "KHALAPI.dl"}) {
    const LayerPatch patch = Patch(With(kNameAt, name));
    EXPECT_EQ(patch.verdict, LayerPatchVerdict::kNotVendorName) << name;
    EXPECT_NE(patch.detail.find("where the vendor's holds \"KHALAPI.dll\""), std::string::npos) << patch.detail;
  }
  EXPECT_EQ(Verdict(With(kNameAt, "KHALAPI.dlls")), LayerPatchVerdict::kNotVendorName);
  EXPECT_EQ(Verdict(WithByte(kNameAt + 1, 0x01)), LayerPatchVerdict::kNotVendorName);  // 'K' with a high byte
}

TEST(LayerPatch, RefusesAnythingButFourLettersAndAZeroAtTheMark) {
  for (const char* mark : {"Pat1", "Pa x", "Pat"}) {
    EXPECT_EQ(Verdict(vt::VendorLikeLayer(mark)), LayerPatchVerdict::kNotFourLetters) << mark;
  }
  EXPECT_EQ(Verdict(With(kMarkAt, "Origx")), LayerPatchVerdict::kNotFourLetters);
  EXPECT_EQ(Verdict(WithByte(kMarkAt + 3, 0x04)), LayerPatchVerdict::kNotFourLetters);  // 'r' with a high byte
  // An already patched name does not excuse the mark.
  Bytes half = vt::VendorLikeLayer("Or1g");
  vt::PutUtf16(half, kNameAt, "VornApx.dll");
  EXPECT_EQ(Verdict(half), LayerPatchVerdict::kNotFourLetters);
}

// Offsets and counts from the file that point beyond it are never followed.
TEST(LayerPatch, HeadersAndTablesThatPointBeyondTheFileAreRefused) {
  const Bytes vendor = vt::VendorLikeLayer();
  for (uint32_t size : {2u, 63u, 64u, 0x84u, 0x97u, 0x100u, 0x1A0u, 0x400u, 0x428u, 0x1000u}) {
    EXPECT_TRUE(PatchRefused(Patch(Bytes(vendor.begin(), vendor.begin() + size)))) << "cut at " << size;
  }
  Bytes far_header = vendor;
  vt::PutU32(far_header, 0x3C, 0xFFFFFFF0);
  EXPECT_EQ(Verdict(far_header), LayerPatchVerdict::kNotA32BitDll);
  Bytes many_names = vendor;
  vt::PutU32(many_names, vt::kNameCountOffset, 0x7FFFFFFF);
  EXPECT_EQ(Verdict(many_names), LayerPatchVerdict::kNoUidEntry);
  Bytes far_names = vendor;
  vt::PutU32(far_names, vt::kNamesTableRvaOffset, 0xFFFFFFF0);
  EXPECT_EQ(Verdict(far_names), LayerPatchVerdict::kNoUidEntry);
  Bytes many_sections = vendor;
  many_sections[0x86] = 0xFF;  // the file header's section count
  many_sections[0x87] = 0xFF;
  EXPECT_EQ(Verdict(many_sections), LayerPatchVerdict::kNotA32BitDll);
}
