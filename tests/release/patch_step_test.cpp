// vorn-check.exe --patch-layer under Wine: the patched copy lands beside the
// tool and passes the plug-in's patch check, the file read stays byte for
// byte as it was, a layer that is replaced is kept, and each refusal is one
// line that leaves the folder as it was. Renames that fail are driven
// through the step's seam, in this process.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "failing_renames.h"
#include "layer_files.h"
#include "patch_layer_step.h"
#include "pe_builder.h"
#include "stdout_capture.h"
#include "test_support.h"

namespace {

bool Copy(const std::string& from, const std::string& to) { return CopyFileA(from.c_str(), to.c_str(), FALSE); }

class PatchStep : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = dir_.path() + "\\LCDSmartie\\";
    vendor_ = dir_.path() + "\\vendor\\";
    ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(vendor_.c_str(), nullptr));
    ASSERT_TRUE(Copy(vt::ProgramDirectory() + "vorn-check.exe", folder_ + "vorn-check.exe"));
    original_ = vt::ReadFileBytes(vt::StandInLayer("MediaPadLayer_original"));
    ASSERT_FALSE(original_.empty());
    ASSERT_TRUE(vt::WriteFileBytes(vendor_ + "MediaPadLayer.dll", original_));
  }
  // Runs the patch step on `source`; its exit status, its lines in `lines_`.
  int Run(const std::string& source) {
    const vt::ChildRun run = vt::RunChild("\"" + folder_ + "vorn-check.exe\" --patch-layer \"" + source + "\"",
                                          dir_.path(), dir_.path() + "\\patch.txt", 30000);
    lines_ = vt::Lines(run.output);
    return run.exit_code;
  }
  std::set<std::string> Files() const {
    std::set<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder_ + "*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.insert(data.cFileName);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return names;
  }
  std::string Bytes(const char* name) const { return vt::ReadFileBytes(folder_ + name); }
  std::string Output() const { return testing::PrintToString(lines_); }

  vt::ScopedTempDir dir_;
  std::string folder_, vendor_, original_;
  std::vector<std::string> lines_;
};

// The bytes in which two files of one length differ lie within `length`
// bytes from one of the `starts`.
bool DiffersOnlyAt(const std::string& a, const std::string& b, std::vector<size_t> starts, size_t length) {
  if (a.size() != b.size()) return false;
  bool any = false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] == b[i]) continue;
    any = true;
    bool inside = false;
    for (size_t start : starts) inside = inside || (i >= start && i < start + length);
    if (!inside) return false;
  }
  return any;
}

const std::string kVendorName("K\0H\0A\0L\0A\0P\0I\0.\0d\0l\0l\0\0\0", 24);
const std::string kVendorMark("O\0r\0i\0g\0\0\0", 10);

}  // namespace

TEST_F(PatchStep, WritesThePatchedCopyBesideTheToolAndLeavesTheSourceAsItWas) {
  const std::string source = vendor_ + "MediaPadLayer.dll";
  ASSERT_EQ(Run(source), 0) << Output();
  ASSERT_EQ(lines_.size(), 1u) << Output();
  EXPECT_EQ(lines_[0], "patched: wrote " + folder_ + "MediaPadLayer.dll from " + source +
                           "; it loads VornApx.dll instead of KHALAPI.dll.");
  EXPECT_EQ(vt::ReadFileBytes(source), original_);
  EXPECT_EQ(Files(), (std::set<std::string>{"vorn-check.exe", "MediaPadLayer.dll"}));
  EXPECT_TRUE(vt::PassesPatchCheck(folder_ + "MediaPadLayer.dll"));
  EXPECT_FALSE(vt::PassesPatchCheck(source));
  const size_t name = original_.find(kVendorName), mark = original_.find(kVendorMark);
  ASSERT_NE(name, std::string::npos);
  ASSERT_NE(mark, std::string::npos);
  EXPECT_TRUE(DiffersOnlyAt(original_, Bytes("MediaPadLayer.dll"), {name, mark}, 22));
}

TEST_F(PatchStep, KeepsTheLayerItReplacesUnderAFreeName) {
  const std::string other = vt::ReadFileBytes(vt::StandInLayer("MediaPadLayer_recording"));
  ASSERT_TRUE(vt::WriteFileBytes(folder_ + "MediaPadLayer.dll", other));
  ASSERT_EQ(Run(vendor_ + "MediaPadLayer.dll"), 0) << Output();
  ASSERT_EQ(lines_.size(), 1u) << Output();
  EXPECT_NE(lines_[0].find("; the MediaPadLayer.dll that was there is kept as MediaPadLayer.dll.orig"),
            std::string::npos)
      << lines_[0];
  EXPECT_EQ(Bytes("MediaPadLayer.dll.orig"), other);
  EXPECT_TRUE(vt::PassesPatchCheck(folder_ + "MediaPadLayer.dll"));

  // .orig is taken now: the next layer replaced goes by another name.
  ASSERT_TRUE(vt::WriteFileBytes(folder_ + "MediaPadLayer.dll", "not a layer"));
  ASSERT_EQ(Run(vendor_ + "MediaPadLayer.dll"), 0) << Output();
  EXPECT_NE(lines_[0].find("is kept as MediaPadLayer.dll.orig2"), std::string::npos) << lines_[0];
  EXPECT_EQ(Bytes("MediaPadLayer.dll.orig"), other);
  EXPECT_EQ(Bytes("MediaPadLayer.dll.orig2"), "not a layer");
}

// The setup program's case: the vendor's layer stands where its patched
// copy goes, and lives on, untouched, as the kept one.
TEST_F(PatchStep, TheFoldersOwnLayerIsKeptAndReplaced) {
  ASSERT_TRUE(vt::WriteFileBytes(folder_ + "MediaPadLayer.dll", original_));
  ASSERT_EQ(Run(folder_ + "MediaPadLayer.dll"), 0) << Output();
  EXPECT_EQ(Bytes("MediaPadLayer.dll.orig"), original_);
  EXPECT_TRUE(vt::PassesPatchCheck(folder_ + "MediaPadLayer.dll"));
  EXPECT_EQ(Files(), (std::set<std::string>{"vorn-check.exe", "MediaPadLayer.dll", "MediaPadLayer.dll.orig"}));
}

TEST_F(PatchStep, AnAlreadyPatchedLayerIsCopiedAsItIsAndNotKeptTwice) {
  const std::string patched = vt::ReadFileBytes(vt::StandInLayer("MediaPadLayer"));
  ASSERT_TRUE(vt::WriteFileBytes(vendor_ + "patched.dll", patched));
  ASSERT_EQ(Run(vendor_ + "patched.dll"), 0) << Output();
  EXPECT_EQ(lines_, (std::vector<std::string>{"already patched: copied " + folder_ + "MediaPadLayer.dll from " +
                                              vendor_ + "patched.dll as it is."}));
  EXPECT_EQ(Bytes("MediaPadLayer.dll"), patched);
  // The same again: the copy is in place already, and nothing is kept.
  ASSERT_EQ(Run(vendor_ + "patched.dll"), 0) << Output();
  EXPECT_EQ(lines_.at(0).rfind("already in place: ", 0), 0u) << Output();
  EXPECT_EQ(Files(), (std::set<std::string>{"vorn-check.exe", "MediaPadLayer.dll"}));
}

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST_F(PatchStep, EachRefusalIsOneLineAndWritesNothing) {
  const std::string present = vt::ReadFileBytes(vt::StandInLayer("MediaPadLayer_recording"));
  ASSERT_TRUE(vt::WriteFileBytes(folder_ + "MediaPadLayer.dll", present));
  vt::PeShape late_entry;
  late_entry.entry_rva = vt::kSectionRva + late_entry.section_size - 100;
  std::vector<uint8_t> wrong_name = vt::VendorLikeLayer();
  vt::PutUtf16(wrong_name, vt::FileOffsetOf(vt::PeShape().entry_rva + 78644), "KERNEL3.dll");
  const struct {
    std::string source;
    std::string bytes;  // written as the source when not empty
    const char* expected;
  } cases[] = {
      {vendor_ + "missing.dll", "", "it cannot be opened (error 2)"},
      {vendor_ + "notes.txt", "not a DLL at all", "it is not a Windows program file"},
      {vt::Win64BinDirectory() + "KHALAPI.dll", "", "it is a 64-bit file"},
      {vt::ProgramDirectory() + "display_host.exe", "", "it is a program, not a DLL"},
      {vt::ProgramDirectory() + "VornApx.dll", "", "it does not export getMediapadUID"},
      {vendor_ + "late_entry.dll", Text(vt::BuildPe(late_entry)),
       "the places of the texts after getMediapadUID lie outside its sections: another build"},
      {vendor_ + "wrong_name.dll", Text(wrong_name),
       "it holds \"KERNEL3.dll\" where the vendor's holds \"KHALAPI.dll\""},
      {vendor_ + "wrong_mark.dll", Text(vt::VendorLikeLayer("Or1g")),
       "it holds \"Or1g?\" where the vendor's holds four letters"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    if (!c.bytes.empty()) {
      ASSERT_TRUE(vt::WriteFileBytes(c.source, c.bytes));
    }
    const std::string before = vt::ReadFileBytes(c.source);
    EXPECT_EQ(Run(c.source), 1) << Output();
    EXPECT_EQ(lines_,
              (std::vector<std::string>{"refused: " + c.source + ": " + c.expected + ". Nothing was written."}));
    EXPECT_EQ(vt::ReadFileBytes(c.source), before);
    EXPECT_EQ(Files(), (std::set<std::string>{"vorn-check.exe", "MediaPadLayer.dll"}));
    EXPECT_EQ(Bytes("MediaPadLayer.dll"), present);
  }
}

// A rename that fails is undone: the layer that was there goes back and
// the copy goes. Only a layer that cannot be put back leaves the folder
// changed, and the line says where it is instead of "Nothing was written".
TEST_F(PatchStep, ARenameThatFailsIsUndoneOrWhatIsLeftIsSaid) {
  const std::string source = vendor_ + "MediaPadLayer.dll";
  const std::string target = folder_ + "MediaPadLayer.dll";
  const std::string present = vt::ReadFileBytes(vt::StandInLayer("MediaPadLayer_recording"));
  const std::set<std::string> as_it_was = {"vorn-check.exe", "MediaPadLayer.dll"};
  const struct {
    std::set<int> failing;  // 0: keeping the layer, 1: the copy into its place, 2: the layer back
    std::string line;
    std::set<std::string> files;
  } cases[] = {
      {{0},
       "refused: " + source + ": cannot keep " + target + " as MediaPadLayer.dll.orig (error 5). Nothing was written.",
       as_it_was},
      {{1},
       "refused: " + source + ": cannot put the copy in place as " + target + " (error 5). Nothing was written.",
       as_it_was},
      {{1, 2},
       "failed: " + source + ": cannot put the copy in place as " + target + " (error 5); the MediaPadLayer.dll that " +
           "was there is left as " + target + ".orig and could not be put back (error 5): rename it to " +
           "MediaPadLayer.dll.",
       {"vorn-check.exe", "MediaPadLayer.dll.orig"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    DeleteFileA((target + ".orig").c_str());
    ASSERT_TRUE(vt::WriteFileBytes(target, present));
    StdoutCapture output;
    const int status = PatchLayerStep(source, folder_, RenamesFailingAt(c.failing));
    EXPECT_EQ(status, 1);
    EXPECT_EQ(vt::Lines(output.Finish()), std::vector<std::string>{c.line});
    EXPECT_EQ(Files(), c.files);
    EXPECT_EQ(c.files.count("MediaPadLayer.dll") ? Bytes("MediaPadLayer.dll") : Bytes("MediaPadLayer.dll.orig"),
              present);
    EXPECT_EQ(vt::ReadFileBytes(source), original_);
  }
}
