#pragma once
// The layout of a PE file read from its bytes, not from a loaded image: the
// headers, the section table and the export table. Every offset, size and
// count that the file gives is checked against the file's size before
// anything is read at it, so a damaged or hostile file is refused, never
// read beyond.

#include <cstdint>
#include <string>
#include <vector>

class PeLayout {
 public:
  // Reads the headers and the section table of `file`, which must outlive
  // this object. False when they are not those of a PE file; `error` then
  // says what is wrong in a few words.
  bool Read(const std::vector<uint8_t>& file);
  const std::string& error() const { return error_; }

  uint16_t machine() const { return machine_; }  // IMAGE_FILE_MACHINE_...
  bool is_dll() const { return is_dll_; }
  bool is_pe32() const { return is_pe32_; }  // the 32-bit optional header

  // The file offset of the `length` bytes at `rva`, when all of them lie in
  // the data that one section carries in the file.
  bool FileOffset(uint32_t rva, uint32_t length, uint32_t* offset) const;
  // The address of the code that the export `name` names; false when there
  // is no such export, when it forwards to another DLL, or when the export
  // table does not lie in the file.
  bool ExportRva(const char* name, uint32_t* rva) const;
  // True when the export table names `name`, also when it forwards to
  // another DLL (GetProcAddress finds such a name as well).
  bool HasExport(const char* name) const;

 private:
  struct Section {
    uint32_t rva;
    uint32_t size;  // bytes that the file carries and the image maps
    uint32_t file_offset;
  };
  bool Fail(const char* why);
  bool FindExport(const char* name, uint32_t* rva) const;  // the table's address for the name, as it stands
  bool ReadAt(uint64_t offset, void* to, uint32_t length) const;
  uint32_t U32(uint32_t offset) const;  // only at offsets already checked
  uint16_t U16(uint32_t offset) const;

  const std::vector<uint8_t>* file_ = nullptr;
  std::string error_;
  uint16_t machine_ = 0;
  bool is_dll_ = false;
  bool is_pe32_ = false;
  uint32_t export_rva_ = 0;
  uint32_t export_size_ = 0;
  std::vector<Section> sections_;
};
