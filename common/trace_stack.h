#pragma once
// Names of the traced operations that are running, innermost last. Nothing
// in the system reads it back: it is kept for a debugger that looks at a
// hung or crashed host or proxy (g_trace). TracePush and TracePop are the
// system's own names.

#include <cstdint>

constexpr int kTraceFrames = 256;
constexpr int kTraceFrameSize = 256;

struct TraceStack {
  char frames[kTraceFrames][kTraceFrameSize];
  int32_t depth;
};

extern TraceStack g_trace;

void TracePush(const char* name);
void TracePop();

// Pushes on construction and pops on every way out of the scope.
class TraceScope {
 public:
  explicit TraceScope(const char* name) { TracePush(name); }
  ~TraceScope() { TracePop(); }
  TraceScope(const TraceScope&) = delete;
  TraceScope& operator=(const TraceScope&) = delete;
};
