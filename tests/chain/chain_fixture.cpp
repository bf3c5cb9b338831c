#include "chain_fixture.h"

#include "host_harness.h"
#include "plugin_fixture.h"

namespace pt {

namespace {

// Read with every kind of sharing: the pad replaces the file by a rename,
// which fails while a reader holds it without delete sharing.
std::string ReadPadStateFile() {
  std::string text;
  HANDLE file = CreateFileA("mediapad.state", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  char buffer[512];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(file);
  return text;
}

}  // namespace

std::map<std::string, std::string> PadState() {
  std::map<std::string, std::string> state;
  for (const std::string& line : vt::Lines(ReadPadStateFile())) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) state[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return state;
}

std::string PadLine(const std::map<std::string, std::string>& state, int line) {
  auto it = state.find(line == 0 ? "line0" : "line1");
  if (it == state.end() || it->second.size() < 2) return "<none>";
  return it->second.substr(1, it->second.size() - 2);  // without the bars
}

void PadObserver::Look() {
  auto state = PadState();
  if (state.empty()) return;
  std::string seen = PadLine(state, 0) + "|" + PadLine(state, 1) + " led=" + state["led"] + " mode=" + state["mode"];
  if (screens.empty() || screens.back() != seen) screens.push_back(seen);
}

size_t PadObserver::Find(size_t from, const std::string& prefix) const {
  for (size_t i = from; i < screens.size(); ++i)
    if (screens[i].rfind(prefix, 0) == 0) return i;
  return screens.size();
}

void PadObserver::LookAndEndOnceShown(const std::string& prefix, const char* tail, std::vector<DWORD>* ended) {
  Look();
  if (!ended->empty() || Find(0, prefix) >= screens.size()) return;
  *ended = vt::FindProcesses(tail);
  vt::KillProcesses(tail);
  screens.push_back("<helper ended>");
}

bool PadObserver::MovesOnAfter(const std::string& mark, const std::string& prefix) const {
  const size_t end = Find(0, mark);
  if (end == 0 || end >= screens.size()) return false;
  for (size_t later = Find(end + 1, prefix); later < screens.size(); later = Find(later + 1, prefix))
    if (screens[later] != screens[end - 1]) return true;
  return false;
}

void ChainTest::SetUp() {
  vt::KeepStandardHandlesPrivate();  // before anything can start the host program
  vt::KillProcesses(kHostTail);
  ASSERT_TRUE(vt::PlaceHostProgram("KHALAPI.dll")) << vt::Win64BinDirectory();
  ASSERT_TRUE(PlaceLayer("MediaPadLayer"));
}

void ChainTest::TearDown() {
  vt::KillProcesses(kHostTail);
  vt::RemoveVendorLibrary();
}

vt::ChildRun ChainTest::RunChild(const std::string& command_line, DWORD timeout_ms,
                                 const std::function<void()>& during) {
  return vt::RunChild(command_line, "", dir_.path() + "\\child_output.txt", timeout_ms, during);
}

}  // namespace pt
