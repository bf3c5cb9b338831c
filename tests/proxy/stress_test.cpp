// Many thousands of round trips with random arguments through the real
// VornApx.dll and the real host program to the echo stand-in; each answer
// is worked out here from the echo rules and checked byte for byte, so a
// torn, lost or misattributed reply cannot pass.
#include <cstdio>
#include <cstring>
#include <random>

#include "echo_rules.h"
#include "end_to_end_env.h"
#include "proxy_exports.h"

namespace {

using Proxy = ProxyExports;

// Returns an empty string when the round trip came back right.
std::string PositionTrip(const Proxy& proxy, std::mt19937& rng, bool first) {
  const uint32_t sent = rng();
  int32_t position = static_cast<int32_t>(sent);
  const int32_t result = first ? proxy.first(&position) : proxy.next(&position);
  const uint64_t expected = EchoPosition(sent, first);
  if (static_cast<uint32_t>(position) == static_cast<uint32_t>(expected) && result == EchoPositionResult(sent, first))
    return "";
  return "position " + std::to_string(sent);
}

std::string ControlTrip(const Proxy& proxy, std::mt19937& rng) {
  struct {
    int32_t header[6];
    uint8_t data[144];
    uint8_t guard[8];
  } record;
  for (int32_t& w : record.header) w = static_cast<int32_t>(rng());
  for (uint8_t& b : record.data) b = static_cast<uint8_t>(rng());
  memset(record.guard, 0x5A, sizeof record.guard);
  // Mostly a header with data; now and then a bare header (never a first
  // word of 32, which the vendor would take for a 64-bit record).
  const bool with_data = rng() % 4 != 0;
  record.header[0] = with_data ? 24 : static_cast<int32_t>(rng() % 24);
  const int32_t length = static_cast<int32_t>(rng() % 145);
  if (with_data) record.header[3] = length;
  const int32_t code = static_cast<int32_t>(rng());
  const auto before = record;
  const int32_t result = proxy.control(static_cast<int32_t>(rng()), code, &record);
  int32_t expected;
  if (with_data) {
    const int32_t words[4] = {32, record.header[1], record.header[2], length};
    expected = EchoControlResult(code, words, record.data, length);
  } else {
    expected = EchoControlResult(code, record.header, nullptr, 0);
  }
  if (result != expected) return "control result";
  if (memcmp(&record, &before, sizeof record) != 0) return "control record changed";
  return "";
}

std::string InfoTrip(const Proxy& proxy, std::mt19937& rng) {
  struct {
    int32_t count;
    uint8_t bytes[164];
    uint8_t guard[8];
  } record;
  const int32_t count = static_cast<int32_t>(rng() % 165);
  record.count = count;
  for (uint8_t& b : record.bytes) b = static_cast<uint8_t>(rng());
  memset(record.guard, 0x5A, sizeof record.guard);
  const auto before = record;
  const int32_t result = proxy.info(static_cast<int32_t>(rng()), &record);
  // The vendor sees 64 bytes: the caller's, then the zeros behind them.
  int32_t sum = 0;
  for (int i = 0; i < 64 && i < count; ++i) sum += before.bytes[i];
  if (result != sum) return "info result";
  if (record.count != count) return "info count";
  for (int i = 0; i < 164; ++i) {
    const uint8_t want = i < 64 && i < count ? EchoInfoByte(i, before.bytes[i]) : before.bytes[i];
    if (record.bytes[i] != want) return "info byte " + std::to_string(i);
  }
  if (memcmp(record.guard, before.guard, sizeof record.guard) != 0) return "info guard";
  return "";
}

// Runs `trips` random round trips; "" when every one came back exact.
std::string RandomRoundTrips(const Proxy& proxy, int trips, unsigned seed) {
  std::mt19937 rng(seed);
  for (int trip = 0; trip < trips; ++trip) {
    std::string fault;
    switch (rng() % 4) {
      case 0: fault = PositionTrip(proxy, rng, true); break;
      case 1: fault = PositionTrip(proxy, rng, false); break;
      case 2: fault = ControlTrip(proxy, rng); break;
      default: fault = InfoTrip(proxy, rng); break;
    }
    if (!fault.empty()) return "round trip " + std::to_string(trip) + ": " + fault;
  }
  return "";
}

}  // namespace

class Stress : public ProxyEndToEnd {
 protected:
  // The host program of the test's directory, started by the test (the
  // launcher then finds it running), and the real proxy loaded here.
  void StartHostAndLoadProxy() {
    vt::ChildProcess host = vt::StartChild("Vorn64BitInterface.exe", dir_.path());
    ASSERT_NE(host.process, nullptr);
    CloseHandle(host.process);
    HMODULE dll = LoadLibraryA(ProxyPath().c_str());
    ASSERT_NE(dll, nullptr);
    ASSERT_TRUE(proxy_.Load(dll));
  }
  void Run(int trips) {
    const unsigned seed = GetTickCount();
    const DWORD start = GetTickCount();
    EXPECT_EQ(RandomRoundTrips(proxy_, trips, seed), "") << "seed " << seed;
    printf("%d round trips checked in %lu ms (seed %u)\n", trips, GetTickCount() - start, seed);
    EXPECT_EQ(vt::FindProcesses(kHostTail).size(), 1u) << "the launcher found the running host";
  }
  Proxy proxy_;
};

// On the signalled path: the proxy and the host wake each other.
TEST_F(Stress, AHundredThousandRandomRoundTripsComeBackExact) {
  Prepare("KHALAPI_echo.dll");
  StartHostAndLoadProxy();
  Run(100000);
}

// The host does only what a host without the events does: it never
// signals and never waits on the proxy's signal. Every call is answered.
TEST_F(Stress, AHostThatOnlyPollsAnswersEveryCall) {
  Prepare("KHALAPI_echo.dll");
  ASSERT_TRUE(CopyFileA((vt::Win64BinDirectory() + "vorn_bench_host.exe").c_str(), "Vorn64BitInterface.exe", FALSE));
  SetEnvironmentVariableA("VORN_BENCH_SIGNALS", "off");  // inherited by the host
  StartHostAndLoadProxy();
  SetEnvironmentVariableA("VORN_BENCH_SIGNALS", nullptr);
  Run(2000);
}
