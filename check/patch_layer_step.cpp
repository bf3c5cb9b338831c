#include "patch_layer_step.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "layer_patch.h"
#include "patch_marks.h"

namespace {

constexpr char kLayer[] = "MediaPadLayer.dll";
// Far above any build of the layer; a larger file is not read into memory.
constexpr DWORD kMaxLayerBytes = 64 << 20;

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* why) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *why = "it cannot be opened (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  DWORD high = 0;
  const DWORD size = GetFileSize(file, &high);
  bool ok = high == 0 && size != INVALID_FILE_SIZE && size <= kMaxLayerBytes;
  if (!ok) *why = "it is far too large to be the MediaPad layer";
  DWORD got = 0;
  if (ok) {
    bytes->resize(size);
    ok = size == 0 || (ReadFile(file, bytes->data(), size, &got, nullptr) && got == size);
    if (!ok) *why = "it cannot be read (error " + std::to_string(GetLastError()) + ")";
  }
  CloseHandle(file);
  return ok;
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok =
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
  ok = FlushFileBuffers(file) && ok;
  CloseHandle(file);
  if (!ok) DeleteFileA(path.c_str());
  return ok;
}

bool SameBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> there;
  std::string ignored;
  return ReadWholeFile(path, &there, &ignored) && there == bytes;
}

// The plug-in's own patch check, on the copy as the loader maps it. The
// layer's code does not run: neither its imports nor its DllMain.
bool PassesPatchCheck(const std::string& path) {
  HMODULE layer = LoadLibraryExA(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  if (!layer) return false;
  const uintptr_t entry = reinterpret_cast<uintptr_t>(GetProcAddress(layer, "getMediapadUID"));
  const bool passed = LayerIsPatched(ReadPatchMarks(layer, entry));
  FreeLibrary(layer);
  return passed;
}

std::string FreeKeepName(const std::string& folder) {
  std::string name = std::string(kLayer) + ".orig";
  for (int n = 2; GetFileAttributesA((folder + name).c_str()) != INVALID_FILE_ATTRIBUTES && n < 1000; ++n)
    name = std::string(kLayer) + ".orig" + std::to_string(n);
  return name;
}

int Refused(const std::string& source, const std::string& why) {
  printf("refused: %s: %s. Nothing was written.\n", source.c_str(), why.c_str());
  return 1;
}

std::string ErrorText(const char* what) {
  return std::string(what) + " (error " + std::to_string(GetLastError()) + ")";
}

}  // namespace

int PatchLayerStep(const std::string& source, const std::string& folder) {
  std::vector<uint8_t> bytes;
  std::string why;
  if (!ReadWholeFile(source, &bytes, &why)) return Refused(source, why);
  const LayerPatch patch = PatchLayerBytes(bytes);
  if (PatchRefused(patch)) return Refused(source, patch.detail);

  const std::string target = folder + kLayer;
  if (SameBytes(target, bytes)) {
    if (!PassesPatchCheck(target)) return Refused(source, target + " does not pass the plug-in's patch check");
    printf("already in place: %s is the patched copy of %s; nothing was written.\n", target.c_str(), source.c_str());
    return 0;
  }
  // Written beside its place and checked there, so that a copy that fails
  // leaves the folder as it was.
  const std::string fresh = target + ".new";
  if (!WriteWholeFile(fresh, bytes)) return Refused(source, ErrorText(("cannot write " + fresh).c_str()));
  if (!PassesPatchCheck(fresh)) {
    DeleteFileA(fresh.c_str());
    return Refused(source, "the patched copy does not pass the plug-in's patch check");
  }
  // The old layer is renamed, not copied: when it is the very file read,
  // that file lives on unchanged under its new name.
  std::string kept;
  if (GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
    kept = FreeKeepName(folder);
    if (!MoveFileExA(target.c_str(), (folder + kept).c_str(), 0)) {
      const std::string error = ErrorText(("cannot keep " + target + " as " + kept).c_str());
      DeleteFileA(fresh.c_str());
      return Refused(source, error);
    }
  }
  if (!MoveFileExA(fresh.c_str(), target.c_str(), 0)) {
    const std::string error = ErrorText(("cannot put the copy in place as " + target).c_str());
    if (!kept.empty()) MoveFileExA((folder + kept).c_str(), target.c_str(), 0);
    DeleteFileA(fresh.c_str());
    return Refused(source, error);
  }
  const char* what = patch.verdict == LayerPatchVerdict::kPatched
                         ? "patched: wrote %s from %s; it loads VornApx.dll instead of KHALAPI.dll"
                         : "already patched: copied %s from %s as it is";
  printf(what, target.c_str(), source.c_str());
  if (kept.empty()) {
    printf(".\n");
  } else {
    printf("; the %s that was there is kept as %s\n", kLayer, kept.c_str());
  }
  return 0;
}
