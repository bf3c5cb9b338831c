#pragma once
// Small PE files made byte by byte for the patch step's tests: one section
// that holds an export table and whatever the test writes into it. Written
// apart from the check tool's own reader, so that the two do not share a
// mistake.

#include <cstdint>
#include <string>
#include <vector>

namespace vt {

struct PeShape {
  uint16_t machine = 0x14C;  // x86
  bool pe32_plus = false;    // the 64-bit optional header
  bool dll = true;
  std::vector<std::string> exports = {"getMediapadUID", "makeBeep"};
  uint32_t entry_rva = 0x1100;  // the address of every export
  uint32_t section_size = 0x14000;
};

constexpr uint32_t kSectionRva = 0x1000;
constexpr uint32_t kSectionFileOffset = 0x400;
// Where the export directory's fields lie in the file.
constexpr uint32_t kExportDirectoryOffset = kSectionFileOffset;
constexpr uint32_t kNameCountOffset = kExportDirectoryOffset + 24;
constexpr uint32_t kNamesTableRvaOffset = kExportDirectoryOffset + 32;

std::vector<uint8_t> BuildPe(const PeShape& shape);
// The file offset of an address inside the section.
inline uint32_t FileOffsetOf(uint32_t rva) { return rva - kSectionRva + kSectionFileOffset; }
void PutU32(std::vector<uint8_t>& file, uint32_t offset, uint32_t value);
// The text as UTF-16LE code units at `offset`, with a 0 code unit after it
// when `terminated`.
void PutUtf16(std::vector<uint8_t>& file, uint32_t offset, const std::string& text, bool terminated = true);

// A layer as the vendor ships it: "KHALAPI.dll" and `mark` at the places
// the patch step looks at, after getMediapadUID's entry.
std::vector<uint8_t> VendorLikeLayer(const std::string& mark = "Orig");

}  // namespace vt
