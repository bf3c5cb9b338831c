#include "pe_builder.h"

#include <cstring>

namespace vt {

namespace {

constexpr uint32_t kNtOffset = 0x80;

void PutU16(std::vector<uint8_t>& file, uint32_t offset, uint16_t value) { memcpy(&file[offset], &value, 2); }

}  // namespace

void PutU32(std::vector<uint8_t>& file, uint32_t offset, uint32_t value) { memcpy(&file[offset], &value, 4); }

void PutUtf16(std::vector<uint8_t>& file, uint32_t offset, const std::string& text, bool terminated) {
  for (size_t i = 0; i < text.size(); ++i) PutU16(file, offset + 2 * static_cast<uint32_t>(i), text[i]);
  if (terminated) PutU16(file, offset + 2 * static_cast<uint32_t>(text.size()), 0);
}

std::vector<uint8_t> BuildPe(const PeShape& shape) {
  std::vector<uint8_t> file(kSectionFileOffset + shape.section_size, 0);
  file[0] = 'M';
  file[1] = 'Z';
  PutU32(file, 0x3C, kNtOffset);
  memcpy(&file[kNtOffset], "PE\0\0", 4);
  const uint32_t header = kNtOffset + 4;
  const uint16_t optional_size = shape.pe32_plus ? 240 : 224;
  PutU16(file, header, shape.machine);
  PutU16(file, header + 2, 1);  // sections
  PutU16(file, header + 16, optional_size);
  PutU16(file, header + 18, shape.dll ? 0x2102 : 0x0102);
  const uint32_t optional = header + 20;
  PutU16(file, optional, shape.pe32_plus ? 0x20B : 0x10B);
  const uint32_t directories = optional + (shape.pe32_plus ? 112 : 96);
  PutU32(file, directories - 4, 16);

  // The export table at the start of the section: directory, addresses,
  // name pointers, ordinals, names.
  const uint32_t count = static_cast<uint32_t>(shape.exports.size());
  const uint32_t functions = kSectionRva + 40, names = functions + 4 * count, ordinals = names + 4 * count;
  uint32_t text = ordinals + 2 * count;
  const uint32_t directory = FileOffsetOf(kSectionRva);
  PutU32(file, directory + 20, count);
  PutU32(file, directory + 24, count);
  PutU32(file, directory + 28, functions);
  PutU32(file, directory + 32, names);
  PutU32(file, directory + 36, ordinals);
  for (uint32_t i = 0; i < count; ++i) {
    PutU32(file, FileOffsetOf(functions) + 4 * i, shape.entry_rva);
    PutU32(file, FileOffsetOf(names) + 4 * i, text);
    PutU16(file, FileOffsetOf(ordinals) + 2 * i, static_cast<uint16_t>(i));
    memcpy(&file[FileOffsetOf(text)], shape.exports[i].c_str(), shape.exports[i].size() + 1);
    text += static_cast<uint32_t>(shape.exports[i].size()) + 1;
  }
  PutU32(file, directories, kSectionRva);
  PutU32(file, directories + 4, text - kSectionRva);

  const uint32_t section = optional + optional_size;
  memcpy(&file[section], ".text", 5);
  PutU32(file, section + 8, shape.section_size);
  PutU32(file, section + 12, kSectionRva);
  PutU32(file, section + 16, shape.section_size);
  PutU32(file, section + 20, kSectionFileOffset);
  return file;
}

std::vector<uint8_t> VendorLikeLayer(const std::string& mark) {
  PeShape shape;
  std::vector<uint8_t> file = BuildPe(shape);
  PutUtf16(file, FileOffsetOf(shape.entry_rva + 78644), "KHALAPI.dll");
  PutUtf16(file, FileOffsetOf(shape.entry_rva + 78672), mark);
  return file;
}

}  // namespace vt
