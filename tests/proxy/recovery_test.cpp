// The real VornApx.dll, loaded here, against the real host program that it
// starts: a host that goes away is replaced, a missing program fails fast,
// the program is found beside the proxy, and it inherits none of our handles.
#include <process.h>

#include <cstdio>

#include "end_to_end_env.h"
#include "pad_protocol.h"
#include "proxy_exports.h"

namespace {

struct ControlHeader {
  int32_t words[6];
};

class Recovery : public ProxyEndToEnd {
 protected:
  void LoadProxy(const std::string& path) {
    HMODULE dll = LoadLibraryA(path.c_str());
    ASSERT_NE(dll, nullptr) << path;
    ASSERT_TRUE(proxy_.Load(dll));
  }
  int32_t First() {
    int32_t position = 0;
    return proxy_.first(&position);
  }
  // Enumerates the emulated pad: the host then knows its device.
  int32_t FindDevice() {
    int32_t position = 0;
    EXPECT_EQ(proxy_.first(&position), kPadOk);
    EXPECT_EQ(proxy_.next(&position), kPadOk);
    return position;
  }
  static DWORD OnlyHost() {
    const std::vector<DWORD> hosts = vt::FindProcesses(kHostTail);
    EXPECT_EQ(hosts.size(), 1u);
    return hosts.empty() ? 0 : hosts[0];
  }
  ProxyExports proxy_;
};

}  // namespace

TEST_F(Recovery, AHostEndedFromOutsideBetweenTwoCallsIsReplacedForTheNextCall) {
  Prepare("KHALAPI.dll");
  LoadProxy(ProxyPath());
  const int32_t device = FindDevice();
  const DWORD old_host = OnlyHost();
  ASSERT_EQ(vt::KillProcesses(kHostTail), 1);
  const DWORD start = GetTickCount();
  // A control call: the new host must have been given the device first.
  ControlHeader led = {{24, 1, 0, 0, 0, 0}};
  EXPECT_EQ(proxy_.control(device, kPadCmdLed, &led), kPadOk);
  printf("from the host's end to the next answered call: %lu ms\n", GetTickCount() - start);
  EXPECT_LT(GetTickCount() - start, 10000u);
  const DWORD new_host = OnlyHost();
  EXPECT_NE(new_host, old_host);
  EXPECT_NE(vt::ReadFileBytes("mediapad.state").find("led=1"), std::string::npos);
}

namespace {

struct HeldCall {
  const ProxyExports* proxy;
  int32_t device;
  int32_t result = -99;
  static unsigned __stdcall Run(void* self) {
    auto* call = static_cast<HeldCall*>(self);
    ControlHeader hold = {{24, 3000, 0, 0, 0, 0}};  // the pad takes 3 s over it
    call->result = call->proxy->control(call->device, kPadCmdHold, &hold);
    return 0;
  }
};

}  // namespace

TEST_F(Recovery, AHostEndedDuringAVendorCallIsReplacedAndTheCallAnswered) {
  Prepare("KHALAPI.dll");
  LoadProxy(ProxyPath());
  HeldCall call{&proxy_, FindDevice()};
  const DWORD start = GetTickCount();
  HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, HeldCall::Run, &call, 0, nullptr));
  ASSERT_NE(thread, nullptr);
  Sleep(500);  // the host is inside the vendor call now
  ASSERT_EQ(vt::KillProcesses(kHostTail), 1);
  ASSERT_EQ(WaitForSingleObject(thread, 30000), WAIT_OBJECT_0);
  CloseHandle(thread);
  // The new host was given the request again and held it for its 3 s.
  EXPECT_EQ(call.result, kPadOk);
  printf("a call whose host ended half a second into a 3 s vendor call returned after %lu ms\n",
         GetTickCount() - start);
  EXPECT_LT(GetTickCount() - start, 15000u);
  EXPECT_EQ(First(), kPadOk);
}

TEST_F(Recovery, WithoutTheProgramFileACallFailsAtOnceAndALaterOneStartsIt) {
  Prepare(nullptr);  // no host program, neither here nor beside the proxy
  ASSERT_TRUE(vt::InstallVendorLibrary(vt::Win64BinDirectory() + "KHALAPI.dll"));
  LoadProxy(ProxyPath());
  DWORD start = GetTickCount();
  int32_t position = 123;
  EXPECT_EQ(proxy_.first(&position), -1);
  EXPECT_EQ(position, 123);
  printf("a call without the host program failed after %lu ms\n", GetTickCount() - start);
  EXPECT_LT(GetTickCount() - start, 5000u) << "not the full time-out";
  start = GetTickCount();
  EXPECT_EQ(First(), -1);  // within the second: not tried again
  EXPECT_LT(GetTickCount() - start, 1000u);
  ASSERT_TRUE(vt::PlaceHostProgram("KHALAPI.dll"));
  Sleep(1100);
  EXPECT_EQ(First(), kPadOk);
  OnlyHost();
}

// The display host application is often started elsewhere (a scheduled task
// starts in the system folder); the proxy finds the program beside itself
// and starts it there.
TEST_F(Recovery, ACallerInAnotherFolderStartsTheHostBesideTheProxy) {
  Prepare(nullptr);
  ASSERT_TRUE(CreateDirectoryA("app", nullptr));
  const std::string app = dir_.path() + "\\app\\";
  ASSERT_TRUE(CopyFileA(ProxyPath().c_str(), (app + "VornApx.dll").c_str(), FALSE));
  ASSERT_TRUE(CopyFileA((vt::Win64BinDirectory() + "Vorn64BitInterface.exe").c_str(),
                        (app + "Vorn64BitInterface.exe").c_str(), FALSE));
  ASSERT_TRUE(vt::InstallVendorLibrary(vt::Win64BinDirectory() + "KHALAPI.dll"));
  LoadProxy(app + "VornApx.dll");
  EXPECT_EQ(First(), kPadOk);
  EXPECT_EQ(vt::FindProcesses((app + "Vorn64BitInterface.exe").c_str()).size(), 1u);
  EXPECT_TRUE(vt::FileExists(app + "Vorn64BitInterface.log")) << "the host runs in the proxy's folder";
  EXPECT_FALSE(vt::FileExists("Vorn64BitInterface.log"));
}

TEST_F(Recovery, TheHostKeepsNoneOfItsCallersHandles) {
  Prepare("KHALAPI.dll");
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  HANDLE held = CreateFileA("held.txt", GENERIC_WRITE, 0, &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  LoadProxy(ProxyPath());
  EXPECT_EQ(First(), kPadOk);  // the launcher starts the host now
  CloseHandle(held);
  ASSERT_EQ(vt::FindProcesses(kHostTail).size(), 1u);
  HANDLE exclusive =
      CreateFileA("held.txt", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(exclusive, INVALID_HANDLE_VALUE) << "error " << GetLastError();
  if (exclusive != INVALID_HANDLE_VALUE) CloseHandle(exclusive);
}
