#include "proxy_fixture.h"

#include "caller_turn.h"
#include "log_lines.h"

FakeHost::Serve FakeHost::serve;
FakeHost::BeforePoll FakeHost::before_poll;
FakeHost::BeforePoll FakeHost::before_long_sleep;
std::vector<RequestBlock> FakeHost::served;
int FakeHost::polls;
int FakeHost::signalled_requests;

namespace {
int32_t g_request_looked_at;  // the request whose event was looked at last
}
std::vector<uint32_t> FakeHost::long_sleeps;

void FakeHost::Sleep(uint32_t ms) {
  if (FakeSystem::current) FakeSystem::current->now += ms;
  if (ms != 1) {
    long_sleeps.push_back(ms);
    if (before_long_sleep) before_long_sleep(static_cast<int>(long_sleeps.size()));
    return;
  }
  if (before_poll) before_poll(polls);
  ++polls;
  // A section whose lock another process holds is not read in this poll.
  RequestBlock block;
  if (!CommsRecv(0, &block, kBlockSize, Deadline::In(0))) return;
  if (block.opcode == 0 || block.done != 0) return;
  // Once per request: a look at the event is a round trip to the system.
  HANDLE request = g_channel[0].events[kRequestEvent];
  if (request && block.request_id != g_request_looked_at) {
    g_request_looked_at = block.request_id;
    if (WaitForSingleObject(request, 0) == WAIT_OBJECT_0) ++signalled_requests;
  }
  if (!serve) return;
  served.push_back(block);
  serve(block);
  block.done = 1;
  if (CommsSendReply(0, block)) CommsSignal(0, kReplyEvent);
}

bool FakeHost::Wait(HANDLE event, uint32_t ms) {
  const size_t answered = served.size();
  Sleep(ms);
  if (served.size() > answered) return event != nullptr;
  // Any other event than the reply's (a turn's) ends the wait when it was
  // signalled meanwhile.
  return event && event != g_channel[0].events[kReplyEvent] && WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

void FakeHost::Reset() {
  serve = nullptr;
  before_poll = nullptr;
  before_long_sleep = nullptr;
  served.clear();
  polls = 0;
  signalled_requests = 0;
  g_request_looked_at = 0;
  long_sleeps.clear();
}

RequestBlock FakeHost::Section() {
  RequestBlock block;
  CommsRecv(0, &block, kBlockSize);
  return block;
}

void FakeHost::PutInSection(const RequestBlock& block) { CommsSend(0, &block, kBlockSize); }

void ProxyTest::SetUp() {
  system_.processes = {{4242, "C:\\vorn\\Vorn64BitInterface.exe"}};
  system_.Install();
  FakeHost::Reset();
  SetSleepFunction(FakeHost::Sleep);
  SetWaitFunction(FakeHost::Wait);
  SetVirtualClock(true);
  // A section of the test's own, open before the first call.
  UseProxySectionName(vt::UniqueName("VornProxyTest").c_str());
  CommsStart(0, kMapAllAccess, ProxySectionName(), kSectionSize);
  LogSetLevel(1);
}

void ProxyTest::TearDown() {
  SetVirtualClock(false);
  SetSleepFunction(nullptr);
  SetWaitFunction(nullptr);
  FakeSystem::Uninstall();
}

std::vector<std::string> ProxyTest::LogLines() const {
  return vt::LibraryLogLines(std::string("logs\\") + ModuleName() + ".log");
}
