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

// 0, or the error that stopped the write; `created` says whether the file
// was made, and so must go again.
DWORD WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, bool* created) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  *created = file != INVALID_HANDLE_VALUE;
  if (!*created) return GetLastError();
  DWORD written = 0;
  DWORD error = 0;
  if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
    error = GetLastError();
  } else if (written != bytes.size()) {
    error = ERROR_HANDLE_DISK_FULL;
  } else if (!FlushFileBuffers(file)) {
    error = GetLastError();
  }
  CloseHandle(file);
  return error;
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

std::string ErrorText(const std::string& what, DWORD error) { return what + " (error " + std::to_string(error) + ")"; }

// What the step must undo when it stops: its copy, and the layer it moved
// aside. Empty paths when there is nothing of the kind.
struct Undo {
  std::string fresh;
  std::string kept;
  std::string target;
};

// Stops the step: the layer moved aside goes back, the copy goes. When
// both are done the folder is as it was, and the step refuses; otherwise
// its line says what is left where.
int Stop(const std::string& source, const std::string& why, const Undo& undo, const MoveFileFn& move) {
  std::string left;
  if (!undo.kept.empty() && !move(undo.kept, undo.target)) {
    const DWORD error = GetLastError();
    left = ErrorText(
               "the " + std::string(kLayer) + " that was there is left as " + undo.kept + " and could not be put back",
               error) +
           ": rename it to " + kLayer;
  }
  if (!undo.fresh.empty() && !DeleteFileA(undo.fresh.c_str())) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND)
      left +=
          (left.empty() ? "" : "; ") + ErrorText("the copy " + undo.fresh + " is left and could not be removed", error);
  }
  if (left.empty()) return Refused(source, why);
  printf("failed: %s: %s; %s.\n", source.c_str(), why.c_str(), left.c_str());
  return 1;
}

}  // namespace

int PatchLayerStep(const std::string& source, const std::string& folder) {
  return PatchLayerStep(source, folder, RenameFile);
}

int PatchLayerStep(const std::string& source, const std::string& folder, const MoveFileFn& move) {
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
  Undo undo;
  bool created = false;
  if (const DWORD error = WriteWholeFile(fresh, bytes, &created)) {
    if (created) undo.fresh = fresh;
    return Stop(source, ErrorText("cannot write " + fresh, error), undo, move);
  }
  undo.fresh = fresh;
  if (!PassesPatchCheck(fresh))
    return Stop(source, "the patched copy does not pass the plug-in's patch check", undo, move);
  // The old layer is renamed, not copied: when it is the very file read,
  // that file lives on unchanged under its new name.
  std::string kept;
  if (GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
    kept = FreeKeepName(folder);
    if (!move(target, folder + kept)) {
      const DWORD error = GetLastError();
      return Stop(source, ErrorText("cannot keep " + target + " as " + kept, error), undo, move);
    }
    undo.kept = folder + kept;
    undo.target = target;
  }
  if (!move(fresh, target)) {
    const DWORD error = GetLastError();
    return Stop(source, ErrorText("cannot put the copy in place as " + target, error), undo, move);
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
