#include "pe_layout.h"

#include <cstring>

namespace {

constexpr uint32_t kDosHeaderSize = 64;
constexpr uint32_t kNewHeaderPointer = 0x3C;
constexpr uint32_t kFileHeaderSize = 20;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kExportDirectorySize = 40;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint16_t kDllFlag = 0x2000;

}  // namespace

bool PeLayout::Fail(const char* why) {
  error_ = why;
  return false;
}

bool PeLayout::ReadAt(uint64_t offset, void* to, uint32_t length) const {
  if (offset > file_->size() || length > file_->size() - offset) return false;
  memcpy(to, file_->data() + offset, length);
  return true;
}

uint32_t PeLayout::U32(uint32_t offset) const {
  uint32_t value = 0;
  ReadAt(offset, &value, sizeof value);
  return value;
}

uint16_t PeLayout::U16(uint32_t offset) const {
  uint16_t value = 0;
  ReadAt(offset, &value, sizeof value);
  return value;
}

bool PeLayout::Read(const std::vector<uint8_t>& file) {
  file_ = &file;
  sections_.clear();
  error_.clear();
  const uint64_t size = file.size();
  if (size < kDosHeaderSize || file[0] != 'M' || file[1] != 'Z') return Fail("it is not a Windows program file");
  const uint64_t nt = U32(kNewHeaderPointer);
  char signature[4] = {};
  if (!ReadAt(nt, signature, 4) || memcmp(signature, "PE\0\0", 4) != 0 || nt + 4 + kFileHeaderSize > size)
    return Fail("it is not a Windows program file (no PE header)");
  const uint32_t header = static_cast<uint32_t>(nt + 4);
  machine_ = U16(header);
  const uint16_t section_count = U16(header + 2);
  const uint16_t optional_size = U16(header + 16);
  is_dll_ = (U16(header + 18) & kDllFlag) != 0;

  const uint64_t optional = header + kFileHeaderSize;
  if (optional + optional_size > size || optional_size < 2) return Fail("its headers end before their size");
  const uint16_t magic = U16(static_cast<uint32_t>(optional));
  is_pe32_ = magic == kPe32Magic;
  if (!is_pe32_ && magic != kPe32PlusMagic) return Fail("its optional header is of an unknown kind");
  // The directory count and the directories follow the fixed fields, whose
  // length differs between the 32-bit and the 64-bit header.
  const uint32_t count_at = is_pe32_ ? 92 : 108;
  const uint32_t first_directory = count_at + 4;
  export_rva_ = export_size_ = 0;
  if (optional_size >= first_directory + 8 && U32(static_cast<uint32_t>(optional + count_at)) >= 1) {
    export_rva_ = U32(static_cast<uint32_t>(optional + first_directory));
    export_size_ = U32(static_cast<uint32_t>(optional + first_directory + 4));
  }

  const uint64_t table = optional + optional_size;
  if (table + static_cast<uint64_t>(section_count) * kSectionHeaderSize > size)
    return Fail("its section table ends beyond the end of the file");
  for (uint32_t i = 0; i < section_count; ++i) {
    const uint32_t at = static_cast<uint32_t>(table + i * kSectionHeaderSize);
    const uint32_t virtual_size = U32(at + 8);
    const uint32_t raw_size = U32(at + 16);
    Section section = {U32(at + 12), raw_size, U32(at + 20)};
    // Bytes past the virtual size are padding that the image never maps.
    if (virtual_size != 0 && virtual_size < raw_size) section.size = virtual_size;
    sections_.push_back(section);
  }
  return true;
}

bool PeLayout::FileOffset(uint32_t rva, uint32_t length, uint32_t* offset) const {
  for (const Section& s : sections_) {
    if (rva < s.rva) continue;
    const uint32_t into = rva - s.rva;
    if (into > s.size || length > s.size - into) continue;
    const uint64_t at = static_cast<uint64_t>(s.file_offset) + into;
    if (at > file_->size() || length > file_->size() - at) continue;  // the section claims more than the file holds
    *offset = static_cast<uint32_t>(at);
    return true;
  }
  return false;
}

bool PeLayout::FindExport(const char* name, uint32_t* rva) const {
  uint32_t directory = 0;
  if (export_rva_ == 0 || !FileOffset(export_rva_, kExportDirectorySize, &directory)) return false;
  const uint32_t function_count = U32(directory + 20);
  const uint32_t name_count = U32(directory + 24);
  uint32_t functions = 0, names = 0, ordinals = 0;
  // Counts from the file: a table that would not fit in it is not read at all.
  if (function_count > file_->size() / 4 || name_count > file_->size() / 4 ||
      !FileOffset(U32(directory + 28), function_count * 4, &functions) ||
      !FileOffset(U32(directory + 32), name_count * 4, &names) ||
      !FileOffset(U32(directory + 36), name_count * 2, &ordinals))
    return false;
  const uint32_t name_length = static_cast<uint32_t>(strlen(name)) + 1;
  for (uint32_t i = 0; i < name_count; ++i) {
    uint32_t text = 0;
    if (!FileOffset(U32(names + 4 * i), name_length, &text) || memcmp(file_->data() + text, name, name_length) != 0)
      continue;
    const uint32_t index = U16(ordinals + 2 * i);
    if (index >= function_count) return false;
    *rva = U32(functions + 4 * index);
    return true;
  }
  return false;
}

bool PeLayout::ExportRva(const char* name, uint32_t* rva) const {
  uint32_t found = 0;
  if (!FindExport(name, &found)) return false;
  // An address inside the export table names another DLL's function.
  if (found >= export_rva_ && found - export_rva_ < export_size_) return false;
  *rva = found;
  return true;
}

bool PeLayout::HasExport(const char* name) const {
  uint32_t found = 0;
  return FindExport(name, &found);
}
