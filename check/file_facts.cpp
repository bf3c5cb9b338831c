#include "file_facts.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "bridge_names.h"

Machine FileMachine(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Machine::kMissing;
  IMAGE_DOS_HEADER dos = {};
  IMAGE_FILE_HEADER header = {};
  DWORD signature = 0, got = 0;
  Machine machine = Machine::kUnknown;
  if (ReadFile(file, &dos, sizeof dos, &got, nullptr) && got == sizeof dos && dos.e_magic == IMAGE_DOS_SIGNATURE &&
      SetFilePointer(file, dos.e_lfanew, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
      ReadFile(file, &signature, sizeof signature, &got, nullptr) && got == sizeof signature &&
      signature == IMAGE_NT_SIGNATURE && ReadFile(file, &header, sizeof header, &got, nullptr) &&
      got == sizeof header) {
    if (header.Machine == IMAGE_FILE_MACHINE_I386) machine = Machine::kX86;
    if (header.Machine == IMAGE_FILE_MACHINE_AMD64) machine = Machine::kX64;
  }
  CloseHandle(file);
  return machine;
}

const char* MachineText(Machine machine) {
  switch (machine) {
    case Machine::kX86: return "32-bit";
    case Machine::kX64: return "64-bit";
    case Machine::kMissing: return "missing";
    default: return "not a Windows program file";
  }
}

namespace {

// The value of `query` in the file's version resource: its bytes and their
// length, in `data`, which holds the resource; false when it has none.
bool QueryVersion(const std::string& path, const char* query, std::vector<char>* data, void** value, UINT* length) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (size == 0) return false;
  data->resize(size);
  return GetFileVersionInfoA(path.c_str(), 0, size, data->data()) &&
         VerQueryValueA(data->data(), query, value, length) && *length > 0;
}

// A text of the file's version resource, in the one language our programs
// carry (packaging/version.rc.in); empty when it has none.
std::string VersionText(const std::string& path, const char* key) {
  std::vector<char> data;
  void* text = nullptr;
  UINT length = 0;
  const std::string query = std::string("\\StringFileInfo\\040904B0\\") + key;
  if (!QueryVersion(path, query.c_str(), &data, &text, &length)) return "";
  return std::string(static_cast<const char*>(text), strnlen(static_cast<const char*>(text), length));
}

}  // namespace

std::string FileVersion(const std::string& path) {
  std::vector<char> data;
  void* value = nullptr;
  UINT length = 0;
  if (!QueryVersion(path, "\\", &data, &value, &length) || length < sizeof(VS_FIXEDFILEINFO)) return "";
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(value);
  char text[48];
  snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", info->dwFileVersionMS >> 16, info->dwFileVersionMS & 0xFFFF,
           info->dwFileVersionLS >> 16, info->dwFileVersionLS & 0xFFFF);
  return text;
}

bool IsIsolatingBridge(const std::string& path) {
  return _stricmp(VersionText(path, "OriginalFilename").c_str(), kIsolatingBridge) == 0;
}

bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}
