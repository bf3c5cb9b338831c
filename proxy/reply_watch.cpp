#include "reply_watch.h"

#include <windows.h>

#include "channel.h"

namespace {

struct ReplyWatch {
  bool host_slow;     // the last answer took longer than a watch
  uint32_t watch_us;  // 0: kReplyWatchUs
  DWORD processors;   // 0 until looked up
};
ReplyWatch g_reply_watch;

uint32_t WatchUs() { return g_reply_watch.watch_us ? g_reply_watch.watch_us : kReplyWatchUs; }

bool WatchFor(int32_t slot) {
  if (g_reply_watch.host_slow || slot < 0 || slot >= kChannelSlots) return false;
  const ChannelSlot& s = g_channel[slot];
  if (!s.events[kRequestEvent] || !s.events[kReplyEvent]) return false;
  if (g_reply_watch.processors == 0) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    g_reply_watch.processors = info.dwNumberOfProcessors;
  }
  return g_reply_watch.processors > 1;
}

}  // namespace

void SignalAndAwaitAnswer(int32_t slot, const Deadline& deadline) {
  if (WatchFor(slot)) {
    CommsSignal(slot, kRequestEvent);
    const int64_t left_us = deadline.LeftUs();
    const uint32_t watch_us = left_us < WatchUs() ? static_cast<uint32_t>(left_us) : WatchUs();
    if (CommsWatchForAnswer(slot, watch_us)) return;
    g_reply_watch.host_slow = true;
    CommsWait(slot, kReplyEvent, deadline.LeftMs(1));
    return;
  }
  const int64_t signalled_at = VornRealNowUs();
  const bool answered = CommsSignalAndWait(slot, kRequestEvent, kReplyEvent, deadline.LeftMs(1));
  g_reply_watch.host_slow = !answered || VornRealNowUs() - signalled_at > WatchUs();
}

void SetReplyWatchUs(uint32_t microseconds) { g_reply_watch.watch_us = microseconds; }
