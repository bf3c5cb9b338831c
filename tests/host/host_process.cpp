#include "host_process.h"

#include <cstring>

#include "channel.h"
#include "host_harness.h"

namespace {
int32_t g_next_request = 100;
}

HostProcess::HostProcess(const char* standin) {
  // A host left over from another test would keep this one from serving.
  vt::KillProcesses(vt::kHostTail);
  vt::PlaceHostProgram(standin);
  // The test plays a proxy that only polls: it never signals the host and
  // never waits on the host's signal.
  CommsDisableSignals();
  CommsStart(kRequestSlot, kMapAllAccess, kSectionName, kSectionSize);
  RequestBlock empty = {};
  CommsSend(kRequestSlot, &empty, kBlockSize);
  child_ = vt::StartChild("Vorn64BitInterface.exe");
}

HostProcess::~HostProcess() {
  if (child_.process) vt::WaitChild(child_, 0);
  vt::RemoveVendorLibrary();
}

bool HostProcess::Call(RequestBlock& block, unsigned timeout_ms) {
  block.request_id = ++g_next_request;
  CommsSend(kRequestSlot, &block, kBlockSize);
  RequestBlock seen;
  for (DWORD start = GetTickCount(); GetTickCount() - start < timeout_ms; Sleep(1)) {
    CommsRecv(kRequestSlot, &seen, kBlockSize);
    if (seen.done && seen.request_id == block.request_id) {
      block = seen;
      return true;
    }
  }
  return false;
}

bool HostProcess::WaitForLogLine(const std::string& text, unsigned timeout_ms) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < timeout_ms; Sleep(5)) {
    for (const std::string& line : LogLines())
      if (line.size() >= text.size() && line.compare(line.size() - text.size(), text.size(), text) == 0) return true;
  }
  return false;
}

int HostProcess::WaitForExit(unsigned timeout_ms) { return vt::WaitChild(child_, timeout_ms); }

RequestBlock NewRequest(int32_t code, const char* name) {
  RequestBlock b = {};
  b.opcode = b.pending_opcode = code;
  strncpy(b.function_name, name, sizeof b.function_name - 1);
  return b;
}
