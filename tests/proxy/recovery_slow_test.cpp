// The real idle exit of a host that the proxy started, then a call that a
// new host answers: slow on purpose.
#include <cstdio>

#include "end_to_end_env.h"
#include "proxy_exports.h"

TEST_F(ProxyEndToEnd, AfterTheHostsIdleExitTheNextCallIsAnsweredByANewHost) {
  Prepare("KHALAPI.dll");
  HMODULE dll = LoadLibraryA(ProxyPath().c_str());
  ASSERT_NE(dll, nullptr);
  ProxyExports proxy;
  ASSERT_TRUE(proxy.Load(dll));
  int32_t position = 0;
  ASSERT_EQ(proxy.first(&position), 0);
  const std::vector<DWORD> first_host = vt::FindProcesses(kHostTail);
  ASSERT_EQ(first_host.size(), 1u);
  const DWORD idle_from = GetTickCount();
  ASSERT_TRUE(vt::WaitNoProcess(kHostTail, 300000)) << "the host did not end by itself";
  const DWORD ended = GetTickCount();
  const std::string log = vt::ReadFileBytes("Vorn64BitInterface.log");
  EXPECT_NE(log.find(" Got Bored"), std::string::npos);
  ASSERT_EQ(proxy.first(&position), 0);
  printf("idle exit after %lu ms; the next call was answered %lu ms after it\n", ended - idle_from,
         GetTickCount() - ended);
  const std::vector<DWORD> second_host = vt::FindProcesses(kHostTail);
  ASSERT_EQ(second_host.size(), 1u);
  EXPECT_NE(second_host, first_host);
}
